// Language texts: module text tables, language selection and the binary text file.
#include "Lng.h"

#include "Msg.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

// The module's own texts, Windows-1252 code page; German column first.
lng_row lng_rows[] = {
    {"LNG_INFILE_FILEOPENERR",
     {"Textdatei \"%s\" konnte nicht ge\366ffnet werden\n",
      "text file \"%s\" could not be opened\n"}},
    {"LNG_TEXTNUM_READERR",
     {"Anzahl der Texte konnte nicht von der Datei \"%s\" eingelesen werden\n",
      "number of texts could not be read from file \"%s\"\n"}},
    {"LNG_LANGNUM_READERR",
     {"Anzahl der Sprachen konnte nicht von der Datei \"%s\" eingelesen werden\n",
      "number of languages could not be read from file \"%s\"\n"}},
    {"LNG_TEXTS_SPACEERR",
     {"Kein Speicherplatz f\374r Texte verf\374gbar\n", "no space for text array available\n"}},
    {"LNG_TEXTIDLEN_READERR",
     {"L\344nge des %ld. Textschl\374ssels konnte nicht von der Datei \"%s\" eingelesen werden\n",
      "length of %ld. text identifier could not be read from file \"%s\"\n"}},
    {"LNG_TEXTID_SPACEERR",
     {"kein Speicherplatz f\374r %ld. Textschl\374ssel verf\374gbar\n",
      "no space for %ld. text identifier available\n"}},
    {"LNG_TEXTID_READERR",
     {"%ld. Textschl\374ssel konnte nicht von der Datei \"%s\" eingelesen werden\n",
      "%ld. text identifier could not be read from file \"%s\"\n"}},
    {"LNG_TEXTID_FSEEKERR",
     {"Fehler beim \334berlesen des %ld. Textschl\374ssels in der Datei \"%s\"\n",
      "fseek() error on skipping %ld. text identifier in file \"%s\"\n"}},
    {"LNG_STRLEN_READERR",
     {"%ld. Text: L\344nge der %ld. Nachricht konnte nicht von der Datei \"%s\" eingelesen "
      "werden\n",
      "%ld. text: length of %ld. string could not be read from file \"%s\"\n"}},
    {"LNG_STRING_SPACEERR",
     {"%ld. Text: Kein Speicherplatz f\374r Nachricht verf\374gbar\n",
      "%ld. text: no space for string available\n"}},
    {"LNG_STRING_READERR",
     {"%ld. Text: %ld. Nachricht konnte nicht von der Datei \"%s\" eingelesen werden\n",
      "%ld. text: %ld. string could not be read from file \"%s\"\n"}},
    {"LNG_STRING_FSEEKERR",
     {"%ld. Text: Fehler beim \334berlesen der %ld. Nachricht in der Datei \"%s\"\n",
      "%ld. text: fseek() error on skipping %ld. string in file \"%s\"\n"}},
    {"LNG_INFILE_SIZEERR", {"Datei \"%s\" ist zu lang\n", "file \"%s\" longer than expected\n"}},
    {"LNG_OUTFILE_FILEOPENERR",
     {"Datei \"%s\" f\374r Texte konnte nicht ge\366ffnet werden\n",
      "text file \"%s\" could not be opened\n"}},
    {"LNG_TEXTNUM_WRITEERR",
     {"Anzahl der Texte konnte nicht auf Datei \"%s\" geschrieben werden\n",
      "number of texts could not be written to file \"%s\"\n"}},
    {"LNG_LANGNUM_WRITEERR",
     {"Anzahl der Sprachen konnte nicht auf Datei \"%s\" geschrieben werden\n",
      "number of languages could not be written to file \"%s\"\n"}},
    {"LNG_TEXTIDLEN_WRITEERR",
     {"L\344nge des %ld. Textschl\374ssels konnte nicht auf Datei \"%s\" geschrieben werden\n",
      "length of %ld. text identifier could not be written to file \"%s\"\n"}},
    {"LNG_TEXTID_WRITEERR",
     {"%ld. Textschl\374ssel \"%s\" konnte nicht auf Datei \"%s\" geschrieben werden\n",
      "%ld. text identifier \"%s\" could not be written to file \"%s\"\n"}},
    {"LNG_STRLEN_WRITEERR",
     {"%ld. Text: L\344nge der %ld. Nachricht konnte nicht auf Datei \"%s\" geschrieben "
      "werden\n",
      "%ld. text: length of %ld. string could not be written to file \"%s\"\n"}},
    {"LNG_STRING_WRITEERR",
     {"%ld. Text: %ld. Nachricht konnte nicht auf Datei \"%s\" geschrieben werden\n",
      "%ld. text: %ld. string could not be written to file \"%s\"\n"}},
    {"LNG_TEXTID_USEERR",
     {"Textschl\374ssel \"%s\" %ld-fach benutzt\n", "text identifier \"%s\" %ld times used\n"}},
};

lng_module lng_texts = {lng_rows, std::size(lng_rows), 1, {LNG_GERMAN, LNG_ENGLISH}, 0};

// State of the loaded text table: counts of the last file read and the language loaded.
struct loaded_state {
    std::uint32_t texts = 0;
    std::uint32_t languages = 0;
    unsigned language = LNG_NONE;
};
loaded_state loaded;

const char *own_text(const char *key) {
    return lng__module_text(&lng_texts, key);
}

const char *row_key(const void *row) {
    const char *key;
    std::memcpy(&key, row, sizeof key);
    return key;
}

int compare_rows(const void *a, const void *b) {
    return std::strcmp(row_key(a), row_key(b));
}

int compare_key_row(const void *key, const void *row) {
    return std::strcmp(static_cast<const char *>(key), row_key(row));
}

int compare_key_text(const void *key, const void *row) {
    return std::strcmp(static_cast<const char *>(key), static_cast<const lng_text *>(row)->key);
}

// Fatal message of this module with its own text of `key` as format.
[[noreturn]] void lng_fatal(const char *location, const char *key, ...) {
    va_list args;
    va_start(args, key);
    msg_print_v(MSG_FATERR, location, key, own_text(key), args);
    va_end(args);
    std::exit(1);
}

// ---- writing ----

constexpr const char *CREATE_LOC = "lng__create_file()";

// Writes `size` bytes and pushes them to the file, so that a failure shows at the item that
// caused it.
bool write_bytes(std::FILE *file, const void *data, std::size_t size) {
    return std::fwrite(data, 1, size, file) == size && std::fflush(file) == 0;
}

bool write_u32(std::FILE *file, std::uint32_t value) {
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
        static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
    return write_bytes(file, bytes, sizeof bytes);
}

// ---- reading ----

constexpr const char *SET_LOC = "lng__set_language()";

// Sequential reader that knows how many bytes of the file are left, so that no count or length
// read from a damaged file leads to an allocation or a read beyond its end.
struct reader {
    std::FILE *file;
    std::uint64_t left;

    bool read(void *data, std::size_t size) {
        if (size > left || std::fread(data, 1, size, file) != size) return false;
        left -= size;
        return true;
    }
    bool read_u32(std::uint32_t &value) {
        unsigned char bytes[4];
        if (!read(bytes, sizeof bytes)) return false;
        value = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
                static_cast<std::uint32_t>(bytes[2]) << 16 |
                static_cast<std::uint32_t>(bytes[3]) << 24;
        return true;
    }
    bool skip(std::uint32_t size) {
        if (size > left || std::fseek(file, static_cast<long>(size), SEEK_CUR) != 0) return false;
        left -= size;
        return true;
    }
    // Reads `size` bytes and compares them with `expected` (of that size) without allocating.
    bool read_equal(const char *expected, std::uint32_t size, bool &equal) {
        char chunk[256];
        equal = true;
        while (size > 0) {
            const std::size_t part = size < sizeof chunk ? size : sizeof chunk;
            if (!read(chunk, part)) return false;
            if (std::memcmp(chunk, expected, part) != 0) equal = false;
            expected += part;
            size -= static_cast<std::uint32_t>(part);
        }
        return true;
    }
};

// Size of the open file from its current position (the start) to its end.
bool file_size(std::FILE *file, std::uint64_t &size) {
    if (std::fseek(file, 0, SEEK_END) != 0) return false;
    const long end = std::ftell(file);
    if (end < 0 || std::fseek(file, 0, SEEK_SET) != 0) return false;
    size = static_cast<std::uint64_t>(end);
    return true;
}

} // namespace

void lng__sort_texts(void *table, std::size_t rows, std::size_t row_size) {
    MSG_ASSERT(table != NULL || rows == 0);
    MSG_ASSERT(row_size >= sizeof(const char *));
    if (rows == 0) return;
    auto *base = static_cast<unsigned char *>(table);
    for (std::size_t i = 0; i < rows; ++i) MSG_ASSERT(row_key(base + i * row_size) != NULL);
    std::qsort(table, rows, row_size, compare_rows);

    long errors = 0;
    for (std::size_t i = 0; i < rows;) {
        const char *key = row_key(base + i * row_size);
        std::size_t next = i + 1;
        while (next < rows && std::strcmp(key, row_key(base + next * row_size)) == 0) ++next;
        if (next - i > 1) {
            msg_err("lng__sort_texts()", "LNG_TEXTID_USEERR", own_text("LNG_TEXTID_USEERR"), key,
                    static_cast<long>(next - i));
            ++errors;
        }
        i = next;
    }
    MSG_ASSERT(errors == 0);
}

void *lng__find_row(void *table, std::size_t rows, std::size_t row_size, const char *key) {
    MSG_ASSERT(key != NULL);
    void *result = rows == 0 ? nullptr : std::bsearch(key, table, rows, row_size, compare_key_row);
    MSG_ASSERT(result != NULL);
    return result;
}

const char *lng__module_text(lng_module *module, const char *key) {
    MSG_ASSERT(module != NULL);
    MSG_ASSERT(key != NULL);
    if (key[0] == '\0') return "";
    if (module->unsorted) {
        // Cleared first: a duplicate report looks texts up in an already sorted table.
        module->unsorted = 0;
        lng__sort_texts(module->rows, module->count, sizeof(lng_row));
    }
    auto *row =
        static_cast<lng_row *>(lng__find_row(module->rows, module->count, sizeof(lng_row), key));
    MSG_ASSERT(module->index < LNG_LANGUAGES);
    return row->text[module->index];
}

void lng__module_set_language(lng_module *module, int code) {
    MSG_ASSERT(module != NULL);
    module->index = 0;
    for (unsigned i = 0; i < LNG_LANGUAGES; ++i) {
        if (module->code_map[i] == code) {
            module->index = i;
            break;
        }
    }
}

void lng__set_own_language(int code) {
    lng__module_set_language(&lng_texts, code);
}

void lng__create_file(const char *file_name, void *table, std::size_t rows, unsigned languages,
                      std::size_t row_size, std::size_t text_offset) {
    MSG_ASSERT(file_name != NULL);
    MSG_ASSERT(table != NULL || rows == 0);
    MSG_ASSERT(text_offset >= sizeof(const char *));
    MSG_ASSERT(text_offset <= row_size &&
               languages <= (row_size - text_offset) / sizeof(const char *));
    lng__sort_texts(table, rows, row_size);

    std::FILE *file = std::fopen(file_name, "wb");
    if (file == nullptr) lng_fatal(CREATE_LOC, "LNG_OUTFILE_FILEOPENERR", file_name);
    if (rows > UINT32_MAX || !write_u32(file, static_cast<std::uint32_t>(rows)))
        lng_fatal(CREATE_LOC, "LNG_TEXTNUM_WRITEERR", file_name);
    if (!write_u32(file, languages)) lng_fatal(CREATE_LOC, "LNG_LANGNUM_WRITEERR", file_name);

    const auto *base = static_cast<const unsigned char *>(table);
    for (std::size_t i = 0; i < rows; ++i) {
        const unsigned char *row = base + i * row_size;
        const long pos = static_cast<long>(i);
        const char *key = row_key(row);
        const std::size_t key_size = std::strlen(key) + 1;
        if (key_size > UINT32_MAX || !write_u32(file, static_cast<std::uint32_t>(key_size)))
            lng_fatal(CREATE_LOC, "LNG_TEXTIDLEN_WRITEERR", pos, file_name);
        if (!write_bytes(file, key, key_size))
            lng_fatal(CREATE_LOC, "LNG_TEXTID_WRITEERR", pos, key, file_name);
        for (unsigned j = 0; j < languages; ++j) {
            const char *text = row_key(row + text_offset + j * sizeof(const char *));
            if (text == nullptr) text = "";
            const std::size_t text_size = std::strlen(text) + 1;
            if (text_size > UINT32_MAX || !write_u32(file, static_cast<std::uint32_t>(text_size)))
                lng_fatal(CREATE_LOC, "LNG_STRLEN_WRITEERR", pos, static_cast<long>(j), file_name);
            if (!write_bytes(file, text, text_size))
                lng_fatal(CREATE_LOC, "LNG_STRING_WRITEERR", pos, static_cast<long>(j), file_name);
        }
    }
    std::fclose(file);
}

namespace {

// The counts at the start of a text file, checked against the loaded table and against the size
// of the file before anything is allocated: every record takes at least a key and one text per
// language of one byte each, with their lengths.
void read_counts(reader &in, const char *file_name, bool reload, unsigned language,
                 std::uint32_t &texts, std::uint32_t &languages) {
    if (!in.read_u32(texts)) lng_fatal(SET_LOC, "LNG_TEXTNUM_READERR", file_name);
    if (!in.read_u32(languages)) lng_fatal(SET_LOC, "LNG_LANGNUM_READERR", file_name);
    const std::uint64_t least_record = (static_cast<std::uint64_t>(languages) + 1) * 5;
    if (reload && texts != loaded.texts) lng_fatal(SET_LOC, "LNG_TEXTNUM_READERR", file_name);
    if (language >= languages) lng_fatal(SET_LOC, "LNG_LANGNUM_READERR", file_name);
    if (texts > 0 && least_record > in.left) lng_fatal(SET_LOC, "LNG_LANGNUM_READERR", file_name);
    if (texts > 0 && texts > in.left / least_record)
        lng_fatal(SET_LOC, "LNG_TEXTNUM_READERR", file_name);
}

// The rows for texts records: a first load allocates them, a reload drops the loaded texts.
lng_text *prepare_rows(lng_text **table, bool reload, std::uint32_t texts) {
    lng_text *rows = *table;
    if (reload) {
        loaded.language = LNG_NONE;
        for (std::uint32_t i = 0; i < texts; ++i) {
            std::free(rows[i].text);
            rows[i].text = nullptr;
        }
        return rows;
    }
    rows = static_cast<lng_text *>(std::calloc(texts > 0 ? texts : 1, sizeof(lng_text)));
    if (rows == nullptr) lng_fatal(SET_LOC, "LNG_TEXTS_SPACEERR");
    *table = rows;
    return rows;
}

// The key of record i: read on the first load (it must end with its zero byte and stand above
// the previous one, since lookups search the rows in file order), compared with the loaded key on
// a reload.
void read_key(reader &in, const char *file_name, lng_text *rows, std::uint32_t i) {
    const long pos = static_cast<long>(i);
    std::uint32_t key_size = 0;
    if (!in.read_u32(key_size) || key_size == 0)
        lng_fatal(SET_LOC, "LNG_TEXTIDLEN_READERR", pos, file_name);
    if (rows[i].key != nullptr) {
        bool equal = false;
        if (key_size != std::strlen(rows[i].key) + 1 ||
            !in.read_equal(rows[i].key, key_size, equal) || !equal)
            lng_fatal(SET_LOC, "LNG_TEXTID_READERR", pos, file_name);
        return;
    }
    if (key_size > in.left) lng_fatal(SET_LOC, "LNG_TEXTID_READERR", pos, file_name);
    char *key = static_cast<char *>(std::malloc(key_size));
    if (key == nullptr) lng_fatal(SET_LOC, "LNG_TEXTID_SPACEERR", pos);
    rows[i].key = key;
    if (!in.read(key, key_size) || key[key_size - 1] != '\0' ||
        (i > 0 && std::strcmp(rows[i - 1].key, key) >= 0))
        lng_fatal(SET_LOC, "LNG_TEXTID_READERR", pos, file_name);
}

// The texts of record i: the one of the language is kept, the others are skipped.
void read_texts(reader &in, const char *file_name, lng_text &row, std::uint32_t i,
                std::uint32_t languages, unsigned language) {
    const long pos = static_cast<long>(i);
    for (std::uint32_t j = 0; j < languages; ++j) {
        const long lang = static_cast<long>(j);
        std::uint32_t text_size = 0;
        if (!in.read_u32(text_size) || text_size == 0)
            lng_fatal(SET_LOC, "LNG_STRLEN_READERR", pos, lang, file_name);
        if (text_size > in.left) lng_fatal(SET_LOC, "LNG_STRING_READERR", pos, lang, file_name);
        if (j != language) {
            if (!in.skip(text_size))
                lng_fatal(SET_LOC, "LNG_STRING_FSEEKERR", pos, lang, file_name);
            continue;
        }
        char *text = static_cast<char *>(std::malloc(text_size));
        if (text == nullptr) lng_fatal(SET_LOC, "LNG_STRING_SPACEERR", pos);
        row.text = text;
        if (!in.read(text, text_size) || text[text_size - 1] != '\0')
            lng_fatal(SET_LOC, "LNG_STRING_READERR", pos, lang, file_name);
    }
}

} // namespace

void lng__set_language(const char *file_name, lng_text **table, unsigned language) {
    MSG_ASSERT(file_name != NULL);
    MSG_ASSERT(table != NULL);
    const bool reload = *table != nullptr;
    if (reload && language == loaded.language) return;

    std::FILE *file = std::fopen(file_name, "rb");
    if (file == nullptr) lng_fatal(SET_LOC, "LNG_INFILE_FILEOPENERR", file_name);
    reader in{file, 0};
    if (!file_size(file, in.left)) lng_fatal(SET_LOC, "LNG_TEXTNUM_READERR", file_name);
    std::uint32_t texts = 0;
    std::uint32_t languages = 0;
    read_counts(in, file_name, reload, language, texts, languages);
    lng_text *rows = prepare_rows(table, reload, texts);
    loaded.texts = texts;
    loaded.languages = languages;
    for (std::uint32_t i = 0; i < texts; ++i) {
        read_key(in, file_name, rows, i);
        read_texts(in, file_name, rows[i], i, languages, language);
    }
    if (std::fgetc(file) != EOF) lng_fatal(SET_LOC, "LNG_INFILE_SIZEERR", file_name);
    std::fclose(file);
    loaded.language = language;
}

const char *lng__get_text(const lng_text *table, const char *key) {
    MSG_ASSERT(table != NULL);
    MSG_ASSERT(key != NULL);
    const void *row = loaded.texts == 0 ? nullptr
                                        : std::bsearch(key, table, loaded.texts, sizeof(lng_text),
                                                       compare_key_text);
    const char *text = row == nullptr ? nullptr : static_cast<const lng_text *>(row)->text;
    MSG_ASSERT(text != NULL);
    return text;
}
