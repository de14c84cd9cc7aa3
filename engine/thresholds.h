// The engine's algorithm thresholds, all in one place: sizes in 32-bit words
// (or bits, where named) from which a faster method takes over. How each was
// measured, with the command and the figures: docs/tuning.md.
#ifndef TORVANE_ENGINE_THRESHOLDS_H
#define TORVANE_ENGINE_THRESHOLDS_H

// ---- Products and squares (products.cpp) ---------------------------------

// Shorter factor's length from which products and squares split by
// Karatsuba (where the fixed-length ADX basecase kernels end) and by Toom-3.
inline constexpr int product_karatsuba_threshold = 34;
inline constexpr int product_toom3_threshold = 544;
inline constexpr int square_karatsuba_threshold = 34;
inline constexpr int square_toom3_threshold = 544;
// From toom3_gap_from to below toom3_gap_to words Karatsuba wins again over
// Toom-3 (by 4-19%).
inline constexpr int toom3_gap_from = 784;
inline constexpr int toom3_gap_to = 1040;
// Toom-4 from these lengths (2-10% over Toom-3); squares leave it from
// square_toom4_limit to below square_toom4_resume, where they lose 2-9%.
inline constexpr int product_toom4_threshold = 1696;
inline constexpr int square_toom4_threshold = 1664;
inline constexpr int square_toom4_limit = 2016;
inline constexpr int square_toom4_resume = 2018;
// Toom-4/2 (2n by n words) from this n (ties up to 240 words, then 4-15%
// over the product in pieces).
inline constexpr int product_toom42_threshold = 160;
// Toom-8 from these lengths, above every method below (2-20%).
inline constexpr int product_toom8_threshold = 800;
inline constexpr int square_toom8_threshold = 1472;
// Toom-8/4 (2n by n words) from this n: 1-12% over Toom-4/2.
inline constexpr int product_toom84_threshold = 520;

// ---- The worker pool (pool.h) ---------------------------------------------

// Top Toom-3 and Toom-4 levels of at least this many words (the longer
// factor) run their point products on the pool when it is on.
inline constexpr int parallel_product_threshold = 1024;
// From this many words a product or square on the pool keeps Toom-8 (nine
// tasks); below it Toom-3 or Toom-4 (2048 words: 56.3 us against 65.1).
inline constexpr int parallel_toom8_threshold = 2048;
// Moduli of at least this many words run reduction by multiplication in
// pieces on the pool (montgomery.cpp).
inline constexpr int parallel_reduce_min = 1024;
// isprime runs its tests at once on the pool from this many bits, where one
// test takes a tenth of a second or more (a delayed worker costs little).
inline constexpr int parallel_prime_bits = 8192;
// A power modulo an even n = 2^j m runs its two powers at once on the pool
// when 2^j and m both have this many bits (tens of milliseconds each).
inline constexpr int parallel_even_power_bits = 8192;

// ---- Montgomery reduction (montgomery.cpp) ---------------------------------

// Products of different residues run fused with their reduction below
// monty_fused_max words (1-10% slower from 4 words on); from
// monty_multiply_reduce_min words reduction is by multiplication (4% faster
// at 192 words, 10-30% from 224), below it word by word in the reduce area.
inline constexpr int monty_fused_max = 4;
// Moduli of monty_ifma_min to monty_ifma_max words run every product and
// square fused on the AVX-512 IFMA kernel where there is one (0.8-0.9 of
// the rows' time at 36 words, 0.37-0.42 at 128; 512 is the kernel's most).
inline constexpr int monty_ifma_min = 34;
inline constexpr int monty_ifma_max = 512;
// Moduli of an even number of words from monty_adx_min (below IFMA's range
// where it is in use) run on the BMI2/ADX blocks (0.51-0.69 of the rows'
// time for squares from 4 to 32 words).
inline constexpr int monty_adx_min = 4;
inline constexpr int monty_multiply_reduce_min = 192;
// From these lengths the low half of a product (reduction's quotient) and
// the wrap-around product modulo B^N - 1 split in halves; twice the
// Karatsuba threshold, so that the halves' full product is a Karatsuba one.
inline constexpr int monty_low_product_split = 2 * product_karatsuba_threshold;
inline constexpr int monty_wrap_split_min = 2 * product_karatsuba_threshold;

// ---- GCD (gcd.cpp) ------------------------------------------------------------

// Remainders of at least these many words run Lehmer passes in blocks on
// their leading gcd_block_top words, the block's matrix applied by fast
// products; xgcd's cofactors take the matrix too, so it pays there sooner
// (from 1024-1536 words for egcd, 768-1024 for xgcd; 256 words of top
// part against 128 and 384: ties to 8% better).
inline constexpr int egcd_block_min = 1280;
inline constexpr int xgcd_block_min = 768;
inline constexpr int gcd_block_top = 256;

// ---- Division and text conversion (multiply_divide.cpp, text.cpp) ----------

// Constants, except in the engine that torvane-tune-divide builds for itself
// (TORVANE_TUNING), where they are variables it sets between timings.
#ifdef TORVANE_TUNING
#define TORVANE_TUNABLE inline int
#else
#define TORVANE_TUNABLE inline constexpr int
#endif

// Divisor words from which division finds the quotient in blocks by
// recursion over multiply (1.07 at 96 words, 1.44 at 1024; ties below).
TORVANE_TUNABLE divide_recursive_words = 64;
// Words above which the change of radix splits by powers of the radix
// instead of the quadratic loop: writing text (a division at each split)
// and reading it (a product at each split).
TORVANE_TUNABLE text_split_out_words = 64;
TORVANE_TUNABLE text_split_in_words = 48;

#endif
