#include "host/class_registry.h"

#include "platform/module_singleton.h"

namespace hv {

HvClassRegistry& HvClassRegistry::Instance() { return ModuleSingleton<HvClassRegistry>::Instance(); }

const HvClassEntry* HvClassRegistry::Find(const HvGuid& clsid) const {
  auto it = table_.find(clsid);
  return it == table_.end() ? nullptr : &it->second;
}

}  // namespace hv
