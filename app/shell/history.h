// What the dialog keeps of its past: the history of answers, the undo and
// redo of every change the dialog makes to the registers, and the session
// that a later start takes up again (session_file.h). Toolkit-neutral: each
// dialog (dialog_logic.h) owns one dialog_history and calls it on the
// window's thread, with its calculator current; the windows and
// torvane-headless reach the process's one through dialog.h.
//
// Undo works on a shadow: after every event the dialog logic handles, the
// registers, the base and which fields are empty are taken down; when an
// event has changed them (an operation, CL, CLEAR ALL, TO X, a recall, a
// paste, a base switch), the state from before it becomes one undo step.
// A typed key is no step of its own (the field's own Ctrl+Z undoes typing),
// but what was typed is part of the step the next change records.
//
// For a feature that changes registers itself (outside the events the
// dialog logic handles), three calls:
//   add_entry(...)        before the answer is written into the registers:
//                         takes X, Y, Z, A, B as operands;
//   changed(w, what)      after the registers and fields are written: the
//                         state before becomes one undo step;
//   save(w)               then, to keep the session as after a press.
#ifndef TORVANE_APP_SHELL_HISTORY_H
#define TORVANE_APP_SHELL_HISTORY_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "value_fields.h"
#include "window.h"

struct bignum;
struct calc_job;
struct session_data;
class session_writer;

// The controls beside the dialog's own, in both windows. The list and the
// recall button live in the history panel; the panel's button and undo and
// redo sit above the fields.
inline constexpr int IDC_HISTORY_TOGGLE = 1090;
inline constexpr int IDC_UNDO = 1091;
inline constexpr int IDC_REDO = 1092;
inline constexpr int IDC_HISTORY_LIST = 1093;
inline constexpr int IDC_RECALL = 1094;
// What a screen reader calls the list of entries.
inline constexpr const char* history_list_name = "History";

// ---- Values -------------------------------------------------------------------

// An exact copy of a register's value: the sign and the magnitude's words,
// least significant first, without leading zero words (zero has none).
struct stored_value {
    bool negative = false;
    std::vector<std::uint32_t> words;
    friend bool operator==(const stored_value&, const stored_value&) = default;
};

stored_value store_value(const bignum* x);
// x = v; false (x unchanged) when v is longer than a register holds.
bool load_value(const stored_value& v, bignum* x);
int bit_length(const stored_value& v);

// ---- History ------------------------------------------------------------------

inline constexpr int operand_count = 5;  // X, Y, Z, A, B
// Entries kept: the oldest goes when one more comes.
inline constexpr std::size_t history_capacity = 200;
// Undo steps kept; redo holds at most as many.
inline constexpr std::size_t undo_capacity = 100;

struct history_entry {
    std::string op;    // the operation's script name ("powmod"), or a feature's own ("eval")
    std::string text;  // what the user wrote for it (an expression), or empty
    int base = 16;     // the base its values were shown in
    stored_value operands[operand_count];  // X, Y, Z, A, B at the press
    bool has_answer = false;
    stored_value answer;
    bool has_second = false;  // B received a second result
    stored_value second;
    std::string verdict;  // Prime(X): the status text
    std::string summary;  // the entry on one line after its name, values shortened
};

// The text of value field `field_id` in `base`, as the copy in its context
// menu puts it on the clipboard. False while a job runs (the engine is
// busy) or for no value field.
bool field_text_in_base(int field_id, int base, std::string& out);

// The field's value in decimal and hexadecimal, long ones shortened in the
// middle, with its bit count: the tooltip of a value field. Empty while a
// job runs.
std::string field_value_tip(int field_id);

// Called with every change of a history, so that a window's list can
// follow.
using history_listener = void (*)(void* context);

// ---- One dialog's history ------------------------------------------------------

// The entries, the undo and redo steps, the shadow they are taken against,
// the session file and its writer of one dialog. Called on the window's
// thread with the dialog's calculator current (calc.h); the listener is
// called there too.
class dialog_history {
public:
    dialog_history();
    ~dialog_history();
    dialog_history(const dialog_history&) = delete;
    dialog_history& operator=(const dialog_history&) = delete;

    // The file read at start and written after each operation and at the
    // end; empty (the default) for none. Set before initialise.
    void use_session_file(const std::string& path) { session_path_ = path; }

    const std::deque<history_entry>& entries() const { return entries_; }
    // Entry `number` (1 = oldest) on one line: its number, the operation
    // (the script name, or the button's caption for a window), then the
    // summary; empty for no such entry.
    std::string line(std::size_t number, bool script_name) const;

    // Adds an entry for operation `op` (script name), with the registers X,
    // Y, Z, A, B as they are now as its operands, `answer` and `second`
    // (either may be null) or `verdict`, in the current base; `text` is
    // what the user wrote, if anything. While no job runs.
    void add_entry(const std::string& op, const std::string& text, const bignum* answer, const bignum* second,
                   const char* verdict);

    // The dialog logic has just changed registers or fields (a step named
    // `what` in the status of undo and redo): the state before becomes an
    // undo step and redo is forgotten. Nothing happens when nothing changed.
    void changed(dialog_window& window, const std::string& what);

    // Saves the session (when one is in use) on the writer's thread, as
    // after every operation: for a feature that stores an answer outside
    // the jobs.
    void save(dialog_window& window);

    // Undo and redo one step; recall entry `number` (1 = oldest). Each
    // tells the outcome in the status line; refused while a job runs.
    void undo(dialog_window& window);
    void redo(dialog_window& window);
    void recall(dialog_window& window, std::size_t number);

    // Whether there is a step to undo or redo.
    bool can_undo() const { return !undo_steps_.empty(); }
    bool can_redo() const { return !redo_steps_.empty(); }

    // The listener told of every change; null for none. clear_listener
    // removes the one set with `context`, if it is still the one.
    void set_listener(history_listener listener, void* context);
    void clear_listener(void* context);

    // ---- Hooks of the dialog logic ----

    // At the end of the dialog's initialisation: a fresh history and undo,
    // then the session taken up when one is in use.
    void initialise(dialog_window& window);
    // After each event the dialog logic handled while no job runs.
    void after_command(dialog_window& window, int id, int notification);
    // A job has finished: before its commit (so that the operands are
    // taken before B is written) and after it.
    void before_commit(const calc_job& job);
    void after_commit(dialog_window& window, const calc_job& job);
    // The dialog is ending (Exit, close box): the session is saved.
    void closing(dialog_window& window);

private:
    // What an undo step puts back: the six registers, which fields are
    // empty and the base, and what the step was.
    struct snapshot {
        stored_value values[field_count];
        bool empty[field_count] = {};
        int base = 16;
        std::string what;

        bool same_state(const snapshot& o) const;
    };

    static snapshot capture(dialog_window& window);
    session_data current_session(dialog_window& window) const;
    void notify();
    void add(history_entry e);
    void put_back(dialog_window& window, const snapshot& s);
    void step(dialog_window& window, std::deque<snapshot>& from, std::deque<snapshot>& to, const char* done,
              const char* none);
    void save_session(dialog_window& window, bool wait);
    void restore_session(dialog_window& window);

    std::deque<history_entry> entries_;
    std::deque<snapshot> undo_steps_;
    std::deque<snapshot> redo_steps_;
    snapshot shadow_;  // the state after the last event handled
    bool have_shadow_ = false;
    history_entry pending_;  // the entry of the job being committed
    bool have_pending_ = false;
    history_listener listener_ = nullptr;
    void* listener_context_ = nullptr;
    std::string session_path_;
    std::unique_ptr<session_writer> writer_;
    bool save_failed_ = false;  // the last save failed and said so
};

#endif
