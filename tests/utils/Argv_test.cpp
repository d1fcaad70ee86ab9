// Argument utility: table checks, option lookup, evaluation, usage help and value savers.
#include "Argv.h"
#include "Msg.h"
#include "Platform_helper.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// How a child process ends after a failed assertion (std::abort): by SIGABRT on POSIX systems;
// on Windows abort() ends the process with exit status 3.
#ifdef _WIN32
const ::testing::ExitedWithCode aborted(3);
#else
const ::testing::KilledBySignal aborted(SIGABRT);
#endif

// Captures the message output in a temporary file; English texts, module name "T", counters 0.
class ArgvTest : public ::testing::Test {
  protected:
    void SetUp() override {
        stream_ = std::tmpfile();
        ASSERT_NE(stream_, nullptr);
        msg_set_stream(stream_);
        msg_init_module("T");
        msg_set_language(0);
        argv_set_language(0);
        msg_reset_counters();
    }
    void TearDown() override {
        argv_free();
        msg_set_stream(nullptr);
        std::fclose(stream_);
    }

    std::string output() {
        std::fflush(stream_);
        std::fseek(stream_, 0, SEEK_SET);
        std::string text;
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, stream_)) > 0) text.append(buffer, n);
        std::fseek(stream_, 0, SEEK_END);
        return text;
    }

    // Evaluates the arguments after a program name.
    static void eval(std::vector<const char *> args) {
        args.insert(args.begin(), "prog");
        argv_eval(static_cast<int>(args.size()), args.data());
    }

    // The usual table: a required file name and the general options trace (value option),
    // trig and noipol (switches), in an order the utility has to sort.
    void init_converter_like(argv_language_callback callback = nullptr,
                             argv_text_function text = nullptr) {
        table_ = {
            {"trig", 0, "1", "0", "trigger help", argv_save_int, &trig_},
            {"", 1, nullptr, nullptr, "file help", argv_save_string, &file_},
            {"noipol", 0, "0", "1", "noipol help", argv_save_int, &ipol_},
            {"trace", 0, nullptr, "1", "trace help", argv_save_int, &trace_},
        };
        argv_init(table_.data(), static_cast<unsigned>(table_.size()), callback, text,
                  "a program\n");
    }

    std::FILE *stream_ = nullptr;
    std::vector<argv_entry> table_;
    char *file_ = nullptr;
    int trace_ = -1, trig_ = -1, ipol_ = -1;
};

const char *const WARN_NOTUNIQUE = "abbreviation of option not unique - ignored\n";
const char *const WARN_NOTSUPP = "option not supported - ignored\n";

std::string warning(int n, const char *key, const std::string &argument, const char *text) {
    return "[T " + std::to_string(n) + ".WARNING " + key + "]  at argument \"" + argument +
           "\"\n    " + text;
}

// --- argv_init: defaults and table checks ---------------------------------------------------

TEST_F(ArgvTest, InitStoresDefaultsAfterCheckingSwitchValues) {
    init_converter_like();
    EXPECT_EQ(trace_, 1);
    EXPECT_EQ(trig_, 0); // the switch value 1 was converted first, then the default
    EXPECT_EQ(ipol_, 1);
    EXPECT_EQ(file_, nullptr);
    EXPECT_EQ(output(), "");
    // The table is sorted by name: the parameter first.
    EXPECT_STREQ(table_[0].name, "");
    EXPECT_STREQ(table_[1].name, "noipol");
    EXPECT_STREQ(table_[3].name, "trig");
}

TEST_F(ArgvTest, OptionWithoutDefaultIsAcceptedWhenItsVariableHasOne) {
    int flag = -1;
    table_ = {
        {"on", 0, "1", "0", nullptr, argv_save_int, &flag},
        {"off", 0, "0", nullptr, nullptr, argv_save_int, &flag},
    };
    argv_init(table_.data(), 2, nullptr, nullptr, "");
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(output(), "");
    eval({"/off"});
    EXPECT_EQ(flag, 0);
    eval({"/on"});
    EXPECT_EQ(flag, 1);
}

TEST_F(ArgvTest, NullTableOrZeroCountStoresOnlyTheCallbacks) {
    argv_init(nullptr, 5, nullptr, nullptr, "d");
    eval({});
    EXPECT_EQ(argv_is_given("", 1), -1);
    int x = 0;
    argv_entry one[] = {{"", 1, nullptr, nullptr, nullptr, argv_save_int, &x}};
    argv_init(one, 0, nullptr, nullptr, "d");
    eval({"7"}); // no parameters at all: the argument is surplus
    EXPECT_EQ(x, 0);
    EXPECT_EQ(output(), "[T 1.WARNING PAR_NOTSUPP]  at argument \"7\"\n"
                        "    1. parameter not supported - ignored\n");
}

// Runs argv_init on `table` in a child process that must stop by the failed assertion after
// reporting `expected` (a regular expression over standard error).
void expect_table_error(std::vector<argv_entry> table, const std::string &expected) {
    EXPECT_EXIT(
        {
            msg_set_stream(nullptr);
            argv_init(table.data(), static_cast<unsigned>(table.size()), nullptr, nullptr, "");
        },
        aborted, stderr_regex(expected + ".*Assertion failed: error == 0"));
}

TEST_F(ArgvTest, ParameterNumberingErrors) {
    int a = 0, b = 0;
    expect_table_error({{"", 1, nullptr, nullptr, nullptr, argv_save_int, &a},
                        {"", 4, nullptr, nullptr, nullptr, argv_save_int, &b}},
                       "\\[T 1\\.ERROR PARS_NOTDEF\\]  argv_init\\(\\)\n"
                       "    2\\. to 3\\. parameters not defined\n");
    expect_table_error({{"", 3, nullptr, nullptr, nullptr, argv_save_int, &a},
                        {"", 1, nullptr, nullptr, nullptr, argv_save_int, &b}},
                       "PAR_NOTDEF.*    2\\. parameter not defined\n");
    expect_table_error({{"", 1, nullptr, nullptr, nullptr, argv_save_int, &a},
                        {"", 1, nullptr, nullptr, nullptr, argv_save_int, &b}},
                       "PAR_MULDEF.*    1\\. parameter multiply defined\n");
    expect_table_error({{"", 2, nullptr, nullptr, nullptr, argv_save_int, &a},
                        {"", 5, nullptr, nullptr, nullptr, argv_save_int, &b}},
                       "1\\.ERROR PAR_NOTDEF.*    1\\. parameter not defined\n"
                       ".*2\\.ERROR PARS_NOTDEF.*    3\\. to 4\\. parameters not defined\n");
}

TEST_F(ArgvTest, ParameterAndOptionDeclarationErrors) {
    int a = 0, b = 0, c = 0;
    expect_table_error({{"", 1, "1", nullptr, nullptr, argv_save_int, &a}},
                       "VAL_NOTVALID.*value for 1\\. parameter specified - only permitted for "
                       "options\n");
    expect_table_error({{"", 1, nullptr, "5", nullptr, argv_save_int, &a},
                        {"", 2, nullptr, nullptr, nullptr, argv_save_int, &b}},
                       "PAR_REQINVAL.*2\\. parameter required, previous one\\(s\\) not\n");
    expect_table_error({{"opt", 0, nullptr, nullptr, nullptr, argv_save_int, &a}},
                       "OPT_REQDEFVAL.*option \"opt\" requires default value\n");
    expect_table_error({{"", 1, nullptr, nullptr, nullptr, argv_save_int, &a},
                        {"opt", 2, nullptr, "0", nullptr, argv_save_int, &b}},
                       "OPT_NOPAR.*option \"opt\" specified for non existing 2\\. parameter\n");
    expect_table_error({{"opt", 0, nullptr, "0", nullptr, argv_save_int, &a},
                        {"opt", 0, nullptr, "0", nullptr, argv_save_int, &b}},
                       "OPT_MULDEF.*option \"opt\" defined twice\n");
    expect_table_error({{"", 1, nullptr, nullptr, nullptr, argv_save_int, &a},
                        {"opt", 1, nullptr, "0", nullptr, argv_save_int, &b},
                        {"opt", 1, nullptr, "0", nullptr, argv_save_int, &c}},
                       "PAROPT_MULDEF.*option \"opt\" defined twice for 1\\. parameter\n");
    expect_table_error({{"x", 0, nullptr, "1", nullptr, argv_save_int, &a},
                        {"y", 2, "1", "0", nullptr, argv_save_int, &a}},
                       "DEFVAL_NOTUNIQUE.*2 default values given for adress at keyword \"y\", "
                       "2\\. parameter\n");
}

TEST_F(ArgvTest, ValuesOfTheTableThatCannotBeConverted) {
    int a = 0, b = 0;
    expect_table_error({{"sw", 0, "one", "0", nullptr, argv_save_int, &a}},
                       "VAL_CONV\\]  argv_init\\(\\)\n    value \"one\" could not be converted\n");
    expect_table_error({{"val", 0, nullptr, "zero", nullptr, argv_save_int, &b}},
                       "DEFVAL_CONV.*default value \"zero\" could not be converted\n");
}

TEST_F(ArgvTest, SameNameOncePerParameterNumberIsAllowed) {
    int a = 0, b = 0, c = 0, d = 0;
    table_ = {
        {"", 1, nullptr, nullptr, nullptr, argv_save_int, &a},
        {"", 2, nullptr, "0", nullptr, argv_save_int, &b},
        {"o", 1, nullptr, "0", nullptr, argv_save_int, &c},
        {"o", 2, nullptr, "0", nullptr, argv_save_int, &d},
    };
    argv_init(table_.data(), 4, nullptr, nullptr, "");
    EXPECT_EQ(output(), "");
    // An option of parameter n is found only between the n-th and the next positional argument.
    eval({"/o=5", "10", "/o=6", "20", "/o=7"});
    EXPECT_EQ(a, 10);
    EXPECT_EQ(b, 20);
    EXPECT_EQ(c, 6);
    EXPECT_EQ(d, 7);
    EXPECT_EQ(output(), warning(1, "OPT_NOTSUPP", "/o=5", WARN_NOTSUPP));
}

// --- argv_eval -------------------------------------------------------------------------------

TEST_F(ArgvTest, AbbreviationsSelectWhileUnique) {
    init_converter_like();
    eval({"/tra=2", "f", "/n", "/trig"});
    EXPECT_EQ(trace_, 2);
    EXPECT_EQ(ipol_, 0);
    EXPECT_EQ(trig_, 1);
    EXPECT_STREQ(file_, "f");
    EXPECT_EQ(output(), "");
    EXPECT_EQ(argv_is_given("trace", 0), 1);
    EXPECT_EQ(argv_is_given("noipol", 0), 1);
    EXPECT_EQ(argv_is_given("", 1), 1);
    EXPECT_EQ(argv_is_given("tra", 0), -1); // only exact names
    EXPECT_EQ(argv_is_given("trace", 1), -1);
}

TEST_F(ArgvTest, AmbiguousAndUnknownOptionsWarnAndChangeNothing) {
    init_converter_like();
    eval({"f", "/tr=2", "/tr", "/", "/x", "/x=1", "/=1"});
    EXPECT_EQ(trace_, 1);
    EXPECT_EQ(trig_, 0);
    EXPECT_EQ(argv_is_given("trace", 0), 0);
    EXPECT_EQ(argv_is_given("trig", 0), 0);
    EXPECT_EQ(output(), warning(1, "OPT_NOTUNIQUE", "/tr=2", WARN_NOTUNIQUE) +
                            warning(2, "OPT_NOTUNIQUE", "/tr", WARN_NOTUNIQUE) +
                            warning(3, "OPT_NOTUNIQUE", "/", WARN_NOTUNIQUE) +
                            warning(4, "OPT_NOTSUPP", "/x", WARN_NOTSUPP) +
                            warning(5, "OPT_NOTSUPP", "/x=1", WARN_NOTSUPP) +
                            warning(6, "OPT_NOTUNIQUE", "/=1", WARN_NOTUNIQUE));
}

TEST_F(ArgvTest, NameThatBeginsAnotherNameCannotBeSelected) {
    int a = 0, b = 0;
    table_ = {
        {"tr", 0, "1", "0", nullptr, argv_save_int, &a},
        {"trace", 0, "1", "0", nullptr, argv_save_int, &b},
    };
    argv_init(table_.data(), 2, nullptr, nullptr, "");
    eval({"/tr", "/t", "/trace"});
    EXPECT_EQ(a, 0);
    EXPECT_EQ(b, 1);
    EXPECT_EQ(output(), warning(1, "OPT_NOTUNIQUE", "/tr", WARN_NOTUNIQUE) +
                            warning(2, "OPT_NOTUNIQUE", "/t", WARN_NOTUNIQUE));
}

TEST_F(ArgvTest, ValuesForSwitchesAreIgnoredAndTheSwitchValueStored) {
    init_converter_like();
    eval({"/trig=0", "/noipol=1", "f"});
    EXPECT_EQ(trig_, 1);
    EXPECT_EQ(ipol_, 0);
    const char *text = "values for option are invalid - value ignored\n";
    EXPECT_EQ(output(), warning(1, "OPT_VALIGNORE", "/trig=0", text) +
                            warning(2, "OPT_VALIGNORE", "/noipol=1", text));
}

TEST_F(ArgvTest, ValueOptionWithoutValueConvertsNothing) {
    init_converter_like();
    trace_ = 42;
    eval({"/trace", "f"});
    EXPECT_EQ(trace_, 42);
    EXPECT_EQ(argv_is_given("trace", 0), 1);
    EXPECT_EQ(output(), "");
}

TEST_F(ArgvTest, ValueThatCannotBeConvertedWarnsAndKeepsTheVariable) {
    init_converter_like();
    eval({"/trace=abc", "/trace=99999999999", "/trace=", "f"});
    EXPECT_EQ(trace_, 1);
    EXPECT_EQ(argv_is_given("trace", 0), 1);
    const char *text = "argument could not be converted\n";
    EXPECT_EQ(output(), warning(1, "ARG_CONV", "/trace=abc", text) +
                            warning(2, "ARG_CONV", "/trace=99999999999", text) +
                            warning(3, "ARG_CONV", "/trace=", text));
}

TEST_F(ArgvTest, SurplusPositionalArgumentIsIgnored) {
    init_converter_like();
    eval({"first", "second"});
    EXPECT_STREQ(file_, "first");
    EXPECT_EQ(output(),
              warning(1, "PAR_NOTSUPP", "second", "2. parameter not supported - ignored\n"));
}

TEST_F(ArgvTest, LanguageArgumentsGoToTheCallback) {
    static std::vector<int> codes;
    codes.clear();
    init_converter_like([](int code) { codes.push_back(code); },
                        [](const char *key) { return key; });
    eval({"=e", "=D", "=E", "=x", "=", "f"});
    EXPECT_EQ(codes, (std::vector<int>{0, 1, 0, 0, 0}));
    const char *text = "language not supported by argv-utility - default language set\n";
    EXPECT_EQ(output(),
              warning(1, "LANG_NOTSUPP", "=x", text) + warning(2, "LANG_NOTSUPP", "=", text));
}

TEST_F(ArgvTest, WithoutCallbackTheUtilitySwitchesItsOwnTexts) {
    init_converter_like();
    eval({"=d", "/x", "=e", "/y", "f"});
    EXPECT_EQ(output(), "[T 1.WARNING OPT_NOTSUPP]  bei Argument \"/x\"\n"
                        "    Option wird nicht unterst\xFC"
                        "tzt - wird ignoriert\n" +
                            warning(2, "OPT_NOTSUPP", "/y", WARN_NOTSUPP));
}

TEST_F(ArgvTest, VeryLongArgumentsAreHandledWithoutOverrun) {
    init_converter_like();
    const std::string name(10000, 'a');
    const std::string option = "/" + name;
    const std::string value = "/" + name + "=1";
    const std::string positional(10000, 'p');
    eval({option.c_str(), value.c_str(), positional.c_str()});
    EXPECT_EQ(std::string(file_), positional);
    const std::string out = output();
    // The location text is shortened to its buffer of 512 bytes.
    const std::string header = "[T 1.WARNING OPT_NOTSUPP]  ";
    ASSERT_EQ(out.compare(0, header.size(), header), 0);
    std::string location = out.substr(header.size(), out.find('\n') - header.size());
    EXPECT_EQ(location.size(), 511u);
    EXPECT_EQ(location, ("at argument \"" + option).substr(0, 511));
    EXPECT_NE(out.find("[T 2.WARNING OPT_NOTSUPP]"), std::string::npos);
}

TEST_F(ArgvTest, MissingParameterIsFatal) {
    init_converter_like();
    EXPECT_EXIT(
        {
            msg_set_stream(nullptr);
            eval({"/trace=2"});
        },
        ::testing::ExitedWithCode(1),
        "^\\[T 1\\.FATAL ERROR PARS_MISSING\\]  \n    too less parameters: 0 given, 1 needed\n$");
}

TEST_F(ArgvTest, UnconvertibleSwitchValueOnTheCommandLineIsFatal) {
    // The check in argv_init converts into the first variable; a saver that fails only for the
    // second call lets the table pass and the command line meet the failure.
    static int calls;
    calls = 0;
    int flag = 0, value = 0;
    table_ = {
        {"sw", 0, "1", nullptr, nullptr,
         [](void *dest, const char *) {
             if (++calls > 1) argv_conv_error();
             *static_cast<int *>(dest) = 1;
         },
         &flag},
        {"val", 0, nullptr, "0", nullptr, argv_save_int, &flag},
        {"other", 0, nullptr, "0", nullptr, argv_save_int, &value},
    };
    argv_init(table_.data(), 3, nullptr, nullptr, "");
    EXPECT_EXIT(
        {
            msg_set_stream(nullptr);
            eval({"/sw"});
        },
        ::testing::ExitedWithCode(1),
        "VAL_CONV\\]  argv_eval\\(\\)\n    value \"1\" could not be converted\n");
}

TEST_F(ArgvTest, NullArgumentsStopByAssertion) {
    init_converter_like();
    EXPECT_EXIT(argv_eval(1, nullptr), aborted, "Assertion failed: argv != NULL, file Argv.cpp");
    const char *args[] = {"prog", "f", nullptr};
    EXPECT_EXIT(argv_eval(3, args), aborted, "Assertion failed: argv\\[i\\] != NULL");
    EXPECT_EXIT(argv_is_given(nullptr, 0), aborted, "Assertion failed: key != NULL");
    EXPECT_EXIT(argv_save_int(nullptr, "1"), aborted, "Assertion failed: dest != NULL");
    EXPECT_EXIT(argv_save_string_comma_list(nullptr, "1"), aborted,
                "Assertion failed: dest != NULL");
}

// --- argv_help -------------------------------------------------------------------------------

// The usage help goes to standard output; a death test sees standard error, so the child sends
// its standard output there.
void stdout_to_stderr() {
    std::fflush(stdout);
    dup2(fileno(stderr), fileno(stdout));
}

// Runs the arguments in a child that must end with status 0 and print exactly `expected`.
void expect_help(std::vector<const char *> args, const std::string &expected) {
    args.insert(args.begin(), "prog");
    EXPECT_EXIT(
        {
            stdout_to_stderr();
            msg_set_stream(nullptr);
            argv_eval(static_cast<int>(args.size()), args.data());
        },
        ::testing::ExitedWithCode(0), ::testing::Eq(expected));
}

TEST_F(ArgvTest, HelpListsOptionsAndParametersInTheirLayout) {
    int file = 0, out = 0, v = 0, s = 0, alpha = 0, beta = 0, gamma = 0;
    const std::string long_help = "abcdefghij abcdefghij abcdefghij abcdefghij abcdefghij "
                                  "abcdefghij abcdefghij abcdefghij";
    table_ = {
        {"gamma", 0, "1", "0", long_help.c_str(), argv_save_int, &gamma},
        {"v", 1, nullptr, "3", "verbosity", argv_save_int, &v},
        {"", 2, nullptr, "9", "output\n", argv_save_int, &out},
        {"beta", 0, "1", "1", "beta help", argv_save_int, &beta},
        {"s", 2, "1", "0", nullptr, argv_save_int, &s},
        {"alpha", 0, nullptr, "1", "alpha help", argv_save_int, &alpha},
        {"", 1, nullptr, nullptr, "file name", argv_save_int, &file},
    };
    argv_init(table_.data(), static_cast<unsigned>(table_.size()), nullptr, nullptr,
              "prog is 100%% sure");
    const std::string expected = "[T 1.INFORMATION HELP]  \n"
                                 "    prog is 100% sure\n"
                                 "    usage information - default values in [...] :\n"
                                 "    - general options:\n"
                                 "            ? : usage information\n"
                                 "            /? : usage information\n"
                                 "            /alpha=[1] : alpha help\n"
                                 "            /beta [default] : beta help\n"
                                 "            /gamma : abcdefghij abcdefghij abcdefghij "
                                 "abcdefghij abcdefghij\n"
                                 "                     abcdefghij abcdefghij abcdefghij\n"
                                 "    - required parameters and their options:\n"
                                 "         1. : file name\n"
                                 "            /v=[3] : verbosity\n"
                                 "    - optional parameters and their options:\n"
                                 "         2. [9] : output\n"
                                 "            /s : \n";
    expect_help({"?"}, expected);
    expect_help({"1", "/?", "/unknown"}, expected);
    expect_help({"?x", "/unknown"}, expected);
}

TEST_F(ArgvTest, HelpWithTextFunctionAndLanguageCallback) {
    init_converter_like([](int) {},
                        [](const char *key) -> const char * {
                            std::string k = key;
                            if (k == "a program\n") return "described";
                            if (k == "trace help") return "the trace";
                            return key;
                        });
    expect_help({"/?"}, "[T 1.INFORMATION HELP]  \n"
                        "    described\n"
                        "    usage information - default values in [...] :\n"
                        "    - general options:\n"
                        "            ? : usage information\n"
                        "            /? : usage information\n"
                        "            =e : set language ENGLISH \n"
                        "            =d : set language GERMAN \n"
                        "            /noipol : noipol help\n"
                        "            /trace=[1] : the trace\n"
                        "            /trig : trigger help\n"
                        "    - required parameters and their options:\n"
                        "         1. : file help\n"
                        "    - optional parameters and their options:\n");
}

TEST_F(ArgvTest, HelpInGerman) {
    init_converter_like();
    argv_set_language(1);
    msg_set_language(1);
    EXPECT_EXIT(
        {
            stdout_to_stderr();
            msg_set_stream(nullptr);
            argv_help();
        },
        ::testing::ExitedWithCode(0),
        ::testing::StartsWith("[T 1.NACHRICHT HELP]  \n"
                              "    a program\n"
                              "    Aufruf-Information - Default-Werte in [...] :\n"
                              "    - Allgemeine Optionen:\n"
                              "            ? : Aufruf-Information\n"
                              "            /? : Aufruf-Information\n"
                              "            /noipol : noipol help\n"));
}

// --- value savers ----------------------------------------------------------------------------

// Runs a saver and tells whether it reported a conversion failure.
template <typename T>
bool saves(argv_saver saver, T *dest, const char *text) {
    // A failure is seen through the evaluation of a one-entry table: ARG_CONV or not.
    argv_entry entry[] = {{"", 1, nullptr, nullptr, nullptr, saver, dest}};
    argv_init(entry, 1, nullptr, nullptr, "");
    msg_reset_counters();
    const char *args[] = {"prog", text};
    argv_eval(2, args);
    argv_free();
    return msg_read_counter(MSG_WARN) == 0;
}

TEST_F(ArgvTest, IntegerSaversFollowScanfSyntaxAndRejectOutOfRange) {
    int i = -7;
    EXPECT_TRUE(saves(argv_save_int, &i, "0x10"));
    EXPECT_EQ(i, 16);
    EXPECT_TRUE(saves(argv_save_int, &i, "010"));
    EXPECT_EQ(i, 8);
    EXPECT_TRUE(saves(argv_save_int, &i, "1e3"));
    EXPECT_EQ(i, 1);
    EXPECT_TRUE(saves(argv_save_int, &i, "12abc"));
    EXPECT_EQ(i, 12);
    EXPECT_TRUE(saves(argv_save_int, &i, " -2147483648"));
    EXPECT_EQ(i, -2147483647 - 1);
    EXPECT_TRUE(saves(argv_save_int, &i, "2147483647"));
    EXPECT_EQ(i, 2147483647);
    EXPECT_FALSE(saves(argv_save_int, &i, "2147483648"));
    EXPECT_FALSE(saves(argv_save_int, &i, "99999999999"));
    EXPECT_FALSE(saves(argv_save_int, &i, "-99999999999999999999999"));
    EXPECT_FALSE(saves(argv_save_int, &i, "0xFFFFFFFF"));
    EXPECT_FALSE(saves(argv_save_int, &i, ""));
    EXPECT_FALSE(saves(argv_save_int, &i, "x1"));
    EXPECT_EQ(i, 2147483647);

    short s = 5;
    EXPECT_TRUE(saves(argv_save_short, &s, "-32768"));
    EXPECT_EQ(s, -32768);
    EXPECT_TRUE(saves(argv_save_short, &s, "0x7fff"));
    EXPECT_EQ(s, 32767);
    EXPECT_FALSE(saves(argv_save_short, &s, "32768"));
    EXPECT_FALSE(saves(argv_save_short, &s, "-32769"));
    EXPECT_EQ(s, 32767);

    long l = 5;
    EXPECT_TRUE(saves(argv_save_long, &l, "-077"));
    EXPECT_EQ(l, -63);
    EXPECT_FALSE(saves(argv_save_long, &l, "99999999999999999999999"));
    EXPECT_FALSE(saves(argv_save_long, &l, "-"));
    EXPECT_EQ(l, -63);
}

TEST_F(ArgvTest, FloatingSavers) {
    double d = 0;
    EXPECT_TRUE(saves(argv_save_double, &d, "2.5e1x"));
    EXPECT_EQ(d, 25.0);
    EXPECT_FALSE(saves(argv_save_double, &d, "e1"));
    EXPECT_FALSE(saves(argv_save_double, &d, ""));
    EXPECT_EQ(d, 25.0);
    float f = 0;
    EXPECT_TRUE(saves(argv_save_float, &f, "-0.125"));
    EXPECT_EQ(f, -0.125f);
    EXPECT_FALSE(saves(argv_save_float, &f, "."));
    EXPECT_EQ(f, -0.125f);
}

TEST_F(ArgvTest, CharacterAndPointerSavers) {
    char c = 'x';
    argv_save_char(&c, "abc");
    EXPECT_EQ(c, 'a');
    argv_save_char(&c, "");
    EXPECT_EQ(c, '\0');
    char buffer[16] = "zzzzzzzzzzzzzzz";
    argv_copy_string(buffer, "copy");
    EXPECT_STREQ(buffer, "copy");
    const char *text = "held";
    const char *pointer = nullptr;
    argv_save_pointer(&pointer, text);
    EXPECT_EQ(pointer, text);
}

TEST_F(ArgvTest, StringSaversOwnTheirCopiesUntilArgvFree) {
    char *string = nullptr;
    char **list = nullptr;
    table_ = {
        {"s", 0, nullptr, "first", nullptr, argv_save_string, &string},
        {"l", 0, nullptr, "a,,b", nullptr, argv_save_string_comma_list, &list},
    };
    argv_init(table_.data(), 2, nullptr, nullptr, "");
    ASSERT_NE(string, nullptr);
    EXPECT_STREQ(string, "first");
    ASSERT_NE(list, nullptr);
    EXPECT_STREQ(list[0], "a");
    EXPECT_STREQ(list[1], "");
    EXPECT_STREQ(list[2], "b");
    EXPECT_EQ(list[3], nullptr);

    eval({"/s=second", "/l="});
    EXPECT_STREQ(string, "second");
    EXPECT_STREQ(list[0], "");
    EXPECT_EQ(list[1], nullptr);

    argv_save_string(&string, string); // its own text again: copied before the old one goes
    EXPECT_STREQ(string, "second");

    argv_free();
    EXPECT_EQ(string, nullptr);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(argv_is_given("s", 0), -1); // the table is no longer in use
}

} // namespace
