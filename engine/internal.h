// The engine's private interface: the instance record and what every module
// shares (the trace, the error plumbing, the scratch areas, the number
// blocks), declared for the engine's sources, its tests and its benchmarks.
// The calculator includes engine.h only. This header includes no module's
// but the thresholds (which the scratch areas' layouts read): each
// arithmetic module's routines for the others are in a header of its own,
// which a source includes where it calls them.
#ifndef TORVANE_ENGINE_INTERNAL_H
#define TORVANE_ENGINE_INTERNAL_H

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "engine.h"
#include "thresholds.h"

// Byte size of a number's header; its digits start right after it. Every
// block size below is derived from it, so the layout holds for any pointer
// width.
inline constexpr std::size_t number_header_bytes = sizeof(bignum);
inline constexpr std::size_t number_header_words = number_header_bytes / sizeof(mr_digit);

// Depth of the routine-call trace and size of the random pool.
inline constexpr int mr_trace_depth_max = 24;
inline constexpr int mr_random_pool_size = 37;

// An odd modulus n >= 3 with what reduction under it needs: the record the
// inner routines take. The instance holds one, the installed context
// (mr_state::monty, over the workspace number `modulus`), which
// prepare_monty sets and the public routines use; the exponentiations and
// the primality test make their own (make_context) for moduli of their own
// and leave the installed one as it is. Every word of storage comes from
// the instance's workspace: n' of the installed context lives in the
// reduce area, that of a context of one's own in the workspace number
// context_nprime (workspace.h), so one such context is in use at a time.
struct monty_context {
    bignum* modulus;              // n; zero (installed context only): none
    std::uint64_t constant_limb;  // -1/n mod 2^64
    mr_digit constant;            // -1/n mod 2^32, the low half of constant_limb
    int length;                   // words of n
    mr_digit* nprime;             // room for n' = -1/n mod R, of `length` words
    int nprime_length;            // words of n' made at nprime for this n; 0: none yet
};

// The workspace numbers, one line each: X(kind, name, slot, slots, label)
// with the number's slot in the workspace block, the slots it fills (2: a
// double-length number, which also fills the next) and its name in claim
// reports. kind is `field` for a number the record holds a pointer to
// (accumulator; `indexed`: scratch1 to scratch15, which routines also reach
// by number), `slot` for one reached by its slot, and `fixed` for the
// installed modulus, which is not a temporary and takes no claim. The
// record's fields, the claims (workspace.h), mirsys's placing of the numbers
// (state.cpp) and scripts/workspace_table.sh all read this list.
#define TORVANE_WORKSPACE_NUMBERS(X)                            \
    X(field, accumulator, 0, 2, "the accumulator")              \
    X(indexed, scratch1, 2, 1, "scratch1")                      \
    X(indexed, scratch2, 3, 1, "scratch2")                      \
    X(indexed, scratch3, 4, 1, "scratch3")                      \
    X(indexed, scratch4, 5, 1, "scratch4")                      \
    X(indexed, scratch5, 6, 2, "scratch5")                      \
    X(indexed, scratch6, 8, 2, "scratch6")                      \
    X(indexed, scratch7, 10, 2, "scratch7")                     \
    X(indexed, scratch8, 12, 1, "scratch8")                     \
    X(indexed, scratch9, 13, 1, "scratch9")                     \
    X(indexed, scratch10, 14, 1, "scratch10")                   \
    X(indexed, scratch11, 15, 1, "scratch11")                   \
    X(indexed, scratch12, 16, 1, "scratch12")                   \
    X(indexed, scratch13, 17, 1, "scratch13")                   \
    X(indexed, scratch14, 18, 1, "scratch14")                   \
    X(indexed, scratch15, 19, 1, "scratch15")                   \
    X(slot, context_nprime, 20, 1, "context_nprime")            \
    X(fixed, modulus, 21, 1, "the modulus")                     \
    X(slot, even_base, 22, 1, "even_base")                      \
    X(slot, even_exponent, 23, 1, "even_exponent")              \
    X(slot, even_low, 24, 1, "even_low")                        \
    X(slot, even_power, 25, 1, "even_power")                    \
    X(slot, even_odd_part, 26, 1, "even_odd_part")

// Number of slots in the workspace block: past the last number's.
inline constexpr int workspace_slot_count = [] {
    int end = 0;
#define TORVANE_WS_END(kind, name, slot, slots, label) end = slot + slots > end ? slot + slots : end;
    TORVANE_WORKSPACE_NUMBERS(TORVANE_WS_END)
#undef TORVANE_WS_END
    return end;
}();

// Kinds with a field of their own in the record.
#define TORVANE_WS_FIELD_field(name) bignum* name;
#define TORVANE_WS_FIELD_indexed(name) bignum* name;
#define TORVANE_WS_FIELD_fixed(name)
#define TORVANE_WS_FIELD_slot(name)
#define TORVANE_WS_FIELD(kind, name, slot, slots, label) TORVANE_WS_FIELD_##kind(name)

// The listener of the long loops' progress; see set_progress_hook.
struct progress_listener {
    progress_hook hook;
    void* context;
};

// The engine instance. Field order and meaning are fixed; see state.cpp.
// Everything a computation writes lives here, so each thread computes on an
// instance of its own (engine_instance below) and threads never share one
// at the same time.
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
    bignum* modulus;               // the installed context's modulus, zero: none
    // The workspace numbers' fields: the accumulator (double-length scratch
    // of products) and scratch1 to scratch15 (scratch5 to scratch7 double).
    TORVANE_WORKSPACE_NUMBERS(TORVANE_WS_FIELD)
    int io_buffer_size;            // usable characters of io_buffer
    int error_continue;            // 1: errors are only recorded
    int error_number;              // 0, or the code of the last error
    int prime_trials;              // Miller-Rabin rounds
    int io_base;                   // radix of text input and output
    int* prime_table;              // small primes, zero-terminated, or null
    char* io_buffer;               // the text buffer of the text routines
    void* workspace_block;         // the block that holds all workspace numbers
    mr_digit* scratch_area_block;  // word arrays of the fast algorithms
    std::uint32_t instance_base;   // the base given to mirsys; clear_engine_error puts it back
    std::atomic<bool> own_cancel;  // a cancel request for this instance
    // The request this instance takes at its step boundaries: own_cancel, or
    // the one of the instance it shares its requests with (share_cancel).
    std::atomic<bool>* cancel;
    progress_listener progress;    // the progress hook of this instance's loops
    std::uint32_t live_claims;     // debug builds: the workspace numbers and areas claimed (workspace.h)
    monty_context monty;           // the installed Montgomery context, over `modulus`
    std::size_t product_area_size; // words of the product area, set by mirsys (state.cpp)
    std::size_t reduce_area_size;  // words of the reduce area, set by mirsys
    std::size_t divide_area_size;  // words of the division area, set by mirsys
    std::size_t convert_area_size; // words of the conversion area, set by mirsys
    std::size_t power_area_size;   // words of the power area, set by mirsys
};


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

// ---- Instance (state.cpp) -------------------------------------------------

mr_state* init_engine(mr_state* state, int digits, std::uint32_t base);
mr_state* alloc_engine_record();
mr_state* get_engine();
void set_digit_base(std::uint32_t base);

// ---- Numbers (state.cpp) --------------------------------------------------

void* alloc_number_block(int count);
void free_number_block(void* block, int count);
bignum* number_in_block(void* block, int index, int length);
bignum* workspace_number(void* block, int index);
int stored_length(const bignum* x);
int is_flash_number(const bignum* x);
void set_sign(int s, bignum* x);
void strip_leading_zeros(bignum* x);

// ---- Memory, errors, random words (state.cpp) ------------------------------

void* engine_alloc(int count, int size);
void engine_free(void* p);
// Records or reports error `code` (one of mr_error; any other int reports
// "Undefined error").
void report_error(int code);
void put_text(const char* text);
std::uint32_t random_word();

// The calling thread's instance, made by mirsys on that thread or handed to
// it by use_engine; get_engine() returns it. Constant-initialised (null), so
// on Linux every use is a plain thread-local load with no initialiser check.
// mingw-w64 emulates thread-locals, and there each use is a call (about
// 25 ns): a routine that reaches the instance more than once reads it once
// at its entry and hands the pointer to the helpers below (the overloads
// that take an mr_state*), so that no loop reads it per step.
extern constinit thread_local mr_state* engine_instance;

// True while an engine error is recorded. Traced routines test this first and
// return at once, touching none of their arguments.
inline bool error_pending(const mr_state* s) { return s->error_number != 0; }
inline bool error_pending() { return error_pending(engine_instance); }

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

// Set by request_cancel from any thread: a request that reaches every
// instance. An instance also takes the request of its own `cancel` flag
// (request_instance_cancel). Both are read at the step boundaries of the
// long loops (report_progress).
extern std::atomic<bool> cancel_requested;
// Records a cancel request as the pending error (of instance s).
void raise_cancel();
inline void raise_cancel(mr_state* s) {
    if (s->error_number == 0) s->error_number = mr_error_cancelled;
}

// Whether a cancel request reaches instance s.
inline bool cancel_pending(const mr_state* s) {
    return cancel_requested.load(std::memory_order_relaxed) || s->cancel->load(std::memory_order_relaxed);
}

// A cancel request for instance s alone (and the instances that share its
// requests), from any thread; cleared by clear_instance_cancel.
void request_instance_cancel(mr_state* s);
void clear_instance_cancel(mr_state* s);
// Instance s takes the cancel requests of `from` from now on instead of its
// own: a request for `from` stops both. `from` must outlive s's use of it;
// share_cancel(s, s) gives s its own requests back.
void share_cancel(mr_state* s, mr_state* from);

// Called at the head of each step of a long loop: `done` of `total` steps
// are finished. Tells the instance's progress hook, and turns a cancel
// request into the pending error here, where the loop's state is whole:
// from then on every traced routine returns at once, the loop's own calls
// included, and the computation unwinds as after any other error. (A
// request is not taken at every routine's entry check: some routines go on
// after a callee has returned early and would then work on a half-made
// intermediate.)
inline void report_progress(int done, int total) {
    mr_state* s = engine_instance;
    if (s->progress.hook != nullptr) s->progress.hook(s->progress.context, s->trace_depth, done, total);
    if (cancel_pending(s)) raise_cancel(s);
}

// cancel_point (engine.h) on instance s, the calling thread's: takes a
// cancel request and tells whether an error is pending.
inline bool cancel_point(mr_state* s) {
    if (cancel_pending(s)) raise_cancel(s);
    return error_pending(s);
}

// One entry of the routine-call trace. A traced routine checks
// error_pending() first, then declares one of these: the constructor pushes
// the routine number (kept only while the depth is below 24), the destructor
// pops it on every way out.
// The entry keeps the instance for the exit (a routine's instance is the
// same at both: the pool switches a thread's instance only around a run).
class routine_trace {
public:
    explicit routine_trace(int number) : routine_trace(engine_instance, number) {}
    routine_trace(mr_state* s, int number) : s_(s) {
        s->trace_depth++;
        if (s->trace_depth < mr_trace_depth_max) s->trace[s->trace_depth] = number;
    }
    ~routine_trace() { s_->trace_depth--; }
    routine_trace(const routine_trace&) = delete;
    routine_trace& operator=(const routine_trace&) = delete;

private:
    mr_state* s_;
};

// Word arrays for the temporaries of the fast algorithms (subquadratic
// products, reductions, divisions, text conversion), made once by mirsys
// beside the workspace numbers so that nothing is allocated while computing.
// Each area belongs to one module; its size in words is a function of
// max_length, kept with the others in one table in state.cpp.
enum scratch_area : int {
    area_product,  // multiply_divide.cpp: subquadratic products and squares
    area_reduce,   // montgomery.cpp: reduction by multiplication
    area_divide,   // multiply_divide.cpp: division
    area_convert,  // text.cpp: powers of the base and the split pieces
    area_power,    // modexp.cpp: the power tables under long moduli
    scratch_area_count
};
// The reduce area's fixed parts, which montgomery.cpp carves from its start:
// four spare words, the installed context's n' (max_length words) and
// three working copies of 2 max_length + 8 words; the products' scratch
// follows them.
constexpr std::size_t reduce_area_fixed_words(std::size_t max_length) {
    return 4 + max_length + 3 * (2 * max_length + 8);
}
// Moduli of fewer words than this run the exponentiations' steps on the
// residues' words (monty_words_apply, montgomery.cpp): below both Karatsuba
// sizes and reduction by multiplication.
inline int monty_words_below() {
    const int karatsuba = product_karatsuba_threshold < square_karatsuba_threshold ? product_karatsuba_threshold
                                                                                   : square_karatsuba_threshold;
    return karatsuba < monty_multiply_reduce_min ? karatsuba : monty_multiply_reduce_min;
}
// The windowed power on those steps (modexp.cpp) keeps its tables in the
// reduce area's scratch: for each of up to two bases its odd powers up to
// 2^power_window_bits - 1, and the square they are made with, k words each.
inline constexpr int power_window_bits = 6;
inline constexpr int power_table_size = 1 << (power_window_bits - 1);
constexpr std::size_t power_tables_words(int k) {
    return (2 * power_table_size + 1) * static_cast<std::size_t>(k);
}
// Under moduli of reduction by multiplication the windowed power keeps its
// tables in an area of their own, the power area: two tables of
// large_power_table_size odd powers (up to large_power_window_bits-bit
// windows for two bases; one base takes windows a bit longer, in a table
// twice as long), the square they are made with and the running product,
// k words each for any modulus of up to max_length words, and after them
// what the power makes once for its reductions (fixed_reduce_area_words,
// products.h); none for an instance whose max_length is below reduction
// by multiplication.
inline constexpr int large_power_window_bits = 7;
inline constexpr int large_power_table_size = 1 << (large_power_window_bits - 1);
constexpr std::size_t large_power_words(int k) {
    return (2 * large_power_table_size + 2) * static_cast<std::size_t>(k);
}
// Division's parts in the division area (divide_words, multiply_divide.cpp)
// for a dividend of t words by a divisor of n >= 2 words, in limbs of two
// words: a zero word goes below both when n is odd (pad), so that the
// divisor fills nl whole limbs, and the dividend takes m limbs, with room
// for the bits the normalising shift moves up. From the area's start: the
// divisor (nl limbs), the dividend (m limbs), the quotient (m - nl limbs),
// then the recursive division's stack of block products, nl' + 1 limbs for
// each level it descends (nl' = nl, nl/2, nl/4, .. while 2 nl' is at least
// divide_recursive_words).
struct divide_layout {
    int pad;
    int nl;
    int m;
    std::size_t dividend() const { return 2 * static_cast<std::size_t>(nl); }
    std::size_t quotient() const { return dividend() + 2 * static_cast<std::size_t>(m); }
    std::size_t stack() const { return quotient() + 2 * static_cast<std::size_t>(m - nl); }
    // Words of the stack at its deepest.
    std::size_t stack_words() const {
        std::size_t words = 0;
        for (int level = nl; level > 0 && 2 * level >= divide_recursive_words; level /= 2)
            words += 2 * (static_cast<std::size_t>(level) + 1);
        return words;
    }
    std::size_t words() const { return stack() + stack_words(); }
};
inline divide_layout divide_layout_for(int t, int n) {
    const int pad = n % 2;
    return {pad, (n + pad) / 2, (t + pad + 2) / 2};
}

// The conversion area (text.cpp), for the changes of radix that split by
// powers of a text radix B: from its start a record of the powers it keeps
// (convert_cache_words words), the powers, then the pieces of one
// conversion, each rounded up to a multiple of 4 words. The powers are
// U[i] = u^(h0 2^i), i < convert_max_powers, the odd part u of B to the
// exponents of P[i] = B^(h0 2^i), with h0 = convert_smallest_power(m) for
// a number of m radix-B words. What each part takes at most, for sizing
// the area and checking each conversion (state.cpp):
//   - convert_powers_words(limit): the powers a conversion keeps when it
//     squares while twice the last power's full words are at most `limit`.
//     The squares' pieces are 2 len(U[i]) <= 2 pw(i) words, pw(i) the full
//     words of P[i], with 2 pw(i) <= limit for each one squared; and
//     pw(i+1) >= 2 pw(i) - 1, so the ones below the last add up to at
//     most twice it plus one word a power.
//   - convert_read_words(m): reading m radix words, the result's piece and
//     at each split the halves' (m - h + 2 and h + 2 words), the split at
//     the largest h = h0 2^i with 2h <= m while m exceeds
//     text_split_in_words.
//   - convert_write_words(n): writing n full words, the copy of x and the
//     splits' pieces: a split of x of L words takes at most L + 9 words and
//     recurses on at most L/2 words, while L exceeds text_split_out_words.
inline constexpr int convert_max_powers = 16;
inline constexpr int convert_cache_words = 5 + 2 * convert_max_powers;
constexpr std::size_t convert_piece_words(int words) { return (static_cast<std::size_t>(words) + 3) / 4 * 4; }
inline int convert_smallest_power(int m) {
    const int leaf = text_split_in_words / 2 > 1 ? text_split_in_words / 2 : 1;
    while (m > leaf) m /= 2;
    return m > 1 ? m : 1;
}
std::size_t convert_powers_words(int limit);
std::size_t convert_read_words(int m);
std::size_t convert_write_words(int n);

// The first word of area `a` (of instance s), 16-byte aligned.
mr_digit* scratch_words(scratch_area a);
mr_digit* scratch_words(const mr_state* s, scratch_area a);
// The number of words in area `a` (of instance s).
std::size_t scratch_words_size(scratch_area a);
std::size_t scratch_words_size(const mr_state* s, scratch_area a);

// Sets length_check for the life of one scope and gives the caller's value
// back on every way out, so that no routine leaves it changed. Routines
// clear it around steps whose intermediate results need up to twice
// max_length words, held in the double-length workspace numbers.
class length_check_scope {
public:
    explicit length_check_scope(int value) : length_check_scope(engine_instance, value) {}
    length_check_scope(mr_state* s, int value) : s_(s), saved_(s->length_check) { s->length_check = value; }
    ~length_check_scope() { s_->length_check = saved_; }
    length_check_scope(const length_check_scope&) = delete;
    length_check_scope& operator=(const length_check_scope&) = delete;

private:
    mr_state* s_;
    int saved_;
};

// Length word without the sign bit.
inline std::uint32_t unsigned_length_word(const bignum* x) { return x->len & mr_magnitude_mask; }

#endif
