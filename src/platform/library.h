// Dynamic libraries: finding one that is already loaded (never loading it),
// loading one by path, and looking exports up by name.
//
// Ownership: LoadedLibrary owns the reference it took and releases it on
// destruction; FindLoadedLibrary returns a borrowed handle and takes no
// reference. Thread-safety: all calls may run on any thread.
#ifndef HV_PLATFORM_LIBRARY_H_
#define HV_PLATFORM_LIBRARY_H_

#include <string>

#include "base/wide.h"

namespace hv::platform {

using LibraryHandle = void*;
using Symbol = void (*)();

// The handle of the library named `name` when it is loaded in the process,
// else null. The library is never loaded by this call.
LibraryHandle FindLoadedLibrary(const WString& name);

// The export `name` of `library`, or null.
Symbol FindSymbol(LibraryHandle library, const char* name);

class LoadedLibrary {
 public:
  LoadedLibrary() = default;
  ~LoadedLibrary();
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;

  // Loads the library at `path`. False with `*error` set on failure.
  bool Load(const WString& path, std::string* error);
  // Releases the reference; false when the system refused.
  bool Unload();
  // Gives the reference up without releasing it: the library stays loaded
  // for the rest of the process (a host that may not unload a module).
  void KeepLoaded() { handle_ = nullptr; }
  LibraryHandle handle() const { return handle_; }

 private:
  LibraryHandle handle_ = nullptr;
};

}  // namespace hv::platform

#endif  // HV_PLATFORM_LIBRARY_H_
