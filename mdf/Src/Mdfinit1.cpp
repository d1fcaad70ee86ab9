// MDFLIB state, initialisation, exit, usage levels and the call guard.
#include "mdfint.h"

mdflib_state_t mdflib_state{};

namespace {

// Frees every record of a list (with the parts release frees first) and empties the list.
template <class T, class Parts>
void free_list(T *&head, Parts &&release_parts) {
    for (T *node = head, *next; node != nullptr; node = next) {
        next = node->next;
        release_parts(node);
        node->magic = 0;
        mdflib_free(node);
    }
    head = nullptr;
}

// Releases everything the library holds without writing anything back (a restart).
void discard_all() {
    mdflib_state_t &s = mdflib_state;
    free_list(s.files, [](mdf_file_rec *f) { mdfblk_index_delete(f->index); });
    free_list(s.groups, [](mdf_group_rec *g) { mdflib_free(g->buffer); });
    free_list(s.channels, [](mdf_channel_rec *) {});
    free_list(s.blocks, [](mdf_block_node *b) {
        mdflib_free(b->image);
        mdflib_free(b->snapshot);
    });
    free_list(s.links, [](mdf_link_node *) {});
    s.groups_tail = nullptr;
    s.channels_tail = nullptr;
    mdflst_block_clear_index();
    mdflst_link_clear_index();
    mdfio_close_all();
}

// Releases the nodes of a list whose level is at least level (images with their block nodes).
template <class T, std::uint32_t Magic, class Release>
void release_from_level(T *&head, std::int32_t level, Release &&release) {
    for (T **p = &head; *p != nullptr;) {
        T *node = *p;
        mdf_list<T, Magic>::check(node, __FILE__, __LINE__);
        if (node->level >= level) {
            *p = node->next;
            release(node);
            node->magic = 0;
            mdflib_free(node);
        } else {
            p = &node->next;
        }
    }
}

} // namespace

std::int16_t mdflib_guard_locked() {
    mdflib_state.status = MDF_ERR_FATAL;
    if (mdflib_state.guard_depth > 0) throw mdf_fail{MDF_ERR_FATAL};
    mdflib_print_error("Further use of Library prohibited!\n");
    return MDF_ERR_FATAL;
}

// A failing close: thrown on to an enclosing guard, or the locked line.
std::int16_t mdflib_guard_fail(std::int16_t status) {
    if (mdflib_state.guard_depth > 0) throw mdf_fail{status};
    if (status == MDF_ERR_FATAL) mdflib_print_error("Further use of Library prohibited!\n");
    return status;
}

std::int16_t mdflib_init(const char *program_id) {
    return mdflib_call(MDF_GUARD_NO_STICKY, [&] {
        discard_all();
        mdflib_state_t &s = mdflib_state;
        s.sticky_error = 0;
        s.sticky_text[0] = '\0';
        s.origin[0] = '\0';
        std::memset(s.program_id, 0, sizeof s.program_id);
        mdflib_strncpy(s.program_id, program_id != nullptr ? program_id : "MDFLIB",
                       sizeof s.program_id);
        s.io_mode_bits = MDFIO_STREAM;
        s.level = 1;
    });
}

std::int16_t mdflib_exit() {
    return mdflib_call(MDF_GUARD_NO_STICKY, [&] {
        if (mdflib_state.level == 0) return;
        std::int16_t status = mdflib_catch([] { mdflib_close_level(1); });
        mdflib_state.level = 0;
        if (status != 0) mdflib_raise(status);
    });
}

std::int16_t mdflib_enter_level() {
    if (mdflib_state.level == 0) MDF_INTERNAL_ERROR();
    ++mdflib_state.level;
    return 0;
}

std::int16_t mdflib_leave_level() {
    if (mdflib_state.level == 0) return 0;
    if (mdflib_state.level == 1) return mdflib_exit();
    std::int16_t status = mdflib_catch([] { mdflib_close_level(mdflib_state.level); });
    --mdflib_state.level;
    // Like a public operation: a failure travels on when called from inside one.
    if (status != 0 && mdflib_state.guard_depth > 0) mdflib_raise(status);
    return status;
}

void mdflib_close_level(std::int32_t level) {
    std::int16_t first = 0;
    for (mdf_file_rec *f = mdflib_state.files, *next; f != nullptr; f = next) {
        mdf_list<mdf_file_rec, MDF_FILE_MAGIC>::check(f, __FILE__, __LINE__);
        next = f->next;
        if (f->level < level) continue;
        std::int16_t returned = 0;
        std::int16_t status = mdflib_catch([&] { returned = mdffil_close(f); });
        if (status == 0) status = returned;
        if (first == 0) first = status;
    }
    release_from_level<mdf_block_node, MDF_BLOCK_MAGIC>(mdflib_state.blocks, level,
                                                        [](mdf_block_node *b) {
                                                            mdflst_block_unindex(b);
                                                            mdflib_free(b->image);
                                                            mdflib_free(b->snapshot);
                                                        });
    release_from_level<mdf_link_node, MDF_LINK_MAGIC>(mdflib_state.links, level,
                                                      mdflst_link_unindex);
    if (first != 0) mdflib_raise(first);
}
