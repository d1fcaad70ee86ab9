// Records beyond 2 and 4 GiB: data areas that begin below 4 GiB (the DG's data link is a 32-bit
// LINK) and whose records run past 2 and 4 GiB, in sparse files that take no more disk space
// than their blocks and the few records written.
#include "Mdftest_helper.h"

#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

using Large = MdfTest;
using mdfbuild::Builder;

constexpr uint64_t GIB = uint64_t{1} << 30;
// Group 1's area begins 8 bytes below 2 GiB (its record 1 at 2 GiB), group 2's 12 bytes below
// 4 GiB (its record 1 runs across 4 GiB); 4 records of 8 bytes each.
constexpr uint64_t AREA1 = 2 * GIB - 8;
constexpr uint64_t AREA2 = 4 * GIB - 12;
constexpr uint32_t RECORDS = 4;

struct piece {
    uint64_t position;
    std::vector<uint8_t> bytes;
};

// A file of `size` bytes: the blocks at its start, each piece at its position, holes between.
void write_sparse(const std::string &path, const Builder &blocks, uint64_t size,
                  const std::vector<piece> &pieces) {
    blocks.save(path);
    std::filesystem::resize_file(path, size);
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    for (const piece &p : pieces) {
        file.seekp(static_cast<std::streamoff>(p.position));
        file.write(reinterpret_cast<const char *>(p.bytes.data()),
                   static_cast<std::streamsize>(p.bytes.size()));
    }
    ASSERT_TRUE(file.good()) << path;
}

// A record of a float time and a float value.
std::vector<uint8_t> record(float time, float value) {
    std::vector<uint8_t> bytes(8);
    std::memcpy(bytes.data(), &time, 4);
    std::memcpy(bytes.data() + 4, &value, 4);
    return bytes;
}
float time_of(uint16_t group, uint32_t k) {
    return static_cast<float>(k) + (group == 2 ? 0.5f : 0.0f);
}
float value_of(uint16_t group, uint32_t k) {
    return static_cast<float>(100 * group + k) + 0.25f;
}

// A group of the channels TIME and V<n> (float each) in 8-byte records.
uint32_t float_group(Builder &b, uint16_t record_id, uint32_t records, const char *value_name) {
    uint32_t cg = b.cg(record_id, 2, 8, records);
    uint32_t t = b.cn({.type = 1, .name = "TIME", .first_bit = 0, .bits = 32, .data_type = 2});
    uint32_t v = b.cn({.name = value_name, .first_bit = 32, .bits = 32, .data_type = 2});
    b.chain(cg, 8, {t, v}, 4);
    return cg;
}

// Two sorted data groups whose areas lie at AREA1 and AREA2.
std::string sorted_file() {
    Builder b;
    b.id();
    uint32_t hd = b.hd({.dg_count = 2});
    uint32_t dg1 = b.dg(1), dg2 = b.dg(1);
    b.chain(hd, 4, {dg1, dg2}, 4);
    b.link(dg1, 8, float_group(b, 1, RECORDS, "V1"));
    b.link(dg2, 8, float_group(b, 1, RECORDS, "V2"));
    b.link(dg1, 16, static_cast<uint32_t>(AREA1));
    b.link(dg2, 16, static_cast<uint32_t>(AREA2));
    std::vector<piece> pieces;
    for (uint16_t g : {1, 2})
        for (uint32_t k = 0; k < RECORDS; ++k)
            pieces.push_back(
                {(g == 1 ? AREA1 : AREA2) + 8 * k, record(time_of(g, k), value_of(g, k))});
    std::string path = mdfbuild::temp_path("large_sorted.dat");
    write_sparse(path, b, AREA2 + 8 * RECORDS, pieces);
    return path;
}

// Reads every record of a group through its channels, as the converter does.
void expect_records(mdf_file_rec *f, uint16_t group) {
    SCOPED_TRACE(group);
    mdf_group_rec *g = nullptr;
    ASSERT_EQ(mdfgrp_open(&g, f, group, MDFGRP_READ), 0);
    mdf_channel_rec *t = nullptr, *v = nullptr;
    ASSERT_EQ(mdfchn_open_time(&t, g), 0);
    ASSERT_EQ(mdfchn_open(&v, g, 2), 0);
    for (uint32_t k = 0; k < RECORDS; ++k) {
        double time = -1, value = -1;
        EXPECT_EQ(mdfchn_read_value(&time, t), 0) << k;
        EXPECT_EQ(mdfchn_read_value(&value, v), 0) << k;
        EXPECT_EQ(time, time_of(group, k));
        EXPECT_EQ(value, value_of(group, k));
    }
    double past = 0;
    EXPECT_EQ(mdfchn_read_value(&past, t), MDF_END_OF_RECORDS);
    EXPECT_EQ(mdfgrp_close(g), 0);
}

TEST_F(Large, SortedRecordsPastTwoAndFourGiBAreRead) {
    const std::string path = sorted_file();
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(path, &f), 0);
    expect_records(f, 1);
    expect_records(f, 2);

    // Seeks forth and back: the record's position is kept in full.
    mdf_group_rec *g = nullptr;
    ASSERT_EQ(mdfgrp_open(&g, f, 2, MDFGRP_READ), 0);
    for (uint32_t k : {3u, 1u, 2u, 0u}) {
        ASSERT_EQ(mdfgrp_seek(g, static_cast<int32_t>(k), MDFGRP_SEEK_SET), 0);
        EXPECT_EQ(g->buffer->position, AREA2 + 8 * k);
        uint8_t *data = nullptr;
        mdfgrp_record_data(&data, g);
        EXPECT_EQ(std::vector<uint8_t>(data, data + 8), record(time_of(2, k), value_of(2, k)));
    }
    EXPECT_EQ(mdfgrp_seek(g, 4, MDFGRP_SEEK_SET), MDF_END_OF_RECORDS);
    EXPECT_EQ(mdffil_close(f), 0);
    std::filesystem::remove(path);
}

TEST_F(Large, RecordPastFourGiBIsWrittenBackInPlace) {
    // A file opened for update reads record by record from the stream (no read-ahead window).
    const std::string path = sorted_file();
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(path, &f, MDFFIL_UPDATE), 0);
    mdf_group_rec *g = nullptr;
    ASSERT_EQ(mdfgrp_open(&g, f, 2, MDFGRP_UPDATE), 0);
    mdf_channel_rec *v = nullptr;
    ASSERT_EQ(mdfchn_open(&v, g, 2), 0);
    ASSERT_EQ(mdfgrp_seek(g, 2, MDFGRP_SEEK_SET), 0);
    double value = 0;
    EXPECT_EQ(mdfchn_read_value(&value, v), 0);
    EXPECT_EQ(value, value_of(2, 2));
    EXPECT_EQ(mdfchn_write_value(v, -7.5), 0);
    EXPECT_EQ(mdfgrp_write_record(g), 0);
    EXPECT_EQ(mdffil_close(f), 0);

    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(AREA2 + 8 * 2));
    char bytes[8] = {};
    ASSERT_TRUE(in.read(bytes, 8));
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 8), record(time_of(2, 2), -7.5f));
    in.close();
    std::filesystem::remove(path);
}

TEST_F(Large, UnsortedAreaAcrossFourGiBIsReadAndSorted) {
    // One data group of two channel groups with identifier bytes, records alternating, the
    // area 20 bytes below 4 GiB: the third record (group 1's second) runs across 4 GiB.
    Builder b;
    b.id();
    uint32_t hd = b.hd({.dg_count = 1});
    uint32_t dg = b.dg(2, 1);
    b.link(hd, 4, dg);
    b.chain(dg, 8, {float_group(b, 1, 3, "V1"), float_group(b, 2, 3, "V2")}, 4);
    const uint64_t area = 4 * GIB - 20;
    b.link(dg, 16, static_cast<uint32_t>(area));
    std::vector<uint8_t> records;
    for (uint32_t k = 0; k < 3; ++k)
        for (uint8_t g : {1, 2}) {
            records.push_back(g);
            std::vector<uint8_t> r = record(time_of(g, k), value_of(g, k));
            records.insert(records.end(), r.begin(), r.end());
        }
    const std::string path = mdfbuild::temp_path("large_unsorted.dat");
    write_sparse(path, b, area + records.size(), {{area, records}});

    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(path, &f), 0);
    mdf_group_rec *g = nullptr;
    ASSERT_EQ(mdfgrp_open(&g, f, 2, MDFGRP_READ), 0);
    ASSERT_EQ(mdfgrp_seek(g, 2, MDFGRP_SEEK_SET), 0);
    EXPECT_EQ(g->buffer->position, area + 5 * 9);
    EXPECT_EQ(mdffil_close(f), 0);

    // The sorted copy holds the same records, its blocks behind them, all below 4 GiB.
    const std::string sorted = mdfbuild::temp_path("large_unsorted.tmp");
    ASSERT_EQ(mdffil_sort(path.c_str(), sorted.c_str()), 0);
    EXPECT_LT(std::filesystem::file_size(sorted), 4096u);
    mdf_file_rec *s = nullptr;
    ASSERT_EQ(open(sorted, &s), 0);
    uint16_t groups = 0;
    EXPECT_EQ(mdffil_groups(&groups, s), 0);
    ASSERT_EQ(groups, 2);
    for (uint16_t n : {1, 2}) {
        // The copy lists the groups of a data group, and their channels, in reverse order.
        const uint16_t group = n == 1 ? 2 : 1;
        ASSERT_EQ(mdfgrp_open(&g, s, n, MDFGRP_READ), 0);
        mdf_channel_rec *t = nullptr, *v = nullptr;
        ASSERT_EQ(mdfchn_open_time(&t, g), 0);
        ASSERT_EQ(mdfchn_open_name(&v, g, group == 1 ? "V1" : "V2"), 0);
        for (uint32_t k = 0; k < 3; ++k) {
            double time = -1, value = -1;
            EXPECT_EQ(mdfchn_read_value(&time, t), 0);
            EXPECT_EQ(mdfchn_read_value(&value, v), 0);
            EXPECT_EQ(time, time_of(group, k)) << n << " " << k;
            EXPECT_EQ(value, value_of(group, k)) << n << " " << k;
        }
        EXPECT_EQ(mdfgrp_close(g), 0);
    }
    EXPECT_EQ(mdffil_close(s), 0);
    std::filesystem::remove(path);
    std::filesystem::remove(sorted);
}

} // namespace
