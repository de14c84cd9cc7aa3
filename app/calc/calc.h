// The calculation core: six registers tied to the dialog's value fields, the
// parse and render cycle that keeps each register and its field in step, and
// the operation frame that runs one of the fifteen operations.
//
// Operands are always read from the registers, never from field text. A
// register changes only when the user edits its field (parse_field), when an
// operation succeeds (Ans, and B for the operations that give a second
// result), and through CL, CLEAR ALL and TO X.
//
// Every action looks at the engine's error state when it is done: an engine
// error is shown in the status field with the engine's own message, cleared,
// and the registers and fields are left as they were before the action.
//
// The core reaches the window only through dialog_window (window.h).
#ifndef TORVANE_APP_CALC_CALC_H
#define TORVANE_APP_CALC_CALC_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine.h"
#include "progress.h"
#include "resource.h"
#include "value_fields.h"
#include "window.h"

// ---- Sizes ------------------------------------------------------------------

// The engine is made with room for this many hexadecimal digits; it then
// holds numbers of up to register_words words of 32 bits.
inline constexpr int engine_precision_digits = 16384;
inline constexpr int register_words = engine_precision_digits / 8 + 1;

// Bound on the bit length of operands and of estimated products and powers.
inline constexpr int max_operand_bits = 65530;
// Largest |X| that X! accepts: 5910! has 65528 bits.
inline constexpr int max_factorial_argument = 5910;

// Characters a user may type or paste into one value field: the longest
// operand the operations accept in the longest base, 65530 binary digits,
// and a sign.
inline constexpr int field_typing_limit = max_operand_bits + 1;

// The longest text of any value a register can hold: every bit of
// register_words words as a binary digit, and a sign.
inline constexpr int longest_register_text = register_words * 32 + 1;

// text_buffer carries one field's text in or out; the engine's own text
// buffer has one character less than it (its allocation adds the
// terminator). The engine's writer stops 5 characters short of its buffer
// size, so both are sized to hold longest_register_text whole.
inline constexpr int text_buffer_size = 69632;
inline constexpr int engine_io_buffer_chars = text_buffer_size - 1;
static_assert(engine_io_buffer_chars - 5 >= longest_register_text,
              "the engine must be able to write every register in base 2");
static_assert(text_buffer_size > field_typing_limit, "a field's whole typed text must fit text_buffer");

// byte_buffer holds the bytes of a base-64 field: at most 3/4 of its text.
inline constexpr int byte_buffer_size = 65536;
static_assert(byte_buffer_size >= (text_buffer_size / 4) * 3 + 4);

// ---- The calculator -----------------------------------------------------------

// What keeps the core from reading the fields' change events: a job (an
// operation or a base switch) that runs, or the program writing a field
// itself. While the core is not idle, field-changed events are not parsed.
// This is the one guard against the program's own writes: a window may
// raise its field-changed event for them.
enum class busy_state { idle, job, program_write };

// Numbers owned by the calculator for its whole life, beside the registers.
// None carries meaning from one action to the next: every user writes a
// work number before reading it.
struct work_numbers {
    bignum* answer;  // staged result for Ans
    bignum* second;  // staged result for B (remainder, LCM)
    bignum* parsed;  // value read from a field, before it reaches the register
    bignum* saved_ans;  // X while TO X tries the answer
    bignum* m;   // modulus
    bignum* t1;  // reduced operands, bounds, temporaries
    bignum* t2;
    bignum* t3;
    bignum* g;   // common divisor
    bignum* u;   // Bezout coefficients, partial powers
    bignum* v;
    bignum* r;   // trial answer
    bignum* c;   // check value
    bignum* ea;  // exponents
    bignum* eb;
    bignum* q;   // quotient of the trial divisions of Prime(X)
};

// One calculator: its engine instance, the registers of the value fields
// and the work numbers made in it, the base of the fields and the state
// the core keeps between events. The constructor makes the instance and the
// numbers, the destructor releases them (and stops the engine's worker
// threads); whoever owns a calculator stops a job running on it first.
//
// The core's functions work on the calling thread's current calculator
// (calc()). A calculator is made current on the thread that makes it, as
// the engine makes its instance that thread's; calculator_scope makes it
// current on another thread (the one that runs a job) or again on its own.
// A calculator is used by one thread at a time; several calculators on
// threads of their own compute at the same time.
class calculator {
public:
    calculator();
    ~calculator();
    calculator(const calculator&) = delete;
    calculator& operator=(const calculator&) = delete;

    // The engine instance the calculator computes on.
    mr_state* engine() const { return engine_; }

    // The registers of the value fields (value_fields.h names each field's).
    register_set registers{};
    work_numbers work{};
    // Radix of all field text, a base of base_table.h.
    int current_base = 16;
    busy_state busy = busy_state::idle;
    // Set by an operation that has a second result for B.
    bool show_b = false;
    // The text each value field shows, as the program last wrote it or as
    // the last accepted edit left it: what a refused edit gives back.
    std::string field_texts[field_count];
    char text_buffer[text_buffer_size];
    std::uint8_t byte_buffer[byte_buffer_size];

private:
    mr_state* engine_ = nullptr;
};

// The calling thread's current calculator; there must be one.
calculator& calc();

// Makes a calculator, and its engine instance, current on the calling thread
// for the length of a scope; then the thread's earlier ones again.
class calculator_scope {
public:
    explicit calculator_scope(calculator& c);
    ~calculator_scope();
    calculator_scope(const calculator_scope&) = delete;
    calculator_scope& operator=(const calculator_scope&) = delete;

private:
    calculator* saved_;
    mr_state* saved_engine_;
};

// The register of a value field id, or null for any other id.
bignum* register_of(int field_id);

busy_state core_busy();
// Sets the core's busy state and returns the one it replaces; the state's
// only writer. The dialog logic marks a job from its start to its commit,
// write_field_text the length of each of its writes.
busy_state set_core_busy(busy_state next);

// Engine settings the core relies on while the window is open: the text
// base 16 between conversions, errors recorded instead of fatal, and a text
// buffer large enough for every register; and the engine's worker threads,
// which the destructor of calculator stops. Called when the window starts.
void configure_engine();

// ---- Result codes -----------------------------------------------------------

enum result_code : int {
    result_ok = 0,
    result_invalid_x = 1,
    result_invalid_y = 2,
    result_invalid_x_or_y = 3,
    result_invalid_z = 4,
    result_no_answer = 5,
    result_even_root_of_negative = 6,
    result_negative_factorial = 7,
    result_over_sized = 8,
    result_lcm_too_long = 9,
    result_factorial_too_big = 16,
    result_invalid_exponents = 96,
};

// A result that keeps the operation's answer: Ans is committed as for
// result_ok, B is not, and the status shows the code's message instead of
// the bit-length line (GCD(X,Y) whose LCM is too long for B).
constexpr bool result_keeps_answer(int code) { return code == result_lcm_too_long; }

// Writes the status text of a non-zero result code into `out` (256 bytes).
void format_result_message(int code, char* out, int size);

// Writes the bit-length line of the six registers into `out`.
void format_bit_line(char* out, int size);

// ---- The cycle --------------------------------------------------------------

// The name of a value field in the status texts: "X", "Y", "Z", "A", "B"
// or "Ans" (value_fields), and "?" for any other id.
const char* field_name(int field_id);

// Reads the text of value field `field_id` (X, Y, Z, A or B) into its
// register in the current base. Called for the user's edits; does nothing
// while the core is busy. A typed key that is no digit is dropped from the
// field, with a hint in the status. `pasted` tells that the edit brought in
// several characters at once (a paste, a drop, a script's text): then the
// text is read strictly (filter_pasted_digits), and a text that is no
// number of the current base is refused whole: the field gets back its
// previous text, the register keeps its value, and the status names the
// first character refused. A register over max_operand_bits is told at once.
void parse_field(dialog_window& window, int field_id, bool pasted = false);

// The user's paste into field `field_id` held a character the window's
// field cannot hold (Unicode code point `code`): the window left the field
// as it was, and the status says why.
void refuse_unreadable_paste(dialog_window& window, int field_id, unsigned long code);

// Typing or pasting into field `field_id` met its typing limit: the status
// says whether the field was left unchanged or cut, and to what length.
void report_typing_limit(dialog_window& window, int field_id);

// The status line shows the bit lengths of the six registers, replacing a
// notice that may no longer hold.
void show_bit_line(dialog_window& window);

// Base 256 text ends before a value's first zero byte, so a field in base
// 256 may show only the first bytes of its register. A record of the fields
// so cut, for the notice that names them.
struct byte_cuts {
    struct field_cut {
        int field_id;
        int shown;  // bytes the field shows
        int total;  // bytes of the value's magnitude
    };
    field_cut fields[field_count];
    int count = 0;
};

// Notes field `field_id` in `cuts` when its text of `value` in base 256,
// `text_length` bytes long, is shorter than the value's bytes.
void note_byte_cut(byte_cuts& cuts, int field_id, bignum* value, std::size_t text_length);

// The status notice for `cuts` ("Zero byte: Ans shows only its first 3 of 9
// bytes; base 16 shows it whole."), or the empty text when nothing is cut.
std::string byte_cut_notice(const byte_cuts& cuts);

// The field text of `value` in `base`, left in text_buffer. False when the
// engine could not write it (its error is then pending).
bool format_value(bignum* value, int base);

// Writes the register of `field_id` into its field as text in `base`.
// Returns false, leaving the field untouched, when the engine could not
// write the text (its error is then pending; see take_engine_error).
bool render_field(dialog_window& window, int field_id, int base);

// The radio button of `base`.
int radio_of_base(int base);

// Replaces the text of field `id` as the program (busy with
// busy_state::program_write, so the write starts no parse). Every program
// write of a value field goes here.
void write_field_text(dialog_window& window, int field_id, const char* text);

// When an engine error is pending: writes its message into `status`
// ("Cancelled." for a cancel request), clears the engine's error state and
// returns the error's code. Otherwise returns 0. A cancel leaves the
// engine's installed Montgomery modulus valid, whatever step it stopped.
int take_engine_error(char* status, int size);

// The field text of `value` in `base` into `out`; false when the engine
// could not write it (its error is then pending).
bool format_value_text(bignum* value, int base, std::string& out);

// ---- Jobs -------------------------------------------------------------------
//
// An operation press and a base switch are jobs in three steps, so that the
// long middle one can run away from the window's thread:
//   begin_*      on the window's thread: decides whether there is anything
//                to compute and takes what it needs from the fields;
//   compute_job  on one other thread while nothing else touches the core or
//                the engine: every computation and the text of the results,
//                into the job and the staging numbers only, never into a
//                register or a field;
//   commit_job   on the window's thread: the registers, fields and status
//                line as the action leaves them.
// A failed or cancelled job commits nothing but its status line, so every
// register and field stays as it was before the press.

enum class job_kind { operation, base_switch, expression };

struct calc_job {
    job_kind kind = job_kind::operation;
    int opcode = 0;  // operation
    int base = 0;    // base switch: the new base
    std::string expression;  // expression: the line's text
    int target = 0;          // expression: the value field it sets
    // Written by compute_job:
    bool commit = false;          // the results below replace the old ones
    bool show_b = false;          // operation: B receives a second result
    bool verdict = false;         // Prime(X) gave its verdict in the status
    std::string text[field_count];  // new field texts, by field_list index
    std::string status;           // empty: the bit-length line after commit
    progress_meter progress;

    // Back to a fresh job (the progress is reset when the job starts).
    void clear() {
        kind = job_kind::operation;
        opcode = base = target = 0;
        expression.clear();
        commit = show_b = verdict = false;
        for (std::string& t : text) t.clear();
        status.clear();
    }
};

// Prepares an operation press; false when the X field is empty, and the
// press then does nothing at all. In base 256, where zero is the empty
// text, an empty X field is the value 0 and the press goes on.
bool begin_operation(dialog_window& window, int opcode, calc_job& job);

// Prepares a switch to `base`; false when it is the current base already.
bool begin_base_switch(int base, calc_job& job);

// Prepares an evaluation of the expression line's `text` (UTF-8); false
// when the text is blank, and Enter then does nothing at all.
bool begin_expression(std::string_view text, calc_job& job);

void compute_job(calc_job& job);

void commit_job(dialog_window& window, calc_job& job);

// Step `done` of `total` of one of the core's own loops begins (the
// factorial's multipliers, the five-fold product's factors, a base switch's
// fields): counted into the running job's progress, and a point at which a
// cancel request stops the job.
void core_progress(int done, int total);

// The expression job's own steps (expression_job.cpp): the evaluation on
// the job's thread, and on the window's thread the one place where an
// evaluated value reaches a register.
void compute_expression(calc_job& job);
void commit_expression_value(dialog_window& window, const calc_job& job);

#endif
