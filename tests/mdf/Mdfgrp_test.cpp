// Groups and records: opening by number, record positioning in sorted and unsorted data groups,
// write-back with identifier bytes, created groups, damaged record layouts.
#include "Mdftest_helper.h"

#include <vector>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

using Groups = MdfTest;
using mdfbuild::Builder;

// The bytes of the current record of a group.
std::vector<uint8_t> current(mdf_group_rec *g) {
    uint8_t *data = nullptr;
    mdfgrp_record_data(&data, g);
    return std::vector<uint8_t>(data, data + mdf_u16(g->cg, CG_RECORD_SIZE));
}

uint32_t index_of(mdf_group_rec *g) {
    uint32_t index = 99;
    EXPECT_EQ(mdfgrp_record_index(&index, g), 0);
    return index;
}

// One DG with two CGs: identifier 1 (2-byte records) and identifier 2 (3-byte records), with r
// identifier bytes, records stored in the identifier order given. Record k of group 1 holds
// {k, 0xA1}, record k of group 2 holds {k, 0xB2, 0xC2}. positions[i] is where entry i starts.
struct Unsorted {
    Builder b;
    std::vector<uint32_t> positions;
};
Unsorted unsorted_file(uint16_t r, const std::vector<uint8_t> &order) {
    Unsorted u;
    Builder &b = u.b;
    b.id();
    uint32_t hd = b.hd({.dg_count = 1});
    uint32_t dg = b.dg(2, r);
    uint32_t counts[3] = {0, 0, 0};
    for (uint8_t id : order) ++counts[id];
    uint32_t cg1 = b.cg(1, 1, 2, counts[1]);
    uint32_t cg2 = b.cg(2, 1, 3, counts[2]);
    uint32_t cn1 = b.cn({.name = "A", .first_bit = 0, .bits = 8});
    uint32_t cn2 = b.cn({.name = "B", .first_bit = 0, .bits = 8});
    uint32_t k[3] = {0, 0, 0};
    uint32_t area = b.size();
    for (uint8_t id : order) {
        uint8_t n = static_cast<uint8_t>(k[id]++);
        std::vector<uint8_t> data =
            id == 1 ? std::vector<uint8_t>{n, 0xA1} : std::vector<uint8_t>{n, 0xB2, 0xC2};
        u.positions.push_back(b.record(r, id, data));
    }
    b.link(hd, 4, dg);
    b.chain(dg, 8, {cg1, cg2}, 4);
    b.link(dg, 16, area);
    b.link(cg1, 8, cn1);
    b.link(cg2, 8, cn2);
    return u;
}

TEST_F(Groups, OpenByNumberAndNotFound) {
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(save(mdfbuild::simple_file(3)), &f), 0);
    mdf_group_rec *g = reinterpret_cast<mdf_group_rec *>(1);

    // Group 0 passes the count test and is not found by the walk.
    CaptureStdout();
    EXPECT_EQ(mdfgrp_open(&g, f, 0, MDFGRP_READ), MDF_NOTE_GROUP_NOT_FOUND);
    EXPECT_EQ(GetCapturedStdout(), "[MDFLIB-ERROR] group not found (n=0)\n\n");
    // One beyond the file's count: refused by the count, with an empty detail.
    CaptureStdout();
    EXPECT_EQ(mdfgrp_open(&g, f, 2, MDFGRP_READ), MDF_NOTE_GROUP_NOT_FOUND);
    EXPECT_EQ(GetCapturedStdout(), "[MDFLIB-ERROR] group not found \n\n");
    EXPECT_EQ(g, reinterpret_cast<mdf_group_rec *>(1)); // written only on success

    ASSERT_EQ(mdfgrp_open(&g, f, 1, MDFGRP_READ), 0);
    uint16_t channels = 0;
    uint32_t records = 0;
    EXPECT_EQ(mdfgrp_channels(&channels, g), 0);
    EXPECT_EQ(channels, 2);
    EXPECT_EQ(mdfgrp_records(&records, g), 0);
    EXPECT_EQ(records, 3u);
    EXPECT_EQ(index_of(g), 0u);
    EXPECT_EQ(current(g), (std::vector<uint8_t>{0, 0, 0, 0}));
    uint8_t *data = nullptr;
    EXPECT_GE(mdfgrp_record_data(&data, g), 4 + 3); // spare bytes behind the record
    EXPECT_EQ(mdfgrp_close(g), 0);
    EXPECT_EQ(mdffil_close(f), 0);
}

TEST_F(Groups, OpenModesAreChecked) {
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(save(mdfbuild::simple_file(3)), &f), 0);
    mdf_group_rec *g = nullptr;
    CaptureStdout();
    EXPECT_EQ(mdfgrp_open(&g, f, 1, MDFGRP_UPDATE), MDF_ERR_OPEN_MODE); // file opened for reading
    EXPECT_EQ(GetCapturedStdout(), "[MDFLIB-ERROR] illegal group open mode \n\n");
    EXPECT_EQ(g, nullptr);
    mdffil_close(f);

    ASSERT_EQ(mdflib_init(""), 0);
    ASSERT_EQ(open(save(mdfbuild::simple_file(3)), &f), 0);
    CaptureStdout();
    EXPECT_EQ(mdfgrp_open(&g, f, 1, 3), MDF_ERR_OPEN_MODE);
    EXPECT_EQ(mdfgrp_open(&g, nullptr, 1, 0), MDF_ERR_OPEN_MODE); // sticky now
    GetCapturedStdout();
    mdffil_close(f);

    ASSERT_EQ(mdflib_init(""), 0);
    CaptureStdout();
    EXPECT_EQ(mdfgrp_open(&g, nullptr, 1, 0), MDF_ERR_BAD_FILE);
    EXPECT_EQ(mdfgrp_seek(nullptr, 0, MDFGRP_SEEK_SET), MDF_ERR_BAD_FILE);
    GetCapturedStdout();
}

TEST_F(Groups, ReadingABAMovesTheGroupOnce) {
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(save(mdfbuild::simple_file(3)), &f), 0);
    mdf_group_rec *g = nullptr;
    ASSERT_EQ(mdfgrp_open(&g, f, 1, MDFGRP_READ), 0);
    mdf_channel_rec *a = nullptr, *b = nullptr;
    ASSERT_EQ(mdfchn_open(&a, g, 1), 0);
    ASSERT_EQ(mdfchn_open(&b, g, 2), 0);
    uint32_t raw = 0;
    EXPECT_EQ(mdfchn_read_raw(&raw, a), 0);
    EXPECT_EQ(raw, 0u);
    EXPECT_EQ(mdfchn_read_raw(&raw, b), 0);
    EXPECT_EQ(raw, 0u);
    EXPECT_EQ(mdfchn_read_raw(&raw, a), 0); // moves to record 1
    EXPECT_EQ(raw, 1u);
    EXPECT_EQ(index_of(g), 1u);
    EXPECT_EQ(mdfchn_read_raw(&raw, b), 0); // same record
    EXPECT_EQ(raw, 10u);
    EXPECT_EQ(index_of(g), 1u);
    EXPECT_EQ(mdfchn_read_raw(&raw, b), 0);
    EXPECT_EQ(raw, 20u);
    EXPECT_EQ(mdfchn_read_raw(&raw, a), 0);
    EXPECT_EQ(raw, 2u);
    // The end of the records: status 1, the value untouched, nothing printed, not sticky.
    raw = 77;
    CaptureStdout();
    EXPECT_EQ(mdfchn_read_raw(&raw, a), MDF_END_OF_RECORDS);
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_EQ(raw, 77u);
    EXPECT_EQ(index_of(g), 2u);
    EXPECT_EQ(mdflib_last_error(), 0);
    EXPECT_EQ(mdfgrp_close(g), 0); // closes its channels
    EXPECT_EQ(mdflib_state.channels, nullptr);
    EXPECT_EQ(mdffil_close(f), 0);
}

TEST_F(Groups, SeeksOutsideTheRecordsKeepTheRecord) {
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(save(mdfbuild::simple_file(3)), &f), 0);
    mdf_group_rec *g = nullptr;
    ASSERT_EQ(mdfgrp_open(&g, f, 1, MDFGRP_READ), 0);
    CaptureStdout();
    EXPECT_EQ(mdfgrp_seek(g, 3, MDFGRP_SEEK_SET), MDF_END_OF_RECORDS);
    EXPECT_EQ(mdfgrp_seek(g, -4, MDFGRP_SEEK_CUR), MDF_END_OF_RECORDS);
    EXPECT_EQ(mdfgrp_seek(g, -1, MDFGRP_SEEK_CUR), MDF_END_OF_RECORDS);
    EXPECT_EQ(mdfgrp_seek(g, -1, MDFGRP_SEEK_SET), MDF_END_OF_RECORDS);
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_EQ(index_of(g), 0u);
    EXPECT_EQ(current(g), (std::vector<uint8_t>{0, 0, 0, 0}));

    EXPECT_EQ(mdfgrp_seek(g, 2, MDFGRP_SEEK_SET), 0);
    EXPECT_EQ(current(g), (std::vector<uint8_t>{2, 0, 20, 0}));
    EXPECT_EQ(mdfgrp_seek(g, 1, MDFGRP_SEEK_CUR), MDF_END_OF_RECORDS);
    EXPECT_EQ(current(g), (std::vector<uint8_t>{2, 0, 20, 0}));
    EXPECT_EQ(mdfgrp_seek(g, -1, MDFGRP_SEEK_CUR), 0);
    EXPECT_EQ(index_of(g), 1u);
    EXPECT_EQ(current(g), (std::vector<uint8_t>{1, 0, 10, 0}));
    EXPECT_EQ(mdfgrp_seek(g, 0, MDFGRP_SEEK_SET), 0);
    EXPECT_EQ(current(g), (std::vector<uint8_t>{0, 0, 0, 0}));

    CaptureStdout();
    EXPECT_EQ(mdfgrp_seek(g, 0, 1), MDF_ERR_SEEK_MODE);
    EXPECT_EQ(GetCapturedStdout(), "[MDFLIB-ERROR] illegal seek mode \n\n");
    EXPECT_EQ(mdfgrp_close(g), 0);
    EXPECT_EQ(mdffil_close(f), 0);
}

TEST_F(Groups, SeekReloadsTheRecordAndResetsTheChannels) {
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(save(mdfbuild::simple_file(3)), &f), 0);
    mdf_group_rec *g = nullptr;
    ASSERT_EQ(mdfgrp_open(&g, f, 1, MDFGRP_READ), 0);
    mdf_channel_rec *a = nullptr;
    ASSERT_EQ(mdfchn_open(&a, g, 2), 0);
    uint32_t raw = 0;
    EXPECT_EQ(mdfchn_read_raw(&raw, a), 0);
    // A seek to the current record of a sorted group resets the counters: the next read of the
    // same channel stays in record 0.
    EXPECT_EQ(mdfgrp_seek(g, 0, MDFGRP_SEEK_CUR), 0);
    EXPECT_EQ(mdfchn_read_raw(&raw, a), 0);
    EXPECT_EQ(raw, 0u);
    EXPECT_EQ(index_of(g), 0u);
    // An unsaved change of the buffer is lost by a seek.
    uint8_t *data = nullptr;
    mdfgrp_record_data(&data, g);
    data[2] = 99;
    EXPECT_EQ(mdfgrp_seek(g, 0, MDFGRP_SEEK_SET), 0);
    EXPECT_EQ(current(g)[2], 0);
    EXPECT_EQ(mdfgrp_close(g), 0);
    EXPECT_EQ(mdffil_close(f), 0);
}

TEST_F(Groups, UnsortedDataGroupWithOneIdentifierByte) {
    Unsorted u = unsorted_file(1, {1, 2, 1, 2, 2, 1});
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(save(u.b), &f), 0);
    EXPECT_EQ(mdffil_check_sorted(f), MDF_NOT_SORTED);
    mdf_group_rec *g1 = nullptr, *g2 = nullptr;
    ASSERT_EQ(mdfgrp_open(&g2, f, 2, MDFGRP_READ), 0);
    ASSERT_EQ(mdfgrp_open(&g1, f, 1, MDFGRP_READ), 0);

    // Group 2's records are the 2nd, 4th and 5th of the data area.
    const uint32_t of2[3] = {1, 3, 4};
    for (uint32_t k = 0; k < 3; ++k) {
        ASSERT_EQ(mdfgrp_seek(g2, static_cast<int32_t>(k), MDFGRP_SEEK_SET), 0);
        EXPECT_EQ(g2->buffer->position, u.positions[of2[k]]);
        EXPECT_EQ(current(g2), (std::vector<uint8_t>{static_cast<uint8_t>(k), 0xB2, 0xC2}));
    }
    // Back from index 2 to index 1: rescanned from the start.
    ASSERT_EQ(mdfgrp_seek(g2, -1, MDFGRP_SEEK_CUR), 0);
    EXPECT_EQ(index_of(g2), 1u);
    EXPECT_EQ(g2->buffer->position, u.positions[3]);
    EXPECT_EQ(current(g2), (std::vector<uint8_t>{1, 0xB2, 0xC2}));
    ASSERT_EQ(mdfgrp_seek(g2, 0, MDFGRP_SEEK_SET), 0);
    EXPECT_EQ(g2->buffer->position, u.positions[1]);
    EXPECT_EQ(current(g2), (std::vector<uint8_t>{0, 0xB2, 0xC2}));

    // Group 1 moves independently: 1st, 3rd, 6th; reading forward through its channel.
    mdf_channel_rec *a = nullptr;
    ASSERT_EQ(mdfchn_open(&a, g1, 1), 0);
    const uint32_t of1[3] = {0, 2, 5};
    for (uint32_t k = 0; k < 3; ++k) {
        uint32_t raw = 99;
        ASSERT_EQ(mdfchn_read_raw(&raw, a), 0);
        EXPECT_EQ(raw, k);
        EXPECT_EQ(g1->buffer->position, u.positions[of1[k]]);
    }
    uint32_t raw = 0;
    EXPECT_EQ(mdfchn_read_raw(&raw, a), MDF_END_OF_RECORDS);
    EXPECT_EQ(index_of(g2), 0u);
    EXPECT_EQ(mdfgrp_close(g1), 0);
    EXPECT_EQ(mdfgrp_close(g2), 0);
    EXPECT_EQ(mdffil_close(f), 0);
}

TEST_F(Groups, UnsortedDataGroupWithTwoIdentifierBytes) {
    Unsorted u = unsorted_file(2, {2, 2, 1, 2, 1});
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(save(u.b), &f), 0);
    mdf_group_rec *g1 = nullptr;
    ASSERT_EQ(mdfgrp_open(&g1, f, 1, MDFGRP_READ), 0);
    EXPECT_EQ(g1->buffer->position, u.positions[2]);
    EXPECT_EQ(current(g1), (std::vector<uint8_t>{0, 0xA1}));
    // The trailing identifier byte is read behind the data.
    EXPECT_EQ(mdf_record_data(g1->buffer)[2], 1);
    ASSERT_EQ(mdfgrp_seek(g1, 1, MDFGRP_SEEK_CUR), 0);
    EXPECT_EQ(g1->buffer->position, u.positions[4]);
    EXPECT_EQ(current(g1), (std::vector<uint8_t>{1, 0xA1}));
    ASSERT_EQ(mdfgrp_seek(g1, 0, MDFGRP_SEEK_SET), 0);
    EXPECT_EQ(current(g1), (std::vector<uint8_t>{0, 0xA1}));
    EXPECT_EQ(mdfgrp_close(g1), 0);
    EXPECT_EQ(mdffil_close(f), 0);
}

TEST_F(Groups, GroupWithoutRecordsOpensAndReadsEndOfRecords) {
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(save(mdfbuild::simple_file(0)), &f), 0);
    mdf_group_rec *g = nullptr;
    ASSERT_EQ(mdfgrp_open(&g, f, 1, MDFGRP_READ), 0);
    uint32_t records = 9;
    EXPECT_EQ(mdfgrp_records(&records, g), 0);
    EXPECT_EQ(records, 0u);
    mdf_channel_rec *a = nullptr;
    ASSERT_EQ(mdfchn_open(&a, g, 1), 0);
    double value = 42;
    EXPECT_EQ(mdfchn_read_value(&value, a), MDF_END_OF_RECORDS);
    EXPECT_EQ(value, 42);
    EXPECT_EQ(mdfchn_read_value(&value, a), MDF_END_OF_RECORDS);
    EXPECT_EQ(mdfgrp_seek(g, 0, MDFGRP_SEEK_SET), MDF_END_OF_RECORDS);
    EXPECT_EQ(mdflib_last_error(), 0);
    EXPECT_EQ(mdfchn_close(a), 0);
    EXPECT_EQ(mdfgrp_close(g), 0);
    EXPECT_EQ(mdffil_close(f), 0);
}

TEST_F(Groups, WriteBackWithTwoIdentifierBytes) {
    Builder b;
    b.id();
    uint32_t hd = b.hd({.dg_count = 1});
    uint32_t dg = b.dg(1, 2);
    uint32_t cg = b.cg(5, 1, 2, 2);
    uint32_t cn = b.cn({.name = "A", .first_bit = 0, .bits = 16});
    uint32_t area = b.record(2, 5, {0x11, 0x12});
    b.record(2, 5, {0x21, 0x22});
    uint32_t tail = b.raw({0xEE, 0xEE});
    b.link(hd, 4, dg);
    b.link(dg, 8, cg);
    b.link(dg, 16, area);
    b.link(cg, 8, cn);
    std::string path = save(b);

    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(path, &f, MDFFIL_UPDATE), 0);
    mdf_group_rec *g = nullptr;
    ASSERT_EQ(mdfgrp_open(&g, f, 1, MDFGRP_UPDATE), 0);
    ASSERT_EQ(mdfgrp_seek(g, 1, MDFGRP_SEEK_SET), 0);
    uint8_t *data = nullptr;
    mdfgrp_record_data(&data, g);
    data[0] = 0x31;
    data[-1] = 0; // the identifier bytes are set again when written
    data[2] = 0;
    ASSERT_EQ(mdfgrp_write_record(g), 0);

    // Through a channel: the second write moves on, writing record 0 back first.
    ASSERT_EQ(mdfgrp_seek(g, 0, MDFGRP_SEEK_SET), 0);
    mdf_channel_rec *a = nullptr;
    ASSERT_EQ(mdfchn_open(&a, g, 1), 0);
    EXPECT_EQ(mdfchn_write_raw(a, 0x4142), 0);
    EXPECT_EQ(mdfchn_write_raw(a, 0x5152), 0); // record 0 written, now on record 1
    EXPECT_EQ(index_of(g), 1u);
    EXPECT_EQ(mdfchn_close(a), 0); // finishes record 1; no record behind it
    EXPECT_EQ(mdfgrp_close(g), 0);
    EXPECT_EQ(mdffil_close(f), 0);

    std::vector<uint8_t> bytes = mdfbuild::read_file(path);
    ASSERT_GE(bytes.size(), tail + 2u);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + area, bytes.begin() + tail + 2),
              (std::vector<uint8_t>{5, 0x42, 0x41, 5, 5, 0x52, 0x51, 5, 0xEE, 0xEE}));
}

TEST_F(Groups, WriteBackIsRefusedInAReadGroup) {
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(save(mdfbuild::simple_file(3)), &f), 0);
    mdf_group_rec *g = nullptr;
    ASSERT_EQ(mdfgrp_open(&g, f, 1, MDFGRP_READ), 0);
    CaptureStdout();
    EXPECT_EQ(mdfgrp_write_record(g), MDF_ERR_OPEN_MODE);
    EXPECT_EQ(GetCapturedStdout(), "[MDFLIB-ERROR] illegal group open mode \n\n");
    EXPECT_EQ(mdfgrp_close(g), 0); // runs under the sticky error
    EXPECT_EQ(mdflib_state.groups, nullptr);
    EXPECT_EQ(mdffil_close(f), 0);

    ASSERT_EQ(mdflib_init(""), 0);
    ASSERT_EQ(open(save(mdfbuild::simple_file(3)), &f), 0);
    ASSERT_EQ(mdfgrp_open(&g, f, 1, MDFGRP_READ), 0);
    CaptureStdout();
    EXPECT_EQ(mdfgrp_append_record(g), MDF_ERR_OPEN_MODE);
    GetCapturedStdout();
    EXPECT_EQ(mdfgrp_close(g), 0);
    EXPECT_EQ(mdffil_close(f), 0);
}

// Creates a group of two channels in a new file and writes three records through the channels.
void write_created(mdf_file_rec *f) {
    mdf_group_rec *g = nullptr;
    ASSERT_EQ(mdfgrp_open(&g, f, 0, MDFGRP_CREATE), 0);
    mdf_channel_rec *t = nullptr, *v = nullptr;
    ASSERT_EQ(mdfchn_create(&t, g, MDFCHN_TIME, 16, MDFCHN_UNSIGNED, "TIME"), 0);
    ASSERT_EQ(mdfchn_create(&v, g, MDFCHN_VALUE, 8, MDFCHN_SIGNED, "V"), 0);
    for (int k = 0; k < 3; ++k) {
        ASSERT_EQ(mdfchn_write_raw(t, static_cast<uint32_t>(1000 + k)), 0);
        ASSERT_EQ(mdfchn_write_raw_real(v, -k), 0);
    }
    EXPECT_EQ(mdfgrp_close(g), 0); // the last record is appended by the channel close
}

TEST_F(Groups, CreatedGroupIsWrittenAndReadBack) {
    std::string path = mdfbuild::temp_path("created.dat");
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(path, &f, MDFFIL_CREATE), 0);
    // A second group in creation on the same file is refused.
    mdf_group_rec *g = nullptr, *g2 = nullptr;
    ASSERT_EQ(mdfgrp_open(&g, f, 0, MDFGRP_CREATE), 0);
    CaptureStdout();
    EXPECT_EQ(mdfgrp_open(&g2, f, 0, MDFGRP_CREATE), MDF_ERR_SIMUL_CREATE);
    EXPECT_EQ(GetCapturedStdout(), "[MDFLIB-ERROR] simulanous groups creates are not allowed \n\n");
    EXPECT_EQ(g2, nullptr);
    EXPECT_EQ(mdfgrp_close(g), 0); // under the sticky error: nothing written
    EXPECT_EQ(mdffil_close(f), 0);
    EXPECT_EQ(mdfbuild::read_file(path).size(), 64u + 164u);

    ASSERT_EQ(mdflib_init(""), 0);
    ASSERT_EQ(open(path, &f, MDFFIL_CREATE), 0);
    ASSERT_NO_FATAL_FAILURE(write_created(f)); // first DG
    ASSERT_NO_FATAL_FAILURE(write_created(f)); // second DG, first in the chain
    EXPECT_EQ(mdffil_close(f), 0);

    std::vector<uint8_t> bytes = mdfbuild::read_file(path);
    ASSERT_GT(bytes.size(), 228u + 12u);
    // The first group's records directly behind the HD: identifier byte 1 and 3 data bytes.
    EXPECT_EQ(
        std::vector<uint8_t>(bytes.begin() + 228, bytes.begin() + 240),
        (std::vector<uint8_t>{1, 0xE8, 0x03, 0x00, 1, 0xE9, 0x03, 0xFF, 1, 0xEA, 0x03, 0xFE}));
    EXPECT_EQ(mdf_u16(bytes.data(), 64 + HD_DG_COUNT), 2);

    ASSERT_EQ(mdflib_init(""), 0);
    ASSERT_EQ(open(path, &f), 0);
    uint16_t groups = 0;
    EXPECT_EQ(mdffil_groups(&groups, f), 0);
    EXPECT_EQ(groups, 2);
    for (uint16_t n = 1; n <= 2; ++n) {
        ASSERT_EQ(mdfgrp_open(&g, f, n, MDFGRP_READ), 0);
        uint32_t records = 0;
        EXPECT_EQ(mdfgrp_records(&records, g), 0);
        EXPECT_EQ(records, 3u);
        EXPECT_EQ(mdf_u16(g->cg, CG_RECORD_SIZE), 3);
        EXPECT_EQ(mdf_u16(g->cg, CG_CN_COUNT), 2);
        EXPECT_EQ(mdf_u16(g->dg, DG_ID_BYTES), 1);
        EXPECT_EQ(mdf_u16(g->cg, CG_RECORD_ID), 1);
        mdf_channel_rec *t = nullptr, *v = nullptr;
        ASSERT_EQ(mdfchn_open_time(&t, g), 0);
        ASSERT_EQ(mdfchn_open_name(&v, g, "V"), 0);
        for (int k = 0; k < 3; ++k) {
            double time = 0, value = 0;
            ASSERT_EQ(mdfchn_read_value(&time, t), 0);
            ASSERT_EQ(mdfchn_read_value(&value, v), 0);
            EXPECT_EQ(time, 1000 + k);
            EXPECT_EQ(value, -k);
        }
        EXPECT_EQ(mdfgrp_close(g), 0);
    }
    // The second created data group stands first in the chain.
    uint8_t *first = mdfblk_link(f->hd, HD_FIRST_DG);
    uint8_t *second = mdfblk_link(first, DG_NEXT_DG);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(mdfblk_link(second, DG_NEXT_DG), nullptr);
    EXPECT_GT(mdf_u32(first, DG_DATA), mdf_u32(second, DG_DATA));
    EXPECT_EQ(mdf_u32(second, DG_DATA), 228u);
    EXPECT_EQ(mdffil_close(f), 0);
}

TEST_F(Groups, AppendRecordsDirectly) {
    std::string path = mdfbuild::temp_path("append.dat");
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(path, &f, MDFFIL_CREATE), 0);
    mdf_group_rec *g = nullptr;
    ASSERT_EQ(mdfgrp_open(&g, f, 0, MDFGRP_CREATE), 0);
    mdf_channel_rec *c = nullptr;
    ASSERT_EQ(mdfchn_create(&c, g, MDFCHN_VALUE, 8, MDFCHN_UNSIGNED, "C"), 0);
    EXPECT_EQ(mdfchn_close(c), 0); // nothing pending: no record
    // The record being built is no record of the file: nothing to write back.
    EXPECT_EQ(mdfgrp_write_record(g), MDF_END_OF_RECORDS);
    uint8_t *data = nullptr;
    for (uint8_t k = 0; k < 2; ++k) {
        mdfgrp_record_data(&data, g);
        data[0] = static_cast<uint8_t>(0x60 + k);
        ASSERT_EQ(mdfgrp_append_record(g), 0);
        EXPECT_EQ(index_of(g), k);
    }
    uint32_t records = 0;
    EXPECT_EQ(mdfgrp_records(&records, g), 0);
    EXPECT_EQ(records, 2u);
    EXPECT_EQ(mdfgrp_close(g), 0);
    EXPECT_EQ(mdffil_close(f), 0);
    std::vector<uint8_t> bytes = mdfbuild::read_file(path);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 228, bytes.begin() + 232),
              (std::vector<uint8_t>{1, 0x60, 1, 0x61}));

    // Both appended records are counted in the written CG.
    ASSERT_EQ(open(path, &f), 0);
    ASSERT_EQ(mdfgrp_open(&g, f, 1, MDFGRP_READ), 0);
    EXPECT_EQ(mdfgrp_records(&records, g), 0);
    EXPECT_EQ(records, 2u);
    EXPECT_EQ(mdfgrp_seek(g, 1, MDFGRP_SEEK_SET), 0);
    EXPECT_EQ(current(g), (std::vector<uint8_t>{0x61}));
    EXPECT_EQ(mdfgrp_close(g), 0);
    EXPECT_EQ(mdffil_close(f), 0);
}

// ---------------------------------------------------------------------------------------------
// Damaged record layouts: refused with -2004 "file format", never read outside a buffer.
// ---------------------------------------------------------------------------------------------

int16_t open_group_of(const Builder &b, uint16_t number) {
    mdf_file_rec *f = nullptr;
    std::string path = mdfbuild::temp_path("damaged.dat");
    b.save(path);
    int16_t status = mdffil_open(&f, path.c_str(), MDFFIL_READ);
    if (status != 0) return status;
    mdf_group_rec *g = nullptr;
    CaptureStdout();
    status = mdfgrp_open(&g, f, number, MDFGRP_READ);
    std::string out = GetCapturedStdout();
    if (status == MDF_ERR_FORMAT) {
        // The detail names the damaged block or data position and what is wrong.
        EXPECT_EQ(out.rfind("[MDFLIB-ERROR] file format (", 0), 0u) << out;
        EXPECT_NE(out.find("at "), std::string::npos) << out;
        EXPECT_EQ(g, nullptr);
        EXPECT_EQ(mdflib_state.groups, nullptr); // a failed open leaves no group behind
    }
    if (status == 0) {
        EXPECT_EQ(mdfgrp_close(g), 0);
    }
    mdffil_close(f);
    return status;
}

TEST_F(Groups, DamagedLayoutsAreRefusedAtOpen) {
    // Identifier bytes other than 0, 1, 2.
    Unsorted u = unsorted_file(1, {1, 2});
    u.b.set_u16(u.b.u32(64, 4), 22, 3);
    EXPECT_EQ(open_group_of(u.b, 1), MDF_ERR_FORMAT);

    // Several CGs without identifier bytes.
    ASSERT_EQ(mdflib_init(""), 0);
    u = unsorted_file(1, {1, 2});
    u.b.set_u16(u.b.u32(64, 4), 22, 0);
    EXPECT_EQ(open_group_of(u.b, 2), MDF_ERR_FORMAT);

    // Two CGs with the same record identifier.
    ASSERT_EQ(mdflib_init(""), 0);
    u = unsorted_file(1, {1, 2});
    uint32_t dg = u.b.u32(64, 4);
    u.b.set_u16(u.b.u32(u.b.u32(dg, 8), 4), 16, 1);
    EXPECT_EQ(open_group_of(u.b, 1), MDF_ERR_FORMAT);

    // No data area although the group has records.
    ASSERT_EQ(mdflib_init(""), 0);
    Builder b = mdfbuild::simple_file(3);
    b.set_u32(b.u32(64, 4), 16, 0);
    EXPECT_EQ(open_group_of(b, 1), MDF_ERR_FORMAT);
    // ... which is fine without records.
    ASSERT_EQ(mdflib_init(""), 0);
    b = mdfbuild::simple_file(0);
    b.set_u32(b.u32(64, 4), 16, 0);
    EXPECT_EQ(open_group_of(b, 1), 0);

    // A record too large for the buffer.
    ASSERT_EQ(mdflib_init(""), 0);
    b = mdfbuild::simple_file(0);
    b.set_u16(b.u32(b.u32(64, 4), 8), 20, 65535);
    EXPECT_EQ(open_group_of(b, 1), MDF_ERR_FORMAT);
}

TEST_F(Groups, DamagedDataAreasAreFileFormatErrors) {
    // Records ending early: the file is cut inside record 2.
    Builder b = mdfbuild::simple_file(3);
    b.bytes.resize(b.bytes.size() - 2);
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(save(b), &f), 0);
    mdf_group_rec *g = nullptr;
    ASSERT_EQ(mdfgrp_open(&g, f, 1, MDFGRP_READ), 0);
    EXPECT_EQ(mdfgrp_seek(g, 1, MDFGRP_SEEK_SET), 0);
    CaptureStdout();
    EXPECT_EQ(mdfgrp_seek(g, 2, MDFGRP_SEEK_SET), MDF_ERR_FORMAT);
    const uint32_t record2 = b.u32(b.u32(64, HD_FIRST_DG), DG_DATA) + 8;
    EXPECT_EQ(GetCapturedStdout(), "[MDFLIB-ERROR] file format (at " + std::to_string(record2) +
                                       ": record runs past the end of the file)\n\n");
    EXPECT_EQ(mdfgrp_close(g), 0);
    EXPECT_EQ(mdffil_close(f), 0);

    // An identifier byte of no CG of the data group.
    ASSERT_EQ(mdflib_init(""), 0);
    Unsorted u = unsorted_file(1, {1, 2, 1});
    u.b.set_u8(u.positions[1], 0, 9);
    EXPECT_EQ(open_group_of(u.b, 2), MDF_ERR_FORMAT);

    // An unsorted group whose records run past the end of the file.
    ASSERT_EQ(mdflib_init(""), 0);
    u = unsorted_file(1, {1, 2, 1});
    u.b.bytes.resize(u.positions[2] + 1);
    EXPECT_EQ(open_group_of(u.b, 1), 0);
    ASSERT_EQ(open(save(u.b), &f), 0);
    ASSERT_EQ(mdfgrp_open(&g, f, 1, MDFGRP_READ), 0);
    CaptureStdout();
    EXPECT_EQ(mdfgrp_seek(g, 1, MDFGRP_SEEK_SET), MDF_ERR_FORMAT);
    GetCapturedStdout();
    EXPECT_EQ(mdfgrp_close(g), 0);
    EXPECT_EQ(mdffil_close(f), 0);
}

TEST_F(Groups, LargeForeignRecordsAreSkippedIn32Bits) {
    // Group 1 has records of 65535 bytes, which the buffer cannot hold; group 2's records
    // behind them are found by skipping 65536 bytes each.
    Builder b;
    b.id();
    uint32_t hd = b.hd({.dg_count = 1});
    uint32_t dg = b.dg(2, 1);
    uint32_t cg1 = b.cg(1, 0, 65535, 1);
    uint32_t cg2 = b.cg(2, 0, 2, 1);
    uint32_t area = b.record(1, 1, std::vector<uint8_t>(65535, 0x55));
    b.record(1, 2, {0x12, 0x34});
    b.link(hd, 4, dg);
    b.chain(dg, 8, {cg1, cg2}, 4);
    b.link(dg, 16, area);
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(save(b), &f), 0);
    mdf_group_rec *g = nullptr;
    ASSERT_EQ(mdfgrp_open(&g, f, 2, MDFGRP_READ), 0);
    EXPECT_EQ(current(g), (std::vector<uint8_t>{0x12, 0x34}));
    EXPECT_EQ(g->buffer->position, area + 65536u);
    EXPECT_EQ(mdfgrp_close(g), 0);
    CaptureStdout();
    EXPECT_EQ(mdfgrp_open(&g, f, 1, MDFGRP_READ), MDF_ERR_FORMAT);
    GetCapturedStdout();
    EXPECT_EQ(mdffil_close(f), 0);
}

TEST_F(Groups, IterationAndChannelTotal) {
    Unsorted u = unsorted_file(1, {1, 2});
    mdf_file_rec *f = nullptr, *other = nullptr;
    ASSERT_EQ(open(save(u.b), &f), 0);
    ASSERT_EQ(open(save(mdfbuild::simple_file(1)), &other), 0);
    uint32_t total = 0;
    EXPECT_EQ(mdffil_channels(&total, f), 0);
    EXPECT_EQ(total, 2u);
    EXPECT_EQ(mdffil_channels(&total, other), 0);
    EXPECT_EQ(total, 2u);
    EXPECT_EQ(mdflib_state.groups, nullptr); // the count closed its groups

    mdf_group_rec *g = nullptr, *a = nullptr, *b = nullptr, *c = nullptr;
    EXPECT_EQ(mdfgrp_first(&g, f), MDF_NO_MORE_GROUPS);
    EXPECT_EQ(g, nullptr);
    ASSERT_EQ(mdfgrp_open(&a, f, 2, MDFGRP_READ), 0);
    ASSERT_EQ(mdfgrp_open(&b, other, 1, MDFGRP_READ), 0);
    ASSERT_EQ(mdfgrp_open(&c, f, 1, MDFGRP_READ), 0);
    EXPECT_EQ(mdfgrp_first(&g, f), 0);
    EXPECT_EQ(g, a);
    EXPECT_EQ(mdfgrp_next(&g), 0);
    EXPECT_EQ(g, c);
    EXPECT_EQ(mdfgrp_next(&g), MDF_NO_MORE_GROUPS);
    EXPECT_EQ(g, nullptr);
    EXPECT_EQ(mdfgrp_next(&g), MDF_NO_MORE_GROUPS);
    EXPECT_EQ(mdfgrp_next(nullptr), MDF_NO_MORE_GROUPS);

    EXPECT_EQ(mdfgrp_close(nullptr), 0);
    EXPECT_EQ(mdfgrp_close(a), 0);
    EXPECT_EQ(mdfgrp_close(b), 0);
    EXPECT_EQ(mdfgrp_close(c), 0);
    EXPECT_EQ(mdffil_close(f), 0);
    EXPECT_EQ(mdffil_close(other), 0);

    // Without call guard: the sticky error first, then the handle.
    CaptureStdout();
    uint32_t n = 0;
    EXPECT_EQ(mdfgrp_records(&n, nullptr), MDF_ERR_BAD_GROUP);
    EXPECT_EQ(GetCapturedStdout(), "[MDFLIB-ERROR] bad grouphandle \n\n");
    EXPECT_EQ(mdfgrp_first(&g, nullptr), MDF_ERR_BAD_GROUP);
    EXPECT_EQ(mdfgrp_record_index(&n, nullptr), MDF_ERR_BAD_GROUP);
}

} // namespace

namespace {

// A file closed while its created group and channels are still open closes them first, so the
// group's blocks and its last record reach the file, and no handle of the file stays in the lists.
TEST_F(Groups, FileCloseClosesItsOpenGroupsAndChannels) {
    std::string path = mdfbuild::temp_path("close_open_groups.dat");
    mdf_file_rec *f = nullptr;
    ASSERT_EQ(open(path, &f, MDFFIL_CREATE), 0);
    mdf_group_rec *g = nullptr;
    ASSERT_EQ(mdfgrp_open(&g, f, 0, MDFGRP_CREATE), 0);
    mdf_channel_rec *t = nullptr, *v = nullptr;
    ASSERT_EQ(mdfchn_create(&t, g, MDFCHN_TIME, 16, MDFCHN_UNSIGNED, "TIME"), 0);
    ASSERT_EQ(mdfchn_create(&v, g, MDFCHN_VALUE, 8, MDFCHN_SIGNED, "V"), 0);
    for (int k = 0; k < 2; ++k) {
        ASSERT_EQ(mdfchn_write_raw(t, static_cast<uint32_t>(10 + k)), 0);
        ASSERT_EQ(mdfchn_write_raw_real(v, k - 5), 0);
    }
    EXPECT_EQ(mdffil_close(f), 0);
    EXPECT_EQ(mdflib_state.groups, nullptr);
    EXPECT_EQ(mdflib_state.channels, nullptr);

    ASSERT_EQ(open(path, &f), 0);
    ASSERT_EQ(mdfgrp_open(&g, f, 1, MDFGRP_READ), 0);
    uint32_t records = 0;
    EXPECT_EQ(mdfgrp_records(&records, g), 0);
    EXPECT_EQ(records, 2u);
    ASSERT_EQ(mdfchn_open_name(&v, g, "V"), 0);
    double x = 0;
    EXPECT_EQ(mdfchn_read_value(&x, v), 0);
    EXPECT_EQ(x, -5.0);
    EXPECT_EQ(mdfchn_read_value(&x, v), 0);
    EXPECT_EQ(x, -4.0);
    EXPECT_EQ(mdffil_close(f), 0);
    EXPECT_EQ(mdflib_state.groups, nullptr);
}

} // namespace
