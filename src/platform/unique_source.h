// What makes a name or an id unique to one run: the process id, which no two
// running processes share, and random numbers from the kernel, which tell
// apart runs that reuse a process id later.
#ifndef POSTRUNNER_PLATFORM_UNIQUE_SOURCE_H_
#define POSTRUNNER_PLATFORM_UNIQUE_SOURCE_H_

#include <cstdint>

namespace postrunner {

// The id of this process.
[[nodiscard]] long CurrentProcessId();

// Fills `*number` with 64 random bits from the kernel's generator. Returns
// false, leaving `*number` alone, when the generator is not available.
[[nodiscard]] bool RandomNumber(uint64_t* number);

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_UNIQUE_SOURCE_H_
