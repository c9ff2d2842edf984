#include "platform/console.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>

namespace postrunner {
namespace {

// Whether a status line is drawn on standard error now.
std::atomic<bool> g_status_shown{false};

size_t TerminalWidth() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1) return size.ws_col;
  return 80;
}

}  // namespace

void PrintLine(std::string_view text) {
  ClearStatusLine();
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void PrintReason(std::string_view reason) {
  std::string line = "postrunner: ";
  for (char c : reason) {
    const unsigned char u = static_cast<unsigned char>(c);
    line += (u < 0x20 || u == 0x7f) ? ' ' : c;
  }
  line += '\n';
  ClearStatusLine();
  std::fflush(stdout);
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

bool IsOutputChannel(dev_t device, ino_t inode) {
  for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
    struct stat st;
    if (::fstat(fd, &st) == 0 && st.st_dev == device && st.st_ino == inode) return true;
  }
  return false;
}

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

void WriteStatusLine(std::string_view text) {
  // One column stays free so that the line never wraps.
  std::string line = "\r";
  line.append(text.substr(0, TerminalWidth() - 1));
  line += "\x1b[K";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
  g_status_shown = true;
}

void ClearStatusLine() {
  if (!g_status_shown.exchange(false)) return;
  std::fputs("\r\x1b[K", stderr);
  std::fflush(stderr);
}

}  // namespace postrunner
