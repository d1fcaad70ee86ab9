// Adf: the ADF text data file writer and reader.
#include "Adf.h"

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <vector>

// The handle of an open ADF file. The fields are changed by the adf_ operations only and read
// by callers through the accessors of Adf.h.
struct adf_file {
    std::uint32_t magic; // ADF_MAGIC while open

    std::vector<std::string> names;                  // one per channel (reader: without S:/R:/T:)
    std::vector<long> name_groups;                   // reader: number of names per column
    std::vector<std::optional<std::string>> formats; // per channel; none: ADF_DEFAULT_FORMAT
    std::vector<int> kinds;                          // ADF_PLAIN .. ADF_ANGLE per channel
    std::vector<double> last_values;                 // values of the last line written
    std::vector<int> header_flags;                   // set once the channel line is written

    long channel_count;             // channels (reader: names) of the current block
    long line_count;                // declared value lines; -1 = open (writer only)
    long lines_written;             // value lines written (reader: read) in the current block
    long channels_defined;          // channels defined so far in the current block
    long time_pos;                  // channel of ADF_TIME, -1 if none
    long angle_pos;                 // channel of ADF_ANGLE, -1 if none
    long s_count, r_count, t_count; // number of ADF_S, ADF_R, ADF_T channels
    std::vector<long> s_list, r_list, t_list; // their channel positions
    long file_lines;                          // lines of the file written or read so far

    std::FILE *stream;
    int access_mode; // 1 = writing, 0 = reading

    // Position of the current block's header line while its line count is open.
    int header_noted; // 1 while header_pos holds that position, else 0 (the position "-1")
    std::fpos_t header_pos;

    // Reader.
    std::string line;          // the current line (writer: the value line being built)
    long window_size;          // N: value lines kept
    long window_fill;          // value lines in the window, 1 .. N
    long window_pos;           // slot for the next value line, 0 .. N-1
    std::vector<double> slots; // (N + 1) slots of channel_count values; N are used
    long columns;              // columns of the current block
    std::vector<long> repeats; // per column: lines for which the current value still holds
    int event_pending;         // an end of block or file waits until the window is drained
    int pending_result;        // what to report for it

    // Writer internals.
    int write_failed;                // a write or the close failed: ADF_ERR_WRITE, bytes are lost
    int position_failed;             // an open header line could not be rewritten: ADF_ERR_WRITE
    std::string pending;             // value lines not yet handed to the file
    long pending_lines;              // how many
    long lines_stored;               // value lines of the block the file has taken
    std::vector<unsigned char> fast; // per channel: written by the fast default formatter
    long printf_channels;            // channels written through printf with their own format
    std::vector<char> stream_buffer; // the stream's buffer (ADF_STREAM_BUFFER bytes)
};

namespace {

constexpr std::uint32_t ADF_MAGIC = 0x41444631; // "ADF1"
constexpr int MODE_READ = 0;
constexpr int MODE_WRITE = 1;
constexpr char CTRL_Z = 26;

[[noreturn]] void check_failed(const char *expr, const char *file, int line) {
    std::fprintf(stderr, "Assertion failed: %s, file %s, line %d\n", expr, file, line);
    std::abort();
}
// Argument checks hold in every build, not only in debug builds.
#define ADF_CHECK(e) ((e) ? (void)0 : check_failed(#e, __FILE__, __LINE__))

// Sets the numeric category of the locale to "C" for the lifetime of the object, if it is
// another, and sets the previous one again at the end, so numbers use the decimal point ".".
struct CNumericLocale {
    std::string previous;
    bool switched = false;
    CNumericLocale() {
        const char *current = std::setlocale(LC_NUMERIC, nullptr);
        if (current && std::strcmp(current, "C") != 0) {
            previous = current;
            switched = std::setlocale(LC_NUMERIC, "C") != nullptr;
        }
    }
    ~CNumericLocale() {
        if (switched) std::setlocale(LC_NUMERIC, previous.c_str());
    }
    CNumericLocale(const CNumericLocale &) = delete;
    CNumericLocale &operator=(const CNumericLocale &) = delete;
};

bool is_open(const adf_file *a) {
    return a != nullptr && a->magic == ADF_MAGIC;
}
bool is_writer(const adf_file *a) {
    return is_open(a) && a->access_mode == MODE_WRITE;
}
bool is_reader(const adf_file *a) {
    return is_open(a) && a->access_mode == MODE_READ;
}
bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

// A channel of the current block that has an entry in a per-channel array of the given size.
bool is_channel(const adf_file *a, long channel, size_t entries) {
    return channel >= 0 && channel < a->channel_count && static_cast<size_t>(channel) < entries;
}

// The positions of the ADF_S, ADF_R or ADF_T channels; nullptr for another kind.
const std::vector<long> *prefixed_list(const adf_file *a, int kind) {
    switch (kind) {
    case ADF_S: return &a->s_list;
    case ADF_R: return &a->r_list;
    case ADF_T: return &a->t_list;
    default: return nullptr;
    }
}

adf_file *new_handle(int mode) {
    adf_file *a = new (std::nothrow) adf_file{};
    if (!a) return nullptr;
    try {
        a->stream_buffer.resize(ADF_STREAM_BUFFER);
    } catch (const std::exception &) {
        delete a;
        return nullptr;
    }
    a->magic = ADF_MAGIC;
    a->access_mode = mode;
    a->time_pos = -1;
    a->angle_pos = -1;
    a->window_fill = 1;
    return a;
}

// Opens the stream with the handle's buffer; false if the file cannot be opened or the buffer
// cannot be set.
bool open_stream(adf_file *a, const char *file_name, const char *mode) {
    a->stream = std::fopen(file_name, mode);
    if (!a->stream) return false;
    if (std::setvbuf(a->stream, a->stream_buffer.data(), _IOFBF, ADF_STREAM_BUFFER) != 0) {
        std::fclose(a->stream);
        a->stream = nullptr;
        return false;
    }
    return true;
}

void release(adf_file *a) {
    a->magic = 0;
    delete a;
}

// ---------------------------------------------------------------------------------------------
// Number formats

bool is_default_format(const char *f) {
    return std::strcmp(f, ADF_DEFAULT_FORMAT) == 0 || std::strcmp(f, "%.7g") == 0;
}

// Where the one conversion of a format for one double stands, and its field width.
struct DoubleConversion {
    size_t begin = 0, end = 0;
    int width = 0;
    bool left = false;
};

// Accepts a format with exactly one conversion for a double: "%", flags "-+ #0", a width and a
// precision of at most four digits each, an optional "l" and one of f F e E g G a A. Any other
// "%" must be "%%". Such a format cannot make printf read a second argument or write without
// bound.
bool parse_double_format(const char *f, DoubleConversion *conv) {
    bool found = false;
    size_t i = 0;
    while (f[i]) {
        if (f[i] != '%') {
            ++i;
            continue;
        }
        if (f[i + 1] == '%') {
            i += 2;
            continue;
        }
        if (found) return false;
        size_t j = i + 1;
        DoubleConversion c;
        c.begin = i;
        while (f[j] && std::strchr("-+ #0", f[j])) c.left = c.left || f[j++] == '-';
        for (int digits = 0; f[j] >= '0' && f[j] <= '9'; ++j) {
            if (++digits > 4) return false;
            c.width = c.width * 10 + (f[j] - '0');
        }
        if (f[j] == '.') {
            ++j;
            for (int digits = 0; f[j] >= '0' && f[j] <= '9'; ++j)
                if (++digits > 4) return false;
        }
        if (f[j] == 'l') ++j;
        if (!f[j] || !std::strchr("fFeEgGaA", f[j])) return false;
        c.end = j + 1;
        *conv = c;
        found = true;
        i = j + 1;
    }
    return found;
}

const char *nonfinite_text(double v) {
    if (std::isnan(v)) return std::signbit(v) ? "-nan" : "nan";
    return v < 0 ? "-inf" : "inf";
}

void append_literal(std::string &out, const char *from, const char *to) {
    for (const char *p = from; p < to; ++p) {
        out.push_back(*p);
        if (*p == '%' && p + 1 < to && p[1] == '%') ++p;
    }
}

// Formats v with a channel's own format (validated by parse_double_format). A value that is not
// finite is written by its spelling, padded to the conversion's width, so every platform writes
// the same text.
void format_with_printf(std::string &text, const std::string &format, double v) {
    text.clear();
    if (!std::isfinite(v)) {
        DoubleConversion c;
        parse_double_format(format.c_str(), &c);
        const char *f = format.c_str();
        append_literal(text, f, f + c.begin);
        const std::string word = nonfinite_text(v);
        const size_t pad = c.width > static_cast<int>(word.size()) ? c.width - word.size() : 0;
        if (!c.left) text.append(pad, ' ');
        text += word;
        if (c.left) text.append(pad, ' ');
        append_literal(text, f + c.end, f + format.size());
        return;
    }
    char small[64];
    const int n = std::snprintf(small, sizeof small, format.c_str(), v);
    if (n < 0) return;
    if (static_cast<size_t>(n) < sizeof small) {
        text.assign(small, static_cast<size_t>(n));
        return;
    }
    text.resize(static_cast<size_t>(n) + 1);
    std::snprintf(text.data(), text.size(), format.c_str(), v);
    text.resize(static_cast<size_t>(n));
}

// ---------------------------------------------------------------------------------------------
// Writer helpers

// Writes n bytes; a short write is remembered for adf_close.
bool put(adf_file *a, const char *p, size_t n) {
    if (std::fwrite(p, 1, n, a->stream) == n) return true;
    a->write_failed = 1;
    return false;
}

// Value lines are collected and handed to the file in pieces of about this size; a line counts as
// stored once the write of its piece and the flush of the stream behind it have succeeded.
constexpr size_t PENDING_LIMIT = 64 * 1024;

// Hands the pending value lines to the file. False (remembered for adf_close) when that fails:
// the lines are then not stored, and none after them will be.
bool flush_pending(adf_file *a) {
    if (a->write_failed) return false;
    if (!a->pending.empty() && !put(a, a->pending.data(), a->pending.size())) return false;
    if (std::fflush(a->stream) != 0) {
        a->write_failed = 1;
        return false;
    }
    a->lines_stored += a->pending_lines;
    a->pending.clear();
    a->pending_lines = 0;
    return true;
}

int header_text(char *buf, size_t size, long channels, long lines) {
    return std::snprintf(buf, size, "# %5ld %10ld\n", channels, lines);
}

bool header_written(const adf_file *a) {
    return a->channel_count > 0 && !a->header_flags.empty() && a->header_flags[0] != 0;
}

// Rewrites the noted header line of the block with the lines written and returns to the end.
// A position that cannot be queried or changed, and a count that would change the length of the
// line (and so overwrite the channel line), are remembered as write failures.
void fix_open_header(adf_file *a) {
    if (!flush_pending(a)) return;
    char old_line[64], new_line[64];
    const int old_len = header_text(old_line, sizeof old_line, a->channel_count, -1);
    const int new_len = header_text(new_line, sizeof new_line, a->channel_count, a->lines_written);
    std::fpos_t here;
    if (new_len != old_len || std::fgetpos(a->stream, &here) != 0 ||
        std::fsetpos(a->stream, &a->header_pos) != 0) {
        a->position_failed = 1;
        return;
    }
    put(a, new_line, static_cast<size_t>(new_len));
    if (std::fsetpos(a->stream, &here) != 0) a->position_failed = 1;
}

// Ends the current block before a new one or the close: an open line count is written into the
// block's header line; a fixed count that was not met gives ADF_ERR_LINESDIFFER. A block whose
// count is open but whose header was never written is dropped if it has no value lines and
// gives ADF_ERR_LINESDIFFER if it has (its lines stand in the file without a header).
int end_block(adf_file *a) {
    if (a->line_count == -1) {
        if (a->header_noted) {
            fix_open_header(a);
        } else if (!header_written(a) && a->lines_written > 0) {
            return ADF_ERR_LINESDIFFER;
        }
        // Header written but its position unknown: the failure is already remembered.
        return ADF_OK;
    }
    return a->lines_written != a->line_count ? ADF_ERR_LINESDIFFER : ADF_OK;
}

void write_name(std::string &out, const adf_file *a, long i) {
    switch (a->kinds[i]) {
    case ADF_S: out += "S:"; break;
    case ADF_R: out += "R:"; break;
    case ADF_T: out += "T:"; break;
    default: break;
    }
    out += a->names[i];
}

// ---------------------------------------------------------------------------------------------
// Reader helpers

const char *skip_blanks(const char *p, const char *end) {
    while (p < end && is_blank(*p)) ++p;
    return p;
}

// Reads the next line of the file into a->line without its line end (and without a carriage
// return before it). Characters past ADF_MAX_LINE are read but not kept. False at the end of
// the file when no character was read.
bool read_raw_line(adf_file *a, bool *ended, bool *too_long) {
    std::string &line = a->line;
    line.clear();
    *ended = false;
    *too_long = false;
    bool any = false;
    int c;
    while ((c = std::getc(a->stream)) != EOF) {
        any = true;
        if (c == '\n') {
            *ended = true;
            break;
        }
        if (static_cast<long>(line.size()) < ADF_MAX_LINE)
            line.push_back(static_cast<char>(c));
        else
            *too_long = true;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return any;
}

// Reads the next significant line: lines that are empty (or blank), comments ("!") and lines
// starting with Ctrl-Z are skipped. The line is left in a->line without its leading blanks and
// tabs. Returns 1 for a line, 0 at the end of the file, ADF_ERR_LINE for a line that is too long
// or not ended by a line end.
int read_significant_line(adf_file *a) {
    bool ended, too_long;
    while (read_raw_line(a, &ended, &too_long)) {
        ++a->file_lines;
        const size_t start = a->line.find_first_not_of(" \t");
        if (start == std::string::npos) continue;
        const char first = a->line[start];
        if (first == '!' || first == CTRL_Z) continue;
        if (too_long || !ended) return ADF_ERR_LINE;
        a->line.erase(0, start);
        return 1;
    }
    return 0;
}

bool block_complete(const adf_file *a) {
    return a->lines_written == a->line_count;
}

// The result for a line that ends the value lines of a block (a header line or the end of the
// file, given by what read_significant_line returned).
int end_result(const adf_file *a, int read) {
    if (read < 0) return read;
    if (!block_complete(a)) return ADF_ERR_LINESDIFFER;
    return read == 0 ? 0 : 1;
}

// True if text equals word (upper-case letters) with its letters in any case.
bool equals_in_any_case(const char *text, const char *word) {
    if (text == nullptr) return false;
    for (; *word != '\0'; ++text, ++word) {
        char c = *text;
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != *word) return false;
    }
    return *text == '\0';
}

std::string upper(const std::string &s) {
    std::string u = s;
    for (char &c : u)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return u;
}

// Reads the block header whose "#" line stands in a->line, and the channel line after it.
int read_block_header(adf_file *a) {
    // Until the header is complete the handle has no block: value lines give -6.
    a->channel_count = 0;
    a->channels_defined = 0;
    a->columns = 0;
    a->line_count = 0;
    a->lines_written = 0;

    const char *end = a->line.data() + a->line.size();
    const char *p = skip_blanks(a->line.data() + 1, end);
    char *next;
    const long channels = std::strtol(p, &next, 10);
    if (channels <= 0) return ADF_ERR_CHANCOUNT;
    p = next;
    while (p < end && !is_blank(*p) && *p != '*') ++p;
    p = skip_blanks(p, end);
    const long lines = std::strtol(p, &next, 10);
    if (lines < 0) return ADF_ERR_LINECOUNT;

    const int r = read_significant_line(a);
    if (r <= 0) return r;
    if (a->line[0] != '#') return ADF_ERR_NOCHANLINE;

    try {
        // Columns are separated by blanks and tabs; inside a column the names are the runs of
        // name characters, joined by any other character.
        std::vector<std::string> names;
        std::vector<long> groups;
        end = a->line.data() + a->line.size();
        p = a->line.data() + 1;
        for (;;) {
            p = skip_blanks(p, end);
            if (p == end) break;
            long count = 0;
            while (p < end && !is_blank(*p)) {
                if (!adf_is_name_char(*p)) {
                    ++p;
                    continue;
                }
                const char *start = p;
                while (p < end && adf_is_name_char(*p)) ++p;
                names.emplace_back(start, p);
                ++count;
            }
            groups.push_back(count);
        }
        if (static_cast<long>(groups.size()) != channels) return ADF_ERR_CHANNELS;

        const long n = static_cast<long>(names.size());
        a->kinds.assign(n, ADF_PLAIN);
        a->formats.assign(n, std::nullopt);
        a->last_values.assign(n, 0.0);
        a->header_flags.assign(n, 1);
        a->s_list.clear();
        a->r_list.clear();
        a->t_list.clear();
        // N + 1 slots of n values; a product beyond the address space is a memory shortage.
        const size_t slot_count = static_cast<size_t>(a->window_size) + 1;
        if (n > 0 && slot_count > a->slots.max_size() / static_cast<size_t>(n))
            return ADF_ERR_MEMORY;
        a->slots.assign(static_cast<size_t>(n) * slot_count, 0.0);
        a->repeats.assign(channels, 1);
        a->time_pos = a->angle_pos = -1;
        a->s_count = a->r_count = a->t_count = 0;
        for (long i = 0; i < n; ++i) {
            const std::string u = upper(names[i]);
            std::vector<long> *list = nullptr;
            if (u.compare(0, 2, "S:") == 0) {
                a->kinds[i] = ADF_S;
                list = &a->s_list;
            } else if (u.compare(0, 2, "R:") == 0) {
                a->kinds[i] = ADF_R;
                list = &a->r_list;
            } else if (u.compare(0, 2, "T:") == 0) {
                a->kinds[i] = ADF_T;
                list = &a->t_list;
            } else if (adf_is_time_name(names[i].c_str())) {
                if (a->time_pos >= 0) return ADF_ERR_TIME;
                a->kinds[i] = ADF_TIME;
                a->time_pos = i;
            } else if (adf_is_angle_name(names[i].c_str())) {
                if (a->angle_pos >= 0) return ADF_ERR_ANGLE;
                a->kinds[i] = ADF_ANGLE;
                a->angle_pos = i;
            }
            if (list) {
                names[i].erase(0, 2);
                list->push_back(i);
            }
        }
        a->s_count = static_cast<long>(a->s_list.size());
        a->r_count = static_cast<long>(a->r_list.size());
        a->t_count = static_cast<long>(a->t_list.size());
        a->names = std::move(names);
        a->name_groups = std::move(groups);
        a->channel_count = n;
        a->channels_defined = n;
        a->columns = channels;
        a->line_count = lines;
    } catch (const std::exception &) {
        return ADF_ERR_MEMORY;
    }
    a->window_fill = 1;
    a->window_pos = 0;
    a->lines_written = 0;
    return 1;
}

// Parses the value line in a->line into the window slot for the next line.
int parse_value_line(adf_file *a) {
    if (a->lines_written >= a->line_count) return ADF_ERR_LINESFULL;
    const long n = a->channel_count;
    const long size = a->window_size;
    double *slot = a->slots.data() + static_cast<size_t>(a->window_pos) * n;
    const long previous = a->window_pos == 0 ? size - 1 : a->window_pos - 1;
    const double *prev = a->slots.data() + static_cast<size_t>(previous) * n;
    const char *p = a->line.c_str();
    const char *end = p + a->line.size();
    long channel = 0, served = 0;
    for (long c = 0; c < a->columns; ++c) {
        const long group = a->name_groups[c];
        if (--a->repeats[c] > 0) {
            std::copy(prev + channel, prev + channel + group, slot + channel);
            channel += group;
            ++served;
            continue;
        }
        p = skip_blanks(p, end);
        if (p == end) break;
        char *next;
        const double v = std::strtod(p, &next);
        p = next;
        std::fill(slot + channel, slot + channel + group, v);
        channel += group;
        p = skip_blanks(p, end);
        if (p < end && *p == '*') {
            const long count = std::strtol(p + 1, &next, 10);
            p = next;
            if (count < 1) return ADF_ERR_REPEAT;
            a->repeats[c] = count;
            p = skip_blanks(p, end);
        } else {
            a->repeats[c] = 1;
        }
        ++served;
    }
    if (served < a->columns || p != end) return ADF_ERR_VALUECOUNT;
    ++a->lines_written;
    a->window_pos = a->window_pos == size - 1 ? 0 : a->window_pos + 1;
    return 2;
}

// Parses the value line in the buffer and, while the window is not full, reads ahead.
int read_value_lines(adf_file *a) {
    int r = parse_value_line(a);
    while (r == 2 && a->window_fill < a->window_size) {
        const int read = read_significant_line(a);
        if (read <= 0 || a->line[0] == '#') {
            a->pending_result = end_result(a, read);
            a->event_pending = 1;
            return 2;
        }
        ++a->window_fill;
        r = parse_value_line(a);
    }
    return r;
}

} // namespace

// =============================================================================================
// Public operations

bool adf_is_name_char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '\\' || c == ':' || c == '.' || c == '[' || c == ']';
}

bool adf_is_time_name(const char *name) {
    return equals_in_any_case(name, ADF_TIME_NAME);
}

bool adf_is_angle_name(const char *name) {
    return equals_in_any_case(name, ADF_ANGLE_NAME);
}

int adf_format_default(char *out, double value) {
    if (!std::isfinite(value)) {
        const char *text = nonfinite_text(value);
        const size_t n = std::strlen(text);
        std::memcpy(out, text, n + 1);
        return static_cast<int>(n);
    }
    // General format with precision 7 gives the characters of printf's "%.7g" in the "C"
    // locale, independently of the program's locale.
    const auto r =
        std::to_chars(out, out + ADF_NUMBER_SIZE - 1, value, std::chars_format::general, 7);
    *r.ptr = '\0';
    return static_cast<int>(r.ptr - out);
}

adf_file *adf_open_write(const char *file_name) {
    ADF_CHECK(file_name != nullptr);
    adf_file *a = new_handle(MODE_WRITE);
    if (!a) return nullptr;
    if (!open_stream(a, file_name, "w")) {
        release(a);
        return nullptr;
    }
    return a;
}

int adf_write_comment(adf_file *adf, const char *text) {
    if (!is_writer(adf)) return ADF_ERR_MODE;
    ADF_CHECK(text != nullptr);
    try {
        std::string &out = adf->line;
        out.assign("! ");
        long lines = 1;
        for (const char *p = text; *p; ++p) {
            if (*p == '\r') continue;
            out.push_back(*p);
            if (*p == '\n') {
                out += "! ";
                ++lines;
            }
        }
        out.push_back('\n');
        adf->pending += out; // in order with the value lines
        adf->file_lines += lines;
    } catch (const std::exception &) {
        return ADF_ERR_MEMORY;
    }
    return ADF_OK;
}

int adf_init_header(adf_file *adf, long channel_count, long line_count) {
    if (!is_writer(adf)) return ADF_ERR_MODE;
    CNumericLocale c_locale;
    flush_pending(adf);
    const int ended = end_block(adf);
    if (ended != ADF_OK) return ended;
    if (channel_count <= 0) return ADF_ERR_CHANCOUNT;
    if (line_count < -1) return ADF_ERR_LINECOUNT;

    adf->channel_count = 0; // no block while the arrays are sized
    adf->line_count = 0;
    adf->channels_defined = 0;
    adf->lines_written = 0;
    adf->lines_stored = 0;
    adf->header_noted = 0;
    try {
        adf->names.assign(channel_count, std::string());
        adf->formats.assign(channel_count, std::nullopt);
        adf->last_values.assign(channel_count, 0.0);
        adf->kinds.assign(channel_count, ADF_PLAIN);
        adf->header_flags.assign(channel_count, 0);
        adf->fast.assign(channel_count, 1);
        for (auto *list : {&adf->s_list, &adf->r_list, &adf->t_list}) {
            list->clear();
            list->reserve(channel_count);
        }
    } catch (const std::exception &) {
        return ADF_ERR_MEMORY;
    }
    adf->channel_count = channel_count;
    adf->line_count = line_count;
    adf->s_count = adf->r_count = adf->t_count = 0;
    adf->time_pos = adf->angle_pos = -1;
    adf->printf_channels = 0;
    return ADF_OK;
}

int adf_define_channel(adf_file *adf, const char *name, int kind, const char *format) {
    if (!is_writer(adf)) return ADF_ERR_MODE;
    if (adf->channels_defined >= adf->channel_count) return ADF_ERR_CHANNELS;
    if (kind != ADF_TIME && kind != ADF_ANGLE) ADF_CHECK(name != nullptr);
    DoubleConversion conversion;
    if (format) ADF_CHECK(parse_double_format(format, &conversion));

    const long col = adf->channels_defined;
    adf->kinds[col] = kind;
    try {
        if (kind == ADF_TIME) {
            if (adf->time_pos >= 0) return ADF_ERR_TIME;
            adf->names[col] = ADF_TIME_NAME;
        } else if (kind == ADF_ANGLE) {
            if (adf->angle_pos >= 0) return ADF_ERR_ANGLE;
            adf->names[col] = ADF_ANGLE_NAME;
        } else {
            adf->names[col] = name;
        }
        if (format)
            adf->formats[col] = format;
        else
            adf->formats[col].reset();
    } catch (const std::exception &) {
        return ADF_ERR_MEMORY;
    }
    switch (kind) {
    case ADF_S: adf->s_list.push_back(col), adf->s_count++; break;
    case ADF_R: adf->r_list.push_back(col), adf->r_count++; break;
    case ADF_T: adf->t_list.push_back(col), adf->t_count++; break;
    case ADF_TIME: adf->time_pos = col; break;
    case ADF_ANGLE: adf->angle_pos = col; break;
    default: break;
    }
    adf->fast[col] = format == nullptr || is_default_format(format);
    if (!adf->fast[col]) ++adf->printf_channels;
    ++adf->channels_defined;
    return ADF_OK;
}

int adf_write_header(adf_file *adf) {
    if (!is_writer(adf)) return ADF_ERR_MODE;
    if (adf->channel_count <= 0) return ADF_ERR_CHANCOUNT; // no block started
    if (adf->channels_defined != adf->channel_count) return ADF_ERR_CHANNELS;
    CNumericLocale c_locale;
    if (adf->line_count == -1) {
        flush_pending(adf);
        adf->header_noted = std::fgetpos(adf->stream, &adf->header_pos) == 0;
        if (!adf->header_noted) adf->position_failed = 1;
    }
    char head[64];
    const int n = header_text(head, sizeof head, adf->channel_count, adf->line_count);
    try {
        std::string &out = adf->line;
        out.clear(); // assign("#") trips a false -Wrestrict of GCC 12 at -O3
        out.push_back('#');
        for (long i = 0; i < adf->channel_count; ++i) {
            out.push_back(' ');
            write_name(out, adf, i);
        }
        out.push_back('\n');
        adf->pending.append(head, static_cast<size_t>(n));
        adf->pending += out;
        adf->file_lines += 2;
    } catch (const std::exception &) {
        return ADF_ERR_MEMORY;
    }
    std::fill(adf->header_flags.begin(), adf->header_flags.end(), 1);
    return ADF_OK;
}

int adf_write_values(adf_file *adf, const double *values) {
    if (!is_writer(adf)) return ADF_ERR_MODE;
    ADF_CHECK(values != nullptr);
    if (adf->line_count != -1 && adf->lines_written >= adf->line_count) return ADF_ERR_LINESFULL;

    // The default format needs no locale; only channels with their own format go through
    // printf, and only for them the numeric locale is switched, once per line.
    std::optional<CNumericLocale> c_locale;
    if (adf->printf_channels > 0) c_locale.emplace();

    const long n = adf->channel_count;
    constexpr size_t room = ADF_NUMBER_SIZE + 1; // a blank and a number
    try {
        std::string &out = adf->line;
        if (out.size() < n * room + 1) out.resize(n * room + 1);
        size_t pos = 0;
        std::string text;
        for (long i = 0; i < n; ++i) {
            const double v = values[i];
            out[pos++] = ' ';
            if (adf->fast[i]) {
                pos += static_cast<size_t>(adf_format_default(&out[pos], v));
            } else {
                format_with_printf(text, *adf->formats[i], v);
                const size_t need = pos + text.size() + (n - i - 1) * room + 1;
                if (out.size() < need) out.resize(need);
                std::memcpy(&out[pos], text.data(), text.size());
                pos += text.size();
            }
            adf->last_values[i] = v;
        }
        out[pos++] = '\n';
        if (adf->write_failed) return ADF_ERR_WRITE;
        adf->pending.append(out.data(), pos);
    } catch (const std::exception &) {
        return ADF_ERR_MEMORY;
    }
    ++adf->pending_lines;
    ++adf->lines_written;
    ++adf->file_lines;
    if (adf->pending.size() >= PENDING_LIMIT && !flush_pending(adf)) return ADF_ERR_WRITE;
    return ADF_OK;
}

int adf_flush(adf_file *adf) {
    if (!is_writer(adf)) return ADF_ERR_MODE;
    return flush_pending(adf) ? ADF_OK : ADF_ERR_WRITE;
}

long adf_lines_stored(const adf_file *adf) {
    return is_writer(adf) ? adf->lines_stored : ADF_ERR_MODE;
}

int adf_close(adf_file *adf) {
    if (!is_open(adf)) return ADF_ERR_MODE;
    int result = ADF_OK;
    if (adf->access_mode == MODE_WRITE) {
        CNumericLocale c_locale;
        flush_pending(adf);
        result = end_block(adf);
        if (std::fclose(adf->stream) != 0) adf->write_failed = 1;
        if (adf->write_failed || adf->position_failed) result = ADF_ERR_WRITE;
    } else {
        std::fclose(adf->stream);
    }
    release(adf);
    return result;
}

adf_file *adf_open_read(const char *file_name, long window_size) {
    ADF_CHECK(file_name != nullptr);
    if (window_size < 1) return nullptr;
    adf_file *a = new_handle(MODE_READ);
    if (!a) return nullptr;
    a->window_size = window_size;
    // Binary: the reader takes CR LF and LF line ends itself, and a Ctrl-Z line is skipped like a
    // comment where a text-mode stream would end the file there (Windows).
    if (!open_stream(a, file_name, "rb")) {
        release(a);
        return nullptr;
    }
    return a;
}

int adf_read_next(adf_file *adf) {
    if (!is_reader(adf)) return ADF_ERR_MODE;
    CNumericLocale c_locale;
    if (!adf->event_pending) {
        const int read = read_significant_line(adf);
        if (read <= 0 || adf->line[0] == '#') {
            adf->pending_result = end_result(adf, read);
            adf->event_pending = 1;
        } else {
            adf->pending_result = 2;
        }
    }
    if (adf->event_pending) {
        if (adf->window_fill > 1) {
            --adf->window_fill;
            return 2;
        }
        adf->event_pending = 0;
    }
    switch (adf->pending_result) {
    case 1: return read_block_header(adf);
    case 2: return read_value_lines(adf);
    default: return adf->pending_result;
    }
}

int adf_get_value(const adf_file *adf, long channel, long k, double *value) {
    if (!is_reader(adf)) return ADF_ERR_MODE;
    ADF_CHECK(value != nullptr);
    if (channel < 0 || channel >= adf->channel_count) return ADF_ERR_CHANCOUNT;
    if (k < 0 || k >= adf->window_fill) return ADF_ERR_LINECOUNT;
    long slot = adf->window_pos - adf->window_fill + k; // the current line is window_fill back
    if (slot < 0) slot += adf->window_size;
    *value = adf->slots[static_cast<size_t>(slot) * adf->channel_count + channel];
    return ADF_OK;
}

// ---------------------------------------------------------------------------------------------
// Reading the handle

long adf_channel_count(const adf_file *adf) {
    return is_open(adf) ? adf->channel_count : ADF_ERR_MODE;
}

long adf_line_count(const adf_file *adf) {
    return is_open(adf) ? adf->line_count : ADF_ERR_MODE;
}

long adf_lines_written(const adf_file *adf) {
    return is_open(adf) ? adf->lines_written : ADF_ERR_MODE;
}

long adf_file_lines(const adf_file *adf) {
    return is_open(adf) ? adf->file_lines : ADF_ERR_MODE;
}

const char *adf_channel_name(const adf_file *adf, long channel) {
    if (!is_open(adf) || !is_channel(adf, channel, adf->names.size())) return nullptr;
    return adf->names[static_cast<size_t>(channel)].c_str();
}

int adf_channel_kind(const adf_file *adf, long channel) {
    if (!is_open(adf)) return ADF_ERR_MODE;
    if (!is_channel(adf, channel, adf->kinds.size())) return ADF_ERR_CHANCOUNT;
    return adf->kinds[static_cast<size_t>(channel)];
}

long adf_time_channel(const adf_file *adf) {
    return is_open(adf) ? adf->time_pos : ADF_ERR_MODE;
}

long adf_angle_channel(const adf_file *adf) {
    return is_open(adf) ? adf->angle_pos : ADF_ERR_MODE;
}

long adf_prefixed_count(const adf_file *adf, int kind) {
    if (!is_open(adf)) return ADF_ERR_MODE;
    switch (kind) {
    case ADF_S: return adf->s_count;
    case ADF_R: return adf->r_count;
    case ADF_T: return adf->t_count;
    default: return 0;
    }
}

long adf_prefixed_channel(const adf_file *adf, int kind, long index) {
    if (!is_open(adf)) return ADF_ERR_MODE;
    const std::vector<long> *list = prefixed_list(adf, kind);
    if (list == nullptr || index < 0 || static_cast<size_t>(index) >= list->size())
        return ADF_ERR_CHANCOUNT;
    return (*list)[static_cast<size_t>(index)];
}

long adf_column_count(const adf_file *adf) {
    return is_reader(adf) ? adf->columns : ADF_ERR_MODE;
}

long adf_name_group(const adf_file *adf, long column) {
    if (!is_reader(adf)) return ADF_ERR_MODE;
    if (column < 0 || column >= adf->columns ||
        static_cast<size_t>(column) >= adf->name_groups.size())
        return ADF_ERR_CHANCOUNT;
    return adf->name_groups[static_cast<size_t>(column)];
}

long adf_window_size(const adf_file *adf) {
    return is_reader(adf) ? adf->window_size : ADF_ERR_MODE;
}

long adf_window_fill(const adf_file *adf) {
    return is_reader(adf) ? adf->window_fill : ADF_ERR_MODE;
}

int adf_access_mode(const adf_file *adf) {
    return is_open(adf) ? adf->access_mode : ADF_ERR_MODE;
}

long adf_window_pos(const adf_file *adf) {
    return is_reader(adf) ? adf->window_pos : ADF_ERR_MODE;
}

int adf_header_flag(const adf_file *adf, long channel) {
    if (!is_writer(adf)) return ADF_ERR_MODE;
    if (!is_channel(adf, channel, adf->header_flags.size())) return ADF_ERR_CHANCOUNT;
    return adf->header_flags[static_cast<size_t>(channel)];
}

int adf_last_value(const adf_file *adf, long channel, double *value) {
    if (!is_writer(adf)) return ADF_ERR_MODE;
    ADF_CHECK(value != nullptr);
    if (!is_channel(adf, channel, adf->last_values.size())) return ADF_ERR_CHANCOUNT;
    *value = adf->last_values[static_cast<size_t>(channel)];
    return ADF_OK;
}

long adf_printf_channels(const adf_file *adf) {
    return is_writer(adf) ? adf->printf_channels : ADF_ERR_MODE;
}
