// The folders a host names for the module's files, where they do not live
// beside the host executable (a Linux package: settings under /etc, the
// trace under /var/log or the user's state folder).
//
// A host names them in its environment before it loads the module:
//   HVVERIFYSP_CONFIG_DIR  the folder of vexcomm.dat (then the only one read)
//   HVVERIFYSP_LOG_DIR     the folder of verifylog.txt (the current folder
//                          is then left alone)
// A host that names neither keeps the files beside its executable. Windows
// has no such names: its module keeps both beside the host, as always.
//
// Thread-safety: the names are read while the module loads; a host sets
// them before it loads the module, on one thread. Results are values.
#ifndef HV_PLATFORM_HOST_FOLDERS_H_
#define HV_PLATFORM_HOST_FOLDERS_H_

#include "base/wide.h"

namespace hv::platform {

enum class HostFolder { kConfig, kLog };

// The folder the host named for `which`, with a separator at its end;
// empty when it named none (always on Windows). A name is taken only from
// an environment the process may trust (not in a set-user-ID program).
WString NamedHostFolder(HostFolder which);

// For hosts: names `dir` as the folder for `which` for the module loaded
// next. False where the platform has no such name (Windows) or on failure.
bool NameHostFolder(HostFolder which, const WString& dir);

// The user's state folder of the program `name`: $XDG_STATE_HOME/name, or
// $HOME/.local/state/name (the XDG base directory rules), with a separator
// at its end; empty when neither variable gives an absolute path, and on
// Windows.
WString UserStateFolder(const WString& name);

// Makes `dir` and its missing parents (those made: mode 0700). True when
// `dir` is a folder afterwards.
bool MakeFolders(const WString& dir);

// True when this process may create files in the folder `dir`.
bool FolderWritable(const WString& dir);

}  // namespace hv::platform

#endif  // HV_PLATFORM_HOST_FOLDERS_H_
