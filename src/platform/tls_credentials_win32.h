// The Schannel credentials handles the Windows build keeps for resumption
// (platform/tls.h): Schannel caches a client's sessions behind the
// credentials handle and the target name, so a connection that reuses
// both may resume. One handle per key, a few keys, each for a few minutes,
// the least recently used dropped first; a key's handle is dropped after a
// connection with it failed, so that Schannel's sessions behind it are not
// offered again. A handle is freed when the last connection using it ends.
// The store itself lives as long as the process (the module is pinned
// there, and secur32 may be gone before a destructor at exit would run).
//
// Internal to tls_win32.cpp. Thread-safe: one lock.
#ifndef HV_PLATFORM_TLS_CREDENTIALS_WIN32_H_
#define HV_PLATFORM_TLS_CREDENTIALS_WIN32_H_

#define SECURITY_WIN32
#include <winsock2.h>
#include <windows.h>
#include <security.h>
#include <sspi.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace hv::platform {

struct Credentials {
  using Release = void (*)(CredHandle*);
  CredHandle handle{};
  Release release = nullptr;
  Credentials() = default;
  Credentials(const Credentials&) = delete;
  Credentials& operator=(const Credentials&) = delete;
  ~Credentials() {
    if (release != nullptr) release(&handle);
  }
};
using SharedCredentials = std::shared_ptr<Credentials>;

// The handle kept for `key` (*reused true), else one `acquire` makes (0,
// or its error number returned), kept under `key` unless it is empty.
uint32_t TakeCredentials(const std::string& key, const std::function<uint32_t(CredHandle*)>& acquire,
                         Credentials::Release release, SharedCredentials* out, bool* reused);
// Drops `key`'s handle when it is still `which`.
void DropCredentials(const std::string& key, const Credentials* which);
void ForgetCredentials();
size_t CredentialsKept();

}  // namespace hv::platform

#endif  // HV_PLATFORM_TLS_CREDENTIALS_WIN32_H_
