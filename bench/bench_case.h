// What torvane-bench times: the operations, their operands, and one
// library's ready-to-run instance of an operation (a "case").
#ifndef TORVANE_BENCH_BENCH_CASE_H
#define TORVANE_BENCH_BENCH_CASE_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The operations, in the order of the table and the CSV.
enum class bench_op {
    multiply,       // a * b
    square,         // a * a
    powmod,         // x^e mod m, m odd
    powmod_even,    // x^e mod m, m even
    powmod2,        // x^e * y^f mod m, m odd
    powltr2,        // 2^e mod m, m odd
    divide,         // quotient and remainder of a 2n-bit d by an n-bit a
    to_decimal,     // a as decimal text
    from_decimal,   // decimal text of a read back into a number
    gcd,            // gcd(a, b)
    inverse,        // x^-1 mod m, m odd and gcd(x, m) = 1
    cube_root,      // floor(a^(1/3))
    factorial5910,  // 5910!, the largest factorial the calculator forms
    isprime,        // the primality test of a prime p (see make_operands)
    powmod_split,   // x^e mod m, m = 2^(n/2) times an odd number, x odd
};
inline constexpr int bench_op_count = 15;

// The CSV name of an operation; op_from_name returns false for an unknown one.
const char* op_name(bench_op op);
bool op_from_name(const std::string& name, bench_op* op);

// The argument of factorial5910, and the size row it is reported in: its
// result, 65528 bits, is a number of the largest size.
inline constexpr int factorial_argument = 5910;
inline constexpr int factorial_row_bits = 65530;

// A non-negative number as 32-bit words, least significant first, with no
// zero word on top.
using words = std::vector<std::uint32_t>;

// The operands of one (operation, size) cell, the same for every library.
// Which fields an operation reads is listed in bench_op; the others stay empty.
struct operand_set {
    words a, b;  // numbers of exactly n bits (d has 2n bits)
    words d;     // dividend of divide
    words x, y;  // bases, below m
    words e, f;  // exponents of n bits
    words m;     // modulus of n bits (isprime: the prime)
    std::string decimal;  // a in decimal, for from_decimal
};

// Lower-case hexadecimal of w without leading zeros ("0" for zero): the
// common form in which all libraries' results are compared.
std::string to_hex(const words& w);
// Brings a library's hexadecimal text (any case, optional leading zeros,
// optional "-") into the form of to_hex, with a leading "-" when negative.
std::string canonical_hex(const std::string& text);

// One library's instance of one cell: `run` performs the operation once on
// the operands the case was made with, `result` gives what the last run left,
// as canonical hexadecimal (decimal text for to_decimal). The case owns its
// library's copies of the operands and its result numbers.
struct bench_case {
    std::function<void()> run;
    std::function<std::string()> result;
    std::shared_ptr<void> state;  // keeps the library's numbers alive
};

// The libraries, in table order. torvane_mt is the engine with its worker
// pool (torvane-bench --threads), timed beside the engine on one thread.
enum class bench_library { torvane, gmp, openssl, tommath, torvane_mt };
inline constexpr int bench_library_count = 5;
const char* library_name(bench_library lib);

// A case of `op` for one library, or an empty case (run unset) when the
// library has no such operation. torvane's needs the engine made by
// start_torvane_engine.
bench_case make_torvane_case(bench_op op, const operand_set& in);
bench_case make_torvane_mt_case(bench_op op, const operand_set& in);
bench_case make_gmp_case(bench_op op, const operand_set& in);
bench_case make_openssl_case(bench_op op, const operand_set& in);
bench_case make_tommath_case(bench_op op, const operand_set& in);

// Creates the engine instance of the benchmark: room for a product of two
// 65530-bit numbers and for the 2n-bit dividends; errors recorded, not fatal.
void start_torvane_engine();
void stop_torvane_engine();

// Ends the process with a message naming the library and what failed.
[[noreturn]] void bench_fail(const char* library, const std::string& what);

#endif
