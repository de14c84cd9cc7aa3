// What a screen reader says for the dialog's controls, and when it is told
// of a new status line. Both windows take their accessible names from this
// table; a control that is not in it (an operation button, About, Exit) is
// named by its caption without the mnemonic mark.
#ifndef TORVANE_APP_SHELL_ACCESSIBLE_NAMES_H
#define TORVANE_APP_SHELL_ACCESSIBLE_NAMES_H

#include "../../resources/resource.h"
#include "../radix/base_table.h"

#include <array>
#include <chrono>
#include <cstring>

struct accessible_name {
    int id;
    const char* name;
};

// The value fields by their rows as a person would say them; the six CL
// buttons, TO X and CLEAR ALL by what they act on (their captions alone
// would be six times "CL"); the base radio buttons, after them, with the
// word "Base" (base_table.h).
inline constexpr std::array<accessible_name, 15> named_controls = {{
    {IDC_FIELD_X, "X"},
    {IDC_FIELD_Y, "Y or n"},
    {IDC_FIELD_Z, "Z"},
    {IDC_FIELD_A, "A"},
    {IDC_FIELD_B, "B, LCM or remainder"},
    {IDC_FIELD_ANS, "Answer, GCD"},
    {IDC_STATUS, "Status"},
    {IDC_CL_X, "Clear X"},
    {IDC_CL_Y, "Clear Y"},
    {IDC_CL_Z, "Clear Z"},
    {IDC_CL_A, "Clear A"},
    {IDC_CL_B, "Clear B"},
    {IDC_CL_ANS, "Clear answer"},
    {IDC_TO_X, "Copy answer to X"},
    {IDC_CLEAR_ALL, "Clear all fields"},
}};

inline constexpr std::array<accessible_name, named_controls.size() + base_table.size()> accessible_names = [] {
    std::array<accessible_name, named_controls.size() + base_table.size()> all{};
    std::size_t n = 0;
    for (const accessible_name& c : named_controls)
        all[n++] = c;
    for (const base_entry& b : base_table)
        all[n++] = {b.radio_id, b.spoken_name};
    return all;
}();

// The accessible name of control `id`, or null when its caption names it.
inline constexpr const char* accessible_name_of(int id)
{
    for (const accessible_name& n : accessible_names)
        if (n.id == id)
            return n.name;
    return nullptr;
}

// Decides which status lines a window announces to assistive technology.
// Every new line is announced (an answer's bit lengths, a refusal, "ALL
// Cleared.") except that a running job's "Working... N%" is announced when
// it is the first of its job, and then at most once in `progress_interval`:
// the share changes several times a second, which no listener can follow.
class status_announcer {
public:
    using clock = std::chrono::steady_clock;
    static constexpr clock::duration progress_interval = std::chrono::seconds(5);

    bool should_announce(const char* text, clock::time_point now)
    {
        const bool progress = std::strncmp(text, "Working...", 10) == 0;
        if (!progress) {
            in_progress_ = false;
            return true;
        }
        if (in_progress_ && now - last_progress_ < progress_interval)
            return false;
        in_progress_ = true;
        last_progress_ = now;
        return true;
    }

private:
    bool in_progress_ = false;
    clock::time_point last_progress_{};
};

#endif
