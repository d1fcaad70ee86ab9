// Damaged MDF files for the end-to-end robustness suite: a valid multi-group base file (MDF 2.00
// or 3.30, sorted or unsorted) that carries every kind of block, a map of its blocks, links and
// records read from its bytes, and the damaged copies made from it, one per mutation, each with a
// name that says what was changed.
#ifndef TRAXCON_DAMAGED_HELPER_H
#define TRAXCON_DAMAGED_HELPER_H

#include <cstdint>
#include <string>
#include <vector>

using dmg_bytes = std::vector<uint8_t>;

// The base measurement: three groups with time channels of several data types and conversions
// (linear, tables with and without interpolation, formula text, polynomial, rational), a bit
// channel and packed channels; a file comment, a PR block, a TR block with its comment, group and
// channel comments, a CE and a CD block. Unsorted: all groups in one data group, records
// interleaved with identifier bytes.
// MDF 2.00 (written by Mdfbytes_helper): one identifier byte when unsorted.
// MDF 3.30 (written by tools/mdf3_writer.h): blocks of the 3.30 sizes (HD 208, DG 28, CG 30,
// CN 228), double time channels of both byte orders, big- and little-endian integers and floats,
// a 40-bit integer at an additional byte offset, a 64-bit integer, long and display names,
// value-to-text and range-to-text conversions and a string channel (which the converter leaves
// out); two identifier bytes when unsorted.
enum class dmg_base { sorted, unsorted, sorted_330, unsorted_330 };
bool dmg_unsorted(dmg_base base);
// "sorted", "unsorted", "sorted 3.30", "unsorted 3.30".
const char *dmg_base_name(dmg_base base);
dmg_bytes dmg_base_file(dmg_base base);

// One block of the tree as found by following the links from the HD block.
struct dmg_block {
    uint32_t pos = 0;
    std::string type; // "HD", "DG", ...
    uint16_t size = 0;
    std::string name; // e.g. "CN 2.1" (group 2, channel 1 in chain order), "TX of CG 3"
};

// One link field of a block of the tree.
struct dmg_link {
    uint32_t field = 0; // file position of the link field
    uint32_t owner = 0; // position of the block that holds it
    uint32_t value = 0; // its value in the base file
    std::string name;   // e.g. "CN 2.1 +8 (CC)"
};

struct dmg_cg {
    uint32_t pos = 0;
    std::string name;
    uint16_t size = 0;
    uint16_t record_size = 0;
    uint32_t records = 0;
    uint16_t record_id = 0;
};

struct dmg_cn {
    uint32_t pos = 0;
    std::string name;
    uint16_t size = 0;        // 218; 222 with a long-name link, 228 with the byte offset
    uint16_t first_bit = 0;   // the CN's field, counted from the additional byte offset
    uint16_t byte_offset = 0; // the additional byte offset (0 in a CN without it)
    uint16_t bits = 0;
    uint16_t record_size = 0; // of its group
    uint32_t position() const { return 8u * byte_offset + first_bit; }
};

struct dmg_cc {
    uint32_t pos = 0;
    std::string name;
    uint16_t type = 0;
    uint16_t count = 0;
    uint16_t size = 0;
};

struct dmg_data_area {
    uint32_t pos = 0;
    uint32_t length = 0;
    uint16_t id_bytes = 0;
    std::vector<uint32_t> records; // position of every record (its identifier byte when r > 0)
    std::string name;
};

struct dmg_map {
    std::vector<dmg_block> blocks; // ID block first, then in the order met
    std::vector<dmg_link> links;
    std::vector<dmg_cg> cgs;
    std::vector<dmg_cn> cns;
    std::vector<dmg_cc> ccs;
    std::vector<dmg_data_area> data;
    std::vector<uint32_t> dgs; // positions of the DG blocks
};

// Maps a valid file (the walk trusts it: give it a base file or a valid example).
dmg_map dmg_map_file(const dmg_bytes &file);

// One damaged copy. shared_columns: the damage puts characters outside the ADF name set into a
// column name (a long name), so that a column may read back with several names.
struct dmg_case {
    std::string name;
    dmg_bytes bytes;
    bool shared_columns = false;
};

// The mutation families, each applied wherever it can be applied in the file.
std::vector<dmg_case> dmg_truncations(const dmg_bytes &file, const dmg_map &map);
std::vector<dmg_case> dmg_link_damage(const dmg_bytes &file, const dmg_map &map);
std::vector<dmg_case> dmg_block_sizes(const dmg_bytes &file, const dmg_map &map);
std::vector<dmg_case> dmg_record_counts(const dmg_bytes &file, const dmg_map &map);
std::vector<dmg_case> dmg_identifiers(const dmg_bytes &file, const dmg_map &map);
std::vector<dmg_case> dmg_bit_positions(const dmg_bytes &file, const dmg_map &map);
std::vector<dmg_case> dmg_parameter_counts(const dmg_bytes &file, const dmg_map &map);
std::vector<dmg_case> dmg_value_types(const dmg_bytes &file, const dmg_map &map);
std::vector<dmg_case> dmg_id_block(const dmg_bytes &file, const dmg_map &map);
std::vector<dmg_case> dmg_count_fields(const dmg_bytes &file, const dmg_map &map);
std::vector<dmg_case> dmg_texts(const dmg_bytes &file, const dmg_map &map);
// Damage in several places at once that makes a file as cheap to read as possible per record:
// records of no bytes in any number.
std::vector<dmg_case> dmg_empty_records(const dmg_bytes &file, const dmg_map &map);

uint16_t dmg_u16(const dmg_bytes &b, std::size_t at);
uint32_t dmg_u32(const dmg_bytes &b, std::size_t at);
void dmg_set_u16(dmg_bytes &b, std::size_t at, uint16_t v);
void dmg_set_u32(dmg_bytes &b, std::size_t at, uint32_t v);

#endif
