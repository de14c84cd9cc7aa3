// The worker pool: the parallel paths give what one thread gives (products
// and squares above the pool's threshold, runs nested in a task's, the
// primality test with the random pool left as one thread leaves it), and a
// cancel request stops every thread of a parallel primality test or power
// at its next step. Built with
// ThreadSanitizer as well (scripts/test.sh).
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "internal.h"
#include "modexp.h"
#include "pool.h"
#include "thresholds.h"
#include "primitives.h"
#include "powers.h"
#include "montgomery.h"
#include "primality.h"

namespace {

// A reproducible pseudo-random number of `words` words.
void fill(bignum* x, int words, std::uint32_t seed) {
    zero_number(x);
    for (int k = 0; k < words; ++k) {
        seed = seed * 1664525u + 1013904223u;
        x->w[k] = seed ^ (seed >> 13);
    }
    x->w[words - 1] |= 0x80000000u;
    x->len = static_cast<std::uint32_t>(words);
}

// 2^p - 1.
void mersenne(int p, bignum* x) {
    expb2(p, x);
    decr(x, 1, x);
}

// Sets the step back (and with it the chains' comparing), first forgetting
// the last chain verdict, so that the next chain compares from its start.
void restart_back_off(bool on) {
    pool_set_back_off(false);
    pool_set_back_off(on);
}

class PoolTest : public ::testing::Test {
protected:
    void SetUp() override {
        mirsys(2 * 16384 + 16, 16);  // room for the product of two 65530-bit numbers
        set_error_continue(1);
        ASSERT_EQ(start_pool(3), 3);  // two workers: more threads than this machine's cores
        // However loaded the machine, the parallel paths run.
        pool_set_back_off(false);
    }
    void TearDown() override {
        stop_pool();
        release_engine();
    }
};

// Products and squares at, around and far above the threshold, in each of
// the parallel Toom levels, against the same routines without the pool.
TEST_F(PoolTest, ProductsAndSquaresMatchOneThread) {
    bignum* a = mirvar(0);
    bignum* b = mirvar(0);
    bignum* one = mirvar(0);
    bignum* many = mirvar(0);
    const int t = parallel_product_threshold;
    for (int words : {t - 1, t, t + 1, 1500, square_toom4_threshold + 3, product_toom4_threshold + 1, 2048}) {
        for (int shorter : {words, words - words / 5}) {
            fill(a, words, static_cast<std::uint32_t>(words));
            fill(b, shorter, static_cast<std::uint32_t>(shorter) * 7u);
            pool_use_here(false);
            multiply(a, b, one);
            pool_use_here(true);
            multiply(a, b, many);
            EXPECT_EQ(compare_numbers(one, many), 0) << words << " by " << shorter << " words";
        }
        pool_use_here(false);
        multiply(a, a, one);
        pool_use_here(true);
        multiply(a, a, many);
        EXPECT_EQ(compare_numbers(one, many), 0) << "square of " << words << " words";
    }
    EXPECT_EQ(engine_error(), 0);
    for (bignum* x : {a, b, one, many}) free_number(x);
}

// Runs started inside a task: products, Montgomery products and powers of
// 2048 words as the tasks of a run, so that their Toom points and the
// pieces of their reductions (a power's with the modulus's points kept)
// form nested runs, which the threads that finish first join; each result
// as without the pool.
TEST_F(PoolTest, NestedRunsMatchOneThread) {
    constexpr int tasks = 6;
    struct work {
        bignum* a;
        bignum* b;
        bignum* e;
        bignum* n;
        monty_context* c;
        bignum* out[tasks];
    } t{};
    t.a = mirvar(0);
    t.b = mirvar(0);
    bignum* n = mirvar(0);
    bignum* x = mirvar(0);
    bignum* y = mirvar(0);
    fill(t.a, 2048, 1);
    fill(t.b, 2048 - 3, 2);
    fill(n, 2048, 3);
    n->w[0] |= 1;
    t.e = mirvar(0);
    fill(t.e, 3, 4);
    t.n = n;
    prepare_monty(n);
    copy_number(t.b, x);
    nres(x, x);
    nres(t.a, y);
    bignum* b = t.b;
    copy_number(x, t.a);  // residues now: their product, and their Montgomery product
    t.b = y;
    monty_context& c = installed_context();
    t.c = &c;
    std::vector<bignum*> expected;
    pool_use_here(false);
    for (int i = 0; i < 3; ++i) {
        expected.push_back(mirvar(0));
        if (i == 0)
            multiply(t.a, t.b, expected.back());
        else if (i == 1)
            nres_modmult(c, t.a, t.b, expected.back());
        else
            powmod(t.a, t.e, t.n, expected.back());
    }
    pool_use_here(true);
    for (auto& out : t.out) out = mirvar(0);
    const auto task = [](void* context, int index, const pool_executor&) {
        auto& w = *static_cast<work*>(context);
        if (index % 3 == 0)
            multiply(w.a, w.b, w.out[index]);
        else if (index % 3 == 1)
            nres_modmult(*w.c, w.a, w.b, w.out[index]);
        else
            powmod(w.a, w.e, w.n, w.out[index]);
    };
    for (int round = 0; round < 8; ++round) {
        ASSERT_TRUE(pool_run(tasks, task, &t));
        for (int i = 0; i < tasks; ++i)
            EXPECT_EQ(compare_numbers(t.out[i], expected[static_cast<std::size_t>(i % 3)]), 0)
                << "task " << i << " of round " << round;
    }
    EXPECT_EQ(engine_error(), 0);
    for (bignum* v : {t.a, b, t.e, n, x, y}) free_number(v);
    for (bignum* v : t.out) free_number(v);
    for (bignum* v : expected) free_number(v);
}

// Primes and composites above the threshold, each tested by two instances
// made alike, one with the pool and one without: the same verdicts, and
// the same random words drawn afterwards. Twice: with the Lucas test handed
// out first, and (parallel_reduce_min lowered so that 9689 bits reach it)
// second to last with its steps as nested runs. 2^9697 - 1 is composite
// and a strong probable prime to base 2: its Lucas test fails and stops
// the others.
TEST_F(PoolTest, PrimalityMatchesOneThread) {
    mr_state* mine = get_engine();
    mr_state* serial = mirsys(16384, 16);
    set_error_continue(1);
    mr_state* parallel = mirsys(16384, 16);
    set_error_continue(1);
    use_engine(mine);

    const auto run = [](mr_state* s, bool pool) {
        use_engine(s);
        pool_use_here(pool);
        std::vector<int> verdicts;
        bignum* x = mirvar(0);
        for (int p : {9689}) {  // above parallel_prime_bits
            mersenne(p, x);
            verdicts.push_back(isprime(x));
            decr(x, -2, x);  // 2^p + 1, divisible by 3: trial division
            verdicts.push_back(isprime(x));
            fill(x, p / 32, static_cast<std::uint32_t>(p));
            x->w[0] |= 1;  // odd, almost surely composite past trial division
            verdicts.push_back(isprime(x));
            verdicts.push_back(static_cast<int>(random_word()));
            mersenne(9697, x);
            verdicts.push_back(isprime(x));
        }
        verdicts.push_back(static_cast<int>(random_word()));
        verdicts.push_back(engine_error());
        free_number(x);
        pool_use_here(true);
        return verdicts;
    };
    const int saved = parallel_reduce_min;
    for (const int reduce_min : {saved, 16}) {
        SCOPED_TRACE(reduce_min);
        parallel_reduce_min = reduce_min;
        const std::vector<int> one = run(serial, false);
        const std::vector<int> many = run(parallel, true);
        EXPECT_EQ(one, many);
        EXPECT_EQ(one[0], 1);
        EXPECT_EQ(one[4], 0);
    }
    parallel_reduce_min = saved;
    ASSERT_GE(9689, parallel_prime_bits) << "the prime tested must reach the parallel path";

    for (mr_state* s : {serial, parallel}) {
        use_engine(s);
        release_engine();
    }
    use_engine(mine);
}

// The Lucas test's ladder, whose product and square of a step run as two
// tasks from parallel_reduce_min words (lowered here so that 1100 bits
// reach it), and the strong test's squarings: the same verdicts as on one
// thread, for a prime, a product of two primes and an odd number of random
// words.
TEST_F(PoolTest, LucasStepsMatchOneThread) {
    bignum* p = mirvar(0);
    bignum* composite = mirvar(0);
    bignum* odd = mirvar(0);
    get_engine()->io_base = 16;
    cinstr(p,
           "bf716702dd90d31f58f9e28a4888a85a9298a77710216ff8addf33d187d3901bb070bd3624d1151d363212bd5b04fdb0ec2a"
           "12eee4d8575e3010c55261c87e0bdae7a01fb25ff17d77ec9cad09d95cba13a1e8520e2524ebbf8d78e0fe1fb15b8bc65283"
           "2835b8d0d249bd2d383b2c79b5571b7e3a7d68e65c605b5ceeea466878966e677be1f1edf23");
    get_engine()->io_base = 10;
    mersenne(607, composite);
    multiply(composite, p, composite);
    fill(odd, 40, 1100);
    odd->w[0] |= 1;
    const int saved = parallel_reduce_min;
    // One thread; the pool for every step; the pool with the chains
    // comparing, each from its start (the last verdict forgotten), so that
    // the ladder's steps and the strong test's squarings run partly on the
    // pool and partly on one thread.
    std::vector<int> verdicts[3];
    for (int pool = 0; pool < 3; ++pool) {
        pool_use_here(pool != 0);
        parallel_reduce_min = pool != 0 ? 16 : saved;
        for (bignum* n : {p, composite, odd}) {
            restart_back_off(pool == 2);
            verdicts[pool].push_back(strong_lucas_probable_prime(n));
            restart_back_off(pool == 2);
            verdicts[pool].push_back(strong_probable_prime(2, n));
        }
        verdicts[pool].push_back(engine_error());
    }
    parallel_reduce_min = saved;
    pool_set_back_off(false);
    pool_use_here(true);
    EXPECT_EQ(verdicts[1], verdicts[0]);
    EXPECT_EQ(verdicts[2], verdicts[0]);
    EXPECT_EQ(verdicts[0][0], 1);
    EXPECT_EQ(verdicts[0][1], 1);
    EXPECT_EQ(verdicts[0][2], 0);
    EXPECT_EQ(verdicts[0][3], 0);
    for (bignum* v : {p, composite, odd}) free_number(v);
}

// A cancel request during a parallel computation stops every thread at its
// next step: a primality test of a large prime (its tests at once) and a
// power modulo 2^32768 m (its two powers at once), each of which takes
// seconds, return at once with the cancel as their pending error, and the
// pool is free again.
TEST_F(PoolTest, CancelStopsEveryWorker) {
    bignum* x = mirvar(0);
    bignum* y = mirvar(0);
    bignum* n = mirvar(0);
    bignum* w = mirvar(0);
    using clock = std::chrono::steady_clock;
    for (const bool prime : {true, false}) {
        SCOPED_TRACE(prime ? "isprime" : "powmod, even modulus");
        clock::time_point requested{};
        std::thread canceller([&requested] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            requested = clock::now();
            request_cancel();
        });
        if (prime) {
            mersenne(44497, x);
            EXPECT_EQ(isprime(x), 0);
        } else {
            fill(x, 2040, 5);
            x->w[0] |= 1;  // an odd base: the power modulo 2^j takes j steps
            fill(y, 2040, 6);
            fill(n, 1020, 7);
            n->w[0] |= 1;
            mr_shift(n, 1024, n);  // 2^32768 m, both parts above the pool's threshold
            powmod(x, y, n, w);
        }
        const auto stopped = clock::now();
        canceller.join();
        EXPECT_EQ(engine_error(), mr_error_cancelled);
        EXPECT_LT(std::chrono::duration<double>(stopped - requested).count(), 5.0);
        EXPECT_TRUE(pool_available());
        clear_cancel_request();
        clear_engine_error();
    }
    for (bignum* v : {x, y, n, w}) free_number(v);
}

// A run whose starter, its own work done, waits far longer for a task a
// worker took (as when another program holds the worker's processor) makes
// the pool step back: the parallel paths keep to one thread for a while.
TEST_F(PoolTest, StepsBackAfterAWorkerWasHeld) {
    pool_set_back_off(true);
    struct held {
        std::atomic<bool> taken{false};
    } h;
    const auto task = [](void* context, int, const pool_executor& executor) {
        auto& w = *static_cast<held*>(context);
        if (executor.index != 0) {
            if (!w.taken.exchange(true)) std::this_thread::sleep_for(std::chrono::milliseconds(300));
            return;
        }
        // The starter's first task waits until a worker holds one.
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!w.taken.load() && std::chrono::steady_clock::now() < give_up) std::this_thread::yield();
    };
    const int before = pool_stalls();
    ASSERT_TRUE(pool_run(64, task, &h));
    ASSERT_TRUE(h.taken.load());
    EXPECT_EQ(pool_stalls(), before + 1);
    // Turned off, the pool spreads again at once (how long it would step
    // back depends on the machine's load too).
    pool_set_back_off(false);
    EXPECT_TRUE(pool_available());
}

// A chain switches the thread's use of the pool step by step; whatever it
// chose, the thread has its own setting back afterwards, and a thread that
// keeps off the pool is never put on it.
TEST_F(PoolTest, ChainsGiveTheThreadItsSettingBack) {
    pool_set_back_off(true);
    const auto nothing = [](void*, int, const pool_executor&) {};
    {
        pool_chain chain(true);
        // Ends while it times steps on one thread.
        for (int i = 0; i < 20; ++i) chain.next_step();
    }
    EXPECT_TRUE(pool_run(1, nothing, nullptr));
    pool_use_here(false);
    {
        pool_chain chain(true);
        for (int i = 0; i < 40; ++i) {
            chain.next_step();
            EXPECT_FALSE(pool_run(1, nothing, nullptr));
        }
    }
    EXPECT_FALSE(pool_run(1, nothing, nullptr));
    pool_use_here(true);
    pool_set_back_off(false);
}

// With the chains comparing (step back on), a power's products run partly
// on the pool and partly on one thread; the results are the one-thread
// ones: a power, 2^e and a power modulo 2^19200 m, whose two powers run at
// once. The pool's thresholds are lowered so that short moduli take the
// parallel paths.
TEST_F(PoolTest, PowerWhoseChainSwitchesMatchesOneThread) {
    bignum* x = mirvar(0);
    bignum* e = mirvar(0);
    bignum* n = mirvar(0);
    bignum* even = mirvar(0);
    std::vector<bignum*> results[2];
    fill(n, 600, 7);  // above the IFMA kernel's range: reduction by multiplication
    n->w[0] |= 1;
    mr_shift(n, 600, even);
    fill(x, 590, 8);
    x->w[0] |= 1;  // an odd base: the power modulo 2^j takes a step a bit of e
    fill(e, 7, 9);  // over two hundred products: each chain times 16 each way
    const int saved[3] = {parallel_reduce_min, parallel_product_threshold, parallel_even_power_bits};
    for (int pool = 0; pool < 2; ++pool) {
        pool_use_here(pool == 1);
        parallel_reduce_min = pool == 1 ? 16 : saved[0];
        parallel_product_threshold = pool == 1 ? 16 : saved[1];
        parallel_even_power_bits = pool == 1 ? 512 : saved[2];
        for (int k = 0; k < 3; ++k) {
            restart_back_off(pool == 1);
            results[pool].push_back(mirvar(0));
            if (k == 0) powmod(x, e, n, results[pool].back());
            if (k == 1) powltr(2, e, n, results[pool].back());
            if (k == 2) powmod(x, e, even, results[pool].back());
        }
    }
    parallel_reduce_min = saved[0];
    parallel_product_threshold = saved[1];
    parallel_even_power_bits = saved[2];
    pool_set_back_off(false);
    pool_use_here(true);
    EXPECT_EQ(engine_error(), 0);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(compare_numbers(results[1][k], results[0][k]), 0) << k;
        free_number(results[0][k]);
        free_number(results[1][k]);
    }
    for (bignum* v : {x, e, n, even}) free_number(v);
}

}  // namespace
