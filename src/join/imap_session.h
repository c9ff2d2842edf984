// One connection to an IMAP server for a join, through libcurl: one easy
// handle, so one connection and one login for the run. It selects the
// mailbox, searches it, fetches messages by UID into files and changes
// their flags. Certificates are always verified; imap:// demands STARTTLS
// unless the host is a loopback address, and then connects to loopback
// addresses only. Reasons never hold the password or token.
#ifndef POSTRUNNER_JOIN_IMAP_SESSION_H_
#define POSTRUNNER_JOIN_IMAP_SESSION_H_

#include <cstdint>
#include <string>
#include <vector>

#include "join/imap_url.h"
#include "net/curl_handle.h"
#include "platform/secret_memory.h"

namespace postrunner {

// How the session logs in.
enum class ImapAuth {
  kPassword,     // LOGIN or a SASL password mechanism, as the server offers
  kXoauth2,      // SASL XOAUTH2 with a bearer token
  kOauthBearer,  // SASL OAUTHBEARER with a bearer token
};

struct ImapLogin {
  std::string user;
  ImapAuth auth = ImapAuth::kPassword;
  std::string secret;   // the password or the bearer token; never printed
  std::string ca_file;  // PEM certificates trusted beside the system's; may be empty
  long timeout = 60;    // seconds for the connection, each reply, and a stalled transfer
  ~ImapLogin() { WipeSecret(&secret); }
};

class ImapSession {
 public:
  ImapSession(const ImapUrl& url, const ImapLogin& login);
  ImapSession(const ImapSession&) = delete;
  ImapSession& operator=(const ImapSession&) = delete;

  // Runs `command` (e.g. "UID SEARCH ...") in the mailbox, selecting it
  // first, and appends its untagged reply lines to `*reply`. Returns false
  // with `*reason`.
  [[nodiscard]] bool Command(const std::string& command, std::string* reply, std::string* reason);

  // Writes the whole message `uid` to `fd`. Returns false with `*reason`
  // when it cannot be fetched or less than the server announced came.
  [[nodiscard]] bool Fetch(uint32_t uid, int fd, std::string* reason);

  // Whether the last failure was the server refusing the login.
  [[nodiscard]] bool login_refused() const { return login_refused_; }

  // Libcurl's hooks; public for the C callbacks only.
  struct Sink;
  struct Transcript {
    std::string refusal;  // the last tagged NO or BAD text
    std::string partial;  // a reply line not yet ended
  };

 private:
  [[nodiscard]] bool SetUp(std::string* reason);
  [[nodiscard]] bool Perform(const std::string& url, const char* custom, Sink* sink,
                             std::string* reason);

  const ImapUrl& url_;
  const ImapLogin& login_;
  CurlEasy curl_;
  bool set_up_ = false;
  bool login_refused_ = false;
  Transcript transcript_;
  char error_[CURL_ERROR_SIZE] = {};
};

// "a,b,c" for `uids`.
[[nodiscard]] std::string UidList(const std::vector<uint32_t>& uids);

}  // namespace postrunner

#endif  // POSTRUNNER_JOIN_IMAP_SESSION_H_
