// Tests of the ADF writer: file layout byte for byte, return codes, failures of the output.
#include "Adf.h"
#include "Adf_lists.h"
#include "Platform_helper.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <thread>

#if defined(__unix__)
#include <fcntl.h>
#include <sys/stat.h>
#endif

#if defined(_WIN32)
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

// A file name in a fresh folder for the running test.
class AdfWriter : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() /
               ("adfw_" + std::string(info->name()) + "_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        path_ = (dir_ / "out.adf").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    // The file with LF line ends: the writer's stream is a text-mode one (CR LF on Windows).
    std::string contents() const {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return native_text(s.str());
    }

    fs::path dir_;
    std::string path_;
};

const double kNan = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

TEST_F(AdfWriter, OpenLineCountIsRewrittenWithTheSameLength) {
    adf_file *a = adf_open_write(path_.c_str());
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(adf_access_mode(a), 1);
    EXPECT_EQ(adf_line_count(a), 0);
    EXPECT_EQ(adf_init_header(a, 2, -1), 0);
    EXPECT_EQ(adf_define_channel(a, "x", ADF_TIME, "%1.7g"), 0);
    EXPECT_EQ(adf_define_channel(a, "speed", ADF_PLAIN, nullptr), 0);
    EXPECT_EQ(adf_write_header(a), 0);
    EXPECT_EQ(contents(), ""); // still in the stream buffer
    for (int i = 0; i < 3; ++i) {
        const double v[] = {i * 0.5, 10.0 + i};
        EXPECT_EQ(adf_write_values(a, v), 0);
    }
    EXPECT_EQ(adf_lines_written(a), 3);
    EXPECT_EQ(adf_file_lines(a), 5);
    double last = 0;
    EXPECT_EQ(adf_last_value(a, 1, &last), 0);
    EXPECT_EQ(last, 12.0);
    EXPECT_EQ(adf_close(a), 0);
    EXPECT_EQ(contents(), "#     2          3\n"
                          "# TIME speed\n"
                          " 0 10\n"
                          " 0.5 11\n"
                          " 1 12\n");
}

TEST_F(AdfWriter, FixedLineCountIsEnforced) {
    adf_file *a = adf_open_write(path_.c_str());
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(adf_init_header(a, 1, 2), 0);
    ASSERT_EQ(adf_define_channel(a, "v", ADF_PLAIN, nullptr), 0);
    ASSERT_EQ(adf_write_header(a), 0);
    const double v[] = {1.0};
    EXPECT_EQ(adf_write_values(a, v), 0);
    EXPECT_EQ(adf_write_values(a, v), 0);
    EXPECT_EQ(adf_write_values(a, v), ADF_ERR_LINESFULL);
    EXPECT_EQ(adf_lines_written(a), 2);
    EXPECT_EQ(adf_close(a), 0);
    EXPECT_EQ(contents(), "#     1          2\n# v\n 1\n 1\n");

    a = adf_open_write(path_.c_str());
    ASSERT_EQ(adf_init_header(a, 1, 2), 0);
    ASSERT_EQ(adf_define_channel(a, "v", ADF_PLAIN, nullptr), 0);
    ASSERT_EQ(adf_write_header(a), 0);
    EXPECT_EQ(adf_write_values(a, v), 0);
    EXPECT_EQ(adf_close(a), ADF_ERR_LINESDIFFER);
}

TEST_F(AdfWriter, SecondBlockFixesTheFirstHeader) {
    adf_file *a = adf_open_write(path_.c_str());
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(adf_write_comment(a, "head"), 0);
    ASSERT_EQ(adf_init_header(a, 1, -1), 0);
    ASSERT_EQ(adf_define_channel(a, "a", ADF_PLAIN, nullptr), 0);
    ASSERT_EQ(adf_write_header(a), 0);
    const double v[] = {7.0, 8.0};
    adf_write_values(a, v);
    adf_write_values(a, v);
    EXPECT_EQ(adf_write_comment(a, "between"), 0);

    ASSERT_EQ(adf_init_header(a, 2, 3), 0);
    ASSERT_EQ(adf_define_channel(a, "b", ADF_PLAIN, nullptr), 0);
    ASSERT_EQ(adf_define_channel(a, "c", ADF_PLAIN, nullptr), 0);
    ASSERT_EQ(adf_write_header(a), 0);
    adf_write_values(a, v);
    // A fixed count that is not met refuses the next block; the block can still be finished.
    EXPECT_EQ(adf_init_header(a, 1, 1), ADF_ERR_LINESDIFFER);
    adf_write_values(a, v);
    adf_write_values(a, v);
    EXPECT_EQ(adf_init_header(a, 0, 1), ADF_ERR_CHANCOUNT);
    EXPECT_EQ(adf_init_header(a, 1, -2), ADF_ERR_LINECOUNT);
    EXPECT_EQ(adf_close(a), 0);
    EXPECT_EQ(contents(), "! head\n"
                          "#     1          2\n# a\n 7\n 7\n"
                          "! between\n"
                          "#     2          3\n# b c\n 7 8\n 7 8\n 7 8\n");
}

TEST_F(AdfWriter, ChannelKindsAndTheirNames) {
    adf_file *a = adf_open_write(path_.c_str());
    ASSERT_EQ(adf_init_header(a, 7, 0), 0);
    EXPECT_EQ(adf_define_channel(a, "x", ADF_TIME, nullptr), 0);
    EXPECT_EQ(adf_define_channel(a, "y", ADF_TIME, nullptr), ADF_ERR_TIME);
    EXPECT_EQ(adf_define_channel(a, nullptr, ADF_ANGLE, nullptr), 0);
    EXPECT_EQ(adf_define_channel(a, "w", ADF_ANGLE, nullptr), ADF_ERR_ANGLE);
    EXPECT_EQ(adf_define_channel(a, "s1", ADF_S, nullptr), 0);
    EXPECT_EQ(adf_define_channel(a, "r1", ADF_R, nullptr), 0);
    EXPECT_EQ(adf_define_channel(a, "t1", ADF_T, nullptr), 0);
    EXPECT_EQ(adf_write_header(a), ADF_ERR_CHANNELS);
    EXPECT_EQ(adf_define_channel(a, "s2", ADF_S, nullptr), 0);
    EXPECT_EQ(adf_define_channel(a, "odd", 9, nullptr), 0);
    EXPECT_EQ(adf_define_channel(a, "more", ADF_PLAIN, nullptr), ADF_ERR_CHANNELS);
    EXPECT_EQ(adf_time_channel(a), 0);
    EXPECT_EQ(adf_angle_channel(a), 1);
    EXPECT_EQ(adf_prefixed_count(a, ADF_S), 2);
    EXPECT_EQ(prefixed_of(a, ADF_S), (std::vector<long>{2, 5}));
    EXPECT_EQ(adf_prefixed_count(a, ADF_R), 1);
    EXPECT_EQ(prefixed_of(a, ADF_R), (std::vector<long>{3}));
    EXPECT_EQ(prefixed_of(a, ADF_T), (std::vector<long>{4}));
    EXPECT_STREQ(adf_channel_name(a, 2), "s1");
    EXPECT_EQ(adf_write_header(a), 0);
    EXPECT_EQ(header_flags_of(a), std::vector<int>(7, 1));
    const double v[7] = {};
    EXPECT_EQ(adf_write_values(a, v), ADF_ERR_LINESFULL);
    EXPECT_EQ(adf_close(a), 0);
    EXPECT_EQ(contents(), "#     7          0\n# TIME ANGLE S:s1 R:r1 T:t1 S:s2 odd\n");
}

TEST_F(AdfWriter, DefaultFormatFollowsTheRulesOfG) {
    const double values[] = {0.0,     -0.0,       1.5,       100.0, 1234567.0, 12345678.0,
                             0.0001,  0.00001234, 0.1 + 0.2, 1e100, -2.5e-300, 9999999.5,
                             1.0 / 3, 123456.75,  kNan,      -kNan, kInf,      -kInf};
    const int n = sizeof values / sizeof values[0];
    adf_file *a = adf_open_write(path_.c_str());
    ASSERT_EQ(adf_init_header(a, n, 1), 0);
    for (int i = 0; i < n; ++i) ASSERT_EQ(adf_define_channel(a, "v", ADF_PLAIN, nullptr), 0);
    ASSERT_EQ(adf_write_header(a), 0);
    ASSERT_EQ(adf_write_values(a, values), 0);
    ASSERT_EQ(adf_close(a), 0);
    const std::string text = contents();
    const std::string line = text.substr(text.rfind('\n', text.size() - 2) + 1);
    EXPECT_EQ(line, " 0 -0 1.5 100 1234567 1.234568e+07 0.0001 1.234e-05 0.3 1e+100 -2.5e-300"
                    " 1e+07 0.3333333 123456.8 nan -nan inf -inf\n");
}

TEST_F(AdfWriter, OwnFormatsGoThroughPrintf) {
    adf_file *a = adf_open_write(path_.c_str());
    ASSERT_EQ(adf_init_header(a, 4, -1), 0);
    ASSERT_EQ(adf_define_channel(a, "a", ADF_PLAIN, "%.3f"), 0);
    ASSERT_EQ(adf_define_channel(a, "b", ADF_PLAIN, "%8.2e"), 0);
    ASSERT_EQ(adf_define_channel(a, "c", ADF_PLAIN, "x%%%-6.1fy"), 0);
    ASSERT_EQ(adf_define_channel(a, "d", ADF_PLAIN, "%300.1f"), 0);
    EXPECT_EQ(adf_printf_channels(a), 4);
    ASSERT_EQ(adf_write_header(a), 0);
    const double v1[] = {1.5, 12345.0, 2.25, 1.0};
    const double v2[] = {kInf, -kNan, -kInf, kNan};
    ASSERT_EQ(adf_write_values(a, v1), 0);
    ASSERT_EQ(adf_write_values(a, v2), 0);
    ASSERT_EQ(adf_close(a), 0);
    const std::string wide(297, ' ');
    EXPECT_EQ(contents(), "#     4          2\n# a b c d\n"
                          " 1.500 1.23e+04 x%2.2   y " +
                              wide + "1.0\n" + " inf     -nan x%-inf  y " + wide + "nan\n");
}

TEST_F(AdfWriter, CommentsSplitAtNewlinesAndDropCarriageReturns) {
    adf_file *a = adf_open_write(path_.c_str());
    EXPECT_EQ(adf_write_comment(a, "first\r\nsecond"), 0);
    EXPECT_EQ(adf_write_comment(a, "ends\n"), 0);
    EXPECT_EQ(adf_write_comment(a, ""), 0);
    const std::string longer(10000, 'c');
    EXPECT_EQ(adf_write_comment(a, longer.c_str()), 0);
    EXPECT_EQ(adf_file_lines(a), 6);
    EXPECT_EQ(adf_close(a), 0);
    EXPECT_EQ(contents(), "! first\n! second\n! ends\n! \n! \n! " + longer + "\n");
}

TEST_F(AdfWriter, OperationsCheckTheHandle) {
    EXPECT_EQ(adf_write_comment(nullptr, "x"), ADF_ERR_MODE);
    EXPECT_EQ(adf_init_header(nullptr, 1, 1), ADF_ERR_MODE);
    EXPECT_EQ(adf_define_channel(nullptr, "x", ADF_PLAIN, nullptr), ADF_ERR_MODE);
    EXPECT_EQ(adf_write_header(nullptr), ADF_ERR_MODE);
    EXPECT_EQ(adf_write_values(nullptr, nullptr), ADF_ERR_MODE);
    EXPECT_EQ(adf_close(nullptr), ADF_ERR_MODE);
    EXPECT_EQ(adf_read_next(nullptr), ADF_ERR_MODE);

    { std::ofstream(path_) << "! only a comment\n"; }
    adf_file *r = adf_open_read(path_.c_str(), 1);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(adf_write_comment(r, "x"), ADF_ERR_MODE);
    EXPECT_EQ(adf_init_header(r, 1, 1), ADF_ERR_MODE);
    EXPECT_EQ(adf_define_channel(r, "x", ADF_PLAIN, nullptr), ADF_ERR_MODE);
    EXPECT_EQ(adf_write_header(r), ADF_ERR_MODE);
    const double v[] = {1.0};
    EXPECT_EQ(adf_write_values(r, v), ADF_ERR_MODE);
    EXPECT_EQ(adf_close(r), 0);

    adf_file *a = adf_open_write(path_.c_str());
    double out;
    EXPECT_EQ(adf_read_next(a), ADF_ERR_MODE);
    EXPECT_EQ(adf_get_value(a, 0, 0, &out), ADF_ERR_MODE);
    EXPECT_EQ(adf_write_header(a), ADF_ERR_CHANCOUNT); // no block started
    EXPECT_EQ(adf_write_values(a, v), ADF_ERR_LINESFULL);
    EXPECT_EQ(adf_close(a), 0);
    EXPECT_EQ(adf_open_write((dir_ / "missing" / "x.adf").string().c_str()), nullptr);
}

TEST_F(AdfWriter, OpenBlockWithoutHeader) {
    adf_file *a = adf_open_write(path_.c_str());
    ASSERT_EQ(adf_init_header(a, 1, -1), 0);
    ASSERT_EQ(adf_define_channel(a, "a", ADF_PLAIN, nullptr), 0);
    // Never headed and empty: dropped without a trace.
    ASSERT_EQ(adf_init_header(a, 1, -1), 0);
    ASSERT_EQ(adf_define_channel(a, "b", ADF_PLAIN, nullptr), 0);
    const double v[] = {1.0};
    ASSERT_EQ(adf_write_values(a, v), 0);
    // Value lines without a header cannot be made consistent.
    EXPECT_EQ(adf_init_header(a, 1, -1), ADF_ERR_LINESDIFFER);
    EXPECT_EQ(adf_close(a), ADF_ERR_LINESDIFFER);
}

TEST_F(AdfWriter, CommaLocaleStillWritesDecimalPoints) {
    struct RestoreLocale {
        std::string before = std::setlocale(LC_ALL, nullptr);
        ~RestoreLocale() { std::setlocale(LC_ALL, before.c_str()); }
    } restore;
    // The German locale under its name on Linux, or on Windows.
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8") && !std::setlocale(LC_ALL, "German_Germany.1252")) {
        GTEST_SKIP() << "locale de_DE.UTF-8 is not installed (localedef -i de_DE -f UTF-8 "
                        "de_DE.UTF-8 makes it); the comma-locale test is skipped";
    }
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    adf_file *a = adf_open_write(path_.c_str());
    EXPECT_EQ(adf_init_header(a, 3, -1), 0);
    EXPECT_EQ(adf_define_channel(a, "t", ADF_TIME, nullptr), 0);
    EXPECT_EQ(adf_define_channel(a, "f", ADF_PLAIN, "%.2f"), 0);
    EXPECT_EQ(adf_define_channel(a, "e", ADF_PLAIN, "%1.3e"), 0);
    EXPECT_EQ(adf_write_header(a), 0);
    const double v[] = {1.5, 2.25, 0.125};
    EXPECT_EQ(adf_write_values(a, v), 0);
    EXPECT_STREQ(std::localeconv()->decimal_point, ","); // restored after each operation
    EXPECT_EQ(adf_close(a), 0);
    EXPECT_STREQ(std::localeconv()->decimal_point, ",");
    EXPECT_EQ(contents(), "#     3          1\n# TIME f e\n 1.5 2.25 1.250e-01\n");

    adf_file *r = adf_open_read(path_.c_str(), 1);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(adf_read_next(r), 1);
    EXPECT_EQ(adf_read_next(r), 2);
    double got = 0;
    EXPECT_EQ(adf_get_value(r, 1, 0, &got), 0);
    EXPECT_EQ(got, 2.25);
    EXPECT_EQ(adf_get_value(r, 2, 0, &got), 0);
    EXPECT_EQ(got, 0.125);
    EXPECT_EQ(adf_read_next(r), 0);
    EXPECT_STREQ(std::localeconv()->decimal_point, ",");
    EXPECT_EQ(adf_close(r), 0);
}

#if defined(__unix__)
TEST_F(AdfWriter, FullDiskIsReportedByClose) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "/dev/full is not available";
    const fs::path link = dir_ / "full.adf";
    fs::create_symlink("/dev/full", link);

    // Lost in the final flush of the stream.
    adf_file *a = adf_open_write(link.string().c_str());
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(adf_write_comment(a, "small"), 0);
    EXPECT_EQ(adf_close(a), ADF_ERR_WRITE);

    // Lost while writing: the first value line whose piece cannot be written says so, and from
    // then on every value line; no line counts as stored.
    a = adf_open_write(link.string().c_str());
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(adf_init_header(a, 3, -1), 0);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(adf_define_channel(a, "v", ADF_PLAIN, nullptr), 0);
    ASSERT_EQ(adf_write_header(a), 0);
    const double v[] = {1.25, 2.5, 3.75};
    int first_failure = -1;
    for (int i = 0; i < 10000 && first_failure < 0; ++i)
        if (adf_write_values(a, v) != 0) first_failure = i;
    EXPECT_GT(first_failure, 0); // the lines are handed over in pieces
    EXPECT_EQ(adf_write_values(a, v), ADF_ERR_WRITE);
    EXPECT_EQ(adf_flush(a), ADF_ERR_WRITE);
    EXPECT_EQ(adf_lines_stored(a), 0);
    EXPECT_EQ(adf_close(a), ADF_ERR_WRITE);
}

// The output is a pipe: the position of an open header line cannot be noted. A fixed count
// needs no positioning and works.
TEST_F(AdfWriter, PipeWithOpenCountIsReportedByClose) {
    const std::string fifo = (dir_ / "pipe").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (long count : {-1L, 2L}) {
        std::string received;
        std::thread reader([&] {
            const int fd = ::open(fifo.c_str(), O_RDONLY);
            char buf[256];
            ssize_t n;
            while ((n = ::read(fd, buf, sizeof buf)) > 0) received.append(buf, n);
            ::close(fd);
        });
        adf_file *a = adf_open_write(fifo.c_str());
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(adf_init_header(a, 1, count), 0);
        EXPECT_EQ(adf_define_channel(a, "p", ADF_PLAIN, nullptr), 0);
        EXPECT_EQ(adf_write_header(a), 0);
        const double v[] = {4.0};
        EXPECT_EQ(adf_write_values(a, v), 0);
        EXPECT_EQ(adf_write_values(a, v), 0);
        EXPECT_EQ(adf_close(a), count == -1 ? ADF_ERR_WRITE : 0);
        reader.join();
        EXPECT_EQ(received, (count == -1 ? "#     1         -1\n" : "#     1          2\n") +
                                std::string("# p\n 4\n 4\n"));
    }
}
#endif

TEST_F(AdfWriter, ChannelCountWiderThanItsField) {
    adf_file *a = adf_open_write(path_.c_str());
    const long n = 100000;
    ASSERT_EQ(adf_init_header(a, n, -1), 0);
    for (long i = 0; i < n; ++i) ASSERT_EQ(adf_define_channel(a, "c", ADF_PLAIN, nullptr), 0);
    ASSERT_EQ(adf_write_header(a), 0);
    const std::vector<double> v(n, 1.0);
    ASSERT_EQ(adf_write_values(a, v.data()), 0);
    ASSERT_EQ(adf_close(a), 0);
    const std::string text = contents();
    EXPECT_EQ(text.substr(0, 19), "# 100000          1");
    EXPECT_EQ(text.size(), 19 + 1 + 1 + 2 * n + 1 + 2 * n + 1);
}

TEST(AdfWriterDeathTest, FormatsForOtherThanOneDoubleStopTheProgram) {
    const std::string path =
        (fs::temp_directory_path() / ("adfw_death_" + std::to_string(::getpid()) + ".adf"))
            .string();
    adf_file *a = adf_open_write(path.c_str());
    ASSERT_EQ(adf_init_header(a, 1, 1), 0);
    EXPECT_DEATH(adf_define_channel(a, "x", ADF_PLAIN, "%d"), "parse_double_format");
    EXPECT_DEATH(adf_define_channel(a, "x", ADF_PLAIN, "%s"), "parse_double_format");
    EXPECT_DEATH(adf_define_channel(a, "x", ADF_PLAIN, "%g %g"), "parse_double_format");
    EXPECT_DEATH(adf_define_channel(a, "x", ADF_PLAIN, "%*g"), "parse_double_format");
    EXPECT_DEATH(adf_define_channel(a, "x", ADF_PLAIN, "%Lg"), "parse_double_format");
    EXPECT_DEATH(adf_define_channel(a, "x", ADF_PLAIN, "%99999g"), "parse_double_format");
    EXPECT_DEATH(adf_define_channel(a, "x", ADF_PLAIN, "no conversion"), "parse_double_format");
    EXPECT_DEATH(adf_define_channel(a, nullptr, ADF_PLAIN, nullptr), "name != nullptr");
    EXPECT_DEATH(adf_write_comment(a, nullptr), "text != nullptr");
    EXPECT_EQ(adf_define_channel(a, "x", ADF_PLAIN, "%+08.3lf %%"), 0);
    adf_close(a);
    fs::remove(path);
}

} // namespace
