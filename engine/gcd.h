// The GCD module's word helper for the engine's own use (gcd.cpp); egcd and
// xgcd are public (engine.h).
#ifndef TORVANE_ENGINE_GCD_H
#define TORVANE_ENGINE_GCD_H

#include <cstdint>

#include "engine.h"

// u div v when it is below 2^31, else 0: a Lehmer step's single quotient.
mr_digit small_quotient(std::uint64_t u, std::uint64_t v);

#endif
