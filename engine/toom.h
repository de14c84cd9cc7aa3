// What the Toom methods share among products.cpp, toom8.cpp and
// product_tasks.cpp (their point products on the worker pool): the linear
// passes over word vectors, the evaluations and interpolations that a pool
// task runs as the method on one thread does, and the hook to the pool.
#ifndef TORVANE_ENGINE_TOOM_H
#define TORVANE_ENGINE_TOOM_H

#include <x86intrin.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine.h"
#include "kernels.h"
#include "products.h"

// The passes, each file's own copy (internal and inline, as where they were
// written), so that the compiler sees them whole at every call.
namespace {

inline void zero_words(mr_digit* z, int n) {
    if (n > 0) std::memset(z, 0, sizeof(mr_digit) * static_cast<std::size_t>(n));
}

inline void copy_words(mr_digit* z, const mr_digit* x, int n) {
    if (n > 0) std::memcpy(z, x, sizeof(mr_digit) * static_cast<std::size_t>(n));
}

// z[0 .. xn-1] = x + y for xn >= yn; returns the carry out.
inline mr_digit add_nn(mr_digit* z, const mr_digit* x, int xn, const mr_digit* y, int yn) {
    const mr_digit c = add_vv(z, x, y, yn);
    return add_vw(z + yn, x + yn, xn - yn, c);
}

// z[0 .. xn-1] = x - y for xn >= yn and x >= y.
inline void sub_nn(mr_digit* z, const mr_digit* x, int xn, const mr_digit* y, int yn) {
    const mr_digit b = sub_vv(z, x, y, yn);
    sub_vw(z + yn, x + yn, xn - yn, b);
}

// z[0 .. xn-1] = |x - y| for xn >= yn; returns true when x < y.
inline bool abs_diff(mr_digit* z, const mr_digit* x, int xn, const mr_digit* y, int yn) {
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

// Adds x (xn words) into r (rn words) at word `at`, carrying up to the top.
// Words of x at or beyond r's top are left out: the callers know they are 0.
inline void add_at(mr_digit* r, int rn, int at, const mr_digit* x, int xn) {
    xn = std::min(xn, rn - at);
    if (xn <= 0) return;
    const mr_digit c = add_vv(r + at, r + at, x, xn);
    add_vw(r + at + xn, r + at + xn, rn - at - xn, c);
}

// (x, y) <- (x + y, x - y) over n words, both known to be non-negative and
// to fit (or modulo B^n): one pass, a limb at a time, the carry and the
// borrow each on a flag chain of its own.
inline void add_sub(mr_digit* x, mr_digit* y, int n) {
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

// The quotient, limb by limb, of a multiple of d by a d that divides
// 2^64 - 1 (3, 5, 15, ...). With f = (2^64 - 1) / d, x f = q (2^64 - 1), so
// q 2^64 - q = x f: limb by limb, q_i = q_(i-1) - (x f)_i, the limbs of x f
// being the low halves of x_i f plus the high halves of the limb below.
// The products stay off the chain of borrows, which is two subtractions a
// limb; the Hensel division's chain runs through two multiplications.
struct factor_quotient {
    std::uint64_t f;  // (2^64 - 1) / d
    std::uint64_t q = 0, high = 0, borrow = 0;  // borrow: 0, 1 or 2

    // The next limb of the quotient, from the next limb of the dividend.
    std::uint64_t next(std::uint64_t limb) {
        __extension__ typedef unsigned __int128 u128;
        const u128 p = static_cast<u128>(limb) * f;
        std::uint64_t t;
        const std::uint64_t b1 = __builtin_sub_overflow(q, static_cast<std::uint64_t>(p), &t);
        const std::uint64_t b2 = __builtin_sub_overflow(t, high + borrow, &q);  // high <= f - 1: no overflow
        borrow = b1 + b2;
        high = static_cast<std::uint64_t>(p >> 64);
        return q;
    }
};

// x = x / d over n words (n even) for such a d that divides x.
inline void divexact_by_factor(mr_digit* x, int n, std::uint64_t d) {
    factor_quotient quotient{~std::uint64_t{0} / d};
    for (int i = 0; i + 1 < n; i += 2) store_limb(x + i, quotient.next(load_limb(x + i)));
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
inline void combine(mr_digit* z, int n, const std::array<const mr_digit*, sizeof...(F)>& x) {
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
inline void combine_divexact(mr_digit* x, const mr_digit* y, int n, std::uint64_t d) {
    factor_quotient quotient{~std::uint64_t{0} / d};
    signed_wide carry = 0;
    for (int i = 0; i + 1 < n; i += 2) {
        const signed_wide acc = carry + static_cast<signed_wide>(load_limb(x + i)) + scaled<F>(load_limb(y + i));
        carry = acc >> 64;
        store_limb(x + i, quotient.next(static_cast<std::uint64_t>(acc)));
    }
}

}  // namespace

// A Toom method's scratch, carved from its start: `values` values of
// p = 2k + 2 words (the points' products, and Toom-8's two spare ones for
// its interpolation), then `evaluations` words (the factors' values at a
// point, and Toom-8's top pieces), then the room of the point products,
// from rest(). The methods carve their parts by it and the scratch sizes
// (product_scratch_words) are summed from it; in debug builds a method
// checks that its parts end at rest().
struct toom_layout {
    int k;
    int values;
    int evaluations;
    std::size_t p() const { return 2 * static_cast<std::size_t>(k) + 2; }
    std::size_t rest() const { return static_cast<std::size_t>(values) * p() + static_cast<std::size_t>(evaluations); }
};
// Toom-3 (k = ceil(m/3)): v1, vm1, v2; an evaluation of each factor.
constexpr toom_layout toom3_layout(int m, bool square) {
    const int k = (m + 2) / 3;
    return {k, 3, (square ? 1 : 2) * (k + 1)};
}
// Toom-4/2 (k = ceil(m/4)): v1, vm1, v2; a's pair, b's value and a pass's room.
constexpr toom_layout toom42_layout(int m) {
    const int k = (m + 3) / 4;
    return {k, 3, 4 * (k + 1)};
}
// Toom-4: v1, vm1, v2, vm2, vh; each factor's pair and a pass's room.
constexpr toom_layout toom4_layout(int m, bool square) {
    const int k = (m + 3) / 4;
    return {k, 5, (square ? 3 : 5) * (k + 1)};
}
// Toom-8 (k = ceil(m/8)): 13 values and 2 spare; the factors' top pieces
// (k words each) and each factor's pair.
constexpr toom_layout toom8_layout(int m, bool square) {
    const int k = (m + 7) / 8;
    return {k, 15, square ? k + 2 * (k + 1) : 2 * k + 4 * (k + 1)};
}
// Toom-8/4: 9 values and 2 spare; as Toom-8's product after them.
constexpr toom_layout toom84_layout(int m) {
    const int k = (m + 7) / 8;
    return {k, 11, 2 * k + 4 * (k + 1)};
}

// Debug builds: a method's carved parts end where its layout says.
#ifdef NDEBUG
#define TORVANE_LAYOUT_FITS(end, scratch, layout) static_cast<void>(0)
#else
#define TORVANE_LAYOUT_FITS(end, scratch, layout) \
    ((end) == (scratch) + (layout).rest() ? static_cast<void>(0) : toom_layout_broken(__FILE__, __LINE__))
[[noreturn]] inline void toom_layout_broken(const char* file, int line) {
    std::fprintf(stderr, "%s:%d: a Toom method's parts do not end where its layout says\n", file, line);
    std::abort();
}
#endif

// Defined in products.cpp.
// r[0 .. 2k+1] = x * y for x and y of k + 1 words, the values at a Toom
// point: their k low words by the dispatch and the top words (small, the
// evaluations being a few times B^k) by two rows. A length of k + 1 would
// carry its odd or unround size down the recursion (129 words take a fifth
// longer than 128, whose halves end on whole kernels).
//     x y = x0 y0 + (x0 y_k + y0 x_k) B^k + x_k y_k B^2k
void product_top(mr_digit* r, const mr_digit* x, const mr_digit* y, int k, mr_digit* scratch);
// r[0 .. 2k+1] = x^2 for x of k + 1 words, the same way: x0^2 + 2 x0 x_k
// B^k + x_k^2 B^2k (one row by 2 x_k while that fits a word).
void square_top(mr_digit* r, const mr_digit* x, int k, mr_digit* scratch);
// a(1) and |a(-1)|: P = a0 + a2, Q = a1 + a3.
bool eval4_one(mr_digit* ep, mr_digit* em, mr_digit* t, const mr_digit* a, int m, int k);
// a(2) and |a(-2)|: P = a0 + 4 a2, Q = 2 (a1 + 4 a3).
bool eval4_two(mr_digit* ep, mr_digit* em, mr_digit* t, const mr_digit* a, int m, int k);
// 8 a(1/2) = ((2 a0 + a1) 2 + a2) 2 + a3.
void eval4_half(mr_digit* e, const mr_digit* a, int m, int k);
// The interpolation of Toom-4 from v1, vm1, v2, vm2 (signs in vm1_negative,
// vm2_negative) and vh (v_half), each p = 2k + 2 words, with v0 and vinf
// already in r; adds c1 .. c5 into r. rn = the product's length; `spare`
// is p words of room.
void toom4_interpolate(mr_digit* r, int rn, int k, mr_digit* v1, mr_digit* vm1, bool vm1_negative, mr_digit* v2,
                       mr_digit* vm2, bool vm2_negative, mr_digit* vh, mr_digit* spare);
// The interpolation of Toom-3 from v1, vm1 (sign in vm1_negative) and v2,
// each p = 2k + 2 words, with v0 and vinf already in r; adds c1, c2 and c3
// into r. rn = the product's length.
void toom3_interpolate(mr_digit* r, int rn, int k, mr_digit* v1, mr_digit* vm1, bool vm1_negative, mr_digit* v2);

// Defined in toom8.cpp.
// The eight pieces of a factor of m words split at k, the top one (m - 7k
// words) copied into `top` with zeros up to k words.
std::array<const mr_digit*, 8> toom8_pieces(const mr_digit* a, int m, int k, mr_digit* top);
// A factor at point j of toom8_weights: at the pair's points (j < 6) into
// plus and minus as eval8_pair leaves them, at 2/3 (j = 6) into plus.
bool eval8_point(mr_digit*& plus, mr_digit*& minus, const std::array<const mr_digit*, 8>& piece, int k, int j);
// b's values at point j of toom8_weights from the points toom8_make_points
// made of it for m words (not 16i + 1): bp at b(x_j), and for j < 6 bm at
// |b(-x_j)|; true when b(-x_j) < 0.
bool toom8_kept_point(const mr_digit* points, int m, int j, const mr_digit*& bp, const mr_digit*& bm);
// Pair j of split_pairs on its own: its sum into values[2j] and its
// difference into values[2j + 1], the two places swapped when v(-x_j) < 0.
void add_pair(int k, int j, mr_digit** values, const bool* negative);
// The interpolation of Toom-8 from the values v(+-x_j) in values[2j] and
// values[2j + 1] (signs of the second in `negative`; with `added`, their
// sums and differences, add_pair) and v(2/3) in values[12], each p = 2k + 2
// words, with v0 and vinf already in r; leaves the product in r. rn = the
// product's length; `spare` is 2p words of room.
void toom8_interpolate(mr_digit* r, int rn, int k, mr_digit** values, const bool* negative, bool added,
                       mr_digit* spare);

// The same interpolation in phases, for the pool (product_tasks.cpp): with
// the pairs added, start; copy both ends (0: v0, 1: vinf, each into p
// words of `spare`, once its product is in r); the even setup, after both;
// the six even coefficients (indexes 0 .. 5: c2, c12, c4, c10, c6, c8,
// mirror pairs at 2j and 2j + 1), which read the sums and write disjoint
// words, so any split of them may run at once, and with them the odd
// setup's two parts (0 and 1), which touch only the differences; the four
// odd pairs, any split of them at once, after all of those; then finish.
// The phases' order is the caller's to keep.
struct toom8_interpolation {
    mr_digit* r;
    int rn;
    int k;
    mr_digit* s[6];  // the pairs' sums S_j (then S_1, S_2 +- S_3, S_4 +- S_5, Y2), then c1, c3, .., c11
    mr_digit* d[6];  // the pairs' differences D_j (then D_1, D_2 +- D_3, D_4 +- D_5, D_6 + 2w)
    mr_digit* w;     // v(2/3), then D_6 - 2w
    mr_digit* c0;    // v0 in p words, then c0 + c14, then c13
    mr_digit* c14;   // vinf in p words, then c0 - c14
    mr_digit tops[14];  // the top limbs of c2, c4, .., c12 at 2, 4, .., 12
};
void toom8_interpolation_start(toom8_interpolation& t, mr_digit* r, int rn, int k, mr_digit* const* values,
                               mr_digit* spare);
void toom8_copy_end(toom8_interpolation& t, int end);
void toom8_even_setup(toom8_interpolation& t);
// toom8_even_setup's pass alone (Y2, 2w, then D_6 +- 2w), for a caller that
// has made its three sums and differences already: (c0, c14), (S_2, S_3)
// and (S_4, S_5), each with add_sub once its two values are in place.
void toom8_even_pass(toom8_interpolation& t);
void toom8_even_rows(toom8_interpolation& t, int first, int last);
void toom8_odd_setup(toom8_interpolation& t, int part);
void toom8_odd_rows(toom8_interpolation& t, int first, int last);
void toom8_interpolation_finish(toom8_interpolation& t);

// The top Toom levels on the worker pool as install_pool_levels set them,
// or null (products.cpp).
extern std::atomic<const pool_levels*> pool_levels_installed;
inline const pool_levels* installed_pool_levels() { return pool_levels_installed.load(std::memory_order_acquire); }

#endif
