// TlsSessionCache: the TLS session of one connection kept for the next
// connection to the same server, which then resumes it (an abbreviated
// handshake: the server's certificate chain is neither sent nor checked
// again, and no new key exchange signs with the server's key) instead of
// running a full handshake. A send of many pieces pays for one full
// handshake.
//
// A session is kept only after a handshake that verified the server's
// certificate for a host name against a set of trust anchors, and is
// offered only to a connection for the same host name and the same trust
// anchors: a resumed connection is trusted exactly as the first one was.
// The server decides whether to resume; when it does not, the handshake is
// a full one with every check. One session at a time; the newest wins.
#ifndef POSTRUNNER_NET_TLS_SESSION_CACHE_H_
#define POSTRUNNER_NET_TLS_SESSION_CACHE_H_

#include <memory>
#include <string>

struct ssl_st;
struct ssl_session_st;

namespace postrunner {

class TlsSessionCache {
 public:
  TlsSessionCache();
  ~TlsSessionCache();

  TlsSessionCache(const TlsSessionCache&) = delete;
  TlsSessionCache& operator=(const TlsSessionCache&) = delete;

  // The session kept for `host` with the trust file `ca_file`, or nullptr.
  // Still owned by the cache.
  [[nodiscard]] ssl_session_st* Find(const std::string& host, const std::string& ca_file) const;

  // Keeps the current session of `ssl`, a connection whose handshake with
  // `host` verified against `ca_file`, when the server lets it be resumed
  // (in TLS 1.3 once its ticket has arrived, after the first reply read).
  // The session kept before goes.
  void Keep(ssl_st* ssl, const std::string& host, const std::string& ca_file);

 private:
  struct SessionFree {
    void operator()(ssl_session_st* session) const;
  };

  std::unique_ptr<ssl_session_st, SessionFree> session_;
  std::string host_;
  std::string ca_file_;
};

}  // namespace postrunner

#endif  // POSTRUNNER_NET_TLS_SESSION_CACHE_H_
