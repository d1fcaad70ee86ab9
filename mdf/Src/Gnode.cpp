// The list of open groups (records of type mdf_group_rec), new ones at the back.
#include "mdfint.h"

namespace {
using list = mdf_list<mdf_group_rec, MDF_GROUP_MAGIC>;
}

void mdflst_group_insert(mdf_group_rec *rec) {
    list::check(rec, __FILE__, __LINE__);
    list::insert_back_linked(mdflib_state.groups, mdflib_state.groups_tail, rec);
}

std::int16_t mdflst_group_remove(mdf_group_rec *rec) {
    list::check(rec, __FILE__, __LINE__);
    return list::remove_linked(mdflib_state.groups, mdflib_state.groups_tail, rec);
}

// Frees a record that has been taken off the list; one still in it is an internal error.
void mdflst_group_release(mdf_group_rec *rec) {
    list::check(rec, __FILE__, __LINE__);
    if (mdflib_state.groups != nullptr && list::listed_linked(mdflib_state.groups, rec))
        MDF_INTERNAL_ERROR();
    rec->magic = 0;
    mdflib_free(rec);
}
