// The converter's shared internal header: its settings and file names, its texts and the keys of
// its messages, and the steps main runs in order.
#ifndef TRAXCON_APP_CONV_H
#define TRAXCON_APP_CONV_H

#include "Lng.h"

#include <cstddef>

// Size of each derived file name buffer, zero byte included.
constexpr std::size_t CONV_NAME_SIZE = 512;
// The extensions of the derived names; all three have the same length.
constexpr const char CONV_DAT_EXT[] = ".dat";
constexpr const char CONV_ADF_EXT[] = ".adf";
constexpr const char CONV_TMP_EXT[] = ".tmp";
// Longest base name that fits the buffers with an extension and the zero byte.
constexpr std::size_t CONV_BASE_NAME_MAX = CONV_NAME_SIZE - sizeof(CONV_DAT_EXT);

// The command-line settings (filled by the argument utility's savers: defaults at argv_init,
// given values at argv_eval) and the file names derived from them. Fixed once start-up is done.
struct conv_state {
    char *file_base_name;          // file name without extension; owned by the argument utility
    int trace_level;               // 0 none, 1 standard, 2 full (stdout); other values act as 0
    int trigger_flag;              // nonzero: one trigger column per group
    int interpolation_flag;        // nonzero: linear interpolation; 0: hold the earlier sample
    int digits;                    // significant digits of every column, 1 to 17 (default 7)
    char dat_name[CONV_NAME_SIZE]; // base + ".dat"; the MDF input (tmp_name once sorted)
    char adf_name[CONV_NAME_SIZE]; // base + ".adf"; the ADF output
    char tmp_name[CONV_NAME_SIZE]; // base + ".tmp"; the sorted copy of an unsorted input
};

extern conv_state conv;

// The converter's text table: key, English, German (German in code page 850). Sorted at the
// first lookup; its column is the converter's language code (0 English, 1 German).
extern lng_module conv_texts;

// The text of `key` in the converter's current language; the empty text for an empty key. The
// result points into the table and stays valid for the whole run. A key that is not in the table
// stops the program by assertion.
const char *conv_text(const char *key);

// Keyed messages of the converter: empty location, the key, conv_text(key) as the format.
// `type` is MSG_LOG .. MSG_ERR; conv_fatal ends the program with exit status 1.
void conv_message(int type, const char *key, ...);
[[noreturn]] void conv_fatal(const char *key, ...);

// The language callback handed to the argument utility: switches the converter's texts, the
// module name, the message output and the argument utility to language `code` (0 English,
// 1 German; any other code selects English for the converter's texts).
void conv_set_language(int code);

// Start-up: German texts, the message output's module name, the argument table, the evaluation
// of the command line (the help, and the version line "traxcon <version>" of --version and
// /version, end the program with status 0, a missing file name with status 1), and the
// derivation of dat_name, adf_name and tmp_name.
void conv_start(int argc, const char *const *argv);

// Builds dat_name, adf_name and tmp_name from file_base_name. A base name too long for the
// buffers ends the program with the fatal message TRAXCON_NAMELEN_ERR; a name is never cut.
void conv_derive_names(void);

// The conversion (driver, ADF header, time merge, closing sequence), run by main between
// conv_start and conv_finish; 0 when it ran to its end. Defined by the conversion module.
int conv_run(void);

// The end of the program: releases the message output's buffers and what the argument utility
// kept (file_base_name is null afterwards).
void conv_finish(void);

// Message keys of the converter's text table.
namespace conv_key {
inline constexpr const char TRAXCON_MODNAM[] = "TRAXCON_MODNAM";
inline constexpr const char TRAXCON_DESCR[] = "TRAXCON_DESCR";
inline constexpr const char TRAXCON_FILHLP[] = "TRAXCON_FILHLP";
inline constexpr const char TRAXCON_TRACEHLP[] = "TRAXCON_TRACEHLP";
inline constexpr const char TRAXCON_TRIGHLP[] = "TRAXCON_TRIGHLP";
inline constexpr const char TRAXCON_NOIPOLHLP[] = "TRAXCON_NOIPOLHLP";
inline constexpr const char TRAXCON_DIGITSHLP[] = "TRAXCON_DIGITSHLP";
inline constexpr const char MDFGRP_TIMEEQUAL_WARN[] = "MDFGRP_TIMEEQUAL_WARN";
inline constexpr const char ADF_TIMEDIGITS_WARN[] = "ADF_TIMEDIGITS_WARN";
inline constexpr const char TRAXCON_NAMELEN_ERR[] = "TRAXCON_NAMELEN_ERR";
inline constexpr const char MDFLIB_OPEN_ERR[] = "MDFLIB_OPEN_ERR";
inline constexpr const char MDFLIB_CLOSE_ERR[] = "MDFLIB_CLOSE_ERR";
inline constexpr const char MDFFIL_UNSORTED[] = "MDFFIL_UNSORTED";
inline constexpr const char MDFFIL_OPEN_ERR[] = "MDFFIL_OPEN_ERR";
inline constexpr const char MDFFIL_NOFILE_TXT[] = "MDFFIL_NOFILE_TXT";
inline constexpr const char MDFFIL_ISDIR_TXT[] = "MDFFIL_ISDIR_TXT";
inline constexpr const char MDFFIL_EMPTY_TXT[] = "MDFFIL_EMPTY_TXT";
inline constexpr const char MDFFIL_NOACCESS_TXT[] = "MDFFIL_NOACCESS_TXT";
inline constexpr const char MDFFIL_NOTMDF_TXT[] = "MDFFIL_NOTMDF_TXT";
inline constexpr const char MDFFIL_DAMAGED_TXT[] = "MDFFIL_DAMAGED_TXT";
inline constexpr const char MDFFIL_CLOSE_ERR[] = "MDFFIL_CLOSE_ERR";
inline constexpr const char MDFFIL_GROUPS_ERR[] = "MDFFIL_GROUPS_ERR";
inline constexpr const char ADFFIL_OPEN_ERR[] = "ADFFIL_OPEN_ERR";
inline constexpr const char ADFFIL_CLOSE_ERR[] = "ADFFIL_CLOSE_ERR";
inline constexpr const char MDFFIL_INFO_ERR[] = "MDFFIL_INFO_ERR";
inline constexpr const char ADFFIL_COMMENT_ERR[] = "ADFFIL_COMMENT_ERR";
inline constexpr const char SPACE_ERR[] = "SPACE_ERR";
inline constexpr const char MDFGRP_OPEN_ERR[] = "MDFGRP_OPEN_ERR";
inline constexpr const char MDFGRP_CLOSE_ERR[] = "MDFGRP_CLOSE_ERR";
inline constexpr const char MDFGRP_TIMECLOSE_ERR[] = "MDFGRP_TIMECLOSE_ERR";
inline constexpr const char MDFCHN_CLOSE_ERR[] = "MDFCHN_CLOSE_ERR";
inline constexpr const char MDFGRP_CHN_ERR[] = "MDFGRP_CHN_ERR";
inline constexpr const char MDFCHN_OPEN_ERR[] = "MDFCHN_OPEN_ERR";
inline constexpr const char MDFCHN_INFO_ERR[] = "MDFCHN_INFO_ERR";
inline constexpr const char MDFCHN_TYPE_ERR[] = "MDFCHN_TYPE_ERR";
inline constexpr const char MDFCHN_DUPNAME[] = "MDFCHN_DUPNAME";
inline constexpr const char MDFGRP_DUPCHAN[] = "MDFGRP_DUPCHAN";
inline constexpr const char ADF_HEADINIT_ERR[] = "ADF_HEADINIT_ERR";
inline constexpr const char MDFLIB_INTERR[] = "MDFLIB_INTERR";
inline constexpr const char MDFGRP_RECERR[] = "MDFGRP_RECERR";
inline constexpr const char TRACE_CHNGRP[] = "TRACE_CHNGRP";
inline constexpr const char TRACE_GEN[] = "TRACE_GEN";
inline constexpr const char TRACE_TRIG[] = "TRACE_TRIG";
inline constexpr const char TRACE_GRPNO[] = "TRACE_GRPNO";
inline constexpr const char TRACE_CHNNAM[] = "TRACE_CHNNAM";
inline constexpr const char TRACE_HEADFIN[] = "TRACE_HEADFIN";
inline constexpr const char TRACE_ALLLIN[] = "TRACE_ALLLIN";
inline constexpr const char BITVALERR[] = "BITVALERR";
inline constexpr const char MDFFIL_VERSION_ERR[] = "MDFFIL_VERSION_ERR";
inline constexpr const char MDFFIL_UNFIN_TXT[] = "MDFFIL_UNFIN_TXT";
inline constexpr const char MDFFIL_V4_TXT[] = "MDFFIL_V4_TXT";
inline constexpr const char MDFCHN_NOTNUM_ERR[] = "MDFCHN_NOTNUM_ERR";
inline constexpr const char MDFGRP_TIMENUM_ERR[] = "MDFGRP_TIMENUM_ERR";
inline constexpr const char MDFCHN_DTYPE_TXT[] = "MDFCHN_DTYPE_TXT";
inline constexpr const char MDFCHN_CTYPE_TXT[] = "MDFCHN_CTYPE_TXT";
inline constexpr const char MDFCHN_FORMULA_WARN[] = "MDFCHN_FORMULA_WARN";
inline constexpr const char MDFCHN_CONVTYPE_WARN[] = "MDFCHN_CONVTYPE_WARN";
} // namespace conv_key

#endif
