// The Montgomery product and reduction on BMI2/ADX (mulx, adcx, adox), for
// moduli of a whole number of 64-bit limbs (k even).
//
// The product runs in the coarsely integrated operand scanning order, with
// every step of both rows in one block of assembly: step i adds x * y_i to
// the window of L + 2 limbs at limb i of buf, then m * n for m = (the
// window's lowest limb) * c64 mod 2^64, which clears that limb; the next
// step's window starts one limb up, so nothing is shifted. Each row runs
// on two carry chains, the product's high halves on adcx and the window's
// limbs on adox, the L mod 4 lowest limbs one at a time and the rest four
// a pass, the index climbing to zero through lea and jrcxz, which leave
// both flags alone. Between steps the window holds
// a value below 2n < 2R in its lower L + 1 limbs; a step adds less than
// 2 * 2^64 R, so its carries end in limb L + 1, which no earlier step has
// written (buf is cleared first).
//
// The reduction is the second row alone, a step per limb of t, with the
// carry out of the window's top limb kept for the next step's top limb.
//
// The square is the schoolbook square of the chosen kernel path followed by
// that reduction. The results are word for word those of the other paths:
// the same q < R makes x*y + q*n a multiple of R.
#include "kernels.h"
#include "thresholds.h"

#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TORVANE_HAVE_ADX_MONTY 1
#include <cpuid.h>
#endif

namespace {

using u64 = std::uint64_t;

#ifdef TORVANE_HAVE_ADX_MONTY

// One limb of a row at index rcx: the product's low half plus the carry
// limb in r11 (adcx), plus z's limb (adox); its high half becomes the
// carry limb.
#define TORVANE_ADX_LIMB(src, z)                 \
    "mulx (" src ",%%rcx,8), %%r9, %%r10\n\t"   \
    "adcx %%r11, %%r9\n\t"                      \
    "adox (" z ",%%rcx,8), %%r9\n\t"            \
    "mov %%r9, (" z ",%%rcx,8)\n\t"             \
    "mov %%r10, %%r11\n\t"                      \
    "lea 1(%%rcx), %%rcx\n\t"

// One row: z[-L .. -1] += src[-L .. -1] * rdx (z and src point past the
// row's top, rcx = -L, L >= 1, %[rem] = L mod 4), the carry limb out in
// r11. The L mod 4 limbs at the bottom run one at a time, then the rest
// four a pass. Expects r8 = 0; every entry clears both flags with its xor.
// lab is a two-digit label prefix, distinct for each row of a block.
#define TORVANE_ADX_ROW(src, z, lab)                          \
    "cmp $2, %[rem]\n\t"                                     \
    "je " lab "2f\n\t"                                       \
    "ja " lab "3f\n\t"                                       \
    "test %[rem], %[rem]\n\t"                                \
    "jnz " lab "1f\n\t"                                      \
    "xor %%r11d, %%r11d\n\t"                                 \
    "jmp " lab "5f\n\t"                                      \
    lab "3:\n\t"                                             \
    "xor %%r11d, %%r11d\n\t"                                 \
    TORVANE_ADX_LIMB(src, z)                                  \
    TORVANE_ADX_LIMB(src, z)                                  \
    TORVANE_ADX_LIMB(src, z)                                  \
    "jmp " lab "4f\n\t"                                      \
    lab "2:\n\t"                                             \
    "xor %%r11d, %%r11d\n\t"                                 \
    TORVANE_ADX_LIMB(src, z)                                  \
    TORVANE_ADX_LIMB(src, z)                                  \
    "jmp " lab "4f\n\t"                                      \
    lab "1:\n\t"                                             \
    "xor %%r11d, %%r11d\n\t"                                 \
    TORVANE_ADX_LIMB(src, z)                                  \
    lab "4:\n\t"                                             \
    "jrcxz " lab "6f\n\t"                                    \
    lab "5:\n\t"                                             \
    "mulx (" src ",%%rcx,8), %%r9, %%r10\n\t"                \
    "adcx %%r11, %%r9\n\t"                                   \
    "adox (" z ",%%rcx,8), %%r9\n\t"                         \
    "mov %%r9, (" z ",%%rcx,8)\n\t"                          \
    "mulx 8(" src ",%%rcx,8), %%r9, %%r11\n\t"               \
    "adcx %%r10, %%r9\n\t"                                   \
    "adox 8(" z ",%%rcx,8), %%r9\n\t"                        \
    "mov %%r9, 8(" z ",%%rcx,8)\n\t"                         \
    "mulx 16(" src ",%%rcx,8), %%r9, %%r10\n\t"              \
    "adcx %%r11, %%r9\n\t"                                   \
    "adox 16(" z ",%%rcx,8), %%r9\n\t"                       \
    "mov %%r9, 16(" z ",%%rcx,8)\n\t"                        \
    "mulx 24(" src ",%%rcx,8), %%r9, %%r11\n\t"              \
    "adcx %%r10, %%r9\n\t"                                   \
    "adox 24(" z ",%%rcx,8), %%r9\n\t"                       \
    "mov %%r9, 24(" z ",%%rcx,8)\n\t"                        \
    "lea 4(%%rcx), %%rcx\n\t"                                \
    "jrcxz " lab "6f\n\t"                                    \
    "jmp " lab "5b\n\t"                                      \
    lab "6:\n\t"                                             \
    "adcx %%r8, %%r11\n\t"                                   \
    "adox %%r8, %%r11\n\t"

bool adx_present() {
    // CPUID leaf 7, sub-leaf 0: EBX bit 8 is BMI2, bit 19 is ADX.
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
    return (ebx & (1u << 8)) != 0 && (ebx & (1u << 19)) != 0;
}

const bool adx_available = adx_present();
bool adx_selected = adx_available;

bool fits(int k) { return adx_available && k > 0 && k % 2 == 0; }

#endif

}  // namespace

bool monty_product_adx(const mr_digit* x, const mr_digit* y, const mr_digit* n, int k, std::uint64_t c64,
                       mr_digit* buf) {
#ifdef TORVANE_HAVE_ADX_MONTY
    if (!fits(k)) return false;
    const std::int64_t limbs = k / 2;
    std::memset(buf, 0, sizeof(mr_digit) * static_cast<std::size_t>(2 * k + 4));
    const char* xe = reinterpret_cast<const char*>(x) + 8 * limbs;
    const char* ne = reinterpret_cast<const char*>(n) + 8 * limbs;
    const char* yp = reinterpret_cast<const char*>(y);
    char* re = reinterpret_cast<char*>(buf) + 8 * limbs;  // the window's top, limb L
    const std::int64_t neg = -limbs, rem = limbs % 4;
    for (std::int64_t i = 0; i < limbs; ++i) {
        __asm__ volatile(
            "xor %%r8d, %%r8d\n\t"
            "mov (%[y]), %%rdx\n\t"
            "mov %[neg], %%rcx\n\t"
            TORVANE_ADX_ROW("%[x]", "%[r]", "1")
            "add %%r11, (%[r])\n\t"
            "adc %%r8, 8(%[r])\n\t"
            "mov %[neg], %%rcx\n\t"
            "mov (%[r],%%rcx,8), %%rdx\n\t"
            "imul %[k0], %%rdx\n\t"
            TORVANE_ADX_ROW("%[n]", "%[r]", "2")
            "add %%r11, (%[r])\n\t"
            "adc %%r8, 8(%[r])\n\t"
            :
            : [x] "r"(xe), [n] "r"(ne), [y] "r"(yp), [r] "r"(re), [neg] "r"(neg), [k0] "r"(c64), [rem] "r"(rem)
            : "rcx", "rdx", "r8", "r9", "r10", "r11", "cc", "memory");
        yp += 8;
        re += 8;
    }
    return true;
#else
    (void)x, (void)y, (void)n, (void)k, (void)c64, (void)buf;
    return false;
#endif
}

bool monty_reduce_adx(mr_digit* t, const mr_digit* n, int k, std::uint64_t c64) {
#ifdef TORVANE_HAVE_ADX_MONTY
    if (!fits(k)) return false;
    const std::int64_t limbs = k / 2;
    const char* ne = reinterpret_cast<const char*>(n) + 8 * limbs;
    char* re = reinterpret_cast<char*>(t) + 8 * limbs;
    const std::int64_t neg = -limbs, rem = limbs % 4;
    u64 carry = 0;  // 0 or 1, into the next step's top limb
    for (std::int64_t i = 0; i < limbs; ++i) {
        __asm__ volatile(
            "xor %%r8d, %%r8d\n\t"
            "mov %[neg], %%rcx\n\t"
            "mov (%[r],%%rcx,8), %%rdx\n\t"
            "imul %[k0], %%rdx\n\t"
            TORVANE_ADX_ROW("%[n]", "%[r]", "1")
            "neg %[cy]\n\t"  // CF = the carry in
            "adc %%r11, (%[r])\n\t"
            "setc %b[cy]\n\t"
            "movzbl %b[cy], %k[cy]\n\t"
            : [cy] "+&q"(carry)
            : [n] "r"(ne), [r] "r"(re), [neg] "r"(neg), [k0] "r"(c64), [rem] "r"(rem)
            : "rcx", "rdx", "r8", "r9", "r10", "r11", "cc", "memory");
        re += 8;
    }
    t[2 * k] = static_cast<mr_digit>(carry);
    return true;
#else
    (void)t, (void)n, (void)k, (void)c64;
    return false;
#endif
}

bool monty_square_adx(const mr_digit* x, const mr_digit* n, int k, std::uint64_t c64, mr_digit* buf) {
#ifdef TORVANE_HAVE_ADX_MONTY
    if (!fits(k)) return false;
    sqr_basecase_vv(buf, x, k);
    buf[2 * k] = 0;
    return monty_reduce_adx(buf, n, k, c64);
#else
    (void)x, (void)n, (void)k, (void)c64, (void)buf;
    return false;
#endif
}

bool select_monty_adx(bool use) {
#ifdef TORVANE_HAVE_ADX_MONTY
    if (use && !adx_available) return false;
    adx_selected = use;
    return true;
#else
    return !use;
#endif
}

bool monty_adx_in_use(int k) {
#ifdef TORVANE_HAVE_ADX_MONTY
    return adx_selected && fits(k) && k >= monty_adx_min && !monty_ifma_in_use(k);
#else
    (void)k;
    return false;
#endif
}
