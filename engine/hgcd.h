// The GCD module's inner steps for the blocked (half-GCD) reduction: the
// matrix of a Lehmer pass (gcd.cpp) and the block of Euclid steps that the
// half-GCD takes from the leading halves of the remainders (hgcd.cpp).
#ifndef TORVANE_ENGINE_HGCD_H
#define TORVANE_ENGINE_HGCD_H

#include <cstdint>

#include "engine.h"

// The matrix of one Lehmer pass: cofactor magnitudes below 2^63, the sign
// pattern (dplus: an even number of steps) and the number of Euclid steps it
// holds (0: no step was proven). See gcd.cpp for the conventions.
struct lehmer_matrix {
    std::uint64_t a = 1, b = 0, c = 0, d = 1;
    bool dplus = true;
    int steps = 0;
};

// The Lehmer pass over R1 >= R2 > 0 of n words (R1's top word not 0): w1
// and w2 hold n words each, w2 zero above R2's length.
lehmer_matrix lehmer_pass(const mr_digit* w1, const mr_digit* w2, int n);

// A pass's matrix applied to remainders x >= y of `limbs` 64-bit limbs
// (two words each): ox, oy = the new ones over as many limbs (the high
// parts cancel). Outputs may be the inputs.
void matrix_remainders(const mr_digit* x, const mr_digit* y, int limbs, const lehmer_matrix& m, mr_digit* ox,
                       mr_digit* oy);
// The same for cofactor magnitudes p, q: op, oq = a*p + b*q, d*q + c*p over
// limbs + 1 limbs. Outputs may be the inputs.
void matrix_cofactors(const mr_digit* p, const mr_digit* q, int limbs, const lehmer_matrix& m, mr_digit* op,
                      mr_digit* oq);

// One block of Euclid steps on the remainders R1 >= R2 > 0 of at least
// hgcd_words() words, found on their leading halves and applied to them,
// and to the cofactor pair C1, C2 (magnitudes, as xgcd keeps them) when
// c1 is not null. Returns the number of steps taken, 0 when the block
// proved none (the caller then makes an ordinary pass). The steps are
// steps of Euclid's algorithm on R1 and R2, exactly as a Lehmer pass's.
long long hgcd_block(bignum* r1, bignum* r2, bignum* c1, bignum* c2);

// The remainder length in words from which the GCDs take blocks (and a
// block takes inner blocks): hgcd_threshold (thresholds.h) unless a test or
// the tuning has set another with select_hgcd_words, which returns the
// value it replaces (any value of at least 8 words; smaller ones are
// raised to 8).
int hgcd_words();
int select_hgcd_words(int words);

#endif
