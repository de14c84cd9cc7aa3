// The engine's algorithm thresholds, all in one place. Each is a size in
// 32-bit words at or above which a faster method takes over, with a note of
// how it was measured (the tuning programs in bench/ find them).
#ifndef TORVANE_ENGINE_THRESHOLDS_H
#define TORVANE_ENGINE_THRESHOLDS_H

// ---- Products and squares (multiply_divide.cpp) ----------------------------

// ---- Montgomery reduction (montgomery.cpp) ---------------------------------

// ---- Division (multiply_divide.cpp) ------------------------------------------

// ---- Text conversion (text.cpp) ----------------------------------------------

// ---- GCD and roots (gcd.cpp, powers.cpp) -------------------------------------

#endif
