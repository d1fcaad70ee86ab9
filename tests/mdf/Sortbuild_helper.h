// Test-side description of (unsorted) MDF input files and of the sorted copies made from them:
// a file is built from data groups, their channel groups and the order of the records in each
// data area; a sorted copy is parsed back block by block without MDFLIB.
#pragma once

#include "Mdfbuild_helper.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sortbuild {

// One channel group of an input file. Its channels are 8-bit unsigned value channels at bits
// 0, 8, 16, ... (the first one a time channel), named by `channels` in chain order. The first
// channel has a linear CC, the second a comment TX, the third a CE; every channel has a CD link.
struct Group {
    uint16_t record_id = 1;
    uint16_t record_size = 4;
    std::vector<std::string> channels = {"TIME", "VALUE"};
    int64_t declared = -1;         // the CG's number of records; -1: the records placed
    const char *comment = nullptr; // CG comment text (a TX block), none when null
};

struct DataGroup {
    uint16_t id_bytes = 1;
    std::vector<Group> groups;
    std::vector<int> order;        // the data area: index into groups of each record, in order
    const char *trigger = nullptr; // a TR block with one event and this comment, none when null
};

struct Input {
    std::vector<DataGroup> dgs;
    bool program = true;             // a PR block
    const char *comment = "sorting"; // the file comment, none when null
};

// The data bytes of record k of the group numbered tag (every group's records differ).
std::vector<uint8_t> record_bytes(uint32_t tag, uint32_t k, uint16_t size);

// The file: group tags count from 0 over all data groups in order. Record k of a group carries
// record_bytes(tag, k, record_size).
mdfbuild::Builder build(const Input &input);

// A data group order of n records over groups 0..groups-1, pseudo-random but fixed by seed,
// holding exactly counts[g] records of group g.
std::vector<int> shuffled_order(const std::vector<uint32_t> &counts, uint32_t seed);

// One DG of a sorted copy, as found along the HD's DG chain.
struct OutGroup {
    uint32_t dg = 0, cg = 0;
    uint32_t next_dg = 0, trigger = 0, data = 0;
    uint16_t cg_count = 0, id_bytes = 0;
    uint16_t record_id = 0, channel_count = 0, record_size = 0;
    uint32_t records = 0;
    uint32_t next_cg = 0, cg_comment = 0;
    std::vector<uint32_t> cns;      // CN chain order
    std::vector<std::string> names; // short names along the CN chain
};

// The DG chain of a sorted copy (at most 100000 DGs are followed).
std::vector<OutGroup> parse(const mdfbuild::Builder &file);

// Every link field of every block reachable from the HD: the empty text when each names 0 or a
// block of the right type that lies wholly inside the file, otherwise a description of the
// first bad link.
std::string bad_link(const mdfbuild::Builder &file);

} // namespace sortbuild
