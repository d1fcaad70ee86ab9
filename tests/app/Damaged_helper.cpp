#include "Damaged_helper.h"

#include <unistd.h>

#include "Mdfbytes_helper.h"
#include "mdf3_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------------------------
// The base file
// ---------------------------------------------------------------------------------------------

mdfb_channel channel(const std::string &name, uint16_t type, uint16_t bits, uint16_t data_type,
                     int cc_type, std::vector<double> params, std::vector<double> values) {
    mdfb_channel c;
    c.name = name;
    c.type = type;
    c.bits = bits;
    c.data_type = data_type;
    c.cc_type = cc_type;
    c.params = std::move(params);
    c.values = std::move(values);
    return c;
}

mdfb_file base_measurement(bool unsorted) {
    mdfb_file f;
    f.unsorted = unsorted;
    f.comment = "damaged-file suite\nbase measurement";
    mdfb_group g1;
    g1.channels = {
        channel("time", 1, 32, 0, 0, {0.0, 0.001}, {0, 100, 200, 300, 400, 500, 600, 700}),
        channel("speed", 0, 32, 2, -1, {}, {0, 1.5, 3, 4.5, 6, 7.5, 9, 10.5}),
        channel("temp", 0, 16, 1, 1, {-100, -10, 0, 20, 100, 90}, {-50, 0, 10, 50, 80, 90, 5, 1}),
    };
    mdfb_group g2;
    g2.channels = {
        channel("t2", 1, 32, 2, -1, {}, {0.05, 0.2, 0.35, 0.5, 0.65, 0.8}),
        channel("flag", 0, 1, 0, -1, {}, {0, 1, 1, 0, 1, 0}),
        channel("mode", 0, 3, 0, 10, {}, {0, 1, 2, 3, 4, 5}),
        channel("level", 0, 12, 0, 2, {0, 0, 1000, 50, 4095, 100}, {0, 500, 1500, 3000, 4000, 9}),
    };
    g2.channels[2].formula = "X*2+1";
    mdfb_group g3;
    g3.channels = {
        channel("t3", 1, 32, 2, 65535, {}, {0.1, 0.3, 0.5, 0.7, 0.9}),
        channel("poly", 0, 32, 2, 6, {-1, 0, 0, -1, 0, 0}, {1, 2, 3, 4, 5}),
        channel("rat", 0, 32, 2, 9, {0, 1, 0, 0, 0, 1}, {5, 4, 3, 2, 1}),
    };
    f.groups = {g1, g2, g3};
    return f;
}

// The field bits of doubles and floats.
std::vector<uint64_t> doubles(std::initializer_list<double> values) {
    std::vector<uint64_t> bits;
    for (double v : values) bits.push_back(mdf_image::double_bits(v));
    return bits;
}
std::vector<uint64_t> floats(std::initializer_list<float> values) {
    std::vector<uint64_t> bits;
    for (float v : values) bits.push_back(mdf_image::float_bits(v));
    return bits;
}

mdf3_channel channel330(const std::string &name, uint16_t type, uint16_t data_type, uint16_t bits,
                        uint16_t first_bit, std::vector<uint64_t> fields, int cc_type = -1,
                        std::vector<double> params = {}) {
    mdf3_channel c;
    c.name = name;
    c.type = type;
    c.data_type = data_type;
    c.bits = bits;
    c.first_bit = first_bit;
    c.fields = std::move(fields);
    c.cc.type = cc_type;
    c.cc.params = std::move(params);
    return c;
}

// The same measurement as MDF 3.30: the groups at the same times, with the data types and
// conversions of the later versions.
mdf3_file base_measurement_330(bool unsorted) {
    mdf3_file f;
    f.program = "DAMAGED";
    f.id_bytes = unsorted ? 2 : 0;
    f.comment = "damaged-file suite\nbase measurement, MDF 3.30";
    f.author = "tester";
    // Group 1, 19-byte records: a double time (little-endian), a big-endian float with a long
    // and a display name, a big-endian signed table input, a 40-bit counter from bit 0 of the
    // additional byte offset 14.
    mdf3_group g1;
    g1.record_id = 1;
    mdf3_channel speed =
        channel330("speed", 0, 11, 32, 64, floats({0, 1.5f, 3, 4.5f, 6, 7.5f, 9, 10.5f}));
    speed.long_name = "vehicle speed over ground filtered";
    speed.display_name = "speed";
    mdf3_channel counter = channel330(
        "counter", 0, 13, 40, 0,
        {0, 1, uint64_t{1} << 32, (uint64_t{1} << 39) + 5, 1000, 7, (uint64_t{1} << 40) - 1, 3}, 0,
        {0.0, 0.5});
    counter.byte_offset = 14;
    g1.channels = {
        channel330("time", 1, 3, 64, 0, doubles({0, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7})),
        speed,
        channel330("temp", 0, 10, 16, 96, {uint64_t(-50) & 0xFFFF, 0, 10, 50, 80, 90, 5, 1}, 1,
                   {-100, -10, 0, 20, 100, 90}),
        counter,
    };
    // Group 2, 15-byte records: a big-endian double time, a bit, a value-to-text channel, a
    // big-endian 12-bit range-to-text channel from bit 76 (byte 9 and the high nibble of
    // byte 10), a string.
    mdf3_group g2;
    g2.record_id = 2;
    mdf3_channel mode = channel330("mode", 0, 0, 3, 65, {0, 1, 2, 3, 0, 1});
    mode.cc.type = 11;
    mode.cc.value_texts = {{0, "idle"}, {1, "start"}, {2, "run"}, {3, "stop"}};
    mdf3_channel level = channel330("level", 0, 9, 12, 76, {0, 500, 1500, 3000, 4000, 9});
    level.cc.type = 12;
    level.cc.range_texts = {
        {0, 0, "unknown"}, {0, 999, "low"}, {1000, 2999, "mid"}, {3000, 4095, "high"}};
    mdf3_channel text = channel330("text", 0, 7, 32, 88, {});
    text.bytes = {"a", "bb", "ccc", "dddd", "e", "f"};
    g2.channels = {
        channel330("t2", 1, 12, 64, 0, doubles({0.05, 0.2, 0.35, 0.5, 0.65, 0.8})),
        channel330("flag", 0, 0, 1, 64, {0, 1, 1, 0, 1, 0}),
        mode,
        level,
        text,
    };
    // Group 3, 24-byte records: a little-endian double time (type 16) with a one-to-one
    // conversion, a 3.x polynomial, a rational function, a signed 64-bit integer.
    mdf3_group g3;
    g3.record_id = 3;
    g3.channels = {
        channel330("t3", 1, 16, 64, 0, doubles({0.1, 0.3, 0.5, 0.7, 0.9}), 65535),
        channel330("poly", 0, 15, 32, 64, floats({1, 2, 3, 4, 5}), 6, {-1, 0, 0, -1, 0, 0}),
        channel330("rat", 0, 2, 32, 96, floats({5, 4, 3, 2, 1}), 9, {0, 1, 0, 0, 0, 1}),
        channel330("wide", 0, 14, 64, 128,
                   {~uint64_t{0}, uint64_t{1} << 62, uint64_t{1} << 63, 0, 12345}),
    };
    f.groups = {g1, g2, g3};
    return f;
}

dmg_bytes read_bytes(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return dmg_bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Appends a block to extra (which will stand at file position base) and returns its position.
uint32_t add_block(dmg_bytes &extra, uint32_t base, const char *type, uint16_t size) {
    uint32_t at = base + static_cast<uint32_t>(extra.size());
    std::size_t i = extra.size();
    extra.resize(i + size, 0);
    extra[i] = static_cast<uint8_t>(type[0]);
    extra[i + 1] = static_cast<uint8_t>(type[1]);
    dmg_set_u16(extra, i + 2, size);
    return at;
}

uint32_t add_text(dmg_bytes &extra, uint32_t base, const std::string &text) {
    uint32_t at = add_block(extra, base, "TX", static_cast<uint16_t>(4 + text.size() + 1));
    std::memcpy(&extra[at - base + 4], text.data(), text.size());
    return at;
}

// ---------------------------------------------------------------------------------------------
// The map
// ---------------------------------------------------------------------------------------------

struct mapper {
    const dmg_bytes &f;
    dmg_map m;
    std::set<uint32_t> seen;

    bool valid_block(uint32_t pos) const {
        return pos != 0 && uint64_t{pos} + 4 <= f.size() &&
               uint64_t{pos} + dmg_u16(f, pos + 2) <= f.size();
    }
    // Adds the block at pos (once) and returns whether it is new.
    bool add(uint32_t pos, const std::string &name) {
        if (!valid_block(pos) || !seen.insert(pos).second) return false;
        dmg_block b;
        b.pos = pos;
        b.type = std::string(reinterpret_cast<const char *>(&f[pos]), 2);
        b.size = dmg_u16(f, pos + 2);
        b.name = name;
        m.blocks.push_back(b);
        return true;
    }
    void link(uint32_t owner, const std::string &owner_name, uint16_t offset, const char *what) {
        dmg_link l;
        l.field = owner + offset;
        l.owner = owner;
        l.value = dmg_u32(f, owner + offset);
        l.name = owner_name + " +" + std::to_string(offset) + " (" + what + ")";
        m.links.push_back(l);
    }
    uint32_t at(uint32_t owner, uint16_t offset) const { return dmg_u32(f, owner + offset); }

    void text(uint32_t owner, const std::string &owner_name, uint16_t offset, const char *what) {
        link(owner, owner_name, offset, what);
        add(at(owner, offset), std::string(what) + " of " + owner_name);
    }

    void channel(uint32_t cn, const std::string &name, uint16_t record_size) {
        link(cn, name, 4, "next CN");
        link(cn, name, 8, "CC");
        link(cn, name, 12, "CE");
        link(cn, name, 16, "CD");
        link(cn, name, 20, "TX");
        dmg_cn c;
        c.pos = cn;
        c.name = name;
        c.size = dmg_u16(f, cn + 2);
        c.first_bit = dmg_u16(f, cn + 186);
        if (c.size >= 228) c.byte_offset = dmg_u16(f, cn + 226);
        c.bits = dmg_u16(f, cn + 188);
        c.record_size = record_size;
        m.cns.push_back(c);
        uint32_t cc = at(cn, 8);
        if (add(cc, "CC of " + name)) {
            dmg_cc k;
            k.pos = cc;
            k.name = "CC of " + name;
            k.type = dmg_u16(f, cc + 42);
            k.count = dmg_u16(f, cc + 44);
            k.size = dmg_u16(f, cc + 2);
            m.ccs.push_back(k);
            // The texts of a value-range-to-text conversion, one link per entry.
            for (uint32_t i = 0; k.type == 12 && i < k.count && 46 + 20 * (i + 1) <= k.size; ++i)
                text(cc, k.name, static_cast<uint16_t>(46 + 20 * i + 16),
                     ("range text " + std::to_string(i + 1)).c_str());
        }
        add(at(cn, 12), "CE of " + name);
        add(at(cn, 16), "CD of " + name);
        add(at(cn, 20), "TX of " + name);
        if (c.size >= 222) text(cn, name, 218, "long name");
        if (c.size >= 226) text(cn, name, 222, "display name");
    }

    void records(uint32_t dg, const std::string &name, const std::vector<dmg_cg> &cgs) {
        dmg_data_area d;
        d.pos = at(dg, 16);
        d.id_bytes = dmg_u16(f, dg + 22);
        d.name = "data of " + name;
        uint64_t length = 0;
        for (const dmg_cg &cg : cgs) length += uint64_t{cg.records} * (cg.record_size + d.id_bytes);
        d.length = static_cast<uint32_t>(length);
        uint64_t p = d.pos;
        if (d.id_bytes == 0) {
            for (uint32_t k = 0; !cgs.empty() && k < cgs.front().records; ++k)
                d.records.push_back(
                    static_cast<uint32_t>(p + uint64_t{k} * cgs.front().record_size));
        } else {
            while (p < d.pos + length && p < f.size()) {
                d.records.push_back(static_cast<uint32_t>(p));
                uint8_t id = f[p];
                auto cg = std::find_if(cgs.begin(), cgs.end(),
                                       [&](const dmg_cg &c) { return c.record_id == id; });
                if (cg == cgs.end()) break;
                p += cg->record_size + d.id_bytes;
            }
        }
        m.data.push_back(d);
    }

    void walk() {
        m.blocks.push_back({0, "ID", 64, "ID"});
        add(64, "HD");
        link(64, "HD", 4, "first DG");
        text(64, "HD", 8, "TX");
        link(64, "HD", 12, "PR");
        add(at(64, 12), "PR of HD");
        uint32_t group = 0;
        uint32_t dg_number = 0;
        for (uint32_t dg = at(64, 4); add(dg, "DG " + std::to_string(dg_number + 1));
             dg = at(dg, 4)) {
            std::string dg_name = "DG " + std::to_string(++dg_number);
            m.dgs.push_back(dg);
            link(dg, dg_name, 4, "next DG");
            link(dg, dg_name, 8, "first CG");
            link(dg, dg_name, 12, "TR");
            link(dg, dg_name, 16, "data");
            uint32_t tr = at(dg, 12);
            if (add(tr, "TR of " + dg_name)) text(tr, "TR of " + dg_name, 4, "TX");
            std::vector<dmg_cg> cgs;
            for (uint32_t cg = at(dg, 8); add(cg, "CG " + std::to_string(group + 1));
                 cg = at(cg, 4)) {
                std::string cg_name = "CG " + std::to_string(++group);
                link(cg, cg_name, 4, "next CG");
                link(cg, cg_name, 8, "first CN");
                text(cg, cg_name, 12, "TX");
                // The sample-reduction link of a CG of 30 bytes, which the library does not follow.
                if (dmg_u16(f, cg + 2) >= 30) link(cg, cg_name, 26, "SR");
                dmg_cg c;
                c.pos = cg;
                c.name = cg_name;
                c.size = dmg_u16(f, cg + 2);
                c.record_id = dmg_u16(f, cg + 16);
                c.record_size = dmg_u16(f, cg + 20);
                c.records = dmg_u32(f, cg + 22);
                cgs.push_back(c);
                m.cgs.push_back(c);
                uint32_t number = 0;
                for (uint32_t cn = at(cg, 8);
                     add(cn, "CN " + std::to_string(group) + "." + std::to_string(number + 1));
                     cn = at(cn, 4))
                    channel(cn, "CN " + std::to_string(group) + "." + std::to_string(++number),
                            c.record_size);
            }
            records(dg, dg_name, cgs);
        }
    }
};

dmg_case mutated(const dmg_bytes &file, const std::string &name) {
    return dmg_case{name, file};
}

} // namespace

uint16_t dmg_u16(const dmg_bytes &b, std::size_t at) {
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
uint32_t dmg_u32(const dmg_bytes &b, std::size_t at) {
    return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
           (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
void dmg_set_u16(dmg_bytes &b, std::size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void dmg_set_u32(dmg_bytes &b, std::size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

dmg_map dmg_map_file(const dmg_bytes &file) {
    mapper m{file, {}, {}};
    m.walk();
    return m.m;
}

bool dmg_unsorted(dmg_base base) {
    return base == dmg_base::unsorted || base == dmg_base::unsorted_330;
}

const char *dmg_base_name(dmg_base base) {
    switch (base) {
    case dmg_base::sorted: return "sorted";
    case dmg_base::unsorted: return "unsorted";
    case dmg_base::sorted_330: return "sorted 3.30";
    case dmg_base::unsorted_330: return "unsorted 3.30";
    }
    return "";
}

dmg_bytes dmg_base_file(dmg_base base) {
    const bool unsorted = dmg_unsorted(base);
    dmg_bytes plain;
    if (base == dmg_base::sorted_330 || base == dmg_base::unsorted_330) {
        plain = mdf3::write(base_measurement_330(unsorted));
    } else {
        // A name of this process's own: the test processes of one suite run side by side.
        fs::path path = fs::temp_directory_path() /
                        (std::string("traxcon_damaged_base_") + (unsorted ? "u" : "s") + "_" +
                         std::to_string(getpid()) + ".dat");
        EXPECT_TRUE(mdfb_write(base_measurement(unsorted), path.string()));
        plain = read_bytes(path);
        fs::remove(path);
    }
    dmg_map map = dmg_map_file(plain);

    // The further blocks go between the blocks and the data area, so that a cut in the data area
    // leaves the whole tree readable.
    uint32_t data_start = static_cast<uint32_t>(plain.size());
    for (const dmg_data_area &d : map.data) data_start = std::min(data_start, d.pos);
    dmg_bytes extra;
    auto link = [&](uint32_t field, uint32_t target) {
        if (field >= data_start)
            dmg_set_u32(extra, field - data_start, target);
        else
            dmg_set_u32(plain, field, target);
    };
    uint32_t pr = add_block(extra, data_start, "PR", 4 + 12);
    std::memcpy(&extra[pr - data_start + 4], "program data", 12);
    link(64 + 12, pr);
    uint32_t tr = add_block(extra, data_start, "TR", 10 + 24);
    dmg_set_u16(extra, tr - data_start + 8, 1);
    link(map.dgs.front() + 12, tr);
    link(tr + 4, add_text(extra, data_start, "trigger"));
    for (const dmg_cg &cg : map.cgs) link(cg.pos + 12, add_text(extra, data_start, cg.name));
    // The first channel of every group has a comment; the second of group 1 a CE and a CD block.
    std::set<std::string> groups_seen;
    for (const dmg_cn &cn : map.cns) {
        if (groups_seen.insert(cn.name.substr(0, cn.name.find('.'))).second)
            link(cn.pos + 20, add_text(extra, data_start, "comment of " + cn.name));
        if (cn.name == "CN 1.2") {
            uint32_t ce = add_block(extra, data_start, "CE", 128);
            dmg_set_u16(extra, ce - data_start + 4, 2);
            link(cn.pos + 12, ce);
            link(cn.pos + 16, add_block(extra, data_start, "CD", 20));
        }
    }
    dmg_bytes file(plain.begin(), plain.begin() + data_start);
    file.insert(file.end(), extra.begin(), extra.end());
    file.insert(file.end(), plain.begin() + data_start, plain.end());
    for (uint32_t dg : map.dgs) dmg_set_u32(file, dg + 16, dmg_u32(file, dg + 16) + extra.size());
    return file;
}

// ---------------------------------------------------------------------------------------------
// Mutations
// ---------------------------------------------------------------------------------------------

std::vector<dmg_case> dmg_truncations(const dmg_bytes &file, const dmg_map &map) {
    std::set<uint32_t> cuts = {1, 3, 33, 63};
    for (const dmg_block &b : map.blocks) {
        cuts.insert(b.pos);
        cuts.insert(b.pos + 2);
        cuts.insert(b.pos + b.size);
    }
    for (const dmg_data_area &d : map.data) {
        cuts.insert(d.pos + 1);
        cuts.insert(d.pos + d.length / 2);
        cuts.insert(d.pos + d.length - 1);
        if (!d.records.empty()) {
            uint32_t middle = d.records[d.records.size() / 2];
            cuts.insert(middle);
            cuts.insert(middle + 1);
            cuts.insert(d.records.back());
        }
    }
    std::vector<dmg_case> cases;
    for (uint32_t cut : cuts) {
        if (cut == 0 || cut >= file.size()) continue;
        std::string where;
        for (const dmg_block &b : map.blocks)
            if (cut >= b.pos && cut <= b.pos + b.size) where = b.name;
        for (const dmg_data_area &d : map.data)
            if (cut >= d.pos && cut < d.pos + d.length) where = d.name;
        dmg_case c{"cut at " + std::to_string(cut) + " (" + where + ")",
                   dmg_bytes(file.begin(), file.begin() + cut)};
        cases.push_back(std::move(c));
    }
    return cases;
}

std::vector<dmg_case> dmg_link_damage(const dmg_bytes &file, const dmg_map &map) {
    std::vector<dmg_case> cases;
    const auto size = static_cast<uint32_t>(file.size());
    for (const dmg_link &l : map.links) {
        auto add = [&](uint32_t value, const std::string &what) {
            if (value == l.value) return;
            dmg_case c = mutated(file, l.name + " -> " + what);
            dmg_set_u32(c.bytes, l.field, value);
            cases.push_back(std::move(c));
        };
        add(0, "0");
        add(l.owner, "itself");
        add(size + 64, "past the end");
        add(0xFFFFFFF0u, "0xFFFFFFF0");
        // Into the middle of the block that follows the owner in the map (of the target, for
        // a link that names one), and into the middle of a CN, whose text fields read as
        // headers of size 0.
        const dmg_block *other = nullptr;
        for (std::size_t i = 0; i < map.blocks.size(); ++i)
            if (map.blocks[i].pos == (l.value != 0 ? l.value : l.owner))
                other = &map.blocks[(i + 1 < map.blocks.size() && l.value == 0) ? i + 1 : i];
        if (other != nullptr && other->pos != 0)
            add(other->pos + other->size / 2, "middle of " + other->name);
        add(map.cns.back().pos + 100, "middle of " + map.cns.back().name);
    }
    return cases;
}

std::vector<dmg_case> dmg_block_sizes(const dmg_bytes &file, const dmg_map &map) {
    // The sizes at which the blocks of the versions take further fields, and one byte below:
    // a block read with fewer fields than it has, or with the next block's bytes as its fields.
    static const std::map<std::string, std::vector<uint16_t>> version_sizes = {
        {"HD", {163, 164, 207, 208}},
        {"DG", {23, 24, 27, 28}},
        {"CG", {25, 26, 29, 30}},
        {"CN", {217, 218, 221, 222, 225, 226, 227, 228}},
        {"CC", {45, 46}}};
    std::vector<dmg_case> cases;
    for (const dmg_block &b : map.blocks) {
        if (b.type == "ID") continue;
        std::vector<uint16_t> sizes = {0, 1, 2, 3, 65535};
        auto more = version_sizes.find(b.type);
        if (more != version_sizes.end())
            for (uint16_t size : more->second)
                if (size != b.size) sizes.push_back(size);
        for (uint16_t size : sizes) {
            dmg_case c = mutated(file, b.name + " size " + std::to_string(size));
            dmg_set_u16(c.bytes, b.pos + 2, size);
            cases.push_back(std::move(c));
        }
    }
    return cases;
}

std::vector<dmg_case> dmg_record_counts(const dmg_bytes &file, const dmg_map &map) {
    std::vector<dmg_case> cases;
    for (const dmg_cg &cg : map.cgs) {
        for (uint32_t records : {0u, cg.records + 1, cg.records * 100, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
            dmg_case c = mutated(file, cg.name + " records " + std::to_string(records));
            dmg_set_u32(c.bytes, cg.pos + 22, records);
            cases.push_back(std::move(c));
        }
        for (uint16_t size : {0, cg.record_size + 1, 65535}) {
            dmg_case c = mutated(file, cg.name + " record size " + std::to_string(size));
            dmg_set_u16(c.bytes, cg.pos + 20, static_cast<uint16_t>(size));
            cases.push_back(std::move(c));
        }
    }
    return cases;
}

std::vector<dmg_case> dmg_identifiers(const dmg_bytes &file, const dmg_map &map) {
    std::vector<dmg_case> cases;
    for (const dmg_data_area &d : map.data) {
        if (d.id_bytes > 0 && !d.records.empty()) {
            for (std::size_t k : {std::size_t{0}, d.records.size() / 2, d.records.size() - 1})
                for (uint8_t id : {0, 0x7F, 0xFF}) {
                    dmg_case c = mutated(file, d.name + " record " + std::to_string(k) +
                                                   " identifier " + std::to_string(id));
                    c.bytes[d.records[k]] = id;
                    cases.push_back(std::move(c));
                    if (d.id_bytes != 2) continue;
                    // The identifier byte behind the record: the last byte before the next one.
                    const uint32_t end =
                        k + 1 < d.records.size() ? d.records[k + 1] : d.pos + d.length;
                    dmg_case t = mutated(file, d.name + " record " + std::to_string(k) +
                                                   " trailing identifier " + std::to_string(id));
                    t.bytes[end - 1] = id;
                    cases.push_back(std::move(t));
                }
        }
    }
    for (uint32_t dg : map.dgs)
        for (uint16_t r : {0, 1, 2, 3, 0xFFFF}) {
            if (r == dmg_u16(file, dg + 22)) continue;
            dmg_case c = mutated(file, "DG at " + std::to_string(dg) + " identifier bytes " +
                                           std::to_string(r));
            dmg_set_u16(c.bytes, dg + 22, r);
            cases.push_back(std::move(c));
        }
    for (const dmg_cg &cg : map.cgs)
        for (uint16_t id : {0, 0x7F, 0x101, 0xFFFF, static_cast<int>(map.cgs.front().record_id)}) {
            if (id == cg.record_id) continue;
            dmg_case c = mutated(file, cg.name + " record identifier " + std::to_string(id));
            dmg_set_u16(c.bytes, cg.pos + 16, id);
            cases.push_back(std::move(c));
        }
    return cases;
}

// Puts a channel's value at bit `first` of the record: the CN's first bit counts from its
// additional byte offset, which is set to 0 where it lies beyond.
void place(dmg_bytes &bytes, const dmg_cn &cn, uint32_t first) {
    uint32_t base = 8u * cn.byte_offset;
    if (first < base) {
        dmg_set_u16(bytes, cn.pos + 226, 0);
        base = 0;
    }
    dmg_set_u16(bytes, cn.pos + 186, static_cast<uint16_t>(first - base));
}

std::vector<dmg_case> dmg_bit_positions(const dmg_bytes &file, const dmg_map &map) {
    std::vector<dmg_case> cases;
    for (const dmg_cn &cn : map.cns) {
        const uint32_t record_bits = cn.record_size * 8u;
        auto add = [&](uint32_t first, uint32_t bits) {
            dmg_case c = mutated(file, cn.name + " first bit " + std::to_string(first) + " bits " +
                                           std::to_string(bits));
            place(c.bytes, cn, first);
            dmg_set_u16(c.bytes, cn.pos + 188, static_cast<uint16_t>(bits));
            cases.push_back(std::move(c));
        };
        add(record_bits, cn.bits);               // just beyond the record
        add(record_bits - cn.bits + 1, cn.bits); // its last bit beyond the record
        add(65535, cn.bits);                     // far beyond
        add(cn.position(), 0);                   // no bits
        add(cn.position(), 33);                  // more than 32 bits
        add(cn.position(), 65535);
        add(cn.position() | 7, cn.bits < 32 ? cn.bits + 1 : cn.bits); // unaligned, wider
        for (uint32_t bits : {64u, 65u})                              // the widest, one more
            if (bits != cn.bits) add(cn.position(), bits);
        if (cn.size < 228) continue;
        // The additional byte offset alone: beyond the record, far beyond, and so that the
        // value's last byte lies beyond.
        for (uint32_t offset :
             {uint32_t{cn.record_size}, 65535u, (record_bits - cn.first_bit - cn.bits) / 8 + 1}) {
            dmg_case c = mutated(file, cn.name + " byte offset " + std::to_string(offset));
            dmg_set_u16(c.bytes, cn.pos + 226, static_cast<uint16_t>(offset));
            cases.push_back(std::move(c));
        }
    }
    return cases;
}

std::vector<dmg_case> dmg_parameter_counts(const dmg_bytes &file, const dmg_map &map) {
    std::vector<dmg_case> cases;
    for (const dmg_cc &cc : map.ccs) {
        // Bytes of one parameter or table entry.
        const uint32_t entry = (cc.type == 1 || cc.type == 2) ? 16
                               : cc.type == 11                ? 40
                               : cc.type == 12                ? 20
                                                              : 8;
        const uint32_t fit = (cc.size - 46u) / entry;
        for (uint32_t count : {0u, fit + 1, 2 * fit + 7, 65535u}) {
            if (count == cc.count) continue;
            dmg_case c = mutated(file, cc.name + " (type " + std::to_string(cc.type) +
                                           ") parameter count " + std::to_string(count));
            dmg_set_u16(c.bytes, cc.pos + 44, static_cast<uint16_t>(count));
            cases.push_back(std::move(c));
        }
        if (cc.type == 10) {
            // A formula text that fills its block without a terminating zero byte.
            dmg_case c = mutated(file, cc.name + " formula without its zero byte");
            for (uint32_t i = cc.pos + 46; i < cc.pos + cc.size; ++i) c.bytes[i] = '9';
            cases.push_back(std::move(c));
        }
    }
    return cases;
}

std::vector<dmg_case> dmg_value_types(const dmg_bytes &file, const dmg_map &map) {
    std::vector<dmg_case> cases;
    for (const dmg_cn &cn : map.cns) {
        for (uint16_t type : {3, 5, 7, 12, 16, 17, 0xFFFF}) {
            dmg_case c = mutated(file, cn.name + " data type " + std::to_string(type));
            dmg_set_u16(c.bytes, cn.pos + 190, type);
            cases.push_back(std::move(c));
        }
        for (uint16_t type : {2, 0xFFFF}) {
            dmg_case c = mutated(file, cn.name + " channel type " + std::to_string(type));
            dmg_set_u16(c.bytes, cn.pos + 24, type);
            cases.push_back(std::move(c));
        }
    }
    for (const dmg_cc &cc : map.ccs)
        for (uint16_t type : {3, 11, 12, 132, 0xFFFE}) {
            dmg_case c = mutated(file, cc.name + " conversion type " + std::to_string(type));
            dmg_set_u16(c.bytes, cc.pos + 42, type);
            cases.push_back(std::move(c));
        }
    return cases;
}

std::vector<dmg_case> dmg_id_block(const dmg_bytes &file, const dmg_map &map) {
    std::vector<dmg_case> cases;
    auto add = [&](const std::string &name, std::size_t at, const std::string &bytes) {
        dmg_case c = mutated(file, name);
        std::memcpy(&c.bytes[at], bytes.data(), bytes.size());
        cases.push_back(std::move(c));
    };
    add("file identifier MDX", 0, "MDX");
    add("file identifier in lower case", 0, "mdf");
    add("format identifier 3.00", 8, "3.00");
    add("reserved byte 32 set", 32, "\x01");
    add("reserved byte 33 set", 33, "\xFF");
    add("byte order 1", 24, std::string("\x01\x00", 2));
    add("file identifier UnFinMF", 0, "UnFinMF ");
    // Version numbers, and the format identifier where the number is 0.
    for (uint16_t version : {200, 300, 330, 399, 400, 0xFFFF}) {
        if (version == dmg_u16(file, 28)) continue;
        dmg_case c = mutated(file, "version " + std::to_string(version));
        dmg_set_u16(c.bytes, 28, version);
        cases.push_back(std::move(c));
    }
    for (const char *format : {"2.00", "3.30", "4.10", "9.x ", "x.00"}) {
        dmg_case c = mutated(file, std::string("version 0, format identifier ") + format);
        dmg_set_u16(c.bytes, 28, 0);
        std::memcpy(&c.bytes[8], format, 4);
        cases.push_back(std::move(c));
    }
    for (uint16_t format : {1, 2, 3, 0xFFFF}) {
        dmg_case c = mutated(file, "float format " + std::to_string(format));
        dmg_set_u16(c.bytes, 26, format);
        cases.push_back(std::move(c));
    }
    // VAX formats with a CE block of extension type 1, whose REAL values are converted, cut
    // below the size those values need.
    for (const dmg_block &b : map.blocks) {
        if (b.type != "CE") continue;
        for (uint16_t size : {6, 16, 23}) {
            dmg_case c = mutated(file, "float format 1, " + b.name + " of type 1, size " +
                                           std::to_string(size));
            dmg_set_u16(c.bytes, 26, 1);
            dmg_set_u16(c.bytes, b.pos + 4, 1);
            dmg_set_u16(c.bytes, b.pos + 2, size);
            cases.push_back(std::move(c));
        }
    }
    return cases;
}

std::vector<dmg_case> dmg_count_fields(const dmg_bytes &file, const dmg_map &map) {
    std::vector<dmg_case> cases;
    auto add16 = [&](const std::string &name, uint32_t at, uint16_t value) {
        if (dmg_u16(file, at) == value) return;
        dmg_case c = mutated(file, name + " " + std::to_string(value));
        dmg_set_u16(c.bytes, at, value);
        cases.push_back(std::move(c));
    };
    for (uint16_t n : {0, 1, 2, 200, 0xFFFF}) add16("HD data group count", 64 + 16, n);
    for (std::size_t i = 0; i < map.dgs.size(); ++i)
        for (uint16_t n : {0, 1, 2, 3, 0xFFFF})
            add16("DG " + std::to_string(i + 1) + " channel group count", map.dgs[i] + 20, n);
    for (const dmg_cg &cg : map.cgs)
        for (uint16_t n : {0, 1, 100, 0xFFFF}) add16(cg.name + " channel count", cg.pos + 18, n);
    for (const dmg_block &b : map.blocks)
        if (b.type == "TR")
            for (uint16_t n : {0, 2, 0xFFFF}) add16(b.name + " event count", b.pos + 8, n);
    return cases;
}

std::vector<dmg_case> dmg_texts(const dmg_bytes &file, const dmg_map &map) {
    std::vector<dmg_case> cases;
    auto fill = [&](const std::string &name, uint32_t at, uint32_t length,
                    const std::string &with) {
        dmg_case c = mutated(file, name);
        for (uint32_t i = 0; i < length; ++i)
            c.bytes[at + i] = static_cast<uint8_t>(with[i % with.size()]);
        cases.push_back(std::move(c));
    };
    // Fixed-width fields filled to the last byte, without a zero byte; texts with format
    // directives and bytes beyond ASCII.
    fill("HD date and time without zero bytes", 64 + 18, 18, "9");
    fill("HD date with directives", 64 + 18, 10, "%s%n");
    fill("HD author, division, project, subject without zero bytes", 64 + 36, 128, "A");
    fill("HD author with directives", 64 + 36, 31, "%s%d%n%%");
    fill("HD subject beyond ASCII", 64 + 132, 31, "\xE4\xF6\xFC\xFF\x01\x1A");
    for (const dmg_cn &cn : map.cns) {
        fill(cn.name + " name without zero byte", cn.pos + 26, 32, "N");
        fill(cn.name + " description without zero byte", cn.pos + 58, 128, "D");
        fill(cn.name + " empty name", cn.pos + 26, 32, std::string(1, '\0'));
    }
    for (const dmg_block &b : map.blocks) {
        if (b.type != "TX") continue;
        fill(b.name + " without zero byte", b.pos + 4, b.size - 4u, "T");
        fill(b.name + " with directives and line breaks", b.pos + 4, b.size - 5u, "%s\n%n\r");
        if (b.name.rfind("long name", 0) != 0) continue;
        cases.back().shared_columns = true;
        // An empty long name: the channel is named as if it had none.
        fill(b.name + " empty", b.pos + 4, 1, std::string(1, '\0'));
    }
    // The 32-byte texts of value-to-text conversions filled to their last byte.
    for (const dmg_cc &cc : map.ccs) {
        if (cc.type != 11) continue;
        for (uint32_t i = 0; i < cc.count && 46 + 40 * (i + 1) <= cc.size; ++i)
            fill(cc.name + " text " + std::to_string(i + 1) + " without zero byte",
                 cc.pos + 46 + 40 * i + 8, 32, "V%s");
    }
    return cases;
}

std::vector<dmg_case> dmg_empty_records(const dmg_bytes &file, const dmg_map &map) {
    std::vector<dmg_case> cases;
    for (const dmg_cg &cg : map.cgs) {
        for (uint32_t records : {100u, 1000000u, 0xFFFFFFFFu}) {
            dmg_case c = mutated(file, cg.name + " records of 0 bytes, " + std::to_string(records) +
                                           " of them");
            dmg_set_u16(c.bytes, cg.pos + 20, 0);
            dmg_set_u32(c.bytes, cg.pos + 22, records);
            for (const dmg_cn &cn : map.cns)
                if (cn.name.rfind("CN " + cg.name.substr(3) + ".", 0) == 0) {
                    dmg_set_u16(c.bytes, cn.pos + 186, 0);
                    dmg_set_u16(c.bytes, cn.pos + 188, 0);
                    dmg_set_u16(c.bytes, cn.pos + 190, 0);
                    if (cn.size >= 228) dmg_set_u16(c.bytes, cn.pos + 226, 0);
                }
            cases.push_back(std::move(c));
        }
    }
    return cases;
}
