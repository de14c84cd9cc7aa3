// Modular operations whose modulus has more than half the words a number
// holds: their intermediate products (t2*u and r*X in Ans =Y/X MOD Z, the
// product of the two powers in X^A*Y^B MOD Z for an even Z) are longer than
// a number, while the answer is below |Z|. The answer must still come out.
#include <gtest/gtest.h>

#include <string>

#include "headless_driver.h"

namespace {

// 2^40000 in hexadecimal, and numbers just around it.
// (Built by append: GCC 12 at -O3 warns of an overlapping copy, wrongly,
// in "1" + std::string(n, c).)
std::string digits(char head, std::size_t count, char fill) {
    std::string s(1, head);
    s.append(count, fill);
    return s;
}
const std::string two_40000 = digits('1', 10000, '0');
const std::string two_40000_less_one(10000, 'F');
std::string two_39999_plus(int low) { return digits('8', 9998, '0') + "0123456789ABCDEF"[low]; }

TEST(LargeModuli, ModularDivisionAnswersWhenZIsLongerThanHalfANumber) {
    // 3 * (2^39999 + 5) = 2^39999 + 15 (mod 2^40000).
    auto r = script()
                 .type(X, "3")
                 .type(Y, two_39999_plus(15))
                 .type(Z, two_40000)
                 .click(IDC_OP_MODDIV)
                 .show(ANS)
                 .run();
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_EQ(r.lines[0], two_39999_plus(5));
}

TEST(LargeModuli, ModularDivisionRefusesOnlyWithoutAnAnswer) {
    // 2 * r is even, so 2^39999 + 15 has no answer modulo 2^40000.
    auto r = script()
                 .type(X, "2")
                 .type(Y, two_39999_plus(15))
                 .type(Z, two_40000)
                 .click(IDC_OP_MODDIV)
                 .show(STATUS)
                 .run();
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_EQ(r.lines[0], "A*x = y (mod Z) has no answer ...\\n");
}

TEST(LargeModuli, ModularDivisionWithALongCommonFactorOfXAndZHasNoAnswer) {
    // gcd(X, Z) = 2^40000 does not divide Y = 1; the product of that factor
    // and Z is longer than a number, and once gave "Overflow" instead.
    auto r = script()
                 .type(X, two_40000)
                 .type(Y, "1")
                 .type(Z, digits('3', 10000, '0'))
                 .click(IDC_OP_MODDIV)
                 .show(STATUS)
                 .run();
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_EQ(r.lines[0], "A*x = y (mod Z) has no answer ...\\n");
}

TEST(LargeModuli, PowerProductWithEvenZLongerThanHalfANumber) {
    // (2^40000 - 1) * (2^40000 - 1) = 1 (mod 2^40000).
    auto r = script()
                 .type(X, two_40000_less_one)
                 .type(A, "1")
                 .type(Y, two_40000_less_one)
                 .type(B, "1")
                 .type(Z, two_40000)
                 .click(IDC_OP_POWMOD2)
                 .show(ANS)
                 .show(STATUS)
                 .run();
    ASSERT_EQ(r.lines.size(), 2u);
    EXPECT_EQ(r.lines[0], "1");
    EXPECT_EQ(r.lines[1], "Bits: x- 40000 y- 40000 z- 40001 a- 1 b- 1 ans- 1");
}

}  // namespace
