// The sample measurement of examples/: converted, it gives the expected beginning, and its
// unsorted variant, sorted into the .tmp file on the way, gives the same table.
#include "Fakegroup_helper.h"
#include "Golden_helper.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>

namespace {

namespace fs = std::filesystem;

const fs::path EXAMPLES = fs::path(TRAXCON_SOURCE_DIR) / "examples";

// The column names of the channel line and the value lines as numbers.
struct table {
    std::vector<std::string> names;
    std::vector<std::vector<double>> lines;
};

table parse_adf(const std::string &text) {
    table t;
    std::istringstream in(text);
    std::string line;
    int hash_lines = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '!') continue;
        std::istringstream words(line);
        if (line[0] == '#') {
            if (++hash_lines == 2) {
                std::string name;
                words >> name; // "#"
                while (words >> name) t.names.push_back(name);
            }
            continue;
        }
        std::vector<double> values;
        for (std::string word; words >> word;) values.push_back(std::strtod(word.c_str(), nullptr));
        t.lines.push_back(values);
    }
    return t;
}

golden_result convert_example(const std::string &file, const std::string &args, int columns) {
    fs::path dir = make_temp_dir("example");
    fs::path source = EXAMPLES / file;
    EXPECT_TRUE(fs::exists(source)) << "missing sample " << source;
    fs::copy_file(source, dir / "measurement.dat");
    golden_result r = golden_run(dir, "measurement " + args, "measurement.adf");
    EXPECT_EQ(r.status, 0) << r.err;
    int read_columns = 0;
    EXPECT_GT(adf_read_back(dir / "measurement.adf", &read_columns), 1000);
    EXPECT_EQ(read_columns, columns);
    return r;
}

TEST(Example, SortedSampleConverts) {
    golden_result r = convert_example("measurement.dat", "/trig =e", 12);
    // The beginning of the table is what the user guide shows.
    std::istringstream in(r.adf);
    std::string head;
    std::string line;
    for (int i = 0; i < 16 && std::getline(in, line); ++i) head += line + "\n";
    r.adf = head;
    golden_compare("example", r);
}

TEST(Example, UnsortedSampleGivesTheSameTable) {
    table sorted = parse_adf(convert_example("measurement.dat", "=e", 9).adf);
    golden_result r = convert_example("measurement_unsorted.dat", "=e", 9);
    EXPECT_NE(r.err.find("MDFFIL_UNSORTED"), std::string::npos) << r.err;
    table unsorted = parse_adf(r.adf);

    ASSERT_EQ(sorted.names.size(), unsorted.names.size());
    std::map<std::string, std::size_t> position;
    for (std::size_t i = 0; i < unsorted.names.size(); ++i) position[unsorted.names[i]] = i;
    ASSERT_EQ(sorted.lines.size(), unsorted.lines.size());
    for (std::size_t k = 0; k < sorted.lines.size(); ++k)
        for (std::size_t i = 0; i < sorted.names.size(); ++i) {
            ASSERT_EQ(position.count(sorted.names[i]), 1u) << sorted.names[i];
            double a = sorted.lines[k][i];
            double b = unsorted.lines[k][position[sorted.names[i]]];
            EXPECT_NEAR(a, b, 1e-6 * std::max(1.0, std::fabs(a)))
                << "line " << k << " column " << sorted.names[i];
        }
    // The sorted copy lists each group's channels in reverse order, the groups reversed too.
    EXPECT_NE(sorted.names, unsorted.names);
}

} // namespace
