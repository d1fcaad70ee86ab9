// Language texts: module text tables, language selection and the binary text file.
//
// Every text the program shows exists once per language and is found by a message key. Each
// module keeps its texts in a module text table (rows of key plus one text per language), sorted
// once at the first lookup and then searched by binary search. Language code 0 is English, 1 is
// German; each module maps the code to a column of its own table through its code map.
#ifndef TRAXCON_UTILS_LNG_H
#define TRAXCON_UTILS_LNG_H

#include <cstddef>
#include <string>

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

// Code pages, numbered as Windows numbers them: of the texts of a module text table, and of the
// program's output.
constexpr int LNG_CP_AS_STORED = 0; // texts: never translated; output: every text as stored
constexpr int LNG_CP850 = 850;      // DOS Latin-1, the console code page of German Windows
constexpr int LNG_CP1252 = 1252;    // Windows Latin-1
constexpr int LNG_CP_UTF8 = 65001;  // Unicode as UTF-8 (output only)

// The translated texts of one module (owned by the language module, see lng__module_text).
struct lng_cache;

// A module's text table with everything its lookup needs. Each module keeps one of these as
// module-wide state and names the code page its texts are written in, e.g.
//   lng_module my_texts = {my_rows, std::size(my_rows), 1, {LNG_GERMAN, LNG_ENGLISH}, 0,
//                          LNG_CP1252};
struct lng_module {
    lng_row *rows;                    // the rows, sorted in place at the first lookup
    std::size_t count;                // number of rows
    int unsorted;                     // 1 until the first lookup has sorted the rows
    int code_map[LNG_LANGUAGES];      // language code of each text column
    unsigned index;                   // text column of the current language, 0 at start
    int code_page = LNG_CP_AS_STORED; // of the texts: LNG_CP850, LNG_CP1252 or as stored
    lng_cache *cache = nullptr;       // translated texts, made at the first translation
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
// returned in the output encoding (lng__output_encoding). A text is given as stored (the result
// points into the table) when the output encoding is LNG_CP_AS_STORED or the module's own code
// page, when the module's code page is LNG_CP_AS_STORED and when the text is plain ASCII;
// otherwise it is translated once into the module's cache, which is never released: every
// result stays valid for the whole run.
const char *lng__module_text(lng_module *module, const char *key);

// Language setter of a module: the column becomes the position of `code` in the module's code
// map; a code that is not in the map selects column 0.
void lng__module_set_language(lng_module *module, int code);

// Selects the language of this module's own texts.
void lng__set_own_language(int code);

// Decides the output encoding of the table texts, once at program start, before the first
// message. On Windows: the code page of the console when standard error is one (see
// lng__console_encoding), else the texts as stored. Elsewhere: the character type the
// environment names (setlocale(LC_CTYPE, ""), see lng__locale_encoding); the program's character
// type is set back to what it was, and no other locale category is touched. Returns the encoding
// now in force.
int lng__select_output_encoding();

// Sets the output encoding: LNG_CP_AS_STORED, LNG_CP850, LNG_CP1252 or LNG_CP_UTF8 (any other
// value stops the program by assertion). Until a selection, texts are given as stored.
void lng__set_output_encoding(int encoding);

// The output encoding in force.
int lng__output_encoding();

// The output encoding for a character type locale of this name: LNG_CP_UTF8 when the name
// contains "UTF-8" or "UTF8" in any case, else (also for a null name) LNG_CP_AS_STORED.
int lng__locale_encoding(const char *name);

// The output encoding for a Windows console of this output code page: 65001 is UTF-8, 850 and
// 1252 are themselves; any other keeps the texts as stored.
int lng__console_encoding(unsigned code_page);

// The Unicode code point of `byte` in code page LNG_CP850 or LNG_CP1252; bytes below 0x80 are
// ASCII in both. The five bytes Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D)
// stand for the control characters of the same number, as on Windows. Any other code page stops
// the program by assertion.
unsigned long lng__code_point(int code_page, unsigned char byte);

// `text` of code page `from` (LNG_CP850 or LNG_CP1252) in encoding `to` (LNG_CP850, LNG_CP1252 or
// LNG_CP_UTF8). A character the target code page lacks becomes '?'.
std::string lng__translate(const char *text, int from, int to);

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
