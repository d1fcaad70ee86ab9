// The ADF writer's hot path: one value line of 20 columns, the default format "%1.7g" (fast
// formatter) against the same characters through printf ("%-1.7g" is not taken for the
// default format), and the formatting of single numbers.
#include "Adf.h"

#include <benchmark/benchmark.h>

#include <cstdio>
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

void BM_NumberFast(benchmark::State &state) {
    const std::vector<double> values = make_values();
    char out[ADF_NUMBER_SIZE];
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(adf_format_default(out, values[i]));
        i = (i + 1) % values.size();
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_NumberSnprintf(benchmark::State &state) {
    const std::vector<double> values = make_values();
    char out[64];
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(std::snprintf(out, sizeof out, "%1.7g", values[i]));
        i = (i + 1) % values.size();
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_ValueLineDefaultFormat);
BENCHMARK(BM_ValueLinePrintf);
BENCHMARK(BM_NumberFast);
BENCHMARK(BM_NumberSnprintf);

} // namespace
