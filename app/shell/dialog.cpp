// Turns the window's events into calls on the calculation core: a field edit
// re-reads that field, a base button redraws every field in the new base, an
// operation button runs one operation, and CL, CLEAR ALL, TO X, About and
// Exit do their small jobs.
#include "dialog.h"

#include <cstdio>
#include <cstring>

#include "calc.h"
#include "operations.h"
#include "radix.h"
#include "resource.h"

const char* const about_text = "Torvane v1.x\nApr. 2008\ncontact me:\ntorvane@example.org";

namespace {

int base_of_button(int id) {
    switch (id) {
    case IDC_BASE_2: return 2;
    case IDC_BASE_8: return 8;
    case IDC_BASE_10: return 10;
    case IDC_BASE_16: return 16;
    case IDC_BASE_36: return 36;
    case IDC_BASE_60: return 60;
    case IDC_BASE_64: return 64;
    case IDC_BASE_256: return 256;
    default: return 0;
    }
}

int field_of_clear_button(int id) {
    switch (id) {
    case IDC_CL_X: return IDC_FIELD_X;
    case IDC_CL_Y: return IDC_FIELD_Y;
    case IDC_CL_Z: return IDC_FIELD_Z;
    case IDC_CL_A: return IDC_FIELD_A;
    case IDC_CL_B: return IDC_FIELD_B;
    case IDC_CL_ANS: return IDC_FIELD_ANS;
    default: return 0;
    }
}

bool is_operand_field(int id) {
    return id == IDC_FIELD_X || id == IDC_FIELD_Y || id == IDC_FIELD_Z || id == IDC_FIELD_A || id == IDC_FIELD_B;
}

// Base 256 writes magnitudes only: on the way into it, the status says which
// registers have a sign the fields no longer show.
void report_hidden_signs(dialog_window& window) {
    static const char* const names[] = {"X", "Y", "Z", "A", "B", "Ans"};
    char status[256] = "Base 256 shows no sign: ";
    int negative = 0;
    for (int i = 0; i < 6; ++i) {
        if (sign_of(register_of(field_list[i])) >= 0) continue;
        if (negative++ > 0) std::strcat(status, ", ");
        std::strcat(status, names[i]);
    }
    if (negative == 0) return;
    std::strcat(status, negative == 1 ? " is negative." : " are negative.");
    window.write_status(status);
}

void switch_base(dialog_window& window, int base) {
    busy_marker = busy_value;
    if (base != current_base) {
        const int old_base = current_base;
        current_base = base;
        bool shown = true;
        for (int id : field_list) shown = render_field(window, id, base) && shown;
        if (!shown) {
            // Some value cannot be written in the new base: stay in the old
            // one, with every field showing its register as before.
            char status[256];
            take_engine_error(status, sizeof status);
            current_base = old_base;
            for (int id : field_list) render_field(window, id, old_base);
            char ignored[256];
            take_engine_error(ignored, sizeof ignored);
            window.write_status(status);
        } else if (base == 256) {
            report_hidden_signs(window);
        }
    }
    busy_marker = 0;
}

const char* field_name(int field_id) {
    switch (field_id) {
    case IDC_FIELD_X: return "X";
    case IDC_FIELD_Y: return "Y";
    case IDC_FIELD_Z: return "Z";
    case IDC_FIELD_A: return "A";
    default: return "B";
    }
}

// The field kept only what fits under its limit: say so, rather than let a
// shortened number pass for the one the user entered.
void report_input_cut(dialog_window& window, int field_id) {
    char status[256];
    std::snprintf(status, sizeof status, "Input cut: %s takes at most %d characters ...\n", field_name(field_id),
                  field_typing_limit);
    window.write_status(status);
}

void clear_one(dialog_window& window, int field_id) {
    window.write_field(field_id, "");
    set_from_int(0, register_of(field_id));
}

void clear_all(dialog_window& window) {
    for (int id : field_list) window.write_field(id, "");
    set_from_int(0, registers.ans);
    copy_number(registers.ans, registers.b);
    copy_number(registers.b, registers.a);
    copy_number(registers.a, registers.z);
    copy_number(registers.z, registers.y);
    copy_number(registers.y, registers.x);
    window.write_status("ALL Cleared.");
}

void answer_to_x(dialog_window& window) {
    // The register is copied and X drawn from it, so that field and
    // register agree whatever the answer field shows.
    copy_number(registers.x, work.saved_ans);
    copy_number(registers.ans, registers.x);
    if (!render_field(window, IDC_FIELD_X, current_base)) {
        char status[256];
        take_engine_error(status, sizeof status);
        copy_number(work.saved_ans, registers.x);
        window.write_status(status);
        return;
    }
    window.write_status("Answer copied to X.");
}

bool streams_closed = false;

void exit_dialog(dialog_window& window) {
    if (!streams_closed) {
        streams_closed = true;
        std::fclose(stdin);
        std::fclose(stdout);
        std::fclose(stderr);
    }
    window.end_dialog();
}

void button(dialog_window& window, int id) {
    if (const int base = base_of_button(id); base != 0) {
        switch_base(window, base);
    } else if (const operation_entry* op = find_operation_by_button(id); op != nullptr) {
        run_operation(window, op->opcode);
    } else if (const int field = field_of_clear_button(id); field != 0) {
        clear_one(window, field);
    } else if (id == IDC_CLEAR_ALL) {
        clear_all(window);
    } else if (id == IDC_TO_X) {
        answer_to_x(window);
    }
}

}  // namespace

void dialog_initialise(dialog_window& window) {
    window.write_status("Idle...\n");
    configure_engine();
    current_base = 16;
    window.check_radio(IDC_BASE_2, IDC_BASE_256, IDC_BASE_16);
    fill_base64_table();
    for (int id : field_list) window.limit_field(id, field_typing_limit);
    char status[256];
    if (take_engine_error(status, sizeof status)) window.write_status(status);
}

void dialog_command(dialog_window& window, int id, int notification) {
    if (notification == notify_clicked && id >= IDC_BASE_2 && id <= IDC_TO_X) {
        button(window, id);
    } else if (notification == notify_edit_changed && is_operand_field(id)) {
        parse_field(window, id);
    } else if (notification == notify_edit_full && is_operand_field(id)) {
        report_input_cut(window, id);
    }
    if (id == IDC_ABOUT) {
        window.message_box(about_caption, about_text);
    } else if (id == IDC_EXIT) {
        exit_dialog(window);
    }
}

void dialog_close(dialog_window& window) { exit_dialog(window); }
