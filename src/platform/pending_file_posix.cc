#include "platform/pending_file.h"

#include <stdio.h>

#include <cerrno>

#include "platform/file_names.h"
#include "platform/system_api.h"

namespace postrunner {

bool PendingFile::Create(const std::string& real_name, unsigned mode) {
  if (!temp_name_.empty()) {
    errno = EEXIST;
    return false;
  }
  // Created and registered with the signals held back: no signal can come
  // between the two and leave the file behind.
  SignalHold hold;
  // Close() reports on an earlier file; a descriptor still held here belongs
  // to one already published or discarded.
  (void)fd_.Reset(CreateFileBeside(real_name, &temp_name_, mode));
  if (!fd_.valid()) return false;
  on_signal_ = std::make_unique<RemoveOnSignal>(temp_name_);
  return true;
}

bool PendingFile::Close() { return fd_.Reset(); }

int PendingFile::Publish(const std::string& name, Existing existing) {
  if (temp_name_.empty()) return ENOENT;
  int error = 0;
  if (existing == Existing::kKeep) {
    error = RenameNoReplace(temp_name_, name);
  } else if (::rename(temp_name_.c_str(), name.c_str()) != 0) {
    error = errno;
  }
  if (error != 0) return error;
  on_signal_.reset();
  temp_name_.clear();
  return 0;
}

bool PendingFile::Discard() {
  // The file is removed: what closing it says about its data no longer
  // matters.
  (void)fd_.Reset();
  if (temp_name_.empty()) return true;
  SignalHold hold;
  // Gone already is as good as removed.
  const bool removed = System().RemoveFile(temp_name_) == 0 || errno == ENOENT;
  on_signal_.reset();
  temp_name_.clear();
  return removed;
}

}  // namespace postrunner
