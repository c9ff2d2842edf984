// Keeping a secret (a password, a token, a passphrase) in the process's
// memory no longer than it is needed and out of reach of other processes.
//
// Once the process holds a secret it is made non-dumpable: no core file is
// written when it crashes or gets SIGQUIT, and other processes of the same
// user can no longer read its memory, environment or descriptors through
// /proc or attach to it. Buffers that held a secret are wiped before their
// memory goes back to the allocator.
#ifndef POSTRUNNER_PLATFORM_SECRET_MEMORY_H_
#define POSTRUNNER_PLATFORM_SECRET_MEMORY_H_

#include <cstddef>
#include <string>

namespace postrunner {

// Makes the process non-dumpable for the rest of the run. Returns false,
// errno set, when the system refuses.
[[nodiscard]] bool ProtectSecretMemory();

// Overwrites `size` bytes at `data` with zeros; never left out by the
// optimiser.
void WipeBytes(void* data, size_t size);

// Overwrites every byte `*text` has allocated (its capacity, not only its
// size) with zeros and leaves it empty.
void WipeSecret(std::string* text);

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_SECRET_MEMORY_H_
