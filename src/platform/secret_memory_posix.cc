#include "platform/secret_memory.h"

#include <string.h>
#include <sys/prctl.h>

namespace postrunner {

bool ProtectSecretMemory() { return ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0; }

void WipeBytes(void* data, size_t size) { ::explicit_bzero(data, size); }

void WipeSecret(std::string* text) {
  // Growing to the capacity never reallocates and makes the bytes past the
  // end, left over from a longer value, part of the string.
  text->resize(text->capacity());
  WipeBytes(text->data(), text->size());
  text->clear();
}

}  // namespace postrunner
