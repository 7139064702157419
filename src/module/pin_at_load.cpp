// Pins the module at its first load, before any other of its load-time
// objects runs (see platform::PinThisModule for why). Linked into the
// module a host loads only: the module's test build stays unpinned, so
// that each of its loads runs the load-time objects again.
#include "platform/module.h"

namespace hv {
namespace {

// Its constructor runs before those of every other file's objects: init
// priority 101 is the first an application may use.
struct PinAtLoad {
  PinAtLoad() { (void)platform::PinThisModule(); }
};
__attribute__((init_priority(101))) const PinAtLoad g_pinAtLoad;

}  // namespace
}  // namespace hv
