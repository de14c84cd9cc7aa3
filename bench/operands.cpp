// The operands of torvane-bench and the text forms in which the libraries'
// results are compared.
#include "operands.h"

#ifdef TORVANE_BENCH_GMP
#include <gmp.h>
#else
#include "engine.h"
#endif

#include <bit>
#include <cctype>
#include <random>
#include <vector>

namespace {

constexpr const char* op_names[bench_op_count] = {
    "multiply", "square",     "powmod", "powmod_even", "powmod2",  "powltr2",      "divide",
    "to_decimal", "from_decimal", "gcd", "inverse",    "cube_root", "factorial5910", "isprime",
    "powmod_split",
};

// A random number of exactly `bits` bits.
words random_bits(std::mt19937_64& rng, int bits) {
    words w(static_cast<std::size_t>((bits + 31) / 32));
    for (auto& word : w) word = static_cast<std::uint32_t>(rng());
    const int top_bits = bits - 32 * (static_cast<int>(w.size()) - 1);
    if (top_bits < 32) w.back() &= (1u << top_bits) - 1;
    w.back() |= 1u << (top_bits - 1);
    return w;
}

// a < b for numbers of the same word count.
bool less_than(const words& a, const words& b) {
    for (std::size_t i = a.size(); i-- > 0;)
        if (a[i] != b[i]) return a[i] < b[i];
    return false;
}

// A random number of exactly `bits` bits below m (which has `bits` bits and
// is not the smallest such number).
words random_below(std::mt19937_64& rng, int bits, const words& m) {
    for (;;) {
        words w = random_bits(rng, bits);
        if (less_than(w, m)) return w;
    }
}

// Three helpers prepare operands: the coprimality test of inverse's base,
// the decimal text of from_decimal and the next prime of isprime. GMP does
// them where it is built in; without it (the engine alone, as on Windows)
// the engine's own routines do, which, given the same numbers, give the
// same operands.
#ifdef TORVANE_BENCH_GMP

struct gmp_number {
    mpz_t z;
    explicit gmp_number(const words& w) {
        mpz_init(z);
        mpz_import(z, w.size(), -1, sizeof(std::uint32_t), 0, 0, w.data());
    }
    gmp_number(const gmp_number&) = delete;
    gmp_number& operator=(const gmp_number&) = delete;
    ~gmp_number() { mpz_clear(z); }
};

bool coprime(const words& a, const words& b) {
    gmp_number x(a), y(b), g(words{});
    mpz_gcd(g.z, x.z, y.z);
    return mpz_cmp_ui(g.z, 1) == 0;
}

std::string decimal_of(const words& a) {
    gmp_number x(a);
    std::vector<char> text(mpz_sizeinbase(x.z, 10) + 2);
    mpz_get_str(text.data(), 10, x.z);
    return text.data();
}

// The least prime above a.
words next_prime(const words& a) {
    gmp_number p(a);
    mpz_nextprime(p.z, p.z);
    words w((mpz_sizeinbase(p.z, 2) + 31) / 32);
    std::size_t count = 0;
    mpz_export(w.data(), &count, -1, sizeof(std::uint32_t), 0, 0, p.z);
    w.resize(count);
    return w;
}

#else

// An engine number holding w, freed with it; needs the benchmark's instance.
struct engine_number {
    bignum* z = mirvar(0);
    explicit engine_number(const words& w) {
        for (std::size_t i = 0; i < w.size(); ++i) z->w[i] = w[i];
        z->len = static_cast<std::uint32_t>(w.size());
    }
    engine_number(const engine_number&) = delete;
    engine_number& operator=(const engine_number&) = delete;
    ~engine_number() { free_number(z); }
    words value() const { return words(z->w, z->w + length_of(z)); }
};

bool coprime(const words& a, const words& b) {
    engine_number x(a), y(b), g(words{});
    egcd(x.z, y.z, g.z);
    return length_of(g.z) == 1 && g.z->w[0] == 1;
}

std::string decimal_of(const words& a) {
    engine_number x(a);
    const int base = get_io_base();
    set_io_base(10);
    const int length = cotstr(x.z, get_io_buffer());
    set_io_base(base);
    if (engine_error() != 0) bench_fail("torvane", "the decimal text of an operand");
    return std::string(get_io_buffer(), static_cast<std::size_t>(length));
}

words next_prime(const words& a) {
    engine_number p(a), one(words{1});
    do add(p.z, one.z, p.z);
    while (isprime(p.z) == 0);
    if (engine_error() != 0) bench_fail("torvane", "the next prime of an operand");
    return p.value();
}

#endif

int bit_length(const words& w) {
    return w.empty() ? 0 : 32 * (static_cast<int>(w.size()) - 1) + std::bit_width(w.back());
}

// w with bit k set (w grown as needed).
void set_bit(words& w, int k) {
    if (w.size() <= static_cast<std::size_t>(k / 32)) w.resize(static_cast<std::size_t>(k / 32 + 1));
    w[static_cast<std::size_t>(k / 32)] |= 1u << (k % 32);
}

// Exponents p of the Mersenne primes 2^p - 1 above 4096 bits and below
// 65531 bits.
constexpr int mersenne_exponents[] = {4253, 4423, 9689, 9941, 11213, 19937, 21701, 23209, 44497};
// 3 * 2^59973 + 1, a prime of 59975 bits, the largest of the table.
constexpr int proth_exponent = 59973;

// The prime that isprime tests in a row of `bits` bits: up to 4096 bits the
// first prime from a random number of exactly that size on (found in a
// second); above, where that search would take hours, the largest prime of
// at most `bits` bits among the Mersenne primes and 3 * 2^59973 + 1 (that
// one in the 65530-bit row).
words prime_of(std::mt19937_64& rng, int bits) {
    words p = random_bits(rng, bits);
    if (bits <= 4096) {
        p = next_prime(p);
        if (bit_length(p) > bits) {
            words low;
            set_bit(low, bits - 1);
            p = next_prime(low);  // a prime just above 2^(bits-1)
        }
    } else if (bits >= proth_exponent + 2) {
        p.clear();
        set_bit(p, 0);
        set_bit(p, proth_exponent);  // 3 = 2 + 1
        set_bit(p, proth_exponent + 1);
    } else {
        int e = 0;
        for (int x : mersenne_exponents)
            if (x <= bits) e = x;
        p.clear();
        for (int k = 0; k < e; ++k) set_bit(p, k);
    }
    return p;
}

}  // namespace

const char* op_name(bench_op op) { return op_names[static_cast<int>(op)]; }

bool op_from_name(const std::string& name, bench_op* op) {
    for (int k = 0; k < bench_op_count; ++k) {
        if (name == op_names[k]) {
            *op = static_cast<bench_op>(k);
            return true;
        }
    }
    return false;
}

const char* library_name(bench_library lib) {
    static constexpr const char* names[bench_library_count] = {"torvane", "gmp", "openssl", "tommath",
                                                                           "torvane_mt"};
    return names[static_cast<int>(lib)];
}

std::string to_hex(const words& w) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string h;
    for (std::size_t i = w.size(); i-- > 0;)
        for (int shift = 28; shift >= 0; shift -= 4) {
            const int d = static_cast<int>((w[i] >> shift) & 15);
            if (d != 0 || !h.empty()) h += digits[d];
        }
    return h.empty() ? "0" : h;
}

std::string canonical_hex(const std::string& text) {
    const bool negative = !text.empty() && text[0] == '-';
    std::size_t start = negative ? 1 : 0;
    while (start + 1 < text.size() && text[start] == '0') ++start;
    std::string h = start < text.size() ? text.substr(start) : std::string(1, '0');
    for (char& ch : h) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return negative && h != "0" ? "-" + h : h;
}

operand_set make_operands(bench_op op, int bits, std::uint64_t seed) {
    // One stream per (operation, size): a subset run sees the operands of
    // the full run.
    std::seed_seq seq{seed, static_cast<std::uint64_t>(op), static_cast<std::uint64_t>(bits)};
    std::mt19937_64 rng(seq);
    operand_set in;
    in.a = random_bits(rng, bits);
    in.b = random_bits(rng, bits);
    in.d = random_bits(rng, 2 * bits);
    in.m = random_bits(rng, bits);
    if (op == bench_op::powmod_even) {
        in.m[0] &= ~1u;
    } else if (op == bench_op::powmod_split) {
        // The low half of the bits zero, the one above them set: 2^(n/2)
        // times an odd number, both parts as long.
        const int zero_bits = bits / 2;
        for (int k = 0; k < zero_bits; ++k) in.m[static_cast<std::size_t>(k / 32)] &= ~(1u << (k % 32));
        in.m[static_cast<std::size_t>(zero_bits / 32)] |= 1u << (zero_bits % 32);
    } else {
        in.m[0] |= 1u;
    }
    in.x = random_below(rng, bits, in.m);
    if (op == bench_op::powmod_split) in.x[0] |= 1u;  // odd: the power modulo 2^(n/2) takes n/2 steps
    if (op == bench_op::inverse)
        while (!coprime(in.x, in.m)) in.x = random_below(rng, bits, in.m);
    in.y = random_below(rng, bits, in.m);
    in.e = random_bits(rng, bits);
    in.f = random_bits(rng, bits);
    if (op == bench_op::from_decimal) in.decimal = decimal_of(in.a);
    if (op == bench_op::isprime) in.m = prime_of(rng, bits);
    return in;
}
