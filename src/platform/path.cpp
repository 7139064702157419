// The portable part of platform/path.h, built on the module and system
// calls of each platform.
#include "platform/path.h"

#include <vector>

#include "platform/system.h"

namespace hv::platform {

bool GrowingModuleFilePath(const std::function<uint32_t(WChar* buffer, uint32_t capacity)>& query,
                           WString* path) {
  for (uint32_t size = 256; size <= 32768; size *= 2) {
    std::vector<WChar> buffer(size);
    uint32_t capacity = size - 1;
    uint32_t n = query(buffer.data(), capacity);
    if (n == 0) return false;
    if (n < capacity) {
      path->assign(buffer.data(), n);
      return true;
    }
  }
  return false;
}

bool ModuleFilePath(ModuleHandle module, WString* path) {
  return GrowingModuleFilePath(
      [module](WChar* buffer, uint32_t capacity) {
        return QueryModuleFileName(module, buffer, capacity);
      },
      path);
}

WString ModuleDirectory(ModuleHandle module) {
  WString file;
  if (!ModuleFilePath(module, &file)) return WString();
  size_t cut = file.find_last_of(PathSeparator());
  return cut == WString::npos ? WString() : file.substr(0, cut + 1);
}

WString ExecutableDirectory() { return ModuleDirectory(nullptr); }

WString LibraryFileName(const WString& stem) {
  return PathSeparator() == '/' ? HV_W("lib") + stem + HV_W(".so") : stem + HV_W(".dll");
}

}  // namespace hv::platform
