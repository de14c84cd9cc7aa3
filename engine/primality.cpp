// Primality: the small-prime table (gprime), trial division by it and the
// probable-prime test isprime.
//
// isprime first divides by the 168 primes below 1000. That decides every
// number with a factor there, and every number below 997*998 (a number with
// no prime factor up to p whose quotient by p is at most p is below p*(p+1),
// so it is prime). The rest get the Baillie-PSW test, a strong probable-prime
// test to base 2 followed by a strong Lucas probable-prime test; no
// composite is known to pass both, and none below 2^64 does. The two halves
// fail on different composites: the base-2 pseudoprimes (2047, 3277, ...)
// are caught by the Lucas test and the Lucas pseudoprimes (5459, 5777, ...)
// by base 2. The verdict is therefore the same on every call; the
// Miller-Rabin trials with random bases that follow add assurance only.
//
// Strong probable prime to base a (strong_probable_prime): write
// n - 1 = 2^s * d with d odd; for a prime n the sequence a^d, a^2d, ...,
// a^(2^s d) mod n either starts at 1 or reaches n - 1 before it reaches 1,
// because 1 has no square roots but 1 and -1 modulo a prime.
//
// Strong Lucas probable prime (strong_lucas_probable_prime), with
// Selfridge's parameters: D is the first of 5, -7, 9, -11, 13, ... with
// Jacobi symbol (D/n) = -1, P = 1 and Q = (1 - D)/4. The Lucas sequences
// U_0 = 0, U_1 = 1, V_0 = 2, V_1 = P, X_(k+1) = P X_k - Q X_(k-1), satisfy
// U_(n+1) = 0 mod n for a prime n with (D/n) = -1, and the strong form of
// that: with n + 1 = 2^s * m, m odd, either U_m = 0 or V_(m 2^r) = 0 mod n
// for some 0 <= r < s. A perfect square has (D/n) = 1 or 0 for every D, so
// squares are rejected before the search for D, which then always ends.
//
// The terms are found through the sequence with Q = 1 that the even ones
// make. For the roots a, b of x^2 - Px + Q, A = a^2/Q and B = b^2/Q have
// AB = 1 and A + B = P' = P^2/Q - 2, so V_2k = Q^k V'_k for the sequence V'
// of (P', 1), whose ladder over the bits of k
//     V'_2k = V'_k^2 - 2,   V'_(2k+1) = V'_k V'_(k+1) - P'
// costs one product and one square a bit and needs no powers of Q. For the
// odd m = 2j + 1, a^m = a Q^j A^j, and working that through (with P = 1
// and D = 1 - 4Q) gives, up to the factors 2, Q and D, all prime to n:
// U_m = 0 exactly when V'_(j+1) = V'_j, V_m = 0 exactly when
// V'_(j+1) = -V'_j, and for r >= 1 V_(m 2^r) = 0 exactly when
// V'_(m 2^(r-1)) = 0, where V'_m = V'_j V'_(j+1) - P' and each further
// term is one square less 2. D is prime to n by its Jacobi symbol; a
// common factor of Q and n proves n composite at once.
//
// Both tests run on Montgomery residues under a context of n: the two
// routines by name install n as the modulus, isprime runs them under a
// context of its own and leaves the installed one as it was. Multiplying a
// residue by the small base a of a strong test is one
// word product and one division. The long loops report their steps, and a
// cancel request is taken at those boundaries.
//
// The random bases come from random_word, seeded with fixed constants when
// the instance is made, so every run tests the same candidates with the
// same bases.
//
// Workspace: trial_division's quotient and the tests' values live in
// workspace numbers that the routines beneath them leave alone
// (workspace.h); isprime's context keeps its n' in context_nprime.
#include <atomic>
#include <numeric>

#include "internal.h"
#include "primality.h"
#include "primitives.h"
#include "montgomery.h"
#include "kernels.h"
#include "pool.h"
#include "thresholds.h"
#include "workspace.h"

namespace {

constexpr int small_prime_bound = 1000;
constexpr int max_prime_trials = 100;

bool is_one(const bignum* x) { return x->len == 1 && x->w[0] == 1; }

// x = 2^s * d with d odd, for an even x > 0: x becomes d, s is returned.
int take_out_twos(bignum* x) {
    int zero_words = 0;
    while (x->w[zero_words] == 0) ++zero_words;
    const auto zero_bits = static_cast<unsigned>(__builtin_ctz(x->w[zero_words]));
    mr_shift(x, -zero_words, x);
    if (zero_bits != 0) {
        shr_vu(x->w, x->w, length_of(x), zero_bits);
        strip_leading_zeros(x);
    }
    return 32 * zero_words + static_cast<int>(zero_bits);
}

// The residues below are under context c of the modulus n and lie in
// [0, n).

// w = the residue of the machine integer v.
void residue_of(monty_context& c, int v, bignum* w) {
    set_from_int(v, w);
    nres(c, w, w);
}

// w = x * v mod n for a residue x and a machine integer v: again a residue,
// for one word product and one division (x * v can be a word longer than
// a single-length number holds, so it is formed in the accumulator).
void multiply_small(const monty_context& c, bignum* x, int v, bignum* w) {
    const workspace_claim acc(ws::accumulator);
    {
        length_check_scope unchecked(0);
        premult(x, v, acc);
        divide(acc, c.modulus, c.modulus);
    }
    copy_number(acc, w);
    if (is_negative(w)) add(w, c.modulus, w);
}

// w = x - y mod n.
void subtract_mod(const monty_context& c, bignum* x, bignum* y, bignum* w) {
    subtract(x, y, w);
    if (is_negative(w)) add(w, c.modulus, w);
}

// The Jacobi symbol (a/m) for an odd m >= 1.
int jacobi(std::uint32_t a, std::uint32_t m) {
    a %= m;
    int j = 1;
    while (a != 0) {
        while ((a & 1u) == 0) {
            a >>= 1;
            if ((m & 7u) == 3 || (m & 7u) == 5) j = -j;  // (2/m) = -1
        }
        std::uint32_t t = a;  // reciprocity: (a/m) = (m/a), negated when both are 3 mod 4
        a = m;
        m = t;
        if ((a & 3u) == 3 && (m & 3u) == 3) j = -j;
        a %= m;
    }
    return m == 1 ? j : 0;
}

// Whether v is a square modulo m.
bool square_residue(int v, int m) {
    for (int r = 0; r < m; ++r)
        if (r * r % m == v) return true;
    return false;
}

// Whether x > 0 is a perfect square. A square is one modulo 64, 63, 65 and
// 11 (from one remainder by their product); only the 1 in 100 or so
// non-squares that are squares modulo all four need the square root. The
// root is left in `root`.
bool is_perfect_square(bignum* x, bignum* root) {
    const int r = remain(x, 64 * 63 * 65 * 11);
    if (!square_residue(r % 64, 64) || !square_residue(r % 63, 63) || !square_residue(r % 65, 65) ||
        !square_residue(r % 11, 11))
        return false;
    return nroot(x, 2, root);
}

// Whether x > d for a machine integer d > 0.
bool above(const bignum* x, int d) { return length_of(x) > 1 || x->w[0] > static_cast<mr_digit>(d); }

}  // namespace

// The tests of isprime at once on the worker pool (end of this file); false
// when they do not run there.
bool parallel_trials(bignum* x, int bits, int trials, int* verdict);

void gprime(int bound) {
    if (error_pending()) return;
    routine_trace trace(rn_gprime);
    mr_state* s = engine_instance;
    if (bound >= (1 << 30)) {
        report_error(mr_error_numbers_too_big);
        return;
    }
    if (bound < small_prime_bound) bound = small_prime_bound;

    // Sieve of the odd numbers: byte i stands for 2i + 3.
    const int m = (bound + 1) / 2;
    auto* sieve = static_cast<unsigned char*>(engine_alloc(m, 1));
    if (sieve == nullptr) {
        if (!error_pending()) report_error(mr_error_out_of_space);
        return;
    }
    for (int i = 0; i < m; ++i) sieve[i] = 1;
    int count = 1;  // the prime 2
    for (int i = 0; i < m; ++i) {
        if (sieve[i] == 0) continue;
        const int p = 2 * i + 3;
        for (int j = i + p; j < m; j += p) sieve[j] = 0;  // 3p, 5p, 7p, ...
        count++;
    }

    engine_free(s->prime_table);
    s->prime_table = nullptr;
    auto* table = static_cast<int*>(engine_alloc(count + 2, static_cast<int>(sizeof(int))));
    if (table == nullptr) {
        engine_free(sieve);
        if (!error_pending()) report_error(mr_error_out_of_space);
        return;
    }
    int k = 0;
    table[k++] = 2;
    for (int i = 0; i < m; ++i)
        if (sieve[i] != 0) table[k++] = 2 * i + 3;
    table[k] = 0;
    s->prime_table = table;
    engine_free(sieve);
}

int trial_division(bignum* x, [[maybe_unused]] bignum* y) {
    if (error_pending()) return 0;
    if (int_value(x) <= 1) return 0;
    routine_trace trace(rn_trial_division);
    mr_state* s = engine_instance;
    if (s->prime_table == nullptr) gprime(small_prime_bound);
    if (s->prime_table == nullptr) return 2;  // no table: not decided (an error is pending)

    const workspace_claim q(ws::scratch11);
    for (const int* p = s->prime_table; *p != 0; ++p) {
        const int r = subdiv(x, *p, q);
        if (r == 0) return is_one(q) ? 1 : 0;
        if (int_value(q) <= *p) return 1;
    }
    return 2;
}

namespace {

// The strong probable-prime test to the base a of n, under c, a context of
// n (strong_probable_prime).
int probable_prime_under(monty_context& c, int a, bignum* n) {
    const workspace_claim minus_one(ws::scratch12);
    const workspace_claim d(ws::scratch13);
    const workspace_claim t(ws::scratch14);
    const workspace_claim one(ws::scratch15);

    decr(n, 1, d);
    const int shifts = take_out_twos(d);  // n - 1 = 2^shifts * d, shifts >= 1
    residue_of(c, 1, one);
    subtract(n, one, minus_one);

    // t = a^d, left to right, then up to shifts - 1 squarings: one step a
    // squaring.
    const int bits = logb2(d);
    const int steps = bits - 1 + shifts - 1;
    residue_of(c, a, t);
    // Each squaring on the pool or on one thread, whichever is faster here:
    // beside isprime's other tests no thread is free to help, and the
    // pool's paths on one thread cost more than the one-thread code.
    pool_chain chain(c.length >= parallel_reduce_min);
    for (int i = bits - 2; i >= 0; --i) {
        report_progress(bits - 2 - i, steps);
        if (error_pending()) return 0;
        chain.next_step();
        nres_modmult(c, t, t, t);
        if (test_bit(d, i)) multiply_small(c, t, a, t);
    }
    if (error_pending()) return 0;
    if (compare_numbers(t, one) == 0 || compare_numbers(t, minus_one) == 0) return 1;
    for (int j = 1; j < shifts; ++j) {
        report_progress(bits - 2 + j, steps);
        if (error_pending()) return 0;
        chain.next_step();
        nres_modmult(c, t, t, t);
        if (compare_numbers(t, minus_one) == 0) return 1;
        if (compare_numbers(t, one) == 0) return 0;  // 1 reached before -1
    }
    return 0;  // never reached -1
}

// One step of the Lucas ladder on two threads: the product V'_k V'_(k+1)
// and the square of one of them are independent, so from parallel_reduce_min
// words, with the pool on, each is a task: the thread that takes one
// computes it on its own instance, reading the context (whose n' is made
// by then, so nothing in it is written) and the two values, and writing
// only its own result.
struct lucas_step {
    monty_context* c;
    bignum* v;
    bignum* v_next;
    bignum* product;  // V'_k V'_(k+1)
    bignum* squared;  // the square of `base`
    bignum* base;     // V'_k or V'_(k+1)
};

void lucas_step_task(void* context, int index, const pool_executor&) {
    const auto& t = *static_cast<lucas_step*>(context);
    if (index == 0)
        nres_modmult(*t.c, t.v, t.v_next, t.product);
    else
        nres_modmult(*t.c, t.base, t.base, t.squared);
}

// Whether the ladder's steps may run on two threads: long moduli, n' made
// where the reduction needs it, the pool free.
bool lucas_steps_on_pool(const monty_context& c) {
    const int k = c.length;
    const bool nprime_ready = k < monty_multiply_reduce_min || monty_ifma_in_use(k) || c.nprime_length == k;
    return k >= parallel_reduce_min && nprime_ready && pool_available();
}

// The strong Lucas probable-prime test of n, under c, a context of n
// (strong_lucas_probable_prime).
int lucas_probable_prime_under(monty_context& c, bignum* n) {
    const workspace_claim j(ws::scratch10);
    const workspace_claim two(ws::scratch15);

    if (is_perfect_square(n, j)) return 0;  // through nroot, before these hold values:
    const workspace_claim v(ws::scratch1);        // V'_k
    const workspace_claim v_next(ws::scratch2);   // V'_(k+1)
    const workspace_claim p_prime(ws::scratch3);  // P' = 1/Q - 2
    const workspace_claim t(ws::scratch4);
    const workspace_claim squared(ws::scratch11);  // the square of a step on two threads

    // D = 5, -7, 9, -11, ... until (D/n) = -1. For odd d > 0,
    // (d/n) = (n/d) negated when d and n are both 3 mod 4, and
    // (-1/n) = -1 when n is 3 mod 4.
    const bool n_3_mod_4 = (n->w[0] & 3u) == 3;
    int d = 5;
    bool negative = false;
    for (;; d += 2, negative = !negative) {
        const int r = remain(n, d);
        if (error_pending()) return 0;
        int jacobi_symbol = jacobi(static_cast<std::uint32_t>(r), static_cast<std::uint32_t>(d));
        if ((d & 3) == 3 && n_3_mod_4) jacobi_symbol = -jacobi_symbol;
        if (negative && n_3_mod_4) jacobi_symbol = -jacobi_symbol;
        if (jacobi_symbol == -1) break;
        // (D/n) = 0: d and n have a common factor, a proper one unless n
        // divides d.
        if (jacobi_symbol == 0 && (above(n, d) || d % static_cast<int>(n->w[0]) != 0)) return 0;
    }
    const int q = (1 - (negative ? -d : d)) / 4;
    // A common factor of Q and n is a proper factor of n: n itself would
    // divide Q and make D = 1 - 4Q a square modulo n.
    const int q_magnitude = q < 0 ? -q : q;
    const int n_mod_q = remain(n, q_magnitude);
    if (std::gcd(q_magnitude, n_mod_q) != 1) return 0;

    // 1/|Q| mod n = (n*u + 1)/|Q| for the u < |Q| that makes it whole:
    // with n = c*|Q| + r, that is c*u + (r*u + 1)/|Q|, below n.
    int u = 0;
    while ((n_mod_q * u + 1) % q_magnitude != 0) ++u;
    subdiv(n, q_magnitude, p_prime);
    premult(p_prime, u, p_prime);
    decr(p_prime, -((n_mod_q * u + 1) / q_magnitude), p_prime);
    if (q < 0) subtract(n, p_prime, p_prime);  // 1/Q = -(1/|Q|)
    nres(c, p_prime, p_prime);
    residue_of(c, 2, two);
    subtract_mod(c, p_prime, two, p_prime);

    // n + 1 = 2^shifts * m with m odd, and j = (m - 1)/2. (n + 1)/2 is
    // formed first, so that n + 1 need not fit in a number.
    copy_number(n, j);
    shr_vu(j->w, j->w, length_of(j), 1);
    strip_leading_zeros(j);
    decr(j, -1, j);
    const int shifts = 1 + ((j->w[0] & 1u) == 0 ? take_out_twos(j) : 0);
    shr_vu(j->w, j->w, length_of(j), 1);  // m is odd, at least 1
    strip_leading_zeros(j);

    // The ladder from k = 0 (V'_0 = 2, V'_1 = P') over the bits of j, one
    // step a bit, then the squarings of the strong test, one step each.
    copy_number(two, v);
    copy_number(p_prime, v_next);
    const int bits = logb2(j);
    const int steps = bits + shifts - 1;
    // Each step on two threads or on one, whichever is faster here.
    pool_chain chain(c.length >= parallel_reduce_min);
    for (int i = bits - 1; i >= 0; --i) {
        report_progress(bits - 1 - i, steps);
        if (error_pending()) return 0;
        chain.next_step();
        const bool odd = test_bit(j, i) != 0;
        if (lucas_steps_on_pool(c)) {
            lucas_step step{&c, v, v_next, t, squared, odd ? v_next : v};
            if (pool_run(2, lucas_step_task, &step)) {
                subtract_mod(c, t, p_prime, t);  // V'_(2k+1)
                bignum* even = odd ? v_next : v;  // V'_(2k+2) or V'_2k
                subtract_mod(c, squared, two, even);
                copy_number(t, odd ? v : v_next);
                continue;
            }
        }
        nres_modmult(c, v, v_next, t);
        subtract_mod(c, t, p_prime, t);  // V'_(2k+1) = V'_k V'_(k+1) - P'
        if (odd) {                    // k -> 2k + 1
            copy_number(t, v);
            nres_modmult(c, v_next, v_next, v_next);
            subtract_mod(c, v_next, two, v_next);  // V'_(2k+2) = V'_(k+1)^2 - 2
        } else {                                 // k -> 2k
            copy_number(t, v_next);
            nres_modmult(c, v, v, v);
            subtract_mod(c, v, two, v);  // V'_2k = V'_k^2 - 2
        }
    }
    if (error_pending()) return 0;

    // k = j. U_m = 0 when V'_(j+1) = V'_j, V_m = 0 when V'_(j+1) = -V'_j.
    if (compare_numbers(v_next, v) == 0) return 1;
    subtract_mod(c, n, v, t);  // -V'_j, n when V'_j = 0
    if (compare_numbers(v_next, t) == 0 || (is_zero(v) && is_zero(v_next))) return 1;
    // V_(m 2^r) = 0 when V'_(m 2^(r-1)) = 0, for 1 <= r < shifts, from
    // V'_m = V'_j V'_(j+1) - P' on by V'_2k = V'_k^2 - 2.
    nres_modmult(c, v, v_next, t);
    subtract_mod(c, t, p_prime, t);
    for (int r = 1; r < shifts; ++r) {
        report_progress(bits + r - 1, steps);
        if (error_pending()) return 0;
        if (is_zero(t)) return 1;
        if (r + 1 < shifts) {
            nres_modmult(c, t, t, t);
            subtract_mod(c, t, two, t);
        }
    }
    return 0;
}

}  // namespace

int strong_probable_prime(int a, bignum* n) {
    if (error_pending()) return 0;
    routine_trace trace(rn_strong_probable_prime);
    TORVANE_EXPECTS(a >= 2);  // a base of n or more counts modulo n
    prepare_monty(n);  // odd n >= 3, else error 19
    if (error_pending()) return 0;
    return probable_prime_under(installed_context(), a, n);
}

int strong_lucas_probable_prime(bignum* n) {
    if (error_pending()) return 0;
    routine_trace trace(rn_strong_lucas_probable_prime);
    prepare_monty(n);  // odd n >= 3, else error 19
    if (error_pending()) return 0;
    return lucas_probable_prime_under(installed_context(), n);
}

int isprime(bignum* x) {
    if (error_pending()) return 1;
    if (int_value(x) <= 1) return 0;
    routine_trace trace(rn_isprime);
    TORVANE_EXPECTS(fits_room(x));
    mr_state* s = engine_instance;

    const int decided = trial_division(x, x);
    if (decided == 0) return 0;
    if (decided == 1) return 1;
    if (error_pending()) return 0;

    int trials = s->prime_trials;
    if (trials > max_prime_trials) trials = max_prime_trials;
    const int bits = logb2(x);
    if (bits > 220) trials = (10 * trials) / (bits - 210) + 2;

    if (int verdict = 0; parallel_trials(x, bits, trials, &verdict)) return verdict;

    // The tests run under a context of x's own (x is odd and above 2 once
    // trial division has not decided), with the trace of the routines by
    // name; the installed context is not touched.
    const workspace_claim nprime_room(ws::context_nprime);
    monty_context c;
    make_context(x, nprime_room, c);
    const auto probable_prime = [&](int a) {
        routine_trace trace(rn_strong_probable_prime);
        return probable_prime_under(c, a, x);
    };

    // Steps: base 2, the Lucas test, then the trials with random bases.
    const int steps = trials + 2;
    report_progress(0, steps);
    int verdict = error_pending() ? 0 : probable_prime(2);
    if (verdict != 0) {
        report_progress(1, steps);
        if (!error_pending()) {
            routine_trace trace(rn_strong_lucas_probable_prime);
            verdict = lucas_probable_prime_under(c, x);
        } else {
            verdict = 0;
        }
    }
    const bool small = int_value(x) < (1 << 30);
    const int x_small = int_value(x);
    for (int trial = 0; verdict != 0 && trial < trials; ++trial) {
        report_progress(trial + 2, steps);
        // A base 2 <= a < min(x, 2^30). The remainders truncate, so words
        // with the top bit set give a <= 0 and are drawn again.
        int a;
        do {
            a = static_cast<int>(random_word()) % (1 << 30);
            if (small) a %= x_small;
        } while (a < 2);
        verdict = error_pending() ? 0 : probable_prime(a);
    }

    if (error_pending()) return 0;
    return verdict;
}

// ---- The tests on the worker pool ------------------------------------------
//
// From parallel_prime_bits bits on, with the pool on, isprime's tests run at
// once, one task each on an instance of the pool (never the caller's, whose
// installed modulus therefore stays as it was): the strong test to base 2,
// then the trials with random bases, and the Lucas test, which costs about
// two strong tests, handed out where it finishes last without leaving a
// thread idle. Below parallel_reduce_min words its steps run on one thread,
// so it goes first, and beside it the other threads take the strong tests
// (two threads: the Lucas test on one, three strong tests on the other). From
// there on its steps run as nested runs of two tasks (a product and a square)
// that a thread with nothing else to do takes part in, while a strong test's
// chain of squares gains little from a second thread; so it goes second to
// last, started beside the last strong test: on two threads the first two
// strong tests run at once, then the Lucas test beside the last, and the
// thread that finishes that one helps with the Lucas test's steps (one thread
// over two 1.72 with the Lucas test first, at 59975 bits). Each test's steps
// go through a chain (pool_chain), which keeps them on one thread while the
// others are busy with tests of their own: the pool's paths computed by one
// thread cost more than the one-thread code.
// The bases are drawn before the run, in the order and from the words the
// tests one after another would draw them; the verdict is 1 when every test
// passes, as there. A test that fails stops those that its failure makes
// needless through their instances' cancel flags: a failing half of
// Baillie-PSW stops every other test (one after another, no base would have
// been drawn), a failing trial stops the trials after it only, so that the
// first failing trial is known. The random pool is then left as the tests
// one after another leave it: the words of the bases up to that first
// failing trial drawn, or of all when every test passed, or of none when
// Baillie-PSW failed. A cancel request (request_cancel, or the caller's
// own) reaches every task and becomes the caller's pending error when it
// stopped a test whose verdict was still needed.

namespace {

// Tests in one run: the two halves of Baillie-PSW and the random trials.
constexpr int max_parallel_tests = max_prime_trials + 2;

struct prime_tests {
    bignum* x;
    int count;                                 // 2 + trials
    int order[max_parallel_tests];             // the test that run index i computes
    int bases[max_parallel_tests];             // bases[k] for test k >= 2
    std::atomic<bool> stop[max_parallel_tests];
    int result[max_parallel_tests];            // 1 passed, 0 failed, -1 stopped, -2 another error
    int error[max_parallel_tests];             // that error's code
    std::atomic<int> finished{0};
    mr_state* caller;                          // for the progress of the caller's tasks
    int caller_depth;
};

void prime_test_task(void* context, int run_index, const pool_executor& executor) {
    auto& t = *static_cast<prime_tests*>(context);
    const int index = t.order[run_index];
    mr_state* s = executor.instance;  // this thread's instance (engine_instance)
    clear_engine_error();
    s->cancel = &t.stop[index];
    if (executor.index == 0) {
        // The caller's tasks report into its progress, as steps of isprime.
        s->progress = t.caller->progress;
        s->trace_depth = t.caller_depth;
        report_progress(t.finished.load(std::memory_order_relaxed), t.count);
    }
    int verdict = 0;
    if (!error_pending()) {
        if (index == 0)
            verdict = strong_lucas_probable_prime(t.x);
        else
            verdict = strong_probable_prime(index == 1 ? 2 : t.bases[index], t.x);
    }
    if (s->error_number == mr_error_cancelled) {
        t.result[index] = -1;
    } else if (s->error_number != 0) {
        t.result[index] = -2;
        t.error[index] = s->error_number;
    } else {
        t.result[index] = verdict;
        if (verdict == 0)
            for (int k = index < 2 ? 0 : index + 1; k < t.count; ++k) t.stop[k].store(true, std::memory_order_relaxed);
    }
    s->progress = {nullptr, nullptr};
    s->cancel = &s->own_cancel;
    clear_engine_error();
    t.finished.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

bool parallel_trials(bignum* x, int bits, int trials, int* verdict) {
    if (bits < parallel_prime_bits || !pool_available()) return false;
    mr_state* s = engine_instance;
    if (cancel_pending(s)) {
        raise_cancel();
        *verdict = 0;
        return true;
    }
    static thread_local prime_tests t;  // no allocation while computing
    t.x = x;
    t.count = 2 + trials;
    t.caller = s;
    t.caller_depth = s->trace_depth;
    t.finished.store(0, std::memory_order_relaxed);
    // The order the tests are handed out in (see above).
    const int lucas_at = length_of(x) >= parallel_reduce_min ? t.count - 2 : 0;
    for (int r = 0, k = 1; r < t.count; ++r) t.order[r] = r == lucas_at ? 0 : k++;
    for (int k = 0; k < t.count; ++k) {
        t.stop[k].store(false, std::memory_order_relaxed);
        t.result[k] = -1;
        t.error[k] = 0;
    }

    // The bases, as the trials one after another draw them (see isprime),
    // with the number of words each took.
    const std::uint32_t saved_pool_index = static_cast<std::uint32_t>(s->random_index);
    std::uint32_t saved_pool[mr_random_pool_size];
    for (int k = 0; k < mr_random_pool_size; ++k) saved_pool[k] = s->random_pool[k];
    const std::uint32_t saved_borrow = s->random_borrow;
    int words_drawn[max_parallel_tests] = {};
    const bool small = int_value(x) < (1 << 30);
    const int x_small = int_value(x);
    for (int k = 2; k < t.count; ++k) {
        int a;
        do {
            a = static_cast<int>(random_word()) % (1 << 30);
            if (small) a %= x_small;
            ++words_drawn[k];
        } while (a < 2);
        t.bases[k] = a;
    }

    if (!pool_run(t.count, prime_test_task, &t)) {
        // The pool was taken meanwhile: the random pool as it was, and the
        // tests one after another.
        for (int k = 0; k < mr_random_pool_size; ++k) s->random_pool[k] = saved_pool[k];
        s->random_index = static_cast<int>(saved_pool_index);
        s->random_borrow = saved_borrow;
        return false;
    }

    // Test by test in the order of isprime: the first that failed decides.
    int decided = -1;  // the index of the first failing test, or count when all passed
    for (int k = 0; k < t.count && decided < 0; ++k) {
        const int order = k == 0 ? 1 : k == 1 ? 0 : k;  // base 2 before Lucas
        if (t.result[order] == 0) decided = order;
        if (t.result[order] < 0) break;  // stopped or failed with an error: not decided in order
    }
    const bool bpsw_failed = t.result[0] == 0 || t.result[1] == 0;
    int words = 0;
    if (!bpsw_failed) {
        const int last = decided >= 2 ? decided : t.count - 1;
        for (int k = 2; k <= last; ++k) words += words_drawn[k];
    }
    for (int k = 0; k < mr_random_pool_size; ++k) s->random_pool[k] = saved_pool[k];
    s->random_index = static_cast<int>(saved_pool_index);
    s->random_borrow = saved_borrow;
    for (int k = 0; k < words; ++k) random_word();

    if (bpsw_failed || decided >= 2) {
        *verdict = 0;
        return true;
    }
    for (int k = 0; k < t.count; ++k) {
        if (t.result[k] == -2) {
            report_error(t.error[k]);
            *verdict = 0;
            return true;
        }
        if (t.result[k] == -1) {  // a cancel request stopped a test still needed
            raise_cancel();
            *verdict = 0;
            return true;
        }
    }
    *verdict = 1;
    return true;
}
