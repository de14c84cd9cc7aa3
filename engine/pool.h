// The engine's worker threads: independent pieces of one computation (the
// point products of a large Toom product, the parts of a reduction by
// multiplication, the trials of a primality test) run at once on the
// calling thread and the pool's workers.
//
// The pool only runs tasks. start_pool (parallel.cpp) makes the engine
// instances it computes on and hands them in (pool_start): one for each
// worker and one more that is lent to the calling thread for the tasks it
// takes, so that a task never touches the caller's own instance. Nothing is
// allocated while a run computes.
//
// Runs nest: a task may start a run of its own. Its pieces are published
// like a run from outside, and a thread that has nothing else to do (a
// worker between tasks, or the caller of the outermost run once its own
// tasks are done) takes them while the task's thread takes them too. The
// thread that starts a run never waits for a thread that has not taken one
// of its pieces: it takes every piece left itself and then waits only for
// pieces already being computed, so a run finishes with any number of
// threads, also when none is free to help.
//
// Hand-over: a run publishes its task set and bumps a generation counter;
// a thread that has just finished spins on the counter for a short while
// (pool_spin_microseconds) and only then sleeps on it, so that the runs of
// a long computation, which follow one another by microseconds, reach it
// without a system call.
#ifndef TORVANE_ENGINE_POOL_H
#define TORVANE_ENGINE_POOL_H

#include <cstddef>
#include <cstdint>

#include "engine.h"

// What one thread of a run computes with.
struct pool_executor {
    int index;           // 0: the calling thread; 1 ...: the workers
    mr_state* instance;  // the thread's instance for its tasks (engine_instance)
    // True when the thread helps a run another thread started: its
    // instance's scratch areas are free for the task to claim. False for
    // the thread that started the run, whose tasks use the room that the
    // run's context provides.
    bool helping;
};

// One task: piece `index` of the work described by `context`.
using pool_task = void (*)(void* context, int index, const pool_executor& executor);

// Runs task(context, i, executor) once for every i in [0, count), the
// indexes handed out in order to the calling thread and the threads that
// are free, and returns true when every task has returned. Without a pool,
// or while another thread's outermost run holds it, it runs nothing and
// returns false: the caller then computes on its own, the way it does
// without a pool. From inside a task it starts a nested run (see above;
// false, nothing run, past the deepest nesting kept).
bool pool_run(int count, pool_task task, void* context);

// Whether a run started now from this thread may be spread over more than
// one thread: the pool is on and, outside a task, no other thread's run
// holds it and the pool has not stepped back (pool_set_back_off). The
// parallel paths test it to keep the one-thread code where it cannot help.
bool pool_available();

// Whether the pool steps back to one thread for a while when a worker
// that the starter of a run waited for had been kept off its processor
// (another program busy), and whether chains compare (pool_chain): default
// on, TORVANE_POOL_BACK_OFF=0 at start_pool turns both off, and the tests of
// the parallel paths turn them off so that those paths run however loaded
// or placed the machine is. Turning them off also ends a step back under
// way and forgets the last comparison. pool_stalls counts the runs that
// made it step back.
void pool_set_back_off(bool on);
int pool_stalls();

// Whether the calling thread is computing a task of a run: a run started
// now is a nested one, which threads that are free join.
bool pool_inside_task();

// Whether the calling thread's computations use the pool (default true):
// a benchmark times the engine with and without it in one process.
void pool_use_here(bool on);

// A long chain of like steps that each may run on the pool or on one
// thread: the modular products of a power, the steps of the Lucas ladder.
// Where the pool's threads sit on processors far apart (two core complexes,
// or a virtual machine's processors placed so by its host), data that one
// thread writes and another reads costs several times what it costs nearby,
// and a 65530-bit power's steps on two threads took 1.15 times as long as
// on one: every task ran slower, so no run shows it from inside. The chain
// compares instead: from time to time it times a few steps on the pool and
// as many on one thread, and runs the steps until the next comparison the
// faster way. Made on the chain's thread before its first step (a chain
// whose steps are too short for the pool's paths does nothing), it sets
// pool_use_here for each step in next_step and gives the thread its own
// setting back when it goes. What one chain finds, the next one started
// within the same while takes without timing again. With stepping back
// turned off (pool_set_back_off) every step goes to the pool.
class pool_chain {
public:
    explicit pool_chain(bool long_steps);
    ~pool_chain();
    pool_chain(const pool_chain&) = delete;
    pool_chain& operator=(const pool_chain&) = delete;
    // Before each step.
    void next_step();

private:
    enum class phase : std::uint8_t { chosen, timing_pool, timing_alone };
    bool active_ = false;
    phase phase_ = phase::chosen;
    int left_ = 0;                     // steps left in a timing phase
    std::int64_t phase_start_ = 0;     // steady clock, nanoseconds
    std::int64_t pool_time_ = 0;       // of the steps timed on the pool
    std::int64_t next_comparison_ = 0;
};

// Microseconds a worker spins on the generation counter before it sleeps
// (TORVANE_POOL_SPIN_US at start_pool, default 200; 0 sleeps at once).
int pool_spin_microseconds();

// Makes `instance` the calling thread's engine instance and returns the one
// it had (use_engine): the pool switches a thread to the instance of its
// tasks through it.
using pool_instance_switch = mr_state* (*)(mr_state* instance);

// Starts one worker thread for each of worker_instances[0 .. workers-1],
// which compute on them, and lends `caller` to the calling thread's tasks;
// false (nothing started) when a pool runs already or workers < 1. The
// instances stay the caller's: pool_stop hands them back unused.
bool pool_start(mr_state* caller, mr_state* const* worker_instances, int workers, int spin_microseconds,
                pool_instance_switch switch_instance);

// Stops the workers and ends the pool (no run may be going on); the
// instances given to pool_start are no longer used when it returns.
void pool_stop();

#endif
