#include "deflate/key_inserter.h"

#include <algorithm>
#include <system_error>

#include "deflate/matcher.h"

namespace postrunner {
namespace deflate {
namespace {

// Positions inserted between two publications of progress: few enough that
// the search rarely waits, many enough that publishing costs little.
constexpr unsigned kBatch = 512;

}  // namespace

KeyInserter::KeyInserter(Matcher* m, bool threaded) : m_(m), ready_(m->key_next) {
  if (!threaded) return;
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    // No second thread: the calls below do the work themselves.
  }
}

KeyInserter::~KeyInserter() {
  if (!threaded()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void KeyInserter::DataAvailable(unsigned limit) {
  if (!threaded()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    limit_ = limit;
  }
  wake_.notify_one();
}

void KeyInserter::BeforeSlide(unsigned strstart, unsigned keys_final) {
  if (!threaded()) {
    m_->InsertKeys(m_->key_next, std::min(strstart, keys_final));
    m_->key_next = std::max(m_->key_next, std::min(strstart, keys_final));
    return;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  slide_ = true;
  wake_.notify_one();
  parked_.wait(lock, [this] { return is_parked_; });
  // Nothing is readable until the chains have moved too.
  ready_.store(0, std::memory_order_relaxed);
}

void KeyInserter::AfterSlide() {
  if (!threaded()) {
    m_->SlideKeys();
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    slide_ = false;
    limit_ = 0;
  }
  wake_.notify_one();
}

void KeyInserter::WaitFor(unsigned end) {
  if (!threaded()) {
    if (end > m_->key_next) {
      m_->InsertKeys(m_->key_next, end);
      m_->key_next = end;
    }
    return;
  }
  for (unsigned ready = ready_.load(std::memory_order_acquire); ready < end;
       ready = ready_.load(std::memory_order_acquire)) {
    ready_.wait(ready, std::memory_order_acquire);
  }
}

void KeyInserter::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || slide_ || limit_ > m_->key_next; });
    if (stop_) return;
    if (limit_ > m_->key_next) {
      // Insert what is available; the matcher may publish more meanwhile.
      unsigned end = limit_;
      lock.unlock();
      for (unsigned s = m_->key_next; s < end;) {
        unsigned batch_end = std::min(end, s + kBatch);
        m_->InsertKeys(s, batch_end);
        s = batch_end;
        m_->key_next = s;
        ready_.store(s, std::memory_order_release);
        ready_.notify_one();
      }
      lock.lock();
      continue;
    }
    // Caught up with a slide pending: park until the window has moved.
    is_parked_ = true;
    parked_.notify_one();
    wake_.wait(lock, [this] { return stop_ || !slide_; });
    is_parked_ = false;
    if (stop_) return;
    lock.unlock();
    m_->SlideKeys();
    ready_.store(m_->key_next, std::memory_order_release);
    ready_.notify_one();
    lock.lock();
  }
}

}  // namespace deflate
}  // namespace postrunner
