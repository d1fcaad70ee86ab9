// Tests of the ADF reader: window, blocks, names, repeats, error codes, hostile lines, and
// round trips through the writer.
#include "Adf.h"
#include "Adf_lists.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

class AdfReader : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() /
               ("adfr_" + std::string(info->name()) + "_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        path_ = (dir_ / "in.adf").string();
    }
    void TearDown() override {
        if (adf_) adf_close(adf_);
        fs::remove_all(dir_);
    }

    // Writes text as the file (bytes as given) and opens it with window size n.
    adf_file *open(const std::string &text, long n) {
        {
            std::ofstream out(path_, std::ios::binary);
            out << text;
        }
        if (adf_) adf_close(adf_);
        adf_ = adf_open_read(path_.c_str(), n);
        EXPECT_NE(adf_, nullptr);
        return adf_;
    }

    // The values of channel ch over the window, current line first.
    std::vector<double> window(long ch) const {
        std::vector<double> v;
        for (long k = 0; k < adf_window_fill(adf_); ++k) {
            double x = -999;
            EXPECT_EQ(adf_get_value(adf_, ch, k, &x), 0);
            v.push_back(x);
        }
        return v;
    }

    // All results of adf_read_next up to the first result other than 1 and 2 (included).
    std::vector<int> results() {
        std::vector<int> r;
        for (int i = 0; i < 1000; ++i) {
            r.push_back(adf_read_next(adf_));
            if (r.back() != 1 && r.back() != 2) break;
        }
        return r;
    }

    fs::path dir_;
    std::string path_;
    adf_file *adf_ = nullptr;
};

using V = std::vector<double>;
const char *const kThreeLines = "! comment\n#     1          3\n# x\n 1\n 2\n 3\n";

TEST_F(AdfReader, WindowOfTwoOverThreeLines) {
    adf_file *a = open(kThreeLines, 2);
    EXPECT_EQ(adf_access_mode(a), 0);
    EXPECT_EQ(adf_window_fill(a), 1);
    EXPECT_EQ(adf_window_pos(a), 0);
    EXPECT_EQ(adf_read_next(a), 1);
    EXPECT_EQ(adf_channel_count(a), 1);
    EXPECT_EQ(adf_line_count(a), 3);
    EXPECT_EQ(adf_read_next(a), 2);
    EXPECT_EQ(window(0), (V{1, 2}));
    EXPECT_EQ(adf_read_next(a), 2);
    EXPECT_EQ(window(0), (V{2, 3}));
    EXPECT_EQ(adf_read_next(a), 2);
    EXPECT_EQ(window(0), (V{3}));
    EXPECT_EQ(adf_read_next(a), 0);
    EXPECT_EQ(adf_read_next(a), 0);
    double x;
    EXPECT_EQ(adf_get_value(a, 0, 1, &x), ADF_ERR_LINECOUNT);
    EXPECT_EQ(adf_get_value(a, 0, -1, &x), ADF_ERR_LINECOUNT);
    EXPECT_EQ(adf_get_value(a, 1, 0, &x), ADF_ERR_CHANCOUNT);
    EXPECT_EQ(adf_get_value(a, -1, 0, &x), ADF_ERR_CHANCOUNT);
    EXPECT_EQ(adf_get_value(nullptr, 0, 0, &x), ADF_ERR_MODE);
    EXPECT_EQ(adf_file_lines(a), 6);
}

TEST_F(AdfReader, WindowOfFiveOverThreeLines) {
    adf_file *a = open(kThreeLines, 5);
    EXPECT_EQ(adf_read_next(a), 1);
    EXPECT_EQ(adf_read_next(a), 2);
    EXPECT_EQ(window(0), (V{1, 2, 3}));
    EXPECT_EQ(adf_read_next(a), 2);
    EXPECT_EQ(window(0), (V{2, 3}));
    EXPECT_EQ(adf_read_next(a), 2);
    EXPECT_EQ(window(0), (V{3}));
    EXPECT_EQ(adf_read_next(a), 0);
}

TEST_F(AdfReader, WrongDeclaredCountGivesMinus7AfterTheDrain) {
    for (long n : {1L, 2L, 5L}) {
        open("# 1 4\n# x\n 1\n 2\n 3\n", n);
        EXPECT_EQ(results(), (std::vector<int>{1, 2, 2, 2, ADF_ERR_LINESDIFFER})) << "window " << n;
    }
    // Too few lines before the next block.
    open("# 1 2\n# x\n 1\n# 1 1\n# y\n 5\n", 2);
    EXPECT_EQ(results(), (std::vector<int>{1, 2, ADF_ERR_LINESDIFFER}));
}

TEST_F(AdfReader, BlocksCommentsAndBlankLines) {
    adf_file *a = open("\n! a\n  \t! indented comment\n# 2 2\n\n#\ta\tb\n!between\n"
                       "\t 1\t2\n 3 4   \n\x1a\n   #  1  1\n# c\n 9\n\x1a",
                       3);
    EXPECT_EQ(adf_read_next(a), 1);
    EXPECT_EQ(names_of(a), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(adf_read_next(a), 2);
    EXPECT_EQ(window(0), (V{1, 3}));
    EXPECT_EQ(window(1), (V{2, 4}));
    EXPECT_EQ(adf_read_next(a), 2);
    EXPECT_EQ(window(1), (V{4}));
    EXPECT_EQ(adf_read_next(a), 1);
    EXPECT_EQ(adf_channel_count(a), 1);
    EXPECT_EQ(adf_line_count(a), 1);
    EXPECT_STREQ(adf_channel_name(a, 0), "c");
    EXPECT_EQ(adf_read_next(a), 2);
    EXPECT_EQ(window(0), (V{9}));
    EXPECT_EQ(adf_read_next(a), 0);
}

TEST_F(AdfReader, RepeatedValues) {
    adf_file *a = open("# 2 4\n# a b\n 1.5*3 1\n 2\n 3 \n 4 4*1\n", 1);
    EXPECT_EQ(adf_read_next(a), 1);
    V a_values, b_values;
    int r;
    while ((r = adf_read_next(a)) == 2) {
        a_values.push_back(window(0)[0]);
        b_values.push_back(window(1)[0]);
    }
    EXPECT_EQ(r, 0);
    EXPECT_EQ(a_values, (V{1.5, 1.5, 1.5, 4}));
    EXPECT_EQ(b_values, (V{1, 2, 3, 4}));

    open("# 1 1\n# a\n 1.5*0\n", 1);
    EXPECT_EQ(results(), (std::vector<int>{1, ADF_ERR_REPEAT}));
    open("# 1 1\n# a\n 1.5*\n", 1);
    EXPECT_EQ(results(), (std::vector<int>{1, ADF_ERR_REPEAT}));
    // A repeat beyond the end of its block does not reach into the next block.
    open("# 1 1\n# a\n 2*5\n# 1 1\n# b\n 3\n", 2);
    EXPECT_EQ(results(), (std::vector<int>{1, 2, 1, 2, 0}));
    EXPECT_EQ(window(0), (V{3}));
}

TEST_F(AdfReader, HeaderErrors) {
    open("# 1 -1\n# x\n 1\n", 1); // never closed by its writer
    EXPECT_EQ(adf_read_next(adf_), ADF_ERR_LINECOUNT);
    open("# 0 1\n# x\n", 1);
    EXPECT_EQ(adf_read_next(adf_), ADF_ERR_CHANCOUNT);
    open("# x 1\n# x\n", 1);
    EXPECT_EQ(adf_read_next(adf_), ADF_ERR_CHANCOUNT);
    open("# 1 1\n 1\n", 1);
    EXPECT_EQ(adf_read_next(adf_), ADF_ERR_NOCHANLINE);
    open("# 2 1\n# x\n 1\n", 1);
    EXPECT_EQ(adf_read_next(adf_), ADF_ERR_CHANNELS);
    open("# 1 1\n# time TIME\n", 1);
    EXPECT_EQ(adf_read_next(adf_), ADF_ERR_CHANNELS);
    open("# 2 1\n# time TIME\n 1 2\n", 1);
    EXPECT_EQ(adf_read_next(adf_), ADF_ERR_TIME);
    EXPECT_EQ(adf_channel_count(adf_), 0); // no block: its value lines are refused
    EXPECT_EQ(adf_read_next(adf_), ADF_ERR_LINESFULL);
    open("# 2 1\n# angle Angle\n", 1);
    EXPECT_EQ(adf_read_next(adf_), ADF_ERR_ANGLE);
    open("# 1 1\n", 1); // header at the end of the file
    EXPECT_EQ(adf_read_next(adf_), 0);
}

TEST_F(AdfReader, ValueLineErrors) {
    open(" 1\n# 1 1\n# x\n 1\n", 1);
    EXPECT_EQ(adf_read_next(adf_), ADF_ERR_LINESFULL); // before the first header
    open("# 1 1\n# x\n 1\n 2\n", 1);
    EXPECT_EQ(results(), (std::vector<int>{1, 2, ADF_ERR_LINESFULL}));
    open("# 2 1\n# x y\n 1\n", 1);
    EXPECT_EQ(results(), (std::vector<int>{1, ADF_ERR_VALUECOUNT}));
    open("# 2 1\n# x y\n 1 2 3\n", 1);
    EXPECT_EQ(results(), (std::vector<int>{1, ADF_ERR_VALUECOUNT}));
    open("# 2 1\n# x y\n 1 abc\n", 1);
    EXPECT_EQ(results(), (std::vector<int>{1, ADF_ERR_VALUECOUNT}));
    open("# 1 1\n# x\n 1,5\n", 1);
    EXPECT_EQ(results(), (std::vector<int>{1, ADF_ERR_VALUECOUNT}));
    // An error while reading ahead ends the call that read ahead.
    open("# 1 3\n# x\n 1\n 2 2\n 3\n", 3);
    EXPECT_EQ(results(), (std::vector<int>{1, ADF_ERR_VALUECOUNT}));
}

TEST_F(AdfReader, NamesKindsAndJoinedColumns) {
    adf_file *a = open("# 6 1\n# time S:speed r:rev,T:temp a.b[1]\\c ANGLE x+y-z\n"
                       " 1 2 3 4 5 6\n",
                       1);
    EXPECT_EQ(adf_read_next(a), 1);
    EXPECT_EQ(names_of(a), (std::vector<std::string>{"time", "speed", "rev", "temp", "a.b[1]\\c",
                                                     "ANGLE", "x", "y", "z"}));
    EXPECT_EQ(kinds_of(a), (std::vector<int>{ADF_TIME, ADF_S, ADF_R, ADF_T, ADF_PLAIN, ADF_ANGLE,
                                             ADF_PLAIN, ADF_PLAIN, ADF_PLAIN}));
    EXPECT_EQ(name_groups_of(a), (std::vector<long>{1, 1, 2, 1, 1, 3}));
    EXPECT_EQ(adf_column_count(a), 6);
    EXPECT_EQ(adf_channel_count(a), 9);
    EXPECT_EQ(adf_time_channel(a), 0);
    EXPECT_EQ(adf_angle_channel(a), 5);
    EXPECT_EQ(adf_prefixed_count(a, ADF_S), 1);
    EXPECT_EQ(prefixed_of(a, ADF_S), (std::vector<long>{1}));
    EXPECT_EQ(prefixed_of(a, ADF_R), (std::vector<long>{2}));
    EXPECT_EQ(adf_prefixed_count(a, ADF_T), 1);
    EXPECT_EQ(prefixed_of(a, ADF_T), (std::vector<long>{3}));
    EXPECT_EQ(adf_read_next(a), 2);
    const V expected{1, 2, 3, 3, 4, 5, 6, 6, 6};
    for (long ch = 0; ch < 9; ++ch) EXPECT_EQ(window(ch), (V{expected[ch]})) << ch;
    EXPECT_EQ(adf_read_next(a), 0);
}

TEST_F(AdfReader, NonFiniteSpellingsAreNumbers) {
    open("# 5 1\n# a b c d e\n nan -nan inf -inf 1e999\n", 1);
    EXPECT_EQ(results(), (std::vector<int>{1, 2, 0}));
    const V w{window(0)[0], window(1)[0], window(2)[0], window(3)[0], window(4)[0]};
    EXPECT_TRUE(std::isnan(w[0]) && !std::signbit(w[0]));
    EXPECT_TRUE(std::isnan(w[1]) && std::signbit(w[1]));
    EXPECT_EQ(w[2], std::numeric_limits<double>::infinity());
    EXPECT_EQ(w[3], -std::numeric_limits<double>::infinity());
    EXPECT_EQ(w[4], std::numeric_limits<double>::infinity());
}

TEST_F(AdfReader, LinesEndedByCarriageReturnAndLineFeed) {
    open("# 2 2\r\n# a b\r\n 1 2\r\n 3 4\r\n", 2);
    EXPECT_EQ(results(), (std::vector<int>{1, 2, 2, 0}));
    EXPECT_STREQ(adf_channel_name(adf_, 1), "b");
}

TEST_F(AdfReader, UnendedOrOverlongLines) {
    open("# 1 2\n# x\n 1\n 2", 1); // cut off while it was written
    EXPECT_EQ(results(), (std::vector<int>{1, 2, ADF_ERR_LINE}));
    open("# 1 2\n# x\n 1\n 2", 3); // reported after the window is drained
    EXPECT_EQ(results(), (std::vector<int>{1, 2, ADF_ERR_LINE}));
    open("# 1 1\n# x\n 1\n! comment without line end", 1);
    EXPECT_EQ(results(), (std::vector<int>{1, 2, 0}));

    std::string big = "# 1 1\n# x\n " + std::string(ADF_MAX_LINE, '1') + "\n";
    open(big, 1);
    EXPECT_EQ(results(), (std::vector<int>{1, ADF_ERR_LINE}));
    // An overlong comment is skipped like any other.
    big = "!" + std::string(ADF_MAX_LINE + 10, '!') + "\n# 1 1\n# x\n 7\n";
    open(big, 1);
    EXPECT_EQ(results(), (std::vector<int>{1, 2, 0}));
    EXPECT_EQ(window(0), (V{7}));
}

TEST_F(AdfReader, LongLinesManyNamesAndLongNames) {
    const int columns = 3000; // value lines far beyond 2560 characters
    std::string text = "# " + std::to_string(columns) + " 2\n#";
    for (int c = 0; c < columns; ++c) {
        text += " " + std::string(100, 'n') + std::to_string(c);
        if (c % 2 == 0) text += ",j" + std::to_string(c); // two names in every second column
    }
    text += "\n";
    for (int line = 0; line < 2; ++line) {
        for (int c = 0; c < columns; ++c) text += " " + std::to_string(c + line * 0.5);
        text += "\n";
    }
    adf_file *a = open(text, 2);
    ASSERT_EQ(adf_read_next(a), 1);
    ASSERT_EQ(adf_channel_count(a), columns + columns / 2);
    EXPECT_STREQ(adf_channel_name(a, 0), (std::string(100, 'n') + "0").c_str());
    EXPECT_STREQ(adf_channel_name(a, 1), "j0");
    ASSERT_EQ(adf_read_next(a), 2);
    long ch = 0;
    for (int c = 0; c < columns; ++c) {
        for (long j = 0; j < adf_name_group(a, c); ++j, ++ch)
            ASSERT_EQ(window(ch), (V{c * 1.0, c + 0.5}));
    }
    EXPECT_EQ(results(), (std::vector<int>{2, 0}));
}

TEST_F(AdfReader, OpeningChecks) {
    EXPECT_EQ(adf_open_read((dir_ / "missing.adf").string().c_str(), 1), nullptr);
    { std::ofstream(path_) << ""; }
    EXPECT_EQ(adf_open_read(path_.c_str(), 0), nullptr);
    adf_file *a = adf_open_read(path_.c_str(), 1);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(adf_read_next(a), 0); // an empty file: no block, complete
    EXPECT_EQ(adf_close(a), 0);

    // A window too large for memory is refused when the block is sized, without overflow: the
    // largest window of one channel where long has 64 bits; where it has 32 (Windows), that
    // window of 2^14 channels, 2^48 bytes, beyond the address space.
    const long huge = std::numeric_limits<long>::max();
    const long wide = sizeof(long) >= 8 ? 1 : 1L << 14;
    std::string names, values;
    for (long c = 0; c < wide; ++c) {
        names += " a" + std::to_string(c);
        values += " 1";
    }
    open("# " + std::to_string(wide) + " 1\n#" + names + "\n" + values + "\n", huge);
    EXPECT_EQ(adf_read_next(adf_), ADF_ERR_MEMORY);
    // A column without names: its values are read and belong to no channel.
    open("# 1 1\n# ,\n 5\n", huge);
    EXPECT_EQ(results(), (std::vector<int>{1, 2, 0}));
    open("# 2 2\n# , b\n 1 2\n 3 4\n", 3);
    EXPECT_EQ(results(), (std::vector<int>{1, 2, 2, 0}));
    EXPECT_EQ(adf_channel_count(adf_), 1);
    EXPECT_EQ(name_groups_of(adf_), (std::vector<long>{0, 1}));
    EXPECT_EQ(window(0), (V{4}));
}

TEST(AdfNames, NameCharactersAreLettersDigitsAndSixMarks) {
    const std::string allowed = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
                                "_\\:.[]";
    int count = 0;
    for (int i = 0; i < 256; ++i) {
        const char c = static_cast<char>(i);
        const bool expected = c != '\0' && allowed.find(c) != std::string::npos;
        EXPECT_EQ(adf_is_name_char(c), expected) << i;
        count += adf_is_name_char(c);
    }
    EXPECT_EQ(count, 68);
}

TEST(AdfNames, TimeAndAngleInAnyCaseOfTheirLetters) {
    for (const char *name : {"TIME", "time", "Time", "tImE"}) {
        EXPECT_TRUE(adf_is_time_name(name)) << name;
        EXPECT_FALSE(adf_is_angle_name(name)) << name;
    }
    for (const char *name : {"ANGLE", "angle", "Angle", "aNgLe"}) {
        EXPECT_TRUE(adf_is_angle_name(name)) << name;
        EXPECT_FALSE(adf_is_time_name(name)) << name;
    }
    for (const char *name : {"", "TIM", "TIMES", " TIME", "TIME ", "S:TIME", "TIME_1", "ANGL",
                             "ANGLES", "T1ME", "x"}) {
        EXPECT_FALSE(adf_is_time_name(name)) << name;
        EXPECT_FALSE(adf_is_angle_name(name)) << name;
    }
    EXPECT_FALSE(adf_is_time_name(nullptr));
    EXPECT_FALSE(adf_is_angle_name(nullptr));
    EXPECT_STREQ(ADF_TIME_NAME, "TIME");
    EXPECT_STREQ(ADF_ANGLE_NAME, "ANGLE");
}

// The reader splits a column into names at exactly the characters adf_is_name_char refuses:
// one block per byte (blanks, tabs, line ends and the zero byte excepted) with the column
// "a", the byte, "b".
TEST_F(AdfReader, ColumnsSplitAtTheCharactersThatAreNoNameCharacters) {
    std::string text;
    std::vector<char> bytes;
    for (int i = 1; i < 256; ++i) {
        const char c = static_cast<char>(i);
        if (c == ' ' || c == '\t' || c == '\n') continue;
        bytes.push_back(c);
        text += "# 1 1\n# a" + std::string(1, c) + "b\n 1\n";
    }
    adf_file *a = open(text, 1);
    for (char c : bytes) {
        const int code = static_cast<unsigned char>(c);
        ASSERT_EQ(adf_read_next(a), 1) << code;
        if (adf_is_name_char(c)) {
            EXPECT_EQ(names_of(a), (std::vector<std::string>{"a" + std::string(1, c) + "b"}))
                << code;
        } else {
            EXPECT_EQ(names_of(a), (std::vector<std::string>{"a", "b"})) << code;
        }
        ASSERT_EQ(adf_read_next(a), 2) << code;
    }
    EXPECT_EQ(adf_read_next(a), 0);
}

// The value of v as written with "%.7g".
double seven_digits(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%.7g", v);
    return std::strtod(text, nullptr);
}

// Writes blocks through the writer and reads them back: every value the same as written (for
// the default format: as written to seven digits; "%.17g", "%a" and "%.17e" keep every bit).
TEST_F(AdfReader, RoundTripThroughTheWriter) {
    std::mt19937_64 rng(20240611);
    std::uniform_real_distribution<double> dist(-1e6, 1e6);
    const double special[] = {0.0,
                              -0.0,
                              std::numeric_limits<double>::infinity(),
                              -std::numeric_limits<double>::infinity(),
                              std::numeric_limits<double>::denorm_min(),
                              std::numeric_limits<double>::max(),
                              -std::numeric_limits<double>::min(),
                              1e-300};
    const long lines1 = 200, lines2 = 50, cols = 6;
    std::vector<std::vector<double>> written1, written2;

    adf_file *w = adf_open_write(path_.c_str());
    ASSERT_NE(w, nullptr);
    adf_write_comment(w, "round trip\nsecond comment line");
    ASSERT_EQ(adf_init_header(w, cols, -1), 0);
    ASSERT_EQ(adf_define_channel(w, nullptr, ADF_TIME, nullptr), 0);
    ASSERT_EQ(adf_define_channel(w, "s", ADF_S, nullptr), 0);
    ASSERT_EQ(adf_define_channel(w, "exact", ADF_PLAIN, "%.17g"), 0);
    ASSERT_EQ(adf_define_channel(w, "r", ADF_R, "%1.7g"), 0);
    ASSERT_EQ(adf_define_channel(w, "t", ADF_T, nullptr), 0);
    ASSERT_EQ(adf_define_channel(w, "hex", ADF_PLAIN, "%a"), 0);
    ASSERT_EQ(adf_write_header(w), 0);
    adf_write_comment(w, "kg/kn");
    for (long i = 0; i < lines1; ++i) {
        std::vector<double> v{i * 0.001,
                              static_cast<double>(static_cast<long>(dist(rng))),
                              i % 2 ? dist(rng) : special[i % 8],
                              i % 2 ? special[i % 8] : dist(rng),
                              std::ldexp(static_cast<double>(i % 17), -(int)(i % 9)),
                              dist(rng) * 1e-200};
        ASSERT_EQ(adf_write_values(w, v.data()), 0);
        for (int ch : {0, 1, 3, 4}) v[ch] = seven_digits(v[ch]);
        written1.push_back(v);
    }
    ASSERT_EQ(adf_init_header(w, 2, lines2), 0);
    ASSERT_EQ(adf_define_channel(w, "ANGLE", ADF_ANGLE, nullptr), 0);
    ASSERT_EQ(adf_define_channel(w, "b", ADF_PLAIN, "%.17e"), 0);
    ASSERT_EQ(adf_write_header(w), 0);
    for (long i = 0; i < lines2; ++i) {
        std::vector<double> v{static_cast<double>(i), dist(rng)};
        ASSERT_EQ(adf_write_values(w, v.data()), 0);
        written2.push_back(v);
    }
    ASSERT_EQ(adf_close(w), 0);

    for (long n : {1L, 4L}) {
        SCOPED_TRACE(n);
        adf_ = adf_open_read(path_.c_str(), n);
        ASSERT_NE(adf_, nullptr);
        for (const auto *block : {&written1, &written2}) {
            ASSERT_EQ(adf_read_next(adf_), 1);
            ASSERT_EQ(adf_channel_count(adf_), static_cast<long>((*block)[0].size()));
            for (const auto &expected : *block) {
                ASSERT_EQ(adf_read_next(adf_), 2);
                for (size_t ch = 0; ch < expected.size(); ++ch) {
                    double got;
                    ASSERT_EQ(adf_get_value(adf_, static_cast<long>(ch), 0, &got), 0);
                    ASSERT_EQ(std::signbit(got), std::signbit(expected[ch]));
                    ASSERT_EQ(got, expected[ch]) << "channel " << ch;
                }
            }
        }
        EXPECT_EQ(adf_channel_kind(adf_, 0), ADF_ANGLE);
        EXPECT_EQ(adf_read_next(adf_), 0);
        adf_close(adf_);
        adf_ = nullptr;
    }
}

} // namespace
