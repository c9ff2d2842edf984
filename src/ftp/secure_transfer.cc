#include "ftp/secure_transfer.h"

#include <algorithm>
#include <vector>

#include "ftp/host_key_crypto.h"
#include "ftp/known_hosts.h"
#include "net/curl_options.h"
#include "platform/user_account.h"

namespace postrunner {
namespace {

// The libcurl releases that send active-mode FTPS data in clear.
constexpr unsigned kFirstCleartextActiveTls = 0x075700;  // 7.87.0
constexpr unsigned kFirstMendedActiveTls = 0x080000;     // 8.0.0

// The host as ssh names it: a URL host without the brackets of an IPv6
// address and with its zone's "%25" back to "%".
std::string SshHost(std::string_view url_host) {
  if (url_host.size() < 2 || url_host.front() != '[') return std::string(url_host);
  std::string host(url_host.substr(1, url_host.size() - 2));
  size_t zone = host.find("%25");
  if (zone != std::string::npos) host.erase(zone + 1, 2);
  return host;
}

// The base64 text of the key libcurl found: it hands over the raw key with
// its length, or a base64 text with length 0.
std::string FoundKeyText(const curl_khkey* found) {
  if (found == nullptr || found->key == nullptr) return "";
  if (found->len == 0) return found->key;
  return Base64Text(reinterpret_cast<const unsigned char*>(found->key), found->len);
}

}  // namespace

void SetTlsOptions(CURL* curl, const std::string& ca_file, CurlOptions* options) {
  options->Set(CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL))
      .Set(CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS))
      .Set(CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2))
      .Set(CURLOPT_SSL_VERIFYPEER, 1L)
      .Set(CURLOPT_SSL_VERIFYHOST, 2L);
  if (!ca_file.empty()) {
    // Naming a CA file replaces libcurl's bundle; the hashed system folder
    // keeps the system's certificates trusted beside it.
    std::string system_path = CurlSystemCaPath(curl);
    options->Set(CURLOPT_CAINFO, ca_file.c_str()).Set(CURLOPT_CAPATH, system_path.c_str());
  }
}

std::string ActiveTlsRefusal() {
  const curl_version_info_data* info = Curl().version_info(CURLVERSION_NOW);
  if (info == nullptr) return "";
  unsigned version = info->version_num;
  if (version < kFirstCleartextActiveTls || version >= kFirstMendedActiveTls) return "";
  return std::string("libcurl ") + (info->version ? info->version : "") +
         " would send the file unencrypted over an active-mode FTPS data connection "
         "(mended in libcurl 8.0.0); use /FTPPassiveMode";
}

SshHostKeyCheck::SshHostKeyCheck(const std::string& host, uint16_t port, std::string known_hosts)
    : host_(SshHost(host)), port_(port), known_hosts_(std::move(known_hosts)) {}

int SshHostKeyCheck::KeyCallback(CURL*, const curl_khkey*, const curl_khkey* found, curl_khmatch,
                                 void* self) {
  auto* check = static_cast<SshHostKeyCheck*>(self);
  try {
    if (check->Decide(found)) return CURLKHSTAT_FINE;
  } catch (...) {
    // Only running out of memory gets here; the key is not trusted.
  }
  return CURLKHSTAT_REJECT;
}

bool SshHostKeyCheck::Decide(const curl_khkey* found) {
  if (!HostKeyCryptoReady()) {
    rejection_ = std::string(kCryptoLibraryName) + " could not be loaded to check the SSH host key";
    return false;
  }
  // A file that cannot be read in full lists nothing: the text stays empty.
  std::string text;
  (void)ReadKnownHostsFile(known_hosts_, &text);
  const HostKeyVerdict verdict =
      CheckKnownHosts(text, host_, port_, FoundKeyText(found), &HashedHostName);
  if (verdict == HostKeyVerdict::kKnown) return true;
  const std::string name = KnownHostsName(host_, port_);
  const std::string add = "ssh-keyscan -p " + std::to_string(port_) + " " + host_ + " >> " +
                          known_hosts_;
  switch (verdict) {
    case HostKeyVerdict::kRevoked:
      rejection_ = "The SSH host key of " + name + " is marked @revoked in " + known_hosts_ +
                   "; a revoked key is never accepted";
      break;
    case HostKeyVerdict::kChanged:
      rejection_ = "The SSH host key of " + name + " differs from the one in " + known_hosts_ +
                   " (the server was reinstalled, or another machine answers); if the "
                   "change is expected, remove the old key with ssh-keygen -R '" + name +
                   "' -f " + known_hosts_ + " and add the new one with " + add;
      break;
    default:
      rejection_ = "The SSH host key of " + name + " is not in " + known_hosts_ +
                   "; compare its fingerprint with the server's, then add it with " + add;
      break;
  }
  return false;
}

std::string SshHostKeyCheck::NegotiationAdvice() const {
  std::string text;
  std::vector<std::string> types;
  if (HostKeyCryptoReady() && ReadKnownHostsFile(known_hosts_, &text)) {
    types = KnownHostKeyTypes(text, host_, port_, &HashedHostName);
  }
  const bool rsa_only =
      !types.empty() && std::all_of(types.begin(), types.end(),
                                    [](const std::string& type) { return type == "ssh-rsa"; });
  if (rsa_only) {
    return "; " + known_hosts_ + " lists only an ssh-rsa host key for " +
           KnownHostsName(host_, port_) +
           ", so only that type is asked for, signed with SHA-1, which OpenSSH 8.8 and later "
           "refuse: list the server's ed25519 or ECDSA host key instead (ssh-keyscan -t "
           "ed25519,ecdsa -p " + std::to_string(port_) + " " + host_ + " >> " + known_hosts_ +
           "), or give the server one if it has only an RSA key";
  }
  return "; if the server has only an RSA host key, this libssh2 asks for its SHA-1 "
         "signature (ssh-rsa), which OpenSSH 8.8 and later refuse: give the server an "
         "ed25519 or ECDSA host key";
}

std::string KnownHostsFile(const std::string& chosen) {
  if (!chosen.empty()) return chosen;
  std::string home = HomeFolder();
  if (home.empty()) return "";
  return home + "/.ssh/known_hosts";
}

void SetSshOptions(const FtpSecurity& security, bool has_password, const std::string& known_hosts,
                   SshHostKeyCheck* check, CurlOptions* options) {
  long auth = 0;
  if (!security.ssh_key.empty()) {
    auth |= CURLSSH_AUTH_PUBLICKEY;
    // An empty public key file lets the library derive it from the private
    // key instead of looking for one in default places.
    options->Set(CURLOPT_SSH_PRIVATE_KEYFILE, security.ssh_key.c_str())
        .Set(CURLOPT_SSH_PUBLIC_KEYFILE, "");
    if (!security.ssh_passphrase.empty()) {
      options->Set(CURLOPT_KEYPASSWD, security.ssh_passphrase.c_str());
    }
  }
  if (has_password) auth |= CURLSSH_AUTH_PASSWORD | CURLSSH_AUTH_KEYBOARD;
  options->Set(CURLOPT_SSH_AUTH_TYPES, auth)
      .Set(CURLOPT_SSH_KNOWNHOSTS, known_hosts.c_str())
      .Set(CURLOPT_SSH_KEYFUNCTION, &SshHostKeyCheck::KeyCallback)
      .Set(CURLOPT_SSH_KEYDATA, static_cast<void*>(check));
}

}  // namespace postrunner
