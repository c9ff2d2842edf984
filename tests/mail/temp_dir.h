// A scratch folder for tests, removed with everything in it at the end.
#ifndef POSTRUNNER_TESTS_MAIL_TEMP_DIR_H_
#define POSTRUNNER_TESTS_MAIL_TEMP_DIR_H_

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace postrunner {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pr_mail_XXXXXX").string();
    if (::mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The path of `name` inside the folder.
  std::string Path(const std::string& name) const { return path_ + "/" + name; }

  // Writes `content` to `name` and returns its path.
  std::string Write(const std::string& name, const std::string& content) const {
    std::ofstream out(Path(name), std::ios::binary);
    out << content;
    return Path(name);
  }

 private:
  std::string path_;
};

}  // namespace postrunner

#endif  // POSTRUNNER_TESTS_MAIL_TEMP_DIR_H_
