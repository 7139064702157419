// POSIX implementation of platform/module.h. The profile reader follows
// the Windows rules through the portable INI parser.
#include "platform/module.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

#include "base/ini.h"
#include "base/utf.h"

// The C++ runtime's exit registry, and this shared object's handle in it
// (each shared object, and the executable, has its own).
extern "C" int __cxa_atexit(void (*fn)(void*), void* arg, void* dso);
extern "C" char __dso_handle __attribute__((visibility("hidden")));

namespace hv::platform {
namespace {

void CallAtExit(void* fn) { reinterpret_cast<void (*)()>(fn)(); }

// Configuration files are small; a larger file is read only this far.
constexpr size_t kMaxProfileBytes = 1 << 20;

bool ModulePath(ModuleHandle module, std::string* path) {
  if (module == nullptr) {
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (n <= 0) return false;
    path->assign(buffer, static_cast<size_t>(n));
    return true;
  }
  Dl_info info{};
  if (dladdr(module, &info) == 0 || info.dli_fname == nullptr) return false;
  char resolved[PATH_MAX];
  *path = realpath(info.dli_fname, resolved) != nullptr ? resolved : info.dli_fname;
  return true;
}

}  // namespace

ModuleHandle ThisModule() { return reinterpret_cast<ModuleHandle>(&ThisModule); }

// The C and C++ runtimes and the thread library are the system's shared
// libraries here: an unload gives back everything the module took.
bool PinThisModule() { return true; }

// Not atexit: a sanitizer's runtime may take it over and bind the handler
// to the process, which runs it after dlclose has unmapped the module.
bool RunAtModuleExit(void (*fn)()) {
  return __cxa_atexit(&CallAtExit, reinterpret_cast<void*>(fn), &__dso_handle) == 0;
}

uint32_t QueryModuleFileName(ModuleHandle module, WChar* buffer, uint32_t capacity) {
  std::string path;
  if (capacity == 0 || !ModulePath(module, &path)) return 0;
  WString wide = Utf8ToWide(path);
  if (wide.size() >= capacity) {
    wide.copy(buffer, capacity);
    return capacity;
  }
  wide.copy(buffer, wide.size());
  buffer[wide.size()] = 0;
  return static_cast<uint32_t>(wide.size());
}

WString RemoveFileSpec(const WString& path) {
  size_t cut = path.rfind(u'/');
  if (cut == WString::npos) return WString();
  if (cut == 0) return WString(u"/");
  return path.substr(0, cut);
}

bool ReadProfileString(const WString& file, const WString& section, const WString& key,
                       WString* value) {
  std::ifstream in(WideToUtf8(file), std::ios::binary);
  if (!in) return false;
  std::string text;
  text.resize(kMaxProfileBytes);
  in.read(&text[0], static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  WString found;
  if (!FindIniValue(text, section, key, &found) || found.empty()) return false;
  *value = found.substr(0, 255);
  return true;
}

}  // namespace hv::platform
