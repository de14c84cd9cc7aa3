// Text conversion against GMP: cotstr and cinstr in every base from 2 to
// 256, with decorated input (blanks, signs, leading zeros, lower case, a
// line feed that ends the text), malformed input, text too long for the
// engine, and the engine's own text buffer with its overflow rule.
//
// Up to base 60 the digits are 0-9, A-Z, a-x; GMP writes the same digits
// (upper case asked for below base 37, its 0-9A-Za-z alphabet above). Above
// base 60 a digit is one raw byte, big-endian, without sign; GMP has no such
// form, so the expected bytes come from repeated GMP division by a power of
// the base.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "oracle.h"
#include "thresholds.h"

using namespace oracle;

namespace {

// Digit values of |v| in base b, most significant first; empty for zero.
std::vector<unsigned> digits_of(const mpz_class& v, unsigned b) {
    std::vector<unsigned> out;
    if (v == 0) return out;
    // Chunks of k digits: b^k is the largest power of b below 2^64.
    unsigned long chunk = b;
    int k = 1;
    while (chunk <= ~0ul / b) {
        chunk *= b;
        ++k;
    }
    mpz_class m = abs(v);
    std::vector<unsigned long> chunks;
    while (m != 0) chunks.push_back(mpz_tdiv_q_ui(m.get_mpz_t(), m.get_mpz_t(), chunk));
    for (std::size_t i = chunks.size(); i-- > 0;) {
        unsigned d[70];
        unsigned long c = chunks[i];
        for (int j = k - 1; j >= 0; --j) {
            d[j] = static_cast<unsigned>(c % b);
            c /= b;
        }
        int start = 0;
        if (i + 1 == chunks.size())
            while (start < k - 1 && d[start] == 0) ++start;
        out.insert(out.end(), d + start, d + k);
    }
    return out;
}

// The value of digit values in base b, most significant first.
mpz_class value_of(const std::vector<unsigned>& digits, unsigned b) {
    mpz_class v = 0;
    for (unsigned d : digits) {
        v *= b;
        v += d;
    }
    return v;
}

const char alnum[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwx";

// The text cotstr must write for v in base b.
std::string expected_text(const mpz_class& v, unsigned b) {
    if (b <= 60) {
        std::string s = v.get_str(b <= 36 ? -static_cast<int>(b) : static_cast<int>(b));
        return s;
    }
    std::string s;
    for (unsigned d : digits_of(v, b)) s.push_back(static_cast<char>(d));
    return s;
}

unsigned pick_base(context& c) {
    static const unsigned calculator_bases[] = {2, 8, 10, 16, 36, 60, 256};
    // Bases whose word radix is far from and near to 2^31, and the largest
    // one-byte base that is no power of two.
    static const unsigned split_bases[] = {3, 10, 36, 60, 255};
    switch (c.r.below(5)) {
        case 0: return calculator_bases[c.r.below(7)];
        case 4: return split_bases[c.r.below(5)];
        case 1: return static_cast<unsigned>(c.r.range(2, 60));
        case 2: return static_cast<unsigned>(c.r.range(61, 256));
        default: return static_cast<unsigned>(c.r.range(2, 256));
    }
}

bool radix_restored(context& c) {
    const mr_state* s = c.state;
    return c.truth("the working radix is restored (digit_base 0, external_base 16, 8 digits a word)",
                   s->digit_base == 0 && s->external_base == 16 && s->digits_per_word == 8);
}

std::vector<char>& big_buffer() {
    static std::vector<char> b(200000);
    return b;
}

// A value of up to max_words words; now and then of a length where the
// change of radix starts to split (threshold words, or twice or four times).
mpz_class text_operand(context& c, int threshold, int max_words) {
    if (!c.r.chance(20)) return c.operand(profile::quadratic, max_words);
    mpz_class v = c.magnitude(near_threshold(c.r, threshold, max_words));
    return c.r.coin() ? mpz_class(-v) : v;
}

// Digits of base b in one word of the radix the engine converts text of
// that base in: b^k, the largest power of b up to 2^31.
int digits_per_word(unsigned b) {
    int k = 0;
    for (unsigned long long p = 1; p * b <= 0x80000000ull; p *= b) ++k;
    return k;
}

// The number of base-b digits of a value that takes a word count near a
// multiple of `threshold` in words of b^k (the change of radix counts its
// splits in those words when it reads, and sets its smallest power from
// them when it writes); at most max_words full words.
long radix_word_digits(context& c, unsigned b, int threshold, int max_words) {
    const int k = digits_per_word(b);
    const int m = near_threshold(c.r, threshold, 4 * threshold + 2);
    long digits = static_cast<long>(m) * k - static_cast<long>(c.r.below(static_cast<unsigned>(k)));
    const long most = static_cast<long>(32.0 * max_words / std::log2(static_cast<double>(b)));
    return std::max(1L, std::min(digits, most));
}

// A value of exactly `digits` base-b digits.
mpz_class value_of_digits(context& c, unsigned b, long digits) {
    mpz_class low, span;
    mpz_ui_pow_ui(low.get_mpz_t(), b, static_cast<unsigned long>(digits - 1));
    span = low * (b - 1);
    mpz_class v = low + mpz_class(c.magnitude(static_cast<int>(mpz_sizeinbase(span.get_mpz_t(), 2) / 32 + 2)) % span);
    return c.r.coin() ? mpz_class(-v) : v;
}

// A value whose low base-b digits are a short number under a run of
// zeros: x = hi b^e + lo, lo of about text_split_out_words words. The
// splits of x by powers of b then leave remainders as short as lo, down to
// below the smallest power the conversion made.
mpz_class zero_run_value(context& c, unsigned b, int max_words) {
    const long most = static_cast<long>(32.0 * max_words / std::log2(static_cast<double>(b)));
    const mpz_class lo = c.magnitude(near_threshold(c.r, text_split_out_words, 2 * text_split_out_words));
    const long lo_digits = static_cast<long>(mpz_sizeinbase(lo.get_mpz_t(), b));
    if (most <= lo_digits + 2) return lo;
    const long e = c.r.range(lo_digits + 1, most - 1);
    mpz_class power;
    mpz_ui_pow_ui(power.get_mpz_t(), b, static_cast<unsigned long>(e));
    const mpz_class hi = abs(value_of_digits(c, b, c.r.range(1, most - e)));
    const mpz_class v = hi * power + lo;
    return c.r.coin() ? mpz_class(-v) : v;
}

void run_cotstr(context& c) {
    const int L = c.state->max_length;
    unsigned b = pick_base(c);
    mpz_class x = c.r.chance(10)   ? value_of_digits(c, b, radix_word_digits(c, b, text_split_in_words, L))
                  : c.r.chance(10) ? zero_run_value(c, b, L)
                                   : text_operand(c, text_split_out_words, L);
    // Now and then write into the engine's own buffer, whose last five
    // characters are never used: a longer text stops with error 17.
    bool own = c.r.chance(15);
    if (own) {
        int size = c.r.coin() ? 65535 : static_cast<int>(c.r.range(6, 3000));
        if (c.state->io_buffer_size != size) set_io_buffer_size(size);
    }
    c.form(std::string("cotstr(x, ") + (own ? "io_buffer" : "text") + ") in base " + std::to_string(b));
    c.note("x", x);
    bignum* px = pool(0);
    set_number(px, x);
    c.state->io_base = static_cast<int>(b);
    char* text = own ? c.state->io_buffer : big_buffer().data();
    int n = cotstr(px, text);
    std::string want = expected_text(x, b);
    int capacity = own ? c.state->io_buffer_size - 5 : 1 << 30;
    if (own && static_cast<int>(want.size()) > capacity && x != 0) {
        c.tally("io_buffer overflow (error 17)");
        if (!c.error(17)) return;
        c.integer("count written before the overflow", n, capacity);
        c.truth("the characters written before the overflow",
                std::memcmp(text, want.data(), static_cast<std::size_t>(capacity)) == 0);
        radix_restored(c);
        return;
    }
    if (!c.no_error()) return;
    c.integer("count", n, static_cast<long long>(want.size()));
    if (n == static_cast<int>(want.size()))
        c.truth("text", std::memcmp(text, want.data(), want.size()) == 0 && text[n] == 0);
    c.value("x after the call", px, x);
    radix_restored(c);
}

// A text for cinstr in base b and the value it stands for; `bad` receives
// whether the text holds a character that is no digit.
std::string input_text(context& c, unsigned b, mpz_class& v, bool& bad, int& measured) {
    const int L = c.state->max_length;
    bad = false;
    std::string s;
    if (b > 60) {
        // Raw digit bytes; a zero byte would end the text, so digits are 1..b-1.
        int words = c.r.chance(20) ? near_threshold(c.r, text_split_in_words, L)
                                   : c.pick_length(profile::quadratic, L + (c.r.chance(3) ? 3 : 0));
        double bits_per = std::log2(static_cast<double>(b));
        long count = static_cast<long>(32.0 * words / bits_per);
        if (c.r.chance(10)) count = radix_word_digits(c, b, text_split_in_words, L);
        if (count < 1) count = 1;
        if (c.r.chance(10)) count = c.r.range(0, 3);
        std::vector<unsigned> d(static_cast<std::size_t>(count));
        for (auto& x : d) x = static_cast<unsigned>(c.r.range(1, b - 1));
        if (c.r.chance(5) && count > 0) d[c.r.below(d.size())] = 10;  // a line feed is a digit here
        v = value_of(d, b);
        for (unsigned x : d) s.push_back(static_cast<char>(x));
        if (b < 256 && count > 0 && c.r.chance(5)) {
            s[c.r.below(s.size())] = static_cast<char>(c.r.range(b, 255));
            bad = true;
        }
        measured = static_cast<int>(s.size());
        return s;
    }
    v = c.r.chance(10) ? value_of_digits(c, b, radix_word_digits(c, b, text_split_in_words, L))
                       : text_operand(c, text_split_in_words, L);
    if (c.r.chance(2)) {  // too long for the engine
        v = c.magnitude(L + static_cast<int>(c.r.range(1, 2)));
        if (c.r.coin()) v = -v;
    } else if (c.r.chance(1)) {
        // Up to the 2 max_length radix words that reading takes before it
        // refuses: the largest change of radix there is.
        const int k = digits_per_word(b);
        v = value_of_digits(c, b, (2L * L - c.r.range(0, 2)) * k - c.r.range(0, k - 1));
    }
    std::string digits = mpz_class(abs(v)).get_str(b <= 36 ? -static_cast<int>(b) : static_cast<int>(b));
    if (c.r.chance(20)) digits = std::string(static_cast<std::size_t>(c.r.range(1, 5)), '0') + digits;
    if (b <= 16 && c.r.chance(30))
        for (auto& ch : digits)
            if (ch >= 'A' && ch <= 'Z' && c.r.coin()) ch = static_cast<char>(ch - 'A' + 'a');
    if (c.r.chance(15)) s.append(static_cast<std::size_t>(c.r.range(1, 3)), ' ');
    if (v < 0) s += '-';
    if (c.r.chance(15)) s += '+';
    s += digits;
    measured = static_cast<int>(s.size());
    if (c.r.chance(10)) {
        s += '\n';  // ends the text; what follows is not read
        s += c.r.coin() ? "12" : "-?";
    }
    if (c.r.chance(6)) {
        // A character that is no digit of the base, among the digits or where a
        // blank is not allowed (after the sign, after the digits).
        static const char junk[] = " .,-+/:@[`{~";
        std::size_t at = s.size() - static_cast<std::size_t>(s.find('\n') == std::string::npos ? 0 : 3);
        std::size_t pos = static_cast<std::size_t>(c.r.below(at + 1));
        // Leading blanks are allowed: put the bad character after them.
        std::size_t first = s.find_first_not_of(' ');
        if (first != std::string::npos && pos <= first) pos = first + 1;
        if (pos > at) pos = at;
        char ch;
        switch (c.r.below(3)) {
            case 0: ch = junk[c.r.below(sizeof junk - 1)]; break;
            case 1:  // a digit character whose value is not below b
                ch = b <= 16 ? alnum[c.r.range(b, 35)] : b < 60 ? alnum[c.r.range(b, 59)] : 'y';
                break;
            default: ch = b > 16 && b <= 36 ? static_cast<char>('a' + c.r.below(26)) : 'z'; break;
        }
        if (b == 60 && ch >= 'a' && ch <= 'x') ch = 'z';
        if (b > 36 && b < 60 && ch == 'z') ch = '.';
        // A "+" or "-" right after the leading blanks would still be a sign.
        if ((ch == '+' || ch == '-') && pos <= first + 1) ch = '.';
        s.insert(pos, 1, ch);
        if (pos < static_cast<std::size_t>(measured) || pos == static_cast<std::size_t>(measured)) ++measured;
        bad = true;
    }
    if (v == 0 && !bad && c.r.chance(20)) {
        static const char* zeros[] = {"", "0", "-0", "+0", "   ", "-", "+", "-+0"};
        s = zeros[c.r.below(8)];
        measured = static_cast<int>(s.size());
    }
    return s;
}

void run_cinstr(context& c) {
    const int L = c.state->max_length;
    unsigned b = pick_base(c);
    mpz_class v;
    bool bad;
    int measured;
    std::string text = input_text(c, b, v, bad, measured);
    c.form("cinstr(x, text) in base " + std::to_string(b));
    c.note("value", v);
    c.note("text length", static_cast<long long>(text.size()));
    if (text.size() < 120) {
        std::string shown;
        for (char ch : text) {
            unsigned char u = static_cast<unsigned char>(ch);
            if (u >= 32 && u < 127) {
                shown += ch;
            } else {
                char e[8];
                std::snprintf(e, sizeof e, "\\x%02X", u);
                shown += e;
            }
        }
        c.note_text("text", "\"" + shown + "\"");
    }
    bignum* px = pool(0);
    mpz_class old = c.operand(profile::linear, 3);
    set_number(px, old);
    c.state->io_base = static_cast<int>(b);
    int n = cinstr(px, text.c_str());
    if (bad) {
        // Input format error: x unchanged, 0 returned.
        c.tally("input format error (error 5)");
        if (!c.error(5)) return;
        c.integer("count", n, 0);
        c.value("x after the error", px, old);
        radix_restored(c);
        return;
    }
    if (words_of(v) > L) {
        c.tally("too long (error 3)");
        if (!c.error(3)) return;
        c.integer("count", n, 0);
        c.value("x after the overflow", px, old);
        radix_restored(c);
        return;
    }
    if (!c.no_error()) return;
    c.integer("count", n, measured);
    c.value("x", px, v);
    radix_restored(c);
}

// cotstr then cinstr give the value back, in every base.
void run_round_trip(context& c) {
    const int L = c.state->max_length;
    unsigned b = pick_base(c);
    mpz_class x = c.r.chance(10) ? value_of_digits(c, b, radix_word_digits(c, b, text_split_in_words, L))
                                 : text_operand(c, c.r.coin() ? text_split_in_words : text_split_out_words, L);
    if (b > 60) x = abs(x);  // no sign above base 60
    c.form("cinstr(cotstr(x)) in base " + std::to_string(b));
    c.note("x", x);
    bignum *px = pool(0), *py = pool(1);
    set_number(px, x);
    set_number(py, 99);
    c.state->io_base = static_cast<int>(b);
    char* text = big_buffer().data();
    int n = cotstr(px, text);
    if (!c.no_error()) return;
    std::vector<unsigned> d = digits_of(x, b);
    bool has_zero_byte = b > 60 && std::find(d.begin(), d.end(), 0u) != d.end();
    int m = cinstr(py, text);
    if (!c.no_error()) return;
    if (has_zero_byte) return;  // the zero byte ends the text: not readable back
    c.integer("count read", m, n);
    c.value("value read back", py, x);
}

}  // namespace

const family oracle::text_family{"text", {
    {"cotstr", run_cotstr, 3},
    {"cinstr", run_cinstr, 3},
    {"text_round_trip", run_round_trip, 1},
}};
