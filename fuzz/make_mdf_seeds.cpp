// Writes the seed files of the MDF fuzz harness into a directory (fuzz/corpus/mdf), built with the
// tests' own MDF builder, so that the fuzzer starts from files that reach every part of the
// library: sorted and unsorted data groups, one and two identifier bytes, every data type, every
// conversion type, formula texts (terminated and filling their block), a VAX float file, texts
// and extension blocks.
//   make_mdf_seeds <directory>
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
    return 0;
}
