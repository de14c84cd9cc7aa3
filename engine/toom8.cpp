// Toom-8 (both factors in eight pieces) and Toom-8/4 (eight pieces against
// four) products and squares of word vectors, for products.cpp's dispatch;
// their point products go back through it. The evaluation, the
// interpolation and why every value fits are explained below.
#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>

#include "kernels.h"
#include "products.h"
#include "toom.h"

namespace {

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
    mr_digit* top = nullptr;  // where the top limb goes, when not at z + n - 2 (S != 0)
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
        if constexpr (S != 0) store_limb(top != nullptr ? top : z + n - 2, below >> S);
    }
};

// z = (row . x) / (2^shift odd) over n words (n even) in one pass, for the
// Row-th row of Rows (toom8_rows, toom84_rows) and a quotient that fits n words: the limbs of
// the sum, formed with a signed carry as in combine, go to exact_quotient.
// The arithmetic is modulo B^n throughout, so an input may be wrong above
// B^n (or negative, as its two's complement) by whatever the caller puts
// right there.
template <const auto& Rows, int Row, std::size_t... J>
void row_combine(mr_digit* z, int n, const std::array<const mr_digit*, sizeof...(J)>& x, std::index_sequence<J...>,
                 mr_digit* top = nullptr) {
    constexpr toom8_row row = Rows[Row];
    exact_quotient<row.odd, row.shift> out{z, top};
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

// Toom-8's even row Row into z, its top limb into `top` instead of z + n - 2
// (every even row has a shift, so that limb is the last one written).
template <int Row, std::size_t N>
void toom8_combine(mr_digit* z, int n, const std::array<const mr_digit*, N>& x, mr_digit* top) {
    static_assert(toom8_rows[Row].shift != 0);
    row_combine<toom8_rows, Row>(z, n, x, std::make_index_sequence<N>{}, top);
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
// One of eval8_parts' two sums: z = sum of p[i] w[i] over four pieces, in
// k + 1 words. Apart from the other, so that its four pieces, the carry
// and the sum stay in registers.
void eval8_sum(mr_digit* z, const mr_digit* p0, const mr_digit* p1, const mr_digit* p2, const mr_digit* p3, int k,
               std::uint64_t w0, std::uint64_t w1, std::uint64_t w2, std::uint64_t w3) {
    using u64 = std::uint64_t;
    __extension__ typedef unsigned __int128 u128;
    u64 c = 0;
    int i = 0;
    for (; i + 1 < k; i += 2) {
        const u128 s = static_cast<u128>(c) + static_cast<u128>(load_limb(p0 + i)) * w0 +
                       static_cast<u128>(load_limb(p1 + i)) * w1 + static_cast<u128>(load_limb(p2 + i)) * w2 +
                       static_cast<u128>(load_limb(p3 + i)) * w3;
        store_limb(z + i, static_cast<u64>(s));
        c = static_cast<u64>(s >> 64);
    }
    if (i < k) {
        const u64 s = c + u64{p0[i]} * w0 + u64{p1[i]} * w1 + u64{p2[i]} * w2 + u64{p3[i]} * w3;
        z[i] = static_cast<mr_digit>(s);
        c = s >> 32;
    }
    z[k] = static_cast<mr_digit>(c);
}

void eval8_parts(mr_digit* e, mr_digit* o, const std::array<const mr_digit*, 8>& piece, int k,
                 const std::uint32_t (&w)[8]) {
    eval8_sum(e, piece[0], piece[2], piece[4], piece[6], k, w[0], w[2], w[4], w[6]);
    eval8_sum(o, piece[1], piece[3], piece[5], piece[7], k, w[1], w[3], w[5], w[7]);
}

}  // namespace

// The eight pieces of a factor of m words split at k, the top one (m - 7k
// words) copied into `top` with zeros up to k words.
std::array<const mr_digit*, 8> toom8_pieces(const mr_digit* a, int m, int k, mr_digit* top) {
    copy_words(top, a + 7 * k, m - 7 * k);
    zero_words(top + (m - 7 * k), 8 * k - m);
    return {a, a + k, a + 2 * k, a + 3 * k, a + 4 * k, a + 5 * k, a + 6 * k, top};
}

namespace {

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

}  // namespace

// A factor at point j of toom8_weights: at the pair's points (j < 6) into
// plus and minus as eval8_pair leaves them, at 2/3 (j = 6) into plus.
bool eval8_point(mr_digit*& plus, mr_digit*& minus, const std::array<const mr_digit*, 8>& piece, int k, int j) {
    eval8_parts(plus, minus, piece, k, toom8_weights[j]);
    if (j < 6) return eval8_pair(plus, minus, k);
    add_vv(plus, plus, minus, k + 1);
    return false;
}

namespace {

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

}  // namespace

// Pair j of split_pairs on its own: its sum into values[2j] and its
// difference into values[2j + 1], the two places swapped when v(-x_j) < 0.
void add_pair(int k, int j, mr_digit** values, const bool* negative) {
    add_sub(values[2 * j], values[2 * j + 1], 2 * k + 2);
    if (negative[2 * j + 1]) std::swap(values[2 * j], values[2 * j + 1]);
}

// Toom-8's interpolation in phases (toom.h). The even coefficients go
// straight into their places in r, c_2i at 2ik; each one's top limb (at
// 2ik + 2k, where the next one begins) goes to tops instead, so that the
// rows write disjoint words and may run on different threads.
void toom8_interpolation_start(toom8_interpolation& t, mr_digit* r, int rn, int k, mr_digit* const* values,
                               mr_digit* spare) {
    t.r = r;
    t.rn = rn;
    t.k = k;
    for (int j = 0; j < 6; ++j) {
        t.s[j] = values[2 * j];
        t.d[j] = values[2 * j + 1];
    }
    t.w = values[12];
    t.c0 = spare;
    t.c14 = spare + (2 * k + 2);
}

void toom8_copy_end(toom8_interpolation& t, int end) {
    const int k = t.k, p = 2 * k + 2;
    if (end == 0) {
        copy_words(t.c0, t.r, 2 * k);
        zero_words(t.c0 + 2 * k, 2);
        return;
    }
    const int top = t.rn - 14 * k;
    copy_words(t.c14, t.r + 14 * k, top);
    zero_words(t.c14 + top, p - top);
}

void toom8_even_rows(toom8_interpolation& t, int first, int last) {
    const int k = t.k, p = 2 * k + 2;
    const std::array<const mr_digit*, 8> in{t.s[0], t.s[1], t.s[2], t.s[3], t.s[4], t.s[5], t.c0, t.c14};
    for (int row = first; row < last; ++row) {
        mr_digit* z = t.r + 2 * (row + 1) * k;
        mr_digit* top = t.tops + 2 * (row + 1);
        switch (row) {
        case 0: toom8_combine<0>(z, p, in, top); break;
        case 1: toom8_combine<1>(z, p, in, top); break;
        case 2: toom8_combine<2>(z, p, in, top); break;
        case 3: toom8_combine<3>(z, p, in, top); break;
        case 4: toom8_combine<4>(z, p, in, top); break;
        default: toom8_combine<5>(z, p, in, top); break;
        }
    }
}

// w = v(2/3) - sum_even c_i 2^i 3^(14-i), in v(2/3)'s place, reading c2 ..
// c12 from r, where the limb above each is the next one's lowest (c12's:
// vinf's) instead of its own top: the pass is right modulo B^p, and the top
// limb is put right after it. Then the differences of the pairs' values
// into mirror pairs (toom8_odd_pairs); these may be negative: they are
// kept modulo B^p, as the passes work.
void toom8_odd_setup(toom8_interpolation& t) {
    const int k = t.k, p = 2 * k + 2;
    mr_digit* r = t.r;
    combine<0, 1, -toom8_w_weights[0], -toom8_w_weights[1], -toom8_w_weights[2], -toom8_w_weights[3],
            -toom8_w_weights[4], -toom8_w_weights[5], -toom8_w_weights[6], -toom8_w_weights[7]>(
        t.w, p, {t.c0, r + 2 * k, r + 4 * k, r + 6 * k, r + 8 * k, r + 10 * k, r + 12 * k, t.c14});
    std::uint64_t fix = 0;
    for (int i = 1; i <= 6; ++i)
        fix += static_cast<std::uint64_t>(toom8_w_weights[i]) *
               (load_limb(r + 2 * i * k + 2 * k) - load_limb(t.tops + 2 * i));
    store_limb(t.w + 2 * k, load_limb(t.w + 2 * k) + fix);
    mr_digit** d = t.d;
    add_sub(d[1], d[2], p);  // P23, M23
    add_sub(d[3], d[4], p);  // P45, M45
    shr_vu(d[5], d[5], p, 1);
    add_sub(d[5], t.w, p);   // P6, M6
}

// The odd coefficients c1, c3, .., c13 go into the places of the S_j and of
// c0's copy, which the even rows and w have read by then.
void toom8_odd_rows(toom8_interpolation& t, int first, int last) {
    const int p = 2 * t.k + 2;
    const std::array<const mr_digit*, 4> sums{t.d[0], t.d[1], t.d[3], t.d[5]};
    const std::array<const mr_digit*, 3> differences{t.d[2], t.d[4], t.w};
    for (int pair = first; pair < last; ++pair) {
        switch (pair) {
        case 0: toom8_combine_pair<0>(t.s[0], t.c0, p, sums, differences); break;
        case 1: toom8_combine_pair<1>(t.s[1], t.s[5], p, sums, differences); break;
        case 2: toom8_combine_pair<2>(t.s[2], t.s[4], p, sums, differences); break;
        default: toom8_combine_pair<3>(t.s[3], nullptr, p, sums, differences); break;
        }
    }
}

// c14 back above c12, then the even coefficients' top limbs and the odd
// coefficients added.
void toom8_interpolation_finish(toom8_interpolation& t) {
    const int k = t.k, p = 2 * k + 2, rn = t.rn;
    mr_digit* r = t.r;
    copy_words(r + 14 * k, t.c14, rn - 14 * k);
    for (int i = 1; i <= 6; ++i) add_at(r, rn, 2 * i * k + 2 * k, t.tops + 2 * i, 2);
    const mr_digit* odd[7] = {t.s[0], t.s[1], t.s[2], t.s[3], t.s[4], t.s[5], t.c0};  // c1, c3, .., c13
    for (int i = 0; i < 7; ++i) add_at(r, rn, (2 * i + 1) * k, odd[i], p);
}

// The interpolation of Toom-8 from the values v(+-x_j) in values[2j] and
// values[2j + 1] (signs of the second in `negative`; with `added`, their
// sums and differences, add_pair) and v(2/3) in values[12], each p = 2k + 2
// words, with v0 and vinf already in r; leaves the product in r. rn = the
// product's length; `spare` is 2p words of room.
void toom8_interpolate(mr_digit* r, int rn, int k, mr_digit** values, const bool* negative, bool added,
                       mr_digit* spare) {
    if (!added)
        for (int j = 0; j < 6; ++j) add_pair(k, j, values, negative);
    toom8_interpolation t;
    toom8_interpolation_start(t, r, rn, k, values, spare);
    toom8_copy_end(t, 0);
    toom8_copy_end(t, 1);
    toom8_even_rows(t, 0, 6);
    toom8_odd_setup(t);
    toom8_odd_rows(t, 0, 4);
    toom8_interpolation_finish(t);
}

namespace {

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
    const pool_levels* pool = installed_pool_levels();
    if (pool != nullptr && pool->toom8(r, a, m, b, n, scratch)) return;
    const toom_layout layout = toom8_layout(m, false);
    const int k = layout.k;
    const int p = 2 * k + 2;
    mr_digit* values[13];
    bool negative[13] = {};
    for (int i = 0; i < 13; ++i) values[i] = scratch + i * p;
    mr_digit* spare = scratch + 13 * p;  // 2p words, for the interpolation
    mr_digit* top_a = spare + 2 * p;     // k words each
    mr_digit* top_b = top_a + k;
    mr_digit* e = top_b + k;             // four of k + 1 words
    mr_digit* rest = e + 4 * (k + 1);
    TORVANE_LAYOUT_FITS(rest, scratch, layout);
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
    const pool_levels* pool = installed_pool_levels();
    if (pool != nullptr && pool->toom8(r, a, m, nullptr, m, scratch)) return;
    const toom_layout layout = toom8_layout(m, true);
    const int k = layout.k;
    const int p = 2 * k + 2;
    mr_digit* values[13];
    const bool negative[13] = {};
    for (int i = 0; i < 13; ++i) values[i] = scratch + i * p;
    mr_digit* spare = scratch + 13 * p;
    mr_digit* top_a = spare + 2 * p;  // k words
    mr_digit* e = top_a + k;          // two of k + 1 words
    mr_digit* rest = e + 2 * (k + 1);
    TORVANE_LAYOUT_FITS(rest, scratch, layout);
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
    const toom_layout layout = toom84_layout(m);
    const int k = layout.k;
    const int p = 2 * k + 2;
    mr_digit* values[9];
    bool negative[9] = {};
    for (int i = 0; i < 9; ++i) values[i] = scratch + i * p;
    mr_digit* spare = scratch + 9 * p;  // 2p words, for the interpolation
    mr_digit* top_a = spare + 2 * p;    // k words each
    mr_digit* top_b = top_a + k;
    mr_digit* e = top_b + k;            // four of k + 1 words
    mr_digit* rest = e + 4 * (k + 1);
    TORVANE_LAYOUT_FITS(rest, scratch, layout);
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

// ---- Toom-8 with one factor's points made once -----------------------------
//
// Reduction by multiplication multiplies by the same factors (n', and the
// modulus's halves' difference) at every step of a power: their values at
// the thirteen points are made once, and each product then evaluates only
// its other factor. The points of b for a product of m by m words (m not
// 16i + 1, whose products set the top words apart first): for point j of
// toom8_weights two slots of k + 1 words, plus and minus as eval8_point
// leaves them (swapped when b(-x_j) < 0; at 2/3 the value in the first,
// the second its room), then b's top piece padded to k words, then a word
// per point, 1 when b(-x_j) < 0.

namespace {

struct toom8_points_layout {
    int k;
    std::size_t slot(int i) const { return static_cast<std::size_t>(i) * (static_cast<std::size_t>(k) + 1); }
    std::size_t top() const { return slot(14); }
    std::size_t signs() const { return top() + static_cast<std::size_t>(k); }
    std::size_t words() const { return signs() + 7; }
};

// The length whose Toom-8 level the points are made for: products of 16i + 1
// words run one of 16i words (toom8_product).
int toom8_points_length(int m) { return m % 16 == 1 ? m - 1 : m; }

}  // namespace

std::size_t toom8_points_words(int m) { return toom8_points_layout{(toom8_points_length(m) + 7) / 8}.words(); }

void toom8_make_points(const mr_digit* b, int m, mr_digit* points) {
    m = toom8_points_length(m);
    const toom8_points_layout layout{(m + 7) / 8};
    const int k = layout.k;
    const auto pb = toom8_pieces(b, m, k, points + layout.top());
    for (int j = 0; j < 7; ++j) {
        mr_digit* plus = points + layout.slot(2 * j);
        mr_digit* minus = points + layout.slot(2 * j + 1);
        points[layout.signs() + static_cast<std::size_t>(j)] = eval8_point(plus, minus, pb, k, j) ? 1 : 0;
    }
}

void toom8_product_points(mr_digit* r, const mr_digit* a, const mr_digit* b, int m, const mr_digit* points,
                          mr_digit* scratch) {
    if (m % 16 == 1) {
        // The top words apart, as toom8_product does it.
        toom8_product_points(r, a, b, m - 1, points, scratch);
        r[2 * m - 2] = addmul_vvw(r + m - 1, a, m - 1, b[m - 1]);
        const std::uint64_t top = std::uint64_t{r[2 * m - 2]} + addmul_vvw(r + m - 1, b, m - 1, a[m - 1]) +
                                  std::uint64_t{a[m - 1]} * b[m - 1];
        store_limb(r + 2 * m - 2, top);
        return;
    }
    const toom_layout layout = toom8_layout(m, false);
    const toom8_points_layout fixed{layout.k};
    const int k = layout.k;
    const int p = 2 * k + 2;
    mr_digit* values[13];
    bool negative[13] = {};
    for (int i = 0; i < 13; ++i) values[i] = scratch + i * p;
    mr_digit* spare = scratch + 13 * p;  // 2p words, for the interpolation
    mr_digit* top_a = spare + 2 * p;     // k words, and k unused (b's top piece is in the points)
    mr_digit* e = top_a + 2 * k;         // two of k + 1 words, and two unused
    mr_digit* rest = e + 4 * (k + 1);
    TORVANE_LAYOUT_FITS(rest, scratch, layout);
    const auto pa = toom8_pieces(a, m, k, top_a);
    for (int j = 0; j < 7; ++j) {
        mr_digit* ap = e;
        mr_digit* am = e + (k + 1);
        const bool negative_a = eval8_point(ap, am, pa, k, j);
        const bool negative_b = points[fixed.signs() + static_cast<std::size_t>(j)] != 0;
        const mr_digit* bp = points + fixed.slot(negative_b ? 2 * j + 1 : 2 * j);
        const mr_digit* bm = points + fixed.slot(negative_b ? 2 * j : 2 * j + 1);
        product_top(values[2 * j], ap, bp, k, rest);
        if (j < 6) {
            negative[2 * j + 1] = negative_a != negative_b;
            product_top(values[2 * j + 1], am, bm, k, rest);
        }
    }
    product_vv(r, a, k, b, k, rest);
    product_vv(r + 14 * k, a + 7 * k, m - 7 * k, b + 7 * k, m - 7 * k, rest);
    toom8_interpolate(r, 2 * m, k, values, negative, false, spare);
}
