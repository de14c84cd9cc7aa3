// The operands of torvane-bench: random numbers of exactly the cell's size,
// the same for every library.
#ifndef TORVANE_BENCH_OPERANDS_H
#define TORVANE_BENCH_OPERANDS_H

#include <cstdint>

#include "bench_case.h"

// The operands of `op` at `bits` bits (16 <= bits): a, b, e, f and m of
// exactly `bits` bits, d of 2*bits bits, x and y of `bits` bits below m; m
// odd, except for powmod_even where it is even; for inverse, x prime to m;
// for isprime, m is a prime (of fewer bits above 4096 bits, see operands.cpp).
// The same (op, bits, seed) always gives the same operands.
operand_set make_operands(bench_op op, int bits, std::uint64_t seed);

#endif
