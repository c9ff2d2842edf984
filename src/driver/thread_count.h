// The number of compressing threads of a folder archive: the value of the
// /Threads: option, or one per online CPU when it is absent, and never more
// than the online CPUs: threads beyond them only share the same CPUs, each
// with its own compressor state.
#ifndef POSTRUNNER_DRIVER_THREAD_COUNT_H_
#define POSTRUNNER_DRIVER_THREAD_COUNT_H_

#include <string_view>

namespace postrunner {

// The most threads /Threads: accepts.
inline constexpr unsigned kMaxThreads = 256;

// Reads `text`, a whole number of decimal digits from 1 to kMaxThreads (no
// sign, no blanks), and stores it. Returns false, leaving `*threads` alone,
// for anything else.
[[nodiscard]] bool ParseThreadCount(std::string_view text, unsigned* threads);

// The threads a folder archive may compress on: `requested` (0 = not set),
// at most one per online CPU; one per online CPU when not set; at least 1
// (also where the CPU count is unknown).
[[nodiscard]] unsigned CompressingThreads(unsigned requested);

}  // namespace postrunner

#endif  // POSTRUNNER_DRIVER_THREAD_COUNT_H_
