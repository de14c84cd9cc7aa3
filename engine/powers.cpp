// Bit length, powers of two and of small integers, powers of a number with
// or without a modulus, and integer n-th roots with their remainders, from
// the top bits of the operand down, the root's precision doubling at each
// level.
//
// Workspace: power's running square and nroot's root, remainder, truncated
// operand and step values live in the workspace numbers workspace.h gives
// them, none of which may be passed in as an argument.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "internal.h"
#include "powers.h"
#include "primitives.h"
#include "multiply_divide.h"
#include "workspace.h"
#include "kernels.h"

int logb2(const bignum* x) {
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
        report_error(mr_error_negative_power);
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
        report_error(mr_error_negative_power);
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
void power(const bignum* x, int n, bignum* z, bignum* w) {
    const workspace_claim b(ws::scratch5);
    copy_number(x, b);
    zero_number(w);
    if (error_pending() || is_zero(b)) return;
    routine_trace trace(rn_power);
    TORVANE_EXPECTS(fits_room(x));
    set_from_int(1, w);
    if (n == 0) return;
    if (n < 0) {
        report_error(mr_error_negative_power);
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
// nroot finds r = floor(x^(1/n)) together with the remainder R = x - r^n,
// from the top bits of x down, doubling the root's bits at each level, so
// that the work is a few products and one division of about half the full
// size at the top level.
//
// Levels. The root has k bits (k = ceil(bits/n)). Level i works on
// X_i = x >> (n * (k - k_i)), whose root r_i has k_i bits, with k_0 = k and
// k_(i+1) = ceil((k_i + guard) / 2) down to a level of at most start_bits
// root bits, whose root comes from double precision and is made exact with
// a power or two (square and cube roots: at most limb_start_bits root bits,
// found on 64-bit limbs, small_root_limbs; cube roots up to cube_limb_bits
// with one more step there, wide_cube_root_limbs).
//
// One level up. With d = k_(i-1) - k_i, X_(i-1) = X_i * 2^(n*d) + L for
// the next n*d bits L of x, and r_(i-1) = r*2^d + t with 0 <= t < 2^d
// (r = r_i, R = R_i). Write u = r*2^d. Expanding (u + t)^n,
//     X_(i-1) - (u + t)^n = R*2^(n*d) + L - n*u^(n-1)*t - H,
//     H = (u + t)^n - u^n - n*u^(n-1)*t >= 0,
// so t is at most t^ = floor((R*2^d + (L >> (n-1)*d)) / (n*r^(n-1))) (the
// low (n-1)*d bits of both sides drop out of the floor). One division gives
// t^ and its remainder rho, and then
//     R_(i-1) = rho*2^((n-1)*d) + (L mod 2^((n-1)*d)) - H,
// with H = t^2 for n = 2 and t^2 * (3u + t) for n = 3 (for larger n,
// R_(i-1) = X_(i-1) - r_(i-1)^n by a power). t^ is above t only by about
// H / (n*u^(n-1)) ~ (n-1)/2 * 2^(2d) / 2^(k_i + d), below 1 for
// d <= k_i - guard with guard > log2(n); when R_(i-1) comes out negative,
// t is lowered by one and the remainder formed again.
// A root of at most exact_start_bits bits comes straight from double
// precision, checked with one power only when it lies near an integer.

namespace {

// Root bits that double precision gives within a few units (its powers are
// cheap at that size), and root bits small enough for its result to be
// used directly.
constexpr int start_bits = 50;
constexpr int exact_start_bits = 24;
// Root bits of the lowest level of square and cube roots, on limbs (see
// small_root_limbs), and of cube roots, one step above that, also on limbs
// (wide_cube_root_limbs): the step from a root of (k + 4) / 2 <= 96 bits.
constexpr int limb_start_bits = 96;
constexpr int cube_limb_bits = 188;
// Bits by which the root of the level under the top one exceeds half the
// top root's bits, for square and cube roots: then H is about 2^top_guard
// times smaller than rho*2^((n-1)d), so that the top remainder is nearly
// always seen to be positive from bit lengths alone.
constexpr int top_guard = 32;

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

// x = x mod 2^bits (x >= 0).
void keep_low_bits(bignum* x, long bits) {
    const int words = static_cast<int>(bits / 32);
    const int n = length_of(x);
    if (n <= words) return;
    const int part = static_cast<int>(bits % 32);
    for (int i = words + (part != 0 ? 1 : 0); i < n; ++i) x->w[i] = 0;
    if (part != 0) x->w[words] &= (mr_digit{1} << part) - 1;
    strip_leading_zeros(x);
}

// y = (x >> from) mod 2^count (x >= 0), from the words that hold those bits.
void bit_field(const bignum* x, long from, long count, bignum* y) {
    zero_number(y);
    const int first = static_cast<int>(from / 32);
    const int words = std::min(length_of(x) - first, static_cast<int>((count + 31) / 32) + 1);
    if (words <= 0) return;
    shr_vu(y->w, x->w + first, words, static_cast<unsigned>(from % 32));
    y->len = static_cast<std::uint32_t>(words);
    keep_low_bits(y, count);
    strip_leading_zeros(y);
}

// y = v*2^bits + ((x >> from) mod 2^bits), for v >= 0 and y apart from v
// and x: the bit field with v's words shifted in above it.
void shift_in(const bignum* v, long bits, const bignum* x, long from, bignum* y) {
    bit_field(x, from, bits, y);
    const int n = length_of(v);
    if (n == 0) return;
    const int words = static_cast<int>(bits / 32);
    const mr_digit below = y->w[words];  // the field's bits under v's lowest
    const mr_digit out = shl_vu(y->w + words, v->w, n, static_cast<unsigned>(bits % 32));
    y->w[words] |= below;
    y->w[words + n] = out;
    y->len = static_cast<std::uint32_t>(words + n + 1);
    strip_leading_zeros(y);
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

// t = n * g^(n-1), the divisor of a step up (n > 3).
void divisor_of_step(bignum* g, int n, bignum* t) {
    power(g, n - 1, t, t);
    premult(t, n, t);
}

// ---- The lowest level of square and cube roots, on 64-bit limbs ----------
//
// A root of up to limb_start_bits bits, so top below 2^(3*96): five limbs,
// and the root two. Below start_bits root bits the root of double
// precision is within a unit or two and is made exact by comparing powers.
// Above, the same from the top n*k1 bits (k1 = (k + 4) / 2 <= start_bits
// root bits) gives r1 and R1 = top1 - r1^n exactly, and one step up as in
// nroot's levels, its quotient from double precision, gives the root within
// a unit or two: with d = k - k1 <= k1 - 3, t^ exceeds t by less than one
// (the bound of nroot's levels), and the quotient of two doubles is within
// 2^-4 of t^ (t^ below 2^(d+1) <= 2^47, relative errors of a few 2^-53).

__extension__ typedef unsigned __int128 u128;  // GCC and Clang on x86-64
using u64 = std::uint64_t;

// p[0..na+nb-1] = a * b on limbs (p apart from a and b).
template <int na, int nb>
void limb_product(const u64* a, const u64* b, u64* p) {
    for (int i = 0; i < na + nb; ++i) p[i] = 0;
    for (int i = 0; i < na; ++i) {
        u64 carry = 0;
        for (int j = 0; j < nb; ++j) {
            const u128 t = static_cast<u128>(a[i]) * b[j] + p[i + j] + carry;
            p[i + j] = static_cast<u64>(t);
            carry = static_cast<u64>(t >> 64);
        }
        p[i + nb] = carry;
    }
}

// 2^e as a double, for -1022 <= e <= 1023 (the library's ldexp is a call
// that checks every case).
double two_to(int e) { return std::bit_cast<double>(static_cast<u64>(e + 1023) << 52); }

// The root of a number of up to six limbs v, within a few units: v's top
// 64 bits as a double, v = m * 2^e, root = root(m * 2^(e mod n)) * 2^(e/n).
double double_root(const u64* v, int limbs, int n) {
    while (limbs > 0 && v[limbs - 1] == 0) --limbs;
    if (limbs == 0) return 0;
    const int s = std::countl_zero(v[limbs - 1]);
    u64 m = v[limbs - 1] << s;
    if (limbs > 1 && s > 0) m |= v[limbs - 2] >> (64 - s);
    const int e = 64 * (limbs - 1) - s;  // v = m * 2^e, up to the bits below m
    const int q = e >= 0 ? e / n : -((-e + n - 1) / n);
    const double scaled = static_cast<double>(m) * two_to(e - n * q);
    return (n == 2 ? std::sqrt(scaled) : std::cbrt(scaled)) * two_to(q);
}

// The root of v (six limbs, zeros above its length) from an estimate r
// within a few units, and v - r^n in rem (six limbs).
u128 exact_limb_root(const u64 v[6], int n, u128 r, u64 rem[6]) {
    // out = c^n, and whether it is at most v.
    auto power_fits = [&](u128 c, u64 out[6]) {
        const u64 a[2] = {static_cast<u64>(c), static_cast<u64>(c >> 64)};
        if (a[1] == 0) {
            // One limb (the lower level's roots, and most roots below 2^64):
            // c^2 in two limbs, c^3 in three.
            const u128 sq = static_cast<u128>(a[0]) * a[0];
            out[0] = static_cast<u64>(sq);
            out[1] = static_cast<u64>(sq >> 64);
            out[2] = out[3] = out[4] = out[5] = 0;
            if (n == 3) {
                const u128 low = static_cast<u128>(out[0]) * a[0];
                const u128 high = static_cast<u128>(out[1]) * a[0] + static_cast<u64>(low >> 64);
                out[0] = static_cast<u64>(low);
                out[1] = static_cast<u64>(high);
                out[2] = static_cast<u64>(high >> 64);
            }
        } else {
            u64 sq[4];
            limb_product<2, 2>(a, a, sq);
            if (n == 2) {
                for (int i = 0; i < 4; ++i) out[i] = sq[i];
                out[4] = out[5] = 0;
            } else {
                limb_product<4, 2>(sq, a, out);  // c < 2^97, so c^3 fits six limbs
            }
        }
        for (int i = 5; i >= 0; --i)
            if (out[i] != v[i]) return out[i] < v[i];
        return true;
    };
    u64 p[6];
    if (!power_fits(r, p)) {
        do --r;  // 0^n fits
        while (!power_fits(r, p));
    } else {
        u64 next[6];
        while (power_fits(r + 1, next)) {
            ++r;
            for (int i = 0; i < 6; ++i) p[i] = next[i];
        }
    }
    u64 borrow = 0;
    for (int i = 0; i < 6; ++i) {
        const u128 d = static_cast<u128>(v[i]) - p[i] - borrow;
        rem[i] = static_cast<u64>(d);
        borrow = static_cast<u64>(d >> 64) & 1;
    }
    return r;
}

// y = the limbs z[0..limbs-1].
void set_limbs(const u64* z, int limbs, bignum* y) {
    zero_number(y);
    for (int i = 0; i < limbs; ++i) {
        y->w[2 * i] = static_cast<mr_digit>(z[i]);
        y->w[2 * i + 1] = static_cast<mr_digit>(z[i] >> 32);
    }
    y->len = static_cast<std::uint32_t>(2 * limbs);
    strip_leading_zeros(y);
}

// For n = 2 or 3 and a root of k <= limb_start_bits bits of v (six
// limbs): the root, and v minus its n-th power in rem.
u128 root_limbs_to_96(const u64 v[6], int n, int k, u64 rem[6]) {
    u128 r;
    if (k <= start_bits) {
        r = static_cast<u64>(double_root(v, 6, n) + 0.5);
    } else {
        const int k1 = (k + 4) / 2;
        const int d = k - k1;
        // top1 = top >> (n*d), its root r1 and remainder R1 (below 2^104)
        const int nd = n * d;
        u64 v1[6] = {};
        for (int i = 0; i + nd / 64 < 6; ++i) {
            const int from = i + nd / 64;
            v1[i] = v[from] >> (nd % 64);
            if (nd % 64 != 0 && from + 1 < 6) v1[i] |= v[from + 1] << (64 - nd % 64);
        }
        u64 rem1[6];
        const u64 r1 = static_cast<u64>(exact_limb_root(v1, n, static_cast<u64>(double_root(v1, 6, n) + 0.5), rem1));
        // t^ = (R1*2^d + ((top >> (n-1)d) mod 2^d)) / (n*r1^(n-1))
        const int low = (n - 1) * d;
        u64 field = v[low / 64] >> (low % 64);
        if (low % 64 != 0 && low / 64 + 1 < 6) field |= v[low / 64 + 1] << (64 - low % 64);
        field &= (u64{1} << d) - 1;
        const double big_r = static_cast<double>(rem1[1]) * two_to(64) + static_cast<double>(rem1[0]);
        const double rd = static_cast<double>(r1);
        const double divisor = n == 2 ? 2 * rd : 3 * rd * rd;
        const double t = (big_r * two_to(d) + static_cast<double>(field)) / divisor;
        r = (static_cast<u128>(r1) << d) + static_cast<u64>(t);
    }
    return exact_limb_root(v, n, r, rem);
}

// For n = 2 or 3 and a root of k <= limb_start_bits bits of top: g = the
// root and rem = top - g^n.
void small_root_limbs(const bignum* top, int n, int k, bignum* g, bignum* rem) {
    u64 v[6] = {};
    std::memcpy(v, top->w, sizeof(mr_digit) * static_cast<std::size_t>(std::min(length_of(top), 12)));
    u64 rest[6];
    const u128 r = root_limbs_to_96(v, n, k, rest);
    const u64 root[2] = {static_cast<u64>(r), static_cast<u64>(r >> 64)};
    set_limbs(root, 2, g);
    set_limbs(rest, 6, rem);
}

// The limbs z[0..limbs-1] as a double, from their top 64 bits (within a
// few units of 2^-53 of the value; below 2^1023).
double limbs_value(const u64* z, int limbs) {
    while (limbs > 0 && z[limbs - 1] == 0) --limbs;
    if (limbs == 0) return 0;
    const int s = std::countl_zero(z[limbs - 1]);
    u64 m = z[limbs - 1] << s;
    if (limbs > 1 && s > 0) m |= z[limbs - 2] >> (64 - s);
    return static_cast<double>(m) * two_to(64 * (limbs - 1) - s);
}

// floor(x) for a double 0 <= x < 2^127, as a 128-bit integer.
u128 whole_part(double x) {
    if (x < 1) return 0;
    const u64 bits = std::bit_cast<u64>(x);
    const int e = static_cast<int>((bits >> 52) & 0x7ff) - 1075;  // x = m * 2^e
    const u128 m = (bits & ((u64{1} << 52) - 1)) | (u64{1} << 52);
    return e >= 0 ? m << e : m >> -e;
}

// For a cube root of limb_start_bits < k <= cube_limb_bits bits of top
// (below 2^564: nine limbs): g = the root and rem = top - g^3, one step up
// from the root r1 and remainder R1 of the top 3*k1 bits, k1 = (k + 4) / 2
// <= 96, as in nroot's levels: t^ = floor(A / D) for A = R1*2^d + ((top >>
// 2d) mod 2^d) and D = 3 r1^2, d = k - k1 <= k1 - 3. t^ (below 2^94) comes
// from the quotient of the two as doubles (t1, within 2^44 of it), then the
// quotient of the exact difference A - t1*D by D (within a unit), and the
// root r1*2^d + t^ is made exact by comparing cubes.
void wide_cube_root_limbs(const bignum* top, int k, bignum* g, bignum* rem) {
    constexpr int V = 10;  // limbs of top, and room for a cube of three
    u64 v[V] = {};
    std::memcpy(v, top->w, sizeof(mr_digit) * static_cast<std::size_t>(std::min(length_of(top), 2 * V)));
    const int k1 = (k + 4) / 2;
    const int d = k - k1;
    // top1 = top >> 3d: at most 288 bits.
    const int nd = 3 * d;
    u64 v1[6] = {};
    for (int i = 0; i < 6 && i + nd / 64 < V; ++i) {
        const int from = i + nd / 64;
        v1[i] = v[from] >> (nd % 64);
        if (nd % 64 != 0 && from + 1 < V) v1[i] |= v[from + 1] << (64 - nd % 64);
    }
    u64 rem1[6];
    const u128 r1 = root_limbs_to_96(v1, 3, k1, rem1);
    // A = R1*2^d + ((top >> 2d) mod 2^d), R1 < 3 r1^2 + 3 r1 + 1 < 2^195
    // and d <= 92: five limbs.
    u64 a[6] = {};
    {
        const int low = 2 * d;
        u128 field = 0;
        for (int i = 0; i < 2; ++i) {
            const int bit = low + 64 * i;
            if (bit / 64 >= V) break;
            u64 part = v[bit / 64] >> (bit % 64);
            if (bit % 64 != 0 && bit / 64 + 1 < V) part |= v[bit / 64 + 1] << (64 - bit % 64);
            field |= static_cast<u128>(part) << (64 * i);
        }
        field &= (static_cast<u128>(1) << d) - 1;
        // R1 << d (d < 64 + 64), then field added in its low bits.
        const int wshift = d / 64, bshift = d % 64;
        for (int i = 0; i < 4; ++i) {
            a[i + wshift] |= rem1[i] << bshift;
            if (bshift != 0) a[i + wshift + 1] |= rem1[i] >> (64 - bshift);
        }
        a[0] |= static_cast<u64>(field);
        a[1] |= static_cast<u64>(field >> 64);
    }
    // D = 3 r1^2 (r1 < 2^96): four limbs.
    u64 dv[4];
    {
        const u64 r[2] = {static_cast<u64>(r1), static_cast<u64>(r1 >> 64)};
        limb_product<2, 2>(r, r, dv);
        u64 carry = 0;
        for (u64& x : dv) {
            const u128 t = static_cast<u128>(x) * 3 + carry;
            x = static_cast<u64>(t);
            carry = static_cast<u64>(t >> 64);
        }
    }
    const double dd = limbs_value(dv, 4);
    u128 q = whole_part(limbs_value(a, 6) / dd);
    {
        // e = A - q D, signed, in six limbs (|e| < 2^45 D).
        const u64 qq[2] = {static_cast<u64>(q), static_cast<u64>(q >> 64)};
        u64 p[6];
        limb_product<2, 4>(qq, dv, p);
        u64 e[6];
        u64 borrow = 0;
        for (int i = 0; i < 6; ++i) {
            const u128 t = static_cast<u128>(a[i]) - p[i] - borrow;
            e[i] = static_cast<u64>(t);
            borrow = static_cast<u64>(t >> 64) & 1;
        }
        if (borrow != 0) {  // negative: -e
            u64 carry = 1;
            for (u64& x : e) {
                const u128 t = static_cast<u128>(~x) + carry;
                x = static_cast<u64>(t);
                carry = static_cast<u64>(t >> 64);
            }
            const u128 back = whole_part(limbs_value(e, 6) / dd) + 1;
            q = q > back ? q - back : 0;
        } else {
            q += whole_part(limbs_value(e, 6) / dd);
        }
    }
    if (q >> d != 0) q = (static_cast<u128>(1) << d) - 1;  // t^ reached 2^d: take 2^d - 1
    // r = r1*2^d + t^, three limbs.
    u64 r[3] = {};
    {
        const int wshift = d / 64, bshift = d % 64;
        const u64 hi[2] = {static_cast<u64>(r1), static_cast<u64>(r1 >> 64)};
        for (int i = 0; i < 2; ++i) {
            if (i + wshift < 3) r[i + wshift] |= hi[i] << bshift;
            if (bshift != 0 && i + wshift + 1 < 3) r[i + wshift + 1] |= hi[i] >> (64 - bshift);
        }
        u128 sum = static_cast<u128>(r[0]) + static_cast<u64>(q);
        r[0] = static_cast<u64>(sum);
        sum = static_cast<u128>(r[1]) + static_cast<u64>(q >> 64) + static_cast<u64>(sum >> 64);
        r[1] = static_cast<u64>(sum);
        r[2] += static_cast<u64>(sum >> 64);
    }
    // The exact root: c^3 <= top < (c+1)^3. The estimate's cube is formed
    // (and a smaller c's while it is too large); whether c+1 fits is then
    // read from the remainder, top - c^3 >= (c+1)^3 - c^3 = 3(c^2 + c) + 1,
    // with c^2 kept from the cube, instead of from a second cube.
    u64 sq[6];
    auto cube_fits = [&](const u64 c[3], u64 out[V]) {
        limb_product<3, 3>(c, c, sq);
        limb_product<6, 3>(sq, c, out);
        out[9] = 0;
        for (int i = V - 1; i >= 0; --i)
            if (out[i] != v[i]) return out[i] < v[i];
        return true;
    };
    auto step = [](u64 c[3], bool up) {
        for (int i = 0; i < 3; ++i) {
            const u64 before = c[i];
            c[i] = up ? before + 1 : before - 1;
            if (up ? c[i] != 0 : before != 0) break;
        }
    };
    u64 c3[V];
    while (!cube_fits(r, c3)) step(r, false);  // 0^3 fits
    u64 rest[V];
    u64 borrow = 0;
    for (int i = 0; i < V; ++i) {
        const u128 t = static_cast<u128>(v[i]) - c3[i] - borrow;
        rest[i] = static_cast<u64>(t);
        borrow = static_cast<u64>(t >> 64) & 1;
    }
    for (;;) {
        // next = 3(c^2 + c) + 1 (c < 2^189: seven limbs hold it)
        u64 next[V] = {};
        u64 carry = 0;
        for (int i = 0; i < 7; ++i) {
            const u128 sum = static_cast<u128>(i < 6 ? sq[i] : 0) + (i < 3 ? r[i] : 0) + carry;
            next[i] = static_cast<u64>(sum);
            carry = static_cast<u64>(sum >> 64);
        }
        carry = 1;
        for (int i = 0; i < 7; ++i) {
            const u128 t = static_cast<u128>(next[i]) * 3 + carry;
            next[i] = static_cast<u64>(t);
            carry = static_cast<u64>(t >> 64);
        }
        bool fits = true;  // next <= rest
        for (int i = V - 1; i >= 0; --i)
            if (next[i] != rest[i]) {
                fits = next[i] < rest[i];
                break;
            }
        if (!fits) break;
        borrow = 0;
        for (int i = 0; i < V; ++i) {
            const u128 t = static_cast<u128>(rest[i]) - next[i] - borrow;
            rest[i] = static_cast<u64>(t);
            borrow = static_cast<u64>(t >> 64) & 1;
        }
        step(r, true);
        limb_product<3, 3>(r, r, sq);
    }
    set_limbs(r, 3, g);
    set_limbs(rest, V - 1, rem);
}

// rem = top - g^n by a power (t is scratch).
void remainder_by_power(bignum* top, bignum* g, int n, bignum* t, bignum* rem) {
    power(g, n, t, t);
    subtract(top, t, rem);
}


// ---- The levels of square and cube roots, on word vectors -----------------
//
// The same steps as nroot's levels, on the words of the workspace numbers
// with their lengths kept here, so that a level costs its kernels' calls
// and no more: no number is copied, cleared or checked between the steps.

// A magnitude in a workspace number's words: n words without leading zeros,
// and `used` the words that may be nonzero (cleared when it is made a
// number again).
struct magnitude {
    mr_digit* w;
    int n;
    int used;
    explicit magnitude(bignum* b) : w(b->w), n(length_of(b)), used(stored_length(b)) {}
    // After len words were written.
    void set(int len) {
        while (len > 0 && w[len - 1] == 0) --len;
        n = len;
        used = std::max(used, len);
    }
    void wrote(int len) { used = std::max(used, len); }
    void finish(bignum* b) {
        for (int i = n; i < used; ++i) w[i] = 0;
        b->len = static_cast<std::uint32_t>(n);
    }
};

long bits_of(const magnitude& x) {
    return x.n == 0 ? 0 : 32L * (x.n - 1) + std::bit_width(x.w[x.n - 1]);
}

// x < y
bool below(const magnitude& x, const magnitude& y) {
    if (x.n != y.n) return x.n < y.n;
    return cmp_vv(x.w, y.w, x.n) < 0;
}

// y = xw >> bits for the magnitude xw of xn words; y may be xw's own words.
void shift_down(const mr_digit* xw, int xn, long bits, magnitude& y) {
    const int first = static_cast<int>(bits / 32);
    const int words = xn - first;
    if (words <= 0) {
        y.n = 0;
        return;
    }
    shr_vu(y.w, xw + first, words, static_cast<unsigned>(bits % 32));
    y.wrote(words);  // in place, the words above stay as they were, below `used`
    y.set(words);
}

// y = (x >> from) mod 2^count, y apart from x.
void field(const bignum* x, long from, long count, magnitude& y) {
    const int first = static_cast<int>(from / 32);
    const int words = std::min(length_of(x) - first, static_cast<int>((count + 31) / 32) + 1);
    if (words <= 0) {
        y.n = 0;
        return;
    }
    shr_vu(y.w, x->w + first, words, static_cast<unsigned>(from % 32));
    y.wrote(words);
    const int whole = static_cast<int>(count / 32);
    const int part = static_cast<int>(count % 32);
    int len = words;
    if (len > whole) {
        if (part != 0) y.w[whole] &= (mr_digit{1} << part) - 1;
        len = whole + (part != 0 ? 1 : 0);
    }
    y.set(len);
}

// y = v*2^bits + ((x >> from) mod 2^bits), y apart from v and x.
void shift_in(const magnitude& v, long bits, const bignum* x, long from, magnitude& y) {
    field(x, from, bits, y);
    if (v.n == 0) return;
    const int words = static_cast<int>(bits / 32);
    for (int i = y.n; i <= words; ++i) y.w[i] = 0;
    const mr_digit under = y.w[words];  // the field's bits under v's lowest
    const mr_digit out = shl_vu(y.w + words, v.w, v.n, static_cast<unsigned>(bits % 32));
    y.w[words] |= under;
    y.w[words + v.n] = out;
    y.set(words + v.n + 1);
}

// x = x << bits, x > 0.
void shift_up(magnitude& x, long bits) {
    const int words = static_cast<int>(bits / 32);
    const mr_digit out = shl_vu(x.w + words, x.w, x.n, static_cast<unsigned>(bits % 32));
    for (int i = 0; i < words; ++i) x.w[i] = 0;
    x.w[x.n + words] = out;
    x.set(x.n + words + 1);
}

// x = x + y where y lies below x's lowest set bit.
void or_low(magnitude& x, const magnitude& y) {
    const int common = std::min(x.n, y.n);
    for (int i = 0; i < common; ++i) x.w[i] |= y.w[i];
    for (int i = common; i < y.n; ++i) x.w[i] = y.w[i];
    if (y.n > x.n) x.set(y.n);
}

// y = x * m for a word m, y may be x.
void times_word(const magnitude& x, mr_digit m, magnitude& y) {
    const int n = x.n;
    y.w[n] = mul_vww(y.w, x.w, n, m, 0);
    y.set(n + 1);
}

void product(const magnitude& x, const magnitude& y, magnitude& r) {
    if (x.n == 0 || y.n == 0) {
        r.n = 0;
        return;
    }
    product_words(r.w, x.w, x.n, y.w, y.n);
    r.set(x.n + y.n);
}

void square(const magnitude& x, magnitude& r) {
    if (x.n == 0) {
        r.n = 0;
        return;
    }
    square_words(r.w, x.w, x.n);
    r.set(2 * x.n);
}

// x = x - y when y <= x; false, with x unchanged, when y > x.
bool take_away(magnitude& x, const magnitude& y) {
    if (below(x, y)) return false;
    if (y.n > 0) {
        const mr_digit borrow = sub_vv(x.w, x.w, y.w, y.n);
        if (x.n > y.n) sub_vw(x.w + y.n, x.w + y.n, x.n - y.n, borrow);
    }
    x.set(x.n);
    return true;
}

// q = a / t, a = a mod t, for t of two words or more.
void divide_in(magnitude& a, const magnitude& t, magnitude& q) {
    if (below(a, t)) {
        q.n = 0;
        return;
    }
    divide_words(a.w, a.n, t.w, t.n, q.w, a.w, true);  // a workspace number's room
    q.wrote(a.n - t.n + 2);
    q.set(a.n - t.n + 1);
    a.set(t.n);
}

// t = n * g^(n-1) for n = 2 or 3.
void divisor_of_step(const magnitude& g, int n, magnitude& t) {
    if (n == 3) {
        square(g, t);
        times_word(t, 3, t);
    } else {
        times_word(g, 2, t);
    }
}

// rem = (x >> base) - g^n; false when that is negative (rem then means
// nothing). top, t and a are scratch.
bool remainder_by_power(const bignum* x, long base, const magnitude& g, int n, magnitude& top, magnitude& t,
                        magnitude& a, magnitude& rem) {
    shift_down(x->w, length_of(x), base, top);
    square(g, t);
    magnitude* p = &t;
    if (n == 3) {
        product(t, g, a);
        p = &a;
    }
    if (below(top, *p)) return false;
    if (p->n > 0) {
        const mr_digit borrow = sub_vv(rem.w, top.w, p->w, p->n);
        sub_vw(rem.w + p->n, top.w + p->n, top.n - p->n, borrow);
    } else {
        for (int i = 0; i < top.n; ++i) rem.w[i] = top.w[i];
    }
    rem.set(top.n);
    return true;
}

// The top step of a square or cube root from the top bits of the division
// alone. With a = a'*2^s + a0 and t = t'*2^s + t0 (a0, t0 < 2^s), t' of
// d + 64 bits or up to 31 more, q' = floor(a'/t') and r' = a' - q'*t':
//     a - q'*t = r'*2^s + a0 - q'*t0  lies in  [(r' - q')*2^s, (r' + 1)*2^s),
// so when r' >= q' the quotient t^ is q' and rho is at least
// (r' - q')*2^s, below t. s is a whole number of words, so that a' and t'
// are the top words of a and t as they stand (the division normalises its
// own copies). Returns true, with t^ in q, when t^ < 2^d and the remainder
// of the new root is then surely positive (as in the test of root_levels'
// top step, with the root g*2^d + t^ below 2^(bits(g)+d)); otherwise false,
// for the exact step. `scratch` is used; a and t are kept.
bool top_step_by_truncation(const magnitude& a, const magnitude& g, int n, int d, const magnitude& t,
                            magnitude& q, magnitude& scratch) {
    const long s = (bits_of(t) - (d + 64)) / 32 * 32;
    if (s < 32) return false;  // nothing to leave out
    const int j = static_cast<int>(s / 32);
    const int an = a.n - j, tn = t.n - j;
    if (an < tn || (an == tn && cmp_vv(a.w + j, t.w + j, tn) < 0)) return false;  // t^ small: the exact step
    divide_words(a.w + j, an, t.w + j, tn, q.w, scratch.w, true);  // q', and r' in scratch
    q.wrote(an - tn + 2);
    q.set(an - tn + 1);
    scratch.wrote(tn);
    scratch.set(tn);
    if (error_pending() || bits_of(q) > d || !below(q, scratch)) return false;
    take_away(scratch, q);  // r' - q' > 0
    const long under = bits_of(scratch) + s - 1 + static_cast<long>(n - 1) * d;
    const long h_bits = 2L * bits_of(q) + (n == 3 ? bits_of(g) + static_cast<long>(d) + 2 : 0L);
    return under >= h_bits;
}

// The levels of a square or cube root above the lowest, whose root and
// remainder are in gb and remb: gb = the root of x. Returns true when the
// top level's remainder is known to be positive and so was not formed;
// otherwise remb = x - gb^n.
bool root_levels(const bignum* x, int n, int k, const int* levels, int count, bignum* gb, bignum* remb,
                 bignum* topb, bignum* tb, bignum* ab, bignum* bb) {
    magnitude g(gb), rem(remb), top(topb), t(tb), a(ab), b(bb);
    bool positive = false;
    int ki = levels[count - 1];
    for (int i = count - 2; i >= 0 && !error_pending(); --i) {
        const int d = levels[i] - ki;
        const long low = static_cast<long>(n - 1) * d;
        ki = levels[i];
        const long base = static_cast<long>(n) * (k - ki);
        // t^ = floor((R*2^d + (L >> (n-1)d)) / (n*r^(n-1))), rho in a.
        divisor_of_step(g, n, t);
        // The top step reads a's words from its cut up only: when the cut
        // lies above the word that holds L's field's top bits, a is R*2^d
        // there, and the field is not formed unless the exact step follows.
        const bool cut_above_field =
            i == 0 && rem.n > 0 && (bits_of(t) - (d + 64)) / 32 > static_cast<long>(d / 32);
        if (cut_above_field) {
            const int w0 = d / 32;
            a.w[w0 + rem.n] = shl_vu(a.w + w0, rem.w, rem.n, static_cast<unsigned>(d % 32));
            a.wrote(w0 + rem.n + 1);
            a.set(w0 + rem.n + 1);
            if (top_step_by_truncation(a, g, n, d, t, b, top)) {
                shift_up(g, d);
                or_low(g, b);
                positive = true;  // the root, and no remainder to form
                break;
            }
        }
        shift_in(rem, d, x, base + low, a);
        if (i == 0 && !cut_above_field && top_step_by_truncation(a, g, n, d, t, b, rem)) {
            shift_up(g, d);
            or_low(g, b);
            positive = true;
            break;
        }
        divide_in(a, t, b);
        if (error_pending()) break;
        shift_up(g, d);
        bool fits;
        if (bits_of(b) > d) {  // t^ reached 2^d: take 2^d - 1
            const int words = d / 32;
            for (int j = 0; j < words; ++j) b.w[j] = ~mr_digit{0};
            b.w[words] = (mr_digit{1} << (d % 32)) - 1;
            b.wrote(words + 1);
            b.set(words + 1);
            or_low(g, b);
            fits = remainder_by_power(x, base, g, n, top, t, a, rem);
        } else {
            // u = g*2^d and 3u have their low d bits clear, where t goes:
            // u + t and 3u + t are u and 3u with t's bits set.
            if (i == 0) {
                // R = rho*2^((n-1)d) + (L mod 2^((n-1)d)) - H is surely
                // positive when rho*2^((n-1)d) >= 2^(bits(rho) - 1 + (n-1)d)
                // is at least the bound of H: 2^(2 bits(t)) for n = 2,
                // 2^(2 bits(t) + bits(g) + 2) for n = 3 (3u + t < 4g; g = u
                // + t has the bits of u).
                const long rho_bits = bits_of(a);
                const long h_bits = 2L * bits_of(b) + (n == 3 ? bits_of(g) + 2L : 0L);
                if (rho_bits != 0 && rho_bits - 1 + low >= h_bits) {
                    or_low(g, b);
                    positive = true;  // the root, and no remainder to form
                    break;
                }
            }
            if (n == 3) times_word(g, 3, t);
            or_low(g, b);
            // R = rho*2^((n-1)d) + (L mod 2^((n-1)d)) - H
            shift_in(a, low, x, base, rem);
            if (n == 3) {  // H = t^2 * (3u + t)
                or_low(t, b);
                square(b, a);
                product(t, a, top);
                fits = take_away(rem, top);
            } else {  // H = t^2
                square(b, t);
                fits = take_away(rem, t);
            }
        }
        while (!fits && !error_pending()) {
            sub_vw(g.w, g.w, g.n, 1);
            g.set(g.n);
            fits = remainder_by_power(x, base, g, n, top, t, a, rem);
        }
    }
    g.finish(gb);
    rem.finish(remb);
    top.finish(topb);
    t.finish(tb);
    a.finish(ab);
    b.finish(bb);
    return positive;
}

}  // namespace

// w = the integer part of the n-th root of x (for odd n and negative x, the
// root of |x| with a minus sign). Returns true when w^n == x exactly.
bool nroot(bignum* x, int n, bignum* w) {
    if (error_pending()) return false;
    routine_trace trace(rn_nroot);
    TORVANE_EXPECTS(fits_room(x));
    if (is_zero(x) || n == 1) {
        copy_number(x, w);
        return true;
    }
    if (n < 1) report_error(mr_error_illegal_root);
    const int sx = sign_of(x);
    if (n % 2 == 0 && sx < 0) report_error(mr_error_even_root_of_negative);
    if (error_pending()) return false;

    const std::uint32_t xsign = x->len & mr_sign_bit;
    x->len &= ~mr_sign_bit;
    const int bits = logb2(x);
    if (n >= bits) {
        x->len |= xsign;
        set_from_int(sx, w);
        return bits == 1;
    }

    const workspace_claim g(ws::scratch2);    // the root of the level
    const workspace_claim rem(ws::scratch3);  // its remainder
    const workspace_claim top(ws::scratch4);  // x at the precision of the level
    const workspace_claim t(ws::scratch6);    // powers, the divisor, products
    const workspace_claim a(ws::scratch7);    // the numerator, then scratch
    const workspace_claim b(ws::scratch8);    // the new low bits t
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
        const int lowest = n == 3 ? cube_limb_bits : n == 2 ? limb_start_bits : start_bits;
        while (levels[count - 1] > lowest && count < 40) {
            // Square and cube roots leave top_guard bits at the top level
            // (see below), the levels under it guard bits.
            const int g = count == 1 && n <= 3 ? top_guard : guard;
            levels[count] = (levels[count - 1] + g + 1) / 2;
            ++count;
        }
        // The lowest level: a root from double precision, made exact.
        int ki = levels[count - 1];
        shift_down(x, static_cast<long>(n) * (k - ki), top);
        if (n <= 3) {
            if (ki > limb_start_bits)
                wide_cube_root_limbs(top, ki, g, rem);  // at most 564 bits: on limbs
            else
                small_root_limbs(top, n, ki, g, rem);  // at most 288 bits: on limbs
        } else {
            set_u64(static_cast<std::uint64_t>(std::exp2(log2_of(top) / n) + 0.5), g);
            remainder_by_power(top, g, n, t, rem);
            while (!error_pending() && sign_of(rem) < 0) {
                decr(g, 1, g);
                remainder_by_power(top, g, n, t, rem);
            }
            for (;;) {  // step up while (g+1)^n <= top
                decr(g, -1, a);
                power(a, n, t, t);
                if (error_pending() || compare_numbers(t, top) > 0) break;
                copy_number(a, g);
                subtract(top, t, rem);
            }
        }

        bool positive = false;  // the top level's remainder is known to be positive
        if (n <= 3) positive = root_levels(x, n, k, levels, count, g, rem, top, t, a, b);
        for (int i = count - 2; i >= 0 && n > 3 && !error_pending(); --i) {
            const int d = levels[i] - ki;
            ki = levels[i];
            // L is the n*d bits of x from `base` on; x at this level's
            // precision, x >> base, is formed only for a remainder by a power.
            const long base = static_cast<long>(n) * (k - ki);
            // t^ = floor((R*2^d + (L >> (n-1)d)) / (n*r^(n-1))), rho in a.
            divisor_of_step(g, n, t);
            shift_in(rem, d, x, base + static_cast<long>(n - 1) * d, a);
            divide(a, t, b);
            shift_up(g, d);
            if (logb2(b) > d) {  // t^ reached 2^d: take 2^d - 1
                expb2(d, b);
                decr(b, 1, b);
            }
            add(g, b, g);
            shift_down(x, base, top);
            remainder_by_power(top, g, n, t, rem);
            while (!error_pending() && sign_of(rem) < 0) {
                decr(g, 1, g);
                remainder_by_power(top, g, n, t, rem);
            }
        }
        exact = !positive && is_zero(rem);
    }
    x->len |= xsign;
    if (error_pending()) return false;
    copy_number(g, w);
    set_sign(sx, w);
    return exact;
}
