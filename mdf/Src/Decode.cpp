// Value decoding: a channel's bits from the current record, its raw value by data type, and its
// physical value through the channel's conversion.

#include "mdfint.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <algorithm>
#include <limits>

namespace {

// Types 1 (interpolated) and 2 (nearest entry). Values outside the table are held at the end
// entries; the rows are searched by bisection and expected in ascending order of raw values.
double table_read(bool interpolate, const std::uint8_t *rows, std::uint32_t n, double x) {
    if (n == 0) return 0.0;
    if (std::isnan(x)) return x;
    if (x <= mdf_table_raw(rows, 0)) return mdf_table_phys(rows, 0);
    if (x >= mdf_table_raw(rows, n - 1)) return mdf_table_phys(rows, n - 1);
    std::uint32_t lo = 0;
    std::uint32_t hi = n - 1;
    while (hi - lo > 1) {
        const std::uint32_t mid = (lo + hi) / 2;
        const double r = mdf_table_raw(rows, mid);
        if (x < r)
            hi = mid;
        else if (x > r)
            lo = mid;
        else
            return mdf_table_phys(rows, mid);
    }
    const double rlo = mdf_table_raw(rows, lo), rhi = mdf_table_raw(rows, hi);
    const double vlo = mdf_table_phys(rows, lo), vhi = mdf_table_phys(rows, hi);
    if (interpolate) return vlo + (x - rlo) * (vhi - vlo) / (rhi - rlo);
    return rhi - x < x - rlo ? vhi : vlo; // half-way takes the lower entry
}

} // namespace

std::uint32_t mdf_get_bits(const std::uint8_t *data, std::uint32_t first_bit, std::uint32_t bits) {
    if (bits == 0) return 0;
    const std::uint8_t *p = data + first_bit / 8;
    const unsigned offset = first_bit % 8;
    const unsigned nbytes = (offset + bits + 7) / 8; // only the bytes the field covers
    std::uint64_t word = 0;
    for (unsigned i = nbytes; i-- > 0;) word = (word << 8) | p[i];
    return static_cast<std::uint32_t>((word >> offset) & mdf_field_mask(bits));
}

double mdf_bits_to_raw(std::uint32_t v, std::uint32_t bits, std::uint16_t data_type) {
    switch (data_type) {
    case 0: return static_cast<double>(v);
    case 1:
        if (bits == 0) return 0.0;
        if (bits >= 32) return static_cast<double>(static_cast<std::int32_t>(v));
        if (v > mdf_field_mask(bits - 1)) // above the signed limit: subtract the modulus
            return static_cast<double>(static_cast<std::int64_t>(v) -
                                       static_cast<std::int64_t>(mdf_field_mask(bits) + 1));
        return static_cast<double>(v);
    case 2: return static_cast<double>(std::bit_cast<float>(v));
    default: return static_cast<double>(std::bit_cast<float>(mdf_vaxf_to_ieee(v)));
    }
}

// VAX F_float, taken as the little-endian 32-bit word of its file bytes: sign in bit 15, exponent
// (excess 128) in bits 7 to 14, the fraction's high 7 bits in bits 0 to 6 and its low 16 bits in
// bits 16 to 31; the value is 0.1f x 2^(e-128) with a hidden leading bit.
std::uint32_t mdf_vaxf_to_ieee(std::uint32_t w) {
    const std::uint32_t e = (w >> 7) & 0xFF;
    if (e == 0) return 0; // zero, also the reserved operand
    if (e <= 2) {
        // Below the normal IEEE range: the nearest subnormal (ties to even through the
        // double-to-float conversion, which is exact up to that rounding).
        const std::uint32_t fraction = ((w & 0x7F) << 16) | (w >> 16);
        const double magnitude =
            std::ldexp(static_cast<double>(fraction | 0x800000), static_cast<int>(e) - 152);
        const std::uint32_t bits = std::bit_cast<std::uint32_t>(static_cast<float>(magnitude));
        return bits | ((w & 0x8000) << 16);
    }
    return ((w << 16) | (w >> 16)) - 0x01000000;
}

bool mdf_convert(const mdf_conversion &c, double x, double *y) {
    const double *p = c.p;
    switch (c.type) {
    case 0: *y = p[0] + p[1] * x; return true;
    case 1:
    case 2: *y = table_read(c.type == 1, c.table, c.count, x); return true;
    case 6: *y = (p[1] - p[3] * (x - p[4])) / (p[2] * (x - p[4]) - p[0]); return true;
    case 7:
    case 8: {
        double arg;
        double divisor;
        if (p[3] == 0.0) {
            arg = ((x - p[6]) * p[5] - p[2]) / p[0];
            divisor = p[1];
        } else if (p[0] == 0.0) {
            arg = (p[2] / (x - p[6]) - p[5]) / p[3];
            divisor = p[4];
        } else {
            *y = 0.0;
            return true;
        }
        *y = (c.type == 7 ? std::log(arg) : std::exp(arg)) / divisor;
        return true;
    }
    case 9: *y = (p[0] * x * x + p[1] * x + p[2]) / (p[3] * x * x + p[4] * x + p[5]); return true;
    case 10:
        if (c.text == nullptr) {
            *y = 0.0;
            return true;
        }
        mdffrm_eval(x, c.text, c.text_length, y); // a failed formula gives 0, without status
        return true;
    case 65535: *y = x; return true;
    default: return false;
    }
}

mdf_conversion mdf_conversion_of(const std::uint8_t *cc) {
    mdf_conversion c{};
    const std::uint16_t size = mdf_block_size(cc);
    if (size < CC_SIZE) MDF_INTERNAL_ERROR(); // the block reader refuses shorter CC blocks
    c.type = mdf_u16(cc, CC_TYPE);
    const std::uint32_t count = mdf_u16(cc, CC_COUNT);
    const std::uint32_t area = size - CC_SIZE;
    c.table = cc + CC_PARAMS;
    c.text_length = area;
    if (c.type == CC_TABLE_INTERP || c.type == CC_TABLE) {
        c.count = std::min<std::uint32_t>(count, area / MDF_TABLE_ROW);
    } else {
        c.count = count;
        const std::uint32_t present = std::min<std::uint32_t>({count, area / 8, 7});
        for (std::uint32_t i = 0; i < present; ++i) c.p[i] = mdf_real(cc, cc_param(i + 1));
    }
    return c;
}

std::uint8_t *mdf_field_record(const mdf_group_rec *group, const std::uint8_t *cn) {
    if (group == nullptr || group->magic != MDF_GROUP_MAGIC || group->buffer == nullptr ||
        group->buffer->record == nullptr || group->cg == nullptr || cn == nullptr)
        MDF_INTERNAL_ERROR();
    const std::uint32_t first_bit = mdf_u16(cn, CN_FIRST_BIT);
    const std::uint32_t bits = mdf_u16(cn, CN_BITS);
    if (bits > 32) MDF_INTERNAL_ERROR();
    // Channels whose bits reach beyond the record are refused when they are opened.
    if (bits > 0 && (first_bit + bits + 7) / 8 > mdf_u16(group->cg, CG_RECORD_SIZE))
        MDF_INTERNAL_ERROR();
    return mdf_record_data(group->buffer);
}

std::uint32_t mdfdec_bits(const mdf_group_rec *group, const std::uint8_t *cn) {
    const std::uint8_t *data = mdf_field_record(group, cn);
    return mdf_get_bits(data, mdf_u16(cn, CN_FIRST_BIT), mdf_u16(cn, CN_BITS));
}

bool mdf_codable_type(std::uint16_t type) {
    return type == 0 || type == 1 || type == 2 || type == 4;
}

double mdfdec_raw(const mdf_group_rec *group, const std::uint8_t *cn) {
    if (cn == nullptr || !mdf_codable_type(mdf_u16(cn, CN_DATA_TYPE))) MDF_INTERNAL_ERROR();
    return mdf_bits_to_raw(mdfdec_bits(group, cn), mdf_u16(cn, CN_BITS), mdf_u16(cn, CN_DATA_TYPE));
}

double mdfdec_value(const mdf_group_rec *group, const std::uint8_t *cn, std::uint8_t *cc) {
    const double raw = mdfdec_raw(group, cn);
    if (cc == nullptr) return raw;
    mdf_conversion c = mdf_conversion_of(cc);
    c.text = reinterpret_cast<char *>(cc + CC_PARAMS);
    double physical = 0.0;
    if (!mdf_convert(c, raw, &physical)) MDF_INTERNAL_ERROR();
    return physical;
}
