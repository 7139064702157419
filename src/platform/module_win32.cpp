// Windows implementation of platform/module.h.
#include "platform/module.h"

#include <windows.h>
#include <shlwapi.h>

#include <cstdlib>
#include <vector>

namespace hv::platform {

ModuleHandle ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

bool PinThisModule() {
  HMODULE module = nullptr;
  return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                            reinterpret_cast<LPCWSTR>(&PinThisModule), &module) != 0;
}

// A DLL's runtime keeps its own atexit table and runs it at the DLL's
// detach (or at process exit while it is still loaded).
bool RunAtModuleExit(void (*fn)()) { return std::atexit(fn) == 0; }

uint32_t QueryModuleFileName(ModuleHandle module, WChar* buffer, uint32_t capacity) {
  HMODULE handle = static_cast<HMODULE>(const_cast<void*>(module));
  return GetModuleFileNameW(handle, buffer, capacity);
}

WString RemoveFileSpec(const WString& path) {
  std::vector<wchar_t> buffer(path.begin(), path.end());
  buffer.push_back(L'\0');
  PathRemoveFileSpecW(buffer.data());
  return WString(buffer.data());
}

bool ReadProfileString(const WString& file, const WString& section, const WString& key,
                       WString* value) {
  wchar_t buffer[256];
  DWORD n = GetPrivateProfileStringW(section.c_str(), key.c_str(), L"", buffer, 256,
                                     file.c_str());
  if (n == 0) return false;
  value->assign(buffer, n);
  return true;
}

}  // namespace hv::platform
