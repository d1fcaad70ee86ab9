// The sample files of examples/: the MDF 2.00 measurement and the MDF 3.30 recording, converted,
// give the expected tables, and their unsorted variants, sorted into the .tmp file on the way,
// give the same tables.
#include "Fakegroup_helper.h"
#include "Golden_helper.h"
#include "Run_helper.h"
#include "mdf_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>

namespace {

namespace fs = std::filesystem;

const fs::path EXAMPLES = fs::path(TRAXCON_SOURCE_DIR) / "examples";

// The column names of the channel line and the value lines as numbers.
struct table {
    std::vector<std::string> names;
    std::vector<std::vector<double>> lines;
};

table parse_adf(const std::string &text) {
    table t;
    std::istringstream in(text);
    std::string line;
    int hash_lines = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '!') continue;
        std::istringstream words(line);
        if (line[0] == '#') {
            if (++hash_lines == 2) {
                std::string name;
                words >> name; // "#"
                while (words >> name) t.names.push_back(name);
            }
            continue;
        }
        std::vector<double> values;
        for (std::string word; words >> word;) values.push_back(std::strtod(word.c_str(), nullptr));
        t.lines.push_back(values);
    }
    return t;
}

// Converts a copy of the sample file (under its own name) with the arguments; the ADF file must
// read back with the given number of columns and value lines.
golden_result convert_example(const std::string &file, const std::string &args, int columns,
                              long lines) {
    fs::path dir = make_temp_dir("example");
    fs::path source = EXAMPLES / file;
    EXPECT_TRUE(fs::exists(source)) << "missing sample " << source;
    const std::string name = fs::path(file).stem().string();
    fs::copy_file(source, dir / (name + ".dat"));
    golden_result r = golden_run(dir, name + " " + args, name + ".adf");
    EXPECT_EQ(r.status, 0) << r.err;
    int read_columns = 0;
    EXPECT_EQ(adf_read_back(dir / (name + ".adf"), &read_columns), lines);
    EXPECT_EQ(read_columns, columns);
    return r;
}

// The first `head` lines of a text, and with `tail` the last `tail` lines after a line "...".
std::string head_and_tail(const std::string &text, std::size_t head, std::size_t tail = 0) {
    std::vector<std::string> all;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) all.push_back(line);
    std::string kept;
    for (std::size_t i = 0; i < all.size() && i < head; ++i) kept += all[i] + "\n";
    if (tail > 0 && all.size() > head + tail) {
        kept += "...\n";
        for (std::size_t i = all.size() - tail; i < all.size(); ++i) kept += all[i] + "\n";
    }
    return kept;
}

// The unsorted variant gives the sorted one's value lines, column by column name: the sorted
// copy may list the columns in another order.
void expect_same_table(const table &sorted, const table &unsorted) {
    ASSERT_EQ(sorted.names.size(), unsorted.names.size());
    std::map<std::string, std::size_t> position;
    for (std::size_t i = 0; i < unsorted.names.size(); ++i) position[unsorted.names[i]] = i;
    ASSERT_EQ(sorted.lines.size(), unsorted.lines.size());
    for (std::size_t k = 0; k < sorted.lines.size(); ++k)
        for (std::size_t i = 0; i < sorted.names.size(); ++i) {
            ASSERT_EQ(position.count(sorted.names[i]), 1u) << sorted.names[i];
            double a = sorted.lines[k][i];
            double b = unsorted.lines[k][position[sorted.names[i]]];
            EXPECT_NEAR(a, b, 1e-6 * std::max(1.0, std::fabs(a)))
                << "line " << k << " column " << sorted.names[i];
        }
}

TEST(Example, SortedSampleConverts) {
    golden_result r = convert_example("measurement.dat", "/trig =e", 12, 1901);
    // The beginning of the table is what the user guide shows.
    r.adf = head_and_tail(r.adf, 16);
    golden_compare("example", r);
}

TEST(Example, UnsortedSampleGivesTheSameTable) {
    table sorted = parse_adf(convert_example("measurement.dat", "=e", 9, 1901).adf);
    golden_result r = convert_example("measurement_unsorted.dat", "=e", 9, 1901);
    EXPECT_NE(r.err.find("MDFFIL_UNSORTED"), std::string::npos) << r.err;
    table unsorted = parse_adf(r.adf);
    expect_same_table(sorted, unsorted);
    // The sorted copy lists each group's channels in reverse order, the groups reversed too.
    EXPECT_NE(sorted.names, unsorted.names);
}

// The MDF 3.30 recording (tools/mkrecording.cpp). Its lines run from 0.05 s, the later first
// time stamp of the two groups, to 9.95 s, the last record of the 100 ms group, every 10 ms:
// 991 lines. The string channel drive_mode is the one channel left out.
const std::vector<std::string> RECORDING_COLUMNS = {
    "TIME", "n_mot",     "M_shaft", "U_dc", "Motor.Stator.Winding.Temperature_PhaseU",
    "I_dc", "inv_state", "derate"};
constexpr long RECORDING_LINES = 991;

TEST(Example, Recording330Converts) {
    golden_result r = convert_example("recording330.dat", "=e", 8, RECORDING_LINES);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("MDFCHN_NOTNUM_ERR"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("\"drive_mode\""), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("WARNING"), std::string::npos) << r.err;
    table t = parse_adf(r.adf);
    EXPECT_EQ(t.names, RECORDING_COLUMNS);
    ASSERT_EQ(t.lines.size(), static_cast<std::size_t>(RECORDING_LINES));
    // The beginning and the end of the table, kept small.
    r.adf = head_and_tail(r.adf, 20, 3);
    golden_compare("recording330", r);
}

// Values of the recording at some lines, worked out from the model of the generator: a raw count
// is the physical value over the factor, rounded; the 100 ms group is interpolated linearly to
// the lines between its samples (at 0.05 s, 0.15 s, ...). NaN: not checked (U_dc lies half-way
// between two counts there, 404.15 V).
struct recording_line {
    double time;
    std::vector<double> values; // n_mot M_shaft U_dc T_wndg_U I_dc inv_state derate
};

const std::vector<recording_line> RECORDING_VALUES = {
    // Standing: no speed, no torque, 400 V, 25 + 2 t deg C, the inverter OFF.
    {0.05, {0, 0, 400, 25.1, 0, 0, 0}},
    // The ramp starts at 1 s with 120 Nm (the ripple 3 sin(2 pi 5 t) is 0 at whole tenths);
    // U_dc = 400 - 0.05 x 120 = 394. The 100 ms group half-way between 0.95 s (PRECHARGE 1,
    // no current) and 1.05 s (RUN 3; 50 rpm, 123 Nm, 393.85 V: 0.644 kW / 393.85 V = 1.635 A,
    // 16 counts of 0.1 A).
    {1.00, {0, 120, 394, 27, 0.8, 2, 0}},
    // 1500 rpm; I_dc half-way between 47.4 A (2.45 s: 1450 rpm, 123 Nm, 393.85 V) and 48.2 A
    // (2.55 s: 1550 rpm, 117 Nm, 394.15 V).
    {2.50, {1500, 120, 394, 30, 47.8, 3, 0}},
    // Holding 3000 rpm with 40 Nm, 398 V; I_dc half-way between 29.2 A (4.95 s: 37 Nm,
    // 398.15 V) and 34.0 A (5.05 s: 43 Nm, 397.85 V).
    {5.00, {3000, 40, 398, 35, 31.6, 3, 0}},
    // Regenerating, a sample of both groups: 3000 - 500 x 1.75 = 2125 rpm, -80 - 3 Nm;
    // -83 Nm x 222.53 rad/s / 404.15 V = -45.70 A; 42.5 deg C derates 12 x 2.5 = 30 %.
    {8.75, {2125, -83, NAN, 42.5, -45.7, 3, 30}},
    // The last line: 1525 rpm, -32.80 A, READY (2) since 9.5 s, 12 x 4.9 = 58.8 -> 59 %.
    {9.95, {1525, -83, NAN, 44.9, -32.8, 2, 59}},
};

TEST(Example, Recording330Values) {
    table t = parse_adf(convert_example("recording330.dat", "=e", 8, RECORDING_LINES).adf);
    ASSERT_EQ(t.names, RECORDING_COLUMNS);
    for (const recording_line &expected : RECORDING_VALUES) {
        SCOPED_TRACE(expected.time);
        auto line = std::find_if(t.lines.begin(), t.lines.end(), [&](const auto &l) {
            return !l.empty() && std::fabs(l[0] - expected.time) < 1e-9;
        });
        ASSERT_NE(line, t.lines.end());
        ASSERT_EQ(line->size(), expected.values.size() + 1);
        for (std::size_t c = 0; c < expected.values.size(); ++c) {
            if (std::isnan(expected.values[c])) continue;
            EXPECT_NEAR((*line)[c + 1], expected.values[c], 1e-6) << t.names[c + 1];
        }
    }
    EXPECT_NEAR(t.lines.front()[0], 0.05, 1e-12);
    EXPECT_NEAR(t.lines.back()[0], 9.95, 1e-12);
}

TEST(Example, UnsortedRecording330GivesTheSameTable) {
    table sorted = parse_adf(convert_example("recording330.dat", "=e", 8, RECORDING_LINES).adf);
    golden_result r = convert_example("recording330_unsorted.dat", "=e", 8, RECORDING_LINES);
    EXPECT_NE(r.err.find("MDFFIL_UNSORTED"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("MDFCHN_NOTNUM_ERR"), std::string::npos) << r.err;
    table unsorted = parse_adf(r.adf);
    expect_same_table(sorted, unsorted);
    // The long name survives the sort; the copy lists the groups and their channels reversed.
    std::vector<std::string> reversed = {RECORDING_COLUMNS.front()};
    reversed.insert(reversed.end(), RECORDING_COLUMNS.rbegin(), RECORDING_COLUMNS.rend() - 1);
    EXPECT_EQ(unsorted.names, reversed);
    r.adf = head_and_tail(r.adf, 12);
    golden_compare("recording330_unsorted", r);
}

// ---------------------------------------------------------------------------------------------
// The byte writer behind the sample generators (tools/mdf_image.h) and the recording's bytes
// ---------------------------------------------------------------------------------------------

struct put_case {
    const char *what;
    unsigned first_bit;
    unsigned bits;
    uint64_t value;
    bool big_endian;
    std::vector<uint8_t> before; // the record before the value is put
    std::vector<uint8_t> after;
};

const std::vector<put_case> PUT_CASES = {
    {"16 bits little-endian", 0, 16, 0x1234, false, {0, 0, 0}, {0x34, 0x12, 0}},
    {"16 bits big-endian", 0, 16, 0x1234, true, {0, 0, 0}, {0x12, 0x34, 0}},
    // Bits 4 to 15: the value's low nibble is the high nibble of byte 0.
    {"12 bits little-endian at bit 4", 4, 12, 0xABC, false, {0x05, 0x00}, {0xC5, 0xAB}},
    // Bytes 0 and 1 as one big-endian number, the value from its bit 4 on: 0xABC0; the low
    // nibble of byte 1 is kept.
    {"12 bits big-endian at bit 4", 4, 12, 0xABC, true, {0xFF, 0xFF}, {0xAB, 0xCF}},
    {"24 bits big-endian at bit 8", 8, 24, 0x123456, true, {0, 0, 0, 0}, {0, 0x12, 0x34, 0x56}},
    // Three bytes covered: 0x3FF << 7 = 0x01FF80.
    {"10 bits big-endian at bit 7", 7, 10, 0x3FF, true, {0, 0, 0}, {0x01, 0xFF, 0x80}},
    // One byte covered: bits 5 to 7 of byte 1.
    {"3 bits big-endian at bit 13", 13, 3, 0x5, true, {0, 0}, {0, 0xA0}},
    {"1 bit set", 7, 1, 1, false, {0x00}, {0x80}},
    {"1 bit cleared", 7, 1, 0, false, {0xFF}, {0x7F}},
    {"-2 in 12 bits", 0, 12, 0xFFE, false, {0, 0xF0}, {0xFE, 0xFF}},
    {"double 1.0 little-endian",
     0,
     64,
     0x3FF0000000000000,
     false,
     std::vector<uint8_t>(8, 0),
     {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
    {"64 bits big-endian",
     0,
     64,
     0x0102030405060708,
     true,
     std::vector<uint8_t>(8, 0xEE),
     {1, 2, 3, 4, 5, 6, 7, 8}},
};

TEST(ExampleWriter, PutsValuesInEitherByteOrder) {
    for (const put_case &c : PUT_CASES) {
        SCOPED_TRACE(c.what);
        mdf_image f;
        f.data = {0x99}; // the record starts at byte 1
        f.data.insert(f.data.end(), c.before.begin(), c.before.end());
        f.put_value(1, c.first_bit, c.bits, c.value, c.big_endian);
        std::vector<uint8_t> expected = {0x99};
        expected.insert(expected.end(), c.after.begin(), c.after.end());
        EXPECT_EQ(f.data, expected);
    }
}

TEST(ExampleWriter, FieldsAndTextBlocks) {
    mdf_image f;
    f.block(nullptr, 2);
    std::size_t tx = f.text_block("abc");
    EXPECT_EQ(tx, 2u);
    EXPECT_EQ(f.data, (std::vector<uint8_t>{0, 0, 'T', 'X', 8, 0, 'a', 'b', 'c', 0}));
    std::size_t at = f.block(nullptr, 10);
    f.unsigned_be(at, 0xA1B2C3, 3);
    f.unsigned_le(at + 3, 0xA1B2C3, 3);
    f.link(at + 6, 0x0102); // a link is 4 bytes
    EXPECT_EQ(std::vector<uint8_t>(f.data.begin() + at, f.data.end()),
              (std::vector<uint8_t>{0xA1, 0xB2, 0xC3, 0xC3, 0xB2, 0xA1, 0x02, 0x01, 0, 0}));
    EXPECT_EQ(mdf_image::float_bits(-2.0f), 0xC0000000u);
    EXPECT_EQ(mdf_image::double_bits(0.5), 0x3FE0000000000000u);
}

// Little-endian fields of the recording's bytes, which the tests read without the library.
uint32_t le(const std::string &b, std::size_t at, unsigned bytes) {
    uint32_t v = 0;
    for (unsigned i = bytes; i-- > 0;) v = (v << 8) | static_cast<uint8_t>(b[at + i]);
    return v;
}

std::vector<uint8_t> bytes_at(const std::string &b, std::size_t at, std::size_t n) {
    return std::vector<uint8_t>(b.begin() + static_cast<std::ptrdiff_t>(at),
                                b.begin() + static_cast<std::ptrdiff_t>(at + n));
}

// The blocks and two records of the recording, laid out as the generator's comment says; the
// record bytes are worked out by hand from its model.
TEST(Example, Recording330Layout) {
    const std::string b = read_file_bytes((EXAMPLES / "recording330.dat").string());
    ASSERT_GT(b.size(), 20000u);
    EXPECT_EQ(b.substr(0, 12), "MDF     3.30");
    EXPECT_EQ(le(b, 24, 2), 0u); // little-endian
    EXPECT_EQ(le(b, 28, 2), 330u);
    EXPECT_EQ(b.substr(64, 2), "HD");
    EXPECT_EQ(le(b, 66, 2), 208u);
    EXPECT_EQ(le(b, 64 + 16, 2), 2u); // data groups
    const uint32_t dg1 = le(b, 64 + 4, 4);
    const uint32_t dg2 = le(b, dg1 + 4, 4);
    std::vector<uint32_t> data;
    std::vector<uint32_t> record_sizes;
    for (uint32_t dg : {dg1, dg2}) {
        SCOPED_TRACE(dg);
        EXPECT_EQ(b.substr(dg, 2), "DG");
        EXPECT_EQ(le(b, dg + 2, 2), 28u);
        EXPECT_EQ(le(b, dg + 22, 2), 0u); // no identifier bytes
        const uint32_t cg = le(b, dg + 8, 4);
        EXPECT_EQ(b.substr(cg, 2), "CG");
        EXPECT_EQ(le(b, cg + 2, 2), 30u);
        EXPECT_EQ(le(b, cg + 18, 2), 5u); // channels
        record_sizes.push_back(le(b, cg + 20, 2));
        for (uint32_t cn = le(b, cg + 8, 4); cn != 0; cn = le(b, cn + 4, 4)) {
            EXPECT_EQ(b.substr(cn, 2), "CN");
            EXPECT_EQ(le(b, cn + 2, 2), 228u);
        }
        data.push_back(le(b, dg + 16, 4));
    }
    EXPECT_EQ(record_sizes, (std::vector<uint32_t>{17, 19}));
    EXPECT_EQ(le(b, le(b, dg1 + 8, 4) + 22, 4), 1001u);
    EXPECT_EQ(le(b, le(b, dg2 + 8, 4) + 22, 4), 100u);
    // The fifth channel of group 1: first bit 4 after an additional byte offset of 14, its long
    // name in a TX block.
    uint32_t cn = le(b, le(b, dg1 + 8, 4) + 8, 4);
    for (int i = 1; i < 5; ++i) cn = le(b, cn + 4, 4);
    EXPECT_EQ(le(b, cn + 186, 2), 4u);
    EXPECT_EQ(le(b, cn + 226, 2), 14u);
    const uint32_t long_name = le(b, cn + 218, 4);
    EXPECT_EQ(b.substr(long_name, 2), "TX");
    EXPECT_STREQ(b.c_str() + long_name + 4, "Motor.Stator.Winding.Temperature_PhaseU");

    // Group 1 at 4.00 s (record 400): 4.0 as a double; 3000 rpm = 6000 = 0x1770 big-endian;
    // 40 Nm = 4000 = 0x000FA0 big-endian; 398 V = 1980 = 0x7BC from bit 104 (byte 13 and the low
    // nibble of byte 14); 33 deg C = 3300 = 0x0CE4 from bit 116 (the high nibble of byte 14,
    // byte 15 and the low nibble of byte 16).
    EXPECT_EQ(bytes_at(b, data[0] + 400 * 17, 17),
              (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0x10, 0x40, 0x17, 0x70, 0x00, 0x0F, 0xA0,
                                    0xBC, 0x47, 0xCE, 0x00}));
    // Group 2 at 9.05 s (record 90): 1975 rpm, -77 Nm, 403.85 V give -39.43 A = -394 counts =
    // 0xE76 in 12 bits, which from bit 68 big-endian fills byte 8 (0xE7) and the high nibble of
    // byte 9; RUN (3) in its low nibble; 12 x 3.1 = 37 % (0x25); "ECO".
    const double t = 9.05;
    std::vector<uint8_t> time(8);
    std::memcpy(time.data(), &t, 8);
    std::vector<uint8_t> expected = time;
    const std::vector<uint8_t> values = {0xE7, 0x63, 0x25, 'E', 'C', 'O', 0, 0, 0, 0, 0};
    expected.insert(expected.end(), values.begin(), values.end());
    EXPECT_EQ(bytes_at(b, data[1] + 90 * 19, 19), expected);
}

// The unsorted recording: both channel groups in one data group with two identifier bytes, the
// records in time order. Group 1 records 0.00 s to 0.05 s come first (six records of 1 + 17 + 1
// bytes; at 0.05 s group 1 goes first), then the first record of group 2 (1 + 19 + 1 bytes).
TEST(Example, UnsortedRecording330Layout) {
    const std::string b = read_file_bytes((EXAMPLES / "recording330_unsorted.dat").string());
    ASSERT_GT(b.size(), 20000u);
    EXPECT_EQ(le(b, 28, 2), 330u);
    EXPECT_EQ(le(b, 64 + 16, 2), 1u); // one data group
    const uint32_t dg = le(b, 64 + 4, 4);
    EXPECT_EQ(le(b, dg + 4, 4), 0u);
    EXPECT_EQ(le(b, dg + 20, 2), 2u); // channel groups
    EXPECT_EQ(le(b, dg + 22, 2), 2u); // identifier bytes
    const uint32_t cg1 = le(b, dg + 8, 4);
    const uint32_t cg2 = le(b, cg1 + 4, 4);
    EXPECT_EQ(le(b, cg1 + 16, 2), 1u);
    EXPECT_EQ(le(b, cg2 + 16, 2), 2u);
    const uint32_t data = le(b, dg + 16, 4);
    // The whole data area: 1001 records of 19 bytes and 100 of 21, up to the end of the file.
    EXPECT_EQ(b.size(), data + 1001u * 19 + 100u * 21);
    for (uint32_t k = 0; k < 6; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(static_cast<uint8_t>(b[data + 19 * k]), 1);
        EXPECT_EQ(static_cast<uint8_t>(b[data + 19 * k + 18]), 1);
        double t = 0;
        std::memcpy(&t, b.data() + data + 19 * k + 1, 8);
        EXPECT_EQ(t, k / 100.0);
    }
    const uint32_t second = data + 6 * 19;
    EXPECT_EQ(static_cast<uint8_t>(b[second]), 2);
    EXPECT_EQ(static_cast<uint8_t>(b[second + 20]), 2);
    double t = 0;
    std::memcpy(&t, b.data() + second + 1, 8);
    EXPECT_EQ(t, 0.05);
    EXPECT_EQ(static_cast<uint8_t>(b[second + 21]), 1); // group 1 at 0.06 s
}

} // namespace
