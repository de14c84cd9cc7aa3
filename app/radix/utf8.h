// Reading one character of UTF-8 text: the expression line and the script
// shell name a character by its code point, as the windows do.
#ifndef TORVANE_APP_RADIX_UTF8_H
#define TORVANE_APP_RADIX_UTF8_H

#include <cstddef>
#include <string_view>

// The length of the UTF-8 sequence of two or more bytes at text[i], with its
// code point in `code`; 0 when none starts there (an ASCII byte, a stray
// continuation byte, a cut or overlong sequence, a surrogate or a code point
// beyond Unicode).
inline int utf8_sequence(std::string_view text, std::size_t i, unsigned long& code) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned lead = byte(i);
    int more = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        more = 1;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        more = 2;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        more = 3;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (i + static_cast<std::size_t>(more) >= text.size()) return 0;
    for (int k = 1; k <= more; ++k) {
        const unsigned c = byte(i + static_cast<std::size_t>(k));
        if ((c & 0xC0) != 0x80) return 0;
        code = (code << 6) | (c & 0x3F);
    }
    if ((more == 2 && code < 0x800) || (more == 3 && (code < 0x10000 || code > 0x10FFFF)) ||
        (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return more + 1;
}

#endif
