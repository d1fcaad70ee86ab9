// End-to-end: measurements whose records lie past 2 and 4 GiB in sparse files (the data links
// of the DGs, 32-bit LINKs, point below 4 GiB) convert to the same table, and sort into the same
// .tmp file, as the same measurement with its records right behind the blocks; the sort of a
// file whose sorted copy would need blocks past 4 GiB is refused with a fatal message.
#include "Fakegroup_helper.h"
#include "Golden_helper.h"
#include "Mdfbytes_helper.h"
#include "Run_helper.h"
#include "mdfint.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

namespace fs = std::filesystem;

constexpr uint64_t GIB = uint64_t{1} << 30;

// Little-endian fields of n bytes.
uint32_t field(const std::string &b, uint64_t at, int n) {
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(b[at + i]);
    return v;
}
uint32_t u32(const std::string &b, uint64_t at) {
    return field(b, at, 4);
}
uint16_t u16(const std::string &b, uint64_t at) {
    return static_cast<uint16_t>(field(b, at, 2));
}
void set_field(std::string &b, uint64_t at, int n, uint32_t v) {
    for (int i = 0; i < n; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}

// The compact file with the data area of its DG number k (from 0) moved to areas[k], holes
// between, written as path; `size` at least (a larger file leaves room behind the records).
void write_moved(const std::string &compact, const std::vector<uint64_t> &areas,
                 const fs::path &path, uint64_t size = 0) {
    std::string head = compact;
    std::vector<std::pair<uint64_t, std::string>> pieces;
    uint64_t dg = u32(compact, 64 + HD_FIRST_DG);
    for (uint64_t area : areas) {
        ASSERT_NE(dg, 0u) << "fewer data groups than areas";
        uint64_t bytes = 0;
        for (uint64_t cg = u32(compact, dg + DG_FIRST_CG); cg != 0;
             cg = u32(compact, cg + CG_NEXT_CG))
            bytes += uint64_t{u32(compact, cg + CG_RECORDS)} *
                     (u16(compact, cg + CG_RECORD_SIZE) + u16(compact, dg + DG_ID_BYTES));
        pieces.emplace_back(area, compact.substr(u32(compact, dg + DG_DATA), bytes));
        set_field(head, dg + DG_DATA, 4, static_cast<uint32_t>(area));
        size = std::max(size, area + bytes);
        dg = u32(compact, dg + DG_NEXT_DG);
    }
    { std::ofstream(path, std::ios::binary) << head; }
    fs::resize_file(path, size);
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    for (const auto &[at, bytes] : pieces) {
        file.seekp(static_cast<std::streamoff>(at));
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    ASSERT_TRUE(file.good()) << path;
}

struct conversion {
    run_result run;
    std::string adf; // with LF line ends
    bool tmp_exists = false;
    std::string tmp; // the sorted copy, byte for byte
};

// Runs the converter (or the reference binary) on meas.dat in dir.
conversion convert(const fs::path &dir, bool reference = false) {
    const std::vector<std::string> args{"meas", "=e"};
    conversion c;
    c.run = reference ? run_reference(args, dir.string()) : run_traxcon(args, dir.string());
    EXPECT_TRUE(c.run.exited);
    if (fs::exists(dir / "meas.adf")) {
        c.adf = read_file_bytes((dir / "meas.adf").string());
        if (!reference) c.adf = traxcon_text(c.adf);
    }
    c.tmp_exists = fs::exists(dir / "meas.tmp");
    if (c.tmp_exists) c.tmp = read_file_bytes((dir / "meas.tmp").string());
    return c;
}

void expect_same(const conversion &a, const conversion &b) {
    EXPECT_EQ(a.run.status, b.run.status);
    EXPECT_EQ(a.run.out, b.run.out);
    EXPECT_EQ(a.run.err, b.run.err);
    EXPECT_EQ(a.adf, b.adf);
    EXPECT_EQ(a.tmp_exists, b.tmp_exists);
    EXPECT_TRUE(a.tmp == b.tmp) << "the sorted copies differ";
}

// The measurement as a compact file (records behind the blocks) and moved to areas: both
// conversions alike, and, with a reference binary, the moved one as the reference converts it.
conversion convert_moved(const mdfb_file &file, const std::vector<uint64_t> &areas,
                         uint64_t size = 0) {
    const fs::path compact = make_temp_dir("compact"), moved = make_temp_dir("moved");
    EXPECT_TRUE(mdfb_write(file, (compact / "meas.dat").string()));
    write_moved(read_file_bytes((compact / "meas.dat").string()), areas, moved / "meas.dat", size);
    conversion small = convert(compact), large = convert(moved);
    expect_same(large, small);
    if (reference_available()) {
        const fs::path ref = make_temp_dir("reference");
        write_moved(read_file_bytes((compact / "meas.dat").string()), areas, ref / "meas.dat",
                    size);
        expect_same(large, convert(ref, true));
        fs::remove_all(ref);
    }
    fs::remove_all(compact);
    fs::remove_all(moved);
    return large;
}

mdfb_file two_groups(bool unsorted) {
    mdfb_file f;
    f.groups = {mdfb_simple_group({0, 1, 2, 3}, {10, 11, 12, 13}, "A"),
                mdfb_simple_group({0.5, 1.5, 2.5, 3.5}, {20, 21, 22, 23}, "B")};
    f.unsorted = unsorted;
    return f;
}

TEST(Large, RecordsPastTwoAndFourGiBConvert) {
    // 8-byte records: group A's second record begins at 2 GiB, group B's runs across 4 GiB.
    conversion c = convert_moved(two_groups(false), {2 * GIB - 8, 4 * GIB - 12});
    EXPECT_EQ(c.run.status, 0) << c.run.err;
    // Lines from 0.5 to 3 in steps of 0.5; the last holds A's record 3 and B's between its
    // records 2 and 3, both beyond 4 GiB.
    EXPECT_NE(c.run.err.find("\n    6 value lines written\n"), std::string::npos) << c.run.err;
    EXPECT_NE(c.adf.find("\n 3 13 22.5\n"), std::string::npos) << c.adf;
}

TEST(Large, UnsortedAreaAcrossFourGiBSortsIntoTheSameCopy) {
    // 9-byte records with their identifier byte: the second runs across 4 GiB.
    conversion c = convert_moved(two_groups(true), {4 * GIB - 10});
    EXPECT_EQ(c.run.status, 0) << c.run.err;
    EXPECT_NE(c.run.err.find("MDFFIL_UNSORTED"), std::string::npos) << c.run.err;
    EXPECT_TRUE(c.tmp_exists);
    EXPECT_LT(c.tmp.size(), 4096u);
}

TEST(Large, SortNeedingBlocksPastFourGiBIsRefused) {
    // Group A declares 70000 records of 65000 bytes: the sorted copy would put its blocks behind
    // 4.5 GB of records. The input holds that data area (as a hole).
    const fs::path dir = make_temp_dir("refused");
    ASSERT_TRUE(mdfb_write(two_groups(true), (dir / "meas.dat").string()));
    std::string bytes = read_file_bytes((dir / "meas.dat").string());
    const uint64_t dg = u32(bytes, 64 + HD_FIRST_DG), cg = u32(bytes, dg + DG_FIRST_CG);
    set_field(bytes, cg + CG_RECORD_SIZE, 2, 65000);
    set_field(bytes, cg + CG_RECORDS, 4, 70000);
    { std::ofstream(dir / "meas.dat", std::ios::binary) << bytes; }
    fs::resize_file(dir / "meas.dat", u32(bytes, dg + DG_DATA) + uint64_t{70000} * 65001 + 64);

    conversion c = convert(dir);
    EXPECT_EQ(c.run.status, 1);
    EXPECT_NE(c.run.out.find("[MDFLIB-ERROR] file format"), std::string::npos) << c.run.out;
    EXPECT_NE(c.run.err.find("FATAL ERROR MDFFIL_OPEN_ERR]  \n    MDF file \"meas.tmp\" not "
                             "opened: MDFLIB says: file format (at 0: the sorted"),
              std::string::npos)
        << c.run.err;
    EXPECT_FALSE(c.tmp_exists);
    fs::remove_all(dir);
}

} // namespace
