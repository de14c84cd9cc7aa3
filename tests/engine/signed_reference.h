// A small, slow, obviously correct signed integer on a vector of 32-bit words,
// used by the number-theory tests as an oracle that shares no code with the
// engine: schoolbook products, sums and comparisons of any length (products
// of two max_length-word numbers included), and hexadecimal constants.
#ifndef TORVANE_TESTS_ENGINE_SIGNED_REFERENCE_H
#define TORVANE_TESTS_ENGINE_SIGNED_REFERENCE_H

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace sref {

using words = std::vector<std::uint32_t>;  // least significant first, no top zeros

struct integer {
    bool negative = false;
    words mag;
};

inline void trim(words& w) {
    while (!w.empty() && w.back() == 0) w.pop_back();
}

inline int compare_mag(const words& a, const words& b) {
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    for (std::size_t i = a.size(); i-- > 0;)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    return 0;
}

inline words add_mag(const words& a, const words& b) {
    words r(std::max(a.size(), b.size()) + 1, 0);
    std::uint64_t carry = 0;
    for (std::size_t i = 0; i < r.size(); ++i) {
        std::uint64_t t = carry;
        if (i < a.size()) t += a[i];
        if (i < b.size()) t += b[i];
        r[i] = static_cast<std::uint32_t>(t);
        carry = t >> 32;
    }
    trim(r);
    return r;
}

// a - b for a >= b.
inline words sub_mag(const words& a, const words& b) {
    words r(a.size(), 0);
    std::int64_t borrow = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        std::int64_t t = static_cast<std::int64_t>(a[i]) - borrow - (i < b.size() ? b[i] : 0);
        borrow = t < 0;
        r[i] = static_cast<std::uint32_t>(t + (borrow << 32));
    }
    if (borrow != 0) throw std::logic_error("sub_mag: negative result");
    trim(r);
    return r;
}

inline words mul_mag(const words& a, const words& b) {
    if (a.empty() || b.empty()) return {};
    words r(a.size() + b.size(), 0);
    for (std::size_t i = 0; i < a.size(); ++i) {
        std::uint64_t carry = 0;
        for (std::size_t j = 0; j < b.size(); ++j) {
            std::uint64_t t = std::uint64_t{a[i]} * b[j] + r[i + j] + carry;
            r[i + j] = static_cast<std::uint32_t>(t);
            carry = t >> 32;
        }
        r[i + b.size()] = static_cast<std::uint32_t>(carry);
    }
    trim(r);
    return r;
}

inline integer make(const words& w, bool negative = false) {
    integer r{negative, w};
    trim(r.mag);
    if (r.mag.empty()) r.negative = false;
    return r;
}

inline integer add(const integer& a, const integer& b) {
    if (a.negative == b.negative) return make(add_mag(a.mag, b.mag), a.negative);
    int c = compare_mag(a.mag, b.mag);
    if (c == 0) return {};
    if (c > 0) return make(sub_mag(a.mag, b.mag), a.negative);
    return make(sub_mag(b.mag, a.mag), b.negative);
}

inline integer neg(integer a) {
    if (!a.mag.empty()) a.negative = !a.negative;
    return a;
}

inline integer sub(const integer& a, const integer& b) { return add(a, neg(b)); }

inline integer mul(const integer& a, const integer& b) {
    return make(mul_mag(a.mag, b.mag), a.negative != b.negative);
}

inline bool operator==(const integer& a, const integer& b) {
    return a.negative == b.negative && a.mag == b.mag;
}

// Words from hexadecimal digits (no sign, no prefix).
inline words from_hex(const std::string& hex) {
    words w;
    int shift = 0;
    std::uint32_t cur = 0;
    for (std::size_t i = hex.size(); i-- > 0;) {
        char ch = hex[i];
        std::uint32_t d;
        if (ch >= '0' && ch <= '9') d = static_cast<std::uint32_t>(ch - '0');
        else if (ch >= 'a' && ch <= 'f') d = static_cast<std::uint32_t>(ch - 'a' + 10);
        else if (ch >= 'A' && ch <= 'F') d = static_cast<std::uint32_t>(ch - 'A' + 10);
        else throw std::invalid_argument("from_hex");
        cur |= d << shift;
        shift += 4;
        if (shift == 32) {
            w.push_back(cur);
            cur = 0;
            shift = 0;
        }
    }
    if (shift != 0) w.push_back(cur);
    trim(w);
    return w;
}

// 2^bits - 1.
inline words all_ones(int bits) {
    words w(static_cast<std::size_t>(bits / 32), 0xFFFFFFFFu);
    if (bits % 32 != 0) w.push_back((1u << (bits % 32)) - 1);
    return w;
}

}  // namespace sref

#endif
