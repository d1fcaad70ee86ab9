// MDF 2.x and 3.x files as measuring systems write them: versions, block sizes, long names, every
// numeric data type in either byte order, channels that give no numbers, the 3.x polynomial, the
// sort of an unsorted 3.x file and the creation of double channels. Expected values are worked out
// by hand from the bytes.
#include "Mdftest_helper.h"

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

using mdfbuild::Builder;
using Bytes = std::vector<uint8_t>;

class Version3 : public MdfTest {};

// A file of one group with one channel whose value stands in one record: the record holds
// `lead` bytes, then the value's bytes. With cn_size 228 the lead goes into the CN's additional
// byte offset, otherwise into its first bit.
struct OneValue {
    uint16_t data_type;
    uint16_t bits;
    uint16_t first_bit = 0; // inside the value's bytes
    Bytes bytes;
    bool big_endian_file = false;
    uint16_t cn_size = 218;
    uint16_t lead = 0;
};

Builder one_value_file(const OneValue &v, uint16_t cc_type = 0xFFFF,
                       const std::vector<double> &params = {}) {
    Builder b;
    b.id();
    b.version(330, "3.30");
    if (v.big_endian_file) b.set_u16(0, 24, 1);
    b.hd({.dg_count = 1, .size = 208});
    uint32_t dg = b.dg(1, 0, 28);
    uint16_t record = static_cast<uint16_t>(v.lead + v.bytes.size());
    uint32_t cg = b.cg(0, 1, record, 1, 30);
    mdfbuild::CnInfo info{.name = "V", .bits = v.bits, .data_type = v.data_type, .size = v.cn_size};
    if (v.cn_size >= 228) {
        info.first_bit = v.first_bit;
        info.byte_offset = v.lead;
    } else {
        info.first_bit = static_cast<uint16_t>(8 * v.lead + v.first_bit);
    }
    uint32_t cn = b.cn(info);
    if (cc_type != 0xFFFF) b.link(cn, 8, b.cc(cc_type, params));
    b.link(64, 4, dg);
    b.link(dg, 8, cg);
    b.link(cg, 8, cn);
    Bytes data(v.lead, 0x5A); // bytes before the value that must not be read
    data.insert(data.end(), v.bytes.begin(), v.bytes.end());
    b.link(dg, 16, b.raw(data));
    return b;
}

struct Opened3 {
    mdf_file_rec *file = nullptr;
    mdf_group_rec *group = nullptr;
    mdf_channel_rec *channel = nullptr;
};

Opened3 open_value(const std::string &path) {
    Opened3 o;
    EXPECT_EQ(mdffil_open(&o.file, path.c_str(), MDFFIL_READ), 0);
    EXPECT_EQ(mdfgrp_open(&o.group, o.file, 1, MDFGRP_READ), 0);
    EXPECT_EQ(mdfchn_open(&o.channel, o.group, 1), 0);
    return o;
}

Bytes le64(uint64_t v) {
    Bytes b;
    for (int i = 0; i < 8; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return b;
}

TEST_F(Version3, EveryNumericDataTypeAndByteOrder) {
    const Bytes point_one_le = {0x9A, 0x99, 0x99, 0x99, 0x99, 0x99, 0xB9, 0x3F}; // 0.1
    const Bytes point_one_be = {0x3F, 0xB9, 0x99, 0x99, 0x99, 0x99, 0x99, 0x9A};
    struct Case {
        const char *name;
        OneValue v;
        double expected;
    };
    const Case cases[] = {
        {"u1", {0, 1, 0, {0x01}}, 1},
        {"u7 at bit 3", {0, 7, 3, {0xF8, 0x03}}, 127},
        {"u33", {0, 33, 0, {0xFF, 0xFF, 0xFF, 0xFF, 0x01}, false, 228, 3}, 8589934591.0},
        {"s33 most negative", {1, 33, 0, {0, 0, 0, 0, 0x01}}, -4294967296.0},
        {"s33 most positive", {1, 33, 0, {0xFF, 0xFF, 0xFF, 0xFF, 0x00}}, 4294967295.0},
        {"s64 most negative", {1, 64, 0, {0, 0, 0, 0, 0, 0, 0, 0x80}, false, 228, 9},
         -9223372036854775808.0},
        {"s64 most positive", {1, 64, 0, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}},
         9223372036854775808.0},
        {"u64 all ones", {0, 64, 0, Bytes(8, 0xFF)}, 18446744073709551616.0},
        // 2^62 + 2^10 over nine bytes; the bits around the field are set and must not count.
        {"u63 LE at bit 3", {13, 63, 3, {0x07, 0x20, 0, 0, 0, 0, 0, 0, 0xFE}, true},
         4611686018427388928.0},
        {"u63 BE at bit 3", {9, 63, 3, {0xFE, 0, 0, 0, 0, 0, 0, 0x20, 0x07}, false, 228, 2},
         4611686018427388928.0},
        {"u24 BE", {9, 24, 0, {0x12, 0x34, 0x56}}, 1193046},
        {"u12 BE at bit 0", {9, 12, 0, {0xAB, 0xCD}}, 3021},
        {"u12 BE at bit 4", {9, 12, 4, {0xAB, 0xCD}, false, 228, 1}, 2748},
        {"s16 BE", {10, 16, 0, {0xFF, 0xFE}}, -2},
        {"s8 BE at bit 2", {10, 8, 2, {0x02, 0x00}}, -128},
        {"s16 in a big-endian file", {1, 16, 0, {0x80, 0x00}, true}, -32768},
        {"u16 in a big-endian file", {0, 16, 0, {0x01, 0x02}, true}, 258},
        {"u16 in a little-endian file", {0, 16, 0, {0x01, 0x02}}, 513},
        {"u16 LE type in a big-endian file", {13, 16, 0, {0x01, 0x02}, true}, 513},
        {"float in a big-endian file", {2, 32, 0, {0x3F, 0xC0, 0, 0}, true}, 1.5},
        {"double", {3, 64, 0, point_one_le, false, 228, 4}, 0.1},
        {"double BE type", {12, 64, 0, point_one_be}, 0.1},
        {"double LE type in a big-endian file", {16, 64, 0, point_one_le, true}, 0.1},
        {"double in a big-endian file", {3, 64, 0, point_one_be, true}, 0.1},
        {"float BE type", {11, 32, 0, {0x3F, 0xC0, 0, 0}}, 1.5},
        {"float LE type", {15, 32, 0, {0, 0, 0xC0, 0x3F}, true}, 1.5},
        {"type 2 with 64 bits", {2, 64, 0, point_one_le}, 0.1},
        {"type 3 with 32 bits", {3, 32, 0, {0, 0, 0xC0, 0x3F}}, 1.5},
        {"double at bit 4", {3, 64, 4, {0xA0, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0xFB, 0x03}},
         0.1},
        {"VAX F", {4, 32, 0, {0x80, 0x40, 0, 0}, true, 228, 1}, 1.0},
        {"VAX G", {5, 64, 0, le64(mdfbuild::vax_g(1.5))}, 1.5},
        {"VAX D", {6, 64, 0, le64(mdfbuild::vax_d(-2.25)), true}, -2.25},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(mdflib_init(""), 0);
        Opened3 o = open_value(save(one_value_file(c.v)));
        ASSERT_NE(o.channel, nullptr) << c.name;
        EXPECT_EQ(mdfchn_check_value(o.channel), 0) << c.name;
        double x = -1;
        EXPECT_EQ(mdfchn_read_value(&x, o.channel), 0) << c.name;
        EXPECT_EQ(x, c.expected) << c.name;
        uint16_t order = 9;
        EXPECT_EQ(mdfchn_byte_order(o.channel, &order), 0);
        const bool big = c.v.data_type >= 9 && c.v.data_type <= 12
                             ? true
                             : (c.v.data_type <= 3 && c.v.big_endian_file);
        EXPECT_EQ(order, big ? 1 : 0) << c.name;
        EXPECT_EQ(mdffil_close(o.file), 0);
    }
}

TEST_F(Version3, ChannelsThatGiveNoNumbersOpenAndReadQuietly) {
    struct Case {
        const char *name;
        uint16_t data_type, bits, cc_type;
        int16_t verdict;
    };
    const Case cases[] = {
        {"string", 7, 8, 0xFFFF, MDF_NOT_NUMERIC},
        {"byte array", 8, 16, 0xFFFF, MDF_NOT_NUMERIC},
        {"data type 17", 17, 8, 0xFFFF, MDF_NOT_NUMERIC},
        {"float of 16 bits", 2, 16, 0xFFFF, MDF_NOT_NUMERIC},
        {"double of 48 bits", 3, 48, 0xFFFF, MDF_NOT_NUMERIC},
        {"integer of 0 bits", 0, 0, 0xFFFF, MDF_NOT_NUMERIC},
        {"integer of 65 bits", 1, 65, 0xFFFF, MDF_NOT_NUMERIC},
        {"VAX G of 32 bits", 5, 32, 0xFFFF, MDF_NOT_NUMERIC},
        {"VAX F of 64 bits", 4, 64, 0xFFFF, MDF_NOT_NUMERIC},
        {"date", 0, 8, 132, MDF_NOT_NUMERIC},
        {"time", 0, 8, 133, MDF_NOT_NUMERIC},
        {"unknown conversion 3", 0, 8, 3, MDF_CONVERSION_UNKNOWN},
        {"unknown conversion 200", 0, 8, 200, MDF_CONVERSION_UNKNOWN},
        {"value to text", 0, 8, 11, 0},
        {"range to text", 0, 8, 12, 0},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(mdflib_init(""), 0);
        OneValue v{c.data_type, c.bits, 0, Bytes(9, 0x07)};
        Opened3 o = open_value(save(one_value_file(v, c.cc_type, {})));
        ASSERT_NE(o.channel, nullptr) << c.name;
        testing::internal::CaptureStdout();
        EXPECT_EQ(mdfchn_check_value(o.channel), c.verdict) << c.name;
        double x = -1;
        uint32_t raw = 99;
        if (c.verdict == MDF_NOT_NUMERIC) {
            EXPECT_EQ(mdfchn_read_value(&x, o.channel), MDF_NOT_NUMERIC) << c.name;
            EXPECT_EQ(mdfchn_read_raw(&raw, o.channel), MDF_NOT_NUMERIC) << c.name;
            EXPECT_EQ(x, -1) << c.name;
            EXPECT_EQ(raw, 99u) << c.name;
        } else {
            // The raw value 7 itself, and the group still at its first record.
            EXPECT_EQ(mdfchn_read_value(&x, o.channel), 0) << c.name;
            EXPECT_EQ(x, 7) << c.name;
        }
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << c.name;
        EXPECT_EQ(mdflib_last_error(), 0) << c.name;
        uint32_t index = 9;
        EXPECT_EQ(mdfgrp_record_index(&index, o.group), 0);
        EXPECT_EQ(index, 0u);
        EXPECT_EQ(mdffil_close(o.file), 0);
    }
}

TEST_F(Version3, FormulaThatDoesNotParseReadsZero) {
    OneValue v{0, 8, 0, {5}};
    Builder b = one_value_file(v);
    b.link(b.u32(b.u32(b.u32(64, 4), 8), 8), 8, b.cc_formula("X +* 2"));
    Opened3 o = open_value(save(b));
    EXPECT_EQ(mdfchn_check_value(o.channel), MDF_FORMULA_INVALID);
    double x = -1;
    EXPECT_EQ(mdfchn_read_value(&x, o.channel), 0);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(mdffil_close(o.file), 0);
}

TEST_F(Version3, VersionsAndFileIdentifiers) {
    struct Case {
        const char *file_id;
        const char *format;
        uint16_t number;
        int16_t status;
        uint16_t version; // read by mdffil_version when the open succeeds
    };
    const Case cases[] = {
        {"MDF     ", "2.00    ", 200, 0, 200},
        {"MDF     ", "3.30    ", 330, 0, 330},
        {"MDF     ", "3.00\0\0\0\0", 0, 0, 300},
        {"MDF     ", "3.1     ", 0, 0, 310},
        {"MDF     ", "2.14    ", 0, 0, 214},
        {"MDF     ", "        ", 0, 0, 200},
        {"MDF     ", "4.10    ", 410, MDF_ERR_VERSION, 0},
        {"MDF     ", "4.00    ", 0, MDF_ERR_VERSION, 0},
        {"UnFinMF ", "3.31    ", 331, MDF_ERR_UNFINISHED, 0},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(mdflib_init(""), 0);
        Builder b = mdfbuild::simple_file();
        b.set_text(0, 0, c.file_id, 8);
        b.set_text(0, 8, std::string(c.format, 8), 8);
        b.set_u16(0, 28, c.number);
        mdf_file_rec *f = nullptr;
        testing::internal::CaptureStdout();
        EXPECT_EQ(open(save(b), &f), c.status) << c.format;
        std::string out = testing::internal::GetCapturedStdout();
        if (c.status == 0) {
            uint16_t version = 0, order = 9;
            EXPECT_EQ(mdffil_version(f, &version, &order), 0);
            EXPECT_EQ(version, c.version) << c.format;
            EXPECT_EQ(order, 0);
            EXPECT_EQ(mdffil_close(f), 0);
        } else {
            EXPECT_EQ(f, nullptr);
            EXPECT_EQ(out.rfind("[MDFLIB-ERROR] ", 0), 0u) << out;
            EXPECT_NE(out.find(c.status == MDF_ERR_VERSION ? "MDF version not supported (version 4."
                                                           : "unfinalized MDF file"),
                      std::string::npos)
                << out;
        }
    }
}

TEST_F(Version3, BlockSizesFromTheSmallestOn) {
    // Each block of the simple file in turn made larger (fields beyond the 2.00 layout are zero
    // or no link) or one byte smaller than its type's smallest size.
    struct Case {
        const char *block;
        uint16_t size;
        int16_t status;
    };
    const Case cases[] = {
        {"HD", 208, 0},   {"HD", 300, 0},   {"HD", 163, MDF_ERR_FORMAT}, {"DG", 28, 0},
        {"DG", 40, 0},    {"DG", 23, MDF_ERR_FORMAT}, {"CG", 30, 0}, {"CG", 25, MDF_ERR_FORMAT},
        {"CN", 222, 0},   {"CN", 226, 0},   {"CN", 228, 0},   {"CN", 240, 0},
        {"CN", 217, MDF_ERR_FORMAT},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(mdflib_init(""), 0);
        // The file rebuilt with the one block at the size; its bytes behind the 2.00 fields
        // are zero.
        Builder b;
        b.id();
        // A block too small for its fields is written whole, its size field lowered after.
        auto size = [&](const char *type, uint16_t normal) {
            return std::strcmp(type, c.block) == 0 && c.size > normal ? c.size : normal;
        };
        b.hd({.dg_count = 1, .size = size("HD", 164)});
        uint32_t dg = b.dg(1, 0, size("DG", 24));
        uint32_t cg = b.cg(0, 2, 4, 2, size("CG", 26));
        uint32_t t = b.cn({.type = 1, .name = "TIME", .bits = 16, .size = size("CN", 218)});
        uint32_t v = b.cn({.name = "VALUE", .first_bit = 16, .bits = 16, .size = size("CN", 218)});
        b.link(64, 4, dg);
        b.link(dg, 8, cg);
        b.chain(cg, 8, {t, v}, 4);
        b.link(dg, 16, b.raw({1, 0, 10, 0, 2, 0, 20, 0}));
        for (uint32_t pos : {64u, dg, cg, t})
            if (std::memcmp(&b.bytes[pos], c.block, 2) == 0 && c.size < b.u16(pos, 2))
                b.set_u16(pos, 2, c.size);
        mdf_file_rec *f = nullptr;
        testing::internal::CaptureStdout();
        int16_t status = open(save(b), &f);
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(status, c.status) << c.block << " " << c.size;
        if (status != 0) {
            const std::string detail = std::string("(") + c.block + " block at ";
            EXPECT_NE(out.find(detail), std::string::npos) << out;
            EXPECT_NE(out.find(": size " + std::to_string(c.size) + " below"), std::string::npos)
                << out;
            continue;
        }
        mdf_group_rec *g = nullptr;
        mdf_channel_rec *value = nullptr;
        ASSERT_EQ(mdfgrp_open(&g, f, 1, MDFGRP_READ), 0);
        ASSERT_EQ(mdfchn_open(&value, g, 2), 0);
        const char *name = nullptr;
        EXPECT_EQ(mdfchn_name(value, &name), 0);
        EXPECT_STREQ(name, "VALUE"); // a zero long-name link: the short name
        double x = 0;
        EXPECT_EQ(mdfchn_read_value(&x, value), 0);
        EXPECT_EQ(x, 10);
        EXPECT_EQ(mdfchn_read_value(&x, value), 0);
        EXPECT_EQ(x, 20);
        EXPECT_EQ(mdffil_close(f), 0);
    }
}

// A 3.30 file of two channel groups in one data group with two identifier bytes: records of
// group 1 (id 1; TIME uint16 and a long-named uint16 with a range-to-text conversion) and of
// group 2 (id 2; TIME uint16, a double) interleaved 1, 2, 1, 2, 1. Every CN is 228 bytes with a
// display name; the CGs have sample-reduction links to a block that the sort must not carry.
Builder unsorted_v3(uint32_t *cn_long) {
    Builder b;
    b.id();
    b.version(330, "3.30");
    b.hd({.dg_count = 1, .size = 208});
    uint32_t dg = b.dg(2, 2, 28);
    uint32_t cg1 = b.cg(1, 2, 4, 3, 30);
    uint32_t cg2 = b.cg(2, 2, 10, 2, 30);
    auto cn = [&](const char *name, uint16_t type, uint16_t first, uint16_t bits, uint16_t dt,
                  const char *display) {
        uint32_t pos = b.cn({.type = type, .name = name, .first_bit = first, .bits = bits,
                             .data_type = dt, .size = 228});
        b.link(pos, 222, b.tx(display));
        return pos;
    };
    uint32_t t1 = cn("T1", 1, 0, 16, 0, "time 1");
    uint32_t v1 = cn("SHORT", 0, 16, 16, 0, "display 1");
    uint32_t t2 = cn("T2", 1, 0, 16, 0, "time 2");
    uint32_t v2 = cn("D", 0, 16, 64, 3, "display 2");
    b.link(v1, 218, b.tx("Group1.Channel.With.A.Name.Longer.Than.32"));
    *cn_long = v1;
    // Range to text: [0, 10] -> "low", [11, 100] -> "high", default entry first.
    uint32_t cc = b.block("CC", 46 + 3 * 20);
    b.set_u16(cc, 42, 12);
    b.set_u16(cc, 44, 3);
    const char *texts[] = {"default", "low", "high"};
    const double bounds[][2] = {{0, 0}, {0, 10}, {11, 100}};
    for (uint32_t i = 0; i < 3; ++i) {
        b.set_real(cc, 46 + 20 * i, bounds[i][0]);
        b.set_real(cc, 54 + 20 * i, bounds[i][1]);
        b.link(cc, 62 + 20 * i, b.tx(texts[i]));
    }
    b.link(v1, 8, cc);
    uint32_t sr = b.block("SR", 24);
    b.link(cg1, 26, sr);
    b.link(cg2, 26, sr);
    b.link(64, 4, dg);
    b.chain(dg, 8, {cg1, cg2}, 4);
    b.chain(cg1, 8, {t1, v1}, 4);
    b.chain(cg2, 8, {t2, v2}, 4);
    Bytes area;
    auto put = [&](uint8_t id, Bytes data) {
        area.push_back(id);
        area.insert(area.end(), data.begin(), data.end());
        area.push_back(id);
    };
    auto rec2 = [&](uint16_t t, double d) {
        Bytes r = {static_cast<uint8_t>(t), static_cast<uint8_t>(t >> 8)};
        Bytes x = le64(mdfbuild::ieee(d));
        r.insert(r.end(), x.begin(), x.end());
        return r;
    };
    put(1, {0, 0, 5, 0});
    put(2, rec2(0, 0.25));
    put(1, {10, 0, 50, 0});
    put(2, rec2(20, -1e-300));
    put(1, {20, 0, 7, 0});
    b.link(dg, 16, b.raw(area));
    return b;
}

TEST_F(Version3, UnsortedFileWithTwoIdentifierBytesSortsIntoTheSameVersion) {
    uint32_t cn_long = 0;
    Builder in = unsorted_v3(&cn_long);
    std::string input = save(in, "in.dat"), output = mdfbuild::temp_path("out.tmp");
    EXPECT_EQ(mdffil_test_sorted(input.c_str()), MDF_NOT_SORTED);
    ASSERT_EQ(mdffil_sort(input.c_str(), output.c_str()), 0);

    // The copy: the input's ID (version 3.30), two groups in reversed order, each channel chain
    // reversed; long names, display names and the range texts copied; no sample reduction.
    Bytes out = mdfbuild::read_file(output);
    ASSERT_GE(out.size(), 64u);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 64), Bytes(in.bytes.begin(), in.bytes.begin() + 64));
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(output, &f), 0);
    uint16_t version = 0;
    EXPECT_EQ(mdffil_version(f, &version, nullptr), 0);
    EXPECT_EQ(version, 330);
    mdf_group_rec *g1 = nullptr, *g2 = nullptr;
    ASSERT_EQ(mdfgrp_open(&g2, f, 1, MDFGRP_READ), 0); // group 2 of the input comes first
    ASSERT_EQ(mdfgrp_open(&g1, f, 2, MDFGRP_READ), 0);
    for (mdf_group_rec *g : {g1, g2}) {
        EXPECT_EQ(mdf_u32(g->cg, CG_SAMPLE_REDUCTION), 0u);
        EXPECT_EQ(mdf_u16(g->dg, DG_ID_BYTES), 0);
    }
    mdf_channel_rec *named = nullptr, *d = nullptr, *t1 = nullptr;
    ASSERT_EQ(mdfchn_open(&named, g1, 1), 0);
    ASSERT_EQ(mdfchn_open(&t1, g1, 2), 0);
    ASSERT_EQ(mdfchn_open(&d, g2, 1), 0);
    const char *name = nullptr;
    EXPECT_EQ(mdfchn_name(named, &name), 0);
    EXPECT_STREQ(name, "Group1.Channel.With.A.Name.Longer.Than.32");
    uint8_t *display = mdfblk_link(named->cn, CN_DISPLAY_NAME);
    ASSERT_TRUE(mdf_block_is(display, MDFBLK_TX));
    EXPECT_STREQ(reinterpret_cast<char *>(display + TX_TEXT), "display 1");
    const char *texts[] = {"default", "low", "high"};
    for (uint32_t i = 0; i < 3; ++i) {
        uint32_t link = mdf_u32(named->cc, 62 + 20 * i);
        ASSERT_GT(link, 0u);
        ASSERT_LT(link + 4u, out.size());
        EXPECT_EQ(std::memcmp(&out[link], "TX", 2), 0);
        EXPECT_STREQ(reinterpret_cast<const char *>(&out[link + 4]), texts[i]);
    }
    uint16_t conversion = 0;
    EXPECT_EQ(mdfchn_conversion(named, &conversion, nullptr), 0);
    EXPECT_EQ(conversion, MDFCNV_RANGE_TEXT);
    const double times1[] = {0, 10, 20}, values1[] = {5, 50, 7};
    for (int k = 0; k < 3; ++k) {
        double t = -1, v = -1;
        EXPECT_EQ(mdfchn_read_value(&t, t1), 0);
        EXPECT_EQ(mdfchn_read_value(&v, named), 0); // the raw value, not a text
        EXPECT_EQ(t, times1[k]);
        EXPECT_EQ(v, values1[k]);
    }
    double x = 0;
    EXPECT_EQ(mdfchn_read_value(&x, d), 0);
    EXPECT_EQ(x, 0.25);
    EXPECT_EQ(mdfchn_read_value(&x, d), 0);
    EXPECT_EQ(x, -1e-300);
    EXPECT_EQ(mdfchn_read_value(&x, d), MDF_END_OF_RECORDS);
    EXPECT_EQ(mdffil_close(f), 0);
}

TEST_F(Version3, LongNamesAreTheChannelNames) {
    uint32_t cn_long = 0;
    Builder b = unsorted_v3(&cn_long);
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(save(b), &f), 0);
    mdf_group_rec *g = nullptr;
    ASSERT_EQ(mdfgrp_open(&g, f, 1, MDFGRP_READ), 0);
    mdf_channel_rec *c = nullptr;
    // Found by the long name, exactly and in another letter case, not by the short name.
    EXPECT_EQ(mdfchn_open_name(&c, g, "Group1.Channel.With.A.Name.Longer.Than.32"), 0);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(mdfchn_close(c), 0);
    EXPECT_EQ(mdfchn_open_name(&c, g, "GROUP1.CHANNEL.WITH.A.NAME.LONGER.THAN.32"), 0);
    EXPECT_EQ(mdfchn_close(c), 0);
    EXPECT_EQ(mdfchn_open_name(&c, g, "Group1.Channel.With.A.Name.Longer.Than.3"), MDF_NAME_NOT_FOUND);
    EXPECT_EQ(mdfchn_open_name(&c, g, "SHORT"), MDF_NAME_NOT_FOUND);
    mdf_channel_rec *time = nullptr;
    ASSERT_EQ(mdfchn_open(&time, g, 1), 0);
    const char *name = nullptr;
    EXPECT_EQ(mdfchn_name(time, &name), 0);
    EXPECT_STREQ(name, "T1"); // no long name: the short one
    EXPECT_EQ(mdffil_close(f), 0);
}

TEST_F(Version3, PolynomialTakesP6FromVersion300On) {
    // P1 = -1, P2 = 0, P3 = 0, P4 = -1, P5 = 2, P6 = 3: y = x - P5 (2.x) or x - P5 - P6 (3.x).
    for (uint16_t version : {200, 330}) {
        ASSERT_EQ(mdflib_init(""), 0);
        Builder b = one_value_file(OneValue{0, 8, 0, {10}}, 6, {-1, 0, 0, -1, 2, 3});
        b.version(version, version == 200 ? "2.00" : "3.30");
        Opened3 o = open_value(save(b));
        double x = 0;
        EXPECT_EQ(mdfchn_read_value(&x, o.channel), 0);
        EXPECT_EQ(x, version == 200 ? 8 : 5) << version;
        EXPECT_EQ(mdffil_close(o.file), 0);
    }
}

TEST_F(Version3, DoubleChannelsAreCreatedAndOtherNewLayoutsAreNotWritten) {
    std::string path = mdfbuild::temp_path("double.dat");
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(path, &f, MDFFIL_CREATE), 0);
    mdf_group_rec *g = nullptr;
    ASSERT_EQ(mdfgrp_open(&g, f, 0, MDFGRP_CREATE), 0);
    mdf_channel_rec *flag = nullptr, *d = nullptr;
    ASSERT_EQ(mdfchn_create(&flag, g, MDFCHN_VALUE, 3, MDFCHN_UNSIGNED, "FLAG"), 0);
    ASSERT_EQ(mdfchn_create(&d, g, MDFCHN_VALUE, 8, MDFCHN_DOUBLE, "D"), 0);
    uint16_t bits = 0;
    EXPECT_EQ(mdfchn_bits(d, &bits), 0);
    EXPECT_EQ(bits, 64);
    EXPECT_EQ(mdf_u16(d->cn, CN_FIRST_BIT), 8); // behind the 3-bit value, on a byte boundary
    const double values[] = {0.1, -1e300, 5e-324};
    for (double v : values) {
        ASSERT_EQ(mdfchn_write_value(flag, 1), 0);
        ASSERT_EQ(mdfchn_write_value(d, v), 0);
    }
    EXPECT_EQ(mdfgrp_close(g), 0);
    EXPECT_EQ(mdffil_close(f), 0);

    ASSERT_EQ(open(path, &f, MDFFIL_UPDATE), 0);
    ASSERT_EQ(mdfgrp_open(&g, f, 1, MDFGRP_UPDATE), 0);
    ASSERT_EQ(mdfchn_open(&d, g, 2), 0);
    for (double v : values) {
        double x = 0;
        EXPECT_EQ(mdfchn_read_value(&x, d), 0);
        EXPECT_EQ(x, v);
    }
    EXPECT_EQ(mdffil_close(f), 0);

    // A big-endian type and a 40-bit integer of an existing file are not written.
    for (OneValue v : {OneValue{9, 16, 0, {0, 1}}, OneValue{0, 40, 0, Bytes(5, 0)},
                       OneValue{1, 16, 0, {0, 1}, true}}) {
        ASSERT_EQ(mdflib_init(""), 0);
        std::string file = save(one_value_file(v));
        ASSERT_EQ(open(file, &f, MDFFIL_UPDATE), 0);
        ASSERT_EQ(mdfgrp_open(&g, f, 1, MDFGRP_UPDATE), 0);
        mdf_channel_rec *c = nullptr;
        ASSERT_EQ(mdfchn_open(&c, g, 1), 0);
        testing::internal::CaptureStdout();
        EXPECT_EQ(mdfchn_write_value(c, 1), MDF_ERR_VALUE_TYPE) << v.data_type;
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "[MDFLIB-ERROR] illegal channel value type \n\n");
        mdffil_close(f);
    }
}

} // namespace

namespace {

TEST_F(Version3, WritingThroughAConversionWithoutInverseIsANotice) {
    // A file opened for update whose channel converts by a type without an inverse: the write is
    // refused with a printed notice (not sticky), the record stays as it was.
    for (uint16_t type : {9, 10, 11, 12, 200}) {
        ASSERT_EQ(mdflib_init(""), 0);
        Builder b = one_value_file(OneValue{0, 8, 0, {5}}, type, {1, 2, 3, 4, 5, 6});
        b.version(200, "2.00");
        const std::string path = save(b);
        mdf_file_rec *f = nullptr;
        ASSERT_EQ(open(path, &f, MDFFIL_UPDATE), 0);
        mdf_group_rec *g = nullptr;
        ASSERT_EQ(mdfgrp_open(&g, f, 1, MDFGRP_UPDATE), 0);
        mdf_channel_rec *c = nullptr;
        ASSERT_EQ(mdfchn_open(&c, g, 1), 0);
        testing::internal::CaptureStdout();
        EXPECT_EQ(mdfchn_write_value(c, 1), MDF_NOTE_FORMULA_TYPE) << type;
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "[MDFLIB-ERROR] unknown formula type (conversion type " + std::to_string(type) +
                      " has no inverse)\n\n");
        EXPECT_EQ(mdflib_last_error(), 0);
        EXPECT_EQ(mdffil_close(f), 0);
        EXPECT_EQ(mdfbuild::read_file(path), b.bytes);
    }
}

} // namespace

namespace {

TEST_F(Version3, SortRefusesMoreEmptyRecordsThanTheFileHasBytes) {
    // An unsorted data group beside a data group of one channel group with 4 billion records of
    // no bytes: refused before anything is copied, as the group open refuses it.
    uint32_t unused = 0;
    Builder b = unsorted_v3(&unused);
    uint32_t dg = b.dg(1, 0, 28);
    uint32_t cg = b.cg(0, 1, 0, 4000000000u, 30);
    uint32_t cn = b.cn({.type = 1, .name = "T", .bits = 0, .size = 228});
    b.link(dg, 8, cg);
    b.link(cg, 8, cn);
    b.link(b.u32(64, 4), 4, dg); // behind the unsorted data group
    const std::string in = save(b, "empty.dat"), out = mdfbuild::temp_path("empty.tmp");
    testing::internal::CaptureStdout();
    EXPECT_EQ(mdffil_sort(in.c_str(), out.c_str()), MDF_ERR_FORMAT);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[MDFLIB-ERROR] file format (CG block at " + std::to_string(cg) +
                  ": more empty records than the file has bytes)\n\n");
}

} // namespace
