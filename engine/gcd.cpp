// Greatest common divisors: egcd (the GCD alone), xgcd (the GCD with the
// cofactors of the extended algorithm, or a modular inverse) and
// small_quotient, the quotient routine of xgcd's leading-word steps.
//
// Both GCDs are Euclid's algorithm accelerated with Lehmer's method. A plain
// Euclid step costs one multi-precision division, yet most quotients are
// tiny and depend only on the leading bits of the two remainders R1 >= R2.
// So each pass takes the leading bits of R1 and R2 as machine values u and v
// and runs Euclid on them while it can prove that the quotients it finds are
// the quotients the full numbers would give. It tracks the steps in a 2x2
// matrix of word cofactors
//
//     | a  b |       R1' = a*R1 + b*R2
//     | c  d |       R2' = c*R1 + d*R2
//
// and carries u + a, u + b (and v + c, v + d) along as the two ends of an
// interval that holds the true ratio: while the quotient of both ends is the
// same q, q is the true quotient. When the two disagree, or a cofactor would
// outgrow a word, the matrix is applied to the full numbers in one linear
// pass, and the next pass starts from the new leading words. When no step
// could be proven at all, one ordinary division step is made instead.
//
// The cofactors of consecutive Euclid steps alternate in sign: after an even
// number of steps the matrix has the pattern (+ - / - +), after an odd
// number (- + / + -). Both routines therefore apply it on magnitudes with a
// flag that names the pattern (apply_matrix below); xgcd stores only the
// magnitudes in the first place, egcd keeps signed words and splits them.
//
// egcd scales two leading words by the top word plus one, giving 32-bit u
// and v and cofactors below 2^30. xgcd scales three leading words to 64-bit
// values, so that more steps fit in one matrix, and keeps cofactors below
// 2^31. xgcd also carries the cofactors C1, C2 of x (as magnitudes) and the
// parity of the number of steps, which gives the sign of the final cofactor.
//
// Workspace: R1 and R2 live in scratch1 and scratch2; xgcd keeps C1 and C2
// in scratch3 and scratch4 and the quotient of a division step in scratch5;
// multiply, divide and mad use the accumulator. None of these may be passed
// as an argument. Exchanging R1 and R2 (or C1 and C2) exchanges the local
// pointers only.
#include <algorithm>
#include <cstdlib>
#include <utility>

#include "internal.h"

namespace {

using u64 = std::uint64_t;

constexpr u64 two_31 = u64{1} << 31;

// x, y = the matrix (a b / c d) applied to x and y, on magnitudes.
//   dplus:  x' = a*x - b*y,  y' = d*y - c*x
//   else:   x' = b*y - a*x,  y' = c*x - d*y
// Euclid guarantees that both results are non-negative and no larger than
// x (they are two later remainders of the sequence), so the pass works in
// place over x's words: each output word depends only on the input words at
// the same position and on four carry chains (one per product) and two
// borrows. No intermediate is ever longer than x, whatever x's length.
template <bool dplus>
void apply_matrix_pass(mr_digit* xw, mr_digit* yw, int n, u64 a, u64 b, u64 c, u64 d) {
    u64 ca = 0, cb = 0, cc = 0, cd = 0;
    u64 borrow1 = 0, borrow2 = 0;
    for (int i = 0; i < n; ++i) {
        const u64 xi = xw[i];
        const u64 yi = yw[i];
        const u64 pa = a * xi + ca;
        const u64 pb = b * yi + cb;
        const u64 pc = c * xi + cc;
        const u64 pd = d * yi + cd;
        ca = pa >> 32;
        cb = pb >> 32;
        cc = pc >> 32;
        cd = pd >> 32;
        u64 t1, t2;
        if constexpr (dplus) {
            t1 = (pa & 0xFFFFFFFFu) - (pb & 0xFFFFFFFFu) - borrow1;
            t2 = (pd & 0xFFFFFFFFu) - (pc & 0xFFFFFFFFu) - borrow2;
        } else {
            t1 = (pb & 0xFFFFFFFFu) - (pa & 0xFFFFFFFFu) - borrow1;
            t2 = (pc & 0xFFFFFFFFu) - (pd & 0xFFFFFFFFu) - borrow2;
        }
        xw[i] = static_cast<mr_digit>(t1);
        yw[i] = static_cast<mr_digit>(t2);
        borrow1 = (t1 >> 32) != 0;
        borrow2 = (t2 >> 32) != 0;
    }
}

void apply_matrix(bignum* x, bignum* y, u64 a, u64 b, u64 c, u64 d, bool dplus) {
    const int n = length_of(x);  // x >= y; y's words above its length are 0
    if (dplus)
        apply_matrix_pass<true>(x->w, y->w, n, a, b, c, d);
    else
        apply_matrix_pass<false>(x->w, y->w, n, a, b, c, d);
    x->len = static_cast<std::uint32_t>(n);
    y->len = static_cast<std::uint32_t>(n);
    strip_leading_zeros(x);
    strip_leading_zeros(y);
}

// c1, c2 = a*c1 + b*c2, d*c2 + c*c1 on magnitudes, in place. The cofactors
// never exceed the larger operand, so a result longer than max_length words
// cannot arise; it is reported as an overflow rather than written.
void apply_cofactors(bignum* c1, bignum* c2, u64 a, u64 b, u64 c, u64 d) {
    const int n = std::max(length_of(c1), length_of(c2));
    mr_digit* w1 = c1->w;
    mr_digit* w2 = c2->w;
    u64 ca = 0, cb = 0, cc = 0, cd = 0;
    u64 carry1 = 0, carry2 = 0;
    for (int i = 0; i < n; ++i) {
        const u64 x1 = w1[i];
        const u64 x2 = w2[i];
        const u64 pa = a * x1 + ca;
        const u64 pb = b * x2 + cb;
        const u64 pc = c * x1 + cc;
        const u64 pd = d * x2 + cd;
        ca = pa >> 32;
        cb = pb >> 32;
        cc = pc >> 32;
        cd = pd >> 32;
        const u64 s1 = (pa & 0xFFFFFFFFu) + (pb & 0xFFFFFFFFu) + carry1;
        const u64 s2 = (pd & 0xFFFFFFFFu) + (pc & 0xFFFFFFFFu) + carry2;
        w1[i] = static_cast<mr_digit>(s1);
        w2[i] = static_cast<mr_digit>(s2);
        carry1 = s1 >> 32;
        carry2 = s2 >> 32;
    }
    // What is left of the carry chains is the word above n: the cofactors
    // are below 2^31, so a*c1 + b*c2 < 2^32 * B^n.
    const u64 top1 = ca + cb + carry1;
    const u64 top2 = cc + cd + carry2;
    int len = n;
    if ((top1 | top2) != 0) {
        if (n + 1 > engine_instance->max_length) {
            report_error(3);
            return;
        }
        w1[n] = static_cast<mr_digit>(top1);
        w2[n] = static_cast<mr_digit>(top2);
        len = n + 1;
    }
    c1->len = static_cast<std::uint32_t>(len);
    c2->len = static_cast<std::uint32_t>(len);
    strip_leading_zeros(c1);
    strip_leading_zeros(c2);
}

// x = the one-word value v.
void set_word(bignum* x, mr_digit v) {
    zero_number(x);
    if (v == 0) return;
    x->w[0] = v;
    x->len = 1;
}

}  // namespace

mr_digit small_quotient(std::uint64_t u, std::uint64_t v) {
    // Most Euclid quotients are small: a few subtractions beat a division.
    std::uint64_t r = u;
    for (mr_digit k = 1; k <= 8; ++k) {
        r -= v;
        if (r < v) return k;
    }
    const std::uint64_t q = 8 + r / v;  // r = u - 8*v
    return q < two_31 ? static_cast<mr_digit>(q) : 0;
}

int egcd(bignum* x, bignum* y, bignum* z) {
    if (error_pending()) return 0;
    routine_trace trace(rn_egcd);
    mr_state* s = engine_instance;

    bignum* r1 = s->scratch1;
    bignum* r2 = s->scratch2;
    abs_number(x, r1);
    abs_number(y, r2);

    // The pending matrix; b == 0 means none (no step was proven).
    int a = 0, b = 0, c = 0, d = 0;
    bool even = true;  // parity of the steps in the pending matrix

    while (!is_zero(r2)) {
        if (b == 0) {
            divide(r1, r2, r2);  // r1 = r1 mod r2
            std::swap(r1, r2);
        } else if (even) {
            apply_matrix(r1, r2, static_cast<u64>(a), static_cast<u64>(-b),
                         static_cast<u64>(-c), static_cast<u64>(d), true);
        } else {
            apply_matrix(r1, r2, static_cast<u64>(-a), static_cast<u64>(b),
                         static_cast<u64>(c), static_cast<u64>(-d), false);
        }
        if (error_pending() || is_zero(r2)) break;

        if (length_of(r2) == 1) {
            // Finish on words: gcd(r1, s) = gcd(s, r1 mod s).
            mr_digit sw = r2->w[0];
            mr_digit rw = divide_by_word(r1, sw, r1);
            while (rw != 0) {
                const mr_digit t = sw % rw;
                sw = rw;
                rw = t;
            }
            set_word(r1, sw);
            break;
        }

        // Leading words, both scaled by the same m so that u fits in a word.
        const int n = length_of(r1);
        const mr_digit top = r1->w[n - 1];
        const mr_digit m = top + 1;
        mr_digit u, v;
        if (m == 0) {
            u = top;
            v = r2->w[n - 1];
        } else {
            mr_digit rem;
            u = div_double_word(top, r1->w[n - 2], m, &rem);
            v = div_double_word(r2->w[n - 1], r2->w[n - 2], m, &rem);
        }

        a = 1;
        b = 0;
        c = 0;
        d = 1;
        even = true;
        while (v + static_cast<mr_digit>(c) != 0 && v + static_cast<mr_digit>(d) != 0) {
            const mr_digit q = (u + static_cast<mr_digit>(a)) / (v + static_cast<mr_digit>(c));
            // A zero quotient is never a Euclid step of R1 >= R2; it only
            // shows up when a sum above wrapped around.
            if (q == 0 || q != (u + static_cast<mr_digit>(b)) / (v + static_cast<mr_digit>(d))) break;
            if (d == 0 || q >= static_cast<mr_digit>((1 << 30) / std::abs(d))) break;
            const int qi = static_cast<int>(q);
            int t = a - qi * c;
            a = c;
            c = t;
            t = b - qi * d;
            b = d;
            d = t;
            const mr_digit tv = u - q * v;
            u = v;
            v = tv;
            even = !even;
        }
    }

    copy_number(r1, z);
    return int_value(r1);
}

int xgcd(bignum* x, bignum* y, bignum* xd, bignum* yd, bignum* z) {
    if (error_pending()) return 0;
    routine_trace trace(rn_xgcd);
    mr_state* s = engine_instance;

    bignum* r1 = s->scratch1;
    bignum* r2 = s->scratch2;
    bignum* c1 = s->scratch3;
    bignum* c2 = s->scratch4;
    bignum* q_full = s->scratch5;
    abs_number(x, r1);
    abs_number(y, r2);
    const bool x_negative = is_negative(x);
    set_word(c1, 1);
    zero_number(c2);

    // Invariant: C1*|x| = +-R1 and C2*|x| = -+R2 modulo |y|, the signs
    // alternating with each Euclid step; iter counts the steps mod 2.
    int iter = 0;
    bool last = false;   // u, v are the whole remainders, not leading parts
    bool dplus = true;   // sign pattern of the pending matrix
    u64 a = 0, b = 0, c = 0, d = 0;

    while (!is_zero(r2)) {
        if (b == 0) {
            divide(r1, r2, q_full);  // q_full = r1 / r2, r1 = r1 mod r2
            std::swap(r1, r2);
            // The product q*C2 never exceeds |y|, but the sum of the operand
            // lengths can exceed max_length by one: check the result, not the
            // operands (the accumulator has double room).
            {
                length_check_scope unchecked(0);
                multiply(q_full, c2, s->accumulator);
                add(c1, s->accumulator, c1);
            }
            std::swap(c1, c2);
            iter++;
        } else {
            apply_matrix(r1, r2, a, b, c, d, dplus);
            apply_cofactors(c1, c2, a, b, c, d);
        }
        if (error_pending() || is_zero(r2)) break;

        // Leading values, 64 bits of them.
        const int n = length_of(r1);
        const mr_digit* w1 = r1->w;
        const mr_digit* w2 = r2->w;
        const mr_digit m = w1[n - 1] + 1;
        u64 u, v;
        if (n == 1) {
            u = w1[0];
            v = w2[0];
            last = true;
        } else if (n > 2 && m != 0) {
            mr_digit rem;
            mr_digit hi = div_double_word(w1[n - 1], w1[n - 2], m, &rem);
            mr_digit lo = div_double_word(rem, w1[n - 3], m, &rem);
            u = (u64{hi} << 32) | lo;
            hi = div_double_word(w2[n - 1], w2[n - 2], m, &rem);
            lo = div_double_word(rem, w2[n - 3], m, &rem);
            v = (u64{hi} << 32) | lo;
        } else {
            u = (u64{w1[n - 1]} << 32) | w1[n - 2];
            v = (u64{w2[n - 1]} << 32) | w2[n - 2];
            if (n == 2) last = true;
        }

        a = 1;
        b = 0;
        c = 0;
        d = 1;
        dplus = true;
        for (;;) {
            u64 q;
            if (last) {
                if (v == 0) break;
                q = small_quotient(u, v);
                if (q == 0) break;
            } else if (dplus) {
                if (v - c == 0 || v + d == 0) break;
                q = small_quotient(u + a, v - c);
                if (q == 0 || q != small_quotient(u - b, v + d)) break;
            } else {
                if (v + c == 0 || v - d == 0) break;
                q = small_quotient(u - a, v + c);
                if (q == 0 || q != small_quotient(u + b, v - d)) break;
            }
            u64 t;
            if (q == 1) {
                if (b + d >= two_31) break;
                t = a + c;
                a = c;
                c = t;
                t = b + d;
                b = d;
                d = t;
                t = u - v;
                u = v;
                v = t;
            } else {
                if (q >= (two_31 - b) / d) break;
                t = a + q * c;
                a = c;
                c = t;
                t = b + q * d;
                b = d;
                d = t;
                t = u - q * v;
                u = v;
                v = t;
            }
            iter++;
            dplus = !dplus;
        }
        iter %= 2;
    }

    // C1 is the magnitude of x's cofactor; an odd step count (one more for a
    // negative x) makes it negative, and adding y gives the non-negative one.
    if (x_negative) iter++;
    if (iter % 2 != 0) subtract(y, c1, c1);

    bignum* y_cofactor = q_full;
    if (xd != yd) {
        // y's cofactor from the identity: (g - x*xd) / y, exactly.
        negate_number(x, r2);
        mad(r2, c1, r1, y, y_cofactor, y_cofactor);
        copy_number(y_cofactor, yd);
    }
    copy_number(c1, xd);
    if (z != xd && z != yd) copy_number(r1, z);
    return int_value(r1);
}
