// The engine instance, number blocks, comparisons, the error reporter and the
// random word generator.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>

#include "engine_fixture.h"
#include "workspace.h"
#include "primitives.h"
#include "products.h"
#include "thresholds.h"

using StateTest = EngineTest;

TEST_F(StateTest, MirsysSettingsForTheCalculator) {
    EXPECT_EQ(state, get_engine());
    EXPECT_EQ(state->digit_base, 0u);
    EXPECT_EQ(state->external_base, 16u);
    EXPECT_EQ(state->digits_per_word, 8);
    EXPECT_EQ(state->bits_per_digit, 32);
    EXPECT_EQ(state->digit_base_pow2, 0u);
    EXPECT_EQ(state->max_length, 2049);
    EXPECT_EQ(state->io_base, 10);
    EXPECT_EQ(state->prime_trials, 6);
    EXPECT_EQ(state->io_buffer_size, 2559);
    EXPECT_EQ(state->length_check, 1);
    EXPECT_EQ(state->trace_depth, 0);
    EXPECT_EQ(state->trace[0], 0);
    EXPECT_EQ(state->initialised, 1);
    EXPECT_EQ(state->random_index, 37);
    EXPECT_EQ(state->prime_table, nullptr);
    ASSERT_NE(state->io_buffer, nullptr);
    EXPECT_EQ(state->io_buffer[0], '\0');
    EXPECT_EQ(state->modulus->len, 0u);
    // mirsys leaves errors fatal; the fixture switched them to recorded.
    EXPECT_EQ(state->error_number, 0);
}

TEST_F(StateTest, DigitBaseDerivation) {
    struct Case {
        std::uint32_t base, digit_base;
        int per_word;
    } cases[] = {
        {10, 1000000000u, 9}, {8, 1u << 30, 10}, {256, 0, 4},     {16, 0, 8},
        {2, 0, 32},           {4, 0, 16},         {65536, 0, 2},   {3, 1162261467u, 19},
        {36, 60466176u, 5},   {60, 777600000u, 5}, {32, 1u << 30, 6}, {0, 0, 1}, {1, 1, 1},
    };
    for (const auto& c : cases) {
        set_digit_base(c.base);
        EXPECT_EQ(state->digit_base, c.digit_base) << "base " << c.base;
        EXPECT_EQ(state->digits_per_word, c.per_word) << "base " << c.base;
        EXPECT_EQ(state->external_base, c.base);
    }
    // Only mirsys sets the bit fields.
    EXPECT_EQ(state->bits_per_digit, 32);
}

TEST(StatePrecision, WordCountFromDigitsOrBytes) {
    struct Case {
        int digits;
        std::uint32_t base;
        int max_length, bits;
    } cases[] = {{0, 16, 2, 32}, {-4, 16, 2, 32}, {-5, 16, 3, 32}, {16384, 16, 2049, 32}, {9, 10, 2, 29}, {10, 10, 3, 29}};
    for (const auto& c : cases) {
        mr_state* s = mirsys(c.digits, c.base);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->max_length, c.max_length) << c.digits << " digits of base " << c.base;
        EXPECT_EQ(s->bits_per_digit, c.bits);
        release_engine();
        EXPECT_EQ(get_engine(), nullptr);
    }
}

TEST_F(StateTest, WorkspaceSlotsHaveTheirRoom) {
    auto bytes_between = [](const bignum* a, const bignum* b) {
        return reinterpret_cast<const char*>(b) - reinterpret_cast<const char*>(a);
    };
    auto digits_end_room = [&](const bignum* a, const bignum* next) {
        return (reinterpret_cast<const char*>(next) - reinterpret_cast<const char*>(a->w)) /
               static_cast<long>(sizeof(mr_digit));
    };
    const int ml = state->max_length;
    // Double-length numbers reach the next number in use only after
    // 2 * max_length + 3 digits; single ones after max_length.
    EXPECT_GE(digits_end_room(state->accumulator, state->scratch1), 2 * ml + 3);
    EXPECT_GE(digits_end_room(state->scratch5, state->scratch6), 2 * ml + 3);
    EXPECT_GE(digits_end_room(state->scratch6, state->scratch7), 2 * ml + 3);
    EXPECT_GE(digits_end_room(state->scratch7, state->scratch8), 2 * ml + 3);
    bignum* singles[] = {state->scratch1, state->scratch2, state->scratch3, state->scratch4, state->scratch5};
    for (int i = 0; i + 1 < 5; ++i) EXPECT_GE(digits_end_room(singles[i], singles[i + 1]), ml);
    EXPECT_GT(bytes_between(state->scratch15, state->modulus), 0);
    for (const bignum* n : {state->accumulator, state->scratch1, state->scratch9, state->modulus}) {
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(n) % alignof(bignum), 0u);
        EXPECT_EQ(reinterpret_cast<const char*>(n->w), reinterpret_cast<const char*>(n) + number_header_bytes);
    }
    // The accumulator really holds a double-length number.
    for (int i = 0; i < 2 * ml + 3; ++i) state->accumulator->w[i] = 0xFFFFFFFFu;
    EXPECT_EQ(state->scratch1->len, 0u);
    EXPECT_EQ(state->scratch1->w[0], 0u);
    for (int i = 0; i < 2 * ml + 3; ++i) state->accumulator->w[i] = 0;
}

// The division and reduce areas hold the most their routines' layouts ask
// for any operands the instance allows: every dividend of up to
// 2 max_length + 3 words by every divisor, and every modulus of up to
// max_length words.
TEST(StateAreasTest, DivisionAndReductionFitEveryShape) {
    for (const int ml : {3, 40, 300, 2049}) {
        mr_state* s = mirsys(8 * (ml - 1), 16);
        ASSERT_EQ(s->max_length, ml);
        if (ml <= 300) {  // every shape: quadratic in max_length
            std::size_t divide_most = 0;
            for (int t = 2; t <= 2 * ml + 3; ++t)
                for (int n = 2; n <= t; ++n) divide_most = std::max(divide_most, divide_layout_for(t, n).words());
            EXPECT_EQ(scratch_words_size(area_divide), divide_most) << "max_length " << ml;
        }
        const std::size_t reduce_room = scratch_words_size(area_reduce) - reduce_area_fixed_words(ml);
        for (int k = 1; k <= ml; ++k) {
            std::size_t need = std::max(low_product_scratch_words(k), wrapped_product_scratch_words(k));
            if (k < monty_multiply_reduce_min)
                for (int j = 1; j <= k; ++j) need = std::max(need, product_scratch_words(k, j));
            if (k < monty_words_below()) need = std::max(need, power_tables_words(k));
            ASSERT_GE(reduce_room, need) << "max_length " << ml << ", modulus of " << k << " words";
        }
        release_engine();
    }
}

TEST_F(StateTest, MirvarAndSetFromInt) {
    bignum* a = num(-5);
    EXPECT_EQ(a->len, 0x80000001u);
    EXPECT_EQ(a->w[0], 5u);
    EXPECT_EQ(num(0)->len, 0u);
    bignum* b = num();
    set_from_int(INT_MIN, b);
    EXPECT_EQ(b->len, 0x80000001u);
    EXPECT_EQ(b->w[0], 0x80000000u);
    set_digit_base(10);
    set_from_int(INT_MIN, b);
    EXPECT_EQ(b->len, 0x80000002u);
    EXPECT_EQ(b->w[0], 147483648u);
    EXPECT_EQ(b->w[1], 2u);
    set_from_int(0, b);
    EXPECT_EQ(b->len, 0u);
    EXPECT_EQ(b->w[0], 0u);
    EXPECT_EQ(b->w[1], 0u);
    // The whole block is usable and zero.
    bignum* c = num();
    for (int i = 0; i < state->max_length; ++i) ASSERT_EQ(c->w[i], 0u);
}

TEST_F(StateTest, MirvarRefusesWithoutWorkspaceOrWithAnError) {
    state->initialised = 0;
    EXPECT_EQ(mirvar(1), nullptr);
    EXPECT_EQ(state->error_number, 18);
    state->initialised = 1;
    EXPECT_EQ(mirvar(1), nullptr);  // sticky error
    EXPECT_EQ(engine_alloc(1, 8), nullptr);
    EXPECT_EQ(workspace_number(state->workspace_block, 0), nullptr);
    EXPECT_EQ(state->trace_depth, 0);
}

TEST_F(StateTest, CompareOrdersSignedValues) {
    bignum* v[] = {words({7, 1}, true), num(-3), num(-2), num(0), num(2), num(3), words({0, 1}), words({7, 1})};
    const int n = sizeof(v) / sizeof(v[0]);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) EXPECT_EQ(compare_numbers(v[i], v[j]), (i > j) - (i < j)) << i << " vs " << j;
    EXPECT_EQ(compare_numbers(num(0), num(0)), 0);
}

TEST_F(StateTest, IntValueIsASmallValueTest) {
    EXPECT_EQ(int_value(num((1 << 30) - 1)), (1 << 30) - 1);
    EXPECT_EQ(int_value(num(-((1 << 30) - 1))), -((1 << 30) - 1));
    EXPECT_EQ(int_value(num(1 << 30)), 1 << 30);
    EXPECT_EQ(int_value(words({1, 1}, true)), -(1 << 30));
    EXPECT_EQ(int_value(nullptr), 0);
    bignum* flash = words({3});
    flash->len |= 1u << 16;
    flash->w[1] = 4;
    EXPECT_EQ(is_flash_number(flash), 1);
    EXPECT_EQ(stored_length(flash), 2);
    EXPECT_EQ(int_value(flash), 1 << 30);
}

TEST_F(StateTest, SignHandlingNeverSignsZero) {
    bignum* z = num();
    negate_number(z, z);
    EXPECT_EQ(z->len, 0u);
    set_sign(-1, z);
    EXPECT_EQ(z->len, 0u);
    EXPECT_EQ(sign_of(z), 1);
    bignum* x = words({0, 0, 0}, false);  // strips to zero
    EXPECT_EQ(x->len, 0u);
    x->w[0] = 0;
    x->len = 2 | mr_sign_bit;  // a negative number with zero words only
    strip_leading_zeros(x);
    EXPECT_EQ(x->len, 0u);
    bignum* y = num(9);
    negate_number(y, y);
    EXPECT_EQ(sign_of(y), -1);
    abs_number(y, z);
    EXPECT_EQ(z->len, 1u);
    set_sign(-1, z);
    EXPECT_EQ(z->len, 0x80000001u);
}

TEST_F(StateTest, CopyClearsTheLongerTargetsUpperWords) {
    bignum* longer = words(random_words(50), true);
    bignum* shorter = words({5, 6});
    copy_number(shorter, longer);
    EXPECT_EQ(words_of(longer), (std::vector<mr_digit>{5, 6}));
    EXPECT_FALSE(negative(longer));
    expect_well_formed(longer, state->max_length);
    copy_number(nullptr, longer);
    EXPECT_EQ(longer->len, 0u);
    expect_well_formed(longer, state->max_length);
}

TEST_F(StateTest, RandomWordsRefillEvery37Calls) {
    // The pool as mirsys seeds it, refilled the way the generator must.
    std::uint32_t pool[37];
    pool[0] = 0x55555555u;
    pool[1] = 0x12345678u;
    for (int i = 0; i < 35; ++i) pool[i + 2] = pool[i + 1] + pool[i] + 0x1379BDF1u;
    std::uint32_t borrow = 0;
    auto refill = [&] {
        for (int k = 0, j = 13; k < 37; ++k, ++j) {
            if (j == 37) j = 0;
            std::uint32_t t = pool[j] - pool[k] - borrow;
            if (t != pool[j]) borrow = t > pool[j];
            pool[k] = t;
        }
    };
    std::vector<std::uint32_t> first;
    for (int round = 0; round < 3; ++round) {
        refill();
        for (int i = 0; i < 37; ++i) {
            std::uint32_t r = random_word();
            ASSERT_EQ(r, pool[i]) << "round " << round << " call " << i;
            first.push_back(r);
        }
    }
    EXPECT_NE(first[0], first[37]);
    // A new instance starts the same sequence again.
    release_engine();
    state = mirsys(16384, 16);
    state->error_continue = 1;
    for (std::size_t i = 0; i < first.size(); ++i) ASSERT_EQ(random_word(), first[i]) << i;
}

TEST_F(StateTest, RecordedErrorsAreStickyAndStopTracedRoutines) {
    bignum* x = num(10);
    bignum* z = num(77);
    EXPECT_EQ(subdiv(x, 0, z), 0);
    EXPECT_EQ(state->error_number, 2);
    EXPECT_EQ(z->w[0], 77u);
    add(x, x, z);
    premult(x, 3, z);
    mr_shift(x, 1, z);
    EXPECT_EQ(z->w[0], 77u);
    EXPECT_EQ(z->len, 1u);
    EXPECT_EQ(state->trace_depth, 0);
    // A later report replaces the recorded code.
    report_error(3);
    EXPECT_EQ(state->error_number, 3);
}

// The loops that report no progress take a cancel request too: the Euclid
// passes of both GCDs, the blocks of a recursive division and the splits of
// both text conversions. Each routine then stops with the cancel as its
// error (not an overflow), and once the request and the error are cleared
// the same call gives the whole result: nothing kept between calls, such as
// the conversion's powers, was left half made.
TEST_F(StateTest, CancelRequestStopsTheLoopsWithoutProgress) {
    std::mt19937 gen(18);
    std::vector<mr_digit> xw(2048), yw(1024);
    for (mr_digit& w : xw) w = gen();
    for (mr_digit& w : yw) w = gen();
    xw.back() |= 1u << 31;
    yw.back() |= 1u;
    bignum* x = words(xw);
    bignum* y = words(yw, true);
    std::vector<char> text(70000);
    state->io_base = 10;
    ASSERT_GT(cotstr(x, text.data()), 19000);
    const std::string decimal = text.data();
    // Text of up to max_length words of 10^9 is read by splitting.
    ASSERT_GT(cotstr(y, text.data()), 9000);
    const std::string short_decimal = text.data();
    state->io_base = 16;

    bignum* out1 = num();
    bignum* out2 = num();
    bignum* out3 = num();
    const std::vector<std::pair<const char*, std::function<void()>>> calls = {
        {"egcd", [&] { egcd(x, y, out1); }},
        {"xgcd", [&] { xgcd(x, y, out1, out2, out3); }},
        {"divide", [&] {
             copy_number(x, out1);
             divide(out1, y, out2);
         }},
        {"cotstr", [&] {
             state->io_base = 10;
             std::fill(text.begin(), text.end(), '\0');
             cotstr(x, text.data());
             set_from_int(0, out1);
             if (decimal == text.data()) set_from_int(1, out1);
         }},
        {"cinstr", [&] {
             state->io_base = 10;
             cinstr(out1, short_decimal.c_str());
         }},
    };
    for (const auto& [name, call] : calls) {
        SCOPED_TRACE(name);
        zero_number(out1);
        zero_number(out2);
        zero_number(out3);
        call();
        state->io_base = 16;
        ASSERT_EQ(state->error_number, 0);
        const std::vector<mr_digit> want1 = words_of(out1), want2 = words_of(out2), want3 = words_of(out3);

        request_cancel();
        call();
        clear_cancel_request();
        state->io_base = 16;
        EXPECT_EQ(state->error_number, mr_error_cancelled);
        EXPECT_EQ(state->trace_depth, 0);
        state->error_number = 0;
        if (state->digit_base != 0 || state->external_base != 16) set_digit_base(16);

        zero_number(out1);
        zero_number(out2);
        zero_number(out3);
        call();
        state->io_base = 16;
        EXPECT_EQ(state->error_number, 0);
        EXPECT_EQ(words_of(out1), want1);
        EXPECT_EQ(words_of(out2), want2);
        EXPECT_EQ(words_of(out3), want3);
    }
    EXPECT_EQ(compare_numbers(x, words(xw)), 0);
    EXPECT_EQ(compare_numbers(y, words(yw, true)), 0);
}

TEST(StateNames, TablesOfRoutinesAndMessages) {
    EXPECT_STREQ(routine_name(0), "your program");
    EXPECT_STREQ(routine_name(33), "mr_shift");
    EXPECT_STREQ(routine_name(142), "set_io_buffer_size");
    EXPECT_STREQ(routine_name(44), "");
    EXPECT_STREQ(routine_name(119), "");
    EXPECT_STREQ(routine_name(124), "");
    int named = 0;
    for (int k = 0; k < routine_name_count; ++k)
        if (std::string(routine_name(k)) != "unused" && k != 44 && k != 119 && k != 124) ++named;
    EXPECT_EQ(named, 43);
    EXPECT_STREQ(error_message(19), "Illegal modulus \n");
    EXPECT_STREQ(error_message(28), "Composite modulus\n");
    EXPECT_STREQ(error_message(29), "Calculation cancelled\n");
    EXPECT_STREQ(error_message(30), "Undefined error\n");
    EXPECT_STREQ(error_message(0), "Undefined error\n");
}

namespace {

struct ChildResult {
    std::string out;
    int status = -1;
};

// Runs `body` in a child process and collects what it writes to standard
// output and its exit status.
template <typename F>
ChildResult run_in_child(F body) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        dup2(fds[1], 1);
        body();
        std::fflush(stdout);
        _exit(99);  // report_error did not end the process
    }
    close(fds[1]);
    ChildResult r;
    char buf[512];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) r.out.append(buf, static_cast<std::size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

}  // namespace

TEST(StateErrorReport, FatalErrorPrintsTheTraceAndFails) {
    ChildResult r = run_in_child([] {
        mirsys(16384, 16);
        bignum* x = mirvar(7);
        x->len |= 1u << 16;  // a flash number
        remain(x, 3);
    });
    EXPECT_EQ(r.out,
              "\nEngine error from routine subdiv\n"
              "              called from remain\n"
              "              called from your program\n"
              "Integer operation attempted on Flash number\n");
    EXPECT_EQ(r.status, 1);
}

TEST(StateErrorReport, ThreeDeepTraceAndOverflowingDepth) {
    ChildResult r = run_in_child([] {
        mr_state* s = mirsys(16384, 16);
        s->trace_depth = 3;
        s->trace[1] = rn_expint;
        s->trace[2] = rn_expb2;
        s->trace[3] = rn_mr_shift;
        report_error(3);
    });
    EXPECT_EQ(r.out,
              "\nEngine error from routine mr_shift\n"
              "              called from expb2\n"
              "              called from expint\n"
              "              called from your program\n"
              "Overflow - Number too big\n");
    EXPECT_EQ(r.status, 1);

    ChildResult deep = run_in_child([] {
        mr_state* s = mirsys(16384, 16);
        s->trace_depth = 25;
        for (int d = 1; d < 24; ++d) s->trace[d] = rn_add;
        report_error(40);
    });
    EXPECT_EQ(deep.out.rfind("\nEngine error from routine ???\n              called from ???\n", 0), 0u);
    EXPECT_NE(deep.out.find("called from add\n              called from your program\nUndefined error\n"),
              std::string::npos);
    EXPECT_EQ(deep.status, 1);
}

TEST(StateErrorReport, IllegalBaseEndsMirsys) {
    ChildResult r = run_in_child([] { mirsys(100, 1); });
    EXPECT_EQ(r.out, "\nEngine error from routine mirsys\n              called from your program\nIllegal number base\n");
    EXPECT_EQ(r.status, 1);
    ChildResult big = run_in_child([] { mirsys(-200000, 16); });
    EXPECT_NE(big.out.find("Numbers too big\n"), std::string::npos);
    EXPECT_EQ(big.status, 1);
}

#ifndef NDEBUG
// Debug builds stop a routine that claims a workspace number or scratch area
// that a caller still holds a value in (here scratch5, where power keeps its
// running square, and the product area of multiply's squares), instead of
// letting it overwrite that value. A routine's claims end on every way out,
// an early error return included.
TEST_F(StateTest, SecondLiveClaimOfScratchEndsTheProcess) {
    bignum* x = num(3);
    bignum* w = num();
    power(x, -1, w, w);  // error 10, after power has claimed scratch5
    EXPECT_EQ(engine_error(), mr_error_negative_power);
    clear_engine_error();
    {
        const workspace_claim free_again(ws::scratch5);
    }
    power(x, 5, w, w);
    EXPECT_EQ(int_value(w), 243);

    EXPECT_DEATH(
        {
            const workspace_claim held(ws::scratch5);
            power(x, 5, w, w);
        },
        "scratch5 claimed here while a caller still holds it");
    bignum* big = words(std::vector<mr_digit>(64, 0x9E3779B9u));
    EXPECT_DEATH(
        {
            const scratch_claim held(area_product);
            multiply(big, big, w);
        },
        "the product area claimed here while a caller still holds it");
}
#endif
