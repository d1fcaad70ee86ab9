// End-to-end: the converter on MDF 3.x files as measuring systems write them (double time
// channels, 3.x block sizes, long names, byte orders, 64-bit integers), on channels that give no
// numbers, and on files it refuses.
#include "Fakegroup_helper.h"
#include "Golden_helper.h"
#include "Mdfbytes_helper.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace {

namespace fs = std::filesystem;

mdfb_channel channel(const std::string &name, uint16_t data_type, uint16_t bits,
                     std::vector<double> values) {
    mdfb_channel c;
    c.name = name;
    c.data_type = data_type;
    c.bits = bits;
    c.values = std::move(values);
    return c;
}

mdfb_channel double_time(std::vector<double> times) {
    mdfb_channel c = channel("time", 3, 64, std::move(times));
    c.type = 1;
    return c;
}

// Two groups of a 3.30 recording: a 10 ms group with a big-endian 24-bit counter (linear 0.5),
// a little-endian signed 40-bit value at its limits and a channel with a long name; a 20 ms group
// with a big-endian float, a string, a date channel and a value-to-text channel.
mdfb_file recording() {
    mdfb_file f;
    f.version = 330;
    f.byte_offsets = true;
    mdfb_group g1;
    mdfb_channel counter = channel("n_be", 9, 24, {1000, 70000, 16777215, 3});
    counter.cc_type = 0;
    counter.params = {0, 0.5};
    counter.unit = "rpm";
    mdfb_channel longer = channel("short", 1, 16, {-5, 5, 300, -300});
    longer.long_name = "Vehicle.Speed.FrontAxle.Left filtered";
    g1.channels = {double_time({0, 0.01, 0.02, 0.03}), counter,
                   channel("s40", 14, 40, {-549755813888.0, 549755813887.0, -1, 0}), longer};
    mdfb_group g2;
    mdfb_channel date = channel("date", 0, 16, {1, 2, 3});
    date.cc_type = 132;
    mdfb_channel table = channel("tab", 0, 8, {1, 2, 3});
    table.cc_type = 11;
    g2.channels = {double_time({0, 0.02, 0.04}), channel("f_be", 11, 32, {1.5, -2.25, 3.0}),
                   channel("txt", 7, 64, {}), date, table};
    f.groups = {g1, g2};
    return f;
}

golden_result convert(const std::string &name, const mdfb_file &file, const std::string &args,
                      int status) {
    fs::path dir = make_temp_dir(name);
    EXPECT_TRUE(mdfb_write(file, (dir / "meas.dat").string()));
    golden_result r = golden_run(dir, "meas " + args);
    EXPECT_EQ(r.status, status) << r.err;
    golden_compare(name, r);
    if (status == 0) adf_read_back(dir / "meas.adf");
    return r;
}

// The value lines of an ADF text by column name.
std::map<std::string, std::vector<std::string>> columns(const std::string &adf) {
    std::istringstream in(adf);
    std::string line;
    std::vector<std::string> names;
    std::map<std::string, std::vector<std::string>> by_name;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string word;
        if (line.rfind("# TIME", 0) == 0) {
            words >> word;
            while (words >> word) names.push_back(word);
        } else if (!line.empty() && line[0] == ' ' && !names.empty()) {
            for (std::size_t i = 0; words >> word && i < names.size(); ++i)
                by_name[names[i]].push_back(word);
        }
    }
    return by_name;
}

// Standard error with the message output's line wrapping undone.
std::string unwrapped(std::string text) {
    for (std::size_t at; (at = text.find("\n    ")) != std::string::npos;) text.replace(at, 5, " ");
    return text;
}

std::size_t count(const std::string &text, const std::string &piece) {
    std::size_t n = 0;
    for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        ++n;
    return n;
}

TEST(Mdf3, RecordingWithDoubleTimeLongNamesAndByteOrders) {
    golden_result r = convert("mdf3_recording", recording(), "/trace=2 =e", 0);
    // Worked out by hand: at 0.01 s the counter is 70000 x 0.5, the 40-bit value its most
    // positive, the long-name channel 5, the float half-way between 1.5 and -2.25, the text
    // table's raw value half-way between 1 and 2.
    EXPECT_NE(r.adf.find("\n 0.01 35000 5.497558e+11 5 -0.375 1.5\n"), std::string::npos) << r.adf;
    EXPECT_NE(r.adf.find("\n 0.02 8388608 -1 300 -2.25 2\n"), std::string::npos) << r.adf;
    EXPECT_NE(r.adf.find("\n 0 500 -5.497558e+11 -5 1.5 1\n"), std::string::npos) << r.adf;
    EXPECT_NE(r.adf.find(" Vehicle.Speed.FrontAxle.Left_filtered "), std::string::npos);
    EXPECT_EQ(count(r.err, "MDFCHN_NOTNUM_ERR"), 2u) << r.err;
    const std::string err = unwrapped(r.err);
    EXPECT_NE(err.find("channel 3 \"txt\" of group 2 left out: data type 7 with 64 bits gives "
                         "no number"),
              std::string::npos)
        << r.err;
    EXPECT_NE(err.find("channel 4 \"date\" of group 2 left out: conversion type 132 (date or "
                         "time) gives no number"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("MDF version = 3.30, default byte order = little-endian\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("    data type = 9, bits = 24, byte order = big-endian\n"),
              std::string::npos);
}

TEST(Mdf3, UnsortedWithTwoIdentifierBytesGivesTheSameColumns) {
    golden_result sorted = convert("mdf3_recording_plain", recording(), "=e", 0);
    mdfb_file file = recording();
    file.unsorted = true;
    file.id_bytes = 2;
    golden_result unsorted = convert("mdf3_recording_unsorted", file, "=e", 0);
    EXPECT_NE(unsorted.err.find("MDFFIL_UNSORTED"), std::string::npos);
    auto a = columns(sorted.adf), b = columns(unsorted.adf);
    ASSERT_EQ(a.size(), 6u);
    EXPECT_EQ(a, b);
}

TEST(Mdf3, BigEndianFilesReadTheirDefaultTypesInThatOrder) {
    // The ID's byte order 1: types 0 to 3 are big-endian, 13 to 16 stay little-endian.
    mdfb_file f;
    f.version = 300;
    f.big_endian = true;
    mdfb_group g;
    mdfb_channel time = channel("time", 2, 32, {0, 1});
    time.type = 1;
    g.channels = {time, channel("u16", 0, 16, {258, 65535}), channel("s12", 1, 12, {-2048, 2047}),
                  channel("d", 3, 64, {0.1, -1e300}), channel("u_le", 13, 16, {513, 1})};
    f.groups = {g};
    golden_result r = convert("mdf3_big_endian", f, "=e", 0);
    EXPECT_NE(r.adf.find("\n 0 258 -2048 0.1 513\n 1 65535 2047 -1e+300 1\n"), std::string::npos)
        << r.adf;
}

TEST(Mdf3, GroupsWithoutNumbersAndConversionsWithoutRule) {
    mdfb_file f;
    f.version = 320;
    // Group 1: its time channel is a string, so the group is not used.
    mdfb_group bad_time;
    mdfb_channel text_time = channel("time", 7, 32, {});
    text_time.type = 1;
    bad_time.channels = {text_time, channel("A", 2, 32, {1, 2})};
    // Group 2: every value channel is left out (byte array, 16-bit float): not used either.
    mdfb_group no_values;
    no_values.channels = {double_time({0, 1}), channel("bytes", 8, 16, {}),
                          channel("half", 2, 16, {})};
    // Group 3: a formula that does not parse reads 0, an unknown conversion type the raw value.
    // kg/kn count the used groups and their value channels only.
    mdfb_group used;
    mdfb_channel formula = channel("F", 0, 8, {4, 6});
    formula.cc_type = 10;
    formula.formula = "X +* 2";
    mdfb_channel unknown = channel("U", 0, 8, {7, 9});
    unknown.cc_type = 200;
    unknown.params = {1, 2};
    used.channels = {double_time({0, 1}), formula, unknown};
    f.groups = {bad_time, no_values, used};
    golden_result r = convert("mdf3_left_out", f, "=e", 0);
    EXPECT_EQ(count(r.err, "MDFGRP_TIMENUM_ERR"), 1u);
    EXPECT_NE(unwrapped(r.err).find("time channel 1 \"time\" of group 1: data type 7 with 32 bits gives no "
                         "number - group not used"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(count(r.err, "MDFCHN_NOTNUM_ERR"), 2u);
    EXPECT_EQ(count(r.err, "MDFCHN_FORMULA_WARN"), 1u);
    EXPECT_EQ(count(r.err, "MDFCHN_CONVTYPE_WARN"), 1u);
    EXPECT_NE(r.adf.find("# TIME F U\n! kg/kn 1/1 1/2\n! unit - -\n 0 0 7\n 1 0 9\n"), std::string::npos)
        << r.adf;
}

TEST(Mdf3, UnfinalisedAndVersion4FilesAreRefusedOnce) {
    struct Case {
        const char *name;
        const char *file_id;
        uint16_t version;
        const char *reason;
    };
    const Case cases[] = {
        {"mdf3_unfinished", "UnFinMF ", 331, "unfinalised MDF file (the recording was not completed)"},
        {"mdf3_version4", "MDF     ", 410, "MDF version 4.xx (or later) not supported"},
    };
    for (const Case &c : cases) {
        mdfb_file f = recording();
        f.file_id = c.file_id;
        f.version = c.version;
        golden_result r = convert(c.name, f, "=e", 1);
        EXPECT_EQ(count(r.err, "FATAL ERROR MDFFIL_VERSION_ERR"), 1u) << c.name << r.err;
        EXPECT_NE(unwrapped(r.err).find(std::string("cannot be converted: ") + c.reason),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(count(r.out, "[MDFLIB-ERROR]"), 1u) << r.out;
        EXPECT_FALSE(r.adf_exists);
    }
    // German: the reason in the converter's code page.
    mdfb_file f = recording();
    f.version = 400;
    golden_result r = convert("mdf3_version4_de", f, "", 1);
    EXPECT_NE(unwrapped(r.err).find("MDF-Version 4.xx (oder h\x94her) wird nicht unterst\x81tzt"),
              std::string::npos)
        << r.err;
}

} // namespace
