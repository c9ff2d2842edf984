// A scratch folder for tests: made fresh under the system's temporary folder
// and removed with everything in it when the object goes, folders a test made
// unreadable or unwritable included.
#ifndef POSTRUNNER_TESTS_TEST_SUPPORT_TEMP_DIR_H_
#define POSTRUNNER_TESTS_TEST_SUPPORT_TEMP_DIR_H_

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace postrunner {

class TempDir {
 public:
  // `prefix` starts the folder's name, to tell whose it is.
  explicit TempDir(const std::string& prefix = "pr_test") {
    std::string pattern =
        (std::filesystem::temp_directory_path() / (prefix + "_XXXXXX")).string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    if (path_.empty()) return;
    std::error_code ignored;
    Unlock(path_);
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // False when the folder could not be made.
  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string Path(const std::string& name) const { return path_ + "/" + name; }
  // Writes `content` to `name` and returns its path.
  std::string Write(const std::string& name, const std::string& content) const {
    std::ofstream(Path(name), std::ios::binary) << content;
    return Path(name);
  }

 private:
  // Gives the owner every right on `folder` and the folders below it, so
  // that they can be emptied.
  static void Unlock(const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    std::error_code ignored;
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add, ignored);
    for (fs::directory_iterator it(folder, ignored), end; it != end; it.increment(ignored)) {
      if (it->is_directory(ignored) && !it->is_symlink(ignored)) Unlock(it->path());
    }
  }

  std::string path_;
};

}  // namespace postrunner

#endif  // POSTRUNNER_TESTS_TEST_SUPPORT_TEMP_DIR_H_
