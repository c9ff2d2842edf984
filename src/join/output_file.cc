#include "join/output_file.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include "join/safe_name.h"
#include "platform/file_io.h"

namespace postrunner {
namespace {

constexpr size_t kBufferSize = 256 * 1024;
constexpr int kMaxAlternatives = 9999;

}  // namespace

OutputFile::OutputFile(std::string folder)
    : folder_(folder.empty() ? std::string(".") : std::move(folder)) {}

bool OutputFile::Fail(const std::string& what, int error_number) {
  if (error_.empty()) error_ = what + ": " + ErrnoText(error_number);
  return false;
}

bool OutputFile::Create() {
  // A hidden name of its own in the folder; the real name is given later.
  if (!file_.Create(folder_ + "/postrunner-join")) {
    return Fail("cannot create a file in " + folder_, errno);
  }
  buffer_ = std::make_unique_for_overwrite<char[]>(kBufferSize);
  return true;
}

bool OutputFile::Flush() {
  if (!error_.empty()) return false;
  if (held_ > 0 && WriteAll(file_.descriptor(), buffer_.get(), held_) != held_) {
    return Fail("cannot write " + file_.temp_name(), errno);
  }
  held_ = 0;
  return true;
}

bool OutputFile::Write(const char* data, size_t size) {
  if (!error_.empty() || file_.descriptor() < 0) return false;
  bytes_ += size;
  if (held_ + size > kBufferSize && !Flush()) return false;
  if (size >= kBufferSize) {
    if (WriteAll(file_.descriptor(), data, size) != size) {
      return Fail("cannot write " + file_.temp_name(), errno);
    }
    return true;
  }
  std::memcpy(buffer_.get() + held_, data, size);
  held_ += size;
  return true;
}

bool OutputFile::Publish(const std::string& name, std::string* published) {
  if (!Flush()) return false;
  if (!file_.Close()) return Fail("cannot write " + file_.temp_name(), errno);
  for (int k = 0; k <= kMaxAlternatives; ++k) {
    std::string candidate = k == 0 ? name : NumberedName(name, k);
    const int error_number = file_.Publish(folder_ + "/" + candidate);
    if (error_number == 0) {
      *published = std::move(candidate);
      return true;
    }
    if (error_number != EEXIST) return Fail("cannot name the file " + candidate, error_number);
  }
  return Fail("no free name for " + name, EEXIST);
}

bool OutputFile::Discard(std::string* reason) {
  const std::string temp_name = file_.temp_name();
  if (file_.Discard()) return true;
  *reason = "cannot remove " + temp_name + ": " + ErrnoText(errno);
  return false;
}

}  // namespace postrunner
