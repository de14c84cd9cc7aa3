// Sums in mad's double-length accumulator whose borrow or carry runs past
// the room of the addend (a number of max_length words): the addend's
// missing words count as zeros and are not read.
#include <gtest/gtest.h>

#include <vector>

#include "internal.h"

namespace {

class LongBorrow : public ::testing::Test {
protected:
    void SetUp() override {
        engine = mirsys(16384, 16);
        engine->error_continue = 1;
        for (auto& n : numbers) n = mirvar(0);
    }
    void TearDown() override {
        for (auto& n : numbers) free_number(n);
        release_engine();
    }
    // 2^(32*words), or that minus one (all-ones words).
    static void power_of_word(bignum* n, int words, bool less_one) {
        zero_number(n);
        if (less_one) {
            for (int i = 0; i < words; ++i) n->w[i] = 0xFFFFFFFFu;
            n->len = static_cast<std::uint32_t>(words);
        } else {
            n->w[words] = 1;
            n->len = static_cast<std::uint32_t>(words + 1);
        }
    }
    static bool is_power_of_word(const bignum* n, int words, bool less_one) {
        int len = static_cast<int>(n->len);
        if (less_one) {
            if (len != words) return false;
            for (int i = 0; i < words; ++i)
                if (n->w[i] != 0xFFFFFFFFu) return false;
            return true;
        }
        if (len != words + 1 || n->w[words] != 1) return false;
        for (int i = 0; i < words; ++i)
            if (n->w[i] != 0) return false;
        return true;
    }
    mr_state* engine = nullptr;
    bignum* numbers[6] = {};
};

TEST_F(LongBorrow, MadSubtractsAnAddendWhoseBorrowRunsPastItsRoom) {
    bignum *x = numbers[0], *y = numbers[1], *z = numbers[2], *w = numbers[3], *q = numbers[4], *r = numbers[5];
    // 2^(32*1500) * 2^(32*1000) - 1 = 2^(32*2500) - 1: the borrow of the -1
    // runs through 2500 zero words, past z's 2049.
    power_of_word(x, 1500, false);
    power_of_word(y, 1000, false);
    set_from_int(-1, z);
    power_of_word(w, 1200, false);
    mad(x, y, z, w, q, r);
    ASSERT_EQ(engine->error_number, 0);
    EXPECT_TRUE(is_power_of_word(q, 1300, true)) << "quotient 2^(32*1300) - 1";
    EXPECT_TRUE(is_power_of_word(r, 1200, true)) << "remainder 2^(32*1200) - 1";
}

TEST_F(LongBorrow, MadAddsAnAddendWhoseCarryRunsPastItsRoom) {
    bignum *x = numbers[0], *y = numbers[1], *z = numbers[2], *w = numbers[3], *q = numbers[4], *r = numbers[5];
    // (2^(32*1250) - 1)(2^(32*1250) + 1) + 1 = 2^(32*2500).
    power_of_word(x, 1250, true);
    power_of_word(y, 1250, false);
    y->w[0] = 1;
    set_from_int(1, z);
    power_of_word(w, 1250, false);
    mad(x, y, z, w, q, r);
    ASSERT_EQ(engine->error_number, 0);
    EXPECT_TRUE(is_power_of_word(q, 1250, false)) << "quotient 2^(32*1250)";
    EXPECT_EQ(r->len, 0u) << "remainder 0";
}

}  // namespace
