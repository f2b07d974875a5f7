#!/usr/bin/env python3
"""Known answers for the statistics figures, worked out from their definitions.

Writes stats_reference.txt next to this script. Run by hand when a case is
added; the C++ test reads the text file and rebuilds each case's bytes from
the same generator line, so the two must agree on the generators below.

Format of the output, one record per case:
  # comment lines
  case <name> <generator> <arguments...>
  value<TAB><label><TAB><text>      eleven lines, in screen order
  number<TAB><label><TAB><value>    the figure as a number, or "nan"
  counts<TAB><value>:<count> ...    byte values that occur
  end

Sums of many terms (entropy, chi square) are worked out exactly (fractions,
50-digit logarithms). Figures that the program defines as one division of two
whole numbers (mean, Monte Carlo pi, the serial correlation, the ratios, the
expected value) are that division done in binary floating point, because the
formats round the exact value of the double that division gives.
"""

from decimal import Decimal, getcontext
from fractions import Fraction
import math
import os

getcontext().prec = 50

LABELS = [
    "Entropy ", "Chi square ", "Aritmetic mean ", "Monte carlo pi ", "Serial correlation ",
    "Bit zero ", "Bit one ", "Bit total ", "Bit 0 ratio ", "Bit 1 ratio ", "Expected value ",
]

MASK64 = (1 << 64) - 1


def lcg_bytes(seed, count):
    state = seed
    out = bytearray()
    for _ in range(count):
        state = (state * 6364136223846793005 + 1442695040888963407) & MASK64
        out.append(state >> 56)
    return bytes(out)


def generate(kind, args):
    if kind == "zeros":
        return bytes(args[0])
    if kind == "fill":
        return bytes([args[0]]) * args[1]
    if kind == "ramp":
        return bytes(i % 256 for i in range(args[0]))
    if kind == "doubled":
        return bytes((i // 2) % 256 for i in range(args[0]))
    if kind == "alternate":
        return bytes(0 if i % 2 == 0 else 255 for i in range(args[0]))
    if kind == "lcg":
        return lcg_bytes(args[0], args[1])
    if kind == "halves":
        raw = lcg_bytes(args[0], args[1])
        return bytes((r >> 1) + (128 if i % 2 else 0) for i, r in enumerate(raw))
    raise ValueError(kind)


def round_half_even(value, decimals):
    """The exact rational `value` rounded at `decimals` decimals, ties to even."""
    scaled = abs(value) * 10 ** decimals
    whole, rest = divmod(scaled.numerator, scaled.denominator)
    twice = 2 * rest
    if twice > scaled.denominator or (twice == scaled.denominator and whole % 2 == 1):
        whole += 1
    return (-1 if value < 0 else 1), whole


def fixed(value, decimals):
    if value is None or (isinstance(value, float) and not math.isfinite(value)):
        return "undefined"
    sign, whole = round_half_even(Fraction(value), decimals)
    digits = str(whole).rjust(decimals + 1, "0")
    text = digits[:len(digits) - decimals] + ("." + digits[-decimals:] if decimals else "")
    # A figure that shows as zero carries no sign.
    return ("-" if sign < 0 and whole != 0 else "") + text


def grouped(whole):
    digits = str(abs(whole))
    groups = []
    while digits:
        groups.insert(0, digits[-3:])
        digits = digits[:-3]
    return ("-" if whole < 0 else "") + " ".join(groups)


def grouped_rounded(value):
    sign, whole = round_half_even(Fraction(value), 0)
    return grouped(sign * whole)


def figures(data):
    n = len(data)
    counts = [0] * 256
    for byte in data:
        counts[byte] += 1
    one_bits = sum(bin(value).count("1") * counts[value] for value in range(256))
    total_bits = 8 * n
    zero_bits = total_bits - one_bits

    # Pairs at even offsets; an odd length pairs the last byte with a 0.
    padded = data + (b"\0" if n % 2 else b"")
    inside = 0
    for index in range(0, len(padded), 2):
        a, b = padded[index], padded[index + 1]
        # The cell centre (a + 0.5, b + 0.5) inside the circle of radius 256.
        if (Fraction(2 * a + 1, 2)) ** 2 + (Fraction(2 * b + 1, 2)) ** 2 < 256 ** 2:
            inside += 1
    circle_score = 8 * inside

    if n == 0:
        entropy = chi = mean = pi = serial = zero_ratio = one_ratio = None
    else:
        log2 = Decimal(2).ln()
        entropy_sum = Decimal(0)
        for count in counts:
            if count:
                p = Decimal(count) / Decimal(n)
                entropy_sum += p * p.ln() / log2
        entropy = Fraction(-entropy_sum)
        expected = Fraction(n, 256)
        chi = sum((count - expected) ** 2 / expected for count in counts)
        mean = float(sum(value * counts[value] for value in range(256))) / float(n)
        pi = 4.0 if n == 1 else min(float(circle_score) / float(n - 1), 4.0)
        t1 = sum(data[i] * data[(i + 1) % n] for i in range(n))
        t2 = sum(data)
        t3 = sum(x * x for x in data)
        divisor = n * t3 - t2 * t2
        serial = None if divisor == 0 else float(n * t1 - t2 * t2) / float(divisor)
        zero_ratio = float(zero_bits) / float(total_bits)
        one_ratio = float(one_bits) / float(total_bits)
    expected_value = float(n) / 256.0

    texts = [
        fixed(entropy, 6), fixed(chi, 2), fixed(mean, 4), fixed(pi, 9), fixed(serial, 6),
        grouped(zero_bits), grouped(one_bits), grouped(total_bits),
        fixed(zero_ratio, 6), fixed(one_ratio, 6), grouped_rounded(expected_value),
    ]
    numbers = [entropy, chi, mean, pi, serial, zero_bits, one_bits, total_bits,
               zero_ratio, one_ratio, expected_value]
    return texts, numbers, counts


def number_text(value):
    if value is None:
        return "nan"
    if isinstance(value, Fraction):
        return repr(float(value))
    return repr(float(value))


CASES = [
    ("An empty file: every figure that divides by the length is undefined",
     "empty", "zeros", [0]),
    ("All zeros, even length: entropy 0, no one bits, every pair inside",
     "zeros_even", "zeros", [1000]),
    ("All zeros, odd length: the padding 0 is not counted as a byte",
     "zeros_odd", "zeros", [1001]),
    ("128 bytes: the expected value 0.5 is a half and rounds to the even 0",
     "zeros_128", "zeros", [128]),
    ("384 bytes: expected value 1.5 rounds to 2",
     "zeros_384", "zeros", [384]),
    ("All bytes 128: every byte equal, so the serial correlation is undefined",
     "all_128", "fill", [128, 1000]),
    ("Each of the 256 values once: entropy 8, chi square 0, mean 127.5",
     "each_value_once", "ramp", [256]),
    ("640 bytes of the ramp: expected value 2.5 rounds to the even 2",
     "ramp_640", "ramp", [640]),
    ("One byte: chi square 255, Monte Carlo pi capped at 4, no correlation",
     "one_byte", "fill", [65, 1]),
    ("Five bytes 255: pairs (255,255) twice outside, (255,0) inside: pi 8/4 = 2",
     "five_255", "fill", [255, 5]),
    ("Bytes 0,0,1,1,2,2,...: strongly correlated with the next byte",
     "doubled_512", "doubled", [512]),
    ("The same, odd length",
     "doubled_1001", "doubled", [1001]),
    ("Bytes 0,255,0,255,...: serial correlation exactly -1",
     "alternate", "alternate", [1000]),
    ("Low and high halves alternating: a negative serial correlation",
     "halves", "halves", [3, 5000]),
    ("Pseudo-random bytes (64-bit LCG, top byte): figures near those of random data",
     "random_100000", "lcg", [1, 100000]),
    ("Pseudo-random, odd length longer than four progress pieces",
     "random_65537", "lcg", [7, 65537]),
    ("Just over one progress piece",
     "ramp_16385", "ramp", [16385]),
]


def main():
    lines = ["# Generated by stats_reference.py from the definitions of the figures; do not edit."]
    for comment, name, kind, args in CASES:
        data = generate(kind, args)
        texts, numbers, counts = figures(data)
        lines.append("")
        lines.append("# " + comment)
        lines.append("case %s %s %s" % (name, kind, " ".join(str(a) for a in args)))
        for label, text in zip(LABELS, texts):
            lines.append("value\t%s\t%s" % (label, text))
        for label, number in zip(LABELS, numbers):
            lines.append("number\t%s\t%s" % (label, number_text(number)))
        lines.append("counts\t" + " ".join("%d:%d" % (v, c) for v, c in enumerate(counts) if c))
        lines.append("end")
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "stats_reference.txt")
    with open(path, "w") as out:
        out.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
