// Products and squares of word vectors. Small operands take the schoolbook
// kernels (rows on 64-bit limbs); above the thresholds of thresholds.h Karatsuba splits
// in two, Toom-3 in three, Toom-4 in four and Toom-8 in eight (below); a factor two to two and a
// half times as long as the other splits in four against two (Toom-4/2),
// and a long operand times a much shorter one is cut into pieces of the
// short one's length.
//
// Karatsuba, a = a1*B^h + a0 and b = b1*B^h + b0 with B = 2^32:
//     a*b = z0 + (z0 + z2 - (a0-a1)(b0-b1)) * B^h + z2 * B^2h,
// z0 = a0*b0, z2 = a1*b1. The middle factor is formed from |a0-a1| and
// |b0-b1| with the sign kept aside, so every vector stays non-negative.
//
// Toom-3, a = a2*B^2k + a1*B^k + a0 (b alike), read as polynomials in
// t = B^k whose product c(t) = c0 + c1 t + c2 t^2 + c3 t^3 + c4 t^4 is
// evaluated at 0, 1, -1, 2 and infinity:
//     v0 = c0, v1 = c0+c1+c2+c3+c4, vm1 = c0-c1+c2-c3+c4,
//     v2 = c0+2c1+4c2+8c3+16c4, vinf = c4.
// The interpolation (Bodrato's sequence) recovers c1, c2, c3:
//     v2  <- (v2 - vm1) / 3     = c1 + c2 + 3c3 + 5c4
//     vm1 <- (v1 - vm1) / 2     = c1 + c3
//     v1  <- v1 - v0            = c1 + c2 + c3 + c4
//     v2  <- (v2 - v1) / 2      = c3 + 2c4
//     v1  <- v1 - vm1 - vinf    = c2
//     v2  <- v2 - 2 vinf        = c3
//     vm1 <- vm1 - v2           = c1
// The coefficients of a product of polynomials with non-negative pieces are
// non-negative, so only vm1 (the product of a(-1) and b(-1)) carries a sign,
// and after the second step every value is a non-negative vector again.
// The evaluations are below 7 B^k, so each product is below 49 B^2k and
// every value of the sequence fits the 2k + 2 words kept for it.
//
// Toom-4/2 splits a in four pieces and b in two: c(t) = a(t) b(t) again has
// degree 4, and the same five points and the same interpolation serve. Here
// a(2) < 15 B^k and b(2) < 3 B^k, so the values still fit 2k + 2 words.
//
// Toom-4, both factors in four pieces, c(t) of degree 6, evaluated at 0,
// 1, -1, 2, -2, 1/2 and infinity (v_half = 64 c(1/2) = a~(1/2) b~(1/2) with
// a~(1/2) = 8a0 + 4a1 + 2a2 + a3, so that every value is an integer):
//     E1 = (v1 + vm1) / 2 = c0 + c2 + c4 + c6
//     O1 = (v1 - vm1) / 2 = c1 + c3 + c5
//     E2 = (v2 + vm2) / 2 = c0 + 4c2 + 16c4 + 64c6
//     O2 = (v2 - vm2) / 4 = c1 + 4c3 + 16c5
// The even coefficients follow from c0 and c6:
//     E1 <- E1 - c0 - c6               = c2 + c4
//     E2 <- (E2 - c0 - 64c6) / 4       = c2 + 4c4
//     c4 = (E2 - E1) / 3,  c2 = E1 - c4
// and the odd ones with v_half:
//     H = (v_half - 64c0 - 16c2 - 4c4 - c6) / 2 = 16c1 + 4c3 + c5
//     3X = O2 - O1 = 3c3 + 15c5,  3Y = H - O1 = 15c1 + 3c3
//     c3 = (15 O1 - 3X - 3Y) / 9,  c5 = (3X - 3c3) / 15,  c1 = (3Y - 3c3) / 15
// (three exact divisions).
// Each step subtracts what is known from a sum of non-negative terms, so
// every intermediate is non-negative; only vm1 and vm2 carry a sign, taken
// into account in the first four lines. The evaluations are below 16 B^k,
// the products below 256 B^2k, each coefficient (a sum of at most four
// products of pieces) below 4 B^2k, and 2 v2 and 15 O1 below 2^32 B^2k: all
// fit the 2k + 2 words kept for each value.
#include "products.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <utility>

#include <x86intrin.h>

#include "internal.h"
#include "kernels.h"
#include "pool.h"
#include "thresholds.h"
#include "workspace.h"

// The top Toom-3 and Toom-4 levels with their point products on the worker
// pool (end of this file); false when they do not run there. A square
// passes b = nullptr.
bool parallel_toom3(mr_digit* r, const mr_digit* a, int m, const mr_digit* b, int n, mr_digit* scratch);
bool parallel_toom4(mr_digit* r, const mr_digit* a, int m, const mr_digit* b, int n, mr_digit* scratch);
bool parallel_toom8(mr_digit* r, const mr_digit* a, int m, const mr_digit* b, int n, mr_digit* scratch);

namespace {

inline void zero_words(mr_digit* z, int n) {
    if (n > 0) std::memset(z, 0, sizeof(mr_digit) * static_cast<std::size_t>(n));
}

inline void copy_words(mr_digit* z, const mr_digit* x, int n) {
    if (n > 0) std::memcpy(z, x, sizeof(mr_digit) * static_cast<std::size_t>(n));
}

// z[0 .. xn-1] = x + y for xn >= yn; returns the carry out.
mr_digit add_nn(mr_digit* z, const mr_digit* x, int xn, const mr_digit* y, int yn) {
    const mr_digit c = add_vv(z, x, y, yn);
    return add_vw(z + yn, x + yn, xn - yn, c);
}

// z[0 .. xn-1] = x - y for xn >= yn and x >= y.
void sub_nn(mr_digit* z, const mr_digit* x, int xn, const mr_digit* y, int yn) {
    const mr_digit b = sub_vv(z, x, y, yn);
    sub_vw(z + yn, x + yn, xn - yn, b);
}

// Adds x (xn words) into r (rn words) at word `at`, carrying up to the top.
// Words of x at or beyond r's top are left out: the callers know they are 0.
void add_at(mr_digit* r, int rn, int at, const mr_digit* x, int xn) {
    xn = std::min(xn, rn - at);
    if (xn <= 0) return;
    const mr_digit c = add_vv(r + at, r + at, x, xn);
    add_vw(r + at + xn, r + at + xn, rn - at - xn, c);
}

// z[0 .. xn-1] = |x - y| for xn >= yn; returns true when x < y.
bool abs_diff(mr_digit* z, const mr_digit* x, int xn, const mr_digit* y, int yn) {
    bool x_larger = false;
    for (int i = xn; i-- > yn;)
        if (x[i] != 0) {
            x_larger = true;
            break;
        }
    if (x_larger || cmp_vv(x, y, yn) >= 0) {
        sub_nn(z, x, xn, y, yn);
        return false;
    }
    // x's words from yn up are all 0 here.
    sub_vv(z, y, x, yn);
    zero_words(z + yn, xn - yn);
    return true;
}

// Adds the signed carry v (-1 to 3) into r[0 .. n-1], dropping what runs
// past the top.
void add_signed(mr_digit* r, int n, int v) {
    if (v > 0)
        add_vw(r, r, n, static_cast<mr_digit>(v));
    else if (v < 0)
        sub_vw(r, r, n, static_cast<mr_digit>(-v));
}

// Karatsuba's sum: with z0 = a0 b0 in r[0 .. 2h-1] and z2 = a1 b1 above it
// (rn - 2h >= h words), adds (z0 + z2 - t) B^h (or + t where `subtract` is
// false) into r. With z0 = L0 + H0 B^h, z2 = L2 + H2 B^h and t = T0 + T1 B^h
// the sum is
//     L0 + (S + L0 -+ T0) B^h + (S + H2 -+ T1) B^2h + H2 B^3h,  S = H0 + L2,
// so S is formed once (in L2's place) and each half of the middle takes
// one pass of two carry chains (add3_vvv, addsub_vvv): three passes of h
// words, the carries then added at B^2h and B^3h. H2 may be shorter than
// h words; above it the upper half is S -+ T1 alone. Carries past the top
// are dropped: the result fits rn words, and every step is exact modulo
// B^rn.
void karatsuba_middle(mr_digit* r, int rn, int h, const mr_digit* t, bool subtract) {
    const int hn = rn - 3 * h;  // H2's words, at most h
    const int s_carry = add_vv(r + 2 * h, r + h, r + 2 * h, h);  // S, at weight B^2h (with carry at B^3h)
    const auto pass = subtract ? addsub_vvv : add3_vvv;
    const int c_lo = pass(r + h, r + 2 * h, r, t, h);  // S + L0 -+ T0
    int c_hi = pass(r + 2 * h, r + 2 * h, r + 3 * h, t + h, hn);  // S + H2 -+ T1, H2's words
    if (hn < h) {
        mr_digit* u = r + 2 * h + hn;
        const int c = subtract ? -static_cast<int>(sub_vv(u, u, t + h + hn, h - hn))
                               : static_cast<int>(add_vv(u, u, t + h + hn, h - hn));
        add_signed(u, rn - 2 * h - hn, c_hi);
        c_hi = c;
    }
    add_signed(r + 2 * h, rn - 2 * h, s_carry + c_lo);
    add_signed(r + 3 * h, rn - 3 * h, s_carry + c_hi);
}

// Where Karatsuba splits factors of m >= n words: at h = (m + 1) / 2, made
// even where both high pieces keep a word, so that the low pieces and their
// product fill whole limbs (a product of odd length runs its odd word
// apart in every row, 8-15% dearer than the even length above it).
int karatsuba_split(int m, int n) {
    const int h = (m + 1) / 2;
    return (h & 1) != 0 && n > h + 1 ? h + 1 : h;
}

// The evaluations of Toom-3 for one operand of m words split at k (m - 2k
// words in the top piece, 1 <= m - 2k <= k); each value has k + 1 words.
// a(1) = a0 + a1 + a2.
void eval_one(mr_digit* e, const mr_digit* a, int m, int k) {
    mr_digit c = add_vv(e, a, a + k, k);
    e[k] = c + add_nn(e, e, k, a + 2 * k, m - 2 * k);
}
// |a(-1)| = |a0 - a1 + a2|; returns true when a(-1) < 0.
bool eval_minus_one(mr_digit* e, const mr_digit* a, int m, int k) {
    e[k] = add_nn(e, a, k, a + 2 * k, m - 2 * k);
    return abs_diff(e, e, k + 1, a + k, k);
}
// a(2) = a0 + 2 (a1 + 2 a2).
void eval_two(mr_digit* e, const mr_digit* a, int m, int k) {
    const int top = m - 2 * k;
    e[top] = shl_vu(e, a + 2 * k, top, 1);
    zero_words(e + top + 1, k - top);
    // e < 2^(32 top + 1) <= B^k + ... : the sum below fits k + 1 words.
    e[k] += add_nn(e, a + k, k, e, std::min(top + 1, k));
    shl_vu(e, e, k + 1, 1);
    add_nn(e, e, k + 1, a, k);
}

// The same evaluations in fewer passes, for the serial Toom-3: a(1) into
// e1 and a(2) into e2 in one pass over the three pieces, then |a(-1)| in
// another (eval3_minus_one). The pieces are read a limb (two words) at a
// time from any word offset; where the top piece (t = m - 2k words) ends
// or k is odd, one word at a time. The carries stay small (a(1) < 3 B^k,
// a(2) < 7 B^k), so each fits the word above.
void eval3_one_two(mr_digit* e1, mr_digit* e2, const mr_digit* a, int m, int k) {
    using u64 = std::uint64_t;
    __extension__ typedef unsigned __int128 u128;
    const mr_digit* a1 = a + k;
    const mr_digit* a2 = a + 2 * k;
    const int t = m - 2 * k;
    u64 c1 = 0, c2 = 0;
    int i = 0;
    for (; i + 1 < t; i += 2) {
        const u64 x0 = load_limb(a + i), x1 = load_limb(a1 + i), x2 = load_limb(a2 + i);
        const u128 s1 = static_cast<u128>(x0) + x1 + x2 + c1;
        const u128 s2 = static_cast<u128>(x0) + (static_cast<u128>(x1) << 1) + (static_cast<u128>(x2) << 2) + c2;
        store_limb(e1 + i, static_cast<u64>(s1));
        store_limb(e2 + i, static_cast<u64>(s2));
        c1 = static_cast<u64>(s1 >> 64);
        c2 = static_cast<u64>(s2 >> 64);
    }
    if (i < t) {
        const u64 s1 = u64{a[i]} + a1[i] + a2[i] + c1;
        const u64 s2 = u64{a[i]} + 2 * u64{a1[i]} + 4 * u64{a2[i]} + c2;
        e1[i] = static_cast<mr_digit>(s1);
        e2[i] = static_cast<mr_digit>(s2);
        c1 = s1 >> 32;
        c2 = s2 >> 32;
        ++i;
    }
    for (; i + 1 < k; i += 2) {
        const u64 x0 = load_limb(a + i), x1 = load_limb(a1 + i);
        const u128 s1 = static_cast<u128>(x0) + x1 + c1;
        const u128 s2 = static_cast<u128>(x0) + (static_cast<u128>(x1) << 1) + c2;
        store_limb(e1 + i, static_cast<u64>(s1));
        store_limb(e2 + i, static_cast<u64>(s2));
        c1 = static_cast<u64>(s1 >> 64);
        c2 = static_cast<u64>(s2 >> 64);
    }
    if (i < k) {
        const u64 s1 = u64{a[i]} + a1[i] + c1;
        const u64 s2 = u64{a[i]} + 2 * u64{a1[i]} + c2;
        e1[i] = static_cast<mr_digit>(s1);
        e2[i] = static_cast<mr_digit>(s2);
        c1 = s1 >> 32;
        c2 = s2 >> 32;
    }
    e1[k] = static_cast<mr_digit>(c1);
    e2[k] = static_cast<mr_digit>(c2);
}
// |a(-1)| = |a0 - a1 + a2| into e (k + 1 words) in one pass with a signed
// carry, negated in a second where it came out negative; returns true then.
bool eval3_minus_one(mr_digit* e, const mr_digit* a, int m, int k) {
    using u64 = std::uint64_t;
    __extension__ typedef __int128 i128;
    const mr_digit* a1 = a + k;
    const mr_digit* a2 = a + 2 * k;
    const int t = m - 2 * k;
    std::int64_t c = 0;  // -1, 0 or 1
    int i = 0;
    for (; i + 1 < t; i += 2) {
        const i128 s = static_cast<i128>(load_limb(a + i)) - load_limb(a1 + i) + load_limb(a2 + i) + c;
        store_limb(e + i, static_cast<u64>(s));
        c = static_cast<std::int64_t>(s >> 64);
    }
    if (i < t) {
        const std::int64_t s = std::int64_t{a[i]} - std::int64_t{a1[i]} + std::int64_t{a2[i]} + c;
        e[i] = static_cast<mr_digit>(s);
        c = s >> 32;
        ++i;
    }
    for (; i + 1 < k; i += 2) {
        const i128 s = static_cast<i128>(load_limb(a + i)) - load_limb(a1 + i) + c;
        store_limb(e + i, static_cast<u64>(s));
        c = static_cast<std::int64_t>(s >> 64);
    }
    if (i < k) {
        const std::int64_t s = std::int64_t{a[i]} - std::int64_t{a1[i]} + c;
        e[i] = static_cast<mr_digit>(s);
        c = s >> 32;
    }
    e[k] = static_cast<mr_digit>(c);
    if (c >= 0) return false;
    // Two's complement over k + 1 words: 0 - e.
    u64 borrow = 0;
    int j = 0;
    for (; j + 1 < k + 1; j += 2) {
        const u64 x = load_limb(e + j);
        store_limb(e + j, 0 - x - borrow);
        borrow = (x | borrow) != 0 ? 1 : 0;
    }
    if (j < k + 1) e[j] = static_cast<mr_digit>(0 - u64{e[j]} - borrow);
    return true;
}

// The evaluations of Toom-4 for one operand of m words split at k (m - 3k
// words in the top piece, 1 <= m - 3k <= k). Each value has k + 1 words;
// t is k + 1 words of room. The pairs at +x and -x share their halves:
// a(x) = P + Q and a(-x) = P - Q with P the even pieces' part, Q the odd.
// |a(-x)| goes to em; returns true when a(-x) < 0.
bool finish_pair(mr_digit* ep, mr_digit* em, mr_digit* t, int k) {
    add_vv(ep, t, em, k + 1);  // below 16 B^k: no carry out
    if (cmp_vv(t, em, k + 1) >= 0) {
        sub_vv(em, t, em, k + 1);
        return false;
    }
    sub_vv(em, em, t, k + 1);
    return true;
}
// a(1) and |a(-1)|: P = a0 + a2, Q = a1 + a3.
bool eval4_one(mr_digit* ep, mr_digit* em, mr_digit* t, const mr_digit* a, int m, int k) {
    t[k] = add_vv(t, a, a + 2 * k, k);
    em[k] = add_nn(em, a + k, k, a + 3 * k, m - 3 * k);
    return finish_pair(ep, em, t, k);
}
// a(2) and |a(-2)|: P = a0 + 4 a2, Q = 2 (a1 + 4 a3).
bool eval4_two(mr_digit* ep, mr_digit* em, mr_digit* t, const mr_digit* a, int m, int k) {
    const int top = m - 3 * k;
    t[k] = shl_vu(t, a + 2 * k, k, 2);
    t[k] += add_vv(t, t, a, k);
    em[top] = shl_vu(em, a + 3 * k, top, 2);
    zero_words(em + top + 1, k - top);
    em[k] += add_nn(em, a + k, k, em, std::min(top + 1, k));
    shl_vu(em, em, k + 1, 1);
    return finish_pair(ep, em, t, k);
}
// 8 a(1/2) = ((2 a0 + a1) 2 + a2) 2 + a3.
void eval4_half(mr_digit* e, const mr_digit* a, int m, int k) {
    e[k] = shl_vu(e, a, k, 1);
    add_nn(e, e, k + 1, a + k, k);
    shl_vu(e, e, k + 1, 1);
    add_nn(e, e, k + 1, a + 2 * k, k);
    shl_vu(e, e, k + 1, 1);
    add_nn(e, e, k + 1, a + 3 * k, m - 3 * k);
}
// The same for a factor of n words in two pieces split at k (1 <= n - k <=
// k): b(1), |b(-1)| (returns true when b(-1) < 0) and b(2).
void eval2_one(mr_digit* e, const mr_digit* b, int n, int k) {
    e[k] = add_nn(e, b, k, b + k, n - k);
}
bool eval2_minus_one(mr_digit* e, const mr_digit* b, int n, int k) {
    e[k] = 0;
    return abs_diff(e, b, k, b + k, n - k);
}
void eval2_two(mr_digit* e, const mr_digit* b, int n, int k) {
    const int top = n - k;
    e[top] = shl_vu(e, b + k, top, 1);
    zero_words(e + top + 1, k - top);
    e[k] += add_nn(e, b, k, e, std::min(top + 1, k));
}

// r[0 .. 2k+1] = x * y for x and y of k + 1 words, the values at a Toom
// point: their k low words by the dispatch and the top words (small, the
// evaluations being a few times B^k) by two rows. A length of k + 1 would
// carry its odd or unround size down the recursion (129 words take a fifth
// longer than 128, whose halves end on whole kernels).
//     x y = x0 y0 + (x0 y_k + y0 x_k) B^k + x_k y_k B^2k
void product_top(mr_digit* r, const mr_digit* x, const mr_digit* y, int k, mr_digit* scratch) {
    using u64 = std::uint64_t;
    __extension__ typedef unsigned __int128 u128;
    product_vv(r, x, k, y, k, scratch);
    // r[k ..] += x0 y_k + y0 x_k in one pass: two products of a limb by a
    // word and the limb of r sum to below 2^97, so the carry fits a limb.
    const u64 xk = x[k], yk = y[k];
    u64 carry = 0;
    int i = 0;
    for (; i + 1 < k; i += 2) {
        const u128 s = static_cast<u128>(load_limb(x + i)) * yk + static_cast<u128>(load_limb(y + i)) * xk +
                       load_limb(r + k + i) + carry;
        store_limb(r + k + i, static_cast<u64>(s));
        carry = static_cast<u64>(s >> 64);
    }
    if (i < k) {
        const u128 s = static_cast<u128>(x[i]) * yk + static_cast<u128>(y[i]) * xk + r[k + i] + carry;
        r[k + i] = static_cast<mr_digit>(s);
        carry = static_cast<u64>(s >> 32);
    }
    // The carry and x_k y_k sum to below 2^64: the whole product fits 2k + 2 words.
    const u64 top = carry + xk * yk;
    r[2 * k] = static_cast<mr_digit>(top);
    r[2 * k + 1] = static_cast<mr_digit>(top >> 32);
}
// r[0 .. 2k+1] = x^2 for x of k + 1 words, the same way: x0^2 + 2 x0 x_k
// B^k + x_k^2 B^2k (one row by 2 x_k while that fits a word).
void square_top(mr_digit* r, const mr_digit* x, int k, mr_digit* scratch) {
    square_vv(r, x, k, scratch);
    std::uint64_t c;
    if (x[k] < 0x80000000u)
        c = addmul_vvw(r + k, x, k, 2 * x[k]);
    else
        c = std::uint64_t{addmul_vvw(r + k, x, k, x[k])} + addmul_vvw(r + k, x, k, x[k]);
    const std::uint64_t top = c + std::uint64_t{x[k]} * x[k];
    r[2 * k] = static_cast<mr_digit>(top);
    r[2 * k + 1] = static_cast<mr_digit>(top >> 32);
}

// (x, y) <- (x + y, x - y) over n words, both known to be non-negative and
// to fit (or modulo B^n): one pass, a limb at a time, the carry and the
// borrow each on a flag chain of its own.
void add_sub(mr_digit* x, mr_digit* y, int n) {
    unsigned char carry = 0, borrow = 0;
    int i = 0;
    for (; i + 1 < n; i += 2) {
        const unsigned long long a = load_limb(x + i), b = load_limb(y + i);
        unsigned long long sum, diff;
        carry = _addcarry_u64(carry, a, b, &sum);
        borrow = _subborrow_u64(borrow, a, b, &diff);
        store_limb(x + i, sum);
        store_limb(y + i, diff);
    }
    if (i < n) {
        const mr_digit a = x[i], b = y[i];
        x[i] = a + b + carry;
        y[i] = a - b - borrow;
    }
}

// x = x / d over n words (n even) for a d that divides 2^64 - 1 (3, 5,
// 15, ...) and divides x. With f = (2^64 - 1) / d, x f = q (2^64 - 1), so
// q 2^64 - q = x f: limb by limb, q_i = q_(i-1) - (x f)_i, the limbs of x f
// being the low halves of x_i f plus the high halves of the limb below.
// The products stay off the chain of borrows, which is two subtractions a
// limb; the Hensel division's chain runs through two multiplications.
void divexact_by_factor(mr_digit* x, int n, std::uint64_t d) {
    using u64 = std::uint64_t;
    __extension__ typedef unsigned __int128 u128;
    const u64 f = ~u64{0} / d;
    u64 q = 0, high = 0, borrow = 0;  // borrow: 0, 1 or 2
    for (int i = 0; i + 1 < n; i += 2) {
        const u128 p = static_cast<u128>(load_limb(x + i)) * f;
        u64 t;
        const u64 b1 = __builtin_sub_overflow(q, static_cast<u64>(p), &t);
        const u64 b2 = __builtin_sub_overflow(t, high + borrow, &q);  // high <= f - 1: no overflow
        borrow = b1 + b2;
        high = static_cast<u64>(p >> 64);
        store_limb(x + i, q);
    }
}

// v f as a signed 128-bit value, for a small constant f: an addition or a
// subtraction for f = 1 or -1, otherwise one unsigned product (shifts for
// powers of two), so that no signed 128-bit product is formed.
__extension__ typedef __int128 signed_wide;
__extension__ typedef unsigned __int128 unsigned_wide;

template <std::int64_t F>
inline signed_wide scaled(std::uint64_t v) {
    __extension__ typedef unsigned __int128 u128;
    using i128 = signed_wide;
    if constexpr (F == 1)
        return static_cast<i128>(v);
    else if constexpr (F == -1)
        return -static_cast<i128>(v);
    else if constexpr (F > 0)
        return static_cast<i128>(static_cast<u128>(v) * static_cast<std::uint64_t>(F));
    else
        return -static_cast<i128>(static_cast<u128>(v) * static_cast<std::uint64_t>(-F));
}

// Adds v |F| to pos where F > 0 and to neg where F < 0: the terms of a
// combination summed apart by sign, each one unsigned product and a
// 128-bit addition, and the two sums subtracted once a limb.
template <std::int64_t F>
inline void gather(unsigned_wide& pos, unsigned_wide& neg, std::uint64_t v) {
    if constexpr (F > 0)
        pos += static_cast<unsigned_wide>(v) * static_cast<std::uint64_t>(F);
    else if constexpr (F < 0)
        neg += static_cast<unsigned_wide>(v) * static_cast<std::uint64_t>(-F);
}

// z = (FZ z + F[0] x[0] + ... + F[N-1] x[N-1]) >> S over n words (n even),
// in one pass a limb at a time, for a result known to be a non-negative
// multiple of 2^S that fits n words; the factors are small constants and
// may be negative. z may be one of the x.
template <unsigned S, std::int64_t FZ, std::int64_t... F>
void combine(mr_digit* z, int n, const std::array<const mr_digit*, sizeof...(F)>& x) {
    using u64 = std::uint64_t;
    __extension__ typedef __int128 i128;
    i128 carry = 0;
    u64 below = 0;  // the limb below, waiting for the bits the shift brings down
    for (int i = 0; i < n; i += 2) {
        i128 acc = carry + scaled<FZ>(load_limb(z + i));
        std::size_t j = 0;
        ((acc += scaled<F>(load_limb(x[j++] + i))), ...);
        const u64 low = static_cast<u64>(acc);
        carry = acc >> 64;
        if constexpr (S == 0)
            store_limb(z + i, low);
        else if (i > 0)
            store_limb(z + i - 2, (below >> S) | (low << (64 - S)));
        below = low;
    }
    if constexpr (S != 0) store_limb(z + n - 2, below >> S);
}

// x = (x + F y) / d over n words (n even) in one pass, for a d that divides
// 2^64 - 1 and a sum that is a non-negative multiple of d: the limbs of the
// sum, formed with a signed carry as in combine, feed divexact_by_factor's
// chain directly.
template <std::int64_t F>
void combine_divexact(mr_digit* x, const mr_digit* y, int n, std::uint64_t d) {
    using u64 = std::uint64_t;
    __extension__ typedef unsigned __int128 u128;
    const u64 f = ~u64{0} / d;
    signed_wide carry = 0;
    u64 q = 0, high = 0, borrow = 0;
    for (int i = 0; i + 1 < n; i += 2) {
        const signed_wide acc = carry + static_cast<signed_wide>(load_limb(x + i)) + scaled<F>(load_limb(y + i));
        carry = acc >> 64;
        const u128 p = static_cast<u128>(static_cast<u64>(acc)) * f;
        u64 t;
        const u64 b1 = __builtin_sub_overflow(q, static_cast<u64>(p), &t);
        const u64 b2 = __builtin_sub_overflow(t, high + borrow, &q);
        borrow = b1 + b2;
        high = static_cast<u64>(p >> 64);
        store_limb(x + i, q);
    }
}

// The interpolation of Toom-4 from v1, vm1, v2, vm2 (signs in vm1_negative,
// vm2_negative) and vh (v_half), each p = 2k + 2 words, with v0 and vinf
// already in r; adds c1 .. c5 into r. rn = the product's length; `spare`
// is p words of room.
void toom4_interpolate(mr_digit* r, int rn, int k, mr_digit* v1, mr_digit* vm1, bool vm1_negative, mr_digit* v2,
                       mr_digit* vm2, bool vm2_negative, mr_digit* vh, mr_digit* spare) {
    const int p = 2 * k + 2;
    // v0 and vinf as values of p words: v0 in r with the two free words
    // above it cleared, vinf copied out with zeros above.
    mr_digit* v0 = r;
    v0[2 * k] = v0[2 * k + 1] = 0;
    mr_digit* vinf = spare;
    const int vinf_n = rn - 6 * k;
    copy_words(vinf, r + 6 * k, vinf_n);
    zero_words(vinf + vinf_n, p - vinf_n);
    // v + v(-x) and v - v(-x) in one pass; with v(-x) < 0 the slots of the
    // sum and the difference trade places.
    add_sub(v1, vm1, p);
    if (vm1_negative) std::swap(v1, vm1);
    add_sub(v2, vm2, p);
    if (vm2_negative) std::swap(v2, vm2);
    // The even coefficients: v1 = (S1/2 - c0 - c6) = c2 + c4, v2 = (S2/2 -
    // c0 - 64 c6) / 4 - v1 = 3 c4.
    combine<1, 1, -2, -2>(v1, p, {v0, vinf});
    combine<3, 1, -2, -128, -8>(v2, p, {v0, vinf, v1});
    divexact_by_factor(v2, p, 3);                      // c4
    sub_vv(v1, v1, v2, p);                             // c2
    // The odd ones, with O1 = D1/2 and O2 = D2/4:
    // 3Y = (vh - 64c0 - 16c2 - 4c4 - c6) / 2 - O1 = 15c1 + 3c3,
    // 3X = O2 - O1 = 3c3 + 15c5, 9 c3 = 15 O1 - 3X - 3Y.
    // D1 stays in vm1 (O1 = D1 / 2 taken by the shifts of the passes).
    combine<1, 1, -64, -16, -4, -1, -1>(vh, p, {v0, v1, v2, vinf, vm1});
    combine<2, 1, -2>(vm2, p, {vm1});                  // 3X = (D2 - 2 D1) / 4
    combine<1, 15, -2, -2>(vm1, p, {vm2, vh});         // 9 c3 = (15 D1 - 2 (3X) - 2 (3Y)) / 2
    divexact_by_factor(vm1, p, 3);                     // 3 c3
    divexact_by_factor(vm1, p, 3);                     // c3
    combine_divexact<-3>(vm2, vm1, p, 15);             // c5 = (3X - 3c3) / 15
    combine_divexact<-3>(vh, vm1, p, 15);              // c1 = (3Y - 3c3) / 15
    // r = v0 + c1 t + ... + c5 t^5 + vinf t^6: c2 and c4 are copied into
    // the free words between v0 and vinf, their tops added.
    copy_words(r + 2 * k, v1, 2 * k);
    copy_words(r + 4 * k, v2, 2 * k);
    add_at(r, rn, 4 * k, v1 + 2 * k, 2);
    add_at(r, rn, 6 * k, v2 + 2 * k, 2);
    add_at(r, rn, k, vh, p);
    add_at(r, rn, 3 * k, vm1, p);
    add_at(r, rn, 5 * k, vm2, p);
}

// The interpolation of Toom-3 from v1, vm1 (sign in vm1_negative) and v2,
// each p = 2k + 2 words, with v0 and vinf already in r; adds c1, c2 and c3
// into r. rn = the product's length.
void toom3_interpolate(mr_digit* r, int rn, int k, mr_digit* v1, mr_digit* vm1, bool vm1_negative, mr_digit* v2) {
    const int p = 2 * k + 2;
    const mr_digit* v0 = r;
    const mr_digit* vinf = r + 4 * k;
    const int vinf_n = rn - 4 * k;
    if (vm1_negative) {
        add_vv(v2, v2, vm1, p);
        add_vv(vm1, v1, vm1, p);
    } else {
        sub_vv(v2, v2, vm1, p);
        sub_vv(vm1, v1, vm1, p);
    }
    divexact_by_factor(v2, p, 3);
    shr_vu(vm1, vm1, p, 1);
    sub_nn(v1, v1, p, v0, 2 * k);
    sub_vv(v2, v2, v1, p);
    shr_vu(v2, v2, p, 1);
    sub_vv(v1, v1, vm1, p);
    sub_nn(v1, v1, p, vinf, vinf_n);
    sub_nn(v2, v2, p, vinf, vinf_n);
    sub_nn(v2, v2, p, vinf, vinf_n);
    sub_vv(vm1, vm1, v2, p);
    // r = v0 + c1 t + c2 t^2 + c3 t^3 + vinf t^4; the words between v0 and
    // vinf are still free, so c2 is copied there and only its top is added.
    copy_words(r + 2 * k, v1, 2 * k);
    add_at(r, rn, 4 * k, v1 + 2 * k, 2);
    add_at(r, rn, k, vm1, p);
    add_at(r, rn, 3 * k, v2, p);
}

// ---- Toom-8 -------------------------------------------------------------
//
// Both factors in eight pieces of k words (the top ones shorter), c(t) of
// degree 14, evaluated at 0, infinity, the seven pairs +-1, +-2, +-1/2,
// +-3, +-1/3, +-3/2 and the single point 2/3. At x = u/w a factor is
// taken as a~(x) = sum a_i u^i w^(7-i) = w^7 a(x), an integer below 2^13 B^k
// (the weights are at most 3^7), so the value there is v(x) = a~(x) b~(x)
// = sum c_i u^i w^(14-i), below 2^26 B^2k, in 2k + 2 words.
//
// Each pair gives the sum and the difference of its two values,
//     S_j = v(x_j) + v(-x_j) = 2 sum_even c_i u^i w^(14-i),
//     D_j = v(x_j) - v(-x_j) = 2 sum_odd  c_i u^i w^(14-i),
// both non-negative. The even coefficients c2 .. c12 solve the six
// equations of the S_j once c0 and c14 (the products at 0 and infinity)
// are moved to the right; then w = v(2/3) - sum_even c_i 2^i 3^(14-i) is
// the odd part at 2/3, and the odd coefficients c1 .. c13 solve the seven
// equations of the D_j and w. The inverses of the two systems, each row
// brought to integers over the least common denominator 2^s d (d odd),
// are toom8_rows and toom8_odd_pairs: each coefficient is one pass that
// sums its row's multiples of the values (a signed carry of a limb or so)
// and divides the sum exactly by d (on the way, a limb at a time) and by
// 2^s (a shift); the odd ones two at a time. Every coefficient is a sum of
// at most eight products of pieces, below 8 B^2k, and each row's
// denominator is below 2^30, so every sum fits the 2k + 2 words of the
// values; the rows' factors sum to below 2^36, so the signed carries fit
// 128 bits.

// The weights u^i w^(7-i) of the pieces at each positive point: the six
// pairs' points, then 2/3.
constexpr std::uint32_t toom8_weights[7][8] = {
    {1, 1, 1, 1, 1, 1, 1, 1},                     // 1
    {1, 2, 4, 8, 16, 32, 64, 128},                // 2
    {128, 64, 32, 16, 8, 4, 2, 1},                // 1/2
    {1, 3, 9, 27, 81, 243, 729, 2187},            // 3
    {2187, 729, 243, 81, 27, 9, 3, 1},            // 1/3
    {128, 192, 288, 432, 648, 972, 1458, 2187},   // 3/2
    {2187, 1458, 972, 648, 432, 288, 192, 128},   // 2/3
};

// One row of the even system's inverse: c = (f . inputs) / (2^shift odd),
// over S_1 .. S_6, c0 and c14, for c2, c4, .., c12.
struct toom8_row {
    std::int64_t f[8];
    unsigned shift;
    std::uint64_t odd;
};

constexpr toom8_row toom8_rows[6] = {
    {{6548850, 21384, -18711, -77, 243, -25, -1723722000, 261954000}, 6, 1819125},                  // c2
    {{-295888950, -1018656, 661689, 3703, -4617, 1175, 23039016000, -12692862000}, 8, 1488375},     // c4
    {{333351900, 1325664, -351981, -4942, 2178, -1475, -9921912000, 17279262000}, 8, 496125},       // c6
    {{-224755650, -1490976, 186669, 6013, -1107, 1475, 4876872000, -22324302000}, 8, 496125},       // c8
    {{148705200, 1569024, -111321, -7672, 648, -1175, -2812992000, 32918886000}, 8, 1488375},       // c10
    {{-2910600, -38016, 2079, 308, -12, 25, 51744000, -1933932000}, 6, 1819125},                    // c12
};

// The odd system's inverse. Its points come in reciprocal pairs (2 and
// 1/2, 3 and 1/3, 3/2 and 2/3), and a value at 1/x is the one at x with
// the coefficients reversed, so the rows of c_i and c_(14-i) are mirror
// images: on the sums and differences of the pairs' values,
//     P23 = D2 + D3, M23 = D2 - D3, P45 = D4 + D5, M45 = D4 - D5,
//     P6 = D6/2 + w, M6 = D6/2 - w,
// c_i = (X + Y) / (2^shift odd) and c_(14-i) = (X - Y) / (2^shift odd) with
// X = x . (D1, P23, P45, P6) and Y = y . (M23, M45, M6): seven products a
// limb for the two instead of fourteen. c7 takes X alone.
struct toom8_odd_pair {
    std::int64_t x[4];
    std::int64_t y[3];
    unsigned shift;
    std::uint64_t odd;
};

constexpr toom8_odd_pair toom8_odd_pairs[4] = {
    {{-22702680, -57915, 260, 130}, {34749, -208, -50}, 6, 7882875},          // c1, c13
    {{201879216, 442827, -1288, -1106}, {-227205, 800, 370}, 8, 1091475},     // c3, c11
    {{-444214890, -745920, 1855, 2240}, {223506, -652, -500}, 8, 496125},     // c5, c9
    {{25994598, 37281, -89, -118}, {0, 0, 0}, 7, 33075},                      // c7
};

// The even coefficients' weights 2^i 3^(14-i) at 2/3, for c0, c2, .., c14.
constexpr std::int64_t toom8_w_weights[8] = {4782969, 2125764, 944784, 419904, 186624, 82944, 36864, 16384};

// Writes the quotient of a sum by 2^S Odd limb by limb as the sum's limbs
// come: Hensel's division by the odd factor (q = s / Odd modulo 2^64, the
// borrow into the next limb the high half of q Odd), each quotient limb
// leaving one limb late, shifted down by S. Modulo B^n throughout.
template <std::uint64_t Odd, unsigned S>
struct exact_quotient {
    static constexpr std::uint64_t inverse = inverse_mod_limb(Odd);
    mr_digit* z;
    std::uint64_t borrow = 0, below = 0;

    void put(int i, std::uint64_t limb) {
        __extension__ typedef unsigned __int128 u128;
        const std::uint64_t q = (limb - borrow) * inverse;
        borrow = static_cast<std::uint64_t>((static_cast<u128>(q) * Odd) >> 64) + (limb < borrow ? 1 : 0);
        if constexpr (S == 0)
            store_limb(z + i, q);
        else if (i > 0)
            store_limb(z + i - 2, (below >> S) | (q << (64 - S)));
        below = q;
    }
    void finish(int n) {
        if constexpr (S != 0) store_limb(z + n - 2, below >> S);
    }
};

// z = (row . x) / (2^shift odd) over n words (n even) in one pass, for the
// Row-th row of Rows (toom8_rows, toom84_rows) and a quotient that fits n words: the limbs of
// the sum, formed with a signed carry as in combine, go to exact_quotient.
// The arithmetic is modulo B^n throughout, so an input may be wrong above
// B^n (or negative, as its two's complement) by whatever the caller puts
// right there.
template <const auto& Rows, int Row, std::size_t... J>
void row_combine(mr_digit* z, int n, const std::array<const mr_digit*, sizeof...(J)>& x, std::index_sequence<J...>) {
    constexpr toom8_row row = Rows[Row];
    exact_quotient<row.odd, row.shift> out{z};
    signed_wide carry = 0;
    for (int i = 0; i < n; i += 2) {
        unsigned_wide pos = 0, neg = 0;
        (gather<row.f[J]>(pos, neg, load_limb(x[J] + i)), ...);
        const signed_wide acc = carry + static_cast<signed_wide>(pos) - static_cast<signed_wide>(neg);
        carry = acc >> 64;
        out.put(i, static_cast<std::uint64_t>(acc));
    }
    out.finish(n);
}

template <const auto& Rows, int Row, std::size_t N>
void row_combine(mr_digit* z, int n, const std::array<const mr_digit*, N>& x) {
    row_combine<Rows, Row>(z, n, x, std::make_index_sequence<N>{});
}

template <int Row, std::size_t N>
void toom8_combine(mr_digit* z, int n, const std::array<const mr_digit*, N>& x) {
    row_combine<toom8_rows, Row>(z, n, x);
}

// The Pair-th pair of odd coefficients of toom8_odd_pairs in one pass: z1 =
// (X + Y) / (2^shift odd), z2 = (X - Y) / (2^shift odd) over n words, X over
// x = (D1, P23, P45, P6) and Y over y = (M23, M45, M6); for c7 (Pair 3) z1 =
// X / (2^shift odd) alone. Modulo B^n as toom8_combine.
template <int Pair>
void toom8_combine_pair(mr_digit* z1, mr_digit* z2, int n, const std::array<const mr_digit*, 4>& x,
                        const std::array<const mr_digit*, 3>& y) {
    constexpr toom8_odd_pair row = toom8_odd_pairs[Pair];
    constexpr bool single = Pair == 3;
    exact_quotient<row.odd, row.shift> out1{z1}, out2{z2};
    signed_wide carry1 = 0, carry2 = 0;
    for (int i = 0; i < n; i += 2) {
        unsigned_wide px = 0, nx = 0;
        gather<row.x[0]>(px, nx, load_limb(x[0] + i));
        gather<row.x[1]>(px, nx, load_limb(x[1] + i));
        gather<row.x[2]>(px, nx, load_limb(x[2] + i));
        gather<row.x[3]>(px, nx, load_limb(x[3] + i));
        if constexpr (single) {
            const signed_wide a1 = carry1 + static_cast<signed_wide>(px) - static_cast<signed_wide>(nx);
            carry1 = a1 >> 64;
            out1.put(i, static_cast<std::uint64_t>(a1));
        } else {
            unsigned_wide py = 0, ny = 0;
            gather<row.y[0]>(py, ny, load_limb(y[0] + i));
            gather<row.y[1]>(py, ny, load_limb(y[1] + i));
            gather<row.y[2]>(py, ny, load_limb(y[2] + i));
            const signed_wide a1 = carry1 + static_cast<signed_wide>(px + py) - static_cast<signed_wide>(nx + ny);
            const signed_wide a2 = carry2 + static_cast<signed_wide>(px + ny) - static_cast<signed_wide>(nx + py);
            carry1 = a1 >> 64;
            carry2 = a2 >> 64;
            out1.put(i, static_cast<std::uint64_t>(a1));
            out2.put(i, static_cast<std::uint64_t>(a2));
        }
    }
    out1.finish(n);
    if constexpr (!single) out2.finish(n);
}

// The parts of a factor at a point, over its eight pieces of k words
// (piece[7] zero-padded to k words): e = sum of the even pieces times
// their weights, o = the odd ones', k + 1 words each, in one pass. The
// weights are below 2^12, so four terms and the carry fit 128 bits and the
// top words stay below 2^14.
void eval8_parts(mr_digit* e, mr_digit* o, const std::array<const mr_digit*, 8>& piece, int k,
                 const std::uint32_t (&w)[8]) {
    using u64 = std::uint64_t;
    __extension__ typedef unsigned __int128 u128;
    u64 ce = 0, co = 0;
    int i = 0;
    for (; i + 1 < k; i += 2) {
        const u128 se = static_cast<u128>(ce) + static_cast<u128>(load_limb(piece[0] + i)) * w[0] +
                        static_cast<u128>(load_limb(piece[2] + i)) * w[2] +
                        static_cast<u128>(load_limb(piece[4] + i)) * w[4] +
                        static_cast<u128>(load_limb(piece[6] + i)) * w[6];
        const u128 so = static_cast<u128>(co) + static_cast<u128>(load_limb(piece[1] + i)) * w[1] +
                        static_cast<u128>(load_limb(piece[3] + i)) * w[3] +
                        static_cast<u128>(load_limb(piece[5] + i)) * w[5] +
                        static_cast<u128>(load_limb(piece[7] + i)) * w[7];
        store_limb(e + i, static_cast<u64>(se));
        store_limb(o + i, static_cast<u64>(so));
        ce = static_cast<u64>(se >> 64);
        co = static_cast<u64>(so >> 64);
    }
    if (i < k) {
        const u64 se = ce + u64{piece[0][i]} * w[0] + u64{piece[2][i]} * w[2] + u64{piece[4][i]} * w[4] +
                       u64{piece[6][i]} * w[6];
        const u64 so = co + u64{piece[1][i]} * w[1] + u64{piece[3][i]} * w[3] + u64{piece[5][i]} * w[5] +
                       u64{piece[7][i]} * w[7];
        e[i] = static_cast<mr_digit>(se);
        o[i] = static_cast<mr_digit>(so);
        ce = se >> 32;
        co = so >> 32;
    }
    e[k] = static_cast<mr_digit>(ce);
    o[k] = static_cast<mr_digit>(co);
}

// The eight pieces of a factor of m words split at k, the top one (m - 7k
// words) copied into `top` with zeros up to k words.
std::array<const mr_digit*, 8> toom8_pieces(const mr_digit* a, int m, int k, mr_digit* top) {
    copy_words(top, a + 7 * k, m - 7 * k);
    zero_words(top + (m - 7 * k), 8 * k - m);
    return {a, a + k, a + 2 * k, a + 3 * k, a + 4 * k, a + 5 * k, a + 6 * k, top};
}

// A factor at the pair's points +x and -x from its parts: plus = e + o,
// minus = |e - o| (k + 1 words each, in the places of e and o, whichever
// way round the pointers say); true when a(-x) < 0.
bool eval8_pair(mr_digit*& plus, mr_digit*& minus, int k) {
    if (cmp_vv(plus, minus, k + 1) >= 0) {
        add_sub(plus, minus, k + 1);
        return false;
    }
    add_sub(minus, plus, k + 1);
    std::swap(plus, minus);
    return true;
}

// A factor at point j of toom8_weights: at the pair's points (j < 6) into
// plus and minus as eval8_pair leaves them, at 2/3 (j = 6) into plus.
bool eval8_point(mr_digit*& plus, mr_digit*& minus, const std::array<const mr_digit*, 8>& piece, int k, int j) {
    eval8_parts(plus, minus, piece, k, toom8_weights[j]);
    if (j < 6) return eval8_pair(plus, minus, k);
    add_vv(plus, plus, minus, k + 1);
    return false;
}

// The first step of Toom-8's and Toom-8/4's interpolations: c0 (v0, in r)
// and the top coefficient (vinf, in r from top * k words) copied out to p =
// 2k + 2 words each, at spare and spare + p; and each of the `pairs` pairs
// of values v(x_j), v(-x_j) (values[2j] and values[2j + 1], the sign of the
// second in `negative`) turned in place into their sum and difference, the
// rooms of which it leaves in s[j] and d[j]. With `added`, the pairs are
// their sums and differences already (add_pair), in that order.
void split_pairs(const mr_digit* r, int rn, int k, int top, mr_digit* const* values, const bool* negative, int pairs,
                 bool added, mr_digit* spare, mr_digit** s, mr_digit** d) {
    const int p = 2 * k + 2;
    copy_words(spare, r, 2 * k);
    zero_words(spare + 2 * k, 2);
    copy_words(spare + p, r + top * k, rn - top * k);
    zero_words(spare + p + (rn - top * k), p - (rn - top * k));
    for (int j = 0; j < pairs; ++j) {
        s[j] = values[2 * j];
        d[j] = values[2 * j + 1];
        if (added) continue;
        add_sub(s[j], d[j], p);
        if (negative[2 * j + 1]) std::swap(s[j], d[j]);
    }
}

// Pair j of split_pairs on its own: its sum into values[2j] and its
// difference into values[2j + 1], the two places swapped when v(-x_j) < 0.
void add_pair(int k, int j, mr_digit** values, const bool* negative) {
    add_sub(values[2 * j], values[2 * j + 1], 2 * k + 2);
    if (negative[2 * j + 1]) std::swap(values[2 * j], values[2 * j + 1]);
}

// The interpolation of Toom-8 from the values v(+-x_j) in values[2j] and
// values[2j + 1] (signs of the second in `negative`; with `added`, their
// sums and differences, add_pair) and v(2/3) in values[12], each p = 2k + 2
// words, with v0 and vinf already in r; leaves the product in r. rn = the
// product's length; `spare` is 2p words of room.
void toom8_interpolate(mr_digit* r, int rn, int k, mr_digit* const* values, const bool* negative, bool added,
                       mr_digit* spare) {
    const int p = 2 * k + 2;
    mr_digit* c0 = spare;
    mr_digit* c14 = spare + p;
    mr_digit* s[6];
    mr_digit* d[6];
    split_pairs(r, rn, k, 14, values, negative, 6, added, spare, s, d);
    // The even coefficients straight into their places in r, c_2i at 2ik:
    // each one's top limb (at 2ik + 2k) is where the next one begins, so it
    // is kept aside before that is written.
    const std::array<const mr_digit*, 8> even_in{s[0], s[1], s[2], s[3], s[4], s[5], c0, c14};
    std::uint64_t tops[7];
    toom8_combine<0>(r + 2 * k, p, even_in);
    tops[1] = load_limb(r + 4 * k);
    toom8_combine<1>(r + 4 * k, p, even_in);
    tops[2] = load_limb(r + 6 * k);
    toom8_combine<2>(r + 6 * k, p, even_in);
    tops[3] = load_limb(r + 8 * k);
    toom8_combine<3>(r + 8 * k, p, even_in);
    tops[4] = load_limb(r + 10 * k);
    toom8_combine<4>(r + 10 * k, p, even_in);
    tops[5] = load_limb(r + 12 * k);
    toom8_combine<5>(r + 12 * k, p, even_in);
    tops[6] = load_limb(r + 14 * k);
    // w = v(2/3) - sum_even c_i 2^i 3^(14-i), in v(2/3)'s place, reading c2
    // .. c12 from r, where the limb above each is the next one's lowest
    // instead of its own top: the pass is right modulo B^p, and the top
    // limb is put right after it.
    mr_digit* w = values[12];
    combine<0, 1, -toom8_w_weights[0], -toom8_w_weights[1], -toom8_w_weights[2], -toom8_w_weights[3],
            -toom8_w_weights[4], -toom8_w_weights[5], -toom8_w_weights[6], -toom8_w_weights[7]>(
        w, p, {c0, r + 2 * k, r + 4 * k, r + 6 * k, r + 8 * k, r + 10 * k, r + 12 * k, c14});
    std::uint64_t fix = 0;
    for (int i = 1; i <= 6; ++i)
        fix += static_cast<std::uint64_t>(toom8_w_weights[i]) * (load_limb(r + 2 * i * k + 2 * k) - tops[i]);
    store_limb(w + 2 * k, load_limb(w + 2 * k) + fix);
    // The odd coefficients, in mirror pairs (toom8_odd_pairs), into the
    // places of the S_j and c0. The differences of the pairs' values may be
    // negative: they are kept modulo B^p, as the passes work.
    add_sub(d[1], d[2], p);  // P23, M23
    add_sub(d[3], d[4], p);  // P45, M45
    shr_vu(d[5], d[5], p, 1);
    add_sub(d[5], w, p);     // P6, M6
    const std::array<const mr_digit*, 4> sums{d[0], d[1], d[3], d[5]};
    const std::array<const mr_digit*, 3> differences{d[2], d[4], w};
    mr_digit* odd[7] = {s[0], s[1], s[2], s[3], s[4], s[5], c0};  // c1, c3, .., c13
    toom8_combine_pair<0>(odd[0], odd[6], p, sums, differences);
    toom8_combine_pair<1>(odd[1], odd[5], p, sums, differences);
    toom8_combine_pair<2>(odd[2], odd[4], p, sums, differences);
    toom8_combine_pair<3>(odd[3], nullptr, p, sums, differences);
    // c14 back above c12, then the even coefficients' top limbs and the odd
    // coefficients added.
    copy_words(r + 14 * k, c14, rn - 14 * k);
    for (int i = 1; i <= 6; ++i) {
        const mr_digit top[2] = {static_cast<mr_digit>(tops[i]), static_cast<mr_digit>(tops[i] >> 32)};
        add_at(r, rn, 2 * i * k + 2 * k, top, 2);
    }
    for (int i = 0; i < 7; ++i) add_at(r, rn, (2 * i + 1) * k, odd[i], p);
}

// ---- Toom-8/4 ------------------------------------------------------------
//
// A factor in eight pieces against one in four (3k < n <= 4k, k = (m + 7)
// / 8: products of about 2n by n words), c(t) of degree 10, evaluated at
// 0, infinity, the four pairs +-1, +-2, +-1/2, +-3 and the single point
// 1/3, in the manner of Toom-8: at x = u/w the long factor is taken with
// the weights u^i w^(7-i) of toom8_weights (below 2^12 B^k), the short one
// with u^i w^(3-i) (below 2^6 B^k), so v(x) = sum c_i u^i w^(10-i), in
// 2k + 2 words. The even coefficients c2 .. c8 solve the four equations
// of the pairs' sums with c0 and c10 moved to the right, then w = v(1/3) -
// sum_even c_i 3^(10-i) is the odd part at 1/3, and c1 .. c9 solve the
// four equations of the pairs' differences and w: toom84_rows, one pass a
// coefficient as in Toom-8 (denominators below 2^22, factors summing to
// below 2^21).

// The short factor's weights u^i w^(3-i) at 1, 2, 1/2, 3 and 1/3 (the
// long factor's are toom8_weights' first five rows).
constexpr std::uint32_t toom84_short_weights[5][4] = {
    {1, 1, 1, 1}, {1, 2, 4, 8}, {8, 4, 2, 1}, {1, 3, 9, 27}, {27, 9, 3, 1},
};

// c2 .. c8 over S_1 .. S_4, c0 and c10; c1 .. c9 over D_1 .. D_4 and w.
constexpr toom8_row toom84_rows[9] = {
    {{-3150, 63, 36, -2, -67550, 113400, 0, 0}, 3, 1575},      // c2
    {{3925, -92, -14, 3, 21000, -173700, 0, 0}, 4, 225},       // c4
    {{-1325, 82, 4, -3, -5700, 189000, 0, 0}, 4, 225},         // c6
    {{350, -28, -1, 2, 1400, -179550, 0, 0}, 3, 1575},         // c8
    {{5250, -48, -192, 1, 18, 0, 0, 0}, 6, 2625},              // c1
    {{-841750, 8128, 23872, -171, -1158, 0, 0, 0}, 8, 7875},   // c3
    {{36650, -416, -416, 9, 18, 0, 0, 0}, 7, 225},             // c5
    {{-841750, 23872, 8128, -579, -342, 0, 0, 0}, 8, 7875},    // c7
    {{5250, -192, -48, 9, 2, 0, 0, 0}, 6, 2625},               // c9
};

// The even coefficients' weights 3^(10-i) at 1/3, for c0, c2, .., c10.
constexpr std::int64_t toom84_w_weights[6] = {59049, 6561, 729, 81, 9, 1};

// The parts of the short factor at point j: e = b0 w0 + b2 w2, o = b1 w1 +
// b3 w3 over its four pieces of k words (piece[3] zero-padded), k + 1 words
// each.
void eval4_parts(mr_digit* e, mr_digit* o, const std::array<const mr_digit*, 4>& piece, int k,
                 const std::uint32_t (&w)[4]) {
    using u64 = std::uint64_t;
    __extension__ typedef unsigned __int128 u128;
    u64 ce = 0, co = 0;
    int i = 0;
    for (; i + 1 < k; i += 2) {
        const u128 se = static_cast<u128>(ce) + static_cast<u128>(load_limb(piece[0] + i)) * w[0] +
                        static_cast<u128>(load_limb(piece[2] + i)) * w[2];
        const u128 so = static_cast<u128>(co) + static_cast<u128>(load_limb(piece[1] + i)) * w[1] +
                        static_cast<u128>(load_limb(piece[3] + i)) * w[3];
        store_limb(e + i, static_cast<u64>(se));
        store_limb(o + i, static_cast<u64>(so));
        ce = static_cast<u64>(se >> 64);
        co = static_cast<u64>(so >> 64);
    }
    if (i < k) {
        const u64 se = ce + u64{piece[0][i]} * w[0] + u64{piece[2][i]} * w[2];
        const u64 so = co + u64{piece[1][i]} * w[1] + u64{piece[3][i]} * w[3];
        e[i] = static_cast<mr_digit>(se);
        o[i] = static_cast<mr_digit>(so);
        ce = se >> 32;
        co = so >> 32;
    }
    e[k] = static_cast<mr_digit>(ce);
    o[k] = static_cast<mr_digit>(co);
}

// The interpolation of Toom-8/4 from the values v(+-x_j) in values[2j] and
// values[2j + 1] (signs of the second in `negative`) and v(1/3) in
// values[8], each p = 2k + 2 words, with v0 and vinf already in r, as
// toom8_interpolate does it; `spare` is 2p words of room.
void toom84_interpolate(mr_digit* r, int rn, int k, mr_digit* const* values, const bool* negative, mr_digit* spare) {
    const int p = 2 * k + 2;
    mr_digit* c0 = spare;
    mr_digit* c10 = spare + p;
    mr_digit* s[4];
    mr_digit* d[4];
    split_pairs(r, rn, k, 10, values, negative, 4, false, spare, s, d);
    // c2 .. c8 into r, each one's top limb kept aside before the next is
    // written over it.
    const std::array<const mr_digit*, 6> even_in{s[0], s[1], s[2], s[3], c0, c10};
    std::uint64_t tops[5];
    row_combine<toom84_rows, 0>(r + 2 * k, p, even_in);
    tops[1] = load_limb(r + 4 * k);
    row_combine<toom84_rows, 1>(r + 4 * k, p, even_in);
    tops[2] = load_limb(r + 6 * k);
    row_combine<toom84_rows, 2>(r + 6 * k, p, even_in);
    tops[3] = load_limb(r + 8 * k);
    row_combine<toom84_rows, 3>(r + 8 * k, p, even_in);
    tops[4] = load_limb(r + 10 * k);
    // w in v(1/3)'s place, its top limb put right as in Toom-8.
    mr_digit* w = values[8];
    combine<0, 1, -toom84_w_weights[0], -toom84_w_weights[1], -toom84_w_weights[2], -toom84_w_weights[3],
            -toom84_w_weights[4], -toom84_w_weights[5]>(w, p, {c0, r + 2 * k, r + 4 * k, r + 6 * k, r + 8 * k, c10});
    std::uint64_t fix = 0;
    for (int i = 1; i <= 4; ++i)
        fix += static_cast<std::uint64_t>(toom84_w_weights[i]) * (load_limb(r + 2 * i * k + 2 * k) - tops[i]);
    store_limb(w + 2 * k, load_limb(w + 2 * k) + fix);
    const std::array<const mr_digit*, 5> odd_in{d[0], d[1], d[2], d[3], w};
    mr_digit* odd[5] = {s[0], s[1], s[2], s[3], c0};  // c1, c3, .., c9
    row_combine<toom84_rows, 4>(odd[0], p, odd_in);
    row_combine<toom84_rows, 5>(odd[1], p, odd_in);
    row_combine<toom84_rows, 6>(odd[2], p, odd_in);
    row_combine<toom84_rows, 7>(odd[3], p, odd_in);
    row_combine<toom84_rows, 8>(odd[4], p, odd_in);
    copy_words(r + 10 * k, c10, rn - 10 * k);
    for (int i = 1; i <= 4; ++i) {
        const mr_digit top[2] = {static_cast<mr_digit>(tops[i]), static_cast<mr_digit>(tops[i] >> 32)};
        add_at(r, rn, 2 * i * k + 2 * k, top, 2);
    }
    for (int i = 0; i < 5; ++i) add_at(r, rn, (2 * i + 1) * k, odd[i], p);
}

}  // namespace

void schoolbook_product(mr_digit* r, const mr_digit* a, int m, const mr_digit* b, int n) {
    // The rows run over a's words a limb at a time, and an odd length runs
    // its last word apart in every row (about a fifth dearer at 33 words
    // than at 34). So an odd a above a few words loses its top word to a
    // row of its own over b, and an odd b then loses its top word to one
    // over a's even part: a = a' + a_top B^(m-1), b = b' + b_top B^(n-1).
    if ((m & 1) == 0 || m < 9) {
        mul_basecase_vv(r, a, m, b, n);
        return;
    }
    const int nb = n - (n & 1);
    if (nb == 0) {
        r[m] = mul_vww(r, a, m, b[0], 0);
        return;
    }
    mul_basecase_vv(r, a, m - 1, b, nb);  // r[0 .. m - 1 + nb - 1]
    if (nb < n) r[m - 1 + nb] = addmul_vvw(r + nb, a, m - 1, b[nb]);
    r[m - 1 + n] = addmul_vvw(r + m - 1, b, n, a[m - 1]);
}

void schoolbook_square(mr_digit* r, const mr_digit* a, int m) {
    // As in the product, an odd a above a few words loses its top word:
    // a^2 = a'^2 + 2 a' a_top B^(m-1) + a_top^2 B^(2m-2), the middle term
    // one row by the two-word 2 a_top.
    if ((m & 1) == 0 || m < 9) {
        sqr_basecase_vv(r, a, m);
        return;
    }
    const std::uint64_t top = a[m - 1];
    sqr_basecase_vv(r, a, m - 1);  // r[0 .. 2m-3]
    std::uint64_t high = top * top;
    high += addmul_vvd(r + m - 1, a, m - 1, 2 * top);  // a^2 fits 2m words: no carry out
    store_limb(r + 2 * m - 2, high);
}

void pieces_product(mr_digit* r, const mr_digit* a, int m, const mr_digit* b, int n, mr_digit* scratch) {
    mr_digit* piece = scratch;  // 2n words
    mr_digit* rest = scratch + 2 * n;
    product_vv(r, a, n, b, n, rest);
    for (int at = n; at < m; at += n) {
        const int p = std::min(n, m - at);
        if (p == n)
            product_vv(piece, a + at, n, b, n, rest);
        else
            product_vv(piece, b, n, a + at, p, rest);
        // r holds words up to at + n; the piece's product starts at `at`.
        const mr_digit c = add_vv(r + at, r + at, piece, n);
        add_vw(r + at + n, piece + n, p, c);
    }
}

void karatsuba_product(mr_digit* r, const mr_digit* a, int m, const mr_digit* b, int n, mr_digit* scratch) {
    const int h = karatsuba_split(m, n);
    const int a1n = m - h, b1n = n - h;
    mr_digit* t = scratch;              // 2h words: |a0-a1| * |b0-b1|
    mr_digit* da = scratch + 2 * h;     // h words
    mr_digit* db = scratch + 3 * h;     // h words
    mr_digit* u = scratch + 2 * h;      // 2h + 1 words, after da and db are used
    mr_digit* rest = scratch + 4 * h + 1;
    const bool a_neg = abs_diff(da, a, h, a + h, a1n);
    const bool b_neg = abs_diff(db, b, h, b + h, b1n);
    // At the lowest level, where all three are schoolbook products of h
    // words, the fixed-length kernel runs them without the dispatch.
    const basecase_product_kernel fixed =
        h < product_karatsuba_threshold && a1n == h && b1n == h ? basecase_product_for(h) : nullptr;
    if (fixed != nullptr) {
        fixed(t, da, db);
        fixed(r, a, b);
        fixed(r + 2 * h, a + h, b + h);
        karatsuba_middle(r, m + n, h, t, a_neg == b_neg);
        return;
    }
    product_vv(t, da, h, db, h, rest);
    product_vv(r, a, h, b, h, rest);
    product_vv(r + 2 * h, a + h, a1n, b + h, b1n, rest);
    const int z2n = a1n + b1n;
    if (z2n >= h) {
        karatsuba_middle(r, m + n, h, t, a_neg == b_neg);
        return;
    }
    // u = z0 + z2 -+ t, the middle coefficient a0*b1 + a1*b0 >= 0.
    u[2 * h] = add_nn(u, r, 2 * h, r + 2 * h, z2n);
    if (a_neg == b_neg)
        u[2 * h] -= sub_vv(u, u, t, 2 * h);
    else
        u[2 * h] += add_vv(u, u, t, 2 * h);
    add_at(r, m + n, h, u, 2 * h + 1);
}

void karatsuba_square(mr_digit* r, const mr_digit* a, int m, mr_digit* scratch) {
    const int h = karatsuba_split(m, m);
    const int a1n = m - h;
    mr_digit* t = scratch;
    mr_digit* d = scratch + 2 * h;
    mr_digit* u = scratch + 2 * h;
    mr_digit* rest = scratch + 4 * h + 1;
    abs_diff(d, a, h, a + h, a1n);
    const basecase_square_kernel fixed =
        h < square_karatsuba_threshold && a1n == h ? basecase_square_for(h) : nullptr;
    if (fixed != nullptr) {  // the lowest level, as in the product
        fixed(t, d);
        fixed(r, a);
        fixed(r + 2 * h, a + h);
        karatsuba_middle(r, 2 * m, h, t, true);
        return;
    }
    square_vv(t, d, h, rest);
    square_vv(r, a, h, rest);
    square_vv(r + 2 * h, a + h, a1n, rest);
    if (2 * a1n >= h) {
        karatsuba_middle(r, 2 * m, h, t, true);
        return;
    }
    u[2 * h] = add_nn(u, r, 2 * h, r + 2 * h, 2 * a1n);
    u[2 * h] -= sub_vv(u, u, t, 2 * h);
    add_at(r, 2 * m, h, u, 2 * h + 1);
}

void toom3_product(mr_digit* r, const mr_digit* a, int m, const mr_digit* b, int n, mr_digit* scratch) {
    if (parallel_toom3(r, a, m, b, n, scratch)) return;
    const int k = (m + 2) / 3;
    const int p = 2 * k + 2;
    mr_digit* v1 = scratch;
    mr_digit* vm1 = scratch + p;
    mr_digit* v2 = scratch + 2 * p;
    mr_digit* ea = scratch + 3 * p;       // k + 1 words
    mr_digit* eb = ea + (k + 1);          // k + 1 words
    mr_digit* rest = eb + (k + 1);
    // a(2) and b(2) wait in vm1's place until their product is formed.
    eval3_one_two(ea, vm1, a, m, k);
    eval3_one_two(eb, vm1 + (k + 1), b, n, k);
    product_top(v1, ea, eb, k, rest);
    product_top(v2, vm1, vm1 + (k + 1), k, rest);
    bool vm1_negative = eval3_minus_one(ea, a, m, k);
    vm1_negative ^= eval3_minus_one(eb, b, n, k);
    product_top(vm1, ea, eb, k, rest);
    product_vv(r, a, k, b, k, rest);
    product_vv(r + 4 * k, a + 2 * k, m - 2 * k, b + 2 * k, n - 2 * k, rest);
    toom3_interpolate(r, m + n, k, v1, vm1, vm1_negative, v2);
}

void toom3_square(mr_digit* r, const mr_digit* a, int m, mr_digit* scratch) {
    if (parallel_toom3(r, a, m, nullptr, m, scratch)) return;
    const int k = (m + 2) / 3;
    const int p = 2 * k + 2;
    mr_digit* v1 = scratch;
    mr_digit* vm1 = scratch + p;
    mr_digit* v2 = scratch + 2 * p;
    mr_digit* ea = scratch + 3 * p;
    mr_digit* rest = ea + (k + 1);
    eval3_one_two(ea, vm1, a, m, k);  // a(2) waits in vm1's place
    square_top(v1, ea, k, rest);
    square_top(v2, vm1, k, rest);
    eval3_minus_one(ea, a, m, k);
    square_top(vm1, ea, k, rest);
    square_vv(r, a, k, rest);
    square_vv(r + 4 * k, a + 2 * k, m - 2 * k, rest);
    toom3_interpolate(r, 2 * m, k, v1, vm1, false, v2);
}

// r = a * b for m > 3k, k = (m + 3) / 4, and k < n <= 2k.
void toom42_product(mr_digit* r, const mr_digit* a, int m, const mr_digit* b, int n, mr_digit* scratch) {
    const int k = (m + 3) / 4;
    const int p = 2 * k + 2;
    mr_digit* v1 = scratch;
    mr_digit* vm1 = scratch + p;
    mr_digit* v2 = scratch + 2 * p;
    mr_digit* ea = scratch + 3 * p;   // k + 1 words each
    mr_digit* eam = ea + (k + 1);
    mr_digit* eb = eam + (k + 1);
    mr_digit* t = eb + (k + 1);
    mr_digit* rest = t + (k + 1);
    bool vm1_negative = eval4_one(ea, eam, t, a, m, k);
    eval2_one(eb, b, n, k);
    product_top(v1, ea, eb, k, rest);
    vm1_negative ^= eval2_minus_one(eb, b, n, k);
    product_top(vm1, eam, eb, k, rest);
    eval4_two(ea, eam, t, a, m, k);
    eval2_two(eb, b, n, k);
    product_top(v2, ea, eb, k, rest);
    product_vv(r, a, k, b, k, rest);
    const int top_a = m - 3 * k, top_b = n - k;
    if (top_a >= top_b)
        product_vv(r + 4 * k, a + 3 * k, top_a, b + k, top_b, rest);
    else
        product_vv(r + 4 * k, b + k, top_b, a + 3 * k, top_a, rest);
    toom3_interpolate(r, m + n, k, v1, vm1, vm1_negative, v2);
}

void toom4_product(mr_digit* r, const mr_digit* a, int m, const mr_digit* b, int n, mr_digit* scratch) {
    if (parallel_toom4(r, a, m, b, n, scratch)) return;
    const int k = (m + 3) / 4;
    const int p = 2 * k + 2;
    mr_digit* v1 = scratch;
    mr_digit* vm1 = v1 + p;
    mr_digit* v2 = vm1 + p;
    mr_digit* vm2 = v2 + p;
    mr_digit* vh = vm2 + p;
    mr_digit* ea = vh + p;  // k + 1 words each
    mr_digit* eam = ea + (k + 1);
    mr_digit* eb = eam + (k + 1);
    mr_digit* ebm = eb + (k + 1);
    mr_digit* t = ebm + (k + 1);
    mr_digit* rest = t + (k + 1);
    bool vm1_negative = eval4_one(ea, eam, t, a, m, k);
    vm1_negative ^= eval4_one(eb, ebm, t, b, n, k);
    product_top(v1, ea, eb, k, rest);
    product_top(vm1, eam, ebm, k, rest);
    bool vm2_negative = eval4_two(ea, eam, t, a, m, k);
    vm2_negative ^= eval4_two(eb, ebm, t, b, n, k);
    product_top(v2, ea, eb, k, rest);
    product_top(vm2, eam, ebm, k, rest);
    eval4_half(ea, a, m, k);
    eval4_half(eb, b, n, k);
    product_top(vh, ea, eb, k, rest);
    product_vv(r, a, k, b, k, rest);
    product_vv(r + 6 * k, a + 3 * k, m - 3 * k, b + 3 * k, n - 3 * k, rest);
    toom4_interpolate(r, m + n, k, v1, vm1, vm1_negative, v2, vm2, vm2_negative, vh, ea);
}

void toom4_square(mr_digit* r, const mr_digit* a, int m, mr_digit* scratch) {
    if (parallel_toom4(r, a, m, nullptr, m, scratch)) return;
    const int k = (m + 3) / 4;
    const int p = 2 * k + 2;
    mr_digit* v1 = scratch;
    mr_digit* vm1 = v1 + p;
    mr_digit* v2 = vm1 + p;
    mr_digit* vm2 = v2 + p;
    mr_digit* vh = vm2 + p;
    mr_digit* ea = vh + p;  // k + 1 words each
    mr_digit* eam = ea + (k + 1);
    mr_digit* t = eam + (k + 1);
    mr_digit* rest = t + (k + 1);
    eval4_one(ea, eam, t, a, m, k);
    square_top(v1, ea, k, rest);
    square_top(vm1, eam, k, rest);
    eval4_two(ea, eam, t, a, m, k);
    square_top(v2, ea, k, rest);
    square_top(vm2, eam, k, rest);
    eval4_half(ea, a, m, k);
    square_top(vh, ea, k, rest);
    square_vv(r, a, k, rest);
    square_vv(r + 6 * k, a + 3 * k, m - 3 * k, rest);
    toom4_interpolate(r, 2 * m, k, v1, vm1, false, v2, vm2, false, vh, ea);
}

// r = a * b for m >= n > 7k, k = (m + 7) / 8.
void toom8_product(mr_digit* r, const mr_digit* a, int m, const mr_digit* b, int n, mr_digit* scratch) {
    if (m == n && m % 16 == 1) {
        // Both of 16i + 1 words (the wrap-around product's halves in a
        // reduction by multiplication, h + 1 words): the top words apart,
        // a b = a' b' + (a' b_top + b' a_top) B^(m-1) + a_top b_top B^(2m-2),
        // so that the pieces are of 2i words (1024 words take about a tenth
        // less time than 1025, whose pieces of 129 words halve unevenly).
        toom8_product(r, a, m - 1, b, m - 1, scratch);
        r[2 * m - 2] = addmul_vvw(r + m - 1, a, m - 1, b[m - 1]);
        const std::uint64_t top = std::uint64_t{r[2 * m - 2]} + addmul_vvw(r + m - 1, b, m - 1, a[m - 1]) +
                                  std::uint64_t{a[m - 1]} * b[m - 1];
        store_limb(r + 2 * m - 2, top);  // the product fits 2m words: no carry out
        return;
    }
    if (parallel_toom8(r, a, m, b, n, scratch)) return;
    const int k = (m + 7) / 8;
    const int p = 2 * k + 2;
    mr_digit* values[13];
    bool negative[13] = {};
    for (int i = 0; i < 13; ++i) values[i] = scratch + i * p;
    mr_digit* spare = scratch + 13 * p;  // 2p words, for the interpolation
    mr_digit* top_a = spare + 2 * p;     // k words each
    mr_digit* top_b = top_a + k;
    mr_digit* e = top_b + k;             // four of k + 1 words
    mr_digit* rest = e + 4 * (k + 1);
    const auto pa = toom8_pieces(a, m, k, top_a);
    const auto pb = toom8_pieces(b, n, k, top_b);
    for (int j = 0; j < 7; ++j) {
        mr_digit* ap = e;
        mr_digit* am = e + (k + 1);
        mr_digit* bp = e + 2 * (k + 1);
        mr_digit* bm = e + 3 * (k + 1);
        const bool negative_a = eval8_point(ap, am, pa, k, j);
        const bool negative_b = eval8_point(bp, bm, pb, k, j);
        product_top(values[2 * j], ap, bp, k, rest);
        if (j < 6) {
            negative[2 * j + 1] = negative_a != negative_b;
            product_top(values[2 * j + 1], am, bm, k, rest);
        }
    }
    product_vv(r, a, k, b, k, rest);
    product_vv(r + 14 * k, a + 7 * k, m - 7 * k, b + 7 * k, n - 7 * k, rest);
    toom8_interpolate(r, m + n, k, values, negative, false, spare);
}

void toom8_square(mr_digit* r, const mr_digit* a, int m, mr_digit* scratch) {
    if (m % 16 == 1) {
        // The top word apart, as in the product: a^2 = a'^2 + 2 a' a_top
        // B^(m-1) + a_top^2 B^(2m-2), the middle one row by the two-word
        // 2 a_top.
        const std::uint64_t top = a[m - 1];
        toom8_square(r, a, m - 1, scratch);
        std::uint64_t high = top * top;
        high += addmul_vvd(r + m - 1, a, m - 1, 2 * top);  // a^2 fits 2m words: no carry out
        store_limb(r + 2 * m - 2, high);
        return;
    }
    if (parallel_toom8(r, a, m, nullptr, m, scratch)) return;
    const int k = (m + 7) / 8;
    const int p = 2 * k + 2;
    mr_digit* values[13];
    const bool negative[13] = {};
    for (int i = 0; i < 13; ++i) values[i] = scratch + i * p;
    mr_digit* spare = scratch + 13 * p;
    mr_digit* top_a = spare + 2 * p;  // k words
    mr_digit* e = top_a + k;          // two of k + 1 words
    mr_digit* rest = e + 2 * (k + 1);
    const auto pa = toom8_pieces(a, m, k, top_a);
    for (int j = 0; j < 7; ++j) {
        mr_digit* ap = e;
        mr_digit* am = e + (k + 1);
        eval8_point(ap, am, pa, k, j);
        square_top(values[2 * j], ap, k, rest);
        if (j < 6) square_top(values[2 * j + 1], am, k, rest);
    }
    square_vv(r, a, k, rest);
    square_vv(r + 14 * k, a + 7 * k, m - 7 * k, rest);
    toom8_interpolate(r, 2 * m, k, values, negative, false, spare);
}

// r = a * b for 3k < n <= 4k, k = (m + 7) / 8.
void toom84_product(mr_digit* r, const mr_digit* a, int m, const mr_digit* b, int n, mr_digit* scratch) {
    const int k = (m + 7) / 8;
    const int p = 2 * k + 2;
    mr_digit* values[9];
    bool negative[9] = {};
    for (int i = 0; i < 9; ++i) values[i] = scratch + i * p;
    mr_digit* spare = scratch + 9 * p;  // 2p words, for the interpolation
    mr_digit* top_a = spare + 2 * p;    // k words each
    mr_digit* top_b = top_a + k;
    mr_digit* e = top_b + k;            // four of k + 1 words
    mr_digit* rest = e + 4 * (k + 1);
    const auto pa = toom8_pieces(a, m, k, top_a);
    copy_words(top_b, b + 3 * k, n - 3 * k);
    zero_words(top_b + (n - 3 * k), 4 * k - n);
    const std::array<const mr_digit*, 4> pb{b, b + k, b + 2 * k, top_b};
    for (int j = 0; j < 5; ++j) {
        mr_digit* ap = e;
        mr_digit* am = e + (k + 1);
        mr_digit* bp = e + 2 * (k + 1);
        mr_digit* bm = e + 3 * (k + 1);
        eval8_parts(ap, am, pa, k, toom8_weights[j]);
        eval4_parts(bp, bm, pb, k, toom84_short_weights[j]);
        if (j == 4) {  // the single point 1/3
            add_vv(ap, ap, am, k + 1);
            add_vv(bp, bp, bm, k + 1);
            product_top(values[8], ap, bp, k, rest);
            break;
        }
        const bool negative_a = eval8_pair(ap, am, k);
        const bool negative_b = eval8_pair(bp, bm, k);
        product_top(values[2 * j], ap, bp, k, rest);
        negative[2 * j + 1] = negative_a != negative_b;
        product_top(values[2 * j + 1], am, bm, k, rest);
    }
    product_vv(r, a, k, b, k, rest);
    const int top_an = m - 7 * k, top_bn = n - 3 * k;
    if (top_an >= top_bn)
        product_vv(r + 10 * k, a + 7 * k, top_an, b + 3 * k, top_bn, rest);
    else
        product_vv(r + 10 * k, b + 3 * k, top_bn, a + 7 * k, top_an, rest);
    toom84_interpolate(r, m + n, k, values, negative, spare);
}

namespace {

enum class method { schoolbook, pieces, karatsuba, toom3, toom42, toom4, toom8, toom84 };

// What the dispatch sees of the worker pool: whether it may run a level's
// points at once, and whether this thread is inside one of its tasks. Both
// change while a calculation runs (another thread's run holds the pool; a
// product sized by its caller runs inside a task), so the scratch sizes
// below hold for every view.
struct pool_view {
    bool available;
    bool inside_task;
};

pool_view current_pool_view() { return {pool_available(), pool_inside_task()}; }

// The views a level of m words may meet: the dispatch reads the pool only
// from parallel_product_threshold words.
constexpr pool_view every_pool_view[] = {{false, false}, {true, true}, {true, false}};

// The method of the dispatch for m >= n >= 1 (and for a square, n = m).
// Whether a product or square of n words takes Karatsuba inside the Toom-3
// range (toom3_gap_from to toom3_gap_to). Not when the pool would run this
// Toom-3 level's points at once: there Toom-3's five point products on two
// threads beat Karatsuba on one (32768 bits: 1024 words).
bool in_toom3_gap(int n, pool_view pool) {
    return n >= toom3_gap_from && n < toom3_gap_to && !(n >= parallel_product_threshold && pool.available);
}

// Whether a product or square of m words (the longer factor) leaves out
// Toom-8: where the pool runs the top level's points at once from outside
// a task, below parallel_toom8_threshold words, the fewer and longer points
// of Toom-3 and Toom-4 end as soon on two threads as Toom-8's nine tasks
// followed by its interpolation on one thread. Inside a task (a primality
// trial, a piece of a reduction) the other threads are mostly busy with
// tasks of their own, so the faster method on one thread stays.
bool pool_skips_toom8(int m, pool_view pool) {
    return m >= parallel_product_threshold && m < parallel_toom8_threshold && !pool.inside_task && pool.available;
}

method product_method(int m, int n, pool_view pool) {
    if (n < product_karatsuba_threshold) return method::schoolbook;
    // Toom-4/2 takes five products of about m/4 words where the pieces take
    // m/n of n words: it pays for n from 2m/5 up (at m = 2n it needs 5
    // products of n/2 words against 2 of n).
    if (n >= product_toom84_threshold && n > 3 * ((m + 7) / 8) && n <= 4 * ((m + 7) / 8)) return method::toom84;
    if (n <= (m + 1) / 2)
        return n >= product_toom42_threshold && 5 * n >= 2 * m ? method::toom42 : method::pieces;
    if (n >= product_toom8_threshold && n > 7 * ((m + 7) / 8) && !pool_skips_toom8(m, pool)) return method::toom8;
    if (n >= product_toom4_threshold && n > 3 * ((m + 3) / 4)) return method::toom4;
    if (n < product_toom3_threshold || n <= 2 * ((m + 2) / 3)) return method::karatsuba;
    if (in_toom3_gap(n, pool)) return method::karatsuba;
    return method::toom3;
}

method square_method(int m, pool_view pool) {
    if (m < square_karatsuba_threshold) return method::schoolbook;
    if (m < square_toom3_threshold || in_toom3_gap(m, pool)) return method::karatsuba;
    if (m >= square_toom8_threshold && !pool_skips_toom8(m, pool)) return method::toom8;
    if (m < square_toom4_threshold || (m >= square_toom4_limit && m < square_toom4_resume)) return method::toom3;
    return method::toom4;
}

}  // namespace

void product_vv(mr_digit* r, const mr_digit* a, int m, const mr_digit* b, int n, mr_digit* scratch) {
    switch (product_method(m, n, current_pool_view())) {
    case method::schoolbook: schoolbook_product(r, a, m, b, n); break;
    case method::pieces: pieces_product(r, a, m, b, n, scratch); break;
    case method::karatsuba: karatsuba_product(r, a, m, b, n, scratch); break;
    case method::toom3: toom3_product(r, a, m, b, n, scratch); break;
    case method::toom42: toom42_product(r, a, m, b, n, scratch); break;
    case method::toom4: toom4_product(r, a, m, b, n, scratch); break;
    case method::toom8: toom8_product(r, a, m, b, n, scratch); break;
    case method::toom84: toom84_product(r, a, m, b, n, scratch); break;
    }
}

void square_vv(mr_digit* r, const mr_digit* a, int m, mr_digit* scratch) {
    switch (square_method(m, current_pool_view())) {
    case method::schoolbook: schoolbook_square(r, a, m); break;
    case method::karatsuba: karatsuba_square(r, a, m, scratch); break;
    case method::toom3: toom3_square(r, a, m, scratch); break;
    case method::toom8: toom8_square(r, a, m, scratch); break;
    default: toom4_square(r, a, m, scratch); break;
    }
}

namespace {

// The scratch of a product of m by n words by method `how`.
std::size_t product_scratch_by(method how, int m, int n) {
    switch (how) {
    case method::schoolbook: return 0;
    case method::pieces:
        return 2 * static_cast<std::size_t>(n) +
               std::max(product_scratch_words(n, n), m % n == 0 ? 0 : product_scratch_words(n, m % n));
    case method::karatsuba: {
        const int h = karatsuba_split(m, n);
        return 4 * static_cast<std::size_t>(h) + 1 +
               std::max(product_scratch_words(h, h), product_scratch_words(m - h, n - h));
    }
    case method::toom3: {
        const int k = (m + 2) / 3;
        return 8 * static_cast<std::size_t>(k) + 8 +
               std::max({product_scratch_words(k + 1, k + 1), product_scratch_words(k, k),
                         product_scratch_words(m - 2 * k, n - 2 * k)});
    }
    case method::toom42: {
        const int k = (m + 3) / 4;
        const int top_a = m - 3 * k, top_b = n - k;
        return 10 * static_cast<std::size_t>(k) + 10 +
               std::max({product_scratch_words(k + 1, k + 1), product_scratch_words(k, k),
                         product_scratch_words(std::max(top_a, top_b), std::min(top_a, top_b))});
    }
    case method::toom4: {
        const int k = (m + 3) / 4;
        return 15 * static_cast<std::size_t>(k) + 15 +
               std::max({product_scratch_words(k + 1, k + 1), product_scratch_words(k, k),
                         product_scratch_words(m - 3 * k, n - 3 * k)});
    }
    case method::toom8: {
        // 13 values and 2 spare of 2k + 2 words, the two top pieces and
        // four evaluations.
        const int k = (m + 7) / 8;
        return 36 * static_cast<std::size_t>(k) + 34 +
               std::max(product_scratch_words(k, k), product_scratch_words(m - 7 * k, n - 7 * k));
    }
    case method::toom84: {
        // 9 values and 2 spare of 2k + 2 words, the two top pieces and
        // four evaluations.
        const int k = (m + 7) / 8;
        const int top_a = m - 7 * k, top_b = n - 3 * k;
        return 28 * static_cast<std::size_t>(k) + 26 +
               std::max(product_scratch_words(k, k),
                        product_scratch_words(std::max(top_a, top_b), std::min(top_a, top_b)));
    }
    }
    return 0;
}

// The scratch of a square of m words by method `how`.
std::size_t square_scratch_by(method how, int m) {
    switch (how) {
    case method::karatsuba: {
        const int h = karatsuba_split(m, m);
        return 4 * static_cast<std::size_t>(h) + 1 + std::max(square_scratch_words(h), square_scratch_words(m - h));
    }
    case method::toom3: {
        const int k = (m + 2) / 3;
        return 8 * static_cast<std::size_t>(k) + 8 +
               std::max({square_scratch_words(k + 1), square_scratch_words(k), square_scratch_words(m - 2 * k)});
    }
    case method::toom4: {
        const int k = (m + 3) / 4;
        return 13 * static_cast<std::size_t>(k) + 13 +
               std::max({square_scratch_words(k + 1), square_scratch_words(k), square_scratch_words(m - 3 * k)});
    }
    case method::toom8: {
        const int k = (m + 7) / 8;
        return 33 * static_cast<std::size_t>(k) + 32 + std::max(square_scratch_words(k), square_scratch_words(m - 7 * k));
    }
    default: return 0;
    }
}

}  // namespace

// The most any method the dispatch may take for the shape needs.
std::size_t product_scratch_words(int m, int n) {
    if (m < parallel_product_threshold) return product_scratch_by(product_method(m, n, every_pool_view[0]), m, n);
    std::size_t most = 0;
    for (const pool_view pool : every_pool_view) most = std::max(most, product_scratch_by(product_method(m, n, pool), m, n));
    return most;
}

std::size_t square_scratch_words(int m) {
    if (m < parallel_product_threshold) return square_scratch_by(square_method(m, every_pool_view[0]), m);
    std::size_t most = 0;
    for (const pool_view pool : every_pool_view) most = std::max(most, square_scratch_by(square_method(m, pool), m));
    return most;
}

// ---- Point products on the worker pool -------------------------------------
//
// Above parallel_product_threshold words the point products of a Toom
// level run at once on the pool (pool.h): one task a point (Toom-8: a pair
// of points), each evaluating both factors at its point into scratch of its own thread (the
// starting thread's is the serial method's evaluation room and what follows
// it, a helping thread's its instance's product area, claimed for the task)
// and multiplying into the value's place, which the serial method uses too.
// Inside a task of another run (a primality test, a part of a reduction)
// the points form a nested run, which threads that are free join. Toom-4's
// interpolation runs in steps on the threads as the points are done (see
// toom4_run_step); the others' runs on the calling thread afterwards, as
// without the pool. Evaluations of a pair at +x and -x are made twice in
// Toom-3 and Toom-4, once by each of the two tasks: linear work beside
// their longer products; Toom-8's pair tasks evaluate once, and its pair
// sums, the first step of the interpolation, are made on the thread that
// has the values (two threads, 2048 words, least of five runs: products
// 56.3 us, squares 41.5; with a task a point about 62 and 45.5). Tasks
// run in order of index, the long products first (Toom-4: v0 and vinf
// first, for its steps). A point's own product does not split further on
// the pool: its top Karatsuba level as a nested run of three products
// (helped by the thread that has finished its points) measured slower, a
// 2048-word product on two threads 76.5-77.5 against 73.7-74.1 us without
// it, a 2048-word modular square 184-187 against 175-180 us (medians of 80
// interleaved rounds; the second core slower than the first).

namespace {

enum class toom_kind { toom3_product, toom3_square, toom4_product, toom4_square, toom8_product, toom8_square };

struct toom_points {
    toom_kind kind;
    mr_digit* r;
    const mr_digit* a;
    int m;
    const mr_digit* b;
    int n;
    int k;
    mr_digit* values[13];        // v1, vm1, v2, vm2, vh (Toom-3: the first three; Toom-8: its 13)
    mr_digit* caller_room;       // the caller's evaluation room and scratch
    bool negative[13];           // sign of the value, where one can be negative
    // Toom-4: the steps of the interpolation that the tasks run as their
    // inputs become ready (toom4_arrive), each with the number of its
    // inputs not yet done.
    std::atomic<int> waiting[8] = {};
};

// Words of evaluation room a point task needs before its product's scratch.
int evaluation_words(toom_kind kind, int k) {
    switch (kind) {
    case toom_kind::toom3_product: return 2 * (k + 1);
    case toom_kind::toom3_square: return k + 1;
    case toom_kind::toom4_product: return 5 * (k + 1);
    case toom_kind::toom4_square: return 3 * (k + 1);
    case toom_kind::toom8_product: return 2 * k + 4 * (k + 1);
    case toom_kind::toom8_square: return k + 2 * (k + 1);
    }
    return 0;
}

std::size_t point_task_words(toom_kind kind, int k) {
    const bool square =
        kind == toom_kind::toom3_square || kind == toom_kind::toom4_square || kind == toom_kind::toom8_square;
    const std::size_t product = square ? std::max(square_scratch_words(k + 1), square_scratch_words(k))
                                       : std::max(product_scratch_words(k + 1, k + 1), product_scratch_words(k, k));
    return static_cast<std::size_t>(evaluation_words(kind, k)) + product;
}

void toom3_point(toom_points& t, int index, mr_digit* room) {
    const int k = t.k, m = t.m, n = t.n;
    mr_digit* ea = room;
    if (t.kind == toom_kind::toom3_square) {
        mr_digit* rest = ea + (k + 1);
        switch (index) {
        case 0: eval_one(ea, t.a, m, k); square_top(t.values[0], ea, k, rest); break;
        case 1: eval_minus_one(ea, t.a, m, k); square_top(t.values[1], ea, k, rest); break;
        case 2: eval_two(ea, t.a, m, k); square_top(t.values[2], ea, k, rest); break;
        case 3: square_vv(t.r, t.a, k, rest); break;
        default: square_vv(t.r + 4 * k, t.a + 2 * k, m - 2 * k, rest); break;
        }
        return;
    }
    mr_digit* eb = ea + (k + 1);
    mr_digit* rest = eb + (k + 1);
    switch (index) {
    case 0:
        eval_one(ea, t.a, m, k);
        eval_one(eb, t.b, n, k);
        product_top(t.values[0], ea, eb, k, rest);
        break;
    case 1:
        t.negative[1] = eval_minus_one(ea, t.a, m, k) != eval_minus_one(eb, t.b, n, k);
        product_top(t.values[1], ea, eb, k, rest);
        break;
    case 2:
        eval_two(ea, t.a, m, k);
        eval_two(eb, t.b, n, k);
        product_top(t.values[2], ea, eb, k, rest);
        break;
    case 3: product_vv(t.r, t.a, k, t.b, k, rest); break;
    default: product_vv(t.r + 4 * k, t.a + 2 * k, m - 2 * k, t.b + 2 * k, n - 2 * k, rest); break;
    }
}

void toom4_point(toom_points& t, int index, mr_digit* room) {
    const int k = t.k, m = t.m, n = t.n;
    mr_digit* ea = room;
    mr_digit* eam = ea + (k + 1);
    if (t.kind == toom_kind::toom4_square) {
        mr_digit* u = eam + (k + 1);
        mr_digit* rest = u + (k + 1);
        switch (index) {
        case 0: eval4_one(ea, eam, u, t.a, m, k); square_top(t.values[0], ea, k, rest); break;
        case 1: eval4_one(ea, eam, u, t.a, m, k); square_top(t.values[1], eam, k, rest); break;
        case 2: eval4_two(ea, eam, u, t.a, m, k); square_top(t.values[2], ea, k, rest); break;
        case 3: eval4_two(ea, eam, u, t.a, m, k); square_top(t.values[3], eam, k, rest); break;
        case 4: eval4_half(ea, t.a, m, k); square_top(t.values[4], ea, k, rest); break;
        case 5: square_vv(t.r, t.a, k, rest); break;
        default: square_vv(t.r + 6 * k, t.a + 3 * k, m - 3 * k, rest); break;
        }
        return;
    }
    mr_digit* eb = eam + (k + 1);
    mr_digit* ebm = eb + (k + 1);
    mr_digit* u = ebm + (k + 1);
    mr_digit* rest = u + (k + 1);
    switch (index) {
    case 0:
    case 1: {
        const bool negative = eval4_one(ea, eam, u, t.a, m, k) != eval4_one(eb, ebm, u, t.b, n, k);
        if (index == 0)
            product_top(t.values[0], ea, eb, k, rest);
        else {
            t.negative[1] = negative;
            product_top(t.values[1], eam, ebm, k, rest);
        }
        break;
    }
    case 2:
    case 3: {
        const bool negative = eval4_two(ea, eam, u, t.a, m, k) != eval4_two(eb, ebm, u, t.b, n, k);
        if (index == 2)
            product_top(t.values[2], ea, eb, k, rest);
        else {
            t.negative[3] = negative;
            product_top(t.values[3], eam, ebm, k, rest);
        }
        break;
    }
    case 4:
        eval4_half(ea, t.a, m, k);
        eval4_half(eb, t.b, n, k);
        product_top(t.values[4], ea, eb, k, rest);
        break;
    case 5: product_vv(t.r, t.a, k, t.b, k, rest); break;
    default: product_vv(t.r + 6 * k, t.a + 3 * k, m - 3 * k, t.b + 3 * k, n - 3 * k, rest); break;
    }
}

// Toom-8's points, a task for each pair's two (0 to 5: +-x_j, into
// values[2j] and values[2j + 1], which it then adds, add_pair), so that
// each factor is evaluated once a pair and the pair's values are added on
// the thread that made them; 6 the point 2/3; 7 and 8 the products at 0
// and infinity.
constexpr int toom8_tasks = 9;

void toom8_point(toom_points& t, int index, mr_digit* room) {
    const int k = t.k, m = t.m, n = t.n;
    const bool square = t.kind == toom_kind::toom8_square;
    if (index >= 7) {
        const int at = index == 7 ? 0 : 7 * k;  // the lowest pieces or the top ones
        mr_digit* z = t.r + 2 * at;
        if (square)
            square_vv(z, t.a + at, index == 7 ? k : m - at, room);
        else
            product_vv(z, t.a + at, index == 7 ? k : m - at, t.b + at, index == 7 ? k : n - at, room);
        return;
    }
    const int j = index;
    mr_digit* top = room;                      // k words a factor
    mr_digit* e = room + (square ? k : 2 * k);  // k + 1 words a part
    mr_digit* ap = e;
    mr_digit* am = e + (k + 1);
    if (square) {
        mr_digit* rest = e + 2 * (k + 1);
        eval8_point(ap, am, toom8_pieces(t.a, m, k, top), k, j);
        square_top(t.values[2 * j], ap, k, rest);
        if (j == 6) return;
        square_top(t.values[2 * j + 1], am, k, rest);
        add_pair(k, j, t.values, t.negative);
        return;
    }
    mr_digit* bp = e + 2 * (k + 1);
    mr_digit* bm = e + 3 * (k + 1);
    mr_digit* rest = e + 4 * (k + 1);
    const bool negative_a = eval8_point(ap, am, toom8_pieces(t.a, m, k, top), k, j);
    const bool negative_b = eval8_point(bp, bm, toom8_pieces(t.b, n, k, top + k), k, j);
    product_top(t.values[2 * j], ap, bp, k, rest);
    if (j == 6) return;
    t.negative[2 * j + 1] = negative_a != negative_b;
    product_top(t.values[2 * j + 1], am, bm, k, rest);
    add_pair(k, j, t.values, t.negative);
}

// Toom-4's interpolation on the pool, for products (a square's points are
// cheaper, and there the steps measured slower: 2048 words on two threads,
// medians 49.8-50.3 against 47.2-48.6 us). Its passes (toom4_interpolate)
// form steps, each run by the thread whose task or step completes the last
// of its inputs, right after it, while the other threads still compute
// points; no thread waits for another. The points run v0 and vinf first
// and v_half last, so that only the steps that need v_half (H and C3
// below, then the final sums) remain when the last point is done.
//     A:  (v1, vm1) <- (v1 + vm1, v1 - vm1)       after the points v1, vm1
//     B:  (v2, vm2) <- (v2 + vm2, v2 - vm2)       after the points v2, vm2
//     V:  v0's top words cleared, vinf copied      after the points v0, vinf
//     E1: v1 <- c2 + c4                            after A, V
//     X3: vm2 <- 3X                                after A, B
//     E2: v2 <- c4, v1 <- c2                       after E1, B
//     H:  vh <- 3Y                                 after E2, the point vh
//     C3: vm1 <- c3, vm2 <- c5, vh <- c1           after H, X3
// vinf is copied into r[2k + 2 ..], free until the final sums, which the
// calling thread adds once the run is done.
enum toom4_step { step_a, step_b, step_v, step_e1, step_x3, step_e2, step_h, step_c3 };

// The order in which the run's tasks compute the points (toom4_point's
// indexes): v0, vinf, v1, vm1, v2, vm2, v_half.
constexpr int toom4_point_order[7] = {5, 6, 0, 1, 2, 3, 4};

void toom4_arrive(toom_points& t, toom4_step step);

void toom4_run_step(toom_points& t, toom4_step step) {
    const int k = t.k, p = 2 * k + 2;
    mr_digit* const v0 = t.r;
    const mr_digit* const vinf = t.r + 2 * k + 2;
    mr_digit** v = t.values;  // v1, vm1, v2, vm2, vh
    switch (step) {
    case step_a:
        add_sub(v[0], v[1], p);
        if (t.negative[1]) std::swap(v[0], v[1]);
        toom4_arrive(t, step_e1);
        toom4_arrive(t, step_x3);
        break;
    case step_b:
        add_sub(v[2], v[3], p);
        if (t.negative[3]) std::swap(v[2], v[3]);
        toom4_arrive(t, step_x3);
        toom4_arrive(t, step_e2);
        break;
    case step_v: {
        const int vinf_n = t.m + t.n - 6 * k;
        v0[2 * k] = v0[2 * k + 1] = 0;
        copy_words(t.r + 2 * k + 2, t.r + 6 * k, vinf_n);
        zero_words(t.r + 2 * k + 2 + vinf_n, p - vinf_n);
        toom4_arrive(t, step_e1);
        break;
    }
    case step_e1:
        combine<1, 1, -2, -2>(v[0], p, {v0, vinf});
        toom4_arrive(t, step_e2);
        break;
    case step_x3:
        combine<2, 1, -2>(v[3], p, {v[1]});
        toom4_arrive(t, step_c3);
        break;
    case step_e2:
        combine<3, 1, -2, -128, -8>(v[2], p, {v0, vinf, v[0]});
        divexact_by_factor(v[2], p, 3);
        sub_vv(v[0], v[0], v[2], p);
        toom4_arrive(t, step_h);
        break;
    case step_h:
        combine<1, 1, -64, -16, -4, -1, -1>(v[4], p, {v0, v[0], v[2], vinf, v[1]});
        toom4_arrive(t, step_c3);
        break;
    case step_c3:
        combine<1, 15, -2, -2>(v[1], p, {v[3], v[4]});
        divexact_by_factor(v[1], p, 3);
        divexact_by_factor(v[1], p, 3);
        combine_divexact<-3>(v[3], v[1], p, 15);
        combine_divexact<-3>(v[4], v[1], p, 15);
        break;
    }
}

// One input of `step` is done: the thread that completes the last one runs
// it.
void toom4_arrive(toom_points& t, toom4_step step) {
    if (t.waiting[step].fetch_sub(1, std::memory_order_acq_rel) == 1) toom4_run_step(t, step);
}

// After toom4_point's point `point`: the steps it is an input of.
void toom4_point_done(toom_points& t, int point) {
    switch (point) {
    case 0:
    case 1: toom4_arrive(t, step_a); break;
    case 2:
    case 3: toom4_arrive(t, step_b); break;
    case 4: toom4_arrive(t, step_h); break;
    default: toom4_arrive(t, step_v); break;
    }
}

void point_task(void* context, int index, const pool_executor& executor) {
    auto& t = *static_cast<toom_points*>(context);
    // Toom-4 products interpolate in steps (above), squares after the run.
    const bool steps = t.kind == toom_kind::toom4_product;
    const auto point = [&](mr_digit* room) {
        if (steps)
            toom4_point(t, toom4_point_order[index], room);
        else if (t.kind == toom_kind::toom4_square)
            toom4_point(t, index, room);
        else if (t.kind == toom_kind::toom8_product || t.kind == toom_kind::toom8_square)
            toom8_point(t, index, room);
        else
            toom3_point(t, index, room);
    };
    if (executor.helping) {
        // A thread helping another's run: the product area of its instance.
        const scratch_claim room(area_product);
        point(room.words());
    } else {
        point(t.caller_room);
    }
    if (steps) toom4_point_done(t, toom4_point_order[index]);
}

// Runs the point products of one Toom level on the pool; false (nothing
// done) when the pool cannot take them or a worker's room is too small.
bool run_points(toom_points& t) {
    if (t.m < parallel_product_threshold || !pool_available() || engine_instance == nullptr) return false;
    if (point_task_words(t.kind, t.k) > scratch_words_size(area_product)) return false;
    const int count = t.kind == toom_kind::toom3_product || t.kind == toom_kind::toom3_square     ? 5
                      : t.kind == toom_kind::toom8_product || t.kind == toom_kind::toom8_square ? toom8_tasks
                                                                                                 : 7;
    return pool_run(count, point_task, &t);
}

}  // namespace

bool parallel_toom3(mr_digit* r, const mr_digit* a, int m, const mr_digit* b, int n, mr_digit* scratch) {
    const int k = (m + 2) / 3;
    const int p = 2 * k + 2;
    const bool square = b == nullptr;
    toom_points t{square ? toom_kind::toom3_square : toom_kind::toom3_product,
                  r, a, m, b, n, k, {scratch, scratch + p, scratch + 2 * p, nullptr, nullptr}, scratch + 3 * p, {}};
    if (!run_points(t)) return false;
    toom3_interpolate(r, m + (square ? m : n), k, t.values[0], t.values[1], t.negative[1], t.values[2]);
    return true;
}

bool parallel_toom4(mr_digit* r, const mr_digit* a, int m, const mr_digit* b, int n, mr_digit* scratch) {
    const int k = (m + 3) / 4;
    const int p = 2 * k + 2;
    const bool square = b == nullptr;
    toom_points t{square ? toom_kind::toom4_square : toom_kind::toom4_product,
                  r, a, m, b, n, k,
                  {scratch, scratch + p, scratch + 2 * p, scratch + 3 * p, scratch + 4 * p}, scratch + 5 * p, {}};
    for (auto& w : t.waiting) w.store(2, std::memory_order_relaxed);  // every step has two inputs
    if (!run_points(t)) return false;
    if (square) {
        toom4_interpolate(r, 2 * m, k, t.values[0], t.values[1], false, t.values[2], t.values[3], false, t.values[4],
                          t.caller_room);
        return true;
    }
    // The steps are done (toom4_run_step): c2 and c4 are copied into the
    // words between v0 and vinf, their tops and c1, c3, c5 added, as at the
    // end of toom4_interpolate.
    const int rn = m + (square ? m : n);
    const mr_digit* c2 = t.values[0];
    const mr_digit* c3 = t.values[1];
    const mr_digit* c4 = t.values[2];
    const mr_digit* c5 = t.values[3];
    const mr_digit* c1 = t.values[4];
    copy_words(r + 2 * k, c2, 2 * k);
    copy_words(r + 4 * k, c4, 2 * k);
    add_at(r, rn, 4 * k, c2 + 2 * k, 2);
    add_at(r, rn, 6 * k, c4 + 2 * k, 2);
    add_at(r, rn, k, c1, p);
    add_at(r, rn, 3 * k, c3, p);
    add_at(r, rn, 5 * k, c5, p);
    return true;
}

bool parallel_toom8(mr_digit* r, const mr_digit* a, int m, const mr_digit* b, int n, mr_digit* scratch) {
    const int k = (m + 7) / 8;
    const int p = 2 * k + 2;
    const bool square = b == nullptr;
    toom_points t{square ? toom_kind::toom8_square : toom_kind::toom8_product, r, a, m, b, n, k, {}, scratch + 15 * p,
                  {}};
    for (int i = 0; i < 13; ++i) t.values[i] = scratch + i * p;
    if (!run_points(t)) return false;
    toom8_interpolate(r, m + (square ? m : n), k, t.values, t.negative, true, scratch + 13 * p);
    return true;
}
