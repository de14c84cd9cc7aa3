// Products and squares of word vectors. Small operands take the schoolbook
// kernels (rows on 64-bit limbs); above the thresholds of thresholds.h
// Karatsuba splits in two, Toom-3 in three, Toom-4 in four and Toom-8 in
// eight (toom8.cpp); a factor two to two and a half times as long as the
// other splits in four against two (Toom-4/2), and a long operand times a
// much shorter one is cut into pieces of the short one's length. The code
// here works on word vectors alone; the top levels' point products on the
// worker pool are product_tasks.cpp's, reached through install_pool_levels.
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
#include <vector>

#include "kernels.h"
#include "pool.h"
#include "thresholds.h"
#include "toom.h"

namespace {

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
// words in the top piece, 1 <= m - 2k <= k), each value of k + 1 words, in
// few passes (the pool's tasks evaluate a point apart, product_tasks.cpp):
// a(1) into e1 and a(2) into e2 in one pass over the three pieces, then |a(-1)| in
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
}  // namespace

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

namespace {
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

}  // namespace

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
    const pool_levels* pool = installed_pool_levels();
    if (pool != nullptr && pool->toom3(r, a, m, b, n, scratch)) return;
    const toom_layout layout = toom3_layout(m, false);
    const int k = layout.k;
    const int p = 2 * k + 2;
    mr_digit* v1 = scratch;
    mr_digit* vm1 = scratch + p;
    mr_digit* v2 = scratch + 2 * p;
    mr_digit* ea = scratch + 3 * p;       // k + 1 words
    mr_digit* eb = ea + (k + 1);          // k + 1 words
    mr_digit* rest = eb + (k + 1);
    TORVANE_LAYOUT_FITS(rest, scratch, layout);
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
    const pool_levels* pool = installed_pool_levels();
    if (pool != nullptr && pool->toom3(r, a, m, nullptr, m, scratch)) return;
    const toom_layout layout = toom3_layout(m, true);
    const int k = layout.k;
    const int p = 2 * k + 2;
    mr_digit* v1 = scratch;
    mr_digit* vm1 = scratch + p;
    mr_digit* v2 = scratch + 2 * p;
    mr_digit* ea = scratch + 3 * p;
    mr_digit* rest = ea + (k + 1);
    TORVANE_LAYOUT_FITS(rest, scratch, layout);
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
    const toom_layout layout = toom42_layout(m);
    const int k = layout.k;
    const int p = 2 * k + 2;
    mr_digit* v1 = scratch;
    mr_digit* vm1 = scratch + p;
    mr_digit* v2 = scratch + 2 * p;
    mr_digit* ea = scratch + 3 * p;   // k + 1 words each
    mr_digit* eam = ea + (k + 1);
    mr_digit* eb = eam + (k + 1);
    mr_digit* t = eb + (k + 1);
    mr_digit* rest = t + (k + 1);
    TORVANE_LAYOUT_FITS(rest, scratch, layout);
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
    const pool_levels* pool = installed_pool_levels();
    if (pool != nullptr && pool->toom4(r, a, m, b, n, scratch)) return;
    const toom_layout layout = toom4_layout(m, false);
    const int k = layout.k;
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
    TORVANE_LAYOUT_FITS(rest, scratch, layout);
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
    const pool_levels* pool = installed_pool_levels();
    if (pool != nullptr && pool->toom4(r, a, m, nullptr, m, scratch)) return;
    const toom_layout layout = toom4_layout(m, true);
    const int k = layout.k;
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
    TORVANE_LAYOUT_FITS(rest, scratch, layout);
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

// The views a level of m words may meet: the dispatch reads the pool only
// from parallel_product_threshold words.
constexpr pool_view every_pool_view[] = {{false, false}, {true, true}, {true, false}};

// The view for a level of m words. Below the threshold no method depends
// on it, and the pool's state is not read: on builds whose thread-locals
// are emulated (mingw-w64) each read is a call, and the recursion reaches
// this for every sub-product.
pool_view current_pool_view(int m) {
    if (m < parallel_product_threshold) return every_pool_view[0];
    return {pool_available(), pool_inside_task()};
}

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
    switch (product_method(m, n, current_pool_view(m))) {
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
    switch (square_method(m, current_pool_view(m))) {
    case method::schoolbook: schoolbook_square(r, a, m); break;
    case method::karatsuba: karatsuba_square(r, a, m, scratch); break;
    case method::toom3: toom3_square(r, a, m, scratch); break;
    case method::toom8: toom8_square(r, a, m, scratch); break;
    default: toom4_square(r, a, m, scratch); break;
    }
}

std::size_t fixed_factor_words(int m) {
    return product_method(m, m, every_pool_view[0]) == method::toom8 ? toom8_points_words(m) : 0;
}

void make_fixed_factor(const mr_digit* b, int m, mr_digit* fixed) { toom8_make_points(b, m, fixed); }

void product_fixed(mr_digit* r, const mr_digit* a, const mr_digit* b, int m, const mr_digit* fixed, mr_digit* scratch) {
    // Where the pool may take the level, its own Toom-8 runs instead.
    const pool_view view = current_pool_view(m);
    if (fixed != nullptr && !view.available && product_method(m, m, view) == method::toom8)
        toom8_product_points(r, a, b, m, fixed, scratch);
    else
        product_vv(r, a, m, b, m, scratch);
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
        const toom_layout layout = toom3_layout(m, false);
        const int k = layout.k;
        return layout.rest() + std::max({product_scratch_words(k + 1, k + 1), product_scratch_words(k, k),
                                         product_scratch_words(m - 2 * k, n - 2 * k)});
    }
    case method::toom42: {
        const toom_layout layout = toom42_layout(m);
        const int k = layout.k;
        const int top_a = m - 3 * k, top_b = n - k;
        return layout.rest() + std::max({product_scratch_words(k + 1, k + 1), product_scratch_words(k, k),
                                         product_scratch_words(std::max(top_a, top_b), std::min(top_a, top_b))});
    }
    case method::toom4: {
        const toom_layout layout = toom4_layout(m, false);
        const int k = layout.k;
        return layout.rest() + std::max({product_scratch_words(k + 1, k + 1), product_scratch_words(k, k),
                                         product_scratch_words(m - 3 * k, n - 3 * k)});
    }
    case method::toom8: {
        const toom_layout layout = toom8_layout(m, false);
        const int k = layout.k;
        return layout.rest() + std::max(product_scratch_words(k, k), product_scratch_words(m - 7 * k, n - 7 * k));
    }
    case method::toom84: {
        const toom_layout layout = toom84_layout(m);
        const int k = layout.k;
        const int top_a = m - 7 * k, top_b = n - 3 * k;
        return layout.rest() + std::max(product_scratch_words(k, k),
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
        const toom_layout layout = toom3_layout(m, true);
        const int k = layout.k;
        return layout.rest() +
               std::max({square_scratch_words(k + 1), square_scratch_words(k), square_scratch_words(m - 2 * k)});
    }
    case method::toom4: {
        const toom_layout layout = toom4_layout(m, true);
        const int k = layout.k;
        return layout.rest() +
               std::max({square_scratch_words(k + 1), square_scratch_words(k), square_scratch_words(m - 3 * k)});
    }
    case method::toom8: {
        const toom_layout layout = toom8_layout(m, true);
        const int k = layout.k;
        return layout.rest() + std::max(square_scratch_words(k), square_scratch_words(m - 7 * k));
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

std::atomic<const pool_levels*> pool_levels_installed{nullptr};

void install_pool_levels(const pool_levels* levels) { pool_levels_installed.store(levels, std::memory_order_release); }

namespace {

// most[t] for t = 0 .. total: at least product_scratch_words(m, n) for every
// m + n <= t (and square_scratch_words(m) for 2m <= t).
std::vector<std::size_t> product_area_bounds(int total) {
    // most[t]: the bound for factors of at most t words together, from the
    // smallest t up. Below twice the Karatsuba threshold the shorter factor
    // is below it: the schoolbook, no scratch. Otherwise each method at the
    // largest k its shape allows at this total (each part grows with k) and
    // the bound of its largest sub-product below it; layouts as carved.
    std::vector<std::size_t> most(static_cast<std::size_t>(std::max(total, 0)) + 1, 0);
    for (int t = 2 * product_karatsuba_threshold; t <= total; ++t) {
        const auto below = [&](int u) { return most[static_cast<std::size_t>(std::min(u, t - 1))]; };
        std::size_t w = most[static_cast<std::size_t>(t) - 1];
        // Pieces: n <= (m + 1) / 2, so n <= (t + 1) / 3; each piece's product n by n at most.
        const int pieces = (t + 1) / 3;
        w = std::max(w, 2 * static_cast<std::size_t>(pieces) + below(2 * pieces));
        // Karatsuba: n > (m + 1) / 2, so m + (m + 1) / 2 + 1 <= t; h <= (m + 1) / 2 + 1, and
        // both sub-products have at most m + 3 words together (n <= m).
        int m = std::max(0, (2 * t - 3) / 3 - 2);
        while ((m + 1) + (m + 2) / 2 + 1 <= t) ++m;
        const int h = (m + 1) / 2 + 1;
        w = std::max(w, 4 * static_cast<std::size_t>(h) + 1 + below(m + 3));
        // The Toom methods: m >= c k - (c - 1) for k = ceil(m / c) and n at least
        // its least; the point products have at most 2k + 2 words together.
        const auto toom = [&](int k, const toom_layout& layout) {
            w = std::max(w, layout.rest() + below(2 * k + 2));
        };
        toom((t + 1) / 5, toom3_layout(3 * ((t + 1) / 5), false));   // n > 2k
        toom((t + 2) / 5, toom42_layout(4 * ((t + 2) / 5)));         // n > k
        toom((t + 2) / 7, toom4_layout(4 * ((t + 2) / 7), false));   // n > 3k
        toom((t + 6) / 15, toom8_layout(8 * ((t + 6) / 15), false)); // n > 7k
        toom((t + 6) / 11, toom84_layout(8 * ((t + 6) / 11)));       // 3k < n <= 4k
        most[static_cast<std::size_t>(t)] = w;
    }
    return most;
}

// equal[j] for j = 0 .. longest: at least product_scratch_words(i, i) for
// every i <= j. A product of two equal lengths splits only into products of
// equal lengths (Karatsuba's halves, the Toom points and top pieces): so
// each method's own part at j by its layout, whichever the dispatch takes,
// plus the bound of its largest sub-product. Below the Karatsuba threshold
// the schoolbook, no scratch.
std::vector<std::size_t> equal_product_bounds(int longest) {
    std::vector<std::size_t> equal(static_cast<std::size_t>(std::max(longest, 0)) + 1, 0);
    for (int j = product_karatsuba_threshold; j <= longest; ++j) {
        const auto below = [&](int u) { return equal[static_cast<std::size_t>(std::min(u, j - 1))]; };
        std::size_t w = equal[static_cast<std::size_t>(j) - 1];
        const int h = karatsuba_split(j, j);
        w = std::max(w, 4 * static_cast<std::size_t>(h) + 1 + below(std::max(h, j - h)));
        const toom_layout t3 = toom3_layout(j, false), t4 = toom4_layout(j, false), t8 = toom8_layout(j, false);
        w = std::max({w, t3.rest() + below(t3.k + 1), t4.rest() + below(t4.k + 1), t8.rest() + below(t8.k)});
        equal[static_cast<std::size_t>(j)] = w;
    }
    return equal;
}

}  // namespace

std::size_t product_area_words(int total) {
    return total < 0 ? 0 : product_area_bounds(total)[static_cast<std::size_t>(total)];
}

low_product_layout low_product_layout_for(int n) {
    const int h = n / 4;
    return {h, n - h, n >= monty_low_product_split};
}

wrap_layout wrap_layout_for(int N) { return {N / 2, N % 2 == 0 && N >= monty_wrap_split_min}; }

int wrap_length_for(int k) {
    int j = 0;
    while ((k >> j) >= monty_wrap_split_min) ++j;
    const int step = 1 << j;
    return (k + step - 1) / step * step;
}

parallel_low_layout parallel_low_layout_for(int n) {
    const int h = n / 2, h1 = h / 2;
    return {h, n - h, h1, h - h1};
}

parallel_wrap_layout parallel_wrap_layout_for(int N) { return {wrap_layout_for(N), N / 4}; }

fixed_reduce_layout fixed_reduce_layout_for(int k) {
    const low_product_layout low = low_product_layout_for(k);
    const int N = wrap_length_for(k);
    const wrap_layout wrap = wrap_layout_for(N);
    return {low.split ? fixed_factor_words(low.l) : 0, wrap.split ? wrap.h : 0,
            wrap.split ? fixed_factor_words(wrap.h) : 0, N};
}

std::size_t fixed_reduce_area_words(int max_length) {
    std::size_t most = 0;
    for (int k = 1; k <= max_length; ++k) most = std::max(most, fixed_reduce_layout_for(k).words());
    return most;
}

std::size_t low_product_scratch_words(int n) {
    const low_product_layout layout = low_product_layout_for(n);
    if (!layout.split) return 0;
    const int h = layout.h, l = layout.l;
    return std::max(2 * static_cast<std::size_t>(l) + product_scratch_words(l, l),
                    static_cast<std::size_t>(h) + low_product_scratch_words(h));
}

std::size_t wrapped_product_scratch_words(int N) {
    const wrap_layout layout = wrap_layout_for(N);
    if (!layout.split) return 2 * static_cast<std::size_t>(N) + product_scratch_words(N, N);
    const int h = layout.h;
    return layout.rest() + std::max(product_scratch_words(h + 1, h + 1), wrapped_product_scratch_words(h));
}

std::size_t reduce_products_area_words(int max_length) {
    // For each modulus length k up to max_length, the scratch sizes above
    // with the scratch of each product of two i-word factors bounded by
    // equal[i]: low[k] and wrap[N] bound low_product_scratch_words(k) and
    // wrapped_product_scratch_words(N), for the wrap-around product's
    // length N = wrap_length_for(k), after the N words of the modulus
    // copied there; the pool's pieces run on the scratch after their
    // layout's used() words. Below reduction by multiplication a product or
    // square of two residues is formed in the scratch (modmult_in_area),
    // bounded by most[] (its factors' words together).
    const int L = std::max(max_length, 0);
    const int W = std::max(wrap_length_for(L), L);
    const std::vector<std::size_t> most = product_area_bounds(2 * std::min(L, monty_multiply_reduce_min));
    const std::vector<std::size_t> equal = equal_product_bounds(W + 1);
    const auto product = [&](int words) { return equal[static_cast<std::size_t>(words)]; };
    std::vector<std::size_t> low(static_cast<std::size_t>(W) + 1, 0), wrap(static_cast<std::size_t>(W) + 1, 0);
    for (int i = 1; i <= W; ++i) {
        const auto I = static_cast<std::size_t>(i);
        const low_product_layout lp = low_product_layout_for(i);
        if (lp.split)
            low[I] = std::max(2 * static_cast<std::size_t>(lp.l) + product(lp.l),
                              static_cast<std::size_t>(lp.h) + low[static_cast<std::size_t>(lp.h)]);
        const wrap_layout wp = wrap_layout_for(i);
        wrap[I] = wp.split ? wp.rest() + std::max(product(wp.h + 1), wrap[static_cast<std::size_t>(wp.h)])
                           : 2 * I + product(i);
    }
    std::size_t area = 0;
    for (int k = 1; k <= L; ++k) {
        const auto K = static_cast<std::size_t>(k);
        const int N = wrap_length_for(k);
        const auto NN = static_cast<std::size_t>(N);
        std::size_t need = std::max(low[K], NN + wrap[NN]);
        if (k < monty_multiply_reduce_min) need = std::max(need, most[2 * K]);
        if (k >= parallel_reduce_min) {
            const parallel_low_layout pl = parallel_low_layout_for(k);
            need = std::max(need, pl.used() + std::max({product(pl.l), product(pl.l1),
                                                        low[static_cast<std::size_t>(pl.h1)]}));
        }
        if (N >= parallel_reduce_min) {
            const parallel_wrap_layout pw = parallel_wrap_layout_for(N);
            need = std::max(need, NN + pw.used() + std::max({product(pw.top.h + 1), product(pw.g + 1),
                                                             wrap[static_cast<std::size_t>(pw.g)]}));
        }
        area = std::max(area, need);
    }
    return area;
}
