// torvane_probe.exe: torvane.exe with five test hooks, for the checks under
// Wine. It writes torvane-ready.txt into the current folder once the dialog
// is initialised, and beside it torvane-layout.txt: the DPI the dialog is
// laid out for, the sizes of its client area and window, and every caption
// of a button that its control cannot show whole ("clipped" lines, by how
// many pixels across and down); a second after it opens,
// torvane-labels.txt: the labels whose caption the screen shows cut (see
// write_drawn_labels); appends every status line it shows to torvane-status.log
// as "SECONDS TEXT" (wall-clock seconds since 1970, comparable with the
// moments the script pressed keys); and, when the dialog ends, writes every
// value field and the status field into torvane-fields.txt, one "id=text"
// line each. The shipped program has none of the hooks.
#include "shell/win32/win32_window.h"

#include "../../../../resources/resource.h"

#include "shell/dialog_template.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <initializer_list>
#include <string>

namespace {

class probe_window : public win32_window {
public:
    using win32_window::win32_window;

    void write_status(const char* text) override
    {
        if (std::FILE* log = std::fopen("torvane-status.log", "ab")) {
            const auto now = std::chrono::system_clock::now().time_since_epoch();
            std::fprintf(log, "%.3f %s\n", std::chrono::duration<double>(now).count(), text);
            std::fclose(log);
        }
        win32_window::write_status(text);
    }

    void end_dialog() override
    {
        if (std::FILE* out = std::fopen("torvane-fields.txt", "wb")) {
            static char text[70000];
            for (int id : {IDC_FIELD_X, IDC_FIELD_Y, IDC_FIELD_Z, IDC_FIELD_A, IDC_FIELD_B, IDC_FIELD_ANS, IDC_STATUS}) {
                GetDlgItemTextA(handle(), id, text, sizeof text);
                std::fprintf(out, "%d=%s\n", id, text);
            }
            std::fclose(out);
        }
        win32_window::end_dialog();
    }
};

probe_window* current_probe = nullptr;

// Whether `caption` fits control `item` in the control's own font, as the
// control draws it: a label wraps at words within its width, a button keeps
// one line beside its frame (and a radio button beside its circle).
// Returns the pixels missing across and down.
SIZE overflow_of(HWND item, control_kind kind, const char* caption, UINT dpi)
{
    RECT client;
    GetClientRect(item, &client);
    const HDC dc = GetDC(item);
    const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(item, WM_GETFONT, 0, 0)));
    int room = client.right;
    RECT text = {0, 0, client.right, 0};
    if (kind == control_kind::label) {
        DrawTextA(dc, caption, -1, &text, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
    } else {
        const int frame = MulDiv(2, static_cast<int>(dpi), 96);
        room -= 2 * frame;
        if (kind == control_kind::auto_radio)
            room -= GetSystemMetrics(SM_CXMENUCHECK) + MulDiv(2, static_cast<int>(dpi), 96);
        DrawTextA(dc, caption, -1, &text, DT_CALCRECT | DT_SINGLELINE);
    }
    SelectObject(dc, old);
    ReleaseDC(item, dc);
    return {std::max<LONG>(0, text.right - room), std::max<LONG>(0, text.bottom - client.bottom)};
}

void write_layout(HWND dialog, UINT dpi)
{
    std::FILE* out = std::fopen("torvane-layout.txt", "wb");
    if (out == nullptr)
        return;
    RECT client;
    GetClientRect(dialog, &client);
    RECT frame;
    GetWindowRect(dialog, &frame);
    std::fprintf(out, "dpi %u\nclient %ld %ld\nwindow %ld %ld\n", dpi, client.right, client.bottom,
                 frame.right - frame.left, frame.bottom - frame.top);
    HWND child = GetWindow(dialog, GW_CHILD);
    for (const template_control& c : dialog_controls) {
        // Labels: write_drawn_labels.
        const bool captioned = c.kind == control_kind::push_button || c.kind == control_kind::flat_button
                               || c.kind == control_kind::auto_radio;
        if (captioned && child != nullptr && c.caption[0] != '\0') {
            const SIZE missing = overflow_of(child, c.kind, c.caption, dpi);
            if (missing.cx > 0 || missing.cy > 0) {
                std::string shown = c.caption;
                for (char& ch : shown)
                    if (ch == '\n')
                        ch = '|';
                std::fprintf(out, "clipped %ld %ld %s\n", missing.cx, missing.cy, shown.c_str());
            }
        }
        if (child != nullptr)
            child = GetWindow(child, GW_HWNDNEXT);
    }
    std::fclose(out);
}

// The ink of a label's caption as the screen shows it, against the caption
// drawn whole (each of its lines on a row of its own, none broken or cut)
// with the label's font: the pixels the whole caption inks that the screen,
// within the label, does not. Missing ink means the caption shows cut, by
// the label's edges, by a line broken in two, or by another control
// painting over it.
struct label_ink {
    int wanted;
    int missing;
};

label_ink ink_of(HWND dialog, HWND label, const char* caption)
{
    RECT r;
    GetWindowRect(label, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    const HDC screen = GetDC(dialog);
    const HDC whole = CreateCompatibleDC(screen);
    const HGDIOBJ old_font = SelectObject(whole, reinterpret_cast<HFONT>(SendMessageA(label, WM_GETFONT, 0, 0)));
    RECT extent = {0, 0, 0, 0};
    DrawTextA(whole, caption, -1, &extent, DT_LEFT | DT_EXPANDTABS | DT_CALCRECT);
    const int w = std::max<int>(width, extent.right);
    const int h = std::max<int>(height, extent.bottom);
    const HBITMAP whole_bits = CreateCompatibleBitmap(screen, w, h);
    const HGDIOBJ old_whole = SelectObject(whole, whole_bits);
    RECT all = {0, 0, w, h};
    FillRect(whole, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SetTextColor(whole, RGB(0, 0, 0));
    SetBkMode(whole, TRANSPARENT);
    DrawTextA(whole, caption, -1, &all, DT_LEFT | DT_EXPANDTABS);
    const HDC shown = CreateCompatibleDC(screen);
    const HBITMAP shown_bits = CreateCompatibleBitmap(screen, width, height);
    const HGDIOBJ old_shown = SelectObject(shown, shown_bits);
    BitBlt(shown, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    const auto ink = [](COLORREF c) { return GetRValue(c) * 3 + GetGValue(c) * 6 + GetBValue(c) < 128 * 10; };
    label_ink result = {0, 0};
    for (int x = 0; x < w; ++x)
        for (int y = 0; y < h; ++y)
            if (ink(GetPixel(whole, x, y))) {
                ++result.wanted;
                if (x >= width || y >= height || !ink(GetPixel(shown, x, y)))
                    ++result.missing;
            }
    SelectObject(shown, old_shown);
    DeleteObject(shown_bits);
    DeleteDC(shown);
    SelectObject(whole, old_whole);
    SelectObject(whole, old_font);
    DeleteObject(whole_bits);
    DeleteDC(whole);
    ReleaseDC(dialog, screen);
    return result;
}

// Once the dialog is on the screen: torvane-labels.txt, a line "label
// MISSING WANTED CAPTION" for each label (the pixels of ink its caption
// lacks on the screen, of all it has), then "done".
void write_drawn_labels(HWND dialog)
{
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    std::FILE* out = std::fopen("torvane-labels.txt", "wb");
    if (out == nullptr)
        return;
    HWND child = GetWindow(dialog, GW_CHILD);
    for (const template_control& c : dialog_controls) {
        if (c.kind == control_kind::label && child != nullptr && c.caption[0] != '\0') {
            const label_ink ink = ink_of(dialog, child, c.caption);
            std::string shown = c.caption;
            for (char& ch : shown)
                if (ch == '\n')
                    ch = '|';
            std::fprintf(out, "label %d %d %s\n", ink.missing, ink.wanted, shown.c_str());
        }
        if (child != nullptr)
            child = GetWindow(child, GW_HWNDNEXT);
    }
    std::fputs("done\n", out);
    std::fclose(out);
}

constexpr UINT_PTR drawn_labels_timer = 0x6c61;

INT_PTR CALLBACK probe_procedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_TIMER && wparam == drawn_labels_timer) {
        // Shown and painted by now (the window opens within a second).
        if (IsWindowVisible(dialog)) {
            KillTimer(dialog, drawn_labels_timer);
            write_drawn_labels(dialog);
        }
        return 0;
    }
    const INT_PTR result = torvane_dialog_proc(dialog, message, wparam, lparam);
    if (message == WM_INITDIALOG) {
        SetTimer(dialog, drawn_labels_timer, 1000, nullptr);
        write_layout(dialog, current_probe->dpi());
        if (std::FILE* ready = std::fopen("torvane-ready.txt", "wb")) {
            std::fputs("ready\n", ready);
            std::fclose(ready);
        }
    }
    return result;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    probe_window window(instance);
    current_probe = &window;
    run_torvane_dialog(window, probe_procedure);
    return 0;
}
