// GCD, extended GCD and inverses, checked against plain Euclid (one divide
// per step) and against the Bezout identity formed with the word-vector
// oracle, for operands from one word to max_length words.
#include <utility>

#include "engine_fixture.h"
#include "signed_reference.h"

namespace {

class GcdTest : public EngineTest {
protected:
    sref::integer value(const bignum* n) { return sref::make(words_of(n), negative(n)); }

    // gcd(|x|, |y|) by Euclid with one full division per step.
    sref::integer euclid(bignum* x, bignum* y) {
        bignum* a = num();
        bignum* b = num();
        abs_number(x, a);
        abs_number(y, b);
        while (!is_zero_number(b)) {
            divide(a, b, b);  // a = a mod b
            std::swap(a, b);
        }
        return value(a);
    }
    static bool is_zero_number(const bignum* n) { return n->len == 0; }
    bool divides(bignum* d, bignum* x) {
        bignum* r = num();
        copy_number(x, r);
        divide(r, d, d);
        return is_zero_number(r);
    }

    // xgcd on x and y with separate outputs, checked completely.
    void check_xgcd(bignum* x, bignum* y) {
        bignum* xd = num();
        bignum* yd = num();
        bignum* z = num();
        const int r = xgcd(x, y, xd, yd, z);
        ASSERT_EQ(state->error_number, 0);
        EXPECT_EQ(r, int_value(z));
        // x*xd + y*yd = z exactly, and z divides x and y: then every common
        // divisor divides z, so z is the GCD.
        const sref::integer lhs = sref::add(sref::mul(value(x), value(xd)), sref::mul(value(y), value(yd)));
        EXPECT_EQ(lhs, value(z)) << "Bezout identity fails for " << length_of_n(x) << " x " << length_of_n(y)
                                 << " words";
        EXPECT_FALSE(negative(z));
        if (!is_zero_number(z)) {
            EXPECT_TRUE(divides(z, x));
            EXPECT_TRUE(divides(z, y));
        }
        // 0 <= xd <= |y|.
        EXPECT_FALSE(negative(xd));
        EXPECT_LE(sref::compare_mag(words_of(xd), words_of(y)), 0);
        expect_well_formed(xd, state->max_length);
        expect_well_formed(yd, state->max_length);
        // egcd agrees.
        bignum* e = num();
        EXPECT_EQ(egcd(x, y, e), r);
        EXPECT_EQ(value(e), value(z));
        expect_well_formed(e, state->max_length);
        EXPECT_EQ(state->trace_depth, 0);
    }
    static int length_of_n(const bignum* n) { return static_cast<int>(n->len & mr_length_mask); }
};

TEST_F(GcdTest, ZeroOperandsAndSigns) {
    bignum* z = num(99);
    EXPECT_EQ(egcd(num(0), num(0), z), 0);
    EXPECT_EQ(z->len, 0u);
    EXPECT_EQ(egcd(num(-35), num(0), z), 35);
    EXPECT_EQ(words_of(z), (std::vector<mr_digit>{35}));
    EXPECT_FALSE(negative(z));
    EXPECT_EQ(egcd(num(0), num(-44), z), 44);
    EXPECT_EQ(egcd(num(-12), num(18), z), 6);
    EXPECT_EQ(egcd(num(-12), num(-18), z), 6);
    EXPECT_FALSE(negative(z));

    // The result may be one of the operands.
    bignum* x = num(84);
    EXPECT_EQ(egcd(x, num(-36), x), 12);
    EXPECT_EQ(words_of(x), (std::vector<mr_digit>{12}));
    bignum* y = num(84);
    EXPECT_EQ(xgcd(num(36), y, num(), num(), y), 12);
    EXPECT_EQ(words_of(y), (std::vector<mr_digit>{12}));
}

TEST_F(GcdTest, SmallCofactors) {
    bignum* xd = num();
    bignum* yd = num();
    bignum* z = num();
    EXPECT_EQ(xgcd(num(3), num(7), xd, yd, z), 1);
    EXPECT_EQ(words_of(z), (std::vector<mr_digit>{1}));
    EXPECT_EQ(int_value(xd), 5);
    EXPECT_EQ(int_value(yd), -2);

    EXPECT_EQ(xgcd(num(-3), num(7), xd, yd, z), 1);
    EXPECT_EQ(int_value(xd), 2);
    EXPECT_EQ(int_value(yd), 1);

    // x = 0: gcd |y|; x larger than y; a common factor.
    for (auto [a, b] : {std::pair{0, 9}, {240, 46}, {46, 240}, {-240, 46}, {1, 1}, {6, 9}, {9, 6}, {1, 7}})
        check_xgcd(num(a), num(b));
}

TEST_F(GcdTest, ReturnedValueIsCappedButResultIsWhole) {
    // gcd = 2^31 * 3, beyond the returned range.
    bignum* x = words({0x80000000u, 1});  // 2^31 + 2^32 = 2^31 * 3
    bignum* y = words({0, 3});                              // 3 * 2^32 = 2^31 * 6
    bignum* z = num();
    EXPECT_EQ(egcd(x, y, z), 1 << 30);
    EXPECT_EQ(words_of(z), (std::vector<mr_digit>{0x80000000u, 1}));
    EXPECT_EQ(xgcd(x, y, num(), num(), z), 1 << 30);
    EXPECT_EQ(words_of(z), (std::vector<mr_digit>{0x80000000u, 1}));
}

TEST_F(GcdTest, KnownManyWordCommonFactor) {
    // x = g*a, y = g*b for random many-word g, a, b: the GCD is g*gcd(a, b).
    for (auto [gl, al, bl] : {std::tuple{40, 300, 290}, {200, 3, 250}, {1, 500, 500}, {700, 700, 650}}) {
        bignum* g = words(random_words(gl));
        bignum* a = words(random_words(al));
        bignum* b = words(random_words(bl));
        bignum* x = num();
        bignum* y = num();
        multiply(g, a, x);
        multiply(g, b, y);
        const sref::integer expected = sref::mul(value(g), euclid(a, b));
        bignum* z = num();
        egcd(x, y, z);
        EXPECT_EQ(value(z), expected);
        xgcd(x, y, num(), num(), z);
        EXPECT_EQ(value(z), expected);
        check_xgcd(x, y);
    }
}

TEST_F(GcdTest, ConsecutiveFibonacciNumbers) {
    // All quotients are 1: the longest Euclid chain for the size.
    bignum* f0 = num(1);
    bignum* f1 = num(1);
    for (int i = 0; i < 20000; ++i) {
        add(f0, f1, f0);
        std::swap(f0, f1);
    }
    ASSERT_GT(length_of_n(f1), 400);
    bignum* z = num();
    EXPECT_EQ(egcd(f1, f0, z), 1);
    EXPECT_EQ(egcd(f0, f1, z), 1);
    check_xgcd(f1, f0);
    check_xgcd(f0, f1);
}

TEST_F(GcdTest, BezoutForRandomOperandsOfEverySize) {
    // Every length up to 64 words, then a spread up to max_length, each
    // against a longer, an equal and a shorter partner.
    std::vector<int> sizes;
    for (int n = 1; n <= 64; ++n) sizes.push_back(n);
    for (int n : {97, 128, 255, 256, 511, 777, 1024, 2048, 2049}) sizes.push_back(n);
    const int max_len = state->max_length;
    ASSERT_EQ(max_len, 2049);
    for (int n : sizes) {
        const int longer = std::min(max_len, n + 1 + static_cast<int>(rng() % 5));
        const int shorter = std::max(1, n - 1 - static_cast<int>(rng() % 5));
        bignum* x = words(random_words(n));
        check_xgcd(x, words(random_words(n)));
        if (n <= 64 || n == max_len) {
            check_xgcd(x, words(random_words(longer)));
            check_xgcd(x, words(random_words(shorter)));
        }
        if (HasFailure()) return;
        for (bignum* p : owned) free_number(p);
        owned.clear();
    }
}

TEST_F(GcdTest, LeadingWordsOfAllOnes) {
    // A top word of 2^32 - 1 takes the unscaled branch of the leading words.
    for (int n : {2, 3, 4, 17, 300}) {
        std::vector<mr_digit> a = random_words(n), b = random_words(n);
        a.back() = 0xFFFFFFFFu;
        b.back() = 0xFFFFFFFFu;
        check_xgcd(words(a), words(b));
        b.back() = 0xFFFFFFF0u;
        check_xgcd(words(a), words(b));
        a[n - 2] = 0xFFFFFFFFu;  // u at the top of its range
        check_xgcd(words(a), words(b));
        check_xgcd(words(a), words(std::vector<mr_digit>(a.begin(), a.end() - 1)));
    }
}

TEST_F(GcdTest, NegativeOperands) {
    bignum* x = words(random_words(30), true);
    bignum* y = words(random_words(20));
    check_xgcd(x, y);
    check_xgcd(words(random_words(5), true), words(random_words(9)));
    // x's sign is kept by the call.
    EXPECT_TRUE(negative(x));
}

TEST_F(GcdTest, InverseOnlyForm) {
    for (int n : {1, 2, 3, 10, 100, 2049}) {
        bignum* m = words(random_words(n));
        m->w[0] |= 1;
        bignum* x = words(random_words(std::max(1, n - 1)));
        bignum* v = num();
        bignum* z = num();
        const int g = xgcd(x, m, num(), num(), z);
        const int r = xgcd(x, m, v, v, v);
        EXPECT_EQ(r, g);
        if (r != 1) continue;
        // 0 <= v < m and x*v = 1 (mod m).
        EXPECT_FALSE(negative(v));
        EXPECT_LT(compare_numbers(v, m), 0);
        bignum* rem = num();
        mad(x, v, v, m, m, rem);
        EXPECT_EQ(words_of(rem), (std::vector<mr_digit>{1})) << n << " words";
    }

    // No inverse: the GCD comes back.
    bignum* v = num();
    EXPECT_EQ(xgcd(num(21), num(35), v, v, v), 7);

    // Modulo 2^32, as the Montgomery set-up uses it.
    bignum* two32 = words({0, 1});
    for (mr_digit odd : {1u, 3u, 0xFFFFFFFFu, 0x12345679u, 0x80000001u}) {
        EXPECT_EQ(xgcd(words({odd}), two32, v, v, v), 1);
        ASSERT_LE(v->len, 1u);
        EXPECT_EQ(odd * v->w[0], 1u) << odd;
    }
    EXPECT_EQ(xgcd(words({6}), two32, v, v, v), 2);
}

TEST_F(GcdTest, OutputsMayBeTheOperands) {
    const std::vector<mr_digit> xw = random_words(12), yw = random_words(9);
    bignum* x = words(xw);
    bignum* y = words(yw);
    const sref::integer xv = value(x), yv = value(y);
    bignum* z = num();
    xgcd(x, y, x, y, z);  // x = xd, y = yd
    EXPECT_EQ(sref::add(sref::mul(xv, value(x)), sref::mul(yv, value(y))), value(z));
}

TEST_F(GcdTest, ZeroSecondOperandOfXgcd) {
    // No Euclid step: the GCD is |x| with cofactor 1; y's cofactor needs a
    // division by zero.
    bignum* xd = num();
    bignum* yd = num();
    bignum* z = num();
    xgcd(num(15), num(0), xd, yd, z);
    EXPECT_EQ(state->error_number, 2);
    EXPECT_EQ(int_value(xd), 1);
    EXPECT_EQ(int_value(z), 15);
    state->error_number = 0;
    // Inverse-only form: no division, no error.
    bignum* v = num();
    EXPECT_EQ(xgcd(num(15), num(0), v, v, v), 15);
    EXPECT_EQ(state->error_number, 0);
}

TEST_F(GcdTest, PendingErrorLeavesOutputsAlone) {
    bignum* z = num(5);
    bignum* x = num(12);
    bignum* y = num(18);
    state->error_number = 3;
    EXPECT_EQ(egcd(x, y, z), 0);
    EXPECT_EQ(xgcd(x, y, z, z, z), 0);
    EXPECT_EQ(int_value(z), 5);
}

TEST_F(GcdTest, SmallQuotient) {
    EXPECT_EQ(small_quotient(17, 2), 8u);   // by subtraction
    EXPECT_EQ(small_quotient(18, 2), 9u);   // by the division
    EXPECT_EQ(small_quotient(5, 5), 1u);
    EXPECT_EQ(small_quotient(std::uint64_t{1} << 40, 1 << 9), 0u);  // 2^31
    EXPECT_EQ(small_quotient((std::uint64_t{1} << 40) - 1, 1 << 9), 0x7FFFFFFFu);
    EXPECT_EQ(small_quotient(~std::uint64_t{0}, 1), 0u);
    for (int i = 0; i < 2000; ++i) {
        std::uint64_t v = rng() >> (rng() % 64);
        if (v == 0) v = 1;
        std::uint64_t q = rng() % (i % 2 ? 12 : (1u << 31));
        std::uint64_t u = v * q + (v > 1 ? rng() % v : 0);
        if (u / v != q || u < v) continue;  // wrapped, or below one
        ASSERT_EQ(small_quotient(u, v), static_cast<mr_digit>(q)) << u << " / " << v;
    }
}

}  // namespace
