// Linear-time arithmetic: signed addition and subtraction over magnitude
// addition and subtraction, multiplication and division by one word, word
// shifts, and the one-word operations beneath the quadratic routines.
//
// Every routine here works in the current digit base: full 32-bit words when
// digit_base is 0, otherwise words holding one digit of radix digit_base (at
// most 2^31), which text conversion switches to for the length of one
// conversion. In full-word base carries come out of 64-bit sums; in another
// base a sum is formed exactly and reduced by one subtraction of the radix.
//
// Results are written in place. Where a result is also an operand, each word
// is read before it is overwritten: addition and multiplication by a word run
// upwards, division by a word and upward shifts run downwards. A shorter
// operand that is also the result is never copied first; the loop reads its
// zero words above its length instead, which every number keeps clear.

#include "internal.h"
#include "primitives.h"
#include "workspace.h"
#include "kernels.h"

namespace {

// Adds two digits and a carry in the current base; returns the digit and
// leaves the new carry in `carry`.
inline mr_digit add_digits(mr_digit a, mr_digit b, mr_digit& carry, mr_digit base) {
    if (base == 0) {
        std::uint64_t sum = std::uint64_t{a} + b + carry;
        carry = static_cast<mr_digit>(sum >> 32);
        return static_cast<mr_digit>(sum);
    }
    mr_digit sum = a + b + carry;  // a, b < base <= 2^31: no wrap-around
    if (sum >= base) {
        carry = 1;
        return sum - base;
    }
    carry = 0;
    return sum;
}

// Subtracts a digit and a borrow in the current base.
inline mr_digit subtract_digits(mr_digit a, mr_digit b, mr_digit& borrow, mr_digit base) {
    if (base == 0) {
        std::uint64_t diff = std::uint64_t{a} - b - borrow;
        borrow = static_cast<mr_digit>((diff >> 32) & 1);
        return static_cast<mr_digit>(diff);
    }
    mr_digit s = b + borrow;
    if (a >= s) {
        borrow = 0;
        return a - s;
    }
    borrow = 1;
    return a - s + base;
}

// The bodies of magnitude_add, magnitude_subtract and signed_add on
// instance s, the calling thread's, which add and subtract read once.

// z = x + y for non-negative x and y.
void add_magnitudes(mr_state* s, bignum* x, bignum* y, bignum* z) {
    int lx = length_of(x), ly = length_of(y);
    int longer, shorter;
    if (ly > lx) {
        longer = ly;
        shorter = lx;
        if (x == z)
            shorter = ly;
        else
            copy_number(y, z);
    } else {
        longer = lx;
        shorter = ly;
        if (y == z)
            shorter = lx;
        else
            copy_number(x, z);
    }
    int room_for_carry = longer < s->max_length || !s->length_check;
    z->len = static_cast<std::uint32_t>(longer + room_for_carry);

    mr_digit base = s->digit_base;
    mr_digit carry = 0;
    mr_digit* xw = x->w;
    mr_digit* yw = y->w;
    mr_digit* zw = z->w;
    if (base == 0) {
        carry = add_vv(zw, xw, yw, shorter);
        // Past the shorter operand z already holds the longer one's words:
        // only the carry is left to ripple through.
        if (shorter < longer) carry = add_vw(zw + shorter, zw + shorter, longer - shorter, carry);
    } else {
        for (int i = 0; i < shorter; ++i) zw[i] = add_digits(xw[i], yw[i], carry, base);
        for (int i = shorter; i < longer && carry != 0; ++i) zw[i] = add_digits(zw[i], 0, carry, base);
    }
    if (carry != 0) {
        if (s->length_check && longer >= s->max_length) {
            report_error(mr_error_overflow);
            return;
        }
        zw[longer] = 1;
    }
    int len = static_cast<int>(z->len);
    if (len > 0 && zw[len - 1] == 0) z->len = static_cast<std::uint32_t>(len - 1);
}

// z = x - y for non-negative x >= y.
void subtract_magnitudes(mr_state* s, bignum* x, bignum* y, bignum* z) {
    int lx = length_of(x), ly = length_of(y);
    if (ly > lx) {
        report_error(mr_error_negative_result);
        return;
    }
    int bound = ly;
    if (y == z)
        bound = lx;
    else
        copy_number(x, z);
    z->len = static_cast<std::uint32_t>(lx);

    mr_digit base = s->digit_base;
    mr_digit borrow = 0;
    mr_digit* xw = x->w;
    mr_digit* yw = y->w;
    mr_digit* zw = z->w;
    // Past y's words only the borrow is left. y's digit there is 0, and it
    // is not read: x may be a double-length number (the accumulator in mad)
    // whose borrow runs beyond the room of a single-length y.
    if (base == 0) {
        borrow = sub_vv(zw, xw, yw, bound);
        // z holds x's words from bound up (it is x, or a copy of it).
        if (bound < lx) borrow = sub_vw(zw + bound, zw + bound, lx - bound, borrow);
        if (borrow != 0) {
            report_error(mr_error_negative_result);
            return;
        }
    } else {
        for (int i = 0; i < bound || borrow != 0; ++i) {
            if (i >= lx) {
                report_error(mr_error_negative_result);
                return;
            }
            zw[i] = subtract_digits(xw[i], i < bound ? yw[i] : 0, borrow, base);
        }
    }
    strip_leading_zeros(z);
}

// z = x + d*y, d = +1 or -1: the body of add, subtract and decr. The smaller
// magnitude is added to or taken from the larger, and the sign of the
// result is set from the table of the four sign cases. The magnitudes are
// read through copies of the operands' headers (the digits are shared), so
// neither operand is written; where z is an operand, it is that operand's
// copy that the magnitude routines see, and z takes its length word after.
void add_signed(mr_state* s, const bignum* x, int d, const bignum* y, bignum* z) {
    TORVANE_EXPECTS(fits_room(x) && fits_room(y));
    if (is_flash_number(x) || is_flash_number(y)) {
        report_error(mr_error_flash_number);
        return;
    }
    int sx = sign_of(x), sy = sign_of(y);
    bignum x_magnitude = *x, y_magnitude = *y;
    x_magnitude.len &= mr_magnitude_mask;
    y_magnitude.len &= mr_magnitude_mask;
    // The same aliasing among xm, ym and zm as among x, y and z.
    bignum* const xm = &x_magnitude;
    bignum* const ym = y == x ? xm : &y_magnitude;
    bignum* const zm = z == x ? xm : z == y ? ym : z;
    int c = compare_numbers(xm, ym);
    int e = sy * d;
    bool negative_result = false;
    if (sx == e) {
        // Same effective signs: add the magnitudes.
        if (c >= 0)
            add_magnitudes(s, xm, ym, zm);
        else
            add_magnitudes(s, ym, xm, zm);
        negative_result = sx < 0;
    } else if (c > 0 || (c == 0 && sx > 0)) {
        // |x| is larger (or equal with x the positive one): x's sign wins.
        subtract_magnitudes(s, xm, ym, zm);
        negative_result = sx < 0;
    } else {
        subtract_magnitudes(s, ym, xm, zm);
        negative_result = e < 0;
    }
    if (zm != z) z->len = zm->len;
    if (negative_result && z->len != 0) z->len |= mr_sign_bit;
}

}  // namespace

void magnitude_add(bignum* x, bignum* y, bignum* z) { add_magnitudes(engine_instance, x, y, z); }

void magnitude_subtract(bignum* x, bignum* y, bignum* z) { subtract_magnitudes(engine_instance, x, y, z); }

void signed_add(const bignum* x, int d, const bignum* y, bignum* z) { add_signed(engine_instance, x, d, y, z); }

void add(const bignum* x, const bignum* y, bignum* z) {
    mr_state* s = engine_instance;
    if (error_pending(s)) return;
    routine_trace trace(s, rn_add);
    add_signed(s, x, 1, y, z);
}

void subtract(const bignum* x, const bignum* y, bignum* z) {
    mr_state* s = engine_instance;
    if (error_pending(s)) return;
    routine_trace trace(s, rn_subtract);
    add_signed(s, x, -1, y, z);
}

// z = x - n. Uses the accumulator for n, so neither x nor z may be it.
void decr(bignum* x, int n, bignum* z) {
    if (error_pending()) return;
    routine_trace trace(rn_decr);
    TORVANE_EXPECTS(x != engine_instance->accumulator && z != engine_instance->accumulator);
    const workspace_claim acc(ws::accumulator);
    set_from_int(n, acc);
    signed_add(x, -1, acc, z);
}

// z = x * n for an unsigned word n; z keeps the sign of x.
void multiply_by_word(const bignum* x, mr_digit n, bignum* z) {
    mr_state* s = engine_instance;
    if (x != z) zero_number(z);
    if (n == 0) {
        zero_number(z);
        return;
    }
    int m = length_of(x);
    std::uint32_t sign = x->len & mr_sign_bit;
    mr_digit* xw = x->w;
    mr_digit* zw = z->w;
    int len;
    if (s->digit_base == 0) {
        const mr_digit carry = mul_vww(zw, xw, m, n, 0);
        len = m;
        if (carry != 0) {
            if (m >= s->max_length && s->length_check) {
                report_error(mr_error_overflow);
                return;
            }
            zw[m] = carry;
            len = m + 1;
        }
    } else {
        mr_digit carry = 0;
        int i = 0;
        while (i < m || carry != 0) {
            if (i >= s->max_length && s->length_check) {
                report_error(mr_error_overflow);
                return;
            }
            carry = mul_add_div_word(xw[i], n, carry, s->digit_base, &zw[i]);
            ++i;
        }
        len = i;
    }
    z->len = static_cast<std::uint32_t>(len);
    if (len != 0) z->len |= sign;
}

void premult(const bignum* x, int n, bignum* z) {
    if (error_pending()) return;
    routine_trace trace(rn_premult);
    TORVANE_EXPECTS(fits_room(x));
    if (is_flash_number(x)) {
        report_error(mr_error_flash_number);
        return;
    }
    if (n == 0) {
        zero_number(z);
    } else if (n == 1) {
        copy_number(x, z);
    } else if (n < 0) {
        // -n as an unsigned word, so the most negative int multiplies by 2^31.
        multiply_by_word(x, 0u - static_cast<mr_digit>(n), z);
        if (z->len != 0) z->len ^= mr_sign_bit;
    } else {
        multiply_by_word(x, static_cast<mr_digit>(n), z);
    }
}

// z = x / n truncated, z keeps x's sign; returns |x| mod n. n is not 0.
mr_digit divide_by_word(const bignum* x, mr_digit n, bignum* z) {
    TORVANE_EXPECTS(n != 0);
    mr_state* s = engine_instance;
    mr_digit r = 0;
    int m = length_of(x);
    std::uint32_t len_word = x->len;
    if (x != z) zero_number(z);
    mr_digit* xw = x->w;
    mr_digit* zw = z->w;
    if (s->digit_base == 0) {
        for (int i = m - 1; i >= 0; --i) {
            std::uint64_t v = (std::uint64_t{r} << 32) | xw[i];
            zw[i] = static_cast<mr_digit>(v / n);
            r = static_cast<mr_digit>(v % n);
        }
    } else {
        for (int i = m - 1; i >= 0; --i) zw[i] = mul_add_div_word(r, s->digit_base, xw[i], n, &r);
    }
    z->len = len_word;
    strip_leading_zeros(z);
    return r;
}

// z = x / n truncated toward zero; returns the remainder, with x's sign.
int subdiv(const bignum* x, int n, bignum* z) {
    if (error_pending()) return 0;
    routine_trace trace(rn_subdiv);
    TORVANE_EXPECTS(fits_room(x));
    if (is_flash_number(x)) report_error(mr_error_flash_number);
    if (n == 0) report_error(mr_error_division_by_zero);
    if (error_pending()) return 0;
    if (is_zero(x)) {
        zero_number(z);
        return 0;
    }
    if (n == 1) {
        copy_number(x, z);
        return 0;
    }
    bool x_negative = is_negative(x);
    mr_digit r;
    if (n == 2 && engine_instance->digit_base == 0) {
        // Halving in full words is a one-bit shift.
        copy_number(x, z);
        int m = length_of(z);
        mr_digit* zw = z->w;
        r = shr_vu(zw, zw, m, 1) >> 31;
        if (zw[m - 1] == 0) strip_leading_zeros(z);
    } else if (n < 0) {
        r = divide_by_word(x, 0u - static_cast<mr_digit>(n), z);
        if (z->len != 0) z->len ^= mr_sign_bit;
    } else {
        r = divide_by_word(x, static_cast<mr_digit>(n), z);
    }
    return x_negative ? -static_cast<int>(r) : static_cast<int>(r);
}

// x - n*trunc(x/n), with x's sign; x is unchanged. Uses the accumulator.
int remain(bignum* x, int n) {
    if (error_pending()) return 0;
    routine_trace trace(rn_remain);
    mr_state* s = engine_instance;
    if (n == 2 && (s->digit_base & 1) == 0) {
        if ((x->w[0] & 1) == 0) return 0;
        return is_negative(x) ? -1 : 1;
    }
    const workspace_claim acc(ws::accumulator);
    copy_number(x, acc);
    return subdiv(acc, n, acc);
}

int word_divides(bignum* x, int n) { return remain(x, n) == 0 ? 1 : 0; }

// w = x * B^n; a negative n drops the -n lowest words.
void mr_shift(bignum* x, int n, bignum* w) {
    if (error_pending()) return;
    copy_number(x, w);
    if (is_zero(w) || n == 0) return;
    routine_trace trace(rn_mr_shift);
    mr_state* s = engine_instance;
    if (is_flash_number(w)) {
        report_error(mr_error_flash_number);
        return;
    }
    std::uint32_t sign = w->len & mr_sign_bit;
    int len = length_of(w) + n;
    if (len <= 0) {
        zero_number(w);
        return;
    }
    if (len > s->max_length && s->length_check) report_error(mr_error_overflow);
    if (error_pending()) return;
    mr_digit* ww = w->w;
    if (n > 0) {
        for (int i = len - 1; i >= n; --i) ww[i] = ww[i - n];
        for (int i = 0; i < n; ++i) ww[i] = 0;
    } else {
        for (int i = 0; i < len; ++i) ww[i] = ww[i - n];
        for (int i = len; i < len - n; ++i) ww[i] = 0;
    }
    w->len = static_cast<std::uint32_t>(len) | sign;
}

mr_digit mul_add_div_word(mr_digit a, mr_digit b, mr_digit c, mr_digit m, mr_digit* r) {
    std::uint64_t v = std::uint64_t{a} * b + c;
    TORVANE_EXPECTS(m != 0 && (v >> 32) < m);  // the quotient fits a word
    *r = static_cast<mr_digit>(v % m);
    return static_cast<mr_digit>(v / m);
}

mr_digit div_double_word(mr_digit hi, mr_digit lo, mr_digit m, mr_digit* r) {
    TORVANE_EXPECTS(hi < m);
    std::uint64_t v = (std::uint64_t{hi} << 32) | lo;
    *r = static_cast<mr_digit>(v % m);
    return static_cast<mr_digit>(v / m);
}

mr_digit shift_word(mr_digit w, int n) {
    if (n <= 0) return w;
    if (n >= 32) return 0;
    return w << n;
}

// Bit k of |x|, counting bits_per_digit bits to a word. Bits beyond the
// stored words are 0.
int test_bit(const bignum* x, int k) {
    int bits = engine_instance->bits_per_digit;
    int q = k / bits;
    int shift = k % bits;
    if (q >= stored_length(x)) return 0;
    return static_cast<int>((x->w[q] >> shift) & 1u);
}

// One window of a sliding-window exponentiation, scanning exponent x down
// from bit i. A clear bit gives 0 (nbs = 1: one squaring). A set bit starts a
// window of at most `window` bits, which is ended early at the first pair of
// zero bits; trailing zeros are dropped from the window and counted in nzs,
// so the value returned is odd and never holds two adjacent zero bits (with
// window 5: any odd number up to 31 but 9, 17, 19 and 25). nbs is the number
// of bits the value covers.
int exponent_window(const bignum* x, int i, int* nbs, int* nzs, int window) {
    *nbs = 1;
    *nzs = 0;
    if (!test_bit(x, i)) return 0;
    if (i - window + 1 < 0) window = i + 1;
    int r = 1;
    for (int j = i - 1; j >= i - window + 1; --j) {
        ++*nbs;
        r = 2 * r + test_bit(x, j);
        if (r % 4 == 0) {
            r /= 4;
            *nbs -= 2;
            *nzs = 2;
            break;
        }
    }
    if (r % 2 == 0) {
        r /= 2;
        *nzs = 1;
        --*nbs;
    }
    return r;
}

// One joint window of two exponents at bit i, for simultaneous
// exponentiation: each bit pair (bit of x, bit of y) is a value 0..3, and two
// adjacent pairs make a 4-bit index 4*d + d2 unless the lower pair is 0.
int exponent_window_pair(const bignum* x, const bignum* y, int i, int* nbs, int* nzs) {
    *nbs = 1;
    *nzs = 0;
    int a = test_bit(x, i), b = test_bit(y, i);
    if (a == 0 && b == 0) return 0;
    int d = 2 * a + b;
    if (i == 0) return d;
    int a2 = test_bit(x, i - 1), b2 = test_bit(y, i - 1);
    if (a2 == 0 && b2 == 0) {
        *nzs = 1;
        return d;
    }
    *nbs = 2;
    return 4 * d + 2 * a2 + b2;
}
