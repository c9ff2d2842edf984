// A file that takes its real name only when it is complete. It is created
// afresh beside the name it is to take, under a hidden temporary name of its
// own (never an existing file, never through a link), registered for removal
// should a signal stop the run, and removed unless it was published. So a
// file that could not be finished (a full disk, a failed check, Ctrl-C)
// never appears under a real name, and none is left behind.
#ifndef POSTRUNNER_PLATFORM_PENDING_FILE_H_
#define POSTRUNNER_PLATFORM_PENDING_FILE_H_

#include <memory>
#include <string>

#include "platform/scoped_fd.h"
#include "platform/signal_cleanup.h"

namespace postrunner {

class PendingFile {
 public:
  // What Publish does with a file already under the name.
  enum class Existing { kKeep, kReplace };

  PendingFile() = default;
  // Removes the file unless it was published.
  ~PendingFile() { Discard(); }
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Creates the file, open for reading and writing, in the folder of
  // `real_name` (whose bare name shapes the temporary one) with mode `mode`
  // before the umask (0600 for a secret: no other user can open it even
  // while it is empty), and registers it for removal on a signal. False,
  // errno set, when it cannot be created or one was created already.
  bool Create(const std::string& real_name, unsigned mode = 0666);

  // The descriptor; -1 before Create and after Close.
  int descriptor() const { return fd_.get(); }

  // The temporary name; empty when no unpublished file exists.
  const std::string& temp_name() const { return temp_name_; }

  // Closes the descriptor; the file stays pending. False, errno set, when
  // closing reported an error (a write that failed late).
  bool Close();

  // Gives the file the name `name`: with kKeep only when nothing is there
  // (EEXIST otherwise), with kReplace over whatever file is there. Returns
  // 0, or the errno value of the failure, the file then still pending.
  int Publish(const std::string& name, Existing existing = Existing::kKeep);

  // Removes the unpublished file (through System(), platform/system_api.h)
  // and closes the descriptor. Harmless after Publish or without Create.
  // False, errno set, when the file could not be removed.
  bool Discard();

 private:
  std::string temp_name_;
  ScopedFd fd_;
  std::unique_ptr<RemoveOnSignal> on_signal_;
};

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_PENDING_FILE_H_
