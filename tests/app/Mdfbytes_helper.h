// A small MDF "2.00" writer for the end-to-end tests: the file is described as groups of channels
// with their values per record and written byte by byte, sorted (one data group per channel
// group) or unsorted (all channel groups in one data group, records interleaved, each led by its
// record identifier byte).
#ifndef TRAXCON_MDFBYTES_HELPER_H
#define TRAXCON_MDFBYTES_HELPER_H

#include <cstdint>
#include <string>
#include <vector>

struct mdfb_channel {
    std::string name;           // up to 32 bytes; 32 bytes fill the field without a zero byte
    uint16_t type = 0;          // 0 value channel, 1 time channel, anything else as given
    uint16_t bits = 32;         // 1 to 32
    uint16_t data_type = 2;     // 0 unsigned, 1 signed, 2 IEEE float
    int cc_type = -1;           // -1: no conversion block; else the conversion type
    std::vector<double> params; // formula parameters, or table pairs (raw, physical) flattened
    std::string formula;        // conversion type 10
    std::vector<double> values; // raw value per record (integers for data types 0 and 1)
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
};

// Writes the file; false when it cannot be written.
bool mdfb_write(const mdfb_file &file, const std::string &path);

// A time channel (float, seconds) and a value channel (float) named name.
mdfb_group mdfb_simple_group(const std::vector<double> &times, const std::vector<double> &values,
                             const std::string &name);

#endif
