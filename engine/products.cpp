// Products and squares of word vectors. Small operands take the schoolbook
// kernels (rows on 64-bit limbs); above the thresholds of thresholds.h Karatsuba splits
// in two and Toom-3 in three; a long operand times a much shorter one is cut
// into pieces of the short one's length.
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
#include "products.h"

#include <algorithm>
#include <cstring>

#include "kernels.h"
#include "thresholds.h"

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

// r = a * b over a long a cut into pieces of n words (n <= (m+1)/2).
void unbalanced_product(mr_digit* r, const mr_digit* a, int m, const mr_digit* b, int n, mr_digit* scratch) {
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
    divexact3_vv(v2, v2, p);
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

}  // namespace

void schoolbook_product(mr_digit* r, const mr_digit* a, int m, const mr_digit* b, int n) {
    mul_basecase_vv(r, a, m, b, n);
}

void schoolbook_square(mr_digit* r, const mr_digit* a, int m) { sqr_basecase_vv(r, a, m); }

void karatsuba_product(mr_digit* r, const mr_digit* a, int m, const mr_digit* b, int n, mr_digit* scratch) {
    const int h = (m + 1) / 2;
    const int a1n = m - h, b1n = n - h;
    mr_digit* t = scratch;              // 2h words: |a0-a1| * |b0-b1|
    mr_digit* da = scratch + 2 * h;     // h words
    mr_digit* db = scratch + 3 * h;     // h words
    mr_digit* u = scratch + 2 * h;      // 2h + 1 words, after da and db are used
    mr_digit* rest = scratch + 4 * h + 1;
    const bool a_neg = abs_diff(da, a, h, a + h, a1n);
    const bool b_neg = abs_diff(db, b, h, b + h, b1n);
    product_vv(t, da, h, db, h, rest);
    product_vv(r, a, h, b, h, rest);
    product_vv(r + 2 * h, a + h, a1n, b + h, b1n, rest);
    // u = z0 + z2 -+ t, the middle coefficient a0*b1 + a1*b0 >= 0.
    const int z2n = a1n + b1n;
    u[2 * h] = add_nn(u, r, 2 * h, r + 2 * h, z2n);
    if (a_neg == b_neg)
        u[2 * h] -= sub_vv(u, u, t, 2 * h);
    else
        u[2 * h] += add_vv(u, u, t, 2 * h);
    add_at(r, m + n, h, u, 2 * h + 1);
}

void karatsuba_square(mr_digit* r, const mr_digit* a, int m, mr_digit* scratch) {
    const int h = (m + 1) / 2;
    const int a1n = m - h;
    mr_digit* t = scratch;
    mr_digit* d = scratch + 2 * h;
    mr_digit* u = scratch + 2 * h;
    mr_digit* rest = scratch + 4 * h + 1;
    abs_diff(d, a, h, a + h, a1n);
    square_vv(t, d, h, rest);
    square_vv(r, a, h, rest);
    square_vv(r + 2 * h, a + h, a1n, rest);
    u[2 * h] = add_nn(u, r, 2 * h, r + 2 * h, 2 * a1n);
    u[2 * h] -= sub_vv(u, u, t, 2 * h);
    add_at(r, 2 * m, h, u, 2 * h + 1);
}

void toom3_product(mr_digit* r, const mr_digit* a, int m, const mr_digit* b, int n, mr_digit* scratch) {
    const int k = (m + 2) / 3;
    const int p = 2 * k + 2;
    mr_digit* v1 = scratch;
    mr_digit* vm1 = scratch + p;
    mr_digit* v2 = scratch + 2 * p;
    mr_digit* ea = scratch + 3 * p;       // k + 1 words
    mr_digit* eb = ea + (k + 1);          // k + 1 words
    mr_digit* rest = eb + (k + 1);
    eval_one(ea, a, m, k);
    eval_one(eb, b, n, k);
    product_vv(v1, ea, k + 1, eb, k + 1, rest);
    bool vm1_negative = eval_minus_one(ea, a, m, k);
    vm1_negative ^= eval_minus_one(eb, b, n, k);
    product_vv(vm1, ea, k + 1, eb, k + 1, rest);
    eval_two(ea, a, m, k);
    eval_two(eb, b, n, k);
    product_vv(v2, ea, k + 1, eb, k + 1, rest);
    product_vv(r, a, k, b, k, rest);
    product_vv(r + 4 * k, a + 2 * k, m - 2 * k, b + 2 * k, n - 2 * k, rest);
    toom3_interpolate(r, m + n, k, v1, vm1, vm1_negative, v2);
}

void toom3_square(mr_digit* r, const mr_digit* a, int m, mr_digit* scratch) {
    const int k = (m + 2) / 3;
    const int p = 2 * k + 2;
    mr_digit* v1 = scratch;
    mr_digit* vm1 = scratch + p;
    mr_digit* v2 = scratch + 2 * p;
    mr_digit* ea = scratch + 3 * p;
    mr_digit* rest = ea + (k + 1);
    eval_one(ea, a, m, k);
    square_vv(v1, ea, k + 1, rest);
    eval_minus_one(ea, a, m, k);
    square_vv(vm1, ea, k + 1, rest);
    eval_two(ea, a, m, k);
    square_vv(v2, ea, k + 1, rest);
    square_vv(r, a, k, rest);
    square_vv(r + 4 * k, a + 2 * k, m - 2 * k, rest);
    toom3_interpolate(r, 2 * m, k, v1, vm1, false, v2);
}

void product_vv(mr_digit* r, const mr_digit* a, int m, const mr_digit* b, int n, mr_digit* scratch) {
    if (n < product_karatsuba_threshold)
        schoolbook_product(r, a, m, b, n);
    else if (n <= (m + 1) / 2)
        unbalanced_product(r, a, m, b, n, scratch);
    else if (n < product_toom3_threshold || n <= 2 * ((m + 2) / 3))
        karatsuba_product(r, a, m, b, n, scratch);
    else
        toom3_product(r, a, m, b, n, scratch);
}

void square_vv(mr_digit* r, const mr_digit* a, int m, mr_digit* scratch) {
    if (m < square_karatsuba_threshold)
        schoolbook_square(r, a, m);
    else if (m < square_toom3_threshold)
        karatsuba_square(r, a, m, scratch);
    else
        toom3_square(r, a, m, scratch);
}

std::size_t product_scratch_words(int m, int n) {
    if (n < product_karatsuba_threshold) return 0;
    if (n <= (m + 1) / 2)
        return 2 * static_cast<std::size_t>(n) +
               std::max(product_scratch_words(n, n), m % n == 0 ? 0 : product_scratch_words(n, m % n));
    if (n < product_toom3_threshold || n <= 2 * ((m + 2) / 3)) {
        const int h = (m + 1) / 2;
        return 4 * static_cast<std::size_t>(h) + 1 +
               std::max(product_scratch_words(h, h), product_scratch_words(m - h, n - h));
    }
    const int k = (m + 2) / 3;
    return 8 * static_cast<std::size_t>(k) + 8 +
           std::max({product_scratch_words(k + 1, k + 1), product_scratch_words(k, k),
                     product_scratch_words(m - 2 * k, n - 2 * k)});
}

std::size_t square_scratch_words(int m) {
    if (m < square_karatsuba_threshold) return 0;
    if (m < square_toom3_threshold) {
        const int h = (m + 1) / 2;
        return 4 * static_cast<std::size_t>(h) + 1 + std::max(square_scratch_words(h), square_scratch_words(m - h));
    }
    const int k = (m + 2) / 3;
    return 8 * static_cast<std::size_t>(k) + 8 +
           std::max({square_scratch_words(k + 1), square_scratch_words(k), square_scratch_words(m - 2 * k)});
}
