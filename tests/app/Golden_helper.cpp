#include "Golden_helper.h"

#include "Adf.h"
#include "Run_helper.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

namespace {

bool regenerating() {
    const char *flag = std::getenv("TRAXCON_REGENERATE");
    return flag != nullptr && std::string(flag) == "1";
}

std::filesystem::path expected_path(const std::string &name, const char *extension) {
    return std::filesystem::path(TRAXCON_TEST_DATA) / "expected" / (name + extension);
}

std::string slurp(const std::filesystem::path &path, bool *exists) {
    std::ifstream in(path, std::ios::binary);
    *exists = in.good();
    std::ostringstream text;
    if (*exists) text << in.rdbuf();
    return text.str();
}

void compare_or_write(const std::string &name, const char *extension, const std::string &actual) {
    const std::filesystem::path path = expected_path(name, extension);
    if (regenerating()) {
        std::filesystem::create_directories(path.parent_path());
        std::ofstream out(path, std::ios::binary);
        out << actual;
        return;
    }
    bool exists = false;
    const std::string expected = slurp(path, &exists);
    ASSERT_TRUE(exists) << "missing expected file " << path;
    EXPECT_EQ(actual, expected) << "differs from " << path;
}

} // namespace

std::string mask_pointers(const std::string &text) {
    static const std::regex pointer("0x[0-9a-fA-F]+|\\(nil\\)");
    // The C library's spelling on Windows: 16 hex digits, without "0x".
    static const std::regex windows_pointer("\\b[0-9a-fA-F]{16}\\b");
    std::string masked = std::regex_replace(text, pointer, "0xPTR");
    if (traxcon_on_windows()) masked = std::regex_replace(masked, windows_pointer, "0xPTR");
    return masked;
}

golden_result golden_run(const std::filesystem::path &dir, const std::string &args,
                         const std::string &adf_name) {
    std::vector<std::string> argv;
    std::istringstream words(args);
    for (std::string word; words >> word;) argv.push_back(word);
    run_result run = run_traxcon(argv, dir.string());
    golden_result r;
    EXPECT_TRUE(run.exited) << "traxcon ended by signal " << run.status;
    r.status = run.status;
    r.out = mask_pointers(run.out);
    r.err = run.err;
    // Only a regular file is read: a device stands in for the ADF file in some tests.
    if (std::filesystem::is_regular_file(dir / adf_name))
        r.adf = traxcon_text(slurp(dir / adf_name, &r.adf_exists));
    return r;
}

void golden_compare(const std::string &name, const golden_result &r, bool compare_adf) {
    compare_or_write(name, ".out", r.out);
    compare_or_write(name, ".err", r.err);
    if (compare_adf) compare_or_write(name, ".adf", r.adf);
}

long adf_read_back(const std::filesystem::path &path, int *columns) {
    adf_file *adf = adf_open_read(path.string().c_str(), 1);
    EXPECT_NE(adf, nullptr) << path;
    if (adf == nullptr) return -1;
    long first_block_lines = -1;
    long lines = 0;
    long declared = 0;
    int blocks = 0;
    for (;;) {
        int result = adf_read_next(adf);
        if (result == 2) {
            ++lines;
            double value = 0.0;
            for (long c = 0; c < adf_channel_count(adf); ++c) {
                EXPECT_EQ(adf_get_value(adf, c, 0, &value), 0);
            }
            continue;
        }
        if (blocks > 0) {
            EXPECT_EQ(lines, declared) << path;
        }
        if (blocks == 1) first_block_lines = lines;
        if (result != 1) {
            EXPECT_EQ(result, 0) << "ADF reader refuses " << path;
            break;
        }
        ++blocks;
        declared = adf_line_count(adf);
        lines = 0;
        if (blocks == 1 && columns != nullptr) *columns = static_cast<int>(adf_channel_count(adf));
        // Every channel name stands for a column of its own.
        EXPECT_EQ(adf_channel_count(adf), adf_column_count(adf)) << path;
    }
    if (blocks == 1 && first_block_lines < 0) first_block_lines = lines;
    EXPECT_EQ(blocks, 1) << path;
    EXPECT_EQ(adf_close(adf), 0);
    return first_block_lines;
}
