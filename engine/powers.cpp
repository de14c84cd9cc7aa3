// Bit length, powers of two and of small integers, powers of a number with
// or without a modulus, and integer n-th roots by a Newton iteration whose
// precision doubles until it covers the whole operand.
//
// Workspace: power keeps its running square in scratch5 (double length);
// nroot keeps its guess in scratch2, the previous guess in scratch3, the
// truncated operand in scratch4 and the power of the guess in scratch6. None
// of these may be passed in as an argument.
#include <bit>
#include <cstdlib>

#include "internal.h"

int logb2(bignum* x) {
    if (error_pending() || int_value(x) == 0) return 0;
    routine_trace trace(rn_logb2);
    const int k = length_of(x);
    const mr_digit top = x->w[k - 1];
    return engine_instance->bits_per_digit * (k - 1) + std::bit_width(top);
}

void expb2(int n, bignum* x) {
    if (error_pending()) return;
    routine_trace trace(rn_expb2);
    set_from_int(1, x);
    if (n == 0) return;
    if (n < 0) {
        report_error(10);
        return;
    }
    const int bits = engine_instance->bits_per_digit;
    const int k = n / bits;
    const int r = n % bits;
    mr_shift(x, k, x);
    if (error_pending()) return;
    x->w[k] = shift_word(x->w[k], r);
}

void expint(int b, int n, bignum* x) {
    if (error_pending()) return;
    routine_trace trace(rn_expint);
    set_from_int(1, x);
    if (n == 0) return;
    if (n < 0) {
        report_error(10);
        return;
    }
    if (b == 2) {
        expb2(n, x);
        return;
    }
    // Left to right over the bits of n, from the highest power of two <= n.
    const unsigned e = static_cast<unsigned>(n);
    unsigned c = 1;
    while (c <= e) c <<= 1;
    for (c >>= 1; c != 0; c >>= 1) {
        multiply(x, x, x);
        if (e & c) premult(x, b, x);
        if (error_pending()) return;
    }
}

// w = x^n mod z; z == w means no modulus, w = x^n. x may be w.
void power(bignum* x, int n, bignum* z, bignum* w) {
    mr_state* s = engine_instance;
    bignum* b = s->scratch5;
    copy_number(x, b);
    zero_number(w);
    if (error_pending() || is_zero(b)) return;
    routine_trace trace(rn_power);
    set_from_int(1, w);
    if (n == 0) return;
    if (n < 0) {
        report_error(10);
        return;
    }

    if (z == w) {
        for (;;) {
            if (n & 1) multiply(w, b, w);
            if (error_pending()) return;
            n >>= 1;
            if (n == 0) return;
            multiply(b, b, b);
        }
    }

    // Work modulo d*z, whose top word is already large, so that no
    // reduction inside the loop has to scale the divisor again; the last
    // step brings the result back to the range of z itself.
    const mr_digit d = normalise(z, z);
    divide(b, z, z);
    for (;;) {
        if (n & 1) mad(w, b, b, z, z, w);
        if (error_pending()) break;
        n >>= 1;
        if (n == 0) break;
        mad(b, b, b, z, z, b);
    }
    if (d != 1) {
        divide_by_word(z, d, z);
        divide(w, z, z);
    }
}

// w = the integer part of the n-th root of x (for odd n and negative x, the
// root of |x| with a minus sign). Returns true when w^n == x exactly.
bool nroot(bignum* x, int n, bignum* w) {
    if (error_pending()) return false;
    routine_trace trace(rn_nroot);
    if (is_zero(x) || n == 1) {
        copy_number(x, w);
        return true;
    }
    if (n < 1) report_error(11);
    const int sx = sign_of(x);
    if (n % 2 == 0 && sx < 0) report_error(9);
    if (error_pending()) return false;

    mr_state* s = engine_instance;
    const std::uint32_t xsign = x->len & mr_sign_bit;
    x->len &= ~mr_sign_bit;
    const int bits = logb2(x);
    if (n >= bits) {
        x->len |= xsign;
        set_from_int(sx, w);
        return bits == 1;
    }

    bignum* g = s->scratch2;     // the guess
    bignum* prev = s->scratch3;  // the guess before this step
    bignum* top = s->scratch4;   // x without its lowest -shift words
    bignum* t = s->scratch6;     // a power of the guess

    // Start from a power of two at or above the root of x's top words: the
    // root of x / B^(-shift) is the root of x scaled down by -shift/n words.
    expb2(1 + (bits - 1) / n, g);
    int shift = -((length_of(x) - 1) / n) * n;
    mr_shift(g, shift / n, g);
    const int lg = logb2(g) - 1;
    bool full = (shift == 0);
    int added = 0;     // words added to the guess at the last precision step
    int precision = 1; // bits that the guess is taken to be good for

    while (!error_pending()) {
        copy_number(g, prev);
        mr_shift(x, shift, top);
        {
            length_check_scope unchecked(0);
            power(g, n - 1, t, t);
        }
        divide(top, t, g);
        int rem = int_value(top);
        // g = prev + (top / prev^(n-1) - prev) / n
        subtract(g, prev, g);
        int dif = int_value(g);
        subdiv(g, n, g);
        add(g, prev, g);

        precision *= 2;
        if (precision < lg + added * s->bits_per_digit) continue;

        if (full && std::abs(dif) < n) {
            if (dif < 0) {
                // The guess came down to within one step of the root from
                // above: step down until its n-th power is not above x.
                rem = 0;
                do {
                    decr(g, 1, g);
                    {
                        length_check_scope unchecked(0);
                        power(g, n, t, t);
                    }
                    dif = compare_numbers(x, t);
                } while (dif < 0 && !error_pending());
                if (error_pending()) break;
            }
            x->len |= xsign;
            copy_number(g, w);
            set_sign(sx, w);
            return rem == 0 && dif == 0;
        }

        // Take in twice as many more words of x as last time, up to all.
        added = (added == 0) ? 1 : 2 * added;
        shift += added * n;
        if (shift >= 0) {
            added -= shift / n;
            shift = 0;
            full = true;
        }
        mr_shift(g, added, g);
        precision /= 2;
    }
    x->len |= xsign;
    return false;
}
