// The case context, operand generators and value conversions of the
// differential checks.
#include "oracle.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace oracle {

std::uint64_t mix(std::uint64_t a, std::uint64_t b) {
    rng r(a ^ (b * 0xD6E8FEB86659FD93ull));
    r.next();
    return r.next();
}

std::uint64_t hash_name(const char* name) {
    std::uint64_t h = 0xCBF29CE484222325ull;  // FNV-1a
    for (const char* p = name; *p; ++p) h = (h ^ static_cast<unsigned char>(*p)) * 0x100000001B3ull;
    return h;
}

const size_class size_classes[size_class_count] = {
    {1, 1}, {2, 2}, {3, 5}, {6, 16}, {17, 64}, {65, 256}, {257, 1024}, {1025, 2049},
};

namespace {

const double class_weights[3][size_class_count] = {
    {1, 1, 1, 1, 1, 1, 1, 1},                   // linear
    {6, 6, 6, 6, 5, 3, 1.2, 0.3},               // quadratic
    {6, 6, 6, 5, 3, 0.8, 0.08, 0.01},           // heavy
};

std::vector<bignum*>& pool_numbers() {
    static std::vector<bignum*> numbers;
    return numbers;
}

std::string hex_text(const mpz_class& v) {
    std::string s = v.get_str(16);
    return s;
}

}  // namespace

// ---- context --------------------------------------------------------------

context::context(const char* routine, std::uint64_t seed, int forced_class, mr_state* s)
    : r(seed), state(s), routine_(routine), seed_(seed), forced_class_(forced_class) {}

int context::pick_length(profile p, int max_words) {
    if (max_words < 1) max_words = 1;
    int c;
    if (first_length_ && forced_class_ >= 0) {
        c = forced_class_;
    } else {
        const double* w = class_weights[static_cast<int>(p)];
        double total = 0;
        for (int i = 0; i < size_class_count; ++i)
            if (size_classes[i].lo <= max_words) total += w[i];
        double x = static_cast<double>(r.next() >> 11) / 9007199254740992.0 * total;
        c = 0;
        for (int i = 0; i < size_class_count; ++i) {
            if (size_classes[i].lo > max_words) break;
            c = i;
            if (x < w[i]) break;
            x -= w[i];
        }
    }
    first_length_ = false;
    int lo = size_classes[c].lo, hi = size_classes[c].hi;
    if (hi > max_words) hi = max_words;
    if (lo > hi) lo = hi;
    // The top of the largest class is the engine's limit itself: reach it
    // exactly now and then.
    if (hi == max_words && r.chance(15)) return hi;
    return static_cast<int>(r.range(lo, hi));
}

mpz_class context::magnitude(int words) {
    if (words < 1) words = 1;
    std::vector<std::uint32_t> w(static_cast<std::size_t>(words));
    int kind = static_cast<int>(r.below(100));
    mpz_class v;
    if (kind < 8) {  // power of two with its neighbours
        unsigned long bit = 32ul * static_cast<unsigned long>(words - 1) + r.below(32);
        mpz_ui_pow_ui(v.get_mpz_t(), 2, bit);
        int n = static_cast<int>(r.below(3));
        if (n == 1 && bit > 0) v -= 1;
        if (n == 2) v += 1;
        if (words_of(v) > words) v -= 2;  // 2^(32*words - 1) + 1 stays in length
        return v;
    }
    if (kind < 14) {  // all-ones words
        for (auto& x : w) x = 0xFFFFFFFFu;
    } else if (kind < 26) {  // top word all ones, the rest random
        for (auto& x : w) x = r.word();
        w.back() = 0xFFFFFFFFu;
    } else if (kind < 38) {  // sparse words of special values
        static const std::uint32_t special[] = {0, 0, 1, 0x80000000u, 0xFFFFFFFFu, 0x7FFFFFFFu, 0xFFFFFFFEu};
        for (auto& x : w) x = special[r.below(sizeof special / sizeof special[0])];
        if (w.back() == 0) w.back() = r.coin() ? 1u : 0xFFFFFFFFu;
    } else if (kind < 46) {  // runs of one and zero bits
        int bit = 0, total = 32 * words;
        bool ones = r.coin();
        for (auto& x : w) x = 0;
        while (bit < total) {
            int run = static_cast<int>(r.range(1, 96));
            for (int k = bit; k < bit + run && k < total; ++k)
                if (ones) w[static_cast<std::size_t>(k / 32)] |= 1u << (k % 32);
            bit += run;
            ones = !ones;
        }
        if (w.back() == 0) w.back() = 1u << r.below(32);
    } else if (kind < 52) {  // a small top word over random words
        for (auto& x : w) x = r.word();
        w.back() = 1u + static_cast<std::uint32_t>(r.below(3));
    } else {
        for (auto& x : w) x = r.word();
        if (w.back() == 0) w.back() = 1;
    }
    mpz_import(v.get_mpz_t(), w.size(), -1, 4, 0, 0, w.data());
    return v;
}

int near_threshold(rng& r, int threshold, int max_words) {
    int n = (threshold << r.below(3)) + static_cast<int>(r.range(-2, 2));
    return n < 1 ? 1 : n > max_words ? max_words : n;
}

mpz_class context::operand(profile p, int max_words, bool allow_negative) {
    mpz_class v;
    int kind = static_cast<int>(r.below(100));
    if (!first_length_ || forced_class_ < 0) {
        if (kind < 3) return 0;
        if (kind < 9) {
            static const long long specials[] = {1, 2, 3, 0x7FFFFFFFll, 0x80000000ll, 0xFFFFFFFFll,
                                                 0x100000000ll, 0x3FFFFFFFll, 0x40000000ll, 0xFFFFFFFFFFFFFFFll};
            mpz_set_ui(v.get_mpz_t(), static_cast<unsigned long>(specials[r.below(10)]));
            if (allow_negative && r.coin()) v = -v;
            return v;
        }
    }
    v = magnitude(pick_length(p, max_words));
    if (allow_negative && r.coin()) v = -v;
    return v;
}

std::int32_t context::small_int() {
    switch (r.below(10)) {
        case 0: return INT32_MIN;
        case 1: return INT32_MAX;
        case 2: return static_cast<std::int32_t>(r.range(-3, 3));
        case 3: return r.coin() ? (1 << r.below(31)) : -(1 << r.below(31));
        case 4: return static_cast<std::int32_t>(r.range(-1000, 1000));
        default: return static_cast<std::int32_t>(r.word());
    }
}

void context::note(const std::string& name, const mpz_class& v) { notes_.push_back({name, show(v)}); }
void context::note(const std::string& name, long long v) { notes_.push_back({name, std::to_string(v)}); }

void context::fail(const std::string& what) {
    if (failed_) return;
    failed_ = true;
    char head[160];
    std::snprintf(head, sizeof head, "FAIL %s seed 0x%016llx", routine_.c_str(),
                  static_cast<unsigned long long>(seed_));
    report_ = head;
    report_ += "\n  form: " + form_;
    for (auto& [name, text] : notes_) report_ += "\n  " + name + " = " + text;
    report_ += "\n  " + what;
    char replay[200];
    std::snprintf(replay, sizeof replay, "\n  replay: torvane_oracle --replay %s:0x%016llx:%d", routine_.c_str(),
                  static_cast<unsigned long long>(seed_), forced_class_);
    report_ += replay;
}

bool context::value(const char* what, const bignum* got, const mpz_class& want) {
    std::string bad = malformed(got, state->max_length);
    if (!bad.empty()) {
        fail(std::string(what) + ": malformed number: " + bad);
        return false;
    }
    mpz_class g = to_mpz(got);
    if (g != want) {
        fail(std::string(what) + ": got " + show(g) + ", want " + show(want));
        return false;
    }
    return true;
}

bool context::integer(const char* what, long long got, long long want) {
    if (got == want) return true;
    fail(std::string(what) + ": got " + std::to_string(got) + ", want " + std::to_string(want));
    return false;
}

bool context::truth(const char* what, bool ok) {
    if (!ok) fail(what);
    return ok;
}

bool context::error(int code) {
    bool ok = true;
    if (state->error_number != code) {
        fail("engine error " + std::to_string(state->error_number) + ", want " + std::to_string(code));
        ok = false;
    } else if (state->trace_depth != 0) {
        fail("trace depth " + std::to_string(state->trace_depth) + " after the call, want 0");
        ok = false;
    } else if (state->length_check != 1) {
        fail("length_check left at " + std::to_string(state->length_check));
        ok = false;
    }
    state->error_number = 0;
    state->trace_depth = 0;
    state->length_check = 1;
    return ok;
}

// ---- values ---------------------------------------------------------------

mpz_class to_mpz(const bignum* x) {
    mpz_class v;
    std::size_t n = x->len & mr_length_mask;
    if (n > 0) mpz_import(v.get_mpz_t(), n, -1, sizeof(mr_digit), 0, 0, x->w);
    if (x->len & mr_sign_bit) v = -v;
    return v;
}

int words_of(const mpz_class& v) {
    if (v == 0) return 0;
    return static_cast<int>((mpz_sizeinbase(v.get_mpz_t(), 2) + 31) / 32);
}

void set_number(bignum* x, const mpz_class& v) {
    int room = get_max_length();
    // The whole room, not just the old length: a failed call may have left
    // words above its length.
    std::memset(x->w, 0, sizeof(mr_digit) * static_cast<std::size_t>(room));
    std::size_t n = 0;
    if (v != 0) {
        if (words_of(v) > room) {
            std::fprintf(stderr, "set_number: value of %d words exceeds the room of %d\n", words_of(v), room);
            std::abort();
        }
        mpz_export(x->w, &n, -1, sizeof(mr_digit), 0, 0, v.get_mpz_t());
    }
    x->len = static_cast<std::uint32_t>(n);
    if (v < 0) x->len |= mr_sign_bit;
}

std::string show(const mpz_class& v) {
    // TORVANE_ORACLE_FULL=1 prints whole values, for working a failure by hand.
    if (std::getenv("TORVANE_ORACLE_FULL") != nullptr) return v.get_str(16);
    if (mpz_sizeinbase(v.get_mpz_t(), 2) <= 64) return v.get_str(10);
    std::string h = hex_text(abs(v));
    std::string sign = v < 0 ? "-" : "";
    char info[64];
    std::snprintf(info, sizeof info, " (%d words)", words_of(v));
    if (h.size() <= 80) return sign + "0x" + h + info;
    return sign + "0x" + h.substr(0, 40) + "..." + h.substr(h.size() - 40) + info;
}

std::string malformed(const bignum* x, int room) {
    int len = static_cast<int>(x->len & mr_length_mask);
    if ((x->len & mr_denominator_mask) != 0) return "denominator length set";
    if (len > room) return "length " + std::to_string(len) + " above the room " + std::to_string(room);
    if (len == 0 && x->len != 0) return "zero carries the sign";
    if (len > 0 && x->w[len - 1] == 0) return "top word is zero";
    for (int i = len; i < room; ++i)
        if (x->w[i] != 0) return "word " + std::to_string(i) + " above the length is not zero";
    return {};
}

bignum* pool(int i) {
    auto& numbers = pool_numbers();
    if (numbers.empty())
        for (int k = 0; k < pool_size; ++k) numbers.push_back(mirvar(0));
    return numbers[static_cast<std::size_t>(i)];
}

void release_pool() {
    for (bignum* n : pool_numbers()) free_number(n);
    pool_numbers().clear();
}

mpz_class tquot(const mpz_class& a, const mpz_class& b) {
    mpz_class q;
    mpz_tdiv_q(q.get_mpz_t(), a.get_mpz_t(), b.get_mpz_t());
    return q;
}

mpz_class trem(const mpz_class& a, const mpz_class& b) {
    mpz_class r;
    mpz_tdiv_r(r.get_mpz_t(), a.get_mpz_t(), b.get_mpz_t());
    return r;
}

xgcd_result reference_xgcd(const mpz_class& x, const mpz_class& y) {
    mpz_class r0 = abs(x), r1 = y, s0 = 1, s1 = 0, q, t;
    unsigned long steps = 0;
    while (r1 != 0) {
        mpz_tdiv_qr(q.get_mpz_t(), t.get_mpz_t(), r0.get_mpz_t(), r1.get_mpz_t());
        r0 = r1;
        r1 = t;
        t = s0 + q * s1;
        s0 = s1;
        s1 = t;
        ++steps;
    }
    if (x < 0) ++steps;
    xgcd_result res;
    res.g = r0;
    res.xd = steps % 2 ? mpz_class(y - s0) : s0;
    res.yd = (r0 - x * res.xd) / y;  // exact
    return res;
}

// Euclid's last cofactor c of |x| is the one with |c| < y/(2g) (unique,
// except when y = 2g, left to the plain sequence), and its sign is the one
// the step count gives; when y divides x it is 0 and the step count alone
// decides between 0 and y.
xgcd_result derived_xgcd(const mpz_class& x, const mpz_class& y) {
    mpz_class ax = abs(x), g, s, t;
    mpz_gcdext(g.get_mpz_t(), s.get_mpz_t(), t.get_mpz_t(), ax.get_mpz_t(), y.get_mpz_t());
    if (y == 2 * g) return reference_xgcd(x, y);
    xgcd_result res;
    res.g = g;
    if (g == y) {
        res.xd = x >= 0 ? y : mpz_class(0);
    } else {
        mpz_class m = y / g, cx;
        mpz_mod(s.get_mpz_t(), s.get_mpz_t(), m.get_mpz_t());
        if (2 * s > m) s -= m;
        cx = x < 0 ? mpz_class(-s) : s;
        res.xd = cx >= 0 ? cx : mpz_class(y + cx);
    }
    res.yd = (g - x * res.xd) / y;
    return res;
}

std::vector<std::pair<std::string, long long>>& tallies() {
    static std::vector<std::pair<std::string, long long>> t;
    return t;
}

void context::tally(const char* path) {
    for (auto& [name, count] : tallies())
        if (name == path) {
            ++count;
            return;
        }
    tallies().push_back({path, 1});
}

}  // namespace oracle
