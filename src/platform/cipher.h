// The cipher of the protected login: SHA-256, AES-256-GCM with a 16-byte nonce
// and a 16-byte tag (no additional data), and random bytes from the system's
// generator. OpenSSL on Linux, the system's BCrypt on Windows; both give the
// same bytes for the same input, so a value sealed on one system opens on the
// other. None of the calls throws.
#pragma once

#include <cstddef>

namespace telwick::platform::cipher {

constexpr size_t KeySize = 32;
constexpr size_t NonceSize = 16;
constexpr size_t TagSize = 16;
constexpr size_t DigestSize = 32;

// digest gets the SHA-256 of size bytes at data. False when the system fails.
bool Sha256(const unsigned char* data, size_t size, unsigned char digest[DigestSize]);

// Fills size bytes from the system's random generator. False when it fails.
bool RandomBytes(unsigned char* out, size_t size);

// Encrypts size bytes of clear into out (size bytes; out may overlap clear)
// and writes the tag.
bool Seal(const unsigned char key[KeySize], const unsigned char nonce[NonceSize], const unsigned char* clear,
          size_t size, unsigned char* out, unsigned char tag[TagSize]);

// The way back: true and size clear bytes in out only when the tag matches;
// on false nothing of the clear text has been written to out.
bool Open(const unsigned char key[KeySize], const unsigned char nonce[NonceSize], const unsigned char* sealed,
          size_t size, const unsigned char tag[TagSize], unsigned char* out);

}  // namespace telwick::platform::cipher
