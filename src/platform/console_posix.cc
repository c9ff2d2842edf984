#include "platform/console.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>

namespace postrunner {
namespace {

// The writes below go unchecked: a line that cannot be written to the
// console has nowhere else to go (standard error is where failures are
// told), and the outcome of a run is its exit code, not these lines. The
// stream's error flag keeps the failure.

// Whether a status line is drawn on standard error now.
std::atomic<bool> g_status_shown{false};
// Where PrintLine writes.
std::FILE* g_lines = stdout;

bool IsFileOf(int fd, dev_t device, ino_t inode) {
  struct stat st;
  return ::fstat(fd, &st) == 0 && st.st_dev == device && st.st_ino == inode;
}

size_t TerminalWidth() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1) return size.ws_col;
  return 80;
}

}  // namespace

void PrintLine(std::string_view text) {
  ClearStatusLine();
  (void)std::fwrite(text.data(), 1, text.size(), g_lines);
  (void)std::fputc('\n', g_lines);
  (void)std::fflush(g_lines);
}

void SendLinesToStandardError() {
  (void)std::fflush(stdout);
  g_lines = stderr;
}

bool LinesGoToStandardError() { return g_lines == stderr; }

void PrintReason(std::string_view reason) {
  std::string line = "postrunner: ";
  for (char c : reason) {
    const unsigned char u = static_cast<unsigned char>(c);
    line += (u < 0x20 || u == 0x7f) ? ' ' : c;
  }
  line += '\n';
  ClearStatusLine();
  (void)std::fflush(stdout);
  (void)std::fwrite(line.data(), 1, line.size(), stderr);
  (void)std::fflush(stderr);
}

bool IsStandardOutput(dev_t device, ino_t inode) {
  return IsFileOf(STDOUT_FILENO, device, inode);
}

bool IsStandardError(dev_t device, ino_t inode) {
  return IsFileOf(STDERR_FILENO, device, inode);
}

int DuplicateStandardOutput() { return ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0); }

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

void WriteStatusLine(std::string_view text) {
  // One column stays free so that the line never wraps.
  std::string line = "\r";
  line.append(text.substr(0, TerminalWidth() - 1));
  line += "\x1b[K";
  (void)std::fwrite(line.data(), 1, line.size(), stderr);
  (void)std::fflush(stderr);
  g_status_shown = true;
}

void ClearStatusLine() {
  if (!g_status_shown.exchange(false)) return;
  (void)std::fputs("\r\x1b[K", stderr);
  (void)std::fflush(stderr);
}

}  // namespace postrunner
