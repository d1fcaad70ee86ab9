// The default number format of the writer gives the bytes of printf's "%1.7g", checked against
// snprintf on a large set of doubles, and writes the same file as the printf path.
#include "Adf.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace {

std::string fast(double v) {
    char out[ADF_NUMBER_SIZE];
    std::memset(out, 'Z', sizeof out);
    const int n = adf_format_default(out, v);
    EXPECT_GT(n, 0);
    EXPECT_LT(n, ADF_NUMBER_SIZE);
    EXPECT_EQ(out[n], '\0');
    return std::string(out, static_cast<size_t>(n));
}

// What printf writes in the "C" locale; the spellings of values that are not finite are those
// of every platform's ADF files.
std::string printf_text(double v) {
    if (std::isnan(v)) return std::signbit(v) ? "-nan" : "nan";
    if (std::isinf(v)) return v < 0 ? "-inf" : "inf";
    char out[64];
    std::snprintf(out, sizeof out, "%1.7g", v);
    return out;
}

double from_bits(std::uint64_t bits) {
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// Compares a set of values and reports the first few differences.
void expect_same(const std::vector<double> &values, const char *set) {
    int failures = 0;
    for (double v : values) {
        const std::string want = printf_text(v);
        const std::string got = fast(v);
        if (got != want && ++failures <= 10) {
            ADD_FAILURE() << set << ": " << std::hexfloat << v << " fast \"" << got
                          << "\" printf \"" << want << "\"";
        }
    }
    EXPECT_EQ(failures, 0) << set << ": " << values.size() << " values";
}

TEST(AdfFormat, RandomBitPatterns) {
    std::mt19937_64 rng(0xADF);
    std::vector<double> values;
    for (int i = 0; i < 1000000; ++i) values.push_back(from_bits(rng()));
    expect_same(values, "random bits");
}

TEST(AdfFormat, RandomDecimalsOfEveryMagnitude) {
    std::mt19937_64 rng(7);
    std::uniform_int_distribution<long long> mantissa(1, 99999999);
    std::uniform_int_distribution<int> exponent(-330, 310);
    std::vector<double> values;
    for (int i = 0; i < 300000; ++i) {
        char text[48];
        std::snprintf(text, sizeof text, "%lld.%lldE%d", mantissa(rng) % 100, mantissa(rng),
                      exponent(rng));
        values.push_back(std::strtod(text, nullptr));
    }
    expect_same(values, "random decimals");
}

TEST(AdfFormat, PowersOfTenAndTheirNeighbours) {
    std::vector<double> values;
    for (int e = -325; e <= 309; ++e) {
        const double p = std::strtod(("1e" + std::to_string(e)).c_str(), nullptr);
        for (double v : {p, std::nextafter(p, 0.0), std::nextafter(p, HUGE_VAL)}) {
            for (double m : {1.0, 9.9999995, 9.999999, 9.9999994999, 5.0, 0.99999995}) {
                values.push_back(v * m);
                values.push_back(-v * m);
            }
        }
    }
    expect_same(values, "powers of ten");
    // The switch to exponent form at 1e-5 and 1e7.
    EXPECT_EQ(fast(0.0001), "0.0001");
    EXPECT_EQ(fast(0.00001), "1e-05");
    EXPECT_EQ(fast(9999999.0), "9999999");
    EXPECT_EQ(fast(10000000.0), "1e+07");
    EXPECT_EQ(fast(99999995.0), "1e+08");
    EXPECT_EQ(fast(1.0e-310), "1e-310");
}

// Values whose eighth significant digit is an exact 5: rounded to even, as printf does.
TEST(AdfFormat, HalfwayCases) {
    std::vector<double> values;
    for (long k = 1000000; k < 10000000; k += 97) values.push_back(k + 0.5); // k.5
    for (long k = 100000; k < 1000000; k += 31) {                            // k.25, k.75
        values.push_back(k + 0.25);
        values.push_back(k + 0.75);
    }
    for (long k = 10000; k < 100000; k += 7) { // k.125 ... k.875
        values.push_back(k + 0.125);
        values.push_back(k + 0.375);
        values.push_back(k + 0.625);
        values.push_back(k + 0.875);
    }
    for (long k = 1000000; k < 10000000; k += 997) { // 8 digits ending in 5, times powers of ten
        const double base = 10.0 * k + 5;
        for (double scale : {1.0, 10.0, 100.0, 1e6, 1e8}) values.push_back(base * scale);
    }
    for (size_t i = 0, n = values.size(); i < n; ++i) values.push_back(-values[i]);
    expect_same(values, "halfway");
    EXPECT_EQ(fast(1234567.5), "1234568");
    EXPECT_EQ(fast(1234568.5), "1234568");
    EXPECT_EQ(fast(12345665.0), "1.234566e+07");
}

TEST(AdfFormat, SubnormalsAndLimits) {
    std::mt19937_64 rng(11);
    std::vector<double> values;
    for (int i = 0; i < 200000; ++i) {
        const std::uint64_t bits = rng() & 0x800FFFFFFFFFFFFFull; // exponent field 0
        values.push_back(from_bits(bits));
    }
    for (double v : {0.0, -0.0, DBL_MIN, DBL_MAX, DBL_EPSILON, DBL_TRUE_MIN,
                     std::nextafter(DBL_MIN, 0.0), std::nextafter(DBL_MAX, 0.0), 1.0, -1.0, 0.1,
                     0.3, 2.0 / 3, 1e22, 1e23, 9007199254740993.0})
        values.push_back(v);
    expect_same(values, "subnormals and limits");
    EXPECT_EQ(fast(-0.0), "-0");
    EXPECT_EQ(fast(DBL_TRUE_MIN), "4.940656e-324");
    EXPECT_EQ(fast(DBL_MAX), "1.797693e+308");
}

TEST(AdfFormat, ValuesThatAreNotFinite) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(fast(inf), "inf");
    EXPECT_EQ(fast(-inf), "-inf");
    EXPECT_EQ(fast(nan), "nan");
    EXPECT_EQ(fast(-nan), "-nan");
    EXPECT_EQ(fast(from_bits(0x7FF0000000000001ull)), "nan"); // signalling, with payload
    EXPECT_EQ(fast(from_bits(0xFFF8000000000123ull)), "-nan");
#if defined(__GLIBC__)
    // Here printf itself spells them so.
    for (double v : {inf, -inf, nan, -nan}) {
        char out[16];
        std::snprintf(out, sizeof out, "%1.7g", v);
        EXPECT_EQ(fast(v), out);
    }
#endif
}

// A value line through the fast path equals the same line through printf ("%-1.7g" prints the
// same characters as "%1.7g" but is not taken for the default format).
TEST(AdfFormat, FastAndPrintfPathsWriteTheSameFile) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("adff_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::mt19937_64 rng(3);
    std::vector<std::vector<double>> lines;
    for (int i = 0; i < 2000; ++i) {
        std::vector<double> v;
        for (int c = 0; c < 20; ++c) {
            double x = from_bits(rng());
            if (!std::isfinite(x)) x = std::ldexp(static_cast<double>(rng() % 100000), -8);
            v.push_back(x);
        }
        lines.push_back(v);
    }
    std::string texts[2];
    for (int path = 0; path < 2; ++path) {
        const std::string name = (dir / ("p" + std::to_string(path) + ".adf")).string();
        adf_file *a = adf_open_write(name.c_str());
        ASSERT_NE(a, nullptr);
        ASSERT_EQ(adf_init_header(a, 20, -1), 0);
        for (int c = 0; c < 20; ++c)
            ASSERT_EQ(adf_define_channel(a, "c", ADF_PLAIN, path ? "%-1.7g" : nullptr), 0);
        EXPECT_EQ(adf_printf_channels(a), path ? 20 : 0);
        ASSERT_EQ(adf_write_header(a), 0);
        for (const auto &v : lines) ASSERT_EQ(adf_write_values(a, v.data()), 0);
        ASSERT_EQ(adf_close(a), 0);
        std::ifstream in(name, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        texts[path] = s.str();
    }
    fs::remove_all(dir);
    EXPECT_GT(texts[0].size(), 2000u * 20 * 2);
    EXPECT_TRUE(texts[0] == texts[1]);
}

} // namespace
