#include "platform/unique_source.h"

#include <sys/random.h>
#include <unistd.h>

#include <cerrno>

namespace postrunner {

long CurrentProcessId() { return static_cast<long>(::getpid()); }

bool RandomNumber(uint64_t* number) {
  uint64_t value = 0;
  auto* bytes = reinterpret_cast<unsigned char*>(&value);
  size_t got = 0;
  while (got < sizeof value) {
    // Without GRND_NONBLOCK the call waits only while the kernel's pool is
    // not yet seeded, which is over long before any user runs a program.
    ssize_t n = ::getrandom(bytes + got, sizeof value - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    got += static_cast<size_t>(n);
  }
  *number = value;
  return true;
}

}  // namespace postrunner
