// LibTomMath's side of torvane-bench (mp functions).
#include <tommath.h>

#include <memory>
#include <vector>

#include "bench_case.h"

namespace {

void check(mp_err err, const char* what) {
    if (err != MP_OKAY) bench_fail("tommath", std::string(what) + ": " + mp_error_to_string(err));
}

void load(const words& w, mp_int* z) { check(mp_read_radix(z, to_hex(w).c_str(), 16), "mp_read_radix"); }

std::string hex_of(const mp_int* z) {
    int size = 0;
    check(mp_radix_size(z, 16, &size), "mp_radix_size");
    std::vector<char> text(static_cast<std::size_t>(size) + 1);
    check(mp_to_radix(z, text.data(), text.size(), nullptr, 16), "mp_to_radix");
    return canonical_hex(text.data());
}

struct tommath_numbers {
    mp_int a, b, d, x, y, e, f, m, two, r, q;
    std::string decimal;
    std::vector<char> text;  // to_decimal's output
    mp_err err = MP_OKAY;    // the first failure of a call, if any
    tommath_numbers() { check(mp_init_multi(&a, &b, &d, &x, &y, &e, &f, &m, &two, &r, &q, nullptr), "mp_init"); }
    tommath_numbers(const tommath_numbers&) = delete;
    tommath_numbers& operator=(const tommath_numbers&) = delete;
    ~tommath_numbers() { mp_clear_multi(&a, &b, &d, &x, &y, &e, &f, &m, &two, &r, &q, nullptr); }
    void note(mp_err e_) {
        if (err == MP_OKAY) err = e_;
    }
};

}  // namespace

bench_case make_tommath_case(bench_op op, const operand_set& in) {
    if (op == bench_op::powmod2) return {};  // no double exponentiation in LibTomMath
    auto n = std::make_shared<tommath_numbers>();
    tommath_numbers* p = n.get();
    load(in.a, &p->a);
    load(in.b, &p->b);
    load(in.d, &p->d);
    load(in.x, &p->x);
    load(in.y, &p->y);
    load(in.e, &p->e);
    load(in.f, &p->f);
    load(in.m, &p->m);
    mp_set(&p->two, 2);
    p->decimal = in.decimal;
    int size = 0;
    check(mp_radix_size(&p->a, 10, &size), "mp_radix_size");
    p->text.assign(static_cast<std::size_t>(size) + 1, '\0');
    bench_case c;
    c.state = n;
    c.result = [p, op] {
        check(p->err, op_name(op));
        if (op == bench_op::divide) return hex_of(&p->q) + ":" + hex_of(&p->r);
        if (op == bench_op::to_decimal) return std::string(p->text.data());
        return hex_of(&p->r);
    };
    switch (op) {
    case bench_op::multiply: c.run = [p] { p->note(mp_mul(&p->a, &p->b, &p->r)); }; break;
    case bench_op::square: c.run = [p] { p->note(mp_sqr(&p->a, &p->r)); }; break;
    case bench_op::powmod:
    case bench_op::powmod_split:
    case bench_op::powmod_even: c.run = [p] { p->note(mp_exptmod(&p->x, &p->e, &p->m, &p->r)); }; break;
    case bench_op::powmod2: break;
    case bench_op::powltr2: c.run = [p] { p->note(mp_exptmod(&p->two, &p->e, &p->m, &p->r)); }; break;
    case bench_op::divide: c.run = [p] { p->note(mp_div(&p->d, &p->a, &p->q, &p->r)); }; break;
    case bench_op::to_decimal:
        c.run = [p] { p->note(mp_to_radix(&p->a, p->text.data(), p->text.size(), nullptr, 10)); };
        break;
    case bench_op::from_decimal: c.run = [p] { p->note(mp_read_radix(&p->r, p->decimal.c_str(), 10)); }; break;
    case bench_op::gcd: c.run = [p] { p->note(mp_gcd(&p->a, &p->b, &p->r)); }; break;
    case bench_op::inverse: c.run = [p] { p->note(mp_invmod(&p->x, &p->m, &p->r)); }; break;
    case bench_op::cube_root: c.run = [p] { p->note(mp_root_u32(&p->a, 3, &p->r)); }; break;
    case bench_op::isprime: break;  // compared with GMP's powers only
    case bench_op::factorial5910:
        // No factorial in LibTomMath: the product loop n * (n-1) * ... * 2
        // by single digits.
        c.run = [p] {
            mp_set(&p->r, factorial_argument);
            for (int k = factorial_argument - 1; k >= 2; --k) p->note(mp_mul_d(&p->r, static_cast<mp_digit>(k), &p->r));
        };
        break;
    }
    return c;
}
