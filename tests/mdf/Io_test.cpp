// Buffered file I/O: handles, modes, tracked position and size, failures, seek elision.
#include "Mdftest_helper.h"

#include <filesystem>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

using Io = MdfTest;

std::string file_with(const std::string &content) {
    std::string path = mdfbuild::temp_path("io.bin");
    mdfbuild::write_file(path, std::vector<uint8_t>(content.begin(), content.end()));
    return path;
}

TEST_F(Io, OpenMissingFileGivesNoticeAndNoHandle) {
    std::string missing = mdfbuild::temp_path("nothere.bin");
    int16_t h = 5;
    CaptureStdout();
    EXPECT_EQ(status_of([&] { mdfio_open_default(&h, missing.c_str(), MDFIO_READ); }),
              MDF_NOTE_OPEN_FAILED);
    EXPECT_EQ(GetCapturedStdout(), "[MDFLIB-ERROR] could not open file " + missing + "\n\n");
    EXPECT_EQ(h, -1);
    EXPECT_EQ(mdflib_last_error(), 0);
    // Update mode does not create a file either.
    EXPECT_EQ(status_of([&] { mdfio_open_default(&h, missing.c_str(), MDFIO_UPDATE); }),
              MDF_NOTE_OPEN_FAILED);
}

TEST_F(Io, OpenReadsSizeAndCreateEmptiesFile) {
    std::string path = file_with("0123456789");
    int16_t h = -1, h2 = -1;
    mdfio_open_default(&h, path.c_str(), MDFIO_READ);
    mdfio_open_default(&h2, path.c_str(), MDFIO_READ);
    EXPECT_GE(h, 0);
    EXPECT_NE(h, h2);
    EXPECT_EQ(mdfio_size(h), 10u);
    EXPECT_EQ(mdfio_tell(h), 0u);
    char buf[4] = {};
    mdfio_read(buf, 3, h);
    EXPECT_EQ(std::string(buf, 3), "012");
    EXPECT_EQ(mdfio_tell(h), 3u);
    mdfio_close(h);
    mdfio_close(h2);

    mdfio_open_default(&h, path.c_str(), MDFIO_CREATE);
    EXPECT_EQ(mdfio_size(h), 0u);
    mdfio_write("ab", 2, h);
    EXPECT_EQ(mdfio_size(h), 2u);
    mdfio_close(h);
    EXPECT_EQ(std::filesystem::file_size(path), 2u);
}

TEST_F(Io, LengthZeroAndShortTransfersFail) {
    std::string path = file_with("0123456789");
    int16_t h = -1;
    mdfio_open_default(&h, path.c_str(), MDFIO_UPDATE);
    mdfio_seek(h, 4, MDFIO_SEEK_SET);
    char buf[16];
    CaptureStdout();
    EXPECT_EQ(status_of([&] { mdfio_read(buf, 0, h); }), MDF_ERR_READ);
    EXPECT_EQ(GetCapturedStdout(), "[MDFLIB-ERROR] could not read file (0 bytes at 4)\n\n");
    EXPECT_EQ(mdfio_tell(h), 0u); // position back at 0 after a failure
    ASSERT_EQ(mdflib_init(""), 0);
    mdfio_open_default(&h, path.c_str(), MDFIO_UPDATE);
    EXPECT_EQ(status_of([&] { mdfio_write(buf, 0, h); }), MDF_ERR_WRITE);
    ASSERT_EQ(mdflib_init(""), 0);
    mdfio_open_default(&h, path.c_str(), MDFIO_READ);
    mdfio_seek(h, 8, MDFIO_SEEK_SET);
    EXPECT_EQ(status_of([&] { mdfio_read(buf, 4, h); }), MDF_ERR_READ);
    EXPECT_EQ(mdfio_tell(h), 0u);
    // The stream really stands at 0 again.
    ASSERT_EQ(mdflib_init(""), 0);
    mdfio_open_default(&h, path.c_str(), MDFIO_READ);
    mdfio_seek(h, 8, MDFIO_SEEK_SET);
    status_of([&] { mdfio_read(buf, 4, h); });
    mdfio_read(buf, 2, h);
    EXPECT_EQ(std::string(buf, 2), "01");
}

TEST_F(Io, SeekModes) {
    std::string path = file_with("0123456789");
    int16_t h = -1;
    mdfio_open_default(&h, path.c_str(), MDFIO_UPDATE);
    mdfio_seek(h, 4, MDFIO_SEEK_SET);
    mdfio_seek(h, -2, MDFIO_SEEK_CUR);
    EXPECT_EQ(mdfio_tell(h), 2u);
    mdfio_seek(h, 12345, MDFIO_SEEK_END); // the offset is ignored
    EXPECT_EQ(mdfio_tell(h), 10u);
    mdfio_seek(h, 20, MDFIO_SEEK_SET); // beyond the end raises the size
    EXPECT_EQ(mdfio_size(h), 20u);
    mdfio_seek(h, 0, MDFIO_SEEK_END);
    EXPECT_EQ(mdfio_tell(h), 20u);
    CaptureStdout();
    EXPECT_EQ(status_of([&] { mdfio_seek(h, -30, MDFIO_SEEK_CUR); }), MDF_ERR_SEEK);
    EXPECT_EQ(GetCapturedStdout(), "[MDFLIB-ERROR] could not locate pos in file -30\n\n");
    EXPECT_EQ(mdfio_tell(h), 0u);
}

TEST_F(Io, SeekToCurrentPositionMakesNoStreamCall) {
    std::string path = file_with("0123456789");
    int16_t h = -1;
    mdfio_open_default(&h, path.c_str(), MDFIO_READ);
    uint32_t before = mdfio_stream_seeks();
    mdfio_seek(h, 6, MDFIO_SEEK_SET);
    mdfio_seek(h, 6, MDFIO_SEEK_SET);
    mdfio_seek(h, 0, MDFIO_SEEK_CUR);
    EXPECT_EQ(mdfio_stream_seeks() - before, 1u);
    char c;
    mdfio_read(&c, 1, h);
    mdfio_seek(h, 7, MDFIO_SEEK_SET); // where the read left it
    EXPECT_EQ(mdfio_stream_seeks() - before, 1u);
}

TEST_F(Io, DirectionChangeIsPrecededByARealSeek) {
    std::string path = file_with("ABCDEFGH");
    int16_t h = -1;
    mdfio_open_default(&h, path.c_str(), MDFIO_UPDATE);
    mdfio_write("abcd", 4, h);
    uint32_t before = mdfio_stream_seeks();
    mdfio_seek(h, 4, MDFIO_SEEK_SET); // elided: the position is 4 already
    char buf[4];
    mdfio_read(buf, 4, h);
    EXPECT_EQ(mdfio_stream_seeks() - before, 1u);
    EXPECT_EQ(std::string(buf, 4), "EFGH");
    mdfio_seek(h, 2, MDFIO_SEEK_SET);
    mdfio_read(buf, 2, h);
    before = mdfio_stream_seeks();
    mdfio_write("xy", 2, h);
    EXPECT_EQ(mdfio_stream_seeks() - before, 1u);
    mdfio_close(h);
    auto bytes = mdfbuild::read_file(path);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "abcdxyGH");
}

TEST_F(Io, FilesBeyondFourGigabytes) {
    std::string path = mdfbuild::temp_path("big.bin");
    const uint64_t big = (uint64_t{5} << 30) + 7; // sparse on the usual file systems
    {
        mdfbuild::write_file(path, {});
        std::error_code ec;
        std::filesystem::resize_file(path, big, ec);
        if (ec) GTEST_SKIP() << "no room for a sparse 5 GB file: " << ec.message();
    }
    int16_t h = -1;
    mdfio_open_default(&h, path.c_str(), MDFIO_UPDATE);
    EXPECT_EQ(mdfio_size(h), big);
    mdfio_seek(h, 0, MDFIO_SEEK_END);
    EXPECT_EQ(mdfio_tell(h), big);
    mdfio_seek(h, int64_t{3} << 30, MDFIO_SEEK_SET);
    mdfio_write("Z", 1, h);
    mdfio_seek(h, (int64_t{3} << 30), MDFIO_SEEK_SET);
    char c = 0;
    mdfio_read(&c, 1, h);
    EXPECT_EQ(c, 'Z');
    EXPECT_EQ(mdfio_tell(h), (uint64_t{3} << 30) + 1);
    mdfio_close(h);
    std::filesystem::remove(path);
}

} // namespace
