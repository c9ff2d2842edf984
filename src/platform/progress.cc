#include "platform/progress.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>

#include "platform/console.h"

namespace postrunner {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

struct Task {
  std::mutex mutex;
  std::string label;
  uint64_t total = 0;
  uint64_t done = 0;
  Clock::time_point started;
  Clock::time_point drawn;
  bool active = false;
};

std::atomic<bool> g_enabled{false};

Task& CurrentTask() {
  static Task task;
  return task;
}

// Draws the task's line; the caller holds its mutex.
void Draw(Task& task, Clock::time_point now) {
  task.drawn = now;
  const double seconds = std::chrono::duration<double>(now - task.started).count();
  WriteStatusLine(FormatProgress(task.label, task.done, task.total, seconds));
}

std::string Megabytes(uint64_t bytes) {
  char text[32];  // the largest count, 18446744073709.6, fits
  (void)std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / 1e6);
  return text;
}

}  // namespace

void EnableProgress(bool wanted) { g_enabled = wanted && StandardErrorIsTerminal(); }

void ProgressBegin(const std::string& label, uint64_t total) {
  if (!g_enabled) return;
  Task& task = CurrentTask();
  std::lock_guard<std::mutex> lock(task.mutex);
  task.label = label;
  task.total = total;
  task.done = 0;
  task.started = Clock::now();
  task.active = true;
  Draw(task, task.started);
}

void ProgressRelabel(const std::string& label) {
  if (!g_enabled) return;
  Task& task = CurrentTask();
  std::lock_guard<std::mutex> lock(task.mutex);
  if (!task.active) return;
  task.label = label;
  Draw(task, Clock::now());
}

void ProgressAdvance(uint64_t bytes) {
  if (!g_enabled) return;
  Task& task = CurrentTask();
  std::lock_guard<std::mutex> lock(task.mutex);
  if (!task.active) return;
  task.done += bytes;
  const Clock::time_point now = Clock::now();
  if (now - task.drawn >= kRedrawInterval) Draw(task, now);
}

void ProgressEnd() {
  if (!g_enabled) return;
  Task& task = CurrentTask();
  std::lock_guard<std::mutex> lock(task.mutex);
  task.active = false;
  ClearStatusLine();
}

std::string FormatProgress(const std::string& label, uint64_t done, uint64_t total,
                           double seconds) {
  std::string text = label + ": " + Megabytes(done);
  if (total > 0) text += " of " + Megabytes(total);
  text += " MB";
  if (seconds <= 0.05 || done == 0) return text;
  const double rate = static_cast<double>(done) / seconds;
  text += ", " + Megabytes(static_cast<uint64_t>(rate)) + " MB/s";
  if (total > done) {
    const auto left = static_cast<uint64_t>(static_cast<double>(total - done) / rate);
    char eta[48];  // room for the largest count of minutes
    (void)std::snprintf(eta, sizeof eta, ", %llu:%02llu left",
                        static_cast<unsigned long long>(left / 60),
                        static_cast<unsigned long long>(left % 60));
    text += eta;
  }
  return text;
}

}  // namespace postrunner
