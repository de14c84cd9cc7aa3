// The powers module's routine for the engine's own use (powers.cpp);
// logb2, expint, power and nroot are public (engine.h).
#ifndef TORVANE_ENGINE_POWERS_H
#define TORVANE_ENGINE_POWERS_H

#include "engine.h"

// x = 2^n for n >= 0.
void expb2(int n, bignum* x);

#endif
