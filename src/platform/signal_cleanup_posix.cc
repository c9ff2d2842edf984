#include "platform/signal_cleanup.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <utility>

namespace postrunner {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The registered paths. The main thread is the only one, so a handler runs
// between two of its instructions: a slot is either null or points to a
// complete path that stays valid until the slot is cleared.
std::atomic<const char*> g_paths[RemoveOnSignal::kMaxRegistered];
static_assert(std::atomic<const char*>::is_always_lock_free);

// Removes the plain files in the folder `path` and then the folder, with
// system calls only (no opendir, which allocates).
void RemoveFlatFolderRaw(const char* path) {
  const int dir = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return;
  alignas(8) char buffer[4096];
  long got;
  while ((got = ::syscall(SYS_getdents64, dir, buffer, sizeof buffer)) > 0) {
    for (long at = 0; at < got;) {
      const auto* entry = reinterpret_cast<const struct dirent64*>(buffer + at);
      const char* name = entry->d_name;
      const bool dots = name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
      if (!dots) ::unlinkat(dir, name, 0);
      at += entry->d_reclen;
    }
  }
  ::close(dir);
  ::rmdir(path);
}

extern "C" void RemoveAndExit(int signal_number) {
  // Only async-signal-safe calls here: unlink(2), the folder's system calls
  // and _exit(2).
  for (auto& slot : g_paths) {
    const char* path = slot.load();
    if (path != nullptr && ::unlink(path) != 0 && errno == EISDIR) RemoveFlatFolderRaw(path);
  }
  ::_exit(128 + signal_number);
}

[[nodiscard]] sigset_t CleanupSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : kSignals) sigaddset(&set, s);
  return set;
}

}  // namespace

bool InstallSignalCleanup() {
  struct sigaction action = {};
  action.sa_handler = RemoveAndExit;
  // While one handler runs, the other signals wait: it never runs twice.
  action.sa_mask = CleanupSignals();
  bool ok = true;
  for (int s : kSignals) {
    struct sigaction current = {};
    if (::sigaction(s, nullptr, &current) != 0) {
      ok = false;
      continue;
    }
    // A signal the caller chose to ignore (nohup ignores SIGHUP) stays
    // ignored: the run goes on as it was asked to.
    if (current.sa_handler == SIG_IGN) continue;
    ok = ::sigaction(s, &action, nullptr) == 0 && ok;
  }
  return ok;
}

SignalHold::SignalHold() {
  sigset_t held = CleanupSignals();
  ::sigprocmask(SIG_BLOCK, &held, &previous_);
}

SignalHold::~SignalHold() { ::sigprocmask(SIG_SETMASK, &previous_, nullptr); }

RemoveOnSignal::RemoveOnSignal(std::string path) : path_(std::move(path)) {
  for (int i = 0; i < kMaxRegistered; ++i) {
    const char* expected = nullptr;
    if (g_paths[i].compare_exchange_strong(expected, path_.c_str())) {
      slot_ = i;
      return;
    }
  }
}

void RemoveOnSignal::Release() {
  if (slot_ < 0) return;
  g_paths[slot_].store(nullptr);
  slot_ = -1;
}

}  // namespace postrunner
