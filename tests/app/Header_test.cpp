// The ADF header: column layout, trigger names, the kg/kn line and the header trace.
#include "Fakegroup_helper.h"

#include "conv.h"

#include <gtest/gtest.h>

namespace {

class Header : public testing::Test {
  protected:
    void SetUp() override { conv_set_language(0); }
    void TearDown() override { conv_set_language(1); }
};

fake_group_desc two_channel_group() {
    fake_group_desc g;
    g.times = {0, 1};
    g.channels = {{"n", 16, {1, 2}}, {"v", 8, {3, 4}}};
    return g;
}

fake_group_desc one_channel_group() {
    fake_group_desc g;
    g.times = {0, 1};
    g.channels = {{"sw", 1, {0, 1}}};
    return g;
}

TEST_F(Header, ColumnsAndKgKnLine) {
    fake_run run;
    run.s.trace_level = 0;
    fake_convert(run, {two_channel_group(), one_channel_group()});
    EXPECT_EQ(run.adf_text, "#     4          2\n# TIME n v sw\n! kg/kn 1/1 1/2 2/1\n"
                            "! unit - - -\n 0 1 3 0\n 1 2 4 0\n");
    // Level 0 shows no group lines.
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "");
}

TEST_F(Header, TriggerColumnsAndTrace) {
    fake_run run;
    run.s.trigger_flag = 1;
    fake_convert(run, {two_channel_group(), one_channel_group()});
    EXPECT_TRUE(run.adf_text.starts_with("#     6          2\n# TIME n v sw __trig_1 __trig_2\n"
                                         "! kg/kn 1/1 1/2 2/1\n"))
        << run.adf_text;
    const std::string trace =
        std::string("    total of 3 value channels found in 2 groups:\n"
                    "    group 1:\n") +
        "        n" + std::string(31, ' ') + " (16 bits)\n" + "        v" + std::string(31, ' ') +
        " (8 bits)\n" + "    group 2:\n" + "        sw" + std::string(30, ' ') + " (1 bits)\n" +
        "    generated trigger channels:\n" + "        __trig_1 - for group 1\n" +
        "        __trig_2 - for group 2\n" + "    header initialisation finished\n";
    EXPECT_NE(run.err.find("INFORMATION TRACE_CHNGRP]  \n" + trace), std::string::npos) << run.err;
}

TEST_F(Header, GermanTexts) {
    conv_set_language(1);
    fake_run run;
    run.s.trace_level = 1;
    fake_convert(run, {one_channel_group()});
    EXPECT_NE(run.err.find("    Kanalgruppe 1:\n"), std::string::npos) << run.err;
}

TEST_F(Header, KgKnLineOfManyColumnsWrittenWhole) {
    fake_group_desc g;
    g.times = {0, 1};
    std::string expected = "! kg/kn";
    for (int j = 1; j <= 600; ++j) {
        g.channels.push_back({"c" + std::to_string(j), 16, {0, 1}});
        expected += " 1/" + std::to_string(j);
    }
    fake_run run;
    run.s.trace_level = 0;
    fake_convert(run, {g});
    EXPECT_GT(expected.size(), 2560u);
    EXPECT_NE(run.adf_text.find("\n" + expected + "\n"), std::string::npos);
}

} // namespace
