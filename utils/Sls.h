// Sls: a set of distinct strings in one growing byte buffer.
//
// Every entry stands at a byte position of the buffer, which is its id; ids stay valid while the
// buffer grows (pointers from sls_name do not). An entry is laid out as
//   [length field][counter field] characters '\0'
// where the length field (little-endian, length_bytes long) is present only when max_length > 0
// and the counter field (little-endian, counter_bytes long) only when max_count > 0.
// Entries stand in the order in which they were added; a search gives the first entry that
// holds the string. Beside the buffer the list keeps a hash of the entries' texts, so that a
// search takes about the same time however many entries there are; the answers are those of a
// search from the front. No operation prints anything; failures are negative results.
#ifndef TRAXCON_UTILS_SLS_H
#define TRAXCON_UTILS_SLS_H

// Result codes (the ids handed out are >= 0).
constexpr int SLS_NOT_FOUND = -1; // not found, or counter already 0 (sls_release)
constexpr int SLS_NO_MEMORY = -2; // the buffer could not grow
constexpr int SLS_TOO_LONG = -3;  // string longer than max_length
constexpr int SLS_COUNTER = -4;   // counter at its maximum (sls_add), list without counters
constexpr int SLS_BAD_ID = -5;    // id outside the used part of the buffer

struct Sls; // the list; its fields are private to the module

// A new empty list, or nullptr when memory runs out. An initial size or growth of 0 (or less)
// means 512 bytes. The caller owns the list and ends it with sls_destroy.
Sls *sls_create(int initial, int growth, int max_length, int max_count);

// Adds s (or counts up its existing entry in a list with counters) and returns its id, or
// SLS_NO_MEMORY, SLS_TOO_LONG, SLS_COUNTER. Without counters an existing string is found again.
int sls_add(Sls *list, const char *s);

// The id of s, or SLS_NOT_FOUND (also for an entry whose counter is 0), SLS_TOO_LONG.
int sls_find(const Sls *list, const char *s);

// The string of the entry at id, inside the buffer and valid until the list grows or is
// destroyed; nullptr for an id outside the used part or an entry whose counter is 0.
const char *sls_name(const Sls *list, int id);

// Counts the entry's counter down and returns the new counter, or SLS_COUNTER (list without
// counters), SLS_BAD_ID, SLS_NOT_FOUND (counter already 0).
int sls_release(Sls *list, int id);

// The entry's counter, or SLS_BAD_ID, SLS_COUNTER (list without counters).
int sls_count(const Sls *list, int id);

// Empties the list, keeping its buffer; returns the capacity.
int sls_clear(Sls *list);

// Frees the buffer and the list; nullptr is allowed and does nothing.
void sls_destroy(Sls *list);

// The list's sizes and layout: bytes in use (also the id the next new entry gets), bytes
// allocated, bytes still free, bytes by which the buffer grows at least, the longest string and
// the highest counter given to sls_create (<= 0: none), and the sizes of an entry's length
// field, counter field and both together. The converter needs none of them; the tests of the
// entry layout and of the growth read them. A null list stops the program, as everywhere here.
int sls_used(const Sls *list);
int sls_capacity(const Sls *list);
int sls_free(const Sls *list);
int sls_growth(const Sls *list);
int sls_max_length(const Sls *list);
int sls_max_count(const Sls *list);
int sls_length_bytes(const Sls *list);
int sls_counter_bytes(const Sls *list);
int sls_head_bytes(const Sls *list);

// The buffer of the entries (sls_used bytes), valid until the list grows or is destroyed; for
// the tests of the entry layout.
const unsigned char *sls_data(const Sls *list);

#endif // TRAXCON_UTILS_SLS_H
