// A small MDF writer for the end-to-end tests: the file is described as groups of channels with
// their values per record and written byte by byte, sorted (one data group per channel group) or
// unsorted (all channel groups in one data group, records interleaved, each led by its record
// identifier byte, and followed by it too with two identifier bytes). Version 2.00 by default;
// from version 3.00 on the blocks have the 3.x sizes (HD 208, DG 28, CG 30, CN 228), long names
// go into TX blocks and first bits may be split into an additional byte offset.
#ifndef TRAXCON_MDFBYTES_HELPER_H
#define TRAXCON_MDFBYTES_HELPER_H

#include <cstdint>
#include <string>
#include <vector>

struct mdfb_channel {
    std::string name;           // up to 32 bytes; 32 bytes fill the field without a zero byte
    std::string long_name;      // version 3.x: a TX block linked as the long name (empty: none)
    uint16_t type = 0;          // 0 value channel, 1 time channel, anything else as given
    uint16_t bits = 32;         // 1 to 64
    uint16_t data_type = 2;     // 0/1 integers, 2/3 IEEE (by bits), 9-16 with their byte order;
                                // other types (strings ...) are written as zero bytes
    int cc_type = -1;           // -1: no conversion block; else the conversion type
    std::vector<double> params; // formula parameters, or table pairs (raw, physical) flattened
    std::string formula;        // conversion type 10
    std::vector<double> values; // raw value per record (integers for the integer types)
    std::string unit;           // the conversion block's unit
};

struct mdfb_group {
    std::vector<mdfb_channel> channels;
};

struct mdfb_file {
    std::string date = "01:02:2024";
    std::string time = "10:11:12";
    std::string comment = "test measurement";
    std::string author = "tester";
    std::string division = "division";
    std::string project = "project";
    std::string subject = "subject";
    std::vector<mdfb_group> groups;
    bool unsorted = false; // all groups in one data group, records taken round-robin
    uint16_t id_bytes = 1; // record identifier bytes of an unsorted file (1 or 2)
    uint16_t version = 200;     // ID version number; 300 and above: 3.x block sizes
    const char *file_id = "MDF     ";
    bool big_endian = false;    // the ID's default byte order
    bool byte_offsets = false;  // 3.x: first bits split into byte offset and bit (0 to 7)
};

// Writes the file; false when it cannot be written.
bool mdfb_write(const mdfb_file &file, const std::string &path);

// A time channel (float, seconds) and a value channel (float) named name.
mdfb_group mdfb_simple_group(const std::vector<double> &times, const std::vector<double> &values,
                             const std::string &name);

#endif
