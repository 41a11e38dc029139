// The cipher of the protected login over OpenSSL.
#include "platform/cipher.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <climits>
#include <cstring>
#include <memory>
#include <vector>

namespace telwick::platform::cipher {

namespace {

struct CtxFree {
    void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CtxFree>;

// A buffer that is wiped when it goes.
struct Secret {
    explicit Secret(size_t n) : bytes(n + 16) {}
    ~Secret() { OPENSSL_cleanse(bytes.data(), bytes.size()); }
    std::vector<unsigned char> bytes;
};

bool Start(EVP_CIPHER_CTX* ctx, bool encrypt, const unsigned char* key, const unsigned char* nonce) {
    return EVP_CipherInit_ex(ctx, EVP_aes_256_gcm(), nullptr, nullptr, nullptr, encrypt) == 1 &&
           EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(NonceSize), nullptr) == 1 &&
           EVP_CipherInit_ex(ctx, nullptr, nullptr, key, nonce, encrypt) == 1;
}

}  // namespace

bool Sha256(const unsigned char* data, size_t size, unsigned char digest[DigestSize]) {
    return SHA256(data, size, digest) != nullptr;
}

bool RandomBytes(unsigned char* out, size_t size) {
    return size <= INT_MAX && RAND_bytes(out, static_cast<int>(size)) == 1;
}

bool Seal(const unsigned char key[KeySize], const unsigned char nonce[NonceSize], const unsigned char* clear,
          size_t size, unsigned char* out, unsigned char tag[TagSize]) {
    if (size > INT_MAX - 16) return false;
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    Secret buffer(size);
    int n = 0, fin = 0;
    const bool ok =
        ctx && Start(ctx.get(), true, key, nonce) &&
        (size == 0 || EVP_EncryptUpdate(ctx.get(), buffer.bytes.data(), &n, clear, static_cast<int>(size)) == 1) &&
        EVP_EncryptFinal_ex(ctx.get(), buffer.bytes.data() + n, &fin) == 1 &&
        static_cast<size_t>(n + fin) == size &&
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, static_cast<int>(TagSize), tag) == 1;
    if (ok && size) std::memcpy(out, buffer.bytes.data(), size);
    return ok;
}

bool Open(const unsigned char key[KeySize], const unsigned char nonce[NonceSize], const unsigned char* sealed,
          size_t size, const unsigned char tag[TagSize], unsigned char* out) {
    if (size > INT_MAX - 16) return false;
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    Secret buffer(size);
    unsigned char expected[TagSize];
    std::memcpy(expected, tag, TagSize);
    int n = 0, fin = 0;
    // The tag decides: nothing of a tampered text or a wrong key reaches out.
    const bool ok =
        ctx && Start(ctx.get(), false, key, nonce) &&
        (size == 0 ||
         EVP_DecryptUpdate(ctx.get(), buffer.bytes.data(), &n, sealed, static_cast<int>(size)) == 1) &&
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(TagSize), expected) == 1 &&
        EVP_DecryptFinal_ex(ctx.get(), buffer.bytes.data() + n, &fin) == 1 && static_cast<size_t>(n + fin) == size;
    if (ok && size) std::memcpy(out, buffer.bytes.data(), size);
    return ok;
}

}  // namespace telwick::platform::cipher
