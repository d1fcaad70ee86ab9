// The size argument of the benchmark's generators: bytes with an optional suffix K, M or G
// (powers of 1024), from 64K to 2G.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdlib>

inline bool parse_size(const char *text, uint64_t *size) {
    char *end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(text, &end, 10);
    if (errno != 0 || end == text) return false;
    uint64_t unit = 1;
    if (*end == 'K' || *end == 'k') unit = 1ull << 10;
    if (*end == 'M' || *end == 'm') unit = 1ull << 20;
    if (*end == 'G' || *end == 'g') unit = 1ull << 30;
    if (unit != 1) ++end;
    if (*end != '\0') return false;
    *size = v * unit;
    return *size >= (64ull << 10) && *size <= (2ull << 30);
}
