// The engine's algorithm thresholds, all in one place: sizes in 32-bit words
// (or bits, where named) from which a faster method takes over. How each was
// measured, with the command and the figures: docs/tuning.md.
//
// Where a crossover depends on the processor, the constant is a column per
// processor family in the table below; start-up (choose_family,
// kernels.cpp) picks the family from cpuid, as it picks the kernels, and
// sets the constants from its column. A family without a measured column
// takes the nearest one: a processor without BMI2/ADX that of bmi2_adx.
#ifndef TORVANE_ENGINE_THRESHOLDS_H
#define TORVANE_ENGINE_THRESHOLDS_H

enum class processor_family { portable, bmi2_adx, avx512_ifma };

// ---- Fixed by the kernels ----------------------------------------------------

// Shorter factor's length from which products and squares split by
// Karatsuba: where the fixed-length ADX basecase kernels (to 32 words) end.
inline constexpr int product_karatsuba_threshold = 34;
inline constexpr int square_karatsuba_threshold = 34;
// Moduli of monty_ifma_min to monty_ifma_top (below) words run every
// Montgomery product and square fused on the AVX-512 IFMA kernel where
// there is one (0.8-0.9 of the rows' time at 36 words, 0.37-0.42 at 128);
// monty_ifma_max is the most the kernel takes.
inline constexpr int monty_ifma_min = 34;
inline constexpr int monty_ifma_max = 512;
// From these lengths the low half of a product (reduction's quotient) and
// the wrap-around product modulo B^N - 1 split in halves; twice the
// Karatsuba threshold, so that the halves' full product is a Karatsuba one.
inline constexpr int monty_low_product_split = 2 * product_karatsuba_threshold;
inline constexpr int monty_wrap_split_min = 2 * product_karatsuba_threshold;

// ---- Per processor family ----------------------------------------------------
//
// Columns:
//   avx512_ifma  AMD EPYC (Zen 4 class: BMI2/ADX, AVX-512 IFMA), 2 cores,
//                December 2026: torvane-tune-products, torvane-tune-reduce,
//                torvane-tune-divide and torvane-bench as docs/tuning.md
//                gives for each constant.
//   bmi2_adx     the same machine with the IFMA kernel off
//                (TORVANE_FAMILY=bmi2_adx): the kernels a processor without
//                IFMA runs. Only the Montgomery constants were measured
//                apart (torvane-tune-reduce); the others are the IFMA
//                column's, whose methods use no IFMA.
//
// X(name, avx512_ifma, bmi2_adx)
#define TORVANE_FAMILY_THRESHOLDS(X)                                                                 \
    /* Products and squares (products.cpp): Toom-3 from these lengths of the shorter factor */       \
    X(product_toom3_threshold, 544, 544)                                                             \
    X(square_toom3_threshold, 544, 544)                                                              \
    /* From toom3_gap_from to below toom3_gap_to words Karatsuba wins again (by 4-19%) */            \
    X(toom3_gap_from, 784, 784)                                                                      \
    X(toom3_gap_to, 1040, 1040)                                                                      \
    /* Toom-4 from these lengths (2-10% over Toom-3); squares leave it from square_toom4_limit */    \
    /* to below square_toom4_resume, where they lose 2-9% */                                         \
    X(product_toom4_threshold, 1696, 1696)                                                           \
    X(square_toom4_threshold, 1664, 1664)                                                            \
    X(square_toom4_limit, 2016, 2016)                                                                \
    X(square_toom4_resume, 2018, 2018)                                                               \
    /* Toom-4/2 (2n by n words) from this n (ties up to 240 words, then 4-15%) */                    \
    X(product_toom42_threshold, 160, 160)                                                            \
    /* Toom-8 from these lengths, above the methods below (ties to 6%; squares 1-22%) */             \
    X(product_toom8_threshold, 800, 800)                                                             \
    X(square_toom8_threshold, 1538, 1538)                                                            \
    /* Toom-8/4 (2n by n words) from this n: ties to 12% over Toom-4/2, with losses of 1-6% */       \
    /* at 1088-1440 */                                                                               \
    X(product_toom84_threshold, 800, 800)                                                            \
    /* The worker pool: top Toom-3 and Toom-4 levels of at least this many words (the longer */      \
    /* factor) run their point products on the pool */                                               \
    X(parallel_product_threshold, 1024, 1024)                                                        \
    /* From this many words a product or square on the pool keeps Toom-8 (nine tasks) */             \
    X(parallel_toom8_threshold, 2048, 2048)                                                          \
    /* Moduli of at least this many words run reduction by multiplication in pieces on the pool */   \
    X(parallel_reduce_min, 1024, 1024)                                                               \
    /* isprime runs its tests at once on the pool from this many bits */                             \
    X(parallel_prime_bits, 8192, 8192)                                                               \
    /* A power modulo an even n = 2^j m runs its two powers at once when 2^j and m both have */      \
    /* this many bits */                                                                             \
    X(parallel_even_power_bits, 8192, 8192)                                                          \
    /* Montgomery reduction (montgomery.cpp): products of different residues run fused with */       \
    /* their reduction below monty_fused_max words; moduli of an even number of words from */        \
    /* monty_adx_min run on the BMI2/ADX blocks (below IFMA's range where it is in use); from */     \
    /* monty_multiply_reduce_min words reduction is by multiplication */                             \
    X(monty_fused_max, 4, 4)                                                                         \
    X(monty_adx_min, 4, 4)                                                                           \
    X(monty_multiply_reduce_min, 192, 224)                                                           \
    /* Moduli above this many words leave the IFMA kernel for reduction by multiplication */         \
    /* (at most monty_ifma_max; unused without IFMA) */                                              \
    X(monty_ifma_top, 512, 512)                                                                      \
    /* Division (multiply_divide.cpp): divisor words from which the quotient is found in blocks */   \
    /* by recursion over multiply */                                                                 \
    X(divide_recursive_words, 64, 64)                                                                \
    /* Text (text.cpp): words above which the change of radix splits by powers of the radix */       \
    /* instead of the quadratic loop, writing (a division at each split; 48: 0.86 of GMP at */       \
    /* 4096-16384 bits against 0.92 at 64) and reading (a product at each split; 128: */             \
    /* 0.76-0.82 against 0.85 at 48). Half the reading one bounds the smallest power of both */      \
    X(text_split_out_words, 48, 48)                                                                  \
    X(text_split_in_words, 128, 128)                                                                 \
    /* GCD (gcd.cpp): remainders of at least these many words run Lehmer passes in blocks on */      \
    /* their leading gcd_block_top words, the block's matrix applied by fast products to the */      \
    /* words below them; xgcd's cofactors take the matrix too (egcd: 512-768 words tie, 0.71 */      \
    /* of GMP at 32768 bits against 0.77 from 1280; xgcd 768 against 0.97 from 512 and 640) */       \
    X(egcd_block_min, 768, 768)                                                                      \
    X(xgcd_block_min, 768, 768)                                                                      \
    X(gcd_block_top, 256, 256)                                                                       \
    /* Blocks of remainders of at least gcd_block_wide_min words take a top part of */               \
    /* gcd_block_top_wide words, reduced by blocks of gcd_block_top inside (65530 bits: inverse */   \
    /* 0.89 of GMP against 0.94 with 256 everywhere, gcd 0.82 against 0.84-0.85) */                  \
    X(gcd_block_wide_min, 1280, 1280)                                                                \
    X(gcd_block_top_wide, 512, 512)                                                                  \
    /* xgcd's passes below xgcd_block_min words record their matrices for the cofactors, */          \
    /* applied by fast products, once the cofactors have this many words (64-256: ties at */         \
    /* 4096-32768 bits, 0.73-0.88 of GMP against 0.80-0.93 never) */                                 \
    X(xgcd_gather_min, 128, 128)                                                                     \
    /* GCDs of operands of at least this many words find each quotient above 1 by a division */      \
    /* at once, not after up to 7 more subtractions (from 768-1024 words; 0.94 of GMP at 65530 */    \
    /* bits against 1.00, 0.86-0.88 at 16384 against 0.82-0.84) */                                   \
    X(gcd_pass_divide_min, 896, 896)

// The constants in use, set from the chosen family's column at start-up
// (before that, and in a program that never starts an engine, the IFMA
// column's). The tuning programs set them between timings.
#define TORVANE_THRESHOLD_VARIABLE(name, avx512_ifma, bmi2_adx) inline int name = avx512_ifma;
TORVANE_FAMILY_THRESHOLDS(TORVANE_THRESHOLD_VARIABLE)
#undef TORVANE_THRESHOLD_VARIABLE

#endif
