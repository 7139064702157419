// Conversion between wide text and the platform's ANSI encoding: the active
// code page (CP_ACP) on Windows, the user-default locale's multibyte
// encoding elsewhere. Never changes process-wide locale state.
//
// Thread-safety: all functions may be called from any thread at once.
#ifndef HV_PLATFORM_ANSI_H_
#define HV_PLATFORM_ANSI_H_

#include <string>

#include "base/wide.h"

namespace hv::platform {

// Prepares the conversion. Returns false when the user-default encoding
// cannot be set up; the conversion then uses the classic "C" encoding
// (ASCII only). Calling it again has no further effect.
bool InitAnsi();

// Appends to `out` the ANSI bytes of `text`. Stops at the first character
// that the encoding cannot represent and returns false; the bytes of the
// characters before it stay in `out`.
bool WideToAnsi(WStringView text, std::string* out);

// Converts ANSI bytes to wide text. Bytes that do not decode become U+FFFD.
WString AnsiToWide(const std::string& bytes);

}  // namespace hv::platform

#endif  // HV_PLATFORM_ANSI_H_
