#include "platform/shared_library.h"

#include <dlfcn.h>

namespace postrunner {

void SharedLibraryCloser::operator()(void* library) const { ::dlclose(library); }

SharedLibrary LoadSharedLibrary(const char* name) {
  return SharedLibrary(::dlopen(name, RTLD_NOW | RTLD_LOCAL));
}

void* FindSymbol(void* library, const char* name) { return ::dlsym(library, name); }

}  // namespace postrunner
