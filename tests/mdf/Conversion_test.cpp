// Conversions between raw and physical values: every conversion type in both directions, the
// channel coding through a group's record, and round trips through every data type.

#include "mdfint.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
const double NaN = std::numeric_limits<double>::quiet_NaN();

// A CC block image with the given conversion type, parameter count and parameter area. Like the
// library's images it has one zero byte behind the block.
Bytes cc_image(std::uint16_t type, std::uint16_t count, const Bytes &area) {
    Bytes cc(CC_SIZE + area.size() + 1, 0);
    cc[0] = 'C';
    cc[1] = 'C';
    mdf_set_u16(cc.data(), BLK_SIZE, static_cast<std::uint16_t>(CC_SIZE + area.size()));
    mdf_set_u16(cc.data(), CC_TYPE, type);
    mdf_set_u16(cc.data(), CC_COUNT, count);
    if (!area.empty()) std::memcpy(cc.data() + CC_PARAMS, area.data(), area.size());
    return cc;
}

Bytes reals(std::initializer_list<double> values) {
    Bytes area(values.size() * 8);
    std::size_t off = 0;
    for (double v : values) {
        mdf_set_real(area.data(), off, v);
        off += 8;
    }
    return area;
}

// Formula types: P1, P2, ... in order.
Bytes cc_params(std::uint16_t type, std::initializer_list<double> p) {
    return cc_image(type, static_cast<std::uint16_t>(p.size()), reals(p));
}

Bytes cc_table(std::uint16_t type, std::initializer_list<std::pair<double, double>> rows) {
    Bytes area;
    for (const auto &[raw, phys] : rows) {
        const Bytes row = reals({raw, phys});
        area.insert(area.end(), row.begin(), row.end());
    }
    return cc_image(type, static_cast<std::uint16_t>(rows.size()), area);
}

Bytes cc_text(const std::string &text) {
    Bytes area(text.begin(), text.end());
    area.push_back(0);
    return cc_image(CC_FORMULA, 0, area);
}

// One channel in the current record of a group, as the group and channel modules set them up:
// the record buffer holds the identifier byte, the record data and spare bytes behind it.
struct Channel {
    Bytes cg = Bytes(CG_SIZE + 1, 0);
    Bytes cn = Bytes(CN_SIZE + 1, 0);
    Bytes buffer_bytes;
    mdf_record_buffer buffer{};
    mdf_file_rec file{};
    mdf_group_rec group{};

    Channel(std::uint16_t first_bit, std::uint16_t bits, std::uint16_t data_type,
            std::uint16_t record_size = 8)
        : buffer_bytes(record_size + 4, 0) {
        mdf_set_u16(cg.data(), CG_RECORD_SIZE, record_size);
        cn[0] = 'C';
        cn[1] = 'N';
        mdf_set_u16(cn.data(), BLK_SIZE, CN_SIZE);
        mdf_set_u16(cn.data(), CN_FIRST_BIT, first_bit);
        mdf_set_u16(cn.data(), CN_BITS, bits);
        mdf_set_u16(cn.data(), CN_DATA_TYPE, data_type);
        buffer.length = static_cast<std::uint16_t>(buffer_bytes.size());
        buffer.record = buffer_bytes.data();
        file.magic = MDF_FILE_MAGIC;
        file.version = ID_VERSION_200;
        group.magic = MDF_GROUP_MAGIC;
        group.file = &file;
        group.cg = cg.data();
        group.buffer = &buffer;
    }
    Channel(const Channel &) = delete;
    Channel &operator=(const Channel &) = delete;

    std::uint8_t *data() { return buffer_bytes.data() + 1; }
    double read(Bytes *cc = nullptr) {
        return mdfdec_value(&group, cn.data(), cc ? cc->data() : nullptr);
    }
    void write(double physical, const Bytes *cc = nullptr) {
        EXPECT_EQ(mdfenc_value(&group, cn.data(), cc ? cc->data() : nullptr, physical), 0);
    }
    double raw() { return mdfdec_raw(&group, cn.data()); }
    void set_raw(double raw) { mdfenc_raw(&group, cn.data(), raw); }
};

// The conversion math on its own.
double forward(const Bytes &cc, double raw) {
    Bytes copy = cc;
    mdf_conversion c = mdf_conversion_of(copy.data());
    c.text = reinterpret_cast<char *>(copy.data() + CC_PARAMS);
    double y = -999.0;
    EXPECT_TRUE(mdf_convert(c, raw, &y));
    return y;
}

double inverse(const Bytes &cc, double physical) {
    double x = -999.0;
    EXPECT_TRUE(mdf_convert_inverse(mdf_conversion_of(cc.data()), physical, &x));
    return x;
}

TEST(Conversion, Linear) {
    const Bytes cc = cc_params(CC_LINEAR, {10, 0.5});
    EXPECT_EQ(forward(cc, 4), 12.0);
    EXPECT_EQ(inverse(cc, 12), 4.0);
    const Bytes flat = cc_params(CC_LINEAR, {10, 0});
    EXPECT_EQ(inverse(flat, 12), 0.0);
    EXPECT_EQ(inverse(flat, -7), 0.0);
    // Parameters the block does not hold are 0: P2 missing makes the value P1.
    EXPECT_EQ(forward(cc_params(CC_LINEAR, {3}), 100), 3.0);

    Channel ch(0, 16, 0);
    ch.set_raw(4);
    EXPECT_EQ(ch.read(), 4.0); // without a conversion the physical value is the raw value
    Bytes linear = cc;
    EXPECT_EQ(ch.read(&linear), 12.0);
    ch.write(12, &cc);
    EXPECT_EQ(ch.raw(), 4.0);
    ch.write(33, &flat);
    EXPECT_EQ(ch.raw(), 0.0);
    ch.write(9);
    EXPECT_EQ(ch.raw(), 9.0);
}

TEST(Conversion, TableReading) {
    const Bytes interp = cc_table(CC_TABLE_INTERP, {{0, 0}, {10, 100}, {20, 150}});
    EXPECT_EQ(forward(interp, -5), 0.0);
    EXPECT_EQ(forward(interp, 5), 50.0);
    EXPECT_EQ(forward(interp, 15), 125.0);
    EXPECT_EQ(forward(interp, 10), 100.0);
    EXPECT_EQ(forward(interp, 25), 150.0);
    EXPECT_EQ(forward(interp, 0), 0.0);
    EXPECT_EQ(forward(interp, 20), 150.0);
    EXPECT_TRUE(std::isnan(forward(interp, NaN)));

    const Bytes nearest = cc_table(CC_TABLE, {{0, 0}, {10, 100}, {20, 150}});
    EXPECT_EQ(forward(nearest, 4), 0.0);
    EXPECT_EQ(forward(nearest, 6), 100.0);
    EXPECT_EQ(forward(nearest, 5), 0.0); // half-way takes the lower entry
    EXPECT_EQ(forward(nearest, 15), 100.0);
    EXPECT_EQ(forward(nearest, 16), 150.0);
    EXPECT_EQ(forward(nearest, -1), 0.0);
    EXPECT_EQ(forward(nearest, 99), 150.0);
    EXPECT_TRUE(std::isnan(forward(nearest, NaN)));
}

TEST(Conversion, TableBisectionOverManyRows) {
    // Raw 0, 2, 4, ... 198 and physical value 3 times raw: every row is found by bisection.
    Bytes area;
    for (int i = 0; i < 100; ++i) {
        const Bytes row = reals({2.0 * i, 6.0 * i});
        area.insert(area.end(), row.begin(), row.end());
    }
    const Bytes interp = cc_image(CC_TABLE_INTERP, 100, area);
    const Bytes nearest = cc_image(CC_TABLE, 100, area);
    for (int i = 0; i < 99; ++i) {
        EXPECT_EQ(forward(interp, 2.0 * i), 6.0 * i);
        EXPECT_EQ(forward(interp, 2.0 * i + 0.5), 6.0 * i + 1.5);
        EXPECT_EQ(forward(nearest, 2.0 * i + 1.25), 6.0 * i + 6.0);
        EXPECT_EQ(forward(nearest, 2.0 * i + 0.75), 6.0 * i);
        EXPECT_EQ(inverse(interp, 6.0 * i + 3.0), 2.0 * i + 1.0);
    }
}

TEST(Conversion, TableOddSizes) {
    EXPECT_EQ(forward(cc_table(CC_TABLE_INTERP, {}), 5), 0.0);
    EXPECT_EQ(inverse(cc_table(CC_TABLE_INTERP, {}), 5), 0.0);
    const Bytes single = cc_table(CC_TABLE, {{3, 7}});
    EXPECT_EQ(forward(single, -100), 7.0);
    EXPECT_EQ(forward(single, 100), 7.0);
    EXPECT_EQ(inverse(single, 7), 0.0); // no segment
    // A count beyond the block's rows uses only the rows the block holds.
    Bytes short_block = cc_table(CC_TABLE_INTERP, {{0, 0}, {10, 100}});
    mdf_set_u16(short_block.data(), CC_COUNT, 500);
    EXPECT_EQ(forward(short_block, 5), 50.0);
    EXPECT_EQ(forward(short_block, 50), 100.0);
    EXPECT_EQ(inverse(short_block, 150), 0.0);
}

TEST(Conversion, TableWriting) {
    const Bytes interp = cc_table(CC_TABLE_INTERP, {{0, 0}, {10, 100}, {20, 150}});
    EXPECT_EQ(inverse(interp, 50), 5.0);
    EXPECT_EQ(inverse(interp, 160), 0.0);
    EXPECT_EQ(inverse(interp, -1), 0.0);
    EXPECT_EQ(inverse(interp, 0), 0.0);
    EXPECT_EQ(inverse(interp, 125), 15.0);
    EXPECT_EQ(inverse(interp, 100), 10.0);
    EXPECT_EQ(inverse(interp, 150), 20.0); // the last entry gives its own raw value

    const Bytes nearest = cc_table(CC_TABLE, {{0, 0}, {10, 100}, {20, 150}});
    EXPECT_EQ(inverse(nearest, 50), 10.0); // half-way takes the upper entry
    EXPECT_EQ(inverse(nearest, 49), 0.0);
    EXPECT_EQ(inverse(nearest, 130), 20.0);
    EXPECT_EQ(inverse(nearest, 160), 0.0);

    // Falling physical values.
    const Bytes falling = cc_table(CC_TABLE_INTERP, {{0, 100}, {10, 50}, {20, 0}});
    EXPECT_EQ(inverse(falling, 75), 5.0);
    EXPECT_EQ(inverse(falling, 100), 0.0);
    EXPECT_EQ(inverse(falling, 50), 10.0);
    EXPECT_EQ(inverse(falling, 0), 20.0);
    EXPECT_EQ(inverse(falling, 101), 0.0);

    // A flat segment gives the raw value where it begins, not a 0/0.
    const Bytes flat = cc_table(CC_TABLE_INTERP, {{0, 0}, {10, 50}, {20, 50}, {30, 80}});
    EXPECT_EQ(inverse(flat, 50), 10.0);
    EXPECT_EQ(inverse(flat, 65), 25.0);
}

TEST(Conversion, Polynomial) {
    const Bytes cc = cc_params(CC_POLYNOMIAL, {0, 0, 0, -2, 1, 7});
    const double y = forward(cc, 3); // numerator 4, denominator 0
    EXPECT_TRUE(std::isinf(y));
    EXPECT_GT(y, 0);
    EXPECT_EQ(forward(cc_params(CC_POLYNOMIAL, {0, 0, 0, -2, 1, 0}), 3), y); // P6 takes no part
    // y = (P2 - P4 (x - P5)) / (P3 (x - P5) - P1) with P1..P5 = 1, 10, 2, 3, 4; raw 6: -4 / 3.
    const Bytes general = cc_params(CC_POLYNOMIAL, {1, 10, 2, 3, 4, 0});
    EXPECT_DOUBLE_EQ(forward(general, 6), 4.0 / 3.0);
    EXPECT_DOUBLE_EQ(inverse(general, 4.0 / 3.0), 6.0);
    // d = y P3 + P4 = 0: the raw value stays 0.
    EXPECT_EQ(inverse(cc_params(CC_POLYNOMIAL, {1, 10, 2, 3, 4}), -1.5), 0.0);
}

TEST(Conversion, ExponentialAndLogarithmic) {
    // Exponential, first case (P4 = 0): y = ln(((x - P7) P6 - P3) / P1) / P2.
    const Bytes exp_a = cc_params(CC_EXPONENTIAL, {2, 0.5, 1, 0, 0, 3, 4});
    EXPECT_DOUBLE_EQ(forward(exp_a, 5), std::log(1.0) / 0.5); // ((5-4)*3-1)/2 = 1
    EXPECT_DOUBLE_EQ(forward(exp_a, 7), std::log(4.0) / 0.5);
    EXPECT_NEAR(inverse(exp_a, std::log(4.0) / 0.5), 7.0, 1e-12);
    // Second case (P1 = 0): y = ln((P3 / (x - P7) - P6) / P4) / P5.
    const Bytes exp_b = cc_params(CC_EXPONENTIAL, {0, 0, 100, 1, 1, 0, 0});
    EXPECT_DOUBLE_EQ(forward(exp_b, 4), std::log(25.0));
    EXPECT_NEAR(inverse(exp_b, std::log(25.0)), 4.0, 1e-12);
    // Both P1 and P4 non-zero: 0.
    EXPECT_EQ(forward(cc_params(CC_EXPONENTIAL, {1, 1, 1, 1, 1, 1, 1}), 5), 0.0);

    // Logarithmic, first case: y = exp(((x - P7) P6 - P3) / P1) / P2.
    const Bytes log_a = cc_params(CC_LOGARITHMIC, {100, 1, 0, 0, 0, 1, 0});
    EXPECT_DOUBLE_EQ(forward(log_a, 50), std::exp(0.5));
    EXPECT_NEAR(inverse(log_a, std::exp(0.5)), 50.0, 1e-12);
    // Second case: y = exp((P3 / (x - P7) - P6) / P4) / P5.
    const Bytes log_b = cc_params(CC_LOGARITHMIC, {0, 0, 10, 1, 2, 0, 0});
    EXPECT_DOUBLE_EQ(forward(log_b, 5), std::exp(2.0) / 2);
    EXPECT_NEAR(inverse(log_b, std::exp(2.0) / 2), 5.0, 1e-12);
    EXPECT_EQ(forward(cc_params(CC_LOGARITHMIC, {1, 1, 1, 1, 1, 1, 1}), 5), 0.0);
    // A zero divisor in the inverse leaves the raw value 0.
    EXPECT_EQ(inverse(cc_params(CC_LOGARITHMIC, {100, 1, 0, 0, 0, 0, 0}), 3), 0.0);
}

TEST(Conversion, RationalFormulaAndOneToOne) {
    const Bytes identity = cc_params(CC_RATIONAL, {0, 1, 0, 0, 0, 1});
    EXPECT_EQ(forward(identity, 3.5), 3.5);
    EXPECT_EQ(forward(identity, -8), -8.0);
    // (x^2 + 2x + 3) / (x + 1) at x = 2: 11 / 3.
    EXPECT_DOUBLE_EQ(forward(cc_params(CC_RATIONAL, {1, 2, 3, 0, 1, 1}), 2), 11.0 / 3.0);

    const Bytes one = cc_image(CC_ONE_TO_ONE, 0, {});
    EXPECT_EQ(forward(one, -2.25), -2.25);
    EXPECT_EQ(inverse(one, -2.25), -2.25);

    EXPECT_EQ(forward(cc_text("2*X+1"), 3), 7.0);
    EXPECT_EQ(forward(cc_text("  -12,5"), 3), -12.5);
    EXPECT_EQ(forward(cc_text("1,5*x"), 4), 6.0);
    EXPECT_EQ(forward(cc_text(""), 4), 0.0);
    EXPECT_EQ(forward(cc_text("X/0"), 4), 0.0); // a failed formula reads 0
    EXPECT_EQ(forward(cc_text("ABC"), 4), 0.0);
}

TEST(Conversion, TypesWithoutRule) {
    double out = 0;
    // Reading through a type without a rule (and the text tables) gives the raw value; writing
    // has no rule.
    for (std::uint16_t type : {3, 4, 5, 11, 12, 100, 65534}) {
        out = 0;
        EXPECT_TRUE(mdf_convert(mdf_conversion_of(cc_params(type, {1, 2}).data()), 7.5, &out));
        EXPECT_EQ(out, 7.5) << type;
        EXPECT_FALSE(
            mdf_convert_inverse(mdf_conversion_of(cc_params(type, {1, 2}).data()), 1, &out));
    }
    EXPECT_FALSE(
        mdf_convert_inverse(mdf_conversion_of(cc_params(CC_RATIONAL, {}).data()), 1, &out));
    EXPECT_FALSE(mdf_convert_inverse(mdf_conversion_of(cc_text("X").data()), 1, &out));
}

TEST(ConversionDeathTest, TypesWithoutInverseEndTheProcessOnWrite) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Channel ch(0, 8, 0);
            Bytes cc = cc_params(CC_RATIONAL, {0, 1, 0, 0, 0, 1});
            ch.write(1, &cc);
        },
        testing::ExitedWithCode(1), "");
    EXPECT_EXIT(
        {
            Channel ch(0, 8, 0);
            Bytes cc = cc_text("X");
            ch.write(1, &cc);
        },
        testing::ExitedWithCode(1), "");
}

TEST(ConversionDeathTest, LayoutsWithoutCodingEndTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Channel ch(0, 16, 5);
            ch.read();
        },
        testing::ExitedWithCode(1), "");
    EXPECT_EXIT(
        {
            Channel ch(0, 16, 7);
            ch.set_raw(1);
        },
        testing::ExitedWithCode(1), "");
    EXPECT_EXIT(
        {
            Channel ch(0, 65, 0);
            mdfdec_bits(&ch.group, ch.cn.data());
        },
        testing::ExitedWithCode(1), "");
    // A field beyond the record.
    EXPECT_EXIT(
        {
            Channel ch(60, 8, 0, 8);
            ch.read();
        },
        testing::ExitedWithCode(1), "");
    EXPECT_EXIT(
        {
            Channel ch(0, 8, 0);
            ch.group.magic = 0;
            ch.read();
        },
        testing::ExitedWithCode(1), "");
}

TEST(Coding, ChannelFieldsInTheRecord) {
    Channel byte16(16, 8, 0);
    const std::uint8_t bytes[] = {0xF3, 0x01, 0x02, 0x03};
    std::memcpy(byte16.data() + 2, bytes, sizeof bytes);
    EXPECT_EQ(mdfdec_bits(&byte16.group, byte16.cn.data()), 243u);
    EXPECT_EQ(byte16.read(), 243.0);

    Channel nibble(12, 4, 0);
    nibble.data()[1] = 0xC5;
    EXPECT_EQ(nibble.read(), 12.0);

    Channel s12(4, 12, 1, 2); // a signed 12-bit value at bit 4 of a 2-byte record
    s12.data()[0] = 0x0A;
    mdfenc_bits(&s12.group, s12.cn.data(), 0xFFF);
    EXPECT_EQ(s12.data()[0], 0xFA);
    EXPECT_EQ(s12.data()[1], 0xFF);
    EXPECT_EQ(s12.read(), -1.0);
    s12.write(2047);
    EXPECT_EQ(s12.read(), 2047.0);
    s12.write(-2048);
    EXPECT_EQ(s12.read(), -2048.0);
    EXPECT_EQ(s12.data()[0] & 0x0F, 0x0A); // the low nibble is kept

    Channel s32(0, 32, 1);
    mdfenc_bits(&s32.group, s32.cn.data(), 0xFFFFFFFE);
    EXPECT_EQ(s32.read(), -2.0);

    Channel vax(0, 32, 4);
    const std::uint8_t one[] = {0x80, 0x40, 0x00, 0x00};
    std::memcpy(vax.data(), one, sizeof one);
    EXPECT_EQ(vax.read(), 1.0);

    Channel three(5, 3, 0);
    three.data()[0] = 0x1F;
    three.write(1.5);
    EXPECT_EQ(three.data()[0], 0x3F);
}

TEST(Coding, FormulaTextInTheBlockStaysAsRead) {
    Channel ch(0, 16, 1);
    ch.set_raw(3);
    Bytes cc = cc_text("2*x+1");
    EXPECT_EQ(ch.read(&cc), 7.0);
    EXPECT_STREQ(reinterpret_cast<const char *>(cc.data() + CC_PARAMS), "2*x+1");
    Bytes comma = cc_text("  -12,5");
    EXPECT_EQ(ch.read(&comma), -12.5);
    Bytes scaled = cc_text("1,5*x");
    EXPECT_EQ(ch.read(&scaled), 4.5);
    // A text that fills its block without a zero byte ends at the block's end.
    Bytes full = cc_image(CC_FORMULA, 0, Bytes{'x', '*', '2'});
    EXPECT_EQ(ch.read(&full), 6.0);
}

TEST(Coding, NaNThroughATableStaysNaN) {
    Channel ch(0, 32, 2);
    ch.set_raw(NaN);
    Bytes cc = cc_table(CC_TABLE_INTERP, {{0, 0}, {10, 100}, {20, 150}});
    EXPECT_TRUE(std::isnan(ch.read(&cc)));
    Bytes nearest = cc_table(CC_TABLE, {{0, 0}, {10, 100}, {20, 150}});
    EXPECT_TRUE(std::isnan(ch.read(&nearest)));
}

// Writes physical values through a channel and reads them back: the result may differ from
// the value written by no more than the precision of the data type.
TEST(Coding, RoundTripsThroughEveryDataTypeAndInvertibleConversion) {
    struct Layout {
        std::uint16_t first_bit, bits, type;
        double lo, hi; // raw values used
    };
    const Layout layouts[] = {
        {0, 16, 0, 1, 60000},  {4, 12, 0, 1, 4000},    {3, 20, 1, -500000, 500000},
        {8, 32, 1, -2e9, 2e9}, {16, 32, 2, -1e6, 1e6}, {8, 32, 4, -1e6, 1e6},
    };
    struct Conv {
        const char *name;
        Bytes cc;
        bool positive; // raw values above 0 only
    };
    const Conv convs[] = {
        {"linear", cc_params(CC_LINEAR, {-3, 0.25}), false},
        {"polynomial", cc_params(CC_POLYNOMIAL, {2, 5, 0, -1, 0.5}), false},
        {"exponential 1", cc_params(CC_EXPONENTIAL, {2, 0.5, -1, 0, 0, 3, -4}), true},
        {"exponential 2", cc_params(CC_EXPONENTIAL, {0, 0, 1e7, 1, 1, 0, 0}), true},
        {"logarithmic 1", cc_params(CC_LOGARITHMIC, {1e8, 1, 0, 0, 0, 1, 0}), true},
        {"logarithmic 2", cc_params(CC_LOGARITHMIC, {0, 0, 10, 1, 2, 0, 0}), true},
        {"one to one", cc_image(CC_ONE_TO_ONE, 0, {}), false},
    };
    for (const Layout &l : layouts) {
        for (const Conv &c : convs) {
            for (int step = 0; step <= 10; ++step) {
                const double lo = c.positive ? std::max(l.lo, 1.0) : l.lo;
                const double raw_wanted = std::trunc(lo + (l.hi - lo) * step / 10);
                Channel ch(l.first_bit, l.bits, l.type);
                ch.set_raw(raw_wanted);
                const double raw = ch.raw();
                Bytes cc = c.cc;
                const double y = ch.read(&cc);
                // One raw step (integers) or a relative 1e-7 (floats) around the raw value.
                const double ulp = l.type <= 1 ? 1.0 : std::fabs(raw) * 1e-7;
                const double y_near = forward(c.cc, raw + (raw > 0 ? -ulp : ulp));
                const double tolerance = std::fabs(y - y_near) + 1e-12 * std::fabs(y);

                std::fill(ch.buffer_bytes.begin(), ch.buffer_bytes.end(), 0);
                ch.write(y, &c.cc);
                const double back = ch.read(&cc);
                EXPECT_NEAR(back, y, tolerance)
                    << c.name << ", type " << l.type << ", bits " << l.bits << ", raw " << raw;
            }
        }
    }
}

TEST(Coding, RoundTripsThroughTables) {
    const Bytes interp = cc_table(CC_TABLE_INTERP, {{0, -10}, {100, 90}, {1000, 1000}});
    const Bytes nearest = cc_table(CC_TABLE, {{0, -10}, {100, 90}, {1000, 1000}});
    for (std::uint16_t type : {0, 1, 2, 4}) {
        Channel ch(0, 32, type);
        for (double raw : {0.0, 1.0, 50.0, 99.0, 100.0, 550.0, 999.0, 1000.0}) {
            Bytes cc = interp;
            ch.set_raw(raw);
            const double y = ch.read(&cc);
            ch.write(y, &interp);
            EXPECT_NEAR(ch.read(&cc), y, 1.1) << "type " << type << " raw " << raw;
        }
        for (double raw : {0.0, 100.0, 1000.0}) {
            Bytes cc = nearest;
            ch.set_raw(raw);
            const double y = ch.read(&cc);
            ch.write(y, &nearest);
            EXPECT_EQ(ch.raw(), raw) << "type " << type;
        }
    }
}

} // namespace

namespace {

TEST(Coding, ConversionBlocksMadeByTheLibrary) {
    ASSERT_EQ(mdflib_init("TEST"), 0);
    std::uint8_t *linear = mdfblk_new_conversion(CC_LINEAR, 2);
    mdf_set_real(linear, cc_param(1), 10);
    mdf_set_real(linear, cc_param(2), 0.5);
    std::uint8_t *table = mdfblk_new_conversion(CC_TABLE_INTERP, 3);
    const double rows[] = {0, 0, 10, 100, 20, 150};
    for (int i = 0; i < 6; ++i) mdf_set_real(table, CC_PARAMS + 8 * i, rows[i]);
    std::uint8_t *empty = mdfblk_new_conversion(CC_TABLE, 0);

    Channel ch(0, 16, 0);
    ch.set_raw(4);
    EXPECT_EQ(mdfdec_value(&ch.group, ch.cn.data(), linear), 12.0);
    EXPECT_EQ(mdfdec_value(&ch.group, ch.cn.data(), table), 40.0);
    EXPECT_EQ(mdfdec_value(&ch.group, ch.cn.data(), empty), 0.0);
    EXPECT_EQ(mdfenc_value(&ch.group, ch.cn.data(), table, 125), 0);
    EXPECT_EQ(ch.raw(), 15.0);
    EXPECT_EQ(mdfenc_value(&ch.group, ch.cn.data(), linear, 20), 0);
    EXPECT_EQ(ch.raw(), 20.0);
    EXPECT_EQ(mdflib_exit(), 0);
}

// The decoders a channel's plan picks for fields of whole bytes give what the general decoder
// gives, for every data type and byte order, at byte and bit positions, for random bytes.
TEST(Coding, PlannedDecodersAgreeWithTheGeneralDecoder) {
    std::uint64_t seed = 0x2545F4914F6CDD1Dull;
    auto next = [&seed] {
        return (seed = seed * 6364136223846793005ull + 1442695040888963407ull) >> 24;
    };
    const std::uint16_t types[] = {
        MDFCHN_UNSIGNED, MDFCHN_SIGNED, MDFCHN_FLOAT, MDFCHN_DOUBLE, 9, 10, 11, 12, 13, 14, 15, 16};
    for (bool file_big_endian : {false, true})
        for (std::uint16_t type : types)
            for (std::uint16_t bits : {8, 12, 16, 24, 32, 64})
                for (std::uint16_t first_bit : {0, 8, 13, 24}) {
                    Channel ch(first_bit, bits, type, 16);
                    ch.file.big_endian = file_big_endian;
                    const mdf_value_plan plan =
                        mdf_plan_of(ch.cn.data(), nullptr, file_big_endian, 0);
                    const mdf_layout l = mdf_layout_of(ch.cn.data(), file_big_endian);
                    ASSERT_EQ(plan.raw == nullptr, l.kind == MDF_KIND_NONE);
                    if (plan.raw == nullptr) continue;
                    for (int k = 0; k < 50; ++k) {
                        for (int i = 0; i < 16; ++i)
                            ch.data()[i] = static_cast<std::uint8_t>(next());
                        const double want = mdf_field_value(
                            mdf_get_field(ch.data(), first_bit, bits, l.big_endian), l);
                        const double got = mdf_plan_raw(plan, ch.data());
                        ASSERT_TRUE(std::memcmp(&want, &got, sizeof want) == 0 ||
                                    (std::isnan(want) && std::isnan(got)))
                            << "type " << type << " bits " << bits << " at " << first_bit << ": "
                            << got << " for " << want;
                    }
                }
}

} // namespace
