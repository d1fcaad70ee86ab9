// Message output: typed messages with a configurable header line, counters, indentation and
// word wrap, and plain text appended to the current line.
//
// A message is a header line (built from the header format) followed by the message text, laid
// out on lines of the line length with a hanging indent. A fatal message ends the program with
// exit status 1. Output goes to standard error unless another stream is set.
#ifndef TRAXCON_UTILS_MSG_H
#define TRAXCON_UTILS_MSG_H

#include <cstdarg>
#include <cstdio>

// Message types; also the counter slots 0 to 4.
constexpr int MSG_LOG = 0;
constexpr int MSG_INFO = 1;
constexpr int MSG_WARN = 2;
constexpr int MSG_ERR = 3;
constexpr int MSG_FATERR = 4;

// Limits of the module.
constexpr int MSG_MODNAM_SIZE = 40;   // module name buffer, at most 39 characters
constexpr int MSG_HEADFMT_SIZE = 512; // header format and each compiled piece, at most 511
constexpr int MSG_HEADFMT_MAX = 19;   // directives of one header format
constexpr int MSG_COUNTERS = 7;       // counter slots 0 to 6
constexpr int MSG_BUFFER_SIZE = 5120; // each of the two line buffers
constexpr unsigned MSG_LINE_LENGTH = 80;
constexpr unsigned MSG_INDENT = 4;

#if defined(__GNUC__)
#define MSG_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define MSG_PRINTF(f, a)
#endif

// Sets the module name shown by the directive m. A name of 40 characters or more is fatal.
void msg_init_module(const char *name);

// Compiles a new header format and sets line length and indent. Directives: %c counter of the
// type (incremented first), %i key, %l location, %m module name, %t type word; flags, width and
// precision may stand between "%" and the letter; "%%" is one percent sign. At most 19
// directives, a format below 512 characters, an indent below the line length; else fatal.
void msg_init_format(const char *format, unsigned line_length, unsigned indent);

// Writes the header line of a message of `type` (MSG_LOG to MSG_FATERR). Location and key may be
// null, meaning the empty text.
void msg_header(int type, const char *location, const char *key);

// Formats the text printf-style and writes it laid out: indent at every line start, wrap at the
// last blank before the line length, white space as blanks.
void msg_append(const char *format, ...) MSG_PRINTF(1, 2);
void msg_append_v(const char *format, va_list args);

// msg_header, then msg_append_v.
void msg_print(int type, const char *location, const char *key, const char *format, ...)
    MSG_PRINTF(4, 5);
void msg_print_v(int type, const char *location, const char *key, const char *format, va_list args);

// Messages of the five types. msg_faterr ends the program with exit status 1.
void msg_log(const char *location, const char *key, const char *format, ...) MSG_PRINTF(3, 4);
void msg_info(const char *location, const char *key, const char *format, ...) MSG_PRINTF(3, 4);
void msg_warn(const char *location, const char *key, const char *format, ...) MSG_PRINTF(3, 4);
void msg_err(const char *location, const char *key, const char *format, ...) MSG_PRINTF(3, 4);
[[noreturn]] void msg_faterr(const char *location, const char *key, const char *format, ...)
    MSG_PRINTF(3, 4);

// Sets the indent for the following text; an indent not below the line length is fatal.
void msg_set_indent(unsigned indent);

// The number of characters written since the last newline.
unsigned msg_get_column();

// The counter of `slot` (0 to 6); a slot above 6 is fatal.
long msg_read_counter(unsigned slot);

// Sets all counters to 0.
void msg_reset_counters();

// Output stream for all following output; null means standard error.
void msg_set_stream(std::FILE *stream);

// Selects the language of the module's own words and texts (0 English, 1 German).
void msg_set_language(int code);

// Releases both line buffers; a later message allocates them again.
void msg_exit();

// The utilities' assertion: names the checked expression, the source module and the line on
// standard error and stops the program abnormally (abort). Always active, also in release builds.
[[noreturn]] void msg__assert_fail(const char *expression, const char *file, int line);

#define MSG_ASSERT(expr) ((expr) ? (void)0 : msg__assert_fail(#expr, __FILE__, __LINE__))

#endif
