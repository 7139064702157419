// The configuration lookup over files written in temporary folders.
#include "host/config.h"

#include <gtest/gtest.h>

#include <array>

#include <vector>

#include "base/utf.h"
#include "platform/host_folders.h"
#include "platform/system.h"
#include "tests/support/temp_dir.h"

namespace hv {
namespace {

using testing::TempDir;
using testing::ToWide;
using testing::WriteFileBytes;

struct Folders {
  TempDir host, module;
  std::vector<WString> Files() const {
    return {ToWide(host.File("vexcomm.dat")), ToWide(module.File("vexcomm.dat"))};
  }
};

std::string Ini(const std::string& value) { return "[SPCfg]\r\nIHvVerify=" + value + "\r\n"; }

TEST(ConfiguredValue, HostFileFirstModuleFileSecondDefaultLast) {
  struct Case { const char* host; const char* module; const char* name; } cases[] = {
      {nullptr, nullptr, "IHvVerify"},
      {"HostName", "ModuleName", "HostName"},
      {"", "ModuleName", "ModuleName"},
      {nullptr, "ModuleName", "ModuleName"},
      {"", "", "IHvVerify"},
  };
  for (const auto& c : cases) {
    Folders f;
    if (c.host) WriteFileBytes(f.host.File("vexcomm.dat"), Ini(c.host));
    if (c.module) WriteFileBytes(f.module.File("vexcomm.dat"), Ini(c.module));
    WString value;
    bool found = ConfiguredValueIn(f.Files(), HV_W("IHvVerify"), &value) == 0;
    EXPECT_EQ(found ? WideToUtf8(value) : "IHvVerify", c.name);
  }
}

// A packaged host names /etc/hvverifysp: that folder's file is the one
// read, never one beside the executable under /usr.
TEST(ConfigFiles, AFolderTheHostNamesIsTheOnlyOneRead) {
  EXPECT_EQ(ConfigFiles().size(), 2u);
  TempDir named;
  if (!platform::NameHostFolder(platform::HostFolder::kConfig, ToWide(named.path()))) {
    GTEST_SKIP() << "the module reads its settings beside the host on this platform";
  }
  std::vector<WString> files = ConfigFiles();
  platform::NameHostFolder(platform::HostFolder::kConfig, WString());
  EXPECT_EQ(files, std::vector<WString>{ToWide(named.File("vexcomm.dat"))});
}

TEST(ConfiguredValue, LongValuesAreCutTo255AndNullKeyFails) {
  Folders f;
  WriteFileBytes(f.host.File("vexcomm.dat"), Ini(std::string(300, 'n')));
  WString value;
  ASSERT_EQ(ConfiguredValueIn(f.Files(), HV_W("IHvVerify"), &value), 0);
  EXPECT_EQ(value.size(), 255u);
  EXPECT_EQ(ConfiguredValueIn(f.Files(), nullptr, &value), kConfigNotFound);
}

TEST(ConfigPath, FileInTheRootGetsTwoSeparators) {
  const WChar sep = platform::PathSeparator();
  WString root = sep == '/' ? WString(HV_W("/vexhost")) : WString(HV_W("C:\\vexhost.exe"));
  WString expected = sep == '/' ? WString(HV_W("//vexcomm.dat")) : WString(HV_W("C:\\\\vexcomm.dat"));
  EXPECT_EQ(ConfigPathBeside(root), expected);
  WString nested = sep == '/' ? WString(HV_W("/opt/host/vexhost")) : WString(HV_W("C:\\host\\vexhost.exe"));
  WString beside = sep == '/' ? WString(HV_W("/opt/host/vexcomm.dat")) : WString(HV_W("C:\\host\\vexcomm.dat"));
  EXPECT_EQ(ConfigPathBeside(nested), beside);
  EXPECT_EQ(ConfigPathBeside(WString()), WString(1, sep) + HV_W("vexcomm.dat"));
}

TEST(HostSettings, DefaultsWithoutAnyFile) {
  // No test writes "vexcomm.dat" beside this executable.
  EXPECT_EQ(HostConfig().interface_name, HV_W("IHvVerify"));
  EXPECT_EQ(HostConfig().verify_host, HV_W("127.0.0.1"));
}

// "VerifyCertSha256": exactly 64 hexadecimal digits, either case.
TEST(CertPinSetting, SixtyFourHexDigitsOnly) {
  std::array<unsigned char, 32> pin{};
  WString upper = Utf8ToWide("00FF" + std::string(60, 'a'));
  ASSERT_TRUE(ParseCertPin(upper, &pin));
  EXPECT_EQ(pin[0], 0x00);
  EXPECT_EQ(pin[1], 0xFF);
  EXPECT_EQ(pin[2], 0xAA);
  for (const std::string& bad : {std::string(63, 'a'), std::string(65, 'a'), std::string(63, 'a') + "g",
                                std::string(62, 'a') + " a", std::string()}) {
    EXPECT_FALSE(ParseCertPin(Utf8ToWide(bad), &pin)) << bad;
  }
  EXPECT_TRUE(IsTlsEndpoint(HV_W("HTTPS://host:8443")));
  EXPECT_FALSE(IsTlsEndpoint(HV_W("http://host")));
  EXPECT_TRUE(IsValidEndpoint(HV_W("https://[::1]:8443")));
  EXPECT_FALSE(IsValidEndpoint(HV_W("https://")));
  EXPECT_FALSE(IsValidEndpoint(HV_W("https://https://host")));
}

// Two pins separated by a comma let a certificate roll over; a third pin,
// an empty entry or a malformed one refuses the whole setting.
TEST(CertPinSetting, OneOrTwoPinsSeparatedByAComma) {
  const std::string a(64, 'a'), b = "00FF" + std::string(60, 'b');
  std::vector<CertPin> pins;
  ASSERT_TRUE(ParseCertPins(Utf8ToWide(a), &pins));
  EXPECT_EQ(pins.size(), 1u);
  ASSERT_TRUE(ParseCertPins(Utf8ToWide(a + " , " + b), &pins));
  ASSERT_EQ(pins.size(), 2u);
  EXPECT_EQ(pins[0][0], 0xAA);
  EXPECT_EQ(pins[1][1], 0xFF);
  for (const std::string& bad : {a + ",", "," + a, a + ",," + b, a + "," + b + "," + a, a + ";" + b,
                                a + "," + std::string(63, 'b'), std::string()}) {
    EXPECT_FALSE(ParseCertPins(Utf8ToWide(bad), &pins)) << bad;
  }
}

// "VerifyHost" goes into the request URL: only a host and a port may.
TEST(VerifyHostSetting, OnlyAHostAndAnOptionalPortAreAccepted) {
  for (const char* good : {"127.0.0.1", "verify.example.com", "host-1:8080", "a:1", "a:65535",
                           "[::1]", "[2001:db8::7]:443", "UPPER.Case_name", "localhost.:8443"}) {
    EXPECT_TRUE(IsValidEndpoint(Utf8ToWide(good))) << good;
  }
  for (const char* bad : {"", ":80", "host:", "host:0", "host:65536", "host:123456", "host:+80",
                          "host:8x", "host:port/other/path?x=", "host/path", "host?c=", "host#f",
                          "user@host", "a b", "host\t", "[::1", "[]", "[::1]x", "[::1]:",
                          "::1", "host:80:81", "h\xc3\xa9",
                          // Brackets hold a valid IPv6 address only.
                          "[1:2:3:4:5:6:7:8:9:a]", "[a::b::c]", "[1.2.3.4]:80", "[ace:be]",
                          // No empty label: "localhost.." went out as "localhost." to the server.
                          "localhost..:8443", "localhost..", ".:80", ".host"}) {
    EXPECT_FALSE(IsValidEndpoint(Utf8ToWide(bad))) << bad;
  }
  EXPECT_FALSE(IsValidEndpoint(WString(HV_W("host")) + WChar(0) + HV_W("x")));
}

}  // namespace
}  // namespace hv
