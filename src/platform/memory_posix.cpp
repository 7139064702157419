// POSIX implementation of platform/memory.h.
#include "platform/memory.h"

#include <string.h>

namespace hv::platform {

void SecureZero(void* data, size_t size) { explicit_bzero(data, size); }

}  // namespace hv::platform
