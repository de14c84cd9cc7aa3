// The Montgomery product on AVX-512 IFMA: vpmadd52luq and vpmadd52huq add
// the low and the high 52 bits of eight 52-by-52-bit products to eight
// 64-bit lanes in one instruction each.
//
// The operands are cut into d = ceil(32k/52) digits of 52 bits, eight to a
// 512-bit vector, and the product runs in the coarsely integrated operand
// scanning order on those digits: step i adds x * y_i and m * n to the
// accumulator, with m = (lowest digit) * (-1/n mod 2^52) mod 2^52, which
// clears the lowest 52 bits, and shifts the accumulator down one lane.
// The lanes are left unnormalised: each holds the low halves of the step's
// two products at its own position and the high halves of the two from the
// lane below, so it grows by less than 2^54 a step. A value moves down one
// lane a step and leaves at lane 0 after at most 8V steps (V vectors), so
// for V <= 40 no lane passes 2^63. Only lane 0's carry is taken each step,
// in a general register, from where the next step's m is found.
//
// R is 2^(32k), as for the other kernels, and 32k need not be a multiple of
// 52: the last step's m has only the bits 32k - 52(d-1) that are left, so
// that x*y + M*n (M = the m's at their positions, below R) is a multiple
// of R; it is then normalised and shifted right by those bits. M is the
// unique q < R that makes x*y + q*n a multiple of R, so the result is the
// same word for word as on the other paths.
//
// Processors without AVX-512 IFMA, and builds for Windows (whose compilers
// do not keep the stack aligned for 512-bit spills), never run this code.
#include <array>
#include <cstring>
#include <utility>

#include "kernels.h"
#include "thresholds.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(_WIN32)
#define TORVANE_HAVE_IFMA_PATH 1
#include <cpuid.h>
#include <immintrin.h>
// GCC 12's intrinsics header fills the unused operand of the unmasked
// alignr and extract with a self-initialised "undefined" vector, which
// -Wmaybe-uninitialized reports at every use (clang has no such warning).
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#endif

namespace {

using u64 = std::uint64_t;
__extension__ typedef unsigned __int128 u128;  // GCC and Clang on x86-64

#ifdef TORVANE_HAVE_IFMA_PATH

constexpr u64 mask52 = (u64{1} << 52) - 1;
// Vectors of eight digits at most: 320 digits, 16640 bits, enough for
// monty_ifma_max words (checked below) and within the lane bound above.
constexpr int max_vectors = 40;
static_assert(32 * monty_ifma_max <= 52 * 8 * max_vectors, "the IFMA kernel's vectors hold the largest modulus");

// d digits of 52 bits from x[0 .. k-1] into out[0 .. 8V-1], zero above.
void to_digits(const mr_digit* x, int k, int d, int lanes, u64* out) {
    mr_digit padded[8 * max_vectors * 52 / 32 + 4];
    std::memcpy(padded, x, sizeof(mr_digit) * static_cast<std::size_t>(k));
    std::memset(padded + k, 0, sizeof(mr_digit) * 4);
    for (int p = 0; p < d; ++p) {
        const int bit = 52 * p, w = bit / 32, off = bit % 32;
        u64 v = load_limb(padded + w) >> off;
        if (off > 12) v |= u64{padded[w + 2]} << (64 - off);
        out[p] = v & mask52;
    }
    for (int p = d; p < lanes; ++p) out[p] = 0;
}

// The steps on V vectors. The loops over the vectors unroll whole up to
// max_vectors (40): unrolled only to 32, moduli from 426 words (34 vectors)
// took 1.6 times as long (432 words 23.5 -> 14.3 us, 512 words 31.8 -> 25.5
// per square, this Zen 4). xd, nd: 8V digits each (zero above d), 64-byte
// aligned; yd: d digits. last_bits: the bits the last step clears (1 to
// 52). Leaves the last step's lane 0 (before its shift) in out[0] and the
// shifted lanes in out[1 .. 8V]: the value x*y + M*n over 2^(52(d-1)) is
// out[0] + sum out[j] 2^(52j).
template <int V>
__attribute__((target("avx512f,avx512ifma"))) void steps(const u64* xd, const u64* yd, const u64* nd, int d,
                                                          int last_bits, u64 k0, u64* out) {
    __m512i r[V];
    __m512i xv[V], nv[V];
#pragma GCC unroll 40
    for (int j = 0; j < V; ++j) {
        r[j] = _mm512_setzero_si512();
        xv[j] = _mm512_load_si512(xd + 8 * j);
        nv[j] = _mm512_load_si512(nd + 8 * j);
    }
    const u64 x0 = xd[0], n0 = nd[0];
    u64 carry = 0;  // lane 0's carry from the step before
    u64 low = 0;
    for (int i = 0; i < d; ++i) {
        const u64 b = yd[i];
        // Lane 0 in a general register: what the vectors hold there, the
        // carry, and the low half of x_0 * b, the only term m depends on.
        const u64 t0 = static_cast<u64>(_mm_cvtsi128_si64(_mm512_castsi512_si128(r[0]))) + carry + ((x0 * b) & mask52);
        const u64 mask = i + 1 < d ? mask52 : mask52 >> (52 - last_bits);
        const u64 m = (t0 * k0) & mask;
        low = t0 + ((n0 * m) & mask52);  // a multiple of 2^52 except at the last step
        carry = low >> 52;
        const __m512i bb = _mm512_set1_epi64(static_cast<long long>(b));
        const __m512i mm = _mm512_set1_epi64(static_cast<long long>(m));
#pragma GCC unroll 40
        for (int j = 0; j < V; ++j) {
            r[j] = _mm512_madd52lo_epu64(r[j], xv[j], bb);
            r[j] = _mm512_madd52lo_epu64(r[j], nv[j], mm);
        }
        // Down one lane; lane 0, now in `low`, leaves.
#pragma GCC unroll 40
        for (int j = 0; j + 1 < V; ++j) r[j] = _mm512_alignr_epi64(r[j + 1], r[j], 1);
        r[V - 1] = _mm512_alignr_epi64(_mm512_setzero_si512(), r[V - 1], 1);
        // The high halves land one position up from their digits, which
        // after the shift is the digits' own lane.
#pragma GCC unroll 40
        for (int j = 0; j < V; ++j) {
            r[j] = _mm512_madd52hi_epu64(r[j], xv[j], bb);
            r[j] = _mm512_madd52hi_epu64(r[j], nv[j], mm);
        }
    }
    out[0] = low;
#pragma GCC unroll 40
    for (int j = 0; j < V; ++j) _mm512_storeu_si512(out + 1 + 8 * j, r[j]);
}

// The same steps for few vectors, where the steps above wait on their own
// latency (the m of one step is known only after the previous step's
// vector products, shift and extraction, which take tens of cycles here):
// the lowest L lanes are kept exactly in general registers (s), from which
// m follows with a few scalar products, and the vectors, whose lanes below
// L are then never read, hand over lane L, L steps before it is needed.
// x*b and m*n go to two accumulators (a and c), so that each vector's
// chain is one product's two halves and a shift, and the x*b half never
// waits for m.
template <int L>
inline u64 lane_of(__m512i v) __attribute__((target("avx512f,avx512ifma")));
template <int L>
inline u64 lane_of(__m512i v) {
    static_assert(L >= 1 && L < 8, "a lane of the lowest vector");
    const __m128i q = L < 2 ? _mm512_castsi512_si128(v) : _mm512_extracti32x4_epi32(v, L / 2);
    return static_cast<u64>(L % 2 == 0 ? _mm_cvtsi128_si64(q) : _mm_cvtsi128_si64(_mm_unpackhi_epi64(q, q)));
}

template <int V, int L>
__attribute__((target("avx512f,avx512ifma"))) void steps_tracked(const u64* xd, const u64* yd, const u64* nd, int d,
                                                                  int last_bits, u64 k0, u64* out) {
    __m512i a[V], c[V];
    __m512i xv[V], nv[V];
#pragma GCC unroll 32
    for (int j = 0; j < V; ++j) {
        a[j] = _mm512_setzero_si512();
        c[j] = _mm512_setzero_si512();
        xv[j] = _mm512_load_si512(xd + 8 * j);
        nv[j] = _mm512_load_si512(nd + 8 * j);
    }
    u64 s[L] = {};  // lanes 0 .. L-1, exactly
    for (int i = 0; i < d; ++i) {
        const u64 b = yd[i];
        const bool last = i + 1 == d;
        // Lane L before this step, exact in the vectors.
        const u64 vl = lane_of<L>(a[0]) + lane_of<L>(c[0]);
        const u64 t0 = s[0] + ((xd[0] * b) & mask52);
        const u64 m = (t0 * k0) & (last ? mask52 >> (52 - last_bits) : mask52);
        const __m512i bb = _mm512_set1_epi64(static_cast<long long>(b));
        const __m512i mm = _mm512_set1_epi64(static_cast<long long>(m));
#pragma GCC unroll 32
        for (int j = 0; j < V; ++j) {
            a[j] = _mm512_madd52lo_epu64(a[j], xv[j], bb);
            c[j] = _mm512_madd52lo_epu64(c[j], nv[j], mm);
        }
#pragma GCC unroll 32
        for (int j = 0; j + 1 < V; ++j) {
            a[j] = _mm512_alignr_epi64(a[j + 1], a[j], 1);
            c[j] = _mm512_alignr_epi64(c[j + 1], c[j], 1);
        }
        a[V - 1] = _mm512_alignr_epi64(_mm512_setzero_si512(), a[V - 1], 1);
        c[V - 1] = _mm512_alignr_epi64(_mm512_setzero_si512(), c[V - 1], 1);
#pragma GCC unroll 32
        for (int j = 0; j < V; ++j) {
            a[j] = _mm512_madd52hi_epu64(a[j], xv[j], bb);
            c[j] = _mm512_madd52hi_epu64(c[j], nv[j], mm);
        }
        // The lowest L lanes after the step's shift: lane p takes the low
        // halves of digit p+1's products and the high halves of digit p's.
        const u64 low = t0 + ((nd[0] * m) & mask52);
        u64 next[L];
#pragma GCC unroll 8
        for (int p = 0; p < L; ++p) {
            const u128 xb = static_cast<u128>(xd[p]) * b, nm = static_cast<u128>(nd[p]) * m;
            next[p] = (p + 1 < L ? s[p + 1] : vl) + ((xd[p + 1] * b) & mask52) + ((nd[p + 1] * m) & mask52) +
                      static_cast<u64>(xb >> 52) + static_cast<u64>(nm >> 52);
        }
        if (last) {
            out[0] = low;
#pragma GCC unroll 8
            for (int p = 0; p < L; ++p) out[p + 1] = next[p];
            break;
        }
        next[0] += low >> 52;
#pragma GCC unroll 8
        for (int p = 0; p < L; ++p) s[p] = next[p];
    }
    // Lanes from L up of both accumulators; out[L+1 ..] = lanes L .. 8V-1.
    alignas(64) u64 lanes[8 * V];
#pragma GCC unroll 32
    for (int j = 0; j < V; ++j) _mm512_store_si512(lanes + 8 * j, _mm512_add_epi64(a[j], c[j]));
    for (int p = L; p < 8 * V; ++p) out[p + 1] = lanes[p];
}

using steps_fn = void (*)(const u64*, const u64*, const u64*, int, int, u64, u64*);

template <int... V>
constexpr auto make_steps_table(std::integer_sequence<int, V...>) {
    return std::array<steps_fn, sizeof...(V)>{steps<V + 1>...};
}
constexpr auto steps_table = make_steps_table(std::make_integer_sequence<int, max_vectors>{});
template <int... V>
constexpr auto make_tracked_table(std::integer_sequence<int, V...>) {
    return std::array<steps_fn, sizeof...(V)>{steps_tracked<V + 1, 2>...};
}
constexpr int tracked_max_vectors = 9;
constexpr auto tracked_table = make_tracked_table(std::make_integer_sequence<int, tracked_max_vectors>{});

void monty_ifma(const mr_digit* x, const mr_digit* y, const mr_digit* n, int k, u64 c64, mr_digit* buf) {
    const int bits = 32 * k;
    const int d = (bits + 51) / 52;
    const int vectors = (d + 7) / 8, lanes = 8 * vectors;
    const int last_bits = bits - 52 * (d - 1);
    alignas(64) u64 xd[8 * max_vectors], nd[8 * max_vectors], yd[8 * max_vectors];
    u64 out[8 * max_vectors + 3];
    to_digits(x, k, d, lanes, xd);
    to_digits(n, k, d, lanes, nd);
    if (y != x) to_digits(y, k, d, lanes, yd);
    // Two lanes kept in general registers pay while the two accumulators
    // and both operands fit the 32 vector registers: 1.2-1.34x faster from
    // 48 to 112 words, even at 128, and 0.7-0.87x from 160 words on
    // (measured as the thresholds, thresholds.h).
    const steps_fn run = vectors <= tracked_max_vectors ? tracked_table[static_cast<std::size_t>(vectors - 1)]
                                                        : steps_table[static_cast<std::size_t>(vectors - 1)];
    run(xd, y != x ? yd : xd, nd, d, last_bits, c64 & mask52, out);
    // Normalise to 52-bit digits: out[0] at position 0, lane j at 52(j+1)
    // (after the shift), then the words from bit last_bits up.
    u64 c = 0;
    for (int p = 0; p <= lanes; ++p) {
        const u64 v = out[p] + c;
        out[p] = v & mask52;
        c = v >> 52;
    }
    out[lanes + 1] = c;  // below 2^52: x*y + M*n < 2^(52(d+1) + 1)
    out[lanes + 2] = 0;
    mr_digit* r = buf + k;
    for (int w = 0; w <= k; ++w) {
        const int bit = 32 * w + last_bits, p = bit / 52, off = bit % 52;
        u64 v = out[p] >> off;
        if (off > 20) v |= out[p + 1] << (52 - off);
        r[w] = static_cast<mr_digit>(v);
    }
}

bool processor_has_ifma() {
    // CPUID leaf 1: ECX bit 27, the operating system saves the extended
    // state (XSAVE enabled), so XGETBV may be asked; XCR0 bits 1, 2 and
    // 5-7: it saves the SSE, AVX and AVX-512 registers. Leaf 7, sub-leaf 0:
    // EBX bit 16 is AVX-512F, bit 21 AVX-512 IFMA.
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx) || (ecx & (1u << 27)) == 0) return false;
    unsigned xcr0_lo = 0, xcr0_hi = 0;
    __asm__("xgetbv" : "=a"(xcr0_lo), "=d"(xcr0_hi) : "c"(0));
    if ((xcr0_lo & 0xE6u) != 0xE6u) return false;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
    return (ebx & (1u << 16)) != 0 && (ebx & (1u << 21)) != 0;
}

const bool ifma_present = processor_has_ifma();
bool ifma_selected = ifma_present;

#endif

}  // namespace

bool monty_product_ifma(const mr_digit* x, const mr_digit* y, const mr_digit* n, int k, std::uint64_t c64,
                        mr_digit* buf) {
#ifdef TORVANE_HAVE_IFMA_PATH
    if (!ifma_present || k < 1 || k > monty_ifma_max) return false;
    monty_ifma(x, y, n, k, c64, buf);
    return true;
#else
    (void)x, (void)y, (void)n, (void)k, (void)c64, (void)buf;
    return false;
#endif
}

bool processor_has_ifma_kernel() {
#ifdef TORVANE_HAVE_IFMA_PATH
    return ifma_present;
#else
    return false;
#endif
}

bool select_monty_ifma(bool use) {
#ifdef TORVANE_HAVE_IFMA_PATH
    if (use && !ifma_present) return false;
    ifma_selected = use;
    return true;
#else
    return !use;
#endif
}

bool monty_ifma_in_use(int k) {
#ifdef TORVANE_HAVE_IFMA_PATH
    return ifma_selected && k >= monty_ifma_min && k <= monty_ifma_top;
#else
    (void)k;
    return false;
#endif
}
