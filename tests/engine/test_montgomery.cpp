// Montgomery set-up, conversion and products, for one-word, many-word and
// max_length-word odd moduli. Expected values come from divide and mad.
#include "engine_fixture.h"

namespace {

class MontgomeryTest : public EngineTest {
protected:
    // An odd modulus of `n` random words.
    bignum* odd_modulus(int n) {
        std::vector<mr_digit> w = random_words(n);
        w[0] |= 1;
        if (n == 1 && w[0] < 3) w[0] = 3;
        return words(w);
    }

    // x mod n in [0, n), by divide.
    bignum* reduced(bignum* x, bignum* n) {
        bignum* r = num();
        copy_number(x, r);
        divide(r, n, n);
        if (negative(r)) add(r, n, r);
        return r;
    }

    // x * y mod n, by mad.
    bignum* product_mod(bignum* x, bignum* y, bignum* n) {
        bignum* r = num();
        mad(x, y, x, n, n, r);
        if (negative(r)) add(r, n, r);
        return r;
    }

    // Values to convert: small, negative, n - 1, n, above n, the full room.
    std::vector<bignum*> samples(bignum* n) {
        const int k = static_cast<int>(n->len);
        std::vector<bignum*> xs = {num(0), num(1), num(-1), num(2), words(random_words(k), true)};
        bignum* n1 = num();
        decr(n, 1, n1);
        xs.push_back(n1);
        bignum* nn = num();
        copy_number(n, nn);
        xs.push_back(nn);
        xs.push_back(words(random_words(std::max(1, k - 1))));
        xs.push_back(words(random_words(k)));
        xs.push_back(words(random_words(state->max_length)));
        return xs;
    }

    void check_round_trips(bignum* n) {
        ASSERT_NE(prepare_monty(n), 0u);
        const int k = static_cast<int>(n->len);
        for (bignum* x : samples(n)) {
            bignum* r = num();
            nres(x, r);
            ASSERT_EQ(state->error_number, 0);
            EXPECT_FALSE(negative(r));
            EXPECT_LT(compare_numbers(r, n), 0);
            expect_well_formed(r, state->max_length);
            if (2 * k <= state->max_length) {
                // r = x * 2^(32k) mod n
                bignum* shifted = num();
                copy_number(reduced(x, n), shifted);
                mr_shift(shifted, k, shifted);
                EXPECT_EQ(words_of(r), words_of(reduced(shifted, n)));
            }
            bignum* back = num();
            redc(r, back);
            EXPECT_EQ(words_of(back), words_of(reduced(x, n))) << k << "-word modulus";
            EXPECT_FALSE(negative(back));
        }
        EXPECT_EQ(state->trace_depth, 0);
        EXPECT_EQ(state->length_check, 1);
    }

    void check_products(bignum* n) {
        ASSERT_NE(prepare_monty(n), 0u);
        const int k = static_cast<int>(n->len);
        for (int i = 0; i < 4; ++i) {
            bignum* x = reduced(words(random_words(k)), n);
            bignum* y = reduced(words(random_words(k)), n);
            if (i == 0) decr(n, 1, y);  // the largest residue
            bignum* xr = num();
            bignum* yr = num();
            nres(x, xr);
            nres(y, yr);
            bignum* w = num();
            nres_modmult(xr, yr, w);
            EXPECT_LT(compare_numbers(w, n), 0);
            redc(w, w);
            EXPECT_EQ(words_of(w), words_of(product_mod(x, y, n)));
            // Squaring in place.
            nres_modmult(xr, xr, xr);
            redc(xr, xr);
            EXPECT_EQ(words_of(xr), words_of(product_mod(x, x, n)));
            expect_well_formed(xr, state->max_length);
        }
        EXPECT_EQ(state->error_number, 0);
    }
};

TEST_F(MontgomeryTest, WordConstant) {
    EXPECT_EQ(prepare_monty(num(3)), 0x55555555u);
    EXPECT_EQ(state->monty_constant, 0x55555555u);
    EXPECT_EQ(prepare_monty(words({0xFFFFFFFFu})), 1u);
    for (int n : {1, 2, 5, 64}) {
        bignum* m = odd_modulus(n);
        const mr_digit c = prepare_monty(m);
        EXPECT_EQ(m->w[0] * c, 0xFFFFFFFFu);  // n * m' = -1 mod 2^32
        EXPECT_EQ(compare_numbers(state->modulus, m), 0);
    }
    EXPECT_EQ(state->trace_depth, 0);
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
    EXPECT_EQ(state->trace_depth, 0);
}

TEST_F(MontgomeryTest, IllegalModulusKeepsTheInstalledOne) {
    bignum* good = odd_modulus(3);
    const mr_digit c = prepare_monty(good);
    std::vector<bignum*> bad = {num(2), num(1), num(0), num(-5), num(-7), num(10), words({4, 0, 1}),
                                words({0, 1}), words(random_words(9))};
    bad.back()->w[0] &= ~1u;
    for (bignum* n : bad) {
        EXPECT_EQ(prepare_monty(n), 0u);
        EXPECT_EQ(state->error_number, 19);
        EXPECT_EQ(compare_numbers(state->modulus, good), 0);
        EXPECT_EQ(state->monty_constant, c);
        EXPECT_EQ(state->trace_depth, 0);
        state->error_number = 0;
    }
    // While an error is pending nothing is installed.
    bignum* other = odd_modulus(2);
    state->error_number = 19;
    EXPECT_EQ(prepare_monty(other), 0u);
    EXPECT_EQ(compare_numbers(state->modulus, good), 0);
}

TEST_F(MontgomeryTest, RoundTripOneWordModulus) {
    check_round_trips(num(3));
    check_round_trips(words({0xFFFFFFFFu}));
    check_round_trips(odd_modulus(1));
}

TEST_F(MontgomeryTest, RoundTripManyWordModulus) {
    check_round_trips(odd_modulus(2));
    check_round_trips(odd_modulus(33));
    // Top word 2^32 - 1 and low word 1.
    std::vector<mr_digit> w = random_words(20);
    w.back() = 0xFFFFFFFFu;
    w[0] = 1;
    check_round_trips(words(w));
}

TEST_F(MontgomeryTest, RoundTripMaxLengthModulus) {
    check_round_trips(odd_modulus(state->max_length));
}

TEST_F(MontgomeryTest, Products) {
    check_products(words({0xFFFFFFFBu}));
    check_products(odd_modulus(9));
    check_products(odd_modulus(state->max_length));
}

TEST_F(MontgomeryTest, ReductionOfAnyValue) {
    // redc(x) = x / R mod n for any non-negative x, also beyond n*R: then
    // nres(redc(x)) = x mod n.
    bignum* n = odd_modulus(2);
    prepare_monty(n);
    for (int len : {0, 1, 3, 4, 5, 40, state->max_length}) {
        bignum* x = words(random_words(len));
        bignum* r = num();
        redc(x, r);
        EXPECT_LT(compare_numbers(r, n), 0) << len;
        nres(r, r);
        EXPECT_EQ(words_of(r), words_of(reduced(x, n))) << len;
    }
    EXPECT_EQ(state->error_number, 0);
}

TEST_F(MontgomeryTest, ZeroProductsEvenWithAnErrorPending) {
    prepare_monty(odd_modulus(4));
    bignum* x = num();
    bignum* y = words(random_words(3));
    bignum* w = num(77);
    state->error_number = 7;
    nres_modmult(x, y, w);
    EXPECT_EQ(w->len, 0u);
    set_from_int(5, w);
    nres_modmult(y, x, w);
    EXPECT_EQ(w->len, 0u);
    // A non-zero product is not formed while the error is pending.
    set_from_int(5, w);
    nres_modmult(y, y, w);
    EXPECT_EQ(int_value(w), 5);
}

TEST_F(MontgomeryTest, NoModulusInstalled) {
    bignum* y = num(8);
    nres(num(5), y);
    EXPECT_EQ(state->error_number, 20);
    EXPECT_EQ(int_value(y), 8);
    state->error_number = 0;
    // redc has no R without a modulus either.
    redc(num(5), y);
    EXPECT_EQ(state->error_number, 20);
    expect_well_formed(state->accumulator, 2 * state->max_length);
    state->error_number = 0;

    // clear_modulus removes an installed one; the next set-up is traced.
    bignum* n = odd_modulus(2);
    prepare_monty(n);
    clear_modulus();
    EXPECT_EQ(state->modulus->len, 0u);
    nres(num(5), y);
    EXPECT_EQ(state->error_number, 20);
    state->error_number = 0;
    state->trace[1] = 999;
    prepare_monty(n);
    EXPECT_EQ(state->trace[1], rn_prepare_monty);
}

}  // namespace
