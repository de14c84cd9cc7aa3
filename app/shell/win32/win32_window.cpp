#include "win32_window.h"

#include "../../../resources/resource.h"
#include "../dialog.h"

namespace {

win32_window* current_window = nullptr;

}  // namespace

int win32_window::read_field(int id, char* buffer, int size)
{
    return static_cast<int>(GetDlgItemTextA(dialog_, id, buffer, size));
}

void win32_window::write_field(int id, const char* text)
{
    writing_ = true;
    SetDlgItemTextA(dialog_, id, text);
    writing_ = false;
}

void win32_window::write_status(const char* text)
{
    write_field(IDC_STATUS, text);
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

INT_PTR CALLBACK torvane_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM)
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
        break;
    }
    case WM_COMMAND: {
        const int id = LOWORD(wparam);
        const int notification = HIWORD(wparam);
        if (notification == EN_CHANGE && window.writing())
            break;
        dialog_command(window, id, notification);
        break;
    }
    case WM_CLOSE:
        // A multi-line edit control answers Esc by asking its dialog to
        // close; Esc does nothing in this dialog, so only the close box,
        // Alt+F4 and other requests end it.
        if (GetKeyState(VK_ESCAPE) < 0)
            break;
        dialog_close(window);
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
