// Tests of the string list: entry layout, ids, counters, growth and result codes.
#include "Sls.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

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
    EXPECT_EQ(sls_capacity(l.get()), 512);
    EXPECT_EQ(sls_growth(l.get()), 512);
    EXPECT_EQ(sls_free(l.get()), 512);
    EXPECT_EQ(sls_head_bytes(l.get()), 0);

    EXPECT_EQ(sls_add(l.get(), "A"), 0);
    EXPECT_EQ(sls_add(l.get(), "BC"), 2);
    EXPECT_EQ(sls_add(l.get(), "D"), 5);
    EXPECT_EQ(sls_used(l.get()), 7);
    EXPECT_EQ(sls_free(l.get()), 505);
    EXPECT_EQ(std::memcmp(sls_data(l.get()), "A\0BC\0D\0", 7), 0);

    EXPECT_EQ(sls_find(l.get(), "BC"), 2);
    EXPECT_EQ(sls_find(l.get(), "B"), SLS_NOT_FOUND);
    EXPECT_EQ(sls_find(l.get(), "BCD"), SLS_NOT_FOUND);
    EXPECT_STREQ(sls_name(l.get(), 5), "D");
    EXPECT_EQ(sls_name(l.get(), -1), nullptr);
    EXPECT_EQ(sls_name(l.get(), sls_used(l.get())), nullptr);
    // Without counters release and count are refused, and ids are checked first by count.
    EXPECT_EQ(sls_release(l.get(), 0), SLS_COUNTER);
    EXPECT_EQ(sls_count(l.get(), 0), SLS_COUNTER);
    EXPECT_EQ(sls_count(l.get(), 7), SLS_BAD_ID);
}

TEST(Sls, AddingAStringTwiceFindsTheFirstEntry) {
    SlsPtr l = make(0, 0, 0, 0);
    EXPECT_EQ(sls_add(l.get(), "A"), 0);
    EXPECT_EQ(sls_add(l.get(), "A"), 0);
    EXPECT_EQ(sls_used(l.get()), 2);
    EXPECT_EQ(sls_add(l.get(), ""), 2);
    EXPECT_EQ(sls_find(l.get(), ""), 2);
    EXPECT_EQ(sls_used(l.get()), 3);
}

TEST(Sls, LengthAndCounterFields) {
    SlsPtr l = make(0, 0, 300, 1);
    EXPECT_EQ(sls_length_bytes(l.get()), 2);
    EXPECT_EQ(sls_counter_bytes(l.get()), 1);
    EXPECT_EQ(sls_head_bytes(l.get()), 3);

    EXPECT_EQ(sls_add(l.get(), "Q"), 0);
    EXPECT_EQ(sls_add(l.get(), "X"), 5);
    EXPECT_EQ(sls_used(l.get()), 10); // each entry 2 + 1 + 1 + 1 bytes
    const unsigned char expected[] = {1, 0, 1, 'X', 0};
    EXPECT_EQ(std::memcmp(sls_data(l.get()) + 5, expected, 5), 0);
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
    EXPECT_EQ(sls_used(l.get()), 10);
    EXPECT_EQ(sls_release(l.get(), -1), SLS_BAD_ID);
    EXPECT_EQ(sls_release(l.get(), 10), SLS_BAD_ID);
}

TEST(Sls, CountersCountUpToTheMaximum) {
    SlsPtr l = make(16, 16, 0, 256);
    EXPECT_EQ(sls_counter_bytes(l.get()), 2);
    EXPECT_EQ(sls_length_bytes(l.get()), 0);
    for (int i = 1; i <= 256; ++i) ASSERT_EQ(sls_add(l.get(), "abc"), 0);
    EXPECT_EQ(sls_count(l.get(), 0), 256);
    EXPECT_EQ(sls_data(l.get())[0], 0x00); // little-endian 256
    EXPECT_EQ(sls_data(l.get())[1], 0x01);
    EXPECT_EQ(sls_add(l.get(), "abc"), SLS_COUNTER);
    EXPECT_EQ(sls_release(l.get(), 0), 255);
    // The text search skips entries by their own length.
    EXPECT_EQ(sls_add(l.get(), "de"), 6);
    EXPECT_EQ(sls_find(l.get(), "de"), 6);
}

TEST(Sls, MaxLengthIsEnforced) {
    SlsPtr l = make(0, 0, 4, 0);
    EXPECT_EQ(sls_length_bytes(l.get()), 1);
    EXPECT_EQ(sls_add(l.get(), "abcd"), 0);
    EXPECT_EQ(sls_add(l.get(), "abcde"), SLS_TOO_LONG);
    EXPECT_EQ(sls_find(l.get(), "abcde"), SLS_TOO_LONG);
    EXPECT_EQ(sls_add(l.get(), "ab"), 6);
    EXPECT_EQ(sls_find(l.get(), "ab"), 6);
    EXPECT_EQ(sls_find(l.get(), "abc"), SLS_NOT_FOUND);
    EXPECT_EQ(sls_used(l.get()), 10);
}

TEST(Sls, GrowthByTwiceTheEntryKeepsIds) {
    SlsPtr l = make(0, 0, 0, 0);
    EXPECT_EQ(sls_add(l.get(), "first"), 0);
    const std::string big(600, 'x');
    EXPECT_EQ(sls_add(l.get(), big.c_str()), 6);
    EXPECT_EQ(sls_capacity(l.get()), 512 + 2 * 601);
    EXPECT_EQ(sls_capacity(l.get()), 1714);
    EXPECT_EQ(sls_free(l.get()), 1714 - 607);
    EXPECT_STREQ(sls_name(l.get(), 0), "first");
    EXPECT_EQ(sls_name(l.get(), 6), big);

    // A small entry that does not fit grows by the growth.
    SlsPtr s = make(4, 8, 0, 0);
    EXPECT_EQ(sls_add(s.get(), "abc"), 0);
    EXPECT_EQ(sls_add(s.get(), "de"), 4);
    EXPECT_EQ(sls_capacity(s.get()), 12);
    EXPECT_EQ(sls_free(s.get()), 5);
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
    EXPECT_EQ(sls_used(l.get()), 0);
    EXPECT_EQ(sls_free(l.get()), 512);
    EXPECT_EQ(sls_find(l.get(), "A"), SLS_NOT_FOUND);
    EXPECT_EQ(sls_add(l.get(), "B"), 0);
    sls_destroy(nullptr);
}

// The search of a list as a walk over its buffer from the front, entry by entry.
int linear_find(const Sls *l, const std::string &s) {
    if (sls_max_length(l) > 0 && s.size() > static_cast<size_t>(sls_max_length(l)))
        return SLS_TOO_LONG;
    int pos = 0;
    while (pos < sls_used(l)) {
        const char *text = reinterpret_cast<const char *>(sls_data(l) + pos + sls_head_bytes(l));
        if (s == text) return pos;
        pos += sls_head_bytes(l) + static_cast<int>(std::strlen(text)) + 1;
    }
    return SLS_NOT_FOUND;
}

int counter_at(const Sls *l, int id) {
    int c = 0;
    for (int i = sls_counter_bytes(l) - 1; i >= 0; --i)
        c = (c << 8) | sls_data(l)[id + sls_length_bytes(l) + i];
    return c;
}

// Every answer of add, find, name and release equals that of the walk, over many random
// strings with many repeats, in every kind of list, across a clear.
TEST(Sls, AnswersEqualASearchFromTheFront) {
    std::mt19937 rng(20260305);
    const int kinds[][2] = {{0, 0}, {6, 0}, {0, 2}, {300, 1}, {5, 300}};
    for (const auto &kind : kinds) {
        SCOPED_TRACE(std::to_string(kind[0]) + "/" + std::to_string(kind[1]));
        SlsPtr l = make(16, 16, kind[0], kind[1]);
        std::vector<int> ids;
        auto random_string = [&] {
            std::string s(rng() % 8, ' '); // up to 7 characters, also the empty string
            for (char &c : s) c = static_cast<char>('a' + rng() % 3);
            return s;
        };
        for (int step = 0; step < 20000; ++step) {
            if (step == 12000) {
                sls_clear(l.get());
                ids.clear();
            }
            const std::string s = random_string();
            const int before = linear_find(l.get(), s);
            switch (rng() % 4) {
            case 0: { // add
                int expected = before;
                if (before == SLS_NOT_FOUND)
                    expected = sls_used(l.get());
                else if (before >= 0 && sls_max_count(l.get()) > 0 &&
                         counter_at(l.get(), before) >= sls_max_count(l.get()))
                    expected = SLS_COUNTER;
                const int id = sls_add(l.get(), s.c_str());
                ASSERT_EQ(id, expected) << s;
                if (id >= 0) ids.push_back(id);
                break;
            }
            case 1: { // find
                int expected = before;
                if (before >= 0 && sls_max_count(l.get()) > 0 && counter_at(l.get(), before) == 0)
                    expected = SLS_NOT_FOUND;
                ASSERT_EQ(sls_find(l.get(), s.c_str()), expected) << s;
                break;
            }
            case 2: // release
                if (!ids.empty() && sls_max_count(l.get()) > 0) {
                    const int id = ids[rng() % ids.size()];
                    const int c = counter_at(l.get(), id);
                    ASSERT_EQ(sls_release(l.get(), id), c > 0 ? c - 1 : SLS_NOT_FOUND);
                }
                break;
            default: // name
                if (!ids.empty()) {
                    const int id = ids[rng() % ids.size()];
                    const char *name = sls_name(l.get(), id);
                    if (sls_max_count(l.get()) > 0 && counter_at(l.get(), id) == 0) {
                        ASSERT_EQ(name, nullptr);
                    } else {
                        ASSERT_NE(name, nullptr);
                        ASSERT_EQ(linear_find(l.get(), name), id);
                    }
                }
            }
        }
    }
}

TEST(Sls, ManyColumnNamesAreFoundWithTheirIds) {
    // As the converter uses it: is a name there, else add it; 100000 distinct names.
    SlsPtr l = make(0, 0, 0, 0);
    std::vector<int> ids;
    for (int i = 0; i < 100000; ++i) {
        const std::string n = "CHANNEL_" + std::to_string(i * 7919 % 100000);
        ASSERT_EQ(sls_find(l.get(), n.c_str()), SLS_NOT_FOUND);
        ids.push_back(sls_add(l.get(), n.c_str()));
    }
    EXPECT_EQ(ids[1], static_cast<int>(std::strlen("CHANNEL_0")) + 1);
    for (int i = 0; i < 100000; i += 997) {
        const std::string n = "CHANNEL_" + std::to_string(i * 7919 % 100000);
        ASSERT_EQ(sls_find(l.get(), n.c_str()), ids[i]);
        ASSERT_EQ(linear_find(l.get(), n), ids[i]);
    }
}

TEST(SlsDeathTest, NullListStopsTheProgram) {
    EXPECT_DEATH(sls_add(nullptr, "x"), "list != nullptr");
}

} // namespace
