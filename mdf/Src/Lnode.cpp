// The list of link nodes, new ones at the front. A node is found by its field address through an
// index kept beside the list, so that following a link costs the same in a tree of any size.
#include "mdfint.h"

#include <unordered_map>

namespace {

using list = mdf_list<mdf_link_node, MDF_LINK_MAGIC>;

// Field address -> node, for every node in the list. Never destroyed, so that a library exit
// during the program's own end still finds it.
std::unordered_map<const uint8_t *, mdf_link_node *> &by_field() {
    static auto &index = *new std::unordered_map<const uint8_t *, mdf_link_node *>();
    return index;
}

} // namespace

void mdflst_link_insert(mdf_link_node *node) {
    list::check(node, __FILE__, __LINE__);
    // Into the index first: a failing allocation there leaves the list unchanged.
    by_field()[node->field] = node;
    list::insert_front(mdflib_state.links, node);
}

int16_t mdflst_link_remove(mdf_link_node *node) {
    list::check(node, __FILE__, __LINE__);
    int16_t status = list::remove(mdflib_state.links, node);
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

mdf_link_node *mdflst_link_find_field(const uint8_t *field) {
    auto &index = by_field();
    auto it = index.find(field);
    if (it == index.end()) return nullptr;
    list::check(it->second, __FILE__, __LINE__);
    return it->second;
}

void mdflst_link_unindex(const mdf_link_node *node) {
    auto &index = by_field();
    auto it = index.find(node->field);
    if (it != index.end() && it->second == node) index.erase(it);
}

void mdflst_link_clear_index() {
    by_field().clear();
}
