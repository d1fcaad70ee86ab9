// Converter start-up in this process: the settings it leaves, the converter's texts and the
// derived file names. (The command line end to end: Commandline_test.cpp.)
#include "Argv.h"
#include "Msg.h"
#include "conv.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// --- start-up in this process ---------------------------------------------------------------

class ConvStartTest : public ::testing::Test {
  protected:
    void SetUp() override {
        stream_ = std::tmpfile();
        ASSERT_NE(stream_, nullptr);
        msg_set_stream(stream_);
    }
    void TearDown() override {
        conv_finish();
        msg_set_stream(nullptr);
        std::fclose(stream_);
    }
    void start(std::vector<const char *> args) {
        args.insert(args.begin(), "traxcon");
        conv_start(static_cast<int>(args.size()), args.data());
    }
    std::string output() {
        std::fflush(stream_);
        std::fseek(stream_, 0, SEEK_SET);
        std::string text;
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, stream_)) > 0) text.append(buffer, n);
        std::fseek(stream_, 0, SEEK_END);
        return text;
    }
    std::FILE *stream_ = nullptr;
};

TEST_F(ConvStartTest, DefaultsAndDerivedNames) {
    start({"meas"});
    EXPECT_STREQ(conv.file_base_name, "meas");
    EXPECT_EQ(conv.trace_level, 1);
    EXPECT_EQ(conv.trigger_flag, 0);
    EXPECT_EQ(conv.interpolation_flag, 1);
    EXPECT_STREQ(conv.dat_name, "meas.dat");
    EXPECT_STREQ(conv.adf_name, "meas.adf");
    EXPECT_STREQ(conv.tmp_name, "meas.tmp");
    EXPECT_EQ(argv_is_given("", 1), 1);
    EXPECT_EQ(argv_is_given("trace", 0), 0);
    EXPECT_EQ(output(), "");
    conv_finish();
    EXPECT_EQ(conv.file_base_name, nullptr);
}

TEST_F(ConvStartTest, OptionsSetTheSettings) {
    start({"/tra=2", "/trig", "/n", "dir/x.y"});
    EXPECT_EQ(conv.trace_level, 2);
    EXPECT_EQ(conv.trigger_flag, 1);
    EXPECT_EQ(conv.interpolation_flag, 0);
    EXPECT_STREQ(conv.dat_name, "dir/x.y.dat");
    conv_finish();

    start({"/trig=0", "/noipol=1", "/tr=2", "/trace=3", "m"});
    EXPECT_EQ(conv.trigger_flag, 1);       // the switch value, after a warning
    EXPECT_EQ(conv.interpolation_flag, 0); // likewise
    EXPECT_EQ(conv.trace_level, 3);
    const std::string out = output();
    EXPECT_NE(out.find("OPT_VALIGNORE]  bei Argument \"/trig=0\""), std::string::npos);
    EXPECT_NE(out.find("OPT_VALIGNORE]  bei Argument \"/noipol=1\""), std::string::npos);
    EXPECT_NE(out.find("OPT_NOTUNIQUE]  bei Argument \"/tr=2\""), std::string::npos);
}

TEST_F(ConvStartTest, LanguageArgumentSwitchesEveryModule) {
    start({"=e", "m"});
    EXPECT_STREQ(conv_text(conv_key::MDFGRP_RECERR),
                 "group includes less than %d records - conversion senseless\n");
    conv_message(MSG_ERR, conv_key::MDFGRP_OPEN_ERR, 3);
    EXPECT_THAT(output(),
                ::testing::EndsWith(".ERROR MDFGRP_OPEN_ERR]  \n    group 3 not opened\n"));
    conv_finish();
    start({"m"}); // start-up selects German again
    EXPECT_STREQ(conv_text(conv_key::MDFGRP_RECERR),
                 "Gruppe beinhaltet weniger als %d Records - Konvertierung sinnlos\n");
}

// --- the converter's texts ------------------------------------------------------------------

TEST(ConvText, EveryKeyIsInTheTableInBothLanguages) {
    const char *keys[] = {
        "TRAXCON_MODNAM",    "TRAXCON_DESCR",     "TRAXCON_FILHLP",      "MDFLIB_OPEN_ERR",
        "MDFLIB_CLOSE_ERR",  "MDFFIL_UNSORTED",   "MDFFIL_OPEN_ERR",     "MDFFIL_CLOSE_ERR",
        "ADFFIL_OPEN_ERR",   "ADFFIL_CLOSE_ERR",  "MDFFIL_INFO_ERR",     "ADFFIL_COMMENT_ERR",
        "SPACE_ERR",         "MDFGRP_OPEN_ERR",   "MDFGRP_CLOSE_ERR",    "MDFGRP_TIMECLOSE_ERR",
        "MDFCHN_CLOSE_ERR",  "MDFGRP_CHN_ERR",    "MDFCHN_OPEN_ERR",     "MDFCHN_INFO_ERR",
        "MDFCHN_TYPE_ERR",   "MDFCHN_DUPNAME",    "MDFGRP_DUPCHAN",      "ADF_HEADINIT_ERR",
        "MDFLIB_INTERR",     "MDFGRP_RECERR",     "TRAXCON_TRACEHLP",    "TRAXCON_TRIGHLP",
        "TRAXCON_NOIPOLHLP", "TRACE_CHNGRP",      "TRACE_GEN",           "TRACE_TRIG",
        "TRACE_GRPNO",       "TRACE_CHNNAM",      "TRACE_HEADFIN",       "TRACE_ALLLIN",
        "BITVALERR",         "MDFFIL_GROUPS_ERR", "TRAXCON_NAMELEN_ERR", "MDFFIL_VERSION_ERR",
        "MDFFIL_UNFIN_TXT",  "MDFFIL_V4_TXT",     "MDFCHN_NOTNUM_ERR",   "MDFGRP_TIMENUM_ERR",
        "MDFCHN_DTYPE_TXT",  "MDFCHN_CTYPE_TXT",  "MDFCHN_FORMULA_WARN", "MDFCHN_CONVTYPE_WARN",
        "TRAXCON_DIGITSHLP", "MDFGRP_TIMEEQUAL_WARN", "ADF_TIMEDIGITS_WARN",
        "MDFFIL_NOFILE_TXT", "MDFFIL_ISDIR_TXT", "MDFFIL_EMPTY_TXT",  "MDFFIL_NOACCESS_TXT",
        "MDFFIL_NOTMDF_TXT", "MDFFIL_DAMAGED_TXT",
    };
    ASSERT_EQ(conv_texts.count, std::size(keys));
    for (int language : {0, 1}) {
        conv_set_language(language);
        for (const char *key : keys) EXPECT_NE(conv_text(key)[0], '\0') << key;
    }
    // Sorted once, at the first lookup.
    EXPECT_EQ(conv_texts.unsorted, 0);
    for (std::size_t i = 1; i < conv_texts.count; ++i)
        EXPECT_LT(std::strcmp(conv_texts.rows[i - 1].key, conv_texts.rows[i].key), 0);
}

TEST(ConvText, GermanTextsUseCodePage850) {
    conv_set_language(1);
    EXPECT_STREQ(conv_text("MDFLIB_OPEN_ERR"), "MDF-B\x81"
                                               "cherei nicht ge\x94"
                                               "ffnet\n");
    EXPECT_STREQ(conv_text("MDFCHN_TYPE_ERR"), "Unzul\x84"
                                               "ssiger Typ %hd des Kanals %hd der Gruppe %hd\n");
    EXPECT_STREQ(conv_text("MDFGRP_DUPCHAN"),
                 "Kanalname \"%s\" mehrfach verwendet in Gruppe %d -\nwird ge\x84"
                 "ndert zu \"%s\"\n");
    EXPECT_STREQ(conv_text("TRAXCON_MODNAM"), "TRAXCON");
    EXPECT_STREQ(conv_text(""), "");
    conv_set_language(0);
    EXPECT_STREQ(conv_text("TRAXCON_MODNAM"), "TRAXCON");
    EXPECT_STREQ(conv_text("TRACE_CHNNAM"), "    %-*s (%hu bits)\n");
    EXPECT_STREQ(conv_text("TRACE_ALLLIN"), "\n%ld value lines written\n");
    conv_set_language(7); // not a language code: English
    EXPECT_STREQ(conv_text("MDFGRP_RECERR"),
                 "group includes less than %d records - conversion senseless\n");
    conv_set_language(1);
}

TEST(ConvText, FatalMessageEndsWithStatusOne) {
    EXPECT_EXIT(
        {
            msg_set_stream(nullptr);
            conv_set_language(0);
            conv_fatal(conv_key::MDFFIL_OPEN_ERR, "x.dat", "no such file");
        },
        ::testing::ExitedWithCode(1),
        "MDFFIL_OPEN_ERR\\]  \n    MDF file \"x.dat\" not opened: no such file\n$");
    EXPECT_EXIT(
        {
            msg_set_stream(nullptr);
            conv.file_base_name = nullptr;
            static char base[700];
            std::memset(base, 'b', sizeof base - 1);
            conv.file_base_name = base;
            conv_derive_names();
        },
        ::testing::ExitedWithCode(1), "TRAXCON_NAMELEN_ERR");
}

} // namespace
