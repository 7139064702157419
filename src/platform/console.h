// Reading a secret (a password) from standard input: without echo when it
// is a terminal, as a plain line otherwise.
#ifndef HV_PLATFORM_CONSOLE_H_
#define HV_PLATFORM_CONSOLE_H_

#include <string>

namespace hv::platform {

// True when standard input is an interactive terminal.
bool StdinIsTerminal();

// Reads one line from standard input without showing it; the line end is
// removed. No grown buffer leaves a copy of it behind: the caller wipes
// `line` (platform/memory.h) when done. False at end of input.
bool ReadSecretLine(std::string* line);

}  // namespace hv::platform

#endif  // HV_PLATFORM_CONSOLE_H_
