// Montgomery set-up, conversion and products for one-word, many-word and
// max_length-word odd moduli; expected values come from divide and mad.
#include "engine_fixture.h"
#include "primitives.h"
#include "montgomery.h"

namespace {

class MontgomeryTest : public EngineTest {
protected:
    bignum* odd_modulus(int n) {
        std::vector<mr_digit> w = random_words(n);
        w[0] |= 1;
        if (n == 1 && w[0] < 3) w[0] = 3;
        return words(w);
    }
    // x mod n in [0, n).
    bignum* reduced(bignum* x, bignum* n) {
        bignum* r = num();
        copy_number(x, r);
        divide(r, n, n);
        if (negative(r)) add(r, n, r);
        return r;
    }

    // redc(nres(x)) = x mod n, nres(x) = x*R mod n, and products of residues.
    void check_modulus(bignum* n) {
        ASSERT_NE(prepare_monty(n), 0u);
        const int k = static_cast<int>(n->len);
        bignum* n1 = num();
        decr(n, 1, n1);
        for (bignum* x : {num(0), num(1), num(-1), words(random_words(k), true), n1, n, words(random_words(k)),
                          words(random_words(state->max_length))}) {
            bignum* r = num();
            nres(x, r);
            EXPECT_LT(compare_numbers(r, n), 0);
            EXPECT_FALSE(negative(r));
            expect_well_formed(r, state->max_length);
            if (2 * k <= state->max_length) {
                bignum* shifted = reduced(x, n);
                mr_shift(shifted, k, shifted);
                EXPECT_EQ(words_of(r), words_of(reduced(shifted, n)));
            }
            bignum* back = num();
            redc(r, back);
            EXPECT_EQ(words_of(back), words_of(reduced(x, n))) << k << "-word modulus";

            // The residue of x*y, and of x^2 in place, for y = n - 1 and a random y.
            for (bignum* y : {n1, reduced(words(random_words(k)), n)}) {
                bignum* yr = num();
                nres(y, yr);
                bignum* w = num();
                nres_modmult(r, yr, w);
                redc(w, w);
                bignum* expected = num();
                mad(back, y, y, n, n, expected);
                EXPECT_EQ(words_of(w), words_of(expected));
            }
            nres_modmult(r, r, r);
            redc(r, r);
            bignum* expected = num();
            mad(back, back, back, n, n, expected);
            EXPECT_EQ(words_of(r), words_of(expected));
        }
        EXPECT_EQ(state->error_number, 0);
        EXPECT_EQ(state->trace_depth, 0);
        EXPECT_EQ(state->length_check, 1);
    }
};

TEST_F(MontgomeryTest, WordConstant) {
    EXPECT_EQ(prepare_monty(num(3)), 0x55555555u);
    EXPECT_EQ(state->monty.constant, 0x55555555u);
    EXPECT_EQ(prepare_monty(words({0xFFFFFFFFu})), 1u);
    for (int n : {1, 2, 64}) {
        bignum* m = odd_modulus(n);
        EXPECT_EQ(m->w[0] * prepare_monty(m), 0xFFFFFFFFu);  // n * m' = -1 mod 2^32
        EXPECT_EQ(compare_numbers(state->modulus, m), 0);
    }
}

TEST_F(MontgomeryTest, EqualModulusAgainLeavesNoTrace) {
    bignum* n = odd_modulus(7);
    bignum* same = num();
    copy_number(n, same);
    state->trace[1] = 999;
    const mr_digit c = prepare_monty(n);
    EXPECT_EQ(state->trace[1], rn_prepare_monty);  // the first call is traced
    state->trace[1] = 999;
    EXPECT_EQ(prepare_monty(same), c);
    EXPECT_EQ(state->trace[1], 999);
    // After clear_modulus the set-up runs again.
    clear_modulus();
    EXPECT_EQ(state->modulus->len, 0u);
    prepare_monty(same);
    EXPECT_EQ(state->trace[1], rn_prepare_monty);
}

TEST_F(MontgomeryTest, IllegalModulusKeepsTheInstalledOne) {
    bignum* good = odd_modulus(3);
    const mr_digit c = prepare_monty(good);
    bignum* even = words(random_words(9));
    even->w[0] &= ~1u;
    // 2^32 has a zero lowest word.
    for (bignum* n : {num(2), num(1), num(0), num(-5), num(-7), num(10), words({4, 0, 1}), words({0, 1}), even}) {
        EXPECT_EQ(prepare_monty(n), 0u);
        EXPECT_EQ(state->error_number, 19);
        EXPECT_EQ(compare_numbers(state->modulus, good), 0);
        EXPECT_EQ(state->monty.constant, c);
        EXPECT_EQ(state->trace_depth, 0);
        state->error_number = 0;
    }
    bignum* other = odd_modulus(2);
    state->error_number = 19;
    EXPECT_EQ(prepare_monty(other), 0u);
    EXPECT_EQ(compare_numbers(state->modulus, good), 0);
}

TEST_F(MontgomeryTest, OneWordModuli) {
    check_modulus(num(3));
    check_modulus(words({0xFFFFFFFFu}));
    check_modulus(odd_modulus(1));
}

TEST_F(MontgomeryTest, ManyWordModuli) {
    check_modulus(odd_modulus(2));
    check_modulus(odd_modulus(33));
    std::vector<mr_digit> w = random_words(20);
    w.back() = 0xFFFFFFFFu;
    w[0] = 1;
    check_modulus(words(w));
}

TEST_F(MontgomeryTest, MaxLengthModulus) { check_modulus(odd_modulus(state->max_length)); }

TEST_F(MontgomeryTest, ReductionOfAnyValue) {
    // redc(x) = x / R mod n for any x >= 0, also at and beyond n*R.
    bignum* n = odd_modulus(2);
    prepare_monty(n);
    for (int len : {0, 1, 4, 5, 40, state->max_length}) {
        bignum* x = words(random_words(len));
        bignum* r = num();
        redc(x, r);
        EXPECT_LT(compare_numbers(r, n), 0) << len;
        nres(r, r);
        EXPECT_EQ(words_of(r), words_of(reduced(x, n))) << len;
    }
    EXPECT_EQ(state->error_number, 0);
}

TEST_F(MontgomeryTest, ZeroProductsAndMissingModulus) {
    bignum* y = num(8);
    nres(num(5), y);
    EXPECT_EQ(state->error_number, 20);
    EXPECT_EQ(int_value(y), 8);
    state->error_number = 0;
    redc(num(5), y);  // no R without a modulus either
    EXPECT_EQ(state->error_number, 20);
    expect_well_formed(state->accumulator, 2 * state->max_length);
    state->error_number = 0;

    // A zero factor gives zero even while an error is pending; nothing else does.
    prepare_monty(odd_modulus(4));
    bignum* zero = num();
    bignum* x = words(random_words(3));
    state->error_number = 7;
    nres_modmult(zero, x, y);
    EXPECT_EQ(y->len, 0u);
    set_from_int(5, y);
    nres_modmult(x, zero, y);
    EXPECT_EQ(y->len, 0u);
    set_from_int(5, y);
    nres_modmult(x, x, y);
    EXPECT_EQ(int_value(y), 5);
}

}  // namespace
