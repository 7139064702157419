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

#include <cstddef>

namespace hv::platform {

// Overwrites `size` bytes at `data` with zeros (explicit_bzero on POSIX,
// SecureZeroMemory on Windows).
void SecureZero(void* data, size_t size);

// SecureZero, then tells the observer, if one is set, what was wiped.
// `what` names the buffer for the test that checks the wipes.
void Wipe(const char* what, void* data, size_t size);

// Wipes a string's characters and empties it (its buffer stays allocated).
template <class String>
void WipeString(const char* what, String& text) {
  if (!text.empty()) Wipe(what, &text[0], text.size() * sizeof(text[0]));
  text.clear();
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
