// The module-wide objects that are built while the module loads.
//
// They are defined in this one file because C++ orders the initialisation
// of objects within a file (top to bottom) but not across files; the
// destruction runs in the reverse order at unload.
#include "host/config.h"
#include "log/logger.h"

namespace hv {

// The configuration is read first: the interface name heads every method
// path, and the log writer changes the current directory.
const HostSettings g_hostSettings = LoadHostSettings();

HvLogger g_verifyLog;

const HostSettings& HostConfig() { return g_hostSettings; }

}  // namespace hv
