// The conversion proper: the driver (library start, sorting, opening, comments, the walk of groups
// and channels, the closing sequence), the ADF header and the time merge. The tables built by the
// driver are read by the header and the merge; the merge reads records through a function pointer
// so that it can be exercised without MDFLIB.
#ifndef TRAXCON_APP_CONVERT_H
#define TRAXCON_APP_CONVERT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct mdf_group_rec;
struct mdf_channel_rec;
struct adf_file;
struct Sls;

// One value channel of a used group, in the order of the MDF channel numbers.
struct conv_channel {
    mdf_channel_rec *handle = nullptr;
    std::uint16_t bits = 0;      // 1 marks a bit channel: held, never interpolated
    std::uint16_t data_type = 0; // shown in the trace only
    std::string unit;            // the physical unit of its conversion block ("" if none)
    int name_id = -1;            // id of the unique column name in channel_names
    std::uint32_t number = 0;    // 1-based MDF channel number, the time channel counted
    double val1 = 0.0;           // value at t1
    double val2 = 0.0;           // value at t2
    std::uint16_t bit_warned = 0;
};

// One used group: a group with a time channel and at least one value channel.
struct conv_group {
    mdf_group_rec *handle = nullptr;
    mdf_channel_rec *time_handle = nullptr;
    bool time_unusable = false;         // its time channel gives no numbers: the group is not used
    bool equal_times_warned = false;    // MDFGRP_TIMEEQUAL_WARN given for it
    std::vector<conv_channel> channels; // the value channels
    std::uint32_t number = 0;           // 1-based MDF group number
    double t1 = 0.0;                    // earlier bracketing time stamp
    double t2 = 0.0;                    // later bracketing time stamp
};

// Reads the physical value of a channel in its group's current record (moving the group on when
// the channel was read there already); returns an MDFLIB status, 1 when no record is left.
using conv_read_fn = int (*)(double *value, mdf_channel_rec *channel);

// The tables of one conversion. The converter owns them; the handles inside belong to MDFLIB and
// are closed by the driver's closing sequence.
struct conv_tables {
    std::vector<conv_group> groups; // used groups, in MDF group order
    std::size_t total = 0;          // value channels of the used groups
    Sls *channel_names = nullptr;   // unique column names
    bool angle_taken = false;       // a column is named "ANGLE" (in any letter case)
    std::vector<double> line_values;
    adf_file *adf = nullptr;
};

// The settings the header and the merge depend on.
struct conv_settings {
    int trace_level = 1;
    int trigger_flag = 0;
    int interpolation_flag = 1;
    int digits = 7; // significant digits of every column ("%1.<digits>g")
};

// Column name of a value channel as it may stand in an ADF channel line: blanks at both ends are
// dropped, every blank, tab and control byte inside becomes "_", and an empty name is replaced by
// "kg<g>_kn<c>" from the MDF group and channel numbers. mdf_name is a terminated text of any
// length (a short name or an MDF 3.x long name).
std::string conv_clean_name(const char *mdf_name, unsigned group_number, unsigned channel_number);

// The length of a text that ends at its zero byte or, without one, at the end of its field.
std::size_t conv_field_length(const char *text, std::size_t field);

// Gives the channel a unique column name in t.channel_names (suffixes "_kg<g>" and "_kg<g>_kn<c>"
// with their warnings) and returns its id; a name that the ADF reader would take for the time
// column ("TIME" in any case), or a second "ANGLE", counts as taken. Fatal SPACE_ERR on failure.
int conv_unique_name(conv_tables &t, const char *mdf_name, unsigned group_number,
                     unsigned channel_number);

// Lays out the columns, writes the header, the kg/kn comment line and the header trace, and
// sizes t.line_values. Fatal messages on failure.
void conv_write_header(conv_tables &t, const conv_settings &s);

// Writes the value lines (the merge of all used groups onto one time axis) and returns the
// number of value lines written. A file without used groups gives no line.
long conv_merge(conv_tables &t, const conv_settings &s, conv_read_fn read);

// The number of value lines written to t.adf so far.
long conv_lines_written(const conv_tables &t);

// The whole conversion of dat_name into adf_name (an unsorted input is sorted into tmp_name
// first); returns when everything is closed, ends the program with a fatal message otherwise.
void conv_convert(const char *dat_name, const char *adf_name, const char *tmp_name,
                  const conv_settings &s);

#endif
