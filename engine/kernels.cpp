// The word-vector kernels of kernels.h, portable C++ over 64-bit limbs. With
// GCC or Clang on x86-64, addition and subtraction run on add-with-carry
// loops, and the product row (with the schoolbook product and square and the
// Montgomery reduction, product and square built on it) has a second
// version for processors with BMI2 and ADX, chosen once at start-up; the
// portable one stays for every other processor.
//
// Two 32-bit words at even offsets from the start of a call form one 64-bit
// limb (little-endian, so the lower word is the limb's low half). Limbs are
// loaded and stored with memcpy: the arrays need not be 8-byte aligned. A
// limb product with a one-word factor is at most (2^64-1)(2^32-1), so
// product + limb + carry stays below 2^96 and every carry fits one word.
// With a two-word factor, (2^64-1)^2 + 2(2^64-1) = 2^128-1: product + limb
// + carry still fits 128 bits and the carry one limb.
#include "kernels.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#endif

namespace {

using u64 = std::uint64_t;
__extension__ typedef unsigned __int128 u128;  // GCC and Clang on x86-64

}  // namespace

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// Limb-wise addition and subtraction with the processor's add-with-carry
// (every x86-64 has it): the limbs beyond a multiple of four one at a time,
// then four at a time. inc, dec, lea and jrcxz leave the carry flag alone,
// so it carries the chain through the loop. Returns the carry (or borrow).
#define TORVANE_LIMB_ADDSUB_LOOP(op)                                   \
    "xor %%eax, %%eax\n\t" /* eax = 0, CF = 0 */                      \
    "test %[h], %[h]\n\t"                                            \
    "jz 3f\n\t"                                                      \
    "1:\n\t"                                                         \
    "mov (%[x]), %%r8\n\t" op " (%[y]), %%r8\n\t"                  \
    "mov %%r8, (%[z])\n\t"                                           \
    "lea 8(%[x]), %[x]\n\t"                                          \
    "lea 8(%[y]), %[y]\n\t"                                          \
    "lea 8(%[z]), %[z]\n\t"                                          \
    "dec %[h]\n\t"                                                   \
    "jnz 1b\n\t"                                                     \
    "3:\n\t"                                                         \
    "jrcxz 4f\n\t"                                                   \
    "2:\n\t"                                                         \
    "mov (%[x]), %%r8\n\t" op " (%[y]), %%r8\n\t"                  \
    "mov 8(%[x]), %%r9\n\t" op " 8(%[y]), %%r9\n\t"                \
    "mov 16(%[x]), %%r10\n\t" op " 16(%[y]), %%r10\n\t"            \
    "mov 24(%[x]), %%r11\n\t" op " 24(%[y]), %%r11\n\t"            \
    "mov %%r8, (%[z])\n\t"                                           \
    "mov %%r9, 8(%[z])\n\t"                                          \
    "mov %%r10, 16(%[z])\n\t"                                        \
    "mov %%r11, 24(%[z])\n\t"                                        \
    "lea 32(%[x]), %[x]\n\t"                                         \
    "lea 32(%[y]), %[y]\n\t"                                         \
    "lea 32(%[z]), %[z]\n\t"                                         \
    "dec %[q]\n\t"                                                   \
    "jnz 2b\n\t"                                                     \
    "4:\n\t"                                                         \
    "setc %%al\n\t"

namespace {

u64 add_limbs(mr_digit* z, const mr_digit* x, const mr_digit* y, std::int64_t limbs) {
    std::int64_t h = limbs % 4, q = limbs / 4;
    u64 carry;
    __asm__ volatile(TORVANE_LIMB_ADDSUB_LOOP("adc")
                     : "=&a"(carry), [x] "+&r"(x), [y] "+&r"(y), [z] "+&r"(z), [h] "+&r"(h), [q] "+&c"(q)
                     :
                     : "r8", "r9", "r10", "r11", "cc", "memory");
    return carry;
}

u64 sub_limbs(mr_digit* z, const mr_digit* x, const mr_digit* y, std::int64_t limbs) {
    std::int64_t h = limbs % 4, q = limbs / 4;
    u64 borrow;
    __asm__ volatile(TORVANE_LIMB_ADDSUB_LOOP("sbb")
                     : "=&a"(borrow), [x] "+&r"(x), [y] "+&r"(y), [z] "+&r"(z), [h] "+&r"(h), [q] "+&c"(q)
                     :
                     : "r8", "r9", "r10", "r11", "cc", "memory");
    return borrow;
}

}  // namespace
#undef TORVANE_LIMB_ADDSUB_LOOP

mr_digit add_vv(mr_digit* z, const mr_digit* x, const mr_digit* y, int n) {
    const int limbs = n / 2;
    u64 carry = limbs > 0 ? add_limbs(z, x, y, limbs) : 0;
    if (n & 1) {
        const u64 s = u64{x[n - 1]} + y[n - 1] + carry;
        z[n - 1] = static_cast<mr_digit>(s);
        carry = s >> 32;
    }
    return static_cast<mr_digit>(carry);
}

mr_digit sub_vv(mr_digit* z, const mr_digit* x, const mr_digit* y, int n) {
    const int limbs = n / 2;
    u64 borrow = limbs > 0 ? sub_limbs(z, x, y, limbs) : 0;
    if (n & 1) {
        const u64 d = u64{x[n - 1]} - y[n - 1] - borrow;
        z[n - 1] = static_cast<mr_digit>(d);
        borrow = d >> 63;
    }
    return static_cast<mr_digit>(borrow);
}
#else
mr_digit add_vv(mr_digit* z, const mr_digit* x, const mr_digit* y, int n) {
    u64 carry = 0;
    int i = 0;
    for (; i + 1 < n; i += 2) {
        const u128 s = static_cast<u128>(load_limb(x + i)) + load_limb(y + i) + carry;
        store_limb(z + i, static_cast<u64>(s));
        carry = static_cast<u64>(s >> 64);
    }
    if (i < n) {
        const u64 s = u64{x[i]} + y[i] + carry;
        z[i] = static_cast<mr_digit>(s);
        carry = s >> 32;
    }
    return static_cast<mr_digit>(carry);
}

mr_digit sub_vv(mr_digit* z, const mr_digit* x, const mr_digit* y, int n) {
    u64 borrow = 0;
    int i = 0;
    for (; i + 1 < n; i += 2) {
        const u128 d = static_cast<u128>(load_limb(x + i)) - load_limb(y + i) - borrow;
        store_limb(z + i, static_cast<u64>(d));
        borrow = static_cast<u64>(d >> 127);
    }
    if (i < n) {
        const u64 d = u64{x[i]} - y[i] - borrow;
        z[i] = static_cast<mr_digit>(d);
        borrow = d >> 63;
    }
    return static_cast<mr_digit>(borrow);
}

#endif

mr_digit add_vw(mr_digit* z, const mr_digit* x, int n, mr_digit y) {
    u64 carry = y;
    int i = 0;
    for (; i < n && carry != 0; ++i) {
        const u64 s = u64{x[i]} + carry;
        z[i] = static_cast<mr_digit>(s);
        carry = s >> 32;
    }
    if (z != x)
        for (; i < n; ++i) z[i] = x[i];
    return static_cast<mr_digit>(carry);
}

mr_digit sub_vw(mr_digit* z, const mr_digit* x, int n, mr_digit y) {
    u64 borrow = y;
    int i = 0;
    for (; i < n && borrow != 0; ++i) {
        const u64 d = u64{x[i]} - borrow;
        z[i] = static_cast<mr_digit>(d);
        borrow = d >> 63;
    }
    if (z != x)
        for (; i < n; ++i) z[i] = x[i];
    return static_cast<mr_digit>(borrow);
}

mr_digit mul_vww(mr_digit* z, const mr_digit* x, int n, mr_digit y, mr_digit r) {
    u64 carry = r;
    int i = 0;
    for (; i + 1 < n; i += 2) {
        const u128 p = static_cast<u128>(load_limb(x + i)) * y + carry;
        store_limb(z + i, static_cast<u64>(p));
        carry = static_cast<u64>(p >> 64);
    }
    if (i < n) {
        const u64 p = u64{x[i]} * y + carry;
        z[i] = static_cast<mr_digit>(p);
        carry = p >> 32;
    }
    return static_cast<mr_digit>(carry);
}

mr_digit addmul_vvw(mr_digit* z, const mr_digit* x, int n, mr_digit y) {
    u64 carry = 0;
    int i = 0;
    for (; i + 1 < n; i += 2) {
        const u128 p = static_cast<u128>(load_limb(x + i)) * y + load_limb(z + i) + carry;
        store_limb(z + i, static_cast<u64>(p));
        carry = static_cast<u64>(p >> 64);
    }
    if (i < n) {
        const u64 p = u64{x[i]} * y + z[i] + carry;
        z[i] = static_cast<mr_digit>(p);
        carry = p >> 32;
    }
    return static_cast<mr_digit>(carry);
}

namespace {

// z += x * y over n words for a two-word y; the portable version.
u64 addmul_vvd_portable(mr_digit* z, const mr_digit* x, int n, u64 y) {
    u64 carry = 0;
    int i = 0;
    for (; i + 3 < n; i += 4) {
        const u128 p0 = static_cast<u128>(load_limb(x + i)) * y + load_limb(z + i) + carry;
        store_limb(z + i, static_cast<u64>(p0));
        const u128 p1 = static_cast<u128>(load_limb(x + i + 2)) * y + load_limb(z + i + 2) + static_cast<u64>(p0 >> 64);
        store_limb(z + i + 2, static_cast<u64>(p1));
        carry = static_cast<u64>(p1 >> 64);
    }
    if (i + 1 < n) {
        const u128 p = static_cast<u128>(load_limb(x + i)) * y + load_limb(z + i) + carry;
        store_limb(z + i, static_cast<u64>(p));
        carry = static_cast<u64>(p >> 64);
        i += 2;
    }
    if (i < n) {
        // x[i] * y < 2^96; the sum leaves a carry below 2^64 because the
        // whole z + x * y fits n + 2 words.
        const u128 p = static_cast<u128>(x[i]) * y + z[i] + carry;
        z[i] = static_cast<mr_digit>(p);
        carry = static_cast<u64>(p >> 32);
    }
    return carry;
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TORVANE_HAVE_ADX_PATH 1

// z += x * y over `limbs` >= 1 limbs; returns the carry limb out. The loop
// is unrolled four times; limb counts that are not a multiple of four enter
// it part-way, at the limb that makes the rest come out even, with the
// pointers set back so that the addresses still start at x and z. Two carry
// chains run side by side: adcx (carry flag) adds the previous product's
// high half, adox (overflow flag) adds z's limb. The pointers step on by
// constant offsets (base+index addresses cost 1.4 times as much here) and
// the pass count steps down to zero through lea and jrcxz, which leave both
// flags alone; each entry clears both flags with its xor.
u64 addmul_limbs_adx(mr_digit* z, const mr_digit* x, std::int64_t limbs, u64 y) {
    const std::int64_t entry = (4 - limbs % 4) % 4;  // body limbs skipped on entry
    // Set back by the limbs skipped: the pass reads and writes only from
    // the entry's limb on, at x and z themselves.
    std::uintptr_t xp = reinterpret_cast<std::uintptr_t>(x) - static_cast<std::uintptr_t>(8 * entry);
    std::uintptr_t zp = reinterpret_cast<std::uintptr_t>(z) - static_cast<std::uintptr_t>(8 * entry);
    std::int64_t passes = (limbs + entry) / 4;  // 64 bits on Windows too, where long is 32
    u64 c = 0;
    __asm__ volatile(
        "cmp $2, %[e]\n\t"
        "je 12f\n\t"
        "ja 13f\n\t"
        "test %[e], %[e]\n\t"
        "jnz 11f\n\t"
        "xor %%r8d, %%r8d\n\t"  // r8 = 0, CF = OF = 0
        "jmp 1f\n\t"
        "11:\n\t"
        "xor %%r8d, %%r8d\n\t"
        "xor %%r10d, %%r10d\n\t"
        "jmp 5f\n\t"
        "12:\n\t"
        "xor %%r8d, %%r8d\n\t"
        "jmp 6f\n\t"
        "13:\n\t"
        "xor %%r8d, %%r8d\n\t"
        "xor %%r10d, %%r10d\n\t"
        "jmp 7f\n\t"
        "1:\n\t"
        "mulx (%[x]), %%r9, %%r10\n\t"
        "adcx %[c], %%r9\n\t"
        "adox (%[z]), %%r9\n\t"
        "mov %%r9, (%[z])\n\t"
        "5:\n\t"
        "mulx 8(%[x]), %%r9, %[c]\n\t"
        "adcx %%r10, %%r9\n\t"
        "adox 8(%[z]), %%r9\n\t"
        "mov %%r9, 8(%[z])\n\t"
        "6:\n\t"
        "mulx 16(%[x]), %%r9, %%r10\n\t"
        "adcx %[c], %%r9\n\t"
        "adox 16(%[z]), %%r9\n\t"
        "mov %%r9, 16(%[z])\n\t"
        "7:\n\t"
        "mulx 24(%[x]), %%r9, %[c]\n\t"
        "adcx %%r10, %%r9\n\t"
        "adox 24(%[z]), %%r9\n\t"
        "mov %%r9, 24(%[z])\n\t"
        "lea 32(%[x]), %[x]\n\t"
        "lea 32(%[z]), %[z]\n\t"
        "lea -1(%[n]), %[n]\n\t"
        "jrcxz 2f\n\t"
        "jmp 1b\n\t"
        "2:\n\t"
        "adcx %%r8, %[c]\n\t"
        "adox %%r8, %[c]\n\t"
        : [c] "+&r"(c), [n] "+&c"(passes), [x] "+&r"(xp), [z] "+&r"(zp)
        : [e] "r"(entry), "d"(y)
        : "r8", "r9", "r10", "cc", "memory");
    return c;
}

// z += x * y over n words for a two-word y, on the BMI2/ADX loop, with an
// odd last word on its own.
u64 addmul_vvd_adx(mr_digit* z, const mr_digit* x, int n, u64 y) {
    const int limbs = n / 2;
    u64 carry = limbs > 0 ? addmul_limbs_adx(z, x, limbs, y) : 0;
    if (n & 1) {
        const u128 p = static_cast<u128>(x[n - 1]) * y + z[n - 1] + carry;
        z[n - 1] = static_cast<mr_digit>(p);
        carry = static_cast<u64>(p >> 32);
    }
    return carry;
}
#endif

mr_digit dbl_addsqr_portable(mr_digit* z, const mr_digit* x, int n) {
    // One pass: each limb of z is doubled (its top bit carried into the
    // next limb's doubling) and the square of x's limb added, two z limbs
    // per x limb.
    u64 carry = 0;
    u64 spill = 0;  // top bit of the z limb below, for the doubling
    int i = 0;
    for (; i + 1 < n; i += 2) {
        const u64 limb = load_limb(x + i);
        const u128 sq = static_cast<u128>(limb) * limb;
        const u64 z0 = load_limb(z + 2 * i), z1 = load_limb(z + 2 * i + 2);
        const u128 lo = static_cast<u128>((z0 << 1) | spill) + static_cast<u64>(sq) + carry;
        store_limb(z + 2 * i, static_cast<u64>(lo));
        const u128 hi = static_cast<u128>((z1 << 1) | (z0 >> 63)) + static_cast<u64>(sq >> 64) +
                        static_cast<u64>(lo >> 64);
        store_limb(z + 2 * i + 2, static_cast<u64>(hi));
        spill = z1 >> 63;
        carry = static_cast<u64>(hi >> 64);
    }
    if (i < n) {
        const u64 z0 = load_limb(z + 2 * i);
        const u128 s = static_cast<u128>(u64{x[i]} * x[i]) + ((z0 << 1) | spill) + carry;
        store_limb(z + 2 * i, static_cast<u64>(s));
        spill = z0 >> 63;
        carry = static_cast<u64>(s >> 64);
    }
    return static_cast<mr_digit>(carry + spill);
}

#ifdef TORVANE_HAVE_ADX_PATH
// The same on the BMI2/ADX path: the doubling runs on one carry chain
// (adcx of a limb to itself shifts it left, the top bit carried into the
// next limb) and the squares' halves are added on the other (adox).
mr_digit dbl_addsqr_adx(mr_digit* z, const mr_digit* x, int n) {
    std::int64_t limbs = n / 2;
    u64 spill = 0, carry = 0;
    if (limbs > 0) {
        const mr_digit* xp = x;
        mr_digit* zp = z;
        __asm__ volatile(
            "xor %%r8d, %%r8d\n\t"  // CF = OF = 0
            "1:\n\t"
            "mov (%[x]), %%rdx\n\t"
            "mulx %%rdx, %%r9, %%r10\n\t"
            "mov (%[z]), %%r11\n\t"
            "adcx %%r11, %%r11\n\t"
            "adox %%r9, %%r11\n\t"
            "mov %%r11, (%[z])\n\t"
            "mov 8(%[z]), %%r11\n\t"
            "adcx %%r11, %%r11\n\t"
            "adox %%r10, %%r11\n\t"
            "mov %%r11, 8(%[z])\n\t"
            "lea 8(%[x]), %[x]\n\t"
            "lea 16(%[z]), %[z]\n\t"
            "lea -1(%[n]), %[n]\n\t"
            "jrcxz 2f\n\t"
            "jmp 1b\n\t"
            "2:\n\t"
            "mov $0, %k[s]\n\t"
            "mov $0, %k[c]\n\t"
            "setc %b[s]\n\t"
            "seto %b[c]\n\t"
            : [x] "+&r"(xp), [z] "+&r"(zp), [n] "+&c"(limbs), [s] "=&r"(spill), [c] "=&r"(carry)
            :
            : "rdx", "r8", "r9", "r10", "r11", "cc", "memory");
    }
    if (n & 1) {
        const int i = n - 1;
        const u64 z0 = load_limb(z + 2 * i);
        const u128 s = static_cast<u128>(u64{x[i]} * x[i]) + ((z0 << 1) | spill) + carry;
        store_limb(z + 2 * i, static_cast<u64>(s));
        spill = z0 >> 63;
        carry = static_cast<u64>(s >> 64);
    }
    return static_cast<mr_digit>(carry + spill);
}
#endif

// z = x + y + w (negate_w false) or z = x + y - w (true) over n words, in
// one pass with two carries; returns the carries out, less the borrow out
// where w is subtracted: 0 to 2, or -1 to 1. Every limb of x, y and w is
// read before the limb of z at the same place is written.
template <bool negate_w>
int add3_portable(mr_digit* z, const mr_digit* x, const mr_digit* y, const mr_digit* w, int n) {
    u64 c = 0, d = 0;  // the carry of x + y, the carry (or borrow) of w
    int i = 0;
    for (; i + 1 < n; i += 2) {
        const u128 s = static_cast<u128>(load_limb(x + i)) + load_limb(y + i) + c;
        c = static_cast<u64>(s >> 64);
        if constexpr (negate_w) {
            const u128 t = static_cast<u128>(static_cast<u64>(s)) - load_limb(w + i) - d;
            d = static_cast<u64>(t >> 127);
            store_limb(z + i, static_cast<u64>(t));
        } else {
            const u128 t = static_cast<u128>(static_cast<u64>(s)) + load_limb(w + i) + d;
            d = static_cast<u64>(t >> 64);
            store_limb(z + i, static_cast<u64>(t));
        }
    }
    std::int64_t v = static_cast<std::int64_t>(c) + (negate_w ? -static_cast<std::int64_t>(d) : static_cast<std::int64_t>(d));
    if (i < n) {
        v += std::int64_t{x[i]} + y[i] + (negate_w ? -std::int64_t{w[i]} : std::int64_t{w[i]});
        z[i] = static_cast<mr_digit>(v);
        v >>= 32;  // arithmetic: the carry, or -1 for a borrow
    }
    return static_cast<int>(v);
}

#ifdef TORVANE_HAVE_ADX_PATH
// The same on ADX: x + y on the adcx chain and w on the adox chain, so both
// carries ride the flags through the loop. For x + y - w the adox chain
// adds the complement of w (not leaves the flags alone) and the adcx chain
// starts at 1: x + y + 1 + (B^n - 1 - w) = x + y - w + B^n, so the carries
// out are one more than the signed carry. Entry into the four-limb body as
// in addmul_limbs_adx.
template <bool negate_w>
int add3_adx(mr_digit* z, const mr_digit* x, const mr_digit* y, const mr_digit* w, int n) {
    const std::int64_t limbs = n / 2;
    int carry = 0;
    if (limbs > 0) {
        const std::int64_t entry = (4 - limbs % 4) % 4;
        const std::int64_t back = 8 * limbs;
        const char* xe = reinterpret_cast<const char*>(x) + back;
        const char* ye = reinterpret_cast<const char*>(y) + back;
        const char* we = reinterpret_cast<const char*>(w) + back;
        char* ze = reinterpret_cast<char*>(z) + back;
        std::int64_t i = -(limbs + entry);
        u64 c = 0;
#define TORVANE_ADD3_LIMB(off, neg)                   \
    "mov " off "(%[x],%[i],8), %%r8\n\t"             \
    "adcx " off "(%[y],%[i],8), %%r8\n\t"            \
    "mov " off "(%[w],%[i],8), %%r9\n\t"             \
    neg                                              \
    "adox %%r9, %%r8\n\t"                            \
    "mov %%r8, " off "(%[z],%[i],8)\n\t"
// The entry tests (cmp, test) set the flags, so each entry point clears
// them after its test, and sets the carry in of 1 for x + y - w.
#define TORVANE_ADD3_LOOP(neg, start)                 \
    "cmp $2, %[e]\n\t"                               \
    "je 16f\n\t"                                     \
    "ja 17f\n\t"                                     \
    "test %[e], %[e]\n\t"                            \
    "jnz 15f\n\t"                                    \
    "xor %%r8d, %%r8d\n\t" start "jmp 1f\n\t"        \
    "15:\n\t"                                        \
    "xor %%r8d, %%r8d\n\t" start "jmp 5f\n\t"        \
    "16:\n\t"                                        \
    "xor %%r8d, %%r8d\n\t" start "jmp 6f\n\t"        \
    "17:\n\t"                                        \
    "xor %%r8d, %%r8d\n\t" start "jmp 7f\n\t"        \
    "1:\n\t"                                         \
    TORVANE_ADD3_LIMB("0", neg)                      \
    "5:\n\t"                                         \
    TORVANE_ADD3_LIMB("8", neg)                      \
    "6:\n\t"                                         \
    TORVANE_ADD3_LIMB("16", neg)                     \
    "7:\n\t"                                         \
    TORVANE_ADD3_LIMB("24", neg)                     \
    "lea 4(%[i]), %[i]\n\t"                          \
    "jrcxz 2f\n\t"                                   \
    "jmp 1b\n\t"                                     \
    "2:\n\t"                                         \
    "mov $0, %%r8d\n\t" /* mov leaves the flags */   \
    "adcx %%r8, %[c]\n\t"                            \
    "adox %%r8, %[c]\n\t"
        if constexpr (negate_w) {
            __asm__ volatile(TORVANE_ADD3_LOOP("not %%r9\n\t", "stc\n\t")
                             : [c] "+&r"(c), [i] "+&c"(i)
                             : [x] "r"(xe), [y] "r"(ye), [w] "r"(we), [z] "r"(ze), [e] "r"(entry)
                             : "r8", "r9", "cc", "memory");
            carry = static_cast<int>(c) - 1;
        } else {
            __asm__ volatile(TORVANE_ADD3_LOOP("", "")
                             : [c] "+&r"(c), [i] "+&c"(i)
                             : [x] "r"(xe), [y] "r"(ye), [w] "r"(we), [z] "r"(ze), [e] "r"(entry)
                             : "r8", "r9", "cc", "memory");
            carry = static_cast<int>(c);
        }
#undef TORVANE_ADD3_LOOP
#undef TORVANE_ADD3_LIMB
    }
    if (n & 1) {
        std::int64_t v = carry + std::int64_t{x[n - 1]} + y[n - 1] +
                         (negate_w ? -std::int64_t{w[n - 1]} : std::int64_t{w[n - 1]});
        z[n - 1] = static_cast<mr_digit>(v);
        carry = static_cast<int>(v >> 32);
    }
    return carry;
}
#endif

// The schoolbook product on rows of one limb of y each: a row adds x times
// two words of y from word i up and stores its two carry words just above,
// where no earlier row has written; an odd last word of y takes a one-word
// row. Instantiated with each path's row kernel, so that the row runs
// inline and the path is chosen once per product, not once per row.
template <u64 (*row)(mr_digit*, const mr_digit*, int, u64)>
void rows_product(mr_digit* r, const mr_digit* x, int m, const mr_digit* y, int n) {
    std::memset(r, 0, sizeof(mr_digit) * static_cast<std::size_t>(m));
    int i = 0;
    for (; i + 1 < n; i += 2) {
        const u64 c = row(r + i, x, m, load_limb(y + i));
        store_limb(r + i + m, c);
    }
    if (i < n) r[i + m] = addmul_vvw(r + i, x, m, y[i]);
}

// The square's cross products of x's limbs, each once: the row of the limb
// at word w runs over the words from w + 2 up and lands at 2w + 2, its
// carry limb at m + w. Then doubled, with the limbs' squares added on the
// diagonal in the same pass; the cross sum is below x^2 / 2, so the
// doubling loses no bit.
template <u64 (*row)(mr_digit*, const mr_digit*, int, u64)>
void rows_square(mr_digit* r, const mr_digit* x, int m) {
    std::memset(r, 0, sizeof(mr_digit) * 2 * static_cast<std::size_t>(m));
    for (int w = 0; w + 2 < m; w += 2) {
        const u64 c = row(r + 2 * w + 2, x + w + 2, m - w - 2, load_limb(x + w));
        store_limb(r + m + w, c);
    }
    dbl_addsqr_vv(r, x, m);
}

// Adds the limb c to p[0..1] and the carry out to p[2].
inline void add_limb_carry(mr_digit* p, u64 c) {
    const u128 s = static_cast<u128>(load_limb(p)) + c;
    store_limb(p, static_cast<u64>(s));
    p[2] += static_cast<mr_digit>(s >> 64);
}

// Montgomery reduction, word by word on the path's row: one row per limb
// of t from the bottom, each adding m*n with m = (lowest limb) * c64 mod
// 2^64, which clears that limb; the row's carry limb goes into the limb
// above the row's top, with the carry out of that sum kept for the next
// row. An odd k ends with a one-word row under the word constant (the low
// half of c64), so that the shift is 32k bits in all.
template <u64 (*row)(mr_digit*, const mr_digit*, int, u64)>
void rows_reduce(mr_digit* t, const mr_digit* n, int k, u64 c64) {
    u64 carry = 0;  // 0 or 1, into the word above the next step's top
    int i = 0;
    for (; i + 1 < k; i += 2) {
        mr_digit* r = t + i;
        const u64 top = row(r, n, k, load_limb(r) * c64);
        const u128 s = static_cast<u128>(load_limb(r + k)) + top + carry;
        store_limb(r + k, static_cast<u64>(s));
        carry = static_cast<u64>(s >> 64);
    }
    if (i < k) {  // the odd word of an odd k
        mr_digit* r = t + i;
        const mr_digit top = addmul_vvw(r, n, k, r[0] * static_cast<mr_digit>(c64));
        const u64 s = u64{r[k]} + top + carry;
        r[k] = static_cast<mr_digit>(s);
        carry = s >> 32;
    }
    t[2 * k] = static_cast<mr_digit>(carry);
}

// The Montgomery product with its reduction interleaved row by row (the
// coarsely integrated operand scanning order): each step adds x times a
// limb of y, then m*n for the m that clears the step's lowest limb.
// Between steps the value from buf + i up is below 2n < 2R: k words and one
// bit in word k. A step adds x * (limb of y) and m * n, each below R * 2^64,
// so it reaches word k + 2 and no further.
template <u64 (*row)(mr_digit*, const mr_digit*, int, u64)>
void rows_monty_product(const mr_digit* x, const mr_digit* y, const mr_digit* n, int k, u64 c64, mr_digit* buf) {
    std::memset(buf, 0, sizeof(mr_digit) * static_cast<std::size_t>(2 * k + 4));
    int i = 0;
    for (; i + 1 < k; i += 2) {
        mr_digit* r = buf + i;
        add_limb_carry(r + k, row(r, x, k, load_limb(y + i)));
        add_limb_carry(r + k, row(r, n, k, load_limb(r) * c64));
    }
    if (i < k) {
        mr_digit* r = buf + i;
        add_vw(r + k, r + k, 2, addmul_vvw(r, x, k, y[i]));
        add_vw(r + k, r + k, 2, addmul_vvw(r, n, k, r[0] * static_cast<mr_digit>(c64)));
    }
}

// The Montgomery square: the schoolbook square, then the reduction, in one
// kernel so that both run on the path's row inline.
template <u64 (*row)(mr_digit*, const mr_digit*, int, u64)>
void rows_monty_square(const mr_digit* x, const mr_digit* n, int k, u64 c64, mr_digit* buf) {
    rows_square<row>(buf, x, k);
    buf[2 * k] = 0;
    rows_reduce<row>(buf, n, k, c64);
}

#ifdef TORVANE_HAVE_ADX_PATH
// The BMI2/ADX path's schoolbook square and product: the unrolled
// fixed-length kernels where they fit, the rows elsewhere.
void sqr_basecase_adx(mr_digit* r, const mr_digit* x, int m) {
    if (!sqr_basecase_fixed(r, x, m)) rows_square<addmul_vvd_adx>(r, x, m);
}

void mul_basecase_adx(mr_digit* r, const mr_digit* x, int m, const mr_digit* y, int n) {
    if (m != n || !mul_basecase_fixed(r, x, y, m)) rows_product<addmul_vvd_adx>(r, x, m, y, n);
}
#endif

// One path: its row kernel and the schoolbook and Montgomery methods built
// on it.
struct kernel_set {
    u64 (*addmul_vvd)(mr_digit*, const mr_digit*, int, u64);
    void (*mul_basecase)(mr_digit*, const mr_digit*, int, const mr_digit*, int);
    void (*sqr_basecase)(mr_digit*, const mr_digit*, int);
    void (*monty_reduce)(mr_digit*, const mr_digit*, int, u64);
    void (*monty_product)(const mr_digit*, const mr_digit*, const mr_digit*, int, u64, mr_digit*);
    void (*monty_square)(const mr_digit*, const mr_digit*, int, u64, mr_digit*);
    mr_digit (*dbl_addsqr)(mr_digit*, const mr_digit*, int);
    int (*add3)(mr_digit*, const mr_digit*, const mr_digit*, const mr_digit*, int);
    int (*addsub)(mr_digit*, const mr_digit*, const mr_digit*, const mr_digit*, int);
};

constexpr kernel_set portable_set{addmul_vvd_portable,
                                  rows_product<addmul_vvd_portable>,
                                  rows_square<addmul_vvd_portable>,
                                  rows_reduce<addmul_vvd_portable>,
                                  rows_monty_product<addmul_vvd_portable>,
                                  rows_monty_square<addmul_vvd_portable>,
                                  dbl_addsqr_portable,
                                  add3_portable<false>,
                                  add3_portable<true>};
#ifdef TORVANE_HAVE_ADX_PATH
constexpr kernel_set adx_set{addmul_vvd_adx,
                             mul_basecase_adx,
                             sqr_basecase_adx,
                             rows_reduce<addmul_vvd_adx>,
                             rows_monty_product<addmul_vvd_adx>,
                             rows_monty_square<addmul_vvd_adx>,
                             dbl_addsqr_adx,
                             add3_adx<false>,
                             add3_adx<true>};
#endif

// The chosen set. Constant-initialised to the portable one, so it is valid
// during every other static initialiser; start-up then moves it to the best
// one the processor has.
const kernel_set* active = &portable_set;
kernel_path chosen_path = kernel_path::portable;

bool processor_has_adx() {
#ifdef TORVANE_HAVE_ADX_PATH
    // CPUID leaf 7, sub-leaf 0: EBX bit 8 is BMI2, bit 19 is ADX. Both are
    // plain register instructions, so no operating-system support is needed.
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
    return (ebx & (1u << 8)) != 0 && (ebx & (1u << 19)) != 0;
#else
    return false;
#endif
}

[[maybe_unused]] const bool best_path_chosen = select_kernel_path(kernel_path::bmi2_adx);

}  // namespace

bool select_kernel_path(kernel_path p) {
    if (p == kernel_path::portable) {
        active = &portable_set;
        chosen_path = p;
        return true;
    }
#ifdef TORVANE_HAVE_ADX_PATH
    if (processor_has_adx()) {
        active = &adx_set;
        chosen_path = p;
        return true;
    }
#endif
    return false;
}

kernel_path current_kernel_path() { return chosen_path; }

const char* family_name(processor_family f) {
    switch (f) {
    case processor_family::portable: return "portable";
    case processor_family::bmi2_adx: return "bmi2_adx";
    case processor_family::avx512_ifma: return "avx512_ifma";
    }
    return "portable";
}

processor_family choose_family() {
    static std::once_flag once;
    static processor_family chosen = processor_family::portable;
    std::call_once(once, [] {
        processor_family best = processor_family::portable;
        if (processor_has_adx()) best = processor_family::bmi2_adx;
        if (best == processor_family::bmi2_adx && processor_has_ifma_kernel()) best = processor_family::avx512_ifma;
        chosen = best;
        if (const char* asked = std::getenv("TORVANE_FAMILY"); asked != nullptr) {
            for (processor_family f : {processor_family::portable, processor_family::bmi2_adx})
                if (std::strcmp(asked, family_name(f)) == 0 && f < best) chosen = f;
        }
        if (chosen < processor_family::avx512_ifma) select_monty_ifma(false);
        if (chosen == processor_family::portable) {
            select_monty_adx(false);
            select_kernel_path(kernel_path::portable);
        }
        // A family without a column of its own takes the nearest: portable
        // processors that of bmi2_adx.
        const bool ifma_column = chosen == processor_family::avx512_ifma;
#define TORVANE_SET_THRESHOLD(name, avx512_ifma, bmi2_adx) name = ifma_column ? (avx512_ifma) : (bmi2_adx);
        TORVANE_FAMILY_THRESHOLDS(TORVANE_SET_THRESHOLD)
#undef TORVANE_SET_THRESHOLD
        monty_ifma_top = std::min(monty_ifma_top, monty_ifma_max);
    });
    return chosen;
}

std::uint64_t addmul_vvd(mr_digit* z, const mr_digit* x, int n, std::uint64_t y) {
    return active->addmul_vvd(z, x, n, y);
}

void mul_basecase_vv(mr_digit* r, const mr_digit* x, int m, const mr_digit* y, int n) {
    active->mul_basecase(r, x, m, y, n);
}

void sqr_basecase_vv(mr_digit* r, const mr_digit* x, int m) { active->sqr_basecase(r, x, m); }

void monty_reduce_vv(mr_digit* t, const mr_digit* n, int k, std::uint64_t c64) {
    if (monty_adx_in_use(k) && monty_reduce_adx(t, n, k, c64)) return;
    active->monty_reduce(t, n, k, c64);
}

mr_digit dbl_addsqr_vv(mr_digit* z, const mr_digit* x, int n) { return active->dbl_addsqr(z, x, n); }

int add3_vvv(mr_digit* z, const mr_digit* x, const mr_digit* y, const mr_digit* w, int n) {
    return active->add3(z, x, y, w, n);
}

int addsub_vvv(mr_digit* z, const mr_digit* x, const mr_digit* y, const mr_digit* w, int n) {
    return active->addsub(z, x, y, w, n);
}

void monty_product_vv(const mr_digit* x, const mr_digit* y, const mr_digit* n, int k, std::uint64_t c64,
                      mr_digit* buf) {
    if (monty_ifma_in_use(k) && monty_product_ifma(x, y, n, k, c64, buf)) return;
    if (monty_adx_in_use(k) && monty_product_adx(x, y, n, k, c64, buf)) return;
    active->monty_product(x, y, n, k, c64, buf);
}

void monty_square_vv(const mr_digit* x, const mr_digit* n, int k, std::uint64_t c64, mr_digit* buf) {
    if (monty_ifma_in_use(k) && monty_product_ifma(x, x, n, k, c64, buf)) return;
    if (monty_adx_in_use(k) && monty_square_adx(x, n, k, c64, buf)) return;
    active->monty_square(x, n, k, c64, buf);
}

namespace {

// Both matrix rows a limb at a time, one kernel for every path: the
// compiler's two-operand products here run at 1.2-1.4 rdtsc ticks per limb
// product at 512 limbs, which mulx assembly did not beat. With Neg, x, y = a*x + b*~y + b,
// d*y + c*~x + c (which is a*x - b*y, d*y - c*x modulo 2^(32n), ~ the
// complement over the n words); without, a*x + b*y, c*x + d*y with the tops
// stored above. Each row is below (2^63)(2^64)2 + 2^64 < 2^128, so its high
// limb is the next carry.
template <bool Neg>
void mat2_rows_portable(mr_digit* x, mr_digit* y, int n, u64 a, u64 b, u64 c, u64 d) {
    u64 h1 = Neg ? b : 0, h2 = Neg ? c : 0;
    for (int i = 0; i < n; i += 2) {
        const u64 p = load_limb(x + i), q = load_limb(y + i);
        const u128 r1 = u128{a} * p + u128{b} * (Neg ? ~q : q) + h1;
        const u128 r2 = Neg ? u128{d} * q + u128{c} * ~p + h2 : u128{c} * p + u128{d} * q + h2;
        store_limb(x + i, static_cast<u64>(r1));
        store_limb(y + i, static_cast<u64>(r2));
        h1 = static_cast<u64>(r1 >> 64);
        h2 = static_cast<u64>(r2 >> 64);
    }
    if (!Neg) {
        store_limb(x + n, h1);
        store_limb(y + n, h2);
    }
}

}  // namespace

void mat2_submul_vv(mr_digit* x, mr_digit* y, int n, std::uint64_t a, std::uint64_t b, std::uint64_t c,
                    std::uint64_t d) {
    mat2_rows_portable<true>(x, y, n, a, b, c, d);
}

void mat2_addmul_vv(mr_digit* x, mr_digit* y, int n, std::uint64_t a, std::uint64_t b, std::uint64_t c,
                    std::uint64_t d) {
    mat2_rows_portable<false>(x, y, n, a, b, c, d);
}

void divexact3_vv(mr_digit* z, const mr_digit* x, int n) {
    // Hensel division from the low end: q = (x_i - c) * 3^-1 mod 2^64 is the
    // quotient limb, and c, what the limbs above still owe, is the high half
    // of 3q plus the borrow of x_i - c. Since x is a multiple of 3 nothing
    // is owed past the top.
    constexpr u64 inverse3 = 0xAAAAAAAAAAAAAAABull;  // 3 * inverse3 = 1 mod 2^64
    u64 c = 0;
    int i = 0;
    for (; i + 1 < n; i += 2) {
        const u64 v = load_limb(x + i);
        const u64 l = v - c;
        const u64 q = l * inverse3;
        store_limb(z + i, q);
        c = static_cast<u64>((static_cast<u128>(q) * 3) >> 64) + (v < c);
    }
    if (i < n) z[i] = static_cast<mr_digit>((x[i] - static_cast<mr_digit>(c)) * 0xAAAAAAABu);
}

mr_digit shl_vu(mr_digit* z, const mr_digit* x, int n, unsigned s) {
    if (n == 0) return 0;
    if (s == 0) {
        if (z != x) std::memmove(z, x, sizeof(mr_digit) * static_cast<std::size_t>(n));
        return 0;
    }
    // Downwards, a limb at a time (the word below each limb brings its
    // top bits in), after an odd top word on its own; every word is read
    // before the words at and above it are written, so z may sit at or
    // above x.
    const mr_digit out = x[n - 1] >> (32 - s);
    int i = n;
    if (n & 1) {
        --i;
        z[i] = n > 1 ? (x[i] << s) | (x[i - 1] >> (32 - s)) : x[i] << s;
    }
    for (i -= 2; i >= 2; i -= 2) store_limb(z + i, (load_limb(x + i) << s) | (load_limb(x + i - 2) >> (64 - s)));
    if (i == 0) store_limb(z, load_limb(x) << s);
    return out;
}

mr_digit shr_vu(mr_digit* z, const mr_digit* x, int n, unsigned s) {
    if (n == 0) return 0;
    if (s == 0) {
        if (z != x) std::memmove(z, x, sizeof(mr_digit) * static_cast<std::size_t>(n));
        return 0;
    }
    // Upwards, a limb at a time while a whole limb lies above it, then word
    // by word; z may sit at or below x.
    const mr_digit out = x[0] << (32 - s);
    int i = 0;
    for (; i + 3 < n; i += 2) store_limb(z + i, (load_limb(x + i) >> s) | (load_limb(x + i + 2) << (64 - s)));
    for (; i + 1 < n; ++i) z[i] = (x[i] >> s) | (x[i + 1] << (32 - s));
    z[n - 1] = x[n - 1] >> s;
    return out;
}

int cmp_vv(const mr_digit* x, const mr_digit* y, int n) {
    for (int i = n; i-- > 0;) {
        if (x[i] != y[i]) return x[i] > y[i] ? 1 : -1;
    }
    return 0;
}

// Upwards from the lowest word, over operands that do not overlap, so that
// the compiler takes several words a step.
mr_digit shl_apart_vu(mr_digit* __restrict z, const mr_digit* __restrict x, int n, unsigned s) {
    if (n == 0) return 0;
    if (s == 0) {
        std::memcpy(z, x, sizeof(mr_digit) * static_cast<std::size_t>(n));
        return 0;
    }
    z[0] = x[0] << s;
    for (int i = 1; i < n; ++i) z[i] = (x[i] << s) | (x[i - 1] >> (32 - s));
    return x[n - 1] >> (32 - s);
}
