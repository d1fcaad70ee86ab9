// Table texts in the output encoding: the code page tables, translation, choice and lookup.
#include "Lng.h"

#include <gtest/gtest.h>

#include <clocale>
#include <iterator>
#include <set>

namespace {

class LngEncoding : public ::testing::Test {
    void TearDown() override { lng__set_output_encoding(LNG_CP_AS_STORED); }
};

// Values of the code charts; then every byte: a code point of its own, ASCII below 0x80,
// Windows-1252 Latin-1 from 0xA0, all of Latin-1 in both code pages.
TEST_F(LngEncoding, CodePageTables) {
    const unsigned long known[][3] = {
        {LNG_CP850, 0x84, 0xE4},   {LNG_CP850, 0x81, 0xFC},  {LNG_CP850, 0x94, 0xF6},
        {LNG_CP850, 0xE1, 0xDF},   {LNG_CP850, 0x9A, 0xDC},  {LNG_CP850, 0xB0, 0x2591},
        {LNG_CP850, 0xFF, 0xA0},   {LNG_CP1252, 0xFC, 0xFC}, {LNG_CP1252, 0x80, 0x20AC},
        {LNG_CP1252, 0x9F, 0x178}, {LNG_CP1252, 0x8D, 0x8D}};
    for (const auto &k : known)
        EXPECT_EQ(lng__code_point(int(k[0]), static_cast<unsigned char>(k[1])), k[2]) << k[1];
    for (int code_page : {LNG_CP850, LNG_CP1252}) {
        std::set<unsigned long> seen;
        for (unsigned byte = 0; byte <= 0xFF; ++byte) {
            const unsigned long point =
                lng__code_point(code_page, static_cast<unsigned char>(byte));
            seen.insert(point);
            const bool same = byte < 0x80 || (code_page == LNG_CP1252 && byte >= 0xA0);
            EXPECT_TRUE(!same || point == byte) << code_page << " " << byte;
        }
        EXPECT_EQ(seen.size(), 256u) << code_page;
        for (unsigned long point = 0xA0; point <= 0xFF; ++point)
            EXPECT_EQ(seen.count(point), 1u) << code_page << " " << point;
    }
}

TEST_F(LngEncoding, TranslationAndChoiceOfTheEncoding) {
    const struct {
        const char *text;
        int from, to;
        const char *expected;
    } cases[] = {{"a\x84 u\x81 s\xE1", LNG_CP850, LNG_CP_UTF8, "a\xC3\xA4 u\xC3\xBC s\xC3\x9F"},
                 {"u\xFC \x80", LNG_CP1252, LNG_CP_UTF8, "u\xC3\xBC \xE2\x82\xAC"},
                 {"\x84\xB0", LNG_CP850, LNG_CP1252, "\xE4?"}, // no shade in Windows-1252
                 {"\xFC\x80", LNG_CP1252, LNG_CP850, "\x81?"}, // no euro sign in code page 850
                 {"%s 100%%\n", LNG_CP850, LNG_CP_UTF8, "%s 100%%\n"}};
    for (const auto &c : cases) EXPECT_EQ(lng__translate(c.text, c.from, c.to), c.expected);
    for (const char *name : {"de_DE.UTF-8", "C.utf8", "en_US.Utf-8@euro"})
        EXPECT_EQ(lng__locale_encoding(name), LNG_CP_UTF8) << name;
    for (const char *name : {"C", "POSIX", "de_DE.ISO-8859-1", "en_US.UTF-16", ""})
        EXPECT_EQ(lng__locale_encoding(name), LNG_CP_AS_STORED) << name;
    const int consoles[][2] = {
        {65001, LNG_CP_UTF8}, {850, LNG_CP850}, {1252, LNG_CP1252}, {437, LNG_CP_AS_STORED}};
    for (const auto &c : consoles) EXPECT_EQ(lng__console_encoding(c[0]), c[1]) << c[0];
#ifndef _WIN32 // the environment's LC_CTYPE decides (Encoding_test.cpp); the locale stays "C"
    const int selected = lng__select_output_encoding();
    EXPECT_EQ(selected, lng__output_encoding());
    EXPECT_STREQ(std::setlocale(LC_ALL, nullptr), "C");
#endif
}

lng_row rows850[] = {{"K", {"channels", "Kan\x84"}}, {"P", {"plain", "schlicht"}}};

// Translated once per encoding; a text once given stays valid; as stored where nothing changes.
TEST_F(LngEncoding, Lookup) {
    lng_module m = {rows850, std::size(rows850), 1, {LNG_ENGLISH, LNG_GERMAN}, 1, LNG_CP850};
    const char *stored = lng__module_text(&m, "K");
    EXPECT_EQ(stored, rows850[0].text[1]);
    const struct {
        int output;
        const char *expected;
    } cases[] = {{LNG_CP_UTF8, "Kan\xC3\xA4"}, {LNG_CP1252, "Kan\xE4"}, {LNG_CP850, "Kan\x84"}};
    const char *given[std::size(cases)];
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        lng__set_output_encoding(cases[i].output);
        given[i] = lng__module_text(&m, "K");
        EXPECT_STREQ(given[i], cases[i].expected);
        EXPECT_EQ(lng__module_text(&m, "K"), given[i]);
        EXPECT_EQ(given[i] == stored, cases[i].output == LNG_CP850);
        EXPECT_EQ(lng__module_text(&m, "P"), rows850[1].text[1]); // ASCII
    }
    for (std::size_t i = 0; i < std::size(cases); ++i) EXPECT_STREQ(given[i], cases[i].expected);
}

} // namespace
