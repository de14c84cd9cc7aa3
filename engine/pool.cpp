// The engine's worker threads (pool.h).
//
// A run is one record on the caller's stack: the task, its context, the
// number of tasks, the next index to hand out and the number finished. The
// caller publishes it in current_job and bumps `generation`; each thread,
// the caller included, takes indexes with one atomic add until none is
// left. The caller then waits for the tasks others took, withdraws the
// record and, before its stack frame goes, waits until no worker is still
// between reading current_job and leaving it (`entering`, the two sides in
// sequentially consistent order: a worker that counted itself in before the
// caller looked is waited for, one that counted itself in later finds
// current_job empty).
//
// Workers that find no new generation spin for a while and then sleep until
// it changes (wake_channel below); a caller wakes them only when one sleeps,
// so the hand-over of back-to-back runs costs no system call.
#include "pool.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "internal.h"

namespace {

// Sleeping until an atomic counter changes, on a mutex and a condition
// variable. The changing side stores the new value first and then calls
// notify, which passes through the mutex: a sleeper either tested the value
// before that and is woken, or tests it after and sees the change. (The
// standard library's atomic wait, outside Linux, lost such wake-ups: a pool
// built with mingw-w64 slept for good under Wine.)
struct wake_channel {
    std::mutex mutex;
    std::condition_variable changed;

    template <class T>
    void wait_while(const std::atomic<T>& value, T old) {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return value.load(std::memory_order_seq_cst) != old; });
    }
    void notify() {
        { const std::lock_guard<std::mutex> lock(mutex); }
        changed.notify_all();
    }
};

// Never destroyed: a process that exits during a run leaves its workers
// asleep on them while the static objects go.
wake_channel& generation_channel = *new wake_channel;  // workers sleeping on `generation`
wake_channel& ready_channel = *new wake_channel;       // start_pool waiting on `ready`
wake_channel& finished_channel = *new wake_channel;    // a caller waiting on its job's `finished`

struct pool_job {
    pool_task task;
    void* context;
    int count;
    std::atomic<int> next{0};
    std::atomic<int> finished{0};
    std::atomic<bool> caller_sleeping{false};  // the caller waits on `finished`
};

// The largest number of threads a pool may have.
constexpr int max_pool_threads = 64;

std::mutex start_mutex;  // start_pool and stop_pool
// Made by start_pool and freed by stop_pool. A process that ends without
// stop_pool (exit() on an error) leaves it alone: destroying the threads of
// a running pool would end the process with std::terminate instead.
std::vector<std::thread>* workers = nullptr;
std::vector<mr_state*> worker_instances;  // written by each worker before it reports ready
mr_state* caller_instance = nullptr;      // lent to the calling thread for its tasks
int worker_count = 0;
int spin_microseconds = 200;
// The caller's spin before it sleeps until the workers' tasks are done.
constexpr int caller_spin_microseconds = 50;

std::atomic<bool> pool_on{false};
std::atomic<bool> stopping{false};
std::atomic<pool_job*> current_job{nullptr};
std::atomic<unsigned> generation{0};
std::atomic<int> entering{0};
std::atomic<int> sleeping{0};
std::atomic<int> ready{0};
std::atomic_flag busy = ATOMIC_FLAG_INIT;  // held by the thread whose run has the pool

thread_local bool inside_task = false;

thread_local bool use_here = true;

inline void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
}

// Takes indexes of `job` until none is left; the tasks run on `executor`.
void take_tasks(pool_job* job, const pool_executor& executor) {
    for (int i = job->next.fetch_add(1, std::memory_order_relaxed); i < job->count;
         i = job->next.fetch_add(1, std::memory_order_relaxed)) {
        job->task(job->context, i, executor);
        job->finished.fetch_add(1, std::memory_order_seq_cst);
        if (job->caller_sleeping.load(std::memory_order_seq_cst)) finished_channel.notify();
    }
}

// The size of the starting instance, for the workers' instances.
struct instance_shape {
    int digits;
    std::uint32_t base;
};

void worker_main(int index, instance_shape shape) {
    inside_task = true;  // a worker's tasks never start runs of their own
    mr_state* s = mirsys(shape.digits, shape.base);
    // A worker whose instance could not be made (no memory) stays in the
    // pool but takes no task: the caller and the other workers run them.
    if (s != nullptr) s->error_continue = 1;
    const pool_executor executor = s != nullptr
        ? pool_executor{index, s, scratch_words(area_product), scratch_words_size(area_product)}
        : pool_executor{index, nullptr, nullptr, 0};
    worker_instances[static_cast<std::size_t>(index - 1)] = s;
    unsigned seen = generation.load(std::memory_order_acquire);
    ready.fetch_add(1, std::memory_order_release);
    ready_channel.notify();
    using clock = std::chrono::steady_clock;
    for (;;) {
        if (generation.load(std::memory_order_acquire) == seen) {
            const auto until = clock::now() + std::chrono::microseconds(spin_microseconds);
            for (int spins = 0; generation.load(std::memory_order_acquire) == seen; ++spins) {
                if ((spins & 63) == 63 && clock::now() >= until) {
                    sleeping.fetch_add(1, std::memory_order_seq_cst);
                    generation_channel.wait_while(generation, seen);
                    sleeping.fetch_sub(1, std::memory_order_seq_cst);
                } else {
                    cpu_relax();
                }
            }
        }
        seen = generation.load(std::memory_order_acquire);
        if (stopping.load(std::memory_order_acquire)) break;
        entering.fetch_add(1, std::memory_order_seq_cst);
        if (pool_job* job = current_job.load(std::memory_order_seq_cst); job != nullptr && s != nullptr)
            take_tasks(job, executor);
        entering.fetch_sub(1, std::memory_order_seq_cst);
    }
    release_engine();
}

void wake_workers() {
    generation.fetch_add(1, std::memory_order_seq_cst);
    if (sleeping.load(std::memory_order_seq_cst) > 0) generation_channel.notify();
}

// The number of threads asked for: `threads` when positive, else
// TORVANE_THREADS when set, else the processor count.
int threads_wanted(int threads) {
    if (threads <= 0) {
        if (const char* text = std::getenv("TORVANE_THREADS"); text != nullptr && *text != '\0') {
            char* end = nullptr;
            const long n = std::strtol(text, &end, 10);
            threads = *end == '\0' && n > 0 ? static_cast<int>(std::min<long>(n, max_pool_threads)) : 1;
        } else {
            threads = static_cast<int>(std::thread::hardware_concurrency());
        }
    }
    if (threads < 1) threads = 1;
    return std::min(threads, max_pool_threads);
}

}  // namespace

int start_pool(int threads) {
    const std::lock_guard<std::mutex> lock(start_mutex);
    if (pool_on.load(std::memory_order_acquire)) return worker_count + 1;
    mr_state* s = engine_instance;
    if (s == nullptr || !s->initialised) return 1;
    const int wanted = threads_wanted(threads);
    if (wanted <= 1) return 1;
    if (const char* text = std::getenv("TORVANE_POOL_SPIN_US"); text != nullptr && *text != '\0')
        spin_microseconds = std::max(0, std::atoi(text));

    // The instances have the starting instance's room: digits of its base
    // for max_length - 1 words.
    const instance_shape shape{(s->max_length - 1) * s->digits_per_word, s->instance_base};
    mr_state* mine = use_engine(nullptr);
    caller_instance = mirsys(shape.digits, shape.base);
    if (caller_instance != nullptr) caller_instance->error_continue = 1;
    use_engine(mine);

    worker_count = wanted - 1;
    stopping.store(false, std::memory_order_relaxed);
    ready.store(0, std::memory_order_relaxed);
    worker_instances.assign(static_cast<std::size_t>(worker_count), nullptr);
    workers = new std::vector<std::thread>;
    workers->reserve(static_cast<std::size_t>(worker_count));
    for (int k = 1; k <= worker_count; ++k) workers->emplace_back(worker_main, k, shape);
    for (int r = ready.load(std::memory_order_acquire); r < worker_count; r = ready.load(std::memory_order_acquire))
        ready_channel.wait_while(ready, r);
    pool_on.store(true, std::memory_order_release);
    return wanted;
}

void stop_pool() {
    const std::lock_guard<std::mutex> lock(start_mutex);
    if (!pool_on.load(std::memory_order_acquire)) return;
    // No run may be going on: take the pool as a run would, for good.
    while (busy.test_and_set(std::memory_order_acquire)) std::this_thread::yield();
    pool_on.store(false, std::memory_order_release);
    stopping.store(true, std::memory_order_release);
    wake_workers();
    generation_channel.notify();
    for (auto& t : *workers) t.join();
    delete workers;
    workers = nullptr;
    worker_instances.clear();
    worker_count = 0;
    mr_state* mine = use_engine(caller_instance);
    release_engine();
    use_engine(mine);
    caller_instance = nullptr;
    busy.clear(std::memory_order_release);
}

int pool_threads() { return pool_on.load(std::memory_order_acquire) ? worker_count + 1 : 1; }

int pool_spin_microseconds() { return spin_microseconds; }

void pool_use_here(bool on) { use_here = on; }

bool pool_available() {
    return use_here && pool_on.load(std::memory_order_acquire) && !inside_task &&
           !busy.test(std::memory_order_relaxed);
}

bool pool_run(int count, pool_task task, void* context) {
    if (count <= 0 || !use_here || !pool_on.load(std::memory_order_acquire) || inside_task ||
        busy.test_and_set(std::memory_order_acquire))
        return false;
    mr_state* mine = engine_instance;

    pool_job job;
    job.task = task;
    job.context = context;
    job.count = count;
    current_job.store(&job, std::memory_order_seq_cst);
    wake_workers();

    inside_task = true;
    use_engine(caller_instance);
    take_tasks(&job, pool_executor{0, caller_instance, nullptr, 0});
    use_engine(mine);
    inside_task = false;

    // The tasks the workers took: a short spin, then sleep, so that a long
    // task's thread is not kept from the processor by this one's spinning.
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(caller_spin_microseconds);
    for (int spins = 0;; ++spins) {
        const int done = job.finished.load(std::memory_order_seq_cst);
        if (done >= count) break;
        if ((spins & 63) == 63 && std::chrono::steady_clock::now() >= until) {
            job.caller_sleeping.store(true, std::memory_order_seq_cst);
            finished_channel.wait_while(job.finished, done);
        } else {
            cpu_relax();
        }
    }
    current_job.store(nullptr, std::memory_order_seq_cst);
    while (entering.load(std::memory_order_seq_cst) != 0) cpu_relax();
    busy.clear(std::memory_order_release);
    return true;
}
