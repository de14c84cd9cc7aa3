// The primality module's routines for the engine's own use (primality.cpp);
// isprime is public (engine.h). The small-prime table lives in the
// instance (mr_state: prime_table).
#ifndef TORVANE_ENGINE_PRIMALITY_H
#define TORVANE_ENGINE_PRIMALITY_H

#include "engine.h"

// Builds the table of the primes up to `bound` (at least the table's own
// bound; error 14 from 2^30 on, error 8 when there is no memory).
void gprime(int bound);
// Trial division of x by the table's primes, smallest first: 0 when x <= 1
// or a prime below x divides it, 1 when x is one of them or has no factor up
// to its square root, 2 when undecided. y is not used.
int trial_division(bignum* x, bignum* y);

// The two halves of isprime's test, for an odd n >= 3 that each installs as
// the Montgomery modulus and leaves installed (error 19 for any other n).
// strong_probable_prime: 1 when n is a strong probable prime to the base
// a >= 2 (a base of n or more counts modulo n). strong_lucas_probable_prime: 1 when n is a strong Lucas
// probable prime with Selfridge's parameters (a perfect square gives 0).
// Both give 0 for a composite they prove composite.
int strong_probable_prime(int a, bignum* n);
int strong_lucas_probable_prime(bignum* n);

#endif
