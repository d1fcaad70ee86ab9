// MDFLIB allocation, status texts, error reporting and the string helpers.
#include "mdfint.h"

#include <cstdio>
#include <cstdlib>

namespace {

struct status_text {
    std::int16_t code;
    const char *text;
};

// Every status code with a text; codes not listed have none.
constexpr status_text status_table[] = {
    {0, ""},
    {-1000, "ZUV-udaravo not initialized"},
    {-1001, "bad filehandle"},
    {-1002, "bad grouphandle"},
    {-1003, "bad channelhandle"},
    {-1004, "illegal group open mode"},
    {-1005, "illegal seek mode"},
    {-1006, "illegal channel type"},
    {-1007, "illegal nummer of channel bits"},
    {-1008, "illegal channel value type"},
    {-1009, "simulanous groups creates are not allowed"},
    {-1010, "illegal argument"},
    {-2000, "could not write file"},
    {-2001, "could not read file"},
    {-2002, "could not locate pos in file"},
    {-2004, "file format"},
    {-2007, "out of memory"},
    {-2008, "unknown block"},
    {-2009, "unknown link"},
    {-2010, "node not found"},
    {-2011, "fatal error"},
    {-2012, "incompatible float format, no modify"},
    {-2013, "unfinalized MDF file"},
    {-2014, "MDF version not supported"},
    {1000, "could not open file"},
    {1001, "group not found"},
    {1002, "channel not found"},
    {1003, "time channel does not exist"},
    {1004, "no formula found"},
    {1005, "unknown formula type"},
    {1006, "triggerinfo not found"},
    {1008, "timechannel not found"},
    {1011, "illegal formula type, not a table"},
};

constexpr std::size_t message_size = 132; // the message buffer of a report
constexpr std::size_t guard_offset = 8;   // the guard word stands in the 4 bytes before p;
                                          // 8 keeps records aligned for pointers and doubles

// The source module's file name, without the build machine's directories.
const char *base_name(const char *module) {
    const char *name = module;
    for (const char *p = module; *p != '\0'; ++p)
        if (*p == '/' || *p == '\\') name = p + 1;
    return name;
}

// Upper case of the letters a to z only, whatever the locale.
int ascii_upper(int c) {
    return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c;
}

} // namespace

const char *mdflib_error_name(std::int16_t code) {
    for (const status_text &s : status_table)
        if (s.code == code) return s.text;
    return nullptr;
}

std::int16_t mdflib_last_error() {
    return mdflib_state.sticky_error;
}

const char *mdflib_last_error_text() {
    return mdflib_state.sticky_error != 0 ? mdflib_state.sticky_text : "";
}

void mdflib_print_error(const char *text) {
    std::printf("[MDFLIB-ERROR] %s\n", text);
    std::fflush(stdout);
}

std::int16_t mdflib_report_error(std::int16_t code, const char *detail) {
    if (detail == nullptr) detail = "";
    char message[message_size];
    const char *name = mdflib_error_name(code);
    int n = name != nullptr ? std::snprintf(message, sizeof message, "%s %s\n", name, detail)
                            : std::snprintf(message, sizeof message, "%s \n", detail);
    if (n >= static_cast<int>(sizeof message)) message[sizeof message - 2] = '\n'; // cut, keep LF
    if (code < 0 && mdflib_state.sticky_error == 0) {
        mdflib_state.sticky_error = code;
        mdflib_strlcpy(mdflib_state.sticky_text, message, sizeof mdflib_state.sticky_text - 1);
    }
    mdflib_print_error(message);
    return code;
}

void mdflib_fail(std::int16_t code, const char *detail) {
    mdflib_report_error(code, detail);
    throw mdf_fail{code};
}

void mdflib_corrupt_at(const char *module, int line, const char *block, std::uint64_t position,
                       const char *what) {
    char detail[112];
    if (block != nullptr)
        std::snprintf(detail, sizeof detail, "(%s block at %llu: %s)", block,
                      static_cast<unsigned long long>(position), what);
    else
        std::snprintf(detail, sizeof detail, "(at %llu: %s)",
                      static_cast<unsigned long long>(position), what);
    const bool first = mdflib_state.sticky_error == 0;
    mdflib_report_error(MDF_ERR_FORMAT, detail);
    if (first)
        std::snprintf(mdflib_state.origin, sizeof mdflib_state.origin, "%s:%d", base_name(module),
                      line);
    throw mdf_fail{MDF_ERR_FORMAT};
}

void mdflib_corrupt_image_at(const char *module, int line, const std::uint8_t *image,
                             std::uint64_t position, const char *what) {
    const char type[3] = {static_cast<char>(image[0]), static_cast<char>(image[1]), '\0'};
    mdflib_corrupt_at(module, line, type, position, what);
}

const char *mdflib_last_error_origin() {
    return mdflib_state.sticky_error != 0 ? mdflib_state.origin : "";
}

void mdflib_raise(std::int16_t code) {
    throw mdf_fail{code};
}

void mdflib_internal_error(const char *module, int line) {
    const char *name = base_name(module);
    char text[96];
    std::snprintf(text, sizeof text, "Internal Error %u-%s-%d\n",
                  static_cast<unsigned>(mdflib_state.level), name, line);
    mdflib_report_error(MDF_ERR_FATAL, text);
    mdflib_state.status = MDF_ERR_FATAL;
    std::fflush(nullptr);
#ifdef TRAXCON_FUZZ
    std::abort();
#else
    std::exit(1);
#endif
}

void mdflib_require(bool valid, const char *what) {
    if (valid) return;
    char detail[64];
    std::snprintf(detail, sizeof detail, "(%s)", what);
    mdflib_fail(MDF_ERR_ARGUMENT, detail);
}

std::uint32_t mdflib_handle_magic(const void *handle) {
    std::uint32_t magic = 0;
    if (handle != nullptr) std::memcpy(&magic, handle, sizeof magic);
    return magic;
}

void *mdflib_alloc(std::size_t size) {
    auto *base = static_cast<std::uint8_t *>(std::calloc(1, size + guard_offset));
    if (base == nullptr) return nullptr;
    const std::uint32_t guard = MDF_ALLOC_GUARD;
    std::memcpy(base + guard_offset - 4, &guard, 4);
    return base + guard_offset;
}

void *mdflib_alloc_or_fail(std::size_t size) {
    void *p = mdflib_alloc(size);
    if (p == nullptr) mdflib_fail(MDF_ERR_MEMORY);
    return p;
}

void mdflib_free(void *p) {
    if (p == nullptr) return;
    auto *bytes = static_cast<std::uint8_t *>(p);
    std::uint32_t guard;
    std::memcpy(&guard, bytes - 4, 4);
    if (guard != MDF_ALLOC_GUARD) MDF_INTERNAL_ERROR();
    std::memset(bytes - 4, 0, 4); // a second release is caught as a broken guard
    std::free(bytes - guard_offset);
}

void mdflib_strncpy(char *dst, const char *src, std::uint16_t n) {
    for (std::uint16_t i = 0; i < n; ++i) {
        dst[i] = src[i];
        if (src[i] == '\0') break;
    }
}

void mdflib_strlcpy(char *dst, const char *src, std::uint16_t n) {
    std::uint16_t i = 0;
    for (; i < n && src[i] != '\0'; ++i) dst[i] = src[i];
    dst[i] = '\0';
}

int mdflib_strncmp(const char *a, const char *b, std::uint16_t n) {
    return std::strncmp(a, b, n);
}

int mdflib_strnicmp(const char *a, const char *b, std::uint16_t n) {
    for (std::uint16_t i = 0; i < n; ++i) {
        int ca = ascii_upper(static_cast<unsigned char>(a[i]));
        int cb = ascii_upper(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca - cb;
        if (ca == 0) return 0;
    }
    return 0;
}
