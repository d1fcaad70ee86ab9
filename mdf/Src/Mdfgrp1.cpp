// Groups and records: a channel group of an MDF file opened through a group record, the buffer of
// its current record, record positioning in sorted and unsorted data groups, the write-back and
// append of records, the creation of new groups and the record access rules that the channel
// value operations run first.
//
// Records of a data group follow one another in its data area. With r record identifier bytes
// (0, 1 or 2) a record is: the identifier byte (r > 0), the record data (the CG's record size),
// the identifier byte again (r = 2). A data group with one channel group is sorted: record k lies
// at data position + k * (record size + r). A data group with several channel groups holds their
// records interleaved, told apart by the identifier byte only.
#include "mdfint.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Bytes behind the record data: the trailing identifier byte and room for 4-byte reads that start
// at the record's last byte.
constexpr uint32_t RECORD_SPARE = 4;
// The buffer length (identifier byte, record data, spare) is a 16-bit quantity.
constexpr uint32_t MAX_RECORD_SIZE = 0xFFFFu - 1 - RECORD_SPARE;
// Identifier bytes compare with the CG's 16-bit record identifier as a number.
constexpr unsigned IDENTIFIERS = 256;

// The record buffer as this module allocates it: the public part first (the group record points
// at it), then what the group needs on every record move, then the record bytes.
struct grp_buffer {
    mdf_record_buffer pub;
    uint16_t id_bytes;              // r: record identifier bytes of the DG (0, 1, 2)
    bool sorted;                    // the DG holds one channel group
    bool write_pending;             // a channel may have a write counter other than 0
    uint8_t *cg_of_id[IDENTIFIERS]; // the CG of each identifier byte (DGs with r > 0)
};

grp_buffer *ext(const mdf_group_rec *g) {
    return reinterpret_cast<grp_buffer *>(g->buffer);
}

uint16_t record_size(const mdf_group_rec *g) {
    return mdf_u16(g->cg, CG_RECORD_SIZE);
}
uint32_t record_count(const mdf_group_rec *g) {
    return mdf_u32(g->cg, CG_RECORDS);
}
uint32_t data_position(const mdf_group_rec *g) {
    return mdf_u32(g->dg, DG_DATA);
}
// Bytes one record of the group occupies in the data area.
uint32_t record_span(const mdf_group_rec *g) {
    return static_cast<uint32_t>(record_size(g)) + ext(g)->id_bytes;
}

void check_group_internal(const mdf_group_rec *g) {
    if (g == nullptr || g->magic != MDF_GROUP_MAGIC || g->buffer == nullptr) MDF_INTERNAL_ERROR();
}

// A damaged data area or a layout the group cannot hold.
[[noreturn]] void fail_format() {
    mdflib_fail(MDF_ERR_FORMAT);
}

// The CGs of a DG along its chain.
std::vector<uint8_t *> cg_chain(uint8_t *dg) {
    std::vector<uint8_t *> cgs;
    for (uint8_t *cg = mdfblk_link(dg, DG_FIRST_CG); cg != nullptr;
         cg = mdfblk_link(cg, CG_NEXT_CG))
        cgs.push_back(cg);
    return cgs;
}

// Fills the identifier table of a DG: the first CG along the chain for each identifier.
void fill_identifiers(grp_buffer *b, uint8_t *dg) {
    for (uint8_t *&slot : b->cg_of_id) slot = nullptr;
    for (uint8_t *cg : cg_chain(dg)) {
        uint16_t id = mdf_u16(cg, CG_RECORD_ID);
        if (id < IDENTIFIERS && b->cg_of_id[id] == nullptr) b->cg_of_id[id] = cg;
    }
}

// Allocates a buffer for the group's record size. With an old buffer, its index, position and
// group data are carried over and the old buffer is released; otherwise they are set up from the
// DG (index 0, position at the data area).
void alloc_buffer(mdf_group_rec *g) {
    uint32_t size = record_size(g);
    if (size > MAX_RECORD_SIZE) fail_format();
    uint32_t length = 1 + size + RECORD_SPARE;
    auto *b = static_cast<grp_buffer *>(mdflib_alloc(sizeof(grp_buffer) + length));
    if (b == nullptr) mdflib_fail(MDF_ERR_MEMORY);
    b->pub.length = static_cast<uint16_t>(length);
    b->pub.record = reinterpret_cast<uint8_t *>(b) + sizeof(grp_buffer);
    grp_buffer *old = ext(g);
    if (old != nullptr) {
        b->pub.position = old->pub.position;
        b->pub.index = old->pub.index;
        b->id_bytes = old->id_bytes;
        b->sorted = old->sorted;
        b->write_pending = old->write_pending;
        std::memcpy(b->cg_of_id, old->cg_of_id, sizeof b->cg_of_id);
        mdflib_free(old);
    } else {
        b->pub.position = data_position(g);
        b->pub.index = 0;
        b->id_bytes = mdf_u16(g->dg, DG_ID_BYTES);
        b->sorted = mdfblk_cg_count(g->dg) == 1;
        b->write_pending = false;
        fill_identifiers(b, g->dg);
    }
    g->buffer = &b->pub;
}

void free_buffer(mdf_group_rec *g) {
    mdflib_free(ext(g));
    g->buffer = nullptr;
}

// Runs an I/O step of record loading; any failure of it is a damaged data area.
template <class F>
void load_io(F &&step) {
    if (mdflib_catch(step) != 0) fail_format();
}

// Moves the group onto record t: 0 on success, MDF_END_OF_RECORDS (nothing changed) when t lies
// outside the records. Errors are thrown.
int16_t seek_record(mdf_group_rec *g, int32_t p, uint16_t mode) {
    mdf_record_buffer *b = g->buffer;
    int64_t t = p;
    if (mode == MDFGRP_SEEK_CUR) {
        if (p < 0 && -static_cast<int64_t>(p) > static_cast<int64_t>(b->index))
            return MDF_END_OF_RECORDS;
        t = static_cast<int64_t>(b->index) + p;
    }
    // Taken as unsigned: a negative absolute position is far beyond the records.
    if (static_cast<uint32_t>(t) >= record_count(g) || t > UINT32_MAX) return MDF_END_OF_RECORDS;
    uint32_t target = static_cast<uint32_t>(t);

    if (target == 0) {
        b->index = 0;
        b->position = data_position(g);
        mdfgrp_load_record(g, false);
    } else if (ext(g)->sorted) {
        if (target != b->index) {
            uint64_t pos = data_position(g) + static_cast<uint64_t>(target) * record_span(g);
            if (pos > UINT32_MAX) fail_format();
            b->index = target;
            b->position = static_cast<uint32_t>(pos);
            mdfgrp_load_record(g, false);
        }
    } else {
        if (target < b->index) {
            // Rescan from the start of the data area onto record 0.
            b->index = 0;
            b->position = data_position(g);
            mdfgrp_load_record(g, true);
        }
        while (b->index != target) {
            uint64_t pos = static_cast<uint64_t>(b->position) + record_span(g);
            if (pos > UINT32_MAX) fail_format();
            ++b->index;
            b->position = static_cast<uint32_t>(pos);
            mdfgrp_load_record(g, true);
        }
        mdfgrp_load_record(g, false);
    }
    mdfgrp_reset_channels(g, 0, 0);
    return 0;
}

// Writes the identifier byte(s) and the record data of the buffer at the buffer's position.
void write_current(mdf_group_rec *g) {
    mdf_record_buffer *b = g->buffer;
    uint16_t r = ext(g)->id_bytes;
    uint16_t size = record_size(g);
    uint8_t id = static_cast<uint8_t>(mdf_u16(g->cg, CG_RECORD_ID));
    uint8_t *data = mdf_record_data(b);
    const uint8_t *from = data;
    uint32_t length = size;
    if (r > 0) {
        b->record[0] = id;
        from = b->record;
        length += r;
        if (r == 2) data[size] = id;
    }
    int16_t io = g->file->io;
    if (mdflib_catch([&] { mdfio_seek(io, b->position, MDFIO_SEEK_SET); }) != 0)
        mdflib_fail(MDF_ERR_WRITE);
    // A record of no bytes writes nothing (the I/O layer takes a zero length as a failure);
    // a failing write has been reported by the I/O layer.
    if (length > 0) mdfio_write(from, static_cast<uint16_t>(length), io);
}

// Writes the current record back at its position; status 1 when the buffer holds no record of
// the file (a group without records, or the record being built in a created group).
int16_t write_record(mdf_group_rec *g) {
    if (g->mode == MDFGRP_READ) mdflib_fail(MDF_ERR_OPEN_MODE);
    if (g->buffer->index >= record_count(g)) return MDF_END_OF_RECORDS;
    write_current(g);
    mdfgrp_reset_channels(g, -1, 0);
    return 0;
}

void append_record(mdf_group_rec *g) {
    if (g->mode != MDFGRP_CREATE) mdflib_fail(MDF_ERR_OPEN_MODE);
    int16_t io = g->file->io;
    if (mdflib_catch([&] { mdfio_seek(io, 0, MDFIO_SEEK_END); }) != 0) MDF_INTERNAL_ERROR();
    uint64_t end = mdfio_tell64(io);
    if (end > UINT32_MAX) mdflib_fail(MDF_ERR_WRITE);
    mdf_record_buffer *b = g->buffer;
    b->position = static_cast<uint32_t>(end);
    b->index = record_count(g);
    mdf_set_u32(g->cg, CG_RECORDS, b->index + 1);
    write_current(g);
    mdfgrp_reset_channels(g, -1, 0);
}

// Finds the group numbered n (from 1) along the DG chain and the CG chains inside each DG.
bool find_group(mdf_file_rec *f, uint16_t n, uint8_t **dg_out, uint8_t **cg_out) {
    uint32_t number = 0;
    for (uint8_t *dg = mdfblk_link(f->hd, HD_FIRST_DG); dg != nullptr;
         dg = mdfblk_link(dg, DG_NEXT_DG)) {
        for (uint8_t *cg = mdfblk_link(dg, DG_FIRST_CG); cg != nullptr;
             cg = mdfblk_link(cg, CG_NEXT_CG)) {
            if (++number == n) {
                *dg_out = dg;
                *cg_out = cg;
                return true;
            }
        }
    }
    return false;
}

// Refuses a data group whose records the group could not read safely: identifier bytes other
// than 0, 1, 2; several CGs without identifier bytes or with the same record identifier; no data
// area although the group has records; a record that does not fit the buffer.
void check_layout(uint8_t *dg, uint8_t *cg) {
    uint16_t r = mdf_u16(dg, DG_ID_BYTES);
    if (r > 2) fail_format();
    std::vector<uint8_t *> cgs = cg_chain(dg);
    if (cgs.size() > 1) {
        if (r == 0) fail_format();
        std::vector<uint16_t> ids;
        for (uint8_t *c : cgs) ids.push_back(mdf_u16(c, CG_RECORD_ID));
        std::sort(ids.begin(), ids.end());
        if (std::adjacent_find(ids.begin(), ids.end()) != ids.end()) fail_format();
    }
    if (mdf_u32(dg, DG_DATA) == 0 && mdf_u32(cg, CG_RECORDS) != 0) fail_format();
    if (mdf_u16(cg, CG_RECORD_SIZE) > MAX_RECORD_SIZE) fail_format();
}

uint16_t count_channels(uint8_t *cg) {
    uint32_t count = 0;
    for (uint8_t *cn = mdfblk_link(cg, CG_FIRST_CN); cn != nullptr;
         cn = mdfblk_link(cn, CN_NEXT_CN))
        ++count;
    return static_cast<uint16_t>(count > 0xFFFF ? 0xFFFF : count);
}

// A new data group with one channel group, first in the file's DG chain; its records go to the
// end of the file.
void create_group(mdf_file_rec *f, uint8_t **dg_out, uint8_t **cg_out) {
    int16_t io = f->io;
    mdfio_seek(io, 0, MDFIO_SEEK_END);
    uint64_t end = mdfio_tell64(io);
    if (end > UINT32_MAX) mdflib_fail(MDF_ERR_SEEK);

    uint8_t *cg = mdfblk_new(MDFBLK_CG);
    mdf_set_u16(cg, CG_RECORD_ID, 1);
    mdf_set_u16(cg, CG_CN_COUNT, 0);
    mdf_set_u16(cg, CG_RECORD_SIZE, 0);
    mdf_set_u32(cg, CG_RECORDS, 0);

    uint8_t *dg = mdfblk_new(MDFBLK_DG);
    mdfblk_set_link(dg + DG_FIRST_CG, 0, cg);
    uint8_t *first = mdfblk_link(f->hd, HD_FIRST_DG);
    mdfblk_set_link(dg + DG_NEXT_DG, first != nullptr ? mdf_u32(f->hd, HD_FIRST_DG) : 0, first);
    mdf_set_u32(dg, DG_DATA, static_cast<uint32_t>(end));
    mdf_set_u16(dg, DG_CG_COUNT, 1);
    mdf_set_u16(dg, DG_ID_BYTES, 1);

    mdf_set_u16(f->hd, HD_DG_COUNT, static_cast<uint16_t>(mdf_u16(f->hd, HD_DG_COUNT) + 1));
    mdfblk_set_link(f->hd + HD_FIRST_DG, 0, dg);
    *dg_out = dg;
    *cg_out = cg;
}

// Writes a created group's blocks behind its records and rewrites the HD.
void write_created_blocks(mdf_group_rec *g) {
    int16_t io = g->file->io;
    mdfio_seek(io, 0, MDFIO_SEEK_END);

    // Last channel first, so that every CN's next link names a CN already written.
    std::vector<uint8_t *> cns;
    for (uint8_t *cn = mdfblk_link(g->cg, CG_FIRST_CN); cn != nullptr;
         cn = mdfblk_link(cn, CN_NEXT_CN))
        cns.push_back(cn);
    for (auto it = cns.rbegin(); it != cns.rend(); ++it) {
        uint8_t *cn = *it;
        mdfblk_append(io, mdfblk_link(cn, CN_EXTENSION));
        mdfblk_append(io, mdfblk_link(cn, CN_CONVERSION));
        mdfblk_append(io, mdfblk_link(cn, CN_COMMENT));
        mdfblk_store_link(cn + CN_EXTENSION);
        mdfblk_store_link(cn + CN_CONVERSION);
        mdfblk_store_link(cn + CN_COMMENT);
        mdfblk_store_link(cn + CN_NEXT_CN);
        mdfblk_append(io, cn);
    }

    mdfblk_append(io, mdfblk_link(g->cg, CG_COMMENT));
    mdfblk_store_link(g->cg + CG_COMMENT);
    // The record count: every append raised it. The buffer's index equals it after appends
    // through the channels, but stands one lower after a direct append, whose record must not
    // be dropped: the count is never lowered here.
    if (g->buffer->index > record_count(g)) mdf_set_u32(g->cg, CG_RECORDS, g->buffer->index);
    mdfblk_store_link(g->cg + CG_FIRST_CN);
    mdfblk_append(io, g->cg);

    if (uint8_t *tr = mdfblk_link(g->dg, DG_TRIGGER); tr != nullptr) {
        mdfblk_append(io, mdfblk_link(tr, TR_COMMENT));
        mdfblk_store_link(tr + TR_COMMENT);
        mdfblk_append(io, tr);
        mdfblk_store_link(g->dg + DG_TRIGGER);
    }
    mdfblk_store_link(g->dg + DG_FIRST_CG);
    mdfblk_store_link(g->dg + DG_NEXT_DG);
    mdfblk_append(io, g->dg);

    mdfblk_store_link(g->file->hd + HD_FIRST_DG);
    mdfblk_rewrite(io, g->file->hd);
}

void release_group(mdf_group_rec *g) {
    free_buffer(g);
    mdflst_group_remove(g);
    mdflst_group_release(g);
}

// The quiet start of the operations without call guard: the sticky error, if any.
int16_t unguarded_sticky() {
    return mdflib_state.sticky_error;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Internal steps
// ---------------------------------------------------------------------------------------------

void mdfgrp_new_buffer(mdf_group_rec *group) {
    check_group_internal(group);
    alloc_buffer(group);
}

uint8_t *mdfgrp_find_cg(mdf_group_rec *group, uint16_t id) {
    check_group_internal(group);
    if (ext(group)->id_bytes == 0) MDF_INTERNAL_ERROR();
    if (mdf_u16(group->cg, CG_RECORD_ID) == id) return group->cg;
    return id < IDENTIFIERS ? ext(group)->cg_of_id[id] : nullptr;
}

void mdfgrp_load_record(mdf_group_rec *group, bool scan_only) {
    check_group_internal(group);
    mdf_record_buffer *b = group->buffer;
    if (b->index >= record_count(group)) MDF_INTERNAL_ERROR();
    const uint16_t r = ext(group)->id_bytes;
    const int16_t io = group->file->io;
    const uint64_t end = mdfio_size(io);
    uint8_t *data = mdf_record_data(b);
    uint64_t pos = b->position;

    load_io([&] { mdfio_seek(io, static_cast<int64_t>(pos), MDFIO_SEEK_SET); });
    for (;;) {
        uint8_t *cg = group->cg;
        if (r > 0) {
            if (pos + 1 > end) fail_format();
            uint8_t id = 0;
            load_io([&] { mdfio_read(&id, 1, io); });
            cg = mdfgrp_find_cg(group, id);
            if (cg == nullptr) fail_format();
        }
        uint32_t length = static_cast<uint32_t>(mdf_u16(cg, CG_RECORD_SIZE)) + (r == 2 ? 1 : 0);
        uint64_t start = pos + (r > 0 ? 1 : 0);
        if (cg == group->cg) {
            if (scan_only) return;
            if (start + length > end) fail_format();
            if (length > 0) load_io([&] { mdfio_read(data, static_cast<uint16_t>(length), io); });
            return;
        }
        // A record of another group of the DG: skip it.
        pos = start + length;
        if (pos >= end || pos > UINT32_MAX) fail_format();
        load_io([&] { mdfio_seek(io, static_cast<int64_t>(pos), MDFIO_SEEK_SET); });
        b->position = static_cast<uint32_t>(pos);
    }
}

void mdfgrp_reset_channels(mdf_group_rec *group, int32_t access, int32_t writes) {
    for (mdf_channel_rec *c = mdflib_state.channels; c != nullptr; c = c->next) {
        if (c->magic != MDF_CHANNEL_MAGIC) MDF_INTERNAL_ERROR();
        if (c->group != group) continue;
        if (access >= 0) c->access = static_cast<uint16_t>(access);
        if (writes >= 0) c->writes = static_cast<uint16_t>(writes);
    }
    if (writes >= 0) ext(group)->write_pending = writes != 0;
}

void mdfgrp_prepare_read(mdf_channel_rec *channel) {
    mdf_group_rec *g = channel->group;
    check_group_internal(g);
    // A group without records (or past them) has no record to decode a value from.
    if (g->mode != MDFGRP_CREATE && g->buffer->index >= record_count(g))
        mdflib_raise(MDF_END_OF_RECORDS);
    if (channel->access != 0) {
        if (ext(g)->write_pending) {
            bool pending = false;
            for (mdf_channel_rec *c = mdflib_state.channels; c != nullptr; c = c->next)
                if (c->group == g && c->writes != 0) pending = true;
            ext(g)->write_pending = false;
            if (pending && write_record(g) != 0) mdflib_raise(MDF_END_OF_RECORDS);
        }
        if (seek_record(g, 1, MDFGRP_SEEK_CUR) != 0) mdflib_raise(MDF_END_OF_RECORDS);
    }
    ++channel->access;
}

void mdfgrp_prepare_write(mdf_channel_rec *channel) {
    mdf_group_rec *g = channel->group;
    check_group_internal(g);
    mdf_record_buffer *b = g->buffer;
    if (g->mode != MDFGRP_CREATE && b->index >= record_count(g)) mdflib_raise(MDF_END_OF_RECORDS);
    if (channel->writes != 0) {
        if (g->mode == MDFGRP_CREATE && b->index == record_count(g)) {
            // The record being built is finished; the buffer keeps its contents as the start
            // of the next one.
            append_record(g);
            ++b->index;
            b->position += record_span(g);
        } else {
            if (write_record(g) != 0) mdflib_raise(MDF_END_OF_RECORDS);
            if (seek_record(g, 1, MDFGRP_SEEK_CUR) != 0) mdflib_raise(MDF_END_OF_RECORDS);
        }
    }
    ++channel->writes;
    ext(g)->write_pending = true;
}

// ---------------------------------------------------------------------------------------------
// Public operations
// ---------------------------------------------------------------------------------------------

int16_t mdfgrp_open(mdf_group_rec **group, mdf_file_rec *file, uint16_t number, uint16_t mode) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        mdflib_check_file(file);
        if (mode > MDFGRP_CREATE) mdflib_fail(MDF_ERR_OPEN_MODE);
        if (mode != MDFGRP_CREATE && number > file->groups) mdflib_fail(MDF_NOTE_GROUP_NOT_FOUND);
        if (mode != MDFGRP_READ && mode != static_cast<uint16_t>(file->mode))
            mdflib_fail(MDF_ERR_OPEN_MODE);

        uint8_t *dg = nullptr;
        uint8_t *cg = nullptr;
        uint16_t channels = 0;
        if (mode == MDFGRP_CREATE) {
            for (mdf_group_rec *g = mdflib_state.groups; g != nullptr; g = g->next)
                if (g->file == file && g->mode == MDFGRP_CREATE) mdflib_fail(MDF_ERR_SIMUL_CREATE);
            create_group(file, &dg, &cg);
        } else {
            if (!find_group(file, number, &dg, &cg)) {
                char detail[24];
                std::snprintf(detail, sizeof detail, "(n=%d)", number);
                mdflib_fail(MDF_NOTE_GROUP_NOT_FOUND, detail);
            }
            check_layout(dg, cg);
            channels = count_channels(cg);
        }

        auto *g = mdflib_new_or_fail<mdf_group_rec>();
        g->magic = MDF_GROUP_MAGIC;
        g->file = file;
        g->mode = mode;
        g->number = number;
        g->channels = channels;
        g->dg = dg;
        g->cg = cg;
        int16_t status = mdflib_catch([&] { alloc_buffer(g); });
        if (status != 0) {
            mdflib_free(g);
            mdflib_raise(status);
        }
        mdflst_group_insert(g);
        if (mode != MDFGRP_CREATE) {
            // A group without records opens all the same; its buffer holds no record.
            status = mdflib_catch([&] { seek_record(g, 0, MDFGRP_SEEK_SET); });
            if (status != 0) {
                mdflst_group_remove(g);
                free_buffer(g);
                mdflst_group_release(g);
                mdflib_raise(status);
            }
        }
        *group = g;
    });
}

int16_t mdfgrp_close(mdf_group_rec *group) {
    return mdflib_call(MDF_GUARD_NO_STICKY, [&] {
        if (group == nullptr) return;
        mdflib_check_group(group);
        if (group->file == nullptr || group->file->magic != MDF_FILE_MAGIC) MDF_INTERNAL_ERROR();
        // In list order; a channel close takes only that channel off the list.
        for (mdf_channel_rec *c = mdflib_state.channels, *next; c != nullptr; c = next) {
            if (c->magic != MDF_CHANNEL_MAGIC) MDF_INTERNAL_ERROR();
            next = c->next;
            if (c->group == group) mdfchn_close(c);
        }
        if (mdflib_state.sticky_error == 0 && group->mode == MDFGRP_CREATE)
            write_created_blocks(group);
        release_group(group);
    });
}

int16_t mdfgrp_seek(mdf_group_rec *group, int32_t position, uint16_t mode) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        mdflib_check_group(group);
        if (mode != MDFGRP_SEEK_SET && mode != MDFGRP_SEEK_CUR) mdflib_fail(MDF_ERR_SEEK_MODE);
        if (int16_t status = seek_record(group, position, mode); status != 0) mdflib_raise(status);
    });
}

int16_t mdfgrp_write_record(mdf_group_rec *group) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        mdflib_check_group(group);
        if (int16_t status = write_record(group); status != 0) mdflib_raise(status);
    });
}

int16_t mdfgrp_append_record(mdf_group_rec *group) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        mdflib_check_group(group);
        append_record(group);
    });
}

int16_t mdfgrp_channels(uint16_t *count, mdf_group_rec *group) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        mdflib_check_group(group);
        *count = group->channels;
    });
}

int16_t mdfgrp_records(uint32_t *count, mdf_group_rec *group) {
    if (int16_t sticky = unguarded_sticky(); sticky != 0) return sticky;
    if (group == nullptr || group->magic != MDF_GROUP_MAGIC)
        return mdflib_report_error(MDF_ERR_BAD_GROUP, "");
    *count = record_count(group);
    return 0;
}

int16_t mdfgrp_record_index(uint32_t *index, mdf_group_rec *group) {
    if (int16_t sticky = unguarded_sticky(); sticky != 0) return sticky;
    if (group == nullptr || group->magic != MDF_GROUP_MAGIC)
        return mdflib_report_error(MDF_ERR_BAD_GROUP, "");
    *index = group->buffer->index;
    return 0;
}

uint16_t mdfgrp_record_data(uint8_t **data, mdf_group_rec *group) {
    *data = mdf_record_data(group->buffer);
    return group->buffer->length;
}

int16_t mdfgrp_first(mdf_group_rec **group, mdf_file_rec *file) {
    if (int16_t sticky = unguarded_sticky(); sticky != 0) return sticky;
    if (file == nullptr || file->magic != MDF_FILE_MAGIC)
        return mdflib_report_error(MDF_ERR_BAD_FILE, "");
    for (mdf_group_rec *g = mdflib_state.groups; g != nullptr; g = g->next) {
        if (g->file == file) {
            *group = g;
            return 0;
        }
    }
    *group = nullptr;
    return MDF_NO_MORE_GROUPS;
}

int16_t mdfgrp_next(mdf_group_rec **group) {
    if (int16_t sticky = unguarded_sticky(); sticky != 0) return sticky;
    if (group == nullptr || *group == nullptr) return MDF_NO_MORE_GROUPS;
    if ((*group)->magic != MDF_GROUP_MAGIC) return mdflib_report_error(MDF_ERR_BAD_GROUP, "");
    for (mdf_group_rec *g = (*group)->next; g != nullptr; g = g->next) {
        if (g->file == (*group)->file) {
            *group = g;
            return 0;
        }
    }
    *group = nullptr;
    return MDF_NO_MORE_GROUPS;
}

// The number of channels over all groups of a file: each group opened for reading, counted and
// closed. A failing group open ends the walk; *total then holds the sum so far.
int16_t mdffil_channels(uint32_t *total, mdf_file_rec *file) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        mdflib_check_file(file);
        *total = 0;
        for (uint32_t n = 1; n <= file->groups; ++n) {
            mdf_group_rec *g = nullptr;
            mdfgrp_open(&g, file, static_cast<uint16_t>(n), MDFGRP_READ);
            uint16_t channels = 0;
            mdfgrp_channels(&channels, g);
            *total += channels;
            mdfgrp_close(g);
        }
    });
}
