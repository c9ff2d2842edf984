#include "oauth/providers.h"

#include "platform/ascii.h"

namespace postrunner {
namespace {

// A tenant is a domain name, a GUID or one of the fixed names.
bool IsTenantName(const std::string& tenant) {
  if (tenant.empty() || tenant.size() > 255) return false;
  for (char c : tenant) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '.' || c == '_';
    if (!ok) return false;
  }
  return true;
}

}  // namespace

bool LookUpProvider(const std::string& provider, const std::string& tenant,
                    ProviderEndpoints* out) {
  if (EqualNoCase(provider, "microsoft")) {
    const std::string name = tenant.empty() ? std::string(kDefaultTenant) : tenant;
    if (!IsTenantName(name)) return false;
    const std::string base = "https://login.microsoftonline.com/" + name + "/oauth2/v2.0/";
    *out = ProviderEndpoints{base + "authorize", base + "token", base + "devicecode",
                             "https://outlook.office.com/SMTP.Send offline_access",
                             "https://outlook.office.com/IMAP.AccessAsUser.All offline_access", ""};
    return true;
  }
  if (EqualNoCase(provider, "google")) {
    *out = ProviderEndpoints{"https://accounts.google.com/o/oauth2/v2/auth",
                             "https://oauth2.googleapis.com/token", "", "https://mail.google.com/",
                             "https://mail.google.com/", "&access_type=offline&prompt=consent"};
    return true;
  }
  return false;
}

}  // namespace postrunner
