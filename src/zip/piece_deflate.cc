#include "zip/piece_deflate.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace postrunner {
namespace {

// Bytes of the input before a piece that serve as its dictionary.
constexpr size_t kDictionaryBytes = 32768;
// Pieces in memory at once, per thread.
constexpr size_t kPiecesPerThread = 2;

struct Piece {
  std::vector<unsigned char> input;  // the dictionary, then the piece's bytes
  unsigned dictionary = 0;           // bytes of the dictionary in `input`
  bool final = false;
  std::vector<unsigned char> output;
  uint16_t flags = 0;
  bool taken = false;   // a thread compresses it or did
  bool done = false;
  bool failed = false;  // compressor error or memory
};

class PieceRun {
 public:
  PieceRun(Deflater* own, unsigned threads, int level, const PieceSourceRead& read)
      : own_(own), threads_(std::max(1u, threads)), level_(level), read_(read) {}
  ~PieceRun() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    cancel_ = true;
    work_.notify_all();
    for (std::thread& worker : workers_) worker.join();
  }
  PieceRun(const PieceRun&) = delete;
  PieceRun& operator=(const PieceRun&) = delete;

  [[nodiscard]] ArchiveResult Run(uint16_t* general_flags, const PieceSinkWrite& write);

 private:
  // Reads the next piece's bytes (fewer than kPieceBytes only at the end).
  [[nodiscard]] std::vector<unsigned char> ReadBytes();
  // Queues pieces read ahead until the count in memory is reached or the
  // input ended.
  void FillQueue();
  // Waits until the first piece is compressed, compressing waiting pieces
  // meanwhile. Needs `lock` on mutex_.
  void AwaitHead(std::unique_lock<std::mutex>& lock);
  [[nodiscard]] Piece* NextWaiting();  // needs mutex_
  void Compress(Piece* piece, Deflater* deflater);
  void StartWorkers();
  void WorkerLoop();

  Deflater* own_;
  const unsigned threads_;
  const int level_;
  const PieceSourceRead& read_;
  std::vector<unsigned char> ahead_;  // the next piece's bytes, read already
  std::vector<unsigned char> tail_;   // the dictionary of the next piece
  bool read_all_ = false;             // the final piece is queued
  std::mutex mutex_;
  std::condition_variable work_;      // workers wait for a piece or the stop
  std::condition_variable finished_;  // the caller waits for its head piece
  std::deque<std::unique_ptr<Piece>> queue_;  // guarded; first in the stream first
  bool stopping_ = false;                     // guarded
  std::atomic<bool> cancel_{false};
  std::vector<std::thread> workers_;
};

std::vector<unsigned char> PieceRun::ReadBytes() {
  std::vector<unsigned char> bytes(kPieceBytes);
  size_t filled = 0;
  while (filled < bytes.size()) {
    const size_t n = read_(bytes.data() + filled, bytes.size() - filled);
    if (n == 0) break;
    filled += n;
  }
  bytes.resize(filled);
  return bytes;
}

void PieceRun::FillQueue() {
  const size_t most = kPiecesPerThread * threads_;
  while (!read_all_) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (queue_.size() >= most) return;
    }
    auto piece = std::make_unique<Piece>();
    piece->input.reserve(tail_.size() + ahead_.size());
    piece->input = tail_;
    piece->input.insert(piece->input.end(), ahead_.begin(), ahead_.end());
    piece->dictionary = static_cast<unsigned>(tail_.size());
    const size_t keep = std::min(piece->input.size(), kDictionaryBytes);
    tail_.assign(piece->input.end() - static_cast<std::ptrdiff_t>(keep), piece->input.end());
    // Whether this piece is the last is known once the next read finds
    // nothing: a cut at the end of a piece never depends on timing.
    ahead_ = ReadBytes();
    piece->final = ahead_.empty();
    read_all_ = piece->final;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.push_back(std::move(piece));
    }
    work_.notify_one();
  }
}

Piece* PieceRun::NextWaiting() {
  for (const std::unique_ptr<Piece>& piece : queue_) {
    if (!piece->taken) return piece.get();
  }
  return nullptr;
}

void PieceRun::Compress(Piece* piece, Deflater* deflater) {
  try {
    size_t at = piece->dictionary;
    DeflatePull pull = [this, piece, &at](unsigned char* buffer, unsigned capacity) -> long {
      if (cancel_.load(std::memory_order_relaxed)) return 0;
      const size_t n = std::min<size_t>(capacity, piece->input.size() - at);
      std::memcpy(buffer, piece->input.data() + at, n);
      at += n;
      return static_cast<long>(n);
    };
    DeflatePush push = [piece](const unsigned char* data, unsigned length) -> unsigned {
      piece->output.insert(piece->output.end(), data, data + length);
      return length;
    };
    const DeflateRunShape shape{piece->input.data(), piece->dictionary, piece->final};
    const DeflateResult result = deflater->Compress(level_, &piece->flags, pull, push, shape);
    piece->failed = !result.error.empty() || result.output_failed;
  } catch (const std::exception&) {
    piece->failed = true;  // out of memory, say
  }
  piece->input = std::vector<unsigned char>();
}

void PieceRun::WorkerLoop() {
  Deflater deflater;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    Piece* piece = nullptr;
    work_.wait(lock, [&] { return stopping_ || (piece = NextWaiting()) != nullptr; });
    if (stopping_) return;
    piece->taken = true;
    lock.unlock();
    Compress(piece, &deflater);
    lock.lock();
    piece->done = true;
    finished_.notify_all();
  }
}

void PieceRun::StartWorkers() {
  for (unsigned n = 1; n < threads_; n++) {
    try {
      workers_.emplace_back([this] { WorkerLoop(); });
    } catch (const std::exception&) {
      return;  // fewer threads: the same pieces, the same bytes
    }
  }
}

void PieceRun::AwaitHead(std::unique_lock<std::mutex>& lock) {
  Piece* head = queue_.front().get();
  while (!head->done) {
    if (Piece* piece = NextWaiting()) {
      piece->taken = true;
      lock.unlock();
      Compress(piece, own_);
      lock.lock();
      piece->done = true;
      continue;
    }
    finished_.wait(lock);
  }
}

ArchiveResult PieceRun::Run(uint16_t* general_flags, const PieceSinkWrite& write) {
  ahead_ = ReadBytes();
  StartWorkers();
  for (;;) {
    FillQueue();
    std::unique_lock<std::mutex> lock(mutex_);
    if (queue_.empty()) return ResultOk;
    AwaitHead(lock);
    std::unique_ptr<Piece> head = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    if (head->failed) return ErrCompressor;
    if (general_flags != nullptr) *general_flags |= head->flags;
    if (!write(head->output.data(), head->output.size())) return ErrSizeMismatch;
  }
}

}  // namespace

ArchiveResult DeflateInPieces(Deflater* own, unsigned threads, int level, uint16_t* general_flags,
                              const PieceSourceRead& read, const PieceSinkWrite& write) {
  try {
    PieceRun run(own, threads, level, read);
    return run.Run(general_flags, write);
  } catch (const std::exception&) {
    return ErrCompressor;  // no memory for a piece's buffers
  }
}

}  // namespace postrunner
