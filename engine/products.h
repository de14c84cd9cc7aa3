// Products and squares of word vectors: the schoolbook methods, Karatsuba,
// Toom-3, Toom-4, Toom-4/2 (four pieces against two), Toom-8 and Toom-8/4
// (toom8.cpp), and the dispatch that picks one by the thresholds of
// thresholds.h.
// multiply (multiply_divide.cpp) and every other routine that needs a full
// product of magnitudes comes through here.
//
// The result r never overlaps an operand. Operands are word vectors of the
// given lengths, least significant word first, and may have leading zero
// words. The scratch passed in must hold product_scratch_words (or
// square_scratch_words) words for the shape; nothing is allocated.
#ifndef TORVANE_ENGINE_PRODUCTS_H
#define TORVANE_ENGINE_PRODUCTS_H

#include <cstddef>

#include "engine.h"

// r[0 .. m+n-1] = a * b, for m >= n >= 1.
void product_vv(mr_digit* r, const mr_digit* a, int m, const mr_digit* b, int n, mr_digit* scratch);
// r[0 .. 2m-1] = a^2, for m >= 1.
void square_vv(mr_digit* r, const mr_digit* a, int m, mr_digit* scratch);

// The point products of the top Toom-3, Toom-4 and Toom-8 levels on the
// worker pool (product_tasks.cpp), which start_pool installs: each runs the
// level (a square passes b = nullptr) and returns true, or returns false
// having done nothing where the pool does not take it. Until they are
// installed every level runs on the calling thread.
using pool_level = bool (*)(mr_digit* r, const mr_digit* a, int m, const mr_digit* b, int n, mr_digit* scratch);
struct pool_levels {
    pool_level toom3, toom4, toom8;
};
void install_pool_levels(const pool_levels* levels);

// Products by a factor that many products share (reduction's n' and its
// modulus's halves under one power): fixed_factor_words(m) words hold b's
// part of a product of m by m words made once, 0 where the dispatch's top
// level has nothing to keep (no Toom-8 level there); make_fixed_factor
// makes it (m with a nonzero size only); product_fixed is product_vv for
// a, b of m words, taking b's part from `fixed` (null: none) where the
// level runs on this thread. The same scratch as product_vv.
std::size_t fixed_factor_words(int m);
void make_fixed_factor(const mr_digit* b, int m, mr_digit* fixed);
void product_fixed(mr_digit* r, const mr_digit* a, const mr_digit* b, int m, const mr_digit* fixed, mr_digit* scratch);

// Words of scratch that product_vv and square_vv need for these lengths.
std::size_t product_scratch_words(int m, int n);
std::size_t square_scratch_words(int m);
// At least product_scratch_words(m, n) for every m + n <= total (and
// square_scratch_words(m) for 2m <= total): each method's own part at the
// largest level the dispatch may give it, plus the most below. A few
// microseconds for a calculator's numbers, where the most of
// product_scratch_words itself takes seconds to find; for mirsys, which
// sizes the product area by it.
std::size_t product_area_words(int total);

// Montgomery reduction's products (montgomery.cpp) in the reduce area's
// scratch: each carves its scratch by its layout here, and mirsys sizes the
// area by reduce_products_area_words, summed from the same layouts.
//
// The low half of a product of n words (low_product): from
// monty_low_product_split words, the full product of the l = n - h low
// words (2l words, its scratch after them), then two low products of
// h = n/4 words, each into the first h words with its scratch after them.
struct low_product_layout {
    int h;
    int l;
    bool split;
};
low_product_layout low_product_layout_for(int n);
// The wrap-around product of N words (wrapped_product): below
// monty_wrap_split_min words or for an odd N, the full product (2N words)
// with its scratch after it; otherwise, for h = N/2, v (2h + 2 words), a1
// and b1 (h words each), a2 and b2 (h + 1 each), and from rest() the
// scratch of the product of h + 1 words and of the wrap-around product of h.
struct wrap_layout {
    int h;
    bool split;
    std::size_t a1() const { return 2 * static_cast<std::size_t>(h) + 2; }
    std::size_t b1() const { return a1() + static_cast<std::size_t>(h); }
    std::size_t a2() const { return b1() + static_cast<std::size_t>(h); }
    std::size_t b2() const { return a2() + static_cast<std::size_t>(h) + 1; }
    std::size_t rest() const { return b2() + static_cast<std::size_t>(h) + 1; }
};
wrap_layout wrap_layout_for(int N);
// The length N >= k of the wrap-around product that reduction by
// multiplication takes for a k-word modulus: k rounded up to a multiple of
// 2^j, where j halvings bring k below monty_wrap_split_min, so that every
// level of the product splits (an odd k would take a full product).
int wrap_length_for(int k);
// The low product on the pool (parallel_low_product): the split h = n/2,
// l = n - h, and h1 = h/2, l1 = h - h1 of its low products; the pieces'
// results p0 (2l words), p1 and p2 (2 l1 each), q (four of h1), and the
// starter's scratch from used().
struct parallel_low_layout {
    int h;
    int l;
    int h1;
    int l1;
    std::size_t p1() const { return 2 * static_cast<std::size_t>(l); }
    std::size_t p2() const { return p1() + 2 * static_cast<std::size_t>(l1); }
    std::size_t q() const { return p2() + 2 * static_cast<std::size_t>(l1); }
    std::size_t used() const { return 2 * static_cast<std::size_t>(l) + 4 * static_cast<std::size_t>(h) + 8; }
};
parallel_low_layout parallel_low_layout_for(int n);
// The wrap-around product on the pool (parallel_wrapped_product): the top
// level's v, a1, b1, a2, b2 as wrap_layout's for h = N/2, then the next
// level's of g = h/2: w (2g + 2 words), c1 and d1 (g each), c2 and d2
// (g + 1 each); the starter's scratch from used().
struct parallel_wrap_layout {
    wrap_layout top;
    int g;
    std::size_t w() const { return top.rest(); }
    std::size_t c1() const { return w() + 2 * static_cast<std::size_t>(g) + 2; }
    std::size_t d1() const { return c1() + static_cast<std::size_t>(g); }
    std::size_t c2() const { return d1() + static_cast<std::size_t>(g); }
    std::size_t d2() const { return c2() + static_cast<std::size_t>(g) + 1; }
    std::size_t used() const { return d2() + static_cast<std::size_t>(g) + 1; }
};
parallel_wrap_layout parallel_wrap_layout_for(int N);
// What one power under a k-word modulus makes once for reduction by
// multiplication (montgomery.cpp), from the start of words it lends: n''s
// part of the low product's full product of l words (fixed_factor_words),
// the modulus's sum and difference at the wrap-around product's top split
// (wrap_split: h and h + 1 words) and the difference's part of the
// product of h words there, then room for the modulus padded to N words
// while they are made. Sizes of 0 where a product splits no further.
struct fixed_reduce_layout {
    std::size_t low_words;
    int h;  // 0: the wrap-around product does not split
    std::size_t wrap_words;
    int N;
    std::size_t sums() const { return low_words; }
    std::size_t differences() const { return sums() + static_cast<std::size_t>(h); }
    std::size_t wrap() const { return h == 0 ? differences() : differences() + static_cast<std::size_t>(h) + 1; }
    std::size_t padded() const { return wrap() + wrap_words; }
    std::size_t words() const { return padded() + static_cast<std::size_t>(N); }
};
fixed_reduce_layout fixed_reduce_layout_for(int k);
// The most of fixed_reduce_layout_for(k).words() for k up to max_length.
std::size_t fixed_reduce_area_words(int max_length);
// Words of scratch that low_product and wrapped_product need for n words.
std::size_t low_product_scratch_words(int n);
std::size_t wrapped_product_scratch_words(int N);
// At least what Montgomery reduction's products ask of the reduce area's
// scratch for any modulus of at most max_length words: the low and the
// wrap-around product, on the pool or not, and a product or square of two
// residues; each bounded as product_area_words bounds the products in it.
std::size_t reduce_products_area_words(int max_length);

// The methods one by one, for the tuning program: each runs its own method
// at the top level and the dispatch below it. Karatsuba needs
// (m+1)/2 < n <= m, Toom-3 2*((m+2)/3) < n <= m, Toom-4 3*((m+3)/4) < n <= m,
// Toom-4/2 (m+3)/4 < n <= 2*((m+3)/4) with m >= 16; squares any m >= 2
// (Toom-3 m >= 3, Toom-4 m >= 16).
void schoolbook_product(mr_digit* r, const mr_digit* a, int m, const mr_digit* b, int n);
void schoolbook_square(mr_digit* r, const mr_digit* a, int m);
// A long a cut into pieces of b's length n <= (m+1)/2, each piece's product
// added in turn.
void pieces_product(mr_digit* r, const mr_digit* a, int m, const mr_digit* b, int n, mr_digit* scratch);
void karatsuba_product(mr_digit* r, const mr_digit* a, int m, const mr_digit* b, int n, mr_digit* scratch);
void karatsuba_square(mr_digit* r, const mr_digit* a, int m, mr_digit* scratch);
void toom3_product(mr_digit* r, const mr_digit* a, int m, const mr_digit* b, int n, mr_digit* scratch);
void toom3_square(mr_digit* r, const mr_digit* a, int m, mr_digit* scratch);
void toom42_product(mr_digit* r, const mr_digit* a, int m, const mr_digit* b, int n, mr_digit* scratch);
void toom4_product(mr_digit* r, const mr_digit* a, int m, const mr_digit* b, int n, mr_digit* scratch);
void toom4_square(mr_digit* r, const mr_digit* a, int m, mr_digit* scratch);
// Toom-8: both factors in eight pieces, 7*((m+7)/8) < n <= m, m >= 64.
void toom8_product(mr_digit* r, const mr_digit* a, int m, const mr_digit* b, int n, mr_digit* scratch);
void toom8_square(mr_digit* r, const mr_digit* a, int m, mr_digit* scratch);
// Toom-8 with b's points made once (toom8_make_points, into
// toom8_points_words(m) words) for products of m by m words, m >= 64.
std::size_t toom8_points_words(int m);
void toom8_make_points(const mr_digit* b, int m, mr_digit* points);
void toom8_product_points(mr_digit* r, const mr_digit* a, const mr_digit* b, int m, const mr_digit* points,
                          mr_digit* scratch);
// Toom-8/4: eight pieces against four, 3*((m+7)/8) < n <= 4*((m+7)/8), m >= 64.
void toom84_product(mr_digit* r, const mr_digit* a, int m, const mr_digit* b, int n, mr_digit* scratch);

#endif
