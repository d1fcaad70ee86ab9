// Argument utility: table check, command-line evaluation, usage help and value savers.
#include "Argv.h"

#include "Lng.h"
#include "Msg.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <new>
#include <string>
#include <vector>

namespace {

constexpr char OPTION_PREFIX = '/';
constexpr char LANGUAGE_PREFIX = '=';
constexpr char HELP_CHAR = '?';
constexpr std::size_t LOCATION_SIZE = 512; // location text buffer, zero byte included
constexpr unsigned HELP_INDENT = 4;
// The option that prints the version line ("/version"), once the program has set one.
constexpr const char VERSION_OPTION[] = "version";

// The utility's own texts, Windows-1252: German column first, then English.
lng_row argv_rows[] = {
    {"DEFVAL_NOTUNIQUE",
     {"%d Voreinstellungen definiert f\xFC"
      "r Adresse zum Schl\xFC"
      "sselwort \"%s\", %d. Parameter\n",
      "%d default values given for adress at keyword \"%s\", %d. parameter\n"}},
    {"VAL_NOTVALID",
     {"Wert f\xFC"
      "r %d. Parameter definiert - nur f\xFC"
      "r Optionen zul\xE4"
      "ssig\n",
      "value for %d. parameter specified - only permitted for options\n"}},
    {"PAR_MULDEF", {"%d. Parameter mehrfach definiert\n", "%d. parameter multiply defined\n"}},
    {"PAR_NOTDEF", {"%d. Parameter nicht definiert\n", "%d. parameter not defined\n"}},
    {"PARS_NOTDEF",
     {"%d. bis %d. Parameter nicht definiert\n", "%d. to %d. parameters not defined\n"}},
    {"OPT_NOPAR",
     {"Option \"%s\" f\xFC"
      "r nicht existierenden %d. Parameter spezifiziert\n",
      "option \"%s\" specified for non existing %d. parameter\n"}},
    {"OPT_MULDEF", {"Option \"%s\" doppelt definiert\n", "option \"%s\" defined twice\n"}},
    {"PAROPT_MULDEF",
     {"Option \"%s\" doppelt definiert f\xFC"
      "r %d. Parameter\n",
      "option \"%s\" defined twice for %d. parameter\n"}},
    {"PAR_REQINVAL",
     {"%d. Parameter notwendig, vorhergende(r) nicht\n",
      "%d. parameter required, previous one(s) not\n"}},
    {"OPT_REQDEFVAL",
     {"Option \"%s\" ben\xF6"
      "tigt Default-Wert\n",
      "option \"%s\" requires default value\n"}},
    {"NO_SPACE",
     {"Kein Speicherplatz verf\xFC"
      "gbar f\xFC"
      "r %s\n",
      "no space got for %s\n"}},
    {"USE_FLAGS", {"Benutzt-Flag der Argumente", "use flags of arguments"}},
    {"SAVE_STRING", {"Abspeichern einer Zeichenkette", "saving string"}},
    {"OPT_VALIGNORE",
     {"Werte f\xFC"
      "r Option sind unzul\xE4"
      "ssig - Wert wird ignoriert\n",
      "values for option are invalid - value ignored\n"}},
    {"OPT_NOTSUPP",
     {"Option wird nicht unterst\xFC"
      "tzt - wird ignoriert\n",
      "option not supported - ignored\n"}},
    {"OPT_NOTUNIQUE",
     {"Abk\xFC"
      "rzung der Option nicht eindeutig - wird ignoriert\n",
      "abbreviation of option not unique - ignored\n"}},
    {"REDIN_ERR",
     {"Standard-Eingabe konnte nicht umgelenkt werden\n",
      "standard input could not be reopened\n"}},
    {"REDOUT_ERR",
     {"Standard-Ausgabe konnte nicht umgelenkt werden\n",
      "standard output could not be reopened\n"}},
    {"REDERR_ERR",
     {"Standard-Fehler-Ausgabe konnte nicht umgelenkt werden\n",
      "standard error output could not be reopened\n"}},
    {"LANG_NOTSUPP",
     {"Sprache wird von argv-Utility nicht unterst\xFC"
      "tzt - Default-Sprache wird eingestellt\n",
      "language not supported by argv-utility - default language set\n"}},
    {"PAR_NOTSUPP",
     {"%d. Parameter nicht zul\xE4"
      "ssig - wird ignoriert\n",
      "%d. parameter not supported - ignored\n"}},
    {"PARS_MISSING",
     {"Zu wenig Parameter: %d \xFC"
      "bergeben, %d werden ben\xF6"
      "tigt\n",
      "too less parameters: %d given, %d needed\n"}},
    {"HELP", {"", ""}},
    {"CALLHELP",
     {"Aufruf-Information - Default-Werte in [...] :\n",
      "usage information - default values in [...] :\n"}},
    {"GENOPTS", {"- Allgemeine Optionen:\n", "- general options:\n"}},
    {"HELPPAR", {"        ? : Aufruf-Information\n", "        ? : usage information\n"}},
    {"HELPOPT", {"        %c? : Aufruf-Information\n", "        %c? : usage information\n"}},
    {"VERSIONOPT", {"        %c%s : Programmversion\n", "        %c%s : version of the program\n"}},
    {"LAN_E_OPT",
     {"        %ce : setze Sprache auf ENGLISCH\n", "        %ce : set language ENGLISH \n"}},
    {"LAN_D_OPT",
     {"        %cd : setze Sprache auf DEUTSCH\n", "        %cd : set language GERMAN \n"}},
    {"REQPARS",
     {"- Notwendige Parameter und deren Optionen:\n",
      "- required parameters and their options:\n"}},
    {"OPTPARS",
     {"- Optionale Parameter und deren Optionen:\n", "- optional parameters and their options:\n"}},
    {"VAL_CONV",
     {"Wert \"%s\" konnte nicht konvertiert werden\n", "value \"%s\" could not be converted\n"}},
    {"DEFVAL_CONV",
     {"Default-Wert \"%s\" konnte nicht konvertiert werden\n",
      "default value \"%s\" could not be converted\n"}},
    {"ARG_CONV",
     {"Argument konnte nicht konvertiert werden\n", "argument could not be converted\n"}},
    {"ARG_LOC", {"bei Argument \"%s\"", "at argument \"%s\""}},
};

// Everything the utility keeps between argv_init, argv_eval, argv_help and argv_free.
struct argv_state {
    argv_entry *table = nullptr;
    unsigned count = 0;
    unsigned params = 0;   // entries with the empty name (they sort first)
    unsigned required = 0; // leading parameters without default value
    argv_language_callback language = nullptr;
    argv_text_function text = nullptr;
    const char *description = nullptr;
    int *use_flags = nullptr;           // one per entry, 1 once given on the command line
    bool conv_failed = false;           // set by argv_conv_error, cleared after every conversion
    argv_file_test file_test = nullptr; // names an existing file (argv_set_file_test)
    // The program's version line (argv_set_version); null: none.
    const char *version = nullptr;
    char *location = nullptr; // LOCATION_SIZE bytes, allocated at first use
    lng_module texts = {argv_rows, std::size(argv_rows), 1, {LNG_GERMAN, LNG_ENGLISH}, 0,
                        LNG_CP1252};
};

argv_state st;

const char *own_text(const char *key) {
    return lng__module_text(&st.texts, key);
}

// Text of a help or description key through the program's text function; never null.
const char *program_text(const char *key) {
    if (key == nullptr) return "";
    if (st.text == nullptr) return key;
    const char *text = st.text(key);
    return text != nullptr ? text : "";
}

const char *or_empty(const char *text) {
    return text != nullptr ? text : "";
}

bool is_parameter(const argv_entry &entry) {
    return entry.name[0] == '\0';
}

bool begins_with(const char *name, const char *text) {
    return std::strncmp(name, text, std::strlen(text)) == 0;
}

// Calls the entry's saver; true when the text was converted.
bool convert(const argv_entry &entry, const char *text) {
    entry.convert(entry.dest, text);
    bool failed = st.conv_failed;
    st.conv_failed = false;
    return !failed;
}

// Location text of the argument being evaluated; empty when no buffer could be had. A longer
// argument is shortened to the buffer.
const char *location_of(const char *argument) {
    if (st.location == nullptr) st.location = new (std::nothrow) char[LOCATION_SIZE];
    if (st.location == nullptr) return "";
    std::snprintf(st.location, LOCATION_SIZE, own_text("ARG_LOC"), argument);
    return st.location;
}

void warn(const char *argument, const char *key) {
    msg_warn(location_of(argument), key, "%s", own_text(key));
}

// Position of the entry `text` names among the entries that fit after p positional arguments;
// -1: none fits, -2: the text also begins an entry of another name (not unique).
int find_option(const char *text, unsigned p) {
    int found = -1;
    for (int i = static_cast<int>(st.count) - 1; i >= 0; --i) {
        const argv_entry &entry = st.table[i];
        if (begins_with(entry.name, text) && (entry.param == p || entry.param == 0)) {
            found = i;
            break;
        }
    }
    if (found < 0) return -1;
    for (int i = 0; i < found; ++i) {
        if (begins_with(st.table[i].name, text) &&
            std::strcmp(st.table[i].name, st.table[found].name) != 0)
            return -2;
    }
    return found;
}

// Applies the switch value of a found switch; a switch value that cannot be converted is fatal.
void apply_switch(const argv_entry &entry) {
    if (!convert(entry, entry.switch_value))
        msg_faterr("argv_eval()", "VAL_CONV", own_text("VAL_CONV"), entry.switch_value);
}

void eval_option(const char *argument, unsigned p) {
    const char *text = argument + 1;
    int found = find_option(text, p);
    if (found >= 0) {
        const argv_entry &entry = st.table[found];
        if (entry.switch_value != nullptr) apply_switch(entry);
        st.use_flags[found] = 1;
        return;
    }
    const char *equals = std::strchr(text, '=');
    if (equals == nullptr) {
        warn(argument, found == -2 ? "OPT_NOTUNIQUE" : "OPT_NOTSUPP");
        return;
    }
    // The name is held in a string of its own, so a name of any length is looked up whole.
    std::string name(text, equals);
    found = find_option(name.c_str(), p);
    if (found < 0) {
        warn(argument, found == -2 ? "OPT_NOTUNIQUE" : "OPT_NOTSUPP");
        return;
    }
    const argv_entry &entry = st.table[found];
    if (entry.switch_value != nullptr) {
        warn(argument, "OPT_VALIGNORE");
        apply_switch(entry);
    } else if (!convert(entry, equals + 1)) {
        warn(argument, "ARG_CONV");
    }
    st.use_flags[found] = 1;
}

void eval_language(const char *argument) {
    int code;
    switch (argument[1]) {
    case 'd':
    case 'D': code = LNG_GERMAN; break;
    case 'e':
    case 'E': code = LNG_ENGLISH; break;
    default:
        warn(argument, "LANG_NOTSUPP");
        code = LNG_ENGLISH;
        break;
    }
    if (st.language != nullptr && st.text != nullptr)
        st.language(code);
    else
        argv_set_language(code);
}

void eval_positional(const char *argument, unsigned p) {
    if (p >= st.params) {
        msg_warn(location_of(argument), "PAR_NOTSUPP", own_text("PAR_NOTSUPP"),
                 static_cast<int>(p + 1));
        return;
    }
    // Parameters sort first, in the order of their positions.
    if (!convert(st.table[p], argument)) warn(argument, "ARG_CONV");
    st.use_flags[p] = 1;
}

// --- argv_init checks -----------------------------------------------------------------------

int check_defaults_unique() {
    int errors = 0;
    std::stable_sort(st.table, st.table + st.count, [](const argv_entry &a, const argv_entry &b) {
        return std::less<const void *>()(a.dest, b.dest);
    });
    for (unsigned start = 0; start < st.count;) {
        unsigned end = start;
        int defaults = 0;
        while (end < st.count && st.table[end].dest == st.table[start].dest) {
            if (st.table[end].default_value != nullptr) ++defaults;
            ++end;
        }
        if (defaults > 1) {
            const argv_entry &last = st.table[end - 1];
            msg_err("argv_init()", "DEFVAL_NOTUNIQUE", own_text("DEFVAL_NOTUNIQUE"), defaults,
                    last.name, static_cast<int>(last.param));
            ++errors;
        }
        start = end;
    }
    return errors;
}

int check_parameters() {
    int errors = 0;
    long gap = 0; // how far the previous parameter stood from its place
    unsigned k = 0;
    for (; k < st.count && is_parameter(st.table[k]); ++k) {
        const argv_entry &entry = st.table[k];
        const int position = static_cast<int>(k + 1);
        if (entry.switch_value != nullptr) {
            msg_err("argv_init()", "VAL_NOTVALID", own_text("VAL_NOTVALID"), position);
            ++errors;
        }
        const long f = static_cast<long>(entry.param) - static_cast<long>(k + 1);
        const int first_missing = static_cast<int>(k + gap + 1);
        if (f < gap) {
            msg_err("argv_init()", "PAR_MULDEF", own_text("PAR_MULDEF"),
                    static_cast<int>(entry.param));
            ++errors;
        } else if (f == gap + 1) {
            msg_err("argv_init()", "PAR_NOTDEF", own_text("PAR_NOTDEF"), first_missing);
            ++errors;
        } else if (f > gap + 1) {
            msg_err("argv_init()", "PARS_NOTDEF", own_text("PARS_NOTDEF"), first_missing,
                    static_cast<int>(entry.param - 1));
            ++errors;
        }
        gap = f;
    }
    st.params = k;
    return errors;
}

bool dest_has_default(const void *dest) {
    for (unsigned i = 0; i < st.count; ++i)
        if (st.table[i].dest == dest && st.table[i].default_value != nullptr) return true;
    return false;
}

int check_options() {
    int errors = 0;
    const char *previous_name = "";
    unsigned previous_param = 0xFFFF;
    for (unsigned i = st.params; i < st.count; ++i) {
        const argv_entry &entry = st.table[i];
        if (entry.default_value == nullptr && !dest_has_default(entry.dest)) {
            msg_err("argv_init()", "OPT_REQDEFVAL", own_text("OPT_REQDEFVAL"), entry.name);
            ++errors;
        }
        if (entry.param > st.params) {
            msg_err("argv_init()", "OPT_NOPAR", own_text("OPT_NOPAR"), entry.name,
                    static_cast<int>(entry.param));
            ++errors;
        }
        if (std::strcmp(entry.name, previous_name) == 0 && entry.param == previous_param) {
            if (entry.param == 0)
                msg_err("argv_init()", "OPT_MULDEF", own_text("OPT_MULDEF"), entry.name);
            else
                msg_err("argv_init()", "PAROPT_MULDEF", own_text("PAROPT_MULDEF"), entry.name,
                        static_cast<int>(entry.param));
            ++errors;
        }
        previous_name = entry.name;
        previous_param = entry.param;
    }
    return errors;
}

int check_required() {
    int errors = 0;
    unsigned k = 0;
    while (k < st.params && st.table[k].default_value == nullptr) ++k;
    st.required = k;
    for (; k < st.params; ++k) {
        if (st.table[k].default_value == nullptr) {
            msg_err("argv_init()", "PAR_REQINVAL", own_text("PAR_REQINVAL"),
                    static_cast<int>(st.table[k].param));
            ++errors;
        }
    }
    return errors;
}

// Converts every switch value (as a check) and then every default value into its variable.
int convert_table_values() {
    int errors = 0;
    for (unsigned i = 0; i < st.count; ++i) {
        const argv_entry &entry = st.table[i];
        if (entry.switch_value != nullptr && !convert(entry, entry.switch_value)) {
            msg_err("argv_init()", "VAL_CONV", own_text("VAL_CONV"), entry.switch_value);
            ++errors;
        }
    }
    for (unsigned i = 0; i < st.count; ++i) {
        const argv_entry &entry = st.table[i];
        if (entry.default_value != nullptr && !convert(entry, entry.default_value)) {
            msg_err("argv_init()", "DEFVAL_CONV", own_text("DEFVAL_CONV"), entry.default_value);
            ++errors;
        }
    }
    return errors;
}

// --- usage help -----------------------------------------------------------------------------

// Prints a help text so that its continuation lines start under its first character.
void print_help_text(const std::string &help) {
    msg_set_indent(msg_get_column());
    msg_append("%s\n", help.c_str());
    msg_set_indent(HELP_INDENT);
}

void print_parameter_options(unsigned n, const std::vector<std::string> &helps) {
    for (unsigned i = st.params; i < st.count; ++i) {
        const argv_entry &entry = st.table[i];
        if (entry.param != n) continue;
        if (entry.switch_value == nullptr)
            msg_append("        %c%s=[%s] : ", OPTION_PREFIX, entry.name,
                       or_empty(entry.default_value));
        else
            msg_append("        %c%s : ", OPTION_PREFIX, entry.name);
        print_help_text(helps[i]);
    }
}

// Prints the usage information; the prepared texts are released when it returns.
void print_usage() {
    std::string description;
    std::vector<std::string> helps;
    try {
        description = program_text(or_empty(st.description));
        if (description.empty() || description.back() != '\n') description += '\n';
        helps.reserve(st.count);
        for (unsigned i = 0; i < st.count; ++i) {
            std::string help = program_text(st.table[i].help);
            if (!help.empty() && help.back() == '\n') help.pop_back();
            helps.push_back(std::move(help));
        }
    } catch (const std::bad_alloc &) {
        msg_faterr("argv_help()", "NO_SPACE", own_text("NO_SPACE"), own_text("SAVE_STRING"));
    }

    msg_info("", "HELP", "%s", own_text("HELP"));
    // The description is a format without arguments: "%%" prints one "%".
    for (std::size_t at = description.find("%%"); at != std::string::npos;
         at = description.find("%%", at + 1))
        description.erase(at, 1);
    msg_append("%s", description.c_str());
    msg_append("%s", own_text("CALLHELP"));
    msg_append("%s", own_text("GENOPTS"));
    msg_append("%s", own_text("HELPPAR"));
    msg_append(own_text("HELPOPT"), OPTION_PREFIX);
    if (st.version != nullptr) msg_append(own_text("VERSIONOPT"), OPTION_PREFIX, VERSION_OPTION);
    if (st.language != nullptr && st.text != nullptr) {
        msg_append(own_text("LAN_E_OPT"), LANGUAGE_PREFIX);
        msg_append(own_text("LAN_D_OPT"), LANGUAGE_PREFIX);
    }
    for (unsigned i = st.params; i < st.count; ++i) {
        const argv_entry &entry = st.table[i];
        if (entry.param != 0) continue;
        if (entry.switch_value == nullptr)
            msg_append("        %c%s=[%s] : ", OPTION_PREFIX, entry.name,
                       or_empty(entry.default_value));
        else if (entry.default_value != nullptr &&
                 std::strcmp(entry.switch_value, entry.default_value) == 0)
            msg_append("        %c%s [default] : ", OPTION_PREFIX, entry.name);
        else
            msg_append("        %c%s : ", OPTION_PREFIX, entry.name);
        print_help_text(helps[i]);
    }
    msg_append("%s", own_text("REQPARS"));
    for (unsigned k = 0; k < st.required; ++k) {
        msg_append("    %2d. : ", static_cast<int>(k + 1));
        print_help_text(helps[k]);
        print_parameter_options(k + 1, helps);
    }
    msg_append("%s", own_text("OPTPARS"));
    for (unsigned k = st.required; k < st.params; ++k) {
        msg_append("    %2d. [%s] : ", static_cast<int>(k + 1),
                   or_empty(st.table[k].default_value));
        print_help_text(helps[k]);
        print_parameter_options(k + 1, helps);
    }
}

// Scans a whole number with the syntax of "%i" (leading blanks, sign, decimal, 0x hexadecimal or
// 0 octal, any text after it); false for no number or one outside [low, high].
bool scan_integer(const char *text, long long low, long long high, long long *value) {
    char *end = nullptr;
    errno = 0;
    long long scanned = std::strtoll(text, &end, 0);
    if (end == text || errno == ERANGE || scanned < low || scanned > high) return false;
    *value = scanned;
    return true;
}

} // namespace

void argv_init(argv_entry *table, unsigned count, argv_language_callback language,
               argv_text_function text, const char *description) {
    if (table == nullptr) count = 0;
    if (count == 0) table = nullptr;
    st.table = table;
    st.count = count;
    st.params = 0;
    st.required = 0;
    st.language = language;
    st.text = text;
    st.description = description;
    st.conv_failed = false;
    if (count == 0) return;
    for (unsigned i = 0; i < count; ++i) {
        MSG_ASSERT(table[i].name != NULL);
        MSG_ASSERT(table[i].convert != NULL);
    }

    int error = check_defaults_unique();
    std::stable_sort(table, table + count, [](const argv_entry &a, const argv_entry &b) {
        int order = std::strcmp(a.name, b.name);
        return order != 0 ? order < 0 : a.param < b.param;
    });
    error += check_parameters();
    error += check_options();
    error += check_required();

    delete[] st.use_flags;
    st.use_flags = new (std::nothrow) int[count]();
    if (st.use_flags == nullptr)
        msg_faterr("argv_init()", "NO_SPACE", own_text("NO_SPACE"), own_text("USE_FLAGS"));

    error += convert_table_values();
    MSG_ASSERT(error == 0);
}

namespace {

// An argument beginning with the option prefix that is a file name: on systems whose paths begin
// with "/", one that holds a further "/" before any "=" (no option name holds one), or one that
// names an existing file by the program's test. Elsewhere the prefix always makes an option.
bool is_path(const char *argument) {
#ifdef _WIN32
    (void)argument;
    return false;
#else
    const char *slash = std::strchr(argument + 1, '/');
    const char *equals = std::strchr(argument, '=');
    if (slash != nullptr && (equals == nullptr || slash < equals)) return true;
    return st.file_test != nullptr && st.file_test(argument);
#endif
}

// The help arguments of other programs' habits, besides "?" and "/?".
bool is_help_word(const char *argument) {
    return std::strcmp(argument, "-h") == 0 || std::strcmp(argument, "--help") == 0 ||
           std::strcmp(argument, "-?") == 0;
}

// "--version", where the program has a version line; "/version" is an option (see argv_eval).
bool is_version_word(const char *argument) {
    return st.version != nullptr && std::strcmp(argument, "--version") == 0;
}

// The version line is the program's output, like the usage help: standard output, status 0.
[[noreturn]] void print_version() {
    std::fflush(stderr);
    std::printf("%s\n", st.version);
    std::fflush(stdout);
    std::exit(0);
}

} // namespace

void argv_set_file_test(argv_file_test test) {
    st.file_test = test;
}

void argv_set_version(const char *line) {
    st.version = line;
}

void argv_eval(int argc, const char *const *argv) {
    MSG_ASSERT(argv != NULL);
    unsigned p = 0;
    for (int i = 1; i < argc; ++i) {
        MSG_ASSERT(argv[i] != NULL);
        const char *argument = argv[i];
        if (is_help_word(argument)) argv_help();
        if (is_version_word(argument)) print_version();
        if (argument[0] == OPTION_PREFIX && !is_path(argument)) {
            if (argument[1] == HELP_CHAR) argv_help();
            if (st.version != nullptr && std::strcmp(argument + 1, VERSION_OPTION) == 0)
                print_version();
            eval_option(argument, p);
        } else if (argument[0] == LANGUAGE_PREFIX) {
            eval_language(argument);
        } else if (argument[0] == HELP_CHAR) {
            argv_help();
        } else {
            eval_positional(argument, p);
            ++p;
        }
    }
    if (p < st.required)
        msg_faterr("", "PARS_MISSING", own_text("PARS_MISSING"), static_cast<int>(p),
                   static_cast<int>(st.required));
}

int argv_is_given(const char *key, unsigned param) {
    MSG_ASSERT(key != NULL);
    for (unsigned i = 0; i < st.count; ++i) {
        if (st.table[i].param == param && std::strcmp(st.table[i].name, key) == 0)
            return st.use_flags != nullptr ? st.use_flags[i] : 0;
    }
    return -1;
}

void argv_conv_error(void) {
    st.conv_failed = true;
}

void argv_set_language(int code) {
    lng__module_set_language(&st.texts, code);
}

void argv_free(void) {
    for (unsigned i = 0; i < st.count; ++i) {
        const argv_entry &entry = st.table[i];
        if (entry.convert == argv_save_string) {
            char **string = static_cast<char **>(entry.dest);
            std::free(*string);
            *string = nullptr;
        } else if (entry.convert == argv_save_string_comma_list) {
            char ***list = static_cast<char ***>(entry.dest);
            if (*list != nullptr) {
                for (char **piece = *list; *piece != nullptr; ++piece) std::free(*piece);
                std::free(*list);
                *list = nullptr;
            }
        }
    }
    delete[] st.use_flags;
    st.use_flags = nullptr;
    delete[] st.location;
    st.location = nullptr;
    st.table = nullptr;
    st.count = st.params = st.required = 0;
}

void argv_help(void) {
    // The usage help is the program's output, not a message: standard output.
    std::fflush(stderr);
    msg_set_stream(stdout);
    print_usage();
    std::fflush(stdout);
    std::exit(0);
}

// --- value savers ---------------------------------------------------------------------------

void argv_save_char(void *dest, const char *value) {
    MSG_ASSERT(dest != NULL);
    *static_cast<char *>(dest) = value[0];
}

void argv_save_int(void *dest, const char *value) {
    MSG_ASSERT(dest != NULL);
    long long scanned;
    if (scan_integer(value, INT_MIN, INT_MAX, &scanned))
        *static_cast<int *>(dest) = static_cast<int>(scanned);
    else
        argv_conv_error();
}

void argv_save_long(void *dest, const char *value) {
    MSG_ASSERT(dest != NULL);
    long long scanned;
    if (scan_integer(value, LONG_MIN, LONG_MAX, &scanned))
        *static_cast<long *>(dest) = static_cast<long>(scanned);
    else
        argv_conv_error();
}

void argv_save_short(void *dest, const char *value) {
    MSG_ASSERT(dest != NULL);
    long long scanned;
    if (scan_integer(value, SHRT_MIN, SHRT_MAX, &scanned))
        *static_cast<short *>(dest) = static_cast<short>(scanned);
    else
        argv_conv_error();
}

void argv_save_double(void *dest, const char *value) {
    MSG_ASSERT(dest != NULL);
    char *end = nullptr;
    double scanned = std::strtod(value, &end);
    if (end == value)
        argv_conv_error();
    else
        *static_cast<double *>(dest) = scanned;
}

void argv_save_float(void *dest, const char *value) {
    MSG_ASSERT(dest != NULL);
    char *end = nullptr;
    float scanned = std::strtof(value, &end);
    if (end == value)
        argv_conv_error();
    else
        *static_cast<float *>(dest) = scanned;
}

void argv_copy_string(void *dest, const char *value) {
    MSG_ASSERT(dest != NULL);
    std::strcpy(static_cast<char *>(dest), value);
}

void argv_save_pointer(void *dest, const char *value) {
    MSG_ASSERT(dest != NULL);
    *static_cast<const char **>(dest) = value;
}

namespace {

// A malloc'd copy of `length` bytes of `text` plus a zero byte; fatal NO_SPACE when there is no
// memory.
char *copy_text(const char *text, std::size_t length, const char *location) {
    char *copy = static_cast<char *>(std::malloc(length + 1));
    if (copy == nullptr)
        msg_faterr(location, "NO_SPACE", own_text("NO_SPACE"), own_text("SAVE_STRING"));
    std::memcpy(copy, text, length);
    copy[length] = '\0';
    return copy;
}

} // namespace

void argv_save_string(void *dest, const char *value) {
    MSG_ASSERT(dest != NULL);
    char **string = static_cast<char **>(dest);
    // Copy before releasing: the new text may be the one held before.
    char *copy = copy_text(value, std::strlen(value), "argv_save_string()");
    std::free(*string);
    *string = copy;
}

void argv_save_string_comma_list(void *dest, const char *value) {
    MSG_ASSERT(dest != NULL);
    constexpr const char *location = "argv_save_string_comma_list()";
    char ***list = static_cast<char ***>(dest);
    std::size_t commas = std::count(value, value + std::strlen(value), ',');
    char **pieces = static_cast<char **>(std::malloc((commas + 2) * sizeof(char *)));
    if (pieces == nullptr)
        msg_faterr(location, "NO_SPACE", own_text("NO_SPACE"), own_text("SAVE_STRING"));
    const char *start = value;
    for (std::size_t i = 0; i <= commas; ++i) {
        const char *end = std::strchr(start, ',');
        if (end == nullptr) end = start + std::strlen(start);
        pieces[i] = copy_text(start, static_cast<std::size_t>(end - start), location);
        start = end + 1;
    }
    pieces[commas + 1] = nullptr;
    if (*list != nullptr) {
        for (char **piece = *list; *piece != nullptr; ++piece) std::free(*piece);
        std::free(*list);
    }
    *list = pieces;
}
