// How the log writes a line's prefix and names its files: pure functions
// of their arguments, so they can be tested alone.
//
// Thread-safety: none needed (no state). Results: FormatLinePrefix writes
// into the caller's buffer and returns the end of what it wrote.
#ifndef HV_LOG_LINE_FORMAT_H_
#define HV_LOG_LINE_FORMAT_H_

#include <cstdint>

#include "base/wide.h"
#include "platform/system.h"

namespace hv {

// "yyyy-mm-dd hh:mm:ss|tttttttt| " into `text`, which has room for 48
// bytes (any year and thread number fit); returns its end.
char* FormatLinePrefix(const platform::LocalTime& t, uint32_t thread, char* text);

// True when both name the same second of local time.
bool SameSecond(const platform::LocalTime& a, const platform::LocalTime& b);

// One number per second of local time, rising with it.
int64_t SecondKey(const platform::LocalTime& t);

// "verifylog.1.txt" for ".../verifylog.txt": the name of the one earlier
// generation, in the same directory; ".1" goes before the extension, or at
// the end of a name without one.
WString PreviousGenerationName(const WString& path);

}  // namespace hv

#endif  // HV_LOG_LINE_FORMAT_H_
