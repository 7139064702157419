// The module's class table and live-object count.
//
// The table is filled while the module loads and read without a lock
// afterwards; it is ordered by the 16 bytes of the class identifier as
// memcmp orders them. The live-object count changes only atomically.
#ifndef HV_HOST_CLASS_REGISTRY_H_
#define HV_HOST_CLASS_REGISTRY_H_

#include <atomic>
#include <cstdint>
#include <cstring>
#include <map>

#include "hv/vex_host.h"

namespace hv {

struct HvClassEntry {
  HvGuid clsid;
  HvResult (*create)(const HvGuid& iid, void** out);
  const char* className;
  uint32_t reserved;
};

struct GuidBytesLess {
  bool operator()(const HvGuid& a, const HvGuid& b) const {
    return std::memcmp(&a, &b, sizeof(HvGuid)) < 0;
  }
};

inline bool SameGuid(const HvGuid& a, const HvGuid& b) {
  return std::memcmp(&a, &b, sizeof(HvGuid)) == 0;
}

class HvClassRegistry {
 public:
  static HvClassRegistry& Instance();

  // Keeps the first row for a class identifier. Returns true when inserted.
  bool Insert(const HvClassEntry& entry) { return table_.emplace(entry.clsid, entry).second; }
  const HvClassEntry* Find(const HvGuid& clsid) const;
  const std::map<HvGuid, HvClassEntry, GuidBytesLess>& table() const { return table_; }

  // Objects of the module whose reference count is above zero.
  static std::atomic<int32_t>& LiveObjects() {
    static std::atomic<int32_t> count{0};
    return count;
  }

 private:
  std::map<HvGuid, HvClassEntry, GuidBytesLess> table_;
};

}  // namespace hv

#endif  // HV_HOST_CLASS_REGISTRY_H_
