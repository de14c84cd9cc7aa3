// torvane-tune-divide: measures the thresholds of division and text
// conversion (engine/thresholds.h, sections "Division" and "Text
// conversion") on this machine, and prints the value each should have.
//
//   cmake --build build/bench --target torvane-tune-divide && build/bench/bench/torvane-tune-divide [--quick]
//
// It runs on its own build of the engine (TORVANE_TUNING), whose thresholds
// are variables. For each size it times the operation twice: with the
// threshold out of reach (the quadratic method throughout) and with the
// threshold at this size (one split at the top, the quadratic method below
// it). The threshold is the smallest size from which the split wins at that
// size and at every larger one measured. Times are the thread's CPU time,
// the median of repeated batches, the two methods interleaved.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "internal.h"
#include "thresholds.h"

namespace {

double cpu_seconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// Median over `rounds` of the time per call of a() and of b(), interleaved.
std::pair<double, double> time_pair(const std::function<void()>& a, const std::function<void()>& b, int rounds) {
    auto batch = [](const std::function<void()>& f) {
        int calls = 0;
        const double start = cpu_seconds();
        double used;
        do {
            f();
            ++calls;
            used = cpu_seconds() - start;
        } while (used < 0.002);
        return used / calls;
    };
    std::vector<double> ta, tb;
    a();
    b();
    for (int r = 0; r < rounds; ++r) {
        ta.push_back(batch(a));
        tb.push_back(batch(b));
    }
    std::sort(ta.begin(), ta.end());
    std::sort(tb.begin(), tb.end());
    return {ta[ta.size() / 2], tb[tb.size() / 2]};
}

std::mt19937_64 rng{20261208};

void fill(bignum* x, int words) {
    zero_number(x);
    for (int i = 0; i < words; ++i) x->w[i] = static_cast<mr_digit>(rng());
    x->w[words - 1] |= 1u;
    x->len = static_cast<std::uint32_t>(words);
}

// The smallest size from which the split wins at every larger size.
int crossover(const std::vector<int>& sizes, const std::vector<double>& gain) {
    int at = -1;
    for (std::size_t i = sizes.size(); i-- > 0;) {
        if (gain[i] <= 1.0) break;
        at = sizes[i];
    }
    return at;
}

constexpr int out_of_reach = 1 << 30;

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const int rounds = quick ? 5 : 11;
    mirsys(16384, 16);
    get_engine()->error_continue = 1;
    set_io_buffer_size(200000);
    bignum* x = mirvar(0);
    bignum* y = mirvar(0);
    bignum* q = mirvar(0);
    bignum* r = mirvar(0);
    static std::vector<char> text(200000);

    const std::vector<int> sizes = {16, 24, 32, 40, 48, 64, 80, 96, 128, 160, 192, 256, 320, 384, 512, 768, 1024};

    std::printf("division, 2n by n words: schoolbook / recursive at the top\n");
    std::vector<double> gain;
    for (int n : sizes) {
        fill(x, 2 * n);
        fill(y, n);
        auto run = [&](int threshold) {
            return [&, threshold] {
                divide_recursive_words = threshold;
                copy_number(x, r);
                divide(r, y, q);
            };
        };
        const auto [plain, split] = time_pair(run(out_of_reach), run(n), rounds);
        gain.push_back(plain / split);
        std::printf("  n = %4d words  %10.2f us  %10.2f us  %5.2f\n", n, plain * 1e6, split * 1e6, plain / split);
    }
    std::printf("  divide_recursive_words = %d\n\n", crossover(sizes, gain));

    // Writing takes its table of powers from the reading threshold: keep
    // that at its built-in value while timing the writing one.
    const int in_default = text_split_in_words;
    const unsigned bases[] = {10, 3, 60};
    for (unsigned base : bases) {
        get_engine()->io_base = static_cast<int>(base);
        std::vector<double> gain_out, gain_in;
        std::printf("text in base %u, n words: quadratic / split at the top (out, in)\n", base);
        for (int n : sizes) {
            if (n > 512) break;
            fill(x, n);
            cotstr(x, text.data());
            auto out = [&](int threshold) {
                return [&, threshold] {
                    text_split_in_words = in_default;
                    text_split_out_words = threshold;
                    cotstr(x, text.data());
                };
            };
            auto in = [&](int threshold) {
                return [&, threshold] {
                    text_split_in_words = threshold;
                    cinstr(y, text.data());
                };
            };
            const auto [po, so] = time_pair(out(out_of_reach), out(n - 1), rounds);
            const auto [pi, si] = time_pair(in(out_of_reach), in(n - 1), rounds);
            gain_out.push_back(po / so);
            gain_in.push_back(pi / si);
            std::printf("  n = %4d words  out %9.2f us %9.2f us %5.2f   in %9.2f us %9.2f us %5.2f\n", n, po * 1e6,
                        so * 1e6, po / so, pi * 1e6, si * 1e6, pi / si);
        }
        std::vector<int> text_sizes(sizes.begin(), sizes.begin() + static_cast<long>(gain_out.size()));
        std::printf("  split from: out %d, in %d words\n\n", crossover(text_sizes, gain_out),
                    crossover(text_sizes, gain_in));
    }
    if (get_engine()->error_number != 0) std::printf("engine error %d\n", get_engine()->error_number);
    return 0;
}
