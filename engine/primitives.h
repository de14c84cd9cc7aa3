// The primitives module's routines for the engine's own use (primitives.cpp):
// linear-time arithmetic on numbers and the word operations beneath
// multiplication, division and reduction. add, subtract, premult and subdiv
// are public (engine.h).
#ifndef TORVANE_ENGINE_PRIMITIVES_H
#define TORVANE_ENGINE_PRIMITIVES_H

#include "engine.h"

// z = x - n. Uses the accumulator for n, so neither x nor z may be it.
void decr(bignum* x, int n, bignum* z);
// x mod n with x's sign, through the accumulator; word_divides: 1 when n
// divides x.
int remain(bignum* x, int n);
int word_divides(bignum* x, int n);
// w = x * B^n for the digit base B; a negative n drops the -n lowest words.
void mr_shift(bignum* x, int n, bignum* w);
// z = x + d*y for d = +1 or -1: the body of add, subtract and decr.
void signed_add(const bignum* x, int d, const bignum* y, bignum* z);
// z = |x| + |y| for |x| >= |y|; z = |x| - |y| for |x| >= |y| (error 4 otherwise).
void magnitude_add(bignum* x, bignum* y, bignum* z);
void magnitude_subtract(bignum* x, bignum* y, bignum* z);
// z = x * n for a word n, z keeps x's sign; z = x / n truncated for a
// non-zero word n, returning |x| mod n.
void multiply_by_word(const bignum* x, mr_digit n, bignum* z);
mr_digit divide_by_word(const bignum* x, mr_digit n, bignum* z);
// (a*b + c) / m with the remainder in r, the quotient fitting a word;
// (hi*2^32 + lo) / m for hi < m.
mr_digit mul_add_div_word(mr_digit a, mr_digit b, mr_digit c, mr_digit m, mr_digit* r);
mr_digit div_double_word(mr_digit hi, mr_digit lo, mr_digit m, mr_digit* r);
// w << n within a word (0 for n >= 32).
mr_digit shift_word(mr_digit w, int n);
// Bit k of |x|; the windows of the sliding-window exponentiations.
int test_bit(const bignum* x, int k);
int exponent_window(const bignum* x, int i, int* nbs, int* nzs, int window);
int exponent_window_pair(const bignum* x, const bignum* y, int i, int* nbs, int* nzs);

#endif
