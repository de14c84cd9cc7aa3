// The calculation cycle through torvane-headless: reading fields in every
// base, redrawing them on a base switch, the operation frame, what engine
// errors and bad input leave behind.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "headless_driver.h"

namespace {

using lines = std::vector<std::string>;

std::string bit_line(int x, int y, int z, int a, int b, int ans) {
    return "Bits: x- " + std::to_string(x) + " y- " + std::to_string(y) + " z- " + std::to_string(z) + " a- " +
           std::to_string(a) + " b- " + std::to_string(b) + " ans- " + std::to_string(ans);
}

// Every base in the order of the radio buttons.
const int all_bases[] = {2, 8, 10, 16, 36, 60, 64, 256};

TEST(Parse, StrayCharactersVanishAndTheStatusShowsBitLengths) {
    const auto r = script().base(10).type(X, "12a").show(X).show(STATUS).base(16).show(X).run();
    EXPECT_EQ(r.lines, (lines{"12", bit_line(4, 0, 0, 0, 0, 0), "C"}));
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

TEST(Parse, Base16KeepsLowerCaseBase36DropsIt) {
    const auto r = script().type(X, "abc").show(X).base(36).type(Y, "abcZ").show(Y).base(10).show(X).show(Y).run();
    EXPECT_EQ(r.lines, (lines{"abc", "Z", "2748", "35"}));
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

TEST(Parse, AFieldOfStrayCharactersOnlyReadsAsZeroInEveryFilteredBase) {
    for (int base : {2, 8, 10, 16, 36, 60, 64}) {
        SCOPED_TRACE(base);
        auto s = script().base(10).operands("7", "8", "9", "10", "11").base(base);
        s.type(X, "?!., ;:*&^%$#@()[]{}<>|~=_\"'").show(X).show(STATUS).base(base == 16 ? 8 : 16).base(10).show_fields();
        const auto r = s.run();
        EXPECT_EQ(r.lines, (lines{"", bit_line(0, 4, 4, 4, 4, 0), "0", "8", "9", "10", "11", "0"}));
    }
}

// Typing "-7" into a field that shows 0 gives "0-7": still minus seven.
TEST(Parse, AMinusAfterOnlyZerosIsTheSign) {
    const auto r = script().base(10).type(X, "0-7").show(X).type(Y, "00-12").show(Y).type(Z, "10-7").show(Z).click(IDC_OP_ADD).show(ANS).run();
    EXPECT_EQ(r.lines, (lines{"-7", "-12", "107", "-19"}));
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
        "11111111", "-11111111", "0", "111000010000", "1" + std::string(64, '0'), "0",
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
    // The last word in the status is the second way into base 256.
    EXPECT_EQ(r.lines, (lines{big, "-" + big, "Base 256 shows no sign: Y is negative."}));
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
    const std::string bits_65530 = "2" + std::string(16382, '0');  // 2^65529
    const std::string bits_65531 = "4" + std::string(16382, '0');  // 2^65530
    {
        const auto r = script().type(X, bits_65530).type(Y, bits_65530).click(IDC_OP_ADD).show(ANS).show(STATUS).run();
        EXPECT_EQ(r.lines, (lines{"4" + std::string(16382, '0'), bit_line(65530, 65530, 0, 0, 0, 65531)}));
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
            if (bits > 0) {
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
        EXPECT_EQ(r.lines[0], bit_line(65568, 0, 0, 0, 0, 0));
        EXPECT_EQ(r.lines[1], std::string(65568, '1'));
    }
    {
        const auto r = script().base(60).type(X, "-" + std::string(11100, 'x')).show(STATUS).base(2).show(X).run();
        ASSERT_EQ(r.lines.size(), 2u);
        EXPECT_EQ(r.lines[0], bit_line(65567, 0, 0, 0, 0, 0));
        ASSERT_EQ(r.lines[1].size(), 65568u);
        EXPECT_EQ(r.lines[1].substr(0, 2), "-1");
    }
    {
        const std::string max = "3" + std::string(16382, 'F');  // 2^65530 - 1
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
        EXPECT_EQ(r.lines[1], "-" + std::string(65530, '1') + "0");
        EXPECT_EQ(r.lines[2], std::string(65530, '1'));
    }
}

}  // namespace
