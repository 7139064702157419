#include "platform/path.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/utf.h"
#include "hv/vex_host.h"
#include "platform/system.h"

namespace hv::platform {
namespace {

TEST(ModuleFilePath, GrowsTheBufferUntilTheNameFits) {
  const WString name = Utf8ToWide(std::string(300, 'p'));
  std::vector<uint32_t> tried;
  auto query = [&](WChar* buffer, uint32_t capacity) {
    tried.push_back(capacity + 1);
    size_t n = name.size() < capacity ? name.size() : capacity;
    name.copy(buffer, n);
    return static_cast<uint32_t>(n);
  };
  WString path;
  ASSERT_TRUE(GrowingModuleFilePath(query, &path));
  EXPECT_EQ(path, name);
  EXPECT_EQ(tried, (std::vector<uint32_t>{256, 512}));
  auto always_cut = [](WChar*, uint32_t capacity) { return capacity; };
  EXPECT_FALSE(GrowingModuleFilePath(always_cut, &path));
  auto failing = [](WChar*, uint32_t) { return 0u; };
  EXPECT_FALSE(GrowingModuleFilePath(failing, &path));
}

// The executable's directory is where the test binary really is, with the
// separator at its end that callers append file names to.
TEST(ExecutableDirectory, HoldsThisProgramAndEndsWithTheSeparator) {
  WString image;
  ASSERT_TRUE(ModuleFilePath(nullptr, &image));
  WString dir = ExecutableDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), PathSeparator());
  EXPECT_EQ(image.compare(0, dir.size(), dir), 0);
  EXPECT_EQ(image.find(PathSeparator(), dir.size()), WString::npos);
  EXPECT_TRUE(std::filesystem::exists(std::u16string(image.begin(), image.end())));
  // This code is linked into the executable: its module is the same file.
  EXPECT_EQ(ModuleDirectory(ThisModule()), dir);
}

TEST(LibraryFileName, FollowsThePlatformsNaming) {
  WString name = LibraryFileName(HV_W("vexbase"));
  EXPECT_EQ(name, PathSeparator() == '/' ? WString(HV_W("libvexbase.so")) : WString(HV_W("vexbase.dll")));
  EXPECT_EQ(name, WString(VEX_BASE_LIBRARY_NAME));
}

}  // namespace
}  // namespace hv::platform
