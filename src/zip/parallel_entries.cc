#include "zip/parallel_entries.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "zip/compressed_entry.h"
#include "zip/zip_writer.h"

namespace postrunner {
namespace {

// Memory an entry's finished data may take before it goes to a scratch file.
constexpr size_t kMemoryPerEntry = size_t{1} << 20;
// Entries queued at most, each holding an open file: far enough ahead that a
// big file does not leave the other threads idle, few enough descriptors.
constexpr size_t kJobsPerThread = 64;
constexpr size_t kMaxJobs = 256;
// Finished data waiting in memory: threads take no new entry beyond this.
constexpr size_t kBudgetPerThread = size_t{2} << 20;
constexpr size_t kBudgetBase = size_t{8} << 20;

}  // namespace

struct ParallelEntries::Job {
  enum class State { kWaiting, kTaken, kDone };

  Job() : entry(kMemoryPerEntry) {}

  Action action;            // set for an action, which has no file
  std::string name;         // the entry name as queued
  CompressedEntry entry;
  FileDone done;
  State state = State::kDone;
  size_t counted = 0;       // its share of buffered_
};

ParallelEntries::ParallelEntries(ArchiveHandle* handle, unsigned threads)
    : handle_(handle),
      threads_(threads),
      max_jobs_(std::min(kJobsPerThread * threads, kMaxJobs)),
      budget_(kBudgetPerThread * threads + kBudgetBase) {}

ParallelEntries::~ParallelEntries() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  cancel_ = true;
  work_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

ParallelEntries::Job* ParallelEntries::NextWaiting() {
  if (buffered_ >= budget_) return nullptr;
  for (const std::unique_ptr<Job>& job : jobs_) {
    if (job->state == Job::State::kWaiting) return job.get();
  }
  return nullptr;
}

void ParallelEntries::Take(Job* job) {
  job->state = Job::State::kTaken;
  waiting_--;
}

void ParallelEntries::StartWorkerIfNeeded() {
  if (cannot_start_ || workers_.size() + 1 >= threads_) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (waiting_ <= idle_ || buffered_ >= budget_) return;
  }
  try {
    workers_.emplace_back([this] { WorkerLoop(); });
  } catch (const std::exception&) {
    cannot_start_ = true;  // fewer threads: the caller's thread still does all the work
  }
}

void ParallelEntries::Compress(Job* job, Deflater* deflater) {
  try {
    CompressAhead(deflater, cancel_, &job->entry);
  } catch (...) {
    // Out of memory, say: the writer reads the file again itself.
    job->entry.data.Clear();
    job->entry.redo_at_turn = true;
  }
}

void ParallelEntries::WorkerLoop() {
  Deflater deflater;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    Job* job = nullptr;
    idle_++;
    work_.wait(lock, [&] { return stopping_ || cancel_ || (job = NextWaiting()) != nullptr; });
    idle_--;
    if (stopping_ || cancel_) return;
    Take(job);
    lock.unlock();
    Compress(job, &deflater);
    lock.lock();
    MarkDone(job);
    finished_.notify_all();
  }
}

void ParallelEntries::AwaitHead(std::unique_lock<std::mutex>& lock, bool* compress_here) {
  Job* head = jobs_.front().get();
  while (head->state != Job::State::kDone) {
    if (head->state == Job::State::kWaiting) {
      // Nobody took it yet: it is written straight from its file.
      Take(head);
      *compress_here = true;
      return;
    }
    // Another thread is on it: help with a later entry meanwhile.
    if (Job* other = NextWaiting()) {
      Take(other);
      lock.unlock();
      Compress(other, &deflater_);
      lock.lock();
      MarkDone(other);
      continue;
    }
    finished_.wait(lock);
  }
}

void ParallelEntries::MarkDone(Job* job) {
  job->state = Job::State::kDone;
  job->counted = job->entry.data.memory_size();
  buffered_ += job->counted;
}

ArchiveResult ParallelEntries::WriteHead(Job* job, bool compress_here) {
  if (handle_ == nullptr || !handle_->writer) return ErrWrongHandle;
  ZipWriter* writer = handle_->writer.get();
  CompressedEntry& entry = job->entry;
  if (compress_here || entry.redo_at_turn) {
    entry.data.Clear();
    return writer->AddOpenFile(job->name.c_str(), entry.file.get(), entry.bare_name);
  }
  return writer->AddCompressed(job->name.c_str(), &entry);
}

bool ParallelEntries::RunTurn() {
  std::unique_lock<std::mutex> lock(mutex_);
  Job* head = jobs_.front().get();
  bool compress_here = false;
  AwaitHead(lock, &compress_here);
  lock.unlock();
  bool go_on = true;
  if (head->action) {
    go_on = head->action();
  } else {
    ArchiveResult result = WriteHead(head, compress_here);
    const int error = result == ResultOk ? 0 : ArchiveLastError(handle_);
    go_on = head->done ? head->done(result, error) : result == ResultOk;
  }
  lock.lock();
  const bool was_full = buffered_ >= budget_;
  buffered_ -= head->counted;
  const bool room_again = was_full && buffered_ < budget_;
  jobs_.pop_front();
  lock.unlock();
  // Only freed memory can give an idle thread something to take.
  if (room_again) work_.notify_all();
  if (!go_on) {
    stopped_ = true;
    cancel_ = true;  // what is still being compressed will not be written
  }
  return go_on;
}

bool ParallelEntries::Queue(std::unique_ptr<Job> job) {
  if (stopped_) return false;
  const bool waiting = job->state == Job::State::kWaiting;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back(std::move(job));
    if (waiting) waiting_++;
  }
  if (waiting) {
    work_.notify_one();
    StartWorkerIfNeeded();
  }
  // Writes what is ready, then makes room for the next entry.
  for (;;) {
    bool head_done = false;
    bool room = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      head_done = !jobs_.empty() && jobs_.front()->state == Job::State::kDone;
      room = jobs_.size() < max_jobs_ && buffered_ < budget_;
    }
    if (!head_done && room) return true;
    if (!RunTurn()) return false;
  }
}

bool ParallelEntries::QueueFile(const std::string& name, ScopedFd file,
                                const std::string& bare_name, int open_error, FileDone done) {
  auto job = std::make_unique<Job>();
  job->name = name;
  job->done = std::move(done);
  job->entry.entry_name = EntryName(name.c_str(), true);
  job->entry.bare_name = bare_name;
  if (file.valid()) {
    job->entry.file = std::move(file);
    job->state = Job::State::kWaiting;
  } else {
    job->entry.failure = ErrOpenFile;
    job->entry.error = open_error;
  }
  return Queue(std::move(job));
}

bool ParallelEntries::QueueAction(Action action) {
  auto job = std::make_unique<Job>();
  job->action = std::move(action);
  return Queue(std::move(job));
}

bool ParallelEntries::Finish() {
  for (;;) {
    if (stopped_) return false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (jobs_.empty()) return true;
    }
    if (!RunTurn()) return false;
  }
}

}  // namespace postrunner
