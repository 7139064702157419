#include "base/utf.h"

namespace hv {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

}  // namespace

void AppendUtf8(char32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

namespace {

// Decodes one UTF-8 sequence starting at s[*i]. An invalid lead byte, or a
// sequence cut short by a byte that cannot continue it, yields U+FFFD and
// consumes only the bytes that were valid so far (at least one).
char32_t DecodeUtf8(const unsigned char* s, size_t n, size_t* i) {
  unsigned char b = s[(*i)++];
  if (b < 0x80) return b;
  int extra;
  char32_t c;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b >= 0xC2 && b <= 0xDF) {
    extra = 1; c = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    extra = 2; c = b & 0x0F;
    if (b == 0xE0) lo = 0xA0;
    if (b == 0xED) hi = 0x9F;  // no surrogates
  } else if (b >= 0xF0 && b <= 0xF4) {
    extra = 3; c = b & 0x07;
    if (b == 0xF0) lo = 0x90;
    if (b == 0xF4) hi = 0x8F;
  } else {
    return kReplacement;
  }
  for (int k = 0; k < extra; ++k) {
    if (*i >= n) return kReplacement;
    unsigned char t = s[*i];
    if (t < lo || t > hi) return kReplacement;
    lo = 0x80; hi = 0xBF;
    c = (c << 6) | (t & 0x3F);
    ++*i;
  }
  return c;
}

}  // namespace

void AppendUtf16(char32_t c, WString* out) {
  if (c > 0x10FFFF) {
    out->push_back(static_cast<WChar>(kReplacement));
  } else if (c >= 0x10000) {
    c -= 0x10000;
    out->push_back(static_cast<WChar>(0xD800 + (c >> 10)));
    out->push_back(static_cast<WChar>(0xDC00 + (c & 0x3FF)));
  } else {
    out->push_back(static_cast<WChar>(c));
  }
}

WString Utf8ToWide(std::string_view utf8) {
  WString out;
  out.reserve(utf8.size());
  const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
  for (size_t i = 0; i < utf8.size();) AppendUtf16(DecodeUtf8(s, utf8.size(), &i), &out);
  return out;
}

char32_t NextUtf16CodePoint(WStringView text, size_t* i) {
  char32_t c = static_cast<char16_t>(text[(*i)++]);
  if (c >= 0xD800 && c <= 0xDBFF && *i < text.size()) {
    char32_t low = static_cast<char16_t>(text[*i]);
    if (low >= 0xDC00 && low <= 0xDFFF) {
      ++*i;
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
    }
  }
  return c;
}

std::string WideToUtf8(WStringView wide) {
  std::string out;
  out.reserve(wide.size() * 3);  // a unit is at most three bytes, a pair four
  for (size_t i = 0; i < wide.size();) {
    char32_t c = NextUtf16CodePoint(wide, &i);
    AppendUtf8(IsSurrogate(c) ? kReplacement : c, &out);
  }
  return out;
}

WString UpToNul(const WString& text) { return text.substr(0, text.find(WChar(0))); }

std::string UpToNul(std::string_view bytes) { return std::string(UpToNulView(bytes)); }

std::string_view UpToNulView(std::string_view bytes) { return bytes.substr(0, bytes.find('\0')); }

}  // namespace hv
