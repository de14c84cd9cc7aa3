// Full-length products and quotients: multiply (schoolbook, with a squaring
// method for one operand of six words or more), truncating long division,
// the combined (x*y + z) / w of mad, and divisor normalisation.
//
// All four work in the working radix 2^32 only: one digit word is a full
// 32-bit value and every word product is a 64-bit intermediate split into a
// low word and a carry word. Products and quotients are built in the
// double-length accumulator and copied out at the end, so a result may be
// the same number as an operand.
#include "internal.h"
#include "kernels.h"

namespace {

using u64 = std::uint64_t;

constexpr mr_digit all_ones = 0xFFFFFFFFu;

inline mr_digit low_word(u64 v) { return static_cast<mr_digit>(v); }
inline mr_digit high_word(u64 v) { return static_cast<mr_digit>(v >> 32); }

// acc[0 .. m+n-1] = a[0 .. m-1] * b[0 .. n-1], m and n >= 1. acc must be
// zero on entry. Each row adds b[i] * a into acc from word i up and stores
// its final carry in the word just above, which no earlier row has touched.
// Rows run over the shorter operand so that the inner loop is the long one.
void schoolbook_product(const mr_digit* a, int m, const mr_digit* b, int n, mr_digit* acc) {
    if (n > m) {
        const mr_digit* t = a;
        a = b;
        b = t;
        int tn = m;
        m = n;
        n = tn;
    }
    for (int i = 0; i < n; ++i) {
        const u64 f = b[i];
        if (f == 0) continue;  // the row adds nothing and its top word stays 0
        acc[i + m] = addmul_vvw(acc + i, a, m, b[i]);
    }
}

// acc[0 .. 2m-1] = x^2 for m >= 2 words; acc must be zero on entry. Each
// cross product x[i]*x[k] (i < k) is formed once, the sum is doubled by a
// one-bit shift, and the squares x[k]^2 are added on the diagonal.
void square_product(const mr_digit* x, int m, mr_digit* acc) {
    for (int i = 0; i + 1 < m; ++i) {
        const u64 f = x[i];
        mr_digit* row = acc + i;
        u64 carry = 0;
        for (int k = i + 1; k < m; ++k) {
            const u64 t = f * x[k] + row[k] + carry;
            row[k] = low_word(t);
            carry = t >> 32;
        }
        acc[i + m] = low_word(carry);
    }
    // The cross sum is below x^2 / 2, so the top bit shifted out is 0.
    mr_digit spill = 0;
    for (int k = 0; k < 2 * m; ++k) {
        const mr_digit v = acc[k];
        acc[k] = (v << 1) | spill;
        spill = v >> 31;
    }
    u64 carry = 0;
    for (int k = 0; k < m; ++k) {
        const u64 sq = static_cast<u64>(x[k]) * x[k] + acc[2 * k] + carry;  // <= 2^64 - 1
        acc[2 * k] = low_word(sq);
        const u64 upper = (sq >> 32) + acc[2 * k + 1];
        acc[2 * k + 1] = low_word(upper);
        carry = upper >> 32;
    }
}

// z = one word q with the given sign bit (zero when q is 0).
void set_word(bignum* z, mr_digit q, std::uint32_t sign) {
    zero_number(z);
    if (q == 0) return;
    z->w[0] = q;
    z->len = 1u | sign;
}

// Gives a finished number the sign bit `sign` unless it is zero.
inline void give_sign(bignum* x, std::uint32_t sign) {
    if (!is_zero(x)) x->len |= sign;
}

}  // namespace

void multiply(bignum* x, bignum* y, bignum* z) {
    if (error_pending()) return;
    routine_trace trace(rn_multiply);
    if (is_zero(x) || is_zero(y)) {
        zero_number(z);
        return;
    }
    if (is_flash_number(x) || is_flash_number(y)) {
        report_error(12);
        return;
    }
    mr_state* s = engine_instance;
    bignum* acc = s->accumulator;
    const std::uint32_t sign = (x->len ^ y->len) & mr_sign_bit;
    const int m = length_of(x);
    const int n = length_of(y);
    zero_number(acc);
    if (s->length_check && m + n > s->max_length) {
        report_error(3);
        return;
    }
    if (x == y && m > 5)
        square_product(x->w, m, acc->w);
    else
        schoolbook_product(x->w, m, y->w, n, acc->w);
    acc->len = static_cast<std::uint32_t>(m + n) | sign;
    strip_leading_zeros(acc);
    copy_number(acc, z);
}

mr_digit normalise(bignum* x, bignum* y) {
    // Called only from inside other routines, so no error test here.
    routine_trace trace(rn_normalise);
    if (x != y) copy_number(x, y);
    const int n = length_of(y);
    if (n == 0) return 1;  // nothing to scale; the caller reports the zero
    const mr_digit top = y->w[n - 1];
    if (top == all_ones) return 1;
    mr_digit r;
    const mr_digit d = div_double_word(1, 0, top + 1, &r);
    if (d != 1) multiply_by_word(y, d, y);
    return d;
}

// z = x / y truncated towards zero, x = the remainder (sign of x).
// z == x: x receives the quotient only. z == y: only the remainder is formed,
// in x, and y keeps its value. x == y is error 7.
void divide(bignum* x, bignum* y, bignum* z) {
    if (error_pending()) return;
    routine_trace trace(rn_divide);
    if (x == y) report_error(7);
    if (is_flash_number(x) || is_flash_number(y)) report_error(12);
    if (is_zero(y)) report_error(2);
    if (error_pending()) return;

    mr_state* s = engine_instance;
    bignum* acc = s->accumulator;
    const bool quotient_only = (z == x);
    const bool remainder_only = (z == y);
    const std::uint32_t xsign = x->len & mr_sign_bit;
    const std::uint32_t ysign = y->len & mr_sign_bit;
    const std::uint32_t qsign = xsign ^ ysign;
    x->len &= ~mr_sign_bit;
    y->len &= ~mr_sign_bit;

    copy_number(x, acc);
    int t = length_of(acc);
    const int n = length_of(y);
    if (s->length_check && t - n + 1 > s->max_length) {
        report_error(3);
        x->len |= xsign;
        y->len |= ysign;
        return;
    }

    mr_digit* a = acc->w;
    const mr_digit* yw = y->w;

    // Short cases: one-word operands, an equal-length dividend whose
    // quotient is small, a dividend below the divisor, a one-word divisor.
    mr_digit q = 0;
    if (t == 1 && n == 1) {
        q = a[0] / yw[0];
        a[0] %= yw[0];
        strip_leading_zeros(acc);
    } else if (t == n && t > 1 && (a[t - 1] >> 2) < yw[n - 1]) {
        while (compare_numbers(acc, y) >= 0) {
            magnitude_subtract(acc, y, acc);
            ++q;
        }
    }
    if (compare_numbers(acc, y) < 0) {
        if (!quotient_only) {
            copy_number(acc, x);
            give_sign(x, xsign);
        }
        if (!remainder_only) set_word(z, q, qsign);
        y->len |= ysign;
        return;
    }
    if (n == 1) {
        const mr_digit r = divide_by_word(acc, yw[0], acc);
        if (!remainder_only) {
            copy_number(acc, z);
            give_sign(z, qsign);
        }
        if (!quotient_only) set_word(x, r, xsign);
        y->len |= ysign;
        return;
    }

    // Long division: n >= 2 and x >= y.
    if (!remainder_only) zero_number(z);
    const mr_digit d = normalise(y, y);
    length_check_scope unchecked(0);
    if (d != 1) multiply_by_word(acc, d, acc);  // may add the word a[t]

    const mr_digit ytop = yw[n - 1];
    const mr_digit ynext = yw[n - 2];
    mr_digit* zw = z->w;
    for (int j = t - 1; j >= n - 1; --j) {
        // Estimate the quotient word from the top two remainder words.
        const mr_digit top = a[j + 1];
        mr_digit qhat;
        mr_digit rhat;
        bool correct = true;
        if (top != ytop) {
            qhat = div_double_word(top, a[j], ytop, &rhat);
        } else {
            qhat = all_ones;
            const u64 sum = static_cast<u64>(a[j]) + ytop;
            rhat = low_word(sum);
            correct = (sum >> 32) == 0;
        }
        // Correct it with the second divisor word: afterwards it is the true
        // quotient word or one more.
        if (correct) {
            for (;;) {
                const u64 p = static_cast<u64>(ynext) * qhat;
                const mr_digit ph = high_word(p);
                if (ph < rhat || (ph == rhat && low_word(p) <= a[j - 1])) break;
                --qhat;
                const u64 sum = static_cast<u64>(rhat) + ytop;
                rhat = low_word(sum);
                if (sum >> 32) break;
            }
        }
        // Subtract qhat * y, adding y back once when qhat was one too many.
        const int p = j - n + 1;
        if (qhat != 0) {
            const mr_digit borrow = submul_vvw(a + p, yw, n, qhat);
            if (a[j + 1] >= borrow) {
                a[j + 1] -= borrow;
            } else {
                a[j + 1] = 0;
                add_vv(a + p, a + p, yw, n);
                --qhat;
            }
        }
        if (j + 1 == t && qhat == 0)
            --t;
        else if (!remainder_only)
            zw[p] = qhat;
    }

    if (!remainder_only) {
        z->len = static_cast<std::uint32_t>(t - n + 1) | qsign;
        strip_leading_zeros(z);
    }
    // Every remainder word from n up is 0 now.
    acc->len = static_cast<std::uint32_t>(n);
    strip_leading_zeros(acc);
    strip_leading_zeros(y);
    if (!quotient_only) {
        if (d == 1)
            copy_number(acc, x);
        else
            divide_by_word(acc, d, x);
        give_sign(x, xsign);
    }
    if (d != 1) divide_by_word(y, d, y);
    y->len |= ysign;
}

// q = (x*y + z) / w, r = the remainder. z is added only when it differs from
// both x and y; q == w forms only the remainder, q == r only the quotient;
// w == r is error 7. Runs with length_check clear, so x*y may have up to
// twice max_length words; the caller makes sure the quotient fits in q.
void mad(bignum* x, bignum* y, bignum* z, bignum* w, bignum* q, bignum* r) {
    if (error_pending()) return;
    routine_trace trace(rn_mad);
    mr_state* s = engine_instance;
    length_check_scope unchecked(0);
    if (w == r) {
        report_error(7);
        return;
    }
    bignum* acc = s->accumulator;
    multiply(x, y, acc);
    if (z != x && z != y) add(acc, z, acc);
    divide(acc, w, q);
    if (q != r && !error_pending()) copy_number(acc, r);
}
