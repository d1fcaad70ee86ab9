// Writes the seed files of the MDF fuzz harness into a directory (fuzz/corpus/mdf), built with the
// tests' own MDF builder, so that the fuzzer starts from files that reach every part of the
// library: sorted and unsorted data groups, one and two identifier bytes, every data type, every
// conversion type, formula texts (terminated and filling their block), a VAX float file, texts
// and extension blocks; and MDF 3.x files (written by tools/mdf3_writer.h): the 3.x block sizes,
// double time channels, both byte orders, long and display names, additional byte offsets,
// value-to-text and range-to-text conversions, strings, and unsorted files with one and two
// identifier bytes.
//   make_mdf_seeds <directory>
#include "../tools/mdf3_writer.h"
#include "Mdfbuild_helper.h"
#include "Sortbuild_helper.h"
#include "mdfint.h"

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

using mdfbuild::Builder;

namespace {

// One DG with one CG of the given channels and conversions, `records` records of `size` bytes.
struct channel_desc {
    mdfbuild::CnInfo cn;
    int cc_type = -1; // -1: no CC
    std::vector<double> params;
    std::string formula;
    bool formula_terminated = true;
};

Builder one_group(const std::vector<channel_desc> &descs, std::uint16_t size, std::uint32_t records,
                  std::uint16_t float_format = 0) {
    Builder b;
    b.id(float_format);
    const std::uint32_t hd = b.hd({.author = "seed", .project = "fuzz", .dg_count = 1});
    const std::uint32_t dg = b.dg(1, 0);
    const std::uint32_t cg = b.cg(1, static_cast<std::uint16_t>(descs.size()), size, records);
    std::vector<std::uint32_t> cns;
    for (const channel_desc &s : descs) {
        const std::uint32_t cn = b.cn(s.cn);
        if (s.cc_type == 10)
            b.link(cn, CN_CONVERSION, b.cc_formula(s.formula, s.formula_terminated));
        else if (s.cc_type == 1 || s.cc_type == 2)
            b.link(cn, CN_CONVERSION,
                   b.cc_table(static_cast<std::uint16_t>(s.cc_type), {{0, 0}, {10, 100}, {20, 150}},
                              "km/h"));
        else if (s.cc_type >= 0)
            b.link(cn, CN_CONVERSION, b.cc(static_cast<std::uint16_t>(s.cc_type), s.params, "V"));
        cns.push_back(cn);
    }
    std::vector<std::uint8_t> data;
    for (std::uint32_t r = 0; r < records * size; ++r)
        data.push_back(static_cast<std::uint8_t>(r * 37 + 11));
    // The time channel (the first, 16 bits at bit 0) rises.
    for (std::uint32_t r = 0; r < records; ++r) {
        data[r * size] = static_cast<std::uint8_t>(r);
        data[r * size + 1] = 0;
    }
    b.link(hd, HD_FIRST_DG, dg);
    b.link(hd, HD_COMMENT, b.tx("seed file\nsecond line"));
    b.link(dg, DG_FIRST_CG, cg);
    b.link(dg, DG_DATA, b.raw(data));
    b.chain(cg, CG_FIRST_CN, cns, CN_NEXT_CN);
    return b;
}

channel_desc ch(const mdfbuild::CnInfo &cn, int cc_type = -1, std::vector<double> params = {},
                std::string formula = "", bool terminated = true) {
    return channel_desc{cn, cc_type, std::move(params), std::move(formula), terminated};
}

void save(const std::string &dir, const char *name, const Builder &b) {
    b.save(dir + "/" + name);
}

// ---------------------------------------------------------------------------------------------
// MDF 3.x seeds
// ---------------------------------------------------------------------------------------------

constexpr std::size_t V3_RECORDS = 5;

mdf3_channel v3_channel(const char *name, uint16_t data_type, uint16_t bits, unsigned position,
                        int cc_type = -1, std::vector<double> params = {}) {
    mdf3_channel c;
    c.name = name;
    c.data_type = data_type;
    c.bits = bits;
    c.first_bit = static_cast<uint16_t>(position);
    c.cc.type = cc_type;
    c.cc.params = std::move(params);
    // Values that differ per record and fill the field's high bits now and then.
    for (std::size_t k = 0; k < V3_RECORDS; ++k)
        c.fields.push_back(0x9E3779B97F4A7C15ull * (k + 1) + (k << 3));
    return c;
}

// A time channel of seconds, 10 ms apart: a double of data type 3 (or 12, 16: either byte
// order).
mdf3_channel v3_time(uint16_t data_type = 3) {
    mdf3_channel c = v3_channel("time", data_type, 64, 0);
    c.type = 1;
    c.fields.clear();
    for (std::size_t k = 0; k < V3_RECORDS; ++k)
        c.fields.push_back(mdf_image::double_bits(static_cast<double>(k) / 100.0));
    return c;
}

// Two groups: integers and floats of every byte order, a 64-bit integer, a long and a display
// name, an additional byte offset, value-to-text and range-to-text conversions, a string.
mdf3_file v3_file() {
    mdf3_file f;
    f.program = "SEEDS";
    f.comment = "3.30 seed";
    mdf3_group g1;
    g1.record_id = 1;
    g1.comment = "first";
    mdf3_channel wide = v3_channel("U64", 0, 64, 64);
    wide.long_name = "a long name of more than thirty-two characters";
    wide.display_name = "wide";
    mdf3_channel offset = v3_channel("OFS", 14, 12, 4, 0, {1, 0.5});
    offset.byte_offset = 16; // bits 132 to 143
    g1.channels = {v3_time(),
                   wide,
                   v3_channel("BE16", 9, 16, 144, 0, {0, 0.25}),
                   v3_channel("BE12", 10, 12, 164),
                   offset,
                   v3_channel("FBE", 11, 32, 176),
                   v3_channel("DBE", 12, 64, 208),
                   v3_channel("FLE", 15, 32, 272),
                   v3_channel("DLE", 16, 64, 304),
                   v3_channel("S40", 13, 40, 368)};
    mdf3_group g2;
    g2.record_id = 2;
    mdf3_channel state = v3_channel("STATE", 0, 3, 64);
    state.cc.value_texts = {{0, "OFF"}, {1, "ON"}, {7, "a text of thirty-two characters."}};
    state.cc.type = 11;
    mdf3_channel range = v3_channel("RANGE", 1, 5, 67);
    range.cc.type = 12;
    range.cc.range_texts = {{0, 0, "default"}, {-16, -1, "below"}, {0, 15, "above"}};
    mdf3_channel text = v3_channel("TEXT", 7, 48, 72);
    text.bytes = {"abc", "defghi", "", "x", "yz"};
    g2.channels = {v3_time(12), state, range, text, v3_channel("BYTES", 8, 16, 120)};
    g2.channels.back().bytes = {"\x01\x02", "\x03", "", "\xFF\xFE", "\x10"};
    f.groups = {g1, g2};
    return f;
}

void save_v3(const std::string &dir, const char *name, const mdf3_file &f) {
    mdf3::save(mdf3::write(f), dir + "/" + name);
}

void v3_seeds(const std::string &dir) {
    save_v3(dir, "v3-sorted", v3_file());
    for (uint16_t id_bytes : {1, 2}) {
        mdf3_file f = v3_file();
        f.id_bytes = id_bytes;
        // Not round-robin: two records of group 2 in a row.
        f.order = {0, 1, 1, 0, 0, 1, 0, 1, 0, 1};
        save_v3(dir, id_bytes == 1 ? "v3-unsorted-1" : "v3-unsorted-2", f);
    }
    // The default byte order big-endian: data types 0 to 3 too.
    mdf3_file big = v3_file();
    big.byte_order = 1;
    big.groups[1].channels[0] = v3_time(3);
    save_v3(dir, "v3-big-endian", big);
    // Version 3.00 with the blocks of 2.00 (a CN without names and byte offset), and 3.10 with
    // a CN of 222 bytes (the long-name link only).
    mdf3_file small = v3_file();
    small.version = 300;
    small.format = "3.00";
    small.hd_size = 164;
    small.dg_size = 24;
    small.cg_size = 26;
    small.cn_size = 218;
    small.groups[0].channels[4].byte_offset = 0;
    small.groups[0].channels[4].first_bit = 132;
    save_v3(dir, "v3-small-blocks", small);
    mdf3_file middle = v3_file();
    middle.version = 310;
    middle.format = "3.10";
    middle.hd_size = 164;
    middle.cn_size = 222;
    middle.groups[0].channels[4].byte_offset = 0;
    middle.groups[0].channels[4].first_bit = 132;
    save_v3(dir, "v3-long-names-only", middle);
    // The version in the format text only (number 0); the polynomial with its P6 offset, date
    // and time conversions, a formula.
    mdf3_file conversions = v3_file();
    conversions.version = 0;
    conversions.format = "3.20";
    std::vector<mdf3_channel> &c = conversions.groups[0].channels;
    c[2].cc = {6, "", {0, 1, 2, 0.5, 3, 4}, "", {}, {}};
    c[3].cc = {132, "", {}, "", {}, {}};
    c[5].cc = {133, "", {}, "", {}, {}};
    c[7].cc = {10, "", {}, "X*2+sin(X)", {}, {}};
    c[8].cc = {9, "", {1, 2, 3, 0, 0, 1}, "", {}, {}};
    save_v3(dir, "v3-conversions", conversions);
}

} // namespace

int main(int argc, char *argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <directory>\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    save(dir, "simple", mdfbuild::simple_file(3));
    save(dir, "empty-group", mdfbuild::simple_file(0));

    const mdfbuild::CnInfo time{.type = 1, .name = "TIME", .first_bit = 0, .bits = 16};
    save(dir, "conversions",
         one_group({ch(time, 0, {0.0, 0.001}),
                    ch({.name = "LIN", .first_bit = 16, .bits = 8}, 0, {10, 0.5}),
                    ch({.name = "TAB", .first_bit = 24, .bits = 8}, 1),
                    ch({.name = "TABN", .first_bit = 32, .bits = 8}, 2),
                    ch({.name = "POLY", .first_bit = 40, .bits = 8}, 6, {0, 0, 0, -2, 1, 7}),
                    ch({.name = "EXPO", .first_bit = 48, .bits = 8}, 7, {1, 2, 3, 0, 5, 6, 7}),
                    ch({.name = "LOGA", .first_bit = 56, .bits = 8}, 8, {0, 2, 3, 4, 5, 6, 7}),
                    ch({.name = "RAT", .first_bit = 64, .bits = 8}, 9, {0, 1, 0, 0, 0, 1}),
                    ch({.name = "ONE", .first_bit = 72, .bits = 8}, 65535)},
                   10, 4));
    save(dir, "formulas",
         one_group({ch(time), ch({.name = "F1", .first_bit = 16, .bits = 8}, 10, {}, "2*x+1"),
                    ch({.name = "F2", .first_bit = 24, .bits = 8}, 10, {}, "  -12,5"),
                    ch({.name = "F3", .first_bit = 32, .bits = 8}, 10, {},
                       "sin(x)^2+1\xf8"
                       "30'",
                       false),
                    ch({.name = "F4", .first_bit = 40, .bits = 8}, 10, {}, "1/(x-3)")},
                   6, 5));
    save(dir, "data-types",
         one_group({ch(time), ch({.name = "BIT", .first_bit = 16, .bits = 1}),
                    ch({.name = "ODD", .first_bit = 17, .bits = 13, .data_type = 1}),
                    ch({.name = "S32", .first_bit = 32, .bits = 32, .data_type = 1}),
                    ch({.name = "FLT", .first_bit = 64, .bits = 32, .data_type = 2}),
                    ch({.name = "VAXF", .first_bit = 96, .bits = 32, .data_type = 4}),
                    ch({.name = "DBL", .first_bit = 128, .bits = 64, .data_type = 3})},
                   24, 3));
    save(dir, "vax-file",
         one_group(
             {ch(time, 0, {0.0, 0.5}), ch({.name = "V", .first_bit = 16, .bits = 16}, 0, {1, 2})},
             4, 3, 1));

    // Unsorted: two channel groups in one data group, one and two identifier bytes.
    for (std::uint16_t id_bytes = 1; id_bytes <= 2; ++id_bytes) {
        sortbuild::Input input;
        sortbuild::DataGroup dg;
        dg.id_bytes = id_bytes;
        dg.groups = {sortbuild::Group{.record_id = 1, .record_size = 3},
                     sortbuild::Group{.record_id = 2,
                                      .record_size = 4,
                                      .channels = {"TIME", "A", "B"},
                                      .comment = "second"}};
        dg.order = sortbuild::shuffled_order({3, 4}, id_bytes);
        dg.trigger = "trigger";
        input.dgs.push_back(dg);
        input.dgs.push_back(
            sortbuild::DataGroup{.id_bytes = 0, .groups = {sortbuild::Group{}}, .order = {0, 0}});
        save(dir, id_bytes == 1 ? "unsorted-1" : "unsorted-2", sortbuild::build(input));
    }
    v3_seeds(dir);
    return 0;
}
