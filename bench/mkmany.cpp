// mkmany: writes MDF measurement files with very many channel groups or channels, for timing the
// converter on file shapes where a lookup by number or a scan of all open channels per record
// would make the time grow with the square of the file's size.
//
//   mkmany groups N RECORDS NAME     N data groups (sorted), each with one channel group of a
//                                    time channel and a value channel (floats), RECORDS records
//   mkmany unused N RECORDS NAME     as groups, but the second half of the groups has no time
//                                    channel (two value channels): the converter opens and
//                                    closes them again while the first half stays open
//   mkmany channels N RECORDS NAME   one data group with one channel group: a time channel and
//                                    N - 1 value channels (unsigned 8 bit, overlapping bytes),
//                                    RECORDS records
//   mkmany onedg N RECORDS NAME      one data group holding N channel groups (unsorted, one
//                                    identifier byte), each with a time and a value channel;
//                                    the groups with a record identifier up to 255 have RECORDS
//                                    records, interleaved, the others none
//   mkmany formula N RECORDS NAME    one group of a time channel and N - 1 unsigned 8-bit value
//                                    channels, each converted by the formula text
//                                    "0,4*x-40+0,0005*SQR(x-128)", RECORDS records
//
// N is at most 65535. Writes NAME.dat byte by byte (no library involved).
#include "mdf_image.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The file's bytes through the one byte writer of the tools (mdf_image).
struct Writer : mdf_image {
    uint32_t pos() const { return static_cast<uint32_t>(data.size()); }
    void u16(uint32_t at, uint16_t v) { mdf_image::u16(at, v); }
    void u32(uint32_t at, uint32_t v) { mdf_image::u32(at, v); }
    uint32_t block(const char *type, uint16_t size) {
        return static_cast<uint32_t>(mdf_image::block(type, size));
    }
    void put_float(float f) {
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        for (int i = 0; i < 4; ++i) data.push_back(static_cast<uint8_t>(bits >> (8 * i)));
    }

    void id_and_hd(uint16_t dgs) {
        data.resize(64, 0);
        std::memcpy(&data[0], "MDF     2.00    MKMANY  ", 24);
        u16(28, 200);
        uint32_t hd = block("HD", 164);
        u16(hd + 16, dgs);
        text(hd + 18, "01:02:2024", 10);
        text(hd + 28, "10:11:12", 8);
    }
    uint32_t dg(uint16_t cgs, uint16_t id_bytes) {
        uint32_t at = block("DG", 24);
        u16(at + 20, cgs);
        u16(at + 22, id_bytes);
        return at;
    }
    uint32_t cg(uint16_t id, uint16_t cns, uint16_t size, uint32_t records) {
        uint32_t at = block("CG", 26);
        u16(at + 16, id);
        u16(at + 18, cns);
        u16(at + 20, size);
        u32(at + 22, records);
        return at;
    }
    uint32_t cn(uint16_t type, const char *name, uint16_t first_bit, uint16_t bits,
                uint16_t data_type) {
        uint32_t at = block("CN", 218);
        u16(at + 24, type);
        text(at + 26, name, 32);
        u16(at + 186, first_bit);
        u16(at + 188, bits);
        u16(at + 190, data_type);
        return at;
    }
};

void usage() {
    std::fputs("usage: mkmany groups|unused|channels|formula|onedg N RECORDS NAME\n", stderr);
    std::exit(2);
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 5) usage();
    std::string shape = argv[1];
    long n = std::strtol(argv[2], nullptr, 10);
    long records = std::strtol(argv[3], nullptr, 10);
    if (n < 1 || n > 65535 || records < 0 || records > 1000000) usage();
    Writer w;
    char name[40];
    if (shape == "groups" || shape == "unused") {
        w.id_and_hd(static_cast<uint16_t>(n));
        uint32_t link_at = 64 + 4; // HD first DG
        for (long g = 0; g < n; ++g) {
            uint32_t dg = w.dg(1, 0);
            w.u32(link_at, dg);
            link_at = dg + 4;
            uint32_t cg = w.cg(1, 2, 8, static_cast<uint32_t>(records));
            w.u32(dg + 8, cg);
            bool timed = shape == "groups" || g < n / 2;
            uint32_t t = w.cn(timed ? 1 : 0, "time", 0, 32, 2);
            std::snprintf(name, sizeof name, "v%ld", g + 1);
            uint32_t v = w.cn(0, name, 32, 32, 2);
            w.u32(cg + 8, t);
            w.u32(t + 4, v);
            w.u32(dg + 16, w.pos());
            for (long r = 0; r < records; ++r) {
                w.put_float(static_cast<float>(r) * 0.01f);
                w.put_float(static_cast<float>(g + r));
            }
        }
    } else if (shape == "channels") {
        w.id_and_hd(1);
        uint32_t dg = w.dg(1, 0);
        w.u32(64 + 4, dg);
        const uint16_t size = 4 + 4096;
        uint32_t cg = w.cg(1, static_cast<uint16_t>(n), size, static_cast<uint32_t>(records));
        w.u32(dg + 8, cg);
        uint32_t link_at = cg + 8;
        for (long c = 0; c < n; ++c) {
            uint32_t cn;
            if (c == 0) {
                cn = w.cn(1, "time", 0, 32, 2);
            } else {
                std::snprintf(name, sizeof name, "c%ld", c);
                cn = w.cn(0, name, static_cast<uint16_t>(32 + 8 * ((c - 1) % 4096)), 8, 0);
            }
            w.u32(link_at, cn);
            link_at = cn + 4;
        }
        w.u32(dg + 16, w.pos());
        for (long r = 0; r < records; ++r) {
            w.put_float(static_cast<float>(r) * 0.01f);
            for (uint32_t i = 0; i < 4096; ++i) w.data.push_back(static_cast<uint8_t>(i + r));
        }
    } else if (shape == "formula") {
        w.id_and_hd(1);
        uint32_t dg = w.dg(1, 0);
        w.u32(64 + 4, dg);
        const uint16_t values = static_cast<uint16_t>(n - 1 < 4096 ? n - 1 : 4096);
        uint32_t cg = w.cg(1, static_cast<uint16_t>(n), static_cast<uint16_t>(4 + values),
                           static_cast<uint32_t>(records));
        w.u32(dg + 8, cg);
        const char text[] = "0,4*x-40+0,0005*SQR(x-128)";
        uint32_t cc = w.block("CC", static_cast<uint16_t>(46 + sizeof text));
        w.u16(cc + 42, 10);
        w.u16(cc + 44, static_cast<uint16_t>((sizeof text + 7) / 8));
        std::memcpy(&w.data[cc + 46], text, sizeof text);
        uint32_t link_at = cg + 8;
        for (long c = 0; c < n; ++c) {
            uint32_t cn;
            if (c == 0) {
                cn = w.cn(1, "time", 0, 32, 2);
            } else {
                std::snprintf(name, sizeof name, "f%ld", c);
                cn = w.cn(0, name, static_cast<uint16_t>(32 + 8 * ((c - 1) % 4096)), 8, 0);
                w.u32(cn + 8, cc);
            }
            w.u32(link_at, cn);
            link_at = cn + 4;
        }
        w.u32(dg + 16, w.pos());
        for (long r = 0; r < records; ++r) {
            w.put_float(static_cast<float>(r) * 0.01f);
            for (uint32_t i = 0; i < values; ++i)
                w.data.push_back(static_cast<uint8_t>(i * 37 + static_cast<uint32_t>(r) * 11));
        }
    } else if (shape == "onedg") {
        w.id_and_hd(1);
        uint32_t dg = w.dg(static_cast<uint16_t>(n), 1);
        w.u32(64 + 4, dg);
        uint32_t link_at = dg + 8;
        for (long g = 0; g < n; ++g) {
            uint16_t id = static_cast<uint16_t>(g + 1);
            uint32_t cg = w.cg(id, 2, 8, id <= 255 ? static_cast<uint32_t>(records) : 0);
            w.u32(link_at, cg);
            link_at = cg + 4;
            uint32_t t = w.cn(1, "time", 0, 32, 2);
            std::snprintf(name, sizeof name, "v%ld", g + 1);
            uint32_t v = w.cn(0, name, 32, 32, 2);
            w.u32(cg + 8, t);
            w.u32(t + 4, v);
        }
        w.u32(dg + 16, w.pos());
        for (long r = 0; r < records; ++r) {
            for (long g = 0; g < n && g < 255; ++g) {
                w.data.push_back(static_cast<uint8_t>(g + 1));
                w.put_float(static_cast<float>(r) * 0.01f);
                w.put_float(static_cast<float>(g + r));
            }
        }
    } else {
        usage();
    }
    std::string path = std::string(argv[4]) + ".dat";
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || std::fwrite(w.data.data(), 1, w.data.size(), f) != w.data.size() ||
        std::fclose(f) != 0) {
        std::fprintf(stderr, "mkmany: cannot write %s\n", path.c_str());
        return 1;
    }
    return 0;
}
