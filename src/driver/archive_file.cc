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

namespace postrunner {

bool ArchiveFile::Open(const std::string& real_name, bool delivered) {
  FileInfo info;
  const bool exists = FileInfoOfPath(real_name.c_str(), &info);
  if (exists && IsStandardError(info.device, info.inode)) {
    // /dev/stderr, say: the reasons printed while packing would land inside
    // the archive.
    PrintReason(real_name +
                ": standard error goes there; "
                "the program's reasons would be mixed into the archive");
    return false;
  }
  if (exists && IsStandardOutput(info.device, info.inode)) {
    return OpenStandardOutput(real_name, delivered);
  }
  if (!exists || !(info.is_fifo || info.is_char_device)) {
    // An old archive that cannot be deleted makes publishing the new one
    // fail, which reports it then.
    (void)DeleteArchiveFile(real_name);
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
  // An archive is opened once: no descriptor is held yet, so none is closed.
  (void)stream_fd_.Reset(OpenStreamForWriting(real_name.c_str()));
  if (!stream_fd_.valid()) {
    const int error = errno;
    PrintReason(real_name + ": " +
                (fifo && error == ENXIO ? std::string("no process reads the FIFO")
                                        : ErrnoText(error)));
    return false;
  }
  stream_ = true;
  return true;
}

bool ArchiveFile::OpenStandardOutput(const std::string& real_name, bool delivered) {
  if (delivered) {
    PrintReason(real_name +
                ": standard output cannot be read back to be sent; "
                "use /CreateOnly, or name a file with /Zip:");
    return false;
  }
  if (!LinesGoToStandardError()) {
    PrintReason(real_name +
                ": standard output goes there; "
                "the program's lines would be mixed into the archive");
    return false;
  }
  real_name_ = real_name;
  // An archive is opened once: no descriptor is held yet, so none is closed.
  (void)stream_fd_.Reset(DuplicateStandardOutput());
  if (!stream_fd_.valid()) {
    PrintReason(real_name + ": " + ErrnoText(errno));
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
  if (!pending_.Create(real_name)) {
    PrintReason(real_name + ": cannot create a file beside it: " + ErrnoText(errno));
    return false;
  }
  return true;
}

std::string ArchiveFile::ReadPath() const { return DescriptorPath(descriptor()); }

bool ArchiveFile::Publish() {
  if (stream_) return true;
  if (published_ || pending_.temp_name().empty()) return published_;
  if (const int error = pending_.Publish(real_name_); error != 0) {
    // EEXIST: another run put its archive there meanwhile, or an old one
    // could not be deleted. Either is kept.
    PrintReason(real_name_ + ": " + ErrnoText(error) +
                "; the new archive cannot take this name and is removed");
    Discard();
    return false;
  }
  published_ = true;
  return true;
}

void ArchiveFile::Discard() {
  const std::string temp_name = pending_.temp_name();
  if (!pending_.Discard()) PrintReason("cannot remove " + temp_name + ": " + ErrnoText(errno));
  // The archive is given up and its failure reported already; what closing
  // the stream says adds nothing.
  (void)stream_fd_.Reset();
}

bool ArchiveGoesToStandardOutput(const std::string& name) {
  FileInfo info;
  return FileInfoOfPath(name.c_str(), &info) && IsStandardOutput(info.device, info.inode) &&
         !IsStandardError(info.device, info.inode);
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
    // Ten characters at most: the text always fits.
    (void)std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(result));
    PrintReason(path + ": the archive writer failed (result " + code + ")");
  }
}

}  // namespace postrunner
