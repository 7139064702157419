// Wiping secrets from memory: a password's bytes are overwritten where the
// module held them, with a write the compiler may not remove (the bytes are
// never read again, so an ordinary memset could be dropped), before the
// memory is freed, so that a crash dump or a later reader of freed memory
// does not find them.
//
// Thread-safety: SecureZero and Wipe may run on any thread. The observer
// is a test hook: set it while no wipe runs.
#ifndef HV_PLATFORM_MEMORY_H_
#define HV_PLATFORM_MEMORY_H_

#include <algorithm>
#include <cstddef>

namespace hv::platform {

// Overwrites `size` bytes at `data` with zeros (explicit_bzero on POSIX,
// SecureZeroMemory on Windows).
void SecureZero(void* data, size_t size);

// SecureZero, then tells the observer, if one is set, what was wiped.
// `what` names the buffer for the test that checks the wipes.
void Wipe(const char* what, void* data, size_t size);

// Wipes a string's whole buffer, its capacity and not only its characters
// (a string that held a secret and was shortened or cleared still holds it
// past its end), and empties it; the buffer stays allocated.
template <class String>
void WipeString(const char* what, String& text) {
  size_t capacity = text.capacity();
  text.resize(capacity);  // within the capacity: no new buffer
  Wipe(what, &text[0], capacity * sizeof(text[0]));
  text.clear();
}

// Makes room in `text` for `extra` more characters without leaving a copy
// behind: where its buffer must grow, the characters move to a new one
// (at least twice as large) and the old one is wiped before it is freed.
template <class String>
void ReserveWiped(const char* what, String& text, size_t extra) {
  if (text.capacity() - text.size() >= extra) return;
  String grown;
  grown.reserve(std::max(text.size() + extra, 2 * text.capacity()));
  grown.append(text);
  WipeString(what, text);
  text.swap(grown);
}

// Reads one line from `in` into `line` (emptied first; the "\n" is not
// kept) a character at a time, growing it only through ReserveWiped, so
// that a secret read leaves no copy in a freed buffer. False at the end of
// the input before any character.
template <class Stream, class String>
bool ReadLineWiped(const char* what, Stream& in, String* line) {
  WipeString(what, *line);
  bool any = false;
  for (typename Stream::char_type c; in.get(c); any = true) {
    if (c == '\n') return true;
    ReserveWiped(what, *line, 1);
    line->push_back(c);
  }
  return any;
}

// Wipes `text` (WipeString) when the scope ends, however it ends.
template <class String>
class WipeOnExit {
 public:
  WipeOnExit(const char* what, String& text) : what_(what), text_(text) {}
  ~WipeOnExit() { WipeString(what_, text_); }
  WipeOnExit(const WipeOnExit&) = delete;
  WipeOnExit& operator=(const WipeOnExit&) = delete;

 private:
  const char* what_;
  String& text_;
};

// The test hook: called after each Wipe with the bytes just wiped.
using WipeObserver = void (*)(const char* what, const void* data, size_t size);
void SetWipeObserver(WipeObserver observer);

}  // namespace hv::platform

#endif  // HV_PLATFORM_MEMORY_H_
