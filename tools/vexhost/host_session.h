// One run of a service host: the base library and the module loaded, the
// service object created and started, and the reverse on destruction
// (Stop, Uninitialize, Release, the unload check, unload).
#ifndef HV_TOOLS_VEXHOST_HOST_SESSION_H_
#define HV_TOOLS_VEXHOST_HOST_SESSION_H_

#include <string>
#include <vector>

#include "base/wide.h"
#include "hv/vex_host.h"
#include "platform/library.h"

namespace hv::host {

// Exit codes of vexhost, one per kind of failure.
enum ExitCode {
  kExitOk = 0,
  kExitFailed = 1,       // the request or verification did not succeed
  kExitUsage = 2,
  kExitNoModule = 3,     // module or base library missing or not loadable
  kExitNoExports = 4,    // the module lacks an export
  kExitNotStarted = 5,   // creation, Initialize or Start refused
};

class HostSession {
 public:
  ~HostSession();

  // Loads the base library beside this program and the module at
  // `module_path`. On failure returns the exit code and sets `*error`.
  int Load(const WString& module_path, std::string* error);
  // Lists the module's classes (HvDllGetClassCount, HvDllGetClassInfo).
  std::vector<HvClassInfo> Classes() const;
  // Creates the service object, initialises and starts it.
  int Start(std::string* error);
  // The interface name the service registered with the base library (its
  // method paths begin with it); false when none is registered.
  bool RegisteredName(std::string* name) const;
  // Routes one request through the base library, as the host does.
  HvResult Request(const std::string& method, const std::string& document, std::string* reply);
  // Stops and releases the service, then unloads the module when it says it
  // may; true when it did (false: the module stays loaded).
  bool Finish();

 private:
  platform::LoadedLibrary base_, module_;
  HvDllGetClassCountFn get_count_ = nullptr;
  HvDllGetClassInfoFn get_info_ = nullptr;
  HvDllGetClassObjectFn get_object_ = nullptr;
  HvDllCanUnloadNowFn can_unload_ = nullptr;
  VexBaseRouteRequestFn route_ = nullptr;
  VexBaseRegisteredNameFn registered_name_ = nullptr;
  IVexServiceProvider* service_ = nullptr;
  bool initialized_ = false;  // Initialize answered 0
  bool started_ = false;
};

}  // namespace hv::host

#endif  // HV_TOOLS_VEXHOST_HOST_SESSION_H_
