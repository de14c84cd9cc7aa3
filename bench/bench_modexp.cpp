// Times powmod with an odd modulus and an exponent of the same size, at
// 4096 bits and at the calculator's largest size, 65530 bits, and the
// Montgomery product that dominates it.
//
//   bench_modexp [runs at 4096 bits, default 5] [runs at 65530 bits, default 1]
//
// A 65530-bit powmod takes minutes: about 65530 squarings and 13000
// products of 2048-word residues. A run count of 0 skips a size. Operands
// are fixed pseudo-random words, so runs compare.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "engine.h"

namespace {

std::mt19937_64 rng{20261208};

// x = a pseudo-random number of exactly `bits` bits, odd when asked.
void fill(bignum* x, int bits, bool odd) {
    zero_number(x);
    const int n = (bits + 31) / 32;
    for (int i = 0; i < n; ++i) x->w[i] = static_cast<mr_digit>(rng());
    const int top_bits = bits - 32 * (n - 1);
    x->w[n - 1] &= top_bits == 32 ? 0xFFFFFFFFu : (1u << top_bits) - 1;
    x->w[n - 1] |= 1u << (top_bits - 1);
    if (odd) x->w[0] |= 1;
    x->len = static_cast<std::uint32_t>(n);
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void run_size(int bits, int runs) {
    if (runs <= 0) return;
    bignum* x = mirvar(0);
    bignum* y = mirvar(0);
    bignum* n = mirvar(0);
    bignum* w = mirvar(0);
    fill(n, bits, true);
    fill(x, bits - 1, false);
    fill(y, bits, false);

    // One Montgomery product of two residues, for scale.
    prepare_monty(n);
    bignum* a = mirvar(0);
    bignum* b = mirvar(0);
    nres(x, a);
    nres(y, b);
    int products = 0;
    auto t0 = std::chrono::steady_clock::now();
    do {
        nres_modmult(a, b, a);
        products++;
    } while (seconds_since(t0) < 0.5);
    const double product_us = seconds_since(t0) * 1e6 / products;
    t0 = std::chrono::steady_clock::now();
    int squares = 0;
    do {
        nres_modmult(a, a, a);
        squares++;
    } while (seconds_since(t0) < 0.5);
    const double square_us = seconds_since(t0) * 1e6 / squares;
    std::printf("%6d bits: nres_modmult %10.1f us, squaring %10.1f us\n", bits, product_us, square_us);

    double best = 1e300, total = 0;
    for (int r = 0; r < runs; ++r) {
        clear_modulus();  // every run pays for its set-up
        t0 = std::chrono::steady_clock::now();
        powmod(x, y, n, w);
        const double s = seconds_since(t0);
        best = s < best ? s : best;
        total += s;
        std::printf("%6d bits: powmod run %d   %10.3f s\n", bits, r + 1, s);
        std::fflush(stdout);
    }
    std::printf("%6d bits: powmod best %10.3f s, mean %10.3f s over %d run(s)%s\n", bits, best, total / runs, runs,
                get_engine()->error_number != 0 ? "  (engine error!)" : "");
    free_number(a);
    free_number(b);
    free_number(x);
    free_number(y);
    free_number(n);
    free_number(w);
}

}  // namespace

int main(int argc, char** argv) {
    const int runs_4096 = argc > 1 ? std::atoi(argv[1]) : 5;
    const int runs_65530 = argc > 2 ? std::atoi(argv[2]) : 1;
    mirsys(16384, 16);
    get_engine()->error_continue = 1;
    run_size(4096, runs_4096);
    run_size(65530, runs_65530);
    release_engine();
    return 0;
}
