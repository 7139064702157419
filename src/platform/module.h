// Loaded modules and their files, and the platform's profile (INI) reading.
//
// Thread-safety: all functions may be called from any thread.
#ifndef HV_PLATFORM_MODULE_H_
#define HV_PLATFORM_MODULE_H_

#include <cstdint>

#include "base/wide.h"

namespace hv::platform {

// A loaded module: null stands for the host process's executable.
using ModuleHandle = const void*;

// The module that holds this code (the plug-in, or the executable it is
// linked into).
ModuleHandle ThisModule();

// Keeps the module that holds this code loaded for the rest of the process:
// a later unload by the host then only drops its reference. On Windows the
// module links its C++ and thread runtimes in statically, and each loaded
// instance of them takes a thread-local index of the process that no
// unload gives back (the thread runtime's own, reached by every exception
// the module throws); after about a thousand unloads a host would run out
// and abort. Pinned, the module is mapped once, so a host may unload and
// load it any number of times. Elsewhere the runtimes are the system's,
// shared and unloaded cleanly, and this does nothing. False when the
// system refused (the module then stays unpinned).
bool PinThisModule();

// Runs `fn` when the module that holds this code is unloaded, or at process
// exit if it is still loaded then; handlers run in the reverse order of
// their registration. Bound to the module itself (a handler of the process
// would run after the module's code is gone). On Windows the handlers run
// inside the module's detach, under the loader lock: they may free memory
// and system objects but must not wait, load or unload. False when there
// was no memory to record it.
bool RunAtModuleExit(void (*fn)());

// Copies the full path of `module`'s file into `buffer`, which holds
// `capacity` characters, as GetModuleFileNameW does: returns the characters
// copied, `capacity` when the path was cut, 0 on failure.
uint32_t QueryModuleFileName(ModuleHandle module, WChar* buffer, uint32_t capacity);

// Removes the last path component and the separator before it; the
// directory of a file in the root keeps the root's separator.
WString RemoveFileSpec(const WString& path);

// Reads `key` from `section` of the INI file `file` into `value`, cut to
// 255 characters. True when the value has at least one character.
bool ReadProfileString(const WString& file, const WString& section, const WString& key,
                       WString* value);

}  // namespace hv::platform

#endif  // HV_PLATFORM_MODULE_H_
