#include "platform/process_setup.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace postrunner {

bool OpenClosedStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lower descriptors are open by now, so open(2) returns `fd` itself.
    // Not close-on-exec: it stands for a standard descriptor.
    int opened;
    do {
      opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    } while (opened < 0 && errno == EINTR);
    if (opened < 0) return false;
    if (opened != fd) {
      (void)::close(opened);  // /dev/null, opened a moment ago: nothing to lose
      errno = EBADF;
      return false;
    }
  }
  return true;
}

bool IgnoreWriteSignals() {
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  bool ok = ::sigaction(SIGPIPE, &ignore, nullptr) == 0;
  return ::sigaction(SIGXFSZ, &ignore, nullptr) == 0 && ok;
}

}  // namespace postrunner
