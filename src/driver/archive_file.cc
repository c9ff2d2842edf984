#include "driver/archive_file.h"

#include <cerrno>
#include <cstdio>

#include "driver/file_checks.h"
#include "platform/console.h"
#include "platform/directory_search.h"
#include "platform/file_info.h"
#include "platform/file_io.h"
#include "platform/file_names.h"
#include "platform/path.h"
#include "platform/system_api.h"

namespace postrunner {

bool ArchiveFile::Open(const std::string& real_name, bool delivered) {
  FileInfo info;
  const bool exists = FileInfoOfPath(real_name.c_str(), &info);
  if (exists && IsOutputChannel(info.device, info.inode)) {
    // /dev/stdout, say: the lines printed while packing would land inside
    // the archive.
    PrintReason(real_name +
                ": standard output or standard error goes there; "
                "the program's lines would be mixed into the archive");
    return false;
  }
  if (!exists || !(info.is_fifo || info.is_char_device)) {
    // An old archive that cannot be deleted makes publishing the new one fail.
    DeleteArchiveFile(real_name);
    return Create(real_name);
  }
  if (delivered) {
    PrintReason(real_name +
                ": a FIFO or device cannot be read back to be sent; "
                "use /CreateOnly, or name a file with /Zip:");
    return false;
  }
  return OpenStream(real_name, info.is_fifo);
}

bool ArchiveFile::OpenStream(const std::string& real_name, bool fifo) {
  real_name_ = real_name;
  fd_.Reset(OpenStreamForWriting(real_name.c_str()));
  if (!fd_.valid()) {
    const int error = errno;
    PrintReason(real_name + ": " +
                (fifo && error == ENXIO ? std::string("no process reads the FIFO")
                                        : ErrnoText(error)));
    return false;
  }
  stream_ = true;
  return true;
}

bool ArchiveFile::Create(const std::string& real_name) {
  real_name_ = real_name;
  // A folder under the name could never be replaced by the archive.
  if (ScopedFd folder(OpenFolder(real_name)); folder.valid() || BareNameView(real_name).empty()) {
    PrintReason(real_name + ": " + ErrnoText(EISDIR));
    return false;
  }
  SignalHold hold;
  fd_.Reset(CreateFileBeside(real_name, &temp_name_));
  if (!fd_.valid()) {
    PrintReason(real_name + ": cannot create a file beside it: " + ErrnoText(errno));
    return false;
  }
  on_signal_ = std::make_unique<RemoveOnSignal>(temp_name_);
  return true;
}

std::string ArchiveFile::ReadPath() const { return DescriptorPath(fd_.get()); }

bool ArchiveFile::Publish() {
  if (stream_) return true;
  if (published_ || !fd_.valid()) return published_;
  int error = RenameNoReplace(temp_name_, real_name_);
  if (error != 0) {
    // EEXIST: another run put its archive there meanwhile, or an old one
    // could not be deleted. Either is kept.
    PrintReason(real_name_ + ": " + ErrnoText(error) +
                "; the new archive cannot take this name and is removed");
    Discard();
    return false;
  }
  published_ = true;
  on_signal_.reset();
  return true;
}

void ArchiveFile::Discard() {
  if (!published_ && !temp_name_.empty()) {
    SignalHold hold;
    System().RemoveFile(temp_name_);
    on_signal_.reset();
    temp_name_.clear();
  }
  fd_.Reset();
}

void PrintArchiveFailure(ArchiveResult result, int error, const std::string& source,
                         const std::string& archive_name) {
  // Opening or reading concerns the source; writing and closing the archive.
  const std::string& path = (result == ErrOpenFile || result == ErrRead) ? source : archive_name;
  if (error != 0) {
    PrintReason(path + ": " + ErrnoText(error));
  } else if (result == ErrTooLarge) {
    PrintReason(path + ": too large for the archive format");
  } else {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(result));
    PrintReason(path + ": the archive writer failed (result " + code + ")");
  }
}

}  // namespace postrunner
