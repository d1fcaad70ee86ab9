// The library frame: init, exit, levels, the call guard, error reporting, allocation, lists.
#include "Mdftest_helper.h"
#include "Platform_helper.h"

#include <cstdio>
#include <string>
#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

using Frame = MdfTest;

std::string program_id() {
    return std::string(mdflib_state.program_id, 8);
}

TEST_F(Frame, InitTakesProgramIdentifier) {
    ASSERT_EQ(mdflib_init(nullptr), 0);
    EXPECT_EQ(program_id(), std::string("MDFLIB\0\0", 8));
    ASSERT_EQ(mdflib_init("ABCDEFGHIJK"), 0);
    EXPECT_EQ(program_id(), "ABCDEFGH"); // cut to 8, no zero byte
    EXPECT_EQ(mdflib_state.level, 1);
    EXPECT_EQ(mdflib_state.io_mode_bits, 0x100);
    uint8_t *id = mdfblk_new(MDFBLK_ID);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(id) + 16, 8), "ABCDEFGH");
}

TEST_F(Frame, OpenBeforeInitIsRefused) {
    ASSERT_EQ(mdflib_exit(), 0);
    EXPECT_EQ(mdflib_state.level, 0);
    mdf_file_rec *f = reinterpret_cast<mdf_file_rec *>(1);
    CaptureStdout();
    EXPECT_EQ(mdffil_open(&f, "whatever.dat", MDFFIL_READ), MDF_ERR_NOT_INIT);
    EXPECT_EQ(GetCapturedStdout(), "[MDFLIB-ERROR] ZUV-udaravo not initialized \n\n");
    EXPECT_EQ(f, nullptr);
    EXPECT_EQ(mdflib_last_error(), MDF_ERR_NOT_INIT);
}

TEST_F(Frame, StickyErrorRefusesAllButInitExitAndClose) {
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(save(mdfbuild::simple_file()), &f), 0);
    uint16_t groups = 0;
    CaptureStdout();
    EXPECT_EQ(mdffil_groups(&groups, nullptr), MDF_ERR_BAD_FILE);
    EXPECT_EQ(GetCapturedStdout(), "[MDFLIB-ERROR] bad filehandle \n\n");
    EXPECT_EQ(mdflib_last_error(), MDF_ERR_BAD_FILE);
    EXPECT_STREQ(mdflib_last_error_text(), "bad filehandle \n");

    // Every later operation gives the same code without doing anything or printing.
    CaptureStdout();
    EXPECT_EQ(mdffil_groups(&groups, f), MDF_ERR_BAD_FILE);
    EXPECT_EQ(groups, 0);
    const char *author = nullptr;
    EXPECT_EQ(mdffil_author(f, &author), MDF_ERR_BAD_FILE);
    EXPECT_EQ(author, nullptr);
    mdf_file_rec *g = nullptr;
    EXPECT_EQ(open(save(mdfbuild::simple_file()), &g), MDF_ERR_BAD_FILE);
    EXPECT_EQ(g, nullptr);
    // A second, different error does not replace the first.
    EXPECT_EQ(mdffil_check_sorted(nullptr), MDF_ERR_BAD_FILE);
    EXPECT_EQ(GetCapturedStdout(), "");

    // The close runs under a sticky error.
    EXPECT_EQ(mdffil_close(nullptr), 0);
    EXPECT_EQ(mdffil_close(f), 0);
    EXPECT_EQ(mdflib_state.files, nullptr);

    ASSERT_EQ(mdflib_init(""), 0);
    EXPECT_EQ(mdflib_last_error(), 0);
    EXPECT_STREQ(mdflib_last_error_text(), "");
    ASSERT_EQ(open(save(mdfbuild::simple_file()), &f), 0);
    EXPECT_EQ(mdffil_groups(&groups, f), 0);
    EXPECT_EQ(groups, 1);
}

TEST_F(Frame, NoticeIsPrintedButDoesNotBlock) {
    std::string missing = mdfbuild::temp_path("missing.dat");
    mdf_file_rec *f = nullptr;
    CaptureStdout();
    EXPECT_EQ(open(missing, &f), MDF_NOTE_OPEN_FAILED);
    EXPECT_EQ(GetCapturedStdout(), "[MDFLIB-ERROR] could not open file " + missing + "\n\n");
    EXPECT_EQ(mdflib_last_error(), 0);
    EXPECT_EQ(open(save(mdfbuild::simple_file()), &f), 0);
    EXPECT_NE(f, nullptr);
}

TEST_F(Frame, NonzeroStatusTravelsOutwardGuardByGuard) {
    bool outer_went_on = false;
    int16_t inner_returned = 99;
    int16_t outer = mdflib_call(MDF_GUARD_STICKY, [&] {
        inner_returned =
            mdflib_call(MDF_GUARD_STICKY, [] { mdflib_raise(MDF_NOTE_CHANNEL_NOT_FOUND); });
        outer_went_on = true;
    });
    EXPECT_EQ(outer, MDF_NOTE_CHANNEL_NOT_FOUND);
    EXPECT_FALSE(outer_went_on);
    EXPECT_EQ(inner_returned, 99);
    EXPECT_EQ(mdflib_state.guard_depth, 0);
    EXPECT_EQ(mdflib_state.status, MDF_NOTE_CHANNEL_NOT_FOUND);

    // Three levels deep, and a successful inner operation lets the outer one go on.
    int steps = 0;
    outer = mdflib_call(MDF_GUARD_STICKY, [&] {
        EXPECT_EQ(mdflib_call(MDF_GUARD_STICKY, [&] { ++steps; }), 0);
        mdflib_call(MDF_GUARD_STICKY, [&] {
            ++steps;
            mdflib_call(MDF_GUARD_STICKY, [] { mdflib_fail(MDF_ERR_FORMAT, "deep"); });
            ++steps;
        });
        ++steps;
    });
    EXPECT_EQ(outer, MDF_ERR_FORMAT);
    EXPECT_EQ(steps, 2);
    EXPECT_EQ(mdflib_state.guard_depth, 0);
}

TEST_F(Frame, LockedLibraryRefusesEverything) {
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(save(mdfbuild::simple_file()), &f), 0);
    mdflib_state.status = MDF_ERR_FATAL;
    uint16_t groups = 0;
    CaptureStdout();
    EXPECT_EQ(mdffil_groups(&groups, f), MDF_ERR_FATAL);
    EXPECT_EQ(mdflib_init(""), MDF_ERR_FATAL);
    EXPECT_EQ(GetCapturedStdout(), "[MDFLIB-ERROR] Further use of Library prohibited!\n\n"
                                   "[MDFLIB-ERROR] Further use of Library prohibited!\n\n");
    EXPECT_EQ(mdflib_state.level, 1); // init did nothing
    // Nested: only the outermost operation prints the line.
    CaptureStdout();
    mdflib_state.status = 0;
    int16_t status = mdflib_call(MDF_GUARD_STICKY, [&] {
        mdflib_state.status = MDF_ERR_FATAL;
        mdffil_groups(&groups, f);
    });
    EXPECT_EQ(status, MDF_ERR_FATAL);
    EXPECT_EQ(GetCapturedStdout(), "[MDFLIB-ERROR] Further use of Library prohibited!\n\n");
}

TEST_F(Frame, LevelsCloseWhatWasOpenedInThem) {
    EXPECT_EQ(mdflib_leave_level(), 0); // level 1: as exit
    EXPECT_EQ(mdflib_state.level, 0);
    EXPECT_EQ(mdflib_leave_level(), 0); // level 0: nothing
    EXPECT_EQ(mdflib_state.level, 0);
    ASSERT_EQ(mdflib_init(""), 0);

    std::string path = save(mdfbuild::simple_file());
    mdf_file_rec *outer = nullptr, *inner = nullptr;
    ASSERT_EQ(open(path, &outer), 0);
    int outer_blocks = count_blocks();
    EXPECT_EQ(mdflib_enter_level(), 0);
    EXPECT_EQ(mdflib_state.level, 2);
    ASSERT_EQ(open(path, &inner), 0);
    EXPECT_EQ(count_blocks(), 2 * outer_blocks);
    const uint8_t *inner_field = inner->hd + HD_COMMENT;
    const uint8_t *inner_hd = inner->hd;
    EXPECT_NE(mdflst_link_find_field(inner_field), nullptr);
    EXPECT_EQ(mdflib_leave_level(), 0);
    EXPECT_EQ(mdflib_state.level, 1);
    // The released nodes are gone from the lists and from their indexes.
    EXPECT_EQ(mdflst_link_find_field(inner_field), nullptr);
    EXPECT_EQ(mdflst_block_find_image(inner_hd), nullptr);
    EXPECT_NE(mdflst_link_find_field(outer->hd + HD_COMMENT), nullptr);
    EXPECT_EQ(mdflib_state.files, outer); // the inner file is closed
    EXPECT_EQ(outer->next, nullptr);
    EXPECT_EQ(count_blocks(), outer_blocks);
    for (mdf_link_node *l = mdflib_state.links; l != nullptr; l = l->next) EXPECT_EQ(l->level, 1);
    const char *comment = nullptr;
    EXPECT_EQ(mdffil_comment(outer, &comment), 0);
    EXPECT_STREQ(comment, "file comment");

    EXPECT_EQ(mdflib_exit(), 0);
    EXPECT_EQ(mdflib_state.files, nullptr);
    EXPECT_EQ(mdflib_state.blocks, nullptr);
    EXPECT_EQ(mdflib_state.links, nullptr);
}

TEST_F(Frame, ErrorNames) {
    EXPECT_STREQ(mdflib_error_name(0), "");
    EXPECT_STREQ(mdflib_error_name(-1007), "illegal nummer of channel bits");
    EXPECT_STREQ(mdflib_error_name(-1009), "simulanous groups creates are not allowed");
    EXPECT_STREQ(mdflib_error_name(-2012), "incompatible float format, no modify");
    EXPECT_STREQ(mdflib_error_name(1011), "illegal formula type, not a table");
    for (int16_t code : {-2003, -2005, -2006, 1007, 1009, 1010, 1, 7})
        EXPECT_EQ(mdflib_error_name(code), nullptr) << code;
}

TEST_F(Frame, ReportFormatsAndSticky) {
    CaptureStdout();
    EXPECT_EQ(mdflib_report_error(MDF_NOTE_GROUP_NOT_FOUND, "(n=0)"), 1001);
    EXPECT_EQ(mdflib_report_error(-2005, "bare"), -2005); // no text: the detail alone
    EXPECT_EQ(mdflib_report_error(MDF_ERR_MEMORY, ""), MDF_ERR_MEMORY);
    EXPECT_EQ(GetCapturedStdout(), "[MDFLIB-ERROR] group not found (n=0)\n\n"
                                   "[MDFLIB-ERROR] bare \n\n"
                                   "[MDFLIB-ERROR] out of memory \n\n");
    EXPECT_EQ(mdflib_last_error(), -2005); // the first negative one
    EXPECT_STREQ(mdflib_last_error_text(), "bare \n");

    // A long detail is cut to the message buffer and still ends in its line feed.
    ASSERT_EQ(mdflib_init(""), 0);
    std::string detail(300, 'x');
    CaptureStdout();
    mdflib_report_error(MDF_ERR_FORMAT, detail.c_str());
    std::string out = GetCapturedStdout();
    EXPECT_EQ(out.size(), std::string("[MDFLIB-ERROR] ").size() + 131 + 1);
    EXPECT_EQ(out.substr(out.size() - 2), "\n\n");
    EXPECT_LT(std::string(mdflib_last_error_text()).size(), 128u);
}

TEST_F(Frame, GuardedAllocation) {
    auto *p = static_cast<uint8_t *>(mdflib_alloc(10));
    ASSERT_NE(p, nullptr);
    uint32_t guard;
    std::memcpy(&guard, p - 4, 4);
    EXPECT_EQ(guard, 20490u);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(p[i], 0);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(double), 0u);
    mdflib_free(p);
    mdflib_free(nullptr);
}

// The internal-error line goes to standard output; the death tests look at it on stderr.
void stdout_to_stderr() {
    std::fflush(stdout);
#if defined(_WIN32)
    _dup2(2, 1);
#else
    dup2(2, 1);
#endif
}

TEST_F(Frame, BrokenGuardWordIsAnInternalError) {
    auto *p = static_cast<uint8_t *>(mdflib_alloc(4));
    p[-1] ^= 0xFF;
    EXPECT_EXIT(
        {
            stdout_to_stderr();
            mdflib_free(p);
        },
        testing::ExitedWithCode(1),
        stderr_regex("\\[MDFLIB-ERROR\\] fatal error Internal Error 1-Mdflib.cpp-[0-9]+\n"));
    p[-1] ^= 0xFF;
    mdflib_free(p);
}

TEST_F(Frame, ReleasingARecordStillInItsListIsAnInternalError) {
    auto *rec = mdflib_new<mdf_channel_rec>();
    rec->magic = MDF_CHANNEL_MAGIC;
    mdflst_channel_insert(rec);
    EXPECT_EXIT(
        {
            stdout_to_stderr();
            mdflst_channel_release(rec);
        },
        testing::ExitedWithCode(1), "Internal Error 1-Cnode.cpp-");
    EXPECT_EQ(mdflst_channel_remove(rec), 0);
    EXPECT_EQ(mdflst_channel_remove(rec), MDF_ERR_NODE_NOT_FOUND);
    mdflst_channel_release(rec);
    EXPECT_EXIT(mdflst_group_insert(nullptr), testing::ExitedWithCode(1), "");
}

TEST_F(Frame, ListsKeepTheirOrder) {
    mdf_group_rec *g[3];
    for (auto &x : g) {
        x = mdflib_new<mdf_group_rec>();
        x->magic = MDF_GROUP_MAGIC;
        mdflst_group_insert(x);
    }
    // Groups go to the end.
    EXPECT_EQ(mdflib_state.groups, g[0]);
    EXPECT_EQ(g[0]->next, g[1]);
    EXPECT_EQ(g[1]->next, g[2]);
    EXPECT_EQ(mdflst_group_remove(g[1]), 0);
    EXPECT_EQ(g[0]->next, g[2]);
    // The last one removed and put back: it goes behind the one now last.
    EXPECT_EQ(mdflst_group_remove(g[2]), 0);
    EXPECT_EQ(g[0]->next, nullptr);
    mdflst_group_insert(g[1]);
    mdflst_group_insert(g[2]);
    EXPECT_EQ(g[0]->next, g[1]);
    EXPECT_EQ(g[1]->next, g[2]);
    // Every one of them, the first, the middle and the last, is in the list.
    for (auto *x : g)
        EXPECT_EXIT(
            {
                stdout_to_stderr();
                mdflst_group_release(x);
            },
            testing::ExitedWithCode(1), "Internal Error 1-Gnode.cpp-");
    for (auto *x : {g[2], g[0], g[1]}) EXPECT_EQ(mdflst_group_remove(x), 0);
    for (auto *x : g) mdflst_group_release(x);
    EXPECT_EQ(mdflib_state.groups, nullptr);
    EXPECT_EQ(mdflib_state.groups_tail, nullptr);

    // Block nodes go to the front; the search by image finds a node wherever it stands.
    uint8_t *a = mdfblk_new(MDFBLK_TX);
    uint8_t *b = mdfblk_new(MDFBLK_TX);
    EXPECT_EQ(mdflib_state.blocks->image, b);
    EXPECT_EQ(mdfblk_find_node(a), mdflib_state.blocks->next);
    EXPECT_EQ(mdfblk_find_node(b), mdflib_state.blocks);
    // A removed node is no longer found; put back, it is found again.
    mdf_block_node *node_a = mdfblk_find_node(a);
    EXPECT_EQ(mdflst_block_remove(node_a), 0);
    EXPECT_EQ(mdflst_block_find_image(a), nullptr);
    EXPECT_EQ(mdflst_block_remove(node_a), MDF_ERR_NODE_NOT_FOUND);
    mdflst_block_insert(node_a);
    EXPECT_EQ(mdflst_block_find_image(a), node_a);
    // The search by read position moves the found node to the front.
    mdfblk_find_node(a)->read_pos = 1234;
    EXPECT_EQ(mdflst_block_find_position(1234), node_a);
    EXPECT_EQ(mdflib_state.blocks, node_a);
    EXPECT_EQ(mdflst_block_find_position(4321), nullptr);
}

} // namespace
