// Language texts: module text tables, language selection and the binary text file.
//
// Every text the program shows exists once per language and is found by a message key. Each
// module keeps its texts in a module text table (rows of key plus one text per language), sorted
// once at the first lookup and then searched by binary search. Language code 0 is English, 1 is
// German; each module maps the code to a column of its own table through its code map.
#ifndef TRAXCON_UTILS_LNG_H
#define TRAXCON_UTILS_LNG_H

#include <cstddef>

// Language codes.
constexpr int LNG_ENGLISH = 0;
constexpr int LNG_GERMAN = 1;

// Number of text columns of every module text table of the program.
constexpr int LNG_LANGUAGES = 2;

// Value of the loaded language index while no language is loaded.
constexpr unsigned LNG_NONE = 0xFFFF;

// One row of a module text table: the key, then one text per language, in the column order of
// the module's code map. The key must stay the first member (the sort and the search read it
// there).
struct lng_row {
    const char *key;
    const char *text[LNG_LANGUAGES];
};

// A module's text table with everything its lookup needs. Each module keeps one of these as
// module-wide state, e.g.
//   lng_module my_texts = {my_rows, std::size(my_rows), 1, {LNG_GERMAN, LNG_ENGLISH}, 0};
struct lng_module {
    lng_row *rows;               // the rows, sorted in place at the first lookup
    std::size_t count;           // number of rows
    int unsorted;                // 1 until the first lookup has sorted the rows
    int code_map[LNG_LANGUAGES]; // language code of each text column
    unsigned index;              // text column of the current language, 0 at start
};

// A row of a loaded text table: the key and the text of the loaded language, both owned by the
// language module.
struct lng_text {
    char *key;
    char *text;
};

// Sorts `rows` rows of `row_size` bytes by their key (a `const char *` at the start of each row),
// comparing byte-wise, and checks that no key occurs twice. Every repeated key is reported as
// error LNG_TEXTID_USEERR; if any was, the program stops by assertion.
void lng__sort_texts(void *table, std::size_t rows, std::size_t row_size);

// Binary search by key over rows sorted by lng__sort_texts. A missing key is a programming error
// and stops the program by assertion.
void *lng__find_row(void *table, std::size_t rows, std::size_t row_size, const char *key);

// Text lookup of a module: the empty key gives the empty text without touching the table;
// otherwise the table is sorted on first use and the text of the module's current column is
// returned. The result points into the table.
const char *lng__module_text(lng_module *module, const char *key);

// Language setter of a module: the column becomes the position of `code` in the module's code
// map; a code that is not in the map selects column 0.
void lng__module_set_language(lng_module *module, int code);

// Selects the language of this module's own texts.
void lng__set_own_language(int code);

// Writes `rows` rows of `row_size` bytes as a binary text file with `languages` languages; the
// text references of a row follow each other starting `text_offset` bytes into the row. The
// table is sorted first (so the file is in key order). Every failure is a fatal message.
void lng__create_file(const char *file_name, void *table, std::size_t rows, unsigned languages,
                      std::size_t row_size, std::size_t text_offset);

// Loads the texts of language `language` of a text file into `*table`. On the first call
// `*table` must be null: the rows are allocated and stay allocated for the whole run. Later calls
// must name a file with the same keys; they replace only the texts. Loading the language already
// loaded does nothing. Every failure, also a damaged or mismatched file, is a fatal message.
void lng__set_language(const char *file_name, lng_text **table, unsigned language);

// The text of `key` in the loaded language. A missing key stops the program by assertion.
const char *lng__get_text(const lng_text *table, const char *key);

#endif
