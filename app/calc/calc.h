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

#include <cstdint>

#include "engine.h"
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

// busy_marker's value while the program itself rewrites fields.
inline constexpr std::uint32_t busy_value = 0xDEADBEEF;

// ---- Registers and state ----------------------------------------------------

struct register_set {
    bignum* x;
    bignum* y;
    bignum* z;
    bignum* a;
    bignum* b;
    bignum* ans;
};
extern register_set registers;

// The value fields in the order of every loop over them: X, Y, Z, A, B, Ans.
inline constexpr int field_list[6] = {1000, 1001, 1002, 1003, 1005, 1006};

// The register of a value field id, or null for any other id.
bignum* register_of(int field_id);

// Radix of all field text: 2, 8, 10, 16, 36, 60, 64 or 256.
extern int current_base;
// busy_value while an operation, a base switch or another program write of
// fields runs; field-changed events are not parsed meanwhile.
extern std::uint32_t busy_marker;
extern char text_buffer[text_buffer_size];
extern std::uint8_t byte_buffer[byte_buffer_size];
// Set by an operation that has a second result for B.
extern bool show_b;

// Engine settings the core relies on while the window is open: the text
// base 16 between conversions, errors recorded instead of fatal, and a text
// buffer large enough for every register. Called when the window starts.
void configure_engine();

// ---- Result codes -----------------------------------------------------------

enum result_code : int {
    result_ok = 0,
    result_invalid_x = 1,
    result_invalid_y = 2,
    result_invalid_x_or_y = 3,
    result_invalid_z = 4,
    result_no_answer = 5,
    result_over_sized = 8,
    result_factorial_too_big = 16,
    result_invalid_exponents = 96,
};

// Writes the status text of a non-zero result code into `out` (256 bytes).
void format_result_message(int code, char* out, int size);

// Writes the bit-length line of the six registers into `out`.
void format_bit_line(char* out, int size);

// ---- The cycle --------------------------------------------------------------

// Reads the text of value field `field_id` (X, Y, Z, A or B) into its
// register in the current base. Called for the user's edits; does nothing
// while busy_marker is set.
void parse_field(dialog_window& window, int field_id);

// Writes the register of `field_id` into its field as text in `base`.
// Returns false, leaving the field untouched, when the engine could not
// write the text (its error is then pending; see take_engine_error).
bool render_field(dialog_window& window, int field_id, int base);

// Runs the operation of `opcode` (the operation table in operations.h).
void run_operation(dialog_window& window, int opcode);

// When an engine error is pending: writes its message into `status`, clears
// the engine's error state and returns true. Otherwise returns false.
bool take_engine_error(char* status, int size);

#endif
