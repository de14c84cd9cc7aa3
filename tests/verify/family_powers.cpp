// Bit lengths, powers and roots against GMP: logb2, expb2, expint, power
// (with and without modulus) and nroot.
//
// Overflow: a power that needs more than max_length words is refused with
// error 3 somewhere in its chain of products. Where the result leaves a
// word to spare no product on the way can be refused; where it needs two
// words more than the limit, one must be. The narrow band between depends
// on the order of the products and is not asserted.
//
// power with a modulus keeps the remainder rule of divide: the result has
// the sign of x^n and the magnitude |x|^n mod |z| (GMP's powm is always
// non-negative, so the sign is put back here). power(0, 0) is 0, unlike
// GMP's 1; nroot truncates toward zero, as GMP's mpz_root does.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "oracle.h"
#include "powers.h"

using namespace oracle;

namespace {

mpz_class pow_of(const mpz_class& b, unsigned long n) {
    mpz_class v;
    mpz_pow_ui(v.get_mpz_t(), b.get_mpz_t(), n);
    return v;
}

// Where |b|^n stands against the limit of L words, judged without forming
// it: fits with a word to spare, needs two words more than the limit, or
// in the band between. log2|b| comes from GMP's mantissa and exponent.
enum class fit { spare, over, band };
fit power_fit(const mpz_class& b, unsigned long n, int L) {
    if (b == 0 || abs(b) == 1 || n == 0) return fit::spare;
    long e;
    double d = mpz_get_d_2exp(&e, b.get_mpz_t());
    long double log2b = static_cast<long double>(e) + std::log2l(std::fabs(static_cast<long double>(d)));
    long double bits = static_cast<long double>(n) * log2b + 1;  // the bit length, within rounding
    if (bits + 0.01L <= 32.0L * (L - 1)) return fit::spare;
    if (bits - 0.01L > 32.0L * (L + 1)) return fit::over;
    return fit::band;
}

void run_logb2(context& c) {
    mpz_class x = c.operand(profile::linear, c.state->max_length);
    c.form("logb2(x)");
    c.note("x", x);
    bignum* px = pool(0);
    set_number(px, x);
    int bits = logb2(px);
    if (!c.no_error()) return;
    c.integer("bits", bits, x == 0 ? 0 : static_cast<long long>(mpz_sizeinbase(x.get_mpz_t(), 2)));
    c.value("x after the call", px, x);
}

void run_expb2(context& c) {
    const int L = c.state->max_length;
    int n;
    switch (c.r.below(6)) {
        case 0: n = static_cast<int>(c.r.range(-5, -1)); if (c.r.coin()) n = INT_MIN; break;
        case 1: n = 32 * L + static_cast<int>(c.r.range(-40, 40)); break;
        case 2: n = static_cast<int>(c.r.range(0, 64)); break;
        default: n = static_cast<int>(c.r.range(0, 32 * L + 5)); break;
    }
    c.form("expb2(n, x)");
    c.note("n", n);
    bignum* px = pool(0);
    set_number(px, c.operand(profile::linear, 3));
    expb2(n, px);
    if (n < 0) {
        c.tally("negative exponent (error 10)");
        if (c.error(10)) c.value("x", px, 1);
        return;
    }
    if (n / 32 + 1 > L) {
        c.tally("too long (error 3)");
        c.error(3);
        return;
    }
    if (!c.no_error()) return;
    mpz_class want;
    mpz_ui_pow_ui(want.get_mpz_t(), 2, static_cast<unsigned long>(n));
    c.value("x", px, want);
}

void run_expint(context& c) {
    const int L = c.state->max_length;
    std::int32_t b = c.r.chance(50) ? static_cast<std::int32_t>(c.r.range(-20, 20)) : c.small_int();
    mpz_class mb = b;
    int n;
    if (c.r.chance(3)) {
        n = c.r.coin() ? -1 : static_cast<int>(c.r.range(INT_MIN, -1));
    } else {
        // Mostly exponents whose power fits, some that cannot.
        std::size_t bits = b == 0 ? 1 : mpz_sizeinbase(mb.get_mpz_t(), 2);
        long long top = (32ll * L) / static_cast<long long>(bits);
        if (std::llabs(static_cast<long long>(b)) <= 1) top = 1000000;
        n = static_cast<int>(c.r.range(0, top + top / 20 + 2));
        if (c.r.chance(20)) n = static_cast<int>(c.r.range(0, 70));
    }
    c.form("expint(b, n, x)");
    c.note("b", b);
    c.note("n", n);
    bignum* px = pool(0);
    set_number(px, c.operand(profile::linear, 3));
    expint(b, n, px);
    if (n < 0) {
        c.tally("negative exponent (error 10)");
        if (c.error(10)) c.value("x", px, 1);
        return;
    }
    fit f = power_fit(mb, static_cast<unsigned long>(n), L);
    if (b == 2) {
        // expint(2, n) is expb2(n): refused exactly when 2^n needs more words.
        if (n / 32 + 1 > L) {
            c.tally("too long (error 3)");
            c.error(3);
            return;
        }
    } else if (f == fit::over) {
        c.tally("too long (error 3)");
        c.error(3);
        return;
    } else if (f == fit::band) {
        c.tally("near the limit: not asserted");
        c.state->error_number = 0;
        c.state->trace_depth = 0;
        c.state->length_check = 1;
        return;
    }
    if (!c.no_error()) return;
    c.value("x", px, pow_of(mb, static_cast<unsigned long>(n)));
}

void run_power(context& c) {
    const int L = c.state->max_length;
    bool modulus = c.r.coin();
    bool x_is_w = c.r.coin();
    c.form(std::string("power(") + (x_is_w ? "w" : "x") + ", n, " + (modulus ? "z" : "w") + ", w)");
    mpz_class x = c.operand(profile::quadratic, L);
    int n;
    mpz_class z;
    if (modulus) {
        z = c.operand(profile::quadratic, L);
        if (z == 0) z = c.magnitude(1);
        n = c.r.chance(10) ? static_cast<int>(c.r.range(-3, 3)) : static_cast<int>(c.r.word() >> c.r.below(32));
        if (n < 0 && c.r.chance(50)) n = -n;
        if (words_of(z) > 64) n = static_cast<int>(c.r.range(-1, 300));  // keep large moduli cheap
    } else {
        std::size_t bits = x == 0 ? 1 : mpz_sizeinbase(x.get_mpz_t(), 2);
        long long top = (32ll * L) / static_cast<long long>(bits);
        if (abs(x) <= 1) top = 100000;
        n = static_cast<int>(c.r.range(c.r.chance(3) ? -3 : 0, top + top / 20 + 2));
        if (c.r.chance(20)) n = static_cast<int>(c.r.range(0, 5));
    }
    c.note("x", x);
    c.note("n", n);
    if (modulus) c.note("z", z);
    bignum *px = pool(0), *pz = pool(1), *pw = pool(2);
    set_number(px, x);
    set_number(pz, z);
    set_number(pw, c.operand(profile::linear, 3));
    bignum* base = px;
    if (x_is_w) {
        set_number(pw, x);
        base = pw;
    }
    power(base, n, modulus ? pz : pw, pw);
    if (x == 0) {  // 0^n is 0 for every n, 0^0 included, with no error
        if (c.no_error()) c.value("w", pw, 0);
        return;
    }
    if (n < 0) {
        c.tally("negative exponent (error 10)");
        if (c.error(10)) c.value("w", pw, 1);
        return;
    }
    if (modulus) {
        if (!c.no_error()) return;
        // n = 0 gives 1 before any reduction, even for |z| = 1 (GMP: 0).
        mpz_class m = abs(z), want = 1;
        if (n > 0) mpz_powm_ui(want.get_mpz_t(), mpz_class(abs(x)).get_mpz_t(), static_cast<unsigned long>(n), m.get_mpz_t());
        if (x < 0 && (n & 1)) want = -want;
        c.value("w", pw, want);
        c.value("z after the call", pz, z);
        if (!x_is_w) c.value("x after the call", px, x);
        return;
    }
    fit f = power_fit(x, static_cast<unsigned long>(n), L);
    if (f == fit::over) {
        c.tally("too long (error 3)");
        c.error(3);
        return;
    }
    if (f == fit::band) {
        c.tally("near the limit: not asserted");
        c.state->error_number = 0;
        c.state->trace_depth = 0;
        c.state->length_check = 1;
        return;
    }
    if (!c.no_error()) return;
    c.value("w", pw, pow_of(x, static_cast<unsigned long>(n)));
    if (!x_is_w) c.value("x after the call", px, x);
}

void run_nroot(context& c) {
    const int L = c.state->max_length;
    mpz_class x = c.operand(profile::quadratic, L);
    std::size_t bits = x == 0 ? 0 : mpz_sizeinbase(x.get_mpz_t(), 2);
    int n;
    switch (c.r.below(10)) {
        case 0: n = static_cast<int>(c.r.range(-3, 1)); break;
        case 1: n = static_cast<int>(bits) + static_cast<int>(c.r.range(-2, 3)); break;
        case 2: n = static_cast<int>(c.r.range(2, c.r.coin() ? 200 : 20000)); break;
        default: n = static_cast<int>(c.r.range(2, 7)); break;
    }
    // Just below a power of two: every level's root and remainder at their
    // largest.
    if (c.r.chance(5) && bits > 0) x = (mpz_class(1) << bits) - 1;
    // Perfect powers and their neighbours: the exact flag and the final
    // correction step of the iteration.
    if (n >= 2 && n <= 1000 && c.r.chance(40)) {
        // Roots of every size, and of the sizes where the iteration starts
        // from double precision directly or through levels (24 and 50
        // bits, the levels under the top one from 51), where square and
        // cube roots start on limbs from double precision or through one
        // step there (50), take a level above the limbs (96) and take a
        // second level, whose lowest root is again below 51 bits (160); cube
        // roots take one more step on limbs up to 188 bits, and from 344 the
        // level under the top one no longer fits there; the top step of a
        // cube root divides only the top words of its operands from the
        // first level above the limbs and leaves out one word more at each
        // 64 root bits (155, 219).
        const int most = (32 * L - 8) / n;
        int root_bits = static_cast<int>(c.r.range(1, most));
        if (c.r.chance(30)) {
            static const int edges[] = {24, 40, 51, 96, 155, 160, 188, 219, 344, 537};
            root_bits = std::min(most, edges[c.r.below(10)] + static_cast<int>(c.r.range(-3, 3)));
        }
        mpz_class r = c.magnitude((root_bits + 31) / 32) >> ((32 - root_bits % 32) % 32);
        if (r == 0) r = 1;
        // Roots whose low bits are all zero (the lower levels' remainders
        // vanish and the top step's numerator is below its divisor) or all
        // one (the new low bits at their largest).
        switch (c.r.below(8)) {
            case 0: r = (r >> (root_bits / 2)) << (root_bits / 2); break;
            case 1: r = (mpz_class(1) << root_bits) - 1; break;
            default: break;
        }
        if (r == 0) r = 1;
        x = pow_of(r, static_cast<unsigned long>(n)) + c.r.range(-1, 1);
        if (words_of(x) > L) x = pow_of(r, static_cast<unsigned long>(n)) - 1;
        if (n % 2 == 1 && c.r.coin()) x = -x;
    }
    bool in_place = c.r.coin();
    c.form(in_place ? "nroot(x, n, x)" : "nroot(x, n, w)");
    c.note("x", x);
    c.note("n", n);
    bignum *px = pool(0), *pw = pool(1);
    set_number(px, x);
    set_number(pw, c.operand(profile::linear, 3));
    bignum* out = in_place ? px : pw;
    bool exact = nroot(px, n, out);
    if (x == 0 || n == 1) {  // copied, whatever n
        if (c.no_error()) {
            c.value("w", out, x);
            c.truth("exact flag", exact);
        }
        return;
    }
    if (n < 1 || (n % 2 == 0 && x < 0)) {
        // Both refusals may apply; the later report (9) is the one recorded.
        int code = n % 2 == 0 && x < 0 ? 9 : 11;
        c.tally(code == 9 ? "even root of a negative (error 9)" : "illegal root (error 11)");
        if (c.error(code)) c.truth("returns false", !exact);
        return;
    }
    if (!c.no_error()) return;
    mpz_class want;
    int want_exact = mpz_root(want.get_mpz_t(), x.get_mpz_t(), static_cast<unsigned long>(n));
    if (want_exact) c.tally("exact root");
    c.value("w", out, want);
    c.integer("exact flag", exact ? 1 : 0, want_exact ? 1 : 0);
    if (!in_place) c.value("x after the call", px, x);
}

}  // namespace

const family oracle::powers_family{"powers", {
    {"logb2", run_logb2, 1},
    {"expb2", run_expb2, 1},
    {"expint", run_expint, 2},
    {"power", run_power, 3},
    {"nroot", run_nroot, 3},
}};
