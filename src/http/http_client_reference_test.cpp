// The HTTP client against Python's http.server on loopback: a peer written
// by somebody else, with its own framing and redirect habits.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "base/utf.h"
#include "http/http_client.h"
#include "tests/support/fixtures.h"

namespace hv {
namespace {

std::string BaseUrl() {
  std::string port = testing::FixturePort("HV_REFERENCE_HTTP_DIR");
  return port.empty() ? "" : "http://127.0.0.1:" + port;
}

class ReferenceServer : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = BaseUrl();
    ASSERT_FALSE(base_.empty()) << "the reference server fixture did not start";
    settings_.timeout_ms = 3000;
  }
  std::string base_;
  NavigateSettings settings_;
};

TEST_F(ReferenceServer, FetchesAFile) {
  CAtlHttpClient client;
  ASSERT_TRUE(client.Navigate(Utf8ToWide(base_ + "/hello.txt"), settings_));
  EXPECT_EQ(client.GetStatus(), 200);
  EXPECT_EQ(std::string(client.GetBody()), "hello from http.server\n");
}

TEST_F(ReferenceServer, FollowsItsDirectoryRedirect) {
  CAtlHttpClient client;
  ASSERT_TRUE(client.Navigate(Utf8ToWide(base_ + "/sub"), settings_));
  EXPECT_EQ(client.GetStatus(), 200);
  EXPECT_EQ(std::string(client.GetBody()), "<p>sub index</p>\n");
  EXPECT_EQ(WideToUtf8(client.CurrentUrl().path), "/sub/");
}

TEST_F(ReferenceServer, MissingFileIsRefusedWithItsStatus) {
  CAtlHttpClient client;
  EXPECT_FALSE(client.Navigate(Utf8ToWide(base_ + "/missing"), settings_));
  EXPECT_EQ(client.GetStatus(), 404);
  EXPECT_EQ(client.GetLastError(), http_error::kBadResponse);
}

}  // namespace
}  // namespace hv
