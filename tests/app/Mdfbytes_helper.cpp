#include "Mdfbytes_helper.h"

#include "mdf_image.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

using image = mdf_image;

struct layout {
    std::vector<uint16_t> first_bit;
    uint16_t record_size = 0;
    std::size_t records = 0;
};

layout lay_out(const mdfb_group &g) {
    layout l;
    uint32_t next = 0;
    for (const mdfb_channel &c : g.channels) {
        uint32_t f = next;
        if (f % 8 != 0 && (c.bits > 8 || f / 8 != (f + c.bits - 1) / 8)) f = (f + 7) / 8 * 8;
        l.first_bit.push_back(static_cast<uint16_t>(f));
        next = f + c.bits;
        l.records = std::max(l.records, c.values.size());
    }
    l.record_size = static_cast<uint16_t>((next + 7) / 8);
    return l;
}

bool is_float(uint16_t t) {
    return t == 2 || t == 3 || t == 11 || t == 12 || t == 15 || t == 16;
}
bool is_integer(uint16_t t) {
    return t == 0 || t == 1 || t == 9 || t == 10 || t == 13 || t == 14;
}
bool big_endian(const mdfb_file &file, uint16_t t) {
    if (t >= 9 && t <= 12) return true;
    if (t >= 13 && t <= 16) return false;
    return file.big_endian && t <= 3;
}

uint64_t raw_bits(const mdfb_channel &c, double v) {
    if (is_float(c.data_type) && c.bits == 32) {
        float f = static_cast<float>(v);
        uint32_t bits = 0;
        std::memcpy(&bits, &f, 4);
        return bits;
    }
    if (is_float(c.data_type) && c.bits == 64) {
        uint64_t bits = 0;
        std::memcpy(&bits, &v, 8);
        return bits;
    }
    if (!is_integer(c.data_type)) return 0;
    if (v >= 9223372036854775808.0) return static_cast<uint64_t>(v);
    return static_cast<uint64_t>(static_cast<int64_t>(std::llround(v)));
}

// Bit b of a value at first bit f: little-endian, bit f + b of the record; big-endian, the bytes
// the field covers form one big-endian number whose bit (f mod 8) + b it is.
void put_record(std::vector<uint8_t> &record, const mdfb_file &file, const mdfb_group &g,
                const layout &l, std::size_t k) {
    std::fill(record.begin(), record.end(), 0);
    for (std::size_t j = 0; j < g.channels.size(); ++j) {
        const mdfb_channel &c = g.channels[j];
        if (k >= c.values.size()) continue;
        uint64_t raw = raw_bits(c, c.values[k]);
        const unsigned f = l.first_bit[j];
        const unsigned o = f % 8, covered = (o + c.bits + 7) / 8;
        for (uint16_t b = 0; b < c.bits && b < 64; ++b) {
            if (((raw >> b) & 1u) == 0) continue;
            unsigned byte = 0, bit = 0;
            if (big_endian(file, c.data_type)) {
                unsigned n = o + b; // bit of the big-endian number
                byte = f / 8 + covered - 1 - n / 8;
                bit = n % 8;
            } else {
                byte = (f + b) / 8;
                bit = (f + b) % 8;
            }
            record[byte] |= static_cast<uint8_t>(1u << bit);
        }
    }
}

// The channel groups' blocks; returns the position of the first CG and fills cgs.
void write_channels(image &f, std::size_t cg, const mdfb_file &file, const mdfb_group &g,
                    const layout &l) {
    const bool v3 = file.version >= 300;
    std::size_t previous_cn = 0;
    for (std::size_t j = 0; j < g.channels.size(); ++j) {
        const mdfb_channel &c = g.channels[j];
        std::size_t cn = f.block("CN", v3 ? 228 : 218);
        f.u32(previous_cn != 0 ? previous_cn + 4 : cg + 8, static_cast<uint32_t>(cn));
        previous_cn = cn;
        f.u16(cn + 24, c.type);
        f.text(cn + 26, c.name, 32);
        if (v3 && file.byte_offsets) {
            f.u16(cn + 186, static_cast<uint16_t>(l.first_bit[j] % 8));
            f.u16(cn + 226, static_cast<uint16_t>(l.first_bit[j] / 8));
        } else {
            f.u16(cn + 186, l.first_bit[j]);
        }
        f.u16(cn + 188, c.bits);
        f.u16(cn + 190, c.data_type);
        if (v3 && !c.long_name.empty()) {
            std::size_t tx = f.block("TX", 4 + c.long_name.size() + 1);
            f.text(tx + 4, c.long_name, c.long_name.size());
            f.u32(cn + 218, static_cast<uint32_t>(tx));
        }
        if (c.cc_type < 0) continue;
        std::size_t count = 0, bytes = 0;
        if (c.cc_type == 10) {
            count = (c.formula.size() + 8) / 8;
            bytes = 8 * count;
        } else if (c.cc_type == 1 || c.cc_type == 2) {
            count = c.params.size() / 2;
            bytes = 16 * count;
        } else {
            count = c.params.size();
            bytes = 8 * count;
        }
        std::size_t cc = f.block("CC", 46 + bytes);
        f.u32(cn + 8, static_cast<uint32_t>(cc));
        f.text(cc + 22, c.unit, 20);
        f.u16(cc + 42, static_cast<uint16_t>(c.cc_type));
        f.u16(cc + 44, static_cast<uint16_t>(count));
        if (c.cc_type == 10)
            f.text(cc + 46, c.formula, c.formula.size());
        else
            for (std::size_t i = 0; i < c.params.size(); ++i) f.real(cc + 46 + 8 * i, c.params[i]);
    }
}

} // namespace

mdfb_group mdfb_simple_group(const std::vector<double> &times, const std::vector<double> &values,
                             const std::string &name) {
    mdfb_group g;
    mdfb_channel time;
    time.name = "time";
    time.type = 1;
    time.values = times;
    mdfb_channel value;
    value.name = name;
    value.values = values;
    g.channels = {time, value};
    return g;
}

bool mdfb_write(const mdfb_file &file, const std::string &path) {
    image f;
    const bool v3 = file.version >= 300;
    std::size_t id = f.block(nullptr, 64);
    f.text(id, file.file_id, 8);
    char format[16];
    std::snprintf(format, sizeof format, "%u.%02u    ", file.version / 100u, file.version % 100u);
    f.text(id + 8, format, 8);
    f.text(id + 16, "TESTS", 8);
    f.u16(id + 24, file.big_endian ? 1 : 0);
    f.u16(id + 28, file.version);
    std::size_t hd = f.block("HD", v3 ? 208 : 164);
    f.text(hd + 18, file.date, 10);
    f.text(hd + 28, file.time, 8);
    f.text(hd + 36, file.author, 32);
    f.text(hd + 68, file.division, 32);
    f.text(hd + 100, file.project, 32);
    f.text(hd + 132, file.subject, 32);
    if (!file.comment.empty()) {
        std::size_t tx = f.block("TX", 4 + file.comment.size() + 1);
        f.text(tx + 4, file.comment, file.comment.size());
        f.u32(hd + 8, static_cast<uint32_t>(tx));
    }

    std::vector<layout> layouts;
    for (const mdfb_group &g : file.groups) layouts.push_back(lay_out(g));
    std::vector<std::size_t> dgs, cgs;
    const std::size_t dg_count = file.unsorted ? (file.groups.empty() ? 0 : 1) : file.groups.size();
    f.u16(hd + 16, static_cast<uint16_t>(dg_count));
    std::size_t previous_dg = 0, previous_cg = 0;
    for (std::size_t i = 0; i < file.groups.size(); ++i) {
        if (!file.unsorted || i == 0) {
            std::size_t dg = f.block("DG", v3 ? 28 : 24);
            f.u32(previous_dg != 0 ? previous_dg + 4 : hd + 4, static_cast<uint32_t>(dg));
            previous_dg = dg;
            dgs.push_back(dg);
            f.u16(dg + 20, static_cast<uint16_t>(file.unsorted ? file.groups.size() : 1));
            f.u16(dg + 22, file.unsorted ? file.id_bytes : 0);
            previous_cg = 0;
        }
        std::size_t cg = f.block("CG", v3 ? 30 : 26);
        f.u32(previous_cg != 0 ? previous_cg + 4 : dgs.back() + 8, static_cast<uint32_t>(cg));
        previous_cg = cg;
        cgs.push_back(cg);
        f.u16(cg + 16, static_cast<uint16_t>(file.unsorted ? i + 1 : 0));
        f.u16(cg + 18, static_cast<uint16_t>(file.groups[i].channels.size()));
        f.u16(cg + 20, layouts[i].record_size);
        f.u32(cg + 22, static_cast<uint32_t>(layouts[i].records));
        write_channels(f, cg, file, file.groups[i], layouts[i]);
    }

    // Data: sorted, each group's records together; unsorted, round-robin with identifier bytes.
    std::vector<uint8_t> record;
    if (!file.unsorted) {
        for (std::size_t i = 0; i < file.groups.size(); ++i) {
            f.u32(dgs[i] + 16, static_cast<uint32_t>(f.data.size()));
            record.assign(layouts[i].record_size + 4u, 0);
            for (std::size_t k = 0; k < layouts[i].records; ++k) {
                put_record(record, file, file.groups[i], layouts[i], k);
                f.data.insert(f.data.end(), record.begin(),
                              record.begin() + layouts[i].record_size);
            }
        }
    } else if (!dgs.empty()) {
        f.u32(dgs[0] + 16, static_cast<uint32_t>(f.data.size()));
        std::size_t most = 0;
        for (const layout &l : layouts) most = std::max(most, l.records);
        for (std::size_t k = 0; k < most; ++k)
            for (std::size_t i = 0; i < file.groups.size(); ++i) {
                if (k >= layouts[i].records) continue;
                record.assign(layouts[i].record_size + 4u, 0);
                put_record(record, file, file.groups[i], layouts[i], k);
                f.data.push_back(static_cast<uint8_t>(i + 1));
                f.data.insert(f.data.end(), record.begin(),
                              record.begin() + layouts[i].record_size);
                if (file.id_bytes == 2) f.data.push_back(static_cast<uint8_t>(i + 1));
            }
    }

    std::FILE *out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    bool ok = std::fwrite(f.data.data(), 1, f.data.size(), out) == f.data.size();
    return std::fclose(out) == 0 && ok;
}
