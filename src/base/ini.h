// A reader of INI text with the rules of the Windows profile functions:
// section and key names compare case-insensitively, white space around
// names and values is trimmed, a value in matching quotes loses them,
// lines beginning with ";" are comments, a UTF-8 byte-order mark is
// skipped, and the first matching section and key win. Pure function.
#ifndef HV_BASE_INI_H_
#define HV_BASE_INI_H_

#include <string>

#include "base/wide.h"

namespace hv {

// Looks `key` up in `section` of the UTF-8 INI text. True when found (the
// value may be empty).
bool FindIniValue(const std::string& text, const WString& section, const WString& key,
                  WString* value);

}  // namespace hv

#endif  // HV_BASE_INI_H_
