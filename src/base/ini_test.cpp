// The INI reader's matching and trimming rules.
#include "base/ini.h"

#include <gtest/gtest.h>

#include "base/utf.h"

namespace hv {
namespace {

TEST(IniReader, MatchesSectionsAndKeysCaseInsensitivelyAndTrims) {
  struct Case { const char* text; bool found; const char* value; } cases[] = {
      {"[SPCfg]\nIHvVerify=Custom\n", true, "Custom"},
      {"[spcfg]\r\n  ihvverify  =  Spaced Name  \r\n", true, "Spaced Name"},
      {"\xEF\xBB\xBF[SPCfg]\nIHvVerify=Bom\n", true, "Bom"},
      {"[SPCfg]\nIHvVerify=\"Quoted \"\n", true, "Quoted "},
      {"[SPCfg]\nIHvVerify='single'\n", true, "single"},
      {"[SPCfg]\nIHvVerify=\"unbalanced\n", true, "\"unbalanced"},
      {"[SPCfg]\n;IHvVerify=Commented\n", false, ""},
      {"[Other]\nIHvVerify=Elsewhere\n", false, ""},
      {"IHvVerify=NoSection\n", false, ""},
      {"[SPCfg]\nIHvVerify=\n", true, ""},
      {"[SPCfg]\nIHvVerify=first\nIHvVerify=second\n", true, "first"},
      {"[SPCfg]\nNoEquals\nIHvVerify=after", true, "after"},
      {"[SPCfg]\nIHvVerify=J\xC3\xBCrgen", true, "J\xC3\xBCrgen"},
  };
  for (const auto& c : cases) {
    WString value;
    ASSERT_EQ(FindIniValue(c.text, HV_W("SPCfg"), HV_W("IHvVerify"), &value), c.found) << c.text;
    if (c.found) {
      EXPECT_EQ(WideToUtf8(value), c.value);
    }
  }
}

}  // namespace
}  // namespace hv
