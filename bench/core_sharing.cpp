// torvane-bench --cores: what more processors give on this machine,
// whatever the engine's pool makes of them. Two figures bound the pool's
// speed-up from outside its code:
//
//  1. Throughput. A 2048-word (65530-bit) square, the engine's own routine
//     on one thread with no pool, timed on one thread alone and then on
//     every processor at once, each thread with operands and scratch of its
//     own. All at once against alone, in calls per second, is the most any
//     split of one computation over the processors can give: processors
//     that share a core, or a host that runs other work on the same core,
//     give less than their number.
//  2. Hand-over. Ticks (rdtsc) per 64-byte line for a thread to read a
//     16 KB block that another processor wrote last, and then to write it,
//     against the same for a block the thread wrote itself: what it costs
//     when a point's value computed on one processor is used on another.
//
// The two measurements take turns, alone and at once, three rounds each,
// and each figure is the median over them.
#include <x86intrin.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>

#include "bench_case.h"
#include "engine.h"
#include "products.h"

namespace {

using clock_type = std::chrono::steady_clock;

constexpr int square_words = 2048;

double median(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
    return v[v.size() / 2];
}

// Seconds per square on this thread for about `seconds`, from when `go` is
// set; the median of batches of 20.
double square_time(double seconds, const std::atomic<bool>& go) {
    mirsys(2 * 16384 + 16, 16);  // an instance of this thread's own, as the calculator's threads have
    std::mt19937 rng(static_cast<unsigned>(std::hash<std::thread::id>{}(std::this_thread::get_id())));
    std::vector<mr_digit> a(square_words), r(2 * square_words + 8), scratch(square_scratch_words(square_words));
    for (auto& w : a) w = rng();
    while (!go.load(std::memory_order_acquire)) {
    }
    std::vector<double> batch;
    const auto end = clock_type::now() + std::chrono::duration<double>(seconds);
    while (clock_type::now() < end) {
        const auto t0 = clock_type::now();
        for (int i = 0; i < 20; ++i) square_vv(r.data(), a.data(), square_words, scratch.data());
        batch.push_back(std::chrono::duration<double>(clock_type::now() - t0).count() / 20);
    }
    release_engine();
    return median(batch);
}

// Seconds per square on each of `threads` threads running at once.
std::vector<double> squares_at_once(int threads, double seconds) {
    std::atomic<bool> go{false};
    std::vector<double> result(static_cast<std::size_t>(threads));
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&, t] { result[static_cast<std::size_t>(t)] = square_time(seconds, go); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    go.store(true, std::memory_order_release);
    for (auto& t : pool) t.join();
    return result;
}

// The hand-over: thread 0 writes a block, thread 1 reads it and writes it,
// in turns; `rounds` times. Returns ticks per line for thread 1's read and
// write, and for the same on one thread over a block it wrote itself.
struct handover_ticks {
    double remote_read, remote_write, local_read, local_write;
};

handover_ticks handover(int rounds) {
    constexpr int limbs = 16384 / 8;
    constexpr double lines = 16384.0 / 64;
    std::vector<std::uint64_t> block(limbs);
    std::atomic<int> turn{0};
    std::vector<double> reads, writes;
    std::uint64_t sum = 0;
    std::thread writer([&] {
        for (int r = 0; r < rounds; ++r) {
            while (turn.load(std::memory_order_acquire) != 0) {
            }
            for (int i = 0; i < limbs; ++i) block[static_cast<std::size_t>(i)] += static_cast<std::uint64_t>(r);
            turn.store(1, std::memory_order_release);
        }
    });
    for (int r = 0; r < rounds; ++r) {
        while (turn.load(std::memory_order_acquire) != 1) {
        }
        const std::uint64_t t0 = __rdtsc();
        for (int i = 0; i < limbs; ++i) sum += block[static_cast<std::size_t>(i)];
        const std::uint64_t t1 = __rdtsc();
        for (int i = 0; i < limbs; ++i) block[static_cast<std::size_t>(i)] ^= sum;
        const std::uint64_t t2 = __rdtsc();
        reads.push_back(static_cast<double>(t1 - t0) / lines);
        writes.push_back(static_cast<double>(t2 - t1) / lines);
        turn.store(0, std::memory_order_release);
    }
    writer.join();
    std::vector<double> local_reads, local_writes;
    for (int r = 0; r < rounds; ++r) {
        for (int i = 0; i < limbs; ++i) block[static_cast<std::size_t>(i)] += static_cast<std::uint64_t>(r);
        const std::uint64_t t0 = __rdtsc();
        for (int i = 0; i < limbs; ++i) sum += block[static_cast<std::size_t>(i)];
        const std::uint64_t t1 = __rdtsc();
        for (int i = 0; i < limbs; ++i) block[static_cast<std::size_t>(i)] ^= sum;
        const std::uint64_t t2 = __rdtsc();
        local_reads.push_back(static_cast<double>(t1 - t0) / lines);
        local_writes.push_back(static_cast<double>(t2 - t1) / lines);
    }
    if (sum == 42) std::puts("");  // keeps the sums
    return {median(reads), median(writes), median(local_reads), median(local_writes)};
}

}  // namespace

void report_core_sharing() {
    const int processors = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    std::vector<double> alone, together, remote_read, remote_write, local_read, local_write;
    for (int round = 0; round < 3; ++round) {
        alone.push_back(squares_at_once(1, 1.0)[0]);
        const std::vector<double> each = squares_at_once(processors, 1.0);
        double calls_per_second = 0;
        for (double t : each) calls_per_second += 1 / t;
        together.push_back(calls_per_second);
        if (processors > 1) {
            const handover_ticks h = handover(4000);
            remote_read.push_back(h.remote_read);
            remote_write.push_back(h.remote_write);
            local_read.push_back(h.local_read);
            local_write.push_back(h.local_write);
        }
    }
    const double one = median(alone);
    const double all = median(together);
    std::printf("torvane-bench --cores: %d processors\n\n", processors);
    std::printf("square of %d words (65530 bits), one thread:   %.1f us a call\n", square_words, one * 1e6);
    std::printf("all %d processors at once, each its own square: %.2f times one thread's calls per second\n",
                processors, all * one);
    if (processors > 1)
        std::printf(
            "\n16 KB block written by another processor:  read %.1f, then write %.1f ticks a 64-byte line\n"
            "16 KB block written by this thread:        read %.1f, then write %.1f ticks a 64-byte line\n",
            median(remote_read), median(remote_write), median(local_read), median(local_write));
}
