// CInternetClient: the internet session the FTP client runs on, and the
// status text of its last operation. On this platform the session is one
// libcurl easy handle; the system's proxy settings (ftp_proxy, all_proxy,
// no_proxy in the environment) apply to it as libcurl reads them.
#ifndef POSTRUNNER_FTP_INTERNET_CLIENT_H_
#define POSTRUNNER_FTP_INTERNET_CLIENT_H_

#include <memory>
#include <string>

#include "net/curl_handle.h"

namespace postrunner {

class CInternetClient {
 public:
  // Opens the session (initialising libcurl on first use). When that fails
  // the client has no session and every operation on it fails.
  CInternetClient();
  // Closes the session and any connection it still keeps.
  ~CInternetClient();

  CInternetClient(const CInternetClient&) = delete;
  CInternetClient& operator=(const CInternetClient&) = delete;

  // A copy of the status text: empty, or why the last operation failed.
  std::string GetStatusText() const { return status_text_; }
  void SetStatusText(const std::string& text) { status_text_ = text; }

 protected:
  // The session's handle, or nullptr when the session could not be opened.
  CURL* session() const { return session_ ? session_->get() : nullptr; }

 private:
  std::unique_ptr<CurlEasy> session_;
  std::string status_text_;
};

}  // namespace postrunner

#endif  // POSTRUNNER_FTP_INTERNET_CLIENT_H_
