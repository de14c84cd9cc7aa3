#!/usr/bin/env python3
"""Derives the constants of Toom-8's interpolation (engine/toom8.cpp) and
checks them: the even mirror pairs (toom8_even_pairs), the pass that makes
Y2 and 2w (toom8_even_setup) and the odd mirror pairs (toom8_odd_pairs).
Needs sympy. Prints the tables in the form the C++ source holds them."""
from sympy import symbols, expand, solve, Eq, lcm, fraction, together, multiplicity

c = symbols('c0:15')
points = [(1, 1), (2, 1), (1, 2), (3, 1), (1, 3), (3, 2)]  # u/w for S_1 .. S_6, D_1 .. D_6


def part(u, w, parity):
    return sum(c[i] * u**i * w**(14 - i) for i in range(parity, 15, 2))


S = [2 * part(u, w, 0) for (u, w) in points]
D = [2 * part(u, w, 1) for (u, w) in points]
v23 = part(2, 3, 0) + part(2, 3, 1)

# Inputs of the even pairs, as functions of the coefficients.
g0, h0 = c[0] + c[14], c[0] - c[14]
E1, Ep2, Ep4 = S[0], S[1] + S[2], S[3] + S[4]
Em2, Em4 = S[1] - S[2], S[3] - S[4]
T = 10 * S[5] - 1891890 * E1 - 3861 * Ep2 + 13 * Ep4 - 42042000 * g0
Y2 = T / 5
twice_w = 2 * v23 - S[5] + Y2
assert expand(twice_w - 2 * part(2, 3, 1)) == 0, "2w is not twice the odd part at 2/3"


def mirror_rows(inputs_x, inputs_y, targets):
    """Rows x, y with c_i = (x.X + y.Y) / den, c_(14-i) = (x.X - y.Y) / den."""
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
        sol = sol[0]
        k = [sol.get(ki, 0) for ki in coeffs]
        den = lcm([fraction(together(x))[1] for x in k])
        k = [x * den for x in k]
        x, y = k[:len(inputs_x)], k[len(inputs_x):]
        # The mirror partner must be x.X - y.Y over the same denominator.
        partner = expand((sum(a * e for a, e in zip(x, inputs_x)) - sum(b * e for b, e in zip(y, inputs_y))) / den)
        assert expand(partner - c[hi]) == 0, (lo, hi)
        shift = multiplicity(2, den)
        rows.append((lo, hi, x, y, shift, den // 2**shift))
    return rows


even = mirror_rows([E1, Ep2, Ep4, g0], [Em2, Em4, h0, Y2], [(2, 12), (4, 10), (6, 8)])
P23, M23 = D[1] + D[2], D[1] - D[2]
P45, M45 = D[3] + D[4], D[3] - D[4]
P6x2, M6x2 = D[5] + twice_w, D[5] - twice_w
odd = mirror_rows([D[0], P23, P45, P6x2], [M23, M45, M6x2], [(1, 13), (3, 11), (5, 9), (7, 7)])
for title, rows in (('toom8_even_pairs', even), ('toom8_odd_pairs', odd)):
    print(title)
    for lo, hi, x, y, shift, odd_part in rows:
        total = sum(abs(t) for t in list(x) + list(y))
        assert total < 2**36 and shift <= 9
        print('    {{%s}, {%s}, %d, %d},  // c%d, c%d' % (', '.join(map(str, x)), ', '.join(map(str, y)), shift,
                                                     odd_part, lo, hi))
