// The six value fields, in one table that every layer reads: the core (the
// register behind each field, its name in the status texts), the dialog
// logic (the CL buttons), the windows (which fields take typing) and
// torvane-headless (the names a script may use). Plain identifiers only, so
// that a window's layer may include it without the engine.
#ifndef TORVANE_APP_CALC_VALUE_FIELDS_H
#define TORVANE_APP_CALC_VALUE_FIELDS_H

#include <array>

#include "../../resources/resource.h"

struct bignum;

// The registers behind the value fields.
struct register_set {
    bignum* x;
    bignum* y;
    bignum* z;
    bignum* a;
    bignum* b;
    bignum* ans;
};

struct value_field {
    int id;                          // the edit control
    bignum* register_set::*value;    // its register
    const char* name;                // in the status texts and in scripts
    int clear_button;                // its CL button
    const char* clear_name;          // the CL button's name in scripts
    bool operand;                    // the user types into it (Ans is read-only)
};

// The order of every loop over the fields: X, Y, Z, A, B, Ans.
inline constexpr int field_count = 6;
inline constexpr std::array<value_field, field_count> value_fields = {{
    {IDC_FIELD_X, &register_set::x, "X", IDC_CL_X, "clx", true},
    {IDC_FIELD_Y, &register_set::y, "Y", IDC_CL_Y, "cly", true},
    {IDC_FIELD_Z, &register_set::z, "Z", IDC_CL_Z, "clz", true},
    {IDC_FIELD_A, &register_set::a, "A", IDC_CL_A, "cla", true},
    {IDC_FIELD_B, &register_set::b, "B", IDC_CL_B, "clb", true},
    {IDC_FIELD_ANS, &register_set::ans, "Ans", IDC_CL_ANS, "clans", false},
}};

// The field ids alone, in the same order.
inline constexpr std::array<int, field_count> field_list = [] {
    std::array<int, field_count> ids{};
    for (int k = 0; k < field_count; ++k) ids[k] = value_fields[k].id;
    return ids;
}();

// Index of value field `id` in value_fields; -1 for any other control.
constexpr int value_field_index(int id) {
    for (int k = 0; k < field_count; ++k)
        if (value_fields[k].id == id) return k;
    return -1;
}

// Whether `id` is one of the fields the user types operands into: X, Y, Z,
// A and B (the answer field is read-only).
constexpr bool is_operand_field(int id) {
    const int k = value_field_index(id);
    return k >= 0 && value_fields[k].operand;
}

// The value field that CL button `id` clears, or 0 for any other control.
constexpr int field_of_clear_button(int id) {
    for (const value_field& f : value_fields)
        if (f.clear_button == id) return f.id;
    return 0;
}

#endif
