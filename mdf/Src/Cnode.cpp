// The list of open channels (records of type mdf_channel_rec), new ones at the back.
#include "mdfint.h"

namespace {
using list = mdf_list<mdf_channel_rec, MDF_CHANNEL_MAGIC>;
}

void mdflst_channel_insert(mdf_channel_rec *rec) {
    list::check(rec, __FILE__, __LINE__);
    list::insert_back(mdflib_state.channels, rec);
}

int16_t mdflst_channel_remove(mdf_channel_rec *rec) {
    list::check(rec, __FILE__, __LINE__);
    return list::remove(mdflib_state.channels, rec);
}

// Frees a record that has been taken off the list; one still in it is an internal error.
void mdflst_channel_release(mdf_channel_rec *rec) {
    list::check(rec, __FILE__, __LINE__);
    if (list::remove(mdflib_state.channels, rec) != MDF_ERR_NODE_NOT_FOUND) MDF_INTERNAL_ERROR();
    rec->magic = 0;
    mdflib_free(rec);
}
