// Two calculators in one process, each driven on a thread of its own at the
// same time: neither sees the other's registers, fields, base or engine.
#include <gtest/gtest.h>

#include <cstdint>
#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "calc.h"
#include "memory_window.h"
#include "operations.h"

namespace {

std::string in_base(std::uint64_t v, int base) {
    if (v == 0) return "0";
    std::string text;
    const auto radix = static_cast<std::uint64_t>(base);
    for (; v != 0; v /= radix) text.insert(text.begin(), "0123456789ABCDEF"[v % radix]);
    return text;
}

int opcode_of(int button) { return find_operation_by_button(button)->opcode; }

// One person at one calculator, on the calling thread: types into fields
// and presses buttons, each job computed and committed before the next.
class user {
public:
    void type(int id, const std::string& text) {
        ASSERT_TRUE(window_.type(id, text));
        parse_field(window_, id);
    }
    void press(int button) {
        calc_job job;
        job.clear();
        ASSERT_TRUE(begin_operation(window_, opcode_of(button), job));
        run(job);
    }
    void switch_base(int base) {
        calc_job job;
        job.clear();
        ASSERT_TRUE(begin_base_switch(base, job));
        run(job);
    }
    const std::string& text(int id) { return window_.text(id); }

private:
    void run(calc_job& job) {
        compute_job(job);
        commit_job(window_, job);
    }

    memory_window window_;
};

// At calculator `c`, on this thread, in `base` (10 or 16): products and
// sums of operands made from `seed`, each checked against machine
// arithmetic, and between them a Fermat test of the prime 2^521 - 1, long
// enough for the other thread to compute meanwhile. Both threads pass
// `start` before the first press.
void use_calculator(calculator& c, int base, std::uint32_t seed, std::atomic<int>& start) {
    const calculator_scope here(c);
    configure_engine();
    user u;
    if (base != 16) u.switch_base(base);
    const std::string decimal_p =
        "6864797660130609714981900799081393217269435300143305409394463459185543183397656052122559640661454554977"
        "296311391480858037121987999716643812574028291115057151";
    const std::string p = base == 16 ? "1" + std::string(130, 'F') : decimal_p;
    std::string p_minus_1 = p;
    p_minus_1.back() = base == 16 ? 'E' : '0';
    // Both threads wait here for each other (a plain counter: the mingw
    // build's std::latch never wakes under Wine).
    start.fetch_add(1);
    while (start.load() < 2) std::this_thread::yield();
    std::uint32_t state = seed;
    for (int round = 0; round < 40; ++round) {
        state = state * 1664525u + 1013904223u;
        const std::uint64_t x = state;
        const std::uint64_t y = state ^ seed;
        u.type(IDC_FIELD_X, in_base(x, base));
        u.type(IDC_FIELD_Y, in_base(y, base));
        u.press(IDC_OP_MUL);
        ASSERT_EQ(u.text(IDC_FIELD_ANS), in_base(x * y, base)) << "round " << round;
        u.press(IDC_OP_ADD);
        ASSERT_EQ(u.text(IDC_FIELD_ANS), in_base(x + y, base)) << "round " << round;

        u.type(IDC_FIELD_X, in_base(3 + static_cast<std::uint64_t>(round), base));
        u.type(IDC_FIELD_Y, p_minus_1);
        u.type(IDC_FIELD_Z, p);
        u.press(IDC_OP_POWMOD);
        ASSERT_EQ(u.text(IDC_FIELD_ANS), "1") << "round " << round;
    }
    EXPECT_EQ(u.text(IDC_FIELD_Z), p);
    EXPECT_EQ(u.text(IDC_FIELD_Y), p_minus_1);
}

TEST(TwoCalculators, ComputeAtOnceOnTheirOwnThreadsEachWithItsOwnState) {
    // Made here, used on the threads below, released here once both are done.
    auto hex = std::make_unique<calculator>();
    auto decimal = std::make_unique<calculator>();
    std::atomic<int> start{0};
    std::thread first([&] { use_calculator(*hex, 16, 0x1234567u, start); });
    std::thread second([&] { use_calculator(*decimal, 10, 0x9abcdefu, start); });
    first.join();
    second.join();
    EXPECT_EQ(hex->current_base, 16);
    EXPECT_EQ(decimal->current_base, 10);
    for (calculator* c : {hex.get(), decimal.get()}) {
        const calculator_scope here(*c);
        EXPECT_EQ(logb2(calc().registers.z), 521);
    }
}

}  // namespace
