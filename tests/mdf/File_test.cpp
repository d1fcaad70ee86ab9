// MDF files: open modes, create, close with write-back, group count, sorted check, info.
#include "Mdftest_helper.h"

#include <filesystem>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

using File = MdfTest;

std::string text_of(const uint8_t *p, std::size_t n) {
    return std::string(reinterpret_cast<const char *>(p), n);
}

TEST_F(File, OpenModesAndHandles) {
    std::string path = save(mdfbuild::simple_file());
    mdf_file_rec *f = nullptr;
    CaptureStdout();
    EXPECT_EQ(open(path, &f, 3), MDF_ERR_OPEN_MODE);
    EXPECT_EQ(GetCapturedStdout(), "[MDFLIB-ERROR] illegal group open mode \n\n");
    EXPECT_EQ(f, nullptr);
    ASSERT_EQ(mdflib_init(""), 0);
    EXPECT_EQ(mdffil_close(nullptr), 0);
    ASSERT_EQ(open(path, &f), 0);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(*reinterpret_cast<uint32_t *>(f), MDF_FILE_MAGIC);
    EXPECT_STREQ(f->name, path.c_str());
    EXPECT_EQ(mdflib_state.files, f);
    EXPECT_EQ(mdffil_close(f), 0);
    EXPECT_EQ(mdflib_state.files, nullptr);
    uint32_t wrong[16] = {12345};
    EXPECT_EQ(mdffil_close(reinterpret_cast<mdf_file_rec *>(wrong)), MDF_ERR_BAD_FILE);
}

TEST_F(File, LongNameIsCutInTheRecord) {
    std::string dir = std::filesystem::path(mdfbuild::temp_path("x")).parent_path().string();
    std::string path = dir + "/" + std::string(150 - dir.size(), 'n') + ".dat";
    mdfbuild::simple_file().save(path);
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(path, &f), 0);
    EXPECT_EQ(std::string(f->name), path.substr(0, 128));
    EXPECT_EQ(mdffil_close(f), 0); // an open file cannot be removed on Windows
    std::filesystem::remove(path);
}

TEST_F(File, CreateWritesIdAndHd) {
    ASSERT_EQ(mdflib_init("TRAXCON"), 0);
    std::string path = mdfbuild::temp_path("new.dat");
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(path, &f, MDFFIL_CREATE), 0);
    EXPECT_EQ(mdfio_size(f->io), 64u + 164u);
    EXPECT_EQ(mdfio_tell(f->io), 64u + 164u);
    uint16_t groups = 9;
    EXPECT_EQ(mdffil_groups(&groups, f), 0);
    EXPECT_EQ(groups, 0);
    EXPECT_EQ(mdffil_close(f), 0);
    // No comment: the close rewrites the HD and appends nothing.
    std::vector<uint8_t> bytes = mdfbuild::read_file(path);
    ASSERT_EQ(bytes.size(), 64u + 164u);
    EXPECT_EQ(text_of(bytes.data(), 24), std::string("MDF     2.00    TRAXCON\0", 24));
    EXPECT_EQ(bytes[26], 0);
    EXPECT_EQ(bytes[28], 200);
    for (int i = 30; i < 64; ++i) EXPECT_EQ(bytes[i], 0) << i;
    EXPECT_EQ(text_of(bytes.data() + 64, 4), std::string("HD\xA4\0", 4));
    std::string date = text_of(bytes.data() + 64 + 18, 10);
    EXPECT_TRUE(date[2] == ':' && date[5] == ':') << date;
    EXPECT_EQ(text_of(bytes.data() + 64 + 36, 12), std::string("ZUV-Udaravo\0", 12));
    for (int i = 64 + 4; i < 64 + 18; ++i) EXPECT_EQ(bytes[i], 0) << i; // no links, 0 DGs
}

TEST_F(File, RoundTripOfTheFileInformation) {
    std::string path = mdfbuild::temp_path("info.dat");
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(path, &f, MDFFIL_CREATE), 0);
    ASSERT_EQ(mdffil_set_info(f, "24:12:1999", "23:59:58", "a comment", "the author",
                              "the division", "the project", "the subject"),
              0);
    ASSERT_EQ(mdffil_close(f), 0);
    std::vector<uint8_t> bytes = mdfbuild::read_file(path);
    ASSERT_EQ(bytes.size(), 228u + 4 + 10);
    EXPECT_EQ(text_of(bytes.data() + 228, 14), std::string("TX\x0E\0a comment\0", 14));
    EXPECT_EQ(bytes[64 + HD_COMMENT], 228);

    ASSERT_EQ(open(path, &f), 0);
    const char *t[7] = {};
    ASSERT_EQ(mdffil_info(f, &t[0], &t[1], &t[2], &t[3], &t[4], &t[5], &t[6]), 0);
    const char *expected[7] = {"24:12:1999",   "23:59:58",    "a comment",  "the author",
                               "the division", "the project", "the subject"};
    for (int i = 0; i < 7; ++i) EXPECT_STREQ(t[i], expected[i]) << i;
    const char *one = nullptr;
    EXPECT_EQ(mdffil_subject(f, &one), 0);
    EXPECT_STREQ(one, "the subject");
    EXPECT_EQ(mdffil_date(f, &one), 0);
    EXPECT_STREQ(one, "24:12:1999");
}

TEST_F(File, UpdateRewritesAndAppendsTheCommentAgain) {
    mdfbuild::Builder b = mdfbuild::simple_file();
    std::string path = save(b);
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(path, &f, MDFFIL_UPDATE), 0);
    ASSERT_EQ(mdffil_set_author(f, "new author"), 0);
    ASSERT_EQ(mdffil_close(f), 0);
    std::vector<uint8_t> bytes = mdfbuild::read_file(path);
    const uint32_t tx_size = 4 + 13;
    ASSERT_EQ(bytes.size(), b.size() + tx_size);
    EXPECT_EQ(text_of(bytes.data() + 64 + 36, 11), std::string("new author\0", 11));
    EXPECT_EQ(mdf_u32(bytes.data(), 64 + HD_COMMENT), b.size());
    EXPECT_EQ(text_of(bytes.data() + b.size() + 4, 12), "file comment");
    // The rest of the file is unchanged.
    EXPECT_TRUE(std::equal(b.bytes.begin() + 228, b.bytes.end(), bytes.begin() + 228));

    ASSERT_EQ(open(path, &f, MDFFIL_UPDATE), 0);
    ASSERT_EQ(mdffil_set_comment(f, ""), 0); // no comment any more
    ASSERT_EQ(mdffil_close(f), 0);
    bytes = mdfbuild::read_file(path);
    EXPECT_EQ(bytes.size(), b.size() + tx_size);
    EXPECT_EQ(mdf_u32(bytes.data(), 64 + HD_COMMENT), 0u);
    ASSERT_EQ(open(path, &f), 0);
    const char *comment = nullptr;
    EXPECT_EQ(mdffil_comment(f, &comment), 0);
    EXPECT_STREQ(comment, ""); // the empty text, not null
}

TEST_F(File, ReadModeNeverWrites) {
    mdfbuild::Builder b = mdfbuild::simple_file();
    std::string path = save(b);
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(path, &f), 0);
    ASSERT_EQ(mdffil_set_info(f, "01:01:2000", "00:00:00", "changed", "x", "y", "z", "w"), 0);
    ASSERT_EQ(mdffil_close(f), 0);
    EXPECT_EQ(mdfbuild::read_file(path), b.bytes);
}

TEST_F(File, StickyErrorSkipsTheWriteBackButStillCloses) {
    mdfbuild::Builder b = mdfbuild::simple_file();
    std::string path = save(b);
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(path, &f, MDFFIL_UPDATE), 0);
    ASSERT_EQ(mdffil_set_author(f, "lost"), 0);
    EXPECT_EQ(mdffil_groups(nullptr, nullptr), MDF_ERR_BAD_FILE);
    EXPECT_EQ(mdffil_close(f), 0);
    EXPECT_EQ(mdflib_state.files, nullptr);
    EXPECT_EQ(mdfbuild::read_file(path), b.bytes);
}

TEST_F(File, FailingWriteBackStillClosesTheFile) {
    std::string path = save(mdfbuild::simple_file());
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(path, &f, MDFFIL_UPDATE), 0);
    int16_t io = f->io;
    // Lose the HD's comment link node: the write-back fails with "unknown link".
    mdf_link_node *link = mdflst_link_find_field(f->hd + HD_COMMENT);
    mdflst_link_release(link);
    CaptureStdout();
    EXPECT_EQ(mdffil_close(f), MDF_ERR_UNKNOWN_LINK);
    GetCapturedStdout();
    EXPECT_EQ(mdflib_state.files, nullptr);
    EXPECT_EXIT(mdfio_find(io), testing::ExitedWithCode(1), ""); // the stream is closed
}

TEST_F(File, GroupCountAndSortedCheck) {
    std::string path = save(mdfbuild::simple_file());
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(path, &f), 0);
    uint16_t groups = 0;
    EXPECT_EQ(mdffil_groups(&groups, f), 0);
    EXPECT_EQ(groups, 1);
    EXPECT_EQ(mdffil_check_sorted(f), 0);

    // Two DGs: one with two CGs (but its count field says 0), one with one CG.
    mdfbuild::Builder b;
    b.id();
    uint32_t hd = b.hd();
    uint32_t dg1 = b.dg(0, 1), dg2 = b.dg(1);
    uint32_t cg1 = b.cg(1, 0, 2, 0), cg2 = b.cg(2, 0, 2, 0), cg3 = b.cg(1, 0, 2, 0);
    b.chain(hd, HD_FIRST_DG, {dg1, dg2}, DG_NEXT_DG);
    b.chain(dg1, DG_FIRST_CG, {cg1, cg2}, CG_NEXT_CG);
    b.link(dg2, DG_FIRST_CG, cg3);
    ASSERT_EQ(open(save(b), &f), 0);
    EXPECT_EQ(mdffil_groups(&groups, f), 0);
    EXPECT_EQ(groups, 3);
    CaptureStdout();
    EXPECT_EQ(mdffil_check_sorted(f), MDF_NOT_SORTED);
    EXPECT_EQ(GetCapturedStdout(), ""); // quiet
    EXPECT_EQ(mdflib_last_error(), 0);
    // Nested, the 1010 travels outward like any status.
    EXPECT_EQ(mdflib_call(MDF_GUARD_STICKY,
                          [&] {
                              mdffil_check_sorted(f);
                              ADD_FAILURE() << "went on after 1010";
                          }),
              MDF_NOT_SORTED);
}

TEST_F(File, VaxFileOpensForReadingOnly) {
    mdfbuild::Builder b = mdfbuild::simple_file();
    b.set_u16(0, ID_FLOAT_FORMAT, 1);
    uint32_t cn = b.u32(b.u32(b.u32(64, HD_FIRST_DG), DG_FIRST_CG), CG_FIRST_CN);
    b.set_u64(cn, CN_MAX, mdfbuild::vax_g(100.0));
    std::string path = save(b);
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(path, &f), 0);
    uint8_t *image =
        mdfblk_link(mdfblk_link(mdfblk_link(f->hd, HD_FIRST_DG), DG_FIRST_CG), CG_FIRST_CN);
    EXPECT_EQ(mdf_real(image, CN_MAX), 100.0);
    ASSERT_EQ(mdffil_close(f), 0);
    CaptureStdout();
    EXPECT_EQ(open(path, &f, MDFFIL_UPDATE), MDF_ERR_FLOAT_FORMAT);
    EXPECT_EQ(GetCapturedStdout(), "[MDFLIB-ERROR] incompatible float format, no modify \n\n");
    EXPECT_EQ(f, nullptr);
    EXPECT_EQ(mdflib_state.files, nullptr); // no record left behind
    EXPECT_EQ(mdfbuild::read_file(path), b.bytes);
}

TEST_F(File, InfoBuffersAreSharedBetweenFiles) {
    mdfbuild::Builder a = mdfbuild::simple_file();
    mdfbuild::Builder b = mdfbuild::simple_file();
    b.set_text(64, HD_DATE, "31:12:2030", 10);
    mdf_file_rec *fa = nullptr, *fb = nullptr;
    ASSERT_EQ(open(save(a), &fa), 0);
    ASSERT_EQ(open(save(b), &fb), 0);
    const char *da = nullptr, *db = nullptr;
    ASSERT_EQ(mdffil_date(fa, &da), 0);
    EXPECT_STREQ(da, "05:03:2026");
    ASSERT_EQ(mdffil_date(fb, &db), 0);
    EXPECT_EQ(da, db);
    EXPECT_STREQ(da, "31:12:2030");
}

TEST_F(File, FullWidthTextsEndInsideTheirField) {
    mdfbuild::Builder b = mdfbuild::simple_file();
    const std::string full(32, 'A');
    b.set_text(64, HD_AUTHOR, full, 32);
    b.set_text(64, HD_DIVISION, "DIV", 32);
    b.set_text(64, HD_SUBJECT, std::string(32, 'S'), 32);
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(save(b), &f), 0);
    const char *author, *division, *subject;
    ASSERT_EQ(mdffil_info(f, nullptr, nullptr, nullptr, &author, &division, nullptr, &subject), 0);
    EXPECT_EQ(std::string(author), full);
    EXPECT_STREQ(division, "DIV");
    EXPECT_EQ(std::string(subject), std::string(32, 'S'));

    // Setting a text longer than the field keeps its zero byte inside the field.
    ASSERT_EQ(mdffil_set_author(f, std::string(40, 'x').c_str()), 0);
    ASSERT_EQ(mdffil_author(f, &author), 0);
    EXPECT_EQ(std::string(author), std::string(31, 'x'));
    ASSERT_EQ(mdffil_division(f, &division), 0);
    EXPECT_STREQ(division, "DIV");
    // Date and time: at most 10 and 8 characters, no zero added at the limit.
    ASSERT_EQ(mdffil_set_date(f, "01:02:2003 and more"), 0);
    ASSERT_EQ(mdffil_set_time(f, "1"), 0);
    EXPECT_EQ(text_of(f->hd + HD_DATE, 10), "01:02:2003");
    EXPECT_EQ(text_of(f->hd + HD_TIME, 2), std::string("1\0", 2));
}

TEST_F(File, DamagedFileLeavesNothingOpen) {
    mdfbuild::Builder b = mdfbuild::simple_file();
    uint32_t dg = b.u32(64, HD_FIRST_DG);
    b.link(dg, DG_NEXT_DG, dg);
    mdf_file_rec *f = nullptr;
    CaptureStdout();
    EXPECT_EQ(open(save(b), &f), MDF_ERR_FORMAT);
    GetCapturedStdout();
    EXPECT_EQ(f, nullptr);
    EXPECT_EQ(mdflib_state.files, nullptr);
    // The I/O handle was closed again: the next open gets the same, smallest handle.
    ASSERT_EQ(mdflib_init(""), 0);
    ASSERT_EQ(open(save(mdfbuild::simple_file()), &f), 0);
    EXPECT_EQ(f->io, 0);
    // A truncated file.
    ASSERT_EQ(mdflib_init(""), 0);
    mdfbuild::Builder c = mdfbuild::simple_file();
    c.bytes.resize(100);
    CaptureStdout();
    EXPECT_NE(open(save(c), &f), 0);
    GetCapturedStdout();
    EXPECT_EQ(mdflib_state.files, nullptr);
}

} // namespace
