// MDF files: open, close with write-back, group count, sorted check, file information.
#include "mdfint.h"

namespace {

// Buffers shared by all files for the texts handed out by mdffil_info.
char date_buffer[HD_DATE_LEN + 1];
char time_buffer[HD_TIME_LEN + 1];
char empty_text[1] = "";
// Terminated copies of author, division, project and subject when they fill their field.
char field_buffers[4][HD_TEXT_LEN + 1];

constexpr std::uint16_t hd_text_fields[4] = {HD_AUTHOR, HD_DIVISION, HD_PROJECT, HD_SUBJECT};

// Writes the comment and the HD of a file opened for update or creation.
void write_back(mdf_file_rec *file) {
    mdfio_seek(file->io, 0, MDFIO_SEEK_END);
    mdfblk_append(file->io, mdfblk_link(file->hd, HD_COMMENT));
    mdfblk_store_link(file->hd + HD_COMMENT);
    mdfblk_rewrite(file->io, file->hd);
}

} // namespace

std::int16_t mdffil_open(mdf_file_rec **file, const char *name, std::int16_t mode) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        mdflib_require(file != nullptr, "file");
        mdflib_require(name != nullptr && name[0] != '\0', "name");
        *file = nullptr;
        if (mdflib_state.level == 0) mdflib_fail(MDF_ERR_NOT_INIT);
        if (mode != MDFFIL_READ && mode != MDFFIL_UPDATE && mode != MDFFIL_CREATE)
            mdflib_fail(MDF_ERR_OPEN_MODE);
        std::int16_t io = -1;
        mdf_file_rec *rec = nullptr;
        std::int16_t status = mdflib_catch([&] {
            mdfio_open_default(&io, name, static_cast<std::uint16_t>(mode));
            rec = mdflib_new_or_fail<mdf_file_rec>();
            rec->magic = MDF_FILE_MAGIC;
            rec->level = mdflib_state.level;
            rec->io = -1;
            *file = rec;
            rec->io = io;
            mdflib_strlcpy(rec->name, name, sizeof rec->name - 1);
            rec->mode = mode;
            rec->index = mdfblk_index_new();
            if (mode == MDFFIL_CREATE) {
                rec->id = mdfblk_new(MDFBLK_ID);
                rec->version = ID_VERSION_200;
                mdfio_seek(io, 0, MDFIO_SEEK_SET);
                mdfblk_append(io, rec->id);
                rec->hd = mdfblk_new(MDFBLK_HD);
                mdfblk_append(io, rec->hd);
            } else {
                mdfblk_read_structure(io, true, &rec->id, &rec->hd, rec->index);
                if (mode == MDFFIL_UPDATE && mdf_u16(rec->id, ID_FLOAT_FORMAT) != MDF_FLOAT_IEEE)
                    mdflib_fail(MDF_ERR_FLOAT_FORMAT);
                rec->version = mdf_id_version(rec->id);
                rec->big_endian = mdf_id_big_endian(rec->id);
                // The CGs counted along each DG's CG chain (the index was made as they were read).
                rec->groups = mdfblk_index_groups(rec);
            }
            mdflst_file_insert(rec);
        });
        if (status != 0) {
            if (io != -1) mdfio_close(io);
            if (rec != nullptr) mdflst_file_release(rec);
            *file = nullptr;
            mdflib_raise(status);
        }
    });
}

std::int16_t mdffil_close(mdf_file_rec *file) {
    return mdflib_call(MDF_GUARD_NO_STICKY, [&] {
        if (file == nullptr) return;
        mdflib_gate(file);
        // Every open group of this file is closed first (a created group writes its blocks);
        // the first failing close is remembered and the file is closed whatever it gave.
        std::int16_t status = 0;
        for (mdf_group_rec *g = mdflib_state.groups, *next; g != nullptr; g = next) {
            next = g->next;
            if (g->file != file) continue;
            std::int16_t group_status = mdflib_catch([&] { mdfgrp_close(g); });
            if (status == 0) status = group_status;
        }
        if (mdflib_state.sticky_error == 0 &&
            (file->mode == MDFFIL_UPDATE || file->mode == MDFFIL_CREATE))
            if (std::int16_t wb = mdflib_catch([&] { write_back(file); }); status == 0) status = wb;
        // Whatever the write-back gave: close the stream and release the record.
        if (file->io != -1) mdfio_close(file->io);
        file->io = -1;
        mdflst_file_remove(file);
        mdflst_file_release(file);
        if (status != 0) mdflib_raise(status);
    });
}

std::int16_t mdffil_version(mdf_file_rec *file, std::uint16_t *version, std::uint16_t *byte_order) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        mdflib_gate(file);
        if (version != nullptr) *version = file->version;
        if (byte_order != nullptr) *byte_order = file->big_endian ? 1 : 0;
    });
}

std::int16_t mdffil_groups(std::uint16_t *count, mdf_file_rec *file) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        mdflib_gate(file);
        mdflib_require(count != nullptr, "count");
        *count = file->groups;
    });
}

std::int16_t mdffil_check_sorted(mdf_file_rec *file) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        mdflib_gate(file);
        for (std::uint8_t *dg = mdfblk_link(file->hd, HD_FIRST_DG); dg != nullptr;
             dg = mdfblk_link(dg, DG_NEXT_DG))
            if (mdfblk_index_cg_count(file, dg) > 1) mdflib_raise(MDF_NOT_SORTED);
    });
}

std::int16_t mdffil_info(mdf_file_rec *file, const char **date, const char **time,
                         const char **comment, const char **author, const char **division,
                         const char **project, const char **subject) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        mdflib_gate(file);
        std::uint8_t *hd = file->hd;
        if (date != nullptr) {
            mdflib_strlcpy(date_buffer, reinterpret_cast<const char *>(hd + HD_DATE), HD_DATE_LEN);
            *date = date_buffer;
        }
        if (time != nullptr) {
            mdflib_strlcpy(time_buffer, reinterpret_cast<const char *>(hd + HD_TIME), HD_TIME_LEN);
            *time = time_buffer;
        }
        if (comment != nullptr) {
            const std::uint8_t *tx = mdfblk_link(hd, HD_COMMENT);
            *comment = tx != nullptr ? reinterpret_cast<const char *>(tx + TX_TEXT) : empty_text;
        }
        const char **texts[4] = {author, division, project, subject};
        for (int i = 0; i < 4; ++i)
            if (texts[i] != nullptr)
                *texts[i] = mdf_field_text(hd + hd_text_fields[i], HD_TEXT_LEN, field_buffers[i]);
    });
}

std::int16_t mdffil_date(mdf_file_rec *file, const char **date) {
    return mdffil_info(file, date, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}
std::int16_t mdffil_time(mdf_file_rec *file, const char **time) {
    return mdffil_info(file, nullptr, time, nullptr, nullptr, nullptr, nullptr, nullptr);
}
std::int16_t mdffil_comment(mdf_file_rec *file, const char **comment) {
    return mdffil_info(file, nullptr, nullptr, comment, nullptr, nullptr, nullptr, nullptr);
}
std::int16_t mdffil_author(mdf_file_rec *file, const char **author) {
    return mdffil_info(file, nullptr, nullptr, nullptr, author, nullptr, nullptr, nullptr);
}
std::int16_t mdffil_division(mdf_file_rec *file, const char **division) {
    return mdffil_info(file, nullptr, nullptr, nullptr, nullptr, division, nullptr, nullptr);
}
std::int16_t mdffil_project(mdf_file_rec *file, const char **project) {
    return mdffil_info(file, nullptr, nullptr, nullptr, nullptr, nullptr, project, nullptr);
}
std::int16_t mdffil_subject(mdf_file_rec *file, const char **subject) {
    return mdffil_info(file, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, subject);
}

std::int16_t mdffil_set_info(mdf_file_rec *file, const char *date, const char *time,
                             const char *comment, const char *author, const char *division,
                             const char *project, const char *subject) {
    return mdflib_call(MDF_GUARD_STICKY, [&] {
        mdflib_gate(file);
        std::uint8_t *hd = file->hd;
        if (date != nullptr)
            mdflib_strncpy(reinterpret_cast<char *>(hd + HD_DATE), date, HD_DATE_LEN);
        if (time != nullptr)
            mdflib_strncpy(reinterpret_cast<char *>(hd + HD_TIME), time, HD_TIME_LEN);
        if (comment != nullptr) {
            std::size_t length = std::strlen(comment);
            std::uint8_t *tx = length > 0 ? mdfblk_new_text(length, comment) : nullptr;
            mdfblk_set_link(hd + HD_COMMENT, 0, tx);
        }
        // Each text is cut to 31 characters so that its zero byte stays inside the field.
        const char *texts[4] = {author, division, project, subject};
        for (int i = 0; i < 4; ++i)
            if (texts[i] != nullptr)
                mdflib_strlcpy(reinterpret_cast<char *>(hd + hd_text_fields[i]), texts[i],
                               HD_TEXT_LEN - 1);
    });
}

std::int16_t mdffil_set_date(mdf_file_rec *file, const char *date) {
    return mdffil_set_info(file, date, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}
std::int16_t mdffil_set_time(mdf_file_rec *file, const char *time) {
    return mdffil_set_info(file, nullptr, time, nullptr, nullptr, nullptr, nullptr, nullptr);
}
std::int16_t mdffil_set_comment(mdf_file_rec *file, const char *comment) {
    return mdffil_set_info(file, nullptr, nullptr, comment, nullptr, nullptr, nullptr, nullptr);
}
std::int16_t mdffil_set_author(mdf_file_rec *file, const char *author) {
    return mdffil_set_info(file, nullptr, nullptr, nullptr, author, nullptr, nullptr, nullptr);
}
std::int16_t mdffil_set_division(mdf_file_rec *file, const char *division) {
    return mdffil_set_info(file, nullptr, nullptr, nullptr, nullptr, division, nullptr, nullptr);
}
std::int16_t mdffil_set_project(mdf_file_rec *file, const char *project) {
    return mdffil_set_info(file, nullptr, nullptr, nullptr, nullptr, nullptr, project, nullptr);
}
std::int16_t mdffil_set_subject(mdf_file_rec *file, const char *subject) {
    return mdffil_set_info(file, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, subject);
}
