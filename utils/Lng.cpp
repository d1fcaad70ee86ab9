// Language texts: module text tables, language selection and the binary text file.
#include "Lng.h"

#include "Msg.h"

#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <new>
#include <utility>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <io.h>
#include <windows.h>
#endif

// The translated texts of one module, by the address of the stored text and the output encoding.
// Node-based, so that a text once made never moves.
struct lng_cache {
    std::map<std::pair<std::uintptr_t, int>, std::string> texts;
    lng_cache *next; // every cache made, so that all stay reachable to the end of the run
};

namespace {

// The module's own texts, Windows-1252 code page; German column first.
lng_row lng_rows[] = {
    {"LNG_INFILE_FILEOPENERR",
     {"Textdatei \"%s\" konnte nicht ge\366ffnet werden\n",
      "text file \"%s\" could not be opened\n"}},
    {"LNG_TEXTNUM_READERR",
     {"Anzahl der Texte konnte nicht von der Datei \"%s\" eingelesen werden\n",
      "number of texts could not be read from file \"%s\"\n"}},
    {"LNG_LANGNUM_READERR",
     {"Anzahl der Sprachen konnte nicht von der Datei \"%s\" eingelesen werden\n",
      "number of languages could not be read from file \"%s\"\n"}},
    {"LNG_TEXTS_SPACEERR",
     {"Kein Speicherplatz f\374r Texte verf\374gbar\n", "no space for text array available\n"}},
    {"LNG_TEXTIDLEN_READERR",
     {"L\344nge des %ld. Textschl\374ssels konnte nicht von der Datei \"%s\" eingelesen werden\n",
      "length of %ld. text identifier could not be read from file \"%s\"\n"}},
    {"LNG_TEXTID_SPACEERR",
     {"kein Speicherplatz f\374r %ld. Textschl\374ssel verf\374gbar\n",
      "no space for %ld. text identifier available\n"}},
    {"LNG_TEXTID_READERR",
     {"%ld. Textschl\374ssel konnte nicht von der Datei \"%s\" eingelesen werden\n",
      "%ld. text identifier could not be read from file \"%s\"\n"}},
    {"LNG_TEXTID_FSEEKERR",
     {"Fehler beim \334berlesen des %ld. Textschl\374ssels in der Datei \"%s\"\n",
      "fseek() error on skipping %ld. text identifier in file \"%s\"\n"}},
    {"LNG_STRLEN_READERR",
     {"%ld. Text: L\344nge der %ld. Nachricht konnte nicht von der Datei \"%s\" eingelesen "
      "werden\n",
      "%ld. text: length of %ld. string could not be read from file \"%s\"\n"}},
    {"LNG_STRING_SPACEERR",
     {"%ld. Text: Kein Speicherplatz f\374r Nachricht verf\374gbar\n",
      "%ld. text: no space for string available\n"}},
    {"LNG_STRING_READERR",
     {"%ld. Text: %ld. Nachricht konnte nicht von der Datei \"%s\" eingelesen werden\n",
      "%ld. text: %ld. string could not be read from file \"%s\"\n"}},
    {"LNG_STRING_FSEEKERR",
     {"%ld. Text: Fehler beim \334berlesen der %ld. Nachricht in der Datei \"%s\"\n",
      "%ld. text: fseek() error on skipping %ld. string in file \"%s\"\n"}},
    {"LNG_INFILE_SIZEERR", {"Datei \"%s\" ist zu lang\n", "file \"%s\" longer than expected\n"}},
    {"LNG_OUTFILE_FILEOPENERR",
     {"Datei \"%s\" f\374r Texte konnte nicht ge\366ffnet werden\n",
      "text file \"%s\" could not be opened\n"}},
    {"LNG_TEXTNUM_WRITEERR",
     {"Anzahl der Texte konnte nicht auf Datei \"%s\" geschrieben werden\n",
      "number of texts could not be written to file \"%s\"\n"}},
    {"LNG_LANGNUM_WRITEERR",
     {"Anzahl der Sprachen konnte nicht auf Datei \"%s\" geschrieben werden\n",
      "number of languages could not be written to file \"%s\"\n"}},
    {"LNG_TEXTIDLEN_WRITEERR",
     {"L\344nge des %ld. Textschl\374ssels konnte nicht auf Datei \"%s\" geschrieben werden\n",
      "length of %ld. text identifier could not be written to file \"%s\"\n"}},
    {"LNG_TEXTID_WRITEERR",
     {"%ld. Textschl\374ssel \"%s\" konnte nicht auf Datei \"%s\" geschrieben werden\n",
      "%ld. text identifier \"%s\" could not be written to file \"%s\"\n"}},
    {"LNG_STRLEN_WRITEERR",
     {"%ld. Text: L\344nge der %ld. Nachricht konnte nicht auf Datei \"%s\" geschrieben "
      "werden\n",
      "%ld. text: length of %ld. string could not be written to file \"%s\"\n"}},
    {"LNG_STRING_WRITEERR",
     {"%ld. Text: %ld. Nachricht konnte nicht auf Datei \"%s\" geschrieben werden\n",
      "%ld. text: %ld. string could not be written to file \"%s\"\n"}},
    {"LNG_TEXTID_USEERR",
     {"Textschl\374ssel \"%s\" %ld-fach benutzt\n", "text identifier \"%s\" %ld times used\n"}},
};

lng_module lng_texts = {lng_rows, std::size(lng_rows), 1, {LNG_GERMAN, LNG_ENGLISH}, 0, LNG_CP1252};

// State of the loaded text table: counts of the last file read and the language loaded.
struct loaded_state {
    std::uint32_t texts = 0;
    std::uint32_t languages = 0;
    unsigned language = LNG_NONE;
};
loaded_state loaded;

const char *own_text(const char *key) {
    return lng__module_text(&lng_texts, key);
}

const char *row_key(const void *row) {
    const char *key;
    std::memcpy(&key, row, sizeof key);
    return key;
}

int compare_rows(const void *a, const void *b) {
    return std::strcmp(row_key(a), row_key(b));
}

int compare_key_row(const void *key, const void *row) {
    return std::strcmp(static_cast<const char *>(key), row_key(row));
}

int compare_key_text(const void *key, const void *row) {
    return std::strcmp(static_cast<const char *>(key), static_cast<const lng_text *>(row)->key);
}

// Fatal message of this module with its own text of `key` as format.
[[noreturn]] void lng_fatal(const char *location, const char *key, ...) {
    va_list args;
    va_start(args, key);
    msg_print_v(MSG_FATERR, location, key, own_text(key), args);
    va_end(args);
    std::exit(1);
}

// ---- writing ----

constexpr const char *CREATE_LOC = "lng__create_file()";

// Writes `size` bytes and pushes them to the file, so that a failure shows at the item that
// caused it.
bool write_bytes(std::FILE *file, const void *data, std::size_t size) {
    return std::fwrite(data, 1, size, file) == size && std::fflush(file) == 0;
}

bool write_u32(std::FILE *file, std::uint32_t value) {
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
        static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
    return write_bytes(file, bytes, sizeof bytes);
}

// ---- reading ----

constexpr const char *SET_LOC = "lng__set_language()";

// Sequential reader that knows how many bytes of the file are left, so that no count or length
// read from a damaged file leads to an allocation or a read beyond its end.
struct reader {
    std::FILE *file;
    std::uint64_t left;

    bool read(void *data, std::size_t size) {
        if (size > left || std::fread(data, 1, size, file) != size) return false;
        left -= size;
        return true;
    }
    bool read_u32(std::uint32_t &value) {
        unsigned char bytes[4];
        if (!read(bytes, sizeof bytes)) return false;
        value = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
                static_cast<std::uint32_t>(bytes[2]) << 16 |
                static_cast<std::uint32_t>(bytes[3]) << 24;
        return true;
    }
    bool skip(std::uint32_t size) {
        if (size > left || std::fseek(file, static_cast<long>(size), SEEK_CUR) != 0) return false;
        left -= size;
        return true;
    }
    // Reads `size` bytes and compares them with `expected` (of that size) without allocating.
    bool read_equal(const char *expected, std::uint32_t size, bool &equal) {
        char chunk[256];
        equal = true;
        while (size > 0) {
            const std::size_t part = size < sizeof chunk ? size : sizeof chunk;
            if (!read(chunk, part)) return false;
            if (std::memcmp(chunk, expected, part) != 0) equal = false;
            expected += part;
            size -= static_cast<std::uint32_t>(part);
        }
        return true;
    }
};

// Size of the open file from its current position (the start) to its end.
bool file_size(std::FILE *file, std::uint64_t &size) {
    if (std::fseek(file, 0, SEEK_END) != 0) return false;
    const long end = std::ftell(file);
    if (end < 0 || std::fseek(file, 0, SEEK_SET) != 0) return false;
    size = static_cast<std::uint64_t>(end);
    return true;
}

// ---- encodings ----

// Unicode code points of the bytes 0x80 to 0xFF of code page 850.
constexpr std::uint16_t CP850_HIGH[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, // 0x80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5, // 0x88
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, // 0x90
    0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192, // 0x98
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA, // 0xA0
    0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, // 0xA8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0, // 0xB0
    0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510, // 0xB8
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3, // 0xC0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4, // 0xC8
    0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE, // 0xD0
    0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580, // 0xD8
    0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE, // 0xE0
    0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4, // 0xE8
    0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8, // 0xF0
    0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0, // 0xF8
};

// Unicode code points of the bytes 0x80 to 0x9F of Windows-1252 (0xA0 to 0xFF are U+00A0 to
// U+00FF); its five undefined bytes stand for the control characters of the same number.
constexpr std::uint16_t CP1252_C1[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, // 0x98
};

bool is_code_page(int code_page) {
    return code_page == LNG_CP850 || code_page == LNG_CP1252;
}

bool is_output_encoding(int encoding) {
    return encoding == LNG_CP_AS_STORED || is_code_page(encoding) || encoding == LNG_CP_UTF8;
}

// The output encoding in force; texts as stored until a selection.
int output_encoding = LNG_CP_AS_STORED;

// Head of the list of every module cache made. The caches are never released: the texts in them
// are handed out for the whole run, also to modules that ended before it (a test's table).
lng_cache *all_caches = nullptr;

void append_utf8(std::string &out, unsigned long code_point) {
    if (code_point < 0x80) {
        out += static_cast<char>(code_point);
    } else if (code_point < 0x800) {
        out += static_cast<char>(0xC0 | (code_point >> 6));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    } else {
        // The code pages reach no further than the Basic Multilingual Plane.
        out += static_cast<char>(0xE0 | (code_point >> 12));
        out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    }
}

// The byte of `code_point` in code page `code_page`, '?' where it has none.
char code_page_byte(int code_page, unsigned long code_point) {
    if (code_point < 0x80) return static_cast<char>(code_point);
    for (unsigned byte = 0x80; byte <= 0xFF; ++byte)
        if (lng__code_point(code_page, static_cast<unsigned char>(byte)) == code_point)
            return static_cast<char>(byte);
    return '?';
}

bool is_ascii(const char *text) {
    for (; *text != '\0'; ++text)
        if (static_cast<unsigned char>(*text) >= 0x80) return false;
    return true;
}

// `text` of `module` in the output encoding: as stored where it needs no translation, else from
// the module's cache, translated at its first lookup. Without memory for a translation the text
// is given as stored: a message is never lost for it.
const char *output_text(lng_module *module, const char *text) {
    const int encoding = output_encoding;
    if (encoding == LNG_CP_AS_STORED || encoding == module->code_page ||
        !is_code_page(module->code_page) || is_ascii(text))
        return text;
    try {
        if (module->cache == nullptr) {
            module->cache = new lng_cache{{}, all_caches};
            all_caches = module->cache;
        }
        auto &texts = module->cache->texts;
        const auto key = std::make_pair(reinterpret_cast<std::uintptr_t>(text), encoding);
        auto found = texts.find(key);
        if (found == texts.end())
            found = texts.emplace(key, lng__translate(text, module->code_page, encoding)).first;
        return found->second.c_str();
    } catch (const std::bad_alloc &) {
        return text;
    }
}

} // namespace

int lng__locale_encoding(const char *name) {
    if (name == nullptr) return LNG_CP_AS_STORED;
    std::string lower;
    for (const char *c = name; *c != '\0'; ++c)
        lower += *c >= 'A' && *c <= 'Z' ? static_cast<char>(*c - 'A' + 'a') : *c;
    const bool utf8 =
        lower.find("utf-8") != std::string::npos || lower.find("utf8") != std::string::npos;
    return utf8 ? LNG_CP_UTF8 : LNG_CP_AS_STORED;
}

int lng__console_encoding(unsigned code_page) {
    switch (code_page) {
    case 65001: return LNG_CP_UTF8;
    case 850: return LNG_CP850;
    case 1252: return LNG_CP1252;
    default: return LNG_CP_AS_STORED;
    }
}

int lng__select_output_encoding() {
#ifdef _WIN32
    // The one place that asks Windows: the code page the console shows its output in.
    const int encoding = _isatty(_fileno(stderr)) != 0 ? lng__console_encoding(GetConsoleOutputCP())
                                                       : LNG_CP_AS_STORED;
#else
    const char *current = std::setlocale(LC_CTYPE, nullptr);
    const std::string previous = current != nullptr ? current : "C";
    const int encoding = lng__locale_encoding(std::setlocale(LC_CTYPE, ""));
    std::setlocale(LC_CTYPE, previous.c_str());
#endif
    lng__set_output_encoding(encoding);
    return encoding;
}

void lng__set_output_encoding(int encoding) {
    MSG_ASSERT(is_output_encoding(encoding));
    output_encoding = encoding;
}

int lng__output_encoding() {
    return output_encoding;
}

unsigned long lng__code_point(int code_page, unsigned char byte) {
    MSG_ASSERT(is_code_page(code_page));
    if (byte < 0x80) return byte;
    if (code_page == LNG_CP850) return CP850_HIGH[byte - 0x80];
    return byte < 0xA0 ? CP1252_C1[byte - 0x80] : byte;
}

std::string lng__translate(const char *text, int from, int to) {
    MSG_ASSERT(text != NULL);
    MSG_ASSERT(is_code_page(from));
    MSG_ASSERT(is_code_page(to) || to == LNG_CP_UTF8);
    std::string out;
    for (const char *c = text; *c != '\0'; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if (byte < 0x80 || to == from) {
            out += *c;
            continue;
        }
        const unsigned long code_point = lng__code_point(from, byte);
        if (to == LNG_CP_UTF8)
            append_utf8(out, code_point);
        else
            out += code_page_byte(to, code_point);
    }
    return out;
}

void lng__sort_texts(void *table, std::size_t rows, std::size_t row_size) {
    MSG_ASSERT(table != NULL || rows == 0);
    MSG_ASSERT(row_size >= sizeof(const char *));
    if (rows == 0) return;
    auto *base = static_cast<unsigned char *>(table);
    for (std::size_t i = 0; i < rows; ++i) MSG_ASSERT(row_key(base + i * row_size) != NULL);
    std::qsort(table, rows, row_size, compare_rows);

    long errors = 0;
    for (std::size_t i = 0; i < rows;) {
        const char *key = row_key(base + i * row_size);
        std::size_t next = i + 1;
        while (next < rows && std::strcmp(key, row_key(base + next * row_size)) == 0) ++next;
        if (next - i > 1) {
            msg_err("lng__sort_texts()", "LNG_TEXTID_USEERR", own_text("LNG_TEXTID_USEERR"), key,
                    static_cast<long>(next - i));
            ++errors;
        }
        i = next;
    }
    MSG_ASSERT(errors == 0);
}

void *lng__find_row(void *table, std::size_t rows, std::size_t row_size, const char *key) {
    MSG_ASSERT(key != NULL);
    void *result = rows == 0 ? nullptr : std::bsearch(key, table, rows, row_size, compare_key_row);
    MSG_ASSERT(result != NULL);
    return result;
}

const char *lng__module_text(lng_module *module, const char *key) {
    MSG_ASSERT(module != NULL);
    MSG_ASSERT(key != NULL);
    if (key[0] == '\0') return "";
    if (module->unsorted) {
        // Cleared first: a duplicate report looks texts up in an already sorted table.
        module->unsorted = 0;
        lng__sort_texts(module->rows, module->count, sizeof(lng_row));
    }
    auto *row =
        static_cast<lng_row *>(lng__find_row(module->rows, module->count, sizeof(lng_row), key));
    MSG_ASSERT(module->index < LNG_LANGUAGES);
    return output_text(module, row->text[module->index]);
}

void lng__module_set_language(lng_module *module, int code) {
    MSG_ASSERT(module != NULL);
    module->index = 0;
    for (unsigned i = 0; i < LNG_LANGUAGES; ++i) {
        if (module->code_map[i] == code) {
            module->index = i;
            break;
        }
    }
}

void lng__set_own_language(int code) {
    lng__module_set_language(&lng_texts, code);
}

void lng__create_file(const char *file_name, void *table, std::size_t rows, unsigned languages,
                      std::size_t row_size, std::size_t text_offset) {
    MSG_ASSERT(file_name != NULL);
    MSG_ASSERT(table != NULL || rows == 0);
    MSG_ASSERT(text_offset >= sizeof(const char *));
    MSG_ASSERT(text_offset <= row_size &&
               languages <= (row_size - text_offset) / sizeof(const char *));
    lng__sort_texts(table, rows, row_size);

    std::FILE *file = std::fopen(file_name, "wb");
    if (file == nullptr) lng_fatal(CREATE_LOC, "LNG_OUTFILE_FILEOPENERR", file_name);
    if (rows > UINT32_MAX || !write_u32(file, static_cast<std::uint32_t>(rows)))
        lng_fatal(CREATE_LOC, "LNG_TEXTNUM_WRITEERR", file_name);
    if (!write_u32(file, languages)) lng_fatal(CREATE_LOC, "LNG_LANGNUM_WRITEERR", file_name);

    const auto *base = static_cast<const unsigned char *>(table);
    for (std::size_t i = 0; i < rows; ++i) {
        const unsigned char *row = base + i * row_size;
        const long pos = static_cast<long>(i);
        const char *key = row_key(row);
        const std::size_t key_size = std::strlen(key) + 1;
        if (key_size > UINT32_MAX || !write_u32(file, static_cast<std::uint32_t>(key_size)))
            lng_fatal(CREATE_LOC, "LNG_TEXTIDLEN_WRITEERR", pos, file_name);
        if (!write_bytes(file, key, key_size))
            lng_fatal(CREATE_LOC, "LNG_TEXTID_WRITEERR", pos, key, file_name);
        for (unsigned j = 0; j < languages; ++j) {
            const char *text = row_key(row + text_offset + j * sizeof(const char *));
            if (text == nullptr) text = "";
            const std::size_t text_size = std::strlen(text) + 1;
            if (text_size > UINT32_MAX || !write_u32(file, static_cast<std::uint32_t>(text_size)))
                lng_fatal(CREATE_LOC, "LNG_STRLEN_WRITEERR", pos, static_cast<long>(j), file_name);
            if (!write_bytes(file, text, text_size))
                lng_fatal(CREATE_LOC, "LNG_STRING_WRITEERR", pos, static_cast<long>(j), file_name);
        }
    }
    std::fclose(file);
}

namespace {

// The counts at the start of a text file, checked against the loaded table and against the size
// of the file before anything is allocated: every record takes at least a key and one text per
// language of one byte each, with their lengths.
void read_counts(reader &in, const char *file_name, bool reload, unsigned language,
                 std::uint32_t &texts, std::uint32_t &languages) {
    if (!in.read_u32(texts)) lng_fatal(SET_LOC, "LNG_TEXTNUM_READERR", file_name);
    if (!in.read_u32(languages)) lng_fatal(SET_LOC, "LNG_LANGNUM_READERR", file_name);
    const std::uint64_t least_record = (static_cast<std::uint64_t>(languages) + 1) * 5;
    if (reload && texts != loaded.texts) lng_fatal(SET_LOC, "LNG_TEXTNUM_READERR", file_name);
    if (language >= languages) lng_fatal(SET_LOC, "LNG_LANGNUM_READERR", file_name);
    if (texts > 0 && least_record > in.left) lng_fatal(SET_LOC, "LNG_LANGNUM_READERR", file_name);
    if (texts > 0 && texts > in.left / least_record)
        lng_fatal(SET_LOC, "LNG_TEXTNUM_READERR", file_name);
}

// The rows for texts records: a first load allocates them, a reload drops the loaded texts.
lng_text *prepare_rows(lng_text **table, bool reload, std::uint32_t texts) {
    lng_text *rows = *table;
    if (reload) {
        loaded.language = LNG_NONE;
        for (std::uint32_t i = 0; i < texts; ++i) {
            std::free(rows[i].text);
            rows[i].text = nullptr;
        }
        return rows;
    }
    rows = static_cast<lng_text *>(std::calloc(texts > 0 ? texts : 1, sizeof(lng_text)));
    if (rows == nullptr) lng_fatal(SET_LOC, "LNG_TEXTS_SPACEERR");
    *table = rows;
    return rows;
}

// The key of record i: read on the first load (it must end with its zero byte and stand above
// the previous one, since lookups search the rows in file order), compared with the loaded key on
// a reload.
void read_key(reader &in, const char *file_name, lng_text *rows, std::uint32_t i) {
    const long pos = static_cast<long>(i);
    std::uint32_t key_size = 0;
    if (!in.read_u32(key_size) || key_size == 0)
        lng_fatal(SET_LOC, "LNG_TEXTIDLEN_READERR", pos, file_name);
    if (rows[i].key != nullptr) {
        bool equal = false;
        if (key_size != std::strlen(rows[i].key) + 1 ||
            !in.read_equal(rows[i].key, key_size, equal) || !equal)
            lng_fatal(SET_LOC, "LNG_TEXTID_READERR", pos, file_name);
        return;
    }
    if (key_size > in.left) lng_fatal(SET_LOC, "LNG_TEXTID_READERR", pos, file_name);
    char *key = static_cast<char *>(std::malloc(key_size));
    if (key == nullptr) lng_fatal(SET_LOC, "LNG_TEXTID_SPACEERR", pos);
    rows[i].key = key;
    if (!in.read(key, key_size) || key[key_size - 1] != '\0' ||
        (i > 0 && std::strcmp(rows[i - 1].key, key) >= 0))
        lng_fatal(SET_LOC, "LNG_TEXTID_READERR", pos, file_name);
}

// The texts of record i: the one of the language is kept, the others are skipped.
void read_texts(reader &in, const char *file_name, lng_text &row, std::uint32_t i,
                std::uint32_t languages, unsigned language) {
    const long pos = static_cast<long>(i);
    for (std::uint32_t j = 0; j < languages; ++j) {
        const long lang = static_cast<long>(j);
        std::uint32_t text_size = 0;
        if (!in.read_u32(text_size) || text_size == 0)
            lng_fatal(SET_LOC, "LNG_STRLEN_READERR", pos, lang, file_name);
        if (text_size > in.left) lng_fatal(SET_LOC, "LNG_STRING_READERR", pos, lang, file_name);
        if (j != language) {
            if (!in.skip(text_size))
                lng_fatal(SET_LOC, "LNG_STRING_FSEEKERR", pos, lang, file_name);
            continue;
        }
        char *text = static_cast<char *>(std::malloc(text_size));
        if (text == nullptr) lng_fatal(SET_LOC, "LNG_STRING_SPACEERR", pos);
        row.text = text;
        if (!in.read(text, text_size) || text[text_size - 1] != '\0')
            lng_fatal(SET_LOC, "LNG_STRING_READERR", pos, lang, file_name);
    }
}

} // namespace

void lng__set_language(const char *file_name, lng_text **table, unsigned language) {
    MSG_ASSERT(file_name != NULL);
    MSG_ASSERT(table != NULL);
    const bool reload = *table != nullptr;
    if (reload && language == loaded.language) return;

    std::FILE *file = std::fopen(file_name, "rb");
    if (file == nullptr) lng_fatal(SET_LOC, "LNG_INFILE_FILEOPENERR", file_name);
    reader in{file, 0};
    if (!file_size(file, in.left)) lng_fatal(SET_LOC, "LNG_TEXTNUM_READERR", file_name);
    std::uint32_t texts = 0;
    std::uint32_t languages = 0;
    read_counts(in, file_name, reload, language, texts, languages);
    lng_text *rows = prepare_rows(table, reload, texts);
    loaded.texts = texts;
    loaded.languages = languages;
    for (std::uint32_t i = 0; i < texts; ++i) {
        read_key(in, file_name, rows, i);
        read_texts(in, file_name, rows[i], i, languages, language);
    }
    if (std::fgetc(file) != EOF) lng_fatal(SET_LOC, "LNG_INFILE_SIZEERR", file_name);
    std::fclose(file);
    loaded.language = language;
}

const char *lng__get_text(const lng_text *table, const char *key) {
    MSG_ASSERT(table != NULL);
    MSG_ASSERT(key != NULL);
    const void *row = loaded.texts == 0 ? nullptr
                                        : std::bsearch(key, table, loaded.texts, sizeof(lng_text),
                                                       compare_key_text);
    const char *text = row == nullptr ? nullptr : static_cast<const lng_text *>(row)->text;
    MSG_ASSERT(text != NULL);
    return text;
}
