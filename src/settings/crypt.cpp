#include "settings/crypt.h"

#include "platform/cipher.h"
#include "platform/fault.h"

#include <cstring>
#include <vector>

namespace modCrypt {

std::string Passphrase;

namespace {

namespace cipher = telwick::platform::cipher;

constexpr int kNonce = static_cast<int>(cipher::NonceSize);
constexpr int kTag = static_cast<int>(cipher::TagSize);
constexpr int kOverhead = kNonce + kTag;  // the 32 bytes every cipher is longer

// The fixed key text of the stored login: 32 printable characters.
constexpr char kPassphrase[] = "t3Lw1ck:Corvane/Monitoring#2xQ7!";
static_assert(sizeof(kPassphrase) - 1 == 32, "the passphrase has 32 characters");

// Overwrites key material before its memory is given back.
void Wipe(void* p, size_t n) {
    volatile unsigned char* b = static_cast<volatile unsigned char*>(p);
    while (n--) *b++ = 0;
}

// The key is the SHA-256 of the passphrase.
class Key {
public:
    explicit Key(const char* text)
        : ok_(cipher::Sha256(reinterpret_cast<const unsigned char*>(text), std::strlen(text), bytes_)) {}
    ~Key() { Wipe(bytes_, sizeof bytes_); }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    bool ok() const { return ok_; }
    const unsigned char* bytes() const { return bytes_; }

private:
    unsigned char bytes_[cipher::KeySize];
    bool ok_;
};

}  // namespace

void SetPassphrase() { Passphrase = kPassphrase; }

int32_t AESEncryptWithNonce(const char* key, const unsigned char* nonce, unsigned char* data, int32_t length) {
    if (!key || !nonce || !data || length < 0) return 1;
    Key k(key);
    if (!k.ok()) return 3;
    // nonce | ciphertext | tag, exactly length + 32 bytes of the caller's buffer.
    unsigned char tag[cipher::TagSize];
    if (!cipher::Seal(k.bytes(), nonce, data, static_cast<size_t>(length), data + kNonce, tag)) return 4;
    std::memcpy(data + kNonce + length, tag, kTag);
    std::memcpy(data, nonce, kNonce);
    return 0;
}

int32_t AESEncrypt(const char* key, unsigned char* data, int32_t length) {
    unsigned char nonce[cipher::NonceSize];
    if (!cipher::RandomBytes(nonce, sizeof nonce)) return 2;
    return AESEncryptWithNonce(key, nonce, data, length);
}

int32_t AESDecrypt(const char* key, unsigned char* data, int32_t length) {
    if (!key || !data || length < kOverhead) return 1;
    const int clearLength = length - kOverhead;
    Key k(key);
    if (!k.ok()) return 3;
    std::vector<unsigned char> clear(static_cast<size_t>(clearLength) + 1);
    // The tag decides: nothing of a tampered text or a wrong key reaches the buffer.
    const bool ok = cipher::Open(k.bytes(), data, data + kNonce, static_cast<size_t>(clearLength),
                                 data + kNonce + clearLength, clear.data());
    if (ok) {
        std::memcpy(data, clear.data(), static_cast<size_t>(clearLength));
        // The clear text, its terminator, and zeros over the rest of the cipher.
        std::memset(data + clearLength, 0, kOverhead);
    }
    Wipe(clear.data(), clear.size());
    return ok ? 0 : 4;
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
