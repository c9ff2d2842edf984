#include "ftp/host_key_crypto.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <vector>

#include "platform/shared_library.h"

namespace postrunner {
namespace {

// More than any public key or digest holds.
constexpr size_t kMaxBase64Bytes = 64 * 1024;

struct CryptoApi {
  decltype(&::EVP_EncodeBlock) EVP_EncodeBlock;
  decltype(&::EVP_DecodeBlock) EVP_DecodeBlock;
  decltype(&::EVP_sha1) EVP_sha1;
  decltype(&::HMAC) HMAC;
};

bool ResolveCrypto(void* lib, CryptoApi* api) {
  return Resolve(lib, "EVP_EncodeBlock", &api->EVP_EncodeBlock) &&
         Resolve(lib, "EVP_DecodeBlock", &api->EVP_DecodeBlock) &&
         Resolve(lib, "EVP_sha1", &api->EVP_sha1) && Resolve(lib, "HMAC", &api->HMAC);
}

// The loaded library, kept for the process.
const LibraryApi<CryptoApi>& Library() {
  static const LibraryApi<CryptoApi> library(kCryptoLibraryName, ResolveCrypto);
  return library;
}

// The bytes the base64 text `text` stands for; false when it is none.
[[nodiscard]] bool DecodeBase64(std::string_view text, std::vector<unsigned char>* bytes) {
  if (text.empty() || text.size() % 4 != 0 || text.size() > 4096) return false;
  bytes->resize(text.size() / 4 * 3);
  int n = Library().api().EVP_DecodeBlock(
      bytes->data(), reinterpret_cast<const unsigned char*>(text.data()),
      static_cast<int>(text.size()));
  if (n < 0) return false;
  // The decoder counts the padding as zero bytes.
  size_t padding = text.back() != '=' ? 0 : text[text.size() - 2] == '=' ? 2 : 1;
  bytes->resize(static_cast<size_t>(n) - padding);
  return true;
}

}  // namespace

bool HostKeyCryptoReady() { return Library().ready(); }

std::string Base64Text(const unsigned char* bytes, size_t size) {
  if (size > kMaxBase64Bytes) return "";
  std::string text((size + 2) / 3 * 4 + 1, '\0');
  int n = Library().api().EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes,
                                          static_cast<int>(size));
  text.resize(n < 0 ? 0 : static_cast<size_t>(n));
  return text;
}

std::string HashedHostName(std::string_view salt, std::string_view name) {
  std::vector<unsigned char> key;
  if (!HostKeyCryptoReady() || !DecodeBase64(salt, &key)) return "";
  const CryptoApi& api = Library().api();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (api.HMAC(api.EVP_sha1(), key.data(), static_cast<int>(key.size()),
               reinterpret_cast<const unsigned char*>(name.data()), name.size(), digest,
               &length) == nullptr) {
    return "";
  }
  return Base64Text(digest, length);
}

}  // namespace postrunner
