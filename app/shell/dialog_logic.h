// One dialog's logic as an object: its calculator, its history and the
// runner of its jobs. The process's window is served by one of these behind
// the entry points of dialog.h; a test may make several and drive each
// with a window of its own.
#ifndef TORVANE_APP_SHELL_DIALOG_LOGIC_H
#define TORVANE_APP_SHELL_DIALOG_LOGIC_H

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string_view>
#include <thread>

#include "calc.h"
#include "history.h"
#include "window.h"

// The one job of a dialog that may run. Only the window's thread starts,
// finishes and abandons it; the worker writes the job and then `finished`.
class job_runner {
public:
    // Runs the jobs of calculator `c` and records them in `history`; both
    // outlive the runner.
    job_runner(calculator& c, dialog_history& history) : calculator_(c), history_(history) {}
    job_runner(const job_runner&) = delete;
    job_runner& operator=(const job_runner&) = delete;
    ~job_runner();

    bool running() const { return running_; }
    // The job being prepared or run.
    calc_job& job() { return job_; }

    // Runs the prepared job: the core and the window are busy until it is
    // finished. A window without wakeups has the job done (and committed)
    // before this returns.
    void start(dialog_window& window);
    // On a wakeup: commits a finished job, or shows the running one's
    // progress.
    void wakeup(dialog_window& window);
    // Stops a running job at once, committing nothing.
    void abandon(dialog_window& window);
    // The process is ending: a running job is cancelled and its worker
    // joined, touching no window; the job commits nothing.
    void stop();

private:
    // Waits for the worker and leaves the busy state; commits the job's
    // outcome when `commit` is set.
    void finish(dialog_window& window, bool commit);
    void show_progress(dialog_window& window) const;

    calculator& calculator_;
    dialog_history& history_;
    calc_job job_;
    std::thread worker_;
    std::atomic<bool> finished_{false};
    bool running_ = false;
    std::chrono::steady_clock::time_point started_;
};

// The owner of a dialog's calculator, of its history and of the runner that
// computes its jobs, so that one order of teardown holds however the
// process ends: members go in reverse, so the runner stops and joins its
// worker before the history's writer finishes and the calculator releases
// the registers, the work numbers and the engine.
//
// The calculator is made current on the thread that makes the dialog; each
// entry point makes it current again for its length. The entry points are
// those of dialog.h and the history's that the windows call; all are
// called on the window's thread.
class dialog_logic {
public:
    calculator& core() { return calculator_; }
    dialog_history& history() { return history_; }
    job_runner& runner() { return runner_; }

    void initialise(dialog_window& window);
    void command(dialog_window& window, int id, int notification);
    void expression(dialog_window& window, std::string_view text);
    void close(dialog_window& window);
    void paste_refused(dialog_window& window, int id, unsigned long code);
    void wakeup(dialog_window& window);
    void destroyed(dialog_window& window);
    void recall(dialog_window& window, std::size_t number);

private:
    void start(dialog_window& window);
    void button(dialog_window& window, int id);
    void refuse_button(dialog_window& window, int id);
    void exit_dialog(dialog_window& window);

    calculator calculator_;
    dialog_history history_;
    job_runner runner_{calculator_, history_};
    bool stop_registered_ = false;
};

#endif
