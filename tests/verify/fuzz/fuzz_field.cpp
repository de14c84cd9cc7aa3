// Fuzz target: one field edit in any of the eight bases, then a render of
// every field in every base.
//
// Input: byte 0 picks the base of the edit, byte 1 the field (X, Y, Z, A or
// B), the rest is the text brought in: pasted when it has several
// characters, typed when one (over the field's typing limit it is refused,
// as the window refuses it). Then the dialog switches through all eight
// bases and back. Besides faults and sanitizer reports, it checks that a
// paste the status says was refused changed no register, that no base
// switch changes a register, that no engine error is left pending, and that
// a field's text in bases 2 to 60, typed back, reads as its register.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "calc.h"
#include "dialog.h"
#include "memory_window.h"

namespace {

memory_window* window = nullptr;
constexpr int bases[8] = {2, 8, 10, 16, 36, 60, 64, 256};
constexpr int radios[8] = {1013, 1014, 1015, 1016, 1018, 1017, 1019, 1020};
constexpr int operand_fields[5] = {1000, 1001, 1002, 1003, 1005};
bignum* saved[6];

void require(bool ok) {
    if (!ok) std::abort();
}

void switch_to(int k) {
    window->click_radio(radios[k]);
    dialog_command(*window, radios[k], notify_clicked);
}

void save_registers() {
    for (int i = 0; i < 6; ++i) copy_number(register_of(field_list[i]), saved[i]);
}

void registers_unchanged() {
    for (int i = 0; i < 6; ++i) require(compare_numbers(register_of(field_list[i]), saved[i]) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    window = new memory_window;
    dialog_initialise(*window);
    for (auto& s : saved) s = mirvar(0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const int k = data[0] % 8;
    const int field = operand_fields[data[1] % 5];
    std::string text(reinterpret_cast<const char*>(data) + 2, size - 2);

    dialog_command(*window, 1060, notify_clicked);  // CLEAR ALL: every input starts alike
    switch_to(k);
    save_registers();
    if (window->type(field, text)) {
        dialog_command(*window, field, text.size() > 1 ? notify_edit_pasted : notify_edit_changed);
        if (window->text(1007).find(" unchanged: ") != std::string::npos) registers_unchanged();
    }
    require(engine_error() == 0);

    save_registers();
    for (int j = 0; j < 8; ++j) {
        switch_to((k + 1 + j) % 8);
        require(engine_error() == 0);
        registers_unchanged();
        const int base = bases[(k + 1 + j) % 8];
        const std::string shown = window->text(field);
        if (base <= 60 && shown.size() <= static_cast<std::size_t>(field_typing_limit)) {
            // The rendered text of the edited field reads back as its register
            // (when a user could type it: within the field's typing limit).
            window->type(field, shown);
            dialog_command(*window, field, shown.size() > 1 ? notify_edit_pasted : notify_edit_changed);
            require(engine_error() == 0);
            registers_unchanged();
        }
    }
    return 0;
}
