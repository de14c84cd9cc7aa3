// Primality: the small-prime table, trial division, the two halves of the
// Baillie-PSW test and the Miller-Rabin trials, on known primes (Mersenne
// primes up to 4253 bits) and on composites built to fool weaker tests
// (Carmichael numbers, strong pseudoprimes to base 2 and Lucas
// pseudoprimes, products of two large primes).
#include <string>

#include "engine_fixture.h"
#include "internal.h"
#include "primitives.h"
#include "montgomery.h"
#include "primality.h"

namespace {

// Words of a hexadecimal text, least significant first.
std::vector<mr_digit> hex_words(const std::string& h) {
    std::vector<mr_digit> w((h.size() + 7) / 8, 0);
    for (std::size_t i = 0; i < h.size(); ++i) {
        const char c = h[h.size() - 1 - i];
        const mr_digit d = static_cast<mr_digit>(c <= '9' ? c - '0' : c - 'a' + 10);
        w[i / 8] |= d << (4 * (i % 8));
    }
    return w;
}

// 2^p - 1.
std::vector<mr_digit> all_ones(int p) {
    std::vector<mr_digit> w(static_cast<std::size_t>(p / 32), 0xFFFFFFFFu);
    if (p % 32 != 0) w.push_back((1u << (p % 32)) - 1);
    return w;
}

class PrimalityTest : public EngineTest {
protected:
    bignum* hex(const std::string& h) { return words(hex_words(h)); }
    bignum* mersenne(int p) { return words(all_ones(p)); }
    bignum* product(bignum* a, bignum* b) {
        bignum* r = num();
        multiply(a, b, r);
        return r;
    }
    int prime(long long v) {
        bignum* x = num();
        std::vector<mr_digit> w;
        for (unsigned long long m = static_cast<unsigned long long>(v < 0 ? -v : v); m != 0; m >>= 32)
            w.push_back(static_cast<mr_digit>(m));
        set_words(x, w, v < 0);
        return isprime(x);
    }

    // How many random words the base choices of `trials` trials draw for a
    // candidate of 2^30 or more, replayed from a fresh generator.
    static int words_for_trials(int trials) {
        int drawn = 0;
        for (int t = 0; t < trials; ++t) {
            int a;
            do {
                a = static_cast<int>(random_word()) % (1 << 30);
                drawn++;
            } while (a < 2);
        }
        return drawn;
    }
    // A fresh instance, as after start-up; the numbers made so far belong
    // to the old one and are freed first.
    void fresh_engine() {
        for (bignum* n : owned) free_number(n);
        owned.clear();
        release_engine();
        state = mirsys(16384, 16);
        state->error_continue = 1;
    }
    // The next random word after `drawn` words of a fresh generator.
    std::uint32_t word_after(int drawn) {
        fresh_engine();
        for (int i = 0; i < drawn; ++i) random_word();
        return random_word();
    }
};

TEST_F(PrimalityTest, SmallPrimeTable) {
    EXPECT_EQ(state->prime_table, nullptr);
    gprime(10);  // raised to 1000
    ASSERT_NE(state->prime_table, nullptr);
    const int* t = state->prime_table;
    int count = 0;
    for (; t[count] != 0; ++count)
        for (int d = 2; d * d <= t[count]; ++d) ASSERT_NE(t[count] % d, 0) << t[count];
    EXPECT_EQ(count, 168);
    EXPECT_EQ(t[0], 2);
    EXPECT_EQ(t[167], 997);
    gprime(10000);  // replaces the table
    for (count = 0; state->prime_table[count] != 0;) count++;
    EXPECT_EQ(count, 1229);
    EXPECT_EQ(state->prime_table[count - 1], 9973);
    gprime(1 << 30);
    EXPECT_EQ(state->error_number, 14);
    EXPECT_EQ(state->trace_depth, 0);
}

TEST_F(PrimalityTest, TrialDivisionAndSmallCases) {
    bignum* x = num();
    auto td = [&](int v) {
        set_from_int(v, x);
        return trial_division(x, x);
    };
    EXPECT_EQ(td(1), 0);
    EXPECT_EQ(td(-3), 0);
    EXPECT_EQ(td(2), 1);
    EXPECT_EQ(td(1009), 1);     // quotient 27 by 37: prime
    EXPECT_EQ(td(994009), 0);   // 997^2
    EXPECT_EQ(td(994997), 1);   // the largest prime below 997*998
    EXPECT_EQ(td(1000003), 2);  // undecided
    EXPECT_EQ(td(1022117), 2);  // 1009 * 1013
    EXPECT_EQ(td(2000006), 0);
    EXPECT_EQ(int_value(x), 2000006);  // not modified

    for (int v : {0, 1, -7, 4, 9, 999, 994009, 561, 1022117, 1000001, -1000003}) EXPECT_EQ(prime(v), 0) << v;
    for (int v : {2, 3, 997, 1009, 994997, 1000003, 0x7FFFFFFF}) EXPECT_EQ(prime(v), 1) << v;
    const int* table = state->prime_table;  // built once
    prime(1000003);
    EXPECT_EQ(state->prime_table, table);
    EXPECT_EQ(state->trace_depth, 0);
}

TEST_F(PrimalityTest, MersennePrimes) {
    for (int p : {521, 607, 1279, 2203, 4253}) {
        bignum* m = mersenne(p);
        EXPECT_EQ(isprime(m), 1) << "2^" << p << " - 1";
        EXPECT_EQ(words_of(m), all_ones(p));  // not modified
    }
    // Prime exponents, composite values; 2^1277 - 1 has no known factor.
    for (int p : {11, 67, 257, 1277}) EXPECT_EQ(isprime(mersenne(p)), 0) << "2^" << p << " - 1";
    EXPECT_EQ(state->error_number, 0);
}

TEST_F(PrimalityTest, PseudoprimesAreComposite) {
    // Strong pseudoprimes to base 2 (the first two with a table factor).
    for (long long v : {2047LL, 3215031751LL, 2152302898747LL, 3474749660383LL, 341550071728321LL})
        EXPECT_EQ(prime(v), 0) << v;
    // A Carmichael number without a factor below 1000: Chernick's
    // (6k+1)(12k+1)(18k+1) with all three prime, k = 195.
    EXPECT_EQ(prime(1171LL * 2341LL * 3511LL), 0);
    // Chernick numbers that are also strong pseudoprimes to base 2, with
    // factors of 41 and 101 bits.
    EXPECT_EQ(isprime(hex("600000900e30480e30bee38c5972ef9")), 0);
    EXPECT_EQ(isprime(hex("60000000000000000000e760b300000000000000b9e33f9d19e00000000031c7c8c4e457efe9")), 0);
    // Base 2 alone would pass them: 2^(n-1) = 1 (mod n).
    bignum* n = hex("600000900e30480e30bee38c5972ef9");
    bignum* n1 = num();
    decr(n, 1, n1);
    bignum* w = num();
    powmod(num(2), n1, n, w);
    EXPECT_EQ(int_value(w), 1);
    EXPECT_EQ(state->error_number, 0);
}

TEST_F(PrimalityTest, ProductsOfLargePrimesAreComposite) {
    bignum* p1031 = hex(
        "4dbc2a03cb87c0777102281551ec82338dbde756ad09f33f4e7b761fd2e6231b062d2e77b834ba109abf63be4c50733a16c260"
        "93757b6f0c825126b071054c774e1a56c267411afa3a57faaa7c12c16ae2223781d2d7e4f7169533d39c721d80a88e9eceb1"
        "f77e893bb678e4babb348586c919a2318aff1814844500affe1a3405");
    bignum* p1100 = hex(
        "bf716702dd90d31f58f9e28a4888a85a9298a77710216ff8addf33d187d3901bb070bd3624d1151d363212bd5b04fdb0ec2a"
        "12eee4d8575e3010c55261c87e0bdae7a01fb25ff17d77ec9cad09d95cba13a1e8520e2524ebbf8d78e0fe1fb15b8bc65283"
        "2835b8d0d249bd2d383b2c79b5571b7e3a7d68e65c605b5ceeea466878966e677be1f1edf23");
    EXPECT_EQ(isprime(p1031), 1);
    EXPECT_EQ(isprime(p1100), 1);
    EXPECT_EQ(isprime(product(p1031, p1100)), 0);
    EXPECT_EQ(isprime(product(p1031, p1031)), 0);
    EXPECT_EQ(isprime(product(mersenne(1279), mersenne(2203))), 0);
    EXPECT_EQ(isprime(product(mersenne(1279), p1100)), 0);
}

TEST_F(PrimalityTest, EachHalfOfTheTestCatchesWhatTheOtherLetsThrough) {
    bignum* n = num();
    // Strong Lucas pseudoprimes (Selfridge's D = -7, Q = 2 for 5459; D = 5,
    // Q = -1 for the others) that base 2 proves composite.
    for (int v : {5459, 5777, 10877}) {
        set_from_int(v, n);
        EXPECT_EQ(strong_lucas_probable_prime(n), 1) << v;
        EXPECT_EQ(strong_probable_prime(2, n), 0) << v;
    }
    // Strong pseudoprimes to base 2 that the Lucas test proves composite;
    // 1093^2 is rejected as a square before any D is sought.
    for (int v : {2047, 3277, 4033, 1194649}) {
        set_from_int(v, n);
        EXPECT_EQ(strong_probable_prime(2, n), 1) << v;
        EXPECT_EQ(strong_lucas_probable_prime(n), 0) << v;
    }
    // Primes pass both, with D = 5 (Q = -1), -7, 17 and -11.
    for (int v : {1000003, 1000039, 1000099, 1000171}) {
        set_from_int(v, n);
        EXPECT_EQ(strong_probable_prime(2, n), 1) << v;
        EXPECT_EQ(strong_lucas_probable_prime(n), 1) << v;
    }
    EXPECT_EQ(compare_numbers(state->modulus, n), 0);  // n stays installed
    EXPECT_EQ(state->error_number, 0);
    EXPECT_EQ(state->trace_depth, 0);
}

TEST_F(PrimalityTest, TrialCountFollowsTheBitLength) {
    // Primes pass every trial, so the words drawn tell the number of trials.
    struct candidate {
        const char* hex;
        int trials;
    };
    const candidate cases[] = {
        {"98daeb6fc7aa2e85d60e938de9cdc9f2f2b614ea3b7692b85d10637", 6},          // 220 bits
        {"14a90c24f56fe8b91822bbaa9bd695dd8d8223ebeb263b8291731369", 7},         // 221
        {"51f16d4ca0ef2e81d93898ff7a8b44c9f993434b445817971d0ba78f", 6},         // 223
        {"224768714f939e7b1e8f822f1ecb0414d528818f0354a7cf0103aa1db", 5},        // 226
        {"409c8238e891f6ede023892ba3ab4dfc65572fac0295b497df67a7554f", 4},       // 231
        {"17424511884ac35ba68e4b2c2daf4273eab3b6302e03514aaf99bc3df0685", 3},    // 241
        {"4a272a1819a2c4abad44e6ea6c4201fc3c1e535698f4628b9bb754de5d2410f8eeaf", 2},  // 271
    };
    for (const candidate& c : cases) {
        fresh_engine();
        ASSERT_EQ(isprime(hex(c.hex)), 1) << c.hex;
        const std::uint32_t next = random_word();
        fresh_engine();
        const int drawn = words_for_trials(c.trials);
        EXPECT_EQ(word_after(drawn), next) << c.trials << " trials expected for " << c.hex;
        fresh_engine();
        const int fewer = words_for_trials(c.trials - 1);
        EXPECT_NE(word_after(fewer), next);
    }
}

TEST_F(PrimalityTest, SameBasesInEveryRun) {
    auto run = [&]() {
        std::vector<int> verdicts;
        bignum* x = hex("600000900e30480e30bee38c5972ef9");
        for (int i = 0; i < 3; ++i) verdicts.push_back(isprime(x));
        verdicts.push_back(isprime(mersenne(607)));
        verdicts.push_back(static_cast<int>(random_word()));
        return verdicts;
    };
    const std::vector<int> first = run();
    fresh_engine();
    EXPECT_EQ(run(), first);
}

TEST_F(PrimalityTest, InstalledModulusAndPendingError) {
    bignum* other = hex("ffffffffffffffffffffffffffffff61");
    const mr_digit c = prepare_monty(other);
    bignum* p = mersenne(521);
    EXPECT_EQ(isprime(p), 1);  // trials on the classical path
    EXPECT_EQ(isprime(hex("60000000000000000000e760b300000000000000b9e33f9d19e00000000031c7c8c4e457efe9")), 0);
    EXPECT_EQ(compare_numbers(state->modulus, other), 0);
    EXPECT_EQ(state->monty.constant, c);
    EXPECT_EQ(words_of(p), all_ones(521));
    clear_modulus();  // none installed: none left behind
    EXPECT_EQ(isprime(p), 1);
    EXPECT_EQ(state->modulus->len, 0u);

    // A cancel request stops the test at its first step, and the modulus
    // installed before is given back all the same.
    prepare_monty(other);
    request_cancel();
    isprime(p);
    clear_cancel_request();
    EXPECT_EQ(state->error_number, mr_error_cancelled);
    EXPECT_EQ(state->trace_depth, 0);
    EXPECT_EQ(compare_numbers(state->modulus, other), 0);
    state->error_number = 0;

    // While an error is pending the answer is 1 without a test.
    bignum* x = num(9);
    state->error_number = 3;
    EXPECT_EQ(isprime(x), 1);
    EXPECT_EQ(trial_division(x, x), 0);
}

}  // namespace
