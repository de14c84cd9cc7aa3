// Finds the two thresholds of Montgomery reduction (engine/thresholds.h,
// "Montgomery reduction"): below which size a product of two different
// residues is better fused with its reduction, and from which size
// reduction by multiplication beats reduction word by word. It times each
// method on the same pseudo-random residues at moduli of growing word
// counts and prints the medians and the first size where the second method
// wins. It measures; it never asserts.
//
//   torvane-tune-reduce [largest modulus in words, default 2048]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "internal.h"

namespace {

std::mt19937_64 rng{20261208};

void fill(bignum* x, int words, bool odd) {
    zero_number(x);
    for (int i = 0; i < words; ++i) x->w[i] = static_cast<mr_digit>(rng());
    x->w[words - 1] |= 0x80000000u;
    if (odd) x->w[0] |= 1;
    x->len = static_cast<std::uint32_t>(words);
}

// The median time of one call of f, in seconds, over enough repetitions
// to fill about 20 ms per sample.
template <class F>
double median_seconds(F f) {
    using clock = std::chrono::steady_clock;
    int reps = 1;
    for (;;) {
        const auto t0 = clock::now();
        for (int i = 0; i < reps; ++i) f();
        const double t = std::chrono::duration<double>(clock::now() - t0).count();
        if (t > 0.02 || reps > (1 << 20)) break;
        reps *= 2;
    }
    std::vector<double> samples;
    for (int s = 0; s < 7; ++s) {
        const auto t0 = clock::now();
        for (int i = 0; i < reps; ++i) f();
        samples.push_back(std::chrono::duration<double>(clock::now() - t0).count() / reps);
    }
    std::nth_element(samples.begin(), samples.begin() + 3, samples.end());
    return samples[3];
}

}  // namespace

int main(int argc, char** argv) {
    const int largest = argc > 1 ? std::atoi(argv[1]) : 2048;
    mirsys(16384, 16);
    get_engine()->error_continue = 0;
    bignum* n = mirvar(0);
    bignum* x = mirvar(0);
    bignum* y = mirvar(0);
    bignum* w = mirvar(0);
    bignum* acc = get_engine()->accumulator;

    std::printf("%6s  %12s %12s  %12s %12s\n", "words", "fused", "mul+words", "sqr+words", "sqr+by-mul");
    int fused_loses = 0, multiplication_wins = 0;
    for (int k = 2; k <= largest; k = k < 16 ? k + 2 : k < 64 ? k + 8 : k * 3 / 2 / 8 * 8) {
        fill(n, k, true);
        prepare_monty(n);
        fill(x, k, false);
        fill(y, k, false);
        nres(x, x);
        nres(y, y);
        const double fused = k <= 256 ? median_seconds([&] { modmult_fused(x, y, w); }) : 0;
        const double separate = k <= 256 ? median_seconds([&] {
            multiply(x, y, acc);
            reduce_with(acc, w, monty_by_words);
        })
                                         : 0;
        const double words = median_seconds([&] {
            multiply(x, x, acc);
            reduce_with(acc, w, monty_by_words);
        });
        const double by_mul = median_seconds([&] {
            multiply(x, x, acc);
            reduce_with(acc, w, monty_by_multiplication);
        });
        std::printf("%6d  %12.3e %12.3e  %12.3e %12.3e\n", k, fused, separate, words, by_mul);
        if (k <= 256 && fused_loses == 0 && fused > separate) fused_loses = k;
        if (multiplication_wins == 0 && by_mul < words) multiplication_wins = k;
    }
    std::printf("fused product first slower at: %d words (0: not up to 256)\n", fused_loses);
    std::printf("reduction by multiplication first faster at: %d words (0: never up to %d)\n", multiplication_wins,
                largest);
    release_engine();
    return 0;
}
