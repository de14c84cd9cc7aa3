// Montgomery arithmetic: modular products for an odd modulus without a long
// division per product.
//
// For an odd modulus n of k words let R = 2^(32k). The Montgomery form of x
// is the residue x*R mod n. The product of two residues, x*R and y*R, is
// x*y*R^2; one Montgomery reduction divides it by R modulo n and leaves
// x*y*R, the residue of the product.
//
// Reduction of T < n*R (the identity behind all three methods below): with
// q = T * n' mod R, where n' = -1/n mod R, T + q*n is a multiple of R, and
// (T + q*n) / R is congruent to T/R modulo n and below (n*R + R*n) / R = 2n,
// so one subtraction of n brings it into [0, n). The result is the unique
// value of T*R^-1 mod n in [0, n), however q was found.
//
//   Word by word (reduce_words): q is found one 64-bit limb at a time from
//   the bottom: m = T[limb i] * (-1/n mod 2^64) clears the lowest remaining
//   limb when m*n is added there, and after k/2 limbs the low half is zero.
//   For an odd k the last step clears one 32-bit word with the word
//   constant -1/n mod 2^32, so the total shift is 32k bits and R stays
//   2^(32k). This costs k^2/4 limb products.
//
//   Fused with the product (monty_product_vv): the same steps interleaved with
//   the rows of x*y (one limb of y per step, then one reduction step), in
//   the manner of the coarsely integrated operand scanning method. The
//   running value stays below 2n between steps, so the buffer never holds
//   more than k+3 words above the current step. Used for small products of
//   two different residues, where it saves the separate product pass.
//
//   By multiplication (reduce_by_multiplication): q = (T mod R) * n' mod R
//   with a low-half product, and the high half of q*n from q*n modulo
//   R - 1 (a wrap-around product, about half a full product), since the
//   low half is known: both on the subquadratic product methods. n' is found once per modulus by
//   Newton's iteration and kept in the reduce area. Pays for large k only.
//
// The constants: -1/n mod 2^64 comes from Newton's iteration for the
// inverse, v <- v*(2 - n*v), which doubles the number of correct low bits at
// each step; any odd n is its own inverse to 3 bits (n*n = 1 mod 8), so five
// steps give 96 > 64 bits. The word constant is its low half (-1/n mod
// 2^32 is -1/n mod 2^64 reduced).
//
// Every routine here works under a Montgomery context (montgomery.h): the
// modulus, its constants, its length and where its n' is kept. One context
// is installed in the instance, over the `modulus` workspace number;
// installing the same value again costs one comparison, so repeated
// operations on one modulus skip the set-up. The exponentiations and the
// primality test make contexts of their own for the moduli they need and
// leave the installed one as it is. Residues mean something only under the
// modulus they were made with.
//
// Workspace: see workspace.h. The reduce area holds the installed
// context's n', the fused buffer and the copies of reduction by
// multiplication; a context of one's own keeps n' in context_nprime.
#include "internal.h"
#include "montgomery.h"
#include "primitives.h"
#include "workspace.h"
#include "kernels.h"
#include "pool.h"
#include "product_tasks.h"
#include "products.h"
#include "thresholds.h"

#include <algorithm>
#include <cstring>

namespace {

using u64 = std::uint64_t;

// -1/n mod 2^64 for an odd n (see the header comment).
u64 negated_inverse(u64 n) { return 0 - inverse_mod_limb(n); }

// The reduce area: four spare words, the installed context's n', and room
// for the working copies and the products' scratch.
struct reduce_area {
    mr_digit* spare;
    mr_digit* nprime;   // max_length words
    mr_digit* work;     // 2 * max_length + 8 words
    mr_digit* q;        // 2 * max_length + 8 words
    mr_digit* qn;       // 2 * max_length + 8 words
    mr_digit* scratch;  // the rest
    std::size_t scratch_size;
};

// The parts of the reduce area, under the caller's claim of it.
reduce_area the_reduce_area(const scratch_claim& claim) {
    mr_digit* base = claim.words();
    const auto L = static_cast<std::size_t>(engine_instance->max_length);
    const std::size_t used = reduce_area_fixed_words(L);
    TORVANE_EXPECTS(used <= claim.size());
    return {base, base + 4, base + 4 + L, base + 4 + L + (2 * L + 8), base + 4 + L + 2 * (2 * L + 8), base + used,
            claim.size() - used};
}

// r[0 .. n-1] = a * b mod 2^(32n) for a, b of n words: the low half of the
// product. With a = a1*B + a0 and b = b1*B + b0 for B = 2^(32l), l = n - h
// >= h: a*b = a0*b0 + (a1*b0 + a0*b1)*B mod 2^(32n), since B^2 is a
// multiple of 2^(32n); of the middle terms only their low h words count.
// Row by row it costs half a full product; split, a full product of l
// words and two low products of h. With subquadratic products an even
// split costs as much as the full product (97 against 96 us at 2048 words
// here), and h = n/4 the least of those timed (n/2, n/3, n/4, n/5,
// 3n/10): 0.86 of the full product at 2048 words, 0.78 at 1024, 0.82 at
// 512 (minimum of 15 interleaved rounds each, Release, BMI2/ADX kernels).
// `fixed`: b's part of the full product of l words made once
// (make_fixed_factor), or null.
void low_product(mr_digit* r, const mr_digit* a, const mr_digit* b, int n, mr_digit* scratch,
                 const mr_digit* fixed = nullptr) {
    const low_product_layout layout = low_product_layout_for(n);
    if (!layout.split) {
        // Row by row, a limb of b at a time; what carries out of word n-1
        // is dropped.
        std::memset(r, 0, sizeof(mr_digit) * static_cast<std::size_t>(n));
        int i = 0;
        for (; i + 1 < n; i += 2) addmul_vvd(r + i, a, n - i, load_limb(b + i));
        if (i < n) addmul_vvw(r + i, a, n - i, b[i]);
        return;
    }
    const int h = layout.h, l = layout.l;
    product_fixed(scratch, a, b, l, fixed, scratch + 2 * l);
    std::memcpy(r, scratch, sizeof(mr_digit) * static_cast<std::size_t>(n));
    mr_digit* t = scratch;
    low_product(t, a + l, b, h, scratch + h);
    add_vv(r + l, r + l, t, h);
    low_product(t, a, b + l, h, scratch + h);
    add_vv(r + l, r + l, t, h);
}

// True when x[0 .. n-1] is all zero.
bool all_zero(const mr_digit* x, int n) {
    for (int i = 0; i < n; ++i)
        if (x[i] != 0) return false;
    return true;
}

// A number header over words that are not a number block, so that the
// word arrays of the reduce area can be handed to multiply as operands.
bignum view_of(mr_digit* w, int len) {
    bignum v{static_cast<std::uint32_t>(len), w, 0};
    strip_leading_zeros(&v);
    return v;
}

// T in t[0 .. 2k], T < 2^(64k) and t[2k] = 0: leaves (T + q n) / R, below
// 2^(32k) + n, in t[k .. 2k] (the kernel's rows, inline on the chosen path).
void reduce_words(mr_digit* t, const mr_digit* n, int k, u64 c64) { monty_reduce_vv(t, n, k, c64); }

// n' = -1/n mod R (k words) into c.nprime, by Newton's iteration on
// growing precisions: v <- v - v*(n*v - 1), each step doubling the words.
// c counts it as made only when no error stopped a product on the way.
void make_nprime(monty_context& c, const reduce_area& area) {
    bignum* n = c.modulus;
    const int k = c.length;
    mr_digit* v = c.nprime;
    mr_digit* t = area.q;
    const workspace_claim acc(ws::accumulator);
    c.nprime_length = 0;
    std::memset(v, 0, sizeof(mr_digit) * static_cast<std::size_t>(k));
    const u64 inverse = 0 - c.constant_limb;
    v[0] = static_cast<mr_digit>(inverse);
    if (k > 1) v[1] = static_cast<mr_digit>(inverse >> 32);
    length_check_scope unchecked(0);
    for (int p = 2; p < k;) {
        const int next = 2 * p < k ? 2 * p : k;
        bignum nv = view_of(n->w, next);
        bignum vv = view_of(v, p);
        multiply(&nv, &vv, acc);  // n*v = 1 mod 2^(32p)
        std::memset(t, 0, sizeof(mr_digit) * static_cast<std::size_t>(next));
        std::memcpy(t, acc->w, sizeof(mr_digit) * static_cast<std::size_t>(std::min(length_of(acc), next)));
        sub_vw(t, t, next, 1);  // n*v - 1, a multiple of 2^(32p)
        bignum tv = view_of(t, next);
        multiply(&vv, &tv, acc);
        std::memset(t, 0, sizeof(mr_digit) * static_cast<std::size_t>(next));
        std::memcpy(t, acc->w, sizeof(mr_digit) * static_cast<std::size_t>(std::min(length_of(acc), next)));
        sub_vv(v, v, t, next);  // mod 2^(32 next)
        p = next;
    }
    for (int i = 0; i < k; ++i) v[i] = ~v[i];
    add_vw(v, v, k, 1);
    if (!error_pending()) c.nprime_length = k;
}

// True when x[0 .. n-1] is all ones.
bool all_ones(const mr_digit* x, int n) {
    for (int i = 0; i < n; ++i)
        if (x[i] != 0xFFFFFFFFu) return false;
    return true;
}

// Modulo B^h - 1 and B^h + 1, for the wrap-around product of 2h words
// below: a1 = a_lo + a_hi with the carry around (one fold suffices: a sum
// below 2B^h - 1 leaves at most B^h - 1), h words, and a2 = a_lo - a_hi,
// plus B^h + 1 when negative, in [0, B^h], h + 1 words (the h-word
// difference has wrapped by B^h then, so one more is added).
void wrap_split(const mr_digit* a, int h, mr_digit* a1, mr_digit* a2) {
    if (add_vv(a1, a, a + h, h) != 0) add_vw(a1, a1, h, 1);
    a2[h] = 0;
    if (sub_vv(a2, a, a + h, h) != 0) add_vw(a2, a2, h + 1, 1);
}

// r[0 .. 2h-1] = x mod (B^2h - 1) from u = x mod (B^h - 1) in r[0 .. h-1]
// and v = a2 * b2 (2h + 2 words, the product of the differences of
// wrap_split, v <= B^2h), with vm and vl of h + 1 words as room; v is
// left as it was.
void wrap_join(mr_digit* r, const mr_digit* v, int h, mr_digit* vm, mr_digit* vl) {
    // v mod (B^h + 1) = v_lo - v_hi with v_hi = v[h .. 2h] <= B^h: the h
    // low words of the difference, and when it is negative (a borrow out
    // of them, or v_hi = B^h) one more, as in wrap_split.
    const bool negative = (sub_vv(vm, v, v + h, h) | v[2 * h]) != 0;
    vm[h] = 0;
    if (negative) add_vw(vm, vm, h + 1, 1);
    // t = (u - v) / 2 mod (B^h - 1), v taken modulo B^h - 1 first (v = B^h
    // is 1 there).
    mr_digit* t = r;
    std::memcpy(vl, vm, sizeof(mr_digit) * static_cast<std::size_t>(h));
    if (vm[h] != 0) vl[0] = 1;  // vm = B^h: its low words are all zero
    if (sub_vv(t, t, vl, h) != 0) sub_vw(t, t, h, 1);  // + (B^h - 1)
    if (t[0] & 1u) {
        t[0] -= 1;  // (t + B^h - 1) / 2 = (t - 1) / 2 + B^h / 2
        shr_vu(t, t, h, 1);
        t[h - 1] |= 0x80000000u;
    } else {
        shr_vu(t, t, h, 1);
    }
    if (all_ones(t, h)) std::memset(t, 0, sizeof(mr_digit) * static_cast<std::size_t>(h));
    // x = v + t (B^h + 1) = v + t + t B^h < B^2h.
    std::memcpy(r + h, t, sizeof(mr_digit) * static_cast<std::size_t>(h));
    const mr_digit c = add_vv(r, r, vm, h);
    add_vw(r + h, r + h, h, c + vm[h]);
}

// v[0 .. 2h+1] = a2 * b2 for the differences a2, b2 of wrap_split, both in
// [0, B^h], so v <= B^2h. Their top words are zero unless one is B^h itself
// (its halves differed by one), so the product is one of h words (0.63 of
// a full product of 2048 words for the wrap-around product, against 0.66
// with products of h + 1), and a factor B^h is a shift of the other.
// `fixed`: b2's part of the product of h words made once, or null.
void differences_product(mr_digit* v, const mr_digit* a2, const mr_digit* b2, int h, mr_digit* scratch,
                         const mr_digit* fixed = nullptr) {
    if (a2[h] == 0 && b2[h] == 0) {
        product_fixed(v, a2, b2, h, fixed, scratch);
        v[2 * h] = v[2 * h + 1] = 0;
        return;
    }
    const mr_digit* other = a2[h] != 0 ? b2 : a2;  // times B^h
    std::memset(v, 0, sizeof(mr_digit) * static_cast<std::size_t>(h));
    std::memcpy(v + h, other, sizeof(mr_digit) * static_cast<std::size_t>(h + 1));
    v[2 * h + 1] = 0;
}

// r[0 .. N-1] = a * b mod (B^N - 1), B = 2^32, in [0, B^N - 2], for a, b of
// N words: the wrap-around product. For an even N = 2h from
// monty_wrap_split_min on, B^N - 1 = (B^h - 1)(B^h + 1): u = a*b mod
// (B^h - 1) comes from the halves' sums by the same method, v = a*b mod
// (B^h + 1) from the halves' differences by one product of h words,
// and the two join as x = v + (B^h + 1) t with t = (u - v)/2 mod (B^h - 1)
// (B^h + 1 is 2 modulo B^h - 1). About half a full product's cost; below,
// the full product folded.
void wrapped_product(mr_digit* r, const mr_digit* a, const mr_digit* b, int N, mr_digit* scratch) {
    const wrap_layout layout = wrap_layout_for(N);
    if (!layout.split) {
        mr_digit* p = scratch;
        product_vv(p, a, N, b, N, scratch + 2 * N);
        // p < B^2N: p_lo + p_hi folds the carry around once, at most.
        const mr_digit c = add_vv(r, p, p + N, N);
        if (c != 0) add_vw(r, r, N, 1);
        if (all_ones(r, N)) std::memset(r, 0, sizeof(mr_digit) * static_cast<std::size_t>(N));
        return;
    }
    const int h = layout.h;
    mr_digit* v = scratch;
    mr_digit* a1 = scratch + layout.a1();
    mr_digit* b1 = scratch + layout.b1();
    mr_digit* a2 = scratch + layout.a2();
    mr_digit* b2 = scratch + layout.b2();
    mr_digit* rest = scratch + layout.rest();
    wrap_split(a, h, a1, a2);
    wrap_split(b, h, b1, b2);
    wrapped_product(r, a1, b1, h, rest);  // u in r[0 .. h-1]
    differences_product(v, a2, b2, h, rest);
    wrap_join(r, v, h, a2, b2);
}

// wrapped_product for an N that splits, with b's top split made once: its
// sum b1 and difference b2 as wrap_split leaves them, and `fixed`, b2's
// part of the product of h words (or null). The same scratch; b's places
// in it are the join's room.
void wrapped_product_fixed(mr_digit* r, const mr_digit* a, int N, const mr_digit* b1, const mr_digit* b2,
                           const mr_digit* fixed, mr_digit* scratch) {
    const wrap_layout layout = wrap_layout_for(N);
    TORVANE_EXPECTS(layout.split);
    const int h = layout.h;
    mr_digit* v = scratch;
    mr_digit* a1 = scratch + layout.a1();
    mr_digit* a2 = scratch + layout.a2();
    mr_digit* rest = scratch + layout.rest();
    wrap_split(a, h, a1, a2);
    wrapped_product(r, a1, b1, h, rest);  // u in r[0 .. h-1]
    differences_product(v, a2, b2, h, rest, fixed);
    wrap_join(r, v, h, a2, scratch + layout.b2());
}

// ---- The reduction's products on the worker pool ----------------------------
//
// From parallel_reduce_min words, with the pool on, the two products of
// reduction by multiplication split into pieces that run at once: the low
// product q = T n' mod R two levels down its split (the full product of
// the low halves, then of the next level's two low halves the full
// products and four low products: seven pieces), and the wrap-around
// product two levels down (the product of h + 1 words modulo B^h + 1, then
// the one of h/2 + 1 words and the wrap-around product of h/2 words: three
// pieces). Each piece computes into a place of its own; the calling thread
// then adds the low product's pieces, or joins the wrap-around product's
// levels, as the serial methods do. A piece runs on the scratch the run
// provides on the thread that started it, or on the product area of a
// thread that helps; its own products may split further (their Toom
// points form nested runs). The pieces are ordered longest first, so that
// the threads finish close together.

enum class piece_kind { product, low_product, wrapped_product };

struct reduce_piece {
    piece_kind kind;
    mr_digit* r;
    const mr_digit* a;
    const mr_digit* b;
    int n;  // factors of n words
};

// Words of scratch a piece needs.
std::size_t piece_scratch(const reduce_piece& p) {
    switch (p.kind) {
    case piece_kind::product: return product_scratch_words(p.n, p.n);
    case piece_kind::low_product: return low_product_scratch_words(p.n);
    case piece_kind::wrapped_product: return wrapped_product_scratch_words(p.n);
    }
    return 0;
}

constexpr int max_reduce_pieces = 7;

struct reduce_pieces {
    reduce_piece piece[max_reduce_pieces];
    int count = 0;
    mr_digit* starter_room;  // the scratch of the starting thread's pieces
};

void reduce_piece_task(void* context, int index, const pool_executor& executor) {
    const auto& t = *static_cast<reduce_pieces*>(context);
    const reduce_piece& p = t.piece[index];
    const auto run = [&p](mr_digit* scratch) {
        switch (p.kind) {
        case piece_kind::product: product_vv(p.r, p.a, p.n, p.b, p.n, scratch); break;
        case piece_kind::low_product: low_product(p.r, p.a, p.b, p.n, scratch); break;
        case piece_kind::wrapped_product: wrapped_product(p.r, p.a, p.b, p.n, scratch); break;
        }
    };
    if (executor.helping) {
        const scratch_claim room(area_product);
        run(room.words());
    } else {
        run(t.starter_room);
    }
}

// Runs the pieces on the pool when every piece's scratch fits both the
// starter's room (`room_size` words) and a helper's product area; false
// (nothing done) otherwise.
bool run_pieces(reduce_pieces& t, std::size_t room_size) {
    std::size_t most = 0;
    for (int i = 0; i < t.count; ++i) most = std::max(most, piece_scratch(t.piece[i]));
    TORVANE_EXPECTS(most <= room_size);
    if (most > room_size || most > scratch_words_size(area_product)) return false;
    return pool_run(t.count, reduce_piece_task, &t);
}

// low_product on the pool (see above): r = a * b mod B^n; false when it
// does not run there. The room holds the pieces' results and the starter's
// scratch.
bool parallel_low_product(mr_digit* r, const mr_digit* a, const mr_digit* b, int n, mr_digit* room,
                          std::size_t room_size) {
    if (n < parallel_reduce_min || !pool_available()) return false;
    const parallel_low_layout layout = parallel_low_layout_for(n);
    const int h = layout.h, l = layout.l;     // low_product's split
    const int h1 = layout.h1, l1 = layout.l1;  // the split of its low products of h words
    if (h1 < monty_low_product_split || layout.used() > room_size) return false;
    mr_digit* p0 = room;                // a0 b0: 2l words, its n low ones count
    mr_digit* p1 = room + layout.p1();  // 2 l1 words each, their h low ones count at l
    mr_digit* p2 = room + layout.p2();
    mr_digit* q = room + layout.q();    // four of h1 words, at l + l1
    reduce_pieces t;
    t.piece[0] = {piece_kind::product, p0, a, b, l};
    // a1 b0 mod B^h = (a1 b0 at l1 words) + (the next halves' low products) B^l1.
    t.piece[1] = {piece_kind::product, p1, a + l, b, l1};
    t.piece[2] = {piece_kind::product, p2, a, b + l, l1};
    t.piece[3] = {piece_kind::low_product, q, a + l + l1, b, h1};
    t.piece[4] = {piece_kind::low_product, q + h1, a + l, b + l1, h1};
    t.piece[5] = {piece_kind::low_product, q + 2 * h1, a + l1, b + l, h1};
    t.piece[6] = {piece_kind::low_product, q + 3 * h1, a, b + l + l1, h1};
    t.count = 7;
    const std::size_t used = layout.used();
    t.starter_room = room + used;
    if (!run_pieces(t, room_size - used)) return false;
    std::memcpy(r, p0, sizeof(mr_digit) * static_cast<std::size_t>(n));
    add_vv(r + l, r + l, p1, h);
    add_vv(r + l, r + l, p2, h);
    for (int i = 0; i < 4; ++i) add_vv(r + l + l1, r + l + l1, q + i * h1, h1);
    return true;
}

// wrapped_product on the pool (see above); false when it does not run
// there. The room holds the levels' values and the starter's scratch.
bool parallel_wrapped_product(mr_digit* r, const mr_digit* a, const mr_digit* b, int N, mr_digit* room,
                              std::size_t room_size) {
    if (N < parallel_reduce_min || N % 4 != 0 || !pool_available()) return false;
    const parallel_wrap_layout layout = parallel_wrap_layout_for(N);
    const int h = layout.top.h, g = layout.g;
    if (h < monty_wrap_split_min || layout.used() > room_size) return false;
    // The top level: sums a1, b1 (h words), differences a2, b2 (h + 1
    // words), their product v; the next: the same of a1, b1 at g words.
    mr_digit* v = room;
    mr_digit* a1 = room + layout.top.a1();
    mr_digit* b1 = room + layout.top.b1();
    mr_digit* a2 = room + layout.top.a2();
    mr_digit* b2 = room + layout.top.b2();
    mr_digit* w = room + layout.w();
    mr_digit* c1 = room + layout.c1();
    mr_digit* d1 = room + layout.d1();
    mr_digit* c2 = room + layout.c2();
    mr_digit* d2 = room + layout.d2();
    wrap_split(a, h, a1, a2);
    wrap_split(b, h, b1, b2);
    wrap_split(a1, g, c1, c2);
    wrap_split(b1, g, d1, d2);
    reduce_pieces t;
    t.piece[0] = {piece_kind::product, v, a2, b2, h + 1};
    t.piece[1] = {piece_kind::product, w, c2, d2, g + 1};
    t.piece[2] = {piece_kind::wrapped_product, r, c1, d1, g};  // a1 b1 mod (B^g - 1) in r[0 .. g-1]
    t.count = 3;
    const std::size_t used = layout.used();
    t.starter_room = room + used;
    if (!run_pieces(t, room_size - used)) return false;
    wrap_join(r, w, g, c2, d2);  // a1 b1 mod (B^h - 1) in r[0 .. h-1]
    wrap_join(r, v, h, a2, b2);
    return true;
}

// ---- The same products on the pool with the kept points -------------------
//
// Under a power with the points kept (monty_large_fix), each of the two
// products runs the one-thread method's top level at once: its Toom-8
// product by the kept factor has its point products on the pool
// (pool_toom8_kept, each evaluating only q or T), and the method's other
// parts run as side tasks of the same run: the low product's two low
// products of h words, the wrap-around product's product modulo B^h - 1.
// So the work is the one-thread step's, in one run and the interpolation's
// two, where the pieces above split the factors anew and lose the kept
// points.

struct kept_low_sides {
    const mr_digit* a;
    const mr_digit* b;
    int h;
    int l;
    mr_digit* lows;  // two of h words
};

void kept_low_side(void* context, int index, mr_digit* room) {
    const auto& s = *static_cast<kept_low_sides*>(context);
    if (index == 0)
        low_product(s.lows, s.a + s.l, s.b, s.h, room);
    else
        low_product(s.lows + s.h, s.a, s.b + s.l, s.h, room);
}

// low_product with n''s kept points `fixed` for its full product, on the
// pool (above): r = a * b mod B^n; false when it does not run there. The
// full product (2l words), the two low products (h words each) and the
// pool's room in `room`.
bool kept_low_product(mr_digit* r, const mr_digit* a, const mr_digit* b, int n, const mr_digit* fixed, mr_digit* room,
                      std::size_t room_size) {
    if (fixed == nullptr || n < parallel_reduce_min || !pool_available()) return false;
    const low_product_layout layout = low_product_layout_for(n);
    const int h = layout.h, l = layout.l;
    const std::size_t used = 2 * static_cast<std::size_t>(l) + 2 * static_cast<std::size_t>(h);
    if (!layout.split || used + pool_toom8_kept_words(l) > room_size) return false;
    mr_digit* full = room;
    kept_low_sides sides{a, b, h, l, room + 2 * l};
    const pool_side_tasks side{2, kept_low_side, &sides, low_product_scratch_words(h)};
    if (!pool_toom8_kept(full, a, b, l, fixed, side, room + used, room_size - used)) return false;
    std::memcpy(r, full, sizeof(mr_digit) * static_cast<std::size_t>(n));
    add_vv(r + l, r + l, sides.lows, h);
    add_vv(r + l, r + l, sides.lows + h, h);
    return true;
}

struct kept_wrap_side {
    mr_digit* r;
    const mr_digit* a1;
    const mr_digit* b1;
    int h;
};

void kept_wrap_task(void* context, int, mr_digit* room) {
    const auto& s = *static_cast<kept_wrap_side*>(context);
    wrapped_product(s.r, s.a1, s.b1, s.h, room);  // u in r[0 .. h-1]
}

// wrapped_product_fixed on the pool (above), for the kept points `fixed` of
// the difference b2 (no top word); false when it does not run there. The
// same scratch as wrapped_product_fixed.
bool kept_wrapped_product(mr_digit* r, const mr_digit* a, int N, const mr_digit* b1, const mr_digit* b2,
                          const mr_digit* fixed, mr_digit* scratch, std::size_t scratch_size) {
    if (fixed == nullptr || N < parallel_reduce_min || !pool_available()) return false;
    const wrap_layout layout = wrap_layout_for(N);
    const int h = layout.h;
    if (!layout.split || layout.rest() + pool_toom8_kept_words(h) > scratch_size) return false;
    mr_digit* v = scratch;
    mr_digit* a1 = scratch + layout.a1();
    mr_digit* a2 = scratch + layout.a2();
    mr_digit* rest = scratch + layout.rest();
    wrap_split(a, h, a1, a2);
    if (a2[h] != 0 || b2[h] != 0) return false;  // the product is a shift there (differences_product)
    kept_wrap_side sides{r, a1, b1, h};
    const pool_side_tasks side{1, kept_wrap_task, &sides, wrapped_product_scratch_words(h)};
    if (!pool_toom8_kept(v, a2, b2, h, fixed, side, rest, scratch_size - layout.rest())) return false;
    v[2 * h] = v[2 * h + 1] = 0;
    wrap_join(r, v, h, a2, scratch + layout.b2());
    return true;
}

// T in t[0 .. 2k], T < 2^(64k), t[2k] = 0, for the k words of c's modulus:
// leaves (T + q n) / R in t[k .. 2k] like reduce_words. t must not be the
// accumulator, which n' is made in. `fixed`: what the steps of a power
// made once (monty_large_fix), or null.
void reduce_by_multiplication(mr_digit* t, monty_context& c, const reduce_area& area,
                              const monty_fixed* fixed = nullptr) {
    bignum* n = c.modulus;
    const int k = c.length;
    TORVANE_EXPECTS(k <= engine_instance->max_length && low_product_scratch_words(k) <= area.scratch_size &&
                    static_cast<std::size_t>(wrap_length_for(k)) + wrapped_product_scratch_words(wrap_length_for(k)) <=
                        area.scratch_size);
    if (c.nprime_length != k) make_nprime(c, area);
    if (all_zero(t, k)) return;  // q = 0; T / R is the high half already
    // q = T * n' mod R.
    if (fixed != nullptr && kept_low_product(area.q, t, c.nprime, k, fixed->low, area.scratch, area.scratch_size)) {
    } else if (parallel_low_product(area.q, t, c.nprime, k, area.scratch, area.scratch_size)) {
    } else if (fixed != nullptr ? fixed->low_fits : low_product_scratch_words(k) <= area.scratch_size) {
        low_product(area.q, t, c.nprime, k, area.scratch, fixed != nullptr ? fixed->low : nullptr);
    } else {
        schoolbook_product(area.qn, t, k, c.nprime, k);
        std::memcpy(area.q, area.qn, sizeof(mr_digit) * static_cast<std::size_t>(k));
    }
    // T mod R is not zero, so the low halves of T and q*n sum to exactly R:
    // a carry of 1 into word k, and the high half H of q*n is added above
    // it. q*n = H R + L with L = R - (T mod R); H comes from the wrap-around
    // product w = q*n mod (B^N - 1) of length N = wrap_length_for(k) >= k
    // (q and n taken as N words, n copied to the scratch's start).
    const int N = wrap_length_for(k);
    const auto extra = static_cast<std::size_t>(N - k);
    const std::size_t copy = N > k ? static_cast<std::size_t>(N) : 0;
    mr_digit* high = area.qn + k;
    if (fixed != nullptr ? fixed->wrap_fits : copy + wrapped_product_scratch_words(N) <= area.scratch_size) {
        mr_digit* w = area.qn;
        const mr_digit* nw = n->w;
        if (N > k) {
            mr_digit* padded = area.scratch;
            std::memcpy(padded, n->w, sizeof(mr_digit) * static_cast<std::size_t>(k));
            std::memset(padded + k, 0, sizeof(mr_digit) * extra);
            std::memset(area.q + k, 0, sizeof(mr_digit) * extra);
            nw = padded;
        }
        mr_digit* room = area.scratch + copy;
        if (fixed != nullptr && fixed->sums != nullptr &&
            kept_wrapped_product(w, area.q, N, fixed->sums, fixed->differences, fixed->wrap, room,
                                 area.scratch_size - copy)) {
        } else if (parallel_wrapped_product(w, area.q, nw, N, room, area.scratch_size - copy)) {
        } else if (fixed != nullptr && fixed->sums != nullptr) {
            wrapped_product_fixed(w, area.q, N, fixed->sums, fixed->differences, fixed->wrap, room);
        } else {
            wrapped_product(w, area.q, nw, N, room);
        }
        if (N == k) {
            // S = w + (T mod R) = c R + s, between 1 and 2R - 2 (H = w + (T
            // mod R) - 1 modulo R - 1, and H < n <= R - 2 fixes it). With c
            // = 0, H = s - 1; with c = 1, H = S - 1 - (R - 1) = s.
            const mr_digit c = add_vv(high, w, t, k);
            if (c == 0) sub_vw(high, high, k, 1);
        } else {
            // With H = H1 B^(N-k) + H0 (H0 of N - k words), q*n = L + H0 B^k
            // + H1 B^N, so w = L + H0 B^k + H1 modulo B^N - 1, and D = w - L
            // = w + (T mod R) - R there is H0 B^k + H1, below B^N - 1 as H1
            // < B^(2k-N) <= B^k: the words of H, rotated.
            mr_digit carry = add_vv(w, w, t, k);
            carry = add_vw(w + k, w + k, N - k, carry);
            if (carry != 0 && add_vw(w, w, N, 1) != 0) w[0] = 1;        // B^N is 1
            if (sub_vw(w + k, w + k, N - k, 1) != 0) sub_vw(w, w, N, 1);  // - R, + B^N - 1
            high = area.q;  // q has been used
            std::memcpy(high, w + k, sizeof(mr_digit) * extra);
            std::memcpy(high + extra, w, sizeof(mr_digit) * static_cast<std::size_t>(2 * k - N));
        }
    } else {
        schoolbook_product(area.qn, area.q, k, n->w, k);
    }
    mr_digit top = add_vw(t + k, t + k, k, 1);
    top += add_vv(t + k, t + k, high, k);
    t[2 * k] += top;
}

// y = the reduced value in t[k .. 2k] (below 2n when T < n*R; otherwise
// reduced modulo n with a division).
void finish_reduction(mr_digit* t, const bignum* n, int k, bignum* y) {
    mr_digit* r = t + k;
    bignum v = view_of(r, k + 1);
    if (compare_numbers(&v, n) >= 0) {
        sub_vv(r, r, n->w, k);
        r[k] = 0;
        v = view_of(r, k + 1);
        // Still not below n only when T was at least n*R.
        if (compare_numbers(&v, n) >= 0) {
            // t may be the words of the accumulator, under the caller's claim.
            const workspace_claim acc(ws::accumulator, t == engine_instance->accumulator->w);
            if (r != acc->w) copy_number(&v, acc);
            divide(acc, const_cast<bignum*>(n), const_cast<bignum*>(n));
            copy_number(acc, y);
            return;
        }
    }
    zero_number(y);
    std::memcpy(y->w, r, sizeof(mr_digit) * static_cast<std::size_t>(length_of(&v)));
    y->len = v.len;
}

// The magnitude of x is below n (x has at most k words).
bool below_modulus(const bignum* x, const bignum* n, int k) {
    const int len = length_of(x);
    return len < k || (len == k && cmp_vv(x->w, n->w, k) < 0);
}

}  // namespace

void reduce_with(monty_context& c, bignum* t, bignum* y, monty_method method) {
    bignum* n = c.modulus;
    workspace_claim acc(ws::accumulator, {t});
    const int k = c.length;
    copy_number(t, acc);
    acc->len &= ~mr_sign_bit;  // the sign is not looked at
    if (length_of(acc) > 2 * k) {
        // Not below n*R: reduce modulo n first, which leaves the result
        // t*R^-1 mod n unchanged and keeps the reduction inside 2k+1 words.
        length_check_scope unchecked(0);
        divide(acc, n, n);
    }
    const int len = length_of(acc);
    if (method == monty_by_multiplication) {
        const scratch_claim claim(area_reduce);
        const reduce_area area = the_reduce_area(claim);
        mr_digit* w = area.work;
        std::memcpy(w, acc->w, sizeof(mr_digit) * static_cast<std::size_t>(len));
        std::memset(w + len, 0, sizeof(mr_digit) * static_cast<std::size_t>(2 * k + 1 - len));
        acc.end();  // n' is made in the accumulator
        reduce_by_multiplication(w, c, area);
        finish_reduction(w, n, k, y);
        return;
    }
    mr_digit* w = acc->w;
    std::memset(w + len, 0, sizeof(mr_digit) * static_cast<std::size_t>(2 * k + 1 - len));
    reduce_words(w, n->w, k, c.constant_limb);
    acc->len = 0;
    finish_reduction(w, n, k, y);
    // The accumulator is left zero, as multiply expects to find the words
    // above its length.
    std::memset(w, 0, sizeof(mr_digit) * static_cast<std::size_t>(2 * k + 1));
    acc->len = 0;
}

bool monty_large_apply(const monty_context& c) {
    // As nres_modmult chooses: the IFMA kernel's moduli stay fused.
    const int k = c.length;
    return k >= monty_multiply_reduce_min && !monty_ifma_in_use(k) &&
           square_scratch_words(k) <= scratch_words_size(area_product) &&
           product_scratch_words(k, k) <= scratch_words_size(area_product);
}

monty_fixed monty_large_fix(monty_context& c, mr_digit* room, std::size_t size) {
    monty_fixed fixed{nullptr, nullptr, nullptr, nullptr, false, false};
    const int k = c.length;
    const fixed_reduce_layout layout = fixed_reduce_layout_for(k);
    const int N = layout.N;
    const scratch_claim claim(area_reduce);
    const reduce_area area = the_reduce_area(claim);
    fixed.low_fits = low_product_scratch_words(k) <= area.scratch_size;
    fixed.wrap_fits = static_cast<std::size_t>(N > k ? N : 0) + wrapped_product_scratch_words(N) <= area.scratch_size;
    if (layout.words() > size) return fixed;
    if (c.nprime_length != k) make_nprime(c, area);
    if (c.nprime_length != k) return fixed;  // an error stopped it
    if (layout.low_words != 0) {
        make_fixed_factor(c.nprime, low_product_layout_for(k).l, room);
        fixed.low = room;
    }
    if (layout.h != 0) {
        const int h = layout.h;
        mr_digit* padded = room + layout.padded();
        std::memcpy(padded, c.modulus->w, sizeof(mr_digit) * static_cast<std::size_t>(k));
        std::memset(padded + k, 0, sizeof(mr_digit) * static_cast<std::size_t>(N - k));
        mr_digit* sums = room + layout.sums();
        mr_digit* differences = room + layout.differences();
        wrap_split(padded, h, sums, differences);
        fixed.sums = sums;
        fixed.differences = differences;
        // The product there takes the fixed part only when the difference
        // has no top word (differences_product).
        if (layout.wrap_words != 0 && differences[h] == 0) {
            make_fixed_factor(differences, h, room + layout.wrap());
            fixed.wrap = room + layout.wrap();
        }
    }
    return fixed;
}

void monty_large_multiply(monty_context& c, const mr_digit* x, const mr_digit* y, mr_digit* r,
                          const monty_fixed* fixed) {
    const int k = c.length;
    const mr_digit* n = c.modulus->w;
    const scratch_claim claim(area_reduce);
    const reduce_area area = the_reduce_area(claim);
    mr_digit* t = area.work;
    {
        const scratch_claim products(area_product);
        if (x == y)
            square_vv(t, x, k, products.words());
        else
            product_vv(t, x, k, y, k, products.words());
    }
    t[2 * k] = 0;
    reduce_by_multiplication(t, c, area, fixed);
    // Below 2n; one subtraction of n when not below n.
    mr_digit* v = t + k;
    if (v[k] != 0 || cmp_vv(v, n, k) >= 0) sub_vv(v, v, n, k);
    std::memcpy(r, v, sizeof(mr_digit) * static_cast<std::size_t>(k));
}

void modmult_fused(const monty_context& c, bignum* x, bignum* y, bignum* w) {
    bignum* n = c.modulus;
    const int k = c.length;
    const scratch_claim claim(area_reduce);
    const reduce_area area = the_reduce_area(claim);
    mr_digit* xw = area.q;
    mr_digit* yw = area.q + k;
    const auto lx = static_cast<std::size_t>(length_of(x));
    const auto ly = static_cast<std::size_t>(length_of(y));
    std::memcpy(xw, x->w, sizeof(mr_digit) * lx);
    std::memset(xw + lx, 0, sizeof(mr_digit) * (static_cast<std::size_t>(k) - lx));
    std::memcpy(yw, y->w, sizeof(mr_digit) * ly);
    std::memset(yw + ly, 0, sizeof(mr_digit) * (static_cast<std::size_t>(k) - ly));
    monty_product_vv(xw, yw, n->w, k, c.constant_limb, area.work);
    finish_reduction(area.work, n, k, w);
}

// w = x*y*R^-1 mod n for residues x, y below n (x may be y), below the size
// of reduction by multiplication: the product or square is formed in the
// reduce area by the product methods directly and reduced there word by
// word, without the accumulator's copies. A square below the Karatsuba
// size runs on the Montgomery square kernel, square and reduction inline.
void modmult_in_area(const monty_context& c, bignum* x, bignum* y, bignum* w) {
    bignum* n = c.modulus;
    const int k = c.length;
    const scratch_claim claim(area_reduce);
    const reduce_area area = the_reduce_area(claim);
    mr_digit* t = area.work;
    const int lx = length_of(x), ly = length_of(y);
    if (x == y && k < square_karatsuba_threshold) {
        mr_digit* xw = area.q;
        std::memcpy(xw, x->w, sizeof(mr_digit) * static_cast<std::size_t>(lx));
        std::memset(xw + lx, 0, sizeof(mr_digit) * static_cast<std::size_t>(k - lx));
        monty_square_vv(xw, n->w, k, c.constant_limb, t);
        finish_reduction(t, n, k, w);
        return;
    }
    int len;
    if (x == y) {
        TORVANE_EXPECTS(square_scratch_words(lx) <= area.scratch_size);
        if (square_scratch_words(lx) <= area.scratch_size)
            square_vv(t, x->w, lx, area.scratch);
        else
            schoolbook_square(t, x->w, lx);
        len = 2 * lx;
    } else {
        const bool x_longer = lx >= ly;
        const bignum* a = x_longer ? x : y;
        const bignum* b = x_longer ? y : x;
        const int la = x_longer ? lx : ly, lb = x_longer ? ly : lx;
        TORVANE_EXPECTS(product_scratch_words(la, lb) <= area.scratch_size);
        if (product_scratch_words(la, lb) <= area.scratch_size)
            product_vv(t, a->w, la, b->w, lb, area.scratch);
        else
            schoolbook_product(t, a->w, la, b->w, lb);
        len = la + lb;
    }
    std::memset(t + len, 0, sizeof(mr_digit) * static_cast<std::size_t>(2 * k + 1 - len));
    reduce_words(t, n->w, k, c.constant_limb);
    finish_reduction(t, n, k, w);
}

namespace {

// Words of the reduce area's scratch that the steps keep for the product
// methods' own scratch, at its start: none below the Karatsuba sizes,
// where the kernels form every product and square.
std::size_t steps_scratch_words(int k) {
    if (k < monty_words_below()) return 0;
    return std::max(square_scratch_words(k), product_scratch_words(k, k));
}

}  // namespace

bool monty_words_apply(const monty_context& c) {
    // Below both Karatsuba sizes the products and squares of nres_modmult
    // are the kernels' alone, which the steps call the same way. On the
    // BMI2/ADX blocks the steps go on up to reduction by multiplication,
    // forming products and squares as nres_modmult does (the product
    // methods into their buffer, then the blocks' reduction), where the
    // reduce area's scratch holds the windowed power's tables and the
    // product methods' scratch.
    const int k = c.length;
    if (k < monty_words_below()) return true;
    if (k >= monty_multiply_reduce_min || !monty_adx_in_use(k)) return false;
    const mr_state* s = engine_instance;
    const std::size_t fixed = reduce_area_fixed_words(static_cast<std::size_t>(s->max_length));
    return s->reduce_area_size >= fixed + steps_scratch_words(k) + power_tables_words(k);
}

monty_words monty_words_for(const monty_context& c, const scratch_claim& claim) {
    const reduce_area area = the_reduce_area(claim);
    return {&c, {area.work, area.q}, 0, monty_square_for(c.length), monty_product_for(c.length), area.scratch};
}

mr_digit* monty_words_room(const monty_context& c, const scratch_claim& claim, std::size_t* size) {
    const reduce_area area = the_reduce_area(claim);
    const std::size_t kept = std::min(steps_scratch_words(c.length), area.scratch_size);
    *size = area.scratch_size - kept;
    return area.scratch + kept;
}

mr_digit* monty_words_multiply(monty_words& m, const mr_digit* x, const mr_digit* y) {
    const monty_context& c = *m.context;
    const mr_digit* n = c.modulus->w;
    const int k = c.length;
    mr_digit* buffer = m.buffers[m.next];
    m.next ^= 1;
    // As nres_modmult chooses for residues below n under such a modulus.
    if (x == y && k < square_karatsuba_threshold) {
        m.square(x, n, k, c.constant_limb, buffer);
    } else if (x == y) {
        square_vv(buffer, x, k, m.scratch);
        buffer[2 * k] = 0;
        reduce_words(buffer, n, k, c.constant_limb);
    } else if (m.product != nullptr) {
        m.product(x, y, n, k, c.constant_limb, buffer);
    } else if (monty_ifma_in_use(k) || k < monty_fused_max) {
        monty_product_vv(x, y, n, k, c.constant_limb, buffer);
    } else {
        if (k < product_karatsuba_threshold)
            mul_basecase_vv(buffer, x, k, y, k);
        else
            product_vv(buffer, x, k, y, k, m.scratch);
        buffer[2 * k] = 0;
        reduce_words(buffer, n, k, c.constant_limb);
    }
    // Below 2n; one subtraction of n when not below n.
    mr_digit* r = buffer + k;
    if (r[k] != 0 || cmp_vv(r, n, k) >= 0) sub_vv(r, r, n, k);
    return r;
}

void monty_words_double(const monty_context& c, mr_digit* x) {
    const mr_digit* n = c.modulus->w;
    const int k = c.length;
    if (shl_vu(x, x, k, 1) != 0 || cmp_vv(x, n, k) >= 0) sub_vv(x, x, n, k);
}

namespace {

// c's constants for the odd n, with no n' made yet.
void set_constants(const bignum* n, monty_context& c) {
    u64 low = n->w[0];
    if (length_of(n) > 1) low |= u64{n->w[1]} << 32;
    c.constant_limb = negated_inverse(low);
    c.constant = static_cast<mr_digit>(c.constant_limb);
    c.length = length_of(n);
    c.nprime_length = 0;
}

}  // namespace

monty_context& installed_context() { return engine_instance->monty; }

void make_context(bignum* n, bignum* nprime_room, monty_context& c) {
    c.modulus = n;
    c.nprime = nprime_room->w;
    set_constants(n, c);
}

mr_digit prepare_monty(bignum* n) {
    if (error_pending()) return 0;
    monty_context& c = installed_context();
    if (!is_zero(c.modulus) && compare_numbers(n, c.modulus) == 0) return c.constant;

    routine_trace trace(rn_prepare_monty);
    // n <= 2, or even (its lowest word, a multiple of 2^32 included, has no
    // inverse modulo 2^32).
    if (int_value(n) <= 2 || (n->w[0] & 1u) == 0) {
        report_error(mr_error_illegal_modulus);
        return 0;
    }
    copy_number(n, engine_instance->modulus);
    set_constants(n, c);
    return c.constant;
}

void nres(bignum* x, bignum* y) { nres(installed_context(), x, y); }

void redc(bignum* x, bignum* y) { redc(installed_context(), x, y); }

void nres_modmult(bignum* x, bignum* y, bignum* w) { nres_modmult(installed_context(), x, y, w); }

void nres(monty_context& c, bignum* x, bignum* y) {
    if (error_pending()) return;
    routine_trace trace(rn_nres);
    bignum* n = c.modulus;
    if (is_zero(n)) {
        report_error(mr_error_no_modulus);
        return;
    }

    copy_number(x, y);
    divide(y, n, n);  // y = x mod n, with x's sign
    if (is_negative(y)) add(y, n, y);

    // y*R mod n: shift up by k words in the double-length accumulator.
    const workspace_claim acc(ws::accumulator);
    {
        length_check_scope unchecked(0);
        mr_shift(y, c.length, acc);
        divide(acc, n, n);
    }
    copy_number(acc, y);
}

void redc(monty_context& c, bignum* x, bignum* y) {
    if (error_pending()) return;
    routine_trace trace(rn_redc);
    if (is_zero(c.modulus)) {
        // Without a modulus there is no R to divide by.
        report_error(mr_error_no_modulus);
        return;
    }
    reduce_with(c, x, y, c.length >= monty_multiply_reduce_min ? monty_by_multiplication : monty_by_words);
}

void nres_modmult(monty_context& c, bignum* x, bignum* y, bignum* w) {
    // A zero factor: the product is zero, even while an error is pending.
    if ((is_zero(x) && x == w) || (is_zero(y) && y == w)) return;
    if (is_zero(x) || is_zero(y)) {
        zero_number(w);
        return;
    }
    if (error_pending()) return;
    routine_trace trace(rn_nres_modmult);
    bignum* n = c.modulus;
    const int k = c.length;
    if ((k < monty_multiply_reduce_min || monty_ifma_in_use(k)) && below_modulus(x, n, k) &&
        (x == y || below_modulus(y, n, k))) {
        if (monty_ifma_in_use(k) || (x != y && k < monty_fused_max))
            modmult_fused(c, x, y, w);
        else
            modmult_in_area(c, x, y, w);
        return;
    }
    length_check_scope unchecked(0);
    const workspace_claim acc(ws::accumulator);
    multiply(x, y, acc);  // squares when x is y
    reduce_with(c, acc, w, k >= monty_multiply_reduce_min ? monty_by_multiplication : monty_by_words);
}

void clear_modulus() {
    zero_number(engine_instance->modulus);
    installed_context().nprime_length = 0;
}
