// A scripted SMTP peer for tests: a listening socket on 127.0.0.1 with an
// ephemeral port, served by a thread of its own. Each accepted connection
// runs the next script in order; a script talks to the client through a
// Peer (send replies, whole or in fragments, read command lines and message
// data, stay silent, close). Every command line and every message text the
// peer reads is kept in a transcript for the test to inspect. All reads are
// bounded (a few seconds), so a test always ends.
#ifndef POSTRUNNER_TESTS_MAIL_SCRIPTED_SMTP_H_
#define POSTRUNNER_TESTS_MAIL_SCRIPTED_SMTP_H_

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mail/mail_server.h"
#include "platform/scoped_fd.h"

namespace postrunner {

class ScriptedSmtpServer {
 public:
  class Peer {
   public:
    Peer(int fd, ScriptedSmtpServer* server) : fd_(fd), server_(server) {}

    // Sends `text` as it is.
    void Send(const std::string& text) {
      ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL);
    }
    // Sends `parts` one by one with a pause between them, so that the client
    // receives them as separate blocks.
    void SendInFragments(const std::vector<std::string>& parts) {
      for (size_t i = 0; i < parts.size(); ++i) {
        if (i) std::this_thread::sleep_for(std::chrono::milliseconds(60));
        Send(parts[i]);
      }
    }
    // Reads one line ending in CR LF (returned without it) and records it.
    // Returns "<closed>" when the client closed or nothing came in time.
    std::string ReadLine() {
      std::string line;
      if (!ReadUntil("\r\n", &line)) return Record("<closed>");
      return Record(line.substr(0, line.size() - 2));
    }
    // Reads message data up to and including the end-of-data line, records
    // it whole (as received, still dot-stuffed) and returns it; "<closed>"
    // when the client closed first.
    std::string ReadData() {
      std::string data;
      bool ok = ReadUntil("\r\n.\r\n", &data);
      return Record(ok ? data : "<closed>" + data);
    }
    // Waits, sending nothing, until the client closes the connection (or
    // `limit_ms` passed). Records "<closed>" when it did, else "<silence>".
    void WaitForClose(int limit_ms = 4000) {
      auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
      char buffer[4096];
      while (std::chrono::steady_clock::now() < end) {
        pollfd entry{fd_, POLLIN, 0};
        if (::poll(&entry, 1, 50) == 1) {
          ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
          if (n <= 0) {
            Record("<closed>");
            return;
          }
          pending_.append(buffer, static_cast<size_t>(n));
        }
      }
      Record("<silence>");
    }
    // Sends nothing for `ms` milliseconds and records "<early>" when the
    // client sent anything meanwhile (it must wait for the greeting).
    void StayQuiet(int ms) {
      pollfd entry{fd_, POLLIN, 0};
      if (::poll(&entry, 1, ms) == 1) Record("<early>");
    }
    // Reads `count` bytes of whatever comes (for a peer that closes mid-way).
    void ReadBytes(size_t count) {
      while (pending_.size() < count && Fill()) {
      }
    }
    // Closes the connection now.
    void Close() {
      ::shutdown(fd_, SHUT_RDWR);
    }

   private:
    std::string Record(const std::string& text) {
      std::lock_guard<std::mutex> lock(server_->mutex_);
      server_->transcript_.push_back(text);
      return text;
    }
    bool Fill() {
      pollfd entry{fd_, POLLIN, 0};
      if (::poll(&entry, 1, 4000) != 1) return false;
      char buffer[65536];
      ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) return false;
      pending_.append(buffer, static_cast<size_t>(n));
      return true;
    }
    bool ReadUntil(const std::string& end, std::string* out) {
      for (;;) {
        size_t at = pending_.find(end);
        if (at != std::string::npos) {
          *out = pending_.substr(0, at + end.size());
          pending_.erase(0, at + end.size());
          return true;
        }
        if (!Fill()) {
          *out = pending_;
          pending_.clear();
          return false;
        }
      }
    }

    int fd_;
    ScriptedSmtpServer* server_;
    std::string pending_;
  };

  using Script = std::function<void(Peer&)>;

  // Starts listening and serves `scripts`, one connection each, in order.
  explicit ScriptedSmtpServer(std::vector<Script> scripts) : scripts_(std::move(scripts)) {
    (void)listener_.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));  // held none
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (!listener_.valid() ||
        ::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener_.get(), 8) != 0 ||
        ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      (void)listener_.Reset();  // never listened: a failed close changes nothing
      return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }

  ~ScriptedSmtpServer() {
    if (thread_.joinable()) thread_.join();
  }

  ScriptedSmtpServer(const ScriptedSmtpServer&) = delete;
  ScriptedSmtpServer& operator=(const ScriptedSmtpServer&) = delete;

  // "127.0.0.1:<port>", as reasons name the server.
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  // The same parsed, for SetMailServer.
  MailServer server() const { return {address(), {"127.0.0.1", static_cast<uint16_t>(port_)}}; }

  // Waits until every script has run, then returns what the peer read.
  std::vector<std::string> Transcript() {
    if (thread_.joinable()) thread_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    return transcript_;
  }

 private:
  void Serve() {
    for (Script& script : scripts_) {
      pollfd entry{listener_.get(), POLLIN, 0};
      if (::poll(&entry, 1, 15000) != 1) {
        std::lock_guard<std::mutex> lock(mutex_);
        transcript_.push_back("<no connection>");
        return;
      }
      ScopedFd connection(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
      if (!connection.valid()) return;
      Peer peer(connection.get(), this);
      script(peer);
    }
  }

  std::vector<Script> scripts_;
  ScopedFd listener_;
  unsigned port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> transcript_;
};

}  // namespace postrunner

#endif  // POSTRUNNER_TESTS_MAIL_SCRIPTED_SMTP_H_
