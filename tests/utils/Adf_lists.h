// The per-channel and per-column answers of an ADF handle gathered into vectors, for the tests:
// each list is read from index 0 on until the accessor refuses the index.
#pragma once

#include "Adf.h"

#include <string>
#include <vector>

inline std::vector<std::string> names_of(const adf_file *a) {
    std::vector<std::string> v;
    for (long c = 0; const char *name = adf_channel_name(a, c); ++c) v.push_back(name);
    return v;
}

inline std::vector<int> kinds_of(const adf_file *a) {
    std::vector<int> v;
    for (long c = 0; adf_channel_kind(a, c) >= 0; ++c) v.push_back(adf_channel_kind(a, c));
    return v;
}

inline std::vector<long> name_groups_of(const adf_file *a) {
    std::vector<long> v;
    for (long c = 0; adf_name_group(a, c) >= 0; ++c) v.push_back(adf_name_group(a, c));
    return v;
}

// The channels of kind ADF_S, ADF_R or ADF_T, in order.
inline std::vector<long> prefixed_of(const adf_file *a, int kind) {
    std::vector<long> v;
    for (long i = 0; adf_prefixed_channel(a, kind, i) >= 0; ++i)
        v.push_back(adf_prefixed_channel(a, kind, i));
    return v;
}

inline std::vector<int> header_flags_of(const adf_file *a) {
    std::vector<int> v;
    for (long c = 0; adf_header_flag(a, c) >= 0; ++c) v.push_back(adf_header_flag(a, c));
    return v;
}
