// Message output: typed messages with header lines, counters, indentation and word wrap.
#include "Msg.h"

#include "Lng.h"

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <string>
#include <vector>

namespace {

// The module's own texts, Windows-1252 code page; German column first.
lng_row msg_rows[] = {
    {"MSG_LOG", {"PROTOKOLL", "LOG"}},
    {"MSG_INFO", {"NACHRICHT", "INFORMATION"}},
    {"MSG_WARN", {"WARNUNG", "WARNING"}},
    {"MSG_ERR", {"FEHLER", "ERROR"}},
    {"MSG_FATERR", {"ABBRUCH-FEHLER", "FATAL ERROR"}},
    {"MSG_SPACEERR", {"Kein Speicherplatz verf\374gbar\n", "no space available\n"}},
    {"MSG_MODNAM_SIZEFATERR",
     {"Modulname \"%s\" zu lang, maximal %d Buchstaben m\366glich\n",
      "module name \"%s\" too long, maximum is %d characters\n"}},
    {"MSG_HEADFMT_SIZEFATERR",
     {"Format f\374r Kopfzeile \"%s\" zu lang, maximal %d Buchstaben m\366glich\n",
      "header format \"%s\" too long, maximum is %d characters\n"}},
    {"MSG_HEADFMT_INVALFATERR",
     {"unerlaubtes Kopfzeilen-Format - Ende des Formats erreicht\n",
      "invalid header format given, end of format string reached\n"}},
    {"MSG_HEADFMT_NUMFATERR",
     {"zu viele Formate (%d) angegeben, maximal %d erlaubt\n",
      "too many formats (%d) found, maximum is %d\n"}},
    {"MSG_INDENT_FATERR",
     {"Einr\374ckung %d mu\337 kleiner als Zeilenl\344nge %d sein\n",
      "indent %d must be less then line length %d\n"}},
    {"MSG_TYPE_INVALFATERR",
     {"Typ %d der Nachricht nicht erlaubt, maximal %d m\366glich\n",
      "message type %d not valid, maximum is %d\n"}},
    {"MSG_HEADFMT_INVALINTERR",
     {"unerlaubtes Kopfzeilen-Format '%c' gefunden\n", "invalid header format id '%c' found\n"}},
};

lng_module msg_texts = {msg_rows, std::size(msg_rows), 1, {LNG_GERMAN, LNG_ENGLISH}, 0, LNG_CP1252};

const char *own_text(const char *key) {
    return lng__module_text(&msg_texts, key);
}

// Keys of the type words, by message type.
constexpr const char *TYPE_KEYS[] = {"MSG_LOG", "MSG_INFO", "MSG_WARN", "MSG_ERR", "MSG_FATERR"};

// One compiled header directive: the letter and the printf-style piece that prints it (the
// literal text before the directive, with "%%" for a percent sign, and the conversion).
struct header_piece {
    char directive;
    std::string format;
};

struct header_format {
    std::vector<header_piece> pieces;
    std::string trailing; // printf-style, no conversion
};

struct msg_state {
    char module_name[MSG_MODNAM_SIZE] = "";
    header_format header{{{'m', "[%s"}, {'c', " %ld"}, {'t', ".%s"}, {'i', " %s"}, {'l', "]  %s"}},
                         "\n"};
    unsigned line_length = MSG_LINE_LENGTH;
    unsigned indent = MSG_INDENT;
    long counters[MSG_COUNTERS] = {};
    unsigned column = 0;
    char *text_buffer = nullptr; // formatted text and header
    char *line_buffer = nullptr; // laid-out text
    std::FILE *stream = nullptr;
};

// Never destroyed, so that a message from an exit handler still finds the module's state.
msg_state &state() {
    static msg_state *const s = new msg_state;
    return *s;
}

std::FILE *out_stream() {
    return state().stream != nullptr ? state().stream : stderr;
}

[[noreturn]] void fatal_v(const char *location, const char *key, const char *format, va_list args) {
    msg_print_v(MSG_FATERR, location, key, format, args);
    std::fflush(out_stream());
    std::exit(1);
}

// Fatal message of this module with its own text of `key` as format.
[[noreturn]] void msg_fatal(const char *location, const char *key, ...) {
    va_list args;
    va_start(args, key);
    fatal_v(location, key, own_text(key), args);
}

// No line buffer could be allocated: the report cannot use the buffers, so it is written
// straight to the stream in the shape of the default header.
[[noreturn]] void space_fatal(const char *location) {
    msg_state &s = state();
    std::FILE *out = out_stream();
    std::fprintf(out, "%s[%s %ld.%s MSG_SPACEERR]  %s\n    %s", s.column != 0 ? "\n" : "",
                 s.module_name, ++s.counters[MSG_FATERR], own_text("MSG_FATERR"), location,
                 own_text("MSG_SPACEERR"));
    std::fflush(out);
    std::exit(1);
}

void allocate_buffers(const char *location, bool both) {
    msg_state &s = state();
    if (s.text_buffer == nullptr) s.text_buffer = new (std::nothrow) char[MSG_BUFFER_SIZE];
    if (both && s.line_buffer == nullptr) s.line_buffer = new (std::nothrow) char[MSG_BUFFER_SIZE];
    if (s.text_buffer == nullptr || (both && s.line_buffer == nullptr)) space_fatal(location);
}

// Appends printf-style output to a buffer of MSG_BUFFER_SIZE characters; what does not fit is
// cut off.
void buffer_printf(char *buffer, std::size_t &length, const char *format, ...) {
    const std::size_t room = MSG_BUFFER_SIZE - length;
    va_list args;
    va_start(args, format);
    const int written = std::vsnprintf(buffer + length, room, format, args);
    va_end(args);
    if (written < 0) {
        buffer[length] = '\0';
        return;
    }
    length +=
        static_cast<std::size_t>(written) < room ? static_cast<std::size_t>(written) : room - 1;
}

// The column after writing `length` characters of `text` starting at column `column`.
unsigned column_after(unsigned column, const char *text, std::size_t length) {
    const void *last = nullptr;
    for (std::size_t i = length; i > 0; --i) {
        if (text[i - 1] == '\n') {
            last = text + i - 1;
            break;
        }
    }
    if (last == nullptr) return column + static_cast<unsigned>(length);
    return static_cast<unsigned>(text + length - static_cast<const char *>(last) - 1);
}

void write_out(const char *text, std::size_t length) {
    msg_state &s = state();
    s.column = column_after(s.column, text, length);
    std::fwrite(text, 1, length, out_stream());
}

bool is_white(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Lays out `length` characters of `text` into the line buffer, starting at the current column:
// every line begins with the indent, holds at most the line length, and wraps at the last blank
// of the line where there is one. Output that does not fit into the buffer is cut off.
std::size_t lay_out(const char *text, std::size_t length) {
    msg_state &s = state();
    char *out = s.line_buffer;
    constexpr std::size_t capacity = MSG_BUFFER_SIZE - 1;
    const unsigned line = s.line_length;
    const unsigned indent = s.indent;
    std::size_t o = 0;
    bool full = false;
    auto put = [&](char c) {
        if (o < capacity)
            out[o++] = c;
        else
            full = true;
    };
    auto new_line = [&] {
        put('\n');
        for (unsigned k = 0; k < indent && !full; ++k) put(' ');
    };
    std::size_t p = 0;
    auto skip_white = [&] {
        while (p < length && is_white(text[p])) ++p;
    };
    // Last blank written on the current line: output place, text place and its column. Only a
    // blank right of the indent is a break point.
    struct {
        bool set = false;
        std::size_t out = 0, text = 0;
        unsigned column = 0;
    } blank;

    unsigned column = s.column;
    if (column == 0) {
        for (unsigned k = 0; k < indent && !full; ++k) put(' ');
        column = indent;
    } else if (column >= line) {
        new_line();
        column = indent;
        skip_white();
    }

    while (p < length && !full) {
        const char c = text[p++];
        if (c == '\n') {
            put('\n');
            column = 0;
            blank.set = false;
            if (p < length) {
                for (unsigned k = 0; k < indent && !full; ++k) put(' ');
                column = indent;
            }
            continue;
        }
        if (is_white(c)) {
            blank = {true, o, p - 1, column};
            put(' ');
        } else {
            put(c);
        }
        ++column;
        if (column >= line && !full) {
            if (blank.set && blank.column > indent) {
                o = blank.out;
                p = blank.text + 1;
            }
            new_line();
            column = indent;
            blank.set = false;
            skip_white();
        }
    }
    return o;
}

void append_v(const char *location, const char *format, va_list args) {
    MSG_ASSERT(format != NULL);
    allocate_buffers(location, true);
    msg_state &s = state();
    const int written = std::vsnprintf(s.text_buffer, MSG_BUFFER_SIZE, format, args);
    std::size_t length = 0;
    if (written > 0)
        length = static_cast<std::size_t>(written) < MSG_BUFFER_SIZE
                     ? static_cast<std::size_t>(written)
                     : MSG_BUFFER_SIZE - 1;
    const std::size_t laid_out = lay_out(s.text_buffer, length);
    write_out(s.line_buffer, laid_out);
}

bool is_directive(char c) {
    return c == 'c' || c == 'i' || c == 'l' || c == 'm' || c == 't';
}

// Flags, width and precision: the only characters that may stand between "%" and the directive
// letter, since the piece is handed to printf with exactly one value.
bool is_conversion_char(char c) {
    return std::strchr("-+ #0123456789.", c) != nullptr && c != '\0';
}

} // namespace

void msg_init_module(const char *name) {
    MSG_ASSERT(name != NULL);
    if (std::strlen(name) >= MSG_MODNAM_SIZE)
        msg_fatal("msg_init_module()", "MSG_MODNAM_SIZEFATERR", name, MSG_MODNAM_SIZE);
    std::strcpy(state().module_name, name);
}

void msg_init_format(const char *format, unsigned line_length, unsigned indent) {
    constexpr const char *location = "msg_init_format()";
    MSG_ASSERT(format != NULL);
    const std::size_t length = std::strlen(format);
    if (length >= MSG_HEADFMT_SIZE)
        msg_fatal(location, "MSG_HEADFMT_SIZEFATERR", format, MSG_HEADFMT_SIZE);

    header_format compiled;
    std::string piece;
    for (std::size_t i = 0; i < length; ++i) {
        if (format[i] != '%') {
            piece += format[i];
            continue;
        }
        if (format[i + 1] == '%') {
            piece += "%%";
            ++i;
            continue;
        }
        piece += '%';
        char directive = '\0';
        for (++i;; ++i) {
            if (i >= length) msg_fatal(location, "MSG_HEADFMT_INVALFATERR");
            if (is_directive(format[i])) {
                directive = format[i];
                break;
            }
            if (!is_conversion_char(format[i]))
                msg_fatal(location, "MSG_HEADFMT_INVALINTERR", format[i]);
            piece += format[i];
        }
        if (compiled.pieces.size() == MSG_HEADFMT_MAX)
            msg_fatal(location, "MSG_HEADFMT_NUMFATERR", MSG_HEADFMT_MAX + 1, MSG_HEADFMT_MAX + 1);
        piece += directive == 'c' ? "ld" : "s";
        compiled.pieces.push_back({directive, std::move(piece)});
        piece.clear();
    }
    compiled.trailing = std::move(piece);
    if (indent >= line_length)
        msg_fatal(location, "MSG_INDENT_FATERR", static_cast<int>(indent),
                  static_cast<int>(line_length));

    msg_state &s = state();
    s.header = std::move(compiled);
    s.line_length = line_length;
    s.indent = indent;
}

void msg_header(int type, const char *location, const char *key) {
    MSG_ASSERT(type >= MSG_LOG && type <= MSG_FATERR);
    allocate_buffers("msg_header()", false);
    msg_state &s = state();
    char *buffer = s.text_buffer;
    std::size_t length = 0;
    buffer[0] = '\0';
    if (s.column != 0) buffer_printf(buffer, length, "\n");
    for (const header_piece &piece : s.header.pieces) {
        const char *format = piece.format.c_str();
        switch (piece.directive) {
        case 'c': buffer_printf(buffer, length, format, ++s.counters[type]); break;
        case 'i': buffer_printf(buffer, length, format, key != nullptr ? key : ""); break;
        case 'l': buffer_printf(buffer, length, format, location != nullptr ? location : ""); break;
        case 'm': buffer_printf(buffer, length, format, s.module_name); break;
        case 't': buffer_printf(buffer, length, format, own_text(TYPE_KEYS[type])); break;
        default: msg_fatal("msg_header()", "MSG_HEADFMT_INVALINTERR", piece.directive);
        }
    }
    buffer_printf(buffer, length, s.header.trailing.c_str());
    write_out(buffer, length);
}

void msg_append(const char *format, ...) {
    va_list args;
    va_start(args, format);
    append_v("msg_append()", format, args);
    va_end(args);
}

void msg_append_v(const char *format, va_list args) {
    append_v("msg_append_v()", format, args);
}

void msg_print(int type, const char *location, const char *key, const char *format, ...) {
    va_list args;
    va_start(args, format);
    msg_print_v(type, location, key, format, args);
    va_end(args);
}

void msg_print_v(int type, const char *location, const char *key, const char *format,
                 va_list args) {
    msg_header(type, location, key);
    msg_append_v(format, args);
}

#define MSG_TYPED(name, type)                                                                      \
    void name(const char *location, const char *key, const char *format, ...) {                    \
        va_list args;                                                                              \
        va_start(args, format);                                                                    \
        msg_print_v(type, location, key, format, args);                                            \
        va_end(args);                                                                              \
    }
MSG_TYPED(msg_log, MSG_LOG)
MSG_TYPED(msg_info, MSG_INFO)
MSG_TYPED(msg_warn, MSG_WARN)
MSG_TYPED(msg_err, MSG_ERR)
#undef MSG_TYPED

void msg_faterr(const char *location, const char *key, const char *format, ...) {
    va_list args;
    va_start(args, format);
    fatal_v(location, key, format, args);
}

void msg_set_indent(unsigned indent) {
    msg_state &s = state();
    if (indent >= s.line_length)
        msg_fatal("msg_set_indent()", "MSG_INDENT_FATERR", static_cast<int>(indent),
                  static_cast<int>(s.line_length));
    s.indent = indent;
}

unsigned msg_get_column() {
    return state().column;
}

long msg_read_counter(unsigned slot) {
    if (slot >= MSG_COUNTERS)
        msg_fatal("msg_read_counter()", "MSG_TYPE_INVALFATERR", static_cast<int>(slot),
                  MSG_COUNTERS - 1);
    return state().counters[slot];
}

void msg_reset_counters() {
    for (long &counter : state().counters) counter = 0;
}

void msg_set_stream(std::FILE *stream) {
    state().stream = stream;
}

void msg_set_language(int code) {
    lng__module_set_language(&msg_texts, code);
}

void msg_exit() {
    msg_state &s = state();
    delete[] s.text_buffer;
    delete[] s.line_buffer;
    s.text_buffer = nullptr;
    s.line_buffer = nullptr;
}

void msg__assert_fail(const char *expression, const char *file, int line) {
    const char *module = file;
    for (const char *c = file; *c != '\0'; ++c)
        if (*c == '/' || *c == '\\') module = c + 1;
    std::fflush(stdout);
    std::fprintf(stderr, "Assertion failed: %s, file %s, line %d\n", expression, module, line);
    std::fflush(stderr);
    std::abort();
}
