// The list of block nodes, new ones at the front. A node is found by its image through an index
// kept beside the list; the rare search by read position walks the list and moves the found
// node to the front.
#include "mdfint.h"

namespace {

using list = mdf_list<mdf_block_node, MDF_BLOCK_MAGIC>;
using node_index = mdf_node_index<mdf_block_node>;

} // namespace

void mdflst_block_insert(mdf_block_node *node) {
    list::check(node, __FILE__, __LINE__);
    node_index::add(node->image, node);
    list::insert_front(mdflib_state.blocks, node);
}

std::int16_t mdflst_block_remove(mdf_block_node *node) {
    list::check(node, __FILE__, __LINE__);
    std::int16_t status = list::remove(mdflib_state.blocks, node);
    if (status == 0) mdflst_block_unindex(node);
    return status;
}

mdf_block_node *mdflst_block_find_image(const std::uint8_t *image) {
    mdf_block_node *node = node_index::find(image);
    if (node != nullptr) list::check(node, __FILE__, __LINE__);
    return node;
}

mdf_block_node *mdflst_block_find_position(std::uint32_t position) {
    return list::find_to_front(mdflib_state.blocks, [&](mdf_block_node *n) {
        list::check(n, __FILE__, __LINE__);
        return n->read_pos == position;
    });
}

void mdflst_block_unindex(const mdf_block_node *node) {
    node_index::remove(node->image, node);
}

void mdflst_block_clear_index() {
    node_index::clear();
}
