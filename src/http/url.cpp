#include "http/url.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "base/ascii.h"
#include "base/utf.h"
#include "platform/memory.h"

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

const char kHexDigits[] = "0123456789abcdef";

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
  out.reserve(text.size() * 3);  // never grown: it may be wiped
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

// A port is digits only, 1 to 65535 (no sign, no blank: nothing wraps).
// An empty port is the scheme's default.
bool PortFromText(const WString& text, uint16_t* port, bool* given) {
  if (text.empty()) return true;
  uint32_t value = 0;
  if (!ParseStrictDecimal<uint32_t>(text, 65535, &value) || value == 0) return false;
  *port = static_cast<uint16_t>(value);
  *given = true;
  return true;
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
    if (port.size() > CUrlParts::kMaxUser || !PortFromText(port, &parts->port, port_given)) {
      return false;
    }
  }
  return parts->host_name.size() <= CUrlParts::kMaxHost;
}

bool SplitAuthority(const WString& authority, CUrlParts* parts, bool* port_given) {
  if (authority.size() > kMaxPhase) return false;
  size_t at = authority.find('@');
  if (at == WString::npos) return SplitHostPort(authority, parts, port_given);
  if (authority.find('@', at + 1) != WString::npos) return false;
  WString user_info = authority.substr(0, at);
  // RFC 3986 3.2.1 allows no "\" there; a reader that takes it for a
  // path's "/" would go to the host before it.
  if (user_info.find('\\') != WString::npos) return false;
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
  // A scheme that names a host has it after "//" only: "http:foo" is no
  // URL with a host "foo".
  if (!slashes && parts->scheme != kSchemeUnknown && DefaultPort(parts->scheme) != 0) return false;
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

// Bytes that go into a request's query as they are: visible ASCII but
// blanks, control bytes, DEL, everything beyond ASCII and the characters
// RFC 3986 allows nowhere in a query ('"', '<', '>', '\\', '^', '`', '{',
// '|', '}').
bool IsRawTargetByte(unsigned char c) {
  return c > 0x20 && c < 0x7F && std::string_view("\"<>\\^`{|}").find(static_cast<char>(c)) == std::string_view::npos;
}

bool IsHexByte(char c) { return IsDigitAscii(c) || (ToLowerAscii(c) >= 'a' && ToLowerAscii(c) <= 'f'); }

// A "%" stands as it is only when two hex digits follow: a broken escape
// is escaped itself, as "%25".
bool IsEscapeAt(const std::string& bytes, size_t i) {
  return i + 2 < bytes.size() && IsHexByte(bytes[i + 1]) && IsHexByte(bytes[i + 2]);
}

// Where the authority of URL text ends: after "scheme://" and up to the
// first "/", "?" or "#". 0 when the text has no authority.
size_t AuthorityEnd(const std::string& text) {
  size_t colon = text.find("://");
  if (colon == std::string::npos || text.find_first_of("/?#") < colon) return 0;
  size_t end = text.find_first_of("/?#", colon + 3);
  return end == std::string::npos ? text.size() : end;
}

// The normaliser's escaping of UTF-8 `bytes`: the scheme and authority stay
// as they are (a bracketed IPv6 host must keep its brackets); before the
// first "?" or "#" bytes outside the safe set become "%xx"; from there on,
// blanks, control bytes and non-ASCII bytes do. False past `limit`.
bool EscapeUrlBytes(const std::string& bytes, size_t limit, std::string* out) {
  size_t authority_end = AuthorityEnd(bytes);
  // The bytes may carry a secret: room for the longest result within the
  // limit is made first, so that no push below grows (and frees) a copy.
  platform::WipeString("url", *out);
  out->reserve(std::min(limit, bytes.size() * 3));
  out->assign(bytes, 0, authority_end);
  bool in_extra = false;
  for (size_t i = authority_end; i < bytes.size(); ++i) {
    auto c = static_cast<unsigned char>(bytes[i]);
    if (!in_extra && (c == '?' || c == '#')) in_extra = true;
    bool raw = c == '%' ? IsEscapeAt(bytes, i) : in_extra ? IsRawTargetByte(c) : IsSafeUrlByte(c);
    if (raw) {
      if (out->size() + 1 > limit) return false;
      out->push_back(static_cast<char>(c));
    } else {
      if (out->size() + 3 > limit) return false;
      out->push_back('%');
      out->push_back(kHexDigits[c >> 4]);
      out->push_back(kHexDigits[c & 15]);
    }
  }
  return out->size() <= limit;
}

// A path's "." and ".." segments removed (RFC 3986 5.2.4).
WString RemoveDotSegments(const WString& path) {
  WString in = path, out;
  while (!in.empty()) {
    if (in.compare(0, 3, HV_W("../")) == 0) {
      in.erase(0, 3);
    } else if (in.compare(0, 2, HV_W("./")) == 0) {
      in.erase(0, 2);
    } else if (in.compare(0, 3, HV_W("/./")) == 0) {
      in.erase(0, 2);
    } else if (in == HV_W("/.")) {
      in = HV_W("/");
    } else if (in.compare(0, 4, HV_W("/../")) == 0 || in == HV_W("/..")) {
      in = in.size() == 3 ? WString(HV_W("/")) : in.substr(3);
      size_t cut = out.rfind('/');
      out.erase(cut == WString::npos ? 0 : cut);
    } else if (in == HV_W(".") || in == HV_W("..")) {
      in.clear();
    } else {
      size_t next = in.find('/', in[0] == '/' ? 1 : 0);
      out += in.substr(0, next);
      in.erase(0, next == WString::npos ? in.size() : next);
    }
  }
  return out;
}

// A reference without scheme or authority against the current URL (RFC
// 3986 5.2.2): its path replaces, or is merged with, the current one. The
// current query goes on only when the reference brings none.
void MergeRelative(const WString& reference, const CUrlParts& current, CUrlParts* parts) {
  size_t query = reference.find('?');
  WString path = reference.substr(0, query);
  // The query may be the secret: copied into the wiped buffer, no
  // temporary holds it.
  platform::WipeString("url", parts->extra);
  if (query != WString::npos) {
    parts->extra.assign(reference, query, WString::npos);
  } else if (!current.extra.empty() && current.extra[0] == '?') {
    parts->extra.assign(current.extra, 0, current.extra.find('#'));
  }
  WString base = current.path.empty() ? WString(HV_W("/")) : current.path;
  if (path.empty()) {
    parts->path = base;
  } else if (path[0] == '/') {
    parts->path = path;
  } else {
    parts->path = base.substr(0, base.rfind('/') + 1) + path;
  }
}

// The characters no path or query allows are escaped as the normaliser
// escapes them, so that nothing the peer wrote reaches the request line
// raw. The path and query may carry the secret: each copy is built in one
// buffer and wiped before it is let go.
bool EscapeTarget(CUrlParts* parts) {
  WString joined;
  platform::WipeOnExit<WString> wipe_joined("url", joined);
  joined.reserve(1 + parts->path.size() + parts->extra.size());
  joined.append(1, WChar('?')).append(parts->path).append(parts->extra);
  std::string utf8 = NormalizerUtf8(joined);
  platform::WipeOnExit<std::string> wipe_utf8("url", utf8);
  std::string target;
  platform::WipeOnExit<std::string> wipe_target("url", target);
  if (!EscapeUrlBytes(utf8, kMaxResolvedUrl, &target)) return false;
  size_t split = target.find('?', 1);
  WString escaped = Utf8ToWide(target);
  platform::WipeOnExit<WString> wipe_escaped("url", escaped);
  platform::WipeString("url", parts->path);
  platform::WipeString("url", parts->extra);
  parts->path.assign(escaped, 1, split == std::string::npos ? WString::npos : split - 1);
  if (split != std::string::npos) parts->extra.assign(escaped, split, WString::npos);
  return true;
}

// Wipes the parts that may carry a secret when the scope ends.
struct WipedUrlParts {
  CUrlParts& parts;
  ~WipedUrlParts() { parts.Clear(); }
};

}  // namespace

void CUrlParts::Clear() {
  // Any part may have held a secret (the query, the user's password): each
  // buffer is wiped whole before the parts are emptied.
  for (WString* text : {&scheme_name, &host_name, &user_name, &password, &path, &extra}) {
    platform::WipeString("url parts", *text);
  }
  port = 0;
  scheme = kSchemeUnknown;
}

uint16_t DefaultPort(int32_t scheme) {
  for (const SchemeRow& row : kSchemes) {
    if (row.number == scheme) return row.port;
  }
  return 0;
}

bool NormalizeUrl(const WString& text, WString* out) {
  // The URL may carry a secret in its query: the copies made here are
  // built without growing and wiped before they are let go.
  std::string utf8 = NormalizerUtf8(text);
  std::string bytes;
  platform::WipeOnExit<std::string> wipe_utf8("url", utf8);
  platform::WipeOnExit<std::string> wipe_bytes("url", bytes);
  bytes.reserve(utf8.size() * 3);
  if (!EscapeUrlBytes(utf8, kMaxNormalizedUrl, &bytes)) return false;
  *out = Utf8ToWide(bytes);
  return out->size() <= kMaxNormalizedUrl;
}

bool SplitUrl(const WString& text, CUrlParts* parts) {
  parts->Clear();
  if (SplitInto(text, parts)) return true;
  parts->Clear();
  return false;
}

bool JoinUrl(const CUrlParts& parts, WString* out, size_t capacity, size_t* needed) {
  // The parts may carry a secret (the query, a password): the text is
  // measured first and written once into a buffer of its size, with no
  // temporary copy of any part.
  std::string port = parts.port != DefaultPort(parts.scheme) ? ":" + std::to_string(parts.port) : "";
  bool slashes = parts.scheme != kSchemeMailto;
  bool user = !parts.user_name.empty();
  bool password = user && !parts.password.empty();
  bool slash = !parts.host_name.empty() && !parts.path.empty() && parts.path[0] != '/' && parts.path[0] != '\\';
  size_t size = parts.scheme_name.size() + 1 + (slashes ? 2 : 0) +
                (user ? parts.user_name.size() + 1 : 0) + (password ? parts.password.size() + 1 : 0) +
                parts.host_name.size() + port.size() + (slash ? 1 : 0) + parts.path.size() + parts.extra.size();
  *needed = size + 1;
  if (capacity < *needed) return false;
  platform::WipeString("url", *out);
  out->reserve(size);
  out->append(parts.scheme_name).push_back(WChar(':'));
  if (slashes) out->append(HV_W("//"));
  if (user) {
    out->append(parts.user_name);
    if (password) out->append(1, WChar(':')).append(parts.password);
    out->push_back(WChar('@'));
  }
  out->append(parts.host_name).append(port.begin(), port.end());
  if (slash) out->push_back(WChar('/'));
  out->append(parts.path).append(parts.extra);
  return true;
}

bool ResolveLocation(const std::string& location, const CUrlParts& current, WString* resolved) {
  // The peer's bytes are taken as they came, never through a code page:
  // every byte outside visible ASCII becomes "%xx" here, so none is lost,
  // converted or able to shorten the target.
  std::string bytes = TrimAscii(location);
  platform::WipeOnExit<std::string> wipe_bytes("url", bytes);
  std::string ascii;
  platform::WipeOnExit<std::string> wipe_ascii("url", ascii);
  ascii.reserve(bytes.size() * 3);
  for (char byte : bytes) {
    auto c = static_cast<unsigned char>(byte);
    if (c > 0x20 && c < 0x7F) {
      ascii.push_back(byte);
    } else {
      ascii.append({'%', kHexDigits[c >> 4], kHexDigits[c & 15]});
    }
  }
  WString reference = Utf8ToWide(ascii);
  platform::WipeOnExit<WString> wipe_reference("url", reference);
  reference.erase(std::min(reference.find('#'), reference.size()));  // never sent
  size_t delimiter = reference.find_first_of(HV_W(":/?"));
  bool absolute = delimiter != WString::npos && reference[delimiter] == ':' &&
                  IsSchemeName(reference.substr(0, delimiter));
  if (!absolute && reference.compare(0, 2, HV_W("//")) == 0) {
    // Same scheme, new authority.
    WString with_scheme;
    platform::WipeOnExit<WString> wipe_with_scheme("url", with_scheme);
    with_scheme.reserve(current.scheme_name.size() + 1 + reference.size());
    with_scheme.append(current.scheme_name).append(1, WChar(':')).append(reference);
    reference.swap(with_scheme);
    absolute = true;
  }
  // The parts may hold the current query, the secret: wiped however it ends.
  CUrlParts parts;
  WipedUrlParts wipe_parts{parts};
  if (absolute) {
    // A redirect carries no userinfo (RFC 9110 4.2.4: a recipient treats
    // it as an error): it could only pass a credential, or hide the host
    // behind a name that looks like one ("http://good.example@evil/").
    size_t start = reference.find(':') + 1;
    if (reference.compare(start, 2, HV_W("//")) == 0) {
      start += 2;
      size_t end = std::min(reference.find_first_of(HV_W("/?"), start), reference.size());
      if (reference.substr(start, end - start).find('@') != WString::npos) return false;
    }
    if (!SplitUrl(reference, &parts)) return false;
  } else {
    parts = current;
    MergeRelative(reference, current, &parts);
  }
  parts.path = RemoveDotSegments(parts.path);
  if (!EscapeTarget(&parts)) return false;
  size_t needed = 0;
  return JoinUrl(parts, resolved, kMaxResolvedUrl, &needed);
}

}  // namespace hv
