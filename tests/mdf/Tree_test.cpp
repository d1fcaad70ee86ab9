// Tests of the block tree in proportion to the file: the memory a tree read may take, and the
// index of groups and channels by number (against walks of the chains).
#include "Mdftest_helper.h"

#include <string>
#include <vector>

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

class Tree : public MdfTest {
  protected:
    // Bytes of all block images in memory.
    static uint64_t image_bytes() {
        uint64_t n = 0;
        for (mdf_block_node *b = mdflib_state.blocks; b != nullptr; b = b->next) n += b->length;
        return n;
    }
    // The n-th CG (from 1) of a walk along the DG chain and each DG's CG chain.
    static uint8_t *walk_group(mdf_file_rec *f, uint32_t n, uint8_t **dg_out) {
        uint32_t k = 0;
        for (uint8_t *dg = mdfblk_link(f->hd, HD_FIRST_DG); dg != nullptr;
             dg = mdfblk_link(dg, DG_NEXT_DG))
            for (uint8_t *cg = mdfblk_link(dg, DG_FIRST_CG); cg != nullptr;
                 cg = mdfblk_link(cg, CG_NEXT_CG))
                if (++k == n) {
                    *dg_out = dg;
                    return cg;
                }
        return nullptr;
    }
    static uint32_t walk_cgs(uint8_t *dg) {
        uint32_t n = 0;
        for (uint8_t *cg = mdfblk_link(dg, DG_FIRST_CG); cg != nullptr;
             cg = mdfblk_link(cg, CG_NEXT_CG))
            ++n;
        return n;
    }
    static std::vector<uint8_t *> walk_channels(uint8_t *cg) {
        std::vector<uint8_t *> cns;
        for (uint8_t *cn = mdfblk_link(cg, CG_FIRST_CN); cn != nullptr;
             cn = mdfblk_link(cn, CN_NEXT_CN))
            cns.push_back(cn);
        return cns;
    }
    static uint32_t read_pos(const uint8_t *image) { return mdfblk_find_node(image)->read_pos; }
};

// One DG, one CG and `channels` CNs that all link the CC at cc (0: none).
mdfbuild::Builder shared_conversion_file(int channels, bool large_cc) {
    mdfbuild::Builder b;
    b.id();
    uint32_t hd = b.hd();
    uint32_t dg = b.dg(1, 0);
    uint32_t cg = b.cg(1, static_cast<uint16_t>(channels), 1, 0);
    b.link(hd, HD_FIRST_DG, dg);
    b.link(dg, DG_FIRST_CG, cg);
    // A linear conversion of the largest block size (65534 bytes), or a plain one of 62 bytes.
    uint32_t cc = b.cc(CC_LINEAR, std::vector<double>(large_cc ? 8186 : 2, 1.0));
    std::vector<uint32_t> cns;
    for (int i = 0; i < channels; ++i) {
        uint32_t cn = b.cn({.name = "V", .bits = 8});
        b.link(cn, CN_CONVERSION, cc);
        cns.push_back(cn);
    }
    b.chain(cg, CG_FIRST_CN, cns, CN_NEXT_CN);
    return b;
}

TEST_F(Tree, ManyLinksToOneLargeBlockAreRefusedWithinTheLimit) {
    // 4000 channels share one 64 KB conversion: read once per link they would take 260 MB.
    mdfbuild::Builder b = shared_conversion_file(4000, true);
    ASSERT_LT(b.size(), 1000000u);
    mdf_file_rec *f = reinterpret_cast<mdf_file_rec *>(1);
    CaptureStdout();
    EXPECT_EQ(open(save(b), &f), MDF_ERR_MEMORY);
    EXPECT_EQ(GetCapturedStdout(),
              "[MDFLIB-ERROR] out of memory (block tree too large for the file)\n\n");
    EXPECT_EQ(f, nullptr);
    EXPECT_EQ(mdflib_state.files, nullptr);
    EXPECT_EQ(mdflib_last_error(), MDF_ERR_MEMORY);
    // What was read before the refusal stays within the limit.
    EXPECT_LE(image_bytes(), mdfblk_tree_limit(b.size()));
    EXPECT_GT(image_bytes(), mdfblk_tree_limit(b.size()) / 4); // it did read up to the limit
}

TEST_F(Tree, ChainsSharingOneLongChainAreRefused) {
    // 1000 CGs all start the same chain of 3000 CNs: 3 million CN reads, refused early.
    mdfbuild::Builder b;
    b.id();
    uint32_t hd = b.hd();
    uint32_t dg = b.dg(1000, 1);
    b.link(hd, HD_FIRST_DG, dg);
    std::vector<uint32_t> cns;
    for (int i = 0; i < 3000; ++i) cns.push_back(b.cn({.name = "V", .bits = 8}));
    std::vector<uint32_t> cgs;
    for (int i = 0; i < 1000; ++i) {
        cgs.push_back(b.cg(static_cast<uint16_t>(i % 250), 3000, 1, 0));
        b.chain(cgs.back(), CG_FIRST_CN, cns, CN_NEXT_CN);
    }
    b.chain(dg, DG_FIRST_CG, cgs, CG_NEXT_CG);
    mdf_file_rec *f = nullptr;
    CaptureStdout();
    EXPECT_EQ(open(save(b), &f), MDF_ERR_MEMORY);
    GetCapturedStdout();
    EXPECT_EQ(f, nullptr);
    EXPECT_LT(count_blocks(), 300000); // far from the 3 million of the whole tree
}

TEST_F(Tree, FilesSharingSomeBlocksStillOpen) {
    // A few hundred links to a largest block fit the fixed allowance, thousands of links to a
    // small one fit the factor.
    for (auto [channels, large] : {std::pair{200, true}, std::pair{8000, false}}) {
        SCOPED_TRACE(channels);
        ASSERT_EQ(mdflib_init(""), 0);
        mdfbuild::Builder b = shared_conversion_file(channels, large);
        mdf_file_rec *f = nullptr;
        ASSERT_EQ(open(save(b), &f), 0);
        uint8_t *dg = nullptr, *cg = nullptr;
        ASSERT_TRUE(mdfblk_index_group(f, 1, &dg, &cg));
        EXPECT_EQ(mdfblk_index_cn_count(f, cg), channels);
        // Read once per link: every channel has a conversion image of its own.
        uint8_t *first = mdfblk_link(mdfblk_index_cn(f, cg, 1), CN_CONVERSION);
        uint8_t *last = mdfblk_link(mdfblk_index_cn(f, cg, channels), CN_CONVERSION);
        ASSERT_NE(first, nullptr);
        EXPECT_NE(first, last);
        EXPECT_EQ(read_pos(first), read_pos(last));
        EXPECT_EQ(mdffil_close(f), 0);
    }
    // An ordinary file: far below the limit.
    ASSERT_EQ(mdflib_init(""), 0);
    mdfbuild::Builder small = mdfbuild::simple_file();
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(save(small), &f), 0);
    EXPECT_LT(image_bytes(), uint64_t{small.size()} * 2);
    EXPECT_EQ(mdfblk_tree_limit(0), uint64_t{64} << 20);
    EXPECT_GT(mdfblk_tree_limit(small.size()), mdfblk_tree_limit(0) + 16 * uint64_t{small.size()});
}

// DG 1: CGs with 2, 0 and 3 CNs; DG 2: no CG; DG 3: one CG with 1 CN.
mdfbuild::Builder mixed_file() {
    mdfbuild::Builder b;
    b.id();
    uint32_t hd = b.hd();
    std::vector<uint32_t> dgs = {b.dg(3, 1), b.dg(0, 0), b.dg(1, 0)};
    b.chain(hd, HD_FIRST_DG, dgs, DG_NEXT_DG);
    auto group = [&](uint16_t id, int channels) {
        uint32_t cg = b.cg(id, static_cast<uint16_t>(channels), 2, 0);
        std::vector<uint32_t> cns;
        for (int i = 0; i < channels; ++i) cns.push_back(b.cn({.name = "C", .bits = 8}));
        if (!cns.empty()) b.chain(cg, CG_FIRST_CN, cns, CN_NEXT_CN);
        return cg;
    };
    std::vector<uint32_t> first = {group(1, 2), group(2, 0), group(3, 3)};
    b.chain(dgs[0], DG_FIRST_CG, first, CG_NEXT_CG);
    b.link(dgs[2], DG_FIRST_CG, group(1, 1));
    return b;
}

TEST_F(Tree, IndexAnswersAsTheWalk) {
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(save(mixed_file()), &f), 0);
    uint16_t groups = 0;
    ASSERT_EQ(mdffil_groups(&groups, f), 0);
    EXPECT_EQ(groups, 4);
    EXPECT_EQ(mdfblk_index_groups(f), 4);
    const int channels[] = {2, 0, 3, 1};
    for (uint16_t n = 1; n <= 4; ++n) {
        SCOPED_TRACE(n);
        uint8_t *walk_dg = nullptr;
        uint8_t *walk_cg = walk_group(f, n, &walk_dg);
        uint8_t *dg = nullptr, *cg = nullptr;
        ASSERT_TRUE(mdfblk_index_group(f, n, &dg, &cg));
        EXPECT_EQ(cg, walk_cg);
        EXPECT_EQ(dg, walk_dg);
        EXPECT_EQ(mdfblk_index_cg_count(f, dg), walk_cgs(dg));
        EXPECT_EQ(mdfblk_cg_count(dg), walk_cgs(dg));
        std::vector<uint8_t *> cns = walk_channels(cg);
        EXPECT_EQ(mdfblk_index_cn_count(f, cg), channels[n - 1]);
        EXPECT_EQ(cns.size(), static_cast<std::size_t>(channels[n - 1]));
        for (uint16_t k = 1; k <= cns.size(); ++k) EXPECT_EQ(mdfblk_index_cn(f, cg, k), cns[k - 1]);
        EXPECT_EQ(mdfblk_index_cn(f, cg, 0), nullptr);
        EXPECT_EQ(mdfblk_index_cn(f, cg, static_cast<uint16_t>(cns.size() + 1)), nullptr);
    }
    uint8_t *dg = reinterpret_cast<uint8_t *>(1), *cg = dg;
    EXPECT_FALSE(mdfblk_index_group(f, 0, &dg, &cg));
    EXPECT_EQ(dg, nullptr);
    EXPECT_EQ(cg, nullptr);
    EXPECT_FALSE(mdfblk_index_group(f, 5, &dg, &cg));
    // The DG without CGs counts 0.
    uint8_t *empty_dg = mdfblk_link(mdfblk_link(f->hd, HD_FIRST_DG), DG_NEXT_DG);
    EXPECT_EQ(mdfblk_index_cg_count(f, empty_dg), 0);
    EXPECT_EQ(mdffil_check_sorted(f), MDF_NOT_SORTED);
}

TEST_F(Tree, IndexFollowsBlocksLinkedInLater) {
    // A new file: no group; a data group made the way a created group is, first in the chain.
    std::string path = mdfbuild::temp_path("created.dat");
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(mdffil_open(&f, path.c_str(), MDFFIL_CREATE), 0);
    EXPECT_EQ(mdfblk_index_groups(f), 0);
    uint8_t *dg = nullptr, *cg = nullptr;
    EXPECT_FALSE(mdfblk_index_group(f, 1, &dg, &cg));
    ASSERT_EQ(status_of([&] {
                  uint8_t *new_cg = mdfblk_new(MDFBLK_CG);
                  uint8_t *new_dg = mdfblk_new(MDFBLK_DG);
                  mdfblk_set_link(new_dg + DG_FIRST_CG, 0, new_cg);
                  mdfblk_set_link(f->hd + HD_FIRST_DG, 0, new_dg);
              }),
              0);
    EXPECT_EQ(mdfblk_index_groups(f), 1);
    ASSERT_TRUE(mdfblk_index_group(f, 1, &dg, &cg));
    EXPECT_EQ(mdfblk_link(f->hd, HD_FIRST_DG), dg);
    EXPECT_EQ(mdfblk_index_cg_count(f, dg), 1);
    EXPECT_EQ(mdfblk_cg_count(dg), 1);
    EXPECT_EQ(mdffil_check_sorted(f), 0);
    // A second CG linked into that DG's chain is counted by a walk (created DGs are not
    // indexed) and makes the file unsorted.
    ASSERT_EQ(status_of([&] { mdfblk_set_link(cg + CG_NEXT_CG, 0, mdfblk_new(MDFBLK_CG)); }), 0);
    EXPECT_EQ(mdfblk_cg_count(dg), 2);
    EXPECT_EQ(mdfblk_index_cg_count(f, dg), 2);
    EXPECT_EQ(mdfblk_index_groups(f), 2);
    uint8_t *second = mdfblk_link(cg, CG_NEXT_CG);
    uint8_t *dg2 = nullptr, *cg2 = nullptr;
    ASSERT_TRUE(mdfblk_index_group(f, 2, &dg2, &cg2));
    EXPECT_EQ(dg2, dg);
    EXPECT_EQ(cg2, second);
    EXPECT_EQ(mdffil_check_sorted(f), MDF_NOT_SORTED);
    // Channels appended to its chain one by one.
    EXPECT_EQ(mdfblk_index_cn_count(f, cg), 0);
    uint8_t *cn1 = mdfblk_new(MDFBLK_CN);
    mdfblk_set_link(cg + CG_FIRST_CN, 0, cn1);
    EXPECT_EQ(mdfblk_index_cn_count(f, cg), 1);
    uint8_t *cn2 = mdfblk_new(MDFBLK_CN);
    mdfblk_set_link(cn1 + CN_NEXT_CN, 0, cn2);
    EXPECT_EQ(mdfblk_index_cn_count(f, cg), 2);
    EXPECT_EQ(mdfblk_index_cn(f, cg, 2), cn2);
    EXPECT_EQ(mdffil_close(f), 0);

    // A channel appended to a group of a file that was read.
    ASSERT_EQ(open(save(mixed_file()), &f), 0);
    ASSERT_TRUE(mdfblk_index_group(f, 3, &dg, &cg));
    EXPECT_EQ(mdfblk_index_cn_count(f, cg), 3);
    uint8_t *extra = mdfblk_new(MDFBLK_CN);
    mdfblk_set_link(mdfblk_index_cn(f, cg, 3) + CN_NEXT_CN, 0, extra);
    EXPECT_EQ(mdfblk_index_cn_count(f, cg), 4);
    EXPECT_EQ(mdfblk_index_cn(f, cg, 4), extra);
    EXPECT_EQ(walk_channels(cg).size(), 4u);
}

TEST_F(Tree, SixtyFiveThousandGroupsOrChannels) {
    // 65535 data groups of one CG each (3.3 MB).
    mdfbuild::Builder b;
    b.id();
    uint32_t hd = b.hd();
    std::vector<uint32_t> dgs;
    uint32_t last_cg = 0;
    for (int i = 0; i < 65535; ++i) {
        dgs.push_back(b.dg(1, 0));
        last_cg = b.cg(1, 0, 4, 0);
        b.link(dgs.back(), DG_FIRST_CG, last_cg);
    }
    b.chain(hd, HD_FIRST_DG, dgs, DG_NEXT_DG);
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(save(b, "groups.dat"), &f), 0);
    uint16_t groups = 0;
    EXPECT_EQ(mdffil_groups(&groups, f), 0);
    EXPECT_EQ(groups, 65535);
    EXPECT_EQ(mdffil_check_sorted(f), 0);
    uint8_t *dg = nullptr, *cg = nullptr;
    ASSERT_TRUE(mdfblk_index_group(f, 65535, &dg, &cg));
    EXPECT_EQ(read_pos(cg), last_cg);
    EXPECT_EQ(read_pos(dg), dgs.back());
    EXPECT_EQ(mdffil_close(f), 0);

    // One group of 65535 channels (14 MB).
    mdfbuild::Builder c;
    c.id();
    hd = c.hd();
    uint32_t one_dg = c.dg(1, 0);
    uint32_t one_cg = c.cg(1, 65535, 1, 0);
    c.link(hd, HD_FIRST_DG, one_dg);
    c.link(one_dg, DG_FIRST_CG, one_cg);
    std::vector<uint32_t> cns;
    for (int i = 0; i < 65535; ++i) cns.push_back(c.cn({.name = "C", .bits = 8}));
    c.chain(one_cg, CG_FIRST_CN, cns, CN_NEXT_CN);
    ASSERT_EQ(open(save(c, "channels.dat"), &f), 0);
    ASSERT_TRUE(mdfblk_index_group(f, 1, &dg, &cg));
    EXPECT_EQ(mdfblk_index_cn_count(f, cg), 65535);
    uint8_t *last = mdfblk_index_cn(f, cg, 65535);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(read_pos(last), cns.back());
    EXPECT_EQ(mdfblk_link(last, CN_NEXT_CN), nullptr);
}

TEST_F(Tree, GroupCountStopsAt65535) {
    // One DG whose chain holds 65536 CGs (1.7 MB).
    mdfbuild::Builder b;
    b.id();
    uint32_t hd = b.hd();
    uint32_t dg = b.dg(0, 1);
    b.link(hd, HD_FIRST_DG, dg);
    std::vector<uint32_t> cgs;
    for (int i = 0; i < 65536; ++i) cgs.push_back(b.cg(1, 0, 1, 0));
    b.chain(dg, DG_FIRST_CG, cgs, CG_NEXT_CG);
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(save(b), &f), 0);
    uint16_t groups = 0;
    EXPECT_EQ(mdffil_groups(&groups, f), 0);
    EXPECT_EQ(groups, 65535);
    uint8_t *dg_image = mdfblk_link(f->hd, HD_FIRST_DG);
    EXPECT_EQ(walk_cgs(dg_image), 65536u);
    EXPECT_EQ(mdfblk_index_cg_count(f, dg_image), 65535);
    EXPECT_EQ(mdfblk_cg_count(dg_image), 65535);
    uint8_t *cg = nullptr;
    ASSERT_TRUE(mdfblk_index_group(f, 65535, &dg_image, &cg));
    EXPECT_EQ(read_pos(cg), cgs[65534]);
    EXPECT_EQ(mdffil_check_sorted(f), MDF_NOT_SORTED);
}

} // namespace
