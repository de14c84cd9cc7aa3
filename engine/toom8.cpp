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
// are known; then w = v(2/3) - sum_even c_i 2^i 3^(14-i) is the odd part at
// 2/3, and the odd coefficients c1 .. c13 solve the seven equations of the
// D_j and w.
//
// The even system splits along the reciprocal pairs of points. A value at
// 1/x is the one at x with the coefficients reversed, so on the sums
// g_i = c_i + c_(14-i) and differences h_i = c_i - c_(14-i) (i = 0, 2, 4,
// 6) the sums of the pairs S_2 + S_3 (points 2, 1/2), S_4 + S_5 (3, 1/3)
// and S_1 hold the g_i alone and the differences S_2 - S_3, S_4 - S_5 the
// h_i alone; only S_6 (3/2) holds both:
//     S_6 = sum g_i b_i + sum h_i e_i,  b_i, e_i = 3^i 2^(14-i) +- 2^i 3^(14-i).
// So g2, g4, g6 come from S_1, S_2 + S_3, S_4 + S_5 and g0 = c0 + c14, and
// with them Z = sum g_i b_i = (1891890 S_1 + 3861 (S_2 + S_3) - 13 (S_4 +
// S_5) + 42042000 g0) / 10, the part of S_6 that the g_i make: the rest,
//     Y2 = 2 (S_6 - Z) = 2 sum h_i e_i
//        = (10 S_6 - 1891890 S_1 - 3861 (S_2 + S_3) + 13 (S_4 + S_5) - 42042000 g0) / 5,
// is the third equation of the h_i, with S_2 - S_3, S_4 - S_5 and h0 =
// c0 - c14. The even part at 2/3 is the one at 3/2 with the coefficients
// reversed, sum g_i b_i - sum h_i e_i over two, which is Z - S_6 / 2: so
//     2w = 2 v(2/3) - S_6 + Y2,
// in the same pass as Y2 (toom8_even_setup). Then each mirror pair of
// coefficients is c_i = (X + Y) / (2^shift odd), c_(14-i) = (X - Y) /
// (2^shift odd), X over (S_1, S_2 + S_3, S_4 + S_5, g0) and Y over (S_2 -
// S_3, S_4 - S_5, h0, Y2) (toom8_even_pairs): eight products a limb for
// the two, where the inverse of the whole system took sixteen, and w's
// eight are gone.
//
// The odd system has the same symmetry (its points 3/2 and 2/3 are a
// reciprocal pair too), toom8_odd_pairs below. Each coefficient pass sums
// its multiples of the values (a signed carry of a limb or so) and divides
// the sum exactly by the odd part of its denominator (on the way, a limb at
// a time) and by 2^shift (a shift). All of it is arithmetic modulo B^p, p =
// 2k + 2 (the values' room): sums, differences and products by constants
// are right modulo B^p whatever their sign or size, and so is the division
// by an odd constant (the inverse modulo B^p); only the final shift needs
// the true quotient, a coefficient, to be below B^p / 2^shift. Every
// coefficient is a sum of at most eight products of pieces, below 8 B^2k,
// and the shifts are at most 9, so every one fits the 2k + 2 words of the
// values; the passes' factors sum to below 2^36, so the signed carries fit
// 128 bits. scripts/toom8_interpolation.py derives toom8_even_pairs and
// toom8_odd_pairs from the points and checks Y2 and 2w.

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

// A mirror pair of coefficients: c_i = (X + Y) / (2^shift odd) and
// c_(14-i) = (X - Y) / (2^shift odd), X = x . (four sums) and Y = y .
// (four differences).
struct toom8_mirror_pair {
    std::int64_t x[4];
    std::int64_t y[4];
    unsigned shift;
    std::uint64_t odd;
};

// The even ones: X over (S_1, S_2 + S_3, S_4 + S_5, g0) and Y over (S_2 -
// S_3, S_4 - S_5, h0, Y2) (above).
constexpr toom8_mirror_pair toom8_even_pairs[3] = {
    {{3638250, -16632, 231, -1671978000}, {40095, -320, -1985676000, -25}, 7, 1819125},                 // c2, c12
    {{-147183750, 550368, -3969, 20226024000}, {-1680345, 8320, 35731878000, 1175}, 9, 1488375},        // c4, c10
    {{108596250, -165312, 1071, -5045040000}, {1677645, -7120, -27201174000, -1475}, 9, 496125},        // c6, c8
};

// The odd ones. On the sums and differences of the pairs' values,
//     P23 = D2 + D3, M23 = D2 - D3, P45 = D4 + D5, M45 = D4 - D5,
//     2 P6 = D6 + 2w, 2 M6 = D6 - 2w,
// X over (D1, P23, P45, 2 P6) and Y over (M23, M45, 2 M6): seven products
// a limb for the two instead of fourteen. c7 takes X alone.
constexpr toom8_mirror_pair toom8_odd_pairs[4] = {
    {{-22702680, -57915, 260, 65}, {34749, -208, -25, 0}, 6, 7882875},          // c1, c13
    {{201879216, 442827, -1288, -553}, {-227205, 800, 185, 0}, 8, 1091475},     // c3, c11
    {{-444214890, -745920, 1855, 1120}, {223506, -652, -250, 0}, 8, 496125},    // c5, c9
    {{25994598, 37281, -89, -59}, {0, 0, 0, 0}, 7, 33075},                      // c7
};

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

// The Index-th mirror pair of Pairs (toom8_even_pairs, toom8_odd_pairs,
// toom84_even_pairs, toom84_odd_pairs) in one pass over n words (n even):
// z1 = (X + Y) / (2^shift odd) when First, z2 = (X - Y) / (2^shift odd)
// when Second, X over the sums x and Y over the differences y, for
// quotients that fit n words; a quotient's top limb goes to its `top`
// where that is not null. The limbs of X and Y, formed with signed carries
// as in combine, go to exact_quotient. The arithmetic is modulo B^n
// throughout, so an input may be wrong above B^n (or negative, as its two's
// complement) by whatever the caller puts right there.
template <const auto& Pairs, int Index, bool First, bool Second>
void mirror_combine(mr_digit* z1, mr_digit* top1, mr_digit* z2, mr_digit* top2, int n,
                    const std::array<const mr_digit*, 4>& x, const std::array<const mr_digit*, 4>& y) {
    constexpr toom8_mirror_pair row = Pairs[Index];
    constexpr bool has_y = row.y[0] != 0 || row.y[1] != 0 || row.y[2] != 0 || row.y[3] != 0;
    exact_quotient<row.odd, row.shift> out1{z1, top1}, out2{z2, top2};
    signed_wide carry1 = 0, carry2 = 0;
    for (int i = 0; i < n; i += 2) {
        unsigned_wide px = 0, nx = 0, py = 0, ny = 0;
        gather<row.x[0]>(px, nx, load_limb(x[0] + i));
        gather<row.x[1]>(px, nx, load_limb(x[1] + i));
        gather<row.x[2]>(px, nx, load_limb(x[2] + i));
        gather<row.x[3]>(px, nx, load_limb(x[3] + i));
        if constexpr (has_y) {
            gather<row.y[0]>(py, ny, load_limb(y[0] + i));
            gather<row.y[1]>(py, ny, load_limb(y[1] + i));
            gather<row.y[2]>(py, ny, load_limb(y[2] + i));
            gather<row.y[3]>(py, ny, load_limb(y[3] + i));
        }
        if constexpr (First) {
            const signed_wide a1 = carry1 + static_cast<signed_wide>(px + py) - static_cast<signed_wide>(nx + ny);
            carry1 = a1 >> 64;
            out1.put(i, static_cast<std::uint64_t>(a1));
        }
        if constexpr (Second) {
            const signed_wide a2 = carry2 + static_cast<signed_wide>(px + ny) - static_cast<signed_wide>(nx + py);
            carry2 = a2 >> 64;
            out2.put(i, static_cast<std::uint64_t>(a2));
        }
    }
    if constexpr (First) out1.finish(n);
    if constexpr (Second) out2.finish(n);
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

// The steps before the even pairs, once both ends are copied, modulo B^p
// (every result may be negative or wrap: the passes after them work modulo
// B^p): (c0, c14) <- (g0, h0) = (c0 + c14, c0 - c14), (S_2, S_3) <- (S_2 +
// S_3, S_2 - S_3) and (S_4, S_5) <- (S_4 + S_5, S_4 - S_5); then in one
// pass, a limb at a time,
//     S_6 <- Y2 = (10 S_6 - 1891890 S_1 - 3861 (S_2 + S_3) + 13 (S_4 + S_5) - 42042000 g0) / 5,
//     v(2/3) <- 2w = 2 v(2/3) - S_6 + Y2,
// the division by 5 exact (Y2 is twice a sum of h_i e_i, every e_i a
// multiple of 5) and done as divexact_by_factor does it, so that no
// multiplication is on the pass's chain; then (D_6, 2w) <- (D_6 + 2w, D_6 -
// 2w).
void toom8_even_setup(toom8_interpolation& t) {
    const int p = 2 * t.k + 2;
    add_sub(t.c0, t.c14, p);
    add_sub(t.s[1], t.s[2], p);
    add_sub(t.s[3], t.s[4], p);
    toom8_even_pass(t);
}

void toom8_even_pass(toom8_interpolation& t) {
    using u64 = std::uint64_t;
    const int p = 2 * t.k + 2;
    mr_digit* const s1 = t.s[0];
    mr_digit* const s2 = t.s[1];
    mr_digit* const s4 = t.s[3];
    mr_digit* const s6 = t.s[5];
    mr_digit* const w = t.w;
    const mr_digit* const g0 = t.c0;
    signed_wide carry_t = 0, carry_w = 0;
    factor_quotient fifth{~u64{0} / 5};
    for (int i = 0; i < p; i += 2) {
        const u64 a6 = load_limb(s6 + i);
        unsigned_wide pos = 0, neg = 0;
        gather<10>(pos, neg, a6);
        gather<-1891890>(pos, neg, load_limb(s1 + i));
        gather<-3861>(pos, neg, load_limb(s2 + i));
        gather<13>(pos, neg, load_limb(s4 + i));
        gather<-42042000>(pos, neg, load_limb(g0 + i));
        const signed_wide sum = carry_t + static_cast<signed_wide>(pos) - static_cast<signed_wide>(neg);
        carry_t = sum >> 64;
        const u64 q = fifth.next(static_cast<u64>(sum));
        store_limb(s6 + i, q);  // Y2
        const signed_wide twice_w = carry_w + 2 * static_cast<signed_wide>(load_limb(w + i)) -
                                    static_cast<signed_wide>(a6) + static_cast<signed_wide>(q);
        carry_w = twice_w >> 64;
        store_limb(w + i, static_cast<u64>(twice_w));
    }
    add_sub(t.d[5], w, p);
}

// The even coefficients in the order c2, c12, c4, c10, c6, c8, so that the
// indexes 2j and 2j + 1 are a mirror pair, made in one pass when both are
// in [first, last) and each on its own otherwise. c_2i goes to r at 2ik
// (2k words), its top limb to tops[2i].
void toom8_even_rows(toom8_interpolation& t, int first, int last) {
    const int k = t.k, p = 2 * k + 2;
    const std::array<const mr_digit*, 4> sums{t.s[0], t.s[1], t.s[3], t.c0};
    const std::array<const mr_digit*, 4> differences{t.s[2], t.s[4], t.c14, t.s[5]};
    for (int pair = 0; pair < 3; ++pair) {
        const bool low = first <= 2 * pair && 2 * pair < last;
        const bool high = first <= 2 * pair + 1 && 2 * pair + 1 < last;
        const int i = 2 * pair + 2;  // c_i and c_(14-i)
        mr_digit* z1 = t.r + i * k;
        mr_digit* z2 = t.r + (14 - i) * k;
        mr_digit* top1 = t.tops + i;
        mr_digit* top2 = t.tops + (14 - i);
        const auto run = [&]<int Pair>() {
            if (low && high)
                mirror_combine<toom8_even_pairs, Pair, true, true>(z1, top1, z2, top2, p, sums, differences);
            else if (low)
                mirror_combine<toom8_even_pairs, Pair, true, false>(z1, top1, z2, top2, p, sums, differences);
            else if (high)
                mirror_combine<toom8_even_pairs, Pair, false, true>(z1, top1, z2, top2, p, sums, differences);
        };
        switch (pair) {
        case 0: run.template operator()<0>(); break;
        case 1: run.template operator()<1>(); break;
        default: run.template operator()<2>(); break;
        }
    }
}

// The differences of the pairs 2, 1/2 (part 0) and 3, 1/3 (part 1) into
// mirror pairs (toom8_odd_pairs; 2 P6 and 2 M6 are toom8_even_setup's).
// These may be negative: they are kept modulo B^p, as the passes work.
void toom8_odd_setup(toom8_interpolation& t, int part) {
    const int p = 2 * t.k + 2;
    if (part == 0)
        add_sub(t.d[1], t.d[2], p);  // P23, M23
    else
        add_sub(t.d[3], t.d[4], p);  // P45, M45
}

// The odd coefficients c1, c3, .., c13 go into the places of the S_j and of
// g0, which the even pairs have read by then.
void toom8_odd_rows(toom8_interpolation& t, int first, int last) {
    const int p = 2 * t.k + 2;
    const std::array<const mr_digit*, 4> sums{t.d[0], t.d[1], t.d[3], t.d[5]};
    const std::array<const mr_digit*, 4> differences{t.d[2], t.d[4], t.w, t.w};  // the fourth unused
    for (int pair = first; pair < last; ++pair) {
        switch (pair) {
        case 0:
            mirror_combine<toom8_odd_pairs, 0, true, true>(t.s[0], nullptr, t.c0, nullptr, p, sums, differences);
            break;
        case 1:
            mirror_combine<toom8_odd_pairs, 1, true, true>(t.s[1], nullptr, t.s[5], nullptr, p, sums, differences);
            break;
        case 2:
            mirror_combine<toom8_odd_pairs, 2, true, true>(t.s[2], nullptr, t.s[4], nullptr, p, sums, differences);
            break;
        default:
            mirror_combine<toom8_odd_pairs, 3, true, false>(t.s[3], nullptr, nullptr, nullptr, p, sums, differences);
            break;
        }
    }
}

// The even coefficients' top limbs and the odd coefficients added (c0 and
// c14 are where the point products left them).
void toom8_interpolation_finish(toom8_interpolation& t) {
    const int k = t.k, p = 2 * k + 2, rn = t.rn;
    mr_digit* r = t.r;
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
    toom8_even_setup(t);
    toom8_even_rows(t, 0, 6);
    toom8_odd_setup(t, 0);
    toom8_odd_setup(t, 1);
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
// of the pairs' sums with c0 and c10 known, then w = v(1/3) - sum_even c_i
// 3^(10-i) is the odd part at 1/3, and c1 .. c9 solve the four equations
// of the pairs' differences and w. Both systems split along the mirror
// pairs as Toom-8's do (c_i against c_(10-i); the points 2 and 1/2, 3 and
// 1/3 are reciprocal): on g_i = c_i + c_(10-i), h_i = c_i - c_(10-i), S_1
// and S_2 + S_3 hold the g_i alone, S_2 - S_3 the h_i alone, and S_4 (3)
// both, S_4 = Z + Y4 with Z = sum g_i (3^i + 3^(10-i)) = 16 (S_2 + S_3) -
// 875 S_1 + 28000 g0 and Y4 = sum h_i (3^i - 3^(10-i)). The even part at
// 1/3 is the one at 3 with the coefficients reversed, Z - S_4 / 2, so
//     Y4 = S_4 + 875 S_1 - 16 (S_2 + S_3) - 28000 g0,
//     2w = 2 v(1/3) + S_4 + 1750 S_1 - 32 (S_2 + S_3) - 56000 g0,
// and each mirror pair is one pass (toom84_even_pairs, toom84_odd_pairs;
// scripts/toom8_interpolation.py derives them), all of it modulo B^p as in
// Toom-8 (denominators below 2^22, factors summing to below 2^20).

// The short factor's weights u^i w^(3-i) at 1, 2, 1/2, 3 and 1/3 (the
// long factor's are toom8_weights' first five rows).
constexpr std::uint32_t toom84_short_weights[5][4] = {
    {1, 1, 1, 1}, {1, 2, 4, 8}, {8, 4, 2, 1}, {1, 3, 9, 27}, {27, 9, 3, 1},
};

// c_i = (X + Y) / (2^shift odd), c_(10-i) = (X - Y) / (2^shift odd): the
// even pairs with X over (S_1, S_2 + S_3, g0) and Y over (S_2 - S_3, h0,
// Y4), the odd ones with X over (D_1, D_2 + D_3, D_4 + 2w) and Y over (D_2 -
// D_3, D_4 - 2w); c5 takes X alone.
constexpr toom8_mirror_pair toom84_even_pairs[2] = {
    {{-2800, 35, -66150, 0}, {27, -180950, -4, 0}, 4, 1575},  // c2, c8
    {{1300, -5, 7650, 0}, {-39, 97350, 3, 0}, 4, 225},        // c4, c6
};
constexpr toom8_mirror_pair toom84_odd_pairs[3] = {
    {{5250, -120, 5, 0}, {72, -4, 0, 0}, 6, 2625},               // c1, c9
    {{-841750, 16000, -375, 0}, {-7872, 204, 0, 0}, 8, 7875},    // c3, c7
    {{36650, -416, 9, 0}, {0, 0, 0, 0}, 7, 225},                 // c5
};

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
    mr_digit* c0 = spare;  // then g0, then c9
    mr_digit* c10 = spare + p;  // then h0
    mr_digit* s[4];
    mr_digit* d[4];
    split_pairs(r, rn, k, 10, values, negative, 4, false, spare, s, d);
    add_sub(c0, c10, p);    // g0, h0
    add_sub(s[1], s[2], p);  // S_2 + S_3, S_2 - S_3
    mr_digit* w = values[8];
    combine<0, 2, 1, 1750, -32, -56000>(w, p, {s[3], s[0], s[1], c0});  // 2w
    combine<0, 1, 875, -16, -28000>(s[3], p, {s[0], s[1], c0});         // Y4
    // c2 .. c8 into r at 2ik, each one's top limb aside (c8's would be
    // c10's lowest).
    mr_digit tops[10];
    const std::array<const mr_digit*, 4> even_x{s[0], s[1], c0, c0}, even_y{s[2], c10, s[3], s[3]};
    mirror_combine<toom84_even_pairs, 0, true, true>(r + 2 * k, tops + 2, r + 8 * k, tops + 8, p, even_x, even_y);
    mirror_combine<toom84_even_pairs, 1, true, true>(r + 4 * k, tops + 4, r + 6 * k, tops + 6, p, even_x, even_y);
    add_sub(d[1], d[2], p);  // D_2 + D_3, D_2 - D_3
    add_sub(d[3], w, p);     // D_4 + 2w, D_4 - 2w
    const std::array<const mr_digit*, 4> odd_x{d[0], d[1], d[3], d[3]}, odd_y{d[2], w, w, w};
    mr_digit* odd[5] = {s[0], s[1], s[2], s[3], c0};  // c1, c3, .., c9
    mirror_combine<toom84_odd_pairs, 0, true, true>(odd[0], nullptr, odd[4], nullptr, p, odd_x, odd_y);
    mirror_combine<toom84_odd_pairs, 1, true, true>(odd[1], nullptr, odd[3], nullptr, p, odd_x, odd_y);
    mirror_combine<toom84_odd_pairs, 2, true, false>(odd[2], nullptr, nullptr, nullptr, p, odd_x, odd_y);
    for (int i = 1; i <= 4; ++i) add_at(r, rn, 2 * i * k + 2 * k, tops + 2 * i, 2);
    for (int i = 0; i < 5; ++i) add_at(r, rn, (2 * i + 1) * k, odd[i], p);
}

// The top words' part of a product of two factors of m words, the product
// of their low m - 1 words in r already: a b = a' b' + (a' b_top + b' a_top)
// B^(m-1) + a_top b_top B^(2m-2). The product fits 2m words: no carry out.
void add_top_words(mr_digit* r, const mr_digit* a, const mr_digit* b, int m) {
    r[2 * m - 2] = addmul_vvw(r + m - 1, a, m - 1, b[m - 1]);
    const std::uint64_t top = std::uint64_t{r[2 * m - 2]} + addmul_vvw(r + m - 1, b, m - 1, a[m - 1]) +
                              std::uint64_t{a[m - 1]} * b[m - 1];
    store_limb(r + 2 * m - 2, top);
}

// A product's scratch, carved for Toom-8 with pieces of k words: the
// thirteen values of p = 2k + 2 words, 2p spare words for the
// interpolation, the top pieces of a and b (k words each), four evaluations
// of k + 1 words (a's two, then b's two), and the rest for the point
// products.
struct toom8_product_areas {
    mr_digit* values[13];
    bool negative[13] = {};
    mr_digit* spare;
    mr_digit* top_a;
    mr_digit* top_b;
    mr_digit* e;
    mr_digit* rest;

    toom8_product_areas(mr_digit* scratch, int k) {
        const int p = 2 * k + 2;
        for (int i = 0; i < 13; ++i) values[i] = scratch + i * p;
        spare = scratch + 13 * p;
        top_a = spare + 2 * p;
        top_b = top_a + k;
        e = top_b + k;
        rest = e + 4 * (k + 1);
    }
};

// Toom-8's thirteen point products into values (p = 2k + 2 words each, the
// sign of each value at -x_j in negative): a's values made here in e (two
// of k + 1 words), b's from b_point(j, bp, bm), which points bp at b(x_j)
// and bm at |b(-x_j)| (at 2/3, j = 6, bp alone) and is true when b(-x_j) < 0.
template <typename BPoint>
void toom8_point_products(mr_digit* const* values, bool* negative, const std::array<const mr_digit*, 8>& pa, int k,
                          mr_digit* e, mr_digit* rest, BPoint b_point) {
    for (int j = 0; j < 7; ++j) {
        mr_digit* ap = e;
        mr_digit* am = e + (k + 1);
        const bool negative_a = eval8_point(ap, am, pa, k, j);
        const mr_digit* bp = nullptr;
        const mr_digit* bm = nullptr;
        const bool negative_b = b_point(j, bp, bm);
        product_top(values[2 * j], ap, bp, k, rest);
        if (j < 6) {
            negative[2 * j + 1] = negative_a != negative_b;
            product_top(values[2 * j + 1], am, bm, k, rest);
        }
    }
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
        add_top_words(r, a, b, m);
        return;
    }
    const pool_levels* pool = installed_pool_levels();
    if (pool != nullptr && pool->toom8(r, a, m, b, n, scratch)) return;
    const toom_layout layout = toom8_layout(m, false);
    const int k = layout.k;
    toom8_product_areas w(scratch, k);
    TORVANE_LAYOUT_FITS(w.rest, scratch, layout);
    const auto pa = toom8_pieces(a, m, k, w.top_a);
    const auto pb = toom8_pieces(b, n, k, w.top_b);
    toom8_point_products(w.values, w.negative, pa, k, w.e, w.rest,
                         [&](int j, const mr_digit*& bp, const mr_digit*& bm) {
                             mr_digit* plus = w.e + 2 * (k + 1);
                             mr_digit* minus = w.e + 3 * (k + 1);
                             const bool negative_b = eval8_point(plus, minus, pb, k, j);
                             bp = plus;
                             bm = minus;
                             return negative_b;
                         });
    product_vv(r, a, k, b, k, w.rest);
    product_vv(r + 14 * k, a + 7 * k, m - 7 * k, b + 7 * k, n - 7 * k, w.rest);
    toom8_interpolate(r, m + n, k, w.values, w.negative, false, w.spare);
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

bool toom8_kept_point(const mr_digit* points, int m, int j, const mr_digit*& bp, const mr_digit*& bm) {
    const toom8_points_layout fixed{(toom8_points_length(m) + 7) / 8};
    const bool negative_b = points[fixed.signs() + static_cast<std::size_t>(j)] != 0;
    bp = points + fixed.slot(negative_b ? 2 * j + 1 : 2 * j);
    bm = points + fixed.slot(negative_b ? 2 * j : 2 * j + 1);
    return negative_b;
}

void toom8_product_points(mr_digit* r, const mr_digit* a, const mr_digit* b, int m, const mr_digit* points,
                          mr_digit* scratch) {
    if (m % 16 == 1) {
        // The top words apart, as toom8_product does it.
        toom8_product_points(r, a, b, m - 1, points, scratch);
        add_top_words(r, a, b, m);
        return;
    }
    const toom_layout layout = toom8_layout(m, false);
    const int k = layout.k;
    toom8_product_areas w(scratch, k);  // top_b and b's half of e unused: b's points are kept
    TORVANE_LAYOUT_FITS(w.rest, scratch, layout);
    const auto pa = toom8_pieces(a, m, k, w.top_a);
    toom8_point_products(w.values, w.negative, pa, k, w.e, w.rest,
                         [&](int j, const mr_digit*& bp, const mr_digit*& bm) {
                             return toom8_kept_point(points, m, j, bp, bm);
                         });
    product_vv(r, a, k, b, k, w.rest);
    product_vv(r + 14 * k, a + 7 * k, m - 7 * k, b + 7 * k, m - 7 * k, w.rest);
    toom8_interpolate(r, 2 * m, k, w.values, w.negative, false, w.spare);
}
