// MDFLIB -- access to MDF measurement files: reads versions 2.xx and 3.xx, creates version 2.00.
//
// The one public header of the library. Every operation returns a signed 16-bit status:
// 0 success, negative codes errors, positive codes notices (see the MDF_* constants below).
// A negative status that the library reports becomes its sticky error: every later operation
// (except mdflib_init, mdflib_exit and the closes) refuses with that same code until
// mdflib_init is called again. Errors are printed by the library itself on standard output as
// "[MDFLIB-ERROR] <text>" lines.
//
// Handles (mdf_file_rec, mdf_group_rec, mdf_channel_rec) are owned by the library and checked
// by a magic number in their first 32-bit word (mdflib_handle_magic gives it); a null or wrong
// handle gives MDF_ERR_BAD_FILE, MDF_ERR_BAD_GROUP or MDF_ERR_BAD_CHANNEL. A null out-pointer or
// a null or empty name gives MDF_ERR_ARGUMENT.
//
// Texts handed out by the library (file information, channel names) stay readable until the
// usage level at which their file was opened is left or the library exits, unless said
// otherwise.
#ifndef TRAXCON_MDF_MDFLIB_H
#define TRAXCON_MDF_MDFLIB_H

#include <cstdint>

// ---------------------------------------------------------------------------------------------
// Status codes
// ---------------------------------------------------------------------------------------------

constexpr std::int16_t MDF_OK = 0;

// Quiet statuses: returned, never printed.
constexpr std::int16_t MDF_END_OF_RECORDS = 1;   // no further record
constexpr std::int16_t MDF_NAME_NOT_FOUND = 3;   // channel name not found
constexpr std::int16_t MDF_NO_MORE_CHANNELS = 4; // no further open channel
constexpr std::int16_t MDF_ALREADY_SORTED = 5;   // file already sorted, nothing written
constexpr std::int16_t MDF_NO_MORE_GROUPS = 7;   // no further open group
constexpr std::int16_t MDF_NOT_SORTED = 1010;    // sorted check: the file is not sorted
// What a channel's values are (mdfchn_check_value); MDF_NOT_NUMERIC is also what a value read
// gives for such a channel, with the value untouched.
constexpr std::int16_t MDF_NOT_NUMERIC = 20;     // not a number: data type, bit count or conversion
constexpr std::int16_t MDF_FORMULA_INVALID = 21; // a formula text that does not parse: reads 0
constexpr std::int16_t MDF_CONVERSION_UNKNOWN =
    22; // an unknown conversion type: reads the raw value

// Errors (negative; the first one reported becomes the sticky error).
constexpr std::int16_t MDF_ERR_NOT_INIT = -1000;      // "ZUV-udaravo not initialized"
constexpr std::int16_t MDF_ERR_BAD_FILE = -1001;      // "bad filehandle"
constexpr std::int16_t MDF_ERR_BAD_GROUP = -1002;     // "bad grouphandle"
constexpr std::int16_t MDF_ERR_BAD_CHANNEL = -1003;   // "bad channelhandle"
constexpr std::int16_t MDF_ERR_OPEN_MODE = -1004;     // "illegal group open mode"
constexpr std::int16_t MDF_ERR_SEEK_MODE = -1005;     // "illegal seek mode"
constexpr std::int16_t MDF_ERR_CHANNEL_TYPE = -1006;  // "illegal channel type"
constexpr std::int16_t MDF_ERR_CHANNEL_BITS = -1007;  // "illegal nummer of channel bits"
constexpr std::int16_t MDF_ERR_VALUE_TYPE = -1008;    // "illegal channel value type"
constexpr std::int16_t MDF_ERR_SIMUL_CREATE = -1009;  // "simulanous groups creates are not allowed"
constexpr std::int16_t MDF_ERR_ARGUMENT = -1010;      // "illegal argument"
constexpr std::int16_t MDF_ERR_WRITE = -2000;         // "could not write file"
constexpr std::int16_t MDF_ERR_READ = -2001;          // "could not read file"
constexpr std::int16_t MDF_ERR_SEEK = -2002;          // "could not locate pos in file"
constexpr std::int16_t MDF_ERR_FORMAT = -2004;        // "file format"
constexpr std::int16_t MDF_ERR_MEMORY = -2007;        // "out of memory"
constexpr std::int16_t MDF_ERR_UNKNOWN_BLOCK = -2008; // "unknown block"
constexpr std::int16_t MDF_ERR_UNKNOWN_LINK = -2009;  // "unknown link"
constexpr std::int16_t MDF_ERR_NODE_NOT_FOUND = -2010; // "node not found"
constexpr std::int16_t MDF_ERR_FATAL = -2011;          // "fatal error" (library locked)
constexpr std::int16_t MDF_ERR_FLOAT_FORMAT = -2012;   // "incompatible float format, no modify"
constexpr std::int16_t MDF_ERR_UNFINISHED = -2013;     // "unfinalized MDF file"
constexpr std::int16_t MDF_ERR_VERSION = -2014;        // "MDF version not supported"

// Notices (positive; printed, never sticky).
constexpr std::int16_t MDF_NOTE_OPEN_FAILED = 1000;       // "could not open file"
constexpr std::int16_t MDF_NOTE_GROUP_NOT_FOUND = 1001;   // "group not found"
constexpr std::int16_t MDF_NOTE_CHANNEL_NOT_FOUND = 1002; // "channel not found"
constexpr std::int16_t MDF_NOTE_NO_TIME = 1003;           // "time channel does not exist"
constexpr std::int16_t MDF_NOTE_NO_FORMULA = 1004;        // "no formula found"
constexpr std::int16_t MDF_NOTE_FORMULA_TYPE = 1005;      // "unknown formula type"
constexpr std::int16_t MDF_NOTE_NO_TRIGGER = 1006;        // "triggerinfo not found"
constexpr std::int16_t MDF_NOTE_NO_TIMECHANNEL = 1008;    // "timechannel not found"
constexpr std::int16_t MDF_NOTE_NOT_TABLE = 1011;         // "illegal formula type, not a table"

// ---------------------------------------------------------------------------------------------
// Handles and modes
// ---------------------------------------------------------------------------------------------

struct mdf_file_rec;    // an open MDF file
struct mdf_group_rec;   // an open channel group of a file
struct mdf_channel_rec; // an open channel of a group

// File open modes (mdffil_open).
constexpr std::int16_t MDFFIL_READ = 0; // read an existing file
constexpr std::int16_t MDFFIL_UPDATE =
    1; // read and change an existing file (IEEE float format only)
constexpr std::int16_t MDFFIL_CREATE = 2; // create a new file

// Group open modes (mdfgrp_open).
constexpr std::uint16_t MDFGRP_READ = 0; // read the records of an existing group
constexpr std::uint16_t MDFGRP_UPDATE =
    1; // read and write back records (file opened MDFFIL_UPDATE)
constexpr std::uint16_t MDFGRP_CREATE = 2; // create a new group (file opened MDFFIL_CREATE)

// Group record seek modes (mdfgrp_seek).
constexpr std::uint16_t MDFGRP_SEEK_SET = 0;  // record index counted from 0
constexpr std::uint16_t MDFGRP_SEEK_CUR = 16; // added to the current record index

// Channel types (CN channel type field).
constexpr std::uint16_t MDFCHN_VALUE = 0; // value channel
constexpr std::uint16_t MDFCHN_TIME = 1;  // time channel

// Signal data types (CN signal data type field). Types 0 to 3 are in the file's default byte
// order (ID block), 9 to 12 always big-endian, 13 to 16 always little-endian. Integers have 1 to
// 64 bits, IEEE floats 32 (single) or 64 (double) bits whatever their type says.
constexpr std::uint16_t MDFCHN_UNSIGNED = 0;     // unsigned integer
constexpr std::uint16_t MDFCHN_SIGNED = 1;       // signed integer (two's complement)
constexpr std::uint16_t MDFCHN_FLOAT = 2;        // IEEE 754 single precision (double with 64 bits)
constexpr std::uint16_t MDFCHN_DOUBLE = 3;       // IEEE 754 double (single with 32 bits)
constexpr std::uint16_t MDFCHN_VAX_F = 4;        // VAX F_float, 32 bits
constexpr std::uint16_t MDFCHN_VAX_G = 5;        // VAX G_float, 64 bits
constexpr std::uint16_t MDFCHN_VAX_D = 6;        // VAX D_float, 64 bits
constexpr std::uint16_t MDFCHN_STRING = 7;       // text: never a number
constexpr std::uint16_t MDFCHN_BYTES = 8;        // byte array: never a number
constexpr std::uint16_t MDFCHN_UNSIGNED_BE = 9;  // unsigned integer, big-endian
constexpr std::uint16_t MDFCHN_SIGNED_BE = 10;   // signed integer, big-endian
constexpr std::uint16_t MDFCHN_FLOAT_BE = 11;    // IEEE float, big-endian
constexpr std::uint16_t MDFCHN_DOUBLE_BE = 12;   // IEEE double, big-endian
constexpr std::uint16_t MDFCHN_UNSIGNED_LE = 13; // unsigned integer, little-endian
constexpr std::uint16_t MDFCHN_SIGNED_LE = 14;   // signed integer, little-endian
constexpr std::uint16_t MDFCHN_FLOAT_LE = 15;    // IEEE float, little-endian
constexpr std::uint16_t MDFCHN_DOUBLE_LE = 16;   // IEEE double, little-endian

// Conversion types (CC conversion type field) that mdfchn_conversion may give.
constexpr std::uint16_t MDFCNV_LINEAR = 0;
constexpr std::uint16_t MDFCNV_TABLE_INTERP = 1;
constexpr std::uint16_t MDFCNV_TABLE = 2;
constexpr std::uint16_t MDFCNV_POLYNOMIAL = 6;
constexpr std::uint16_t MDFCNV_EXPONENTIAL = 7;
constexpr std::uint16_t MDFCNV_LOGARITHMIC = 8;
constexpr std::uint16_t MDFCNV_RATIONAL = 9;
constexpr std::uint16_t MDFCNV_FORMULA = 10;
constexpr std::uint16_t MDFCNV_VALUE_TEXT = 11; // value to text: the raw value is read
constexpr std::uint16_t MDFCNV_RANGE_TEXT = 12; // value range to text: the raw value is read
constexpr std::uint16_t MDFCNV_DATE = 132;      // date structure: never a number
constexpr std::uint16_t MDFCNV_TIME = 133;      // time structure: never a number
constexpr std::uint16_t MDFCNV_NONE = 65535; // one to one; also a channel without conversion block

// ---------------------------------------------------------------------------------------------
// Library frame
// ---------------------------------------------------------------------------------------------

// Starts (or restarts) the library at usage level 1. program_id (null: "MDFLIB") is written,
// cut to 8 characters, into new ID blocks. Clears the sticky error.
std::int16_t mdflib_init(const char *program_id);
// Closes everything the library holds and returns it to level 0.
std::int16_t mdflib_exit();
// Opens a nested usage level; everything created there is released by mdflib_leave_level.
std::int16_t mdflib_enter_level();
// Closes the files, blocks and links of the current level and drops the level by one
// (at level 1 as mdflib_exit, at level 0 nothing).
std::int16_t mdflib_leave_level();
// The sticky error code (0: none) and its printed message ("" when none).
std::int16_t mdflib_last_error();
const char *mdflib_last_error_text();
// Where the library found the damage behind the sticky error, as module and line ("Mdf1.cpp:412"),
// for traces; "" when the sticky error is not a damaged file.
const char *mdflib_last_error_origin();
// The fixed text of a status code ("" for 0), or null for a code without text.
const char *mdflib_error_name(std::int16_t code);
// The magic number in the first word of a handle (for traces); 0 for null.
std::uint32_t mdflib_handle_magic(const void *handle);

// ---------------------------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------------------------

// Opens an MDF file in mode MDFFIL_READ, MDFFIL_UPDATE or MDFFIL_CREATE; *file is null on
// failure. A file in a VAX float format is held in IEEE form when read.
std::int16_t mdffil_open(mdf_file_rec **file, const char *name, std::int16_t mode);
// Closes its groups, writes the file information back (update and create modes) and releases
// the handle. A null handle is accepted.
std::int16_t mdffil_close(mdf_file_rec *file);
// The number of channel groups of the file.
std::int16_t mdffil_groups(std::uint16_t *count, mdf_file_rec *file);
// The number of channels over all groups of the file.
std::int16_t mdffil_channels(std::uint32_t *total, mdf_file_rec *file);
// The file's MDF version (for example 200, 330) and default byte order (0 little-endian, 1 big).
std::int16_t mdffil_version(mdf_file_rec *file, std::uint16_t *version, std::uint16_t *byte_order);
// 0 when every data group holds at most one channel group, else MDF_NOT_SORTED (quiet).
std::int16_t mdffil_check_sorted(mdf_file_rec *file);

// The file information; each out may be null. date and time live in buffers shared by all
// files (the next call overwrites them); the other texts as described at the top.
std::int16_t mdffil_info(mdf_file_rec *file, const char **date, const char **time,
                         const char **comment, const char **author, const char **division,
                         const char **project, const char **subject);
std::int16_t mdffil_date(mdf_file_rec *file, const char **date);
std::int16_t mdffil_time(mdf_file_rec *file, const char **time);
std::int16_t mdffil_comment(mdf_file_rec *file, const char **comment);
std::int16_t mdffil_author(mdf_file_rec *file, const char **author);
std::int16_t mdffil_division(mdf_file_rec *file, const char **division);
std::int16_t mdffil_project(mdf_file_rec *file, const char **project);
std::int16_t mdffil_subject(mdf_file_rec *file, const char **subject);

// Changes the file information (null: unchanged). Written to the file at close in the update
// and create modes.
std::int16_t mdffil_set_info(mdf_file_rec *file, const char *date, const char *time,
                             const char *comment, const char *author, const char *division,
                             const char *project, const char *subject);
std::int16_t mdffil_set_date(mdf_file_rec *file, const char *date);
std::int16_t mdffil_set_time(mdf_file_rec *file, const char *time);
std::int16_t mdffil_set_comment(mdf_file_rec *file, const char *comment);
std::int16_t mdffil_set_author(mdf_file_rec *file, const char *author);
std::int16_t mdffil_set_division(mdf_file_rec *file, const char *division);
std::int16_t mdffil_set_project(mdf_file_rec *file, const char *project);
std::int16_t mdffil_set_subject(mdf_file_rec *file, const char *subject);

// By file name: 0 sorted, MDF_NOT_SORTED, or the failure's status.
std::int16_t mdffil_test_sorted(const char *name);
// Writes a sorted copy of an unsorted file; MDF_ALREADY_SORTED (nothing written) when the input
// is sorted or has no channel group.
std::int16_t mdffil_sort(const char *input_name, const char *output_name);

// ---------------------------------------------------------------------------------------------
// Groups and records
// ---------------------------------------------------------------------------------------------

// Opens group number (1-based, over all data groups) or, with MDFGRP_CREATE, creates one.
std::int16_t mdfgrp_open(mdf_group_rec **group, mdf_file_rec *file, std::uint16_t number,
                         std::uint16_t mode);
// Closes the group's channels, writes a created group's blocks, releases the handle (null ok).
std::int16_t mdfgrp_close(mdf_group_rec *group);
// Makes another record current (MDFGRP_SEEK_SET or MDFGRP_SEEK_CUR); MDF_END_OF_RECORDS when
// the position lies outside the records.
std::int16_t mdfgrp_seek(mdf_group_rec *group, std::int32_t position, std::uint16_t mode);
std::int16_t mdfgrp_write_record(mdf_group_rec *group);
std::int16_t mdfgrp_append_record(mdf_group_rec *group);
std::int16_t mdfgrp_channels(std::uint16_t *count, mdf_group_rec *group);
std::int16_t mdfgrp_records(std::uint32_t *count, mdf_group_rec *group);
std::int16_t mdfgrp_record_index(std::uint32_t *index, mdf_group_rec *group);
// The address of the current record's data; returns the record buffer's length (0 and a null
// address after a sticky error or for a bad group, which records MDF_ERR_BAD_GROUP). The buffer
// holds the identifier byte(s) and spare bytes as well, and the address lies behind a
// leading identifier byte: the record's data are its record size (from the CG) bytes from the
// address, not the returned length.
std::uint16_t mdfgrp_record_data(std::uint8_t **data, mdf_group_rec *group);
// Iterate the open groups of a file; MDF_NO_MORE_GROUPS and null at the end.
std::int16_t mdfgrp_first(mdf_group_rec **group, mdf_file_rec *file);
std::int16_t mdfgrp_next(mdf_group_rec **group);

// ---------------------------------------------------------------------------------------------
// Channels and values
// ---------------------------------------------------------------------------------------------

std::int16_t mdfchn_open(mdf_channel_rec **channel, mdf_group_rec *group, std::uint16_t number);
std::int16_t mdfchn_open_time(mdf_channel_rec **channel, mdf_group_rec *group);
std::int16_t mdfchn_open_type(mdf_channel_rec **channel, mdf_group_rec *group, std::uint16_t type);
std::int16_t mdfchn_open_name(mdf_channel_rec **channel, mdf_group_rec *group, const char *name);
std::int16_t mdfchn_close(mdf_channel_rec *channel);
// Iterate the open channels of a group; MDF_NO_MORE_CHANNELS and null at the end.
std::int16_t mdfchn_first(mdf_channel_rec **channel, mdf_group_rec *group);
std::int16_t mdfchn_next(mdf_channel_rec **channel);

std::int16_t mdfchn_create(mdf_channel_rec **channel, mdf_group_rec *group, std::uint16_t type,
                           std::uint16_t bits, std::uint16_t data_type, const char *name);
std::int16_t mdfchn_copy(mdf_channel_rec **channel, mdf_group_rec *group, mdf_channel_rec *source);

// The channel description; each out may be null. The name is the long name (its TX block) where
// the channel has one, else the short name.
std::int16_t mdfchn_info(mdf_channel_rec *channel, std::uint16_t *type, std::uint16_t *bits,
                         std::uint16_t *data_type, const char **name, const char **description,
                         const char **comment);
std::int16_t mdfchn_type(mdf_channel_rec *channel, std::uint16_t *type);
std::int16_t mdfchn_bits(mdf_channel_rec *channel, std::uint16_t *bits);
std::int16_t mdfchn_data_type(mdf_channel_rec *channel, std::uint16_t *data_type);
std::int16_t mdfchn_name(mdf_channel_rec *channel, const char **name);
std::int16_t mdfchn_description(mdf_channel_rec *channel, const char **description);
std::int16_t mdfchn_comment(mdf_channel_rec *channel, const char **comment);

// The byte order of the channel's values: 0 little-endian, 1 big-endian.
std::int16_t mdfchn_byte_order(mdf_channel_rec *channel, std::uint16_t *byte_order);
// The channel's conversion type (MDFCNV_NONE without a conversion block) and physical unit (the
// empty text without one; owned by the library like the name).
std::int16_t mdfchn_conversion(mdf_channel_rec *channel, std::uint16_t *conversion_type,
                               const char **unit);
// What reading the channel gives: 0 numbers; MDF_NOT_NUMERIC (a string, a byte array, a data type
// or bit count without a number coding, a date or time conversion); MDF_FORMULA_INVALID (a formula
// text that does not parse, every value reads 0); MDF_CONVERSION_UNKNOWN (a conversion type without
// a rule, every value reads as its raw value). All three are quiet and never sticky.
std::int16_t mdfchn_check_value(mdf_channel_rec *channel);

// Changes the description (null: unchanged).
std::int16_t mdfchn_set_info(mdf_channel_rec *channel, const char *name, const char *description,
                             const char *comment);
std::int16_t mdfchn_set_name(mdf_channel_rec *channel, const char *name);
std::int16_t mdfchn_set_description(mdf_channel_rec *channel, const char *description);
std::int16_t mdfchn_set_comment(mdf_channel_rec *channel, const char *comment);

// Values in the group's current record. Reading a channel a second time in one record moves
// its group to the next record first (MDF_END_OF_RECORDS when there is none). A channel whose
// values are not numbers reads MDF_NOT_NUMERIC and its group does not move. mdfchn_read_raw gives
// the low 32 bits of a wider field. Writing is refused with MDF_ERR_VALUE_TYPE for a channel in a
// layout that MDFLIB does not create: big-endian, a type from 5 up, an integer of more than 32
// bits (IEEE doubles of type 3, little-endian, are written). mdfchn_write_value through a
// conversion without an inverse (rational, formula text, text tables, unknown types) gives the
// notice MDF_NOTE_FORMULA_TYPE and writes nothing.
std::int16_t mdfchn_read_raw(std::uint32_t *raw, mdf_channel_rec *channel);
std::int16_t mdfchn_read_raw_real(double *raw, mdf_channel_rec *channel);
std::int16_t mdfchn_read_value(double *value, mdf_channel_rec *channel);
std::int16_t mdfchn_write_raw(mdf_channel_rec *channel, std::uint32_t raw);
std::int16_t mdfchn_write_raw_real(mdf_channel_rec *channel, double raw);
std::int16_t mdfchn_write_value(mdf_channel_rec *channel, double value);

#endif // TRAXCON_MDF_MDFLIB_H
