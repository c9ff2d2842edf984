#include "ftp/ftp_client.h"

#include <cerrno>
#include <cstdlib>

#include "ftp/ftp_transcript.h"
#include "ftp/ssh_key_kind.h"
#include "ftp/upload_source.h"
#include "platform/progress.h"
#include "platform/secret_file.h"
#include "platform/user_account.h"

namespace postrunner {
namespace {

constexpr const char* kTimeoutVariable = "POSTRUNNER_FTP_TIMEOUT";
constexpr long kMaxTimeoutOverride = 3600;
constexpr long kUploadBufferSize = 128 * 1024;
// Below this length a password could match ordinary words of a reason, and
// blotting it out would garble the text more than it protects.
constexpr size_t kMinRedactedLength = 4;

[[nodiscard]] bool HasLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

const char* ProtocolName(FtpScheme scheme) {
  switch (scheme) {
    case FtpScheme::kFtps: return "ftps";
    case FtpScheme::kSftp: return "sftp";
    case FtpScheme::kFtp: break;
  }
  return "ftp";
}

// libcurl's debug callback: hands the control connection's traffic and
// libcurl's own notes to the transcript. Data is ignored.
[[nodiscard]] int OnDebug(CURL*, curl_infotype type, char* data, size_t size, void* user) {
  auto* transcript = static_cast<FtpTranscript*>(user);
  std::string_view text(data, size);
  if (type == CURLINFO_HEADER_OUT) transcript->CommandsSent(text);
  if (type == CURLINFO_HEADER_IN) transcript->RepliesReceived(text);
  if (type == CURLINFO_TEXT) transcript->NoteReceived(text);
  return 0;
}

// Clears the options that point at an upload's stack objects when the
// upload ends, because the session outlives them: libcurl talks to the
// server again (QUIT) when it closes the kept connection.
class OptionPointersGuard {
 public:
  explicit OptionPointersGuard(CURL* curl) : curl_(curl) {}
  ~OptionPointersGuard() {
    Curl().easy_setopt(curl_, CURLOPT_VERBOSE, 0L);
    Curl().easy_setopt(curl_, CURLOPT_DEBUGFUNCTION, nullptr);
    Curl().easy_setopt(curl_, CURLOPT_DEBUGDATA, nullptr);
    Curl().easy_setopt(curl_, CURLOPT_ERRORBUFFER, nullptr);
    Curl().easy_setopt(curl_, CURLOPT_READFUNCTION, nullptr);
    Curl().easy_setopt(curl_, CURLOPT_READDATA, nullptr);
    Curl().easy_setopt(curl_, CURLOPT_SSH_KEYFUNCTION, nullptr);
    Curl().easy_setopt(curl_, CURLOPT_SSH_KEYDATA, nullptr);
  }
  OptionPointersGuard(const OptionPointersGuard&) = delete;
  OptionPointersGuard& operator=(const OptionPointersGuard&) = delete;

 private:
  CURL* curl_;
};

// libcurl's error buffer without a trailing line end.
std::string_view ErrorBufferText(const char* buffer) {
  std::string_view text(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

// `text` with every occurrence of `secret` replaced by "***".
std::string Redact(std::string text, const std::string& secret) {
  if (secret.size() < kMinRedactedLength) return text;
  for (size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 3)) {
    text.replace(at, secret.size(), "***");
  }
  return text;
}

void SetTimeoutOptions(const FtpTimeouts& timeouts, CurlOptions* options) {
  options->Set(CURLOPT_CONNECTTIMEOUT, timeouts.connect)
      .Set(CURLOPT_SERVER_RESPONSE_TIMEOUT, timeouts.response)
      .Set(CURLOPT_ACCEPTTIMEOUT_MS, timeouts.accept * 1000L)
      .Set(CURLOPT_LOW_SPEED_LIMIT, 1L)
      .Set(CURLOPT_LOW_SPEED_TIME, timeouts.stall);
}

// What an SFTP login the server refused tried: the user and the key or
// password, so that the user knows which to mend.
std::string SshLoginAdvice(const FtpSecurity& security, const std::string& user,
                           bool has_password) {
  std::string tried = security.ssh_key.empty() ? "" : "the key " + security.ssh_key;
  if (has_password) tried += (tried.empty() ? "" : " and ") + std::string("the password");
  if (tried.empty()) return ": user " + user + " gave no key (/SSHKey:) and no password";
  if (!security.ssh_key.empty() && IsRsaPrivateKeyFile(security.ssh_key)) {
    return ": the server refused user " + user + " with " + tried +
           " (an RSA key, which this libssh2 signs with SHA-1 (ssh-rsa), refused by OpenSSH "
           "8.8 and later: use an ed25519 or ECDSA key; else, is its public key in the "
           "user's authorized_keys?)";
  }
  return ": the server refused user " + user + " with " + tried +
         (security.ssh_key.empty() ? "" : " (is its public key in the user's authorized_keys?)");
}

}  // namespace

// What one upload's libcurl callbacks write into; lives on Upload's stack.
struct CFtpClient::Transfer {
  Transfer(const FtpServerAddress& server, std::string known_hosts_file)
      : known_hosts(std::move(known_hosts_file)),
        host_key(server.url_host, server.port, known_hosts) {}

  UploadSource source;
  FtpTranscript transcript;
  std::string remote_name;
  std::string url;
  std::string known_hosts;
  SshHostKeyCheck host_key;
  char error_buffer[CURL_ERROR_SIZE] = {};
};

FtpTimeouts FtpTimeoutsFromEnvironment() {
  FtpTimeouts timeouts;
  const char* value = std::getenv(kTimeoutVariable);
  if (value == nullptr || *value == '\0') return timeouts;
  char* end = nullptr;
  errno = 0;
  long seconds = std::strtol(value, &end, 10);
  if (errno != 0 || *end != '\0' || seconds < 1 || seconds > kMaxTimeoutOverride) {
    return timeouts;
  }
  timeouts.connect = timeouts.response = timeouts.accept = timeouts.stall = seconds;
  return timeouts;
}

CFtpClient::CFtpClient() { SetPassiveMode(FALSE); }

CFtpClient::~CFtpClient() = default;

void CFtpClient::SetPassiveMode(BOOL passive) {
  SetStatusText("");
  passive_ = passive;
}

void CFtpClient::CloseConnection() { connection_.reset(); }

void CFtpClient::Fail(const std::string& status, const std::string& reason) {
  const std::string password = connection_ ? connection_->password : std::string();
  SetStatusText(Redact(status, password));
  reason_ = Redact(reason.empty() ? status : reason, password);
}

bool CFtpClient::Connect(const std::string& server, const std::string& user,
                         const std::string& password) {
  auto connection = std::make_unique<Connection>();
  if (!ParseFtpServer(server, port_, &connection->server)) {
    Fail(kNoConnectionText, "Cannot use FTP server \"" + server +
                                "\": expected host, host:port, [IPv6] or [IPv6]:port, "
                                "optionally after ftp://, ftps:// or sftp://");
    return false;
  }
  connection->user = user;
  if (user.empty() && connection->server.scheme == FtpScheme::kSftp) {
    connection->user = CurrentUserName();
  }
  connection->password = password;
  std::string error;
  if (password.empty() && !security_.password_file.empty() &&
      !ReadSecretFile(security_.password_file, &connection->password, &error)) {
    Fail(error);
    return false;
  }
  // libssh2 reads any key file; like ssh, an upload refuses one that other
  // users may read.
  if (connection->server.scheme == FtpScheme::kSftp && !security_.ssh_key.empty() &&
      !CheckPrivateFile(security_.ssh_key, "SSH key file", &error)) {
    Fail(error);
    return false;
  }
  if (HasLineBreak(connection->user) || HasLineBreak(connection->password)) {
    Fail(kNoConnectionText, "The FTP user name or password holds a line break");
    return false;
  }
  connection->passive = passive_ != FALSE;
  connection_ = std::move(connection);
  return true;
}

void CFtpClient::SetStoreOptions(Transfer* transfer, CurlOptions* options) const {
  // The store: binary, under the name exactly as given (one STOR with the
  // whole path, no CWD, no dot-segment folding), into existing folders only.
  options->Set(CURLOPT_UPLOAD, 1L)
      .Set(CURLOPT_TRANSFERTEXT, transfer_type_ == kTransferBinary ? 0L : 1L)
      .Set(CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD))
      .Set(CURLOPT_PATH_AS_IS, 1L)
      .Set(CURLOPT_FTP_CREATE_MISSING_DIRS, static_cast<long>(CURLFTP_CREATE_DIR_NONE))
      .Set(CURLOPT_READFUNCTION, &UploadSource::Read)
      .Set(CURLOPT_READDATA, static_cast<void*>(&transfer->source))
      .Set(CURLOPT_INFILESIZE_LARGE, transfer->source.size())
      .Set(CURLOPT_UPLOAD_BUFFERSIZE, kUploadBufferSize);
}

void CFtpClient::SetModeOptions(CurlOptions* options) const {
  if (connection_->passive) {
    options->Set(CURLOPT_FTPPORT, static_cast<const char*>(nullptr))
        .Set(CURLOPT_FTP_USE_EPSV, 1L);
  } else {
    // "-": listen on the address the control connection uses.
    options->Set(CURLOPT_FTPPORT, "-").Set(CURLOPT_FTP_USE_EPRT, 1L);
  }
}

bool CFtpClient::UsesTls() const {
  FtpScheme scheme = connection_->server.scheme;
  return scheme == FtpScheme::kFtps || (scheme == FtpScheme::kFtp && security_.explicit_tls);
}

bool CFtpClient::Configure(CURL* curl, Transfer* transfer) {
  const FtpScheme scheme = connection_->server.scheme;
  CurlOptions options(curl);
  options.Set(CURLOPT_URL, transfer->url.c_str())
      .Set(CURLOPT_PROTOCOLS_STR, ProtocolName(scheme))
      .Set(CURLOPT_USERNAME, connection_->user.c_str())
      .Set(CURLOPT_PASSWORD, connection_->password.c_str())
      .Set(CURLOPT_NOPROGRESS, 1L)
      .Set(CURLOPT_ERRORBUFFER, static_cast<char*>(transfer->error_buffer))
      .Set(CURLOPT_VERBOSE, 1L)
      .Set(CURLOPT_DEBUGFUNCTION, &OnDebug)
      .Set(CURLOPT_DEBUGDATA, static_cast<void*>(&transfer->transcript));
  SetStoreOptions(transfer, &options);
  SetModeOptions(&options);
  FtpTimeouts timeouts = FtpTimeoutsFromEnvironment();
  if (security_.timeout_seconds > 0) {
    timeouts.connect = timeouts.response = timeouts.accept = timeouts.stall =
        security_.timeout_seconds;
  }
  SetTimeoutOptions(timeouts, &options);
  if (UsesTls()) {
    SetTlsOptions(curl, security_.ca_file, &options);
  } else if (scheme == FtpScheme::kSftp) {
    SetSshOptions(security_, !connection_->password.empty(), transfer->known_hosts,
                  &transfer->host_key, &options);
  }
  if (options.ok()) return true;
  Fail(options.FailureText());
  return false;
}

void CFtpClient::TransferFailed(CURLcode code, const Transfer& transfer) {
  std::string_view error_text = ErrorBufferText(transfer.error_buffer);
  const FtpTranscript& transcript = transfer.transcript;
  std::string reason = postrunner::FailureReason(code, transcript.logged_in(), error_text,
                                                 transcript.last_reply());
  if (!transfer.host_key.rejection().empty()) reason = transfer.host_key.rejection();
  if (code == CURLE_LOGIN_DENIED && connection_->server.scheme == FtpScheme::kSftp) {
    reason += SshLoginAdvice(security_, connection_->user, !connection_->password.empty());
  }
  // libssh2's key exchange failure (LIBSSH2_ERROR_KEX_FAILURE, -5).
  if (connection_->server.scheme == FtpScheme::kSftp &&
      error_text.find("Unable to exchange encryption keys") != std::string_view::npos) {
    reason += transfer.host_key.NegotiationAdvice();
  }
  if (code == CURLE_PEER_FAILED_VERIFICATION && security_.ca_file.empty()) {
    reason += "; if a private CA signed the server's certificate, give its certificate with "
              "/CAFile:PATH";
  }
  if (code == CURLE_REMOTE_FILE_NOT_FOUND) {
    reason += "; is there a folder for \"" + transfer.remote_name +
              "\" on the server? No folders are created";
  }
  if (code == CURLE_OK) {
    reason = "Only " + std::to_string(transfer.source.sent()) + " of the " +
             std::to_string(transfer.source.size()) + " bytes of the local file could be read";
  }
  Fail(FailureStatusText(code, transcript.logged_in(), error_text, transcript.last_reply()),
       reason);
  // A connection that never logged in is not kept for a later upload.
  if (!transcript.logged_in()) connection_.reset();
}

BOOL CFtpClient::Upload(const std::string& server, const std::string& remote_name,
                        const std::string& local_path, const std::string& user,
                        const std::string& password) {
  SetStatusText("");
  reason_.clear();
  CURL* curl = session();
  if (curl == nullptr) {
    Fail(kNoConnectionText, "libcurl (" + std::string(kCurlLibraryName) + ") could not be loaded");
    return FALSE;
  }
  if (!connection_ && !Connect(server, user, password)) return FALSE;

  if (UsesTls() && !connection_->passive) {
    std::string refusal = ActiveTlsRefusal();
    if (!refusal.empty()) {
      Fail(refusal);
      connection_.reset();
      return FALSE;
    }
  }
  std::string known_hosts;
  if (connection_->server.scheme == FtpScheme::kSftp) {
    known_hosts = KnownHostsFile(security_.known_hosts);
    if (known_hosts.empty()) {
      Fail(kNoConnectionText, "No home folder to find ~/.ssh/known_hosts in; name the known "
                              "hosts file with /KnownHosts:");
      return FALSE;
    }
  }
  Transfer transfer(connection_->server, known_hosts);
  std::string error;
  if (!transfer.source.Open(local_path, &error)) {
    Fail(error);
    return FALSE;
  }
  transfer.remote_name = remote_name;
  transfer.url = BuildFtpUrl(connection_->server, remote_name);

  Curl().easy_reset(curl);
  OptionPointersGuard guard(curl);
  if (!Configure(curl, &transfer)) return FALSE;
  ProgressBegin("Uploading " + remote_name, static_cast<uint64_t>(transfer.source.size()));
  ScopedProgress progress_line;
  CURLcode code = Curl().easy_perform(curl);
  if (code == CURLE_OK && transfer.source.sent() == transfer.source.size()) return TRUE;
  TransferFailed(code, transfer);
  return FALSE;
}

}  // namespace postrunner
