// Removal of this run's temporary files when a signal stops the run.
//
// A run stopped by Ctrl-C, kill or a closed terminal must not leave a
// plaintext piece of a file or a half-written archive behind. The driver
// installs the handlers once; each temporary file is registered for as long
// as it exists. Creating a file and registering it happen while the signals
// are held back (SignalHold), so no signal falls in between.
#ifndef POSTRUNNER_PLATFORM_SIGNAL_CLEANUP_H_
#define POSTRUNNER_PLATFORM_SIGNAL_CLEANUP_H_

#include <signal.h>

#include <string>

namespace postrunner {

// Installs handlers for SIGINT, SIGTERM and SIGHUP, except for a signal that
// is ignored when the run starts (as nohup ignores SIGHUP), which stays
// ignored. Each handler removes every file registered with RemoveOnSignal
// and ends the process with exit code 128 + the signal number. Returns
// false when a handler cannot be installed.
[[nodiscard]] bool InstallSignalCleanup();

// Holds SIGINT, SIGTERM and SIGHUP back while it lives; a signal that
// arrives meanwhile is handled when the object goes.
class SignalHold {
 public:
  SignalHold();
  ~SignalHold();
  SignalHold(const SignalHold&) = delete;
  SignalHold& operator=(const SignalHold&) = delete;

 private:
  sigset_t previous_;
};

// Registers `path` (relative to the current folder or absolute) for removal
// by the handlers; a folder that holds only plain files is removed with
// them, until the object goes or Release is called. At most
// kMaxRegistered paths are registered at once; beyond that Registered() is
// false and the path is not removed.
class RemoveOnSignal {
 public:
  static constexpr int kMaxRegistered = 4;

  explicit RemoveOnSignal(std::string path);
  ~RemoveOnSignal() { Release(); }
  RemoveOnSignal(const RemoveOnSignal&) = delete;
  RemoveOnSignal& operator=(const RemoveOnSignal&) = delete;

  // True when the path is registered.
  [[nodiscard]] bool Registered() const { return slot_ >= 0; }
  // Ends the registration; the file is no longer removed on a signal.
  void Release();

 private:
  std::string path_;
  int slot_ = -1;
};

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_SIGNAL_CLEANUP_H_
