#include "net/tls_library.h"

#include <string>

#include "platform/file_io.h"
#include "platform/shared_library.h"

namespace postrunner {
namespace {

#define PR_RESOLVE(name) Resolve(lib, #name, &api->name)

bool ResolveSsl(void* lib, SslApi* api) {
  return PR_RESOLVE(TLS_client_method) && PR_RESOLVE(SSL_CTX_new) && PR_RESOLVE(SSL_CTX_free) &&
         PR_RESOLVE(SSL_CTX_ctrl) && PR_RESOLVE(SSL_CTX_set_options) &&
         PR_RESOLVE(SSL_CTX_set_verify) && PR_RESOLVE(SSL_CTX_set_default_verify_paths) &&
         PR_RESOLVE(SSL_CTX_load_verify_locations) && PR_RESOLVE(SSL_new) &&
         PR_RESOLVE(SSL_free) && PR_RESOLVE(SSL_ctrl) && PR_RESOLVE(SSL_set_fd) &&
         PR_RESOLVE(SSL_set1_host) && PR_RESOLVE(SSL_get0_param) &&
         PR_RESOLVE(X509_VERIFY_PARAM_set1_ip_asc) && PR_RESOLVE(SSL_connect) &&
         PR_RESOLVE(SSL_get1_session) && PR_RESOLVE(SSL_set_session) &&
         PR_RESOLVE(SSL_session_reused) && PR_RESOLVE(SSL_SESSION_is_resumable) &&
         PR_RESOLVE(SSL_SESSION_free) &&
         PR_RESOLVE(SSL_read) && PR_RESOLVE(SSL_write) && PR_RESOLVE(SSL_pending) &&
         PR_RESOLVE(SSL_shutdown) && PR_RESOLVE(SSL_get_error) &&
         PR_RESOLVE(SSL_get_verify_result) && PR_RESOLVE(X509_verify_cert_error_string) &&
         PR_RESOLVE(ERR_get_error) && PR_RESOLVE(ERR_reason_error_string) &&
         PR_RESOLVE(ERR_clear_error);
}

#undef PR_RESOLVE

// The loaded library and the one client context built from it. A
// function-local static: loaded on first use, released at process exit,
// the context before the library.
class SslLibrary {
 public:
  SslLibrary() : library_(kSslLibraryName, ResolveSsl) {}
  ~SslLibrary() { DropContext(); }
  SslLibrary(const SslLibrary&) = delete;
  SslLibrary& operator=(const SslLibrary&) = delete;

  [[nodiscard]] bool ready() const { return library_.ready(); }
  const SslApi& api() const { return library_.api(); }

  SSL_CTX* Context(const std::string& ca_file, std::string* reason) {
    if (context_ != nullptr && context_ca_file_ == ca_file) return context_;
    DropContext();
    SSL_CTX* context = api().SSL_CTX_new(api().TLS_client_method());
    // A context that would also speak protocols older than TLS 1.2 is
    // never used.
    if (context == nullptr ||
        api().SSL_CTX_ctrl(context, SSL_CTRL_SET_MIN_PROTO_VERSION, TLS1_2_VERSION, nullptr) != 1) {
      *reason = "cannot set up TLS: " + TakeSslErrorReason();
      if (context != nullptr) api().SSL_CTX_free(context);
      return nullptr;
    }
    api().SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    // Many servers close without the TLS close message after QUIT; SMTP's
    // own framing shows whether a reply was cut short.
    api().SSL_CTX_set_options(context, SSL_OP_IGNORE_UNEXPECTED_EOF);
    // A machine without a system store still verifies against `ca_file`;
    // with neither, every chain fails to verify.
    (void)api().SSL_CTX_set_default_verify_paths(context);
    api().ERR_clear_error();
    if (!ca_file.empty() &&
        api().SSL_CTX_load_verify_locations(context, ca_file.c_str(), nullptr) != 1) {
      *reason = "cannot load the CA file " + ca_file + ": " + TakeSslErrorReason();
      api().SSL_CTX_free(context);
      return nullptr;
    }
    context_ = context;
    context_ca_file_ = ca_file;
    return context_;
  }

 private:
  void DropContext() {
    if (context_ != nullptr) api().SSL_CTX_free(context_);
    context_ = nullptr;
  }

  LibraryApi<SslApi> library_;
  SSL_CTX* context_ = nullptr;
  std::string context_ca_file_;
};

SslLibrary& Library() {
  static SslLibrary library;
  return library;
}

}  // namespace

bool SslLibraryReady() { return Library().ready(); }

const SslApi& Ssl() { return Library().api(); }

std::string TakeSslErrorReason() {
  const SslApi& ssl = Ssl();
  unsigned long first = ssl.ERR_get_error();
  ssl.ERR_clear_error();
  if (first == 0) return std::string();
  // A failed system call (a CA file that cannot be opened) carries errno.
  if (ERR_SYSTEM_ERROR(first)) return ErrnoText(ERR_GET_REASON(first));
  const char* text = ssl.ERR_reason_error_string(first);
  return text != nullptr ? text : "error " + std::to_string(first);
}

SSL_CTX* ClientTlsContext(const std::string& ca_file, std::string* reason) {
  if (!SslLibraryReady()) {
    *reason = std::string("cannot load ") + kSslLibraryName;
    return nullptr;
  }
  return Library().Context(ca_file, reason);
}

}  // namespace postrunner
