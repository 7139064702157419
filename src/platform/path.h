// Paths of the process's executable and of loaded modules, and the file
// names of shared libraries: every "beside the host" and "beside this
// module" path is built here.
//
// Thread-safety: all functions may be called from any thread. Results are
// values; nothing is cached.
#ifndef HV_PLATFORM_PATH_H_
#define HV_PLATFORM_PATH_H_

#include <cstdint>
#include <functional>

#include "base/wide.h"
#include "platform/module.h"

namespace hv::platform {

// Asks for a module's file name the way GetModuleFileNameW is asked:
// buffers of 256, 512, ... up to 32768 characters, offering each one's size
// minus one, until the name fits. `query` is the system call (characters
// copied; the capacity when the name was cut; 0 on failure). False when no
// buffer served.
bool GrowingModuleFilePath(const std::function<uint32_t(WChar* buffer, uint32_t capacity)>& query,
                           WString* path);

// Full path of `module`'s file; null stands for the process's executable.
// False when the system cannot tell.
bool ModuleFilePath(ModuleHandle module, WString* path);

// The directory of `module`'s file (null: the executable's) with a
// separator at its end; empty when the system cannot tell.
WString ModuleDirectory(ModuleHandle module);
WString ExecutableDirectory();

// The file name the platform gives the shared library `stem`
// ("stem.dll" on Windows, "libstem.so" elsewhere).
WString LibraryFileName(const WString& stem);

}  // namespace hv::platform

#endif  // HV_PLATFORM_PATH_H_
