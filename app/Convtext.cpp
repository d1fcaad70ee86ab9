// The converter's texts in English and German and their lookup.
//
// German texts are stored in the console code page 850 (a-umlaut 0x84, o-umlaut 0x94, u-umlaut
// 0x81), so that they print correctly in a console window. Each escape is closed by the end of
// its string piece, so a following letter is never read as a further hex digit.
#include "conv.h"

#include "Msg.h"
#include "mdflib.h"
#include "traxcon_version.h"

#include <cstdarg>
#include <cstdio>
#include <iterator>

namespace {

// Rows in the order they are compiled in; columns: key, English, German.
lng_row conv_rows[] = {
    {"TRAXCON_MODNAM", {"TRAXCON", "TRAXCON"}},
    {"TRAXCON_DESCR",
     {"TRAXCON converts MDF files (*.dat) to ADF files (*.adf)\n"
      "version " TRAXCON_VERSION " - contact: the TRAXCON development team\n",
      "TRAXCON konvertiert MDF-Dateien (*.dat) in ADF-Dateien (*.adf)\n"
      "Version " TRAXCON_VERSION " - Kontakt: das TRAXCON-Entwicklungsteam\n"}},
    {"TRAXCON_FILHLP", {"i/o filename without extension", "I/O-Dateiname ohne Erweiterung"}},
    {"MDFLIB_OPEN_ERR",
     {"MDF library not opened\n", "MDF-B\x81"
                                  "cherei nicht ge\x94"
                                  "ffnet\n"}},
    {"MDFLIB_CLOSE_ERR",
     {"MDF library not closed\n", "MDF-B\x81"
                                  "cherei nicht geschlossen\n"}},
    {"MDFFIL_UNSORTED",
     {"MDF file \"%s\" not sorted - sorted now into \"%s\"\n",
      "MDF-Datei \"%s\" nicht sortiert - wird nun sortiert nach \"%s\"\n"}},
    {"MDFFIL_OPEN_ERR",
     {"MDF file \"%s\" not opened: %s\n", "MDF-Datei \"%s\" nicht ge\x94"
                                          "ffnet: %s\n"}},
    {"MDFFIL_NOFILE_TXT", {"no such file", "Datei nicht vorhanden"}},
    {"MDFFIL_ISDIR_TXT", {"is a directory", "ist ein Verzeichnis"}},
    {"MDFFIL_EMPTY_TXT", {"empty file", "leere Datei"}},
    {"MDFFIL_NOACCESS_TXT", {"permission denied", "keine Leseberechtigung"}},
    {"MDFFIL_NOTMDF_TXT", {"not an MDF file", "keine MDF-Datei"}},
    {"MDFFIL_DAMAGED_TXT", {"MDFLIB says: %s", "MDFLIB meldet: %s"}},
    {"MDFFIL_CLOSE_ERR", {"MDF file \"%s\" not closed\n", "MDF-Datei \"%s\" nicht geschlossen\n"}},
    {"ADFFIL_OPEN_ERR",
     {"ADF file \"%s\" not opened\n", "ADF-Datei \"%s\" nicht ge\x94"
                                      "ffnet\n"}},
    {"ADFFIL_CLOSE_ERR", {"ADF file \"%s\" not closed\n", "ADF-Datei \"%s\" nicht geschlossen\n"}},
    {"MDFFIL_INFO_ERR",
     {"MDF file information not read\n", "MDF-Datei-Information nicht eingelesen\n"}},
    {"ADFFIL_COMMENT_ERR",
     {"ADF file comment not written\n", "ADF-Datei-Kommentar nicht geschrieben\n"}},
    {"SPACE_ERR",
     {"not enough space available\n", "Nicht gen\x81"
                                      "gend Speicherplatz verf\x81"
                                      "gbar\n"}},
    {"MDFGRP_OPEN_ERR",
     {"group %hd not opened\n", "Gruppe %hd nicht ge\x94"
                                "ffnet\n"}},
    {"MDFGRP_CLOSE_ERR", {"group not closed\n", "Gruppe nicht geschlossen\n"}},
    {"MDFGRP_TIMECLOSE_ERR",
     {"time channel of group not closed\n", "Zeitkanal der Gruppe nicht geschlossen\n"}},
    {"MDFCHN_CLOSE_ERR", {"value channel not closed\n", "Wertekanal nicht geschlossen\n"}},
    {"MDFGRP_CHN_ERR",
     {"number of channels of group %hd not read\n", "Anzahl der Kan\x84"
                                                    "le der Gruppe %hd nicht eingelesen\n"}},
    {"MDFCHN_OPEN_ERR",
     {"channel %hd of group %hd not opened\n", "Kanal %hd der Gruppe %hd nicht ge\x94"
                                               "ffnet\n"}},
    {"MDFCHN_INFO_ERR",
     {"information of channel %hd of group %hd not read\n",
      "Information zum Kanal %hd der Gruppe %hd nicht eingelesen\n"}},
    {"MDFCHN_TYPE_ERR",
     {"invalid type %hd of channel %hd of group %hd\n",
      "Unzul\x84"
      "ssiger Typ %hd des Kanals %hd der Gruppe %hd\n"}},
    {"MDFCHN_DUPNAME",
     {"channel name \"%s\" of group %d exists -\nchanged to \"%s\"\n",
      "Kanalname \"%s\" der Gruppe %d existiert bereits -\nwird ge\x84"
      "ndert zu \"%s\"\n"}},
    {"MDFGRP_DUPCHAN",
     {"channel name \"%s\" multiply used in group %d -\nchanged to \"%s\"\n",
      "Kanalname \"%s\" mehrfach verwendet in Gruppe %d -\nwird ge\x84"
      "ndert zu \"%s\"\n"}},
    {"ADF_HEADINIT_ERR",
     {"header of adf file not initialized\n", "Kopf der ADF-Datei nicht initialisiert\n"}},
    {"MDFLIB_INTERR",
     {"mdflib internal error: inconsistent record\n",
      "Interner Fehler der MDFLIB: inkonsistenter Record\n"}},
    {"MDFGRP_RECERR",
     {"group includes less than %d records - conversion senseless\n",
      "Gruppe beinhaltet weniger als %d Records - Konvertierung sinnlos\n"}},
    {"TRAXCON_TRACEHLP",
     {"trace to stdout, 0: none, 1:default, 2:full",
      "Trace nach stdout, 0:kein, 1:standard, 2:komplett"}},
    {"TRAXCON_TRIGHLP",
     {"generate trigger channel for each group, format: __trig_<groupno>",
      "Generiert Triggerkanal f\x81"
      "r jede Kanalgruppe, Format: __trig_<Kanalgruppennummer>"}},
    {"TRAXCON_NOIPOLHLP", {"switch off linear interpolation", "Schalte lineare Interpolation ab"}},
    {"TRAXCON_DIGITSHLP",
     {"significant digits of every column, 1 to 17 (17 reads back exactly)",
      "Signifikante Stellen jeder Spalte, 1 bis 17 (17 wird exakt zur\x81"
      "ckgelesen)"}},
    {"MDFGRP_TIMEEQUAL_WARN",
     {"group %d has equal consecutive time stamps (first at %s)\n",
      "Gruppe %d hat gleiche aufeinanderfolgende Zeitstempel (erstmals bei %s)\n"}},
    {"ADF_TIMEDIGITS_WARN",
     {"lines at %s and later print the same time - more digits show them apart (/digits=)\n",
      "Zeilen bei %s und sp\x84"
      "ter zeigen dieselbe Zeit - mehr Stellen unterscheiden sie (/digits=)\n"}},
    {"TRACE_CHNGRP",
     {"total of %hu value channels found in %hu groups:\n", "Insgesamt %hu Werte-Kan\x84"
                                                            "le in %hu Gruppen gefunden:\n"}},
    {"TRACE_GEN",
     {"generated trigger channels:\n", "Generierte Triggerkan\x84"
                                       "le:\n"}},
    {"TRACE_TRIG",
     {"    __trig_%hu - for group %hu\n", "    __trig_%hu - f\x81"
                                          "r Kanalgruppe %hu\n"}},
    {"TRACE_GRPNO", {"group %hu:\n", "Kanalgruppe %hu:\n"}},
    {"TRACE_CHNNAM", {"    %-*s (%hu bits)\n", "    %-*s (%hu Bits)\n"}},
    {"TRACE_HEADFIN",
     {"header initialisation finished\n", "Initialisierung des Headers beendet\n"}},
    {"TRACE_ALLLIN", {"\n%ld value lines written\n", "\n%ld Werte-Zeilen geschrieben\n"}},
    {"BITVALERR",
     {"improper value of bit channel %s - check formula!\n", "Unzul\x84"
                                                             "ssiger Wert f\x81"
                                                             "r Bit-Kanal %s - Formel pr\x81"
                                                             "fen!\n"}},
    // The two rows below complete the table: the conversion driver reports a failed group count
    // with MDFFIL_GROUPS_ERR, and start-up rejects a base name that does not fit the name buffers.
    {"MDFFIL_GROUPS_ERR",
     {"number of groups of MDF file not read\n",
      "Anzahl der Gruppen der MDF-Datei nicht eingelesen\n"}},
    // Reading MDF 3.x: files that cannot be converted, channels and time channels that are no
    // numbers, and conversions that do not give the physical value. The *_TXT rows are reasons
    // put into those messages.
    {"MDFFIL_VERSION_ERR",
     {"MDF file \"%s\" cannot be converted: %s\n",
      "MDF-Datei \"%s\" kann nicht konvertiert werden: %s\n"}},
    {"MDFFIL_UNFIN_TXT",
     {"unfinalised MDF file (the recording was not completed)",
      "nicht abgeschlossene MDF-Datei (die Aufzeichnung wurde nicht beendet)"}},
    {"MDFFIL_V4_TXT",
     {"MDF version 4.xx (or later) not supported", "MDF-Version 4.xx (oder h\x94"
                                                   "her) wird nicht unterst\x81"
                                                   "tzt"}},
    {"MDFCHN_NOTNUM_ERR",
     {"channel %d \"%s\" of group %d left out: %s gives no number\n",
      "Kanal %d \"%s\" der Gruppe %d ausgelassen: %s ergibt keine Zahl\n"}},
    {"MDFGRP_TIMENUM_ERR",
     {"time channel %d \"%s\" of group %d: %s gives no number - group not used\n",
      "Zeitkanal %d \"%s\" der Gruppe %d: %s ergibt keine Zahl - Gruppe nicht verwendet\n"}},
    {"MDFCHN_DTYPE_TXT", {"data type %u with %u bits", "Datentyp %u mit %u Bits"}},
    {"MDFCHN_CTYPE_TXT",
     {"conversion type %u (date or time)", "Umrechnungstyp %u (Datum oder Uhrzeit)"}},
    {"MDFCHN_FORMULA_WARN",
     {"formula of channel %d \"%s\" of group %d cannot be evaluated - its values read as 0\n",
      "Formel des Kanals %d \"%s\" der Gruppe %d nicht auswertbar - Werte werden als 0 "
      "gelesen\n"}},
    {"MDFCHN_CONVTYPE_WARN",
     {"unknown conversion type %u of channel %d \"%s\" of group %d - raw values written\n",
      "Unbekannter Umrechnungstyp %u des Kanals %d \"%s\" der Gruppe %d - Rohwerte werden "
      "geschrieben\n"}},
    {"TRAXCON_NAMELEN_ERR",
     {"file name \"%s\" too long, maximum is %d characters\n",
      "Dateiname \"%s\" zu lang, maximal %d Zeichen m\x94"
      "glich\n"}},
};

} // namespace

// The converter's map lists English first (column = language code); it starts in German.
lng_module conv_texts = {conv_rows, std::size(conv_rows), 1, {LNG_ENGLISH, LNG_GERMAN}, 1,
                         LNG_CP850};

const char *conv_text(const char *key) {
    if (key == nullptr) return "";
    return lng__module_text(&conv_texts, key);
}

void conv_message(int type, const char *key, ...) {
    MSG_ASSERT(type >= MSG_LOG && type < MSG_FATERR); // fatal messages go through conv_fatal
    va_list args;
    va_start(args, key);
    msg_print_v(type, "", key, conv_text(key), args);
    va_end(args);
}

void conv_fatal(const char *key, ...) {
    // The full trace shows where MDFLIB found the damage behind a fatal message.
    if (conv.trace_level == 2 && mdflib_last_error_origin()[0] != '\0') {
        std::printf("MDFLIB: damage found at %s\n", mdflib_last_error_origin());
        std::fflush(stdout);
    }
    // Formatted here (no allocation on the way out); the message output holds no more anyway.
    char text[MSG_BUFFER_SIZE];
    va_list args;
    va_start(args, key);
    std::vsnprintf(text, sizeof text, conv_text(key), args);
    va_end(args);
    msg_faterr("", key, "%s", text);
}
