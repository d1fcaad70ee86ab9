// Value decoding: a channel's bits from the current record, its raw value by data type, and its
// physical value through the channel's conversion.

#include "mdfint.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <algorithm>
#include <limits>
#include <type_traits>

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

std::uint64_t mdf_get_field(const std::uint8_t *data, std::uint32_t first_bit, std::uint32_t bits,
                            bool big_endian) {
    if (bits == 0) return 0;
    const std::uint8_t *p = data + first_bit / 8;
    const unsigned offset = first_bit % 8;
    const unsigned nbytes = (offset + bits + 7) / 8; // only the bytes the field covers, up to 9
    // The covered bytes as one number, least significant first or last; a ninth byte holds the
    // bits above 64 that the shift by the offset brings down.
    std::uint64_t word = 0;
    std::uint64_t top = 0;
    const unsigned low = nbytes > 8 ? 8 : nbytes;
    if (big_endian) {
        const std::uint8_t *q = p + (nbytes - low);
        for (unsigned i = 0; i < low; ++i) word = (word << 8) | q[i];
        if (nbytes > 8) top = p[0];
    } else {
        for (unsigned i = low; i-- > 0;) word = (word << 8) | p[i];
        if (nbytes > 8) top = p[8];
    }
    std::uint64_t field = word >> offset;
    if (nbytes > 8) field |= top << (64 - offset); // offset is at least 1 here
    return bits >= 64 ? field : field & ((std::uint64_t{1} << bits) - 1);
}

std::uint32_t mdf_get_bits(const std::uint8_t *data, std::uint32_t first_bit, std::uint32_t bits) {
    return static_cast<std::uint32_t>(mdf_get_field(data, first_bit, bits, false));
}

mdf_layout mdf_layout_of(const std::uint8_t *cn, bool file_big_endian) {
    mdf_layout l{};
    l.first_bit = mdf_u16(cn, CN_FIRST_BIT);
    if (mdf_block_size(cn) >= CN_BYTE_OFFSET + 2) l.first_bit += 8u * mdf_u16(cn, CN_BYTE_OFFSET);
    l.bits = mdf_u16(cn, CN_BITS);
    l.data_type = mdf_u16(cn, CN_DATA_TYPE);
    l.big_endian = file_big_endian;
    const bool integer_bits = l.bits >= 1 && l.bits <= 64;
    const bool float_bits = l.bits == 32 || l.bits == 64;
    switch (l.data_type) {
    case MDFCHN_UNSIGNED_BE:
    case MDFCHN_SIGNED_BE:
    case MDFCHN_FLOAT_BE:
    case MDFCHN_DOUBLE_BE: l.big_endian = true; break;
    case MDFCHN_UNSIGNED_LE:
    case MDFCHN_SIGNED_LE:
    case MDFCHN_FLOAT_LE:
    case MDFCHN_DOUBLE_LE: l.big_endian = false; break;
    default: break;
    }
    switch (l.data_type) {
    case MDFCHN_UNSIGNED:
    case MDFCHN_UNSIGNED_BE:
    case MDFCHN_UNSIGNED_LE: l.kind = integer_bits ? MDF_KIND_UNSIGNED : MDF_KIND_NONE; break;
    case MDFCHN_SIGNED:
    case MDFCHN_SIGNED_BE:
    case MDFCHN_SIGNED_LE: l.kind = integer_bits ? MDF_KIND_SIGNED : MDF_KIND_NONE; break;
    case MDFCHN_FLOAT:
    case MDFCHN_DOUBLE:
    case MDFCHN_FLOAT_BE:
    case MDFCHN_DOUBLE_BE:
    case MDFCHN_FLOAT_LE:
    case MDFCHN_DOUBLE_LE: l.kind = float_bits ? MDF_KIND_IEEE : MDF_KIND_NONE; break;
    // VAX values are little-endian words by their nature, whatever the file's byte order.
    case MDFCHN_VAX_F: l.kind = l.bits == 32 ? MDF_KIND_VAX_F : MDF_KIND_NONE; break;
    case MDFCHN_VAX_G: l.kind = l.bits == 64 ? MDF_KIND_VAX_G : MDF_KIND_NONE; break;
    case MDFCHN_VAX_D: l.kind = l.bits == 64 ? MDF_KIND_VAX_D : MDF_KIND_NONE; break;
    default: l.kind = MDF_KIND_NONE; break;
    }
    if (l.kind >= MDF_KIND_VAX_F) l.big_endian = false;
    return l;
}

double mdf_field_value(std::uint64_t v, const mdf_layout &l) {
    switch (l.kind) {
    case MDF_KIND_UNSIGNED: return static_cast<double>(v);
    case MDF_KIND_SIGNED:
        if (l.bits < 64 && (v >> (l.bits - 1)) != 0) v |= ~std::uint64_t{0} << l.bits; // extend
        return static_cast<double>(static_cast<std::int64_t>(v));
    case MDF_KIND_IEEE:
        if (l.bits == 32)
            return static_cast<double>(std::bit_cast<float>(static_cast<std::uint32_t>(v)));
        return std::bit_cast<double>(v);
    case MDF_KIND_VAX_F:
        return static_cast<double>(
            std::bit_cast<float>(mdf_vaxf_to_ieee(static_cast<std::uint32_t>(v))));
    case MDF_KIND_VAX_G:
    case MDF_KIND_VAX_D: {
        std::uint8_t bytes[8];
        for (int i = 0; i < 8; ++i) bytes[i] = static_cast<std::uint8_t>(v >> (8 * i));
        if (l.kind == MDF_KIND_VAX_G)
            mdf_vaxg_to_ieee(bytes);
        else
            mdf_vaxd_to_ieee(bytes);
        return mdf_real(bytes, 0);
    }
    default: MDF_INTERNAL_ERROR();
    }
}

double mdf_bits_to_raw(std::uint32_t v, std::uint32_t bits, std::uint16_t data_type) {
    mdf_layout l{};
    l.bits = bits;
    l.data_type = data_type;
    switch (data_type) {
    case MDFCHN_UNSIGNED: l.kind = MDF_KIND_UNSIGNED; break;
    case MDFCHN_SIGNED:
        if (bits == 0) return 0.0;
        l.kind = MDF_KIND_SIGNED;
        if (bits > 32) l.bits = 32;
        break;
    case MDFCHN_FLOAT:
        l.kind = MDF_KIND_IEEE;
        l.bits = 32;
        break;
    default: l.kind = MDF_KIND_VAX_F; break;
    }
    return mdf_field_value(v, l);
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
    case CC_LINEAR: *y = p[0] + p[1] * x; return true;
    case CC_TABLE_INTERP:
    case CC_TABLE: *y = table_read(c.type == CC_TABLE_INTERP, c.table, c.count, x); return true;
    case CC_POLYNOMIAL: {
        // Version 3.00 on the raw value is offset by P6 as well as P5.
        const double d = c.p6_offset ? x - p[4] - p[5] : x - p[4];
        *y = (p[1] - p[3] * d) / (p[2] * d - p[0]);
        return true;
    }
    case CC_EXPONENTIAL:
    case CC_LOGARITHMIC: {
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
        *y = (c.type == CC_EXPONENTIAL ? std::log(arg) : std::exp(arg)) / divisor;
        return true;
    }
    case CC_RATIONAL:
        *y = (p[0] * x * x + p[1] * x + p[2]) / (p[3] * x * x + p[4] * x + p[5]);
        return true;
    case CC_FORMULA:
        if (c.text == nullptr) {
            *y = 0.0;
            return true;
        }
        mdffrm_eval(x, c.text, c.text_length, y); // a failed formula gives 0, without status
        return true;
    default: *y = x; return true; // one to one, the text tables and the types without a rule
    }
}

const mdf_cc_type *mdf_cc_type_of(std::uint16_t type) {
    static constexpr mdf_cc_type TYPES[] = {
        // type, rule, invertible, number, reals, fixed_reals
        {CC_LINEAR, true, true, true, true, 2},
        {CC_TABLE_INTERP, true, true, true, true, 0},
        {CC_TABLE, true, true, true, true, 0},
        {CC_POLYNOMIAL, true, true, true, true, 5},
        {CC_EXPONENTIAL, true, true, true, true, 7},
        {CC_LOGARITHMIC, true, true, true, true, 7},
        {CC_RATIONAL, true, false, true, true, 6},
        {CC_FORMULA, true, false, true, false, 0},
        {CC_VALUE_TEXT, false, false, true, false, 0},
        {CC_RANGE_TEXT, false, false, true, false, 0},
        {CC_DATE, false, false, false, false, 0},
        {CC_TIME, false, false, false, false, 0},
        {CC_ONE_TO_ONE, false, true, true, false, 0},
    };
    for (const mdf_cc_type &t : TYPES)
        if (t.type == type) return &t;
    return nullptr;
}

mdf_conversion mdf_conversion_of(const std::uint8_t *cc, std::uint16_t version) {
    mdf_conversion c{};
    c.p6_offset = version >= ID_VERSION_300;
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

std::uint8_t *mdf_field_record(const mdf_group_rec *group, const mdf_layout &l) {
    if (group == nullptr || group->magic != MDF_GROUP_MAGIC || group->buffer == nullptr ||
        group->buffer->record == nullptr || group->cg == nullptr || l.kind == MDF_KIND_NONE)
        MDF_INTERNAL_ERROR();
    // Channels whose bits reach beyond the record are refused when they are opened.
    if ((l.first_bit + l.bits + 7) / 8 > mdf_u16(group->cg, CG_RECORD_SIZE)) MDF_INTERNAL_ERROR();
    return mdf_record_data(group->buffer);
}

namespace {

// The raw value of a field of any layout: its bits, then their value by kind.
double raw_any(const std::uint8_t *record, const mdf_value_plan &p) {
    const mdf_layout &l = p.layout;
    return mdf_field_value(mdf_get_field(record, l.first_bit, l.bits, l.big_endian), l);
}

// The unsigned number of the N bytes at b, least or most significant first.
template <class U, bool BigEndian>
U load(const std::uint8_t *b) {
    U v;
    if constexpr (std::endian::native == (BigEndian ? std::endian::big : std::endian::little)) {
        std::memcpy(&v, b, sizeof v);
    } else {
        v = 0;
        for (std::size_t i = 0; i < sizeof v; ++i)
            v |= static_cast<U>(static_cast<U>(b[i]) << (8 * (BigEndian ? sizeof v - 1 - i : i)));
    }
    return v;
}

// A field that fills whole bytes as a value of type T (an integer of its width, float, double):
// the same value as raw_any gives, without its steps.
template <class T, bool BigEndian>
double raw_whole(const std::uint8_t *record, const mdf_value_plan &p) {
    using U = std::conditional_t<
        sizeof(T) == 1, std::uint8_t,
        std::conditional_t<sizeof(T) == 2, std::uint16_t,
                           std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>>>;
    return static_cast<double>(
        std::bit_cast<T>(load<U, BigEndian>(record + p.layout.first_bit / 8)));
}

template <bool BigEndian>
mdf_raw_fn whole_reader(const mdf_layout &l) {
    const bool is_signed = l.kind == MDF_KIND_SIGNED;
    switch (l.bits) {
    case 8:
        return is_signed ? raw_whole<std::int8_t, BigEndian> : raw_whole<std::uint8_t, BigEndian>;
    case 16:
        return is_signed ? raw_whole<std::int16_t, BigEndian> : raw_whole<std::uint16_t, BigEndian>;
    case 32:
        if (l.kind == MDF_KIND_IEEE) return raw_whole<float, BigEndian>;
        return is_signed ? raw_whole<std::int32_t, BigEndian> : raw_whole<std::uint32_t, BigEndian>;
    case 64:
        if (l.kind == MDF_KIND_IEEE) return raw_whole<double, BigEndian>;
        return is_signed ? raw_whole<std::int64_t, BigEndian> : raw_whole<std::uint64_t, BigEndian>;
    default: return raw_any;
    }
}

// The decoder of a layout: whole bytes of the integer and IEEE kinds directly, all else by
// raw_any; null for a layout without a number.
mdf_raw_fn raw_reader(const mdf_layout &l) {
    if (l.kind == MDF_KIND_NONE) return nullptr;
    const bool whole =
        l.first_bit % 8 == 0 &&
        (l.kind == MDF_KIND_UNSIGNED || l.kind == MDF_KIND_SIGNED || l.kind == MDF_KIND_IEEE);
    if (!whole) return raw_any;
    return l.big_endian ? whole_reader<true>(l) : whole_reader<false>(l);
}

double convert_none(const mdf_value_plan &, double raw) {
    return raw;
}
double convert_linear(const mdf_value_plan &p, double raw) {
    return p.conversion.p[0] + p.conversion.p[1] * raw;
}
double convert_any(const mdf_value_plan &p, double raw) {
    double physical = 0.0;
    mdf_convert(p.conversion, raw, &physical);
    return physical;
}

mdf_layout layout_in(const mdf_group_rec *group, const std::uint8_t *cn) {
    if (group == nullptr || group->magic != MDF_GROUP_MAGIC || group->file == nullptr ||
        cn == nullptr)
        MDF_INTERNAL_ERROR();
    return mdf_layout_of(cn, group->file->big_endian);
}

} // namespace

std::uint32_t mdfdec_bits(const mdf_group_rec *group, const std::uint8_t *cn) {
    const mdf_layout l = layout_in(group, cn);
    const std::uint8_t *data = mdf_field_record(group, l);
    return static_cast<std::uint32_t>(mdf_get_field(data, l.first_bit, l.bits, l.big_endian));
}

double mdfdec_raw(const mdf_group_rec *group, const std::uint8_t *cn) {
    layout_in(group, cn);
    const mdf_value_plan plan = mdf_plan_of(cn, nullptr, group->file->big_endian, 0);
    return mdf_plan_raw(plan, mdf_field_record(group, plan.layout));
}

double mdfdec_value(const mdf_group_rec *group, const std::uint8_t *cn, const std::uint8_t *cc) {
    layout_in(group, cn);
    const mdf_value_plan plan = mdf_plan_of(cn, cc, group->file->big_endian, group->file->version);
    return mdf_plan_value(plan, mdf_field_record(group, plan.layout));
}

mdf_value_plan mdf_plan_of(const std::uint8_t *cn, const std::uint8_t *cc, bool big_endian,
                           std::uint16_t version) {
    mdf_value_plan plan{};
    plan.layout = mdf_layout_of(cn, big_endian);
    plan.raw = raw_reader(plan.layout);
    plan.numeric = plan.raw == nullptr ? MDF_NOT_NUMERIC : 0;
    plan.convert = convert_none;
    if (cc == nullptr) return plan;
    plan.conversion = mdf_conversion_of(cc, version);
    plan.conversion.text = reinterpret_cast<const char *>(cc + CC_PARAMS);
    const mdf_cc_type *type = mdf_cc_type_of(plan.conversion.type);
    if (type == nullptr) return plan; // the raw value
    if (!type->number) plan.numeric = MDF_NOT_NUMERIC;
    if (type->rule) plan.convert = type->type == CC_LINEAR ? convert_linear : convert_any;
    return plan;
}
