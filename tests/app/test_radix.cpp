// The radix codec on its own: the digit filter of every base, the base-64
// form and the hexadecimal converters it goes through.
#include "radix.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string filtered(std::string text, int base) {
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    const int n = filter_digits(buffer.data(), base);
    std::string out(buffer.data());
    EXPECT_EQ(n, static_cast<int>(out.size()));
    return out;
}

std::vector<std::uint8_t> decoded(const std::string& text) {
    std::vector<std::uint8_t> bytes(text.size() + 8, 0xEE);
    const int n = base64_decode(text.c_str(), bytes.data());
    EXPECT_EQ(bytes[n], 0) << "terminator after the decoded bytes";
    bytes.resize(n);
    return bytes;
}

std::string encoded(const std::vector<std::uint8_t>& bytes) {
    std::string text(bytes.size() * 2 + 8, '#');
    const int n = base64_encode(bytes.data(), static_cast<int>(bytes.size()), text.data());
    if (n > 0) {
        EXPECT_EQ(text[n], '\0');
    }
    text.resize(n);
    return text;
}

// Big-endian magnitude bytes of a value, as the calculator hands them over
// (no leading zero byte, zero being the single byte 0).
std::vector<std::uint8_t> bytes_of(std::uint64_t v) {
    std::vector<std::uint8_t> out;
    do {
        out.insert(out.begin(), static_cast<std::uint8_t>(v & 0xFF));
        v >>= 8;
    } while (v != 0);
    return out;
}

std::uint64_t value_of(const std::vector<std::uint8_t>& bytes) {
    std::uint64_t v = 0;
    for (auto b : bytes) v = v * 256 + b;
    return v;
}

TEST(DigitFilter, KeepsExactlyTheDigitsOfEachBase) {
    const std::string all_printable = [] {
        std::string s;
        for (int c = 1; c < 256; ++c) s += static_cast<char>(c);
        return s;
    }();
    EXPECT_EQ(filtered(all_printable, 2), "01");
    EXPECT_EQ(filtered(all_printable, 8), "01234567");
    EXPECT_EQ(filtered(all_printable, 10), "0123456789");
    EXPECT_EQ(filtered(all_printable, 16), "0123456789ABCDEFabcdef");
    EXPECT_EQ(filtered(all_printable, 36), "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    EXPECT_EQ(filtered(all_printable, 60), base60_alphabet);
    EXPECT_EQ(filtered(all_printable, 64), "+/0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
}

TEST(DigitFilter, LeadingMinusIsKeptOthersDropped) {
    for (int base : {2, 8, 10, 16, 36, 60, 64}) {
        SCOPED_TRACE(base);
        EXPECT_EQ(filtered("-1-0-1", base), "-101");
        EXPECT_EQ(filtered("--1", base), "-1");
        EXPECT_EQ(filtered(" \t-1", base), "-1") << "blanks before the sign keep it";
        EXPECT_EQ(filtered("-", base), "-");
        EXPECT_EQ(filtered("", base), "");
    }
}

// A field showing zero, clicked into and typed "-7" on: the "-" is the sign
// while nothing but zero digits stands before it.
TEST(DigitFilter, AMinusAfterOnlyZerosIsTheSign) {
    for (int base : {2, 8, 10, 16, 36, 60}) {
        SCOPED_TRACE(base);
        EXPECT_EQ(filtered("0-1", base), "-1");
        EXPECT_EQ(filtered("00-1", base), "-1");
        EXPECT_EQ(filtered("0-0-1", base), "-01") << "one sign only";
        EXPECT_EQ(filtered("01-1", base), "011") << "after a non-zero digit it is dropped";
        EXPECT_EQ(filtered("0 -1", base), "-1") << "blanks between do not count";
        EXPECT_EQ(filtered("0.-1", base), "01") << "anything else does";
    }
    EXPECT_EQ(filtered("0-7", 10), "-7");
    EXPECT_EQ(filtered("AA-QQ", 64), "-QQ") << "A is the zero digit of base 64";
    EXPECT_EQ(filtered("0-QQ", 64), "0QQ") << "and 0 is not";
    EXPECT_EQ(filtered("0-7", 256), "0-7");
}

// A pasted text is a number of the base, reduced to sign and digits, or it
// is refused at its first character that is none of digit, separator, sign
// in front, prefix or base-64 padding.
TEST(PastedDigits, ReadStrictlyOrRefusedAtTheFirstStrayCharacter) {
    struct Case {
        int base;
        const char* text;
        const char* kept;  // null: refused
        int refused;
    };
    const Case cases[] = {
        {10, "1,000,000.00", nullptr, 1}, {10, "1.5", nullptr, 1},     {10, "1e6", nullptr, 1},
        {10, "3-4", nullptr, 1},          {10, "0x1F", nullptr, 1},    {10, "--5", nullptr, 1},
        {10, "+5", nullptr, 0},           {10, "  -5", "-5", -1},      {10, "- 5", "-5", -1},
        {10, "0-7", "-7", -1},            {10, "0 0-7", "-7", -1},     {10, "1 000_000\r\n", "1000000", -1},
        {10, "", "", -1},                 {16, "0x1F", "1F", -1},      {16, "-0X1f", "-1f", -1},
        {16, "000x1F", "001F", -1},       {16, "0x-1F", nullptr, 2},  {16, "10x1F", nullptr, 2},
        {16, "0x0x1", nullptr, 3},        {2, "0b101", "101", -1},     {2, "0B1 0", "10", -1},
        {8, "0o17", "17", -1},            {8, "0x17", nullptr, 1},     {8, "18", nullptr, 1},
        {36, "zz", nullptr, 0},           {36, "-Z_Z", "-ZZ", -1},     {60, "-x y", nullptr, 3},
        {64, "/w==", "/w", -1},           {64, "AA-QQ", "-QQ", -1},    {64, "/w=A", nullptr, 3},
        {64, "A.B", nullptr, 1},           {256, "1,0.\x01", "1,0.\x01", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.base) + " \"" + c.text + "\"");
        std::vector<char> buffer(c.text, c.text + std::strlen(c.text) + 1);
        EXPECT_EQ(first_refused_character(buffer.data(), c.base), c.refused);
        EXPECT_EQ(filter_pasted_digits(buffer.data(), c.base), c.refused);
        EXPECT_STREQ(buffer.data(), c.kept != nullptr ? c.kept : c.text) << "a refused text is left as it was";
    }
}

TEST(DigitFilter, TypicalTypedText) {
    EXPECT_EQ(filtered("12a", 10), "12");
    EXPECT_EQ(filtered("1 000 000\r\n", 10), "1000000");
    EXPECT_EQ(filtered("dead BEEF", 16), "deadBEEF");
    EXPECT_EQ(filtered("zZ9", 36), "Z9") << "lower case is no digit of base 36";
    EXPECT_EQ(filtered("xyz", 60), "x") << "y and z are beyond digit 59";
    EXPECT_EQ(filtered("/w==", 64), "/w") << "padding is removed";
    EXPECT_EQ(filtered("AQ\nA\tA", 64), "AQAA");
    EXPECT_EQ(filtered("12389", 8), "123");
    EXPECT_EQ(filtered("!@#$%", 10), "");
}

TEST(DigitFilter, OtherBasesAreLeftAlone) {
    EXPECT_EQ(filtered("- \n\x01xyz", 256), "- \n\x01xyz");
}

TEST(Base64, RoundTripsOfNumbersAtByteBoundaries) {
    struct Case {
        std::uint64_t value;
        const char* text;
    };
    for (const Case& c : {Case{0, "AA"}, Case{255, "/w"}, Case{256, "AQA"}, Case{65535, "//8"}, Case{65536, "AQAA"},
                          Case{16777215, "////"}, Case{16777216, "AQAAAA"}, Case{65, "QQ"}, Case{16641, "QQE"}}) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(encoded(bytes_of(c.value)), c.text);
        EXPECT_EQ(value_of(decoded(c.text)), c.value);
    }
}

TEST(Base64, EveryByteValueAndEveryLengthRoundTrips) {
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < 300; ++i) {
        bytes.push_back(static_cast<std::uint8_t>((i * 97 + 13) & 0xFF));
        const std::string text = encoded(bytes);
        EXPECT_EQ(text.size(), (bytes.size() * 4 + 2) / 3);
        ASSERT_EQ(decoded(text), bytes) << "length " << bytes.size();
    }
}

TEST(Base64, LoneTrailingCharacterAddsNothing) {
    EXPECT_EQ(decoded("Q"), std::vector<std::uint8_t>{});
    EXPECT_EQ(decoded("QQ"), std::vector<std::uint8_t>{65});
    EXPECT_EQ(decoded("QQE"), (std::vector<std::uint8_t>{65, 1}));
    EXPECT_EQ(decoded("QUJDQ"), (std::vector<std::uint8_t>{'A', 'B', 'C'}));
    EXPECT_EQ(decoded(""), std::vector<std::uint8_t>{});
}

TEST(Base64, DecodingStopsAtTheFirstForeignCharacter) {
    EXPECT_EQ(decoded("/w=="), std::vector<std::uint8_t>{255});
    EXPECT_EQ(decoded("/w==AQAA"), std::vector<std::uint8_t>{255}) << "nothing after padding is read";
    EXPECT_EQ(decoded("-AQA"), std::vector<std::uint8_t>{}) << "a sign makes the value empty";
    EXPECT_EQ(decoded("QUJD\nREVG"), (std::vector<std::uint8_t>{'A', 'B', 'C'}));
    EXPECT_EQ(decoded("QU=D"), std::vector<std::uint8_t>{'A'});
}

TEST(Base64, EncodingNothingWritesNothing) {
    char text[4] = {'#', '#', '#', '#'};
    const std::uint8_t byte = 7;
    EXPECT_EQ(base64_encode(&byte, 0, text), 0);
    EXPECT_EQ(text[0], '#');
}

TEST(Hex, EncodeWritesUpperCasePairs) {
    const std::uint8_t bytes[] = {0x00, 0x0F, 0xA5, 0xFF};
    char text[16];
    std::fill(std::begin(text), std::end(text), '#');
    EXPECT_EQ(hex_encode(bytes, 4, text, false), 8);
    EXPECT_STREQ(text, "000FA5FF");
    std::fill(std::begin(text), std::end(text), '#');
    EXPECT_EQ(hex_encode(bytes, 2, text, true), 4);
    EXPECT_EQ(text[4], '#') << "no terminator when asked for none";
    EXPECT_EQ(hex_encode(bytes, 0, text, false), 0);
    EXPECT_EQ(text[0], '\0');
}

TEST(Hex, DecodeHandlesOddLengthsBothCasesAndBadDigits) {
    std::uint8_t bytes[16];
    std::fill(std::begin(bytes), std::end(bytes), 0xEE);
    EXPECT_EQ(hex_decode("1ff", 3, bytes, false), 2);
    EXPECT_EQ(bytes[0], 0x01);
    EXPECT_EQ(bytes[1], 0xFF);
    EXPECT_EQ(bytes[2], 0);

    EXPECT_EQ(hex_decode("aBcD", 4, bytes, false), 2);
    EXPECT_EQ(bytes[0], 0xAB);
    EXPECT_EQ(bytes[1], 0xCD);

    std::fill(std::begin(bytes), std::end(bytes), 0xEE);
    EXPECT_EQ(hex_decode("12G456", 6, bytes, false), 1) << "the pair holding G gives no byte";
    EXPECT_EQ(bytes[0], 0x12);
    EXPECT_EQ(bytes[1], 0);

    std::fill(std::begin(bytes), std::end(bytes), 0xEE);
    EXPECT_EQ(hex_decode("-1A", 3, bytes, false), 0) << "a negative number's text gives no bytes";
    EXPECT_EQ(bytes[0], 0xEE) << "and no terminator";
    EXPECT_EQ(hex_decode("", 0, bytes, false), 0);
    EXPECT_EQ(bytes[0], 0xEE);

    EXPECT_EQ(hex_decode("0", 1, bytes, false), 1) << "zero is the single byte 0";
    EXPECT_EQ(bytes[0], 0);

    std::fill(std::begin(bytes), std::end(bytes), 0xEE);
    EXPECT_EQ(hex_decode("0102", 4, bytes, true), 2);
    EXPECT_EQ(bytes[2], 0xEE);
}

}  // namespace
