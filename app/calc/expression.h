// The expression line: a text such as "2^44497 - 1", "powmod(X, Y, Z) + 1"
// or "B = gcd(X, Y)" parsed and evaluated with the engine's own routines.
//
// The language, from loosest to tightest binding:
//   + -          sum and difference
//   * / %        product; quotient truncated towards zero; remainder with
//                the dividend's sign (the calculator's X/Y)
//   - +          unary sign
//   ^ (or **)    power, right-associative; the exponent may carry a sign
//   !            factorial, postfix
//   ( )          grouping; functions gcd lcm powmod inv root sqrt abs bits
//                isprime
// Numbers are decimal or carry a prefix 0x, 0b or 0o (either case); a "_"
// may stand between two digits. X, Y, Z, A, B and Ans read the registers;
// names are read in any case. "NAME = expression" with NAME one of X, Y,
// Z, A, B sends the value to that register instead of Ans.
//
// Every value, intermediate ones included, may have up to max_operand_bits
// bits. A power and a product are judged by the length of their result
// before it is formed. Errors name what went wrong and where, by column
// (counted in characters of the UTF-8 text, from 1).
#ifndef TORVANE_APP_CALC_EXPRESSION_H
#define TORVANE_APP_CALC_EXPRESSION_H

#include <string>
#include <string_view>

#include "engine.h"

// Parentheses, function calls, signs and powers may nest this deep; the
// parser's recursion and the evaluator's stack are bounded by it.
inline constexpr int expression_nesting_limit = 200;

struct expression_result {
    bool ok = false;
    // The value field that receives the value: Ans, or the register named
    // by "NAME =".
    int target_field = 0;
    // The status text of an error ("Expression: ...").
    std::string message;
};

// Whether `text` holds nothing but blanks: the line then does nothing.
bool expression_is_blank(std::string_view text);

// Parses and evaluates `text` on the calling thread's engine instance,
// reading the registers. The value goes into `value` only; no register is
// written. A cancel request or another engine error stops the evaluation
// with that error left pending for the caller (take_engine_error).
expression_result evaluate_expression(std::string_view text, bignum* value);

#endif
