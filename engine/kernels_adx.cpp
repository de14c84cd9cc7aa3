// The Montgomery product, square and reduction on BMI2/ADX (mulx, adcx,
// adox), for moduli of a whole number of 64-bit limbs (k even).
//
// Each is the schoolbook product (or the square: the cross products once,
// doubled, plus the diagonal) followed by the word-by-word reduction, all
// on rows that add a limb times a vector to a window of memory on two carry
// chains. From 4 to basecase_fixed_max words they run on the fixed-length
// kernels further down, each with every row unrolled for its length;
// above, on rows of any length that run sixteen limbs a pass (below), and
// the reduction of a multiple of 8 limbs eight rows at a time with its
// window of t in registers (reduce_windows). A product formed whole and then reduced costs as many limb products as
// the reduction interleaved with it, and its rows need no m; so, from 34
// words, does a Karatsuba product or square reduced apart, which the
// callers choose there (docs/tuning.md).
//
// The reduction on rows keeps each row's carry limb in the limb the row has
// cleared and adds those carries to the upper half in one pass at the end
// (a row's carry belongs above every limb the later rows' m depends on,
// so it can wait). The results are word for word those of the other
// paths: the same q < R makes x*y + q*n a multiple of R.
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

// ---- Rows of any length, sixteen limbs a pass ---------------------------------
//
// A row adds src * rdx to z over L limbs: the pass below runs sixteen limbs
// with constant offsets from two pointers (px into src, pz into z), which
// then step on by sixteen limbs; a row of L limbs enters its first pass at
// limb position e = (16 - L mod 16) mod 16, with both pointers set back by
// e limbs, so that its passes come out even. (Offsets from base and index
// registers, the other way to step through a row, cost half as much time
// again here; passes of eight limbs 4% more than sixteen.) The entry's
// address is found once per block, from e, by TORVANE_PASS_ENTRY. Each
// pass runs on the two carry chains: adcx adds the previous limb's high
// half, adox z's limb; the pass count in rcx steps down through lea and
// jrcxz, which leave both flags alone. A row is entered with r10 = r11 = 0
// and both flags clear, and leaves its carry limb in r11 and the flags'
// carries, which the caller adds to it (r8 = 0).

// Limb p of a pass: z[p] += src[p] * rdx + the carry limb in cin, the
// product's high half into hi.
#define TORVANE_PASS_LIMB(p, hi, cin)            \
    "mulx 8*" #p "(%[px]), %%r9, %%" hi "\n\t"  \
    "adcx %%" cin ", %%r9\n\t"                   \
    "adox 8*" #p "(%[pz]), %%r9\n\t"             \
    "mov %%r9, 8*" #p "(%[pz])\n\t"

// The pass, with an entry label before each limb (1 for the first, then
// 31 to 39 and 41 to 46), looping until rcx passes are done.
#define TORVANE_PASS                                                            \
    "1:\n\t" TORVANE_PASS_LIMB(0, "r10", "r11")                                 \
    "31:\n\t" TORVANE_PASS_LIMB(1, "r11", "r10")                                \
    "32:\n\t" TORVANE_PASS_LIMB(2, "r10", "r11")                                \
    "33:\n\t" TORVANE_PASS_LIMB(3, "r11", "r10")                                \
    "34:\n\t" TORVANE_PASS_LIMB(4, "r10", "r11")                                \
    "35:\n\t" TORVANE_PASS_LIMB(5, "r11", "r10")                                \
    "36:\n\t" TORVANE_PASS_LIMB(6, "r10", "r11")                                \
    "37:\n\t" TORVANE_PASS_LIMB(7, "r11", "r10")                                \
    "38:\n\t" TORVANE_PASS_LIMB(8, "r10", "r11")                                \
    "39:\n\t" TORVANE_PASS_LIMB(9, "r11", "r10")                                \
    "41:\n\t" TORVANE_PASS_LIMB(10, "r10", "r11")                               \
    "42:\n\t" TORVANE_PASS_LIMB(11, "r11", "r10")                               \
    "43:\n\t" TORVANE_PASS_LIMB(12, "r10", "r11")                               \
    "44:\n\t" TORVANE_PASS_LIMB(13, "r11", "r10")                               \
    "45:\n\t" TORVANE_PASS_LIMB(14, "r10", "r11")                               \
    "46:\n\t" TORVANE_PASS_LIMB(15, "r11", "r10")                               \
    "lea 128(%[px]), %[px]\n\t"                                                 \
    "lea 128(%[pz]), %[pz]\n\t"                                                 \
    "lea -1(%%rcx), %%rcx\n\t"                                                  \
    "jrcxz 2f\n\t"                                                              \
    "jmp 1b\n\t"                                                                \
    "2:\n\t"

// ent = the address of the pass's limb e8 / 8 (e8 = 8e, 0 to 120); uses r9.
#define TORVANE_PASS_ENTRY(e8, ent)                                                         \
    "lea 1f(%%rip), " ent "\n\t"                                                            \
    "lea 31f(%%rip), %%r9\n\t cmp $8, " e8 "\n\t cmove %%r9, " ent "\n\t"                   \
    "lea 32f(%%rip), %%r9\n\t cmp $16, " e8 "\n\t cmove %%r9, " ent "\n\t"                  \
    "lea 33f(%%rip), %%r9\n\t cmp $24, " e8 "\n\t cmove %%r9, " ent "\n\t"                  \
    "lea 34f(%%rip), %%r9\n\t cmp $32, " e8 "\n\t cmove %%r9, " ent "\n\t"                  \
    "lea 35f(%%rip), %%r9\n\t cmp $40, " e8 "\n\t cmove %%r9, " ent "\n\t"                  \
    "lea 36f(%%rip), %%r9\n\t cmp $48, " e8 "\n\t cmove %%r9, " ent "\n\t"                  \
    "lea 37f(%%rip), %%r9\n\t cmp $56, " e8 "\n\t cmove %%r9, " ent "\n\t"                  \
    "lea 38f(%%rip), %%r9\n\t cmp $64, " e8 "\n\t cmove %%r9, " ent "\n\t"                  \
    "lea 39f(%%rip), %%r9\n\t cmp $72, " e8 "\n\t cmove %%r9, " ent "\n\t"                  \
    "lea 41f(%%rip), %%r9\n\t cmp $80, " e8 "\n\t cmove %%r9, " ent "\n\t"                  \
    "lea 42f(%%rip), %%r9\n\t cmp $88, " e8 "\n\t cmove %%r9, " ent "\n\t"                  \
    "lea 43f(%%rip), %%r9\n\t cmp $96, " e8 "\n\t cmove %%r9, " ent "\n\t"                  \
    "lea 44f(%%rip), %%r9\n\t cmp $104, " e8 "\n\t cmove %%r9, " ent "\n\t"                 \
    "lea 45f(%%rip), %%r9\n\t cmp $112, " e8 "\n\t cmove %%r9, " ent "\n\t"                 \
    "lea 46f(%%rip), %%r9\n\t cmp $120, " e8 "\n\t cmove %%r9, " ent "\n\t"

// A row's pass geometry for L limbs: the entry offset 8e in bytes and the
// pass count.
constexpr std::int64_t pass_limbs = 16;
struct pass_shape {
    std::int64_t e8;
    std::int64_t passes;
};
pass_shape shape_for(std::int64_t limbs) {
    const std::int64_t e = (pass_limbs - limbs % pass_limbs) % pass_limbs;
    return {8 * e, (limbs + e) / pass_limbs};
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

// r[0 .. 2L-1] = x^2 (L >= 2 limbs, r apart from x): the cross products
// x_i x_j (i < j) once, row i from limb 2i+1 over the L-1-i limbs above x_i
// with its carry limb at i+L, where no earlier row has written; then
// doubled, with the squares on the diagonal, in one pass (dbl_addsqr_vv).
// Each row is one limb shorter than the one before, so it enters the pass
// one position later, and once in sixteen with one pass fewer; the entries'
// addresses are found once, into a table.
void sqr_rows(u64* r, const u64* x, std::int64_t limbs) {
    if (limbs < 2) {
        mul_rows(r, x, x, limbs);
        return;
    }
    std::memset(r, 0, sizeof(u64) * 2 * static_cast<std::size_t>(limbs));
    pass_shape s = shape_for(limbs - 1);
    std::uintptr_t entries[pass_limbs];
    const u64* xi = x;
    u64* ri = r + 1;
    std::uintptr_t px, pz;
    std::int64_t rows = limbs - 1;
    __asm__ volatile(
        "xor %%r8d, %%r8d\n\t"
        "lea 1f(%%rip), %%r9\n\t mov %%r9, 0(%[tab])\n\t"
        "lea 31f(%%rip), %%r9\n\t mov %%r9, 8(%[tab])\n\t"
        "lea 32f(%%rip), %%r9\n\t mov %%r9, 16(%[tab])\n\t"
        "lea 33f(%%rip), %%r9\n\t mov %%r9, 24(%[tab])\n\t"
        "lea 34f(%%rip), %%r9\n\t mov %%r9, 32(%[tab])\n\t"
        "lea 35f(%%rip), %%r9\n\t mov %%r9, 40(%[tab])\n\t"
        "lea 36f(%%rip), %%r9\n\t mov %%r9, 48(%[tab])\n\t"
        "lea 37f(%%rip), %%r9\n\t mov %%r9, 56(%[tab])\n\t"
        "lea 38f(%%rip), %%r9\n\t mov %%r9, 64(%[tab])\n\t"
        "lea 39f(%%rip), %%r9\n\t mov %%r9, 72(%[tab])\n\t"
        "lea 41f(%%rip), %%r9\n\t mov %%r9, 80(%[tab])\n\t"
        "lea 42f(%%rip), %%r9\n\t mov %%r9, 88(%[tab])\n\t"
        "lea 43f(%%rip), %%r9\n\t mov %%r9, 96(%[tab])\n\t"
        "lea 44f(%%rip), %%r9\n\t mov %%r9, 104(%[tab])\n\t"
        "lea 45f(%%rip), %%r9\n\t mov %%r9, 112(%[tab])\n\t"
        "lea 46f(%%rip), %%r9\n\t mov %%r9, 120(%[tab])\n\t"
        "10:\n\t"
        "mov (%[xi]), %%rdx\n\t"
        "lea 8(%[xi]), %[px]\n\t"
        "sub %[e8], %[px]\n\t"
        "mov %[ri], %[pz]\n\t"
        "sub %[e8], %[pz]\n\t"
        "mov %[passes], %%rcx\n\t"
        "xor %%r10d, %%r10d\n\t"
        "xor %%r11d, %%r11d\n\t"
        "jmp *(%[tab],%[e8])\n\t"
        TORVANE_PASS
        "adcx %%r8, %%r11\n\t"
        "adox %%r8, %%r11\n\t"
        "mov %%r11, (%[pz])\n\t"
        "lea 8(%[xi]), %[xi]\n\t"
        "lea 16(%[ri]), %[ri]\n\t"
        // The next row, a limb shorter: one entry later, or at the first
        // limb of one pass fewer.
        "add $8, %[e8]\n\t"
        "cmp $128, %[e8]\n\t"
        "jne 11f\n\t"
        "xor %k[e8], %k[e8]\n\t"
        "decq %[passes]\n\t"
        "11:\n\t"
        "decq %[rows]\n\t"
        "jnz 10b\n\t"
        : [xi] "+&r"(xi), [ri] "+&r"(ri), [e8] "+&r"(s.e8), [passes] "+m"(s.passes), [rows] "+m"(rows),
          [px] "=&r"(px), [pz] "=&r"(pz)
        : [tab] "r"(entries)
        : "rcx", "rdx", "r8", "r9", "r10", "r11", "cc", "memory");
    auto* w = reinterpret_cast<mr_digit*>(r);
    dbl_addsqr_vv(w, reinterpret_cast<const mr_digit*>(x), static_cast<int>(2 * limbs));
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

// ---- Reduction eight rows at a time, the window in registers --------------
//
// For L a multiple of 8: the rows of a group of eight (rows g to g+7)
// run over n eight limbs (a chunk) at a time, with the eight limbs of t
// the chunk's rows add to held in r8-r15 (the window), so that each limb
// product costs one load (its limb of n) and two additions into
// registers: the low halves on the adcx chain, the high halves on the
// adox chain. Row r of a chunk adds m_r times the chunk's limbs at
// window limb 0, which is then final and leaves the window (stored), and
// the register it held takes the new top limb; after eight rows the
// registers are back in their first order. In the first chunk the rows
// find their m = (window limb 0) * k0 and keep it for the later chunks.
// Between chunks the window (below 2^512) takes the next eight limbs of t
// with the carry bit out of the previous such addition; a row adds at
// most m times a chunk below 2^512 to a window below 2^512, so its nine
// limbs never overflow. A group leaves its carry bit at limb g + L + 8;
// the caller adds it there.

struct window_state {
    u64 m[8];   // the group's multipliers
    u64 k0;     // -1/n mod 2^64
    u64 carry;  // minus the carry bit into the window's next chunk
    u64 n_end;  // the address after n's last limb
};

// A limb product of a row: window limb j gets the low half, limb j+1 the
// high half.
#define TORVANE_WIN_LIMB(j, wl, wh)                  \
    "mulx 8*" #j "(%%rsi), %%rax, %%rcx\n\t"        \
    "adcx %%rax, %%" wl "\n\t"                      \
    "adox %%rcx, %%" wh "\n\t"

// Limbs 1 to 7 of a row over the window w0 .. w7: limb 7's high half goes
// straight into w0's register (w0 has left the window by then), which
// becomes the top limb and takes both chains' carries from rbp = 0.
#define TORVANE_WIN_REST(w0, w1, w2, w3, w4, w5, w6, w7)                                      \
    TORVANE_WIN_LIMB(1, w1, w2) TORVANE_WIN_LIMB(2, w2, w3) TORVANE_WIN_LIMB(3, w3, w4)        \
    TORVANE_WIN_LIMB(4, w4, w5) TORVANE_WIN_LIMB(5, w5, w6) TORVANE_WIN_LIMB(6, w6, w7)        \
    "mulx 56(%%rsi), %%rax, %%" w0 "\n\t"                                                    \
    "adcx %%rax, %%" w7 "\n\t"                                                               \
    "adox %%rbp, %%" w0 "\n\t"                                                               \
    "adcx %%rbp, %%" w0 "\n\t"

// Row r of the first chunk: m = w0 * k0 (kept), which clears w0.
#define TORVANE_WIN_FIRST_ROW(r, w0, w1, w2, w3, w4, w5, w6, w7)   \
    "mov %%" w0 ", %%rdx\n\t"                                      \
    "imul 64(%%rbx), %%rdx\n\t"                                    \
    "mov %%rdx, 8*" #r "(%%rbx)\n\t"                               \
    "xor %%eax, %%eax\n\t"                                         \
    TORVANE_WIN_LIMB(0, w0, w1)                                    \
    TORVANE_WIN_REST(w0, w1, w2, w3, w4, w5, w6, w7)

// Row r of a later chunk: w0, final after the first product, goes to t.
#define TORVANE_WIN_ROW(r, w0, w1, w2, w3, w4, w5, w6, w7)         \
    "mov 8*" #r "(%%rbx), %%rdx\n\t"                               \
    "xor %%eax, %%eax\n\t"                                         \
    TORVANE_WIN_LIMB(0, w0, w1)                                    \
    "mov %%" w0 ", 8*" #r "(%%rdi)\n\t"                            \
    TORVANE_WIN_REST(w0, w1, w2, w3, w4, w5, w6, w7)

#define TORVANE_WIN_ROWS(row)                                              \
    row(0, "r8", "r9", "r10", "r11", "r12", "r13", "r14", "r15")           \
    row(1, "r9", "r10", "r11", "r12", "r13", "r14", "r15", "r8")           \
    row(2, "r10", "r11", "r12", "r13", "r14", "r15", "r8", "r9")           \
    row(3, "r11", "r12", "r13", "r14", "r15", "r8", "r9", "r10")           \
    row(4, "r12", "r13", "r14", "r15", "r8", "r9", "r10", "r11")           \
    row(5, "r13", "r14", "r15", "r8", "r9", "r10", "r11", "r12")           \
    row(6, "r14", "r15", "r8", "r9", "r10", "r11", "r12", "r13")           \
    row(7, "r15", "r8", "r9", "r10", "r11", "r12", "r13", "r14")

// Window += t[0 .. 7] (at rdi) + the carry kept in s, the carry out kept.
#define TORVANE_WIN_TAKE_T                                                              \
    "mov 72(%%rbx), %%rax\n\t neg %%rax\n\t"                                            \
    "adc (%%rdi), %%r8\n\t adc 8(%%rdi), %%r9\n\t adc 16(%%rdi), %%r10\n\t"             \
    "adc 24(%%rdi), %%r11\n\t adc 32(%%rdi), %%r12\n\t adc 40(%%rdi), %%r13\n\t"        \
    "adc 48(%%rdi), %%r14\n\t adc 56(%%rdi), %%r15\n\t"                                 \
    "sbb %%rax, %%rax\n\t mov %%rax, 72(%%rbx)\n\t"

// Rows g .. g+7 (t at limb g) over the L-limb n (s->n_end set): returns the
// carry bit at limb g + L + 8.
u64 reduce_group(u64* t, const u64* n, window_state* s) {
    u64 carry;
    __asm__ volatile(
        // rbp, the zero, is saved below the red zone.
        "sub $128, %%rsp\n\t push %%rbp\n\t xor %%ebp, %%ebp\n\t"
        "mov (%%rdi), %%r8\n\t mov 8(%%rdi), %%r9\n\t mov 16(%%rdi), %%r10\n\t mov 24(%%rdi), %%r11\n\t"
        "mov 32(%%rdi), %%r12\n\t mov 40(%%rdi), %%r13\n\t mov 48(%%rdi), %%r14\n\t mov 56(%%rdi), %%r15\n\t"
        TORVANE_WIN_ROWS(TORVANE_WIN_FIRST_ROW)
        "movq $0, 72(%%rbx)\n\t"
        "lea 64(%%rsi), %%rsi\n\t"
        "lea 64(%%rdi), %%rdi\n\t"
        "cmp 80(%%rbx), %%rsi\n\t"
        "je 2f\n\t"
        "1:\n\t"
        TORVANE_WIN_TAKE_T
        TORVANE_WIN_ROWS(TORVANE_WIN_ROW)
        "lea 64(%%rsi), %%rsi\n\t"
        "lea 64(%%rdi), %%rdi\n\t"
        "cmp 80(%%rbx), %%rsi\n\t"
        "jne 1b\n\t"
        "2:\n\t"
        TORVANE_WIN_TAKE_T
        "mov %%r8, (%%rdi)\n\t mov %%r9, 8(%%rdi)\n\t mov %%r10, 16(%%rdi)\n\t mov %%r11, 24(%%rdi)\n\t"
        "mov %%r12, 32(%%rdi)\n\t mov %%r13, 40(%%rdi)\n\t mov %%r14, 48(%%rdi)\n\t mov %%r15, 56(%%rdi)\n\t"
        "mov 72(%%rbx), %%rax\n\t"
        "neg %%rax\n\t"
        "pop %%rbp\n\t add $128, %%rsp\n\t"
        : "+D"(t), "+S"(n), "=a"(carry)
        : "b"(s)
        : "rcx", "rdx", "r8", "r9", "r10", "r11", "r12", "r13", "r14", "r15", "cc", "memory");
    return carry;
}

#undef TORVANE_WIN_TAKE_T
#undef TORVANE_WIN_ROWS
#undef TORVANE_WIN_ROW
#undef TORVANE_WIN_FIRST_ROW
#undef TORVANE_WIN_REST
#undef TORVANE_WIN_LIMB

// Montgomery reduction of t[0 .. 2L-1] (limbs, L a multiple of 8) by the
// L-limb n, leaving the result in t[L .. 2L-1] and the 32-bit word after
// it, in groups of eight rows (reduce_group).
void reduce_windows(u64* t, const u64* n, std::int64_t limbs, u64 k0) {
    auto* w = reinterpret_cast<mr_digit*>(t);
    const auto k = static_cast<int>(2 * limbs);
    w[2 * k] = 0;
    window_state s{};
    s.k0 = k0;
    s.n_end = reinterpret_cast<std::uintptr_t>(n + limbs);
    for (std::int64_t g = 0; g < limbs; g += 8) {
        if (reduce_group(t + g, n, &s) != 0) {
            const auto at = static_cast<int>(2 * (g + limbs + 8));
            add_vw(w + at, w + at, 2 * k + 1 - at, 1);
        }
    }
}

// The reduction of rows of any length: in windows where L is a multiple of 8.
void reduce_long(u64* t, const u64* n, std::int64_t limbs, u64 k0) {
    if (limbs % 8 == 0)
        reduce_windows(t, n, limbs, k0);
    else
        reduce_rows(t, n, limbs, k0);
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
    reduce_long(limbs_of(buf), limbs_of(n), k / 2, c64);
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
    reduce_long(limbs_of(t), limbs_of(n), k / 2, c64);
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
    sqr_rows(limbs_of(buf), limbs_of(x), k / 2);
    buf[2 * k] = 0;
    reduce_long(limbs_of(buf), limbs_of(n), k / 2, c64);
    return true;
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
