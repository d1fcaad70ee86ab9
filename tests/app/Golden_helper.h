// Runs the converter binary on files made by a test and compares its results with the expected
// files in tests/data/expected. With the environment variable TRAXCON_REGENERATE set to 1 the
// expected files are written from the results instead (tests/data/expected/regenerate.sh).
#ifndef TRAXCON_GOLDEN_HELPER_H
#define TRAXCON_GOLDEN_HELPER_H

#include <filesystem>
#include <string>

struct golden_result {
    int status = -1;
    std::string out; // standard output, pointers masked
    std::string err; // standard error
    std::string adf; // the ADF file, empty if none was written
    bool adf_exists = false;
};

// Runs "traxcon <args>" in dir; standard output and error go to files beside the inputs.
golden_result golden_run(const std::filesystem::path &dir, const std::string &args,
                         const std::string &adf_name = "meas.adf");

// Compares out, err and (when compare_adf) the ADF file with tests/data/expected/<name>.out,
// .err and .adf, or writes them when regenerating.
void golden_compare(const std::string &name, const golden_result &r, bool compare_adf = true);

// Reads the ADF file back with the ADF reader: every block must give as many columns and value
// lines as its header declares. Returns the number of value lines of the first block.
long adf_read_back(const std::filesystem::path &path, int *columns = nullptr);

// Masks every "0x..." pointer in a text as "0xPTR" (and, for traxcon.exe, the Windows spelling).
std::string mask_pointers(const std::string &text);

#endif
