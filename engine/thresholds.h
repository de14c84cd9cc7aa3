// The engine's algorithm thresholds, all in one place. Each is a size in
// 32-bit words at or above which a faster method takes over, with a note of
// how it was measured (the tuning programs in bench/ find them).
#ifndef TORVANE_ENGINE_THRESHOLDS_H
#define TORVANE_ENGINE_THRESHOLDS_H

// ---- Products and squares (products.cpp) ---------------------------------
// Operand length (the shorter factor's) from which a product splits by
// Karatsuba, and from which it splits by Toom-3; the same for squares.
// Measured by torvane-tune-products (Release build, BMI2/ADX kernels, AMD
// EPYC with 2 cores, Dec 2026): the first length from which the faster
// method won there, at the next three lengths scanned and at four in five
// up to the end of the scan (steps of 4 words below Toom-3, 32 above),
// medians of 41 interleaved runs; three runs, the value most of them gave,
// then confirmed with these built in. Karatsuba gains about 15% at 100
// words. Toom-3 gains 7-13% on products from 192 words, but only 2-8% on
// squares, whose threshold sits in a flat region (288 to 384 between runs).
inline constexpr int product_karatsuba_threshold = 48;
inline constexpr int product_toom3_threshold = 160;
inline constexpr int square_karatsuba_threshold = 92;
inline constexpr int square_toom3_threshold = 288;

// ---- Montgomery reduction (montgomery.cpp) ---------------------------------

// A product of two different residues under a modulus of fewer words than
// this runs fused with its reduction; squares, and larger products, are
// formed by multiply and reduced after. From this many words on, reduction
// is by multiplication (two products) instead of word by word. Measured by
// torvane-tune-reduce (Release build, BMI2/ADX product kernels, AMD EPYC
// with 2 cores shared, Dec 2026; medians of 11 interleaved rounds in thread
// CPU time): the fused product won by 5-25% up to 16 words and tied or lost
// from 24 on; reduction by multiplication (with the low-half product below)
// tied with word by word (within 2%) from 320 to 384 words and won at every
// size scanned from 416 to 800 words in steps of 32, by 5-20%.
inline constexpr int monty_fused_max = 24;
inline constexpr int monty_multiply_reduce_min = 416;
// Words from which the low half of a product (the quotient of reduction by
// multiplication) splits into a full product of the low halves and two low
// halves of half the size; below it runs row by row. Set to twice the
// Karatsuba threshold of products, so that the full product of the halves
// is a Karatsuba one (not tuned on its own).
inline constexpr int monty_low_product_split = 2 * product_karatsuba_threshold;

// ---- Division (multiply_divide.cpp) ------------------------------------------

// The thresholds below are constants, except in the engine that the tuning
// program torvane-tune-divide builds for itself (TORVANE_TUNING), where they
// are variables it sets between timings.
#ifdef TORVANE_TUNING
#define TORVANE_TUNABLE inline int
#else
#define TORVANE_TUNABLE inline constexpr int
#endif

// Divisor words at or above which division finds the quotient in blocks by
// recursion over multiply instead of by the schoolbook loop. Measured by
// torvane-tune-divide (Release build, AMD EPYC with 2 cores, Dec 2026, the
// product thresholds above; 2n by n words, recursion at the top only,
// medians of 11 interleaved runs, two runs): the recursion gains 0.94-0.98
// at 40-48 words, 1.05-1.08 at 64, 1.1 at 80, 1.2 at 128, 1.6 at 1024.
TORVANE_TUNABLE divide_recursive_words = 64;

// ---- Text conversion (text.cpp) ----------------------------------------------

// Words of a number above which the change of radix between full words and
// the text's word radix splits it by powers of that radix instead of
// running the quadratic Horner loop: out of full words (writing text, a
// division at each split) and into them (reading text, a product at each
// split). Measured by torvane-tune-divide as above, in bases 10, 3 and 60
// (one split at the top, two runs): writing breaks even at 128-192 words
// (0.96-1.10 at 160) and gains from there, reading from 40-64 (1.03-1.07
// at 48).
TORVANE_TUNABLE text_split_out_words = 160;
TORVANE_TUNABLE text_split_in_words = 48;

// ---- GCD and roots (gcd.cpp, powers.cpp) -------------------------------------

#endif
