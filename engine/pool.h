// The engine's worker threads: independent pieces of one computation (the
// point products of a large Toom product, the trials of a primality test,
// the two powers of an even modulus) run at once on the calling thread and
// the pool's workers.
//
// The pool is started once (start_pool, engine.h) and keeps its threads
// until stop_pool. Each worker computes on an engine instance of its own,
// made on its thread when the pool starts, with the starting instance's
// size; the calling thread gets one more such instance, lent to it for the
// tasks it takes (pool_executor::instance), so that a task never touches
// the caller's own instance. Nothing is allocated while a run computes.
//
// Hand-over: a run publishes its task set and bumps a generation counter;
// a worker that has just finished spins on the counter for a short while
// (pool_spin_microseconds) and only then sleeps on it, so that the runs of
// a long computation, which follow one another by microseconds, reach it
// without a system call. The caller takes tasks too, and spins until the
// last task it did not take has returned.
#ifndef TORVANE_ENGINE_POOL_H
#define TORVANE_ENGINE_POOL_H

#include <cstddef>

#include "engine.h"

// What one thread of a run computes with.
struct pool_executor {
    int index;              // 0: the calling thread; 1 ...: the workers
    mr_state* instance;     // the pool's instance for this thread's tasks
    mr_digit* scratch;      // product scratch of this thread (its instance's
    std::size_t scratch_words;  // area_product); null for the calling thread,
                                // whose tasks use the caller's scratch
};

// One task: piece `index` of the work described by `context`.
using pool_task = void (*)(void* context, int index, const pool_executor& executor);

// Runs task(context, i, executor) once for every i in [0, count), the
// indexes handed out in order to the calling thread and the idle workers,
// and returns true when every task has returned. Without a pool, from
// inside a task, or while another thread's run holds the pool, it runs
// nothing and returns false: the caller then computes on its own, the way
// it does without a pool.
bool pool_run(int count, pool_task task, void* context);

// Whether a run started now from this thread would be spread over more than
// one thread: the pool is on and this thread is not inside a task. The
// parallel paths test it to keep the one-thread code where it cannot help.
bool pool_available();

// Whether the calling thread's computations use the pool (default true):
// a benchmark times the engine with and without it in one process.
void pool_use_here(bool on);

// Microseconds a worker spins on the generation counter before it sleeps
// (TORVANE_POOL_SPIN_US at start_pool, default 200; 0 sleeps at once).
int pool_spin_microseconds();

#endif
