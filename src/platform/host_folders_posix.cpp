// POSIX implementation of platform/host_folders.h.
#include "platform/host_folders.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "base/utf.h"

namespace hv::platform {
namespace {

const char* VariableOf(HostFolder which) {
  return which == HostFolder::kConfig ? "HVVERIFYSP_CONFIG_DIR" : "HVVERIFYSP_LOG_DIR";
}

std::string WithSeparator(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

}  // namespace

WString NamedHostFolder(HostFolder which) {
  // secure_getenv: a set-user-ID host's caller does not choose where it writes.
  const char* value = secure_getenv(VariableOf(which));
  if (value == nullptr || *value == '\0') return WString();
  return Utf8ToWide(WithSeparator(value));
}

bool NameHostFolder(HostFolder which, const WString& dir) {
  return setenv(VariableOf(which), WideToUtf8(dir).c_str(), 1) == 0;
}

WString UserStateFolder(const WString& name) {
  const char* state = std::getenv("XDG_STATE_HOME");
  std::string base;
  if (state != nullptr && state[0] == '/') {
    base = state;
  } else {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') return WString();
    base = WithSeparator(home) + ".local/state";
  }
  return Utf8ToWide(WithSeparator(WithSeparator(base) + WideToUtf8(name)));
}

bool MakeFolders(const WString& dir) {
  std::string path = WideToUtf8(dir);
  for (size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
    std::string part = path.substr(0, at);
    if (!part.empty() && mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (at == std::string::npos) break;
  }
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool FolderWritable(const WString& dir) {
  std::string path = WideToUtf8(dir);
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
         access(path.c_str(), W_OK | X_OK) == 0;
}

}  // namespace hv::platform
