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
// Measured again after the limb-wise shifts and Toom-4 (Dec 2026, 21
// medians): the Karatsuba thresholds sit in flat regions (products within
// 1% from 44 to 56 words, squares from 88 to 108) and stay; Toom-3 loses
// 5-7% to Karatsuba on products from 192 to 288 words and wins 3-20% from
// 320, and on squares loses 1-7% up to 384 and ties or wins from 416.
// Measured again with Karatsuba's even split (products.cpp; Dec 2026, 21
// medians, then each build against the other in one process on the same
// operands): Toom-3 products lose 3-12% to Karatsuba from 96 to 352 words
// and again 8% at 512, and win 4-7% from 640 on; with Toom-3 from 640
// instead of 320, products take 0.93-0.94 of the time at 342 to 1024 words
// (0.97 at 2048, whose sub-products are Toom-3's no more). Squares, though
// the scan put them at 832, lose 3-6% at 513 and 600 words with it and
// stay at 416.
// Measured again once Toom-3 evaluated in two passes, the exact division by
// 3 ran on a chain of subtractions and a point's product kept k words
// (Dec 2026; torvane-tune-products --runs 15, then Toom-3 against
// Karatsuba at the top on the same operands, medians of 31 interleaved
// runs, steps of 32 words): Toom-3 products lose 4-7% from 224 to 352
// words and win 2-7% from 384 to 1024 (11% at 768), except for ties at
// 512 (1.01-1.05, where Karatsuba's halves stay powers of two) and 608;
// squares tie within 2% from 384 to 640 and win from 672, and stay. But
// with 384 built in, torvane-bench (six interleaved rounds against the
// build with 640) gave multiply 1.25 of GMP instead of 1.23 at 16384 bits
// and 1.385 instead of 1.36 at 65530, whose Toom-4 point products are of
// 512 words too: 512 = 2^9 words halve down to whole kernels, and there
// Karatsuba keeps the edge. So products stay at 640.
// Karatsuba measured again once the BMI2/ADX path had basecase kernels of
// fixed length for even lengths up to 32 words (Dec 2026;
// torvane-tune-products --runs 21 --methods karatsuba --range 30:48:1,
// three runs, Karatsuba over the schoolbook): products 1.12-1.16 at 31 to
// 33 words, 0.95 at 34, 0.82-0.97 from 35 to 48; squares 1.35-1.39 at 31
// to 33, 0.90-0.92 at 34, 0.78-0.90 from 35 to 48 (at 64 words 0.78 and
// 0.72 in the wider scan). Both switch where the fixed kernels end: from
// 34 words, whose halves of 16 to 32 words (the split made even) are
// fixed-length ones. Toom-3 against Karatsuba then (torvane-tune-products
// --runs 61 --methods toom3 --range 256:1024:32, two runs, Toom-3's time
// over Karatsuba's): products 1.06-1.10 from 416 to 512 words, 0.77-0.93
// from 544 to 768, 1.03-1.10 from 800 to 1024 but 0.93 at 864; squares
// 1.13-1.22 from 416 to 512, 0.80-0.92 from 544 to 768, 1.15 at 800 and
// 0.94-0.98 from 832 to 1024. Which wins follows where the recursion
// ends: Karatsuba's halves of 400 to 512 words end on kernels of 25 to 32
// words, Toom-3's pieces of 267 to 342 words on a Karatsuba level of 34 to
// 43 words (halves of 17 to 22). Both from 544 words, where the run of
// wins begins; products of 800 to 1024 words would gain a few percent by
// Karatsuba, not taken (no single threshold gives both). torvane-bench
// --ops multiply,square --libs torvane,gmp,openssl, of GMP's time before
// (two runs) and after: multiply 0.90-0.93 / 0.94-1.01 / 1.04-1.10 /
// 1.15-1.19 -> 0.90 / 0.96 / 1.05 / 1.18 at 1024 / 4096 / 16384 / 65530
// bits, square 0.86 / 1.06-1.08 / 1.23 / 1.39-1.41 -> 0.81 / 0.83 / 0.95
// / 1.21.
inline constexpr int product_karatsuba_threshold = 34;
inline constexpr int product_toom3_threshold = 544;
inline constexpr int square_karatsuba_threshold = 34;
inline constexpr int square_toom3_threshold = 544;
// Products and squares from toom3_gap_from words to below toom3_gap_to
// split by Karatsuba again, above the Toom-3 thresholds. Toom-3 at the top
// against Karatsuba at the top, the thresholds above built in
// (torvane-tune-products --runs 31 --methods toom3 --range 768:1104:16,
// two runs, Toom-3's time over Karatsuba's): products 0.91 at 768 words,
// 1.04-1.19 from 784 to 1056 except 0.92-0.97 at 848 and 864 and 0.99-1.0
// at 944 and 1040, 0.91-0.95 from 1072 (0.95-0.97 on to 1664 in steps of
// 64); squares 0.91 at 768, 1.03-1.20 from 784 to 1024, 0.82-0.96 from
// 1040 on. Toom-3's pieces of 262 to 346 words there end on a Karatsuba
// level of 34 to 44 words (halves of 17 to 22), Karatsuba's halves of 392
// to 520 on kernels of 25 to 32 words. torvane-bench --sizes
// 25600,28672,32768 (800, 896 and 1024 words), two runs of each build
// against GMP: multiply 1.27-1.29 / 1.27-1.28 / 1.24 -> 1.19-1.20 /
// 1.15-1.16 / 1.17-1.18 of GMP's time, square 1.22 / 1.20-1.21 /
// 1.11-1.14 -> 1.06-1.08 / 1.02-1.03 / 0.99.
inline constexpr int toom3_gap_from = 784;
inline constexpr int toom3_gap_to = 1040;
// Toom-4 and Toom-4/2 (four pieces against two), measured the same way
// with --methods toom4,toom42 (Dec 2026, four runs of 21 and 41 medians in
// steps of 32 words, and single lengths from 1024 to 2049 timed alone in
// thread CPU time; the last run with the Toom-3 thresholds above). The
// linear work of Toom-4 (17 passes over the evaluations and the
// interpolation, with three exact divisions) costs about what the saved
// sub-products do below these sizes. Products: Toom-4 wins by 2-10% at
// most lengths from 1696 words on (the tuning rule's threshold), within a
// few percent of Toom-3 below. Squares: Toom-4 wins by 1-5% from 1664 to
// 2015 words in the last run and by 5-8% from 1504 to 1984 in the earlier
// ones, but loses 4-9% at 2016 to 2048 in three of four runs (the
// sub-squares of 513 words fall on a slower split), so squares take it in
// that window only. Toom-4/2 against the product in pieces (2n by n words)
// gains 5-20% from n = 160 on.
// Measured again with the thresholds above (--runs 31 and 41, --range
// 1024:2048:64 and 1952:2048:16, Toom-4's time over Toom-3's): products
// 0.96-1.0 from 1664 to 2048 (1.02-1.05 at 2016 and 2032), squares
// 0.98-1.05 from 1664 to 2032 and 0.94-0.95 at 2048 (points of 512 words
// that halve down to whole kernels), within noise of the values kept.
inline constexpr int product_toom4_threshold = 1696;
inline constexpr int square_toom4_threshold = 1664;
inline constexpr int square_toom4_limit = 2016;
// Squares take Toom-4 again from square_toom4_resume words, once
// Karatsuba's middle term ran on one-pass kernels and its lowest level on
// the fixed-length kernels directly (torvane-tune-products --runs 31
// --methods toom4, --range 1952:2048:16 twice, 1986:2016:2, 2018:2036:2
// and 2036:2048:2, Toom-4's time over Toom-3's): 1.02-1.04 from 1984 to
// 2012, 1.09 at 2014 and 2016, 0.96-0.98 from 2018 to 2028, 1.0 at 2030
// and 2032, 0.93-0.95 from 2034 to 2048; the limit above stays.
inline constexpr int square_toom4_resume = 2018;
// Toom-4/2 measured again with the thresholds above (--methods toom42
// --range 48:400:16, --runs 31, two runs): 1.03-1.23 up to 128 words,
// 0.94-1.0 from 144 to 240, 0.85-0.96 from 256 on; 160 stays.
inline constexpr int product_toom42_threshold = 160;
// Toom-8 (eight pieces against eight, fifteen points) for products and
// squares from these lengths (the shorter factor's), above every method
// below. Measured against the method the dispatch takes there without it
// (torvane-tune-products --runs 21 --methods toom8 --range 768:2048:32,
// Toom-8's time over that method's): products 1.01 at 768 words,
// 0.91-0.94 from 800 to 960 (0.81 at 864), 0.79-0.98 from 992 to 1696
// (Toom-3's range; 0.75-0.81 from 1568 to 1664) and 0.83-0.89 from 1696
// to 2048 over Toom-4; squares 1.02-1.14 up to 1248 words (0.98 at 864),
// 0.96-1.09 from 1280 to 1440, 0.96-1.0 from 1472 to 1536, 0.76-0.92 from
// 1568 to 2048 (0.88 at 2048). The Toom-3 and Toom-4 pieces of these
// lengths end on Karatsuba levels that do not fall on whole kernels;
// Toom-8's pieces of 100 to 256 words do (at 2048 words, 32-word halves
// after three levels).
inline constexpr int product_toom8_threshold = 800;
inline constexpr int square_toom8_threshold = 1472;
// Toom-8/4 (eight pieces against four) for products of about 2n by n words
// (3k < n <= 4k, k = (m + 7) / 8) from this length of the shorter factor.
// Measured against Toom-4/2 on factors of 2n by n words
// (torvane-tune-products --runs 15 and 21 --methods toom84, --range
// 64:1024:64, 512:704:16, 500:528:4 and 384:512:32, Toom-8/4's time over
// Toom-4/2's): 1.66 at 64 words down to 1.03-1.05 from 384 to 480,
// 1.0-1.05 from 508 to 516 (at 512 Toom-4/2's points of 256 words halve
// down to whole kernels), 0.88-0.99 from 520 to 704, 0.91-0.93 from 832
// to 1024.
inline constexpr int product_toom84_threshold = 520;

// Top Toom-3 and Toom-4 levels of at least this many words (the longer
// factor) run their point products on the worker pool when it is on
// (pool.h); below it, or without a pool, nothing changes.
inline constexpr int parallel_product_threshold = 1024;
// From this many words (the longer factor) a product or square that the
// pool runs from outside a task keeps Toom-8 (its six pairs, the point 2/3
// and the products at 0 and infinity as nine tasks); below it Toom-3 or
// Toom-4 runs there instead. Measured on two threads (torvane-bench
// --threads 2, the least of four to five interleaved runs, 2026-12-09):
// products of 1024 words 27.8 us with Toom-8 against 26.7 with Toom-3, 1536
// words 42.8 against 42.8 with Toom-4, 2048 words 56.3 against 65.1;
// squares of 1536 words 32.2 against 28.1, 2048 words 41.5 against 46.5.
inline constexpr int parallel_toom8_threshold = 2048;
// Moduli of at least this many words run the products of reduction by
// multiplication in pieces on the worker pool when it is on
// (montgomery.cpp); below it, or without a pool, nothing changes.
inline constexpr int parallel_reduce_min = 1024;
// isprime runs its tests at once on the worker pool for candidates of at
// least this many bits, where one test takes a tenth of a second or more
// here: the tests split evenly from a few hundred bits on (the busiest
// thread has 0.51 to 0.54 of the one thread's work at 1279 and 4423 bits),
// but on a loaded machine a worker that the scheduler holds back for a few
// milliseconds made a 1024-bit test of 2 ms five times slower.
inline constexpr int parallel_prime_bits = 8192;
// A power modulo an even n = 2^j m runs its powers modulo 2^j and modulo m
// at once on the worker pool (modexp.cpp) when both 2^j and m have at
// least this many bits: each part then takes tens of milliseconds or more
// (n = 2^8192 m of 16384 bits, a 16384-bit exponent and an odd base: 0.034 s
// modulo 2^j and 0.060 s modulo m on one thread, torvane-bench's
// powmod_even with such operands), long enough that a worker held back by
// the scheduler costs little, as for isprime's tests.
inline constexpr int parallel_even_power_bits = 8192;

// ---- Montgomery reduction (montgomery.cpp) ---------------------------------

// A product of two different residues under a modulus of fewer words than
// monty_fused_max runs fused with its reduction (the kernel's interleaved
// rows); below monty_multiply_reduce_min words other products and squares
// are formed in the reduce area by the product methods and reduced word by
// word there (the square kernel, square and reduction inline, below the
// Karatsuba size of squares); from it on reduction is by multiplication
// (two products). Measured by torvane-tune-reduce (Release build, BMI2/ADX
// kernels, AMD EPYC with 2 cores shared, Dec 2026; medians of 11
// interleaved rounds in thread CPU time): with both on the inline kernel
// rows, the fused product ties with the product formed and reduced apart
// at 2 words and is 1-10% slower from 4 words on, so it is kept for 1-3
// words only. Reduction by multiplication, with the high half of q*n from
// the wrap-around product below, ties with word by word at 160 words
// (within 2%) and wins at every size scanned from 192 to 704 in steps of
// 32, by 4% at 192 and 10-30% from 224 on (before the wrap-around product
// it won only from 448).
inline constexpr int monty_fused_max = 4;
// Moduli of monty_ifma_min to monty_ifma_max words (and below
// monty_multiply_reduce_min) run every product and square of residues fused
// on the AVX-512 IFMA kernel where the processor has it. Measured against
// the rows (product or square formed in the reduce area, reduced word by
// word) on the same residues, medians of 11 interleaved rounds in thread
// CPU time, two runs (Release, BMI2/ADX rows, AMD EPYC with 2 cores shared,
// Dec 2026), IFMA/rows for products and squares: 1.45/1.5 at 16 words,
// 1.1/1.16 at 24, 1.03/1.1-1.15 at 28, 0.9/1.0 at 32, 0.8/0.9 at 36,
// 0.62/0.72 at 48, 0.51/0.59 at 64, 0.37/0.42 at 128, 0.4/0.45 at 192.
// Squares tie at 32 words, products win there, both win from 36. Above
// monty_multiply_reduce_min it runs instead of reduction by
// multiplication: 0.32-0.34 of the square and its reduction by
// multiplication from 192 to 256 words, 0.37 at 384, 0.65 at 512 (its
// vectors no longer fit the registers there). The maximum is the largest
// length the kernel takes. The minimum is above the fixed-length BMI2/ADX
// kernels (below), which beat it at 32 words.
inline constexpr int monty_ifma_min = 34;
inline constexpr int monty_ifma_max = 512;
// Moduli of an even number of words from monty_adx_min words (below
// monty_ifma_min where IFMA is in use) run the Montgomery product, square
// and word-by-word reduction on the BMI2/ADX blocks of kernels_adx.cpp
// instead of the path's rows. Measured with modmult_in_area and
// modmult_fused on the same residues, blocks on and off (Release, AMD EPYC
// with 2 cores shared and heavily loaded, Dec 2026; medians of 15
// interleaved rounds in thread CPU time, three to five runs): squares
// (square and reduction) lose 1-4% at 4 to 8 words, tie from 10 to 16,
// and take 0.94-1.01 of the rows' time from 24 to 96 words (0.95-0.97 at
// 48 and 64); the fused product wins
// 0-10% up to 64 words over the product formed and reduced apart but loses
// 1-13% from 96 on, so nres_modmult keeps products apart as before. IFMA
// keeps priority from 32 words: there the blocks' square is 0.9-1.0 of
// IFMA's and their product 1.0-1.08, a tie, and IFMA wins from 34 on.
// From 4 to 32 words the blocks are the fixed-length kernels, every row
// unrolled (kernels_adx.cpp): against the rows (square formed and reduced,
// product fused) and IFMA on the same residues, medians of 15 interleaved
// rounds in thread CPU time (Release, AMD EPYC with 2 cores shared, Dec
// 2026), the square takes 0.51 of the rows' time at 4 words, 0.57 at 8,
// 0.62 at 16, 0.67 at 24, 0.69 at 32 (0.76 of IFMA's), the product 0.53,
// 0.66, 0.63, 0.76 and 0.78 (0.93 of IFMA's); at 34 words, on the blocks
// again, IFMA wins.
inline constexpr int monty_adx_min = 4;
inline constexpr int monty_multiply_reduce_min = 192;
// Words from which the low half of a product (the quotient of reduction by
// multiplication) splits into a full product of the low halves and two low
// halves of half the size; below it runs row by row. Set to twice the
// Karatsuba threshold of products, so that the full product of the halves
// is a Karatsuba one (not tuned on its own).
inline constexpr int monty_low_product_split = 2 * product_karatsuba_threshold;
// Words from which the wrap-around product modulo B^N - 1 (the high half
// of q*n in reduction by multiplication) splits an even N into products
// modulo B^(N/2) - 1 and B^(N/2) + 1; below it, or for an odd N, the full
// product is folded.
inline constexpr int monty_wrap_split_min = 2 * product_karatsuba_threshold;

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
// Measured again once the schoolbook loop's row ran on two flag chains
// (--quick, Dec 2026): the two tie within 3% from 64 to 128 words (0.97 to
// 1.03), the recursion gains 1.09 at 160, 1.11 at 256 and 1.35-1.40 at 512
// and 1024; the value stays in that flat region. Measured again with the
// fixed-length basecase kernels and the faster Toom-3 (--quick, Dec 2026):
// 0.89-1.01 from 16 to 80 words, 1.07 at 96, 1.11 at 128, 1.44 at 1024;
// and whole divisions with engines built at 64, 96 and 128 (torvane-bench,
// 2n by n bits against GMP, five interleaved rounds of the three): at
// 16384 bits 0.90-1.03, 0.93-1.02 and 0.95-1.02 of GMP, at 65530 bits
// 1.09-1.18, 1.10-1.18 and 1.09-1.18, so 64 stays.
TORVANE_TUNABLE divide_recursive_words = 64;

// ---- Text conversion (text.cpp) ----------------------------------------------

// Words of a number above which the change of radix between full words and
// the text's word radix splits it by powers of that radix instead of
// running the quadratic Horner loop: out of full words (writing text, a
// division at each split) and into them (reading text, a product at each
// split). Measured by torvane-tune-divide as above, in bases 10, 3 and 60
// (one split at the top, two runs): writing breaks even at 128-192 words
// (0.96-1.10 at 160) and gains from there, reading from 40-64 (1.03-1.07
// at 48). Measured again once the quadratic loops ran on 64-bit limbs
// (torvane-bench, to_decimal and from_decimal at 4096, 16384 and 65530
// bits against GMP, two runs of each build, Dec 2026): writing at 96, 128,
// 160, 256 and 384 words gave 1.43-1.45, 1.43-1.45, 1.44-1.46, 1.55 and
// 1.66-1.72 of GMP at 16384 bits, and 1.81-1.86, 1.83-1.86, 1.83-1.85,
// 2.13 and 2.70-2.90 at 65530: splitting still pays from 160 words as a
// whole (the tuning program's one split at the top, with the quadratic
// loop below, breaks even only at 320-384 words). Reading, with powers
// that halve each number evenly, at 48, 64 and 96 words ties within 2-3%
// at every size. Writing again after the division's schoolbook loop moved
// to mulx (same measure, three interleaved runs on a loaded machine): at
// 64, 96 and 160 words 0.96, 0.85-0.99 and 0.99-1.11 of GMP at 4096 bits,
// 1.14-1.15, 0.97-1.17 and 1.05-1.26 at 16384, 1.35-1.48, 1.34-1.50 and
// 1.59-1.68 at 65530: small pieces now pay.
TORVANE_TUNABLE text_split_out_words = 64;
TORVANE_TUNABLE text_split_in_words = 48;

// ---- GCD and roots (gcd.cpp, powers.cpp) -------------------------------------

// Words of the larger remainder from which the GCDs take blocks of Euclid
// steps found on the leading halves (the half-GCD, hgcd.cpp) instead of
// Lehmer passes; inside a block, a block needs this many words too (tests
// set other values through select_hgcd_words, hgcd.h).
// Measured first with torvane-bench against GMP in one process (Release
// build, AMD EPYC with 2 cores shared, Dec 2026; egcd and xgcd's inverse,
// three interleaved rounds each) with engines built at 384, 768 and 1024
// and without blocks: 768 won 5-12% at 1536 and 2048 words. Measured again
// once the passes began on 64 bits and applied their matrices in place (the
// same measure at 65530 bits, 2048 words, three interleaved runs of each
// build): blocks from 768, 1024, 1536, 1800, 2000 and 2048 words gave gcd
// 1.30, 1.27, 1.23, 1.13-1.22, 1.16-1.20 and 1.17-1.21 of GMP, none 1.07-1.09;
// inverse 1.47, 1.46, 1.45, 1.45-1.52, 1.43-1.50 and 1.43-1.54, none
// 1.37-1.47. With the passes' mulx loops, timed in one process at 3072 and
// 4096 words (egcd and xgcd alone, medians of five): blocks from 768, 1536
// and 2048 words took 5.96, 5.85 and 5.60 ms for egcd at 3072 words against
// 4.33 without, 9.74, 9.22 and 9.10 against 7.11 at 4096; xgcd 8.44, 8.24,
// 8.06 against 7.48, and 13.3, 13.1, 13.4 against 12.6. So no length
// measured gains from blocks any more, and they start beyond the largest
// (4096 words, the most a benchmark instance holds).
inline constexpr int hgcd_threshold = 8192;

#endif
