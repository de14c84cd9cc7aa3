// The Windows dialog's controls beside the template's: Undo, Redo and
// History above the fields, the history panel at the right (a label, the
// list and Recall), the value fields' context menu with "Copy in base" and
// their value tooltips. Made at run time after the template's controls, so
// that they follow them in tab order.
#ifndef TORVANE_APP_SHELL_WIN32_WIN32_HISTORY_H
#define TORVANE_APP_SHELL_WIN32_WIN32_HISTORY_H

#include <windows.h>

class win32_window;

// Once the template's controls are prepared.
void create_history_controls(win32_window& window);
// The dialog is being destroyed.
void destroy_history_controls();

// Pixels the shown panel takes at the right of the client area; 0 when it
// is hidden.
int history_panel_pixels();
// Shows or hides the panel, widening or narrowing the window.
void toggle_history_panel(win32_window& window);
// The client area is `width` x `height`, `extra_width` wider than the
// template's without the panel: moves the controls.
void layout_history_controls(win32_window& window, int extra_width, int height);

// WM_COMMAND for the history's controls (and Enter in its list): true when
// handled here.
bool history_command(win32_window& window, int id, int notification);
// WM_NOTIFY: the value fields' tooltips ask for their text.
void history_notify(const NMHDR* header);

// The context menu of value field `edit` (the caller destroys it), and the
// command of one of its items carried out.
HMENU make_field_menu(HWND edit);
void run_field_menu_command(win32_window& window, HWND edit, UINT command);
// The menu command that copies the field's value in `base`.
constexpr UINT copy_in_base_command(int base) { return 0x7000u + static_cast<UINT>(base); }

#endif
