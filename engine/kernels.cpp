// The word-vector kernels of kernels.h, portable C++ over 64-bit limbs.
//
// Two 32-bit words at even offsets from the start of a call form one 64-bit
// limb (little-endian, so the lower word is the limb's low half). Limbs are
// loaded and stored with memcpy: the arrays need not be 8-byte aligned. A
// limb product with a one-word factor is at most (2^64-1)(2^32-1), so
// product + limb + carry stays below 2^96 and every carry fits one word.
#include "kernels.h"

#include <cstring>

namespace {

using u64 = std::uint64_t;
__extension__ typedef unsigned __int128 u128;  // GCC and Clang on x86-64

inline u64 load_limb(const mr_digit* p) {
    u64 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void store_limb(mr_digit* p, u64 v) { std::memcpy(p, &v, sizeof v); }

}  // namespace

mr_digit add_vv(mr_digit* z, const mr_digit* x, const mr_digit* y, int n) {
    u64 carry = 0;
    int i = 0;
    for (; i + 1 < n; i += 2) {
        const u128 s = static_cast<u128>(load_limb(x + i)) + load_limb(y + i) + carry;
        store_limb(z + i, static_cast<u64>(s));
        carry = static_cast<u64>(s >> 64);
    }
    if (i < n) {
        const u64 s = u64{x[i]} + y[i] + carry;
        z[i] = static_cast<mr_digit>(s);
        carry = s >> 32;
    }
    return static_cast<mr_digit>(carry);
}

mr_digit sub_vv(mr_digit* z, const mr_digit* x, const mr_digit* y, int n) {
    u64 borrow = 0;
    int i = 0;
    for (; i + 1 < n; i += 2) {
        const u128 d = static_cast<u128>(load_limb(x + i)) - load_limb(y + i) - borrow;
        store_limb(z + i, static_cast<u64>(d));
        borrow = static_cast<u64>(d >> 127);
    }
    if (i < n) {
        const u64 d = u64{x[i]} - y[i] - borrow;
        z[i] = static_cast<mr_digit>(d);
        borrow = d >> 63;
    }
    return static_cast<mr_digit>(borrow);
}

mr_digit add_vw(mr_digit* z, const mr_digit* x, int n, mr_digit y) {
    u64 carry = y;
    int i = 0;
    for (; i < n && carry != 0; ++i) {
        const u64 s = u64{x[i]} + carry;
        z[i] = static_cast<mr_digit>(s);
        carry = s >> 32;
    }
    if (z != x)
        for (; i < n; ++i) z[i] = x[i];
    return static_cast<mr_digit>(carry);
}

mr_digit sub_vw(mr_digit* z, const mr_digit* x, int n, mr_digit y) {
    u64 borrow = y;
    int i = 0;
    for (; i < n && borrow != 0; ++i) {
        const u64 d = u64{x[i]} - borrow;
        z[i] = static_cast<mr_digit>(d);
        borrow = d >> 63;
    }
    if (z != x)
        for (; i < n; ++i) z[i] = x[i];
    return static_cast<mr_digit>(borrow);
}

mr_digit mul_vww(mr_digit* z, const mr_digit* x, int n, mr_digit y, mr_digit r) {
    u64 carry = r;
    int i = 0;
    for (; i + 1 < n; i += 2) {
        const u128 p = static_cast<u128>(load_limb(x + i)) * y + carry;
        store_limb(z + i, static_cast<u64>(p));
        carry = static_cast<u64>(p >> 64);
    }
    if (i < n) {
        const u64 p = u64{x[i]} * y + carry;
        z[i] = static_cast<mr_digit>(p);
        carry = p >> 32;
    }
    return static_cast<mr_digit>(carry);
}

mr_digit addmul_vvw(mr_digit* z, const mr_digit* x, int n, mr_digit y) {
    u64 carry = 0;
    int i = 0;
    for (; i + 1 < n; i += 2) {
        const u128 p = static_cast<u128>(load_limb(x + i)) * y + load_limb(z + i) + carry;
        store_limb(z + i, static_cast<u64>(p));
        carry = static_cast<u64>(p >> 64);
    }
    if (i < n) {
        const u64 p = u64{x[i]} * y + z[i] + carry;
        z[i] = static_cast<mr_digit>(p);
        carry = p >> 32;
    }
    return static_cast<mr_digit>(carry);
}

mr_digit submul_vvw(mr_digit* z, const mr_digit* x, int n, mr_digit y) {
    // The product's carry and the subtraction's borrow are kept apart and
    // summed at the end: carry < 2^32 - 1, so carry + borrow fits one word.
    u64 carry = 0;
    u64 borrow = 0;
    int i = 0;
    for (; i + 1 < n; i += 2) {
        const u128 p = static_cast<u128>(load_limb(x + i)) * y + carry;
        carry = static_cast<u64>(p >> 64);
        const u128 d = static_cast<u128>(load_limb(z + i)) - static_cast<u64>(p) - borrow;
        store_limb(z + i, static_cast<u64>(d));
        borrow = static_cast<u64>(d >> 127);
    }
    if (i < n) {
        const u64 p = u64{x[i]} * y + carry;
        carry = p >> 32;
        const u64 d = u64{z[i]} - static_cast<mr_digit>(p) - borrow;
        z[i] = static_cast<mr_digit>(d);
        borrow = d >> 63;
    }
    return static_cast<mr_digit>(carry + borrow);
}

// The limb-multiplier kernels: a limb product is at most (2^64-1)^2, so
// product + limb + carry < 2^128 and every carry fits one limb.
std::uint64_t mul_vvd(mr_digit* z, const mr_digit* x, int n, std::uint64_t y) {
    u64 carry = 0;
    for (int i = 0; i + 1 < n; i += 2) {
        const u128 p = static_cast<u128>(load_limb(x + i)) * y + carry;
        store_limb(z + i, static_cast<u64>(p));
        carry = static_cast<u64>(p >> 64);
    }
    return carry;
}

std::uint64_t addmul_vvd(mr_digit* z, const mr_digit* x, int n, std::uint64_t y) {
    u64 carry = 0;
    for (int i = 0; i + 1 < n; i += 2) {
        const u128 p = static_cast<u128>(load_limb(x + i)) * y + load_limb(z + i) + carry;
        store_limb(z + i, static_cast<u64>(p));
        carry = static_cast<u64>(p >> 64);
    }
    return carry;
}

std::uint64_t submul_vvd(mr_digit* z, const mr_digit* x, int n, std::uint64_t y) {
    // carry <= 2^64 - 2, so carry + borrow fits one limb.
    u64 carry = 0;
    u64 borrow = 0;
    for (int i = 0; i + 1 < n; i += 2) {
        const u128 p = static_cast<u128>(load_limb(x + i)) * y + carry;
        carry = static_cast<u64>(p >> 64);
        const u128 d = static_cast<u128>(load_limb(z + i)) - static_cast<u64>(p) - borrow;
        store_limb(z + i, static_cast<u64>(d));
        borrow = static_cast<u64>(d >> 127);
    }
    return carry + borrow;
}

mr_digit shl_vu(mr_digit* z, const mr_digit* x, int n, unsigned s) {
    if (n == 0) return 0;
    if (s == 0) {
        if (z != x) std::memmove(z, x, sizeof(mr_digit) * static_cast<std::size_t>(n));
        return 0;
    }
    const mr_digit out = x[n - 1] >> (32 - s);
    for (int i = n - 1; i > 0; --i) z[i] = (x[i] << s) | (x[i - 1] >> (32 - s));
    z[0] = x[0] << s;
    return out;
}

mr_digit shr_vu(mr_digit* z, const mr_digit* x, int n, unsigned s) {
    if (n == 0) return 0;
    if (s == 0) {
        if (z != x) std::memmove(z, x, sizeof(mr_digit) * static_cast<std::size_t>(n));
        return 0;
    }
    const mr_digit out = x[0] << (32 - s);
    for (int i = 0; i + 1 < n; ++i) z[i] = (x[i] >> s) | (x[i + 1] << (32 - s));
    z[n - 1] = x[n - 1] >> s;
    return out;
}

int cmp_vv(const mr_digit* x, const mr_digit* y, int n) {
    for (int i = n; i-- > 0;) {
        if (x[i] != y[i]) return x[i] > y[i] ? 1 : -1;
    }
    return 0;
}
