// What the dialog logic needs of a window. Each platform layer (Qt, Win32,
// the headless script shell) implements this interface over its toolkit and
// delivers the toolkit's events to the entry points in dialog.h.
#ifndef TORVANE_APP_SHELL_WINDOW_H
#define TORVANE_APP_SHELL_WINDOW_H

class dialog_window {
public:
    virtual ~dialog_window() = default;

    // Copies the text of control `id` into `buffer` (at most size - 1 bytes
    // and a terminating zero) and returns the number of bytes copied; 0 for
    // an empty field.
    virtual int read_field(int id, char* buffer, int size) = 0;

    // Replaces the whole text of control `id`. A program write is never cut
    // to the typing limit. It may raise the field-changed event: the dialog
    // logic ignores the events of its own writes.
    virtual void write_field(int id, const char* text) = 0;

    // Replaces the text of the one-line status field.
    virtual void write_status(const char* text) = 0;

    // Checks radio button `id` and clears the others of first..last.
    virtual void check_radio(int first, int last, int id) = 0;

    // Limits what the user may type or paste into field `id` to `count`
    // characters.
    virtual void limit_field(int id, int count) = 0;

    // Shows a modal information box with an OK button.
    virtual void message_box(const char* caption, const char* text) = 0;

    // Ends the dialog; the platform layer then leaves its event loop.
    virtual void end_dialog() = 0;

    // ---- Jobs: operations and base switches computed on a worker thread ----

    // Whether this window delivers wakeups (post_wakeup). A window that does
    // not gets each job run to completion before the command that started
    // it returns, as a script needs.
    virtual bool posts_wakeups() const { return false; }

    // Called on the worker thread: asks the window's thread to call
    // dialog_wakeup (dialog.h) soon. Must not block.
    virtual void post_wakeup() {}

    // While busy, the operand fields refuse typing and pasting (read-only,
    // looking as they always do). The buttons stay as they are: the dialog
    // logic refuses their commands.
    virtual void set_busy(bool /*busy*/) {}
};

#endif
