// GCD, extended GCD and inverses. xgcd is checked completely on each case:
// x*xd + y*yd = z on the word-vector oracle, and z divides x and y, which
// together make z the GCD; egcd must agree.
#include <tuple>
#include <utility>

#include "engine_fixture.h"
#include "reference_arith.h"
#include "gcd.h"

namespace {

class GcdTest : public EngineTest {
protected:
    bool divides(bignum* d, bignum* x) {
        bignum* r = num();
        copy_number(x, r);
        divide(r, d, d);
        return r->len == 0;
    }

    void check(bignum* x, bignum* y) {
        bignum* xd = num();
        bignum* yd = num();
        bignum* z = num();
        const int r = xgcd(x, y, xd, yd, z);
        ASSERT_EQ(state->error_number, 0);
        EXPECT_EQ(r, int_value(z));
        EXPECT_FALSE(negative(z));
        // Bezout on magnitudes: the positive terms equal z plus the negative ones.
        ref::words positive_terms, z_side = words_of(z);
        for (auto [a, b] : {std::pair{x, xd}, {y, yd}}) {
            ref::words& side = negative(a) != negative(b) ? z_side : positive_terms;
            side = ref::add(side, ref::mul(words_of(a), words_of(b)));
        }
        EXPECT_EQ(positive_terms, z_side) << "Bezout fails for " << x->len % 65536 << " x " << y->len % 65536
                                          << " words";
        if (z->len != 0) {
            EXPECT_TRUE(divides(z, x) && divides(z, y));
        }
        EXPECT_FALSE(negative(xd));
        EXPECT_LE(ref::cmp(words_of(xd), words_of(y)), 0);
        expect_well_formed(xd, state->max_length);
        expect_well_formed(yd, state->max_length);
        bignum* e = num();
        EXPECT_EQ(egcd(x, y, e), r);
        EXPECT_EQ(compare_numbers(e, z), 0);
        EXPECT_EQ(state->trace_depth, 0);
    }
};

TEST_F(GcdTest, SmallCasesAndSigns) {
    bignum* z = num(99);
    EXPECT_EQ(egcd(num(0), num(0), z), 0);
    EXPECT_EQ(z->len, 0u);
    EXPECT_EQ(egcd(num(-35), num(0), z), 35);
    EXPECT_EQ(egcd(num(0), num(-44), z), 44);
    EXPECT_EQ(egcd(num(-12), num(18), z), 6);
    EXPECT_EQ(egcd(num(-12), num(-18), z), 6);
    EXPECT_FALSE(negative(z));

    bignum* xd = num();
    bignum* yd = num();
    EXPECT_EQ(xgcd(num(3), num(7), xd, yd, z), 1);
    EXPECT_EQ(int_value(xd), 5);
    EXPECT_EQ(int_value(yd), -2);
    EXPECT_EQ(xgcd(num(-3), num(7), xd, yd, z), 1);
    EXPECT_EQ(int_value(xd), 2);
    EXPECT_EQ(int_value(yd), 1);
    for (auto [a, b] : {std::pair{0, 9}, {240, 46}, {46, 240}, {-240, 46}, {1, 1}, {6, 9}, {1, 7}}) check(num(a), num(b));

    // A GCD of 2^30 or more is returned as 2^30 but stored whole.
    bignum* x = words({0x80000000u, 1});  // 3 * 2^31
    bignum* y = words({0, 3});            // 6 * 2^31
    EXPECT_EQ(egcd(x, y, z), 1 << 30);
    EXPECT_EQ(words_of(z), words_of(x));
    EXPECT_EQ(xgcd(x, y, xd, yd, z), 1 << 30);
    EXPECT_EQ(words_of(z), words_of(x));
}

TEST_F(GcdTest, KnownManyWordCommonFactor) {
    // x = g*a, y = g*b with b = a*c + 1, so gcd(a, b) = 1 and gcd(x, y) = g.
    for (auto [gl, al, cl] : {std::tuple{40, 300, 2}, {200, 3, 250}, {1, 500, 1}, {700, 650, 50}}) {
        bignum* g = words(random_words(gl));
        bignum* a = words(random_words(al));
        bignum* b = num();
        multiply(a, words(random_words(cl)), b);
        add(b, num(1), b);
        bignum* x = num();
        bignum* y = num();
        multiply(g, a, x);
        multiply(g, b, y);
        bignum* z = num();
        egcd(x, y, z);
        EXPECT_EQ(words_of(z), words_of(g));
        egcd(y, x, z);
        EXPECT_EQ(words_of(z), words_of(g));
        check(x, y);
        check(y, x);
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
    ASSERT_GT(f1->len, 400u);
    check(f1, f0);
    check(f0, f1);
}

TEST_F(GcdTest, RandomOperandsOfEverySize) {
    // Every length up to 64 words, then a spread up to max_length, against
    // an equal, a longer and a shorter partner; some negative, some with a
    // top word of 2^32 - 1 (the unscaled branch of the leading words).
    std::vector<int> sizes;
    for (int n = 1; n <= 64; ++n) sizes.push_back(n);
    for (int n : {97, 256, 511, 1024, 2048, 2049}) sizes.push_back(n);
    ASSERT_EQ(state->max_length, 2049);
    for (int n : sizes) {
        std::vector<mr_digit> a = random_words(n), b = random_words(n);
        if (n % 3 == 0) a.back() = b.back() = 0xFFFFFFFFu;
        check(words(a, n % 5 == 0), words(b));
        if (n <= 64 || n == 2049) {
            check(words(a), words(random_words(std::min(2049, n + 1 + static_cast<int>(rng() % 5)))));
            check(words(a), words(random_words(std::max(1, n - 1 - static_cast<int>(rng() % 5)))));
        }
        if (HasFailure()) return;
        for (bignum* p : owned) free_number(p);
        owned.clear();
    }
}

TEST_F(GcdTest, InverseOnlyForm) {
    bignum* v = num();
    for (int n : {1, 2, 3, 100, 2049}) {
        bignum* m = words(random_words(n));
        m->w[0] |= 1;
        bignum* x = words(random_words(std::max(1, n - 1)));
        const int g = xgcd(x, m, num(), num(), num());
        ASSERT_EQ(xgcd(x, m, v, v, v), g);
        if (g != 1) continue;
        EXPECT_FALSE(negative(v));
        EXPECT_LT(compare_numbers(v, m), 0);
        bignum* r = num();
        mad(x, v, v, m, m, r);
        EXPECT_EQ(words_of(r), (std::vector<mr_digit>{1})) << n << " words";
    }
    EXPECT_EQ(xgcd(num(21), num(35), v, v, v), 7);  // no inverse: the GCD

    // Modulo 2^32, as the Montgomery set-up uses it.
    bignum* two32 = words({0, 1});
    for (mr_digit odd : {1u, 3u, 0xFFFFFFFFu, 0x12345679u, 0x80000001u}) {
        EXPECT_EQ(xgcd(words({odd}), two32, v, v, v), 1);
        EXPECT_EQ(odd * v->w[0], 1u) << odd;
    }
}

TEST_F(GcdTest, AliasingAndErrors) {
    bignum* x = words(random_words(12));
    bignum* y = words(random_words(9));
    const ref::words xv = words_of(x), yv = words_of(y);
    bignum* z = num();
    xgcd(x, y, x, y, z);  // outputs over the operands: x*xd - y*|yd| = z
    EXPECT_TRUE(negative(y));
    EXPECT_EQ(ref::mul(xv, words_of(x)), ref::add(ref::mul(yv, words_of(y)), words_of(z)));
    bignum* c = num(84);
    EXPECT_EQ(egcd(c, num(-36), c), 12);
    EXPECT_EQ(int_value(c), 12);

    // y = 0: no Euclid step; y's cofactor needs a division by zero, the
    // inverse-only form does not.
    bignum* xd = num();
    EXPECT_EQ(xgcd(num(15), num(0), xd, num(), z), 15);
    EXPECT_EQ(state->error_number, 2);
    EXPECT_EQ(int_value(xd), 1);
    state->error_number = 0;
    EXPECT_EQ(xgcd(num(15), num(0), xd, xd, xd), 15);
    EXPECT_EQ(state->error_number, 0);

    // A pending error: nothing is touched.
    set_from_int(5, z);
    bignum* a = num(12);
    bignum* b = num(18);
    state->error_number = 3;
    EXPECT_EQ(egcd(a, b, z), 0);
    EXPECT_EQ(xgcd(a, b, z, z, z), 0);
    EXPECT_EQ(int_value(z), 5);
}

TEST_F(GcdTest, SmallQuotient) {
    EXPECT_EQ(small_quotient(17, 2), 8u);  // by subtraction
    EXPECT_EQ(small_quotient(18, 2), 9u);  // by the division
    EXPECT_EQ(small_quotient(std::uint64_t{1} << 40, 1 << 9), 0u);  // 2^31
    EXPECT_EQ(small_quotient((std::uint64_t{1} << 40) - 1, 1 << 9), 0x7FFFFFFFu);
    EXPECT_EQ(small_quotient(~std::uint64_t{0}, 1), 0u);
    for (int i = 0; i < 2000; ++i) {
        const std::uint64_t v = (rng() >> (rng() % 64)) | 1;
        const std::uint64_t q = 1 + rng() % (i % 2 ? 12 : 0x7FFFFFFF);
        const std::uint64_t u = v * q + rng() % v;
        if (u / v != q) continue;  // wrapped
        ASSERT_EQ(small_quotient(u, v), q) << u << " / " << v;
    }
}

}  // namespace
