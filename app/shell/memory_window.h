// A window kept in memory: each control's text, the typing limits, the
// checked radio button and whether the dialog has ended. torvane-headless
// shows it over its line protocol; the tests and the fuzz targets drive the
// dialog logic through it in-process.
#ifndef TORVANE_APP_SHELL_MEMORY_WINDOW_H
#define TORVANE_APP_SHELL_MEMORY_WINDOW_H

#include <map>
#include <string>

#include "window.h"

class memory_window : public dialog_window {
public:
    int read_field(int id, char* buffer, int size) override;
    void write_field(int id, const char* text) override;
    void write_status(const char* text) override;
    void check_radio(int first, int last, int id) override;
    void limit_field(int id, int count) override;
    // A message box is answered at once; nothing is shown.
    void message_box(const char* /*caption*/, const char* /*text*/) override {}
    void end_dialog() override { ended_ = true; }

    // What the user does: replaces a field's text. A text over the field's
    // typing limit is refused whole, as a paste into a real field is:
    // returns false and leaves the field as it was.
    bool type(int id, const std::string& text);
    // A click on a radio button checks it, as an automatic radio does.
    void click_radio(int id) { checked_ = id; }

    // The text of control `id` (empty for one never written).
    const std::string& text(int id) { return text_[id]; }
    int checked() const { return checked_; }
    bool ended() const { return ended_; }

private:
    std::map<int, std::string> text_;
    std::map<int, int> limit_;
    int checked_ = 0;
    bool ended_ = false;
};

#endif
