// Message output: header lines, layout, counters and every fatal path.
#include "Lng.h"
#include "Msg.h"
#include "Platform_helper.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

const std::string DEFAULT_FORMAT = "[%m %c.%t %i]  %l\n";

// Sends the message output into a temporary file and gives back what was written.
class MsgTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Finish a line left open by an earlier test, so that every test starts at column 0.
        std::FILE *scratch = std::tmpfile();
        msg_set_stream(scratch);
        msg_init_format(DEFAULT_FORMAT.c_str(), MSG_LINE_LENGTH, MSG_INDENT);
        while (msg_get_column() != 0) msg_append("\n");
        std::fclose(scratch);
        msg_set_language(LNG_ENGLISH);
        msg_init_module("TEST");
        msg_reset_counters();
        file_ = std::tmpfile();
        ASSERT_NE(file_, nullptr);
        msg_set_stream(file_);
    }
    void TearDown() override {
        msg_set_stream(nullptr);
        std::fclose(file_);
        msg_init_format(DEFAULT_FORMAT.c_str(), MSG_LINE_LENGTH, MSG_INDENT);
        msg_set_language(LNG_GERMAN);
    }
    std::string output() {
        std::fflush(file_);
        std::rewind(file_);
        std::string text;
        int c;
        while ((c = std::fgetc(file_)) != EOF) text += static_cast<char>(c);
        std::rewind(file_);
        return text;
    }
    std::FILE *file_ = nullptr;
};

using MsgDeathTest = MsgTest;

TEST_F(MsgTest, WarningWithDefaultsGivesHeaderAndIndentedText) {
    msg_warn("argv_eval()", "OPT_NOTSUPP", "option %s not supported\n", "/x");
    EXPECT_EQ(output(), "[TEST 1.WARNING OPT_NOTSUPP]  argv_eval()\n"
                        "    option /x not supported\n");
    EXPECT_EQ(msg_get_column(), 0u);
}

TEST_F(MsgTest, TypeWordsFollowTheLanguage) {
    msg_log("", "K", "a\n");
    msg_info(nullptr, nullptr, "b\n");
    msg_err("", "K", "c\n");
    msg_set_language(LNG_GERMAN);
    msg_log("", "K", "d\n");
    msg_info("", "K", "e\n");
    msg_warn("", "K", "f\n");
    msg_err("", "K", "g\n");
    // A code outside the map selects the first column, German.
    msg_set_language(7);
    msg_print(MSG_FATERR, "", "K", "h\n");
    EXPECT_EQ(output(), "[TEST 1.LOG K]  \n    a\n"
                        "[TEST 1.INFORMATION ]  \n    b\n"
                        "[TEST 1.ERROR K]  \n    c\n"
                        "[TEST 2.PROTOKOLL K]  \n    d\n"
                        "[TEST 2.NACHRICHT K]  \n    e\n"
                        "[TEST 1.WARNUNG K]  \n    f\n"
                        "[TEST 2.FEHLER K]  \n    g\n"
                        "[TEST 1.ABBRUCH-FEHLER K]  \n    h\n");
}

TEST_F(MsgTest, HeaderAfterUnfinishedLineStartsOnNewLine) {
    msg_append("abc");
    EXPECT_EQ(msg_get_column(), 7u);
    msg_append(" def");
    EXPECT_EQ(msg_get_column(), 11u);
    msg_info("", "KEY", "x\n");
    EXPECT_EQ(output(), "    abc def\n[TEST 1.INFORMATION KEY]  \n    x\n");
}

TEST_F(MsgTest, TextWithoutNewlineLeavesColumnAfterIt) {
    msg_info("", "HELP", "%s", "");
    EXPECT_EQ(msg_get_column(), 4u);
    msg_append("usage");
    EXPECT_EQ(output(), "[TEST 1.INFORMATION HELP]  \n    usage");
    EXPECT_EQ(msg_get_column(), 9u);
}

TEST_F(MsgTest, LongTextWrapsAtLastBlankBeforeLineEnd) {
    msg_append("The quick brown fox jumps over the lazy dog and keeps running far beyond the "
               "hills until night falls.\n");
    // "the" would end at column 80; the line is cut back to the blank before it.
    EXPECT_EQ(output(),
              "    The quick brown fox jumps over the lazy dog and keeps running far beyond\n"
              "    the hills until night falls.\n");
    EXPECT_EQ(msg_get_column(), 0u);
}

TEST_F(MsgTest, BlanksAtTheBreakAreDropped) {
    const std::string first(70, 'a');
    msg_append("%s bbbbbbbbbbbbbbbbbbbb      cc\n", first.c_str());
    EXPECT_EQ(output(), "    " + first + "\n    bbbbbbbbbbbbbbbbbbbb      cc\n");
}

TEST_F(MsgTest, OverlongWordIsCutAtColumn80) {
    const std::string word(100, 'x');
    msg_append("ab %s\n", word.c_str());
    EXPECT_EQ(output(),
              "    ab\n    " + std::string(76, 'x') + "\n    " + std::string(24, 'x') + "\n");
}

TEST_F(MsgTest, BlankRightAfterIndentIsNoBreakPoint) {
    // Cutting back to that blank would leave an empty line; the word is cut instead.
    msg_append(" %s\n", std::string(100, 'x').c_str());
    EXPECT_EQ(output(), "     " + std::string(75, 'x') + "\n    " + std::string(25, 'x') + "\n");
}

TEST_F(MsgTest, WordEndingAtLineEndStillBreaksTheLine) {
    // 76 characters fill the line to column 80: the line is broken there, the final newline is
    // skipped as white space after the break, and the column stays at the indent.
    msg_append("%s\n", std::string(76, 'y').c_str());
    EXPECT_EQ(output(), "    " + std::string(76, 'y') + "\n    ");
    EXPECT_EQ(msg_get_column(), 4u);
}

TEST_F(MsgTest, WhiteSpaceIsWrittenAsBlanks) {
    msg_append("a\tb\rc\vd\fe\n");
    EXPECT_EQ(output(), "    a b c d e\n");
}

TEST_F(MsgTest, EveryLineOfTextIsIndented) {
    msg_append("one\ntwo\n\nthree\n");
    EXPECT_EQ(output(), "    one\n    two\n    \n    three\n");
}

TEST_F(MsgTest, WindowsCodePageBytesAreNotWhiteSpace) {
    msg_append("gr\374\240n\n");
    EXPECT_EQ(output(), "    gr\374\240n\n");
}

TEST_F(MsgTest, IndentFollowsCurrentColumnForHangingText) {
    msg_info("", "HELP", "%s", "");
    msg_append("    /option : ");
    msg_set_indent(msg_get_column());
    msg_append("%s\n", "a help text long enough to need more than one line when it is printed "
                       "after the option name");
    msg_set_indent(MSG_INDENT);
    EXPECT_EQ(output(),
              "[TEST 1.INFORMATION HELP]  \n"
              "        /option : a help text long enough to need more than one line when it is\n"
              "                  printed after the option name\n");
}

TEST_F(MsgTest, AppendAtOrBeyondLineLengthStartsNewLine) {
    msg_init_module("ABCDEFGHIJKLMNOPQRSTUVWXY");
    msg_init_format("%m", 20, 2);
    msg_header(MSG_INFO, "", "");
    EXPECT_EQ(msg_get_column(), 25u);
    msg_append(" \t text to follow\n");
    EXPECT_EQ(output(), "ABCDEFGHIJKLMNOPQRSTUVWXY\n  text to follow\n");
}

TEST_F(MsgTest, ShortLineLengthWrapsEveryLine) {
    msg_init_format(DEFAULT_FORMAT.c_str(), 12, 2);
    msg_append("aaa bbb ccc ddd eee fff\n");
    EXPECT_EQ(output(), "  aaa bbb\n  ccc ddd\n  eee fff\n");
}

TEST_F(MsgTest, CountersCountPerTypeThroughTheDirective) {
    msg_warn("", "W", "\n");
    msg_warn("", "W", "\n");
    msg_err("", "E", "\n");
    msg_warn("", "W", "\n");
    EXPECT_EQ(msg_read_counter(MSG_WARN), 3);
    EXPECT_EQ(msg_read_counter(MSG_ERR), 1);
    EXPECT_EQ(msg_read_counter(MSG_INFO), 0);
    EXPECT_EQ(msg_read_counter(6), 0);
    EXPECT_NE(output().find("[TEST 3.WARNING W]"), std::string::npos);

    msg_reset_counters();
    msg_init_format("%m %i\n", 80, 4);
    msg_warn("", "W", "\n");
    EXPECT_EQ(msg_read_counter(MSG_WARN), 0);

    msg_init_format("%c %c|%c\n", 80, 4);
    msg_err("", "", "%s", "");
    msg_warn("", "", "%s", "");
    EXPECT_EQ(msg_read_counter(MSG_ERR), 3);
    EXPECT_EQ(msg_read_counter(MSG_WARN), 3);
    EXPECT_NE(output().find("1 2|3\n    \n1 2|3\n    "), std::string::npos);
}

TEST_F(MsgTest, DirectivesKeepFlagsAndWidths) {
    msg_init_format("<%-12i|%5c|%.3t|%8m|%l%%>%%\n", 80, 4);
    msg_warn("loc", "KEY", "\n");
    EXPECT_EQ(output(), "<KEY         |    1|WAR|    TEST|loc%>%\n    \n");
}

TEST_F(MsgTest, NineteenDirectivesAreAccepted) {
    std::string format;
    for (int i = 0; i < 19; ++i) format += "%i";
    msg_init_format((format + "|\n").c_str(), 80, 4);
    msg_header(MSG_LOG, "", "k");
    EXPECT_EQ(output(), std::string(19, 'k') + "|\n");
}

TEST_F(MsgTest, FormatOf511CharactersIsAccepted) {
    msg_init_format((std::string(510, '-') + "\n").c_str(), 80, 4);
    msg_header(MSG_LOG, "", "");
    EXPECT_EQ(output(), std::string(510, '-') + "\n");
}

TEST_F(MsgTest, LongTextsAreShortenedWithinTheBuffers) {
    const std::string huge(10000, 'z');
    msg_warn(huge.c_str(), "KEY", "%s", huge.c_str());
    const std::string text = output();
    const std::size_t header_end = text.find('\n');
    ASSERT_NE(header_end, std::string::npos);
    EXPECT_EQ(header_end, static_cast<std::size_t>(MSG_BUFFER_SIZE - 1));
    EXPECT_EQ(text.substr(0, 23), "[TEST 1.WARNING KEY]  z");
    // The header lost its line end, so the text starts a new line; it is cut off at the buffer
    // size as well.
    EXPECT_EQ(text.size(), static_cast<std::size_t>(2 * (MSG_BUFFER_SIZE - 1)));
    EXPECT_EQ(text.substr(header_end, 6), "\n    z");

    // Wide header fields and a wide indent cannot overrun the buffers either.
    msg_init_format("%6000i%99999l\n", 9000, 8000);
    msg_header(MSG_LOG, "", "");
    msg_append("a\nb\nc\n");
    EXPECT_LE(output().size(), text.size() + 2 * (MSG_BUFFER_SIZE - 1));
}

TEST_F(MsgTest, BuffersAreAllocatedAgainAfterExit) {
    msg_info("", "A", "one\n");
    msg_exit();
    msg_info("", "B", "two\n");
    msg_exit();
    EXPECT_EQ(output(), "[TEST 1.INFORMATION A]  \n    one\n[TEST 2.INFORMATION B]  \n    two\n");
}

TEST_F(MsgTest, ModuleNameOf39CharactersIsAccepted) {
    const std::string name(39, 'N');
    msg_init_module(name.c_str());
    msg_log("", "K", "\n");
    EXPECT_EQ(output(), "[" + name + " 1.LOG K]  \n    \n");
}

TEST_F(MsgTest, IndentBelowLineLengthIsAccepted) {
    msg_set_indent(79);
    msg_append("a b\n");
    msg_set_indent(MSG_INDENT);
    // Every character reaches the line end, so each one is followed by a line break.
    const std::string blanks(79, ' ');
    EXPECT_EQ(output(), blanks + "a\n" + blanks + "b\n" + blanks);
}

TEST_F(MsgDeathTest, FatalErrorEndsWithStatusOne) {
    msg_set_stream(nullptr);
    EXPECT_EXIT(msg_faterr("main()", "PARS_MISSING", "%d given\n", 0), ::testing::ExitedWithCode(1),
                "\\[TEST 1\\.FATAL ERROR PARS_MISSING\\]  main\\(\\)\n"
                "    0 given\n");
}

TEST_F(MsgDeathTest, ModuleNameOf40CharactersIsFatal) {
    msg_set_stream(nullptr);
    EXPECT_EXIT(msg_init_module(std::string(40, 'N').c_str()), ::testing::ExitedWithCode(1),
                "MSG_MODNAM_SIZEFATERR\\]  msg_init_module\\(\\)\n    module name \"N+\" too long, "
                "maximum is\n    40 characters\n");
}

TEST_F(MsgDeathTest, TwentyDirectivesAreFatal) {
    msg_set_stream(nullptr);
    std::string format;
    for (int i = 0; i < 20; ++i) format += "%t";
    EXPECT_EXIT(msg_init_format(format.c_str(), 80, 4), ::testing::ExitedWithCode(1),
                "MSG_HEADFMT_NUMFATERR\\]  msg_init_format\\(\\)\n    too many formats \\(20\\) "
                "found, maximum is 20");
}

TEST_F(MsgDeathTest, BadHeaderFormatsAreFatal) {
    msg_set_stream(nullptr);
    EXPECT_EXIT(msg_init_format(std::string(512, '-').c_str(), 80, 4), ::testing::ExitedWithCode(1),
                stderr_regex("MSG_HEADFMT_SIZEFATERR.*maximum is 512 characters"));
    EXPECT_EXIT(msg_init_format("[%-12", 80, 4), ::testing::ExitedWithCode(1),
                "MSG_HEADFMT_INVALFATERR\\]  msg_init_format\\(\\)\n    invalid header format "
                "given, end of format string reached");
    EXPECT_EXIT(msg_init_format("%", 80, 4), ::testing::ExitedWithCode(1),
                "MSG_HEADFMT_INVALFATERR");
    // Only flags, width and precision may stand before the letter: the piece is printed with
    // exactly one value.
    EXPECT_EXIT(msg_init_format("%*i", 80, 4), ::testing::ExitedWithCode(1),
                stderr_regex("MSG_HEADFMT_INVALINTERR.*invalid header format id '\\*' found"));
    EXPECT_EXIT(msg_init_format("%hi", 80, 4), ::testing::ExitedWithCode(1),
                stderr_regex("MSG_HEADFMT_INVALINTERR.*'h' found"));
    EXPECT_EXIT(msg_init_format("%m\n", 80, 80), ::testing::ExitedWithCode(1),
                "MSG_INDENT_FATERR\\]  msg_init_format\\(\\)\n    indent 80 must be less then "
                "line length 80");
}

TEST_F(MsgDeathTest, FailedFormatKeepsTheOldOne) {
    msg_set_stream(nullptr);
    // The report of a bad format is printed with the format in force before.
    EXPECT_EXIT(msg_init_format("%i%", 80, 4), ::testing::ExitedWithCode(1),
                "^\\[TEST 1\\.FATAL ERROR MSG_HEADFMT_INVALFATERR\\]  msg_init_format\\(\\)\n");
}

TEST_F(MsgDeathTest, IndentAtLineLengthIsFatal) {
    msg_set_stream(nullptr);
    msg_set_language(LNG_GERMAN);
    EXPECT_EXIT(msg_set_indent(80), ::testing::ExitedWithCode(1),
                "\\[TEST 1\\.ABBRUCH-FEHLER MSG_INDENT_FATERR\\]  msg_set_indent\\(\\)\n"
                "    Einr\xfc"
                "ckung 80 mu\xdf kleiner als Zeilenl\xe4nge 80 sein\n");
}

TEST_F(MsgDeathTest, CounterSlotAboveSixIsFatal) {
    msg_set_stream(nullptr);
    EXPECT_EXIT(msg_read_counter(7), ::testing::ExitedWithCode(1),
                "MSG_TYPE_INVALFATERR\\]  msg_read_counter\\(\\)\n    message type 7 not valid, "
                "maximum is 6");
}

TEST_F(MsgDeathTest, InvalidCallsAreAssertions) {
    EXPECT_DEATH(msg_header(5, "", ""), "Assertion failed: type >= MSG_LOG && type <= MSG_FATERR");
    EXPECT_DEATH(msg_header(-1, "", ""), "Assertion failed");
    EXPECT_DEATH(msg_append(nullptr), "Assertion failed: format != NULL, file Msg.cpp");
    EXPECT_DEATH(msg_init_module(nullptr), "name != NULL");
}

} // namespace
