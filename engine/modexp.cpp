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
// nres_powltr is plain left-to-right square-and-multiply, but multiplies by
// the small base with one word multiplication and one division instead of a
// Montgomery product: a residue times an ordinary integer is still a
// residue. It is the exponentiation of every Miller-Rabin trial.
//
// For an even modulus there is no Montgomery form; powmod and powltr then
// use square-and-multiply with truncating remainders (mad) on the modulus
// scaled in place by normalise, so that every division runs on a normalised
// divisor, and undo the scaling once at the end. The classical result keeps
// the sign rule of divide: a negative x with an odd y gives a result in
// (-n, 0].
//
// Workspace. Every routine copies its base(s) and exponent(s) into
// workspace numbers before it writes w, so w may be any base or exponent.
// prepare_monty (with xgcd) overwrites scratch1 to scratch8, and the
// Montgomery routines and mad use the accumulator, so the numbers are laid
// out as follows (the tables are formed after prepare_monty has run):
//
//   nres_powmod    x^1 x^3 x^5 x^7 in scratch1..4, x^11 x^13 x^15 in
//                  scratch5..7, x^21 x^23 x^27 x^29 x^31 in scratch8..12,
//                  x^2 in scratch13, the exponent in scratch14
//   nres_powmod2   a in scratch1, x in scratch2, the products in scratch3..12
//                  (slots 3, 5, 6, 7, 9, 10, 11, 13, 14, 15), the exponents
//                  in scratch13 and scratch14
//   nres_powltr    the exponent in scratch9
//   classical      powmod: base scratch1, exponent scratch14;
//                  powltr: exponent scratch9, bit mask scratch10
//
// The twelve powers, the square and the exponent take 14 of the 15 scratch
// numbers, so the tables fit in the existing workspace and the block's spare
// slots stay unassigned. scratch11 to scratch15 survive powltr, which is why
// isprime keeps its values there.
#include "internal.h"

namespace {

// The workspace numbers scratch1 .. scratch15 by index.
bignum* scratch(int k) {
    mr_state* s = engine_instance;
    switch (k) {
    case 1: return s->scratch1;
    case 2: return s->scratch2;
    case 3: return s->scratch3;
    case 4: return s->scratch4;
    case 5: return s->scratch5;
    case 6: return s->scratch6;
    case 7: return s->scratch7;
    case 8: return s->scratch8;
    case 9: return s->scratch9;
    case 10: return s->scratch10;
    case 11: return s->scratch11;
    case 12: return s->scratch12;
    case 13: return s->scratch13;
    case 14: return s->scratch14;
    default: return s->scratch15;
    }
}

// The number that holds x^(2k+1) in nres_powmod's table (slot k), or null
// for the four slots never formed.
bignum* odd_power_slot(int k) {
    static constexpr int slot_scratch[16] = {1, 2, 3, 4, 0, 5, 6, 7, 0, 0, 8, 9, 0, 10, 11, 12};
    return slot_scratch[k] == 0 ? nullptr : scratch(slot_scratch[k]);
}

// The number that holds slot k of nres_powmod2's table (see there).
bignum* pair_slot(int k) {
    static constexpr int slot_scratch[16] = {0, 1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 10, 11, 12};
    return slot_scratch[k] == 0 ? nullptr : scratch(slot_scratch[k]);
}

bool is_odd(bignum* n) { return !is_zero(n) && (n->w[0] & 1u) != 0; }

// w = the residue of 1.
void residue_of_one(bignum* w) {
    set_from_int(1, w);
    nres(w, w);
}

// w = (w * x) mod n for a machine integer x, through the double-length
// accumulator: w * x can be a word longer than any single-length number
// holds. The remainder takes the sign of the product.
void multiply_word_mod(bignum* w, int x, bignum* n) {
    mr_state* s = engine_instance;
    bignum* acc = s->accumulator;
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
    bignum* e = engine_instance->scratch9;
    bignum* mask = engine_instance->scratch10;
    copy_number(y, e);
    zero_number(w);
    if (x == 0) return;
    set_from_int(1, w);
    if (is_zero(e)) return;
    if (is_negative(e)) report_error(10);
    if (w == n) report_error(7);
    if (is_zero(n)) report_error(2);  // no scaling, no remainder of a zero divisor
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

}  // namespace

void nres_powmod(bignum* x, bignum* y, bignum* w) {
    if (error_pending()) return;
    bignum* e = engine_instance->scratch14;
    bignum* g = odd_power_slot(0);
    bignum* square = engine_instance->scratch13;
    copy_number(y, e);
    copy_number(x, g);
    routine_trace trace(rn_nres_powmod);
    zero_number(w);

    if (is_zero(g)) {
        if (is_zero(e)) residue_of_one(w);  // 0^0 = 1
        return;
    }
    residue_of_one(w);
    if (is_zero(e)) return;
    if (is_negative(e)) report_error(10);
    if (error_pending()) return;

    // The odd powers: each filled slot is the previous filled one times x^2
    // as often as the exponents differ by two.
    nres_modmult(g, g, square);
    bignum* previous = g;
    int previous_slot = 0;
    for (int j = 1; j < 16; ++j) {
        bignum* slot = odd_power_slot(j);
        if (slot == nullptr) continue;
        nres_modmult(previous, square, slot);
        for (int k = previous_slot + 1; k < j; ++k) nres_modmult(slot, square, slot);
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
        for (int k = 0; k < nbs; ++k) nres_modmult(w, w, w);
        if (v > 0) nres_modmult(w, odd_power_slot(v / 2), w);
        i -= nbs;
        for (int k = 0; k < nzs; ++k) nres_modmult(w, w, w);
        i -= nzs;
    }
}

void nres_powmod2(bignum* x, bignum* y, bignum* a, bignum* b, bignum* w) {
    if (error_pending()) return;
    mr_state* s = engine_instance;
    bignum* e1 = s->scratch13;
    bignum* e2 = s->scratch14;
    bignum* g1 = pair_slot(2);
    bignum* g2 = pair_slot(1);
    copy_number(y, e1);
    copy_number(x, g1);
    copy_number(b, e2);
    copy_number(a, g2);
    zero_number(w);
    if (is_zero(g1) || is_zero(g2)) return;

    routine_trace trace(rn_nres_powmod2);
    residue_of_one(w);
    if (is_zero(e1) && is_zero(e2)) return;
    if (is_negative(e1) || is_negative(e2)) report_error(10);
    if (error_pending()) return;

    // Slot k = 8*y1 + 4*b1 + 2*y0 + b0 holds x^(2*y1+y0) * a^(2*b1+b0). The
    // squares are formed in the numbers of slots 14 and 15, which they
    // become at the end.
    bignum* t = pair_slot(14);
    bignum* u = pair_slot(15);
    nres_modmult(g1, g2, pair_slot(3));            // x a
    nres_modmult(g1, g1, t);                       // x^2
    nres_modmult(g2, g2, u);                       // a^2
    nres_modmult(g2, u, pair_slot(5));             // a^3
    nres_modmult(g1, u, pair_slot(6));             // x a^2
    nres_modmult(pair_slot(6), g2, pair_slot(7));  // x a^3
    nres_modmult(g2, t, pair_slot(9));             // x^2 a
    nres_modmult(g1, t, pair_slot(10));            // x^3
    nres_modmult(g2, pair_slot(10), pair_slot(11));  // x^3 a
    nres_modmult(pair_slot(5), t, pair_slot(13));  // x^2 a^3
    nres_modmult(pair_slot(10), u, t);             // x^3 a^2
    nres_modmult(pair_slot(11), u, u);             // x^3 a^3

    const int nb1 = logb2(e1);
    const int nb2 = logb2(e2);
    int i = (nb1 > nb2 ? nb1 : nb2) - 1;
    const int steps = i + 1;
    while (i >= 0) {
        report_progress(steps - 1 - i, steps);
        int nbs, nzs;
        const int v = exponent_window_pair(e1, e2, i, &nbs, &nzs);
        for (int k = 0; k < nbs; ++k) nres_modmult(w, w, w);
        if (v > 0) nres_modmult(w, pair_slot(v), w);
        i -= nbs;
        if (nzs != 0) {
            nres_modmult(w, w, w);
            i -= 1;
        }
    }
}

void nres_powltr(int x, bignum* y, bignum* w) {
    if (error_pending()) return;
    mr_state* s = engine_instance;
    bignum* e = s->scratch9;
    copy_number(y, e);
    routine_trace trace(rn_nres_powltr);
    zero_number(w);

    if (x == 0) {
        if (is_zero(e)) residue_of_one(w);
        return;
    }
    residue_of_one(w);
    if (is_zero(e)) return;
    if (is_negative(e)) report_error(10);
    if (error_pending()) return;

    const int nb = logb2(e);
    set_from_int(x, w);
    nres(w, w);
    if (nb <= 1) return;
    for (int i = nb - 2; i >= 0; --i) {
        report_progress(nb - 2 - i, nb - 1);
        nres_modmult(w, w, w);
        if (test_bit(e, i)) {
            multiply_word_mod(w, x, s->modulus);
            // A negative base leaves a negative remainder; residues are
            // kept in [0, n).
            if (is_negative(w)) add(w, s->modulus, w);
        }
    }
}

void powmod(bignum* x, bignum* y, bignum* n, bignum* w) {
    if (error_pending()) return;
    routine_trace trace(rn_powmod);
    mr_state* s = engine_instance;

    if (is_odd(n)) {
        prepare_monty(n);
        bignum* g = odd_power_slot(0);
        nres(x, g);
        nres_powmod(g, y, w);
        redc(w, w);
        return;
    }

    // Even n (or zero): square-and-multiply on the scaled modulus.
    bignum* e = s->scratch14;
    bignum* g = s->scratch1;
    copy_number(y, e);
    copy_number(x, g);
    zero_number(w);
    if (is_zero(g)) return;
    set_from_int(1, w);
    if (is_zero(e)) return;
    if (is_negative(e)) report_error(10);
    if (w == n) report_error(7);
    if (is_zero(n)) report_error(2);  // no scaling, no remainder of a zero divisor
    if (error_pending()) return;

    const mr_digit f = normalise(n, n);
    divide(g, n, n);
    const int nb = logb2(e);
    for (int bit = 0;; ++bit) {
        report_progress(bit, nb);
        if (subdiv(e, 2, e) != 0) mad(w, g, g, n, n, w);
        if (error_pending() || is_zero(e)) break;
        mad(g, g, g, n, n, g);
    }
    if (f != 1) {
        divide_by_word(n, f, n);
        divide(w, n, n);
    }
}

void powmod2(bignum* x, bignum* y, bignum* a, bignum* b, bignum* n, bignum* w) {
    if (error_pending()) return;
    routine_trace trace(rn_powmod2);
    prepare_monty(n);
    bignum* g1 = pair_slot(2);
    bignum* g2 = pair_slot(1);
    nres(x, g1);
    nres(a, g2);
    nres_powmod2(g1, y, g2, b, w);
    redc(w, w);
}

void powltr(int x, bignum* y, bignum* n, bignum* w) {
    if (error_pending()) return;
    routine_trace trace(rn_powltr);
    mr_state* s = engine_instance;

    if (is_odd(n)) {
        // Montgomery path unless another modulus is installed: that one is
        // left alone for whoever installed it.
        const bool none_installed = is_zero(s->modulus);
        if (none_installed || compare_numbers(s->modulus, n) == 0) {
            prepare_monty(n);
            nres_powltr(x, y, w);
            redc(w, w);
            if (none_installed) clear_modulus();
            return;
        }
    }
    classical_powltr(x, y, n, w);
}
