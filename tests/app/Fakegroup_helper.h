// Fake groups for the merge and header tests: records of a time channel and value channels held
// in memory and read with the record access rule of MDFLIB (opening stands on the first record;
// reading a channel already read in the current record moves the whole group on; status 1 when
// no record is left). The tables are filled as the driver fills them and written to a real ADF
// file in a temporary folder.
#ifndef TRAXCON_FAKEGROUP_HELPER_H
#define TRAXCON_FAKEGROUP_HELPER_H

#include "Convert.h"

#include <filesystem>
#include <string>
#include <vector>

struct fake_channel_desc {
    std::string name;
    uint16_t bits = 16;
    std::vector<double> values; // one per record; fewer values than records: status 1 there
};

struct fake_group_desc {
    std::vector<double> times;
    std::vector<fake_channel_desc> channels;
    long fail_at = -1; // record index at which the time channel read returns fail_status
    int fail_status = -2004;
};

// A conversion over fake groups into a temporary ADF file.
struct fake_run {
    std::filesystem::path dir;
    std::filesystem::path adf_path;
    conv_tables t;
    conv_settings s;
    bool capture = true; // false in death tests, whose stderr the test itself looks at
    long lines = -1;
    std::string adf_text; // the whole ADF file after close
    std::string out;      // standard output during the run
    std::string err;      // standard error during the run
};

// Sets up the tables (names through conv_unique_name, groups numbered from 1), opens the ADF file,
// writes the header and runs the merge, then closes the ADF file and reads it back.
void fake_convert(fake_run &run, const std::vector<fake_group_desc> &groups);

// The value lines of an ADF text: every line that is neither a comment nor a "#" line.
std::vector<std::string> adf_value_lines(const std::string &adf_text);

// The fake read function the merge is given.
int fake_read(double *value, mdf_channel_rec *channel);

// The file in the test data folder, read whole; a missing file fails the calling test.
std::string read_file(const std::filesystem::path &path);

// A fresh empty folder below the system's temporary folder.
std::filesystem::path make_temp_dir(const std::string &name);

#endif
