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
// R2 = V*2^p with U = u + e1, V = v + e2, 0 <= e1, e2 < 1. The pass runs
// Euclid on u and v themselves, one quotient a step, and keeps a step only
// when it can prove it is a step of the true values too. Write the
// remainders of the leading values as r_i = +-(x_i*u - y_i*v) (x_i, y_i >= 0,
// the sign alternating); the true remainders at this scale are then
// r_i + x_i*e1 - y_i*e2 for even i and r_i - x_i*e1 + y_i*e2 for odd i.
// The quotient q of r_i by r_(i+1) is the true one when the true r_(i+2)
// lies in [0, true r_(i+1)). For even i+2 that holds when
// r_(i+2) >= y_(i+2) and r_(i+1) - r_(i+2) >= x_(i+1) + x_(i+2), for odd
// i+2 when r_(i+2) >= x_(i+2) and r_(i+1) - r_(i+2) >= y_(i+1) + y_(i+2)
// (Jebelean's condition). In the matrix, (a, b) are (x, y) of the current
// R1' and (c, d) those of R2'. When the condition fails, or a cofactor
// would reach 2^63, the pass stops and the matrix is applied to the full
// numbers. When R1 has at most four words, u and
// v are R1 and R2 themselves and every quotient is exact. When no step
// could be proven at all, one ordinary division step is made.
//
// With 128-bit leading values and cofactors up to 2^63, one pass takes
// about 62 bits off the remainders, and the matrix is applied with 64-bit
// limb multipliers. Every step taken is a step of Euclid's algorithm on the
// full numbers, so the remainders, the cofactors and the step count are
// those of the plain algorithm, whatever the number of steps per pass.
//
// A pass's matrix is applied by one kernel loop over the limbs that forms
// both new remainders (or both cofactors) at once, in place; the
// remainders' differences are formed modulo their length, as sums with
// the complement.
//
// Long remainders (egcd_block_min and xgcd_block_min words, thresholds.h)
// run their passes in blocks: the passes work on the leading words alone,
// and the product of their matrices is applied by the fast products to the
// words below them, and to xgcd's cofactors (lehmer_block below).
//
// xgcd also carries the cofactors C1, C2 of x (as magnitudes) and the
// parity of the number of steps, which gives the sign of the final cofactor.
// Once the remainders are below xgcd_block_min words and the cofactors
// xgcd_gather_min words long, the passes' matrices are recorded and applied
// to the cofactors together by fast products (gathered_passes below).
//
// Workspace: R1, R2, C1, C2 and the quotient of a division step live in
// the workspace numbers workspace.h gives them, none of which may be passed
// as an argument; a block keeps its arrays and products in five more, and
// the recorded passes take six.
// Exchanging R1 and R2 (or C1 and C2) exchanges the local pointers only. A
// pass's matrix is applied in place (each limb is read before it is
// written), which keeps a pass's working set to the four numbers.
#include <algorithm>
#include <bit>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "internal.h"
#include "gcd.h"
#include "primitives.h"
#include "workspace.h"
#include "kernels.h"
#include "multiply_divide.h"
#include "thresholds.h"

// The matrix of one Lehmer pass: cofactor magnitudes below 2^63, the sign
// pattern (dplus: an even number of steps) and the number of Euclid steps it
// holds (0: no step was proven).
struct lehmer_matrix {
    std::uint64_t a = 1, b = 0, c = 0, d = 1;
    bool dplus = true;
    int steps = 0;
};

// The Lehmer pass over R1 >= R2 > 0 of n words (R1's top word not 0): w1
// and w2 hold n words each, w2 zero above R2's length. divide_first: each
// quotient above 1 found by a division at once (wide_divide).
lehmer_matrix lehmer_pass(const mr_digit* w1, const mr_digit* w2, int n, bool divide_first);
namespace {

using u64 = std::uint64_t;
__extension__ typedef unsigned __int128 u128;  // GCC and Clang on x86-64
__extension__ typedef __int128 i128;

constexpr u64 two_31 = u64{1} << 31;
constexpr u64 two_63 = u64{1} << 63;

// floor(hi:lo / d) for hi < d (one 128-by-64-bit division).
inline u64 divide_limbs(u64 hi, u64 lo, u64 d) {
#if defined(__x86_64__)
    u64 q, r;
    __asm__("divq %4" : "=a"(q), "=d"(r) : "a"(lo), "d"(hi), "rm"(d) : "cc");
    return q;
#else
    return static_cast<u64>(((u128{hi} << 64) | lo) / d);
#endif
}

// q = floor(u / v) and r = u - q*v for 0 < v <= u; false when q would reach
// 2^63 (no step can be taken then).
inline bool wide_divide(u128 u, u128 v, u64& q, u128& r) {
    // Most Euclid quotients are small: a few subtractions beat a division.
    u -= v;
    for (u64 k = 1; k <= 8; ++k) {
        if (u < v) {
            q = k;
            r = u;
            return true;
        }
        u -= v;
    }
    // u is now the original minus 9v, so v < 2^125 and the quotient t of
    // this u by v is what is left.
    const u64 vh = static_cast<u64>(v >> 64), uh = static_cast<u64>(u >> 64);
    u64 t;
    if (vh == 0) {
        const u64 vl = static_cast<u64>(v);
        if (uh >= vl) return false;  // t >= 2^64
        t = divide_limbs(uh, static_cast<u64>(u), vl);
    } else {
        // The leading 64 bits of v (its top bit set) into the same bits of
        // u: the estimate is at least t and, v being at least 2^63 times its
        // truncation error, at most t + 2 while t < 2^61.
        const int k = 64 - std::countl_zero(vh);
        const u128 us = u >> k;
        t = divide_limbs(static_cast<u64>(us >> 64), static_cast<u64>(us), static_cast<u64>(v >> k));
    }
    if (t >= two_63 - 9) return false;
    // The remainder for the estimate, as a signed value in [-2v, v).
    i128 rs = static_cast<i128>(u - u128{t} * v);
    while (rs < 0) {
        --t;
        rs += static_cast<i128>(v);
    }
    q = 9 + t;
    r = static_cast<u128>(rs);
    return true;
}

// The value of the words w[k-4 .. k-1] shifted left by s bits, with the top
// bits of w[k-5] below them (k >= 5, 0 <= s < 32).
u128 top_bits(const mr_digit* w, int k, int s) {
    u128 v = 0;
    for (int i = 1; i <= 4; ++i) v = (v << 32) | w[k - i];
    if (s == 0) return v;
    return (v << s) | (w[k - 5] >> (32 - s));
}

// x, y = the matrix applied to the remainders x >= y (see the top), in
// place. Euclid guarantees that both results are non-negative and no longer
// than x, so the high parts of the products cancel and the low words are the
// result. An odd step count leaves the new R1 in y's words and R2 in x's,
// and the pointers are exchanged.
void apply_matrix(bignum*& x, bignum*& y, const lehmer_matrix& m) {
    const int n = length_of(x);
    const int ne = n + (n & 1);  // whole limbs; the words above x's length are 0
    if (m.dplus) {
        mat2_submul_vv(x->w, y->w, ne, m.a, m.b, m.c, m.d);
    } else {
        // b*R2 - a*R1 into y, c*R1 - d*R2 into x.
        mat2_submul_vv(y->w, x->w, ne, m.b, m.a, m.d, m.c);
        std::swap(x, y);
    }
    x->len = static_cast<std::uint32_t>(n);
    y->len = static_cast<std::uint32_t>(n);
    strip_leading_zeros(x);
    strip_leading_zeros(y);
}

// c1, c2 = a*c1 + b*c2, d*c2 + c*c1 on magnitudes, in place (a workspace
// number has room for twice max_length words, so the limb above the longer
// one is there to take the carry). The cofactors never exceed the larger
// operand, so a result longer than max_length words cannot arise; it is
// reported as an overflow.
void apply_cofactors(bignum* c1, bignum* c2, const lehmer_matrix& m) {
    const int n = std::max(length_of(c1), length_of(c2));
    const int ne = n + (n & 1);
    mat2_addmul_vv(c1->w, c2->w, ne, m.a, m.b, m.c, m.d);
    int len = ne + 2;
    while (len > 0 && c1->w[len - 1] == 0 && c2->w[len - 1] == 0) --len;
    if (len > engine_instance->max_length) {
        report_error(mr_error_overflow);
        return;
    }
    c1->len = static_cast<std::uint32_t>(len);
    c2->len = static_cast<std::uint32_t>(len);
    strip_leading_zeros(c1);
    strip_leading_zeros(c2);
}

}  // namespace

namespace {

// x = the one-word value v.
void set_word(bignum* x, mr_digit v) {
    zero_number(x);
    if (v == 0) return;
    x->w[0] = v;
    x->len = 1;
}

}  // namespace

namespace {

// q = floor(u / v) and r = u - q*v for 0 < v <= u on single limbs; false
// when q would reach 2^63.
//
// Below 2v, q is 1 (four steps in ten); larger quotients are found by up to
// eight more subtractions, then a division, or with divide_first by a
// division at once. Which is quicker depends on how well the processor
// predicts the branches: the subtractions win for GCDs of short operands
// (a few hundred steps, whose branches a processor learns when the same GCD
// is repeated), the division for long ones (gcd_pass_divide_min,
// thresholds.h).
inline bool wide_divide(u64 u, u64 v, u64& q, u64& r, bool divide_first) {
    u -= v;
    u64 k = 1;
    if (!divide_first) {
        for (; k <= 8; ++k) {
            if (u < v) {
                q = k;
                r = u;
                return true;
            }
            u -= v;
        }
    } else {
        if (u < v) {
            q = 1;
            r = u;
            return true;
        }
        u -= v;
        k = 2;
    }
    // u is the original minus k*v.
    const u64 t = u / v;
    if (t >= two_63 - k) return false;
    q = k + t;
    r = u - t * v;
    return true;
}

// The cofactors and sign pattern of a pass while it runs, in registers.
struct run_state {
    u64 a, b, c, d;
    bool dplus;
    int steps;
};

// How far the leading values u, v of a run may be from the true values
// (scaled alike): exact (they are the numbers), less than one unit below
// them (truncations), or within (-1, 2) units of them (a truncation of
// values that were already off by less than one unit of this scale).
enum class error_bound { exact, unit, two_units };

// Euclid on the leading values u >= v (a W of 64 or 128 bits), from the
// cofactors in s, for as long as each step is proven (see the top). The
// cofactors stay below cap (at most 2^63).
// divide_first: see wide_divide (64-bit values only).
template <class W, error_bound E>
void euclid_run(W& u, W& v, run_state& s, bool divide_first, u64 cap = two_63) {
    u64 a = s.a, b = s.b, c = s.c, d = s.d;
    bool dplus = s.dplus;
    int steps = s.steps;
    while (v != 0) {
        u64 q;
        W w;
        if constexpr (sizeof(W) == sizeof(u64)) {
            if (!wide_divide(u, v, q, w, divide_first)) break;
        } else {
            (void)divide_first;  // 128-bit values: always the loop
            if (!wide_divide(u, v, q, w)) break;
        }
        // The next cofactors; a step whose cofactors reach the cap is not
        // taken (nor one whose products overflow, which they would exceed).
        u64 na, nb;
        if (__builtin_mul_overflow(q, c, &na) || __builtin_mul_overflow(q, d, &nb) ||
            __builtin_add_overflow(na, a, &na) || __builtin_add_overflow(nb, b, &nb))
            break;
        if (nb >= cap || na >= cap) break;
        if constexpr (E == error_bound::unit) {
            // w is the next remainder of the leading values; the true one
            // (at this scale) differs from it by less than its cofactor of
            // the sign that can make it negative, and the true v - w from v -
            // w by less than the sum of the cofactors of that sign of v and
            // w. While w and v - w stay at or above those bounds, the true
            // remainder lies in [0, V), so q was the true quotient.
            if (dplus ? (w < nb || v - w < W{c} + na) : (w < na || v - w < W{d} + nb)) break;
        } else if constexpr (E == error_bound::two_units) {
            // With errors e1, e2 in (-1, 2) the true remainder differs from
            // w by na*e1 - nb*e2 (or its negative), less than 2(na + nb) in
            // magnitude, and v's likewise: the same proof with those bounds
            // (below 2^62 with the cofactors below 2^59).
            const u64 kw = 2 * (na + nb);
            if (w < kw || v - w < kw + 2 * (c + d)) break;
        }
        a = c;
        c = na;
        b = d;
        d = nb;
        u = v;
        v = w;
        dplus = !dplus;
        ++steps;
    }
    s = run_state{a, b, c, d, dplus, steps};
}

// u, v = the matrix of s applied to u >= v, exactly: both results lie in
// [0, u), so the products may wrap.
void apply_to_leading(const run_state& s, u128& u, u128& v) {
    const u128 nu = s.dplus ? s.a * u - s.b * v : s.b * v - s.a * u;
    const u128 nv = s.dplus ? s.d * v - s.c * u : s.c * u - s.d * v;
    u = nu;
    v = nv;
}

// The steps of t after those of s, as one matrix: each step maps the
// columns (a, c) and (b, d) by the same 2x2 product, so t's matrix takes
// s's columns to the combined ones. The entries must stay below 2^63.
run_state compose(const run_state& s, const run_state& t) {
    return run_state{t.a * s.a + t.b * s.c, t.a * s.b + t.b * s.d, t.c * s.a + t.d * s.c, t.c * s.b + t.d * s.d,
                     s.dplus == t.dplus, s.steps + t.steps};
}

}  // namespace

// The Lehmer pass over the leading values of R1 >= R2 > 0 (see the top).
// Most steps run on 64-bit values. The first run takes the leading 64 bits
// of the leading 128: its steps are proven by the same condition at that
// scale (the leading 128 bits are numbers whose leading 64 bits those are,
// like R1 and R2), its cofactors stay near 2^32, and its matrix, applied to
// the 128-bit values, gives those values' remainders after the same steps
// exactly. Those are within less than the largest cofactor K of the true
// values (at that scale), so their leading 64 bits from a bit at or above
// K's length are within (-1, 2) units of the true values, and a second
// 64-bit run goes on from there with that bound, its cofactors capped so
// that the two matrices' product stays below 2^63. The 128-bit run then
// ends the pass from the values both leave, as if it had taken their steps
// itself.
lehmer_matrix lehmer_pass(const mr_digit* w1, const mr_digit* w2, int n, bool divide_first) {
    u128 u, v;
    const bool exact = n <= 4;
    run_state s{1, 0, 0, 1, true, 0};
    if (exact) {
        u = 0;
        v = 0;
        for (int i = n - 1; i >= 0; --i) {
            u = (u << 32) | w1[i];
            v = (v << 32) | w2[i];
        }
    } else {
        const int sh = std::countl_zero(w1[n - 1]);
        u = top_bits(w1, n, sh);
        v = top_bits(w2, n, sh);
        u64 uh = static_cast<u64>(u >> 64), vh = static_cast<u64>(v >> 64);
        euclid_run<u64, error_bound::unit>(uh, vh, s, divide_first);
        if (s.steps > 0) {
            apply_to_leading(s, u, v);
            const u64 k = std::max(std::max(s.a, s.b), std::max(s.c, s.d));
            const int uhigh = static_cast<u64>(u >> 64) != 0 ? 128 - std::countl_zero(static_cast<u64>(u >> 64)) : 0;
            const int t = std::max(static_cast<int>(std::bit_width(k)), uhigh - 64);
            u64 u2 = static_cast<u64>(u >> t), v2 = static_cast<u64>(v >> t);
            run_state s2{1, 0, 0, 1, true, 0};
            // 2^(62 - bit length of k) <= 2^62 / k.
            euclid_run<u64, error_bound::two_units>(u2, v2, s2, divide_first, u64{1} << std::min(59, 62 - static_cast<int>(std::bit_width(k))));
            if (s2.steps > 0) {
                apply_to_leading(s2, u, v);
                s = compose(s, s2);
            }
        }
    }
    if (exact)
        euclid_run<u128, error_bound::exact>(u, v, s, false);
    else
        euclid_run<u128, error_bound::unit>(u, v, s, false);
    lehmer_matrix m;
    m.a = s.a;
    m.b = s.b;
    m.c = s.c;
    m.d = s.d;
    m.dplus = s.dplus;
    m.steps = s.steps;
    return m;
}



namespace {

// The length of x's first n words without its leading zero words.
int stripped(const mr_digit* x, int n) {
    while (n > 0 && x[n - 1] == 0) --n;
    return n;
}

// The sign of x - y for x of lx words and y of ly words.
int compare_words(const mr_digit* x, int lx, const mr_digit* y, int ly) {
    lx = stripped(x, lx);
    ly = stripped(y, ly);
    if (lx != ly) return lx < ly ? -1 : 1;
    return cmp_vv(x, y, lx);
}

// r = x * y, its length returned (0 when either is zero).
int product_or_zero(mr_digit* r, const mr_digit* x, int lx, const mr_digit* y, int ly) {
    lx = stripped(x, lx);
    ly = stripped(y, ly);
    if (lx == 0 || ly == 0) return 0;
    product_words(r, x, lx, y, ly);
    return lx + ly;
}

// x = x + y (add) or x - y (x >= y) over words, x of lx and y of ly words,
// both with room for max(lx, ly) + 1; returns the result's length bound.
int add_or_subtract(mr_digit* x, int lx, mr_digit* y, int ly, bool add) {
    const int l = std::max(lx, ly);
    std::fill(x + lx, x + l + 1, mr_digit{0});
    std::fill(y + ly, y + l, mr_digit{0});
    if (add)
        x[l] = add_vv(x, x, y, l);
    else
        sub_vv(x, x, y, l);  // no borrow out: x >= y
    return l + 1;
}

// x = x + u*B^s - t over words (the result non-negative), x of lx words,
// u of lu and t of lt; x and t with room for max(lx, s + lu) + 2 words.
// Returns the result's length bound.
int add_top_subtract(mr_digit* x, int lx, const mr_digit* u, int lu, int s, mr_digit* t, int lt) {
    const int l = std::max(lx, s + lu) + 1;
    std::fill(x + lx, x + l, mr_digit{0});
    const mr_digit c = add_vv(x + s, x + s, u, lu);
    add_vw(x + s + lu, x + s + lu, l - s - lu, c);
    return add_or_subtract(x, l, t, lt, false);
}

// number = the value of the first l words of w (its length within the
// number's room).
void take_words(bignum* number, const mr_digit* w, int l) {
    const int old = length_of(number);
    l = stripped(w, l);
    std::copy(w, w + l, number->w);
    if (old > l) std::fill(number->w + l, number->w + old, mr_digit{0});
    number->len = static_cast<std::uint32_t>(l);
}

// The word arrays of a block: the top words of the two remainders (u >=
// v), the block's matrix, and two temporaries for its condition.
struct block_arrays {
    mr_digit *u, *v, *diff;
    mr_digit *a, *b, *c, *d, *sum;
};

}  // namespace

namespace {

// Whether V' >= C, D and U' - V' >= A + C, B + D for the block's state
// (U' = u of lu words, V' = v of lv, the entries of lp words): by lengths
// where they decide (the entries are below 2^(32 lp), their sums below
// 2^(32 lp + 1); U' - V' is at least 2^(32 (lu - 2)) when the leading two
// words of U' exceed V's at the same place by two), else in full.
bool block_condition(const block_arrays& k, int lu, int lv, int lp) {
    if (lv <= lp && (compare_words(k.v, lv, k.c, lp) < 0 || compare_words(k.v, lv, k.d, lp) < 0)) return false;
    const auto top2 = [lu](const mr_digit* x) {
        return (std::uint64_t{x[lu - 1]} << 32) | x[lu - 2];
    };
    if (lu >= lp + 3 && top2(k.u) - top2(k.v) >= 2) return true;
    std::copy(k.u, k.u + lu, k.diff);
    k.diff[lu] = 0;
    sub_vv(k.diff, k.diff, k.v, lu);
    for (int j = 0; j < 2; ++j) {
        const mr_digit* e = j == 0 ? k.a : k.b;
        std::copy(e, e + lp, k.sum);
        k.sum[lp] = add_vv(k.sum, k.sum, j == 0 ? k.c : k.d, lp);
        if (compare_words(k.diff, lu, k.sum, lp + 1) < 0) return false;
    }
    return true;
}

}  // namespace

namespace {

// The state of a block's passes: its arrays, the lengths of U, V and of
// the matrix's entries, the sign pattern and the step count; big and small
// are the room of the top part's arrays and of the entries'.
struct block_state {
    block_arrays k;
    int lu, lv, lp;
    bool dplus;
    int steps;
    int big, small;
};

// Passes on the block's U, V while V has more than stop words, their
// matrices multiplied into the block's (its columns take each pass's
// matrix as cofactors do). A pass that breaks the block's condition is
// undone and ends the run, as does a pass without a step: false then.
bool block_passes(block_state& st, int stop, bool divide_first) {
    block_arrays& k = st.k;
    int &lu = st.lu, &lv = st.lv, &lp = st.lp;
    bool& dplus = st.dplus;
    int& steps = st.steps;
    const int big = st.big, small = st.small;
    while (lv > stop) {
        const int lu0 = lu, lv0 = lv, lp0 = lp;
        const lehmer_matrix m = lehmer_pass(k.u, k.v, lu, divide_first);
        if (m.steps == 0) return false;
        const int ne = lu + (lu & 1);
        if (m.dplus) {
            mat2_submul_vv(k.u, k.v, ne, m.a, m.b, m.c, m.d);
        } else {
            mat2_submul_vv(k.v, k.u, ne, m.b, m.a, m.d, m.c);
            std::swap(k.u, k.v);
        }
        lu = stripped(k.u, lu);
        lv = stripped(k.v, lu);
        const int pe = lp + (lp & 1);
        mat2_addmul_vv(k.a, k.c, pe, m.a, m.b, m.c, m.d);
        mat2_addmul_vv(k.b, k.d, pe, m.a, m.b, m.c, m.d);
        lp = pe + 2;
        while (lp > 1 && k.a[lp - 1] == 0 && k.b[lp - 1] == 0 && k.c[lp - 1] == 0 && k.d[lp - 1] == 0) --lp;

        if (!block_condition(k, lu, lv, lp)) {
            // Undo the pass by its inverse, which has the same entries (the
            // determinant is +-1): U, V = d*U' + b*V', c*U' + a*V' for
            // either sign pattern; the matrix's columns by a*d - b*c = 1:
            // A = d*A' - b*C', C = a*C' - c*A', and by a*d - b*c = -1:
            // A = b*C' - d*A', C = c*A' - a*C' (formed in each other's
            // arrays). The words above the old lengths are cleared.
            mat2_addmul_vv(k.u, k.v, ne, m.d, m.b, m.c, m.a);
            std::fill(k.u + lu0, k.u + big, mr_digit{0});
            std::fill(k.v + lv0, k.v + big, mr_digit{0});
            if (m.dplus) {
                mat2_submul_vv(k.a, k.c, lp + (lp & 1), m.d, m.b, m.c, m.a);
                mat2_submul_vv(k.b, k.d, lp + (lp & 1), m.d, m.b, m.c, m.a);
            } else {
                mat2_submul_vv(k.c, k.a, lp + (lp & 1), m.b, m.d, m.a, m.c);
                mat2_submul_vv(k.d, k.b, lp + (lp & 1), m.b, m.d, m.a, m.c);
                std::swap(k.a, k.c);
                std::swap(k.b, k.d);
            }
            for (mr_digit* e : {k.a, k.b, k.c, k.d}) std::fill(e + lp0, e + small, mr_digit{0});
            lu = lu0;
            lv = lv0;
            lp = lp0;
            return false;
        }
        dplus = dplus == m.dplus;
        steps += m.steps;
    }
    return true;
}

// Words an inner block of a t-word top part takes (inner_block) inside a
// block whose arrays have big and small words.
int inner_room_words(int t, int big, int small) { return 3 * (t + 4) + 5 * (t / 2 + 12) + 3 * (big + small + 4); }

// A block inside the block of st: passes on the leading t words of its U,
// V (cut at the same word) down to half of them, their matrix applied by
// products to the words of U, V below them and to the block's matrix
// (whose columns take it as cofactors do). The same proof as the block's
// own: the inner passes are steps of U and V, and the block's condition
// on the new U, V and matrix makes them steps of R1 and R2. Where it
// fails, or no step was proven, U, V and the matrix are put back from the
// copies in `saved` (2 big + 4 small words) and false returned. Its
// arrays and products take inner_room_words(t, ...) words of `room`; the
// words used are left for the caller to clear.
bool inner_block(block_state& st, int t, mr_digit* room, mr_digit* saved, bool divide_first) {
    block_arrays& k = st.k;
    const int lu = st.lu, lv = st.lv, lp = st.lp;
    if (lu <= t || lv <= lu - t / 2 + 4) return false;
    const int ibig = t + 4, ismall = t / 2 + 12, tmp_words = st.big + st.small + 4;
    block_state in{};
    in.big = ibig;
    in.small = ismall;
    mr_digit* w = room;
    for (mr_digit** p : {&in.k.u, &in.k.v, &in.k.diff}) {
        *p = w;
        w += ibig;
    }
    for (mr_digit** p : {&in.k.a, &in.k.b, &in.k.c, &in.k.d, &in.k.sum}) {
        *p = w;
        w += ismall;
    }
    mr_digit* x = w;
    mr_digit* y = x + tmp_words;
    mr_digit* tmp = y + tmp_words;
    std::fill(room, x, mr_digit{0});
    std::copy(k.u + (lu - t), k.u + lu, in.k.u);
    std::copy(k.v + (lu - t), k.v + lu, in.k.v);
    in.lu = t;
    in.lv = stripped(in.k.v, t);
    in.lp = 1;
    in.dplus = true;
    in.steps = 0;
    in.k.a[0] = 1;
    in.k.d[0] = 1;
    block_passes(in, t / 2 + 4, divide_first);
    if (in.steps == 0) return false;

    // The copies to go back to.
    mr_digit* su = saved;
    mr_digit* sv = su + st.big;
    mr_digit* se = sv + st.big;
    std::copy(k.u, k.u + st.big, su);
    std::copy(k.v, k.v + st.big, sv);
    const mr_digit* entries[] = {k.a, k.b, k.c, k.d};
    for (int i = 0; i < 4; ++i) std::copy(entries[i], entries[i] + st.small, se + i * st.small);
    const auto restore = [&] {
        std::copy(su, su + st.big, k.u);
        std::copy(sv, sv + st.big, k.v);
        mr_digit* e[] = {k.a, k.b, k.c, k.d};
        for (int i = 0; i < 4; ++i) std::copy(se + i * st.small, se + (i + 1) * st.small, e[i]);
        st.lu = lu;
        st.lv = lv;
        st.lp = lp;
        return false;
    };

    // U, V = the inner matrix times them, as a block's remainders are
    // formed: the inner passes' U', V' above the s low words, the products
    // by the low words added.
    const block_arrays& m = in.k;
    const int s = lu - t, mp = in.lp;
    {
        mr_digit *px = x, *py = y, *pt = tmp;
        int lx = product_or_zero(px, k.u, s, m.a, mp), lt = product_or_zero(pt, k.v, s, m.b, mp);
        if (!in.dplus) {
            std::swap(px, pt);
            std::swap(lx, lt);
        }
        const int lnu = add_top_subtract(px, lx, m.u, in.lu, s, pt, lt);
        int ly = product_or_zero(py, k.v, s, m.d, mp);
        lt = product_or_zero(pt, k.u, s, m.c, mp);
        if (!in.dplus) {
            std::swap(py, pt);
            std::swap(ly, lt);
        }
        const int lnv = add_top_subtract(py, ly, m.v, in.lv, s, pt, lt);
        const int nu = stripped(px, lnu), nv = stripped(py, lnv);
        if (nu > lu || nv > nu) return restore();  // cannot happen: Euclid's remainders shrink
        std::copy(px, px + nu, k.u);
        std::fill(k.u + nu, k.u + lu, mr_digit{0});
        std::copy(py, py + nv, k.v);
        std::fill(k.v + nv, k.v + lu, mr_digit{0});
        st.lu = nu;
        st.lv = nv;
    }
    // The block's matrix: each column (p, q) becomes (A p + B q, C p + D q).
    int len = 1;
    for (int col = 0; col < 2; ++col) {
        mr_digit* p = col == 0 ? k.a : k.b;
        mr_digit* q = col == 0 ? k.c : k.d;
        int lx = product_or_zero(x, m.a, mp, p, lp), lt = product_or_zero(tmp, m.b, mp, q, lp);
        const int l1 = stripped(x, add_or_subtract(x, lx, tmp, lt, true));
        int ly = product_or_zero(y, m.c, mp, p, lp);
        lt = product_or_zero(tmp, m.d, mp, q, lp);
        const int l2 = stripped(y, add_or_subtract(y, ly, tmp, lt, true));
        if (std::max(l1, l2) > st.small - 4) return restore();
        std::copy(x, x + l1, p);
        std::fill(p + l1, p + st.small, mr_digit{0});
        std::copy(y, y + l2, q);
        std::fill(q + l2, q + st.small, mr_digit{0});
        len = std::max({len, l1, l2});
    }
    st.lp = len;
    if (!block_condition(k, st.lu, st.lv, st.lp)) return restore();
    st.dplus = st.dplus == in.dplus;
    st.steps += in.steps;
    return true;
}

}  // namespace

// A block of Lehmer passes on the leading top = gcd_block_top words (from
// gcd_block_wide_min words of remainder, gcd_block_top_wide) of R1 >= R2
// alone (U and V, both cut at the same word), applied to the full
// numbers at once by fast products: R1, R2 = the block's matrix times R1,
// R2, and C1, C2 likewise when c1 is not null. The passes run on U and V as
// on whole numbers, their matrices multiplied into the block's (its columns
// take each pass's matrix as cofactors do, mat2_addmul_vv), until V is down
// to half the top part's length, where the matrix entries are half of it.
// A top part longer than gcd_block_top words first runs blocks of its own
// on U and V (inner_block), as long as they end above that half, and
// passes for the rest.
//
// Why the steps are steps of R1 and R2. Scaled to U's last word, R1 = U + e1
// and R2 = V + e2 with 0 <= e1, e2 < 1. After N steps the remainders of U,
// V are r_N-1 = U', r_N = V', with cofactor magnitudes (A, B) and (C, D):
// the true ones differ from them by less than max(A, B) and max(C, D), and
// the true difference r_N-1 - r_N from U' - V' by less than max(A + C,
// B + D). So the last step is right when V' >= max(C, D) and U' - V' >=
// max(A + C, B + D). Every earlier step k is then right too: its remainder
// is at least V' and its cofactors at most C, D, and r_k-1 - r_k >= r_k+1
// >= V' exceeds the sum of its cofactors, which is at most a cofactor of
// step k+1. The condition is checked after each pass and inner block, and
// one that fails it is undone and ends the block (an inner block's failure
// leaves the rest to passes). Returns the number of steps taken
// (0: none, nothing changed).
int lehmer_block(bignum*& r1, bignum*& r2, bignum* c1, bignum* c2, bool divide_first) {
    const int n = length_of(r1);
    const int top = n >= gcd_block_wide_min ? gcd_block_top_wide : gcd_block_top;
    // R2 must fill the top part well, or a division step comes first.
    if (n <= top || length_of(r2) <= n - top / 2 + 4) return 0;
    // The top part's arrays fill one workspace number (max_length words),
    // the matrix's another; the products, up to n + top words, go to
    // double-length ones.
    const int big = top + 4, small = top / 2 + 12;
    if (std::max(3 * big, 5 * small) > engine_instance->max_length) return 0;
    const workspace_claim top_area(ws::scratch8), matrix_area(ws::scratch9);
    const workspace_claim tx(ws::scratch6), ty(ws::scratch7), tt(ws::accumulator);
    // Routines expect workspace numbers to be zero above their lengths:
    // every word written here is cleared on the way out.
    struct clear_on_exit {
        mr_digit* w;
        int words;
        ~clear_on_exit() { std::fill(w, w + words, mr_digit{0}); }
    };
    const int product_room = std::max({n, length_of(r2), c1 ? length_of(c1) : 0, c2 ? length_of(c2) : 0}) + small + 2;
    const clear_on_exit clear_top{top_area.get()->w, 3 * big}, clear_matrix{matrix_area.get()->w, 5 * small};
    const clear_on_exit clear_x{tx.get()->w, product_room}, clear_y{ty.get()->w, product_room},
        clear_t{tt.get()->w, product_room};
    block_arrays k{};
    mr_digit* base = top_area.get()->w;
    std::fill(base, base + 3 * big, mr_digit{0});
    mr_digit** bigs[] = {&k.u, &k.v, &k.diff};
    for (mr_digit** p : bigs) {
        *p = base;
        base += big;
    }
    base = matrix_area.get()->w;
    std::fill(base, base + 5 * small, mr_digit{0});
    mr_digit** smalls[] = {&k.a, &k.b, &k.c, &k.d, &k.sum};
    for (mr_digit** p : smalls) {
        *p = base;
        base += small;
    }
    std::copy(r1->w + (n - top), r1->w + n, k.u);
    std::copy(r2->w + (n - top), r2->w + n, k.v);
    block_state b{k, top, stripped(k.v, top), 1, true, 0, big, small};
    k.a[0] = 1;
    k.d[0] = 1;
    if (top > gcd_block_top) {
        // Blocks inside the block while V is long enough above where the
        // block ends, on arrays in tx's words (free until the products
        // below), their undo copies in ty's.
        mr_digit* room = tx.get()->w;
        mr_digit* saved = ty.get()->w;
        const int inner = gcd_block_top;
        const int room_words = inner_room_words(inner, big, small);
        if (room_words <= 2 * engine_instance->max_length && 2 * big + 4 * small <= 2 * engine_instance->max_length) {
            for (;;) {
                const int t = std::min(inner, 2 * (b.lv - (top / 2 + 4) - 8)) & ~1;
                if (t < 64 || !inner_block(b, t, room, saved, divide_first)) break;
            }
            std::fill(room, room + room_words, mr_digit{0});
            std::fill(saved, saved + 2 * big + 4 * small, mr_digit{0});
        }
    }
    block_passes(b, top / 2 + 4, divide_first);
    k = b.k;
    const int lu = b.lu, lv = b.lv, lp = b.lp;
    const bool dplus = b.dplus;
    const int steps = b.steps;
    if (steps == 0) return 0;

    // The full remainders: with dplus R1, R2 = A*R1 - B*R2, D*R2 - C*R1;
    // without, B*R2 - A*R1, C*R1 - D*R2. With R1 = U*B^s + L1 and R2 =
    // V*B^s + L2 (s = n - top words below the top part), the passes have
    // already made the matrix times U and V, exactly: they are U' and V'.
    // So R1' = U'*B^s + (A*L1 - B*L2) (or B*L2 - A*L1), and R2' likewise:
    // the products take the low s words alone. Every product is apart from
    // its factors, so both are formed before either is stored.
    mr_digit *x = tx.get()->w, *y = ty.get()->w, *t = tt.get()->w;
    {
        const int s = n - top;
        int lx = product_or_zero(x, r1->w, s, k.a, lp), lt = product_or_zero(t, r2->w, s, k.b, lp);
        if (!dplus) {
            std::swap(x, t);
            std::swap(lx, lt);
        }
        const int lr1 = add_top_subtract(x, lx, k.u, lu, s, t, lt);
        int ly = product_or_zero(y, r2->w, s, k.d, lp);
        lt = product_or_zero(t, r1->w, s, k.c, lp);
        if (!dplus) {
            std::swap(y, t);
            std::swap(ly, lt);
        }
        const int lr2 = add_top_subtract(y, ly, k.v, lv, s, t, lt);
        take_words(r1, x, lr1);
        take_words(r2, y, lr2);
    }
    if (c1 != nullptr) {
        // C1, C2 = A*C1 + B*C2, C*C1 + D*C2.
        x = tx.get()->w;
        y = ty.get()->w;
        t = tt.get()->w;
        const int m1 = length_of(c1), m2 = length_of(c2);
        int lx = product_or_zero(x, c1->w, m1, k.a, lp), lt = product_or_zero(t, c2->w, m2, k.b, lp);
        const int lc1 = add_or_subtract(x, lx, t, lt, true);
        int ly = product_or_zero(y, c1->w, m1, k.c, lp);
        lt = product_or_zero(t, c2->w, m2, k.d, lp);
        const int lc2 = add_or_subtract(y, ly, t, lt, true);
        if (stripped(x, lc1) > engine_instance->max_length || stripped(y, lc2) > engine_instance->max_length) {
            report_error(mr_error_overflow);
            return steps;
        }
        take_words(c1, x, lc1);
        take_words(c2, y, lc2);
    }
    return steps;
}

namespace {

// The cofactor updates of xgcd's last stage, gathered. Once the remainders
// are short and the cofactors long, a pass's matrix costs far more on the
// cofactors than on the remainders. So from there the passes' matrices are
// only recorded while C1 and C2 stay as they were, and applied to them
// together by fast products: the cofactors the passes would have made are
// C1 = A*C1 + B*C2 and C2 = C*C1 + D*C2 (all magnitudes) for the product T
// of the passes' matrices, the first pass's on the right.
//
// At the end only C1 is wanted, that is only the first row (A, B) of T,
// which is formed from the last pass back: (A, B) = (1, 0) times the last
// matrix, times the one before, and so on; a pass's matrix takes the row
// in one kernel loop over two numbers (forming T itself takes two, one per
// column). Before a division step (whose quotient goes to the cofactors as
// it always does), when the record is full, and when T would be as long as
// the cofactors (which keeps it cheaper to form than the cofactors' own
// updates), T is formed from the first pass on and applied to both.
//
// The record holds four limbs a pass in two workspace numbers, each with
// room for max_length words; T (or the row) lives in four more, zero above
// len words whenever none is in use.
struct gathered_passes {
    mr_digit* record[2];
    int half;       // passes each of the record's numbers has room for
    int capacity;   // passes the record has room for: 2 half
    int count = 0;  // passes recorded
    int start = 0;  // R1's length when the first of them was taken; 0: not gathering
    mr_digit *a, *b, *c, *d;
    int len = 0;  // a bound on the lengths of T's entries in words
};

// Where recorded pass i's entries are.
mr_digit* recorded_words(const gathered_passes& g, int i) {
    return i < g.half ? g.record[0] + 8 * i : g.record[1] + 8 * (i - g.half);
}

// Records a pass's matrix.
void record_pass(gathered_passes& g, const lehmer_matrix& m) {
    mr_digit* p = recorded_words(g, g.count);
    store_limb(p, m.a);
    store_limb(p + 2, m.b);
    store_limb(p + 4, m.c);
    store_limb(p + 6, m.d);
    ++g.count;
}

// Recorded pass i's entries.
lehmer_matrix recorded_pass(const gathered_passes& g, int i) {
    const mr_digit* p = recorded_words(g, i);
    lehmer_matrix m;
    m.a = load_limb(p);
    m.b = load_limb(p + 2);
    m.c = load_limb(p + 4);
    m.d = load_limb(p + 6);
    return m;
}

// len = the length of the first n words of the entries given, stripped.
int entries_length(const std::initializer_list<const mr_digit*> entries, int n) {
    for (; n > 1; --n)
        for (const mr_digit* e : entries)
            if (e[n - 1] != 0) return n;
    return n;
}

// C1 = A*C1 + B*C2 and, when both is set, C2 = C*C1 + D*C2, by fast
// products; the entries' words are cleared after. A result longer than
// max_length words, which the cofactors' bound rules out, is reported as an
// overflow.
void apply_gathered(gathered_passes& t, bignum* c1, bignum* c2, bool both) {
    const workspace_claim tx(ws::scratch6), ty(ws::scratch7), tt(ws::accumulator);
    mr_digit *x = tx.get()->w, *y = ty.get()->w, *tmp = tt.get()->w;
    const int m1 = length_of(c1), m2 = length_of(c2);
    const int room = std::max(m1, m2) + t.len + 2;
    int lx = product_or_zero(x, t.a, t.len, c1->w, m1), lt = product_or_zero(tmp, t.b, t.len, c2->w, m2);
    const int lc1 = add_or_subtract(x, lx, tmp, lt, true);
    int lc2 = 0;
    if (both) {
        int ly = product_or_zero(y, t.c, t.len, c1->w, m1);
        lt = product_or_zero(tmp, t.d, t.len, c2->w, m2);
        lc2 = add_or_subtract(y, ly, tmp, lt, true);
    }
    if (stripped(x, lc1) > engine_instance->max_length || (both && stripped(y, lc2) > engine_instance->max_length)) {
        report_error(mr_error_overflow);
    } else {
        take_words(c1, x, lc1);
        if (both) take_words(c2, y, lc2);
    }
    for (mr_digit* w : {x, y, tmp}) std::fill(w, w + room, mr_digit{0});
    for (mr_digit* e : {t.a, t.b, t.c, t.d}) std::fill(e, e + t.len + 2, mr_digit{0});
    t.len = 0;
}

// Clears the record's words; none recorded.
void clear_record(gathered_passes& g) {
    std::fill(g.record[0], g.record[0] + 8 * std::min(g.count, g.half), mr_digit{0});
    std::fill(g.record[1], g.record[1] + 8 * std::max(g.count - g.half, 0), mr_digit{0});
    g.count = 0;
}

// C1, C2 = T times C1, C2 for the recorded passes, which are then cleared
// (the gathering goes on from R1's length r1_length).
void apply_recorded(gathered_passes& g, bignum* c1, bignum* c2, int r1_length) {
    if (g.count > 0) {
        // T's columns take each pass's matrix as cofactors do.
        g.a[0] = 1;
        g.d[0] = 1;
        g.len = 1;
        for (int i = 0; i < g.count; ++i) {
            const lehmer_matrix m = recorded_pass(g, i);
            const int pe = g.len + (g.len & 1);
            mat2_addmul_vv(g.a, g.c, pe, m.a, m.b, m.c, m.d);
            mat2_addmul_vv(g.b, g.d, pe, m.a, m.b, m.c, m.d);
            g.len = entries_length({g.a, g.b, g.c, g.d}, pe + 2);
        }
        apply_gathered(g, c1, c2, true);
        clear_record(g);
    }
    g.start = r1_length;
}

// C1 = A*C1 + B*C2 for the recorded passes (C2 is left as it was), which
// are then cleared, and the gathering ends.
void apply_recorded_to_first(gathered_passes& g, bignum* c1, bignum* c2) {
    if (g.count > 0) {
        // The row (A, B) in a and b: (p, q) times a matrix is
        // (a*p + c*q, b*p + d*q).
        g.a[0] = 1;
        g.len = 1;
        for (int i = g.count - 1; i >= 0; --i) {
            const lehmer_matrix m = recorded_pass(g, i);
            const int pe = g.len + (g.len & 1);
            mat2_addmul_vv(g.a, g.b, pe, m.a, m.c, m.b, m.d);
            g.len = entries_length({g.a, g.b}, pe + 2);
        }
        apply_gathered(g, c1, c2, false);
        clear_record(g);
    }
    g.start = 0;
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
    const bool divide_first = std::max(length_of(r1), length_of(r2)) >= gcd_pass_divide_min;

    lehmer_matrix m;  // the pending matrix; none at first
    bool block_applied = false;
    // Each pass, one division, one matrix or one block, is a step at which a
    // cancel request is taken.
    while (!is_zero(r2) && !cancel_point()) {
        if (block_applied) {
            block_applied = false;
        } else if (m.steps == 0) {
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
        if (length_of(r1) >= egcd_block_min && lehmer_block(r1, r2, nullptr, nullptr, divide_first) > 0) {
            block_applied = true;
            continue;
        }
        m = lehmer_pass(r1->w, r2->w, length_of(r1), divide_first);
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
    const workspace_claim ta(ws::scratch10), tb(ws::scratch11), tc(ws::scratch12), td(ws::scratch13);
    const workspace_claim passes1(ws::scratch14), passes2(ws::scratch15);
    const int half = engine_instance->max_length / 8;
    gathered_passes g{{passes1.get()->w, passes2.get()->w}, half, 2 * half, 0, 0,
                      ta.get()->w, tb.get()->w, tc.get()->w, td.get()->w};
    bignum* r1 = claim_r1;
    bignum* r2 = claim_r2;
    bignum* c1 = claim_c1;
    bignum* c2 = claim_c2;
    abs_number(x, r1);
    abs_number(y, r2);
    const bool divide_first = std::max(length_of(r1), length_of(r2)) >= gcd_pass_divide_min;
    const bool x_negative = is_negative(x);
    set_word(c1, 1);
    zero_number(c2);

    // Invariant: C1*|x| = +-R1 and C2*|x| = -+R2 modulo |y|, the signs
    // alternating with each Euclid step; iter counts the steps mod 2.
    int iter = 0;
    lehmer_matrix m;  // the pending matrix; none at first
    bool block_applied = false;

    while (!is_zero(r2) && !cancel_point()) {  // a cancel is taken between passes
        if (block_applied) {
            block_applied = false;
        } else if (m.steps == 0) {
            if (g.start > 0) apply_recorded(g, c1, c2, length_of(r1));
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
            if (g.start > 0) {
                if (g.count == g.capacity) apply_recorded(g, c1, c2, g.start);
                record_pass(g, m);
                if (g.start - length_of(r1) >= std::max(length_of(c1), length_of(c2)))
                    apply_recorded(g, c1, c2, length_of(r1));
            } else {
                apply_cofactors(c1, c2, m);
            }
            iter = (iter + m.steps) % 2;
        }
        if (error_pending() || is_zero(r2)) break;
        if (g.start == 0 && g.capacity > 0 && length_of(r1) < xgcd_block_min &&
            std::max(length_of(c1), length_of(c2)) >= xgcd_gather_min) {
            // The numbers T and the record use start from zero (all their
            // words: they are zero above their lengths).
            for (const workspace_claim* e : {&ta, &tb, &tc, &td, &passes1, &passes2}) zero_number(e->get());
            g.start = length_of(r1);
        }
        if (length_of(r1) >= xgcd_block_min) {
            const int steps = lehmer_block(r1, r2, c1, c2, divide_first);
            if (steps > 0) {
                iter = (iter + steps) % 2;
                block_applied = true;
                continue;
            }
        }
        m = lehmer_pass(r1->w, r2->w, length_of(r1), divide_first);
    }

    apply_recorded_to_first(g, c1, c2);

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
