// The ADF writer's hot path: one value line of 20 columns, the default format "%1.7g" (fast
// formatter) against the same characters through printf ("%-1.7g" is not taken for the
// default format), and the formatting of single numbers: the converter's mix of values below,
// and further sets of values (float32 values widened, integers, values of every magnitude),
// each by adf_format_default, std::to_chars (the formatter before) and snprintf.
#include "Adf.h"

#include <benchmark/benchmark.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

namespace {

#if defined(_WIN32)
constexpr const char *kSink = "NUL";
#else
constexpr const char *kSink = "/dev/null";
#endif

constexpr int kColumns = 20;
constexpr int kLines = 1024; // distinct lines, written in turn

// Values like a converter's: a time axis, smooth signals, counters, flags.
std::vector<double> make_values() {
    std::mt19937_64 rng(42);
    std::uniform_real_distribution<double> signal(-1000.0, 1000.0);
    std::vector<double> v(static_cast<size_t>(kLines) * kColumns);
    for (int line = 0; line < kLines; ++line) {
        double *row = &v[static_cast<size_t>(line) * kColumns];
        row[0] = line * 0.001;
        for (int c = 1; c < kColumns - 2; ++c) row[c] = signal(rng);
        row[kColumns - 2] = static_cast<double>(line * 7);
        row[kColumns - 1] = line % 2;
    }
    return v;
}

void write_lines(benchmark::State &state, const char *format) {
    const std::vector<double> values = make_values();
    adf_file *a = adf_open_write(kSink);
    if (!a) {
        state.SkipWithError("cannot open the null device");
        return;
    }
    adf_init_header(a, kColumns, -1);
    for (int c = 0; c < kColumns; ++c) adf_define_channel(a, "c", ADF_PLAIN, format);
    adf_write_header(a);
    size_t line = 0;
    for (auto _ : state) {
        adf_write_values(a, &values[line * kColumns]);
        line = (line + 1) % kLines;
    }
    adf_close(a);
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("lines of 20 columns");
}

void BM_ValueLineDefaultFormat(benchmark::State &state) {
    write_lines(state, nullptr);
}
void BM_ValueLinePrintf(benchmark::State &state) {
    write_lines(state, "%-1.7g");
}

// Further sets of single numbers (kLines * kColumns values each).
std::vector<double> make_float32_values() { // float32 signals widened: a sine of 1000 amplitude
    std::vector<double> v(static_cast<size_t>(kLines) * kColumns);
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<float>(1000.0 * std::sin(static_cast<double>(i) * 0.001));
    return v;
}
std::vector<double> make_integer_values() { // counters and raw values up to 2^32
    std::mt19937_64 rng(43);
    std::vector<double> v(static_cast<size_t>(kLines) * kColumns);
    for (double &x : v) x = static_cast<double>(static_cast<std::uint32_t>(rng()) >> (rng() % 32));
    return v;
}
std::vector<double> make_any_magnitude_values() { // random bit patterns, finite ones
    std::mt19937_64 rng(44);
    std::vector<double> v(static_cast<size_t>(kLines) * kColumns);
    for (double &x : v) {
        do {
            const std::uint64_t bits = rng();
            std::memcpy(&x, &bits, sizeof x);
        } while (!std::isfinite(x));
    }
    return v;
}

// The values are taken in turn; the index wraps without a division, which would cost more
// than a fast formatter's work.
template <typename Format>
void format_numbers(benchmark::State &state, const std::vector<double> &values, Format format) {
    char out[64];
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(format(out, values[i]));
        benchmark::ClobberMemory();
        if (++i == values.size()) i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}

int fast(char *out, double v) {
    return adf_format_default(out, v);
}
int to_chars(char *out, double v) { // as adf_format_default did it before
    if (!std::isfinite(v)) return 0;
    const auto r = std::to_chars(out, out + ADF_NUMBER_SIZE - 1, v, std::chars_format::general, 7);
    *r.ptr = '\0';
    return static_cast<int>(r.ptr - out);
}
int print(char *out, double v) {
    return std::snprintf(out, 64, "%1.7g", v);
}

void BM_NumberFast(benchmark::State &state) {
    format_numbers(state, make_values(), fast);
}
void BM_NumberToChars(benchmark::State &state) {
    format_numbers(state, make_values(), to_chars);
}
void BM_NumberSnprintf(benchmark::State &state) {
    format_numbers(state, make_values(), print);
}
void BM_Float32Fast(benchmark::State &state) {
    format_numbers(state, make_float32_values(), fast);
}
void BM_Float32ToChars(benchmark::State &state) {
    format_numbers(state, make_float32_values(), to_chars);
}
void BM_IntegerFast(benchmark::State &state) {
    format_numbers(state, make_integer_values(), fast);
}
void BM_IntegerToChars(benchmark::State &state) {
    format_numbers(state, make_integer_values(), to_chars);
}
void BM_AnyMagnitudeFast(benchmark::State &state) {
    format_numbers(state, make_any_magnitude_values(), fast);
}
void BM_AnyMagnitudeToChars(benchmark::State &state) {
    format_numbers(state, make_any_magnitude_values(), to_chars);
}
void BM_AnyMagnitudeSnprintf(benchmark::State &state) {
    format_numbers(state, make_any_magnitude_values(), print);
}

BENCHMARK(BM_ValueLineDefaultFormat);
BENCHMARK(BM_ValueLinePrintf);
BENCHMARK(BM_NumberFast);
BENCHMARK(BM_NumberToChars);
BENCHMARK(BM_NumberSnprintf);
BENCHMARK(BM_Float32Fast);
BENCHMARK(BM_Float32ToChars);
BENCHMARK(BM_IntegerFast);
BENCHMARK(BM_IntegerToChars);
BENCHMARK(BM_AnyMagnitudeFast);
BENCHMARK(BM_AnyMagnitudeToChars);
BENCHMARK(BM_AnyMagnitudeSnprintf);

} // namespace
