// Column names of the value channels: cleaned so that every name stands as one column in the
// ADF channel line, and made unique with the "_kg<g>" and "_kg<g>_kn<c>" suffixes, which name
// the MDF group and channel numbers.
#include "Convert.h"
#include "conv.h"

#include "Adf.h"
#include "Msg.h"
#include "Sls.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

bool is_blank(unsigned char ch) {
    return ch == ' ';
}

// A name made of several pieces (runs of ADF name characters, see adf_is_name_char) of which one
// is TIME or ANGLE would be read back as a second time or angle column (or would make its column
// one): such a name is made one piece by writing its joining characters as "_".
void join_time_and_angle_pieces(std::string &name) {
    bool several = false, special = false;
    for (std::size_t i = 0; i < name.size();) {
        std::size_t j = i;
        while (j < name.size() && adf_is_name_char(name[j])) ++j;
        const std::string piece = name.substr(i, j - i);
        if (adf_is_time_name(piece.c_str()) || adf_is_angle_name(piece.c_str())) special = true;
        if (j < name.size()) several = true;
        i = j + 1;
    }
    if (!several || !special) return;
    for (char &ch : name)
        if (!adf_is_name_char(ch)) ch = '_';
}

} // namespace

std::size_t conv_field_length(const char *text, std::size_t field) {
    const void *zero = std::memchr(text, 0, field);
    return zero != nullptr ? static_cast<std::size_t>(static_cast<const char *>(zero) - text)
                           : field;
}

std::string conv_clean_name(const char *mdf_name, unsigned group_number, unsigned channel_number) {
    std::size_t len = mdf_name != nullptr ? std::strlen(mdf_name) : 0;
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
    join_time_and_angle_pieces(name);
    return name;
}

int conv_unique_name(conv_tables &t, const char *mdf_name, unsigned group_number,
                     unsigned channel_number) {
    const std::string name = conv_clean_name(mdf_name, group_number, channel_number);
    // A name the ADF reader would take for the time column, or for a second angle column,
    // is as taken as one that is in the list.
    auto taken = [&t](const std::string &candidate) {
        if (adf_is_time_name(candidate.c_str())) return true;
        if (t.angle_taken && adf_is_angle_name(candidate.c_str())) return true;
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
    if (adf_is_angle_name(candidate.c_str())) t.angle_taken = true;
    return id;
}
