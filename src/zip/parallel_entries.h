// ParallelEntries: adds files to an archive in the order they are queued
// while compressing the files queued after the one being written on other
// threads. Entries are independent DEFLATE streams, so a file can be
// compressed ahead of its turn; when its turn comes the caller's thread
// copies the finished data into place, and the archive holds exactly the
// bytes that adding the files one by one gives: same order, headers and
// offsets.
//
// The caller's thread queues and writes; it also compresses while it would
// otherwise wait, and copies files stored unchanged at their turn. Other
// threads start only as files are queued that no thread is free to take,
// up to the count given, and each allocates its compressor's working state
// when it first compresses: a run of few or tiny files starts few threads.
// Memory stays bounded: an entry's finished data waits in at most 1 MiB of
// memory and beyond that in an unnamed scratch file, no thread takes a new
// entry while the finished data in memory exceeds a budget of 2 MiB per
// thread plus 8 MiB, and at most 64 entries per thread (256 in all) are
// queued, each holding its open file. Everything queued runs its turn in
// order; a turn that fails stops the run, and what was queued after it is
// dropped unwritten.
#ifndef POSTRUNNER_ZIP_PARALLEL_ENTRIES_H_
#define POSTRUNNER_ZIP_PARALLEL_ENTRIES_H_

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "deflate/deflate.h"
#include "platform/scoped_fd.h"
#include "zip/archive.h"

namespace postrunner {

class ParallelEntries {
 public:
  // Told of a file's result at its turn, on the caller's thread, with the
  // errno value that came with a failure. Returns false to stop the run.
  using FileDone = std::function<bool(ArchiveResult result, int error)>;
  // Runs at its turn on the caller's thread. Returns false to stop the run.
  using Action = std::function<bool()>;

  // Adds to the open archive `handle`, which must outlive this object,
  // using at most `threads` compressing threads in all (the caller's and up
  // to threads - 1 more, started as work comes; at least 2).
  ParallelEntries(ArchiveHandle* handle, unsigned threads);
  // Stops the other threads; entries whose turn has not come are dropped.
  ~ParallelEntries();
  ParallelEntries(const ParallelEntries&) = delete;
  ParallelEntries& operator=(const ParallelEntries&) = delete;

  // Queues the regular file open on `file` (now owned here) as the entry
  // `name`; `bare_name` is its own name. An invalid `file` stands for a file
  // that could not be opened: its turn gives ErrOpenFile and `open_error`.
  // May run earlier turns first. Returns false once the run has stopped.
  [[nodiscard]]
  bool QueueFile(const std::string& name, ScopedFd file, const std::string& bare_name,
                 int open_error, FileDone done);

  // Queues `action` (adding a folder entry, printing a line, reporting a
  // failure). May run earlier turns first. False once the run has stopped.
  [[nodiscard]] bool QueueAction(Action action);

  // Runs every turn still queued. Returns true when no turn stopped the run.
  [[nodiscard]] bool Finish();

 private:
  struct Job;

  // Runs the turn of the first job queued. False when it stopped the run.
  [[nodiscard]] bool RunTurn();
  // Brings the first job to its finished state, compressing it here or
  // helping with later ones while another thread compresses it.
  // `lock` holds mutex_ on entry and on return.
  void AwaitHead(std::unique_lock<std::mutex>& lock, bool* compress_here);
  [[nodiscard]] ArchiveResult WriteHead(Job* job, bool compress_here);
  // The first file no thread has taken, or null, also while finished data
  // exceeds the budget. Needs mutex_.
  Job* NextWaiting();
  // Marks the waiting `job` as taken by the calling thread. Needs mutex_.
  void Take(Job* job);
  // Starts one more thread when a queued file waits that no idle thread
  // can take and the count allows it. Caller's thread, without mutex_.
  void StartWorkerIfNeeded();
  // Marks `job` finished and counts its memory. Needs mutex_.
  void MarkDone(Job* job);
  // Compresses `job` with `deflater`, then marks it finished.
  void Compress(Job* job, Deflater* deflater);
  [[nodiscard]] bool Queue(std::unique_ptr<Job> job);
  void WorkerLoop();

  ArchiveHandle* handle_;
  const unsigned threads_;      // most compressing threads, the caller's included
  const size_t max_jobs_;       // most jobs queued at once
  const size_t budget_;         // most finished data in memory
  size_t buffered_ = 0;         // finished data in memory (guarded)
  size_t waiting_ = 0;          // queued files no thread has taken (guarded)
  size_t idle_ = 0;             // workers waiting for a job (guarded)
  bool cannot_start_ = false;   // starting a thread failed (caller's thread)
  std::mutex mutex_;
  std::condition_variable work_;      // workers wait for a job or the stop
  std::condition_variable finished_;  // the writer waits for a job to finish
  std::deque<std::unique_ptr<Job>> jobs_;  // guarded; the first is next
  bool stopping_ = false;       // guarded
  bool stopped_ = false;        // a turn stopped the run (caller's thread)
  std::atomic<bool> cancel_{false};
  Deflater deflater_;           // the caller's thread's own, for help
  std::vector<std::thread> workers_;  // caller's thread only
};

}  // namespace postrunner

#endif  // POSTRUNNER_ZIP_PARALLEL_ENTRIES_H_
