// The Montgomery module's routines for the engine's own use (montgomery.cpp):
// Montgomery contexts, residues under them and their products.
// clear_modulus is public (engine.h).
#ifndef TORVANE_ENGINE_MONTGOMERY_H
#define TORVANE_ENGINE_MONTGOMERY_H

#include <cstddef>
#include <cstdint>

#include "engine.h"
#include "internal.h"
#include "kernels.h"


// The calling thread's installed context.
monty_context& installed_context();
// c = the context of the odd n >= 3 (unchecked), with n' in the words of
// nprime_room, the workspace number context_nprime under the caller's
// claim. n must stay unchanged while c is in use.
void make_context(bignum* n, bignum* nprime_room, monty_context& c);

// Installs the odd modulus n >= 3 (error 19 otherwise); returns -1/n mod
// 2^32. The same modulus again costs one comparison.
mr_digit prepare_monty(bignum* n);
// y = x*R mod n, the residue of x; y = x*R^-1 mod n, back from a residue.
void nres(bignum* x, bignum* y);
void redc(bignum* x, bignum* y);
// w = x*y*R^-1 mod n: the residue of the product of two residues.
void nres_modmult(bignum* x, bignum* y, bignum* w);
// The same under context c (a modulus of zero is error 20, "No modulus
// defined"); the routines above are these under the installed context.
void nres(monty_context& c, bignum* x, bignum* y);
void redc(monty_context& c, bignum* x, bignum* y);
void nres_modmult(monty_context& c, bignum* x, bignum* y, bignum* w);

// The Montgomery methods by name, for the thresholds' tuning program; the
// routines of montgomery.cpp choose between them by size.
enum monty_method { monty_by_words, monty_by_multiplication };
// y = t*R^-1 mod n under context c (sign of t ignored), by the given
// method; t may be the accumulator.
void reduce_with(monty_context& c, bignum* t, bignum* y, monty_method method);
// w = x*y*R^-1 mod n for residues x != y below n, the product fused with
// its reduction.
void modmult_fused(const monty_context& c, bignum* x, bignum* y, bignum* w);
// The same for residues x, y below n (x may be y), the product formed and
// reduced word by word in the reduce area.
void modmult_in_area(const monty_context& c, bignum* x, bignum* y, bignum* w);

// Residues as words, for the exponentiations' inner loops under moduli
// short enough that the per-call work of nres_modmult (checks, copies into
// the reduce area and out, the comparison through number headers) is a
// sizeable part of a product: the same products on zero-padded arrays of
// the modulus's k words, each left fully reduced, so every step gives
// the residue nres_modmult gives. monty_words_apply says whether c's modulus
// is that short; monty_words_for makes the steps' record, with two buffers
// in the reduce area under the caller's claim of it (no routine that claims
// the area may run while they are in use), which the steps write in turn,
// and the kernels chosen once for k.
class scratch_claim;
struct monty_words {
    const monty_context* context;
    mr_digit* buffers[2];  // 2k + 4 words each
    int next;              // the buffer the next step writes
    monty_square_kernel square;
    monty_product_kernel product;  // null: as nres_modmult forms a product
    mr_digit* scratch;             // the product methods' scratch, where they form one
};
bool monty_words_apply(const monty_context& c);
monty_words monty_words_for(const monty_context& c, const scratch_claim& reduce_area);
// x*y*R^-1 mod n for k-word x and y below n (x may be y; neither in the
// buffer written next), left in that buffer: returns its k words.
mr_digit* monty_words_multiply(monty_words& m, const mr_digit* x, const mr_digit* y);
// The words of the reduce area that the steps under c leave free, under
// the same claim: *size words at the pointer returned.
mr_digit* monty_words_room(const monty_context& c, const scratch_claim& reduce_area, std::size_t* size);
// x = 2x mod n for a k-word x below n.
void monty_words_double(const monty_context& c, mr_digit* x);

// The same steps from reduction by multiplication up (below it the IFMA
// kernel's moduli stay on nres_modmult): monty_large_apply says whether
// c's modulus is that long (and the product area holds a product of its
// length); monty_large_multiply leaves x*y*R^-1 mod n for k-word x and y
// below n (x may be y) in r, k words outside the reduce and product areas
// (r may be x or y), as nres_modmult forms it: the product, reduction by
// multiplication and one subtraction. Claims both areas.
//
// A power runs many steps under one modulus: monty_large_fix makes once
// what reduction's products by n' and by the modulus can keep
// (fixed_reduce_layout, products.h), in `size` words at `room` that the
// caller keeps unchanged while the steps run under c, and the steps given
// it (fixed, null: none) take it; it is left empty (and the steps compute
// as without it) where the room is too small.
struct monty_fixed {
    const mr_digit* low;          // n''s part of the low product's full product, or null
    const mr_digit* sums;         // the modulus's halves' sum at the wrap-around product's top split,
    const mr_digit* differences;  // and their difference (null: not split)
    const mr_digit* wrap;         // the difference's part of the product there, or null
    bool low_fits;                // the low product fits the reduce area's scratch
    bool wrap_fits;               // the wrap-around product (and the padded modulus) does
};
bool monty_large_apply(const monty_context& c);
monty_fixed monty_large_fix(monty_context& c, mr_digit* room, std::size_t size);
void monty_large_multiply(monty_context& c, const mr_digit* x, const mr_digit* y, mr_digit* r,
                          const monty_fixed* fixed = nullptr);

#endif
