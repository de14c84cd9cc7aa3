#include "radix.h"

#include <cstring>

namespace {

std::uint8_t lookup(const decoding_table& table, char c) { return table.value[static_cast<unsigned char>(c)]; }

// Whether `c` is a digit of base `b` (one with an alphabet) as the fields
// accept it. Base 36 takes upper case only: the engine reads lower-case
// letters as the digits 36 and above in bases over 16.
bool is_digit_of(char c, const base_entry& b) {
    if (c == '\0') return false;
    if (b.either_case && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return std::strchr(b.alphabet, c) != nullptr;
}

// The row of a base whose fields take only its digits, or null (base 256,
// or no base of the calculator).
const base_entry* digit_base(int base) {
    const base_entry* b = find_base(base);
    return b != nullptr && b->alphabet != nullptr ? b : nullptr;
}

}  // namespace

int filter_digits(char* text, int base) {
    const base_entry* b = digit_base(base);
    if (b == nullptr) return static_cast<int>(std::strlen(text));
    // The digit of value zero: "A" in base 64, "0" everywhere else.
    const char zero = b->alphabet[0];
    char* out = text;
    bool only_zeros_before = true;  // every character so far a zero digit
    for (const char* in = text; *in != '\0'; ++in) {
        const char c = *in;
        if (c == '-' && only_zeros_before) {
            // A sign after nothing but zeros ("0-7", typed into a field that
            // shows 0) is still the sign; the zeros before it go.
            out = text;
            *out++ = '-';
        } else if (is_digit_of(c, *b)) {
            *out++ = c;
        }
        if (c != zero && !is_digit_separator(c)) only_zeros_before = false;
    }
    *out = '\0';
    return static_cast<int>(out - text);
}

bool is_digit_separator(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '_'; }

namespace {

// One pass of the strict reading of a pasted text: returns the index of
// the first refused character, or -1; with `write` set (only after a pass
// without it has returned -1) the text is reduced to sign and digits.
int read_pasted(char* text, const base_entry& b, bool write) {
    const char zero = b.alphabet[0];
    const char letter = b.prefix;
    char* out = text;
    bool only_zeros = true;  // every character so far a zero digit or a separator
    bool sign = false;
    bool prefix = false;
    bool padding = false;
    for (int i = 0; text[i] != '\0'; ++i) {
        const char c = text[i];
        if (is_digit_separator(c)) continue;
        if (padding) {
            if (c != '=') return i;
        } else if (c == '-' && only_zeros && !sign && !prefix) {
            sign = true;
            if (write) {
                out = text;
                *out++ = '-';
            }
        } else if (letter != 0 && (c == letter || c == letter - 'a' + 'A') && only_zeros && !prefix && i > 0 &&
                   text[i - 1] == '0') {
            prefix = true;
            if (write) --out;  // the 0 of the prefix, just written
        } else if (b.base == 64 && c == '=') {
            padding = true;
        } else if (is_digit_of(c, b)) {
            if (write) *out++ = c;
            if (c != zero) only_zeros = false;
        } else {
            return i;
        }
    }
    if (write) *out = '\0';
    return -1;
}

}  // namespace

int first_refused_character(const char* text, int base) {
    const base_entry* b = digit_base(base);
    if (b == nullptr) return -1;
    return read_pasted(const_cast<char*>(text), *b, false);
}

int filter_pasted_digits(char* text, int base) {
    const base_entry* b = digit_base(base);
    if (b == nullptr) return -1;
    const int refused = read_pasted(text, *b, false);
    if (refused < 0) read_pasted(text, *b, true);
    return refused;
}

int base64_decode(const char* text, std::uint8_t* bytes) {
    const decoding_table& table = base64_table;
    int count = 0;
    for (;;) {
        // Stop at the first character outside the alphabet; the terminator
        // is one of them, so a group never reads past the text's end.
        const std::uint8_t a = lookup(table, text[0]);
        if (a == no_digit) break;
        const std::uint8_t b = lookup(table, text[1]);
        if (b == no_digit) break;  // a single leftover character adds nothing
        bytes[count++] = static_cast<std::uint8_t>(a * 4 + b / 16);
        const std::uint8_t c = lookup(table, text[2]);
        if (c == no_digit) break;
        bytes[count++] = static_cast<std::uint8_t>((b % 16) * 16 + c / 4);
        const std::uint8_t d = lookup(table, text[3]);
        if (d == no_digit) break;
        bytes[count++] = static_cast<std::uint8_t>((c % 4) * 64 + d);
        text += 4;
    }
    bytes[count] = 0;
    return count;
}

int base64_encode(const std::uint8_t* bytes, int count, char* text) {
    if (count <= 0) return 0;
    int n = 0;
    int i = 0;
    for (; i + 3 <= count; i += 3) {
        const unsigned p = bytes[i], q = bytes[i + 1], r = bytes[i + 2];
        text[n++] = base64_alphabet[p / 4];
        text[n++] = base64_alphabet[(p % 4) * 16 + q / 16];
        text[n++] = base64_alphabet[(q % 16) * 4 + r / 64];
        text[n++] = base64_alphabet[r % 64];
    }
    const int left = count - i;
    if (left == 1) {
        const unsigned p = bytes[i];
        text[n++] = base64_alphabet[p / 4];
        text[n++] = base64_alphabet[(p % 4) * 16];
    } else if (left == 2) {
        const unsigned p = bytes[i], q = bytes[i + 1];
        text[n++] = base64_alphabet[p / 4];
        text[n++] = base64_alphabet[(p % 4) * 16 + q / 16];
        text[n++] = base64_alphabet[(q % 16) * 4];
    }
    text[n] = '\0';
    return n;
}

int hex_encode(const std::uint8_t* bytes, int count, char* text, bool no_terminator) {
    int n = 0;
    for (int i = 0; i < count; ++i) {
        text[n++] = hex_digits_upper[bytes[i] >> 4];
        text[n++] = hex_digits_upper[bytes[i] & 15];
    }
    if (!no_terminator) text[n] = '\0';
    return n;
}

int hex_decode(const char* text, int length, std::uint8_t* bytes, bool no_terminator) {
    if (length <= 0) return 0;
    const decoding_table& table = hex_table;
    int count = 0;
    int i = 0;
    if (length % 2 == 1) {
        const std::uint8_t v = lookup(table, text[0]);
        if (v == no_digit) return 0;
        bytes[count++] = v;
        i = 1;
    }
    for (; i + 1 < length; i += 2) {
        const std::uint8_t hi = lookup(table, text[i]);
        const std::uint8_t lo = lookup(table, text[i + 1]);
        if (hi == no_digit || lo == no_digit) break;
        bytes[count++] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
    if (!no_terminator) bytes[count] = 0;
    return count;
}
