// The engine's worker threads (pool.h).
//
// A run is one record on its starter's stack: the task, its context, the
// number of tasks, the next index to hand out and the number finished. The
// starter publishes it in a slot of `jobs` and bumps `generation`; each
// thread, the starter included, takes indexes with one atomic add until
// none is left. The starter then waits for the tasks others took, withdraws
// the record and, before its stack frame goes, waits until no thread is
// still between reading the slot and leaving it (the slot's `entering`
// count, the two sides in sequentially consistent order: a thread that
// counted itself in before the starter looked is waited for, one that
// counted itself in later finds the slot empty).
//
// Slots: 0 holds the outermost run (one at a time, `busy`); slots 1 + i *
// max_nesting + d the nested runs that thread i (0 the caller, 1 ... the
// workers) has open, d = 0 for the first. A thread opens nested runs only
// inside a task and does not help others while it waits for one, so its
// open runs form a stack: a task of its run d, which it takes itself, may
// open run d + 1 (a Toom point whose top Karatsuba level runs its three
// products at once). Deeper than max_nesting, a run is not published: the
// task computes on its own.
//
// Who helps: a worker between tasks scans the slots, the outermost run's
// first; the caller of the outermost run, once its own tasks are done, takes
// pieces of the nested runs while it waits for the rest of its run. Neither
// is inside a task then, so their instance's scratch is free for what they
// take. A thread waits only for tasks that another thread has taken and is
// computing, and those are nested deeper than the waiting thread's own, so
// no thread waits for itself through others.
//
// Threads that find no new generation spin for a while and then sleep until
// it changes (wake_channel below); a starter wakes them only when one
// sleeps, so the hand-over of back-to-back runs costs no system call.
//
// Stepping back: when another program keeps the processors busy, the
// system shares one between it and a worker, and a worker that took a task
// may lose its processor for a whole time slice (milliseconds) while the
// starter, its own tasks done, waits for that task. A 65530-bit product
// then took twice its one-thread time. So the starter of an outermost run
// (and of each nested run, whose starter waits inside a task of the outer
// one) times its own tasks and the time it then waited idle; when it waited
// more than twice as long as it worked (and a millisecond or more), a
// worker was kept off its processor, and pool_available says no for a
// while: the parallel paths compute on one thread as without a pool. The
// while starts at 10 ms and doubles with each stall in a row up to 1.28 s,
// so that under steady load one run in a second or more pays a stall; an
// outermost run without one starts it afresh.
#include "pool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#ifdef __linux__
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// Sleeping until a condition on atomic counters holds, on a mutex and a
// condition variable. The changing side stores the new value first and then
// calls notify, which passes through the mutex: a sleeper either tested the
// condition before that and is woken, or tests it after and sees the
// change. (The standard library's atomic wait, outside Linux, lost such
// wake-ups: a pool built with mingw-w64 slept for good under Wine.)
struct wake_channel {
    std::mutex mutex;
    std::condition_variable changed;

    template <class Ready>
    void wait_until(Ready ready) {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, ready);
    }
    void notify() {
        { const std::lock_guard<std::mutex> lock(mutex); }
        changed.notify_all();
    }
};

// Never destroyed: a process that exits during a run leaves its workers
// asleep on them while the static objects go.
wake_channel& generation_channel = *new wake_channel;  // threads waiting for a new run
wake_channel& ready_channel = *new wake_channel;       // pool_start waiting on `ready`
wake_channel& finished_channel = *new wake_channel;    // starters of nested runs waiting on `finished`

struct pool_job {
    pool_task task;
    void* context;
    int count;
    std::atomic<int> next{0};
    std::atomic<int> finished{0};
    std::atomic<bool> starter_sleeping{false};  // the starter waits on `finished`
    wake_channel* channel;                      // where the starter sleeps
};

// The largest number of threads a pool may have.
constexpr int max_pool_threads = 64;
// Nested runs a thread may have open at once.
constexpr int max_nesting = 6;
constexpr int slot_count = 1 + max_pool_threads * max_nesting;

std::mutex start_mutex;  // pool_start and pool_stop
// Made by pool_start and freed by pool_stop. A process that ends without
// pool_stop (exit() on an error) leaves it alone: destroying the threads of
// a running pool would end the process with std::terminate instead.
std::vector<std::thread>* workers = nullptr;
mr_state* caller_instance = nullptr;  // lent to the calling thread for its tasks
pool_instance_switch use_instance = nullptr;
int worker_count = 0;
int spin_microseconds = 200;
// The spin of a starter whose tasks are taken before it sleeps until they
// are done.
constexpr int starter_spin_microseconds = 50;

std::atomic<bool> pool_on{false};
std::atomic<bool> stopping{false};
std::atomic<pool_job*> jobs[slot_count];
std::atomic<int> entering[slot_count];
std::atomic<unsigned> generation{0};
std::atomic<int> sleeping{0};
std::atomic<int> ready{0};
std::atomic_flag busy = ATOMIC_FLAG_INIT;  // held by the thread whose run is the outermost

using clock_type = std::chrono::steady_clock;

// A worker that loses its processor loses it for a time slice, a
// millisecond or more; pieces of unequal size (the reduction's, a prime
// test's) leave the starter idle for less than that at the calculator's
// sizes, or for so long that a step back costs nothing.
constexpr auto stall_floor = std::chrono::milliseconds(1);
constexpr std::int64_t back_off_first_ns = 10'000'000;
constexpr std::int64_t back_off_most_ns = 1'280'000'000;
std::atomic<bool> back_off_on{true};
// Until when (steady clock, nanoseconds since its epoch; 0 none) the
// parallel paths keep to one thread.
std::atomic<std::int64_t> one_thread_until{0};
std::atomic<int> stalls_seen{0};
// The next step back's length, in nanoseconds.
std::atomic<std::int64_t> back_off_ns{back_off_first_ns};
// The last chain comparison's outcome (pool_chain), for chains that start
// while it holds.
std::atomic<std::int64_t> chain_verdict_until{0};
std::atomic<bool> chain_verdict_pool{true};

// The calling thread's part in the pool, one record so that a function
// reaches it by one thread-local access: where thread-locals are emulated
// (mingw-w64) each access is a call, and the product dispatch asks the pool
// at every large level.
struct thread_part {
    bool inside_task = false;
    bool use_here = true;
    int index = 0;                 // 0: any thread outside the pool; i: worker i
    int nesting = 0;               // nested runs this thread has open
    mr_state* instance = nullptr;  // the instance of this thread's tasks
};
constinit thread_local thread_part this_thread;

inline void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
}

// Takes indexes of `job` until none is left; the tasks run on `executor`.
// True when it took one.
bool take_tasks(pool_job* job, const pool_executor& executor) {
    bool took = false;
    for (int i = job->next.fetch_add(1, std::memory_order_relaxed); i < job->count;
         i = job->next.fetch_add(1, std::memory_order_relaxed)) {
        took = true;
        job->task(job->context, i, executor);
        job->finished.fetch_add(1, std::memory_order_seq_cst);
        if (job->starter_sleeping.load(std::memory_order_seq_cst)) job->channel->notify();
    }
    return took;
}

// Takes the tasks left in slots [first, last] in turn, counted in as the
// slot's `entering`; true when it took one.
bool help(int first, int last, const pool_executor& executor) {
    bool took = false;
    for (int slot = first; slot <= last; ++slot) {
        if (jobs[slot].load(std::memory_order_relaxed) == nullptr) continue;
        entering[slot].fetch_add(1, std::memory_order_seq_cst);
        if (pool_job* job = jobs[slot].load(std::memory_order_seq_cst); job != nullptr)
            took = take_tasks(job, executor) || took;
        entering[slot].fetch_sub(1, std::memory_order_seq_cst);
    }
    return took;
}

std::int64_t ticks(clock_type::time_point t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

// Whether the parallel paths keep to one thread now (see "Stepping back").
bool stepped_back() {
    const std::int64_t until = one_thread_until.load(std::memory_order_relaxed);
    return until != 0 && ticks(clock_type::now()) < until;
}

// The end of a run that took `worked` of its starter's own tasks and then
// `idle` waiting for tasks that other threads had taken. A nested run's
// starter waits inside a task of the outer run, so both kinds are judged;
// only an outermost run without a stall starts the steps back afresh.
void judge_run(clock_type::time_point end, clock_type::duration worked, clock_type::duration idle, bool outermost) {
    if (!back_off_on.load(std::memory_order_relaxed)) return;
    if (idle <= 2 * worked || idle <= stall_floor) {
        if (outermost) back_off_ns.store(back_off_first_ns, std::memory_order_relaxed);
        return;
    }
    stalls_seen.fetch_add(1, std::memory_order_relaxed);
    const std::int64_t length = back_off_ns.load(std::memory_order_relaxed);
    one_thread_until.store(ticks(end) + length, std::memory_order_relaxed);
    back_off_ns.store(std::min(2 * length, back_off_most_ns), std::memory_order_relaxed);
}

// Whether other programs hold the processors the pool would use: every
// 20 ms one thread reads how many threads the system is running
// (/proc/loadavg's fourth field, where there is one) and takes away the
// pool's own that are not asleep. When more run than the processors left
// beside the pool's threads, a worker would share a processor with them,
// so the parallel paths keep to one thread until the next reading. (Two
// threads and one busy program on two processors made a 65530-bit square
// 1.3 to 4 times slower than one thread, mostly with no stall to see:
// the calling thread itself lost its processor to the spinning worker or
// the program.)
constexpr std::int64_t load_reading_ns = 20'000'000;
std::atomic<std::int64_t> next_load_reading{0};
std::atomic<bool> processors_taken{false};

int running_threads() {
#ifdef __linux__
    const int fd = ::open("/proc/loadavg", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    char text[128];
    const ssize_t got = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (got <= 0) return -1;
    text[got] = '\0';
    // "1.00 0.50 0.25 RUNNING/TOTAL LAST": the number after the third blank.
    const char* c = text;
    for (int blanks = 0; *c != '\0' && blanks < 3; ++c)
        if (*c == ' ') ++blanks;
    int running = 0;
    bool digits = false;
    for (; *c >= '0' && *c <= '9'; ++c, digits = true) running = running * 10 + (*c - '0');
    return digits && *c == '/' ? running : -1;
#else
    return -1;
#endif
}

bool others_hold_processors() {
    if (!back_off_on.load(std::memory_order_relaxed)) return false;
    const std::int64_t now = ticks(clock_type::now());
    std::int64_t due = next_load_reading.load(std::memory_order_relaxed);
    if (now >= due && next_load_reading.compare_exchange_strong(due, now + load_reading_ns)) {
        const int running = running_threads();
        const int ours = worker_count + 1 - sleeping.load(std::memory_order_relaxed);
        const int processors = static_cast<int>(std::thread::hardware_concurrency());
        const int spare = std::max(0, processors - (worker_count + 1));
        processors_taken.store(running >= 0 && processors > 0 && running - ours > spare, std::memory_order_relaxed);
    }
    return processors_taken.load(std::memory_order_relaxed);
}

// The slots in use: the outermost run's and the nested runs of each thread.
int last_slot() { return (worker_count + 1) * max_nesting; }

// Publishes `job` in `slot` and wakes the threads that sleep.
void publish(int slot, pool_job* job) {
    jobs[slot].store(job, std::memory_order_seq_cst);
    generation.fetch_add(1, std::memory_order_seq_cst);
    if (sleeping.load(std::memory_order_seq_cst) > 0) generation_channel.notify();
}

// Withdraws the job of `slot` once no thread is on its way into it.
void withdraw(int slot) {
    jobs[slot].store(nullptr, std::memory_order_seq_cst);
    while (entering[slot].load(std::memory_order_seq_cst) != 0) cpu_relax();
}

void worker_main(int index, mr_state* s) {
    thread_part& me = this_thread;
    me.inside_task = true;  // a worker's tasks start nested runs only
    me.index = index;
    me.instance = s;
    use_instance(s);
    const pool_executor executor{index, s, true};
    unsigned seen = generation.load(std::memory_order_acquire);
    ready.fetch_add(1, std::memory_order_release);
    ready_channel.notify();
    for (;;) {
        if (generation.load(std::memory_order_acquire) == seen) {
            const auto until = clock_type::now() + std::chrono::microseconds(spin_microseconds);
            for (int spins = 0; generation.load(std::memory_order_acquire) == seen; ++spins) {
                if ((spins & 63) == 63 && clock_type::now() >= until) {
                    sleeping.fetch_add(1, std::memory_order_seq_cst);
                    generation_channel.wait_until(
                        [&] { return generation.load(std::memory_order_seq_cst) != seen; });
                    sleeping.fetch_sub(1, std::memory_order_seq_cst);
                } else {
                    cpu_relax();
                }
            }
        }
        seen = generation.load(std::memory_order_acquire);
        if (stopping.load(std::memory_order_acquire)) break;
        // Until a scan finds nothing: a run published while this thread
        // computed has bumped the generation past `seen` as well.
        while (help(0, last_slot(), executor)) {
        }
    }
    use_instance(nullptr);
}

// A nested run from inside a task on this thread: published in the
// thread's next slot; the thread takes tasks like the others and then waits
// for those taken, spinning a little and then sleeping.
bool nested_run(int count, pool_task task, void* context) {
    thread_part& me = this_thread;
    if (me.nesting >= max_nesting) return false;
    const int slot = 1 + me.index * max_nesting + me.nesting;
    ++me.nesting;
    pool_job job;
    job.task = task;
    job.context = context;
    job.count = count;
    job.channel = &finished_channel;
    const auto started = clock_type::now();
    publish(slot, &job);
    take_tasks(&job, pool_executor{me.index, me.instance, false});
    const auto worked_until = clock_type::now();
    const auto until = worked_until + std::chrono::microseconds(starter_spin_microseconds);
    for (int spins = 0;; ++spins) {
        const int done = job.finished.load(std::memory_order_seq_cst);
        if (done >= count) break;
        if ((spins & 63) == 63 && clock_type::now() >= until) {
            job.starter_sleeping.store(true, std::memory_order_seq_cst);
            finished_channel.wait_until([&] { return job.finished.load(std::memory_order_seq_cst) != done; });
        } else {
            cpu_relax();
        }
    }
    const auto ended = clock_type::now();
    judge_run(ended, worked_until - started, ended - worked_until, false);
    withdraw(slot);
    --me.nesting;
    return true;
}

}  // namespace

bool pool_start(mr_state* caller, mr_state* const* worker_instances, int count, int spin,
                pool_instance_switch switch_instance) {
    const std::lock_guard<std::mutex> lock(start_mutex);
    if (pool_on.load(std::memory_order_acquire) || count < 1 || caller == nullptr) return false;
    use_instance = switch_instance;
    count = std::min(count, max_pool_threads - 1);
    spin_microseconds = std::max(0, spin);
    caller_instance = caller;
    worker_count = count;
    stopping.store(false, std::memory_order_relaxed);
    ready.store(0, std::memory_order_relaxed);
    workers = new std::vector<std::thread>;
    workers->reserve(static_cast<std::size_t>(count));
    for (int k = 1; k <= count; ++k) workers->emplace_back(worker_main, k, worker_instances[k - 1]);
    for (int r = ready.load(std::memory_order_acquire); r < count; r = ready.load(std::memory_order_acquire))
        ready_channel.wait_until([&] { return ready.load(std::memory_order_acquire) != r; });
    pool_on.store(true, std::memory_order_release);
    return true;
}

void pool_stop() {
    const std::lock_guard<std::mutex> lock(start_mutex);
    if (!pool_on.load(std::memory_order_acquire)) return;
    // No run may be going on: take the pool as a run would, for good.
    while (busy.test_and_set(std::memory_order_acquire)) std::this_thread::yield();
    pool_on.store(false, std::memory_order_release);
    stopping.store(true, std::memory_order_release);
    generation.fetch_add(1, std::memory_order_seq_cst);
    generation_channel.notify();
    for (auto& t : *workers) t.join();
    delete workers;
    workers = nullptr;
    worker_count = 0;
    caller_instance = nullptr;
    busy.clear(std::memory_order_release);
}

int pool_spin_microseconds() { return spin_microseconds; }

void pool_use_here(bool on) { this_thread.use_here = on; }

// The pool's global state is read first: without a pool no thread-local is.
bool pool_available() {
    if (!pool_on.load(std::memory_order_acquire)) return false;
    const thread_part& me = this_thread;
    if (!me.use_here) return false;
    if (me.inside_task) return true;
    return !busy.test(std::memory_order_relaxed) && !stepped_back() && !others_hold_processors();
}

void pool_set_back_off(bool on) {
    back_off_on.store(on, std::memory_order_relaxed);
    if (!on) {
        one_thread_until.store(0, std::memory_order_relaxed);
        processors_taken.store(false, std::memory_order_relaxed);
        chain_verdict_until.store(0, std::memory_order_relaxed);
    }
}

int pool_stalls() { return stalls_seen.load(std::memory_order_relaxed); }

bool pool_inside_task() {
    if (!pool_on.load(std::memory_order_acquire)) return false;
    const thread_part& me = this_thread;
    return me.use_here && me.inside_task;
}

// ---- Chains -----------------------------------------------------------------

namespace {

// Steps timed each way in a comparison. A step of the calculator's longest
// chains takes 60 to 250 us, so a comparison takes a few milliseconds; at
// 16 steps a power's mix of squares and products differs little between
// the two sides.
constexpr int chain_timed_steps = 16;
// The while a comparison holds. The placement of a virtual machine's
// processors changed over seconds to minutes, so comparing twice a second
// catches it, and the 16 steps on the slower way then cost about 0.2% of
// a chain.
constexpr std::int64_t chain_comparison_ns = 500'000'000;
// One thread is chosen only when it is this much faster (percent), so that
// a chain whose steps take about as long either way keeps to the pool and
// gains as soon as a thread is free. Where no thread is free (the other
// threads busy with tasks of their own) the pool's paths computed on the
// one thread cost more: a 65530-bit strong test beside another took 12%
// longer on them, so such a chain goes to one thread until a comparison
// finds a thread free again.
constexpr std::int64_t chain_alone_margin_percent = 5;

}  // namespace

pool_chain::pool_chain(bool long_steps) {
    // Without stepping back (pool_set_back_off) the pool takes every step,
    // as the tests of the parallel paths need.
    if (!long_steps || !pool_on.load(std::memory_order_acquire) || !this_thread.use_here ||
        !back_off_on.load(std::memory_order_relaxed))
        return;
    active_ = true;
    const std::int64_t now = ticks(clock_type::now());
    const std::int64_t until = chain_verdict_until.load(std::memory_order_relaxed);
    if (now < until) {
        this_thread.use_here = chain_verdict_pool.load(std::memory_order_relaxed);
        next_comparison_ = until;
    } else {
        next_comparison_ = now;  // compares from the first step
    }
}

pool_chain::~pool_chain() {
    if (active_) this_thread.use_here = true;
}

void pool_chain::next_step() {
    if (!active_) return;
    const std::int64_t now = ticks(clock_type::now());
    switch (phase_) {
    case phase::chosen:
        if (now < next_comparison_) return;
        this_thread.use_here = true;
        phase_ = phase::timing_pool;
        left_ = chain_timed_steps;
        phase_start_ = now;
        return;
    case phase::timing_pool:
        if (--left_ > 0) return;
        pool_time_ = now - phase_start_;
        this_thread.use_here = false;
        phase_ = phase::timing_alone;
        left_ = chain_timed_steps;
        phase_start_ = now;
        return;
    case phase::timing_alone: {
        if (--left_ > 0) return;
        const std::int64_t alone_time = now - phase_start_;
        const bool pooled = alone_time * (100 + chain_alone_margin_percent) >= pool_time_ * 100;
        this_thread.use_here = pooled;
        phase_ = phase::chosen;
        next_comparison_ = now + chain_comparison_ns;
        chain_verdict_pool.store(pooled, std::memory_order_relaxed);
        chain_verdict_until.store(next_comparison_, std::memory_order_relaxed);
        return;
    }
    }
}

bool pool_run(int count, pool_task task, void* context) {
    if (count <= 0 || !pool_on.load(std::memory_order_acquire)) return false;
    thread_part& me = this_thread;
    if (!me.use_here) return false;
    if (me.inside_task) return nested_run(count, task, context);
    if (busy.test_and_set(std::memory_order_acquire)) return false;
    mr_state* mine = use_instance(caller_instance);
    me.instance = caller_instance;
    me.inside_task = true;

    pool_job job;
    job.task = task;
    job.context = context;
    job.count = count;
    job.channel = &generation_channel;
    const auto started = clock_type::now();
    publish(0, &job);
    take_tasks(&job, pool_executor{0, caller_instance, false});
    // Until `active` this thread computed, its own tasks or pieces it helped
    // with; after it, it waited.
    auto active = clock_type::now();
    const auto worked = active - started;

    // The tasks the workers took: meanwhile this thread takes pieces of the
    // runs they start, and when there are none it spins a little and then
    // sleeps until a new run comes or its own has finished.
    const pool_executor helper{0, caller_instance, true};
    auto until = clock_type::now() + std::chrono::microseconds(spin_microseconds);
    for (int spins = 0;; ++spins) {
        const unsigned seen = generation.load(std::memory_order_seq_cst);
        if (job.finished.load(std::memory_order_seq_cst) >= count) break;
        if (help(1, last_slot(), helper)) {
            active = clock_type::now();
            until = active + std::chrono::microseconds(spin_microseconds);
            continue;
        }
        if ((spins & 63) == 63 && clock_type::now() >= until) {
            job.starter_sleeping.store(true, std::memory_order_seq_cst);
            sleeping.fetch_add(1, std::memory_order_seq_cst);
            generation_channel.wait_until([&] {
                return generation.load(std::memory_order_seq_cst) != seen ||
                       job.finished.load(std::memory_order_seq_cst) >= count;
            });
            sleeping.fetch_sub(1, std::memory_order_seq_cst);
        } else {
            cpu_relax();
        }
    }
    const auto ended = clock_type::now();
    judge_run(ended, worked, ended - active, true);
    withdraw(0);
    me.inside_task = false;
    use_instance(mine);
    busy.clear(std::memory_order_release);
    return true;
}
