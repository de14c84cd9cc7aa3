// torvane-bench --kernels: how close the schoolbook kernels come to one
// limb product per clock cycle.
//
// For 8, 16 and 32 limbs (64-bit limbs; 16, 32 and 64 words) it times the
// basecase product (n x n limbs: n^2 limb products) and the basecase square
// (n(n-1)/2 cross products formed once plus n squares on the diagonal:
// n(n+1)/2 limb products) on every kernel path this processor has, and
// prints the cycles per limb product. The clock is the processor's time-stamp
// counter (rdtsc), which on current x86-64 processors ticks at a constant
// reference rate, not at the core's actual clock: with turbo above the
// reference rate a core does more work per tick than per cycle, below it
// less. Its rate against the wall clock is measured and printed alongside.
// Each figure is the median of 101 batches, the paths taking turns batch by
// batch.
#include <x86intrin.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "bench_case.h"
#include "kernels.h"

namespace {

// Time-stamp counter ticks per second, against the steady clock over 200 ms.
double tsc_hz() {
    using clock = std::chrono::steady_clock;
    const auto t0 = clock::now();
    const std::uint64_t c0 = __rdtsc();
    while (clock::now() - t0 < std::chrono::milliseconds(200)) {
    }
    const std::uint64_t c1 = __rdtsc();
    const double s = std::chrono::duration<double>(clock::now() - t0).count();
    return static_cast<double>(c1 - c0) / s;
}

struct kernel_case {
    const char* name;
    int limbs;
    bool square;
    double products;  // limb products formed per call
};

// Ticks per call of one batch of `calls` calls.
double ticks_per_call(const kernel_case& k, mr_digit* r, const mr_digit* x, const mr_digit* y, int calls) {
    const int w = 2 * k.limbs;
    _mm_lfence();
    const std::uint64_t t0 = __rdtsc();
    for (int i = 0; i < calls; ++i) {
        if (k.square)
            sqr_basecase_vv(r, x, w);
        else
            mul_basecase_vv(r, x, w, y, w);
        // Keeps the calls from being merged or dropped.
        __asm__ volatile("" : : "r"(r) : "memory");
    }
    _mm_lfence();
    return static_cast<double>(__rdtsc() - t0) / calls;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

void report_kernel_cycles() {
    std::vector<kernel_path> paths{kernel_path::portable};
    const kernel_path best = current_kernel_path();
    if (select_kernel_path(kernel_path::bmi2_adx)) paths.push_back(kernel_path::bmi2_adx);
    const double hz = tsc_hz();
    std::printf("basecase kernels: time-stamp counter ticks (rdtsc, a constant reference clock of %.2f GHz,\n"
                "not the core's own cycles) per limb product, 64-bit limbs; median of 101 batches\n\n",
                hz * 1e-9);
    std::printf("%-10s %6s %12s", "kernel", "limbs", "products");
    for (kernel_path p : paths) std::printf("%14s", p == kernel_path::portable ? "portable" : "bmi2/adx");
    std::printf("\n");

    std::mt19937 rng(20261208);
    std::vector<mr_digit> x(64), y(64), r(128);
    for (auto& v : x) v = rng();
    for (auto& v : y) v = rng();
    for (bool square : {false, true}) {
        for (int n : {8, 16, 32}) {
            const kernel_case k{square ? "square" : "product", n, square,
                                square ? n * (n + 1) / 2.0 : static_cast<double>(n) * n};
            // About 20 microseconds per batch.
            const int calls = std::max(4, 40000 / (n * n));
            std::vector<std::vector<double>> samples(paths.size());
            for (int round = 0; round < 101; ++round)
                for (std::size_t p = 0; p < paths.size(); ++p) {
                    select_kernel_path(paths[p]);
                    samples[p].push_back(ticks_per_call(k, r.data(), x.data(), y.data(), calls));
                }
            std::printf("%-10s %6d %12.0f", k.name, n, k.products);
            for (auto& s : samples) std::printf("%14.2f", median(s) / k.products);
            std::printf("\n");
        }
    }
    select_kernel_path(best);
}
