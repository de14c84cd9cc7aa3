// Two calculators in one process, each driven on a thread of its own at the
// same time: neither sees the other's registers, fields, base or engine.
// Two dialogs in one process: neither sees the other's history, undo steps
// or session.
#include <gtest/gtest.h>

#include <cstdint>
#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

#include "calc.h"
#include "dialog.h"
#include "dialog_logic.h"
#include "memory_window.h"
#include "operations.h"
#include "session_file.h"

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

// Two dialogs driven in turn on this thread, each with a window and a
// session file of its own: what one records, undoes or saves is the
// other's in no part.
TEST(TwoCalculators, TwoDialogsKeepTheirOwnHistoryUndoAndSession) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / "torvane-two-dialogs-test";
    std::error_code ec;
    fs::remove_all(folder, ec);
    const std::string paths[2] = {(folder / "first").string(), (folder / "second").string()};

    auto product = std::make_unique<dialog_logic>();
    auto sum = std::make_unique<dialog_logic>();
    memory_window product_window;
    memory_window sum_window;
    product->history().use_session_file(paths[0]);
    sum->history().use_session_file(paths[1]);
    product->initialise(product_window);
    sum->initialise(sum_window);
    const auto type = [](dialog_logic& d, memory_window& w, int id, const char* text) {
        ASSERT_TRUE(w.type(id, text));
        d.command(w, id, notify_edit_changed);
    };
    type(*product, product_window, IDC_FIELD_X, "6");
    type(*sum, sum_window, IDC_FIELD_X, "A");
    type(*product, product_window, IDC_FIELD_Y, "7");
    type(*sum, sum_window, IDC_FIELD_Y, "5");
    product->command(product_window, IDC_OP_MUL, notify_clicked);
    sum->command(sum_window, IDC_OP_ADD, notify_clicked);
    sum->command(sum_window, IDC_CLEAR_ALL, notify_clicked);
    EXPECT_EQ(product_window.text(IDC_FIELD_ANS), "2A");

    ASSERT_EQ(product->history().entries().size(), 1u);
    EXPECT_EQ(product->history().line(1, true), "1 mul: X=6 Y=7 -> Ans=2A [base 16]");
    ASSERT_EQ(sum->history().entries().size(), 1u);
    EXPECT_EQ(sum->history().line(1, true), "1 add: X=A Y=5 -> Ans=F [base 16]");

    // The sum's two steps go back, the product's one stays.
    sum->command(sum_window, IDC_UNDO, notify_clicked);
    EXPECT_EQ(sum_window.text(IDC_STATUS), "Undone: CLEAR ALL.");
    EXPECT_EQ(sum_window.text(IDC_FIELD_ANS), "F");
    sum->command(sum_window, IDC_UNDO, notify_clicked);
    EXPECT_EQ(sum_window.text(IDC_FIELD_ANS), "");
    EXPECT_EQ(sum_window.text(IDC_FIELD_X), "A");
    EXPECT_FALSE(sum->history().can_undo());
    EXPECT_TRUE(sum->history().can_redo());
    EXPECT_TRUE(product->history().can_undo());
    EXPECT_FALSE(product->history().can_redo());
    EXPECT_EQ(product_window.text(IDC_FIELD_ANS), "2A");
    EXPECT_EQ(product_window.text(IDC_FIELD_X), "6");

    // Exit writes each dialog's session into its own file.
    product->command(product_window, IDC_EXIT, notify_clicked);
    sum->command(sum_window, IDC_EXIT, notify_clicked);
    EXPECT_TRUE(product_window.ended());
    EXPECT_TRUE(sum_window.ended());
    const char* const ops[2] = {"mul", "add"};
    for (int k = 0; k < 2; ++k) {
        session_data session;
        std::string message;
        ASSERT_EQ(load_session_file(paths[k], session, message), session_load::loaded) << paths[k] << message;
        ASSERT_EQ(session.entries.size(), 1u) << paths[k];
        EXPECT_EQ(session.entries[0].op, ops[k]);
        // The product's Ans is 2A; the sum's was undone to an empty field.
        EXPECT_EQ(session.empty[value_field_index(IDC_FIELD_ANS)], k == 1) << paths[k];
        stored_value x;
        x.words = {k == 0 ? 6u : 10u};
        EXPECT_EQ(session.fields[value_field_index(IDC_FIELD_X)], x) << paths[k];
    }
    product.reset();
    sum.reset();
    fs::remove_all(folder, ec);
}

}  // namespace
