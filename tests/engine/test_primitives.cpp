// Linear-time arithmetic, checked against 128-bit machine arithmetic for
// values of up to two words and by identities for long ones.
#include <climits>

#include "engine_fixture.h"
#include "primitives.h"

namespace {

__extension__ using i128 = __int128;
__extension__ using u128 = unsigned __int128;

class PrimitivesTest : public EngineTest {
protected:
    // A number of up to three words (in the current digit base) from a
    // 128-bit value.
    bignum* big(i128 v) {
        bignum* n = num();
        set_big(n, v);
        return n;
    }
    void set_big(bignum* n, i128 v) {
        u128 m = v < 0 ? static_cast<u128>(-v) : static_cast<u128>(v);
        std::vector<mr_digit> ws;
        u128 b = radix();
        while (m > 0) {
            ws.push_back(static_cast<mr_digit>(m % b));
            m /= b;
        }
        set_words(n, ws, v < 0);
    }
    i128 value(const bignum* n) {
        u128 m = 0;
        auto ws = words_of(n);
        for (std::size_t i = ws.size(); i-- > 0;) m = m * radix() + ws[i];
        i128 v = static_cast<i128>(m);
        return negative(n) ? -v : v;
    }
    u128 radix() const { return state->digit_base == 0 ? (u128{1} << 32) : u128{state->digit_base}; }

    // A random value of up to two words (often with all-ones words, to
    // exercise carries and borrows), either sign.
    i128 random_value() {
        std::uint64_t r = rng();
        i128 v;
        switch (r % 6) {
        case 0: v = static_cast<i128>(rng() & 0xFFFFFFFFu); break;
        case 1: v = static_cast<i128>(0xFFFFFFFFFFFFFFFFull >> (rng() % 40)); break;
        case 2: v = static_cast<i128>(rng() % 5); break;
        default: v = static_cast<i128>(rng() % (std::uint64_t{1} << 62)); break;
        }
        if (state->digit_base != 0) v %= static_cast<i128>(radix() * radix());
        return (r >> 8) & 1 ? -v : v;
    }
};

TEST_F(PrimitivesTest, AddAndSubtractSignsAndAliasing) {
    for (int base : {16, 10}) {
        set_digit_base(static_cast<std::uint32_t>(base));
        for (int iter = 0; iter < 3000; ++iter) {
            i128 a = random_value(), b = random_value();
            bignum* x = big(a);
            bignum* y = big(b);
            bignum* z = big(12345);
            add(x, y, z);
            ASSERT_EQ(value(z), a + b) << "base " << base;
            subtract(x, y, z);
            ASSERT_EQ(value(z), a - b);
            // Operands keep their values and signs.
            ASSERT_EQ(value(x), a);
            ASSERT_EQ(value(y), b);
            expect_well_formed(z, state->max_length);
            // Result aliased with either operand, and both operands one number.
            add(x, y, x);
            ASSERT_EQ(value(x), a + b);
            ASSERT_EQ(value(y), b);
            subtract(x, y, y);
            ASSERT_EQ(value(y), a);
            set_big(x, a);
            set_big(y, b);
            subtract(y, x, x);
            ASSERT_EQ(value(x), b - a);
            add(y, y, y);
            ASSERT_EQ(value(y), 2 * b);
            set_big(y, b);
            add(y, y, z);
            ASSERT_EQ(value(z), 2 * b);
            subtract(y, y, z);
            ASSERT_EQ(z->len, 0u);
            subtract(y, y, y);
            ASSERT_EQ(y->len, 0u);
            decr(x, -7, z);
            ASSERT_EQ(value(z), b - a + 7);
            decr(z, INT_MIN, z);
            ASSERT_EQ(value(z), b - a + 7 + (i128{1} << 31));
            ASSERT_EQ(state->error_number, 0);
        }
    }
}

TEST_F(PrimitivesTest, SmallSignCases) {
    struct Case {
        int a, b, sum, diff;
    } cases[] = {{-5, 3, -2, -8}, {5, -3, 2, 8}, {-5, -5, -10, 0}, {3, 5, 8, -2}, {0, -4, -4, 4}, {0, 0, 0, 0}};
    for (const auto& c : cases) {
        bignum* z = num();
        add(num(c.a), num(c.b), z);
        EXPECT_EQ(int_value(z), c.sum);
        subtract(num(c.a), num(c.b), z);
        EXPECT_EQ(int_value(z), c.diff);
        if (c.diff == 0) {
            EXPECT_EQ(z->len, 0u);
        }
    }
}

TEST_F(PrimitivesTest, CarriesRippleThroughAllOnesWords) {
    bignum* z = num();
    add(words({0xFFFFFFFFu}), num(1), z);
    EXPECT_EQ(words_of(z), (std::vector<mr_digit>{0, 1}));
    add(num(1), words({0xFFFFFFFFu, 0xFFFFFFFFu}), z);
    EXPECT_EQ(words_of(z), (std::vector<mr_digit>{0, 0, 1}));
    subtract(words({0, 0, 1}), num(1), z);
    EXPECT_EQ(words_of(z), (std::vector<mr_digit>{0xFFFFFFFFu, 0xFFFFFFFFu}));
    // A long number minus 1, in place, borrows through every word.
    std::vector<mr_digit> ws(300, 0);
    ws.push_back(1);
    bignum* x = words(ws);
    subtract(x, num(1), x);
    EXPECT_EQ(words_of(x), std::vector<mr_digit>(300, 0xFFFFFFFFu));
    add(x, num(1), x);
    EXPECT_EQ(words_of(x), ws);
}

TEST_F(PrimitivesTest, LongAdditionIdentities) {
    for (int iter = 0; iter < 200; ++iter) {
        int la = 1 + static_cast<int>(rng() % 2000), lb = 1 + static_cast<int>(rng() % 2000);
        bignum* a = words(random_words(la), rng() & 1);
        bignum* b = words(random_words(lb), rng() & 1);
        bignum* a0 = num();
        copy_number(a, a0);
        bignum* s = num();
        add(a, b, s);
        subtract(s, b, s);
        ASSERT_EQ(compare_numbers(s, a0), 0);
        add(b, a, a);  // shorter or longer operand aliased with the result
        subtract(a, b, a);
        ASSERT_EQ(compare_numbers(a, a0), 0);
        expect_well_formed(a, state->max_length);
    }
}

TEST_F(PrimitivesTest, OverflowAtMaxLength) {
    const int ml = state->max_length;
    bignum* full = words(std::vector<mr_digit>(static_cast<std::size_t>(ml), 0xFFFFFFFFu));
    bignum* z = num();
    // One word short of the limit, a carry may add the last word.
    bignum* almost = words(std::vector<mr_digit>(static_cast<std::size_t>(ml - 1), 0xFFFFFFFFu));
    add(almost, num(1), z);
    EXPECT_EQ(state->error_number, 0);
    EXPECT_EQ(static_cast<int>(words_of(z).size()), ml);
    add(full, num(1), z);
    EXPECT_EQ(state->error_number, 3);
}

TEST_F(PrimitivesTest, OverflowOfWordProductsAndShifts) {
    const int ml = state->max_length;
    std::vector<mr_digit> ws(static_cast<std::size_t>(ml), 1);
    ws.back() = 0x80000000u;
    bignum* x = words(ws);
    bignum* z = num();
    premult(x, 2, z);
    EXPECT_EQ(state->error_number, 3);
    state->error_number = 0;
    ws.back() = 0x7FFFFFFFu;
    set_words(x, ws);
    premult(x, 2, z);
    EXPECT_EQ(state->error_number, 0);
    mr_shift(words({1, 2}), ml - 2, z);
    EXPECT_EQ(state->error_number, 0);
    EXPECT_EQ(static_cast<int>(words_of(z).size()), ml);
    mr_shift(words({1, 2}), ml - 1, z);
    EXPECT_EQ(state->error_number, 3);
}

TEST_F(PrimitivesTest, WordMultiplication) {
    for (int base : {16, 10}) {
        set_digit_base(static_cast<std::uint32_t>(base));
        for (int iter = 0; iter < 3000; ++iter) {
            i128 a = random_value();
            int n = static_cast<int>(rng());
            if (iter % 7 == 0) n = iter % 2 ? INT_MIN : -1;
            if (iter % 11 == 0) n = static_cast<int>(rng() % 3);
            bignum* x = big(a);
            bignum* z = num(99);
            premult(x, n, z);
            ASSERT_EQ(value(z), a * n) << "base " << base;
            premult(x, n, x);
            ASSERT_EQ(value(x), a * n);
            expect_well_formed(x, state->max_length);
        }
    }
}

TEST_F(PrimitivesTest, WordDivisionTruncatesTowardZero) {
    for (int base : {16, 10}) {
        set_digit_base(static_cast<std::uint32_t>(base));
        for (int iter = 0; iter < 3000; ++iter) {
            i128 a = random_value();
            int n = static_cast<int>(rng());
            if (iter % 5 == 0) n = static_cast<int>(rng() % 7) - 3;
            if (iter % 13 == 0) n = INT_MIN;
            if (n == 0) n = 2;
            bignum* x = big(a);
            bignum* z = num();
            int r = subdiv(x, n, z);
            ASSERT_EQ(value(z), a / n) << "base " << base << " n " << n;
            ASSERT_EQ(r, static_cast<int>(a % n));
            ASSERT_EQ(remain(x, n), r);
            ASSERT_EQ(word_divides(x, n), r == 0);
            ASSERT_EQ(value(x), a);
            subdiv(x, n, x);
            ASSERT_EQ(value(x), a / n);
            expect_well_formed(x, state->max_length);
        }
    }
}

TEST_F(PrimitivesTest, DivisionEdgeCases) {
    bignum* z = num();
    EXPECT_EQ(subdiv(num(-7), 2, z), -1);
    EXPECT_EQ(int_value(z), -3);
    EXPECT_EQ(subdiv(num(7), -2, z), 1);
    EXPECT_EQ(int_value(z), -3);
    EXPECT_EQ(subdiv(num(-1), 2, z), -1);
    EXPECT_EQ(z->len, 0u);  // -1/2 is zero, unsigned
    EXPECT_EQ(remain(num(-7), 2), -1);
    EXPECT_EQ(remain(num(8), 2), 0);
    EXPECT_EQ(remain(num(-9), 4), -1);
    // Halving a long number shifts bits across words.
    bignum* x = words({0, 0, 1});
    subdiv(x, 2, x);
    EXPECT_EQ(words_of(x), (std::vector<mr_digit>{0, 0x80000000u}));
    // Division by zero leaves the result alone.
    set_from_int(123, z);
    EXPECT_EQ(subdiv(num(5), 0, z), 0);
    EXPECT_EQ(state->error_number, 2);
    EXPECT_EQ(int_value(z), 123);
}

TEST_F(PrimitivesTest, LongWordDivisionRecomposes) {
    for (int iter = 0; iter < 100; ++iter) {
        bignum* x = words(random_words(1 + static_cast<int>(rng() % 2049)), rng() & 1);
        int n = static_cast<int>(rng() | 1u);
        bignum* q = num();
        int r = subdiv(x, n, q);
        premult(q, n, q);
        bignum* rem = num(r);
        add(q, rem, q);
        ASSERT_EQ(compare_numbers(q, x), 0);
        ASSERT_EQ(state->error_number, 0);
    }
}

TEST_F(PrimitivesTest, WordShifts) {
    bignum* x = words({1, 2, 3}, true);
    bignum* w = num();
    mr_shift(x, 2, w);
    EXPECT_EQ(words_of(w), (std::vector<mr_digit>{0, 0, 1, 2, 3}));
    EXPECT_TRUE(negative(w));
    mr_shift(w, -3, w);
    EXPECT_EQ(words_of(w), (std::vector<mr_digit>{2, 3}));
    expect_well_formed(w, state->max_length);
    mr_shift(x, 0, w);
    EXPECT_EQ(compare_numbers(x, w), 0);
    mr_shift(x, -3, w);
    EXPECT_EQ(w->len, 0u);
    mr_shift(x, -50, x);
    EXPECT_EQ(x->len, 0u);
    EXPECT_EQ(state->trace_depth, 0);
}

TEST_F(PrimitivesTest, MagnitudeSubtractRefusesANegativeResult) {
    bignum* z = num();
    magnitude_subtract(num(3), words({1, 1}), z);
    EXPECT_EQ(state->error_number, 4);
    state->error_number = 0;
    magnitude_subtract(words({0, 1}), words({1, 1}), z);
    EXPECT_EQ(state->error_number, 4);
}

TEST_F(PrimitivesTest, FlashOperandsAreRefused) {
    bignum* f = words({3});
    f->len |= 1u << 16;
    f->w[1] = 2;
    bignum* z = num();
    for (int which = 0; which < 5; ++which) {
        state->error_number = 0;
        switch (which) {
        case 0: add(f, num(1), z); break;
        case 1: subtract(num(1), f, z); break;
        case 2: premult(f, 3, z); break;
        case 3: subdiv(f, 3, z); break;
        case 4: mr_shift(f, 1, z); break;
        }
        EXPECT_EQ(state->error_number, 12) << which;
        EXPECT_EQ(state->trace_depth, 0);
    }
}

TEST_F(PrimitivesTest, WordOperations) {
    for (int iter = 0; iter < 10000; ++iter) {
        mr_digit a = static_cast<mr_digit>(rng()), b = static_cast<mr_digit>(rng()), c = static_cast<mr_digit>(rng());
        mr_digit m = static_cast<mr_digit>(rng()) | 0x80000000u;  // the quotient fits in 32 bits
        mr_digit r;
        std::uint64_t v = std::uint64_t{a % m} * b + c;
        mr_digit q = mul_add_div_word(a % m, b, c, m, &r);
        ASSERT_EQ(q, v / m);
        ASSERT_EQ(r, v % m);
        mr_digit hi = a % m;
        q = div_double_word(hi, b, m, &r);
        std::uint64_t v2 = (std::uint64_t{hi} << 32) | b;
        ASSERT_EQ(q, v2 / m);
        ASSERT_EQ(r, v2 % m);
    }
    EXPECT_EQ(shift_word(0x80000001u, 1), 2u);
    EXPECT_EQ(shift_word(7, 0), 7u);
    bignum* x = words({0x80000000u, 1});
    EXPECT_EQ(test_bit(x, 31), 1);
    EXPECT_EQ(test_bit(x, 32), 1);
    EXPECT_EQ(test_bit(x, 33), 0);
    EXPECT_EQ(test_bit(x, 5000), 0);
}

TEST_F(PrimitivesTest, ExponentWindowExamples) {
    int nbs, nzs;
    EXPECT_EQ(exponent_window(num(0b1011), 3, &nbs, &nzs, 5), 11);
    EXPECT_EQ(nbs, 4);
    EXPECT_EQ(nzs, 0);
    EXPECT_EQ(exponent_window(num(0b1000), 3, &nbs, &nzs, 4), 1);
    EXPECT_EQ(nbs, 1);
    EXPECT_EQ(nzs, 2);
    EXPECT_EQ(exponent_window(num(0b1100), 3, &nbs, &nzs, 4), 3);
    EXPECT_EQ(nbs, 2);
    EXPECT_EQ(nzs, 2);
    EXPECT_EQ(exponent_window(num(0b0100), 3, &nbs, &nzs, 4), 0);
    EXPECT_EQ(nbs, 1);
    EXPECT_EQ(nzs, 0);
}

// Scanning any exponent window by window rebuilds it exactly, with odd
// windows of at most five bits that are never 9, 17, 19 or 25.
TEST_F(PrimitivesTest, ExponentWindowsRebuildTheExponent) {
    for (std::uint32_t e = 1; e < (1u << 14); ++e) {
        bignum* x = num(static_cast<int>(e));
        std::uint32_t rebuilt = 0;
        for (int i = 31 - __builtin_clz(e); i >= 0;) {
            int nbs, nzs;
            int v = exponent_window(x, i, &nbs, &nzs, 5);
            rebuilt = (rebuilt << nbs) + static_cast<std::uint32_t>(v);
            rebuilt <<= nzs;
            i -= nbs + nzs;
            if (v != 0) {
                ASSERT_EQ(v % 2, 1);
                ASSERT_LT(v, 32);
                ASSERT_TRUE(v != 9 && v != 17 && v != 19 && v != 25) << v;
            }
        }
        ASSERT_EQ(rebuilt, e);
        free_number(x);
        owned.pop_back();
    }
}

TEST_F(PrimitivesTest, ExponentWindowPairs) {
    int nbs, nzs;
    // Bits (1,0) at i and (1,1) at i-1.
    EXPECT_EQ(exponent_window_pair(num(0b11), num(0b01), 1, &nbs, &nzs), 11);
    EXPECT_EQ(nbs, 2);
    EXPECT_EQ(nzs, 0);
    EXPECT_EQ(exponent_window_pair(num(0b10), num(0b00), 1, &nbs, &nzs), 2);
    EXPECT_EQ(nbs, 1);
    EXPECT_EQ(nzs, 1);
    EXPECT_EQ(exponent_window_pair(num(0b01), num(0b01), 1, &nbs, &nzs), 0);
    EXPECT_EQ(nbs, 1);
    EXPECT_EQ(exponent_window_pair(num(1), num(1), 0, &nbs, &nzs), 3);
    EXPECT_EQ(nbs, 1);
    EXPECT_EQ(nzs, 0);
}

}  // namespace
