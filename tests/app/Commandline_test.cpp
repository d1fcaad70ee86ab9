// Converter start-up end to end: the command line given to the built binary, its messages,
// usage help and exit status.
#include "Run_helper.h"
#include "traxcon_version.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const std::string HELP_DE =
    "[TRAXCON 1.NACHRICHT HELP]  \n"
    "    TRAXCON konvertiert MDF-Dateien (*.dat) in ADF-Dateien (*.adf)\n"
    "    Version " TRAXCON_VERSION " - Kontakt: das TRAXCON-Entwicklungsteam\n"
    "    Aufruf-Information - Default-Werte in [...] :\n"
    "    - Allgemeine Optionen:\n"
    "            ? : Aufruf-Information\n"
    "            /? : Aufruf-Information\n"
    "            /version : Programmversion\n"
    "            =e : setze Sprache auf ENGLISCH\n"
    "            =d : setze Sprache auf DEUTSCH\n"
    "            /digits=[7] : Signifikante Stellen jeder Spalte, 1 bis 17 "
    "(17 wird\n"
    "                          exakt zur\x81"
    "ckgelesen)\n"
    "            /noipol : Schalte lineare Interpolation ab\n"
    "            /trace=[1] : Trace nach stdout, 0:kein, 1:standard, "
    "2:komplett\n"
    "            /trig : Generiert Triggerkanal f\x81"
    "r jede Kanalgruppe, Format:\n"
    "                    __trig_<Kanalgruppennummer>\n"
    "    - Notwendige Parameter und deren Optionen:\n"
    "         1. : I/O-Dateiname ohne Erweiterung\n"
    "    - Optionale Parameter und deren Optionen:\n";

const std::string HELP_EN =
    "[TRAXCON 1.INFORMATION HELP]  \n"
    "    TRAXCON converts MDF files (*.dat) to ADF files (*.adf)\n"
    "    version " TRAXCON_VERSION " - contact: the TRAXCON development team\n"
    "    usage information - default values in [...] :\n"
    "    - general options:\n"
    "            ? : usage information\n"
    "            /? : usage information\n"
    "            /version : version of the program\n"
    "            =e : set language ENGLISH \n"
    "            =d : set language GERMAN \n"
    "            /digits=[7] : significant digits of every column, 1 to 17 "
    "(17 reads\n"
    "                          back exactly)\n"
    "            /noipol : switch off linear interpolation\n"
    "            /trace=[1] : trace to stdout, 0: none, 1:default, 2:full\n"
    "            /trig : generate trigger channel for each group, format:\n"
    "                    __trig_<groupno>\n"
    "    - required parameters and their options:\n"
    "         1. : i/o filename without extension\n"
    "    - optional parameters and their options:\n";

const std::string PARS_MISSING_DE = "[TRAXCON 1.ABBRUCH-FEHLER PARS_MISSING]  \n"
                                    "    Zu wenig Parameter: 0 \xFC"
                                    "bergeben, 1 werden ben\xF6"
                                    "tigt\n";

std::string warning_de(int n, const char *key, const std::string &argument, const char *text) {
    return "[TRAXCON " + std::to_string(n) + ".WARNUNG " + key + "]  bei Argument \"" + argument +
           "\"\n    " + text;
}

std::string warning_en(int n, const char *key, const std::string &argument, const char *text) {
    return "[TRAXCON " + std::to_string(n) + ".WARNING " + key + "]  at argument \"" + argument +
           "\"\n    " + text;
}

void expect_run(const std::vector<std::string> &args, int status, const std::string &err) {
    run_result r = run_traxcon(args);
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.status, status);
    EXPECT_EQ(r.err, err);
    EXPECT_EQ(r.out, "");
}

// A valid command line whose input file does not exist: the arguments are evaluated (their
// warnings in err), then the conversion cannot open the MDF file and ends fatally.
void expect_run_without_input(const std::vector<std::string> &args, const std::string &base,
                              const std::string &err, bool english = false) {
    run_result r = run_traxcon(args);
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.status, 1);
    const std::string dat = base + ".dat";
    // The file system tells that the file is missing: one keyed message, MDFLIB is not asked.
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, err + (english ? "[TRAXCON 1.FATAL ERROR MDFFIL_OPEN_ERR]  \n"
                                      "    MDF file \"" +
                                          dat + "\" not opened: no such file\n"
                                    : "[TRAXCON 1.ABBRUCH-FEHLER MDFFIL_OPEN_ERR]  \n"
                                      "    MDF-Datei \"" +
                                          dat +
                                          "\" nicht ge\x94"
                                          "ffnet: Datei nicht vorhanden\n"));
}

// --- the command line, end to end -----------------------------------------------------------

TEST(StartEndToEnd, NoArgumentsEndsWithTheMissingParameterInGerman) {
    expect_run({}, 1, PARS_MISSING_DE);
    expect_run({"/trace=2", "/trig"}, 1, PARS_MISSING_DE);
    expect_run({"=e"}, 1,
               "[TRAXCON 1.FATAL ERROR PARS_MISSING]  \n"
               "    too less parameters: 0 given, 1 needed\n");
}

// The usage help is the program's output: standard output; messages before it stay on
// standard error.
void expect_help(const std::vector<std::string> &args, const std::string &err,
                 const std::string &help) {
    run_result r = run_traxcon(args);
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, err);
    EXPECT_EQ(r.out, help);
}

TEST(StartEndToEnd, UsageHelpInBothLanguages) {
    for (const char *help : {"?", "/?", "-h", "--help", "-?"}) expect_help({help}, "", HELP_DE);
    expect_help({"=e", "/?"}, "", HELP_EN);
    expect_help({"meas", "=E", "?"}, "", HELP_EN);
    expect_help({"=e", "--help"}, "", HELP_EN);
    // The help ends the program: later arguments are not looked at.
    expect_help({"?", "=e", "/zz"}, "", HELP_DE);
    // Arguments before it are: the warning counts, the help header has its own counter.
    expect_help({"/zz", "/?"},
                warning_de(1, "OPT_NOTSUPP", "/zz",
                           "Option wird nicht unterst\xFC"
                           "tzt - wird ignoriert\n"),
                HELP_DE);
}

TEST(StartEndToEnd, ValidCommandLinesRunQuietly) {
    expect_run_without_input({"meas"}, "meas", "");
    expect_run_without_input({"/tra=2", "meas", "/trig", "/n"}, "meas", "");
    expect_run_without_input({"=e", "meas", "=d", "/trace=0"}, "meas", "");
    expect_run_without_input({"meas", "=e"}, "meas", "", true);
}

TEST(StartEndToEnd, OptionWarnings) {
    expect_run_without_input({"/tr=2", "meas"}, "meas",
                             warning_de(1, "OPT_NOTUNIQUE", "/tr=2",
                                        "Abk\xFC"
                                        "rzung der Option nicht eindeutig - wird ignoriert\n"));
    const char *ignored = "Werte f\xFC"
                          "r Option sind unzul\xE4"
                          "ssig - Wert wird ignoriert\n";
    expect_run_without_input({"meas", "/trig=0", "/noipol=1"}, "meas",
                             warning_de(1, "OPT_VALIGNORE", "/trig=0", ignored) +
                                 warning_de(2, "OPT_VALIGNORE", "/noipol=1", ignored));
    expect_run_without_input({"/trace=99999999999", "meas"}, "meas",
                             warning_de(1, "ARG_CONV", "/trace=99999999999",
                                        "Argument konnte nicht konvertiert werden\n"));
    expect_run_without_input({"meas", "other"}, "meas",
                             warning_de(1, "PAR_NOTSUPP", "other",
                                        "2. Parameter nicht zul\xE4"
                                        "ssig - wird ignoriert\n"));
}

TEST(StartEndToEnd, WarningsFollowTheLanguageInForceAtTheirArgument) {
    expect_run_without_input(
        {"/zz", "=e", "/yy", "meas"}, "meas",
        warning_de(1, "OPT_NOTSUPP", "/zz",
                   "Option wird nicht unterst\xFC"
                   "tzt - wird ignoriert\n") +
            warning_en(2, "OPT_NOTSUPP", "/yy", "option not supported - ignored\n"),
        true);
    // An unknown language letter is reported in the language before it, then selects English.
    expect_run_without_input(
        {"=x", "meas", "/zz"}, "meas",
        warning_de(1, "LANG_NOTSUPP", "=x",
                   "Sprache wird von argv-Utility nicht unterst\xFC"
                   "tzt - Default-Sprache wird\n    eingestellt\n") +
            warning_en(2, "OPT_NOTSUPP", "/zz", "option not supported - ignored\n"),
        true);
}

TEST(StartEndToEnd, LongArgumentIsReportedWithAShortenedLocation) {
    const std::string option = "/" + std::string(10000, 'a');
    run_result r = run_traxcon({option, "meas"});
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.status, 1); // no meas.dat: the conversion ends fatally after the warning
    const std::string header = "[TRAXCON 1.WARNUNG OPT_NOTSUPP]  ";
    ASSERT_EQ(r.err.compare(0, header.size(), header), 0) << r.err.substr(0, 100);
    const std::string location = r.err.substr(header.size(), r.err.find('\n') - header.size());
    EXPECT_EQ(location, ("bei Argument \"" + option).substr(0, 511));
    EXPECT_EQ(r.err.substr(r.err.find('\n')), "\n    Option wird nicht unterst\xFC"
                                              "tzt - wird ignoriert\n"
                                              "[TRAXCON 1.ABBRUCH-FEHLER MDFFIL_OPEN_ERR]  \n"
                                              "    MDF-Datei \"meas.dat\" nicht ge\x94"
                                              "ffnet: Datei nicht vorhanden\n");
}

// The text of a message body with its layout (line breaks, indents, blanks) taken out.
std::string without_layout(std::string text) {
    text.erase(
        std::remove_if(text.begin(), text.end(), [](char c) { return c == ' ' || c == '\n'; }),
        text.end());
    return text;
}

TEST(StartEndToEnd, BaseNameTooLongForTheNameBuffersIsFatal) {
    for (std::size_t length : {508u, 600u}) {
        const std::string base(length, 'n');
        run_result r = run_traxcon({base});
        EXPECT_TRUE(r.exited);
        EXPECT_EQ(r.status, 1);
        const std::string header = "[TRAXCON 1.ABBRUCH-FEHLER TRAXCON_NAMELEN_ERR]  \n";
        ASSERT_EQ(r.err.compare(0, header.size(), header), 0) << r.err.substr(0, 100);
        const std::string body = r.err.substr(header.size());
        EXPECT_TRUE(without_layout(body) == without_layout("Dateiname \"" + base +
                                                           "\" zu lang, maximal 507 Zeichen m\x94"
                                                           "glich"))
            << body;
        EXPECT_EQ(body.back(), '\n');
    }
    { // the longest accepted name reaches the conversion, which finds no input
        run_result r = run_traxcon({std::string(507, 'n')});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err.rfind("[TRAXCON 1.ABBRUCH-FEHLER MDFFIL_OPEN_ERR]  \n", 0), 0u) << r.err;
    }

    const std::string base(600, 'n');
    run_result r = run_traxcon({"=e", base});
    EXPECT_EQ(r.status, 1);
    const std::string header = "[TRAXCON 1.FATAL ERROR TRAXCON_NAMELEN_ERR]  \n";
    ASSERT_EQ(r.err.compare(0, header.size(), header), 0) << r.err.substr(0, 100);
    EXPECT_TRUE(without_layout(r.err.substr(header.size())) ==
                without_layout("file name \"" + base + "\" too long, maximum is 507 characters"))
        << r.err;

    // A name longer than the message buffers: the message is shortened, the exit is the same.
    r = run_traxcon({std::string(10000, 'n')});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.compare(0, 48, "[TRAXCON 1.ABBRUCH-FEHLER TRAXCON_NAMELEN_ERR]  "), 0);
    EXPECT_LT(r.err.size(), 10000u);
}

} // namespace
