// MDFLIB internals: block layouts, node and handle records, the call guard, allocation, lists,
// file I/O and block operations. Included by the library's own modules and its tests only;
// the application includes mdflib.h.
//
// How to use the internals (a short guide for the library's modules)
// ------------------------------------------------------------------
// Failure travels by exception. Internal operations (mdfio_*, mdfblk_*, the list operations)
// return their results directly and end with `throw mdf_fail{status}` on failure, after the
// failure was reported (mdflib_fail reports and throws; mdflib_raise throws a quiet status).
// Every public operation runs its body inside the call guard:
//
//     std::int16_t mdfgrp_channels(std::uint16_t *count, mdf_group_rec *group) {
//         return mdflib_call(MDF_GUARD_STICKY, [&] {
//             mdflib_gate(group);                // reports -1002 and throws when bad
//             mdflib_require(count != nullptr, "count");
//             *count = group->channels;
//         });
//     }
//
// The guard catches mdf_fail (and std::bad_alloc as -2007), closes, and returns the status; when
// it was called from inside another guarded operation it throws the nonzero status on, so the
// enclosing operation stops too. An operation that must clean up "whatever" the outcome wraps
// the risky part in mdflib_catch(...) (which returns the status instead of throwing), cleans up
// and then calls mdflib_raise(status) if it is nonzero. MDF_GUARD_NO_STICKY is for the
// operations that run under a sticky error (init, exit and the file, group and channel closes;
// they test mdflib_state.sticky_error themselves to leave out their writing). Calling another
// public operation from a body is fine: a nonzero status it returns arrives as mdf_fail, so
// catch it (mdflib_catch) where a status is acceptable, e.g. status 1 of a seek at group open.
// Operations without a guard (mdfgrp_first and the like) start with mdflib_gate_unguarded and
// must not let an mdf_fail escape to the application.
// Broken invariants of the library itself: MDF_INTERNAL_ERROR() (message, exit status 1).
//
// Block images are std::uint8_t* to the block's first byte, exactly as in the file. Read fields
// with mdf_u16 / mdf_u32 / mdf_real (image, offset) and the offset constants below, write them with
// mdf_set_u16 / mdf_set_u32 / mdf_set_real. Every image is allocated one byte longer than its
// block and that byte is zero, so a text running to the end of its block always ends there.
// Texts of fixed-width fields may fill their field; hand them out through mdf_field_text.
// mdf_block_is(image, MDFBLK_CG) tests the type; mdfblk_length(image) is the block's length.
//
// Links: follow a link with mdfblk_link(image, OFFSET) (null: no block); make it point at
// another image in memory with mdfblk_set_link(image + OFFSET, 0, target); before writing the
// block, store the target's file position with mdfblk_store_link(image + OFFSET) (the target
// must be written first). New blocks: mdfblk_new(MDFBLK_CN) etc.; write with mdfblk_append
// (at the current file position) or mdfblk_rewrite (at the block's own position).
// A file's tree as read by mdffil_open: file->hd, HD_FIRST_DG -> DG, DG_NEXT_DG / DG_FIRST_CG ->
// CG, CG_NEXT_CG / CG_FIRST_CN -> CN, CN_NEXT_CN / CN_CONVERSION -> CC. Every link of the tree
// was bound to its image when the tree was read, and every chain was checked for loops, so
// walking them terminates. mdfblk_cg_count(dg) counts the CGs of a DG along its chain (use it,
// not the DG's number-of-channel-groups field, which can disagree in damaged files).
//
// I/O: mdfio_seek(io, pos, MDFIO_SEEK_SET), mdfio_read(buf, n, io), mdfio_write(buf, n, io);
// a seek to the current position costs nothing. The file record's io member is the handle.
//
// Records: mdflib_new<T>() gives a zero-filled guarded record (null: out of memory; report
// MDF_ERR_MEMORY), mdflib_new_or_fail<T>() reports and throws itself; mdflib_free releases.
// Lists: mdflst_<list>_insert / _remove / _release (release of a file, group or channel
// record requires it to be removed first). Set the record's magic before inserting it.
//
// Tests: tests/mdf/Mdfbuild_helper.h lays out MDF files byte by byte; Mdftest_helper.h has the
// fixture MdfTest (a fresh library per test) and status_of(...) for internal operations.
#ifndef TRAXCON_MDF_MDFINT_H
#define TRAXCON_MDF_MDFINT_H

#ifndef MDFLIB_INTERNALS
#error "mdfint.h holds MDFLIB's internals: include mdflib.h (link mdflib_internals to see them)"
#endif

#include "mdffrm.h"
#include "mdflib.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <unordered_map>
#include <utility>

// ---------------------------------------------------------------------------------------------
// Block layouts (all integers little-endian; LINK = UINT32 file position, 0 = none)
//
// Blocks of the later versions are longer: a block of any size at or above its type's smallest
// (the *_SIZE constants) is read; fields beyond a block's size count as zero or no link.
// ---------------------------------------------------------------------------------------------

// Block types: the two type letters read as one little-endian 16-bit number.
constexpr std::uint16_t mdf_block_code(char a, char b) {
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(a) |
                                      (static_cast<std::uint8_t>(b) << 8));
}
constexpr std::uint16_t MDFBLK_ID = 0; // the ID block (no header) as a type for mdfblk_new
constexpr std::uint16_t MDFBLK_HD = mdf_block_code('H', 'D');
constexpr std::uint16_t MDFBLK_DG = mdf_block_code('D', 'G');
constexpr std::uint16_t MDFBLK_CG = mdf_block_code('C', 'G');
constexpr std::uint16_t MDFBLK_CN = mdf_block_code('C', 'N');
constexpr std::uint16_t MDFBLK_CC = mdf_block_code('C', 'C');
constexpr std::uint16_t MDFBLK_CE = mdf_block_code('C', 'E');
constexpr std::uint16_t MDFBLK_CD = mdf_block_code('C', 'D');
constexpr std::uint16_t MDFBLK_TR = mdf_block_code('T', 'R');
constexpr std::uint16_t MDFBLK_TX = mdf_block_code('T', 'X');
constexpr std::uint16_t MDFBLK_PR = mdf_block_code('P', 'R');

// Block header (every block but the ID block).
constexpr std::uint16_t BLK_TYPE = 0;   // CHAR[2] two upper-case letters
constexpr std::uint16_t BLK_SIZE = 2;   // UINT16  block size in bytes, header included
constexpr std::uint16_t BLK_HEADER = 4; // header length

// ID block, 64 bytes at file position 0.
constexpr std::uint16_t ID_FILE_ID = 0;       // CHAR[8] "MDF     "
constexpr std::uint16_t ID_FORMAT_ID = 8;     // CHAR[8] "2.00    "
constexpr std::uint16_t ID_PROGRAM_ID = 16;   // CHAR[8] program identifier
constexpr std::uint16_t ID_BYTE_ORDER = 24;   // UINT16  0 = little-endian
constexpr std::uint16_t ID_FLOAT_FORMAT = 26; // UINT16  0 IEEE, 1 VAX G_float, 2 VAX D_float
constexpr std::uint16_t ID_VERSION = 28;      // UINT16  200
constexpr std::uint16_t ID_RESERVED1 = 30;    // UINT16
constexpr std::uint16_t ID_RESERVED2 = 32;    // BYTE[2] both must be 0
constexpr std::uint16_t ID_RESERVED3 = 34;    // BYTE[30]
constexpr std::uint16_t ID_SIZE = 64;         // length of the ID block
constexpr std::uint16_t ID_VERSION_200 = 200; // version number written
constexpr std::uint16_t ID_VERSION_300 = 300; // from here on the polynomial has its P6 offset
constexpr std::uint16_t ID_VERSION_400 = 400; // the first version MDFLIB does not read
constexpr char ID_UNFINISHED[] = "UnFinMF ";  // file identifier of a file never finalised
constexpr std::uint16_t HD_POSITION = 64;     // file position of the HD block

// Float formats (ID_FLOAT_FORMAT).
constexpr std::uint16_t MDF_FLOAT_IEEE = 0;
constexpr std::uint16_t MDF_FLOAT_VAX_G = 1;
constexpr std::uint16_t MDF_FLOAT_VAX_D = 2;

// HD block, header, fixed size 164.
constexpr std::uint16_t HD_FIRST_DG = 4;  // LINK     first DG block
constexpr std::uint16_t HD_COMMENT = 8;   // LINK     TX block: file comment
constexpr std::uint16_t HD_PROGRAM = 12;  // LINK     PR block: data of the writing program
constexpr std::uint16_t HD_DG_COUNT = 16; // UINT16   number of data groups
constexpr std::uint16_t HD_DATE = 18;     // CHAR[10] DD:MM:YYYY
constexpr std::uint16_t HD_TIME = 28;     // CHAR[8]  HH:MM:SS
constexpr std::uint16_t HD_AUTHOR = 36;   // CHAR[32]
constexpr std::uint16_t HD_DIVISION = 68; // CHAR[32]
constexpr std::uint16_t HD_PROJECT = 100; // CHAR[32]
constexpr std::uint16_t HD_SUBJECT = 132; // CHAR[32]
constexpr std::uint16_t HD_SIZE = 164;    // 208 from version 3.20 (time stamp fields, not read)
constexpr std::uint16_t HD_DATE_LEN = 10;
constexpr std::uint16_t HD_TIME_LEN = 8;
constexpr std::uint16_t HD_TEXT_LEN = 32; // author, division, project, subject

// DG block, data group, fixed size 24.
constexpr std::uint16_t DG_NEXT_DG = 4;   // LINK   next DG block
constexpr std::uint16_t DG_FIRST_CG = 8;  // LINK   first CG block
constexpr std::uint16_t DG_TRIGGER = 12;  // LINK   TR block
constexpr std::uint16_t DG_DATA = 16;     // LINK   data records (a raw area, not a block)
constexpr std::uint16_t DG_CG_COUNT = 20; // UINT16 number of channel groups
constexpr std::uint16_t DG_ID_BYTES = 22; // UINT16 number of record identifier bytes (0, 1, 2)
constexpr std::uint16_t DG_SIZE = 24;     // 28 in version 3.x (a reserved UINT32 at 24)

// CG block, channel group, fixed size 26.
constexpr std::uint16_t CG_NEXT_CG = 4;      // LINK   next CG block
constexpr std::uint16_t CG_FIRST_CN = 8;     // LINK   first CN block
constexpr std::uint16_t CG_COMMENT = 12;     // LINK   TX block: group comment
constexpr std::uint16_t CG_RECORD_ID = 16;   // UINT16 record identifier
constexpr std::uint16_t CG_CN_COUNT = 18;    // UINT16 number of channels
constexpr std::uint16_t CG_RECORD_SIZE = 20; // UINT16 record size in bytes
constexpr std::uint16_t CG_RECORDS = 22;     // UINT32 number of records
constexpr std::uint16_t CG_SIZE = 26;
constexpr std::uint16_t CG_SAMPLE_REDUCTION =
    26; // LINK (3.30, block size 30) SR block, never followed

// CN block, channel, fixed size 218.
constexpr std::uint16_t CN_NEXT_CN = 4;       // LINK      next CN block
constexpr std::uint16_t CN_CONVERSION = 8;    // LINK      CC block
constexpr std::uint16_t CN_EXTENSION = 12;    // LINK      CE block
constexpr std::uint16_t CN_DEPENDENCY = 16;   // LINK      CD block
constexpr std::uint16_t CN_COMMENT = 20;      // LINK      TX block: channel comment
constexpr std::uint16_t CN_TYPE = 24;         // UINT16    0 value channel, 1 time channel
constexpr std::uint16_t CN_NAME = 26;         // CHAR[32]  short signal name
constexpr std::uint16_t CN_DESCRIPTION = 58;  // CHAR[128] signal description
constexpr std::uint16_t CN_FIRST_BIT = 186;   // UINT16    first bit of the value in the record
constexpr std::uint16_t CN_BITS = 188;        // UINT16    number of bits
constexpr std::uint16_t CN_DATA_TYPE = 190;   // UINT16    signal data type
constexpr std::uint16_t CN_RANGE_VALID = 192; // UINT16    value range valid (0 = no)
constexpr std::uint16_t CN_MIN = 194;         // REAL      minimum signal value
constexpr std::uint16_t CN_MAX = 202;         // REAL      maximum signal value
constexpr std::uint16_t CN_RATE = 210;        // REAL      sampling rate
constexpr std::uint16_t CN_SIZE = 218;
constexpr std::uint16_t CN_LONG_NAME = 218;    // LINK   (block size 222 on) TX block: long name
constexpr std::uint16_t CN_DISPLAY_NAME = 222; // LINK   (block size 226 on) TX block: display name
constexpr std::uint16_t CN_BYTE_OFFSET = 226;  // UINT16 (block size 228) additional byte offset
constexpr std::uint16_t CN_NAME_LEN = 32;
constexpr std::uint16_t CN_DESCRIPTION_LEN = 128;

// CC block, conversion formula, 46 bytes plus parameters.
constexpr std::uint16_t CC_RANGE_VALID = 4; // UINT16   physical value range valid (0 = no)
constexpr std::uint16_t CC_MIN = 6;         // REAL     minimum physical value
constexpr std::uint16_t CC_MAX = 14;        // REAL     maximum physical value
constexpr std::uint16_t CC_UNIT = 22;       // CHAR[20] physical unit
constexpr std::uint16_t CC_TYPE = 42;       // UINT16   conversion type
constexpr std::uint16_t CC_COUNT = 44;      // UINT16   parameter count
constexpr std::uint16_t CC_PARAMS = 46;     // REAL...  parameters P1 at 46, P2 at 54, ...;
                                        //          tables: count pairs (raw, physical), 16 each;
                                        //          type 10: a zero-terminated formula text
constexpr std::uint16_t CC_SIZE = 46; // size of a CC without parameters
constexpr std::uint16_t CC_UNIT_LEN = 20;

// Conversion types (CC_TYPE): the numbers of mdflib.h.
constexpr std::uint16_t CC_LINEAR = MDFCNV_LINEAR;
constexpr std::uint16_t CC_TABLE_INTERP = MDFCNV_TABLE_INTERP;
constexpr std::uint16_t CC_TABLE = MDFCNV_TABLE;
constexpr std::uint16_t CC_POLYNOMIAL = MDFCNV_POLYNOMIAL;
constexpr std::uint16_t CC_EXPONENTIAL = MDFCNV_EXPONENTIAL;
constexpr std::uint16_t CC_LOGARITHMIC = MDFCNV_LOGARITHMIC;
constexpr std::uint16_t CC_RATIONAL = MDFCNV_RATIONAL;
constexpr std::uint16_t CC_FORMULA = MDFCNV_FORMULA;
constexpr std::uint16_t CC_VALUE_TEXT = MDFCNV_VALUE_TEXT; // entries of REAL value, CHAR[32] text
constexpr std::uint16_t CC_RANGE_TEXT = MDFCNV_RANGE_TEXT; // entries of REAL lower, upper, LINK TX
constexpr std::uint16_t CC_DATE = MDFCNV_DATE;
constexpr std::uint16_t CC_TIME = MDFCNV_TIME;
constexpr std::uint16_t CC_ONE_TO_ONE = MDFCNV_NONE;
constexpr std::uint16_t CC_RANGE_ENTRY = 20;     // bytes of one type-12 entry
constexpr std::uint16_t CC_RANGE_TEXT_LINK = 16; // offset of the TX link inside a type-12 entry

// Offset of parameter P<n> (n from 1) of a formula type.
constexpr std::uint16_t cc_param(unsigned n) {
    return static_cast<std::uint16_t>(CC_PARAMS + 8 * (n - 1));
}

// CE block, source extension; a new one has 128 bytes.
constexpr std::uint16_t CE_TYPE = 4;        // UINT16 extension type
constexpr std::uint16_t CE_REAL1 = 8;       // REAL   (extension type 1)
constexpr std::uint16_t CE_REAL2 = 16;      // REAL   (extension type 1)
constexpr std::uint16_t CE_MIN_SIZE = 6;    // smallest CE block that holds its type
constexpr std::uint16_t CE_TYPE1_SIZE = 24; // smallest CE block of extension type 1
constexpr std::uint16_t CE_SIZE = 128;

// CD block, dependency, opaque; a new one has 20 bytes.
constexpr std::uint16_t CD_SIZE = 20;

// TR block, trigger; a new one has room for one event (34 bytes).
constexpr std::uint16_t TR_COMMENT = 4;     // LINK   TX block: trigger comment
constexpr std::uint16_t TR_COUNT = 8;       // UINT16 number of trigger events
constexpr std::uint16_t TR_EVENTS = 10;     // per event i, at 10 + 24 i:
constexpr std::uint16_t TR_EVENT_TIME = 0;  //   REAL trigger time
constexpr std::uint16_t TR_EVENT_PRE = 8;   //   REAL pre-trigger time
constexpr std::uint16_t TR_EVENT_POST = 16; //   REAL post-trigger time
constexpr std::uint16_t TR_EVENT_SIZE = 24;
constexpr std::uint16_t TR_SIZE = 34;

// TX block (text from offset 4, zero-terminated) and PR block (bytes from offset 4).
constexpr std::uint16_t TX_TEXT = 4;
constexpr std::uint16_t PR_DATA = 4;

// ---------------------------------------------------------------------------------------------
// Field access in block images (little-endian, any host)
// ---------------------------------------------------------------------------------------------

inline std::uint16_t mdf_u16(const std::uint8_t *img, std::size_t off) {
    return static_cast<std::uint16_t>(img[off] | (img[off + 1] << 8));
}
inline std::uint32_t mdf_u32(const std::uint8_t *img, std::size_t off) {
    return static_cast<std::uint32_t>(img[off]) | (static_cast<std::uint32_t>(img[off + 1]) << 8) |
           (static_cast<std::uint32_t>(img[off + 2]) << 16) |
           (static_cast<std::uint32_t>(img[off + 3]) << 24);
}
inline std::uint64_t mdf_u64(const std::uint8_t *img, std::size_t off) {
    return static_cast<std::uint64_t>(mdf_u32(img, off)) |
           (static_cast<std::uint64_t>(mdf_u32(img, off + 4)) << 32);
}
inline void mdf_set_u16(std::uint8_t *img, std::size_t off, std::uint16_t v) {
    img[off] = static_cast<std::uint8_t>(v);
    img[off + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void mdf_set_u32(std::uint8_t *img, std::size_t off, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) img[off + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void mdf_set_u64(std::uint8_t *img, std::size_t off, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) img[off + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
// REAL fields: IEEE 754 doubles once the tree is read (VAX formats are converted at open).
inline double mdf_real(const std::uint8_t *img, std::size_t off) {
    std::uint64_t bits = mdf_u64(img, off);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}
inline void mdf_set_real(std::uint8_t *img, std::size_t off, double d) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    mdf_set_u64(img, off, bits);
}
inline std::uint16_t mdf_block_type(const std::uint8_t *img) {
    return mdf_u16(img, BLK_TYPE);
}
inline std::uint16_t mdf_block_size(const std::uint8_t *img) {
    return mdf_u16(img, BLK_SIZE);
}
inline bool mdf_block_is(const std::uint8_t *img, std::uint16_t type) {
    return img != nullptr && mdf_block_type(img) == type;
}
// A block image is valid when its size is at least 4 and both type letters are 'A' to 'Z'.
inline bool mdf_block_valid(const std::uint8_t *img) {
    return img != nullptr && img[0] >= 'A' && img[0] <= 'Z' && img[1] >= 'A' && img[1] <= 'Z' &&
           mdf_block_size(img) >= BLK_HEADER;
}

// The text of a fixed-width field that may fill its whole width without a zero byte: the field
// itself when it holds a zero byte, otherwise a terminated copy in spare (width + 1 bytes).
inline const char *mdf_field_text(const std::uint8_t *field, std::size_t width, char *spare) {
    if (std::memchr(field, 0, width) != nullptr) return reinterpret_cast<const char *>(field);
    std::memcpy(spare, field, width);
    spare[width] = '\0';
    return spare;
}

// The MDF version of an ID image: its version number, or where that is 0 the format identifier
// ("3.30" gives 330; an unreadable one 200). The default byte order: nonzero is big-endian.
std::uint16_t mdf_id_version(const std::uint8_t *id);
inline bool mdf_id_big_endian(const std::uint8_t *id) {
    return mdf_u16(id, ID_BYTE_ORDER) != 0;
}
// The text of a channel's name: the long name's TX block where the CN links one, else the short
// name (a terminated copy in spare, CN_NAME_LEN + 1 bytes, when it fills its field).
const char *mdf_cn_name(std::uint8_t *cn, char *spare);

// VAX to IEEE conversions of REAL values in place (8 bytes as stored in the file).
void mdf_vaxg_to_ieee(std::uint8_t *value);
void mdf_vaxd_to_ieee(std::uint8_t *value);
// VAX F_float <-> IEEE single on 32-bit little-endian words (value coding).
std::uint32_t mdf_vaxf_to_ieee(std::uint32_t w);
std::uint32_t mdf_ieee_to_vaxf(std::uint32_t p);

// ---------------------------------------------------------------------------------------------
// Records and nodes
// ---------------------------------------------------------------------------------------------

constexpr std::uint32_t MDF_FILE_MAGIC = 30820;    // 0x7864, the first word of mdf_file_rec
constexpr std::uint32_t MDF_GROUP_MAGIC = 30775;   // 0x7837, of mdf_group_rec
constexpr std::uint32_t MDF_CHANNEL_MAGIC = 10444; // 0x28CC, of mdf_channel_rec
constexpr std::uint32_t MDF_BLOCK_MAGIC = 30565;   // 0x7765
constexpr std::uint32_t MDF_LINK_MAGIC = 5269;     // 0x1495
constexpr std::uint32_t MDF_ALLOC_GUARD = 20490;   // 0x500A, the word before every allocation

// One block image held in memory.
struct mdf_block_node {
    std::uint32_t magic;       // MDF_BLOCK_MAGIC
    std::int32_t level;        // usage level at creation
    std::uint8_t *image;       // the block image (owned)
    std::uint8_t *snapshot;    // a kept copy of the image, null if none (owned)
    std::uint32_t read_pos;    // where the block was read from, 0 if never read (ID block: 0)
    std::uint32_t written_pos; // where the block was last written, 0 if never written
    std::uint16_t length;      // length of the block in bytes (ID block: 64)
    mdf_block_node *next;
};

// One link field inside a block image.
struct mdf_link_node {
    std::uint32_t magic;  // MDF_LINK_MAGIC
    std::int32_t level;   // usage level at creation
    std::uint8_t *field;  // address of the link field inside image
    std::uint8_t *image;  // the image holding the field
    std::uint32_t value;  // the field's content when the node was made, or as set
    std::uint8_t *target; // the target image, null until resolved or set
    mdf_link_node *next;
};

struct mdf_tree_index;

// The file handle.
struct mdf_file_rec {
    std::uint32_t magic;   // MDF_FILE_MAGIC
    std::int32_t level;    // usage level at creation
    char name[129];        // file name as given at open, at most 128 characters
    std::int16_t io;       // I/O handle, -1 while none is open
    std::int16_t mode;     // MDFFIL_READ, MDFFIL_UPDATE, MDFFIL_CREATE
    std::uint16_t groups;  // number of channel groups, counted along the CG chains at open
    std::uint16_t version; // MDF version (200 ... 330): the ID's number, else its format text
    bool big_endian;       // the ID's default byte order is big-endian
    std::uint8_t *id;      // ID block image
    std::uint8_t *hd;      // HD block image
    mdf_tree_index *index; // groups and channels by number (owned; see "Tree index" below)
    mdf_file_rec *next;    // file list
};

// The buffer of a group's current record: one mdflib_alloc area (a library reset releases it
// with mdflib_free). `record` points into it at the identifier byte, which is directly
// followed by the record data (record + 1), the trailing identifier byte (when the DG has two
// identifier bytes) and at least 3 spare bytes.
struct mdf_record_buffer {
    std::uint16_t length;   // total size of the buffer in bytes
    std::uint64_t position; // file position of the current record (its identifier byte when r > 0)
    std::uint32_t index;    // index of the current record, from 0
    std::uint8_t *record;   // identifier byte, then the record data
};
inline std::uint8_t *mdf_record_data(const mdf_record_buffer *b) {
    return b->record + 1;
}

// The group handle.
struct mdf_group_rec {
    std::uint32_t magic;       // MDF_GROUP_MAGIC
    mdf_file_rec *file;        // the open file of the group
    std::uint16_t mode;        // MDFGRP_READ, MDFGRP_UPDATE, MDFGRP_CREATE
    std::uint16_t number;      // the number given at open
    std::uint16_t channels;    // CN blocks counted when opened (0 for a created group)
    std::uint8_t *dg;          // DG block image
    std::uint8_t *cg;          // CG block image
    mdf_record_buffer *buffer; // the current record
    mdf_group_rec *next;       // group list
    // The group's open channels in the order of the channel list (see mdfgrp_attach_channel),
    // so that a record move or a close touches this group's channels only.
    mdf_channel_rec *first_channel;
    mdf_channel_rec *last_channel;
    mdf_group_rec *previous; // group list, the record before (null for the first)
};

// How a channel's values are coded: worked out from its CN and the file's default byte order.
enum mdf_value_kind : std::uint8_t {
    MDF_KIND_NONE,     // not a number (strings, byte arrays, unknown types, impossible bit counts)
    MDF_KIND_UNSIGNED, // 1 to 64 bits
    MDF_KIND_SIGNED,   // 1 to 64 bits, two's complement
    MDF_KIND_IEEE,     // 32 bits single, 64 bits double
    MDF_KIND_VAX_F,    // 32 bits
    MDF_KIND_VAX_G,    // 64 bits
    MDF_KIND_VAX_D,    // 64 bits
};
struct mdf_layout {
    std::uint32_t first_bit; // 8 x additional byte offset + the CN's first bit
    std::uint32_t bits;
    std::uint16_t data_type;
    mdf_value_kind kind;
    bool big_endian;
};
// A conversion as read from a CC image: P1 to P7 (0 where the block has fewer), the table rows
// (types 1 and 2: count pairs of little-endian REALs, raw then physical) or the formula text.
struct mdf_conversion {
    std::uint16_t type;
    std::uint32_t count;       // parameter count; for the tables the number of rows
    double p[7];               // P1 .. P7
    const std::uint8_t *table; // types 1 and 2
    const char *text;          // type 10, text_length bytes at most
    std::size_t text_length;
    bool p6_offset; // version 3.00 on: the polynomial subtracts P6 along with P5
};
// How an open channel's values are read, worked out once when it is opened: the layout, the
// function that decodes the raw value of its data type and bit position from a record, and the
// function of its conversion type with the parameters it needs.
struct mdf_value_plan;
using mdf_raw_fn = double (*)(const std::uint8_t *record, const mdf_value_plan &plan);
using mdf_convert_fn = double (*)(const mdf_value_plan &plan, double raw);
struct mdf_value_plan {
    mdf_layout layout;
    mdf_raw_fn raw;            // null when the data type and bit count give no number
    mdf_convert_fn convert;    // the raw value itself without a conversion block
    mdf_conversion conversion; // with its text
    std::int16_t numeric;      // 0, or MDF_NOT_NUMERIC (data type, bit count, date or time)
};

// The channel handle.
struct mdf_channel_rec {
    std::uint32_t magic;             // MDF_CHANNEL_MAGIC
    mdf_group_rec *group;            // the open group of the channel
    std::uint8_t *cn;                // CN block image
    std::uint8_t *cc;                // CC block image, null if none
    mdf_value_plan plan;             // how its values are read (mdf_plan_of cn and cc)
    std::uint16_t access;            // reads since the group last moved
    std::uint16_t writes;            // writes since the current record was last written
    mdf_channel_rec *next;           // channel list
    mdf_channel_rec *group_previous; // the group's channels (mdf_group_rec::first_channel)
    mdf_channel_rec *group_next;
    mdf_channel_rec *previous; // channel list, the record before (null for the first)
};

// ---------------------------------------------------------------------------------------------
// Library state (Mdfinit1)
// ---------------------------------------------------------------------------------------------

struct mdflib_state_t {
    std::int16_t status;            // status of the operation in progress / the last one
    std::int16_t sticky_error;      // first negative status reported since init, 0 = none
    char sticky_text[128];          // its formatted message
    std::uint16_t level;            // usage level, 0 = not initialised
    char program_id[8];             // written into new ID blocks; not necessarily terminated
    std::uint16_t io_mode_bits;     // or-ed into every open mode (MDFIO_STREAM)
    mdf_file_rec *files;            // open files, new ones at the front
    mdf_group_rec *groups;          // open groups, new ones at the end
    mdf_channel_rec *channels;      // open channels, new ones at the end
    mdf_group_rec *groups_tail;     // the last open group, null while there is none
    mdf_channel_rec *channels_tail; // the last open channel, null while there is none
    mdf_block_node *blocks;         // block images in memory, new ones at the front
    mdf_link_node *links;           // link fields of those images, new ones at the front
    int guard_depth;                // number of public operations in progress
    char origin[48];                // module and line that found the damage of the sticky error
};
extern mdflib_state_t mdflib_state;

// ---------------------------------------------------------------------------------------------
// Errors and the call guard (Mdflib, Mdfinit1)
// ---------------------------------------------------------------------------------------------

// Thrown to end the body of an operation with a status (reported already, or quiet).
struct mdf_fail {
    std::int16_t status;
};

// Builds "<text> <detail>\n", records a negative code as the sticky error when none is
// recorded, prints it through mdflib_print_error and returns code.
std::int16_t mdflib_report_error(std::int16_t code, const char *detail);
// mdflib_report_error, then throw mdf_fail{code}.
[[noreturn]] void mdflib_fail(std::int16_t code, const char *detail = "");
// The one report of damaged file contents, like a corruption breakpoint: -2004 "file format"
// with a detail naming the block (its two type letters; null for the data area or the file as a
// whole), its file position and what is wrong ("(CN block at 1234: size 200 below 218)"); the
// library module and line that found it are kept for traces (mdflib_last_error_origin). Throws.
[[noreturn]] void mdflib_corrupt_at(const char *module, int line, const char *block,
                                    std::uint64_t position, const char *what);
// The same for a block image (type letters from the image, position given).
[[noreturn]] void mdflib_corrupt_image_at(const char *module, int line, const std::uint8_t *image,
                                          std::uint64_t position, const char *what);
#define MDF_CORRUPT(block, position, what)                                                         \
    mdflib_corrupt_at(__FILE__, __LINE__, block, position, what)
#define MDF_CORRUPT_IMAGE(image, position, what)                                                   \
    mdflib_corrupt_image_at(__FILE__, __LINE__, image, position, what)
// throw mdf_fail{code} without a report (quiet statuses, the -2010 of the lists).
[[noreturn]] void mdflib_raise(std::int16_t code);
// Prints "[MDFLIB-ERROR] %s\n" on standard output.
void mdflib_print_error(const char *text);
// Reports "Internal Error <level>-<module>-<line>" with -2011 and ends the process (status 1).
[[noreturn]] void mdflib_internal_error(const char *module, int line);
#define MDF_INTERNAL_ERROR() mdflib_internal_error(__FILE__, __LINE__)

// The one handle gate of the public operations. A null handle or one whose first word is not its
// type's magic number reports -1001 (file), -1002 (group) or -1003 (channel).
template <class H>
struct mdf_handle_traits;
template <>
struct mdf_handle_traits<mdf_file_rec> {
    static constexpr std::uint32_t magic = MDF_FILE_MAGIC;
    static constexpr std::int16_t bad = MDF_ERR_BAD_FILE;
};
template <>
struct mdf_handle_traits<mdf_group_rec> {
    static constexpr std::uint32_t magic = MDF_GROUP_MAGIC;
    static constexpr std::int16_t bad = MDF_ERR_BAD_GROUP;
};
template <>
struct mdf_handle_traits<mdf_channel_rec> {
    static constexpr std::uint32_t magic = MDF_CHANNEL_MAGIC;
    static constexpr std::int16_t bad = MDF_ERR_BAD_CHANNEL;
};
// 0 for a valid handle; otherwise its bad-handle status, reported.
template <class H>
std::int16_t mdflib_handle_status(const H *handle) {
    if (handle != nullptr && handle->magic == mdf_handle_traits<H>::magic) return 0;
    return mdflib_report_error(mdf_handle_traits<H>::bad, "");
}
// Inside a guarded operation (the guard has applied the sticky-error rule): throws the status.
template <class H>
void mdflib_gate(const H *handle) {
    if (std::int16_t status = mdflib_handle_status(handle); status != 0) throw mdf_fail{status};
}
// The operations without a guard: the sticky error first, then the handle.
template <class H>
std::int16_t mdflib_gate_unguarded(const H *handle) {
    if (mdflib_state.sticky_error != 0) return mdflib_state.sticky_error;
    return mdflib_handle_status(handle);
}
// A null out-pointer or a null or empty name from the caller: -1010 "illegal argument".
void mdflib_require(bool valid, const char *what);

// The guard of a public operation.
enum mdf_guard_kind {
    MDF_GUARD_STICKY,    // a recorded sticky error refuses the operation
    MDF_GUARD_NO_STICKY, // runs under a sticky error (init, exit, the closes)
};
// Steps 1-3 of the guard: returns the status to start with; nonzero means skip the body
// (guard_depth is raised only when the result is not the locked status).
inline std::int16_t mdflib_guard_open(mdf_guard_kind kind) {
    ++mdflib_state.guard_depth;
    mdflib_state.status = kind == MDF_GUARD_STICKY ? mdflib_state.sticky_error : 0;
    return mdflib_state.status;
}
// Steps 5-7: closes the guard, records the status, throws it on to an enclosing guard or
// prints the locked line; returns the status to the outermost caller.
std::int16_t mdflib_guard_fail(std::int16_t status);
inline std::int16_t mdflib_guard_close(std::int16_t status) {
    --mdflib_state.guard_depth;
    mdflib_state.status = status;
    return status == 0 ? 0 : mdflib_guard_fail(status);
}
// The locked path (step 1 to 6 without opening a guard).
std::int16_t mdflib_guard_locked();

// Runs body (a callable without arguments, failing by mdf_fail) inside the call guard.
template <class F>
std::int16_t mdflib_call(mdf_guard_kind kind, F &&body) {
    if (mdflib_state.status == MDF_ERR_FATAL) return mdflib_guard_locked();
    std::int16_t status = mdflib_guard_open(kind);
    if (status == 0) {
        try {
            body();
        } catch (const mdf_fail &f) {
            status = f.status;
        } catch (const std::bad_alloc &) {
            status = mdflib_report_error(MDF_ERR_MEMORY, "");
        }
    }
    return mdflib_guard_close(status);
}

// Runs body and returns the status it failed with (0 if none) instead of throwing it on.
template <class F>
std::int16_t mdflib_catch(F &&body) {
    try {
        body();
    } catch (const mdf_fail &f) {
        return f.status;
    } catch (const std::bad_alloc &) {
        return mdflib_report_error(MDF_ERR_MEMORY, "");
    }
    return 0;
}

// Closes every file, block node and link node created at level or above (files exactly as
// mdffil_close; a failing close does not stop the walk, its status is thrown at the end).
void mdflib_close_level(std::int32_t level);

// ---------------------------------------------------------------------------------------------
// Allocation and text helpers (Mdflib)
// ---------------------------------------------------------------------------------------------

// size bytes, zero-filled, behind the guard word; null when memory is exhausted.
void *mdflib_alloc(std::size_t size);
// Releases an area of mdflib_alloc (null allowed); a broken guard word is an internal error.
void mdflib_free(void *p);
// A zero-filled guarded record of type T (a plain struct); null when memory is exhausted.
template <class T>
T *mdflib_new() {
    return static_cast<T *>(mdflib_alloc(sizeof(T)));
}
// As mdflib_alloc / mdflib_new, but report -2007 and throw when memory is exhausted.
void *mdflib_alloc_or_fail(std::size_t size);
template <class T>
T *mdflib_new_or_fail() {
    return static_cast<T *>(mdflib_alloc_or_fail(sizeof(T)));
}

// Copies at most n characters; stops after the terminating zero and adds none at the bound.
void mdflib_strncpy(char *dst, const char *src, std::uint16_t n);
// Copies at most n characters and always writes a terminating zero (dst holds n + 1 bytes).
void mdflib_strlcpy(char *dst, const char *src, std::uint16_t n);
// Compares at most n characters; the i-form brings both to upper case first.
int mdflib_strncmp(const char *a, const char *b, std::uint16_t n);
int mdflib_strnicmp(const char *a, const char *b, std::uint16_t n);

// ---------------------------------------------------------------------------------------------
// Record lists (Fnode, Gnode, Cnode, Bnode, Lnode)
// ---------------------------------------------------------------------------------------------

// An index beside a list: address (an image, a link field) -> node, for every node in the list.
// Never destroyed, so that a library exit during the program's own end still finds it.
template <class T>
struct mdf_node_index {
    static std::unordered_map<const std::uint8_t *, T *> &map() {
        static auto &index = *new std::unordered_map<const std::uint8_t *, T *>();
        return index;
    }
    static void add(const std::uint8_t *key, T *node) { map()[key] = node; }
    static T *find(const std::uint8_t *key) {
        auto it = map().find(key);
        return it == map().end() ? nullptr : it->second;
    }
    // Removes the entry only if it still names this node.
    static void remove(const std::uint8_t *key, const T *node) {
        auto it = map().find(key);
        if (it != map().end() && it->second == node) map().erase(it);
    }
    static void clear() { map().clear(); }
};

// The one list mechanism: singly linked through `next`, records checked by magic.
template <class T, std::uint32_t Magic>
struct mdf_list {
    static void check(const T *rec, const char *module, int line) {
        if (rec == nullptr || rec->magic != Magic) mdflib_internal_error(module, line);
    }
    static void insert_front(T *&head, T *rec) {
        rec->next = head;
        head = rec;
    }
    // Lists with records at the back also keep their last record (tail; null while empty), so
    // that appending and the test of membership take constant time.
    static void insert_back(T *&head, T *&tail, T *rec) {
        rec->next = nullptr;
        if (head == nullptr) {
            head = rec;
        } else {
            T *last = tail != nullptr ? tail : head;
            while (last->next != nullptr) last = last->next;
            last->next = rec;
        }
        tail = rec;
    }
    // Unlinks rec; MDF_ERR_NODE_NOT_FOUND (not reported) when it is not in the list.
    static std::int16_t remove(T *&head, T *rec) {
        T *tail = nullptr;
        return remove(head, tail, rec);
    }
    static std::int16_t remove(T *&head, T *&tail, T *rec) {
        T *previous = nullptr;
        for (T **p = &head; *p != nullptr; previous = *p, p = &(*p)->next) {
            if (*p == rec) {
                *p = rec->next;
                if (tail == rec) tail = previous;
                rec->next = nullptr;
                return 0;
            }
        }
        return MDF_ERR_NODE_NOT_FOUND;
    }
    // Whether rec is in a list kept with its tail: a record out of every list has no next.
    static bool listed(const T *head, const T *tail, const T *rec) {
        return head != nullptr && (rec == head || rec == tail || rec->next != nullptr);
    }
    // Lists of records that also know the record before them (`previous`): appending, removing
    // and the membership test take constant time wherever the record stands.
    static void insert_back_linked(T *&head, T *&tail, T *rec) {
        rec->next = nullptr;
        rec->previous = tail;
        if (tail != nullptr)
            tail->next = rec;
        else
            head = rec;
        tail = rec;
    }
    static bool listed_linked(const T *head, const T *rec) {
        return rec == head || (rec->previous != nullptr && rec->previous->next == rec);
    }
    // Unlinks rec; MDF_ERR_NODE_NOT_FOUND (not reported) when it is not in the list.
    static std::int16_t remove_linked(T *&head, T *&tail, T *rec) {
        if (head == nullptr || !listed_linked(head, rec)) return MDF_ERR_NODE_NOT_FOUND;
        (rec->previous != nullptr ? rec->previous->next : head) = rec->next;
        (rec->next != nullptr ? rec->next->previous : tail) = rec->previous;
        rec->next = nullptr;
        rec->previous = nullptr;
        return 0;
    }
    // The first record for which pred holds, moved to the front of the list; null if none.
    template <class P>
    static T *find_to_front(T *&head, P &&pred) {
        for (T **p = &head; *p != nullptr; p = &(*p)->next) {
            T *rec = *p;
            if (pred(rec)) {
                *p = rec->next;
                rec->next = head;
                head = rec;
                return rec;
            }
        }
        return nullptr;
    }
};

// Files: insert at the front; release requires the record to be out of the list.
void mdflst_file_insert(mdf_file_rec *rec);
std::int16_t mdflst_file_remove(mdf_file_rec *rec);
void mdflst_file_release(mdf_file_rec *rec);
// Groups and channels: insert at the end; release as for files.
void mdflst_group_insert(mdf_group_rec *rec);
std::int16_t mdflst_group_remove(mdf_group_rec *rec);
void mdflst_group_release(mdf_group_rec *rec);
void mdflst_channel_insert(mdf_channel_rec *rec);
std::int16_t mdflst_channel_remove(mdf_channel_rec *rec);
void mdflst_channel_release(mdf_channel_rec *rec);
// Block and link nodes: insert at the front; release removes the node, then frees it (not the
// image). The finds by image and by field go through indexes kept beside the lists (constant
// time, the list order stays); the find by read position walks the list and moves the found
// node to the front.
void mdflst_block_insert(mdf_block_node *node);
std::int16_t mdflst_block_remove(mdf_block_node *node);
mdf_block_node *mdflst_block_find_image(const std::uint8_t *image);
mdf_block_node *mdflst_block_find_position(std::uint32_t position);
void mdflst_link_insert(mdf_link_node *node);
std::int16_t mdflst_link_remove(mdf_link_node *node);
void mdflst_link_release(mdf_link_node *node);
mdf_link_node *mdflst_link_find_field(const std::uint8_t *field);
// Code that unlinks nodes by itself (the level release, the library reset) takes them out of
// the indexes with these.
void mdflst_block_unindex(const mdf_block_node *node);
void mdflst_link_unindex(const mdf_link_node *node);
void mdflst_block_clear_index();
void mdflst_link_clear_index();

// ---------------------------------------------------------------------------------------------
// Buffered file I/O (Io)
// ---------------------------------------------------------------------------------------------

constexpr std::uint16_t MDFIO_READ = 0;       // "rb"
constexpr std::uint16_t MDFIO_UPDATE = 1;     // "rb+"
constexpr std::uint16_t MDFIO_CREATE = 2;     // "wb+", an existing file is deleted first
constexpr std::uint16_t MDFIO_STREAM = 0x100; // standard stream I/O (required)

constexpr std::int16_t MDFIO_SEEK_SET = 0; // absolute position
constexpr std::int16_t MDFIO_SEEK_CUR = 1; // relative to the current position
constexpr std::int16_t MDFIO_SEEK_END = 2; // end of the file (the offset is ignored)

// One open file.
struct mdf_io_node {
    std::int16_t handle;    // key of the node, never -1
    std::FILE *stream;      // the buffered stream
    std::uint16_t mode;     // low byte access, bit MDFIO_STREAM
    std::uint64_t position; // current position as the library knows it
    std::uint64_t size;     // file length, raised by writes and seeks beyond it
    std::uint8_t last_op;   // last stream transfer: 0 none/seek, 1 read, 2 write
    std::uint32_t writes;   // writes so far (read-ahead windows of the file are stale after one)
    mdf_io_node *next;
};

// All operations throw mdf_fail after reporting (see the codes at each).
// Opens name; *handle is -1 on failure (1000 with the name, -2002, -2007).
void mdfio_open(std::int16_t *handle, const char *name, std::uint16_t mode);
// mdfio_open with the library's default mode bits and buffer size.
void mdfio_open_default(std::int16_t *handle, const char *name, std::uint16_t access);
void mdfio_close(std::int16_t handle);
// Exactly length bytes, or -2001 / -2000 (stream and position then stand at 0).
void mdfio_read(void *buffer, std::uint16_t length, std::int16_t handle);
void mdfio_write(const void *buffer, std::uint16_t length, std::int16_t handle);
// Moves to offset (mode 0), position + offset (mode 1) or the end (mode 2); -2002 on failure.
// A seek to the current position makes no stream call.
void mdfio_seek(std::int16_t handle, std::int64_t offset, std::int16_t mode);
std::uint64_t mdfio_tell(std::int16_t handle);
// The number of writes into the file so far.
std::uint32_t mdfio_writes(std::int16_t handle);
std::uint64_t mdfio_size(std::int16_t handle);
// The node of a handle, moved to the front; a handle without node is an internal error.
mdf_io_node *mdfio_find(std::int16_t handle);
// Closes every open stream and releases the nodes (library reset).
void mdfio_close_all();
// Stream calls so far (seeks), for tests of the seek elision.
std::uint32_t mdfio_stream_seeks();

// ---------------------------------------------------------------------------------------------
// Blocks (Mdf1: reading, creating, links; Mdf3: writing)
// ---------------------------------------------------------------------------------------------

// Reads and checks the ID block (-2004 for a wrong identifier or nonzero bytes 32/33).
std::uint8_t *mdfblk_read_id(std::int16_t io);
// Reads the block at position (null for 0), registers it and its links.
std::uint8_t *mdfblk_read(std::int16_t io, std::uint32_t position);
// Reads and checks the whole block tree; with convert, REAL fields become IEEE first.
// *id and *hd are null on failure. The memory the tree takes is bounded in proportion to the
// file's size (mdfblk_tree_limit): beyond it the read ends with -2007. With an index, the CG
// and CN images are indexed in file order as they are read (see "Tree index" below).
void mdfblk_read_structure(std::int16_t io, bool convert, std::uint8_t **id, std::uint8_t **hd,
                           mdf_tree_index *index = nullptr);
// The most memory (bytes) the block tree of a file of file_size bytes may take.
std::uint64_t mdfblk_tree_limit(std::uint64_t file_size);
// A new block of the type (MDFBLK_ID for the ID block), registered with its links (values 0).
std::uint8_t *mdfblk_new(std::uint16_t type);
// A duplicate of an image with its own node (no file position) and link nodes.
std::uint8_t *mdfblk_copy(const std::uint8_t *image);
// A TX block of size length + 5 holding length bytes of text and a zero byte (-2007 when the
// block would exceed 65535 bytes).
std::uint8_t *mdfblk_new_text(std::size_t length, const char *text);
// A zero-filled CC block with room for count parameters (pairs for the table types).
std::uint8_t *mdfblk_new_conversion(std::uint16_t type, std::uint16_t count);
mdf_block_node *mdfblk_register(std::uint8_t *image, std::uint16_t length);
void mdfblk_register_links(std::uint8_t *image);
// The node of an image; none is an internal error.
mdf_block_node *mdfblk_find_node(const std::uint8_t *image);
// The length of an image's block in bytes (its node's length).
std::uint16_t mdfblk_length(const std::uint8_t *image);
// The target image of a link field, null for no block (-2009 unknown link, -2008 unknown block).
std::uint8_t *mdfblk_link_target(std::uint8_t *field);
inline std::uint8_t *mdfblk_link(std::uint8_t *image, std::uint16_t offset) {
    return mdfblk_link_target(image + offset);
}
// Makes the link field point at target (null allowed) with the link value value.
void mdfblk_set_link(std::uint8_t *field, std::uint32_t value, std::uint8_t *target);
// Writes the target's file position into the link field (-2008 if it has none).
void mdfblk_store_link(std::uint8_t *field);
// Writes the block at the current position / again at its own position.
void mdfblk_append(std::int16_t io, std::uint8_t *image);
void mdfblk_rewrite(std::int16_t io, std::uint8_t *image);
// Keeps a copy of an image / puts it back and drops it.
void mdfblk_snapshot(std::uint8_t *image);
void mdfblk_restore(std::uint8_t *image);
// The number of CG blocks along the CG chain of a DG (at most 65535); a DG of an open file is
// counted by the file's tree index without walking the chain.
std::uint16_t mdfblk_cg_count(std::uint8_t *dg);
// Formats date "DD:MM:YYYY" and time "HH:MM:SS" (11 and 9 bytes with the zero byte) of a
// broken-down time / of the local time now.
void mdfblk_format_date_time(const std::tm &when, char *date, char *time);
void mdfblk_local_date_time(char *date, char *time);

// ---------------------------------------------------------------------------------------------
// Groups (Mdfgrp1) -- internal steps used by the channels
// ---------------------------------------------------------------------------------------------

// Loads the record at the buffer's position (scan_only: only find the group's next record).
void mdfgrp_load_record(mdf_group_rec *group, bool scan_only);
// The CG of the group's DG whose record identifier is id (the group's own CG first), or null.
std::uint8_t *mdfgrp_find_cg(mdf_group_rec *group, std::uint16_t id);
// Puts a channel that has just been put at the end of the channel list at the end of its group's
// channels / takes a channel off its group's channels (before it leaves the channel list).
void mdfgrp_attach_channel(mdf_channel_rec *channel);
void mdfgrp_detach_channel(mdf_channel_rec *channel);
// Sets the counters of the group's channels (a negative value leaves that counter alone).
void mdfgrp_reset_channels(mdf_group_rec *group, std::int32_t access, std::int32_t writes);
// The record access rules run before every value read / write of a channel.
void mdfgrp_prepare_read(mdf_channel_rec *channel);
void mdfgrp_prepare_write(mdf_channel_rec *channel);
// Allocates the group's record buffer anew for the CG's current record size (zero-filled; the
// record index and position are kept). Used when a channel makes the record longer; -2007.
void mdfgrp_new_buffer(mdf_group_rec *group);

// ---------------------------------------------------------------------------------------------
// Value coding (Decode, Encode) and formulas (Mdffrm)
// ---------------------------------------------------------------------------------------------

mdf_layout mdf_layout_of(const std::uint8_t *cn, bool file_big_endian);
// True for the layouts that values are written in: the data types 0, 1, 2 and 4 of at most 32
// bits and IEEE doubles of type 3, all little-endian.
bool mdf_layout_writable(const mdf_layout &layout);

// The reading plan of a channel with the CN image cn and the CC image cc (null: none) in a file
// of the default byte order big_endian and MDF version `version`.
mdf_value_plan mdf_plan_of(const std::uint8_t *cn, const std::uint8_t *cc, bool big_endian,
                           std::uint16_t version);
// A channel's raw value / physical value in a record by its plan (plan.raw must be set; the
// field lies inside the record, which was checked when the channel was opened).
inline double mdf_plan_raw(const mdf_value_plan &plan, const std::uint8_t *record) {
    return plan.raw(record, plan);
}
inline double mdf_plan_value(const mdf_value_plan &plan, const std::uint8_t *record) {
    return plan.convert(plan, plan.raw(record, plan));
}

// The raw bits of the channel cn in the group's current record (the low 32 of a wider field).
std::uint32_t mdfdec_bits(const mdf_group_rec *group, const std::uint8_t *cn);
// The raw value by the channel's data type; the channel must be a number (internal error
// otherwise: the channel operations test that first).
double mdfdec_raw(const mdf_group_rec *group, const std::uint8_t *cn);
// The physical value: the raw value converted by cc (null: none).
double mdfdec_value(const mdf_group_rec *group, const std::uint8_t *cn, const std::uint8_t *cc);
// Stores raw bits / a raw value / a physical value into the group's current record; the
// channel's layout must be writable (the channel operations refuse the others with -1008).
void mdfenc_bits(mdf_group_rec *group, const std::uint8_t *cn, std::uint32_t value);
void mdfenc_raw(mdf_group_rec *group, const std::uint8_t *cn, double value);
std::int16_t mdfenc_value(mdf_group_rec *group, const std::uint8_t *cn, const std::uint8_t *cc,
                          double value);

// The coding behind those operations, over plain values (Decode, Encode). A field is `bits` bits
// (at most 64) from bit first_bit of data. Little-endian: bit 0 is the least significant bit of
// data[0]. Big-endian: the bytes the field covers, read as one big-endian number, shifted right
// by first_bit mod 8. Only the bytes the field covers are read or written.
std::uint64_t mdf_get_field(const std::uint8_t *data, std::uint32_t first_bit, std::uint32_t bits,
                            bool big_endian);
void mdf_put_field(std::uint8_t *data, std::uint32_t first_bit, std::uint32_t bits,
                   std::uint64_t value);
// The value of a field's bits by its layout's kind (sign extension, floats, VAX formats).
double mdf_field_value(std::uint64_t field, const mdf_layout &layout);
// The 32-bit forms of the above (little-endian, at most 32 bits; data types 0, 1, 2 and 4).
std::uint32_t mdf_get_bits(const std::uint8_t *data, std::uint32_t first_bit, std::uint32_t bits);
void mdf_put_bits(std::uint8_t *data, std::uint32_t first_bit, std::uint32_t bits,
                  std::uint32_t value);
double mdf_bits_to_raw(std::uint32_t value, std::uint32_t bits, std::uint16_t data_type);
// The bits of a raw value for data type 0, 1, 2, 3 (64 bits) or 4.
std::uint64_t mdf_raw_to_bits(double raw, std::uint32_t bits, std::uint16_t data_type);
// The mask of a field of bits bits (at most 32, so the shift never reaches 64).
inline std::uint64_t mdf_field_mask(unsigned bits) {
    return (std::uint64_t{1} << bits) - 1;
}
// Row i of a table conversion (types 1 and 2): raw value and physical value, two REALs.
constexpr std::size_t MDF_TABLE_ROW = 16;
inline double mdf_table_raw(const std::uint8_t *rows, std::uint32_t i) {
    return mdf_real(rows, MDF_TABLE_ROW * i);
}
inline double mdf_table_phys(const std::uint8_t *rows, std::uint32_t i) {
    return mdf_real(rows, MDF_TABLE_ROW * i + 8);
}
// The physical value of a raw value / the raw value of a physical value; false when the
// conversion type has no rule in that direction.
bool mdf_convert(const mdf_conversion &conv, double raw, double *physical);
bool mdf_convert_inverse(const mdf_conversion &conv, double physical, double *raw);
// The conversion of a CC image (its text left null), bounded by the block's size; version is the
// file's MDF version.
mdf_conversion mdf_conversion_of(const std::uint8_t *cc, std::uint16_t version = ID_VERSION_200);
// What the library knows of a conversion type: the one table that the block reader, the value
// plans and the writing of values ask.
struct mdf_cc_type {
    std::uint16_t type;
    bool rule;                // reading computes the value (mdf_convert); else the raw value
    bool invertible;          // writing has the inverse rule (mdf_convert_inverse)
    bool number;              // reading gives numbers (not the date and time structures)
    bool reals;               // the parameters are REAL values
    std::uint8_t fixed_reals; // REAL parameters read whatever the parameter count says
};
// The entry of type; null for an unknown type (read as the raw value, with the channel reporting
// MDF_CONVERSION_UNKNOWN, and not written).
const mdf_cc_type *mdf_cc_type_of(std::uint16_t type);
// The data of the group's current record, after checking that the group is valid and that the
// field lies inside the record; a broken layout is an internal error (channels are checked when
// they are opened).
std::uint8_t *mdf_field_record(const mdf_group_rec *group, const mdf_layout &layout);

// The formula language (mdffrm_parse, mdffrm_eval) is declared by mdffrm.h; its syntax-error code:
constexpr std::int16_t MDF_FORMULA_SYNTAX = 7;

// ---------------------------------------------------------------------------------------------
// Tree index (Mdf1): groups and channels by number in constant time
// ---------------------------------------------------------------------------------------------
//
// mdffil_open indexes the tree of a file as it reads it: every CG image with its DG in file
// order, and every CN image of each CG in chain order. Group numbers are those of a walk along
// the DG chain and each DG's CG chain, counted from 1; channel numbers are positions along the
// CG's CN chain, from 1. Use these instead of walking the chains to find a group or a channel
// by number or to count them; the answers are those of the walk. The index checks itself on
// every use against the chain ends it knew (the HD's first DG and the last DG's next link; for
// the DG asked about or holding the group asked for, its first CG and its last CG's next link;
// for a CG, its first CN and its last CN's next link) and is made again when a block was linked
// in at an end since (a created group or channel), so no caller has to keep it up to date. A
// CG that was not in the tree (a created group) is indexed on first use.

// A new, empty index / releases one (null allowed). mdffil_open and the file release use them.
mdf_tree_index *mdfblk_index_new();
void mdfblk_index_delete(mdf_tree_index *index);
// The number of channel groups of the file (at most 65535), every DG's CG chain checked.
std::uint16_t mdfblk_index_groups(mdf_file_rec *file);
// The DG and CG images of group number `number`; false (both null) for 0 or beyond the last.
bool mdfblk_index_group(mdf_file_rec *file, std::uint16_t number, std::uint8_t **dg,
                        std::uint8_t **cg);
// The number of CG blocks along the CG chain of dg, a DG of the file (at most 65535); the same
// as mdfblk_cg_count(dg) without walking the chain.
std::uint16_t mdfblk_index_cg_count(mdf_file_rec *file, std::uint8_t *dg);
// The number of CN blocks along the CN chain of cg (at most 65535).
std::uint16_t mdfblk_index_cn_count(mdf_file_rec *file, std::uint8_t *cg);
// The CN image numbered `number` along the CN chain of cg; null for 0 or beyond the last.
std::uint8_t *mdfblk_index_cn(mdf_file_rec *file, std::uint8_t *cg, std::uint16_t number);

#endif // TRAXCON_MDF_MDFINT_H
