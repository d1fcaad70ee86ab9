// Value encoding: physical values back to raw values through the inverse conversion, raw values
// to bits by data type, and bits into the current record.

#include "mdfint.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

// The low 32 bits of x truncated toward zero; exact for every finite double. Not a number and
// infinities give 0.
std::uint32_t low_32_bits(double x) {
    if (!std::isfinite(x)) return 0;
    constexpr double MODULUS = 4294967296.0; // 2^32
    double r = std::fmod(std::trunc(x), MODULUS);
    if (r < 0) r += MODULUS;
    return static_cast<std::uint32_t>(r);
}

// The single-precision pattern of x, rounded to nearest; beyond the float range infinity.
std::uint32_t float_bits(double x) {
    constexpr double FLOAT_LIMIT = 340282356779733661637539395458142568448.0; // 2^128 - 2^103
    if (std::isfinite(x) && std::fabs(x) >= FLOAT_LIMIT)
        x = std::copysign(std::numeric_limits<double>::infinity(), x);
    return std::bit_cast<std::uint32_t>(static_cast<float>(x));
}

// Inverse of the tables: the first segment whose physical values enclose y gives the raw value.
double table_write(bool interpolate, const std::uint8_t *rows, std::uint32_t n, double y) {
    for (std::uint32_t i = 0; i + 1 < n; ++i) {
        const double vi = mdf_table_phys(rows, i), vn = mdf_table_phys(rows, i + 1);
        if (!((vi <= y && y < vn) || (vn <= y && y <= vi))) continue;
        const double ri = mdf_table_raw(rows, i), rn = mdf_table_raw(rows, i + 1);
        if (interpolate) return vn == vi ? ri : ri + (y - vi) * (rn - ri) / (vn - vi);
        return std::fabs(vn - y) <= std::fabs(vi - y) ? rn : ri; // half-way takes the upper
    }
    // The last entry of a rising table closes no segment of its own: it is its own raw value.
    if (n >= 2 && y == mdf_table_phys(rows, n - 1)) return mdf_table_raw(rows, n - 1);
    return 0.0;
}

// factor x term, where a zero factor gives 0 even for an infinite or undefined term. The inverse
// of the exponential and logarithmic types serves both of their cases with one expression, and
// the factor (P4 or P1) of the case not in use is 0 while the term is often ln(0) or an overflow.
double scaled(double factor, double term) {
    return factor == 0.0 ? 0.0 : factor * term;
}

} // namespace

void mdf_put_field(std::uint8_t *data, std::uint32_t first_bit, std::uint32_t bits,
                   std::uint64_t value) {
    if (bits == 0) return;
    std::uint8_t *p = data + first_bit / 8;
    const unsigned offset = first_bit % 8;
    const unsigned nbytes = (offset + bits + 7) / 8; // only the bytes the field covers, up to 9
    const std::uint64_t mask = bits >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bits) - 1;
    value &= mask;
    // Byte by byte: byte i holds bits 8i - offset to 8i - offset + 7 of the field.
    for (unsigned i = 0; i < nbytes; ++i) {
        const int shift = static_cast<int>(8 * i) - static_cast<int>(offset);
        const std::uint64_t part_mask = shift >= 0 ? mask >> shift : mask << -shift;
        const std::uint64_t part_value = shift >= 0 ? value >> shift : value << -shift;
        const auto m = static_cast<std::uint8_t>(part_mask);
        p[i] = static_cast<std::uint8_t>((p[i] & ~m) | (static_cast<std::uint8_t>(part_value) & m));
    }
}

void mdf_put_bits(std::uint8_t *data, std::uint32_t first_bit, std::uint32_t bits,
                  std::uint32_t value) {
    mdf_put_field(data, first_bit, bits, value);
}

std::uint64_t mdf_raw_to_bits(double x, std::uint32_t bits, std::uint16_t data_type) {
    switch (data_type) {
    case MDFCHN_UNSIGNED: return low_32_bits(x);
    case MDFCHN_SIGNED:
        if (x < 0 && bits < 32) x += static_cast<double>(mdf_field_mask(bits) + 1);
        return low_32_bits(x);
    case MDFCHN_FLOAT: return float_bits(x);
    case MDFCHN_DOUBLE: return std::bit_cast<std::uint64_t>(x);
    default: return mdf_ieee_to_vaxf(float_bits(x));
    }
}

bool mdf_layout_writable(const mdf_layout &l) {
    if (l.big_endian || l.kind == MDF_KIND_NONE) return false;
    switch (l.data_type) {
    case MDFCHN_UNSIGNED:
    case MDFCHN_SIGNED: return l.bits <= 32;
    case MDFCHN_FLOAT:
    case MDFCHN_VAX_F: return l.bits == 32;
    case MDFCHN_DOUBLE: return l.bits == 64;
    default: return false;
    }
}

// IEEE single to VAX F_float (see mdf_vaxf_to_ieee for the layout). Denormals, values too large
// for VAX F, infinities and not-a-number become the VAX reserved operand 0x8000.
std::uint32_t mdf_ieee_to_vaxf(std::uint32_t p) {
    const std::uint32_t e = (p >> 23) & 0xFF;
    if (e == 0) return (p & 0x7FFFFF) == 0 ? 0 : 0x8000;
    if (e >= 254) return 0x8000;
    return ((p << 16) | (p >> 16)) + 0x100;
}

bool mdf_convert_inverse(const mdf_conversion &c, double y, double *x) {
    const double *p = c.p;
    double raw = 0.0; // a zero divisor leaves the raw value 0
    switch (c.type) {
    case CC_LINEAR:
        if (p[1] != 0.0) raw = (y - p[0]) / p[1];
        break;
    case CC_TABLE_INTERP:
    case CC_TABLE: raw = table_write(c.type == CC_TABLE_INTERP, c.table, c.count, y); break;
    case CC_POLYNOMIAL: {
        const double d = y * p[2] + p[3];
        if (d != 0.0) raw = (y * p[0] + p[1]) / d + p[4] + (c.p6_offset ? p[5] : 0.0);
        break;
    }
    case CC_EXPONENTIAL: {
        const double a = scaled(p[3], std::exp(p[4] * y)) + p[5];
        if (a != 0.0) raw = (scaled(p[0], std::exp(p[1] * y)) + p[2]) / a + p[6];
        break;
    }
    case CC_LOGARITHMIC: {
        const double a = scaled(p[3], std::log(p[4] * y)) + p[5];
        if (a != 0.0) raw = (scaled(p[0], std::log(p[1] * y)) + p[2]) / a + p[6];
        break;
    }
    case CC_ONE_TO_ONE: raw = y; break;
    default: return false; // types 9 and 10 have no inverse; others no rule at all
    }
    *x = raw;
    return true;
}

namespace {

mdf_layout writable_layout(const mdf_group_rec *group, const std::uint8_t *cn) {
    if (group == nullptr || group->magic != MDF_GROUP_MAGIC || group->file == nullptr ||
        cn == nullptr)
        MDF_INTERNAL_ERROR();
    const mdf_layout l = mdf_layout_of(cn, group->file->big_endian);
    if (!mdf_layout_writable(l)) MDF_INTERNAL_ERROR(); // the channel operations refuse it first
    return l;
}

} // namespace

void mdfenc_bits(mdf_group_rec *group, const std::uint8_t *cn, std::uint32_t value) {
    const mdf_layout l = writable_layout(group, cn);
    mdf_put_field(mdf_field_record(group, l), l.first_bit, l.bits, value);
}

void mdfenc_raw(mdf_group_rec *group, const std::uint8_t *cn, double value) {
    const mdf_layout l = writable_layout(group, cn);
    std::uint8_t *data = mdf_field_record(group, l);
    mdf_put_field(data, l.first_bit, l.bits, mdf_raw_to_bits(value, l.bits, l.data_type));
}

std::int16_t mdfenc_value(mdf_group_rec *group, const std::uint8_t *cn, const std::uint8_t *cc,
                          double value) {
    mdf_field_record(group, writable_layout(group, cn));
    double raw = value;
    if (cc != nullptr &&
        !mdf_convert_inverse(mdf_conversion_of(cc, group->file->version), value, &raw))
        MDF_INTERNAL_ERROR();
    mdfenc_raw(group, cn, raw);
    return 0;
}
