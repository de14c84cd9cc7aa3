// The calculation cycle through torvane-headless: reading fields in every
// base, redrawing them on a base switch, the operation frame, what engine
// errors and bad input leave behind.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "headless_driver.h"

namespace {

using lines = std::vector<std::string>;

// head followed by count copies of fill. (Built by append: GCC 12 at -O3
// warns falsely of overlapping copies in "text" + std::string(n, c).)
std::string lead(const char* head, std::size_t count, char fill) {
    std::string text(head);
    text.append(count, fill);
    return text;
}

std::string bit_line(int x, int y, int z, int a, int b, int ans) {
    return "Bits: x- " + std::to_string(x) + " y- " + std::to_string(y) + " z- " + std::to_string(z) + " a- " +
           std::to_string(a) + " b- " + std::to_string(b) + " ans- " + std::to_string(ans);
}

// Every base in the order of the radio buttons.
const int all_bases[] = {2, 8, 10, 16, 36, 60, 64, 256};

TEST(Parse, APastedStrayCharacterRefusesTheTextAndTheStatusNamesIt) {
    const auto r = script().base(10).type(X, "12").show(STATUS).type(X, "12a").show(X).show(STATUS).base(16).show(X).run();
    EXPECT_EQ(r.lines, (lines{bit_line(4, 0, 0, 0, 0, 0), "12", "X unchanged: 'a' is not a base-10 digit.", "C"}));
}

TEST(Parse, EachBaseReadsItsOwnDigits) {
    struct Case {
        int base;
        const char* text;
        const char* decimal;
    };
    for (const Case c : {Case{2, "-1010", "-10"}, Case{8, "777", "511"}, Case{10, "-0", "0"}, Case{16, "ffFF", "65535"},
                         Case{36, "ZZ", "1295"}, Case{60, "xx", "3599"}, Case{60, "-1a", "-96"}, Case{64, "AQAB", "65537"},
                         Case{64, "-AQAB", "-65537"}, Case{256, "AB", "16706"}, Case{256, "-", "45"}}) {
        SCOPED_TRACE(std::to_string(c.base) + " " + c.text);
        // Through another base, so that base 10 redraws the field too.
        const auto r = script().base(c.base).type(X, c.text).base(c.base == 16 ? 8 : 16).base(10).show(X).run();
        EXPECT_EQ(r.lines, (lines{c.decimal}));
    }
}

TEST(Parse, Base16KeepsLowerCaseBase36RefusesIt) {
    const auto r = script()
                       .type(X, "abc")
                       .show(X)
                       .base(36)
                       .type(Y, "abcZ")
                       .show(Y)
                       .show(STATUS)
                       .type(Y, "z")  // one key: dropped, with a hint
                       .show(Y)
                       .show(STATUS)
                       .base(10)
                       .show(X)
                       .show(Y)
                       .run();
    EXPECT_EQ(r.lines, (lines{"abc", "0", "Y unchanged: 'a' is not a base-36 digit.", "", "Y: 'z' is not a base-36 digit.",
                              "2748", "0"}));
}

TEST(Parse, Base64PaddingAndLoneCharacters) {
    const auto r = script()
                       .base(64)
                       .type(X, "/w==")
                       .show(X)
                       .type(Y, "QQE")
                       .type(Z, "Q")
                       .type(A, "QQ")
                       .base(10)
                       .show(X)
                       .show(Y)
                       .show(Z)
                       .show(A)
                       .run();
    EXPECT_EQ(r.lines, (lines{"/w", "255", "16641", "0", "65"}));
}

TEST(Parse, AnEmptiedFieldHoldsZero) {
    const auto r = script().base(10).operands("5", "3").type(Y, "").show(STATUS).click(IDC_OP_ADD).show(ANS).run();
    EXPECT_EQ(r.lines, (lines{bit_line(3, 0, 0, 0, 0, 0), "5"}));
}

TEST(Parse, AFieldOfStrayCharactersIsRefusedInEveryFilteredBase) {
    for (int base : {2, 8, 10, 16, 36, 60, 64}) {
        SCOPED_TRACE(base);
        auto s = script().base(10).operands("7", "8", "9", "10", "11").base(base);
        s.type(X, "?!., ;:*&^%$#@()[]{}<>|~=_\"'").show(X).show(STATUS).base(base == 16 ? 8 : 16).base(10).show_fields();
        const auto r = s.run();
        const std::string seven = base == 2 ? "111" : base == 64 ? "Bw" : "7";
        EXPECT_EQ(r.lines, (lines{seven, "X unchanged: '?' is not a base-" + std::to_string(base) + " digit.", "7", "8",
                                  "9", "10", "11", "0"}));
    }
}

// Typing "-7" into a field that shows 0 gives "0-7": still minus seven.
// "10-7" is no number: refused, Z keeps its 0.
TEST(Parse, AMinusAfterOnlyZerosIsTheSign) {
    const auto r = script().base(10).type(X, "0-7").show(X).type(Y, "00-12").show(Y).type(Z, "10-7").show(Z).click(IDC_OP_ADD).show(ANS).run();
    EXPECT_EQ(r.lines, (lines{"-7", "-12", "0", "-19"}));
}

TEST(Parse, Base256TakesEveryByteAsADigit) {
    const auto r = script().base(256).type(X, "- \n").base(16).show(X).run();
    EXPECT_EQ(r.lines, (lines{"2D200A"}));
}

TEST(BaseSwitch, RedrawsAllSixFieldsInEveryBase) {
    // X = 255, Y = -255, Z = 0, A = 3600, B = 2^64, Ans = X+Y = 0.
    auto s = script().base(10).operands("255", "-255", "0", "3600", "18446744073709551616").click(IDC_OP_ADD);
    for (int base : all_bases) s.base(base).show_fields();
    s.base(10).show_fields();
    const auto r = s.run();
    const lines expected{
        "11111111", "-11111111", "0", "111000010000", lead("1", 64, '0'), "0",
        "377", "-377", "0", "7020", "2000000000000000000000", "0",
        "255", "-255", "0", "3600", "18446744073709551616", "0",
        "FF", "-FF", "0", "E10", "10000000000000000", "0",
        "73", "-73", "0", "2S0", "3W5E11264SGSG", "0",
        "4F", "-4F", "0", "100", "UUR953oeV0G", "0",
        // A negative value shows a "-" before the base-64 form of its magnitude.
        "/w", "-/w", "AA", "DhA", "AQAAAAAAAAAA", "AA",
        // Base 256 has no sign and writes zero as nothing; a field cannot
        // hold a zero byte, so 2^64 shows only its first digit.
        "\\xFF", "\\xFF", "", "\\x0E\\x10", "\\x01", "",
        "255", "-255", "0", "3600", "18446744073709551616", "0",
    };
    EXPECT_EQ(r.lines, expected);
}

TEST(BaseSwitch, NegativeValuesKeepTheirSignInBase64) {
    // Typed, switched to and from base 64, operated on and copied to X, a
    // negative value never loses its sign or leaves an empty X field behind.
    const auto r = script()
                       .operands("-255")
                       .base(64)
                       .show(IDC_FIELD_X)
                       .type(IDC_FIELD_Y, "-AQA")
                       .click(IDC_OP_ADD)
                       .show(IDC_FIELD_ANS)
                       .click(IDC_TO_X)
                       .click(IDC_OP_ADD)
                       .base(16)
                       .show(IDC_FIELD_X)
                       .show(IDC_FIELD_ANS)
                       .run();
    EXPECT_EQ(r.lines, (lines{"-AlU", "-A1U", "-355", "-455"}));
}

TEST(BaseSwitch, TheSameBaseAgainChangesNothing) {
    const auto r = script().base(10).type(X, "007").base(10).show(X).base(16).show(X).run();
    EXPECT_EQ(r.lines, (lines{"007", "7"}));
}

TEST(BaseSwitch, RegistersStayExactThroughEveryBase) {
    // 3^500 - 1 and its negative, taken round all eight bases twice.
    const std::string big =
        "36360291795869936842385267079543319118023385026001623040346035832580600191583895484198508262979388783308179702"
        "53440385575285593151701306614299243091656202578002177124784764345012534283656581320997259037159015257872800838"
        "5990139795377610000";
    auto s = script().base(10).type(X, big).type(Y, "-" + big);
    for (int round = 0; round < 2; ++round)
        for (int base : all_bases) s.base(base);
    s.base(10).show(X).show(Y).show(STATUS);
    const auto r = s.run();
    // The way back out of base 256 replaces its notice of Y's sign.
    EXPECT_EQ(r.lines, (lines{big, "-" + big, bit_line(793, 793, 0, 0, 0, 0)}));
}

// Only the way into base 256 speaks, and only of registers with a sign.
TEST(BaseSwitch, Base256SaysWhichRegistersLoseTheirSign) {
    const auto r = script()
                       .base(10)
                       .operands("-5", "3", "-2")
                       .click(IDC_OP_ADD)  // Ans = -2
                       .base(256)
                       .show(STATUS)
                       .click(IDC_OP_ADD)
                       .show(STATUS)
                       .base(16)
                       .type(X, "5")
                       .base(256)
                       .show(STATUS)
                       .base(10)
                       .type(Z, "0")
                       .click(IDC_OP_ADD)
                       .base(256)
                       .show(STATUS)
                       .run();
    EXPECT_EQ(r.lines, (lines{"Base 256 shows no sign: X, Z, Ans are negative.", bit_line(3, 2, 2, 0, 0, 2),
                              "Base 256 shows no sign: Z, Ans are negative.", bit_line(3, 2, 0, 0, 0, 4)}));
}

TEST(BaseSwitch, AZeroRegisterInBase256EmptiesItsField) {
    const auto r = script()
                       .base(256)
                       .type(X, "\x05")
                       .type(Y, "\x05")
                       .click(IDC_OP_ADD)
                       .show(ANS)
                       .click(IDC_OP_SUB)
                       .show(ANS)
                       .show(STATUS)
                       .run();
    EXPECT_EQ(r.lines, (lines{"\\n", "", bit_line(3, 3, 0, 0, 0, 0)}));
}

TEST(Frame, AnEmptyXChangesNothing) {
    const auto before = script().base(10).operands("5", "3").click(IDC_OP_ADD).click(IDC_CL_X).type(Y, "4");
    for (int button = IDC_OP_ADD; button <= IDC_OP_PRIME; ++button) {
        SCOPED_TRACE(button);
        auto pressed = before;
        pressed.click(button).show_all().base(16).show_fields();
        auto untouched = before;
        untouched.show_all().base(16).show_fields();
        EXPECT_EQ(pressed.run().lines, untouched.run().lines);
    }
}

TEST(Frame, OperandsOf65530BitsPassAndOf65531BitsAreRefusedInAnyRegister) {
    const std::string bits_65530 = lead("2", 16382, '0');  // 2^65529
    const std::string bits_65531 = lead("4", 16382, '0');  // 2^65530
    {
        const auto r = script().type(X, bits_65530).type(Y, bits_65530).click(IDC_OP_ADD).show(ANS).show(STATUS).run();
        EXPECT_EQ(r.lines, (lines{lead("4", 16382, '0'), bit_line(65530, 65530, 0, 0, 0, 65531)}));
    }
    for (int field : {X, Y, Z, A, B}) {
        SCOPED_TRACE(field);
        auto s = script().operands("1", "1").click(IDC_OP_ADD);
        s.type(field, bits_65531);
        if (field == X) s.type(Y, "1");
        s.click(IDC_OP_ADD).show(ANS).show(STATUS);
        const auto r = s.run();
        EXPECT_EQ(r.lines, (lines{"2", "Over Sized ...\\n"}));
    }
}

TEST(Frame, ARefusalLeavesAnswerAndBAsTheyWere) {
    const auto r = script()
                       .base(10)
                       .operands("7", "2", "", "", "99")
                       .click(IDC_OP_DIV)
                       .type(Y, "0")
                       .click(IDC_OP_DIV)
                       .show(ANS)
                       .show(B)
                       .show(STATUS)
                       .base(16)
                       .show(ANS)
                       .show(B)
                       .run();
    EXPECT_EQ(r.lines, (lines{"3", "1", "Invalid y ...\\n", "3", "1"}));
}

TEST(EngineErrors, ANegativeExponentIsShownClearedAndForgotten) {
    const auto r = script()
                       .base(10)
                       .operands("91", "3")
                       .click(IDC_OP_ADD)
                       .type(Y, "-1")
                       .click(IDC_OP_POWER)
                       .show_all()
                       .type(Y, "2")  // everything works again
                       .show(STATUS)
                       .click(IDC_OP_POWER)
                       .show(ANS)
                       .click(IDC_OP_PRIME)
                       .show(STATUS)
                       .run();
    EXPECT_EQ(r.lines, (lines{"91", "-1", "0", "0", "0", "94", "Raising integer to negative power\\n",
                              bit_line(7, 2, 0, 0, 0, 7), "8281", "X is NOT Prime, exactly divided by 7 (0x7) !"}));
}

TEST(EngineErrors, ZeroToANegativePowerToo) {
    const auto r = script().base(10).operands("0", "-5").click(IDC_OP_POWER).show(STATUS).type(Y, "0").click(IDC_OP_POWER).show(ANS).run();
    EXPECT_EQ(r.lines, (lines{"Raising integer to negative power\\n", "1"}));
}

// For each base: the largest digit 16384 and 20000 times. Bases 2 to 16
// hold 16384 digits, 2 and 8 also 20000; the rest overflow the engine,
// which the status says, while every register and field stays as it was.
TEST(BadInput, TheLongestTextsOfEveryBase) {
    struct Case {
        int base;
        std::string digit;
        int bits[2];  // for each length; 0: too long for the engine
    };
    const Case cases[] = {{2, "1", {16384, 20000}}, {8, "7", {49152, 60000}}, {10, "9", {54427, 0}},
                          {16, "F", {65536, 0}},    {36, "Z", {0, 0}},         {60, "x", {0, 0}},
                          {64, "/", {0, 0}},        {256, "\xFF", {0, 0}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.base);
        for (int k = 0; k < 2; ++k) {
            const int length = k == 0 ? 16384 : 20000;
            const int bits = c.bits[k];
            std::string text;
            for (int i = 0; i < length; ++i) text += c.digit;
            auto s = script().base(10).operands("21", "22", "23", "24", "25").click(IDC_OP_ADD).base(c.base);
            s.type(X, text).show(STATUS).base(10).show_fields();
            const auto r = s.run();
            ASSERT_EQ(r.lines.size(), 7u);
            if (bits > 65530) {
                // Held, and said at once to be beyond what operations take.
                EXPECT_EQ(r.lines[0], "X has " + std::to_string(bits) + " bits; operations take at most 65530.");
                EXPECT_NE(r.lines[1], "21");
            } else if (bits > 0) {
                EXPECT_EQ(r.lines[0], bit_line(bits, 5, 5, 5, 5, 6));
                EXPECT_NE(r.lines[1], "21");
            } else {
                EXPECT_EQ(r.lines[0], "Overflow - Number too big\\n");
                EXPECT_EQ(r.lines[1], "21");
            }
            EXPECT_EQ(lines(r.lines.begin() + 2, r.lines.end()), (lines{"22", "23", "24", "25", "43"}));
        }
    }
}

TEST(BadInput, AFailedReadShowsTheRegisterAgainAndTheNextReadWorks) {
    const auto r = script()
                       .base(36)
                       .type(X, "Z")
                       .type(X, std::string(16384, 'Z'))
                       .show(X)
                       .type(Y, "10")
                       .show(STATUS)
                       .click(IDC_OP_ADD)
                       .show(ANS)
                       .run();
    EXPECT_EQ(r.lines, (lines{"Z", bit_line(6, 6, 0, 0, 0, 0), "1Z"}));
}

// Every register can be written whole in every base, sign included: the
// largest values the engine holds (2049 words) and a sum just over the
// operand bound.
TEST(LongValues, EveryRegisterIsWrittenWholeInBase2) {
    {
        const auto r = script().base(256).type(X, std::string(8196, '\xFF')).show(STATUS).base(2).show(X).run();
        ASSERT_EQ(r.lines.size(), 2u);
        EXPECT_EQ(r.lines[0], "X has 65568 bits; operations take at most 65530.");
        EXPECT_EQ(r.lines[1], std::string(65568, '1'));
    }
    {
        const auto r = script().base(60).type(X, lead("-", 11100, 'x')).show(STATUS).base(2).show(X).run();
        ASSERT_EQ(r.lines.size(), 2u);
        EXPECT_EQ(r.lines[0], "X has 65567 bits; operations take at most 65530.");
        ASSERT_EQ(r.lines[1].size(), 65568u);
        EXPECT_EQ(r.lines[1].substr(0, 2), "-1");
    }
    {
        const std::string max = lead("3", 16382, 'F');  // 2^65530 - 1
        const auto r = script()
                           .type(X, "-" + max)
                           .type(Y, max)
                           .click(IDC_OP_SUB)
                           .show(STATUS)
                           .base(2)
                           .show(ANS)
                           .click(IDC_CL_X)
                           .click(IDC_OP_ADD)  // X field empty: nothing happens
                           .type(X, "0")
                           .click(IDC_OP_ADD)
                           .show(ANS)
                           .run();
        ASSERT_EQ(r.lines.size(), 3u);
        EXPECT_EQ(r.lines[0], bit_line(65530, 65530, 0, 0, 0, 65531));
        EXPECT_EQ(r.lines[1], lead("-", 65530, '1') + "0");
        EXPECT_EQ(r.lines[2], std::string(65530, '1'));
    }
}

}  // namespace

namespace {

using lines = std::vector<std::string>;

std::string bits_of(long long v) {
    int n = 0;
    for (unsigned long long m = static_cast<unsigned long long>(v < 0 ? -v : v); m != 0; m >>= 1) ++n;
    return "Bits: x- " + std::to_string(n) + " y- 0 z- 0 a- 0 b- 0 ans- 0";
}

// No number changes without a word: a text brought in whole (torvane-headless's
// type, as a paste) is read strictly in each base, both signs, or refused
// whole with the field and register as they were; blanks before a sign keep
// it; a single key that is no digit is dropped with a hint.
TEST(HonestInput, EachTextIsReadAsWrittenOrRefusedWithItsReason) {
    struct Row {
        int base;
        const char* before;  // X's text first
        const char* text;    // then this
        const char* shown;   // X's field after it
        long long value;     // X after it
        const char* status;  // null: the bit-length line
    };
    // Beyond what a register holds once its prefix is read: the field shows
    // its old text again, not the text without the prefix.
    static const std::string too_long = lead("-0X", 16397, 'F');
    const Row rows[] = {
        {10, "7", "  -5", "-5", -5, nullptr},
        {10, "7", "- 5", "-5", -5, nullptr},
        {10, "7", "  5", "5", 5, nullptr},
        {10, "7", "1,000,000.00", "7", 7, "X unchanged: ',' is not a base-10 digit."},
        {10, "7", "1.5", "7", 7, "X unchanged: '.' is not a base-10 digit."},
        {10, "7", "1e6", "7", 7, "X unchanged: 'e' is not a base-10 digit."},
        {10, "-7", "3-4", "-7", -7, "X unchanged: '-' is a sign only in front of the digits."},
        {10, "7", "0x1F", "7", 7, "X unchanged: 'x' is not a base-10 digit."},
        {10, "7", "1 000_000\r\n", "1000000", 1000000, nullptr},
        {10, "7", "a", "", 0, "X: 'a' is not a base-10 digit."},
        {2, "1", " \t-101", "-101", -5, nullptr},
        {2, "1", "-0b101", "-101", -5, nullptr},
        {2, "1", "102", "1", 1, "X unchanged: '2' is not a base-2 digit."},
        {8, "1", "\n-17", "-17", -15, nullptr},
        {8, "1", "0o17", "17", 15, nullptr},
        {16, "7", "0x1F", "1F", 31, nullptr},
        {16, "7", "  -0X1f", "-1f", -31, nullptr},
        {16, "-7", "1G", "-7", -7, "X unchanged: 'G' is not a base-16 digit."},
        {16, "7", too_long.c_str(), "7", 7, "Overflow - Number too big\n"},
        {36, "1", "  -Z", "-Z", -35, nullptr},
        {36, "1", "zz", "1", 1, "X unchanged: 'z' is not a base-36 digit."},
        {60, "1", "  -x", "-x", -59, nullptr},
        {60, "1", "x.x", "1", 1, "X unchanged: '.' is not a base-60 digit."},
        {64, "AQ", " -AQAB", "-AQAB", -65537, nullptr},
        {64, "AQ", "/w==", "/w", 255, nullptr},
        {64, "AQ", "/w=A", "AQ", 1, "X unchanged: 'A' is not a base-64 digit."},
        {256, "A", "  -5", "  -5", 0x20202D35, nullptr},
        {256, "A", "1,0", "1,0", 0x312C30, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.base) + " \"" + row.text + "\"");
        const auto r = script()
                           .base(row.base)
                           .type(X, row.before)
                           .type(X, row.text)
                           .show(X)
                           .show(STATUS)
                           .base(row.base == 16 ? 8 : 16)
                           .base(10)
                           .show(X)
                           .run();
        EXPECT_EQ(r.lines, (lines{row.shown, escaped(row.status != nullptr ? row.status : bits_of(row.value)),
                                  std::to_string(row.value)}));
    }
}

// Base 256 writes zero as nothing and ends a value's text at its first zero
// byte: an empty X is 0 for an operation, and a field cut at a zero byte is
// never passed off as the whole value. Each notice goes with the next base
// switch, CL or TO X.
TEST(HonestInput, Base256NeverPassesACutValueForTheWhole) {
    const auto r = script()
                       .base(10)
                       .operands("3", "5")
                       .click(IDC_OP_ADD)  // Ans = 8
                       .base(256)
                       .click(IDC_CL_X)
                       .click(IDC_OP_ADD)  // 0 + 5
                       .show(ANS)
                       .show(STATUS)
                       .base(16)
                       .type(X, "100")
                       .type(Y, "-101")
                       .click(IDC_OP_MUL)  // -10100
                       .base(256)
                       .show(X)
                       .show(ANS)
                       .show(STATUS)
                       .click(IDC_OP_ADD)  // 100 - 101 = -1: nothing cut
                       .show(ANS)
                       .show(STATUS)
                       .click(IDC_OP_MUL)  // -10100 again
                       .show(STATUS)
                       .click(IDC_TO_X)
                       .show(X)
                       .show(STATUS)
                       .click(IDC_CL_Y)
                       .show(STATUS)
                       .type(Z, "\x01\x01")
                       .click(IDC_OP_PRODUCT)  // X*Y*Z*A*B with Y = 0
                       .show(ANS)
                       .show(STATUS)
                       .base(16)
                       .show(ANS)
                       .show(STATUS)
                       .run();
    EXPECT_EQ(r.lines, (lines{
                           "\\x05", bit_line(0, 3, 0, 0, 0, 3),
                           "\\x01", "\\x01\\x01",
                           "Base 256 shows no sign: Y, Ans are negative. Zero bytes: X shows only its first 1 of 2 bytes, "
                           "Ans 2 of 3; base 16 shows them whole.",
                           "\\x01", bit_line(9, 9, 0, 0, 0, 1),
                           "Zero byte: Ans shows only its first 2 of 3 bytes; base 16 shows it whole.",
                           "\\x01\\x01", "Answer copied to X. Zero byte: X shows only its first 2 of 3 bytes; base 16 shows it whole.",
                           bit_line(17, 0, 0, 0, 0, 17),
                           "", bit_line(17, 0, 9, 0, 0, 0),
                           "0", bit_line(17, 0, 9, 0, 0, 0),
                       }));
}

// An operand over the operations' bound is told when it is typed; a text
// longer than the field takes is refused whole.
TEST(HonestInput, LimitsAreToldAtOnce) {
    const auto r = script()
                       .type(X, lead("1", 16384, '0'))
                       .show(STATUS)
                       .click(IDC_OP_ADD)
                       .show(STATUS)
                       .base(2)
                       .type(Y, "101")
                       .type(Y, std::string(65532, '1'))
                       .show(Y)
                       .show(STATUS)
                       .run();
    EXPECT_EQ(r.lines, (lines{"X has 65537 bits; operations take at most 65530.", "Over Sized ...\\n", "101",
                              "Y unchanged: Y takes at most 65531 characters."}));
}

}  // namespace
