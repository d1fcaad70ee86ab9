// Groups of a file opened for reading read ahead in their own window: records of several groups
// read in turn, across window refills and backward seeks, are the records of the file.
#include "Mdftest_helper.h"

#include <vector>

namespace {

using GroupWindow = MdfTest;
using mdfbuild::Builder;

// Two sorted data groups: group 1 with n1 records of a 4-byte counter k, group 2 with n2 records
// of 2 bytes (k * 3, 16 bits) and one identifier byte per record. Both data areas are larger
// than one read-ahead window.
Builder two_groups(uint32_t n1, uint32_t n2) {
    Builder b;
    b.id();
    uint32_t hd = b.hd({.dg_count = 2});
    uint32_t dg1 = b.dg(1, 0);
    uint32_t cg1 = b.cg(1, 1, 4, n1);
    uint32_t cn1 = b.cn({.name = "A", .first_bit = 0, .bits = 32});
    uint32_t dg2 = b.dg(1, 1);
    uint32_t cg2 = b.cg(7, 1, 2, n2);
    uint32_t cn2 = b.cn({.name = "B", .first_bit = 0, .bits = 16});
    std::vector<uint8_t> area1;
    for (uint32_t k = 0; k < n1; ++k)
        for (int i = 0; i < 4; ++i) area1.push_back(static_cast<uint8_t>(k >> (8 * i)));
    std::vector<uint8_t> area2;
    for (uint32_t k = 0; k < n2; ++k) {
        uint32_t v = (k * 3) & 0xFFFF;
        area2.insert(area2.end(), {7, static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)});
    }
    b.link(hd, HD_FIRST_DG, dg1);
    b.link(dg1, DG_NEXT_DG, dg2);
    b.link(dg1, DG_FIRST_CG, cg1);
    b.link(dg2, DG_FIRST_CG, cg2);
    b.link(cg1, CG_FIRST_CN, cn1);
    b.link(cg2, CG_FIRST_CN, cn2);
    b.link(dg1, DG_DATA, b.raw(area1));
    b.link(dg2, DG_DATA, b.raw(area2));
    return b;
}

TEST_F(GroupWindow, InterleavedGroupsReadEveryRecordAcrossRefills) {
    const uint32_t n1 = 50000, n2 = 40000; // 200000 and 120000 bytes of data
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(save(two_groups(n1, n2)), &f), 0);
    mdf_group_rec *g1 = nullptr, *g2 = nullptr;
    ASSERT_EQ(mdfgrp_open(&g1, f, 1, MDFGRP_READ), 0);
    ASSERT_EQ(mdfgrp_open(&g2, f, 2, MDFGRP_READ), 0);
    mdf_channel_rec *a = nullptr, *b = nullptr;
    ASSERT_EQ(mdfchn_open(&a, g1, 1), 0);
    ASSERT_EQ(mdfchn_open(&b, g2, 1), 0);
    uint32_t raw = 0;
    uint32_t wrong_a = 0, wrong_b = 0;
    for (uint32_t k = 0; k < n1; ++k) {
        ASSERT_EQ(mdfchn_read_raw(&raw, a), 0);
        if (raw != k) ++wrong_a;
        if (k < n2) {
            ASSERT_EQ(mdfchn_read_raw(&raw, b), 0);
            if (raw != ((k * 3) & 0xFFFF)) ++wrong_b;
        }
    }
    EXPECT_EQ(wrong_a, 0u);
    EXPECT_EQ(wrong_b, 0u);
    EXPECT_EQ(mdfchn_read_raw(&raw, a), MDF_END_OF_RECORDS);
    EXPECT_EQ(mdfchn_read_raw(&raw, b), MDF_END_OF_RECORDS);

    // Backward and forward seeks outside the current window.
    for (uint32_t k : {5u, 49999u, 17u, 30000u, 0u}) {
        ASSERT_EQ(mdfgrp_seek(g1, static_cast<int32_t>(k), MDFGRP_SEEK_SET), 0);
        ASSERT_EQ(mdfchn_read_raw(&raw, a), 0);
        EXPECT_EQ(raw, k);
    }
    ASSERT_EQ(mdfgrp_seek(g2, 39999, MDFGRP_SEEK_SET), 0);
    ASSERT_EQ(mdfchn_read_raw(&raw, b), 0);
    EXPECT_EQ(raw, (39999u * 3) & 0xFFFF);
    EXPECT_EQ(mdffil_close(f), 0);
}

TEST_F(GroupWindow, DataAreaCutShortIsStillAFileFormatError) {
    Builder b = two_groups(30000, 20000);
    b.bytes.resize(b.bytes.size() - 1); // the last record of group 2 ends early
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(save(b), &f), 0);
    mdf_group_rec *g = nullptr;
    ASSERT_EQ(mdfgrp_open(&g, f, 2, MDFGRP_READ), 0);
    EXPECT_EQ(mdfgrp_seek(g, 19998, MDFGRP_SEEK_SET), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(mdfgrp_seek(g, 19999, MDFGRP_SEEK_SET), MDF_ERR_FORMAT);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("[MDFLIB-ERROR] file format (at ", 0), 0u) << out;
    EXPECT_NE(out.find(": record runs past the end of the file)"), std::string::npos) << out;
    EXPECT_EQ(mdfgrp_close(g), 0);
    EXPECT_EQ(mdffil_close(f), 0);
}

} // namespace
