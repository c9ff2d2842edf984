// One self-updating progress line on standard error while long work runs
// (archiving a file, mailing pieces, uploading), for a person watching a
// terminal. It is drawn only when standard error is a terminal and the run
// has switched it on, and at most ten times a second, so it costs nothing
// measurable and never reaches cron mail, pipes or logs. Standard output is
// untouched: PrintLine and PrintReason clear the line before they write.
// All functions may be called from any thread.
#ifndef POSTRUNNER_PLATFORM_PROGRESS_H_
#define POSTRUNNER_PLATFORM_PROGRESS_H_

#include <cstdint>
#include <string>

namespace postrunner {

// Switches the progress line on when `wanted` and standard error is a
// terminal; off otherwise. Off by default.
void EnableProgress(bool wanted);

// Starts a task named `label` of `total` bytes (0 when the total is not
// known) and draws its line. Replaces any task still running.
void ProgressBegin(const std::string& label, uint64_t total);

// Renames the current task, keeping its counts; redraws at once.
void ProgressRelabel(const std::string& label);

// Counts `bytes` more done on the current task; redraws when the last
// drawing is at least 0.1 s old.
void ProgressAdvance(uint64_t bytes);

// Ends the current task and clears its line.
void ProgressEnd();

// Ends the current task when it goes out of scope, on every path.
class ScopedProgress {
 public:
  ScopedProgress() = default;
  ~ScopedProgress() { ProgressEnd(); }
  ScopedProgress(const ScopedProgress&) = delete;
  ScopedProgress& operator=(const ScopedProgress&) = delete;
};

// The text drawn for a task: label, bytes done of total, rate and time
// left, e.g. "db.dump: 12.5 of 40.0 MB, 20.1 MB/s, 0:02 left". `seconds`
// is the time since the task began.
std::string FormatProgress(const std::string& label, uint64_t done, uint64_t total,
                           double seconds);

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_PROGRESS_H_
