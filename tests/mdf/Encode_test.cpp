// Value encoding: bit fields at any position, integers, IEEE single and VAX F_float.

#include "mdfint.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(EncodeBits, FieldsInsideOneByteKeepTheOtherBits) {
    Bytes rec = {0xFF, 0x00};
    mdf_put_bits(rec.data(), 5, 3, mdf_raw_to_bits(1.5, 3, 0)); // 1 into bits 5 to 7
    EXPECT_EQ(rec, (Bytes{0x3F, 0x00}));
    mdf_put_bits(rec.data(), 12, 4, 0xA);
    EXPECT_EQ(rec, (Bytes{0x3F, 0xA0}));
    mdf_put_bits(rec.data(), 0, 1, 0);
    EXPECT_EQ(rec, (Bytes{0x3E, 0xA0}));
    mdf_put_bits(rec.data(), 8, 4, 0x1F); // only the low 4 bits of the value
    EXPECT_EQ(rec, (Bytes{0x3E, 0xAF}));
}

TEST(EncodeBits, ByteAlignedFields) {
    Bytes rec(6, 0x55);
    mdf_put_bits(rec.data(), 8, 16, mdf_raw_to_bits(-1.0, 16, 1));
    EXPECT_EQ(rec, (Bytes{0x55, 0xFF, 0xFF, 0x55, 0x55, 0x55}));
    mdf_put_bits(rec.data(), 16, 32, 0x04030201);
    EXPECT_EQ(rec, (Bytes{0x55, 0xFF, 0x01, 0x02, 0x03, 0x04}));
    mdf_put_bits(rec.data(), 0, 24, 0xAABBCCDD); // bits above the field are dropped
    EXPECT_EQ(rec, (Bytes{0xDD, 0xCC, 0xBB, 0x02, 0x03, 0x04}));
    mdf_put_bits(rec.data(), 0, 0, 0xFFFFFFFF); // no bits: nothing changes
    EXPECT_EQ(rec, (Bytes{0xDD, 0xCC, 0xBB, 0x02, 0x03, 0x04}));
}

TEST(EncodeBits, FieldsThatCrossBytes) {
    Bytes rec = {0x0F, 0xF0, 0x77};
    mdf_put_bits(rec.data(), 4, 12, 0xABC); // 12 bits at bit 4
    EXPECT_EQ(rec, (Bytes{0xCF, 0xAB, 0x77}));
    EXPECT_EQ(mdf_get_bits(rec.data(), 4, 12), 0xABCu);

    Bytes wide(6, 0x00);
    mdf_put_bits(wide.data(), 3, 32, 0xFFFFFFFF); // 32 bits at bit 3: five bytes
    EXPECT_EQ(wide, (Bytes{0xF8, 0xFF, 0xFF, 0xFF, 0x07, 0x00}));
    Bytes ones(6, 0xFF);
    mdf_put_bits(ones.data(), 3, 32, 0);
    EXPECT_EQ(ones, (Bytes{0x07, 0x00, 0x00, 0x00, 0xF8, 0xFF}));

    Bytes mid = {0x00, 0x00, 0x00};
    mdf_put_bits(mid.data(), 6, 10, 0x3FF);
    EXPECT_EQ(mid, (Bytes{0xC0, 0xFF, 0x00}));
}

TEST(EncodeBits, WritesOnlyTheBytesTheFieldCovers) {
    // Exact-size heap buffers: a write or read past the field is caught by the sanitizers.
    Bytes two = {0x00, 0x00};
    mdf_put_bits(two.data(), 4, 12, 0xFFF);
    EXPECT_EQ(two, (Bytes{0xF0, 0xFF}));
    Bytes one = {0x00};
    mdf_put_bits(one.data(), 0, 8, 0x1234);
    EXPECT_EQ(one, (Bytes{0x34}));
    Bytes three = {0, 0, 0};
    mdf_put_bits(three.data(), 0, 24, 0x123456);
    EXPECT_EQ(three, (Bytes{0x56, 0x34, 0x12}));
    mdf_put_bits(nullptr, 9, 0, 1); // no bits: no byte at all
}

TEST(EncodeRaw, Integers) {
    EXPECT_EQ(mdf_raw_to_bits(1.5, 3, 0), 1u);
    EXPECT_EQ(mdf_raw_to_bits(4294967295.0, 32, 0), 0xFFFFFFFFu);
    EXPECT_EQ(mdf_raw_to_bits(4294967296.0 + 7, 32, 0), 7u); // low 32 bits
    EXPECT_EQ(mdf_raw_to_bits(std::ldexp(1.0, 40) + 5, 32, 0), 5u);
    EXPECT_EQ(mdf_raw_to_bits(1e300, 32, 0), 0u); // a multiple of 2^32
    EXPECT_EQ(mdf_raw_to_bits(-1.0, 32, 0), 0xFFFFFFFFu);
    EXPECT_EQ(mdf_raw_to_bits(-1.0, 16, 1), 0xFFFFu);
    EXPECT_EQ(mdf_raw_to_bits(-2.0, 32, 1), 0xFFFFFFFEu);
    EXPECT_EQ(mdf_raw_to_bits(-2048.0, 12, 1), 0x800u);
    EXPECT_EQ(mdf_raw_to_bits(2047.9, 12, 1), 0x7FFu);
    EXPECT_EQ(mdf_raw_to_bits(-2147483648.0, 32, 1), 0x80000000u);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(mdf_raw_to_bits(nan, 32, 0), 0u);
    EXPECT_EQ(mdf_raw_to_bits(inf, 32, 0), 0u);
    EXPECT_EQ(mdf_raw_to_bits(-inf, 16, 1), 0u);
}

TEST(EncodeRaw, IeeeSingle) {
    EXPECT_EQ(mdf_raw_to_bits(1.5, 32, 2), 0x3FC00000u);
    EXPECT_EQ(mdf_raw_to_bits(-10.0, 32, 2), 0xC1200000u);
    EXPECT_EQ(mdf_raw_to_bits(0.1, 32, 2), std::bit_cast<std::uint32_t>(0.1f));
    EXPECT_EQ(mdf_raw_to_bits(1e39, 32, 2), 0x7F800000u);
    EXPECT_EQ(mdf_raw_to_bits(-1e300, 32, 2), 0xFF800000u);
    const double largest = std::numeric_limits<float>::max();
    EXPECT_EQ(mdf_raw_to_bits(largest, 32, 2), 0x7F7FFFFFu);
    // Just below half an ulp above the largest float still rounds down to it.
    EXPECT_EQ(mdf_raw_to_bits(largest + std::ldexp(1.0, 102), 32, 2), 0x7F7FFFFFu);
    EXPECT_EQ(mdf_raw_to_bits(largest + std::ldexp(1.0, 103), 32, 2), 0x7F800000u);
}

TEST(EncodeVax, IeeeToVax) {
    EXPECT_EQ(mdf_raw_to_bits(1.0, 32, 4), 0x00004080u); // words 0x4080, 0x0000
    EXPECT_EQ(mdf_raw_to_bits(-1.0, 32, 4), 0x0000C080u);
    EXPECT_EQ(mdf_raw_to_bits(0.5, 32, 4), 0x00004000u);
    EXPECT_EQ(mdf_raw_to_bits(10.0, 32, 4), 0x00004220u);
    EXPECT_EQ(mdf_raw_to_bits(0.0, 32, 4), 0u);
    EXPECT_EQ(mdf_raw_to_bits(-0.0, 32, 4), 0u);
    EXPECT_EQ(mdf_ieee_to_vaxf(0x00000001u), 0x8000u);     // denormal: reserved operand
    EXPECT_EQ(mdf_ieee_to_vaxf(0x7F000000u), 0x8000u);     // exponent 254: too large
    EXPECT_EQ(mdf_ieee_to_vaxf(0x7F800000u), 0x8000u);     // infinity
    EXPECT_EQ(mdf_ieee_to_vaxf(0x7FC00000u), 0x8000u);     // not a number
    EXPECT_EQ(mdf_ieee_to_vaxf(0x7E800000u), 0x00007F80u); // exponent 253: the largest kept
    EXPECT_EQ(mdf_ieee_to_vaxf(0x00800000u), 0x00000180u); // smallest normal: exponent 3
}

TEST(EncodeRaw, RoundTripThroughEveryDataType) {
    struct Case {
        std::uint16_t type;
        std::uint32_t bits;
        double value;
    };
    const Case cases[] = {
        {0, 1, 1.0},           {0, 7, 100.0},     {0, 8, 255.0},         {0, 12, 4095.0},
        {0, 16, 65535.0},      {0, 24, 1e7},      {0, 32, 4294967295.0}, {0, 32, 0.0},
        {1, 1, -1.0},          {1, 5, -16.0},     {1, 5, 15.0},          {1, 12, -2048.0},
        {1, 12, 2047.0},       {1, 16, -32768.0}, {1, 17, -65536.0},     {1, 32, -2147483648.0},
        {1, 32, 2147483647.0}, {1, 32, -1.0},     {2, 32, 1.5},          {2, 32, -123456.75},
        {2, 32, 0.0},          {2, 32, 1e-40},    {4, 32, 1.0},          {4, 32, -3.25},
        {4, 32, 1e30},         {4, 32, 1e-30},    {4, 32, 0.0},          {4, 32, 12345.678},
    };
    for (const Case &c : cases) {
        for (std::uint32_t first_bit : {0u, 3u, 8u, 13u}) {
            Bytes rec(8, 0xA5);
            mdf_put_bits(rec.data(), first_bit, c.bits, mdf_raw_to_bits(c.value, c.bits, c.type));
            const double back =
                mdf_bits_to_raw(mdf_get_bits(rec.data(), first_bit, c.bits), c.bits, c.type);
            const double expected = c.type >= 2 ? static_cast<float>(c.value) : c.value;
            EXPECT_EQ(back, expected) << "type " << c.type << " bits " << c.bits << " at "
                                      << first_bit << " value " << c.value;
            // The bits around the field are untouched.
            Bytes probe = rec;
            mdf_put_bits(probe.data(), first_bit, c.bits, 0);
            for (std::uint32_t bit = 0; bit < 64; ++bit) {
                if (bit < first_bit || bit >= first_bit + c.bits) {
                    EXPECT_EQ(mdf_get_bits(probe.data(), bit, 1), (0xA5u >> (bit % 8)) & 1u);
                }
            }
        }
    }
}

} // namespace
