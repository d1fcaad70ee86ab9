// Language texts: module tables, their lookup and the binary text file.
#include "Lng.h"
#include "Msg.h"
#include "Platform_helper.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <deque>
#include <iterator>
#include <string>

namespace {

using ::testing::ExitedWithCode;

// A new, empty loaded-table reference. The tables stay reachable until the end of the run, as
// they would in the program.
lng_text **new_table() {
    static auto *const tables = new std::deque<lng_text *>;
    return &tables->emplace_back(nullptr);
}

std::string temp_path(const std::string &name) {
    return ::testing::TempDir() + "lng_" + name;
}

std::string read_file(const std::string &path) {
    std::string bytes;
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return bytes;
    int c;
    while ((c = std::fgetc(file)) != EOF) bytes += static_cast<char>(c);
    std::fclose(file);
    return bytes;
}

void write_file(const std::string &path, const std::string &bytes) {
    std::FILE *file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    std::fclose(file);
}

// Builds text file bytes by hand.
std::string u32(std::uint32_t v) {
    return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
            static_cast<char>(v >> 24)};
}
std::string item(const std::string &text) {
    return u32(text.size() + 1) + text + '\0';
}

// A valid file of three texts in two languages.
std::string valid_file() {
    return u32(3) + u32(2) + item("ALPHA") + item("alpha") + item("Alpha") + item("BETA") +
           item("beta") + item("Beta") + item("GAMMA") + item("gamma") + item("Gamma");
}

class LngTest : public ::testing::Test {
  protected:
    void SetUp() override {
        msg_set_stream(nullptr);
        msg_init_module("TEST");
        msg_set_language(LNG_ENGLISH);
        lng__set_own_language(LNG_ENGLISH);
        msg_reset_counters();
    }
    void TearDown() override {
        msg_set_language(LNG_GERMAN);
        lng__set_own_language(LNG_GERMAN);
    }
};

using LngDeathTest = LngTest;

TEST_F(LngTest, EmptyKeyGivesEmptyTextWithoutTouchingTheTable) {
    lng_row rows[] = {{"SAME", {"1", "one"}}, {"SAME", {"2", "two"}}};
    lng_module module = {rows, std::size(rows), 1, {LNG_GERMAN, LNG_ENGLISH}, 0};
    EXPECT_STREQ(lng__module_text(&module, ""), "");
    EXPECT_EQ(module.unsorted, 1);
}

TEST_F(LngTest, ModuleLookupSortsOnceAndFollowsTheCodeMap) {
    lng_row rows[] = {{"ZULU", {"z-de", "z-en"}},
                      {"ALPHA", {"a-de", "a-en"}},
                      {"MIKE", {"m-de", "m-en"}},
                      {"BRAVO", {"b-de", "b-en"}}};
    lng_module module = {rows, std::size(rows), 1, {LNG_GERMAN, LNG_ENGLISH}, 0};
    // Column 0 until the language is set: German here.
    EXPECT_STREQ(lng__module_text(&module, "MIKE"), "m-de");
    EXPECT_EQ(module.unsorted, 0);
    EXPECT_STREQ(rows[0].key, "ALPHA");
    EXPECT_STREQ(rows[3].key, "ZULU");
    lng__module_set_language(&module, LNG_ENGLISH);
    EXPECT_EQ(module.index, 1u);
    EXPECT_STREQ(lng__module_text(&module, "ZULU"), "z-en");
    EXPECT_STREQ(lng__module_text(&module, "ALPHA"), "a-en");
    lng__module_set_language(&module, 7);
    EXPECT_STREQ(lng__module_text(&module, "BRAVO"), "b-de");

    // The converter's map names English first.
    lng_row conv_rows[] = {{"K", {"english", "deutsch"}}};
    lng_module conv = {conv_rows, 1, 1, {LNG_ENGLISH, LNG_GERMAN}, 0};
    lng__module_set_language(&conv, LNG_GERMAN);
    EXPECT_STREQ(lng__module_text(&conv, "K"), "deutsch");
    lng__module_set_language(&conv, -1);
    EXPECT_STREQ(lng__module_text(&conv, "K"), "english");
}

TEST_F(LngTest, FindRowSearchesBytewise) {
    // Byte-wise order puts upper-case letters before lower-case ones and 0xFC last.
    lng_row rows[] = {{"\374", {"u", "u"}}, {"b", {"b", "b"}}, {"B", {"B", "B"}}, {"A_", {"", ""}}};
    lng__sort_texts(rows, std::size(rows), sizeof(lng_row));
    EXPECT_STREQ(rows[0].key, "A_");
    EXPECT_STREQ(rows[1].key, "B");
    EXPECT_STREQ(rows[2].key, "b");
    EXPECT_STREQ(rows[3].key, "\374");
    EXPECT_EQ(lng__find_row(rows, std::size(rows), sizeof(lng_row), "b"), &rows[2]);
    EXPECT_EQ(lng__find_row(rows, std::size(rows), sizeof(lng_row), "\374"), &rows[3]);
}

// Runs a sort that must stop the program, with the messages going unbuffered into `path`.
void sort_into(const std::string &path, lng_row *rows, std::size_t count) {
    std::FILE *file = std::fopen(path.c_str(), "wb");
    std::setvbuf(file, nullptr, _IONBF, 0);
    msg_set_stream(file);
    lng__sort_texts(rows, count, sizeof(lng_row));
}

TEST_F(LngDeathTest, KeyInThreeRowsIsReportedOnceThenAsserted) {
    const std::string path = temp_path("dup_last.txt");
    lng_row rows[] = {{"Z", {"", ""}}, {"A", {"", ""}}, {"Z", {"", ""}}, {"Z", {"", ""}}};
    EXPECT_DEATH(sort_into(path, rows, std::size(rows)), "Assertion failed: errors == 0");
    EXPECT_EQ(read_file(path), "[TEST 1.ERROR LNG_TEXTID_USEERR]  lng__sort_texts()\n"
                               "    text identifier \"Z\" 3 times used\n");

    lng_row two[] = {{"B", {"", ""}}, {"A", {"", ""}}, {"B", {"", ""}},
                     {"C", {"", ""}}, {"A", {"", ""}}, {"B", {"", ""}}};
    lng__set_own_language(LNG_GERMAN);
    EXPECT_DEATH(sort_into(path, two, std::size(two)), "Assertion failed: errors == 0");
    EXPECT_EQ(read_file(path), "[TEST 1.ERROR LNG_TEXTID_USEERR]  lng__sort_texts()\n"
                               "    Textschl\374ssel \"A\" 2-fach benutzt\n"
                               "[TEST 2.ERROR LNG_TEXTID_USEERR]  lng__sort_texts()\n"
                               "    Textschl\374ssel \"B\" 3-fach benutzt\n");
}

TEST_F(LngDeathTest, DuplicateKeyInModuleTableStopsAtFirstLookup) {
    lng_row rows[] = {{"K", {"1", "1"}}, {"K", {"2", "2"}}};
    lng_module module = {rows, std::size(rows), 1, {LNG_GERMAN, LNG_ENGLISH}, 0};
    EXPECT_DEATH(lng__module_text(&module, "K"),
                 stderr_regex("LNG_TEXTID_USEERR.*\"K\" 2 times used.*errors == 0"));
}

TEST_F(LngDeathTest, MissingKeyIsAnAssertion) {
    lng_row rows[] = {{"A", {"", ""}}, {"C", {"", ""}}};
    lng_module module = {rows, std::size(rows), 1, {LNG_GERMAN, LNG_ENGLISH}, 0};
    EXPECT_DEATH(lng__module_text(&module, "B"), "Assertion failed: result != NULL, file Lng.cpp");
    EXPECT_DEATH(lng__find_row(rows, 0, sizeof(lng_row), "A"), "result != NULL");
    EXPECT_DEATH(lng__module_text(&module, nullptr), "key != NULL");
}

TEST_F(LngTest, CreatedFileHasTheLayoutAndReadsBack) {
    const std::string path = temp_path("roundtrip.txt");
    // Rows as the converter keeps them: key, English, German; declared out of order.
    lng_row rows[] = {
        {"OMEGA", {"last", "zuletzt"}}, {"ALPHA", {"first", "zuerst"}}, {"MID", {"", "gr\374n"}}};
    lng__create_file(path.c_str(), rows, std::size(rows), 2, sizeof(lng_row),
                     offsetof(lng_row, text));
    EXPECT_EQ(read_file(path), u32(3) + u32(2) + item("ALPHA") + item("first") + item("zuerst") +
                                   item("MID") + item("") + item("gr\374n") + item("OMEGA") +
                                   item("last") + item("zuletzt"));

    lng_text *&table = *new_table();
    lng__set_language(path.c_str(), &table, 1);
    ASSERT_NE(table, nullptr);
    EXPECT_STREQ(lng__get_text(table, "ALPHA"), "zuerst");
    EXPECT_STREQ(lng__get_text(table, "MID"), "gr\374n");
    EXPECT_STREQ(lng__get_text(table, "OMEGA"), "zuletzt");
    const char *key = table[1].key;

    // The same language again does not read the file at all.
    std::remove(path.c_str());
    lng__set_language(path.c_str(), &table, 1);
    EXPECT_STREQ(lng__get_text(table, "OMEGA"), "zuletzt");

    // Another language keeps the keys and replaces every text.
    lng__create_file(path.c_str(), rows, std::size(rows), 2, sizeof(lng_row),
                     offsetof(lng_row, text));
    lng__set_language(path.c_str(), &table, 0);
    EXPECT_EQ(table[1].key, key);
    EXPECT_STREQ(lng__get_text(table, "ALPHA"), "first");
    EXPECT_STREQ(lng__get_text(table, "MID"), "");
    EXPECT_STREQ(lng__get_text(table, "OMEGA"), "last");
    std::remove(path.c_str());
}

TEST_F(LngTest, FileWithOneLanguageAndNoTexts) {
    const std::string path = temp_path("single.txt");
    lng_row rows[] = {{"B", {"b", "-"}}, {"A", {"a", "-"}}};
    lng__create_file(path.c_str(), rows, std::size(rows), 1, sizeof(lng_row),
                     offsetof(lng_row, text));
    EXPECT_EQ(read_file(path), u32(2) + u32(1) + item("A") + item("a") + item("B") + item("b"));
    lng_text *&table = *new_table();
    lng__set_language(path.c_str(), &table, 0);
    EXPECT_STREQ(lng__get_text(table, "B"), "b");

    write_file(path, u32(0) + u32(2));
    lng_text *&empty = *new_table();
    lng__set_language(path.c_str(), &empty, 1);
    EXPECT_NE(empty, nullptr);
    std::remove(path.c_str());
}

TEST_F(LngDeathTest, MissingTextInLoadedTableIsAnAssertion) {
    const std::string path = temp_path("valid.txt");
    write_file(path, valid_file());
    lng_text *&table = *new_table();
    lng__set_language(path.c_str(), &table, 0);
    EXPECT_STREQ(lng__get_text(table, "GAMMA"), "gamma");
    EXPECT_DEATH(lng__get_text(table, "DELTA"), "Assertion failed: text != NULL");
    std::remove(path.c_str());
}

// Loads `bytes` as a text file in a child process that must end with status 1 and `pattern`.
#define EXPECT_LOAD_FATAL(bytes, language, pattern)                                                \
    do {                                                                                           \
        const std::string path = temp_path("bad.txt");                                             \
        write_file(path, bytes);                                                                   \
        EXPECT_EXIT(                                                                               \
            {                                                                                      \
                lng_text *fresh = nullptr;                                                         \
                lng__set_language(path.c_str(), &fresh, language);                                 \
            },                                                                                     \
            ExitedWithCode(1), stderr_regex(pattern));                                             \
        std::remove(path.c_str());                                                                 \
    } while (0)

TEST_F(LngDeathTest, DamagedFilesEndWithTheModulesFatalMessages) {
    const std::string good = valid_file();
    EXPECT_LOAD_FATAL(good + 'x', 1,
                      "\\[TEST 1\\.FATAL ERROR LNG_INFILE_SIZEERR\\]  "
                      "lng__set_language\\(\\)\n    file \".*bad.txt\" longer than expected\n");
    EXPECT_LOAD_FATAL("", 0, "LNG_TEXTNUM_READERR\\]  lng__set_language\\(\\)");
    EXPECT_LOAD_FATAL(u32(3) + "\2", 0, "LNG_LANGNUM_READERR");
    // Counts beyond the size of the file.
    EXPECT_LOAD_FATAL(u32(0x7FFFFFFF) + u32(2) + item("A") + item("a") + item("b"), 0,
                      "LNG_TEXTNUM_READERR");
    EXPECT_LOAD_FATAL(u32(1) + u32(0xFFFFFFFF) + item("A") + item("a"), 0, "LNG_LANGNUM_READERR");
    // A language the file does not hold.
    EXPECT_LOAD_FATAL(good, 2, "LNG_LANGNUM_READERR");
    EXPECT_LOAD_FATAL(u32(0) + u32(0), 0, "LNG_LANGNUM_READERR");
    // Keys: a length of 0, longer than the file, without a zero byte, out of order, twice.
    const std::string tail = item("a") + item("b");
    EXPECT_LOAD_FATAL(u32(1) + u32(2) + u32(0) + "AB" + tail, 0,
                      "LNG_TEXTIDLEN_READERR.*length of 0\\. text identifier");
    EXPECT_LOAD_FATAL(u32(1) + u32(2) + u32(4000) + "A" + tail, 0,
                      "LNG_TEXTID_READERR.*0\\. text identifier could not be read");
    EXPECT_LOAD_FATAL(u32(1) + u32(2) + u32(2) + "AB" + tail, 0, "LNG_TEXTID_READERR");
    EXPECT_LOAD_FATAL(u32(2) + u32(2) + item("B") + tail + item("A") + tail, 0,
                      "LNG_TEXTID_READERR.*1\\. text identifier");
    EXPECT_LOAD_FATAL(u32(2) + u32(2) + item("A") + tail + item("A") + tail, 0,
                      "LNG_TEXTID_READERR.*1\\. text identifier");
    // Texts: a length of 0, longer than the file, without a zero byte, missing length.
    EXPECT_LOAD_FATAL(u32(1) + u32(2) + item("A") + item("a") + u32(0) + "bb", 1,
                      "LNG_STRLEN_READERR.*0\\. text: length of 1\\. string");
    EXPECT_LOAD_FATAL(u32(1) + u32(2) + item("A") + u32(900) + "a" + item("b"), 0,
                      "LNG_STRING_READERR.*0\\. text: 0\\. string could not be read");
    EXPECT_LOAD_FATAL(u32(1) + u32(2) + item("A") + item("a") + u32(1) + "b", 1,
                      "LNG_STRING_READERR.*0\\. text: 1\\. string");
    EXPECT_LOAD_FATAL(u32(1) + u32(2) + item("A") + item("a") + std::string("\1\0", 2) + "a", 0,
                      "LNG_STRLEN_READERR");
    EXPECT_LOAD_FATAL(good.substr(0, good.size() - 3), 0, "LNG_STRING_READERR.*2\\. text");
}

TEST_F(LngDeathTest, MissingFileIsFatalInBothLanguages) {
    const std::string path = temp_path("missing.txt");
    std::remove(path.c_str());
    EXPECT_EXIT(
        {
            lng_text *fresh = nullptr;
            lng__set_language(path.c_str(), &fresh, 0);
        },
        ExitedWithCode(1),
        "LNG_INFILE_FILEOPENERR\\]  lng__set_language\\(\\)\n    text file \".*\" could not be "
        "opened");
    lng__set_own_language(LNG_GERMAN);
    msg_set_language(LNG_GERMAN);
    EXPECT_EXIT(
        {
            lng_text *fresh = nullptr;
            lng__set_language("nix", &fresh, 0);
        },
        ExitedWithCode(1),
        "\\[TEST 1\\.ABBRUCH-FEHLER LNG_INFILE_FILEOPENERR\\]  lng__set_language\\(\\)\n"
        "    Textdatei \"nix\" konnte nicht ge\366ffnet werden\n");
}

TEST_F(LngDeathTest, ReloadMustNameAFileWithTheSameKeys) {
    const std::string path = temp_path("reload.txt");
    const std::string other = temp_path("other.txt");
    write_file(path, valid_file());
    lng_text *&table = *new_table();
    lng__set_language(path.c_str(), &table, 0);

    write_file(other, u32(2) + u32(2) + item("ALPHA") + item("a") + item("b") + item("BETA") +
                          item("a") + item("b"));
    EXPECT_EXIT(lng__set_language(other.c_str(), &table, 1), ExitedWithCode(1),
                "LNG_TEXTNUM_READERR");
    write_file(other, u32(3) + u32(2) + item("ALPHA") + item("a") + item("b") + item("BETB") +
                          item("a") + item("b") + item("GAMMA") + item("a") + item("b"));
    EXPECT_EXIT(lng__set_language(other.c_str(), &table, 1), ExitedWithCode(1),
                stderr_regex("LNG_TEXTID_READERR.*1\\. text identifier"));
    write_file(other, u32(3) + u32(2) + item("ALPHA") + item("a") + item("b") + item("BETA!") +
                          item("a") + item("b") + item("GAMMA") + item("a") + item("b"));
    EXPECT_EXIT(lng__set_language(other.c_str(), &table, 1), ExitedWithCode(1),
                stderr_regex("LNG_TEXTID_READERR.*1\\. text identifier"));

    // A file with the same keys may bring other texts.
    write_file(other, u32(3) + u32(3) + item("ALPHA") + item("a") + item("b") + item("c") +
                          item("BETA") + item("a") + item("b") + item("c") + item("GAMMA") +
                          item("a") + item("b") + item("c"));
    lng__set_language(other.c_str(), &table, 2);
    EXPECT_STREQ(lng__get_text(table, "BETA"), "c");
    std::remove(path.c_str());
    std::remove(other.c_str());
}

TEST_F(LngDeathTest, WriteFailuresAreFatal) {
    lng_row rows[] = {{"A", {"a", "b"}}};
    EXPECT_EXIT(lng__create_file((temp_path("no/such/dir") + "/x.txt").c_str(), rows, 1, 2,
                                 sizeof(lng_row), offsetof(lng_row, text)),
                ExitedWithCode(1),
                "LNG_OUTFILE_FILEOPENERR\\]  lng__create_file\\(\\)\n    text file \".*x.txt\"");
    if (std::FILE *full = std::fopen("/dev/full", "wb")) {
        std::fclose(full);
        EXPECT_EXIT(
            lng__create_file("/dev/full", rows, 1, 2, sizeof(lng_row), offsetof(lng_row, text)),
            ExitedWithCode(1),
            "LNG_TEXTNUM_WRITEERR\\]  lng__create_file\\(\\)\n    number of texts could "
            "not be written to file \"/dev/full\"");
    }
}

} // namespace
