// The host configuration lookup: values from section "SPCfg" of
// "vexcomm.dat", beside the host executable first and beside this module
// second, read once while the module loads; or, when the host names the
// settings' folder (platform/host_folders.h), from that folder's alone.
//
// Results follow the host's conventions: 0 for success, 0x80004005 for a
// value that no file holds. Thread-safety: the lookups may run on any
// thread; HostConfig() is computed once at load and only read afterwards.
#ifndef HV_HOST_CONFIG_H_
#define HV_HOST_CONFIG_H_

#include <array>
#include <cstdint>
#include <vector>

#include "base/wide.h"
#include "platform/module.h"

namespace hv {

constexpr int32_t kConfigNotFound = static_cast<int32_t>(0x80004005);

// "vexcomm.dat" in the directory of `module_file` (a separator is added
// even when the directory already ends in one; an empty name gives the
// separator and the file name alone).
WString ConfigPathBeside(const WString& module_file);

// Looks `key` up in section "SPCfg" of each file in turn; the first file
// with a non-empty value wins. A null key fails.
int32_t ConfiguredValueIn(const std::vector<WString>& files, const WChar* key, WString* value);

// The files read, in order: the host's named folder's, or the host
// executable's and this module's.
std::vector<WString> ConfigFiles();
// The same over those files.
int32_t ConfiguredValue(const WChar* key, WString* value);
// The configured value, or the key itself when there is none.
WString NamedValue(const WChar* key);

// True when `value` is a host name, an IPv4 address or a bracketed IPv6
// literal, optionally followed by ":" and a port from 1 to 65535, and
// nothing else: no path, query, fragment, user information, blank or
// control character. It may begin with "http://" or "https://" (either
// case). The endpoint setting is refused otherwise.
bool IsValidEndpoint(WStringView value);

// True when the endpoint setting asks for TLS (begins with "https://").
bool IsTlsEndpoint(WStringView value);
// The setting without its scheme.
WStringView EndpointHostPort(WStringView value);

// A certificate pin: 64 hexadecimal digits (either case), the SHA-256 of
// the server certificate's DER encoding, into `pin`. False otherwise.
using CertPin = std::array<unsigned char, 32>;
bool ParseCertPin(WStringView text, CertPin* pin);

// The pin setting: one pin, or two separated by a comma (blanks around a
// pin are allowed), so that a deployment can roll its certificate over
// without a window of failures: either certificate is accepted. False for
// anything else (an empty entry, a third pin, a malformed one).
constexpr size_t kMaxCertPins = 2;
bool ParseCertPins(WStringView text, std::vector<CertPin>* pins);

// What the module takes from the configuration, computed once.
struct HostSettings {
  WString interface_name;  // key "IHvVerify"; default "IHvVerify"
  WString verify_host;     // key "VerifyHost"; default "127.0.0.1"
  WString cert_sha256;     // key "VerifyCertSha256"; default none
  WString proxy;           // key "VerifyProxy"; default none (direct)
  WString proxy_bypass;    // key "VerifyProxyBypass"; default none
};

HostSettings LoadHostSettings();

// The settings, read once: the module reads them while it loads; other
// programs (tools, tests) at their first call.
const HostSettings& HostConfig();

}  // namespace hv

#endif  // HV_HOST_CONFIG_H_
