// The module's wide text: UTF-16 code units.
//
// Windows calls and the host contract use wchar_t, which is 16 bits there;
// on other platforms wchar_t is 32 bits, so char16_t takes its place. Every
// part of the module uses WChar / WString and HV_W("...") literals, and text
// is converted only at the platform edge.
#ifndef HV_BASE_WIDE_H_
#define HV_BASE_WIDE_H_

#include <string>
#include <string_view>

namespace hv {

#ifdef _WIN32
using WChar = wchar_t;
#define HV_W(text) L##text
#else
using WChar = char16_t;
#define HV_W(text) u##text
#endif

using WString = std::basic_string<WChar>;
using WStringView = std::basic_string_view<WChar>;

static_assert(sizeof(WChar) == 2, "wide text must be UTF-16");

}  // namespace hv

#endif  // HV_BASE_WIDE_H_
