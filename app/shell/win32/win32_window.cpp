#include "win32_window.h"

#include "../../../resources/resource.h"
#include "../dialog.h"
#include "../field_caret.h"
#include "win32_history.h"

#include <commctrl.h>

#include <cstring>
#include <string>
#include "value_fields.h"

namespace {

win32_window* current_window = nullptr;

// The caret of an edit control the user is typing in; the pointer form of
// EM_GETSEL reports positions beyond 65535 too.
int caret_of(HWND edit)
{
    DWORD start = 0;
    DWORD end = 0;
    SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return static_cast<int>(end);
}

std::string text_of(HWND control)
{
    std::string text(static_cast<std::size_t>(GetWindowTextLengthA(control)) + 1, '\0');
    const int n = GetWindowTextA(control, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<std::size_t>(n > 0 ? n : 0));
    return text;
}

// ---- Pasting ------------------------------------------------------------------
//
// A paste is one edit: the dialog logic hears of it once, after the edit
// control has put the whole text in, as a paste (notify_edit_pasted), so
// that it reads the text strictly. One that would not fit under the
// field's limit is refused whole, before the control could cut it.

constexpr UINT_PTR paste_guard_id = 0x70617374;

int pasting_field = 0;        // the field a paste is going into, or 0
bool paste_changed = false;   // the paste has changed that field's text

// The clipboard's text in the ANSI code page, or nothing.
std::string clipboard_text(HWND owner)
{
    std::string text;
    if (!IsClipboardFormatAvailable(CF_TEXT) || !OpenClipboard(owner))
        return text;
    if (HANDLE data = GetClipboardData(CF_TEXT)) {
        if (const char* chars = static_cast<const char*>(GlobalLock(data))) {
            text = chars;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

LRESULT CALLBACK paste_guard(HWND edit, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR, DWORD_PTR)
{
    if (message != WM_PASTE || current_window == nullptr || (GetWindowLongA(edit, GWL_STYLE) & ES_READONLY) != 0)
        return DefSubclassProc(edit, message, wparam, lparam);
    const std::string clip = clipboard_text(edit);
    if (clip.size() < 2)
        return DefSubclassProc(edit, message, wparam, lparam);  // nothing, or as one typed key
    const int id = GetDlgCtrlID(edit);
    DWORD start = 0;
    DWORD end = 0;
    SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    const auto limit = static_cast<std::size_t>(SendMessageA(edit, EM_GETLIMITTEXT, 0, 0));
    const auto kept = static_cast<std::size_t>(GetWindowTextLengthA(edit)) - (end - start);
    if (kept + clip.size() > limit) {
        PostMessageA(GetParent(edit), wm_field_cut, static_cast<WPARAM>(id), 0);
        return 0;
    }
    // The text read once is put in as the control's own paste would put
    // it: a second read of the clipboard can cost seconds under Wine.
    pasting_field = id;
    paste_changed = false;
    SendMessageA(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(clip.c_str()));
    pasting_field = 0;
    if (paste_changed)
        dialog_command(*current_window, id, notify_edit_pasted);
    return 0;
}

// The control that had the keyboard focus when a job began, if the job
// disabled it.
HWND focus_before_busy = nullptr;

// Replaces the text of multi-line edit `field`, `old_text`, with `text` by
// replacing only the part between what the two have in common at the start
// and at the end. The edit control lays its lines out again from the first
// changed one on: dropping a pasted line end from a number of 20000 digits
// then costs a line, not the whole field (Wine's edit control takes most of
// a minute to lay out such a field whole). A program write is never cut:
// the typing limit is lifted meanwhile.
void replace_changed_part(HWND field, const std::string& old_text, const char* text)
{
    const std::size_t length = std::strlen(text);
    std::size_t head = 0;
    while (head < old_text.size() && head < length && old_text[head] == text[head])
        ++head;
    std::size_t tail = 0;
    while (tail < old_text.size() - head && tail < length - head
           && old_text[old_text.size() - 1 - tail] == text[length - 1 - tail])
        ++tail;
    if (head == old_text.size() && head == length)
        return;
    const LRESULT limit = SendMessageA(field, EM_GETLIMITTEXT, 0, 0);
    SendMessageA(field, EM_SETLIMITTEXT, 0, 0);
    SendMessageA(field, EM_SETSEL, static_cast<WPARAM>(head), static_cast<LPARAM>(old_text.size() - tail));
    const std::string middle(text + head, length - head - tail);
    SendMessageA(field, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(middle.c_str()));
    SendMessageA(field, EM_SETLIMITTEXT, static_cast<WPARAM>(limit), 0);
}

}  // namespace

void win32_window::make_expression_row()
{
    const HFONT font = reinterpret_cast<HFONT>(SendMessageA(dialog_, WM_GETFONT, 0, 0));
    for (std::size_t i = 0; i < expression_row.size(); ++i) {
        const template_control& c = expression_row[i];
        // Each of x, y, width and height converted on its own, as the
        // dialog manager converts the template's.
        RECT units = {c.x, c.y, c.width, c.height};
        MapDialogRect(dialog_, &units);
        const RECT r = {units.left, units.top, units.left + units.right, units.top + units.bottom};
        const bool line = c.id == IDC_EXPRESSION;
        const DWORD style = WS_CHILD | WS_VISIBLE | (line ? WS_TABSTOP | ES_AUTOHSCROLL : SS_LEFT);
        const auto menu = reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id));
        // The line is a Unicode control, so that whatever is typed or pasted
        // reaches the dialog logic as it is (UTF-8) and a character that is
        // no part of an expression is named by its own code point.
        row_[i] = line ? CreateWindowExW(WS_EX_STATICEDGE, L"EDIT", L"", style, r.left, r.top, r.right - r.left,
                                         r.bottom - r.top, dialog_, menu, instance_, nullptr)
                       : CreateWindowExA(0, "STATIC", c.caption, style, r.left, r.top, r.right - r.left,
                                         r.bottom - r.top, dialog_, menu, instance_, nullptr);
        if (row_[i] == nullptr)
            continue;
        // Last among the dialog's children: after the template's controls
        // in the tab order, the label just before the line it names.
        SetWindowPos(row_[i], HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        SendMessageA(row_[i], WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        row_rects_[i] = {r.left, r.top, r.right - r.left, r.bottom - r.top};
    }
    // No cut: the dialog logic names a text that is too long.
    SendDlgItemMessageA(dialog_, IDC_EXPRESSION, EM_LIMITTEXT, 0, 0);
    // The window grows by the row, keeping its middle where it was: its
    // client area becomes the template's width and window_height_units.
    RECT full = {0, 0, dialog_width_units, window_height_units};
    MapDialogRect(dialog_, &full);
    RECT client;
    GetClientRect(dialog_, &client);
    const int row = full.bottom - client.bottom;
    RECT frame;
    GetWindowRect(dialog_, &frame);
    SetWindowPos(dialog_, nullptr, frame.left, frame.top - row / 2, frame.right - frame.left,
                 frame.bottom - frame.top + row, SWP_NOZORDER | SWP_NOACTIVATE);
}

std::string win32_window::expression_text() const
{
    HWND line = GetDlgItem(dialog_, IDC_EXPRESSION);
    if (line == nullptr)
        return {};
    const int length = GetWindowTextLengthW(line);
    std::wstring wide(static_cast<std::size_t>(length) + 1, L'\0');
    const int n = GetWindowTextW(line, wide.data(), length + 1);
    if (n <= 0)
        return {};
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, text.data(), bytes, nullptr, nullptr);
    return text;
}

void win32_window::prepare_controls()
{
    HWND child = GetWindow(dialog_, GW_CHILD);
    for (std::size_t i = 0; i < controls_.size() && child != nullptr; ++i, child = GetWindow(child, GW_HWNDNEXT)) {
        controls_[i] = child;
        RECT r;
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&r), 2);
        template_rects_[i] = {r.left, r.top, r.right - r.left, r.bottom - r.top};
    }
    fit_labels();
    RECT client;
    GetClientRect(dialog_, &client);
    template_client_ = {client.right, client.bottom};
    for (std::size_t i = 0; i < row_.size(); ++i) {
        if (row_[i] == nullptr)
            continue;
        RECT r;
        GetWindowRect(row_[i], &r);
        MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&r), 2);
        row_rects_[i] = {r.left, r.top, r.right - r.left, r.bottom - r.top};
    }
    RECT window;
    GetWindowRect(dialog_, &window);
    least_window_size_ = {window.right - window.left, window.bottom - window.top};
    stretch_controls(client.right, client.bottom);

    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&classes);
    HWND tips = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, dialog_, nullptr, instance_, nullptr);
    if (tips == nullptr)
        return;
    SendMessageA(tips, TTM_SETMAXTIPWIDTH, 0, 400);
    for (const operation_tooltip& tip : operation_tooltips) {
        // The size of the oldest tool record: every version of the common
        // controls takes it.
        TOOLINFOA tool = {};
        tool.cbSize = TTTOOLINFOA_V1_SIZE;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = dialog_;
        tool.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(dialog_, tip.id));
        tool.lpszText = const_cast<char*>(tip.text);
        SendMessageA(tips, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

void win32_window::stretch_controls(int width, int height)
{
    if (template_client_.cx == 0)
        return;  // not prepared yet
    // The history panel, when shown, takes its width at the right.
    width -= history_panel_pixels();
    HDWP moves = BeginDeferWindowPos(static_cast<int>(controls_.size() + row_.size()));
    for (std::size_t i = 0; i < controls_.size(); ++i) {
        if (controls_[i] == nullptr)
            continue;
        const pixel_rect r = stretched(dialog_controls[i], template_rects_[i], width - template_client_.cx,
                                       height - template_client_.cy);
        if (moves != nullptr)
            moves = DeferWindowPos(moves, controls_[i], nullptr, r.x, r.y, r.width, r.height,
                                   SWP_NOZORDER | SWP_NOACTIVATE);
    }
    for (std::size_t i = 0; i < row_.size(); ++i) {
        if (row_[i] == nullptr)
            continue;
        const pixel_rect r = stretched_row(expression_row[i], row_rects_[i], width - template_client_.cx,
                                           height - template_client_.cy);
        if (moves != nullptr)
            moves = DeferWindowPos(moves, row_[i], nullptr, r.x, r.y, r.width, r.height,
                                   SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (moves != nullptr)
        EndDeferWindowPos(moves);
    layout_history_controls(*this, width - template_client_.cx, height);
    InvalidateRect(dialog_, nullptr, TRUE);
}

int win32_window::read_field(int id, char* buffer, int size)
{
    return static_cast<int>(GetDlgItemTextA(dialog_, id, buffer, size));
}

void win32_window::write_field(int id, const char* text)
{
    // A field the user is typing in keeps its caret where the typing left
    // it, less what the program dropped before it; any other field starts
    // at the top, as a freshly written field does.
    HWND field = GetDlgItem(dialog_, id);
    const bool typing = field != nullptr && GetFocus() == field;
    const bool multi_line = field != nullptr && (GetWindowLongA(field, GWL_STYLE) & ES_MULTILINE) != 0;
    const std::string old_text = typing || multi_line ? text_of(field) : std::string();
    const int old_caret = typing ? caret_of(field) : 0;
    if (multi_line)
        replace_changed_part(field, old_text, text);
    else
        SetDlgItemTextA(dialog_, id, text);
    if (typing || multi_line) {
        const int caret = typing ? caret_after_rewrite(old_text, old_caret, text) : 0;
        SendMessageA(field, EM_SETSEL, static_cast<WPARAM>(caret), static_cast<LPARAM>(caret));
        SendMessageA(field, EM_SCROLLCARET, 0, 0);
    }
}

void win32_window::write_status(const char* text)
{
    write_field(IDC_STATUS, text);
    announce_status(text);
}

void win32_window::check_radio(int first, int last, int id)
{
    CheckRadioButton(dialog_, first, last, id);
}

void win32_window::limit_field(int id, int count)
{
    SendDlgItemMessageA(dialog_, id, EM_LIMITTEXT, static_cast<WPARAM>(count), 0);
}

void win32_window::message_box(const char* caption, const char* text)
{
    MessageBoxA(dialog_, text, caption, MB_OK | MB_ICONINFORMATION);
}

void win32_window::end_dialog()
{
    EndDialog(dialog_, 0);
}

void win32_window::post_wakeup()
{
    PostMessageA(dialog_, wm_torvane_wakeup, 0, 0);
}

void win32_window::set_busy(bool busy)
{
    busy_ = busy;
    for (const value_field& field : value_fields)
        if (field.operand)
            SendDlgItemMessageA(dialog_, field.id, EM_SETREADONLY, busy ? TRUE : FALSE, 0);
    // The buttons the job refuses look disabled. A disabled control cannot
    // keep the keyboard focus: it goes to the X field meanwhile (Esc still
    // cancels from there) and comes back afterwards.
    HWND focus = GetFocus();
    HWND x_field = GetDlgItem(dialog_, IDC_FIELD_X);
    if (busy) {
        const int focus_id = focus != nullptr && GetParent(focus) == dialog_ ? GetDlgCtrlID(focus) : 0;
        focus_before_busy = refused_while_busy(focus_id) ? focus : nullptr;
        if (focus_before_busy != nullptr)
            SendMessageA(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(x_field), TRUE);
    }
    for (const template_control& control : dialog_controls)
        if (refused_while_busy(control.id))
            EnableWindow(GetDlgItem(dialog_, control.id), busy ? FALSE : TRUE);
    SendDlgItemMessageA(dialog_, IDC_EXPRESSION, EM_SETREADONLY, busy ? TRUE : FALSE, 0);
    if (!busy && focus_before_busy != nullptr) {
        if (GetFocus() == x_field)
            SendMessageA(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(focus_before_busy), TRUE);
        focus_before_busy = nullptr;
    }
}

INT_PTR CALLBACK torvane_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    win32_window& window = *current_window;
    switch (message) {
    case WM_INITDIALOG: {
        window.attach(dialog);
        const HICON small_icon = LoadIconA(window.instance(), MAKEINTRESOURCEA(IDI_TORVANE));
        SendMessageA(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon));
        const HICON large_icon = LoadIconA(window.instance(), MAKEINTRESOURCEA(IDI_TORVANE));
        SendMessageA(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(large_icon));
        dialog_initialise(window);
        window.make_expression_row();
        window.prepare_controls();
        for (const value_field& field : value_fields)
            if (field.operand)
                SetWindowSubclass(GetDlgItem(dialog, field.id), paste_guard, paste_guard_id, 0);
        window.prepare_display();
        create_history_controls(window);
        window.name_controls();
        break;
    }
    case WM_DPICHANGED:
        window.change_dpi(HIWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
        break;
    case WM_COMMAND: {
        const int id = LOWORD(wparam);
        const int notification = HIWORD(wparam);
        if (history_command(window, id, notification))
            break;
        if (notification == EN_MAXTEXT) {
            // The edit control reports the cut before the change it still
            // makes; the report waits for that change to be handled.
            PostMessageA(dialog, wm_field_cut, static_cast<WPARAM>(id), 0);
            break;
        }
        if (id == IDOK && GetFocus() == GetDlgItem(dialog, IDC_EXPRESSION)) {
            // Enter in the expression line; anywhere else the dialog's OK
            // command does nothing.
            dialog_expression(window, window.expression_text());
            break;
        }
        if (notification == EN_CHANGE && id == pasting_field) {
            // Reported once the whole paste is in (paste_guard).
            paste_changed = true;
            break;
        }
        dialog_command(window, id, notification);
        break;
    }
    case wm_field_cut:
        dialog_command(window, static_cast<int>(wparam), notify_edit_full);
        break;
    case WM_SIZE:
        if (wparam != SIZE_MINIMIZED)
            window.stretch_controls(LOWORD(lparam), HIWORD(lparam));
        break;
    case WM_GETMINMAXINFO: {
        const POINT least = window.least_window_size();
        if (least.x > 0)
            reinterpret_cast<MINMAXINFO*>(lparam)->ptMinTrackSize = {least.x + history_panel_pixels(), least.y};
        break;
    }
    case WM_CLOSE:
        // A multi-line edit control answers Esc by asking its dialog to
        // close; Esc is the dialog's Cancel command, so only the close box,
        // Alt+F4 and other requests end it.
        if (GetKeyState(VK_ESCAPE) < 0)
            dialog_command(window, IDCANCEL, notify_clicked);
        else
            dialog_close(window);
        break;
    case wm_torvane_wakeup:
        dialog_wakeup(window);
        break;
    case WM_CTLCOLORSTATIC: {
        // A read-only edit is drawn like a label; the operand fields keep
        // their usual look while a job makes them read-only for a moment.
        const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lparam));
        if (!window.busy() || !is_operand_field(id))
            break;
        const HDC dc = reinterpret_cast<HDC>(wparam);
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_WINDOW));
    }
    case WM_NOTIFY:
        history_notify(reinterpret_cast<const NMHDR*>(lparam));
        break;
    case WM_DESTROY:
        dialog_destroyed(window);
        destroy_history_controls();
        break;
    default:
        break;
    }
    return 0;
}

void run_torvane_dialog(win32_window& window, DLGPROC procedure)
{
    current_window = &window;
    DialogBoxParamA(window.instance(), MAKEINTRESOURCEA(IDD_TORVANE), nullptr, procedure, 0);
    current_window = nullptr;
}

HWND create_torvane_dialog(win32_window& window)
{
    current_window = &window;
    return CreateDialogParamA(window.instance(), MAKEINTRESOURCEA(IDD_TORVANE), nullptr, torvane_dialog_proc, 0);
}
