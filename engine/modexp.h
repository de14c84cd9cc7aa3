// The modular exponentiation module's routines for the engine's own use
// (modexp.cpp); powmod and powmod2 are public (engine.h). The nres_ forms
// take and give residues of the installed context or of the Montgomery
// context they are given (montgomery.h).
#ifndef TORVANE_ENGINE_MODEXP_H
#define TORVANE_ENGINE_MODEXP_H

#include "engine.h"
#include "montgomery.h"

// w = x^y mod n for a machine int x.
void powltr(int x, bignum* y, bignum* n, bignum* w);
void nres_powmod(bignum* x, bignum* y, bignum* w);
void nres_powmod2(bignum* x, bignum* y, bignum* a, bignum* b, bignum* w);
void nres_powltr(int x, bignum* y, bignum* w);
// The same under Montgomery context c; the forms above run under the
// installed context.
void nres_powmod(monty_context& c, bignum* x, bignum* y, bignum* w);
void nres_powmod2(monty_context& c, bignum* x, bignum* y, bignum* a, bignum* b, bignum* w);
void nres_powltr(monty_context& c, int x, bignum* y, bignum* w);

#endif
