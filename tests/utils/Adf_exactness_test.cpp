// adf_format_default writes the bytes of snprintf("%1.7g") for every double: compared with
// snprintf on sets of values chosen where a formatter goes wrong (powers of ten and of two,
// rounding boundaries and halfway cases, subnormals, the extremes, random bit patterns) and on
// the shapes of the converter's values; values that are not finite against their fixed
// spellings. All seven-digit mantissas at a few exponents are compared with the text their
// digits give (checked against snprintf on every 1000th). bench/fmt_sweep.cpp runs the full
// sweeps (all float32 values, the boundaries at every exponent).
#include "Adf.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <ostream>
#include <random>
#include <string>

namespace {

constexpr int CANARY = 48; // bytes checked beyond the formatter's ADF_NUMBER_SIZE

double from_bits(std::uint64_t bits) {
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

double next_up(double v, int steps) {
    for (; steps > 0; --steps) v = std::nextafter(v, HUGE_VAL);
    for (; steps < 0; ++steps) v = std::nextafter(v, -HUGE_VAL);
    return v;
}

// A number's text.
struct Text {
    char c[64];
    size_t n = 0;
    bool operator==(const Text &o) const { return n == o.n && std::memcmp(c, o.c, n) == 0; }
    std::string str() const { return std::string(c, n); }
};

Text text_of(const char *s) {
    Text t;
    t.n = std::strlen(s);
    std::memcpy(t.c, s, t.n);
    return t;
}

// The formatter's text; the result must be its length, the text ended by a zero byte within
// ADF_NUMBER_SIZE characters, and nothing written beyond them.
Text formatted(double v) {
    static const char untouched[CANARY] = {};
    char out[ADF_NUMBER_SIZE + CANARY] = {};
    const int n = adf_format_default(out, v);
    if (n <= 0 || n >= ADF_NUMBER_SIZE || out[n] != '\0' || std::strlen(out) != size_t(n))
        return text_of("<bad length>");
    if (std::memcmp(out + ADF_NUMBER_SIZE, untouched, CANARY) != 0)
        return text_of("<written beyond ADF_NUMBER_SIZE>");
    Text t;
    t.n = static_cast<size_t>(n);
    std::memcpy(t.c, out, t.n);
    return t;
}

// The reference: printf for finite values, the writer's spellings for the others.
Text printed(double v) {
    if (std::isnan(v)) return text_of(std::signbit(v) ? "-nan" : "nan");
    if (std::isinf(v)) return text_of(v < 0 ? "-inf" : "inf");
    Text t;
    t.n = static_cast<size_t>(std::snprintf(t.c, sizeof t.c, "%1.7g", v));
    return t;
}

// The text of "%1.7g" for a value whose seven significant digits are d[0] .. d[6] (d[0] not
// '0') with decimal exponent k, built from the digits: plain for -4 <= k <= 6, else with an
// exponent of at least two digits; trailing zeros and a bare point dropped.
void lay_out(Text &t, bool negative, const char *d, int k) {
    int n = 7; // significant digits
    while (n > 1 && d[n - 1] == '0') --n;
    char *p = t.c;
    if (negative) *p++ = '-';
    if (k >= 0 && k <= 6) {
        std::memcpy(p, d, static_cast<size_t>(k) + 1);
        p += k + 1;
        if (n > k + 1) {
            *p++ = '.';
            std::memcpy(p, d + k + 1, static_cast<size_t>(n - k - 1));
            p += n - k - 1;
        }
    } else if (k < 0 && k >= -4) {
        std::memcpy(p, "0.000", static_cast<size_t>(1 - k)); // "0." and -k - 1 zeros
        p += 1 - k;
        std::memcpy(p, d, static_cast<size_t>(n));
        p += n;
    } else {
        *p++ = d[0];
        if (n > 1) {
            *p++ = '.';
            std::memcpy(p, d + 1, static_cast<size_t>(n - 1));
            p += n - 1;
        }
        *p++ = 'e';
        *p++ = k < 0 ? '-' : '+';
        const int e = k < 0 ? -k : k;
        if (e >= 100) *p++ = static_cast<char>('0' + e / 100);
        *p++ = static_cast<char>('0' + e / 10 % 10);
        *p++ = static_cast<char>('0' + e % 10);
    }
    t.n = static_cast<size_t>(p - t.c);
}

Text laid_out(bool negative, long long digits, int k) {
    const std::string d = std::to_string(digits);
    Text t;
    lay_out(t, negative, d.c_str(), k);
    return t;
}

// Counts the values compared and the differences, and keeps the first few.
struct Tally {
    long long checked = 0;
    long long differences = 0;
    std::string first;

    void expect(double v, const Text &want) {
        ++checked;
        const Text got = formatted(v);
        if (got == want) return;
        if (++differences <= 10) {
            char hex[64];
            std::snprintf(hex, sizeof hex, "%a", v);
            first +=
                std::string("\n  ") + hex + ": \"" + got.str() + "\", want \"" + want.str() + "\"";
        }
    }
    void compare(double v) { expect(v, printed(v)); }
    void compare_signed(double v) {
        compare(v);
        compare(-v);
    }
};

// ---------------------------------------------------------------------------------------------
// The sets of values

void powers_of_ten(Tally &t) {
    for (int j = -323; j <= 308; ++j) {
        const double p = std::strtod(("1e" + std::to_string(j)).c_str(), nullptr);
        for (int step = -2; step <= 2; ++step) t.compare_signed(next_up(p, step));
    }
}

void powers_of_two(Tally &t) {
    for (int e = -1074; e <= 1023; ++e) {
        const double p = std::ldexp(1.0, e);
        for (int step = -2; step <= 2; ++step) t.compare_signed(next_up(p, step));
    }
}

// All 10^6 .. 10^7 - 1 as digits of the values nearest to digits * 10^(k-6): one exact
// multiplication or division (|k - 6| <= 22, so the power of ten is a double) rounds
// correctly, and the nearest double, within 2^-53 of the decimal, rounds back to its digits.
// The digits count up as characters; the expected text is compared without the checks of
// formatted(), which the other sets make, to keep the 9 million values quick.
void mantissas_at(Tally &t, int k) {
    double scale = 1.0;
    for (int i = 0; i < std::abs(k - 6); ++i) scale *= 10.0; // every step exact
    char d[8] = "1000000";
    Text want;
    for (long long digits = 1000000; digits < 10000000; ++digits) {
        const double v =
            k >= 6 ? static_cast<double>(digits) * scale : static_cast<double>(digits) / scale;
        if (digits % 1000 == 7) {
            t.compare(v);
            t.compare(-v);
        }
        lay_out(want, false, d, k);
        char out[ADF_NUMBER_SIZE];
        const int n = adf_format_default(out, v);
        ++t.checked;
        if (n != static_cast<int>(want.n) || std::memcmp(out, want.c, want.n) != 0 || out[n])
            t.expect(v, want); // counts it again and records the difference
        for (int i = 6; i >= 0 && d[i]++ == '9'; --i) d[i] = '0';
    }
}
void mantissas_e_minus_5(Tally &t) { // exponent form, exact power 10^11
    mantissas_at(t, -5);
}
void mantissas_e_2(Tally &t) { // plain with a point, exact power 10^4
    mantissas_at(t, 2);
}
void mantissas_e_9(Tally &t) { // exponent form, inexact power 10^-3
    mantissas_at(t, 9);
}

// Values next to d.dddddd5 * 10^k (the nearest double and one and two steps either side),
// k over the whole range, both signs.
void boundary_neighbours(Tally &t) {
    std::mt19937_64 rng(0xB0);
    std::uniform_int_distribution<long long> digits(1000000, 9999999);
    std::uniform_int_distribution<int> exponent(-324, 308);
    for (int i = 0; i < 100000; ++i) {
        char text[40];
        std::snprintf(text, sizeof text, "%lld5e%d", digits(rng), exponent(rng) - 7);
        const double b = std::strtod(text, nullptr);
        if (!std::isfinite(b)) continue;
        const double sign = i % 2 ? -1.0 : 1.0;
        for (int step = -2; step <= 2; ++step) t.compare(sign * next_up(b, step));
    }
}

// Exact halfway cases: d.dddddd5 * 10^k as doubles. For k = 7 - j < 7 the value
// (2 * digits + 1) / (2^j * 5^(j-1)) is a double if 5^(j-1) divides 2 * digits + 1; for k >= 7
// it is an integer, a double up to 2^53.
void halfway_cases(Tally &t) {
    std::mt19937_64 rng(0xA1F);
    long long five = 1;
    for (int j = 1; j <= 11; five *= 5, ++j) {
        const long long first = (2000001 + five - 1) / five, last = 19999999 / five;
        std::uniform_int_distribution<long long> multiple(first, last);
        for (int i = 0; i < 6000; ++i) {
            long long odd = multiple(rng) * five;
            if (odd % 2 == 0) odd += five; // odd multiples only
            if (odd > 19999999) continue;
            const long long digits = (odd - 1) / 2;
            char text[40];
            std::snprintf(text, sizeof text, "%lld5e-%d", digits, j);
            t.compare_signed(std::strtod(text, nullptr));
        }
    }
    std::uniform_int_distribution<long long> digits(1000000, 9999999);
    for (int power = 0; power <= 11; ++power) {
        for (int i = 0; i < 6000; ++i) {
            char text[40];
            std::snprintf(text, sizeof text, "%lld5e%d", digits(rng), power);
            t.compare_signed(std::strtod(text, nullptr));
        }
    }
}

void subnormals(Tally &t) {
    std::mt19937_64 rng(0x5AB);
    for (int i = 0; i < 100000; ++i) t.compare(from_bits(rng() & 0x800FFFFFFFFFFFFFu));
    for (int bit = 0; bit < 52; ++bit) {
        const std::uint64_t one = std::uint64_t{1} << bit;
        t.compare_signed(from_bits(one));
        t.compare_signed(from_bits((one << 1) - 1)); // all bits up to this one
    }
}

void extremes(Tally &t) {
    for (double v :
         {0.0, DBL_TRUE_MIN, 2 * DBL_TRUE_MIN, 3 * DBL_TRUE_MIN, DBL_MIN, DBL_MAX, DBL_EPSILON, 1.0,
          1e-5, 1e-4, 1e7, 1e22, 1e23, 1e300, 1e308, std::numeric_limits<double>::infinity()})
        for (int step = -2; step <= 2; ++step) t.compare_signed(next_up(v, step));
}

void random_bits(Tally &t) {
    std::mt19937_64 rng(0xADF2);
    for (int i = 0; i < 300000; ++i) t.compare(from_bits(rng()));
}

// Counters and raw values up to 2^32: the small ones all, the others at random, halfway
// cases among them (eight to ten digits ending in 5 and zeros) on purpose.
void integers(Tally &t) {
    for (long long i = 0; i <= 50000; ++i) t.compare(static_cast<double>(i));
    std::mt19937_64 rng(0x1E7);
    for (int i = 0; i < 150000; ++i)
        t.compare(static_cast<double>(static_cast<std::uint32_t>(rng()) >> (rng() % 32)));
    std::uniform_int_distribution<long long> digits(1000000, 9999999);
    for (long long scale : {1LL, 10LL, 100LL}) {
        for (int i = 0; i < 30000; ++i) {
            const long long n = (10 * digits(rng) + 5) * scale;
            if (n <= 4294967296LL) t.compare_signed(static_cast<double>(n));
        }
    }
    for (long long n = 4294967296LL - 2000; n <= 4294967296LL; ++n)
        t.compare(static_cast<double>(n));
}

// float32 values widened to double, the converter's most common source.
void float32_values(Tally &t) {
    std::mt19937 rng(0xF32);
    for (int i = 0; i < 300000; ++i) {
        const std::uint32_t bits = static_cast<std::uint32_t>(rng());
        float f;
        std::memcpy(&f, &bits, sizeof f);
        t.compare(static_cast<double>(f));
    }
}

// Linear conversions of raw integers (factor and offset) and linear interpolations between
// float32 table points, as the converter computes them.
void conversions(Tally &t) {
    struct Linear {
        double factor, offset;
    };
    for (Linear c : {Linear{0.1, 0.0}, Linear{0.01, -40.0}, Linear{0.001, 0.0},
                     Linear{1.0 / 3.0, 0.0}, Linear{0.0625, 273.15}, Linear{0.05, -100.0}})
        for (long long raw = -32768; raw <= 32767; ++raw)
            t.compare(static_cast<double>(raw) * c.factor + c.offset);
    std::mt19937 rng(0x1E5);
    std::uniform_real_distribution<float> point(-5000.0f, 5000.0f);
    std::uniform_int_distribution<int> x(0, 1000);
    for (int i = 0; i < 100000; ++i) {
        const double y0 = point(rng), y1 = point(rng);
        const int x0 = x(rng), x1 = x0 + 1 + x(rng), at = x0 + x(rng) % (x1 - x0 + 1);
        t.compare(y0 + (y1 - y0) * (at - x0) / (x1 - x0));
    }
}

struct ValueSet {
    const char *name;
    void (*run)(Tally &);
    long long minimum; // values the set compares at least
};

const ValueSet VALUE_SETS[] = {
    {"PowersOfTen", powers_of_ten, 632 * 10},
    {"PowersOfTwo", powers_of_two, 2098 * 10},
    {"MantissasExponentMinus5", mantissas_e_minus_5, 9000000},
    {"MantissasExponent2", mantissas_e_2, 9000000},
    {"MantissasExponent9", mantissas_e_9, 9000000},
    {"BoundaryNeighbours", boundary_neighbours, 450000},
    {"HalfwayCases", halfway_cases, 230000},
    {"Subnormals", subnormals, 100000},
    {"Extremes", extremes, 150},
    {"RandomBits", random_bits, 300000},
    {"Integers", integers, 290000},
    {"Float32Values", float32_values, 300000},
    {"Conversions", conversions, 6 * 65536 + 100000},
};

void PrintTo(const ValueSet &set, std::ostream *os) {
    *os << set.name;
}

class AdfExactness : public testing::TestWithParam<ValueSet> {};

TEST_P(AdfExactness, SameBytesAsPrintf) {
    Tally t;
    GetParam().run(t);
    EXPECT_GE(t.checked, GetParam().minimum);
    EXPECT_EQ(t.differences, 0) << t.checked << " values compared; first differences:" << t.first;
}

INSTANTIATE_TEST_SUITE_P(Sets, AdfExactness, testing::ValuesIn(VALUE_SETS),
                         [](const testing::TestParamInfo<ValueSet> &info) {
                             return std::string(info.param.name);
                         });

// ---------------------------------------------------------------------------------------------
// Single values whose text is known

struct Spelled {
    double value;
    const char *text;
};

const Spelled SPELLED[] = {
    {9999999.5, "1e+07"},      // the carry makes the exponent 7: exponent form
    {9.9999996e-05, "0.0001"}, // the carry makes the exponent -4: plain
    {9999999.0, "9999999"},
    {10000000.0, "1e+07"},
    {0.0001, "0.0001"},
    {0.00001, "1e-05"},
    {0.000123456789, "0.0001234568"},
    {1234567.5, "1234568"}, // halfway: to even
    {1234568.5, "1234568"},
    {12345665.0, "1.234566e+07"},
    {12345675.0, "1.234568e+07"},
    {123456.25, "123456.2"},
    {123456.75, "123456.8"},
    {0.5, "0.5"},
    {100.0, "100"},
    {120.5, "120.5"},
    {-1.5e-300, "-1.5e-300"},
    {1e100, "1e+100"},
    {0.0, "0"},
    {-0.0, "-0"},
    {DBL_MAX, "1.797693e+308"},
    {DBL_MIN, "2.225074e-308"},
    {DBL_TRUE_MIN, "4.940656e-324"},
    {4294967295.0, "4.294967e+09"},
    {16777217.0, "1.677722e+07"},
    {static_cast<double>(0.1f), "0.1"},
};

TEST(AdfExactnessSpelled, KnownTexts) {
    for (const Spelled &s : SPELLED) {
        SCOPED_TRACE(s.text);
        EXPECT_EQ(formatted(s.value).str(), s.text);
        EXPECT_EQ(printed(s.value).str(), s.text); // the table itself agrees with printf
    }
}

struct NonFinite {
    std::uint64_t bits;
    const char *text;
};

const NonFinite NON_FINITE[] = {
    {0x7FF0000000000000u, "inf"}, {0xFFF0000000000000u, "-inf"},
    {0x7FF8000000000000u, "nan"}, {0xFFF8000000000000u, "-nan"},
    {0x7FF0000000000001u, "nan"}, {0xFFF0000000000001u, "-nan"}, // signalling
    {0x7FFFFFFFFFFFFFFFu, "nan"}, {0xFFF8000000000123u, "-nan"}, // payloads
};

TEST(AdfExactnessSpelled, ValuesThatAreNotFinite) {
    for (const NonFinite &n : NON_FINITE) {
        SCOPED_TRACE(n.text);
        EXPECT_EQ(formatted(from_bits(n.bits)).str(), n.text);
    }
}

// The text built from digits, which the mantissa sets compare with, is printf's.
TEST(AdfExactnessSpelled, LaidOutDigitsArePrintfs) {
    struct Case {
        long long digits;
        int k;
    };
    for (Case c : {Case{1000000, -5}, Case{1200000, -4}, Case{1234567, -1}, Case{1000000, 0},
                   Case{1234500, 2}, Case{1234567, 6}, Case{1000000, 6}, Case{9999999, 7},
                   Case{1000000, 100}, Case{1234560, -300}}) {
        const double v = std::strtod(
            (std::to_string(c.digits) + "e" + std::to_string(c.k - 6)).c_str(), nullptr);
        EXPECT_EQ(laid_out(false, c.digits, c.k).str(), printed(v).str());
        EXPECT_EQ(laid_out(true, c.digits, c.k).str(), printed(-v).str());
    }
}

} // namespace
