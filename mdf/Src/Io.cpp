// MDFLIB file I/O: buffered streams behind small integer handles, with the position and the
// file length tracked in 64 bits so that files beyond 2 and 4 GB open everywhere.
#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64
#endif
#include "mdfint.h"

#include <cinttypes>
#include <cstdio>

namespace {

constexpr std::uint8_t last_none = 0;
constexpr std::uint8_t last_read = 1;
constexpr std::uint8_t last_write = 2;

mdf_io_node *io_list = nullptr; // open files, new ones at the front
std::uint32_t stream_seeks = 0; // seeks made on streams, for the tests of the seek elision

// The one place that positions a stream: 64-bit on every platform.
int stream_seek(std::FILE *f, std::int64_t offset, int whence) {
    ++stream_seeks;
#ifdef _WIN32
    return _fseeki64(f, offset, whence);
#else
    return fseeko(f, static_cast<off_t>(offset), whence);
#endif
}

std::int64_t stream_tell(std::FILE *f) {
#ifdef _WIN32
    return _ftelli64(f);
#else
    return static_cast<std::int64_t>(ftello(f));
#endif
}

// The smallest handle not in use.
std::int16_t free_handle() {
    for (std::int16_t h = 0;; ++h) {
        bool used = false;
        for (mdf_io_node *n = io_list; n != nullptr && !used; n = n->next) used = n->handle == h;
        if (!used) return h;
    }
}

// After a failed transfer or seek, stream and recorded position both stand at 0.
void reset_to_start(mdf_io_node *node) {
    node->position = 0;
    node->last_op = last_none;
    stream_seek(node->stream, 0, SEEK_SET);
}

// The C stream rules require a positioning call between a write and a read (either order).
void switch_direction(mdf_io_node *node, std::uint8_t op) {
    if (node->last_op != last_none && node->last_op != op)
        stream_seek(node->stream, static_cast<std::int64_t>(node->position), SEEK_SET);
    node->last_op = op;
}

} // namespace

mdf_io_node *mdfio_find(std::int16_t handle) {
    for (mdf_io_node **p = &io_list; *p != nullptr; p = &(*p)->next) {
        mdf_io_node *node = *p;
        if (node->handle == handle) {
            *p = node->next;
            node->next = io_list;
            io_list = node;
            return node;
        }
    }
    MDF_INTERNAL_ERROR();
}

void mdfio_open(std::int16_t *handle, const char *name, std::uint16_t mode) {
    *handle = -1;
    const char *stream_mode = nullptr;
    switch (mode & 0xFF) {
    case MDFIO_READ: stream_mode = "rb"; break;
    case MDFIO_UPDATE: stream_mode = "rb+"; break;
    case MDFIO_CREATE:
        stream_mode = "wb+";
        std::remove(name);
        break;
    default: MDF_INTERNAL_ERROR();
    }
    if ((mode & MDFIO_STREAM) == 0) MDF_INTERNAL_ERROR();
    std::FILE *stream = std::fopen(name, stream_mode);
    if (stream == nullptr) mdflib_fail(MDF_NOTE_OPEN_FAILED, name);
    auto *node = mdflib_new<mdf_io_node>();
    if (node == nullptr) {
        std::fclose(stream);
        mdflib_fail(MDF_ERR_MEMORY);
    }
    std::int64_t size = -1;
    if (stream_seek(stream, 0, SEEK_END) == 0) size = stream_tell(stream);
    if (size < 0) {
        // The stream and the node are not kept: nothing refers to them.
        std::fclose(stream);
        mdflib_free(node);
        mdflib_fail(MDF_ERR_SEEK);
    }
    stream_seek(stream, 0, SEEK_SET);
    node->handle = free_handle();
    node->stream = stream;
    node->mode = mode;
    node->position = 0;
    node->size = static_cast<std::uint64_t>(size);
    node->last_op = last_none;
    node->next = io_list;
    io_list = node;
    *handle = node->handle;
}

void mdfio_open_default(std::int16_t *handle, const char *name, std::uint16_t access) {
    mdfio_open(handle, name, static_cast<std::uint16_t>(access | mdflib_state.io_mode_bits));
}

void mdfio_close(std::int16_t handle) {
    mdf_io_node *node = mdfio_find(handle);
    std::fclose(node->stream);
    if (io_list != node) MDF_INTERNAL_ERROR();
    io_list = node->next;
    mdflib_free(node);
}

void mdfio_close_all() {
    while (io_list != nullptr) mdfio_close(io_list->handle);
}

void mdfio_read(void *buffer, std::uint16_t length, std::int16_t handle) {
    mdf_io_node *node = mdfio_find(handle);
    switch_direction(node, last_read);
    if (std::fread(buffer, length, 1, node->stream) != 1) {
        char detail[96];
        std::snprintf(detail, sizeof detail, "(%u bytes at %" PRIu64 "%s)",
                      static_cast<unsigned>(length), node->position,
                      node->position + length > node->size ? ": the file ends first" : "");
        reset_to_start(node);
        mdflib_fail(MDF_ERR_READ, detail);
    }
    node->position += length;
}

void mdfio_write(const void *buffer, std::uint16_t length, std::int16_t handle) {
    mdf_io_node *node = mdfio_find(handle);
    switch_direction(node, last_write);
    if (std::fwrite(buffer, length, 1, node->stream) != 1) {
        char detail[64];
        std::snprintf(detail, sizeof detail, "(%u bytes at %" PRIu64 ")",
                      static_cast<unsigned>(length), node->position);
        reset_to_start(node);
        mdflib_fail(MDF_ERR_WRITE, detail);
    }
    node->position += length;
    if (node->position > node->size) node->size = node->position;
    ++node->writes;
}

void mdfio_seek(std::int16_t handle, std::int64_t offset, std::int16_t mode) {
    mdf_io_node *node = mdfio_find(handle);
    std::int64_t target = 0;
    switch (mode) {
    case MDFIO_SEEK_SET: target = offset; break;
    case MDFIO_SEEK_CUR: target = static_cast<std::int64_t>(node->position) + offset; break;
    case MDFIO_SEEK_END: target = static_cast<std::int64_t>(node->size); break;
    default: MDF_INTERNAL_ERROR();
    }
    if (target >= 0 && static_cast<std::uint64_t>(target) == node->position) return;
    if (target < 0 || stream_seek(node->stream, target, SEEK_SET) != 0) {
        reset_to_start(node);
        char detail[24];
        std::snprintf(detail, sizeof detail, "%" PRId64, offset);
        mdflib_fail(MDF_ERR_SEEK, detail);
    }
    node->position = static_cast<std::uint64_t>(target);
    node->last_op = last_none;
    if (node->position > node->size) node->size = node->position;
}

std::uint64_t mdfio_tell(std::int16_t handle) {
    return mdfio_find(handle)->position;
}

std::uint32_t mdfio_writes(std::int16_t handle) {
    return mdfio_find(handle)->writes;
}

std::uint64_t mdfio_size(std::int16_t handle) {
    return mdfio_find(handle)->size;
}

std::uint32_t mdfio_stream_seeks() {
    return stream_seeks;
}
