// The merge over fake groups: brackets, interpolation, held values, triggers, the end rule and
// the guards against endless merges.
#include "Fakegroup_helper.h"
#include "Platform_helper.h"

#include "conv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using Lines = std::vector<std::string>;

class Merge : public testing::Test {
  protected:
    void SetUp() override { conv_set_language(0); }
    void TearDown() override { conv_set_language(1); }
};

fake_group_desc group(std::vector<double> times, std::vector<double> values,
                      const std::string &name, uint16_t bits = 16) {
    fake_group_desc g;
    g.times = std::move(times);
    g.channels.push_back({name, bits, std::move(values)});
    return g;
}

// A at 0, 1, 2, 3 and B at 0.5, 1.5, 2.5, 3.5.
std::vector<fake_group_desc> shifted_groups() {
    return {group({0, 1, 2, 3}, {0, 10, 30, 60}, "A"),
            group({0.5, 1.5, 2.5, 3.5}, {100, 200, 400, 800}, "B")};
}

TEST_F(Merge, ShiftedGroupsInterpolated) {
    fake_run run;
    fake_convert(run, shifted_groups());
    EXPECT_EQ(run.lines, 6);
    // At 3 group A ends on its last sample; B is interpolated towards its sample at 3.5, which
    // is never written.
    EXPECT_EQ(adf_value_lines(run.adf_text), (Lines{" 0.5 5 100", " 1 10 150", " 1.5 20 200",
                                                    " 2 30 300", " 2.5 45 400", " 3 60 600"}));
    EXPECT_EQ(run.out, "");
}

TEST_F(Merge, ShiftedGroupsWithTriggers) {
    fake_run run;
    run.s.trigger_flag = 1;
    fake_convert(run, shifted_groups());
    EXPECT_EQ(adf_value_lines(run.adf_text),
              (Lines{" 0.5 5 100 0 1", " 1 10 150 1 0", " 1.5 20 200 0 1", " 2 30 300 1 0",
                     " 2.5 45 400 0 1", " 3 60 600 1 0"}));
    EXPECT_NE(run.adf_text.find("\n# TIME A B __trig_1 __trig_2\n! kg/kn 1/1 2/1\n"),
              std::string::npos)
        << run.adf_text;
}

TEST_F(Merge, ShiftedGroupsHeldWithoutInterpolation) {
    fake_run run;
    run.s.interpolation_flag = 0;
    fake_convert(run, shifted_groups());
    EXPECT_EQ(adf_value_lines(run.adf_text), (Lines{" 0.5 0 100", " 1 10 100", " 1.5 10 200",
                                                    " 2 30 200", " 2.5 30 400", " 3 60 400"}));
}

TEST_F(Merge, EqualSamplingEndsWithSecondGroupNotAdvanced) {
    fake_run run;
    run.s.trigger_flag = 1;
    fake_convert(run, {group({0, 1, 2}, {1, 2, 3}, "A"), group({0, 1, 2}, {0.1, 0.2, 0.7}, "B")});
    // In the last line B still brackets 1..2 and is interpolated at its own t2.
    EXPECT_EQ(adf_value_lines(run.adf_text),
              (Lines{" 0 1 0.1 1 1", " 1 2 0.2 1 1", " 2 3 0.7 1 0"}));
}

TEST_F(Merge, LateStartSkipsEarlierRecords) {
    fake_run run;
    fake_convert(run, {group({0, 1, 2, 3, 4, 5, 6, 7, 8}, {0, 1, 2, 3, 4, 5, 6, 7, 8}, "A"),
                       group({5, 7}, {50, 70}, "B")});
    EXPECT_EQ(adf_value_lines(run.adf_text), (Lines{" 5 5 50", " 6 6 60", " 7 7 70"}));
}

TEST_F(Merge, NegativeFirstTimesStartAtZero) {
    fake_run run;
    fake_convert(run, {group({-2, -1, 1, 2}, {-20, -10, 10, 20}, "A"),
                       group({-1.5, 0.5, 2.5}, {-15, 5, 25}, "B")});
    EXPECT_EQ(adf_value_lines(run.adf_text), (Lines{" 0 0 0", " 0.5 5 5", " 1 10 10", " 2 20 20"}));
}

TEST_F(Merge, EqualTimesUseTheLaterRecord) {
    fake_run run;
    fake_convert(run, {group({0, 1, 1, 2, 3}, {0, 10, 11, 20, 30}, "A"),
                       group({0, 0.5, 1.5, 2.5}, {0, 5, 15, 25}, "B")});
    // Outside the full trace: one warning for the group, nothing on standard output.
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("WARNING MDFGRP_TIMEEQUAL_WARN]  \n    group 1 has equal consecutive "
                           "time stamps (first at 1)\n"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(adf_value_lines(run.adf_text),
              (Lines{" 0 0 0", " 0.5 5 5", " 1 11 10", " 1.5 15.5 15", " 2 20 20", " 2.5 25 25"}));
}

TEST_F(Merge, BitChannelHeldAndWarnedOnce) {
    fake_run run;
    fake_group_desc a = group({0, 1, 2, 3}, {0, 0.5, 0.5, 1}, "SW", 1);
    a.channels.push_back({"V", 8, {0, 10, 20, 30}});
    fake_convert(run, {a, group({0, 0.5, 1, 1.5, 2, 2.5, 3}, {0, 0, 0, 0, 0, 0, 0}, "B")});
    EXPECT_EQ(adf_value_lines(run.adf_text),
              (Lines{" 0 0 0 0", " 0.5 0 5 0", " 1 0.5 10 0", " 1.5 0.5 15 0", " 2 0.5 20 0",
                     " 2.5 0.5 25 0", " 3 1 30 0"}));
    EXPECT_EQ(run.err.find("BITVALERR"), run.err.rfind("BITVALERR")) << run.err;
    EXPECT_NE(run.err.find("WARNING BITVALERR]  \n    improper value of bit channel SW - check "
                           "formula!\n"),
              std::string::npos)
        << run.err;
}

TEST_F(Merge, NoUsedGroupGivesNoLine) {
    fake_run run;
    fake_convert(run, {});
    EXPECT_EQ(run.lines, 0);
    EXPECT_EQ(run.adf_text, "#     1          0\n# TIME\n! kg/kn\n! unit\n");
    EXPECT_NE(run.err.find("0 value lines written"), std::string::npos) << run.err;
}

TEST_F(Merge, ProgressPointsAtTraceLevelOne) {
    fake_run run;
    std::vector<double> times;
    for (int i = 0; i <= 5000; ++i) times.push_back(i);
    fake_convert(run, {group(times, times, "A")});
    EXPECT_EQ(run.lines, 5001);
    std::string points;
    for (int k = 0; k < 5; ++k) points += ".......... ";
    EXPECT_NE(run.err.find("    " + points + "\n    \n    5001 value lines written\n"),
              std::string::npos)
        << run.err;
}

TEST_F(Merge, TraceLevelTwoDumps) {
    fake_run run;
    run.s.trace_level = 2;
    run.s.trigger_flag = 1;
    fake_convert(run, {group({0, 1, 2}, {5, 6, 7}, "A"), group({0.5, 1.5}, {1, 2}, "B")});
    EXPECT_EQ(adf_value_lines(run.adf_text),
              (Lines{" 0.5 5.5 1 0 1", " 1 6 1.5 1 0", " 1.5 6.5 2 0 1"}));
    const std::string dump = "acttime = 0.5\n"
                             "G0 1: T=0 [0]=5\n   2: T=1 [0]=6\n"
                             "G1 1: T=0.5 [0]=1\n   2: T=1.5 [0]=2\n"
                             "C[5]: 0.5 5.5 1 0 1\n"
                             "acttime = 1\n"
                             "G0 1: T=1 [0]=6\n   2: T=2 [0]=7\n"
                             "G1 1: T=0.5 [0]=1\n   2: T=1.5 [0]=2\n"
                             "C[5]: 1 6 1.5 1 0\n"
                             "acttime = 1.5\n"
                             "G0 1: T=1 [0]=6\n   2: T=2 [0]=7\n"
                             "G1 1: T=1.5 [0]=2\n   2: T=1.5 [0]=2\n"
                             "C[5]: 1.5 6.5 2 0 1\n"
                             "acttime = 1.5\n";
    EXPECT_NE(run.out.find(dump), std::string::npos) << run.out;
}

// Fatal ends: each runs in a child process.
using MergeDeath = Merge;

TEST_F(MergeDeath, OneRecordGroup) {
    EXPECT_EXIT(
        {
            fake_run run;
            run.capture = false;
            fake_convert(run, {group({0, 1}, {0, 1}, "A"), group({0}, {0}, "B")});
        },
        testing::ExitedWithCode(1),
        stderr_regex("FATAL ERROR MDFGRP_RECERR.*group includes less than 2 records - conversion "
                     "senseless"));
}

TEST_F(MergeDeath, GroupWithoutRecords) {
    EXPECT_EXIT(
        {
            fake_run run;
            run.capture = false;
            fake_convert(run, {group({}, {}, "A")});
        },
        testing::ExitedWithCode(1), "less than 1 records");
}

TEST_F(MergeDeath, RecordsEndingBeforeAnotherGroupStarts) {
    EXPECT_EXIT(
        {
            fake_run run;
            run.capture = false;
            fake_convert(run, {group({0, 1, 2}, {0, 1, 2}, "A"), group({5, 6}, {5, 6}, "B")});
        },
        testing::ExitedWithCode(1), "less than 2 records");
}

TEST_F(MergeDeath, ValueMissingWhereTimeHasRecord) {
    EXPECT_EXIT(
        {
            fake_run run;
            run.capture = false;
            fake_convert(run, {group({0, 1, 2, 3}, {0, 1}, "A")});
        },
        testing::ExitedWithCode(1), stderr_regex("MDFLIB_INTERR.*inconsistent record"));
}

TEST_F(MergeDeath, NotANumberTimeStampInFirstGroup) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EXIT(
        {
            fake_run run;
            run.capture = false;
            fake_convert(run, {group({0, 1, nan, 3}, {0, 1, 2, 3}, "A"),
                               group({0, 1, 2, 3}, {0, 1, 2, 3}, "B")});
        },
        testing::ExitedWithCode(1), "MDFLIB_INTERR");
}

TEST_F(MergeDeath, NotANumberTimeStampInLaterGroup) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EXIT(
        {
            fake_run run;
            run.capture = false;
            fake_convert(run, {group({0, 1, 2, 3}, {0, 1, 2, 3}, "A"),
                               group({0, nan, 2, 3}, {0, 1, 2, 3}, "B")});
        },
        testing::ExitedWithCode(1), "MDFLIB_INTERR");
}

TEST_F(MergeDeath, LibraryErrorWhilePriming) {
    EXPECT_EXIT(
        {
            fake_run run;
            run.capture = false;
            fake_group_desc a = group({0, 1, 2, 3, 4}, {0, 1, 2, 3, 4}, "A");
            fake_group_desc b = group({3, 4}, {3, 4}, "B");
            a.fail_at = 2; // in the priming's advance loop
            fake_convert(run, {a, b});
        },
        testing::ExitedWithCode(1), "MDFLIB_INTERR");
}

TEST_F(MergeDeath, LibraryErrorInFollowingLines) {
    EXPECT_EXIT(
        {
            fake_run run;
            run.capture = false;
            fake_group_desc a = group({0, 1, 2, 3, 4}, {0, 1, 2, 3, 4}, "A");
            a.fail_at = 3;
            a.fail_status = -1003;
            fake_convert(run, {a});
        },
        testing::ExitedWithCode(1), "MDFLIB_INTERR");
}

} // namespace
