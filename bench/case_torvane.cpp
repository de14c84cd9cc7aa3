// The engine's side of torvane-bench: each operation through the engine
// routines the calculator calls for it.
#include <cstring>
#include <memory>

#include "bench_case.h"
#include "internal.h"
#include "pool.h"
#include "modexp.h"

namespace {

// Hexadecimal digits per engine word in the instance: a 65530 x 65530-bit
// product has 4096 words, and so has the 2n-bit dividend at 65530 bits;
// mirsys(d, 16) gives room for d/8 + 1 words.
constexpr int engine_hex_digits = 2 * 16384 + 16;
// Text buffer: the decimal text of a 65530-bit number has 19727 digits.
constexpr int text_buffer_chars = 40000;

void load(const words& w, bignum* z) {
    zero_number(z);
    for (std::size_t i = 0; i < w.size(); ++i) z->w[i] = w[i];
    z->len = static_cast<std::uint32_t>(w.size());
}

std::string hex_of(const bignum* z) {
    const int n = static_cast<int>(z->len & mr_length_mask);
    const words w(z->w, z->w + n);
    const std::string h = to_hex(w);
    return (z->len & mr_sign_bit) != 0 ? "-" + h : h;
}

// The numbers of one case; freed with the case.
struct engine_numbers {
    bignum* a = mirvar(0);
    bignum* b = mirvar(0);
    bignum* d = mirvar(0);
    bignum* x = mirvar(0);
    bignum* y = mirvar(0);
    bignum* e = mirvar(0);
    bignum* f = mirvar(0);
    bignum* m = mirvar(0);
    bignum* r = mirvar(0);  // result
    bignum* q = mirvar(0);  // quotient of divide
    std::string decimal;
    int text_length = 0;
    engine_numbers() = default;
    engine_numbers(const engine_numbers&) = delete;
    engine_numbers& operator=(const engine_numbers&) = delete;
    ~engine_numbers() {
        for (bignum* n : {a, b, d, x, y, e, f, m, r, q}) free_number(n);
    }
};

void check_engine(const char* what) {
    mr_state* s = get_engine();
    if (s->error_number != 0) {
        bench_fail("torvane", std::string(what) + ": engine error " + std::to_string(s->error_number) + ", " +
                                  error_message(s->error_number));
    }
}

}  // namespace

void start_torvane_engine() {
    mr_state* s = mirsys(engine_hex_digits, 16);
    if (s == nullptr || s->initialised == 0) bench_fail("torvane", "mirsys failed");
    s->error_continue = 1;
    set_io_buffer_size(text_buffer_chars);
    pool_use_here(false);
    check_engine("start");
}

void stop_torvane_engine() { release_engine(); }

bench_case make_torvane_case(bench_op op, const operand_set& in) {
    auto n = std::make_shared<engine_numbers>();
    check_engine("mirvar");
    load(in.a, n->a);
    load(in.b, n->b);
    load(in.d, n->d);
    load(in.x, n->x);
    load(in.y, n->y);
    load(in.e, n->e);
    load(in.f, n->f);
    load(in.m, n->m);
    n->decimal = in.decimal;
    engine_numbers* p = n.get();
    bench_case c;
    c.state = n;
    c.result = [p, op] {
        check_engine(op_name(op));
        if (op == bench_op::divide) return hex_of(p->q) + ":" + hex_of(p->r);
        if (op == bench_op::to_decimal) return std::string(get_engine()->io_buffer, static_cast<std::size_t>(p->text_length));
        return hex_of(p->r);
    };
    // Every exponentiation starts with no modulus installed, so that each
    // call pays for its Montgomery set-up as the peers' calls do.
    switch (op) {
    case bench_op::multiply: c.run = [p] { multiply(p->a, p->b, p->r); }; break;
    case bench_op::square: c.run = [p] { multiply(p->a, p->a, p->r); }; break;
    case bench_op::powmod:
    case bench_op::powmod_even:
    case bench_op::powmod_split:
        c.run = [p] {
            clear_modulus();
            powmod(p->x, p->e, p->m, p->r);
        };
        break;
    case bench_op::powmod2:
        c.run = [p] {
            clear_modulus();
            powmod2(p->x, p->e, p->y, p->f, p->m, p->r);
        };
        break;
    case bench_op::powltr2:
        c.run = [p] {
            clear_modulus();
            powltr(2, p->e, p->m, p->r);
        };
        break;
    case bench_op::divide:
        // divide leaves the remainder in its dividend: each call starts from
        // a copy (linear time, small beside the division).
        c.run = [p] {
            copy_number(p->d, p->r);
            divide(p->r, p->a, p->q);
        };
        break;
    case bench_op::to_decimal:
        c.run = [p] {
            mr_state* s = get_engine();
            s->io_base = 10;
            p->text_length = cotstr(p->a, s->io_buffer);
        };
        break;
    case bench_op::from_decimal:
        c.run = [p] {
            get_engine()->io_base = 10;
            cinstr(p->r, p->decimal.c_str());
        };
        break;
    case bench_op::gcd: c.run = [p] { egcd(p->a, p->b, p->r); }; break;
    // xgcd with its three outputs the same number forms only the inverse.
    case bench_op::inverse: c.run = [p] { xgcd(p->x, p->m, p->r, p->r, p->r); }; break;
    case bench_op::cube_root: c.run = [p] { nroot(p->a, 3, p->r); }; break;
    // The calculator's Prime(X) after its own trial division: isprime.
    case bench_op::isprime: c.run = [p] { set_from_int(isprime(p->m), p->r); }; break;
    case bench_op::factorial5910:
        // The engine calls of the calculator's X! (op_factorial in
        // app/calc/arithmetic_ops.cpp): n, then one premult per pair of
        // factors k(k-1) from n-1 down, and 2 alone if it is left over. Keep
        // the two in step.
        c.run = [p] {
            set_from_int(factorial_argument, p->r);
            int k = factorial_argument - 1;
            for (; k >= 3; k -= 2) premult(p->r, k * (k - 1), p->r);
            if (k == 2) premult(p->r, 2, p->r);
        };
        break;
    }
    return c;
}

// The same case with the worker pool: the benchmark's thread keeps the pool
// off (start_torvane_engine) and lends it to these calls alone.
bench_case make_torvane_mt_case(bench_op op, const operand_set& in) {
    bench_case c = make_torvane_case(op, in);
    c.run = [run = std::move(c.run)] {
        pool_use_here(true);
        run();
        pool_use_here(false);
    };
    return c;
}
