// The conversion driver: starts MDFLIB, has an unsorted input sorted into "<name>.tmp", opens the
// MDF and the ADF file, copies the MDF file information into comment lines, walks all groups and
// channels keeping every group that has a time channel and a value channel, gives every value
// channel a unique column name, runs the header and the merge, and closes everything in order.
#include "Convert.h"
#include "conv.h"

#include "Adf.h"
#include "Msg.h"
#include "Sls.h"
#include "mdflib.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <random>
#include <string>

namespace {

// Author, division, project and subject are 32-byte fields of the HD block, terminated only when
// the text is shorter.
constexpr std::size_t HD_TEXT_FIELD = 32;
// The magic number of an MDFLIB handle, as the trace shows it.
int check_number(const void *handle) {
    return static_cast<int>(mdflib_handle_magic(handle));
}

// One information comment line: a 10-character label and the text. Written at any length.
void write_info_comment(adf_file *adf, const char *label, const char *text, std::size_t max_len,
                        const conv_settings &s) {
    std::string line = label;
    if (text != nullptr)
        line.append(text, max_len ? conv_field_length(text, max_len) : std::strlen(text));
    if (s.trace_level == 2) std::printf("%s\n", line.c_str());
    if (adf_write_comment(adf, line.c_str()) != 0)
        conv_message(MSG_ERR, conv_key::ADFFIL_COMMENT_ERR);
}

// Ends the program with MDFFIL_VERSION_ERR when an MDFLIB status says that the file is one the
// converter does not read (never finalised, MDF 4.xx); any other status returns.
void refuse_version(std::int16_t status, const char *name) {
    if (status == MDF_ERR_UNFINISHED)
        conv_fatal(conv_key::MDFFIL_VERSION_ERR, name, conv_text(conv_key::MDFFIL_UNFIN_TXT));
    if (status == MDF_ERR_VERSION)
        conv_fatal(conv_key::MDFFIL_VERSION_ERR, name, conv_text(conv_key::MDFFIL_V4_TXT));
}

const char *byte_order_name(std::uint16_t order) {
    return order != 0 ? "big-endian" : "little-endian";
}

// Why a channel's values are no numbers (MDFCHN_DTYPE_TXT or MDFCHN_CTYPE_TXT, formatted), or an
// empty text when they are numbers. Warns about a formula that does not parse and an unknown
// conversion type, once per channel.
std::string number_problem(mdf_channel_rec *channel, std::uint16_t bits, std::uint16_t data_type,
                           const char *name, std::uint32_t g, std::uint32_t c) {
    std::uint16_t conversion = MDFCNV_NONE;
    mdfchn_conversion(channel, &conversion, nullptr);
    char reason[96] = "";
    switch (mdfchn_check_value(channel)) {
    case MDF_NOT_NUMERIC:
        if (conversion == MDFCNV_DATE || conversion == MDFCNV_TIME)
            std::snprintf(reason, sizeof reason, conv_text(conv_key::MDFCHN_CTYPE_TXT),
                          static_cast<unsigned>(conversion));
        else
            std::snprintf(reason, sizeof reason, conv_text(conv_key::MDFCHN_DTYPE_TXT),
                          static_cast<unsigned>(data_type), static_cast<unsigned>(bits));
        break;
    case MDF_FORMULA_INVALID:
        conv_message(MSG_WARN, conv_key::MDFCHN_FORMULA_WARN, static_cast<int>(c), name,
                     static_cast<int>(g));
        break;
    case MDF_CONVERSION_UNKNOWN:
        conv_message(MSG_WARN, conv_key::MDFCHN_CONVTYPE_WARN, static_cast<unsigned>(conversion),
                     static_cast<int>(c), name, static_cast<int>(g));
        break;
    default: break;
    }
    return reason;
}

// Why the input cannot be read, as the file system tells (no such file, a directory, an empty
// file, no permission to read it); the empty text when it can be opened.
std::string file_problem(const std::string &name) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::file_status status = fs::status(name, error);
    if (!fs::exists(status)) return conv_text(conv_key::MDFFIL_NOFILE_TXT);
    if (fs::is_directory(status)) return conv_text(conv_key::MDFFIL_ISDIR_TXT);
    if (fs::is_regular_file(status) && fs::file_size(name, error) == 0 && !error)
        return conv_text(conv_key::MDFFIL_EMPTY_TXT);
    std::FILE *probe = std::fopen(name.c_str(), "rb");
    if (probe == nullptr) return conv_text(conv_key::MDFFIL_NOACCESS_TXT);
    std::fclose(probe);
    return "";
}

// Why MDFLIB could not read the input: not an MDF file, or its own words about the damage.
std::string content_problem() {
    std::string words = mdflib_last_error_text();
    while (!words.empty() && (words.back() == '\n' || words.back() == ' ')) words.pop_back();
    if (words.find("(ID block at 0: no MDF file identifier)") != std::string::npos)
        return conv_text(conv_key::MDFFIL_NOTMDF_TXT);
    if (words.empty()) return conv_text(conv_key::MDFFIL_NOFILE_TXT);
    char text[160];
    std::snprintf(text, sizeof text, conv_text(conv_key::MDFFIL_DAMAGED_TXT), words.c_str());
    return text;
}

// Sorts an unsorted input into a private file beside tmp_name and moves it into place as tmp_name
// once it is complete, so that runs at the same time never read each other's half-written copy.
// Where the platform cannot replace a tmp_name that another run holds open, the private copy is
// read instead and removed at the end (its name in sorted_copy). Returns the name to read.
std::string sort_into(const std::string &input, const char *tmp_name, std::string &sorted_copy) {
    static const char digits[] = "0123456789abcdef";
    std::random_device random;
    std::string private_name = std::string(tmp_name) + ".";
    for (int i = 0; i < 12; ++i) private_name += digits[random() % 16];
    if (mdffil_sort(input.c_str(), private_name.c_str()) != 0)
        conv_fatal(conv_key::MDFFIL_OPEN_ERR, tmp_name, content_problem().c_str());
    std::error_code error;
    std::filesystem::rename(private_name, tmp_name, error);
    if (!error) return tmp_name;
    sorted_copy = private_name;
    return private_name;
}

int read_value(double *value, mdf_channel_rec *channel) {
    return mdfchn_read_value(value, channel);
}

void close_value_channels(const conv_group &g) {
    for (const conv_channel &c : g.channels)
        if (mdfchn_close(c.handle) != 0) conv_message(MSG_ERR, conv_key::MDFCHN_CLOSE_ERR);
}

// Reads the channels of group g (k channels, the group just opened) into entry.
void walk_channels(conv_tables &t, conv_group &entry, std::uint32_t g, std::uint32_t k,
                   const conv_settings &s) {
    for (std::uint32_t c = 1; c <= k; ++c) {
        mdf_channel_rec *channel = nullptr;
        if (mdfchn_open(&channel, entry.handle, static_cast<std::uint16_t>(c)) != 0) {
            conv_message(MSG_ERR, conv_key::MDFCHN_OPEN_ERR, static_cast<int>(c),
                         static_cast<int>(g));
            continue;
        }
        if (s.trace_level == 2)
            std::printf("  %hu. channelhandle = %p->%d - ", static_cast<unsigned short>(c),
                        static_cast<void *>(channel), check_number(channel));
        std::uint16_t type = 0;
        std::uint16_t bits = 0;
        std::uint16_t data_type = 0;
        const char *name = nullptr;
        if (mdfchn_info(channel, &type, &bits, &data_type, &name, nullptr, nullptr) != 0) {
            conv_message(MSG_ERR, conv_key::MDFCHN_INFO_ERR, static_cast<int>(c),
                         static_cast<int>(g));
            if (mdfchn_close(channel) != 0) conv_message(MSG_ERR, conv_key::MDFCHN_CLOSE_ERR);
            continue;
        }
        std::uint16_t order = 0;
        mdfchn_byte_order(channel, &order);
        auto trace_layout = [&] {
            if (s.trace_level == 2)
                std::printf("    data type = %hu, bits = %hu, byte order = %s\n",
                            static_cast<unsigned short>(data_type),
                            static_cast<unsigned short>(bits), byte_order_name(order));
        };
        // A channel whose values are no numbers is no column: no name, no kg/kn position.
        std::string problem;
        if (type == MDFCHN_TIME || type == MDFCHN_VALUE)
            problem = number_problem(channel, bits, data_type, name, g, c);
        if (type == MDFCHN_TIME) {
            if (s.trace_level == 2) std::fputs("time channel\n", stdout);
            trace_layout();
            if (problem.empty()) {
                entry.time_handle = channel;
                continue;
            }
            conv_message(MSG_ERR, conv_key::MDFGRP_TIMENUM_ERR, static_cast<int>(c), name,
                         static_cast<int>(g), problem.c_str());
            entry.time_unusable = true;
            if (mdfchn_close(channel) != 0) conv_message(MSG_ERR, conv_key::MDFGRP_TIMECLOSE_ERR);
        } else if (type == MDFCHN_VALUE && !problem.empty()) {
            if (s.trace_level == 2) std::fputs("value channel left out\n", stdout);
            trace_layout();
            conv_message(MSG_ERR, conv_key::MDFCHN_NOTNUM_ERR, static_cast<int>(c), name,
                         static_cast<int>(g), problem.c_str());
            if (mdfchn_close(channel) != 0) conv_message(MSG_ERR, conv_key::MDFCHN_CLOSE_ERR);
        } else if (type == MDFCHN_VALUE) {
            conv_channel ch;
            ch.handle = channel;
            ch.bits = bits;
            ch.data_type = data_type;
            ch.number = c;
            ch.bit_warned = 0;
            ch.name_id = conv_unique_name(t, name, g, c);
            const char *unit = nullptr;
            if (mdfchn_conversion(channel, nullptr, &unit) == 0 && unit != nullptr) ch.unit = unit;
            entry.channels.push_back(ch);
            if (s.trace_level == 2) {
                std::printf("%d. value channel\n", static_cast<int>(entry.channels.size() - 1));
                std::printf("    name = %s  ", sls_name(t.channel_names, ch.name_id));
                std::printf("    type = %hu  ", static_cast<unsigned short>(data_type));
                std::printf("    bits = %hu \n", static_cast<unsigned short>(bits));
            }
            trace_layout();
        } else {
            conv_message(MSG_ERR, conv_key::MDFCHN_TYPE_ERR, static_cast<int>(type),
                         static_cast<int>(c), static_cast<int>(g));
            if (mdfchn_close(channel) != 0) conv_message(MSG_ERR, conv_key::MDFCHN_CLOSE_ERR);
        }
    }
}

// Walks all groups and keeps the used ones in t.groups.
void walk_groups(conv_tables &t, mdf_file_rec *file, std::uint32_t groups, const conv_settings &s) {
    for (std::uint32_t g = 1; g <= groups; ++g) {
        conv_group entry;
        entry.number = g;
        if (mdfgrp_open(&entry.handle, file, static_cast<std::uint16_t>(g), MDFGRP_READ) != 0) {
            conv_message(MSG_ERR, conv_key::MDFGRP_OPEN_ERR, static_cast<int>(g));
            continue;
        }
        std::uint16_t k = 0;
        if (mdfgrp_channels(&k, entry.handle) != 0) {
            conv_message(MSG_ERR, conv_key::MDFGRP_CHN_ERR, static_cast<int>(g));
            if (mdfgrp_close(entry.handle) != 0) conv_message(MSG_ERR, conv_key::MDFGRP_CLOSE_ERR);
            continue;
        }
        try {
            entry.channels.reserve(k);
        } catch (const std::bad_alloc &) {
            conv_fatal(conv_key::SPACE_ERR);
        }
        if (s.trace_level == 2)
            std::printf("%hu. grouphandle = %p->%d - group %hu, %hu channels\n",
                        static_cast<unsigned short>(g), static_cast<void *>(entry.handle),
                        check_number(entry.handle), static_cast<unsigned short>(t.groups.size()),
                        static_cast<unsigned short>(k));
        walk_channels(t, entry, g, k, s);

        if (entry.time_handle == nullptr || entry.time_unusable) {
            if (entry.time_handle != nullptr && mdfchn_close(entry.time_handle) != 0)
                conv_message(MSG_ERR, conv_key::MDFGRP_TIMECLOSE_ERR);
            entry.time_handle = nullptr;
            close_value_channels(entry);
            if (mdfgrp_close(entry.handle) != 0) conv_message(MSG_ERR, conv_key::MDFGRP_CLOSE_ERR);
        } else if (entry.channels.empty()) {
            if (mdfchn_close(entry.time_handle) != 0)
                conv_message(MSG_ERR, conv_key::MDFGRP_TIMECLOSE_ERR);
            if (mdfgrp_close(entry.handle) != 0) conv_message(MSG_ERR, conv_key::MDFGRP_CLOSE_ERR);
        } else {
            t.total += entry.channels.size();
            t.groups.push_back(std::move(entry));
        }
    }
}

} // namespace

void conv_convert(const char *dat_name_in, const char *adf_name, const char *tmp_name,
                  const conv_settings &s) {
    if (mdflib_init("") != 0) conv_fatal(conv_key::MDFLIB_OPEN_ERR);

    std::string dat_name = dat_name_in;
    // What the file system says comes first; then MDFLIB reads the contents, once.
    if (const std::string problem = file_problem(dat_name); !problem.empty())
        conv_fatal(conv_key::MDFFIL_OPEN_ERR, dat_name.c_str(), problem.c_str());
    const std::int16_t sorted = mdffil_test_sorted(dat_name.c_str());
    refuse_version(sorted, dat_name.c_str());
    if (sorted != 0 && sorted != MDF_NOT_SORTED)
        conv_fatal(conv_key::MDFFIL_OPEN_ERR, dat_name.c_str(), content_problem().c_str());
    std::string sorted_copy; // a private sorted copy to remove at the end, if any
    if (sorted == MDF_NOT_SORTED) {
        conv_message(MSG_INFO, conv_key::MDFFIL_UNSORTED, dat_name.c_str(), tmp_name);
        dat_name = sort_into(dat_name, tmp_name, sorted_copy);
    }

    mdf_file_rec *file = nullptr;
    if (std::int16_t status = mdffil_open(&file, dat_name.c_str(), MDFFIL_READ); status != 0) {
        refuse_version(status, dat_name.c_str());
        conv_fatal(conv_key::MDFFIL_OPEN_ERR, dat_name.c_str(), content_problem().c_str());
    }

    conv_tables t;
    t.adf = adf_open_write(adf_name);
    if (t.adf == nullptr) conv_fatal(conv_key::ADFFIL_OPEN_ERR, adf_name);

    std::uint16_t group_count = 0;
    if (mdffil_groups(&group_count, file) != 0) conv_fatal(conv_key::MDFFIL_GROUPS_ERR);
    const std::uint32_t groups = group_count;

    const char *date = nullptr, *time = nullptr, *comment = nullptr, *author = nullptr;
    const char *division = nullptr, *project = nullptr, *subject = nullptr;
    if (mdffil_info(file, &date, &time, &comment, &author, &division, &project, &subject) != 0) {
        conv_message(MSG_ERR, conv_key::MDFFIL_INFO_ERR);
    } else {
        write_info_comment(t.adf, "DATE:     ", date, 0, s);
        write_info_comment(t.adf, "TIME:     ", time, 0, s);
        write_info_comment(t.adf, "TEXT:     ", comment, 0, s);
        write_info_comment(t.adf, "NAME:     ", author, HD_TEXT_FIELD, s);
        write_info_comment(t.adf, "DIVISION: ", division, HD_TEXT_FIELD, s);
        write_info_comment(t.adf, "PROJECT:  ", project, HD_TEXT_FIELD, s);
        write_info_comment(t.adf, "SUBJECT:  ", subject, HD_TEXT_FIELD, s);
    }
    if (s.trace_level == 2) {
        std::uint16_t version = 0, order = 0;
        mdffil_version(file, &version, &order);
        std::printf("MDF version = %u.%02u, default byte order = %s\n", version / 100u,
                    version % 100u, byte_order_name(order));
    }

    t.channel_names = sls_create(0, 0, 0, 0);
    if (t.channel_names == nullptr) conv_fatal(conv_key::SPACE_ERR);
    try {
        t.groups.reserve(groups);
    } catch (const std::bad_alloc &) {
        conv_fatal(conv_key::SPACE_ERR);
    }
    walk_groups(t, file, groups, s);
    // A library error refuses every later operation: the groups after it failed in turn, and
    // converting what is left would give an incomplete table with exit status 0.
    if (mdflib_last_error() < 0) conv_fatal(conv_key::MDFLIB_INTERR);

    conv_write_header(t, s);
    conv_merge(t, s, read_value);

    std::vector<double>().swap(t.line_values);
    sls_destroy(t.channel_names);
    t.channel_names = nullptr;
    for (const conv_group &g : t.groups) {
        if (mdfchn_close(g.time_handle) != 0) conv_message(MSG_ERR, conv_key::MDFGRP_TIMECLOSE_ERR);
        close_value_channels(g);
        if (mdfgrp_close(g.handle) != 0) conv_message(MSG_ERR, conv_key::MDFGRP_CLOSE_ERR);
    }
    std::vector<conv_group>().swap(t.groups);
    if (adf_close(t.adf) != 0) conv_fatal(conv_key::ADFFIL_CLOSE_ERR, adf_name);
    t.adf = nullptr;
    if (mdffil_close(file) != 0) conv_fatal(conv_key::MDFFIL_CLOSE_ERR, dat_name.c_str());
    if (mdflib_exit() != 0) conv_fatal(conv_key::MDFLIB_CLOSE_ERR);
    if (!sorted_copy.empty()) {
        std::error_code ignored;
        std::filesystem::remove(sorted_copy, ignored);
    }
}

int conv_run(void) {
    conv_settings s;
    s.trace_level = conv.trace_level;
    s.trigger_flag = conv.trigger_flag;
    s.interpolation_flag = conv.interpolation_flag;
    s.digits = conv.digits;
    try {
        conv_convert(conv.dat_name, conv.adf_name, conv.tmp_name, s);
    } catch (const std::bad_alloc &) {
        conv_fatal(conv_key::SPACE_ERR); // a name or a table that could not grow
    }
    return 0;
}
