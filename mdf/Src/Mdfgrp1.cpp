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
#include <array>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// Bytes behind the record data: the trailing identifier byte and room for 4-byte reads that start
// at the record's last byte.
constexpr std::uint32_t RECORD_SPARE = 4;
// The buffer length (identifier byte, record data, spare) is a 16-bit quantity.
constexpr std::uint32_t MAX_RECORD_SIZE = 0xFFFFu - 1 - RECORD_SPARE;
// Identifier bytes compare with the CG's 16-bit record identifier as a number.
constexpr unsigned IDENTIFIERS = 256;

// A damaged data area at a file position.
#define DATA_CORRUPT(position, what) MDF_CORRUPT(nullptr, position, what)
// A damaged block of the group (its file position from its node).
#define BLOCK_CORRUPT(image, what) MDF_CORRUPT_IMAGE(image, mdfblk_find_node(image)->read_pos, what)

// Bytes one read call transfers at most.
constexpr std::uint32_t READ_PIECE = 0xFF00;

// The one positional reader of records: a read-ahead window over a file. fetch gives the n bytes
// at file position pos, from the window when it holds them, else after refilling the window from
// pos with as many bytes as it holds and the area has. The groups read their records through it,
// each group with a window of its own (several groups read one stream in turn, each at its own
// place), and so does the sort, one data group's area after the other. Any write into the file
// makes a window read again (the file's write count), so records written back are read as written.
struct area_reader {
    std::uint8_t *window;   // capacity bytes, owned by whoever made the reader
    std::uint32_t capacity; // at least the longest n asked for
    std::uint64_t start;    // file position of window[0]
    std::uint32_t fill;     // bytes of the window that hold the file
    std::uint32_t writes;   // the file's write count when the window was filled

    // pos + n must not pass end, which must not pass the end of the file; n at most capacity.
    const std::uint8_t *fetch(std::int16_t io, std::uint64_t pos, std::uint32_t n,
                              std::uint64_t end) {
        if (writes == mdfio_writes(io) && pos >= start && pos + n <= start + fill)
            return window + (pos - start);
        if (n > capacity || pos + n > end) MDF_INTERNAL_ERROR();
        const auto want = static_cast<std::uint32_t>(std::min<std::uint64_t>(capacity, end - pos));
        fill = 0;
        if (mdflib_catch([&] {
                mdfio_seek(io, static_cast<std::int64_t>(pos), MDFIO_SEEK_SET);
                for (std::uint32_t done = 0; done < want;) {
                    const std::uint32_t piece = std::min(want - done, READ_PIECE);
                    mdfio_read(window + done, static_cast<std::uint16_t>(piece), io);
                    done += piece;
                }
            }) != 0)
            DATA_CORRUPT(pos, "records cannot be read");
        start = pos;
        fill = want;
        writes = mdfio_writes(io);
        return window;
    }
    // The file position behind the window's last byte.
    std::uint64_t valid_end() const { return start + fill; }
};

// The record buffer as this module allocates it: the public part first (the group record points
// at it), then what the group needs on every record move, then the record bytes and the group's
// read-ahead window.
struct grp_buffer {
    mdf_record_buffer pub;
    std::uint16_t id_bytes;              // r: record identifier bytes of the DG (0, 1, 2)
    bool sorted;                         // the DG holds one channel group
    bool write_pending;                  // a channel may have a write counter other than 0
    std::uint8_t *cg_of_id[IDENTIFIERS]; // the CG of each identifier byte (DGs with r > 0)
    area_reader reader;                  // over the data area
};

// Bytes of a group's read-ahead window (no more than its data area has, no fewer than one record
// with its identifier bytes): one read call fills it.
constexpr std::uint32_t READ_WINDOW = READ_PIECE;

grp_buffer *ext(const mdf_group_rec *g) {
    return reinterpret_cast<grp_buffer *>(g->buffer);
}

std::uint16_t record_size(const mdf_group_rec *g) {
    return mdf_u16(g->cg, CG_RECORD_SIZE);
}
std::uint32_t record_count(const mdf_group_rec *g) {
    return mdf_u32(g->cg, CG_RECORDS);
}
std::uint32_t data_position(const mdf_group_rec *g) {
    return mdf_u32(g->dg, DG_DATA);
}
// Bytes one record of the group occupies in the data area.
std::uint32_t record_span(const mdf_group_rec *g) {
    return static_cast<std::uint32_t>(record_size(g)) + ext(g)->id_bytes;
}

void check_group_internal(const mdf_group_rec *g) {
    if (g == nullptr || g->magic != MDF_GROUP_MAGIC || g->buffer == nullptr) MDF_INTERNAL_ERROR();
}

// The CGs of a DG along its chain.
std::vector<std::uint8_t *> cg_chain(std::uint8_t *dg) {
    std::vector<std::uint8_t *> cgs;
    for (std::uint8_t *cg = mdfblk_link(dg, DG_FIRST_CG); cg != nullptr;
         cg = mdfblk_link(cg, CG_NEXT_CG))
        cgs.push_back(cg);
    return cgs;
}

// Fills the identifier table of a DG: the first CG along the chain for each identifier.
void fill_identifiers(grp_buffer *b, std::uint8_t *dg) {
    for (std::uint8_t *&slot : b->cg_of_id) slot = nullptr;
    for (std::uint8_t *cg : cg_chain(dg)) {
        std::uint16_t id = mdf_u16(cg, CG_RECORD_ID);
        if (id < IDENTIFIERS && b->cg_of_id[id] == nullptr) b->cg_of_id[id] = cg;
    }
}

// Allocates a buffer for the group's record size. With an old buffer, its index, position and
// group data are carried over and the old buffer is released; otherwise they are set up from the
// DG (index 0, position at the data area).
void alloc_buffer(mdf_group_rec *g) {
    std::uint32_t size = record_size(g);
    if (size > MAX_RECORD_SIZE) BLOCK_CORRUPT(g->cg, "record size beyond 65530 bytes");
    std::uint32_t length = 1 + size + RECORD_SPARE;
    // The window lives in the same allocation, behind the record.
    const std::uint64_t span = size + std::uint64_t{mdf_u16(g->dg, DG_ID_BYTES)} + 1;
    std::uint64_t area = static_cast<std::uint64_t>(record_count(g)) * span;
    if (mdfblk_cg_count(g->dg) > 1 || area > READ_WINDOW) area = READ_WINDOW;
    const auto window = static_cast<std::uint32_t>(std::max(area, span));
    auto *b = static_cast<grp_buffer *>(mdflib_alloc(sizeof(grp_buffer) + length + window));
    if (b == nullptr) mdflib_fail(MDF_ERR_MEMORY);
    b->pub.length = static_cast<std::uint16_t>(length);
    b->pub.record = reinterpret_cast<std::uint8_t *>(b) + sizeof(grp_buffer);
    b->reader = {b->pub.record + length, window, 0, 0, 0};
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

[[noreturn]] void foreign_identifier(std::uint64_t position, std::uint8_t id) {
    char what[64];
    std::snprintf(what, sizeof what, "identifier byte %u of no channel group", id);
    DATA_CORRUPT(position, what);
}

// Moves the group onto record t: 0 on success, MDF_END_OF_RECORDS (nothing changed) when t lies
// outside the records. Errors are thrown.
std::int16_t seek_record(mdf_group_rec *g, std::int32_t p, std::uint16_t mode) {
    mdf_record_buffer *b = g->buffer;
    std::int64_t t = p;
    if (mode == MDFGRP_SEEK_CUR) {
        if (p < 0 && -static_cast<std::int64_t>(p) > static_cast<std::int64_t>(b->index))
            return MDF_END_OF_RECORDS;
        t = static_cast<std::int64_t>(b->index) + p;
    }
    // Taken as unsigned: a negative absolute position is far beyond the records.
    if (static_cast<std::uint32_t>(t) >= record_count(g) || t > UINT32_MAX)
        return MDF_END_OF_RECORDS;
    std::uint32_t target = static_cast<std::uint32_t>(t);

    if (target == 0) {
        b->index = 0;
        b->position = data_position(g);
        mdfgrp_load_record(g, false);
    } else if (ext(g)->sorted) {
        if (target != b->index) {
            std::uint64_t pos =
                data_position(g) + static_cast<std::uint64_t>(target) * record_span(g);
            b->index = target;
            b->position = pos;
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
            std::uint64_t pos = b->position + record_span(g);
            ++b->index;
            b->position = pos;
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
    std::uint16_t r = ext(g)->id_bytes;
    std::uint16_t size = record_size(g);
    std::uint8_t id = static_cast<std::uint8_t>(mdf_u16(g->cg, CG_RECORD_ID));
    std::uint8_t *data = mdf_record_data(b);
    const std::uint8_t *from = data;
    std::uint32_t length = size;
    if (r > 0) {
        b->record[0] = id;
        from = b->record;
        length += r;
        if (r == 2) data[size] = id;
    }
    std::int16_t io = g->file->io;
    if (mdflib_catch([&] { mdfio_seek(io, b->position, MDFIO_SEEK_SET); }) != 0)
        mdflib_fail(MDF_ERR_WRITE);
    // A record of no bytes writes nothing (the I/O layer takes a zero length as a failure);
    // a failing write has been reported by the I/O layer.
    if (length > 0) mdfio_write(from, static_cast<std::uint16_t>(length), io);
}

// Writes the current record back at its position; status 1 when the buffer holds no record of
// the file (a group without records, or the record being built in a created group).
std::int16_t write_record(mdf_group_rec *g) {
    if (g->mode == MDFGRP_READ) mdflib_fail(MDF_ERR_OPEN_MODE);
    if (g->buffer->index >= record_count(g)) return MDF_END_OF_RECORDS;
    write_current(g);
    mdfgrp_reset_channels(g, -1, 0);
    return 0;
}

void append_record(mdf_group_rec *g) {
    if (g->mode != MDFGRP_CREATE) mdflib_fail(MDF_ERR_OPEN_MODE);
    std::int16_t io = g->file->io;
    if (mdflib_catch([&] { mdfio_seek(io, 0, MDFIO_SEEK_END); }) != 0) MDF_INTERNAL_ERROR();
    std::uint64_t end = mdfio_tell(io);
    if (end > UINT32_MAX) mdflib_fail(MDF_ERR_WRITE);
    mdf_record_buffer *b = g->buffer;
    b->position = end;
    b->index = record_count(g);
    mdf_set_u32(g->cg, CG_RECORDS, b->index + 1);
    write_current(g);
    mdfgrp_reset_channels(g, -1, 0);
}

// Refuses a data group whose records the group could not read safely: identifier bytes other
// than 0, 1, 2; several CGs without identifier bytes or with the same record identifier; no data
// area although the group has records; a record that does not fit the buffer; more records of
// no bytes (record size 0 without identifier bytes) than the file has bytes: they take no room,
// so nothing else bounds their number, and reading them would take a time out of all
// proportion to the file (a sorted copy of an unsorted file keeps fewer, since the original
// stored at least their identifier bytes).
void check_layout(const mdf_file_rec *f, std::uint8_t *dg, std::uint8_t *cg) {
    std::uint16_t r = mdf_u16(dg, DG_ID_BYTES);
    if (r > 2) BLOCK_CORRUPT(dg, "record identifier bytes other than 0, 1, 2");
    std::vector<std::uint8_t *> cgs = cg_chain(dg);
    if (cgs.size() > 1) {
        if (r == 0) BLOCK_CORRUPT(dg, "several channel groups without identifier bytes");
        std::vector<std::uint16_t> ids;
        for (std::uint8_t *c : cgs) ids.push_back(mdf_u16(c, CG_RECORD_ID));
        std::sort(ids.begin(), ids.end());
        if (std::adjacent_find(ids.begin(), ids.end()) != ids.end())
            BLOCK_CORRUPT(dg, "two channel groups with one record identifier");
    }
    if (mdf_u32(dg, DG_DATA) == 0 && mdf_u32(cg, CG_RECORDS) != 0)
        BLOCK_CORRUPT(dg, "records without a data area");
    if (mdf_u16(cg, CG_RECORD_SIZE) > MAX_RECORD_SIZE)
        BLOCK_CORRUPT(cg, "record size beyond 65530 bytes");
    if (r == 0 && mdf_u16(cg, CG_RECORD_SIZE) == 0 && mdf_u32(cg, CG_RECORDS) > mdfio_size(f->io))
        BLOCK_CORRUPT(cg, "more empty records than the file has bytes");
}

// A new data group with one channel group, first in the file's DG chain; its records go to the
// end of the file.
void create_group(mdf_file_rec *f, std::uint8_t **dg_out, std::uint8_t **cg_out) {
    std::int16_t io = f->io;
    mdfio_seek(io, 0, MDFIO_SEEK_END);
    std::uint64_t end = mdfio_tell(io);
    if (end > UINT32_MAX) mdflib_fail(MDF_ERR_SEEK);

    std::uint8_t *cg = mdfblk_new(MDFBLK_CG);
    mdf_set_u16(cg, CG_RECORD_ID, 1);
    mdf_set_u16(cg, CG_CN_COUNT, 0);
    mdf_set_u16(cg, CG_RECORD_SIZE, 0);
    mdf_set_u32(cg, CG_RECORDS, 0);

    std::uint8_t *dg = mdfblk_new(MDFBLK_DG);
    mdfblk_set_link(dg + DG_FIRST_CG, 0, cg);
    std::uint8_t *first = mdfblk_link(f->hd, HD_FIRST_DG);
    mdfblk_set_link(dg + DG_NEXT_DG, first != nullptr ? mdf_u32(f->hd, HD_FIRST_DG) : 0, first);
    mdf_set_u32(dg, DG_DATA, static_cast<std::uint32_t>(end));
    mdf_set_u16(dg, DG_CG_COUNT, 1);
    mdf_set_u16(dg, DG_ID_BYTES, 1);

    mdf_set_u16(f->hd, HD_DG_COUNT, static_cast<std::uint16_t>(mdf_u16(f->hd, HD_DG_COUNT) + 1));
    mdfblk_set_link(f->hd + HD_FIRST_DG, 0, dg);
    *dg_out = dg;
    *cg_out = cg;
}

// Writes a created group's blocks behind its records and rewrites the HD.
void write_created_blocks(mdf_group_rec *g) {
    std::int16_t io = g->file->io;
    mdfio_seek(io, 0, MDFIO_SEEK_END);

    // Last channel first, so that every CN's next link names a CN already written.
    std::vector<std::uint8_t *> cns;
    for (std::uint8_t *cn = mdfblk_link(g->cg, CG_FIRST_CN); cn != nullptr;
         cn = mdfblk_link(cn, CN_NEXT_CN))
        cns.push_back(cn);
    for (auto it = cns.rbegin(); it != cns.rend(); ++it) {
        std::uint8_t *cn = *it;
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

    if (std::uint8_t *tr = mdfblk_link(g->dg, DG_TRIGGER); tr != nullptr) {
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

} // namespace

// ---------------------------------------------------------------------------------------------
// Internal steps
// ---------------------------------------------------------------------------------------------

void mdfgrp_new_buffer(mdf_group_rec *group) {
    check_group_internal(group);
    alloc_buffer(group);
}

std::uint8_t *mdfgrp_find_cg(mdf_group_rec *group, std::uint16_t id) {
    check_group_internal(group);
    if (ext(group)->id_bytes == 0) MDF_INTERNAL_ERROR();
    if (mdf_u16(group->cg, CG_RECORD_ID) == id) return group->cg;
    return id < IDENTIFIERS ? ext(group)->cg_of_id[id] : nullptr;
}

void mdfgrp_load_record(mdf_group_rec *group, bool scan_only) {
    check_group_internal(group);
    mdf_record_buffer *b = group->buffer;
    if (b->index >= record_count(group)) MDF_INTERNAL_ERROR();
    area_reader &reader = ext(group)->reader;
    const std::uint16_t r = ext(group)->id_bytes;
    const std::int16_t io = group->file->io;
    const std::uint64_t end = mdfio_size(io);
    std::uint64_t pos = b->position;
    for (;;) {
        std::uint8_t *cg = group->cg;
        if (r > 0) {
            if (pos + 1 > end) DATA_CORRUPT(pos, "records end before the group's last record");
            const std::uint8_t id = *reader.fetch(io, pos, 1, end);
            cg = mdfgrp_find_cg(group, id);
            if (cg == nullptr) foreign_identifier(pos, id);
        }
        std::uint32_t length =
            static_cast<std::uint32_t>(mdf_u16(cg, CG_RECORD_SIZE)) + (r == 2 ? 1 : 0);
        std::uint64_t start = pos + (r > 0 ? 1 : 0);
        if (cg == group->cg) {
            if (scan_only) return;
            if (start + length > end) DATA_CORRUPT(start, "record runs past the end of the file");
            if (length > 0)
                std::memcpy(mdf_record_data(b), reader.fetch(io, start, length, end), length);
            return;
        }
        // A record of another group of the DG: skip it.
        pos = start + length;
        if (pos >= end) DATA_CORRUPT(pos, "records end before the group's last record");
        b->position = pos;
    }
}

void mdfgrp_attach_channel(mdf_channel_rec *channel) {
    if (channel == nullptr || channel->magic != MDF_CHANNEL_MAGIC) MDF_INTERNAL_ERROR();
    mdf_group_rec *g = channel->group;
    check_group_internal(g);
    channel->group_previous = g->last_channel;
    channel->group_next = nullptr;
    if (g->last_channel != nullptr)
        g->last_channel->group_next = channel;
    else
        g->first_channel = channel;
    g->last_channel = channel;
}

void mdfgrp_detach_channel(mdf_channel_rec *channel) {
    if (channel == nullptr || channel->magic != MDF_CHANNEL_MAGIC) MDF_INTERNAL_ERROR();
    mdf_group_rec *g = channel->group;
    check_group_internal(g);
    mdf_channel_rec *previous = channel->group_previous;
    mdf_channel_rec *next = channel->group_next;
    if ((previous == nullptr ? g->first_channel : previous->group_next) != channel)
        MDF_INTERNAL_ERROR();
    if ((next == nullptr ? g->last_channel : next->group_previous) != channel) MDF_INTERNAL_ERROR();
    (previous == nullptr ? g->first_channel : previous->group_next) = next;
    (next == nullptr ? g->last_channel : next->group_previous) = previous;
    channel->group_previous = nullptr;
    channel->group_next = nullptr;
}

void mdfgrp_reset_channels(mdf_group_rec *group, std::int32_t access, std::int32_t writes) {
    for (mdf_channel_rec *c = group->first_channel; c != nullptr; c = c->group_next) {
        if (c->magic != MDF_CHANNEL_MAGIC || c->group != group) MDF_INTERNAL_ERROR();
        if (access >= 0) c->access = static_cast<std::uint16_t>(access);
        if (writes >= 0) c->writes = static_cast<std::uint16_t>(writes);
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
            for (mdf_channel_rec *c = g->first_channel; c != nullptr; c = c->group_next)
                if (c->writes != 0) pending = true;
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

std::int16_t mdfgrp_open(mdf_group_rec **group, mdf_file_rec *file, std::uint16_t number,
                         std::uint16_t mode) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        mdflib_gate(file);
        mdflib_require(group != nullptr, "group");
        if (mode > MDFGRP_CREATE) mdflib_fail(MDF_ERR_OPEN_MODE);
        if (mode != MDFGRP_CREATE && number > file->groups) mdflib_fail(MDF_NOTE_GROUP_NOT_FOUND);
        if (mode != MDFGRP_READ && mode != static_cast<std::uint16_t>(file->mode))
            mdflib_fail(MDF_ERR_OPEN_MODE);

        std::uint8_t *dg = nullptr;
        std::uint8_t *cg = nullptr;
        std::uint16_t channels = 0;
        if (mode == MDFGRP_CREATE) {
            for (mdf_group_rec *g = mdflib_state.groups; g != nullptr; g = g->next)
                if (g->file == file && g->mode == MDFGRP_CREATE) mdflib_fail(MDF_ERR_SIMUL_CREATE);
            create_group(file, &dg, &cg);
        } else {
            // Numbered along the DG chain and the CG chain inside each DG, from 1.
            if (!mdfblk_index_group(file, number, &dg, &cg)) {
                char detail[24];
                std::snprintf(detail, sizeof detail, "(n=%d)", number);
                mdflib_fail(MDF_NOTE_GROUP_NOT_FOUND, detail);
            }
            check_layout(file, dg, cg);
            channels = mdfblk_index_cn_count(file, cg);
        }

        auto *g = mdflib_new_or_fail<mdf_group_rec>();
        g->magic = MDF_GROUP_MAGIC;
        g->file = file;
        g->mode = mode;
        g->number = number;
        g->channels = channels;
        g->dg = dg;
        g->cg = cg;
        std::int16_t status = mdflib_catch([&] { alloc_buffer(g); });
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

std::int16_t mdfgrp_close(mdf_group_rec *group) {
    return mdflib_call(MDF_GUARD_NO_STICKY, [&] {
        if (group == nullptr) return;
        mdflib_gate(group);
        if (group->file == nullptr || group->file->magic != MDF_FILE_MAGIC) MDF_INTERNAL_ERROR();
        // In list order; a channel close takes only that channel off the lists.
        for (mdf_channel_rec *c = group->first_channel, *next; c != nullptr; c = next) {
            if (c->magic != MDF_CHANNEL_MAGIC || c->group != group) MDF_INTERNAL_ERROR();
            next = c->group_next;
            mdfchn_close(c);
        }
        if (mdflib_state.sticky_error == 0 && group->mode == MDFGRP_CREATE)
            write_created_blocks(group);
        release_group(group);
    });
}

std::int16_t mdfgrp_seek(mdf_group_rec *group, std::int32_t position, std::uint16_t mode) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        mdflib_gate(group);
        if (mode != MDFGRP_SEEK_SET && mode != MDFGRP_SEEK_CUR) mdflib_fail(MDF_ERR_SEEK_MODE);
        if (std::int16_t status = seek_record(group, position, mode); status != 0)
            mdflib_raise(status);
    });
}

std::int16_t mdfgrp_write_record(mdf_group_rec *group) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        mdflib_gate(group);
        if (std::int16_t status = write_record(group); status != 0) mdflib_raise(status);
    });
}

std::int16_t mdfgrp_append_record(mdf_group_rec *group) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        mdflib_gate(group);
        append_record(group);
    });
}

std::int16_t mdfgrp_channels(std::uint16_t *count, mdf_group_rec *group) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        mdflib_gate(group);
        mdflib_require(count != nullptr, "count");
        *count = group->channels;
    });
}

std::int16_t mdfgrp_records(std::uint32_t *count, mdf_group_rec *group) {
    if (std::int16_t status = mdflib_gate_unguarded(group); status != 0) return status;
    if (count == nullptr) return mdflib_report_error(MDF_ERR_ARGUMENT, "(count)");
    *count = record_count(group);
    return 0;
}

std::int16_t mdfgrp_record_index(std::uint32_t *index, mdf_group_rec *group) {
    if (std::int16_t status = mdflib_gate_unguarded(group); status != 0) return status;
    if (index == nullptr) return mdflib_report_error(MDF_ERR_ARGUMENT, "(index)");
    *index = group->buffer->index;
    return 0;
}

std::uint16_t mdfgrp_record_data(std::uint8_t **data, mdf_group_rec *group) {
    if (data == nullptr) {
        mdflib_report_error(MDF_ERR_ARGUMENT, "(data)");
        return 0;
    }
    *data = nullptr;
    if (mdflib_gate_unguarded(group) != 0) return 0;
    *data = mdf_record_data(group->buffer);
    return group->buffer->length;
}

std::int16_t mdfgrp_first(mdf_group_rec **group, mdf_file_rec *file) {
    if (std::int16_t status = mdflib_gate_unguarded(file); status != 0) return status;
    if (group == nullptr) return mdflib_report_error(MDF_ERR_ARGUMENT, "(group)");
    for (mdf_group_rec *g = mdflib_state.groups; g != nullptr; g = g->next) {
        if (g->file == file) {
            *group = g;
            return 0;
        }
    }
    *group = nullptr;
    return MDF_NO_MORE_GROUPS;
}

std::int16_t mdfgrp_next(mdf_group_rec **group) {
    if (mdflib_state.sticky_error != 0) return mdflib_state.sticky_error;
    if (group == nullptr || *group == nullptr) return MDF_NO_MORE_GROUPS;
    if (std::int16_t status = mdflib_gate_unguarded(*group); status != 0) return status;
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
std::int16_t mdffil_channels(std::uint32_t *total, mdf_file_rec *file) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        mdflib_gate(file);
        mdflib_require(total != nullptr, "total");
        *total = 0;
        for (std::uint32_t n = 1; n <= file->groups; ++n) {
            mdf_group_rec *g = nullptr;
            mdfgrp_open(&g, file, static_cast<std::uint16_t>(n), MDFGRP_READ);
            std::uint16_t channels = 0;
            mdfgrp_channels(&channels, g);
            *total += channels;
            mdfgrp_close(g);
        }
    });
}

// ---------------------------------------------------------------------------------------------
// Sorting of unsorted MDF files (part of the groups module): mdffil_test_sorted tells whether
// every data group of a file holds at most one channel group; mdffil_sort writes a sorted copy
// in which every channel group has a data group of its own and its records lie together,
// without identifier bytes.
//
// Output layout: the ID, HD, PR and HD comment blocks; the data area (the records of slot 0,
// then slot 1, ...); then for every input channel group its trigger, channel, group and data
// group blocks. The CN chains and the DG chain of the copy run in reverse input order, because
// every block names only blocks written before it.
//
// The input's block images are changed only between a snapshot and its restore around each
// write, and their link nodes are never touched: the output's link values are stored into the
// images directly. So the input's tree reads the same after the block phase, and the copy phase
// walks the data groups in input order, as the slot numbering assumes.
//
// Two kinds of input link are not carried over: the CN dependency (CD) link is written as no
// link (the CD block is opaque and may itself hold positions of the input), and a comment link
// whose block is not a TX block is written as no link. CG comments that are TX blocks are
// copied like the channel comments.

namespace {

constexpr std::uint32_t SORT_BUDGET = 524288 - 4096;         // copy buffers of one sort, in bytes
constexpr std::uint32_t SORT_MAX_BUFFER = 0xFF00;            // largest copy buffer (65280 bytes)
constexpr std::size_t SORT_READ_WINDOW = 0x40000;            // read-ahead window over the data area
constexpr std::uint64_t SORT_POSITION_LIMIT = 0xFFFFFFFFull; // last position a LINK can name
// Records are moved in 8-byte words; the window and the copy buffers have this many bytes of
// room behind their end for the last word, whose surplus bytes are never used.
constexpr std::size_t SORT_WORD_SLACK = 8;

// Copies size bytes (size above 0) in 8-byte words: up to 7 bytes more are read behind src and
// written behind dst, both of which have SORT_WORD_SLACK bytes of room.
inline void sort_move(std::uint8_t *dst, const std::uint8_t *src, std::size_t size) {
    for (std::size_t i = 0; i < size; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, src + i, 8);
        std::memcpy(dst + i, &word, 8);
    }
}

// One channel group of the input, in the order the copy meets it.
struct mdf_sort_slot {
    std::uint64_t position;    // output position where the group's next records go
    std::uint32_t record_size; // the CG's record size
    std::uint16_t record_id;   // the CG's record identifier (when its DG has identifier bytes)
    std::uint8_t *buffer;      // the group's copy buffer, null when the group has no data
    std::uint32_t capacity;    // records the buffer holds
    std::uint32_t buffer_size; // the buffer's size in bytes
    std::uint32_t count;       // records now in the buffer
    std::uint8_t *write_pos;   // where the next record goes in the buffer
    std::uint32_t records;     // the CG's number of records
    std::uint32_t taken;       // records of this group met so far in the data area
};

// The input tree as the sort walks it, gathered once (images belong to the sort's level).
struct sort_cn {
    std::uint8_t *cn;
    std::uint8_t *long_name;    // TX block or null
    std::uint8_t *display_name; // TX block or null
    // The texts of a value-range-to-text conversion: the offset of each entry's link in the CC
    // and its TX block (null when the link names none).
    std::vector<std::pair<std::uint16_t, std::uint8_t *>> range_texts;
};
struct sort_cg {
    std::uint8_t *cg;
    std::vector<sort_cn> cns; // input chain order
};
struct sort_dg {
    std::uint8_t *dg;
    std::uint8_t *tr;         // TR block or null
    std::uint16_t id_bytes;   // number of record identifier bytes (0, 1, 2)
    std::uint32_t data_pos;   // the input's data area of this DG
    std::uint64_t records;    // N: records of all its CGs
    std::uint64_t area_bytes; // its data area's length in the input, identifier bytes included
    std::size_t first_slot;   // its first slot in the slot table
    std::vector<sort_cg> cgs; // CG chain order
};

std::uint64_t block_length(const std::uint8_t *image) {
    return image == nullptr ? 0 : mdfblk_length(image);
}

// The comment block linked at offset, when it is a TX block; null otherwise (a block of another
// type would carry the input's positions into the copy).
std::uint8_t *comment_block(std::uint8_t *image, std::uint16_t offset) {
    std::uint8_t *text = mdfblk_link(image, offset);
    return mdf_block_is(text, MDFBLK_TX) ? text : nullptr;
}

// The TX block that a name link of a CN names, when the CN holds that link and it is a TX.
std::uint8_t *name_block(std::uint8_t *cn, std::uint16_t offset) {
    return mdf_block_size(cn) >= offset + 4u ? comment_block(cn, offset) : nullptr;
}

// The TX blocks of a value-range-to-text conversion, read from the input (the tree read does not
// follow links inside a CC). A link to no TX block is carried as no link.
std::vector<std::pair<std::uint16_t, std::uint8_t *>> range_texts(std::int16_t in,
                                                                  const std::uint8_t *cc) {
    std::vector<std::pair<std::uint16_t, std::uint8_t *>> texts;
    if (cc == nullptr || mdf_u16(cc, CC_TYPE) != CC_RANGE_TEXT) return texts;
    const std::uint32_t size = mdf_block_size(cc);
    const std::uint32_t count = mdf_u16(cc, CC_COUNT);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t link = CC_PARAMS + CC_RANGE_ENTRY * i + CC_RANGE_TEXT_LINK;
        if (link + 4 > size) break;
        const std::uint32_t position = mdf_u32(cc, link);
        std::uint8_t *text = nullptr;
        if (position != 0 && std::uint64_t{position} + BLK_HEADER <= mdfio_size(in)) {
            mdfio_seek(in, position, MDFIO_SEEK_SET);
            std::uint8_t header[BLK_HEADER];
            mdfio_read(header, BLK_HEADER, in);
            if (mdf_block_is(header, MDFBLK_TX)) text = mdfblk_read(in, position);
        }
        texts.emplace_back(static_cast<std::uint16_t>(link), text);
    }
    return texts;
}

// Keeps a copy of an input image for the time it is changed for the output.
struct sort_snapshot {
    std::uint8_t *image;
    explicit sort_snapshot(std::uint8_t *img) : image(img) { mdfblk_snapshot(image); }
    ~sort_snapshot() { mdfblk_restore(image); }
    sort_snapshot(const sort_snapshot &) = delete;
    sort_snapshot &operator=(const sort_snapshot &) = delete;
};

// Runs step and turns any failure into code (reported with an empty detail unless step failed
// with that very code, which is reported already).
template <class F>
void sort_step(std::int16_t code, F &&step) {
    std::int16_t status = mdflib_catch(step);
    if (status == 0) return;
    if (status == code || status == MDF_ERR_MEMORY) mdflib_raise(status);
    mdflib_fail(code, "");
}

// Buffer sizes of one data group's slots: the budget is shared in proportion to each group's
// data size S, none above 65280 bytes and none below one record; what a capped group cannot use
// is carried to the following groups. The budget runs across the whole sort and is not given
// back when buffers are released; it never drops below 0. Allocates the buffers into owned.
void sort_size_buffers(mdf_sort_slot *slots, std::size_t n, std::uint64_t &budget,
                       std::vector<std::unique_ptr<std::uint8_t[]>> &owned) {
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < n; ++i)
        total += static_cast<std::uint64_t>(slots[i].record_size) * slots[i].records;
    if (total == 0) return;
    std::vector<std::uint64_t> shares(n, 0);
    std::uint64_t carry = 0;
    for (std::size_t i = 0; i < n; ++i) {
        std::uint64_t size = static_cast<std::uint64_t>(slots[i].record_size) * slots[i].records;
        if (size == 0) continue;
        double part =
            static_cast<double>(budget) * static_cast<double>(size) / static_cast<double>(total);
        std::uint64_t share =
            std::min(static_cast<std::uint64_t>(part), size) + slots[i].record_size;
        if (share > SORT_MAX_BUFFER) {
            carry += share - SORT_MAX_BUFFER;
            share = SORT_MAX_BUFFER;
        }
        shares[i] = share;
    }
    for (std::size_t i = 0; i < n; ++i) {
        mdf_sort_slot &slot = slots[i];
        std::uint64_t size = static_cast<std::uint64_t>(slot.record_size) * slot.records;
        if (size == 0) continue;
        std::uint64_t share = shares[i];
        if (carry > 0 && share < size && share < SORT_MAX_BUFFER) {
            share += carry;
            if (share > size) {
                carry = share - size;
                share = size;
            } else {
                carry = 0;
            }
        }
        if (share > SORT_MAX_BUFFER) {
            carry += share - SORT_MAX_BUFFER;
            share = SORT_MAX_BUFFER;
        }
        if (share <= slot.record_size) share = slot.record_size;
        budget = budget > share + 1 ? budget - (share + 1) : 0;
        owned.push_back(std::make_unique<std::uint8_t[]>(share + 1 + SORT_WORD_SLACK));
        slot.buffer = owned.back().get();
        slot.buffer_size = static_cast<std::uint32_t>(share + 1);
        slot.capacity = static_cast<std::uint32_t>(share / slot.record_size);
        slot.count = 0;
        slot.write_pos = slot.buffer;
    }
}

// One run of mdffil_sort: its streams, the input tree, the slot table and the buffers.
struct sort_run {
    std::int16_t in = -1;
    std::int16_t out = -1;
    std::uint8_t *id = nullptr;
    std::uint8_t *hd = nullptr;
    std::vector<sort_dg> dgs;
    std::vector<mdf_sort_slot> slots;
    std::uint64_t data_size = 0; // output data area: record size x records over all groups
    std::uint64_t budget = SORT_BUDGET;

    // Reads the input's tree; false when it is sorted or has no channel group.
    bool gather(const char *name) {
        mdfio_open_default(&in, name, MDFIO_READ);
        mdfblk_read_structure(in, false, &id, &hd);
        bool unsorted = false;
        std::size_t groups = 0;
        for (std::uint8_t *dg = mdfblk_link(hd, HD_FIRST_DG); dg != nullptr;
             dg = mdfblk_link(dg, DG_NEXT_DG)) {
            sort_dg d{dg,
                      mdfblk_link(dg, DG_TRIGGER),
                      mdf_u16(dg, DG_ID_BYTES),
                      mdf_u32(dg, DG_DATA),
                      0,
                      0,
                      groups,
                      {}};
            for (std::uint8_t *cg = mdfblk_link(dg, DG_FIRST_CG); cg != nullptr;
                 cg = mdfblk_link(cg, CG_NEXT_CG)) {
                sort_cg c{cg, {}};
                for (std::uint8_t *cn = mdfblk_link(cg, CG_FIRST_CN); cn != nullptr;
                     cn = mdfblk_link(cn, CN_NEXT_CN))
                    c.cns.push_back({cn, name_block(cn, CN_LONG_NAME),
                                     name_block(cn, CN_DISPLAY_NAME),
                                     range_texts(in, mdfblk_link(cn, CN_CONVERSION))});
                std::uint64_t records = mdf_u32(cg, CG_RECORDS);
                data_size += records * mdf_u16(cg, CG_RECORD_SIZE);
                d.records += records;
                d.area_bytes += records * (mdf_u16(cg, CG_RECORD_SIZE) + std::uint64_t{d.id_bytes});
                d.cgs.push_back(std::move(c));
            }
            groups += d.cgs.size();
            if (d.cgs.size() > 1) unsorted = true;
            dgs.push_back(std::move(d));
        }
        return unsorted && groups > 0;
    }

    // Refuses, before anything is written, an input whose data groups could make the copy put
    // one group's records into another's area or over the blocks, and a copy that would need
    // positions at or beyond 4 GB.
    void check(std::uint64_t input_size) {
        std::size_t groups = 0;
        for (const sort_dg &d : dgs) {
            groups += d.cgs.size();
            if (d.id_bytes > 2) BLOCK_CORRUPT(d.dg, "record identifier bytes other than 0, 1, 2");
            if (d.id_bytes == 0 && d.cgs.size() > 1)
                BLOCK_CORRUPT(d.dg, "several channel groups without identifier bytes");
            if (d.id_bytes > 0) {
                // Record identifiers are 16-bit: one mark per value finds a repeated one.
                std::vector<bool> seen(0x10000, false);
                for (const sort_cg &c : d.cgs) {
                    std::uint16_t rid = mdf_u16(c.cg, CG_RECORD_ID);
                    if (seen[rid])
                        BLOCK_CORRUPT(d.dg, "two channel groups with one record identifier");
                    seen[rid] = true;
                }
            }
        }
        if (groups > 0xFFFF) BLOCK_CORRUPT(hd, "more than 65535 channel groups");
        slots.reserve(groups); // the slot table; out of memory before the output is made
        if (output_size() > SORT_POSITION_LIMIT)
            MDF_CORRUPT(nullptr, 0, "the sorted copy would need positions beyond 4 GiB");
        for (const sort_dg &d : dgs) {
            if (d.records > 0 && d.data_pos + d.area_bytes > input_size)
                DATA_CORRUPT(d.data_pos, "the data group's records run past the end of the file");
            // Records of no bytes take no room, so nothing else bounds their number (the rule of
            // the group open): the copy would count them one by one.
            for (const sort_cg &c : d.cgs)
                if (d.id_bytes == 0 && mdf_u16(c.cg, CG_RECORD_SIZE) == 0 &&
                    mdf_u32(c.cg, CG_RECORDS) > input_size)
                    BLOCK_CORRUPT(c.cg, "more empty records than the file has bytes");
        }
    }

    // The length of the whole copy.
    std::uint64_t output_size() {
        std::uint64_t size = ID_SIZE + block_length(hd) +
                             block_length(mdfblk_link(hd, HD_PROGRAM)) +
                             block_length(comment_block(hd, HD_COMMENT)) + data_size;
        for (const sort_dg &d : dgs) {
            std::uint64_t trigger = 0;
            if (d.tr != nullptr)
                trigger = block_length(d.tr) + block_length(comment_block(d.tr, TR_COMMENT));
            for (const sort_cg &c : d.cgs) {
                size += trigger + block_length(c.cg) +
                        block_length(comment_block(c.cg, CG_COMMENT)) + block_length(d.dg);
                for (const sort_cn &n : c.cns) {
                    size += block_length(n.cn) + block_length(mdfblk_link(n.cn, CN_CONVERSION)) +
                            block_length(mdfblk_link(n.cn, CN_EXTENSION)) +
                            block_length(comment_block(n.cn, CN_COMMENT)) +
                            block_length(n.long_name) + block_length(n.display_name);
                    for (const auto &text : n.range_texts) size += block_length(text.second);
                }
            }
        }
        return size;
    }

    // Appends an image at the output's current position and gives that position (0 for none).
    std::uint32_t put(std::uint8_t *image) {
        if (image == nullptr) return 0;
        std::uint32_t position = static_cast<std::uint32_t>(mdfio_tell(out));
        mdfblk_append(out, image);
        return position;
    }

    // Writes the blocks of the copy and fills the slot table.
    void write_blocks(const char *name) {
        mdfio_open_default(&out, name, MDFIO_CREATE);
        std::uint8_t *pr = mdfblk_link(hd, HD_PROGRAM);
        std::uint8_t *comment = comment_block(hd, HD_COMMENT);
        std::uint32_t pr_pos = 0, comment_pos = 0;
        sort_step(MDF_ERR_FORMAT, [&] {
            put(id);
            {
                // The HD names no data group until it is rewritten at the end of this phase.
                sort_snapshot keep(hd);
                std::uint32_t next = static_cast<std::uint32_t>(HD_POSITION + block_length(hd));
                mdf_set_u32(hd, HD_FIRST_DG, 0);
                mdf_set_u32(hd, HD_PROGRAM, pr != nullptr ? next : 0);
                mdf_set_u32(hd, HD_COMMENT,
                            comment != nullptr ? next + static_cast<std::uint32_t>(block_length(pr))
                                               : 0);
                mdf_set_u16(hd, HD_DG_COUNT, 0);
                put(hd);
            }
            pr_pos = put(pr);
            comment_pos = put(comment);
        });
        std::uint64_t data_pos = mdfio_tell(out);
        sort_step(MDF_ERR_FORMAT, [&] { mdfio_seek(out, data_pos + data_size, MDFIO_SEEK_SET); });

        std::uint32_t last_dg = 0;
        for (sort_dg &d : dgs) {
            for (sort_cg &c : d.cgs) {
                sort_step(MDF_ERR_FORMAT, [&] { last_dg = write_group(d, c, last_dg, data_pos); });
                std::uint8_t *cg = c.cg;
                mdf_sort_slot slot{};
                slot.position = data_pos;
                slot.record_size = mdf_u16(cg, CG_RECORD_SIZE);
                slot.record_id = d.id_bytes > 0 ? mdf_u16(cg, CG_RECORD_ID) : 0;
                slot.records = mdf_u32(cg, CG_RECORDS);
                slots.push_back(slot);
                data_pos += static_cast<std::uint64_t>(slot.record_size) * slot.records;
            }
        }

        sort_step(MDF_ERR_WRITE, [&] {
            sort_snapshot keep(hd);
            mdf_set_u32(hd, HD_FIRST_DG, last_dg);
            mdf_set_u32(hd, HD_PROGRAM, pr_pos);
            mdf_set_u32(hd, HD_COMMENT, comment_pos);
            mdf_set_u16(hd, HD_DG_COUNT, static_cast<std::uint16_t>(slots.size()));
            mdfblk_rewrite(out, hd);
        });
    }

    // A CC with the TX blocks of its value-range-to-text entries written before it; gives the
    // CC's position (0 for none).
    std::uint32_t
    write_conversion(std::uint8_t *cc,
                     const std::vector<std::pair<std::uint16_t, std::uint8_t *>> &texts) {
        if (cc == nullptr) return 0;
        std::vector<std::uint32_t> positions;
        for (const auto &text : texts) positions.push_back(put(text.second));
        sort_snapshot keep(cc);
        for (std::size_t i = 0; i < texts.size(); ++i)
            mdf_set_u32(cc, texts[i].first, positions[i]);
        return put(cc);
    }

    // The blocks of one channel group and its own DG; gives the DG's position.
    std::uint32_t write_group(sort_dg &d, sort_cg &c, std::uint32_t last_dg,
                              std::uint64_t data_pos) {
        std::uint32_t tr_pos = 0;
        if (d.tr != nullptr) {
            std::uint32_t text = put(comment_block(d.tr, TR_COMMENT));
            sort_snapshot keep(d.tr);
            mdf_set_u32(d.tr, TR_COMMENT, text);
            tr_pos = put(d.tr);
        }
        std::uint32_t last_cn = 0;
        for (const sort_cn &n : c.cns) {
            std::uint8_t *cn = n.cn;
            std::uint32_t cc = write_conversion(mdfblk_link(cn, CN_CONVERSION), n.range_texts);
            std::uint32_t ce = put(mdfblk_link(cn, CN_EXTENSION));
            std::uint32_t text = put(comment_block(cn, CN_COMMENT));
            std::uint32_t long_name = put(n.long_name);
            std::uint32_t display_name = put(n.display_name);
            sort_snapshot keep(cn);
            mdf_set_u32(cn, CN_NEXT_CN, last_cn);
            mdf_set_u32(cn, CN_CONVERSION, cc);
            mdf_set_u32(cn, CN_EXTENSION, ce);
            mdf_set_u32(cn, CN_DEPENDENCY, 0);
            mdf_set_u32(cn, CN_COMMENT, text);
            if (mdf_block_size(cn) >= CN_LONG_NAME + 4) mdf_set_u32(cn, CN_LONG_NAME, long_name);
            if (mdf_block_size(cn) >= CN_DISPLAY_NAME + 4)
                mdf_set_u32(cn, CN_DISPLAY_NAME, display_name);
            last_cn = put(cn);
        }
        std::uint32_t cg_pos;
        {
            std::uint32_t text = put(comment_block(c.cg, CG_COMMENT));
            sort_snapshot keep(c.cg);
            mdf_set_u32(c.cg, CG_NEXT_CG, 0);
            mdf_set_u32(c.cg, CG_FIRST_CN, last_cn);
            mdf_set_u32(c.cg, CG_COMMENT, text);
            mdf_set_u16(c.cg, CG_RECORD_ID, 0);
            if (mdf_block_size(c.cg) >= CG_SAMPLE_REDUCTION + 4)
                mdf_set_u32(c.cg, CG_SAMPLE_REDUCTION, 0); // sample reductions are not copied
            cg_pos = put(c.cg);
        }
        sort_snapshot keep(d.dg);
        mdf_set_u32(d.dg, DG_NEXT_DG, last_dg);
        mdf_set_u32(d.dg, DG_FIRST_CG, cg_pos);
        mdf_set_u32(d.dg, DG_TRIGGER, tr_pos);
        mdf_set_u32(d.dg, DG_DATA, static_cast<std::uint32_t>(data_pos));
        mdf_set_u16(d.dg, DG_CG_COUNT, 1);
        mdf_set_u16(d.dg, DG_ID_BYTES, 0);
        return put(d.dg);
    }

    // Writes the slot's buffered records to its place in the data area.
    void flush(mdf_sort_slot &slot) {
        if (slot.count == 0) return;
        std::uint32_t bytes =
            slot.count * slot.record_size; // at most the buffer's size, below 64 KB
        sort_step(MDF_ERR_WRITE, [&] {
            mdfio_seek(out, static_cast<std::int64_t>(slot.position), MDFIO_SEEK_SET);
            mdfio_write(slot.buffer, static_cast<std::uint16_t>(bytes), out);
        });
        slot.position += bytes;
        slot.count = 0;
        slot.write_pos = slot.buffer;
    }

    // One sequential pass over each data group's data area, records collected per group.
    void copy_records() {
        // One window over each data group's area in turn, with room behind it for the last
        // 8-byte word that a record move reads.
        std::unique_ptr<std::uint8_t[]> window(
            new std::uint8_t[SORT_READ_WINDOW + SORT_WORD_SLACK]());
        area_reader reader{window.get(), static_cast<std::uint32_t>(SORT_READ_WINDOW), 0, 0, 0};
        for (sort_dg &d : dgs) copy_data_group(d, reader);
    }

    // One sequential pass over a data group's area: each record to its group's buffer.
    void copy_data_group(sort_dg &d, area_reader &reader) {
        mdf_sort_slot *first = slots.data() + d.first_slot;
        std::size_t n = d.cgs.size();
        std::vector<std::unique_ptr<std::uint8_t[]>> buffers;
        sort_size_buffers(first, n, budget, buffers);
        // Slot of each identifier byte value; checked unique before anything was written.
        std::array<std::int32_t, 256> by_id;
        by_id.fill(-1);
        for (std::size_t i = 0; i < n; ++i)
            if (first[i].record_id < 256) by_id[first[i].record_id] = static_cast<std::int32_t>(i);
        const std::size_t lead = d.id_bytes > 0 ? 1 : 0;
        const std::size_t trailing = d.id_bytes == 2 ? 1 : 0;
        // The longest record of the DG with its identifier bytes: while that many bytes are in
        // the window, records are taken from it through a local pointer.
        std::size_t longest = 0;
        for (std::size_t i = 0; i < n; ++i)
            longest = std::max<std::size_t>(longest, first[i].record_size);
        const std::size_t max_span = lead + longest + trailing;
        const std::uint64_t end = d.data_pos + (d.records > 0 ? d.area_bytes : 0);
        // The window's bytes from base (at file position base_pos) to e; p is the next record.
        std::uint64_t base_pos = d.data_pos;
        const std::uint8_t *base = nullptr, *p = nullptr, *e = nullptr;
        auto at = [&](const std::uint8_t *q) {
            return base_pos + static_cast<std::uint64_t>(q - base);
        };
        for (std::uint64_t k = 0; k < d.records; ++k) {
            if (static_cast<std::size_t>(e - p) < max_span) {
                const std::uint64_t pos = p != nullptr ? at(p) : d.data_pos;
                const auto want =
                    static_cast<std::uint32_t>(std::min<std::uint64_t>(max_span, end - pos));
                if (want == 0) DATA_CORRUPT(pos, "records end early");
                base = p = reader.fetch(in, pos, want, end);
                base_pos = pos;
                e = p + (reader.valid_end() - pos);
            }
            const std::uint8_t *record = p;
            mdf_sort_slot *slot = first;
            if (lead > 0) {
                if (by_id[*p] < 0) foreign_identifier(at(p), *p);
                slot = first + by_id[*p++];
            }
            // More records of one group than its CG declares would run into the next area.
            if (slot->taken == slot->records)
                DATA_CORRUPT(at(record), "more records of a channel group than its CG counts");
            ++slot->taken;
            std::size_t size = slot->record_size;
            if (static_cast<std::size_t>(e - p) < size + trailing)
                DATA_CORRUPT(at(record), "records end early");
            if (size == 0) { // nothing but identifier bytes: counted and skipped
                p += trailing;
                continue;
            }
            sort_move(slot->write_pos, p, size);
            p += size + trailing;
            slot->write_pos += size;
            if (++slot->count == slot->capacity) flush(*slot);
        }
        for (std::size_t i = 0; i < n; ++i) {
            flush(first[i]);
            first[i].buffer = nullptr;
            first[i].write_pos = nullptr;
        }
    }

    // Closes both streams; failures of the closes do not hide the sort's own status.
    void close_streams() {
        if (out != -1) mdflib_catch([&] { mdfio_close(out); });
        if (in != -1) mdflib_catch([&] { mdfio_close(in); });
    }
};

} // namespace

std::int16_t mdffil_test_sorted(const char *name) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        if (mdflib_state.level == 0) mdflib_fail(MDF_ERR_NOT_INIT, "");
        mdflib_require(name != nullptr && name[0] != '\0', "name");
        mdflib_enter_level();
        mdf_file_rec *file = nullptr;
        std::int16_t status = mdflib_catch([&] {
            mdffil_open(&file, name, MDFFIL_READ);
            mdffil_check_sorted(file);
        });
        if (file != nullptr) {
            std::int16_t closed = mdflib_catch([&] { mdffil_close(file); });
            if (status == 0) status = closed;
        }
        mdflib_leave_level();
        if (status != 0) mdflib_raise(status);
    });
}

std::int16_t mdffil_sort(const char *input_name, const char *output_name) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        if (mdflib_state.level == 0) mdflib_fail(MDF_ERR_NOT_INIT, "");
        mdflib_require(input_name != nullptr && input_name[0] != '\0', "input name");
        mdflib_require(output_name != nullptr && output_name[0] != '\0', "output name");
        mdflib_enter_level();
        sort_run run;
        std::int16_t status = mdflib_catch([&] {
            if (!run.gather(input_name)) mdflib_raise(MDF_ALREADY_SORTED);
            run.check(mdfio_size(run.in));
            run.write_blocks(output_name);
            run.copy_records();
        });
        bool created = run.out != -1;
        run.close_streams();
        // An incomplete copy must not be taken for a sorted file.
        if (status != 0 && created) std::remove(output_name);
        mdflib_leave_level();
        if (status != 0) mdflib_raise(status);
    });
}
