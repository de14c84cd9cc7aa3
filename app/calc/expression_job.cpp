// The expression line as a job: evaluated on the job's thread into the
// staging number work.answer, committed on the window's thread into Ans or
// the register that "NAME =" names. An error or a cancel commits nothing
// but its status line.
#include <cstring>

#include "calc.h"
#include "expression.h"
#include "operations.h"

void compute_expression(calc_job& job) {
    calculator& core = calc();
    char status[256] = {};
    const expression_result result = evaluate_expression(job.expression, core.work.answer);
    job.target = result.target_field;
    const int index = value_field_index(result.target_field);
    if (take_engine_error(status, sizeof status)) {
        job.status = status;  // "Cancelled." or the engine's message
        return;
    }
    if (!result.ok) {
        job.status = result.message;
        return;
    }
    // A value that cannot be shown is not committed.
    if (index < 0 || !format_value_text(core.work.answer, core.current_base, job.text[index])) {
        take_engine_error(status, sizeof status);
        job.status = status;
        return;
    }
    job.commit = true;
    if (core.current_base == 256) {
        byte_cuts cuts;
        note_byte_cut(cuts, result.target_field, core.work.answer, job.text[index].size());
        job.status = byte_cut_notice(cuts);
    }
}

void commit_expression_value(dialog_window& window, const calc_job& job) {
    if (job.commit) {
        copy_number(calc().work.answer, register_of(job.target));
        write_field_text(window, job.target, job.text[value_field_index(job.target)].c_str());
    }
    if (job.status.empty())
        show_bit_line(window);
    else
        window.write_status(job.status.c_str());
}
