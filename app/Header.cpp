// The ADF header: column 0 is the time, then the value channels of the used groups (group after
// group, each in channel order), then with "trig" one trigger column per used group. The comment
// line after the header tells for every value column its group and channel position among the
// used groups and their value channels ("kg/kn 1/1 1/2 2/1"), and the next one their physical
// units ("unit rpm % -", "-" for a trigger column or a channel without unit).
#include "Convert.h"
#include "conv.h"

#include "Adf.h"
#include "Msg.h"
#include "Sls.h"

#include <cstdio>
#include <new>
#include <string>

namespace {

void define_column(adf_file *adf, const char *name, int kind, const char *format) {
    if (adf_define_channel(adf, name, kind, format) != 0) conv_fatal(conv_key::ADF_HEADINIT_ERR);
}

// A unit as one entry of the unit line: blanks at both ends dropped, blanks and bytes outside
// printable ASCII inside made "_", "-" for none.
std::string unit_entry(const std::string &unit) {
    std::size_t begin = unit.find_first_not_of(' ');
    if (begin == std::string::npos) return "-";
    std::string entry = unit.substr(begin, unit.find_last_not_of(' ') - begin + 1);
    for (char &c : entry) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= ' ' || u >= 0x7F) c = '_';
    }
    return entry;
}

} // namespace

void conv_write_header(conv_tables &t, const conv_settings &s) {
    const std::size_t used = t.groups.size();
    const std::size_t triggers = s.trigger_flag != 0 ? used : 0;
    const std::size_t columns = 1 + t.total + triggers;
    try {
        t.line_values.assign(columns, 0.0);
    } catch (const std::bad_alloc &) {
        conv_fatal(conv_key::SPACE_ERR);
    }
    if (s.trace_level == 1)
        conv_message(MSG_INFO, conv_key::TRACE_CHNGRP, static_cast<unsigned>(t.total),
                     static_cast<unsigned>(used));

    if (adf_init_header(t.adf, static_cast<long>(columns), -1) != 0)
        conv_fatal(conv_key::ADF_HEADINIT_ERR);
    char format[16];
    std::snprintf(format, sizeof format, "%%1.%dg", s.digits);
    define_column(t.adf, "TIME", ADF_TIME, format);

    std::string kgkn = "kg/kn";
    std::string units = "unit";
    // The group lines of the trace belong to its levels 1 and 2.
    const bool traced = s.trace_level == 1 || s.trace_level == 2;
    char entry[32];
    for (std::size_t i = 0; i < used; ++i) {
        const conv_group &g = t.groups[i];
        if (traced) msg_append(conv_text(conv_key::TRACE_GRPNO), static_cast<unsigned>(i + 1));
        for (std::size_t j = 0; j < g.channels.size(); ++j) {
            const conv_channel &c = g.channels[j];
            const char *name = sls_name(t.channel_names, c.name_id);
            define_column(t.adf, name, ADF_PLAIN, format);
            units += ' ' + unit_entry(c.unit);
            if (s.trace_level == 1)
                msg_append(conv_text(conv_key::TRACE_CHNNAM), 32, name,
                           static_cast<unsigned>(c.bits));
            std::snprintf(entry, sizeof entry, " %hu/%hu", static_cast<unsigned short>(i + 1),
                          static_cast<unsigned short>(j + 1));
            kgkn += entry;
        }
    }
    for (std::size_t i = 0; i < triggers; ++i) {
        std::snprintf(entry, sizeof entry, "__trig_%hu", static_cast<unsigned short>(i + 1));
        define_column(t.adf, entry, ADF_PLAIN, format);
        units += " -";
    }
    if (adf_write_header(t.adf) != 0) conv_fatal(conv_key::ADF_HEADINIT_ERR);
    if (adf_write_comment(t.adf, kgkn.c_str()) != 0 || adf_write_comment(t.adf, units.c_str()) != 0)
        conv_message(MSG_ERR, conv_key::ADFFIL_COMMENT_ERR);

    if (s.trace_level == 1) {
        if (s.trigger_flag == 1) {
            msg_append("%s", conv_text(conv_key::TRACE_GEN));
            for (std::size_t i = 0; i < used; ++i)
                msg_append(conv_text(conv_key::TRACE_TRIG), static_cast<unsigned>(i + 1),
                           static_cast<unsigned>(i + 1));
        }
        msg_append("%s", conv_text(conv_key::TRACE_HEADFIN));
    }
    if (s.trace_level == 2) {
        for (std::size_t i = 0; i < used; ++i) {
            const conv_group &g = t.groups[i];
            std::printf("%hu. group = %p\n", static_cast<unsigned short>(i),
                        static_cast<void *>(g.handle));
            std::printf("%hu. time = %p\n", static_cast<unsigned short>(i),
                        static_cast<void *>(g.time_handle));
            for (std::size_t j = 0; j < g.channels.size(); ++j)
                std::printf("  %hu. value = %p\n", static_cast<unsigned short>(j),
                            static_cast<void *>(g.channels[j].handle));
        }
    }
}
