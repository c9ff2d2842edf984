#include "net/tls_session_cache.h"

#include "net/tls_library.h"

namespace postrunner {

void TlsSessionCache::SessionFree::operator()(ssl_session_st* session) const {
  Ssl().SSL_SESSION_free(session);
}

TlsSessionCache::TlsSessionCache() = default;

TlsSessionCache::~TlsSessionCache() = default;

ssl_session_st* TlsSessionCache::Find(const std::string& host, const std::string& ca_file) const {
  if (session_ == nullptr || host != host_ || ca_file != ca_file_) return nullptr;
  return session_.get();
}

void TlsSessionCache::Keep(ssl_st* ssl, const std::string& host, const std::string& ca_file) {
  const SslApi& api = Ssl();
  std::unique_ptr<ssl_session_st, SessionFree> session(api.SSL_get1_session(ssl));
  if (session == nullptr || api.SSL_SESSION_is_resumable(session.get()) != 1) return;
  session_ = std::move(session);
  host_ = host;
  ca_file_ = ca_file;
}

}  // namespace postrunner
