// Differential checking of the engine against GMP.
//
// Each engine routine with a mathematical result has one or more "routines"
// in its module's family table: a function that runs one case (draws
// operands, calls the engine, computes the answer with GMP, compares). The
// runner in oracle_main.cpp walks the families and calls them with a
// per-case seed derived from the run's master seed, so every failure prints
// the one line that replays it.
//
// GMP is an oracle only: nothing in the product links it. Values cross
// between the two worlds word by word (to_mpz / set_number), without using
// any engine routine, so a fault in the engine cannot hide in the
// conversion.
#ifndef TORVANE_TESTS_VERIFY_ORACLE_H
#define TORVANE_TESTS_VERIFY_ORACLE_H

#include <gmpxx.h>

#include <cstdint>
#include <string>
#include <vector>

#include "internal.h"

namespace oracle {

// ---- Random numbers -------------------------------------------------------

// splitmix64: small, fast and good enough to draw test operands; every case
// owns one, seeded from the case seed.
class rng {
public:
    explicit rng(std::uint64_t seed) : s_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::uint32_t word() { return static_cast<std::uint32_t>(next() >> 32); }
    // Uniform in [0, n), n > 0.
    std::uint64_t below(std::uint64_t n) { return next() % n; }
    // Uniform in [lo, hi].
    std::int64_t range(std::int64_t lo, std::int64_t hi) {
        return lo + static_cast<std::int64_t>(below(static_cast<std::uint64_t>(hi - lo) + 1));
    }
    bool chance(int percent) { return below(100) < static_cast<std::uint64_t>(percent); }
    bool coin() { return (next() & 1) != 0; }

private:
    std::uint64_t s_;
};

std::uint64_t mix(std::uint64_t a, std::uint64_t b);
std::uint64_t hash_name(const char* name);

// ---- Operand sizes --------------------------------------------------------

// Length classes in words; every routine reaches each class in every run
// (its first cases go through them in turn).
inline constexpr int size_class_count = 8;
struct size_class { int lo, hi; };
extern const size_class size_classes[size_class_count];

// How often a routine meets each class: linear routines meet them evenly,
// the costlier ones meet the largest sizes less often.
enum class profile { linear, quadratic, heavy };

// ---- One case -------------------------------------------------------------

class context {
public:
    context(const char* routine, std::uint64_t seed, int forced_class, mr_state* state);

    rng r;
    mr_state* const state;

    // Length in words (1..max_words) drawn for this routine's profile; the
    // first draw of a case honours the forced class (clipped to max_words).
    int pick_length(profile p, int max_words);
    // A structured or random magnitude of exactly `words` words (top word
    // non-zero), sometimes a power of two or its neighbour.
    mpz_class magnitude(int words);
    // A value of up to max_words words: zero, +-1 and small specials now and
    // then, else a magnitude of a drawn length with a random sign.
    mpz_class operand(profile p, int max_words, bool allow_negative = true);
    // A random int32 including the extremes.
    std::int32_t small_int();

    // What is being checked, for the failure report: the call form and the
    // operand values.
    void form(std::string text) { form_ = std::move(text); }
    void note(const std::string& name, const mpz_class& v);
    void note(const std::string& name, long long v);
    void note_text(const std::string& name, const std::string& text) { notes_.push_back({name, text}); }

    // Checks. Each returns true when it holds; the first failure of a case
    // prints the report (seed, form, operands, what differed).
    bool value(const char* what, const bignum* got, const mpz_class& want);
    bool integer(const char* what, long long got, long long want);
    bool truth(const char* what, bool ok);
    // The engine's error state: `code` (0: none) must be recorded, the trace
    // must be back at depth 0. The error is then cleared for the next call.
    bool error(int code);
    bool no_error() { return error(0); }

    // Counts how often a path of the routine was taken (printed by
    // --verbose), so that a run shows its error and edge paths were reached.
    void tally(const char* path);

    bool failed() const { return failed_; }
    const std::string& report() const { return report_; }

private:
    void fail(const std::string& what);

    std::string routine_;
    std::uint64_t seed_;
    int forced_class_;
    bool first_length_ = true;
    std::string form_;
    std::vector<std::pair<std::string, std::string>> notes_;
    bool failed_ = false;
    std::string report_;
};

// ---- Values between the engine and GMP ------------------------------------

mpz_class to_mpz(const bignum* x);
// Writes v into x word by word; v must fit in x's room of max_length words.
void set_number(bignum* x, const mpz_class& v);
// Number of 32-bit words of |v|.
int words_of(const mpz_class& v);
// A length where an algorithm changes: `threshold` words, or twice or four
// times that (the next levels of a recursion), give or take two; at least
// 1 and at most max_words.
int near_threshold(rng& r, int threshold, int max_words);
// Short printable form: decimal when small, else hexadecimal with the
// middle elided.
std::string show(const mpz_class& v);
// Empty when x is well formed (top word non-zero, zero unsigned, words
// above the length zero up to `room`), else what is wrong.
std::string malformed(const bignum* x, int room);

// The engine's numbers that the cases use, made once: room max_length.
inline constexpr int pool_size = 10;
bignum* pool(int i);
// Frees the pool; the engine is released after it.
void release_pool();

// Truncating division as the engine defines it; GMP's tdiv_* agree.
mpz_class tquot(const mpz_class& a, const mpz_class& b);
mpz_class trem(const mpz_class& a, const mpz_class& b);

// ---- References --------------------------------------------------------

// What xgcd(x, y, xd, yd, z) gives for y > 0: the GCD, and Euclid's last
// cofactor of |x| made non-negative (y - |c| when the step count says it is
// negative, x's sign counting as one step), with yd = (g - x*xd) / y.
//   reference_xgcd runs the remainder sequence itself, one GMP division a
//   step; derived_xgcd gets the same from GMP's gcdext for long operands.
struct xgcd_result {
    mpz_class g, xd, yd;
};
xgcd_result reference_xgcd(const mpz_class& x, const mpz_class& y);
xgcd_result derived_xgcd(const mpz_class& x, const mpz_class& y);

// ---- Families ---------------------------------------------------------------

// One routine's cases: `run` checks one case; `share` is its relative number
// of cases within its family.
struct routine {
    const char* name;
    void (*run)(context&);
    double share;
};

// The routines of one engine module. Each family_*.cpp defines one; the
// runner (oracle_main.cpp) walks the table of all of them.
struct family {
    const char* name;
    std::vector<routine> routines;
};

extern const family gcd_family;
extern const family modexp_family;
extern const family montgomery_family;
extern const family muldiv_family;
extern const family powers_family;
extern const family primality_family;
extern const family primitives_family;
extern const family text_family;

// Path counts of the routine being run, by path name.
std::vector<std::pair<std::string, long long>>& tallies();

}  // namespace oracle

#endif
