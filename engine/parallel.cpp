// The worker pool on engine instances: start_pool makes the instances the
// pool computes on and installs the products' pool tasks, each with the starting instance's room (digits of its
// base for max_length - 1 words): one for each worker and one lent to the
// calling thread for its tasks. The pool (pool.cpp) only runs tasks on
// them; stop_pool ends it and frees them.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "internal.h"
#include "pool.h"
#include "product_tasks.h"
#include "products.h"

namespace {

// Plain records, never destroyed: a process may stop the pool from the
// destructor of a static object, after the static objects of this file
// would have gone.
constexpr int most_pool_threads = 64;
std::mutex pool_instances_mutex;
mr_state* pool_instances[most_pool_threads];  // [0]: the caller's, then the workers'
int pool_instance_count = 0;
int pool_thread_count = 1;

// Frees the instances of pool_instances.
void release_pool_instances() {
    mr_state* mine = use_engine(nullptr);
    for (int k = 0; k < pool_instance_count; ++k) {
        use_engine(pool_instances[k]);
        release_engine();
        pool_instances[k] = nullptr;
    }
    pool_instance_count = 0;
    use_engine(mine);
}

// The number of threads asked for: `threads` when positive, else
// TORVANE_THREADS when set, else the processor count; at most 64.
int threads_wanted(int threads) {
    constexpr int most = most_pool_threads;
    if (threads <= 0) {
        if (const char* text = std::getenv("TORVANE_THREADS"); text != nullptr && *text != '\0') {
            char* end = nullptr;
            const long n = std::strtol(text, &end, 10);
            threads = *end == '\0' && n > 0 ? static_cast<int>(std::min<long>(n, most)) : 1;
        } else {
            threads = static_cast<int>(std::thread::hardware_concurrency());
        }
    }
    return std::clamp(threads, 1, most);
}

}  // namespace

int start_pool(int threads) {
    const std::lock_guard<std::mutex> lock(pool_instances_mutex);
    if (pool_thread_count > 1) return pool_thread_count;
    mr_state* s = engine_instance;
    if (s == nullptr || !s->initialised) return 1;
    const int wanted = threads_wanted(threads);
    if (wanted <= 1) return 1;
    int spin = 200;
    if (const char* text = std::getenv("TORVANE_POOL_SPIN_US"); text != nullptr && *text != '\0')
        spin = std::max(0, std::atoi(text));
    const char* back_off = std::getenv("TORVANE_POOL_BACK_OFF");
    pool_set_back_off(back_off == nullptr || std::strcmp(back_off, "0") != 0);

    // A worker whose instance cannot be made (no memory) is not started.
    const int digits = (s->max_length - 1) * s->digits_per_word;
    const std::uint32_t base = s->instance_base;
    mr_state* mine = use_engine(nullptr);
    for (int k = 0; k < wanted; ++k) {
        mr_state* made = mirsys(digits, base);
        if (made == nullptr || !made->initialised) {
            if (made != nullptr) release_engine();
            break;
        }
        made->error_continue = 1;
        pool_instances[pool_instance_count++] = made;
    }
    use_engine(mine);
    // The products' top Toom levels run their points on the pool from now
    // on (they do nothing while it is stopped).
    install_pool_levels(&product_pool_levels);
    const int workers = pool_instance_count - 1;
    if (workers < 1 || !pool_start(pool_instances[0], pool_instances + 1, workers, spin, use_engine)) {
        release_pool_instances();
        return 1;
    }
    pool_thread_count = workers + 1;
    return pool_thread_count;
}

void stop_pool() {
    const std::lock_guard<std::mutex> lock(pool_instances_mutex);
    if (pool_thread_count <= 1) return;
    pool_stop();
    release_pool_instances();
    pool_thread_count = 1;
}
