// The list of open files (records of type mdf_file_rec), new ones at the front.
#include "mdfint.h"

namespace {
using list = mdf_list<mdf_file_rec, MDF_FILE_MAGIC>;
}

void mdflst_file_insert(mdf_file_rec *rec) {
    list::check(rec, __FILE__, __LINE__);
    list::insert_front(mdflib_state.files, rec);
}

std::int16_t mdflst_file_remove(mdf_file_rec *rec) {
    list::check(rec, __FILE__, __LINE__);
    return list::remove(mdflib_state.files, rec);
}

// Frees a record that has been taken off the list; one still in it is an internal error.
void mdflst_file_release(mdf_file_rec *rec) {
    list::check(rec, __FILE__, __LINE__);
    if (list::remove(mdflib_state.files, rec) != MDF_ERR_NODE_NOT_FOUND) MDF_INTERNAL_ERROR();
    mdfblk_index_delete(rec->index);
    rec->index = nullptr;
    rec->magic = 0;
    mdflib_free(rec);
}
