// GCD and extended GCD against GMP.
//
// egcd is GMP's gcd of the magnitudes. For xgcd the engine's cofactor is
// not GMP's (mpz_gcdext picks its own): the engine returns the cofactor of
// Euclid's remainder sequence, made non-negative as y - |c| when the sign
// that the step count gives is negative. The reference below runs that
// sequence with GMP arithmetic, one plain division per step, which is what
// the engine's leading-word steps must reproduce exactly; it also checks
// the Bezout identity and, for coprime operands, that the cofactor is GMP's
// inverse.
#include <algorithm>
#include <climits>

#include "kernels.h"
#include "oracle.h"
#include "thresholds.h"
#include "workspace.h"

using namespace oracle;

namespace {

long long int_value_of(const mpz_class& v) {
    mpz_class a = abs(v);
    if (a < (1 << 30)) return v.get_si();
    return v < 0 ? -(1ll << 30) : (1ll << 30);
}

// How a case runs, set for its call and put back after it: now and then on
// the portable kernels, so that the passes' loops of both paths meet GMP.
struct case_settings {
    bool portable;
    explicit case_settings(context& c) : portable(c.r.chance(20) && select_kernel_path(kernel_path::portable)) {
        if (portable) c.tally("portable kernels");
    }
    ~case_settings() {
        if (portable && !select_kernel_path(kernel_path::bmi2_adx)) select_kernel_path(kernel_path::portable);
    }
    case_settings(const case_settings&) = delete;
    case_settings& operator=(const case_settings&) = delete;
};

// A length at which the Lehmer passes change course, give or take two
// words: four words (up to which a pass's leading values are the remainders
// themselves), the lengths from which egcd and xgcd run blocks of passes,
// the block's top part, the length from which the blocks take a wider
// top part and that part, the cofactor length from which xgcd gathers its
// passes' matrices (its operands' length bounds the cofactors'), the
// length from which the passes divide at once, and the largest numbers.
int threshold_length(context& c, int max_words) {
    const int points[] = {4,
                          egcd_block_min,
                          xgcd_block_min,
                          gcd_block_top,
                          gcd_block_wide_min,
                          gcd_block_top_wide,
                          xgcd_gather_min,
                          gcd_pass_divide_min,
                          max_words};
    const int n = static_cast<int>(sizeof points / sizeof points[0]);
    const int words = points[c.r.below(n)] + static_cast<int>(c.r.below(5)) - 2;
    return std::clamp(words, 1, max_words);
}

// Extends the Euclid run that ends in (a, b) backwards, a quotient from
// `quotient` at a time, while the larger number fits in `words` words.
template <class Quotient>
void extend_euclid_run(mpz_class& a, mpz_class& b, int words, Quotient quotient) {
    for (;;) {
        mpz_class next = quotient() * a + b;
        if (words_of(next) > words) return;
        b = a;
        a = next;
    }
}

// Pairs that matter for Euclid: shared factors of every size, consecutive
// Fibonacci numbers (every quotient 1), multiples, equal values, zeros.
void gcd_pair(context& c, mpz_class& x, mpz_class& y, int max_words) {
    switch (c.r.below(10)) {
        case 0: {
            mpz_class g = c.magnitude(c.pick_length(profile::quadratic, max_words / 2 + 1));
            int room = max_words - words_of(g);
            if (room < 1) room = 1;
            x = g * c.magnitude(static_cast<int>(c.r.range(1, room)));
            y = g * c.magnitude(static_cast<int>(c.r.range(1, room)));
            if (words_of(x) > max_words) x = g;
            if (words_of(y) > max_words) y = g;
            break;
        }
        case 1: {
            unsigned long k = static_cast<unsigned long>(c.r.range(1, 46 * c.pick_length(profile::quadratic, max_words)));
            mpz_fib2_ui(x.get_mpz_t(), y.get_mpz_t(), k);
            if (words_of(x) > max_words) mpz_fib2_ui(x.get_mpz_t(), y.get_mpz_t(), 1000);
            if (c.r.coin()) std::swap(x, y);
            break;
        }
        case 2:
            y = c.operand(profile::quadratic, max_words / 2 + 1);
            x = y * c.r.range(0, 1000) + (c.r.coin() ? 0 : 1);
            break;
        case 3:
            x = c.operand(profile::quadratic, max_words);
            y = c.r.coin() ? x : mpz_class(0);
            break;
        case 4: {
            // Euclid run backwards from chosen quotients: long runs of one
            // quotient, and quotients at the bounds of the word-sized steps
            // (near 2^31, 2^32, 2^63 and 2^64).
            static const unsigned long long runs[] = {1, 2, 3, 1000, 0x7FFFFFFFull, 0x80000000ull, 0xFFFFFFFFull,
                                                      0x7FFFFFFFFFFFFFFFull, 0x8000000000000000ull,
                                                      0xFFFFFFFFFFFFFFFFull};
            const unsigned long long run = runs[c.r.below(sizeof runs / sizeof runs[0])];
            // Quotients near 2^32 at the largest length: one step a pass, so
            // xgcd's last stage records more passes than it has room for.
            const bool steady = run == 0xFFFFFFFFull && c.r.chance(50);
            const int words = steady           ? max_words
                              : c.r.chance(10) ? threshold_length(c, max_words)
                                               : c.pick_length(profile::quadratic, max_words);
            // Now and then a quotient of many words, as often as not right
            // after a quotient of 1 (the sequence is built from its end):
            // there a block of passes must stop, and with the 1 before it
            // the remainders it stops at are close together.
            mpz_class a = 1, b = 0, q;
            const bool long_quotients = c.r.chance(30);
            bool one_next = false;
            extend_euclid_run(a, b, words, [&] {
                const unsigned long long qq = steady || c.r.chance(90) ? run : c.r.next() >> c.r.below(64);
                mpz_import(q.get_mpz_t(), 1, 1, sizeof qq, 0, 0, &qq);
                if (one_next) {
                    q = 1;
                    one_next = false;
                } else if (long_quotients && !steady && c.r.chance(3)) {
                    q = c.magnitude(static_cast<int>(c.r.range(1, std::max(1, words / 8))));
                    one_next = c.r.coin();
                }
                return q;
            });
            x = a;
            y = b;
            break;
        }
        case 9: {
            // Block-sized operands whose Euclid run starts with chosen
            // quotients (built backwards from a random pair of all but the
            // last few hundred words): small ones with now and then one of
            // a few words, as often as not right after a quotient of 1,
            // where a block of passes must stop (its remainders then being
            // close together).
            const int points[] = {egcd_block_min, xgcd_block_min, gcd_block_wide_min, max_words};
            const int words = std::clamp(points[c.r.below(4)] + static_cast<int>(c.r.below(5)) - 2, 1, max_words);
            const int top = words >= gcd_block_wide_min ? gcd_block_top_wide : gcd_block_top;
            mpz_class a = c.magnitude(std::max(1, words - top)), b = 0, q;
            if (a > 1) b = c.magnitude(words_of(a)) % a;
            bool one_next = false;
            extend_euclid_run(a, b, words, [&] {
                if (one_next) {
                    q = 1;
                    one_next = false;
                } else if (c.r.chance(4)) {
                    q = c.magnitude(static_cast<int>(c.r.range(1, 6)));
                    one_next = c.r.coin();
                } else {
                    q = static_cast<unsigned long>(c.r.range(1, 4));
                }
                return q;
            });
            x = a;
            y = b;
            break;
        }
        case 8: {
            // Random remainders of the lengths above, now and then with a
            // common factor of up to half their length, or with a common
            // factor 2^k that leaves all or most of the low words (those
            // below a block's top part) zero in every remainder.
            const int words = threshold_length(c, max_words);
            x = c.magnitude(words);
            y = c.magnitude(std::max(1, words - static_cast<int>(c.r.below(3))));
            if (words > 2 && c.r.coin()) {
                const int gw = static_cast<int>(c.r.range(1, words / 2));
                const mpz_class g = c.magnitude(gw);
                x = g * c.magnitude(words - gw);
                y = g * c.magnitude(std::max(1, words - gw - static_cast<int>(c.r.below(3))));
            }
            const int top = words >= gcd_block_wide_min && c.r.coin() ? gcd_block_top_wide : gcd_block_top;
            if (words > top + 8 && c.r.chance(25)) {
                c.tally("low words zero");
                const int low = static_cast<int>(c.r.range(words - top - 4, words - top / 2));
                const int keep = words - low;
                x = (x >> (32 * (words - keep))) << (32 * low - static_cast<int>(c.r.below(64)));
                y = (y >> (32 * (words - keep))) << (32 * low - static_cast<int>(c.r.below(64)));
            }
            break;
        }
        default:
            x = c.operand(profile::quadratic, max_words);
            y = c.operand(profile::quadratic, max_words);
            break;
    }
    if (c.r.coin()) x = -x;
    if (c.r.coin()) y = -y;
}

// Now and then, values left in the workspace numbers as routines that ran
// before leave them (a power leaves most of scratch1 to scratch15 holding
// numbers): the GCDs must not take their words to be zero.
void leave_workspace_values(context& c) {
    if (!c.r.chance(20)) return;
    c.tally("workspace left holding values");
    for (int k = 1; k <= 15; ++k)
        if (c.r.coin()) set_number(workspace_at(scratch_slot(k)), c.magnitude(c.pick_length(profile::linear, c.state->max_length)));
}

void run_egcd(context& c) {
    const int L = c.state->max_length;
    const case_settings settings(c);
    mpz_class x, y;
    gcd_pair(c, x, y, L);
    int form = static_cast<int>(c.r.below(4));
    static const char* forms[] = {"egcd(x, y, z)", "egcd(x, y, x)", "egcd(x, y, y)", "egcd(x, x, z)"};
    c.form(forms[form]);
    if (form == 3) y = x;
    c.note("x", x);
    c.note("y", y);
    bignum *px = pool(0), *py = pool(1), *pz = pool(2);
    leave_workspace_values(c);
    set_number(px, x);
    set_number(py, y);
    set_number(pz, c.operand(profile::linear, 3));
    bignum* b = form == 3 ? px : py;
    bignum* out = form == 1 ? px : form == 2 ? py : pz;
    int ret = egcd(px, b, out);
    if (!c.no_error()) return;
    mpz_class g = gcd(x, y);
    c.value("gcd", out, g);
    c.integer("returned value", ret, int_value_of(g));
    if (out != px) c.value("x after the call", px, x);
    if (out != b && b != px) c.value("y after the call", b, y);
}

void run_xgcd(context& c) {
    const int L = c.state->max_length;
    const case_settings settings(c);
    mpz_class x, y;
    gcd_pair(c, x, y, L);
    y = abs(y);
    bool zero_y = y == 0;
    if (zero_y && c.r.chance(70)) y = c.magnitude(c.pick_length(profile::quadratic, L));
    zero_y = y == 0;
    int form = zero_y ? 0 : static_cast<int>(c.r.below(3));
    static const char* forms[] = {"xgcd(x, y, xd, yd, z)", "xgcd(x, y, v, v, z)", "xgcd(x, y, v, v, v) inverse"};
    c.form(forms[form]);
    c.note("x", x);
    c.note("y", y);
    bignum *px = pool(0), *py = pool(1), *pxd = pool(2), *pyd = pool(3), *pz = pool(4);
    leave_workspace_values(c);
    set_number(px, x);
    set_number(py, y);
    set_number(pxd, 5);
    set_number(pyd, 6);
    set_number(pz, 7);
    int ret = 0;
    switch (form) {
        case 0: ret = xgcd(px, py, pxd, pyd, pz); break;
        case 1: ret = xgcd(px, py, pxd, pxd, pz); break;
        case 2: ret = xgcd(px, py, pxd, pxd, pxd); break;
    }
    if (zero_y) {
        c.tally("y zero (error 2)");
        c.error(2);
        return;
    }
    if (!c.no_error()) return;
    xgcd_result want;
    if (words_of(x) <= 48 && words_of(y) <= 48) {
        want = reference_xgcd(x, y);
        // The two references must agree, or the long cases prove nothing.
        xgcd_result other = derived_xgcd(x, y);
        if (!c.truth("the two references agree", other.xd == want.xd && other.yd == want.yd)) return;
    } else {
        want = derived_xgcd(x, y);
    }
    c.value("xd", pxd, want.xd);
    if (form == 0) {
        c.value("yd", pyd, want.yd);
        c.truth("x*xd + y*yd = gcd", to_mpz(px) * to_mpz(pxd) + to_mpz(py) * to_mpz(pyd) == want.g);
    }
    if (form != 2) c.value("gcd", pz, gcd(x, y));
    c.integer("returned value", ret, int_value_of(want.g));
    if (want.g == 1 && y > 1) {
        c.tally("inverse");
        mpz_class inv;
        mpz_invert(inv.get_mpz_t(), x.get_mpz_t(), y.get_mpz_t());
        c.value("xd is the inverse", pxd, inv);
    }
    c.value("x after the call", px, x);
    c.value("y after the call", py, y);
}

}  // namespace

const family oracle::gcd_family{"gcd", {
    {"egcd", run_egcd, 1},
    {"xgcd", run_xgcd, 1},
}};
