// The fifteen operations, their button table and the helpers they share.
//
// An operation reads the registers and writes its results only into the two
// staging numbers of the calculator's `work` (answer, and second for B); the
// frame in calc.cpp copies them into Ans and B when the operation succeeds,
// so a refusal or an engine error never changes a register. Operands are never
// written either: every intermediate lives in a work number.
#ifndef TORVANE_APP_CALC_OPERATIONS_H
#define TORVANE_APP_CALC_OPERATIONS_H

#include <array>
#include <cstdint>
#include <initializer_list>

#include "calc.h"
#include "engine.h"

// One row of the operation table: the opcode a button passes, the button's
// control id and caption, and the operation's body. Prime(X) has no body
// here; it writes its own status text (prime_verdict).
struct operation_entry {
    int opcode;
    int button_id;
    const char* caption;
    int (*run)();
};
extern const std::array<operation_entry, 15> operation_table;

// The table row of `opcode` or of button `button_id`; null when none.
const operation_entry* find_operation(int opcode);
const operation_entry* find_operation_by_button(int button_id);

inline constexpr int opcode_prime = 11;

// Arithmetic operations (arithmetic_ops.cpp).
int op_add();
int op_subtract();
int op_multiply();
int op_divide();
int op_power();
int op_root();
int op_factorial();
int op_product();

// Modular and number-theory operations (modular_ops.cpp).
int op_powmod();
int op_modular_divide();
int op_gcd();
int op_linear_mod();
int op_powmod2();
int op_power_sum();
// Prime(X): writes its verdict on X into `status`.
void prime_verdict(char* status, int size);

// w = x^n for a machine int n: through expint when x fits in 30 bits, else
// power without modulus. 1 for n = 0; engine error 10 for n < 0.
void power_of(bignum* x, int n, bignum* w);

// w = n! for 0 <= n <= max_factorial_argument, by machine-word factors.
void factorial_of(int n, bignum* w);

// Whether v is 0, 1 or -1: a factor or base whose products and powers have
// a size known without a bound.
bool is_unit_or_zero(const bignum* v);

// w = x^e for |x| <= 1 and e >= 0, for an e of any length: 1 for e = 0 (0^0
// included), else x itself, or 1 for x = -1 and an even e.
void unit_power(bignum* x, bignum* e, bignum* w);

// A bound on the bit length of the product of `factors`: the sum of their
// bit lengths, in which a factor of 1 or -1 counts for nothing (it changes
// the sign at most) and a factor of 0 makes the bound 0 (the product is 0).
int product_bits(std::initializer_list<bignum*> factors);

// w = the inverse of x modulo n (n > 0) when gcd(x, n) = 1. Returns the GCD
// as an int (2^30 for one of 2^30 or more); only a return of 1 makes w an
// inverse.
int inverse_mod(bignum* x, bignum* n, bignum* w);

// The first 6543 primes, 2 to 65521, then 65537: every prime below 2^16 and
// the next one.
inline constexpr int small_prime_count = 6543;
extern const std::array<std::int32_t, small_prime_count> small_prime_table;

// The operand registers of the current calculator under their short names,
// for the operations' code: each stands for its register's number. Each
// file has its own copies (const, not inline): a program that links the
// core and names something else X, as the tests' scripts do, must not have
// its X taken for these.
struct operand_register {
    bignum* register_set::*member;
    operator bignum*() const { return calc().registers.*member; }
};
constexpr operand_register X{&register_set::x};
constexpr operand_register Y{&register_set::y};
constexpr operand_register Z{&register_set::z};
constexpr operand_register A{&register_set::a};
constexpr operand_register B{&register_set::b};

// Helpers shared by the operations.
inline int bits(bignum* v) { return logb2(v); }
// Sign-aware comparison of a number with a machine int, through `scratch`.
int compare_with_int(bignum* v, int n, bignum* scratch);
// v = v mod |m| brought into 0 ... |m|-1, for a positive m (m unchanged).
void reduce_non_negative(bignum* v, bignum* m);

#endif
