// Registers, the parse/render cycle, and the jobs: the operation frame and
// the base switch.
#include "calc.h"

#include <cstdio>
#include <cstring>
#include <span>

#include "operations.h"
#include "radix.h"

register_set registers{};
work_numbers work{};
int current_base = 16;
std::uint32_t busy_marker = 0;
char text_buffer[text_buffer_size];
std::uint8_t byte_buffer[byte_buffer_size];
bool show_b = false;

namespace {

constexpr int status_size = 256;

void engine_progress_step(void* meter, int depth, int done, int total) {
    static_cast<progress_meter*>(meter)->step(depth, done, total);
}

// The engine instance and every number of the core live from static
// initialisation, before any window exists, to process exit.
class core_lifetime {
public:
    core_lifetime() {
        mirsys(engine_precision_digits, 16);
        for (bignum** n : all_numbers()) *n = mirvar(0);
    }
    ~core_lifetime() {
        for (bignum** n : all_numbers()) {
            free_number(*n);
            *n = nullptr;
        }
        release_engine();
    }
    core_lifetime(const core_lifetime&) = delete;
    core_lifetime& operator=(const core_lifetime&) = delete;

private:
    static std::span<bignum** const> all_numbers() {
        static bignum** const list[] = {
            &registers.x, &registers.y,  &registers.z,  &registers.a,  &registers.b, &registers.ans,
            &work.answer, &work.second,  &work.parsed,  &work.saved_ans,
            &work.m,      &work.t1,      &work.t2,      &work.t3,      &work.g,     &work.u,
            &work.v,      &work.r,       &work.c,       &work.ea,      &work.eb,    &work.q,
        };
        return list;
    }
};

const core_lifetime lifetime;

void set_status_text(char* status, int size, const char* text) { std::snprintf(status, static_cast<std::size_t>(size), "%s", text); }

// The register's text in the engine's current io_base, copied out of the
// engine's buffer into `out` with its terminator. False when the engine
// failed to write it.
bool register_text(bignum* reg, char* out) {
    mr_state* engine = get_engine();
    const int n = cotstr(reg, engine->io_buffer);
    if (engine->error_number != 0) return false;
    std::memcpy(out, engine->io_buffer, static_cast<std::size_t>(n) + 1);
    return true;
}

// Sets busy_marker for the length of a scope and puts back what it held.
class busy_scope {
public:
    busy_scope() : saved_(busy_marker) { busy_marker = busy_value; }
    ~busy_scope() { busy_marker = saved_; }
    busy_scope(const busy_scope&) = delete;
    busy_scope& operator=(const busy_scope&) = delete;

private:
    std::uint32_t saved_;
};

}  // namespace

bignum* register_of(int field_id) {
    switch (field_id) {
    case IDC_FIELD_X: return registers.x;
    case IDC_FIELD_Y: return registers.y;
    case IDC_FIELD_Z: return registers.z;
    case IDC_FIELD_A: return registers.a;
    case IDC_FIELD_B: return registers.b;
    case IDC_FIELD_ANS: return registers.ans;
    default: return nullptr;
    }
}

void write_field_text(dialog_window& window, int field_id, const char* text) {
    busy_scope busy;
    window.write_field(field_id, text);
}

void configure_engine() {
    mr_state* engine = get_engine();
    engine->io_base = 16;
    engine->error_continue = 1;
    set_io_buffer_size(engine_io_buffer_chars);
}

int take_engine_error(char* status, int size) {
    mr_state* engine = get_engine();
    const int code = engine->error_number;
    if (code == 0) return 0;
    if (code == mr_error_cancelled) {
        set_status_text(status, size, "Cancelled.");
        clear_modulus();
    } else {
        set_status_text(status, size, error_message(code));
    }
    engine->error_number = 0;
    engine->trace_depth = 0;
    // A routine that stops early on an error may not have reached the steps
    // that put these back; restore the working state between actions.
    engine->length_check = 1;
    if (engine->digit_base != 0 || engine->external_base != 16) set_digit_base(16);
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
    std::snprintf(out, static_cast<std::size_t>(size), "Bits: x- %d y- %d z- %d a- %d b- %d ans- %d", logb2(registers.x),
                  logb2(registers.y), logb2(registers.z), logb2(registers.a), logb2(registers.b), logb2(registers.ans));
}

namespace {

// The field text of `value` in `base`, left in text_buffer. False when the
// engine could not write it (its error is then pending).
bool format_value(bignum* value, int base) {
    mr_state* engine = get_engine();
    const int saved_base = engine->io_base;
    engine->io_base = base == 64 ? 16 : base;
    std::memset(text_buffer, 0, sizeof text_buffer);
    const bool written = register_text(value, text_buffer);
    engine->io_base = saved_base;
    if (!written) return false;
    if (base == 64) {
        // Hexadecimal text to magnitude bytes to base-64 text. Base 64 has no
        // sign of its own, so a negative value keeps the "-" of its
        // hexadecimal text in front of the base-64 form of its magnitude;
        // without it the field would show nothing, or a positive value.
        const bool minus = text_buffer[0] == '-';
        const char* hex = text_buffer + (minus ? 1 : 0);
        std::memset(byte_buffer, 0, sizeof byte_buffer);
        const int count = hex_decode(hex, static_cast<int>(std::strlen(hex)), byte_buffer, false);
        std::memset(text_buffer, 0, sizeof text_buffer);
        if (minus) text_buffer[0] = '-';
        base64_encode(byte_buffer, count, text_buffer + (minus ? 1 : 0));
    }
    return true;
}

}  // namespace

bool render_field(dialog_window& window, int field_id, int base) {
    bignum* reg = register_of(field_id);
    if (reg == nullptr) return true;
    if (!format_value(reg, base)) return false;
    // Always written, even when empty: zero in base 256 is the empty text,
    // and the field must not keep the text of an earlier value.
    write_field_text(window, field_id, text_buffer);
    return true;
}

void parse_field(dialog_window& window, int field_id) {
    if (busy_marker != 0) return;
    bignum* reg = register_of(field_id);
    if (reg == nullptr || reg == registers.ans) return;

    char status[status_size] = {};
    std::memset(text_buffer, 0, sizeof text_buffer);
    const int length = window.read_field(field_id, text_buffer, text_buffer_size);
    if (length <= 0) {
        // An emptied field holds 0, as every field does at start.
        zero_number(reg);
        format_bit_line(status, status_size);
        window.write_status(status);
        return;
    }

    if (current_base != 256) {
        const int kept = filter_digits(text_buffer, current_base);
        if (kept < length) write_field_text(window, field_id, text_buffer);
    }

    mr_state* engine = get_engine();
    const int saved_base = engine->io_base;
    bool too_long = false;
    if (current_base == 64) {
        // A leading "-" (the digit filter keeps it) makes the value negative.
        const bool minus = text_buffer[0] == '-';
        std::memset(byte_buffer, 0, sizeof byte_buffer);
        const int count = base64_decode(text_buffer + (minus ? 1 : 0), byte_buffer);
        // Twice the bytes in hexadecimal digits must fit the text buffer;
        // such a value is far beyond what the engine holds anyway.
        if (2 * count + 2 > text_buffer_size) {
            too_long = true;
        } else {
            if (minus) text_buffer[0] = '-';
            hex_encode(byte_buffer, count, text_buffer + (minus ? 1 : 0), false);
            engine->io_base = 16;
        }
    } else {
        engine->io_base = current_base;
    }
    if (!too_long) cinstr(work.parsed, text_buffer);
    engine->io_base = saved_base;

    const bool failed = take_engine_error(status, status_size);
    if (too_long) set_status_text(status, status_size, error_message(3));
    if (failed || too_long) {
        // The register keeps its value; its field shows that value again
        // instead of the text that could not be read.
        render_field(window, field_id, current_base);
        take_engine_error(status, status_size);
        window.write_status(status);
        return;
    }
    copy_number(work.parsed, reg);
    format_bit_line(status, status_size);
    window.write_status(status);
}

int radio_of_base(int base) {
    switch (base) {
    case 2: return IDC_BASE_2;
    case 8: return IDC_BASE_8;
    case 10: return IDC_BASE_10;
    case 36: return IDC_BASE_36;
    case 60: return IDC_BASE_60;
    case 64: return IDC_BASE_64;
    case 256: return IDC_BASE_256;
    default: return IDC_BASE_16;
    }
}

// ---- Jobs -------------------------------------------------------------------

void core_progress(int done, int total) { progress_step(done, total); }

bool begin_operation(dialog_window& window, int opcode, calc_job& job) {
    std::memset(text_buffer, 0, sizeof text_buffer);
    if (window.read_field(IDC_FIELD_X, text_buffer, text_buffer_size) <= 0) return false;
    job.kind = job_kind::operation;
    job.opcode = opcode;
    return true;
}

bool begin_base_switch(int base, calc_job& job) {
    if (base == current_base) return false;
    job.kind = job_kind::base_switch;
    job.base = base;
    return true;
}

namespace {

// Positions of Ans and B in field_list.
constexpr int ans_index = 5;
constexpr int b_index = 4;
static_assert(field_list[ans_index] == IDC_FIELD_ANS && field_list[b_index] == IDC_FIELD_B);

// The field text of `value` in `base` into `out`; false when the engine could
// not write it.
bool format_into(bignum* value, int base, std::string& out) {
    if (!format_value(value, base)) return false;
    out = text_buffer;
    return true;
}

void compute_operation(calc_job& job) {
    char status[status_size] = {};
    int result = result_ok;
    bool staged = false;  // whether the operation has results to commit
    bignum* const operands[] = {registers.x, registers.y, registers.z, registers.a, registers.b};
    for (bignum* operand : operands) {
        if (logb2(operand) > max_operand_bits) {
            result = result_over_sized;
            break;
        }
    }
    if (result == result_ok) {
        show_b = false;
        if (job.opcode == opcode_prime) {
            prime_verdict(status, status_size);
            take_engine_error(status, status_size);
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
            if (format_into(work.answer, current_base, job.text[ans_index]) && show_b)
                format_into(work.second, current_base, job.text[b_index]);
            if (!take_engine_error(status, status_size)) {
                job.commit = true;
                job.show_b = show_b;
                if (result != result_ok) format_result_message(result, status, status_size);
            }
        }
    } else {
        format_result_message(result, status, status_size);
    }
    job.status = status;
}

void compute_base_switch(calc_job& job) {
    for (int k = 0; k < field_count; ++k) {
        core_progress(k, field_count);
        if (!format_into(register_of(field_list[k]), job.base, job.text[k])) {
            // Some value cannot be written in the new base: the switch does
            // not happen, and the status line says why.
            char status[status_size] = {};
            take_engine_error(status, status_size);
            job.status = status;
            return;
        }
    }
    job.commit = true;
}

void commit_operation(dialog_window& window, const calc_job& job) {
    if (job.commit) {
        copy_number(work.answer, registers.ans);
        write_field_text(window, IDC_FIELD_ANS, job.text[ans_index].c_str());
        if (job.show_b) {
            copy_number(work.second, registers.b);
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
    if (!job.commit) {
        // The old base stays, with its radio button checked again.
        window.check_radio(IDC_BASE_2, IDC_BASE_256, radio_of_base(current_base));
        window.write_status(job.status.c_str());
        return;
    }
    current_base = job.base;
    for (int k = 0; k < field_count; ++k) write_field_text(window, field_list[k], job.text[k].c_str());
}

}  // namespace

void compute_job(calc_job& job) {
    set_progress_hook(engine_progress_step, &job.progress);
    if (job.kind == job_kind::operation)
        compute_operation(job);
    else
        compute_base_switch(job);
    set_progress_hook(nullptr, nullptr);
    job.progress.finish();
}

void commit_job(dialog_window& window, calc_job& job) {
    if (job.kind == job_kind::operation)
        commit_operation(window, job);
    else
        commit_base_switch(window, job);
}
