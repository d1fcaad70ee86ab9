// MDF blocks: the ID block, the block tree, VAX conversions, new blocks, links, writing,
// snapshots, and damaged files.
#include "Mdftest_helper.h"

#include <cmath>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

using Block = MdfTest;

// Opens a built file at the I/O level and reads its tree; returns the status.
int16_t read_tree(const std::string &path, uint8_t **id, uint8_t **hd, bool convert = true) {
    int16_t io = -1;
    return status_of([&] {
        mdfio_open_default(&io, path.c_str(), MDFIO_READ);
        mdfblk_read_structure(io, convert, id, hd);
    });
}

double from_vax_g(uint64_t bytes) {
    uint8_t v[8];
    for (int i = 0; i < 8; ++i) v[i] = static_cast<uint8_t>(bytes >> (8 * i));
    mdf_vaxg_to_ieee(v);
    return mdf_real(v, 0);
}
double from_vax_d(uint64_t bytes) {
    uint8_t v[8];
    for (int i = 0; i < 8; ++i) v[i] = static_cast<uint8_t>(bytes >> (8 * i));
    mdf_vaxd_to_ieee(v);
    return mdf_real(v, 0);
}

TEST_F(Block, ReadsTheTreeWithLinksBound) {
    uint8_t *id = nullptr, *hd = nullptr;
    ASSERT_EQ(read_tree(save(mdfbuild::simple_file()), &id, &hd), 0);
    EXPECT_EQ(std::memcmp(id, "MDF     2.00    BUILDER", 23), 0);
    ASSERT_TRUE(mdf_block_is(hd, MDFBLK_HD));
    EXPECT_EQ(mdfblk_find_node(hd)->read_pos, 64u);
    EXPECT_EQ(mdfblk_find_node(id)->read_pos, 0u);
    uint8_t *tx = mdfblk_link(hd, HD_COMMENT);
    ASSERT_TRUE(mdf_block_is(tx, MDFBLK_TX));
    EXPECT_STREQ(reinterpret_cast<char *>(tx + TX_TEXT), "file comment");
    EXPECT_EQ(mdfblk_link(hd, HD_PROGRAM), nullptr); // link 0: no block, no error
    uint8_t *dg = mdfblk_link(hd, HD_FIRST_DG);
    ASSERT_TRUE(mdf_block_is(dg, MDFBLK_DG));
    EXPECT_EQ(mdfblk_link(dg, DG_NEXT_DG), nullptr);
    uint8_t *cg = mdfblk_link(dg, DG_FIRST_CG);
    ASSERT_TRUE(mdf_block_is(cg, MDFBLK_CG));
    EXPECT_EQ(mdfblk_cg_count(dg), 1);
    uint8_t *cn = mdfblk_link(cg, CG_FIRST_CN);
    ASSERT_TRUE(mdf_block_is(cn, MDFBLK_CN));
    EXPECT_STREQ(reinterpret_cast<char *>(cn + CN_NAME), "TIME");
    uint8_t *cn2 = mdfblk_link(cn, CN_NEXT_CN);
    EXPECT_STREQ(reinterpret_cast<char *>(cn2 + CN_NAME), "VALUE");
    EXPECT_EQ(mdf_u16(cn2, CN_FIRST_BIT), 16);
    EXPECT_EQ(mdfblk_link(cn2, CN_NEXT_CN), nullptr);
}

TEST_F(Block, IdBlockChecks) {
    mdfbuild::Builder b = mdfbuild::simple_file();
    uint8_t *id, *hd;
    b.set_text(0, 0, "MDX", 3);
    CaptureStdout();
    EXPECT_EQ(read_tree(save(b), &id, &hd), MDF_ERR_FORMAT);
    EXPECT_EQ(GetCapturedStdout(),
              "[MDFLIB-ERROR] file format (ID block at 0: no MDF file identifier)\n\n");
    EXPECT_EQ(id, nullptr);
    EXPECT_EQ(hd, nullptr);
    for (int byte : {32, 33}) {
        ASSERT_EQ(mdflib_init(""), 0);
        mdfbuild::Builder c = mdfbuild::simple_file();
        c.set_u8(0, byte, 1);
        EXPECT_EQ(read_tree(save(c), &id, &hd), MDF_ERR_FORMAT) << byte;
    }
    // Format identifier, byte order and version number are not looked at.
    ASSERT_EQ(mdflib_init(""), 0);
    mdfbuild::Builder d = mdfbuild::simple_file();
    d.set_text(0, 3, "X", 1);
    d.set_text(0, 8, "3.30    ", 8);
    d.set_u16(0, 24, 1);
    d.set_u16(0, 28, 330);
    EXPECT_EQ(read_tree(save(d), &id, &hd), 0);
}

TEST_F(Block, VaxConversionsOfKnownValues) {
    // Hand-made words (file order W0 W1 W2 W3).
    EXPECT_EQ(from_vax_g(0x4010), 1.0);
    EXPECT_EQ(from_vax_g(0xC024), -2.5);
    EXPECT_EQ(from_vax_d(0x4080), 1.0);
    EXPECT_EQ(from_vax_d(0xC120), -2.5);
    EXPECT_EQ(from_vax_g(0), 0.0);
    EXPECT_EQ(from_vax_d(0), 0.0);
    // Values with a long fraction, through the builder's independent encoder.
    for (double x : {0.1, -1.0 / 3.0, 123456.789, 6.02214076e23, -1e-300}) {
        EXPECT_EQ(from_vax_g(mdfbuild::vax_g(x)), x) << x;
    }
    for (double x : {0.1, -1.0 / 3.0, 123456.789, 6.02214076e23}) {
        double d = from_vax_d(mdfbuild::vax_d(x)); // 55 fraction bits hold all 52
        EXPECT_EQ(d, x) << x;
    }
    EXPECT_EQ(from_vax_d(0x4080 | (uint64_t{0xFFFF} << 48)), 1.0 + std::ldexp(8191.0, -52));
    // Exponent field 0 is zero, also with the sign bit set.
    EXPECT_EQ(from_vax_g(0x8000 | (uint64_t{0x1234} << 16)), 0.0);
    EXPECT_EQ(from_vax_d(0x8000 | (uint64_t{0x1234} << 16)), 0.0);
    // A tiny exponent with the sign set stays a tiny negative number (never borrows from the
    // sign bit): exponent 1 is 0.1b * 2^-1023, exponent 2 is 0.1b * 2^-1022.
    EXPECT_EQ(from_vax_g(0x8010), -std::ldexp(1.0, -1024));
    EXPECT_EQ(from_vax_g(0x0020), std::ldexp(1.0, -1023));
    EXPECT_EQ(from_vax_g(0x0030), std::ldexp(1.0, -1022)); // smallest normal
}

// A file with every converted REAL field: CN min/max/rate, CC range and parameters, TR events,
// CE of extension type 1, and a formula CC whose text must survive.
mdfbuild::Builder vax_file(uint16_t format) {
    auto enc = [format](double x) { return format == 1 ? mdfbuild::vax_g(x) : mdfbuild::vax_d(x); };
    mdfbuild::Builder b;
    b.id(format);
    uint32_t hd = b.hd();
    uint32_t dg = b.dg(1);
    uint32_t tr = b.tr({{1, 2, 3}, {4, 5, 6}});
    uint32_t cg = b.cg(1, 2, 2, 0);
    uint32_t cn = b.cn({.name = "A", .bits = 8});
    uint32_t cn2 = b.cn({.name = "B", .first_bit = 8, .bits = 8});
    uint32_t cc = b.cc(0, {0, 0});
    uint32_t table = b.cc_table(1, {{0, 0}, {0, 0}});
    uint32_t formula = b.cc_formula("2*X+1", true, 3);
    uint32_t ce = b.ce(1, 128);
    b.link(hd, HD_FIRST_DG, dg);
    b.link(dg, DG_TRIGGER, tr);
    b.link(dg, DG_FIRST_CG, cg);
    b.chain(cg, CG_FIRST_CN, {cn, cn2}, CN_NEXT_CN);
    b.link(cn, CN_CONVERSION, cc);
    b.link(cn, CN_EXTENSION, ce);
    b.link(cn2, CN_CONVERSION, formula);
    for (uint32_t e = 0; e < 2; ++e)
        for (uint32_t k = 0; k < 3; ++k) b.set_u64(tr, 10 + 24 * e + 8 * k, enc(1 + 3 * e + k));
    b.set_u64(cn, CN_MIN, enc(-1.5));
    b.set_u64(cn, CN_MAX, enc(1e6));
    b.set_u64(cn, CN_RATE, enc(0.001));
    b.set_u64(cc, CC_MIN, enc(-10));
    b.set_u64(cc, CC_MAX, enc(10));
    b.set_u64(cc, cc_param(1), enc(0.25));
    b.set_u64(cc, cc_param(2), enc(-4));
    for (uint32_t i = 0; i < 4; ++i) b.set_u64(table, 46 + 8 * i, enc(i + 0.5));
    b.set_u64(ce, CE_REAL1, enc(7.75));
    b.set_u64(ce, CE_REAL2, enc(-8.5));
    return b;
}

TEST_F(Block, VaxFilesAreConvertedOnRequestOnly) {
    for (uint16_t format : {1, 2}) {
        ASSERT_EQ(mdflib_init(""), 0);
        mdfbuild::Builder b = vax_file(format);
        std::string path = save(b);
        uint8_t *id, *hd;
        ASSERT_EQ(read_tree(path, &id, &hd), 0);
        uint8_t *dg = mdfblk_link(hd, HD_FIRST_DG);
        uint8_t *tr = mdfblk_link(dg, DG_TRIGGER);
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(mdf_real(tr, TR_EVENTS + 24 * (i / 3) + 8 * (i % 3)), 1.0 + i);
        uint8_t *cn = mdfblk_link(mdfblk_link(dg, DG_FIRST_CG), CG_FIRST_CN);
        EXPECT_EQ(mdf_real(cn, CN_MIN), -1.5);
        EXPECT_EQ(mdf_real(cn, CN_MAX), 1e6);
        EXPECT_EQ(mdf_real(cn, CN_RATE), 0.001);
        uint8_t *cc = mdfblk_link(cn, CN_CONVERSION);
        EXPECT_EQ(mdf_real(cc, CC_MIN), -10.0);
        EXPECT_EQ(mdf_real(cc, CC_MAX), 10.0);
        EXPECT_EQ(mdf_real(cc, cc_param(1)), 0.25);
        EXPECT_EQ(mdf_real(cc, cc_param(2)), -4.0);
        uint8_t *ce = mdfblk_link(cn, CN_EXTENSION);
        EXPECT_EQ(mdf_real(ce, CE_REAL1), 7.75);
        EXPECT_EQ(mdf_real(ce, CE_REAL2), -8.5);
        uint8_t *formula = mdfblk_link(mdfblk_link(cn, CN_NEXT_CN), CN_CONVERSION);
        EXPECT_STREQ(reinterpret_cast<char *>(formula + CC_PARAMS), "2*X+1");

        // Without conversion the VAX bytes stay.
        ASSERT_EQ(read_tree(path, &id, &hd, false), 0);
        cn = mdfblk_link(mdfblk_link(mdfblk_link(hd, HD_FIRST_DG), DG_FIRST_CG), CG_FIRST_CN);
        EXPECT_EQ(mdf_u64(cn, CN_MIN), b.u64(b.u32(b.u32(b.u32(64, 4), 8), 8), CN_MIN));
    }
    // A float format other than 0, 1, 2 is refused when converting, accepted otherwise.
    ASSERT_EQ(mdflib_init(""), 0);
    mdfbuild::Builder b = mdfbuild::simple_file();
    b.set_u16(0, 26, 3);
    std::string path = save(b);
    uint8_t *id, *hd;
    EXPECT_EQ(read_tree(path, &id, &hd), MDF_ERR_FLOAT_FORMAT);
    ASSERT_EQ(mdflib_init(""), 0);
    EXPECT_EQ(read_tree(path, &id, &hd, false), 0);
}

TEST_F(Block, NewIdAndHdBlocks) {
    ASSERT_EQ(mdflib_init("PROG"), 0);
    uint8_t *id = mdfblk_new(MDFBLK_ID);
    uint8_t expected[64] = {};
    std::memcpy(expected, "MDF     2.00    PROG", 20);
    expected[28] = 200;
    EXPECT_EQ(std::memcmp(id, expected, 64), 0);
    EXPECT_EQ(mdfblk_length(id), 64);

    uint8_t *hd = mdfblk_new(MDFBLK_HD);
    EXPECT_EQ(std::memcmp(hd, "HD\xA4\x00", 4), 0);
    EXPECT_STREQ(reinterpret_cast<char *>(hd + HD_AUTHOR), "ZUV-Udaravo");
    EXPECT_EQ(hd[HD_DIVISION], 0);
    EXPECT_EQ(mdf_u16(hd, HD_DG_COUNT), 0);
    for (uint16_t link : {HD_FIRST_DG, HD_COMMENT, HD_PROGRAM})
        EXPECT_EQ(mdfblk_link(hd, link), nullptr);
    std::tm when{};
    when.tm_mday = 5;
    when.tm_mon = 2;
    when.tm_year = 126;
    when.tm_hour = 9;
    when.tm_min = 4;
    when.tm_sec = 7;
    char date[11], time[9];
    mdfblk_format_date_time(when, date, time);
    EXPECT_STREQ(date, "05:03:2026");
    EXPECT_STREQ(time, "09:04:07");

    struct {
        uint16_t type;
        uint16_t size;
    } sizes[] = {{MDFBLK_DG, 24}, {MDFBLK_CG, 26}, {MDFBLK_CN, 218},
                 {MDFBLK_TR, 34}, {MDFBLK_CC, 46}, {MDFBLK_CE, 128},
                 {MDFBLK_CD, 20}, {MDFBLK_TX, 4},  {MDFBLK_PR, 4}};
    for (auto s : sizes) {
        uint8_t *b = mdfblk_new(s.type);
        EXPECT_EQ(mdf_block_type(b), s.type);
        EXPECT_EQ(mdf_block_size(b), s.size);
    }
    EXPECT_EXIT(mdfblk_new(mdf_block_code('X', 'Y')), testing::ExitedWithCode(1), "");
}

TEST_F(Block, TextsConversionsAndCopies) {
    uint8_t *tx = mdfblk_new_text(3, "abcdef");
    EXPECT_EQ(mdf_block_size(tx), 8);
    EXPECT_EQ(std::memcmp(tx,
                          "TX\x08\x00"
                          "abc\0",
                          8),
              0);
    EXPECT_EQ(mdf_block_size(mdfblk_new_conversion(1, 3)), 46 + 48);
    uint8_t *cc = mdfblk_new_conversion(0, 2);
    EXPECT_EQ(mdf_block_size(cc), 46 + 16);
    EXPECT_EQ(mdf_u16(cc, CC_TYPE), 0);
    EXPECT_EQ(mdf_u16(cc, CC_COUNT), 2);
    EXPECT_EQ(status_of([] { mdfblk_new_text(70000, ""); }), MDF_ERR_MEMORY);
    ASSERT_EQ(mdflib_init(""), 0);

    uint8_t *cn = mdfblk_new(MDFBLK_CN);
    mdf_set_u16(cn, CN_BITS, 12);
    mdf_set_u32(cn, CN_COMMENT, 4242);
    uint8_t *copy = mdfblk_copy(cn);
    EXPECT_NE(copy, cn);
    EXPECT_EQ(std::memcmp(copy, cn, CN_SIZE), 0);
    EXPECT_EQ(mdfblk_find_node(copy)->read_pos, 0u);
    mdf_link_node *link = mdflst_link_find_field(copy + CN_COMMENT);
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->value, 4242u);
    EXPECT_EQ(link->target, nullptr);
}

TEST_F(Block, LinkFailures) {
    uint8_t *hd = mdfblk_new(MDFBLK_HD);
    uint8_t *tx = mdfblk_new(MDFBLK_TX); // no link fields
    EXPECT_EQ(status_of([&] { mdfblk_link_target(tx + 4); }), MDF_ERR_UNKNOWN_LINK);
    ASSERT_EQ(mdflib_init(""), 0);
    hd = mdfblk_new(MDFBLK_HD);
    EXPECT_EQ(status_of([&] { mdfblk_set_link(hd + 18, 0, nullptr); }), MDF_ERR_UNKNOWN_LINK);
    ASSERT_EQ(mdflib_init(""), 0);
    // A link value without a block read from that position.
    hd = mdfblk_new(MDFBLK_HD);
    mdfblk_set_link(hd + HD_COMMENT, 5000, nullptr);
    CaptureStdout();
    EXPECT_EQ(status_of([&] { mdfblk_link(hd, HD_COMMENT); }), MDF_ERR_UNKNOWN_BLOCK);
    EXPECT_EQ(GetCapturedStdout(), "[MDFLIB-ERROR] unknown block \n\n");
    ASSERT_EQ(mdflib_init(""), 0);
    // Storing a link to a block that was never read nor written.
    hd = mdfblk_new(MDFBLK_HD);
    tx = mdfblk_new_text(1, "x");
    mdf_set_u32(hd, HD_COMMENT, 777);
    mdfblk_set_link(hd + HD_COMMENT, 0, tx);
    EXPECT_EQ(mdfblk_link(hd, HD_COMMENT), tx);
    EXPECT_EQ(status_of([&] { mdfblk_store_link(hd + HD_COMMENT); }), MDF_ERR_UNKNOWN_BLOCK);
    EXPECT_EQ(mdf_u32(hd, HD_COMMENT), 777u);
    ASSERT_EQ(mdflib_init(""), 0);
    hd = mdfblk_new(MDFBLK_HD);
    mdf_set_u32(hd, HD_COMMENT, 777);
    mdfblk_store_link(hd + HD_COMMENT); // no target: 0
    EXPECT_EQ(mdf_u32(hd, HD_COMMENT), 0u);
}

TEST_F(Block, WriterRoundTrip) {
    std::string path = mdfbuild::temp_path("written.dat");
    int16_t io = -1;
    mdfio_open_default(&io, path.c_str(), MDFIO_CREATE);
    uint8_t *id = mdfblk_new(MDFBLK_ID);
    uint8_t *hd = mdfblk_new(MDFBLK_HD);
    mdfblk_append(io, id);
    EXPECT_EQ(mdfio_tell(io), 64u); // the ID block is written with 64 bytes
    mdfblk_append(io, hd);
    uint8_t *dg = mdfblk_new(MDFBLK_DG);
    uint8_t *cg = mdfblk_new(MDFBLK_CG);
    uint8_t *cn = mdfblk_new(MDFBLK_CN);
    uint8_t *cc = mdfblk_new_conversion(CC_LINEAR, 2);
    uint8_t *tx = mdfblk_new_text(5, "hello");
    mdf_set_real(cc, cc_param(1), 10);
    mdf_set_real(cc, cc_param(2), 0.5);
    std::strcpy(reinterpret_cast<char *>(cn + CN_NAME), "SIGNAL");
    mdf_set_u16(cg, CG_RECORD_SIZE, 1);
    mdf_set_u16(dg, DG_CG_COUNT, 1);
    mdfblk_set_link(cn + CN_CONVERSION, 0, cc);
    mdfblk_set_link(cg + CG_FIRST_CN, 0, cn);
    mdfblk_set_link(cg + CG_COMMENT, 0, tx);
    mdfblk_set_link(dg + DG_FIRST_CG, 0, cg);
    mdfblk_set_link(hd + HD_FIRST_DG, 0, dg);
    // Targets first, then the blocks that link them.
    for (uint8_t *b : {cc, tx}) mdfblk_append(io, b);
    mdfblk_store_link(cn + CN_CONVERSION);
    mdfblk_append(io, cn);
    mdfblk_store_link(cg + CG_FIRST_CN);
    mdfblk_store_link(cg + CG_COMMENT);
    mdfblk_append(io, cg);
    mdfblk_store_link(dg + DG_FIRST_CG);
    mdfblk_append(io, dg);
    mdfblk_store_link(hd + HD_FIRST_DG);
    uint32_t end = mdfio_tell(io);
    mdfblk_rewrite(io, hd);
    EXPECT_EQ(mdfio_tell(io), end); // back where it was
    EXPECT_EQ(mdfblk_find_node(hd)->written_pos, 64u);
    mdfio_close(io);

    ASSERT_EQ(mdflib_init(""), 0);
    uint8_t *rid, *rhd;
    ASSERT_EQ(read_tree(path, &rid, &rhd), 0);
    uint8_t *rcn =
        mdfblk_link(mdfblk_link(mdfblk_link(rhd, HD_FIRST_DG), DG_FIRST_CG), CG_FIRST_CN);
    ASSERT_NE(rcn, nullptr);
    EXPECT_STREQ(reinterpret_cast<char *>(rcn + CN_NAME), "SIGNAL");
    uint8_t *rcc = mdfblk_link(rcn, CN_CONVERSION);
    EXPECT_EQ(mdf_real(rcc, cc_param(1)), 10.0);
    EXPECT_EQ(mdf_real(rcc, cc_param(2)), 0.5);
    uint8_t *rcg = mdfblk_link(mdfblk_link(rhd, HD_FIRST_DG), DG_FIRST_CG);
    EXPECT_STREQ(reinterpret_cast<char *>(mdfblk_link(rcg, CG_COMMENT) + TX_TEXT), "hello");
    EXPECT_EQ(mdfblk_link(rcn, CN_NEXT_CN), nullptr);
}

TEST_F(Block, SnapshotAndRestore) {
    uint8_t *cg = mdfblk_new(MDFBLK_CG);
    mdf_set_u16(cg, CG_RECORD_ID, 3);
    mdfblk_snapshot(cg);
    mdf_set_u16(cg, CG_RECORD_ID, 0);
    EXPECT_EXIT(mdfblk_snapshot(cg), testing::ExitedWithCode(1), "");
    mdfblk_restore(cg);
    EXPECT_EQ(mdf_u16(cg, CG_RECORD_ID), 3);
    EXPECT_EQ(mdfblk_find_node(cg)->snapshot, nullptr);
    EXPECT_EXIT(mdfblk_restore(cg), testing::ExitedWithCode(1), "");
    mdfblk_snapshot(cg); // allowed again
    mdfblk_restore(cg);
}

TEST_F(Block, HeaderOnlyBlocksAreRead) {
    mdfbuild::Builder b = mdfbuild::simple_file();
    uint32_t tx = b.block("TX", 4);
    uint32_t pr = b.block("PR", 4);
    b.link(64, HD_COMMENT, tx);
    b.link(64, HD_PROGRAM, pr);
    uint8_t *id, *hd;
    ASSERT_EQ(read_tree(save(b), &id, &hd), 0);
    EXPECT_STREQ(reinterpret_cast<char *>(mdfblk_link(hd, HD_COMMENT) + TX_TEXT), "");
    EXPECT_EQ(mdfblk_length(mdfblk_link(hd, HD_PROGRAM)), 4);
}

TEST_F(Block, TextWithoutZeroEndsAtTheBlockEnd) {
    mdfbuild::Builder b = mdfbuild::simple_file();
    uint32_t tx = b.tx("abc", false);
    b.link(64, HD_COMMENT, tx);
    b.raw({'X', 'Y', 'Z', 0}); // what would follow in the file
    uint8_t *id, *hd;
    ASSERT_EQ(read_tree(save(b), &id, &hd), 0);
    EXPECT_STREQ(reinterpret_cast<char *>(mdfblk_link(hd, HD_COMMENT) + TX_TEXT), "abc");
}

TEST_F(Block, TwoOpenFilesKeepTheirOwnBlocks) {
    mdfbuild::Builder a = mdfbuild::simple_file();
    mdfbuild::Builder b = mdfbuild::simple_file();
    b.set_text(b.u32(64, HD_COMMENT), 4, "other file!!", 12);
    uint8_t *ida, *hda, *idb, *hdb;
    ASSERT_EQ(read_tree(save(a), &ida, &hda), 0);
    ASSERT_EQ(read_tree(save(b), &idb, &hdb), 0);
    // Both comments stand at the same position; each HD finds its own.
    EXPECT_STREQ(reinterpret_cast<char *>(mdfblk_link(hda, HD_COMMENT) + TX_TEXT), "file comment");
    EXPECT_STREQ(reinterpret_cast<char *>(mdfblk_link(hdb, HD_COMMENT) + TX_TEXT), "other file!!");
}

// ---- damaged files: each ends in -2004 at tree read ----

struct Damage {
    const char *name;
    void (*apply)(mdfbuild::Builder &b);
};

uint32_t dg_of(const mdfbuild::Builder &b) {
    return b.u32(64, HD_FIRST_DG);
}
uint32_t cg_of(const mdfbuild::Builder &b) {
    return b.u32(dg_of(b), DG_FIRST_CG);
}
uint32_t cn_of(const mdfbuild::Builder &b) {
    return b.u32(cg_of(b), CG_FIRST_CN);
}

const Damage damages[] = {
    {"DG chain back to itself",
     [](mdfbuild::Builder &b) { b.link(dg_of(b), DG_NEXT_DG, dg_of(b)); }},
    {"DG chain back to the first",
     [](mdfbuild::Builder &b) {
         uint32_t dg2 = b.dg(0);
         b.link(dg_of(b), DG_NEXT_DG, dg2);
         b.link(dg2, DG_NEXT_DG, dg_of(b));
     }},
    {"CG chain loop", [](mdfbuild::Builder &b) { b.link(cg_of(b), CG_NEXT_CG, cg_of(b)); }},
    {"CN chain loop",
     [](mdfbuild::Builder &b) {
         uint32_t cn2 = b.u32(cn_of(b), CN_NEXT_CN);
         b.link(cn2, CN_NEXT_CN, cn_of(b));
     }},
    {"block size below 4", [](mdfbuild::Builder &b) { b.link(64, HD_COMMENT, b.block("TX", 2)); }},
    {"block size 0", [](mdfbuild::Builder &b) { b.link(dg_of(b), DG_TRIGGER, b.block("TR", 0)); }},
    {"link past the end",
     [](mdfbuild::Builder &b) { b.link(cn_of(b), CN_COMMENT, b.size() + 100); }},
    {"link at the last bytes",
     [](mdfbuild::Builder &b) { b.link(cn_of(b), CN_COMMENT, b.size() - 2); }},
    {"CC parameter count beyond its size",
     [](mdfbuild::Builder &b) {
         b.link(cn_of(b), CN_CONVERSION, b.cc(0, {1, 2}, "", 40));
     }},
    {"CC table beyond its size",
     [](mdfbuild::Builder &b) {
         b.link(cn_of(b), CN_CONVERSION, b.cc(1, {1, 2, 3, 4}, "", 3));
     }},
    {"CC exponential without its 7 parameters",
     [](mdfbuild::Builder &b) {
         b.link(cn_of(b), CN_CONVERSION, b.cc(7, {1, 2}, "", 2));
     }},
    {"CC linear without P2",
     [](mdfbuild::Builder &b) { b.link(cn_of(b), CN_CONVERSION, b.cc(0, {1}, "", 0)); }},
    {"CC shorter than its fields",
     [](mdfbuild::Builder &b) { b.link(cn_of(b), CN_CONVERSION, b.block("CC", 40)); }},
    {"TR event count beyond its size",
     [](mdfbuild::Builder &b) {
         uint32_t tr = b.tr({{1, 2, 3}});
         b.set_u16(tr, TR_COUNT, 2);
         b.link(dg_of(b), DG_TRIGGER, tr);
     }},
    {"TR without its count",
     [](mdfbuild::Builder &b) { b.link(dg_of(b), DG_TRIGGER, b.block("TR", 8)); }},
    {"CE without its type",
     [](mdfbuild::Builder &b) { b.link(cn_of(b), CN_EXTENSION, b.block("CE", 4)); }},
    {"CG comment not a block",
     [](mdfbuild::Builder &b) {
         b.link(cg_of(b), CG_COMMENT, b.raw({'t', 'x', 8, 0, 'a', 'b', 0, 0}));
     }},
    {"CN comment not a block",
     [](mdfbuild::Builder &b) {
         b.link(cn_of(b), CN_COMMENT, b.raw({'T', '1', 8, 0, 'a', 'b', 0, 0}));
     }},
    {"TR text not a block",
     [](mdfbuild::Builder &b) {
         uint32_t tr = b.tr({});
         b.link(dg_of(b), DG_TRIGGER, tr);
         b.link(tr, TR_COMMENT, b.raw({0, 0, 0, 0, 0, 0, 0, 0}));
     }},
    {"DG where a CG belongs", [](mdfbuild::Builder &b) { b.link(dg_of(b), DG_FIRST_CG, b.dg(0)); }},
    {"comment where a PR belongs", [](mdfbuild::Builder &b) { b.link(64, HD_PROGRAM, b.tx("x")); }},
};

TEST_F(Block, DamagedTreesEndInFileFormat) {
    for (const Damage &d : damages) {
        ASSERT_EQ(mdflib_init(""), 0);
        mdfbuild::Builder b = mdfbuild::simple_file();
        d.apply(b);
        uint8_t *id = nullptr, *hd = nullptr;
        CaptureStdout();
        EXPECT_EQ(read_tree(save(b), &id, &hd), MDF_ERR_FORMAT) << d.name;
        // The detail names the block, its position and what is wrong.
        std::string out = GetCapturedStdout();
        EXPECT_EQ(out.rfind("[MDFLIB-ERROR] file format (", 0), 0u) << d.name << ": " << out;
        EXPECT_NE(out.find("at "), std::string::npos) << d.name << ": " << out;
        EXPECT_EQ(hd, nullptr) << d.name;
    }
}

TEST_F(Block, AllowedOddities) {
    // CE of another type may be short; a formula CC needs no REAL room whatever its count;
    // a one-to-one CC with a count holds nothing.
    mdfbuild::Builder b = mdfbuild::simple_file();
    b.link(cn_of(b), CN_EXTENSION, b.ce(2, 6));
    b.link(b.u32(cn_of(b), CN_NEXT_CN), CN_CONVERSION, b.cc_formula("X", false, 9));
    uint8_t *id, *hd;
    ASSERT_EQ(read_tree(save(b), &id, &hd), 0);
    ASSERT_EQ(mdflib_init(""), 0);
    mdfbuild::Builder c = mdfbuild::simple_file();
    c.link(cn_of(c), CN_CONVERSION, c.cc(65535, {}, "", 5));
    EXPECT_EQ(read_tree(save(c), &id, &hd), 0);
}


} // namespace
