// The Windows platform layer: the dialog of template 101 driven by the
// toolkit-neutral dialog logic. The dialog procedure turns each message into
// a call on the entry points of dialog.h; win32_window carries the logic's
// window operations onto the dialog's controls.
#ifndef TORVANE_APP_SHELL_WIN32_WIN32_WINDOW_H
#define TORVANE_APP_SHELL_WIN32_WIN32_WINDOW_H

#include "../accessible_names.h"
#include "../dialog_template.h"
#include "../window.h"

#include <windows.h>

#include <array>
#include <string>

class win32_window : public dialog_window {
public:
    explicit win32_window(HINSTANCE instance) : instance_(instance) {}

    HINSTANCE instance() const { return instance_; }
    HWND handle() const { return dialog_; }
    void attach(HWND dialog) { dialog_ = dialog; }

    // Whether a job runs: the operand fields are read-only meanwhile.
    bool busy() const { return busy_; }

    // Called once the dialog's controls exist, before prepare_controls:
    // makes the expression line's row below them (a label and the line,
    // after the template's controls in the tab order) and makes the window
    // taller by the row.
    void make_expression_row();
    // The expression line's text as UTF-8.
    std::string expression_text() const;
    // Called once the dialog's controls exist: tooltips on the operation
    // buttons, and the template's layout remembered for resizing.
    void prepare_controls();
    // The client area is now `width` x `height` pixels: lays the controls
    // out again (the value fields take what is beyond the template's size).
    void stretch_controls(int width, int height);
    // The least size of the whole window: its size at the start.
    POINT least_window_size() const { return least_window_size_; }

    // Called once the controls are prepared: remembers the DPI the dialog
    // was laid out for, leaves DPI changes to change_dpi, and gives every
    // edit field Ctrl+A (win32_display.cpp).
    void prepare_display();
    // WM_DPICHANGED: the dialog laid out again with a font of `dpi`, the
    // window moved and sized to `suggested` (never below its least size).
    void change_dpi(UINT dpi, const RECT& suggested);
    // The DPI the dialog is laid out for.
    UINT dpi() const;

    // Called once the controls are prepared: gives the controls of
    // accessible_names.h their names for screen readers
    // (win32_accessibility.cpp).
    void name_controls();

    int read_field(int id, char* buffer, int size) override;
    void write_field(int id, const char* text) override;
    void write_status(const char* text) override;
    void check_radio(int first, int last, int id) override;
    void limit_field(int id, int count) override;
    void message_box(const char* caption, const char* text) override;
    void end_dialog() override;
    bool posts_wakeups() const override { return true; }
    void post_wakeup() override;
    void set_busy(bool busy) override;

private:
    // Lets each label show its caption whole (win32_labels.cpp): widens it
    // into the room beside it in template_rects_; stretch_controls places it.
    void fit_labels();
    // Raises the status field's value-change event when `text` is to be
    // heard (win32_accessibility.cpp).
    void announce_status(const char* text);

    HINSTANCE instance_;
    HWND dialog_ = nullptr;
    bool busy_ = false;
    // The child controls in template order, where the dialog manager put
    // them, and the client size they were put in.
    std::array<HWND, dialog_controls.size()> controls_{};
    std::array<pixel_rect, dialog_controls.size()> template_rects_{};
    // The expression row's label and line, and where they were put.
    std::array<HWND, expression_row.size()> row_{};
    std::array<pixel_rect, expression_row.size()> row_rects_{};
    SIZE template_client_{};
    POINT least_window_size_{};
    UINT dpi_ = 96;
    // The dialog's font once a DPI change made it anew; it stays for the
    // life of the process, as the dialog manager's own does.
    HFONT font_ = nullptr;
    status_announcer announcer_;
};

// The dialog units of `font` in `dialog`, as the dialog manager derives
// them (win32_display.cpp).
dialog_base_units units_of(HWND dialog, HFONT font);

// Posted to the dialog when an edit field refused or cut typed or pasted
// text at its limit, so that the report follows the field's own change
// notification. wParam: the field's id.
inline constexpr UINT wm_field_cut = WM_APP + 0x31;

// The message a job's worker posts to the dialog to wake its thread.
inline constexpr UINT wm_torvane_wakeup = WM_APP + 1;

// The dialog procedure of template 101. It answers 0 to every message and
// serves the window given to run_torvane_dialog.
INT_PTR CALLBACK torvane_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// Opens the modal dialog over `window` and returns when it has ended.
void run_torvane_dialog(win32_window& window, DLGPROC procedure = torvane_dialog_proc);

// Creates the same dialog without a modal loop of its own, for a caller that
// runs the messages itself (the layer's tests). Returns the dialog's handle.
HWND create_torvane_dialog(win32_window& window);

#endif
