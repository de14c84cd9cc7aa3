// The instance's workspace numbers and which routine may use which.
//
// mirsys makes them once, in one block: the accumulator, scratch1 to
// scratch15, the installed modulus and the numbers of the last rows below.
// A routine may use a number only as its row says, and must not be handed
// one it uses as an argument. Routines that call one another keep their
// values in different numbers: read a routine's row together with the rows
// of everything it calls (the primality tests' values survive nres,
// nres_modmult and the products and divisions beneath them, which use only
// the accumulator, and the Lucas test finds its square root before it
// stores a value; nres_powmod's tables are formed after prepare_monty,
// which uses no workspace number).
//
//  number          room    users
//  accumulator     double  multiply, divide, mad: products and quotients;
//                          decr, remain: their working copy; xgcd: a
//                          cofactor product; nres, redc, nres_modmult: the
//                          value being reduced; the even-modulus power:
//                          products modulo 2^j
//  scratch1        single  egcd, xgcd: R1; nres_powmod: x^1 (table slot
//                          0); nres_powmod2: a (slot 1); classical powmod:
//                          the base; strong_lucas_probable_prime: V'_k
//  scratch2        single  egcd, xgcd: R2; nroot: the root; nres_powmod:
//                          x^3; nres_powmod2: x (slot 2);
//                          strong_lucas_probable_prime: V'_(k+1)
//  scratch3        single  xgcd: C1; nroot: the remainder; nres_powmod:
//                          x^5; nres_powmod2: x a (slot 3);
//                          strong_lucas_probable_prime: P'
//  scratch4        single  xgcd: C2; nroot: the truncated operand;
//                          nres_powmod: x^7; nres_powmod2: a^3 (slot 5);
//                          strong_lucas_probable_prime: a product
//  scratch5        double  xgcd: a division step's quotient; power: the
//                          running square; cinstr, cotstr: the converted
//                          value; nres_powmod: x^11; nres_powmod2: slot 6
//  scratch6        double  nroot: powers and products of the root; cbase:
//                          the sum; nres_powmod: x^13; nres_powmod2: slot
//                          7; the even-modulus power: m mod 2^j
//  scratch7        double  nroot: the step's numerator; cbase: the sum
//                          when scratch6 is its operand; nres_powmod: x^15;
//                          nres_powmod2: slot 9; the even-modulus power: 2^j
//  scratch8        single  nroot: the step's new low bits; nres_powmod:
//                          x^21; nres_powmod2: slot 10; the even-modulus
//                          power: 1/m mod 2^j
//  scratch9        single  nres_powmod: x^23; nres_powmod2: slot 11;
//                          nres_powltr, classical powltr: the exponent; the
//                          even-modulus power: the combination
//  scratch10       single  nres_powmod: x^27; nres_powmod2: slot 13;
//                          classical powltr: the bit mask;
//                          strong_lucas_probable_prime: the square root,
//                          then the odd part m of n + 1 and (m - 1)/2
//  scratch11       single  nres_powmod: x^29; nres_powmod2: slot 14;
//                          trial_division: the quotient
//  scratch12       single  nres_powmod: x^31; nres_powmod2: slot 15;
//                          strong_probable_prime: the residue of -1
//  scratch13       single  nres_powmod: x^2; nres_powmod2: the first
//                          exponent; strong_probable_prime: the odd part d
//                          of n - 1
//  scratch14       single  nres_powmod, classical powmod: the exponent;
//                          nres_powmod2: the second exponent;
//                          strong_probable_prime: the power of the base
//  scratch15       single  strong_probable_prime: the residue of 1;
//                          strong_lucas_probable_prime: the residue of 2
//  modulus         single  prepare_monty: the installed modulus
//  saved_modulus   single  powltr, the even-modulus power, isprime: the
//                          caller's modulus while they install their own
//  even_base       single  the even-modulus power (powmod, powltr): |x|
//  even_exponent   single  the even-modulus power: the exponent
//  even_low        single  the even-modulus power: |x|^y mod 2^j
//  even_power      single  the even-modulus power: the running power
//                          modulo 2^j, then |x|^y mod m
//  even_odd_part   single  the even-modulus power: m, the odd part of n
//
// The word arrays of the fast algorithms (products, reduction, division,
// text) are separate: the scratch areas of internal.h.
#ifndef TORVANE_ENGINE_WORKSPACE_H
#define TORVANE_ENGINE_WORKSPACE_H

#include "internal.h"

// scratch1 .. scratch15 by number, for the routines that index their
// tables: scratch_number(k) is scratch<k>, 1 <= k <= 15.
inline bignum* scratch_number(int k) {
    TORVANE_EXPECTS(k >= 1 && k <= 15);
    static constexpr bignum* mr_state::*numbers[15] = {
        &mr_state::scratch1,  &mr_state::scratch2,  &mr_state::scratch3,  &mr_state::scratch4,  &mr_state::scratch5,
        &mr_state::scratch6,  &mr_state::scratch7,  &mr_state::scratch8,  &mr_state::scratch9,  &mr_state::scratch10,
        &mr_state::scratch11, &mr_state::scratch12, &mr_state::scratch13, &mr_state::scratch14, &mr_state::scratch15,
    };
    return engine_instance->*numbers[k - 1];
}

// The workspace numbers without a field in mr_state, by their slot in the
// workspace block (slots the fields' numbers leave free).
enum workspace_slot : int {
    ws_saved_modulus = 20,
    ws_even_base = 22,
    ws_even_exponent = 23,
    ws_even_low = 24,
    ws_even_power = 25,
    ws_even_odd_part = 26,
};
static_assert(ws_even_odd_part < workspace_slot_count);

inline bignum* workspace(workspace_slot slot) {
    return number_in_block(engine_instance->workspace_block, slot, engine_instance->max_length - 1);
}

#endif
