// mkrecording: writes the MDF 3.30 sample recording of examples/.
//
//   mkrecording [folder]      (default: examples)
//
// writes <folder>/recording330.dat, sorted (one data group per channel group), and
// <folder>/recording330_unsorted.dat, the same recording with both channel groups in one data
// group, the records in time order (at equal times group 1 first), each between two record
// identifier bytes. Both are written byte by byte (tools/mdf3_writer.h): MDFLIB creates 2.00
// files only.
//
// The recording: 10 s of an e-drive on a test bench, a speed ramp up, a hold and a ramp down
// with regeneration. Blocks of the 3.30 sizes (HD 208, DG 28, CG 30, CN 228), little-endian
// default byte order; every time channel is an IEEE double (data type 3) counting seconds.
//   group 1, every 10 ms from 0 s (1001 records of 17 bytes):
//     n_mot    rpm,   big-endian unsigned 16 bits (type 9) at bit 64, linear 0.5 per count
//     M_shaft  Nm,    big-endian signed 24 bits (type 10) at bit 80, linear 0.01 per count
//     U_dc     V,     little-endian unsigned 12 bits (type 13) at bit 104, linear 200 + 0.1 x
//     T_wndg_U deg C, little-endian signed 16 bits (type 14) at bit 4 of additional byte offset
//              14 (bit 116), linear 0.01 per count; long name
//              "Motor.Stator.Winding.Temperature_PhaseU", display name "Winding temperature U"
//   group 2, every 100 ms from 0.05 s (100 records of 19 bytes):
//     I_dc       A, big-endian signed 12 bits (type 10) at bit 68, linear 0.1 per count: bytes 8
//                and 9 read as one big-endian number, shifted right by 4, so the value fills
//                byte 8 and the high nibble of byte 9
//     inv_state    unsigned 4 bits (type 0) at bit 72 (the low nibble of byte 9), value to text
//                  (0 OFF ... 4 FAULT)
//     derate     %, unsigned 8 bits (type 0) at bit 80, value range to text
//     drive_mode   string of 8 bytes (type 7) at byte 11: no number, the converter leaves it out
// Time stamps are whole hundredths (n / 100.0), so equal times of both groups are equal numbers.
#include "mdf3_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr double PI = 3.14159265358979323846;

// ---------------------------------------------------------------------------------------------
// The model
// ---------------------------------------------------------------------------------------------

double motor_speed(double t) { // rpm
    if (t < 1.0) return 0.0;
    if (t < 4.0) return 1000.0 * (t - 1.0);
    if (t < 7.0) return 3000.0;
    return 3000.0 - 500.0 * (t - 7.0);
}

double shaft_torque(double t) { // Nm
    if (t < 1.0) return 0.0;
    double ripple = 3.0 * std::sin(2.0 * PI * 5.0 * t);
    if (t < 4.0) return 120.0 + ripple;
    if (t < 7.0) return 40.0 + ripple;
    return -80.0 + ripple;
}

double dc_voltage(double t) { // V
    return 400.0 - 0.05 * shaft_torque(t);
}

double winding_temperature(double t) { // deg C
    return 25.0 + 2.0 * t;
}

double dc_current(double t) { // A: mechanical power over the DC voltage
    return shaft_torque(t) * motor_speed(t) * 2.0 * PI / 60.0 / dc_voltage(t);
}

int inverter_state(double t) {
    if (t < 0.5) return 0; // OFF
    if (t < 1.0) return 1; // PRECHARGE
    if (t < 9.5) return 3; // RUN
    return 2;              // READY
}

int derating(double t) { // %
    double over = winding_temperature(t) - 40.0;
    if (over <= 0.0) return 0;
    return static_cast<int>(std::min(100.0, std::round(12.0 * over)));
}

std::string drive_mode(double t) {
    if (t < 1.0) return "STANDBY";
    if (t < 7.0) return "SPORT";
    return "ECO";
}

// ---------------------------------------------------------------------------------------------
// The file
// ---------------------------------------------------------------------------------------------

constexpr int GROUP1_RECORDS = 1001; // t = n / 100, n = 0 ... 1000
constexpr int GROUP2_RECORDS = 100;  // t = (5 + 10 k) / 100, k = 0 ... 99

double time1(int k) {
    return k / 100.0;
}
double time2(int k) {
    return (5 + 10 * k) / 100.0;
}

mdf3_channel channel(const char *name, const char *description, uint16_t data_type, uint16_t bits,
                     uint16_t first_bit, mdf3_conversion cc, double rate) {
    mdf3_channel c;
    c.name = name;
    c.description = description;
    c.data_type = data_type;
    c.bits = bits;
    c.first_bit = first_bit;
    c.cc = std::move(cc);
    c.rate = rate;
    return c;
}

mdf3_channel time_channel(double rate) {
    mdf3_channel c = channel("time", "time since start of recording [s]", 3, 64, 0,
                             mdf3::linear(0.0, 1.0, "s"), rate);
    c.type = 1;
    return c;
}

mdf3_group drive_group() {
    mdf3_group g;
    g.record_id = 1;
    g.comment = "drive: speed, torque, DC voltage, winding temperature every 10 ms";
    mdf3_channel time = time_channel(0.01);
    mdf3_channel speed =
        channel("n_mot", "motor speed [rpm]", 9, 16, 64, mdf3::linear(0.0, 0.5, "rpm"), 0.01);
    mdf3_channel torque =
        channel("M_shaft", "shaft torque [Nm]", 10, 24, 80, mdf3::linear(0.0, 0.01, "Nm"), 0.01);
    mdf3_channel voltage =
        channel("U_dc", "DC link voltage [V]", 13, 12, 104, mdf3::linear(200.0, 0.1, "V"), 0.01);
    mdf3_channel winding = channel("T_wndg_U", "stator winding temperature, phase U [deg C]", 14,
                                   16, 4, mdf3::linear(0.0, 0.01, "degC"), 0.01);
    winding.byte_offset = 14;
    winding.long_name = "Motor.Stator.Winding.Temperature_PhaseU";
    winding.display_name = "Winding temperature U";
    winding.comment = "sensor in the end winding of phase U";
    for (int k = 0; k < GROUP1_RECORDS; ++k) {
        const double t = time1(k);
        time.fields.push_back(mdf_image::double_bits(t));
        speed.fields.push_back(mdf3::raw_count(motor_speed(t), 0.0, 0.5, 16));
        torque.fields.push_back(mdf3::raw_count(shaft_torque(t), 0.0, 0.01, 24));
        voltage.fields.push_back(mdf3::raw_count(dc_voltage(t), 200.0, 0.1, 12));
        winding.fields.push_back(mdf3::raw_count(winding_temperature(t), 0.0, 0.01, 16));
    }
    g.channels = {time, speed, torque, voltage, winding};
    return g;
}

mdf3_group bus_group() {
    mdf3_group g;
    g.record_id = 2;
    g.comment = "vehicle bus: inverter status every 100 ms";
    mdf3_channel time = time_channel(0.1);
    mdf3_conversion states;
    states.type = 11;
    states.value_texts = {{0, "OFF"}, {1, "PRECHARGE"}, {2, "READY"}, {3, "RUN"}, {4, "FAULT"}};
    mdf3_channel state = channel("inv_state", "inverter state", 0, 4, 72, states, 0.1);
    mdf3_channel current =
        channel("I_dc", "DC link current [A]", 10, 12, 68, mdf3::linear(0.0, 0.1, "A"), 0.1);
    mdf3_conversion classes;
    classes.type = 12;
    classes.unit = "%";
    // The first entry is the text of the values that no range holds.
    classes.range_texts = {{0, 0, "out of range"},
                           {0, 0, "none"},
                           {1, 49, "partial"},
                           {50, 99, "strong"},
                           {100, 100, "shutdown"}};
    mdf3_channel derate = channel("derate", "torque derating [%]", 0, 8, 80, classes, 0.1);
    mdf3_channel mode = channel("drive_mode", "selected drive mode", 7, 64, 88, {}, 0.1);
    for (int k = 0; k < GROUP2_RECORDS; ++k) {
        const double t = time2(k);
        time.fields.push_back(mdf_image::double_bits(t));
        state.fields.push_back(static_cast<uint64_t>(inverter_state(t)));
        current.fields.push_back(mdf3::raw_count(dc_current(t), 0.0, 0.1, 12));
        derate.fields.push_back(static_cast<uint64_t>(derating(t)));
        mode.bytes.push_back(drive_mode(t));
    }
    g.channels = {time, current, state, derate, mode};
    return g;
}

mdf3_file recording() {
    mdf3_file f;
    f.program = "MKRECORD";
    f.date = "21:05:2024";
    f.time = "14:22:05";
    f.comment = "Speed ramp with regeneration on the e-drive bench\n"
                "10 ms drive channels, 100 ms vehicle bus channels";
    f.author = "R. Miller";
    f.division = "E-Drive Validation";
    f.project = "Inverter bench";
    f.subject = "Test motor M3";
    f.groups = {drive_group(), bus_group()};
    return f;
}

// The records of both groups in time order, group 1 first at equal times.
std::vector<std::size_t> time_order() {
    std::vector<std::size_t> order;
    int k1 = 0, k2 = 0;
    while (k1 < GROUP1_RECORDS || k2 < GROUP2_RECORDS) {
        bool first =
            k2 >= GROUP2_RECORDS ||
            (k1 < GROUP1_RECORDS && std::lround(time1(k1) * 100) <= std::lround(time2(k2) * 100));
        order.push_back(first ? 0 : 1);
        ++(first ? k1 : k2);
    }
    return order;
}

} // namespace

int main(int argc, char *argv[]) {
    const std::string folder = argc > 1 ? argv[1] : "examples";
    const std::string sorted = folder + "/recording330.dat";
    const std::string unsorted = folder + "/recording330_unsorted.dat";
    mdf3_file f = recording();
    if (!mdf3::save(mdf3::write(f), sorted)) {
        std::fprintf(stderr, "mkrecording: %s not written\n", sorted.c_str());
        return 1;
    }
    f.id_bytes = 2;
    f.order = time_order();
    if (!mdf3::save(mdf3::write(f), unsorted)) {
        std::fprintf(stderr, "mkrecording: %s not written\n", unsorted.c_str());
        return 1;
    }
    std::printf("%s\n%s\n", sorted.c_str(), unsorted.c_str());
    return 0;
}
