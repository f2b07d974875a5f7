# Independent computation of the key check's known answers (hashlib's BLAKE2b
# and the cryptography package's Argon2id), so that the C++ test pins the
# stored format against a second implementation, not against itself.
import hashlib, struct
from cryptography.hazmat.primitives.kdf.argon2 import Argon2id

def check(key, suffix, length, passes, memory_mib, salt):
    head = bytes([1, passes]) + struct.pack("<H", memory_mib) + salt + suffix + struct.pack("<Q", length)
    argon_salt = hashlib.blake2b(head, digest_size=16).digest()
    tag = Argon2id(salt=argon_salt, length=16, iterations=passes, lanes=1, memory_cost=memory_mib * 1024).derive(key)
    return head + tag

for key, suffix, length, passes, memory, salt in [
        (b"correct horse", b" aB3x(Q~[", 12345, 1, 8, bytes(range(16))),
        (b"~", b" !!!!!!![", 0, 2, 9, bytes([0xff] * 16)),
        (b"x" * 77, b" zzzzzzz[", 2**40 + 7, 1, 8, bytes(range(100, 116)))]:
    print(key, suffix, length, passes, memory, check(key, suffix, length, passes, memory, salt).hex())
