// The cryptography the SFTP host key check needs: base64 (the form keys and
// hashed host names have in a known hosts file) and HMAC-SHA1 (how a hashed
// host name is made). It comes from OpenSSL's libcrypto, loaded at run time
// the first time a host key is checked; libcurl's SSH layer has it mapped by
// then anyway.
#ifndef POSTRUNNER_FTP_HOST_KEY_CRYPTO_H_
#define POSTRUNNER_FTP_HOST_KEY_CRYPTO_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace postrunner {

// The shared object that is loaded.
inline constexpr const char* kCryptoLibraryName = "libcrypto.so.3";

// Loads libcrypto the first time it is called in the process. Returns
// whether every entry point was found; a failed load is not tried again.
[[nodiscard]] bool HostKeyCryptoReady();

// The padded base64 text of the `size` bytes at `bytes`; "" for more than
// 64 KiB. The caller must have seen HostKeyCryptoReady() return true.
std::string Base64Text(const unsigned char* bytes, size_t size);

// The base64 text of HMAC-SHA1 of `name`, keyed with the bytes the base64
// text `salt` stands for: the hash part of a hashed known hosts name
// "|1|salt|hash". "" when `salt` is no base64 text or libcrypto is missing.
std::string HashedHostName(std::string_view salt, std::string_view name);

}  // namespace postrunner

#endif  // POSTRUNNER_FTP_HOST_KEY_CRYPTO_H_
