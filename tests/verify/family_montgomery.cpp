// Montgomery arithmetic against GMP: prepare_monty, nres, redc,
// nres_modmult, with R = 2^(32k) for a k-word odd modulus n.
#include <algorithm>

#include "kernels.h"
#include "oracle.h"
#include "thresholds.h"
#include "montgomery.h"

using namespace oracle;

namespace {

mpz_class two_pow(unsigned long bits) {
    mpz_class v;
    mpz_ui_pow_ui(v.get_mpz_t(), 2, bits);
    return v;
}

// A word count next to a threshold of the reduction (up to two below or
// above): the fused product's, where the square kernel gives way to the
// square methods and reduction apart, reduction by multiplication's, the
// IFMA kernel's range, the BMI2/ADX blocks' first, the pieces on the
// worker pool (at their first size and twice it), the largest, or where
// the wrap-around product's length (wrap_length_for) rounds to one more
// power of two (the split's minimum times 4, 8 and 16).
int threshold_words(context& c, int max_words) {
    const int thresholds[] = {monty_fused_max, square_karatsuba_threshold,
                              std::min(monty_multiply_reduce_min, max_words), max_words,
                              std::min(monty_ifma_min, max_words), std::min(monty_ifma_top, max_words),
                              std::min(monty_adx_min, max_words), std::min(parallel_reduce_min, max_words),
                              std::min(2 * parallel_reduce_min, max_words), std::min(4 * monty_wrap_split_min, max_words),
                              std::min(8 * monty_wrap_split_min, max_words), std::min(16 * monty_wrap_split_min, max_words)};
    const int k = thresholds[c.r.below(12)] + static_cast<int>(c.r.range(-2, 2));
    return std::clamp(k, 1, max_words);
}

// An odd modulus of 2h words whose top and low halves differ by one,
// n = (t + 1) B^h + t, so that in the wrap-around product of reduction by
// multiplication the halves' difference is -1 and the product of the
// differences takes its factor-B^h path; half the time t = (s + 1) B^g + s
// (h = 2g, s below B^g / 2) too, so that the halves' sum 2t + 1 splits the
// same way one level down. g is a random length or one next to the split's
// threshold.
mpz_class halves_apart_by_one(context& c, int max_words) {
    const bool nested = c.r.coin() && max_words >= 4;
    const int most = std::max(1, max_words / (nested ? 4 : 2));
    int g = c.r.chance(30) ? monty_wrap_split_min / 2 + static_cast<int>(c.r.range(-2, 2))
                           : static_cast<int>(c.r.range(1, most));
    g = std::clamp(g, 1, most);
    const mpz_class room = two_pow(32ul * static_cast<unsigned long>(g));
    // Odd, of g whole words, below B^g - 2 (below B^g / 2 - 1 when nested).
    mpz_class t = (c.magnitude(g) % (room - 2)) | (room >> 1) | 1;
    if (nested) {
        t = (t >> 2) | (room >> 3) | 1;
        t = (t + 1) * room + t;
    }
    const mpz_class half = two_pow(32ul * static_cast<unsigned long>(nested ? 2 * g : g));
    return (t + 1) * half + t;
}

// An odd modulus of at least 3 and at most max_words words.
mpz_class odd_modulus(context& c, profile p, int max_words) {
    mpz_class n = c.magnitude(c.r.chance(10) ? threshold_words(c, max_words) : c.pick_length(p, max_words));
    if (c.r.chance(5) && max_words >= 2) n = halves_apart_by_one(c, max_words);
    // Whole groups of eight limbs past the unrolled kernels, below reduction
    // by multiplication: the BMI2/ADX reduction's eight rows at a time.
    if (c.r.chance(4) && std::min(monty_multiply_reduce_min - 1, max_words) >= 48)
        n = c.magnitude(16 * static_cast<int>(c.r.range(3, std::min(monty_multiply_reduce_min - 1, max_words) / 16)));
    if (c.r.chance(3)) n = c.r.range(3, 40);
    n |= 1;
    if (n < 3) n = 3;
    return n;
}

mpz_class montgomery_r(const mpz_class& n) { return two_pow(32ul * static_cast<unsigned long>(words_of(n))); }

bool install(context& c, const mpz_class& n) {
    bignum* pn = pool(9);
    set_number(pn, n);
    prepare_monty(pn);
    return c.no_error();
}

void run_prepare(context& c) {
    const int L = c.state->max_length;
    mpz_class before = odd_modulus(c, profile::linear, L);
    install(c, before);
    mr_digit before_constant = c.state->monty.constant;
    mpz_class n;
    bool good = c.r.chance(60);
    if (good) {
        n = odd_modulus(c, profile::linear, L);
        if (c.r.chance(10)) n = before;
    } else {
        switch (c.r.below(3)) {
            case 0: n = c.r.range(-5, 2); break;
            case 1: n = c.magnitude(c.pick_length(profile::linear, L)) & ~mpz_class(1); break;
            default: n = -odd_modulus(c, profile::linear, L); break;
        }
        if (n == 0 && c.r.coin()) n = 2;
    }
    c.form("prepare_monty(n)");
    c.note("n", n);
    c.note("installed before", before);
    bignum* pn = pool(0);
    set_number(pn, n);
    mr_digit k = prepare_monty(pn);
    if (!good) {
        c.tally("illegal modulus (error 19)");
        if (!c.error(19)) return;
        c.integer("returned constant", k, 0);
        c.value("installed modulus kept", c.state->modulus, before);
        c.integer("constant kept", c.state->monty.constant, before_constant);
        return;
    }
    if (!c.no_error()) return;
    // -1/n mod 2^32.
    mpz_class m = two_pow(32), inv;
    mpz_invert(inv.get_mpz_t(), n.get_mpz_t(), m.get_mpz_t());
    mpz_class want = (m - inv) % m;
    c.integer("returned constant", k, static_cast<long long>(want.get_ui()));
    c.integer("monty_constant", c.state->monty.constant, static_cast<long long>(want.get_ui()));
    c.value("installed modulus", c.state->modulus, n);
    c.value("n after the call", pn, n);
}

void run_nres(context& c) {
    const int L = c.state->max_length;
    mpz_class n = odd_modulus(c, profile::quadratic, L);
    bool none = c.r.chance(3);
    if (none) {
        clear_modulus();
    } else if (!install(c, n)) {
        return;
    }
    mpz_class x = c.operand(profile::quadratic, L);
    bool in_place = c.r.coin();
    c.form(in_place ? "nres(x, x)" : "nres(x, y)");
    c.note("n", n);
    c.note("x", x);
    bignum *px = pool(0), *py = pool(1);
    set_number(px, x);
    mpz_class old_y = c.operand(profile::linear, 3);
    set_number(py, old_y);
    bignum* out = in_place ? px : py;
    nres(px, out);
    if (none) {
        c.tally("no modulus (error 20)");
        if (c.error(20)) c.value("y unchanged", out, in_place ? x : old_y);
        return;
    }
    if (!c.no_error()) return;
    mpz_class want = x * montgomery_r(n);
    mpz_mod(want.get_mpz_t(), want.get_mpz_t(), n.get_mpz_t());
    c.value("y", out, want);
    if (!in_place) c.value("x after the call", px, x);
}

void run_redc(context& c) {
    const int L = c.state->max_length;
    mpz_class n = odd_modulus(c, profile::quadratic, L);
    if (!install(c, n)) return;
    mpz_class R = montgomery_r(n), limit = n * R;
    // 0 <= x < n*R, and x must fit a number of L words.
    mpz_class x = c.operand(profile::quadratic, L, false);
    if (c.r.chance(20)) x = c.magnitude(std::min(2 * words_of(n), L));
    if (c.r.chance(10)) x = n - 1;
    if (x >= limit) mpz_tdiv_r(x.get_mpz_t(), x.get_mpz_t(), limit.get_mpz_t());
    bool in_place = c.r.coin();
    c.form(in_place ? "redc(x, x)" : "redc(x, y)");
    c.note("n", n);
    c.note("x", x);
    bignum *px = pool(0), *py = pool(1);
    set_number(px, x);
    set_number(py, 3);
    bignum* out = in_place ? px : py;
    redc(px, out);
    if (!c.no_error()) return;
    mpz_class rinv, want;
    mpz_invert(rinv.get_mpz_t(), R.get_mpz_t(), n.get_mpz_t());
    want = x * rinv % n;
    c.value("y", out, want);
}

void run_modmult(context& c) {
    const int L = c.state->max_length;
    mpz_class n = odd_modulus(c, profile::quadratic, L);
    if (!install(c, n)) return;
    auto residue = [&]() {
        mpz_class v = c.operand(profile::quadratic, words_of(n), false);
        if (c.r.chance(5)) v = n - 1;
        mpz_tdiv_r(v.get_mpz_t(), v.get_mpz_t(), n.get_mpz_t());
        // Now and then not reduced: below R but not below n.
        if (c.r.chance(8) && words_of(v + n) == words_of(n)) v += n;
        return v;
    };
    mpz_class x = residue(), y = residue();
    int form = static_cast<int>(c.r.below(5));
    static const char* forms[] = {"nres_modmult(x, y, w)", "nres_modmult(x, x, w) square", "nres_modmult(x, y, x)",
                                  "nres_modmult(x, y, y)", "nres_modmult(x, x, x) square in place"};
    c.form(forms[form]);
    // Now and then on the portable kernels, so that the Montgomery kernels
    // of both paths meet GMP; the best path is back for the next case.
    const bool portable = c.r.chance(25) && select_kernel_path(kernel_path::portable);
    // The same for the IFMA kernel: now and then the rows where it would run.
    const bool rows = c.r.chance(25) && select_monty_ifma(false);
    // And the BMI2/ADX blocks: now and then the rows where they would run.
    const bool no_adx = c.r.chance(25) && select_monty_adx(false);
    if (form == 1 || form == 4) y = x;
    c.note("n", n);
    c.note("x", x);
    c.note("y", y);
    bignum *px = pool(0), *py = pool(1), *pw = pool(2);
    set_number(px, x);
    set_number(py, y);
    set_number(pw, 9);
    bignum* b = form == 1 || form == 4 ? px : py;
    bignum* out = form == 2 || form == 4 ? px : form == 3 ? py : pw;
    nres_modmult(px, b, out);
    if (portable && !select_kernel_path(kernel_path::bmi2_adx)) select_kernel_path(kernel_path::portable);
    if (rows) select_monty_ifma(true);
    if (no_adx) select_monty_adx(true);
    if (!c.no_error()) return;
    mpz_class R = montgomery_r(n), rinv;
    mpz_invert(rinv.get_mpz_t(), R.get_mpz_t(), n.get_mpz_t());
    c.value("w", out, x * y % n * rinv % n);
}

// redc(nres(x)) is x mod n in [0, n), for every x.
void run_round_trip(context& c) {
    const int L = c.state->max_length;
    mpz_class n = odd_modulus(c, profile::quadratic, L);
    if (!install(c, n)) return;
    mpz_class x = c.operand(profile::quadratic, L);
    c.form("redc(nres(x))");
    c.note("n", n);
    c.note("x", x);
    bignum* px = pool(0);
    set_number(px, x);
    nres(px, px);
    redc(px, px);
    if (!c.no_error()) return;
    mpz_class want;
    mpz_mod(want.get_mpz_t(), x.get_mpz_t(), n.get_mpz_t());
    c.value("x mod n", px, want);
}

}  // namespace

const family oracle::montgomery_family{"montgomery", {
    {"prepare_monty", run_prepare, 1},
    {"nres", run_nres, 1},
    {"redc", run_redc, 1},
    {"nres_modmult", run_modmult, 2},
    {"nres_redc_round_trip", run_round_trip, 1},
}};
