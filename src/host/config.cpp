#include "host/config.h"

#include <vector>

#include "base/ascii.h"
#include "base/host_text.h"
#include "platform/host_folders.h"
#include "platform/path.h"
#include "platform/system.h"

namespace hv {
namespace {

const WChar kSection[] = HV_W("SPCfg");
const WChar kFileName[] = HV_W("vexcomm.dat");

}  // namespace

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

std::vector<WString> ConfigFiles() {
  // A host that names the settings' folder (a Linux package: /etc/hvverifysp)
  // is the one place read.
  WString named = platform::NamedHostFolder(platform::HostFolder::kConfig);
  if (!named.empty()) return {named + kFileName};
  std::vector<WString> files;
  for (platform::ModuleHandle module : {platform::ModuleHandle{nullptr}, platform::ThisModule()}) {
    WString name;
    if (!platform::ModuleFilePath(module, &name)) name.clear();
    files.push_back(ConfigPathBeside(name));
  }
  return files;
}

int32_t ConfiguredValue(const WChar* key, WString* value) {
  return ConfiguredValueIn(ConfigFiles(), key, value);
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
  if (ConfiguredValue(HV_W("VerifyCertSha256"), &settings.cert_sha256) != 0) {
    settings.cert_sha256.clear();
  }
  if (ConfiguredValue(HV_W("VerifyProxy"), &settings.proxy) != 0) settings.proxy.clear();
  if (ConfiguredValue(HV_W("VerifyProxyBypass"), &settings.proxy_bypass) != 0) settings.proxy_bypass.clear();
  return settings;
}

// Read at first use, which the module's load makes the first call.
const HostSettings& HostConfig() {
  static const HostSettings settings = LoadHostSettings();
  return settings;
}

namespace {

// 1 to 65535 in decimal digits only.
bool IsPort(WStringView text) {
  uint32_t value = 0;
  return ParseStrictDecimal<uint32_t>(text, 65535, &value) && value >= 1;
}

}  // namespace

namespace {

// The length of a leading "http://" or "https://" (either case), or 0.
size_t SchemeLength(WStringView value) {
  for (WStringView scheme : {WStringView(HV_W("http://")), WStringView(HV_W("https://"))}) {
    if (value.size() >= scheme.size() && EqualsIgnoreCase(value.substr(0, scheme.size()), scheme)) {
      return scheme.size();
    }
  }
  return 0;
}

}  // namespace

bool IsTlsEndpoint(WStringView value) { return SchemeLength(value) == 8; }

WStringView EndpointHostPort(WStringView value) { return value.substr(SchemeLength(value)); }

bool ParseCertPin(WStringView text, CertPin* pin) {
  if (text.size() != 64) return false;
  for (size_t i = 0; i < 32; ++i) {
    int high = HexDigitValue(text[2 * i]), low = HexDigitValue(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    (*pin)[i] = static_cast<unsigned char>(high * 16 + low);
  }
  return true;
}

bool ParseCertPins(WStringView text, std::vector<CertPin>* pins) {
  pins->clear();
  for (;;) {
    size_t comma = text.find(',');
    WStringView entry = text.substr(0, comma);
    while (!entry.empty() && (entry.front() == ' ' || entry.front() == '\t')) entry.remove_prefix(1);
    while (!entry.empty() && (entry.back() == ' ' || entry.back() == '\t')) entry.remove_suffix(1);
    CertPin pin;
    if (pins->size() == kMaxCertPins || !ParseCertPin(entry, &pin)) return false;
    pins->push_back(pin);
    if (comma == WStringView::npos) return true;
    text.remove_prefix(comma + 1);
  }
}

bool IsValidEndpoint(WStringView value) {
  value = EndpointHostPort(value);
  // The host is a name or a bracketed IPv6 address, checked by the same
  // rule as every URL's host.
  size_t host_end = !value.empty() && value.front() == '[' ? value.find(']') : value.find(':');
  if (host_end != WStringView::npos && value.front() == '[') ++host_end;
  if (!IsHostText(value.substr(0, host_end))) return false;
  WStringView rest = host_end == WStringView::npos ? WStringView() : value.substr(host_end);
  if (rest.empty()) return true;
  return rest.front() == ':' && IsPort(rest.substr(1));
}

}  // namespace hv
