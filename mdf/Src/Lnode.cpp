// The list of link nodes, new ones at the front; searches move the found node to the front.
#include "mdfint.h"

namespace {
using list = mdf_list<mdf_link_node, MDF_LINK_MAGIC>;
}

void mdflst_link_insert(mdf_link_node *node) {
    list::check(node, __FILE__, __LINE__);
    list::insert_front(mdflib_state.links, node);
}

int16_t mdflst_link_remove(mdf_link_node *node) {
    list::check(node, __FILE__, __LINE__);
    return list::remove(mdflib_state.links, node);
}

// Takes the node off the list and frees it.
void mdflst_link_release(mdf_link_node *node) {
    list::check(node, __FILE__, __LINE__);
    list::remove(mdflib_state.links, node);
    node->magic = 0;
    mdflib_free(node);
}

mdf_link_node *mdflst_link_find_field(const uint8_t *field) {
    return list::find_to_front(mdflib_state.links, [&](mdf_link_node *n) {
        list::check(n, __FILE__, __LINE__);
        return n->field == field;
    });
}
