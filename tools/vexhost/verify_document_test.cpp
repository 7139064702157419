// The reference host's one copy of a password: read from standard input
// and put into StartVerify's document without any grown buffer or
// temporary keeping it, so that wiping the line and the document leaves
// none in freed memory (every block this thread frees is scanned).
#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/console.h"
#include "platform/memory.h"
#include "tests/support/freed_block_scan.h"
#include "verify_document.h"

namespace hv::host {
namespace {

TEST(VexhostPassword, ReadAndSentLeavesNoCopyInFreedBlocks) {
  if (!testing::FreedBlockScanAvailable()) GTEST_SKIP() << "the sanitizers own the allocator here";
  for (const std::string password : {"s3cret-pw", "a-much-longer-p\xC3\xA4ssw\xC3\xB6rd-42-with-\"quotes\"-and-more"}) {
    testing::FreedBlockScan scan;
    std::istringstream input(password + "\nnext line\n");
    std::streambuf* saved = std::cin.rdbuf(input.rdbuf());
    std::string secret = password.substr(0, 20);  // a part of it, whatever its escaping
    std::vector<std::pair<std::string, std::string>> patterns = {{"password", secret}};
    scan.Start(std::move(patterns));  // moved whole: no copy of a pattern is freed while armed
    bool read = false, sent = false;  // checked once the scan is over: a failing check allocates
    {
      std::string line, document;
      read = platform::ReadSecretLine(&line) && line == password;
      document = VerifyDocument("alice", line);
      sent = document.find(secret) != std::string::npos;
      platform::WipeString("password", line);
      platform::WipeString("request document", document);
    }
    std::vector<std::pair<std::string, int>> found = scan.Stop();
    std::cin.rdbuf(saved);
    EXPECT_TRUE(read && sent) << password;
    EXPECT_TRUE(found.empty()) << password << ": left in " << found[0].second << " freed block(s)";
  }
}

// The document is the one the module reads: the envelope, both values
// escaped as JSON strings.
TEST(VexhostPassword, DocumentEscapesTheValues) {
  EXPECT_EQ(VerifyDocument("al\"ice", "p\\w\x01"),
            "{\"root\":{\"request\":{\"param_count\":\"1\",\"param_1\":"
            "{\"User\":\"al\\\"ice\",\"Password\":\"p\\\\w\\u0001\"}}}}");
}

}  // namespace
}  // namespace hv::host
