// The headless platform layer: the memory window (memory_window.h) and the
// line protocol that drives it.
//
// One command a line (a line may end in CR LF):
//   type ID TEXT   the user replaces the whole text of edit field ID and the
//                  field-changed event follows; a TEXT of several characters
//                  comes in as a paste does, and one over the field's typing
//                  limit is refused whole; TEXT is everything after the
//                  blank behind ID
//   click ID       a click on button or radio button ID
//   eval TEXT      TEXT (UTF-8, escapes decoded) into the expression line,
//                  then Enter in it
//   key enter      the dialog's OK command; key escape: its Cancel command
//   close          the window's close box
//   show ID        prints the text of control ID (1000-1007) on one line
//   checked        prints the id of the checked base radio button
//   undo, redo     undoes or redoes the last change of the registers
//   history        prints the history, one entry a line, oldest first:
//                  "N NAME: SUMMARY" with the operation's script name
//   recall N       puts entry N's operands and answer back
//   copy ID BASE   prints value field ID's text in BASE (2, 8, 10, 16, 36,
//                  60, 64, 256), as its "Copy in base" would copy it
// Blank lines and lines whose first non-blank is '#' are skipped.
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
#include <string>
#include <string_view>

#include "memory_window.h"

// `text` with the protocol's escapes applied.
std::string escape_text(std::string_view text);

// Decodes the escapes of `text` into `out` (\x00 too, which only the
// expression line takes). On a bad escape returns false
// with the reason in `error`. With `unholdable` given, the text's own UTF-8
// characters (not those of escapes) become one byte each, their Latin-1
// code, as a window's field holds them; the first character above U+00FF
// is named in *unholdable (which the caller sets to 0 first).
bool unescape_text(std::string_view text, std::string& out, std::string& error,
                   unsigned long* unholdable = nullptr);

// The memory window of the session: a message box prints
// "messagebox CAPTION|TEXT" on the session's output.
class headless_window : public memory_window {
public:
    explicit headless_window(std::FILE* out) : out_(out) {}

    void message_box(const char* caption, const char* text) override;

private:
    std::FILE* out_;
};

// Runs one session: opens the dialog, reads commands from `in` until the
// dialog ends or the input does. Returns the exit status: 0, or 1 when a
// line could not be carried out (a refusal by the calculator is an answer,
// not a failure).
int run_headless_session(std::FILE* in, std::FILE* out, std::FILE* err);

// The summary of the protocol that --help prints.
extern const char* const headless_usage;

#endif
