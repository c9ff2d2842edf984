// The number of compressing threads of a folder archive: the value of the
// /Threads: option, or one per online CPU when it is absent.
#ifndef POSTRUNNER_DRIVER_THREAD_COUNT_H_
#define POSTRUNNER_DRIVER_THREAD_COUNT_H_

#include <string_view>

namespace postrunner {

// The most threads /Threads: accepts.
inline constexpr unsigned kMaxThreads = 256;

// Reads `text`, a whole number of decimal digits from 1 to kMaxThreads (no
// sign, no blanks), and stores it. Returns false, leaving `*threads` alone,
// for anything else.
bool ParseThreadCount(std::string_view text, unsigned* threads);

// One thread per online CPU, at least 1 (also where the count is unknown).
unsigned DefaultThreadCount();

}  // namespace postrunner

#endif  // POSTRUNNER_DRIVER_THREAD_COUNT_H_
