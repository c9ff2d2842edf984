// A stand-in for the name and host calls of platform/system_api.h that fails
// them on demand, and otherwise passes them to the real system. Installed
// for its own lifetime.
#ifndef POSTRUNNER_TESTS_PLATFORM_FAKE_SYSTEM_H_
#define POSTRUNNER_TESTS_PLATFORM_FAKE_SYSTEM_H_

#include <cerrno>
#include <string>
#include <vector>

#include "platform/system_api.h"

namespace postrunner {

class FakeSystemApi : public SystemApi {
 public:
  // --- Script ---------------------------------------------------------
  int remove_errno = 0;     // RemoveFile fails with this when set
  int host_name_errno = 0;  // HostName fails with this when set
  // --- Record ---------------------------------------------------------
  std::vector<std::string> removed;  // every RemoveFile asked for

  FakeSystemApi() : real_(System()), installed_(this) {}

  int RemoveFile(const std::string& path) override {
    removed.push_back(path);
    return Fail(remove_errno) ? -1 : real_.RemoveFile(path);
  }
  int LinkMode(const std::string& path, mode_t* mode) override {
    return real_.LinkMode(path, mode);
  }
  int HostName(std::string* name) override {
    return Fail(host_name_errno) ? -1 : real_.HostName(name);
  }

 private:
  static bool Fail(int error_number) {
    if (error_number == 0) return false;
    errno = error_number;
    return true;
  }

  SystemApi& real_;
  ScopedSystemApi installed_;
};

}  // namespace postrunner

#endif  // POSTRUNNER_TESTS_PLATFORM_FAKE_SYSTEM_H_
