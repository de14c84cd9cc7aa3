// The word-vector kernels on both of their paths (portable, and BMI2/ADX
// where the processor has it) against plain one-word arithmetic, at every
// length from 0 to 40: the odd last word, each of the four ways into the
// unrolled loops, and carries that run through whole limbs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "kernels.h"
#include "thresholds.h"

namespace {

using words = std::vector<mr_digit>;
using u64 = std::uint64_t;

// z[at ..] += x * y for one word y, carrying to the end of z.
void add_product_ref(words& z, const words& x, mr_digit y, std::size_t at) {
    u64 carry = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const u64 t = u64{x[i]} * y + z[at + i] + carry;
        z[at + i] = static_cast<mr_digit>(t);
        carry = t >> 32;
    }
    for (std::size_t i = at + x.size(); i < z.size() && carry != 0; ++i) {
        const u64 t = u64{z[i]} + carry;
        z[i] = static_cast<mr_digit>(t);
        carry = t >> 32;
    }
}

words pattern(std::mt19937& rng, int n, int kind) {
    words w(static_cast<std::size_t>(n));
    for (auto& v : w) v = kind == 0 ? 0xFFFFFFFFu : kind == 1 ? 0u : static_cast<mr_digit>(rng());
    return w;
}

TEST(Kernels, BothPathsAgreeWithWordArithmeticAtShortLengths) {
    std::vector<kernel_path> paths{kernel_path::portable};
    if (select_kernel_path(kernel_path::bmi2_adx)) paths.push_back(kernel_path::bmi2_adx);
    std::mt19937 rng(2026);
    const u64 multipliers[] = {~u64{0}, 1, u64{1} << 32, 0xFFFFFFFFu, 0x9E3779B97F4A7C15ull};
    for (kernel_path path : paths) {
        ASSERT_TRUE(select_kernel_path(path));
        for (int n = 0; n <= 40; ++n) {
            for (int kind = 0; kind < 9; ++kind) {
                SCOPED_TRACE(testing::Message() << "path " << static_cast<int>(path) << " n " << n << " kind " << kind);
                const words x = pattern(rng, n, kind % 3), y = pattern(rng, n, kind / 3);
                // addmul_vvd with a two-word multiplier.
                for (u64 m : multipliers) {
                    words z = y, want = y;
                    want.resize(static_cast<std::size_t>(n) + 2);
                    add_product_ref(want, x, static_cast<mr_digit>(m), 0);
                    add_product_ref(want, x, static_cast<mr_digit>(m >> 32), 1);
                    const u64 top = addmul_vvd(z.data(), x.data(), n, m);
                    EXPECT_EQ(top, want[n] | u64{want[n + 1]} << 32);
                    want.resize(static_cast<std::size_t>(n));
                    EXPECT_EQ(z, want);
                }
                // add_vv and sub_vv: x + y - y gives x back, with the carry
                // and the borrow of the same size.
                words sum(static_cast<std::size_t>(n)), back(static_cast<std::size_t>(n));
                words want_sum = x;
                want_sum.push_back(0);
                for (int i = 0; i < n; ++i) {
                    words one{y[static_cast<std::size_t>(i)]};
                    add_product_ref(want_sum, one, 1, static_cast<std::size_t>(i));
                }
                const mr_digit carry = add_vv(sum.data(), x.data(), y.data(), n);
                EXPECT_EQ(carry, want_sum[n]);
                want_sum.pop_back();
                EXPECT_EQ(sum, want_sum);
                EXPECT_EQ(sub_vv(back.data(), sum.data(), y.data(), n), carry);
                EXPECT_EQ(back, x);
                // add3_vvv and addsub_vvv (z in x's place) against two
                // passes of add_vv and sub_vv.
                const words w = pattern(rng, n, (kind + 1) % 3);
                words two_pass(static_cast<std::size_t>(n)), one_pass = x;
                int want_c = static_cast<int>(add_vv(two_pass.data(), x.data(), y.data(), n));
                want_c += static_cast<int>(add_vv(two_pass.data(), two_pass.data(), w.data(), n));
                EXPECT_EQ(add3_vvv(one_pass.data(), one_pass.data(), y.data(), w.data(), n), want_c);
                EXPECT_EQ(one_pass, two_pass);
                one_pass = x;
                want_c = static_cast<int>(add_vv(two_pass.data(), x.data(), y.data(), n));
                want_c -= static_cast<int>(sub_vv(two_pass.data(), two_pass.data(), w.data(), n));
                EXPECT_EQ(addsub_vvv(one_pass.data(), one_pass.data(), y.data(), w.data(), n), want_c);
                EXPECT_EQ(one_pass, two_pass);
                // divexact3_vv of 3 * x, and dbl_addsqr_vv against twice z
                // plus the product of each limb with itself.
                if (n > 0) {
                    words thrice(static_cast<std::size_t>(n) + 1, 0), third(static_cast<std::size_t>(n) + 1);
                    add_product_ref(thrice, x, 3, 0);
                    divexact3_vv(third.data(), thrice.data(), n + 1);
                    EXPECT_EQ(words(third.begin(), third.begin() + n), x);
                    EXPECT_EQ(third[static_cast<std::size_t>(n)], 0u);
                }
                // mat2_addmul_vv (even lengths, entries below 2^63) against
                // two-word products, and mat2_submul_vv by adding back what
                // it subtracts, modulo the length.
                if (n % 2 == 0) {
                    const u64 e[] = {0x7FFFFFFFFFFFFFFFull, 1, 0, 0x1E3779B97F4A7C15ull};
                    const auto times = [](words& acc, const words& v, u64 m) {
                        add_product_ref(acc, v, static_cast<mr_digit>(m), 0);
                        add_product_ref(acc, v, static_cast<mr_digit>(m >> 32), 1);
                    };
                    const auto low = [n](words v) {
                        v.resize(static_cast<std::size_t>(n));
                        return v;
                    };
                    const std::size_t room = static_cast<std::size_t>(n) + 2;
                    for (int r = 0; r < 4; ++r) {
                        const u64 a = e[r], b = e[(r + 1) % 4], c = e[(r + 2) % 4], d = e[(r + 3) % 4];
                        words p = x, q = y, w1(room, 0), w2(room, 0);
                        p.resize(room);
                        q.resize(room);
                        mat2_addmul_vv(p.data(), q.data(), n, a, b, c, d);
                        times(w1, x, a);
                        times(w1, y, b);
                        times(w2, x, c);
                        times(w2, y, d);
                        EXPECT_EQ(p, w1);
                        EXPECT_EQ(q, w2);
                        p = x;
                        q = y;
                        mat2_submul_vv(p.data(), q.data(), n, a, b, c, d);
                        words back1 = p, back2 = q, ax(room, 0), dy(room, 0);
                        back1.resize(room);
                        back2.resize(room);
                        times(back1, y, b);
                        times(back2, x, c);
                        times(ax, x, a);
                        times(dy, y, d);
                        EXPECT_EQ(low(back1), low(ax));
                        EXPECT_EQ(low(back2), low(dy));
                    }
                }
                // shl_vu and shr_vu by every shift against word arithmetic,
                // in place and apart.
                for (unsigned sh = 0; sh < 32; sh += 7) {
                    words up(static_cast<std::size_t>(n)), down = x;
                    mr_digit want_out = 0;
                    for (int i = 0; i < n; ++i) {
                        const u64 v = (u64{x[static_cast<std::size_t>(i)]} << sh) | want_out;
                        up[static_cast<std::size_t>(i)] = static_cast<mr_digit>(v);
                        want_out = static_cast<mr_digit>(v >> 32);
                    }
                    words z(static_cast<std::size_t>(n)), apart(static_cast<std::size_t>(n));
                    EXPECT_EQ(shl_vu(z.data(), x.data(), n, sh), want_out);
                    EXPECT_EQ(z, up);
                    EXPECT_EQ(shl_apart_vu(apart.data(), x.data(), n, sh), want_out);
                    EXPECT_EQ(apart, up);
                    EXPECT_EQ(shr_vu(down.data(), down.data(), n, sh), n > 0 && sh > 0 ? x[0] << (32 - sh) : 0u);
                    for (int i = 0; i < n; ++i) {
                        const u64 v = u64{x[static_cast<std::size_t>(i)]} |
                                      (i + 1 < n ? u64{x[static_cast<std::size_t>(i) + 1]} << 32 : 0);
                        EXPECT_EQ(down[static_cast<std::size_t>(i)], static_cast<mr_digit>(v >> sh)) << "shr word " << i;
                    }
                }
                words sq = pattern(rng, 2 * n, kind / 3), want_sq = sq;
                want_sq.push_back(0);
                add_product_ref(want_sq, sq, 1, 0);
                for (int i = 0; i < n; i += 2) {
                    const words limb(x.begin() + i, x.begin() + std::min(n, i + 2));
                    for (std::size_t k = 0; k < limb.size(); ++k) add_product_ref(want_sq, limb, limb[k], 2 * i + k);
                }
                EXPECT_EQ(dbl_addsqr_vv(sq.data(), x.data(), n), want_sq[2 * n]);
                want_sq.pop_back();
                EXPECT_EQ(sq, want_sq);
                // The schoolbook product and square (unrolled at the even
                // lengths up to basecase_fixed_max on BMI2/ADX) against rows
                // of words.
                if (n > 0) {
                    words xy(2 * static_cast<std::size_t>(n)), xx = xy, want_xy(2 * static_cast<std::size_t>(n), 0);
                    words want_xx = want_xy;
                    for (int i = 0; i < n; ++i) {
                        add_product_ref(want_xy, x, y[static_cast<std::size_t>(i)], static_cast<std::size_t>(i));
                        add_product_ref(want_xx, x, x[static_cast<std::size_t>(i)], static_cast<std::size_t>(i));
                    }
                    mul_basecase_vv(xy.data(), x.data(), n, y.data(), n);
                    sqr_basecase_vv(xx.data(), x.data(), n);
                    EXPECT_EQ(xy, want_xy);
                    EXPECT_EQ(xx, want_xx);
                    // The fixed-length kernels as Karatsuba takes them: on
                    // BMI2/ADX at every even length they cover, else none.
                    const bool fixed = path == kernel_path::bmi2_adx && n % 2 == 0 && n >= 4 && n <= basecase_fixed_max;
                    ASSERT_EQ(basecase_product_for(n) != nullptr, fixed);
                    ASSERT_EQ(basecase_square_for(n) != nullptr, fixed);
                    if (fixed) {
                        std::fill(xy.begin(), xy.end(), 0u);
                        std::fill(xx.begin(), xx.end(), 0u);
                        basecase_product_for(n)(xy.data(), x.data(), y.data());
                        basecase_square_for(n)(xx.data(), x.data());
                        EXPECT_EQ(xy, want_xy);
                        EXPECT_EQ(xx, want_xx);
                    }
                }
            }
        }
    }
    ASSERT_TRUE(select_kernel_path(paths.back()));
}

// (T + q n) / 2^(32k) one word at a time, q chosen word by word so that
// each step clears the lowest word: the reference for the Montgomery
// kernels, which work a limb at a time. Any q < 2^(32k) with T + q n a
// multiple of 2^(32k) is the same q, so both give the same words.
words reduce_ref(words t, const words& n) {
    const std::size_t k = n.size();
    mr_digit inv = n[0];  // -1/n mod 2^32 by Newton's iteration
    for (int i = 0; i < 5; ++i) inv *= 2 - n[0] * inv;
    inv = 0 - inv;
    t.resize(2 * k + 2, 0);
    for (std::size_t i = 0; i < k; ++i) add_product_ref(t, n, t[i] * inv, i);
    return words(t.begin() + static_cast<std::ptrdiff_t>(k), t.begin() + static_cast<std::ptrdiff_t>(2 * k + 1));
}

TEST(Kernels, MontgomeryKernelsOnBothPathsAgreeWithWordByWordReduction) {
    // Each path's rows alone, then the BMI2/ADX path with the IFMA kernel
    // and the ADX blocks where they take over (where the processor has them).
    std::vector<std::pair<kernel_path, bool>> settings{{kernel_path::portable, false}};
    if (select_kernel_path(kernel_path::bmi2_adx)) {
        settings.emplace_back(kernel_path::bmi2_adx, false);
        settings.emplace_back(kernel_path::bmi2_adx, true);
    }
    std::mt19937 rng(2027);
    for (const auto& [path, blocks] : settings) {
        ASSERT_TRUE(select_kernel_path(path));
        select_monty_ifma(blocks);
        select_monty_adx(blocks);
        std::vector<int> lengths;
        for (int k = 1; k <= 40; ++k) lengths.push_back(k);
        // Past the fixed-length kernels the ADX rows enter their sixteen-limb
        // passes at each limb position: every limb count mod 16, and 128 words.
        for (int k = 42; k <= 66; k += 2) lengths.push_back(k);
        lengths.push_back(128);
        lengths.push_back(monty_ifma_max);  // the IFMA kernel's largest, where its lanes grow most
        for (int k : lengths) {
            for (int kind = 0; kind < 4; ++kind) {
                SCOPED_TRACE(testing::Message() << "path " << static_cast<int>(path) << " blocks " << blocks << " k " << k
                                                << " kind " << kind);
                // An odd modulus with its top word set (kind 0: all ones,
                // the largest), and residues below it (all ones but the top
                // word one less, or random below the top word).
                words n = pattern(rng, k, kind == 0 ? 0 : 2);
                n[0] |= 1;
                n[static_cast<std::size_t>(k) - 1] |= 0x80000000u;
                words x = pattern(rng, k, kind == 1 ? 0 : 2), y = pattern(rng, k, kind == 2 ? 0 : 2);
                x[static_cast<std::size_t>(k) - 1] = n[static_cast<std::size_t>(k) - 1] - 1;
                y[static_cast<std::size_t>(k) - 1] = (y[static_cast<std::size_t>(k) - 1] % n[static_cast<std::size_t>(k) - 1]);
                u64 c64 = n[0] | (k > 1 ? u64{n[1]} << 32 : 0);
                u64 inv = c64;
                for (int i = 0; i < 6; ++i) inv *= 2 - c64 * inv;
                c64 = 0 - inv;
                // x * y and x^2 by schoolbook word rows.
                words xy(2 * static_cast<std::size_t>(k) + 1, 0), xx = xy;
                for (int i = 0; i < k; ++i) {
                    add_product_ref(xy, x, y[static_cast<std::size_t>(i)], static_cast<std::size_t>(i));
                    add_product_ref(xx, x, x[static_cast<std::size_t>(i)], static_cast<std::size_t>(i));
                }
                words t = xy;
                monty_reduce_vv(t.data(), n.data(), k, c64);
                const words want_xy = reduce_ref(xy, n);
                EXPECT_EQ(words(t.begin() + k, t.end()), want_xy);
                words buf(2 * static_cast<std::size_t>(k) + 4, 7);
                monty_product_vv(x.data(), y.data(), n.data(), k, c64, buf.data());
                EXPECT_EQ(words(buf.begin() + k, buf.begin() + 2 * k + 1), want_xy);
                buf.assign(2 * static_cast<std::size_t>(k) + 4, 7);
                monty_square_vv(x.data(), n.data(), k, c64, buf.data());
                EXPECT_EQ(words(buf.begin() + k, buf.begin() + 2 * k + 1), reduce_ref(xx, n));
                // The IFMA product, called directly at every length (the
                // kernels above take it only in its range), where the
                // processor has it.
                buf.assign(2 * static_cast<std::size_t>(k) + 4, 7);
                if (monty_product_ifma(x.data(), y.data(), n.data(), k, c64, buf.data())) {
                    EXPECT_EQ(words(buf.begin() + k, buf.begin() + 2 * k + 1), want_xy) << "IFMA";
                    monty_product_ifma(x.data(), x.data(), n.data(), k, c64, buf.data());
                    EXPECT_EQ(words(buf.begin() + k, buf.begin() + 2 * k + 1), reduce_ref(xx, n)) << "IFMA square";
                }
                // The BMI2/ADX blocks likewise, at every length they take.
                buf.assign(2 * static_cast<std::size_t>(k) + 4, 7);
                if (monty_product_adx(x.data(), y.data(), n.data(), k, c64, buf.data())) {
                    EXPECT_EQ(words(buf.begin() + k, buf.begin() + 2 * k + 1), want_xy) << "ADX";
                    buf.assign(2 * static_cast<std::size_t>(k) + 4, 7);
                    ASSERT_TRUE(monty_square_adx(x.data(), n.data(), k, c64, buf.data()));
                    EXPECT_EQ(words(buf.begin() + k, buf.begin() + 2 * k + 1), reduce_ref(xx, n)) << "ADX square";
                    t = xy;
                    ASSERT_TRUE(monty_reduce_adx(t.data(), n.data(), k, c64));
                    EXPECT_EQ(words(t.begin() + k, t.end()), want_xy) << "ADX reduction";
                }
            }
        }
    }
    ASSERT_TRUE(select_kernel_path(settings.back().first));
    select_monty_ifma(true);
    select_monty_adx(true);
}

}  // namespace
