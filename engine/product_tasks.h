// The products' top Toom levels on the worker pool (product_tasks.cpp), for
// start_pool to install (install_pool_levels, products.h).
#ifndef TORVANE_ENGINE_PRODUCT_TASKS_H
#define TORVANE_ENGINE_PRODUCT_TASKS_H

#include <cstddef>

#include "engine.h"
#include "products.h"

extern const pool_levels product_pool_levels;

// Tasks that run in the same pool run as a Toom-8 product's points, before
// them: task(context, i, room) for i in [0, count), each on room_words of
// scratch of the thread that takes it.
struct pool_side_tasks {
    int count;
    void (*task)(void* context, int index, mr_digit* room);
    void* context;
    std::size_t room_words;
};

// r[0 .. 2m-1] = a * b for a, b of m words (m >= 64, not 16i + 1), with
// b's Toom-8 points made once (toom8_make_points for m words): the point
// products on the pool, each evaluating only a, beside `side`'s tasks,
// then the interpolation. The values and the starting thread's room in
// scratch (at least pool_toom8_kept_words(m) words, and the side tasks'
// room after the values). False, nothing done, where the pool does not
// take it or a room is too small.
std::size_t pool_toom8_kept_words(int m);
bool pool_toom8_kept(mr_digit* r, const mr_digit* a, const mr_digit* b, int m, const mr_digit* points,
                     const pool_side_tasks& side, mr_digit* scratch, std::size_t scratch_size);

#endif
