// The archive file of one run. It is a PendingFile (platform/pending_file.h):
// written under a temporary name of its own in the archive's folder and
// given its real name only when it is complete and is to stay. So
// two runs that use the same archive name never write into, send or delete
// each other's archive, and an archive that could not be finished (a full
// disk, a signal) never appears under the real name. The run delivers from
// the file it wrote, through its descriptor, never by its name.
// An existing FIFO or character device under the name is the exception: a
// stream that another process reads as it is written. It is written in
// place, strictly forward, and never removed. So is the file standard output
// goes to (/Zip:/dev/stdout), written through a duplicate of descriptor 1
// while the program's lines go to standard error: a pipe strictly forward, a
// regular file from where it stands, seeking back within what the run wrote.
#ifndef POSTRUNNER_DRIVER_ARCHIVE_FILE_H_
#define POSTRUNNER_DRIVER_ARCHIVE_FILE_H_

#include <string>

#include "platform/pending_file.h"
#include "platform/scoped_fd.h"
#include "zip/archive.h"

namespace postrunner {

class ArchiveFile {
 public:
  ArchiveFile() = default;
  // Removes the temporary file unless it was published.
  ~ArchiveFile() { Discard(); }
  ArchiveFile(const ArchiveFile&) = delete;
  ArchiveFile& operator=(const ArchiveFile&) = delete;

  // Opens the output of the archive `real_name`. An existing FIFO or
  // character device, or the file standard output goes to once the lines go
  // to standard error (SendLinesToStandardError), is opened in place
  // (stream() is then true); it is refused when the archive is to be
  // `delivered`, as it could not be read back to be sent. For anything else
  // an old file of that name is deleted and Create makes the temporary file.
  // Whatever standard error goes to is refused: the program's reasons would
  // be mixed into the archive. False, with the reason printed, on any
  // refusal or failure; nothing has been written then.
  bool Open(const std::string& real_name, bool delivered);

  // Creates the temporary file beside `real_name` and registers it for
  // removal on a signal. False (with the reason printed) when it cannot be
  // created, or when `real_name` names a folder.
  bool Create(const std::string& real_name);

  // True when the archive goes to a FIFO, a device or standard output in place.
  bool stream() const { return stream_; }

  // The descriptor of the file, -1 before Create.
  int descriptor() const { return stream_ ? stream_fd_.get() : pending_.descriptor(); }

  // A path that reads exactly this run's archive.
  std::string ReadPath() const;

  // Gives the finished archive its real name, unless something appeared
  // under that name since the run began (another run's archive): then the
  // file is removed and false returned, with the reason printed. A stream
  // has nothing to rename: true.
  bool Publish();

  // Removes the unpublished file (a delivered archive, or one that could not
  // be finished), printing the reason when that fails. Harmless after
  // Publish. A stream is only closed.
  void Discard();

 private:
  // Opens the existing FIFO (`fifo`) or character device `real_name` in
  // place. False, with the reason printed, when it cannot be opened.
  bool OpenStream(const std::string& real_name, bool fifo);

  // Opens the file standard output goes to, named `real_name`, in place.
  // False, with the reason printed, when that is refused or fails.
  bool OpenStandardOutput(const std::string& real_name, bool delivered);

  std::string real_name_;
  PendingFile pending_;
  ScopedFd stream_fd_;
  bool published_ = false;
  bool stream_ = false;
};

// True when `name` names the file standard output goes to and standard error
// does not: an archive written there is streamed into standard output.
bool ArchiveGoesToStandardOutput(const std::string& name);

// Prints why adding `source` to, or closing, the archive `archive_name`
// failed with `result`; `error` is the errno value the archive writer left
// (0 when the failure was not the system's).
void PrintArchiveFailure(ArchiveResult result, int error, const std::string& source,
                         const std::string& archive_name);

}  // namespace postrunner

#endif  // POSTRUNNER_DRIVER_ARCHIVE_FILE_H_
