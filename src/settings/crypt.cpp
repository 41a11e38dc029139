#include "settings/crypt.h"

#include "platform/fault.h"

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <cstring>
#include <memory>
#include <vector>

namespace modCrypt {

std::string Passphrase;

namespace {

constexpr int kNonce = 16;
constexpr int kTag = 16;
constexpr int kOverhead = kNonce + kTag;  // the 32 bytes every cipher is longer

// The fixed key text of the stored login: 32 printable characters.
constexpr char kPassphrase[] = "t3Lw1ck:Corvane/Monitoring#2xQ7!";
static_assert(sizeof(kPassphrase) - 1 == 32, "the passphrase has 32 characters");

struct CtxFree {
    void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CtxFree>;

void DeriveKey(const char* key, unsigned char out[32]) {
    SHA256(reinterpret_cast<const unsigned char*>(key), std::strlen(key), out);
}

}  // namespace

void SetPassphrase() { Passphrase = kPassphrase; }

int32_t AESEncrypt(const char* key, unsigned char* data, int32_t length) {
    if (!key || !data || length < 0) return 1;
    unsigned char k[32];
    DeriveKey(key, k);
    unsigned char nonce[kNonce];
    if (RAND_bytes(nonce, kNonce) != 1) return 2;
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    if (!ctx) return 3;
    std::vector<unsigned char> out(static_cast<size_t>(length) + kTag + 16);
    int n = 0, fin = 0;
    bool ok = EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
              EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, kNonce, nullptr) == 1 &&
              EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, k, nonce) == 1 &&
              (length == 0 || EVP_EncryptUpdate(ctx.get(), out.data(), &n, data, length) == 1) &&
              EVP_EncryptFinal_ex(ctx.get(), out.data() + n, &fin) == 1 &&
              EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, kTag, out.data() + length) == 1;
    OPENSSL_cleanse(k, sizeof k);
    if (!ok || n + fin != length) return 4;
    // nonce | ciphertext | tag, exactly length + 32 bytes of the caller's buffer.
    std::memcpy(data, nonce, kNonce);
    std::memcpy(data + kNonce, out.data(), static_cast<size_t>(length) + kTag);
    OPENSSL_cleanse(out.data(), out.size());
    return 0;
}

int32_t AESDecrypt(const char* key, unsigned char* data, int32_t length) {
    if (!key || !data || length < kOverhead) return 1;
    const int clearLength = length - kOverhead;
    unsigned char k[32];
    DeriveKey(key, k);
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    if (!ctx) return 3;
    std::vector<unsigned char> out(static_cast<size_t>(clearLength) + 16);
    unsigned char tag[kTag];
    std::memcpy(tag, data + kNonce + clearLength, kTag);
    int n = 0, fin = 0;
    bool ok =
        EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, kNonce, nullptr) == 1 &&
        EVP_DecryptInit_ex(ctx.get(), nullptr, nullptr, k, data) == 1 &&
        (clearLength == 0 || EVP_DecryptUpdate(ctx.get(), out.data(), &n, data + kNonce, clearLength) == 1) &&
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, kTag, tag) == 1;
    // The tag decides: nothing of a tampered text or a wrong key reaches the buffer.
    ok = ok && EVP_DecryptFinal_ex(ctx.get(), out.data() + n, &fin) == 1 && n + fin == clearLength;
    OPENSSL_cleanse(k, sizeof k);
    if (!ok) {
        OPENSSL_cleanse(out.data(), out.size());
        return 4;
    }
    std::memcpy(data, out.data(), static_cast<size_t>(clearLength));
    // The clear text, its terminator, and zeros over the rest of the cipher.
    std::memset(data + clearLength, 0, kOverhead);
    OPENSSL_cleanse(out.data(), out.size());
    return 0;
}

std::string EncryptString(const std::string& clear, const std::string& key) {
    if (clear.size() > static_cast<size_t>(INT32_MAX - kOverhead - 1)) return {};
    const int32_t n = static_cast<int32_t>(clear.size());
    std::vector<unsigned char> buffer(clear.size() + kOverhead + 1, 0);
    std::memcpy(buffer.data(), clear.data(), clear.size());
    if (AESEncrypt(key.c_str(), buffer.data(), n) != 0) return {};
    return std::string(reinterpret_cast<const char*>(buffer.data()), clear.size() + kOverhead);
}

std::string DecryptString(const std::string& cipher, const std::string& key) {
    if (cipher.size() > static_cast<size_t>(INT32_MAX - kOverhead - 1)) return {};
    const int32_t m = static_cast<int32_t>(cipher.size());
    std::vector<unsigned char> buffer(cipher.size() + kOverhead + 1, 0);
    std::memcpy(buffer.data(), cipher.data(), cipher.size());
    if (AESDecrypt(key.c_str(), buffer.data(), m) != 0) return {};
    // The text up to its first zero byte; the buffer's own terminator is no part of it.
    const size_t size = cipher.size() + kOverhead;
    const auto* begin = reinterpret_cast<const char*>(buffer.data());
    const void* zero = std::memchr(begin, 0, size);
    if (!zero) throw telwick::Fault(telwick::FaultNr::InvalidCall, "Invalid procedure call or argument");
    return std::string(begin, static_cast<const char*>(zero));
}

std::string ProtectValue(const std::string& tag, const std::string& clear) {
    // Whatever protects a login uses the fixed passphrase, even before the start
    // handler set it: a value made with an empty one could never be read back.
    if (Passphrase.empty()) SetPassphrase();
    std::string cipher = EncryptString(tag + clear, Passphrase);
    if (cipher.empty()) return {};
    return modHex::StringToHex(cipher, " ");
}

std::string RevealValue(const std::string& stored) {
    if (stored.empty()) return {};
    if (Passphrase.empty()) SetPassphrase();
    std::string clear = DecryptString(modHex::HexToString(stored, 1), Passphrase);
    if (clear.size() <= 3) return {};
    return clear.substr(3);
}

}  // namespace modCrypt
