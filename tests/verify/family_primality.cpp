// Primality against GMP's verdict: isprime on primes of many sizes, on
// composites that pass trial division by the table's primes (products of
// two or three primes above 997, squares of such primes), on small numbers
// where the answer is exact, and on numbers below 2.
//
// The engine's verdict above 995006 comes from Miller-Rabin trials with
// bases drawn from its own generator (2 trials from 271 bits on). The
// composites used here are products of large random primes, whose strong
// liars are a vanishing fraction of all bases, so a "prime" answer on one
// of them is a fault, not bad luck. Carmichael numbers, with up to a
// quarter of all bases liars, are left out for that reason.
#include "oracle.h"

using namespace oracle;

namespace {

mpz_class random_bits(context& c, int bits) {
    mpz_class v = c.magnitude((bits + 31) / 32);
    v >>= static_cast<unsigned long>((32 - bits % 32) % 32);
    mpz_setbit(v.get_mpz_t(), static_cast<unsigned long>(bits - 1));
    return v;
}

mpz_class prime_of(context& c, int bits) {
    mpz_class p;
    mpz_nextprime(p.get_mpz_t(), random_bits(c, bits).get_mpz_t());
    return p;
}

int prime_bits(context& c) {
    // Mostly small and medium sizes; the largest now and then.
    switch (c.r.below(40)) {
        case 0: case 1: case 2: return static_cast<int>(c.r.range(513, 1024));
        case 3: case 4: case 5: case 6: return static_cast<int>(c.r.range(257, 512));
        case 7: case 8: case 9: case 10: case 11: case 12:
            return static_cast<int>(c.r.range(200, 290));  // where the trial count changes
        default: return static_cast<int>(c.r.range(11, 256));
    }
}

void run_isprime(context& c) {
    mpz_class x;
    const char* kind;
    switch (c.r.below(10)) {
        case 0:
            x = c.r.range(-1000, 1);
            kind = "below 2";
            break;
        case 1: case 2:
            x = c.r.range(2, 2000000);  // trial division decides below 995006
            kind = "small";
            break;
        case 3: case 4: case 5:
            x = prime_of(c, prime_bits(c));
            kind = "prime";
            break;
        case 6: case 7: {
            int bits = prime_bits(c);
            int a = static_cast<int>(c.r.range(11, bits - 10 > 11 ? bits - 10 : 11));
            x = prime_of(c, a) * prime_of(c, bits - a > 11 ? bits - a : 11);
            kind = "product of two primes above 997";
            break;
        }
        case 8: {
            mpz_class p = prime_of(c, static_cast<int>(c.r.range(11, 300)));
            x = c.r.coin() ? mpz_class(p * p) : mpz_class(p * prime_of(c, 11 + static_cast<int>(c.r.below(60))) *
                                                          prime_of(c, 11 + static_cast<int>(c.r.below(60))));
            kind = "square, or product of three primes above 997";
            break;
        }
        default:
            x = random_bits(c, static_cast<int>(c.r.range(2, 400)));
            if (c.r.coin()) x = -x;
            kind = "random";
            break;
    }
    // An installed modulus must survive the test untouched.
    bignum* pm = pool(8);
    bool installed = c.r.coin();
    mpz_class m = (c.r.word() | 1u) + 2;
    if (c.r.coin()) m = c.magnitude(static_cast<int>(c.r.range(2, 80))) | 1;
    if (installed) {
        set_number(pm, m);
        prepare_monty(pm);
    } else {
        clear_modulus();
    }
    c.form(std::string("isprime(x), ") + kind);
    c.note("x", x);
    bignum* px = pool(0);
    set_number(px, x);
    int verdict = isprime(px);
    if (!c.no_error()) return;
    int want = x < 2 ? 0 : mpz_probab_prime_p(x.get_mpz_t(), 40) > 0;
    c.tally(want ? "prime" : "composite");
    c.integer("verdict", verdict, want);
    c.value("x after the call", px, x);
    if (installed)
        c.value("installed modulus afterwards", c.state->modulus, m);
    else
        c.truth("no modulus installed afterwards", c.state->modulus->len == 0);
}

registrar r1("primality", "isprime", run_isprime, 1);

}  // namespace
