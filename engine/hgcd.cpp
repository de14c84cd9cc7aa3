// The half-GCD: blocks of Euclid steps found on the leading halves of the
// remainders and applied to the whole numbers by the fast products.
//
// A Lehmer pass (gcd.cpp) finds about 62 bits of Euclid steps on the
// leading 128 bits of R1 >= R2 and applies them to the full numbers, so a
// GCD of n words costs n^2 word products. A block does the same with the
// leading h = n/2 words: Euclid run on those (u, v) takes about h/2 words
// off them before its steps stop being provably steps of R1 and R2, with
// cofactors of about h/2 words, and the four products of those cofactors
// by R1 and R2 apply all the steps at once. The run on (u, v) is itself
// made of blocks while u is long enough, down to Lehmer passes, so the
// cost follows the products' instead of n^2.
//
// Which steps are right. Write the remainders of Euclid run on u, v as
// r_i = +-(x_i*u - y_i*v), the sign alternating, and let u, v be the
// leading parts of U, V (U = u*B^s + a fraction of B^s below it, the same
// s for V). The true remainders of U, V at that scale differ from r_i by
// less than x_i or y_i, which with y_i >= x_i (i >= 1, since u >= v) gives
// Jebelean's condition: after j >= 1 steps, the steps are all steps of U,
// V when r_(j+1) >= y_(j+1) and r_j - r_(j+1) >= y_j + y_(j+1). (For an
// earlier step k the same bounds hold with room to spare: remainders only
// shrink, r_(k-1) - r_k >= r_(k+1), and y_(k-1) + y_k <= y_(k+1) only
// grows.) A run therefore checks the condition after each block or pass
// it takes, and drops the last one and stops when it fails.
//
// The matrix of a run, as in a Lehmer pass: with (a, b) the cofactors
// (x, y) of u' and (c, d) those of v',
//
//     even step count:  u' = a*u - b*v,  v' = d*v - c*u
//     odd step count:   u' = b*v - a*u,  v' = c*u - d*v
//
// and a block of steps with matrix (a, b, c, d) takes cofactor pairs (P, Q)
// (the columns (a, c) and (b, d) of an outer matrix, or xgcd's C1, C2) to
// (a*P + b*Q, c*P + d*Q).
//
// Scratch: the numbers of each level of the recursion (u, v and the
// matrix) in the conversion area, six of h + 4 words at a level of h words,
// at most 6n + 24 per level below in all; the products, their results and
// the candidates of a block in the division area, about 5.8n words; the
// products' own temporaries in the product area. All are free while a GCD
// runs (no division or conversion is under way during a block).
#include <algorithm>
#include <atomic>
#include <cstring>
#include <utility>

#include "hgcd.h"
#include "internal.h"
#include "kernels.h"
#include "products.h"
#include "thresholds.h"
#include "workspace.h"

namespace {

std::atomic<int> block_words{hgcd_threshold};

// A magnitude in words, least significant first, with no leading zero
// words (len 0 for zero); its buffer may hold more words, all zero above len
// where a kernel reads them.
struct vec {
    mr_digit* w = nullptr;
    int len = 0;
};

void normalize(vec& x) {
    while (x.len > 0 && x.w[x.len - 1] == 0) --x.len;
}

void copy_words(mr_digit* z, const mr_digit* x, int n) {
    if (n > 0 && z != x) std::memmove(z, x, sizeof(mr_digit) * static_cast<std::size_t>(n));
}

void zero_words(mr_digit* z, int n) {
    if (n > 0) std::memset(z, 0, sizeof(mr_digit) * static_cast<std::size_t>(n));
}

// The sign of x - y.
int compare(const vec& x, const vec& y) {
    if (x.len != y.len) return x.len < y.len ? -1 : 1;
    return cmp_vv(x.w, y.w, x.len);
}

// Words handed out in order from a scratch area, each piece on a 16-byte
// boundary. The sizes are bounded at the top of the file; the debug build
// checks them.
struct arena {
    mr_digit* next;
    mr_digit* end;
    mr_digit* take(int words) {
        mr_digit* p = next;
        next += (static_cast<std::size_t>(words) + 3) / 4 * 4;
        TORVANE_EXPECTS(next <= end);
        return p;
    }
};

// The shared working words of a run: the product scratch, three product
// temporaries and the four candidates of a block, each of `room` words.
struct work {
    mr_digit* product_scratch;
    mr_digit* t1;
    mr_digit* t2;
    mr_digit* t3;
    mr_digit* cand[4];
};

// r = x * y; returns the length of the result (r has room for x.len + y.len
// words and is apart from both).
int multiply_vec(mr_digit* r, vec x, vec y, mr_digit* scratch) {
    if (x.len == 0 || y.len == 0) return 0;
    if (x.len < y.len) std::swap(x, y);
    product_vv(r, x.w, x.len, y.w, y.len, scratch);
    int n = x.len + y.len;
    while (n > 0 && r[n - 1] == 0) --n;
    return n;
}

// z[0 .. L-1] = (p - q) mod B^L for p, q of lengths lp, lq; z may be p.
void subtract_low(mr_digit* z, const mr_digit* p, int lp, const mr_digit* q, int lq, int L) {
    lp = std::min(lp, L);
    lq = std::min(lq, L);
    copy_words(z, p, lp);
    zero_words(z + lp, L - lp);
    const mr_digit borrow = sub_vv(z, z, q, lq);
    if (borrow != 0) sub_vw(z + lq, z + lq, L - lq, borrow);
}

// z = p + q; returns its length (z has room for one word more than the
// longer; z may be p or q).
int add_vec(mr_digit* z, const mr_digit* p, int lp, const mr_digit* q, int lq) {
    if (lp < lq) {
        std::swap(p, q);
        std::swap(lp, lq);
    }
    const mr_digit c1 = add_vv(z, p, q, lq);
    copy_words(z + lq, p + lq, lp - lq);
    const mr_digit c2 = add_vw(z + lq, z + lq, lp - lq, c1);
    z[lp] = c2;
    return lp + (c2 != 0 ? 1 : 0);
}

// A run of Euclid steps on (u, v) with the matrix that holds them.
struct level {
    vec u, v, a, b, c, d;
    long long steps = 0;
};

// The block's matrix applied to the remainders (x, y) of L = x.len words:
// the new ones in ox and oy (oy may be y's buffer, ox not x's).
void apply_to_remainders(const level& m, const vec& x, const vec& y, mr_digit* ox, mr_digit* oy, const work& k) {
    const int L = x.len;
    const bool even = m.steps % 2 == 0;
    int n1 = multiply_vec(k.t1, m.a, x, k.product_scratch);
    int n2 = multiply_vec(k.t2, m.b, y, k.product_scratch);
    if (even)
        subtract_low(ox, k.t1, n1, k.t2, n2, L);
    else
        subtract_low(ox, k.t2, n2, k.t1, n1, L);
    n1 = multiply_vec(k.t1, m.c, x, k.product_scratch);
    n2 = multiply_vec(k.t2, m.d, y, k.product_scratch);
    if (even)
        subtract_low(oy, k.t2, n2, k.t1, n1, L);
    else
        subtract_low(oy, k.t1, n1, k.t2, n2, L);
}

// (p, q) = (a*p + b*q, c*p + d*q) by the block's matrix into op, oq (apart
// from p and q; op apart from t1 and t2, oq apart from t2; each with room
// for one word more than the longer product); returns their lengths.
void apply_to_pair(const level& m, const vec& p, const vec& q, mr_digit* op, int& lp, mr_digit* oq, int& lq,
                   const work& k) {
    int n1 = multiply_vec(k.t1, m.a, p, k.product_scratch);
    int n2 = multiply_vec(k.t2, m.b, q, k.product_scratch);
    lp = add_vec(op, k.t1, n1, k.t2, n2);
    n1 = multiply_vec(k.t1, m.c, p, k.product_scratch);
    n2 = multiply_vec(k.t2, m.d, q, k.product_scratch);
    lq = add_vec(oq, k.t1, n1, k.t2, n2);
}

// The same for a Lehmer pass's matrix, one fused pass each. Remainders:
// x, y of L words, the words up to an even count zero; results over that
// many words.
void lehmer_to_remainders(const lehmer_matrix& m, const vec& x, const vec& y, mr_digit* ox, mr_digit* oy) {
    matrix_remainders(x.w, y.w, (x.len + 1) / 2, m, ox, oy);
}

// Cofactor pair (p, q) by a Lehmer matrix into op, oq (apart from p and q).
void lehmer_to_pair(const lehmer_matrix& m, const vec& p, const vec& q, vec& op, vec& oq) {
    const int n = std::max(p.len, q.len);
    const int ne = n + (n & 1);  // the words above each length are zero
    matrix_cofactors(p.w, q.w, ne / 2, m, op.w, oq.w);
    op.len = ne + 2;
    oq.len = ne + 2;
    normalize(op);
    normalize(oq);
}

// Jebelean's condition on the remainders u >= v and the y cofactors b, d
// (see the top): v >= d and u - v >= b + d. t1, t2 are temporaries.
bool steps_proven(const vec& u, const vec& v, const vec& b, const vec& d, const work& k) {
    if (compare(v, d) < 0) return false;
    // Mostly u - v is far above b + d < B^(e+1) (e the longer one's length),
    // which the top two words of u and v show: with m = u.len, u - v >
    // (ut - vt - 1) * B^(m-2) for the words ut, vt at m-2 and m-1.
    const int e = std::max(b.len, d.len);
    const int m = u.len;
    if (m >= e + 3) {
        const std::uint64_t ut = load_limb(u.w + m - 2);
        const std::uint64_t vt = v.len >= m - 1 ? load_limb(v.w + m - 2) : 0;  // zero above v.len
        if (ut > vt + 1) return true;
    }
    vec sum{k.t1, add_vec(k.t1, b.w, b.len, d.w, d.len)};
    vec diff{k.t2, u.len};
    subtract_low(k.t2, u.w, u.len, v.w, v.len, u.len);
    normalize(diff);
    return compare(diff, sum) >= 0;
}

// A level for the leading h words of (x, y) taken at word s = x.len - h,
// with the identity matrix; its numbers have room h + 4 words, zeroed.
level leading_level(const vec& x, const vec& y, int h, arena& ar) {
    const int room = h + 4;
    level s;
    vec* parts[] = {&s.u, &s.v, &s.a, &s.b, &s.c, &s.d};
    for (vec* p : parts) {
        p->w = ar.take(room);
        zero_words(p->w, room);
        p->len = 0;
    }
    const int at = x.len - h;
    copy_words(s.u.w, x.w + at, h);
    s.u.len = h;
    if (y.len > at) {
        copy_words(s.v.w, y.w + at, y.len - at);
        s.v.len = y.len - at;
    }
    s.a.w[0] = 1;
    s.a.len = 1;
    s.d.w[0] = 1;
    s.d.len = 1;
    return s;
}

// Moves a candidate of `words` words into a number whose old value had
// old_words words, clearing what that left above.
void commit(vec& to, const mr_digit* from, int words, int old_words) {
    copy_words(to.w, from, words);
    zero_words(to.w + words, old_words - words);
    to.len = words;
    normalize(to);
}

// Euclid on (L.u, L.v), with L.u >= L.v, as far as its steps are provably
// steps of the numbers whose leading parts they are (h0 words, the length
// of L.u at the start), carrying the matrix.
void run_level(level& L, int h0, arena ar, const work& k) {
    // The condition fails about where v reaches half of h0 words (its y
    // cofactor then has the other half): blocks aim a little above that,
    // so that their work is not thrown away, and passes take the rest.
    const int target = h0 / 2 + 2;
    bool blocks = true;
    while (L.v.len > 0) {
        const int n = L.u.len;
        // A block of the leading h words takes about h/2 words off.
        const int h = std::min(n / 2, 2 * (L.v.len - target) - 2);
        const int threshold = hgcd_words();
        if (blocks && n >= threshold && h >= threshold / 2 && L.v.len > n - h + 1) {
            arena inner = ar;
            level s = leading_level(L.u, L.v, h, inner);
            run_level(s, h, inner, k);
            if (s.steps > 0) {
                apply_to_remainders(s, L.u, L.v, k.cand[0], k.cand[1], k);
                vec nu{k.cand[0], n}, nv{k.cand[1], n}, nb{k.cand[2], 0}, nd{k.cand[3], 0};
                normalize(nu);
                normalize(nv);
                apply_to_pair(s, L.b, L.d, nb.w, nb.len, nd.w, nd.len, k);
                normalize(nb);
                normalize(nd);
                if (steps_proven(nu, nv, nb, nd, k)) {
                    commit(L.u, nu.w, n, n);
                    commit(L.v, nv.w, n, n);
                    commit(L.b, nb.w, nb.len, L.b.len);
                    commit(L.d, nd.w, nd.len, L.d.len);
                    int la = 0, lc = 0;
                    apply_to_pair(s, L.a, L.c, k.t3, la, k.cand[0], lc, k);
                    commit(L.a, k.t3, la, L.a.len);
                    commit(L.c, k.cand[0], lc, L.c.len);
                    L.steps += s.steps;
                    continue;
                }
                blocks = false;  // near the end of the run: passes from here
            }
        }
        const lehmer_matrix m = lehmer_pass(L.u.w, L.v.w, n);
        if (m.steps == 0) break;
        const int ne = n + (n & 1);
        lehmer_to_remainders(m, L.u, L.v, k.cand[0], k.cand[1]);
        vec nu{k.cand[0], ne}, nv{k.cand[1], ne}, nb{k.cand[2], 0}, nd{k.cand[3], 0};
        normalize(nu);
        normalize(nv);
        lehmer_to_pair(m, L.b, L.d, nb, nd);
        if (!steps_proven(nu, nv, nb, nd, k)) break;
        commit(L.u, nu.w, ne, ne);
        commit(L.v, nv.w, ne, ne);
        commit(L.b, nb.w, nb.len, L.b.len);
        commit(L.d, nd.w, nd.len, L.d.len);
        vec na{k.t1, 0}, nc{k.t2, 0};
        lehmer_to_pair(m, L.a, L.c, na, nc);
        commit(L.a, na.w, na.len, L.a.len);
        commit(L.c, nc.w, nc.len, L.c.len);
        L.steps += m.steps;
    }
}

vec vec_of(bignum* x) { return vec{x->w, length_of(x)}; }

}  // namespace

int hgcd_words() { return block_words.load(std::memory_order_relaxed); }

int select_hgcd_words(int words) { return block_words.exchange(std::max(words, 8), std::memory_order_relaxed); }

long long hgcd_block(bignum* r1, bignum* r2, bignum* c1, bignum* c2) {
    const int n = length_of(r1);
    const int h = n / 2;
    if (length_of(r2) <= n - h + 1) return 0;

    const scratch_claim levels_area(area_convert);
    const scratch_claim work_area(area_divide);
    const scratch_claim product_area(area_product);
    arena ar{levels_area.words(), levels_area.words() + levels_area.size()};
    arena wa{work_area.words(), work_area.words() + work_area.size()};
    // Products of a matrix entry (at most h + 4 words) by a remainder or
    // cofactor (at most max_length words), and the candidates of a level
    // below (at most h + 4 words).
    const int room = engine_instance->max_length + h + 8;
    work k;
    k.product_scratch = product_area.words();
    k.t1 = wa.take(room);
    k.t2 = wa.take(room);
    k.t3 = wa.take(room);
    for (mr_digit*& c : k.cand) c = wa.take(h + 8);

    const vec x = vec_of(r1), y = vec_of(r2);
    level s = leading_level(x, y, h, ar);
    run_level(s, h, ar, k);
    if (s.steps == 0) return 0;

    // R1 in t3 first (R1 is still needed for R2), R2 in place.
    apply_to_remainders(s, x, y, k.t3, r2->w, k);
    copy_words(r1->w, k.t3, n);
    r1->len = static_cast<std::uint32_t>(n);
    r2->len = static_cast<std::uint32_t>(n);
    strip_leading_zeros(r1);
    strip_leading_zeros(r2);

    if (c1 != nullptr) {
        // The cofactors never exceed the larger operand, so a result
        // longer than max_length words cannot arise; it is reported as an
        // overflow rather than written (as after a Lehmer pass).
        vec p = vec_of(c1), q = vec_of(c2);
        int lp = 0, lq = 0;
        apply_to_pair(s, p, q, k.t3, lp, k.t1, lq, k);  // t1 may hold the second sum
        while (lp > 0 && k.t3[lp - 1] == 0) --lp;
        while (lq > 0 && k.t1[lq - 1] == 0) --lq;
        if (std::max(lp, lq) > engine_instance->max_length) {
            report_error(mr_error_overflow);
            return s.steps;
        }
        commit(p, k.t3, lp, p.len);
        commit(q, k.t1, lq, q.len);
        c1->len = static_cast<std::uint32_t>(p.len);
        c2->len = static_cast<std::uint32_t>(q.len);
    }
    return s.steps;
}
