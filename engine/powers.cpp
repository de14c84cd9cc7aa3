// Bit length, powers of two and of small integers, powers of a number with
// or without a modulus, and integer n-th roots by a Newton iteration whose
// precision doubles until it covers the whole operand.
//
// Workspace: power keeps its running square in scratch5 (double length);
// nroot keeps its guess in scratch2, the previous guess in scratch3, the
// truncated operand in scratch4 and the power of the guess in scratch6. None
// of these may be passed in as an argument.
#include <bit>
#include <cmath>
#include <cstdlib>

#include "internal.h"
#include "kernels.h"

int logb2(bignum* x) {
    if (error_pending() || int_value(x) == 0) return 0;
    routine_trace trace(rn_logb2);
    const int k = length_of(x);
    const mr_digit top = x->w[k - 1];
    return engine_instance->bits_per_digit * (k - 1) + std::bit_width(top);
}

void expb2(int n, bignum* x) {
    if (error_pending()) return;
    routine_trace trace(rn_expb2);
    set_from_int(1, x);
    if (n == 0) return;
    if (n < 0) {
        report_error(10);
        return;
    }
    const int bits = engine_instance->bits_per_digit;
    const int k = n / bits;
    const int r = n % bits;
    mr_shift(x, k, x);
    if (error_pending()) return;
    x->w[k] = shift_word(x->w[k], r);
}

void expint(int b, int n, bignum* x) {
    if (error_pending()) return;
    routine_trace trace(rn_expint);
    set_from_int(1, x);
    if (n == 0) return;
    if (n < 0) {
        report_error(10);
        return;
    }
    if (b == 2) {
        expb2(n, x);
        return;
    }
    // Left to right over the bits of n, from the highest power of two <= n.
    const unsigned e = static_cast<unsigned>(n);
    unsigned c = 1;
    while (c <= e) c <<= 1;
    for (c >>= 1; c != 0; c >>= 1) {
        multiply(x, x, x);
        if (e & c) premult(x, b, x);
        if (error_pending()) return;
    }
}

// w = x^n mod z; z == w means no modulus, w = x^n. x may be w.
void power(bignum* x, int n, bignum* z, bignum* w) {
    mr_state* s = engine_instance;
    bignum* b = s->scratch5;
    copy_number(x, b);
    zero_number(w);
    if (error_pending() || is_zero(b)) return;
    routine_trace trace(rn_power);
    set_from_int(1, w);
    if (n == 0) return;
    if (n < 0) {
        report_error(10);
        return;
    }

    if (z == w) {
        for (;;) {
            if (n & 1) multiply(w, b, w);
            if (error_pending()) return;
            n >>= 1;
            if (n == 0) return;
            multiply(b, b, b);
        }
    }

    // Work modulo d*z, whose top word is already large, so that no
    // reduction inside the loop has to scale the divisor again; the last
    // step brings the result back to the range of z itself.
    const mr_digit d = normalise(z, z);
    divide(b, z, z);
    for (;;) {
        if (n & 1) mad(w, b, b, z, z, w);
        if (error_pending()) break;
        n >>= 1;
        if (n == 0) break;
        mad(b, b, b, z, z, b);
    }
    if (d != 1) {
        divide_by_word(z, d, z);
        divide(w, z, z);
    }
}

// ---- Integer roots -------------------------------------------------------
//
// nroot finds r = floor(x^(1/n)) by Newton's iteration g' = ((n-1)*g +
// floor(x / g^(n-1))) / n (truncated), with the precision doubling from
// level to level so that nearly all the work is one power and one division
// at the full size, in the fast products and division.
//
// For any integer g > 0 the step gives g' >= r: by the inequality of the
// arithmetic and geometric means, (n-1)*g + x/g^(n-1) >= n * x^(1/n), and
// the truncations floor(floor(y)/n) = floor(y/n) lose nothing below r. And
// an overestimate g = r*(1 + e) gives g' about r*(1 + (n-1)/2 * e^2): the
// number of correct bits doubles, less about log2(n).
//
// Levels. The root has k bits (k = ceil(bits/n)). Level i works on
// X_i = x >> (n * (k - k_i)), whose root has k_i bits, with k_0 = k and
// k_(i+1) = ceil(k_i / 2) + guard down to a level of at most start_bits
// root bits. There the root comes from double precision, rounded up to an
// overestimate. Going up, a root g of X_(i+1) becomes the guess
// (g + 1) << (k_i - k_(i+1)) for X_i, an overestimate again since
// X_(i+1)^(1/n) + 1 >= (X_(i+1) + 1)^(1/n), and one Newton step brings it
// to within about one unit. At the top, a check of g^n against x steps g
// down to r (once at most, as a rule) and tells whether the root is exact.
// A root of at most exact_start_bits bits comes straight from double
// precision, checked with one power only when it lies near an integer.

namespace {

// Root bits that double precision gives as an overestimate with room to
// spare, and root bits small enough for its result to be used directly.
constexpr int start_bits = 40;
constexpr int exact_start_bits = 24;

// y = x >> bits (x >= 0). y may be x.
void shift_down(bignum* x, long bits, bignum* y) {
    const int words = static_cast<int>(bits / 32);
    const int n = length_of(x) - words;
    if (n <= 0) {
        zero_number(y);
        return;
    }
    if (x != y) zero_number(y);
    shr_vu(y->w, x->w + words, n, static_cast<unsigned>(bits % 32));
    for (int i = n; i < n + words; ++i) y->w[i] = 0;
    y->len = static_cast<std::uint32_t>(n);
    strip_leading_zeros(y);
}

// x = x << bits (x >= 0), in its room.
void shift_up(bignum* x, long bits) {
    const int words = static_cast<int>(bits / 32);
    const int n = length_of(x);
    if (n == 0) return;
    const mr_digit out = shl_vu(x->w + words, x->w, n, static_cast<unsigned>(bits % 32));
    for (int i = 0; i < words; ++i) x->w[i] = 0;
    x->w[n + words] = out;
    x->len = static_cast<std::uint32_t>(n + words + 1);
    strip_leading_zeros(x);
}

// log2(x) for x > 0, from its bit length and top 64 bits.
double log2_of(const bignum* x) {
    const int n = length_of(x);
    std::uint64_t top = x->w[n - 1];
    int low_bits = 32 * (n - 1);
    if (n >= 2) {
        top = (top << 32) | x->w[n - 2];
        low_bits -= 32;
    }
    if (n >= 3) {
        const int s = std::countl_zero(top);
        if (s > 0) top = (top << s) | (x->w[n - 3] >> (32 - s));
        low_bits -= s;
    }
    return std::log2(static_cast<double>(top)) + low_bits;
}

// x = the value v (below 2^64).
void set_u64(std::uint64_t v, bignum* x) {
    zero_number(x);
    x->w[0] = static_cast<mr_digit>(v);
    x->w[1] = static_cast<mr_digit>(v >> 32);
    x->len = 2;
    strip_leading_zeros(x);
}

}  // namespace

// w = the integer part of the n-th root of x (for odd n and negative x, the
// root of |x| with a minus sign). Returns true when w^n == x exactly.
bool nroot(bignum* x, int n, bignum* w) {
    if (error_pending()) return false;
    routine_trace trace(rn_nroot);
    if (is_zero(x) || n == 1) {
        copy_number(x, w);
        return true;
    }
    if (n < 1) report_error(11);
    const int sx = sign_of(x);
    if (n % 2 == 0 && sx < 0) report_error(9);
    if (error_pending()) return false;

    mr_state* s = engine_instance;
    const std::uint32_t xsign = x->len & mr_sign_bit;
    x->len &= ~mr_sign_bit;
    const int bits = logb2(x);
    if (n >= bits) {
        x->len |= xsign;
        set_from_int(sx, w);
        return bits == 1;
    }

    bignum* g = s->scratch2;     // the guess
    bignum* q = s->scratch3;     // the quotient of a Newton step
    bignum* top = s->scratch4;   // x at the precision of the level
    bignum* t = s->scratch6;     // a power of the guess
    length_check_scope unchecked(0);

    const int k = (bits + n - 1) / n;
    bool exact = false;
    if (k <= exact_start_bits) {
        // Within about 1e-7 of the true root: only a root near an integer
        // needs a check, which also tells whether it is exact.
        const double root = std::exp2(log2_of(x) / n);
        auto r = static_cast<std::uint64_t>(root);
        const double fraction = root - static_cast<double>(r);
        if (fraction > 1 - 1e-5 || fraction < 1e-5) {
            if (fraction > 0.5) ++r;
            set_u64(r, g);
            power(g, n, t, t);
            const int c = compare_numbers(t, x);
            if (c > 0) set_u64(--r, g);
            exact = c == 0;
        } else {
            set_u64(r, g);
        }
    } else {
        const int guard = std::bit_width(static_cast<unsigned>(n)) + 1;
        int levels[40];
        int count = 1;
        levels[0] = k;
        while (levels[count - 1] > start_bits && count < 40) {
            levels[count] = (levels[count - 1] + 1) / 2 + guard;
            ++count;
        }
        // The starting overestimate from double precision.
        int ki = levels[count - 1];
        shift_down(x, static_cast<long>(n) * (k - ki), top);
        const double root = std::exp2(log2_of(top) / n);
        set_u64(static_cast<std::uint64_t>(root * (1 + 0x1p-44)) + 1, g);
        for (int i = count - 1; i >= 0 && !error_pending(); --i) {
            if (i != count - 1) {
                decr(g, -1, g);
                shift_up(g, levels[i] - ki);
                ki = levels[i];
                shift_down(x, static_cast<long>(n) * (k - ki), top);
            }
            // g = ((n-1)*g + top / g^(n-1)) / n
            power(g, n - 1, t, t);
            divide(top, t, q);
            premult(g, n - 1, g);
            add(g, q, g);
            subdiv(g, n, g);
        }
        // g >= r, within about one unit: step down while g^n > x.
        while (!error_pending()) {
            power(g, n, t, t);
            const int c = compare_numbers(t, x);
            if (c <= 0) {
                exact = c == 0;
                break;
            }
            decr(g, 1, g);
        }
    }
    x->len |= xsign;
    if (error_pending()) return false;
    copy_number(g, w);
    set_sign(sx, w);
    return exact;
}
