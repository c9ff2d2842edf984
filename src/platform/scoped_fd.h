// ScopedFd owns one POSIX file descriptor and closes it when it goes out of
// scope. -1 means "no descriptor" (never 0, which is a valid descriptor).
// Copying is disabled; ownership moves with std::move or Release().
#ifndef POSTRUNNER_PLATFORM_SCOPED_FD_H_
#define POSTRUNNER_PLATFORM_SCOPED_FD_H_

namespace postrunner {

class ScopedFd {
 public:
  ScopedFd() = default;
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd() { (void)Reset(); }  // a destructor cannot report a failed close

  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  ScopedFd(ScopedFd&& other) noexcept : fd_(other.Release()) {}
  ScopedFd& operator=(ScopedFd&& other) noexcept {
    if (this != &other) (void)Reset(other.Release());  // as the destructor
    return *this;
  }

  // Returns the descriptor, -1 when none is held.
  [[nodiscard]] int get() const { return fd_; }
  [[nodiscard]] bool valid() const { return fd_ >= 0; }

  // Gives up ownership and returns the descriptor without closing it.
  [[nodiscard]] int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

  // Closes the held descriptor (if any) and takes `fd`. Returns false when
  // closing the old descriptor reported an error.
  [[nodiscard]] bool Reset(int fd = -1);

 private:
  int fd_ = -1;
};

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_SCOPED_FD_H_
