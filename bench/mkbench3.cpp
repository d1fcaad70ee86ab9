// mkbench3: writes a large MDF 3.30 measurement in the shapes that real loggers write, for the
// conversion benchmark's row of such files.
//
//   mkbench3 SIZE NAME        SIZE in bytes as for mkbench (suffix K, M or G; 64K to 2G)
//
// writes NAME.dat, sorted (one data group per channel group), byte by byte (tools/mdf3_writer.h):
// blocks of the 3.30 sizes (HD 208, DG 28, CG 30, CN 228), little-endian default byte order,
// every time channel an IEEE double counting seconds, the value channels in both byte orders, at
// byte and at bit positions, with linear, value-to-text and no conversions:
//   group 1, every 10 ms: n_mot (type 9, big-endian u16, linear 0.5), M_shaft (type 14,
//            little-endian s16, linear 0.01), U_dc (type 13, u12 at bit 4 of a byte, 200 + 0.1 x),
//            I_phase (type 15, little-endian float), P_el (type 3, double)
//   group 2, every 20 ms: T_oil (type 10, big-endian s24, linear 0.001), p_brake (type 0, u16,
//            linear 0.01), ABS_active (1 bit), v_veh (type 11, big-endian float)
//   group 3, every 100 ms: inv_state (u8, value to text: reads the raw value), frame_count (u32)
// All groups start at 0 and end at the same time; the duration follows from SIZE. Time stamps
// are whole milliseconds over 1000, so equal times of different groups are equal numbers.
#include "size_arg.h"
#include "mdf3_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr double PI = 3.14159265358979323846;

mdf3_channel channel(const char *name, uint16_t data_type, uint16_t bits, unsigned position,
                     mdf3_conversion cc = {}) {
    mdf3_channel c;
    c.name = name;
    c.description = name;
    c.data_type = data_type;
    c.bits = bits;
    c.byte_offset = static_cast<uint16_t>(position / 8);
    c.first_bit = static_cast<uint16_t>(position % 8);
    c.cc = std::move(cc);
    return c;
}

mdf3_channel time_channel() {
    mdf3_channel t = channel("time", 3, 64, 0, mdf3::linear(0.0, 1.0, "s"));
    t.type = 1;
    return t;
}

// A slow drive cycle of 600 s with some noise, the same for every channel but in its own phase.
double wave(double t, double phase) {
    return std::sin(2.0 * PI * (t / 600.0 + phase)) + 0.01 * std::sin(2.0 * PI * t * 7.3 + phase);
}

mdf3_group drive_group(uint64_t records) {
    mdf3_group g;
    g.record_id = 1;
    mdf3_channel time = time_channel();
    mdf3_channel speed = channel("n_mot", 9, 16, 64, mdf3::linear(0.0, 0.5, "rpm"));
    mdf3_channel torque = channel("M_shaft", 14, 16, 80, mdf3::linear(0.0, 0.01, "Nm"));
    mdf3_channel voltage = channel("U_dc", 13, 12, 100, mdf3::linear(200.0, 0.1, "V"));
    mdf3_channel current = channel("I_phase", 15, 32, 112, mdf3::linear(0.0, 1.0, "A"));
    mdf3_channel power = channel("P_el", 3, 64, 144, mdf3::linear(0.0, 1.0, "kW"));
    for (uint64_t k = 0; k < records; ++k) {
        const double t = static_cast<double>(k * 10) / 1000.0;
        time.fields.push_back(mdf_image::double_bits(t));
        speed.fields.push_back(mdf3::raw_count(3000.0 + 2500.0 * wave(t, 0.0), 0.0, 0.5, 16));
        torque.fields.push_back(mdf3::raw_count(150.0 * wave(t, 0.1), 0.0, 0.01, 16));
        voltage.fields.push_back(mdf3::raw_count(400.0 - 20.0 * wave(t, 0.2), 200.0, 0.1, 12));
        current.fields.push_back(mdf_image::float_bits(static_cast<float>(250.0 * wave(t, 0.3))));
        power.fields.push_back(mdf_image::double_bits(80.0 * wave(t, 0.4)));
    }
    g.channels = {time, speed, torque, voltage, current, power};
    return g;
}

mdf3_group chassis_group(uint64_t records) {
    mdf3_group g;
    g.record_id = 2;
    mdf3_channel time = time_channel();
    mdf3_channel oil = channel("T_oil", 10, 24, 64, mdf3::linear(0.0, 0.001, "degC"));
    mdf3_channel brake = channel("p_brake", 0, 16, 88, mdf3::linear(0.0, 0.01, "bar"));
    mdf3_channel abs = channel("ABS_active", 0, 1, 104);
    mdf3_channel speed = channel("v_veh", 11, 32, 112, mdf3::linear(0.0, 1.0, "km/h"));
    for (uint64_t k = 0; k < records; ++k) {
        const double t = static_cast<double>(k * 20) / 1000.0;
        time.fields.push_back(mdf_image::double_bits(t));
        oil.fields.push_back(mdf3::raw_count(90.0 + 30.0 * wave(t, 0.5), 0.0, 0.001, 24));
        const double pressure = std::max(0.0, 60.0 * wave(t, 0.6));
        brake.fields.push_back(mdf3::raw_count(pressure, 0.0, 0.01, 16));
        abs.fields.push_back(pressure > 50.0 ? 1 : 0);
        speed.fields.push_back(
            mdf_image::float_bits(static_cast<float>(90.0 + 80.0 * wave(t, 0.7))));
    }
    g.channels = {time, oil, brake, abs, speed};
    return g;
}

mdf3_group bus_group(uint64_t records) {
    mdf3_group g;
    g.record_id = 3;
    mdf3_channel time = time_channel();
    mdf3_conversion states;
    states.type = 11;
    states.value_texts = {{0, "OFF"}, {1, "PRECHARGE"}, {2, "READY"}, {3, "RUN"}, {4, "FAULT"}};
    mdf3_channel state = channel("inv_state", 0, 8, 64, states);
    mdf3_channel frames = channel("frame_count", 0, 32, 72);
    for (uint64_t k = 0; k < records; ++k) {
        const double t = static_cast<double>(k * 100) / 1000.0;
        time.fields.push_back(mdf_image::double_bits(t));
        state.fields.push_back(wave(t, 0.8) > -0.9 ? 3 : 2);
        frames.fields.push_back((k * 37) & 0xFFFFFFFFu);
    }
    g.channels = {time, state, frames};
    return g;
}

} // namespace

int main(int argc, char *argv[]) {
    uint64_t size = 0;
    if (argc != 3 || !parse_size(argv[1], &size)) {
        std::fprintf(stderr, "usage: mkbench3 SIZE NAME   (SIZE 64K to 2G; writes NAME.dat)\n");
        return 2;
    }
    // Record bytes per second: 100 of 26 bytes, 50 of 18, 10 of 13.
    const uint64_t duration = std::max<uint64_t>(2, size / (100 * 26 + 50 * 18 + 10 * 13));
    mdf3_file f;
    f.program = "MKBENCH3";
    f.date = "24:03:2026";
    f.time = "09:30:00";
    f.comment = "Endurance drive, MDF 3.30 benchmark measurement";
    f.author = "Bench";
    f.division = "Powertrain test";
    f.project = "TRAXCON benchmark";
    f.subject = "Test vehicle 9";
    f.groups = {drive_group(duration * 100 + 1), chassis_group(duration * 50 + 1),
                bus_group(duration * 10 + 1)};
    const std::string name = std::string(argv[2]) + ".dat";
    if (!mdf3::save(mdf3::write(f), name)) {
        std::fprintf(stderr, "mkbench3: %s not written\n", name.c_str());
        return 1;
    }
    std::printf("duration %llu s, records %llu/%llu/%llu\n",
                static_cast<unsigned long long>(duration),
                static_cast<unsigned long long>(duration * 100 + 1),
                static_cast<unsigned long long>(duration * 50 + 1),
                static_cast<unsigned long long>(duration * 10 + 1));
    return 0;
}
