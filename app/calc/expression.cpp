// The expression line's parser and evaluator (expression.h).
//
// The parser is a recursive descent over the text that writes the
// expression in postfix order: operands before the operator that takes
// them. Its recursion and the evaluator's value stack are bounded by
// expression_nesting_limit; chains of one level (1+1+1+..., 5!!!) are
// loops, so a text of any length costs no deeper stack. The evaluator runs
// the postfix program over a stack of engine numbers, calling for each step
// the routine the equivalent button calls, and checks the size of every
// value before it is formed where that can be known (products, powers,
// factorials) and after it otherwise (sums).
#include "expression.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "calc.h"
#include "operations.h"
#include "utf8.h"
#include "value_fields.h"

namespace {

// Longer texts are refused before they are parsed: far more than the
// longest sensible expression (a few operands of 65530 binary digits).
constexpr std::size_t expression_length_limit = std::size_t{1} << 20;

enum class node : std::uint8_t {
    number,
    reg,
    negate,
    add,
    subtract,
    multiply,
    divide,
    remainder,
    power,
    factorial,
    fn_gcd,
    fn_lcm,
    fn_powmod,
    fn_inv,
    fn_root,
    fn_sqrt,
    fn_abs,
    fn_bits,
    fn_isprime,
};

// One step of the postfix program.
struct step {
    node kind;
    int at;          // byte offset of its operator, function name or number
    int start, end;  // the source text of the whole node
    int base;        // number: its base; reg: its index in value_fields
};

struct function_entry {
    const char* name;
    node kind;
    int arity;
};
constexpr function_entry functions[] = {
    {"gcd", node::fn_gcd, 2},   {"lcm", node::fn_lcm, 2},       {"powmod", node::fn_powmod, 3},
    {"inv", node::fn_inv, 2},   {"root", node::fn_root, 2},     {"sqrt", node::fn_sqrt, 1},
    {"abs", node::fn_abs, 1},   {"bits", node::fn_bits, 1},     {"isprime", node::fn_isprime, 1},
};

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_name_char(char c) { return is_letter(c) || is_digit(c) || c == '_'; }

int digit_value(char c) {
    if (is_digit(c)) return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return 99;
}
bool is_digit_of(char c, int base) { return digit_value(c) < base; }

bool same_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// The register index in value_fields of a name (X, Y, Z, A, B, Ans in any
// case), or -1.
int register_index(std::string_view name) {
    for (int k = 0; k < field_count; ++k)
        if (same_name(name, value_fields[k].name)) return k;
    return -1;
}

// The column of byte offset `at`: characters of the UTF-8 text before it,
// plus one.
int column_of(std::string_view text, std::size_t at) {
    int column = 1;
    for (std::size_t i = 0; i < at && i < text.size(); ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++column;
    return column;
}

// The code point that starts at byte `at` of UTF-8 text; a byte that
// starts no valid sequence stands for itself.
unsigned long code_point_at(std::string_view text, std::size_t at) {
    unsigned long code = 0;
    return utf8_sequence(text, at, code) > 0 ? code : static_cast<unsigned char>(text[at]);
}

// 'c' for a printable character, U+XXXX for any other.
std::string character_name(unsigned long code) {
    char name[16];
    if (code > 0x20 && code < 0x7F)
        std::snprintf(name, sizeof name, "'%c'", static_cast<char>(code));
    else
        std::snprintf(name, sizeof name, "U+%04lX", code);
    return name;
}

const char* base_name(int base) {
    switch (base) {
    case 2: return "binary";
    case 8: return "octal";
    case 16: return "hexadecimal";
    default: return "decimal";
    }
}

// ---- Parser -------------------------------------------------------------------

struct span {
    int start;
    int end;
};

class parser {
public:
    parser(std::string_view text, std::vector<step>& program) : t_(text), out_(program) {}

    // Parses the whole text; false with the status text in `error`.
    bool parse(int& target, std::string& error) {
        target = IDC_FIELD_ANS;
        assignment(target);
        if (!failed_) {
            parse_sum();
            skip_blanks();
            if (!failed_ && p_ < t_.size()) fail_at("unexpected " + character_name(code_point_at(t_, p_)), p_);
        }
        error = message_;
        return !failed_;
    }

private:
    // "NAME =" at the start: the register that receives the value.
    void assignment(int& target) {
        skip_blanks();
        std::size_t q = p_;
        while (q < t_.size() && is_name_char(t_[q])) ++q;
        if (q == p_ || !is_letter(t_[p_])) return;
        const std::string_view name = t_.substr(p_, q - p_);
        std::size_t r = q;
        while (r < t_.size() && is_blank(t_[r])) ++r;
        if (r >= t_.size() || t_[r] != '=') return;
        const int k = register_index(name);
        if (k < 0 || !value_fields[k].operand) {
            fail_note("only X, Y, Z, A or B can be assigned", p_);
            return;
        }
        target = value_fields[k].id;
        p_ = r + 1;
    }

    void skip_blanks() {
        while (p_ < t_.size() && is_blank(t_[p_])) ++p_;
    }
    bool at(char c) const { return p_ < t_.size() && t_[p_] == c; }

    // "Expression: WHAT at column N".
    void fail_at(const std::string& what, std::size_t where) {
        if (failed_) return;
        failed_ = true;
        message_ = "Expression: " + what + " at column " + std::to_string(column_of(t_, where));
    }
    // "Expression: WHAT (column N)".
    void fail_note(const std::string& what, std::size_t where) {
        if (failed_) return;
        failed_ = true;
        message_ = "Expression: " + what + " (column " + std::to_string(column_of(t_, where)) + ")";
    }

    // One level deeper: parentheses, a function's arguments, a sign, an
    // exponent.
    bool enter(std::size_t where) {
        if (++depth_ > expression_nesting_limit) {
            fail_at("nested more than " + std::to_string(expression_nesting_limit) + " levels deep", where);
            return false;
        }
        return true;
    }
    void leave() { --depth_; }

    void emit(node kind, std::size_t where, int start, int end, int base = 0) {
        out_.push_back({kind, static_cast<int>(where), start, end, base});
    }

    span parse_sum() {
        span left = parse_product();
        while (!failed_) {
            skip_blanks();
            if (!at('+') && !at('-')) break;
            const std::size_t op = p_++;
            const span right = parse_product();
            if (failed_) break;
            emit(t_[op] == '+' ? node::add : node::subtract, op, left.start, right.end);
            left.end = right.end;
        }
        return left;
    }

    span parse_product() {
        span left = parse_unary();
        while (!failed_) {
            skip_blanks();
            const bool star = at('*') && !(p_ + 1 < t_.size() && t_[p_ + 1] == '*');
            if (!star && !at('/') && !at('%')) break;
            const std::size_t op = p_++;
            const span right = parse_unary();
            if (failed_) break;
            const node kind = t_[op] == '*' ? node::multiply : t_[op] == '/' ? node::divide : node::remainder;
            emit(kind, op, left.start, right.end);
            left.end = right.end;
        }
        return left;
    }

    span parse_unary() {
        skip_blanks();
        if (at('-') || at('+')) {
            const std::size_t op = p_;
            if (!enter(op)) return {};
            ++p_;
            const span operand = parse_unary();
            leave();
            if (failed_) return {};
            if (t_[op] == '-') emit(node::negate, op, static_cast<int>(op), operand.end);
            return {static_cast<int>(op), operand.end};
        }
        return parse_power();
    }

    span parse_power() {
        const span base = parse_postfix();
        if (failed_) return {};
        skip_blanks();
        const bool caret = at('^');
        const bool stars = at('*') && p_ + 1 < t_.size() && t_[p_ + 1] == '*';
        if (!caret && !stars) return base;
        const std::size_t op = p_;
        if (!enter(op)) return {};
        p_ += caret ? 1 : 2;
        const span exponent = parse_unary();  // right-associative; may carry a sign
        leave();
        if (failed_) return {};
        emit(node::power, op, base.start, exponent.end);
        return {base.start, exponent.end};
    }

    span parse_postfix() {
        span operand = parse_primary();
        while (!failed_) {
            skip_blanks();
            if (!at('!')) break;
            emit(node::factorial, p_, operand.start, static_cast<int>(p_) + 1);
            operand.end = static_cast<int>(++p_);
        }
        return operand;
    }

    span parse_primary() {
        skip_blanks();
        if (p_ >= t_.size()) {
            fail_at("operand expected", p_);
            return {};
        }
        const char c = t_[p_];
        if (is_digit(c)) return parse_number();
        if (is_letter(c) || c == '_') return parse_name();
        if (c == '(') {
            const std::size_t open = p_;
            if (!enter(open)) return {};
            ++p_;
            parse_sum();
            skip_blanks();
            if (!failed_ && !at(')')) fail_at("')' expected", p_);
            leave();
            if (failed_) return {};
            ++p_;
            return {static_cast<int>(open), static_cast<int>(p_)};
        }
        if (c != '\0' && std::strchr("*/%^!),=", c) != nullptr)
            fail_at("operand expected", p_);
        else
            fail_at("unexpected " + character_name(code_point_at(t_, p_)), p_);
        return {};
    }

    span parse_number() {
        const std::size_t start = p_;
        int base = 10;
        if (t_[p_] == '0' && p_ + 1 < t_.size()) {
            const char prefix = t_[p_ + 1];
            if (prefix == 'x' || prefix == 'X') base = 16;
            if (prefix == 'b' || prefix == 'B') base = 2;
            if (prefix == 'o' || prefix == 'O') base = 8;
            if (base != 10) p_ += 2;
        }
        const std::size_t digits = p_;
        while (p_ < t_.size()) {
            if (is_digit_of(t_[p_], base)) {
                ++p_;
            } else if (t_[p_] == '_' && p_ > digits && p_ + 1 < t_.size() && is_digit_of(t_[p_ + 1], base)) {
                ++p_;  // a separator between two digits
            } else {
                break;
            }
        }
        if (p_ == digits && at('_')) {
            fail_at("'_' stands only between digits", p_);
            return {};
        }
        if (p_ == digits) {
            fail_at(std::string(base_name(base)) + " digits expected after '" + std::string(t_.substr(start, 2)) + "'",
                    p_);
            return {};
        }
        if (p_ < t_.size() && is_name_char(t_[p_])) {
            if (t_[p_] == '_')
                fail_at("'_' stands only between digits", p_);
            else
                fail_at(character_name(static_cast<unsigned char>(t_[p_])) + " is not a " + base_name(base) + " digit",
                        p_);
            return {};
        }
        emit(node::number, start, static_cast<int>(start), static_cast<int>(p_), base);
        return {static_cast<int>(start), static_cast<int>(p_)};
    }

    span parse_name() {
        const std::size_t start = p_;
        while (p_ < t_.size() && is_name_char(t_[p_])) ++p_;
        const std::string_view name = t_.substr(start, p_ - start);
        const std::size_t after = p_;
        skip_blanks();
        const function_entry* function = nullptr;
        for (const function_entry& f : functions)
            if (same_name(name, f.name)) function = &f;
        if (!at('(')) {
            p_ = after;
            if (const int k = register_index(name); k >= 0) {
                emit(node::reg, start, static_cast<int>(start), static_cast<int>(after), k);
                return {static_cast<int>(start), static_cast<int>(after)};
            }
            if (function != nullptr)
                fail_at("'(' expected after " + std::string(function->name), after);
            else
                fail_at("unknown name '" + shortened(name) + "'", start);
            return {};
        }
        if (function == nullptr) {
            fail_at("unknown function '" + shortened(name) + "'", start);
            return {};
        }
        if (!enter(p_)) return {};
        ++p_;
        int count = 0;
        skip_blanks();
        if (!at(')')) {
            while (!failed_) {
                parse_sum();
                ++count;
                skip_blanks();
                if (failed_ || !at(',')) break;
                ++p_;
            }
        }
        if (!failed_ && !at(')')) fail_at(count < function->arity ? "',' or ')' expected" : "')' expected", p_);
        leave();
        if (failed_) return {};
        ++p_;
        if (count != function->arity) {
            fail_note(std::string(function->name) + " takes " + std::to_string(function->arity) +
                          (function->arity == 1 ? " argument" : " arguments"),
                      start);
            return {};
        }
        emit(function->kind, start, static_cast<int>(start), static_cast<int>(p_));
        return {static_cast<int>(start), static_cast<int>(p_)};
    }

    static std::string shortened(std::string_view name) {
        return name.size() > 24 ? std::string(name.substr(0, 24)) + "..." : std::string(name);
    }

    std::string_view t_;
    std::vector<step>& out_;
    std::size_t p_ = 0;
    int depth_ = 0;
    bool failed_ = false;
    std::string message_;
};

// ---- Evaluator ------------------------------------------------------------------

// Bounds on bits(|a|^n) for |a| >= 2 and n >= 1, from the top 64 bits of a:
// |a| = m * 2^s + r with 0 <= r < 2^s, so n*log2|a| lies in
// [n*(s + log2 m), n*(s + log2(m+1))), and the bit length of the power is
// the floor of that, plus one. The margin covers the rounding of log2.
void power_bit_bounds(const bignum* a, long n, long& lo, long& hi) {
    const int b = logb2(a);
    const int words = length_of(a);
    const auto word = [&](int k) -> std::uint64_t { return k < words ? a->w[k] : 0; };
    // m = the top 64 bits of |a| (all of them for a shorter a), s the bits
    // under them.
    const int s = b > 64 ? b - 64 : 0;
    const int k = s / 32;
    const int off = s % 32;
    const std::uint64_t low = word(k) | (word(k + 1) << 32);
    const std::uint64_t m = off == 0 ? low : (low >> off) | (word(k + 2) << (64 - off));
    const long double log_m = std::log2(static_cast<long double>(m));
    const long double log_m1 = s == 0 ? log_m : std::log2(static_cast<long double>(m) + 1.0L);
    constexpr long double margin = 1e-6L;
    lo = static_cast<long>(std::floor(static_cast<long double>(n) * (s + log_m) - margin)) + 1;
    hi = static_cast<long>(std::floor(static_cast<long double>(n) * (s + log_m1) + margin)) + 1;
}

class evaluator {
public:
    evaluator(std::string_view text, const std::vector<step>& program) : t_(text), program_(program) {}
    evaluator(const evaluator&) = delete;
    evaluator& operator=(const evaluator&) = delete;
    ~evaluator() {
        for (bignum* v : stack_) free_number(v);
        for (bignum* v : scratch_) free_number(v);
    }

    bool run(bignum* value, std::string& error) {
        for (bignum*& s : scratch_) s = mirvar(0);
        const int total = static_cast<int>(program_.size());
        for (int i = 0; i < total && !failed_; ++i) {
            // A cancel request stops the evaluation between steps, and inside
            // the engine's long routines.
            progress_step(i, total);
            if (cancel_point()) return false;
            run_step(program_[static_cast<std::size_t>(i)]);
            if (engine_error() != 0) return false;
        }
        if (failed_) {
            error = message_;
            return false;
        }
        copy_number(stack_[0], value);
        return true;
    }

private:
    // The next free slot of the value stack, made when first needed.
    bignum* push() {
        if (static_cast<std::size_t>(used_) == stack_.size()) stack_.push_back(mirvar(0));
        return stack_[static_cast<std::size_t>(used_++)];
    }
    // Operand k of the last `count` on the stack (k from 0).
    bignum* operand(int count, int k) const { return stack_[static_cast<std::size_t>(used_ - count + k)]; }
    // The step's `count` operands are replaced by its result, which the
    // step has written into the first of them.
    void pop(int count) { used_ -= count - 1; }

    void fail(const std::string& what, const step& s, bool note) {
        if (failed_) return;
        failed_ = true;
        const std::string column = std::to_string(column_of(t_, static_cast<std::size_t>(s.at)));
        message_ = "Expression: " + what + (note ? " (column " + column + ")" : " at column " + column);
    }

    // The node's source text, blanks shortened to one, or `fallback` for a
    // long one.
    std::string text_of(const step& s, const char* fallback) const {
        std::string out;
        bool blank = false;
        for (int i = s.start; i < s.end; ++i) {
            const char c = t_[static_cast<std::size_t>(i)];
            if (is_blank(c)) {
                blank = true;
                continue;
            }
            if (blank && !out.empty()) out += ' ';
            blank = false;
            out += c;
        }
        return out.size() > 40 ? std::string(fallback) : out;
    }

    // Division by zero, pointed at the divisor: the first character after
    // the operator that is no blank.
    void fail_at_divisor(const step& s) {
        step divisor = s;
        divisor.at = s.at + 1;
        while (divisor.at < s.end && is_blank(t_[static_cast<std::size_t>(divisor.at)])) ++divisor.at;
        fail("division by zero", divisor, false);
    }

    void too_long(const step& s, const char* fallback) { fail(text_of(s, fallback) + " has more than 65530 bits", s, true); }

    // Fails the step when `v` is longer than the calculator's limit.
    bool over_limit(bignum* v, const step& s, const char* fallback) {
        if (logb2(v) <= max_operand_bits) return false;
        too_long(s, fallback);
        return true;
    }

    // The decimal text of a value of at most 64 bits, else empty.
    static std::string short_decimal(bignum* v) {
        if (logb2(v) > 64) return {};
        const int saved = get_io_base();
        set_io_base(10);
        char text[32] = {};
        const int n = cotstr(v, get_io_buffer());
        if (n > 0 && n < static_cast<int>(sizeof text)) std::memcpy(text, get_io_buffer(), static_cast<std::size_t>(n));
        set_io_base(saved);
        return text;
    }

    void run_step(const step& s) {
        switch (s.kind) {
        case node::number: return number(s);
        case node::reg: {
            bignum* v = push();
            copy_number(calc().registers.*value_fields[static_cast<std::size_t>(s.base)].value, v);
            over_limit(v, s, "the register");
            return;
        }
        case node::negate: negate_number(operand(1, 0), operand(1, 0)); return;
        case node::add:
        case node::subtract: {
            bignum* a = operand(2, 0);
            bignum* b = operand(2, 1);
            if (s.kind == node::add)
                add(a, b, a);
            else
                subtract(a, b, a);
            pop(2);
            over_limit(a, s, s.kind == node::add ? "the sum" : "the difference");
            return;
        }
        case node::multiply: {
            bignum* a = operand(2, 0);
            multiply_checked(a, operand(2, 1), s, "the product");
            pop(2);
            return;
        }
        case node::divide:
        case node::remainder: return divide_step(s);
        case node::power: return power_step(s);
        case node::factorial: return factorial_step(s);
        case node::fn_gcd: {
            bignum* a = operand(2, 0);
            egcd(a, operand(2, 1), a);
            pop(2);
            return;
        }
        case node::fn_lcm: return lcm_step(s);
        case node::fn_powmod: return powmod_step(s);
        case node::fn_inv: return inverse_step(s);
        case node::fn_root: return root_step(s, operand(2, 0), operand(2, 1), 2);
        case node::fn_sqrt: {
            bignum* two = scratch_[2];
            set_from_int(2, two);
            return root_step(s, operand(1, 0), two, 1);
        }
        case node::fn_abs: abs_number(operand(1, 0), operand(1, 0)); return;
        case node::fn_bits: set_from_int(logb2(operand(1, 0)), operand(1, 0)); return;
        case node::fn_isprime: {
            bignum* a = operand(1, 0);
            set_from_int(prime_as_button_says(a) ? 1 : 0, a);
            return;
        }
        }
    }

    void number(const step& s) {
        bignum* v = push();
        // The digits without prefix, separators and leading zeros.
        std::string digits;
        std::size_t i = static_cast<std::size_t>(s.start) + (s.base == 10 ? 0 : 2);
        for (; i < static_cast<std::size_t>(s.end); ++i) {
            const char c = t_[i];
            if (c == '_' || (digits.empty() && c == '0')) continue;
            digits += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
        }
        if (digits.empty()) {
            zero_number(v);
            return;
        }
        // Its bit length, exactly for the bases of two's powers; at least
        // this much for base 10 (19728 decimal digits make at least 65531
        // bits), so that no text longer than the engine holds is read.
        const long count = static_cast<long>(digits.size());
        long least_bits = 0;
        if (s.base == 10) {
            least_bits = count >= 19728 ? max_operand_bits + 1 : 0;
        } else {
            const int per_digit = s.base == 2 ? 1 : s.base == 8 ? 3 : 4;
            int first = digit_value(digits[0]);
            int first_bits = 0;
            while (first > 0) {
                ++first_bits;
                first >>= 1;
            }
            least_bits = (count - 1) * per_digit + first_bits;
        }
        if (least_bits > max_operand_bits) return too_long(s, "the number");
        const int saved = get_io_base();
        set_io_base(s.base);
        cinstr(v, digits.c_str());
        set_io_base(saved);
        over_limit(v, s, "the number");
    }

    // a = a * b, refused when the product has more than the limit's bits:
    // bits(a) + bits(b) - 1 or bits(a) + bits(b) of them.
    bool multiply_checked(bignum* a, bignum* b, const step& s, const char* what) {
        if (is_zero(a) || is_zero(b)) {
            zero_number(a);
            return true;
        }
        const long sum = static_cast<long>(logb2(a)) + logb2(b);
        if (sum - 1 > max_operand_bits) {
            too_long(s, what);
            return false;
        }
        multiply(a, b, a);
        return !over_limit(a, s, what);
    }

    void divide_step(const step& s) {
        bignum* a = operand(2, 0);
        bignum* b = operand(2, 1);
        pop(2);
        if (is_zero(b)) return fail_at_divisor(s);
        // Quotient truncated towards zero, remainder with the dividend's
        // sign, as X/Y gives them.
        bignum* rest = scratch_[0];
        copy_number(a, rest);
        divide(rest, b, a);
        if (s.kind == node::remainder) copy_number(rest, a);
    }

    void power_step(const step& s) {
        bignum* a = operand(2, 0);
        bignum* e = operand(2, 1);
        pop(2);
        if (is_negative(e)) {
            // x^-n is 1/x^n: an integer only for x = 1 and x = -1.
            if (is_zero(a)) return fail("division by zero", s, false);
            if (!is_unit_or_zero(a)) return fail(text_of(s, "the power") + " is not an integer", s, true);
            set_from_int(is_negative(a) && is_odd(e) ? -1 : 1, a);
            return;
        }
        if (is_unit_or_zero(a)) {
            unit_power(a, e, a);  // 0^0 = 1, as X^n has it
            return;
        }
        // |a| >= 2: a^n has more than n bits.
        if (compare_with_int(e, max_operand_bits, scratch_[0]) >= 0) return too_long(s, "the power");
        const int n = int_value(e);
        long lo = 0;
        long hi = 0;
        power_bit_bounds(a, n, lo, hi);
        if (lo > max_operand_bits) return too_long(s, "the power");
        // Within the bounds the power is formed; when they straddle the
        // limit it has at most a few bits more than the limit, which the
        // engine's numbers hold, and its true length decides.
        bignum* w = scratch_[0];
        power_of(a, n, w);
        copy_number(w, a);
        if (hi > max_operand_bits) over_limit(a, s, "the power");
    }

    void factorial_step(const step& s) {
        bignum* a = operand(1, 0);
        if (is_negative(a)) return fail("factorial of a negative number", s, false);
        if (compare_with_int(a, max_factorial_argument, scratch_[0]) > 0) return too_long(s, "the factorial");
        factorial_of(int_value(a), a);
    }

    void lcm_step(const step& s) {
        bignum* a = operand(2, 0);
        bignum* b = operand(2, 1);
        pop(2);
        if (is_zero(a) || is_zero(b)) {
            zero_number(a);
            return;
        }
        // |a / gcd(a, b)| * |b|.
        bignum* g = scratch_[0];
        egcd(a, b, g);
        divide(a, g, a);  // quotient only
        abs_number(a, a);
        abs_number(b, scratch_[1]);
        multiply_checked(a, scratch_[1], s, "the lcm");
    }

    // m = |m| for powmod and inv; false (with the error) when it is 0.
    bool modulus(bignum* m, const step& s) {
        if (is_zero(m)) {
            fail("modulus 0", s, false);
            return false;
        }
        abs_number(m, m);
        return true;
    }

    // w = the inverse of t modulo m (t in 0 ... m-1, m >= 2); `a` is the
    // value t came from, for the message.
    bool inverse(bignum* t, bignum* m, bignum* w, bignum* a, const step& s) {
        if (inverse_mod(t, m, w) == 1) return true;
        const std::string x = short_decimal(a);
        const std::string n = short_decimal(m);
        if (!x.empty() && !n.empty())
            fail(x + " has no inverse modulo " + n, s, true);
        else
            fail("no inverse exists", s, true);
        return false;
    }

    void powmod_step(const step& s) {
        bignum* a = operand(3, 0);
        bignum* e = operand(3, 1);
        bignum* m = operand(3, 2);
        pop(3);
        if (!modulus(m, s)) return;
        if (compare_with_int(m, 1, scratch_[0]) == 0) {
            zero_number(a);
            return;
        }
        // The base brought into 0 ... m-1; a negative exponent raises its
        // inverse, as X^Y MOD Z does.
        bignum* t = scratch_[0];
        copy_number(a, t);
        reduce_non_negative(t, m);
        if (is_negative(e)) {
            if (!inverse(t, m, scratch_[1], a, s)) return;
            copy_number(scratch_[1], t);
            abs_number(e, e);
        }
        if (is_zero(e)) {
            set_from_int(1, a);
            return;
        }
        powmod(t, e, m, a);
    }

    void inverse_step(const step& s) {
        bignum* a = operand(2, 0);
        bignum* m = operand(2, 1);
        pop(2);
        if (!modulus(m, s)) return;
        if (compare_with_int(m, 1, scratch_[0]) == 0) {
            zero_number(a);
            return;
        }
        bignum* t = scratch_[0];
        copy_number(a, t);
        reduce_non_negative(t, m);
        if (inverse(t, m, scratch_[1], a, s)) copy_number(scratch_[1], a);
    }

    // a = the n-th root of a truncated towards zero; `count` operands go.
    void root_step(const step& s, bignum* a, bignum* n, int count) {
        pop(count);
        if (is_negative(n) || is_zero(n)) return fail("root index must be 1 or more", s, true);
        const bool negative = is_negative(a);
        if (negative && !is_odd(n)) return fail("even root of a negative number", s, false);
        if (is_zero(a)) return;
        if (compare_with_int(n, logb2(a), scratch_[0]) >= 0) {
            // n >= bits(a): |root| is 1 (2^(bits-1) <= |a| < 2^bits <= 2^n).
            set_from_int(negative ? -1 : 1, a);
            return;
        }
        bignum* magnitude = scratch_[0];
        abs_number(a, magnitude);
        nroot(magnitude, int_value(n), a);
        if (negative) negate_number(a, a);
    }

    // The verdict of Prime(X) on a: a divisor from the small-prime table
    // decides, else the probable-prime test.
    bool prime_as_button_says(bignum* a) {
        if (compare_with_int(a, 2, scratch_[0]) < 0) return false;
        for (const std::int32_t p : small_prime_table) {
            if (cancel_point()) return false;
            if (subdiv(a, p, scratch_[1]) == 0) return compare_with_int(a, p, scratch_[0]) == 0;
        }
        return isprime(a) != 0;
    }

    std::string_view t_;
    const std::vector<step>& program_;
    std::vector<bignum*> stack_;
    int used_ = 0;
    bignum* scratch_[3] = {};
    bool failed_ = false;
    std::string message_;
};

}  // namespace

bool expression_is_blank(std::string_view text) {
    for (const char c : text)
        if (!is_blank(c)) return false;
    return true;
}

expression_result evaluate_expression(std::string_view text, bignum* value) {
    expression_result result;
    if (text.size() > expression_length_limit) {
        result.message = "Expression: longer than " + std::to_string(expression_length_limit) + " bytes";
        return result;
    }
    std::vector<step> program;
    if (!parser(text, program).parse(result.target_field, result.message)) return result;
    evaluator run(text, program);
    result.ok = run.run(value, result.message);
    return result;
}
