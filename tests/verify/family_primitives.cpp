// Primitive arithmetic against GMP: add, subtract, decr, premult, subdiv,
// remain, word_divides, mr_shift, in every aliasing form.
//
// The engine's word division truncates toward zero and leaves the remainder
// with the dividend's sign; GMP's tdiv_* functions do the same, so no
// conversion is needed here.
#include "oracle.h"
#include "primitives.h"

using namespace oracle;

namespace {

// Two operands for a signed sum: often of equal length, equal magnitude or
// opposite signs, so that cancellation and carries through every word occur.
void pair_for_sum(context& c, mpz_class& x, mpz_class& y, int max_words) {
    x = c.operand(profile::linear, max_words);
    switch (c.r.below(8)) {
        case 0: y = x; break;
        case 1: y = -x; break;
        case 2: y = c.magnitude(words_of(x) > 0 ? words_of(x) : 1); if (c.r.coin()) y = -y; break;
        case 3: y = x + c.r.range(-2, 2); break;
        default: y = c.operand(profile::linear, max_words); break;
    }
    if (words_of(y) > max_words) y = x;
}

// z = x op y in form 0..4: (x,y,z) (x,y,x) (x,y,y) (x,x,z) (x,x,x).
void signed_sum(context& c, bool subtracting) {
    const int L = c.state->max_length;
    mpz_class x, y;
    pair_for_sum(c, x, y, L);
    int form = static_cast<int>(c.r.below(5));
    static const char* forms[] = {"(x, y, z)", "(x, y, x)", "(x, y, y)", "(x, x, z)", "(x, x, x)"};
    c.form(std::string(subtracting ? "subtract" : "add") + forms[form]);
    bignum *px = pool(0), *py = pool(1), *pz = pool(2);
    set_number(px, x);
    set_number(py, y);
    set_number(pz, c.operand(profile::linear, L));
    bignum* a = px;
    bignum* b = form >= 3 ? px : py;
    bignum* out = form == 1 || form == 4 ? px : form == 2 ? py : pz;
    if (form >= 3) y = x;
    c.note("x", x);
    c.note("y", y);
    mpz_class want = subtracting ? mpz_class(x - y) : mpz_class(x + y);
    if (subtracting)
        subtract(a, b, out);
    else
        add(a, b, out);
    if (words_of(want) > L) {
        c.tally("overflow (error 3)");
        c.error(3);
        return;
    }
    if (!c.no_error()) return;
    c.value("z", out, want);
    if (a != out) c.value("x after the call", a, x);
    if (b != out && b != a) c.value("y after the call", b, y);
}

void run_add(context& c) { signed_sum(c, false); }
void run_subtract(context& c) { signed_sum(c, true); }

void run_decr(context& c) {
    const int L = c.state->max_length;
    mpz_class x = c.operand(profile::linear, L);
    std::int32_t n = c.small_int();
    bool in_place = c.r.coin();
    c.form(in_place ? "decr(x, n, x)" : "decr(x, n, z)");
    c.note("x", x);
    c.note("n", n);
    bignum *px = pool(0), *pz = pool(1);
    set_number(px, x);
    set_number(pz, 12345);
    bignum* out = in_place ? px : pz;
    decr(px, n, out);
    mpz_class want = x - n;
    if (words_of(want) > L) {
        c.tally("overflow (error 3)");
        c.error(3);
        return;
    }
    if (!c.no_error()) return;
    c.value("z", out, want);
    if (!in_place) c.value("x after the call", px, x);
}

void run_premult(context& c) {
    const int L = c.state->max_length;
    mpz_class x = c.operand(profile::linear, L);
    std::int32_t n = c.small_int();
    bool in_place = c.r.coin();
    c.form(in_place ? "premult(x, n, x)" : "premult(x, n, z)");
    c.note("x", x);
    c.note("n", n);
    bignum *px = pool(0), *pz = pool(1);
    set_number(px, x);
    set_number(pz, c.operand(profile::linear, L));
    bignum* out = in_place ? px : pz;
    premult(px, n, out);
    mpz_class want = x * n;
    if (words_of(want) > L) {
        c.tally("overflow (error 3)");
        c.error(3);
        return;
    }
    if (!c.no_error()) return;
    c.value("z", out, want);
    if (!in_place) c.value("x after the call", px, x);
}

std::int32_t divisor(context& c) {
    std::int32_t n = c.small_int();
    if (c.r.chance(10)) n = c.r.coin() ? 2 : -2;
    return n;
}

void run_subdiv(context& c) {
    const int L = c.state->max_length;
    mpz_class x = c.operand(profile::linear, L);
    std::int32_t n = c.r.chance(3) ? 0 : divisor(c);
    bool in_place = c.r.coin();
    c.form(in_place ? "subdiv(x, n, x)" : "subdiv(x, n, z)");
    c.note("x", x);
    c.note("n", n);
    bignum *px = pool(0), *pz = pool(1);
    set_number(px, x);
    mpz_class old_z = c.operand(profile::linear, 4);
    set_number(pz, old_z);
    bignum* out = in_place ? px : pz;
    int rem = subdiv(px, n, out);
    if (n == 0) {
        // Division by zero: error 2, the quotient untouched, 0 returned.
        if (!c.error(2)) return;
        c.integer("returned remainder", rem, 0);
        c.value("z", out, in_place ? x : old_z);
        return;
    }
    if (!c.no_error()) return;
    mpz_class nn = n;
    c.value("quotient", out, tquot(x, nn));
    c.integer("returned remainder", rem, trem(x, nn).get_si());
    if (!in_place) c.value("x after the call", px, x);
}

void run_remain(context& c) {
    const int L = c.state->max_length;
    mpz_class x = c.operand(profile::linear, L);
    std::int32_t n = c.r.chance(2) ? 0 : divisor(c);
    c.form("remain(x, n) and word_divides(x, n)");
    c.note("x", x);
    c.note("n", n);
    bignum* px = pool(0);
    set_number(px, x);
    int rem = remain(px, n);
    if (n == 0) {
        if (c.error(2)) c.integer("remain", rem, 0);
        return;
    }
    if (!c.no_error()) return;
    mpz_class want = trem(x, mpz_class(n));
    c.integer("remain", rem, want.get_si());
    int divides = word_divides(px, n);
    if (!c.no_error()) return;
    c.integer("word_divides", divides, want == 0 ? 1 : 0);
    c.value("x after the calls", px, x);
}

void run_shift(context& c) {
    const int L = c.state->max_length;
    mpz_class x = c.operand(profile::linear, L);
    int len = words_of(x);
    int n;
    switch (c.r.below(4)) {
        case 0: n = static_cast<int>(c.r.range(-len - 2, 0)); break;   // drop words, maybe all
        case 1: n = L - len + static_cast<int>(c.r.range(-1, 2)); break;  // around the limit
        default: n = static_cast<int>(c.r.range(-len - 1, L - len)); break;
    }
    bool in_place = c.r.coin();
    c.form(in_place ? "mr_shift(x, n, x)" : "mr_shift(x, n, w)");
    c.note("x", x);
    c.note("n", n);
    bignum *px = pool(0), *pw = pool(1);
    set_number(px, x);
    set_number(pw, c.operand(profile::linear, L));
    bignum* out = in_place ? px : pw;
    mr_shift(px, n, out);
    if (x != 0 && n != 0 && len + n > L) {
        c.tally("overflow (error 3)");
        c.error(3);
        return;
    }
    if (!c.no_error()) return;
    mpz_class want;
    if (n >= 0) {
        mpz_mul_2exp(want.get_mpz_t(), x.get_mpz_t(), 32ul * static_cast<unsigned long>(n));
    } else {
        // Dropping the lowest words of the magnitude: truncation toward zero.
        mpz_tdiv_q_2exp(want.get_mpz_t(), x.get_mpz_t(), 32ul * static_cast<unsigned long>(-n));
    }
    c.value("w", out, want);
    if (!in_place) c.value("x after the call", px, x);
}

}  // namespace

const family oracle::primitives_family{"primitives", {
    {"add", run_add, 3},
    {"subtract", run_subtract, 3},
    {"decr", run_decr, 1},
    {"premult", run_premult, 2},
    {"subdiv", run_subdiv, 2},
    {"remain", run_remain, 1},
    {"mr_shift", run_shift, 1},
}};
