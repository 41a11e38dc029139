// The cipher of the protected login over the system's BCrypt.
//
// BCrypt's own GCM takes 12-byte nonces only, and the stored form has 16. So
// the mode is put together here from BCrypt's AES block cipher: the counter
// blocks are encrypted in one ECB call, and the tag is the GHASH of the
// ciphertext, both as the GCM standard defines them for a nonce that is not 12
// bytes long. The result is the same bytes OpenSSL gives (the known-answer
// tests hold both to it).
#include "platform/cipher.h"

#include <windows.h>
// after windows.h, whose types it uses
#include <bcrypt.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace telwick::platform::cipher {

namespace {

constexpr size_t kBlock = 16;

void Wipe(void* p, size_t n) { SecureZeroMemory(p, n); }

// An algorithm provider, closed when it goes.
class Provider {
public:
    explicit Provider(const wchar_t* algorithm) {
        if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&h_, algorithm, nullptr, 0))) h_ = nullptr;
    }
    ~Provider() {
        if (h_) BCryptCloseAlgorithmProvider(h_, 0);
    }
    Provider(const Provider&) = delete;
    Provider& operator=(const Provider&) = delete;
    BCRYPT_ALG_HANDLE get() const { return h_; }

private:
    BCRYPT_ALG_HANDLE h_ = nullptr;
};

// AES-256 on whole blocks (ECB) under one key.
class BlockCipher {
public:
    explicit BlockCipher(const unsigned char key[KeySize]) : aes_(BCRYPT_AES_ALGORITHM) {
        if (!aes_.get()) return;
        const wchar_t* mode = BCRYPT_CHAIN_MODE_ECB;
        if (!BCRYPT_SUCCESS(BCryptSetProperty(aes_.get(), BCRYPT_CHAINING_MODE,
                                              reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(mode)),
                                              static_cast<ULONG>((wcslen(mode) + 1) * sizeof(wchar_t)), 0)))
            return;
        if (!BCRYPT_SUCCESS(BCryptGenerateSymmetricKey(aes_.get(), &key_, nullptr, 0, const_cast<PUCHAR>(key),
                                                       static_cast<ULONG>(KeySize), 0)))
            key_ = nullptr;
    }
    ~BlockCipher() {
        if (key_) BCryptDestroyKey(key_);
    }
    BlockCipher(const BlockCipher&) = delete;
    BlockCipher& operator=(const BlockCipher&) = delete;

    bool ok() const { return key_ != nullptr; }

    // Encrypts size bytes (whole blocks) in place.
    bool Encrypt(unsigned char* blocks, size_t size) const {
        ULONG done = 0;
        return BCRYPT_SUCCESS(BCryptEncrypt(key_, blocks, static_cast<ULONG>(size), nullptr, nullptr, 0, blocks,
                                            static_cast<ULONG>(size), &done, 0)) &&
               done == size;
    }

private:
    Provider aes_;
    BCRYPT_KEY_HANDLE key_ = nullptr;
};

// x = x * y in GF(2^128) with the bit order of GCM; no branch on the data.
void Multiply(unsigned char x[kBlock], const unsigned char y[kBlock]) {
    unsigned char z[kBlock] = {};
    unsigned char v[kBlock];
    std::memcpy(v, y, kBlock);
    for (size_t i = 0; i < 128; ++i) {
        const auto bit = static_cast<unsigned char>(-((x[i / 8] >> (7 - i % 8)) & 1));
        for (size_t j = 0; j < kBlock; ++j) z[j] ^= v[j] & bit;
        const auto carry = static_cast<unsigned char>(-(v[kBlock - 1] & 1));
        for (size_t j = kBlock - 1; j > 0; --j) v[j] = static_cast<unsigned char>((v[j] >> 1) | (v[j - 1] << 7));
        v[0] = static_cast<unsigned char>((v[0] >> 1) ^ (0xE1 & carry));
    }
    std::memcpy(x, z, kBlock);
    Wipe(v, kBlock);
    Wipe(z, kBlock);
}

// GHASH: the data in blocks (the last one padded with zeros), then a block with
// the two bit lengths (additional data, which is none, and the data).
void Ghash(const unsigned char h[kBlock], const unsigned char* data, size_t size, uint64_t lengthA,
           unsigned char out[kBlock]) {
    std::memset(out, 0, kBlock);
    for (size_t at = 0; at < size; at += kBlock) {
        const size_t n = size - at < kBlock ? size - at : kBlock;
        for (size_t j = 0; j < n; ++j) out[j] ^= data[at + j];
        Multiply(out, h);
    }
    unsigned char lengths[kBlock];
    const uint64_t bits[2] = {lengthA * 8, static_cast<uint64_t>(size) * 8};
    for (size_t k = 0; k < 2; ++k)
        for (size_t j = 0; j < 8; ++j) lengths[k * 8 + j] = static_cast<unsigned char>(bits[k] >> (56 - 8 * j));
    for (size_t j = 0; j < kBlock; ++j) out[j] ^= lengths[j];
    Multiply(out, h);
}

// The counter mode of GCM over size bytes of in: out = in XOR E(inc32^i(J0)),
// and mask = E(J0) for the tag. J0 is the GHASH of the nonce.
bool Crypt(const BlockCipher& aes, const unsigned char h[kBlock], const unsigned char nonce[NonceSize],
           const unsigned char* in, size_t size, unsigned char* out, unsigned char mask[kBlock]) {
    // For a nonce that is not 12 bytes long the first counter block J0 is the
    // GHASH of the nonce, padded, followed by a block of 64 zero bits and the
    // nonce's length in bits: Ghash of the nonce as data without additional data.
    unsigned char j0[kBlock];
    Ghash(h, nonce, NonceSize, 0, j0);
    const size_t blocks = (size + kBlock - 1) / kBlock;
    std::vector<unsigned char> stream((blocks + 1) * kBlock);
    uint32_t counter = static_cast<uint32_t>(j0[12]) << 24 | static_cast<uint32_t>(j0[13]) << 16 |
                       static_cast<uint32_t>(j0[14]) << 8 | j0[15];
    for (size_t b = 0; b <= blocks; ++b) {
        unsigned char* block = stream.data() + b * kBlock;
        std::memcpy(block, j0, 12);
        const uint32_t c = counter + static_cast<uint32_t>(b);
        block[12] = static_cast<unsigned char>(c >> 24);
        block[13] = static_cast<unsigned char>(c >> 16);
        block[14] = static_cast<unsigned char>(c >> 8);
        block[15] = static_cast<unsigned char>(c);
    }
    const bool ok = aes.Encrypt(stream.data(), stream.size());
    if (ok) {
        std::memcpy(mask, stream.data(), kBlock);
        for (size_t i = 0; i < size; ++i) out[i] = in[i] ^ stream[kBlock + i];
    }
    Wipe(stream.data(), stream.size());
    Wipe(j0, kBlock);
    return ok;
}

// H = E(0).
bool HashKey(const BlockCipher& aes, unsigned char h[kBlock]) {
    std::memset(h, 0, kBlock);
    return aes.Encrypt(h, kBlock);
}

void Tag(const unsigned char h[kBlock], const unsigned char* sealed, size_t size, const unsigned char mask[kBlock],
         unsigned char tag[TagSize]) {
    Ghash(h, sealed, size, 0, tag);
    for (size_t j = 0; j < TagSize; ++j) tag[j] ^= mask[j];
}

}  // namespace

bool Sha256(const unsigned char* data, size_t size, unsigned char digest[DigestSize]) {
    Provider sha(BCRYPT_SHA256_ALGORITHM);
    if (!sha.get() || size > 0xFFFFFFFFu) return false;
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (!BCRYPT_SUCCESS(BCryptCreateHash(sha.get(), &hash, nullptr, 0, nullptr, 0, 0))) return false;
    const bool ok = BCRYPT_SUCCESS(BCryptHashData(hash, const_cast<PUCHAR>(data), static_cast<ULONG>(size), 0)) &&
                    BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, static_cast<ULONG>(DigestSize), 0));
    BCryptDestroyHash(hash);
    return ok;
}

bool RandomBytes(unsigned char* out, size_t size) {
    return size <= 0xFFFFFFFFu && BCRYPT_SUCCESS(BCryptGenRandom(nullptr, out, static_cast<ULONG>(size),
                                                                 BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

bool Seal(const unsigned char key[KeySize], const unsigned char nonce[NonceSize], const unsigned char* clear,
          size_t size, unsigned char* out, unsigned char tag[TagSize]) {
    const BlockCipher aes(key);
    unsigned char h[kBlock], mask[kBlock];
    std::vector<unsigned char> sealed(size);
    const bool ok = aes.ok() && size < (uint64_t{1} << 36) && HashKey(aes, h) &&
                    Crypt(aes, h, nonce, clear, size, sealed.data(), mask);
    if (ok) {
        Tag(h, sealed.data(), size, mask, tag);
        if (size) std::memcpy(out, sealed.data(), size);
    }
    Wipe(h, kBlock);
    Wipe(mask, kBlock);
    return ok;
}

bool Open(const unsigned char key[KeySize], const unsigned char nonce[NonceSize], const unsigned char* sealed,
          size_t size, const unsigned char tag[TagSize], unsigned char* out) {
    const BlockCipher aes(key);
    unsigned char h[kBlock], mask[kBlock], expected[TagSize];
    std::vector<unsigned char> clear(size);
    bool ok = aes.ok() && size < (uint64_t{1} << 36) && HashKey(aes, h) &&
              Crypt(aes, h, nonce, sealed, size, clear.data(), mask);
    if (ok) {
        // The tag decides, compared in constant time: nothing of a tampered text
        // or a wrong key reaches out.
        Tag(h, sealed, size, mask, expected);
        unsigned char difference = 0;
        for (size_t j = 0; j < TagSize; ++j) difference |= static_cast<unsigned char>(expected[j] ^ tag[j]);
        ok = difference == 0;
    }
    if (ok && size) std::memcpy(out, clear.data(), size);
    Wipe(clear.data(), clear.size());
    Wipe(h, kBlock);
    Wipe(mask, kBlock);
    return ok;
}

}  // namespace telwick::platform::cipher
