// Operations on the worker thread: a window that delivers wakeups, driven
// in-process from the test's thread, which plays the window's thread.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "calc.h"
#include "dialog.h"
#include "memory_window.h"

namespace {

using clock_type = std::chrono::steady_clock;

// The memory window with wakeups: the test's thread plays the window's
// thread and delivers them (pump_until).
class job_window : public memory_window {
public:
    bool posts_wakeups() const override { return true; }
    void post_wakeup() override {
        const std::lock_guard lock(mutex_);
        ++wakeups_;
        wake_.notify_one();
    }
    void set_busy(bool b) override { busy = b; }

    // The window's event loop for up to `limit`: delivers wakeups until
    // `done` holds. False when the time ran out first.
    template <class Done>
    bool pump_until(Done done, std::chrono::seconds limit = std::chrono::seconds(300)) {
        const auto end = clock_type::now() + limit;
        while (!done()) {
            std::unique_lock lock(mutex_);
            if (!wake_.wait_until(lock, end, [this] { return wakeups_ > 0; })) return false;
            --wakeups_;
            lock.unlock();
            dialog_wakeup(*this);
        }
        return true;
    }

    void type(int id, const std::string& t) {
        ASSERT_TRUE(memory_window::type(id, t)) << "over the typing limit of field " << id;
        dialog_command(*this, id, notify_edit_changed);
    }
    void press(int id) { dialog_command(*this, id, notify_clicked); }

    bool busy = false;

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    int wakeups_ = 0;
};

// `digits` pseudo-random hexadecimal digits, the first a C (so the value
// has 4 * digits bits); odd when asked.
std::string hex_digits(int digits, unsigned seed, bool odd) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string s;
    for (int i = 0; i < digits; ++i) {
        seed = seed * 1103515245u + 12345u;
        s += hex[(seed >> 16) % 16];
    }
    s[0] = 'C';
    if (odd) s.back() = '7';
    return s;
}

// The share in tenths of a percent that a "Working... 12.3%" status shows,
// or -1 for any other status.
int shown_tenths(const std::string& status) {
    int whole = 0;
    int tenth = 0;
    if (std::sscanf(status.c_str(), "Working... %d.%d%%", &whole, &tenth) != 2) return -1;
    return whole * 10 + tenth;
}

void start_session(job_window& w) {
    dialog_initialise(w);
    w.press(IDC_CLEAR_ALL);
}

// Operands whose X^Y MOD Z takes seconds: a 32768-bit odd modulus and an
// 8000-bit exponent.
void type_long_powmod(job_window& w) {
    w.type(IDC_FIELD_X, hex_digits(8192, 1, false));
    w.type(IDC_FIELD_Y, hex_digits(2000, 2, false));
    w.type(IDC_FIELD_Z, hex_digits(8192, 3, true));
}

TEST(Jobs, CancelAfterATenthLeavesEverythingAsBeforeAndTheNextPressWorks) {
    job_window w;
    start_session(w);
    type_long_powmod(w);
    w.type(IDC_FIELD_A, "5");
    w.press(IDC_OP_MUL);  // X*Y into Ans, so that the answer field holds text
    ASSERT_TRUE(w.pump_until([&] { return !w.busy; }));
    ASSERT_EQ(w.text(IDC_FIELD_ANS).empty(), false);

    std::vector<bignum*> before;
    for (int id : field_list) {
        before.push_back(mirvar(0));
        copy_number(register_of(id), before.back());
    }
    std::map<int, std::string> fields_before;
    for (int id : field_list) fields_before[id] = w.text(id);

    w.press(IDC_OP_POWMOD);
    ASSERT_TRUE(w.busy);
    ASSERT_TRUE(w.pump_until([&] { return shown_tenths(w.text(IDC_STATUS)) > 100 || !w.busy; }));
    ASSERT_TRUE(w.busy) << "the job ended before a tenth of it was shown";
    // Input is refused while it runs.
    w.press(IDC_CL_X);
    w.press(IDC_BASE_10);
    w.press(IDC_OP_ADD);
    EXPECT_EQ(w.text(IDC_FIELD_X), fields_before.at(IDC_FIELD_X));
    EXPECT_EQ(w.checked(), IDC_BASE_16);

    const auto cancelled_at = clock_type::now();
    w.press(command_cancel);
    ASSERT_TRUE(w.pump_until([&] { return !w.busy; }));
    EXPECT_LT(clock_type::now() - cancelled_at, std::chrono::seconds(10));

    EXPECT_EQ(w.text(IDC_STATUS), "Cancelled.");
    for (int id : field_list) EXPECT_EQ(w.text(id), fields_before.at(id)) << id;
    for (int k = 0; k < field_count; ++k) {
        EXPECT_EQ(compare_numbers(register_of(field_list[k]), before[static_cast<std::size_t>(k)]), 0) << field_list[k];
        free_number(before[static_cast<std::size_t>(k)]);
    }
    EXPECT_EQ(engine_error(), 0);

    // The same modulus again: 2^16 mod Z.
    w.type(IDC_FIELD_X, "2");
    w.type(IDC_FIELD_Y, "10");
    w.press(IDC_OP_POWMOD);
    ASSERT_TRUE(w.pump_until([&] { return !w.busy; }));
    EXPECT_EQ(w.text(IDC_FIELD_ANS), "10000");
    EXPECT_EQ(w.text(IDC_STATUS), "Bits: x- 2 y- 5 z- 32768 a- 3 b- 0 ans- 17");
}

// Runs `opcode` on this thread with a progress tick after every step, and
// returns the shares seen.
std::vector<int> progress_of(job_window& w, int opcode) {
    std::vector<int> seen;
    calc_job job;
    job.clear();
    EXPECT_TRUE(begin_operation(w, opcode, job));
    struct context {
        calc_job* job;
        std::vector<int>* seen;
    } c{&job, &seen};
    job.progress.reset(
        [](void* p) {
            auto* c = static_cast<context*>(p);
            c->seen->push_back(c->job->progress.tenths_of_percent());
        },
        &c, clock_type::duration::zero());
    compute_job(job);
    EXPECT_EQ(job.progress.tenths_of_percent(), 1000);
    commit_job(w, job);
    return seen;
}

void expect_rises_to_the_whole(const std::vector<int>& seen, int steps_at_least) {
    ASSERT_GE(static_cast<int>(seen.size()), steps_at_least);
    for (std::size_t k = 1; k < seen.size(); ++k) ASSERT_LE(seen[k - 1], seen[k]) << "step " << k;
    EXPECT_EQ(seen.front(), 0);
    EXPECT_GE(seen.back(), 980);
}

TEST(Jobs, ProgressRisesStepByStepToTheWhole) {
    job_window w;
    start_session(w);
    // X^Y MOD Z: exponent bits.
    w.type(IDC_FIELD_X, hex_digits(256, 4, false));
    w.type(IDC_FIELD_Y, hex_digits(256, 5, false));
    w.type(IDC_FIELD_Z, hex_digits(256, 6, true));
    expect_rises_to_the_whole(progress_of(w, 7), 100);
    // X^A*Y^B MOD Z with an even Z: two exponentiations, one after the other.
    w.type(IDC_FIELD_Z, hex_digits(256, 6, false) + "0");
    w.type(IDC_FIELD_A, hex_digits(64, 7, false));
    w.type(IDC_FIELD_B, hex_digits(64, 8, false));
    expect_rises_to_the_whole(progress_of(w, 14), 100);
    // Prime(X) of the prime 2^521 - 1: trials, each through the exponent's bits.
    w.type(IDC_FIELD_X, "1" + std::string(130, 'F'));
    expect_rises_to_the_whole(progress_of(w, 11), 100);
    EXPECT_EQ(w.text(IDC_STATUS), "X is Prime !");
    // X!: a step for each pass over the answer, which takes two multipliers.
    w.type(IDC_FIELD_X, "3E8");
    expect_rises_to_the_whole(progress_of(w, 10), 450);
}

// Prime(X) takes a cancel request between its trial divisions: 65521, the
// last prime of the table, is never reached.
TEST(Jobs, CancelStopsTheTrialDivisionsOfPrime) {
    job_window w;
    start_session(w);
    w.type(IDC_FIELD_X, "FFF1");
    calc_job job;
    job.clear();
    ASSERT_TRUE(begin_operation(w, 11, job));  // Prime(X)
    request_cancel();
    compute_job(job);
    clear_cancel_request();
    commit_job(w, job);
    EXPECT_EQ(w.text(IDC_STATUS), "Cancelled.");
    w.press(IDC_OP_PRIME);
    ASSERT_TRUE(w.pump_until([&] { return !w.busy; }));
    EXPECT_EQ(w.text(IDC_STATUS), "X is Prime !");
}

TEST(Jobs, ExitDuringAJobEndsAtOnce) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            job_window w;
            start_session(w);
            type_long_powmod(w);
            w.press(IDC_OP_POWMOD);
            if (!w.pump_until([&] { return shown_tenths(w.text(IDC_STATUS)) >= 0; })) std::_Exit(2);
            const auto exit_at = clock_type::now();
            w.press(IDC_EXIT);
            if (!w.ended() || w.busy) std::_Exit(3);
            if (clock_type::now() - exit_at > std::chrono::seconds(10)) std::_Exit(4);
            std::exit(0);  // the engine and the registers are released as at every exit
        },
        testing::ExitedWithCode(0), "");
}

// exit() from anywhere while a job computes (a toolkit that loses its
// display ends the process so): the job is stopped before the registers,
// the work numbers and the engine it computes on are released. In the
// sanitizer build a use after free ends the child with a report and a
// non-zero status.
TEST(Jobs, ExitFromAnywhereDuringAJobStopsItBeforeTheCoreGoes) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            job_window w;
            start_session(w);
            // X^Y MOD Z of 65530-bit operands: tens of seconds of work.
            w.type(IDC_FIELD_X, "3" + hex_digits(16382, 11, false));
            w.type(IDC_FIELD_Y, "3" + hex_digits(16382, 12, false));
            w.type(IDC_FIELD_Z, "3" + hex_digits(16382, 13, true));
            if (w.text(IDC_STATUS) != "Bits: x- 65530 y- 65530 z- 65530 a- 0 b- 0 ans- 0") std::_Exit(2);
            w.press(IDC_OP_POWMOD);
            if (!w.pump_until([&] { return shown_tenths(w.text(IDC_STATUS)) >= 0; })) std::_Exit(3);
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
}

}  // namespace
