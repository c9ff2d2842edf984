// Shared libraries loaded at run time, so that a run pays for a library
// (its mapping, its start-up, its memory) only when it needs it: libcurl
// for uploads, libssl for TLS mail. The handle is owned by a unique_ptr
// that unloads the library when it goes; LibraryApi pairs it with the table
// of functions taken from it.
#ifndef POSTRUNNER_PLATFORM_SHARED_LIBRARY_H_
#define POSTRUNNER_PLATFORM_SHARED_LIBRARY_H_

#include <memory>

namespace postrunner {

struct SharedLibraryCloser {
  void operator()(void* library) const;
};

// An open shared library; empty when loading failed.
using SharedLibrary = std::unique_ptr<void, SharedLibraryCloser>;

// Loads the library `name` with every symbol bound at once and kept local.
// Returns an empty handle when it cannot be loaded.
[[nodiscard]] SharedLibrary LoadSharedLibrary(const char* name);

// The address of the symbol `name` in `library`, or nullptr.
void* FindSymbol(void* library, const char* name);

// Looks `name` up in `library` and stores it in `*slot` as a function
// pointer. Returns false (storing nullptr) when the symbol is missing.
template <typename Function>
[[nodiscard]] bool Resolve(void* library, const char* name, Function* slot) {
  void* symbol = FindSymbol(library, name);
  *slot = reinterpret_cast<Function>(symbol);
  return symbol != nullptr;
}

// A library loaded for the functions the program calls in it, held in `Api`
// (a struct of function pointers): `resolve` fills the table from the
// loaded library and returns false when a function it needs is missing.
// Usable when the library loaded and `resolve` succeeded; the library stays
// loaded while this object lives.
template <typename Api>
class LibraryApi {
 public:
  LibraryApi(const char* name, bool (*resolve)(void* library, Api* api))
      : library_(LoadSharedLibrary(name)) {
    ready_ = library_ && resolve(library_.get(), &api_);
  }
  LibraryApi(const LibraryApi&) = delete;
  LibraryApi& operator=(const LibraryApi&) = delete;

  bool ready() const { return ready_; }
  const Api& api() const { return api_; }

 private:
  SharedLibrary library_;
  Api api_{};
  bool ready_ = false;
};

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_SHARED_LIBRARY_H_
