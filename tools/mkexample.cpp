// mkexample: writes the sample measurement of examples/.
//
//   mkexample [folder]      (default: examples)
//
// writes <folder>/measurement.dat through MDFLIB's own creation operations and
// <folder>/measurement_unsorted.dat, the same measurement with all channel groups in one data
// group and their records interleaved in time order, each led by its record identifier byte
// (MDFLIB creates sorted files only, so this one is written byte by byte).
//
// The measurement: 20 s of a car pulling away, accelerating through three gears and braking.
//   group 1, every 10 ms:  n_eng (rpm, linear), pedal (%, linear)
//   group 2, every 100 ms from 0.05 s:  v_veh (km/h, formula text "X/128"), brake (1 bit), gear
//   group 3, every 1 s from 0.2 s:  T_cool (deg C, NTC table with interpolation), T_oil
//            (deg C, linear), U_batt (V, linear)
// Every time channel counts milliseconds (32-bit unsigned, linear 0.001 s per count), so equal
// times of different groups are equal numbers.
#include "mdf_image.h"
#include "mdfint.h"
#include "mdflib.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double DURATION = 20.0; // s

// ---------------------------------------------------------------------------------------------
// The measurement model
// ---------------------------------------------------------------------------------------------

double vehicle_speed(double t) { // km/h
    if (t < 2.0) return 0.0;
    if (t < 15.0) return 75.0 * (1.0 - std::exp(-(t - 2.0) / 6.0)) / (1.0 - std::exp(-13.0 / 6.0));
    return 75.0 - 8.0 * (t - 15.0);
}

int gear(double t) {
    if (t < 2.0) return 0;
    double v = vehicle_speed(t);
    if (t >= 15.0) return 3;
    return v < 20.0 ? 1 : v < 42.0 ? 2 : 3;
}

double engine_speed(double t) { // rpm
    static const double rpm_per_kmh[] = {0.0, 130.0, 75.0, 50.0};
    double n = vehicle_speed(t) * rpm_per_kmh[gear(t)];
    if (n < 800.0) n = 800.0;
    return n + 12.0 * std::sin(2.0 * PI * 3.0 * t);
}

double pedal(double t) { // %
    if (t < 2.0 || t >= 15.0) return 0.0;
    return 35.0 + 25.0 * std::exp(-(t - 2.0) / 4.0);
}

int brake(double t) {
    return t < 1.5 || t >= 15.0 ? 1 : 0;
}

double coolant_temperature(double t) {
    return 84.0 + 3.0 * t / DURATION;
}
double oil_temperature(double t) {
    return 91.0 + 1.5 * t / DURATION;
}
double battery_voltage(double t) {
    return 14.1 - (t < 2.0 ? 0.4 : 0.0) + 0.05 * std::sin(t);
}

// The NTC sensor of the coolant temperature: ADC counts to deg C, falling.
const double NTC_TABLE[][2] = {{100, 130}, {200, 105}, {300, 90}, {400, 78}, {500, 67},
                               {600, 56},  {700, 45},  {800, 32}, {900, 15}};
constexpr int NTC_ENTRIES = sizeof NTC_TABLE / sizeof NTC_TABLE[0];

// The ADC count of a temperature, rounded (inverse of the table with interpolation).
uint32_t ntc_counts(double temperature) {
    for (int i = 0; i + 1 < NTC_ENTRIES; ++i) {
        double v0 = NTC_TABLE[i][1], v1 = NTC_TABLE[i + 1][1];
        if (temperature <= v0 && temperature >= v1) {
            double r0 = NTC_TABLE[i][0], r1 = NTC_TABLE[i + 1][0];
            return static_cast<uint32_t>(
                std::lround(r0 + (temperature - v0) * (r1 - r0) / (v1 - v0)));
        }
    }
    return 0;
}

// One channel of the sample, with its raw value at a time.
struct sample_channel {
    const char *name;
    const char *description;
    uint16_t type; // 0 value, 1 time
    uint16_t bits;
    uint16_t data_type; // 0 unsigned, 1 signed
    uint16_t cc_type;   // 0xFFFF: none
    std::vector<double> params;
    const char *formula;
    uint32_t (*raw)(double t);
};

struct sample_group {
    double period;
    double start;
    std::vector<sample_channel> channels;
    uint16_t record_id;
    uint32_t records() const {
        return static_cast<uint32_t>(std::floor((DURATION - start) / period + 1e-9)) + 1;
    }
    double time(uint32_t k) const { return (std::lround((start + k * period) * 1000.0)) / 1000.0; }
};

constexpr uint16_t NO_CC = 0xFFFF;

uint32_t raw_time(double t) {
    return static_cast<uint32_t>(std::lround(t * 1000.0));
}

std::vector<sample_group> sample_groups() {
    std::vector<double> ntc;
    for (const auto &e : NTC_TABLE) ntc.insert(ntc.end(), {e[0], e[1]});
    sample_channel time = {
        "time",  "time since start of measurement [s]", 1, 32, 0, CC_LINEAR, {0.0, 0.001}, nullptr,
        raw_time};
    return {
        {0.01,
         0.0,
         {time,
          {"n_eng",
           "engine speed [rpm]",
           0,
           16,
           0,
           CC_LINEAR,
           {0.0, 0.25},
           nullptr,
           [](double t) { return static_cast<uint32_t>(std::lround(engine_speed(t) / 0.25)); }},
          {"pedal",
           "accelerator pedal position [%]",
           0,
           8,
           0,
           CC_LINEAR,
           {0.0, 0.4},
           nullptr,
           [](double t) { return static_cast<uint32_t>(std::lround(pedal(t) / 0.4)); }}},
         1},
        {0.1,
         0.05,
         {time,
          {"v_veh",
           "vehicle speed [km/h]",
           0,
           16,
           0,
           CC_FORMULA,
           {},
           "X/128",
           [](double t) { return static_cast<uint32_t>(std::lround(vehicle_speed(t) * 128.0)); }},
          {"brake",
           "brake pedal switch",
           0,
           1,
           0,
           NO_CC,
           {},
           nullptr,
           [](double t) { return static_cast<uint32_t>(brake(t)); }},
          {"gear",
           "engaged gear",
           0,
           4,
           0,
           NO_CC,
           {},
           nullptr,
           [](double t) { return static_cast<uint32_t>(gear(t)); }}},
         2},
        {1.0,
         0.2,
         {time,
          {"T_cool", "coolant temperature [deg C]", 0, 16, 0, CC_TABLE_INTERP, ntc, nullptr,
           [](double t) { return ntc_counts(coolant_temperature(t)); }},
          {"T_oil",
           "oil temperature [deg C]",
           0,
           16,
           1,
           CC_LINEAR,
           {-40.0, 0.1},
           nullptr,
           [](double t) {
               return static_cast<uint32_t>(std::lround((oil_temperature(t) + 40.0) / 0.1));
           }},
          {"U_batt",
           "battery voltage [V]",
           0,
           16,
           0,
           CC_LINEAR,
           {0.0, 0.001},
           nullptr,
           [](double t) {
               return static_cast<uint32_t>(std::lround(battery_voltage(t) / 0.001));
           }}},
         3},
    };
}

const char *const DATE = "14:03:2024";
const char *const TIME = "09:41:27";
const char *const COMMENT = "Pull-away and braking on the test track\n"
                            "10 ms engine, 100 ms vehicle, 1 s thermal channels";
const char *const AUTHOR = "J. Doe";
const char *const DIVISION = "Powertrain Testing";
const char *const PROJECT = "Sample measurement";
const char *const SUBJECT = "Test vehicle 7";

// ---------------------------------------------------------------------------------------------
// The sorted file, through MDFLIB
// ---------------------------------------------------------------------------------------------

// A conversion block for the channel, linked into its channel block.
void attach_conversion(mdf_channel_rec *channel, const sample_channel &c) {
    if (c.cc_type == NO_CC) return;
    uint8_t *cc = nullptr;
    if (c.cc_type == CC_FORMULA) {
        std::size_t length = std::strlen(c.formula) + 1;
        uint16_t count = static_cast<uint16_t>((length + 7) / 8);
        cc = mdfblk_new_conversion(CC_FORMULA, count);
        std::memcpy(cc + CC_PARAMS, c.formula, length);
    } else {
        uint16_t count = static_cast<uint16_t>(c.cc_type == CC_TABLE_INTERP ? c.params.size() / 2
                                                                            : c.params.size());
        cc = mdfblk_new_conversion(c.cc_type, count);
        for (std::size_t i = 0; i < c.params.size(); ++i)
            mdf_set_real(cc, CC_PARAMS + 8 * i, c.params[i]);
    }
    mdfblk_set_link(channel->cn + CN_CONVERSION, 0, cc);
    channel->cc = cc;
}

bool write_sorted(const std::string &name) {
    mdf_file_rec *file = nullptr;
    if (mdffil_open(&file, name.c_str(), MDFFIL_CREATE) != 0) return false;
    if (mdffil_set_info(file, DATE, TIME, COMMENT, AUTHOR, DIVISION, PROJECT, SUBJECT) != 0)
        return false;
    // A created group stands first in the chain of data groups: create the last one first.
    std::vector<sample_group> groups = sample_groups();
    for (auto g = groups.rbegin(); g != groups.rend(); ++g) {
        mdf_group_rec *group = nullptr;
        if (mdfgrp_open(&group, file, 0, MDFGRP_CREATE) != 0) return false;
        std::vector<mdf_channel_rec *> channels;
        for (const sample_channel &c : g->channels) {
            mdf_channel_rec *channel = nullptr;
            if (mdfchn_create(&channel, group, c.type, c.bits, c.data_type, c.name) != 0 ||
                mdfchn_set_description(channel, c.description) != 0)
                return false;
            try {
                attach_conversion(channel, c);
            } catch (const mdf_fail &) {
                return false;
            }
            channels.push_back(channel);
        }
        // Writing a channel a second time finishes the record; the close finishes the last.
        for (uint32_t k = 0; k < g->records(); ++k) {
            double t = g->time(k);
            for (std::size_t j = 0; j < channels.size(); ++j)
                if (mdfchn_write_raw(channels[j], g->channels[j].raw(t)) != 0) return false;
        }
        if (mdfgrp_close(group) != 0) return false;
    }
    return mdffil_close(file) == 0;
}

// ---------------------------------------------------------------------------------------------
// The unsorted file, byte by byte
// ---------------------------------------------------------------------------------------------

using bytes = mdf_image;

// First bits as MDFLIB places them at creation: values of up to 8 bits fill a partly used byte
// when they fit, every other value starts on a byte boundary.
std::vector<uint16_t> first_bits(const sample_group &g, uint16_t *record_size) {
    std::vector<uint16_t> first;
    uint32_t next = 0;
    for (const sample_channel &c : g.channels) {
        uint32_t f = next;
        if (f % 8 != 0 && f / 8 != (f + c.bits - 1) / 8) f = (f + 7) / 8 * 8;
        first.push_back(static_cast<uint16_t>(f));
        next = f + c.bits;
    }
    *record_size = static_cast<uint16_t>((next + 7) / 8);
    return first;
}

bool write_unsorted(const std::string &name) {
    std::vector<sample_group> groups = sample_groups();
    bytes f;
    std::size_t id = f.block(nullptr, ID_SIZE);
    f.text(id + ID_FILE_ID, "MDF     ", 8);
    f.text(id + ID_FORMAT_ID, "2.00    ", 8);
    f.text(id + ID_PROGRAM_ID, "MKEXAMPL", 8);
    f.u16(id + ID_VERSION, ID_VERSION_200);
    std::size_t hd = f.block("HD", HD_SIZE);
    f.u16(hd + HD_DG_COUNT, 1);
    f.text(hd + HD_DATE, DATE, HD_DATE_LEN);
    f.text(hd + HD_TIME, TIME, HD_TIME_LEN);
    f.text(hd + HD_AUTHOR, AUTHOR, HD_TEXT_LEN);
    f.text(hd + HD_DIVISION, DIVISION, HD_TEXT_LEN);
    f.text(hd + HD_PROJECT, PROJECT, HD_TEXT_LEN);
    f.text(hd + HD_SUBJECT, SUBJECT, HD_TEXT_LEN);
    std::size_t tx = f.block("TX", 4 + std::strlen(COMMENT) + 1);
    f.text(tx + TX_TEXT, COMMENT, std::strlen(COMMENT));
    f.u32(hd + HD_COMMENT, static_cast<uint32_t>(tx));

    std::size_t dg = f.block("DG", DG_SIZE);
    f.u32(hd + HD_FIRST_DG, static_cast<uint32_t>(dg));
    f.u16(dg + DG_CG_COUNT, static_cast<uint16_t>(groups.size()));
    f.u16(dg + DG_ID_BYTES, 1);

    std::vector<std::vector<uint16_t>> layouts;
    std::vector<uint16_t> sizes;
    std::size_t previous_cg = 0;
    for (const sample_group &g : groups) {
        uint16_t record_size = 0;
        layouts.push_back(first_bits(g, &record_size));
        sizes.push_back(record_size);
        std::size_t cg = f.block("CG", CG_SIZE);
        f.u32(previous_cg != 0 ? previous_cg + CG_NEXT_CG : dg + DG_FIRST_CG,
              static_cast<uint32_t>(cg));
        previous_cg = cg;
        f.u16(cg + CG_RECORD_ID, g.record_id);
        f.u16(cg + CG_CN_COUNT, static_cast<uint16_t>(g.channels.size()));
        f.u16(cg + CG_RECORD_SIZE, record_size);
        f.u32(cg + CG_RECORDS, g.records());
        std::size_t previous_cn = 0;
        for (std::size_t j = 0; j < g.channels.size(); ++j) {
            const sample_channel &c = g.channels[j];
            std::size_t cn = f.block("CN", CN_SIZE);
            f.u32(previous_cn != 0 ? previous_cn + CN_NEXT_CN : cg + CG_FIRST_CN,
                  static_cast<uint32_t>(cn));
            previous_cn = cn;
            f.u16(cn + CN_TYPE, c.type);
            f.text(cn + CN_NAME, c.name, CN_NAME_LEN);
            f.text(cn + CN_DESCRIPTION, c.description, CN_DESCRIPTION_LEN);
            f.u16(cn + CN_FIRST_BIT, layouts.back()[j]);
            f.u16(cn + CN_BITS, c.bits);
            f.u16(cn + CN_DATA_TYPE, c.data_type);
            if (c.cc_type == NO_CC) continue;
            std::size_t count = c.cc_type == CC_FORMULA        ? (std::strlen(c.formula) + 8) / 8
                                : c.cc_type == CC_TABLE_INTERP ? c.params.size() / 2
                                                               : c.params.size();
            std::size_t cc = f.block("CC", CC_SIZE + 8 * (c.cc_type == CC_FORMULA        ? count
                                                          : c.cc_type == CC_TABLE_INTERP ? 2 * count
                                                                                         : count));
            f.u32(cn + CN_CONVERSION, static_cast<uint32_t>(cc));
            f.u16(cc + CC_TYPE, c.cc_type);
            f.u16(cc + CC_COUNT, static_cast<uint16_t>(count));
            if (c.cc_type == CC_FORMULA)
                f.text(cc + CC_PARAMS, c.formula, std::strlen(c.formula));
            else
                for (std::size_t i = 0; i < c.params.size(); ++i)
                    f.real(cc + CC_PARAMS + 8 * i, c.params[i]);
        }
    }

    // The records of all groups in time order (at equal times in group order), each led by its
    // group's record identifier.
    f.u32(dg + DG_DATA, static_cast<uint32_t>(f.data.size()));
    std::vector<uint32_t> next(groups.size(), 0);
    for (;;) {
        int pick = -1;
        for (std::size_t i = 0; i < groups.size(); ++i)
            if (next[i] < groups[i].records() &&
                (pick < 0 || groups[i].time(next[i]) < groups[pick].time(next[pick])))
                pick = static_cast<int>(i);
        if (pick < 0) break;
        const sample_group &g = groups[pick];
        double t = g.time(next[pick]++);
        std::size_t at = f.block(nullptr, 1 + sizes[pick]);
        f.data[at] = static_cast<uint8_t>(g.record_id);
        std::vector<uint8_t> record(sizes[pick] + 4, 0);
        for (std::size_t j = 0; j < g.channels.size(); ++j) {
            uint64_t raw = g.channels[j].raw(t) & ((uint64_t{1} << g.channels[j].bits) - 1);
            uint16_t bit = layouts[pick][j];
            for (uint16_t b = 0; b < g.channels[j].bits; ++b)
                if ((raw >> b) & 1u)
                    record[(bit + b) / 8] |= static_cast<uint8_t>(1u << ((bit + b) % 8));
        }
        std::memcpy(&f.data[at + 1], record.data(), sizes[pick]);
    }

    std::FILE *out = std::fopen(name.c_str(), "wb");
    if (out == nullptr) return false;
    bool ok = std::fwrite(f.data.data(), 1, f.data.size(), out) == f.data.size();
    return std::fclose(out) == 0 && ok;
}

} // namespace

int main(int argc, char *argv[]) {
    const std::string folder = argc > 1 ? argv[1] : "examples";
    const std::string sorted = folder + "/measurement.dat";
    const std::string unsorted = folder + "/measurement_unsorted.dat";
    if (mdflib_init("MKEXAMPL") != 0 || !write_sorted(sorted) || mdflib_exit() != 0) {
        std::fprintf(stderr, "mkexample: %s not written\n", sorted.c_str());
        return 1;
    }
    if (!write_unsorted(unsorted)) {
        std::fprintf(stderr, "mkexample: %s not written\n", unsorted.c_str());
        return 1;
    }
    std::printf("%s\n%s\n", sorted.c_str(), unsorted.c_str());
    return 0;
}
