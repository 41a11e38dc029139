// Protection of the stored login: the tag, the cipher and the hex form.
#pragma once

#include <cstdint>
#include <string>

namespace modCrypt {

extern std::string Passphrase;  // empty until SetPassphrase
void SetPassphrase();

// cipher = clear length + 32 bytes, or the empty text when the cipher fails.
std::string EncryptString(const std::string& clear, const std::string& key);
// The clear bytes up to their first zero byte, or the empty text when the data
// are not intact or the key is wrong. A result with no zero byte at all is a
// fault (5, invalid argument) thrown to the caller.
std::string DecryptString(const std::string& cipher, const std::string& key);

// Our own AESEncrypt/AESDecrypt: same contract as the maker's library. data
// holds length + 32 bytes (+1 terminating zero); 0 on success. AES-256-GCM,
// key = SHA-256 of the passphrase, 16-byte random nonce + ciphertext + 16-byte
// tag. Decrypt writes the clear text followed by a zero byte.
int32_t AESEncrypt(const char* key, unsigned char* data, int32_t length);
int32_t AESDecrypt(const char* key, unsigned char* data, int32_t length);
// AESEncrypt with a nonce given (16 bytes) instead of a random one: the
// known-answer tests pin the stored form with it.
int32_t AESEncryptWithNonce(const char* key, const unsigned char* nonce, unsigned char* data, int32_t length);

// The stored form of "Username" / "Password": StringToHex(EncryptString(tag +
// clear, Passphrase), " "). Empty when the cipher failed.
std::string ProtectValue(const std::string& tag, const std::string& clear);
// The way back: empty stays empty; HexToString(stored, 1), DecryptString, and
// the first three characters dropped (three or fewer give the empty text).
// Faults of HexToString / DecryptString go to the caller.
std::string RevealValue(const std::string& stored);

}  // namespace modCrypt

namespace modHex {

// Two uppercase digits per byte, gaps filled with the separator's first
// character (s copies for a separator of length s). Empty input or an empty
// separator is a fault (5) thrown to the caller.
std::string StringToHex(const std::string& bytes, const std::string& separator);
// Pairs at i * (separatorLength + 2); the characters between pairs are skipped.
// A digit character outside codes 48-70 (lower case included) or a text too
// short for one pair is a fault (9) thrown to the caller. Empty gives empty.
std::string HexToString(const std::string& text, int32_t separatorLength);

}  // namespace modHex
