#include "module_folders.h"

#include "platform/host_folders.h"
#include "platform/path.h"
#include "platform/system.h"

namespace hv::host {
namespace {

using platform::HostFolder;

const WChar kPackagedBin[] = HV_W("/usr/bin/");

// ROOT of ROOT/usr/bin/vexhost (with its separator; "/" for an installed
// system), or false for a vexhost the package did not install.
bool PackagedRoot(WString* root) {
  WString dir = platform::ExecutableDirectory();
  WString bin(kPackagedBin);
  if (dir.size() < bin.size() || dir.compare(dir.size() - bin.size(), bin.size(), bin) != 0) return false;
  *root = dir.substr(0, dir.size() - bin.size() + 1);
  return true;
}

// The trace's folder of the packaged host: the system's log folder when
// this process may write there, else the user's state folder.
WString PackagedLogFolder(const WString& root) {
  WString system = root + HV_W("var/log/hvverifysp/");
  if (platform::FolderWritable(system)) return system;
  WString user = platform::UserStateFolder(HV_W("hvverifysp"));
  // Nowhere to write (a user without a home): the system folder is still
  // named, so that nothing is ever written beside the host under /usr.
  return !user.empty() && platform::MakeFolders(user) ? user : system;
}

}  // namespace

bool TraceFile::Written() const {
  uint64_t now = 0;
  return platform::FileSize(path, &now) && (!existed || now != size);
}

TraceFile PrepareModuleFolders() {
  WString root;
  if (PackagedRoot(&root)) {
    if (platform::NamedHostFolder(HostFolder::kConfig).empty()) {
      platform::NameHostFolder(HostFolder::kConfig, root + HV_W("etc/hvverifysp"));
    }
    if (platform::NamedHostFolder(HostFolder::kLog).empty()) {
      platform::NameHostFolder(HostFolder::kLog, PackagedLogFolder(root));
    }
  }
  WString folder = platform::NamedHostFolder(HostFolder::kLog);
  TraceFile trace;
  trace.path = (folder.empty() ? platform::ExecutableDirectory() : folder) + HV_W("verifylog.txt");
  trace.existed = platform::FileSize(trace.path, &trace.size);
  return trace;
}

}  // namespace hv::host
