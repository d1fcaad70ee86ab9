// Sorted check and sorting of unsorted MDF files: the layout of the sorted copy, its records
// read back through the group reads, the copy buffers, and the refusal of damaged inputs.
#include "Mdftest_helper.h"
#include "Sortbuild_helper.h"

#include <filesystem>

namespace {

using sortbuild::DataGroup;
using sortbuild::Group;
using sortbuild::Input;
using sortbuild::OutGroup;

class MdfSortTest : public MdfTest {
  protected:
    std::string in_path, out_path;

    // Saves the input and gives the status of sorting it into a fresh output name.
    int16_t sort(const Input &input) { return sort(sortbuild::build(input)); }
    int16_t sort(const mdfbuild::Builder &b) {
        in_path = save(b, "in.dat");
        out_path = mdfbuild::temp_path("out.tmp");
        return mdffil_sort(in_path.c_str(), out_path.c_str());
    }
    bool output_exists() const { return std::filesystem::exists(out_path); }
    mdfbuild::Builder output() const {
        mdfbuild::Builder b;
        b.bytes = mdfbuild::read_file(out_path);
        return b;
    }
};

// The records of group number n of a file, read through the group reads.
std::vector<std::vector<uint8_t>> read_group(const std::string &path, uint16_t n) {
    std::vector<std::vector<uint8_t>> records;
    mdf_file_rec *file = nullptr;
    EXPECT_EQ(mdffil_open(&file, path.c_str(), MDFFIL_READ), 0);
    mdf_group_rec *group = nullptr;
    EXPECT_EQ(mdfgrp_open(&group, file, n, MDFGRP_READ), 0);
    if (group != nullptr) {
        uint32_t count = 0;
        EXPECT_EQ(mdfgrp_records(&count, group), 0);
        uint16_t size = mdf_u16(group->cg, CG_RECORD_SIZE);
        for (uint32_t k = 0; k < count; ++k) {
            if (k > 0) {
                EXPECT_EQ(mdfgrp_seek(group, 1, MDFGRP_SEEK_CUR), 0);
            }
            uint8_t *data = nullptr;
            mdfgrp_record_data(&data, group);
            records.emplace_back(data, data + size);
        }
        EXPECT_EQ(mdfgrp_close(group), 0);
    }
    EXPECT_EQ(mdffil_close(file), 0);
    return records;
}

// The channels of group number n of a file, read through the channel reads: each channel's
// name and its physical values in record order. reverse opens the channels from the last
// number down, which gives the input's channel order for a group of a sorted copy.
struct ChannelValues {
    std::string name;
    std::vector<double> values;
    bool operator==(const ChannelValues &) const = default;
};
std::vector<ChannelValues> read_channels(const std::string &path, uint16_t n, bool reverse) {
    std::vector<ChannelValues> result;
    mdf_file_rec *file = nullptr;
    EXPECT_EQ(mdffil_open(&file, path.c_str(), MDFFIL_READ), 0);
    mdf_group_rec *group = nullptr;
    EXPECT_EQ(mdfgrp_open(&group, file, n, MDFGRP_READ), 0);
    uint16_t count = 0;
    EXPECT_EQ(mdfgrp_channels(&count, group), 0);
    std::vector<mdf_channel_rec *> channels;
    for (uint16_t i = 1; i <= count; ++i) {
        mdf_channel_rec *channel = nullptr;
        EXPECT_EQ(mdfchn_open(&channel, group, reverse ? count + 1 - i : i), 0);
        const char *name = "";
        EXPECT_EQ(mdfchn_name(channel, &name), 0);
        channels.push_back(channel);
        result.push_back({name, {}});
    }
    for (bool more = count > 0; more;) {
        for (std::size_t i = 0; i < channels.size() && more; ++i) {
            double value = 0;
            int16_t status = mdfchn_read_value(&value, channels[i]);
            if (status == MDF_END_OF_RECORDS && i == 0) {
                more = false;
            } else {
                EXPECT_EQ(status, 0);
                result[i].values.push_back(value);
            }
        }
    }
    EXPECT_EQ(mdfgrp_close(group), 0);
    EXPECT_EQ(mdffil_close(file), 0);
    return result;
}

// The records a group of the builder holds: record_bytes(tag, 0..count-1).
std::vector<std::vector<uint8_t>> expected(uint32_t tag, uint32_t count, uint16_t size) {
    std::vector<std::vector<uint8_t>> records;
    for (uint32_t k = 0; k < count; ++k) records.push_back(sortbuild::record_bytes(tag, k, size));
    return records;
}

// The records of a DG of the sorted copy, taken from its data area.
std::vector<std::vector<uint8_t>> area_records(const mdfbuild::Builder &file, const OutGroup &g) {
    std::vector<std::vector<uint8_t>> records;
    for (uint32_t k = 0; k < g.records; ++k) {
        auto at = file.bytes.begin() + g.data + uint64_t{k} * g.record_size;
        records.emplace_back(at, at + g.record_size);
    }
    return records;
}

std::string text_at(const mdfbuild::Builder &file, uint32_t tx) {
    return reinterpret_cast<const char *>(&file.bytes.at(tx + 4));
}

// One DG with CGs of record identifiers 1 and 2 (4 and 6 bytes), records in the order
// 1, 2, 1, 1, 2.
Input two_groups() {
    DataGroup d;
    d.id_bytes = 1;
    d.groups = {Group{.record_id = 1, .record_size = 4, .channels = {"TIME", "A", "B"}},
                Group{.record_id = 2, .record_size = 6, .channels = {"T2", "X"}}};
    d.order = {0, 1, 0, 0, 1};
    return Input{.dgs = {d}};
}

TEST_F(MdfSortTest, SortedFilesAndFilesWithoutGroupsAreNotCopied) {
    DataGroup one{.id_bytes = 0, .groups = {Group{}}, .order = {0, 0}};
    Input sorted{.dgs = {one, one}};
    in_path = save(sortbuild::build(sorted), "sorted.dat");
    EXPECT_EQ(mdffil_test_sorted(in_path.c_str()), 0);
    EXPECT_EQ(sort(sorted), MDF_ALREADY_SORTED);
    EXPECT_FALSE(output_exists());

    EXPECT_EQ(sort(Input{.dgs = {DataGroup{}, DataGroup{}}}), MDF_ALREADY_SORTED);
    EXPECT_FALSE(output_exists());
    EXPECT_EQ(sort(Input{}), MDF_ALREADY_SORTED);
    EXPECT_FALSE(output_exists());
    EXPECT_EQ(mdflib_state.level, 1);
    EXPECT_EQ(count_blocks(), 0);
}

TEST_F(MdfSortTest, MissingFilesAndUninitialisedLibrary) {
    std::string missing = mdfbuild::temp_path("missing.dat");
    testing::internal::CaptureStdout();
    EXPECT_EQ(mdffil_test_sorted(missing.c_str()), MDF_NOTE_OPEN_FAILED);
    EXPECT_EQ(mdffil_sort(missing.c_str(), mdfbuild::temp_path("x.tmp").c_str()),
              MDF_NOTE_OPEN_FAILED);
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed, "[MDFLIB-ERROR] could not open file " + missing + "\n\n" +
                           "[MDFLIB-ERROR] could not open file " + missing + "\n\n");
    EXPECT_EQ(mdflib_state.level, 1);

    std::string path = save(sortbuild::build(two_groups()));
    std::string out = mdfbuild::temp_path("out.tmp");
    mdflib_exit();
    testing::internal::CaptureStdout();
    EXPECT_EQ(mdffil_test_sorted(path.c_str()), MDF_ERR_NOT_INIT);
    EXPECT_EQ(mdffil_sort(path.c_str(), out.c_str()), MDF_ERR_NOT_INIT);
    EXPECT_EQ(testing::internal::GetCapturedStdout().find("[MDFLIB-ERROR] ZUV-udaravo not "
                                                          "initialized \n\n"),
              0u);
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(MdfSortTest, TwoInterleavedGroupsGetADataGroupEach) {
    Input input = two_groups();
    in_path = save(sortbuild::build(input));
    EXPECT_EQ(mdffil_test_sorted(in_path.c_str()), MDF_NOT_SORTED);
    std::vector<uint8_t> before = mdfbuild::read_file(in_path);
    ASSERT_EQ(sort(input), 0);
    EXPECT_EQ(mdfbuild::read_file(in_path), before);
    EXPECT_EQ(mdflib_state.level, 1);
    EXPECT_EQ(count_blocks(), 0);

    mdfbuild::Builder out = output();
    EXPECT_EQ(sortbuild::bad_link(out), "");
    EXPECT_EQ(out.u16(64, HD_DG_COUNT), 2);
    std::vector<OutGroup> dgs = sortbuild::parse(out);
    ASSERT_EQ(dgs.size(), 2u);
    // The DG chain runs in reverse: group 2 first.
    EXPECT_EQ(dgs[0].record_size, 6);
    EXPECT_EQ(dgs[1].record_size, 4);
    for (const OutGroup &g : dgs) {
        EXPECT_EQ(g.cg_count, 1);
        EXPECT_EQ(g.id_bytes, 0);
        EXPECT_EQ(g.record_id, 0);
        EXPECT_EQ(g.next_cg, 0u);
    }
    EXPECT_EQ(dgs[1].next_dg, 0u);
    EXPECT_EQ(dgs[0].records, 2u);
    EXPECT_EQ(dgs[1].records, 3u);
    // ID, HD, PR (9 bytes), comment TX "sorting" (12 bytes), then the 24-byte data area.
    uint32_t area = 64 + 164 + 9 + 12;
    EXPECT_EQ(dgs[1].data, area);
    EXPECT_EQ(dgs[0].data, area + 12);
    std::vector<uint8_t> data;
    for (auto &r : expected(0, 3, 4)) data.insert(data.end(), r.begin(), r.end());
    for (auto &r : expected(1, 2, 6)) data.insert(data.end(), r.begin(), r.end());
    EXPECT_EQ(std::vector<uint8_t>(out.bytes.begin() + area, out.bytes.begin() + area + 24), data);
    // The blocks follow the data area directly.
    EXPECT_EQ(out.bytes.at(area + 24), 'C');
    // Channel chains in reverse input order.
    EXPECT_EQ(dgs[1].names, (std::vector<std::string>{"B", "A", "TIME"}));
    EXPECT_EQ(dgs[0].names, (std::vector<std::string>{"X", "T2"}));
    // The file information is carried over.
    EXPECT_EQ(text_at(out, out.u32(64, HD_COMMENT)), "sorting");
    EXPECT_EQ(out.bytes.at(out.u32(64, HD_PROGRAM) + 8), 5);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(&out.bytes[64 + HD_AUTHOR])), "sorter");

    // The copy is sorted and reads the same records as the input's groups.
    EXPECT_EQ(mdffil_test_sorted(out_path.c_str()), 0);
    EXPECT_EQ(read_group(out_path, 1), read_group(in_path, 2));
    EXPECT_EQ(read_group(out_path, 2), read_group(in_path, 1));
    EXPECT_EQ(read_group(out_path, 2), expected(0, 3, 4));
    std::vector<ChannelValues> channels = read_channels(out_path, 2, true);
    EXPECT_EQ(channels, read_channels(in_path, 1, false));
    ASSERT_EQ(channels.size(), 3u);
    EXPECT_EQ(channels[0].name, "TIME");
    ASSERT_EQ(channels[2].values.size(), 3u);
    EXPECT_EQ(channels[0].values[0], sortbuild::record_bytes(0, 0, 4)[0]);
    EXPECT_EQ(channels[2].values[2], sortbuild::record_bytes(0, 2, 4)[2]);
    EXPECT_EQ(read_channels(out_path, 1, true), read_channels(in_path, 2, false));
    std::string again = mdfbuild::temp_path("again.tmp");
    EXPECT_EQ(mdffil_sort(out_path.c_str(), again.c_str()), MDF_ALREADY_SORTED);
    EXPECT_FALSE(std::filesystem::exists(again));
}

TEST_F(MdfSortTest, CopyHoldsNoPositionOfTheInput) {
    Input input = two_groups();
    input.dgs[0].trigger = "trigger comment";
    input.dgs[0].groups[0].comment = "group comment";
    input.dgs[0].groups[0].channels = {"TIME", "A", "B", "C"};
    input.dgs[0].groups[0].record_size = 5;
    ASSERT_EQ(sort(input), 0);
    mdfbuild::Builder out = output();
    EXPECT_EQ(sortbuild::bad_link(out), "");
    std::vector<OutGroup> dgs = sortbuild::parse(out);
    ASSERT_EQ(dgs.size(), 2u);
    // Each DG has a TR of its own with its comment.
    EXPECT_NE(dgs[0].trigger, 0u);
    EXPECT_NE(dgs[1].trigger, 0u);
    EXPECT_NE(dgs[0].trigger, dgs[1].trigger);
    for (const OutGroup &g : dgs) {
        EXPECT_EQ(text_at(out, out.u32(g.trigger, TR_COMMENT)), "trigger comment");
        EXPECT_EQ(out.u16(g.trigger, TR_COUNT), 1);
    }
    // The group comment is copied; the other group has none.
    ASSERT_NE(dgs[1].cg_comment, 0u);
    EXPECT_EQ(text_at(out, dgs[1].cg_comment), "group comment");
    EXPECT_EQ(dgs[0].cg_comment, 0u);
    // Dependency links are not carried over; CC, CE and comments are copied.
    for (const OutGroup &g : dgs)
        for (uint32_t cn : g.cns) EXPECT_EQ(out.u32(cn, CN_DEPENDENCY), 0u);
    const std::vector<uint32_t> &cns = dgs[1].cns; // C, B, A, TIME
    ASSERT_EQ(cns.size(), 4u);
    EXPECT_NE(out.u32(cns[3], CN_CONVERSION), 0u);
    EXPECT_EQ(out.u32(cns[2], CN_CONVERSION), 0u);
    EXPECT_EQ(text_at(out, out.u32(cns[2], CN_COMMENT)), "comment of A");
    EXPECT_NE(out.u32(cns[1], CN_EXTENSION), 0u);
    EXPECT_EQ(out.u32(cns[0], CN_EXTENSION), 0u);
}

TEST_F(MdfSortTest, SeveralDataGroupsKeepTheirOwnRecords) {
    // Two unsorted DGs around a sorted one; the second unsorted DG has two identifier bytes
    // and reuses the first one's record identifiers.
    DataGroup first{.id_bytes = 1,
                    .groups = {Group{.record_id = 7, .record_size = 3},
                               Group{.record_id = 1, .record_size = 8},
                               Group{.record_id = 200, .record_size = 2}},
                    .order = sortbuild::shuffled_order({40, 25, 60}, 1)};
    DataGroup sorted{.id_bytes = 0,
                     .groups = {Group{.record_id = 0, .record_size = 5}},
                     .order = std::vector<int>(17, 0)};
    DataGroup second{.id_bytes = 2,
                     .groups = {Group{.record_id = 1, .record_size = 4},
                                Group{.record_id = 7, .record_size = 9}},
                     .order = sortbuild::shuffled_order({33, 21}, 2)};
    Input input{.dgs = {first, sorted, second}};
    ASSERT_EQ(sort(input), 0);
    mdfbuild::Builder out = output();
    EXPECT_EQ(sortbuild::bad_link(out), "");
    std::vector<OutGroup> dgs = sortbuild::parse(out);
    ASSERT_EQ(dgs.size(), 6u);
    EXPECT_EQ(out.u16(64, HD_DG_COUNT), 6);
    // Input group tags 0..5; the copy's DG chain runs from tag 5 down to tag 0.
    const uint16_t sizes[] = {3, 8, 2, 5, 4, 9};
    const uint32_t counts[] = {40, 25, 60, 17, 33, 21};
    for (uint32_t tag = 0; tag < 6; ++tag) {
        const OutGroup &g = dgs[5 - tag];
        EXPECT_EQ(g.record_size, sizes[tag]);
        EXPECT_EQ(area_records(out, g), expected(tag, counts[tag], sizes[tag])) << "tag " << tag;
        uint16_t n = static_cast<uint16_t>(6 - tag);
        EXPECT_EQ(read_group(out_path, n), read_group(in_path, static_cast<uint16_t>(tag + 1)))
            << "tag " << tag;
        EXPECT_EQ(read_channels(out_path, n, true),
                  read_channels(in_path, static_cast<uint16_t>(tag + 1), false))
            << "tag " << tag;
    }
    // The data areas lie one behind the other in input group order.
    for (uint32_t tag = 1; tag < 6; ++tag)
        EXPECT_EQ(dgs[5 - tag].data, dgs[6 - tag].data + sizes[tag - 1] * counts[tag - 1]);
}

TEST_F(MdfSortTest, BuffersOfVeryDifferentSizesKeepEveryRecord) {
    // A big group beyond the largest buffer, a group of records larger than the largest buffer,
    // small groups that take the carry, and a group without records; then a second unsorted
    // data group sorted with what is left of the budget.
    DataGroup big{.id_bytes = 1,
                  .groups = {Group{.record_id = 1, .record_size = 200},
                             Group{.record_id = 2, .record_size = 65535},
                             Group{.record_id = 3, .record_size = 1},
                             Group{.record_id = 4, .record_size = 7},
                             Group{.record_id = 5, .record_size = 50},
                             Group{.record_id = 6, .record_size = 12}},
                  .order = sortbuild::shuffled_order({3000, 3, 5, 1000, 2000, 0}, 3)};
    DataGroup rest{.id_bytes = 1,
                   .groups = {Group{.record_id = 1, .record_size = 16},
                              Group{.record_id = 2, .record_size = 3}},
                   .order = sortbuild::shuffled_order({700, 900}, 4)};
    Input input{.dgs = {big, rest}};
    ASSERT_EQ(sort(input), 0);
    mdfbuild::Builder out = output();
    EXPECT_EQ(sortbuild::bad_link(out), "");
    std::vector<OutGroup> dgs = sortbuild::parse(out);
    ASSERT_EQ(dgs.size(), 8u);
    const uint16_t sizes[] = {200, 65535, 1, 7, 50, 12, 16, 3};
    const uint32_t counts[] = {3000, 3, 5, 1000, 2000, 0, 700, 900};
    for (uint32_t tag = 0; tag < 8; ++tag) {
        const OutGroup &g = dgs[7 - tag];
        EXPECT_EQ(g.records, counts[tag]);
        EXPECT_EQ(area_records(out, g), expected(tag, counts[tag], sizes[tag])) << "tag " << tag;
    }
    // Groups that fit the record buffer of a group read back the same through the library.
    for (uint32_t tag : {0u, 3u, 4u, 6u, 7u})
        EXPECT_EQ(read_group(out_path, static_cast<uint16_t>(8 - tag)),
                  read_group(in_path, static_cast<uint16_t>(tag + 1)))
            << "tag " << tag;
}

TEST_F(MdfSortTest, RecordsOfSizeZeroAreCountedAndSkipped) {
    for (uint16_t id_bytes : {1, 2}) {
        DataGroup d{.id_bytes = id_bytes,
                    .groups = {Group{.record_id = 1, .record_size = 0, .channels = {}},
                               Group{.record_id = 2, .record_size = 3}},
                    .order = {0, 1, 0, 0, 1, 1, 0}};
        ASSERT_EQ(sort(Input{.dgs = {d}}), 0) << id_bytes;
        mdfbuild::Builder out = output();
        std::vector<OutGroup> dgs = sortbuild::parse(out);
        ASSERT_EQ(dgs.size(), 2u);
        EXPECT_EQ(dgs[1].records, 4u);
        EXPECT_EQ(dgs[1].record_size, 0);
        EXPECT_EQ(dgs[0].data, dgs[1].data);
        EXPECT_EQ(area_records(out, dgs[0]), expected(1, 3, 3));
    }
}

TEST_F(MdfSortTest, DamagedDataAreaLeavesNoOutput) {
    Input input = two_groups();
    mdfbuild::Builder b = sortbuild::build(input);
    // The fourth record's identifier byte names no group: 4 + 1 + 6 + 1 + 4 + 1 bytes in.
    uint32_t area = b.u32(b.u32(64, HD_FIRST_DG), DG_DATA);
    ASSERT_EQ(b.bytes.at(area + 17), 1);
    b.bytes[area + 17] = 9;
    in_path = save(b, "in.dat");
    out_path = mdfbuild::temp_path("out.tmp");
    mdfbuild::write_file(out_path, {1, 2, 3}); // an old copy must not survive either
    testing::internal::CaptureStdout();
    EXPECT_EQ(mdffil_sort(in_path.c_str(), out_path.c_str()), MDF_ERR_FORMAT);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[MDFLIB-ERROR] file format (at " + std::to_string(area + 17) +
                  ": identifier byte 9 of no channel group)\n\n");
    EXPECT_FALSE(output_exists());
    EXPECT_EQ(mdflib_state.level, 1);
    EXPECT_EQ(count_blocks(), 0);
    EXPECT_EQ(mdflib_last_error(), MDF_ERR_FORMAT);
    // The sticky error refuses the next sort.
    EXPECT_EQ(mdffil_sort(in_path.c_str(), out_path.c_str()), MDF_ERR_FORMAT);
}

TEST_F(MdfSortTest, InputsThatWouldMixGroupsAreRefused) {
    struct Case {
        const char *what;
        Input input;
    };
    auto with = [](auto change) {
        Input input = two_groups();
        change(input.dgs[0]);
        return input;
    };
    std::vector<Case> cases = {
        {"more records of one group than its CG declares", with([](DataGroup &d) {
             d.groups[0].declared = 2;
             d.order = {0, 0, 0, 1};
         })},
        {"fewer records in the area than declared",
         with([](DataGroup &d) { d.groups[1].declared = 3; })},
        {"several CGs without identifier bytes", with([](DataGroup &d) { d.id_bytes = 0; })},
        {"three identifier bytes", with([](DataGroup &d) { d.id_bytes = 3; })},
        {"two CGs with one identifier", with([](DataGroup &d) { d.groups[1].record_id = 1; })},
        {"blocks beyond 4 GB", with([](DataGroup &d) {
             d.groups[1].record_size = 65535;
             d.groups[1].declared = 70000;
         })},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(mdflib_init(""), 0);
        testing::internal::CaptureStdout();
        EXPECT_EQ(sort(c.input), MDF_ERR_FORMAT) << c.what;
        testing::internal::GetCapturedStdout();
        EXPECT_FALSE(output_exists()) << c.what;
        EXPECT_EQ(mdflib_state.level, 1) << c.what;
    }
    // A data area cut short.
    ASSERT_EQ(mdflib_init(""), 0);
    mdfbuild::Builder b = sortbuild::build(two_groups());
    b.bytes.resize(b.bytes.size() - 2);
    testing::internal::CaptureStdout();
    EXPECT_EQ(sort(b), MDF_ERR_FORMAT);
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(output_exists());
}

} // namespace
