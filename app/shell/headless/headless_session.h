// The headless platform layer: a dialog_window that keeps each control's
// text in memory, and the line protocol that drives it.
//
// One command a line (a line may end in CR LF):
//   type ID TEXT   the user replaces the whole text of edit field ID and the
//                  field-changed event follows; a TEXT of several characters
//                  comes in as a paste does, and one over the field's typing
//                  limit is refused whole; TEXT is everything after the
//                  blank behind ID
//   click ID       a click on button or radio button ID
//   key enter      the dialog's OK command; key escape: its Cancel command
//   close          the window's close box
//   show ID        prints the text of control ID (1000-1007) on one line
//   checked        prints the id of the checked base radio button
// ID is a control id or a control's name (headless_usage lists them). A
// message box prints "messagebox CAPTION|TEXT". Texts in and out use the C
// escapes \\ \n \r \t and \xHH. A line that cannot be carried out prints
// "error: line N: REASON: LINE" on the error stream (LINE cut to 80
// characters) and changes nothing; the session then ends with status 1. The
// session ends when the dialog ends (Exit or close), and at end of input as
// the close box would end it.
#ifndef TORVANE_APP_SHELL_HEADLESS_HEADLESS_SESSION_H
#define TORVANE_APP_SHELL_HEADLESS_HEADLESS_SESSION_H

#include <cstdio>
#include <map>
#include <string>
#include <string_view>

#include "window.h"

// `text` with the protocol's escapes applied.
std::string escape_text(std::string_view text);

// Decodes the escapes of `text` into `out`. On a bad escape returns false
// with the reason in `error`.
bool unescape_text(std::string_view text, std::string& out, std::string& error);

class headless_window : public dialog_window {
public:
    explicit headless_window(std::FILE* out) : out_(out) {}

    int read_field(int id, char* buffer, int size) override;
    void write_field(int id, const char* text) override;
    void write_status(const char* text) override;
    void check_radio(int first, int last, int id) override;
    void limit_field(int id, int count) override;
    void message_box(const char* caption, const char* text) override;
    void end_dialog() override { ended_ = true; }

    // What the user does: replaces a field's text. A text over the field's
    // typing limit is refused whole, as a paste into a real field is:
    // returns false and leaves the field as it was.
    bool type(int id, const std::string& text);
    // A click on a radio button checks it, as an automatic radio does.
    void click_radio(int id) { checked_ = id; }

    const std::string& text(int id) { return text_[id]; }
    int checked() const { return checked_; }
    bool ended() const { return ended_; }

private:
    std::FILE* out_;
    std::map<int, std::string> text_;
    std::map<int, int> limit_;
    int checked_ = 0;
    bool ended_ = false;
};

// Runs one session: opens the dialog, reads commands from `in` until the
// dialog ends or the input does. Returns the exit status: 0, or 1 when a
// line could not be carried out (a refusal by the calculator is an answer,
// not a failure).
int run_headless_session(std::FILE* in, std::FILE* out, std::FILE* err);

// The summary of the protocol that --help prints.
extern const char* const headless_usage;

#endif
