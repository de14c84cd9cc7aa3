// logb2, expb2, expint, power (with and without modulus) and nroot.
#include <bit>
#include <cstdint>
#include <vector>

#include "engine_fixture.h"
#include "reference_arith.h"
#include "powers.h"

namespace {

class PowersTest : public EngineTest {
protected:
    int between(int lo, int hi) { return lo + static_cast<int>(rng() % static_cast<std::uint64_t>(hi - lo + 1)); }

    // 2^n as words.
    static ref::words two_to(int n) {
        ref::words w(static_cast<std::size_t>(n / 32 + 1), 0);
        w.back() = 1u << (n % 32);
        return w;
    }

    // Checks w^n <= |x| < (w+1)^n for the root w of x (magnitudes).
    void expect_floor_root(const ref::words& x, int n, const ref::words& w) {
        EXPECT_LE(ref::cmp(ref::pow(w, n), x), 0) << "root too large";
        EXPECT_GT(ref::cmp(ref::pow(ref::add(w, {1}), n), x), 0) << "root too small";
    }
};

// ---- logb2, expb2, expint --------------------------------------------------

TEST_F(PowersTest, Logb2CountsTheBitsOfTheMagnitude) {
    EXPECT_EQ(logb2(num(0)), 0);
    EXPECT_EQ(logb2(num(1)), 1);
    EXPECT_EQ(logb2(num(-8)), 4);
    EXPECT_EQ(logb2(words({0, 1})), 33);
    EXPECT_EQ(logb2(words({0xFFFFFFFFu})), 32);
    EXPECT_EQ(logb2(words({5, 0x80000000u}, true)), 64);
    for (int i = 0; i < 50; ++i) {
        auto ws = random_words(between(1, state->max_length));
        int expect = 32 * (static_cast<int>(ws.size()) - 1) + std::bit_width(ws.back());
        EXPECT_EQ(logb2(words(ws, i & 1)), expect);
    }
    EXPECT_EQ(state->trace_depth, 0);
}

TEST_F(PowersTest, Expb2MakesPowersOfTwo) {
    bignum* x = num(77);
    expb2(0, x);
    EXPECT_EQ(words_of(x), (ref::words{1}));
    expb2(33, x);
    EXPECT_EQ(words_of(x), (ref::words{0, 2}));
    for (int n : {1, 31, 32, 63, 64, 1000, 32 * state->max_length - 1}) {
        expb2(n, x);
        EXPECT_EQ(words_of(x), two_to(n)) << n;
        EXPECT_EQ(logb2(x), n + 1);
        expect_well_formed(x, state->max_length);
    }
    ASSERT_EQ(state->error_number, 0);
}

TEST_F(PowersTest, Expb2ErrorsLeaveOne) {
    bignum* x = num(5);
    expb2(-1, x);
    EXPECT_EQ(state->error_number, 10);
    EXPECT_EQ(words_of(x), (ref::words{1}));

    state->error_number = 0;
    expb2(32 * state->max_length, x);  // one word too many
    EXPECT_EQ(state->error_number, 3);
    EXPECT_EQ(state->trace_depth, 0);
}

TEST_F(PowersTest, ExpintMatchesRepeatedMultiplication) {
    bignum* x = num();
    for (int b : {0, 1, -1, 3, -3, 10, 65535, -2147483647}) {
        expint(b, 0, x);
        EXPECT_EQ(words_of(x), (ref::words{1})) << b;
        for (int n : {1, 2, 7, 40, 300}) {
            expint(b, n, x);
            ASSERT_EQ(state->error_number, 0) << b << "^" << n;
            ref::words mag = ref::from_u128(static_cast<ref::u128>(b < 0 ? -static_cast<std::int64_t>(b) : b));
            EXPECT_EQ(words_of(x), ref::pow(mag, n)) << b << "^" << n;
            EXPECT_EQ(negative(x), b < 0 && n % 2 == 1) << b << "^" << n;
        }
    }
    expint(3, 40, x);
    ref::u128 p = 1;
    for (int i = 0; i < 40; ++i) p *= 3;
    EXPECT_EQ(words_of(x), ref::from_u128(p));
}

TEST_F(PowersTest, ExpintOfTwoIsExpb2) {
    bignum* x = num();
    bignum* y = num();
    for (int n : {1, 5, 32, 33, 4000}) {
        expint(2, n, x);
        expb2(n, y);
        EXPECT_EQ(compare_numbers(x, y), 0) << n;
    }
}

TEST_F(PowersTest, ExpintErrors) {
    bignum* x = num(9);
    expint(3, -2, x);
    EXPECT_EQ(state->error_number, 10);
    EXPECT_EQ(words_of(x), (ref::words{1}));

    state->error_number = 0;
    expint(3, 100000, x);  // about 158500 bits
    EXPECT_EQ(state->error_number, 3);
    EXPECT_EQ(state->trace_depth, 0);
}

// ---- power -------------------------------------------------------------------

TEST_F(PowersTest, PowerSmallCases) {
    bignum* w = num();
    power(num(0), 0, w, w);
    EXPECT_EQ(w->len, 0u) << "0^0 gives 0";
    power(num(0), 5, num(7), w);
    EXPECT_EQ(w->len, 0u);
    power(num(-12), 0, w, w);
    EXPECT_EQ(int_value(w), 1);
    power(num(3), 5, num(7), w);
    EXPECT_EQ(int_value(w), 5);
    power(num(3), 5, w, w);
    EXPECT_EQ(int_value(w), 243);
    power(num(-2), 3, w, w);
    EXPECT_EQ(int_value(w), -8);
    power(num(-2), 4, w, w);
    EXPECT_EQ(int_value(w), 16);
    // A negative base with an odd exponent keeps its sign under a modulus
    // too: -27 = -3*7 - 6.
    power(num(-3), 3, num(7), w);
    EXPECT_EQ(int_value(w), -6);
    EXPECT_EQ(state->error_number, 0);
}

TEST_F(PowersTest, PowerBaseMayBeTheResult) {
    bignum* x = num(7);
    power(x, 3, x, x);
    EXPECT_EQ(int_value(x), 343);
    bignum* m = num(1000);
    power(x, 2, m, x);  // 343^2 = 117649
    EXPECT_EQ(int_value(x), 649);
    EXPECT_EQ(int_value(m), 1000);
}

TEST_F(PowersTest, NegativeExponentIsError10AndLeavesOne) {
    bignum* w = num(5);
    power(num(3), -1, w, w);
    EXPECT_EQ(state->error_number, 10);
    EXPECT_EQ(int_value(w), 1);
    EXPECT_EQ(state->trace_depth, 0);
}

TEST_F(PowersTest, PowerWithoutModulusMatchesRepeatedMultiplication) {
    for (auto [len, n] : std::vector<std::pair<int, int>>{{1, 63}, {2, 31}, {3, 100}, {10, 17}, {40, 8}, {500, 4}}) {
        auto xw = random_words(len);
        bignum* x = words(xw, true);
        bignum* w = num();
        power(x, n, w, w);
        ASSERT_EQ(state->error_number, 0);
        EXPECT_EQ(words_of(w), ref::pow(xw, n)) << len << " words ^ " << n;
        EXPECT_EQ(negative(w), n % 2 == 1);
        EXPECT_EQ(words_of(x), xw);
    }
}

TEST_F(PowersTest, PowerWithModulusMatchesReductionAfterEachProduct) {
    // 64-bit operands checked exactly with 128-bit arithmetic.
    bignum* x = num();
    bignum* z = num();
    bignum* w = num();
    for (int i = 0; i < 300; ++i) {
        std::uint64_t b = rng(), m = rng() >> between(0, 63);
        if (m == 0) m = 3;
        int n = between(1, 5000);
        set_words(x, {static_cast<mr_digit>(b), static_cast<mr_digit>(b >> 32)});
        set_words(z, {static_cast<mr_digit>(m), static_cast<mr_digit>(m >> 32)});
        power(x, n, z, w);
        ref::u128 r = 1, base = b % m;
        for (int e = n; e > 0; e >>= 1) {
            if (e & 1) r = r * base % m;
            base = base * base % m;
        }
        ASSERT_EQ(words_of(w), ref::from_u128(r)) << b << "^" << n << " mod " << m;
        EXPECT_EQ(words_of(z), ref::from_u128(m)) << "modulus restored";
    }
    // Many-word operands, including moduli that need no scaling, checked
    // against products reduced by divide one at a time.
    for (int i = 0; i < 12; ++i) {
        int zl = between(1, 300);
        auto zw = random_words(zl);
        if (i % 3 == 0) zw.back() = 0xFFFFFFFFu;
        if (i % 3 == 1) zw.back() = 1;
        auto xw = random_words(between(1, 2 * zl));
        int n = between(2, 40);
        set_words(x, xw, i % 2 == 1);
        set_words(z, zw);
        power(x, n, z, w);
        ASSERT_EQ(state->error_number, 0);
        EXPECT_EQ(words_of(z), zw);

        bignum* expect = num(1);
        bignum* zc = words(zw);
        for (int k = 0; k < n; ++k) {
            multiply(expect, x, expect);
            divide(expect, zc, zc);
        }
        EXPECT_EQ(compare_numbers(w, expect), 0) << i;
        expect_well_formed(w, state->max_length);
    }
}

TEST_F(PowersTest, PowerOverflowIsError3) {
    bignum* x = words(random_words(100));
    bignum* w = num();
    power(x, 21, w, w);  // 2100 words
    EXPECT_EQ(state->error_number, 3);
    EXPECT_EQ(state->trace_depth, 0);
}

TEST_F(PowersTest, ZeroModulusIsDivisionByZero) {
    bignum* w = num();
    power(num(5), 3, num(0), w);
    EXPECT_EQ(state->error_number, 2);
}

// ---- nroot -------------------------------------------------------------------

TEST_F(PowersTest, NrootSmallCases) {
    struct Case {
        int x, n, root;
        bool exact;
    } cases[] = {{27, 3, 3, true},   {26, 3, 2, false}, {-27, 3, -3, true}, {-7, 3, -1, false}, {1, 5, 1, true},
                 {7, 5, 1, false},   {4, 2, 2, true},   {3, 2, 1, false},   {8, 2, 2, false},   {99, 2, 9, false},
                 {100, 2, 10, true}, {-1, 7, -1, true}, {1 << 30, 30, 2, true}, {(1 << 30) - 1, 30, 1, false}};
    for (auto c : cases) {
        bignum* x = num(c.x);
        bignum* w = num(123);
        bool exact = nroot(x, c.n, w);
        EXPECT_EQ(int_value(w), c.root) << c.x << " root " << c.n;
        EXPECT_EQ(exact, c.exact) << c.x << " root " << c.n;
        EXPECT_EQ(int_value(x), c.x) << "x restored";
    }
    EXPECT_EQ(state->error_number, 0);
    EXPECT_EQ(state->trace_depth, 0);
}

TEST_F(PowersTest, NrootOfOneOrZeroCopiesWithoutCheckingN) {
    bignum* x = num(-12345);
    bignum* w = num();
    EXPECT_TRUE(nroot(x, 1, w));
    EXPECT_EQ(int_value(w), -12345);
    EXPECT_TRUE(nroot(num(0), -4, w));
    EXPECT_EQ(w->len, 0u);
    EXPECT_EQ(state->error_number, 0);
}

TEST_F(PowersTest, NrootErrors) {
    bignum* w = num(3);
    EXPECT_FALSE(nroot(num(8), 0, w));
    EXPECT_EQ(state->error_number, 11);
    state->error_number = 0;
    EXPECT_FALSE(nroot(num(8), -3, w));
    EXPECT_EQ(state->error_number, 11);
    state->error_number = 0;
    bignum* x = num(-4);
    EXPECT_FALSE(nroot(x, 2, w));
    EXPECT_EQ(state->error_number, 9);
    EXPECT_EQ(int_value(x), -4);
    EXPECT_EQ(int_value(w), 3);
    EXPECT_EQ(state->trace_depth, 0);
}

TEST_F(PowersTest, NrootOfLargePerfectPowers) {
    // Roots whose powers are several hundred words long.
    struct Case {
        int root_words, n;
    } cases[] = {{300, 2}, {150, 3}, {100, 5}, {40, 13}, {1024, 2}, {1, 600}, {7, 97}};
    for (auto c : cases) {
        auto rw = random_words(c.root_words);
        auto pw = ref::pow(rw, c.n);
        ASSERT_LE(static_cast<int>(pw.size()), state->max_length);
        bignum* x = words(pw);
        bignum* w = num();
        EXPECT_TRUE(nroot(x, c.n, w)) << c.root_words << " words, n " << c.n;
        EXPECT_EQ(words_of(w), rw) << c.root_words << " words, n " << c.n;
        EXPECT_EQ(words_of(x), pw);

        // One less: the root less one, not exact.
        bignum* y = words(ref::sub(pw, {1}));
        EXPECT_FALSE(nroot(y, c.n, w));
        EXPECT_EQ(words_of(w), ref::sub(rw, {1})) << c.root_words << " words, n " << c.n;

        // One more: the same root, not exact.
        bignum* y2 = words(ref::add(pw, {1}));
        EXPECT_FALSE(nroot(y2, c.n, w));
        EXPECT_EQ(words_of(w), rw);
        ASSERT_EQ(state->error_number, 0);
    }
}

TEST_F(PowersTest, OddRootsOfNegativeNumbers) {
    for (int n : {3, 5, 11}) {
        auto rw = random_words(600 / (n * 2));
        auto pw = ref::pow(rw, n);
        bignum* x = words(pw, true);
        bignum* w = num();
        EXPECT_TRUE(nroot(x, n, w));
        EXPECT_EQ(words_of(w), rw);
        EXPECT_TRUE(negative(w));
        EXPECT_TRUE(negative(x)) << "sign set back";

        bignum* y = words(ref::sub(pw, {1}), true);
        EXPECT_FALSE(nroot(y, n, w));
        EXPECT_EQ(words_of(w), ref::sub(rw, {1}));
        EXPECT_TRUE(negative(w));
    }
}

TEST_F(PowersTest, NrootMayReplaceItsOperand) {
    auto rw = random_words(50);
    bignum* x = words(ref::pow(rw, 3), true);
    EXPECT_TRUE(nroot(x, 3, x));
    EXPECT_EQ(words_of(x), rw);
    EXPECT_TRUE(negative(x));
}

TEST_F(PowersTest, NrootIsTheFloorRootForRandomOperands) {
    for (int i = 0; i < 60; ++i) {
        int len = between(1, i < 50 ? 40 : state->max_length);
        auto xw = random_words(len);
        int bits = 32 * (len - 1) + std::bit_width(xw.back());
        int n = i % 4 == 0 ? between(2, bits + 3) : between(2, 9);
        bignum* x = words(xw);
        bignum* w = num();
        nroot(x, n, w);
        ASSERT_EQ(state->error_number, 0) << len << " words, n " << n;
        if (len <= 40 || n <= 3) expect_floor_root(xw, n, words_of(w));
        if (HasFailure()) {
            ADD_FAILURE() << len << " words, n " << n;
            return;
        }
    }
}

TEST_F(PowersTest, NrootOfAMaxLengthNumber) {
    auto xw = random_words(state->max_length);
    bignum* x = words(xw);
    bignum* w = num();
    EXPECT_FALSE(nroot(x, 2, w));
    ASSERT_EQ(state->error_number, 0);
    expect_floor_root(xw, 2, words_of(w));

    auto rw = random_words(state->max_length / 2);
    bignum* sq = words(ref::mul(rw, rw));
    EXPECT_TRUE(nroot(sq, 2, w));
    EXPECT_EQ(words_of(w), rw);
}

TEST_F(PowersTest, NothingHappensWhileAnErrorIsPending) {
    bignum* x = num(64);
    bignum* w = num(5);
    state->error_number = 4;
    EXPECT_EQ(logb2(x), 0);
    expb2(3, w);
    EXPECT_EQ(int_value(w), 5);
    expint(3, 3, w);
    EXPECT_EQ(int_value(w), 5);
    EXPECT_FALSE(nroot(x, 2, w));
    EXPECT_EQ(int_value(w), 5);
    power(x, 2, w, w);
    EXPECT_EQ(w->len, 0u) << "power zeroes its result first";
    EXPECT_EQ(state->trace_depth, 0);
}

}  // namespace
