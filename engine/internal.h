// Helpers shared by the engine's modules. Not part of the public interface:
// the front end includes engine.h only.
#ifndef TORVANE_ENGINE_INTERNAL_H
#define TORVANE_ENGINE_INTERNAL_H

#include <atomic>

#include "engine.h"

// The current instance; get_engine() returns it. Modules read it directly in
// their loops instead of calling get_engine() per word.
extern mr_state* engine_instance;

// True while an engine error is recorded. Traced routines test this first and
// return at once, touching none of their arguments.
inline bool error_pending() { return engine_instance->error_number != 0; }

// Preconditions that the routines' contracts state and that no error code
// covers (arguments that must differ, a modulus that must be installed, a
// quotient that must fit a word, lengths within their room): checked at the
// routine's entry in debug builds, where a broken one ends the process with
// the condition, file and line; compiled to nothing when NDEBUG is defined.
[[noreturn]] void engine_precondition_failed(const char* condition, const char* file, int line);
#ifdef NDEBUG
#define TORVANE_EXPECTS(condition) static_cast<void>(0)
#else
#define TORVANE_EXPECTS(condition) \
    ((condition) ? static_cast<void>(0) : engine_precondition_failed(#condition, __FILE__, __LINE__))
#endif

// Whether x's length is within the largest room a number of this instance
// has, the 2 max_length + 3 words of a double-length workspace number (an
// operand over max_length words is an error some routines report, not a
// broken precondition). A length beyond it was never a finished number.
inline bool fits_room(const bignum* x) { return stored_length(x) <= 2 * engine_instance->max_length + 3; }

// Set by request_cancel from any thread; read at the step boundaries of the
// long loops (report_progress).
extern std::atomic<bool> cancel_requested;
// Records a cancel request as the pending error.
void raise_cancel();

// The listener of the long loops' progress; see set_progress_hook.
struct progress_listener {
    progress_hook hook;
    void* context;
};
extern progress_listener engine_progress;

// Called at the head of each step of a long loop: `done` of `total` steps
// are finished. Tells the progress hook, and turns a cancel request into
// the pending error here, where the loop's state is whole: from then on
// every traced routine returns at once, the loop's own calls included, and
// the computation unwinds as after any other error. (A request is not taken
// at every routine's entry check: some routines go on after a callee has
// returned early and would then work on a half-made intermediate.)
inline void report_progress(int done, int total) {
    if (engine_progress.hook != nullptr)
        engine_progress.hook(engine_progress.context, engine_instance->trace_depth, done, total);
    if (cancel_requested.load(std::memory_order_relaxed)) raise_cancel();
}

// One entry of the routine-call trace. A traced routine checks
// error_pending() first, then declares one of these: the constructor pushes
// the routine number (kept only while the depth is below 24), the destructor
// pops it on every way out.
class routine_trace {
public:
    explicit routine_trace(int number) {
        mr_state* s = engine_instance;
        s->trace_depth++;
        if (s->trace_depth < mr_trace_depth_max) s->trace[s->trace_depth] = number;
    }
    ~routine_trace() { engine_instance->trace_depth--; }
    routine_trace(const routine_trace&) = delete;
    routine_trace& operator=(const routine_trace&) = delete;
};

// Word arrays for the temporaries of the fast algorithms (subquadratic
// products, reductions, divisions, text conversion), made once by mirsys
// beside the workspace numbers so that nothing is allocated while computing.
// Each area belongs to one module; its size in words is a function of
// max_length, kept with the others in one table in state.cpp.
enum scratch_area : int {
    area_product,  // multiply_divide.cpp: subquadratic products and squares
    area_reduce,   // montgomery.cpp: reduction by multiplication
    area_divide,   // multiply_divide.cpp: division; gcd.cpp: matrix products between divisions
    area_convert,  // text.cpp: powers of the base and the split halves
    scratch_area_count
};
// The first word of area `a`, 16-byte aligned.
mr_digit* scratch_words(scratch_area a);
// The number of words in area `a`.
std::size_t scratch_words_size(scratch_area a);

// Sets length_check for the life of one scope and gives the caller's value
// back on every way out, so that no routine leaves it changed. Routines
// clear it around steps whose intermediate results need up to twice
// max_length words, held in the double-length workspace numbers.
class length_check_scope {
public:
    explicit length_check_scope(int value) : saved_(engine_instance->length_check) {
        engine_instance->length_check = value;
    }
    ~length_check_scope() { engine_instance->length_check = saved_; }
    length_check_scope(const length_check_scope&) = delete;
    length_check_scope& operator=(const length_check_scope&) = delete;

private:
    int saved_;
};

// Installs the odd modulus n >= 3 with its constants, as a successful
// prepare_monty does, without its checks or trace: the exponentiations use
// it to give a caller's modulus back.
void install_modulus(const bignum* n);

// The two halves of isprime's test (primality.cpp), for an odd n >= 3 that
// each installs as the Montgomery modulus and leaves installed (error 19
// for any other n). strong_probable_prime: 1 when n is a strong probable
// prime to the base a, 2 <= a < n. strong_lucas_probable_prime: 1 when n is
// a strong Lucas probable prime with Selfridge's parameters (a perfect
// square gives 0). Both give 0 for a composite they prove composite.
int strong_probable_prime(int a, bignum* n);
int strong_lucas_probable_prime(bignum* n);

// The Montgomery methods by name, for the thresholds' tuning program; the
// routines of montgomery.cpp choose between them by size.
enum monty_method { monty_by_words, monty_by_multiplication };
// y = t*R^-1 mod n under the installed modulus (sign of t ignored), by the
// given method; t may be the accumulator.
void reduce_with(bignum* t, bignum* y, monty_method method);
// w = x*y*R^-1 mod n for residues x != y below n, the product fused with
// its reduction.
void modmult_fused(bignum* x, bignum* y, bignum* w);
// The same for residues x, y below n (x may be y), the product formed and
// reduced word by word in the reduce area.
void modmult_in_area(bignum* x, bignum* y, bignum* w);

// Length of x in words, without sign and denominator.
inline int length_of(const bignum* x) { return static_cast<int>(x->len & mr_length_mask); }
// Length word without the sign bit.
inline std::uint32_t unsigned_length_word(const bignum* x) { return x->len & mr_magnitude_mask; }
inline bool is_negative(const bignum* x) { return (x->len & mr_sign_bit) != 0; }
inline bool is_zero(const bignum* x) { return x->len == 0; }

#endif
