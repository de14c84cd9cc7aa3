// Fuzz target: the expression line.
//
// Input: byte 0 below 8 switches the fields to one of the eight bases (any
// other value keeps the base, since a switch redraws a 65530-bit X), the
// rest is the line's text, entered at once (Enter). The registers hold operands of
// every size class, 65530 bits included, and are put back after each input.
// Besides faults, sanitizer reports and stack overflows (nesting, long
// chains), it checks that an error or a cancel changes no register, that a
// value changes one register only and has at most 65530 bits, and that no
// engine error is left pending.
//
// A text may ask for a long computation (powmod or isprime of 65530-bit
// numbers): a watchdog asks for a cancel, as Esc does, once an input has
// run for input_budget, and every few milliseconds until it ends.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "calc.h"
#include "dialog.h"
#include "memory_window.h"

namespace {

constexpr auto input_budget = std::chrono::seconds(1);
constexpr auto request_interval = std::chrono::milliseconds(5);

struct watchdog {
    std::mutex mutex;
    std::condition_variable wake;
    bool running = false;
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

watchdog* dog = nullptr;
memory_window* window = nullptr;
constexpr int radios[8] = {1013, 1014, 1015, 1016, 1018, 1017, 1019, 1020};
bignum* saved[6];

void require(bool ok) {
    if (!ok) std::abort();
}

void type(int field, const std::string& text) {
    window->type(field, text);
    dialog_command(*window, field, notify_edit_pasted);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    window = new memory_window;
    dialog_initialise(*window);
    // X of 65530 bits, Y small, Z an odd 4096-bit modulus, A negative, B 0.
    type(1000, "3" + std::string(16382, 'F'));
    type(1001, "7");
    type(1002, std::string(1023, 'E') + "B");
    type(1003, "-123456789ABCDEF");
    for (int i = 0; i < 6; ++i) {
        saved[i] = mirvar(0);
        copy_number(register_of(field_list[i]), saved[i]);
    }
    dog = new watchdog;
    std::thread([] { dog->watch(); }).detach();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    if (data[0] < 8) {
        window->click_radio(radios[data[0]]);
        dialog_command(*window, radios[data[0]], notify_clicked);
    }
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    window->write_status("");
    {
        const std::lock_guard lock(dog->mutex);
        dog->running = true;
        dog->started = std::chrono::steady_clock::now();
    }
    dog->wake.notify_one();
    dialog_expression(*window, text);
    {
        const std::lock_guard lock(dog->mutex);
        dog->running = false;
    }
    clear_cancel_request();
    require(engine_error() == 0);

    const std::string status = window->text(1007);
    int changed = 0;
    for (int i = 0; i < 6; ++i) {
        bignum* reg = register_of(field_list[i]);
        if (compare_numbers(reg, saved[i]) == 0) continue;
        ++changed;
        require(logb2(reg) <= max_operand_bits);
        copy_number(saved[i], reg);  // every input starts alike
    }
    const bool refused = status.rfind("Expression: ", 0) == 0 || status == "Cancelled.";
    require(changed == 0 || (!refused && changed == 1));
    // A blank line does nothing; anything else answers in the status.
    require(!status.empty() || text.find_first_not_of(" \t\r\n") == std::string_view::npos);
    return 0;
}
