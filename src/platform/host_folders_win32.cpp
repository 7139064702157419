// Windows implementation of platform/host_folders.h: the module keeps its
// settings and its trace beside the host executable, and no host names
// other folders.
#include "platform/host_folders.h"

namespace hv::platform {

WString NamedHostFolder(HostFolder) { return WString(); }

bool NameHostFolder(HostFolder, const WString&) { return false; }

WString UserStateFolder(const WString&) { return WString(); }

bool MakeFolders(const WString&) { return false; }

bool FolderWritable(const WString&) { return false; }

}  // namespace hv::platform
