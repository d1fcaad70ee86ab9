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
#include "mdfint.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr uint32_t SORT_BUDGET = 524288 - 4096;         // copy buffers of one sort, in bytes
constexpr uint32_t SORT_MAX_BUFFER = 0xFF00;            // largest copy buffer (65280 bytes)
constexpr uint16_t SORT_INPUT_BUFFER = 8192;            // buffer size handed to the input's open
constexpr std::size_t SORT_READ_PIECE = 0xFF00;         // bytes per read call of the data area
constexpr std::size_t SORT_READ_WINDOW = 0x40000;       // read-ahead window over the data area
constexpr uint64_t SORT_POSITION_LIMIT = 0xFFFFFFFFull; // last position a LINK can name

// One channel group of the input, in the order the copy meets it.
struct mdf_sort_slot {
    uint64_t position;    // output position where the group's next records go
    uint32_t record_size; // the CG's record size
    uint16_t record_id;   // the CG's record identifier (when its DG has identifier bytes)
    uint8_t *buffer;      // the group's copy buffer, null when the group has no data
    uint32_t capacity;    // records the buffer holds
    uint32_t buffer_size; // the buffer's size in bytes
    uint32_t count;       // records now in the buffer
    uint8_t *write_pos;   // where the next record goes in the buffer
    uint32_t records;     // the CG's number of records
    uint32_t taken;       // records of this group met so far in the data area
};

// The input tree as the sort walks it, gathered once (images belong to the sort's level).
struct sort_cg {
    uint8_t *cg;
    std::vector<uint8_t *> cns; // input chain order
};
struct sort_dg {
    uint8_t *dg;
    uint8_t *tr;              // TR block or null
    uint16_t id_bytes;        // number of record identifier bytes (0, 1, 2)
    uint32_t data_pos;        // the input's data area of this DG
    uint64_t records;         // N: records of all its CGs
    uint64_t area_bytes;      // its data area's length in the input, identifier bytes included
    std::size_t first_slot;   // its first slot in the slot table
    std::vector<sort_cg> cgs; // CG chain order
};

// The progress hook of the copy phase: called with the data group's number of records and the
// index of the record just read whenever a buffer is flushed. It does nothing.
void sort_progress(uint64_t, uint64_t) {}

uint64_t block_length(const uint8_t *image) {
    return image == nullptr ? 0 : mdfblk_length(image);
}

// The comment block linked at offset, when it is a TX block; null otherwise (a block of another
// type would carry the input's positions into the copy).
uint8_t *comment_block(uint8_t *image, uint16_t offset) {
    uint8_t *text = mdfblk_link(image, offset);
    return mdf_block_is(text, MDFBLK_TX) ? text : nullptr;
}

// Keeps a copy of an input image for the time it is changed for the output.
struct sort_snapshot {
    uint8_t *image;
    explicit sort_snapshot(uint8_t *img) : image(img) { mdfblk_snapshot(image); }
    ~sort_snapshot() { mdfblk_restore(image); }
    sort_snapshot(const sort_snapshot &) = delete;
    sort_snapshot &operator=(const sort_snapshot &) = delete;
};

// Runs step and turns any failure into code (reported with an empty detail unless step failed
// with that very code, which is reported already).
template <class F>
void sort_step(int16_t code, F &&step) {
    int16_t status = mdflib_catch(step);
    if (status == 0) return;
    if (status == code || status == MDF_ERR_MEMORY) mdflib_raise(status);
    mdflib_fail(code, "");
}

// A read-ahead window over one data group's data area: the area is read in large pieces and
// handed out record by record.
struct sort_reader {
    int16_t io = -1;
    std::unique_ptr<uint8_t[]> window;
    std::size_t at = 0, end = 0;
    uint64_t left = 0; // bytes of the area not yet read

    void start(int16_t handle, uint32_t position, uint64_t length) {
        io = handle;
        if (!window) window = std::make_unique<uint8_t[]>(SORT_READ_WINDOW);
        at = end = 0;
        left = length;
        if (length > 0)
            sort_step(MDF_ERR_FORMAT, [&] { mdfio_seek(io, position, MDFIO_SEEK_SET); });
    }
    // The next n bytes of the area (n at most 65537); -2004 when the area ends first.
    const uint8_t *need(std::size_t n) {
        if (end - at >= n) return window.get() + at;
        std::memmove(window.get(), window.get() + at, end - at);
        end -= at;
        at = 0;
        std::size_t want =
            static_cast<std::size_t>(std::min<uint64_t>(SORT_READ_WINDOW - end, left));
        if (end + want < n) mdflib_fail(MDF_ERR_FORMAT, "");
        sort_step(MDF_ERR_FORMAT, [&] {
            while (want > 0) {
                std::size_t piece = std::min(want, SORT_READ_PIECE);
                mdfio_read(window.get() + end, static_cast<uint16_t>(piece), io);
                end += piece;
                left -= piece;
                want -= piece;
            }
        });
        return window.get() + at;
    }
    void skip(std::size_t n) { at += n; }
};

// Buffer sizes of one data group's slots: the budget is shared in proportion to each group's
// data size S, none above 65280 bytes and none below one record; what a capped group cannot use
// is carried to the following groups. The budget runs across the whole sort and is not given
// back when buffers are released; it never drops below 0. Allocates the buffers into owned.
void sort_size_buffers(mdf_sort_slot *slots, std::size_t n, uint64_t &budget,
                       std::vector<std::unique_ptr<uint8_t[]>> &owned) {
    uint64_t total = 0;
    for (std::size_t i = 0; i < n; ++i)
        total += static_cast<uint64_t>(slots[i].record_size) * slots[i].records;
    if (total == 0) return;
    std::vector<uint64_t> shares(n, 0);
    uint64_t carry = 0;
    for (std::size_t i = 0; i < n; ++i) {
        uint64_t size = static_cast<uint64_t>(slots[i].record_size) * slots[i].records;
        if (size == 0) continue;
        double part =
            static_cast<double>(budget) * static_cast<double>(size) / static_cast<double>(total);
        uint64_t share = std::min(static_cast<uint64_t>(part), size) + slots[i].record_size;
        if (share > SORT_MAX_BUFFER) {
            carry += share - SORT_MAX_BUFFER;
            share = SORT_MAX_BUFFER;
        }
        shares[i] = share;
    }
    for (std::size_t i = 0; i < n; ++i) {
        mdf_sort_slot &slot = slots[i];
        uint64_t size = static_cast<uint64_t>(slot.record_size) * slot.records;
        if (size == 0) continue;
        uint64_t share = shares[i];
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
        owned.push_back(std::make_unique<uint8_t[]>(share + 1));
        slot.buffer = owned.back().get();
        slot.buffer_size = static_cast<uint32_t>(share + 1);
        slot.capacity = static_cast<uint32_t>(share / slot.record_size);
        slot.count = 0;
        slot.write_pos = slot.buffer;
    }
}

// One run of mdffil_sort: its streams, the input tree, the slot table and the buffers.
struct sort_run {
    int16_t in = -1;
    int16_t out = -1;
    uint8_t *id = nullptr;
    uint8_t *hd = nullptr;
    std::vector<sort_dg> dgs;
    std::vector<mdf_sort_slot> slots;
    uint64_t data_size = 0; // output data area: record size x records over all groups
    uint64_t budget = SORT_BUDGET;

    // Reads the input's tree; false when it is sorted or has no channel group.
    bool gather(const char *name) {
        mdfio_open(&in, name, MDFIO_READ | MDFIO_STREAM, SORT_INPUT_BUFFER);
        mdfblk_read_structure(in, false, &id, &hd);
        bool unsorted = false;
        std::size_t groups = 0;
        for (uint8_t *dg = mdfblk_link(hd, HD_FIRST_DG); dg != nullptr;
             dg = mdfblk_link(dg, DG_NEXT_DG)) {
            sort_dg d{dg,
                      mdfblk_link(dg, DG_TRIGGER),
                      mdf_u16(dg, DG_ID_BYTES),
                      mdf_u32(dg, DG_DATA),
                      0,
                      0,
                      groups,
                      {}};
            for (uint8_t *cg = mdfblk_link(dg, DG_FIRST_CG); cg != nullptr;
                 cg = mdfblk_link(cg, CG_NEXT_CG)) {
                sort_cg c{cg, {}};
                for (uint8_t *cn = mdfblk_link(cg, CG_FIRST_CN); cn != nullptr;
                     cn = mdfblk_link(cn, CN_NEXT_CN))
                    c.cns.push_back(cn);
                uint64_t records = mdf_u32(cg, CG_RECORDS);
                data_size += records * mdf_u16(cg, CG_RECORD_SIZE);
                d.records += records;
                d.area_bytes += records * (mdf_u16(cg, CG_RECORD_SIZE) + uint64_t{d.id_bytes});
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
    void check(uint64_t input_size) {
        std::size_t groups = 0;
        for (const sort_dg &d : dgs) {
            groups += d.cgs.size();
            if (d.id_bytes > 2) mdflib_fail(MDF_ERR_FORMAT, "");
            if (d.id_bytes == 0 && d.cgs.size() > 1) mdflib_fail(MDF_ERR_FORMAT, "");
            if (d.id_bytes > 0) {
                for (std::size_t i = 0; i < d.cgs.size(); ++i) {
                    uint16_t rid = mdf_u16(d.cgs[i].cg, CG_RECORD_ID);
                    for (std::size_t j = 0; j < i; ++j)
                        if (mdf_u16(d.cgs[j].cg, CG_RECORD_ID) == rid)
                            mdflib_fail(MDF_ERR_FORMAT, "");
                }
            }
        }
        if (groups > 0xFFFF) mdflib_fail(MDF_ERR_FORMAT, ""); // HD's number of data groups
        slots.reserve(groups); // the slot table; out of memory before the output is made
        if (output_size() > SORT_POSITION_LIMIT) mdflib_fail(MDF_ERR_FORMAT, "");
        for (const sort_dg &d : dgs)
            if (d.records > 0 && d.data_pos + d.area_bytes > input_size)
                mdflib_fail(MDF_ERR_FORMAT, "");
    }

    // The length of the whole copy.
    uint64_t output_size() {
        uint64_t size = ID_SIZE + block_length(hd) + block_length(mdfblk_link(hd, HD_PROGRAM)) +
                        block_length(comment_block(hd, HD_COMMENT)) + data_size;
        for (const sort_dg &d : dgs) {
            uint64_t trigger = 0;
            if (d.tr != nullptr)
                trigger = block_length(d.tr) + block_length(comment_block(d.tr, TR_COMMENT));
            for (const sort_cg &c : d.cgs) {
                size += trigger + block_length(c.cg) +
                        block_length(comment_block(c.cg, CG_COMMENT)) + block_length(d.dg);
                for (uint8_t *cn : c.cns)
                    size += block_length(cn) + block_length(mdfblk_link(cn, CN_CONVERSION)) +
                            block_length(mdfblk_link(cn, CN_EXTENSION)) +
                            block_length(comment_block(cn, CN_COMMENT));
            }
        }
        return size;
    }

    // Appends an image at the output's current position and gives that position (0 for none).
    uint32_t put(uint8_t *image) {
        if (image == nullptr) return 0;
        uint32_t position = static_cast<uint32_t>(mdfio_tell64(out));
        mdfblk_append(out, image);
        return position;
    }

    // Writes the blocks of the copy and fills the slot table.
    void write_blocks(const char *name) {
        mdfio_open_default(&out, name, MDFIO_CREATE);
        uint8_t *pr = mdfblk_link(hd, HD_PROGRAM);
        uint8_t *comment = comment_block(hd, HD_COMMENT);
        uint32_t pr_pos = 0, comment_pos = 0;
        sort_step(MDF_ERR_FORMAT, [&] {
            put(id);
            {
                // The HD names no data group until it is rewritten at the end of this phase.
                sort_snapshot keep(hd);
                uint32_t next = static_cast<uint32_t>(HD_POSITION + block_length(hd));
                mdf_set_u32(hd, HD_FIRST_DG, 0);
                mdf_set_u32(hd, HD_PROGRAM, pr != nullptr ? next : 0);
                mdf_set_u32(hd, HD_COMMENT,
                            comment != nullptr ? next + static_cast<uint32_t>(block_length(pr))
                                               : 0);
                mdf_set_u16(hd, HD_DG_COUNT, 0);
                put(hd);
            }
            pr_pos = put(pr);
            comment_pos = put(comment);
        });
        uint64_t data_pos = mdfio_tell64(out);
        sort_step(MDF_ERR_FORMAT, [&] { mdfio_seek(out, data_pos + data_size, MDFIO_SEEK_SET); });

        uint32_t last_dg = 0;
        for (sort_dg &d : dgs) {
            for (sort_cg &c : d.cgs) {
                sort_step(MDF_ERR_FORMAT, [&] { last_dg = write_group(d, c, last_dg, data_pos); });
                uint8_t *cg = c.cg;
                mdf_sort_slot slot{};
                slot.position = data_pos;
                slot.record_size = mdf_u16(cg, CG_RECORD_SIZE);
                slot.record_id = d.id_bytes > 0 ? mdf_u16(cg, CG_RECORD_ID) : 0;
                slot.records = mdf_u32(cg, CG_RECORDS);
                slots.push_back(slot);
                data_pos += static_cast<uint64_t>(slot.record_size) * slot.records;
            }
        }

        sort_step(MDF_ERR_WRITE, [&] {
            sort_snapshot keep(hd);
            mdf_set_u32(hd, HD_FIRST_DG, last_dg);
            mdf_set_u32(hd, HD_PROGRAM, pr_pos);
            mdf_set_u32(hd, HD_COMMENT, comment_pos);
            mdf_set_u16(hd, HD_DG_COUNT, static_cast<uint16_t>(slots.size()));
            mdfblk_rewrite(out, hd);
        });
    }

    // The blocks of one channel group and its own DG; gives the DG's position.
    uint32_t write_group(sort_dg &d, sort_cg &c, uint32_t last_dg, uint64_t data_pos) {
        uint32_t tr_pos = 0;
        if (d.tr != nullptr) {
            uint32_t text = put(comment_block(d.tr, TR_COMMENT));
            sort_snapshot keep(d.tr);
            mdf_set_u32(d.tr, TR_COMMENT, text);
            tr_pos = put(d.tr);
        }
        uint32_t last_cn = 0;
        for (uint8_t *cn : c.cns) {
            uint32_t cc = put(mdfblk_link(cn, CN_CONVERSION));
            uint32_t ce = put(mdfblk_link(cn, CN_EXTENSION));
            uint32_t text = put(comment_block(cn, CN_COMMENT));
            sort_snapshot keep(cn);
            mdf_set_u32(cn, CN_NEXT_CN, last_cn);
            mdf_set_u32(cn, CN_CONVERSION, cc);
            mdf_set_u32(cn, CN_EXTENSION, ce);
            mdf_set_u32(cn, CN_DEPENDENCY, 0);
            mdf_set_u32(cn, CN_COMMENT, text);
            last_cn = put(cn);
        }
        uint32_t cg_pos;
        {
            uint32_t text = put(comment_block(c.cg, CG_COMMENT));
            sort_snapshot keep(c.cg);
            mdf_set_u32(c.cg, CG_NEXT_CG, 0);
            mdf_set_u32(c.cg, CG_FIRST_CN, last_cn);
            mdf_set_u32(c.cg, CG_COMMENT, text);
            mdf_set_u16(c.cg, CG_RECORD_ID, 0);
            cg_pos = put(c.cg);
        }
        sort_snapshot keep(d.dg);
        mdf_set_u32(d.dg, DG_NEXT_DG, last_dg);
        mdf_set_u32(d.dg, DG_FIRST_CG, cg_pos);
        mdf_set_u32(d.dg, DG_TRIGGER, tr_pos);
        mdf_set_u32(d.dg, DG_DATA, static_cast<uint32_t>(data_pos));
        mdf_set_u16(d.dg, DG_CG_COUNT, 1);
        mdf_set_u16(d.dg, DG_ID_BYTES, 0);
        return put(d.dg);
    }

    // Writes the slot's buffered records to its place in the data area.
    void flush(mdf_sort_slot &slot) {
        if (slot.count == 0) return;
        uint32_t bytes = slot.count * slot.record_size; // at most the buffer's size, below 64 KB
        sort_step(MDF_ERR_WRITE, [&] {
            mdfio_seek(out, static_cast<int64_t>(slot.position), MDFIO_SEEK_SET);
            mdfio_write(slot.buffer, static_cast<uint16_t>(bytes), out);
        });
        slot.position += bytes;
        slot.count = 0;
        slot.write_pos = slot.buffer;
    }

    // One sequential pass over each data group's data area, records collected per group.
    void copy_records() {
        sort_reader reader;
        for (sort_dg &d : dgs) {
            mdf_sort_slot *first = slots.data() + d.first_slot;
            std::size_t n = d.cgs.size();
            std::vector<std::unique_ptr<uint8_t[]>> buffers;
            sort_size_buffers(first, n, budget, buffers);
            // Slot of each identifier byte value; checked unique before anything was written.
            std::array<int32_t, 256> by_id;
            by_id.fill(-1);
            for (std::size_t i = 0; i < n; ++i)
                if (first[i].record_id < 256) by_id[first[i].record_id] = static_cast<int32_t>(i);
            const std::size_t trailing = d.id_bytes == 2 ? 1 : 0;

            reader.start(in, d.data_pos, d.records > 0 ? d.area_bytes : 0);
            for (uint64_t k = 0; k < d.records; ++k) {
                mdf_sort_slot *slot = first;
                if (d.id_bytes > 0) {
                    int32_t index = by_id[*reader.need(1)];
                    if (index < 0) mdflib_fail(MDF_ERR_FORMAT, "");
                    reader.skip(1);
                    slot = first + index;
                }
                // More records of one group than its CG declares would run into the next area.
                if (slot->taken == slot->records) mdflib_fail(MDF_ERR_FORMAT, "");
                ++slot->taken;
                std::size_t size = slot->record_size;
                if (size == 0) { // nothing but identifier bytes: counted and skipped
                    reader.need(trailing);
                    reader.skip(trailing);
                    continue;
                }
                std::memcpy(slot->write_pos, reader.need(size + trailing), size);
                reader.skip(size + trailing);
                slot->write_pos += size;
                if (++slot->count == slot->capacity) {
                    flush(*slot);
                    sort_progress(d.records, k);
                }
            }
            for (std::size_t i = 0; i < n; ++i) {
                flush(first[i]);
                first[i].buffer = nullptr;
                first[i].write_pos = nullptr;
            }
        }
    }

    // Closes both streams; failures of the closes do not hide the sort's own status.
    void close_streams() {
        if (out != -1) mdflib_catch([&] { mdfio_close(out); });
        if (in != -1) mdflib_catch([&] { mdfio_close(in); });
    }
};

} // namespace

int16_t mdffil_test_sorted(const char *name) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        if (mdflib_state.level == 0) mdflib_fail(MDF_ERR_NOT_INIT, "");
        mdflib_enter_level();
        mdf_file_rec *file = nullptr;
        int16_t status = mdflib_catch([&] {
            mdffil_open(&file, name, MDFFIL_READ);
            mdffil_check_sorted(file);
        });
        if (file != nullptr) {
            int16_t closed = mdflib_catch([&] { mdffil_close(file); });
            if (status == 0) status = closed;
        }
        mdflib_leave_level();
        if (status != 0) mdflib_raise(status);
    });
}

int16_t mdffil_sort(const char *input_name, const char *output_name) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        if (mdflib_state.level == 0) mdflib_fail(MDF_ERR_NOT_INIT, "");
        mdflib_enter_level();
        sort_run run;
        int16_t status = mdflib_catch([&] {
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
