// Groups and channels by number, compared with walks along the chains of the block tree, and the
// open channels of each group: their order, their closing with the group, and the record moves
// that touch only the moving group's channels.
#include "Mdftest_helper.h"

#include <vector>

namespace {

using Lookup = MdfTest;
using mdfbuild::Builder;

struct walked_group {
    uint8_t *dg;
    uint8_t *cg;
    std::vector<uint8_t *> cns;
};

// Every channel group of an open file with its DG and its CNs, walked along the chains.
std::vector<walked_group> walk(mdf_file_rec *f) {
    std::vector<walked_group> groups;
    for (uint8_t *dg = mdfblk_link(f->hd, HD_FIRST_DG); dg != nullptr;
         dg = mdfblk_link(dg, DG_NEXT_DG)) {
        for (uint8_t *cg = mdfblk_link(dg, DG_FIRST_CG); cg != nullptr;
             cg = mdfblk_link(cg, CG_NEXT_CG)) {
            walked_group g{dg, cg, {}};
            for (uint8_t *cn = mdfblk_link(cg, CG_FIRST_CN); cn != nullptr;
                 cn = mdfblk_link(cn, CN_NEXT_CN))
                g.cns.push_back(cn);
            groups.push_back(g);
        }
    }
    return groups;
}

// A file of data groups, each a list of channel groups given by their number of channels
// (8-bit channels over one-byte records, no records). A DG with several CGs has one identifier
// byte and record identifiers 1, 2, ...
Builder shaped_file(const std::vector<std::vector<uint16_t>> &shape) {
    Builder b;
    b.id();
    uint32_t hd = b.hd({.dg_count = static_cast<uint16_t>(shape.size())});
    std::vector<uint32_t> dgs;
    for (const std::vector<uint16_t> &cgs : shape) {
        uint32_t dg = b.dg(static_cast<uint16_t>(cgs.size()), cgs.size() > 1 ? 1 : 0);
        std::vector<uint32_t> cg_blocks;
        for (std::size_t i = 0; i < cgs.size(); ++i) {
            uint32_t cg = b.cg(static_cast<uint16_t>(i + 1), cgs[i], 1, 0);
            std::vector<uint32_t> cns;
            for (uint16_t k = 0; k < cgs[i]; ++k)
                cns.push_back(b.cn({.type = static_cast<uint16_t>(k == 0 ? 1 : 0),
                                    .name = "C",
                                    .first_bit = 0,
                                    .bits = 8}));
            if (!cns.empty()) b.chain(cg, CG_FIRST_CN, cns, CN_NEXT_CN);
            cg_blocks.push_back(cg);
        }
        if (!cg_blocks.empty()) b.chain(dg, DG_FIRST_CG, cg_blocks, CG_NEXT_CG);
        dgs.push_back(dg);
    }
    if (!dgs.empty()) b.chain(hd, HD_FIRST_DG, dgs, DG_NEXT_DG);
    return b;
}

// Opens every group and channel by number and compares them with the walk; numbers 0 and one
// beyond the last are not found.
void expect_numbers_as_the_walk(mdf_file_rec *f) {
    std::vector<walked_group> groups = walk(f);
    uint16_t count = 0;
    ASSERT_EQ(mdffil_groups(&count, f), 0);
    ASSERT_EQ(count, groups.size());
    for (uint16_t n = 1; n <= count; ++n) {
        SCOPED_TRACE(n);
        mdf_group_rec *g = nullptr;
        ASSERT_EQ(mdfgrp_open(&g, f, n, MDFGRP_READ), 0);
        EXPECT_EQ(g->dg, groups[n - 1].dg);
        EXPECT_EQ(g->cg, groups[n - 1].cg);
        uint16_t channels = 0;
        EXPECT_EQ(mdfgrp_channels(&channels, g), 0);
        const std::vector<uint8_t *> &cns = groups[n - 1].cns;
        EXPECT_EQ(channels, cns.size());
        for (uint16_t k = 1; k <= cns.size(); ++k) {
            mdf_channel_rec *c = nullptr;
            ASSERT_EQ(mdfchn_open(&c, g, k), 0);
            EXPECT_EQ(c->cn, cns[k - 1]);
        }
        testing::internal::CaptureStdout();
        mdf_channel_rec *c = nullptr;
        EXPECT_EQ(mdfchn_open(&c, g, 0), MDF_NOTE_CHANNEL_NOT_FOUND);
        EXPECT_EQ(mdfchn_open(&c, g, static_cast<uint16_t>(cns.size() + 1)),
                  MDF_NOTE_CHANNEL_NOT_FOUND);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(mdfgrp_close(g), 0);
    }
    testing::internal::CaptureStdout();
    mdf_group_rec *g = nullptr;
    EXPECT_EQ(mdfgrp_open(&g, f, 0, MDFGRP_READ), MDF_NOTE_GROUP_NOT_FOUND);
    EXPECT_EQ(mdfgrp_open(&g, f, static_cast<uint16_t>(count + 1), MDFGRP_READ),
              MDF_NOTE_GROUP_NOT_FOUND);
    testing::internal::GetCapturedStdout();
}

TEST_F(Lookup, GroupsAndChannelsByNumberAsTheWalk) {
    const std::vector<std::vector<std::vector<uint16_t>>> shapes = {
        {{2}}, {{2}, {3}, {1}}, {{2, 0, 5}, {}, {1}, {3, 3}}, {{}, {4, 1, 2, 0}}, {},
    };
    for (std::size_t i = 0; i < shapes.size(); ++i) {
        SCOPED_TRACE(i);
        mdf_file_rec *f = nullptr;
        ASSERT_EQ(open(save(shaped_file(shapes[i])), &f), 0);
        expect_numbers_as_the_walk(f);
        EXPECT_EQ(mdffil_close(f), 0);
    }
}

// Channels of a created group by number, while the group grows.
TEST_F(Lookup, ChannelsOfACreatedGroupByNumber) {
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(mdfbuild::temp_path("lookup_created.dat"), &f, MDFFIL_CREATE), 0);
    mdf_group_rec *g = nullptr;
    ASSERT_EQ(mdfgrp_open(&g, f, 0, MDFGRP_CREATE), 0);
    std::vector<mdf_channel_rec *> created;
    for (int k = 0; k < 4; ++k) {
        mdf_channel_rec *c = nullptr;
        ASSERT_EQ(mdfchn_create(&c, g, k == 0 ? MDFCHN_TIME : MDFCHN_VALUE, 8, MDFCHN_UNSIGNED,
                                k == 0 ? "T" : "V"),
                  0);
        created.push_back(c);
        for (uint16_t n = 1; n <= created.size(); ++n) {
            mdf_channel_rec *opened = nullptr;
            ASSERT_EQ(mdfchn_open(&opened, g, n), 0);
            EXPECT_EQ(opened->cn, created[n - 1]->cn);
            EXPECT_EQ(mdfchn_close(opened), 0);
        }
        testing::internal::CaptureStdout();
        mdf_channel_rec *none = nullptr;
        EXPECT_EQ(mdfchn_open(&none, g, static_cast<uint16_t>(created.size() + 1)),
                  MDF_NOTE_CHANNEL_NOT_FOUND);
        testing::internal::GetCapturedStdout();
    }
    EXPECT_EQ(mdffil_close(f), 0);
}

// The channels of each group in the order they were opened; a close takes out that one channel,
// a group close the group's own channels only.
TEST_F(Lookup, EachGroupKeepsItsOpenChannelsInOrder) {
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(save(mdfbuild::simple_file(4)), &f), 0);
    mdf_group_rec *a = nullptr, *b = nullptr;
    ASSERT_EQ(mdfgrp_open(&a, f, 1, MDFGRP_READ), 0);
    ASSERT_EQ(mdfgrp_open(&b, f, 1, MDFGRP_READ), 0);
    mdf_channel_rec *a1, *b1, *a2, *b2, *a3;
    ASSERT_EQ(mdfchn_open(&a1, a, 1), 0);
    ASSERT_EQ(mdfchn_open(&b1, b, 2), 0);
    ASSERT_EQ(mdfchn_open(&a2, a, 2), 0);
    ASSERT_EQ(mdfchn_open(&b2, b, 1), 0);
    ASSERT_EQ(mdfchn_open(&a3, a, 1), 0);
    auto channels_of = [](mdf_group_rec *g) {
        std::vector<mdf_channel_rec *> list;
        mdf_channel_rec *c = nullptr;
        for (int16_t s = mdfchn_first(&c, g); s == 0; s = mdfchn_next(&c)) list.push_back(c);
        EXPECT_EQ(c, nullptr);
        return list;
    };
    EXPECT_EQ(channels_of(a), (std::vector<mdf_channel_rec *>{a1, a2, a3}));
    EXPECT_EQ(channels_of(b), (std::vector<mdf_channel_rec *>{b1, b2}));
    EXPECT_EQ(mdfchn_close(a2), 0);
    EXPECT_EQ(channels_of(a), (std::vector<mdf_channel_rec *>{a1, a3}));
    EXPECT_EQ(mdfchn_close(a1), 0);
    EXPECT_EQ(mdfchn_close(a3), 0);
    EXPECT_TRUE(channels_of(a).empty());
    mdf_channel_rec *c = nullptr;
    EXPECT_EQ(mdfchn_first(&c, a), MDF_NO_MORE_CHANNELS);
    ASSERT_EQ(mdfchn_open(&a1, a, 2), 0);
    ASSERT_EQ(mdfchn_open(&a2, a, 1), 0);
    EXPECT_EQ(channels_of(a), (std::vector<mdf_channel_rec *>{a1, a2}));

    // Reads: b moves on three times (its time channel read again), a stays; then a's value
    // channel, read once already, moves a on by one record.
    double x = 0;
    EXPECT_EQ(mdfchn_read_value(&x, a1), 0);
    EXPECT_EQ(x, 0.0);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(mdfchn_read_value(&x, b2), 0);
        EXPECT_EQ(x, k);
    }
    EXPECT_EQ(mdfchn_read_value(&x, a2), 0); // not read in a's record yet
    EXPECT_EQ(x, 0.0);
    EXPECT_EQ(mdfchn_read_value(&x, a1), 0);
    EXPECT_EQ(x, 10.0);
    EXPECT_EQ(mdfchn_read_value(&x, b1), 0); // b's record 3, not read by b1 yet
    EXPECT_EQ(x, 30.0);

    // Closing a closes a1 and a2 and leaves b's channels in the library's list.
    EXPECT_EQ(mdfgrp_close(a), 0);
    std::vector<mdf_channel_rec *> listed;
    for (mdf_channel_rec *l = mdflib_state.channels; l != nullptr; l = l->next) listed.push_back(l);
    EXPECT_EQ(listed, (std::vector<mdf_channel_rec *>{b1, b2}));
    EXPECT_EQ(channels_of(b), (std::vector<mdf_channel_rec *>{b1, b2}));
    EXPECT_EQ(mdffil_close(f), 0);
    EXPECT_EQ(mdflib_state.channels, nullptr);
    EXPECT_EQ(mdflib_state.channels_tail, nullptr);
    EXPECT_EQ(mdflib_state.groups, nullptr);
}

// Records removed from the middle, the front and the end of the library's lists leave them in
// order; a record out of the list is not found.
TEST_F(Lookup, ListsRemoveAnywhere) {
    std::vector<mdf_channel_rec *> c(5);
    for (auto *&x : c) {
        x = mdflib_new<mdf_channel_rec>();
        x->magic = MDF_CHANNEL_MAGIC;
        mdflst_channel_insert(x);
    }
    auto listed = [] {
        std::vector<mdf_channel_rec *> v;
        for (mdf_channel_rec *l = mdflib_state.channels; l != nullptr; l = l->next) v.push_back(l);
        return v;
    };
    EXPECT_EQ(mdflst_channel_remove(c[2]), 0);
    EXPECT_EQ(mdflst_channel_remove(c[2]), MDF_ERR_NODE_NOT_FOUND);
    EXPECT_EQ(listed(), (std::vector<mdf_channel_rec *>{c[0], c[1], c[3], c[4]}));
    EXPECT_EQ(mdflst_channel_remove(c[4]), 0);
    EXPECT_EQ(mdflib_state.channels_tail, c[3]);
    EXPECT_EQ(mdflst_channel_remove(c[0]), 0);
    EXPECT_EQ(listed(), (std::vector<mdf_channel_rec *>{c[1], c[3]}));
    mdflst_channel_insert(c[2]);
    EXPECT_EQ(listed(), (std::vector<mdf_channel_rec *>{c[1], c[3], c[2]}));
    EXPECT_EQ(mdflib_state.channels_tail, c[2]);
    for (auto *x : {c[3], c[2], c[1]}) EXPECT_EQ(mdflst_channel_remove(x), 0);
    EXPECT_EQ(mdflib_state.channels, nullptr);
    EXPECT_EQ(mdflib_state.channels_tail, nullptr);
    EXPECT_EQ(mdflst_channel_remove(c[1]), MDF_ERR_NODE_NOT_FOUND);
    for (auto *x : c) mdflst_channel_release(x);
}

} // namespace
