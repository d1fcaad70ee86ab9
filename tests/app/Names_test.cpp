// Column names: cleaning for the ADF channel line and the duplicate suffixes.
#include "Convert.h"
#include "Sls.h"
#include "conv.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(CleanName, BlanksTabsAndControlBytes) {
    EXPECT_EQ(conv_clean_name("  n mot\tx  ", 1, 2), "n_mot_x");
    EXPECT_EQ(conv_clean_name("a\x01z\x7f", 1, 2), "a_z_");
    EXPECT_EQ(conv_clean_name("Temp\x84l", 1, 2), "Temp\x84l"); // code page letters stay
    EXPECT_EQ(conv_clean_name("\t", 1, 2), "_");                // only blanks are stripped
}

// A name whose pieces (split at characters outside the ADF name set) include TIME or ANGLE
// would read back as a second time or angle column: it is made one piece. Names with other
// joining characters stay as they are, since the ADF format gives them a meaning.
TEST(CleanName, TimeOrAnglePieceIsJoined) {
    EXPECT_EQ(conv_clean_name("X-TIME", 1, 2), "X_TIME");
    EXPECT_EQ(conv_clean_name("time+x/y", 1, 2), "time_x_y");
    EXPECT_EQ(conv_clean_name("a%Angle", 1, 2), "a_Angle");
    EXPECT_EQ(conv_clean_name("n-eng", 1, 2), "n-eng");
    EXPECT_EQ(conv_clean_name("TIMER-x", 1, 2), "TIMER-x");
    EXPECT_EQ(conv_clean_name("S:time.1[2]", 1, 2), "S:time.1[2]");
}

TEST(CleanName, EmptyNameMadeFromNumbers) {
    EXPECT_EQ(conv_clean_name("", 3, 2), "kg3_kn2");
    EXPECT_EQ(conv_clean_name("    ", 70000, 65535), "kg70000_kn65535");
    EXPECT_EQ(conv_clean_name(nullptr, 1, 1), "kg1_kn1");
}

TEST(CleanName, LongNamesAreKeptWhole) {
    // A long name of an MDF 3.x channel (its own text block) runs past the 32-byte short field.
    const std::string long_name = "Engine.Cylinder1.Exhaust gas temperature downstream";
    EXPECT_EQ(conv_clean_name(long_name.c_str(), 1, 2),
              "Engine.Cylinder1.Exhaust_gas_temperature_downstream");
}

class UniqueName : public testing::Test {
  protected:
    void SetUp() override {
        conv_set_language(0);
        t.channel_names = sls_create(0, 0, 0, 0);
        ASSERT_NE(t.channel_names, nullptr);
    }
    void TearDown() override {
        sls_destroy(t.channel_names);
        conv_set_language(1);
    }
    std::string add(const char *name, unsigned g, unsigned c) {
        int id = conv_unique_name(t, name, g, c);
        EXPECT_GE(id, 0);
        return sls_name(t.channel_names, id);
    }
    conv_tables t;
};

TEST_F(UniqueName, DuplicatesAcrossAndWithinGroups) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(add("N", 1, 2), "N");
    EXPECT_EQ(add("N", 2, 2), "N_kg2");
    EXPECT_EQ(add("N", 2, 3), "N_kg2_kn3");
    EXPECT_EQ(add("M", 1, 3), "M");
    EXPECT_EQ(add("M", 1, 4), "M_kg1");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("WARNING MDFCHN_DUPNAME]  \n    channel name \"N\" of group 2 exists -\n"
                       "    changed to \"N_kg2\"\n"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("WARNING MDFGRP_DUPCHAN]  \n    channel name \"N\" multiply used in "
                       "group 2 -\n    changed to \"N_kg2_kn3\"\n"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("changed to \"M_kg1\""), std::string::npos) << err;
}

TEST_F(UniqueName, DuplicateTestRunsOnCleanedName) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(add("a b", 1, 2), "a_b");
    EXPECT_EQ(add(" a\tb ", 2, 2), "a_b_kg2");
    EXPECT_EQ(add("", 2, 3), "kg2_kn3");
    testing::internal::GetCapturedStderr();
}

TEST_F(UniqueName, TimeAndSecondAngleCountAsTaken) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(add("time", 1, 2), "time_kg1");
    EXPECT_EQ(add("TIME", 1, 3), "TIME_kg1");
    EXPECT_EQ(add("Time", 1, 4), "Time_kg1");
    EXPECT_EQ(add("Angle", 1, 5), "Angle");
    EXPECT_EQ(add("ANGLE", 2, 2), "ANGLE_kg2");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("channel name \"time\" of group 1 exists -\n    changed to \"time_kg1\""),
              std::string::npos)
        << err;
}

} // namespace
