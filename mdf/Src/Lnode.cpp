// The list of link nodes, new ones at the front. A node is found by its field address through an
// index kept beside the list, so that following a link costs the same in a tree of any size.
#include "mdfint.h"

namespace {

using list = mdf_list<mdf_link_node, MDF_LINK_MAGIC>;
using node_index = mdf_node_index<mdf_link_node>;

} // namespace

void mdflst_link_insert(mdf_link_node *node) {
    list::check(node, __FILE__, __LINE__);
    // Into the index first: a failing allocation there leaves the list unchanged.
    node_index::add(node->field, node);
    list::insert_front(mdflib_state.links, node);
}

std::int16_t mdflst_link_remove(mdf_link_node *node) {
    list::check(node, __FILE__, __LINE__);
    std::int16_t status = list::remove(mdflib_state.links, node);
    if (status == 0) mdflst_link_unindex(node);
    return status;
}

// Takes the node off the list and frees it.
void mdflst_link_release(mdf_link_node *node) {
    list::check(node, __FILE__, __LINE__);
    mdflst_link_remove(node);
    node->magic = 0;
    mdflib_free(node);
}

mdf_link_node *mdflst_link_find_field(const std::uint8_t *field) {
    mdf_link_node *node = node_index::find(field);
    if (node != nullptr) list::check(node, __FILE__, __LINE__);
    return node;
}

void mdflst_link_unindex(const mdf_link_node *node) {
    node_index::remove(node->field, node);
}

void mdflst_link_clear_index() {
    node_index::clear();
}
