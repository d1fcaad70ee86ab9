// mkbench: writes large, realistic MDF measurement files for the conversion benchmark.
//
//   mkbench SIZE NAME        SIZE in bytes, with an optional suffix K, M or G (powers of 1024),
//                            at least 64K and at most 2G
//
// writes NAME.dat, a sorted file, through MDFLIB's own creation operations (file create, group
// create, channel create, the record buffer and record append; the conversion blocks are made
// with the library's internal block operations, as the public interface has no call that
// attaches one), and NAME_u.dat, the same measurement unsorted: all channel groups in one data
// group, their records interleaved in time order, each led by its record identifier byte.
// MDFLIB creates sorted files only, so the unsorted file is written byte by byte by this program
// (UnsortedWriter below), with the same blocks and the same record bytes.
//
// The unsorted file is laid out so that its sorted copy is the sorted file again: the sort writes
// the data groups and the channels of each group in the reverse of their input order, so the
// unsorted file holds the channel groups, and the channels inside each group, in reverse order.
// The conversion of NAME.dat and of NAME_u.dat (through its sorted copy) therefore gives the same
// ADF file, which the benchmark script checks.
//
// The measurement, a test vehicle on an endless drive, every time channel a 32-bit count of
// milliseconds with a linear conversion to seconds, except group 4 whose time is a float:
//   group 1, every 10 ms, 8 channels: engine speed (u16, linear), pedal (u8, table with
//            interpolation), longitudinal acceleration (s16, linear), torque (float), brake and
//            clutch switches (1 bit), gear (u8, table without interpolation), distance (u32,
//            linear)
//   group 2, every 20 ms, 6 channels: oil temperature (s8), rail pressure (u16, linear), battery
//            voltage (float), fan switch (1 bit), longitude (s32, linear), event counter (u24)
//   group 3, every 100 ms, 4 channels: intake air temperature (u8, formula text), humidity (s16,
//            linear), ambient pressure (float), status word (u32)
//   group 4, every 1 s, 2 channels: fuel level (u16, table with interpolation), coolant
//            temperature (s16, linear)
// All groups start at 0 and end at the same time; the duration follows from SIZE.
#include "size_arg.h"
#include "mdf_image.h"
#include "mdfint.h"
#include "mdflib.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr double PI = 3.14159265358979323846;

// ---------------------------------------------------------------------------------------------
// The measurement model: every raw value is a function of the time alone, so that both writers
// produce the same bytes whatever order they write the records in.
// ---------------------------------------------------------------------------------------------

// Deterministic noise in [-1, 1) for a channel at a time stamp.
double noise(uint32_t channel, uint64_t ms) {
    uint64_t z =
        ms * 0x9E3779B97F4A7C15ull + channel * 0xD1B54A32D192ED03ull + 0x632BE59BD9B4E019ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) / 4503599627370496.0 - 1.0;
}

constexpr double W_DRIVE = 2.0 * PI / 600.0; // a 10-minute speed cycle
constexpr double W_TRAFFIC = 2.0 * PI / 83.0;

double speed_kmh(double t) {
    return 60.0 + 45.0 * std::sin(W_DRIVE * t) + 12.0 * std::sin(W_TRAFFIC * t + 1.0);
}
double accel_ms2(double t) {
    return (45.0 * W_DRIVE * std::cos(W_DRIVE * t) +
            12.0 * W_TRAFFIC * std::cos(W_TRAFFIC * t + 1.0)) /
           3.6;
}
double distance_m(double t) {
    return (60.0 * t - 45.0 / W_DRIVE * (std::cos(W_DRIVE * t) - 1.0) -
            12.0 / W_TRAFFIC * (std::cos(W_TRAFFIC * t + 1.0) - std::cos(1.0))) /
           3.6;
}
int gear_of(double v) {
    return v < 15 ? 1 : v < 30 ? 2 : v < 50 ? 3 : v < 70 ? 4 : v < 95 ? 5 : 6;
}
double pedal_pct(double t) {
    double p = 25.0 + 40.0 * accel_ms2(t);
    return p < 0.0 ? 0.0 : p > 100.0 ? 100.0 : p;
}
double oil_temp(double t) {
    return 90.0 - 110.0 * std::exp(-t / 900.0);
}

// Raw value helpers: rounding into the channel's range.
uint32_t raw_unsigned(double x, uint16_t bits) {
    double top = bits >= 32 ? 4294967295.0 : static_cast<double>((1ull << bits) - 1);
    double r = std::floor(x + 0.5);
    if (r < 0.0) r = 0.0;
    if (r > top) r = top;
    return static_cast<uint32_t>(r);
}
uint32_t raw_signed(double x, uint16_t bits) {
    double lim = static_cast<double>((1ull << (bits - 1)) - 1);
    double r = std::floor(x + 0.5);
    if (r < -lim - 1.0) r = -lim - 1.0;
    if (r > lim) r = lim;
    auto v = static_cast<uint32_t>(static_cast<int32_t>(r));
    return bits >= 32 ? v : v & static_cast<uint32_t>((1ull << bits) - 1);
}
uint32_t raw_float(double x) {
    float f = static_cast<float>(x);
    uint32_t v;
    std::memcpy(&v, &f, sizeof v);
    return v;
}

// ---------------------------------------------------------------------------------------------
// Groups and channels
// ---------------------------------------------------------------------------------------------

enum cc_kind { CC_NONE, CC_LIN, CC_TAB, CC_TABN, CC_TEXT };

struct channel_def {
    const char *name;
    const char *description;
    uint16_t type;      // MDFCHN_VALUE or MDFCHN_TIME
    uint16_t bits;      // 1 to 32
    uint16_t data_type; // MDFCHN_UNSIGNED, MDFCHN_SIGNED, MDFCHN_FLOAT
    cc_kind cc;
    const char *unit;
    std::vector<double> params; // linear: P1, P2; tables: raw, physical, raw, physical, ...
    const char *formula;
    uint32_t (*raw)(uint64_t ms); // the raw value at a time stamp
    uint16_t first_bit = 0;       // placed as the library places created channels
};

struct group_def {
    uint32_t period_ms;
    std::vector<channel_def> channels;
    uint16_t record_size = 0;
    uint32_t records = 0;
};

double secs(uint64_t ms) {
    return static_cast<double>(ms) / 1000.0;
}
uint32_t time_ms(uint64_t ms) {
    return static_cast<uint32_t>(ms);
}

std::vector<group_def> make_groups() {
    const std::vector<double> time_lin = {0.0, 0.001};
    std::vector<group_def> g(4);

    g[0].period_ms = 10;
    g[0].channels = {
        {"T_FAST", "time, 10 ms group", MDFCHN_TIME, 32, MDFCHN_UNSIGNED, CC_LIN, "s", time_lin,
         nullptr, time_ms},
        {"N_ENG",
         "engine speed",
         MDFCHN_VALUE,
         16,
         MDFCHN_UNSIGNED,
         CC_LIN,
         "1/min",
         {0.0, 0.25},
         nullptr,
         [](uint64_t ms) {
             double t = secs(ms), v = speed_kmh(t);
             static const double ratio[] = {0, 140, 85, 58, 44, 35, 29};
             double n = v * ratio[gear_of(v)];
             if (n < 800.0) n = 800.0;
             return raw_unsigned((n + 15.0 * noise(1, ms)) / 0.25, 16);
         }},
        {"PEDAL",
         "accelerator pedal",
         MDFCHN_VALUE,
         8,
         MDFCHN_UNSIGNED,
         CC_TAB,
         "%",
         {25, 0, 60, 10, 100, 30, 150, 60, 200, 90, 230, 100},
         nullptr,
         [](uint64_t ms) {
             // The inverse of the pedal table, plus a little sensor noise.
             static const double r[] = {25, 60, 100, 150, 200, 230};
             static const double p[] = {0, 10, 30, 60, 90, 100};
             double x = pedal_pct(secs(ms));
             int i = 0;
             while (i < 4 && x > p[i + 1]) ++i;
             double raw = r[i] + (x - p[i]) * (r[i + 1] - r[i]) / (p[i + 1] - p[i]);
             return raw_unsigned(raw + 0.7 * noise(2, ms), 8);
         }},
        {"ACC_X",
         "longitudinal acceleration",
         MDFCHN_VALUE,
         16,
         MDFCHN_SIGNED,
         CC_LIN,
         "m/s^2",
         {0.0, 0.001},
         nullptr,
         [](uint64_t ms) {
             return raw_signed((accel_ms2(secs(ms)) + 0.05 * noise(3, ms)) / 0.001, 16);
         }},
        {"TORQUE",
         "engine torque",
         MDFCHN_VALUE,
         32,
         MDFCHN_FLOAT,
         CC_NONE,
         "",
         {},
         nullptr,
         [](uint64_t ms) {
             return raw_float(20.0 + 3.1 * pedal_pct(secs(ms)) + 2.0 * noise(4, ms));
         }},
        {"BRAKE",
         "brake switch",
         MDFCHN_VALUE,
         1,
         MDFCHN_UNSIGNED,
         CC_NONE,
         "",
         {},
         nullptr,
         [](uint64_t ms) { return accel_ms2(secs(ms)) < -0.35 ? 1u : 0u; }},
        {"CLUTCH",
         "clutch switch",
         MDFCHN_VALUE,
         1,
         MDFCHN_UNSIGNED,
         CC_NONE,
         "",
         {},
         nullptr,
         [](uint64_t ms) {
             double t = secs(ms);
             return gear_of(speed_kmh(t)) != gear_of(speed_kmh(t + 0.4)) ? 1u : 0u;
         }},
        {"GEAR",
         "gear position sensor",
         MDFCHN_VALUE,
         8,
         MDFCHN_UNSIGNED,
         CC_TABN,
         "",
         {8, 0, 24, 1, 40, 2, 56, 3, 72, 4, 88, 5, 104, 6},
         nullptr,
         [](uint64_t ms) {
             return raw_unsigned(8.0 + 16.0 * gear_of(speed_kmh(secs(ms))) + 3.0 * noise(5, ms), 8);
         }},
        {"DIST",
         "distance driven",
         MDFCHN_VALUE,
         32,
         MDFCHN_UNSIGNED,
         CC_LIN,
         "m",
         {0.0, 0.01},
         nullptr,
         [](uint64_t ms) { return raw_unsigned(distance_m(secs(ms)) / 0.01, 32); }},
    };

    g[1].period_ms = 20;
    g[1].channels = {
        {"T_MID", "time, 20 ms group", MDFCHN_TIME, 32, MDFCHN_UNSIGNED, CC_LIN, "s", time_lin,
         nullptr, time_ms},
        {"T_OIL",
         "oil temperature",
         MDFCHN_VALUE,
         8,
         MDFCHN_SIGNED,
         CC_NONE,
         "",
         {},
         nullptr,
         [](uint64_t ms) { return raw_signed(oil_temp(secs(ms)) + 0.6 * noise(11, ms), 8); }},
        {"P_RAIL",
         "rail pressure",
         MDFCHN_VALUE,
         16,
         MDFCHN_UNSIGNED,
         CC_LIN,
         "bar",
         {0.0, 0.05},
         nullptr,
         [](uint64_t ms) {
             return raw_unsigned((300.0 + 8.0 * pedal_pct(secs(ms)) + 5.0 * noise(12, ms)) / 0.05,
                                 16);
         }},
        {"U_BAT",
         "battery voltage",
         MDFCHN_VALUE,
         32,
         MDFCHN_FLOAT,
         CC_NONE,
         "",
         {},
         nullptr,
         [](uint64_t ms) {
             return raw_float(13.8 + 0.3 * std::sin(secs(ms) / 50.0) + 0.02 * noise(13, ms));
         }},
        {"FAN",
         "radiator fan",
         MDFCHN_VALUE,
         1,
         MDFCHN_UNSIGNED,
         CC_NONE,
         "",
         {},
         nullptr,
         [](uint64_t ms) {
             double t = secs(ms);
             return oil_temp(t) > 88.0 && std::fmod(t, 120.0) < 45.0 ? 1u : 0u;
         }},
        {"POS_LON",
         "longitude",
         MDFCHN_VALUE,
         32,
         MDFCHN_SIGNED,
         CC_LIN,
         "deg",
         {0.0, 1e-7},
         nullptr,
         [](uint64_t ms) {
             double lon = -3.7038 + 0.05 * std::sin(2.0 * PI * secs(ms) / 3600.0);
             return raw_signed(lon / 1e-7, 32);
         }},
        {"EVENTS",
         "event counter",
         MDFCHN_VALUE,
         24,
         MDFCHN_UNSIGNED,
         CC_NONE,
         "",
         {},
         nullptr,
         [](uint64_t ms) { return static_cast<uint32_t>(ms / 7300) & 0xFFFFFFu; }},
    };

    g[2].period_ms = 100;
    g[2].channels = {
        {"T_SLOW", "time, 100 ms group", MDFCHN_TIME, 32, MDFCHN_UNSIGNED, CC_LIN, "s", time_lin,
         nullptr, time_ms},
        {"T_AIR",
         "intake air temperature",
         MDFCHN_VALUE,
         8,
         MDFCHN_UNSIGNED,
         CC_TEXT,
         "degC",
         {},
         "0,4*x-40+0,0005*SQR(x-128)",
         [](uint64_t ms) {
             return raw_unsigned(
                 120.0 + 60.0 * std::sin(2.0 * PI * secs(ms) / 1800.0) + 2.0 * noise(21, ms), 8);
         }},
        {"HUMID",
         "relative humidity",
         MDFCHN_VALUE,
         16,
         MDFCHN_SIGNED,
         CC_LIN,
         "%",
         {0.0, 0.01},
         nullptr,
         [](uint64_t ms) {
             return raw_signed(4500.0 + 1500.0 * std::sin(secs(ms) / 700.0) + 20.0 * noise(22, ms),
                               16);
         }},
        {"P_AMB",
         "ambient pressure",
         MDFCHN_VALUE,
         32,
         MDFCHN_FLOAT,
         CC_NONE,
         "",
         {},
         nullptr,
         [](uint64_t ms) {
             return raw_float(1013.25 + 5.0 * std::sin(secs(ms) / 3000.0) + 0.1 * noise(23, ms));
         }},
        {"STATUS",
         "status word",
         MDFCHN_VALUE,
         32,
         MDFCHN_UNSIGNED,
         CC_NONE,
         "",
         {},
         nullptr,
         [](uint64_t ms) { return 0xA5000000u + static_cast<uint32_t>(ms / 60000); }},
    };

    g[3].period_ms = 1000;
    g[3].channels = {
        {"T_INFO",
         "time, 1 s group",
         MDFCHN_TIME,
         32,
         MDFCHN_FLOAT,
         CC_NONE,
         "",
         {},
         nullptr,
         [](uint64_t ms) { return raw_float(secs(ms)); }},
        {"FUEL",
         "fuel level sensor",
         MDFCHN_VALUE,
         16,
         MDFCHN_UNSIGNED,
         CC_TAB,
         "l",
         {400, 0, 900, 6, 1500, 15, 2300, 30, 3000, 44, 3600, 55, 3950, 60},
         nullptr,
         [](uint64_t ms) {
             double f = std::fmod(secs(ms), 36000.0) / 36000.0;
             return raw_unsigned(3900.0 - 3400.0 * f + 6.0 * noise(31, ms), 16);
         }},
        {"T_COOL",
         "coolant temperature",
         MDFCHN_VALUE,
         16,
         MDFCHN_SIGNED,
         CC_LIN,
         "degC",
         {-40.0, 0.1},
         nullptr,
         [](uint64_t ms) {
             double t = secs(ms);
             return raw_signed(
                 (90.0 - 100.0 * std::exp(-t / 600.0) + 0.3 * noise(32, ms) + 40.0) / 0.1, 16);
         }},
    };

    // Place the channels as the library places created ones: behind the last value, and on the
    // next byte when a value would run from a partly used byte into the next one.
    for (group_def &grp : g) {
        uint32_t first = 0;
        for (channel_def &c : grp.channels) {
            uint16_t bits = c.data_type == MDFCHN_FLOAT ? 32 : c.bits;
            if (first % 8 != 0 && first / 8 != (first + bits - 1) / 8) first = (first / 8 + 1) * 8;
            c.first_bit = static_cast<uint16_t>(first);
            first += bits;
        }
        grp.record_size = static_cast<uint16_t>((first + 7) / 8);
    }
    return g;
}

// Packs the raw values of one record at a time stamp into data (record size + 4 bytes, zeroed).
void pack_record(const group_def &g, uint64_t ms, uint8_t *data) {
    std::memset(data, 0, g.record_size + 4u);
    for (const channel_def &c : g.channels) {
        uint32_t v = c.raw(ms);
        if (c.bits < 32) v &= (1u << c.bits) - 1u;
        uint32_t k = c.first_bit / 8, o = c.first_bit % 8;
        uint64_t word = 0;
        for (int i = 0; i < 5; ++i) word |= static_cast<uint64_t>(data[k + i]) << (8 * i);
        word |= static_cast<uint64_t>(v) << o;
        for (uint32_t i = 0; i < (o + c.bits + 7) / 8; ++i)
            data[k + i] = static_cast<uint8_t>(word >> (8 * i));
    }
}

// The file information written into both files.
constexpr const char *INFO_DATE = "24:03:2026";
constexpr const char *INFO_TIME = "08:15:00";
constexpr const char *INFO_COMMENT = "Endurance drive, benchmark measurement";
constexpr const char *INFO_AUTHOR = "Bench";
constexpr const char *INFO_DIVISION = "Powertrain test";
constexpr const char *INFO_PROJECT = "TRAXCON benchmark";
constexpr const char *INFO_SUBJECT = "Test vehicle 7";
constexpr const char *PROGRAM_ID = "MKBENCH";

// ---------------------------------------------------------------------------------------------
// Conversion blocks (shared by both writers)
// ---------------------------------------------------------------------------------------------

uint16_t cc_type_of(const channel_def &c) {
    switch (c.cc) {
    case CC_LIN: return CC_LINEAR;
    case CC_TAB: return CC_TABLE_INTERP;
    case CC_TABN: return CC_TABLE;
    case CC_TEXT: return CC_FORMULA;
    default: return 0;
    }
}
uint16_t cc_count_of(const channel_def &c) {
    if (c.cc == CC_TEXT) return static_cast<uint16_t>((std::strlen(c.formula) + 1 + 7) / 8);
    if (c.cc == CC_TAB || c.cc == CC_TABN) return static_cast<uint16_t>(c.params.size() / 2);
    return static_cast<uint16_t>(c.params.size());
}
// Fills a CC image made with the type and count above (zero-filled, type and count set).
void fill_cc(uint8_t *cc, const channel_def &c) {
    std::memcpy(cc + CC_UNIT, c.unit, std::min<size_t>(std::strlen(c.unit), CC_UNIT_LEN - 1));
    if (c.cc == CC_TEXT) {
        std::memcpy(cc + CC_PARAMS, c.formula, std::strlen(c.formula) + 1);
        return;
    }
    for (size_t i = 0; i < c.params.size(); ++i) mdf_set_real(cc, CC_PARAMS + 8 * i, c.params[i]);
}

// ---------------------------------------------------------------------------------------------
// The sorted file, through MDFLIB
// ---------------------------------------------------------------------------------------------

bool check(int16_t status, const char *what) {
    if (status == MDF_OK) return true;
    std::fprintf(stderr, "mkbench: %s failed with status %d\n", what, status);
    return false;
}

bool write_sorted(const std::string &name, std::vector<group_def> &groups) {
    if (!check(mdflib_init(PROGRAM_ID), "mdflib_init")) return false;
    mdf_file_rec *file = nullptr;
    if (!check(mdffil_open(&file, name.c_str(), MDFFIL_CREATE), "mdffil_open")) return false;
    if (!check(mdffil_set_info(file, INFO_DATE, INFO_TIME, INFO_COMMENT, INFO_AUTHOR, INFO_DIVISION,
                               INFO_PROJECT, INFO_SUBJECT),
               "mdffil_set_info"))
        return false;
    // Each new data group stands first in the chain: create the last group first.
    for (size_t gi = groups.size(); gi-- > 0;) {
        group_def &g = groups[gi];
        mdf_group_rec *group = nullptr;
        if (!check(mdfgrp_open(&group, file, 0, MDFGRP_CREATE), "mdfgrp_open")) return false;
        for (const channel_def &c : g.channels) {
            mdf_channel_rec *ch = nullptr;
            if (!check(mdfchn_create(&ch, group, c.type, c.bits, c.data_type, c.name),
                       "mdfchn_create") ||
                !check(mdfchn_set_description(ch, c.description), "mdfchn_set_description"))
                return false;
            if (mdf_u16(ch->cn, CN_FIRST_BIT) != c.first_bit) {
                std::fprintf(stderr, "mkbench: channel %s placed at bit %u, expected %u\n", c.name,
                             mdf_u16(ch->cn, CN_FIRST_BIT), c.first_bit);
                return false;
            }
            if (c.cc != CC_NONE) {
                uint8_t *cc = mdfblk_new_conversion(cc_type_of(c), cc_count_of(c));
                fill_cc(cc, c);
                mdfblk_set_link(ch->cn + CN_CONVERSION, 0, cc);
                ch->cc = cc;
            }
        }
        uint8_t *data = nullptr;
        uint16_t length = mdfgrp_record_data(&data, group);
        if (length < 1u + g.record_size + 4u) {
            std::fprintf(stderr, "mkbench: record buffer too small\n");
            return false;
        }
        for (uint32_t k = 0; k < g.records; ++k) {
            pack_record(g, static_cast<uint64_t>(k) * g.period_ms, data);
            if (!check(mdfgrp_append_record(group), "mdfgrp_append_record")) return false;
        }
        if (!check(mdfgrp_close(group), "mdfgrp_close")) return false;
    }
    return check(mdffil_close(file), "mdffil_close") && check(mdflib_exit(), "mdflib_exit");
}

// ---------------------------------------------------------------------------------------------
// The unsorted file, byte by byte
// ---------------------------------------------------------------------------------------------

// Builds the blocks of the unsorted file in memory through the tools' byte writer; positions are
// offsets in the file.
struct UnsortedWriter : mdf_image {
    uint32_t add_block(const char *type, uint16_t size) {
        return static_cast<uint32_t>(block(type, size));
    }
    uint8_t *at(uint32_t pos) { return &data[pos]; }
};

bool write_unsorted(const std::string &name, const std::vector<group_def> &groups) {
    UnsortedWriter w;
    uint32_t id = w.add_block(nullptr, ID_SIZE);
    std::memcpy(w.at(id + ID_FILE_ID), "MDF     2.00    ", 16);
    w.text(id + ID_PROGRAM_ID, PROGRAM_ID, 8);
    mdf_set_u16(w.at(id), ID_VERSION, ID_VERSION_200);

    uint32_t hd = w.add_block("HD", HD_SIZE);
    mdf_set_u16(w.at(hd), HD_DG_COUNT, 1);
    w.text(hd + HD_DATE, INFO_DATE, HD_DATE_LEN);
    w.text(hd + HD_TIME, INFO_TIME, HD_TIME_LEN);
    w.text(hd + HD_AUTHOR, INFO_AUTHOR, HD_TEXT_LEN);
    w.text(hd + HD_DIVISION, INFO_DIVISION, HD_TEXT_LEN);
    w.text(hd + HD_PROJECT, INFO_PROJECT, HD_TEXT_LEN);
    w.text(hd + HD_SUBJECT, INFO_SUBJECT, HD_TEXT_LEN);
    size_t comment_length = std::strlen(INFO_COMMENT);
    uint32_t tx = w.add_block("TX", static_cast<uint16_t>(comment_length + 5));
    std::memcpy(w.at(tx + TX_TEXT), INFO_COMMENT, comment_length);
    mdf_set_u32(w.at(hd), HD_COMMENT, tx);

    uint32_t dg = w.add_block("DG", DG_SIZE);
    mdf_set_u32(w.at(hd), HD_FIRST_DG, dg);
    mdf_set_u16(w.at(dg), DG_CG_COUNT, static_cast<uint16_t>(groups.size()));
    mdf_set_u16(w.at(dg), DG_ID_BYTES, 1);

    // Channel groups in reverse order, each with its channels in reverse order (see the top).
    uint32_t link_to_cg = dg + DG_FIRST_CG;
    for (size_t gi = groups.size(); gi-- > 0;) {
        const group_def &g = groups[gi];
        uint32_t cg = w.add_block("CG", CG_SIZE);
        mdf_set_u32(w.at(link_to_cg), 0, cg);
        link_to_cg = cg + CG_NEXT_CG;
        mdf_set_u16(w.at(cg), CG_RECORD_ID, static_cast<uint16_t>(gi + 1));
        mdf_set_u16(w.at(cg), CG_CN_COUNT, static_cast<uint16_t>(g.channels.size()));
        mdf_set_u16(w.at(cg), CG_RECORD_SIZE, g.record_size);
        mdf_set_u32(w.at(cg), CG_RECORDS, g.records);
        uint32_t link_to_cn = cg + CG_FIRST_CN;
        for (size_t ci = g.channels.size(); ci-- > 0;) {
            const channel_def &c = g.channels[ci];
            uint32_t cn = w.add_block("CN", CN_SIZE);
            mdf_set_u32(w.at(link_to_cn), 0, cn);
            link_to_cn = cn + CN_NEXT_CN;
            mdf_set_u16(w.at(cn), CN_TYPE, c.type);
            w.text(cn + CN_NAME, c.name, CN_NAME_LEN);
            w.text(cn + CN_DESCRIPTION, c.description, CN_DESCRIPTION_LEN);
            mdf_set_u16(w.at(cn), CN_FIRST_BIT, c.first_bit);
            mdf_set_u16(w.at(cn), CN_BITS, c.data_type == MDFCHN_FLOAT ? 32 : c.bits);
            mdf_set_u16(w.at(cn), CN_DATA_TYPE, c.data_type);
            if (c.cc != CC_NONE) {
                uint16_t type = cc_type_of(c), count = cc_count_of(c);
                uint16_t entry = (type == CC_TABLE_INTERP || type == CC_TABLE) ? 16 : 8;
                uint32_t cc = w.add_block("CC", static_cast<uint16_t>(CC_SIZE + entry * count));
                mdf_set_u16(w.at(cc), CC_TYPE, type);
                mdf_set_u16(w.at(cc), CC_COUNT, count);
                fill_cc(w.at(cc), c);
                mdf_set_u32(w.at(cn), CN_CONVERSION, cc);
            }
        }
    }
    auto data_start = static_cast<uint32_t>(w.data.size());
    mdf_set_u32(w.at(dg), DG_DATA, data_start);

    std::FILE *f = std::fopen(name.c_str(), "wb");
    if (f == nullptr) {
        std::fprintf(stderr, "mkbench: cannot create %s: %s\n", name.c_str(), std::strerror(errno));
        return false;
    }
    std::vector<char> stream_buffer(1 << 20);
    std::setvbuf(f, stream_buffer.data(), _IOFBF, stream_buffer.size());
    bool ok = std::fwrite(w.data.data(), 1, w.data.size(), f) == w.data.size();

    // Records in time order; at equal times in group order.
    uint64_t end_ms = static_cast<uint64_t>(groups[0].records - 1) * groups[0].period_ms;
    std::vector<uint8_t> record(1 + 0xFFFF + 4);
    for (uint64_t ms = 0; ok && ms <= end_ms; ms += groups[0].period_ms) {
        for (size_t gi = 0; gi < groups.size(); ++gi) {
            const group_def &g = groups[gi];
            if (ms % g.period_ms != 0 || ms / g.period_ms >= g.records) continue;
            record[0] = static_cast<uint8_t>(gi + 1);
            pack_record(g, ms, &record[1]);
            ok = std::fwrite(record.data(), 1, 1u + g.record_size, f) == 1u + g.record_size;
        }
    }
    if (std::fclose(f) != 0) ok = false;
    if (!ok) std::fprintf(stderr, "mkbench: cannot write %s\n", name.c_str());
    return ok;
}

// ---------------------------------------------------------------------------------------------

} // namespace

int main(int argc, char *argv[]) {
    uint64_t size = 0;
    if (argc != 3 || !parse_size(argv[1], &size)) {
        std::fprintf(stderr, "usage: mkbench SIZE NAME   (SIZE 64K to 2G; writes NAME.dat and "
                             "NAME_u.dat)\n");
        return 2;
    }
    std::vector<group_def> groups = make_groups();
    // Bytes per second of measurement (records with their identifier byte).
    uint64_t per_second = 0;
    for (const group_def &g : groups) per_second += (1000 / g.period_ms) * (1u + g.record_size);
    uint64_t duration = size / per_second; // seconds
    if (duration < 2) duration = 2;
    for (group_def &g : groups)
        g.records = static_cast<uint32_t>(duration * 1000 / g.period_ms + 1);

    std::string base = argv[2];
    try {
        if (!write_sorted(base + ".dat", groups)) return 1;
    } catch (const mdf_fail &f) {
        std::fprintf(stderr, "mkbench: MDFLIB failed with status %d\n", f.status);
        return 1;
    }
    if (!write_unsorted(base + "_u.dat", groups)) return 1;

    uint64_t values = 0;
    for (const group_def &g : groups) values += g.records * (g.channels.size() - 1);
    std::printf("duration %llu s, records %u/%u/%u/%u, values in the file %llu\n",
                static_cast<unsigned long long>(duration), groups[0].records, groups[1].records,
                groups[2].records, groups[3].records, static_cast<unsigned long long>(values));
    return 0;
}
