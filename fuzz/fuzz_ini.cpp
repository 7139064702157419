// Configuration file contents through the INI reader.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/ini.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  hv::WString value;
  std::string text(reinterpret_cast<const char*>(data), size);
  hv::FindIniValue(text, HV_W("SPCfg"), HV_W("IHvVerify"), &value);
  hv::FindIniValue(text, HV_W("SPCfg"), HV_W("VerifyHost"), &value);
  return 0;
}
