// URL text for the HTTP client: normalising, splitting into parts, joining
// and resolving redirect locations.
//
// Pure functions on text; thread-safe. Every text has a length limit, and
// exceeding one fails the call.
#ifndef HV_HTTP_URL_H_
#define HV_HTTP_URL_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/wide.h"

namespace hv {

enum UrlScheme : int32_t {
  kSchemeUnknown = -1,
  kSchemeFtp = 0,
  kSchemeGopher = 1,
  kSchemeHttp = 2,
  kSchemeHttps = 3,
  kSchemeFile = 4,
  kSchemeNews = 5,
  kSchemeMailto = 6,
  kSchemeSocks = 7,
};

struct CUrlParts {
  static constexpr size_t kMaxScheme = 32;
  static constexpr size_t kMaxHost = 256;
  static constexpr size_t kMaxUser = 128;
  static constexpr size_t kMaxPassword = 128;
  static constexpr size_t kMaxPath = 2048;
  static constexpr size_t kMaxExtra = 2048;

  WString scheme_name;
  WString host_name;
  WString user_name;
  WString password;
  WString path;   // begins with "/" when present
  WString extra;  // from the first "?" or "#" after the path, that included
  uint16_t port = 0;
  int32_t scheme = kSchemeUnknown;

  // Wipes every part's buffer and empties it (see platform/memory.h).
  void Clear();
};

// Default port of a scheme number (0 for schemes without one).
uint16_t DefaultPort(int32_t scheme);

// At most this many characters come out of NormalizeUrl.
constexpr size_t kMaxNormalizedUrl = 2082;
// Capacity (NUL included) for the URL that ResolveLocation composes.
constexpr size_t kMaxResolvedUrl = 2048;

// UTF-8 encodes the text and escapes bytes outside the safe set before the
// first "?" or "#" as "%xx". False when the result would exceed 2082.
bool NormalizeUrl(const WString& text, WString* out);

// Splits normalised URL text. On failure `parts` is left cleared.
bool SplitUrl(const WString& text, CUrlParts* parts);

// Writes the URL text of `parts`. `*needed` receives the capacity needed
// (NUL included); false when `capacity` is smaller.
bool JoinUrl(const CUrlParts& parts, WString* out, size_t capacity, size_t* needed);

// Resolves `location`, a redirect target's bytes as the peer sent them,
// against `current` into the absolute URL `*resolved` (RFC 3986 5.2): the
// current query goes on only when the target has none of its own, dot
// segments are removed, the fragment is dropped, and every byte outside
// visible ASCII, and any character no path or query allows, comes out as
// "%xx". False when it cannot be composed within the limit or the target
// does not split as a URL.
bool ResolveLocation(const std::string& location, const CUrlParts& current, WString* resolved);

}  // namespace hv

#endif  // HV_HTTP_URL_H_
