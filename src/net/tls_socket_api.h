// TlsSocketApi: TLS for a CQXBlockSock connection without changing the
// socket class or its callers. It is a SocketApi that passes every call
// through to a plain one until StartTls has run a verified handshake on one
// connected descriptor; from then on Wait, Send and Receive on that
// descriptor carry application data through OpenSSL, and Close sends the
// TLS close and frees the session. The socket above keeps its own loop, its
// time-outs, counters and error codes, so one Send and Receive serve plain
// and encrypted conversations alike (STARTTLS upgrades in place; implicit
// TLS calls StartTls right after the connect).
//
// Verification is never optional: the chain must lead to a certificate of
// the system store or of the given CA file, the certificate must name the
// host (DNS name, or IP address for a numeric host), and the protocol is TLS
// 1.2 or newer. SNI carries the host name unless the host is numeric.
//
// With a session cache (tls_session_cache.h), a handshake offers the
// session kept from the last connection to the same host with the same
// trust, and a connection that ends cleanly leaves its session there.
//
// One TLS connection at a time; other descriptors pass straight through.
// The plain SocketApi is not owned and must outlive this object.
#ifndef POSTRUNNER_NET_TLS_SOCKET_API_H_
#define POSTRUNNER_NET_TLS_SOCKET_API_H_

#include <memory>
#include <string>

#include "platform/socket.h"

struct ssl_st;

namespace postrunner {

struct TlsSession;
class TlsSessionCache;

class TlsSocketApi final : public SocketApi {
 public:
  explicit TlsSocketApi(SocketApi& plain);
  ~TlsSocketApi() override;

  TlsSocketApi(const TlsSocketApi&) = delete;
  TlsSocketApi& operator=(const TlsSocketApi&) = delete;

  // Runs the client handshake on the connected descriptor `fd` for server
  // name `host` (a DNS name or a numeric address, without port or
  // brackets), trusting the system store plus the PEM file `ca_file` (none
  // when empty). The whole handshake takes at most `timeout_ms`. Returns
  // true when it completed and the certificate verified; false with
  // `*reason` set ("certificate verify failed: self-signed certificate",
  // "host name mismatch", "TLS handshake timed out", ...) otherwise, and the
  // descriptor then carries nothing further.
  [[nodiscard]]
  bool StartTls(int fd, const std::string& host, const std::string& ca_file,
                int timeout_ms, std::string* reason);

  // The cache later handshakes resume sessions from and connections leave
  // theirs in; none (nullptr) by default. Not owned; must outlive this
  // object's TLS connections.
  void SetSessionCache(TlsSessionCache* cache) { cache_ = cache; }

  // Whether TLS is up on `fd`.
  [[nodiscard]] bool Secured(int fd) const;

  [[nodiscard]]
  int Resolve(const std::string& host, uint16_t port, int type,
              std::vector<SocketAddress>* out) override;
  [[nodiscard]] int Open(int family, int type, int protocol) override;
  [[nodiscard]] int SetReuseAddress(int fd) override;
  [[nodiscard]] int Connect(int fd, const SocketAddress& address, int timeout_ms) override;
  // On the secured descriptor, readable means application data (or the
  // connection's end) can be taken without waiting: TLS records are read
  // and decrypted here, up to `timeout_ms` in all.
  [[nodiscard]] int Wait(int fd, bool for_write, int timeout_ms) override;
  [[nodiscard]] ssize_t Send(int fd, const void* data, size_t size) override;
  [[nodiscard]] ssize_t Receive(int fd, void* buffer, size_t size) override;
  [[nodiscard]] int PeerAddress(int fd, SocketAddress* out) override;
  [[nodiscard]] int Close(int fd) override;

 private:
  // Runs the client handshake of `ssl` on `fd` within `timeout_ms`; false
  // with `*reason` when it failed or timed out.
  [[nodiscard]] bool Handshake(int fd, ssl_st* ssl, int timeout_ms, std::string* reason);
  // Ends the TLS session, if any, without touching the descriptor.
  void EndSession();

  SocketApi* plain_;
  int fd_ = -1;
  std::unique_ptr<TlsSession> session_;
  TlsSessionCache* cache_ = nullptr;
};

}  // namespace postrunner

#endif  // POSTRUNNER_NET_TLS_SOCKET_API_H_
