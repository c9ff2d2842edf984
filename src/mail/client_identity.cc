#include "mail/client_identity.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <random>

#include "platform/socket_names.h"
#include "platform/system_api.h"

namespace postrunner {
namespace {

// The canonical name of `host_name`, looked up once per process (every
// piece of a split file needs it, and the resolver may be slow).
const std::string& Canonical(const std::string& host_name) {
  static std::string for_name;
  static std::string canonical;
  if (canonical.empty() || for_name != host_name) {
    for_name = host_name;
    canonical = CanonicalHostName(host_name);
  }
  return canonical;
}

// Whether `name` can stand as a domain: letters, digits, "-" and ".".
bool IsDomain(const std::string& name) {
  if (name.empty()) return false;
  for (char c : name) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '-' || c == '.';
    if (!ok) return false;
  }
  return true;
}

}  // namespace

std::string SmtpClientName(const std::string& host_name, int fd) {
  const std::string& canonical = Canonical(host_name);
  if (IsDomain(canonical) && canonical.find('.') != std::string::npos) return canonical;
  SocketAddress local;
  if (SocketEndAddress(fd, false, &local)) {
    std::string address = NumericAddress(local);
    if (!address.empty()) {
      return local.family == AF_INET6 ? "[IPv6:" + address + "]" : "[" + address + "]";
    }
  }
  return host_name;
}

std::string NewMessageId() {
  static std::mt19937_64 random{std::random_device{}()};
  std::string host_name;
  if (System().HostName(&host_name) != 0) host_name.clear();
  const std::string& canonical = Canonical(host_name);
  const std::string domain = IsDomain(canonical) ? canonical : "localhost";
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  char unique[96];
  // 58 characters at most: the text always fits.
  (void)std::snprintf(
      unique, sizeof unique, "%lld.%ld.%016llx",
      static_cast<long long>(std::chrono::duration_cast<std::chrono::microseconds>(now).count()),
      static_cast<long>(::getpid()), static_cast<unsigned long long>(random()));
  return "<" + std::string(unique) + "@" + domain + ">";
}

}  // namespace postrunner
