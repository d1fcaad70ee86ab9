// Test-side builder of MDF 2.00 files, byte by byte, independent of MDFLIB's own writer.
//
// A Builder holds the bytes of one file. Blocks are appended at the end, each function returns
// the block's file position, and every link field starts as 0 (no block); connect blocks with
// link() or chain(). Offsets in link()/set_*() are the byte offsets inside a block (the names
// of mdfint.h, e.g. DG_FIRST_CG, may be used). Nothing is checked: damaged files are made the
// same way as valid ones (set any field, link anywhere, cut the file).
//
//     mdfbuild::Builder b;
//     b.id();                                   // 64 bytes at 0 (float format 0)
//     uint32_t hd = b.hd({.author = "me"});     // at 64
//     uint32_t dg = b.dg(1, 0);                 // 1 channel group, no identifier bytes
//     uint32_t cg = b.cg(1, 2, 4, 3);           // id 1, 2 channels, 4-byte records, 3 records
//     uint32_t t = b.cn({.type = 1, .name = "TIME", .first_bit = 0, .bits = 16});
//     uint32_t v = b.cn({.name = "SPEED", .first_bit = 16, .bits = 16});
//     b.link(hd, 4, dg); b.link(dg, 8, cg);
//     b.chain(cg, 8, {t, v}, 4);                // cg->first CN = t, t->next = v
//     b.link(dg, 16, b.raw({...record bytes...}));
//     b.save(path);
//
// Record areas: raw() appends any bytes; record() helps to lay out one record with identifier
// bytes. VAX float files: write REAL fields with set_u64(pos, off, vax_g(x)) / vax_d(x).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace mdfbuild {

struct HdInfo {
    const char *date = "05:03:2026";
    const char *time = "09:04:07";
    const char *author = "";
    const char *division = "";
    const char *project = "";
    const char *subject = "";
    uint16_t dg_count = 0; // the number-of-data-groups field
    uint16_t size = 164;   // 208 from MDF 3.20 on
};

struct CnInfo {
    uint16_t type = 0; // 0 value channel, 1 time channel
    const char *name = "";
    const char *description = "";
    uint16_t first_bit = 0;
    uint16_t bits = 8;
    uint16_t data_type = 0;
    uint16_t range_valid = 0;
    double min = 0, max = 0, rate = 0; // written as IEEE doubles
    uint16_t size = 218;                // MDF 3.x: 222 (long-name link), 228 (byte offset)
    uint16_t byte_offset = 0;           // the additional byte offset (size 228)
};

struct Builder {
    std::vector<uint8_t> bytes;

    // ID block at 0 (must come first). Any field may be overwritten later with set_*().
    uint32_t id(uint16_t float_format = 0, const char *program = "BUILDER");
    // HD block (164 bytes); normally directly behind the ID block, at 64.
    uint32_t hd(const HdInfo &info = {});
    // DG (24 bytes, 28 in MDF 3.x): number of channel groups, number of record identifier bytes.
    uint32_t dg(uint16_t cg_count, uint16_t id_bytes = 0, uint16_t size = 24);
    // CG (26 bytes, 30 in MDF 3.30).
    uint32_t cg(uint16_t record_id, uint16_t channels, uint16_t record_size, uint32_t records,
                uint16_t size = 26);
    // Makes the ID block name an MDF version: version number field and format identifier text.
    void version(uint16_t number, const char *format);
    // CN (218 bytes unless info.size says more); texts are cut to their field (a 32-character
    // name fills it, no zero).
    uint32_t cn(const CnInfo &info);
    // CC with REAL parameters P1, P2, ... (count: the parameter count field; -1 = params.size()).
    uint32_t cc(uint16_t conversion_type, const std::vector<double> &params, const char *unit = "",
                int count = -1);
    // CC of a table type (1 or 2) with (raw, physical) pairs.
    uint32_t cc_table(uint16_t conversion_type, const std::vector<std::pair<double, double>> &table,
                      const char *unit = "");
    // CC of type 10 with a formula text (zero-terminated unless terminated is false); count is
    // the parameter count field.
    uint32_t cc_formula(const std::string &formula, bool terminated = true, uint16_t count = 0);
    // CE of a size (at least 6) with its extension type.
    uint32_t ce(uint16_t extension_type, uint16_t size = 128);
    // TX holding the text and (unless terminated is false) a zero byte.
    uint32_t tx(const std::string &text, bool terminated = true);
    // PR holding the bytes.
    uint32_t pr(const std::vector<uint8_t> &data);
    // TR with events (trigger, pre-trigger, post-trigger time as IEEE doubles).
    uint32_t tr(const std::vector<std::array<double, 3>> &events);
    // Any block: the two letters and the size field as given, then size - 4 zero bytes (fewer
    // when size < 4: the header alone is written).
    uint32_t block(const char *type, uint16_t size);
    // Any bytes (a record area, garbage); returns their position.
    uint32_t raw(const std::vector<uint8_t> &data);
    // One record: the identifier byte when id_bytes > 0, the data, and the identifier again
    // when id_bytes is 2; returns its position.
    uint32_t record(uint16_t id_bytes, uint8_t record_id, const std::vector<uint8_t> &data);

    // Link fields.
    void link(uint32_t block, uint16_t offset, uint32_t target);
    // parent.first_offset -> blocks[0], blocks[i].next_offset -> blocks[i + 1].
    void chain(uint32_t parent, uint16_t first_offset, const std::vector<uint32_t> &blocks,
               uint16_t next_offset);

    // Fields at block position + offset (little-endian).
    void set_u8(uint32_t pos, uint32_t off, uint8_t v);
    void set_u16(uint32_t pos, uint32_t off, uint16_t v);
    void set_u32(uint32_t pos, uint32_t off, uint32_t v);
    void set_u64(uint32_t pos, uint32_t off, uint64_t v);
    void set_real(uint32_t pos, uint32_t off, double v);
    // Copies at most width bytes of text and zero-fills the rest of the field.
    void set_text(uint32_t pos, uint32_t off, const std::string &text, std::size_t width);
    uint16_t u16(uint32_t pos, uint32_t off) const;
    uint32_t u32(uint32_t pos, uint32_t off) const;
    uint64_t u64(uint32_t pos, uint32_t off) const;

    uint32_t size() const { return static_cast<uint32_t>(bytes.size()); }
    void save(const std::string &path) const;
};

// The 8 bytes of a REAL in VAX G_float / D_float, as a little-endian 64-bit number whose
// bytes are those in the file (write with set_u64).
uint64_t vax_g(double x);
uint64_t vax_d(double x);
// Bits of an IEEE double.
uint64_t ieee(double x);

// A fresh path for a test file in the system's temporary directory (removed by nobody).
std::string temp_path(const std::string &name);
// The whole content of a file (empty if it cannot be read).
std::vector<uint8_t> read_file(const std::string &path);
void write_file(const std::string &path, const std::vector<uint8_t> &data);

// A small valid sorted file: one DG, one CG (record id 1, 2 channels: TIME uint16 at bit 0 and
// VALUE uint16 at bit 16, 4-byte records), the given records, a comment "file comment".
Builder simple_file(uint32_t records = 3);

} // namespace mdfbuild
