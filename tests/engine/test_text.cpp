// Text conversion, checked against digits formed here by plain schoolbook
// division, and by round trips value -> text -> value in every base from 2
// to 256, for small numbers and for numbers of the largest size.
#include <algorithm>
#include <cmath>
#include <string>

#include "engine_fixture.h"
#include "text.h"

namespace {

constexpr char alphanumeric_digits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwx";

// Digits of the magnitude `ws` in `base`, most significant first (none for
// zero), by repeated division by the largest power of the base below 2^32.
std::vector<unsigned> reference_digits(std::vector<mr_digit> ws, unsigned base) {
    std::uint64_t chunk = base;
    unsigned per_chunk = 1;
    while (chunk * base < (std::uint64_t{1} << 32)) {
        chunk *= base;
        ++per_chunk;
    }
    std::vector<unsigned> digits;  // least significant first
    while (!ws.empty() && ws.back() == 0) ws.pop_back();
    while (!ws.empty()) {
        std::uint64_t r = 0;
        for (std::size_t i = ws.size(); i-- > 0;) {
            std::uint64_t t = (r << 32) | ws[i];
            ws[i] = static_cast<mr_digit>(t / chunk);
            r = t % chunk;
        }
        while (!ws.empty() && ws.back() == 0) ws.pop_back();
        for (unsigned j = 0; j < per_chunk; ++j, r /= base) digits.push_back(static_cast<unsigned>(r % base));
    }
    while (!digits.empty() && digits.back() == 0) digits.pop_back();
    return {digits.rbegin(), digits.rend()};
}

// The text the engine should write for ±ws in `base`.
std::string reference_text(const std::vector<mr_digit>& ws, bool negative, unsigned base) {
    std::vector<unsigned> digits = reference_digits(ws, base);
    std::string text;
    if (base > 60) {
        for (unsigned d : digits) text += static_cast<char>(d);
        return text;
    }
    if (digits.empty()) return "0";
    if (negative) text += '-';
    for (unsigned d : digits) text += alphanumeric_digits[d];
    return text;
}

class TextTest : public EngineTest {
protected:
    // cotstr into a caller buffer, which has no length limit.
    std::string write(bignum* x, int base) {
        state->io_base = base;
        int count = cotstr(x, out.data());
        return {out.data(), static_cast<std::size_t>(count)};
    }
    int read(bignum* x, const std::string& text, int base) {
        state->io_base = base;
        return cinstr(x, text.c_str());
    }
    void expect_working_radix() {
        EXPECT_EQ(state->digit_base, 0u);
        EXPECT_EQ(state->external_base, 16u);
        EXPECT_EQ(state->digits_per_word, 8);
        EXPECT_EQ(state->length_check, 1);
        EXPECT_EQ(state->trace_depth, 0);
    }
    bool equal(const bignum* x, const std::vector<mr_digit>& ws, bool neg) {
        return words_of(x) == ws && negative(x) == (neg && !ws.empty());
    }
    // Random non-zero digits of `base`, for raw-byte text (a zero byte ends it).
    std::string random_raw_text(unsigned base, std::size_t length) {
        std::string t;
        for (std::size_t i = 0; i < length; ++i) t += static_cast<char>(1 + rng() % (base - 1));
        return t;
    }

    std::vector<char> out = std::vector<char>(140000);
};

TEST_F(TextTest, SmallValuesInEveryBaseMatchTheReferenceAndReadBack) {
    const std::vector<std::pair<std::vector<mr_digit>, bool>> values = {
        {{}, false},           {{1}, false}, {{1}, true},  {{0xFFFFFFFFu}, true}, {{0, 1}, false},
        {random_words(1), false}, {random_words(7), true}, {{0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu}, false},
    };
    bignum* x = num();
    bignum* y = num();
    for (unsigned base = 2; base <= 256; ++base) {
        for (const auto& [ws, neg] : values) {
            SCOPED_TRACE("base " + std::to_string(base) + ", " + std::to_string(ws.size()) + " words");
            set_words(x, ws, neg);
            std::string text = write(x, static_cast<int>(base));
            ASSERT_EQ(text, reference_text(ws, neg, base));
            EXPECT_TRUE(equal(x, ws, neg)) << "cotstr changed its operand";
            if (text.find('\0') == std::string::npos) {
                EXPECT_EQ(read(y, text, static_cast<int>(base)), static_cast<int>(text.size()));
                // Above base 60 the text carries no sign.
                EXPECT_TRUE(equal(y, ws, neg && base <= 60));
                expect_well_formed(y, state->max_length);
            }
            expect_working_radix();
        }
    }
    EXPECT_EQ(state->error_number, 0);
}

// Numbers of max_length (or one less) words: value -> text -> value.
TEST_F(TextTest, LargestNumbersRoundTripInAlphanumericBases) {
    set_io_buffer_size(140000);
    const int n = state->max_length;
    bignum* x = num();
    bignum* y = num();
    for (int base = 2; base <= 60; ++base) {
        SCOPED_TRACE("base " + std::to_string(base));
        state->io_base = base;
        std::vector<mr_digit> ws = random_words(base % 3 == 0 ? n - 1 : n);
        bool neg = base % 2 == 1;
        set_words(x, ws, neg);
        int count = cotstr(x, state->io_buffer);
        ASSERT_GT(count, 0);
        ASSERT_EQ(cinstr(y, state->io_buffer), count);
        EXPECT_TRUE(equal(y, ws, neg));
        expect_working_radix();
    }
    EXPECT_EQ(state->error_number, 0);
}

// Raw-byte text cannot hold a zero digit, so these go text -> value -> text,
// with the most non-zero digits whose value surely fits in max_length words.
TEST_F(TextTest, LargestNumbersRoundTripInRawByteBases) {
    set_io_buffer_size(140000);
    const int n = state->max_length;
    bignum* x = num();
    for (int base = 61; base <= 256; ++base) {
        SCOPED_TRACE("base " + std::to_string(base));
        const auto length = static_cast<std::size_t>(32.0 * n / std::log2(base) - 0.01);
        std::string text = random_raw_text(static_cast<unsigned>(base), length);
        int count = read(x, text, base);
        ASSERT_EQ(count, static_cast<int>(text.size()));
        EXPECT_GE(words_of(x).size(), static_cast<std::size_t>(n - 1));
        ASSERT_EQ(cotstr(x, state->io_buffer), count);
        EXPECT_EQ(std::string(state->io_buffer, static_cast<std::size_t>(count)), text);
        expect_working_radix();
    }
    EXPECT_EQ(state->error_number, 0);
}

TEST_F(TextTest, DecimalTextOfTheLargestNumberReadsAsItsHexadecimalText) {
    const int n = state->max_length;
    for (const auto& ws : {std::vector<mr_digit>(static_cast<std::size_t>(n), 0xFFFFFFFFu), random_words(n)}) {
        bignum* x = words(ws);
        std::string decimal = write(x, 10);
        EXPECT_EQ(decimal, reference_text(ws, false, 10));
        EXPECT_EQ(write(x, 255), reference_text(ws, false, 255));
        bignum* from_decimal = num();
        bignum* from_hex = num();
        EXPECT_EQ(read(from_decimal, decimal, 10), static_cast<int>(decimal.size()));
        std::string hex = reference_text(ws, false, 16);
        EXPECT_EQ(read(from_hex, hex, 16), static_cast<int>(hex.size()));
        EXPECT_EQ(compare_numbers(from_decimal, from_hex), 0);
        EXPECT_TRUE(equal(from_decimal, ws, false));
    }
    EXPECT_EQ(state->error_number, 0);
}

TEST_F(TextTest, InputEdgeCases) {
    struct input_case {
        int base;
        std::string text;
        long long value;
        int count;  // 0 with an input format error
        int error;
    };
    const input_case cases[] = {
        {10, "", 0, 0, 0},          {10, "007", 7, 3, 0},        {10, "-0", 0, 2, 0},
        {10, "   -+12", -12, 7, 0}, {10, "+12", 12, 3, 0},       {10, " 12", 12, 3, 0},
        {10, "-", 0, 1, 0},         {10, "   ", 0, 3, 0},        {10, "12\n34", 12, 2, 0},
        {10, "\n12", 0, 0, 0},      {10, "- 12", 0, 0, 5},       {10, "12 ", 0, 0, 5},
        {10, "+-12", 0, 0, 5},      {10, "++12", 0, 0, 5},       {10, "1A", 0, 0, 5},
        {2, "-1012", 0, 0, 5},      {16, "ff", 255, 2, 0},       {16, "FF", 255, 2, 0},
        {16, "-fF", -255, 3, 0},    {16, "g", 0, 0, 5},          {36, "Z", 35, 1, 0},
        {36, "z", 0, 0, 5},         {36, "10", 36, 2, 0},        {60, "x", 59, 1, 0},
        {60, "a", 36, 1, 0},        {60, "X", 33, 1, 0},         {60, "y", 0, 0, 5},
        {60, "-10", -60, 3, 0},     {256, std::string("\x01\x00\x05", 3), 1, 1, 0},
        {256, " ", 32, 1, 0},       {256, "\n\n", 10 * 256 + 10, 2, 0},
        {256, "-", 45, 1, 0},       {100, "c", 99, 1, 0},        {100, "d", 0, 0, 5},
        {61, "x", 0, 0, 5},
    };
    bignum* x = num();
    for (const auto& c : cases) {
        SCOPED_TRACE("base " + std::to_string(c.base) + " text \"" + c.text + "\"");
        set_from_int(77, x);
        EXPECT_EQ(read(x, c.text, c.base), c.count);
        EXPECT_EQ(state->error_number, c.error);
        EXPECT_EQ(int_value(x), c.error ? 77 : c.value) << "x must stay unchanged on error";
        expect_well_formed(x, state->max_length);
        expect_working_radix();
        state->error_number = 0;
    }
}

TEST_F(TextTest, InputFormatErrorLeavesTheDigitsRightOfTheBadCharacterInInstr) {
    bignum* x = num();
    set_digit_base(10);
    EXPECT_EQ(instr(x, "-12x45"), 0);
    EXPECT_EQ(state->error_number, 5);
    EXPECT_EQ(words_of(x), std::vector<mr_digit>{45});
    EXPECT_FALSE(negative(x));
}

// Zero and the sign in every base are covered by the reference test above.
TEST_F(TextTest, OutputIsTerminatedAndCrossesWordBoundaries) {
    struct output_case {
        int base;
        int value;
        std::string text;
    };
    const output_case cases[] = {
        {10, 0, "0"},        {256, 0, ""},        {256, -255, "\xFF"},
        {60, -3599, "-xx"},  {10, 1000000000, "1000000000"},
        {256, 256, std::string("\x01\x00", 2)}, {8, 1 << 30, "10000000000"},
    };
    bignum* x = num();
    for (const auto& c : cases) {
        SCOPED_TRACE("base " + std::to_string(c.base) + " value " + std::to_string(c.value));
        set_from_int(c.value, x);
        std::fill(out.begin(), out.begin() + 16, 'q');
        EXPECT_EQ(write(x, c.base), c.text);
        EXPECT_EQ(out[c.text.size()], '\0');
    }
    EXPECT_EQ(state->error_number, 0);
}

TEST_F(TextTest, IoBufferHoldsItsSizeLessFiveCharacters) {
    set_io_buffer_size(65535);
    bignum* x = num();
    state->io_base = 2;
    // 2^k has k + 1 binary digits.
    auto power_of_two = [&](int k, bool neg) {
        std::vector<mr_digit> ws(static_cast<std::size_t>(k / 32) + 1, 0);
        ws.back() = mr_digit{1} << (k % 32);
        set_words(x, ws, neg);
    };
    power_of_two(65529, false);
    EXPECT_EQ(cotstr(x, state->io_buffer), 65530);
    EXPECT_EQ(state->error_number, 0);
    EXPECT_EQ(state->io_buffer[65530], '\0');
    power_of_two(65528, true);
    EXPECT_EQ(cotstr(x, state->io_buffer), 65530);
    EXPECT_EQ(state->error_number, 0);

    power_of_two(65530, false);
    EXPECT_EQ(cotstr(x, state->io_buffer), 65530);
    EXPECT_EQ(state->error_number, 17);
    expect_working_radix();
    state->error_number = 0;
    power_of_two(65529, true);
    EXPECT_EQ(cotstr(x, state->io_buffer), 65530);
    EXPECT_EQ(state->error_number, 17);
    state->error_number = 0;

    // The same number fits in a caller's buffer.
    EXPECT_EQ(cotstr(x, out.data()), 65531);
    EXPECT_EQ(state->error_number, 0);

    // Reading the buffer: its text must stay shorter than its size.
    set_io_buffer_size(20);
    state->io_base = 10;
    std::string nineteen(19, '9');
    nineteen.copy(state->io_buffer, 19);
    EXPECT_EQ(cinstr(x, state->io_buffer), 19);
    EXPECT_EQ(state->error_number, 0);
    EXPECT_EQ(cotstr(x, state->io_buffer), 15);
    EXPECT_EQ(state->error_number, 17);
    EXPECT_EQ(std::string(state->io_buffer, 15), std::string(15, '9'));
    state->error_number = 0;
    std::string(20, '1').copy(state->io_buffer, 20);
    EXPECT_EQ(cinstr(x, state->io_buffer), 0);
    EXPECT_EQ(state->error_number, 17);
    expect_working_radix();
}

TEST_F(TextTest, TextBeyondTheLargestSizeIsOverflowAndLeavesTheWorkingRadix) {
    const int n = state->max_length;
    std::vector<mr_digit> too_big(static_cast<std::size_t>(n) + 1, 0);
    too_big.back() = 1;  // 2^(32 max_length): one word too many
    bignum* x = num(5);
    // Above base 60 the text is ones only (a zero byte would end it):
    // 255^length >= 2^(32 max_length).
    const std::string ones(static_cast<std::size_t>(std::ceil(32.0 * n / std::log2(255.0))) + 1, '\x01');
    for (int base : {2, 10, 16, 3, 60, 255}) {
        SCOPED_TRACE("base " + std::to_string(base));
        std::string text = base > 60 ? ones : reference_text(too_big, true, static_cast<unsigned>(base));
        EXPECT_EQ(read(x, text, base), 0);
        EXPECT_EQ(state->error_number, 3);
        EXPECT_EQ(int_value(x), 5);
        expect_working_radix();
        state->error_number = 0;
    }
    // Far more digits than the double-length text number holds.
    EXPECT_EQ(read(x, std::string(40000, '7'), 10), 0);
    EXPECT_EQ(state->error_number, 3);
    expect_working_radix();
    state->error_number = 0;
    // Leading zeros take no room: the value decides.
    std::string padded = std::string(200000, '0') + "12";
    EXPECT_EQ(read(x, padded, 10), static_cast<int>(padded.size()));
    EXPECT_EQ(int_value(x), 12);
    EXPECT_EQ(state->error_number, 0);
}

TEST_F(TextTest, BadTextBasesAreRefused) {
    bignum* x = num(9);
    for (int base : {0, 1, 257, -16}) {
        SCOPED_TRACE("base " + std::to_string(base));
        EXPECT_EQ(read(x, "1", base), 0);
        EXPECT_EQ(state->error_number, 1);
        state->error_number = 0;
        EXPECT_EQ(write(x, base), "");
        EXPECT_EQ(state->error_number, 1);
        state->error_number = 0;
        EXPECT_EQ(int_value(x), 9);
        expect_working_radix();
    }
    set_digit_base(1000);
    EXPECT_EQ(otstr(x, out.data()), 0);
    EXPECT_EQ(state->error_number, 1);
}

TEST_F(TextTest, PendingErrorMakesEveryRoutineReturnAtOnce) {
    bignum* x = num(42);
    bignum* y = num(7);
    state->error_number = 2;
    out[0] = 'q';
    EXPECT_EQ(read(x, "123", 10), 0);
    EXPECT_EQ(write(x, 10), "");
    EXPECT_EQ(instr(x, "5"), 0);
    EXPECT_EQ(otstr(x, out.data()), 0);
    EXPECT_EQ(out[0], 'q');
    cbase(x, 10, y);
    putdig(3, x, 1);
    EXPECT_EQ(int_value(x), 42);
    EXPECT_EQ(int_value(y), 7);
    EXPECT_EQ(state->error_number, 2);
    expect_working_radix();
}

TEST_F(TextTest, PutdigSetsOneDigitInAnyDigitBase) {
    bignum* x = num();
    putdig(5, x, 3);
    EXPECT_EQ(words_of(x), std::vector<mr_digit>{0x500});
    putdig(0xA, x, 9);
    EXPECT_EQ(words_of(x), (std::vector<mr_digit>{0x500, 0xA}));
    putdig(0, x, 9);
    putdig(7, x, 3);
    EXPECT_EQ(words_of(x), std::vector<mr_digit>{0x700});
    set_from_int(-1, x);
    putdig(2, x, 1);
    EXPECT_EQ(int_value(x), -2);

    set_digit_base(10);
    zero_number(x);
    putdig(7, x, 10);  // digit 10 is the first digit of word 1
    putdig(4, x, 9);
    EXPECT_EQ(words_of(x), (std::vector<mr_digit>{400000000, 7}));
    set_digit_base(16);

    // Beyond max_length words: refused, nothing changes.
    putdig(1, x, 8 * state->max_length + 1);
    EXPECT_EQ(state->error_number, 3);
    EXPECT_EQ(words_of(x), (std::vector<mr_digit>{400000000, 7}));
}

TEST_F(TextTest, CbaseChangesRadixInPlaceAndKeepsTheSign) {
    bignum* x = words({999999999, 999999999}, true);  // -(10^18 - 1) in radix 10^9
    cbase(x, 1000000000, x);
    EXPECT_EQ(words_of(x), (std::vector<mr_digit>{0xA763FFFFu, 0x0DE0B6B3u}));
    EXPECT_TRUE(negative(x));
    set_digit_base(10);
    bignum* y = num();
    cbase(x, 0, y);
    EXPECT_EQ(words_of(y), (std::vector<mr_digit>{999999999, 999999999}));
    EXPECT_TRUE(negative(y));
    set_digit_base(16);
    EXPECT_EQ(state->error_number, 0);

    // A result of more than max_length words is refused; y keeps its value.
    std::vector<mr_digit> nines(static_cast<std::size_t>(state->max_length), 999999999);
    set_words(x, nines);
    set_from_int(3, y);
    cbase(x, 1000000000, y);
    EXPECT_EQ(state->error_number, 0) << "2049 words of 10^9 fit in 2049 full words";
    set_words(state->scratch5, std::vector<mr_digit>(static_cast<std::size_t>(state->max_length) + 200, 999999999));
    set_from_int(3, y);
    cbase(state->scratch5, 1000000000, y);
    EXPECT_EQ(state->error_number, 3);
    EXPECT_EQ(int_value(y), 3);
    expect_well_formed(state->scratch6, 2 * state->max_length);
}

TEST_F(TextTest, SetIoBufferSizeReplacesTheBuffer) {
    set_io_buffer_size(-1);
    EXPECT_EQ(state->io_buffer_size, 2559);
    set_io_buffer_size(10);
    EXPECT_EQ(state->io_buffer_size, 10);
    ASSERT_NE(state->io_buffer, nullptr);
    EXPECT_EQ(std::string(state->io_buffer, 11), std::string(11, '\0'));
    set_io_buffer_size(0);
    EXPECT_EQ(state->io_buffer, nullptr);
    EXPECT_EQ(state->io_buffer_size, 0);
    // Without a buffer nothing can be written into it, and nothing crashes.
    bignum* x = num(5);
    state->io_base = 10;
    EXPECT_EQ(cotstr(x, state->io_buffer), 0);
    EXPECT_EQ(state->error_number, 17);
    EXPECT_EQ(state->trace_depth, 0);
}

// Some builds find the text's end eight bytes a step: a line feed or a
// zero byte at any place of a word, from any alignment of the text, ends
// the number there, and nothing after it is read.
TEST_F(TextTest, InputEndsAtTheFirstLineFeedOrZeroFromEveryAlignment) {
    bignum* x = num();
    bignum* expected = num();
    std::vector<char> buffer(8 + 40 + 16, '7');
    for (int offset = 0; offset < 8; ++offset) {
        for (int digits = 1; digits <= 40; ++digits) {
            for (const char end : {'\n', '\0'}) {
                SCOPED_TRACE("offset " + std::to_string(offset) + ", " + std::to_string(digits) + " digits, " +
                             (end == '\n' ? "line feed" : "zero"));
                std::fill(buffer.begin(), buffer.end(), '7');
                char* text = buffer.data() + offset;
                std::fill(text, text + digits, '1');
                text[digits] = end;
                buffer.back() = '\0';
                EXPECT_EQ(read(expected, std::string(static_cast<std::size_t>(digits), '1'), 10), digits);
                EXPECT_EQ(cinstr(x, text), digits);
                EXPECT_EQ(state->error_number, 0);
                EXPECT_EQ(compare_numbers(x, expected), 0);
            }
        }
    }
}

}  // namespace

// The conversion area is sized for the longest conversions of the instance's
// capacity: at every capacity, the largest number written and read back, and
// a text of the 2 max_length radix words that reading takes before it refuses,
// in bases whose radix is near 2^23, 2^30 and 2^31. Debug builds end the
// process when a conversion's pieces outgrow the bound they were sized by.
TEST(TextAreaTest, LongestConversionsFitAtEveryCapacity) {
    for (const int ml : {3, 40, 300, 700}) {
        mr_state* s = mirsys(8 * (ml - 1), 16);
        ASSERT_EQ(s->max_length, ml);
        s->error_continue = 1;
        bignum* x = mirvar(0);
        bignum* y = mirvar(0);
        std::vector<char> text(static_cast<std::size_t>(40 * ml) + 64);
        for (const int base : {3, 10, 60, 255}) {
            SCOPED_TRACE("max_length " + std::to_string(ml) + ", base " + std::to_string(base));
            for (int i = 0; i < ml; ++i) x->w[i] = 0xFFFFFFFFu - static_cast<mr_digit>(i);
            x->len = static_cast<std::uint32_t>(ml);
            s->io_base = base;
            const int count = cotstr(x, text.data());
            ASSERT_GT(count, 0);
            if (std::find(text.begin(), text.begin() + count, '\0') == text.begin() + count) {  // no zero byte
                ASSERT_EQ(cinstr(y, text.data()), count);
                EXPECT_EQ(compare_numbers(x, y), 0);
            }
            // Digits of 2 max_length words of the text radix b^k <= 2^31: one
            // digit more than the number's room, so error 3.
            int k = 0;
            for (long long p = 1; p * base <= 0x80000000ll; p *= base) ++k;
            std::string digits(static_cast<std::size_t>(2 * ml * k), base > 60 ? '\x01' : '1');
            EXPECT_EQ(cinstr(y, digits.c_str()), 0);
            EXPECT_EQ(s->error_number, 3);
            s->error_number = 0;
            EXPECT_EQ(s->digit_base, 0u);
        }
        free_number(x);
        free_number(y);
        release_engine();
    }
}
