// Argument utility: evaluates a program's command line against a table the program declares once.
//
// The table lists positional parameters (empty name, `param` = position from 1), options that
// belong to one parameter (`param` = that parameter's position) and general options (`param` 0).
// Options are given as "/name" (switch) or "/name=value" (value option) and may be abbreviated as
// long as the abbreviation stays unique; "=e" and "=d" select English or German, "?" and "/?"
// print the usage help, "--version" and "/version" the program's version line (argv_set_version).
// Wrong arguments are reported as warnings and skipped; an inconsistent table stops the program by
// assertion, missing required parameters end it with exit status 1.
//
// Calling order: argv_init once, argv_eval once, argv_is_given as often as needed, argv_free at
// the end. The module keeps one table per program.
#ifndef TRAXCON_UTILS_ARGV_H
#define TRAXCON_UTILS_ARGV_H

// Value saver: converts `value` into the variable at `dest`. A text it cannot convert is reported
// through argv_conv_error; the variable is then left unchanged.
typedef void (*argv_saver)(void *dest, const char *value);

// Language callback of the program: receives 0 (English) or 1 (German) and is expected to switch
// the texts of every module, this one included (argv_set_language).
typedef void (*argv_language_callback)(int code);

// Text function of the program: turns a key (help texts, description) into the text to show.
typedef const char *(*argv_text_function)(const char *key);

// One row of the argument table.
struct argv_entry {
    const char *name;          // "" for a positional parameter, else the option name
    unsigned param;            // parameter: its position from 1; option: 0 or its parameter
    const char *switch_value;  // options only: converted when the option is given as a switch;
                               // null for a value option ("/name=value")
    const char *default_value; // converted by argv_init; null marks a parameter as required
    const char *help;          // help text or its key for the text function; may be null
    argv_saver convert;        // the value saver
    void *dest;                // the program's variable (several rows may share one)
};

// Stores the table (which is then sorted in place: do not rely on its order afterwards), checks
// it, and converts every default value into its variable. A null table makes the count 0 and a
// count of 0 makes the table null; then only the callbacks and the description are stored. Every
// problem of the table is reported as an error, then the program stops by assertion.
void argv_init(argv_entry *table, unsigned count, argv_language_callback language,
               argv_text_function text, const char *description);

// Evaluates argv[1] .. argv[argc-1]. "?", "/?", "-h", "--help" and "-?" show the usage help;
// with a version line set, "--version" and "/version" (written out, not shortened) print it.
// Ends the program through argv_help or the version line (status 0) or with the fatal message
// PARS_MISSING (status 1) when required parameters are missing.
void argv_eval(int argc, const char *const *argv);

// -1 if no row has exactly this name and param; else 1 if that row was given on the command
// line, 0 if not. A parameter is asked for with the empty name and its position.
int argv_is_given(const char *key, unsigned param);

// Called by a value saver that cannot convert its text.
void argv_conv_error(void);

// A program's test whether an argument names an existing file. Where paths begin with "/" (not
// on Windows), an argument beginning with "/" is then a parameter, not an option, when the test
// says so (or when it holds a further "/" before any "="). Null: no test.
typedef bool (*argv_file_test)(const char *argument);
void argv_set_file_test(argv_file_test test);

// The program's version line, such as "name 1.2.3" (kept as a pointer: a text that lives as long
// as the program). "--version" and "/version" then print it and a newline on standard output and
// end the program with status 0, and the usage help lists "/version" among the general options.
// Null (the start): no version line, and both words are arguments like others.
void argv_set_version(const char *line);

// Selects the language of this module's own texts (0 English, 1 German; others: German).
void argv_set_language(int code);

// Releases the strings kept by argv_save_string and argv_save_string_comma_list (setting their
// variables to null) and the use flags, and ends the use of the table.
void argv_free(void);

// Prints the usage information through the message output on standard output and ends the
// program with status 0.
[[noreturn]] void argv_help(void);

// Value savers. Each asserts that `dest` is not null.
void argv_save_char(void *dest, const char *value);    // char: first character
void argv_save_int(void *dest, const char *value);     // int: like "%i"
void argv_save_long(void *dest, const char *value);    // long: like "%li"
void argv_save_short(void *dest, const char *value);   // short: like "%hi"
void argv_save_double(void *dest, const char *value);  // double: like "%lf"
void argv_save_float(void *dest, const char *value);   // float: like "%f"
void argv_copy_string(void *dest, const char *value);  // char buffer of the program: strcpy
void argv_save_pointer(void *dest, const char *value); // const char *: the text itself
void argv_save_string(void *dest, const char *value);  // char *: an owned copy
// char **: an owned, null-terminated list of owned copies of the comma-separated pieces.
void argv_save_string_comma_list(void *dest, const char *value);

#endif
