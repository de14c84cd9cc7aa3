// The engine instance, the memory layout of numbers, the error reporter and
// the routine-call trace.
//
// A number is one zero-filled block: the bignum header (length word, digit
// pointer, spare word) followed by its digit words, least significant first.
// The digit pointer points into the same block, right after the header, so a
// number costs one allocation and its digits are reached by one indirection.
//
// The instance holds every setting, the sticky error state, a pool of random
// words and 27 slots of preallocated workspace numbers in one further block.
// Routines of the other modules use those workspace numbers as scratch, which
// is why nothing in the engine allocates while it computes; workspace.h
// names the users of each.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "internal.h"
#include "kernels.h"
#include "products.h"
#include "workspace.h"

constinit thread_local mr_state* engine_instance = nullptr;

// ---- Routine names and error messages -------------------------------------

namespace {

// Names of the traced routines by routine number. Entries 44, 119 and 124 are
// empty; the entries no routine of this program uses read "unused".
struct routine_name_table {
    const char* names[routine_name_count];
    constexpr routine_name_table() : names{} {
        for (auto& n : names) n = "unused";
        names[44] = names[119] = names[124] = "";
        names[rn_your_program] = "your program";
        names[rn_normalise] = "normalise";
        names[rn_multiply] = "multiply";
        names[rn_divide] = "divide";
        names[rn_decr] = "decr";
        names[rn_premult] = "premult";
        names[rn_subdiv] = "subdiv";
        names[rn_egcd] = "egcd";
        names[rn_cbase] = "cbase";
        names[rn_nroot] = "nroot";
        names[rn_power] = "power";
        names[rn_powmod] = "powmod";
        names[rn_isprime] = "isprime";
        names[rn_mirvar] = "mirvar";
        names[rn_mad] = "mad";
        names[rn_putdig] = "putdig";
        names[rn_add] = "add";
        names[rn_subtract] = "subtract";
        names[rn_mirsys] = "mirsys";
        names[rn_xgcd] = "xgcd";
        names[rn_mr_shift] = "mr_shift";
        names[rn_logb2] = "logb2";
        names[rn_expint] = "expint";
        names[rn_gprime] = "gprime";
        names[rn_powltr] = "powltr";
        names[rn_otstr] = "otstr";
        names[rn_instr] = "instr";
        names[rn_cotstr] = "cotstr";
        names[rn_cinstr] = "cinstr";
        names[rn_powmod2] = "powmod2";
        names[rn_prepare_monty] = "prepare_monty";
        names[rn_nres] = "nres";
        names[rn_redc] = "redc";
        names[rn_nres_modmult] = "nres_modmult";
        names[rn_nres_powmod] = "nres_powmod";
        names[rn_nres_powltr] = "nres_powltr";
        names[rn_remain] = "remain";
        names[rn_nres_powmod2] = "nres_powmod2";
        names[rn_trial_division] = "trial_division";
        names[rn_strong_probable_prime] = "strong_probable_prime";
        names[rn_strong_lucas_probable_prime] = "strong_lucas_probable_prime";
        names[rn_set_io_buffer_size] = "set_io_buffer_size";
        names[rn_expb2] = "expb2";
    }
};

constexpr routine_name_table routine_names;

// Messages of error codes 1 to 29, each ending with a line break; 29 is a
// cancel request (request_cancel), the rest the engine's own faults.
constexpr const char* error_messages[] = {
    "Number base too big for representation\n",
    "Division by zero attempted\n",
    "Overflow - Number too big\n",
    "Internal result is negative\n",
    "Input format error\n",
    "Illegal number base\n",
    "Illegal parameter usage\n",
    "Out of space\n",
    "Even root of a negative number\n",
    "Raising integer to negative power\n",
    "Attempt to take illegal root\n",
    "Integer operation attempted on Flash number\n",
    "Flash overflow\n",
    "Numbers too big\n",
    "Log of a non-positive number\n",
    "Flash to double conversion failure\n",
    "I/O buffer overflow\n",
    "Engine not initialised - no call to mirsys()\n",
    "Illegal modulus \n",
    "No modulus defined\n",
    "Exponent too big\n",
    "Unsupported Feature - check build options\n",
    "Specified double length type isn't double length\n",
    "Specified basis is NOT irreducible\n",
    "Unable to control Floating-point rounding\n",
    "Base must be binary\n",
    "No irreducible basis defined\n",
    "Composite modulus\n",
    "Calculation cancelled\n",
};
constexpr int error_message_count = sizeof(error_messages) / sizeof(error_messages[0]);
static_assert(error_message_count == mr_error_cancelled);

// Bytes of one number slot holding `digits` digit words, rounded up so that
// the next slot's header is aligned.
std::size_t slot_bytes(int digits) {
    std::size_t bytes = number_header_bytes + sizeof(mr_digit) * static_cast<std::size_t>(digits);
    constexpr std::size_t align = alignof(bignum);
    return (bytes + align - 1) / align * align;
}

// Places a number header at `at` and points its digits just past the header.
bignum* place_number(void* at) {
    auto* x = static_cast<bignum*>(at);
    x->w = reinterpret_cast<mr_digit*>(static_cast<char*>(at) + number_header_bytes);
    return x;
}

// The reduce area for moduli of up to max_length words: its fixed parts,
// then the most that the products of reduction (reduce_products_area_words)
// or the windowed power's tables ask of the scratch after them.
std::size_t reduce_area_words(int max_length) {
    const int steps_longest = std::min(max_length, monty_words_below() - 1);
    return reduce_area_fixed_words(static_cast<std::size_t>(max_length)) +
           std::max(reduce_products_area_words(max_length), power_tables_words(steps_longest));
}

// The division area: the most divide_layout asks for any dividend of up to
// 2 max_length + 3 words (the room of the double-length workspace numbers)
// by any divisor. The layout grows with t, and for a given t it is largest
// with the longest divisor of either parity (the odd one pads).
std::size_t divide_area_words(int max_length) {
    std::size_t most = 0;
    for (int t = 2; t <= 2 * max_length + 3; ++t)
        for (int n = t - 1; n <= t; ++n)
            if (n >= 2) most = std::max(most, divide_layout_for(t, n).words());
    return most;
}

}  // namespace

std::size_t convert_powers_words(int limit) {
    // U[0] (h0 + 1 words), then the squares: the last one squared has at
    // most limit / 2 full words and those below it at most twice that plus
    // a word each, so the squares' pieces add up to 2 limit plus 5 words
    // for each (two of them for the plus one, three of rounding).
    const int h0_most = std::max(text_split_in_words / 2, 1);
    return convert_piece_words(h0_most + 1) + 2 * static_cast<std::size_t>(std::max(limit, 0)) +
           5 * static_cast<std::size_t>(convert_max_powers - 1);
}

std::size_t convert_read_words(int m) {
    const int h0 = convert_smallest_power(m);
    // The splits below a piece of m words whose split may use P[0 .. top].
    auto splits = [h0](auto& self, int words, int top) -> std::size_t {
        while (top >= 0 && 2 * (h0 << top) > words) --top;
        if (words <= text_split_in_words || top < 0) return 0;
        const int h = h0 << top;
        return convert_piece_words(words - h + 2) + convert_piece_words(h + 2) +
               std::max(self(self, words - h, top), self(self, h, top - 1));
    };
    return convert_piece_words(m + 2) + splits(splits, m, convert_max_powers - 1);
}

std::size_t convert_write_words(int n) {
    std::size_t words = convert_piece_words(n);
    for (int L = n; L > text_split_out_words; L /= 2) words += static_cast<std::size_t>(L) + 9;
    return words;
}

namespace {

// The conversion area: the record, the powers the longest number keeps
// (reading takes up to 2 max_length + 3 radix words, and squares up to
// half of that plus one), and the most that reading any length up to that
// or writing up to max_length words takes after them.
std::size_t convert_area_words(int max_length) {
    std::size_t pieces = convert_write_words(max_length);
    for (int m = 1; m <= 2 * max_length + 3; ++m) pieces = std::max(pieces, convert_read_words(m));
    return static_cast<std::size_t>(convert_cache_words) + convert_powers_words(max_length + 2) + pieces;
}

// Words in each scratch area of instance s.
std::size_t area_size(scratch_area a, const mr_state* s) {
    switch (a) {
    // Karatsuba and Toom temporaries (products.cpp) for any factors of
    // m + n <= 2 max_length + 3 words, as in the double-length accumulator:
    // product_area_words(2 max_length + 3), set by mirsys, 8.02 max_length
    // (the most product_scratch_words asks: 6.02 max_length at max_length
    // 1538, 5.99 at the calculator's 2049); multiply checks anyway.
    case area_product: return s->product_area_size;
    // Montgomery reduction (montgomery.cpp): its fixed parts (n' and three
    // working copies, 7 max_length + 28 words) and the scratch after them,
    // set by mirsys (reduce_area_words).
    case area_reduce: return s->reduce_area_size;
    // Division (multiply_divide.cpp), set by mirsys (divide_area_words).
    case area_divide: return s->divide_area_size;
    // Text conversion (text.cpp), set by mirsys (convert_area_words).
    case area_convert: return s->convert_area_size;
    // The large moduli's power tables (modexp.cpp) and after them what a
    // power makes once for its reductions (fixed_reduce_layout), set by
    // mirsys.
    case area_power: return s->power_area_size;
    default: return 0;
    }
}

// Offset in words of area `a` inside the scratch block; every area starts
// on a 16-byte boundary.
std::size_t area_offset(scratch_area a, const mr_state* s) {
    std::size_t offset = 0;
    for (int k = 0; k < a; ++k) offset += (area_size(static_cast<scratch_area>(k), s) + 3) / 4 * 4;
    return offset;
}

}  // namespace

mr_digit* scratch_words(const mr_state* s, scratch_area a) { return s->scratch_area_block + area_offset(a, s); }

mr_digit* scratch_words(scratch_area a) { return scratch_words(engine_instance, a); }

std::size_t scratch_words_size(const mr_state* s, scratch_area a) { return area_size(a, s); }

std::size_t scratch_words_size(scratch_area a) { return area_size(a, engine_instance); }

const char* routine_name(int k) {
    if (k < 0 || k >= routine_name_count) return "???";
    return routine_names.names[k];
}

const char* error_message(int code) {
    if (code < 1 || code > error_message_count) return "Undefined error\n";
    return error_messages[code - 1];
}

// ---- Memory -----------------------------------------------------------------

void* engine_alloc(int count, int size) {
    if (engine_instance == nullptr) return std::calloc(static_cast<std::size_t>(count), static_cast<std::size_t>(size));
    if (error_pending()) return nullptr;
    void* p = std::calloc(static_cast<std::size_t>(count), static_cast<std::size_t>(size));
    if (p == nullptr) report_error(mr_error_out_of_space);
    return p;
}

void engine_free(void* p) {
    if (p != nullptr) std::free(p);
}

mr_state* alloc_engine_record() {
    return static_cast<mr_state*>(engine_alloc(1, sizeof(mr_state)));
}

// ---- Errors -------------------------------------------------------------------

void put_text(const char* text) {
    for (const char* p = text; *p != '\0'; ++p) std::fputc(*p, stdout);
}

// Records error `code`, or, while error_continue is clear, prints the report
// (the failing routine, the chain of its callers, the message) and ends the
// process. The process ends with status 1: an engine error is a failure.
void report_error(int code) {
    mr_state* s = engine_instance;
    if (s == nullptr) {
        put_text("\nEngine error: ");
        put_text(error_message(code));
        std::fflush(stdout);
        std::exit(1);
    }
    if (s->error_continue) {
        s->error_number = code;
        return;
    }
    auto name_at = [s](int depth) {
        return depth >= mr_trace_depth_max || depth < 0 ? "???" : routine_name(s->trace[depth]);
    };
    put_text("\nEngine error from routine ");
    put_text(name_at(s->trace_depth));
    std::fputc('\n', stdout);
    for (int d = s->trace_depth - 1; d >= 0; --d) {
        put_text("              called from ");
        put_text(name_at(d));
        std::fputc('\n', stdout);
    }
    put_text(error_message(code));
    std::fflush(stdout);
    std::exit(1);
}

void engine_precondition_failed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: engine precondition failed: %s\n", file, line, condition);
    std::fflush(stderr);
    std::abort();
}

// ---- Cancel and progress ------------------------------------------------------

std::atomic<bool> cancel_requested{false};

void request_cancel() { cancel_requested.store(true, std::memory_order_relaxed); }

// The process-wide request, and the request of the calling thread's
// instance when it has one.
void clear_cancel_request() {
    cancel_requested.store(false, std::memory_order_relaxed);
    if (engine_instance != nullptr) clear_instance_cancel(engine_instance);
}

void request_instance_cancel(mr_state* s) { s->cancel->store(true, std::memory_order_relaxed); }

void clear_instance_cancel(mr_state* s) { s->cancel->store(false, std::memory_order_relaxed); }

void share_cancel(mr_state* s, mr_state* from) { s->cancel = from->cancel; }

// Recorded directly, not through report_error: a cancel is the user's wish,
// not a fault, and never ends the process with a report.
void raise_cancel() { raise_cancel(engine_instance); }

void set_progress_hook(progress_hook hook, void* context) {
    if (engine_instance != nullptr) engine_instance->progress = {hook, context};
}

void progress_step(int done, int total) { report_progress(done, total); }

bool cancel_point() { return cancel_point(engine_instance); }

// ---- Random words -------------------------------------------------------------

// A lagged subtract-with-borrow generator over a pool of 37 words: each refill
// renews the whole pool with t = pool[j] - pool[k] - borrow, j running 13 ahead
// of k (modulo 37), and hands the renewed words out one by one.
std::uint32_t random_word() {
    mr_state* s = engine_instance;
    s->random_index++;
    if (s->random_index < mr_random_pool_size) return s->random_pool[s->random_index];
    s->random_index = 0;
    int j = 13;
    for (int k = 0; k < mr_random_pool_size; ++k) {
        if (j == mr_random_pool_size) j = 0;
        std::uint32_t t = s->random_pool[j] - s->random_pool[k] - s->random_borrow;
        if (t < s->random_pool[j]) s->random_borrow = 0;
        if (t > s->random_pool[j]) s->random_borrow = 1;
        s->random_pool[k] = t;
        ++j;
    }
    return s->random_pool[0];
}

// ---- Instance -------------------------------------------------------------------

mr_state* get_engine() { return engine_instance; }

mr_state* use_engine(mr_state* s) {
    mr_state* before = engine_instance;
    engine_instance = s;
    return before;
}

// Derives the digit base fields from a requested base. Powers of two up to
// 2^16 that divide 32 bits evenly use full words; every other base b packs
// the largest power b^m that does not exceed 2^31 into a word.
void set_digit_base(std::uint32_t base) {
    mr_state* s = engine_instance;
    s->external_base = base;
    // Tested from the largest power down; testing stops at the first power
    // below the base.
    static constexpr struct {
        std::uint32_t power;
        int bits;
    } full_word_bases[] = {{65536, 16}, {256, 8}, {16, 4}, {4, 2}, {2, 1}};
    for (const auto& p : full_word_bases) {
        if (p.power < base) break;
        if (p.power == base) {
            s->digit_base = 0;
            s->digits_per_word = 32 / p.bits;
            return;
        }
    }
    s->digit_base = base;
    s->digits_per_word = 1;
    // Base 1 has no powers to pack (mirsys refuses it); stop rather than
    // loop forever.
    if (base <= 1) return;
    std::uint32_t d = 0x80000000u / base;
    while (d >= base) {
        s->digit_base *= base;
        s->digits_per_word++;
        d /= base;
    }
}

mr_state* mirsys(int digits, std::uint32_t base) {
    choose_family();  // the kernels and thresholds, before any size is worked out
    mr_state* s = alloc_engine_record();
    engine_instance = s;
    return init_engine(s, digits, base);
}

mr_state* init_engine(mr_state* s, int digits, std::uint32_t base) {
    if (s == nullptr) return nullptr;
    engine_instance = s;
    new (&s->own_cancel) std::atomic<bool>(false);
    s->cancel = &s->own_cancel;
    s->progress = {nullptr, nullptr};
    s->trace_depth = 0;
    s->trace[0] = rn_your_program;
    s->trace_depth = 1;
    s->trace[1] = rn_mirsys;
    s->error_continue = 0;
    if (base == 1 || base > 0x80000000u) {
        report_error(mr_error_illegal_base);
        s->trace_depth--;
        return s;
    }
    set_digit_base(base);
    s->instance_base = base;

    s->bits_per_digit = 0;
    s->digit_base_pow2 = 1;
    if (s->digit_base == 0) {
        s->bits_per_digit = 32;
        s->digit_base_pow2 = 0;
    } else {
        for (std::uint32_t v = s->digit_base; v > 1; v >>= 1) {
            s->bits_per_digit++;
            s->digit_base_pow2 <<= 1;
        }
    }

    int words;
    if (digits > 0)
        words = (digits - 1) / s->digits_per_word + 1;
    else
        words = 1 - (8 * digits + 1) / s->bits_per_digit;
    if (words == 0) words = 1;
    s->max_length = words + 1;

    s->length_check = 1;
    s->io_base = 10;
    s->error_number = 0;
    s->prime_trials = 6;
    s->io_buffer_size = 2559;
    s->prime_table = nullptr;
    s->io_buffer = static_cast<char*>(engine_alloc(2560, 1));
    if (s->io_buffer != nullptr) s->io_buffer[0] = '\0';

    s->random_pool[0] = 0x55555555u;
    s->random_pool[1] = 0x12345678u;
    for (int i = 0; i < mr_random_pool_size - 2; ++i)
        s->random_pool[i + 2] = s->random_pool[i + 1] + s->random_pool[i] + 0x1379BDF1u;
    s->random_index = mr_random_pool_size;
    s->random_borrow = 0;

    // The workspace block is sized for numbers of twice the length, so that
    // its double slots have room for double-length intermediate results.
    s->max_length = 2 * s->max_length + 1;
    if (s->max_length > static_cast<int>(mr_length_mask)) {
        report_error(mr_error_numbers_too_big);
        s->max_length = (s->max_length - 1) / 2;
        s->trace_depth--;
        return s;
    }
    s->workspace_block = alloc_number_block(workspace_slot_count);
    s->initialised = 1;
    s->max_length = (s->max_length - 1) / 2;

    // The numbers the record holds a pointer to, in their slots.
#define TORVANE_WS_PLACE_field(name, slot) s->name = workspace_number(s->workspace_block, slot);
#define TORVANE_WS_PLACE_indexed(name, slot) TORVANE_WS_PLACE_field(name, slot)
#define TORVANE_WS_PLACE_fixed(name, slot) TORVANE_WS_PLACE_field(name, slot)
#define TORVANE_WS_PLACE_slot(name, slot)
#define TORVANE_WS_PLACE(kind, name, slot, slots, label) TORVANE_WS_PLACE_##kind(name, slot)
    TORVANE_WORKSPACE_NUMBERS(TORVANE_WS_PLACE)
#undef TORVANE_WS_PLACE
    s->product_area_size = product_area_words(2 * s->max_length + 3);
    s->reduce_area_size = reduce_area_words(s->max_length);
    s->divide_area_size = divide_area_words(s->max_length);
    s->convert_area_size = convert_area_words(s->max_length);
    s->power_area_size = s->max_length >= monty_multiply_reduce_min
                             ? large_power_words(s->max_length) + fixed_reduce_area_words(s->max_length)
                             : 0;
    const std::size_t area_words = area_offset(scratch_area_count, s);
    // calloc's blocks are 16-byte aligned on x86-64, on Linux and on Windows.
    s->scratch_area_block =
        static_cast<mr_digit*>(engine_alloc(static_cast<int>(area_words), static_cast<int>(sizeof(mr_digit))));
    // The installed Montgomery context, with no modulus yet; its n' lives
    // at the head of the reduce area.
    if (s->scratch_area_block != nullptr) s->monty = {s->modulus, 0, 0, 0, installed_nprime_home(), 0};

    s->trace_depth--;
    return s;
}

void release_engine() {
    mr_state* s = engine_instance;
    if (s == nullptr) return;
    s->error_continue = 0;
    s->initialised = 0;
    free_number_block(s->workspace_block, workspace_slot_count);
    s->workspace_block = nullptr;
    engine_free(s->scratch_area_block);
    s->scratch_area_block = nullptr;
    for (auto& word : s->random_pool) word = 0;
    set_io_buffer_size(0);
    if (s->prime_table != nullptr) engine_free(s->prime_table);
    engine_free(s);
    engine_instance = nullptr;
}

// ---- Settings -------------------------------------------------------------------

// Replaces the engine's text buffer by one of len characters (len + 1
// bytes); len = 0 leaves the engine without one, a negative len does
// nothing. When the new buffer cannot be had, the old one stays.
void set_io_buffer_size(int len) {
    routine_trace trace(rn_set_io_buffer_size);
    if (len < 0) return;
    mr_state* s = engine_instance;
    char* fresh = nullptr;
    if (len > 0) {
        if (len == INT_MAX) {
            report_error(mr_error_out_of_space);
            return;
        }
        fresh = static_cast<char*>(engine_alloc(len + 1, 1));
        if (fresh == nullptr) return;
    }
    if (s->io_buffer != nullptr) {
        std::memset(s->io_buffer, 0, static_cast<std::size_t>(s->io_buffer_size));
        engine_free(s->io_buffer);
    }
    s->io_buffer = fresh;
    s->io_buffer_size = len;
}


void set_error_continue(int on) { engine_instance->error_continue = on; }

int engine_error() { return engine_instance->error_number; }

void clear_engine_error() {
    mr_state* s = engine_instance;
    s->error_number = 0;
    s->trace_depth = 0;
    s->length_check = 1;
    set_digit_base(s->instance_base);
}

int get_io_base() { return engine_instance->io_base; }

void set_io_base(int base) { engine_instance->io_base = base; }

char* get_io_buffer() { return engine_instance->io_buffer; }

int get_max_length() { return engine_instance->max_length; }

// ---- Numbers --------------------------------------------------------------------

bignum* mirvar(int value) {
    if (error_pending()) return nullptr;
    routine_trace trace(rn_mirvar);
    if (!engine_instance->initialised) {
        report_error(mr_error_not_initialised);
        return nullptr;
    }
    void* block = engine_alloc(1, static_cast<int>(slot_bytes(engine_instance->max_length)));
    if (block == nullptr) return nullptr;
    bignum* x = place_number(block);
    if (value != 0) set_from_int(value, x);
    return x;
}

void free_number(bignum* x) {
    if (x == nullptr) return;
    zero_number(x);
    engine_free(x);
}

// A block of `count` number slots of the current max_length, with room at
// the front to align the first slot.
void* alloc_number_block(int count) {
    std::size_t bytes = static_cast<std::size_t>(count) * slot_bytes(engine_instance->max_length) + alignof(bignum);
    return engine_alloc(1, static_cast<int>(bytes));
}

void free_number_block(void* block, int count) {
    if (block == nullptr) return;
    std::size_t bytes = static_cast<std::size_t>(count) * slot_bytes(engine_instance->max_length) + alignof(bignum);
    std::memset(block, 0, bytes);
    engine_free(block);
}

// The number at slot `index` of a block whose slots have room for
// `length` + 1 digits.
bignum* number_in_block(void* block, int index, int length) {
    auto address = reinterpret_cast<std::uintptr_t>(block);
    constexpr std::uintptr_t align = alignof(bignum);
    address = (address + align - 1) / align * align;
    address += static_cast<std::uintptr_t>(index) * slot_bytes(length + 1);
    return place_number(reinterpret_cast<void*>(address));
}

bignum* workspace_number(void* block, int index) {
    if (error_pending()) return nullptr;
    return number_in_block(block, index, engine_instance->max_length - 1);
}

void zero_number(bignum* x) {
    if (x == nullptr) return;
    int n = stored_length(x);
    for (int i = 0; i < n; ++i) x->w[i] = 0;
    x->len = 0;
}

void set_from_int(int n, bignum* x) {
    zero_number(x);
    if (n == 0) return;
    std::uint32_t sign = n < 0 ? mr_sign_bit : 0;
    // The magnitude as an unsigned word, so that the most negative int has
    // magnitude 2^31.
    std::uint32_t m = n < 0 ? 0u - static_cast<std::uint32_t>(n) : static_cast<std::uint32_t>(n);
    std::uint32_t base = engine_instance->digit_base;
    std::uint32_t len;
    if (base == 0) {
        x->w[0] = m;
        len = 1;
    } else {
        len = 0;
        while (m > 0) {
            x->w[len++] = m % base;
            m /= base;
        }
    }
    x->len = len | sign;
}

void copy_number(const bignum* x, bignum* y) {
    if (x == y || y == nullptr) return;
    if (x == nullptr) {
        zero_number(y);
        return;
    }
    int nx = stored_length(x);
    int ny = stored_length(y);
    for (int i = nx; i < ny; ++i) y->w[i] = 0;
    for (int i = 0; i < nx; ++i) y->w[i] = x->w[i];
    y->len = x->len;
}

void negate_number(const bignum* x, bignum* y) {
    copy_number(x, y);
    if (y->len != 0) y->len ^= mr_sign_bit;
}

void abs_number(const bignum* x, bignum* y) {
    copy_number(x, y);
    y->len &= mr_magnitude_mask;
}

int stored_length(const bignum* x) {
    return static_cast<int>((x->len & mr_length_mask) + ((x->len & mr_denominator_mask) >> 16));
}

int is_flash_number(const bignum* x) { return (x->len & mr_denominator_mask) != 0 ? 1 : 0; }

int sign_of(const bignum* x) { return (x->len & mr_sign_bit) != 0 ? -1 : 1; }

void set_sign(int s, bignum* x) {
    if (x->len == 0) return;
    if (s < 0)
        x->len |= mr_sign_bit;
    else
        x->len &= mr_magnitude_mask;
}

void strip_leading_zeros(bignum* x) {
    std::uint32_t sign = x->len & mr_sign_bit;
    std::uint32_t n = x->len & mr_magnitude_mask;
    while (n > 0 && x->w[n - 1] == 0) --n;
    x->len = n > 0 ? (n | sign) : 0;
}

int int_value(const bignum* x) {
    if (x == nullptr || x->len == 0) return 0;
    int s = sign_of(x);
    if ((x->len & mr_magnitude_mask) == 1 && x->w[0] < 0x40000000u) return s * static_cast<int>(x->w[0]);
    return s * 0x40000000;
}

int compare_numbers(const bignum* x, const bignum* y) {
    if (x == y) return 0;
    int s = is_negative(x) ? -1 : 1;
    if (is_negative(x) != is_negative(y)) return s;
    std::uint32_t lx = x->len & mr_magnitude_mask;
    std::uint32_t ly = y->len & mr_magnitude_mask;
    if (lx > ly) return s;
    if (lx < ly) return -s;
    for (std::uint32_t i = lx; i-- > 0;) {
        if (x->w[i] > y->w[i]) return s;
        if (x->w[i] < y->w[i]) return -s;
    }
    return 0;
}

