#include "http/url.h"

#include <string>

#include "base/ascii.h"
#include "base/utf.h"
#include "platform/ansi.h"

namespace hv {
namespace {

struct SchemeRow {
  const WChar* name;
  int32_t number;
  uint16_t port;
};

const SchemeRow kSchemes[] = {
    {HV_W("ftp"), kSchemeFtp, 21},       {HV_W("gopher"), kSchemeGopher, 70},
    {HV_W("http"), kSchemeHttp, 80},     {HV_W("https"), kSchemeHttps, 443},
    {HV_W("file"), kSchemeFile, 0},      {HV_W("news"), kSchemeNews, 0},
    {HV_W("mailto"), kSchemeMailto, 0},  {HV_W("socks"), kSchemeSocks, 1080},
};

// Any phase of the split that collects more than this fails it.
constexpr size_t kMaxPhase = 2088;

bool IsSafeUrlByte(unsigned char c) {
  if (IsAlphaAscii(c) || IsDigitAscii(c)) return true;
  switch (c) {
    case '!': case '\'': case '(': case ')': case '*': case '-':
    case '.': case '/': case ':': case '_': case '~': case '%':
      return true;
    default:
      return false;
  }
}

// UTF-8 as the normaliser writes it: a lone surrogate keeps its own value
// as a three-byte sequence instead of failing.
std::string NormalizerUtf8(const WString& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) AppendUtf8(NextUtf16CodePoint(text, &i), &out);
  return out;
}

// Scheme names: a letter, then letters, digits, "+", "-" or ".". Anything
// else before the first ":" (a path such as "/a:b") is no scheme at all.
bool IsSchemeName(const WString& name) {
  if (name.empty() || !IsAlphaAscii(name[0])) return false;
  for (WChar c : name) {
    if (!IsAlphaAscii(c) && !IsDigitAscii(c) && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

// Signed decimal conversion as strtol does it (32-bit), kept in 16 bits.
uint16_t PortFromText(const WString& text) {
  return static_cast<uint16_t>(ParseSaturatingDecimal<int32_t>(text));
}

bool SplitHostPort(const WString& text, CUrlParts* parts, bool* port_given) {
  size_t colon;
  if (!text.empty() && text[0] == '[') {
    size_t close = text.find(']');
    if (close == WString::npos) return false;
    colon = close + 1 < text.size() ? close + 1 : WString::npos;
    if (colon != WString::npos && text[colon] != ':') return false;
  } else {
    colon = text.find(':');
  }
  parts->host_name = text.substr(0, colon);
  if (colon != WString::npos) {
    WString port = text.substr(colon + 1);
    if (port.size() > CUrlParts::kMaxUser) return false;
    parts->port = PortFromText(port);
    *port_given = true;
  }
  return parts->host_name.size() <= CUrlParts::kMaxHost;
}

bool SplitAuthority(const WString& authority, CUrlParts* parts, bool* port_given) {
  if (authority.size() > kMaxPhase) return false;
  size_t at = authority.find('@');
  if (at == WString::npos) return SplitHostPort(authority, parts, port_given);
  if (authority.find('@', at + 1) != WString::npos) return false;
  WString user_info = authority.substr(0, at);
  size_t colon = user_info.find(':');
  parts->user_name = user_info.substr(0, colon);
  if (colon != WString::npos) {
    parts->password = user_info.substr(colon + 1);
    if (parts->user_name.empty()) return false;  // a password needs a user
  }
  if (parts->user_name.size() > CUrlParts::kMaxUser ||
      parts->password.size() > CUrlParts::kMaxPassword) {
    return false;
  }
  return SplitHostPort(authority.substr(at + 1), parts, port_given);
}

bool SplitInto(const WString& text, CUrlParts* parts) {
  size_t colon = text.find(':');
  if (colon == WString::npos) return false;
  parts->scheme_name = text.substr(0, colon);
  if (!IsSchemeName(parts->scheme_name) || parts->scheme_name.size() > CUrlParts::kMaxScheme) {
    return false;
  }
  for (const SchemeRow& row : kSchemes) {
    if (EqualsIgnoreCase(parts->scheme_name, WStringView(row.name))) parts->scheme = row.number;
  }
  size_t pos = colon + 1;
  bool slashes = text.compare(pos, 2, HV_W("//")) == 0;
  if (slashes && parts->scheme == kSchemeMailto) return false;
  if (slashes) pos += 2;

  size_t path_start = pos;
  bool port_given = false;
  if (slashes || text.compare(pos, 1, HV_W("/")) != 0) {
    if (parts->scheme == kSchemeFile && slashes) {
      path_start = pos;  // everything after "//" is path
    } else {
      size_t end = text.find_first_of(HV_W("/?"), pos);
      if (end == WString::npos) end = text.size();
      if (!SplitAuthority(text.substr(pos, end - pos), parts, &port_given)) return false;
      path_start = end;
    }
  }
  size_t path_end = parts->scheme == kSchemeFile ? text.size()
                                                  : text.find_first_of(HV_W("?#"), path_start);
  if (path_end == WString::npos) path_end = text.size();
  parts->path = text.substr(path_start, path_end - path_start);
  parts->extra = text.substr(path_end);
  if (parts->path.size() > CUrlParts::kMaxPath || parts->extra.size() > CUrlParts::kMaxExtra) {
    return false;
  }
  if (parts->scheme == kSchemeFile || parts->scheme == kSchemeNews ||
      parts->scheme == kSchemeMailto) {
    parts->port = 0;
  } else if (!port_given) {
    parts->port = DefaultPort(parts->scheme);
  }
  return true;
}

// True when the normaliser would give `text` back unchanged: ASCII only,
// and nothing before the query or fragment that needs escaping.
bool NeedsNoEscaping(const WString& text) {
  bool in_extra = false;
  for (WChar c : text) {
    if (c >= 0x80) return false;
    if (!in_extra && (c == '?' || c == '#')) in_extra = true;
    if (!in_extra && !IsSafeUrlByte(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

}  // namespace

uint16_t DefaultPort(int32_t scheme) {
  for (const SchemeRow& row : kSchemes) {
    if (row.number == scheme) return row.port;
  }
  return 0;
}

bool NormalizeUrl(const WString& text, WString* out) {
  static const char kHex[] = "0123456789abcdef";
  std::string bytes;
  if (text.size() <= kMaxNormalizedUrl && NeedsNoEscaping(text)) {
    // The usual case, without the byte-by-byte pass.
    bytes.assign(text.begin(), text.end());
  } else {
    std::string utf8 = NormalizerUtf8(text);
    bytes.reserve(utf8.size() + 16);
    bool in_extra = false;
    for (unsigned char c : utf8) {
      if (!in_extra && (c == '?' || c == '#')) in_extra = true;
      if (in_extra || IsSafeUrlByte(c)) {
        if (bytes.size() + 1 > kMaxNormalizedUrl) return false;
        bytes.push_back(static_cast<char>(c));
      } else {
        if (bytes.size() + 3 > kMaxNormalizedUrl) return false;
        bytes.push_back('%');
        bytes.push_back(kHex[c >> 4]);
        bytes.push_back(kHex[c & 15]);
      }
    }
  }
  *out = platform::AnsiToWide(bytes);
  return out->size() <= kMaxNormalizedUrl;
}

bool SplitUrl(const WString& text, CUrlParts* parts) {
  parts->Clear();
  if (SplitInto(text, parts)) return true;
  parts->Clear();
  return false;
}

bool JoinUrl(const CUrlParts& parts, WString* out, size_t capacity, size_t* needed) {
  WString url = parts.scheme_name + HV_W(":");
  if (parts.scheme != kSchemeMailto) url += HV_W("//");
  if (!parts.user_name.empty()) {
    url += parts.user_name;
    if (!parts.password.empty()) url += HV_W(":") + parts.password;
    url += HV_W("@");
  }
  url += parts.host_name;
  if (parts.port != DefaultPort(parts.scheme)) {
    std::string port = ":" + std::to_string(parts.port);
    url.append(port.begin(), port.end());
  }
  if (!parts.host_name.empty() && !parts.path.empty() && parts.path[0] != '/' &&
      parts.path[0] != '\\') {
    url += HV_W("/");
  }
  url += parts.path + parts.extra;
  *needed = url.size() + 1;
  if (capacity < *needed) return false;
  *out = url;
  return true;
}

bool ResolveLocation(WString* location, const CUrlParts& current) {
  WString target = TrimAscii(*location);
  CUrlParts probe;
  if (SplitUrl(target, &probe)) {
    *location = target;
    return true;
  }
  CUrlParts parts = current;
  if (!target.empty() && target[0] == '/') {
    parts.path = target;
  } else {
    WString base = current.path.empty() ? WString(HV_W("/")) : current.path;
    size_t cut = base.rfind('/');
    if (cut == WString::npos) return false;
    parts.path = base.substr(0, cut + 1) + target;
  }
  size_t needed = 0;
  return JoinUrl(parts, location, kMaxResolvedUrl, &needed);
}

}  // namespace hv
