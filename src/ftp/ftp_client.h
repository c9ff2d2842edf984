// CFtpClient: logs in to an FTP, FTPS or SFTP server and stores one local
// file there in binary mode, in active mode unless passive mode is set. One
// client serves one call of SendFileByFtp; it never retries and never
// switches mode.
//
// libcurl does the protocols. Passive mode sends EPSV, then PASV if the
// server refuses EPSV; active mode sends EPRT, then PORT if the server
// refuses EPRT, and never falls back to passive. FTPS (explicit with AUTH
// TLS, or implicit) protects the control and the data connections and
// verifies the server's certificate; SFTP verifies the server's host key.
// Every wait is bounded by the time-outs below, so a server that stops
// answering ends the upload with a failure.
#ifndef POSTRUNNER_FTP_FTP_CLIENT_H_
#define POSTRUNNER_FTP_FTP_CLIENT_H_

#include <cstdint>
#include <memory>
#include <string>

#include "net/curl_options.h"
#include "ftp/ftp_url.h"
#include "ftp/internet_client.h"
#include "ftp/secure_transfer.h"
#include "platform/secret_memory.h"
#include "platform/types.h"

namespace postrunner {

// Bounds on the waits of one upload, in seconds.
struct FtpTimeouts {
  long connect = 30;   // TCP connect to the server
  long response = 60;  // each reply on the control connection
  long accept = 30;    // active mode: the server opening the data connection
  long stall = 60;     // data moving at less than 1 byte/s for this long
};

// The time-outs an upload uses: the values above, or every one of them set
// to the number of seconds in the environment variable
// POSTRUNNER_FTP_TIMEOUT when it holds a whole number from 1 to 3600
// (meant for tests that provoke a stalled server).
[[nodiscard]] FtpTimeouts FtpTimeoutsFromEnvironment();

// The text an upload reports when it gets no connection to work with: the
// session could not be opened, or the server, user or password cannot be
// used to connect (a malformed server text, a line break in a credential).
inline constexpr const char* kNoConnectionText = "Error creating FTP Connection";

class CFtpClient : public CInternetClient {
 public:
  CFtpClient();
  ~CFtpClient();

  // Empties the status text and chooses passive (TRUE) or active mode for
  // the next connection.
  void SetPassiveMode(BOOL passive);

  // Chooses explicit TLS, trusted certificates, the password file, the SSH
  // key, the known hosts file and the time-out for the next connection (a
  // time-out given there bounds every wait, over FtpTimeoutsFromEnvironment).
  void SetSecurity(const FtpSecurity& security) { security_ = security; }

  // Connects to `server` and logs in with `user` and `password` unless this
  // client is already connected, then stores the regular file `local_path`
  // under `remote_name`, relative to the login folder, creating no folders.
  // An empty `password` is read from the security settings' password file
  // when one is named; an empty `user` of an SFTP server is the local login
  // name. Returns TRUE when the file was stored; otherwise FALSE with the
  // text for the result line ("Ftp.PutFile returned FALSE: <text>", see
  // FailureStatusText) in the status text and the reason in
  // FailureReason(). The local file is checked before anything is sent.
  [[nodiscard]]
  BOOL Upload(const std::string& server, const std::string& remote_name,
              const std::string& local_path, const std::string& user,
              const std::string& password);

  // Ends this client's connection if there is one: the next Upload connects
  // with the server and login it is given. libcurl sends QUIT and closes the
  // control connection itself when the session closes.
  void CloseConnection();

  // Why the last Upload failed, for the user's error channel: libcurl's
  // description, the server's last reply, or what a TLS or host key check
  // refused; "" after a success. Never holds the password.
  const std::string& FailureReason() const { return reason_; }

 private:
  // The server and login an upload connected with. libcurl keeps the
  // control connection itself in the session handle and reuses it for the
  // next upload to the same server and user.
  struct Connection {
    FtpServerAddress server;
    std::string user;
    std::string password;
    bool passive = false;

    ~Connection() { WipeSecret(&password); }
  };

  struct Transfer;

  // Parses the server and completes the login for a new connection. Returns
  // false after Fail.
  [[nodiscard]]
  bool Connect(const std::string& server, const std::string& user,
               const std::string& password);
  // Whether the connection runs FTP over TLS, explicit or implicit.
  [[nodiscard]] bool UsesTls() const;
  // The options of one transfer, each checked; false when libcurl refused
  // one.
  [[nodiscard]] bool Configure(CURL* curl, Transfer* transfer);
  void SetStoreOptions(Transfer* transfer, CurlOptions* options) const;
  void SetModeOptions(CurlOptions* options) const;
  // Records the outcome of a failed perform.
  void TransferFailed(CURLcode code, const Transfer& transfer);
  // Sets the status text and the reason (the status text when `reason` is
  // empty), with the password blotted out of both.
  void Fail(const std::string& status, const std::string& reason = "");

  std::unique_ptr<Connection> connection_;
  FtpSecurity security_;
  std::string reason_;
  uint16_t port_ = kFtpDefaultPort;  // used when a plain FTP server names none
  int32_t transfer_type_ = kTransferBinary;
  BOOL passive_ = FALSE;

  static constexpr int32_t kTransferBinary = 2;
};

}  // namespace postrunner

#endif  // POSTRUNNER_FTP_FTP_CLIENT_H_
