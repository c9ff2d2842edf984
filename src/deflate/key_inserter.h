// Keeps the matcher's keyed chains on a second thread. The keyed chains
// depend only on the input, never on the matches chosen, so a thread of
// their own can insert positions as soon as their key bytes are read, ahead
// of the search, which then only waits when it catches up. Positions are
// inserted in order; a chain entry, once written, is not written again
// until the window slides, and the search follows chains only from positions
// it has reached, so it never meets a position ahead of it.
//
// Protocol with the matcher's thread: DataAvailable after each read,
// BeforeSlide and AfterSlide around moving the window, WaitFor before a
// keyed walk. When no second thread can run, the same calls do the work on
// the caller's thread, with the same chains as a result.
#ifndef POSTRUNNER_DEFLATE_KEY_INSERTER_H_
#define POSTRUNNER_DEFLATE_KEY_INSERTER_H_

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace postrunner {
namespace deflate {

struct Matcher;

class KeyInserter {
 public:
  // Works on `m`'s keyed chains, going on from m->key_next; the caller must
  // not touch them or key_next itself while this object lives. Starts the
  // thread when `threaded` and one can be started.
  KeyInserter(Matcher* m, bool threaded);
  KeyInserter(const KeyInserter&) = delete;
  KeyInserter& operator=(const KeyInserter&) = delete;
  // Stops and joins the thread.
  ~KeyInserter();

  // Positions below `limit` now have their key bytes final (read from the
  // input, or past its end for good); the window below limit + 16 does not
  // change until the next slide.
  void DataAvailable(unsigned limit);

  // The window is about to move down by 32768 bytes: returns once every
  // position available so far is inserted and the thread has stopped
  // touching the window. `keys_final` is the matcher's current limit (used
  // when there is no thread) and `strstart` the position reached.
  void BeforeSlide(unsigned strstart, unsigned keys_final);
  // The window has moved: the chains follow it, and insertion goes on.
  void AfterSlide();

  // Returns once every position below `end` is in the keyed chains.
  void WaitFor(unsigned end);

  bool threaded() const { return thread_.joinable(); }

 private:
  void Run();

  Matcher* m_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;    // the thread waits for data, a slide or stop
  std::condition_variable parked_;  // the matcher waits for the thread to park
  unsigned limit_ = 0;              // guarded by mutex_
  bool slide_ = false;              // a slide is pending (guarded)
  bool is_parked_ = false;          // guarded
  bool stop_ = false;               // guarded
  std::atomic<unsigned> ready_;     // positions below it are inserted
};

}  // namespace deflate
}  // namespace postrunner

#endif  // POSTRUNNER_DEFLATE_KEY_INSERTER_H_
