// Modular exponentiation against GMP: powmod (odd moduli on the Montgomery
// path, even moduli on the classical one), powmod2, powltr (with no
// modulus installed, the same one, or another one), and the residue cores
// nres_powmod, nres_powmod2, nres_powltr.
//
// Conversions from GMP's powm, which is always in [0, n):
//   - the classical path (even n) keeps divide's remainder rule: a negative
//     base with an odd exponent gives the negative value in (-n, 0];
//   - 0^0 is 1 on the Montgomery paths and 0 on the classical path, and a
//     zero base gives 0 for every exponent on the classical path;
//   - a base that is 0 mod n gives 0 on the Montgomery paths even for a
//     negative exponent (tested before the exponent's sign).
//
// The cost of one case grows with the exponent's bits times the square of
// the modulus's words; exponents are sized to a per-case budget so that
// every modulus size is reached without the largest ones dominating.
#include <algorithm>

#include "oracle.h"
#include "kernels.h"
#include "thresholds.h"
#include "montgomery.h"
#include "modexp.h"
#include "products.h"

using namespace oracle;

namespace {

mpz_class two_pow(unsigned long bits) {
    mpz_class v;
    mpz_ui_pow_ui(v.get_mpz_t(), 2, bits);
    return v;
}

mpz_class montgomery_one(const mpz_class& n) {
    mpz_class r = two_pow(32ul * static_cast<unsigned long>(words_of(n)));
    return r % n;
}

mpz_class powm(const mpz_class& b, const mpz_class& e, const mpz_class& n) {
    mpz_class v;
    mpz_powm(v.get_mpz_t(), b.get_mpz_t(), e.get_mpz_t(), n.get_mpz_t());
    return v;
}

// The first modulus length from which a power's reductions keep n''s part
// of the low product (low) or the modulus's part of the wrap-around
// product's top product (not low) made once (fixed_reduce_layout), or
// max_length + 1 for none.
int first_fixed_words(bool low, int max_length) {
    for (int k = 1; k <= max_length; ++k) {
        const fixed_reduce_layout layout = fixed_reduce_layout_for(k);
        if ((low ? layout.low_words : layout.wrap_words) != 0) return k;
    }
    return max_length + 1;
}

// A modulus length: mostly small, now and then next to a threshold of the
// Montgomery reduction, or the largest a number holds.
int modulus_words(context& c) {
    const int L = c.state->max_length;
    if (c.r.chance(1)) return L;
    // Now and then next to the first lengths whose powers keep parts of
    // their reductions' products made once.
    if (c.r.chance(1)) {
        const int first = first_fixed_words(c.r.coin(), L);
        if (first <= L) return std::clamp(first + static_cast<int>(c.r.range(-2, 2)), 1, L);
    }
    // Now and then just above the IFMA kernel's range, where the powers run
    // on reduction by multiplication on every family (with long windows:
    // see exponent).
    if (c.r.chance(1)) return std::min(static_cast<int>(c.r.range(monty_ifma_top + 1, monty_ifma_top + 32)), L);
    if (c.r.chance(5)) {
        // With the last of the words that the residue steps take and the
        // largest of the unrolled kernels.
        const int thresholds[] = {monty_multiply_reduce_min, monty_fused_max, monty_ifma_min, monty_ifma_top,
                                  monty_adx_min, std::min(product_karatsuba_threshold, square_karatsuba_threshold),
                                  basecase_fixed_max};
        const int near = std::min(thresholds[c.r.below(7)], L);
        return std::clamp(near + static_cast<int>(c.r.range(-2, 2)), 1, L);
    }
    if (c.r.chance(3)) {
        // Whole groups of eight limbs past the unrolled kernels, up to the
        // last length of the residue steps: where the BMI2/ADX reduction
        // runs eight rows at a time.
        const int groups = std::min(monty_multiply_reduce_min - 1, L) / 16;
        if (groups >= 3) return 16 * static_cast<int>(c.r.range(3, groups));
    }
    return c.pick_length(profile::heavy, L);
}

mpz_class modulus(context& c, bool odd) {
    const int L = c.state->max_length;
    mpz_class n = c.magnitude(modulus_words(c));
    if (c.r.chance(5)) n = c.r.range(2, 50);
    const int first_wrap = first_fixed_words(false, L);
    if (odd && c.r.chance(1) && (first_wrap + 31) / 32 <= L / 32) {
        // n = (t + 1) B^h + t of 2h words, at lengths where the power keeps
        // the wrap-around product's parts: the halves' difference is -1,
        // so its top word is set and the product there takes no kept part
        // (h a multiple of 16, so that 2h is the wrap-around product's own
        // length there).
        const int h = 16 * static_cast<int>(c.r.range((first_wrap + 31) / 32, L / 32));
        const mpz_class half = two_pow(32ul * static_cast<unsigned long>(h));
        const mpz_class t = (c.magnitude(h) % (half - 2)) | (half >> 1) | 1;
        n = (t + 1) * half + t;
    }
    if (odd) {
        n |= 1;
        if (n < 3) n = 3;
        return n;
    }
    n &= ~mpz_class(1);
    if (n == 0) n = 2;
    switch (c.r.below(8)) {
        case 0:  // 2^j alone, j up to the room of a number
            n = two_pow(static_cast<unsigned long>(c.r.range(1, 32 * std::min(words_of(n), L) - 1)));
            break;
        case 1: case 2: {  // 2^j * m with m odd, j small, a multiple of 32, or large
            unsigned long j;
            switch (c.r.below(3)) {
                case 0: j = static_cast<unsigned long>(c.r.range(1, 31)); break;
                case 1: j = 32ul * static_cast<unsigned long>(c.r.range(1, 4)) + (c.r.coin() ? 0ul : 1ul); break;
                default:  // now and then up to the room of a number
                    j = static_cast<unsigned long>(c.r.range(33, c.r.chance(10) ? 32 * L - 2 : 600));
                    break;
            }
            mpz_class m = c.magnitude(c.pick_length(profile::heavy, L)) | 1;
            n = m << j;
            // Keep it within a number's room: shorten m from the top.
            while (words_of(n) > L) {
                m >>= 32;
                m |= 1;
                n = m << j;
            }
            break;
        }
        case 3: {  // 2^j * m with both parts long enough to run at once on the pool
            const int bits = parallel_even_power_bits;
            if (32 * L < 2 * bits + 64) break;
            const auto j = static_cast<unsigned long>(c.r.range(bits, 32 * L - bits - 32));
            const int m_words = static_cast<int>(c.r.range((bits + 31) / 32, (32 * L - static_cast<int>(j)) / 32));
            mpz_class m = c.magnitude(m_words) | 1;
            mpz_setbit(m.get_mpz_t(), static_cast<unsigned long>(bits));
            n = m << j;
            while (words_of(n) > L) n >>= 32;  // still 2^(j - 32i) m, both parts long
            break;
        }
        default: break;
    }
    return n;
}

// An exponent whose work (bits times the modulus's words squared) stays
// within a budget drawn for the case; now and then with runs of zero bits.
mpz_class exponent(context& c, const mpz_class& n, bool allow_negative) {
    long long k = words_of(n) > 0 ? words_of(n) : 1;
    long long budget = 1ll << c.r.range(12, 22);
    long long bits = budget / (k * k + 64);  // per product: k^2 word steps and a call's cost
    if (bits < 2) bits = 2;
    // Now and then under a modulus of reduction by multiplication that is
    // not much longer than the IFMA kernel's, next to the exponent lengths
    // where the windows there grow to 7 bits (1792) and, for one base, to 8
    // (4608).
    const bool long_windows = k >= monty_multiply_reduce_min && k <= monty_ifma_top + 32;
    if (bits > 32ll * c.state->max_length) bits = 32ll * c.state->max_length;
    long long b = c.r.range(1, bits);
    if (long_windows && c.r.chance(25)) b = c.r.coin() ? c.r.range(1750, 1850) : c.r.range(4560, 4660);
    mpz_class e;
    switch (c.r.below(6)) {
        case 0: e = c.r.range(0, 3); break;
        case 1: {  // sparse: windows with two or more zero bits in a row
            e = 1;
            for (long long i = 1; i < b; ++i) e = 2 * e + (c.r.chance(15) ? 1 : 0);
            break;
        }
        default: {
            e = c.magnitude(static_cast<int>((b + 31) / 32));
            e >>= static_cast<unsigned long>((32 - b % 32) % 32);
            break;
        }
    }
    if (allow_negative && c.r.chance(4)) e = e == 0 ? mpz_class(-1) : mpz_class(-e);
    return e;
}

mpz_class base(context& c, const mpz_class& n) {
    switch (c.r.below(16)) {
        case 0: return 0;
        case 1: {  // a multiple of n, within a number's room
            mpz_class v = n * c.r.range(1, 3);
            return words_of(v) <= c.state->max_length ? v : n;
        }
        case 2: case 3: {  // n - 1, within a number's room (a negative n of all-ones words has none)
            if (!c.r.coin()) return mpz_class(-1);
            mpz_class v = n - 1;
            return words_of(v) <= c.state->max_length ? v : n;
        }
        default: return c.operand(profile::quadratic, c.state->max_length);
    }
}

void run_powmod(context& c) {
    bool odd = c.r.chance(65);
    mpz_class n = modulus(c, odd);
    bool bad_modulus = false;
    if (odd && c.r.chance(3)) {
        n = c.r.coin() ? mpz_class(1) : mpz_class(-n);
        bad_modulus = true;
    }
    mpz_class x = base(c, n), y = exponent(c, n, true);
    // Forms: w distinct; w as x; w as y; w as n (Montgomery path only, the
    // classical one refuses it with error 7).
    int form = static_cast<int>(c.r.below(4));
    static const char* forms[] = {"powmod(x, y, n, w)", "powmod(w, y, n, w)", "powmod(x, w, n, w)", "powmod(x, y, w, w)"};
    c.form(forms[form]);
    c.note("x", x);
    c.note("y", y);
    c.note("n", n);
    bignum *px = pool(0), *py = pool(1), *pn = pool(2), *pw = pool(3);
    set_number(px, x);
    set_number(py, y);
    set_number(pn, n);
    mpz_class old_w = 4;
    set_number(pw, old_w);
    bignum *a = px, *e = py, *m = pn;
    if (form == 1) { set_number(pw, x); a = pw; old_w = x; }
    if (form == 2) { set_number(pw, y); e = pw; old_w = y; }
    if (form == 3) { set_number(pw, n); m = pw; old_w = n; }
    // Now and then on the rows where the IFMA kernel or the BMI2/ADX
    // blocks would run.
    const bool rows = c.r.chance(20) && select_monty_ifma(false);
    const bool no_adx = c.r.chance(20) && select_monty_adx(false);
    powmod(a, e, m, pw);
    if (rows) select_monty_ifma(true);
    if (no_adx) select_monty_adx(true);
    if (bad_modulus) {
        c.tally("odd modulus below 3 (error 19)");
        if (c.error(19)) c.value("w unchanged", pw, old_w);
        return;
    }
    mpz_class want;
    if (odd) {
        mpz_class g;
        mpz_mod(g.get_mpz_t(), x.get_mpz_t(), n.get_mpz_t());
        if (g == 0) {
            c.tally("base 0 mod n");
            if (c.no_error()) c.value("w", pw, y == 0 ? 1 : 0);
            return;
        }
        if (y < 0) {
            c.tally("negative exponent (error 10)");
            if (c.error(10)) c.value("w holds the residue of 1", pw, montgomery_one(n));
            return;
        }
        if (!c.no_error()) return;
        c.value("w", pw, powm(x, y, n));
    } else {
        if (x == 0) {
            if (c.no_error()) c.value("w", pw, 0);
            return;
        }
        if (y == 0) {
            if (c.no_error()) c.value("w", pw, 1);
            return;
        }
        if (y < 0 || form == 3) {
            c.tally(y < 0 ? "negative exponent (error 10)" : "w is n on the classical path (error 7)");
            // Both may apply; the later report (7) is recorded.
            if (c.error(form == 3 ? 7 : 10)) c.value("w", pw, 1);
            return;
        }
        if (!c.no_error()) return;
        mpz_class mag = powm(abs(x), y, n);
        want = x < 0 && mpz_odd_p(y.get_mpz_t()) ? mpz_class(-mag) : mag;
        c.value("w", pw, want);
    }
    if (form != 1) c.value("x after the call", px, x);
    if (form != 2) c.value("y after the call", py, y);
    if (form != 3) c.value("n after the call", pn, n);
}

void run_powmod2(context& c) {
    bool bad = c.r.chance(3);
    mpz_class n = modulus(c, !bad || c.r.coin());
    if (bad && mpz_odd_p(n.get_mpz_t())) n = c.r.range(-3, 2);
    mpz_class x = base(c, n), a = base(c, n);
    mpz_class y = exponent(c, n, true), b = exponent(c, n, true);
    if (c.r.chance(10)) {
        // Exponents of very different lengths.
        y = c.r.range(0, 2);
        b = exponent(c, n, false);
    }
    int form = static_cast<int>(c.r.below(4));
    static const char* forms[] = {"powmod2(x, y, a, b, n, w)", "powmod2(w, y, a, b, n, w)",
                                  "powmod2(x, y, a, w, n, w)", "powmod2(x, y, a, b, w, w)"};
    c.form(forms[form]);
    c.note("x", x);
    c.note("y", y);
    c.note("a", a);
    c.note("b", b);
    c.note("n", n);
    bignum *px = pool(0), *py = pool(1), *pa = pool(2), *pb = pool(3), *pn = pool(4), *pw = pool(5);
    set_number(px, x);
    set_number(py, y);
    set_number(pa, a);
    set_number(pb, b);
    set_number(pn, n);
    mpz_class old_w = 8;
    set_number(pw, old_w);
    bignum *xx = px, *bb = pb, *nn = pn;
    if (form == 1) { set_number(pw, x); xx = pw; old_w = x; }
    if (form == 2) { set_number(pw, b); bb = pw; old_w = b; }
    if (form == 3) { set_number(pw, n); nn = pw; old_w = n; }
    powmod2(xx, py, pa, bb, nn, pw);
    if (bad || n < 3 || mpz_even_p(n.get_mpz_t())) {
        c.tally("illegal modulus (error 19)");
        if (c.error(19)) c.value("w unchanged", pw, old_w);
        return;
    }
    mpz_class gx, ga;
    mpz_mod(gx.get_mpz_t(), x.get_mpz_t(), n.get_mpz_t());
    mpz_mod(ga.get_mpz_t(), a.get_mpz_t(), n.get_mpz_t());
    if (gx == 0 || ga == 0) {
        c.tally("a base 0 mod n");
        if (c.no_error()) c.value("w", pw, 0);
        return;
    }
    if (y < 0 || b < 0) {
        c.tally("negative exponent (error 10)");
        if (c.error(10)) c.value("w holds the residue of 1", pw, montgomery_one(n));
        return;
    }
    if (!c.no_error()) return;
    c.value("w", pw, powm(x, y, n) * powm(a, b, n) % n);
    if (form != 3) c.value("n after the call", pn, n);
}

// The installed modulus m still computes after a call that used another:
// a square of residues under it, back from residues, is v^2 mod m.
void check_installed_square(context& c, const mpz_class& m) {
    const mpz_class v = c.magnitude(static_cast<int>(c.r.range(1, 8))) % m;
    bignum* pv = pool(7);
    set_number(pv, v);
    nres(pv, pv);
    nres_modmult(pv, pv, pv);
    redc(pv, pv);
    if (!c.no_error()) return;
    c.value("a square under the installed modulus afterwards", pv, v * v % m);
}

void run_powltr(context& c) {
    bool odd = c.r.chance(70);
    mpz_class n = modulus(c, odd);
    int x = c.r.chance(5) ? static_cast<int>(c.r.range(0, 1)) : static_cast<int>(c.r.range(2, (1 << 30) - 1));
    if (c.r.chance(30)) x = static_cast<int>(c.r.range(2, 20));
    if (c.r.chance(10)) x = 2;  // 2^y mod n doubles instead of multiplying
    mpz_class y = exponent(c, n, false);
    // Installed before: none, n itself, or another modulus.
    int before = static_cast<int>(c.r.below(3));
    mpz_class other;
    bignum* pm = pool(6);
    if (before == 0) {
        clear_modulus();
    } else {
        other = before == 1 ? n : mpz_class(c.magnitude(c.pick_length(profile::quadratic, 8)) | 1);
        if (other < 3) other = 3;
        if (before == 1 && !odd) other = 5;
        set_number(pm, other);
        prepare_monty(pm);
        if (!c.no_error()) return;
    }
    bool w_is_y = c.r.coin();
    c.form(std::string(w_is_y ? "powltr(x, w, n, w)" : "powltr(x, y, n, w)") +
           (before == 0 ? ", no modulus installed" : before == 1 ? ", n installed" : ", another modulus installed"));
    c.note("x", x);
    c.note("y", y);
    c.note("n", n);
    if (before) c.note("installed", other);
    bignum *py = pool(0), *pn = pool(1), *pw = pool(2);
    set_number(py, y);
    set_number(pn, n);
    set_number(pw, 1234);
    bignum* e = py;
    if (w_is_y) { set_number(pw, y); e = pw; }
    powltr(x, e, pn, pw);
    if (!c.no_error()) return;
    mpz_class want;
    if (x == 0) want = odd && (before == 0 || other == n) && y == 0 ? 1 : 0;
    else want = powm(mpz_class(x), y, n);
    if (x != 0 && y == 0) want = 1;
    c.value("w", pw, want);
    c.value("n after the call", pn, n);
    if (before == 0) c.truth("no modulus installed afterwards", c.state->modulus->len == 0);
    else if (c.value("installed modulus afterwards", c.state->modulus, other)) check_installed_square(c, other);
}

// The residue cores, on residues made with nres and read back with redc.
void run_cores(context& c) {
    mpz_class n = modulus(c, true);
    bignum* pn = pool(9);
    set_number(pn, n);
    prepare_monty(pn);
    if (!c.no_error()) return;
    int which = static_cast<int>(c.r.below(3));
    mpz_class x = base(c, n), a = base(c, n), y = exponent(c, n, false), b = exponent(c, n, false);
    int small = c.r.chance(20) ? 2 : static_cast<int>(c.r.range(0, (1 << 30) - 1));
    static const char* forms[] = {"redc(nres_powmod(nres(x), y))", "redc(nres_powmod2(nres(x), y, nres(a), b))",
                                  "redc(nres_powltr(x, y))"};
    c.form(forms[which]);
    c.note("n", n);
    c.note("y", y);
    bignum *px = pool(0), *py = pool(1), *pa = pool(2), *pb = pool(3), *pw = pool(4);
    set_number(px, x);
    set_number(py, y);
    set_number(pa, a);
    set_number(pb, b);
    nres(px, px);
    nres(pa, pa);
    mpz_class want;
    if (which == 0) {
        c.note("x", x);
        nres_powmod(px, py, pw);
        want = x % n == 0 ? mpz_class(y == 0 ? 1 : 0) : powm(x, y, n);
    } else if (which == 1) {
        c.note("x", x);
        c.note("a", a);
        c.note("b", b);
        nres_powmod2(px, py, pa, pb, pw);
        want = x % n == 0 || a % n == 0 ? mpz_class(0) : mpz_class(powm(x, y, n) * powm(a, b, n) % n);
    } else {
        c.note("x", small);
        nres_powltr(small, py, pw);
        want = small == 0 ? mpz_class(y == 0 ? 1 : 0) : powm(mpz_class(small), y, n);
    }
    redc(pw, pw);
    if (!c.no_error()) return;
    c.value("w", pw, want);
}

}  // namespace

const family oracle::modexp_family{"modexp", {
    {"powmod", run_powmod, 4},
    {"powmod2", run_powmod2, 3},
    {"powltr", run_powltr, 2},
    {"nres_cores", run_cores, 1},
}};
