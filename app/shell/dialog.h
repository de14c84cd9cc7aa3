// The toolkit-neutral dialog logic. A platform layer implements
// dialog_window (window.h) over its toolkit and calls these entry points for
// the window's events; everything else happens here and in the core.
#ifndef TORVANE_APP_SHELL_DIALOG_H
#define TORVANE_APP_SHELL_DIALOG_H

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

#include "history.h"
#include "window.h"

// The notification code of a button click and of an edit field's change.
inline constexpr int notify_clicked = 0;
inline constexpr int notify_edit_changed = 0x300;  // EN_CHANGE
// The user's change of an edit field's text brought in several characters
// at once: a paste, a drop, a script's text. Such a text is read strictly
// and refused whole when it is no number of the current base.
inline constexpr int notify_edit_pasted = 0x1300;
// The user's typing or pasting met the field's typing limit and was refused
// whole (or cut). A platform layer delivers it after the field-changed
// event of the same edit, if there was one.
inline constexpr int notify_edit_full = 0x501;  // EN_MAXTEXT

// The buttons a running job refuses, which the windows show disabled
// meanwhile: the base radio buttons, the operation buttons, CL, CLEAR ALL
// and TO X (ids 1013 to 1068). About and Exit stay live.
constexpr bool refused_while_busy(int id) { return id >= 1013 && id <= 1068; }

// The dialog manager's OK and Cancel commands: Enter and Esc.
inline constexpr int command_ok = 1;
inline constexpr int command_cancel = 2;

// The window has been created: sets the start state (status "Idle...\n",
// base 16 checked, typing limits, engine settings).
void dialog_initialise(dialog_window& window);

// A command from control `id`: a button click (notification 0), a change of
// an edit field's text by the user (notify_edit_changed, or
// notify_edit_pasted when it brought in several characters at once) or an
// edit that met the field's limit (notify_edit_full). The standard OK (1) command does
// nothing; Cancel (2) cancels a running job and otherwise does nothing.
//
// An operation button and a base button start a job: its computation runs on
// a worker thread while the window's thread goes on with its events, and its
// results are committed when the window's thread next calls dialog_wakeup
// after the worker has finished. While a job runs the window is busy: field
// edits, base and operation buttons, CL, CLEAR ALL and TO X are refused, the
// status line shows "Working..." with the share done once the job has taken
// more than a quarter of a second, Cancel stops the job (status "Cancelled.",
// nothing else changed), and About and Exit work as ever.
void dialog_command(dialog_window& window, int id, int notification);

// The user's paste into edit field `id` held a character the window's
// field cannot hold (Unicode code point `code`); the window left the field
// as it was. The status says why.
void dialog_paste_refused(dialog_window& window, int id, unsigned long code);

// Enter in the expression line (IDC_EXPRESSION), whose text is `text`
// (UTF-8). The line is evaluated as a job, like an operation: its value goes
// into Ans, or into the register that "NAME =" names, and the status shows
// the bit lengths; an error changes no register and names what went wrong
// and where. A blank line does nothing, and so does Enter while a job runs.
// The windows make the line read-only while a job runs (set_busy).
void dialog_expression(dialog_window& window, std::string_view text);

// The window's close box: the same as the Exit button.
void dialog_close(dialog_window& window);

// On the window's thread, after post_wakeup: commits a finished job, or
// shows the running one's progress.
void dialog_wakeup(dialog_window& window);

// The window is being destroyed without Exit or close: a running job is
// cancelled and waited for, and commits nothing.
void dialog_destroyed(dialog_window& window);

// ---- The history of the process's dialog (history.h) --------------------------

// The session file the dialog reads at start and writes after each
// operation and at the end; empty (the default) for none. Set before
// dialog_initialise.
void use_session_file(const std::string& path);

// The entries, and entry `number` (1 = oldest) on one line: its number,
// the operation (the script name, or the button's caption for a window),
// then the summary. Undo and redo are the commands IDC_UNDO and IDC_REDO.
const std::deque<history_entry>& history_entries();
std::string history_line(std::size_t number, bool script_name);

// Recalls entry `number` (1 = oldest) into the registers and fields; the
// status tells the outcome. Refused while a job runs.
void dialog_recall(dialog_window& window, std::size_t number);

// The windows' list follows the history through this listener; null for
// none. clear_history_listener removes the one set with `context`, if it
// is still the one.
void set_history_listener(history_listener listener, void* context);
void clear_history_listener(void* context);

// The text of the About box.
inline constexpr const char* about_caption = "About";
extern const char* const about_text;

#endif
