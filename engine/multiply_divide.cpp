// Full-length products and quotients: multiply (the methods of products.cpp,
// with a squaring method for one operand of six words or more), truncating
// long division, the combined (x*y + z) / w of mad, and divisor
// normalisation.
//
// All four work in the working radix 2^32 only: one digit word is a full
// 32-bit value and every word product is a 64-bit intermediate split into a
// low word and a carry word. Products and quotients are built in the
// double-length accumulator and copied out at the end, so a result may be
// the same number as an operand.
#include <algorithm>
#include <bit>

#include "internal.h"
#include "multiply_divide.h"
#include "primitives.h"
#include "workspace.h"
#include "kernels.h"
#include "products.h"
#include "thresholds.h"

namespace {

using u64 = std::uint64_t;
__extension__ typedef unsigned __int128 u128;  // GCC and Clang on x86-64

constexpr mr_digit all_ones = 0xFFFFFFFFu;

// z = one word q with the given sign bit (zero when q is 0).
void set_word(bignum* z, mr_digit q, std::uint32_t sign) {
    zero_number(z);
    if (q == 0) return;
    z->w[0] = q;
    z->len = 1u | sign;
}

// Gives a finished number the sign bit `sign` unless it is zero.
inline void give_sign(bignum* x, std::uint32_t sign) {
    if (!is_zero(x)) x->len |= sign;
}


// ---- Long division -----------------------------------------------------------
//
// The schoolbook loop works on 64-bit limbs: both operands are copied into
// the division scratch area, shifted so that the divisor's top limb has its
// top bit set (a normalised divisor), with one zero word put below both when
// the divisor has an odd number of words, so that it fills whole limbs.
// Scaling both operands by the same power of two leaves the quotient as it
// is and scales the remainder, which is shifted back at the end.
//
// One quotient limb per step, most significant first. Write B = 2^64, let
// V = (v[N-1] ... v[0]) be the normalised divisor (v[N-1] >= B/2) and
// U = (u[j+N] ... u[j]) the top of the running remainder, with U < B*V, so
// that the true quotient limb q = floor(U / V) is below B.
//
// Estimate. q^ = floor((u[j+N]*B + u[j+N-1]) / v[N-1]), capped at B-1 (the
// cap applies exactly when u[j+N] = v[N-1]), with r^ the remainder of that
// two-limb division. q^ >= q: from q*V <= U,
//     q * v[N-1] * B^(N-1) <= U < (u[j+N]*B + u[j+N-1] + 1) * B^(N-1),
// so q*v[N-1] <= u[j+N]*B + u[j+N-1], and q <= B-1 anyway.
//
// Correction with the second limb. Let T = (u[j+N] u[j+N-1] u[j+N-2]) be
// the top three limbs and W = v[N-1]*B + v[N-2] the top two of V. The test
//     q^ * v[N-2] > r^*B + u[j+N-2]       (equivalently q^*W > T)
// proves q^ too large: q^*V >= q^*W*B^(N-2) >= (T+1)*B^(N-2) > U. So each
// decrement it orders keeps q^ >= q (r^ grows by v[N-1] with it; once r^
// reaches B the test cannot hold and stops). When the test fails,
// q^*W <= T, and since V < (W+1)*B^(N-2) and U >= T*B^(N-2),
//     U - q^*V > T*B^(N-2) - q^*(W+1)*B^(N-2) >= -q^*B^(N-2) > -B^(N-1).
// Were q^ >= q+2, then U < (q+1)*V <= (q^-1)*V, so U - q^*V < -V <= -B^N/2,
// which contradicts the bound above. So q^ is q or q+1.
//
// Subtract q^*V from U. If that went below zero, q^ was q+1, and adding V
// back once gives the remainder. Either way the new U is below V, so its
// top limb is 0 and U < B*V holds for the next step.
//
// The two-limb division divides by v[N-1] with a reciprocal computed once
// (the method of Moller and Granlund) instead of a hardware division.

// floor((B^2-1)/d) - B for a normalised d: B^2-1 - B*d = (B-1-d)*B + B-1,
// whose quotient by d is below B since B-1-d < d, so one hardware division
// of two limbs by one gives it (the 128-bit division of the compiler's
// library takes several times as long).
inline u64 limb_reciprocal(u64 d) {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    u64 q;
    u64 r;
    __asm__("divq %[d]" : "=a"(q), "=d"(r) : [d] "r"(d), "a"(~u64{0}), "d"(~d) : "cc");
    return q;
#else
    return static_cast<u64>(~u128{0} / d);  // the B*1 part wraps away
#endif
}

// Division of two limbs by one normalised limb d (top bit set), for
// dividends whose high limb is below d. reciprocal = floor((B^2-1)/d) - B.
// The candidate q1 = high limb of reciprocal*u1 + (u1+1)*B + u0 is the
// quotient, one more or one less (Moller and Granlund, "Improved division
// by invariant integers", 2011, Theorem 2), and the two tests fix it.
struct limb_divisor {
    u64 d;
    u64 reciprocal;
    explicit limb_divisor(u64 divisor) : d(divisor), reciprocal(limb_reciprocal(divisor)) {}
    u64 divide(u64 u1, u64 u0, u64& r) const {
        const u128 p = static_cast<u128>(reciprocal) * u1 + ((static_cast<u128>(u1 + 1) << 64) | u0);
        u64 q1 = static_cast<u64>(p >> 64);
        const u64 q0 = static_cast<u64>(p);
        u64 rem = u0 - q1 * d;
        if (rem > q0) {
            --q1;
            rem += d;
        }
        if (rem >= d) {
            ++q1;
            rem -= d;
        }
        r = rem;
        return q1;
    }
};

// Division of three limbs by a normalised two-limb divisor d = d1*B + d0
// (d1's top bit set) with a reciprocal of the two limbs (Moller and
// Granlund, Algorithms 5 and 6): the quotient limb and the two-limb
// remainder at once, with no correction loop. reciprocal = floor((B^3-1)/d)
// - B, found from d1's two-limb reciprocal by stepping it down at most twice
// for d0's part and twice for the product's carry.
struct two_limb_divisor {
    u64 d1;
    u64 d0;
    u64 reciprocal;
    two_limb_divisor(u64 high, u64 low) : d1(high), d0(low), reciprocal(limb_reciprocal(high)) {
        u64 v = reciprocal;
        u64 p = d1 * v + d0;
        if (p < d0) {
            --v;
            if (p >= d1) {
                --v;
                p -= d1;
            }
            p -= d1;
        }
        const u128 t = static_cast<u128>(v) * d0;
        const u64 t1 = static_cast<u64>(t >> 64);
        const u64 t0 = static_cast<u64>(t);
        p += t1;
        if (p < t1) {
            --v;
            if (p > d1 || (p == d1 && t0 >= d0)) --v;
        }
        reciprocal = v;
    }
    // floor((u2 u1 u0) / d) for (u2 u1) < (d1 d0); (r1 r0) the remainder.
    u64 divide(u64 u2, u64 u1, u64 u0, u64& r1, u64& r0) const {
        const u128 q = static_cast<u128>(reciprocal) * u2 + ((static_cast<u128>(u2) << 64) | u1);
        u64 q1 = static_cast<u64>(q >> 64);
        const u64 q0 = static_cast<u64>(q);
        const u64 high = u1 - q1 * d1;
        u128 r = ((static_cast<u128>(high) << 64) | u0) - ((static_cast<u128>(d1) << 64) | d0);
        r -= static_cast<u128>(d0) * q1;
        ++q1;
        const u128 d = (static_cast<u128>(d1) << 64) | d0;
        if (static_cast<u64>(r >> 64) >= q0) {
            --q1;
            r += d;
        }
        if (r >= d) {
            ++q1;
            r -= d;
        }
        r1 = static_cast<u64>(r >> 64);
        r0 = static_cast<u64>(r);
        return q1;
    }
};

// z -= x * q over n words (n even) for a one-limb q; returns the borrow
// limb out of the top. One carry chain instead of a carry and a borrow:
// each limb's product takes the carry into its low half, and the borrow of
// the subtraction joins the high half. x*q + carry <= (2^64-1)*2^64, so
// that high half is at most 2^64-1, and only with a low half of 0, which
// subtracts without a borrow: the carry always fits one limb.
u64 submul_row(mr_digit* z, const mr_digit* x, int n, u64 q) {
    u64 carry = 0;
    for (int i = 0; i + 1 < n; i += 2) {
        const u128 p = static_cast<u128>(load_limb(x + i)) * q;
        const u64 low = static_cast<u64>(p) + carry;
        carry = static_cast<u64>(p >> 64) + (low < carry);
        const u64 zl = load_limb(z + i);
        const u64 d = zl - low;
        carry += d > zl;
        store_limb(z + i, d);
    }
    return carry;
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TORVANE_HAVE_ADX_ROW 1
// The same row with BMI2 and ADX, for limbs >= 1: mulx forms the limb
// products, the product row runs on the carry flag's chain (adcx) and z +
// ~row + 1 = z - row + B^limbs on the overflow flag's chain (adox), which
// starts at 1; so the two chains run side by side, one cycle a limb each,
// where the one chain above costs three. The row's top limb plus 1 less
// the overflow flag out is the borrow. Two limbs a turn, an odd count
// entering at the second; the index climbs to zero through lea and jrcxz,
// which leave the flags alone.
u64 submul_row_adx(mr_digit* z, const mr_digit* x, std::int64_t limbs, u64 q) {
    const std::int64_t odd = limbs & 1;
    const char* xe = reinterpret_cast<const char*>(x) + 8 * limbs;
    char* ze = reinterpret_cast<char*>(z) + 8 * limbs;
    std::int64_t i = -(limbs + odd);
    u64 top = 0;
    u64 no_borrow = 0;
    __asm__ volatile(
        "xor %%r10d, %%r10d\n\t"
        "xor %%r11d, %%r11d\n\t"
        "test %[odd], %[odd]\n\t"
        "mov $0x7fffffffffffffff, %%r8\n\t"
        "jnz 11f\n\t"
        "add $1, %%r8\n\t"  // OF = 1, CF = 0
        "jmp 1f\n\t"
        "11:\n\t"
        "add $1, %%r8\n\t"
        "jmp 5f\n\t"
        "1:\n\t"
        "mulx (%[x],%[i],8), %%r9, %%r11\n\t"
        "adcx %%r10, %%r9\n\t"
        "not %%r9\n\t"
        "adox (%[z],%[i],8), %%r9\n\t"
        "mov %%r9, (%[z],%[i],8)\n\t"
        "5:\n\t"
        "mulx 8(%[x],%[i],8), %%r9, %%r10\n\t"
        "adcx %%r11, %%r9\n\t"
        "not %%r9\n\t"
        "adox 8(%[z],%[i],8), %%r9\n\t"
        "mov %%r9, 8(%[z],%[i],8)\n\t"
        "lea 2(%[i]), %[i]\n\t"
        "jrcxz 2f\n\t"
        "jmp 1b\n\t"
        "2:\n\t"
        "mov $0, %%r8d\n\t"
        "adcx %%r8, %%r10\n\t"
        "seto %b[nb]\n\t"
        "mov %%r10, %[top]\n\t"
        : [top] "+&r"(top), [i] "+&c"(i), [nb] "+&r"(no_borrow)
        : [x] "r"(xe), [z] "r"(ze), [odd] "r"(odd), "d"(q)
        : "r8", "r9", "r10", "r11", "cc", "memory");
    return top + 1 - no_borrow;
}

// The step's block below takes fourteen registers besides the stack
// pointer. An unoptimised build (which keeps the frame pointer and holds
// references in registers of their own) cannot give it that many, so
// there the steps take the row routine above.
#if defined(__OPTIMIZE__) && !defined(__SANITIZE_ADDRESS__)
#define TORVANE_HAVE_ADX_STEP 1

// The row of one schoolbook step, z -= q*x over the limbs of one part,
// entered with rdx = q, rcx = minus the part's limbs rounded up to even,
// x and z at the part's end; `odd_test` leaves the zero flag clear when
// the part's limbs are odd. Leaves the borrow limb in r10 (rax, r8, r9,
// r11 are scratch). `L` is the label prefix (a digit) that keeps the two
// parts' labels apart.
#define TORVANE_DIVIDE_PART(L, odd_test)         \
    "xor %%r10d, %%r10d\n\t"                     \
    "xor %%r11d, %%r11d\n\t"                     \
    odd_test                                     \
    "mov $0x7fffffffffffffff, %%r8\n\t"          \
    "jne " L "1f\n\t"                            \
    "add $1, %%r8\n\t" /* OF = 1, CF = 0 */      \
    "jmp " L "2f\n\t"                            \
    L "1:\n\t"                                   \
    "add $1, %%r8\n\t"                           \
    "jmp " L "3f\n\t"                            \
    L "2:\n\t"                                   \
    "mulx (%[x],%%rcx,8), %%r9, %%r11\n\t"       \
    "adcx %%r10, %%r9\n\t"                       \
    "not %%r9\n\t"                               \
    "adox (%[z],%%rcx,8), %%r9\n\t"              \
    "mov %%r9, (%[z],%%rcx,8)\n\t"               \
    L "3:\n\t"                                   \
    "mulx 8(%[x],%%rcx,8), %%r9, %%r10\n\t"      \
    "adcx %%r11, %%r9\n\t"                       \
    "not %%r9\n\t"                               \
    "adox 8(%[z],%%rcx,8), %%r9\n\t"             \
    "mov %%r9, 8(%[z],%%rcx,8)\n\t"              \
    "lea 2(%%rcx), %%rcx\n\t"                    \
    "jrcxz " L "4f\n\t"                          \
    "jmp " L "2b\n\t"                            \
    L "4:\n\t"                                   \
    "mov $0, %%eax\n\t"                          \
    "adcx %%rax, %%r10\n\t"                      \
    "seto %%al\n\t"                              \
    "add $1, %%r10\n\t"                          \
    "sub %%rax, %%r10\n\t"

// Where a step's row splits (split_row_min limbs and up): the high part,
// an even count of at least 2, and the low part below it.
constexpr int split_row_min = 6;
inline int high_part_limbs(int limbs) { return 2 * std::max(1, (limbs - 4) / 4); }

// One step of the schoolbook loop below on BMI2/ADX, for rows of limbs >=
// split_row_min (divisors of limbs + 2 limbs): the three-by-two division of
// two_limb_divisor::divide, then the row over the window uj's low limbs and
// the borrow taken from the remainder's top two, in one block.
//
// The row runs as two parts, the high one first, each on carry chains of
// its own (a part starts with flags of its own, so the processor runs the
// two side by side); the low part's borrow limb is then taken from the
// high part's first two limbs. It goes further only when both were 0 (the
// high part's top limbs then all zero, which is rare), out of line. So the
// next step's estimate, which needs the window's new top limbs and the
// borrow, waits for the high part alone, and the longer low part overlaps
// the next step. The estimate's first correction (about q0 against the
// remainder's high limb) and its rare second one are branches, off the
// chain. In: n1 n0 the window's top two limbs, its third at limb `limbs`
// of uj. Out: the quotient limb, n1 n0 the new top two (`negative` when
// they went below zero: the caller adds v back).
struct divide_step_layout {
    std::int64_t high_bytes;    // 8 * the high part's limbs
    std::int64_t row_bytes;     // 8 * limbs
    std::int64_t high_index;    // minus the high part's limbs
    std::int64_t low_index;     // minus the low part's limbs rounded up to even
    std::int64_t low_odd;       // the low part's limbs are odd
    std::int64_t tail_index;    // minus the high part's limbs above its first two
    explicit divide_step_layout(int limbs) {
        const int high = high_part_limbs(limbs);
        const int low = limbs - high;
        high_bytes = 8 * high;
        row_bytes = 8 * static_cast<std::int64_t>(limbs);
        high_index = -high;
        low_odd = low & 1;
        low_index = -(low + low_odd);
        tail_index = -(high - 2);
    }
};

[[gnu::always_inline]] inline u64 divide_step_adx(mr_digit* uj, const mr_digit* v, const divide_step_layout& layout,
                                                  u64 d1, u64 d0, const u64& reciprocal, u64& n1, u64& n0,
                                                  bool& negative) {
    const char* xp = reinterpret_cast<const char*>(v);
    char* zp = reinterpret_cast<char*>(uj);
    u64 s = n1;  // then the remainder's low limb
    u64 t = n0;  // then its high limb
    u64 q;
    std::uint8_t below = 0;
    __asm__ volatile(
        // q1 q0 = reciprocal * n1 + (n1 n0)
        "mov %[s], %%rdx\n\t"
        "mulx %[rcp], %%rax, %[q]\n\t"
        "add %[t], %%rax\n\t"
        "adc %[s], %[q]\n\t"
        // x and z to the row's end; the third limb u0 is at z
        "add %[rb], %[x]\n\t"
        "add %[rb], %[z]\n\t"
        // (t s) = (n0 - q1*d1, u0) - d - d0*q1
        "mov %[q], %[s]\n\t"
        "imul %[d1], %[s]\n\t"
        "sub %[s], %[t]\n\t"
        "mov (%[z]), %[s]\n\t"
        "mov %[q], %%rdx\n\t"
        "mulx %[d0], %%r8, %%r9\n\t"
        "sub %[d0], %[s]\n\t"
        "sbb %[d1], %[t]\n\t"
        "sub %%r8, %[s]\n\t"
        "sbb %%r9, %[t]\n\t"
        // below q0: q = q1 + 1; else q = q1 and d added back (out of line)
        "cmp %%rax, %[t]\n\t"
        "jae 6f\n\t"
        "add $1, %[q]\n\t"
        "3:\n\t"
        // at least d: one more (rare)
        "cmp %[d0], %[s]\n\t"
        "mov %[t], %%r8\n\t"
        "sbb %[d1], %%r8\n\t"
        "jae 8f\n\t"
        "7:\n\t"
        "mov %[q], %%rdx\n\t"
        // the high part; its borrow from (t s)
        "mov %[hi], %%rcx\n\t"
        TORVANE_DIVIDE_PART("5", "cmp %%rcx, %%rcx\n\t")  // even
        "sub %%r10, %[s]\n\t"
        "sbb $0, %[t]\n\t"
        "setc %[below]\n\t"
        // the low part, ending where the high one starts
        "sub %[hb], %[x]\n\t"
        "sub %[hb], %[z]\n\t"
        "mov %[li], %%rcx\n\t"
        TORVANE_DIVIDE_PART("9", "cmpq $0, %[lo]\n\t")
        "sub %%r10, (%[z])\n\t"
        "sbbq $0, 8(%[z])\n\t"
        "jc 4f\n\t"
        "jmp 2f\n\t"
        // rare: the borrow on through the high part, and out of its top
        "4:\n\t"
        "mov %[z], %%rax\n\t"
        "add %[hb], %%rax\n\t"
        "mov %[ti], %%rcx\n\t"
        "jrcxz 1f\n\t"
        "0:\n\t"
        "subq $1, (%%rax,%%rcx,8)\n\t"
        "jnc 2f\n\t"
        "lea 1(%%rcx), %%rcx\n\t"
        "jrcxz 1f\n\t"
        "jmp 0b\n\t"
        "1:\n\t"
        "sub $1, %[s]\n\t"
        "sbb $0, %[t]\n\t"
        "jnc 2f\n\t"
        "movb $1, %[below]\n\t"
        "jmp 2f\n\t"
        "6:\n\t"
        "add %[d0], %[s]\n\t"
        "adc %[d1], %[t]\n\t"
        "jmp 3b\n\t"
        "8:\n\t"
        "sub %[d0], %[s]\n\t"
        "sbb %[d1], %[t]\n\t"
        "add $1, %[q]\n\t"
        "jmp 7b\n\t"
        "2:\n\t"
        : [s] "+&r"(s), [t] "+&r"(t), [q] "=&r"(q), [x] "+&r"(xp), [z] "+&r"(zp), [below] "+m"(below)
        : [d1] "r"(d1), [d0] "r"(d0), [rcp] "m"(reciprocal), [rb] "m"(layout.row_bytes),
          [hb] "m"(layout.high_bytes), [hi] "m"(layout.high_index), [li] "m"(layout.low_index),
          [lo] "m"(layout.low_odd), [ti] "m"(layout.tail_index)
        : "rax", "rcx", "rdx", "r8", "r9", "r10", "r11", "cc", "memory");
    n1 = t;
    n0 = s;
    negative = below != 0;
    return q;
}
#undef TORVANE_DIVIDE_PART
#endif
#endif

// The schoolbook loop above, on u (m limbs, 2m words) by the normalised v
// (nl >= 1 limbs), with the top nl limbs of u below v. Leaves the m - nl
// quotient limbs in q and the remainder in u's low nl limbs (the words
// above them 0).
//
// From two divisor limbs each step divides the window's top three limbs by
// the divisor's top two, which gives the quotient limb (one too large at
// most, and that rarely) and the window's new top two limbs at once; only
// the limbs below them take the row q*v. The top two stay in registers from
// step to step, so the next estimate does not wait for the row to be
// stored. A window whose top two limbs equal the divisor's takes q = B-1
// and the whole row, as the one-limb loop does.
template <bool adx_step, typename Row>
[[gnu::always_inline]] inline void schoolbook_divide_rows(mr_digit* u, int m, const mr_digit* v, int nl, mr_digit* q,
                                                          Row submul) {
    const u64 vtop = load_limb(v + 2 * (nl - 1));
    if (nl == 1) {
        const limb_divisor top(vtop);
        for (int j = m - 2; j >= 0; --j) {
            mr_digit* uj = u + 2 * j;
            u64 r;
            store_limb(q + 2 * j, top.divide(load_limb(uj + 2), load_limb(uj), r));
            store_limb(uj, r);
            store_limb(uj + 2, 0);
        }
        return;
    }
    const two_limb_divisor top(vtop, load_limb(v + 2 * (nl - 2)));
#ifdef TORVANE_HAVE_ADX_STEP
    const divide_step_layout layout(std::max(nl - 2, split_row_min));
#endif
    u64 n1 = load_limb(u + 2 * (m - 1));  // the window's top two limbs
    u64 n0 = load_limb(u + 2 * (m - 2));
    for (int j = m - nl - 1; j >= 0; --j) {
        mr_digit* uj = u + 2 * j;
        const u64 u0 = load_limb(uj + 2 * (nl - 2));
        u64 qhat;
        if (n1 == top.d1 && n0 == top.d0) [[unlikely]] {
            // The estimate is capped at B-1; the row over all nl limbs
            // (with n1 n0 stored back) gives the new top, adding v back once
            // when it went below zero.
            qhat = ~u64{0};
            store_limb(uj + 2 * (nl - 1), n0);
            const u64 borrow = submul(uj, v, nl, qhat);
            if (borrow > n1) {
                add_vv(uj, uj, v, 2 * nl);  // the carry out cancels the borrow
                --qhat;
            }
            n1 = load_limb(uj + 2 * (nl - 1));
            n0 = load_limb(uj + 2 * (nl - 2));
        } else {
            u64 r1;
            u64 r0;
            u64 b1;
#ifdef TORVANE_HAVE_ADX_STEP
            if (adx_step && nl - 2 >= split_row_min) {
                bool negative;
                qhat = divide_step_adx(uj, v, layout, top.d1, top.d0, top.reciprocal, n1, n0, negative);
                r1 = n1;
                r0 = n0;
                b1 = negative ? 1 : 0;
            } else
#endif
            {
                qhat = top.divide(n1, n0, u0, r1, r0);
                const u64 borrow = submul(uj, v, nl - 2, qhat);
                const u64 b0 = r0 < borrow;
                r0 -= borrow;
                b1 = r1 < b0;
                r1 -= b0;
            }
            if (b1 != 0) [[unlikely]] {  // qhat was one too large: add v back
                const u64 carry = add_vv(uj, uj, v, 2 * (nl - 2));
                const u128 sum = ((static_cast<u128>(r1) << 64) | r0) + ((static_cast<u128>(top.d1) << 64) | top.d0) + carry;
                r1 = static_cast<u64>(sum >> 64);
                r0 = static_cast<u64>(sum);
                --qhat;
            }
            n1 = r1;
            n0 = r0;
        }
        store_limb(q + 2 * j, qhat);
    }
    // The remainder's top two limbs, and nothing above them.
    store_limb(u + 2 * (nl - 1), n1);
    store_limb(u + 2 * (nl - 2), n0);
    for (int k = nl; k < m; ++k) store_limb(u + 2 * k, 0);
}

void schoolbook_divide(mr_digit* u, int m, const mr_digit* v, int nl, mr_digit* q) {
#ifdef TORVANE_HAVE_ADX_ROW
    if (current_kernel_path() == kernel_path::bmi2_adx) {
        schoolbook_divide_rows<true>(u, m, v, nl, q, [](mr_digit* z, const mr_digit* x, int limbs, u64 factor) -> u64 {
            return limbs == 0 ? 0 : submul_row_adx(z, x, limbs, factor);
        });
        return;
    }
#endif
    schoolbook_divide_rows<false>(u, m, v, nl, q, [](mr_digit* z, const mr_digit* x, int limbs, u64 factor) -> u64 {
        return submul_row(z, x, 2 * limbs, factor);
    });
}

// ---- Recursive division --------------------------------------------------------
//
// Above divide_recursive_words divisor words the quotient is found in
// blocks of k = n/2 limbs (n the divisor's limbs), most significant first,
// in the manner of Burnikel and Ziegler: each block is the quotient of an
// (n+k)-limb window W of the running remainder by V, with W < V*B^k (true of
// the first window, and of each next one, whose top n limbs are the last
// remainder).
//
// Estimate. Cut both at s = n-k limbs: V = V_h*B^s + V_l with V_h of k
// limbs (normalised, as V is) and W_h = floor(W / B^s) of 2k limbs. W < V*B^k
// makes the top k limbs of W_h at most V_h. When they are below it, the
// recursion divides W_h by V_h: Q^ = floor(W_h / V_h) and R_h = the
// remainder. When they equal it, Q^ = B^k - 1 and R_h = W_h - Q^*V_h, which
// is the low k limbs of W_h plus V_h. Either way Q^ >= Q, the true block,
// and Q^ <= Q + 2: with V < (V_h+1)*B^s and Q > W/V - 1,
//     Q^ - Q < W/B^s * (1/V_h - 1/(V_h+1)) + 1 < B^k/V_h + 1 <= 3,
// since W < V*B^k < (V_h+1)*B^(s+k) and V_h >= B^k/2.
//
// Correct. W - Q^*V = R_h*B^s + (W mod B^s) - Q^*V_l: the recursion has
// left the first two terms in W, so one product Q^*V_l (k by n-k limbs, one
// call of multiply) is subtracted. While the result is negative, V is added
// back and Q^ lowered by one, at most twice. So the division costs about
// two products of its size, and runs at the speed of multiply.

// A stack of limbs in the division scratch area; take() gives nullptr when
// the area is used up. In debug builds every piece taken lies within the
// stack's words by the division's layout (divide_layout::stack_words). It
// also carries the instance, for the cancel test between blocks.
class divide_space {
public:
    divide_space(mr_state* s, mr_digit* start, mr_digit* end, [[maybe_unused]] std::size_t layout_words)
        : instance_(s), next_(start), end_(end) {
#ifndef NDEBUG
        layout_end_ = start + layout_words;
#endif
    }
    mr_digit* take(int limbs) {
        TORVANE_EXPECTS(layout_end_ - next_ >= 2 * limbs);
        if (end_ - next_ < 2 * limbs) return nullptr;
        mr_digit* p = next_;
        next_ += 2 * limbs;
        return p;
    }
    mr_digit* mark() const { return next_; }
    void release(mr_digit* mark) { next_ = mark; }
    mr_state* instance() const { return instance_; }

private:
    mr_state* instance_;
    mr_digit* next_;
    mr_digit* end_;
#ifndef NDEBUG
    mr_digit* layout_end_;
#endif
};

// The number of words of w[0 .. words-1] below its leading zero words.
int significant_words(const mr_digit* w, int words) {
    while (words > 0 && w[words - 1] == 0) --words;
    return words;
}

void recursive_divide(mr_digit* u, int m, const mr_digit* v, int nl, mr_digit* q, divide_space& space);

// product_words on instance s, the calling thread's.
void product_words_on(mr_state* s, mr_digit* r, const mr_digit* x, int m, const mr_digit* y, int n) {
    const bool x_longer = m >= n;
    const mr_digit* a = x_longer ? x : y;
    const mr_digit* b = x_longer ? y : x;
    const int la = x_longer ? m : n, lb = x_longer ? n : m;
    if (lb < product_karatsuba_threshold) {  // the rows, as product_vv takes them, without the area
        schoolbook_product(r, a, la, b, lb);
        return;
    }
    const scratch_claim area(s, area_product);
    if (product_scratch_words(la, lb) <= area.size())
        product_vv(r, a, la, b, lb, area.words());
    else
        schoolbook_product(r, a, la, b, lb);
}

// One block: w (nl + k limbs, top nl limbs below v) / v, the k quotient
// limbs into q and the remainder into w's low nl limbs (the limbs above 0).
// False, with nothing changed, when the scratch area is used up.
bool divide_block(mr_digit* w, const mr_digit* v, int nl, int k, mr_digit* q, divide_space& space) {
    mr_digit* const product = space.take(nl + 1);
    if (product == nullptr) return false;
    const int s = nl - k;
    mr_digit* wh = w + 2 * s;
    const mr_digit* vh = v + 2 * s;
    if (cmp_vv(wh + 2 * k, vh, 2 * k) < 0) {
        recursive_divide(wh, 2 * k, vh, k, q, space);
    } else {  // top equal to V_h: Q^ = B^k - 1, R_h = low half of W_h + V_h
        for (int i = 0; i < 2 * k; ++i) {
            q[i] = all_ones;
            wh[2 * k + i] = 0;
        }
        const mr_digit carry = add_vv(wh, wh, vh, 2 * k);
        wh[2 * k] = carry;  // W now fits nl + 1 limbs
    }
    // W -= Q^ * V_l, over nl + 1 limbs; a borrow out of them means negative.
    const int qn = significant_words(q, 2 * k);
    const int vn = significant_words(v, 2 * s);
    int pn = 0;
    if (qn > 0 && vn > 0) {
        product_words_on(space.instance(), product, q, qn, v, vn);
        pn = significant_words(product, qn + vn);
    }
    const int wn = 2 * (nl + 1);
    mr_digit borrow = sub_vv(w, w, product, pn);
    borrow = sub_vw(w + pn, w + pn, wn - pn, borrow);
    while (borrow != 0) {
        const mr_digit carry = add_vv(w, w, v, 2 * nl);
        if (add_vw(w + 2 * nl, w + 2 * nl, 2, carry) != 0) borrow = 0;  // back above zero
        sub_vw(q, q, 2 * k, 1);
    }
    space.release(product);
    return true;
}

// u (m limbs) / v (nl limbs, normalised), with the top nl limbs of u below
// v: the m - nl quotient limbs into q, the remainder into u's low nl limbs
// (the limbs above them 0). Recursive by blocks above the threshold, the
// schoolbook loop below it or when the scratch area runs out.
void recursive_divide(mr_digit* u, int m, const mr_digit* v, int nl, mr_digit* q, divide_space& space) {
    if (2 * nl < divide_recursive_words) {
        schoolbook_divide(u, m, v, nl, q);
        return;
    }
    const int k = nl / 2;
    int left = m - nl;  // quotient limbs still to find
    while (left > 0) {
        // A cancel request is taken between blocks; what is left in u and q
        // then means nothing, and the callers unwind on the pending error.
        if (cancel_point(space.instance())) return;
        const int kb = std::min(k, left);
        const int j = left - kb;
        if (!divide_block(u + 2 * j, v, nl, kb, q + 2 * j, space)) {
            schoolbook_divide(u, left + nl, v, nl, q);
            return;
        }
        left = j;
    }
}

}  // namespace

void product_words(mr_digit* r, const mr_digit* x, int m, const mr_digit* y, int n) {
    product_words_on(engine_instance, r, x, m, y, n);
}

void square_words(mr_digit* r, const mr_digit* x, int m) {
    if (m < square_karatsuba_threshold) {  // the rows, as square_vv takes them, without the area
        schoolbook_square(r, x, m);
        return;
    }
    const scratch_claim area(area_product);
    if (square_scratch_words(m) <= area.size())
        square_vv(r, x, m, area.words());
    else
        schoolbook_square(r, x, m);
}

void divide_words(const mr_digit* a, int t, const mr_digit* y, int n, mr_digit* q, mr_digit* r, bool q_spare) {
    const divide_layout layout = divide_layout_for(t, n);
    const int pad = layout.pad;  // a zero word below both when n is odd
    const int nl = layout.nl;    // divisor limbs
    const int m = layout.m;      // dividend limbs, with room for the shifted-out bits
    const int shift = std::countl_zero(y[n - 1]);
    mr_state* s = engine_instance;
    const scratch_claim area(s, area_divide);
    TORVANE_EXPECTS(layout.words() <= area.size());
    mr_digit* v = area.words();
    mr_digit* u = v + layout.dividend();
    // The quotient's limbs fill t - n + 1 or t - n + 2 words, the top one 0.
    mr_digit* quotient = q != nullptr && q_spare ? q : v + layout.quotient();

    v[0] = 0;
    shl_apart_vu(v + pad, y, n, static_cast<unsigned>(shift));
    u[0] = 0;
    u[2 * m - 1] = 0;
    u[t + pad] = shl_apart_vu(u + pad, a, t, static_cast<unsigned>(shift));

    divide_space space(s, v + layout.stack(), area.words() + area.size(), layout.stack_words());
    length_check_scope unchecked(s, 0);  // the block products may pass max_length words
    recursive_divide(u, m, v, nl, quotient, space);

    if (q != nullptr && quotient != q)
        for (int i = 0; i < t - n + 1; ++i) q[i] = quotient[i];  // the quotient's words above these are 0
    if (r != nullptr) shr_vu(r, u + pad, n, static_cast<unsigned>(shift));
}

namespace {

// Quotient and remainder of the magnitudes a / y, for y of two words or
// more and a >= y: q = the quotient (when q is given), r = the remainder
// (when r is given). q and r get no sign; either may be a (a is read
// whole before either is written), y is not changed. Only the words above
// what the division writes are cleared, up to each number's old length.
void long_divide(const bignum* a, const bignum* y, bignum* q, bignum* r) {
    const int t = length_of(a);
    const int n = length_of(y);
    const int old_q = q != nullptr ? stored_length(q) : 0;
    const int old_r = r != nullptr ? stored_length(r) : 0;
    // q's room (2 max_length + 3 words) holds t >= t - n + 2 words.
    divide_words(a->w, t, y->w, n, q != nullptr ? q->w : nullptr, r != nullptr ? r->w : nullptr, true);
    if (q != nullptr) {
        const int qn = t - n + 1;
        for (int i = qn; i < old_q; ++i) q->w[i] = 0;
        q->len = static_cast<std::uint32_t>(qn);
        strip_leading_zeros(q);
    }
    if (r != nullptr) {
        for (int i = n; i < old_r; ++i) r->w[i] = 0;
        r->len = static_cast<std::uint32_t>(n);
        strip_leading_zeros(r);
    }
}

}  // namespace

void multiply(const bignum* x, const bignum* y, bignum* z) {
    mr_state* s = engine_instance;
    if (error_pending(s)) return;
    routine_trace trace(s, rn_multiply);
    TORVANE_EXPECTS(fits_room(x) && fits_room(y));
    if (is_zero(x) || is_zero(y)) {
        zero_number(z);
        return;
    }
    if (is_flash_number(x) || is_flash_number(y)) {
        report_error(mr_error_flash_number);
        return;
    }
    const workspace_claim acc(s, ws::accumulator, {z});
    const std::uint32_t sign = (x->len ^ y->len) & mr_sign_bit;
    const int m = length_of(x);
    const int n = length_of(y);
    if (s->length_check && m + n > s->max_length) {
        zero_number(acc);
        report_error(mr_error_overflow);
        return;
    }
    // The product is built in z when z shares no words with a factor, else
    // in the accumulator, which is never a factor, and copied. The larger
    // factor goes first. The squaring method starts at six words.
    bignum* const target = (z->w == x->w || z->w == y->w) ? static_cast<bignum*>(acc) : z;
    const int old_words = stored_length(target);
    if (x == y && m > 5 && m < square_karatsuba_threshold) {
        schoolbook_square(target->w, x->w, m);
    } else if (x == y && m > 5) {
        const scratch_claim area(s, area_product);
        if (square_scratch_words(m) <= area.size())
            square_vv(target->w, x->w, m, area.words());
        else
            schoolbook_square(target->w, x->w, m);
    } else {
        product_words_on(s, target->w, x->w, m, y->w, n);
    }
    // The words above the product that the old value held are cleared.
    for (int i = m + n; i < old_words; ++i) target->w[i] = 0;
    target->len = static_cast<std::uint32_t>(m + n) | sign;
    strip_leading_zeros(target);
    if (target != z) copy_number(acc, z);
}

mr_digit normalise(bignum* x, bignum* y) {
    // Called only from inside other routines, so no error test here.
    routine_trace trace(rn_normalise);
    if (x != y) copy_number(x, y);
    const int n = length_of(y);
    if (n == 0) return 1;  // nothing to scale; the caller reports the zero
    const mr_digit top = y->w[n - 1];
    if (top == all_ones) return 1;
    mr_digit r;
    const mr_digit d = div_double_word(1, 0, top + 1, &r);
    if (d != 1) multiply_by_word(y, d, y);
    return d;
}

// z = x / y truncated towards zero, x = the remainder (sign of x).
// z == x: x receives the quotient only. z == y: only the remainder is formed,
// in x, and y keeps its value. x == y is error 7. |y| is read through a copy
// of y's header, so y itself is never written.
void divide(bignum* x, const bignum* y, bignum* z) {
    mr_state* s = engine_instance;
    if (error_pending(s)) return;
    routine_trace trace(s, rn_divide);
    TORVANE_EXPECTS(fits_room(x) && fits_room(y));
    if (x == y) report_error(mr_error_illegal_parameters);
    if (is_flash_number(x) || is_flash_number(y)) report_error(mr_error_flash_number);
    if (is_zero(y)) report_error(mr_error_division_by_zero);
    if (error_pending(s)) return;

    const workspace_claim acc(s, ws::accumulator, {x});
    const bool quotient_only = (z == x);
    const bool remainder_only = (z == y);
    const std::uint32_t xsign = x->len & mr_sign_bit;
    const std::uint32_t qsign = xsign ^ (y->len & mr_sign_bit);
    x->len &= ~mr_sign_bit;
    bignum y_magnitude = *y;
    y_magnitude.len &= ~mr_sign_bit;
    const bignum* const ym = &y_magnitude;

    int t = length_of(x);
    const int n = length_of(ym);
    if (s->length_check && t - n + 1 > s->max_length) {
        report_error(mr_error_overflow);
        x->len |= xsign;
        return;
    }
    const mr_digit* yw = ym->w;

    // Long division straight from x, when x is surely at least y and its
    // quotient is not the small one of the equal-length case below.
    if (n >= 2 && (t > n || (t == n && (x->w[t - 1] >> 2) >= yw[n - 1]))) {
        long_divide(x, ym, remainder_only ? nullptr : z, quotient_only ? nullptr : x);
        if (!remainder_only) give_sign(z, qsign);
        if (!quotient_only) give_sign(x, xsign);
        return;
    }

    copy_number(x, acc);
    mr_digit* a = acc->w;

    // Short cases: one-word operands, an equal-length dividend whose
    // quotient is small, a dividend below the divisor, a one-word divisor.
    mr_digit q = 0;
    if (t == 1 && n == 1) {
        q = a[0] / yw[0];
        a[0] %= yw[0];
        strip_leading_zeros(acc);
    } else if (t == n && t > 1 && (a[t - 1] >> 2) < yw[n - 1]) {
        while (compare_numbers(acc, ym) >= 0) {
            magnitude_subtract(acc, &y_magnitude, acc);
            ++q;
        }
    }
    if (compare_numbers(acc, ym) < 0) {
        if (!quotient_only) {
            copy_number(acc, x);
            give_sign(x, xsign);
        }
        if (!remainder_only) set_word(z, q, qsign);
        return;
    }
    if (n == 1) {
        const mr_digit r = divide_by_word(acc, yw[0], acc);
        if (!remainder_only) {
            copy_number(acc, z);
            give_sign(z, qsign);
        }
        if (!quotient_only) set_word(x, r, xsign);
        return;
    }

    // Long division: n >= 2 and x >= y.
    long_divide(acc, ym, remainder_only ? nullptr : z, quotient_only ? nullptr : x);
    if (!remainder_only) give_sign(z, qsign);
    if (!quotient_only) give_sign(x, xsign);
}

// q = (x*y + z) / w, r = the remainder. z is added only when it differs from
// both x and y; q == w forms only the remainder, q == r only the quotient;
// w == r is error 7. Runs with length_check clear, so x*y may have up to
// twice max_length words; the caller makes sure the quotient fits in q.
void mad(const bignum* x, const bignum* y, const bignum* z, const bignum* w, bignum* q, bignum* r) {
    mr_state* s = engine_instance;
    if (error_pending(s)) return;
    routine_trace trace(s, rn_mad);
    TORVANE_EXPECTS(fits_room(x) && fits_room(y) && fits_room(z) && fits_room(w));
    length_check_scope unchecked(s, 0);
    if (w == r) {
        report_error(mr_error_illegal_parameters);
        return;
    }
    const workspace_claim acc(s, ws::accumulator);
    multiply(x, y, acc);
    if (z != x && z != y) add(acc, z, acc);
    divide(acc, w, q);
    if (q != r && !error_pending(s)) copy_number(acc, r);
}
