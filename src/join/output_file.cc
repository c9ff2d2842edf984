#include "join/output_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "join/safe_name.h"
#include "platform/file_io.h"
#include "platform/file_names.h"

namespace postrunner {
namespace {

constexpr size_t kBufferSize = 256 * 1024;
constexpr int kMaxAlternatives = 9999;

}  // namespace

OutputFile::OutputFile(std::string folder)
    : folder_(folder.empty() ? std::string(".") : std::move(folder)) {}

OutputFile::~OutputFile() { Discard(); }

bool OutputFile::Fail(const std::string& what, int error_number) {
  if (error_.empty()) error_ = what + ": " + ErrnoText(error_number);
  return false;
}

bool OutputFile::Create() {
  // A hidden name of its own in the folder; the real name is given later.
  fd_.Reset(CreateFileBeside(folder_ + "/postrunner-join", &temp_path_));
  if (!fd_.valid()) return Fail("cannot create a file in " + folder_, errno);
  buffer_.reset(new char[kBufferSize]);
  return true;
}

bool OutputFile::Flush() {
  if (!error_.empty()) return false;
  if (held_ > 0 && WriteAll(fd_.get(), buffer_.get(), held_) != held_) {
    return Fail("cannot write " + temp_path_, errno);
  }
  held_ = 0;
  return true;
}

bool OutputFile::Write(const char* data, size_t size) {
  if (!error_.empty() || !fd_.valid()) return false;
  bytes_ += size;
  if (held_ + size > kBufferSize && !Flush()) return false;
  if (size >= kBufferSize) {
    if (WriteAll(fd_.get(), data, size) != size) return Fail("cannot write " + temp_path_, errno);
    return true;
  }
  std::memcpy(buffer_.get() + held_, data, size);
  held_ += size;
  return true;
}

bool OutputFile::Publish(const std::string& name, std::string* published) {
  if (!Flush()) return false;
  if (!fd_.Reset()) return Fail("cannot write " + temp_path_, errno);
  for (int k = 0; k <= kMaxAlternatives; ++k) {
    std::string candidate = k == 0 ? name : NumberedName(name, k);
    int error_number = RenameNoReplace(temp_path_, folder_ + "/" + candidate);
    if (error_number == 0) {
      temp_path_.clear();
      *published = std::move(candidate);
      return true;
    }
    if (error_number != EEXIST) return Fail("cannot name the file " + candidate, error_number);
  }
  return Fail("no free name for " + name, EEXIST);
}

void OutputFile::Discard() {
  fd_.Reset();
  if (!temp_path_.empty()) ::unlink(temp_path_.c_str());
  temp_path_.clear();
}

}  // namespace postrunner
