// torvane-tune-products: measures on this machine the operand lengths at
// which Karatsuba overtakes the schoolbook product, Toom-3 overtakes
// Karatsuba, Toom-4 overtakes Toom-3 and Toom-8 overtakes the method the
// dispatch takes below it, for products of two different
// numbers and for squares, and the length n of the shorter factor from
// which Toom-4/2 overtakes the product in pieces and Toom-8/4 overtakes
// Toom-4/2 when the longer has 2n words. It prints the constants to put into engine/thresholds.h.
//
// For each length n (in 32-bit words) it times the two methods on the same
// random n-word operands, taking turns, and keeps the median of many runs of
// each. Each method runs once at the top and hands its pieces to the
// dispatch, which uses the constants built in: tune the Karatsuba
// thresholds first, build, then read the Toom-3 ones, then Toom-4's and
// Toom-4/2's (--methods picks the scans). A threshold is the
// first length from which the faster method wins at that length and the
// next three, and at four lengths in five to the end of the scan, so that
// a lucky timing in a flat region does not move it.
//
//     torvane-tune-products [--runs N] [--methods karatsuba,toom3,toom4,toom42,toom8,toom84]
//                           [--range LO:HI:STEP]
//                                          (default 41 runs, every scan)
//
// --range replaces the lengths of every scan chosen (for a closer look at
// a threshold, e.g. --methods karatsuba --range 30:40:1).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "kernels.h"
#include "products.h"
#include "thresholds.h"

namespace {

using method = std::function<void()>;

double seconds_now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Median time per call of each of the two methods, interleaved.
std::pair<double, double> race(const method& a, const method& b, int runs) {
    // Calls per timing: enough for about 50 microseconds.
    int calls = 1;
    for (;;) {
        const double t0 = seconds_now();
        for (int i = 0; i < calls; ++i) a();
        if (seconds_now() - t0 > 5e-5 || calls > (1 << 20)) break;
        calls *= 2;
    }
    std::vector<double> ta, tb;
    for (int r = 0; r < runs; ++r) {
        double t0 = seconds_now();
        for (int i = 0; i < calls; ++i) a();
        ta.push_back((seconds_now() - t0) / calls);
        t0 = seconds_now();
        for (int i = 0; i < calls; ++i) b();
        tb.push_back((seconds_now() - t0) / calls);
    }
    std::nth_element(ta.begin(), ta.begin() + runs / 2, ta.end());
    std::nth_element(tb.begin(), tb.begin() + runs / 2, tb.end());
    return {ta[static_cast<std::size_t>(runs / 2)], tb[static_cast<std::size_t>(runs / 2)]};
}

struct buffers {
    std::vector<mr_digit> a, b, r, scratch;
    explicit buffers(int max_words) {
        std::mt19937 rng(12345);
        a.resize(static_cast<std::size_t>(max_words));
        b.resize(static_cast<std::size_t>(max_words));
        for (auto& w : a) w = rng();
        for (auto& w : b) w = rng();
        r.resize(2 * static_cast<std::size_t>(max_words) + 8);
        scratch.resize(16 * static_cast<std::size_t>(max_words) + 1024);
    }
};

// Scans lengths lo..hi in steps; returns the first length from which `fast`
// beats `slow` at this and the next `confirm` lengths scanned.
// The lengths of --range, where given, replace the scan's own.
int range_lo = 0, range_hi = 0, range_step = 0;

int crossover(const char* what, int lo, int hi, int step, int runs,
              const std::function<std::pair<method, method>(int)>& methods) {
    const int confirm = 3;
    if (range_step > 0) {
        lo = range_lo;
        hi = range_hi;
        step = range_step;
    }
    std::vector<int> lengths;
    std::vector<bool> wins;
    std::printf("%s\n  words   slower method   faster method   ratio\n", what);
    for (int n = lo; n <= hi; n += step) {
        auto [slow, fast] = methods(n);
        auto [ts, tf] = race(slow, fast, runs);
        std::printf("  %5d %13.3f us %13.3f us   %.3f\n", n, ts * 1e6, tf * 1e6, tf / ts);
        lengths.push_back(n);
        wins.push_back(tf < ts);
    }
    // The first length that wins itself, together with the next `confirm`,
    // and from which the faster method wins at least four lengths in five
    // up to the end of the scan.
    for (std::size_t i = 0; i < lengths.size(); ++i) {
        bool all = true;
        for (std::size_t k = i; k < std::min(lengths.size(), i + confirm + 1); ++k) all = all && wins[k];
        std::size_t won = 0;
        for (std::size_t k = i; k < lengths.size(); ++k) won += wins[k] ? 1 : 0;
        if (all && 5 * won >= 4 * (lengths.size() - i)) return lengths[i];
    }
    return hi + step;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 41;
    std::string scans = "karatsuba,toom3,toom4,toom42";
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) {
            runs = std::max(3, std::atoi(argv[++i]));
        } else if (!std::strcmp(argv[i], "--methods") && i + 1 < argc) {
            scans = argv[++i];
        } else if (!std::strcmp(argv[i], "--range") && i + 1 < argc &&
                   std::sscanf(argv[i + 1], "%d:%d:%d", &range_lo, &range_hi, &range_step) == 3 && range_lo >= 1 &&
                   range_hi >= range_lo && range_hi <= 2048 && range_step >= 1) {
            ++i;
        } else {
            std::fprintf(stderr, "usage: torvane-tune-products [--runs N] [--methods karatsuba,toom3,toom4,toom42,toom8,toom84]"
                                 " [--range LO:HI:STEP]\n");
            return 2;
        }
    }
    scans = "," + scans + ",";
    const auto scan = [&](const char* name) { return scans.find(std::string(",") + name + ",") != std::string::npos; };
    std::printf("kernels: %s\n\n",
                current_kernel_path() == kernel_path::bmi2_adx ? "BMI2/ADX" : "portable");
    buffers m(4096);
    mr_digit* a = m.a.data();
    mr_digit* b = m.b.data();
    mr_digit* r = m.r.data();
    mr_digit* s = m.scratch.data();

    int kp = 0, ks = 0, tp = 0, ts = 0, fp = 0, fs = 0, up = 0, ep = 0, es = 0, uh = 0;
    if (scan("karatsuba")) {
        kp = crossover("product: schoolbook -> Karatsuba", 8, 160, 4, runs, [&](int n) {
            return std::pair<method, method>{[=] { schoolbook_product(r, a, n, b, n); },
                                             [=] { karatsuba_product(r, a, n, b, n, s); }};
        });
        ks = crossover("square: schoolbook -> Karatsuba", 8, 192, 4, runs, [&](int n) {
            return std::pair<method, method>{[=] { schoolbook_square(r, a, n); },
                                             [=] { karatsuba_square(r, a, n, s); }};
        });
    }
    if (scan("toom3")) {
        tp = crossover("product: Karatsuba -> Toom-3", 64, 1024, 32, runs, [&](int n) {
            return std::pair<method, method>{[=] { karatsuba_product(r, a, n, b, n, s); },
                                             [=] { toom3_product(r, a, n, b, n, s); }};
        });
        ts = crossover("square: Karatsuba -> Toom-3", 64, 1024, 32, runs, [&](int n) {
            return std::pair<method, method>{[=] { karatsuba_square(r, a, n, s); },
                                             [=] { toom3_square(r, a, n, s); }};
        });
    }
    if (scan("toom4")) {
        fp = crossover("product: Toom-3 -> Toom-4", 160, 2048, 32, runs, [&](int n) {
            return std::pair<method, method>{[=] { toom3_product(r, a, n, b, n, s); },
                                             [=] { toom4_product(r, a, n, b, n, s); }};
        });
        fs = crossover("square: Toom-3 -> Toom-4", 160, 2048, 32, runs, [&](int n) {
            return std::pair<method, method>{[=] { toom3_square(r, a, n, s); },
                                             [=] { toom4_square(r, a, n, s); }};
        });
    }
    if (scan("toom42")) {
        // The shorter factor's length n against a longer one of 2n words.
        up = crossover("product of 2n by n words: pieces -> Toom-4/2", 48, 1024, 16, runs, [&](int n) {
            return std::pair<method, method>{[=] { pieces_product(r, a, 2 * n, b, n, s); },
                                             [=] { toom42_product(r, a, 2 * n, b, n, s); }};
        });
    }
    if (scan("toom8")) {
        // Against the method the dispatch takes there without Toom-8.
        const auto below_product = [=](int n) -> method {
            if (n >= product_toom4_threshold) return [=] { toom4_product(r, a, n, b, n, s); };
            if (n >= product_toom3_threshold && (n < toom3_gap_from || n >= toom3_gap_to))
                return [=] { toom3_product(r, a, n, b, n, s); };
            return [=] { karatsuba_product(r, a, n, b, n, s); };
        };
        const auto below_square = [=](int n) -> method {
            if (n >= square_toom4_threshold && (n < square_toom4_limit || n >= square_toom4_resume))
                return [=] { toom4_square(r, a, n, s); };
            if (n >= square_toom3_threshold && (n < toom3_gap_from || n >= toom3_gap_to))
                return [=] { toom3_square(r, a, n, s); };
            return [=] { karatsuba_square(r, a, n, s); };
        };
        ep = crossover("product: Toom-3 or -4 -> Toom-8", 512, 2048, 32, runs, [&](int n) {
            return std::pair<method, method>{below_product(n), [=] { toom8_product(r, a, n, b, n, s); }};
        });
        es = crossover("square: Toom-3 or -4 -> Toom-8", 512, 2048, 32, runs, [&](int n) {
            return std::pair<method, method>{below_square(n), [=] { toom8_square(r, a, n, s); }};
        });
    }
    if (scan("toom84")) {
        // The shorter factor's length n against a longer one of 2n words.
        uh = crossover("product of 2n by n words: Toom-4/2 -> Toom-8/4", 64, 1024, 32, runs, [&](int n) {
            return std::pair<method, method>{[=] { toom42_product(r, a, 2 * n, b, n, s); },
                                             [=] { toom84_product(r, a, 2 * n, b, n, s); }};
        });
    }
    std::printf("\nmeasured (built in now; 0: not scanned):\n");
    std::printf("constexpr int product_karatsuba_threshold = %d;  // %d\n", kp, product_karatsuba_threshold);
    std::printf("constexpr int product_toom3_threshold = %d;  // %d\n", tp, product_toom3_threshold);
    std::printf("constexpr int square_karatsuba_threshold = %d;  // %d\n", ks, square_karatsuba_threshold);
    std::printf("constexpr int square_toom3_threshold = %d;  // %d\n", ts, square_toom3_threshold);
    std::printf("constexpr int product_toom4_threshold = %d;  // %d\n", fp, product_toom4_threshold);
    std::printf("constexpr int square_toom4_threshold = %d;  // %d\n", fs, square_toom4_threshold);
    std::printf("constexpr int product_toom42_threshold = %d;  // %d\n", up, product_toom42_threshold);
    std::printf("constexpr int product_toom8_threshold = %d;  // %d\n", ep, product_toom8_threshold);
    std::printf("constexpr int square_toom8_threshold = %d;  // %d\n", es, square_toom8_threshold);
    std::printf("constexpr int product_toom84_threshold = %d;  // %d\n", uh, product_toom84_threshold);
    return 0;
}
