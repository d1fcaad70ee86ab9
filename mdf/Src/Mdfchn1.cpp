// Channels: one signal of an open group, opened by number, as the time channel, by channel type
// or by name; created in a group and copied from another channel; its description read and
// changed; its raw and physical values read from and written into the group's current record.
// Every value operation first runs the record access rules of the group module, which move the
// group to its next record when the channel was already read (or written) in the current one.
#include "mdfint.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Terminated copies of name and description fields that fill their whole width; shared by all
// channels, so the next description call overwrites them.
char name_spare[CN_NAME_LEN + 1];
char description_spare[CN_DESCRIPTION_LEN + 1];
char unit_spare[CC_UNIT_LEN + 1];
const char empty_text[] = "";

// The longest text a TX block holds (its size, length + 5, is a 16-bit quantity).
constexpr std::size_t MAX_TEXT = 0xFFFFu - 5;

const mdf_layout &layout(const mdf_channel_rec *c) {
    return c->plan.layout;
}

// Works out how the channel's values are read; again whenever its CC changes.
void make_plan(mdf_channel_rec *c) {
    c->plan = mdf_plan_of(c->cn, c->cc, c->group->file->big_endian, c->group->file->version);
}

// Refuses a channel whose value the group's record cannot hold. A channel whose value is no
// number opens all the same (its reads give MDF_NOT_NUMERIC).
void check_layout(const mdf_group_rec *g, const std::uint8_t *cn) {
    const mdf_layout l = mdf_layout_of(cn, g->file->big_endian);
    std::uint64_t record_bits = static_cast<std::uint64_t>(mdf_u16(g->cg, CG_RECORD_SIZE)) * 8;
    if (std::uint64_t{l.first_bit} + l.bits > record_bits) {
        char what[96];
        std::snprintf(what, sizeof what, "value at bit %u with %u bits beyond a record of %u bytes",
                      static_cast<unsigned>(l.first_bit), static_cast<unsigned>(l.bits),
                      static_cast<unsigned>(mdf_u16(g->cg, CG_RECORD_SIZE)));
        MDF_CORRUPT_IMAGE(cn, mdfblk_find_node(cn)->read_pos, what);
    }
}

// What reading a channel gives (see mdfchn_check_value).
std::int16_t value_check(const mdf_channel_rec *c) {
    const mdf_value_plan &plan = c->plan;
    if (plan.numeric != 0) return plan.numeric;
    if (c->cc == nullptr) return 0;
    if (mdf_cc_type_of(plan.conversion.type) == nullptr) return MDF_CONVERSION_UNKNOWN;
    double y = 0.0;
    if (plan.conversion.type == CC_FORMULA &&
        mdffrm_eval(1.0, plan.conversion.text, plan.conversion.text_length, &y) ==
            MDF_FORMULA_SYNTAX)
        return MDF_FORMULA_INVALID;
    return 0;
}

// A value read of a channel that is no number: quiet, and the group stays where it is.
void require_number(const mdf_channel_rec *c) {
    if (c->plan.numeric != 0) mdflib_raise(c->plan.numeric);
}

// A value write into a layout that MDFLIB does not write: -1008.
void require_writable(const mdf_channel_rec *c) {
    if (!mdf_layout_writable(layout(c))) mdflib_fail(MDF_ERR_VALUE_TYPE);
}

// Makes the channel record of cn in group g and puts it at the end of the channel list.
mdf_channel_rec *new_channel(mdf_group_rec *g, std::uint8_t *cn, std::uint8_t *cc,
                             std::uint16_t access) {
    auto *c = mdflib_new_or_fail<mdf_channel_rec>();
    c->magic = MDF_CHANNEL_MAGIC;
    c->group = g;
    c->cn = cn;
    c->cc = cc;
    c->access = access;
    c->writes = 0;
    make_plan(c);
    mdflst_channel_insert(c);
    mdfgrp_attach_channel(c);
    return c;
}

// Opens the channel of cn after checking its layout.
mdf_channel_rec *open_channel(mdf_group_rec *g, std::uint8_t *cn) {
    check_layout(g, cn);
    return new_channel(g, cn, mdfblk_link(cn, CN_CONVERSION), 0);
}

// The first CN of the group for which pred holds, or null.
template <class P>
std::uint8_t *find_cn(mdf_group_rec *g, P &&pred) {
    for (std::uint8_t *cn = mdfblk_link(g->cg, CG_FIRST_CN); cn != nullptr;
         cn = mdfblk_link(cn, CN_NEXT_CN))
        if (pred(cn)) return cn;
    return nullptr;
}

// The short name field takes the name (cut to its width); a CN with a long-name field has the
// whole name in a new TX block, so that the name reads back as given.
void store_name(std::uint8_t *cn, const char *name) {
    mdflib_strncpy(reinterpret_cast<char *>(cn + CN_NAME), name, CN_NAME_LEN);
    if (mdf_block_size(cn) >= CN_LONG_NAME + 4) {
        std::size_t length = std::min(std::strlen(name), MAX_TEXT);
        mdfblk_set_link(cn + CN_LONG_NAME, 0, mdfblk_new_text(length, name));
    }
}

void set_info(mdf_channel_rec *c, const char *name, const char *description, const char *comment) {
    if (name != nullptr) {
        mdflib_require(name[0] != '\0', "empty name");
        store_name(c->cn, name);
    }
    if (description != nullptr)
        mdflib_strncpy(reinterpret_cast<char *>(c->cn + CN_DESCRIPTION), description,
                       CN_DESCRIPTION_LEN);
    if (comment != nullptr) {
        std::size_t length = std::strlen(comment);
        if (length == 0) {
            mdfblk_set_link(c->cn + CN_COMMENT, 0, nullptr);
        } else {
            if (length > MAX_TEXT) length = MAX_TEXT;
            std::uint8_t *tx = mdfblk_new_text(static_cast<std::uint16_t>(length), comment);
            mdfblk_set_link(c->cn + CN_COMMENT, 0, tx);
        }
    }
}

// Creates a channel in g (see mdfchn_create). An empty name is allowed only for the copy of a
// channel that has none.
mdf_channel_rec *create_channel(mdf_group_rec *g, std::uint16_t type, std::uint16_t bits,
                                std::uint16_t data_type, const char *name, bool allow_empty_name) {
    // An IEEE double is always 64 bits: its type is checked first.
    if (data_type == MDFCHN_DOUBLE) {
        bits = 64;
    } else {
        if (bits > 32) mdflib_fail(MDF_ERR_CHANNEL_BITS);
        if (data_type != MDFCHN_UNSIGNED && data_type != MDFCHN_SIGNED &&
            data_type != MDFCHN_FLOAT && data_type != MDFCHN_VAX_F)
            mdflib_fail(MDF_ERR_VALUE_TYPE);
    }
    mdflib_require(name != nullptr && (name[0] != '\0' || allow_empty_name), "name");
    if (data_type == MDFCHN_FLOAT || data_type == MDFCHN_VAX_F) bits = 32;

    // The first free bit behind every existing value; a value that would run from a partly used
    // byte into the next one starts on the next byte instead.
    std::uint32_t first = 0;
    std::uint8_t *last = nullptr;
    for (std::uint8_t *cn = mdfblk_link(g->cg, CG_FIRST_CN); cn != nullptr;
         cn = mdfblk_link(cn, CN_NEXT_CN)) {
        const mdf_layout l = mdf_layout_of(cn, false);
        std::uint32_t end = l.first_bit + l.bits;
        if (end > first) first = end;
        last = cn;
    }
    if (first % 8 != 0 && bits > 0 && first / 8 != (first + bits - 1) / 8)
        first = (first / 8 + 1) * 8;
    // The first bit is a 16-bit field.
    if (first > 0xFFFF) mdflib_fail(MDF_ERR_CHANNEL_BITS);

    std::uint8_t *cn = mdfblk_new(MDFBLK_CN);
    mdf_set_u16(cn, CN_TYPE, type);
    mdf_set_u16(cn, CN_FIRST_BIT, static_cast<std::uint16_t>(first));
    mdf_set_u16(cn, CN_BITS, bits);
    mdf_set_u16(cn, CN_DATA_TYPE, data_type);
    mdf_set_u16(cn, CN_RANGE_VALID, 0);
    mdf_set_real(cn, CN_MIN, 0.0);
    mdf_set_real(cn, CN_MAX, 0.0);
    mdf_set_real(cn, CN_RATE, 0.0);
    store_name(cn, name);
    if (last != nullptr)
        mdfblk_set_link(last + CN_NEXT_CN, 0, cn);
    else
        mdfblk_set_link(g->cg + CG_FIRST_CN, 0, cn);

    // A created channel counts as read in the current record.
    mdf_channel_rec *c = new_channel(g, cn, nullptr, 1);
    std::int16_t status = mdflib_catch([&] {
        std::uint32_t bytes = (first + bits + 7) / 8;
        if (bytes > mdf_u16(g->cg, CG_RECORD_SIZE))
            mdf_set_u16(g->cg, CG_RECORD_SIZE, static_cast<std::uint16_t>(bytes));
        std::uint16_t count = mdf_u16(g->cg, CG_CN_COUNT);
        if (count < 0xFFFF) mdf_set_u16(g->cg, CG_CN_COUNT, static_cast<std::uint16_t>(count + 1));
        mdfgrp_new_buffer(g);
    });
    if (status != 0) {
        mdfgrp_detach_channel(c);
        mdflst_channel_remove(c);
        mdflst_channel_release(c);
        mdflib_raise(status);
    }
    return c;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Opening and closing
// ---------------------------------------------------------------------------------------------

std::int16_t mdfchn_open(mdf_channel_rec **channel, mdf_group_rec *group, std::uint16_t number) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        mdflib_require(channel != nullptr, "channel");
        *channel = nullptr;
        mdflib_gate(group);
        // Numbered along the group's CN chain, from 1.
        std::uint8_t *cn = mdfblk_index_cn(group->file, group->cg, number);
        if (cn == nullptr) mdflib_fail(MDF_NOTE_CHANNEL_NOT_FOUND);
        *channel = open_channel(group, cn);
    });
}

std::int16_t mdfchn_open_time(mdf_channel_rec **channel, mdf_group_rec *group) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        mdflib_require(channel != nullptr, "channel");
        *channel = nullptr;
        mdflib_gate(group);
        std::uint8_t *cn =
            find_cn(group, [](std::uint8_t *c) { return mdf_u16(c, CN_TYPE) == MDFCHN_TIME; });
        if (cn == nullptr) mdflib_fail(MDF_NOTE_NO_TIMECHANNEL);
        *channel = open_channel(group, cn);
    });
}

std::int16_t mdfchn_open_type(mdf_channel_rec **channel, mdf_group_rec *group, std::uint16_t type) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        mdflib_require(channel != nullptr, "channel");
        *channel = nullptr;
        mdflib_gate(group);
        std::uint8_t *cn =
            find_cn(group, [&](std::uint8_t *c) { return mdf_u16(c, CN_TYPE) == type; });
        if (cn == nullptr) mdflib_fail(MDF_NOTE_CHANNEL_NOT_FOUND);
        *channel = open_channel(group, cn);
    });
}

std::int16_t mdfchn_open_name(mdf_channel_rec **channel, mdf_group_rec *group, const char *name) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        mdflib_require(channel != nullptr, "channel");
        *channel = nullptr;
        mdflib_gate(group);
        mdflib_require(name != nullptr && name[0] != '\0', "name");
        // Exactly first, then case-insensitively; the time channel is never found by name.
        // A long name is compared whole, a short name in its 32 characters.
        auto named = [&](bool exact) {
            return [&, exact](std::uint8_t *cn) {
                if (mdf_u16(cn, CN_TYPE) == MDFCHN_TIME) return false;
                char spare[CN_NAME_LEN + 1];
                const char *text = mdf_cn_name(cn, spare);
                std::uint16_t width =
                    text == spare || text == reinterpret_cast<const char *>(cn + CN_NAME)
                        ? CN_NAME_LEN
                        : UINT16_MAX;
                return (exact ? mdflib_strncmp(text, name, width)
                              : mdflib_strnicmp(text, name, width)) == 0;
            };
        };
        std::uint8_t *cn = find_cn(group, named(true));
        if (cn == nullptr) cn = find_cn(group, named(false));
        if (cn == nullptr) mdflib_raise(MDF_NAME_NOT_FOUND);
        *channel = open_channel(group, cn);
    });
}

std::int16_t mdfchn_close(mdf_channel_rec *channel) {
    return mdflib_call(MDF_GUARD_NO_STICKY, [&] {
        if (channel == nullptr) return;
        mdflib_gate(channel);
        // A pending write finishes its record first. Status 1 here means the record was written
        // back and the group has no further record: the channel closes all the same.
        if (mdflib_state.sticky_error == 0) {
            std::int16_t status = mdflib_catch([&] { mdfgrp_prepare_write(channel); });
            if (status != 0 && status != MDF_END_OF_RECORDS) mdflib_raise(status);
        }
        mdfgrp_detach_channel(channel);
        mdflst_channel_remove(channel);
        mdflst_channel_release(channel);
    });
}

std::int16_t mdfchn_first(mdf_channel_rec **channel, mdf_group_rec *group) {
    if (std::int16_t status = mdflib_gate_unguarded(group); status != 0) return status;
    if (channel == nullptr) return mdflib_report_error(MDF_ERR_ARGUMENT, "(channel)");
    *channel = group->first_channel;
    return *channel != nullptr ? 0 : MDF_NO_MORE_CHANNELS;
}

std::int16_t mdfchn_next(mdf_channel_rec **channel) {
    if (mdflib_state.sticky_error != 0) return mdflib_state.sticky_error;
    if (channel == nullptr || *channel == nullptr) return MDF_NO_MORE_CHANNELS;
    if (std::int16_t status = mdflib_gate_unguarded(*channel); status != 0) return status;
    *channel = (*channel)->group_next;
    return *channel != nullptr ? 0 : MDF_NO_MORE_CHANNELS;
}

// ---------------------------------------------------------------------------------------------
// Creating channels
// ---------------------------------------------------------------------------------------------

std::int16_t mdfchn_create(mdf_channel_rec **channel, mdf_group_rec *group, std::uint16_t type,
                           std::uint16_t bits, std::uint16_t data_type, const char *name) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        mdflib_require(channel != nullptr, "channel");
        *channel = nullptr;
        mdflib_gate(group);
        *channel = create_channel(group, type, bits, data_type, name, false);
    });
}

std::int16_t mdfchn_copy(mdf_channel_rec **channel, mdf_group_rec *group, mdf_channel_rec *source) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        mdflib_require(channel != nullptr, "channel");
        *channel = nullptr;
        mdflib_gate(group);
        std::uint16_t type = 0, bits = 0, data_type = 0;
        const char *name = nullptr, *description = nullptr, *comment = nullptr;
        mdfchn_info(source, &type, &bits, &data_type, &name, &description, &comment);
        // Own copies: the texts may live in the shared spare buffers.
        std::string name_copy(name), description_copy(description), comment_copy(comment);

        mdf_channel_rec *c = create_channel(group, type, bits, data_type, name_copy.c_str(), true);
        set_info(c, nullptr, description_copy.c_str(), comment_copy.c_str());
        if (source->cc != nullptr) {
            std::uint8_t *cc = mdfblk_copy(source->cc);
            mdfblk_set_link(c->cn + CN_CONVERSION, 0, cc);
            c->cc = cc;
            make_plan(c);
        }
        if (std::uint8_t *ce = mdfblk_link(source->cn, CN_EXTENSION); ce != nullptr)
            mdfblk_set_link(c->cn + CN_EXTENSION, 0, mdfblk_copy(ce));
        *channel = c;
    });
}

// ---------------------------------------------------------------------------------------------
// Description
// ---------------------------------------------------------------------------------------------

std::int16_t mdfchn_info(mdf_channel_rec *channel, std::uint16_t *type, std::uint16_t *bits,
                         std::uint16_t *data_type, const char **name, const char **description,
                         const char **comment) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        mdflib_gate(channel);
        std::uint8_t *cn = channel->cn;
        if (type != nullptr) *type = mdf_u16(cn, CN_TYPE);
        if (bits != nullptr) *bits = mdf_u16(cn, CN_BITS);
        if (data_type != nullptr) *data_type = mdf_u16(cn, CN_DATA_TYPE);
        if (name != nullptr) *name = mdf_cn_name(channel->cn, name_spare);
        if (description != nullptr)
            *description =
                mdf_field_text(cn + CN_DESCRIPTION, CN_DESCRIPTION_LEN, description_spare);
        if (comment != nullptr) {
            const std::uint8_t *tx = mdfblk_link(channel->cn, CN_COMMENT);
            *comment = tx != nullptr ? reinterpret_cast<const char *>(tx + TX_TEXT) : empty_text;
        }
    });
}

std::int16_t mdfchn_type(mdf_channel_rec *channel, std::uint16_t *type) {
    return mdfchn_info(channel, type, nullptr, nullptr, nullptr, nullptr, nullptr);
}
std::int16_t mdfchn_bits(mdf_channel_rec *channel, std::uint16_t *bits) {
    return mdfchn_info(channel, nullptr, bits, nullptr, nullptr, nullptr, nullptr);
}
std::int16_t mdfchn_data_type(mdf_channel_rec *channel, std::uint16_t *data_type) {
    return mdfchn_info(channel, nullptr, nullptr, data_type, nullptr, nullptr, nullptr);
}
std::int16_t mdfchn_name(mdf_channel_rec *channel, const char **name) {
    return mdfchn_info(channel, nullptr, nullptr, nullptr, name, nullptr, nullptr);
}
std::int16_t mdfchn_description(mdf_channel_rec *channel, const char **description) {
    return mdfchn_info(channel, nullptr, nullptr, nullptr, nullptr, description, nullptr);
}
std::int16_t mdfchn_comment(mdf_channel_rec *channel, const char **comment) {
    return mdfchn_info(channel, nullptr, nullptr, nullptr, nullptr, nullptr, comment);
}

std::int16_t mdfchn_byte_order(mdf_channel_rec *channel, std::uint16_t *byte_order) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        mdflib_gate(channel);
        mdflib_require(byte_order != nullptr, "byte_order");
        *byte_order = layout(channel).big_endian ? 1 : 0;
    });
}

std::int16_t mdfchn_conversion(mdf_channel_rec *channel, std::uint16_t *conversion_type,
                               const char **unit) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        mdflib_gate(channel);
        const std::uint8_t *cc = channel->cc;
        if (conversion_type != nullptr)
            *conversion_type = cc != nullptr ? mdf_u16(cc, CC_TYPE) : CC_ONE_TO_ONE;
        if (unit != nullptr)
            *unit =
                cc != nullptr ? mdf_field_text(cc + CC_UNIT, CC_UNIT_LEN, unit_spare) : empty_text;
    });
}

std::int16_t mdfchn_check_value(mdf_channel_rec *channel) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        mdflib_gate(channel);
        if (std::int16_t verdict = value_check(channel); verdict != 0) mdflib_raise(verdict);
    });
}

std::int16_t mdfchn_set_info(mdf_channel_rec *channel, const char *name, const char *description,
                             const char *comment) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        mdflib_gate(channel);
        set_info(channel, name, description, comment);
    });
}

std::int16_t mdfchn_set_name(mdf_channel_rec *channel, const char *name) {
    return mdfchn_set_info(channel, name, nullptr, nullptr);
}
std::int16_t mdfchn_set_description(mdf_channel_rec *channel, const char *description) {
    return mdfchn_set_info(channel, nullptr, description, nullptr);
}
std::int16_t mdfchn_set_comment(mdf_channel_rec *channel, const char *comment) {
    return mdfchn_set_info(channel, nullptr, nullptr, comment);
}

// ---------------------------------------------------------------------------------------------
// Values
// ---------------------------------------------------------------------------------------------

std::int16_t mdfchn_read_raw(std::uint32_t *raw, mdf_channel_rec *channel) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        mdflib_gate(channel);
        mdflib_require(raw != nullptr, "raw");
        require_number(channel);
        mdfgrp_prepare_read(channel);
        *raw = mdfdec_bits(channel->group, channel->cn);
    });
}

std::int16_t mdfchn_read_raw_real(double *raw, mdf_channel_rec *channel) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        mdflib_gate(channel);
        mdflib_require(raw != nullptr, "raw");
        require_number(channel);
        mdfgrp_prepare_read(channel);
        *raw = mdf_plan_raw(channel->plan, mdf_record_data(channel->group->buffer));
    });
}

std::int16_t mdfchn_read_value(double *value, mdf_channel_rec *channel) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        mdflib_gate(channel);
        mdflib_require(value != nullptr, "value");
        require_number(channel);
        mdfgrp_prepare_read(channel);
        *value = mdf_plan_value(channel->plan, mdf_record_data(channel->group->buffer));
    });
}

std::int16_t mdfchn_write_raw(mdf_channel_rec *channel, std::uint32_t raw) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        mdflib_gate(channel);
        require_writable(channel);
        mdfgrp_prepare_write(channel);
        mdfenc_bits(channel->group, channel->cn, raw);
    });
}

std::int16_t mdfchn_write_raw_real(mdf_channel_rec *channel, double raw) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        mdflib_gate(channel);
        require_writable(channel);
        mdfgrp_prepare_write(channel);
        mdfenc_raw(channel->group, channel->cn, raw);
    });
}

std::int16_t mdfchn_write_value(mdf_channel_rec *channel, double value) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        mdflib_gate(channel);
        require_writable(channel);
        // A physical value goes through the inverse of the conversion; some types have none.
        const std::uint16_t type = channel->plan.conversion.type;
        const mdf_cc_type *known = mdf_cc_type_of(type);
        if (channel->cc != nullptr && (known == nullptr || !known->invertible)) {
            char detail[64];
            std::snprintf(detail, sizeof detail, "(conversion type %u has no inverse)",
                          static_cast<unsigned>(type));
            mdflib_fail(MDF_NOTE_FORMULA_TYPE, detail);
        }
        mdfgrp_prepare_write(channel);
        mdfenc_value(channel->group, channel->cn, channel->cc, value);
    });
}
