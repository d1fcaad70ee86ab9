// The damaged-file suite: the converter binary on copies of a valid multi-group MDF file (MDF 2.00
// and 3.30, each sorted, and unsorted so that the sort runs first), each damaged in one place.
// Whatever the damage, the run must end within the time limit by exit, with status 0 and a complete
// ADF file (the damage did not matter) or with status 1 and a fatal keyed message or an MDFLIB
// error line that names the problem; never by a signal, and never with a sanitizer report in the
// sanitizer build. Another converter binary under test (traxcon.exe under Wine) must in addition
// end every case as the build's own binary does, byte for byte.
#include "Damaged_helper.h"
#include "Adf.h"
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
#include <map>
#include <regex>
#include <thread>

namespace {

namespace fs = std::filesystem;

// Every case must end within this many seconds; a run still going then is killed and fails.
constexpr double TIME_LIMIT = 10.0;

constexpr dmg_base BASES[] = {dmg_base::sorted, dmg_base::unsorted, dmg_base::sorted_330,
                              dmg_base::unsorted_330};

const dmg_bytes &base_file(dmg_base base) {
    static const std::vector<dmg_bytes> files = [] {
        std::vector<dmg_bytes> all;
        for (dmg_base b : BASES) all.push_back(dmg_base_file(b));
        return all;
    }();
    return files.at(static_cast<std::size_t>(base));
}

const dmg_map &base_map(dmg_base base) {
    static const std::vector<dmg_map> maps = [] {
        std::vector<dmg_map> all;
        for (dmg_base b : BASES) all.push_back(dmg_map_file(base_file(b)));
        return all;
    }();
    return maps.at(static_cast<std::size_t>(base));
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

// Reads an ADF file back in which a column may carry several names (the ADF reader joins the
// names that characters outside its name set separate): one block, as many value lines as its
// header declares, at least one name per column.
void read_back_shared_columns(const fs::path &path) {
    adf_file *adf = adf_open_read(path.string().c_str(), 1);
    ASSERT_NE(adf, nullptr) << path;
    int blocks = 0;
    long lines = 0, declared = -1;
    for (;;) {
        const int result = adf_read_next(adf);
        if (result == 2) {
            ++lines;
            continue;
        }
        if (result != 1) {
            EXPECT_EQ(result, 0) << "ADF reader refuses " << path;
            break;
        }
        ++blocks;
        declared = adf_line_count(adf);
        EXPECT_GE(adf_channel_count(adf), adf_column_count(adf)) << path;
    }
    EXPECT_EQ(blocks, 1) << path;
    EXPECT_EQ(lines, declared) << path;
    EXPECT_EQ(adf_close(adf), 0);
}

// Checks how one run ended; returns its exit status (-1 for anything else).
int check_ending(const run_result &r, const fs::path &dir, bool shared_columns) {
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
        if (fs::exists(dir / "meas.adf")) {
            if (shared_columns)
                read_back_shared_columns(dir / "meas.adf");
            else
                adf_read_back(dir / "meas.adf");
        }
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
void run_cases(const std::string &family, dmg_base base, const std::vector<dmg_case> &cases) {
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
        int status = check_ending(r, folder, cases[i].shared_columns);
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
                dmg_base_name(base), counts.cases, counts.completed, counts.refused,
                compare ? ", each as the reference binary" : "");
}

// Under Wine (traxcon.exe through a launcher) the families that damage block sizes, bit
// positions, value types and count fields are left out, and the MDF 3.30 bases altogether: MDFLIB
// reads and checks these fields in code without any platform call, and they would take most of
// the suite's time there. The families that run there damage what goes through the file I/O, the
// sort into the .tmp file and the C library: truncations, links, record counts and sizes,
// identifiers, the ID block, texts, parameter counts (formulas) and empty records.
#define LEFT_OUT_UNDER_WINE()                                                                      \
    if (traxcon_on_windows()) GTEST_SKIP() << "left out under Wine (no platform code in between)"

class Damaged : public testing::TestWithParam<dmg_base> {
  protected:
    void SetUp() override {
        if (traxcon_on_windows() && mdf330()) GTEST_SKIP() << "MDF 3.30 bases left out under Wine";
    }
    dmg_base base() const { return GetParam(); }
    bool unsorted() const { return dmg_unsorted(GetParam()); }
    bool mdf330() const {
        return GetParam() == dmg_base::sorted_330 || GetParam() == dmg_base::unsorted_330;
    }
    const dmg_bytes &file() const { return base_file(base()); }
    const dmg_map &map() const { return base_map(base()); }
};

// What the base files hold, counted from their descriptions in Damaged_helper.cpp.
struct base_facts {
    std::size_t cns;   // channels
    std::size_t links; // link fields of the tree
    std::size_t texts; // TX blocks
    int columns;       // of the ADF file: TIME and the value channels that give numbers
    long lines;        // value lines
    uint16_t version;
};

base_facts facts(bool mdf330) {
    // 2.00: 3 + 4 + 3 channels. Links: HD 3, DG 4 each, CG 3 each, CN 5 each, TR 1. Texts: the
    // file comment, the trigger comment, 3 group comments and 3 channel comments. Lines: the
    // 32-bit float time stamps of groups 2 and 3 (0.2, 0.35, ... in single precision) lie
    // beside the millisecond times of group 1, from 0.1 s (the latest first time stamp) to the
    // last record of group 1 at 0.7 s: 12 lines.
    if (!mdf330) return {10, 3 + 4 + 3 * 3 + 10 * 5 + 1, 8, 8, 12, 200};
    // 3.30: 4 + 5 + 4 channels; the CGs have the sample-reduction link, the CNs the long-name and
    // display-name links, the range-to-text conversion one link for each of its 4 entries. Texts
    // as in 2.00 and one long name, one display name, 4 range texts. The string channel gives no
    // column: 10 columns. The double time stamps of all groups are exact hundredths, so equal
    // times are one line: 0.1 0.2 0.3 0.35 0.4 0.5 0.6 0.65 0.7, 9 lines.
    return {13, 3 + 4 + 3 * 4 + 13 * 7 + 4 + 1, 14, 10, 9, 330};
}

// The base file itself is complete and converts; only the 3.30 file's string channel is left out.
TEST_P(Damaged, BaseFileConverts) {
    const dmg_map &m = map();
    const base_facts expected = facts(mdf330());
    EXPECT_EQ(m.cgs.size(), 3u);
    EXPECT_EQ(m.cns.size(), expected.cns);
    EXPECT_EQ(m.ccs.size(), 7u);
    EXPECT_EQ(m.dgs.size(), unsorted() ? 1u : 3u);
    EXPECT_EQ(m.links.size(), expected.links + (unsorted() ? 0 : 2 * 4));
    EXPECT_EQ(std::count_if(m.blocks.begin(), m.blocks.end(),
                            [](const dmg_block &b) { return b.type == "TX"; }),
              static_cast<std::ptrdiff_t>(expected.texts));
    EXPECT_EQ(dmg_u16(file(), 28), expected.version);
    for (const char *type : {"HD", "TX", "PR", "DG", "TR", "CG", "CN", "CC", "CE", "CD"})
        EXPECT_TRUE(std::any_of(m.blocks.begin(), m.blocks.end(), [&](const dmg_block &b) {
            return b.type == type;
        })) << type;
    for (const dmg_block &b : m.blocks) {
        // The blocks of the version's sizes.
        const std::map<std::string, uint16_t> sizes =
            mdf330()
                ? std::map<std::string, uint16_t>{{"HD", 208}, {"DG", 28}, {"CG", 30}, {"CN", 228}}
                : std::map<std::string, uint16_t>{{"HD", 164}, {"DG", 24}, {"CG", 26}, {"CN", 218}};
        if (sizes.count(b.type) == 0) continue;
        EXPECT_EQ(b.size, sizes.at(b.type)) << b.name;
    }
    EXPECT_EQ(m.data.front().id_bytes, unsorted() ? (mdf330() ? 2 : 1) : 0);
    const fs::path dir = make_temp_dir("base");
    ASSERT_TRUE(write_bytes(dir / "meas.dat", file()));
    run_result r = run_traxcon({"meas", "=e", "/trace=0"}, dir.string(), TIME_LIMIT);
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    // Only the information about the sort, and in 3.30 the string channel left out.
    std::string err = r.err;
    if (mdf330()) {
        const std::size_t left_out = err.find("ERROR MDFCHN_NOTNUM_ERR");
        EXPECT_NE(left_out, std::string::npos) << err;
        if (left_out != std::string::npos) err.erase(left_out, 23);
    }
    // Its float time channels have stamps a 7-digit TIME column cannot tell apart (the warning
    // that suggests /digits), and nothing else.
    const std::size_t digits = err.find("WARNING ADF_TIMEDIGITS_WARN");
    if (digits != std::string::npos) err.erase(digits, 27);
    EXPECT_EQ(err.find("ERROR"), std::string::npos) << r.err;
    EXPECT_EQ(err.find("WARNING"), std::string::npos) << r.err;
    EXPECT_EQ(err.find("MDFFIL_UNSORTED") != std::string::npos, unsorted()) << r.err;
    int columns = 0;
    EXPECT_EQ(adf_read_back(dir / "meas.adf", &columns), expected.lines);
    EXPECT_EQ(columns, expected.columns);
}

TEST_P(Damaged, Truncated) {
    std::vector<dmg_case> cases = dmg_truncations(file(), map());
    EXPECT_GT(cases.size(), 60u);
    run_cases("truncated", base(), cases);
}

TEST_P(Damaged, Links) {
    std::vector<dmg_case> cases = dmg_link_damage(file(), map());
    EXPECT_GT(cases.size(), 300u);
    run_cases("links", base(), cases);
}

TEST_P(Damaged, BlockSizes) {
    LEFT_OUT_UNDER_WINE();
    std::vector<dmg_case> cases = dmg_block_sizes(file(), map());
    EXPECT_GT(cases.size(), 150u);
    run_cases("block_sizes", base(), cases);
}

TEST_P(Damaged, RecordCountsAndSizes) {
    run_cases("record_counts", base(), dmg_record_counts(file(), map()));
}

TEST_P(Damaged, Identifiers) {
    run_cases("identifiers", base(), dmg_identifiers(file(), map()));
}

TEST_P(Damaged, BitPositions) {
    LEFT_OUT_UNDER_WINE();
    run_cases("bit_positions", base(), dmg_bit_positions(file(), map()));
}

TEST_P(Damaged, ParameterCounts) {
    run_cases("parameter_counts", base(), dmg_parameter_counts(file(), map()));
}

TEST_P(Damaged, ValueTypes) {
    LEFT_OUT_UNDER_WINE();
    run_cases("value_types", base(), dmg_value_types(file(), map()));
}

TEST_P(Damaged, IdBlock) {
    run_cases("id_block", base(), dmg_id_block(file(), map()));
}

TEST_P(Damaged, CountFields) {
    LEFT_OUT_UNDER_WINE();
    run_cases("count_fields", base(), dmg_count_fields(file(), map()));
}

TEST_P(Damaged, Texts) {
    run_cases("texts", base(), dmg_texts(file(), map()));
}

TEST_P(Damaged, EmptyRecords) {
    run_cases("empty_records", base(), dmg_empty_records(file(), map()));
}

INSTANTIATE_TEST_SUITE_P(Base, Damaged, testing::ValuesIn(BASES),
                         [](const testing::TestParamInfo<dmg_base> &info) {
                             switch (info.param) {
                             case dmg_base::sorted: return "Sorted";
                             case dmg_base::unsorted: return "Unsorted";
                             case dmg_base::sorted_330: return "Sorted330";
                             case dmg_base::unsorted_330: return "Unsorted330";
                             }
                             return "";
                         });

} // namespace
