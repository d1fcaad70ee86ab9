// baseline: the yardstick of the conversion benchmark. Writes value lines as the ADF writer lays
// them out -- one blank and "%1.7g" per column, a line feed at the end -- with nothing but
// fprintf, so that the conversion can be compared with merely printing the same numbers.
//
//   baseline OUT LINES COLUMNS SAMPLE
//
// The numbers come from SAMPLE, an ADF file of the same measurement (the output of the
// conversion): 4096 of its value lines, taken at evenly spread places of the file, are read
// before writing starts and are then written in turn, LINES lines of COLUMNS values. So the
// baseline prints numbers with the same digits as the conversion does; reading the sample costs
// a few milliseconds.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kSampleLines = 4096;

// Reads up to kSampleLines value lines of COLUMNS numbers each from evenly spread places of the
// file. Value lines begin with a blank; comment and header lines do not.
bool read_sample(const char *name, long columns, std::vector<double> &values) {
    std::FILE *f = std::fopen(name, "rb");
    if (f == nullptr) return false;
    std::fseek(f, 0, SEEK_END);
    long size = std::ftell(f);
    std::vector<char> line(1 << 16);
    for (int i = 0; i < kSampleLines && size > 0; ++i) {
        std::fseek(f, static_cast<long>(static_cast<double>(size) * i / kSampleLines), SEEK_SET);
        if (i > 0 && std::fgets(line.data(), static_cast<int>(line.size()), f) == nullptr) break;
        if (std::fgets(line.data(), static_cast<int>(line.size()), f) == nullptr) break;
        if (line[0] != ' ') continue;
        std::vector<double> row;
        char *p = line.data();
        for (;;) {
            char *end = nullptr;
            double v = std::strtod(p, &end);
            if (end == p) break;
            row.push_back(v);
            p = end;
        }
        if (static_cast<long>(row.size()) == columns)
            values.insert(values.end(), row.begin(), row.end());
    }
    std::fclose(f);
    return !values.empty();
}

} // namespace

int main(int argc, char *argv[]) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: baseline OUT LINES COLUMNS SAMPLE\n");
        return 2;
    }
    long long lines = std::atoll(argv[2]);
    long columns = std::atol(argv[3]);
    std::vector<double> values;
    if (lines < 0 || columns <= 0 || !read_sample(argv[4], columns, values)) {
        std::fprintf(stderr, "baseline: no value lines of %ld columns in %s\n", columns, argv[4]);
        return 1;
    }
    const size_t rows = values.size() / static_cast<size_t>(columns);

    std::FILE *out = std::fopen(argv[1], "w");
    if (out == nullptr) {
        std::fprintf(stderr, "baseline: cannot create %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    size_t row = 0;
    for (long long n = 0; n < lines; ++n) {
        const double *v = &values[row * static_cast<size_t>(columns)];
        for (long c = 0; c < columns; ++c) std::fprintf(out, " %1.7g", v[c]);
        std::fputc('\n', out);
        if (++row == rows) row = 0;
    }
    if (std::fclose(out) != 0) {
        std::fprintf(stderr, "baseline: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
