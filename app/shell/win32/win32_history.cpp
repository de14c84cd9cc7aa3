#include "win32_history.h"

#include "../dialog.h"
#include "../history.h"
#include "base_table.h"
#include "value_fields.h"
#include "win32_window.h"

#include <commctrl.h>

#include <cstring>
#include <string>

namespace {

struct strip_button {
    int id;
    const char* caption;
    int x;
    int width;
};
// Right of CLEAR ALL, ending at the frame's right edge (dialog units).
constexpr strip_button strip[] = {
    {IDC_UNDO, "&Undo", 205, 36},
    {IDC_REDO, "&Redo", 244, 36},
    {IDC_HISTORY_TOGGLE, "&History", 283, 40},
};
constexpr const char* strip_tips[] = {
    "Undo the last change of the registers: an operation, CL, CLEAR ALL, TO X, a recall, a paste or a base switch "
    "(Alt+U). Ctrl+Z in a field undoes typing there.",
    "Redo what Undo took back (Alt+R).",
    "Show or hide the history of answers (Alt+H)",
};
constexpr int strip_height = 10;
constexpr int panel_units = 200;
constexpr UINT_PTR field_menu_id = 0x6d6e75;

HWND dialog_handle = nullptr;
HWND buttons[3] = {};
HWND title = nullptr;
HWND list = nullptr;
HWND recall = nullptr;
HWND tips = nullptr;
bool panel_shown = false;
std::string tip_text;  // the text a tooltip shows, kept while it shows it

// The font of the template's controls now: it changes with the DPI.
HFONT dialog_font()
{
    return reinterpret_cast<HFONT>(SendDlgItemMessageA(dialog_handle, IDC_FIELD_X, WM_GETFONT, 0, 0));
}

// Dialog units of that font.
dialog_base_units units()
{
    return units_of(dialog_handle, dialog_font());
}

int panel_width_pixels()
{
    return to_pixels(0, 0, panel_units, 0, units()).width;
}

HWND make(const char* cls, const char* text, DWORD style, int id, HINSTANCE instance)
{
    HWND control = CreateWindowExA(0, cls, text, WS_CHILD | style, 0, 0, 10, 10, dialog_handle,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(dialog_font()), FALSE);
    return control;
}

void refill(void*)
{
    if (list == nullptr)
        return;
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    int widest = 0;
    const HDC dc = GetDC(list);
    const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(list, WM_GETFONT, 0, 0)));
    const std::size_t count = history_entries().size();
    for (std::size_t n = 1; n <= count; ++n) {
        const std::string line = history_line(n, false);
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
        SIZE size = {};
        GetTextExtentPoint32A(dc, line.c_str(), static_cast<int>(line.size()), &size);
        if (size.cx > widest)
            widest = size.cx;
    }
    SelectObject(dc, old);
    ReleaseDC(list, dc);
    SendMessageA(list, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(widest + 8), 0);
    if (count > 0)
        SendMessageA(list, LB_SETCURSEL, count - 1, 0);
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

void recall_selected(win32_window& window)
{
    const LRESULT row = SendMessageA(list, LB_GETCURSEL, 0, 0);
    if (row != LB_ERR)
        dialog_recall(window, static_cast<std::size_t>(row) + 1);
}

void add_tool(HWND control, const char* text)
{
    TOOLINFOA tool = {};
    tool.cbSize = TTTOOLINFOA_V1_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = dialog_handle;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = const_cast<char*>(text);
    SendMessageA(tips, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

LRESULT CALLBACK field_menu(HWND edit, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR, DWORD_PTR data)
{
    if (message != WM_CONTEXTMENU)
        return DefSubclassProc(edit, message, wparam, lparam);
    POINT at = {static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
    if (lparam == -1) {
        // From the keyboard: at the field's top left corner.
        at = {4, 4};
        ClientToScreen(edit, &at);
    }
    HMENU menu = make_field_menu(edit);
    const UINT command = static_cast<UINT>(
        TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, edit, nullptr));
    DestroyMenu(menu);
    if (command != 0)
        run_field_menu_command(*reinterpret_cast<win32_window*>(data), edit, command);
    return 0;
}

// The edit control's own menu entries.
enum : UINT { menu_undo = 1, menu_cut, menu_copy, menu_paste, menu_delete, menu_select_all };

}  // namespace

void create_history_controls(win32_window& window)
{
    dialog_handle = window.handle();
    HINSTANCE instance = window.instance();
    panel_shown = false;
    for (std::size_t i = 0; i < 3; ++i)
        buttons[i] = make("BUTTON", strip[i].caption, WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON | BS_FLAT, strip[i].id,
                          instance);
    // The label before the list names it for a screen reader.
    title = make("STATIC", "Hi&story", SS_LEFT, -1, instance);
    list = make("LISTBOX", "", WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | WS_BORDER | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT,
                IDC_HISTORY_LIST, instance);
    recall = make("BUTTON", "Reca&ll entry", WS_TABSTOP | BS_PUSHBUTTON, IDC_RECALL, instance);

    tips = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, dialog_handle, nullptr, instance, nullptr);
    if (tips != nullptr) {
        SendMessageA(tips, TTM_SETMAXTIPWIDTH, 0, 400);
        for (std::size_t i = 0; i < 3; ++i)
            add_tool(buttons[i], strip_tips[i]);
        add_tool(list, "Enter or a double click puts the entry's operands and answer back");
        add_tool(recall, "Put the selected entry's operands and answer back (Alt+L, Enter)");
        for (const value_field& f : value_fields)
            add_tool(GetDlgItem(dialog_handle, f.id), LPSTR_TEXTCALLBACKA);
    }
    for (const value_field& f : value_fields)
        SetWindowSubclass(GetDlgItem(dialog_handle, f.id), field_menu, field_menu_id,
                          reinterpret_cast<DWORD_PTR>(&window));
    set_history_listener(refill, nullptr);
    refill(nullptr);
    RECT client;
    GetClientRect(dialog_handle, &client);
    window.stretch_controls(client.right, client.bottom);
}

void destroy_history_controls()
{
    set_history_listener(nullptr, nullptr);
    if (tips != nullptr)
        DestroyWindow(tips);
    tips = list = recall = title = nullptr;
    dialog_handle = nullptr;
    panel_shown = false;
}

int history_panel_pixels()
{
    return panel_shown && dialog_handle != nullptr ? panel_width_pixels() : 0;
}

void toggle_history_panel(win32_window& window)
{
    const int panel = panel_width_pixels();
    panel_shown = !panel_shown;
    const int show = panel_shown ? SW_SHOW : SW_HIDE;
    ShowWindow(title, show);
    ShowWindow(list, show);
    ShowWindow(recall, show);
    RECT frame;
    GetWindowRect(dialog_handle, &frame);
    SetWindowPos(dialog_handle, nullptr, 0, 0, frame.right - frame.left + (panel_shown ? panel : -panel),
                 frame.bottom - frame.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT client;
    GetClientRect(dialog_handle, &client);
    window.stretch_controls(client.right, client.bottom);
    if (panel_shown)
        SendMessageA(dialog_handle, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(list), TRUE);
}

void layout_history_controls(win32_window&, int extra_width, int height)
{
    if (dialog_handle == nullptr)
        return;
    const dialog_base_units u = units();
    const HFONT font = dialog_font();
    const int dx = extra_width > 0 ? extra_width : 0;
    for (std::size_t i = 0; i < 3; ++i) {
        const pixel_rect r = to_pixels(strip[i].x, 0, strip[i].width, strip_height, u);
        SendMessageA(buttons[i], WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        MoveWindow(buttons[i], r.x + dx, r.y, r.width, r.height, TRUE);
    }
    const int left = to_pixels(0, 0, dialog_width_units, 0, u).width + dx;
    const int width = panel_width_pixels();
    const int margin = to_pixels(4, 2, 0, 0, u).x;
    const pixel_rect line = to_pixels(0, 0, 0, 10, u);
    const pixel_rect button = to_pixels(0, 0, 0, 15, u);
    for (HWND c : {title, list, recall})
        SendMessageA(c, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    MoveWindow(title, left + margin, margin, width - 2 * margin, line.height, TRUE);
    const int list_top = margin + line.height;
    const int list_height = height - list_top - button.height - 2 * margin;
    MoveWindow(list, left + margin, list_top, width - 2 * margin, list_height > 0 ? list_height : 0, TRUE);
    MoveWindow(recall, left + margin, height - button.height - margin, width - 2 * margin, button.height, TRUE);
}

bool history_command(win32_window& window, int id, int notification)
{
    if (list == nullptr)
        return false;
    if (id == IDOK && GetFocus() == list) {
        // Enter in the list: the dialog manager's OK command.
        recall_selected(window);
        return true;
    }
    if (id == IDC_HISTORY_TOGGLE) {
        if (notification == BN_CLICKED)
            toggle_history_panel(window);
        return true;
    }
    if (id == IDC_RECALL) {
        if (notification == BN_CLICKED)
            recall_selected(window);
        return true;
    }
    if (id == IDC_HISTORY_LIST) {
        if (notification == LBN_DBLCLK)
            recall_selected(window);
        return true;
    }
    return false;
}

void history_notify(const NMHDR* header)
{
    if (header->code != TTN_GETDISPINFOA || tips == nullptr || header->hwndFrom != tips)
        return;
    auto* info = reinterpret_cast<NMTTDISPINFOA*>(const_cast<NMHDR*>(header));
    const int id = GetDlgCtrlID(reinterpret_cast<HWND>(info->hdr.idFrom));
    tip_text = field_value_tip(id);
    info->lpszText = tip_text.data();
}

HMENU make_field_menu(HWND edit)
{
    const bool read_only = (GetWindowLongA(edit, GWL_STYLE) & ES_READONLY) != 0;
    DWORD start = 0;
    DWORD end = 0;
    SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    const bool selected = end > start;
    const auto state = [](bool enabled) { return MF_STRING | (enabled ? MF_ENABLED : MF_GRAYED); };
    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, state(!read_only && SendMessageA(edit, EM_CANUNDO, 0, 0) != 0), menu_undo, "&Undo\tCtrl+Z");
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, state(!read_only && selected), menu_cut, "Cu&t\tCtrl+X");
    AppendMenuA(menu, state(selected), menu_copy, "&Copy\tCtrl+C");
    AppendMenuA(menu, state(!read_only && IsClipboardFormatAvailable(CF_TEXT)), menu_paste, "&Paste\tCtrl+V");
    AppendMenuA(menu, state(!read_only && selected), menu_delete, "&Delete\tDel");
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, menu_select_all, "Select &All\tCtrl+A");
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    HMENU bases = CreatePopupMenu();
    for (const base_entry& b : base_table)
        AppendMenuA(bases, MF_STRING, copy_in_base_command(b.base), b.caption);
    AppendMenuA(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(bases), "Copy in &base");
    return menu;
}

void run_field_menu_command(win32_window&, HWND edit, UINT command)
{
    switch (command) {
    case menu_undo: SendMessageA(edit, EM_UNDO, 0, 0); return;
    case menu_cut: SendMessageA(edit, WM_CUT, 0, 0); return;
    case menu_copy: SendMessageA(edit, WM_COPY, 0, 0); return;
    case menu_paste: SendMessageA(edit, WM_PASTE, 0, 0); return;
    case menu_delete: SendMessageA(edit, WM_CLEAR, 0, 0); return;
    case menu_select_all: SendMessageA(edit, EM_SETSEL, 0, -1); return;
    default: break;
    }
    for (const base_entry& b : base_table) {
        const int base = b.base;
        if (command != copy_in_base_command(base))
            continue;
        std::string text;
        if (!field_text_in_base(GetDlgCtrlID(edit), base, text) || !OpenClipboard(edit))
            return;
        EmptyClipboard();
        if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1)) {
            std::memcpy(GlobalLock(memory), text.c_str(), text.size() + 1);
            GlobalUnlock(memory);
            if (SetClipboardData(CF_TEXT, memory) == nullptr)
                GlobalFree(memory);
        }
        CloseClipboard();
    }
}
