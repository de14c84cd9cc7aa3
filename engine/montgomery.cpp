// Montgomery arithmetic: modular products for an odd modulus without a long
// division per product.
//
// For an odd modulus n of k words let R = 2^(32k). The Montgomery form of x
// is the residue x*R mod n. The product of two residues, x*R and y*R, is
// x*y*R^2; one Montgomery reduction (redc) divides it by R modulo n and
// leaves x*y*R, the residue of the product. Dividing by R modulo n costs no
// division: word by word from the bottom, add the multiple m*n of n that
// clears the lowest remaining word (m = T[i] * -1/n mod 2^32, the word
// constant monty_constant), so that after k words the value is a multiple of
// R and the division is a shift by k words. The sum stays below 2n, so one
// subtraction brings it into [0, n).
//
// One modulus is installed at a time, in the instance's `modulus` workspace
// number, with its word constant in monty_constant. Installing the same
// value again costs one comparison, so repeated operations on one modulus
// skip the set-up. Residues mean something only under the modulus they were
// made with.
//
// Workspace: nres, redc and nres_modmult work in the double-length
// accumulator (a product of two residues needs 2k words and the reduction's
// carry one more). prepare_monty uses scratch6, scratch7 and scratch8 for
// 2^32, n's lowest word and the inverse, and xgcd uses scratch1 to scratch5.
// Callers of prepare_monty must not keep anything there (the exponentiation
// routines keep their exponents and tables elsewhere, or form them after).
#include "internal.h"

mr_digit prepare_monty(bignum* n) {
    if (error_pending()) return 0;
    mr_state* s = engine_instance;
    if (!is_zero(s->modulus) && compare_numbers(n, s->modulus) == 0) return s->monty_constant;

    routine_trace trace(rn_prepare_monty);
    if (int_value(n) <= 2) {
        report_error(19);
        return 0;
    }

    // The inverse of n's lowest word modulo 2^32, from the extended GCD of
    // that word and 2^32; it exists exactly when n is odd.
    bignum* two_32 = s->scratch6;
    bignum* low = s->scratch7;
    bignum* inverse = s->scratch8;
    zero_number(two_32);
    two_32->w[1] = 1;
    two_32->len = 2;
    zero_number(low);
    low->w[0] = n->w[0];
    low->len = 1;
    strip_leading_zeros(low);
    if (xgcd(low, two_32, inverse, inverse, inverse) != 1) {
        if (!error_pending()) report_error(19);
        return 0;
    }

    s->monty_constant = 0u - inverse->w[0];
    copy_number(n, s->modulus);
    return s->monty_constant;
}

void nres(bignum* x, bignum* y) {
    if (error_pending()) return;
    routine_trace trace(rn_nres);
    mr_state* s = engine_instance;
    bignum* n = s->modulus;
    if (is_zero(n)) {
        report_error(20);
        return;
    }

    copy_number(x, y);
    divide(y, n, n);  // y = x mod n, with x's sign
    if (is_negative(y)) add(y, n, y);

    // y*R mod n: shift up by k words in the double-length accumulator.
    bignum* acc = s->accumulator;
    {
        length_check_scope unchecked(0);
        mr_shift(y, length_of(n), acc);
        divide(acc, n, n);
    }
    copy_number(acc, y);
}

void redc(bignum* x, bignum* y) {
    if (error_pending()) return;
    routine_trace trace(rn_redc);
    mr_state* s = engine_instance;
    bignum* n = s->modulus;
    bignum* t = s->accumulator;
    const int k = length_of(n);
    if (k == 0) {
        // Without a modulus there is no R; the word loop would leave the
        // accumulator malformed.
        report_error(20);
        return;
    }

    copy_number(x, t);
    t->len &= ~mr_sign_bit;  // the sign is not looked at
    if (length_of(t) > 2 * k) {
        // Not below n*R: reduce modulo n first, which leaves the result
        // x*R^-1 mod n unchanged and keeps the word loop inside 2k+1 words.
        length_check_scope unchecked(0);
        divide(t, n, n);
    }

    mr_digit* tw = t->w;
    const mr_digit* nw = n->w;
    const mr_digit mc = s->monty_constant;
    mr_digit carry = 0;  // carry into word i + k from the row before
    for (int i = 0; i < k; ++i) {
        const mr_digit m = tw[i] * mc;
        std::uint64_t c = 0;
        mr_digit* row = tw + i;
        for (int j = 0; j < k; ++j) {
            const std::uint64_t p = std::uint64_t{m} * nw[j] + c + row[j];
            row[j] = static_cast<mr_digit>(p);
            c = p >> 32;
        }
        const mr_digit before = row[k];
        mr_digit sum = before + carry;
        mr_digit carry_out = sum < before;
        const mr_digit sum2 = sum + static_cast<mr_digit>(c);
        carry_out += sum2 < sum;
        row[k] = sum2;
        carry = carry_out;
    }
    tw[2 * k] = carry;
    t->len = static_cast<std::uint32_t>(2 * k + 1);

    {
        length_check_scope unchecked(0);
        mr_shift(t, -k, t);  // the k low words are zero now
    }
    strip_leading_zeros(t);
    if (compare_numbers(t, n) >= 0) {
        magnitude_subtract(t, n, t);
        // Still not below n only when x was at least n*R.
        if (compare_numbers(t, n) >= 0) divide(t, n, n);
    }
    copy_number(t, y);
}

void nres_modmult(bignum* x, bignum* y, bignum* w) {
    // A zero factor: the product is zero, even while an error is pending.
    if ((is_zero(x) && x == w) || (is_zero(y) && y == w)) return;
    if (is_zero(x) || is_zero(y)) {
        zero_number(w);
        return;
    }
    if (error_pending()) return;
    routine_trace trace(rn_nres_modmult);
    mr_state* s = engine_instance;
    length_check_scope unchecked(0);
    multiply(x, y, s->accumulator);
    redc(s->accumulator, w);
}

void clear_modulus() { zero_number(engine_instance->modulus); }
