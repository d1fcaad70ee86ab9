// Fuzz harness: the ADF reader.
//
// Input: the first byte selects the mode and the window size N (1 to 8), the rest is
//   mode "file" (high bit clear): the bytes of an ADF file, read to its end with adf_read_next,
//       also past errors, with every answer and every window value checked against the rules;
//   mode "round trip" (high bit set): a script that writes blocks with the ADF writer (channel
//       kinds, names and values taken from the bytes); the file is read back and every value line
//       must come back as written in the default format, in order.
// The file is written to a temporary file of this process, since the reader takes a file name.
#include "Adf.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

[[noreturn]] void fail(const char *what) {
    std::fprintf(stderr, "fuzz_adf: %s\n", what);
    std::abort();
}

const std::string &scratch_name() {
    static const std::string name = [] {
        std::random_device random;
        return (std::filesystem::temp_directory_path() /
                ("traxcon_fuzz_adf_" + std::to_string(random()) + ".adf"))
            .string();
    }();
    return name;
}

void write_scratch(const std::uint8_t *data, std::size_t size) {
    std::FILE *f = std::fopen(scratch_name().c_str(), "wb");
    if (f == nullptr) fail("cannot write the scratch file");
    if (size > 0 && std::fwrite(data, 1, size, f) != size) fail("cannot write the scratch file");
    std::fclose(f);
}

bool same_bits(double a, double b) {
    if (std::isnan(a) && std::isnan(b)) return true;
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Checks the channel description after a block header was read.
void check_block(const adf_file *a) {
    // A column may hold no name at all (its text has no name character), so a block can have
    // columns but no channels.
    const long n = adf_channel_count(a);
    const long columns = adf_column_count(a);
    if (n < 0 || columns < 1) fail("a block without columns");
    for (long c = 0; c < n; ++c)
        if (adf_channel_name(a, c) == nullptr || adf_channel_kind(a, c) < 0)
            fail("names or kinds do not match the channel count");
    if (adf_channel_name(a, n) != nullptr || adf_channel_kind(a, n) != ADF_ERR_CHANCOUNT)
        fail("names or kinds do not match the channel count");
    long sum = 0;
    for (long c = 0; c < columns; ++c) {
        const long g = adf_name_group(a, c);
        if (g < 0) fail("names per column");
        sum += g;
    }
    if (adf_name_group(a, columns) != ADF_ERR_CHANCOUNT) fail("names per column");
    if (sum != n) fail("names per column do not add up to the channel count");
    const long time = adf_time_channel(a), angle = adf_angle_channel(a);
    if (time < -1 || time >= n || angle < -1 || angle >= n)
        fail("TIME or ANGLE position out of range");
    if (time >= 0 && adf_channel_kind(a, time) != ADF_TIME) fail("TIME position");
    if (angle >= 0 && adf_channel_kind(a, angle) != ADF_ANGLE) fail("ANGLE position");
    for (int kind : {ADF_S, ADF_R, ADF_T}) {
        const long count = adf_prefixed_count(a, kind);
        if (count < 0 || adf_prefixed_channel(a, kind, count) != ADF_ERR_CHANCOUNT)
            fail("S, R or T count");
        for (long j = 0; j < count; ++j) {
            const long i = adf_prefixed_channel(a, kind, j);
            if (i < 0) fail("S, R or T count");
            if (i >= n || adf_channel_kind(a, i) != kind) fail("S, R or T list");
        }
    }
    if (adf_window_fill(a) != 1 || adf_lines_written(a) != 0)
        fail("window not reset at a new block");
}

// Checks the window after a result 2 and returns the current line's values.
std::vector<double> check_window(const adf_file *a) {
    const long n = adf_channel_count(a);
    const long fill = adf_window_fill(a);
    if (fill < 1 || fill > adf_window_size(a)) fail("window fill out of range");
    double v;
    for (long k = 0; k < fill; ++k)
        for (long c = 0; c < n; ++c)
            if (adf_get_value(a, c, k, &v) != 0) fail("a window value cannot be read");
    if (adf_get_value(a, n, 0, &v) != ADF_ERR_CHANCOUNT || adf_get_value(a, -1, 0, &v) != -3)
        fail("a channel outside the block was answered");
    if (n > 0 &&
        (adf_get_value(a, 0, fill, &v) != ADF_ERR_LINECOUNT || adf_get_value(a, 0, -1, &v) != -2))
        fail("a line outside the window was answered");
    std::vector<double> current(static_cast<std::size_t>(n));
    for (long c = 0; c < n; ++c) adf_get_value(a, c, 0, &current[static_cast<std::size_t>(c)]);
    return current;
}

// Reads the scratch file to its end. Returns the current lines of every block, in order.
std::vector<std::vector<double>> read_all(long window, std::size_t size, bool *clean) {
    adf_file *a = adf_open_read(scratch_name().c_str(), window);
    if (a == nullptr) fail("the scratch file cannot be opened for reading");
    std::vector<std::vector<double>> lines;
    *clean = true;
    bool block_clean = false;
    long twos = 0;
    // Every call that does not fail consumes a line of the file or drains one line of the window.
    // Failing calls may repeat (an incomplete block at the end of the file gives -7 again and
    // again); the reading stops after 64 of them.
    constexpr int max_errors = 64;
    const std::size_t bound = 2 * size + 2 * static_cast<std::size_t>(window) + 10 + max_errors;
    std::size_t calls = 0;
    int errors = 0;
    for (;;) {
        if (++calls > bound) fail("the reader does not come to an end");
        const long lines_before = adf_lines_written(a);
        const int r = adf_read_next(a);
        if (r < -14 || r > 2) fail("result out of range");
        if ((r == 0 || r == 1 || r == ADF_ERR_LINESDIFFER) && block_clean && twos != lines_before)
            fail("not every value line became the current line once");
        if (r == 1) {
            check_block(a);
            block_clean = true;
            twos = 0;
        } else if (r == 2) {
            ++twos;
            lines.push_back(check_window(a));
        } else if (r == 0) {
            break;
        } else {
            *clean = false;
            block_clean = false;
            if (++errors > max_errors) break;
        }
    }
    if (adf_close(a) != 0) fail("closing a reading handle did not give 0");
    return lines;
}

// --- the round trip --------------------------------------------------------------------------

struct script {
    const std::uint8_t *p, *end;
    std::uint8_t byte() { return p < end ? *p++ : 0; }
    double value() {
        std::uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) bits = bits << 8 | byte();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
};

// The value as the reader gets it back: printed in the default format and scanned.
double printed(double v) {
    char text[ADF_NUMBER_SIZE];
    const int n = adf_format_default(text, v);
    text[n] = '\0';
    return std::strtod(text, nullptr);
}

void round_trip(long window, const std::uint8_t *data, std::size_t size) {
    static const char *const names[] = {"a", "b_1", "c.d", "x[0]", "w\\v", "R:q", "s:lower", "Z9"};
    script s{data, data + size};
    adf_file *w = adf_open_write(scratch_name().c_str());
    if (w == nullptr) fail("the scratch file cannot be opened for writing");
    if (adf_write_comment(w, "fuzz\nround trip") != 0) fail("comment not written");
    std::vector<std::vector<double>> expected;
    const int blocks = 1 + s.byte() % 3;
    for (int b = 0; b < blocks; ++b) {
        const long channels = 1 + s.byte() % 8;
        const long lines = s.byte() % 12;
        if (adf_init_header(w, channels, lines) != 0) fail("header not started");
        for (long c = 0; c < channels; ++c) {
            const std::uint8_t k = s.byte();
            int kind = k % 6;
            // A second TIME or ANGLE is refused; the channel is defined as a plain one then.
            if (adf_define_channel(w, names[(k >> 3) % 8], kind, nullptr) != 0 &&
                adf_define_channel(w, names[(k >> 3) % 8], ADF_PLAIN, nullptr) != 0)
                fail("channel not defined");
        }
        if (adf_write_header(w) != 0) fail("header not written");
        for (long l = 0; l < lines; ++l) {
            std::vector<double> values(static_cast<std::size_t>(channels));
            for (double &v : values) v = s.value();
            if (adf_write_values(w, values.data()) != 0) fail("values not written");
            for (double &v : values) v = printed(v);
            expected.push_back(values);
        }
    }
    if (adf_close(w) != 0) fail("the written file was not closed cleanly");

    bool clean;
    const std::vector<std::vector<double>> got = read_all(
        window, static_cast<std::size_t>(std::filesystem::file_size(scratch_name())), &clean);
    if (!clean) fail("a file of the writer was not read without errors");
    if (got.size() != expected.size()) fail("another number of value lines came back");
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (got[i].size() != expected[i].size()) fail("another number of values came back");
        for (std::size_t c = 0; c < got[i].size(); ++c)
            if (!same_bits(got[i][c], expected[i][c])) fail("a value came back changed");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0) return 0;
    const long window = 1 + (data[0] & 7);
    if (data[0] & 0x80) {
        round_trip(window, data + 1, size - 1);
    } else {
        write_scratch(data + 1, size - 1);
        bool clean;
        read_all(window, size, &clean);
    }
    return 0;
}
