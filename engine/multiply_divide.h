// The multiplication module's routines for the engine's own use
// (multiply_divide.cpp); multiply, divide and mad are public (engine.h).
#ifndef TORVANE_ENGINE_MULTIPLY_DIVIDE_H
#define TORVANE_ENGINE_MULTIPLY_DIVIDE_H

#include "engine.h"

// y = x * d for the word d = floor(2^32 / (top word of x + 1)), which
// enlarges the top word without adding a word, as long division needs;
// returns d (1 when no scaling is needed).
mr_digit normalise(bignum* x, bignum* y);

// The magnitudes' routines on word vectors, for modules that keep lengths
// of their own (roots). Operands may have leading zero words unless said.
//
// r[0 .. m+n-1] = x * y and r[0 .. 2m-1] = x^2, for m, n >= 1, by the
// methods of products.cpp in the product area (the schoolbook rows when the
// area is too small for the shape); r is apart from x and y.
void product_words(mr_digit* r, const mr_digit* x, int m, const mr_digit* y, int n);
void square_words(mr_digit* r, const mr_digit* x, int m);
// The quotient of a (t words) by y (n >= 2 words, y[n-1] != 0), t >= n, in
// q[0 .. t-n] and the remainder in r[0 .. n-1], either pointer null when it
// is not wanted; q and r are apart from y and each other, either may be a.
// With q_spare, q has room for t - n + 2 words and the quotient is built
// there (its top word 0) instead of copied in.
void divide_words(const mr_digit* a, int t, const mr_digit* y, int n, mr_digit* q, mr_digit* r,
                  bool q_spare = false);

#endif
