// MDF blocks: writing (append, rewrite), storing links, snapshots.
#include "mdfint.h"

void mdfblk_store_link(std::uint8_t *field) {
    std::uint8_t *target = mdfblk_link_target(field);
    if (mdflst_link_find_field(field) == nullptr) mdflib_fail(MDF_ERR_UNKNOWN_LINK);
    if (target == nullptr) {
        mdf_set_u32(field, 0, 0);
        return;
    }
    const mdf_block_node *node = mdfblk_find_node(target);
    std::uint32_t position = node->written_pos != 0 ? node->written_pos : node->read_pos;
    if (position == 0) mdflib_fail(MDF_ERR_UNKNOWN_BLOCK);
    mdf_set_u32(field, 0, position);
}

namespace {

// Writes the image's bytes: its size, or 64 bytes for the block written at 0 (the ID block).
void write_image(std::int16_t io, const mdf_block_node *node) {
    std::uint16_t length = node->written_pos == 0 ? ID_SIZE : mdf_block_size(node->image);
    if (length > node->length) MDF_INTERNAL_ERROR();
    mdfio_write(node->image, length, io);
}

} // namespace

void mdfblk_append(std::int16_t io, std::uint8_t *image) {
    if (image == nullptr) return;
    if (!mdf_block_valid(image)) MDF_INTERNAL_ERROR();
    std::uint64_t current = mdfio_tell(io);
    mdf_block_node *node = mdfblk_find_node(image);
    // A block beyond 4 GB could never be linked.
    if (current > UINT32_MAX) mdflib_fail(MDF_ERR_WRITE);
    node->written_pos = static_cast<std::uint32_t>(current);
    write_image(io, node);
}

void mdfblk_rewrite(std::int16_t io, std::uint8_t *image) {
    if (image == nullptr) return;
    if (!mdf_block_valid(image)) MDF_INTERNAL_ERROR();
    std::uint64_t current = mdfio_tell(io);
    mdf_block_node *node = mdfblk_find_node(image);
    std::uint32_t target = node->written_pos != 0 ? node->written_pos : node->read_pos;
    mdfio_seek(io, target, MDFIO_SEEK_SET);
    node->written_pos = target;
    write_image(io, node);
    mdfio_seek(io, static_cast<std::int64_t>(current), MDFIO_SEEK_SET);
}

void mdfblk_snapshot(std::uint8_t *image) {
    mdf_block_node *node = mdfblk_find_node(image);
    if (node->snapshot != nullptr) MDF_INTERNAL_ERROR();
    auto *copy = static_cast<std::uint8_t *>(mdflib_alloc_or_fail(node->length + 1u));
    std::memcpy(copy, image, node->length);
    node->snapshot = copy;
}

void mdfblk_restore(std::uint8_t *image) {
    mdf_block_node *node = mdfblk_find_node(image);
    if (node->snapshot == nullptr || !mdf_block_valid(node->snapshot)) MDF_INTERNAL_ERROR();
    std::memcpy(image, node->snapshot, node->length);
    mdflib_free(node->snapshot);
    node->snapshot = nullptr;
}
