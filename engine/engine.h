// The Torvane big-number engine: signed multi-precision integers held in
// 32-bit digit words, and every routine the calculator computes with.
//
// This is the engine's one public header. The engine is a single process-wide
// instance (mr_state) created by mirsys() and torn down by release_engine();
// all routines are free functions that take their operands first and their
// results last, in numbers the caller supplies. Nothing here allocates while
// it computes: scratch numbers are made once, by mirsys().
//
// Errors: a failing routine calls report_error(code). With error_continue
// clear the report is printed and the process ends; with it set the code is
// only recorded in error_number, which is sticky: every traced routine returns
// at once while it is non-zero.
//
// Modules, one per concern:
//   state.cpp            instance, number blocks, errors, trace, random words
//   primitives.cpp       linear-time arithmetic and the word operations
//   multiply_divide.cpp  multiply (with squaring), divide, mad, normalise
//   text.cpp             text conversion in any base from 2 to 256
//   powers.cpp           bit length, powers of two, powers, n-th roots
//   gcd.cpp              Lehmer GCD, extended GCD and inverses
//   montgomery.cpp       Montgomery residues and their products
//   modexp.cpp           modular exponentiation
//   primality.cpp        small-prime table, trial division, Baillie-PSW
// and, inside the engine only:
//   kernels.h/.cpp       word-vector kernels, the hot loops of all the above
//   products.h/.cpp      Karatsuba, Toom-3, Toom-4 and Toom-4/2 products and squares
//   workspace.h          which routine uses which workspace number
//   thresholds.h         the sizes at which a faster method takes over
#ifndef TORVANE_ENGINE_ENGINE_H
#define TORVANE_ENGINE_ENGINE_H

#include <cstddef>
#include <cstdint>

// One digit word. In full-word base (digit_base 0) the radix is 2^32.
using mr_digit = std::uint32_t;

// A signed integer (or, never made by this program, a fraction). The header
// below is followed, in the same zero-filled block, by the digit words,
// least significant first; `w` points at the first of them.
//
// len: bit 31 the sign (1 = negative), bits 0-15 the numerator length N in
// words, bits 16-30 the denominator length D (0 for an integer).
// Zero is len == 0 and never carries the sign.
struct bignum {
    std::uint32_t len;
    mr_digit* w;
    std::uint32_t spare;
};

// Masks of the length word.
inline constexpr std::uint32_t mr_sign_bit = 0x80000000u;
inline constexpr std::uint32_t mr_length_mask = 0x0000FFFFu;
inline constexpr std::uint32_t mr_denominator_mask = 0x7FFF0000u;
inline constexpr std::uint32_t mr_magnitude_mask = 0x7FFFFFFFu;

// Byte size of a number's header; its digits start right after it. Every
// block size below is derived from it, so the layout holds for any pointer
// width.
inline constexpr std::size_t number_header_bytes = sizeof(bignum);
inline constexpr std::size_t number_header_words = number_header_bytes / sizeof(mr_digit);

// Depth of the routine-call trace and size of the random pool.
inline constexpr int mr_trace_depth_max = 24;
inline constexpr int mr_random_pool_size = 37;

// The engine instance. Field order and meaning are fixed; see state.cpp.
struct mr_state {
    std::uint32_t digit_base;      // radix of one word, 0 standing for 2^32
    std::uint32_t external_base;   // base whose digits are packed into words
    int digits_per_word;           // external_base digits per word
    int bits_per_digit;            // floor(log2 radix)
    std::uint32_t digit_base_pow2; // 2^bits_per_digit, 0 when that is 2^32
    int max_length;                // largest integer length in words
    int trace_depth;               // depth of the call trace
    int trace[mr_trace_depth_max]; // routine number at each depth
    int length_check;              // 1: results above max_length are error 3
    int initialised;               // set once the workspace exists
    std::uint32_t random_pool[mr_random_pool_size];
    int random_index;              // index of the last pool word handed out
    std::uint32_t random_borrow;   // borrow carried between pool refills
    std::uint32_t monty_constant;  // -1/n mod 2^32 of the installed modulus
    bignum* modulus;               // installed Montgomery modulus, zero: none
    bignum* accumulator;           // double-length scratch of products
    bignum* scratch1;
    bignum* scratch2;
    bignum* scratch3;
    bignum* scratch4;
    bignum* scratch5;              // double length
    bignum* scratch6;              // double length
    bignum* scratch7;              // double length
    bignum* scratch8;
    bignum* scratch9;
    bignum* scratch10;
    bignum* scratch11;
    bignum* scratch12;
    bignum* scratch13;
    bignum* scratch14;
    bignum* scratch15;
    int io_buffer_size;            // usable characters of io_buffer
    int error_continue;            // 1: errors are only recorded
    int error_number;              // 0, or the code of the last error
    int prime_trials;              // Miller-Rabin rounds
    int io_base;                   // radix of text input and output
    int* prime_table;              // small primes, zero-terminated, or null
    char* io_buffer;               // the text buffer of the text routines
    void* workspace_block;         // the block that holds all workspace numbers
    mr_digit* scratch_area_block;  // word arrays of the fast algorithms
    std::uint64_t monty_constant_limb;  // -1/n mod 2^64; its low half is monty_constant
};

// Number of slots in the workspace block.
inline constexpr int workspace_slot_count = 27;

// Routine numbers: indexes into the routine-name table used by error reports.
enum routine_number : int {
    rn_your_program = 0,
    rn_normalise = 4,
    rn_multiply = 5,
    rn_divide = 6,
    rn_decr = 8,
    rn_premult = 9,
    rn_subdiv = 10,
    rn_egcd = 12,
    rn_cbase = 13,
    rn_nroot = 16,
    rn_power = 17,
    rn_powmod = 18,
    rn_isprime = 22,
    rn_mirvar = 23,
    rn_mad = 24,
    rn_putdig = 26,
    rn_add = 27,
    rn_subtract = 28,
    rn_mirsys = 29,
    rn_xgcd = 30,
    rn_mr_shift = 33,
    rn_logb2 = 49,
    rn_expint = 50,
    rn_gprime = 70,
    rn_powltr = 71,
    rn_otstr = 75,
    rn_instr = 76,
    rn_cotstr = 77,
    rn_cinstr = 78,
    rn_powmod2 = 79,
    rn_prepare_monty = 80,
    rn_nres = 81,
    rn_redc = 82,
    rn_nres_modmult = 83,
    rn_nres_powmod = 84,
    rn_nres_powltr = 86,
    rn_remain = 88,
    rn_nres_powmod2 = 99,
    rn_trial_division = 105,
    rn_strong_probable_prime = 106,
    rn_strong_lucas_probable_prime = 107,
    rn_set_io_buffer_size = 142,
    rn_expb2 = 149,
};

// Number of entries in the routine-name table.
inline constexpr int routine_name_count = 173;
// The name of routine number k (0 <= k < 173); "???" outside the table.
const char* routine_name(int k);

// The engine's error codes: what report_error records in error_number, each
// with its fixed message (error_message). The codes marked "unused" belong
// to the table but are raised by no routine of this engine.
enum mr_error : int {
    mr_error_base_too_big = 1,              // "Number base too big for representation"
    mr_error_division_by_zero = 2,          // "Division by zero attempted"
    mr_error_overflow = 3,                  // "Overflow - Number too big"
    mr_error_negative_result = 4,           // "Internal result is negative"
    mr_error_input_format = 5,              // "Input format error"
    mr_error_illegal_base = 6,              // "Illegal number base"
    mr_error_illegal_parameters = 7,        // "Illegal parameter usage"
    mr_error_out_of_space = 8,              // "Out of space"
    mr_error_even_root_of_negative = 9,     // "Even root of a negative number"
    mr_error_negative_power = 10,           // "Raising integer to negative power"
    mr_error_illegal_root = 11,             // "Attempt to take illegal root"
    mr_error_flash_number = 12,             // "Integer operation attempted on Flash number"
    mr_error_flash_overflow = 13,           // "Flash overflow" (unused)
    mr_error_numbers_too_big = 14,          // "Numbers too big"
    mr_error_log_of_non_positive = 15,      // "Log of a non-positive number" (unused)
    mr_error_flash_to_double = 16,          // "Flash to double conversion failure" (unused)
    mr_error_io_buffer_overflow = 17,       // "I/O buffer overflow"
    mr_error_not_initialised = 18,          // "Engine not initialised - no call to mirsys()"
    mr_error_illegal_modulus = 19,          // "Illegal modulus "
    mr_error_no_modulus = 20,               // "No modulus defined"
    mr_error_exponent_too_big = 21,         // "Exponent too big" (unused)
    mr_error_unsupported_feature = 22,      // "Unsupported Feature - check build options" (unused)
    mr_error_double_length_type = 23,       // "Specified double length type isn't double length" (unused)
    mr_error_basis_not_irreducible = 24,    // "Specified basis is NOT irreducible" (unused)
    mr_error_floating_point_rounding = 25,  // "Unable to control Floating-point rounding" (unused)
    mr_error_base_not_binary = 26,          // "Base must be binary" (unused)
    mr_error_no_irreducible_basis = 27,     // "No irreducible basis defined" (unused)
    mr_error_composite_modulus = 28,        // "Composite modulus" (unused)
    // A cancel request taken at a step boundary (request_cancel below):
    // "Calculation cancelled".
    mr_error_cancelled = 29,
};
// The message of error code k, "Undefined error\n" outside 1..29.
const char* error_message(int code);

// ---- Instance (state.cpp) -------------------------------------------------

mr_state* mirsys(int digits, std::uint32_t base);
mr_state* init_engine(mr_state* state, int digits, std::uint32_t base);
mr_state* alloc_engine_record();
void release_engine();
mr_state* get_engine();
void set_digit_base(std::uint32_t base);

// ---- Numbers (state.cpp) --------------------------------------------------

bignum* mirvar(int value);
void free_number(bignum* x);
void* alloc_number_block(int count);
void free_number_block(void* block, int count);
bignum* number_in_block(void* block, int index, int length);
bignum* workspace_number(void* block, int index);
void zero_number(bignum* x);
void set_from_int(int n, bignum* x);
void copy_number(const bignum* x, bignum* y);
void negate_number(const bignum* x, bignum* y);
void abs_number(const bignum* x, bignum* y);
int stored_length(const bignum* x);
int is_flash_number(const bignum* x);
int sign_of(const bignum* x);
void set_sign(int s, bignum* x);
void strip_leading_zeros(bignum* x);
int int_value(const bignum* x);
int compare_numbers(const bignum* x, const bignum* y);
int get_digit(const bignum* x, int k);
int digit_count(const bignum* x);

// ---- Memory, errors, trace (state.cpp) ------------------------------------

void* engine_alloc(int count, int size);
void engine_free(void* p);
// Records or reports error `code` (one of mr_error; any other int reports
// "Undefined error").
void report_error(int code);

// ---- Cancel and progress (state.cpp) ----------------------------------------

// request_cancel may be called from any thread while another runs the
// engine: at the next step boundary of a long loop (progress_step) the
// engine records mr_error_cancelled as its pending error,
// and every routine then unwinds as after any other error. The request
// stays until clear_cancel_request, which the thread that runs the engine
// calls once the computation has returned.
void request_cancel();
void clear_cancel_request();

// Progress of the long loops (the exponent bits of the exponentiations, the
// trials of the primality test, and the caller's own loops through
// progress_step): while a hook is set, each step of such a loop begins with
// hook(context, depth, done, total), `done` of `total` steps finished and
// `depth` the trace depth of the looping routine (0 for the caller), so that
// a listener can nest the loops of callees inside those of their callers.
// The hook runs on the engine's thread; with none set a step costs one null
// test and one relaxed atomic load.
using progress_hook = void (*)(void* context, int depth, int done, int total);
void set_progress_hook(progress_hook hook, void* context);

// Step `done` of `total` of the caller's own long loop begins: reported to
// the hook, and a step boundary at which a cancel request is taken.
void progress_step(int done, int total);

// A step boundary of a loop that reports no progress (the Euclid passes of
// the GCDs, the blocks of a division, the splits of a text conversion, the
// caller's own loops): a cancel request is taken here. True when an error
// is pending, the request's or any other: the loop's cue to stop.
bool cancel_point();

void put_text(const char* text);
std::uint32_t random_word();

// ---- Primitive arithmetic (primitives.cpp) --------------------------------

void add(bignum* x, bignum* y, bignum* z);
void subtract(bignum* x, bignum* y, bignum* z);
void decr(bignum* x, int n, bignum* z);
void premult(bignum* x, int n, bignum* z);
int subdiv(bignum* x, int n, bignum* z);
int remain(bignum* x, int n);
int word_divides(bignum* x, int n);
void mr_shift(bignum* x, int n, bignum* w);
void signed_add(bignum* x, int d, bignum* y, bignum* z);
void magnitude_add(bignum* x, bignum* y, bignum* z);
void magnitude_subtract(bignum* x, bignum* y, bignum* z);
void multiply_by_word(bignum* x, mr_digit n, bignum* z);
mr_digit divide_by_word(bignum* x, mr_digit n, bignum* z);
mr_digit mul_add_div_word(mr_digit a, mr_digit b, mr_digit c, mr_digit m, mr_digit* r);
mr_digit div_double_word(mr_digit hi, mr_digit lo, mr_digit m, mr_digit* r);
mr_digit shift_word(mr_digit w, int n);
int test_bit(const bignum* x, int k);
int exponent_window(const bignum* x, int i, int* nbs, int* nzs, int window);
int exponent_window_pair(const bignum* x, const bignum* y, int i, int* nbs, int* nzs);

// ---- Multiplication and division (multiply_divide.cpp) --------------------

void multiply(bignum* x, bignum* y, bignum* z);
void divide(bignum* x, bignum* y, bignum* z);
void mad(bignum* x, bignum* y, bignum* z, bignum* w, bignum* q, bignum* r);
mr_digit normalise(bignum* x, bignum* y);

// ---- Text conversion (text.cpp) -------------------------------------------

int cinstr(bignum* x, const char* text);
int cotstr(bignum* x, char* text);
int instr(bignum* x, const char* text);
int otstr(bignum* x, char* text);
void cbase(bignum* x, std::uint32_t oldbase, bignum* y);
void putdig(int n, bignum* x, int i);
void set_io_buffer_size(int len);

// ---- Powers, roots, logarithms (powers.cpp) --------------------------------

int logb2(bignum* x);
void expb2(int n, bignum* x);
void expint(int b, int n, bignum* x);
void power(bignum* x, int n, bignum* z, bignum* w);
bool nroot(bignum* x, int n, bignum* w);

// ---- GCD and inverses (gcd.cpp) --------------------------------------------

int egcd(bignum* x, bignum* y, bignum* z);
int xgcd(bignum* x, bignum* y, bignum* xd, bignum* yd, bignum* z);
mr_digit small_quotient(std::uint64_t u, std::uint64_t v);

// ---- Montgomery arithmetic (montgomery.cpp) --------------------------------

mr_digit prepare_monty(bignum* n);
void nres(bignum* x, bignum* y);
void redc(bignum* x, bignum* y);
void nres_modmult(bignum* x, bignum* y, bignum* w);
void clear_modulus();

// ---- Modular exponentiation (modexp.cpp) -----------------------------------

void powmod(bignum* x, bignum* y, bignum* n, bignum* w);
void powmod2(bignum* x, bignum* y, bignum* a, bignum* b, bignum* n, bignum* w);
void powltr(int x, bignum* y, bignum* n, bignum* w);
void nres_powmod(bignum* x, bignum* y, bignum* w);
void nres_powmod2(bignum* x, bignum* y, bignum* a, bignum* b, bignum* w);
void nres_powltr(int x, bignum* y, bignum* w);

// ---- Primality (primality.cpp) ---------------------------------------------

void gprime(int bound);
int trial_division(bignum* x, bignum* y);
int isprime(bignum* x);

#endif
