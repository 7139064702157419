// The module's exception memory keeps a fixed room below each thrown object
// for the runtime's record of it, which the runtime finds at its own fixed
// distance below the object. Measured against the runtime this build links
// (this program uses the runtime's own allocator): a runtime that grew its
// record past the room would corrupt memory below every throw.
#include <cxxabi.h>
#include <gtest/gtest.h>

#include "platform/exception_runtime.h"

namespace hv::platform {
namespace {

TEST(ExceptionRuntime, RoomBelowAThrownObjectHoldsTheRuntimesRecord) {
  try {
    throw 42;
  } catch (int& caught) {
    // The thread's exception state starts with the newest caught
    // exception's record, which ends where the thrown object starts.
    auto* state = reinterpret_cast<unsigned char* const*>(abi::__cxa_get_globals());
    const unsigned char* record = *state;
    ptrdiff_t distance = reinterpret_cast<unsigned char*>(&caught) - record;
    EXPECT_GT(distance, 0);
    // Before the record: its reference count, padded to the record's
    // alignment (16 bytes at most).
    EXPECT_LE(static_cast<size_t>(distance) + 16, kExceptionHeaderRoom);
  }
}

}  // namespace
}  // namespace hv::platform
