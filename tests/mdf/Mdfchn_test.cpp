// Channels: opening by number, time, type and name; creation with bit placement; copies;
// description; value round trips through every data type; damaged channel layouts.
#include "Mdftest_helper.h"

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

using Channels = MdfTest;
using mdfbuild::Builder;

// One DG, one CG (id 1, 8-byte records, one record) with the given channels and record bytes.
Builder one_group(const std::vector<mdfbuild::CnInfo> &cns, std::vector<uint8_t> record = {},
                  uint32_t records = 1) {
    Builder b;
    b.id();
    uint32_t hd = b.hd({.dg_count = 1});
    uint32_t dg = b.dg(1, 0);
    uint32_t cg = b.cg(1, static_cast<uint16_t>(cns.size()), 8, records);
    std::vector<uint32_t> blocks;
    for (const auto &info : cns) blocks.push_back(b.cn(info));
    record.resize(8);
    std::vector<uint8_t> area;
    for (uint32_t k = 0; k < records; ++k) area.insert(area.end(), record.begin(), record.end());
    uint32_t data = b.raw(area);
    b.link(hd, 4, dg);
    b.link(dg, 8, cg);
    b.link(dg, 16, data);
    if (!blocks.empty()) b.chain(cg, 8, blocks, 4);
    return b;
}

struct Opened {
    mdf_file_rec *file = nullptr;
    mdf_group_rec *group = nullptr;
};
Opened open_group(const std::string &path, int16_t file_mode = MDFFIL_READ) {
    Opened o;
    EXPECT_EQ(mdffil_open(&o.file, path.c_str(), file_mode), 0);
    if (o.file != nullptr) {
        uint16_t mode = file_mode == MDFFIL_UPDATE ? MDFGRP_UPDATE : MDFGRP_READ;
        EXPECT_EQ(mdfgrp_open(&o.group, o.file, 1, mode), 0);
    }
    return o;
}
void close(Opened &o) {
    EXPECT_EQ(mdfgrp_close(o.group), 0);
    EXPECT_EQ(mdffil_close(o.file), 0);
}

uint16_t field(const mdf_channel_rec *c, uint16_t offset) {
    return mdf_u16(c->cn, offset);
}

TEST_F(Channels, OpenByNumberTimeTypeAndName) {
    Builder b = one_group({{.name = "Speed"},
                           {.type = 1, .name = "time", .first_bit = 8},
                           {.name = "SPEED", .first_bit = 16},
                           {.name = "rpm", .first_bit = 24}});
    Opened o = open_group(save(b));
    mdf_channel_rec *c = reinterpret_cast<mdf_channel_rec *>(1);

    CaptureStdout();
    EXPECT_EQ(mdfchn_open(&c, o.group, 0), MDF_NOTE_CHANNEL_NOT_FOUND);
    EXPECT_EQ(GetCapturedStdout(), "[MDFLIB-ERROR] channel not found \n\n");
    EXPECT_EQ(c, nullptr);
    CaptureStdout();
    EXPECT_EQ(mdfchn_open(&c, o.group, 5), MDF_NOTE_CHANNEL_NOT_FOUND);
    EXPECT_EQ(mdfchn_open_type(&c, o.group, 7), MDF_NOTE_CHANNEL_NOT_FOUND);
    GetCapturedStdout();
    EXPECT_EQ(mdflib_last_error(), 0); // notices do not block

    ASSERT_EQ(mdfchn_open(&c, o.group, 2), 0); // the time channel counts like any other
    EXPECT_EQ(field(c, CN_TYPE), 1);
    ASSERT_EQ(mdfchn_open_time(&c, o.group), 0);
    EXPECT_EQ(field(c, CN_FIRST_BIT), 8);
    ASSERT_EQ(mdfchn_open_type(&c, o.group, 0), 0);
    EXPECT_EQ(field(c, CN_FIRST_BIT), 0);

    // Exactly first, then case-insensitively; never the time channel; not found is quiet.
    ASSERT_EQ(mdfchn_open_name(&c, o.group, "SPEED"), 0);
    EXPECT_EQ(field(c, CN_FIRST_BIT), 16);
    ASSERT_EQ(mdfchn_open_name(&c, o.group, "speed"), 0);
    EXPECT_EQ(field(c, CN_FIRST_BIT), 0);
    ASSERT_EQ(mdfchn_open_name(&c, o.group, "RPM"), 0);
    EXPECT_EQ(field(c, CN_FIRST_BIT), 24);
    CaptureStdout();
    EXPECT_EQ(mdfchn_open_name(&c, o.group, "time"), MDF_NAME_NOT_FOUND);
    EXPECT_EQ(mdfchn_open_name(&c, o.group, "Spee"), MDF_NAME_NOT_FOUND);
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_EQ(c, nullptr);

    // Iteration over the group's open channels.
    mdf_channel_rec *it = nullptr;
    int n = 0;
    for (int16_t s = mdfchn_first(&it, o.group); s == 0; s = mdfchn_next(&it)) ++n;
    EXPECT_EQ(n, 6);
    EXPECT_EQ(it, nullptr);
    EXPECT_EQ(mdfchn_next(&it), MDF_NO_MORE_CHANNELS);
    EXPECT_EQ(mdfchn_next(nullptr), MDF_NO_MORE_CHANNELS);
    close(o);
    EXPECT_EQ(mdflib_state.channels, nullptr);

    // A group without time channel.
    o = open_group(save(one_group({{.name = "A"}})));
    CaptureStdout();
    EXPECT_EQ(mdfchn_open_time(&c, o.group), MDF_NOTE_NO_TIMECHANNEL);
    EXPECT_EQ(GetCapturedStdout(), "[MDFLIB-ERROR] timechannel not found \n\n");
    EXPECT_EQ(mdfchn_first(&it, o.group), MDF_NO_MORE_CHANNELS);
    close(o);
}

TEST_F(Channels, DamagedChannelLayoutsAreRefusedAtOpen) {
    // 16 bits from bit 56 run beyond the 8-byte record; a float of 16 bits; a value that ends
    // exactly at the record's end is fine.
    Builder b = one_group({{.name = "A", .first_bit = 56, .bits = 16},
                           {.name = "F", .first_bit = 0, .bits = 16, .data_type = 2},
                           {.name = "V", .first_bit = 32, .bits = 16, .data_type = 4},
                           {.name = "E", .first_bit = 48, .bits = 16}});
    Opened o = open_group(save(b));
    mdf_channel_rec *c = nullptr;
    ASSERT_EQ(mdfchn_open(&c, o.group, 4), 0);
    CaptureStdout();
    EXPECT_EQ(mdfchn_open(&c, o.group, 1), MDF_ERR_FORMAT);
    EXPECT_EQ(GetCapturedStdout(), "[MDFLIB-ERROR] file format (CN block at 278: value at bit 56 "
                                   "with 16 bits beyond a record of 8 bytes)\n\n");
    EXPECT_EQ(c, nullptr);
    close(o);

    // Floats of 16 bits open, but their values are no numbers: quiet, the group stays.
    for (uint16_t n : {2, 3}) {
        ASSERT_EQ(mdflib_init(""), 0);
        o = open_group(save(b));
        CaptureStdout();
        ASSERT_EQ(mdfchn_open(&c, o.group, n), 0);
        EXPECT_EQ(mdfchn_check_value(c), MDF_NOT_NUMERIC);
        double x = 5;
        EXPECT_EQ(mdfchn_read_value(&x, c), MDF_NOT_NUMERIC);
        EXPECT_EQ(x, 5);
        EXPECT_EQ(GetCapturedStdout(), "");
        EXPECT_EQ(mdflib_last_error(), 0);
        close(o);
    }
}

TEST_F(Channels, CreationPlacesBitsAndGrowsTheRecord) {
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(mdfbuild::temp_path("bits.dat"), &f, MDFFIL_CREATE), 0);
    mdf_group_rec *g = nullptr;
    ASSERT_EQ(mdfgrp_open(&g, f, 0, MDFGRP_CREATE), 0);
    mdf_channel_rec *c[5] = {};
    ASSERT_EQ(mdfchn_create(&c[0], g, 0, 1, 0, "B1"), 0);
    ASSERT_EQ(mdfchn_create(&c[1], g, 0, 3, 0, "B3"), 0);
    ASSERT_EQ(mdfchn_create(&c[2], g, 0, 6, 1, "B6"), 0); // would run into byte 1 at bit 4
    EXPECT_EQ(field(c[0], CN_FIRST_BIT), 0);
    EXPECT_EQ(field(c[1], CN_FIRST_BIT), 1);
    EXPECT_EQ(field(c[2], CN_FIRST_BIT), 8);
    EXPECT_EQ(mdf_u16(g->cg, CG_RECORD_SIZE), 2);
    ASSERT_EQ(mdfchn_create(&c[3], g, 0, 16, 0, "W16"), 0);
    EXPECT_EQ(field(c[3], CN_FIRST_BIT), 16);
    EXPECT_EQ(mdf_u16(g->cg, CG_RECORD_SIZE), 4);
    // A float is always 32 bits wide.
    ASSERT_EQ(mdfchn_create(&c[4], g, 0, 8, MDFCHN_FLOAT, "F"), 0);
    uint16_t bits = 0;
    EXPECT_EQ(mdfchn_bits(c[4], &bits), 0);
    EXPECT_EQ(bits, 32);
    EXPECT_EQ(field(c[4], CN_FIRST_BIT), 32);
    EXPECT_EQ(mdf_u16(g->cg, CG_RECORD_SIZE), 8);
    EXPECT_EQ(mdf_u16(g->cg, CG_CN_COUNT), 5);
    uint16_t channels = 9;
    EXPECT_EQ(mdfgrp_channels(&channels, g), 0);
    EXPECT_EQ(channels, 0); // as counted at open
    uint8_t *data = nullptr;
    EXPECT_GE(mdfgrp_record_data(&data, g), 8 + 3);
    // The CN chain is in creation order.
    uint8_t *cn = mdfblk_link(g->cg, CG_FIRST_CN);
    for (int i = 0; i < 5; ++i, cn = mdfblk_link(cn, CN_NEXT_CN)) EXPECT_EQ(cn, c[i]->cn);
    EXPECT_EQ(cn, nullptr);
    EXPECT_EQ(mdfgrp_close(g), 0);
    EXPECT_EQ(mdffil_close(f), 0);
}

TEST_F(Channels, CreationRefusesBitsBeforeDataType) {
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(mdfbuild::temp_path("refuse.dat"), &f, MDFFIL_CREATE), 0);
    mdf_group_rec *g = nullptr;
    ASSERT_EQ(mdfgrp_open(&g, f, 0, MDFGRP_CREATE), 0);
    mdf_channel_rec *c = reinterpret_cast<mdf_channel_rec *>(1);
    CaptureStdout();
    EXPECT_EQ(mdfchn_create(&c, g, 0, 33, uint16_t{7}, "X"), MDF_ERR_CHANNEL_BITS);
    EXPECT_EQ(GetCapturedStdout(), "[MDFLIB-ERROR] illegal nummer of channel bits \n\n");
    EXPECT_EQ(c, nullptr);
    EXPECT_EQ(mdfgrp_close(g), 0);
    EXPECT_EQ(mdffil_close(f), 0);

    for (uint16_t type : {MDFCHN_VAX_G, MDFCHN_VAX_D, uint16_t{7}, MDFCHN_UNSIGNED_LE}) {
        ASSERT_EQ(mdflib_init(""), 0);
        ASSERT_EQ(open(mdfbuild::temp_path("refuse.dat"), &f, MDFFIL_CREATE), 0);
        ASSERT_EQ(mdfgrp_open(&g, f, 0, MDFGRP_CREATE), 0);
        CaptureStdout();
        EXPECT_EQ(mdfchn_create(&c, g, 0, 32, type, "X"), MDF_ERR_VALUE_TYPE);
        EXPECT_EQ(GetCapturedStdout(), "[MDFLIB-ERROR] illegal channel value type \n\n");
        EXPECT_EQ(mdfgrp_close(g), 0);
        EXPECT_EQ(mdffil_close(f), 0);
    }
}

TEST_F(Channels, DescriptionFieldsAndComment) {
    std::string name32(32, 'N'), description128(128, 'D');
    Builder b = one_group({{.name = name32.c_str(), .description = description128.c_str()}});
    uint32_t cn = b.u32(b.u32(b.u32(64, 4), 8), 8);
    b.link(cn, 20, b.tx("a comment"));
    Opened o = open_group(save(b));
    mdf_channel_rec *c = nullptr;
    ASSERT_EQ(mdfchn_open(&c, o.group, 1), 0);
    uint16_t type = 9, bits = 0, data_type = 9;
    const char *name = nullptr, *description = nullptr, *comment = nullptr;
    ASSERT_EQ(mdfchn_info(c, &type, &bits, &data_type, &name, &description, &comment), 0);
    EXPECT_EQ(type, 0);
    EXPECT_EQ(bits, 8);
    EXPECT_EQ(data_type, 0);
    EXPECT_EQ(std::string(name), name32); // ends within its field
    EXPECT_EQ(std::string(description), description128);
    EXPECT_STREQ(comment, "a comment");
    ASSERT_EQ(mdfchn_info(c, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 0);

    // A long name is cut to the field without a zero byte; nothing beyond the field changes.
    std::string long_name(40, 'x');
    ASSERT_EQ(mdfchn_set_info(c, long_name.c_str(), "short", ""), 0);
    EXPECT_EQ(std::memcmp(c->cn + CN_NAME, long_name.data(), 32), 0);
    EXPECT_EQ(c->cn[CN_DESCRIPTION], 's');
    EXPECT_EQ(mdfchn_name(c, &name), 0);
    EXPECT_EQ(std::string(name), std::string(32, 'x'));
    EXPECT_EQ(mdfchn_description(c, &description), 0);
    EXPECT_STREQ(description, "short");
    EXPECT_EQ(mdfchn_comment(c, &comment), 0);
    EXPECT_STREQ(comment, ""); // an empty comment removes the link
    EXPECT_EQ(mdfblk_link(c->cn, CN_COMMENT), nullptr);
    ASSERT_EQ(mdfchn_set_name(c, "B"), 0);
    ASSERT_EQ(mdfchn_set_comment(c, "new"), 0);
    EXPECT_EQ(mdfchn_name(c, &name), 0);
    EXPECT_STREQ(name, "B");
    EXPECT_EQ(mdfchn_comment(c, &comment), 0);
    EXPECT_STREQ(comment, "new");
    EXPECT_EQ(mdfchn_set_description(c, nullptr), 0); // unchanged
    EXPECT_EQ(mdfchn_description(c, &description), 0);
    EXPECT_STREQ(description, "short");
    EXPECT_EQ(mdfchn_type(c, &type), 0);
    EXPECT_EQ(mdfchn_data_type(c, &data_type), 0);

    CaptureStdout();
    EXPECT_EQ(mdfchn_info(nullptr, &type, nullptr, nullptr, nullptr, nullptr, nullptr),
              MDF_ERR_BAD_CHANNEL);
    EXPECT_EQ(GetCapturedStdout(), "[MDFLIB-ERROR] bad channelhandle \n\n");
    close(o);
}

TEST_F(Channels, IllegalArgumentsGiveTheirStatus) {
    // Null out-pointers and null or empty names: -1010, reported once, sticky like every error.
    const std::string path = save(one_group({{.name = "A"}}));
    struct Case {
        const char *name;
        int16_t (*call)(Opened &, mdf_channel_rec *);
        const char *detail;
    };
    const Case cases[] = {
        {"empty name to set", [](Opened &, mdf_channel_rec *c) { return mdfchn_set_name(c, ""); },
         "(empty name)"},
        {"empty name to find",
         [](Opened &o, mdf_channel_rec *) {
             mdf_channel_rec *x = nullptr;
             return mdfchn_open_name(&x, o.group, "");
         },
         "(name)"},
        {"no name to create",
         [](Opened &o, mdf_channel_rec *) {
             mdf_channel_rec *x = nullptr;
             return mdfchn_create(&x, o.group, 0, 8, 0, nullptr);
         },
         "(name)"},
        {"no out channel",
         [](Opened &o, mdf_channel_rec *) { return mdfchn_open(nullptr, o.group, 1); },
         "(channel)"},
        {"no out value",
         [](Opened &, mdf_channel_rec *c) { return mdfchn_read_value(nullptr, c); }, "(value)"},
        {"no out count",
         [](Opened &o, mdf_channel_rec *) { return mdfgrp_channels(nullptr, o.group); }, "(count)"},
        {"no out records",
         [](Opened &o, mdf_channel_rec *) { return mdfgrp_records(nullptr, o.group); }, "(count)"},
        {"no out first channel",
         [](Opened &o, mdf_channel_rec *) { return mdfchn_first(nullptr, o.group); },
         "(channel)"},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(mdflib_init(""), 0);
        Opened o = open_group(path);
        mdf_channel_rec *ch = nullptr;
        ASSERT_EQ(mdfchn_open(&ch, o.group, 1), 0);
        CaptureStdout();
        EXPECT_EQ(c.call(o, ch), MDF_ERR_ARGUMENT) << c.name;
        EXPECT_EQ(GetCapturedStdout(),
                  std::string("[MDFLIB-ERROR] illegal argument ") + c.detail + "\n\n")
            << c.name;
        EXPECT_EQ(mdflib_last_error(), MDF_ERR_ARGUMENT) << c.name;
        close(o);
    }
    // A bad group gives no record data and records -1002.
    ASSERT_EQ(mdflib_init(""), 0);
    uint8_t *data = reinterpret_cast<uint8_t *>(1);
    mdf_group_rec *bad = nullptr;
    CaptureStdout();
    EXPECT_EQ(mdfgrp_record_data(&data, bad), 0);
    EXPECT_EQ(GetCapturedStdout(), "[MDFLIB-ERROR] bad grouphandle \n\n");
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(mdflib_last_error(), MDF_ERR_BAD_GROUP);
}

// Writes three records through channels of every data type into a created group, then reads
// them back.
TEST_F(Channels, ValuesRoundTripThroughEveryDataType) {
    // A source channel with a linear conversion (P1 = 10, P2 = 0.5), a table with interpolation,
    // and a source extension, to be copied into the created group.
    Builder b = one_group({{.name = "LIN", .description = "linear", .bits = 16},
                           {.name = "TAB", .first_bit = 16, .bits = 16}});
    uint32_t lin = b.u32(b.u32(b.u32(64, 4), 8), 8);
    uint32_t tab = b.u32(lin, 4);
    b.link(lin, 8, b.cc(0, {10, 0.5}));
    b.link(lin, 12, b.ce(2));
    b.link(lin, 20, b.tx("lin comment"));
    b.link(tab, 8, b.cc_table(1, {{0, 0}, {10, 100}, {20, 120}}));
    Opened src = open_group(save(b));
    mdf_channel_rec *slin = nullptr, *stab = nullptr;
    ASSERT_EQ(mdfchn_open(&slin, src.group, 1), 0);
    ASSERT_EQ(mdfchn_open(&stab, src.group, 2), 0);

    std::string path = mdfbuild::temp_path("types.dat");
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(path, &f, MDFFIL_CREATE), 0);
    mdf_group_rec *g = nullptr;
    ASSERT_EQ(mdfgrp_open(&g, f, 0, MDFGRP_CREATE), 0);
    struct Layout {
        uint16_t bits, type;
        const char *name;
    };
    const Layout layouts[] = {{32, MDFCHN_UNSIGNED, "U32"}, {1, MDFCHN_UNSIGNED, "U1"},
                              {5, MDFCHN_SIGNED, "S5"},     {12, MDFCHN_SIGNED, "S12"},
                              {32, MDFCHN_SIGNED, "S32"},   {32, MDFCHN_FLOAT, "F"},
                              {32, MDFCHN_VAX_F, "VAXF"},   {8, MDFCHN_DOUBLE, "D64"}};
    std::vector<mdf_channel_rec *> ch;
    for (const Layout &s : layouts) {
        mdf_channel_rec *c = nullptr;
        ASSERT_EQ(mdfchn_create(&c, g, MDFCHN_VALUE, s.bits, s.type, s.name), 0);
        ch.push_back(c);
    }
    mdf_channel_rec *clin = nullptr, *ctab = nullptr;
    ASSERT_EQ(mdfchn_copy(&clin, g, slin), 0);
    ASSERT_EQ(mdfchn_copy(&ctab, g, stab), 0);
    // The copy: type, bits, data type, texts; own CC and CE images; a new first bit.
    EXPECT_EQ(field(clin, CN_BITS), 16);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(clin->cn + CN_DESCRIPTION)), "linear");
    const char *comment = nullptr;
    EXPECT_EQ(mdfchn_comment(clin, &comment), 0);
    EXPECT_STREQ(comment, "lin comment");
    ASSERT_NE(clin->cc, nullptr);
    EXPECT_NE(clin->cc, slin->cc);
    EXPECT_EQ(mdfblk_link(clin->cn, CN_CONVERSION), clin->cc);
    // Its values are read through the copied conversion.
    EXPECT_EQ(clin->plan.conversion.type, slin->plan.conversion.type);
    EXPECT_EQ(ctab->plan.conversion.table, ctab->cc + CC_PARAMS);
    ASSERT_NE(mdfblk_link(clin->cn, CN_EXTENSION), nullptr);
    EXPECT_NE(mdfblk_link(clin->cn, CN_EXTENSION), mdfblk_link(slin->cn, CN_EXTENSION));
    EXPECT_EQ(field(clin, CN_FIRST_BIT) % 8, 0);

    auto values = [](int k) {
        return std::vector<double>{
            4000000000.0 + k,  double(k % 2),    -16.0 + k,       -2048.0 + k,
            -2147483648.0 + k, 1.5e-3 * (k + 1), -2.75 * (k + 1), 0.1 * (k + 1) + 1e300};
    };
    for (int k = 0; k < 3; ++k) {
        std::vector<double> v = values(k);
        for (std::size_t i = 0; i < ch.size(); ++i)
            ASSERT_EQ(mdfchn_write_raw_real(ch[i], v[i]), 0) << layouts[i].name;
        ASSERT_EQ(mdfchn_write_value(clin, 12.0 + k), 0);
        ASSERT_EQ(mdfchn_write_value(ctab, 50.0 + 10 * k), 0);
    }
    EXPECT_EQ(mdfgrp_close(g), 0);
    EXPECT_EQ(mdffil_close(f), 0);
    close(src);

    Opened o = open_group(path);
    uint32_t records = 0;
    EXPECT_EQ(mdfgrp_records(&records, o.group), 0);
    EXPECT_EQ(records, 3u);
    std::vector<mdf_channel_rec *> rd;
    for (uint16_t n = 1; n <= 10; ++n) {
        mdf_channel_rec *c = nullptr;
        ASSERT_EQ(mdfchn_open(&c, o.group, n), 0);
        rd.push_back(c);
    }
    for (int k = 0; k < 3; ++k) {
        std::vector<double> v = values(k);
        for (std::size_t i = 0; i < ch.size(); ++i) {
            double x = 0;
            ASSERT_EQ(mdfchn_read_raw_real(&x, rd[i]), 0);
            if (layouts[i].type == MDFCHN_FLOAT || layouts[i].type == MDFCHN_VAX_F)
                EXPECT_FLOAT_EQ(x, v[i]) << layouts[i].name << " record " << k;
            else
                EXPECT_EQ(x, v[i]) << layouts[i].name << " record " << k;
        }
        double x = 0;
        ASSERT_EQ(mdfchn_read_value(&x, rd[8]), 0);
        EXPECT_DOUBLE_EQ(x, 12.0 + k);
        ASSERT_EQ(mdfchn_read_value(&x, rd[9]), 0);
        EXPECT_DOUBLE_EQ(x, 50.0 + 10 * k);
    }
    // Raw reads of the linear channel: (12 - 10) / 0.5 = 4, then 6, 8.
    ASSERT_EQ(mdfgrp_seek(o.group, 0, MDFGRP_SEEK_SET), 0);
    for (uint32_t k = 0; k < 3; ++k) {
        uint32_t raw = 0;
        ASSERT_EQ(mdfchn_read_raw(&raw, rd[8]), 0);
        EXPECT_EQ(raw, 4 + 2 * k);
    }
    close(o);
}

TEST_F(Channels, UnalignedFieldWrittenInUpdateMode) {
    // A signed 12-bit value at bit 4 spans bytes 0 and 1; the bits around it stay.
    Builder b = one_group({{.name = "S12", .first_bit = 4, .bits = 12, .data_type = 1},
                           {.name = "NEXT", .first_bit = 16, .bits = 8}},
                          {0x0F, 0x00, 0x5A}, 2);
    std::string path = save(b);
    Opened o = open_group(path, MDFFIL_UPDATE);
    mdf_channel_rec *s = nullptr, *n = nullptr;
    ASSERT_EQ(mdfchn_open(&s, o.group, 1), 0);
    ASSERT_EQ(mdfchn_open(&n, o.group, 2), 0);
    EXPECT_EQ(mdfchn_write_raw_real(s, -1), 0);
    EXPECT_EQ(mdfchn_write_raw_real(s, 2047), 0); // record 0 written back, on record 1
    EXPECT_EQ(mdfchn_close(s), 0);                // record 1 written back
    double x = 0;
    ASSERT_EQ(mdfgrp_seek(o.group, 0, MDFGRP_SEEK_SET), 0);
    ASSERT_EQ(mdfchn_read_raw_real(&x, n), 0);
    EXPECT_EQ(x, 0x5A);
    close(o);

    std::vector<uint8_t> bytes = mdfbuild::read_file(path);
    uint32_t area = b.u32(b.u32(64, 4), 16);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + area, bytes.begin() + area + 11),
              (std::vector<uint8_t>{0xFF, 0xFF, 0x5A, 0, 0, 0, 0, 0, 0xFF, 0x7F, 0x5A}));
}

TEST_F(Channels, ClosesRunUnderAStickyErrorAndWriteNothing) {
    std::string path = mdfbuild::temp_path("sticky.dat");
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(path, &f, MDFFIL_CREATE), 0);
    mdf_group_rec *g = nullptr;
    ASSERT_EQ(mdfgrp_open(&g, f, 0, MDFGRP_CREATE), 0);
    mdf_channel_rec *a = nullptr, *b = nullptr;
    ASSERT_EQ(mdfchn_create(&a, g, 0, 8, 0, "A"), 0);
    ASSERT_EQ(mdfchn_create(&b, g, 0, 8, 0, "B"), 0);
    ASSERT_EQ(mdfchn_write_raw(a, 1), 0);
    ASSERT_EQ(mdfchn_write_raw(a, 2), 0); // one record appended
    CaptureStdout();
    EXPECT_EQ(mdfchn_read_raw(nullptr, nullptr), MDF_ERR_BAD_CHANNEL);
    GetCapturedStdout();
    EXPECT_EQ(mdfchn_write_raw(a, 3), MDF_ERR_BAD_CHANNEL);
    EXPECT_EQ(mdfchn_close(a), 0); // no pending write finished
    EXPECT_EQ(mdfgrp_close(g), 0); // closes b, writes no blocks
    EXPECT_EQ(mdflib_state.channels, nullptr);
    EXPECT_EQ(mdflib_state.groups, nullptr);
    EXPECT_EQ(mdffil_close(f), 0);
    EXPECT_EQ(mdfbuild::read_file(path).size(), 228u + 3u); // ID, HD, one record
}

} // namespace
