// Shared set-up for the engine tests: a fresh instance per test, made the way
// the calculator makes it, and helpers that build numbers from word lists so
// that tests do not depend on the routines they check.
#ifndef TORVANE_TESTS_ENGINE_FIXTURE_H
#define TORVANE_TESTS_ENGINE_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <random>
#include <vector>

#include "internal.h"

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        state = mirsys(16384, 16);
        ASSERT_NE(state, nullptr);
        state->error_continue = 1;
    }
    void TearDown() override {
        for (bignum* n : owned) free_number(n);
        owned.clear();
        release_engine();
    }

    // A number owned by the test, freed in TearDown.
    bignum* num(int value = 0) {
        bignum* n = mirvar(value);
        owned.push_back(n);
        return n;
    }

    // A number from words, least significant first; the top word must be
    // non-zero (or the list empty) for a well-formed integer.
    bignum* words(std::initializer_list<mr_digit> ws, bool negative = false) {
        return words(std::vector<mr_digit>(ws), negative);
    }
    bignum* words(const std::vector<mr_digit>& ws, bool negative = false) {
        bignum* n = num();
        set_words(n, ws, negative);
        return n;
    }
    static void set_words(bignum* n, const std::vector<mr_digit>& ws, bool negative = false) {
        zero_number(n);
        for (std::size_t i = 0; i < ws.size(); ++i) n->w[i] = ws[i];
        n->len = static_cast<std::uint32_t>(ws.size());
        strip_leading_zeros(n);
        if (negative && n->len != 0) n->len |= mr_sign_bit;
    }

    // The magnitude's words, least significant first.
    static std::vector<mr_digit> words_of(const bignum* n) {
        std::vector<mr_digit> ws(n->len & mr_length_mask);
        for (std::size_t i = 0; i < ws.size(); ++i) ws[i] = n->w[i];
        return ws;
    }
    static bool negative(const bignum* n) { return (n->len & mr_sign_bit) != 0; }

    // Every digit word above the length is zero, and the top word is not.
    static void expect_well_formed(const bignum* n, int room) {
        int len = static_cast<int>(n->len & mr_length_mask);
        if (len > 0) {
            EXPECT_NE(n->w[len - 1], 0u) << "top word is zero";
        } else {
            EXPECT_EQ(n->len, 0u) << "zero carries a sign";
        }
        for (int i = len; i < room; ++i)
            if (n->w[i] != 0) {
                ADD_FAILURE() << "word " << i << " above the length is " << n->w[i];
                break;
            }
    }

    // Random words for a number of `count` words with a non-zero top word.
    std::vector<mr_digit> random_words(int count) {
        std::vector<mr_digit> ws(static_cast<std::size_t>(count));
        for (auto& w : ws) w = static_cast<mr_digit>(rng());
        if (count > 0 && ws.back() == 0) ws.back() = 1;
        return ws;
    }

    mr_state* state = nullptr;
    std::vector<bignum*> owned;
    std::mt19937_64 rng{20261208};
};

#endif
