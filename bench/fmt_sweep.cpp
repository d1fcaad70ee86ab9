// The full sweeps of the default number format (adf_format_default) against printf's "%1.7g":
//
//   floats      every float32 value (all 2^32 bit patterns) widened to double;
//   boundaries  at every decimal exponent k (-324 .. 308) and for every seven-digit mantissa
//               the doubles next to the rounding boundary d.dddddd5 * 10^k: the largest one
//               below it and the smallest one above it, and the boundary itself where it is a
//               double or too close to one to tell.
//
// Usage: fmt_sweep [floats|boundaries|all] [every N]. "every N" takes every Nth value or
// mantissa only, for a quick run. Prints the counts of values checked and of differences, and
// ends with status 1 if there is any difference.
//
// snprintf takes about 0.2 us per value, too slow for 2^32 and more values. The expected text
// is therefore computed here, independently of the formatter: a value's digits come from
// long double arithmetic (64-bit significand, powers of ten read by strtold, correctly
// rounded), whose error bound says when they are certain; where they are not (halfway cases
// and values within 2^-61 of one, values near a power of ten) snprintf gives the text. Next to
// a boundary d.dddddd5 * 10^k the digits are known outright: d.dddddd below it, one more above
// it (the doubles there are closer to it than 10^(k-6) / 2). Every 1024th value is compared
// with snprintf besides, which checks these expected texts too.
#include "Adf.h"

#include <cfloat>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int K_MIN = -324, K_MAX = 308; // decimal exponents of finite doubles
constexpr std::uint32_t DIGITS_BEGIN = 1000000, DIGITS_END = 10000000;
constexpr std::uint64_t PRINTF_SAMPLE = 1024; // every 1024th value also against snprintf

struct Text {
    char c[48];
    int n = 0;
    bool operator==(const Text &o) const { return n == o.n && std::memcmp(c, o.c, n) == 0; }
};

struct Counts {
    std::uint64_t checked = 0;     // values compared with the formatter
    std::uint64_t by_printf = 0;   // of them with snprintf's text
    std::uint64_t differences = 0; // formatter differs
    std::uint64_t unsure = 0;      // expected texts that snprintf contradicts (must be 0)
    std::uint64_t skipped = 0;     // boundaries above the largest double
};

// 10^j in long double, j = POW_MIN .. POW_MAX, correctly rounded; exact for 0 .. 27.
constexpr int POW_MIN = K_MIN - 7, POW_MAX = 6 - K_MIN; // 10^(k-7) .. 10^(6-k)
long double powers[POW_MAX - POW_MIN + 1];

void read_powers() {
    for (int j = POW_MIN; j <= POW_MAX; ++j)
        powers[j - POW_MIN] = std::strtold(("1e" + std::to_string(j)).c_str(), nullptr);
}
long double pow10l(int j) {
    if (j < POW_MIN || j > POW_MAX) std::abort();
    return powers[j - POW_MIN];
}
// a is too close to 10^j for the rounded power to tell on which side it lies.
bool near_power(long double a, int j) {
    if (j >= 0 && j <= 27) return false;
    return std::fabs(a - pow10l(j)) <= pow10l(j) * 0x1p-61L;
}

Text printed(double v) {
    Text t;
    if (std::isnan(v)) {
        t.n = std::signbit(v) ? 4 : 3;
        std::memcpy(t.c, std::signbit(v) ? "-nan" : "nan", 5);
    } else if (std::isinf(v)) {
        t.n = v < 0 ? 4 : 3;
        std::memcpy(t.c, v < 0 ? "-inf" : "inf", 5);
    } else {
        t.n = std::snprintf(t.c, sizeof t.c, "%1.7g", v);
    }
    return t;
}

Text formatted(double v) {
    Text t;
    t.n = adf_format_default(t.c, v);
    if (t.n <= 0 || t.n >= ADF_NUMBER_SIZE || t.c[t.n] != '\0') t.n = -1;
    return t;
}

void digits_of(char *d, std::uint32_t digits) {
    for (int i = 6; i >= 0; --i, digits /= 10) d[i] = static_cast<char>('0' + digits % 10);
}

// "%1.7g" of seven significant digits d[0..6] with decimal exponent k.
void lay_out(Text &t, bool negative, const char *d, int k) {
    int n = 7;
    while (n > 1 && d[n - 1] == '0') --n;
    char *p = t.c;
    if (negative) *p++ = '-';
    if (k >= 0 && k <= 6) {
        for (int i = 0; i <= k; ++i) *p++ = d[i];
        if (n > k + 1) *p++ = '.';
        for (int i = k + 1; i < n; ++i) *p++ = d[i];
    } else if (k < 0 && k >= -4) {
        *p++ = '0';
        *p++ = '.';
        for (int i = -1; i > k; --i) *p++ = '0';
        for (int i = 0; i < n; ++i) *p++ = d[i];
    } else {
        *p++ = d[0];
        if (n > 1) *p++ = '.';
        for (int i = 1; i < n; ++i) *p++ = d[i];
        *p++ = 'e';
        *p++ = k < 0 ? '-' : '+';
        const int e = k < 0 ? -k : k;
        if (e >= 100) *p++ = static_cast<char>('0' + e / 100);
        *p++ = static_cast<char>('0' + e / 10 % 10);
        *p++ = static_cast<char>('0' + e % 10);
    }
    t.n = static_cast<int>(p - t.c);
}

// The text of a finite value other than zero from long double arithmetic; false where that
// cannot decide. q = |v| * 10^(6-k) carries the errors of the power and of the product, each
// at most 2^-64 of q: the digits are certain unless q lies within 2^-61 * q of a halfway point.
bool computed(double v, Text &t) {
    const long double a = std::fabs(static_cast<long double>(v));
    int e2;
    std::frexp(a, &e2); // 2^(e2-1) <= a < 2^e2
    int k = static_cast<int>(std::floor((e2 - 1) * 0.30102999566398119521L));
    for (;;) { // 10^k <= a < 10^(k+1)
        if (near_power(a, k) || near_power(a, k + 1)) return false;
        if (a < pow10l(k))
            --k;
        else if (a >= pow10l(k + 1))
            ++k;
        else
            break;
    }
    const long double q = a * pow10l(6 - k);
    std::uint64_t digits = static_cast<std::uint64_t>(q);
    const long double below = q - static_cast<long double>(digits);
    if (std::fabs(below - 0.5L) <= q * 0x1p-61L) return false;
    digits += below > 0.5L;
    if (digits == DIGITS_END) {
        digits = DIGITS_BEGIN;
        ++k;
    }
    char d[7];
    digits_of(d, static_cast<std::uint32_t>(digits));
    lay_out(t, std::signbit(v), d, k);
    return true;
}

void report_difference(Counts &c, double v, const Text &got, const Text &want) {
    if (++c.differences <= 20)
        std::printf("  DIFFERENCE %a: \"%.*s\", printf \"%.*s\"\n", v, got.n > 0 ? got.n : 0, got.c,
                    want.n, want.c);
}

// Compares the formatter with the expected text (given, or computed here, or printf's).
void check(Counts &c, double v, const Text *given, bool sample) {
    Text want;
    bool have = false;
    if (given) {
        want = *given;
        have = true;
    } else if (std::isfinite(v) && v != 0) {
        have = computed(v, want);
    }
    if (!have || sample) {
        const Text p = printed(v);
        if (have && !(p == want)) {
            if (++c.unsure <= 20)
                std::printf("  EXPECTED TEXT WRONG %a: \"%.*s\", printf \"%.*s\"\n", v, want.n,
                            want.c, p.n, p.c);
        }
        want = p;
        ++c.by_printf;
    }
    ++c.checked;
    const Text got = formatted(v);
    if (!(got == want)) report_difference(c, v, got, want);
}

void sweep_floats(Counts &c, std::uint64_t every) {
    const auto start = std::chrono::steady_clock::now();
    for (std::uint64_t bits = 0; bits < (std::uint64_t{1} << 32); bits += every) {
        const std::uint32_t b = static_cast<std::uint32_t>(bits);
        float f;
        std::memcpy(&f, &b, sizeof f);
        check(c, static_cast<double>(f), nullptr, bits % PRINTF_SAMPLE == 0);
        if ((bits & 0x0FFFFFFF) == 0 && bits)
            std::fprintf(
                stderr, "floats: %2.0f%%, %.0f s\n", 100.0 * bits / 4294967296.0,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
}

// Below k = -300 the doubles are subnormal or close to it: their spacing is not far below
// 10^(k-6), so the digits of the neighbours are computed rather than taken as known.
constexpr int K_KNOWN_MIN = -300;

void sweep_boundaries(Counts &c, std::uint64_t every) {
    const auto start = std::chrono::steady_clock::now();
    std::uint64_t count = 0;
    for (int k = K_MIN; k <= K_MAX; ++k) {
        const long double unit = pow10l(k - 7);
        char d[8] = "1000000", next[8];
        Text below_text, above_text;
        lay_out(below_text, false, d, k);
        for (std::uint32_t digits = DIGITS_BEGIN; digits < DIGITS_END; ++digits) {
            // The texts of digits and digits + 1 (the latter carried into k + 1 at 10^7).
            std::memcpy(next, d, 8);
            int i = 6;
            while (i >= 0 && next[i] == '9') next[i--] = '0';
            if (i >= 0) {
                ++next[i];
                lay_out(above_text, false, next, k);
            } else {
                lay_out(above_text, false, "1000000", k + 1);
            }
            if (++count % every == 0) {
                // The boundary in long double, within 2^-63 of it (power and product rounded).
                const long double boundary = static_cast<long double>(10 * digits + 5) * unit;
                if (boundary > static_cast<long double>(DBL_MAX)) {
                    ++c.skipped;
                } else {
                    const double nearest = static_cast<double>(boundary);
                    const long double off = static_cast<long double>(nearest) - boundary;
                    const long double tolerance = boundary * 0x1p-61L;
                    double below = nearest, above = nearest;
                    if (off < -tolerance) {
                        above = std::nextafter(nearest, HUGE_VAL);
                    } else if (off > tolerance) {
                        below = std::nextafter(nearest, 0.0);
                    } else { // on the boundary or too close to tell: printf's text
                        below = std::nextafter(nearest, 0.0);
                        above = std::nextafter(nearest, HUGE_VAL);
                        check(c, nearest, nullptr, true);
                    }
                    const bool sample = count % PRINTF_SAMPLE == 0;
                    const bool known = k >= K_KNOWN_MIN;
                    if (below > 0) check(c, below, known ? &below_text : nullptr, sample);
                    if (std::isfinite(above))
                        check(c, above, known ? &above_text : nullptr, sample);
                }
            }
            std::memcpy(d, next, 8);
            below_text = above_text;
        }
        if ((k - K_MIN) % 50 == 49)
            std::fprintf(
                stderr, "boundaries: k = %d, %.0f s\n", k,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
}

void print_counts(const char *name, const Counts &c, double seconds) {
    std::printf("%-10s checked %llu values (%llu with printf's text), differences %llu, "
                "expected texts contradicted by printf %llu",
                name, static_cast<unsigned long long>(c.checked),
                static_cast<unsigned long long>(c.by_printf),
                static_cast<unsigned long long>(c.differences),
                static_cast<unsigned long long>(c.unsure));
    if (c.skipped)
        std::printf(", boundaries above DBL_MAX %llu", static_cast<unsigned long long>(c.skipped));
    std::printf(", %.0f s\n", seconds);
}

} // namespace

int main(int argc, char **argv) {
    std::string what = argc > 1 ? argv[1] : "all";
    std::uint64_t every = 1;
    if (argc > 3 && std::strcmp(argv[2], "every") == 0) every = std::strtoull(argv[3], nullptr, 10);
    if ((what != "floats" && what != "boundaries" && what != "all") || every == 0) {
        std::fprintf(stderr, "usage: fmt_sweep [floats|boundaries|all] [every N]\n");
        return 2;
    }
    read_powers();
    bool differ = false;
    if (what != "boundaries") {
        Counts c;
        const auto start = std::chrono::steady_clock::now();
        sweep_floats(c, every);
        print_counts(
            "floats", c,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        std::fflush(stdout);
        differ = differ || c.differences || c.unsure;
    }
    if (what != "floats") {
        Counts c;
        const auto start = std::chrono::steady_clock::now();
        sweep_boundaries(c, every);
        print_counts(
            "boundaries", c,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        differ = differ || c.differences || c.unsure;
    }
    return differ ? 1 : 0;
}
