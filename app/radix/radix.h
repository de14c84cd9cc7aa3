// Radix text codec of the calculator front end.
//
// The engine reads and writes number text in any base from 2 to 256 by
// itself. What lives here is what the fields add on top of that:
//   - filter_digits strips typed text down to the digits of the current base,
//     so that the engine never sees a character it would refuse;
//   - the base-64 form: a field in base 64 shows the standard base-64 text of
//     the number's big-endian magnitude bytes, reached through hexadecimal
//     text (the engine itself is never asked for base 64);
//   - the byte/text converters that base-64 form needs.
//
// None of these functions reports an error: bad input is dropped or ends the
// conversion. All of them work on buffers the caller supplies and allocate
// nothing; sizing those buffers is the caller's business.
#ifndef TORVANE_APP_RADIX_RADIX_H
#define TORVANE_APP_RADIX_RADIX_H

#include <array>
#include <cstdint>

#include "base_table.h"

// The alphabets are those of base_table.h; hexadecimal is read in either case.
inline constexpr char hex_digits_lower[] = "0123456789abcdef";

// Value of a character that is not in a table's set.
inline constexpr std::uint8_t no_digit = 255;

// A decoding table: indexed by character code, gives the digit value of that
// character or no_digit.
struct decoding_table {
    std::array<std::uint8_t, 256> value{};
};

// The tables of the byte converters, built when the program is compiled:
// hexadecimal digits in either case, and the base-64 alphabet.
inline constexpr decoding_table hex_table = [] {
    decoding_table table;
    table.value.fill(no_digit);
    for (int i = 0; i < 16; ++i) {
        table.value[static_cast<unsigned char>(hex_digits_lower[i])] = static_cast<std::uint8_t>(i);
        table.value[static_cast<unsigned char>(hex_digits_upper[i])] = static_cast<std::uint8_t>(i);
    }
    return table;
}();
inline constexpr decoding_table base64_table = [] {
    decoding_table table;
    table.value.fill(no_digit);
    for (int i = 0; i < 64; ++i)
        table.value[static_cast<unsigned char>(base64_alphabet[i])] = static_cast<std::uint8_t>(i);
    return table;
}();

// Filters the zero-terminated `text` in place for `base` (2, 8, 10, 16, 36,
// 60 or 64): every character that is not a digit of the base is dropped,
// and so is every "-" but one: a "-" preceded only by zero digits of the
// base ("0", or "A" in base 64) and separators, none at all included, is
// the sign, kept in front with those zeros dropped ("-7", "0-7", "00-7" and
// "  -7" all give "-7"). Returns the new length, the sign included. Any
// other base leaves the text as it is.
int filter_digits(char* text, int base);

// The characters a number brought in whole (pasted) may carry between its
// digits without changing it: blanks, tabs, line breaks and "_".
bool is_digit_separator(char c);

// Reads the zero-terminated `text` of one edit that brought in several
// characters at once (a paste) strictly for `base` (2, 8, 10, 16, 36, 60 or
// 64). The text is a number of the base when it holds nothing but
//   - digits of the base and separators (is_digit_separator), anywhere;
//   - one "-" sign with only zero digits and separators before it;
//   - the prefix "0x" or "0X" in base 16, "0b" or "0B" in base 2, "0o" or
//     "0O" in base 8, with only zero digits, separators and the sign before;
//   - in base 64, "=" padding at the end.
// Then the text is reduced in place to the sign and the digits (the prefix
// and the zeros before the sign dropped, as filter_digits leaves typed text)
// and -1 is returned. Otherwise the text is left as it is and the index of
// its first character that is none of these is returned. Base 256 takes
// every text as it is.
int filter_pasted_digits(char* text, int base);

// The index of the first character of `text` that filter_pasted_digits
// refuses in `base`, or -1 when it takes the text; the text is not changed.
int first_refused_character(const char* text, int base);

// Decodes zero-terminated base-64 text into `bytes`, four characters at a
// time, ending at the first character outside the alphabet (padding, a
// sign, a line break or the terminator). A lone last character of a group
// adds nothing. Writes a zero byte after the last decoded byte and returns
// the number of decoded bytes. `bytes` needs room for 3/4 of the text's
// length plus one.
int base64_decode(const char* text, std::uint8_t* bytes);

// Encodes `count` bytes as base-64 text without padding, zero-terminated;
// with a count of 0 nothing at all is written. Returns the number of
// characters.
int base64_encode(const std::uint8_t* bytes, int count, char* text);

// Writes two upper-case hexadecimal digits per byte, high half first, and a
// zero byte after them unless `no_terminator` is set. Returns 2 * count.
int hex_encode(const std::uint8_t* bytes, int count, char* text, bool no_terminator);

// Turns `length` hexadecimal digits (either case) into bytes. An odd length
// makes the first digit a byte of its own. Stops at the first pair holding a
// non-digit; a bad single leading digit gives no bytes and no terminator at
// all. Writes a zero byte after the output unless `no_terminator` is set.
// Returns the number of bytes.
int hex_decode(const char* text, int length, std::uint8_t* bytes, bool no_terminator);

#endif
