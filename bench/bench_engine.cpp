// Times the engine's quadratic routines on operands of the calculator's
// largest size, 65530 bits (2048 words), and prints microseconds per call.
//
//   bench_engine [seconds per routine, default 0.3]
//
// Each routine runs in batches until the time is used up; the figure is the
// best batch average, which is the least disturbed by the rest of the
// machine. Operands are fixed pseudo-random words, so runs compare.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>

#include "engine.h"

namespace {

constexpr int max_bits = 65530;
constexpr int full_words = (max_bits + 31) / 32;  // 2048
constexpr int half_words = full_words / 2;         // 1024, 32768 bits

std::mt19937_64 rng{20261208};

// x = a pseudo-random number of `bits` bits (its top bit set).
void fill(bignum* x, int bits) {
    zero_number(x);
    const int n = (bits + 31) / 32;
    for (int i = 0; i < n; ++i) x->w[i] = static_cast<mr_digit>(rng());
    const int top_bits = bits - 32 * (n - 1);
    x->w[n - 1] &= top_bits == 32 ? 0xFFFFFFFFu : (1u << top_bits) - 1;
    x->w[n - 1] |= 1u << (top_bits - 1);
    x->len = static_cast<std::uint32_t>(n);
}

double seconds_per_routine = 0.3;

// Best batch average of `body` in microseconds per call.
double time_us(const std::function<void()>& body) {
    using clock = std::chrono::steady_clock;
    body();  // warm up
    int batch = 1;
    for (;;) {  // a batch of at least 20 ms
        auto t0 = clock::now();
        for (int i = 0; i < batch; ++i) body();
        double s = std::chrono::duration<double>(clock::now() - t0).count();
        if (s >= 0.02) break;
        batch *= 2;
    }
    double best = 1e300;
    auto end = clock::now() + std::chrono::duration<double>(seconds_per_routine);
    do {
        auto t0 = clock::now();
        for (int i = 0; i < batch; ++i) body();
        double us = std::chrono::duration<double, std::micro>(clock::now() - t0).count() / batch;
        if (us < best) best = us;
    } while (clock::now() < end);
    return best;
}

void report(const char* what, double us) { std::printf("  %-52s %12.1f us\n", what, us); }

void check_no_error(mr_state* s) {
    if (s->error_number != 0) {
        std::printf("engine error %d\n", s->error_number);
        std::exit(1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) seconds_per_routine = std::atof(argv[1]);
    mr_state* s = mirsys(16384, 16);  // as the calculator starts the engine
    s->error_continue = 1;
    s->io_base = 16;
    set_io_buffer_size(65535);

    bignum* x = mirvar(0);     // 65530 bits
    bignum* y = mirvar(0);     // 65530 bits, a second operand
    bignum* xh = mirvar(0);    // 32765 bits
    bignum* yh = mirvar(0);    // 32765 bits
    bignum* m = mirvar(0);     // 65530-bit modulus
    bignum* mh = mirvar(0);    // 32765-bit modulus
    bignum* work = mirvar(0);  // dividend copy, overwritten by each division
    bignum* q = mirvar(0);
    bignum* r = mirvar(0);
    fill(x, max_bits);
    fill(y, max_bits);
    fill(xh, max_bits / 2);
    fill(yh, max_bits / 2);
    fill(m, max_bits);
    fill(mh, max_bits / 2);
    bignum* acc = s->accumulator;

    std::printf("Torvane engine, operands of %d bits (%d words) and %d bits (%d words)\n", max_bits, full_words,
                max_bits / 2, half_words);

    std::printf("multiply\n");
    report("32765 x 32765 bits (schoolbook)", time_us([&] { multiply(xh, yh, q); }));
    report("32765 bits squared", time_us([&] { multiply(xh, xh, q); }));
    // Full-size products need the double-length accumulator, as inside mad.
    s->length_check = 0;
    report("65530 x 65530 bits into the accumulator", time_us([&] { multiply(x, y, acc); }));
    report("65530 bits squared into the accumulator", time_us([&] { multiply(x, x, acc); }));
    s->length_check = 1;
    check_no_error(s);

    std::printf("divide (each call includes one copy of the dividend)\n");
    report("65530 / 32765 bits, quotient and remainder", time_us([&] {
               copy_number(x, work);
               divide(work, yh, q);
           }));
    report("65530 / 32765 bits, remainder only", time_us([&] {
               copy_number(x, work);
               divide(work, yh, yh);
           }));
    report("65530 / 65530 bits", time_us([&] {
               copy_number(x, work);
               divide(work, y, q);
           }));
    report("65530 / 32 bits", time_us([&] {
               copy_number(x, work);
               set_from_int(1000000007, r);
               divide(work, r, q);
           }));
    check_no_error(s);

    std::printf("mad, powers and roots\n");
    report("(32765 x 32765 bits) mod 32765 bits", time_us([&] { mad(xh, yh, yh, mh, mh, r); }));
    report("(65530 x 65530 bits) mod 65530 bits", time_us([&] { mad(x, y, y, m, m, r); }));
    report("square root of 65530 bits", time_us([&] { nroot(x, 2, r); }));
    report("cube root of 65530 bits", time_us([&] { nroot(x, 3, r); }));
    check_no_error(s);

    // Text conversion of a full-size number, as the calculator redraws its
    // fields: hexadecimal is a repacking, decimal a change of radix.
    std::printf("cotstr\n");
    s->io_base = 16;
    report("65530 bits to hexadecimal text", time_us([&] { cotstr(x, s->io_buffer); }));
    s->io_base = 10;
    report("65530 bits to decimal text", time_us([&] { cotstr(x, s->io_buffer); }));
    s->io_base = 16;
    check_no_error(s);

    for (bignum* b : {x, y, xh, yh, m, mh, work, q, r}) free_number(b);
    release_engine();
    return 0;
}
