// The word-vector kernels on both of their paths (portable, and BMI2/ADX
// where the processor has it) against plain one-word arithmetic, at every
// short length: the odd last word, each of the four ways into the unrolled
// loops, and carries that run through whole limbs.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "kernels.h"

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
        for (int n = 0; n <= 21; ++n) {
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
                // divexact3_vv of 3 * x, and dbl_addsqr_vv against twice z
                // plus the product of each limb with itself.
                if (n > 0) {
                    words thrice(static_cast<std::size_t>(n) + 1, 0), third(static_cast<std::size_t>(n) + 1);
                    add_product_ref(thrice, x, 3, 0);
                    divexact3_vv(third.data(), thrice.data(), n + 1);
                    EXPECT_EQ(words(third.begin(), third.begin() + n), x);
                    EXPECT_EQ(third[static_cast<std::size_t>(n)], 0u);
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
            }
        }
    }
    ASSERT_TRUE(select_kernel_path(paths.back()));
}

}  // namespace
