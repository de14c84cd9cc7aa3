// The Torvane big-number engine: signed multi-precision integers held in
// 32-bit digit words, and what a calculator computes with.
//
// This is the engine's public header: the number record, the instance's
// life and settings, the routines a calculator calls, and predicates that
// spare it reading a number's fields. The instance record, the routines the
// modules call among themselves, the kernels and the product methods are
// declared in the private headers beside the sources (internal.h and one
// per module); engine/README.md draws the layers.
//
// The engine computes on the calling thread's instance, created on that
// thread by mirsys() and torn down by release_engine(), or lent to it by
// use_engine(); threads with instances of their own compute at the same
// time without touching one another's. All routines are free functions that
// take their
// operands first and their results last, in numbers the caller supplies.
// Passing the same number for two parameters is allowed unless a routine
// says otherwise. Inputs a routine never writes are const. Nothing here
// allocates while it computes: scratch numbers are made once, by mirsys().
//
// Errors: a failing routine reports an mr_error code. By default the report
// (the failing routine, its callers, the message) is printed and the process
// ends; after set_error_continue(1) the code is only recorded, and it is
// sticky: every routine returns at once while engine_error() is non-zero,
// until clear_engine_error().
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

// The engine instance; its fields are the engine's own (internal.h).
struct mr_state;

// ---- Errors -------------------------------------------------------------------

// The engine's error codes, each with its fixed message (error_message).
// The codes marked "unused" belong to the table but are raised by no
// routine of this engine.
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

// ---- Instance and settings (state.cpp, text.cpp) ------------------------------

// Makes the instance with room for `digits` digits of `base` (mirsys(16384,
// 16): numbers of up to 2049 words) and returns it; release_engine() frees
// everything mirsys made. Numbers made by mirvar are their owners' to free.
// Both work on the calling thread's instance: mirsys makes it that
// thread's instance, release_engine frees it and leaves the thread none.
mr_state* mirsys(int digits, std::uint32_t base);
void release_engine();
// Makes s (made by mirsys, or null) the calling thread's instance and
// returns the one it had: a thread computes on an instance another thread
// made, which must not compute on it meanwhile.
mr_state* use_engine(mr_state* s);

// 1: an error is only recorded; 0 (after mirsys): it is printed and the
// process ends.
void set_error_continue(int on);
// 0, or the mr_error code recorded since the last clear_engine_error().
int engine_error();
// Forgets the recorded error and puts back what a routine stopped by it may
// have left changed: the call trace, the length check and the digit base
// the instance was made with. The installed modulus stays (clear_modulus).
void clear_engine_error();

// Radix of the text cinstr reads and cotstr writes, 2 to 256 (10 after
// mirsys).
int get_io_base();
void set_io_base(int base);
// The engine's own text buffer, of the size last given to
// set_io_buffer_size (2559 characters after mirsys), and that size: the
// buffer cotstr may fill whole.
char* get_io_buffer();
void set_io_buffer_size(int len);
// The largest integer length in words (2049 for mirsys(16384, 16)).
int get_max_length();

// ---- Numbers (state.cpp) ------------------------------------------------------

bignum* mirvar(int value);
void free_number(bignum* x);
void zero_number(bignum* x);
void set_from_int(int n, bignum* x);
void copy_number(const bignum* x, bignum* y);
void negate_number(const bignum* x, bignum* y);
void abs_number(const bignum* x, bignum* y);
// -1 for a negative x, else +1 (zero included).
int sign_of(const bignum* x);
// x as an int when |x| < 2^30, else +-2^30 with x's sign: a small-value test.
int int_value(const bignum* x);
// -1, 0 or +1 as x is below, equal to or above y.
int compare_numbers(const bignum* x, const bignum* y);

// Length of x in words, without sign and denominator.
inline int length_of(const bignum* x) { return static_cast<int>(x->len & mr_length_mask); }
inline bool is_zero(const bignum* x) { return x->len == 0; }
inline bool is_negative(const bignum* x) { return (x->len & mr_sign_bit) != 0; }
// Whether |x| is odd, for numbers in full 32-bit words (every number outside
// a text conversion).
inline bool is_odd(const bignum* x) { return !is_zero(x) && (x->w[0] & 1u) != 0; }

// ---- Cancel and progress (state.cpp) ----------------------------------------

// request_cancel may be called from any thread while others run the
// engine: at the next step boundary of a long loop (progress_step) every
// instance records mr_error_cancelled as its pending error, and every
// routine then unwinds as after any other error. The request stays until
// clear_cancel_request, which the thread that runs the engine calls once
// the computation has returned; it clears the process-wide request and the
// calling thread's instance's own.
void request_cancel();
void clear_cancel_request();

// Progress of the long loops (the exponent bits of the exponentiations, the
// trials of the primality test, and the caller's own loops through
// progress_step): while a hook is set on the calling thread's instance,
// each step of such a loop begins with hook(context, depth, done, total),
// `done` of `total` steps finished and `depth` the trace depth of the
// looping routine (0 for the caller), so that a listener can nest the loops
// of callees inside those of their callers. The hook runs on the engine's
// thread; with none set a step costs one null test and two relaxed atomic
// loads.
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

// ---- Worker threads (pool.cpp, state.cpp) -------------------------------------

// Starts the engine's worker threads, once per process, from a thread with
// an instance: `threads` threads in all with the calling one (0: the
// TORVANE_THREADS variable when set, else the processor count; 1 or less:
// no pool). Each worker gets an instance of the calling instance's size.
// Long products and squares, the products of long Montgomery reductions
// and the primality test's trials then run on several threads, with the
// same results as on one. Returns the number of threads now in use (1: none
// started). stop_pool ends them; no computation may be running then.
int start_pool(int threads);
void stop_pool();

// ---- Arithmetic ---------------------------------------------------------------

// z = x + y, z = x - y (primitives.cpp).
void add(const bignum* x, const bignum* y, bignum* z);
void subtract(const bignum* x, const bignum* y, bignum* z);
// z = x * n; z = x / n truncated, returning the remainder with x's sign.
void premult(const bignum* x, int n, bignum* z);
int subdiv(const bignum* x, int n, bignum* z);

// (multiply_divide.cpp)
// z = x * y.
void multiply(const bignum* x, const bignum* y, bignum* z);
// z = x / y truncated towards zero, x = the remainder (sign of x). x and y
// must differ (error 7). z == x: x receives the quotient only; z == y: only
// the remainder is formed, in x, and y keeps its value.
void divide(bignum* x, const bignum* y, bignum* z);
// q = (x*y + z) / w, r = the remainder. z is added only when it differs
// from x and y; q == w forms only the remainder, q == r only the quotient;
// w == r is error 7. The caller makes sure the quotient fits q.
void mad(const bignum* x, const bignum* y, const bignum* z, const bignum* w, bignum* q, bignum* r);

// (text.cpp) x = the text in io_base, returning the characters read; the
// text of x in io_base, returning its length.
int cinstr(bignum* x, const char* text);
int cotstr(const bignum* x, char* text);

// (powers.cpp)
// The bit length of |x| (0 for zero).
int logb2(const bignum* x);
// x = b^n for machine ints.
void expint(int b, int n, bignum* x);
// w = x^n mod z; z == w: x^n with no modulus. x may be w.
void power(const bignum* x, int n, bignum* z, bignum* w);
// w = the integer n-th root of x (truncated towards zero); true when w^n
// == x. x may be w.
bool nroot(bignum* x, int n, bignum* w);

// (gcd.cpp)
// z = gcd(|x|, |y|); returns int_value of it.
int egcd(const bignum* x, const bignum* y, bignum* z);
// z = gcd(|x|, |y|) and x*xd + y*yd = z for y > 0, xd made non-negative;
// xd == yd forms only xd, and z is written only when it differs from both:
// xgcd(x, n, v, v, v) leaves the inverse of x modulo n when it returns 1.
int xgcd(const bignum* x, const bignum* y, bignum* xd, bignum* yd, bignum* z);

// (modexp.cpp) w = x^y mod n; w = x^y * a^b mod n for an odd n.
void powmod(bignum* x, bignum* y, bignum* n, bignum* w);
void powmod2(bignum* x, bignum* y, bignum* a, bignum* b, bignum* n, bignum* w);
// (montgomery.cpp) Forgets the installed Montgomery modulus: the next
// exponentiation installs its own afresh.
void clear_modulus();

// (primality.cpp) 1 when x is a probable prime (Baillie-PSW and random
// trials), else 0.
int isprime(bignum* x);

#endif
