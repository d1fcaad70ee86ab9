// Fuzz harness: the command line through the argument utility, and the message output.
//
// Input: the first byte selects the mode, the rest is split at zero bytes into pieces.
//   mode 0: the converter's start-up (conv_start, conv_finish) with the pieces as arguments;
//   mode 1: argv_init and argv_eval with a table that uses every value saver, two optional
//           parameters with options of their own, switches sharing one variable and abbreviations
//           that are not unique; with or without language callback and text function;
//   mode 2: the message output: a header format, line length and indent, then a sequence of
//           messages and appended texts, each checked against the layout rules.
//
// Both the argument utility and the message output end the program by design (the usage help with
// status 0, a missing required parameter, a too long base name or an invalid header format with
// status 1). A fuzzer cannot tell such an end from a crash, and intercepting exit would leave the
// modules in a state no program ever sees, so the harness keeps those inputs away from the
// evaluation instead: help arguments ("?...", "/?...", "-h", "--help", "-?") and the converter's
// version words ("--version", "/version") are left out, the converter always gets a positional
// argument (one is appended when the input has none) and a first positional argument of a length
// that fits the file name buffers, the rich table makes both parameters optional, and header
// formats that the message output would refuse are replaced by the default format. Every other
// argument, including every wrong one, reaches the utility unchanged. The endings themselves are
// covered by the death tests of the modules.
#include "Argv.h"
#include "Msg.h"
#include "conv.h"

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// All output of the message output goes to one scratch file, rewound for every input.
std::FILE *sink() {
    static std::FILE *file = [] {
        std::FILE *f = std::tmpfile();
        if (f == nullptr) {
            std::fprintf(stderr, "fuzz_cmdline: no temporary file\n");
            std::abort();
        }
        return f;
    }();
    return file;
}

[[noreturn]] void fail(const char *what) {
    std::fprintf(stderr, "fuzz_cmdline: %s\n", what);
    std::abort();
}

std::vector<std::string> split(const std::uint8_t *data, std::size_t size) {
    std::vector<std::string> pieces;
    std::string piece;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            pieces.push_back(piece);
            piece.clear();
        } else {
            piece += static_cast<char>(data[i]);
        }
    }
    if (!piece.empty() || size == 0 || data[size - 1] == 0) pieces.push_back(piece);
    return pieces;
}

bool is_help(const std::string &argument) {
    return argument.rfind("?", 0) == 0 || argument.rfind("/?", 0) == 0 || argument == "-h" ||
           argument == "--help" || argument == "-?" || argument == "--version" ||
           argument == "/version";
}

bool is_positional(const std::string &argument) {
    return argument.empty() || (argument[0] != '/' && argument[0] != '=' && argument[0] != '?');
}

// The vector handed to argv_eval: the program name, then the arguments.
std::vector<const char *> vector_of(const std::vector<std::string> &arguments) {
    std::vector<const char *> v{"traxcon"};
    for (const std::string &a : arguments) v.push_back(a.c_str());
    return v;
}

// --- mode 0: the converter's start-up ---------------------------------------------------------

void run_converter_start(std::vector<std::string> pieces) {
    std::vector<std::string> arguments;
    std::string base;
    bool has_positional = false;
    for (std::string &piece : pieces) {
        if (is_help(piece)) continue;
        if (!has_positional && is_positional(piece)) {
            if (piece.size() > CONV_BASE_NAME_MAX) piece.resize(CONV_BASE_NAME_MAX);
            base = piece;
            has_positional = true;
        }
        arguments.push_back(piece);
    }
    if (!has_positional) {
        base = "meas";
        arguments.push_back(base);
    }

    std::vector<const char *> v = vector_of(arguments);
    conv_start(static_cast<int>(v.size()), v.data());
    if (conv.file_base_name == nullptr || base != conv.file_base_name)
        fail("the base name is not the first positional argument");
    if (std::string(conv.dat_name) != base + ".dat" ||
        std::string(conv.adf_name) != base + ".adf" || std::string(conv.tmp_name) != base + ".tmp")
        fail("derived file names are wrong");
    if (conv.trigger_flag != 0 && conv.trigger_flag != 1) fail("trigger flag not 0 or 1");
    if (conv.interpolation_flag != 0 && conv.interpolation_flag != 1)
        fail("interpolation flag not 0 or 1");
    conv_finish();
    if (conv.file_base_name != nullptr) fail("argv_free left the base name");
}

// --- mode 1: a table with every value saver ---------------------------------------------------

struct rich_values {
    char *first = nullptr;    // parameter 1, argv_save_string
    std::vector<char> second; // parameter 2, argv_copy_string (room for the longest argument)
    char c = 0;
    int i = 0, flag = 0, first_option = 0, second_option = 0;
    long l = 0;
    short s = 0;
    double d = 0;
    float f = 0;
    const char *pointer = nullptr;
    char **list = nullptr;
    char *string = nullptr;
};

rich_values *current_values = nullptr;

void rich_language(int code) {
    msg_set_language(code);
    argv_set_language(code);
}

const char *rich_text(const char *key) {
    return key;
}

void run_rich_table(const std::vector<std::string> &pieces, bool callbacks) {
    std::vector<std::string> arguments;
    std::size_t longest = 8;
    for (const std::string &piece : pieces) {
        if (is_help(piece)) continue;
        arguments.push_back(piece);
        if (piece.size() > longest) longest = piece.size();
    }
    rich_values values;
    values.second.assign(longest + 1, '\0');
    current_values = &values;
    argv_entry table[] = {
        {"", 2, nullptr, "second", "2nd", argv_copy_string, values.second.data()},
        {"", 1, nullptr, "first", "1st", argv_save_string, &values.first},
        {"char", 0, nullptr, "c", "a char", argv_save_char, &values.c},
        {"int", 0, nullptr, "-1", "an int", argv_save_int, &values.i},
        {"long", 0, nullptr, "0x10", "a long", argv_save_long, &values.l},
        {"list", 0, nullptr, "a,,b", "a list", argv_save_string_comma_list, &values.list},
        {"short", 0, nullptr, "7", "a short", argv_save_short, &values.s},
        {"double", 0, nullptr, "0.5", "a double", argv_save_double, &values.d},
        {"float", 0, nullptr, "1.5", "a float", argv_save_float, &values.f},
        {"pointer", 0, nullptr, "p", "a pointer", argv_save_pointer, &values.pointer},
        {"string", 0, nullptr, "", "a string", argv_save_string, &values.string},
        {"on", 0, "1", "0", "switch on", argv_save_int, &values.flag},
        {"off", 0, "0", nullptr, "switch off", argv_save_int, &values.flag},
        {"opt", 1, nullptr, "11", "option of 1", argv_save_int, &values.first_option},
        {"opt", 2, "22", "0", "option of 2", argv_save_int, &values.second_option},
    };
    constexpr unsigned count = sizeof(table) / sizeof(table[0]);
    argv_init(table, count, callbacks ? rich_language : nullptr, callbacks ? rich_text : nullptr,
              "rich table");
    std::vector<const char *> v = vector_of(arguments);
    argv_eval(static_cast<int>(v.size()), v.data());

    // Every row answers 0 or 1; a name and parameter not in the table answer -1.
    const char *names[] = {"char",  "int",     "long",   "list", "short", "double",
                           "float", "pointer", "string", "on",   "off"};
    for (const char *name : names) {
        int given = argv_is_given(name, 0);
        if (given != 0 && given != 1) fail("argv_is_given of a row not 0 or 1");
    }
    for (unsigned p = 1; p <= 2; ++p) {
        if (argv_is_given("", p) < 0 || argv_is_given("opt", p) < 0) fail("row not found");
    }
    if (argv_is_given("opt", 0) != -1 || argv_is_given("", 3) != -1 || argv_is_given("o", 0) != -1)
        fail("argv_is_given found a row that does not exist");
    // The values are still readable and well formed.
    if (values.first == nullptr || values.list == nullptr || values.string == nullptr ||
        values.pointer == nullptr)
        fail("a saved text is missing");
    std::size_t total = std::strlen(values.first) + std::strlen(values.string) +
                        std::strlen(values.pointer) + std::strlen(values.second.data());
    for (char **piece = values.list; *piece != nullptr; ++piece) total += std::strlen(*piece);
    (void)total;
    if (values.flag != 0 && values.flag != 1) fail("switch value not 0 or 1");

    argv_free();
    if (values.first != nullptr || values.list != nullptr || values.string != nullptr)
        fail("argv_free left a saved text");
    current_values = nullptr;
    argv_set_language(LNG_GERMAN);
    msg_set_language(LNG_GERMAN);
}

// --- mode 2: the message output ---------------------------------------------------------------

bool is_white(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// True when msg_init_format accepts the format without ending the program, and its widths and
// precisions stay below 1000 (the program chooses its header format; a width of millions only
// measures the C library's padding).
bool header_format_ok(const std::string &format) {
    if (format.size() >= MSG_HEADFMT_SIZE) return false;
    int directives = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') continue;
        if (i + 1 < format.size() && format[i + 1] == '%') {
            ++i;
            continue;
        }
        int digits = 0;
        for (++i; i < format.size(); ++i) {
            const char c = format[i];
            if (std::strchr("cilmt", c) != nullptr) break;
            if (std::strchr("-+ #0123456789.", c) == nullptr) return false;
            if (std::isdigit(static_cast<unsigned char>(c))) {
                if (++digits > 3) return false;
            } else {
                digits = 0;
            }
        }
        if (i >= format.size()) return false;
        if (++directives > MSG_HEADFMT_MAX) return false;
    }
    return true;
}

// Reads what the message output wrote to the sink since `from`.
std::string written_since(long from) {
    std::FILE *f = sink();
    std::fflush(f);
    const long end = std::ftell(f);
    std::string text(static_cast<std::size_t>(end - from), '\0');
    std::fseek(f, from, SEEK_SET);
    const std::size_t got = std::fread(text.data(), 1, text.size(), f);
    text.resize(got);
    std::fseek(f, end, SEEK_SET);
    return text;
}

struct layout_check {
    unsigned column = 0; // our own count of the characters since the last newline
    unsigned line_length = MSG_LINE_LENGTH;
    unsigned indent = MSG_INDENT;
};

void follow_column(layout_check &check, const std::string &out) {
    for (char c : out) check.column = c == '\n' ? 0 : check.column + 1;
    if (check.column != msg_get_column()) fail("msg_get_column disagrees with the output");
}

// Checks one appended text: no line beyond the line length, every line after a line end begins
// with the indent, and every character that is not white space is still there, in order.
void check_append(layout_check &check, const std::string &text, const std::string &out) {
    const unsigned length = check.line_length;
    unsigned column = check.column;
    std::size_t i = 0;
    if (column >= length) {
        if (out.empty() || out[0] != '\n') fail("a full line was not ended first");
        column = 0;
        i = 1;
    }
    const bool cut = out.size() >= static_cast<std::size_t>(MSG_BUFFER_SIZE - 1) ||
                     text.size() >= static_cast<std::size_t>(MSG_BUFFER_SIZE - 1);
    for (; i < out.size(); ++i) {
        if (out[i] == '\n') {
            column = 0;
            for (std::size_t k = 1; k <= check.indent && i + k < out.size(); ++k)
                if (out[i + k] != ' ') fail("a continued line does not begin with the indent");
            continue;
        }
        if (++column > length) fail("a line is longer than the line length");
    }
    if (!cut) {
        std::string kept_in, kept_out;
        for (char c : text)
            if (!is_white(c)) kept_in += c;
        for (char c : out)
            if (!is_white(c)) kept_out += c;
        if (kept_in != kept_out) fail("the layout lost or changed characters");
    }
    follow_column(check, out);
}

// Takes the next piece (or the empty text when there is none).
const std::string &next_piece(const std::vector<std::string> &pieces, std::size_t &at) {
    static const std::string empty;
    return at < pieces.size() ? pieces[at++] : empty;
}

unsigned char first_byte(const std::string &piece) {
    return piece.empty() ? 0 : static_cast<unsigned char>(piece[0]);
}

void run_message_output(const std::vector<std::string> &pieces) {
    std::size_t at = 0;
    // First piece: line length, indent, format choice; the second piece may be the format.
    const std::string &setup = next_piece(pieces, at);
    const unsigned length =
        1 + (setup.size() > 0 ? static_cast<unsigned char>(setup[0]) % 160 : 79);
    const unsigned indent = setup.size() > 1 ? static_cast<unsigned char>(setup[1]) % length : 0;
    static const char *const formats[] = {"[%m %c.%t %i]  %l\n", "%%%-12i%5c|%t|%l|%m|", "", "%l"};
    const unsigned choice = setup.size() > 2 ? static_cast<unsigned char>(setup[2]) % 5 : 0;
    std::string format = choice < 4 ? formats[choice] : next_piece(pieces, at);
    if (!header_format_ok(format)) format = formats[0];
    msg_init_format(format.c_str(), length, indent);

    layout_check check{msg_get_column(), length, indent};
    while (at < pieces.size()) {
        const std::string &op = next_piece(pieces, at);
        const unsigned char code = first_byte(op);
        const unsigned char arg = op.size() > 1 ? static_cast<unsigned char>(op[1]) : 0;
        const long before = std::ftell(sink());
        switch (code % 8) {
        case 0:
        case 1: { // appended text
            const std::string &text = next_piece(pieces, at);
            msg_append("%s", text.c_str());
            check_append(check, text, written_since(before));
            break;
        }
        case 2: { // a whole message of one type: header, then text
            const std::string &location = next_piece(pieces, at);
            const std::string &key = next_piece(pieces, at);
            const std::string &text = next_piece(pieces, at);
            msg_header(arg % 5, location.c_str(), key.c_str());
            follow_column(check, written_since(before));
            const long middle = std::ftell(sink());
            msg_append("%s", text.c_str());
            check_append(check, text, written_since(middle));
            break;
        }
        case 3: { // the typed functions (not the fatal one)
            const std::string &text = next_piece(pieces, at);
            switch (arg % 4) {
            case 0: msg_log("loc()", "LOG_KEY", "%s", text.c_str()); break;
            case 1: msg_info("", "", "%s", text.c_str()); break;
            case 2: msg_warn(text.c_str(), "W", "%s", "warning\n"); break;
            default: msg_err(nullptr, nullptr, "%s", text.c_str()); break;
            }
            follow_column(check, written_since(before));
            break;
        }
        case 4:
            check.indent = arg % length;
            msg_set_indent(check.indent);
            break;
        case 5:
            if (msg_read_counter(arg % MSG_COUNTERS) < 0) fail("negative counter");
            if (arg & 0x80) msg_reset_counters();
            break;
        case 6: msg_exit(); break;
        default: {
            const std::string &name = next_piece(pieces, at);
            msg_init_module(name.substr(0, MSG_MODNAM_SIZE - 1).c_str());
            msg_set_language(arg & 1);
            break;
        }
        }
    }
    // Back to the defaults for the other modes.
    msg_init_format("[%m %c.%t %i]  %l\n", MSG_LINE_LENGTH, MSG_INDENT);
    msg_set_language(LNG_GERMAN);
    msg_exit();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0) return 0;
    std::rewind(sink());
    msg_set_stream(sink());
    const std::vector<std::string> pieces = split(data + 1, size - 1);
    switch (data[0] % 4) {
    case 0: run_converter_start(pieces); break;
    case 1: run_rich_table(pieces, true); break;
    case 2: run_rich_table(pieces, false); break;
    default: run_message_output(pieces); break;
    }
    return 0;
}
