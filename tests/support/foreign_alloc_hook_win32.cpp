// See foreign_alloc_hook.h: the Windows builds link the JSON library into
// the module, whose own hook counts its allocations.
#include "tests/support/foreign_alloc_hook.h"

namespace hv::testing {

bool FailForeignAllocations(const char*, AllocationDecider) { return false; }

}  // namespace hv::testing
