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

#include "base/wide.h"

namespace hv {

// Reads the bytes in place (no copy is made of them), and builds the
// result in one buffer that is never grown, so that a caller can wipe it.
WString Utf8ToWide(std::string_view utf8);
// The result is built in one buffer that is never grown (room for the
// longest encoding is reserved first), so that a caller can wipe it.
std::string WideToUtf8(WStringView wide);

// The code points under both conversions, for the converters that follow
// other rules (the URL normaliser, the ANSI encoders).

// Appends one code point as UTF-16; one beyond U+10FFFF becomes U+FFFD.
void AppendUtf16(char32_t c, WString* out);
// Appends one code point as UTF-8, a surrogate's value as three bytes like
// any other below U+10000 (callers that must not write one replace it).
void AppendUtf8(char32_t c, std::string* out);
// The code point at text[*i], moving *i past it: a high and a low surrogate
// make one; a lone surrogate is returned as its own value.
char32_t NextUtf16CodePoint(WStringView text, size_t* i);
constexpr bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// Text up to (not including) its first NUL character.
WString UpToNul(const WString& text);
std::string UpToNul(std::string_view bytes);
// The same as a view of `bytes` (no copy).
std::string_view UpToNulView(std::string_view bytes);

}  // namespace hv

#endif  // HV_BASE_UTF_H_
