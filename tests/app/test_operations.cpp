// The fifteen operations through torvane-headless, in base 10: their
// answers, their refusals and the operand registers they leave alone.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "headless_driver.h"
#include "headless_session.h"

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
    EXPECT_EQ(status(IDC_OP_POWER, {"-2", "32766"}), "Over Sized ...\\n");
}

TEST(Root, RootAndRemainder) {
    struct Case {
        const char *x, *n, *root, *rest;
    };
    for (const Case c : {Case{"26", "3", "2", "18"}, Case{"27", "3", "3", "0"}, Case{"100", "9", "1", "99"},
                         Case{"0", "2", "0", "0"}, Case{"0", "1000000", "0", "0"}, Case{"1", "2", "1", "0"},
                         Case{"16", "4", "2", "0"},
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

TEST(Factorial, UpTo5910) {
    EXPECT_EQ(answer(IDC_OP_FACTORIAL, {"0"}), "1");
    EXPECT_EQ(answer(IDC_OP_FACTORIAL, {"1"}), "1");
    EXPECT_EQ(answer(IDC_OP_FACTORIAL, {"20"}), "2432902008176640000");
    EXPECT_EQ(status(IDC_OP_FACTORIAL, {"5910"}), "Bits: x- 13 y- 0 z- 0 a- 0 b- 0 ans- 65528");
    EXPECT_EQ(status(IDC_OP_FACTORIAL, {"5911"}), "OverSized, make sure: x <= 5910 (HEX: 1716)!");
    EXPECT_EQ(status(IDC_OP_FACTORIAL, {"18446744073709551616"}), "OverSized, make sure: x <= 5910 (HEX: 1716)!");
}

TEST(Product, FiveFactorsAndTheirBound) {
    EXPECT_EQ(answer(IDC_OP_PRODUCT, {"2", "3", "4", "5", "6"}), "720");
    EXPECT_EQ(answer(IDC_OP_PRODUCT, {"-2", "3", "4", "5", "-6"}), "720");
    EXPECT_EQ(answer(IDC_OP_PRODUCT, {"2", "3", "4", "5"}), "0") << "B at 0";
}

TEST(PowerMod, BasesExponentsAndModuli) {
    EXPECT_EQ(answer(IDC_OP_POWMOD, {"3", "5", "7"}), "5");
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

TEST(PowerSum, PowersAndTheirBound) {
    EXPECT_EQ(answer(IDC_OP_POWER_SUM, {"2", "3", "1", "10", "2"}), "1034");
    EXPECT_EQ(answer(IDC_OP_POWER_SUM, {"2", "3", "-7", "100", "50"}), "1267651318126217093349291975618");
    EXPECT_EQ(answer(IDC_OP_POWER_SUM, {"-2", "0", "0", "3", "9"}), "-8");
    EXPECT_EQ(status(IDC_OP_POWER_SUM, {"2", "3", "1", "-1", "2"}), "Invalid A or B, make sure A, B >0 ...\\n");
    EXPECT_EQ(status(IDC_OP_POWER_SUM, {"2", "3", "1", "1", "-2"}), "Invalid A or B, make sure A, B >0 ...\\n");
    EXPECT_EQ(status(IDC_OP_POWER_SUM, {"2", "3", "1", "32766", "1"}), "Over Sized ...\\n");
    EXPECT_EQ(status(IDC_OP_POWER_SUM, {"2", "3", "1", "1", "32766"}), "Over Sized ...\\n");
    EXPECT_EQ(status(IDC_OP_POWER_SUM, {"2", "3", "1", "32766", "-1"}), "Over Sized ...\\n") << "size before sign";
    EXPECT_TRUE(is_bit_line(status(IDC_OP_POWER_SUM, {"2", "3", "1", "32765", "1"})));
}

// ---- Edge results -------------------------------------------------------------

// 2^65529 + 1 and 2^65529 + 3 in hexadecimal: coprime operands of 65530 bits.
const std::string big = "2" + std::string(16381, '0') + "1";
const std::string big3 = "2" + std::string(16381, '0') + "3";

struct edge_row {
    const char* what;
    int base;
    int button;
    lines operands;    // X, Y, Z, A, B; an empty text leaves the register at 0
    std::string ans, b;  // the two fields afterwards (empty: never written)
    std::string status;  // empty: the bit-length line
};

const std::string even_root = "Even root of a negative x ...\\n";
const std::string negative_factorial = "Factorial of a negative x ...\\n";
const std::string lcm_too_long = "LCM too long for B, B unchanged ...\\n";

// Each row against plain integer arithmetic: roots truncated towards zero
// with X = Ans^n + B, no factorial below 0, 0^0 = 1 and (+-1)^n for any n,
// powers of a negative base reduced into 0 ... |Z|-1, the GCD kept when the
// LCM does not fit, products with unit factors as long as the other factor.
const std::vector<edge_row> edge_rows = {
    {"cube root of -8", 10, IDC_OP_ROOT, {"-8", "3"}, "-2", "0", ""},
    {"odd root of a negative X", 10, IDC_OP_ROOT, {"-26", "3"}, "-2", "-18", ""},
    {"odd root, n above the bit length", 10, IDC_OP_ROOT, {"-100", "9"}, "-1", "-99", ""},
    {"odd root of -1", 10, IDC_OP_ROOT, {"-1", "5"}, "-1", "0", ""},
    {"odd root of a long negative X", 10, IDC_OP_ROOT, {"-1000000000000000000000000000001", "3"}, "-10000000000", "-1", ""},
    {"odd root, a huge n", 10, IDC_OP_ROOT, {"-7", "1001"}, "-1", "-6", ""},
    {"square root of -16", 10, IDC_OP_ROOT, {"-16", "2", "", "", "9"}, "", "9", even_root},
    {"fourth root of -16", 10, IDC_OP_ROOT, {"-16", "4"}, "", "", even_root},
    {"even root, a huge n", 10, IDC_OP_ROOT, {"-7", "1000"}, "", "", even_root},
    {"(-5)!", 10, IDC_OP_FACTORIAL, {"-5"}, "", "", negative_factorial},
    {"(-1)!", 10, IDC_OP_FACTORIAL, {"-1"}, "", "", negative_factorial},
    {"a long negative X!", 10, IDC_OP_FACTORIAL, {"-18446744073709551616"}, "", "", negative_factorial},
    {"1^1000000", 10, IDC_OP_POWER, {"1", "1000000"}, "1", "", ""},
    {"0^1000000", 10, IDC_OP_POWER, {"0", "1000000"}, "0", "", ""},
    {"(-1)^1000000", 10, IDC_OP_POWER, {"-1", "1000000"}, "1", "", ""},
    {"(-1)^65531", 10, IDC_OP_POWER, {"-1", "65531"}, "-1", "", ""},
    {"1^(2^64)", 10, IDC_OP_POWER, {"1", "18446744073709551616"}, "1", "", ""},
    {"(-1)^(2^64 + 1)", 10, IDC_OP_POWER, {"-1", "18446744073709551617"}, "-1", "", ""},
    {"0^0 + 5^0", 10, IDC_OP_POWER_SUM, {"0", "5", "", "0", "0"}, "2", "0", ""},
    {"0^0 + 0^0 + 5", 10, IDC_OP_POWER_SUM, {"0", "0", "5", "0", "0"}, "7", "0", ""},
    {"0^0 + (-2)^3", 10, IDC_OP_POWER_SUM, {"0", "-2", "", "0", "3"}, "-7", "3", ""},
    {"1^1000000 + (-1)^1000001 + 7", 10, IDC_OP_POWER_SUM, {"1", "-1", "7", "1000000", "1000001"}, "7", "1000001",
     ""},
    {"(-1)^65531 + 0^70000", 10, IDC_OP_POWER_SUM, {"-1", "0", "", "65531", "70000"}, "-1", "70000", ""},
    {"(-3)^3 mod 7", 10, IDC_OP_POWMOD, {"-3", "3", "7"}, "1", "", ""},
    {"(-3)^3 mod -7", 10, IDC_OP_POWMOD, {"-3", "3", "-7"}, "1", "", ""},
    {"(-3)^5 mod 7", 10, IDC_OP_POWMOD, {"-3", "5", "7"}, "2", "", ""},
    {"(-3)^5 mod 10", 10, IDC_OP_POWMOD, {"-3", "5", "10"}, "7", "", ""},
    {"(-3)^4 mod 10", 10, IDC_OP_POWMOD, {"-3", "4", "10"}, "1", "", ""},
    {"(-3)^-3 mod 7", 10, IDC_OP_POWMOD, {"-3", "-3", "7"}, "1", "", ""},
    {"(-2)^-3 mod 7", 10, IDC_OP_POWMOD, {"-2", "-3", "7"}, "6", "", ""},
    {"(-7)^3 mod 7", 10, IDC_OP_POWMOD, {"-7", "3", "7"}, "0", "", ""},
    {"GCD of coprime 65530-bit X and Y", 16, IDC_OP_GCD, {big, big3, "", "", "4D"}, "1", "4D", lcm_too_long},
    {"GCD of coprime 65530-bit -X and Y", 16, IDC_OP_GCD, {"-" + big, big3}, "1", "", lcm_too_long},
    {"65530-bit X times -1", 16, IDC_OP_MUL, {big, "-1"}, "-" + big, "", ""},
    {"65530-bit -X times -1", 16, IDC_OP_MUL, {"-" + big, "-1"}, big, "", ""},
    {"65530-bit X times 0", 16, IDC_OP_MUL, {big, "0"}, "0", "", ""},
    {"five factors, four of them units", 16, IDC_OP_PRODUCT, {"-" + big, "-1", "-1", "-1", "1"}, big, "1", ""},
    {"five factors, one of them 0", 16, IDC_OP_PRODUCT, {big, "-" + big3, "0", "1", "1"}, "0", "1", ""},
    {"five factors, one more of them 2", 16, IDC_OP_PRODUCT, {big, "2", "1", "1", "1"}, "", "1", "Over Sized ...\\n"},
    {"-X + 1 with a 65530-bit X, Z = 0", 16, IDC_OP_LINEAR_MOD, {big, "1", "0", "-1", "1"}, "-2" + std::string(16382, '0'),
     "1", ""},
    {"(X - 5) mod 7 with a 65530-bit X", 16, IDC_OP_LINEAR_MOD, {big, "5", "7", "1", "-1"}, "4", "-1", ""},
};

std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// The script in this process, on the calculation core itself.
std::vector<std::string> run_in_process(const std::string& text) {
    std::FILE* in = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    char* out_text = nullptr;
    std::size_t out_size = 0;
    std::FILE* out = open_memstream(&out_text, &out_size);
    std::FILE* err = std::tmpfile();
    run_headless_session(in, out, err);
    std::fclose(in);
    std::fclose(out);
    std::fclose(err);
    std::vector<std::string> lines = split(std::string(out_text, out_size));
    std::free(out_text);
    return lines;
}

TEST(EdgeResults, PlainlyTrueOrRefusedOnTheCoreAndThroughTheProgram) {
    script s;
    for (const edge_row& row : edge_rows) {
        s.base(row.base).click(IDC_CLEAR_ALL).operands(row.operands[0], row.operands.size() > 1 ? row.operands[1] : "",
                                                       row.operands.size() > 2 ? row.operands[2] : "",
                                                       row.operands.size() > 3 ? row.operands[3] : "",
                                                       row.operands.size() > 4 ? row.operands[4] : "");
        s.click(row.button).show(ANS).show(B).show(STATUS);
    }
    const lines in_process = run_in_process(s.text());
    const lines program = s.run().lines;
    for (const lines* got : {&in_process, &program}) {
        SCOPED_TRACE(got == &in_process ? "on the core" : "through torvane-headless");
        ASSERT_EQ(got->size(), 3 * edge_rows.size());
        for (std::size_t k = 0; k < edge_rows.size(); ++k) {
            const edge_row& row = edge_rows[k];
            SCOPED_TRACE(row.what);
            EXPECT_EQ((*got)[3 * k], row.ans);
            EXPECT_EQ((*got)[3 * k + 1], row.b);
            if (row.status.empty())
                EXPECT_TRUE(is_bit_line((*got)[3 * k + 2])) << (*got)[3 * k + 2];
            else
                EXPECT_EQ((*got)[3 * k + 2], row.status);
        }
    }
}

}  // namespace

// The expression line through torvane-headless, in base 10: each row a text
// and the Ans it gives (the status then the bit-length line), or the message
// it gives (Ans then keeps its value, 99). Precedence, the notations, the
// rules of each function, the size limit at its edges, and every message.
TEST(Expression, PrecedenceLimitsAndMessages) {
    struct row {
        std::string text;
        std::string ans;      // empty: a refusal
        std::string message;  // the refusal's status
    };
    const std::string over_binary = "0b1" + std::string(65530, '0');  // 2^65530
    const row rows[] = {
        // Precedence and associativity; / and % as X/Y gives them.
        {"-2^2", "-4", ""}, {"2^3^2", "512", ""}, {"2**3**2", "512", ""}, {"2^3!", "64", ""},
        {"2+3*4", "14", ""}, {"(2+3)*4", "20", ""}, {"10-2-3", "5", ""}, {"2*3%4", "2", ""},
        {"-3!", "-6", ""}, {"+5", "5", ""}, {"7/-2", "-3", ""}, {"-7/2", "-3", ""},
        {"-7%2", "-1", ""}, {"7%-2", "1", ""},
        // Notations and registers (Y = 42 from the assignment row below).
        {"0x1F + 0b101 + 0o17 + 1_000", "1051", ""}, {"0X1f+0B1+0O7+0_0", "39", ""}, {" \t1 ", "1", ""},
        {"y=6*7", "99", ""}, {"y + Y + ans", "183", ""},
        // Powers of units, zero and negative exponents.
        {"0^0", "1", ""}, {"(-1)^-3", "-1", ""}, {"1^-5", "1", ""}, {"(-2)^3", "-8", ""},
        {"0^-1", "", "Expression: division by zero at column 2"},
        {"2^-1", "", "Expression: 2^-1 is not an integer (column 2)"},
        // Functions, checked against Python's math.gcd, pow(x, y, z) and isqrt.
        {"gcd(-12, 18)", "6", ""}, {"gcd(0, 0)", "0", ""}, {"lcm(-4, 6)", "12", ""}, {"lcm(0, 5)", "0", ""},
        {"powmod(3, -1, 7)", "5", ""}, {"powmod(-3, 3, -7)", "1", ""}, {"powmod(5, 0, 1)", "0", ""},
        {"powmod(0, 0, 7)", "1", ""}, {"powmod(2, 100, 1000000007)", "976371285", ""}, {"inv(-3, 7)", "2", ""},
        {"root(-27, 3)", "-3", ""}, {"root(26, 3)", "2", ""}, {"root(-26, 3)", "-2", ""}, {"root(7, 1)", "7", ""},
        {"root(5, 99)", "1", ""}, {"sqrt(99)", "9", ""}, {"sqrt(0)", "0", ""}, {"abs(-5)", "5", ""},
        {"bits(-256)", "9", ""}, {"bits(0)", "0", ""}, {"isprime(65537)", "1", ""}, {"isprime(91)", "0", ""},
        {"isprime(-7)", "0", ""}, {"isprime(170141183460469231731687303715884105727)", "1", ""},
        // The size limit: exact lengths, judged before the power is formed.
        {"bits(2^65529)", "65530", ""}, {"bits(3^41344)", "65529", ""}, {"bits(5910!)", "65528", ""},
        {"bits(2^32765 * 2^32764)", "65530", ""}, {"bits(2^65529 - 1 + 2^65529)", "65530", ""},
        {"2^65530", "", "Expression: 2^65530 has more than 65530 bits (column 2)"},
        {"3^41345", "", "Expression: 3^41345 has more than 65530 bits (column 2)"},
        {"5911!", "", "Expression: 5911! has more than 65530 bits (column 5)"},
        {"2^32765 * 2^32765", "", "Expression: 2^32765 * 2^32765 has more than 65530 bits (column 9)"},
        {"2^65529 + 2^65529", "", "Expression: 2^65529 + 2^65529 has more than 65530 bits (column 9)"},
        {over_binary, "", "Expression: the number has more than 65530 bits (column 1)"},
        {"(2^40000 + 1 + 1 + 1 + 1 + 1 + 1 + 1 + 1)^2", "", "Expression: the power has more than 65530 bits (column 42)"},
        // Every other message.
        {"2 + q", "", "Expression: unknown name 'q' at column 5"},
        {"5/0", "", "Expression: division by zero at column 3"},
        {"5 % ( 1-1)", "", "Expression: division by zero at column 5"},
        {"(1+2)*(3+4", "", "Expression: ')' expected at column 11"},
        {"(-3)!", "", "Expression: factorial of a negative number at column 5"},
        {"powmod(2, 3, 0)", "", "Expression: modulus 0 at column 1"},
        {"inv(6, 9)", "", "Expression: 6 has no inverse modulo 9 (column 1)"},
        {"powmod(2, -1, 2^70)", "", "Expression: no inverse exists (column 1)"},
        {"root(5, 0)", "", "Expression: root index must be 1 or more (column 1)"},
        {"root(-4, 2)", "", "Expression: even root of a negative number at column 1"},
        {"sqrt(-1)", "", "Expression: even root of a negative number at column 1"},
        {"gcd(1)", "", "Expression: gcd takes 2 arguments (column 1)"},
        {"gcd(1, 2", "", "Expression: ')' expected at column 9"},
        {"foo(1)", "", "Expression: unknown function 'foo' at column 1"},
        {"2 * gcd", "", "Expression: '(' expected after gcd at column 8"},
        {"1 2", "", "Expression: unexpected '2' at column 3"},
        {"2+", "", "Expression: operand expected at column 3"},
        {"2**/3", "", "Expression: operand expected at column 4"},
        {"0x", "", "Expression: hexadecimal digits expected after '0x' at column 3"},
        {"12a", "", "Expression: 'a' is not a decimal digit at column 3"},
        {"0b102", "", "Expression: '2' is not a binary digit at column 5"},
        {"1__0", "", "Expression: '_' stands only between digits at column 2"},
        {"Ans = 1", "", "Expression: only X, Y, Z, A or B can be assigned (column 1)"},
        {"1 +\xC2\xA0" "2", "", "Expression: unexpected U+00A0 at column 4"},
        {std::string("1 + \0", 5), "", "Expression: unexpected U+0000 at column 5"},
        {"\xE2\x82\xAC", "", "Expression: unexpected U+20AC at column 1"},
        {std::string(100000, '('), "", "Expression: nested more than 200 levels deep at column 201"},
        {std::string(400000, '-') + "1", "", "Expression: nested more than 200 levels deep at column 201"},
        {std::string((1 << 20) + 1, '1'), "", "Expression: longer than 1048576 bytes"},
    };
    auto s = script().base(10);
    for (const row& r : rows) s.raw("eval 99").raw("eval " + escaped(r.text)).show(ANS).show(STATUS);
    // A blank line does nothing, not even to the status; an over-long X is
    // named.
    s.raw("eval").raw("eval   ").show(STATUS).type(X, "1" + std::string(19728, '0')).raw("eval X + 1").show(STATUS);
    const auto out = s.run();
    ASSERT_EQ(out.lines.size(), 2 * std::size(rows) + 2);
    for (std::size_t k = 0; k < std::size(rows); ++k) {
        const row& r = rows[k];
        SCOPED_TRACE(r.text.substr(0, 60));
        if (r.ans.empty()) {
            EXPECT_EQ(out.lines[2 * k], "99") << "a refusal changes no register";
            EXPECT_EQ(out.lines[2 * k + 1], r.message);
        } else {
            EXPECT_EQ(out.lines[2 * k], r.ans);
            EXPECT_TRUE(is_bit_line(out.lines[2 * k + 1])) << out.lines[2 * k + 1];
        }
    }
    EXPECT_EQ(out.lines[2 * std::size(rows)], std::rbegin(rows)->message) << "a blank line changes nothing";
    EXPECT_EQ(out.lines.back(), "Expression: X has more than 65530 bits (column 1)");
}

// 2^44497 - 1, the Mersenne prime, into Ans in base 16.
TEST(Expression, TheMersenneNumber) {
    const auto r = script().base(16).raw("eval 2^44497-1").show(ANS).show(STATUS).run();
    ASSERT_EQ(r.lines.size(), 2u);
    EXPECT_EQ(r.lines[0], "1" + std::string(11124, 'F'));
    EXPECT_EQ(r.lines[1], "Bits: x- 0 y- 0 z- 0 a- 0 b- 0 ans- 44497");
}
