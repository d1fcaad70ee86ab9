// An MDF 3.x file written byte by byte from a description of its groups, channels and record
// values, without the library (which creates 2.00 files only): the 3.30 sample recording of
// examples/, the fuzzer's 3.x seeds and the 3.x base file of the damaged-file suite.
//
// The blocks have the sizes given in the description (by default those of version 3.30: HD 208,
// DG 28, CG 30, CN 228; smaller ones leave out the fields they cannot hold) and stand in this
// order: ID, HD, the file comment, then per data group its DG and per channel group its CG, the
// group comment and per channel its CN, the comment, long-name and display-name TX blocks, the
// CC and the TX blocks of a value-range-to-text CC. The data areas follow all blocks, in data
// group order.
//
// Sorted (id_bytes 0): one data group per channel group. Unsorted (id_bytes 1 or 2): all channel
// groups in one data group, every record led by its group's record identifier byte (and followed
// by it too with 2 identifier bytes), the records in the order given (round-robin by default).
#pragma once

#include "mdf_image.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// One entry of a value-to-text conversion (type 11).
struct mdf3_value_text {
    double value;
    std::string text; // CHAR[32]: 32 characters fill the field without a zero byte
};

// One entry of a value-range-to-text conversion (type 12); its text goes into a TX block.
struct mdf3_range_text {
    double lower;
    double upper;
    std::string text;
};

struct mdf3_conversion {
    int type = -1; // -1: no CC block
    std::string unit;
    // Types 0 and 6 to 9: P1, P2, ...; types 1 and 2: (raw, physical) pairs flattened.
    std::vector<double> params;
    std::string formula;                      // type 10, written with its zero byte
    std::vector<mdf3_value_text> value_texts; // type 11
    std::vector<mdf3_range_text> range_texts; // type 12
};

struct mdf3_channel {
    uint16_t type = 0;        // 0 value channel, 1 time channel
    std::string name;         // the short name, CHAR[32]
    std::string long_name;    // a TX block linked at offset 218 (empty: none)
    std::string display_name; // a TX block linked at offset 222 (empty: none)
    std::string description;  // CHAR[128]
    std::string comment;      // a TX block linked at offset 20 (empty: none)
    uint16_t first_bit = 0;   // the CN's first bit, counted from the additional byte offset
    uint16_t byte_offset = 0; // the additional byte offset (CN of 228 bytes)
    uint16_t bits = 8;
    uint16_t data_type = 0;
    double rate = 0; // the CN's sampling rate field
    mdf3_conversion cc;
    // The field's bits per record (floats: mdf_image::double_bits / float_bits); data types 7
    // and 8 take their bytes from `bytes` instead, zero-padded to bits / 8.
    std::vector<uint64_t> fields;
    std::vector<std::string> bytes;

    std::size_t records() const {
        return data_type == 7 || data_type == 8 ? bytes.size() : fields.size();
    }
    unsigned position() const { return 8u * byte_offset + first_bit; }
};

struct mdf3_group {
    uint16_t record_id = 1;
    std::string comment; // a TX block linked at CG offset 12 (empty: none)
    std::vector<mdf3_channel> channels;
    uint16_t record_size = 0; // 0: the smallest size that holds every channel
};

struct mdf3_file {
    uint16_t version = 330;
    std::string format = "3.30";
    std::string program = "MDF3WRIT";
    uint16_t byte_order = 0; // 0 little-endian, 1 big-endian (data types 0 to 3)
    uint16_t float_format = 0;
    uint16_t hd_size = 208;
    uint16_t dg_size = 28;
    uint16_t cg_size = 30;
    uint16_t cn_size = 228;
    std::string date = "01:02:2024";
    std::string time = "10:11:12";
    std::string comment; // the file comment (empty: none)
    std::string author, division, project, subject;
    std::vector<mdf3_group> groups;
    uint16_t id_bytes = 0; // 0 sorted; 1 or 2: unsorted, all groups in one data group
    // Unsorted: the group index (into groups) of every record in turn; empty: round-robin.
    std::vector<std::size_t> order;
};

namespace mdf3 {

// The low `bits` bits of the raw count of a physical value through a linear conversion (offset +
// factor x), rounded, two's complement for negatives.
inline uint64_t raw_count(double physical, double offset, double factor, unsigned bits) {
    const auto raw = static_cast<int64_t>(std::llround((physical - offset) / factor));
    return static_cast<uint64_t>(raw) & ((uint64_t{1} << bits) - 1);
}

// A linear conversion (type 0): physical = offset + factor x.
inline mdf3_conversion linear(double offset, double factor, const char *unit) {
    mdf3_conversion cc;
    cc.type = 0;
    cc.params = {offset, factor};
    cc.unit = unit;
    return cc;
}

// The byte order of a data type's values in a file of the given default byte order.
inline bool big_endian_type(uint16_t data_type, uint16_t byte_order) {
    if (data_type >= 9 && data_type <= 12) return true;
    if (data_type <= 3) return byte_order != 0;
    return false;
}

inline uint16_t record_size(const mdf3_group &g) {
    if (g.record_size != 0) return g.record_size;
    unsigned end = 0;
    for (const mdf3_channel &c : g.channels) end = std::max(end, c.position() + c.bits);
    return static_cast<uint16_t>((end + 7) / 8);
}

inline std::size_t records(const mdf3_group &g) {
    std::size_t n = 0;
    for (const mdf3_channel &c : g.channels) n = std::max(n, c.records());
    return n;
}

// Record k of group g: record_size bytes appended to f.
inline void put_record(mdf_image &f, const mdf3_group &g, std::size_t k, uint16_t byte_order) {
    const std::size_t at = f.block(nullptr, record_size(g));
    for (const mdf3_channel &c : g.channels) {
        if (c.data_type == 7 || c.data_type == 8) {
            if (k < c.bytes.size())
                f.text(at + c.position() / 8, c.bytes[k],
                       std::min<std::size_t>(c.bits / 8, c.bytes[k].size()));
        } else if (k < c.fields.size() && c.bits > 0) {
            f.put_value(at, c.position(), std::min<unsigned>(c.bits, 64), c.fields[k],
                        big_endian_type(c.data_type, byte_order));
        }
    }
}

inline std::size_t conversion(mdf_image &f, const mdf3_conversion &cc) {
    // The parameter count field and the bytes of one parameter (or table entry).
    std::size_t count = cc.params.size(), entry = 8;
    if (cc.type == 1 || cc.type == 2) {
        count = cc.params.size() / 2;
        entry = 16;
    } else if (cc.type == 10) {
        count = (cc.formula.size() + 8) / 8;
    } else if (cc.type == 11) {
        count = cc.value_texts.size();
        entry = 40;
    } else if (cc.type == 12) {
        count = cc.range_texts.size();
        entry = 20;
    }
    const std::size_t area = entry * count;
    // The texts of a type-12 conversion stand before it.
    std::vector<std::size_t> texts;
    for (const mdf3_range_text &r : cc.range_texts) texts.push_back(f.text_block(r.text));
    const std::size_t at = f.block("CC", 46 + area);
    f.text(at + 22, cc.unit, 20);
    f.u16(at + 42, static_cast<uint16_t>(cc.type));
    f.u16(at + 44, static_cast<uint16_t>(count));
    const std::size_t p = at + 46;
    if (cc.type == 10) {
        f.text(p, cc.formula, cc.formula.size());
    } else if (cc.type == 11) {
        for (std::size_t i = 0; i < cc.value_texts.size(); ++i) {
            f.real(p + 40 * i, cc.value_texts[i].value);
            f.text(p + 40 * i + 8, cc.value_texts[i].text, 32);
        }
    } else if (cc.type == 12) {
        for (std::size_t i = 0; i < cc.range_texts.size(); ++i) {
            f.real(p + 20 * i, cc.range_texts[i].lower);
            f.real(p + 20 * i + 8, cc.range_texts[i].upper);
            f.link(p + 20 * i + 16, texts[i]);
        }
    } else {
        for (std::size_t i = 0; i < cc.params.size(); ++i) f.real(p + 8 * i, cc.params[i]);
    }
    return at;
}

inline void channels(mdf_image &f, std::size_t cg, const mdf3_file &file, const mdf3_group &g) {
    std::size_t previous = 0;
    for (const mdf3_channel &c : g.channels) {
        const std::size_t cn = f.block("CN", file.cn_size);
        f.link(previous != 0 ? previous + 4 : cg + 8, cn);
        previous = cn;
        f.u16(cn + 24, c.type);
        f.text(cn + 26, c.name, 32);
        f.text(cn + 58, c.description, 128);
        f.u16(cn + 186, c.first_bit);
        f.u16(cn + 188, c.bits);
        f.u16(cn + 190, c.data_type);
        f.real(cn + 210, c.rate);
        if (file.cn_size >= 228) f.u16(cn + 226, c.byte_offset);
        if (!c.comment.empty()) f.link(cn + 20, f.text_block(c.comment));
        if (!c.long_name.empty() && file.cn_size >= 222)
            f.link(cn + 218, f.text_block(c.long_name));
        if (!c.display_name.empty() && file.cn_size >= 226)
            f.link(cn + 222, f.text_block(c.display_name));
        if (c.cc.type >= 0) f.link(cn + 8, conversion(f, c.cc));
    }
}

// The whole file as bytes.
inline std::vector<uint8_t> write(const mdf3_file &file) {
    mdf_image f;
    const std::size_t id = f.block(nullptr, 64);
    f.text(id, "MDF     ", 8);
    f.text(id + 8, (file.format + "        ").substr(0, 8), 8);
    f.text(id + 16, file.program, 8);
    f.u16(id + 24, file.byte_order);
    f.u16(id + 26, file.float_format);
    f.u16(id + 28, file.version);
    const std::size_t hd = f.block("HD", file.hd_size);
    f.text(hd + 18, file.date, 10);
    f.text(hd + 28, file.time, 8);
    f.text(hd + 36, file.author, 32);
    f.text(hd + 68, file.division, 32);
    f.text(hd + 100, file.project, 32);
    f.text(hd + 132, file.subject, 32);
    if (!file.comment.empty()) f.link(hd + 8, f.text_block(file.comment));

    const bool unsorted = file.id_bytes != 0;
    std::vector<std::size_t> dgs;
    std::size_t previous_cg = 0;
    for (std::size_t i = 0; i < file.groups.size(); ++i) {
        const mdf3_group &g = file.groups[i];
        if (!unsorted || i == 0) {
            const std::size_t dg = f.block("DG", file.dg_size);
            f.link(dgs.empty() ? hd + 4 : dgs.back() + 4, dg);
            dgs.push_back(dg);
            f.u16(dg + 20, static_cast<uint16_t>(unsorted ? file.groups.size() : 1));
            f.u16(dg + 22, file.id_bytes);
            previous_cg = 0;
        }
        const std::size_t cg = f.block("CG", file.cg_size);
        f.link(previous_cg != 0 ? previous_cg + 4 : dgs.back() + 8, cg);
        previous_cg = cg;
        f.u16(cg + 16, g.record_id);
        f.u16(cg + 18, static_cast<uint16_t>(g.channels.size()));
        f.u16(cg + 20, record_size(g));
        f.u32(cg + 22, static_cast<uint32_t>(records(g)));
        if (!g.comment.empty()) f.link(cg + 12, f.text_block(g.comment));
        channels(f, cg, file, g);
    }
    f.u16(hd + 16, static_cast<uint16_t>(dgs.size()));

    if (!unsorted) {
        for (std::size_t i = 0; i < file.groups.size(); ++i) {
            f.link(dgs[i] + 16, f.data.size());
            for (std::size_t k = 0; k < records(file.groups[i]); ++k)
                put_record(f, file.groups[i], k, file.byte_order);
        }
    } else if (!dgs.empty()) {
        f.link(dgs[0] + 16, f.data.size());
        std::vector<std::size_t> order = file.order;
        if (order.empty()) {
            std::size_t most = 0;
            for (const mdf3_group &g : file.groups) most = std::max(most, records(g));
            for (std::size_t k = 0; k < most; ++k)
                for (std::size_t i = 0; i < file.groups.size(); ++i)
                    if (k < records(file.groups[i])) order.push_back(i);
        }
        std::vector<std::size_t> next(file.groups.size(), 0);
        for (std::size_t i : order) {
            const mdf3_group &g = file.groups[i];
            const auto id_byte = static_cast<uint8_t>(g.record_id);
            f.data.push_back(id_byte);
            put_record(f, g, next[i]++, file.byte_order);
            if (file.id_bytes == 2) f.data.push_back(id_byte);
        }
    }
    return f.data;
}

inline bool save(const std::vector<uint8_t> &bytes, const std::string &path) {
    std::FILE *out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return std::fclose(out) == 0 && ok;
}

} // namespace mdf3
