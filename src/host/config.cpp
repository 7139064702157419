#include "host/config.h"

#include <vector>

#include "platform/system.h"

namespace hv {
namespace {

const WChar kSection[] = HV_W("SPCfg");
const WChar kFileName[] = HV_W("vexcomm.dat");

}  // namespace

int32_t GrowingModuleFileName(
    const std::function<uint32_t(WChar* buffer, uint32_t capacity)>& query, WString* path) {
  for (uint32_t size = 256; size <= 32768; size *= 2) {
    std::vector<WChar> buffer(size);
    uint32_t capacity = size - 1;
    uint32_t n = query(buffer.data(), capacity);
    if (n == 0) return kConfigNotFound;
    if (n < capacity) {
      path->assign(buffer.data(), n);
      return 0;
    }
  }
  return kConfigNotFound;
}

int32_t ModuleFileName(platform::ModuleHandle module, WString* path) {
  return GrowingModuleFileName(
      [module](WChar* buffer, uint32_t capacity) {
        return platform::QueryModuleFileName(module, buffer, capacity);
      },
      path);
}

WString ConfigPathBeside(const WString& module_file) {
  return platform::RemoveFileSpec(module_file) + platform::PathSeparator() + kFileName;
}

int32_t ConfiguredValueIn(const std::vector<WString>& files, const WChar* key, WString* value) {
  if (key == nullptr) return kConfigNotFound;
  for (const WString& file : files) {
    if (platform::ReadProfileString(file, kSection, key, value)) return 0;
  }
  return kConfigNotFound;
}

int32_t ConfiguredValue(const WChar* key, WString* value) {
  std::vector<WString> files;
  for (platform::ModuleHandle module : {platform::ModuleHandle{nullptr}, platform::ThisModule()}) {
    WString name;
    if (ModuleFileName(module, &name) != 0) name.clear();
    files.push_back(ConfigPathBeside(name));
  }
  return ConfiguredValueIn(files, key, value);
}

WString NamedValue(const WChar* key) {
  WString value;
  return ConfiguredValue(key, &value) == 0 ? value : WString(key);
}

HostSettings LoadHostSettings() {
  HostSettings settings;
  settings.interface_name = NamedValue(HV_W("IHvVerify"));
  if (ConfiguredValue(HV_W("VerifyHost"), &settings.verify_host) != 0) {
    // Credentials never go to a machine that nobody configured.
    settings.verify_host = HV_W("127.0.0.1");
  }
  return settings;
}

namespace {

bool IsHostNameChar(WChar c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_';
}

bool IsIpv6LiteralChar(WChar c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' ||
         c == '.';
}

// 1 to 65535 in decimal digits only.
bool IsPort(WStringView text) {
  if (text.empty() || text.size() > 5) return false;
  uint32_t value = 0;
  for (WChar c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  return value >= 1 && value <= 65535;
}

}  // namespace

bool IsValidEndpoint(WStringView value) {
  WStringView rest;
  if (!value.empty() && value.front() == '[') {
    size_t close = value.find(']');
    if (close == WStringView::npos || close == 1) return false;
    WStringView literal = value.substr(1, close - 1);
    for (WChar c : literal) {
      if (!IsIpv6LiteralChar(c)) return false;
    }
    if (literal.find(':') == WStringView::npos) return false;
    rest = value.substr(close + 1);
  } else {
    size_t colon = value.find(':');
    WStringView host = value.substr(0, colon);
    if (host.empty()) return false;
    for (WChar c : host) {
      if (!IsHostNameChar(c)) return false;
    }
    rest = colon == WStringView::npos ? WStringView() : value.substr(colon);
  }
  if (rest.empty()) return true;
  return rest.front() == ':' && IsPort(rest.substr(1));
}

}  // namespace hv
