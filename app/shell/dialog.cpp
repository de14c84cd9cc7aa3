// Turns the window's events into calls on the calculation core: a field edit
// re-reads that field, a base button redraws every field in the new base, an
// operation button runs one operation, and CL, CLEAR ALL, TO X, About and
// Exit do their small jobs.
//
// Operations and base switches are jobs (calc.h): begun and committed here on
// the window's thread, computed on a worker thread. The runner below is the
// only threading in the program; the platform layers only carry wakeups back
// to the window's thread.
#include "dialog.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "base_table.h"
#include "calc.h"
#include "history.h"
#include "operations.h"
#include "radix.h"
#include "resource.h"

static_assert(refused_while_busy(first_base_radio) && refused_while_busy(IDC_TO_X) && !refused_while_busy(IDC_EXIT) &&
              !refused_while_busy(IDC_ABOUT));

const char* const about_text = "Torvane v1.x\nApr. 2008\ncontact me:\ntorvane@example.org";

namespace {

int base_of_button(int id) {
    const base_entry* b = find_base_by_radio(id);
    return b != nullptr ? b->base : 0;
}

// ---- The job runner ---------------------------------------------------------

// A job shows no progress before this, so that ordinary presses look as
// they always have.
constexpr auto progress_delay = std::chrono::milliseconds(250);
// The worker wakes the window's thread at most this often while it computes.
constexpr auto progress_interval = std::chrono::milliseconds(100);

void post_from_worker(void* window) { static_cast<dialog_window*>(window)->post_wakeup(); }

// The one job that may run. Only the window's thread starts, finishes and
// abandons it; the worker writes the job and then `finished`.
class job_runner {
public:
    // Runs the jobs of calculator `c`, which outlives the runner.
    explicit job_runner(calculator& c) : calculator_(c) {}
    job_runner(const job_runner&) = delete;
    job_runner& operator=(const job_runner&) = delete;
    ~job_runner() { stop(); }

    bool running() const { return running_; }
    // The job being prepared or run.
    calc_job& job() { return job_; }

    // Runs the prepared job: the core and the window are busy until it is
    // finished. A window without wakeups has the job done (and committed)
    // before this returns.
    void start(dialog_window& window) {
        set_core_busy(busy_state::job);
        window.set_busy(true);
        clear_cancel_request();
        const bool wakes = window.posts_wakeups();
        job_.progress.reset(wakes ? post_from_worker : nullptr, &window, progress_interval);
        finished_.store(false);
        running_ = true;
        started_ = std::chrono::steady_clock::now();
        worker_ = std::thread([this, &window, wakes] {
            const calculator_scope on_worker(calculator_);
            compute_job(job_);
            finished_.store(true);
            if (wakes) window.post_wakeup();
        });
        if (!wakes) finish(window, true);
    }

    // On a wakeup: commits a finished job, or shows the running one's
    // progress.
    void wakeup(dialog_window& window) {
        if (!running_) return;
        if (finished_.load())
            finish(window, true);
        else
            show_progress(window);
    }

    // Stops a running job at once, committing nothing.
    void abandon(dialog_window& window) {
        if (!running_) return;
        request_cancel();
        finish(window, false);
    }

    // The process is ending: a running job is cancelled and its worker
    // joined, touching no window; the job commits nothing.
    void stop() {
        if (!worker_.joinable()) return;
        if (worker_.get_id() == std::this_thread::get_id()) {
            // exit() from inside the computation: nothing left to wait for.
            worker_.detach();
            return;
        }
        request_cancel();
        worker_.join();
    }

private:
    // Waits for the worker and leaves the busy state; commits the job's
    // outcome when `commit` is set.
    void finish(dialog_window& window, bool commit) {
        worker_.join();
        running_ = false;
        clear_cancel_request();
        if (commit) {
            history_before_commit(job_);
            commit_job(window, job_);
        }
        window.set_busy(false);
        set_core_busy(busy_state::idle);
        if (commit) history_after_commit(window, job_);
    }

    void show_progress(dialog_window& window) const {
        if (std::chrono::steady_clock::now() - started_ < progress_delay) return;
        const int tenths = job_.progress.tenths_of_percent();
        char status[64];
        std::snprintf(status, sizeof status, "Working... %d.%d%%", tenths / 10, tenths % 10);
        window.write_status(status);
    }

    calculator& calculator_;
    calc_job job_;
    std::thread worker_;
    std::atomic<bool> finished_{false};
    bool running_ = false;
    std::chrono::steady_clock::time_point started_;
};

// The dialog logic: the one owner of the calculator a job computes on and
// of the runner that computes it, so that one order of teardown holds
// however the process ends: members go in reverse, so the runner stops and
// joins its worker before the calculator releases the registers, the work
// numbers and the engine. Nothing it tears down lives in another file.
class dialog_logic {
public:
    calculator& core() { return calculator_; }
    job_runner& runner() { return runner_; }

    // Prepares and starts an operation press or a base switch.
    void run_operation(dialog_window& window, int opcode) {
        runner_.job().clear();
        if (begin_operation(window, opcode, runner_.job())) start(window);
    }
    void evaluate(dialog_window& window, std::string_view text) {
        runner_.job().clear();
        if (begin_expression(text, runner_.job())) start(window);
    }
    void switch_base(dialog_window& window, int base) {
        runner_.job().clear();
        if (begin_base_switch(base, runner_.job())) start(window);
    }

private:
    // exit() runs the handlers registered with atexit before it destroys
    // any object made before their registration. Registered when the first
    // job starts, this one stops a running job while the toolkit's own
    // objects, on which the worker posts its wakeups, still exist.
    static void stop_at_exit();

    void start(dialog_window& window) {
        if (!stop_registered_) stop_registered_ = std::atexit(stop_at_exit) == 0;
        runner_.start(window);
    }

    calculator calculator_;
    job_runner runner_{calculator_};
    bool stop_registered_ = false;
};

// The process's dialog. Its calculator is made at static initialisation on
// the thread that then runs the window, and each event makes it current
// there again.
dialog_logic logic;

void dialog_logic::stop_at_exit() { logic.runner_.stop(); }

// ---- The small jobs -----------------------------------------------------------

void clear_one(dialog_window& window, int field_id) {
    write_field_text(window, field_id, "");
    set_from_int(0, register_of(field_id));
    show_bit_line(window);
}

void clear_all(dialog_window& window) {
    register_set& registers = calc().registers;
    for (int id : field_list) write_field_text(window, id, "");
    set_from_int(0, registers.ans);
    copy_number(registers.ans, registers.b);
    copy_number(registers.b, registers.a);
    copy_number(registers.a, registers.z);
    copy_number(registers.z, registers.y);
    copy_number(registers.y, registers.x);
    window.write_status("ALL Cleared.");
}

void answer_to_x(dialog_window& window) {
    calculator& core = calc();
    // The register is copied and X drawn from it, so that field and
    // register agree whatever the answer field shows.
    copy_number(core.registers.x, core.work.saved_ans);
    copy_number(core.registers.ans, core.registers.x);
    if (!render_field(window, IDC_FIELD_X, core.current_base)) {
        char status[256];
        take_engine_error(status, sizeof status);
        copy_number(core.work.saved_ans, core.registers.x);
        window.write_status(status);
        return;
    }
    std::string status = "Answer copied to X.";
    if (core.current_base == 256) {
        byte_cuts cuts;
        note_byte_cut(cuts, IDC_FIELD_X, core.registers.x, std::strlen(core.text_buffer));
        if (cuts.count > 0) {
            status += ' ';
            status += byte_cut_notice(cuts);
        }
    }
    window.write_status(status.c_str());
}

// The standard streams stay open: whatever is written on the way out, a
// warning or a sanitizer's report, still reaches them.
void exit_dialog(dialog_window& window) {
    logic.runner().abandon(window);
    history_closing(window);
    window.end_dialog();
}

void button(dialog_window& window, int id) {
    if (const int base = base_of_button(id); base != 0) {
        logic.switch_base(window, base);
    } else if (const operation_entry* op = find_operation_by_button(id); op != nullptr) {
        logic.run_operation(window, op->opcode);
    } else if (const int field = field_of_clear_button(id); field != 0) {
        clear_one(window, field);
    } else if (id == IDC_CLEAR_ALL) {
        clear_all(window);
    } else if (id == IDC_TO_X) {
        answer_to_x(window);
    }
}

// A press that a running job refuses. An automatic radio button has checked
// itself already: the check goes back to the base the fields will show.
void refuse_button(dialog_window& window, int id) {
    if (find_base_by_radio(id) == nullptr) return;
    const calc_job& job = logic.runner().job();
    const bool switching = job.kind == job_kind::base_switch;
    window.check_radio(first_base_radio, last_base_radio, radio_of_base(switching ? job.base : calc().current_base));
}

}  // namespace

void dialog_initialise(dialog_window& window) {
    const calculator_scope on_window(logic.core());
    window.write_status("Idle...\n");
    configure_engine();
    calc().current_base = 16;
    window.check_radio(first_base_radio, last_base_radio, radio_of_base(16));
    for (int id : field_list) window.limit_field(id, field_typing_limit);
    char status[256];
    if (take_engine_error(status, sizeof status)) window.write_status(status);
    history_initialise(window);
}

void dialog_command(dialog_window& window, int id, int notification) {
    const calculator_scope on_window(logic.core());
    if (notification == notify_clicked && (id == IDC_UNDO || id == IDC_REDO)) {
        if (id == IDC_UNDO)
            dialog_undo(window);
        else
            dialog_redo(window);
        return;
    }
    if (notification == notify_clicked && refused_while_busy(id)) {
        if (logic.runner().running())
            refuse_button(window, id);
        else
            button(window, id);
    } else if ((notification == notify_edit_changed || notification == notify_edit_pasted) && is_operand_field(id)) {
        parse_field(window, id, notification == notify_edit_pasted);
    } else if (notification == notify_edit_full && is_operand_field(id)) {
        report_typing_limit(window, id);
    } else if (notification == notify_clicked && id == command_cancel && logic.runner().running()) {
        request_cancel();
    }
    if (id == IDC_ABOUT) {
        window.message_box(about_caption, about_text);
    } else if (id == IDC_EXIT) {
        exit_dialog(window);
        return;
    }
    if (!logic.runner().running()) history_after_command(window, id, notification);
}

void dialog_expression(dialog_window& window, std::string_view text) {
    const calculator_scope on_window(logic.core());
    if (!logic.runner().running()) logic.evaluate(window, text);
}

void dialog_close(dialog_window& window) {
    const calculator_scope on_window(logic.core());
    exit_dialog(window);
}

void dialog_paste_refused(dialog_window& window, int id, unsigned long code) {
    const calculator_scope on_window(logic.core());
    if (!logic.runner().running()) refuse_unreadable_paste(window, id, code);
}

void dialog_wakeup(dialog_window& window) {
    const calculator_scope on_window(logic.core());
    logic.runner().wakeup(window);
}

void dialog_destroyed(dialog_window& window) {
    const calculator_scope on_window(logic.core());
    logic.runner().abandon(window);
}
