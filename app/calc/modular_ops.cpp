// The operations with a modulus or about divisibility: X^Y MOD Z,
// Y/X MOD Z, GCD(X,Y) with the LCM, Prime(X), (AX+BY)%Z, X^A*Y^B MOD Z and
// X^A+Y^B+Z.
#include <cstdio>

#include "calc.h"
#include "operations.h"

namespace {

// Whether |v| <= 1.
bool magnitude_at_most_one(bignum* v, bignum* scratch) {
    abs_number(v, scratch);
    return compare_with_int(scratch, 1, calc().work.c) <= 0;
}

// m = |Z|; false when |Z| <= 1, which no modular operation accepts.
bool modulus_from_z(bignum* m) {
    abs_number(Z, m);
    return compare_with_int(m, 1, calc().work.c) > 0;
}

}  // namespace

int inverse_mod(bignum* x, bignum* n, bignum* w) {
    // All three outputs in one number: only the coefficient of x is formed.
    return xgcd(x, n, w, w, w);
}

void reduce_non_negative(bignum* v, bignum* m) {
    divide(v, m, m);  // the quotient argument equal to the divisor: remainder only
    if (is_negative(v)) add(v, m, v);
}

int op_powmod() {
    work_numbers& work = calc().work;
    bignum* m = work.m;
    if (!modulus_from_z(m)) return result_invalid_z;
    // The power of X itself, sign included: X is first brought into
    // 0 ... |Z|-1 (-3 mod 7 is 4, so (-3)^3 gives 1, not the 6 of 3^3).
    copy_number(X, work.t1);
    reduce_non_negative(work.t1, m);
    abs_number(Y, work.t2);
    if (is_negative(Y)) {
        // X^-k is (X^-1)^k; without an inverse there is no answer.
        if (inverse_mod(work.t1, m, work.u) != 1) return result_invalid_x;
        copy_number(work.u, work.t1);
    }
    if (is_zero(work.t2)) {
        // X^0 is 1 for every X, as X^n has it, whatever the modulus's parity.
        set_from_int(1, work.answer);
        return result_ok;
    }
    powmod(work.t1, work.t2, m, work.answer);
    return result_ok;
}

int op_modular_divide() {
    work_numbers& work = calc().work;
    if (magnitude_at_most_one(X, work.t1)) return result_invalid_x;
    bignum* m = work.m;
    if (!modulus_from_z(m)) return result_invalid_z;

    bignum* t1 = work.t1;
    bignum* t2 = work.t2;
    bignum* g = work.g;
    copy_number(X, t1);
    reduce_non_negative(t1, m);
    copy_number(Y, t2);
    reduce_non_negative(t2, m);

    // Divide the common factor of X, Y and Z out of the congruence.
    egcd(t1, t2, g);
    egcd(g, m, g);
    if (compare_with_int(g, 1, work.c) > 0) {
        divide(t1, g, t1);  // quotient only
        divide(t2, g, t2);
        divide(m, g, m);
    }
    xgcd(t1, m, work.u, work.v, g);
    // With the common factor of X, Y and Z divided out, a g = gcd(X, Z)
    // above 1 would have to divide Y too for an answer to exist, and would
    // then have been part of that common factor: there is no answer. (Going
    // on would also form g*m, which can be longer than a number.)
    if (compare_with_int(g, 1, work.c) != 0) return result_no_answer;
    // r = (t2*u) mod m: mad keeps the double-length product t2*u, which for
    // a modulus of more than half the engine's words does not fit a number.
    bignum* r = work.r;
    mad(t2, work.u, work.u, m, m, r);  // no addend, remainder only

    // The congruence r*X = Y (mod |Z|) holds exactly when the answer exists;
    // both sides are compared as residues in 0 ... |Z|-1 (r*X through mad,
    // for the same reason).
    bignum* modulus = work.t3;
    abs_number(Z, modulus);
    copy_number(X, t1);
    reduce_non_negative(t1, modulus);
    mad(r, t1, t1, modulus, modulus, work.c);
    copy_number(Y, t1);
    reduce_non_negative(t1, modulus);
    if (compare_numbers(work.c, t1) != 0) return result_no_answer;
    copy_number(r, work.answer);
    return result_ok;
}

int op_gcd() {
    calculator& core = calc();
    if (magnitude_at_most_one(X, core.work.t1) || magnitude_at_most_one(Y, core.work.t1)) return result_invalid_x_or_y;
    egcd(X, Y, core.work.answer);
    // LCM = (X / GCD) * Y, with the sign of X*Y.
    copy_number(X, core.work.t1);
    divide(core.work.t1, core.work.answer, core.work.t1);
    // The engine forms a product only when its factors' words together fit
    // one number; a longer LCM leaves B as it is, and Ans still shows the
    // GCD.
    if (length_of(core.work.t1) + length_of(Y) > get_max_length()) return result_lcm_too_long;
    multiply(core.work.t1, Y, core.work.second);
    core.show_b = true;
    return result_ok;
}

void prime_verdict(char* status, int size) {
    work_numbers& work = calc().work;
    const auto n = static_cast<std::size_t>(size);
    abs_number(X, work.t1);
    if (compare_with_int(work.t1, 2, work.c) < 0) {
        std::snprintf(status, n, "Are you kidding me? So small an X.");
        return;
    }
    for (const std::int32_t p : small_prime_table) {
        if (cancel_point()) return;  // each division is a step; the caller reports the cancel
        if (subdiv(X, p, work.q) == 0) {
            if (compare_with_int(X, p, work.c) != 0) {
                std::snprintf(status, n, "X is NOT Prime, exactly divided by %d (0x%X) !", static_cast<int>(p),
                              static_cast<unsigned>(p));
            } else {
                std::snprintf(status, n, "X is Prime !");
            }
            return;
        }
    }
    std::snprintf(status, n, "%s", isprime(X) != 0 ? "X is Prime !" : "X is NOT Prime.");
}

int op_linear_mod() {
    work_numbers& work = calc().work;
    if (product_bits({X, A}) > max_operand_bits) return result_over_sized;
    if (product_bits({Y, B}) > max_operand_bits) return result_over_sized;
    multiply(B, Y, work.t2);
    multiply(A, X, work.answer);
    add(work.answer, work.t2, work.answer);
    if (!is_zero(Z)) {
        // Remainder by the signed Z has the sign of the sum; brought into
        // 0 ... |Z|-1.
        abs_number(Z, work.m);
        reduce_non_negative(work.answer, work.m);
    }
    return result_ok;
}

int op_powmod2() {
    work_numbers& work = calc().work;
    bignum* m = work.m;
    if (!modulus_from_z(m)) return result_invalid_z;
    abs_number(A, work.ea);
    abs_number(B, work.eb);
    bignum* t1 = work.t1;
    bignum* t2 = work.t2;
    copy_number(X, t1);
    reduce_non_negative(t1, m);
    copy_number(Y, t2);
    reduce_non_negative(t2, m);
    // A negative exponent raises the inverse; without one there is no answer.
    if (is_negative(A)) {
        if (inverse_mod(t1, m, work.u) != 1) return result_invalid_x;
        copy_number(work.u, t1);
    }
    if (is_negative(B)) {
        if (inverse_mod(t2, m, work.u) != 1) return result_invalid_y;
        copy_number(work.u, t2);
    }
    // A zero exponent makes its factor 1, also for a base that is a
    // multiple of Z.
    if (is_zero(work.ea)) set_from_int(1, t1);
    if (is_zero(work.eb)) set_from_int(1, t2);
    if (is_odd(m)) {
        powmod2(t1, work.ea, t2, work.eb, m, work.answer);
    } else {
        // Two exponentiations, each half of the progress.
        core_progress(0, 2);
        powmod(t1, work.ea, m, work.u);
        core_progress(1, 2);
        powmod(t2, work.eb, m, work.v);
        // Both factors are below m; mad keeps their double-length product.
        mad(work.u, work.v, work.v, m, m, work.answer);
    }
    return result_ok;
}

int op_power_sum() {
    work_numbers& work = calc().work;
    // Exponent times bit length bounds each power; a base of 0, 1 or -1 has
    // powers of a known size and no bound.
    if (!is_unit_or_zero(X)) {
        premult(A, bits(X), work.t1);
        if (compare_with_int(work.t1, max_operand_bits, work.c) > 0) return result_over_sized;
    }
    if (!is_unit_or_zero(Y)) {
        premult(B, bits(Y), work.t1);
        if (compare_with_int(work.t1, max_operand_bits, work.c) > 0) return result_over_sized;
    }
    if (is_negative(A) || is_negative(B)) return result_invalid_exponents;
    // 0^0 counts 1, as in every other power of the calculator.
    if (is_unit_or_zero(Y))
        unit_power(Y, B, work.t2);
    else
        power_of(Y, int_value(B), work.t2);
    if (is_unit_or_zero(X))
        unit_power(X, A, work.t1);
    else
        power_of(X, int_value(A), work.t1);
    add(work.t1, work.t2, work.answer);
    add(work.answer, Z, work.answer);
    return result_ok;
}
