// UTF-8 <-> UTF-16 conversion, the same on every platform.
//
// Malformed input never fails a conversion: an invalid UTF-8 sequence
// becomes U+FFFD (one per maximal invalid subpart, as the Windows
// conversion does), and a lone surrogate in UTF-16 becomes U+FFFD in UTF-8.
// Pure functions; thread-safe.
#ifndef HV_BASE_UTF_H_
#define HV_BASE_UTF_H_

#include <string>
#include <string_view>

#include "platform/wide.h"

namespace hv {

WString Utf8ToWide(const std::string& utf8);
// Appends one code point as UTF-16; one beyond U+10FFFF becomes U+FFFD.
void AppendUtf16(char32_t c, WString* out);
std::string WideToUtf8(const WString& wide);

// Text up to (not including) its first NUL character.
WString UpToNul(const WString& text);
std::string UpToNul(std::string_view bytes);

}  // namespace hv

#endif  // HV_BASE_UTF_H_
