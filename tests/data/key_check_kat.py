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

print("version 1")
for key, suffix, length, passes, memory, salt in [
        (b"correct horse", b" aB3x(Q~[", 12345, 1, 8, bytes(range(16))),
        (b"~", b" !!!!!!![", 0, 2, 9, bytes([0xff] * 16)),
        (b"x" * 77, b" zzzzzzz[", 2**40 + 7, 1, 8, bytes(range(100, 116)))]:
    print(key, suffix, length, passes, memory, check(key, suffix, length, passes, memory, salt).hex())

# Version 2: Argon2id (32 bytes) over the key with the run salt; its subkey
# as libsodium's crypto_kdf_derive_from_key makes it (BLAKE2b-256 of nothing,
# keyed with the derived key, salt = the subkey id little-endian, personal =
# the eight-byte context, both zero-padded to 16); the tag is BLAKE2b-256 of
# the head keyed with that subkey.
def check2(key, suffix, length, passes, memory_mib, run_salt, file_salt):
    head = (bytes([2, passes]) + struct.pack("<H", memory_mib) + run_salt + file_salt + suffix +
            struct.pack("<Q", length))
    derived = Argon2id(salt=run_salt, length=32, iterations=passes, lanes=1, memory_cost=memory_mib * 1024).derive(key)
    subkey = hashlib.blake2b(b"", digest_size=32, key=derived, salt=struct.pack("<Q", 1), person=b"keycheck").digest()
    tag = hashlib.blake2b(head, digest_size=32, key=subkey).digest()
    return head + tag

print("version 2")
for key, suffix, length, passes, memory, run_salt, file_salt in [
        (b"correct horse", b" aB3x(Q~[", 12345, 1, 8, bytes(range(16)), bytes(range(16, 32))),
        # The same run salt and cost: the same derivation, another file.
        (b"correct horse", b" !!!!!!![", 0, 1, 8, bytes(range(16)), bytes([0xff] * 16)),
        (b"x" * 77, b" zzzzzzz[", 2**40 + 7, 2, 9, bytes([0xff] * 16), bytes(range(100, 116)))]:
    print(key, suffix, length, passes, memory, check2(key, suffix, length, passes, memory, run_salt, file_salt).hex())
