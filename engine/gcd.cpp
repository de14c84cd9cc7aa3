// Greatest common divisors: egcd (the GCD alone), xgcd (the GCD with the
// cofactors of the extended algorithm, or a modular inverse) and
// small_quotient, the quotient routine of the word-sized Euclid steps.
//
// Both GCDs are Euclid's algorithm accelerated with Lehmer's method. A plain
// Euclid step costs one multi-precision division, yet most quotients are
// tiny and depend only on the leading bits of the two remainders R1 >= R2.
// So each pass takes the leading 128 bits of R1 and R2 (both shifted by the
// same amount) as u and v and runs Euclid on them while it can prove that
// the quotients it finds are the quotients the full numbers would give. It
// tracks the steps in a 2x2 matrix of cofactor magnitudes below 2^63
//
//     | a  b |     even step count:  R1' = a*R1 - b*R2,  R2' = d*R2 - c*R1
//     | c  d |     odd step count:   R1' = b*R2 - a*R1,  R2' = c*R1 - d*R2
//
// (the cofactors of consecutive Euclid steps alternate in sign, so only
// magnitudes are kept, with a flag dplus for the even pattern).
//
// Why the quotients are right. The true values are R1 = U*2^p and
// R2 = V*2^p with u <= U < u+1 and v <= V < v+1. After an even number of
// steps the true remainders, at this scale, are aU - bV and dV - cU, which
// lie in (u' - b, u' + a) and (v' - c, v' + d), where u', v' are what the
// same steps give on u and v. Their ratio therefore lies between
// (u'-b)/(v'+d) and (u'+a)/(v'-c) (after an odd count, between
// (u'-a)/(v'+c) and (u'+b)/(v'-d)). When both ends have the same integer
// part q, q is the true quotient. When they differ, or an end cannot be
// formed, or a cofactor would reach 2^63, the pass stops and the matrix is
// applied to the full numbers through the limb kernels. When R1 has at most
// four words, u and v are R1 and R2 themselves and every quotient is exact.
// When no step could be proven at all, one ordinary division step is made.
//
// With 128-bit leading values and cofactors up to 2^63, one pass takes
// about 62 bits off the remainders, and the matrix is applied with 64-bit
// limb multipliers. Every step taken is a step of Euclid's algorithm on the
// full numbers, so the remainders, the cofactors and the step count are
// those of the plain algorithm, whatever the number of steps per pass.
//
// xgcd also carries the cofactors C1, C2 of x (as magnitudes) and the
// parity of the number of steps, which gives the sign of the final cofactor.
//
// Workspace: R1, R2, C1, C2 and the quotient of a division step live in
// the workspace numbers workspace.h gives them, none of which may be passed
// as an argument. Exchanging R1 and R2 (or C1 and C2) exchanges the local
// pointers only. The matrix products are formed in the division scratch
// area, which is free between divisions.
#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

#include "internal.h"
#include "workspace.h"
#include "kernels.h"

namespace {

using u64 = std::uint64_t;
__extension__ typedef unsigned __int128 u128;  // GCC and Clang on x86-64

constexpr u64 two_31 = u64{1} << 31;
constexpr u64 two_63 = u64{1} << 63;

// The matrix of one Lehmer pass: cofactor magnitudes, the sign pattern and
// the number of Euclid steps it holds (0: no step was proven).
struct lehmer_matrix {
    u64 a = 1, b = 0, c = 0, d = 1;
    bool dplus = true;
    int steps = 0;
};

// floor(u / v) for 0 < v <= u when that is below 2^63, else 0 (also for
// v = 0 or u < v: no step can be taken then).
u64 wide_quotient(u128 u, u128 v) {
    if (v == 0 || u < v) return 0;
    // Most Euclid quotients are small: a few subtractions beat a division.
    for (u64 k = 1; k <= 8; ++k) {
        u -= v;
        if (u < v) return k;
    }
    const u128 q = 8 + ((u >> 64) == 0 ? u128{static_cast<u64>(u) / static_cast<u64>(v)} : u / v);
    return q < two_63 ? static_cast<u64>(q) : 0;
}

// The value of the words w[k-4 .. k-1] shifted left by s bits, with the top
// bits of w[k-5] below them (k >= 5, 0 <= s < 32).
u128 top_bits(const mr_digit* w, int k, int s) {
    u128 v = 0;
    for (int i = 1; i <= 4; ++i) v = (v << 32) | w[k - i];
    if (s == 0) return v;
    return (v << s) | (w[k - 5] >> (32 - s));
}

// The Lehmer pass over the leading values of R1 >= R2 > 0 (see the top).
lehmer_matrix lehmer_pass(const bignum* r1, const bignum* r2) {
    const int n = length_of(r1);
    const mr_digit* w1 = r1->w;
    const mr_digit* w2 = r2->w;  // its words above its length are 0
    u128 u, v;
    const bool exact = n <= 4;
    if (exact) {
        u = 0;
        v = 0;
        for (int i = n - 1; i >= 0; --i) {
            u = (u << 32) | w1[i];
            v = (v << 32) | w2[i];
        }
    } else {
        const int s = std::countl_zero(w1[n - 1]);
        u = top_bits(w1, n, s);
        v = top_bits(w2, n, s);
    }

    lehmer_matrix m;
    for (;;) {
        u64 q;
        if (exact) {
            q = wide_quotient(u, v);
        } else if (m.dplus) {
            if (v <= m.c || u < m.b) break;
            q = wide_quotient(u + m.a, v - m.c);
            if (q != wide_quotient(u - m.b, v + m.d)) break;
        } else {
            if (v <= m.d || u < m.a) break;
            q = wide_quotient(u - m.a, v + m.c);
            if (q != wide_quotient(u + m.b, v - m.d)) break;
        }
        // a <= b and c <= d from the first step on, so b + q*d < 2^63
        // bounds all four new cofactors.
        if (q == 0 || q > (two_63 - 1 - m.b) / m.d) break;
        u64 t = m.a + q * m.c;
        m.a = m.c;
        m.c = t;
        t = m.b + q * m.d;
        m.b = m.d;
        m.d = t;
        const u128 tv = u - q * v;
        u = v;
        v = tv;
        m.dplus = !m.dplus;
        m.steps++;
    }
    return m;
}

// The two words of limb v into w[0], w[1].
inline void put_limb(mr_digit* w, u64 v) {
    w[0] = static_cast<mr_digit>(v);
    w[1] = static_cast<mr_digit>(v >> 32);
}

// x, y = the matrix applied to the remainders x >= y (see the top). Euclid
// guarantees that both results are non-negative and no longer than x, so
// the high parts of the products cancel and the low words are the result.
void apply_matrix(bignum* x, bignum* y, const lehmer_matrix& m) {
    const int n = length_of(x);
    const int ne = n + (n & 1);  // whole limbs; the words above x's length are 0
    const scratch_claim area(area_divide);
    mr_digit* t1 = area.words();
    mr_digit* t2 = t1 + ne;
    if (m.dplus) {
        mul_vvd(t1, x->w, ne, m.a);
        submul_vvd(t1, y->w, ne, m.b);
        mul_vvd(t2, y->w, ne, m.d);
        submul_vvd(t2, x->w, ne, m.c);
    } else {
        mul_vvd(t1, y->w, ne, m.b);
        submul_vvd(t1, x->w, ne, m.a);
        mul_vvd(t2, x->w, ne, m.c);
        submul_vvd(t2, y->w, ne, m.d);
    }
    std::memcpy(x->w, t1, sizeof(mr_digit) * static_cast<std::size_t>(n));
    std::memcpy(y->w, t2, sizeof(mr_digit) * static_cast<std::size_t>(n));
    x->len = static_cast<std::uint32_t>(n);
    y->len = static_cast<std::uint32_t>(n);
    strip_leading_zeros(x);
    strip_leading_zeros(y);
}

// c1, c2 = a*c1 + b*c2, d*c2 + c*c1 on magnitudes. The cofactors never
// exceed the larger operand, so a result longer than max_length words
// cannot arise; it is reported as an overflow rather than written.
void apply_cofactors(bignum* c1, bignum* c2, const lehmer_matrix& m) {
    const int n = std::max(length_of(c1), length_of(c2));
    const int ne = n + (n & 1);
    const scratch_claim area(area_divide);
    mr_digit* t1 = area.words();
    mr_digit* t2 = t1 + ne + 2;
    // Each sum is below 2^64 * 2^(32*ne), so its two carries add up to one limb.
    put_limb(t1 + ne, mul_vvd(t1, c1->w, ne, m.a) + addmul_vvd(t1, c2->w, ne, m.b));
    put_limb(t2 + ne, mul_vvd(t2, c2->w, ne, m.d) + addmul_vvd(t2, c1->w, ne, m.c));
    int len = ne + 2;
    while (len > 0 && t1[len - 1] == 0 && t2[len - 1] == 0) --len;
    if (len > engine_instance->max_length) {
        report_error(mr_error_overflow);
        return;
    }
    std::memcpy(c1->w, t1, sizeof(mr_digit) * static_cast<std::size_t>(len));
    std::memcpy(c2->w, t2, sizeof(mr_digit) * static_cast<std::size_t>(len));
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

int egcd(const bignum* x, const bignum* y, bignum* z) {
    if (error_pending()) return 0;
    routine_trace trace(rn_egcd);
    TORVANE_EXPECTS(fits_room(x) && fits_room(y));
    const workspace_claim claim_r1(ws::scratch1), claim_r2(ws::scratch2);
    bignum* r1 = claim_r1;
    bignum* r2 = claim_r2;
    abs_number(x, r1);
    abs_number(y, r2);

    lehmer_matrix m;  // the pending matrix; none at first
    // Each pass, one division or one matrix, is a step at which a cancel
    // request is taken.
    while (!is_zero(r2) && !cancel_point()) {
        if (m.steps == 0) {
            divide(r1, r2, r2);  // r1 = r1 mod r2
            std::swap(r1, r2);
        } else {
            apply_matrix(r1, r2, m);
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
        m = lehmer_pass(r1, r2);
    }

    copy_number(r1, z);
    return int_value(r1);
}

int xgcd(const bignum* x, const bignum* y, bignum* xd, bignum* yd, bignum* z) {
    if (error_pending()) return 0;
    routine_trace trace(rn_xgcd);
    TORVANE_EXPECTS(fits_room(x) && fits_room(y));
    const workspace_claim claim_r1(ws::scratch1), claim_r2(ws::scratch2);
    const workspace_claim claim_c1(ws::scratch3), claim_c2(ws::scratch4);
    const workspace_claim q_full(ws::scratch5);
    bignum* r1 = claim_r1;
    bignum* r2 = claim_r2;
    bignum* c1 = claim_c1;
    bignum* c2 = claim_c2;
    abs_number(x, r1);
    abs_number(y, r2);
    const bool x_negative = is_negative(x);
    set_word(c1, 1);
    zero_number(c2);

    // Invariant: C1*|x| = +-R1 and C2*|x| = -+R2 modulo |y|, the signs
    // alternating with each Euclid step; iter counts the steps mod 2.
    int iter = 0;
    lehmer_matrix m;  // the pending matrix; none at first

    while (!is_zero(r2) && !cancel_point()) {  // a cancel is taken between passes
        if (m.steps == 0) {
            divide(r1, r2, q_full);  // q_full = r1 / r2, r1 = r1 mod r2
            std::swap(r1, r2);
            // The product q*C2 never exceeds |y|, but the sum of the operand
            // lengths can exceed max_length by one: check the result, not the
            // operands (the accumulator has double room).
            {
                length_check_scope unchecked(0);
                const workspace_claim acc(ws::accumulator);
                multiply(q_full, c2, acc);
                add(c1, acc, c1);
            }
            std::swap(c1, c2);
            iter++;
        } else {
            apply_matrix(r1, r2, m);
            apply_cofactors(c1, c2, m);
            iter = (iter + m.steps) % 2;
        }
        if (error_pending() || is_zero(r2)) break;
        m = lehmer_pass(r1, r2);
    }

    // C1 is the magnitude of x's cofactor; an odd step count (one more for a
    // negative x) makes it negative, and adding y gives the non-negative one.
    if (x_negative) iter++;
    if (iter % 2 != 0) subtract(y, c1, c1);

    bignum* y_cofactor = q_full.get();
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
