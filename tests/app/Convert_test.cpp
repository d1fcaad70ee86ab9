// End-to-end: the converter binary on MDF files made here, compared byte for byte with the
// expected files in tests/data/expected (standard output, standard error, the ADF file), and
// every ADF file of a completed run read back by the ADF reader.
#include "Fakegroup_helper.h"
#include "Golden_helper.h"
#include "Mdfbytes_helper.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>

namespace {

namespace fs = std::filesystem;

// Converts `file` written as <dir>/meas.dat with args and checks status and expected files.
golden_result convert_case(const std::string &name, const mdfb_file &file, const std::string &args,
                           int status, bool compare_adf = true) {
    fs::path dir = make_temp_dir(name);
    EXPECT_TRUE(mdfb_write(file, (dir / "meas.dat").string()));
    golden_result r = golden_run(dir, "meas " + args);
    EXPECT_EQ(r.status, status) << r.err;
    golden_compare(name, r, compare_adf);
    if (status == 0) {
        EXPECT_TRUE(r.adf_exists);
        adf_read_back(dir / "meas.adf");
    }
    return r;
}

mdfb_channel value_channel(const std::string &name, std::vector<double> values) {
    mdfb_channel c;
    c.name = name;
    c.values = std::move(values);
    return c;
}

mdfb_channel time_channel(std::vector<double> times) {
    mdfb_channel c;
    c.name = "time";
    c.type = 1;
    c.values = std::move(times);
    return c;
}

mdfb_file shifted_file() {
    mdfb_file f;
    f.groups = {mdfb_simple_group({0, 1, 2, 3}, {0, 10, 30, 60}, "A"),
                mdfb_simple_group({0.5, 1.5, 2.5, 3.5}, {100, 200, 400, 800}, "B")};
    return f;
}

TEST(Convert, ShiftedGroups) {
    convert_case("shifted", shifted_file(), "=e", 0);
}

TEST(Convert, ShiftedGroupsWithTriggers) {
    convert_case("shifted_trig", shifted_file(), "/trig =e", 0);
}

TEST(Convert, ShiftedGroupsWithoutInterpolation) {
    convert_case("shifted_noipol", shifted_file(), "/noipol =e", 0);
}

TEST(Convert, EqualSampling) {
    mdfb_file f;
    f.groups = {mdfb_simple_group({0, 1, 2}, {1, 2, 3}, "A"),
                mdfb_simple_group({0, 1, 2}, {5, 7, 11}, "B")};
    convert_case("equal_sampling", f, "/trig =e", 0);
}

TEST(Convert, LateStartingGroup) {
    mdfb_file f;
    f.groups = {mdfb_simple_group({0, 1, 2, 3, 4, 5, 6, 7, 8}, {0, 1, 2, 3, 4, 5, 6, 7, 8}, "A"),
                mdfb_simple_group({5, 7}, {50, 70}, "B")};
    convert_case("late_start", f, "=e", 0);
}

TEST(Convert, NegativeFirstTimes) {
    mdfb_file f;
    f.groups = {mdfb_simple_group({-2, -1, 1, 2}, {-20, -10, 10, 20}, "A"),
                mdfb_simple_group({-1.5, 0.5, 2.5}, {-15, 5, 25}, "B")};
    convert_case("negative_start", f, "=e", 0);
}

TEST(Convert, EqualTimes) {
    mdfb_file f;
    f.groups = {mdfb_simple_group({0, 1, 1, 2, 3}, {0, 10, 11, 20, 30}, "A"),
                mdfb_simple_group({0, 0.5, 1.5, 2.5}, {0, 5, 15, 25}, "B")};
    // One warning for the group outside the full trace; "times equal" in it.
    golden_result r = convert_case("times_equal", f, "=e", 0);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("WARNING MDFGRP_TIMEEQUAL_WARN"), std::string::npos) << r.err;
    r = convert_case("times_equal_trace2", f, "/trace=2 =e", 0);
    EXPECT_NE(r.out.find("times equal\n"), std::string::npos);
    EXPECT_EQ(r.err.find("MDFGRP_TIMEEQUAL_WARN"), std::string::npos) << r.err;
}

mdfb_file one_record_file() {
    mdfb_file f;
    f.groups = {mdfb_simple_group({0, 1, 2}, {0, 1, 2}, "A"), mdfb_simple_group({0.5}, {5}, "B")};
    return f;
}

TEST(Convert, OneRecordGroupGerman) {
    convert_case("one_record_de", one_record_file(), "", 1, false);
}

TEST(Convert, OneRecordGroupEnglish) {
    convert_case("one_record_en", one_record_file(), "=e", 1, false);
}

TEST(Convert, RecordsEndBeforeAnotherGroupStarts) {
    mdfb_file f;
    f.groups = {mdfb_simple_group({0, 1, 2}, {0, 1, 2}, "A"),
                mdfb_simple_group({5, 6}, {5, 6}, "B")};
    convert_case("ends_early", f, "=e", 1, false);
}

TEST(Convert, BitChannelWithHalfValue) {
    mdfb_file f;
    mdfb_group a = mdfb_simple_group({0, 1, 2, 3}, {0, 1, 2, 3}, "V");
    mdfb_channel sw = value_channel("SW", {0, 1, 1, 0});
    sw.bits = 1;
    sw.data_type = 0;
    sw.cc_type = 0; // linear: 0.5 per count
    sw.params = {0.0, 0.5};
    a.channels.push_back(sw);
    f.groups = {a, mdfb_simple_group({0, 0.5, 1, 1.5, 2, 2.5, 3}, {0, 1, 2, 3, 4, 5, 6}, "B")};
    convert_case("bit_channel", f, "=e", 0);
}

TEST(Convert, DuplicateNames) {
    mdfb_file f;
    mdfb_group g1 = mdfb_simple_group({0, 1, 2}, {1, 2, 3}, "N");
    g1.channels.push_back(value_channel("N", {4, 5, 6}));
    mdfb_group g2 = mdfb_simple_group({0, 1, 2}, {7, 8, 9}, "N");
    g2.channels.push_back(value_channel("N", {10, 11, 12}));
    f.groups = {g1, g2};
    convert_case("dup_names", f, "=e", 0);
}

TEST(Convert, GroupWithoutTimeChannelAndTimeOnlyGroup) {
    mdfb_file f;
    mdfb_group no_time;
    no_time.channels = {value_channel("X", {1, 2, 3}), value_channel("Y", {4, 5, 6})};
    mdfb_group time_only;
    time_only.channels = {time_channel({0, 1, 2})};
    f.groups = {no_time, mdfb_simple_group({0, 1, 2}, {1, 2, 3}, "A"), time_only};
    convert_case("no_time", f, "=e", 0);
}

TEST(Convert, ChannelOfType2) {
    mdfb_file f;
    mdfb_group g = mdfb_simple_group({0, 1, 2}, {1, 2, 3}, "A");
    mdfb_channel odd = value_channel("ODD", {7, 8, 9});
    odd.type = 2;
    g.channels.insert(g.channels.begin() + 1, odd);
    f.groups = {g};
    convert_case("type2", f, "=e", 0);
}

TEST(Convert, GroupLeftOutBetweenUsedGroups) {
    mdfb_file f;
    mdfb_group g1 = mdfb_simple_group({0, 1, 2}, {1, 2, 3}, "N");
    mdfb_group g2;
    g2.channels = {value_channel("Z", {1, 2, 3})};
    // Group 3: its time channel is MDF channel 2, its value channels 1 and 3.
    mdfb_group g3;
    g3.channels = {value_channel("N", {10, 20, 30}), time_channel({0, 1, 2}),
                   value_channel("M", {5, 6, 7})};
    f.groups = {g1, g2, g3};
    convert_case("left_out", f, "/trig =e", 0);
}

TEST(Convert, UnsortedInput) {
    mdfb_file f;
    mdfb_group a = mdfb_simple_group({0, 1, 2, 3}, {0, 10, 20, 30}, "A1");
    a.channels.push_back(value_channel("A2", {1, 2, 3, 4}));
    mdfb_group b = mdfb_simple_group({0.5, 1.5, 2.5}, {5, 15, 25}, "B1");
    b.channels.push_back(value_channel("B2", {-1, -2, -3}));
    f.groups = {a, b};
    f.unsorted = true;
    fs::path dir = make_temp_dir("unsorted");
    ASSERT_TRUE(mdfb_write(f, (dir / "meas.dat").string()));
    golden_result r = golden_run(dir, "meas =e");
    EXPECT_EQ(r.status, 0) << r.err;
    golden_compare("unsorted", r);
    EXPECT_TRUE(fs::exists(dir / "meas.tmp"));
    adf_read_back(dir / "meas.adf");
}

mdfb_file small_file() {
    mdfb_file f;
    f.groups = {mdfb_simple_group({0, 1, 2}, {5, 6, 7}, "A"),
                mdfb_simple_group({0.5, 1.5, 2.5}, {1, 2, 3}, "B")};
    return f;
}

TEST(Convert, TraceLevels) {
    convert_case("trace0", small_file(), "/trace=0 =e", 0);
    convert_case("trace1", small_file(), "=e", 0);
    convert_case("trace2", small_file(), "/trace=2 /trig =e", 0);
}

TEST(Convert, ProgressPointsAfter5000Lines) {
    mdfb_file f;
    std::vector<double> times, values;
    for (int i = 0; i <= 5050; ++i) {
        times.push_back(i);
        values.push_back(i % 7);
    }
    f.groups = {mdfb_simple_group(times, values, "A")};
    golden_result r = convert_case("progress", f, "=e", 0, false);
    EXPECT_NE(r.err.find(".......... .......... .......... .......... .......... \n"),
              std::string::npos);
}

TEST(Convert, NoUsedGroup) {
    mdfb_file f;
    mdfb_group no_time;
    no_time.channels = {value_channel("X", {1, 2, 3})};
    mdfb_group empty;
    f.groups = {no_time, empty};
    convert_case("no_used_group", f, "=e", 0);
}

TEST(Convert, NoGroups) {
    convert_case("no_groups", mdfb_file(), "=e", 0);
}

TEST(Convert, NamesCleanedAndLongTexts) {
    mdfb_file f;
    f.comment = "first line of a long comment\n";
    for (int i = 0; i < 30; ++i)
        f.comment += "this measurement comment goes on and on, well beyond 512 bytes; ";
    f.author = std::string(32, 'A'); // fills its field without a zero byte
    mdfb_group g = mdfb_simple_group({0, 1, 2}, {1, 2, 3}, "  n mot  ");
    g.channels.push_back(value_channel("", {4, 5, 6}));
    g.channels.push_back(value_channel("a\tb", {7, 8, 9}));
    g.channels.push_back(value_channel("Time", {1, 1, 1}));
    g.channels.push_back(value_channel("angle", {2, 2, 2}));
    g.channels.push_back(value_channel("ANGLE", {3, 3, 3}));
    g.channels.push_back(value_channel(std::string(32, 'L'), {4, 4, 4}));
    f.groups = {g};
    golden_result r = convert_case("names", f, "=e", 0);
    // The comment is written whole, its second line far longer than 512 bytes.
    std::string second_line = f.comment.substr(f.comment.find('\n') + 1);
    EXPECT_GT(second_line.size(), 512u);
    EXPECT_NE(r.adf.find("\n! " + second_line + "\n"), std::string::npos);
    EXPECT_NE(r.adf.find("\n! NAME:     " + std::string(32, 'A') + "\n! DIVISION: "),
              std::string::npos);
}

TEST(Convert, NotANumberTimeStamp) {
    mdfb_file f;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    f.groups = {mdfb_simple_group({0, 1, nan, 3}, {0, 1, 2, 3}, "A"),
                mdfb_simple_group({0, 1, 2, 3}, {0, 1, 2, 3}, "B")};
    convert_case("nan_time", f, "=e", 1, false);
}

// Both groups' records lie beyond the end of the file: every group fails with a library error.
TEST(Convert, LibraryErrorInTheWalk) {
    mdfb_file f = small_file();
    fs::path dir = make_temp_dir("damaged");
    fs::path dat = dir / "meas.dat";
    ASSERT_TRUE(mdfb_write(f, dat.string()));
    // The data area is the end of the file: 3 records of 8 bytes per group.
    fs::resize_file(dat, fs::file_size(dat) - 48);
    golden_result r = golden_run(dir, "meas =e");
    EXPECT_EQ(r.status, 1);
    golden_compare("damaged", r, false);
}

TEST(Convert, SortedCopyThatCannotTakeItsPlaceIsReadWhereItIs) {
    mdfb_file f = small_file();
    f.unsorted = true;
    fs::path dir = make_temp_dir("sortplace");
    ASSERT_TRUE(mdfb_write(f, (dir / "meas.dat").string()));
    // A .tmp that the sorted copy cannot replace: the run reads its own copy and removes it.
    fs::create_directory(dir / "meas.tmp");
    std::ofstream(dir / "meas.tmp" / "keep") << "x";
    golden_result r = golden_run(dir, "meas =e");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(dir / "meas.tmp" / "keep"));
    for (const fs::directory_entry &e : fs::directory_iterator(dir))
        EXPECT_EQ(e.path().filename().string().rfind("meas.tmp.", 0), std::string::npos)
            << e.path();
}

TEST(Convert, FailedSortIsNotConverted) {
    // An identifier byte of no channel group: the sort fails, an old .tmp is not read.
    mdfb_file f = small_file();
    f.unsorted = true;
    fs::path dir = make_temp_dir("sortfail");
    const fs::path dat = dir / "meas.dat";
    ASSERT_TRUE(mdfb_write(f, dat.string()));
    std::vector<char> bytes(fs::file_size(dat));
    std::ifstream(dat, std::ios::binary).read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes[bytes.size() - 9] = 77; // the identifier byte of the last record (8 data bytes)
    std::ofstream(dat, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::ofstream(dir / "meas.tmp") << "stale";
    golden_result r = golden_run(dir, "meas =e");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("FATAL ERROR MDFFIL_OPEN_ERR]  \n    MDF file \"meas.tmp\" not opened: "
                         "MDFLIB says: file format (at "),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("identifier byte 77 of no channel group)"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("[MDFLIB-ERROR]"), r.out.rfind("[MDFLIB-ERROR]")) << r.out; // once
}

#ifdef __linux__
TEST(Convert, FullDiskEndsWithCloseError) {
    ASSERT_TRUE(fs::exists("/dev/full"));
    fs::path dir = make_temp_dir("fulldisk");
    ASSERT_TRUE(mdfb_write(small_file(), (dir / "meas.dat").string()));
    fs::create_symlink("/dev/full", dir / "meas.adf");
    golden_result r = golden_run(dir, "meas =e");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("FATAL ERROR ADFFIL_CLOSE_ERR]  \n    ADF file \"meas.adf\" not closed\n"),
              std::string::npos)
        << r.err;
}
#endif

} // namespace
