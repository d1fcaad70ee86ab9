// A byte image of an MDF file under construction, written field by field in little-endian order
// without the library: the sample generator's unsorted file and the tests' independent builder.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

struct mdf_image {
    std::vector<uint8_t> data;

    // Appends a zero-filled block of size bytes; with a type, its two identifier characters and
    // its size field (offset 2, UINT16) are filled in. Returns the block's position.
    std::size_t block(const char *type, std::size_t size) {
        std::size_t at = data.size();
        data.resize(at + size, 0);
        if (type != nullptr) {
            std::memcpy(&data[at], type, 2);
            u16(at + 2, static_cast<uint16_t>(size));
        }
        return at;
    }
    void u16(std::size_t at, uint16_t v) {
        data[at] = static_cast<uint8_t>(v);
        data[at + 1] = static_cast<uint8_t>(v >> 8);
    }
    void u32(std::size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) data[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }
    void real(std::size_t at, double v) {
        uint64_t bits = 0;
        std::memcpy(&bits, &v, 8);
        for (int i = 0; i < 8; ++i) data[at + i] = static_cast<uint8_t>(bits >> (8 * i));
    }
    // A text into a fixed-width field: at most field bytes, the rest of the field left as it is.
    void text(std::size_t at, const std::string &s, std::size_t field) {
        std::memcpy(&data[at], s.data(), std::min(s.size(), field));
    }
};
