// Modular exponentiation against plain square-and-multiply written here with
// mad, on odd moduli (Montgomery paths) and even moduli (classical paths),
// the windowing stressed by exponents full of zero runs.
#include "engine_fixture.h"
#include "montgomery.h"
#include "modexp.h"

namespace {

class ModexpTest : public EngineTest {
protected:
    // x^y mod n, left to right with truncating mad: the sign of x^y, so
    // negative for a negative x and odd y. 0^0 is 1 here.
    bignum* reference(bignum* x, bignum* y, bignum* n, bool residue) {
        bignum* r = num(1);
        bignum* b = copy_of(x);
        divide(b, n, n);
        const std::vector<mr_digit> e = words_of(y);
        for (std::size_t i = e.size(); i-- > 0;)
            for (int bit = 31; bit >= 0; --bit) {
                mad(r, r, r, n, n, r);
                if ((e[i] >> bit) & 1u) mad(r, b, b, n, n, r);
            }
        if (residue && negative(r)) add(r, n, r);
        return r;
    }
    bignum* modulus(int n, bool odd) {
        std::vector<mr_digit> w = random_words(n);
        w[0] = odd ? (w[0] | 1) : (w[0] & ~1u);
        if (n == 1 && w[0] < 3) w[0] = odd ? 3 : 2;
        return words(w);
    }
    bignum* copy_of(bignum* x) {
        bignum* c = num();
        copy_number(x, c);
        return c;
    }
    static bool odd(const bignum* n) { return n->w[0] & 1u; }

    // powmod against the reference, n unchanged afterwards.
    void check(bignum* x, bignum* y, bignum* n) {
        bignum* saved = copy_of(n);
        bignum* w = num();
        powmod(x, y, n, w);
        ASSERT_EQ(state->error_number, 0);
        EXPECT_EQ(compare_numbers(n, saved), 0);
        EXPECT_EQ(compare_numbers(w, reference(x, y, n, odd(n))), 0)
            << y->len << "-word exponent, " << n->len << "-word modulus";
        expect_well_formed(w, state->max_length);
        EXPECT_EQ(state->trace_depth, 0);
    }
};

TEST_F(ModexpTest, SmallCasesAndNegativeBases) {
    for (bignum* n : {num(7), modulus(3, true), num(8), modulus(3, false)}) {
        bignum* x = words(random_words(2));
        bignum* w = num();
        powmod(x, num(0), n, w);
        EXPECT_EQ(int_value(w), 1);
        powmod(num(0), num(5), n, w);
        EXPECT_EQ(w->len, 0u);
        powmod(num(0), num(0), n, w);
        EXPECT_EQ(int_value(w), odd(n) ? 1 : 0);
        for (int e : {1, 2, 3, 77}) {
            check(x, num(e), n);
            check(words(random_words(5), true), num(e), n);
        }
    }
    // Classical: the truncated remainder, negative for an odd exponent.
    bignum* w = num();
    powmod(num(-3), num(5), num(8), w);
    EXPECT_EQ(int_value(w), -3);  // -243 = -30*8 - 3
    powmod(num(-3), num(4), num(8), w);
    EXPECT_EQ(int_value(w), 1);
    powmod(num(-3), num(5), num(7), w);  // Montgomery: in [0, n)
    EXPECT_EQ(int_value(w), 2);
    powmod(num(3), num(5), num(2), w);
    EXPECT_EQ(int_value(w), 1);
}

TEST_F(ModexpTest, ExponentsWithRunsOfZeroBits) {
    // Every exponent up to 1100 meets each window value and zero run.
    for (bignum* n : {words({0xFFFFFFF1u}), modulus(2, false)}) {
        bignum* x = words(random_words(1));
        for (int e = 0; e <= 1100 && !HasFailure(); ++e) check(x, num(e), n);
    }
    std::vector<std::vector<mr_digit>> exponents = {
        {0b1001}, {0b10001}, {0b11001}, {89}, {0x80000001u}, {0, 0, 1}, {1, 0, 0, 0x10000000u},
        {0x00100001u, 0, 0x80000000u}, {0x55555555u, 0x11111111u, 0x01010101u}, random_words(12)};
    // Odd moduli, even ones, an even one that normalise scales and one it does not.
    for (bignum* n : {modulus(1, true), modulus(5, true), modulus(40, true), modulus(3, false),
                      words({6, 0, 0, 0x7FFu}), words({0x10u, 0x80000000u})})
        for (auto& e : exponents) check(words(random_words(static_cast<int>(n->len))), words(e), n);
}

TEST_F(ModexpTest, MaxLengthModulus) {
    const int k = state->max_length;
    check(words(random_words(k)), num(0b10011), modulus(k, true));
    check(words(random_words(k), true), num(0b101), modulus(k, false));
}

TEST_F(ModexpTest, AliasingAndErrors) {
    bignum* n = modulus(6, true);
    bignum* x = words(random_words(6));
    bignum* y = words(random_words(2));
    bignum* expected = reference(x, y, n, true);
    for (int which = 0; which < 3; ++which) {  // w = x, y, and the odd modulus
        bignum* ops[3] = {copy_of(x), copy_of(y), copy_of(n)};
        powmod(ops[0], ops[1], ops[2], ops[which]);
        EXPECT_EQ(compare_numbers(ops[which], expected), 0) << which;
    }
    bignum* m = modulus(3, false);
    bignum* xc = copy_of(x);
    powmod(xc, y, m, xc);
    EXPECT_EQ(compare_numbers(xc, reference(x, y, m, false)), 0);

    bignum* w = num();
    // Negative exponent: error 10, leaving the residue of 1 (R mod n) on the
    // Montgomery path and 1 on the classical path.
    powmod(num(3), num(-2), num(7), w);
    EXPECT_EQ(state->error_number, 10);
    EXPECT_EQ(int_value(w), 4);  // 2^32 mod 7
    state->error_number = 0;
    powmod(num(3), num(-2), num(8), w);
    EXPECT_EQ(state->error_number, 10);
    EXPECT_EQ(int_value(w), 1);
    state->error_number = 0;
    // A zero base, or a multiple of an odd n, is 0 before the sign is seen.
    powmod(num(0), num(-2), num(8), w);
    powmod(num(14), num(-2), num(7), w);
    EXPECT_EQ(state->error_number, 0);
    EXPECT_EQ(w->len, 0u);
    // An even modulus as the result: error 7.
    bignum* e = num(8);
    powmod(num(3), num(3), e, e);
    EXPECT_EQ(state->error_number, 7);
    state->error_number = 0;
    // Odd n <= 1: error 19. A zero modulus: division by zero, rather than a
    // normalisation that reads below the digits.
    for (int bad : {1, -7, 0}) {
        powmod(num(3), num(3), num(bad), w);
        EXPECT_EQ(state->error_number, bad == 0 ? 2 : 19) << bad;
        state->error_number = 0;
    }
    powltr(3, num(3), num(0), w);
    EXPECT_EQ(state->error_number, 2);
    // A pending error: nothing changes.
    set_from_int(9, w);
    powmod(num(3), num(3), num(7), w);
    powmod2(num(3), num(3), num(2), num(2), num(7), w);
    powltr(3, num(3), num(7), w);
    EXPECT_EQ(int_value(w), 9);
    EXPECT_EQ(state->trace_depth, 0);
}

TEST_F(ModexpTest, SimultaneousEqualsProductOfPowers) {
    for (int len : {1, 3, 17}) {
        bignum* n = modulus(len, true);
        // Exponents of very different lengths, equal ones, and b = 0.
        for (auto [ye, be] : {std::pair{1, 40}, {40, 1}, {12, 12}, {3, 0}}) {
            bignum* x = words(random_words(len));
            bignum* a = words(random_words(len + 1), len == 3);
            bignum* y = words(random_words(ye));
            bignum* b = be == 0 ? num(0) : words(random_words(be));
            bignum* w = num();
            powmod2(x, y, a, b, n, w);
            bignum* p1 = num();
            bignum* p2 = num();
            powmod(x, y, n, p1);
            powmod(a, b, n, p2);
            mad(p1, p2, p1, n, n, p1);
            EXPECT_EQ(compare_numbers(w, p1), 0) << len << " words, exponents " << ye << ", " << be;
        }
    }
    // All small exponent pairs, for every joint window.
    bignum* n = words({0xFFFFFFFBu});
    bignum* x = num(123457);
    bignum* a = num(-98765);
    for (int i = 0; i < 40; ++i)
        for (int j = 0; j < 40; ++j) {
            bignum* w = num();
            powmod2(x, num(i), a, num(j), n, w);
            bignum* expected = reference(x, num(i), n, true);
            mad(expected, reference(a, num(j), n, true), expected, n, n, expected);
            ASSERT_EQ(compare_numbers(w, expected), 0) << i << ", " << j;
        }
    EXPECT_EQ(state->error_number, 0);
}

TEST_F(ModexpTest, SimultaneousSpecialCases) {
    bignum* n = modulus(4, true);
    bignum* x = words(random_words(4));
    bignum* a = words(random_words(3));
    bignum* y = words(random_words(3));
    bignum* w = num();
    powmod2(x, num(0), a, num(0), n, w);
    EXPECT_EQ(int_value(w), 1);
    bignum* a0 = num();
    premult(n, 3, a0);  // a multiple of n: 0, even with b = 0
    powmod2(x, y, a0, num(0), n, w);
    EXPECT_EQ(w->len, 0u);
    bignum* expected = num();
    powmod2(x, y, a, y, n, expected);
    for (int which = 0; which < 5; ++which) {  // w = x, y, a, b, n
        bignum* ops[5] = {copy_of(x), copy_of(y), copy_of(a), copy_of(y), copy_of(n)};
        powmod2(ops[0], ops[1], ops[2], ops[3], ops[4], ops[which]);
        EXPECT_EQ(compare_numbers(ops[which], expected), 0) << which;
    }
    powmod2(x, y, a, y, num(10), w);  // no even path
    EXPECT_EQ(state->error_number, 19);
}

TEST_F(ModexpTest, SmallBaseKeepsTheInstalledModulus) {
    bignum* expected = num();
    bignum* w = num();
    bignum* xb = num();
    for (bignum* n : {num(3), modulus(2, true), modulus(30, true), modulus(1, false), modulus(30, false)})
        for (int x : {0, 1, 2, 0x3FFFFFFF, -12345})
            for (bignum* e : {num(0), num(1), num(0b10001), words(random_words(3))}) {
                set_from_int(x, xb);
                powmod(xb, e, n, expected);
                // None installed: computed, and none left behind.
                clear_modulus();
                powltr(x, e, n, w);
                EXPECT_EQ(compare_numbers(w, expected), 0) << "base " << x;
                EXPECT_EQ(state->modulus->len, 0u);
                // Another installed: the classical path, the other one kept.
                bignum* other = num(101);
                const mr_digit c = prepare_monty(other);
                powltr(x, e, n, w);
                EXPECT_EQ(compare_numbers(state->modulus, other), 0);
                EXPECT_EQ(state->monty.constant, c);
                // It keeps the truncated remainder's sign and has 0^0 = 0.
                if (odd(n) && negative(w)) add(w, n, w);
                if (x != 0 || e->len != 0) {
                    EXPECT_EQ(compare_numbers(w, expected), 0) << "base " << x;
                }
                // The same installed: it stays.
                if (odd(n)) {
                    prepare_monty(n);
                    powltr(x, e, n, w);
                    EXPECT_EQ(compare_numbers(w, expected), 0);
                    EXPECT_EQ(compare_numbers(state->modulus, n), 0);
                }
            }
    EXPECT_EQ(state->error_number, 0);
    // The exponent may be the result.
    bignum* e = words(random_words(2));
    bignum* n = modulus(3, true);
    set_from_int(7, xb);
    powmod(xb, e, n, expected);
    powltr(7, e, n, e);
    EXPECT_EQ(compare_numbers(e, expected), 0);
}

TEST_F(ModexpTest, SmallBaseMaxLengthModulus) {
    // A residue times the base is a word longer than a single-length number.
    const int k = state->max_length;
    for (bool is_odd : {true, false}) {
        bignum* n = modulus(k, is_odd);
        n->w[k - 1] = 0xFFFFFFFFu;
        bignum* w = num();
        powltr(0x3FFFFFFF, num(0b1011), n, w);
        ASSERT_EQ(state->error_number, 0);
        EXPECT_EQ(compare_numbers(w, reference(num(0x3FFFFFFF), num(0b1011), n, false)), 0);
    }
}

}  // namespace
