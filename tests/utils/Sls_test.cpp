// Tests of the string list: entry layout, ids, counters, growth and result codes.
#include "Sls.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

struct SlsDeleter {
    void operator()(Sls *l) const { sls_destroy(l); }
};
using SlsPtr = std::unique_ptr<Sls, SlsDeleter>;

SlsPtr make(int initial, int growth, int max_length, int max_count) {
    SlsPtr l(sls_create(initial, growth, max_length, max_count));
    EXPECT_NE(l, nullptr);
    return l;
}

TEST(Sls, PlainListLaysOutStringsWithZeroBytes) {
    SlsPtr l = make(0, 0, 0, 0);
    EXPECT_EQ(l->capacity, 512);
    EXPECT_EQ(l->growth, 512);
    EXPECT_EQ(l->free, 512);
    EXPECT_EQ(l->head_bytes, 0);

    EXPECT_EQ(sls_add(l.get(), "A"), 0);
    EXPECT_EQ(sls_add(l.get(), "BC"), 2);
    EXPECT_EQ(sls_add(l.get(), "D"), 5);
    EXPECT_EQ(l->used, 7);
    EXPECT_EQ(l->free, 505);
    EXPECT_EQ(std::memcmp(l->data, "A\0BC\0D\0", 7), 0);

    EXPECT_EQ(sls_find(l.get(), "BC"), 2);
    EXPECT_EQ(sls_find(l.get(), "B"), SLS_NOT_FOUND);
    EXPECT_EQ(sls_find(l.get(), "BCD"), SLS_NOT_FOUND);
    EXPECT_STREQ(sls_name(l.get(), 5), "D");
    EXPECT_EQ(sls_name(l.get(), -1), nullptr);
    EXPECT_EQ(sls_name(l.get(), l->used), nullptr);
    // Without counters release and count are refused, and ids are checked first by count.
    EXPECT_EQ(sls_release(l.get(), 0), SLS_COUNTER);
    EXPECT_EQ(sls_count(l.get(), 0), SLS_COUNTER);
    EXPECT_EQ(sls_count(l.get(), 7), SLS_BAD_ID);
}

TEST(Sls, AddingAStringTwiceFindsTheFirstEntry) {
    SlsPtr l = make(0, 0, 0, 0);
    EXPECT_EQ(sls_add(l.get(), "A"), 0);
    EXPECT_EQ(sls_add(l.get(), "A"), 0);
    EXPECT_EQ(l->used, 2);
    EXPECT_EQ(sls_add(l.get(), ""), 2);
    EXPECT_EQ(sls_find(l.get(), ""), 2);
    EXPECT_EQ(l->used, 3);
}

TEST(Sls, LengthAndCounterFields) {
    SlsPtr l = make(0, 0, 300, 1);
    EXPECT_EQ(l->length_bytes, 2);
    EXPECT_EQ(l->counter_bytes, 1);
    EXPECT_EQ(l->head_bytes, 3);

    EXPECT_EQ(sls_add(l.get(), "Q"), 0);
    EXPECT_EQ(sls_add(l.get(), "X"), 5);
    EXPECT_EQ(l->used, 10); // each entry 2 + 1 + 1 + 1 bytes
    const unsigned char expected[] = {1, 0, 1, 'X', 0};
    EXPECT_EQ(std::memcmp(l->data + 5, expected, 5), 0);
    EXPECT_EQ(sls_count(l.get(), 5), 1);

    EXPECT_EQ(sls_add(l.get(), "X"), SLS_COUNTER);
    EXPECT_EQ(sls_release(l.get(), 5), 0);
    EXPECT_EQ(sls_count(l.get(), 5), 0);
    EXPECT_EQ(sls_find(l.get(), "X"), SLS_NOT_FOUND);
    EXPECT_EQ(sls_name(l.get(), 5), nullptr);
    EXPECT_EQ(sls_release(l.get(), 5), SLS_NOT_FOUND);

    EXPECT_EQ(sls_add(l.get(), "X"), 5);
    EXPECT_EQ(sls_count(l.get(), 5), 1);
    EXPECT_STREQ(sls_name(l.get(), 5), "X");
    EXPECT_EQ(l->used, 10);
    EXPECT_EQ(sls_release(l.get(), -1), SLS_BAD_ID);
    EXPECT_EQ(sls_release(l.get(), 10), SLS_BAD_ID);
}

TEST(Sls, CountersCountUpToTheMaximum) {
    SlsPtr l = make(16, 16, 0, 256);
    EXPECT_EQ(l->counter_bytes, 2);
    EXPECT_EQ(l->length_bytes, 0);
    for (int i = 1; i <= 256; ++i) ASSERT_EQ(sls_add(l.get(), "abc"), 0);
    EXPECT_EQ(sls_count(l.get(), 0), 256);
    EXPECT_EQ(l->data[0], 0x00); // little-endian 256
    EXPECT_EQ(l->data[1], 0x01);
    EXPECT_EQ(sls_add(l.get(), "abc"), SLS_COUNTER);
    EXPECT_EQ(sls_release(l.get(), 0), 255);
    // The text search skips entries by their own length.
    EXPECT_EQ(sls_add(l.get(), "de"), 6);
    EXPECT_EQ(sls_find(l.get(), "de"), 6);
}

TEST(Sls, MaxLengthIsEnforced) {
    SlsPtr l = make(0, 0, 4, 0);
    EXPECT_EQ(l->length_bytes, 1);
    EXPECT_EQ(sls_add(l.get(), "abcd"), 0);
    EXPECT_EQ(sls_add(l.get(), "abcde"), SLS_TOO_LONG);
    EXPECT_EQ(sls_find(l.get(), "abcde"), SLS_TOO_LONG);
    EXPECT_EQ(sls_add(l.get(), "ab"), 6);
    EXPECT_EQ(sls_find(l.get(), "ab"), 6);
    EXPECT_EQ(sls_find(l.get(), "abc"), SLS_NOT_FOUND);
    EXPECT_EQ(l->used, 10);
}

TEST(Sls, GrowthByTwiceTheEntryKeepsIds) {
    SlsPtr l = make(0, 0, 0, 0);
    EXPECT_EQ(sls_add(l.get(), "first"), 0);
    const std::string big(600, 'x');
    EXPECT_EQ(sls_add(l.get(), big.c_str()), 6);
    EXPECT_EQ(l->capacity, 512 + 2 * 601);
    EXPECT_EQ(l->capacity, 1714);
    EXPECT_EQ(l->free, 1714 - 607);
    EXPECT_STREQ(sls_name(l.get(), 0), "first");
    EXPECT_EQ(sls_name(l.get(), 6), big);

    // A small entry that does not fit grows by the growth.
    SlsPtr s = make(4, 8, 0, 0);
    EXPECT_EQ(sls_add(s.get(), "abc"), 0);
    EXPECT_EQ(sls_add(s.get(), "de"), 4);
    EXPECT_EQ(s->capacity, 12);
    EXPECT_EQ(s->free, 5);
}

TEST(Sls, ManyStringsStayFindable) {
    SlsPtr l = make(8, 8, 40, 0);
    std::vector<int> ids;
    for (int i = 0; i < 2000; ++i)
        ids.push_back(sls_add(l.get(), ("name_" + std::to_string(i)).c_str()));
    for (int i = 0; i < 2000; ++i) {
        const std::string n = "name_" + std::to_string(i);
        ASSERT_EQ(sls_find(l.get(), n.c_str()), ids[i]);
        ASSERT_EQ(sls_name(l.get(), ids[i]), n);
    }
}

TEST(Sls, ClearKeepsTheBuffer) {
    SlsPtr l = make(0, 0, 0, 0);
    sls_add(l.get(), "A");
    EXPECT_EQ(sls_clear(l.get()), 512);
    EXPECT_EQ(l->used, 0);
    EXPECT_EQ(l->free, 512);
    EXPECT_EQ(sls_find(l.get(), "A"), SLS_NOT_FOUND);
    EXPECT_EQ(sls_add(l.get(), "B"), 0);
    sls_destroy(nullptr);
}

TEST(SlsDeathTest, NullListStopsTheProgram) {
    EXPECT_DEATH(sls_add(nullptr, "x"), "list != nullptr");
}

} // namespace
