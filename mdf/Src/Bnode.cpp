// The list of block nodes, new ones at the front; searches move the found node to the front.
#include "mdfint.h"

namespace {
using list = mdf_list<mdf_block_node, MDF_BLOCK_MAGIC>;
}

void mdflst_block_insert(mdf_block_node *node) {
    list::check(node, __FILE__, __LINE__);
    list::insert_front(mdflib_state.blocks, node);
}

int16_t mdflst_block_remove(mdf_block_node *node) {
    list::check(node, __FILE__, __LINE__);
    return list::remove(mdflib_state.blocks, node);
}

// Takes the node off the list and frees it (not its image).
void mdflst_block_release(mdf_block_node *node) {
    list::check(node, __FILE__, __LINE__);
    list::remove(mdflib_state.blocks, node);
    node->magic = 0;
    mdflib_free(node);
}

mdf_block_node *mdflst_block_find_image(const uint8_t *image) {
    return list::find_to_front(mdflib_state.blocks, [&](mdf_block_node *n) {
        list::check(n, __FILE__, __LINE__);
        return n->image == image;
    });
}

mdf_block_node *mdflst_block_find_position(uint32_t position) {
    return list::find_to_front(mdflib_state.blocks, [&](mdf_block_node *n) {
        list::check(n, __FILE__, __LINE__);
        return n->read_pos == position;
    });
}
