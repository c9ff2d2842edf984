#include "oauth/pkce.h"

#include <cstdint>

#include "oauth/sha256.h"
#include "platform/secret_memory.h"
#include "platform/unique_source.h"

namespace postrunner {

std::string Base64Url(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string text;
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t group = (uint32_t{static_cast<uint8_t>(bytes[i])} << 16) |
                           (uint32_t{static_cast<uint8_t>(bytes[i + 1])} << 8) |
                           uint32_t{static_cast<uint8_t>(bytes[i + 2])};
    for (int shift = 18; shift >= 0; shift -= 6) text += kAlphabet[(group >> shift) & 63];
  }
  const size_t rest = bytes.size() - i;
  if (rest > 0) {
    uint32_t group = uint32_t{static_cast<uint8_t>(bytes[i])} << 16;
    if (rest == 2) group |= uint32_t{static_cast<uint8_t>(bytes[i + 1])} << 8;
    text += kAlphabet[(group >> 18) & 63];
    text += kAlphabet[(group >> 12) & 63];
    if (rest == 2) text += kAlphabet[(group >> 6) & 63];
  }
  return text;
}

bool RandomToken(size_t bytes, std::string* token) {
  std::string raw;
  while (raw.size() < bytes) {
    uint64_t number = 0;
    if (!RandomNumber(&number)) return false;
    for (int k = 0; k < 8 && raw.size() < bytes; ++k) {
      raw += static_cast<char>(number & 0xff);
      number >>= 8;
    }
  }
  *token = Base64Url(raw);
  WipeSecret(&raw);
  return true;
}

bool MakeCodeVerifier(std::string* verifier) { return RandomToken(32, verifier); }

std::string CodeChallenge(std::string_view verifier) {
  const auto digest = Sha256(verifier);
  return Base64Url(std::string_view(reinterpret_cast<const char*>(digest.data()), digest.size()));
}

}  // namespace postrunner
