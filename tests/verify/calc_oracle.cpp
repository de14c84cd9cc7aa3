// The calculator against GMP, end to end through the dialog's entry points.
//
//   torvane_calc_oracle --cases N [--seed S]
//   torvane_calc_oracle --replay SEED
//
// The memory window stands where the real one would: each case clears
// everything, types random operand values into the fields in random bases
// (as a user would: pastes with separators, prefixes, padding, leading
// zeros, blanks before the sign, a sign typed after a 0; now and then first
// a paste with stray characters, refused whole, or one stray key), switches
// the base, presses one of the fifteen operation buttons and now and then
// TO X, CL or a further base switch.
// After every action all six fields, all six registers and the status line
// are compared with a model of the calculator that computes with GMP:
// parse and render of the eight bases, every operation's checks in order
// with its refusal messages, and the core's rules that
//   - Ans and B change only when an operation succeeds,
//   - a field the user empties holds 0, a zero register empties its field
//     in base 256 (where an empty X is 0 for a press), TO X renders X from
//     the register,
//   - a pasted text is a number of the base or refused whole, naming its
//     first stray character; an operand over 65530 bits is told at once;
//     a base-256 field cut at a zero byte is named in the status; base
//     switches and CL replace older notices,
//   - an engine error shows the engine's message and changes nothing,
//   - operand registers are never changed by an operation (B excepted),
// The operations themselves are GMP's own answers (mpz_powm, mpz_gcd,
// mpz_rootrem, mpz_invert, mpz_fac_ui); where the calculator departs from
// plain integer arithmetic, the rule is listed once, with its reason, above
// compute().
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "calc.h"
#include "dialog.h"
#include "memory_window.h"
#include "oracle.h"

using oracle::rng;

namespace {

constexpr int field_ids[6] = {1000, 1001, 1002, 1003, 1005, 1006};
enum { X, Y, Z, A, B, ANS };
constexpr int status_id = 1007;
constexpr int bases[8] = {2, 8, 10, 16, 36, 60, 64, 256};

int radio_of(int base) {
    switch (base) {
        case 2: return 1013;
        case 8: return 1014;
        case 10: return 1015;
        case 16: return 1016;
        case 36: return 1018;
        case 60: return 1017;
        case 64: return 1019;
        default: return 1020;
    }
}

struct operation {
    int opcode;
    int button;
    const char* name;
};
const operation operations[15] = {
    {1, 1039, "X+Y"},           {2, 1040, "X-Y"},           {3, 1041, "X*Y"},
    {4, 1042, "X/Y"},           {5, 1043, "X^n"},           {6, 1044, "X^(1/n)"},
    {7, 1046, "X^Y MOD Z"},     {8, 1045, "Ans =Y/X MOD Z"}, {9, 1050, "GCD(X,Y)"},
    {10, 1049, "X!"},           {11, 1053, "Prime(X)"},     {12, 1047, "(AX+BY)%Z"},
    {13, 1051, "X*Y*Z*A*B"},    {14, 1048, "X^A*Y^B MOD Z"}, {16, 1052, "X^A+Y^B+Z"},
};

// ---- Text forms of the eight bases ------------------------------------------

const char base64_chars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::vector<unsigned char> magnitude_bytes(const mpz_class& v) {
    std::vector<unsigned char> out;
    if (v == 0) return out;
    std::size_t n = (mpz_sizeinbase(v.get_mpz_t(), 2) + 7) / 8;
    out.resize(n);
    mpz_export(out.data(), &n, 1, 1, 0, 0, v.get_mpz_t());
    out.resize(n);
    return out;
}

std::string base64_of(const std::vector<unsigned char>& b) {
    std::string s;
    std::size_t i = 0;
    for (; i + 3 <= b.size(); i += 3) {
        unsigned v = (b[i] << 16) | (b[i + 1] << 8) | b[i + 2];
        for (int k = 18; k >= 0; k -= 6) s += base64_chars[(v >> k) & 63];
    }
    if (b.size() - i == 1) {
        s += base64_chars[b[i] >> 2];
        s += base64_chars[(b[i] & 3) << 4];
    } else if (b.size() - i == 2) {
        s += base64_chars[b[i] >> 2];
        s += base64_chars[((b[i] & 3) << 4) | (b[i + 1] >> 4)];
        s += base64_chars[(b[i + 1] & 15) << 2];
    }
    return s;
}

// The field text of a register: what rendering in `base` must show.
std::string render(const mpz_class& v, int base) {
    if (base <= 60) return v.get_str(base <= 36 ? -base : base);
    if (base == 64) {
        if (v == 0) return "AA";
        // Base 64 has no sign of its own: a negative value shows a "-" in
        // front of the base-64 form of its magnitude.
        return (v < 0 ? "-" : "") + base64_of(magnitude_bytes(abs(v)));
    }
    std::string s;
    for (unsigned char ch : magnitude_bytes(abs(v))) {
        if (ch == 0) break;  // the field's text ends at a zero byte
        s += static_cast<char>(ch);
    }
    return s;
}

bool digit_of_base(unsigned char ch, int base) {
    if (base == 64) return std::strchr(base64_chars, ch) != nullptr && ch != 0;
    if (base == 16) return std::isxdigit(ch) != 0;
    if (base == 36) return (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'Z');
    if (base == 60) return (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'x');
    return ch >= '0' && ch < '0' + base;
}

// The value a field's (filtered) text reads as.
mpz_class value_of_text(const std::string& f, int base) {
    mpz_class v = 0;
    if (base == 256) {
        for (unsigned char ch : f) {
            if (ch == 0) break;
            v = v * 256 + ch;
        }
        return v;
    }
    if (base == 64) {
        // Groups of four after an optional leading "-"; decoding ends at the
        // first character outside the alphabet; a lone last character of a
        // group adds nothing.
        const bool minus = !f.empty() && f[0] == '-';
        std::vector<int> vals;
        for (unsigned char ch : f.substr(minus ? 1 : 0)) {
            const char* p = std::strchr(base64_chars, ch);
            if (p == nullptr || ch == 0) break;
            vals.push_back(static_cast<int>(p - base64_chars));
        }
        std::vector<unsigned char> bytes;
        std::size_t i = 0;
        for (; i + 4 <= vals.size(); i += 4) {
            bytes.push_back(static_cast<unsigned char>(vals[i] * 4 + vals[i + 1] / 16));
            bytes.push_back(static_cast<unsigned char>((vals[i + 1] % 16) * 16 + vals[i + 2] / 4));
            bytes.push_back(static_cast<unsigned char>((vals[i + 2] % 4) * 64 + vals[i + 3]));
        }
        std::size_t left = vals.size() - i;
        if (left >= 2) bytes.push_back(static_cast<unsigned char>(vals[i] * 4 + vals[i + 1] / 16));
        if (left == 3) bytes.push_back(static_cast<unsigned char>((vals[i + 1] % 16) * 16 + vals[i + 2] / 4));
        for (unsigned char b : bytes) v = v * 256 + b;
        return minus ? mpz_class(-v) : v;
    }
    bool negative = !f.empty() && f[0] == '-';
    std::string digits = f.substr(negative ? 1 : 0);
    if (digits.empty()) return 0;
    mpz_set_str(v.get_mpz_t(), digits.c_str(), base);
    return negative ? mpz_class(-v) : v;
}

int words(const mpz_class& v) { return oracle::words_of(v); }
long bits(const mpz_class& v) { return v == 0 ? 0 : static_cast<long>(mpz_sizeinbase(v.get_mpz_t(), 2)); }

bool separator(unsigned char ch) { return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n' || ch == '_'; }

// A text brought in whole (a paste) as the calculator must read it: the
// separators anywhere; then zeros and one "-" as the sign; then zeros and,
// in bases 2, 8 and 16, a prefix 0b, 0o or 0x right behind a 0; then the
// digits, and in base 64 "=" padding to the end. True with `kept` (sign and
// digits); false with `bad` the first character that is none of these.
bool strict_read(const std::string& t, int base, std::string& kept, unsigned char& bad) {
    kept = t;
    if (base == 256) return true;
    std::vector<std::pair<unsigned char, std::size_t>> seq;  // characters and where they stood
    for (std::size_t i = 0; i < t.size(); ++i)
        if (!separator(static_cast<unsigned char>(t[i]))) seq.push_back({static_cast<unsigned char>(t[i]), i});
    const unsigned char zero = base == 64 ? 'A' : '0';
    std::size_t k = 0;
    while (k < seq.size() && seq[k].first == zero) ++k;
    std::string out;
    std::size_t from = 0;
    if (k < seq.size() && seq[k].first == '-') {
        out = "-";
        from = k + 1;
    }
    const char letter = base == 16 ? 'x' : base == 8 ? 'o' : base == 2 ? 'b' : 0;
    std::size_t z = from;
    while (z < seq.size() && seq[z].first == '0') ++z;
    if (letter != 0 && z > from && z < seq.size() && std::tolower(seq[z].first) == letter &&
        seq[z].second == seq[z - 1].second + 1) {
        out += std::string(z - 1 - from, '0');
        from = z + 1;
    }
    for (std::size_t i = from; i < seq.size(); ++i) {
        const unsigned char ch = seq[i].first;
        if (base == 64 && ch == '=') {
            for (std::size_t j = i; j < seq.size(); ++j) {
                if (seq[j].first != '=') {
                    bad = seq[j].first;
                    return false;
                }
            }
            break;
        }
        if (!digit_of_base(ch, base)) {
            bad = ch;
            return false;
        }
        out += static_cast<char>(ch);
    }
    kept = out;
    return true;
}

// Why a character is no part of a number of the base, as the status says.
std::string refusal_reason(unsigned char ch, int base) {
    if (ch == '-') return "'-' is a sign only in front of the digits.";
    char name[16];
    if (ch > 0x20 && ch < 0x7F)
        std::snprintf(name, sizeof name, "'%c'", ch);
    else
        std::snprintf(name, sizeof name, "U+%04X", ch);
    return std::string(name) + " is not a base-" + std::to_string(base) + " digit.";
}

const char* const field_names[6] = {"X", "Y", "Z", "A", "B", "Ans"};

// How often a run reached the input rules, reported at its end so that a
// change of the generators cannot silently stop reaching them.
struct reach_counts {
    long long refused_pastes = 0;
    long long zero_byte_notices = 0;
    long long base256_empty_x = 0;
};
reach_counts reached;

// Base 256 fields end at a value's first zero byte: the notice that names
// the fields of `which` (indices into the registers) so cut, or nothing.
std::string cut_notice(const mpz_class* values, std::initializer_list<int> which) {
    std::vector<std::string> parts;
    for (int i : which) {
        const std::size_t total = magnitude_bytes(abs(values[i])).size();
        std::size_t shown = 0;
        for (unsigned char ch : magnitude_bytes(abs(values[i]))) {
            if (ch == 0) break;
            ++shown;
        }
        if (shown == total) continue;
        parts.push_back(std::string(field_names[i]) + (parts.empty() ? " shows only its first " : " ") +
                        std::to_string(shown) + " of " + std::to_string(total) + (parts.empty() ? " bytes" : ""));
    }
    if (parts.empty()) return "";
    ++reached.zero_byte_notices;
    std::string notice = parts.size() == 1 ? "Zero byte: " : "Zero bytes: ";
    for (std::size_t i = 0; i < parts.size(); ++i) notice += (i > 0 ? ", " : "") + parts[i];
    return notice + (parts.size() == 1 ? "; base 16 shows it whole." : "; base 16 shows them whole.");
}

// ---- The model ------------------------------------------------------------

const int register_limit_words = 2049;

std::vector<long>& small_primes() {
    static std::vector<long> table;
    if (table.empty()) {
        mpz_class p = 2;
        while (p < 65536) {
            table.push_back(p.get_si());
            mpz_nextprime(p.get_mpz_t(), p.get_mpz_t());
        }
        table.push_back(65537);  // the table's last entry
    }
    return table;
}

// b^e mod n in 0 ... n-1 for n >= 2, any sign of b; a negative e raises
// b's inverse (which the caller has made sure exists).
mpz_class powm(const mpz_class& b, const mpz_class& e, const mpz_class& n) {
    mpz_class v;
    mpz_powm(v.get_mpz_t(), b.get_mpz_t(), e.get_mpz_t(), n.get_mpz_t());
    return v;
}

mpz_class mod_non_negative(const mpz_class& a, const mpz_class& m) {
    mpz_class r;
    mpz_mod(r.get_mpz_t(), a.get_mpz_t(), m.get_mpz_t());
    return r;
}

bool invertible(const mpz_class& x, const mpz_class& n) { return gcd(x, n) == 1; }

mpz_class factorial(unsigned long n) {
    mpz_class v;
    mpz_fac_ui(v.get_mpz_t(), n);
    return v;
}

mpz_class ipow(const mpz_class& x, unsigned long n) {
    mpz_class v;
    mpz_pow_ui(v.get_mpz_t(), x.get_mpz_t(), n);
    return v;
}

struct outcome {
    enum { nothing, refused, ok, status_only } kind = nothing;
    std::string status;  // for ok: a message in place of the bit-length line
    mpz_class ans, b;
    bool show_b = false;
};

std::string refusal(int code) {
    switch (code) {
        case 1: return "Invalid x ...\n";
        case 2: return "Invalid y ...\n";
        case 3: return "Invalid x or y ...\n";
        case 4: return "Invalid z ...\n";
        case 5: return "A*x = y (mod Z) has no answer ...\n";
        case 8: return "Over Sized ...\n";
        case 16: return "OverSized, make sure: x <= 5910 (HEX: 1716)!";
        case 96: return "Invalid A or B, make sure A, B >0 ...\n";
        case 6: return "Even root of a negative x ...\n";
        case 7: return "Factorial of a negative x ...\n";
        case 9: return "LCM too long for B, B unchanged ...\n";
    }
    return "?";
}

outcome refuse(int code) {
    outcome o;
    o.kind = outcome::refused;
    o.status = refusal(code);
    return o;
}

outcome answer(const mpz_class& ans) {
    outcome o;
    o.kind = outcome::ok;
    o.ans = ans;
    return o;
}

outcome answer2(const mpz_class& ans, const mpz_class& b) {
    outcome o = answer(ans);
    o.b = b;
    o.show_b = true;
    return o;
}

// Where the calculator departs from plain integer arithmetic (Python's
// int, pow, math.gcd), and why. Everything else in compute() is GMP's own
// answer.
//   [size]   Operands of more than 65530 bits are refused ("Over Sized"),
//            and so are products and powers whose bound, the sum of the
//            factors' bit lengths or exponent times bit length, is above
//            65530: a register holds 2049 words, and the bound is checked
//            before anything is formed. Factors and bases of 0, 1 and -1 are
//            left out of the bound (their products and powers are known to
//            fit), and a factor of 0 makes the bound 0.
//   [neg-n]  X^n with n < 0 is the engine's error (no integer answer), also
//            for bases 0, 1 and -1; X^A+Y^B+Z refuses a negative exponent.
//   [root]   X^(1/n) needs n >= 2, refuses an even root of a negative X and
//            gives the root truncated towards zero with B = X - Ans^n
//            (mpz_rootrem's root and remainder).
//   [fact]   X! is refused for X < 0 (no factorial) and X > 5910 (5911! is
//            over the size bound).
//   [mod]    The modular operations take |Z| as the modulus and refuse
//            |Z| <= 1; answers lie in 0 ... |Z|-1 also for a negative Z
//            (Python's % would give 0 ... Z+1). (AX+BY)%Z leaves the sum
//            unreduced for Z = 0.
//   [inv]    A negative exponent raises the inverse; a base without one is
//            refused ("Invalid x", or "Invalid y" for Y in X^A*Y^B MOD Z)
//            where Python raises ValueError.
//   [moddiv] Y/X MOD Z refuses |X| <= 1 and gives the least non-negative
//            solution modulo |Z|/gcd(X, Z).
//   [gcd]    GCD(X,Y) refuses |X| <= 1 or |Y| <= 1; its LCM is (X/GCD)*Y
//            with the sign of X*Y (math.lcm is never negative), and when the
//            LCM's factors have more words together than a register holds,
//            Ans still gets the GCD, B keeps its value and the status says
//            so.
outcome compute(int opcode, const mpz_class* r) {
    const mpz_class &x = r[X], &y = r[Y], &z = r[Z], &a = r[A], &b = r[B];
    const long limit = 65530;
    auto unit = [](const mpz_class& v) { return abs(v) <= 1; };
    // [size] the bound of a product: 0 with a factor 0, units count nothing.
    auto product_bits = [&](std::initializer_list<const mpz_class*> factors) {
        long total = 0;
        for (const mpz_class* f : factors) {
            if (*f == 0) return 0l;
            if (!unit(*f)) total += bits(*f);
        }
        return total;
    };
    // x^e for e >= 0; a unit base for an exponent of any length.
    auto power = [&](const mpz_class& base, const mpz_class& e) -> mpz_class {
        if (unit(base) && e != 0) return base == -1 && mpz_even_p(e.get_mpz_t()) ? mpz_class(1) : base;
        return ipow(base, e.get_ui());
    };
    for (int i = X; i <= B; ++i)
        if (bits(r[i]) > limit) return refuse(8);  // [size]
    switch (opcode) {
        case 1: return answer(x + y);
        case 2: return answer(x - y);
        case 3:
            if (product_bits({&x, &y}) > limit) return refuse(8);  // [size]
            return answer(x * y);
        case 4:
            if (y == 0) return refuse(2);
            return answer2(oracle::tquot(x, y), oracle::trem(x, y));
        case 5: {
            if (y < 0) {
                // [neg-n]: the engine's error; nothing changes.
                outcome o;
                o.kind = outcome::refused;
                o.status = "Raising integer to negative power\n";
                return o;
            }
            if (!unit(x) && y * bits(x) > limit) return refuse(8);  // [size]
            return answer(power(x, y));
        }
        case 6: {
            if (y <= 1) return refuse(2);                             // [root]
            if (x < 0 && mpz_even_p(y.get_mpz_t())) return refuse(6);  // [root]
            // The n-th root for any n above the bit length is the one for the
            // least such n of the same parity: 0 or +-1.
            mpz_class n = y;
            if (n > bits(x) + 1) {
                n = bits(x) + 1;
                if (mpz_odd_p(n.get_mpz_t()) != mpz_odd_p(y.get_mpz_t())) n += 1;
            }
            mpz_class root, rem;
            mpz_rootrem(root.get_mpz_t(), rem.get_mpz_t(), x.get_mpz_t(), n.get_ui());
            return answer2(root, rem);
        }
        case 7: {
            mpz_class m = abs(z);
            if (m <= 1) return refuse(4);                     // [mod]
            if (y < 0 && !invertible(x, m)) return refuse(1);  // [inv]
            return answer(powm(x, y, m));
        }
        case 8: {
            if (abs(x) <= 1) return refuse(1);  // [moddiv]
            mpz_class m = abs(z);
            if (m <= 1) return refuse(4);  // [mod]
            const mpz_class d = gcd(x, m);
            if (mod_non_negative(y, d) != 0) return refuse(5);
            const mpz_class md = m / d;
            if (md == 1) return answer(0);
            mpz_class inverse;
            mpz_invert(inverse.get_mpz_t(), mpz_class(x / d).get_mpz_t(), md.get_mpz_t());
            return answer(mod_non_negative(mpz_class(y / d) * inverse, md));  // [moddiv]
        }
        case 9: {
            if (abs(x) <= 1 || abs(y) <= 1) return refuse(3);  // [gcd]
            mpz_class g;
            mpz_gcd(g.get_mpz_t(), x.get_mpz_t(), y.get_mpz_t());
            const mpz_class q = x / g;  // exact
            if (words(q) + words(y) > register_limit_words) {
                outcome o = answer(g);  // [gcd]: the GCD without the LCM
                o.status = refusal(9);
                return o;
            }
            return answer2(g, q * y);  // [gcd]: the LCM with the sign of X*Y
        }
        case 10: {
            if (x < 0) return refuse(7);      // [fact]
            if (x > 5910) return refuse(16);  // [fact]
            return answer(factorial(x.get_ui()));
        }
        case 11: {
            outcome o;
            o.kind = outcome::status_only;
            if (abs(x) < 2) {
                o.status = "Are you kidding me? So small an X.";
                return o;
            }
            for (long p : small_primes())
                if (mpz_divisible_ui_p(x.get_mpz_t(), static_cast<unsigned long>(p))) {
                    if (x != p) {
                        char s[128];
                        std::snprintf(s, sizeof s, "X is NOT Prime, exactly divided by %ld (0x%lX) !", p,
                                      static_cast<unsigned long>(p));
                        o.status = s;
                    } else {
                        o.status = "X is Prime !";
                    }
                    return o;
                }
            o.status = x > 0 && mpz_probab_prime_p(x.get_mpz_t(), 40) ? "X is Prime !" : "X is NOT Prime.";
            return o;
        }
        case 12: {
            if (product_bits({&x, &a}) > limit) return refuse(8);  // [size]
            if (product_bits({&y, &b}) > limit) return refuse(8);  // [size]
            mpz_class s = a * x + b * y;
            if (z != 0) s = mod_non_negative(s, abs(z));  // [mod]
            return answer(s);
        }
        case 13:
            if (product_bits({&x, &y, &z, &a, &b}) > limit) return refuse(8);  // [size]
            return answer(x * y * z * a * b);
        case 14: {
            mpz_class m = abs(z);
            if (m <= 1) return refuse(4);                     // [mod]
            if (a < 0 && !invertible(x, m)) return refuse(1);  // [inv]
            if (b < 0 && !invertible(y, m)) return refuse(2);  // [inv]
            return answer(powm(x, a, m) * powm(y, b, m) % m);
        }
        case 16: {
            // [size] before [neg-n]: a negative exponent passes the bound.
            if ((!unit(x) && a * bits(x) > limit) || (!unit(y) && b * bits(y) > limit)) return refuse(8);
            if (a < 0 || b < 0) return refuse(96);  // [neg-n]
            return answer(power(x, a) + power(y, b) + z);
        }
    }
    return answer(0);
}

std::string bit_line(const mpz_class* r) {
    char s[256];
    std::snprintf(s, sizeof s, "Bits: x- %ld y- %ld z- %ld a- %ld b- %ld ans- %ld", bits(r[X]), bits(r[Y]),
                  bits(r[Z]), bits(r[A]), bits(r[B]), bits(r[ANS]));
    return s;
}

struct model {
    mpz_class reg[6];
    std::string field[6];
    std::string status = "Idle...\n";
    int base = 16;
};

// ---- One case -------------------------------------------------------------

class runner {
public:
    runner(memory_window& w, model& m) : w_(w), m_(m) {}

    bool failed() const { return failed_; }
    const std::string& report() const { return report_; }

    void log(const std::string& s) {
        if (log_.size() < 60) log_.push_back(s.size() > 200 ? s.substr(0, 200) + "..." : s);
    }

    // Compares the window and the registers with the model.
    void check(const char* after) {
        if (failed_) return;
        for (int i = 0; i < 6; ++i) {
            if (w_.text(field_ids[i]) != m_.field[i]) {
                fail(after, "field " + std::to_string(field_ids[i]) + " shows \"" + printable(w_.text(field_ids[i])) +
                                "\", want \"" + printable(m_.field[i]) + "\"");
                return;
            }
            mpz_class got = oracle::to_mpz(register_of(field_ids[i]));
            if (got != m_.reg[i]) {
                fail(after, "register " + std::to_string(field_ids[i]) + " holds " + oracle::show(got) + ", want " +
                                oracle::show(m_.reg[i]));
                return;
            }
        }
        if (w_.text(status_id) != m_.status)
            fail(after, "status \"" + printable(w_.text(status_id)) + "\", want \"" + printable(m_.status) + "\"");
        if (w_.checked() != radio_of(m_.base)) fail(after, "checked radio " + std::to_string(w_.checked()));
        if (engine_error() != 0) fail(after, "engine error left pending");
    }

    void switch_base(int base) {
        log("base " + std::to_string(base));
        w_.click_radio(radio_of(base));  // an automatic radio button checks itself
        dialog_command(w_, radio_of(base), notify_clicked);
        if (base != m_.base) {
            m_.base = base;
            for (int i = 0; i < 6; ++i) m_.field[i] = render(m_.reg[i], base);
            // The status speaks of the new base: which registers base 256
            // shows without their sign and which only up to a zero byte;
            // otherwise the bit lengths replace whatever it said.
            std::string notice;
            if (base == 256) {
                std::string negative;
                int count = 0;
                for (int i = 0; i < 6; ++i)
                    if (m_.reg[i] < 0) negative += std::string(count++ > 0 ? ", " : "") + field_names[i];
                if (count > 0)
                    notice = "Base 256 shows no sign: " + negative + (count == 1 ? " is negative." : " are negative.");
                const std::string cuts = cut_notice(m_.reg, {X, Y, Z, A, B, ANS});
                if (!cuts.empty()) notice += (notice.empty() ? "" : " ") + cuts;
            }
            m_.status = notice.empty() ? bit_line(m_.reg) : notice;
        }
        check("base switch");
    }

    void type(int field, const std::string& text) {
        log("type " + std::to_string(field_ids[field]) + " \"" + printable(text) + "\" (" +
            std::to_string(text.size()) + " chars)");
        // As a window does: a text of several characters comes in at once, as
        // a paste; one over the field's limit is refused whole.
        const std::string name = field_names[field];
        if (!w_.type(field_ids[field], text)) {
            dialog_command(w_, field_ids[field], notify_edit_full);
            m_.status = name + " unchanged: " + name + " takes at most 65531 characters.";
            check("typing");
            return;
        }
        const bool pasted = text.size() > 1;
        dialog_command(w_, field_ids[field], pasted ? notify_edit_pasted : notify_edit_changed);
        std::string kept;
        std::string hint;
        if (text.empty()) {
            kept = "";
        } else if (pasted) {
            unsigned char bad = 0;
            if (!strict_read(text, m_.base, kept, bad)) {
                // Refused whole: field and register as they were.
                ++reached.refused_pastes;
                m_.status = name + " unchanged: " + refusal_reason(bad, m_.base);
                check("typing");
                return;
            }
        } else {
            // One key: a digit or the sign is kept, a separator dropped,
            // anything else dropped with a hint.
            const unsigned char ch = static_cast<unsigned char>(text[0]);
            kept = m_.base == 256 || ch == '-' || digit_of_base(ch, m_.base) ? text : "";
            std::string read;
            unsigned char bad = 0;
            if (kept.empty() && !strict_read(text, m_.base, read, bad)) hint = name + ": " + refusal_reason(bad, m_.base);
        }
        const mpz_class v = value_of_text(kept, m_.base);
        if (words(v) > register_limit_words) {
            // The engine cannot hold it: the field shows its old text again.
            m_.status = "Overflow - Number too big\n";
        } else {
            m_.field[field] = kept;
            m_.reg[field] = v;
            if (bits(v) > 65530)
                m_.status = name + " has " + std::to_string(bits(v)) + " bits; operations take at most 65530.";
            else
                m_.status = hint.empty() ? bit_line(m_.reg) : hint;
        }
        check("typing");
    }

    void press(const operation& op) {
        log(std::string("click ") + std::to_string(op.button) + " " + op.name);
        dialog_command(w_, op.button, notify_clicked);
        // An empty X field does nothing, but in base 256, where it is 0.
        if (m_.field[X].empty() && m_.base == 256) ++reached.base256_empty_x;
        if (!m_.field[X].empty() || m_.base == 256) {
            outcome o = compute(op.opcode, m_.reg);
            if (o.kind == outcome::ok) {
                m_.reg[ANS] = o.ans;
                m_.field[ANS] = render(o.ans, m_.base);
                if (o.show_b) {
                    m_.reg[B] = o.b;
                    m_.field[B] = render(o.b, m_.base);
                }
                std::string status = o.status;
                if (m_.base == 256) {
                    const std::string cuts =
                        o.show_b ? cut_notice(m_.reg, {B, ANS}) : cut_notice(m_.reg, {ANS});
                    if (!cuts.empty()) status += (status.empty() ? "" : " ") + cuts;
                }
                m_.status = status.empty() ? bit_line(m_.reg) : status;
            } else {
                m_.status = o.status;
            }
        }
        check(op.name);
    }

    void to_x() {
        log("click 1068 TO X");
        dialog_command(w_, 1068, notify_clicked);
        m_.reg[X] = m_.reg[ANS];
        m_.field[X] = render(m_.reg[X], m_.base);
        m_.status = "Answer copied to X.";
        if (m_.base == 256) {
            const std::string cuts = cut_notice(m_.reg, {X});
            if (!cuts.empty()) m_.status += " " + cuts;
        }
        check("TO X");
    }

    void clear(int field) {
        static const int cl[6] = {1061, 1062, 1063, 1064, 1065, 1067};
        log("click " + std::to_string(cl[field]) + " CL");
        dialog_command(w_, cl[field], notify_clicked);
        m_.reg[field] = 0;
        m_.field[field] = "";
        m_.status = bit_line(m_.reg);
        check("CL");
    }

    void clear_all() {
        log("click 1060 CLEAR ALL");
        dialog_command(w_, 1060, notify_clicked);
        for (int i = 0; i < 6; ++i) {
            m_.reg[i] = 0;
            m_.field[i] = "";
        }
        m_.status = "ALL Cleared.";
        check("CLEAR ALL");
    }

    // Enter in the expression line with `text`: the model's register
    // `target` receives `value`, or, for a target of -1, nothing changes
    // but the status, which shows `message`.
    void expression(const std::string& text, int target, const mpz_class& value, const std::string& message) {
        log("eval \"" + printable(text) + "\" (" + std::to_string(text.size()) + " chars)");
        dialog_expression(w_, text);
        if (target >= 0) {
            m_.reg[target] = value;
            m_.field[target] = render(value, m_.base);
            const std::string cuts = m_.base == 256 ? cut_notice(m_.reg, {target}) : std::string();
            m_.status = cuts.empty() ? bit_line(m_.reg) : cuts;
        } else {
            m_.status = message;
        }
        check("expression");
    }

    static std::string printable(const std::string& s) {
        std::string out;
        for (unsigned char ch : s.substr(0, 120)) {
            if (ch >= 32 && ch < 127 && ch != '\\') {
                out += static_cast<char>(ch);
            } else {
                char e[8];
                std::snprintf(e, sizeof e, ch == '\n' ? "\\n" : "\\x%02X", ch);
                out += e;
            }
        }
        if (s.size() > 120) out += "...";
        return out;
    }

private:
    void fail(const char* after, const std::string& what) {
        failed_ = true;
        report_ = std::string("after ") + after + ": " + what + "\n  registers (model):";
        static const char* names[6] = {"X", "Y", "Z", "A", "B", "Ans"};
        // TORVANE_ORACLE_FULL=1 prints whole values, for working a failure by hand.
        const bool full = std::getenv("TORVANE_ORACLE_FULL") != nullptr;
        for (int i = 0; i < 6; ++i)
            report_ += std::string("\n    ") + names[i] + " = " + (full ? m_.reg[i].get_str(16) : oracle::show(m_.reg[i]));
        report_ += "\n  actions:";
        for (auto& l : log_) report_ += "\n    " + l;
    }

    memory_window& w_;
    model& m_;
    bool failed_ = false;
    std::string report_;
    std::vector<std::string> log_;
};

// ---- Operands -------------------------------------------------------------

mpz_class random_bits_value(rng& r, long long nbits) {
    if (nbits <= 0) return 0;
    mpz_class v = 0;
    long long words_needed = (nbits + 31) / 32;
    std::vector<std::uint32_t> w(static_cast<std::size_t>(words_needed));
    int style = static_cast<int>(r.below(6));
    for (auto& x : w) x = style == 0 ? 0xFFFFFFFFu : style == 1 ? (r.coin() ? 0u : 0xFFFFFFFFu) : r.word();
    mpz_import(v.get_mpz_t(), w.size(), -1, 4, 0, 0, w.data());
    v >>= static_cast<unsigned long>(words_needed * 32 - nbits);
    mpz_setbit(v.get_mpz_t(), static_cast<unsigned long>(nbits - 1));
    return v;
}

// A general operand: small specials, sizes spread log-uniformly up to the
// operand bound, the bound itself and one bit past it.
mpz_class general(rng& r, long long max_bits = 65530) {
    mpz_class v;
    int k = static_cast<int>(r.below(100));
    if (k < 12) {
        static const long specials[] = {0, 1, 2, 3, 5, 7, 12, 18, 65537, 65536, 255, 256};
        v = specials[r.below(12)];
    } else if (k < 14 && max_bits >= 65530) {
        v = random_bits_value(r, r.coin() ? 65530 : 65531);
    } else {
        double u = static_cast<double>(r.below(1u << 20)) / (1u << 20);
        long long nb = static_cast<long long>(std::pow(static_cast<double>(max_bits), u));
        v = random_bits_value(r, nb < 1 ? 1 : nb);
    }
    if (r.coin()) v = -v;
    return v;
}

mpz_class small_value(rng& r, long lo, long hi) { return mpz_class(static_cast<long>(r.range(lo, hi))); }

// 0, 1 or -1: a factor or base whose products and powers need no bound.
mpz_class unit_value(rng& r) { return small_value(r, -1, 1); }

// An operand at or near the bound, of either sign.
mpz_class longest(rng& r) {
    mpz_class v = random_bits_value(r, r.chance(50) ? 65530 : r.range(60000, 65530));
    return r.coin() ? v : mpz_class(-v);
}

// Modulus and exponent sizes whose exponentiation stays cheap.
mpz_class modulus_value(rng& r) {
    long long nb = r.chance(70) ? r.range(2, 256) : r.range(2, r.chance(10) ? 65530 : 4096);
    mpz_class m = random_bits_value(r, nb);
    if (r.chance(15)) m = small_value(r, -3, 3);
    if (r.coin()) m = -m;
    return m;
}

mpz_class exponent_value(rng& r, const mpz_class& m) {
    long long k = words(m) > 0 ? words(m) : 1;
    long long budget_bits = (1ll << r.range(10, 20)) / (k * k + 64);
    if (budget_bits < 2) budget_bits = 2;
    mpz_class e = random_bits_value(r, r.range(1, budget_bits));
    if (r.chance(10)) e = small_value(r, 0, 3);
    if (r.chance(15)) e = -e;
    return e;
}

// Operand values for one operation; the rest stay 0 after CLEAR ALL or get
// small random values.
void operands(rng& r, int opcode, mpz_class* v, bool* set) {
    for (int i = X; i <= B; ++i) set[i] = r.chance(30);
    for (int i = X; i <= B; ++i) v[i] = set[i] ? general(r, 600) : mpz_class(0);
    auto use = [&](int i, const mpz_class& value) {
        v[i] = value;
        set[i] = true;
    };
    switch (opcode) {
        case 1: case 2: case 3:
            use(X, general(r));
            use(Y, r.chance(10) ? mpz_class(r.coin() ? v[X] : mpz_class(-v[X])) : general(r));
            if (r.chance(15)) {
                // The longest operands times a unit.
                use(X, longest(r));
                use(Y, unit_value(r));
                if (r.coin()) std::swap(v[X], v[Y]);
            }
            break;
        case 4: {
            use(Y, r.chance(8) ? mpz_class(0) : general(r));
            mpz_class x = general(r);
            if (r.chance(30) && v[Y] != 0) x = v[Y] * general(r, 30000) + small_value(r, -2, 2);
            use(X, x);
            break;
        }
        case 5:
            use(X, r.chance(50) ? small_value(r, -20, 20) : general(r, 4096));
            use(Y, r.chance(10) ? general(r, 40) : small_value(r, -3, bits(v[X]) == 0 ? 5000 : 70000 / bits(v[X])));
            if (r.chance(15)) {
                // A unit base to an exponent of any length and sign.
                use(X, unit_value(r));
                use(Y, general(r));
            }
            break;
        case 6:
            use(X, general(r));
            use(Y, r.chance(15) ? small_value(r, -2, 1) : r.chance(15) ? mpz_class(bits(v[X]) + r.range(-1, 3))
                                                                     : small_value(r, 2, 12));
            if (r.chance(25) && v[Y] >= 2 && v[Y] <= 12) {
                // A perfect power and its neighbours.
                long n = v[Y].get_si();
                mpz_class root = random_bits_value(r, r.range(1, 65000 / n));
                if (r.coin()) root = -root;
                use(X, ipow(root, static_cast<unsigned long>(n)) + small_value(r, -1, 1));
            }
            break;
        case 7:
            use(Z, modulus_value(r));
            use(X, r.chance(10) ? small_value(r, -3, 3) : general(r));
            use(Y, exponent_value(r, v[Z]));
            break;
        case 8: {
            use(Z, modulus_value(r));
            mpz_class m = abs(v[Z]);
            use(X, r.chance(10) ? small_value(r, -1, 1) : general(r, 4096));
            if (r.chance(50) && m > 1) {
                // A congruence that has an answer, with Y inside or outside 0 ... |Z|-1.
                mpz_class ans = random_bits_value(r, r.range(1, bits(m)));
                use(Y, ans * v[X] + m * small_value(r, -3, 3));
            } else {
                use(Y, general(r, 4096));
            }
            break;
        }
        case 9: {
            mpz_class g = r.chance(50) ? general(r, 20000) : mpz_class(1);
            use(X, g * general(r, 20000));
            use(Y, g * general(r, 20000));
            if (r.chance(10)) use(Y, small_value(r, -1, 1));
            if (r.chance(15)) {
                // Operands so long that their LCM may not fit a register.
                const mpz_class h = r.coin() ? mpz_class(1) : general(r, 2000);
                for (int i : {X, Y}) {
                    const mpz_class v0 = h * random_bits_value(r, r.range(30000, 65530 - bits(h)));
                    use(i, r.coin() ? v0 : mpz_class(-v0));
                }
            }
            break;
        }
        case 10:
            use(X, r.chance(90) ? small_value(r, -5911, 5911) : general(r));
            break;
        case 11: {
            mpz_class x;
            int k = static_cast<int>(r.below(6));
            if (k == 0) {
                x = small_value(r, -2, 70000);
            } else if (k == 1) {
                mpz_nextprime(x.get_mpz_t(), random_bits_value(r, r.range(17, 600)).get_mpz_t());
            } else if (k == 2) {
                mpz_class p, q;
                mpz_nextprime(p.get_mpz_t(), random_bits_value(r, r.range(17, 300)).get_mpz_t());
                mpz_nextprime(q.get_mpz_t(), random_bits_value(r, r.range(17, 300)).get_mpz_t());
                x = p * q;
            } else {
                // A large X with a factor from the table; the divisions find it.
                x = general(r, 65000) * small_primes()[r.below(small_primes().size())];
                if (x == 0) x = 4;
            }
            if (r.chance(10)) x = -x;
            use(X, x);
            break;
        }
        case 12:
            use(A, general(r));
            use(X, general(r));
            use(B, general(r));
            use(Y, general(r));
            use(Z, r.chance(10) ? mpz_class(0) : general(r));
            if (r.chance(15)) {
                // Unit coefficients of the longest operands.
                use(X, longest(r));
                use(A, unit_value(r));
            }
            if (r.chance(15)) {
                use(Y, longest(r));
                use(B, unit_value(r));
            }
            break;
        case 13:
            for (int i = X; i <= B; ++i) use(i, general(r, r.chance(50) ? 16000 : 65530));
            if (r.chance(25)) {
                // One long factor, the others mostly units.
                for (int i = X; i <= B; ++i) use(i, r.chance(85) ? unit_value(r) : general(r, 64));
                use(static_cast<int>(r.below(5)), longest(r));
            }
            break;
        case 14:
            use(Z, modulus_value(r));
            use(X, general(r));
            use(Y, general(r));
            use(A, exponent_value(r, v[Z]));
            use(B, exponent_value(r, v[Z]));
            break;
        case 16:
            use(X, r.chance(20) ? small_value(r, -1, 1) : general(r, 2000));
            use(Y, r.chance(20) ? small_value(r, -1, 1) : general(r, 2000));
            use(A, r.chance(10) ? small_value(r, -2, 2) : small_value(r, 0, 70000 / (bits(v[X]) + 1)));
            use(B, r.chance(10) ? small_value(r, -2, 2) : small_value(r, 0, 70000 / (bits(v[Y]) + 1)));
            // Unit bases to exponents of any length.
            if (r.chance(20) && abs(v[X]) <= 1) use(A, general(r));
            if (r.chance(20) && abs(v[Y]) <= 1) use(B, general(r));
            use(Z, general(r));
            break;
    }
}

// The text a user types for v in `base`, with the clutter users add.
std::string typed_text(rng& r, const mpz_class& v, int base, bool clutter = false) {
    std::string t;
    if (base == 256) {
        for (unsigned char ch : magnitude_bytes(abs(v))) t += static_cast<char>(ch == 0 ? 1 + r.below(255) : ch);
        return t;
    }
    if (base == 64) {
        t = v == 0 && r.coin() ? std::string("AA") : base64_of(magnitude_bytes(abs(v)));
        if (v < 0 && r.chance(50)) t.insert(0, "-");
        if (r.chance(20)) t += t.size() % 4 == 2 ? "==" : "=";
        if (r.chance(10) && !t.empty()) t.insert(r.below(t.size()), "\r\n");
    } else {
        t = v.get_str(base <= 36 ? -base : base);
        if (base == 16 && r.chance(30))
            for (auto& ch : t)
                if (ch >= 'A' && ch <= 'F' && r.coin()) ch = static_cast<char>(ch - 'A' + 'a');
        if (r.chance(10)) t.insert(t[0] == '-' ? 1 : 0, std::string(static_cast<std::size_t>(r.range(1, 4)), '0'));
        const char* prefix = base == 16 ? (r.coin() ? "0x" : "0X") : base == 8 ? "0o" : base == 2 ? "0b" : nullptr;
        if (prefix != nullptr && r.chance(10)) t.insert(t[0] == '-' ? 1 : 0, prefix);
        if (r.chance(5)) t.insert(0, std::string(static_cast<std::size_t>(r.range(1, 2)), '0'));  // typed after a 0
        if (r.chance(10)) {
            // Separators anywhere, blanks before the sign included.
            static const char separators[] = " _\n\t";
            const int n = static_cast<int>(r.range(1, 4));
            for (int k = 0; k < n; ++k) t.insert(r.below(t.size() + 1), 1, separators[r.below(sizeof separators - 1)]);
        }
    }
    if (clutter) {
        // Stray characters a paste may bring: separators of other writings,
        // a "-" inside, letters that are no digits of the base.
        static const char stray[] = ",.-+zZ?=e";
        const int n = static_cast<int>(r.range(1, 3));
        for (int k = 0; k < n; ++k) {
            char ch = stray[r.below(sizeof stray - 1)];
            if (base == 60 && (ch == 'z' || ch == 'Z' || ch == 'e')) ch = '?';
            if (base == 36 && ch == 'Z') ch = 'z';
            if (base == 64 && (ch == 'z' || ch == 'Z' || ch == 'e' || ch == '+')) ch = ',';
            t.insert(r.below(t.size() + 1), 1, ch);
        }
    }
    return t;
}

// ---- Expressions ------------------------------------------------------------
//
// A random expression tree (depth up to 6, every operator and function,
// literals in the four notations with separators, registers in any case,
// redundant parentheses and blanks), written out as text with the place of
// every node, evaluated by GMP by the rules below and through the dialog's
// expression entry point; the status line must carry the same value or the
// same message, column included.
//
// Rules of the language, checked against plain integer arithmetic:
//   / and % truncate towards zero (mpz_tdiv_q, mpz_tdiv_r); x^-n is an
//   integer only for x = +-1 (0^-n is a division by zero); 0^0 = 1;
//   powmod and inv answer in 0 ... |m|-1 (Python's pow(a, e, |m|)), with a
//   negative e raising the inverse; gcd and lcm are non-negative; root
//   truncates towards zero and refuses an even root of a negative number
//   and an index below 1; isprime is Prime(X)'s verdict. Every value is
//   held to 65530 bits.

struct enode {
    enum kind_t { lit, reg, neg, pos, add, sub, mul, div, mod, pow, fact,
                  f_gcd, f_lcm, f_powmod, f_inv, f_root, f_sqrt, f_abs, f_bits, f_isprime } kind;
    mpz_class value;  // lit
    int index = 0;    // reg: index into the registers
    std::vector<int> kids;
    bool stars = false;  // pow written **
    int start = 0, end = 0, at = 0;  // the node's own text and its operator
};

int level_of(const enode& n) {
    switch (n.kind) {
        case enode::add: case enode::sub: return 1;
        case enode::mul: case enode::div: case enode::mod: return 2;
        case enode::neg: case enode::pos: return 3;
        case enode::pow: return 4;
        case enode::fact: return 5;
        default: return 6;
    }
}

class expression_case {
public:
    expression_case(rng& r, const mpz_class* regs) : r_(r), regs_(regs) {}

    // Builds a tree of at most `depth` levels and its text.
    void build(int depth) {
        root_ = node(depth);
        if (r_.chance(15)) {
            target_ = static_cast<int>(r_.below(5));
            static const char* names[5] = {"X", "Y", "Z", "A", "B"};
            text_ += r_.coin() ? names[target_] : std::string(1, static_cast<char>(names[target_][0] + 32));
            text_ += r_.coin() ? " = " : "=";
        }
        blanks();
        render(root_);
        blanks();
    }

    const std::string& text() const { return text_; }
    int target() const { return target_; }

    // GMP's value of the tree, or false with the status message.
    bool evaluate(mpz_class& value, std::string& message) {
        const bool ok = eval(root_, value);
        message = message_;
        return ok;
    }

private:
    // ---- The tree ----
    int add_node(enode n) {
        pool_.push_back(std::move(n));
        return static_cast<int>(pool_.size() - 1);
    }

    mpz_class literal_value(long long max_bits) {
        const int k = static_cast<int>(r_.below(100));
        if (k < 25) return mpz_class(static_cast<long>(r_.range(0, 20)));
        if (k < 55) return random_bits_value(r_, r_.range(1, 64));
        if (k < 85) return random_bits_value(r_, r_.range(1, std::min<long long>(max_bits, 2048)));
        if (k < 90 && max_bits >= 65530) return random_bits_value(r_, 65530);
        return random_bits_value(r_, r_.range(1, max_bits));
    }

    int leaf(long long max_bits = 65530) {
        enode n;
        if (r_.chance(30)) {
            n.kind = enode::reg;
            n.index = static_cast<int>(r_.below(6));
        } else {
            n.kind = enode::lit;
            n.value = literal_value(max_bits);
        }
        return add_node(std::move(n));
    }

    // A literal of at most max_bits bits, where a register could be longer.
    int literal_leaf(long long max_bits) {
        enode n;
        n.kind = enode::lit;
        n.value = literal_value(max_bits);
        return add_node(std::move(n));
    }

    // A small value: a literal below 2^bits, now and then signed or a sum.
    int small(int bits_max) {
        enode n;
        n.kind = enode::lit;
        n.value = random_bits_value(r_, r_.range(1, bits_max));
        if (r_.chance(10)) n.value = static_cast<long>(r_.range(0, 3));
        const int k = add_node(std::move(n));
        if (r_.chance(15)) {
            enode s;
            s.kind = enode::neg;
            s.kids = {k};
            return add_node(std::move(s));
        }
        if (r_.chance(10)) {
            enode s;
            s.kind = enode::add;
            s.kids = {k, leaf(8)};
            return add_node(std::move(s));
        }
        return k;
    }

    int with_kids(enode::kind_t kind, std::vector<int> kids) {
        enode n;
        n.kind = kind;
        n.kids = std::move(kids);
        n.stars = kind == enode::pow && r_.chance(20);
        return add_node(std::move(n));
    }

    int literal(long v) {
        enode n;
        n.kind = enode::lit;
        n.value = v;
        return add_node(std::move(n));
    }

    // The boundaries of the size rule, and the units of the power rule.
    int special() {
        switch (r_.below(9)) {
            case 0: return with_kids(enode::pow, {literal(2), literal(r_.coin() ? 65529 : 65530)});
            case 1: return with_kids(enode::pow, {literal(3), literal(r_.coin() ? 41344 : 41345)});
            case 2: return with_kids(enode::fact, {literal(r_.coin() ? 5910 : 5911)});
            case 3: return with_kids(enode::pow, {literal(0), literal(0)});
            case 4: return with_kids(enode::pow, {literal(static_cast<long>(r_.range(0, 1))), with_kids(enode::neg, {literal(static_cast<long>(r_.range(1, 3)))})});
            case 5: return with_kids(enode::pow, {with_kids(enode::neg, {literal(static_cast<long>(r_.range(1, 2)))}),
                                                  with_kids(enode::neg, {literal(static_cast<long>(r_.range(1, 3)))})});
            case 6: return with_kids(enode::sub, {with_kids(enode::pow, {literal(2), literal(44497)}), literal(1)});
            case 7: {
                // A power just under or over the limit, of a base of many bits.
                const long b = static_cast<long>(r_.range(3, 200));
                const long n = static_cast<long>(65530.0 / std::log2(static_cast<double>(b)) + static_cast<double>(r_.range(-2, 2)));
                return with_kids(enode::pow, {literal(b), literal(n)});
            }
            default: return with_kids(enode::mul, {literal(0), leaf()});
        }
    }

    int node(int depth) {
        if (depth <= 1 || r_.chance(20)) return r_.chance(5) ? special() : leaf();
        const int d = depth - 1;
        switch (r_.below(20)) {
            case 0: return with_kids(enode::add, {node(d), node(d)});
            case 1: return with_kids(enode::sub, {node(d), node(d)});
            case 2: return with_kids(enode::mul, {node(d), node(d)});
            case 3: return with_kids(enode::div, {node(d), r_.chance(10) ? literal(0) : node(d)});
            case 4: return with_kids(enode::mod, {node(d), r_.chance(10) ? literal(0) : node(d)});
            case 5: return with_kids(enode::neg, {node(d)});
            case 6: return with_kids(enode::pos, {node(d)});
            case 7: return with_kids(enode::pow, {node(d), small(r_.chance(80) ? 5 : 17)});
            case 8: return with_kids(enode::fact, {r_.chance(80) ? small(9) : node(d)});
            case 9: return with_kids(enode::f_gcd, {node(d), node(d)});
            case 10: return with_kids(enode::f_lcm, {node(d), node(d)});
            case 11: {
                // Exponents and moduli whose power stays cheap (literals: a
                // register may have 65530 bits).
                const int m = r_.chance(10) ? small(2) : literal_leaf(r_.chance(90) ? 512 : 4096);
                return with_kids(enode::f_powmod, {node(d), r_.chance(80) ? small(64) : literal_leaf(1024), m});
            }
            case 12: return with_kids(enode::f_inv, {node(d), r_.chance(10) ? small(2) : leaf(2048)});
            case 13: return with_kids(enode::f_root, {node(d), r_.chance(90) ? small(4) : node(d)});
            case 14: return with_kids(enode::f_sqrt, {node(d)});
            case 15: return with_kids(enode::f_abs, {node(d)});
            case 16: return with_kids(enode::f_bits, {node(d)});
            case 17: return with_kids(enode::f_isprime, {r_.chance(70) ? literal_leaf(96) : small(40)});
            default: return leaf();
        }
    }

    // ---- The text ----
    void blanks() {
        if (!r_.chance(25)) return;
        const int n = static_cast<int>(r_.range(1, 2));
        for (int k = 0; k < n; ++k) text_ += r_.chance(15) ? '\t' : ' ';
    }

    std::string literal_text(const mpz_class& v) {
        static const int bases[4] = {10, 16, 2, 8};
        const int base = bases[r_.chance(50) ? 0 : r_.below(4)];
        std::string digits = v.get_str(base);
        if (base == 16 && r_.coin())
            for (char& c : digits)
                if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
        if (r_.chance(10)) digits.insert(0, std::string(static_cast<std::size_t>(r_.range(1, 3)), '0'));
        if (r_.chance(20)) {
            // Separators between digits.
            std::string spaced;
            for (std::size_t i = 0; i < digits.size(); ++i) {
                if (i > 0 && r_.chance(10)) spaced += '_';
                spaced += digits[i];
            }
            digits = spaced;
        }
        const char* prefix = base == 16 ? "0x" : base == 2 ? "0b" : base == 8 ? "0o" : "";
        std::string t = prefix;
        if (!t.empty() && r_.coin()) t[1] = static_cast<char>(t[1] - 32);
        return t + digits;
    }

    static std::string cased(const char* name, rng& r) {
        std::string s = name;
        const int how = static_cast<int>(r.below(3));
        for (char& c : s) {
            if (how == 1 && c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
            if (how == 2 && c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        }
        return s;
    }

    struct outer {
        int start, end;
    };

    // A child where the grammar takes level `min` or tighter: parenthesized
    // when it binds looser, and now and then when it need not be.
    outer child(int k, int min) {
        if (level_of(pool_[static_cast<std::size_t>(k)]) >= min && !r_.chance(8)) return render(k);
        const int open = static_cast<int>(text_.size());
        text_ += '(';
        blanks();
        render(k);
        blanks();
        text_ += ')';
        return {open, static_cast<int>(text_.size())};
    }

    outer render(int k) {
        const int start = static_cast<int>(text_.size());
        // pool_ may grow no more here; references stay valid.
        enode& n = pool_[static_cast<std::size_t>(k)];
        n.at = start;
        static const char* functions[] = {"gcd", "lcm", "powmod", "inv", "root", "sqrt", "abs", "bits", "isprime"};
        switch (n.kind) {
            case enode::lit: text_ += literal_text(n.value); break;
            case enode::reg: text_ += cased(field_names[n.index], r_); break;
            case enode::neg:
            case enode::pos: {
                text_ += n.kind == enode::neg ? '-' : '+';
                blanks();
                child(n.kids[0], 3);
                break;
            }
            case enode::add: case enode::sub: case enode::mul: case enode::div: case enode::mod: {
                const int lv = level_of(n);
                const outer left = child(n.kids[0], lv);
                blanks();
                n.at = static_cast<int>(text_.size());
                text_ += "+-*/%"[n.kind - enode::add];
                blanks();
                child(n.kids[1], lv + 1);
                n.start = left.start;
                n.end = static_cast<int>(text_.size());
                return {n.start, n.end};
            }
            case enode::pow: {
                const outer base = child(n.kids[0], 5);
                blanks();
                n.at = static_cast<int>(text_.size());
                text_ += n.stars ? "**" : "^";
                blanks();
                child(n.kids[1], 3);
                n.start = base.start;
                n.end = static_cast<int>(text_.size());
                return {n.start, n.end};
            }
            case enode::fact: {
                const outer operand = child(n.kids[0], 6);
                blanks();
                n.at = static_cast<int>(text_.size());
                text_ += '!';
                n.start = operand.start;
                n.end = static_cast<int>(text_.size());
                return {n.start, n.end};
            }
            default: {
                text_ += cased(functions[n.kind - enode::f_gcd], r_);
                blanks();
                text_ += '(';
                for (std::size_t i = 0; i < n.kids.size(); ++i) {
                    if (i > 0) text_ += ',';
                    blanks();
                    child(n.kids[i], 1);
                    blanks();
                }
                text_ += ')';
                break;
            }
        }
        n.start = start;
        n.end = static_cast<int>(text_.size());
        return {n.start, n.end};
    }

    // ---- GMP's evaluation ----
    bool fail(const std::string& what, int at, bool note) {
        message_ = "Expression: " + what + (note ? " (column " : " at column ") + std::to_string(at + 1) + (note ? ")" : "");
        return false;
    }
    // The node's text with blanks shortened, or `fallback` beyond 40 characters.
    std::string text_of(const enode& n, const char* fallback) const {
        std::string out;
        bool blank = false;
        for (int i = n.start; i < n.end; ++i) {
            const char c = text_[static_cast<std::size_t>(i)];
            if (c == ' ' || c == '\t') {
                blank = true;
                continue;
            }
            if (blank && !out.empty()) out += ' ';
            blank = false;
            out += c;
        }
        return out.size() > 40 ? fallback : out;
    }
    bool too_long(const enode& n, const char* fallback) {
        return fail(text_of(n, fallback) + " has more than 65530 bits", n.at, true);
    }
    static std::string short_decimal(const mpz_class& v) { return bits(v) <= 64 ? v.get_str(10) : std::string(); }

    bool eval(int k, mpz_class& v) {
        const enode& n = pool_[static_cast<std::size_t>(k)];
        std::vector<mpz_class> a(n.kids.size());
        for (std::size_t i = 0; i < n.kids.size(); ++i)
            if (!eval(n.kids[i], a[i])) return false;
        switch (n.kind) {
            case enode::lit: v = n.value; return true;
            case enode::reg: v = regs_[n.index]; return bits(v) <= 65530 || too_long(n, "the register");
            case enode::neg: v = -a[0]; return true;
            case enode::pos: v = a[0]; return true;
            case enode::add: v = a[0] + a[1]; return bits(v) <= 65530 || too_long(n, "the sum");
            case enode::sub: v = a[0] - a[1]; return bits(v) <= 65530 || too_long(n, "the difference");
            case enode::mul: v = a[0] * a[1]; return bits(v) <= 65530 || too_long(n, "the product");
            case enode::div:
            case enode::mod: {
                if (a[1] == 0) return fail("division by zero", divisor_at(n), false);
                if (n.kind == enode::div)
                    mpz_tdiv_q(v.get_mpz_t(), a[0].get_mpz_t(), a[1].get_mpz_t());
                else
                    mpz_tdiv_r(v.get_mpz_t(), a[0].get_mpz_t(), a[1].get_mpz_t());
                return true;
            }
            case enode::pow: {
                const mpz_class& x = a[0];
                const mpz_class& e = a[1];
                if (e < 0) {
                    if (x == 0) return fail("division by zero", n.at, false);
                    if (abs(x) != 1) return fail(text_of(n, "the power") + " is not an integer", n.at, true);
                    v = x < 0 && mpz_odd_p(e.get_mpz_t()) ? -1 : 1;
                    return true;
                }
                if (abs(x) <= 1) {
                    v = e == 0 ? mpz_class(1) : x < 0 && mpz_even_p(e.get_mpz_t()) ? mpz_class(1) : x;
                    return true;
                }
                if (e >= 65530) return too_long(n, "the power");
                const unsigned long ne = e.get_ui();
                if (static_cast<double>(ne) * static_cast<double>(bits(x) - 1) + 1 > 65530) return too_long(n, "the power");
                v = ipow(x, ne);
                return bits(v) <= 65530 || too_long(n, "the power");
            }
            case enode::fact:
                if (a[0] < 0) return fail("factorial of a negative number", n.at, false);
                if (a[0] > 5910) return too_long(n, "the factorial");
                v = factorial(a[0].get_ui());
                return true;
            case enode::f_gcd: v = gcd(a[0], a[1]); return true;
            case enode::f_lcm:
                v = a[0] == 0 || a[1] == 0 ? mpz_class(0) : mpz_class(abs(a[0] / gcd(a[0], a[1]) * a[1]));
                return bits(v) <= 65530 || too_long(n, "the lcm");
            case enode::f_powmod:
            case enode::f_inv: {
                const mpz_class& m0 = a.back();
                if (m0 == 0) return fail("modulus 0", n.at, false);
                const mpz_class m = abs(m0);
                if (m == 1) {
                    v = 0;
                    return true;
                }
                mpz_class t = mod_non_negative(a[0], m);
                const bool inverse = n.kind == enode::f_inv || a[1] < 0;
                if (inverse) {
                    if (!invertible(t, m)) {
                        const std::string x = short_decimal(a[0]), mm = short_decimal(m);
                        return fail(!x.empty() && !mm.empty() ? x + " has no inverse modulo " + mm : "no inverse exists", n.at, true);
                    }
                    mpz_invert(t.get_mpz_t(), t.get_mpz_t(), m.get_mpz_t());
                }
                if (n.kind == enode::f_inv) {
                    v = t;
                    return true;
                }
                const mpz_class e = abs(a[1]);
                v = e == 0 ? mpz_class(1) : powm(t, e, m);
                return true;
            }
            case enode::f_root:
            case enode::f_sqrt: {
                const mpz_class& x = a[0];
                const mpz_class idx = n.kind == enode::f_sqrt ? mpz_class(2) : a[1];
                if (idx <= 0) return fail("root index must be 1 or more", n.at, true);
                if (x < 0 && mpz_even_p(idx.get_mpz_t())) return fail("even root of a negative number", n.at, false);
                if (idx >= bits(x) || x == 0) {
                    v = x == 0 ? 0 : x < 0 ? -1 : 1;
                    return true;
                }
                mpz_class m = abs(x);
                mpz_root(v.get_mpz_t(), m.get_mpz_t(), idx.get_ui());
                if (x < 0) v = -v;
                return true;
            }
            case enode::f_abs: v = abs(a[0]); return true;
            case enode::f_bits: v = bits(a[0]); return true;
            case enode::f_isprime: {
                const mpz_class& x = a[0];
                v = 0;
                if (x < 2) return true;
                for (long p : small_primes())
                    if (mpz_divisible_ui_p(x.get_mpz_t(), static_cast<unsigned long>(p))) {
                        v = x == p ? 1 : 0;
                        return true;
                    }
                v = mpz_probab_prime_p(x.get_mpz_t(), 30) > 0 ? 1 : 0;
                return true;
            }
        }
        return false;
    }

    // The divisor's first character: the first after the operator that is
    // no blank.
    int divisor_at(const enode& n) const {
        int at = n.at + 1;
        while (text_[static_cast<std::size_t>(at)] == ' ' || text_[static_cast<std::size_t>(at)] == '\t') ++at;
        return at;
    }

    rng& r_;
    const mpz_class* regs_;
    std::vector<enode> pool_;
    int root_ = 0;
    int target_ = -1;  // -1: Ans
    std::string text_;
    std::string message_;
};

struct expression_reach {
    long long values = 0, errors = 0, assignments = 0;
    std::map<std::string, long long> messages;  // by kind of error
};
expression_reach expression_reached;

bool run_expression_case(memory_window& w, model& m, std::uint64_t seed, std::string& report) {
    rng r(seed);
    runner run(w, m);
    for (int b : bases)
        if (radio_of(b) == w.checked()) m.base = b;
    run.switch_base(16);
    run.clear_all();
    // Registers X ... B, now and then long.
    for (int i = X; i <= B && !run.failed(); ++i) {
        if (!r.chance(60)) continue;
        run.switch_base(bases[r.below(8)]);
        const mpz_class v = r.chance(10) ? longest(r) : general(r, 2048);
        if (!run.failed()) run.type(i, typed_text(r, v, m.base));
    }
    if (!run.failed() && r.chance(30)) {
        // Ans from an operation, for the name Ans.
        run.press(operations[0]);
    }
    if (!run.failed()) run.switch_base(bases[r.below(8)]);
    for (int round = 0; round < 2 && !run.failed(); ++round) {
        expression_case e(r, m.reg);
        e.build(static_cast<int>(r.range(1, 6)));
        mpz_class value;
        std::string message;
        const bool ok = e.evaluate(value, message);
        if (ok) {
            ++expression_reached.values;
            if (e.target() >= 0) ++expression_reached.assignments;
        } else {
            ++expression_reached.errors;
            static const char* const kinds[] = {"has more than 65530 bits", "division by zero", "is not an integer",
                                                "factorial of a negative", "modulus 0", "inverse", "root index",
                                                "even root"};
            for (const char* kind : kinds)
                if (message.find(kind) != std::string::npos) ++expression_reached.messages[kind];
        }
        run.expression(e.text(), ok ? (e.target() >= 0 ? e.target() : ANS) : -1, value, message);
    }
    if (run.failed()) {
        char head[64];
        std::snprintf(head, sizeof head, "FAIL case seed 0x%016llx ", static_cast<unsigned long long>(seed));
        report = head + run.report() + "\n  replay: torvane_calc_oracle --expressions --replay " + std::to_string(seed);
        return false;
    }
    return true;
}

// Operations the run draws from (all fifteen unless --ops names some).
std::vector<int>& op_choice() {
    static std::vector<int> ops;
    return ops;
}

const char* last_operation = "";

bool run_case(memory_window& w, model& m, std::uint64_t seed, std::string& report) {
    rng r(seed);
    runner run(w, m);
    // Every case starts alike, in base 16 with every field empty, so that its
    // seed alone replays it (after a failed case the model takes the
    // window's base again first).
    for (int b : bases)
        if (radio_of(b) == w.checked()) m.base = b;
    run.switch_base(16);
    run.clear_all();
    int op_index = static_cast<int>(r.below(15));
    if (!op_choice().empty()) op_index = op_choice()[r.below(op_choice().size())];
    const operation& op = operations[op_index];
    last_operation = op.name;
    mpz_class v[5];
    bool set[5];
    operands(r, op.opcode, v, set);
    run.log(std::string("operation ") + op.name);
    for (int i = X; i <= B && !run.failed(); ++i) {
        if (!set[i]) continue;
        run.switch_base(bases[r.below(8)]);
        // Now and then a paste with stray characters (refused whole, unless
        // they happen to make a number) or one stray key first.
        if (!run.failed() && r.chance(8)) run.type(i, typed_text(r, v[i], m.base, true));
        if (!run.failed() && r.chance(4)) run.type(i, std::string(1, "a.-x 5Z,"[r.below(8)]));
        if (!run.failed()) run.type(i, typed_text(r, v[i], m.base));
    }
    if (!run.failed() && r.chance(3)) run.type(X, "");  // an empty X: the press does nothing
    if (!run.failed()) run.switch_base(bases[r.below(8)]);
    if (!run.failed()) run.press(op);
    if (!run.failed() && r.chance(20)) run.switch_base(bases[r.below(8)]);
    if (!run.failed() && r.chance(10)) run.to_x();
    if (!run.failed() && r.chance(5)) run.clear(static_cast<int>(r.below(6)));
    if (!run.failed() && r.chance(10)) {
        // A second press on whatever the registers now hold: only operations
        // whose cost the size checks bound (no modular powers, no Prime).
        static const int cheap[] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 11, 12, 14};
        run.press(operations[cheap[r.below(12)]]);
    }
    if (run.failed()) {
        char head[64];
        std::snprintf(head, sizeof head, "FAIL case seed 0x%016llx ", static_cast<unsigned long long>(seed));
        report = head + run.report() + "\n  replay: torvane_calc_oracle --replay " + std::to_string(seed);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    long long cases = 1000, first = 0;
    std::uint64_t seed = 20261208;
    bool replay = false;
    bool expressions = false;
    int max_failures = 10;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--cases" && i + 1 < argc) {
            cases = std::atoll(argv[++i]);
        } else if (a == "--seed" && i + 1 < argc) {
            seed = std::strtoull(argv[++i], nullptr, 0);
        } else if (a == "--first" && i + 1 < argc) {
            // Start at case K of the run (the cases before it are skipped).
            first = std::atoll(argv[++i]);
        } else if (a == "--ops" && i + 1 < argc) {
            // A comma-separated list of opcodes, to work on one operation.
            std::string list = argv[++i];
            for (std::size_t p = 0; p < list.size();) {
                int opcode = std::atoi(list.c_str() + p);
                for (int k = 0; k < 15; ++k)
                    if (operations[k].opcode == opcode) op_choice().push_back(k);
                p = list.find(',', p);
                if (p == std::string::npos) break;
                ++p;
            }
        } else if (a == "--expressions") {
            // The expression line's cases instead of the buttons'.
            expressions = true;
        } else if (a == "--replay" && i + 1 < argc) {
            seed = std::strtoull(argv[++i], nullptr, 0);
            replay = true;
        } else {
            std::fprintf(stderr, "usage: torvane_calc_oracle [--cases N] [--seed S] [--ops OPCODES] [--first K] [--expressions] | [--expressions] --replay CASESEED\n");
            return 2;
        }
    }
    memory_window w;
    dialog_initialise(w);
    model m;
    for (int i = 0; i < 6; ++i) m.field[i] = w.text(field_ids[i]);
    long long passed = 0, failed = 0;
    auto start = std::chrono::steady_clock::now();
    if (replay) {
        std::string report;
        bool ok = expressions ? run_expression_case(w, m, seed, report) : run_case(w, m, seed, report);
        if (!ok) std::printf("%s\n", report.c_str());
        std::printf("%d passed, %d failed\n", ok ? 1 : 0, ok ? 0 : 1);
        return ok ? 0 : 1;
    }
    std::printf("torvane_calc_oracle: seed %llu, %lld cases\n", static_cast<unsigned long long>(seed), cases);
    for (long long k = first; k < cases; ++k) {
        std::string report;
        auto t0 = std::chrono::steady_clock::now();
        const std::uint64_t case_seed = oracle::mix(seed, static_cast<std::uint64_t>(k));
        const bool ok = expressions ? run_expression_case(w, m, case_seed, report) : run_case(w, m, case_seed, report);
        double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (took > 1.0)
            std::printf("slow case seed %llu (%s): %.1f s\n", static_cast<unsigned long long>(case_seed), last_operation,
                        took);
        if (ok) {
            ++passed;
        } else {
            ++failed;
            std::printf("%s\n  (case %lld of the run with seed %llu; the run from --first %lld on repeats it)\n",
                        report.c_str(), k, static_cast<unsigned long long>(seed), k);
            std::fflush(stdout);
            if (failed >= max_failures) break;
        }
    }
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("torvane_calc_oracle: %lld cases in %.1f s, seed %llu\n", passed + failed, secs,
                static_cast<unsigned long long>(seed));
    std::printf("reached: %lld refused pastes, %lld zero-byte notices, %lld presses with an empty X in base 256\n",
                reached.refused_pastes, reached.zero_byte_notices, reached.base256_empty_x);
    if (expressions) {
        std::printf("expressions: %lld values (%lld assigned), %lld errors:", expression_reached.values,
                    expression_reached.assignments, expression_reached.errors);
        for (const auto& [kind, count] : expression_reached.messages) std::printf(" [%s] %lld", kind.c_str(), count);
        std::printf("\n");
    }
    std::printf("%lld passed, %lld failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
