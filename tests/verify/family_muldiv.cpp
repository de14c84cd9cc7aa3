// Multiplication, division, mad and normalise against GMP, in every
// aliasing form the engine defines.
//
// multiply: the squaring method runs when both factors are the same number
// (six words or more); a distinct copy of the same value takes the
// schoolbook path, so both methods meet the same values. The engine refuses
// a product whose factors have more than max_length words together (error
// 3), by word counts alone, whatever the product's true size.
//
// divide and mad truncate toward zero and give the remainder the dividend's
// sign: GMP's tdiv_qr does the same.
#include <algorithm>

#include "kernels.h"
#include "oracle.h"
#include "thresholds.h"
#include "multiply_divide.h"

using namespace oracle;

namespace {

// Lengths (m, n) of factors where the product methods meet: just below, at
// and above each threshold, the split boundaries of Karatsuba, Toom-3,
// Toom-4 and Toom-8 (the shorter factor just above half, two thirds, three
// quarters or seven eighths of the longer), of Toom-4/2 against the
// product in pieces (the shorter near two fifths of the longer) and of
// Toom-8/4 (just above three eighths), long factors cut into pieces of the
// short one's length with a short last piece, the largest length of the
// unrolled basecase kernels, and the largest sizes. With
// `square`, n is m. m + n stays within `room`, each within `most` words.
std::pair<int, int> method_edge_lengths(context& c, int room, bool square, int most) {
    static const int thresholds[] = {product_karatsuba_threshold, product_toom3_threshold,
                                     square_karatsuba_threshold,  square_toom3_threshold,
                                     product_toom4_threshold,     square_toom4_threshold,
                                     product_toom42_threshold,    2 * product_toom42_threshold,
                                     square_toom4_limit,          basecase_fixed_max,
                                     toom3_gap_from,              toom3_gap_to,
                                     square_toom4_resume,         product_toom8_threshold,
                                     square_toom8_threshold,      product_toom84_threshold};
    const int t = thresholds[c.r.below(16)];
    int m = t + static_cast<int>(c.r.range(-2, 2)), n = m;
    switch (square ? 0 : c.r.below(7)) {
        case 0: break;
        case 1: n = (m + 1) / 2 + static_cast<int>(c.r.range(0, 2)); break;          // Karatsuba's split
        case 2: n = 2 * ((m + 2) / 3) + static_cast<int>(c.r.range(0, 2)); break;    // Toom-3's split
        case 3: m = n * static_cast<int>(c.r.range(2, 9)) + static_cast<int>(c.r.range(-2, 2)); break;  // pieces
        case 4:
            if (c.r.coin())
                n = 3 * ((m + 3) / 4) + static_cast<int>(c.r.range(0, 2));  // Toom-4's split
            else
                n = 7 * ((m + 7) / 8) + static_cast<int>(c.r.range(0, 2));  // Toom-8's
            break;
        case 5:
            if (c.r.coin())
                m = 2 * n + static_cast<int>(c.r.range(-2, 2));  // Toom-4/2 and Toom-8/4, n near a threshold
            else
                n = 3 * ((m + 7) / 8) + static_cast<int>(c.r.range(0, 2));  // Toom-8/4's split
            break;
        default:
            if (c.r.coin()) {
                n = (2 * m + 4) / 5 + static_cast<int>(c.r.range(-2, 2));  // Toom-4/2 against pieces
            } else {
                m = std::min(most, room - 1);  // the largest
                n = room - m - static_cast<int>(c.r.below(3));
            }
            break;
    }
    if (c.r.chance(20)) m = square ? room / 2 : room - n;  // the largest sizes
    m = std::max(1, std::min({m, most, square ? room / 2 : room - 1}));
    n = square ? m : std::max(1, std::min({n, m, room - m}));
    return {m, n};
}

// Runs one case on the portable kernels now and then, so that both kernel
// paths meet GMP; the best path is back when the case ends.
class kernel_path_for_case {
public:
    explicit kernel_path_for_case(context& c) {
        if (c.r.chance(25)) select_kernel_path(kernel_path::portable);
    }
    ~kernel_path_for_case() {
        if (!select_kernel_path(kernel_path::bmi2_adx)) select_kernel_path(kernel_path::portable);
    }
};

// A dividend made as q*y + r, so that the quotient words are structured
// (all ones, runs, powers of two) and the remainder is 0, |y|-1 or random:
// that is where the quotient estimate is 2^32-1 and where it must add back.
mpz_class structured_dividend(context& c, const mpz_class& y, int max_words) {
    int room = max_words - words_of(y);
    if (room < 1 || y == 0 || c.r.chance(25)) {
        mpz_class x = c.operand(profile::quadratic, max_words);
        return x;
    }
    // Quotients of one word and of the whole room come up often: the first
    // and last steps of the long division meet there.
    const int qwords = c.r.chance(15) ? 1 : c.r.chance(15) ? room : static_cast<int>(c.r.range(1, room));
    mpz_class q = c.magnitude(qwords);
    mpz_class ay = abs(y), r;
    switch (c.r.below(4)) {
        case 0: r = 0; break;
        case 1: r = ay - 1; break;
        case 2: r = ay - c.r.range(1, 3); if (r < 0) r = 0; break;
        default: {
            // Random below |y|: same length with a smaller top.
            r = c.magnitude(words_of(ay));
            mpz_tdiv_r(r.get_mpz_t(), r.get_mpz_t(), ay.get_mpz_t());
        }
    }
    mpz_class x = q * ay + r;
    if (words_of(x) > max_words) x = q * ay;
    if (words_of(x) > max_words) x = ay;
    if (c.r.coin()) x = -x;
    return x;
}

void run_multiply(context& c) {
    const int L = c.state->max_length;
    int form = static_cast<int>(c.r.below(6));
    static const char* forms[] = {"multiply(x, y, z)", "multiply(x, y, x)", "multiply(x, y, y)",
                                  "multiply(x, x, z) squaring", "multiply(x, x, x) squaring",
                                  "multiply(x, copy of x, z) schoolbook"};
    c.form(forms[form]);
    kernel_path_for_case path(c);
    bool overflow = c.r.chance(4);
    mpz_class x, y;
    if (!overflow && c.r.chance(35)) {
        // Lengths where the product methods change, in either order.
        auto [m, n] = method_edge_lengths(c, L, form >= 3, L);
        x = c.magnitude(m);
        y = form >= 3 ? x : c.magnitude(n);
        if (form < 3 && c.r.coin()) std::swap(x, y);
        if (c.r.coin()) x = -x;
        if (form >= 3) y = x;
        else if (c.r.coin()) y = -y;
    } else if (form >= 3) {
        x = c.operand(profile::quadratic, overflow ? L : (L + 1) / 2);
        y = x;
    } else {
        x = c.operand(profile::quadratic, L - 1);
        int room = L - words_of(x);
        if (overflow && words_of(x) > 0)
            y = c.magnitude(static_cast<int>(c.r.range(room + 1, L)));
        else
            y = c.operand(profile::quadratic, room < 1 ? 1 : room);
        if (c.r.coin()) y = -y;
    }
    c.note("x", x);
    c.note("y", y);
    bignum *px = pool(0), *py = pool(1), *pz = pool(2);
    set_number(px, x);
    set_number(py, y);
    set_number(pz, c.operand(profile::linear, 4));
    bignum* a = px;
    bignum* b = form == 3 || form == 4 ? px : py;
    bignum* out = form == 1 || form == 4 ? px : form == 2 ? py : pz;
    multiply(a, b, out);
    if (x != 0 && y != 0 && words_of(x) + words_of(y) > L) {
        c.tally("factors too long (error 3)");
        c.error(3);
        return;
    }
    if (!c.no_error()) return;
    c.value("z", out, x * y);
    if (a != out) c.value("x after the call", a, x);
    if (b != out && b != a) c.value("y after the call", b, y);
}

// A divisor for the long division's paths: now and then of a length at the
// recursive division's threshold, and with a top word that is all ones or a
// power of two over random words (no scaling needed, or the most); or a
// top word and a small low word over zero words, whose rows leave runs of
// zero limbs in the remainder, where a split row's borrow runs on through
// its high part.
mpz_class divisor(context& c, int max_words) {
    mpz_class y = c.operand(profile::quadratic, max_words);
    if (c.r.chance(20)) y = c.magnitude(near_threshold(c.r, divide_recursive_words, max_words));
    if (y != 0 && c.r.chance(8)) {
        const int n = words_of(y);
        y = (mpz_class(c.r.word() | 1u) << (32 * (n - 1))) + c.r.range(1, 3);
    }
    if (y != 0 && c.r.chance(15)) {
        const int n = words_of(y);
        const mpz_class top = c.r.coin() ? mpz_class(0xFFFFFFFFu) : mpz_class(1u << c.r.below(32));
        y = (top << (32 * (n - 1))) + (abs(y) & ((mpz_class(1) << (32 * (n - 1))) - 1));
        if (c.r.coin()) y = -y;
    }
    return y;
}

void run_divide(context& c) {
    const int L = c.state->max_length;
    int form = static_cast<int>(c.r.below(3));
    static const char* forms[] = {"divide(x, y, z)", "divide(x, y, x) quotient only",
                                  "divide(x, y, y) remainder only"};
    mpz_class y = c.r.chance(2) ? mpz_class(0) : divisor(c, L);
    if (y == 0 && c.r.chance(97)) y = divisor(c, L);
    mpz_class x = structured_dividend(c, y, L);
    bool same = c.r.chance(2);
    if (same) c.form("divide(x, x, z)");
    else c.form(forms[form]);
    kernel_path_for_case path(c);  // the division's row on both kernel paths
    c.note("x", x);
    c.note("y", y);
    bignum *px = pool(0), *py = pool(1), *pz = pool(2);
    set_number(px, x);
    set_number(py, y);
    mpz_class old_z = c.operand(profile::linear, 4);
    set_number(pz, old_z);
    if (same) {
        divide(px, px, pz);
        // Both refusals apply to a zero x; the later report (2) is recorded.
        c.tally("same dividend and divisor (error 7)");
        if (c.error(x == 0 ? 2 : 7)) {
            c.value("x after the error", px, x);
            c.value("z after the error", pz, old_z);
        }
        return;
    }
    bignum* out = form == 0 ? pz : form == 1 ? px : py;
    divide(px, py, out);
    if (y == 0) {
        c.tally("division by zero (error 2)");
        if (c.error(2)) {
            c.value("x after the error", px, x);
            c.value("z after the error", out, form == 1 ? x : form == 2 ? y : old_z);
        }
        return;
    }
    if (!c.no_error()) return;
    mpz_class q = tquot(x, y), r = trem(x, y);
    if (form == 0) {
        c.value("quotient", pz, q);
        c.value("remainder", px, r);
        c.value("divisor after the call", py, y);
    } else if (form == 1) {
        c.value("quotient", px, q);
        c.value("divisor after the call", py, y);
    } else {
        c.value("remainder", px, r);
        c.value("divisor after the call", py, y);
    }
}

// mad(x, y, z, w, q, r) in the forms the engine and its callers use.
void run_mad(context& c) {
    const int L = c.state->max_length;
    enum { full, addend_x, addend_y, rem_only, quot_only, rem_in_x, square_rem, bad_wr };
    int form = static_cast<int>(c.r.below(8));
    if (form == bad_wr && c.r.chance(70)) form = full;
    static const char* forms[] = {"mad(x, y, z, w, q, r)", "mad(x, y, x, w, q, r) no addend",
                                  "mad(x, y, y, w, q, r) no addend", "mad(x, y, z, w, w, r) remainder only",
                                  "mad(x, y, z, w, q, q) quotient only", "mad(x, y, y, w, w, x) as powers use it",
                                  "mad(x, x, x, w, w, x) squaring, remainder only", "mad(x, y, z, w, q, w)"};
    c.form(forms[form]);
    kernel_path_for_case path(c);
    mpz_class x = c.operand(profile::quadratic, L);
    mpz_class y = form == square_rem ? x : c.operand(profile::quadratic, L);
    mpz_class z = c.operand(profile::quadratic, L);
    mpz_class w = divisor(c, L);
    if (c.r.chance(2)) w = 0;
    if (c.r.chance(25)) {
        // Factors where the product methods meet, up to a product of 2L - 2
        // words (mad forms x*y in the double-length accumulator), the only
        // way to reach the methods above L/2 words on both factors; w long
        // enough for the quotient to fit a number.
        auto [m, n] = method_edge_lengths(c, 2 * L - 2, form == square_rem, L);
        x = c.magnitude(m);
        y = form == square_rem ? x : c.magnitude(n);
        if (form != square_rem && c.r.coin()) std::swap(x, y);
        if (c.r.coin()) x = -x;
        if (form == square_rem) y = x;
        else if (c.r.coin()) y = -y;
        const int at_least = m + n - L + 2;
        if (w != 0 && words_of(w) < at_least) w = c.magnitude(std::min(L, at_least + static_cast<int>(c.r.below(8))));
    }
    if (c.r.chance(6) && form != square_rem) {
        // Factors with long runs of zero low words and a small addend: in the
        // double-length accumulator the addend's borrow or carry runs past
        // the room of a single number.
        x = mpz_class(c.r.range(1, 5)) << static_cast<unsigned long>(32 * c.r.range(L / 2, L - 2));
        y = mpz_class(c.r.range(1, 5)) << static_cast<unsigned long>(32 * c.r.range(L / 2, L - 2));
        if (c.r.coin()) x = (x << 32) - 1;  // all-ones words: a carry ripples
        z = c.r.range(-3, 3);
        int at_least = words_of(x) + words_of(y) - L + 2;  // the quotient fits a number
        int len = c.pick_length(profile::quadratic, L);
        w = c.magnitude(std::min(L, std::max(len, at_least)));
    }
    bool quotient_kept = form == full || form == addend_x || form == addend_y || form == quot_only;
    const bool added = form == full || form == rem_only || form == quot_only || form == bad_wr;
    mpz_class sum = x * y;
    if (added) sum += z;
    // The quotient goes to a number of max_length words: keep it inside, by
    // a longer w while w may grow, else by a factor one word shorter (a
    // product of 2L - 1 words over a w of L words can need L + 1).
    while (quotient_kept && w != 0 && words_of(tquot(sum, w)) > L) {
        if (words_of(w) < L) {
            w = c.magnitude(words_of(w) + 1);
            if (c.r.coin()) w = -w;
            continue;
        }
        x = tquot(x, mpz_class(1) << 32);
        if (form == square_rem) y = x;
        sum = x * y;
        if (added) sum += z;
    }
    c.note("x", x);
    c.note("y", y);
    c.note("z", z);
    c.note("w", w);
    bignum *px = pool(0), *py = pool(1), *pz = pool(2), *pw = pool(3), *pq = pool(4), *pr = pool(5);
    set_number(px, x);
    set_number(py, y);
    set_number(pz, z);
    set_number(pw, w);
    set_number(pq, 7);
    set_number(pr, 11);
    switch (form) {
        case full: mad(px, py, pz, pw, pq, pr); break;
        case addend_x: mad(px, py, px, pw, pq, pr); break;
        case addend_y: mad(px, py, py, pw, pq, pr); break;
        case rem_only: mad(px, py, pz, pw, pw, pr); break;
        case quot_only: mad(px, py, pz, pw, pq, pq); break;
        case rem_in_x: mad(px, py, py, pw, pw, px); break;
        case square_rem: mad(px, px, px, pw, pw, px); break;
        case bad_wr: mad(px, py, pz, pw, pq, pw); break;
    }
    if (form == bad_wr) {
        c.tally("w and r the same (error 7)");
        c.error(7);
        return;
    }
    if (w == 0) {
        c.tally("division by zero (error 2)");
        c.error(2);
        return;
    }
    if (!c.no_error()) return;
    mpz_class q = tquot(sum, w), r = trem(sum, w);
    switch (form) {
        case full:
        case addend_x:
        case addend_y:
            c.value("quotient", pq, q);
            c.value("remainder", pr, r);
            break;
        case rem_only: c.value("remainder", pr, r); break;
        case quot_only: c.value("quotient", pq, q); break;
        case rem_in_x:
        case square_rem: c.value("remainder", px, r); break;
    }
    if (form != rem_in_x && form != square_rem) c.value("x after the call", px, x);
    if (form != square_rem) c.value("y after the call", py, y);
    c.value("w after the call", pw, w);
}

void run_normalise(context& c) {
    const int L = c.state->max_length;
    mpz_class x = c.operand(profile::linear, L);
    if (x == 0) x = c.magnitude(1);
    bool in_place = c.r.coin();
    c.form(in_place ? "normalise(x, x)" : "normalise(x, y)");
    c.note("x", x);
    bignum *px = pool(0), *py = pool(1);
    set_number(px, x);
    set_number(py, c.operand(profile::linear, L));
    bignum* out = in_place ? px : py;
    mr_digit d = normalise(px, out);
    // d = floor(2^32 / (top + 1)), 1 for a top word of 2^32 - 1.
    mpz_class top = abs(x) >> (32 * (words_of(x) - 1));
    unsigned long t = top.get_ui();
    unsigned long want_d = t == 0xFFFFFFFFul ? 1 : (1ul << 32) / (t + 1);
    if (!c.no_error()) return;
    c.integer("factor", d, static_cast<long long>(want_d));
    c.value("y", out, x * static_cast<unsigned long>(d));
    c.integer("length of y", words_of(to_mpz(out)), words_of(x));
    if (!in_place) c.value("x after the call", px, x);
}

}  // namespace

const family oracle::muldiv_family{"muldiv", {
    {"multiply", run_multiply, 3},
    {"divide", run_divide, 3},
    {"mad", run_mad, 2},
    {"normalise", run_normalise, 1},
}};
