// The bases the calculator shows its numbers in, one row each: everything
// the program knows about a base is here, and every other place (the radio
// buttons and their template rows, the core, the text codec, the script
// names of torvane-headless, the session file, the accessible names and the
// Copy in base menus) reads it from this table.
#ifndef TORVANE_APP_RADIX_BASE_TABLE_H
#define TORVANE_APP_RADIX_BASE_TABLE_H

#include <array>
#include <cstddef>

struct base_entry {
    int base;
    // Id of the base's radio button; resources/resource.h names the same
    // ids for the Windows resource script, and the core checks they agree.
    int radio_id;
    const char* caption;      // the radio button's caption
    const char* script_name;  // the button's name in a torvane-headless script
    const char* spoken_name;  // what a screen reader says for the button
    // The digits a field of this base takes, in order of value, or null for
    // base 256, whose fields hold raw bytes and take any text as it is.
    const char* alphabet;
    bool either_case;  // the letters of the alphabet are taken in lower case too
    char prefix;       // the letter of the prefix "0x" a pasted number may carry, or 0
    bool has_sign;     // whether the field's text shows the sign of a negative value
};

inline constexpr char decimal_and_upper_alphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
inline constexpr char hex_digits_upper[] = "0123456789ABCDEF";
inline constexpr char base60_alphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwx";
inline constexpr char base64_alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// In the order of the radio buttons, left to right (and in tab order). The
// ids are not in that order: base 60's button is 1017, base 36's 1018.
inline constexpr std::array<base_entry, 8> base_table = {{
    {2, 1013, "2", "base2", "Base 2", "01", false, 'b', true},
    {8, 1014, "8", "base8", "Base 8", "01234567", false, 'o', true},
    {10, 1015, "10", "base10", "Base 10", "0123456789", false, 0, true},
    {16, 1016, "16", "base16", "Base 16", hex_digits_upper, true, 'x', true},
    {36, 1018, "36", "base36", "Base 36", decimal_and_upper_alphabet, false, 0, true},
    {60, 1017, "60", "base60", "Base 60", base60_alphabet, false, 0, true},
    {64, 1019, "64", "base64", "Base 64", base64_alphabet, false, 0, true},
    {256, 1020, "256", "base256", "Base 256", nullptr, false, 0, false},
}};

// The row of `base`, or null when the calculator has no such base.
inline constexpr const base_entry* find_base(int base)
{
    for (const base_entry& b : base_table)
        if (b.base == base)
            return &b;
    return nullptr;
}

// The row whose radio button is `id`, or null.
inline constexpr const base_entry* find_base_by_radio(int id)
{
    for (const base_entry& b : base_table)
        if (b.radio_id == id)
            return &b;
    return nullptr;
}

// The lowest and highest radio id: the group that checking one button
// unchecks the others of.
inline constexpr int first_base_radio = [] {
    int id = base_table[0].radio_id;
    for (const base_entry& b : base_table)
        id = b.radio_id < id ? b.radio_id : id;
    return id;
}();
inline constexpr int last_base_radio = [] {
    int id = base_table[0].radio_id;
    for (const base_entry& b : base_table)
        id = b.radio_id > id ? b.radio_id : id;
    return id;
}();

// The ids form one run with no other control between them.
static_assert(last_base_radio - first_base_radio + 1 == static_cast<int>(base_table.size()));

#endif
