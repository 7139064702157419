// Windows implementation of platform/memory.h.
#include "platform/memory.h"

#include <windows.h>

namespace hv::platform {

void SecureZero(void* data, size_t size) { SecureZeroMemory(data, size); }

}  // namespace hv::platform
