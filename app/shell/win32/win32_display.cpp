// The dialog on screens of any DPI, and the keys every field answers.
//
// torvane.exe declares itself aware of each monitor's DPI (its manifest):
// Windows then leaves the dialog's pixels to the program instead of
// stretching a 96-DPI bitmap of it. The dialog manager lays the template out
// with a font of the DPI the dialog opens at; when the window moves to a
// monitor of another DPI, WM_DPICHANGED arrives and the dialog is laid out
// again here: a font of the new DPI, the template's rectangles converted with
// that font's dialog units, and the window at the size Windows suggests. The
// DPI functions are looked up at run time, since Windows before 10 (and
// Wine) may lack some of them.
#include "win32_window.h"

#include <commctrl.h>

#include <algorithm>

namespace {

template <class Function>
Function user32_function(const char* name)
{
    const HMODULE user32 = GetModuleHandleA("user32.dll");
    return user32 == nullptr ? nullptr : reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(user32, name)));
}

// The DPI the dialog's font is made for: the window's own where Windows
// knows it, the screen's otherwise.
UINT dpi_of(HWND window)
{
    using get_dpi_for_window = UINT(WINAPI*)(HWND);
    static const auto get_dpi = user32_function<get_dpi_for_window>("GetDpiForWindow");
    if (get_dpi != nullptr)
        if (const UINT dpi = get_dpi(window); dpi != 0)
            return dpi;
    const HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

// Ctrl+A selects the whole text of a field. The edit control turns the key
// into the character 1, which it would otherwise take as typing.
LRESULT CALLBACK field_keys(HWND edit, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR, DWORD_PTR)
{
    if (message == WM_CHAR && wparam == 1) {
        SendMessageA(edit, EM_SETSEL, 0, -1);
        return 0;
    }
    return DefSubclassProc(edit, message, wparam, lparam);
}

constexpr UINT_PTR field_keys_id = 0x7a22;

}  // namespace

dialog_base_units units_of(HWND dialog, HFONT font)
{
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    const HDC dc = GetDC(dialog);
    const HGDIOBJ old = SelectObject(dc, font);
    SIZE size = {};
    GetTextExtentPoint32A(dc, letters, 52, &size);
    TEXTMETRICA metrics = {};
    GetTextMetricsA(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(dialog, dc);
    return base_units_from_font(size.cx, metrics.tmHeight);
}

void win32_window::prepare_display()
{
    dpi_ = dpi_of(dialog_);
    // Windows 10 rescales a dialog of its own accord on a DPI change, but
    // not the layout of a window that has grown: the program does it all.
    using dialog_behaviour = BOOL(WINAPI*)(HWND, DIALOG_DPI_CHANGE_BEHAVIORS, DIALOG_DPI_CHANGE_BEHAVIORS);
    static const auto set_behaviour = user32_function<dialog_behaviour>("SetDialogDpiChangeBehavior");
    if (set_behaviour != nullptr)
        set_behaviour(dialog_, DDC_DISABLE_ALL, DDC_DISABLE_ALL);
    using control_behaviour = BOOL(WINAPI*)(HWND, DIALOG_CONTROL_DPI_CHANGE_BEHAVIORS,
                                            DIALOG_CONTROL_DPI_CHANGE_BEHAVIORS);
    static const auto set_control_behaviour = user32_function<control_behaviour>("SetDialogControlDpiChangeBehavior");
    const auto keep_font_and_place =
        static_cast<DIALOG_CONTROL_DPI_CHANGE_BEHAVIORS>(DCDC_DISABLE_FONT_UPDATE | DCDC_DISABLE_RELAYOUT);
    std::array<HWND, dialog_controls.size() + expression_row.size()> all{};
    std::copy(controls_.begin(), controls_.end(), all.begin());
    std::copy(row_.begin(), row_.end(), all.begin() + static_cast<std::ptrdiff_t>(controls_.size()));
    for (HWND control : all) {
        if (control == nullptr)
            continue;
        if (set_control_behaviour != nullptr)
            set_control_behaviour(control, keep_font_and_place, keep_font_and_place);
        char class_name[16] = {};
        GetClassNameA(control, class_name, sizeof class_name);
        if (lstrcmpiA(class_name, "Edit") == 0)
            SetWindowSubclass(control, field_keys, field_keys_id, 0);
    }
}

void win32_window::change_dpi(UINT dpi, const RECT& suggested)
{
    if (dpi == 0 || template_client_.cx == 0)
        return;
    // The dialog's font, made again for the new DPI.
    LOGFONTA face = {};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(dialog_, WM_GETFONT, 0, 0)), sizeof face, &face);
    face.lfHeight = -MulDiv(dialog_font_points, static_cast<int>(dpi), 72);
    face.lfWidth = 0;
    const HFONT font = CreateFontIndirectA(&face);
    if (font == nullptr)
        return;
    SendMessageA(dialog_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    for (HWND control : controls_)
        if (control != nullptr)
            SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    for (HWND control : row_)
        if (control != nullptr)
            SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (font_ != nullptr)
        DeleteObject(font_);
    font_ = font;
    dpi_ = dpi;

    // The template in pixels of the new font, as the dialog manager would
    // have laid it out at this DPI.
    const dialog_base_units units = units_of(dialog_, font);
    for (std::size_t i = 0; i < controls_.size(); ++i) {
        const template_control& c = dialog_controls[i];
        template_rects_[i] = to_pixels(c.x, c.y, c.width, c.height, units);
    }
    fit_labels();
    for (std::size_t i = 0; i < row_.size(); ++i) {
        const template_control& c = expression_row[i];
        row_rects_[i] = to_pixels(c.x, c.y, c.width, c.height, units);
    }
    const pixel_rect client = to_pixels(0, 0, dialog_width_units, window_height_units, units);
    template_client_ = {client.width, client.height};
    RECT frame = {0, 0, client.width, client.height};
    const auto style = static_cast<DWORD>(GetWindowLongA(dialog_, GWL_STYLE));
    const auto ex_style = static_cast<DWORD>(GetWindowLongA(dialog_, GWL_EXSTYLE));
    using adjust_for_dpi = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    static const auto adjust = user32_function<adjust_for_dpi>("AdjustWindowRectExForDpi");
    if (adjust != nullptr)
        adjust(&frame, style, FALSE, ex_style, dpi);
    else
        AdjustWindowRectEx(&frame, style, FALSE, ex_style);
    least_window_size_ = {frame.right - frame.left, frame.bottom - frame.top};

    // The window where Windows suggests, never below its least size; the
    // controls follow through WM_SIZE, or here when the size stays.
    const int width = std::max<int>(suggested.right - suggested.left, least_window_size_.x);
    const int height = std::max<int>(suggested.bottom - suggested.top, least_window_size_.y);
    SetWindowPos(dialog_, nullptr, suggested.left, suggested.top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    RECT now;
    GetClientRect(dialog_, &now);
    stretch_controls(now.right, now.bottom);
}

UINT win32_window::dpi() const
{
    return dpi_;
}
