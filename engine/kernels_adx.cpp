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
// that reduction. From 4 to basecase_fixed_max words all three run instead
// on the fixed-length kernels further down: the schoolbook product or
// square, then the reduction, each with every row unrolled for its length.
// The results are word for word those of the other paths: the same q < R
// makes x*y + q*n a multiple of R.
#include "kernels.h"
#include "thresholds.h"

#include <array>
#include <cstring>
#include <utility>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TORVANE_HAVE_ADX_MONTY 1
#include <cpuid.h>
#endif

namespace {

using u64 = std::uint64_t;

#ifdef TORVANE_HAVE_ADX_MONTY

// ---- Rows of any length, eight limbs a pass -----------------------------------
//
// A row adds src * rdx to z over L limbs: the pass below runs eight limbs
// with constant offsets from two pointers (px into src, pz into z), which
// then step on by eight limbs; a row of L limbs enters its first pass at
// limb position e = (8 - L mod 8) mod 8, with both pointers set back by e
// limbs, so that its passes come out even. (Offsets from base and index
// registers, the other way to step through a row, cost half as much time
// again here.) The entry's address is found once per block, from e, by
// TORVANE_PASS_ENTRY. Each pass runs on the two carry chains: adcx adds
// the previous limb's high half, adox z's limb; the pass count in rcx steps
// down through lea and jrcxz, which leave both flags alone. A row is entered
// with r10 = r11 = 0 and both flags clear, and leaves its carry limb in r11
// and the flags' carries, which the caller adds to it (r8 = 0).

// Limb p of a pass: z[p] += src[p] * rdx + the carry limb in cin, the
// product's high half into hi.
#define TORVANE_PASS_LIMB(p, hi, cin)            \
    "mulx 8*" #p "(%[px]), %%r9, %%" hi "\n\t"  \
    "adcx %%" cin ", %%r9\n\t"                   \
    "adox 8*" #p "(%[pz]), %%r9\n\t"             \
    "mov %%r9, 8*" #p "(%[pz])\n\t"

// The pass, with an entry label before each limb (1 for the first, 31 to
// 37 for the others), looping until rcx passes are done.
#define TORVANE_PASS                                                     \
    "1:\n\t" TORVANE_PASS_LIMB(0, "r10", "r11")                          \
    "31:\n\t" TORVANE_PASS_LIMB(1, "r11", "r10")                         \
    "32:\n\t" TORVANE_PASS_LIMB(2, "r10", "r11")                         \
    "33:\n\t" TORVANE_PASS_LIMB(3, "r11", "r10")                         \
    "34:\n\t" TORVANE_PASS_LIMB(4, "r10", "r11")                         \
    "35:\n\t" TORVANE_PASS_LIMB(5, "r11", "r10")                         \
    "36:\n\t" TORVANE_PASS_LIMB(6, "r10", "r11")                         \
    "37:\n\t" TORVANE_PASS_LIMB(7, "r11", "r10")                         \
    "lea 64(%[px]), %[px]\n\t"                                           \
    "lea 64(%[pz]), %[pz]\n\t"                                           \
    "lea -1(%%rcx), %%rcx\n\t"                                           \
    "jrcxz 2f\n\t"                                                       \
    "jmp 1b\n\t"                                                         \
    "2:\n\t"

// ent = the address of the pass's limb e8 / 8 (e8 = 8e, 0 to 56); uses r9.
#define TORVANE_PASS_ENTRY(e8, ent)                                                   \
    "lea 1f(%%rip), " ent "\n\t"                                                     \
    "lea 31f(%%rip), %%r9\n\t cmp $8, " e8 "\n\t cmove %%r9, " ent "\n\t"            \
    "lea 32f(%%rip), %%r9\n\t cmp $16, " e8 "\n\t cmove %%r9, " ent "\n\t"           \
    "lea 33f(%%rip), %%r9\n\t cmp $24, " e8 "\n\t cmove %%r9, " ent "\n\t"           \
    "lea 34f(%%rip), %%r9\n\t cmp $32, " e8 "\n\t cmove %%r9, " ent "\n\t"           \
    "lea 35f(%%rip), %%r9\n\t cmp $40, " e8 "\n\t cmove %%r9, " ent "\n\t"           \
    "lea 36f(%%rip), %%r9\n\t cmp $48, " e8 "\n\t cmove %%r9, " ent "\n\t"           \
    "lea 37f(%%rip), %%r9\n\t cmp $56, " e8 "\n\t cmove %%r9, " ent "\n\t"

// A row's pass geometry for L limbs: the entry offset 8e in bytes and the
// pass count.
struct pass_shape {
    std::int64_t e8;
    std::int64_t passes;
};
pass_shape shape_for(std::int64_t limbs) {
    const std::int64_t e = (8 - limbs % 8) % 8;
    return {8 * e, (limbs + e) / 8};
}

// An address set back by `bytes` from p, as the entry into a pass expects
// (it is only ever used with offsets that land back inside the array).
std::uintptr_t set_back(const void* p, std::int64_t bytes) {
    return reinterpret_cast<std::uintptr_t>(p) - static_cast<std::uintptr_t>(bytes);
}

// r[0 .. 2L-1] = x * y (L >= 1 limbs each, r apart from both): a row per
// limb of y, each storing its carry limb just above its top, where no
// earlier row has written.
void mul_rows(u64* r, const u64* x, const u64* y, std::int64_t limbs) {
    std::memset(r, 0, sizeof(u64) * static_cast<std::size_t>(limbs));
    const pass_shape s = shape_for(limbs);
    std::uintptr_t rb = set_back(r, s.e8), px, pz, ent;
    const std::uintptr_t xb = set_back(x, s.e8);
    std::int64_t rows = limbs;
    __asm__ volatile(
        "xor %%r8d, %%r8d\n\t"
        TORVANE_PASS_ENTRY("%[e8]", "%[ent]")
        "10:\n\t"
        "mov (%[y]), %%rdx\n\t"
        "mov %[rb], %[pz]\n\t"
        "mov %[xb], %[px]\n\t"
        "mov %[passes], %%rcx\n\t"
        "xor %%r10d, %%r10d\n\t"
        "xor %%r11d, %%r11d\n\t"
        "jmp *%[ent]\n\t"
        TORVANE_PASS
        "adcx %%r8, %%r11\n\t"
        "adox %%r8, %%r11\n\t"
        "mov %%r11, (%[pz])\n\t"
        "lea 8(%[y]), %[y]\n\t"
        "lea 8(%[rb]), %[rb]\n\t"
        "decq %[rows]\n\t"
        "jnz 10b\n\t"
        : [rb] "+&r"(rb), [y] "+&r"(y), [rows] "+m"(rows), [px] "=&r"(px), [pz] "=&r"(pz), [ent] "=&r"(ent)
        : [xb] "m"(xb), [e8] "r"(s.e8), [passes] "m"(s.passes)
        : "rcx", "rdx", "r8", "r9", "r10", "r11", "cc", "memory");
}

// Montgomery reduction of t[0 .. 2L-1] (limbs, L >= 1) by the L-limb n, as
// reduce_fixed below does it: row i adds m n at limb i for m = t_i * k0 mod
// 2^64, which clears t_i, and keeps its carry limb there; then t[L .. 2L-1]
// += t[0 .. L-1], the carry out as the 32-bit word after limb 2L-1.
void reduce_rows(u64* t, const u64* n, std::int64_t limbs, u64 k0) {
    const pass_shape s = shape_for(limbs);
    std::uintptr_t tb = set_back(t, s.e8), px, pz, ent;
    const std::uintptr_t nb = set_back(n, s.e8);
    std::int64_t rows = limbs;
    __asm__ volatile(
        "xor %%r8d, %%r8d\n\t"
        TORVANE_PASS_ENTRY("%[e8]", "%[ent]")
        "10:\n\t"
        "mov (%[tb],%[e8]), %%rdx\n\t"
        "imul %[k0], %%rdx\n\t"
        "mov %[tb], %[pz]\n\t"
        "mov %[nb], %[px]\n\t"
        "mov %[passes], %%rcx\n\t"
        "xor %%r10d, %%r10d\n\t"
        "xor %%r11d, %%r11d\n\t"
        "jmp *%[ent]\n\t"
        TORVANE_PASS
        "adcx %%r8, %%r11\n\t"
        "adox %%r8, %%r11\n\t"
        "mov %%r11, (%[tb],%[e8])\n\t"
        "lea 8(%[tb]), %[tb]\n\t"
        "decq %[rows]\n\t"
        "jnz 10b\n\t"
        : [tb] "+&r"(tb), [rows] "+m"(rows), [px] "=&r"(px), [pz] "=&r"(pz), [ent] "=&r"(ent)
        : [nb] "m"(nb), [e8] "r"(s.e8), [k0] "m"(k0), [passes] "m"(s.passes)
        : "rcx", "rdx", "r8", "r9", "r10", "r11", "cc", "memory");
    auto* w = reinterpret_cast<mr_digit*>(t);
    const auto k = static_cast<int>(2 * limbs);
    w[2 * k] = add_vv(w + k, w + k, w, k);
}

// The largest limb count of the fixed-length kernels below (32 words, 1024
// bits); each length is its own unrolled code.
constexpr int fixed_max_limbs = basecase_fixed_max / 2;

// ---- Fixed-length kernels: L limbs, every row unrolled -----------------------
//
// For short operands the rows above cost more in their entry and loop than
// in their products. The kernels below are instantiated for each limb count
// L from 2 to fixed_max_limbs, and the assembler unrolls their rows (.rept
// with .set counters, so each limb's offsets are constants): the
// schoolbook square's triangle and its doubling-and-diagonal pass, the
// schoolbook product, and the word-by-word reduction, which keeps each
// row's carry limb in the limb the row has just cleared and adds those
// carries to the upper half in one pass at the end (a row's carry limb
// belongs above every limb the later rows' m depends on, so it can wait).
// Each row clears both flags with its xor, runs the products' high halves
// on the adcx chain and the sums' limbs on the adox chain, and ends by
// adding both flags into its carry limb, which cannot overflow: a row adds
// less than 2^64 times the window's range to a window below that range.
// r8 is zero throughout.

// One limb of a row at limb j (the counter .Ltv_j, stepped here):
// z[zo] += x[j] * rdx + the carry limb in register cin, the product's high
// half into register hi; or z[zo] = x[j] * rdx + cin for a first row. Rows
// alternate hi and cin between r10 and r11, so no move passes the carry on.
#define TORVANE_FIXED_ADDMUL(hi, cin, zo)            \
    "mulx 8*.Ltv_j(%[x]), %%r9, %%" hi "\n\t"       \
    "adcx %%" cin ", %%r9\n\t"                      \
    "adox 8*(" zo ")(%[r]), %%r9\n\t"               \
    "mov %%r9, 8*(" zo ")(%[r])\n\t"                \
    ".set .Ltv_j, .Ltv_j+1\n\t"
#define TORVANE_FIXED_MUL(hi, cin, zo)               \
    "mulx 8*.Ltv_j(%[x]), %%r9, %%" hi "\n\t"       \
    "adcx %%" cin ", %%r9\n\t"                      \
    "mov %%r9, 8*(" zo ")(%[r])\n\t"                \
    ".set .Ltv_j, .Ltv_j+1\n\t"
// A row of `count` limbs from x[j0], taking the carry limb in r11 and the
// two flags' carries (all zero at a row's start) and leaving its carry
// limb in r11; limb j of the row lands at z[zo].
// `limb` is TORVANE_FIXED_ADDMUL or TORVANE_FIXED_MUL.
#define TORVANE_FIXED_ROW(limb, j0, count, zo)        \
    ".set .Ltv_j, " j0 "\n\t"                        \
    ".rept (" count ")>>1\n\t"                       \
    limb("r10", "r11", zo)                           \
    limb("r11", "r10", zo)                           \
    ".endr\n\t"                                      \
    ".if (" count ")&1\n\t"                          \
    limb("r10", "r11", zo)                           \
    "mov %%r10, %%r11\n\t"                           \
    ".endif\n\t"

// r[0 .. 2L-1] = x^2 (limbs): the cross products x_i x_j (i < j) row by
// row, row i landing at limb 2i+1 with its carry limb at i+L, where no
// earlier row has written; then r = 2r + the squares x_i^2 at limb 2i, in
// one pass with the doubling on adcx and the squares on adox. The cross
// sum is below x^2 / 2, so the doubling loses no bit.
template <int L>
void sqr_fixed(u64* r, const u64* x) {
    static_assert(L >= 2);
    __asm__ volatile(
        "xor %%r8d, %%r8d\n\t"
        "mov %%r8, (%[r])\n\t"
        "mov %%r8, 8*(2*%c[L]-1)(%[r])\n\t"
        "mov (%[x]), %%rdx\n\t"
        "xor %%r11d, %%r11d\n\t"
        TORVANE_FIXED_ROW(TORVANE_FIXED_MUL, "1", "%c[L]-1", ".Ltv_j")
        "adcx %%r8, %%r11\n\t"
        "mov %%r11, 8*%c[L](%[r])\n\t"
        ".set .Ltv_i, 1\n\t"
        ".rept %c[L]-2\n\t"
        "mov 8*.Ltv_i(%[x]), %%rdx\n\t"
        "xor %%r11d, %%r11d\n\t"
        TORVANE_FIXED_ROW(TORVANE_FIXED_ADDMUL, ".Ltv_i+1", "%c[L]-1-.Ltv_i", ".Ltv_i+.Ltv_j")
        "adcx %%r8, %%r11\n\t"
        "adox %%r8, %%r11\n\t"
        "mov %%r11, 8*(.Ltv_i+%c[L])(%[r])\n\t"
        ".set .Ltv_i, .Ltv_i+1\n\t"
        ".endr\n\t"
        "xor %%r8d, %%r8d\n\t"
        ".set .Ltv_i, 0\n\t"
        ".rept %c[L]\n\t"
        "mov 8*.Ltv_i(%[x]), %%rdx\n\t"
        "mulx %%rdx, %%r9, %%r10\n\t"
        "mov 16*.Ltv_i(%[r]), %%r11\n\t"
        "adcx %%r11, %%r11\n\t"
        "adox %%r9, %%r11\n\t"
        "mov %%r11, 16*.Ltv_i(%[r])\n\t"
        "mov 16*.Ltv_i+8(%[r]), %%r11\n\t"
        "adcx %%r11, %%r11\n\t"
        "adox %%r10, %%r11\n\t"
        "mov %%r11, 16*.Ltv_i+8(%[r])\n\t"
        ".set .Ltv_i, .Ltv_i+1\n\t"
        ".endr\n\t"
        :
        : [r] "r"(r), [x] "r"(x), [L] "n"(L)
        : "rdx", "r8", "r9", "r10", "r11", "cc", "memory");
}

// r[0 .. 2L-1] = x * y (L limbs each): the first row stores, the other L-1
// add, one row per limb of y, each row's carry limb stored just above it.
template <int L>
void mul_fixed(u64* r, const u64* x, const u64* y) {
    std::int64_t rows = L - 1;
    __asm__ volatile(
        "xor %%r8d, %%r8d\n\t"
        "mov (%[y]), %%rdx\n\t"
        "xor %%r11d, %%r11d\n\t"
        TORVANE_FIXED_ROW(TORVANE_FIXED_MUL, "0", "%c[L]", ".Ltv_j")
        "adcx %%r8, %%r11\n\t"
        "mov %%r11, 8*%c[L](%[r])\n\t"
        "1:\n\t"
        "lea 8(%[y]), %[y]\n\t"
        "lea 8(%[r]), %[r]\n\t"
        "mov (%[y]), %%rdx\n\t"
        "xor %%r11d, %%r11d\n\t"
        TORVANE_FIXED_ROW(TORVANE_FIXED_ADDMUL, "0", "%c[L]", ".Ltv_j")
        "adcx %%r8, %%r11\n\t"
        "adox %%r8, %%r11\n\t"
        "mov %%r11, 8*%c[L](%[r])\n\t"
        "dec %[rows]\n\t"
        "jnz 1b\n\t"
        : [r] "+r"(r), [y] "+r"(y), [rows] "+r"(rows)
        : [x] "r"(x), [L] "n"(L)
        : "rdx", "r8", "r9", "r10", "r11", "cc", "memory");
}

// Montgomery reduction of t[0 .. 2L-1] (limbs) by the L-limb n: row i adds
// m n at limb i for m = t_i * k0 mod 2^64, which clears t_i, and keeps its
// carry limb there; then t[L .. 2L-1] += t[0 .. L-1], the carry out as the
// 32-bit word after limb 2L-1. A row's lowest limb becomes zero and is not
// stored (its carry limb goes there at the end); limb i+1 is final once
// row i has added its second limb, so it is copied there into rcx for the
// next row's m, which then need not wait for it to come back from memory
// (imul itself would clobber the flags in the middle of the row).
template <int L>
void reduce_fixed(u64* t, const u64* n, u64 k0) {
    std::int64_t rows = L;
    const u64* x = n;  // the rows' multiplicand, named as TORVANE_FIXED_ADDMUL expects
    __asm__ volatile(
        "xor %%r8d, %%r8d\n\t"
        "mov (%[r]), %%rcx\n\t"
        "1:\n\t"
        "mov %%rcx, %%rdx\n\t"
        "imul %[k0], %%rdx\n\t"
        "xor %%r11d, %%r11d\n\t"
        "mulx (%[x]), %%r9, %%r10\n\t"
        "adox (%[r]), %%r9\n\t"
        "mulx 8(%[x]), %%r9, %%r11\n\t"
        "adcx %%r10, %%r9\n\t"
        "adox 8(%[r]), %%r9\n\t"
        "mov %%r9, 8(%[r])\n\t"
        "mov %%r9, %%rcx\n\t"
        TORVANE_FIXED_ROW(TORVANE_FIXED_ADDMUL, "2", "%c[L]-2", ".Ltv_j")
        "adcx %%r8, %%r11\n\t"
        "adox %%r8, %%r11\n\t"
        "mov %%r11, (%[r])\n\t"
        "lea 8(%[r]), %[r]\n\t"
        "dec %[rows]\n\t"
        "jnz 1b\n\t"
        "clc\n\t"
        ".set .Ltv_j, 0\n\t"
        ".rept %c[L]\n\t"
        "mov 8*(.Ltv_j-%c[L])(%[r]), %%r9\n\t"
        "adc %%r9, 8*.Ltv_j(%[r])\n\t"
        ".set .Ltv_j, .Ltv_j+1\n\t"
        ".endr\n\t"
        "setc %%r8b\n\t"
        "movl %%r8d, 8*%c[L](%[r])\n\t"
        : [r] "+r"(t), [rows] "+r"(rows)
        : [x] "r"(x), [k0] "r"(k0), [L] "n"(L)
        : "rcx", "rdx", "r8", "r9", "r10", "r11", "cc", "memory");
}

#undef TORVANE_FIXED_ROW
#undef TORVANE_FIXED_ADDMUL
#undef TORVANE_FIXED_MUL

// The Montgomery square and product on the kernels for L limbs, in the
// form of monty_square_vv and monty_product_vv (k = 2L).
template <int L>
void monty_square_fixed(const mr_digit* x, const mr_digit* n, int, std::uint64_t c64, mr_digit* buf) {
    sqr_fixed<L>(reinterpret_cast<u64*>(buf), reinterpret_cast<const u64*>(x));
    reduce_fixed<L>(reinterpret_cast<u64*>(buf), reinterpret_cast<const u64*>(n), c64);
}

template <int L>
void monty_product_fixed(const mr_digit* x, const mr_digit* y, const mr_digit* n, int, std::uint64_t c64,
                         mr_digit* buf) {
    mul_fixed<L>(reinterpret_cast<u64*>(buf), reinterpret_cast<const u64*>(x), reinterpret_cast<const u64*>(y));
    reduce_fixed<L>(reinterpret_cast<u64*>(buf), reinterpret_cast<const u64*>(n), c64);
}

// The schoolbook square and product on the kernels for L limbs, in the form
// of basecase_square_kernel and basecase_product_kernel.
template <int L>
void sqr_fixed_words(mr_digit* r, const mr_digit* x) {
    sqr_fixed<L>(reinterpret_cast<u64*>(r), reinterpret_cast<const u64*>(x));
}

template <int L>
void mul_fixed_words(mr_digit* r, const mr_digit* x, const mr_digit* y) {
    mul_fixed<L>(reinterpret_cast<u64*>(r), reinterpret_cast<const u64*>(x), reinterpret_cast<const u64*>(y));
}

struct fixed_set {
    void (*sqr)(u64*, const u64*);
    void (*mul)(u64*, const u64*, const u64*);
    basecase_square_kernel sqr_words;
    basecase_product_kernel mul_words;
    void (*reduce)(u64*, const u64*, u64);
    monty_square_kernel monty_square;
    monty_product_kernel monty_product;
};

template <int... L>
constexpr std::array<fixed_set, sizeof...(L)> make_fixed_sets(std::integer_sequence<int, L...>) {
    return {fixed_set{sqr_fixed<L + 2>, mul_fixed<L + 2>, sqr_fixed_words<L + 2>, mul_fixed_words<L + 2>,
                      reduce_fixed<L + 2>, monty_square_fixed<L + 2>,
                      monty_product_fixed<L + 2>}...};
}

// Index L - 2 holds the kernels for L limbs.
constexpr auto fixed_sets = make_fixed_sets(std::make_integer_sequence<int, fixed_max_limbs - 1>{});

bool adx_present() {
    // CPUID leaf 7, sub-leaf 0: EBX bit 8 is BMI2, bit 19 is ADX.
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
    return (ebx & (1u << 8)) != 0 && (ebx & (1u << 19)) != 0;
}

const bool adx_available = adx_present();
bool adx_selected = adx_available;

bool fits(int k) { return adx_available && k > 0 && k % 2 == 0; }

// The fixed-length kernels for k words, or null where k is not an even
// 4 to 2 fixed_max_limbs.
const fixed_set* fixed_for(int k) {
    if (k % 2 != 0 || k < 4 || k > 2 * fixed_max_limbs) return nullptr;
    return &fixed_sets[static_cast<std::size_t>(k / 2 - 2)];
}

u64* limbs_of(mr_digit* p) { return reinterpret_cast<u64*>(p); }
const u64* limbs_of(const mr_digit* p) { return reinterpret_cast<const u64*>(p); }

#endif

}  // namespace

bool monty_product_adx(const mr_digit* x, const mr_digit* y, const mr_digit* n, int k, std::uint64_t c64,
                       mr_digit* buf) {
#ifdef TORVANE_HAVE_ADX_MONTY
    if (!fits(k)) return false;
    if (const fixed_set* f = fixed_for(k)) {
        f->mul(limbs_of(buf), limbs_of(x), limbs_of(y));
        f->reduce(limbs_of(buf), limbs_of(n), c64);
        return true;
    }
    mul_rows(limbs_of(buf), limbs_of(x), limbs_of(y), k / 2);
    reduce_rows(limbs_of(buf), limbs_of(n), k / 2, c64);
    return true;
#else
    (void)x, (void)y, (void)n, (void)k, (void)c64, (void)buf;
    return false;
#endif
}

bool monty_reduce_adx(mr_digit* t, const mr_digit* n, int k, std::uint64_t c64) {
#ifdef TORVANE_HAVE_ADX_MONTY
    if (!fits(k)) return false;
    if (const fixed_set* f = fixed_for(k)) {
        f->reduce(limbs_of(t), limbs_of(n), c64);
        return true;
    }
    reduce_rows(limbs_of(t), limbs_of(n), k / 2, c64);
    return true;
#else
    (void)t, (void)n, (void)k, (void)c64;
    return false;
#endif
}

bool monty_square_adx(const mr_digit* x, const mr_digit* n, int k, std::uint64_t c64, mr_digit* buf) {
#ifdef TORVANE_HAVE_ADX_MONTY
    if (!fits(k)) return false;
    if (const fixed_set* f = fixed_for(k)) {
        f->sqr(limbs_of(buf), limbs_of(x));
        f->reduce(limbs_of(buf), limbs_of(n), c64);
        return true;
    }
    sqr_basecase_vv(buf, x, k);
    buf[2 * k] = 0;
    return monty_reduce_adx(buf, n, k, c64);
#else
    (void)x, (void)n, (void)k, (void)c64, (void)buf;
    return false;
#endif
}

bool sqr_basecase_fixed(mr_digit* r, const mr_digit* x, int m) {
#ifdef TORVANE_HAVE_ADX_MONTY
    const fixed_set* f = adx_available ? fixed_for(m) : nullptr;
    if (f == nullptr) return false;
    f->sqr(limbs_of(r), limbs_of(x));
    return true;
#else
    (void)r, (void)x, (void)m;
    return false;
#endif
}

bool mul_basecase_fixed(mr_digit* r, const mr_digit* x, const mr_digit* y, int m) {
#ifdef TORVANE_HAVE_ADX_MONTY
    const fixed_set* f = adx_available ? fixed_for(m) : nullptr;
    if (f == nullptr) return false;
    f->mul(limbs_of(r), limbs_of(x), limbs_of(y));
    return true;
#else
    (void)r, (void)x, (void)y, (void)m;
    return false;
#endif
}

basecase_square_kernel basecase_square_for(int m) {
#ifdef TORVANE_HAVE_ADX_MONTY
    if (current_kernel_path() == kernel_path::bmi2_adx)
        if (const fixed_set* f = fixed_for(m)) return f->sqr_words;
#else
    (void)m;
#endif
    return nullptr;
}

basecase_product_kernel basecase_product_for(int m) {
#ifdef TORVANE_HAVE_ADX_MONTY
    if (current_kernel_path() == kernel_path::bmi2_adx)
        if (const fixed_set* f = fixed_for(m)) return f->mul_words;
#else
    (void)m;
#endif
    return nullptr;
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

monty_square_kernel monty_square_for(int k) {
#ifdef TORVANE_HAVE_ADX_MONTY
    if (monty_adx_in_use(k))
        if (const fixed_set* f = fixed_for(k)) return f->monty_square;
#else
    (void)k;
#endif
    return monty_square_vv;
}

monty_product_kernel monty_product_for(int k) {
#ifdef TORVANE_HAVE_ADX_MONTY
    if (monty_adx_in_use(k))
        if (const fixed_set* f = fixed_for(k)) return f->monty_product;
#else
    (void)k;
#endif
    return nullptr;
}

bool monty_adx_in_use(int k) {
#ifdef TORVANE_HAVE_ADX_MONTY
    return adx_selected && fits(k) && k >= monty_adx_min && !monty_ifma_in_use(k);
#else
    (void)k;
    return false;
#endif
}
