// The fifteen operations through torvane-headless, in base 10: their
// answers, their refusals and the operand registers they leave alone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "headless_driver.h"

namespace {

using lines = std::vector<std::string>;

struct outcome {
    std::string ans, b, status;
    lines registers;  // X, Y, Z, A, B, Ans redrawn from the registers afterwards
};

// Types the operands in base 10 (X, Y, Z, A, B; empty ones left at 0),
// presses `button`, and redraws every field from its register by switching
// to base 16 and back. Every operand register but B must be as typed.
outcome calc(int button, const lines& operands) {
    auto s = script().base(10);
    const int fields[] = {X, Y, Z, A, B};
    for (std::size_t i = 0; i < operands.size(); ++i) {
        if (!operands[i].empty()) s.type(fields[i], operands[i]);
    }
    s.click(button).show(ANS).show(B).show(STATUS).base(16).base(10).show_fields();
    const auto r = s.run();
    outcome o;
    if (r.lines.size() != 9) {
        ADD_FAILURE() << "unexpected output of " << r.lines.size() << " lines";
        return o;
    }
    o.ans = r.lines[0];
    o.b = r.lines[1];
    o.status = r.lines[2];
    o.registers.assign(r.lines.begin() + 3, r.lines.end());
    for (std::size_t i = 0; i < 4; ++i) {
        const std::string typed = i < operands.size() && !operands[i].empty() ? operands[i] : "0";
        EXPECT_EQ(o.registers[i], typed) << "operand register " << i << " changed";
    }
    EXPECT_EQ(o.registers[5], o.ans) << "Ans field and register differ";
    return o;
}

std::string answer(int button, const lines& operands) { return calc(button, operands).ans; }
std::string status(int button, const lines& operands) { return calc(button, operands).status; }

bool is_bit_line(const std::string& s) { return s.rfind("Bits: x- ", 0) == 0; }

const std::string p127 = "170141183460469231731687303715884105727";  // 2^127 - 1, prime
const std::string p521 =
    "686479766013060971498190079908139321726943530014330540939446345918554318339765605212255964066145455497729631139148"
    "0858037121987999716643812574028291115057151";  // 2^521 - 1, prime
const std::string p521_less_1 =
    "686479766013060971498190079908139321726943530014330540939446345918554318339765605212255964066145455497729631139148"
    "0858037121987999716643812574028291115057150";

TEST(AddSubtract, SignsAndTheBitLine) {
    const outcome o = calc(IDC_OP_ADD, {"5", "3"});
    EXPECT_EQ(o.ans, "8");
    EXPECT_EQ(o.status, "Bits: x- 3 y- 2 z- 0 a- 0 b- 0 ans- 4");
    EXPECT_EQ(answer(IDC_OP_SUB, {"3", "5"}), "-2");
    EXPECT_EQ(answer(IDC_OP_ADD, {"-18446744073709551616", "18446744073709551615"}), "-1");
    EXPECT_EQ(answer(IDC_OP_SUB, {"-5", "-5"}), "0");
}

TEST(Multiply, ProductsAndTheBitBound) {
    EXPECT_EQ(answer(IDC_OP_MUL, {"12345678901234567890", "98765432109876543210"}),
              "1219326311370217952237463801111263526900");
    EXPECT_EQ(answer(IDC_OP_MUL, {"-3", "4"}), "-12");
    EXPECT_EQ(answer(IDC_OP_MUL, {"0", "-4"}), "0");
    // 2^32764 has 32765 bits: two of them make exactly the bound.
    const std::string half = "1" + std::string(8191, '0');  // 2^32764 in hexadecimal
    auto accepted = script().type(X, half).type(Y, half).click(IDC_OP_MUL).show(STATUS).run();
    EXPECT_EQ(accepted.lines, (lines{"Bits: x- 32765 y- 32765 z- 0 a- 0 b- 0 ans- 65529"}));
    auto refused = script().type(X, half).type(Y, "2" + std::string(8191, '0')).click(IDC_OP_MUL).show(ANS).show(STATUS).run();
    EXPECT_EQ(refused.lines, (lines{"", "Over Sized ...\\n"}));
}

TEST(Divide, TruncatesTowardsZeroWithTheRemainderInB) {
    outcome o = calc(IDC_OP_DIV, {"-7", "2"});
    EXPECT_EQ(o.ans, "-3");
    EXPECT_EQ(o.b, "-1");
    o = calc(IDC_OP_DIV, {"7", "-2"});
    EXPECT_EQ(o.ans, "-3");
    EXPECT_EQ(o.b, "1");
    o = calc(IDC_OP_DIV, {"340282366920938463463374607431768211457", "18446744073709551616"});
    EXPECT_EQ(o.ans, "18446744073709551616");
    EXPECT_EQ(o.b, "1");
    o = calc(IDC_OP_DIV, {"7", "0", "", "", "99"});
    EXPECT_EQ(o.status, "Invalid y ...\\n");
    EXPECT_EQ(o.ans, "0");
    EXPECT_EQ(o.b, "99");
    EXPECT_EQ(o.registers[4], "99") << "B is left untouched by the refusal";
}

TEST(Power, PowersAndTheirBound) {
    EXPECT_EQ(answer(IDC_OP_POWER, {"3", "5"}), "243");
    EXPECT_EQ(answer(IDC_OP_POWER, {"-2", "3"}), "-8");
    EXPECT_EQ(answer(IDC_OP_POWER, {"7", "0"}), "1");
    EXPECT_EQ(answer(IDC_OP_POWER, {"0", "0"}), "1");
    EXPECT_EQ(answer(IDC_OP_POWER, {"0", "1099511627776"}), "0") << "a huge n is fine for X = 0";
    EXPECT_EQ(answer(IDC_OP_POWER, {"18446744073709551616", "2"}), "340282366920938463463374607431768211456");
    // 2 has two bits: n = 32765 makes 65530 and passes, 32766 does not.
    EXPECT_EQ(status(IDC_OP_POWER, {"2", "32765"}), "Bits: x- 2 y- 15 z- 0 a- 0 b- 0 ans- 32766");
    EXPECT_EQ(status(IDC_OP_POWER, {"2", "32766"}), "Over Sized ...\\n");
    EXPECT_EQ(status(IDC_OP_POWER, {"-1", "65531"}), "Over Sized ...\\n");
}

TEST(Root, RootAndRemainderOfTheMagnitude) {
    struct Case {
        const char *x, *n, *root, *rest;
    };
    for (const Case c : {Case{"26", "3", "2", "18"}, Case{"27", "3", "3", "0"}, Case{"100", "9", "1", "99"},
                         Case{"-27", "3", "3", "0"}, Case{"-26", "3", "2", "18"}, Case{"-100", "9", "1", "99"},
                         Case{"0", "2", "0", "0"}, Case{"0", "1000000", "0", "0"}, Case{"-1", "5", "1", "0"},
                         Case{"1", "2", "1", "0"}, Case{"-16", "4", "2", "0"},
                         Case{"10000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000", "2",
                              "100000000000000000000000000000000000000000000000000", "0"},
                         Case{"9999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999", "2",
                              "99999999999999999999999999999999999999999999999999",
                              "199999999999999999999999999999999999999999999999998"}}) {
        SCOPED_TRACE(std::string(c.x) + " " + c.n);
        const outcome o = calc(IDC_OP_ROOT, {c.x, c.n});
        EXPECT_EQ(o.ans, c.root);
        EXPECT_EQ(o.b, c.rest);
        EXPECT_EQ(o.registers[4], c.rest);
    }
    EXPECT_EQ(status(IDC_OP_ROOT, {"27", "1"}), "Invalid y ...\\n");
    EXPECT_EQ(status(IDC_OP_ROOT, {"27", "-3"}), "Invalid y ...\\n");
}

TEST(Factorial, OfTheMagnitudeUpTo5910) {
    EXPECT_EQ(answer(IDC_OP_FACTORIAL, {"0"}), "1");
    EXPECT_EQ(answer(IDC_OP_FACTORIAL, {"1"}), "1");
    EXPECT_EQ(answer(IDC_OP_FACTORIAL, {"-5"}), "120");
    EXPECT_EQ(answer(IDC_OP_FACTORIAL, {"20"}), "2432902008176640000");
    EXPECT_EQ(status(IDC_OP_FACTORIAL, {"5910"}), "Bits: x- 13 y- 0 z- 0 a- 0 b- 0 ans- 65528");
    EXPECT_EQ(status(IDC_OP_FACTORIAL, {"5911"}), "OverSized, make sure: x <= 5910 (HEX: 1716)!");
    EXPECT_EQ(status(IDC_OP_FACTORIAL, {"-5911"}), "OverSized, make sure: x <= 5910 (HEX: 1716)!");
    EXPECT_EQ(status(IDC_OP_FACTORIAL, {"18446744073709551616"}), "OverSized, make sure: x <= 5910 (HEX: 1716)!");
}

TEST(Product, FiveFactorsAndTheirBound) {
    EXPECT_EQ(answer(IDC_OP_PRODUCT, {"2", "3", "4", "5", "6"}), "720");
    EXPECT_EQ(answer(IDC_OP_PRODUCT, {"-2", "3", "4", "5", "-6"}), "720");
    EXPECT_EQ(answer(IDC_OP_PRODUCT, {"2", "3", "4", "5"}), "0") << "B at 0";
    const std::string bits_65530 = "2" + std::string(16382, '0');
    auto r = script().type(X, bits_65530).click(IDC_OP_PRODUCT).show(ANS).show(STATUS).type(Y, "1")
                 .click(IDC_OP_PRODUCT).show(STATUS).run();
    EXPECT_EQ(r.lines, (lines{"0", "Bits: x- 65530 y- 0 z- 0 a- 0 b- 0 ans- 0", "Over Sized ...\\n"}));
}

TEST(PowerMod, BasesExponentsAndModuli) {
    EXPECT_EQ(answer(IDC_OP_POWMOD, {"3", "5", "7"}), "5");
    EXPECT_EQ(answer(IDC_OP_POWMOD, {"-3", "5", "7"}), "5") << "the base counts as |X|";
    EXPECT_EQ(answer(IDC_OP_POWMOD, {"3", "-1", "7"}), "5") << "the inverse of 3";
    EXPECT_EQ(answer(IDC_OP_POWMOD, {"3", "5", "-7"}), "5");
    EXPECT_EQ(answer(IDC_OP_POWMOD, {"3", "4", "10"}), "1") << "an even modulus";
    EXPECT_EQ(answer(IDC_OP_POWMOD, {"2", "1024", "1000000007"}), "812734592");
    EXPECT_EQ(answer(IDC_OP_POWMOD, {"123456789", "987654321", "1000000000000000000000000000000"}),
              "909077141664922883132974933589");
    EXPECT_EQ(answer(IDC_OP_POWMOD, {"3", "100", "1361129467683753853853498429727072845824"}),
              "817762909947406318026137441734300799953");
    EXPECT_EQ(answer(IDC_OP_POWMOD, {"5", "12345", p127}), "3537955558473137242696572088699820485");
    EXPECT_EQ(answer(IDC_OP_POWMOD, {"7", "-3", p127}), "121033378321733214409713417220628926523");
    EXPECT_EQ(answer(IDC_OP_POWMOD, {"3", p521_less_1, p521}), "1");
    EXPECT_EQ(answer(IDC_OP_POWMOD, {"0", "5", "7"}), "0");
    for (const char* z : {"1", "0", "-1"}) EXPECT_EQ(status(IDC_OP_POWMOD, {"3", "5", z}), "Invalid z ...\\n") << z;
}

// Judgement calls: X^0 is 1 for every modulus, and a negative exponent of a
// base without an inverse has no answer.
TEST(PowerMod, ZeroExponentsAndMissingInverses) {
    EXPECT_EQ(answer(IDC_OP_POWMOD, {"0", "0", "7"}), "1");
    EXPECT_EQ(answer(IDC_OP_POWMOD, {"0", "0", "10"}), "1");
    EXPECT_EQ(answer(IDC_OP_POWMOD, {"10", "0", "10"}), "1");
    EXPECT_EQ(status(IDC_OP_POWMOD, {"2", "-1", "4"}), "Invalid x ...\\n");
    EXPECT_EQ(status(IDC_OP_POWMOD, {"0", "-1", "7"}), "Invalid x ...\\n");
    EXPECT_EQ(answer(IDC_OP_POWMOD, {"-3", "-1", "7"}), "2") << "the inverse of -3 is 2";
}

TEST(ModularDivide, SolvesAnsTimesXIsYModZ) {
    EXPECT_EQ(answer(IDC_OP_MODDIV, {"4", "6", "10"}), "4");
    EXPECT_EQ(answer(IDC_OP_MODDIV, {"3", "5", "-7"}), "4");
    EXPECT_EQ(answer(IDC_OP_MODDIV, {"6", "4", "10"}), "4");
    EXPECT_EQ(answer(IDC_OP_MODDIV, {"10", "0", "5"}), "0");
    EXPECT_EQ(answer(IDC_OP_MODDIV, {"7", "1", p127}), "145835300108973627198589117470757804909");
    EXPECT_EQ(status(IDC_OP_MODDIV, {"4", "3", "10"}), "A*x = y (mod Z) has no answer ...\\n");
    EXPECT_EQ(status(IDC_OP_MODDIV, {"10", "1", "5"}), "A*x = y (mod Z) has no answer ...\\n");
    EXPECT_EQ(status(IDC_OP_MODDIV, {"1", "5", "7"}), "Invalid x ...\\n");
    EXPECT_EQ(status(IDC_OP_MODDIV, {"-1", "5", "1"}), "Invalid x ...\\n") << "X is checked first";
    EXPECT_EQ(status(IDC_OP_MODDIV, {"3", "5", "1"}), "Invalid z ...\\n");
    EXPECT_EQ(status(IDC_OP_MODDIV, {"3", "5", "0"}), "Invalid z ...\\n");
}

// The check compares r*X and Y as residues modulo |Z|, so a Y outside
// 0 ... |Z|-1 or a negative X has its answer too.
TEST(ModularDivide, AnyYAndANegativeX) {
    EXPECT_EQ(answer(IDC_OP_MODDIV, {"3", "12", "7"}), "4");
    EXPECT_EQ(answer(IDC_OP_MODDIV, {"3", "-2", "7"}), "4");
    EXPECT_EQ(answer(IDC_OP_MODDIV, {"-3", "5", "7"}), "3");
    EXPECT_EQ(answer(IDC_OP_MODDIV, {"-4", "-6", "-10"}), "4");
    EXPECT_EQ(answer(IDC_OP_MODDIV, {"4", "16", "10"}), "4");
    EXPECT_EQ(status(IDC_OP_MODDIV, {"4", "13", "10"}), "A*x = y (mod Z) has no answer ...\\n");
}

TEST(Gcd, GcdAndLcm) {
    outcome o = calc(IDC_OP_GCD, {"12", "18"});
    EXPECT_EQ(o.ans, "6");
    EXPECT_EQ(o.b, "36");
    o = calc(IDC_OP_GCD, {"-12", "18"});
    EXPECT_EQ(o.ans, "6");
    EXPECT_EQ(o.b, "-36");
    // gcd(2^120 - 1, 2^84 - 1) = 2^12 - 1.
    o = calc(IDC_OP_GCD, {"1329227995784915872903807060280344575", "19342813113834066795298815"});
    EXPECT_EQ(o.ans, "4095");
    EXPECT_EQ(o.b, "6278634605163331967929521892119806064980845392645557579775");
    // Coprime 40001-bit operands: their LCM is beyond what the engine holds.
    // Its overflow is shown, and GCD, LCM and the operands stay as they were.
    const std::string big = "1" + std::string(9999, '0');  // 2^40000 in hexadecimal
    auto r = script()
                 .type(X, big + "1")
                 .type(Y, big + "3")
                 .click(IDC_OP_GCD)
                 .show(ANS)
                 .show(B)
                 .show(STATUS)
                 .click(IDC_OP_ADD)
                 .show(STATUS)
                 .run();
    EXPECT_EQ(r.lines, (lines{"", "", "Overflow - Number too big\\n", "Bits: x- 40001 y- 40001 z- 0 a- 0 b- 0 ans- 40002"}));
    for (const lines& bad : {lines{"1", "5"}, lines{"5", "-1"}, lines{"0", "5"}, lines{"-1", "0"}}) {
        EXPECT_EQ(status(IDC_OP_GCD, bad), "Invalid x or y ...\\n") << bad[0] << " " << bad[1];
    }
}

TEST(Prime, VerdictsInTheStatusField) {
    struct Case {
        const char *x, *verdict;
    };
    for (const Case c : {Case{"1", "Are you kidding me? So small an X."}, Case{"0", "Are you kidding me? So small an X."},
                         Case{"-1", "Are you kidding me? So small an X."}, Case{"2", "X is Prime !"},
                         Case{"65521", "X is Prime !"}, Case{"65537", "X is Prime !"}, Case{"65539", "X is Prime !"},
                         Case{"91", "X is NOT Prime, exactly divided by 7 (0x7) !"},
                         Case{"-7", "X is NOT Prime, exactly divided by 7 (0x7) !"},
                         Case{"4295098369", "X is NOT Prime, exactly divided by 65537 (0x10001) !"},
                         Case{"4295622677", "X is NOT Prime."},  // 65539 * 65543
                         Case{"1427247692705959880439315947500961989719490561", "X is NOT Prime."},
                         Case{p127.c_str(), "X is Prime !"}, Case{p521.c_str(), "X is Prime !"}}) {
        SCOPED_TRACE(c.x);
        const outcome o = calc(IDC_OP_PRIME, {c.x});
        EXPECT_EQ(o.status, c.verdict);
        EXPECT_EQ(o.ans, "0") << "Ans is not touched";
    }
}

TEST(LinearMod, ReducedIntoZeroToZMinusOne) {
    EXPECT_EQ(answer(IDC_OP_LINEAR_MOD, {"5", "9", "7", "1", "-1"}), "3");
    EXPECT_EQ(answer(IDC_OP_LINEAR_MOD, {"5", "9", "-7", "1", "-1"}), "3");
    EXPECT_EQ(answer(IDC_OP_LINEAR_MOD, {"5", "9", "0", "1", "-1"}), "-4") << "Z = 0 leaves the sum";
    EXPECT_EQ(answer(IDC_OP_LINEAR_MOD, {"5", "9", "100", "2", "3"}), "37");
    const std::string bits_65530 = "2" + std::string(16382, '0');
    for (int field : {A, B}) {
        auto r = script().type(X, "2").type(Y, "2").type(field, bits_65530).click(IDC_OP_LINEAR_MOD).show(STATUS).run();
        EXPECT_EQ(r.lines, (lines{"Over Sized ...\\n"})) << field;
    }
}

TEST(PowerMod2, JointPowersModZ) {
    EXPECT_EQ(answer(IDC_OP_POWMOD2, {"2", "3", "7", "3", "2"}), "2");
    EXPECT_EQ(answer(IDC_OP_POWMOD2, {"2", "3", "10", "3", "2"}), "2");
    EXPECT_EQ(answer(IDC_OP_POWMOD2, {"2", "3", "-7", "3", "2"}), "2");
    EXPECT_EQ(answer(IDC_OP_POWMOD2, {"2", "1", "7", "-1", "1"}), "4") << "A = -1 uses the inverse of 2";
    EXPECT_EQ(answer(IDC_OP_POWMOD2, {"2", "3", "7", "3", "-2"}), "4");
    EXPECT_EQ(answer(IDC_OP_POWMOD2, {"-2", "-9", "7", "3", "2"}), "3");
    EXPECT_EQ(answer(IDC_OP_POWMOD2, {"2", "3", p521, p521_less_1, p521_less_1}), "1");
    EXPECT_EQ(status(IDC_OP_POWMOD2, {"2", "3", "1", "3", "2"}), "Invalid z ...\\n");
    EXPECT_EQ(status(IDC_OP_POWMOD2, {"2", "3", "-1", "3", "2"}), "Invalid z ...\\n");
}

// Judgement calls: a zero exponent makes its factor 1 even for a base that
// is a multiple of Z, and a negative exponent needs an inverse.
TEST(PowerMod2, ZeroExponentsAndMissingInverses) {
    EXPECT_EQ(answer(IDC_OP_POWMOD2, {"2", "7", "7", "3", "0"}), "1");
    EXPECT_EQ(answer(IDC_OP_POWMOD2, {"7", "3", "7", "0", "2"}), "2");
    EXPECT_EQ(answer(IDC_OP_POWMOD2, {"10", "3", "10", "0", "2"}), "9");
    EXPECT_EQ(status(IDC_OP_POWMOD2, {"2", "3", "4", "-1", "1"}), "Invalid x ...\\n");
    EXPECT_EQ(status(IDC_OP_POWMOD2, {"3", "2", "4", "1", "-1"}), "Invalid y ...\\n");
}

TEST(PowerSum, PowersSkippingZeroBases) {
    EXPECT_EQ(answer(IDC_OP_POWER_SUM, {"2", "3", "1", "10", "2"}), "1034");
    EXPECT_EQ(answer(IDC_OP_POWER_SUM, {"0", "0", "5", "0", "0"}), "5");
    EXPECT_EQ(answer(IDC_OP_POWER_SUM, {"2", "3", "-7", "100", "50"}), "1267651318126217093349291975618");
    EXPECT_EQ(answer(IDC_OP_POWER_SUM, {"-2", "0", "0", "3", "9"}), "-8");
    EXPECT_EQ(status(IDC_OP_POWER_SUM, {"2", "3", "1", "-1", "2"}), "Invalid A or B, make sure A, B >0 ...\\n");
    EXPECT_EQ(status(IDC_OP_POWER_SUM, {"2", "3", "1", "1", "-2"}), "Invalid A or B, make sure A, B >0 ...\\n");
    EXPECT_EQ(status(IDC_OP_POWER_SUM, {"2", "3", "1", "32766", "1"}), "Over Sized ...\\n");
    EXPECT_EQ(status(IDC_OP_POWER_SUM, {"2", "3", "1", "1", "32766"}), "Over Sized ...\\n");
    EXPECT_EQ(status(IDC_OP_POWER_SUM, {"2", "3", "1", "32766", "-1"}), "Over Sized ...\\n") << "size before sign";
    EXPECT_TRUE(is_bit_line(status(IDC_OP_POWER_SUM, {"2", "3", "1", "32765", "1"})));
}

}  // namespace
