#include "platform/system_api.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

namespace postrunner {
namespace {

class PosixSystemApi : public SystemApi {
 public:
  [[nodiscard]] int RemoveFile(const std::string& path) override { return ::unlink(path.c_str()); }

  [[nodiscard]] int LinkMode(const std::string& path, mode_t* mode) override {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return -1;
    *mode = st.st_mode;
    return 0;
  }

  [[nodiscard]] int HostName(std::string* name) override {
    char buffer[HOST_NAME_MAX + 1] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0) return -1;
    *name = buffer;
    return 0;
  }
};

SystemApi* current = nullptr;

}  // namespace

SystemApi& System() {
  static PosixSystemApi posix;
  return current ? *current : posix;
}

ScopedSystemApi::ScopedSystemApi(SystemApi* api) : previous_(current) { current = api; }

ScopedSystemApi::~ScopedSystemApi() { current = previous_; }

}  // namespace postrunner
