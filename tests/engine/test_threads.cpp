// Instances on threads of their own: two computations at once, each on the
// instance its thread made, give what they give one after the other on one
// thread, and leave the instance of the thread that started them as it was.
// Built with ThreadSanitizer as well (scripts/test.sh), where a write to
// state the two share is a reported race.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "internal.h"
#include "montgomery.h"
#include "modexp.h"

namespace {

// A count-down latch on a mutex and a condition variable (std::latch waits
// through the standard library's atomic wait, which loses wake-ups in the
// mingw-w64 build under Wine).
class latch {
public:
    explicit latch(int count) : count_(count) {}
    void count_down() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            --count_;
        }
        zero_.notify_all();
    }
    void wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        zero_.wait(lock, [&] { return count_ <= 0; });
    }
    void arrive_and_wait() {
        count_down();
        wait();
    }

private:
    std::mutex mutex_;
    std::condition_variable zero_;
    int count_;
};

}  // namespace

namespace {

using results = std::vector<std::string>;

// Hex digits of a reproducible pseudo-random number of `digits` digits.
std::string hex_digits(int digits, std::uint32_t seed) {
    std::string s;
    for (int k = 0; k < digits; ++k) {
        seed = seed * 1664525u + 1013904223u;
        s += "0123456789ABCDEF"[(seed >> 24) & 15];
    }
    if (s[0] == '0') s[0] = '9';
    return s;
}

// The instance's text of x in the current base.
std::string text_of(const bignum* x) {
    std::vector<char> buffer(static_cast<std::size_t>(get_max_length()) * 12 + 16);
    set_io_buffer_size(static_cast<int>(buffer.size()) - 1);
    cotstr(x, buffer.data());
    return buffer.data();
}

bignum* number_of(const std::string& text) {
    bignum* x = mirvar(0);
    cinstr(x, text.c_str());
    return x;
}

// Modular exponentiations: odd and even moduli, two bases at once, a small
// base, and a primality test, which installs moduli of its own. Hex text.
results exponentiations(int rounds) {
    set_io_base(16);
    results out;
    bignum* x = number_of(hex_digits(700, 1));
    bignum* y = number_of(hex_digits(500, 2));
    bignum* a = number_of(hex_digits(300, 3));
    bignum* n = number_of(hex_digits(768, 4) + "1");
    bignum* even = number_of(hex_digits(600, 5) + "8");
    bignum* p = number_of("1" + std::string(130, 'F'));  // 2^521 - 1
    bignum* w = mirvar(0);
    for (int r = 0; r < rounds; ++r) {
        powmod(x, y, n, w);
        out.push_back(text_of(w));
        powmod(x, y, even, w);
        out.push_back(text_of(w));
        powmod2(x, y, a, x, n, w);
        out.push_back(text_of(w));
        powltr(3, y, n, w);
        out.push_back(text_of(w));
        out.push_back(isprime(p) ? "prime" : "composite");
        premult(x, 7 + r, x);
    }
    out.push_back(text_of(get_engine()->modulus));
    for (bignum* v : {x, y, a, n, even, p, w}) free_number(v);
    return out;
}

// Text conversions in several bases between products, quotients, roots and
// GCDs of long decimal numbers.
results conversions(int rounds) {
    set_io_base(10);
    results out;
    std::string digits;
    for (int k = 0; k < 3000; ++k) digits += static_cast<char>('0' + (k * 7 + k / 13) % 10);
    digits[0] = '8';
    bignum* x = number_of(digits);
    bignum* y = number_of(digits.substr(0, 1700));
    bignum* z = mirvar(0);
    bignum* q = mirvar(0);
    for (int r = 0; r < rounds; ++r) {
        multiply(x, y, z);
        copy_number(z, q);
        divide(q, y, q);
        set_io_base(7 + r);
        out.push_back(text_of(z));
        out.push_back(text_of(q));
        set_io_base(10);
        nroot(z, 3, q);
        out.push_back(text_of(q));
        egcd(z, y, q);
        out.push_back(text_of(q));
        add(x, z, x);
        divide(x, y, q);  // x the remainder, q the quotient
        out.push_back(text_of(x));
        cinstr(y, text_of(q).substr(0, 1500 + 100 * r).c_str());
    }
    for (bignum* v : {x, y, z, q}) free_number(v);
    return out;
}

// f on an instance of its own, made and released by the calling thread.
results on_own_instance(results (*f)(int), int rounds) {
    mirsys(16384, 16);
    set_error_continue(1);
    results out = f(rounds);
    out.push_back("error " + std::to_string(engine_error()));
    release_engine();
    return out;
}

TEST(Threads, TwoInstancesComputeAtOnceAsOneAfterTheOther) {
    constexpr int rounds = 3;
    const results powers = on_own_instance(exponentiations, rounds);
    const results texts = on_own_instance(conversions, rounds);
    ASSERT_EQ(powers.back(), "error 0");
    ASSERT_EQ(texts.back(), "error 0");

    // This thread's instance, with a modulus installed, must come out as it
    // went in.
    mr_state* mine = mirsys(16384, 16);
    bignum* m = mirvar(1000003);
    prepare_monty(m);
    const mr_digit constant = mine->monty.constant;

    results at_once[2];
    latch start(2);
    std::thread t1([&] {
        start.arrive_and_wait();
        at_once[0] = on_own_instance(exponentiations, rounds);
    });
    std::thread t2([&] {
        start.arrive_and_wait();
        at_once[1] = on_own_instance(conversions, rounds);
    });
    t1.join();
    t2.join();
    EXPECT_EQ(at_once[0], powers);
    EXPECT_EQ(at_once[1], texts);

    EXPECT_EQ(get_engine(), mine);
    EXPECT_EQ(compare_numbers(mine->modulus, m), 0);
    EXPECT_EQ(mine->monty.constant, constant);
    EXPECT_EQ(mine->io_base, 10);
    EXPECT_EQ(engine_error(), 0);
    free_number(m);
    release_engine();
}

// A cancel request for one instance stops that instance's computation and
// no other; the process-wide request reaches every instance.
TEST(Threads, ACancelReachesTheInstancesItIsFor) {
    mr_state* mine = mirsys(16384, 16);
    set_error_continue(1);
    std::atomic<mr_state*> other{nullptr};
    std::atomic<bool> go{false};
    std::atomic<int> other_error{-1};
    std::thread t([&] {
        mr_state* s = mirsys(16384, 16);
        set_error_continue(1);
        other.store(s);
        while (!go.load()) std::this_thread::yield();
        progress_step(0, 1);  // a step boundary
        other_error.store(engine_error());
        release_engine();
    });
    while (other.load() == nullptr) std::this_thread::yield();

    request_instance_cancel(mine);
    go.store(true);
    t.join();
    EXPECT_EQ(other_error.load(), 0);
    EXPECT_EQ(engine_error(), 0);  // taken only at a step boundary...
    progress_step(0, 1);
    EXPECT_EQ(engine_error(), mr_error_cancelled);  // ...and there
    clear_engine_error();
    clear_cancel_request();
    EXPECT_FALSE(cancel_point());

    // An instance that shares this one's requests is stopped with it.
    mr_state* worker = nullptr;
    std::atomic<int> worker_error{-1};
    latch made(1), requested(1);
    std::thread w([&] {
        worker = mirsys(16384, 16);
        set_error_continue(1);
        share_cancel(worker, mine);
        made.count_down();
        requested.wait();
        progress_step(0, 1);
        worker_error.store(engine_error());
        release_engine();
    });
    made.wait();
    request_instance_cancel(mine);
    requested.count_down();
    w.join();
    EXPECT_EQ(worker_error.load(), mr_error_cancelled);
    clear_cancel_request();

    // request_cancel reaches an instance of another thread.
    latch ready(1), sent(1);
    std::thread v([&] {
        mirsys(16384, 16);
        set_error_continue(1);
        ready.count_down();
        sent.wait();
        worker_error.store(cancel_point() ? engine_error() : 0);
        release_engine();
    });
    ready.wait();
    request_cancel();
    sent.count_down();
    v.join();
    EXPECT_EQ(worker_error.load(), mr_error_cancelled);
    clear_cancel_request();
    release_engine();
}

}  // namespace
