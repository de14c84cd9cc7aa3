// The dialog through torvane-headless: its start state, the small buttons
// (CL, CLEAR ALL, TO X, About, Exit), the keys that do nothing, and the
// headless protocol itself.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "headless_driver.h"
#include "headless_session.h"

namespace {

using lines = std::vector<std::string>;

TEST(DialogStart, IdleStatusBase16CheckedEmptyFieldsZeroRegisters) {
    const auto r = script().show_all().raw("checked").base(10).show_fields().run();
    EXPECT_EQ(r.lines, (lines{"", "", "", "", "", "", "Idle...\\n", "1016", "0", "0", "0", "0", "0", "0"}));
    EXPECT_TRUE(r.errors.empty());
    EXPECT_EQ(r.exit_status, 0);
}

TEST(DialogStart, BaseRadioButtonsCheckAsClicked) {
    const auto r = script().base(36).raw("checked").base(60).raw("checked").base(256).raw("checked").run();
    EXPECT_EQ(r.lines, (lines{"1018", "1017", "1020"}));
}

TEST(DialogButtons, AboutShowsItsMessageBoxAndChangesNothing) {
    const auto r = script().type(X, "5").click(IDC_ABOUT).show(X).show(STATUS).run();
    ASSERT_EQ(r.lines.size(), 3u);
    EXPECT_EQ(r.lines[0], "messagebox About|Torvane v1.x\\nApr. 2008\\ncontact me:\\ntorvane@example.org");
    EXPECT_EQ(r.lines[1], "5");
    EXPECT_EQ(r.lines[2], "Bits: x- 3 y- 0 z- 0 a- 0 b- 0 ans- 0");
}

TEST(DialogButtons, EnterAndEscapeDoNothing) {
    const auto before = script().base(10).operands("5", "3").click(IDC_OP_ADD);
    auto with_keys = before;
    with_keys.raw("key enter").raw("key escape").show_all().raw("checked");
    auto plain = before;
    plain.show_all().raw("checked");
    const auto r = with_keys.run();
    EXPECT_EQ(r.lines, plain.run().lines);
    EXPECT_TRUE(r.errors.empty());
}

// The status then shows the bit lengths, so that no older notice stays.
TEST(DialogButtons, ClearOneFieldZeroesItsRegisterAndShowsTheBitLengths) {
    struct Case {
        int button, field;
    };
    for (const Case c : {Case{IDC_CL_X, X}, Case{IDC_CL_Y, Y}, Case{IDC_CL_Z, Z}, Case{IDC_CL_A, A}, Case{IDC_CL_B, B},
                         Case{IDC_CL_ANS, ANS}}) {
        SCOPED_TRACE(c.button);
        auto s = script().base(10).operands("11", "12", "13", "14", "15");
        s.click(IDC_OP_ADD).show(STATUS).click(c.button).show(c.field).show(STATUS).base(16).show_fields();
        const auto r = s.run();
        ASSERT_EQ(r.lines.size(), 9u);
        EXPECT_EQ(r.lines[1], "") << "the field is emptied";
        const int index = c.field == ANS ? 5 : c.field == B ? 4 : c.field - X;
        int bits[6] = {4, 4, 4, 4, 4, 5};
        bits[index] = 0;
        EXPECT_EQ(r.lines[2], "Bits: x- " + std::to_string(bits[0]) + " y- " + std::to_string(bits[1]) + " z- " +
                                  std::to_string(bits[2]) + " a- " + std::to_string(bits[3]) + " b- " +
                                  std::to_string(bits[4]) + " ans- " + std::to_string(bits[5]));
        // Redrawn from the registers: only the cleared one is 0.
        lines expected{"B", "C", "D", "E", "F", "17"};
        expected[static_cast<std::size_t>(index)] = "0";
        EXPECT_EQ(lines(r.lines.begin() + 3, r.lines.end()), expected);
    }
}

TEST(DialogButtons, ClearAllEmptiesEveryFieldAndZeroesEveryRegister) {
    const auto r = script()
                       .base(10)
                       .operands("1", "2", "3", "4", "5")
                       .click(IDC_OP_PRODUCT)
                       .click(IDC_CLEAR_ALL)
                       .show_all()
                       .base(8)
                       .show_fields()
                       .run();
    EXPECT_EQ(r.lines, (lines{"", "", "", "", "", "", "ALL Cleared.", "0", "0", "0", "0", "0", "0"}));
}

TEST(DialogButtons, ToXCopiesTheAnswerRegisterAndDrawsX) {
    const auto r = script()
                       .base(10)
                       .operands("-7", "2")
                       .click(IDC_OP_DIV)
                       .click(IDC_TO_X)
                       .show(X)
                       .show(STATUS)
                       .click(IDC_OP_ADD)  // X is now -3 in the register too: -3 + 2
                       .show(ANS)
                       .run();
    EXPECT_EQ(r.lines, (lines{"-3", "Answer copied to X.", "-1"}));
}

TEST(DialogButtons, ToXAfterARefusalCopiesTheAnswerStillShown) {
    const auto r = script()
                       .base(10)
                       .operands("5", "3")
                       .click(IDC_OP_ADD)
                       .type(Y, "0")
                       .click(IDC_OP_DIV)  // refused: Ans keeps 8
                       .show(ANS)
                       .show(STATUS)
                       .click(IDC_TO_X)
                       .show(X)
                       .base(16)
                       .show(X)
                       .show(ANS)
                       .run();
    EXPECT_EQ(r.lines, (lines{"8", "Invalid y ...\\n", "8", "8", "8"}));
}

TEST(DialogButtons, ToXOfAClearedAnswerGivesZero) {
    const auto r = script().base(10).operands("5", "3").click(IDC_OP_ADD).click(IDC_CL_ANS).click(IDC_TO_X).show(X).run();
    EXPECT_EQ(r.lines, (lines{"0"}));
}

TEST(DialogExit, ExitAndCloseEndTheSessionAndIgnoreTheRest) {
    for (const char* end : {"click 1009", "close"}) {
        SCOPED_TRACE(end);
        const auto r = script().show(STATUS).raw(end).show(STATUS).raw("bogus").run();
        EXPECT_EQ(r.lines, (lines{"Idle...\\n"}));
        EXPECT_TRUE(r.errors.empty()) << "nothing after the end is read";
        EXPECT_EQ(r.exit_status, 0);
    }
}

TEST(DialogExit, EndOfInputClosesTheWindow) {
    EXPECT_EQ(run_headless("").exit_status, 0);
    const auto r = run_headless("show 1007");  // last line without a line feed
    EXPECT_EQ(r.lines, (lines{"Idle...\\n"}));
    EXPECT_EQ(r.exit_status, 0);
}

TEST(HeadlessProtocol, BadLinesReportAnErrorAndChangeNothing) {
    const lines bad = {"bogus",          "eval \\q",   "type",          "type 1000x",   "type 1006 5",
                       "type 1007 5",    "type 1004 5", "type 1013 5", "click",        "click 1000",
                       "click 1066",     "click x",   "show",          "show 1004",    "show 1008",
                       "show 1000 1001", "key",       "key space",     "close now",    "checked 1",
                       "type 1000 \\q",  "type 1000 \\x4", "type 1000 \\x00", "type 1000 9\\", " show 1000",
                       "click  1039",    "show 01000000"};
    script s;
    s.type(X, "5");
    for (const auto& line : bad) s.raw(line);
    s.show_all().raw("checked");
    const auto r = run_headless(s.text());
    ASSERT_EQ(r.errors.size(), bad.size());
    for (std::size_t i = 0; i < bad.size(); ++i) {
        const std::string head = "error: line " + std::to_string(i + 2) + ": ";
        EXPECT_EQ(r.errors[i].rfind(head, 0), 0u) << r.errors[i];
        EXPECT_EQ(r.errors[i].substr(r.errors[i].size() - escaped(bad[i]).size()), escaped(bad[i])) << "names the line";
    }
    EXPECT_EQ(r.lines, (lines{"5", "", "", "", "", "", "Bits: x- 3 y- 0 z- 0 a- 0 b- 0 ans- 0", "1016"}));
    EXPECT_EQ(r.exit_status, 1) << "a line not carried out fails the script";
}

// Names beside the ids, CR LF line ends, a long bad line quoted only in
// part, a refusal by the calculator that is no failure, and --help.
TEST(HeadlessProtocol, NamesCrLfLongLinesAndTheExitStatus) {
    const auto r = run_headless("click base10\r\ntype X 12\r\ntype y 30\r\nclick GCD\r\nshow Ans\r\nshow B\r\n"
                                "type X 1.5\r\nshow status\r\nchecked\r\n");
    EXPECT_EQ(r.lines, (lines{"6", "60", "X unchanged: '.' is not a base-10 digit.", "1015"}));
    EXPECT_TRUE(r.errors.empty());
    EXPECT_EQ(r.exit_status, 0) << "a refusal by the calculator is an answer";

    const auto bad = run_headless("show X\n" + std::string(100000, 'q') + "\nclick nothing\n");
    ASSERT_EQ(bad.errors.size(), 2u);
    EXPECT_EQ(bad.errors[0], "error: line 2: unknown command: " + std::string(80, 'q') + "...");
    EXPECT_EQ(bad.errors[1], "error: line 3: unknown button 'nothing': click nothing");
    EXPECT_EQ(bad.exit_status, 1);

    const auto help = run_headless("", {"--help"});
    EXPECT_EQ(help.exit_status, 0);
    ASSERT_FALSE(help.lines.empty());
    EXPECT_EQ(help.lines[0], "Usage: torvane-headless [--help | --version] [--session FILE] [FILE]");
}

// Blank lines and comments are skipped; a script may come from a file;
// --version names the version; unknown names are named; a script's own
// UTF-8 reaches a field as the window's Latin-1 field holds it.
TEST(HeadlessProtocol, CommentsFilesVersionNamesAndUtf8) {
    const std::string text = "\n   \n# a comment\n  # another\nclick base10\ntype X 12\xC2\xA0" "345\nshow status\n"
                             "type X 1\xE2\x82\xAC\nshow status\ntype X \\xC2\\xA0\nshow status\ntype Q 5\nshow Q\n";
    const char* path = "headless_script.txt";
    std::FILE* f = std::fopen(path, "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    for (bool from_file : {false, true}) {
        SCOPED_TRACE(from_file ? "from a file" : "from standard input");
        const auto r = from_file ? run_headless("", {path}) : run_headless(text);
        EXPECT_EQ(r.lines, (lines{"X unchanged: U+00A0 is not a base-10 digit.",
                                  "X unchanged: U+20AC is not a base-10 digit.",
                                  "X unchanged: U+00C2 is not a base-10 digit."}));
        EXPECT_EQ(r.errors, (lines{"error: line 12: unknown field 'Q': type Q 5",
                                   "error: line 13: unknown control 'Q': show Q"}));
        EXPECT_EQ(r.exit_status, 1);
    }
    std::remove(path);
    const auto missing = run_headless("", {"no-such-script.txt"});
    EXPECT_EQ(missing.exit_status, 2);
    const auto version = run_headless("", {"--version"});
    EXPECT_EQ(version.exit_status, 0);
    EXPECT_EQ(version.lines, (lines{"torvane-headless " TORVANE_VERSION}));
}

TEST(HeadlessProtocol, ArgumentsAreRefused) {
    const auto r = run_headless("", {"--script"});
    EXPECT_EQ(r.exit_status, 2);
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.errors[0].rfind("error: ", 0), 0u);
}

TEST(HeadlessProtocol, TypeTakesEverythingAfterTheOneBlank) {
    const auto r = script()
                       .base(256)
                       .raw("type 1000  a")  // a blank and "a": two bytes in base 256
                       .show(X)
                       .raw("type 1000 ")
                       .show(X)
                       .show(STATUS)
                       .raw("type 1001 xy")
                       .raw("type 1001")
                       .show(Y)
                       .base(16)
                       .show(X)
                       .show(Y)
                       .run();
    EXPECT_EQ(r.lines, (lines{" a", "", "Bits: x- 0 y- 0 z- 0 a- 0 b- 0 ans- 0", "", "0", "0"}));
}

TEST(HeadlessProtocol, EscapesRoundTripRawBytes) {
    // Base 256 fields hold raw bytes: value 0x0A5C7F09 is the line feed, a
    // backslash, DEL and a tab.
    const auto r = script().base(16).type(X, "A5C7F09").base(256).show(X).raw("type 1001 \\x41\\\\\\r").base(16).show(Y).run();
    EXPECT_EQ(r.lines, (lines{"\\n\\\\\\x7F\\t", "415C0D"}));
    EXPECT_EQ(escape_text("\x01\x1F \x7E\x7F\xFF"), "\\x01\\x1F ~\\x7F\\xFF");
    std::string out, error;
    ASSERT_TRUE(unescape_text("a\\x4a\\x4A\\t\\n\\r\\\\\xE9", out, error));
    EXPECT_EQ(out, "aJJ\t\n\r\\\xE9");
}

// The longest operand in the longest base, a sign and 65530 binary digits,
// is taken whole and reads back the same; one character more is refused
// whole at the field's limit, and the status says so.
TEST(HeadlessProtocol, AMaximalBinaryOperandFitsOneMoreCharacterIsRefused) {
    const std::string longest = "-" + std::string(65530, '1');
    const auto r = script()
                       .base(2)
                       .type(X, longest)
                       .show(STATUS)
                       .base(16)
                       .base(2)
                       .show(X)
                       .type(Y, longest + "1")
                       .show(Y)
                       .show(STATUS)
                       .click(IDC_OP_SUB)
                       .show(STATUS)
                       .run();
    ASSERT_EQ(r.lines.size(), 5u);
    EXPECT_EQ(r.lines[0], "Bits: x- 65530 y- 0 z- 0 a- 0 b- 0 ans- 0");
    EXPECT_EQ(r.lines[1], longest) << "read back from the register";
    EXPECT_EQ(r.lines[2], "0") << "Y as the base switch drew it";
    EXPECT_EQ(r.lines[3], "Y unchanged: Y takes at most 65531 characters.");
    EXPECT_EQ(r.lines[4], "Bits: x- 65530 y- 0 z- 0 a- 0 b- 0 ans- 65530");
}

}  // namespace
