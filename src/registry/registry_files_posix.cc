#include "registry/registry_files.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/file_info.h"
#include "platform/file_io.h"
#include "platform/scoped_fd.h"

namespace postrunner {
namespace {

// The file named by environment variable `override_name` when it is set,
// otherwise `fallback`.
std::string FileFor(const char* override_name, const std::string& fallback) {
  if (const char* value = std::getenv(override_name)) return value;
  return fallback;
}

std::string UserRegistryPath() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') {
    return std::string(xdg) + "/postrunner/registry.reg";
  }
  std::string home;
  if (const char* h = std::getenv("HOME"); h && *h) {
    home = h;
  } else if (const struct passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
    home = pw->pw_dir;
  }
  if (home.empty()) return "";
  return home + "/.config/postrunner/registry.reg";
}

FileVersion VersionOf(const struct stat& st) {
  return FileVersion{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
                     static_cast<uint64_t>(st.st_size), st.st_mtim.tv_sec,
                     st.st_mtim.tv_nsec};
}

FileState Failed(std::string* error, std::string text) {
  *error = std::move(text);
  return FileState::kFailed;
}

// A missing file, or a missing folder on the way to it, is the normal case.
bool IsMissing(int error_number) { return error_number == ENOENT || error_number == ENOTDIR; }

}  // namespace

std::string RegistrySourcePath(RegistrySource source) {
  switch (source) {
    case RegistrySource::kMachine:
      return FileFor("POSTRUNNER_MACHINE_REGISTRY", "/etc/postrunner/registry.reg");
    case RegistrySource::kUser:
      return FileFor("POSTRUNNER_USER_REGISTRY", UserRegistryPath());
    case RegistrySource::kMimeTypes:
      return FileFor("POSTRUNNER_MIME_TYPES", "/etc/mime.types");
  }
  return "";
}

FileState ProbeFile(const std::string& path, FileVersion* version, std::string* error) {
  struct stat st;
  if (path.empty()) return FileState::kMissing;
  if (::stat(path.c_str(), &st) != 0) {
    if (IsMissing(errno)) return FileState::kMissing;
    return Failed(error, ErrnoText(errno));
  }
  if (!S_ISREG(st.st_mode)) return Failed(error, "not a regular file");
  *version = VersionOf(st);
  return FileState::kPresent;
}

FileState ReadWholeFile(const std::string& path, size_t max_bytes, std::string* bytes,
                        FileVersion* version, std::string* error) {
  bytes->clear();
  ScopedFd fd(OpenRegularFile(path.c_str()));
  if (!fd.valid()) {
    if (IsMissing(errno)) return FileState::kMissing;
    if (errno == EISDIR || errno == EINVAL) return Failed(error, "not a regular file");
    return Failed(error, ErrnoText(errno));
  }
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return Failed(error, ErrnoText(errno));
  std::string too_big = "larger than " + std::to_string(max_bytes) + " bytes";
  if (static_cast<uint64_t>(st.st_size) > max_bytes) return Failed(error, too_big);
  char buffer[8192];
  for (;;) {
    ssize_t n = ReadSome(fd.get(), buffer, sizeof buffer);
    if (n < 0) return Failed(error, ErrnoText(errno));
    if (n == 0) break;
    bytes->append(buffer, static_cast<size_t>(n));
    if (bytes->size() > max_bytes) return Failed(error, too_big);
  }
  *version = VersionOf(st);
  return FileState::kPresent;
}

}  // namespace postrunner
