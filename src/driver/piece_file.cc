#include "driver/piece_file.h"

#include <cerrno>

#include "platform/console.h"
#include "platform/file_io.h"
#include "platform/file_names.h"
#include "platform/system_api.h"

namespace postrunner {

std::string ShortenPieceName(const std::string& name, size_t room) {
  if (name.size() <= room) return name;
  size_t tail = name.rfind("_(part_");
  if (tail == std::string::npos || name.size() - tail > room) {
    return name.substr(name.size() - room);
  }
  size_t keep = room - (name.size() - tail);
  return name.substr(0, keep) + name.substr(tail);
}

PieceFile::~PieceFile() {
  if (name_.empty()) return;
  SignalHold hold;
  file_.Close();
  // A piece that stays behind is a plain copy of part of the file: say so.
  if (System().RemoveFile(name_) != 0 && errno != ENOENT) {
    PrintReason("cannot remove piece file " + name_ + ": " + ErrnoText(errno));
  }
  on_signal_.reset();
}

bool PieceFile::Create(const std::string& name) {
  name_ = name;
  // Whatever lies under the name (an old piece, a planted link) goes; the
  // new file is then created afresh, never opened through a link.
  SignalHold hold;
  System().RemoveFile(name_);
  int fd = file_.Open(name_, kBinaryCreateNew);
  if (fd < 0 && errno == ENAMETOOLONG) {
    name_ = ShortenPieceName(name, LongestNameIn("."));
    System().RemoveFile(name_);
    fd = file_.Open(name_, kBinaryCreateNew);
  }
  if (fd < 0) {
    PrintReason(name_ + ": " + ErrnoText(errno));
    name_.clear();
    return false;
  }
  on_signal_ = std::make_unique<RemoveOnSignal>(name_);
  return true;
}

std::string PieceFile::ReadPath() const { return DescriptorPath(file_.descriptor()); }

}  // namespace postrunner
