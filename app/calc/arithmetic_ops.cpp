// The operations that need no modulus: X+Y, X-Y, X*Y, X/Y, X^n, X^(1/n), X!
// and X*Y*Z*A*B. Each guards the size of what it is about to form with a
// bound on bit lengths, so that no product or power exceeds max_operand_bits.
#include "calc.h"
#include "operations.h"

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

int op_add() {
    add(X, Y, work.answer);
    return result_ok;
}

int op_subtract() {
    subtract(X, Y, work.answer);
    return result_ok;
}

int op_multiply() {
    if (bits(X) + bits(Y) > max_operand_bits) return result_over_sized;
    multiply(X, Y, work.answer);
    return result_ok;
}

int op_divide() {
    if (is_zero_number(Y)) return result_invalid_y;
    // Quotient truncated towards zero; the remainder has the sign of X.
    copy_number(X, work.second);
    divide(work.second, Y, work.answer);
    show_b = true;
    return result_ok;
}

int op_power() {
    // Y * bits(X) is formed as a number, since Y itself may be large; a
    // negative Y passes here and is refused by the engine.
    premult(Y, bits(X), work.t1);
    if (compare_with_int(work.t1, max_operand_bits, work.t2) > 0) return result_over_sized;
    power_of(X, int_value(Y), work.answer);
    return result_ok;
}

int op_root() {
    if (compare_with_int(Y, 1, work.t1) <= 0) return result_invalid_y;
    // The root and remainder are those of |X|, for every sign of X.
    bignum* magnitude = work.t2;
    abs_number(X, magnitude);
    if (compare_with_int(Y, bits(magnitude) + 1, work.t1) > 0) {
        // n exceeds the bit length: the root is 1, or 0 for X = 0.
        if (is_zero_number(magnitude)) {
            zero_number(work.answer);
            zero_number(work.second);
        } else {
            set_from_int(1, work.answer);
            subtract(magnitude, work.answer, work.second);
        }
    } else {
        const int n = int_value(Y);
        nroot(magnitude, n, work.answer);
        power_of(work.answer, n, work.t1);
        subtract(magnitude, work.t1, work.second);
    }
    show_b = true;
    return result_ok;
}

int op_factorial() {
    bignum* magnitude = work.t1;
    abs_number(X, magnitude);
    if (compare_with_int(magnitude, max_factorial_argument, work.t2) > 0) return result_factorial_too_big;
    const int n = int_value(magnitude);
    if (n <= 1) {
        set_from_int(1, work.answer);
        return result_ok;
    }
    set_from_int(n, work.answer);
    for (int k = n - 1; k >= 2; --k) {
        core_progress(n - 1 - k, n - 2);
        premult(work.answer, k, work.answer);
    }
    return result_ok;
}

int op_product() {
    if (bits(X) + bits(Y) + bits(Z) + bits(A) + bits(B) > max_operand_bits) return result_over_sized;
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
