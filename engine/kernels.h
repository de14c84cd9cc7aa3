// Word-vector kernels: the engine's hot loops, each over a pointer and a
// length counted in 32-bit mr_digit words, least significant word first.
//
// Every carry, borrow and row loop of the engine goes through these. Inside,
// they take two words at a time as one 64-bit limb with 128-bit
// intermediate products (the build is little-endian x86-64), and handle an
// odd last word on its own, so callers never see the limb size.
//
// Aliasing: z may be the same array as x or y (at the same position) for
// every kernel that runs upwards (add, sub, mul, addmul, submul, shr);
// shl runs downwards, so z may sit at or above x. Lengths of 0 are allowed
// and return 0.
#ifndef TORVANE_ENGINE_KERNELS_H
#define TORVANE_ENGINE_KERNELS_H

#include <cstring>

#include "engine.h"
#include "thresholds.h"

// The two words at p as one 64-bit limb, p[0] its low half; p need not be
// 8-byte aligned.
inline std::uint64_t load_limb(const mr_digit* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
// Stores the limb v as the two words at p, its low half in p[0].
inline void store_limb(mr_digit* p, std::uint64_t v) { std::memcpy(p, &v, sizeof v); }

// 1/d mod 2^64 for an odd d: Newton's iteration v <- v (2 - d v) from v =
// d, which is right to 3 bits (d d = 1 mod 8), each step doubling them.
constexpr std::uint64_t inverse_mod_limb(std::uint64_t d) {
    std::uint64_t v = d;
    for (int i = 0; i < 5; ++i) v *= 2 - d * v;
    return v;
}

// z = x + y over n words; returns the carry out (0 or 1).
mr_digit add_vv(mr_digit* z, const mr_digit* x, const mr_digit* y, int n);
// z = x - y over n words; returns the borrow out (0 or 1).
mr_digit sub_vv(mr_digit* z, const mr_digit* x, const mr_digit* y, int n);
// z = x + y + w over n words in one pass; returns the carry out (0, 1 or 2).
int add3_vvv(mr_digit* z, const mr_digit* x, const mr_digit* y, const mr_digit* w, int n);
// z = x + y - w over n words in one pass; returns the carry less the borrow out (-1, 0 or 1).
int addsub_vvv(mr_digit* z, const mr_digit* x, const mr_digit* y, const mr_digit* w, int n);
// z = x + y over n words for one word y; returns the carry out (0 or 1).
mr_digit add_vw(mr_digit* z, const mr_digit* x, int n, mr_digit y);
// z = x - y over n words for one word y; returns the borrow out (0 or 1).
mr_digit sub_vw(mr_digit* z, const mr_digit* x, int n, mr_digit y);
// z = x * y + r over n words; returns the word above the top.
mr_digit mul_vww(mr_digit* z, const mr_digit* x, int n, mr_digit y, mr_digit r);
// z += x * y over n words; returns the carry word out of the top.
mr_digit addmul_vvw(mr_digit* z, const mr_digit* x, int n, mr_digit y);
// z += x * y over n words (any n) for a two-word y; returns the two-word carry out of the top.
std::uint64_t addmul_vvd(mr_digit* z, const mr_digit* x, int n, std::uint64_t y);
// z[0 .. 2n-1] = 2z + x_k^2 * 2^(64k) for the two-word limbs x_k of x (an odd last word alone); returns the carry.
mr_digit dbl_addsqr_vv(mr_digit* z, const mr_digit* x, int n);
// z = x / 3 over n words for an x that is a multiple of 3.
void divexact3_vv(mr_digit* z, const mr_digit* x, int n);
// r[0 .. m+n-1] = x * y for m >= n >= 1 (schoolbook rows); r is apart from x and y.
void mul_basecase_vv(mr_digit* r, const mr_digit* x, int m, const mr_digit* y, int n);
// r[0 .. 2m-1] = x^2 for m >= 1 (cross products once, doubled, plus the diagonal); r is apart from x.
void sqr_basecase_vv(mr_digit* r, const mr_digit* x, int m);
// Montgomery reduction word by word: for an odd n of k words, c64 = -1/n
// mod 2^64 and T in t[0 .. 2k] (t[2k] = 0, T < 2^(64k)), leaves (T + q n) /
// 2^(32k), below 2^(32k) + n, in t[k .. 2k], with the q < 2^(32k) that
// makes T + q n a multiple of 2^(32k).
void monty_reduce_vv(mr_digit* t, const mr_digit* n, int k, std::uint64_t c64);
// The Montgomery product of x and y (k words each, zero-padded, below n)
// with the reduction interleaved row by row: buf[0 .. 2k+3] is cleared and
// left with x*y/2^(32k) mod n, plus 0 or n, in buf[k .. 2k].
void monty_product_vv(const mr_digit* x, const mr_digit* y, const mr_digit* n, int k, std::uint64_t c64,
                      mr_digit* buf);
// The Montgomery square of x (k words, zero-padded, below n): buf[0 .. 2k]
// is left with x^2/2^(32k) mod n, plus 0 or n, in buf[k .. 2k].
void monty_square_vv(const mr_digit* x, const mr_digit* n, int k, std::uint64_t c64, mr_digit* buf);
// z = x << s over n words, 0 <= s < 32; returns the bits shifted out, low-aligned.
mr_digit shl_vu(mr_digit* z, const mr_digit* x, int n, unsigned s);
// z = x >> s over n words, 0 <= s < 32; returns the bits shifted out, high-aligned.
mr_digit shr_vu(mr_digit* z, const mr_digit* x, int n, unsigned s);
// The sign of x - y over n words: -1, 0 or 1.
int cmp_vv(const mr_digit* x, const mr_digit* y, int n);

// The Montgomery product of monty_product_vv on AVX-512 IFMA (52-bit
// multiply-add on eight lanes), for 1 <= k <= monty_ifma_max words: the
// same words in buf[k .. 2k] (the rest of buf untouched). Returns false,
// doing nothing, where the processor lacks the instructions or k is out
// of range.
bool monty_product_ifma(const mr_digit* x, const mr_digit* y, const mr_digit* n, int k, std::uint64_t c64,
                        mr_digit* buf);
// monty_product_vv and monty_square_vv run on the IFMA product for moduli
// of monty_ifma_min to monty_ifma_top words when it is selected, which it is
// from start-up on processors that have it; select_monty_ifma(false) keeps
// them on their rows (tests compare). Returns false, changing nothing, when
// IFMA is asked for and the processor lacks it.
bool select_monty_ifma(bool use);
// True when the Montgomery kernels run on IFMA for a k-word modulus, where
// the fused product pays for squares and products alike.
bool monty_ifma_in_use(int k);

// The Montgomery product, square and reduction of monty_product_vv,
// monty_square_vv and monty_reduce_vv on BMI2/ADX, every loop of rows one
// block of assembly, for a positive even k: the same words in buf[k .. 2k]
// (t[k .. 2k] for the reduction). Return false, doing nothing, where the
// processor lacks the instructions or k does not fit.
bool monty_product_adx(const mr_digit* x, const mr_digit* y, const mr_digit* n, int k, std::uint64_t c64,
                       mr_digit* buf);
bool monty_square_adx(const mr_digit* x, const mr_digit* n, int k, std::uint64_t c64, mr_digit* buf);
bool monty_reduce_adx(mr_digit* t, const mr_digit* n, int k, std::uint64_t c64);
// The Montgomery kernels run on the three above for moduli that fit them,
// from monty_adx_min words, where IFMA is not in use; selected from
// start-up on processors with BMI2 and ADX. select_monty_adx(false) keeps
// them on their rows (tests compare); it returns false, changing nothing,
// when the processor lacks the instructions.
bool select_monty_adx(bool use);
// The schoolbook square and the product of two m-word numbers on BMI2/ADX
// with every row unrolled, for an even m from 4 to basecase_fixed_max: r[0 .. 2m-1] as
// sqr_basecase_vv and mul_basecase_vv leave it (r apart from x and y).
// Return false, doing nothing, where the processor lacks the instructions or
// m is out of range. The BMI2/ADX kernel path takes them where they fit,
// and the Montgomery kernels above run on them from 4 to 32 words.
inline constexpr int basecase_fixed_max = 32;
bool sqr_basecase_fixed(mr_digit* r, const mr_digit* x, int m);
bool mul_basecase_fixed(mr_digit* r, const mr_digit* x, const mr_digit* y, int m);
bool monty_adx_in_use(int k);
// The fixed-length square and product above for m words, taken once for
// many of one length: r[0 .. 2m-1] as sqr_basecase_vv and mul_basecase_vv
// leave it; null unless the BMI2/ADX kernel path is chosen and takes m.
using basecase_square_kernel = void (*)(mr_digit* r, const mr_digit* x);
using basecase_product_kernel = void (*)(mr_digit* r, const mr_digit* x, const mr_digit* y);
basecase_square_kernel basecase_square_for(int m);
basecase_product_kernel basecase_product_for(int m);

// The kernel that monty_square_vv runs for a k-word modulus under the
// present selection, taken once for a loop of many squares: a fixed-length
// one where the BMI2/ADX blocks take k, else monty_square_vv itself. The
// product's likewise, or null where no fixed-length one takes k.
using monty_square_kernel = void (*)(const mr_digit* x, const mr_digit* n, int k, std::uint64_t c64, mr_digit* buf);
using monty_product_kernel = void (*)(const mr_digit* x, const mr_digit* y, const mr_digit* n, int k,
                                      std::uint64_t c64, mr_digit* buf);
monty_square_kernel monty_square_for(int k);
monty_product_kernel monty_product_for(int k);

// The 2x2 matrix steps of the GCD's Lehmer passes, in place over n words
// (n even, the words two limbs each), for entries a, b, c, d below 2^63.
// x, y = a*x - b*y, d*y - c*x modulo 2^(32n) (the caller knows both fit).
void mat2_submul_vv(mr_digit* x, mr_digit* y, int n, std::uint64_t a, std::uint64_t b, std::uint64_t c,
                    std::uint64_t d);
// x, y = a*x + b*y, c*x + d*y over n + 2 words: the tops land in x[n .. n+1] and y[n .. n+1].
void mat2_addmul_vv(mr_digit* x, mr_digit* y, int n, std::uint64_t a, std::uint64_t b, std::uint64_t c,
                    std::uint64_t d);
// Which implementation the kernels above run on: the portable one, or the one
// for processors with the BMI2 and ADX instructions (mulx, adcx, adox). The
// best one this processor has is chosen once at start-up; tests and the
// tuning program switch to compare. Returns false, changing nothing, when
// the processor lacks the instructions.
enum class kernel_path { portable, bmi2_adx };
bool select_kernel_path(kernel_path p);
kernel_path current_kernel_path();

// Whether the processor has AVX-512 IFMA (and the system saves its registers).
bool processor_has_ifma_kernel();

// Picks the processor family once per process (mirsys calls it): the best
// this processor has, or TORVANE_FAMILY (portable, bmi2_adx, avx512_ifma)
// when that names one it has, to measure another family's kernels and
// thresholds here. Below the processor's own family it keeps the kernels of
// the family named (no IFMA kernel for bmi2_adx, the portable loops for
// portable); then sets the thresholds from the family's column
// (thresholds.h). Returns the family.
processor_family choose_family();
// The name of a family, as TORVANE_FAMILY spells it.
const char* family_name(processor_family f);

// shl_vu for z and x apart (no word of one within the other); returns the bits shifted out, low-aligned.
mr_digit shl_apart_vu(mr_digit* z, const mr_digit* x, int n, unsigned s);

#endif
