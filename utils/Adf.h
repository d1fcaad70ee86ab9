// Adf: writing and reading ADF text data files.
//
// An ADF file holds comment lines ("! text") and data blocks. A block is a header line
// ("# %5ld %10ld": channel count, value-line count), a channel line ("#" and the names) and the
// value lines (a blank and one number per channel). Numbers are always written and read with the
// decimal point ".", whatever locale the program has set.
//
// The module prints nothing: every operation returns 0 (or a positive reader result) or one of
// the negative ADF_ERR_ codes below. The handle stays usable after a negative code.
#ifndef TRAXCON_UTILS_ADF_H
#define TRAXCON_UTILS_ADF_H

#include <cstddef>

// Channel kinds and the names they are written with.
constexpr int ADF_PLAIN = 0; // the name passed in
constexpr int ADF_S = 1;     // "S:" + name
constexpr int ADF_R = 2;     // "R:" + name
constexpr int ADF_T = 3;     // "T:" + name
constexpr int ADF_TIME = 4;  // "TIME" (the given name is ignored)
constexpr int ADF_ANGLE = 5; // "ANGLE" (the given name is ignored)

// Return codes of writer and reader.
constexpr int ADF_OK = 0;
constexpr int ADF_ERR_MEMORY = -1;      // memory could not be allocated
constexpr int ADF_ERR_LINECOUNT = -2;   // invalid (negative) value-line count; reader: k outside
                                        // the window (adf_get_value)
constexpr int ADF_ERR_CHANCOUNT = -3;   // invalid channel count; reader: channel out of range
constexpr int ADF_ERR_NOCHANLINE = -4;  // reader: the line after a header is no channel line
constexpr int ADF_ERR_CHANNELS = -5;    // all channels already defined / not all defined yet;
                                        // reader: channel line and header disagree on columns
constexpr int ADF_ERR_LINESFULL = -6;   // the block already holds its declared value lines;
                                        // reader: also a value line before the first header
constexpr int ADF_ERR_LINESDIFFER = -7; // value lines written/read differ from the declared count
constexpr int ADF_ERR_VALUECOUNT = -8;  // reader: a value line with too few or too many values
constexpr int ADF_ERR_REPEAT = -9;      // reader: a repeat count below 1
constexpr int ADF_ERR_TIME = -10;       // a second ADF_TIME channel in one block
constexpr int ADF_ERR_ANGLE = -11;      // a second ADF_ANGLE channel in one block
constexpr int ADF_ERR_MODE = -12;       // the handle is missing or has the wrong access mode

// adf_close on a writing handle: the file is incomplete or damaged. Some write to the file
// failed (a full disk), the file position could not be queried or changed to rewrite an open
// header line (the output is a pipe, say), or closing the stream failed. adf_close reports them
// with this code, ahead of -7; adf_write_values and adf_flush report a failed write of value lines
// with it at once, the other writing operations return 0.
constexpr int ADF_ERR_WRITE = -13;

// Reader: a line longer than ADF_MAX_LINE characters, or a last line of the file that is not
// ended by a line end (a file cut off while it was written).
constexpr int ADF_ERR_LINE = -14;

// Format used for channels without a format of their own (and the converter's format).
inline constexpr const char *ADF_DEFAULT_FORMAT = "%1.7g";

// Size of the stream buffers, and the longest line the reader accepts.
constexpr int ADF_STREAM_BUFFER = 2560;
constexpr long ADF_MAX_LINE = 16L * 1024 * 1024;

// Room for one number in the default format, including the terminating zero.
constexpr int ADF_NUMBER_SIZE = 32;

// Channel names. A channel line holds columns separated by blanks and tabs; inside a column the
// names are the runs of name characters (ASCII letters, digits and _ \ : . [ ]), and any other
// character joins the names on either side of it into one column. The names TIME and ANGLE,
// in any case of their letters, mark the time and the angle channel.
inline constexpr const char *ADF_TIME_NAME = "TIME";
inline constexpr const char *ADF_ANGLE_NAME = "ANGLE";

// True for a character a channel name may hold.
bool adf_is_name_char(char c);

// True if name is TIME (or ANGLE) with its letters in any case; nullptr gives false.
bool adf_is_time_name(const char *name);
bool adf_is_angle_name(const char *name);

// The handle of an open ADF file (private to the module); callers read it through the
// accessors below.
struct adf_file;

// Opens (creates) an ADF file for writing in text mode. Returns the new handle, owned by the
// caller until adf_close, or nullptr if the file cannot be created, its buffer cannot be set or
// memory is short.
adf_file *adf_open_write(const char *file_name);

// Writes text as comment lines: "! " + text, each newline of text starting a further "! " line,
// carriage returns dropped. Lines of any length are written whole. 0, or ADF_ERR_MODE.
int adf_write_comment(adf_file *adf, const char *text);

// Starts a data block of channel_count channels and line_count value lines (-1: not known yet;
// the header line is then rewritten with the real count by the next adf_init_header or by
// adf_close). 0, ADF_ERR_MODE, ADF_ERR_LINESDIFFER (the previous block's fixed count is not met),
// ADF_ERR_CHANCOUNT, ADF_ERR_LINECOUNT, ADF_ERR_MEMORY.
int adf_init_header(adf_file *adf, long channel_count, long line_count);

// Defines the next channel of the block. name may be nullptr for ADF_TIME and ADF_ANGLE; format
// is a printf format for one double (f, F, e, E, g, G, a or A, optional flags, width, precision)
// or nullptr for ADF_DEFAULT_FORMAT; any other format stops the program by assertion.
// 0, ADF_ERR_MODE, ADF_ERR_CHANNELS, ADF_ERR_TIME, ADF_ERR_ANGLE, ADF_ERR_MEMORY.
int adf_define_channel(adf_file *adf, const char *name, int kind, const char *format);

// Writes the header line and the channel line. 0, ADF_ERR_MODE, ADF_ERR_CHANNELS (not exactly
// channel_count channels defined).
int adf_write_header(adf_file *adf);

// Writes one value line: a blank and each channel's value in its format. Values that are not
// finite are written "nan", "-nan", "inf", "-inf". Lines are handed to the file in large pieces:
// ADF_ERR_WRITE when that fails (here, or for an earlier piece: the file is incomplete from then
// on). 0, ADF_ERR_MODE, ADF_ERR_LINESFULL, ADF_ERR_WRITE.
int adf_write_values(adf_file *adf, const double *values);

// Hands every line written so far to the file. 0, ADF_ERR_MODE, ADF_ERR_WRITE.
int adf_flush(adf_file *adf);

// Writing handle: fixes an open header line, closes the file and releases the handle.
// 0, ADF_ERR_WRITE (the file is incomplete: see above), ADF_ERR_LINESDIFFER; ADF_ERR_MODE for a
// missing handle. Reading handle: closes it and returns 0.
int adf_close(adf_file *adf);

// Opens an ADF file for reading with a window of window_size (>= 1) value lines. Returns the
// handle, owned by the caller until adf_close, or nullptr if the file cannot be opened, memory
// is short, the stream buffer cannot be set or window_size is below 1.
adf_file *adf_open_read(const char *file_name, long window_size);

// Moves on in the file: 2 the window moved on by one value line; 1 a new block begins and its
// channel description is in the handle; 0 end of file, the last block complete; or a negative
// code (ADF_ERR_MODE, -1 .. -11, ADF_ERR_LINE). Every value line becomes the current line once;
// at the end of a block the window is drained line by line before 0, 1 or -7 is returned.
int adf_read_next(adf_file *adf);

// The value of channel in the k-th line of the window (0 = current line, window_fill - 1 = the
// last line read ahead). 0, ADF_ERR_MODE, ADF_ERR_CHANCOUNT (channel), ADF_ERR_LINECOUNT (k).
int adf_get_value(const adf_file *adf, long channel, long k, double *value);

// Writes value in the default format ("%1.7g", decimal point ".") to out, which has room for
// ADF_NUMBER_SIZE characters, and returns the number of characters (no terminating zero).
// The bytes equal those of printf; values that are not finite give "nan", "-nan", "inf", "-inf".
int adf_format_default(char *out, double value);

// ---------------------------------------------------------------------------------------------
// Reading the handle. A handle that is missing or closed (its magic number does not match)
// gives ADF_ERR_MODE, as does a handle of the other access mode where a reading or a writing
// handle is named; accessors of names give nullptr instead.

// Channels of the current block (reader: names, which may be more than the columns). 0 before
// the first block and after a block header that could not be read.
long adf_channel_count(const adf_file *adf);

// Declared value lines of the current block; writer: -1 while the count is open.
long adf_line_count(const adf_file *adf);

// Value lines written (reader: read) in the current block so far; a writer counts the lines it
// has taken, some of which may still wait to be handed to the file.
long adf_lines_written(const adf_file *adf);
// Writer: value lines of the current block that the file has taken (their write and the flush
// of the stream behind them succeeded). ADF_ERR_MODE for a reading handle.
long adf_lines_stored(const adf_file *adf);

// Writer: the text of the first column of the value line taken last (without the blank before
// it), its length in *length; nullptr before the first value line. Valid until the next line.
const char *adf_line_first_text(const adf_file *adf, std::size_t *length);

// Lines of the file written or read so far, comments and skipped lines included.
long adf_file_lines(const adf_file *adf);

// The name of channel (0 .. adf_channel_count - 1): as defined (TIME, ANGLE for those kinds,
// without "S:", "R:", "T:"; empty for a channel not yet defined); reader: as it stands in the
// channel line, without "S:", "R:", "T:". nullptr for a channel out of range. The text is valid
// until the next operation on the handle.
const char *adf_channel_name(const adf_file *adf, long channel);

// The kind of channel (ADF_PLAIN .. ADF_ANGLE; writer: the kind passed in), or ADF_ERR_CHANCOUNT.
int adf_channel_kind(const adf_file *adf, long channel);

// The channel of kind ADF_TIME (ADF_ANGLE) in the current block, or -1 if it has none.
long adf_time_channel(const adf_file *adf);
long adf_angle_channel(const adf_file *adf);

// The number of channels of kind ADF_S, ADF_R or ADF_T in the current block (0 for any other
// kind), and the index-th of them (0 .. count - 1) in channel order, or ADF_ERR_CHANCOUNT.
long adf_prefixed_count(const adf_file *adf, int kind);
long adf_prefixed_channel(const adf_file *adf, int kind, long index);

// Reading handle: the columns of the current block (0 as long as there is none).
long adf_column_count(const adf_file *adf);

// Reading handle: the number of names in column (0 .. adf_column_count - 1), 0 for a column
// without a name character; ADF_ERR_CHANCOUNT for a column out of range. The channels of a
// column follow those of the columns before it.
long adf_name_group(const adf_file *adf, long column);

// Reading handle: the window size N given to adf_open_read, and the value lines in the window
// (1 .. N; the current line and those read ahead).
long adf_window_size(const adf_file *adf);
long adf_window_fill(const adf_file *adf);

// Internals, read only by the module's own tests: the access mode (1 writing, 0 reading); the
// reader's slot for its next value line (0 .. N - 1); the writer's flag of channel (1 once its
// channel line is written, else 0; ADF_ERR_CHANCOUNT out of range); the writer's value of
// channel in the last value line written (0, ADF_ERR_MODE, ADF_ERR_CHANCOUNT); the writer's
// number of channels of the block written through printf with a format of their own.
int adf_access_mode(const adf_file *adf);
long adf_window_pos(const adf_file *adf);
int adf_header_flag(const adf_file *adf, long channel);
int adf_last_value(const adf_file *adf, long channel, double *value);
long adf_printf_channels(const adf_file *adf);

#endif // TRAXCON_UTILS_ADF_H
