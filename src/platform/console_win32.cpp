// Windows implementation of platform/console.h.
#include "platform/console.h"
#include "platform/memory.h"

#include <windows.h>

#include <iostream>

namespace hv::platform {

bool StdinIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

bool ReadSecretLine(std::string* line) {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD saved = 0;
  bool terminal = GetConsoleMode(input, &saved) != 0;
  if (terminal) SetConsoleMode(input, saved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
  // A password: read without leaving a copy in a grown-out buffer.
  bool ok = ReadLineWiped("secret line", std::cin, line);
  if (terminal) {
    SetConsoleMode(input, saved);
    std::cerr << "\n";
  }
  if (ok && !line->empty() && line->back() == '\r') line->pop_back();
  return ok;
}

}  // namespace hv::platform
