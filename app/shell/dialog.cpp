// Turns the window's events into calls on the calculation core: a field edit
// re-reads that field, a base button redraws every field in the new base, an
// operation button runs one operation, and CL, CLEAR ALL, TO X, About and
// Exit do their small jobs.
//
// Operations and base switches are jobs (calc.h): begun and committed here on
// the window's thread, computed on a worker thread. The job runner
// (dialog_logic.h) is the only thread that computes; the platform layers
// only carry wakeups back to the window's thread.
#include "dialog.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "base_table.h"
#include "calc.h"
#include "dialog_logic.h"
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

}  // namespace

job_runner::~job_runner() { stop(); }

void job_runner::start(dialog_window& window) {
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

void job_runner::wakeup(dialog_window& window) {
    if (!running_) return;
    if (finished_.load())
        finish(window, true);
    else
        show_progress(window);
}

void job_runner::abandon(dialog_window& window) {
    if (!running_) return;
    request_cancel();
    finish(window, false);
}

void job_runner::stop() {
    if (!worker_.joinable()) return;
    if (worker_.get_id() == std::this_thread::get_id()) {
        // exit() from inside the computation: nothing left to wait for.
        worker_.detach();
        return;
    }
    request_cancel();
    worker_.join();
}

void job_runner::finish(dialog_window& window, bool commit) {
    worker_.join();
    running_ = false;
    clear_cancel_request();
    if (commit) {
        history_.before_commit(job_);
        commit_job(window, job_);
    }
    window.set_busy(false);
    set_core_busy(busy_state::idle);
    if (commit) history_.after_commit(window, job_);
}

void job_runner::show_progress(dialog_window& window) const {
    if (std::chrono::steady_clock::now() - started_ < progress_delay) return;
    const int tenths = job_.progress.tenths_of_percent();
    char status[64];
    std::snprintf(status, sizeof status, "Working... %d.%d%%", tenths / 10, tenths % 10);
    window.write_status(status);
}

namespace {

// The process's dialog. Its calculator is made at static initialisation on
// the thread that then runs the window, and each event makes it current
// there again.
dialog_logic logic;

// exit() runs the handlers registered with atexit before it destroys any
// object made before their registration. Registered when a dialog's first
// job starts, this one stops the process dialog's running job while the
// toolkit's own objects, on which the worker posts its wakeups, still
// exist. Another dialog's runner stops when that dialog is destroyed.
void stop_at_exit() { logic.runner().stop(); }

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

}  // namespace

// ---- One dialog ---------------------------------------------------------------

void dialog_logic::start(dialog_window& window) {
    if (!stop_registered_) stop_registered_ = std::atexit(stop_at_exit) == 0;
    runner_.start(window);
}

// The standard streams stay open: whatever is written on the way out, a
// warning or a sanitizer's report, still reaches them.
void dialog_logic::exit_dialog(dialog_window& window) {
    runner_.abandon(window);
    history_.closing(window);
    window.end_dialog();
}

void dialog_logic::button(dialog_window& window, int id) {
    calc_job& job = runner_.job();
    if (const int base = base_of_button(id); base != 0) {
        job.clear();
        if (begin_base_switch(base, job)) start(window);
    } else if (const operation_entry* op = find_operation_by_button(id); op != nullptr) {
        job.clear();
        if (begin_operation(window, op->opcode, job)) start(window);
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
void dialog_logic::refuse_button(dialog_window& window, int id) {
    if (find_base_by_radio(id) == nullptr) return;
    const calc_job& job = runner_.job();
    const bool switching = job.kind == job_kind::base_switch;
    window.check_radio(first_base_radio, last_base_radio, radio_of_base(switching ? job.base : calc().current_base));
}

void dialog_logic::initialise(dialog_window& window) {
    const calculator_scope on_window(calculator_);
    window.write_status("Idle...\n");
    configure_engine();
    calc().current_base = 16;
    window.check_radio(first_base_radio, last_base_radio, radio_of_base(16));
    for (int id : field_list) window.limit_field(id, field_typing_limit);
    char status[256];
    if (take_engine_error(status, sizeof status)) window.write_status(status);
    history_.initialise(window);
}

void dialog_logic::command(dialog_window& window, int id, int notification) {
    const calculator_scope on_window(calculator_);
    if (notification == notify_clicked && (id == IDC_UNDO || id == IDC_REDO)) {
        if (id == IDC_UNDO)
            history_.undo(window);
        else
            history_.redo(window);
        return;
    }
    if (notification == notify_clicked && refused_while_busy(id)) {
        if (runner_.running())
            refuse_button(window, id);
        else
            button(window, id);
    } else if ((notification == notify_edit_changed || notification == notify_edit_pasted) && is_operand_field(id)) {
        parse_field(window, id, notification == notify_edit_pasted);
    } else if (notification == notify_edit_full && is_operand_field(id)) {
        report_typing_limit(window, id);
    } else if (notification == notify_clicked && id == command_cancel && runner_.running()) {
        request_cancel();
    }
    if (id == IDC_ABOUT) {
        window.message_box(about_caption, about_text);
    } else if (id == IDC_EXIT) {
        exit_dialog(window);
        return;
    }
    if (!runner_.running()) history_.after_command(window, id, notification);
}

void dialog_logic::expression(dialog_window& window, std::string_view text) {
    const calculator_scope on_window(calculator_);
    if (runner_.running()) return;
    runner_.job().clear();
    if (begin_expression(text, runner_.job())) start(window);
}

void dialog_logic::close(dialog_window& window) {
    const calculator_scope on_window(calculator_);
    exit_dialog(window);
}

void dialog_logic::paste_refused(dialog_window& window, int id, unsigned long code) {
    const calculator_scope on_window(calculator_);
    if (!runner_.running()) refuse_unreadable_paste(window, id, code);
}

void dialog_logic::wakeup(dialog_window& window) {
    const calculator_scope on_window(calculator_);
    runner_.wakeup(window);
}

void dialog_logic::destroyed(dialog_window& window) {
    const calculator_scope on_window(calculator_);
    runner_.abandon(window);
}

void dialog_logic::recall(dialog_window& window, std::size_t number) {
    const calculator_scope on_window(calculator_);
    history_.recall(window, number);
}

// ---- The process's dialog -------------------------------------------------------

void dialog_initialise(dialog_window& window) { logic.initialise(window); }

void dialog_command(dialog_window& window, int id, int notification) { logic.command(window, id, notification); }

void dialog_expression(dialog_window& window, std::string_view text) { logic.expression(window, text); }

void dialog_close(dialog_window& window) { logic.close(window); }

void dialog_paste_refused(dialog_window& window, int id, unsigned long code) {
    logic.paste_refused(window, id, code);
}

void dialog_wakeup(dialog_window& window) { logic.wakeup(window); }

void dialog_destroyed(dialog_window& window) { logic.destroyed(window); }

void use_session_file(const std::string& path) { logic.history().use_session_file(path); }

const std::deque<history_entry>& history_entries() { return logic.history().entries(); }

std::string history_line(std::size_t number, bool script_name) { return logic.history().line(number, script_name); }

void dialog_recall(dialog_window& window, std::size_t number) { logic.recall(window, number); }

void set_history_listener(history_listener listener, void* context) {
    logic.history().set_listener(listener, context);
}

void clear_history_listener(void* context) { logic.history().clear_listener(context); }
