// POSIX implementation of platform/library.h.
#include "platform/library.h"

#include <dlfcn.h>

#include "base/utf.h"

namespace hv::platform {

LibraryHandle FindLoadedLibrary(const WString& name) {
  // RTLD_NOLOAD only finds a library that is loaded already; the reference
  // it adds is given back at once, so the handle stays borrowed.
  void* handle = dlopen(WideToUtf8(name).c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle != nullptr) dlclose(handle);
  return handle;
}

Symbol FindSymbol(LibraryHandle library, const char* name) {
  if (library == nullptr) return nullptr;
  return reinterpret_cast<Symbol>(dlsym(library, name));
}

LoadedLibrary::~LoadedLibrary() { Unload(); }

bool LoadedLibrary::Load(const WString& path, std::string* error) {
  Unload();
  handle_ = dlopen(WideToUtf8(path).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* message = dlerror();
    *error = message != nullptr ? message : "cannot load the library";
    return false;
  }
  return true;
}

bool LoadedLibrary::Unload() {
  if (handle_ == nullptr) return true;
  bool ok = dlclose(handle_) == 0;
  handle_ = nullptr;
  return ok;
}

}  // namespace hv::platform
