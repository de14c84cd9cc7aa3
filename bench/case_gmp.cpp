// GMP's side of torvane-bench (mpz functions).
#include <gmp.h>

#include <memory>
#include <vector>

#include "bench_case.h"

namespace {

void load(const words& w, mpz_t z) { mpz_import(z, w.size(), -1, sizeof(std::uint32_t), 0, 0, w.data()); }

std::string hex_of(const mpz_t z) {
    std::vector<char> text(mpz_sizeinbase(z, 16) + 2);
    mpz_get_str(text.data(), 16, z);
    return canonical_hex(text.data());
}

struct gmp_numbers {
    mpz_t a, b, d, x, y, e, f, m, two, r, q, t1, t2;
    std::string decimal;
    std::vector<char> text;  // to_decimal's output
    gmp_numbers() { mpz_inits(a, b, d, x, y, e, f, m, two, r, q, t1, t2, nullptr); }
    gmp_numbers(const gmp_numbers&) = delete;
    gmp_numbers& operator=(const gmp_numbers&) = delete;
    ~gmp_numbers() { mpz_clears(a, b, d, x, y, e, f, m, two, r, q, t1, t2, nullptr); }
};

}  // namespace

bench_case make_gmp_case(bench_op op, const operand_set& in) {
    auto n = std::make_shared<gmp_numbers>();
    load(in.a, n->a);
    load(in.b, n->b);
    load(in.d, n->d);
    load(in.x, n->x);
    load(in.y, n->y);
    load(in.e, n->e);
    load(in.f, n->f);
    load(in.m, n->m);
    mpz_set_ui(n->two, 2);
    n->decimal = in.decimal;
    n->text.assign(mpz_sizeinbase(n->a, 10) + 2, '\0');
    gmp_numbers* p = n.get();
    bench_case c;
    c.state = n;
    c.result = [p, op] {
        if (op == bench_op::divide) return hex_of(p->q) + ":" + hex_of(p->r);
        if (op == bench_op::to_decimal) return std::string(p->text.data());
        return hex_of(p->r);
    };
    switch (op) {
    case bench_op::multiply: c.run = [p] { mpz_mul(p->r, p->a, p->b); }; break;
    case bench_op::square: c.run = [p] { mpz_mul(p->r, p->a, p->a); }; break;
    case bench_op::powmod:
    case bench_op::powmod_split:
    case bench_op::powmod_even: c.run = [p] { mpz_powm(p->r, p->x, p->e, p->m); }; break;
    case bench_op::powmod2:
        // GMP has no double exponentiation: two powers, their product and a
        // reduction.
        c.run = [p] {
            mpz_powm(p->t1, p->x, p->e, p->m);
            mpz_powm(p->t2, p->y, p->f, p->m);
            mpz_mul(p->r, p->t1, p->t2);
            mpz_mod(p->r, p->r, p->m);
        };
        break;
    case bench_op::powltr2: c.run = [p] { mpz_powm(p->r, p->two, p->e, p->m); }; break;
    case bench_op::divide: c.run = [p] { mpz_tdiv_qr(p->q, p->r, p->d, p->a); }; break;
    case bench_op::to_decimal: c.run = [p] { mpz_get_str(p->text.data(), 10, p->a); }; break;
    case bench_op::from_decimal: c.run = [p] { mpz_set_str(p->r, p->decimal.c_str(), 10); }; break;
    case bench_op::gcd: c.run = [p] { mpz_gcd(p->r, p->a, p->b); }; break;
    case bench_op::inverse: c.run = [p] { mpz_invert(p->r, p->x, p->m); }; break;
    case bench_op::cube_root: c.run = [p] { mpz_root(p->r, p->a, 3); }; break;
    // The same work as the engine's test at the sizes of the table (a
    // strong test to base 2, a Lucas test of about two powers' cost and,
    // above 270 bits, two trials with random bases): six powers
    // a^(p-1) mod p with small bases, all 1 for a prime.
    case bench_op::isprime:
        c.run = [p] {
            static constexpr unsigned long bases[] = {2, 3, 5, 7, 11, 13};
            mpz_sub_ui(p->t1, p->m, 1);
            bool all_one = true;
            for (unsigned long a : bases) {
                mpz_set_ui(p->t2, a);
                mpz_powm(p->r, p->t2, p->t1, p->m);
                all_one = all_one && mpz_cmp_ui(p->r, 1) == 0;
            }
            mpz_set_ui(p->r, all_one ? 1 : 0);
        };
        break;
    // GMP's own factorial (not a product loop: it splits into prime powers).
    case bench_op::factorial5910: c.run = [p] { mpz_fac_ui(p->r, factorial_argument); }; break;
    }
    return c;
}
