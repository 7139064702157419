// The module-wide objects that are built while the module loads.
//
// They are defined in this one file because C++ orders the initialisation
// of objects within a file (top to bottom) but not across files; the
// destruction runs in the reverse order at unload.
#include "log/logger.h"

namespace hv {

HvLogger g_verifyLog;

}  // namespace hv
