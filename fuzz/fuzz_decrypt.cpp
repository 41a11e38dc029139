// The protected login: decryption of whatever is stored, and the tamper
// evidence of what was written.
#include <cstdint>
#include <string>

#include "fuzz_common.h"
#include "settings/crypt.h"

namespace {

std::string UpToZero(const std::string& text) { return text.substr(0, text.find('\0')); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (modCrypt::Passphrase.empty()) modCrypt::SetPassphrase();
    const std::string& key = modCrypt::Passphrase;
    if (size < 1) return 0;
    uint8_t mode = data[0];
    std::string input = fuzz::Text(data + 1, size - 1);

    // Stored data that this installation did not write never decrypts.
    std::string clear;
    fuzz::FaultOf([&] { clear = modCrypt::DecryptString(input, key); });
    fuzz::Expect(clear.empty(), "data that were never encrypted decrypted to a text");
    fuzz::FaultOf([&] { clear = modCrypt::RevealValue(input); });
    fuzz::Expect(clear.empty(), "a stored value that was never protected revealed a text");

    // What was encrypted comes back, and any change of one byte or another
    // passphrase is noticed.
    std::string cipher = modCrypt::EncryptString(input, key);
    fuzz::Expect(cipher.size() == input.size() + 32, "the cipher is not the clear length + 32");
    fuzz::Expect(UpToZero(modCrypt::DecryptString(cipher, key)) == UpToZero(input),
                 "the round trip lost the text");
    std::string tampered = cipher;
    tampered[static_cast<size_t>(mode) * 7 % tampered.size()] ^= static_cast<char>(mode | 1);
    fuzz::FaultOf([&] { clear = modCrypt::DecryptString(tampered, key); });
    fuzz::Expect(clear.empty(), "a tampered cipher decrypted");
    std::string otherKey = key;
    otherKey[mode % otherKey.size()] ^= 1;
    fuzz::FaultOf([&] { clear = modCrypt::DecryptString(cipher, otherKey); });
    fuzz::Expect(clear.empty(), "another passphrase decrypted the cipher");

    // The stored form reads back with the tag dropped.
    if (input.find('\0') == std::string::npos) {
        std::string stored = modCrypt::ProtectValue("USR", input);
        fuzz::Expect(stored.size() == 3 * (input.size() + 3 + 32) - 1, "the stored value has the wrong length");
        fuzz::Expect(modCrypt::RevealValue(stored) == input, "the stored value did not read back");
    }
    return 0;
}
