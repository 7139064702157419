// Windows implementation of platform/library.h.
#include "platform/library.h"

#include <windows.h>

#include <string>

namespace hv::platform {

LibraryHandle FindLoadedLibrary(const WString& name) {
  return GetModuleHandleW(name.c_str());
}

Symbol FindSymbol(LibraryHandle library, const char* name) {
  if (library == nullptr) return nullptr;
  return reinterpret_cast<Symbol>(GetProcAddress(static_cast<HMODULE>(library), name));
}

LoadedLibrary::~LoadedLibrary() { Unload(); }

bool LoadedLibrary::Load(const WString& path, std::string* error) {
  Unload();
  handle_ = LoadLibraryW(path.c_str());
  if (handle_ == nullptr) {
    *error = "LoadLibrary failed with error " + std::to_string(GetLastError());
    return false;
  }
  return true;
}

bool LoadedLibrary::Unload() {
  if (handle_ == nullptr) return true;
  bool ok = FreeLibrary(static_cast<HMODULE>(handle_)) != 0;
  handle_ = nullptr;
  return ok;
}

}  // namespace hv::platform
