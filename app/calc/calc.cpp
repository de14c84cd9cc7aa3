// Registers, the parse/render cycle, and the jobs: the operation frame and
// the base switch.
#include "calc.h"

#include <cstdio>
#include <cstring>
#include <array>

#include "base_table.h"
#include "expression.h"
#include "operations.h"
#include "radix.h"

namespace {

constexpr int status_size = 256;

void engine_progress_step(void* meter, int depth, int done, int total) {
    static_cast<progress_meter*>(meter)->step(depth, done, total);
}

// Every number a calculator makes at start: the registers and the work
// numbers.
std::array<bignum**, 22> numbers_of(calculator& c) {
    register_set& r = c.registers;
    work_numbers& w = c.work;
    return {
        &r.x,      &r.y,    &r.z,  &r.a,  &r.b,  &r.ans, &w.answer, &w.second, &w.parsed, &w.saved_ans, &w.m,
        &w.t1,     &w.t2,   &w.t3, &w.g,  &w.u,  &w.v,   &w.r,      &w.c,      &w.ea,     &w.eb,        &w.q,
    };
}

// The calling thread's current calculator.
thread_local calculator* current_calculator = nullptr;

void set_status_text(char* status, int size, const char* text) { std::snprintf(status, static_cast<std::size_t>(size), "%s", text); }

// The register's text in the engine's current io_base, copied out of the
// engine's buffer into `out` with its terminator. False when the engine
// failed to write it.
bool register_text(bignum* reg, char* out) {
    char* const engine_text = get_io_buffer();
    const int n = cotstr(reg, engine_text);
    if (engine_error() != 0) return false;
    std::memcpy(out, engine_text, static_cast<std::size_t>(n) + 1);
    return true;
}

// The core is busy with `state` for the length of a scope, and then again
// as it was.
class busy_scope {
public:
    explicit busy_scope(busy_state state) : saved_(set_core_busy(state)) {}
    ~busy_scope() { set_core_busy(saved_); }
    busy_scope(const busy_scope&) = delete;
    busy_scope& operator=(const busy_scope&) = delete;

private:
    busy_state saved_;
};

}  // namespace

calculator::calculator() {
    // mirsys makes the instance the thread's own; the calculator follows.
    engine_ = mirsys(engine_precision_digits, 16);
    for (bignum** n : numbers_of(*this)) *n = mirvar(0);
    current_calculator = this;
}

calculator::~calculator() {
    // The numbers and the instance are released on this thread, which
    // computes on the instance meanwhile.
    mr_state* const before = use_engine(engine_);
    for (bignum** n : numbers_of(*this)) {
        free_number(*n);
        *n = nullptr;
    }
    stop_pool();
    release_engine();
    if (before != engine_) use_engine(before);
    if (current_calculator == this) current_calculator = nullptr;
}

calculator& calc() { return *current_calculator; }

calculator_scope::calculator_scope(calculator& c)
    : saved_(current_calculator), saved_engine_(use_engine(c.engine())) {
    current_calculator = &c;
}

calculator_scope::~calculator_scope() {
    current_calculator = saved_;
    use_engine(saved_engine_);
}

busy_state core_busy() { return calc().busy; }

busy_state set_core_busy(busy_state next) {
    calculator& c = calc();
    const busy_state previous = c.busy;
    c.busy = next;
    return previous;
}

bignum* register_of(int field_id) {
    const int k = value_field_index(field_id);
    return k < 0 ? nullptr : calc().registers.*value_fields[k].value;
}

namespace {

std::string* field_text_of(int field_id) {
    const int k = value_field_index(field_id);
    return k < 0 ? nullptr : &calc().field_texts[k];
}

}  // namespace

const char* field_name(int field_id) {
    const int k = value_field_index(field_id);
    return k < 0 ? "?" : value_fields[k].name;
}

void write_field_text(dialog_window& window, int field_id, const char* text) {
    const busy_scope writing(busy_state::program_write);
    window.write_field(field_id, text);
    if (std::string* shown = field_text_of(field_id)) *shown = text;
}

// Shows `text` in field `field_id` while an edit is read, leaving the text
// remembered as the field's last accepted one as it is: a read that fails
// gives the field that text back.
void show_edited_text(dialog_window& window, int field_id, const char* text) {
    const busy_scope writing(busy_state::program_write);
    window.write_field(field_id, text);
}

void configure_engine() {
    set_io_base(16);
    set_error_continue(1);
    set_io_buffer_size(engine_io_buffer_chars);
    // The engine's worker threads (TORVANE_THREADS, else one per
    // processor): started once, stopped before the instance goes.
    start_pool(0);
}

int take_engine_error(char* status, int size) {
    const int code = engine_error();
    if (code == 0) return 0;
    if (code == mr_error_cancelled) {
        set_status_text(status, size, "Cancelled.");
    } else {
        set_status_text(status, size, error_message(code));
    }
    // The engine also puts back what a routine stopped early by the error
    // may have left changed (its trace, length check and digit base).
    clear_engine_error();
    return code;
}

void format_result_message(int code, char* out, int size) {
    const auto n = static_cast<std::size_t>(size);
    switch (code) {
    case result_invalid_x: std::snprintf(out, n, "Invalid x ...\n"); break;
    case result_invalid_y: std::snprintf(out, n, "Invalid y ...\n"); break;
    case result_invalid_x_or_y: std::snprintf(out, n, "Invalid x or y ...\n"); break;
    case result_invalid_z: std::snprintf(out, n, "Invalid z ...\n"); break;
    case result_no_answer: std::snprintf(out, n, "A*x = y (mod Z) has no answer ...\n"); break;
    case result_even_root_of_negative: std::snprintf(out, n, "Even root of a negative x ...\n"); break;
    case result_negative_factorial: std::snprintf(out, n, "Factorial of a negative x ...\n"); break;
    case result_over_sized: std::snprintf(out, n, "Over Sized ...\n"); break;
    case result_lcm_too_long: std::snprintf(out, n, "LCM too long for B, B unchanged ...\n"); break;
    case result_factorial_too_big:
        std::snprintf(out, n, "OverSized, make sure: x <= %d (HEX: %x)!", max_factorial_argument, max_factorial_argument);
        break;
    case result_invalid_exponents: std::snprintf(out, n, "Invalid A or B, make sure A, B >0 ...\n"); break;
    default: std::snprintf(out, n, "%s", ""); break;
    }
}

void format_bit_line(char* out, int size) {
    register_set& registers = calc().registers;
    std::snprintf(out, static_cast<std::size_t>(size), "Bits: x- %d y- %d z- %d a- %d b- %d ans- %d", logb2(registers.x),
                  logb2(registers.y), logb2(registers.z), logb2(registers.a), logb2(registers.b), logb2(registers.ans));
}

bool format_value(bignum* value, int base) {
    calculator& core = calc();
    const int saved_base = get_io_base();
    set_io_base(base == 64 ? 16 : base);
    std::memset(core.text_buffer, 0, sizeof core.text_buffer);
    const bool written = register_text(value, core.text_buffer);
    set_io_base(saved_base);
    if (!written) return false;
    if (base == 64) {
        // Hexadecimal text to magnitude bytes to base-64 text. Base 64 has no
        // sign of its own, so a negative value keeps the "-" of its
        // hexadecimal text in front of the base-64 form of its magnitude;
        // without it the field would show nothing, or a positive value.
        const bool minus = core.text_buffer[0] == '-';
        const char* hex = core.text_buffer + (minus ? 1 : 0);
        std::memset(core.byte_buffer, 0, sizeof core.byte_buffer);
        const int count = hex_decode(hex, static_cast<int>(std::strlen(hex)), core.byte_buffer, false);
        std::memset(core.text_buffer, 0, sizeof core.text_buffer);
        if (minus) core.text_buffer[0] = '-';
        base64_encode(core.byte_buffer, count, core.text_buffer + (minus ? 1 : 0));
    }
    return true;
}

bool render_field(dialog_window& window, int field_id, int base) {
    bignum* reg = register_of(field_id);
    if (reg == nullptr) return true;
    if (!format_value(reg, base)) return false;
    // Always written, even when empty: zero in base 256 is the empty text,
    // and the field must not keep the text of an earlier value.
    write_field_text(window, field_id, calc().text_buffer);
    return true;
}

namespace {

// How a refused character is named in the status: 'c' for a printable
// character, U+XXXX for any other.
void name_character(unsigned long code, char* out, std::size_t size) {
    if (code > 0x20 && code < 0x7F)
        std::snprintf(out, size, "'%c'", static_cast<char>(code));
    else
        std::snprintf(out, size, "U+%04lX", code);
}

// Why `text[index]`, refused by the strict reading, is no part of a number
// of the current base; `lead` goes in front ("X unchanged: ", "X: ").
void format_refusal(const char* lead, unsigned long code, char* status, int size) {
    const auto n = static_cast<std::size_t>(size);
    if (code == '-') {
        std::snprintf(status, n, "%s'-' is a sign only in front of the digits.", lead);
        return;
    }
    char name[16];
    name_character(code, name, sizeof name);
    std::snprintf(status, n, "%s%s is not a base-%d digit.", lead, name, calc().current_base);
}

// The status after an accepted edit of `field_id`: a register over the
// operations' bound is told at once, otherwise the bit-length line.
void format_edit_status(int field_id, char* status, int size) {
    const int bits = logb2(register_of(field_id));
    if (bits > max_operand_bits)
        std::snprintf(status, static_cast<std::size_t>(size), "%s has %d bits; operations take at most %d.",
                      field_name(field_id), bits, max_operand_bits);
    else
        format_bit_line(status, size);
}

// Gives field `field_id` back the text it showed before the edit.
void restore_field(dialog_window& window, int field_id) {
    const std::string previous = *field_text_of(field_id);
    write_field_text(window, field_id, previous.c_str());
}

}  // namespace

void parse_field(dialog_window& window, int field_id, bool pasted) {
    calculator& core = calc();
    if (core_busy() != busy_state::idle) return;
    bignum* reg = register_of(field_id);
    if (reg == nullptr || reg == core.registers.ans) return;

    char status[status_size] = {};
    std::memset(core.text_buffer, 0, sizeof core.text_buffer);
    const int length = window.read_field(field_id, core.text_buffer, text_buffer_size);
    if (length <= 0) {
        // An emptied field holds 0, as every field does at start.
        zero_number(reg);
        *field_text_of(field_id) = "";
        format_bit_line(status, status_size);
        window.write_status(status);
        return;
    }

    // A typed key that is no digit is dropped and named; a pasted text that
    // is no number of the base is refused whole, so that no number changes
    // without a word.
    char hint[status_size] = {};
    if (pasted) {
        const int refused = filter_pasted_digits(core.text_buffer, core.current_base);
        if (refused >= 0) {
            char lead[32];
            std::snprintf(lead, sizeof lead, "%s unchanged: ", field_name(field_id));
            format_refusal(lead, static_cast<unsigned char>(core.text_buffer[refused]), status, status_size);
            restore_field(window, field_id);
            window.write_status(status);
            return;
        }
        if (static_cast<int>(std::strlen(core.text_buffer)) < length)
            show_edited_text(window, field_id, core.text_buffer);
    } else if (core.current_base != 256) {
        const int refused = first_refused_character(core.text_buffer, core.current_base);
        if (refused >= 0) {
            char lead[32];
            std::snprintf(lead, sizeof lead, "%s: ", field_name(field_id));
            format_refusal(lead, static_cast<unsigned char>(core.text_buffer[refused]), hint, status_size);
        }
        const int kept = filter_digits(core.text_buffer, core.current_base);
        if (kept < length) show_edited_text(window, field_id, core.text_buffer);
    }
    // What the field now shows, kept once the read succeeds.
    std::string accepted = core.text_buffer;

    const int saved_base = get_io_base();
    bool too_long = false;
    if (core.current_base == 64) {
        // A leading "-" (the digit filter keeps it) makes the value negative.
        const bool minus = core.text_buffer[0] == '-';
        std::memset(core.byte_buffer, 0, sizeof core.byte_buffer);
        const int count = base64_decode(core.text_buffer + (minus ? 1 : 0), core.byte_buffer);
        // Twice the bytes in hexadecimal digits must fit the text buffer;
        // such a value is far beyond what the engine holds anyway.
        if (2 * count + 2 > text_buffer_size) {
            too_long = true;
        } else {
            if (minus) core.text_buffer[0] = '-';
            hex_encode(core.byte_buffer, count, core.text_buffer + (minus ? 1 : 0), false);
            set_io_base(16);
        }
    } else {
        set_io_base(core.current_base);
    }
    if (!too_long) cinstr(core.work.parsed, core.text_buffer);
    set_io_base(saved_base);

    const bool failed = take_engine_error(status, status_size);
    if (too_long) set_status_text(status, status_size, error_message(3));
    if (failed || too_long) {
        // The register keeps its value; its field shows again the text it
        // showed before, instead of the text that could not be read.
        restore_field(window, field_id);
        window.write_status(status);
        return;
    }
    copy_number(core.work.parsed, reg);
    *field_text_of(field_id) = std::move(accepted);
    format_edit_status(field_id, status, status_size);
    if (hint[0] != '\0' && logb2(reg) <= max_operand_bits) set_status_text(status, status_size, hint);
    window.write_status(status);
}

void refuse_unreadable_paste(dialog_window& window, int field_id, unsigned long code) {
    if (core_busy() != busy_state::idle || !is_operand_field(field_id)) return;
    char lead[32];
    std::snprintf(lead, sizeof lead, "%s unchanged: ", field_name(field_id));
    char status[status_size];
    format_refusal(lead, code, status, status_size);
    window.write_status(status);
}

void report_typing_limit(dialog_window& window, int field_id) {
    calculator& core = calc();
    if (core_busy() != busy_state::idle || !is_operand_field(field_id)) return;
    const int length = window.read_field(field_id, core.text_buffer, text_buffer_size);
    const char* name = field_name(field_id);
    char status[status_size];
    if (core.text_buffer == *field_text_of(field_id))
        std::snprintf(status, sizeof status, "%s unchanged: %s takes at most %d characters.", name, name,
                      field_typing_limit);
    else
        std::snprintf(status, sizeof status, "%s cut to %d characters: %s takes at most %d.", name, length, name,
                      field_typing_limit);
    window.write_status(status);
}

void show_bit_line(dialog_window& window) {
    char status[status_size];
    format_bit_line(status, status_size);
    window.write_status(status);
}

void note_byte_cut(byte_cuts& cuts, int field_id, bignum* value, std::size_t text_length) {
    const int total = (logb2(value) + 7) / 8;
    if (static_cast<int>(text_length) >= total || cuts.count >= field_count) return;
    cuts.fields[cuts.count++] = {field_id, static_cast<int>(text_length), total};
}

std::string byte_cut_notice(const byte_cuts& cuts) {
    if (cuts.count == 0) return {};
    std::string notice = cuts.count == 1 ? "Zero byte: " : "Zero bytes: ";
    for (int k = 0; k < cuts.count; ++k) {
        const byte_cuts::field_cut& c = cuts.fields[k];
        char part[96];
        if (k == 0)
            std::snprintf(part, sizeof part, "%s shows only its first %d of %d bytes", field_name(c.field_id), c.shown,
                          c.total);
        else
            std::snprintf(part, sizeof part, ", %s %d of %d", field_name(c.field_id), c.shown, c.total);
        notice += part;
    }
    notice += cuts.count == 1 ? "; base 16 shows it whole." : "; base 16 shows them whole.";
    return notice;
}

// The resource script names the radio buttons by the ids of resource.h;
// they must be those of the base table.
static_assert(find_base(2)->radio_id == IDC_BASE_2 && find_base(8)->radio_id == IDC_BASE_8 &&
              find_base(10)->radio_id == IDC_BASE_10 && find_base(16)->radio_id == IDC_BASE_16 &&
              find_base(36)->radio_id == IDC_BASE_36 && find_base(60)->radio_id == IDC_BASE_60 &&
              find_base(64)->radio_id == IDC_BASE_64 && find_base(256)->radio_id == IDC_BASE_256);
static_assert(first_base_radio == IDC_BASE_2 && last_base_radio == IDC_BASE_256);

int radio_of_base(int base) {
    const base_entry* b = find_base(base);
    return (b != nullptr ? b : find_base(16))->radio_id;
}

// ---- Jobs -------------------------------------------------------------------

void core_progress(int done, int total) { progress_step(done, total); }

bool begin_operation(dialog_window& window, int opcode, calc_job& job) {
    calculator& core = calc();
    std::memset(core.text_buffer, 0, sizeof core.text_buffer);
    if (window.read_field(IDC_FIELD_X, core.text_buffer, text_buffer_size) <= 0 && core.current_base != 256)
        return false;
    job.kind = job_kind::operation;
    job.opcode = opcode;
    return true;
}

bool format_value_text(bignum* value, int base, std::string& out) {
    if (!format_value(value, base)) return false;
    out = calc().text_buffer;
    return true;
}

bool begin_expression(std::string_view text, calc_job& job) {
    if (expression_is_blank(text)) return false;
    job.kind = job_kind::expression;
    job.expression.assign(text);
    return true;
}

bool begin_base_switch(int base, calc_job& job) {
    if (base == calc().current_base) return false;
    job.kind = job_kind::base_switch;
    job.base = base;
    return true;
}

namespace {

// Positions of Ans and B in field_list.
constexpr int ans_index = value_field_index(IDC_FIELD_ANS);
constexpr int b_index = value_field_index(IDC_FIELD_B);

void compute_operation(calc_job& job) {
    calculator& core = calc();
    char status[status_size] = {};
    int result = result_ok;
    bool staged = false;  // whether the operation has results to commit
    for (const value_field& field : value_fields) {
        if (field.operand && logb2(core.registers.*field.value) > max_operand_bits) {
            result = result_over_sized;
            break;
        }
    }
    if (result == result_ok) {
        core.show_b = false;
        if (job.opcode == opcode_prime) {
            prime_verdict(status, status_size);
            job.verdict = take_engine_error(status, status_size) == 0;
            job.status = status;
            return;
        }
        if (const operation_entry* op = find_operation(job.opcode); op != nullptr && op->run != nullptr) {
            result = op->run();
            staged = true;
        }
    }

    if (take_engine_error(status, status_size)) {
        // Nothing is committed: every register stays as it was.
    } else if (result == result_ok || result_keeps_answer(result)) {
        if (staged) {
            // Results that cannot be shown are not committed: the registers
            // and fields keep the old values.
            if (format_value_text(core.work.answer, core.current_base, job.text[ans_index]) && core.show_b)
                format_value_text(core.work.second, core.current_base, job.text[b_index]);
            if (!take_engine_error(status, status_size)) {
                job.commit = true;
                job.show_b = core.show_b;
                if (result != result_ok) format_result_message(result, status, status_size);
            }
        }
    } else {
        format_result_message(result, status, status_size);
    }
    job.status = status;
    if (job.commit && core.current_base == 256) {
        // A result the field shows only up to a zero byte is not passed off
        // as the whole value.
        byte_cuts cuts;
        if (job.show_b) note_byte_cut(cuts, IDC_FIELD_B, core.work.second, job.text[b_index].size());
        note_byte_cut(cuts, IDC_FIELD_ANS, core.work.answer, job.text[ans_index].size());
        const std::string notice = byte_cut_notice(cuts);
        if (!notice.empty()) {
            if (!job.status.empty()) job.status += ' ';
            job.status += notice;
        }
    }
}

void compute_base_switch(calc_job& job) {
    for (int k = 0; k < field_count; ++k) {
        core_progress(k, field_count);
        if (!format_value_text(register_of(field_list[k]), job.base, job.text[k])) {
            // Some value cannot be written in the new base: the switch does
            // not happen, and the status line says why.
            char status[status_size] = {};
            take_engine_error(status, status_size);
            job.status = status;
            return;
        }
    }
    job.commit = true;
    if (job.base == 256) {
        byte_cuts cuts;
        for (int k = 0; k < field_count; ++k)
            note_byte_cut(cuts, field_list[k], register_of(field_list[k]), job.text[k].size());
        job.status = byte_cut_notice(cuts);
    }
}

void commit_operation(dialog_window& window, const calc_job& job) {
    calculator& core = calc();
    if (job.commit) {
        copy_number(core.work.answer, core.registers.ans);
        write_field_text(window, IDC_FIELD_ANS, job.text[ans_index].c_str());
        if (job.show_b) {
            copy_number(core.work.second, core.registers.b);
            write_field_text(window, IDC_FIELD_B, job.text[b_index].c_str());
        }
    }
    if (job.status.empty()) {
        char status[status_size] = {};
        format_bit_line(status, status_size);
        window.write_status(status);
    } else {
        window.write_status(job.status.c_str());
    }
}


void commit_base_switch(dialog_window& window, const calc_job& job) {
    calculator& core = calc();
    if (!job.commit) {
        // The old base stays, with its radio button checked again.
        window.check_radio(first_base_radio, last_base_radio, radio_of_base(core.current_base));
        window.write_status(job.status.c_str());
        return;
    }
    core.current_base = job.base;
    for (int k = 0; k < field_count; ++k) write_field_text(window, field_list[k], job.text[k].c_str());
    // The status speaks of the fields as the new base shows them: which
    // registers base 256 shows without their sign and which only up to a
    // zero byte, or else the bit lengths, replacing any older notice.
    std::string status;
    if (job.base == 256) {
        std::string negative;
        int count = 0;
        for (int id : field_list) {
            if (sign_of(register_of(id)) >= 0) continue;
            if (count++ > 0) negative += ", ";
            negative += field_name(id);
        }
        if (count > 0) {
            status = "Base 256 shows no sign: ";
            status += negative;
            status += count == 1 ? " is negative." : " are negative.";
        }
    }
    if (!job.status.empty()) {
        if (!status.empty()) status += ' ';
        status += job.status;
    }
    if (status.empty())
        show_bit_line(window);
    else
        window.write_status(status.c_str());
}

}  // namespace

void compute_job(calc_job& job) {
    // The job's thread computes on the calculator's instance while the
    // window's thread waits for it, and gives it back when done.
    mr_state* before = use_engine(calc().engine());
    set_progress_hook(engine_progress_step, &job.progress);
    if (job.kind == job_kind::operation)
        compute_operation(job);
    else if (job.kind == job_kind::expression)
        compute_expression(job);
    else
        compute_base_switch(job);
    set_progress_hook(nullptr, nullptr);
    use_engine(before);
    job.progress.finish();
}

void commit_job(dialog_window& window, calc_job& job) {
    if (job.kind == job_kind::operation)
        commit_operation(window, job);
    else if (job.kind == job_kind::expression)
        commit_expression_value(window, job);
    else
        commit_base_switch(window, job);
}
