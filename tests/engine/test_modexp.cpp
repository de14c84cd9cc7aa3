// Modular exponentiation against plain square-and-multiply written here
// with mad, on odd moduli (Montgomery paths) and even moduli (classical
// paths), with the windowing stressed by exponents full of zero runs.
#include "engine_fixture.h"

namespace {

class ModexpTest : public EngineTest {
protected:
    // x^y mod n by left-to-right square-and-multiply with truncating mad:
    // the result has the sign of x^y (negative for a negative x and odd y).
    bignum* reference(bignum* x, bignum* y, bignum* n) {
        bignum* r = num(1);
        bignum* b = num();
        copy_number(x, b);
        divide(b, n, n);
        std::vector<mr_digit> e = words_of(y);
        for (std::size_t i = e.size(); i-- > 0;)
            for (int bit = 31; bit >= 0; --bit) {
                mad(r, r, r, n, n, r);
                if ((e[i] >> bit) & 1u) mad(r, b, b, n, n, r);
            }
        if (e.empty() || is_zero_value(x)) set_from_int(is_zero_value(x) ? 0 : 1, r);
        return r;
    }
    // The same brought into [0, n).
    bignum* reference_residue(bignum* x, bignum* y, bignum* n) {
        bignum* r = reference(x, y, n);
        if (negative(r)) add(r, n, r);
        return r;
    }
    static bool is_zero_value(const bignum* x) { return x->len == 0; }

    bignum* odd_modulus(int n) {
        std::vector<mr_digit> w = random_words(n);
        w[0] |= 1;
        if (n == 1 && w[0] < 3) w[0] = 3;
        return words(w);
    }
    bignum* even_modulus(int n) {
        std::vector<mr_digit> w = random_words(n);
        w[0] &= ~1u;
        if (n == 1 && w[0] < 2) w[0] = 2;
        return words(w);
    }
    bignum* copy_of(bignum* x) {
        bignum* c = num();
        copy_number(x, c);
        return c;
    }

    // powmod against the reference, n unchanged afterwards.
    void check_powmod(bignum* x, bignum* y, bignum* n) {
        bignum* saved = copy_of(n);
        bignum* w = num();
        powmod(x, y, n, w);
        ASSERT_EQ(state->error_number, 0);
        EXPECT_EQ(compare_numbers(n, saved), 0);
        bignum* expected = (n->w[0] & 1u) ? reference_residue(x, y, n) : reference(x, y, n);
        EXPECT_EQ(compare_numbers(w, expected), 0)
            << "exponent of " << y->len << " words, modulus of " << n->len << " words";
        expect_well_formed(w, state->max_length);
        EXPECT_EQ(state->trace_depth, 0);
    }
};

TEST_F(ModexpTest, SmallExponentsAndBases) {
    for (bignum* n : {num(7), odd_modulus(3), num(8), even_modulus(3)}) {
        const bool odd = n->w[0] & 1u;
        bignum* x = words(random_words(2));
        bignum* w = num();
        powmod(x, num(0), n, w);
        EXPECT_EQ(int_value(w), 1);
        powmod(num(0), num(5), n, w);
        EXPECT_EQ(w->len, 0u);
        powmod(num(0), num(0), n, w);
        EXPECT_EQ(int_value(w), odd ? 1 : 0);
        powmod(x, num(1), n, w);
        bignum* r = copy_of(x);
        divide(r, n, n);
        EXPECT_EQ(compare_numbers(w, r), 0);
        check_powmod(x, num(2), n);
        check_powmod(num(-1), num(3), n);
        check_powmod(words(random_words(5), true), num(1), n);
    }
    bignum* w = num();
    powmod(num(3), num(5), num(2), w);
    EXPECT_EQ(int_value(w), 1);
    EXPECT_EQ(state->error_number, 0);
}

TEST_F(ModexpTest, ExponentsWithRunsOfZeroBits) {
    // Every exponent up to 1100 covers each window value and zero run.
    for (bignum* n : {words({0xFFFFFFF1u}), even_modulus(2)}) {
        bignum* x = words(random_words(1));
        bignum* y = num();
        for (int e = 0; e <= 1100; ++e) {
            set_from_int(e, y);
            check_powmod(x, y, n);
            if (HasFailure()) return;
        }
    }
    // Many-word exponents with long zero stretches, on several moduli.
    std::vector<std::vector<mr_digit>> exponents = {
        {0b1001}, {0b10001}, {0b11001}, {89}, {0x80000001u}, {0, 0, 1}, {1, 0, 0, 0x10000000u},
        {0x00100001u, 0, 0x80000000u}, {0x55555555u, 0x11111111u, 0x01010101u}, random_words(12)};
    std::vector<bignum*> moduli = {odd_modulus(1), odd_modulus(5), odd_modulus(40), even_modulus(3),
                                   words({6, 0, 0, 0x7FFu}), words({0x10u, 0x80000000u})};
    for (bignum* n : moduli)
        for (auto& e : exponents) check_powmod(words(random_words(static_cast<int>(n->len))), words(e), n);
}

TEST_F(ModexpTest, MaxLengthModulus) {
    const int k = state->max_length;
    for (bignum* n : {odd_modulus(k), even_modulus(k)}) {
        bignum* x = words(random_words(k));
        check_powmod(x, num(0b10011), n);
        check_powmod(words(random_words(k), true), num(2), n);
    }
}

TEST_F(ModexpTest, NegativeBases) {
    // Classical path: the truncated remainder, negative for an odd exponent.
    bignum* w = num();
    powmod(num(-3), num(5), num(8), w);
    EXPECT_EQ(int_value(w), -3);  // -243 = -30*8 - 3
    powmod(num(-3), num(4), num(8), w);
    EXPECT_EQ(int_value(w), 1);
    // Montgomery path: the residue in [0, n).
    powmod(num(-3), num(5), num(7), w);
    EXPECT_EQ(int_value(w), 2);  // -243 = -35*7 + 2
    for (bignum* n : {odd_modulus(4), even_modulus(4)}) check_powmod(words(random_words(6), true), num(77), n);
}

TEST_F(ModexpTest, ResultMayBeAnOperand) {
    bignum* n = odd_modulus(6);
    bignum* x = words(random_words(6));
    bignum* y = words(random_words(2));
    bignum* expected = reference_residue(x, y, n);
    bignum* xc = copy_of(x);
    powmod(xc, y, n, xc);
    EXPECT_EQ(compare_numbers(xc, expected), 0);
    bignum* yc = copy_of(y);
    powmod(x, yc, n, yc);
    EXPECT_EQ(compare_numbers(yc, expected), 0);
    bignum* nc = copy_of(n);
    powmod(x, y, nc, nc);  // an odd modulus may be the result
    EXPECT_EQ(compare_numbers(nc, expected), 0);

    bignum* m = even_modulus(3);
    bignum* expected_even = reference(x, y, m);
    xc = copy_of(x);
    powmod(xc, y, m, xc);
    EXPECT_EQ(compare_numbers(xc, expected_even), 0);
    EXPECT_EQ(state->error_number, 0);
}

TEST_F(ModexpTest, Errors) {
    bignum* w = num();
    // Negative exponent: error 10; the Montgomery path leaves the residue
    // of 1 (R mod n), the classical path leaves 1.
    bignum* n = num(7);
    powmod(num(3), num(-2), n, w);
    EXPECT_EQ(state->error_number, 10);
    EXPECT_EQ(int_value(w), 4);  // 2^32 mod 7
    state->error_number = 0;
    powmod(num(3), num(-2), num(8), w);
    EXPECT_EQ(state->error_number, 10);
    EXPECT_EQ(int_value(w), 1);
    state->error_number = 0;
    // A zero base, or a multiple of n on the Montgomery path, gives 0 before
    // the exponent's sign is looked at.
    powmod(num(0), num(-2), num(8), w);
    powmod(num(14), num(-2), n, w);
    EXPECT_EQ(state->error_number, 0);
    EXPECT_EQ(w->len, 0u);
    // Even modulus as the result: error 7.
    bignum* m = num(8);
    powmod(num(3), num(3), m, m);
    EXPECT_EQ(state->error_number, 7);
    EXPECT_EQ(int_value(m), 1);
    state->error_number = 0;
    // Modulus 1, or a negative odd one: error 19.
    powmod(num(3), num(3), num(1), w);
    EXPECT_EQ(state->error_number, 19);
    state->error_number = 0;
    powmod(num(3), num(3), num(-7), w);
    EXPECT_EQ(state->error_number, 19);
    state->error_number = 0;
    // A zero modulus cannot be normalised: division by zero, not a read
    // below the digits.
    powmod(num(3), num(3), num(0), w);
    EXPECT_EQ(state->error_number, 2);
    state->error_number = 0;
    set_from_int(9, w);
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
        bignum* n = odd_modulus(len);
        for (auto [ye, be] : {std::pair{1, 40}, {40, 1}, {12, 12}, {3, 0}}) {
            bignum* x = words(random_words(len));
            bignum* a = words(random_words(len + 1));
            bignum* y = words(random_words(ye));
            bignum* b = be == 0 ? num(0) : words(random_words(be));
            if (ye == 1) set_from_int(1, y);
            bignum* w = num();
            powmod2(x, y, a, b, n, w);
            ASSERT_EQ(state->error_number, 0);
            bignum* p1 = num();
            bignum* p2 = num();
            powmod(x, y, n, p1);
            powmod(a, b, n, p2);
            bignum* expected = num();
            mad(p1, p2, p1, n, n, expected);
            EXPECT_EQ(compare_numbers(w, expected), 0) << len << " words, exponents " << ye << ", " << be;
            expect_well_formed(w, state->max_length);
        }
    }
    // All small exponent pairs, for every joint window.
    bignum* n = words({0xFFFFFFFBu});
    bignum* x = num(123457);
    bignum* a = num(-98765);
    bignum* y = num();
    bignum* b = num();
    for (int i = 0; i < 40; ++i)
        for (int j = 0; j < 40; ++j) {
            set_from_int(i, y);
            set_from_int(j, b);
            bignum* w = num();
            powmod2(x, y, a, b, n, w);
            bignum* expected = num();
            bignum* p1 = reference_residue(x, y, n);
            mad(p1, reference_residue(a, b, n), p1, n, n, expected);
            ASSERT_EQ(compare_numbers(w, expected), 0) << i << ", " << j;
        }
}

TEST_F(ModexpTest, SimultaneousSpecialCases) {
    bignum* n = odd_modulus(4);
    bignum* x = words(random_words(4));
    bignum* a = words(random_words(3));
    bignum* y = words(random_words(3));
    bignum* w = num();
    bignum* p = num();
    powmod2(x, y, a, num(0), n, w);
    powmod(x, y, n, p);
    EXPECT_EQ(compare_numbers(w, p), 0);
    powmod2(x, num(0), a, num(0), n, w);
    EXPECT_EQ(int_value(w), 1);
    // A base that is a multiple of n gives 0, whatever the exponents.
    bignum* a0 = num();
    premult(n, 3, a0);
    powmod2(x, y, a0, num(0), n, w);
    EXPECT_EQ(w->len, 0u);
    // w may be any operand, the modulus included.
    bignum* expected = num();
    powmod2(x, y, a, y, n, expected);
    for (int which = 0; which < 4; ++which) {
        bignum* ops[4] = {copy_of(x), copy_of(y), copy_of(a), copy_of(n)};
        bignum* nn = ops[3];
        powmod2(ops[0], ops[1], ops[2], which == 1 ? ops[1] : copy_of(y), nn, ops[which]);
        EXPECT_EQ(compare_numbers(ops[which], expected), 0) << which;
    }
    // Even modulus: no such path.
    powmod2(x, y, a, y, num(10), w);
    EXPECT_EQ(state->error_number, 19);
}

TEST_F(ModexpTest, SmallBaseKeepsTheInstalledModulus) {
    bignum* e = words(random_words(5));
    for (bignum* n : {odd_modulus(1), odd_modulus(9), even_modulus(9)}) {
        bignum* expected = num();
        powmod(num(5), e, n, expected);

        // None installed: computed and removed again.
        clear_modulus();
        bignum* w = num();
        powltr(5, e, n, w);
        EXPECT_EQ(compare_numbers(w, expected), 0);
        EXPECT_EQ(state->modulus->len, 0u);

        // Another installed: the same value, the other modulus stays.
        bignum* other = odd_modulus(3);
        const mr_digit c = prepare_monty(other);
        powltr(5, e, n, w);
        EXPECT_EQ(compare_numbers(w, expected), 0);
        EXPECT_EQ(compare_numbers(state->modulus, other), 0);
        EXPECT_EQ(state->monty_constant, c);

        // The same installed: it stays.
        if (n->w[0] & 1u) {
            prepare_monty(n);
            powltr(5, e, n, w);
            EXPECT_EQ(compare_numbers(w, expected), 0);
            EXPECT_EQ(compare_numbers(state->modulus, n), 0);
        }
        EXPECT_EQ(state->error_number, 0);
    }
}

TEST_F(ModexpTest, SmallBaseAgainstPowmod) {
    bignum* w = num();
    bignum* expected = num();
    bignum* xb = num();
    for (bignum* n : {num(3), odd_modulus(2), odd_modulus(30), even_modulus(1), even_modulus(30)})
        for (int x : {0, 1, 2, 3, 0x3FFFFFFF, -2, -12345})
            for (bignum* e : {num(0), num(1), num(0b10001), words(random_words(3))}) {
                set_from_int(x, xb);
                powmod(xb, e, n, expected);
                clear_modulus();
                powltr(x, e, n, w);
                EXPECT_EQ(compare_numbers(w, expected), 0) << "base " << x;
                // And classically, with another modulus installed. The
                // classical path keeps the truncated remainder's sign rule
                // for a negative base, and gives 0 for 0^0.
                prepare_monty(num(101));
                powltr(x, e, n, w);
                if ((n->w[0] & 1u) && negative(w)) add(w, n, w);
                if (x == 0 && is_zero_value(e)) continue;
                EXPECT_EQ(compare_numbers(w, expected), 0) << "base " << x << ", classical";
            }
    EXPECT_EQ(state->error_number, 0);
    // The exponent may be the result.
    bignum* n = odd_modulus(3);
    bignum* e = words(random_words(2));
    set_from_int(7, xb);
    powmod(xb, e, n, expected);
    powltr(7, e, n, e);
    EXPECT_EQ(compare_numbers(e, expected), 0);
}

TEST_F(ModexpTest, SmallBaseMaxLengthModulus) {
    // The product of a residue and the base is one word longer than any
    // single-length number.
    const int k = state->max_length;
    for (bignum* n : {odd_modulus(k), even_modulus(k)}) {
        n->w[k - 1] = 0xFFFFFFFFu;
        bignum* w = num();
        bignum* expected = num();
        powltr(0x3FFFFFFF, num(0b1011), n, w);
        ASSERT_EQ(state->error_number, 0);
        bignum* xb = num(0x3FFFFFFF);
        expected = reference(xb, num(0b1011), n);
        EXPECT_EQ(compare_numbers(w, expected), 0);
    }
}

}  // namespace
