// One error boundary per module entry point: GuardEntry runs the entry's
// work and turns an exception thrown out of it (std::bad_alloc above all)
// into a reason on standard error and the entry's own failure result,
// so that no exception crosses into the caller and none reaches
// std::terminate.
#ifndef POSTRUNNER_PLATFORM_ENTRY_GUARD_H_
#define POSTRUNNER_PLATFORM_ENTRY_GUARD_H_

#include <exception>
#include <new>

namespace postrunner {

// Writes "postrunner: not enough memory to <what>" (when `detail` is null)
// or "postrunner: cannot <what>: <detail>" to standard error as one line,
// allocating nothing.
void PrintEntryFailure(const char* what, const char* detail) noexcept;

// Returns work(); when it throws, prints the reason for `what` (an action,
// e.g. "join the pieces") and returns fallback() instead.
template <typename Work, typename Fallback>
auto GuardEntry(const char* what, Work&& work, Fallback&& fallback) -> decltype(work()) {
  try {
    return work();
  } catch (const std::bad_alloc&) {
    PrintEntryFailure(what, nullptr);
  } catch (const std::exception& e) {
    PrintEntryFailure(what, e.what());
  } catch (...) {
    PrintEntryFailure(what, "an unexpected failure");
  }
  return fallback();
}

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_ENTRY_GUARD_H_
