#include "platform/signal_cleanup.h"

#include <unistd.h>

#include <atomic>
#include <utility>

namespace postrunner {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The registered paths. The main thread is the only one, so a handler runs
// between two of its instructions: a slot is either null or points to a
// complete path that stays valid until the slot is cleared.
std::atomic<const char*> g_paths[RemoveOnSignal::kMaxRegistered];
static_assert(std::atomic<const char*>::is_always_lock_free);

extern "C" void RemoveAndExit(int signal_number) {
  // Only async-signal-safe calls here: unlink(2) and _exit(2).
  for (auto& slot : g_paths) {
    if (const char* path = slot.load()) ::unlink(path);
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
