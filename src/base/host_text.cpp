#include "base/host_text.h"

#include <cstddef>

#include "base/ascii.h"

namespace hv {
namespace {

// A dotted IPv4 address (RFC 3986 dec-octet: 0 to 255, no leading zero).
bool IsIpv4Address(WStringView text) {
  int parts = 0;
  for (;;) {
    size_t dot = text.find('.');
    WStringView part = text.substr(0, dot);
    if (part.empty() || part.size() > 3 || (part.size() > 1 && part[0] == '0')) return false;
    int value = 0;
    for (WChar c : part) {
      if (!IsDigitAscii(c)) return false;
      value = value * 10 + (c - '0');
    }
    if (value > 255 || ++parts > 4) return false;
    if (dot == WStringView::npos) return parts == 4;
    text.remove_prefix(dot + 1);
  }
}

// Counts the 16-bit groups of colon-separated `text` into `*groups` (an
// IPv4 tail, when allowed, counts two). Empty text has none.
bool CountGroups(WStringView text, bool ipv4_tail, size_t* groups) {
  *groups = 0;
  if (text.empty()) return true;
  for (;;) {
    size_t colon = text.find(':');
    WStringView group = text.substr(0, colon);
    if (colon == WStringView::npos && ipv4_tail && group.find('.') != WStringView::npos) {
      *groups += 2;
      return IsIpv4Address(group);
    }
    if (group.empty() || group.size() > 4) return false;
    for (WChar c : group) {
      if (HexDigitValue(c) < 0) return false;
    }
    ++*groups;
    if (colon == WStringView::npos) return true;
    text.remove_prefix(colon + 1);
  }
}

bool IsNameChar(WChar c) { return IsAlphaAscii(c) || IsDigitAscii(c) || c == '-' || c == '.' || c == '_'; }

}  // namespace

bool IsIpv6Address(WStringView text) {
  size_t gap = text.find(HV_W("::"));
  size_t head = 0, tail = 0;
  if (gap == WStringView::npos) return CountGroups(text, true, &head) && head == 8;
  if (text.find(HV_W("::"), gap + 1) != WStringView::npos) return false;  // one gap, no ":::"
  return CountGroups(text.substr(0, gap), false, &head) && CountGroups(text.substr(gap + 2), true, &tail) &&
         head + tail <= 7;
}

bool IsHostText(WStringView host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    return IsIpv6Address(host.substr(1, host.size() - 2));
  }
  if (host.empty()) return false;
  for (WChar c : host) {
    if (!IsNameChar(c)) return false;
  }
  // Every label holds something: one trailing dot (the fully qualified
  // form) at most, none leading, none doubled.
  return host.front() != '.' && host.find(HV_W("..")) == WStringView::npos;
}

}  // namespace hv
