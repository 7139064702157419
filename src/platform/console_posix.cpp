// POSIX implementation of platform/console.h.
#include "platform/console.h"
#include "platform/memory.h"

#include <termios.h>
#include <unistd.h>

#include <iostream>

namespace hv::platform {

bool StdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }

bool ReadSecretLine(std::string* line) {
  struct termios saved {};
  bool terminal = StdinIsTerminal() && tcgetattr(STDIN_FILENO, &saved) == 0;
  if (terminal) {
    struct termios quiet = saved;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  // A password: read without leaving a copy in a grown-out buffer.
  bool ok = ReadLineWiped("secret line", std::cin, line);
  if (terminal) {
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::cerr << "\n";
  }
  if (ok && !line->empty() && line->back() == '\r') line->pop_back();
  return ok;
}

}  // namespace hv::platform
