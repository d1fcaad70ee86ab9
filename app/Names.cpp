// Column names of the value channels: cleaned so that every name stands as one column in the
// ADF channel line, and made unique with the "_kg<g>" and "_kg<g>_kn<c>" suffixes, which name
// the MDF group and channel numbers.
#include "Convert.h"
#include "conv.h"

#include "Msg.h"
#include "Sls.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The signal name of a channel block is a 32-byte field of the same kind.
constexpr std::size_t CN_NAME_FIELD = 32;

bool is_blank(unsigned char ch) {
    return ch == ' ';
}

bool equals_nocase(const std::string &a, const char *b) {
    std::size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (std::size_t i = 0; i < n; ++i) {
        char x = a[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
        if (x != b[i]) return false;
    }
    return true;
}

} // namespace

std::size_t conv_field_length(const char *text, std::size_t field) {
    const void *zero = std::memchr(text, 0, field);
    return zero != nullptr ? static_cast<std::size_t>(static_cast<const char *>(zero) - text)
                           : field;
}

std::string conv_clean_name(const char *mdf_name, unsigned group_number, unsigned channel_number) {
    std::size_t len = mdf_name != nullptr ? conv_field_length(mdf_name, CN_NAME_FIELD) : 0;
    std::size_t begin = 0;
    while (begin < len && is_blank(static_cast<unsigned char>(mdf_name[begin]))) ++begin;
    while (len > begin && is_blank(static_cast<unsigned char>(mdf_name[len - 1]))) --len;
    std::string name;
    if (len == begin) {
        char made[40];
        std::snprintf(made, sizeof made, "kg%u_kn%u", group_number, channel_number);
        name = made;
        return name;
    }
    name.assign(mdf_name + begin, len - begin);
    for (char &ch : name) {
        unsigned char u = static_cast<unsigned char>(ch);
        if (u == ' ' || u == '\t' || u < 0x20 || u == 0x7F) ch = '_';
    }
    return name;
}

int conv_unique_name(conv_tables &t, const char *mdf_name, unsigned group_number,
                     unsigned channel_number) {
    const std::string name = conv_clean_name(mdf_name, group_number, channel_number);
    // A name the ADF reader would take for the time column, or for a second angle column,
    // is as taken as one that is in the list.
    auto taken = [&t](const std::string &candidate) {
        if (equals_nocase(candidate, "TIME")) return true;
        if (t.angle_taken && equals_nocase(candidate, "ANGLE")) return true;
        return sls_find(t.channel_names, candidate.c_str()) >= 0;
    };
    std::string candidate = name;
    if (taken(candidate)) {
        candidate = name + "_kg" + std::to_string(group_number);
        conv_message(MSG_WARN, conv_key::MDFCHN_DUPNAME, name.c_str(),
                     static_cast<int>(group_number), candidate.c_str());
        if (taken(candidate)) {
            candidate += "_kn" + std::to_string(channel_number);
            conv_message(MSG_WARN, conv_key::MDFGRP_DUPCHAN, name.c_str(),
                         static_cast<int>(group_number), candidate.c_str());
        }
    }
    int id = sls_add(t.channel_names, candidate.c_str());
    if (id < 0) conv_fatal(conv_key::SPACE_ERR);
    if (equals_nocase(candidate, "ANGLE")) t.angle_taken = true;
    return id;
}
