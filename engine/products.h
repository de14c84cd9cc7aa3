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
// Toom-8/4: eight pieces against four, 3*((m+7)/8) < n <= 4*((m+7)/8), m >= 64.
void toom84_product(mr_digit* r, const mr_digit* a, int m, const mr_digit* b, int n, mr_digit* scratch);

#endif
