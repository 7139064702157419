// Windows implementation of platform/proxy.h: WinHTTP's default proxy
// configuration. winhttp.dll is loaded at run time from the system
// directory only (no planted copy is picked up; the module's static
// imports stay as they are), once, and stays loaded.
#include "platform/proxy.h"

#include <windows.h>
#include <winhttp.h>

namespace hv::platform {
namespace {

struct WinHttp {
  decltype(&WinHttpGetDefaultProxyConfiguration) get = nullptr;
  decltype(&WinHttpSetDefaultProxyConfiguration) set = nullptr;

  WinHttp() {
    HMODULE library = LoadLibraryExW(L"winhttp.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (library == nullptr) return;
    get = reinterpret_cast<decltype(get)>(
        reinterpret_cast<void*>(GetProcAddress(library, "WinHttpGetDefaultProxyConfiguration")));
    set = reinterpret_cast<decltype(set)>(
        reinterpret_cast<void*>(GetProcAddress(library, "WinHttpSetDefaultProxyConfiguration")));
  }
};

const WinHttp& Api() {
  static const WinHttp api;
  return api;
}

// Takes a string the call allocated, and frees it.
WString Take(LPWSTR text) {
  if (text == nullptr) return WString();
  WString value(reinterpret_cast<const WChar*>(text));
  GlobalFree(text);
  return value;
}

}  // namespace

bool ReadSystemProxy(bool tls, SystemProxySource* source) {
  (void)tls;  // the list names the proxy of each scheme itself
  *source = SystemProxySource();
  source->kind = SystemProxySource::Kind::kWinHttp;
  if (Api().get == nullptr) return false;
  WINHTTP_PROXY_INFO info{};
  if (!Api().get(&info)) return false;
  // Both strings are the caller's to free, whatever the access type.
  WString list = Take(info.lpszProxy), bypass = Take(info.lpszProxyBypass);
  if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY) {
    source->proxy_list = list;
    source->bypass_list = bypass;
  }
  return true;
}

bool SetSystemProxyForTest(const WString& proxy_list, const WString& bypass_list) {
  if (Api().set == nullptr) return false;
  WString list = proxy_list, bypass = bypass_list;
  WINHTTP_PROXY_INFO info{};
  info.dwAccessType = list.empty() ? WINHTTP_ACCESS_TYPE_NO_PROXY : WINHTTP_ACCESS_TYPE_NAMED_PROXY;
  info.lpszProxy = list.empty() ? nullptr : reinterpret_cast<LPWSTR>(&list[0]);
  info.lpszProxyBypass = bypass.empty() ? nullptr : reinterpret_cast<LPWSTR>(&bypass[0]);
  return Api().set(&info) != FALSE;
}

}  // namespace hv::platform
