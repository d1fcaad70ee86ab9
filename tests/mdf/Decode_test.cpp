// Value decoding: bit fields at any position, integers, IEEE single and VAX F_float.

#include "mdfint.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

TEST(DecodeBits, ByteAlignedFields) {
    const unsigned char rec[] = {0x11, 0x22, 0xF3, 0x01, 0x02, 0x03, 0x44};
    EXPECT_EQ(mdf_get_bits(rec, 16, 8), 243u); // only the low 8 bits of the bytes count
    EXPECT_EQ(mdf_get_bits(rec, 16, 16), 0x01F3u);
    EXPECT_EQ(mdf_get_bits(rec, 16, 32), 0x030201F3u);
    EXPECT_EQ(mdf_get_bits(rec, 0, 1), 1u);
    EXPECT_EQ(mdf_get_bits(rec, 8, 24), 0x01F322u);
    EXPECT_EQ(mdf_get_bits(rec, 0, 0), 0u);
}

TEST(DecodeBits, FieldsInsideOneByte) {
    const unsigned char rec[] = {0x5A, 0xC7};
    EXPECT_EQ(mdf_get_bits(rec, 12, 4), 0xCu); // high nibble of byte 1
    EXPECT_EQ(mdf_get_bits(rec, 8, 4), 0x7u);
    EXPECT_EQ(mdf_get_bits(rec, 1, 3), 0x5u); // 0x5A = 0101 1010: bits 1 to 3 are 101
    EXPECT_EQ(mdf_get_bits(rec, 7, 1), 0u);
    EXPECT_EQ(mdf_get_bits(rec, 6, 1), 1u);
}

TEST(DecodeBits, FieldsThatCrossBytes) {
    const unsigned char rec[] = {0xAB, 0xCD, 0xEF, 0x12, 0x34};
    EXPECT_EQ(mdf_get_bits(rec, 4, 12), 0xCDAu); // 12 bits at bit 4
    EXPECT_EQ(mdf_get_bits(rec, 6, 4), 0x6u);    // bits 6..9: 10 from 0xAB, 01 from 0xCD
    EXPECT_EQ(mdf_get_bits(rec, 12, 16), 0x2EFCu);
    // 32 bits at bit 7 span five bytes: 0x3412EFCDAB >> 7.
    EXPECT_EQ(mdf_get_bits(rec, 7, 32), static_cast<std::uint32_t>(0x3412EFCDABull >> 7));
    EXPECT_EQ(mdf_get_bits(rec, 3, 29), static_cast<std::uint32_t>(0x12EFCDABull >> 3));
}

TEST(DecodeBits, ReadsOnlyTheBytesTheFieldCovers) {
    // Exact-size heap buffers: a read past the field's last byte is caught by the sanitizers.
    std::vector<unsigned char> two = {0xAB, 0xCD};
    EXPECT_EQ(mdf_get_bits(two.data(), 4, 12), 0xCDAu);
    std::vector<unsigned char> one = {0xF0};
    EXPECT_EQ(mdf_get_bits(one.data(), 0, 8), 0xF0u);
    EXPECT_EQ(mdf_get_bits(one.data(), 4, 4), 0xFu);
    std::vector<unsigned char> three = {0x01, 0x02, 0x03};
    EXPECT_EQ(mdf_get_bits(three.data(), 0, 24), 0x030201u);
    EXPECT_EQ(mdf_get_bits(three.data(), 8, 16), 0x0302u);
    EXPECT_EQ(mdf_get_bits(nullptr, 5, 0), 0u); // no bits: no byte at all
}

TEST(DecodeRaw, UnsignedAndSignedIntegers) {
    EXPECT_EQ(mdf_bits_to_raw(0xFFFFFFFFu, 32, 0), 4294967295.0);
    EXPECT_EQ(mdf_bits_to_raw(0xFFF, 12, 1), -1.0);
    EXPECT_EQ(mdf_bits_to_raw(0x7FF, 12, 1), 2047.0);
    EXPECT_EQ(mdf_bits_to_raw(0x800, 12, 1), -2048.0);
    EXPECT_EQ(mdf_bits_to_raw(0xFFFFFFFEu, 32, 1), -2.0);
    EXPECT_EQ(mdf_bits_to_raw(0x80000000u, 32, 1), -2147483648.0);
    EXPECT_EQ(mdf_bits_to_raw(0x7FFFFFFFu, 32, 1), 2147483647.0);
    EXPECT_EQ(mdf_bits_to_raw(0x40000000u, 31, 1), -1073741824.0);
    EXPECT_EQ(mdf_bits_to_raw(1, 1, 1), -1.0);
    EXPECT_EQ(mdf_bits_to_raw(0, 1, 1), 0.0);
    EXPECT_EQ(mdf_bits_to_raw(0, 0, 1), 0.0); // a signed field of 0 bits reads 0
    EXPECT_EQ(mdf_bits_to_raw(0, 0, 0), 0.0);
}

TEST(DecodeRaw, SignedFieldReadFromRecord) {
    // A signed 12-bit value at bit 4: bits 0xFFF, 0x7FF and 0x800.
    const unsigned char minus_one[] = {0xF5, 0xFF};
    const unsigned char max[] = {0xF5, 0x7F};
    const unsigned char min[] = {0x05, 0x80};
    EXPECT_EQ(mdf_bits_to_raw(mdf_get_bits(minus_one, 4, 12), 12, 1), -1.0);
    EXPECT_EQ(mdf_bits_to_raw(mdf_get_bits(max, 4, 12), 12, 1), 2047.0);
    EXPECT_EQ(mdf_bits_to_raw(mdf_get_bits(min, 4, 12), 12, 1), -2048.0);
}

TEST(DecodeRaw, IeeeSingle) {
    EXPECT_EQ(mdf_bits_to_raw(0x3FC00000u, 32, 2), 1.5);
    EXPECT_EQ(mdf_bits_to_raw(0xC1200000u, 32, 2), -10.0);
    EXPECT_EQ(mdf_bits_to_raw(0x00000001u, 32, 2), std::bit_cast<float>(1u));
}

std::uint32_t word_of(std::uint16_t first, std::uint16_t second) {
    // The two 16-bit words in file order, read as one little-endian 32-bit word.
    return static_cast<std::uint32_t>(first) | (static_cast<std::uint32_t>(second) << 16);
}

TEST(DecodeVax, NormalValues) {
    EXPECT_EQ(mdf_bits_to_raw(word_of(0x4080, 0x0000), 32, 4), 1.0);
    EXPECT_EQ(mdf_bits_to_raw(word_of(0xC080, 0x0000), 32, 4), -1.0);
    EXPECT_EQ(mdf_bits_to_raw(word_of(0x4000, 0x0000), 32, 4), 0.5);
    EXPECT_EQ(mdf_bits_to_raw(word_of(0x40C0, 0x0000), 32, 4), 1.5);
    EXPECT_EQ(mdf_bits_to_raw(word_of(0x4220, 0x0000), 32, 4), 10.0);
    // Fraction bits of the second word: 1 + 2^-23.
    EXPECT_EQ(mdf_bits_to_raw(word_of(0x4080, 0x0001), 32, 4), 1.0 + std::ldexp(1.0, -23));
    EXPECT_EQ(mdf_vaxf_to_ieee(word_of(0x0180, 0x0000)), 0x00800000u); // exponent 3: 2^-126
    const unsigned char bytes[] = {0x80, 0x40, 0x00, 0x00};            // 1.0 in file order
    EXPECT_EQ(mdf_bits_to_raw(mdf_get_bits(bytes, 0, 32), 32, 4), 1.0);
}

TEST(DecodeVax, ZeroExponentIsZero) {
    EXPECT_EQ(mdf_vaxf_to_ieee(0), 0u);
    EXPECT_EQ(mdf_vaxf_to_ieee(word_of(0x007F, 0xFFFF)), 0u);
    EXPECT_EQ(mdf_vaxf_to_ieee(word_of(0x8000, 0x0000)), 0u); // reserved operand
    EXPECT_EQ(mdf_vaxf_to_ieee(word_of(0x8055, 0x1234)), 0u);
}

TEST(DecodeVax, TinyExponentsGiveSubnormals) {
    // Exponent 2: (1 + f / 2^23) * 2^-127; exponent 1: half of that.
    EXPECT_EQ(mdf_vaxf_to_ieee(word_of(0x0100, 0x0000)), 0x00400000u);
    EXPECT_EQ(mdf_vaxf_to_ieee(word_of(0x0080, 0x0000)), 0x00200000u);
    EXPECT_EQ(mdf_vaxf_to_ieee(word_of(0x8100, 0x0000)), 0x80400000u);
    EXPECT_EQ(mdf_vaxf_to_ieee(word_of(0x0140, 0x0000)), 0x00600000u); // 1.5 * 2^-127
    // Rounding to nearest, ties to even: f = 1 and f = 3 at exponent 2 are exact halves.
    EXPECT_EQ(mdf_vaxf_to_ieee(word_of(0x0100, 0x0001)), 0x00400000u);
    EXPECT_EQ(mdf_vaxf_to_ieee(word_of(0x0100, 0x0003)), 0x00400002u);
    // The largest fraction at exponent 2 rounds up to the smallest normal number.
    EXPECT_EQ(mdf_vaxf_to_ieee(word_of(0x017F, 0xFFFF)), 0x00800000u);
    EXPECT_EQ(mdf_vaxf_to_ieee(word_of(0x00FF, 0xFFFF)), 0x00400000u);
    EXPECT_NE(mdf_vaxf_to_ieee(word_of(0x0080, 0x0000)), 0x7F800000u);
    EXPECT_EQ(mdf_bits_to_raw(word_of(0x0100, 0x0000), 32, 4), std::ldexp(1.0, -127));
}

} // namespace
