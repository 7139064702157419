#include "host_session.h"

#include <cstring>

#include "platform/path.h"
#include "platform/system.h"

namespace hv::host {
namespace {

WString BesideThisProgram(const WString& file) { return platform::ExecutableDirectory() + file; }

class StringReply : public IVexResponse {
 public:
  explicit StringReply(std::string* text) : text_(text) {}
  HvResult HV_CALL SetResponse(const char* text, uint32_t length) override {
    text_->assign(text, length);
    return 0;
  }

 private:
  std::string* text_;
};

}  // namespace

HostSession::~HostSession() { Finish(); }

int HostSession::Load(const WString& module_path, std::string* error) {
  // Beside vexhost when it is there; else by name, which an installed
  // vexhost finds in its library folder.
  uint64_t size = 0;
  WString base = BesideThisProgram(VEX_BASE_LIBRARY_NAME);
  if (!platform::FileSize(base, &size)) base = VEX_BASE_LIBRARY_NAME;
  if (!base_.Load(base, error)) {
    *error = "cannot load the base library: " + *error;
    return kExitNoModule;
  }
  route_ = reinterpret_cast<VexBaseRouteRequestFn>(
      platform::FindSymbol(base_.handle(), "vex_base_route_request"));
  registered_name_ = reinterpret_cast<VexBaseRegisteredNameFn>(
      platform::FindSymbol(base_.handle(), "vex_base_registered_name"));
  if (!module_.Load(module_path, error)) {
    *error = "cannot load the module: " + *error;
    return kExitNoModule;
  }
  auto find = [this](const char* name) { return platform::FindSymbol(module_.handle(), name); };
  get_count_ = reinterpret_cast<HvDllGetClassCountFn>(find("HvDllGetClassCount"));
  get_info_ = reinterpret_cast<HvDllGetClassInfoFn>(find("HvDllGetClassInfo"));
  get_object_ = reinterpret_cast<HvDllGetClassObjectFn>(find("HvDllGetClassObject"));
  can_unload_ = reinterpret_cast<HvDllCanUnloadNowFn>(find("HvDllCanUnloadNow"));
  if (!route_ || !registered_name_) {
    *error = "the base library does not offer its host entry points";
    return kExitNoModule;
  }
  if (!get_count_ || !get_info_ || !get_object_ || !can_unload_) {
    *error = "the module does not export the four HvDll entry points";
    return kExitNoExports;
  }
  return kExitOk;
}

std::vector<HvClassInfo> HostSession::Classes() const {
  int32_t count = 0;
  if (get_count_(&count) != 0 || count <= 0 || count > 1024) return {};
  std::vector<HvClassInfo> infos(static_cast<size_t>(count));
  if (get_info_(infos.data(), count) != 0) return {};
  return infos;
}

// As a host does: the classes are listed first, and the listed service
// class is created.
int HostSession::Start(std::string* error) {
  const HvClassInfo* service_class = nullptr;
  std::vector<HvClassInfo> classes = Classes();
  for (const HvClassInfo& info : classes) {
    if (std::memcmp(&info.clsid, &CLSID_HvVerifyImpl, sizeof(HvGuid)) == 0) service_class = &info;
  }
  if (service_class == nullptr) {
    *error = "the module does not list the HvVerifyImpl class";
    return kExitNotStarted;
  }
  void* out = nullptr;
  HvResult rc = get_object_(&service_class->clsid, &IID_IVexServiceProvider, &out);
  if (rc != 0 || out == nullptr) {
    *error = "HvDllGetClassObject failed: " + std::to_string(rc);
    return kExitNotStarted;
  }
  service_ = static_cast<IVexServiceProvider*>(out);
  // Uninitialize answers only an Initialize that succeeded.
  if ((rc = service_->Initialize()) != 0) {
    *error = "the service did not initialise: " + std::to_string(rc);
    return kExitNotStarted;
  }
  initialized_ = true;
  if ((rc = service_->Start()) != 0) {
    *error = "the service did not start: " + std::to_string(rc);
    return kExitNotStarted;
  }
  started_ = true;
  return kExitOk;
}

bool HostSession::RegisteredName(std::string* name) const {
  HvUtf16 text[256];
  if (registered_name_(0, text, 256) != HV_S_OK) return false;
  name->clear();
  for (const HvUtf16* c = text; *c != 0; ++c) name->push_back(static_cast<char>(*c));
  return true;
}

HvResult HostSession::Request(const std::string& method, const std::string& document,
                              std::string* reply) {
  StringReply sink(reply);
  return route_(method.c_str(), document.c_str(), &sink, nullptr);
}

bool HostSession::Finish() {
  if (service_ != nullptr) {
    if (started_) service_->Stop();
    if (initialized_) service_->Uninitialize();
    service_->Release();
    service_ = nullptr;
    started_ = false;
    initialized_ = false;
  }
  if (module_.handle() == nullptr) return true;
  // Only an answer of 0 allows the unload; otherwise the module stays
  // loaded for the rest of the process, as it does when it cannot be asked
  // (a module without HvDllCanUnloadNow).
  bool may_unload = can_unload_ != nullptr && can_unload_() == 0;
  get_count_ = nullptr;
  get_info_ = nullptr;
  get_object_ = nullptr;
  can_unload_ = nullptr;
  if (may_unload) {
    module_.Unload();
  } else {
    module_.KeepLoaded();
  }
  return may_unload;
}

}  // namespace hv::host
