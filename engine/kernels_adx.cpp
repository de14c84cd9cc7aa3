// The Montgomery product and reduction on BMI2/ADX (mulx, adcx, adox), for
// moduli of a whole number of four-limb blocks (k a multiple of 8 words).
//
// The product runs in the coarsely integrated operand scanning order, with
// every step of both rows in one block of assembly: step i adds x * y_i to
// the window of L + 2 limbs at limb i of buf, then m * n for m = (the
// window's lowest limb) * c64 mod 2^64, which clears that limb; the next
// step's window starts one limb up, so nothing is shifted. Each row runs
// on two carry chains, the product's high halves on adcx and the window's
// limbs on adox, four limbs a pass, the index climbing to zero through lea
// and jrcxz, which leave both flags alone. Between steps the window holds
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

// One row on the limbs below label %[lab]: z[-L .. -1] += src[-L .. -1] * rdx
// (z and src point past the row's top, rcx = -L, a multiple of four), the
// carry limb out in r11. Expects r8 = 0 and both flags clear (xor r11d).
#define TORVANE_ADX_ROW(src, z, lab)                         \
    "xor %%r11d, %%r11d\n\t"                                  \
    lab ":\n\t"                                               \
    "mulx (" src ",%%rcx,8), %%r9, %%r10\n\t"                 \
    "adcx %%r11, %%r9\n\t"                                    \
    "adox (" z ",%%rcx,8), %%r9\n\t"                          \
    "mov %%r9, (" z ",%%rcx,8)\n\t"                           \
    "mulx 8(" src ",%%rcx,8), %%r9, %%r11\n\t"                \
    "adcx %%r10, %%r9\n\t"                                    \
    "adox 8(" z ",%%rcx,8), %%r9\n\t"                         \
    "mov %%r9, 8(" z ",%%rcx,8)\n\t"                          \
    "mulx 16(" src ",%%rcx,8), %%r9, %%r10\n\t"               \
    "adcx %%r11, %%r9\n\t"                                    \
    "adox 16(" z ",%%rcx,8), %%r9\n\t"                        \
    "mov %%r9, 16(" z ",%%rcx,8)\n\t"                         \
    "mulx 24(" src ",%%rcx,8), %%r9, %%r11\n\t"               \
    "adcx %%r10, %%r9\n\t"                                    \
    "adox 24(" z ",%%rcx,8), %%r9\n\t"                        \
    "mov %%r9, 24(" z ",%%rcx,8)\n\t"                         \
    "lea 4(%%rcx), %%rcx\n\t"                                 \
    "jrcxz " lab "f\n\t"                                      \
    "jmp " lab "b\n\t"                                        \
    lab ":\n\t"                                               \
    "adcx %%r8, %%r11\n\t"                                    \
    "adox %%r8, %%r11\n\t"

bool adx_present() {
    // CPUID leaf 7, sub-leaf 0: EBX bit 8 is BMI2, bit 19 is ADX.
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
    return (ebx & (1u << 8)) != 0 && (ebx & (1u << 19)) != 0;
}

const bool adx_available = adx_present();
bool adx_selected = adx_available;

bool fits(int k) { return adx_available && k > 0 && k % 8 == 0; }

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
    const std::int64_t neg = -limbs;
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
            : [x] "r"(xe), [n] "r"(ne), [y] "r"(yp), [r] "r"(re), [neg] "r"(neg), [k0] "r"(c64)
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
    const std::int64_t neg = -limbs;
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
            : [n] "r"(ne), [r] "r"(re), [neg] "r"(neg), [k0] "r"(c64)
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
