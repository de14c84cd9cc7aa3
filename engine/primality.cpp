// Primality: the small-prime table (gprime), trial division by it and the
// probabilistic test isprime.
//
// isprime first divides by the 168 primes below 1000. That decides every
// number with a factor there, and every number below 997*998 (a number with
// no prime factor up to p whose quotient by p is at most p is below p*(p+1),
// so it is prime). The rest get Miller-Rabin trials: write x - 1 = 2^s * d
// with d odd; for a prime x and any base a, the sequence a^d, a^2d, ...,
// a^(2^s d) mod x either starts at 1 or reaches x - 1 before it reaches 1,
// because 1 has no square roots but 1 and -1 modulo a prime. A base that
// breaks this proves x composite; a composite passes one random trial with
// probability below 1/4, far less for large x, which is why the number of
// trials falls with the bit length.
//
// The bases come from random_word, seeded with fixed constants when the
// instance is made, so every run tests the same candidates with the same
// bases.
//
// Workspace: trial_division's quotient and isprime's x - 1, d and trial
// value live in workspace numbers that powltr and everything beneath it
// leave alone (workspace.h).
#include "internal.h"

namespace {

constexpr int small_prime_bound = 1000;
constexpr int max_prime_trials = 100;

bool is_one(const bignum* x) { return x->len == 1 && x->w[0] == 1; }

}  // namespace

void gprime(int bound) {
    if (error_pending()) return;
    routine_trace trace(rn_gprime);
    mr_state* s = engine_instance;
    if (bound >= (1 << 30)) {
        report_error(14);
        return;
    }
    if (bound < small_prime_bound) bound = small_prime_bound;

    // Sieve of the odd numbers: byte i stands for 2i + 3.
    const int m = (bound + 1) / 2;
    auto* sieve = static_cast<unsigned char*>(engine_alloc(m, 1));
    if (sieve == nullptr) {
        if (!error_pending()) report_error(8);
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
        if (!error_pending()) report_error(8);
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

    bignum* q = s->scratch11;
    for (const int* p = s->prime_table; *p != 0; ++p) {
        const int r = subdiv(x, *p, q);
        if (r == 0) return is_one(q) ? 1 : 0;
        if (int_value(q) <= *p) return 1;
    }
    return 2;
}

int isprime(bignum* x) {
    if (error_pending()) return 1;
    if (int_value(x) <= 1) return 0;
    routine_trace trace(rn_isprime);
    mr_state* s = engine_instance;

    const int decided = trial_division(x, x);
    if (decided == 0) return 0;
    if (decided == 1) return 1;
    if (error_pending()) return 0;

    bignum* x_minus_1 = s->scratch12;
    bignum* d = s->scratch13;
    bignum* t = s->scratch14;

    // x - 1 = 2^shifts * d with d odd; x is odd here, so shifts >= 1.
    decr(x, 1, d);
    int shifts = 0;
    while (!is_zero(d) && (d->w[0] & 1u) == 0) {
        subdiv(d, 2, d);
        shifts++;
    }

    int trials = s->prime_trials;
    if (trials > max_prime_trials) trials = max_prime_trials;
    const int bits = logb2(x);
    if (bits > 220) trials = (10 * trials) / (bits - 210) + 2;

    const bool small = int_value(x) < (1 << 30);
    const int x_small = int_value(x);
    for (int trial = 0; trial < trials; ++trial) {
        report_progress(trial, trials);
        // A base 2 <= a < min(x, 2^30). The remainders truncate, so words
        // with the top bit set give a <= 0 and are drawn again.
        int a;
        do {
            a = static_cast<int>(random_word()) % (1 << 30);
            if (small) a %= x_small;
        } while (a < 2);

        powltr(a, d, x, t);
        decr(x, 1, x_minus_1);
        for (int j = 0;; ++j) {
            if (j == 0 && is_one(t)) break;
            if (compare_numbers(t, x_minus_1) == 0) break;
            if (j + 1 > 1 && is_one(t)) return 0;  // 1 reached before -1
            if (j + 1 >= shifts) return 0;         // never reached -1
            mad(t, t, t, x, x, t);
        }
    }
    return 1;
}
