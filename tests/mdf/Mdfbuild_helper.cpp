// Test-side MDF builder: the block layouts are written here from the format description,
// with literal offsets, so that the library's own constants and writer are not trusted.
#include "Mdfbuild_helper.h"

#include "mdf_image.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

namespace mdfbuild {

namespace {

uint32_t append_block(Builder &b, const char *type, uint16_t size) {
    return static_cast<uint32_t>(mdf_image::append_block(b.bytes, type, size, 4));
}

} // namespace

uint32_t Builder::id(uint16_t float_format, const char *program) {
    uint32_t pos = size();
    bytes.resize(bytes.size() + 64, 0);
    set_text(pos, 0, "MDF     ", 8);
    set_text(pos, 8, "2.00    ", 8);
    set_text(pos, 16, program, 8);
    set_u16(pos, 24, 0); // byte order
    set_u16(pos, 26, float_format);
    set_u16(pos, 28, 200); // version
    return pos;
}

uint32_t Builder::hd(const HdInfo &info) {
    uint32_t pos = append_block(*this, "HD", info.size);
    set_u16(pos, 16, info.dg_count);
    set_text(pos, 18, info.date, 10);
    set_text(pos, 28, info.time, 8);
    set_text(pos, 36, info.author, 32);
    set_text(pos, 68, info.division, 32);
    set_text(pos, 100, info.project, 32);
    set_text(pos, 132, info.subject, 32);
    return pos;
}

void Builder::version(uint16_t number, const char *format) {
    set_text(0, 8, format, 8);
    set_u16(0, 28, number);
}

uint32_t Builder::dg(uint16_t cg_count, uint16_t id_bytes, uint16_t size) {
    uint32_t pos = append_block(*this, "DG", size);
    set_u16(pos, 20, cg_count);
    set_u16(pos, 22, id_bytes);
    return pos;
}

uint32_t Builder::cg(uint16_t record_id, uint16_t channels, uint16_t record_size,
                     uint32_t records, uint16_t size) {
    uint32_t pos = append_block(*this, "CG", size);
    set_u16(pos, 16, record_id);
    set_u16(pos, 18, channels);
    set_u16(pos, 20, record_size);
    set_u32(pos, 22, records);
    return pos;
}

uint32_t Builder::cn(const CnInfo &info) {
    uint32_t pos = append_block(*this, "CN", info.size);
    set_u16(pos, 24, info.type);
    set_text(pos, 26, info.name, 32);
    set_text(pos, 58, info.description, 128);
    set_u16(pos, 186, info.first_bit);
    set_u16(pos, 188, info.bits);
    set_u16(pos, 190, info.data_type);
    set_u16(pos, 192, info.range_valid);
    set_real(pos, 194, info.min);
    set_real(pos, 202, info.max);
    set_real(pos, 210, info.rate);
    if (info.size >= 228) set_u16(pos, 226, info.byte_offset);
    return pos;
}

uint32_t Builder::cc(uint16_t conversion_type, const std::vector<double> &params, const char *unit,
                     int count) {
    uint32_t pos = append_block(*this, "CC", static_cast<uint16_t>(46 + 8 * params.size()));
    set_text(pos, 22, unit, 20);
    set_u16(pos, 42, conversion_type);
    set_u16(pos, 44, static_cast<uint16_t>(count < 0 ? params.size() : count));
    for (std::size_t i = 0; i < params.size(); ++i)
        set_real(pos, static_cast<uint32_t>(46 + 8 * i), params[i]);
    return pos;
}

uint32_t Builder::cc_table(uint16_t conversion_type,
                           const std::vector<std::pair<double, double>> &table, const char *unit) {
    uint32_t pos = append_block(*this, "CC", static_cast<uint16_t>(46 + 16 * table.size()));
    set_text(pos, 22, unit, 20);
    set_u16(pos, 42, conversion_type);
    set_u16(pos, 44, static_cast<uint16_t>(table.size()));
    for (std::size_t i = 0; i < table.size(); ++i) {
        set_real(pos, static_cast<uint32_t>(46 + 16 * i), table[i].first);
        set_real(pos, static_cast<uint32_t>(54 + 16 * i), table[i].second);
    }
    return pos;
}

uint32_t Builder::cc_formula(const std::string &formula, bool terminated, uint16_t count) {
    std::size_t length = formula.size() + (terminated ? 1 : 0);
    uint32_t pos = append_block(*this, "CC", static_cast<uint16_t>(46 + length));
    set_u16(pos, 42, 10);
    set_u16(pos, 44, count);
    std::memcpy(&bytes[pos + 46], formula.data(), formula.size());
    return pos;
}

uint32_t Builder::ce(uint16_t extension_type, uint16_t size) {
    uint32_t pos = append_block(*this, "CE", size);
    if (size >= 6) set_u16(pos, 4, extension_type);
    return pos;
}

uint32_t Builder::tx(const std::string &text, bool terminated) {
    uint32_t pos =
        append_block(*this, "TX", static_cast<uint16_t>(4 + text.size() + (terminated ? 1 : 0)));
    if (!text.empty()) std::memcpy(&bytes[pos + 4], text.data(), text.size());
    return pos;
}

uint32_t Builder::pr(const std::vector<uint8_t> &data) {
    uint32_t pos = append_block(*this, "PR", static_cast<uint16_t>(4 + data.size()));
    if (!data.empty()) std::memcpy(&bytes[pos + 4], data.data(), data.size());
    return pos;
}

uint32_t Builder::tr(const std::vector<std::array<double, 3>> &events) {
    uint32_t pos = append_block(*this, "TR", static_cast<uint16_t>(10 + 24 * events.size()));
    set_u16(pos, 8, static_cast<uint16_t>(events.size()));
    for (std::size_t i = 0; i < events.size(); ++i)
        for (std::size_t k = 0; k < 3; ++k)
            set_real(pos, static_cast<uint32_t>(10 + 24 * i + 8 * k), events[i][k]);
    return pos;
}

uint32_t Builder::block(const char *type, uint16_t size) {
    return append_block(*this, type, size);
}

uint32_t Builder::raw(const std::vector<uint8_t> &data) {
    uint32_t pos = size();
    bytes.insert(bytes.end(), data.begin(), data.end());
    return pos;
}

uint32_t Builder::record(uint16_t id_bytes, uint8_t record_id, const std::vector<uint8_t> &data) {
    uint32_t pos = size();
    if (id_bytes > 0) bytes.push_back(record_id);
    bytes.insert(bytes.end(), data.begin(), data.end());
    if (id_bytes == 2) bytes.push_back(record_id);
    return pos;
}

void Builder::link(uint32_t block, uint16_t offset, uint32_t target) {
    set_u32(block, offset, target);
}

void Builder::chain(uint32_t parent, uint16_t first_offset, const std::vector<uint32_t> &blocks,
                    uint16_t next_offset) {
    if (blocks.empty()) return;
    link(parent, first_offset, blocks[0]);
    for (std::size_t i = 0; i + 1 < blocks.size(); ++i) link(blocks[i], next_offset, blocks[i + 1]);
}

void Builder::set_u8(uint32_t pos, uint32_t off, uint8_t v) {
    mdf_image::put_le(bytes, pos + off, v, 1);
}
void Builder::set_u16(uint32_t pos, uint32_t off, uint16_t v) {
    mdf_image::put_le(bytes, pos + off, v, 2);
}
void Builder::set_u32(uint32_t pos, uint32_t off, uint32_t v) {
    mdf_image::put_le(bytes, pos + off, v, 4);
}
void Builder::set_u64(uint32_t pos, uint32_t off, uint64_t v) {
    mdf_image::put_le(bytes, pos + off, v, 8);
}
void Builder::set_real(uint32_t pos, uint32_t off, double v) {
    set_u64(pos, off, ieee(v));
}
void Builder::set_text(uint32_t pos, uint32_t off, const std::string &text, std::size_t width) {
    mdf_image::put_text(bytes, pos + off, text, width, true);
}
uint16_t Builder::u16(uint32_t pos, uint32_t off) const {
    return static_cast<uint16_t>(bytes.at(pos + off) | (bytes.at(pos + off + 1) << 8));
}
uint32_t Builder::u32(uint32_t pos, uint32_t off) const {
    return u16(pos, off) | (static_cast<uint32_t>(u16(pos, off + 2)) << 16);
}
uint64_t Builder::u64(uint32_t pos, uint32_t off) const {
    return u32(pos, off) | (static_cast<uint64_t>(u32(pos, off + 4)) << 32);
}

void Builder::save(const std::string &path) const {
    write_file(path, bytes);
}

uint64_t ieee(double x) {
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

// Word w of a VAX value goes to file bytes 2w, 2w+1 (each word little-endian).
static uint64_t vax_words(uint16_t w0, uint16_t w1, uint16_t w2, uint16_t w3) {
    return uint64_t{w0} | (uint64_t{w1} << 16) | (uint64_t{w2} << 32) | (uint64_t{w3} << 48);
}

uint64_t vax_g(double x) {
    uint64_t b = ieee(x);
    if ((b & ~(uint64_t{1} << 63)) == 0) return 0;
    uint64_t sign = b >> 63, e = ((b >> 52) & 0x7FF) + 2, f = b & ((uint64_t{1} << 52) - 1);
    return vax_words(static_cast<uint16_t>((sign << 15) | (e << 4) | (f >> 48)),
                     static_cast<uint16_t>(f >> 32), static_cast<uint16_t>(f >> 16),
                     static_cast<uint16_t>(f));
}

uint64_t vax_d(double x) {
    uint64_t b = ieee(x);
    if ((b & ~(uint64_t{1} << 63)) == 0) return 0;
    uint64_t sign = b >> 63, e = ((b >> 52) & 0x7FF) - 894,
             f = (b & ((uint64_t{1} << 52) - 1)) << 3;
    return vax_words(static_cast<uint16_t>((sign << 15) | (e << 7) | (f >> 48)),
                     static_cast<uint16_t>(f >> 32), static_cast<uint16_t>(f >> 16),
                     static_cast<uint16_t>(f));
}

std::string temp_path(const std::string &name) {
    // Tests run in parallel processes: a random prefix keeps their files apart.
    static std::mt19937_64 random{std::random_device{}()};
    auto dir = std::filesystem::temp_directory_path() / "traxcon_mdf_tests";
    std::filesystem::create_directories(dir);
    return (dir / (std::to_string(random()) + "_" + name)).string();
}

std::vector<uint8_t> read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void write_file(const std::string &path, const std::vector<uint8_t> &data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(data.data()),
              static_cast<std::streamsize>(data.size()));
}

Builder simple_file(uint32_t records) {
    Builder b;
    b.id();
    uint32_t hd = b.hd({.author = "author", .dg_count = 1});
    uint32_t comment = b.tx("file comment");
    uint32_t dg = b.dg(1, 0);
    uint32_t cg = b.cg(1, 2, 4, records);
    uint32_t time = b.cn({.type = 1, .name = "TIME", .first_bit = 0, .bits = 16});
    uint32_t value = b.cn({.type = 0, .name = "VALUE", .first_bit = 16, .bits = 16});
    std::vector<uint8_t> data;
    for (uint32_t r = 0; r < records; ++r) {
        uint8_t rec[4] = {static_cast<uint8_t>(r), 0, static_cast<uint8_t>(10 * r), 0};
        data.insert(data.end(), rec, rec + 4);
    }
    uint32_t area = b.raw(data);
    b.link(hd, 8, comment);
    b.link(hd, 4, dg);
    b.link(dg, 8, cg);
    b.link(dg, 16, area);
    b.chain(cg, 8, {time, value}, 4);
    return b;
}

} // namespace mdfbuild
