// The known hosts file: the input's first byte picks the server (name and
// port), the next bytes up to a NUL give the key the server shows, and the
// rest is the file.
//
// Holds: the verdict is deterministic; a key is known or revoked only when
// the file holds it; a "@revoked" line for the key, added anywhere, refuses
// it whatever else is listed; a plain line for the server and the key, added
// to a file that does not revoke the key, makes it known.
#include <string>
#include <string_view>

#include "ftp/known_hosts.h"
#include "fuzz_support.h"

namespace postrunner {
namespace {

const char* const kHosts[] = {"example.org", "127.0.0.1", "::1", "Files.Example.Org"};

// A stand-in for the HMAC of hashed names: deterministic, never empty.
std::string FakeHash(std::string_view salt, std::string_view name) {
  return std::string(salt) + ":" + std::string(name);
}

// A key as a server would show it: base64 characters only, never empty.
std::string KeyFrom(std::string_view bytes) {
  std::string key;
  for (char c : bytes) {
    const bool base64 = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '+' || c == '/' || c == '=';
    if (base64) key += c;
  }
  return key.empty() ? std::string("AAAA") : key;
}

HostKeyVerdict Check(std::string_view text, const std::string& host, uint16_t port,
                     const std::string& key) {
  return CheckKnownHosts(text, host, port, key, FakeHash);
}

}  // namespace
}  // namespace postrunner

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace postrunner;
  std::string_view input = fuzz::Input(data, size);
  if (input.empty()) return 0;
  const unsigned pick = static_cast<unsigned char>(input[0]);
  const std::string host = kHosts[pick % 4];
  const uint16_t port = (pick & 4) != 0 ? 22 : 2222;
  input.remove_prefix(1);
  const size_t nul = input.find('\0');
  const std::string key = KeyFrom(input.substr(0, nul));
  const std::string_view text =
      nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);

  const HostKeyVerdict verdict = Check(text, host, port, key);
  FUZZ_CHECK(verdict == Check(text, host, port, key), "two readings differ");
  if (verdict == HostKeyVerdict::kKnown || verdict == HostKeyVerdict::kRevoked) {
    FUZZ_CHECK(text.find(key) != std::string_view::npos, "a key the file does not hold");
  }
  const std::string revoked = "@revoked elsewhere ssh-ed25519 " + key + "\n";
  FUZZ_CHECK(Check(revoked + std::string(text), host, port, key) == HostKeyVerdict::kRevoked &&
                 Check(std::string(text) + "\n" + revoked, host, port, key) ==
                     HostKeyVerdict::kRevoked,
             "a revoked key was accepted");
  if (verdict != HostKeyVerdict::kRevoked) {
    const std::string listed =
        std::string(text) + "\n" + KnownHostsName(host, port) + " ssh-ed25519 " + key + "\n";
    FUZZ_CHECK(Check(listed, host, port, key) == HostKeyVerdict::kKnown,
               "a key listed for the server is not known");
  }
  return 0;
}
