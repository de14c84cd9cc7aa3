// Finds the two thresholds of Montgomery reduction (engine/thresholds.h,
// "Montgomery reduction"): below which size a product of two different
// residues is better fused with its reduction than formed and reduced word
// by word in the reduce area, and from which size reduction by
// multiplication beats the square formed and reduced word by word there. It times each
// method on the same pseudo-random residues at moduli of growing word
// counts and prints the medians and the first size where the second method
// wins. It measures; it never asserts.
//
//   torvane-tune-reduce [largest modulus in words, default 2048] [first, then steps of 32]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <random>
#include <vector>

#include "internal.h"
#include "montgomery.h"

namespace {

std::mt19937_64 rng{20261208};

void fill(bignum* x, int words, bool odd) {
    zero_number(x);
    for (int i = 0; i < words; ++i) x->w[i] = static_cast<mr_digit>(rng());
    x->w[words - 1] |= 0x80000000u;
    if (odd) x->w[0] |= 1;
    x->len = static_cast<std::uint32_t>(words);
}

// CPU time of this thread, in seconds: time spent descheduled on a shared
// machine does not count.
double thread_seconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Median times of one call of each of the methods, in seconds: 11 rounds,
// each timing every method once over enough repetitions for about 5 ms,
// so that drift of the machine hits all methods alike.
std::vector<double> median_seconds(const std::vector<std::function<void()>>& methods) {
    int reps = 1;
    for (;;) {
        const double t0 = thread_seconds();
        for (int i = 0; i < reps; ++i) methods[0]();
        if (thread_seconds() - t0 > 0.005 || reps > (1 << 20)) break;
        reps *= 2;
    }
    std::vector<std::vector<double>> samples(methods.size());
    for (int round = 0; round < 11; ++round)
        for (std::size_t m = 0; m < methods.size(); ++m) {
            const double t0 = thread_seconds();
            for (int i = 0; i < reps; ++i) methods[m]();
            samples[m].push_back((thread_seconds() - t0) / reps);
        }
    std::vector<double> medians;
    for (auto& v : samples) {
        std::nth_element(v.begin(), v.begin() + 5, v.end());
        medians.push_back(v[5]);
    }
    return medians;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const int largest = argc > 1 ? std::atoi(argv[1]) : 2048;
    const int first = argc > 2 ? std::atoi(argv[2]) : 0;
    mirsys(16384, 16);
    get_engine()->error_continue = 0;
    bignum* n = mirvar(0);
    bignum* x = mirvar(0);
    bignum* y = mirvar(0);
    bignum* w = mirvar(0);
    bignum* acc = get_engine()->accumulator;

    std::printf("%6s  %12s %12s  %12s %12s\n", "words", "fused", "mul+words", "sqr+words", "sqr+by-mul");
    int fused_loses = 0, multiplication_wins = 0;
    const auto next = [&](int k) { return first > 0 ? k + 32 : k < 16 ? k + 2 : k < 64 ? k + 8 : k * 3 / 2 / 8 * 8; };
    for (int k = first > 0 ? first : 2; k <= largest; k = next(k)) {
        length_check_scope unchecked(0);  // squares of up to twice max_length words
        fill(n, k, true);
        prepare_monty(n);
        fill(x, k, false);
        fill(y, k, false);
        nres(x, x);
        nres(y, y);
        monty_context& c = installed_context();
        const auto product = [&] { modmult_in_area(c, x, y, w); };
        const auto fused_product = [&] { modmult_fused(c, x, y, w); };
        const auto by_words = [&] { modmult_in_area(c, x, x, w); };
        const auto by_multiplication = [&] {
            multiply(x, x, acc);
            reduce_with(c, acc, w, monty_by_multiplication);
        };
        double fused = 0, separate = 0;
        if (k <= 256) {
            const auto t = median_seconds({fused_product, product});
            fused = t[0];
            separate = t[1];
        }
        const auto t = median_seconds({by_words, by_multiplication});
        const double words = t[0], by_mul = t[1];
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
