// The multiplication module's routine for the engine's own use
// (multiply_divide.cpp); multiply, divide and mad are public (engine.h).
#ifndef TORVANE_ENGINE_MULTIPLY_DIVIDE_H
#define TORVANE_ENGINE_MULTIPLY_DIVIDE_H

#include "engine.h"

// y = x * d for the word d = floor(2^32 / (top word of x + 1)), which
// enlarges the top word without adding a word, as long division needs;
// returns d (1 when no scaling is needed).
mr_digit normalise(bignum* x, bignum* y);

#endif
