// OpenSSL's side of torvane-bench (BN functions of libcrypto).
#include <openssl/bn.h>
#include <openssl/crypto.h>

#include <memory>
#include <vector>

#include "bench_case.h"

namespace {

BIGNUM* make(const words& w) {
    std::vector<unsigned char> bytes(4 * w.size());
    for (std::size_t i = 0; i < w.size(); ++i)
        for (int k = 0; k < 4; ++k) bytes[4 * i + k] = static_cast<unsigned char>(w[i] >> (8 * k));
    BIGNUM* z = BN_lebin2bn(bytes.data(), static_cast<int>(bytes.size()), nullptr);
    if (z == nullptr) bench_fail("openssl", "BN_lebin2bn failed");
    return z;
}

std::string hex_of(const BIGNUM* z) {
    char* text = BN_bn2hex(z);
    if (text == nullptr) bench_fail("openssl", "BN_bn2hex failed");
    std::string h = canonical_hex(text);
    OPENSSL_free(text);
    return h;
}

struct openssl_numbers {
    BN_CTX* ctx = BN_CTX_new();
    BIGNUM *a, *b, *d, *x, *y, *e, *f, *m;
    BIGNUM* two = BN_new();
    BIGNUM* r = BN_new();
    BIGNUM* q = BN_new();
    std::string decimal;
    char* text = nullptr;  // to_decimal's output
    bool ok = true;        // every call so far succeeded
    explicit openssl_numbers(const operand_set& in)
        : a(make(in.a)), b(make(in.b)), d(make(in.d)), x(make(in.x)), y(make(in.y)), e(make(in.e)),
          f(make(in.f)), m(make(in.m)), decimal(in.decimal) {}
    openssl_numbers(const openssl_numbers&) = delete;
    openssl_numbers& operator=(const openssl_numbers&) = delete;
    ~openssl_numbers() {
        for (BIGNUM* n : {a, b, d, x, y, e, f, m, two, r, q}) BN_free(n);
        OPENSSL_free(text);
        BN_CTX_free(ctx);
    }
};

}  // namespace

bench_case make_openssl_case(bench_op op, const operand_set& in) {
    if (op == bench_op::cube_root) return {};  // OpenSSL has no roots
    auto n = std::make_shared<openssl_numbers>(in);
    openssl_numbers* p = n.get();
    if (BN_set_word(p->two, 2) != 1) bench_fail("openssl", "BN_set_word failed");
    bench_case c;
    c.state = n;
    c.result = [p, op] {
        if (!p->ok) bench_fail("openssl", std::string(op_name(op)) + " failed");
        if (op == bench_op::divide) return hex_of(p->q) + ":" + hex_of(p->r);
        if (op == bench_op::to_decimal) return std::string(p->text);
        return hex_of(p->r);
    };
    switch (op) {
    case bench_op::multiply: c.run = [p] { p->ok &= BN_mul(p->r, p->a, p->b, p->ctx) == 1; }; break;
    case bench_op::square: c.run = [p] { p->ok &= BN_sqr(p->r, p->a, p->ctx) == 1; }; break;
    // BN_mod_exp takes Montgomery's path for an odd modulus and its
    // reciprocal method for an even one.
    case bench_op::powmod:
    case bench_op::powmod_even:
    case bench_op::powmod_split:
        c.run = [p] { p->ok &= BN_mod_exp(p->r, p->x, p->e, p->m, p->ctx) == 1; };
        break;
    case bench_op::powmod2:
        c.run = [p] { p->ok &= BN_mod_exp2_mont(p->r, p->x, p->e, p->y, p->f, p->m, p->ctx, nullptr) == 1; };
        break;
    // For a one-word base BN_mod_exp takes its word-base Montgomery path.
    case bench_op::powltr2: c.run = [p] { p->ok &= BN_mod_exp(p->r, p->two, p->e, p->m, p->ctx) == 1; }; break;
    case bench_op::divide: c.run = [p] { p->ok &= BN_div(p->q, p->r, p->d, p->a, p->ctx) == 1; }; break;
    case bench_op::to_decimal:
        c.run = [p] {
            OPENSSL_free(p->text);
            p->text = BN_bn2dec(p->a);
            p->ok &= p->text != nullptr;
        };
        break;
    case bench_op::from_decimal: c.run = [p] { p->ok &= BN_dec2bn(&p->r, p->decimal.c_str()) > 0; }; break;
    // OpenSSL 3's BN_gcd runs in constant time, which makes it slow.
    case bench_op::gcd: c.run = [p] { p->ok &= BN_gcd(p->r, p->a, p->b, p->ctx) == 1; }; break;
    case bench_op::inverse: c.run = [p] { p->ok &= BN_mod_inverse(p->r, p->x, p->m, p->ctx) != nullptr; }; break;
    case bench_op::cube_root: break;
    case bench_op::isprime: break;  // compared with GMP's powers only
    case bench_op::factorial5910:
        // No factorial in BN: the product loop n * (n-1) * ... * 2 by words.
        c.run = [p] {
            p->ok &= BN_set_word(p->r, factorial_argument) == 1;
            for (int k = factorial_argument - 1; k >= 2; --k) p->ok &= BN_mul_word(p->r, static_cast<BN_ULONG>(k)) == 1;
        };
        break;
    }
    return c;
}
