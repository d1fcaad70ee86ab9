// Unsorted MDF inputs and the parsing of sorted copies, on top of the test-side byte builder.
#include "Sortbuild_helper.h"

#include <random>
#include <set>

namespace sortbuild {

std::vector<uint8_t> record_bytes(uint32_t tag, uint32_t k, uint16_t size) {
    std::vector<uint8_t> data(size);
    uint32_t x = tag * 1000003u + k * 7919u + 1u;
    for (uint16_t j = 0; j < size; ++j) {
        x = x * 1103515245u + 12345u;
        data[j] = static_cast<uint8_t>(x >> 16);
    }
    return data;
}

mdfbuild::Builder build(const Input &input) {
    mdfbuild::Builder b;
    b.id();
    uint32_t hd = b.hd({.author = "sorter", .dg_count = static_cast<uint16_t>(input.dgs.size())});
    if (input.program) b.link(hd, 12, b.pr({1, 2, 3, 4, 5}));
    if (input.comment != nullptr) b.link(hd, 8, b.tx(input.comment));
    std::vector<uint32_t> dgs;
    uint32_t tag = 0;
    for (const DataGroup &d : input.dgs) {
        uint32_t dg = b.dg(static_cast<uint16_t>(d.groups.size()), d.id_bytes);
        dgs.push_back(dg);
        if (d.trigger != nullptr) {
            uint32_t text = b.tx(d.trigger);
            uint32_t tr = b.tr({{1.5, 0.25, 0.5}});
            b.link(tr, 4, text);
            b.link(dg, 12, tr);
        }
        std::vector<uint32_t> placed(d.groups.size(), 0);
        for (int g : d.order) ++placed.at(g);
        std::vector<uint32_t> cgs;
        for (std::size_t g = 0; g < d.groups.size(); ++g) {
            const Group &grp = d.groups[g];
            uint32_t records = grp.declared < 0 ? placed[g] : static_cast<uint32_t>(grp.declared);
            uint32_t cg = b.cg(grp.record_id, static_cast<uint16_t>(grp.channels.size()),
                               grp.record_size, records);
            if (grp.comment != nullptr) b.link(cg, 12, b.tx(grp.comment));
            std::vector<uint32_t> cns;
            for (std::size_t i = 0; i < grp.channels.size(); ++i) {
                uint32_t cn = b.cn({.type = static_cast<uint16_t>(i == 0 ? 1 : 0),
                                    .name = grp.channels[i].c_str(),
                                    .first_bit = static_cast<uint16_t>(8 * i),
                                    .bits = 8});
                if (i == 0) b.link(cn, 8, b.cc(0, {0.0, 1.0}, "s"));
                if (i == 1) b.link(cn, 20, b.tx("comment of " + grp.channels[i]));
                if (i == 2) b.link(cn, 12, b.ce(1, 24));
                b.link(cn, 16, b.block("CD", 20));
                cns.push_back(cn);
            }
            b.chain(cg, 8, cns, 4);
            cgs.push_back(cg);
        }
        b.chain(dg, 8, cgs, 4);
        b.link(dg, 16, b.size());
        std::vector<uint32_t> next(d.groups.size(), 0);
        for (int g : d.order) {
            const Group &grp = d.groups[g];
            b.record(d.id_bytes, static_cast<uint8_t>(grp.record_id),
                     record_bytes(tag + g, next[g]++, grp.record_size));
        }
        tag += static_cast<uint32_t>(d.groups.size());
    }
    b.chain(hd, 4, dgs, 4);
    return b;
}

std::vector<int> shuffled_order(const std::vector<uint32_t> &counts, uint32_t seed) {
    std::vector<int> order;
    for (std::size_t g = 0; g < counts.size(); ++g)
        order.insert(order.end(), counts[g], static_cast<int>(g));
    std::mt19937 random(seed);
    for (std::size_t i = order.size(); i > 1; --i) std::swap(order[i - 1], order[random() % i]);
    return order;
}

std::vector<OutGroup> parse(const mdfbuild::Builder &file) {
    std::vector<OutGroup> out;
    for (uint32_t dg = file.u32(64, 4); dg != 0 && out.size() < 100000;) {
        OutGroup o;
        o.dg = dg;
        o.next_dg = file.u32(dg, 4);
        o.cg = file.u32(dg, 8);
        o.trigger = file.u32(dg, 12);
        o.data = file.u32(dg, 16);
        o.cg_count = file.u16(dg, 20);
        o.id_bytes = file.u16(dg, 22);
        if (o.cg != 0) {
            o.next_cg = file.u32(o.cg, 4);
            o.cg_comment = file.u32(o.cg, 12);
            o.record_id = file.u16(o.cg, 16);
            o.channel_count = file.u16(o.cg, 18);
            o.record_size = file.u16(o.cg, 20);
            o.records = file.u32(o.cg, 22);
            for (uint32_t cn = file.u32(o.cg, 8); cn != 0 && o.cns.size() < 1000;
                 cn = file.u32(cn, 4)) {
                o.cns.push_back(cn);
                std::string name;
                for (uint32_t i = 0; i < 32 && file.bytes.at(cn + 26 + i) != 0; ++i)
                    name += static_cast<char>(file.bytes.at(cn + 26 + i));
                o.names.push_back(name);
            }
        }
        out.push_back(o);
        dg = o.next_dg;
    }
    return out;
}

namespace {

struct LinkChecker {
    const mdfbuild::Builder &file;
    std::set<uint32_t> seen;
    std::string bad;

    // Checks the link at block+offset; gives its target (0 for none or a bad link).
    uint32_t target(uint32_t block, uint16_t offset, const char *type) {
        uint32_t pos = file.u32(block, offset);
        if (pos == 0 || !bad.empty()) return 0;
        bool fits = pos + 4 <= file.size() && file.bytes[pos] == type[0] &&
                    file.bytes[pos + 1] == type[1] && pos + file.u16(pos, 2) <= file.size();
        if (!fits) {
            bad = "link at " + std::to_string(block) + "+" + std::to_string(offset) + " to " +
                  std::to_string(pos) + " is no " + type + " block of the file";
            return 0;
        }
        return seen.insert(pos).second ? pos : 0;
    }

    void cn(uint32_t pos) {
        for (; pos != 0; pos = target(pos, 4, "CN")) {
            target(pos, 8, "CC");
            target(pos, 12, "CE");
            target(pos, 16, "CD");
            target(pos, 20, "TX");
        }
    }
    void dg(uint32_t pos) {
        for (; pos != 0; pos = target(pos, 4, "DG")) {
            if (uint32_t tr = target(pos, 12, "TR")) target(tr, 4, "TX");
            uint64_t area = 0;
            for (uint32_t cg = target(pos, 8, "CG"); cg != 0; cg = target(cg, 4, "CG")) {
                target(cg, 12, "TX");
                cn(target(cg, 8, "CN"));
                area += uint64_t{file.u16(cg, 20)} * file.u32(cg, 22);
            }
            if (bad.empty() && area > 0 && file.u32(pos, 16) + area > file.size())
                bad = "data area of DG " + std::to_string(pos) + " beyond the file";
        }
    }
};

} // namespace

std::string bad_link(const mdfbuild::Builder &file) {
    LinkChecker check{file, {}, {}};
    check.target(64, 8, "TX");
    check.target(64, 12, "PR");
    check.dg(check.target(64, 4, "DG"));
    return check.bad;
}

} // namespace sortbuild
