// Sls: distinct strings in one growing buffer, found by text or by id.
#include "Sls.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

struct sls_index;

// Search used by sls_find and sls_add: the id of the entry holding s, SLS_NOT_FOUND or
// SLS_TOO_LONG. Counters are not looked at.
using sls_search_fn = int (*)(const Sls *list, const char *s);

struct Sls {
    unsigned char *data; // all entries one after the other (owned, malloc'd)
    int capacity;        // bytes allocated for data
    int growth;          // bytes by which data grows at least
    int used;            // bytes of data in use
    int max_length;      // longest string accepted; <= 0: no limit and no length field
    int max_count;       // highest use counter; <= 0: no counter field
    int length_bytes;    // size of an entry's length field
    int counter_bytes;   // size of an entry's counter field
    int head_bytes;      // length_bytes + counter_bytes
    sls_search_fn search;
    sls_index *index; // ids of the entries by the hash of their text (owned); null: the
                      // searches walk the buffer from the front
};

// Open addressing over the entries' ids: a slot holds an id and the hash of its text, or -1.
// Entries are never removed (only counted down), and all of them have distinct texts, so the
// one entry whose text equals a string is the one a search from the front would find.
struct sls_index {
    struct slot {
        int id;
        std::uint32_t hash;
    };
    std::vector<slot> slots; // a power of two in size, at most half full
    std::size_t entries = 0;
};

namespace {

constexpr int DEFAULT_SIZE = 512;

[[noreturn]] void check_failed(const char *expr, const char *file, int line) {
    std::fprintf(stderr, "Assertion failed: %s, file %s, line %d\n", expr, file, line);
    std::abort();
}
// Pointer arguments are checked in every build, not only in debug builds.
#define SLS_CHECK(e) ((e) ? (void)0 : check_failed(#e, __FILE__, __LINE__))

// Bytes needed to hold the value max: 0 for max <= 0, else the smallest n with max >> 8n == 0.
int field_size(int max) {
    if (max <= 0) return 0;
    int n = 1;
    while (n < 4 && (static_cast<unsigned>(max) >> (8 * n)) != 0) ++n;
    return n;
}

unsigned read_field(const unsigned char *p, int bytes) {
    unsigned v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

void write_field(unsigned char *p, int bytes, unsigned v) {
    for (int i = 0; i < bytes; ++i) {
        p[i] = static_cast<unsigned char>(v & 0xFF);
        v >>= 8;
    }
}

const char *entry_text(const Sls *l, int pos) {
    return reinterpret_cast<const char *>(l->data + pos + l->head_bytes);
}

unsigned entry_counter(const Sls *l, int pos) {
    return read_field(l->data + pos + l->length_bytes, l->counter_bytes);
}

// FNV-1a over the string's characters.
std::uint32_t text_hash(const char *s, std::size_t len) {
    std::uint32_t h = 2166136261u;
    for (std::size_t i = 0; i < len; ++i) {
        h ^= static_cast<unsigned char>(s[i]);
        h *= 16777619u;
    }
    return h;
}

constexpr std::size_t FIRST_SLOTS = 64;

// The id of the entry whose text is s (len characters), or SLS_NOT_FOUND.
int index_find(const Sls *l, const char *s, std::size_t len) {
    const sls_index &x = *l->index;
    const std::uint32_t h = text_hash(s, len);
    const std::size_t mask = x.slots.size() - 1;
    for (std::size_t i = h & mask;; i = (i + 1) & mask) {
        const sls_index::slot &slot = x.slots[i];
        if (slot.id < 0) return SLS_NOT_FOUND;
        if (slot.hash == h) {
            const char *text = entry_text(l, slot.id);
            if (std::strncmp(text, s, len) == 0 && text[len] == '\0') return slot.id;
        }
    }
}

void index_put(sls_index &x, int id, std::uint32_t h) {
    const std::size_t mask = x.slots.size() - 1;
    std::size_t i = h & mask;
    while (x.slots[i].id >= 0) i = (i + 1) & mask;
    x.slots[i] = {id, h};
}

// Enters the entry at id (whose text is s); when the hash cannot grow it is dropped and the
// searches walk the buffer again, with the same answers.
void index_add(Sls *l, int id, const char *s, std::size_t len) {
    if (l->index == nullptr) return;
    sls_index &x = *l->index;
    try {
        if (2 * (x.entries + 1) > x.slots.size()) {
            std::vector<sls_index::slot> old(std::max(FIRST_SLOTS, 2 * x.slots.size()),
                                             sls_index::slot{-1, 0});
            old.swap(x.slots);
            for (const sls_index::slot &slot : old)
                if (slot.id >= 0) index_put(x, slot.id, slot.hash);
        }
    } catch (const std::bad_alloc &) {
        delete l->index;
        l->index = nullptr;
        return;
    }
    index_put(x, id, text_hash(s, len));
    ++x.entries;
}

// Entries are laid out by the list itself, so a position below used always starts an entry
// whose text ends with a zero byte inside the used part.
int search_by_text(const Sls *l, const char *s) {
    if (l->index != nullptr)
        return l->index->entries == 0 ? SLS_NOT_FOUND : index_find(l, s, std::strlen(s));
    int pos = 0;
    while (pos < l->used) {
        const char *text = entry_text(l, pos);
        if (std::strcmp(text, s) == 0) return pos;
        pos += l->head_bytes + static_cast<int>(std::strlen(text)) + 1;
    }
    return SLS_NOT_FOUND;
}

int search_by_length(const Sls *l, const char *s) {
    const size_t len = std::strlen(s);
    if (len > static_cast<size_t>(l->max_length)) return SLS_TOO_LONG;
    if (l->index != nullptr) return l->index->entries == 0 ? SLS_NOT_FOUND : index_find(l, s, len);
    int pos = 0;
    while (pos < l->used) {
        const unsigned stored = read_field(l->data + pos, l->length_bytes);
        if (stored == len && std::memcmp(entry_text(l, pos), s, len) == 0) return pos;
        pos += static_cast<int>(stored) + l->head_bytes + 1;
    }
    return SLS_NOT_FOUND;
}

} // namespace

Sls *sls_create(int initial, int growth, int max_length, int max_count) {
    Sls *l = new (std::nothrow) Sls{};
    if (!l) return nullptr;
    const int size = initial > 0 ? initial : DEFAULT_SIZE;
    l->data = static_cast<unsigned char *>(std::malloc(static_cast<size_t>(size)));
    if (!l->data) {
        delete l;
        return nullptr;
    }
    l->capacity = size;
    l->growth = growth > 0 ? growth : DEFAULT_SIZE;
    l->used = 0;
    l->max_length = max_length;
    l->max_count = max_count;
    l->length_bytes = field_size(max_length);
    l->counter_bytes = field_size(max_count);
    l->head_bytes = l->length_bytes + l->counter_bytes;
    l->search = max_length > 0 ? search_by_length : search_by_text;
    l->index = new (std::nothrow) sls_index{}; // none: the searches walk the buffer
    return l;
}

int sls_add(Sls *list, const char *s) {
    SLS_CHECK(list != nullptr);
    SLS_CHECK(s != nullptr);
    const size_t len = std::strlen(s);
    if (list->max_length > 0 && len > static_cast<size_t>(list->max_length)) return SLS_TOO_LONG;

    const int found = list->search(list, s);
    if (found >= 0) {
        if (list->max_count > 0) {
            unsigned char *counter = list->data + found + list->length_bytes;
            const unsigned c = read_field(counter, list->counter_bytes);
            if (c >= static_cast<unsigned>(list->max_count)) return SLS_COUNTER;
            write_field(counter, list->counter_bytes, c + 1);
        }
        return found;
    }
    if (found != SLS_NOT_FOUND) return found;

    // Sizes are kept in int: an entry or a buffer beyond INT_MAX bytes is a memory shortage.
    const std::int64_t n64 = static_cast<std::int64_t>(len) + list->head_bytes + 1;
    if (n64 > INT32_MAX) return SLS_NO_MEMORY;
    const int n = static_cast<int>(n64);
    if (list->capacity - list->used < n) {
        const std::int64_t step =
            n > list->growth ? 2 * static_cast<std::int64_t>(n) : list->growth;
        if (list->capacity + step > INT32_MAX) return SLS_NO_MEMORY;
        void *grown = std::realloc(list->data, static_cast<size_t>(list->capacity + step));
        if (!grown) return SLS_NO_MEMORY;
        list->data = static_cast<unsigned char *>(grown);
        list->capacity += static_cast<int>(step);
    }
    unsigned char *entry = list->data + list->used;
    write_field(entry, list->length_bytes, static_cast<unsigned>(len));
    write_field(entry + list->length_bytes, list->counter_bytes, 1);
    std::memcpy(entry + list->head_bytes, s, len + 1);
    const int id = list->used;
    list->used += n;
    index_add(list, id, s, len);
    return id;
}

int sls_find(const Sls *list, const char *s) {
    SLS_CHECK(list != nullptr);
    SLS_CHECK(s != nullptr);
    const int found = list->search(list, s);
    if (found >= 0 && list->max_count > 0 && entry_counter(list, found) == 0) return SLS_NOT_FOUND;
    return found;
}

const char *sls_name(const Sls *list, int id) {
    SLS_CHECK(list != nullptr);
    if (id < 0 || id >= list->used) return nullptr;
    if (list->max_count > 0 && entry_counter(list, id) == 0) return nullptr;
    return entry_text(list, id);
}

int sls_release(Sls *list, int id) {
    SLS_CHECK(list != nullptr);
    if (list->max_count <= 0) return SLS_COUNTER;
    if (id < 0 || id >= list->used) return SLS_BAD_ID;
    unsigned char *counter = list->data + id + list->length_bytes;
    const unsigned c = read_field(counter, list->counter_bytes);
    if (c == 0) return SLS_NOT_FOUND;
    write_field(counter, list->counter_bytes, c - 1);
    return static_cast<int>(c - 1);
}

int sls_count(const Sls *list, int id) {
    SLS_CHECK(list != nullptr);
    if (id < 0 || id >= list->used) return SLS_BAD_ID;
    if (list->max_count <= 0) return SLS_COUNTER;
    return static_cast<int>(entry_counter(list, id));
}

int sls_clear(Sls *list) {
    SLS_CHECK(list != nullptr);
    list->used = 0;
    if (list->index != nullptr) {
        list->index->slots.clear();
        list->index->entries = 0;
    }
    return list->capacity;
}

void sls_destroy(Sls *list) {
    if (!list) return;
    std::free(list->data);
    delete list->index;
    delete list;
}

int sls_used(const Sls *list) {
    SLS_CHECK(list != nullptr);
    return list->used;
}

int sls_capacity(const Sls *list) {
    SLS_CHECK(list != nullptr);
    return list->capacity;
}

int sls_free(const Sls *list) {
    SLS_CHECK(list != nullptr);
    return list->capacity - list->used;
}

int sls_growth(const Sls *list) {
    SLS_CHECK(list != nullptr);
    return list->growth;
}

int sls_max_length(const Sls *list) {
    SLS_CHECK(list != nullptr);
    return list->max_length;
}

int sls_max_count(const Sls *list) {
    SLS_CHECK(list != nullptr);
    return list->max_count;
}

int sls_length_bytes(const Sls *list) {
    SLS_CHECK(list != nullptr);
    return list->length_bytes;
}

int sls_counter_bytes(const Sls *list) {
    SLS_CHECK(list != nullptr);
    return list->counter_bytes;
}

int sls_head_bytes(const Sls *list) {
    SLS_CHECK(list != nullptr);
    return list->head_bytes;
}

const unsigned char *sls_data(const Sls *list) {
    SLS_CHECK(list != nullptr);
    return list->data;
}
