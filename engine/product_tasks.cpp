// The point products of the top Toom-3, Toom-4 and Toom-8 levels as tasks
// of the worker pool (pool.h), from parallel_product_threshold words;
// start_pool installs them into the products' methods (install_pool_levels).
//
// One task a point (Toom-8: a pair of points) evaluates both factors at its
// point into scratch of its own thread (the starting thread's is the serial
// method's evaluation room and what follows it; a helping thread's is its
// instance's product area, claimed for the task) and multiplies into the
// value's place, which the serial method uses too. Inside a task of another
// run (a primality test, a part of a reduction) the points form a nested
// run, which free threads join. Toom-4's interpolation runs in steps on the
// threads as the points are done (toom4_run_step); the others' runs on the
// calling thread afterwards, as without the pool. Toom-3 and Toom-4 evaluate
// a pair at +x and -x twice, once in each of its two tasks (linear work
// beside the products); Toom-8's pair tasks evaluate once and add the pair's
// values, the interpolation's first step, on the thread that has them.
// Tasks run in order of index, the long products first (Toom-4: v0 and vinf
// first, for its steps). A Toom-8 product by a factor whose points are kept
// (pool_toom8_kept, for reduction by multiplication under a power)
// evaluates only the other factor in its tasks, and runs its caller's side
// tasks first in the same run. A point's own product does not split further on
// the pool, which measured slower (docs/tuning.md).
#include "product_tasks.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <utility>

#include "internal.h"
#include "kernels.h"
#include "pool.h"
#include "products.h"
#include "thresholds.h"
#include "toom.h"
#include "workspace.h"

namespace {

// The evaluations of Toom-3 for one operand of m words split at k (m - 2k
// words in the top piece, 1 <= m - 2k <= k); each value has k + 1 words.
// a(1) = a0 + a1 + a2.
void eval_one(mr_digit* e, const mr_digit* a, int m, int k) {
    mr_digit c = add_vv(e, a, a + k, k);
    e[k] = c + add_nn(e, e, k, a + 2 * k, m - 2 * k);
}

// |a(-1)| = |a0 - a1 + a2|; returns true when a(-1) < 0.
bool eval_minus_one(mr_digit* e, const mr_digit* a, int m, int k) {
    e[k] = add_nn(e, a, k, a + 2 * k, m - 2 * k);
    return abs_diff(e, e, k + 1, a + k, k);
}

// a(2) = a0 + 2 (a1 + 2 a2).
void eval_two(mr_digit* e, const mr_digit* a, int m, int k) {
    const int top = m - 2 * k;
    e[top] = shl_vu(e, a + 2 * k, top, 1);
    zero_words(e + top + 1, k - top);
    // e < 2^(32 top + 1) <= B^k + ... : the sum below fits k + 1 words.
    e[k] += add_nn(e, a + k, k, e, std::min(top + 1, k));
    shl_vu(e, e, k + 1, 1);
    add_nn(e, e, k + 1, a, k);
}

enum class toom_kind {
    toom3_product,
    toom3_square,
    toom4_product,
    toom4_square,
    toom8_product,
    toom8_square,
    toom8_kept,  // a Toom-8 product whose b has its points kept (toom8_make_points)
};

struct toom_points {
    toom_kind kind;
    mr_digit* r;
    const mr_digit* a;
    int m;
    const mr_digit* b;
    int n;
    int k;
    mr_digit* values[13];        // v1, vm1, v2, vm2, vh (Toom-3: the first three; Toom-8: its 13)
    mr_digit* caller_room;       // the caller's evaluation room and scratch
    bool negative[13];           // sign of the value, where one can be negative
    // Toom-4: the steps of the interpolation that the tasks run as their
    // inputs become ready (toom4_arrive), each with the number of its
    // inputs not yet done.
    std::atomic<int> waiting[8] = {};
    // toom8_kept: b's points, and the side tasks that run first in the
    // same run (none elsewhere).
    const mr_digit* points = nullptr;
    const pool_side_tasks* side = nullptr;
    // Toom-8: where the tasks of v0 and vinf copy them for the
    // interpolation, once their products are in r (null: after the run).
    toom8_interpolation* ends = nullptr;
};

// Words of evaluation room a point task needs before its product's scratch.
int evaluation_words(toom_kind kind, int k) {
    switch (kind) {
    case toom_kind::toom3_product: return 2 * (k + 1);
    case toom_kind::toom3_square: return k + 1;
    case toom_kind::toom4_product: return 5 * (k + 1);
    case toom_kind::toom4_square: return 3 * (k + 1);
    case toom_kind::toom8_product:
    case toom_kind::toom8_kept: return 2 * k + 4 * (k + 1);
    case toom_kind::toom8_square: return k + 2 * (k + 1);
    }
    return 0;
}

std::size_t point_task_words(toom_kind kind, int k) {
    const bool square =
        kind == toom_kind::toom3_square || kind == toom_kind::toom4_square || kind == toom_kind::toom8_square;
    const std::size_t product = square ? std::max(square_scratch_words(k + 1), square_scratch_words(k))
                                       : std::max(product_scratch_words(k + 1, k + 1), product_scratch_words(k, k));
    return static_cast<std::size_t>(evaluation_words(kind, k)) + product;
}

void toom3_point(toom_points& t, int index, mr_digit* room) {
    const int k = t.k, m = t.m, n = t.n;
    mr_digit* ea = room;
    if (t.kind == toom_kind::toom3_square) {
        mr_digit* rest = ea + (k + 1);
        switch (index) {
        case 0: eval_one(ea, t.a, m, k); square_top(t.values[0], ea, k, rest); break;
        case 1: eval_minus_one(ea, t.a, m, k); square_top(t.values[1], ea, k, rest); break;
        case 2: eval_two(ea, t.a, m, k); square_top(t.values[2], ea, k, rest); break;
        case 3: square_vv(t.r, t.a, k, rest); break;
        default: square_vv(t.r + 4 * k, t.a + 2 * k, m - 2 * k, rest); break;
        }
        return;
    }
    mr_digit* eb = ea + (k + 1);
    mr_digit* rest = eb + (k + 1);
    switch (index) {
    case 0:
        eval_one(ea, t.a, m, k);
        eval_one(eb, t.b, n, k);
        product_top(t.values[0], ea, eb, k, rest);
        break;
    case 1:
        t.negative[1] = eval_minus_one(ea, t.a, m, k) != eval_minus_one(eb, t.b, n, k);
        product_top(t.values[1], ea, eb, k, rest);
        break;
    case 2:
        eval_two(ea, t.a, m, k);
        eval_two(eb, t.b, n, k);
        product_top(t.values[2], ea, eb, k, rest);
        break;
    case 3: product_vv(t.r, t.a, k, t.b, k, rest); break;
    default: product_vv(t.r + 4 * k, t.a + 2 * k, m - 2 * k, t.b + 2 * k, n - 2 * k, rest); break;
    }
}

void toom4_point(toom_points& t, int index, mr_digit* room) {
    const int k = t.k, m = t.m, n = t.n;
    mr_digit* ea = room;
    mr_digit* eam = ea + (k + 1);
    if (t.kind == toom_kind::toom4_square) {
        mr_digit* u = eam + (k + 1);
        mr_digit* rest = u + (k + 1);
        switch (index) {
        case 0: eval4_one(ea, eam, u, t.a, m, k); square_top(t.values[0], ea, k, rest); break;
        case 1: eval4_one(ea, eam, u, t.a, m, k); square_top(t.values[1], eam, k, rest); break;
        case 2: eval4_two(ea, eam, u, t.a, m, k); square_top(t.values[2], ea, k, rest); break;
        case 3: eval4_two(ea, eam, u, t.a, m, k); square_top(t.values[3], eam, k, rest); break;
        case 4: eval4_half(ea, t.a, m, k); square_top(t.values[4], ea, k, rest); break;
        case 5: square_vv(t.r, t.a, k, rest); break;
        default: square_vv(t.r + 6 * k, t.a + 3 * k, m - 3 * k, rest); break;
        }
        return;
    }
    mr_digit* eb = eam + (k + 1);
    mr_digit* ebm = eb + (k + 1);
    mr_digit* u = ebm + (k + 1);
    mr_digit* rest = u + (k + 1);
    switch (index) {
    case 0:
    case 1: {
        const bool negative = eval4_one(ea, eam, u, t.a, m, k) != eval4_one(eb, ebm, u, t.b, n, k);
        if (index == 0)
            product_top(t.values[0], ea, eb, k, rest);
        else {
            t.negative[1] = negative;
            product_top(t.values[1], eam, ebm, k, rest);
        }
        break;
    }
    case 2:
    case 3: {
        const bool negative = eval4_two(ea, eam, u, t.a, m, k) != eval4_two(eb, ebm, u, t.b, n, k);
        if (index == 2)
            product_top(t.values[2], ea, eb, k, rest);
        else {
            t.negative[3] = negative;
            product_top(t.values[3], eam, ebm, k, rest);
        }
        break;
    }
    case 4:
        eval4_half(ea, t.a, m, k);
        eval4_half(eb, t.b, n, k);
        product_top(t.values[4], ea, eb, k, rest);
        break;
    case 5: product_vv(t.r, t.a, k, t.b, k, rest); break;
    default: product_vv(t.r + 6 * k, t.a + 3 * k, m - 3 * k, t.b + 3 * k, n - 3 * k, rest); break;
    }
}

// Toom-8's points, a task for each pair's two (0 to 5: +-x_j, into
// values[2j] and values[2j + 1], which it then adds, add_pair), so that
// each factor is evaluated once a pair and the pair's values are added on
// the thread that made them; 6 the point 2/3; 7 and 8 the products at 0
// and infinity.
constexpr int toom8_tasks = 9;

// On the pool (t.ends set), the interpolation's first sums and differences
// run in the point tasks, on the thread that completes the last of each
// one's two inputs (t.waiting), so that only its pass over all the values
// is left after the run:
//     ends:    (c0, c14) <- (c0 + c14, c0 - c14)        after v0, vinf copied
//     pairs12: (S_2, S_3), (D_2, D_3) <- sum, difference after pairs 1 and 2
//     pairs34: (S_4, S_5), (D_4, D_5) <- sum, difference after pairs 3 and 4
// (toom8_even_setup's first three steps and toom8_odd_setup's two parts).
enum toom8_step { toom8_ends_step, toom8_pairs12_step, toom8_pairs34_step };

void toom8_arrive(toom_points& t, toom8_step step) {
    if (t.waiting[step].fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    const int p = 2 * t.k + 2;
    mr_digit** v = t.values;  // the pairs' sums at 2j, differences at 2j + 1 (add_pair)
    switch (step) {
    case toom8_ends_step: add_sub(t.ends->c0, t.ends->c14, p); break;
    case toom8_pairs12_step:
        add_sub(v[2], v[4], p);
        add_sub(v[3], v[5], p);
        break;
    case toom8_pairs34_step:
        add_sub(v[6], v[8], p);
        add_sub(v[7], v[9], p);
        break;
    }
}

void toom8_pair_done(toom_points& t, int j) {
    if (t.ends == nullptr) return;
    if (j == 1 || j == 2) toom8_arrive(t, toom8_pairs12_step);
    if (j == 3 || j == 4) toom8_arrive(t, toom8_pairs34_step);
}

void toom8_point(toom_points& t, int index, mr_digit* room) {
    const int k = t.k, m = t.m, n = t.n;
    const bool square = t.kind == toom_kind::toom8_square;
    if (index >= 7) {
        const int at = index == 7 ? 0 : 7 * k;  // the lowest pieces or the top ones
        mr_digit* z = t.r + 2 * at;
        if (square)
            square_vv(z, t.a + at, index == 7 ? k : m - at, room);
        else
            product_vv(z, t.a + at, index == 7 ? k : m - at, t.b + at, index == 7 ? k : n - at, room);
        if (t.ends != nullptr) {
            toom8_copy_end(*t.ends, index - 7);
            toom8_arrive(t, toom8_ends_step);
        }
        return;
    }
    const int j = index;
    mr_digit* top = room;                      // k words a factor
    mr_digit* e = room + (square ? k : 2 * k);  // k + 1 words a part
    mr_digit* ap = e;
    mr_digit* am = e + (k + 1);
    if (square) {
        mr_digit* rest = e + 2 * (k + 1);
        eval8_point(ap, am, toom8_pieces(t.a, m, k, top), k, j);
        square_top(t.values[2 * j], ap, k, rest);
        if (j == 6) return;
        square_top(t.values[2 * j + 1], am, k, rest);
        add_pair(k, j, t.values, t.negative);
        toom8_pair_done(t, j);
        return;
    }
    mr_digit* bp = e + 2 * (k + 1);
    mr_digit* bm = e + 3 * (k + 1);
    mr_digit* rest = e + 4 * (k + 1);
    const bool negative_a = eval8_point(ap, am, toom8_pieces(t.a, m, k, top), k, j);
    // b at x_j and |b(-x_j)|: evaluated here, or from its kept points.
    const mr_digit* bpv = bp;
    const mr_digit* bmv = bm;
    bool negative_b;
    if (t.kind == toom_kind::toom8_kept) {
        negative_b = toom8_kept_point(t.points, n, j, bpv, bmv);
    } else {
        negative_b = eval8_point(bp, bm, toom8_pieces(t.b, n, k, top + k), k, j);
        bpv = bp;
        bmv = bm;
    }
    product_top(t.values[2 * j], ap, bpv, k, rest);
    if (j == 6) return;
    t.negative[2 * j + 1] = negative_a != negative_b;
    product_top(t.values[2 * j + 1], am, bmv, k, rest);
    add_pair(k, j, t.values, t.negative);
    toom8_pair_done(t, j);
}

// Toom-4's interpolation on the pool, for products (a square's points are
// cheaper, and there the steps measured slower: 2048 words on two threads,
// medians 49.8-50.3 against 47.2-48.6 us). Its passes (toom4_interpolate)
// form steps, each run by the thread whose task or step completes the last
// of its inputs, right after it, while the other threads still compute
// points; no thread waits for another. The points run v0 and vinf first
// and v_half last, so that only the steps that need v_half (H and C3
// below, then the final sums) remain when the last point is done.
//     A:  (v1, vm1) <- (v1 + vm1, v1 - vm1)       after the points v1, vm1
//     B:  (v2, vm2) <- (v2 + vm2, v2 - vm2)       after the points v2, vm2
//     V:  v0's top words cleared, vinf copied      after the points v0, vinf
//     E1: v1 <- c2 + c4                            after A, V
//     X3: vm2 <- 3X                                after A, B
//     E2: v2 <- c4, v1 <- c2                       after E1, B
//     H:  vh <- 3Y                                 after E2, the point vh
//     C3: vm1 <- c3, vm2 <- c5, vh <- c1           after H, X3
// vinf is copied into r[2k + 2 ..], free until the final sums, which the
// calling thread adds once the run is done.
enum toom4_step { step_a, step_b, step_v, step_e1, step_x3, step_e2, step_h, step_c3 };

// The order in which the run's tasks compute the points (toom4_point's
// indexes): v0, vinf, v1, vm1, v2, vm2, v_half.
constexpr int toom4_point_order[7] = {5, 6, 0, 1, 2, 3, 4};

void toom4_arrive(toom_points& t, toom4_step step);

void toom4_run_step(toom_points& t, toom4_step step) {
    const int k = t.k, p = 2 * k + 2;
    mr_digit* const v0 = t.r;
    const mr_digit* const vinf = t.r + 2 * k + 2;
    mr_digit** v = t.values;  // v1, vm1, v2, vm2, vh
    switch (step) {
    case step_a:
        add_sub(v[0], v[1], p);
        if (t.negative[1]) std::swap(v[0], v[1]);
        toom4_arrive(t, step_e1);
        toom4_arrive(t, step_x3);
        break;
    case step_b:
        add_sub(v[2], v[3], p);
        if (t.negative[3]) std::swap(v[2], v[3]);
        toom4_arrive(t, step_x3);
        toom4_arrive(t, step_e2);
        break;
    case step_v: {
        const int vinf_n = t.m + t.n - 6 * k;
        v0[2 * k] = v0[2 * k + 1] = 0;
        copy_words(t.r + 2 * k + 2, t.r + 6 * k, vinf_n);
        zero_words(t.r + 2 * k + 2 + vinf_n, p - vinf_n);
        toom4_arrive(t, step_e1);
        break;
    }
    case step_e1:
        combine<1, 1, -2, -2>(v[0], p, {v0, vinf});
        toom4_arrive(t, step_e2);
        break;
    case step_x3:
        combine<2, 1, -2>(v[3], p, {v[1]});
        toom4_arrive(t, step_c3);
        break;
    case step_e2:
        combine<3, 1, -2, -128, -8>(v[2], p, {v0, vinf, v[0]});
        divexact_by_factor(v[2], p, 3);
        sub_vv(v[0], v[0], v[2], p);
        toom4_arrive(t, step_h);
        break;
    case step_h:
        combine<1, 1, -64, -16, -4, -1, -1>(v[4], p, {v0, v[0], v[2], vinf, v[1]});
        toom4_arrive(t, step_c3);
        break;
    case step_c3:
        combine<1, 15, -2, -2>(v[1], p, {v[3], v[4]});
        divexact_by_factor(v[1], p, 3);
        divexact_by_factor(v[1], p, 3);
        combine_divexact<-3>(v[3], v[1], p, 15);
        combine_divexact<-3>(v[4], v[1], p, 15);
        break;
    }
}

// One input of `step` is done: the thread that completes the last one runs
// it.
void toom4_arrive(toom_points& t, toom4_step step) {
    if (t.waiting[step].fetch_sub(1, std::memory_order_acq_rel) == 1) toom4_run_step(t, step);
}

// After toom4_point's point `point`: the steps it is an input of.
void toom4_point_done(toom_points& t, int point) {
    switch (point) {
    case 0:
    case 1: toom4_arrive(t, step_a); break;
    case 2:
    case 3: toom4_arrive(t, step_b); break;
    case 4: toom4_arrive(t, step_h); break;
    default: toom4_arrive(t, step_v); break;
    }
}

void point_task(void* context, int index, const pool_executor& executor) {
    auto& t = *static_cast<toom_points*>(context);
    if (t.side != nullptr && index < t.side->count) {
        const pool_side_tasks& side = *t.side;
        if (executor.helping) {
            const scratch_claim room(area_product);
            side.task(side.context, index, room.words());
        } else {
            side.task(side.context, index, t.caller_room);
        }
        return;
    }
    if (t.side != nullptr) index -= t.side->count;
    // Toom-4 products interpolate in steps (above), squares after the run.
    const bool steps = t.kind == toom_kind::toom4_product;
    const auto point = [&](mr_digit* room) {
        if (steps)
            toom4_point(t, toom4_point_order[index], room);
        else if (t.kind == toom_kind::toom4_square)
            toom4_point(t, index, room);
        else if (t.kind == toom_kind::toom8_product || t.kind == toom_kind::toom8_square ||
                 t.kind == toom_kind::toom8_kept)
            toom8_point(t, index, room);
        else
            toom3_point(t, index, room);
    };
    if (executor.helping) {
        // A thread helping another's run: the product area of its instance.
        const scratch_claim room(area_product);
        point(room.words());
    } else {
        point(t.caller_room);
    }
    if (steps) toom4_point_done(t, toom4_point_order[index]);
}

// Runs the point products of one Toom level on the pool; false (nothing
// done) when the pool cannot take them or a worker's room is too small.
bool run_points(toom_points& t) {
    // A kept-point product's caller has chosen the pool by its own size.
    if ((t.m < parallel_product_threshold && t.kind != toom_kind::toom8_kept) || !pool_available() ||
        engine_instance == nullptr)
        return false;
    if (point_task_words(t.kind, t.k) > scratch_words_size(area_product)) return false;
    const bool toom8 =
        t.kind == toom_kind::toom8_product || t.kind == toom_kind::toom8_square || t.kind == toom_kind::toom8_kept;
    const int count = t.kind == toom_kind::toom3_product || t.kind == toom_kind::toom3_square ? 5
                      : toom8                                                                ? toom8_tasks
                                                                                             : 7;
    return pool_run(count + (t.side != nullptr ? t.side->count : 0), point_task, &t);
}

bool pool_toom3(mr_digit* r, const mr_digit* a, int m, const mr_digit* b, int n, mr_digit* scratch) {
    const int k = (m + 2) / 3;
    const int p = 2 * k + 2;
    const bool square = b == nullptr;
    toom_points t{square ? toom_kind::toom3_square : toom_kind::toom3_product,
                  r, a, m, b, n, k, {scratch, scratch + p, scratch + 2 * p, nullptr, nullptr}, scratch + 3 * p, {}};
    if (!run_points(t)) return false;
    toom3_interpolate(r, m + (square ? m : n), k, t.values[0], t.values[1], t.negative[1], t.values[2]);
    return true;
}

bool pool_toom4(mr_digit* r, const mr_digit* a, int m, const mr_digit* b, int n, mr_digit* scratch) {
    const int k = (m + 3) / 4;
    const int p = 2 * k + 2;
    const bool square = b == nullptr;
    toom_points t{square ? toom_kind::toom4_square : toom_kind::toom4_product,
                  r, a, m, b, n, k,
                  {scratch, scratch + p, scratch + 2 * p, scratch + 3 * p, scratch + 4 * p}, scratch + 5 * p, {}};
    for (auto& w : t.waiting) w.store(2, std::memory_order_relaxed);  // every step has two inputs
    if (!run_points(t)) return false;
    if (square) {
        toom4_interpolate(r, 2 * m, k, t.values[0], t.values[1], false, t.values[2], t.values[3], false, t.values[4],
                          t.caller_room);
        return true;
    }
    // The steps are done (toom4_run_step): c2 and c4 are copied into the
    // words between v0 and vinf, their tops and c1, c3, c5 added, as at the
    // end of toom4_interpolate.
    const int rn = m + (square ? m : n);
    const mr_digit* c2 = t.values[0];
    const mr_digit* c3 = t.values[1];
    const mr_digit* c4 = t.values[2];
    const mr_digit* c5 = t.values[3];
    const mr_digit* c1 = t.values[4];
    copy_words(r + 2 * k, c2, 2 * k);
    copy_words(r + 4 * k, c4, 2 * k);
    add_at(r, rn, 4 * k, c2 + 2 * k, 2);
    add_at(r, rn, 6 * k, c4 + 2 * k, 2);
    add_at(r, rn, k, c1, p);
    add_at(r, rn, 3 * k, c3, p);
    add_at(r, rn, 5 * k, c5, p);
    return true;
}

// Toom-8's interpolation after its points: the even setup's pass on the
// calling thread (toom8_even_pass; the sums and differences before it ran
// in the point tasks), then two runs of two tasks: the six even
// coefficients, a mirror pair and one of the middle pair's coefficients a
// thread (8 + 8 products a limb each); then the four odd pairs, c1/c13
// with c7 against c3/c11 with c5/c9 (11 + 6 against 2 x 11 products a
// limb). The passes read every input but
// write disjoint words, and the inputs are 16 KB at the calculator's
// largest size: what moves between the processors is far less than the
// work that is shared.
void toom8_even_task(void* context, int index, const pool_executor&) {
    auto& ti = *static_cast<toom8_interpolation*>(context);
    toom8_even_rows(ti, 3 * index, 3 * index + 3);
}

void toom8_odd_task(void* context, int index, const pool_executor&) {
    auto& ti = *static_cast<toom8_interpolation*>(context);
    if (index == 0) {
        toom8_odd_rows(ti, 0, 1);
        toom8_odd_rows(ti, 3, 4);
    } else {
        toom8_odd_rows(ti, 1, 3);
    }
}

// The interpolation's passes after the points, whose tasks have copied v0
// and vinf and made the first sums and differences (toom8_arrive).
void toom8_interpolate_on_pool(toom8_interpolation& ti) {
    toom8_even_pass(ti);
    if (!pool_run(2, toom8_even_task, &ti)) toom8_even_rows(ti, 0, 6);
    if (!pool_run(2, toom8_odd_task, &ti)) toom8_odd_rows(ti, 0, 4);
    toom8_interpolation_finish(ti);
}

// Toom-8's points of t on the pool and its interpolation after them, into
// t.r of rn words; the 13 values and the interpolation's spare words are
// the first 15 (2k + 2)-word pieces of scratch. False when the pool did not
// take the points.
bool toom8_on_pool(toom_points& t, int rn, mr_digit* scratch) {
    const int p = 2 * t.k + 2;
    for (int i = 0; i < 13; ++i) t.values[i] = scratch + i * p;
    toom8_interpolation ti;
    toom8_interpolation_start(ti, t.r, rn, t.k, t.values, scratch + 13 * p);
    t.ends = &ti;
    for (int i = 0; i < 3; ++i) t.waiting[i].store(2, std::memory_order_relaxed);
    if (!run_points(t)) return false;
    // Again for the pairs' places, which the tasks swapped where a value at
    // -x_j was negative (add_pair); v0 and vinf stay where they were copied.
    toom8_interpolation_start(ti, t.r, ti.rn, t.k, t.values, scratch + 13 * p);
    toom8_interpolate_on_pool(ti);
    return true;
}

bool pool_toom8(mr_digit* r, const mr_digit* a, int m, const mr_digit* b, int n, mr_digit* scratch) {
    const int k = (m + 7) / 8;
    const bool square = b == nullptr;
    toom_points t{square ? toom_kind::toom8_square : toom_kind::toom8_product, r, a, m, b, n, k, {},
                  scratch + 15 * (2 * k + 2), {}};
    return toom8_on_pool(t, m + (square ? m : n), scratch);
}

}  // namespace

const pool_levels product_pool_levels{pool_toom3, pool_toom4, pool_toom8};

std::size_t pool_toom8_kept_words(int m) {
    const int k = (m + 7) / 8;
    return 15 * static_cast<std::size_t>(2 * k + 2) + point_task_words(toom_kind::toom8_kept, k);
}

bool pool_toom8_kept(mr_digit* r, const mr_digit* a, const mr_digit* b, int m, const mr_digit* points,
                     const pool_side_tasks& side, mr_digit* scratch, std::size_t scratch_size) {
    if (m % 16 == 1 || m < 64) return false;
    const int k = (m + 7) / 8;
    const int p = 2 * k + 2;
    const std::size_t values = 15 * static_cast<std::size_t>(p);
    if (values + std::max(point_task_words(toom_kind::toom8_kept, k), side.room_words) > scratch_size ||
        side.room_words > scratch_words_size(area_product))
        return false;
    toom_points t{toom_kind::toom8_kept, r, a, m, b, m, k, {}, scratch + values, {}};
    t.points = points;
    t.side = &side;
    return toom8_on_pool(t, 2 * m, scratch);
}
