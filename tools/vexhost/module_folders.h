// Where the module that vexhost loads keeps its settings and its trace.
//
// A vexhost installed by the Debian package (ROOT/usr/bin/vexhost; ROOT is
// empty for an installed system, a scratch folder for a test install) names
// the packaged folders for the module before it loads it:
//   settings  ROOT/etc/hvverifysp/vexcomm.dat
//   trace     ROOT/var/log/hvverifysp/verifylog.txt when this process may
//             write there (root, or whom the administrator lets), else the
//             user's state folder ($XDG_STATE_HOME/hvverifysp, by default
//             ~/.local/state/hvverifysp), made when missing
// Folders already named in the environment (HVVERIFYSP_CONFIG_DIR,
// HVVERIFYSP_LOG_DIR) are kept. Any other vexhost (a build folder, the
// tar.gz, Windows) leaves the module's files beside itself.
//
// Thread-safety: call once, on the main thread, before the module loads.
#ifndef HV_TOOLS_VEXHOST_MODULE_FOLDERS_H_
#define HV_TOOLS_VEXHOST_MODULE_FOLDERS_H_

#include <cstdint>

#include "base/wide.h"

namespace hv::host {

// The trace file's path and its size when vexhost began, to tell afterwards
// whether the module wrote to it.
struct TraceFile {
  WString path;
  bool existed = false;
  uint64_t size = 0;

  // True when the file exists now and is not as it was.
  bool Written() const;
};

// Names the folders above for the module and returns its trace file.
TraceFile PrepareModuleFolders();

}  // namespace hv::host

#endif  // HV_TOOLS_VEXHOST_MODULE_FOLDERS_H_
