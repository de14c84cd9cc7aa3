// Modular exponentiation: x^y mod n (powmod), x^y * a^b mod n (powmod2) and
// x^y mod n for a small machine-integer base (powltr), each with an inner
// form on Montgomery residues that does the work.
//
// nres_powmod scans the exponent from the top in sliding windows of up to 5
// bits. A window starts at a set bit and ends at its last set bit, so its
// value v is odd, and w = w^(2^nbs) * x^v covers nbs exponent bits with one
// product; a clear bit outside a window costs one squaring. The windows are
// also cut short at the first two adjacent zero bits (exponent_window), so
// v never holds "00": of the 16 odd powers x^1 .. x^31 the four x^9, x^17,
// x^19 and x^25 are never needed, and the table holds 12 powers.
//
// nres_powmod2 runs one chain of squarings for both exponents (Shamir's
// trick): at each step it takes the bit pairs (y_i, b_i) of one or two
// adjacent positions as an index into a table of the 12 products
// x^s * a^t (s, t in 0..3, not both of the low bits zero), so x^y * a^b costs
// one squaring per bit of the longer exponent and one product per window.
//
// Under a modulus short enough for the residue steps (montgomery.h: below
// the Karatsuba sizes, and on the BMI2/ADX blocks below reduction by
// multiplication), both run instead on the residues' words
// (windowed_power): sliding windows of up to six bits on each exponent of
// its own along one chain of squarings, with tables of the 32 odd powers
// of each base in the reduce area; the result is the same residue. So do
// they under moduli of reduction by multiplication (outside the IFMA
// kernel's range), on monty_large_multiply, with tables in the power area
// and windows sized by the exponents' length: up to 8 bits for one
// exponent, 7 for two. nres_powltr with the base 2 doubles on the same
// products.
//
// nres_powltr is plain left-to-right square-and-multiply, but multiplies by
// the small base with one word multiplication and one division instead of a
// Montgomery product: a residue times an ordinary integer is still a
// residue. (isprime's probable-prime tests multiply by their small bases
// the same way, in loops of their own that go on into the squarings.)
//
// For an even modulus there is no Montgomery form. powmod and powltr split
// it as |n| = 2^j * m with m odd and find |x|^y modulo each part: modulo m
// with the Montgomery cores above, modulo 2^j with products of which only
// the low j bits are kept (for an odd x, y may be taken modulo 2^j, since
// the odd residues modulo 2^j form a group whose order 2^(j-1) divides
// 2^j; for an even x, x^y is 0 modulo 2^j once y >= j). The two residues
// r_m and r_2 give the one value below |n| by the Chinese remainder theorem:
// r = r_m + m * ((r_2 - r_m) * (1/m mod 2^j) mod 2^j). The result keeps the
// classical sign rule of divide's truncating remainder: a negative x with
// an odd y gives the value in (-n, 0], that is -r. The cores run under a
// Montgomery context of m's own, so the modulus the caller had installed
// stays as it was, and n itself is never written.
//
// The nres_ cores take the context they run under; their forms without one
// run under the installed context.
//
// Workspace: see workspace.h; every routine copies its base(s) and
// exponent(s) into workspace numbers before it writes w, so w may be any
// base or exponent.
#include <algorithm>
#include <cstring>

#include "internal.h"
#include "modexp.h"
#include "primitives.h"
#include "multiply_divide.h"
#include "powers.h"
#include "montgomery.h"
#include "kernels.h"
#include "pool.h"
#include "thresholds.h"
#include "workspace.h"

namespace {

// The number that holds x^(2k+1) in nres_powmod's table (slot k), or null
// for the four slots never formed.
bignum* odd_power_slot(int k) {
    static constexpr int slot_scratch[16] = {1, 2, 3, 4, 0, 5, 6, 7, 0, 0, 8, 9, 0, 10, 11, 12};
    return slot_scratch[k] == 0 ? nullptr : scratch_number(slot_scratch[k]);  // under nres_powmod's claims
}

// The number that holds slot k of nres_powmod2's table (see there).
bignum* pair_slot(int k) {
    static constexpr int slot_scratch[16] = {0, 1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 10, 11, 12};
    return slot_scratch[k] == 0 ? nullptr : scratch_number(slot_scratch[k]);  // under nres_powmod2's claims
}


// Zeroes x's words from its length up to k, so that x->w is the k-word
// array of the residue steps (montgomery.h); x stays the same number.
void pad_words(bignum* x, int k) {
    const int len = length_of(x);
    std::memset(x->w + len, 0, sizeof(mr_digit) * static_cast<std::size_t>(k - len));
}

// True when x is a residue of c's modulus as the residue steps take it:
// not negative and below n.
bool residue_below(const bignum* x, const monty_context& c) {
    const int len = length_of(x), k = c.length;
    return !is_negative(x) && (len < k || (len == k && cmp_vv(x->w, c.modulus->w, k) < 0));
}

// w = the k words at a that the residue steps have left (w->w itself
// or a buffer of theirs).
void set_from_words(bignum* w, const mr_digit* a, int k) {
    if (a != w->w) std::memcpy(w->w, a, sizeof(mr_digit) * static_cast<std::size_t>(k));
    w->len = static_cast<std::uint32_t>(k);
    strip_leading_zeros(w);
}

// w = the residue of 1 under c.
void residue_of_one(monty_context& c, bignum* w) {
    set_from_int(1, w);
    nres(c, w, w);
}

// w = (w * x) mod n for a machine integer x, through the double-length
// accumulator: w * x can be a word longer than any single-length number
// holds. The remainder takes the sign of the product.
void multiply_word_mod(bignum* w, int x, bignum* n) {
    const workspace_claim acc(ws::accumulator);
    {
        length_check_scope unchecked(0);
        premult(w, x, acc);
        divide(acc, n, n);
    }
    copy_number(acc, w);
}

// The classical path of powltr: w = x^y mod n by square-and-multiply on the
// scaled modulus, the exponent's bits taken with a one-bit mask.
void classical_powltr(int x, bignum* y, bignum* n, bignum* w) {
    const workspace_claim e(ws::scratch9);
    const workspace_claim mask(ws::scratch10);
    copy_number(y, e);
    zero_number(w);
    if (x == 0) return;
    set_from_int(1, w);
    if (is_zero(e)) return;
    if (is_negative(e)) report_error(mr_error_negative_power);
    if (w == n) report_error(mr_error_illegal_parameters);
    if (is_zero(n)) report_error(mr_error_division_by_zero);  // no scaling, no remainder of a zero divisor
    if (error_pending()) return;

    const mr_digit f = normalise(n, n);
    const int nb = logb2(e);
    expb2(nb - 1, mask);
    for (int bit = 0; !is_zero(mask); ++bit) {
        report_progress(bit, nb);
        if (error_pending()) break;
        mad(w, w, w, n, n, w);
        if (compare_numbers(e, mask) >= 0) {
            multiply_word_mod(w, x, n);
            subtract(e, mask, e);
        }
        subdiv(mask, 2, mask);
    }
    if (f != 1) {
        divide_by_word(n, f, n);
        divide(w, n, n);
    }
}

// x = x mod 2^j for x >= 0, in place.
void keep_low_bits(bignum* x, int j) {
    const int words = (j + 31) / 32;
    const int len = length_of(x);
    if (len < words) return;
    for (int i = words; i < len; ++i) x->w[i] = 0;
    if (j % 32 != 0) x->w[words - 1] &= (1u << (j % 32)) - 1;
    x->len = static_cast<std::uint32_t>(words);
    strip_leading_zeros(x);
}

// z = x * y mod 2^j for x, y >= 0, through the accumulator.
void multiply_low(bignum* x, bignum* y, int j, bignum* z) {
    const workspace_claim acc(ws::accumulator);
    length_check_scope unchecked(0);
    multiply(x, y, acc);
    keep_low_bits(acc, j);
    copy_number(acc, z);
}

// The low 64 bits of x >= 0.
std::uint64_t low_limb(const bignum* x) {
    const int len = length_of(x);
    return (len > 0 ? x->w[0] : 0u) | (len > 1 ? std::uint64_t{x->w[1]} << 32 : 0u);
}

// low = |x|^y mod 2^j for |x| in base and y >= 1 in e, left to right over
// the exponent's bits; `power` is room of the calling instance.
void power_mod_two_power(bignum* base, bignum* e, int j, bignum* low, bignum* power) {
    set_from_int(1, low);
    const bool odd_base = (base->w[0] & 1u) != 0;
    int bits = logb2(e);
    if (odd_base && bits > j) bits = j;  // y mod 2^j
    if (!odd_base && int_value(e) >= j) {
        zero_number(low);  // a multiple of 2^y
        return;
    }
    copy_number(base, power);
    keep_low_bits(power, j);
    // Each product on the pool or on one thread, whichever is faster here
    // (beside the power modulo m, no thread is free to help).
    pool_chain chain((j + 31) / 32 >= parallel_product_threshold);
    for (int i = bits - 1; i >= 0; --i) {
        report_progress(bits - 1 - i, bits);
        if (error_pending()) break;
        chain.next_step();
        multiply_low(low, low, j, low);
        if (test_bit(e, i)) {
            chain.next_step();
            multiply_low(low, power, j, low);
        }
    }
}

// r = |x|^y mod m for an odd m >= 3, on the Montgomery cores under a
// context of m's own (the installed one is not used): |x| in base, or
// small_base when that is not 0 (nres_powltr); y >= 1 in e.
void power_mod_odd_part(int small_base, bignum* base, bignum* e, bignum* m, bignum* r) {
    const workspace_claim nprime_room(ws::context_nprime);
    monty_context mc;
    make_context(m, nprime_room, mc);
    if (small_base != 0) {
        nres_powltr(mc, small_base, e, r);
    } else {
        const workspace_claim g(ws::scratch1);  // slot 0 of nres_powmod's table
        nres(mc, base, g);
        nres_powmod(mc, g, e, r);
    }
    redc(mc, r, r);
}

// ---- The two powers at once on the worker pool ------------------------------
//
// From parallel_even_power_bits bits of both 2^j and m, with the pool on,
// the powers modulo 2^j and modulo m run as two tasks, each on an instance
// of the pool with rooms of its own, reading the caller's base, exponent
// and m and leaving its result in the caller's numbers. The caller's cancel
// requests reach both; the task that runs on the calling thread reports
// the progress, as the two powers one after another do. An error of either
// becomes the caller's.

struct even_powers {
    int small_base;
    bignum* base;
    bignum* e;
    bignum* m;
    int j;
    bignum* low;  // the caller's: |x|^y mod 2^j
    bignum* odd;  // the caller's: |x|^y mod m
    mr_state* caller;
    int caller_depth;
    int error[2];
};

void even_power_task(void* context, int index, const pool_executor& executor) {
    auto& t = *static_cast<even_powers*>(context);
    mr_state* s = executor.instance;  // this thread's instance (engine_instance)
    clear_engine_error();
    share_cancel(s, t.caller);
    if (executor.index == 0) {
        s->progress = t.caller->progress;
        s->trace_depth = t.caller_depth;
    }
    {
        const workspace_claim result(ws::even_low);
        const workspace_claim room(ws::even_power);
        if (index == 0)
            power_mod_odd_part(t.small_base, t.base, t.e, t.m, result);
        else
            power_mod_two_power(t.base, t.e, t.j, result, room);
        if (!error_pending()) copy_number(result, index == 0 ? t.odd : t.low);
    }
    t.error[index] = s->error_number;
    s->progress = {nullptr, nullptr};
    s->cancel = &s->own_cancel;
    clear_engine_error();
}

// Both powers on the pool (above); false, nothing done, when they do not
// run there. Not from inside a task: a nested run's tasks that this thread
// takes compute on the instance its own task is using.
bool parallel_even_powers(even_powers& t) {
    if (t.j < parallel_even_power_bits || logb2(t.m) < parallel_even_power_bits || !pool_available() ||
        pool_inside_task())
        return false;
    t.caller = engine_instance;
    t.caller_depth = engine_instance->trace_depth;
    t.error[0] = t.error[1] = 0;
    if (!pool_run(2, even_power_task, &t)) return false;
    for (const int code : t.error) {
        if (code == mr_error_cancelled)
            raise_cancel();
        else if (code != 0)
            report_error(code);
    }
    return true;
}

// w = |x|^y mod |n| for an even n != 0 and y >= 1, with |x| in even_base
// and y in even_exponent; small_base, when not 0, is |x| as a machine
// integer, and the odd part then runs on nres_powltr (see the header
// comment). The installed context is not used and stays as it was.
void even_modulus_power(int small_base, bignum* n, bignum* w) {
    const workspace_claim base(ws::even_base, true);  // filled by the caller, under its claims
    const workspace_claim e(ws::even_exponent, true);
    const workspace_claim low(ws::even_low);
    const workspace_claim p(ws::even_power);
    const workspace_claim m(ws::even_odd_part);

    // |n| = 2^j * m.
    abs_number(n, m);
    int zero_words = 0;
    while (m->w[zero_words] == 0) ++zero_words;
    const unsigned zero_bits = static_cast<unsigned>(__builtin_ctz(m->w[zero_words]));
    const int j = 32 * zero_words + static_cast<int>(zero_bits);
    mr_shift(m, -zero_words, m);
    shr_vu(m->w, m->w, length_of(m), zero_bits);
    strip_leading_zeros(m);
    if (length_of(m) == 1 && m->w[0] == 1) {  // n = 2^j
        power_mod_two_power(base, e, j, w, p);
        return;
    }

    // |x|^y mod 2^j in low, mod m in p (m is odd and above 1, so at least
    // 3), at once where the pool takes them.
    even_powers both{small_base, base, e, m, j, low, p, nullptr, 0, {0, 0}};
    if (!parallel_even_powers(both)) {
        power_mod_two_power(base, e, j, low, p);
        power_mod_odd_part(small_base, base, e, m, p);
    }
    if (error_pending()) return;

    // 1/m mod 2^j by Newton's iteration v <- v*(2 - m*v), which doubles the
    // number of correct low bits at each step, from the 64 bits of
    // the inverse of m modulo 2^64.
    const workspace_claim m_low(ws::scratch6);
    const workspace_claim two_j(ws::scratch7);
    const workspace_claim inverse(ws::scratch8);
    const workspace_claim t(ws::scratch9);
    copy_number(m, m_low);
    keep_low_bits(m_low, j);
    const std::uint64_t v0 = inverse_mod_limb(low_limb(m));
    zero_number(inverse);
    inverse->w[0] = static_cast<mr_digit>(v0);
    inverse->w[1] = static_cast<mr_digit>(v0 >> 32);
    inverse->len = 2;
    strip_leading_zeros(inverse);
    keep_low_bits(inverse, j);
    for (int bits_known = 64; bits_known < j;) {
        const int next = std::min(2 * bits_known, j);
        multiply_low(m_low, inverse, next, t);  // 1 mod 2^bits_known
        expb2(next, two_j);
        subtract(two_j, t, t);
        set_from_int(2, two_j);
        add(t, two_j, t);
        keep_low_bits(t, next);  // 2 - m*v mod 2^next
        multiply_low(inverse, t, next, inverse);
        bits_known = next;
    }

    // r = r_m + m * ((r_2 - r_m) * (1/m mod 2^j) mod 2^j), below m * 2^j.
    expb2(j, two_j);
    copy_number(p, t);
    keep_low_bits(t, j);
    if (compare_numbers(low, t) < 0) add(low, two_j, low);
    subtract(low, t, t);
    multiply_low(t, inverse, j, t);
    {
        // m * t < n, but the factors' lengths may add up to more than a
        // number holds.
        length_check_scope unchecked(0);
        multiply(m, t, t);
    }
    add(t, p, w);
}

// The products windowed_power runs on: the residue steps, or (steps null)
// monty_large_multiply under moduli of reduction by multiplication.
struct power_steps {
    monty_context* context;
    monty_words* steps;
    const monty_fixed* fixed;  // the large steps': what the power made once
    // x*y under the context: on the residue steps in the buffer they write
    // next, on the large ones in `into` (k words, may be x or y); returns
    // where.
    mr_digit* multiply(const mr_digit* x, const mr_digit* y, mr_digit* into) {
        if (steps != nullptr) return monty_words_multiply(*steps, x, y);
        monty_large_multiply(*context, x, y, into, fixed);
        return into;
    }
};

// The window length for an exponent of nb bits on the large steps, with
// tables of at most `most` odd powers: the one that needs the fewest
// products, about nb/(bits + 1) for the windows (a window and the clear bit
// that on average follows it) and 2^(bits-1) for the table. For a
// 65530-bit exponent 8 bits (7409 products, against 8255 for 7 bits and
// 12190 for nres_powmod's windows of 5 cut at two zeros).
int large_window_bits(int nb, int most) {
    int best = 1;
    double least = nb / 2.0 + 1;
    for (int bits = 2; (1 << (bits - 1)) <= most; ++bits) {
        const double products = static_cast<double>(nb) / (bits + 1) + (1 << (bits - 1));
        if (products < least) {
            least = products;
            best = bits;
        }
    }
    return best;
}

// w = x[0]^y[0] (count 1) or x[0]^y[0] * x[1]^y[1] (count 2) under c on the
// residue steps, for residues x[t] below n (not zero) and exponents y[t]
// (not all zero, none negative): one chain of squarings, along which each
// exponent has sliding windows of its own of up to six bits, each starting
// at a set bit and ending at its last set bit, so that its value v is odd
// and the window costs one product by the base's v-th power, at the
// window's lowest bit. The tables of the 32 odd powers of each base are
// kept in the words the steps leave free. For two 1024-bit exponents about
// 360 products with the tables, against about 450 for the joint windows of
// two bits; for one, about 180 against 205 for windows of five bits cut
// at two zeros with their table of 12. Under moduli of reduction by
// multiplication (monty_large_apply) the same on monty_large_multiply, with
// the tables in the power area and windows sized for the exponents
// (large_window_bits): at 65530 bits 0.113 products per exponent bit
// against 0.186. Progress is reported as the loops on nres_modmult report
// it. Returns false, doing nothing, where the free words cannot hold the
// tables.
bool windowed_power(monty_context& c, int count, bignum* const* x, bignum* const* y, bignum* w) {
    const int k = c.length;
    const auto words = static_cast<std::size_t>(k);
    const int nb[2] = {logb2(y[0]), count == 2 ? logb2(y[1]) : 0};
    const bool large = !monty_words_apply(c);
    // Only one of the two areas is claimed: the large steps claim the
    // reduce area themselves.
    const scratch_claim area(large ? area_power : area_reduce);
    monty_words small_steps{};
    monty_fixed fixed{};
    power_steps steps{&c, nullptr, nullptr};
    mr_digit* room;
    int window_bits, table_stride;
    if (large) {
        if (area.size() < large_power_words(k)) return false;
        room = area.words();
        // Reduction's parts for the modulus after the tables.
        fixed = monty_large_fix(c, room + large_power_words(k), area.size() - large_power_words(k));
        steps.fixed = &fixed;
        table_stride = large_power_table_size;
        window_bits = large_window_bits(std::max(nb[0], nb[1]), count == 1 ? 2 * table_stride : table_stride);
    } else {
        std::size_t room_size = 0;
        room = monty_words_room(c, area, &room_size);
        TORVANE_EXPECTS(power_tables_words(k) <= room_size);
        if (room_size < power_tables_words(k)) return false;
        small_steps = monty_words_for(c, area);
        steps.steps = &small_steps;
        table_stride = power_table_size;
        window_bits = power_window_bits;
    }
    const int table_size = 1 << (window_bits - 1);
    // g^1, g^3, .., g^(2 table_size - 1) for each base g, k words each, the
    // square they are made with, and on the large steps the running product.
    mr_digit* tables[2] = {room, room + static_cast<std::size_t>(table_stride) * words};
    mr_digit* square = room + 2 * static_cast<std::size_t>(table_stride) * words;
    mr_digit* running = square + words;
    const auto keep = [words](mr_digit* to, const mr_digit* from) {
        if (from != to) std::memcpy(to, from, sizeof(mr_digit) * words);
    };
    for (int t = 0; t < count; ++t) {
        mr_digit* table = tables[t];
        const auto len = static_cast<std::size_t>(length_of(x[t]));
        std::memcpy(table, x[t]->w, sizeof(mr_digit) * len);
        std::memset(table + len, 0, sizeof(mr_digit) * (words - len));
        if (table_size > 1) keep(square, steps.multiply(table, table, square));
        for (int j = 1; j < table_size; ++j)
            keep(table + j * words, steps.multiply(table + (j - 1) * words, square, table + j * words));
    }
    const int top = std::max(nb[0], nb[1]) - 1;
    // nres_powmod's loop reports the bits below the top one, nres_powmod2's
    // every bit.
    const int reported = count == 2 ? top + 1 : top;
    // Each exponent's window under way: the bit its product falls on (-1:
    // none) and the power it multiplies by.
    int due[2] = {-1, -1};
    const mr_digit* by[2] = {nullptr, nullptr};
    const mr_digit* p = nullptr;  // null while the product is still 1
    // Each product on the pool or on one thread, whichever is faster here.
    pool_chain chain(k >= parallel_reduce_min);
    for (int i = top; i >= 0; --i) {
        if (i < reported) report_progress(reported - 1 - i, reported);
        if (error_pending()) continue;  // the steps are left out, as nres_modmult leaves them
        if (p != nullptr) {
            chain.next_step();
            p = steps.multiply(p, p, running);
        }
        for (int t = 0; t < count; ++t) {
            if (due[t] < 0 && i < nb[t] && test_bit(y[t], i)) {
                int low = std::max(i - window_bits + 1, 0);
                while (!test_bit(y[t], low)) ++low;
                int v = 0;
                for (int j = i; j >= low; --j) v = 2 * v + test_bit(y[t], j);
                due[t] = low;
                by[t] = tables[t] + static_cast<std::size_t>(v / 2) * words;
            }
            if (due[t] == i) {
                if (p != nullptr) chain.next_step();
                p = p == nullptr ? by[t] : steps.multiply(p, by[t], running);
                due[t] = -1;
            }
        }
    }
    if (p != nullptr) set_from_words(w, p, k);
    return true;
}

}  // namespace

void nres_powmod(bignum* x, bignum* y, bignum* w) { nres_powmod(installed_context(), x, y, w); }

void nres_powmod2(bignum* x, bignum* y, bignum* a, bignum* b, bignum* w) {
    nres_powmod2(installed_context(), x, y, a, b, w);
}

void nres_powltr(int x, bignum* y, bignum* w) { nres_powltr(installed_context(), x, y, w); }

void nres_powmod(monty_context& c, bignum* x, bignum* y, bignum* w) {
    if (error_pending()) return;
    const workspace_claim g(ws::scratch1, {x});  // slot 0 of the table; x may be it
    const scratch_run_claim table(2, 12);
    const workspace_claim square(ws::scratch13);
    const workspace_claim e(ws::scratch14);
    copy_number(y, e);
    copy_number(x, g);
    routine_trace trace(rn_nres_powmod);
    TORVANE_EXPECTS(!is_zero(c.modulus));  // residues of c's modulus
    zero_number(w);

    if (is_zero(g)) {
        if (is_zero(e)) residue_of_one(c, w);  // 0^0 = 1
        return;
    }
    residue_of_one(c, w);
    if (is_zero(e)) return;
    if (is_negative(e)) report_error(mr_error_negative_power);
    if (error_pending()) return;
    bignum* const base = g;
    bignum* const exponent = e;
    if ((monty_words_apply(c) || monty_large_apply(c)) && residue_below(g, c) &&
        windowed_power(c, 1, &base, &exponent, w))
        return;

    // The odd powers: each filled slot is the previous filled one times x^2
    // as often as the exponents differ by two.
    nres_modmult(c, g, g, square);
    bignum* previous = g;
    int previous_slot = 0;
    for (int j = 1; j < 16; ++j) {
        bignum* slot = odd_power_slot(j);
        if (slot == nullptr) continue;
        nres_modmult(c, previous, square, slot);
        for (int k = previous_slot + 1; k < j; ++k) nres_modmult(c, slot, square, slot);
        previous = slot;
        previous_slot = j;
    }

    const int nb = logb2(e);
    copy_number(g, w);
    if (nb <= 1) return;
    int i = nb - 2;  // the top bit is the initial w
    while (i >= 0) {
        report_progress(nb - 2 - i, nb - 1);
        int nbs, nzs;
        const int v = exponent_window(e, i, &nbs, &nzs, 5);
        for (int k = 0; k < nbs; ++k) nres_modmult(c, w, w, w);
        if (v > 0) nres_modmult(c, w, odd_power_slot(v / 2), w);
        i -= nbs;
        for (int k = 0; k < nzs; ++k) nres_modmult(c, w, w, w);
        i -= nzs;
    }
}

void nres_powmod2(monty_context& c, bignum* x, bignum* y, bignum* a, bignum* b, bignum* w) {
    if (error_pending()) return;
    const workspace_claim g2(ws::scratch1, {a});  // slots 1 and 2 of the table; a and x may be them
    const workspace_claim g1(ws::scratch2, {x});
    const scratch_run_claim table(3, 12);
    const workspace_claim e1(ws::scratch13);
    const workspace_claim e2(ws::scratch14);
    copy_number(y, e1);
    copy_number(x, g1);
    copy_number(b, e2);
    copy_number(a, g2);
    zero_number(w);
    if (is_zero(g1) || is_zero(g2)) return;

    routine_trace trace(rn_nres_powmod2);
    residue_of_one(c, w);
    if (is_zero(e1) && is_zero(e2)) return;
    if (is_negative(e1) || is_negative(e2)) report_error(mr_error_negative_power);
    if (error_pending()) return;
    bignum* const bases[2] = {g1, g2};
    bignum* const exponents[2] = {e1, e2};
    if ((monty_words_apply(c) || monty_large_apply(c)) && residue_below(g1, c) && residue_below(g2, c) &&
        windowed_power(c, 2, bases, exponents, w))
        return;

    // Slot k = 8*y1 + 4*b1 + 2*y0 + b0 holds x^(2*y1+y0) * a^(2*b1+b0). The
    // squares are formed in the numbers of slots 14 and 15, which they
    // become at the end.
    bignum* t = pair_slot(14);
    bignum* u = pair_slot(15);
    nres_modmult(c, g1, g2, pair_slot(3));            // x a
    nres_modmult(c, g1, g1, t);                       // x^2
    nres_modmult(c, g2, g2, u);                       // a^2
    nres_modmult(c, g2, u, pair_slot(5));             // a^3
    nres_modmult(c, g1, u, pair_slot(6));             // x a^2
    nres_modmult(c, pair_slot(6), g2, pair_slot(7));  // x a^3
    nres_modmult(c, g2, t, pair_slot(9));             // x^2 a
    nres_modmult(c, g1, t, pair_slot(10));            // x^3
    nres_modmult(c, g2, pair_slot(10), pair_slot(11));  // x^3 a
    nres_modmult(c, pair_slot(5), t, pair_slot(13));  // x^2 a^3
    nres_modmult(c, pair_slot(10), u, t);             // x^3 a^2
    nres_modmult(c, pair_slot(11), u, u);             // x^3 a^3

    const int nb1 = logb2(e1);
    const int nb2 = logb2(e2);
    int i = (nb1 > nb2 ? nb1 : nb2) - 1;
    const int steps = i + 1;
    while (i >= 0) {
        report_progress(steps - 1 - i, steps);
        int nbs, nzs;
        const int v = exponent_window_pair(e1, e2, i, &nbs, &nzs);
        for (int k = 0; k < nbs; ++k) nres_modmult(c, w, w, w);
        if (v > 0) nres_modmult(c, w, pair_slot(v), w);
        i -= nbs;
        if (nzs != 0) {
            nres_modmult(c, w, w, w);
            i -= 1;
        }
    }
}

void nres_powltr(monty_context& c, int x, bignum* y, bignum* w) {
    if (error_pending()) return;
    const workspace_claim e(ws::scratch9);
    copy_number(y, e);
    routine_trace trace(rn_nres_powltr);
    TORVANE_EXPECTS(!is_zero(c.modulus));
    zero_number(w);

    if (x == 0) {
        if (is_zero(e)) residue_of_one(c, w);
        return;
    }
    residue_of_one(c, w);
    if (is_zero(e)) return;
    if (is_negative(e)) report_error(mr_error_negative_power);
    if (error_pending()) return;

    const int nb = logb2(e);
    set_from_int(x, w);
    nres(c, w, w);
    if (nb <= 1) return;
    if (x == 2 && monty_words_apply(c)) {
        // The same steps on the residue's words (see nres_powmod), the
        // product by the base a doubling.
        const int k = c.length;
        pad_words(w, k);
        const scratch_claim reduce(area_reduce);
        monty_words steps = monty_words_for(c, reduce);
        mr_digit* a = w->w;
        for (int i = nb - 2; i >= 0; --i) {
            report_progress(nb - 2 - i, nb - 1);
            if (error_pending()) continue;
            a = monty_words_multiply(steps, a, a);
            if (test_bit(e, i)) monty_words_double(c, a);
        }
        set_from_words(w, a, k);
        return;
    }
    if (x == 2 && monty_large_apply(c) && scratch_words_size(area_power) >= static_cast<std::size_t>(c.length)) {
        // The same under moduli of reduction by multiplication, the residue
        // in the power area.
        const int k = c.length;
        pad_words(w, k);
        const scratch_claim area(area_power);
        mr_digit* a = area.words();
        std::memcpy(a, w->w, sizeof(mr_digit) * static_cast<std::size_t>(k));
        // Reduction's parts for the modulus after the residue.
        const monty_fixed fixed = monty_large_fix(c, a + k, area.size() - static_cast<std::size_t>(k));
        // Each squaring on the pool or on one thread, whichever is faster here.
        pool_chain chain(k >= parallel_reduce_min);
        for (int i = nb - 2; i >= 0; --i) {
            report_progress(nb - 2 - i, nb - 1);
            if (error_pending()) continue;
            chain.next_step();
            monty_large_multiply(c, a, a, a, &fixed);
            if (test_bit(e, i)) monty_words_double(c, a);
        }
        set_from_words(w, a, k);
        return;
    }
    for (int i = nb - 2; i >= 0; --i) {
        report_progress(nb - 2 - i, nb - 1);
        nres_modmult(c, w, w, w);
        if (test_bit(e, i)) {
            multiply_word_mod(w, x, c.modulus);
            // A negative base leaves a negative remainder; residues are
            // kept in [0, n).
            if (is_negative(w)) add(w, c.modulus, w);
        }
    }
}

void powmod(bignum* x, bignum* y, bignum* n, bignum* w) {
    if (error_pending()) return;
    routine_trace trace(rn_powmod);
    TORVANE_EXPECTS(fits_room(x) && fits_room(y) && fits_room(n));

    if (is_odd(n)) {
        prepare_monty(n);
        monty_context& c = installed_context();
        const workspace_claim g(ws::scratch1);  // slot 0 of nres_powmod's table
        nres(c, x, g);
        nres_powmod(c, g, y, w);
        redc(c, w, w);
        return;
    }

    // Even n (or zero): the split modulus.
    const workspace_claim e(ws::even_exponent);
    const workspace_claim g(ws::even_base);
    const bool negative = is_negative(x);
    copy_number(y, e);
    abs_number(x, g);
    zero_number(w);
    if (is_zero(g)) return;
    set_from_int(1, w);
    if (is_zero(e)) return;
    if (is_negative(e)) report_error(mr_error_negative_power);
    if (w == n) report_error(mr_error_illegal_parameters);
    if (is_zero(n)) report_error(mr_error_division_by_zero);  // no remainder of a zero divisor
    if (error_pending()) return;

    even_modulus_power(0, n, w);
    // Divide's truncating remainder of a negative power: -r.
    if (negative && test_bit(e, 0) && !is_zero(w)) w->len |= mr_sign_bit;
}

void powmod2(bignum* x, bignum* y, bignum* a, bignum* b, bignum* n, bignum* w) {
    if (error_pending()) return;
    routine_trace trace(rn_powmod2);
    TORVANE_EXPECTS(fits_room(x) && fits_room(y) && fits_room(a) && fits_room(b) && fits_room(n));
    prepare_monty(n);
    monty_context& c = installed_context();
    const workspace_claim g1(ws::scratch2);  // slots 2 and 1 of nres_powmod2's table
    const workspace_claim g2(ws::scratch1);
    nres(c, x, g1);
    nres(c, a, g2);
    nres_powmod2(c, g1, y, g2, b, w);
    redc(c, w, w);
}

void powltr(int x, bignum* y, bignum* n, bignum* w) {
    if (error_pending()) return;
    routine_trace trace(rn_powltr);
    TORVANE_EXPECTS(fits_room(y) && fits_room(n));
    mr_state* s = engine_instance;

    // Where both paths give the same value (a positive base and exponent, w
    // not n), the fast ones run; otherwise the classical path gives its own
    // results and errors (0^0 = 0, signed remainders, error 7 or 10).
    const bool plain = x > 0 && !is_zero(y) && !is_negative(y) && w != n;
    if (is_odd(n)) {
        const bool none_installed = is_zero(s->modulus);
        if (none_installed || compare_numbers(s->modulus, n) == 0) {
            prepare_monty(n);
            monty_context& c = installed_context();
            nres_powltr(c, x, y, w);
            redc(c, w, w);
            if (none_installed) clear_modulus();
            return;
        }
        if (plain && int_value(n) > 2) {
            // Another modulus is installed: n gets a context of its own (n
            // is not w, so it stays unchanged while in use).
            const workspace_claim nprime_room(ws::context_nprime);
            monty_context c;
            make_context(n, nprime_room, c);
            nres_powltr(c, x, y, w);
            redc(c, w, w);
            return;
        }
    } else if (plain && !is_zero(n)) {
        const workspace_claim g(ws::even_base);
        const workspace_claim e(ws::even_exponent);
        set_from_int(x, g);
        copy_number(y, e);
        even_modulus_power(x, n, w);
        return;
    }
    classical_powltr(x, y, n, w);
}
