// The Montgomery module's routines for the engine's own use (montgomery.cpp):
// the installed odd modulus, residues under it and their products.
// clear_modulus is public (engine.h). The modulus and its constants live in
// the instance (mr_state: modulus, monty_constant, monty_constant_limb), n'
// of reduction by multiplication in the reduce area.
#ifndef TORVANE_ENGINE_MONTGOMERY_H
#define TORVANE_ENGINE_MONTGOMERY_H

#include "engine.h"

// Installs the odd modulus n >= 3 (error 19 otherwise); returns -1/n mod
// 2^32. The same modulus again costs one comparison.
mr_digit prepare_monty(bignum* n);
// y = x*R mod n, the residue of x; y = x*R^-1 mod n, back from a residue.
void nres(bignum* x, bignum* y);
void redc(bignum* x, bignum* y);
// w = x*y*R^-1 mod n: the residue of the product of two residues.
void nres_modmult(bignum* x, bignum* y, bignum* w);

// Installs the odd modulus n >= 3 with its constants, as a successful
// prepare_monty does, without its checks or trace: the exponentiations use
// it to give a caller's modulus back.
void install_modulus(const bignum* n);

// The Montgomery methods by name, for the thresholds' tuning program; the
// routines of montgomery.cpp choose between them by size.
enum monty_method { monty_by_words, monty_by_multiplication };
// y = t*R^-1 mod n under the installed modulus (sign of t ignored), by the
// given method; t may be the accumulator.
void reduce_with(bignum* t, bignum* y, monty_method method);
// w = x*y*R^-1 mod n for residues x != y below n, the product fused with
// its reduction.
void modmult_fused(bignum* x, bignum* y, bignum* w);
// The same for residues x, y below n (x may be y), the product formed and
// reduced word by word in the reduce area.
void modmult_in_area(bignum* x, bignum* y, bignum* w);

#endif
