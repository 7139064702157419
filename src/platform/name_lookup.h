// Name lookups bounded in time, for AddressList::Resolve (platform/socket.h).
//
// The system's resolver may wait far longer than a caller can afford (a
// nameserver that never answers holds a plain getaddrinfo for the
// resolver's time-out times its attempts times its servers), and the name
// can be chosen by a peer (a redirect target). LookUpBounded returns after
// at most `timeout_ms` whatever the resolver does. A lookup it gives up on
// is abandoned, not stopped: it is left to finish inside the system, its
// memory kept alive until then and reclaimed by a later call. While
// kMaxUnfinishedLookups abandoned lookups are still running, a new lookup
// is not started and times out at once. Lookups being waited for do not
// count: each holds its caller's thread, so any number of host threads may
// look names up at once. A numeric address is converted on the caller's
// thread, without a lookup.
//
// Unloading: on POSIX the lookups run in the C library's own threads
// (getaddrinfo_a), so no code of this module runs after it was unloaded;
// on Windows the module is pinned in memory at load, and each lookup runs
// on a thread of its own that owns a share of the lookup's state.
//
// Results: kDone with `*native` the resolver's own result code (0: `*list`
// holds the addresses, which the caller frees with freeaddrinfo), or
// kTimedOut (nothing in `*list`). Thread-safety: any number of threads may
// look names up at once.
#ifndef HV_PLATFORM_NAME_LOOKUP_H_
#define HV_PLATFORM_NAME_LOOKUP_H_

#include <cstddef>
#include <cstdint>
#include <string>

struct addrinfo;

namespace hv::platform {

constexpr size_t kMaxUnfinishedLookups = 16;

enum class LookupStatus { kDone, kTimedOut };

// Any family, stream sockets.
LookupStatus LookUpBounded(const std::string& host, const std::string& port, uint32_t timeout_ms,
                           addrinfo** list, int* native);

// The abandoned lookups not finished yet (finished ones are reclaimed
// first).
size_t UnfinishedLookups();

}  // namespace hv::platform

#endif  // HV_PLATFORM_NAME_LOOKUP_H_
