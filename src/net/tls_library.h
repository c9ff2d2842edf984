// OpenSSL for TLS connections: the library, loaded from its shared object the
// first time a connection needs TLS, and the client context every connection
// starts from. Runs without TLS never map libssl and libcrypto (linked in,
// they would add about 3 MiB to every run's peak memory). Only the TLS
// stream layer (tls_socket_api.h) uses this.
#ifndef POSTRUNNER_NET_TLS_LIBRARY_H_
#define POSTRUNNER_NET_TLS_LIBRARY_H_

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <string>

namespace postrunner {

// The OpenSSL entry points the TLS layer calls, typed after their
// declarations.
struct SslApi {
  decltype(&::TLS_client_method) TLS_client_method;
  decltype(&::SSL_CTX_new) SSL_CTX_new;
  decltype(&::SSL_CTX_free) SSL_CTX_free;
  decltype(&::SSL_CTX_ctrl) SSL_CTX_ctrl;
  decltype(&::SSL_CTX_set_options) SSL_CTX_set_options;
  decltype(&::SSL_CTX_set_verify) SSL_CTX_set_verify;
  decltype(&::SSL_CTX_set_default_verify_paths) SSL_CTX_set_default_verify_paths;
  decltype(&::SSL_CTX_load_verify_locations) SSL_CTX_load_verify_locations;
  decltype(&::SSL_new) SSL_new;
  decltype(&::SSL_free) SSL_free;
  decltype(&::SSL_ctrl) SSL_ctrl;
  decltype(&::SSL_set_fd) SSL_set_fd;
  decltype(&::SSL_set1_host) SSL_set1_host;
  decltype(&::SSL_get0_param) SSL_get0_param;
  decltype(&::X509_VERIFY_PARAM_set1_ip_asc) X509_VERIFY_PARAM_set1_ip_asc;
  decltype(&::SSL_connect) SSL_connect;
  decltype(&::SSL_get1_session) SSL_get1_session;
  decltype(&::SSL_set_session) SSL_set_session;
  decltype(&::SSL_session_reused) SSL_session_reused;
  decltype(&::SSL_SESSION_is_resumable) SSL_SESSION_is_resumable;
  decltype(&::SSL_SESSION_free) SSL_SESSION_free;
  decltype(&::SSL_read) SSL_read;
  decltype(&::SSL_write) SSL_write;
  decltype(&::SSL_pending) SSL_pending;
  decltype(&::SSL_shutdown) SSL_shutdown;
  decltype(&::SSL_get_error) SSL_get_error;
  decltype(&::SSL_get_verify_result) SSL_get_verify_result;
  decltype(&::X509_verify_cert_error_string) X509_verify_cert_error_string;
  decltype(&::ERR_get_error) ERR_get_error;
  decltype(&::ERR_reason_error_string) ERR_reason_error_string;
  decltype(&::ERR_clear_error) ERR_clear_error;
};

// The shared object that is loaded (libcrypto comes with it).
inline constexpr const char* kSslLibraryName = "libssl.so.3";

// Loads libssl the first time it is called in the process. Returns whether
// every entry point was found; a failed load is not tried again.
[[nodiscard]] bool SslLibraryReady();

// The entry points. The caller must have seen SslLibraryReady() return true.
const SslApi& Ssl();

// The reason of the oldest error in OpenSSL's error queue of this thread
// ("wrong version number"), or "" when the queue is empty. Empties the queue.
std::string TakeSslErrorReason();

// A client context that verifies the server's chain against the system's
// trusted certificates plus those in the PEM file `ca_file` (none when
// empty), and speaks TLS 1.2 or newer. Built once per `ca_file` and kept for
// the process (single-threaded use). Returns nullptr and sets `*reason` when
// the library or `ca_file` cannot be loaded. Not owned by the caller.
SSL_CTX* ClientTlsContext(const std::string& ca_file, std::string* reason);

}  // namespace postrunner

#endif  // POSTRUNNER_NET_TLS_LIBRARY_H_
