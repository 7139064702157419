// No copy of a password, nor of the enciphered query (as good as the
// password to anyone holding the module), is left in memory that a
// verification frees: every block the verifying thread frees is scanned
// for them (see tests/support/freed_block_scan.h), for passwords short
// enough to sit inside a string object and long enough to need the heap.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "base/utf.h"
#include "tests/support/fixtures.h"
#include "tests/support/freed_block_scan.h"
#include "tests/support/reply_sink.h"
#include "tests/support/script_server.h"
#include "verify/cipher.h"
#include "verify/protocol.h"
#include "verify/verify_service.h"

namespace hv {
namespace {

using testing::FreedBlockScan;
using testing::HttpResponse;
using testing::ScriptServer;
using testing::Step;

std::string Utf16Bytes(const std::string& utf8) {
  WString wide = Utf8ToWide(utf8);
  return std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(WChar));
}

// The password in clear (UTF-8 and UTF-16), the query that carries it, and
// the enciphered query, Base64 and escaped, narrow and wide.
std::vector<std::pair<std::string, std::string>> Secrets(const std::string& user, const std::string& password) {
  std::string query = VerifyQuery(user, password);
  std::string escaped;
  EXPECT_TRUE(Encipher(query, &escaped));
  std::string base64;
  for (size_t i = 0; i < escaped.size(); ++i) {
    if (escaped[i] == '%' && i + 2 < escaped.size()) {
      base64.push_back(static_cast<char>(std::stoi(escaped.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      base64.push_back(escaped[i]);
    }
  }
  return {
      {"password utf-8", password},
      {"password utf-16", Utf16Bytes(password)},
      {"query utf-8", "&PassWord=" + password},
      {"query utf-16", Utf16Bytes("&PassWord=" + password)},
      {"enciphered query", base64},
      {"enciphered query utf-16", Utf16Bytes(base64)},
      {"enciphered query escaped", escaped},
      {"enciphered query escaped utf-16", Utf16Bytes(escaped)},
  };
}

class FreedBlocks : public ::testing::TestWithParam<const char*> {};

TEST_P(FreedBlocks, HoldNoPasswordNorEncipheredQuery) {
  if (!testing::FreedBlockScanAvailable()) GTEST_SKIP() << "the sanitizers own the allocator here";
  FreedBlockScan scan;  // first: the test's own copies are zeroed when freed
  const std::string password = GetParam();
  ScriptServer server({{Step::Read(), Step::Send(HttpResponse(200, EncipheredAnswer("result=accepted"))), Step::Close()}});
  HvVerifyImpl service(Utf8ToWide("127.0.0.1:" + std::to_string(server.port())));
  service.set_wait_limit_ms(2000);
  std::string request = testing::VerifyRequestDocument("alice", password);
  testing::RecordingReply reply;
  std::vector<std::pair<std::string, int>> found;
  scan.Start(Secrets("alice", password));
  ASSERT_EQ(kHvVerifyMethods[1].handler(&service, request.c_str(), &reply), 0);
  found = scan.Stop();
  EXPECT_GT(scan.blocks(), 10);
  ASSERT_EQ(reply.replies().size(), 1u);
  EXPECT_THAT(reply.replies()[0], ::testing::HasSubstr("result=accepted"));
  // jsoncpp's reader decodes each string value into a temporary of its own
  // before it stores it in the tree: that one copy of the password, in
  // UTF-8, is beyond the module's reach (the README says so). Nothing else.
  for (const auto& [what, blocks] : found) {
    if (what == "password utf-8") {
      EXPECT_LE(blocks, 1) << what;
    } else {
      ADD_FAILURE() << what << " left in " << blocks << " freed block(s)";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(ShortAndLongPasswords, FreedBlocks,
                         ::testing::Values("s3cret-pw", "a-much-longer-p\xC3\xA4ssw\xC3\xB6rd-42"));

}  // namespace
}  // namespace hv
