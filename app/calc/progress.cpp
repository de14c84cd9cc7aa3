#include "progress.h"

void progress_meter::reset(tick_function tick, void* context, std::chrono::steady_clock::duration interval) {
    for (level& l : levels_) l = {0, 0};
    tenths_.store(0, std::memory_order_relaxed);
    tick_ = tick;
    tick_context_ = context;
    interval_ = interval;
    last_tick_ = std::chrono::steady_clock::now();
}

void progress_meter::step(int depth, int done, int total) {
    if (depth < 0 || depth >= max_depth || total <= 0) return;
    levels_[depth] = {done, total};
    for (int d = depth + 1; d < max_depth; ++d) levels_[d] = {0, 0};
    double fraction = 0;
    double scale = 1;
    for (int d = 0; d <= depth; ++d) {
        if (levels_[d].total == 0) continue;
        fraction += scale * levels_[d].done / levels_[d].total;
        scale /= levels_[d].total;
    }
    tenths_.store(static_cast<int>(fraction * 1000), std::memory_order_relaxed);
    if (tick_ == nullptr) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - last_tick_ < interval_) return;
    last_tick_ = now;
    tick_(tick_context_);
}
