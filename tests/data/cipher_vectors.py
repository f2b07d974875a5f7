#!/usr/bin/env python3
"""Known-answer vectors for the file cipher, worked out independently of the C++ code.

This is a plain, literal rendering of the encrypted file format (1-based
positions, the window loop written step by step, Python's unbounded integers
for the word arithmetic), so that the C++ implementation is checked against
the format rather than against itself. It is not run by the build: its output
is kept in cipher_vectors.txt, which the C++ test reads.

    python3 tests/data/cipher_vectors.py > tests/data/cipher_vectors.txt

Content of every case: byte i of the plaintext is (i * 31 + 7) mod 256.
"""

VALID_NAME_CHARS = "".join(chr(c) for c in range(32, 127) if chr(c) not in '\\/:*?"<>|')
assert len(VALID_NAME_CHARS) == 86
MODULUS = 2**62 - 1
MAX_BLOCK = 16384


def build_key_words(key: bytes, suffix: bytes) -> list:
    assert 1 <= len(key) <= 77 and len(suffix) == 9
    S = {i + 1: suffix[i] for i in range(9)}  # S[1]..S[9]
    raw = key + bytes(S[i] for i in range(2, 9)) + bytes(84)
    E = {i + 1: raw[i] for i in range(84)}  # E[1]..E[84]
    # Step 2
    for i in range(1, 85):
        E[i] = (E[i] + S[(i % 7) + 1] + i) % 256
    # Step 3: groups read big-endian
    r0 = 0
    for k in range(12):
        v = 0
        for p in range(7 * k + 1, 7 * k + 8):
            v = v * 256 + E[p]
        r0 += v % 84
    r0 %= 84
    # Step 4: rotate right by r0
    old = [E[i] for i in range(1, 85)]
    new = old[84 - r0:] + old[:84 - r0]
    E = {i + 1: new[i] for i in range(84)}
    # Step 5: groups read little-endian
    W = []
    for k in range(12):
        v = 0
        for p in range(7 * k + 7, 7 * k, -1):
            v = v * 256 + E[p]
        W.append(v)
    return W


def transform_block(b: list, B: int, W: list, encrypt: bool) -> list:
    L = len(b)
    assert 1 <= L <= B
    r = W[11] % L
    if not encrypt:
        b = b[L - r:] + b[:L - r]  # rotate right by r
    j = 0
    k = 0
    while True:
        W[k] = (W[k] + W[11 - k]) % MODULUS
        for n in range(8):
            if j + n < L:
                b[j + n] ^= (W[k] >> (8 * n)) & 0xFF
        if j >= B - 8:
            break
        j += 7
        k = (k + 1) % 12
    if encrypt:
        b = b[r:] + b[:r]  # rotate left by r
    return b


def transform_file(data: bytes, key: bytes, suffix: bytes, encrypt: bool) -> bytes:
    W = build_key_words(key, suffix)
    B = min(len(data), MAX_BLOCK)
    out = []
    offset = 0
    while offset <= len(data) - 1:
        block = list(data[offset:offset + B])
        out += transform_block(block, B, W, encrypt)
        offset += B
    return bytes(out)


def content(length: int) -> bytes:
    return bytes((i * 31 + 7) % 256 for i in range(length))


def suffix_of(salt: str) -> bytes:
    assert len(salt) == 7 and all(c in VALID_NAME_CHARS for c in salt)
    return (" " + salt + "[").encode()


CASES = [
    ("1-byte file: B = 1, r = 0, one window", b"secret", "Ab3~ x!", 1),
    ("8-byte file: one window covers all eight bytes", b"secret", "Ab3~ x!", 8),
    ("9-byte file: windows at 0 and 7, byte 7 combined twice", b"secret", "Ab3~ x!", 9),
    ("16384-byte file: exactly one full block, 2341 windows", b"correct horse", "q{}0-;@", 16384),
    ("16385-byte file: second block of one byte, still 2341 windows", b"correct horse", "q{}0-;@", 16385),
    ("40000-byte file: three blocks, words carried across blocks", b"Key with spaces", "zzzzzzz", 40000),
    ("77-character key: expanded key is key then salt, no zero bytes",
     bytes(range(33, 110)), "~}{`_^]", 100),
    ("key of only spaces", b"   ", "       ", 300),
    ("one-character key, salt of spaces (p = 0 everywhere)", b"~", "       ", 21),
    ("salt differs from the first case only in its last character", b"secret", "Ab3~ x#", 9),
]


def main() -> None:
    print("# Known-answer vectors for the file cipher, made by tests/data/cipher_vectors.py")
    print("# from the format rules alone, not from the C++ code. Plaintext byte i = (i * 31 + 7) mod 256.")
    print("# Fields: key and suffix in hex, length, the twelve key words after set-up (hex),")
    print("# the ciphertext in hex. A '#' line before each case says what it is.")
    for comment, key, salt, length in CASES:
        suffix = suffix_of(salt)
        plain = content(length)
        cipher = transform_file(plain, key, suffix, True)
        assert transform_file(cipher, key, suffix, False) == plain
        words = build_key_words(key, suffix)
        print()
        print("# " + comment)
        print("key=" + key.hex())
        print("suffix=" + suffix.hex())
        print("length=%d" % length)
        print("words=" + " ".join("%014x" % w for w in words))
        print("cipher=" + cipher.hex())


if __name__ == "__main__":
    main()
