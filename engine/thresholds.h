// The engine's algorithm thresholds, all in one place. Each is a size in
// 32-bit words at or above which a faster method takes over, with a note of
// how it was measured (the tuning programs in bench/ find them).
#ifndef TORVANE_ENGINE_THRESHOLDS_H
#define TORVANE_ENGINE_THRESHOLDS_H

// ---- Products and squares (products.cpp) ---------------------------------
// Operand length (the shorter factor's) from which a product splits by
// Karatsuba, and from which it splits by Toom-3; the same for squares.
// Measured by torvane-tune-products (Release build, BMI2/ADX kernels, AMD
// EPYC of 2 cores, Dec 2026): the first length from which the faster
// method won at that length and the next three scanned (steps of 4 words
// below Toom-3, 32 above), medians of 21 interleaved runs. Karatsuba gains
// about 8% at 100 words and 15% at 160; Toom-3 only 2-5% until ~900 words,
// so its thresholds sit in a flat region and move with noise by +-64.
constexpr int product_karatsuba_threshold = 76;
constexpr int product_toom3_threshold = 544;
constexpr int square_karatsuba_threshold = 144;
constexpr int square_toom3_threshold = 480;

// ---- Montgomery reduction (montgomery.cpp) ---------------------------------

// A product of two different residues under a modulus of fewer words than
// this runs fused with its reduction; squares, and larger products, are
// formed by multiply and reduced after. Measured with torvane-tune-reduce.
inline constexpr int monty_fused_max = 64;
// From a modulus of this many words on, reduction is by multiplication
// (two products) instead of word by word. Measured with torvane-tune-reduce.
inline constexpr int monty_multiply_reduce_min = 1 << 30;

// ---- Division (multiply_divide.cpp) ------------------------------------------

// ---- Text conversion (text.cpp) ----------------------------------------------

// ---- GCD and roots (gcd.cpp, powers.cpp) -------------------------------------

#endif
