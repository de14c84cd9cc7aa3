#!/usr/bin/env python3
"""Derives the constants of the interpolations of Toom-8 and Toom-8/4
(engine/toom8.cpp) and checks them: the mirror pairs of even and odd
coefficients (toom8_even_pairs, toom8_odd_pairs, toom84_even_pairs,
toom84_odd_pairs) and the combinations that make Y2 and 2w (Toom-8) and Y4
and 2w (Toom-8/4). Needs sympy. Prints the tables in the form the C++
source holds them."""
from sympy import symbols, expand, solve, Eq, lcm, fraction, together, multiplicity


def mirror_rows(c, inputs_x, inputs_y, targets):
    """For each (lo, hi): x, y, shift, odd with c_lo = (x.X + y.Y) / (2^shift odd)
    and c_hi = (x.X - y.Y) / (2^shift odd)."""
    # c_lo as a linear form of the inputs, its factors found by matching the
    # form's coefficient of every c_i (the inputs determine them uniquely).
    ins = inputs_x + inputs_y
    unknown = [ci for ci in c if any(expand(e).coeff(ci) != 0 for e in ins)]
    rows = []
    for (lo, hi) in targets:
        coeffs = symbols('k0:%d' % len(ins))
        form_lo = sum(k * e for k, e in zip(coeffs, ins))
        sol = solve([Eq(expand(form_lo).coeff(ci), 1 if ci == c[lo] else 0) for ci in unknown], coeffs, dict=True)
        assert sol, (lo, hi)
        k = [sol[0].get(ki, 0) for ki in coeffs]
        assert all(x.is_number for x in k), (lo, hi)
        den = lcm([fraction(together(x))[1] for x in k])
        k = [x * den for x in k]
        x, y = k[:len(inputs_x)], k[len(inputs_x):]
        # The mirror partner must be x.X - y.Y over the same denominator.
        partner = expand((sum(a * e for a, e in zip(x, inputs_x)) - sum(b * e for b, e in zip(y, inputs_y))) / den)
        assert expand(partner - c[hi]) == 0, (lo, hi)
        shift = multiplicity(2, den)
        assert sum(abs(t) for t in list(x) + list(y)) < 2**36 and shift <= 9
        rows.append((lo, hi, x, y, shift, den // 2**shift))
    return rows


def show(title, rows):
    print(title)
    for lo, hi, x, y, shift, odd in rows:
        print('    {{%s}, {%s}, %d, %d},  // c%d, c%d' % (', '.join(map(str, x)), ', '.join(map(str, y)), shift, odd,
                                                     lo, hi))


def toom8():
    c = symbols('c0:15')
    points = [(1, 1), (2, 1), (1, 2), (3, 1), (1, 3), (3, 2)]  # u/w for S_1 .. S_6, D_1 .. D_6

    def part(u, w, parity):
        return sum(c[i] * u**i * w**(14 - i) for i in range(parity, 15, 2))

    S = [2 * part(u, w, 0) for (u, w) in points]
    D = [2 * part(u, w, 1) for (u, w) in points]
    g0, h0 = c[0] + c[14], c[0] - c[14]
    E1, Ep2, Ep4 = S[0], S[1] + S[2], S[3] + S[4]
    Em2, Em4 = S[1] - S[2], S[3] - S[4]
    Y2 = (10 * S[5] - 1891890 * E1 - 3861 * Ep2 + 13 * Ep4 - 42042000 * g0) / 5
    twice_w = 2 * (part(2, 3, 0) + part(2, 3, 1)) - S[5] + Y2
    assert expand(twice_w - 2 * part(2, 3, 1)) == 0, "2w is not twice the odd part at 2/3"
    show('toom8_even_pairs', mirror_rows(c, [E1, Ep2, Ep4, g0], [Em2, Em4, h0, Y2], [(2, 12), (4, 10), (6, 8)]))
    P23, M23, P45, M45 = D[1] + D[2], D[1] - D[2], D[3] + D[4], D[3] - D[4]
    show('toom8_odd_pairs', mirror_rows(c, [D[0], P23, P45, D[5] + twice_w], [M23, M45, D[5] - twice_w],
                                        [(1, 13), (3, 11), (5, 9), (7, 7)]))


def toom84():
    c = symbols('c0:11')
    points = [(1, 1), (2, 1), (1, 2), (3, 1)]

    def part(u, w, parity):
        return sum(c[i] * u**i * w**(10 - i) for i in range(parity, 11, 2))

    S = [2 * part(u, w, 0) for (u, w) in points]
    D = [2 * part(u, w, 1) for (u, w) in points]
    g0, h0 = c[0] + c[10], c[0] - c[10]
    E1, Ep2, Em2 = S[0], S[1] + S[2], S[1] - S[2]
    Y4 = S[3] + 875 * E1 - 16 * Ep2 - 28000 * g0
    assert expand(Y4 - sum((c[i] - c[10 - i]) * (3**i - 3**(10 - i)) for i in (0, 2, 4))) == 0
    twice_w = 2 * (part(1, 3, 0) + part(1, 3, 1)) + S[3] + 1750 * E1 - 32 * Ep2 - 56000 * g0
    assert expand(twice_w - 2 * part(1, 3, 1)) == 0, "2w is not twice the odd part at 1/3"
    show('toom84_even_pairs', mirror_rows(c, [E1, Ep2, g0], [Em2, h0, Y4], [(2, 8), (4, 6)]))
    show('toom84_odd_pairs', mirror_rows(c, [D[0], D[1] + D[2], D[3] + twice_w], [D[1] - D[2], D[3] - twice_w],
                                         [(1, 9), (3, 7), (5, 5)]))


toom8()
toom84()
