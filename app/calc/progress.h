// How far a long computation has come, for the "Working..." figure.
//
// The engine's long loops (exponent bits, primality trials) and the core's
// own (factorial multipliers, the factors of the five-fold product, the
// fields of a base switch) report "step `done` of `total` begins" together
// with their nesting depth: the core's loops at depth 0, an engine loop at
// the trace depth of its routine. A loop reached from inside a step of a
// shallower one subdivides that step, so the whole is
//     f = d0/t0 + (1/t0) * (d1/t1 + (1/t1) * (d2/t2 + ...))
// over the levels that have reported since the shallower one last did. A
// report at some depth drops every deeper level: the loops it nested
// belonged to the step that has now ended. For loops that nest this way the
// fraction never falls.
#ifndef TORVANE_APP_CALC_PROGRESS_H
#define TORVANE_APP_CALC_PROGRESS_H

#include <atomic>
#include <chrono>

class progress_meter {
public:
    // Wakes the party that shows the figure; called on the computing thread.
    using tick_function = void (*)(void* context);

    // Starts a new computation at 0, with `tick` called on the computing
    // thread after a step whenever `interval` has passed since the start or
    // the last tick.
    void reset(tick_function tick, void* context, std::chrono::steady_clock::duration interval);

    // Step `done` of `total` of a loop at nesting `depth` begins.
    void step(int depth, int done, int total);

    // The computation has ended: the whole is done.
    void finish() { tenths_.store(1000, std::memory_order_relaxed); }

    // The fraction done in tenths of a percent, 0 to 1000; any thread.
    int tenths_of_percent() const { return tenths_.load(std::memory_order_relaxed); }

private:
    static constexpr int max_depth = 32;
    struct level {
        int done;
        int total;  // 0: the level has not reported
    };
    level levels_[max_depth] = {};
    std::atomic<int> tenths_{0};
    tick_function tick_ = nullptr;
    void* tick_context_ = nullptr;
    std::chrono::steady_clock::duration interval_{};
    std::chrono::steady_clock::time_point last_tick_{};
};

#endif
