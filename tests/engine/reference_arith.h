// Plain magnitude arithmetic on word vectors (least significant first), for
// checking the engine's quadratic routines against code that shares nothing
// with them. Slow and simple on purpose. Results carry no leading zero words.
#ifndef TORVANE_TESTS_ENGINE_REFERENCE_ARITH_H
#define TORVANE_TESTS_ENGINE_REFERENCE_ARITH_H

#include <algorithm>
#include <cstdint>
#include <vector>

namespace ref {

using words = std::vector<std::uint32_t>;
// 128-bit unsigned, for exact checks of operands up to four words.
__extension__ typedef unsigned __int128 u128;

inline words trimmed(words a) {
    while (!a.empty() && a.back() == 0) a.pop_back();
    return a;
}

inline words mul(const words& a, const words& b) {
    if (a.empty() || b.empty()) return {};
    words r(a.size() + b.size(), 0);
    for (std::size_t i = 0; i < a.size(); ++i) {
        std::uint64_t carry = 0;
        for (std::size_t k = 0; k < b.size(); ++k) {
            std::uint64_t t = std::uint64_t{a[i]} * b[k] + r[i + k] + carry;
            r[i + k] = static_cast<std::uint32_t>(t);
            carry = t >> 32;
        }
        r[i + b.size()] = static_cast<std::uint32_t>(carry);
    }
    return trimmed(r);
}

inline words add(const words& a, const words& b) {
    words r(std::max(a.size(), b.size()) + 1, 0);
    std::uint64_t carry = 0;
    for (std::size_t i = 0; i + 1 < r.size(); ++i) {
        std::uint64_t t = carry;
        if (i < a.size()) t += a[i];
        if (i < b.size()) t += b[i];
        r[i] = static_cast<std::uint32_t>(t);
        carry = t >> 32;
    }
    r.back() = static_cast<std::uint32_t>(carry);
    return trimmed(r);
}

// a - b for a >= b.
inline words sub(const words& a, const words& b) {
    words r(a);
    std::int64_t borrow = 0;
    for (std::size_t i = 0; i < r.size(); ++i) {
        std::int64_t t = std::int64_t{r[i]} - (i < b.size() ? b[i] : 0) - borrow;
        borrow = t < 0 ? 1 : 0;
        r[i] = static_cast<std::uint32_t>(t + (borrow << 32));
    }
    return trimmed(r);
}

// -1, 0 or +1 as a <, ==, > b.
inline int cmp(const words& a, const words& b) {
    words x = trimmed(a), y = trimmed(b);
    if (x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
    for (std::size_t i = x.size(); i-- > 0;)
        if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
    return 0;
}

inline words from_u128(u128 v) {
    words r;
    while (v != 0) {
        r.push_back(static_cast<std::uint32_t>(v));
        v >>= 32;
    }
    return r;
}

inline u128 to_u128(const words& a) {
    u128 v = 0;
    for (std::size_t i = a.size(); i-- > 0;) v = (v << 32) | a[i];
    return v;
}

// a^n by repeated multiplication.
inline words pow(const words& a, int n) {
    words r{1};
    for (int i = 0; i < n; ++i) r = mul(r, a);
    return r;
}

}  // namespace ref

#endif
