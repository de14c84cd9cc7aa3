// Text conversion: numbers to and from text in any base from 2 to 256.
//
// Two levels. instr and otstr read and write text in the engine's current
// external base, digit by digit straight into and out of the words: a word of
// radix b^k holds k digits of base b. cinstr and cotstr handle text in io_base
// while the numbers stay in the working representation: for the length of
// one conversion they switch the digit base to the text's base with
// set_digit_base (decimal text is read and written in words of 10^9), change
// the radix of the words with cbase, and switch back.
//
// Character schemes. Up to base 60 a digit is one of "0"-"9", "A"-"Z",
// "a"-"x" (values 0-59), a negative number starts with "-", and input may
// start with blanks, a "-" and one "+"; in bases up to 16 lower-case letters
// read as upper case, above 16 they are the digits 36-61. A line feed ends
// the text. Above base 60 every byte is one digit, its code its value, there
// is no sign, and only a zero byte ends the text.
//
// Change of radix. cbase evaluates x = sum x[i]*A^i in the target radix B by
// Horner's rule from the most significant word down: y = y*A + x[i]. One step
// is a single pass over the words of y with a carry, so the whole conversion
// costs about n*m/2 word steps for n source and m target words.
//   - Into full words (B = 2^32, reading text) the step needs no division:
//     the low half of y[j]*A + carry is the new word and the high half the
//     carry. Two source words are taken at once, y = y*A^2 + (x[i]*A + x[i-1]),
//     with 128-bit products; that halves the passes.
//   - Into another radix (B <= 2^31, writing text) each step divides
//     y[j]*A + carry by B. The division is a multiplication by a reciprocal
//     of B computed once per conversion, never more than one short of the
//     quotient and about half the cost of a hardware division. Each step is
//     a chain of dependent divisions, so two steps run in one pass, the
//     second one word behind the first, and the processor overlaps them.
// Between full words and a radix B <= 2^31 these loops run on 64-bit limbs
// (two full words, or two words of radix B as one limb of radix B^2): half
// the steps of reading and a quarter of those of writing; the word loops
// remain for other pairs of radixes and for results too long for the limb
// buffer. Above a threshold the number is split by powers of B instead
// (divide and conquer, below).
// The result is built in a double-length scratch number and copied out only
// when it fits, so an overflow leaves the destination as it was.

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cmath>
#include <cstring>

#include "internal.h"
#include "text.h"
#include "workspace.h"
#include "kernels.h"
#include "multiply_divide.h"
#include "thresholds.h"

namespace {

__extension__ typedef unsigned __int128 uint128;

// The digit-base fields that one text conversion switches and restores.
struct radix_settings {
    std::uint32_t digit_base;
    std::uint32_t external_base;
    int digits_per_word;
};

radix_settings current_radix(const mr_state* s) {
    return {s->digit_base, s->external_base, s->digits_per_word};
}

void restore_radix(mr_state* s, const radix_settings& r) {
    s->digit_base = r.digit_base;
    s->external_base = r.external_base;
    s->digits_per_word = r.digits_per_word;
}

// Text bases that text conversion accepts.
bool valid_text_base(std::uint32_t base) { return base >= 2 && base <= 256; }

// The checks instr and otstr make before they touch any text: a base the
// text schemes know (error 1) and an initialised engine (error 18).
bool ready_for_text(const mr_state* s, std::uint32_t base) {
    if (!valid_text_base(base)) {
        report_error(mr_error_base_too_big);
        return false;
    }
    if (!s->initialised) {
        report_error(mr_error_not_initialised);
        return false;
    }
    return true;
}

// The most words a result may have: max_length, or twice that while
// length_check is clear (results then go to double-length scratch numbers).
int word_limit(const mr_state* s) { return s->length_check ? s->max_length : 2 * s->max_length; }

// Division by a fixed word d (2 <= d <= 2^31) of values below 2^64.
// inverse = floor((2^64 - 1) / d) is at most 2^64/d and above 2^64/d - 1,
// so the estimate floor(t*inverse / 2^64) is the quotient or one less.
class word_divisor {
public:
    explicit word_divisor(std::uint32_t d) : d_(d), inverse_(UINT64_MAX / d) {}
    std::uint64_t divide(std::uint64_t t, std::uint64_t& remainder) const {
        auto q = static_cast<std::uint64_t>((static_cast<uint128>(t) * inverse_) >> 64);
        std::uint64_t r = t - q * d_;
        if (r >= d_) {
            r -= d_;
            ++q;
        }
        remainder = r;
        return q;
    }

private:
    std::uint64_t d_;
    std::uint64_t inverse_;
};

// y = y * multiplier + carry in radix 2^32 over the first `len` words of y,
// appending words for the final carry. False when y would need more than
// `limit` words.
bool multiply_add_full(mr_digit* y, int& len, std::uint64_t multiplier, std::uint64_t carry, int limit) {
    for (int j = 0; j < len; ++j) {
        uint128 t = static_cast<uint128>(y[j]) * multiplier + carry;
        y[j] = static_cast<mr_digit>(t);
        carry = static_cast<std::uint64_t>(t >> 32);
    }
    for (; carry != 0; carry >>= 32) {
        if (len >= limit) return false;
        y[len++] = static_cast<mr_digit>(carry);
    }
    return true;
}

// y (zero on entry) = the value of x's words in radix `from`, in full words.
bool horner_to_full_words(const bignum* x, std::uint64_t from, bignum* y, int limit) {
    const mr_digit* xw = x->w;
    mr_digit* yw = y->w;
    int len = 0;
    int i = length_of(x) - 1;
    // Word pairs keep the carry within 64 bits while from^2 <= 2^62.
    if (from <= 0x80000000u) {
        if (i % 2 == 0 && !multiply_add_full(yw, len, from, xw[i--], limit)) return false;
        const std::uint64_t from2 = from * from;
        for (; i > 0; i -= 2)
            if (!multiply_add_full(yw, len, from2, xw[i] * from + xw[i - 1], limit)) return false;
    }
    for (; i >= 0; --i)
        if (!multiply_add_full(yw, len, from, xw[i], limit)) return false;
    y->len = static_cast<std::uint32_t>(len);
    return true;
}

// How a word of the target is scaled by the source radix in one Horner step:
// a shift for full words (the text routines' usual source), else a product.
struct scale_by_full_word {
    std::uint64_t operator()(std::uint64_t v) const { return v << 32; }
};
struct scale_by_radix {
    std::uint64_t radix;
    std::uint64_t operator()(std::uint64_t v) const { return v * radix; }
};

// y = y * from + carry in words of radix `to` over the first `len` words of
// y, appending words for the final carry. False when y would need more than
// `limit` words.
//
// Every word of y stays below `to`, so y[j]*from + carry stays below 2^64:
// y[j]*from < 2^63 and the carry, at most from + carry/to, below 2^33.
template <class Scale>
bool multiply_add_radix(mr_digit* y, int& len, Scale from, std::uint64_t carry, const word_divisor& divisor,
                        int limit) {
    std::uint64_t r;
    for (int j = 0; j < len; ++j) {
        carry = divisor.divide(from(y[j]) + carry, r);
        y[j] = static_cast<mr_digit>(r);
    }
    while (carry != 0) {
        if (len >= limit) return false;
        carry = divisor.divide(carry, r);
        y[len++] = static_cast<mr_digit>(r);
    }
    return true;
}

// Two Horner steps in one pass, y = (y*from + high)*from + low. Each step is
// a chain of dependent divisions; the second step runs one word behind the
// first, so the two chains overlap in the processor.
template <class Scale>
bool multiply_add_radix_twice(mr_digit* y, int& len, Scale from, std::uint64_t high, std::uint64_t low,
                              const word_divisor& divisor, int limit) {
    if (len == 0)
        return multiply_add_radix(y, len, from, high, divisor, limit) &&
               multiply_add_radix(y, len, from, low, divisor, limit);
    std::uint64_t c1 = high, c2 = low, r1, r2;
    c1 = divisor.divide(from(y[0]) + c1, r1);
    std::uint64_t pending = r1;  // first step's word j - 1, not yet through the second
    int j = 1;
    for (; j < len; ++j) {
        c1 = divisor.divide(from(y[j]) + c1, r1);
        c2 = divisor.divide(from(pending) + c2, r2);
        y[j - 1] = static_cast<mr_digit>(r2);
        pending = r1;
    }
    for (; c1 != 0; ++j) {  // the first step's carry words
        if (j >= limit) return false;
        c1 = divisor.divide(c1, r1);
        c2 = divisor.divide(from(pending) + c2, r2);
        y[j - 1] = static_cast<mr_digit>(r2);
        pending = r1;
    }
    c2 = divisor.divide(from(pending) + c2, r2);
    y[j - 1] = static_cast<mr_digit>(r2);
    for (; c2 != 0; ++j) {  // the second step's carry words
        if (j >= limit) return false;
        c2 = divisor.divide(c2, r2);
        y[j] = static_cast<mr_digit>(r2);
    }
    len = j;
    return true;
}

// y (zero on entry) = the value of x's words in radix `from` (2^32 allowed),
// in words of radix `to` (at most 2^31), two source words per pass.
template <class Scale>
bool horner_to_radix(const bignum* x, Scale from, std::uint32_t to, bignum* y, int limit) {
    const word_divisor divisor(to);
    const mr_digit* xw = x->w;
    mr_digit* yw = y->w;
    int len = 0;
    int i = length_of(x) - 1;
    if (i % 2 == 0 && !multiply_add_radix(yw, len, from, xw[i--], divisor, limit)) return false;
    for (; i > 0; i -= 2)
        if (!multiply_add_radix_twice(yw, len, from, xw[i], xw[i - 1], divisor, limit)) return false;
    y->len = static_cast<std::uint32_t>(len);
    return true;
}

// ---- Horner's rule on 64-bit limbs -------------------------------------------
//
// Between full words and a radix B <= 2^31 the loops above run on 64-bit
// limbs when the result has at most limb_horner_words words: two full words
// make one limb, two words of radix B one limb of radix B^2 (below 2^62), so
// each step covers four word steps with one limb product (reading) or one
// limb division by a reciprocal (writing). The limbs are built in a buffer
// on the stack and written out as words only when they fit.

constexpr int limb_horner_words = 1024;
constexpr int limb_horner_limbs = limb_horner_words / 2 + 1;

// Division of a 128-bit value whose high limb is below d, by a fixed d below
// 2^63, with a reciprocal of d shifted up to its top bit: one product
// estimates the quotient, one more forms the remainder, and at most two
// corrections follow.
class limb_divisor {
public:
    explicit limb_divisor(std::uint64_t d)
        : shift_(std::countl_zero(d)),
          d_(d << shift_),
          // floor((2^128 - 1) / d_) - 2^64
          v_(static_cast<std::uint64_t>(((static_cast<uint128>(~(d << shift_)) << 64) | UINT64_MAX) /
                                        (d << shift_))) {}
    // (hi*2^64 + lo) / d with its remainder, for hi < d.
    std::uint64_t divide(std::uint64_t hi, std::uint64_t lo, std::uint64_t& remainder) const {
        const std::uint64_t u1 = (hi << shift_) | (lo >> (64 - shift_));  // shift_ >= 1
        const std::uint64_t u0 = lo << shift_;
        const uint128 p = static_cast<uint128>(v_) * u1 + ((static_cast<uint128>(u1) << 64) | u0);
        std::uint64_t q = static_cast<std::uint64_t>(p >> 64) + 1;
        std::uint64_t r = u0 - q * d_;
        if (r > static_cast<std::uint64_t>(p)) {
            --q;
            r += d_;
        }
        if (r >= d_) {
            ++q;
            r -= d_;
        }
        remainder = r >> shift_;
        return q;
    }

private:
    int shift_;
    std::uint64_t d_;
    std::uint64_t v_;
};

// The source words w[0 .. n-1] as limbs, the lowest first; an odd last word
// makes a limb of its own.
std::uint64_t limb_at(const mr_digit* w, int n, int i) {
    return 2 * i + 1 < n ? load_limb(w + 2 * i) : w[2 * i];
}

// y = y * 2^64 + c over the len limbs of y in radix D (a step of writing),
// appending limbs for the final carry. False when the buffer is full.
bool limb_step_radix(std::uint64_t* y, int& len, std::uint64_t c, const limb_divisor& d) {
    std::uint64_t r;
    for (int j = 0; j < len; ++j) {
        c = d.divide(y[j], c, r);
        y[j] = r;
    }
    while (c != 0) {
        if (len >= limb_horner_limbs) return false;
        c = d.divide(0, c, r);
        y[len++] = r;
    }
    return true;
}

// K steps in one pass, y = (..((y*2^64 + c[0])*2^64 + c[1])..)*2^64 +
// c[K-1]. Each step is a chain of dependent divisions; step k runs k limbs
// behind step 0, so the processor overlaps the K chains. False when the
// buffer is full.
template <int K>
bool limb_steps_radix(std::uint64_t* y, int& len, const std::uint64_t* in, const limb_divisor& d) {
    std::uint64_t c[K];
    std::uint64_t pending[K] = {};  // pending[k]: step k-1's last limb, not yet through step k
    for (int k = 0; k < K; ++k) c[k] = in[k];
    // One position of the pass: step k at limb t - k, the last step first
    // so that each takes its predecessor's limb of the position before.
    auto position = [&](int t, bool edge) {
        for (int k = K - 1; k >= 0; --k) {
            const int p = t - k;
            if (edge && p < 0) continue;
            const std::uint64_t v = k > 0 ? pending[k] : !edge || p < len ? y[p] : 0;
            std::uint64_t r;
            c[k] = d.divide(v, c[k], r);
            if (k == K - 1)
                y[p] = r;
            else
                pending[k + 1] = r;
        }
    };
    int t = 0;
    for (; t < K - 1; ++t) position(t, true);
    for (; t < len; ++t) position(t, false);
    // The carries run on past the old length.
    for (;; ++t) {
        bool done = true;
        for (int k = 0; k < K; ++k) done = done && c[k] == 0 && (k == 0 || pending[k] == 0);
        if (done && t - (K - 1) >= len) break;
        if (t - (K - 1) >= limb_horner_limbs) return false;
        position(t, true);
    }
    len = std::max(len, t - (K - 1));
    while (len > 0 && y[len - 1] == 0) --len;
    return true;
}

// True when the words of n full words, in a radix B > 2^23 (every word
// radix of a base that is no power of two), fit the limb buffer.
bool limb_horner_fits(int n) { return n <= limb_horner_words * 2 / 3; }

// y (zero on entry) = x's full words in words of radix `to` (at most 2^31),
// on limbs; x must pass limb_horner_fits. False when y would need more than
// `limit` words.
bool limb_horner_to_radix(const bignum* x, std::uint32_t to, bignum* y, int limit) {
    std::uint64_t buffer[limb_horner_limbs];
    const limb_divisor d(static_cast<std::uint64_t>(to) * to);
    const int n = length_of(x);
    int len = 0;
    int i = (n + 1) / 2 - 1;  // the top limb
    for (; i >= 0 && (i + 1) % 2 != 0; --i)
        if (!limb_step_radix(buffer, len, limb_at(x->w, n, i), d)) return false;
    for (; i > 0; i -= 2) {  // two chains overlap as well as four do
        const std::uint64_t in[2] = {limb_at(x->w, n, i), limb_at(x->w, n, i - 1)};
        if (!limb_steps_radix<2>(buffer, len, in, d)) return false;
    }
    // Each limb of radix B^2 gives two words of radix B.
    const word_divisor word(to);
    std::uint64_t low;
    const int words = len == 0 ? 0 : 2 * len - (word.divide(buffer[len - 1], low) == 0 ? 1 : 0);
    if (words > limit) return false;
    for (int j = 0; j < len; ++j) {
        const std::uint64_t high = word.divide(buffer[j], low);
        y->w[2 * j] = static_cast<mr_digit>(low);
        if (2 * j + 1 < words) y->w[2 * j + 1] = static_cast<mr_digit>(high);
    }
    y->len = static_cast<std::uint32_t>(words);
    return true;
}

// y (zero on entry) = the value of x's words in radix `from` (at most
// 2^31), in full words, on limbs: y = y*from^2 + (x[i]*from + x[i-1]).
// False when y would need more than `limit` words.
bool limb_horner_to_full_words(const bignum* x, std::uint64_t from, bignum* y, int limit) {
    std::uint64_t buffer[limb_horner_limbs];
    const mr_digit* xw = x->w;
    const std::uint64_t from2 = from * from;
    int len = 0;
    int i = length_of(x) - 1;
    auto step = [&](std::uint64_t c) {
        for (int j = 0; j < len; ++j) {
            const uint128 t = static_cast<uint128>(buffer[j]) * from2 + c;
            buffer[j] = static_cast<std::uint64_t>(t);
            c = static_cast<std::uint64_t>(t >> 64);
        }
        if (c == 0) return true;
        if (len >= limb_horner_limbs) return false;
        buffer[len++] = c;
        return true;
    };
    if (i % 2 == 0) {
        buffer[0] = xw[i--];
        len = buffer[0] != 0 ? 1 : 0;
    }
    for (; i > 0; i -= 2)
        if (!step(xw[i] * from + xw[i - 1])) return false;
    int words = 2 * len;
    if (len > 0 && buffer[len - 1] >> 32 == 0) --words;
    if (words > limit) return false;
    for (int j = 0; j < len; ++j) {
        y->w[2 * j] = static_cast<mr_digit>(buffer[j]);
        if (2 * j + 1 < words) y->w[2 * j + 1] = static_cast<mr_digit>(buffer[j] >> 32);
    }
    y->len = static_cast<std::uint32_t>(words);
    return true;
}

// The quadratic changes of radix between full words and a radix of at most
// 2^31, on limbs where the result fits the limb buffer.
bool quadratic_to_radix(const bignum* x, std::uint32_t to, bignum* y, int limit) {
    return limb_horner_fits(length_of(x)) ? limb_horner_to_radix(x, to, y, limit)
                                          : horner_to_radix(x, scale_by_full_word{}, to, y, limit);
}
bool quadratic_to_full_words(const bignum* x, std::uint64_t from, bignum* y, int limit) {
    return from <= 0x80000000u && length_of(x) <= limb_horner_words ? limb_horner_to_full_words(x, from, y, limit)
                                                                    : horner_to_full_words(x, from, y, limit);
}

// ---- Divide and conquer ----------------------------------------------------
//
// Above text_split_out_words words (writing) or text_split_in_words words
// (reading) the change of radix between full words and a radix B = b^k (the
// text's word radix) splits the number in two by a power of B and converts
// the halves on their own:
//
//   - into radix B: x = q * B^h + r with r < B^h (one division), so r gives
//     exactly the h low words of the result (with leading zero words) and q
//     the words above them;
//   - into full words: the words w[h..] and w[0..h-1] give H and L, and the
//     value is H * B^h + L (one product and an addition).
//
// The powers B^h come from one table, P[i] = B^(h0 * 2^i) (P[i+1] = P[i]^2),
// with h0 the number's length in radix-B words halved until it is at most
// half the reading threshold: then the top power has about half the
// number's words, every split is even, and the pieces at the bottom are
// converted by the quadratic loops.
// The cost is that of the products and divisions at the top, so it falls
// with every faster multiply and divide. The table, the copy of x and the
// split halves live in the conversion scratch area, taken and given back
// in stack order; the arithmetic runs in full words (digit_base 0) for its
// duration.

// The powers stay in the conversion area from one conversion to the next,
// so that redrawing numbers in one base computes them once. The area's
// first convert_cache_words words record whose powers they are and where
// they lie: the radix and h0 (0 while none are kept), the count, the first
// free word, the largest limit they were squared up to, then the length and
// the offset of each power.
enum cache_field {
    cache_radix,
    cache_h0,
    cache_count,
    cache_end,
    cache_limit,
    cache_length,
    cache_offset = cache_length + convert_max_powers
};
static_assert(cache_offset + convert_max_powers == convert_cache_words);
constexpr int max_powers = convert_max_powers;
constexpr int cache_words = convert_cache_words;

// A stack of words in the conversion scratch area, after the kept powers;
// every piece is zeroed when taken. take() gives nullptr when the area is
// used up, and the caller then converts what it has with the quadratic
// loop; the area is sized so that this never happens (mirsys,
// convert_area_words), and debug builds check each conversion's pieces
// against the bound of its length.
class convert_space {
public:
    convert_space() : area_(area_convert), base_(area_.words()), size_(area_.size()) {
        used_ = base_[cache_radix] != 0 ? base_[cache_end] : cache_words;
        peak_ = used_;
    }
    mr_digit* take(int words) {
        const std::size_t n = convert_piece_words(words);  // keep pieces 16-byte aligned
        TORVANE_EXPECTS(used_ + n <= size_);
        if (used_ + n > size_) return nullptr;
        mr_digit* p = base_ + used_;
        std::memset(p, 0, n * sizeof(mr_digit));
        used_ += n;
        peak_ = std::max(peak_, used_);
        return p;
    }
    std::size_t mark() const { return used_; }
    void release(std::size_t mark) { used_ = mark; }
    mr_digit* cache() { return base_; }
    // The mark, from which taken_since measures the most words taken.
    std::size_t measure_from_here() {
        peak_ = used_;
        return used_;
    }
    std::size_t taken_since(std::size_t from) const { return peak_ - from; }

private:
    scratch_claim area_;
    mr_digit* base_;
    std::size_t size_;
    std::size_t used_;
    std::size_t peak_;
};

// A number header over words of the conversion area, for multiply and divide.
bignum view(mr_digit* w, int len) {
    bignum x{};
    x.w = w;
    x.len = static_cast<std::uint32_t>(len);
    strip_leading_zeros(&x);
    return x;
}

// The table of powers P[i] = B^(h0 * 2^i), in full words. An even radix
// B = 2^z * u (10^9 = 2^9 * 5^9) gives P[i] = 2^(z h0 2^i) * U[i] with the
// odd U[i] = u^(h0 2^i): the table keeps only U[i], 30% fewer words in
// decimal, and the splits divide and multiply by it, moving the factor
// 2^(z h0 2^i) as a shift.
struct power_table {
    std::uint32_t radix;  // B
    int h0;               // radix-B words of P[0]
    int count = 0;
    bignum p[max_powers];  // U[i], the odd part of P[i]
    int words(int i) const { return h0 << i; }  // radix-B words of P[i]
    int shift(int i) const { return std::countr_zero(radix) * words(i); }  // bits of P[i] below U[i]
    // Full words of P[i].
    int power_words(int i) const {
        const int n = length_of(&p[i]);
        const int bits = n == 0 ? 0 : 32 * n - std::countl_zero(p[i].w[n - 1]);
        return (bits + shift(i) + 31) / 32;
    }
};

// x = floor(x / 2^s), with the s bits shifted out kept in low[0 .. s/32].
void take_low_bits(bignum* x, int s, mr_digit* low) {
    const int sw = s / 32, sb = s % 32;
    const int n = length_of(x);
    for (int i = 0; i <= sw; ++i) low[i] = i < n ? x->w[i] : 0;
    low[sw] &= (mr_digit{1} << sb) - 1;
    const int rest = std::max(n - sw, 0);
    shr_vu(x->w, x->w + sw, rest, static_cast<unsigned>(sb));
    std::memset(x->w + rest, 0, sizeof(mr_digit) * static_cast<std::size_t>(n - rest));
    x->len = static_cast<std::uint32_t>(rest);
    strip_leading_zeros(x);
}

// x = x * 2^s; the result must fit x's room.
void shift_up(bignum* x, int s) {
    const int sw = s / 32, n = length_of(x);
    if (n == 0) return;
    const mr_digit top = shl_vu(x->w + sw, x->w, n, static_cast<unsigned>(s % 32));
    int len = n + sw;
    if (top != 0) x->w[len++] = top;
    std::memset(x->w, 0, sizeof(mr_digit) * static_cast<std::size_t>(sw));
    x->len = static_cast<std::uint32_t>(len);
}

// x = x * 2^s + low, for low below 2^s in low[0 .. s/32]; the result must
// fit x's room.
void put_low_bits(bignum* x, int s, const mr_digit* low) {
    const int sw = s / 32;
    if (length_of(x) == 0) {
        x->w[sw] = 0;
        x->len = static_cast<std::uint32_t>(sw + 1);
    } else {
        shift_up(x, s);
    }
    std::memcpy(x->w, low, sizeof(mr_digit) * static_cast<std::size_t>(sw));
    x->w[sw] |= low[sw];
    strip_leading_zeros(x);
}

// Fills the table up to the first power with more than `limit` full words
// (the last entry kept is the largest at or below it), from the kept
// powers when they are of this radix, adding the missing ones to them.
// Call it before taking any other piece of the space. False when the area
// is used up before one entry exists.
bool make_powers(power_table& t, int limit, convert_space& space) {
    mr_digit* cache = space.cache();
    if (cache[cache_radix] != t.radix || cache[cache_h0] != static_cast<mr_digit>(t.h0)) {
        cache[cache_radix] = 0;
        cache[cache_count] = 0;
        cache[cache_limit] = 0;
        space.release(cache_words);
    }
    cache[cache_limit] = std::max(cache[cache_limit], static_cast<mr_digit>(limit));
    t.count = static_cast<int>(cache[cache_count]);
    for (int i = 0; i < t.count; ++i)
        t.p[i] = view(cache + cache[cache_offset + i], static_cast<int>(cache[cache_length + i]));
    auto keep = [&](const bignum& power, const mr_digit* at) {
        cache[cache_length + t.count] = static_cast<mr_digit>(length_of(&power));
        cache[cache_offset + t.count] = static_cast<mr_digit>(at - cache);
        t.p[t.count++] = power;
        cache[cache_count] = static_cast<mr_digit>(t.count);
        cache[cache_end] = static_cast<mr_digit>(space.mark());
        cache[cache_h0] = static_cast<mr_digit>(t.h0);
        cache[cache_radix] = t.radix;
    };
    if (t.count == 0) {
        // U[0] = u^h0 by word products; it has at most h0 full words.
        mr_digit* w = space.take(t.h0 + 1);
        if (w == nullptr) return false;
        const mr_digit odd = t.radix >> std::countr_zero(t.radix);
        w[0] = 1;
        int len = 1;
        for (int k = 0; k < t.h0; ++k) {
            const mr_digit top = mul_vww(w, w, len, odd, 0);
            if (top != 0) w[len++] = top;
        }
        keep(view(w, len), w);
    }
    int needed = 0;  // entries for this number: up to the first above limit
    while (needed < t.count && t.power_words(needed) <= limit) ++needed;
    while (t.count < max_powers && needed == t.count && 2 * t.power_words(t.count - 1) <= limit) {
        const bignum& last = t.p[t.count - 1];
        mr_digit* next = space.take(2 * length_of(&last));
        if (next == nullptr) break;
        bignum sq = view(next, 0);
        multiply(&last, &last, &sq);
        if (error_pending()) return false;
        keep(sq, next);
        ++needed;
    }
    t.count = std::max(needed, 1);
    TORVANE_EXPECTS(space.mark() - cache_words <= convert_powers_words(static_cast<int>(cache[cache_limit])));
    return true;
}

// out[0 .. slot-1] = x in radix-B words, for x in full words (x is used up;
// out is zero on entry). Splits by the powers P[0 .. top]. False when the
// value needs more than `slot` words.
//
// Each split divides x by the largest power about its square root: the
// remainder is converted by recursion, the quotient goes round the loop.
// The first split takes two pieces, one for the low bits below U and one
// for the quotient (x's words less P's, plus 3); every later quotient is
// shorter and goes to the buffer the dividend before it left free. So a
// call on x of L words takes at most L + 9 words (pieces rounded up to 4)
// and its recursion runs on at most L/2 words (convert_write_words).
bool split_to_radix(bignum* x, int top, const power_table& t, mr_digit* out, int slot, convert_space& space) {
    const std::size_t mark = space.mark();
    mr_digit* low = nullptr;    // the bits of x below U's place
    mr_digit* spare = nullptr;  // where the next quotient goes
    bool ok = true;
    while (length_of(x) > text_split_out_words && top >= 0) {
        if (cancel_point()) {  // a cancel request is taken between splits
            ok = false;
            break;
        }
        // The largest power about the square root of x.
        while (top > 0 && 2 * t.power_words(top) > length_of(x)) --top;
        const int h = t.words(top), s = t.shift(top);
        if (h > slot) break;
        // At top 0 the smallest power may still be longer than x (x just
        // above text_split_out_words words, P[0] longer): x < P, no split,
        // and the spare piece's length below would be negative.
        if (length_of(x) < t.power_words(top)) break;
        if (spare == nullptr) {
            low = space.take(s / 32 + 1);
            spare = space.take(length_of(x) - t.power_words(top) + 3);
            if (low == nullptr || spare == nullptr) break;
        }
        // x = q P + r as x / 2^s = q U + r', r = r' 2^s + (x mod 2^s).
        take_low_bits(x, s, low);
        if (compare_numbers(&t.p[top], x) > 0) {  // x < P: no split at this power
            put_low_bits(x, s, low);
            break;
        }
        bignum q = view(spare, 0);
        mr_digit* const dividend = x->w;  // free once the remainder is converted
        const int xl = length_of(x), ul = length_of(&t.p[top]);
        if (ul >= 2) {  // x = r' in place, q in the spare piece
            divide_words(x->w, xl, t.p[top].w, ul, q.w, x->w);
            q = view(q.w, xl - ul + 1);
            std::memset(x->w + ul, 0, sizeof(mr_digit) * static_cast<std::size_t>(xl - ul));
            x->len = static_cast<std::uint32_t>(ul);
            strip_leading_zeros(x);
        } else {
            divide(x, &t.p[top], &q);
        }
        put_low_bits(x, s, low);
        if (error_pending() || !split_to_radix(x, top - 1, t, out, h, space)) {
            ok = false;
            break;
        }
        spare = dividend;
        *x = q;
        out += h;
        slot -= h;
    }
    if (ok) {
        bignum y = view(out, 0);
        ok = quadratic_to_radix(x, t.radix, &y, slot);
    }
    space.release(mark);
    return ok;
}

// out = the value of the radix-B words w[0 .. m-1], in full words; out has
// room for m + 2 words. Splits by the powers P[0 .. top].
void split_to_full_words(mr_digit* w, int m, int top, const power_table& t, bignum* out, convert_space& space) {
    if (cancel_point()) return;  // a cancel request is taken before each split
    while (top >= 0 && 2 * t.words(top) > m) --top;
    const std::size_t mark = space.mark();
    mr_digit* hw = nullptr;
    mr_digit* lw = nullptr;
    if (m > text_split_in_words && top >= 0) {
        hw = space.take(m - t.words(top) + 2);
        lw = space.take(t.words(top) + 2);
    }
    if (lw == nullptr) {
        const bignum x = view(w, m);
        quadratic_to_full_words(&x, t.radix, out, m + 2);
        space.release(mark);
        return;
    }
    const int h = t.words(top);
    bignum high = view(hw, 0);
    bignum low = view(lw, 0);
    split_to_full_words(w + h, m - h, top, t, &high, space);
    split_to_full_words(w, h, top - 1, t, &low, space);
    // high P + low, as (high U) 2^s + low.
    multiply(&high, &t.p[top], out);
    shift_up(out, t.shift(top));
    add(out, &low, out);
    space.release(mark);
}

// Runs a divide-and-conquer conversion with the arithmetic in full words
// and length_check clear, giving the text's radix back afterwards.
class full_word_arithmetic {
public:
    full_word_arithmetic() : saved_(current_radix(engine_instance)), unchecked_(0) {
        engine_instance->digit_base = 0;
    }
    ~full_word_arithmetic() { restore_radix(engine_instance, saved_); }
    full_word_arithmetic(const full_word_arithmetic&) = delete;
    full_word_arithmetic& operator=(const full_word_arithmetic&) = delete;

private:
    radix_settings saved_;
    length_check_scope unchecked_;
};

// y (zero on entry) = x in words of radix `to` (at most 2^31), for x in
// full words, by splitting. False when y would need more than `limit` words.
bool split_full_words_to_radix(const bignum* x, std::uint32_t to, bignum* y, int limit) {
    full_word_arithmetic arithmetic;
    convert_space space;
    power_table t;
    t.radix = to;
    const int n = length_of(x);
    const int words = static_cast<int>(32.0 * n / std::log2(static_cast<double>(to)));  // of radix B, or one less
    t.h0 = convert_smallest_power(words);
    if (!make_powers(t, n / 2 + 1, space))
        return !error_pending() && quadratic_to_radix(x, to, y, limit);
    [[maybe_unused]] const std::size_t powers_end = space.measure_from_here();
    mr_digit* xw = space.take(n);
    if (xw == nullptr) return quadratic_to_radix(x, to, y, limit);
    std::memcpy(xw, x->w, sizeof(mr_digit) * static_cast<std::size_t>(n));
    bignum copy = view(xw, n);
    const bool fits = split_to_radix(&copy, t.count - 1, t, y->w, limit, space);
    TORVANE_EXPECTS(space.taken_since(powers_end) <= convert_write_words(n));
    if (!fits) return false;
    // The words of the result lie below n*32/log2(B) + 1 (the rest of y is
    // zero): strip from there, not from the limit.
    y->len = static_cast<std::uint32_t>(std::min(limit, words + 2));
    strip_leading_zeros(y);
    return true;
}

// y (zero on entry) = the value of x's words in radix `from` (at most
// 2^31), in full words, by splitting. False when y would need more than
// `limit` words.
bool split_radix_to_full_words(const bignum* x, std::uint32_t from, bignum* y, int limit) {
    full_word_arithmetic arithmetic;
    convert_space space;
    power_table t;
    t.radix = from;
    const int m = length_of(x);
    t.h0 = convert_smallest_power(m);
    if (!make_powers(t, m / 2 + 1, space)) return !error_pending() && quadratic_to_full_words(x, from, y, limit);
    [[maybe_unused]] const std::size_t powers_end = space.measure_from_here();
    mr_digit* out = space.take(m + 2);
    if (out == nullptr) return quadratic_to_full_words(x, from, y, limit);
    bignum result = view(out, 0);
    split_to_full_words(x->w, m, t.count - 1, t, &result, space);
    TORVANE_EXPECTS(space.taken_since(powers_end) <= convert_read_words(m));
    if (error_pending() || length_of(&result) > limit) return false;
    copy_number(&result, y);
    return true;
}

// log2 of a word radix that is a power of two (up to 2^32), else 0.
int radix_bits(std::uint64_t radix) { return std::has_single_bit(radix) ? std::countr_zero(radix) : 0; }

// y (zero on entry) = the value of x's words in radix 2^from_bits, in words
// of radix 2^to_bits (both at most 32): the bits are only regrouped, in one
// pass, so text in bases 8, 32, 64 and 128 costs no more than in 16. The
// words are added in at their places, so a word that is no digit of its
// radix still counts as its value, as in Horner's rule. False when y would
// need more than `limit` words.
bool regroup_bits(const bignum* x, int from_bits, bignum* y, int to_bits, int limit) {
    const std::uint64_t mask = (std::uint64_t{1} << to_bits) - 1;
    uint128 bits = 0;  // the bits not yet written, the lowest first
    int held = 0;      // how many of them come from whole source words
    int at = 0;        // the target word written next
    int top = 0;       // the target words up to the last non-zero one
    auto put = [&](mr_digit word) {
        if (word != 0) {
            if (at >= limit) return false;
            y->w[at] = word;
            top = at + 1;
        }
        ++at;
        return true;
    };
    for (int i = 0; i < length_of(x); ++i) {
        bits += static_cast<uint128>(x->w[i]) << held;
        held += from_bits;
        for (; held >= to_bits; held -= to_bits, bits >>= to_bits)
            if (!put(static_cast<mr_digit>(bits & mask))) return false;
    }
    for (; bits != 0; bits >>= to_bits)
        if (!put(static_cast<mr_digit>(bits & mask))) return false;
    y->len = static_cast<std::uint32_t>(top);
    return true;
}

// The value of an input character in bases up to 60; 256 (no digit of any
// base) for anything that is no digit.
std::uint32_t alphanumeric_value(unsigned char c, std::uint32_t base) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10u;
    if (c >= 'a' && c <= 'z') return base <= 16 ? c - 'a' + 10u : c - 'a' + 36u;
    return 256;
}

// The nine decimal digits of w mod 10^9 at out, the most significant first
// (what nine divisions by 10 would give), by fixed-point steps: t = w *
// ceil(2^57 / 10^8) holds w / 10^8 with its integer part above bit 57 and
// an error below 10^9 / 2^57 < 7e-9, and each product of the fraction by
// 100 brings the next pair of digits above bit 57 with the error grown
// a hundredfold: below 7e-7, 7e-5, 7e-3 and 0.7 at the four pairs, each
// less than the fraction's distance to the next integer there (at least
// 10^-6, 10^-4, 10^-2 and 1), so every digit is exact.
void nine_digits(std::uint32_t w, char* out) {
    static constexpr auto pairs = [] {
        std::array<char, 200> t{};
        for (int i = 0; i < 100; ++i) {
            t[2 * i] = static_cast<char>('0' + i / 10);
            t[2 * i + 1] = static_cast<char>('0' + i % 10);
        }
        return t;
    }();
    constexpr std::uint64_t fraction = (std::uint64_t{1} << 57) - 1;
    if (w >= 1000000000u) w %= 1000000000u;
    std::uint64_t t = static_cast<std::uint64_t>(w) * 1441151881u;  // ceil(2^57 / 10^8)
    out[0] = static_cast<char>('0' + (t >> 57));
    for (int i = 0; i < 4; ++i) {
        t = (t & fraction) * 100;
        std::memcpy(out + 1 + 2 * i, &pairs[2 * (t >> 57)], 2);
    }
}

// The value of the eight decimal digit characters at p, the first the most
// significant, all at once in one limb; `valid` tells whether all eight are
// digits.
std::uint32_t eight_digits(const char* p, bool& valid) {
    std::uint64_t x;
    std::memcpy(&x, p, sizeof x);
    // Every byte 0x30-0x3F, and still so with 6 added: 0x30-0x39.
    valid = (x & 0xF0F0F0F0F0F0F0F0u) == 0x3030303030303030u &&
            ((x + 0x0606060606060606u) & 0xF0F0F0F0F0F0F0F0u) == 0x3030303030303030u;
    x -= 0x3030303030303030u;
    x = (x * (10 * 256 + 1)) >> 8;                                  // pairs of digits in every other byte
    x = ((x & 0x00FF00FF00FF00FFu) * (100 * 65536 + 1)) >> 16;      // fours in every other 16 bits
    x = ((x & 0x0000FFFF0000FFFFu) * (10000 * (1ull << 32) + 1)) >> 32;  // all eight
    return static_cast<std::uint32_t>(x);
}

// instr's reading of decimal text, as read_digit_text below: whole words of
// nine digits by eight_digits and the one before them.
bool read_decimal_text(const char* text, int first, int length, int limit, bignum* x) {
    int p = first;
    while (p < length && text[p] == '0') ++p;
    const int words = (length - p + 8) / 9;
    if (words > limit) return false;
    bool valid = true;
    int j = 0;
    for (int end = length; end - 9 >= p; end -= 9, ++j) {
        bool eight_valid;
        const auto top = static_cast<std::uint32_t>(static_cast<unsigned char>(text[end - 9]) - '0');
        x->w[j] = top * 100000000u + eight_digits(text + end - 8, eight_valid);
        valid = valid && eight_valid && top <= 9;
    }
    if (j < words) {  // the top word, of fewer than nine digits
        mr_digit v = 0;
        for (int q = p; q < length - 9 * j; ++q) {
            const auto d = static_cast<std::uint32_t>(static_cast<unsigned char>(text[q]) - '0');
            valid = valid && d <= 9;
            v = v * 10 + d;
        }
        x->w[j++] = v;
    }
    if (!valid) {
        std::memset(x->w, 0, sizeof(mr_digit) * static_cast<std::size_t>(j));
        return false;
    }
    x->len = static_cast<std::uint32_t>(words);
    return true;
}

// instr's reading of text in a base up to 10 whose characters
// text[first .. length-1] are all digits of the base and whose value fits
// `limit` words: each word's per_word digits by Horner's rule. False, with
// x untouched, otherwise; the
// digit-by-digit loop then finds the error.
bool read_digit_text(const char* text, int first, int length, std::uint32_t base, int per_word, int limit,
                     bignum* x) {
    int p = first;
    while (p < length && text[p] == '0') ++p;  // leading zeros take no room
    for (int q = p; q < length; ++q)
        if (static_cast<std::uint32_t>(static_cast<unsigned char>(text[q]) - '0') >= base) return false;
    const int words = (length - p + per_word - 1) / per_word;
    if (words > limit) return false;
    for (int j = 0; j < words; ++j) {
        const int end = length - j * per_word;
        mr_digit v = 0;
        for (int q = std::max(p, end - per_word); q < end; ++q)
            v = v * base + static_cast<mr_digit>(text[q] - '0');
        x->w[j] = v;
    }
    x->len = static_cast<std::uint32_t>(words);
    return true;
}

// The character of digit v in bases up to 60.
char alphanumeric_char(std::uint32_t v) {
    if (v < 10) return static_cast<char>('0' + v);
    if (v < 36) return static_cast<char>('A' + (v - 10));
    return static_cast<char>('a' + (v - 36));
}

}  // namespace

// y = x, whose words are digits of radix oldbase (0 standing for 2^32),
// expressed in the current digit_base. x and y may be the same number.
void cbase(const bignum* x, std::uint32_t oldbase, bignum* y) {
    if (error_pending()) return;
    routine_trace trace(rn_cbase);
    mr_state* s = engine_instance;
    const int limit = word_limit(s);
    if (oldbase == s->digit_base) {
        if (length_of(x) > limit) {
            report_error(mr_error_overflow);
            return;
        }
        copy_number(x, y);
        return;
    }
    // The sum is formed in scratch6, or scratch7 when x is scratch6; it may
    // be y itself, which the caller's claim then covers.
    const bool x_in_scratch6 = x == workspace_at(ws::scratch6);
    const workspace_claim sum(x_in_scratch6 ? ws::scratch7 : ws::scratch6, {y});
    zero_number(sum);
    const std::uint64_t from = oldbase == 0 ? 0x100000000u : oldbase;
    bool fits;
    // Splitting pays above the thresholds. Reading takes words up to the
    // limit without length_check (a full-length number's decimal text has
    // more words of 10^9 than the number has full words), and where the
    // conversion area runs out a piece falls back to the quadratic loop.
    const int n = length_of(x);
    const int from_bits = radix_bits(from);
    const int to_bits = radix_bits(s->digit_base == 0 ? 0x100000000u : s->digit_base);
    if (from_bits != 0 && to_bits != 0)
        fits = regroup_bits(x, from_bits, sum, to_bits, limit);
    else if (s->digit_base == 0)
        fits = n > text_split_in_words && from <= 0x80000000u
                   ? split_radix_to_full_words(x, oldbase, sum, limit)
                   : quadratic_to_full_words(x, from, sum, limit);
    else if (oldbase == 0)
        fits = n > text_split_out_words && n <= s->max_length
                   ? split_full_words_to_radix(x, s->digit_base, sum, limit)
                   : quadratic_to_radix(x, s->digit_base, sum, limit);
    else
        fits = horner_to_radix(x, scale_by_radix{oldbase}, s->digit_base, sum, limit);
    if (!fits) {
        // The partial sum may run to the limit; clear every word it used.
        sum->len = static_cast<std::uint32_t>(limit);
        zero_number(sum);
        if (!error_pending()) report_error(mr_error_overflow);  // a cancel met on the way stays the error
        return;
    }
    const std::uint32_t sign = x->len & mr_sign_bit;
    copy_number(sum, y);
    if (y->len != 0) y->len |= sign;
    if (sum != y) zero_number(sum);
}

// Sets the i-th external_base digit of x (i = 1 the least significant) to n.
// n is not checked against the base.
void putdig(int n, bignum* x, int i) {
    if (error_pending()) return;
    routine_trace trace(rn_putdig);
    if (i < 1) return;
    mr_state* s = engine_instance;
    const int j = (i - 1) / s->digits_per_word;
    const int k = (i - 1) % s->digits_per_word;
    if (j >= s->max_length && (s->length_check || j >= 2 * s->max_length)) {
        report_error(mr_error_overflow);
        return;
    }
    mr_digit place = 1;
    for (int t = 0; t < k; ++t) place *= s->external_base;
    const mr_digit word = x->w[j];
    const mr_digit old = s->digits_per_word == 1 ? word : word / place % s->external_base;
    x->w[j] = word + static_cast<mr_digit>(n) * place - old * place;
    if (j >= length_of(x)) x->len = (x->len & mr_sign_bit) | static_cast<std::uint32_t>(j + 1);
    strip_leading_zeros(x);
}

namespace {

// The characters of text before its first zero byte, at most bound, and
// before its first line feed when stop_at_feed. The C library of the
// Windows build scans byte by byte (mingw-w64's strnlen; memchr under
// Wine), 2 to 3 cycles a byte, a tenth of the time of reading a 65530-bit
// number's decimal text; there the scan takes eight bytes a step, in
// aligned words, which never cross a page. Elsewhere the C library's
// scans are vectorised, and they read nothing past the text.
std::size_t text_length(const char* text, std::size_t bound, bool stop_at_feed) {
#ifdef _WIN32
    constexpr std::uint64_t ones = 0x0101010101010101u;
    constexpr std::uint64_t highs = 0x8080808080808080u;
    const auto has_zero_byte = [](std::uint64_t v) { return ((v - ones) & ~v & highs) != 0; };
    const auto stops = [stop_at_feed](char c) { return c == 0 || (stop_at_feed && c == '\n'); };
    std::size_t n = 0;
    while (n < bound && (reinterpret_cast<std::uintptr_t>(text + n) & 7) != 0) {
        if (stops(text[n])) return n;
        ++n;
    }
    for (; bound - n >= 8; n += 8) {
        std::uint64_t w;
        std::memcpy(&w, text + n, 8);
        if (has_zero_byte(w) || (stop_at_feed && has_zero_byte(w ^ (ones * '\n')))) break;
    }
    while (n < bound && !stops(text[n])) ++n;
    return n;
#else
    std::size_t n = strnlen(text, bound);
    if (stop_at_feed)
        if (const void* feed = std::memchr(text, '\n', n)) n = static_cast<std::size_t>(static_cast<const char*>(feed) - text);
    return n;
#endif
}

}  // namespace

// Reads text in external_base into x. Returns the number of characters
// taken (blanks and sign included), or 0 on error.
int instr(bignum* x, const char* text) {
    if (error_pending()) return 0;
    routine_trace trace(rn_instr);
    mr_state* s = engine_instance;
    const std::uint32_t base = s->external_base;
    if (!ready_for_text(s, base)) return 0;
    zero_number(x);

    // The text runs to a zero byte, or in the alphanumeric bases to a line
    // feed. The engine's own buffer is never read past its capacity.
    const bool alphanumeric = base <= 60;
    const bool own_buffer = text == s->io_buffer;
    int length = 0;
    if (text != nullptr) {
        const int bound = own_buffer ? s->io_buffer_size : INT_MAX;
        length = static_cast<int>(text_length(text, static_cast<std::size_t>(bound), alphanumeric));
    }
    if (own_buffer && length >= s->io_buffer_size) {
        report_error(mr_error_io_buffer_overflow);
        return 0;
    }

    int first = 0;
    bool negative = false;
    if (alphanumeric) {
        while (first < length && text[first] == ' ') ++first;
        if (first < length && text[first] == '-') {
            negative = true;
            ++first;
        }
        if (first < length && text[first] == '+') ++first;
    }

    // Digits from the least significant end, each added into its word at
    // its place value. Zero digits change nothing and are only counted, so
    // leading zeros never take room.
    const int per_word = s->digits_per_word;
    const int limit = word_limit(s);
    if (base <= 10 && (base == 10 && per_word == 9 ? read_decimal_text(text, first, length, limit, x)
                                                   : read_digit_text(text, first, length, base, per_word, limit, x))) {
        if (negative && x->len != 0) x->len |= mr_sign_bit;
        return length;
    }
    mr_digit place_value[32];
    place_value[0] = 1;
    for (int k = 1; k < per_word; ++k) place_value[k] = place_value[k - 1] * base;
    int word = 0, place = 0, top = -1;
    bool ok = true;
    for (int p = length - 1; p >= first; --p) {
        const auto c = static_cast<unsigned char>(text[p]);
        const std::uint32_t v = alphanumeric ? alphanumeric_value(c, base) : c;
        if (v >= base) {
            report_error(mr_error_input_format);
            ok = false;
            break;
        }
        if (v != 0) {
            if (word >= limit) {
                report_error(mr_error_overflow);
                ok = false;
                break;
            }
            x->w[word] += v * place_value[place];
            top = word;
        }
        if (++place == per_word) {
            place = 0;
            ++word;
        }
    }
    x->len = static_cast<std::uint32_t>(top + 1);
    if (!ok) return 0;
    if (negative && x->len != 0) x->len |= mr_sign_bit;
    return length;
}

// Writes x in external_base into text, zero-terminated; returns the number
// of characters written. Into the engine's own buffer at most
// io_buffer_size - 5 characters are written; a longer text is error 17 and
// stops there, unterminated.
int otstr(const bignum* x, char* text) {
    if (error_pending()) return 0;
    routine_trace trace(rn_otstr);
    mr_state* s = engine_instance;
    const std::uint32_t base = s->external_base;
    if (!ready_for_text(s, base)) return 0;
    if (text == nullptr) {  // no buffer at all: nothing fits
        report_error(mr_error_io_buffer_overflow);
        return 0;
    }
    const bool alphanumeric = base <= 60;
    const int capacity = text == s->io_buffer ? s->io_buffer_size - 5 : INT_MAX;

    int pos = 0;
    if (alphanumeric && is_negative(x)) text[pos++] = '-';
    const int sign_chars = pos;

    // Each word holds digits_per_word digits: bit fields in full-word bases,
    // remainders of division by the base in the others.
    const int per_word = s->digits_per_word;
    const bool full_word = s->digit_base == 0;
    const int bits = full_word ? 32 / per_word : 0;
    const mr_digit mask = full_word ? (mr_digit{1} << bits) - 1 : 0;
    std::uint32_t digits[32];
    bool leading = true;
    const bool decimal = !full_word && base == 10 && per_word == 9;
    for (int i = length_of(x) - 1; i >= 0; --i) {
        mr_digit w = x->w[i];
        if (decimal && !leading && pos + 9 <= capacity) {  // a whole word of decimal digits at once
            nine_digits(w, text + pos);
            pos += 9;
            continue;
        }
        for (int k = 0; k < per_word; ++k) {
            if (full_word) {
                digits[k] = w & mask;
                w = bits < 32 ? w >> bits : 0;
            } else {
                digits[k] = w % base;
                w /= base;
            }
        }
        for (int k = per_word - 1; k >= 0; --k) {
            const std::uint32_t d = digits[k];
            if (leading && d == 0) continue;
            leading = false;
            if (pos >= capacity) {
                report_error(mr_error_io_buffer_overflow);
                return pos;
            }
            text[pos++] = alphanumeric ? alphanumeric_char(d) : static_cast<char>(d);
        }
    }
    if (pos == sign_chars) {  // zero: "0" up to base 60, empty text above
        pos = 0;
        if (alphanumeric) text[pos++] = '0';
    }
    text[pos] = '\0';
    return pos;
}

// Reads text in io_base into x, in the working representation. Returns the
// number of characters taken, or 0 on error (x is then unchanged).
int cinstr(bignum* x, const char* text) {
    if (error_pending()) return 0;
    routine_trace trace(rn_cinstr);
    mr_state* s = engine_instance;
    const auto io_base = static_cast<std::uint32_t>(s->io_base);
    if (!valid_text_base(io_base)) {
        report_error(mr_error_base_too_big);
        return 0;
    }
    const radix_settings working = current_radix(s);
    set_digit_base(io_base);
    const std::uint32_t text_radix = s->digit_base;
    const workspace_claim value(ws::scratch5);
    int count;
    {
        length_check_scope unchecked(0);
        count = instr(value, text);
    }
    restore_radix(s, working);
    // With length_check set, cbase refuses (error 3) a value that needs more
    // than max_length words in the working radix.
    cbase(value, text_radix, x);
    zero_number(value);
    return error_pending() ? 0 : count;
}

// Writes x in io_base into text; returns the number of characters written.
// x is not changed.
int cotstr(const bignum* x, char* text) {
    if (error_pending()) return 0;
    routine_trace trace(rn_cotstr);
    TORVANE_EXPECTS(fits_room(x));
    mr_state* s = engine_instance;
    const auto io_base = static_cast<std::uint32_t>(s->io_base);
    if (!valid_text_base(io_base)) {
        report_error(mr_error_base_too_big);
        return 0;
    }
    const radix_settings working = current_radix(s);
    set_digit_base(io_base);
    int count;
    if (s->digit_base == working.digit_base) {
        count = otstr(x, text);  // the words already are digits of the text base
    } else {
        const workspace_claim value(ws::scratch5);
        {
            length_check_scope unchecked(0);
            cbase(x, working.digit_base, value);
        }
        count = otstr(value, text);
        zero_number(value);
    }
    restore_radix(s, working);
    return count;
}
