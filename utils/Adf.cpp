// Adf: the ADF text data file writer and reader.
#include "Adf.h"

#include <algorithm>
#include <bit>
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

    long channel_count;    // channels (reader: names) of the current block
    long line_count;       // declared value lines; -1 = open (writer only)
    long lines_written;    // value lines written (reader: read) in the current block
    long channels_defined; // channels defined so far in the current block
    long time_pos;         // channel of ADF_TIME, -1 if none
    long angle_pos;        // channel of ADF_ANGLE, -1 if none
    std::vector<long> s_list, r_list, t_list; // channels of ADF_S, ADF_R, ADF_T
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
    size_t first_length; // characters of the first column in line (a value line), else 0
    int write_failed;    // a write or the close failed: ADF_ERR_WRITE, bytes are lost
    int position_failed; // an open header line could not be rewritten: ADF_ERR_WRITE
    std::string pending; // value lines not yet handed to the file
    long pending_lines;  // how many
    long lines_stored;   // value lines of the block the file has taken
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

// A channel line that could not be read leaves no prefixed channels behind.
void no_prefixed(adf_file *a) {
    a->s_list.clear();
    a->r_list.clear();
    a->t_list.clear();
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
// The default format "%1.7g" without printf
//
// A finite value other than zero is |v| = m * 2^x with m in [2^63, 2^64). Its decimal exponent
// k (10^k <= |v| < 10^(k+1)) follows from the binary exponent and one comparison of m with the
// significand of the power of ten in the same binade, if there is one. Then q = |v| * 10^(6-k)
// lies in [10^6, 10^7): the seven digits are q rounded to an integer, halfway cases to even,
// and a carry to 10^7 makes them 10^6 with k one larger. q is the 128-bit product of m and the
// 64-bit significand of 10^(6-k): the bits above the product's binary point are the digits,
// the bits below it decide the rounding. The digits are then laid out in a 64-bit register
// (a point inserted, trailing zeros counted) and written with one or two stores.
//
// The table holds each significand rounded down, exactly for 10^0 .. 10^27 (k = -21 .. 6, the
// values from 1e-21 to 9999999): there the product is exact and so is the rounding, ties
// included. For every other power the table's significand lies below the true one by less than
// 1, so the true product lies above the computed one by less than m < 2^64, one unit of the
// product's upper word. The computed product is then a lower bound: a fraction at or above one
// half rounds up, one that stays below one half even with m added rounds down, and only a
// fraction within m below one half is left undecided. Halfway cases beyond 9999999 (integers of
// eight and more digits whose eighth digit is a 5 followed by zeros) always land there; other
// values about once in 2^39. Those take the exact path: integer division for integers below
// 2^64, std::to_chars for the rest.

// 10^j = sig * 2^exp2 with sig in [2^63, 2^64) rounded down; inexact: bits were dropped.
struct Pow10 {
    std::uint64_t sig;
    int exp2;
    std::uint32_t inexact;
};
constexpr int POW10_MIN = -324; // 10^k of the smallest subnormal
constexpr int POW10_MAX = 330;  // 10^(6-k) of the smallest subnormal
constexpr int BIG_LIMBS = 36;   // room for 2^1024 and 5^330 in 32-bit limbs
constexpr int BIG_DIVIDEND_BITS = 1024;

struct Pow10Table {
    Pow10 at[POW10_MAX - POW10_MIN + 1];
};

// A natural number in 32-bit limbs, least significant first; used limbs up to the highest
// nonzero one. Only for building the table at compile time.
struct BigNat {
    std::uint32_t limb[BIG_LIMBS] = {};
    int used = 1;
};

constexpr void multiply_by_5(BigNat &n) {
    std::uint64_t carry = 0;
    for (int i = 0; i < n.used; ++i) {
        const std::uint64_t t = std::uint64_t{n.limb[i]} * 5 + carry;
        n.limb[i] = static_cast<std::uint32_t>(t);
        carry = t >> 32;
    }
    if (carry) n.limb[n.used++] = static_cast<std::uint32_t>(carry);
}

// Rounds down.
constexpr void divide_by_5(BigNat &n) {
    std::uint64_t rest = 0;
    for (int i = n.used - 1; i >= 0; --i) {
        const std::uint64_t t = (rest << 32) | n.limb[i];
        n.limb[i] = static_cast<std::uint32_t>(t / 5);
        rest = t % 5;
    }
    while (n.used > 1 && n.limb[n.used - 1] == 0) --n.used;
}

// The 64 highest bits of n * 2^exp2_of_bit0 (n > 0), the rest dropped.
constexpr Pow10 top_64_bits(const BigNat &n, int exp2_of_bit0) {
    const int top = n.used - 1;
    const int length = 32 * top + std::bit_width(n.limb[top]);
    if (length <= 64) {
        const std::uint64_t v = n.limb[0] | (std::uint64_t{n.limb[1]} << 32);
        return {v << (64 - length), exp2_of_bit0 - (64 - length), 0};
    }
    const int low = length - 64;
    const int i = low / 32, offset = low % 32;
    std::uint64_t v = (n.limb[i] >> offset) | (std::uint64_t{n.limb[i + 1]} << (32 - offset));
    if (offset) v |= std::uint64_t{n.limb[i + 2]} << (64 - offset);
    bool dropped = (n.limb[i] & ((std::uint32_t{1} << offset) - 1)) != 0;
    for (int below = 0; below < i; ++below) dropped = dropped || n.limb[below] != 0;
    return {v, exp2_of_bit0 + low, dropped};
}

constexpr Pow10Table make_pow10_table() {
    Pow10Table table{};
    BigNat five_power; // 5^j; 10^j = 5^j * 2^j
    five_power.limb[0] = 1;
    for (int j = 0; j <= POW10_MAX; ++j) {
        if (j > 0) multiply_by_5(five_power);
        table.at[j - POW10_MIN] = top_64_bits(five_power, j);
    }
    BigNat quotient; // floor(2^1024 / 5^t); 10^-t = 2^1024 / 5^t * 2^(-1024 - t)
    quotient.limb[BIG_DIVIDEND_BITS / 32] = 1;
    quotient.used = BIG_DIVIDEND_BITS / 32 + 1;
    for (int t = 1; t <= -POW10_MIN; ++t) {
        divide_by_5(quotient); // leaves a remainder: 2^1024 is no multiple of 5
        table.at[-t - POW10_MIN] = top_64_bits(quotient, -BIG_DIVIDEND_BITS - t);
        table.at[-t - POW10_MIN].inexact = 1;
    }
    return table;
}

constexpr Pow10Table POW10 = make_pow10_table();

constexpr const Pow10 &pow10_of(int j) {
    return POW10.at[j - POW10_MIN];
}

static_assert(pow10_of(0).sig == 0x8000000000000000u && pow10_of(0).exp2 == -63);
static_assert(pow10_of(1).sig == 0xA000000000000000u && pow10_of(1).exp2 == -60);
static_assert(pow10_of(-1).sig == 0xCCCCCCCCCCCCCCCCu && pow10_of(-1).exp2 == -67);
static_assert(pow10_of(27).sig == 7450580596923828125u * 2 && pow10_of(27).exp2 == 26);
static_assert(pow10_of(28).sig == 9313225746154785156u && pow10_of(28).exp2 == 30); // 5^28 / 4
static_assert(pow10_of(-22).sig == 0xF1C90080BAF72CB1u && pow10_of(-22).exp2 == -137);
static_assert(pow10_of(308).sig == 0x8E679C2F5E44FF8Fu && pow10_of(308).exp2 == 960);
static_assert(pow10_of(330).sig == 0x96C6E0EAB509E64Du && pow10_of(330).exp2 == 1033);
static_assert(pow10_of(-324).sig == 0xCF42894A5DCE35EAu && pow10_of(-324).exp2 == -1140);

// Exact are 10^0 .. 10^27 (5^27 < 2^64 < 5^28).
constexpr bool exact_powers_are_0_to_27() {
    for (int j = POW10_MIN; j <= POW10_MAX; ++j)
        if ((pow10_of(j).inexact == 0) != (j >= 0 && j <= 27)) return false;
    return true;
}
static_assert(exact_powers_are_0_to_27());

constexpr int EXP2_MIN = -1074; // binary exponents of doubles: 2^e <= |v| < 2^(e+1)
constexpr int EXP2_MAX = 1023;

// floor(e * log10(2)) for the binary exponents of doubles.
constexpr int floor_log10_pow2(int e) {
    return (e * 78913) >> 18;
}

// For every binary exponent e, 10^k <= 2^e < 10^(k+1) with k = floor_log10_pow2(e), checked
// against the table: floor(log2(10^j)) = exp2 + 63, and 10^j is a power of two for j = 0 only.
constexpr bool decimal_exponent_estimate_holds() {
    for (int e = EXP2_MIN; e <= EXP2_MAX; ++e) {
        const int k = floor_log10_pow2(e);
        const int below = pow10_of(k).exp2 + 63, above = pow10_of(k + 1).exp2 + 63;
        if (!(below < e || (k == 0 && e == 0))) return false;
        if (!(above > e || (above == e && k + 1 != 0))) return false;
    }
    return true;
}
static_assert(decimal_exponent_estimate_holds());

// Per binary exponent e: |v| = m * 2^(e-63) reaches 10^(k+1), k = floor_log10_pow2(e), iff
// m >= at[e - EXP2_MIN]. 10^(k+1) lies above 2^e; |v| can reach it only if it lies below
// 2^(e+1) too, and then m must reach its significand rounded up. Otherwise the entry is
// 2^64 - 1, which no m reaches (its lowest 11 bits are 0).
struct NextPow10Table {
    std::uint64_t at[EXP2_MAX - EXP2_MIN + 1];
};
constexpr NextPow10Table make_next_pow10_table() {
    NextPow10Table table{};
    for (int e = EXP2_MIN; e <= EXP2_MAX; ++e) {
        const int j = floor_log10_pow2(e) + 1;
        const Pow10 &p = pow10_of(j);
        std::uint64_t threshold = ~std::uint64_t{0};
        if (p.exp2 + 63 == e && (!p.inexact || p.sig != ~std::uint64_t{0}))
            threshold = p.sig + p.inexact;
        table.at[e - EXP2_MIN] = threshold;
    }
    return table;
}
constexpr NextPow10Table NEXT_POW10 = make_next_pow10_table();

static_assert(NEXT_POW10.at[3 - EXP2_MIN] == 0xA000000000000000u);    // 10 in [8, 16)
static_assert(NEXT_POW10.at[4 - EXP2_MIN] == ~std::uint64_t{0});      // none in [16, 32)
static_assert(NEXT_POW10.at[-4 - EXP2_MIN] == 0xCCCCCCCCCCCCCCCDu);   // 0.1, rounded up
static_assert(NEXT_POW10.at[1022 - EXP2_MIN] == ~std::uint64_t{0});   // 1e308 >= 2^1023
static_assert(NEXT_POW10.at[1023 - EXP2_MIN] == 0x8E679C2F5E44FF90u); // 1e308, rounded up

// The 128-bit product of a and b.
struct Product {
    std::uint64_t hi, lo;
};

constexpr Product multiply_halves(std::uint64_t a, std::uint64_t b) {
    const std::uint64_t a0 = a & 0xFFFFFFFFu, a1 = a >> 32, b0 = b & 0xFFFFFFFFu, b1 = b >> 32;
    const std::uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
    const std::uint64_t middle = (p00 >> 32) + (p01 & 0xFFFFFFFFu) + (p10 & 0xFFFFFFFFu);
    return {p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32), (middle << 32) | (p00 & 0xFFFFFFFFu)};
}
static_assert(multiply_halves(~std::uint64_t{0}, ~std::uint64_t{0}).hi == ~std::uint64_t{1});
static_assert(multiply_halves(~std::uint64_t{0}, ~std::uint64_t{0}).lo == 1);
static_assert(multiply_halves(0x8000000000000000u, 6).hi == 3);
static_assert(multiply_halves(0x8000000000000000u, 6).lo == 0);

#if defined(__SIZEOF_INT128__)
constexpr Product multiply(std::uint64_t a, std::uint64_t b) {
    const unsigned __int128 p = static_cast<unsigned __int128>(a) * b;
    return {static_cast<std::uint64_t>(p >> 64), static_cast<std::uint64_t>(p)};
}
// Both ways agree (the halves are what compilers without a 128-bit type use).
static_assert(multiply(0xCCCCCCCCCCCCCCCCu, 0xFFFFFFFFFFFFF800u).hi ==
              multiply_halves(0xCCCCCCCCCCCCCCCCu, 0xFFFFFFFFFFFFF800u).hi);
static_assert(multiply(0xCCCCCCCCCCCCCCCCu, 0xFFFFFFFFFFFFF800u).lo ==
              multiply_halves(0xCCCCCCCCCCCCCCCCu, 0xFFFFFFFFFFFFF800u).lo);
static_assert(multiply(0x9E3779B97F4A7C15u, 0xD6E8FEB86659FD93u).hi ==
              multiply_halves(0x9E3779B97F4A7C15u, 0xD6E8FEB86659FD93u).hi);
static_assert(multiply(0x9E3779B97F4A7C15u, 0xD6E8FEB86659FD93u).lo ==
              multiply_halves(0x9E3779B97F4A7C15u, 0xD6E8FEB86659FD93u).lo);
#else
constexpr Product multiply(std::uint64_t a, std::uint64_t b) {
    return multiply_halves(a, b);
}
#endif

constexpr std::uint64_t DIGITS7_BEGIN = 1000000;
constexpr std::uint64_t DIGITS7_END = 10000000; // one past the largest seven-digit number

// 10^0 .. 10^19, the powers of ten below 2^64.
struct IntegerPowers {
    std::uint64_t at[20];
};
constexpr IntegerPowers make_integer_powers() {
    IntegerPowers p{};
    p.at[0] = 1;
    for (int i = 1; i < 20; ++i) p.at[i] = p.at[i - 1] * 10;
    return p;
}
constexpr IntegerPowers INTEGER_POW10 = make_integer_powers();

// Characters packed into an integer, the first in the lowest byte: so the digits are shifted
// and counted in a register and written with one store, whatever the byte order.
constexpr std::uint64_t ZEROS8 = 0x3030303030303030u; // "00000000"

// "00" .. "99" packed.
struct DigitPairs {
    std::uint16_t at[100];
};
constexpr DigitPairs make_digit_pairs() {
    DigitPairs d{};
    for (int i = 0; i < 100; ++i)
        d.at[i] = static_cast<std::uint16_t>(('0' + i / 10) | (('0' + i % 10) << 8));
    return d;
}
constexpr DigitPairs DIGIT_PAIRS = make_digit_pairs();

inline void store8(char *p, std::uint64_t chars) {
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(p, &chars, 8);
    } else {
        for (int i = 0; i < 8; ++i) p[i] = static_cast<char>(chars >> (8 * i));
    }
}

// The chars with a '.' inserted after the first `before` (1 .. 7) of them; the last drops out.
constexpr std::uint64_t insert_point(std::uint64_t chars, int before) {
    const std::uint64_t head = (std::uint64_t{1} << (8 * before)) - 1;
    return (chars & head) | (std::uint64_t{'.'} << (8 * before)) | ((chars & ~head) << 8);
}

// The digit values of 0 .. 999 in three bytes, the first digit in the lowest.
struct DigitTriples {
    std::uint32_t at[1000];
};
constexpr DigitTriples make_digit_triples() {
    DigitTriples t{};
    for (std::uint32_t i = 0; i < 1000; ++i)
        t.at[i] = i / 100 | (i / 10 % 10) << 8 | (i % 10) << 16;
    return t;
}
constexpr DigitTriples DIGIT_TRIPLES = make_digit_triples();

// The seven digits of d (10^6 <= d < 10^7) as values 0 .. 9 in the bytes of the result, the
// first in the lowest byte, and 0 as the eighth.
constexpr std::uint64_t digit_values7(std::uint32_t d) {
    const std::uint32_t upper = d / 1000, first = upper / 1000;
    return first | std::uint64_t{DIGIT_TRIPLES.at[upper - first * 1000]} << 8 |
           std::uint64_t{DIGIT_TRIPLES.at[d - upper * 1000]} << 32;
}
static_assert(digit_values7(1000000) == 0x0000000000000001u);
static_assert(digit_values7(9999999) == 0x0009090909090909u);
static_assert(digit_values7(1234567) == 0x0007060504030201u);
static_assert(digit_values7(9080706) == 0x0006000700080009u);

// Writes digits (10^6 <= digits < 10^7, the significant digits of the value) with decimal
// exponent k as "%g" lays them out: plain for -4 <= k <= 6, else d.dddddde+kk; trailing zeros
// after the point and a point without digits after it left out. Returns the end of the text;
// up to 13 characters from p are written.
inline char *write_g7_layout(char *p, std::uint32_t digits, int k) {
    const std::uint64_t values = digit_values7(digits);
    const std::uint64_t chars = values | ZEROS8;
    // The digits without trailing zeros: up to the highest byte that is not 0 (the first is
    // not; "| 1" tells the compiler so).
    const int n = 8 - static_cast<int>(static_cast<unsigned>(std::countl_zero(values | 1)) / 8);

    if (k >= 0 && k <= 6) {
        // ddd or ddd.dddd; without digits after it the point lies past the end.
        store8(p, insert_point(chars, k + 1));
        return p + std::max(n, k + 1) + (n > k + 1);
    }
    if (k < 0 && k >= -4) {
        // 0.ddddddd .. 0.000ddddddd
        store8(p, insert_point(ZEROS8, 1)); // "0.000000"
        p += 1 - k;
        store8(p, chars);
        return p + n;
    }
    store8(p, insert_point(chars, 1)); // d.dddddd
    p += n + (n > 1);
    p[0] = 'e';
    p[1] = k < 0 ? '-' : '+';
    p += 2;
    unsigned magnitude = static_cast<unsigned>(k < 0 ? -k : k);
    if (magnitude >= 100) {
        *p++ = static_cast<char>('0' + magnitude / 100);
        magnitude %= 100;
    }
    p[0] = static_cast<char>(DIGIT_PAIRS.at[magnitude]);
    p[1] = static_cast<char>(DIGIT_PAIRS.at[magnitude] >> 8);
    return p + 2;
}

// The exact path for values whose rounding the product leaves undecided (k >= 7 or k <= -22):
// the value written as an integer and divided, or std::to_chars.
[[gnu::noinline]] int format_g7_exact(char *out, double value, int k) {
    const double magnitude = std::fabs(value);
    if (k >= 7 && magnitude < 18446744073709551616.0 && magnitude == std::floor(magnitude)) {
        const std::uint64_t n = static_cast<std::uint64_t>(magnitude); // k <= 19 here
        const std::uint64_t unit = INTEGER_POW10.at[k - 6];
        std::uint64_t digits = n / unit;
        const std::uint64_t rest = n % unit, half = unit / 2;
        digits += rest > half || (rest == half && (digits & 1) != 0);
        if (digits == DIGITS7_END) {
            digits = DIGITS7_BEGIN;
            ++k;
        }
        char *p = out;
        if (std::signbit(value)) *p++ = '-';
        p = write_g7_layout(p, static_cast<std::uint32_t>(digits), k);
        *p = '\0';
        return static_cast<int>(p - out);
    }
    const auto r =
        std::to_chars(out, out + ADF_NUMBER_SIZE - 1, value, std::chars_format::general, 7);
    *r.ptr = '\0';
    return static_cast<int>(r.ptr - out);
}

[[gnu::noinline]] int format_nonfinite(char *out, double value) {
    const char *text = nonfinite_text(value);
    const size_t n = std::strlen(text);
    std::memcpy(out, text, n + 1);
    return static_cast<int>(n);
}

// "%1.7g" of value into out (ADF_NUMBER_SIZE characters); returns the length.
int format_g7(char *out, double value) {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
    *out = '-';
    char *p = out + (bits >> 63);
    const int biased = static_cast<int>(bits >> 52) & 0x7FF;
    const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
    // |value| = m * 2^x
    std::uint64_t m;
    int x;
    if (static_cast<unsigned>(biased - 1) < 0x7FE) { // normal: 1 .. 0x7FE
        m = (fraction | (std::uint64_t{1} << 52)) << 11;
        x = biased - 1075 - 11;
    } else if (biased == 0x7FF) {
        return format_nonfinite(out, value);
    } else if (fraction != 0) { // subnormal
        const int shift = std::countl_zero(fraction);
        m = fraction << shift;
        x = -1074 - shift;
    } else {
        *p++ = '0';
        *p = '\0';
        return static_cast<int>(p - out);
    }

    const int e = x + 63; // 2^e <= |value| < 2^(e+1)
    int k = floor_log10_pow2(e) + (m >= NEXT_POW10.at[e - EXP2_MIN]);

    const Pow10 &scale = pow10_of(6 - k);
    const Product q = multiply(m, scale.sig);
    // q = |value| * 10^(6-k) * 2^(64 + shift): the binary point lies shift bits into q.hi
    // (39 to 44 bits, as 2^19 < 10^6 <= |value| * 10^(6-k) < 10^7 < 2^24 and
    // 2^126 <= m * sig < 2^128). below: the bits of q.hi under the point, moved to the top.
    const int shift = -(x + scale.exp2) - 64;
    std::uint64_t digits = q.hi >> shift;
    const std::uint64_t below = q.hi << (64 - shift);
    constexpr std::uint64_t HALF = std::uint64_t{1} << 63;
    // With an inexact power the true product lies in (q, q + m): undecided if that interval
    // reaches one half, that is, if m carries q.lo over and q.hi + 1 holds one half exactly.
    if (scale.inexact && q.lo > ~m && ((q.hi + 1) << (64 - shift)) == HALF)
        return format_g7_exact(out, value, k);
    // below is a multiple of 2^(64 - shift) >= 2^20: setting its lowest bit moves it above one
    // half only if it is one half. That rounds up if the exact q lies above one half (bits in
    // q.lo, or an inexact power) or on it with odd digits.
    const std::uint64_t nudge = scale.inexact | (q.lo != 0) | (digits & 1);
    digits += (below | nudge) > HALF;
    if (digits == DIGITS7_END) {
        digits = DIGITS7_BEGIN;
        ++k;
    }
    p = write_g7_layout(p, static_cast<std::uint32_t>(digits), k);
    *p = '\0';
    return static_cast<int>(p - out);
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
        no_prefixed(a);
        // N + 1 slots of n values; a product beyond the address space is a memory shortage.
        const size_t slot_count = static_cast<size_t>(a->window_size) + 1;
        if (n > 0 && slot_count > a->slots.max_size() / static_cast<size_t>(n))
            return ADF_ERR_MEMORY;
        a->slots.assign(static_cast<size_t>(n) * slot_count, 0.0);
        a->repeats.assign(channels, 1);
        a->time_pos = a->angle_pos = -1;
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
                if (a->time_pos >= 0) {
                    no_prefixed(a);
                    return ADF_ERR_TIME;
                }
                a->kinds[i] = ADF_TIME;
                a->time_pos = i;
            } else if (adf_is_angle_name(names[i].c_str())) {
                if (a->angle_pos >= 0) {
                    no_prefixed(a);
                    return ADF_ERR_ANGLE;
                }
                a->kinds[i] = ADF_ANGLE;
                a->angle_pos = i;
            }
            if (list) {
                names[i].erase(0, 2);
                list->push_back(i);
            }
        }
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
    // The characters of printf's "%.7g" in the "C" locale, whatever the program's locale.
    return format_g7(out, value);
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
        adf->first_length = 0;
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
    case ADF_S: adf->s_list.push_back(col); break;
    case ADF_R: adf->r_list.push_back(col); break;
    case ADF_T: adf->t_list.push_back(col); break;
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
        adf->first_length = 0;
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
            if (i == 0) adf->first_length = pos - 1;
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

const char *adf_line_first_text(const adf_file *adf, std::size_t *length) {
    if (!is_writer(adf) || adf->first_length == 0) return nullptr;
    *length = adf->first_length;
    return adf->line.data() + 1;
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
    const std::vector<long> *list = prefixed_list(adf, kind);
    return list != nullptr ? static_cast<long>(list->size()) : 0;
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
