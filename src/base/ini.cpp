#include "base/ini.h"

#include "base/ascii.h"
#include "base/utf.h"

namespace hv {

bool FindIniValue(const std::string& text, const WString& section, const WString& key,
                  WString* value) {
  size_t at = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  bool in_section = false;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = TrimAscii(text.substr(at, end - at));
    at = end + 1;
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      size_t close = line.find(']');
      if (close == std::string::npos) continue;
      in_section = EqualsIgnoreCase(Utf8ToWide(TrimAscii(line.substr(1, close - 1))), section);
      continue;
    }
    if (!in_section) continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    if (!EqualsIgnoreCase(Utf8ToWide(TrimAscii(line.substr(0, eq))), key)) continue;
    std::string v = TrimAscii(line.substr(eq + 1));
    if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) {
      v = v.substr(1, v.size() - 2);
    }
    *value = Utf8ToWide(v);
    return true;
  }
  return false;
}

}  // namespace hv
