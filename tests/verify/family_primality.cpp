// Primality against GMP's verdict: isprime on numbers below 2, on small
// numbers (where trial division decides), on primes of every size up to
// 60,600 bits, on random odd numbers, and on composites built to fool
// weaker tests:
//   - products p*q with q - 1 = j*(p - 1), j = 2, 3, 4: up to a quarter of
//     all bases are strong liars for p*(2p - 1) with p = 3 mod 4, and six
//     random trials alone let one in 4096 through;
//   - Chernick's Carmichael numbers (6k+1)(12k+1)(18k+1) with factors of up
//     to 100 bits, every base prime to them a Fermat liar;
//   - strong pseudoprimes to base 2: to all prime bases up to 37 or 41
//     (Jaeschke's and Zhang's numbers), composite Mersenne numbers 2^p - 1
//     and Wagstaff numbers (2^p + 1)/3 for a prime p, Fermat numbers, and
//     the squares of the Wieferich primes 1093 and 3511;
//   - squares of primes and products of two or three primes above 997.
// The engine's answer for every number past trial division is the
// Baillie-PSW verdict (no composite is known to pass it), so it must agree
// with GMP's on every case; a composite called prime is a fault, never bad
// luck. GMP runs 40 repetitions (25 above 4096 bits, where each costs a
// full exponentiation): the Baillie-PSW test and Miller-Rabin trials.
//
// Cost: a case costs little except for the large primes, whose tests run
// every step; the Mersenne primes of 9689 bits and more and the primorial
// prime are drawn rarely (a few cases in the long tier's run).
#include "internal.h"
#include "oracle.h"
#include "montgomery.h"
#include "primality.h"

using namespace oracle;

namespace {

mpz_class random_bits(context& c, int bits) {
    mpz_class v = c.magnitude((bits + 31) / 32);
    v >>= static_cast<unsigned long>((32 - bits % 32) % 32);
    mpz_setbit(v.get_mpz_t(), static_cast<unsigned long>(bits - 1));
    return v;
}

bool probably_prime(const mpz_class& x, int reps = 40) { return mpz_probab_prime_p(x.get_mpz_t(), reps) > 0; }

mpz_class prime_of(context& c, int bits) {
    mpz_class p;
    mpz_nextprime(p.get_mpz_t(), random_bits(c, bits).get_mpz_t());
    return p;
}

mpz_class two_pow(unsigned long bits) {
    mpz_class v;
    mpz_ui_pow_ui(v.get_mpz_t(), 2, bits);
    return v;
}

// A prime in [lo, hi], lo >= 2.
unsigned long small_prime(context& c, long lo, long hi) {
    for (;;) {
        const auto p = static_cast<unsigned long>(c.r.range(lo, hi));
        if (probably_prime(mpz_class(p))) return p;
    }
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

// Primes beyond the reach of a search: the Mersenne primes 2^p - 1 (every
// one up to 44497 bits) and the primorial prime 42209# + 1 of 60,6xx bits.
// The larger, the rarer.
mpz_class known_prime(context& c) {
    static const unsigned long cheap[] = {2, 3, 5, 7, 13, 17, 19, 31, 61, 89, 107, 127, 521, 607, 1279, 2203, 2281, 3217,
                                          4253, 4423};
    static const unsigned long medium[] = {9689, 9941, 11213};
    static const unsigned long costly[] = {19937, 21701, 23209, 44497};
    const auto pick = c.r.below(1000);
    if (pick == 0) {
        if (c.r.below(5) == 0) {
            mpz_class x;
            mpz_primorial_ui(x.get_mpz_t(), 42209);
            return x + 1;
        }
        return two_pow(costly[c.r.below(4)]) - 1;
    }
    if (pick < 11) return two_pow(medium[c.r.below(3)]) - 1;
    return two_pow(cheap[c.r.below(20)]) - 1;
}

// p*q with p and q = j*(p - 1) + 1 both prime; with j = 2 and p = 3 mod 4
// a quarter of all bases are strong liars.
mpz_class liar_product(context& c) {
    const int bits = static_cast<int>(c.r.range(11, c.r.chance(20) ? 200 : 64));
    const unsigned long j = c.r.chance(60) ? 2 : static_cast<unsigned long>(c.r.range(3, 4));
    mpz_class p = prime_of(c, bits);
    for (;;) {
        if (j != 2 || p % 4 == 3) {
            mpz_class q = j * (p - 1) + 1;
            if (probably_prime(q)) return p * q;
        }
        mpz_nextprime(p.get_mpz_t(), p.get_mpz_t());
    }
}

// (6k+1)(12k+1)(18k+1) with all three factors prime: a Carmichael number.
mpz_class chernick(context& c) {
    mpz_class k = random_bits(c, static_cast<int>(c.r.range(8, c.r.chance(20) ? 96 : 40)));
    for (;; ++k) {
        mpz_class a = 6 * k + 1, b = 12 * k + 1, d = 18 * k + 1;
        if (probably_prime(a, 25) && probably_prime(b, 25) && probably_prime(d, 25)) return a * b * d;
    }
}

// Strong pseudoprimes to base 2 (all composite).
mpz_class base2_pseudoprime(context& c, const char*& kind) {
    switch (c.r.below(6)) {
        case 0: {
            // Strong pseudoprimes to every prime base up to 17, 23, 37 and 41.
            static const char* const many_bases[] = {"3215031751", "2152302898747", "3474749660383",
                                                     "341550071728321", "3825123056546413051",
                                                     "318665857834031151167461", "3317044064679887385961981"};
            kind = "strong pseudoprime to several prime bases";
            return mpz_class(many_bases[c.r.below(7)]);
        }
        case 1: case 2: {
            // 2^p = 1 and p | (2^p - 2): 2^d = 1 for d = (2^p - 2)/2.
            mpz_class m;
            do m = two_pow(small_prime(c, 11, c.r.chance(10) ? 3000 : 400)) - 1;
            while (probably_prime(m));
            kind = "composite Mersenne number";
            return m;
        }
        case 3: case 4: {
            mpz_class w;
            do w = (two_pow(small_prime(c, 7, c.r.chance(10) ? 3000 : 400)) + 1) / 3;
            while (probably_prime(w));
            kind = "composite Wagstaff number";
            return w;
        }
        default:
            if (c.r.coin()) {
                kind = "Fermat number";
                return two_pow(1ul << c.r.range(5, 11)) + 1;
            }
            kind = "square of a Wieferich prime";
            return c.r.coin() ? mpz_class(1093 * 1093) : mpz_class(3511 * 3511);
    }
}

void run_isprime(context& c) {
    mpz_class x;
    const char* kind;
    switch (c.r.below(20)) {
        case 0:
            x = c.r.range(-1000, 1);
            kind = "below 2";
            break;
        case 1: case 2:
            x = c.r.range(2, 2000000);  // trial division decides below 995006
            kind = "small";
            break;
        case 3: case 4: case 5: case 6:
            x = c.r.chance(5) ? known_prime(c) : prime_of(c, prime_bits(c));
            kind = "prime";
            break;
        case 7: case 8: case 9: {
            int bits = prime_bits(c);
            int a = static_cast<int>(c.r.range(11, bits - 10 > 11 ? bits - 10 : 11));
            x = prime_of(c, a) * prime_of(c, bits - a > 11 ? bits - a : 11);
            kind = "product of two primes above 997";
            break;
        }
        case 10: case 11:
            x = liar_product(c);
            kind = "p*q with q - 1 = j*(p - 1)";
            break;
        case 12:
            x = chernick(c);
            kind = "Chernick's Carmichael number";
            break;
        case 13: case 14:
            x = base2_pseudoprime(c, kind);
            break;
        case 15: {
            mpz_class p = prime_of(c, static_cast<int>(c.r.range(11, 300)));
            x = c.r.coin() ? mpz_class(p * p) : mpz_class(p * prime_of(c, 11 + static_cast<int>(c.r.below(60))) *
                                                          prime_of(c, 11 + static_cast<int>(c.r.below(60))));
            kind = "square, or product of three primes above 997";
            break;
        }
        case 16: case 17:
            x = random_bits(c, static_cast<int>(c.r.range(2, c.r.chance(5) ? 4096 : 400))) | 1;
            kind = "random odd";
            break;
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
    const int reps = mpz_sizeinbase(x.get_mpz_t(), 2) > 4096 ? 25 : 40;
    int want = x < 2 ? 0 : probably_prime(x, reps);
    c.tally(kind);
    c.tally(want ? "verdict: prime" : "verdict: composite");
    c.integer("verdict", verdict, want);
    c.value("x after the call", px, x);
    if (!installed) {
        c.truth("no modulus installed afterwards", c.state->modulus->len == 0);
        return;
    }
    if (!c.value("installed modulus afterwards", c.state->modulus, m)) return;
    // ... and still computes: a product of residues under it.
    const mpz_class v = c.magnitude(2) % m, u = c.magnitude(3) % m;
    bignum *pv = pool(1), *pu = pool(2);
    set_number(pv, v);
    set_number(pu, u);
    nres(pv, pv);
    nres(pu, pu);
    nres_modmult(pv, pu, pv);
    redc(pv, pv);
    if (c.no_error()) c.value("a product under the installed modulus afterwards", pv, v * u % m);
}

// The two halves of the test one by one, against references that compute
// by other means: the strong test to base a with GMP's powm, and the
// strong Lucas test from U_k by the ladder (U_2k, U_(2k+1)) =
// (U_k (2 U_(k+1) - P U_k), U_(k+1)^2 - Q U_k^2) with GMP's Jacobi symbol
// and square test. isprime runs them only past trial division and behind
// one another (with random trials after them), where a fault in one half
// can hide behind the other; here each verdict counts, on the composites
// that pass either half alone (the Lucas pseudoprimes 5459, 5777, ...
// among the small numbers) as well as on primes.
int reference_sprp(const mpz_class& n, unsigned long a) {
    mpz_class d = n - 1;
    unsigned long s = mpz_scan1(d.get_mpz_t(), 0);
    d >>= s;
    mpz_class t, base = a;
    mpz_powm(t.get_mpz_t(), base.get_mpz_t(), d.get_mpz_t(), n.get_mpz_t());
    if (t == 1 || t == n - 1) return 1;
    for (unsigned long j = 1; j < s; ++j) {
        t = t * t % n;
        if (t == n - 1) return 1;
    }
    return 0;
}

int reference_slprp(const mpz_class& n) {
    if (mpz_perfect_square_p(n.get_mpz_t())) return 0;
    long d = 5;
    for (;; d = d > 0 ? -d - 2 : -d + 2) {
        const int j = mpz_si_kronecker(d, n.get_mpz_t());
        if (j == -1) break;
        if (j == 0 && n > (d < 0 ? -d : d)) return 0;
    }
    const long q = (1 - d) / 4;
    mpz_class g;
    mpz_gcd_ui(g.get_mpz_t(), n.get_mpz_t(), static_cast<unsigned long>(q < 0 ? -q : q));
    if (g > 1) return 0;
    mpz_class m = n + 1;
    const unsigned long s = mpz_scan1(m.get_mpz_t(), 0);
    m >>= s;
    mpz_class u = 0, u1 = 1;  // U_k, U_(k+1) for k = 0
    for (long i = static_cast<long>(mpz_sizeinbase(m.get_mpz_t(), 2)) - 1; i >= 0; --i) {
        mpz_class a = u * (2 * u1 - u) % n;
        mpz_class b = (u1 * u1 - q * u * u) % n;
        if (mpz_tstbit(m.get_mpz_t(), static_cast<mp_bitcnt_t>(i))) {
            u = b;
            u1 = (b - q * a) % n;
        } else {
            u = a;
            u1 = b;
        }
    }
    if (u % n == 0) return 1;
    mpz_class v = (2 * u1 - u) % n;  // V_k = 2 U_(k+1) - P U_k
    mpz_class qk, qm = q;
    mpz_powm(qk.get_mpz_t(), qm.get_mpz_t(), m.get_mpz_t(), n.get_mpz_t());
    for (unsigned long r = 0; r < s; ++r) {
        if (v % n == 0) return 1;
        v = (v * v - 2 * qk) % n;
        qk = qk * qk % n;
    }
    return 0;
}

void run_halves(context& c) {
    mpz_class n;
    const char* kind = "odd";
    switch (c.r.below(8)) {
        case 0: case 1:
            n = c.r.range(1, 600000) * 2 + 1;
            kind = "small odd";
            break;
        case 2: {
            // Strong Lucas pseudoprimes with Selfridge's parameters.
            static const long lucas[] = {5459, 5777, 10877, 16109, 18971, 22499, 24569, 25199, 40309, 58519};
            n = lucas[c.r.below(10)];
            kind = "strong Lucas pseudoprime";
            break;
        }
        case 3:
            n = base2_pseudoprime(c, kind);
            break;
        case 4:
            n = c.r.coin() ? liar_product(c) : chernick(c);
            kind = "many liars";
            break;
        case 5:
            n = prime_of(c, static_cast<int>(c.r.range(2, 600)));
            if (n == 2) n = 3;
            kind = "prime";
            break;
        case 6: {
            mpz_class p = prime_of(c, static_cast<int>(c.r.range(2, 300)));
            n = p == 2 ? mpz_class(9) : mpz_class(p * p);
            kind = "square";
            break;
        }
        default:
            n = random_bits(c, static_cast<int>(c.r.range(2, 600))) | 1;
            if (n < 3) n = 3;
            kind = "random odd";
            break;
    }
    if (mpz_sizeinbase(n.get_mpz_t(), 2) > 600) n = c.r.range(1, 600000) * 2 + 1;  // keep the cases cheap
    const unsigned long a = n < (1 << 30) && c.r.coin() ? static_cast<unsigned long>(c.r.range(2, n.get_si() - 1))
                                                        : c.r.coin() ? 2ul : static_cast<unsigned long>(c.r.range(2, (1 << 30) - 1));
    c.form(std::string("strong_probable_prime(a, n), strong_lucas_probable_prime(n), ") + kind);
    c.note("n", n);
    c.note("a", static_cast<long long>(a));
    bignum* pn = pool(0);
    set_number(pn, n);
    const int sprp = strong_probable_prime(static_cast<int>(a), pn);
    if (!c.no_error()) return;
    const int slprp = strong_lucas_probable_prime(pn);
    if (!c.no_error()) return;
    const bool prime = probably_prime(n);
    c.tally(kind);
    if (!prime && slprp != 0) c.tally("composite passing the Lucas test");
    if (!prime && sprp != 0) c.tally("composite passing the base-a test");
    c.integer("strong probable prime to base a", sprp, reference_sprp(n, a));
    c.integer("strong Lucas probable prime", slprp, reference_slprp(n));
    c.value("n after the calls", pn, n);
    c.value("installed modulus afterwards", c.state->modulus, n);
}

}  // namespace

const family oracle::primality_family{"primality", {
    {"isprime", run_isprime, 1},
    {"halves", run_halves, 0.5},
}};
