// The field labels shown whole at any DPI. The template's labels are a
// little narrower than their captions in the dialog font ("Rem.", "Ans."
// lack two to five pixels at every DPI), and the frame around the fields,
// drawn after the labels that come before it in the template, painted over
// their first columns ("A" and "B" showed half). So the frames clip their
// painting to what the controls above them leave free, and a label whose
// caption does not fit takes the room beside it: as far left as the frame's
// edge and as far right as the next control in its rows, and shows its
// lines unbroken. Ids, captions and the tab order stay as the template has
// them.
#include "win32_window.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

// The width and height of `caption` drawn in `font`, each line on a row of
// its own.
SIZE caption_extent(HWND control, const char* caption)
{
    const HDC dc = GetDC(control);
    const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)));
    RECT extent = {0, 0, 0, 0};
    DrawTextA(dc, caption, -1, &extent, DT_LEFT | DT_EXPANDTABS | DT_CALCRECT);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    return {extent.right, extent.bottom};
}

bool overlap(int a, int a_length, int b, int b_length)
{
    return a < b + b_length && b < a + a_length;
}

}  // namespace

void win32_window::fit_labels()
{
    for (std::size_t i = 0; i < controls_.size(); ++i)
        if (controls_[i] != nullptr && dialog_controls[i].kind == control_kind::group_box)
            SetWindowLongA(controls_[i], GWL_STYLE, GetWindowLongA(controls_[i], GWL_STYLE) | WS_CLIPSIBLINGS);

    for (std::size_t i = 0; i < controls_.size(); ++i) {
        const template_control& label = dialog_controls[i];
        if (controls_[i] == nullptr || label.kind != control_kind::label)
            continue;
        pixel_rect& at = template_rects_[i];
        const SIZE extent = caption_extent(controls_[i], label.caption);
        const int need = static_cast<int>(extent.cx);
        if (need <= at.width && extent.cy <= at.height)
            continue;
        // A widened label is as high as its caption, so that it reaches
        // into no row below the caption's.
        const int height = static_cast<int>(extent.cy);
        // The room: from the inside of the frame the label stands in to the
        // first control on its right in its rows.
        int left = at.x;
        int right = at.x + std::max(at.width, need);
        for (std::size_t k = 0; k < controls_.size(); ++k) {
            const pixel_rect& other = template_rects_[k];
            if (k == i || controls_[k] == nullptr)
                continue;
            if (dialog_controls[k].kind == control_kind::group_box) {
                if (other.x < at.x && overlap(at.y, height, other.y, other.height))
                    left = std::min(left, other.x + 2);
            } else if (other.x > at.x && overlap(at.y, height, other.y, other.height)) {
                right = std::min(right, other.x);
            }
        }
        const int x = std::max(left, std::min(at.x, right - need));
        at = {x, at.y, std::max(at.width, right - x), height};
        // Its lines break where the caption breaks them, never inside a word
        // that reaches into the last, blank pixels of its advance.
        const LONG style = GetWindowLongA(controls_[i], GWL_STYLE);
        SetWindowLongA(controls_[i], GWL_STYLE, (style & ~SS_TYPEMASK) | SS_LEFTNOWORDWRAP);
    }
}
