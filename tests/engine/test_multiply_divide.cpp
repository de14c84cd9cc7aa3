// multiply (schoolbook and squaring), divide with every aliasing form, mad
// and normalise, checked against plain word-vector arithmetic and 128-bit
// integers.
#include <cstdint>
#include <vector>

#include "engine_fixture.h"
#include "reference_arith.h"
#include "thresholds.h"
#include "multiply_divide.h"

namespace {

constexpr mr_digit ones = 0xFFFFFFFFu;

class MultiplyDivideTest : public EngineTest {
protected:
    // Words that exercise carries and borrows more than uniform ones do.
    std::vector<mr_digit> edgy_words(int count) {
        static constexpr mr_digit picks[] = {0, 1, 2, ones, ones - 1, 0x80000000u, 0x7FFFFFFFu};
        std::vector<mr_digit> ws(static_cast<std::size_t>(count));
        for (auto& w : ws) {
            std::uint64_t r = rng();
            w = (r & 3) == 0 ? static_cast<mr_digit>(r >> 32) : picks[(r >> 8) % 7];
        }
        if (count > 0 && ws.back() == 0) ws.back() = 1;
        return ws;
    }
    std::vector<mr_digit> some_words(int count) {
        return (rng() & 1) ? random_words(count) : edgy_words(count);
    }
    int between(int lo, int hi) { return lo + static_cast<int>(rng() % static_cast<std::uint64_t>(hi - lo + 1)); }

    // Checks x = q*y + r with |r| < |y|, r of x's sign and q of sign(x*y).
    void expect_division(const ref::words& x, bool xneg, const ref::words& y, bool yneg, const bignum* q,
                         const bignum* r) {
        expect_well_formed(q, state->max_length);
        expect_well_formed(r, state->max_length);
        ref::words qm = words_of(q), rm = words_of(r);
        EXPECT_EQ(ref::add(ref::mul(qm, y), rm), ref::trimmed(x)) << "q*y + r != x";
        EXPECT_LT(ref::cmp(rm, y), 0) << "|r| >= |y|";
        if (!rm.empty()) {
            EXPECT_EQ(negative(r), xneg) << "remainder sign";
        }
        if (!qm.empty()) {
            EXPECT_EQ(negative(q), xneg != yneg) << "quotient sign";
        }
    }

    // Divides x by y (both as words with signs) into fresh numbers and checks.
    void check_divide(const ref::words& x, bool xneg, const ref::words& y, bool yneg) {
        bignum* bx = words(x, xneg);
        bignum* by = words(y, yneg);
        bignum* q = num(12345);
        divide(bx, by, q);
        ASSERT_EQ(state->error_number, 0);
        expect_division(x, xneg, y, yneg, q, bx);
        EXPECT_EQ(words_of(by), ref::trimmed(y)) << "divisor changed";
        EXPECT_EQ(negative(by), yneg && !ref::trimmed(y).empty());
    }
};

using MultiplyTest = MultiplyDivideTest;
using DivideTest = MultiplyDivideTest;
using MadTest = MultiplyDivideTest;
using NormaliseTest = MultiplyDivideTest;

// ---- multiply --------------------------------------------------------------

TEST_F(MultiplyTest, ZeroOperandGivesZeroBeforeAnyOtherCheck) {
    bignum* zero = num(0);
    bignum* flash = words({1, 2});
    flash->len |= 1u << 16;  // one numerator word over one denominator word
    bignum* z = num(77);
    multiply(zero, flash, z);
    EXPECT_EQ(z->len, 0u);
    EXPECT_EQ(z->w[0], 0u);
    EXPECT_EQ(state->error_number, 0);

    bignum* big = words(random_words(state->max_length));
    z = num(-5);
    multiply(big, zero, z);
    EXPECT_EQ(z->len, 0u);
    EXPECT_EQ(state->error_number, 0);
}

TEST_F(MultiplyTest, SmallProductsMatch128BitIntegers) {
    bignum* x = num();
    bignum* y = num();
    bignum* z = num();
    for (int i = 0; i < 2000; ++i) {
        int m = between(1, 2), n = between(1, 2);
        auto xw = some_words(m), yw = some_words(n);
        bool xn = rng() & 1, yn = rng() & 1;
        set_words(x, xw, xn);
        set_words(y, yw, yn);
        multiply(x, y, z);
        ref::u128 expect = ref::to_u128(xw) * ref::to_u128(yw);
        ASSERT_EQ(words_of(z), ref::from_u128(expect)) << "case " << i;
        EXPECT_EQ(negative(z), xn != yn);
        expect_well_formed(z, state->max_length);
    }
}

TEST_F(MultiplyTest, ProductsMatchReferenceOverManySizes) {
    std::vector<std::pair<int, int>> sizes = {{1, 1}, {1, 2048}, {2048, 1}, {3, 700}, {1024, 1025}, {2000, 49}};
    for (int i = 0; i < 30; ++i) {
        int m = between(1, state->max_length - 1);
        sizes.emplace_back(m, between(1, state->max_length - m));
    }
    for (auto [m, n] : sizes) {
        auto xw = some_words(m), yw = some_words(n);
        bool xn = rng() & 1, yn = rng() & 1;
        bignum* x = words(xw, xn);
        bignum* y = words(yw, yn);
        bignum* z = num(3);
        multiply(x, y, z);
        ASSERT_EQ(state->error_number, 0) << m << "x" << n;
        EXPECT_EQ(words_of(z), ref::mul(xw, yw)) << m << "x" << n;
        EXPECT_EQ(negative(z), xn != yn);
        expect_well_formed(z, state->max_length);
        EXPECT_EQ(words_of(x), xw);
        EXPECT_EQ(negative(x), xn);
        EXPECT_EQ(words_of(y), yw);
    }
}

TEST_F(MultiplyTest, AllOnesOperandsCarryThroughEveryWord) {
    for (int m : {1, 2, 5, 6, 7, 100, 1024}) {
        std::vector<mr_digit> xw(static_cast<std::size_t>(m), ones);
        bignum* x = words(xw);
        bignum* y = words(xw);
        bignum* z = num();
        multiply(x, y, z);
        // (B^m - 1)^2 = B^2m - 2 B^m + 1: words 1, 0 ... 0, B-2, B-1 ... B-1.
        std::vector<mr_digit> expect(static_cast<std::size_t>(2 * m), 0);
        expect[0] = 1;
        expect[static_cast<std::size_t>(m)] = ones - 1;
        for (int k = m + 1; k < 2 * m; ++k) expect[static_cast<std::size_t>(k)] = ones;
        EXPECT_EQ(words_of(z), expect) << m;
        multiply(x, x, z);
        EXPECT_EQ(words_of(z), expect) << "squared " << m;
    }
}

TEST_F(MultiplyTest, ResultMayBeAnOperandOrTheAccumulator) {
    auto xw = random_words(40), yw = random_words(17);
    auto expect = ref::mul(xw, yw);

    bignum* x = words(xw, true);
    bignum* y = words(yw);
    multiply(x, y, x);
    EXPECT_EQ(words_of(x), expect);
    EXPECT_TRUE(negative(x));

    x = words(xw);
    y = words(yw, true);
    multiply(x, y, y);
    EXPECT_EQ(words_of(y), expect);
    EXPECT_TRUE(negative(y));

    x = words(xw);
    y = words(yw);
    multiply(x, y, state->accumulator);
    EXPECT_EQ(words_of(state->accumulator), expect);
    expect_well_formed(state->accumulator, 2 * state->max_length + 3);
}

TEST_F(MultiplyTest, SquaringMatchesSchoolbookProductOfTwoCopies) {
    // 5 words is still schoolbook; from 6 words on x*x takes the squaring path.
    for (int m : {1, 2, 5, 6, 7, 8, 33, 257, 1000, 1024}) {
        for (int round = 0; round < 3; ++round) {
            auto xw = round == 0 ? random_words(m) : edgy_words(m);
            bool xn = round == 1;
            bignum* x = words(xw, xn);
            bignum* copy = num();
            copy_number(x, copy);  // a different number: schoolbook
            bignum* product = num();
            multiply(x, copy, product);
            bignum* square = num();
            multiply(x, x, square);
            ASSERT_EQ(state->error_number, 0);
            EXPECT_EQ(words_of(square), words_of(product)) << m << " words, round " << round;
            EXPECT_EQ(words_of(square), ref::mul(xw, xw)) << m;
            EXPECT_FALSE(negative(square));
            expect_well_formed(square, state->max_length);
            EXPECT_EQ(words_of(x), xw);
            EXPECT_EQ(negative(x), xn);

            multiply(x, x, x);  // in place
            EXPECT_EQ(words_of(x), words_of(product));
            EXPECT_FALSE(negative(x));
        }
    }
}

TEST_F(MultiplyTest, ProductLongerThanMaxLengthIsError3WhileLengthChecked) {
    int half = state->max_length / 2;
    bignum* x = words(random_words(half + 1));
    bignum* y = words(random_words(state->max_length - half - 1));  // m + n = max_length: allowed
    bignum* z = num(9);
    multiply(x, y, z);
    ASSERT_EQ(state->error_number, 0);

    bignum* y2 = words(random_words(state->max_length - half));  // one word more
    bignum* z2 = num(9);
    multiply(x, y2, z2);
    EXPECT_EQ(state->error_number, 3);
    EXPECT_EQ(z2->len, 1u);
    EXPECT_EQ(z2->w[0], 9u);
    EXPECT_EQ(state->accumulator->len, 0u);
    EXPECT_EQ(state->trace_depth, 0);
}

TEST_F(MultiplyTest, DoubleLengthProductWithoutLengthCheck) {
    auto xw = random_words(state->max_length), yw = edgy_words(state->max_length);
    bignum* x = words(xw);
    bignum* y = words(yw);
    state->length_check = 0;
    multiply(x, y, state->accumulator);
    state->length_check = 1;
    ASSERT_EQ(state->error_number, 0);
    EXPECT_EQ(words_of(state->accumulator), ref::mul(xw, yw));
    expect_well_formed(state->accumulator, 2 * state->max_length + 3);
}

TEST_F(MultiplyTest, FlashOperandIsError12) {
    bignum* flash = words({5, 3});
    flash->len |= 1u << 16;
    bignum* x = num(7);
    bignum* z = num(4);
    multiply(x, flash, z);
    EXPECT_EQ(state->error_number, 12);
    EXPECT_EQ(z->w[0], 4u);
}

TEST_F(MultiplyTest, DoesNothingWhileAnErrorIsPending) {
    bignum* x = num(6);
    bignum* y = num(7);
    bignum* z = num(1);
    state->error_number = 2;
    multiply(x, y, z);
    EXPECT_EQ(z->w[0], 1u);
    multiply(x, num(0), z);
    EXPECT_EQ(z->w[0], 1u);
    EXPECT_EQ(state->trace_depth, 0);
}

// ---- divide ----------------------------------------------------------------

TEST_F(DivideTest, QuotientTruncatesTowardZeroInAllFourSignCombinations) {
    struct Case {
        int x, y, q, r;
    } cases[] = {{7, 2, 3, 1}, {-7, 2, -3, -1}, {7, -2, -3, 1}, {-7, -2, 3, -1}, {6, -3, -2, 0}, {-6, -3, 2, 0}};
    for (auto c : cases) {
        bignum* x = num(c.x);
        bignum* y = num(c.y);
        bignum* q = num();
        divide(x, y, q);
        EXPECT_EQ(int_value(q), c.q) << c.x << "/" << c.y;
        EXPECT_EQ(int_value(x), c.r) << c.x << "%" << c.y;
        EXPECT_EQ(int_value(y), c.y);
        expect_well_formed(x, state->max_length);
        expect_well_formed(q, state->max_length);
    }
    // The same for operands that take the long-division loop.
    auto xw = random_words(30), yw = random_words(11);
    for (int s = 0; s < 4; ++s) check_divide(xw, s & 1, yw, s & 2);
}

TEST_F(DivideTest, SmallOperandsMatch128BitIntegers) {
    bignum* x = num();
    bignum* y = num();
    bignum* q = num();
    for (int i = 0; i < 4000; ++i) {
        int t = between(1, 4), n = between(1, 4);
        auto xw = some_words(t), yw = some_words(n);
        bool xn = rng() & 1, yn = rng() & 1;
        set_words(x, xw, xn);
        set_words(y, yw, yn);
        divide(x, y, q);
        ref::u128 ux = ref::to_u128(xw), uy = ref::to_u128(yw);
        ASSERT_EQ(words_of(q), ref::from_u128(ux / uy)) << "case " << i;
        ASSERT_EQ(words_of(x), ref::from_u128(ux % uy)) << "case " << i;
        if (ux / uy != 0) {
            EXPECT_EQ(negative(q), xn != yn);
        }
        if (ux % uy != 0) {
            EXPECT_EQ(negative(x), xn);
        }
        EXPECT_EQ(words_of(y), yw);
        EXPECT_EQ(negative(y), yn);
        expect_well_formed(x, state->max_length);
        expect_well_formed(q, state->max_length);
    }
}

// Operands chosen so that the loop takes each of its rarer branches.
TEST_F(DivideTest, CraftedOperandsForEstimateCorrectionAndAddBack) {
    struct Case {
        const char* what;
        std::vector<mr_digit> x, y, q, r;
    } cases[] = {
        // Second step: the remainder's top word equals the divisor's, so the
        // estimate is 2^32-1, and the correction loop takes it down.
        {"estimate 2^32-1, corrected",
         {0xFFFFFFFFu, 0x12345677u, 0x80000000u},
         {0x12345678u, 0x80000000u},
         {0xFFFFFFFFu},
         {0x12345677u, 0x80000000u}},
        // Divisor with top word 2^32-1 (no scaling): the estimate is 2^32-1
        // and r^ = A[j] + ytop overflows, so the correction is skipped.
        {"estimate 2^32-1, correction skipped",
         {0xFFFFFFFFu, 0x12345677u, 0xFFFFFFFFu},
         {0x12345678u, 0xFFFFFFFFu},
         {0xFFFFFFFFu},
         {0x12345677u, 0xFFFFFFFFu}},
        // The first estimate is one too large even after correction.
        {"add back",
         {0, 0, 0x80000000u, 0x7FFFFFFFu},
         {1, 0, 0x80000000u},
         {0xFFFFFFFEu},
         {2, 0xFFFFFFFFu, 0x7FFFFFFFu}},
        {"add back after scaling",
         {0x80000000u, 0x80000000u, 0x80000000u, 0x80000000u, 0x80000000u},
         {0xE31EF8FBu, 0x80000000u, 0x80000000u},
         {0xFFFFFFFFu, 0xFFFFFFFFu},
         {0x631EF8FBu, 1, 0x1CE10706u}},
        // The correction stops because r^ + ytop no longer fits in a word.
        {"correction ends on r^ overflow",
         {0xFFFFFFFEu, 0x80000000u, 0, 0x6518093Du, 1},
         {0xFFFFFFFFu, 0xFA1B1BF1u, 0xCC3D5506u},
         {0xBF979869u, 1},
         {0xBF979867u, 0xC88BD9C0u, 0x7A891FDAu}},
        {"correction loop, scaled divisor",
         {0xFFFFFFFEu, 0x81F9C1F6u, 1, 0x80000000u},
         {0x552B82F6u, 0xF9270F4Eu},
         {0x2A90DC52u, 0x83848ED9u},
         {0x4D24A532u, 0xEEE80732u}},
        // x = y*2^64 - 1 on 64-bit limbs: the top quotient limb's estimate is
        // one too large (add back), then the remainder's top limb equals the
        // divisor's (estimate 2^64-1); unscaled with whole limbs, then
        // scaled with a zero word put below an odd-length divisor.
        {"limbs: add back, then estimate 2^64-1",
         {ones, ones, 0x9ABCDEEFu, 0x12345678u, 1, 0, 0x55555555u, 0x80000000u},
         {0x9ABCDEF0u, 0x12345678u, 1, 0, 0x55555555u, 0x80000000u},
         {ones, ones},
         {0x9ABCDEEFu, 0x12345678u, 1, 0, 0x55555555u, 0x80000000u}},
        {"limbs: the same, odd length and scaled",
         {ones, ones, 0x9ABCDEEFu, 0x12345678u, 0, ones, 0x00012345u},
         {0x9ABCDEF0u, 0x12345678u, 0, ones, 0x00012345u},
         {ones, ones},
         {0x9ABCDEEFu, 0x12345678u, 0, ones, 0x00012345u}},
    };
    for (const auto& c : cases) {
        for (int s = 0; s < 4; ++s) {
            bool xn = s & 1, yn = s & 2;
            bignum* x = words(c.x, xn);
            bignum* y = words(c.y, yn);
            bignum* q = num();
            divide(x, y, q);
            EXPECT_EQ(words_of(q), c.q) << c.what;
            EXPECT_EQ(words_of(x), c.r) << c.what;
            EXPECT_EQ(negative(q), xn != yn) << c.what;
            EXPECT_EQ(negative(x), xn) << c.what;
            EXPECT_EQ(words_of(y), c.y) << c.what;
            EXPECT_EQ(negative(y), yn) << c.what;
            expect_division(c.x, xn, c.y, yn, q, x);
        }
    }
}

// x = y*2^(32k) - 1 around the recursive division's threshold: each block
// of the quotient is all ones, so a block's top equals the divisor's top
// half (the capped estimate), and the estimate of the next block is too
// large (added back).
TEST_F(DivideTest, AllOnesQuotientBlocksAtTheRecursionThreshold) {
    for (int n : {divide_recursive_words - 1, divide_recursive_words, divide_recursive_words + 1,
                  2 * divide_recursive_words + 3}) {
        for (int k : {1, 2, n / 2, n}) {
            ref::words y = some_words(n);
            y.back() |= 0x80000000u >> (rng() % 32);
            ref::words shifted(static_cast<std::size_t>(k), 0);
            shifted.insert(shifted.end(), y.begin(), y.end());
            const ref::words x = ref::sub(shifted, {1});
            check_divide(x, false, y, rng() & 1);
            if (HasFailure()) {
                ADD_FAILURE() << "divisor " << n << " words, quotient " << k << " words";
                return;
            }
        }
    }
}

TEST_F(DivideTest, DivisorWithAllOnesTopWordIsUsedUnscaled) {
    for (int n : {2, 3, 50, 1024}) {
        auto yw = random_words(n);
        yw.back() = ones;
        for (int extra : {0, 1, 7, 900}) {
            auto xw = random_words(n + extra);
            xw.back() = ones;  // equal lengths with a small quotient too
            check_divide(xw, false, yw, true);
            check_divide(ref::sub(ref::mul(yw, random_words(extra + 1)), {1}), true, yw, false);
        }
    }
}

TEST_F(DivideTest, DividendShorterThanDivisorIsTheRemainder) {
    auto xw = random_words(5), yw = random_words(9);
    bignum* x = words(xw, true);
    bignum* y = words(yw);
    bignum* q = num(99);
    divide(x, y, q);
    EXPECT_EQ(q->len, 0u);
    EXPECT_EQ(words_of(x), xw);
    EXPECT_TRUE(negative(x));
    EXPECT_EQ(words_of(y), yw);

    bignum* zero = num(0);
    divide(zero, y, q);
    EXPECT_EQ(q->len, 0u);
    EXPECT_EQ(zero->len, 0u);
    EXPECT_EQ(state->error_number, 0);
}

// Each path of divide in each aliasing form: z separate, z == x (quotient
// only, into x), z == y (remainder only, y unchanged).
TEST_F(DivideTest, EveryAliasingFormOnEveryPath) {
    struct Shape {
        const char* what;
        std::vector<mr_digit> x, y;
    } shapes[] = {
        {"one word each", {1000003}, {97}},
        {"equal lengths, small quotient", {5, 6, 0x30000000u}, {7, 8, 0x10000000u}},
        {"equal lengths, large quotient", {5, 6, 0xF0000000u}, {7, 8, 3}},
        {"one-word divisor", random_words(20), {0x9876543u}},
        {"shorter dividend", {1, 2}, {3, 4, 5}},
        {"long division, scaled", random_words(40), random_words(13)},
        {"long division, unscaled", random_words(40), {1, 2, 3, ones}},
    };
    for (const auto& sh : shapes) {
        for (int s = 0; s < 4; ++s) {
            bool xn = s & 1, yn = s & 2;
            // Separate quotient: the reference result.
            bignum* x = words(sh.x, xn);
            bignum* y = words(sh.y, yn);
            bignum* q = num();
            divide(x, y, q);
            ASSERT_EQ(state->error_number, 0) << sh.what;
            expect_division(sh.x, xn, sh.y, yn, q, x);

            bignum* x2 = words(sh.x, xn);
            bignum* y2 = words(sh.y, yn);
            divide(x2, y2, x2);
            EXPECT_EQ(compare_numbers(x2, q), 0) << sh.what << ": quotient only";
            EXPECT_EQ(compare_numbers(y2, y), 0) << sh.what;
            expect_well_formed(x2, state->max_length);

            bignum* x3 = words(sh.x, xn);
            bignum* y3 = words(sh.y, yn);
            divide(x3, y3, y3);
            EXPECT_EQ(compare_numbers(x3, x), 0) << sh.what << ": remainder only";
            EXPECT_EQ(words_of(y3), sh.y) << sh.what << ": divisor kept";
            EXPECT_EQ(negative(y3), yn);
            expect_well_formed(x3, state->max_length);
            expect_well_formed(y3, state->max_length);

            // The accumulator as the dividend is divided in place.
            bignum* y4 = words(sh.y, yn);
            bignum* q4 = num();
            set_words(state->accumulator, sh.x, xn);
            divide(state->accumulator, y4, q4);
            EXPECT_EQ(compare_numbers(q4, q), 0) << sh.what << ": accumulator dividend";
            EXPECT_EQ(compare_numbers(state->accumulator, x), 0) << sh.what;
        }
    }
}

TEST_F(DivideTest, RandomSizesUpToMaxLengthRecompose) {
    const int top = state->max_length;
    std::vector<std::pair<int, int>> sizes = {{top, 1},       {top, 2},   {top, 3},       {top, top / 2},
                                              {top, top - 1}, {top, top}, {top - 1, top}, {2048, 1024},
                                              {1025, 1024},   {2, 2},     {3, 2}};
    for (int i = 0; i < 60; ++i) {
        int t = between(1, top);
        sizes.emplace_back(t, between(1, std::min(top, t + 2)));
    }
    for (auto [t, n] : sizes) {
        auto xw = some_words(t), yw = some_words(n);
        if (rng() & 1) yw.back() = static_cast<mr_digit>(rng() % 4 + 1);  // heavy scaling
        check_divide(xw, rng() & 1, yw, rng() & 1);
        if (HasFailure()) {
            ADD_FAILURE() << "sizes " << t << "/" << n;
            return;
        }
    }
}

TEST_F(DivideTest, ManySmallStructuredOperandsRecompose) {
    for (int i = 0; i < 3000; ++i) {
        int n = between(2, 4), t = between(n, n + 3);
        check_divide(edgy_words(t), rng() & 1, edgy_words(n), rng() & 1);
        if (HasFailure()) return;
    }
}

TEST_F(DivideTest, ExactMultiplesLeaveZeroRemainder) {
    for (int n : {2, 9, 300}) {
        auto yw = random_words(n), qw = edgy_words(n + 5);
        bignum* x = words(ref::mul(yw, qw), true);
        bignum* y = words(yw);
        bignum* q = num();
        divide(x, y, q);
        EXPECT_EQ(words_of(q), qw);
        EXPECT_TRUE(negative(q));
        EXPECT_EQ(x->len, 0u) << "a zero remainder carries no sign";
    }
}

TEST_F(DivideTest, DoubleLengthDividendWithoutLengthCheck) {
    auto aw = random_words(state->max_length), bw = edgy_words(state->max_length - 3);
    auto product = ref::add(ref::mul(aw, bw), {12345});
    set_words(state->accumulator, product);
    bignum* y = words(bw);
    bignum* q = num();
    state->length_check = 0;
    divide(state->accumulator, y, q);
    EXPECT_EQ(state->length_check, 0);
    state->length_check = 1;
    ASSERT_EQ(state->error_number, 0);
    EXPECT_EQ(words_of(q), aw);
    EXPECT_EQ(words_of(state->accumulator), (ref::words{12345}));
    EXPECT_EQ(words_of(y), bw);
}

TEST_F(DivideTest, ErrorsAreReportedInOrderAndLeaveOperandsAlone) {
    bignum* b = num(100);
    bignum* seven = num(7);
    bignum* x = num(-40);
    bignum* z = num(5);
    divide(x, x, z);
    EXPECT_EQ(state->error_number, 7);
    EXPECT_EQ(int_value(x), -40);
    EXPECT_EQ(int_value(z), 5);
    EXPECT_EQ(state->trace_depth, 0);

    state->error_number = 0;
    bignum* flash = words({5, 3});
    flash->len |= 1u << 16;
    divide(x, flash, z);
    EXPECT_EQ(state->error_number, 12);

    state->error_number = 0;
    bignum* zero = num(0);
    divide(x, zero, z);
    EXPECT_EQ(state->error_number, 2);
    EXPECT_EQ(int_value(x), -40);
    EXPECT_EQ(int_value(z), 5);

    // Both 7 and 2 apply: the later report is the one recorded.
    state->error_number = 0;
    divide(zero, zero, z);
    EXPECT_EQ(state->error_number, 2);

    // A quotient that could exceed max_length words while length-checked.
    state->error_number = 0;
    auto big = random_words(state->max_length + 1);
    set_words(state->accumulator, big, true);
    bignum* y = num(-3);
    divide(state->accumulator, y, z);
    EXPECT_EQ(state->error_number, 3);
    EXPECT_EQ(words_of(state->accumulator), big);
    EXPECT_TRUE(negative(state->accumulator));
    EXPECT_EQ(int_value(y), -3);
    EXPECT_EQ(int_value(z), 5);
    EXPECT_EQ(state->trace_depth, 0);

    // Nothing happens while an error is pending.
    divide(b, seven, z);
    EXPECT_EQ(int_value(b), 100);
    EXPECT_EQ(int_value(z), 5);
}

// ---- mad -------------------------------------------------------------------

TEST_F(MadTest, QuotientAndRemainderOfProductPlusAddend) {
    for (int round = 0; round < 20; ++round) {
        int m = between(1, 300), n = between(1, 300), k = between(1, 600), l = between(1, m + n);
        auto xw = some_words(m), yw = some_words(n), zw = some_words(k), ww = some_words(l);
        bignum* x = words(xw);
        bignum* y = words(yw);
        bignum* z = words(zw);
        bignum* w = words(ww);
        bignum* q = num();
        bignum* r = num();
        mad(x, y, z, w, q, r);
        ASSERT_EQ(state->error_number, 0);
        expect_division(ref::add(ref::mul(xw, yw), zw), false, ww, false, q, r);
        EXPECT_EQ(words_of(w), ww);
        EXPECT_EQ(state->length_check, 1);
    }
}

TEST_F(MadTest, SignedOperandsFollowDivisionSignRules) {
    // (-7 * 3 + 2) / 4 = -19 / 4: quotient -4, remainder -3.
    bignum* x = num(-7);
    bignum* y = num(3);
    bignum* z = num(2);
    bignum* w = num(4);
    bignum* q = num();
    bignum* r = num();
    mad(x, y, z, w, q, r);
    EXPECT_EQ(int_value(q), -4);
    EXPECT_EQ(int_value(r), -3);
}

TEST_F(MadTest, AddendEqualToAFactorIsNotAdded) {
    bignum* x = num(11);
    bignum* y = num(13);
    bignum* w = num(10);
    bignum* q = num();
    bignum* r = num();
    mad(x, y, x, w, q, r);  // 143 / 10
    EXPECT_EQ(int_value(q), 14);
    EXPECT_EQ(int_value(r), 3);
    mad(x, y, y, w, q, r);
    EXPECT_EQ(int_value(q), 14);
    EXPECT_EQ(int_value(r), 3);
}

TEST_F(MadTest, RemainderOnlyAndQuotientOnlyForms) {
    auto xw = random_words(70), yw = random_words(60), zw = random_words(9), ww = random_words(45);
    auto value = ref::add(ref::mul(xw, yw), zw);
    bignum* x = words(xw);
    bignum* y = words(yw);
    bignum* z = words(zw);
    bignum* w = words(ww);
    bignum* q = num();
    bignum* r = num();
    mad(x, y, z, w, q, r);
    expect_division(value, false, ww, false, q, r);

    // q == w: remainder only, w keeps its value; (x*y) mod w without addend.
    bignum* r2 = num(1);
    mad(x, y, x, w, w, r2);
    bignum* q3 = num();
    bignum* r3 = num();
    mad(x, y, y, w, q3, r3);
    EXPECT_EQ(compare_numbers(r2, r3), 0);
    EXPECT_EQ(words_of(w), ww);

    // q == r: the quotient only.
    bignum* q4 = num(1);
    mad(x, y, z, w, q4, q4);
    EXPECT_EQ(compare_numbers(q4, q), 0);

    // The result may be a factor, as in a modular squaring step.
    bignum* x5 = words(xw);
    mad(x5, x5, x5, w, w, x5);
    bignum* sq = words(ref::mul(xw, xw));
    bignum* w5 = words(ww);
    divide(sq, w5, w5);
    EXPECT_EQ(compare_numbers(x5, sq), 0);
    EXPECT_EQ(state->error_number, 0);
}

TEST_F(MadTest, ProductMayBeTwiceMaxLength) {
    auto xw = random_words(state->max_length), yw = edgy_words(state->max_length),
         ww = random_words(state->max_length - 1);
    bignum* x = words(xw);
    bignum* y = words(yw);
    bignum* w = words(ww);
    bignum* r = num();
    mad(x, y, y, w, w, r);
    ASSERT_EQ(state->error_number, 0);
    EXPECT_EQ(state->length_check, 1);
    // r = x*y - q*w for some q; check r < w and that w divides x*y - r.
    auto rw = words_of(r);
    EXPECT_LT(ref::cmp(rw, ww), 0);
    bignum* acc = state->accumulator;
    set_words(acc, ref::sub(ref::mul(xw, yw), rw));
    bignum* wc = words(ww);
    state->length_check = 0;
    divide(acc, wc, wc);  // remainder only
    state->length_check = 1;
    EXPECT_EQ(acc->len, 0u);
}

TEST_F(MadTest, DivisorEqualToRemainderIsError7) {
    bignum* x = num(3);
    bignum* w = num(5);
    bignum* q = num();
    state->length_check = 0;
    mad(x, x, x, w, q, w);
    EXPECT_EQ(state->error_number, 7);
    EXPECT_EQ(state->length_check, 0);
    state->length_check = 1;
    EXPECT_EQ(int_value(w), 5);
    EXPECT_EQ(state->trace_depth, 0);
}

TEST_F(MadTest, LengthCheckIsGivenBackAsTheCallerHadIt) {
    bignum* x = num(3);
    bignum* w = num(5);
    bignum* q = num();
    bignum* r = num();
    state->length_check = 0;
    mad(x, x, x, w, q, r);
    EXPECT_EQ(state->length_check, 0);
    state->length_check = 1;
    EXPECT_EQ(int_value(q), 1);
    EXPECT_EQ(int_value(r), 4);
}

TEST_F(MadTest, ZeroDivisorLeavesResultsAlone) {
    bignum* x = num(3);
    bignum* w = num(0);
    bignum* q = num(8);
    bignum* r = num(9);
    mad(x, x, x, w, q, r);
    EXPECT_EQ(state->error_number, 2);
    EXPECT_EQ(int_value(q), 8);
    EXPECT_EQ(int_value(r), 9);
    EXPECT_EQ(state->length_check, 1);
}

// ---- normalise -------------------------------------------------------------

TEST_F(NormaliseTest, ScalesTheTopWordWithoutAddingAWord) {
    for (mr_digit t : {1u, 2u, 3u, 0x7FFFu, 0x12345678u, 0x7FFFFFFFu, 0x80000000u, ones - 1}) {
        auto xw = random_words(6);
        xw.back() = t;
        bignum* x = words(xw, true);
        bignum* y = num();
        mr_digit d = normalise(x, y);
        mr_digit expect = static_cast<mr_digit>((std::uint64_t{1} << 32) / (std::uint64_t{t} + 1));
        EXPECT_EQ(d, expect) << t;
        auto yw = words_of(y);
        ASSERT_EQ(yw.size(), 6u) << t;
        EXPECT_GE(yw.back(), 0x80000000u) << t;
        EXPECT_EQ(yw, ref::mul(xw, {d}));
        EXPECT_TRUE(negative(y));
        EXPECT_EQ(words_of(x), xw) << "source changed";

        mr_digit d2 = normalise(x, x);  // in place
        EXPECT_EQ(d2, d);
        EXPECT_EQ(words_of(x), yw);
    }
}

TEST_F(NormaliseTest, AllOnesTopWordNeedsNoScaling) {
    auto xw = random_words(4);
    xw.back() = ones;
    bignum* x = words(xw);
    bignum* y = num(5);
    EXPECT_EQ(normalise(x, y), 1u);
    EXPECT_EQ(words_of(y), xw);
    EXPECT_EQ(state->trace_depth, 0);
}

}  // namespace
