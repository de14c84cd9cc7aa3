// Fuzz target: a script of torvane-headless commands.
//
// The input is the script itself (lines of type, click, key, show, checked,
// close, or anything else), run by the headless session after a CLEAR ALL
// and base 16, so that every input starts alike. Faults, sanitizer reports,
// leaks and inputs that never finish are what this target finds.
//
// A script may press an exponentiation of 65530-bit operands, which takes
// far longer than one input may (minutes in this build). So a watchdog asks
// for a cancel, as Esc does, once an input has run for input_budget, and
// again every few milliseconds until the input ends: a running job stops at
// its next step with "Cancelled.", and a request that meets a conversion
// outside a job fails it the same way. Such inputs also drive the cancel
// points through every path a script reaches.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "engine.h"
#include "headless_session.h"

namespace {

constexpr auto input_budget = std::chrono::seconds(1);
constexpr auto request_interval = std::chrono::milliseconds(5);

struct watchdog {
    std::mutex mutex;
    std::condition_variable wake;
    bool running = false;  // an input is being run
    std::chrono::steady_clock::time_point started;

    void watch() {
        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return running; });
            while (running) {
                if (std::chrono::steady_clock::now() - started > input_budget) request_cancel();
                wake.wait_for(lock, request_interval);
            }
        }
    }
};

// Made once and never released: the watchdog's thread runs until the
// process ends.
watchdog* dog = nullptr;
std::FILE* sink = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    sink = std::fopen("/dev/null", "w");
    dog = new watchdog;
    std::thread([] { dog->watch(); }).detach();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string script = "click 1060\nclick 1016\n";
    script.append(reinterpret_cast<const char*>(data), size);
    std::FILE* in = fmemopen(script.data(), script.size(), "r");
    if (in == nullptr) return 0;
    {
        const std::lock_guard lock(dog->mutex);
        dog->running = true;
        dog->started = std::chrono::steady_clock::now();
    }
    dog->wake.notify_one();
    run_headless_session(in, sink, sink);
    {
        const std::lock_guard lock(dog->mutex);
        dog->running = false;
    }
    // No request may reach the next input.
    clear_cancel_request();
    std::fclose(in);
    return 0;
}
