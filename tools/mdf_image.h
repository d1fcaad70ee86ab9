// A byte image of an MDF file under construction, written field by field without the library: the
// sample generators' files and the tests' independent builders. Block fields are little-endian;
// values in records may be put in either byte order (put_value).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

struct mdf_image {
    std::vector<uint8_t> data;

    // The byte writing itself, on any byte vector (the tests' builders keep their own vector):
    // every writer of MDF bytes without the library goes through these.
    // Appends a zero-filled block of size bytes (at least `room`, so that a block whose size
    // field is below its header still gets its header); with a type, its two identifier
    // characters and its size field (offset 2, UINT16) are filled in. Returns its position.
    static std::size_t append_block(std::vector<uint8_t> &bytes, const char *type,
                                    std::size_t size, std::size_t room = 0) {
        const std::size_t at = bytes.size();
        bytes.resize(at + std::max(size, room), 0);
        if (type != nullptr) {
            bytes.at(at) = static_cast<uint8_t>(type[0]);
            bytes.at(at + 1) = static_cast<uint8_t>(type[1]);
            put_le(bytes, at + 2, static_cast<uint16_t>(size), 2);
        }
        return at;
    }
    // The low `count` bytes of v, least significant first.
    static void put_le(std::vector<uint8_t> &bytes, std::size_t at, uint64_t v, unsigned count) {
        for (unsigned i = 0; i < count; ++i) bytes.at(at + i) = static_cast<uint8_t>(v >> (8 * i));
    }
    // A text into a fixed-width field: at most field bytes; with zero_fill the rest of the field
    // becomes zero, otherwise it is left as it is.
    static void put_text(std::vector<uint8_t> &bytes, std::size_t at, const std::string &s,
                         std::size_t field, bool zero_fill = false) {
        for (std::size_t i = 0; i < field; ++i) {
            if (i < s.size())
                bytes.at(at + i) = static_cast<uint8_t>(s[i]);
            else if (zero_fill)
                bytes.at(at + i) = 0;
            else
                break;
        }
    }

    // Appends a zero-filled block of size bytes; with a type, its two identifier characters and
    // its size field (offset 2, UINT16) are filled in. Returns the block's position.
    std::size_t block(const char *type, std::size_t size) { return append_block(data, type, size); }
    // A TX block holding the text and a zero byte; returns its position.
    std::size_t text_block(const std::string &s) {
        std::size_t at = block("TX", 4 + s.size() + 1);
        text(at + 4, s, s.size());
        return at;
    }
    void u16(std::size_t at, uint16_t v) { unsigned_le(at, v, 2); }
    void u32(std::size_t at, uint32_t v) { unsigned_le(at, v, 4); }
    void u64(std::size_t at, uint64_t v) { unsigned_le(at, v, 8); }
    // A link field: the target block's position (0: none).
    void link(std::size_t at, std::size_t target) { u32(at, static_cast<uint32_t>(target)); }
    void real(std::size_t at, double v) { u64(at, double_bits(v)); }
    // The low `bytes` bytes of v, least significant first / most significant first.
    void unsigned_le(std::size_t at, uint64_t v, unsigned bytes) { put_le(data, at, v, bytes); }
    void unsigned_be(std::size_t at, uint64_t v, unsigned bytes) {
        for (unsigned i = 0; i < bytes; ++i)
            data[at + bytes - 1 - i] = static_cast<uint8_t>(v >> (8 * i));
    }
    // A text into a fixed-width field: at most field bytes, the rest of the field left as it is.
    void text(std::size_t at, const std::string &s, std::size_t field) {
        put_text(data, at, s, field);
    }

    // The low `bits` bits (1 to 64) of value as a field from bit first_bit of the record that
    // starts at byte `record`; the other bits of the bytes it shares are kept.
    // Little-endian: bit b of the value is bit first_bit + b of the record, counted from the least
    // significant bit of its first byte. Big-endian: the bytes the field covers form one number,
    // most significant byte first, whose bits from (first_bit mod 8) on hold the value.
    void put_value(std::size_t record, unsigned first_bit, unsigned bits, uint64_t value,
                   bool big_endian) {
        const std::size_t first_byte = record + first_bit / 8;
        const unsigned shift = first_bit % 8;
        const unsigned covered = (shift + bits + 7) / 8;
        for (unsigned b = 0; b < bits; ++b) {
            std::size_t byte = 0;
            unsigned bit = 0;
            if (big_endian) {
                const unsigned n = shift + b; // bit of the big-endian number
                byte = first_byte + (covered - 1 - n / 8);
                bit = n % 8;
            } else {
                byte = first_byte + (shift + b) / 8;
                bit = (shift + b) % 8;
            }
            const auto mask = static_cast<uint8_t>(1u << bit);
            if ((value >> b) & 1u)
                data[byte] = static_cast<uint8_t>(data[byte] | mask);
            else
                data[byte] = static_cast<uint8_t>(data[byte] & ~mask);
        }
    }

    // The IEEE 754 bit patterns of a double and of a single.
    static uint64_t double_bits(double v) {
        uint64_t bits = 0;
        std::memcpy(&bits, &v, 8);
        return bits;
    }
    static uint32_t float_bits(float v) {
        uint32_t bits = 0;
        std::memcpy(&bits, &v, 4);
        return bits;
    }
};
