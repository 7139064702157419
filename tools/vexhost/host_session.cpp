#include "host_session.h"

#include "platform/system.h"

namespace hv::host {
namespace {

WString BesideThisProgram(const WString& file) {
  WString image;
  platform::ProcessImagePath(&image);
  return image.substr(0, image.find_last_of(platform::PathSeparator()) + 1) + file;
}

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
  if (!base_.Load(BesideThisProgram(VEX_BASE_LIBRARY_NAME), error)) {
    *error = "cannot load the base library: " + *error;
    return kExitNoModule;
  }
  route_ = reinterpret_cast<VexBaseRouteRequestFn>(
      platform::FindSymbol(base_.handle(), "vex_base_route_request"));
  if (!module_.Load(module_path, error)) {
    *error = "cannot load the module: " + *error;
    return kExitNoModule;
  }
  auto find = [this](const char* name) { return platform::FindSymbol(module_.handle(), name); };
  get_count_ = reinterpret_cast<HvDllGetClassCountFn>(find("HvDllGetClassCount"));
  get_info_ = reinterpret_cast<HvDllGetClassInfoFn>(find("HvDllGetClassInfo"));
  get_object_ = reinterpret_cast<HvDllGetClassObjectFn>(find("HvDllGetClassObject"));
  can_unload_ = reinterpret_cast<HvDllCanUnloadNowFn>(find("HvDllCanUnloadNow"));
  if (!get_count_ || !get_info_ || !get_object_ || !can_unload_ || !route_) {
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

int HostSession::Start(std::string* error) {
  void* out = nullptr;
  HvResult rc = get_object_(&CLSID_HvVerifyImpl, &IID_IVexServiceProvider, &out);
  if (rc != 0 || out == nullptr) {
    *error = "HvDllGetClassObject failed: " + std::to_string(rc);
    return kExitNotStarted;
  }
  service_ = static_cast<IVexServiceProvider*>(out);
  if ((rc = service_->Initialize()) != 0 || (rc = service_->Start()) != 0) {
    *error = "the service did not start: " + std::to_string(rc);
    return kExitNotStarted;
  }
  started_ = true;
  return kExitOk;
}

HvResult HostSession::Request(const std::string& method, const std::string& document,
                              std::string* reply) {
  StringReply sink(reply);
  return route_(method.c_str(), document.c_str(), &sink, nullptr);
}

bool HostSession::Finish() {
  if (service_ != nullptr) {
    if (started_) service_->Stop();
    service_->Uninitialize();
    service_->Release();
    service_ = nullptr;
    started_ = false;
  }
  if (module_.handle() == nullptr) return true;
  bool may_unload = can_unload_() == 0;
  if (may_unload) {
    get_count_ = nullptr;
    get_info_ = nullptr;
    get_object_ = nullptr;
    can_unload_ = nullptr;
    module_.Unload();
  }
  return may_unload;
}

}  // namespace hv::host
