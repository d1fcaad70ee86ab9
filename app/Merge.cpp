// The time merge: all used groups are stepped through the union of their time stamps in
// ascending order, one ADF value line per step. Each value column is interpolated linearly between
// the two records of its group that bracket the line's time, or the earlier record is held (bit
// channels, interpolation switched off); trigger columns mark the groups really sampled at the
// line's time. The merge ends with the line in which the first group runs out of records.
//
// Reading relies on the record-wise access of MDFLIB: the read of a group's time channel that
// opens a step moves the group to its next record, and the reads of its value channels that
// follow give the values of that same record.
#include "Convert.h"
#include "conv.h"

#include "Adf.h"
#include "Msg.h"
#include "Sls.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

struct merge_state {
    conv_tables &t;
    const conv_settings &s;
    conv_read_fn read;
    double acttime = 0.0;
    char last_time[40] = "";          // the TIME text of the line written last
    std::size_t last_time_length = 0; // its length; 0 before the first line
    bool time_warned = false;         // ADF_TIMEDIGITS_WARN given
};

// A time as the TIME column shows it ("%1.<digits>g", decimal point ".").
void time_text(const merge_state &m, double time, char (&text)[40]) {
    if (m.s.digits == 7)
        adf_format_default(text, time);
    else
        std::snprintf(text, sizeof text, "%1.*g", m.s.digits, time);
}

// Equal consecutive time stamps of a group: "times equal" in the full trace, otherwise one
// warning per group.
void equal_times(merge_state &m, conv_group &g) {
    if (m.s.trace_level == 2) {
        std::fputs("times equal\n", stdout);
    } else if (!g.equal_times_warned) {
        g.equal_times_warned = true;
        char text[40];
        time_text(m, g.t2, text);
        conv_message(MSG_WARN, conv_key::MDFGRP_TIMEEQUAL_WARN, static_cast<int>(g.number), text);
    }
}

// A time stamp of a group: 0 read, 1 no further record. Any other status (an MDFLIB error, which
// the library has printed itself and which it would repeat on every later read) and a time
// stamp that is not a number (which no comparison could ever pass) end the conversion.
int read_time(merge_state &m, const conv_group &g, double *time) {
    int status = m.read(time, g.time_handle);
    if (status == 1) return 1;
    if (status != 0 || std::isnan(*time)) conv_fatal(conv_key::MDFLIB_INTERR);
    return 0;
}

// A value of a channel in the record its group's time channel has just been read from; a record
// that has a time stamp but no value is inconsistent.
void read_value(merge_state &m, conv_channel &c, double *value) {
    if (m.read(value, c.handle) != 0) conv_fatal(conv_key::MDFLIB_INTERR);
}

// Moves a group on by one record: the later bracket becomes the earlier one, the next record the
// later one. False when the group has no further record (t1 is then the former t2 already).
bool advance(merge_state &m, conv_group &g) {
    g.t1 = g.t2;
    double time = 0.0;
    if (read_time(m, g, &time) == 1) return false;
    g.t2 = time;
    if (g.t2 == g.t1) equal_times(m, g);
    for (conv_channel &c : g.channels) {
        c.val1 = c.val2;
        read_value(m, c, &c.val2);
    }
    return true;
}

// Fills the value columns of a group from index col on; first_line leaves out the t1 < t2 test,
// which the priming makes true by construction.
std::size_t fill_columns(merge_state &m, conv_group &g, std::size_t col, bool first_line) {
    double *line = m.t.line_values.data();
    for (conv_channel &c : g.channels) {
        double value = c.val1;
        if (c.bits == 1) {
            if (c.bit_warned == 0 && c.val1 != 0.0 && c.val1 != 1.0) {
                c.bit_warned = 1;
                conv_message(MSG_WARN, conv_key::BITVALERR, sls_name(m.t.channel_names, c.name_id));
            }
        } else if (m.s.interpolation_flag != 0 && m.acttime != g.t1 &&
                   (first_line || g.t1 < g.t2)) {
            value = ((m.acttime - g.t1) * (c.val2 - c.val1)) / (g.t2 - g.t1) + c.val1;
        }
        line[col++] = value;
    }
    return col;
}

void fill_triggers(merge_state &m, std::size_t col) {
    if (m.s.trigger_flag == 0) return;
    double *line = m.t.line_values.data();
    for (const conv_group &g : m.t.groups) line[col++] = m.acttime == g.t1 ? 1.0 : 0.0;
}

void dump_group(const conv_group &g, std::size_t index) {
    std::printf("G%hu 1: T=%1.7g", static_cast<unsigned short>(index), g.t1);
    for (std::size_t j = 0; j < g.channels.size(); ++j)
        std::printf(" [%hu]=%1.7g", static_cast<unsigned short>(j), g.channels[j].val1);
    std::printf("\n   2: T=%1.7g", g.t2);
    for (std::size_t j = 0; j < g.channels.size(); ++j)
        std::printf(" [%hu]=%1.7g", static_cast<unsigned short>(j), g.channels[j].val2);
    std::fputs("\n", stdout);
}

void dump_columns(const merge_state &m) {
    std::printf("C[%hu]:", static_cast<unsigned short>(m.t.line_values.size()));
    for (double v : m.t.line_values) std::printf(" %1.7g", v);
    std::fputs("\n", stdout);
}

// The smallest later bracket time of all used groups.
void next_line_time(merge_state &m) {
    m.acttime = m.t.groups.front().t2;
    for (std::size_t i = 1; i < m.t.groups.size(); ++i)
        if (m.t.groups[i].t2 <= m.acttime) m.acttime = m.t.groups[i].t2;
    if (m.s.trace_level == 2) std::printf("acttime = %1.7g\n", m.acttime);
}

// A line that cannot be written (a full disk) ends the conversion: the file is incomplete, and
// its header line keeps its open count.
void write_line(merge_state &m) {
    if (m.s.trace_level == 2) dump_columns(m);
    if (adf_write_values(m.t.adf, m.t.line_values.data()) == ADF_ERR_WRITE)
        conv_fatal(conv_key::ADFFIL_CLOSE_ERR, conv.adf_name);
    // Two lines with the same TIME text (the line's first column, as written) cannot be told
    // apart in the file: say so once.
    if (m.time_warned) return;
    std::size_t length = 0;
    const char *text = adf_line_first_text(m.t.adf, &length);
    if (text == nullptr || length >= sizeof m.last_time) return;
    if (length == m.last_time_length && std::memcmp(text, m.last_time, length) == 0) {
        m.time_warned = true;
        conv_message(MSG_WARN, conv_key::ADF_TIMEDIGITS_WARN, m.last_time);
        return;
    }
    std::memcpy(m.last_time, text, length);
    m.last_time[length] = '\0';
    m.last_time_length = length;
}

// The first line: it lies at the latest first time stamp of all groups (not below 0), every group
// bracketing it with two records.
void prime(merge_state &m) {
    m.acttime = 0.0;
    for (conv_group &g : m.t.groups) {
        double time = 0.0;
        if (read_time(m, g, &time) == 1) conv_fatal(conv_key::MDFGRP_RECERR, 1);
        g.t1 = time;
        if (g.t1 >= m.acttime) m.acttime = g.t1;
        for (conv_channel &c : g.channels) read_value(m, c, &c.val1);
    }
    m.t.line_values[0] = m.acttime;
    if (m.s.trace_level == 2) std::printf("acttime = %1.7g\n", m.acttime);

    std::size_t col = 1;
    for (std::size_t i = 0; i < m.t.groups.size(); ++i) {
        conv_group &g = m.t.groups[i];
        double time = 0.0;
        if (read_time(m, g, &time) == 1) conv_fatal(conv_key::MDFGRP_RECERR, 2);
        g.t2 = time;
        for (conv_channel &c : g.channels) read_value(m, c, &c.val2);
        while (g.t2 <= m.acttime)
            if (!advance(m, g)) conv_fatal(conv_key::MDFGRP_RECERR, 2);
        col = fill_columns(m, g, col, true);
        if (m.s.trace_level == 2) dump_group(g, i);
    }
    fill_triggers(m, col);
    write_line(m);
    next_line_time(m);
}

// Progress marks at trace level 1: a point per 100 lines, a blank per 1000, a break per 5000.
void progress(long n) {
    if (n % 100 == 0) msg_append(".");
    if (n % 1000 == 0) msg_append(" ");
    if (n % 5000 == 0) msg_append("\n");
}

} // namespace

long conv_lines_written(const conv_tables &t) {
    return adf_lines_stored(t.adf);
}

long conv_merge(conv_tables &t, const conv_settings &s, conv_read_fn read) {
    merge_state m{t, s, read};
    if (!t.groups.empty()) {
        prime(m);
        bool end_reached = false;
        do {
            t.line_values[0] = m.acttime;
            std::size_t col = 1;
            // A pass in which no group moves would repeat itself for ever.
            bool moved = false;
            for (std::size_t i = 0; i < t.groups.size(); ++i) {
                conv_group &g = t.groups[i];
                while (!end_reached && g.t2 <= m.acttime) {
                    moved = true;
                    if (!advance(m, g)) {
                        // The group stands on its last record, t1 = t2 = acttime; the groups
                        // after it are not advanced in this pass.
                        end_reached = true;
                        g.t2 = g.t1;
                        for (conv_channel &c : g.channels) c.val1 = c.val2;
                    }
                }
                if (s.trace_level == 2) dump_group(g, i);
                col = fill_columns(m, g, col, false);
            }
            if (!moved) conv_fatal(conv_key::MDFLIB_INTERR);
            fill_triggers(m, col);
            write_line(m);
            if (s.trace_level == 1) progress(adf_lines_written(t.adf));
            next_line_time(m);
        } while (!end_reached);
    }
    // Counted once the file has taken them.
    if (adf_flush(t.adf) == ADF_ERR_WRITE) conv_fatal(conv_key::ADFFIL_CLOSE_ERR, conv.adf_name);
    long lines = conv_lines_written(t);
    if (s.trace_level == 1) msg_append(conv_text(conv_key::TRACE_ALLLIN), lines);
    return lines;
}
