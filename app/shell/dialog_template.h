// The calculator dialog's template: title, size, font and every control with
// its id, kind, caption and rectangle in dialog units, in template (and tab)
// order. The Qt layer builds its window from this table; the Windows layer
// compiles resources/torvane.rc, and a test holds the .rc to this table, so
// the two windows cannot drift apart.
#ifndef TORVANE_APP_SHELL_DIALOG_TEMPLATE_H
#define TORVANE_APP_SHELL_DIALOG_TEMPLATE_H

#include "../../resources/resource.h"
#include "../calc/value_fields.h"
#include "../radix/base_table.h"

#include <array>

inline constexpr const char* dialog_title = "Torvane v1.14";
inline constexpr int dialog_width_units = 326;
inline constexpr int dialog_height_units = 267;
inline constexpr const char* dialog_font_face = "Courier New";
// Courier New is often missing on Linux; this face has the same metrics.
inline constexpr const char* dialog_font_fallback = "Liberation Mono";
inline constexpr int dialog_font_points = 9;

// Id of the controls the program never addresses (labels, group boxes).
inline constexpr int static_control_id = -1;

enum class control_kind {
    label,        // static text, left aligned, wraps
    field_edit,   // multi-line operand field with a vertical scroll bar
    answer_edit,  // multi-line, read-only, vertical scroll bar
    status_edit,  // single line, read-only, scrolls horizontally
    group_box,    // frame without a caption
    auto_radio,   // base radio button
    push_button,
    flat_button,  // CL, TO X, CLEAR ALL
};

struct template_control {
    int id;
    control_kind kind;
    const char* caption;
    int x, y, width, height;  // dialog units
    bool tab_stop;
    bool static_edge;
};

inline constexpr bool in_tab_order(control_kind kind)
{
    return kind != control_kind::label && kind != control_kind::group_box;
}

namespace template_detail {
using k = control_kind;
inline constexpr int s = static_control_id;
// tab stop and static edge, derived from the kind; the exceptions are
// spelled out in the table.
inline constexpr template_control c(int id, k kind, const char* caption, int x, int y, int w, int h)
{
    const bool edit = kind == k::field_edit || kind == k::answer_edit || kind == k::status_edit;
    return {id, kind, caption, x, y, w, h, in_tab_order(kind), edit};
}
inline constexpr template_control without_tab_stop(template_control control)
{
    control.tab_stop = false;
    return control;
}
inline constexpr template_control with_static_edge(template_control control)
{
    control.static_edge = true;
    return control;
}
// The radio button of the base in row `i` of the base table: the buttons
// stand in one line, 25 units apart.
inline constexpr template_control base_radio(std::size_t i)
{
    return c(base_table[i].radio_id, k::auto_radio, base_table[i].caption, 49 + 25 * static_cast<int>(i), 235, 24, 11);
}
}  // namespace template_detail

inline constexpr std::array<template_control, 50> dialog_controls = [] {
    using namespace template_detail;
    return std::array<template_control, 50>{{
        c(s, k::label, "X", 6, 22, 8, 8),
        c(IDC_FIELD_X, k::field_edit, "", 30, 15, 289, 28),
        c(s, k::label, "Y\nn", 5, 50, 8, 18),
        c(IDC_FIELD_Y, k::field_edit, "", 30, 44, 289, 26),
        c(s, k::label, "Z", 5, 84, 8, 11),
        c(IDC_FIELD_Z, k::field_edit, "", 30, 71, 289, 29),
        c(s, k::label, "A\n", 4, 112, 14, 17),
        c(IDC_FIELD_A, k::field_edit, "", 30, 100, 289, 26),
        c(s, k::label, "B\nLCM\nRem.", 4, 132, 14, 24),
        c(IDC_FIELD_B, k::field_edit, "", 30, 127, 289, 27),
        c(s, k::group_box, "", 2, 6, 322, 189),
        base_radio(0), base_radio(1), base_radio(2), base_radio(3),
        base_radio(4), base_radio(5), base_radio(6), base_radio(7),
        c(s, k::group_box, "", 2, 190, 322, 42),
        c(IDC_OP_ADD, k::push_button, "X&+Y", 30, 197, 21, 15),
        c(IDC_OP_SUB, k::push_button, "X&-Y", 6, 197, 21, 15),
        c(IDC_OP_MUL, k::push_button, "X&*Y", 57, 197, 21, 15),
        c(IDC_OP_DIV, k::push_button, "X&/Y", 82, 197, 21, 15),
        c(IDC_OP_POWER, k::push_button, "X&^n", 68, 214, 35, 15),
        c(IDC_OP_ROOT, k::push_button, "X^(1/&n)", 107, 214, 38, 15),
        c(IDC_OP_POWMOD, k::push_button, "X^Y &MOD Z", 198, 197, 50, 15),
        c(IDC_OP_FACTORIAL, k::push_button, "X &!", 6, 214, 21, 15),
        c(IDC_OP_GCD, k::push_button, "&GCD(X,Y)", 150, 214, 43, 15),
        c(IDC_OP_MODDIV, k::push_button, "Ans =Y/X MO&D Z", 255, 197, 63, 15),
        c(s, k::group_box, "", 1, 227, 250, 22),
        with_static_edge(c(IDC_ABOUT, k::push_button, "&About", 256, 233, 30, 15)),
        with_static_edge(c(IDC_EXIT, k::push_button, "&Exit", 290, 233, 30, 15)),
        c(s, k::label, "Base", 9, 235, 22, 10),
        c(IDC_STATUS, k::status_edit, "", 1, 251, 250, 12),
        c(IDC_FIELD_ANS, k::answer_edit, "", 30, 155, 289, 36),
        c(s, k::label, "GCD\nAns.", 4, 161, 13, 18),
        c(IDC_OP_LINEAR_MOD, k::push_button, "(A&X+BY)%Z", 107, 197, 39, 15),
        c(IDC_OP_POWMOD2, k::push_button, "X^A*Y^B M&OD Z", 255, 214, 63, 15),
        c(IDC_OP_PRODUCT, k::push_button, "X*Y*Z*A*&B", 198, 214, 50, 15),
        c(IDC_CL_X, k::flat_button, "CL", 17, 32, 11, 11),
        c(IDC_CL_Y, k::flat_button, "CL", 17, 59, 11, 11),
        c(IDC_CL_Z, k::flat_button, "CL", 17, 88, 11, 11),
        c(IDC_CL_A, k::flat_button, "CL", 18, 114, 11, 11),
        c(IDC_CL_B, k::flat_button, "CL", 19, 143, 11, 11),
        c(IDC_CL_ANS, k::flat_button, "CL", 20, 167, 11, 11),
        c(IDC_TO_X, k::flat_button, "&TO X", 7, 179, 21, 11),
        c(IDC_CLEAR_ALL, k::flat_button, "&CLEAR ALL", 2, 0, 45, 10),
        c(IDC_OP_PRIME, k::push_button, "&Prime(X)", 30, 214, 35, 15),
        without_tab_stop(c(IDC_OP_POWER_SUM, k::push_button, "X^A+&Y^B+Z", 150, 197, 43, 15)),
    }};
}();

// One radio button for each row of the base table.
static_assert([] {
    std::size_t radios = 0;
    for (const template_control& control : dialog_controls)
        radios += control.kind == control_kind::auto_radio ? 1 : 0;
    return radios == base_table.size();
}());

// What each operation button computes and which fields it reads and
// writes; both windows show it as the button's tooltip.
struct operation_tooltip {
    int id;
    const char* text;
};

inline constexpr std::array<operation_tooltip, 15> operation_tooltips = {{
    {IDC_OP_ADD, "Ans = X + Y"},
    {IDC_OP_SUB, "Ans = X - Y"},
    {IDC_OP_MUL, "Ans = X * Y"},
    {IDC_OP_DIV, "Ans = X / Y truncated; B = remainder"},
    {IDC_OP_POWER, "Ans = X ^ n, n in Y"},
    {IDC_OP_ROOT, "Ans = integer n-th root of |X|, n in Y; B = |X| - Ans ^ n"},
    {IDC_OP_POWMOD, "Ans = X ^ Y mod Z"},
    {IDC_OP_FACTORIAL, "Ans = |X|! (|X| <= 5910)"},
    {IDC_OP_GCD, "Ans = GCD(X, Y); B = LCM(X, Y)"},
    {IDC_OP_MODDIV, "Ans = Y / X mod Z: Ans * X = Y (mod Z)"},
    {IDC_OP_LINEAR_MOD, "Ans = (A * X + B * Y) mod Z"},
    {IDC_OP_POWMOD2, "Ans = X ^ A * Y ^ B mod Z"},
    {IDC_OP_PRODUCT, "Ans = X * Y * Z * A * B"},
    {IDC_OP_PRIME, "Is X prime? The status line answers, naming a small prime that divides X"},
    {IDC_OP_POWER_SUM, "Ans = X ^ A + Y ^ B + Z"},
}};

// The tooltip of control `id`, or null when it has none.
inline constexpr const char* tooltip_of(int id)
{
    for (const operation_tooltip& t : operation_tooltips)
        if (t.id == id)
            return t.text;
    return nullptr;
}

// Dialog base units of a font, as a dialog manager derives them: the
// horizontal unit is the average width of the 52 Latin letters (rounded),
// the vertical one the character cell height.
struct dialog_base_units {
    int x;
    int y;
};

inline constexpr dialog_base_units base_units_from_font(int width_of_52_letters, int char_height)
{
    return {(width_of_52_letters / 26 + 1) / 2, char_height};
}

// a * b / c rounded half away from zero, as Windows' MulDiv rounds.
inline constexpr int mul_div_rounded(int a, int b, int c)
{
    const long long product = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

struct pixel_rect {
    int x, y, width, height;
    friend constexpr bool operator==(const pixel_rect&, const pixel_rect&) = default;
};

// A rectangle in dialog units converted to pixels: each coordinate on its
// own, x and width by units.x / 4, y and height by units.y / 8.
inline constexpr pixel_rect to_pixels(int x, int y, int width, int height, dialog_base_units units)
{
    return {mul_div_rounded(x, units.x, 4), mul_div_rounded(y, units.y, 8),
            mul_div_rounded(width, units.x, 4), mul_div_rounded(height, units.y, 8)};
}

// ---- Resizing ------------------------------------------------------------
//
// The window starts at the template's size and may grow, never shrink. The
// six value fields take all the extra room: each the whole extra width and
// a sixth of the extra height, stacked in the order of value_fields. A
// control beside a field (its label, its CL button, TO X beside the answer)
// moves down with that field; the frame around the fields grows with them;
// everything below the fields moves down by the whole extra height, and the
// frame of the operation buttons, as wide as the field frame, grows with
// the width. Nothing else moves or changes size.

inline constexpr const template_control& template_entry(int id)
{
    for (const template_control& c : dialog_controls)
        if (c.id == id)
            return c;
    return dialog_controls[0];
}

// Which field row a control belongs to, by its middle in dialog units: -1
// above the first field, 0 to 5 beside a field (from that field's top to the
// next one's), 6 below the answer field.
inline constexpr int field_row_of(const template_control& c)
{
    const int middle = c.y + c.height / 2;
    const template_control& answer = template_entry(IDC_FIELD_ANS);
    if (middle >= answer.y + answer.height)
        return 6;
    int row = -1;
    for (const template_control& f : dialog_controls)
        if (const int i = value_field_index(f.id); i >= 0 && f.y <= middle && i > row)
            row = i;
    return row;
}

// The frames that stretch: the one around the fields, and any frame below
// them that reaches as far right as the fields do.
inline constexpr bool frames_the_fields(const template_control& c)
{
    const template_control& x = template_entry(IDC_FIELD_X);
    const template_control& answer = template_entry(IDC_FIELD_ANS);
    return c.kind == control_kind::group_box && c.y <= x.y && c.y + c.height >= answer.y + answer.height - 1;
}

inline constexpr bool spans_the_fields_width(const template_control& c)
{
    const template_control& x = template_entry(IDC_FIELD_X);
    return c.kind == control_kind::group_box && c.x + c.width >= x.x + x.width;
}

// Where control `c` goes in a window `extra_width` x `extra_height` pixels
// larger than the template, given where the template puts it (`at`, in
// pixels). Negative extras count as 0: the window never shrinks below the
// template.
inline constexpr pixel_rect stretched(const template_control& c, pixel_rect at, int extra_width, int extra_height)
{
    const int dw = extra_width > 0 ? extra_width : 0;
    const int dh = extra_height > 0 ? extra_height : 0;
    // Field row i starts i sixths of the extra height further down.
    const auto offset = [dh](int row) { return dh * row / 6; };
    if (const int i = value_field_index(c.id); i >= 0) {
        at.y += offset(i);
        at.height += offset(i + 1) - offset(i);
        at.width += dw;
    } else if (frames_the_fields(c)) {
        at.height += dh;
        at.width += dw;
    } else if (const int row = field_row_of(c); row == 6) {
        at.y += dh;
        if (spans_the_fields_width(c))
            at.width += dw;
    } else if (row >= 0) {
        at.y += offset(row);
    }
    return at;
}

// ---- The expression line -----------------------------------------------
//
// Beside the dialog's own controls, in a row of its own below them: a label
// and a one-line field in which Enter evaluates an expression (dialog.h,
// dialog_expression). Both are made by the program at run time, after the
// template's controls, so the line comes last in the tab order; the window
// starts taller than the template by the row.

inline constexpr int expression_row_units = 16;
inline constexpr int window_height_units = dialog_height_units + expression_row_units;
inline constexpr const char* expression_accessible_name = "Expression";

inline constexpr std::array<template_control, 2> expression_row = {{
    {IDC_EXPRESSION_LABEL, control_kind::label, "Expression", 2, 270, 42, 10, false, false},
    // A single-line edit that the user types into (its kind names only
    // its shape here).
    {IDC_EXPRESSION, control_kind::status_edit, "", 46, 268, 273, 12, true, true},
}};

// Where a control of the expression row goes in a window `extra_width` x
// `extra_height` pixels larger than at the start: down by the extra height,
// and the line as much wider.
inline constexpr pixel_rect stretched_row(const template_control& c, pixel_rect at, int extra_width, int extra_height)
{
    at.y += extra_height > 0 ? extra_height : 0;
    if (c.id == IDC_EXPRESSION)
        at.width += extra_width > 0 ? extra_width : 0;
    return at;
}

#endif
