#include "ftp/ftp_client.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "ftp/ftp_transcript.h"
#include "platform/file_info.h"
#include "platform/file_io.h"
#include "platform/scoped_fd.h"

namespace postrunner {
namespace {

constexpr const char* kTimeoutVariable = "POSTRUNNER_FTP_TIMEOUT";
constexpr long kMaxTimeoutOverride = 3600;
constexpr long kUploadBufferSize = 128 * 1024;

bool HasLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

// The local file being uploaded: a regular file opened for reading, read
// by libcurl through Read. Never reads past the size measured at opening,
// so a file that grows meanwhile is sent as it was; one that shrinks makes
// libcurl report a short upload.
class UploadSource {
 public:
  UploadSource() = default;
  UploadSource(const UploadSource&) = delete;
  UploadSource& operator=(const UploadSource&) = delete;

  // Opens `path` without blocking (a FIFO must not hang the run) and checks
  // that it is a regular file. Returns false with a message in `error`.
  bool Open(const std::string& path, std::string* error) {
    fd_.Reset(OpenRegularFile(path.c_str()));
    if (!fd_.valid()) {
      bool not_regular = errno == EISDIR || errno == EINVAL;
      *error = not_regular ? "Local file " + path + " is not a regular file"
                           : "Cannot open local file " + path + ": " + ErrnoText(errno);
      return false;
    }
    struct stat info;
    if (::fstat(fd_.get(), &info) != 0) {
      *error = "Cannot open local file " + path + ": " + ErrnoText(errno);
      return false;
    }
    size_ = info.st_size;
    return true;
  }

  curl_off_t size() const { return size_; }
  curl_off_t sent() const { return sent_; }

  // libcurl's read callback: fills `buffer`, 0 at the end, or aborts the
  // transfer on a read error.
  static size_t Read(char* buffer, size_t size, size_t count, void* user) {
    auto* self = static_cast<UploadSource*>(user);
    size_t want = size * count;
    curl_off_t left = self->size_ - self->sent_;
    if (left <= 0) return 0;
    if (static_cast<curl_off_t>(want) > left) want = static_cast<size_t>(left);
    ssize_t got = ReadSome(self->fd_.get(), buffer, want);
    if (got < 0) return CURL_READFUNC_ABORT;
    self->sent_ += got;
    return static_cast<size_t>(got);
  }

 private:
  ScopedFd fd_;
  curl_off_t size_ = 0;
  curl_off_t sent_ = 0;
};

// libcurl's debug callback: hands the control connection's traffic to the
// transcript. Data and libcurl's own notes are ignored.
int OnDebug(CURL*, curl_infotype type, char* data, size_t size, void* user) {
  auto* transcript = static_cast<FtpTranscript*>(user);
  if (type == CURLINFO_HEADER_OUT) transcript->CommandsSent(std::string_view(data, size));
  if (type == CURLINFO_HEADER_IN) transcript->RepliesReceived(std::string_view(data, size));
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

}  // namespace

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

BOOL CFtpClient::Upload(const std::string& server, const std::string& remote_name,
                        const std::string& local_path, const std::string& user,
                        const std::string& password) {
  SetStatusText("");
  CURL* curl = session();
  if (curl == nullptr) {
    SetStatusText(kNoConnectionText);
    return FALSE;
  }
  if (!connection_) {
    auto connection = std::make_unique<Connection>();
    if (!ParseFtpServer(server, port_, &connection->server) || HasLineBreak(user) ||
        HasLineBreak(password)) {
      SetStatusText(kNoConnectionText);
      return FALSE;
    }
    connection->user = user;
    connection->password = password;
    connection->passive = passive_ != FALSE;
    connection_ = std::move(connection);
  }

  UploadSource source;
  std::string error;
  if (!source.Open(local_path, &error)) {
    SetStatusText(error);
    return FALSE;
  }

  FtpTranscript transcript;
  char error_buffer[CURL_ERROR_SIZE] = {};
  FtpTimeouts timeouts = FtpTimeoutsFromEnvironment();
  std::string url = BuildFtpUrl(connection_->server, remote_name);

  Curl().easy_reset(curl);
  OptionPointersGuard guard(curl);
  Curl().easy_setopt(curl, CURLOPT_URL, url.c_str());
  Curl().easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "ftp");
  Curl().easy_setopt(curl, CURLOPT_USERNAME, connection_->user.c_str());
  Curl().easy_setopt(curl, CURLOPT_PASSWORD, connection_->password.c_str());
  Curl().easy_setopt(curl, CURLOPT_NOPROGRESS, 1L);
  Curl().easy_setopt(curl, CURLOPT_ERRORBUFFER, error_buffer);
  Curl().easy_setopt(curl, CURLOPT_VERBOSE, 1L);
  Curl().easy_setopt(curl, CURLOPT_DEBUGFUNCTION, OnDebug);
  Curl().easy_setopt(curl, CURLOPT_DEBUGDATA, &transcript);

  // The store: binary, under the name exactly as given (one STOR with the
  // whole path, no CWD, no dot-segment folding), into existing folders only.
  Curl().easy_setopt(curl, CURLOPT_UPLOAD, 1L);
  Curl().easy_setopt(curl, CURLOPT_TRANSFERTEXT, transfer_type_ == kTransferBinary ? 0L : 1L);
  Curl().easy_setopt(curl, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
  Curl().easy_setopt(curl, CURLOPT_PATH_AS_IS, 1L);
  Curl().easy_setopt(curl, CURLOPT_FTP_CREATE_MISSING_DIRS, static_cast<long>(CURLFTP_CREATE_DIR_NONE));
  Curl().easy_setopt(curl, CURLOPT_READFUNCTION, UploadSource::Read);
  Curl().easy_setopt(curl, CURLOPT_READDATA, &source);
  Curl().easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, source.size());
  Curl().easy_setopt(curl, CURLOPT_UPLOAD_BUFFERSIZE, kUploadBufferSize);

  if (connection_->passive) {
    Curl().easy_setopt(curl, CURLOPT_FTPPORT, nullptr);
    Curl().easy_setopt(curl, CURLOPT_FTP_USE_EPSV, 1L);
  } else {
    // "-": listen on the address the control connection uses.
    Curl().easy_setopt(curl, CURLOPT_FTPPORT, "-");
    Curl().easy_setopt(curl, CURLOPT_FTP_USE_EPRT, 1L);
  }

  Curl().easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, timeouts.connect);
  Curl().easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, timeouts.response);
  Curl().easy_setopt(curl, CURLOPT_ACCEPTTIMEOUT_MS, timeouts.accept * 1000L);
  Curl().easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  Curl().easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, timeouts.stall);

  CURLcode code = Curl().easy_perform(curl);
  if (code == CURLE_OK && source.sent() == source.size()) return TRUE;

  SetStatusText(FailureStatusText(code, transcript.logged_in(), ErrorBufferText(error_buffer),
                                  transcript.last_reply()));
  // A connection that never logged in is not kept for a later upload.
  if (!transcript.logged_in()) connection_.reset();
  return FALSE;
}

}  // namespace postrunner
