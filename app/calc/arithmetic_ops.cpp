// The operations that need no modulus: X+Y, X-Y, X*Y, X/Y, X^n, X^(1/n), X!
// and X*Y*Z*A*B. Each guards the size of what it is about to form with a
// bound on bit lengths, so that no product or power exceeds max_operand_bits.
// Factors and bases of 0, 1 and -1 give results whose size is known exactly
// (0 or a change of sign at most), so they count for nothing in a bound.
#include "calc.h"
#include "operations.h"

#include <cstdint>

void power_of(bignum* x, int n, bignum* w) {
    const int small = int_value(x);
    if (small > -(1 << 30) && small < (1 << 30)) {
        expint(small, n, w);
    } else {
        power(x, n, w, w);  // the modulus argument equal to the result: no modulus
    }
}

int compare_with_int(bignum* v, int n, bignum* scratch) {
    set_from_int(n, scratch);
    return compare_numbers(v, scratch);
}

bool is_unit_or_zero(const bignum* v) {
    const int small = int_value(v);  // +-2^30 for any larger magnitude
    return small >= -1 && small <= 1;
}

void unit_power(bignum* x, bignum* e, bignum* w) {
    if (is_zero(e)) {
        set_from_int(1, w);  // x^0 = 1, 0^0 included
    } else if (is_zero(x)) {
        zero_number(w);
    } else {
        // 1 stays 1; -1 keeps its sign for an odd exponent.
        set_from_int(is_negative(x) && is_odd(e) ? -1 : 1, w);
    }
}

int product_bits(std::initializer_list<bignum*> factors) {
    int total = 0;
    for (bignum* f : factors) {
        if (is_zero(f)) return 0;
        if (!is_unit_or_zero(f)) total += bits(f);
    }
    return total;
}

int op_add() {
    add(X, Y, calc().work.answer);
    return result_ok;
}

int op_subtract() {
    subtract(X, Y, calc().work.answer);
    return result_ok;
}

int op_multiply() {
    if (product_bits({X, Y}) > max_operand_bits) return result_over_sized;
    multiply(X, Y, calc().work.answer);
    return result_ok;
}

int op_divide() {
    calculator& core = calc();
    if (is_zero(Y)) return result_invalid_y;
    // Quotient truncated towards zero; the remainder has the sign of X.
    copy_number(X, core.work.second);
    divide(core.work.second, Y, core.work.answer);
    core.show_b = true;
    return result_ok;
}

int op_power() {
    work_numbers& work = calc().work;
    // 0, 1 and -1 to any n >= 0 need no bound, however large n is.
    if (is_unit_or_zero(X) && !is_negative(Y)) {
        unit_power(X, Y, work.answer);
        return result_ok;
    }
    // Y * bits(X) is formed as a number, since Y itself may be large; a
    // negative Y passes here and is refused by the engine.
    premult(Y, bits(X), work.t1);
    if (compare_with_int(work.t1, max_operand_bits, work.t2) > 0) return result_over_sized;
    power_of(X, int_value(Y), work.answer);
    return result_ok;
}

int op_root() {
    calculator& core = calc();
    if (compare_with_int(Y, 1, core.work.t1) <= 0) return result_invalid_y;
    const bool negative = is_negative(X);
    if (negative && !is_odd(Y)) return result_even_root_of_negative;
    // The root is taken of |X| and given X's sign, which for an odd n is the
    // root truncated towards zero; B = X - Ans^n then has X's sign, and
    // X = Ans^n + B always holds.
    bignum* magnitude = core.work.t2;
    abs_number(X, magnitude);
    if (compare_with_int(Y, bits(magnitude) + 1, core.work.t1) > 0) {
        // n exceeds the bit length: |root| is 1, or 0 for X = 0; Ans^n is Ans.
        if (is_zero(magnitude)) {
            zero_number(core.work.answer);
            zero_number(core.work.second);
        } else {
            set_from_int(negative ? -1 : 1, core.work.answer);
            subtract(X, core.work.answer, core.work.second);
        }
    } else {
        const int n = int_value(Y);
        nroot(magnitude, n, core.work.answer);
        if (negative) negate_number(core.work.answer, core.work.answer);
        power_of(core.work.answer, n, core.work.t1);
        subtract(X, core.work.t1, core.work.second);
    }
    core.show_b = true;
    return result_ok;
}

void factorial_of(int n, bignum* w) {
    if (n <= 1) {
        set_from_int(1, w);
        return;
    }
    // Two factors a pass: k * (k - 1) < 2^31 for every k the bound of X!
    // lets in, so each pass over the answer's words takes two factors.
    static_assert(std::int64_t{max_factorial_argument} * (max_factorial_argument - 1) <= INT32_MAX);
    set_from_int(n, w);
    int k = n - 1;
    for (; k >= 3; k -= 2) {
        core_progress(n - 1 - k, n - 2);
        premult(w, k * (k - 1), w);
    }
    if (k == 2) premult(w, 2, w);
}

int op_factorial() {
    work_numbers& work = calc().work;
    if (is_negative(X)) return result_negative_factorial;
    if (compare_with_int(X, max_factorial_argument, work.t2) > 0) return result_factorial_too_big;
    factorial_of(int_value(X), work.answer);
    return result_ok;
}

int op_product() {
    work_numbers& work = calc().work;
    if (product_bits({X, Y, Z, A, B}) > max_operand_bits) return result_over_sized;
    // A factor 0 makes the product 0; the factors before it need no bound,
    // so they are not multiplied.
    for (bignum* f : {X, Y, Z, A, B}) {
        if (is_zero(f)) {
            zero_number(work.answer);
            return result_ok;
        }
    }
    core_progress(0, 4);
    multiply(X, Y, work.answer);
    core_progress(1, 4);
    multiply(work.answer, Z, work.answer);
    core_progress(2, 4);
    multiply(work.answer, A, work.answer);
    core_progress(3, 4);
    multiply(work.answer, B, work.answer);
    return result_ok;
}
