// The calls on names rather than descriptors that the driver and the mail
// client make (removing a file, looking at a name without following a link,
// the machine's host name), behind one small interface so that tests can
// make them fail where the real system will not on demand.
#ifndef POSTRUNNER_PLATFORM_SYSTEM_API_H_
#define POSTRUNNER_PLATFORM_SYSTEM_API_H_

#include <sys/types.h>

#include <string>

namespace postrunner {

class SystemApi {
 public:
  virtual ~SystemApi() = default;

  // Removes the name `path` (unlink(2)). Returns 0, or -1 with errno set.
  [[nodiscard]] virtual int RemoveFile(const std::string& path) = 0;

  // The type and permission bits of `path` itself, a link not followed
  // (lstat(2)). Returns 0, or -1 with errno set.
  [[nodiscard]] virtual int LinkMode(const std::string& path, mode_t* mode) = 0;

  // The machine's host name (gethostname(2)). Returns 0, or -1 with errno set.
  [[nodiscard]] virtual int HostName(std::string* name) = 0;
};

// The implementation every caller uses: the real system calls, unless a test
// has put another in place with ScopedSystemApi.
SystemApi& System();

// Makes `api` the one System() returns while this object lives (tests only;
// one at a time). `api` must outlive it.
class ScopedSystemApi {
 public:
  explicit ScopedSystemApi(SystemApi* api);
  ~ScopedSystemApi();
  ScopedSystemApi(const ScopedSystemApi&) = delete;
  ScopedSystemApi& operator=(const ScopedSystemApi&) = delete;

 private:
  SystemApi* previous_;
};

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_SYSTEM_API_H_
