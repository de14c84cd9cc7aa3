// Montgomery arithmetic: modular products for an odd modulus without a long
// division per product.
//
// For an odd modulus n of k words let R = 2^(32k). The Montgomery form of x
// is the residue x*R mod n. The product of two residues, x*R and y*R, is
// x*y*R^2; one Montgomery reduction (redc) divides it by R modulo n and
// leaves x*y*R, the residue of the product. Dividing by R modulo n costs no
// division: from the bottom up, add the multiple m*n of n that clears the
// lowest remaining word (m = T[i] * -1/n mod 2^32, with the word constant
// monty_constant), so that after k words the value is a multiple of R and
// the division is a shift by k words. The sum stays below 2n, so one
// subtraction brings it into [0, n). The rows run two words at a time (see
// reduce_rows), which gives the same sum with half the rows.
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

namespace {

using u64 = std::uint64_t;
__extension__ typedef unsigned __int128 u128;

// Two adjacent digit words as one 64-bit value, low word first.
inline u64 load64(const mr_digit* p) { return u64{p[0]} | (u64{p[1]} << 32); }
inline void store64(mr_digit* p, u64 v) {
    p[0] = static_cast<mr_digit>(v);
    p[1] = static_cast<mr_digit>(v >> 32);
}

// The reduction proper: adds to t[0 .. 2k] the multiple of n that clears
// its k low words. t holds below 2^(64k) on entry with zeros from word 2k up.
//
// The rows run on 64-bit limbs, two digit words at a time, with the
// constant -1/n mod 2^64 (one Newton step from the 32-bit monty_constant:
// if n*v = 1 mod 2^32 then n*v*(2 - n*v) = 1 mod 2^64). That halves the
// rows and the products per row against word-sized rows, and the 128-bit
// products cost about what 64-bit ones do. For an odd k the last word is
// cleared by one word-sized row. Each row's final carry goes into the
// limb just above it, and what that addition carries out (with the row's
// own carry) is added one limb higher by the next row, as the same limb
// is the next row's top.
void reduce_rows(mr_digit* t, const mr_digit* n, int k, mr_digit word_constant) {
    const int limbs = k / 2;  // full 64-bit limbs of n; an odd k leaves one word
    if (limbs > 0) {
        const u64 n0 = load64(n);
        u64 inverse = 0u - word_constant;  // n^-1 mod 2^32
        inverse *= 2 - n0 * inverse;       // n^-1 mod 2^64
        const u64 m_constant = 0 - inverse;
        const int span = 2 * limbs;  // words of n in the full limbs
        u64 carry = 0;
        for (int i = 0; i < limbs; ++i) {
            mr_digit* row = t + 2 * i;
            const u64 m = load64(row) * m_constant;
            u64 c = 0;
            for (int j = 0; j < span; j += 2) {
                const u128 p = u128{m} * load64(n + j) + load64(row + j) + c;
                store64(row + j, static_cast<u64>(p));
                c = static_cast<u64>(p >> 64);
            }
            if (k % 2 != 0) {  // n's odd top word
                const u128 p = u128{m} * n[span] + load64(row + span) + c;
                store64(row + span, static_cast<u64>(p));
                c = static_cast<u64>(p >> 64);
            }
            mr_digit* top = row + (k % 2 != 0 ? span + 2 : span);
            const u64 before = load64(top);
            const u64 sum = before + carry;
            u64 carry_out = sum < before;
            const u64 sum2 = sum + c;
            carry_out += sum2 < sum;
            store64(top, sum2);
            carry = carry_out;
        }
        // The last row's top limb ends at word 2k - 1 (k even) or 2k - 2
        // (k odd, whose word row then starts at word k - 1 and adds above).
        t[2 * k] = static_cast<mr_digit>(carry);
    }
    if (k % 2 != 0) {
        mr_digit* row = t + (k - 1);
        const mr_digit m = row[0] * word_constant;
        u64 c = 0;
        for (int j = 0; j < k; ++j) {
            const u64 p = u64{m} * n[j] + c + row[j];
            row[j] = static_cast<mr_digit>(p);
            c = p >> 32;
        }
        const u64 top = u64{row[k]} + c;  // row[k] is word 2k - 1
        row[k] = static_cast<mr_digit>(top);
        t[2 * k] += static_cast<mr_digit>(top >> 32);
    }
}

}  // namespace

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
    s->length_check = 0;
    mr_shift(y, length_of(n), acc);
    divide(acc, n, n);
    s->length_check = 1;
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
        s->length_check = 0;
        divide(t, n, n);
        s->length_check = 1;
    }

    reduce_rows(t->w, n->w, k, s->monty_constant);
    t->len = static_cast<std::uint32_t>(2 * k + 1);

    s->length_check = 0;
    mr_shift(t, -k, t);  // the k low words are zero now
    s->length_check = 1;
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
    s->length_check = 0;
    multiply(x, y, s->accumulator);
    redc(s->accumulator, w);
    s->length_check = 1;
}

void clear_modulus() { zero_number(engine_instance->modulus); }
