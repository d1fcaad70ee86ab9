// The damaged-file suite: the converter binary on copies of a valid multi-group MDF file (sorted,
// and unsorted so that the sort runs first), each damaged in one place. Whatever the damage, the
// run must end within the time limit by exit, with status 0 and a complete ADF file (the damage
// did not matter) or with status 1 and a fatal keyed message or an MDFLIB error line that names
// the problem; never by a signal, and never with a sanitizer report in the sanitizer build.
// Another converter binary under test (traxcon.exe under Wine) must in addition end every case
// as the build's own binary does, byte for byte.
#include "Damaged_helper.h"
#include "Fakegroup_helper.h"
#include "Golden_helper.h"
#include "Run_helper.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

namespace {

namespace fs = std::filesystem;

// Every case must end within this many seconds; a run still going then is killed and fails.
constexpr double TIME_LIMIT = 10.0;

const dmg_bytes &base_file(bool unsorted) {
    static const dmg_bytes sorted_file = dmg_base_file(false);
    static const dmg_bytes unsorted_file = dmg_base_file(true);
    return unsorted ? unsorted_file : sorted_file;
}

const dmg_map &base_map(bool unsorted) {
    static const dmg_map sorted_map = dmg_map_file(base_file(false));
    static const dmg_map unsorted_map = dmg_map_file(base_file(true));
    return unsorted ? unsorted_map : sorted_map;
}

bool write_bytes(const fs::path &path, const dmg_bytes &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return out.good();
}

// Runs at a time: the runs wait mostly for the system (process start, sanitizer set-up).
unsigned worker_count() {
    unsigned cores = std::thread::hardware_concurrency();
    return std::clamp(cores, 2u, 4u);
}

struct run_counts {
    int cases = 0;
    int completed = 0; // status 0
    int refused = 0;   // status 1
};

// Checks how one run ended; returns its exit status (-1 for anything else).
int check_ending(const run_result &r, const fs::path &dir) {
    static const std::regex fatal("\\[TRAXCON [0-9]+\\.FATAL ERROR [A-Z_]+\\]  \n    \\S");
    static const std::regex library("\\[MDFLIB-ERROR\\] \\S");
    EXPECT_FALSE(r.timed_out);
    EXPECT_TRUE(r.exited) << "ended by signal " << r.status << "\nstderr:\n" << r.err;
    EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("runtime error"), std::string::npos) << r.err;
    if (!r.exited || r.timed_out) return -1;
    if (r.status == 0) {
        // The damage did not stop the conversion: the ADF file is complete and consistent.
        EXPECT_TRUE(fs::exists(dir / "meas.adf"));
        if (fs::exists(dir / "meas.adf")) adf_read_back(dir / "meas.adf");
        return 0;
    }
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(std::regex_search(r.err, fatal) || std::regex_search(r.out, library))
        << "no message tells what is wrong\nstdout:\n"
        << r.out << "\nstderr:\n"
        << r.err;
    return r.status == 1 ? 1 : -1;
}

// A case run by the binary under test against the same case run by the reference binary: the
// same exit status and messages, and the same ADF file and sorted copy (.tmp), or neither.
void compare_with_reference(const run_result &r, const fs::path &dir, const run_result &ref,
                            const fs::path &ref_dir) {
    EXPECT_EQ(r.status, ref.status);
    EXPECT_EQ(r.out, ref.out);
    EXPECT_EQ(r.err, ref.err);
    for (const char *name : {"meas.adf", "meas.tmp"}) {
        const bool made = fs::exists(dir / name);
        EXPECT_EQ(made, fs::exists(ref_dir / name)) << name;
        if (!made || !fs::exists(ref_dir / name)) continue;
        std::string bytes = read_file_bytes((dir / name).string());
        if (name == std::string("meas.adf")) bytes = traxcon_text(bytes);
        EXPECT_TRUE(bytes == read_file_bytes((ref_dir / name).string()))
            << name << " differs from the reference binary's";
    }
}

// With TRAXCON_DAMAGED_VERBOSE=1 every case is listed with its exit status and its last message.
bool verbose() {
    const char *flag = std::getenv("TRAXCON_DAMAGED_VERBOSE");
    return flag != nullptr && std::string(flag) == "1";
}

// The last line of a text that is not empty.
std::string last_line(const std::string &text) {
    std::size_t end = text.find_last_not_of("\n ");
    if (end == std::string::npos) return "";
    std::size_t start = text.rfind('\n', end);
    start = start == std::string::npos ? 0 : start + 1;
    return text.substr(start, end + 1 - start);
}

// Runs the converter on every case, each in a folder of its own, several at a time; then checks
// how each ended, in case order, and reports how the cases ended.
void run_cases(const std::string &family, bool unsorted, const std::vector<dmg_case> &cases) {
    const fs::path dir = make_temp_dir(family);
    std::vector<run_result> results(cases.size()), references(cases.size());
    std::vector<char> written(cases.size(), 0);
    std::atomic<std::size_t> next{0};
    const bool compare = reference_available();
    auto work = [&] {
        for (std::size_t i; (i = next++) < cases.size();) {
            const fs::path folder = dir / std::to_string(i);
            const fs::path ref_folder = dir / (std::to_string(i) + "-reference");
            fs::create_directory(folder);
            written[i] = write_bytes(folder / "meas.dat", cases[i].bytes);
            if (compare) {
                fs::create_directory(ref_folder);
                written[i] = written[i] && write_bytes(ref_folder / "meas.dat", cases[i].bytes);
            }
            if (!written[i]) continue;
            results[i] = run_traxcon({"meas", "=e", "/trace=0"}, folder.string(), TIME_LIMIT);
            if (compare)
                references[i] =
                    run_reference({"meas", "=e", "/trace=0"}, ref_folder.string(), TIME_LIMIT);
        }
    };
    std::vector<std::thread> workers;
    for (unsigned w = 0; w < worker_count(); ++w) workers.emplace_back(work);
    for (std::thread &w : workers) w.join();

    run_counts counts;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        const fs::path folder = dir / std::to_string(i);
        EXPECT_TRUE(written[i]) << folder;
        const run_result &r = results[i];
        int status = check_ending(r, folder);
        const fs::path ref_folder = dir / (std::to_string(i) + "-reference");
        if (compare) compare_with_reference(r, folder, references[i], ref_folder);
        if (verbose())
            std::printf("  %2d  %-56s %s\n", status, cases[i].name.c_str(),
                        (last_line(r.err) + " | " + last_line(r.out)).c_str());
        ++counts.cases;
        if (status == 0) ++counts.completed;
        if (status == 1) ++counts.refused;
        if (!testing::Test::HasFailure()) {
            fs::remove_all(folder);
            fs::remove_all(ref_folder);
        }
    }
    std::printf("[ damaged  ] %s (%s): %d cases, %d converted, %d refused%s\n", family.c_str(),
                unsorted ? "unsorted" : "sorted", counts.cases, counts.completed, counts.refused,
                compare ? ", each as the reference binary" : "");
}

// Under Wine (traxcon.exe through a launcher) the families that damage block sizes, bit
// positions, value types and count fields are left out: MDFLIB reads and checks these fields in
// code without any platform call, and they take a third of the suite's time there. The families
// that run there damage what goes through the file I/O, the sort into the .tmp file and the C
// library: truncations, links, record counts and sizes, identifiers, the ID block, texts,
// parameter counts (formulas) and empty records.
#define LEFT_OUT_UNDER_WINE()                                                                      \
    if (traxcon_on_windows()) GTEST_SKIP() << "left out under Wine (no platform code in between)"

class Damaged : public testing::TestWithParam<bool> {
  protected:
    bool unsorted() const { return GetParam(); }
    const dmg_bytes &file() const { return base_file(unsorted()); }
    const dmg_map &map() const { return base_map(unsorted()); }
};

// The base file itself is complete and converts without a message.
TEST_P(Damaged, BaseFileConverts) {
    const dmg_map &m = map();
    EXPECT_EQ(m.cgs.size(), 3u);
    EXPECT_EQ(m.cns.size(), 10u);
    EXPECT_EQ(m.ccs.size(), 7u);
    EXPECT_EQ(m.dgs.size(), unsorted() ? 1u : 3u);
    for (const char *type : {"HD", "TX", "PR", "DG", "TR", "CG", "CN", "CC", "CE", "CD"})
        EXPECT_TRUE(std::any_of(m.blocks.begin(), m.blocks.end(), [&](const dmg_block &b) {
            return b.type == type;
        })) << type;
    const fs::path dir = make_temp_dir("base");
    ASSERT_TRUE(write_bytes(dir / "meas.dat", file()));
    run_result r = run_traxcon({"meas", "=e", "/trace=0"}, dir.string(), TIME_LIMIT);
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    // Only the information about the sort.
    EXPECT_EQ(r.err.find("ERROR"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("WARNING"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("MDFFIL_UNSORTED") != std::string::npos, unsorted()) << r.err;
    int columns = 0;
    EXPECT_EQ(adf_read_back(dir / "meas.adf", &columns), 12);
    EXPECT_EQ(columns, 8);
}

TEST_P(Damaged, Truncated) {
    std::vector<dmg_case> cases = dmg_truncations(file(), map());
    EXPECT_GT(cases.size(), 60u);
    run_cases("truncated", unsorted(), cases);
}

TEST_P(Damaged, Links) {
    std::vector<dmg_case> cases = dmg_link_damage(file(), map());
    EXPECT_GT(cases.size(), 300u);
    run_cases("links", unsorted(), cases);
}

TEST_P(Damaged, BlockSizes) {
    LEFT_OUT_UNDER_WINE();
    std::vector<dmg_case> cases = dmg_block_sizes(file(), map());
    EXPECT_GT(cases.size(), 150u);
    run_cases("block_sizes", unsorted(), cases);
}

TEST_P(Damaged, RecordCountsAndSizes) {
    run_cases("record_counts", unsorted(), dmg_record_counts(file(), map()));
}

TEST_P(Damaged, Identifiers) {
    run_cases("identifiers", unsorted(), dmg_identifiers(file(), map()));
}

TEST_P(Damaged, BitPositions) {
    LEFT_OUT_UNDER_WINE();
    run_cases("bit_positions", unsorted(), dmg_bit_positions(file(), map()));
}

TEST_P(Damaged, ParameterCounts) {
    run_cases("parameter_counts", unsorted(), dmg_parameter_counts(file(), map()));
}

TEST_P(Damaged, ValueTypes) {
    LEFT_OUT_UNDER_WINE();
    run_cases("value_types", unsorted(), dmg_value_types(file(), map()));
}

TEST_P(Damaged, IdBlock) {
    run_cases("id_block", unsorted(), dmg_id_block(file(), map()));
}

TEST_P(Damaged, CountFields) {
    LEFT_OUT_UNDER_WINE();
    run_cases("count_fields", unsorted(), dmg_count_fields(file(), map()));
}

TEST_P(Damaged, Texts) {
    run_cases("texts", unsorted(), dmg_texts(file(), map()));
}

TEST_P(Damaged, EmptyRecords) {
    run_cases("empty_records", unsorted(), dmg_empty_records(file(), map()));
}

INSTANTIATE_TEST_SUITE_P(Base, Damaged, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool> &info) {
                             return info.param ? "Unsorted" : "Sorted";
                         });

} // namespace
