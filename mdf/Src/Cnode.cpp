// The list of open channels (records of type mdf_channel_rec), new ones at the back.
#include "mdfint.h"

namespace {
using list = mdf_list<mdf_channel_rec, MDF_CHANNEL_MAGIC>;
}

void mdflst_channel_insert(mdf_channel_rec *rec) {
    list::check(rec, __FILE__, __LINE__);
    list::insert_back_linked(mdflib_state.channels, mdflib_state.channels_tail, rec);
}

std::int16_t mdflst_channel_remove(mdf_channel_rec *rec) {
    list::check(rec, __FILE__, __LINE__);
    return list::remove_linked(mdflib_state.channels, mdflib_state.channels_tail, rec);
}

// Frees a record that has been taken off the list; one still in it is an internal error.
void mdflst_channel_release(mdf_channel_rec *rec) {
    list::check(rec, __FILE__, __LINE__);
    if (mdflib_state.channels != nullptr && list::listed_linked(mdflib_state.channels, rec))
        MDF_INTERNAL_ERROR();
    rec->magic = 0;
    mdflib_free(rec);
}
