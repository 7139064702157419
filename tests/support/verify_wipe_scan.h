// One verification, with every block the verifying thread frees scanned
// for the password and the enciphered query (tests/support/freed_block_scan.h):
// what the scanning test programs share. The service is made by the caller,
// inside the scan, so that its own copies of settings are seen too.
//
// Thread-safety: one scan at a time, on the calling thread.
#ifndef HV_TESTS_SUPPORT_VERIFY_WIPE_SCAN_H_
#define HV_TESTS_SUPPORT_VERIFY_WIPE_SCAN_H_

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/utf.h"
#include "tests/support/fixtures.h"
#include "tests/support/freed_block_scan.h"
#include "tests/support/reply_sink.h"
#include "verify/cipher.h"
#include "verify/protocol.h"
#include "verify/verify_service.h"

namespace hv::testing {

inline std::string Utf16Bytes(const std::string& utf8) {
  WString wide = Utf8ToWide(utf8);
  return std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(WChar));
}

// The password in clear (UTF-8 and UTF-16), the query that carries it, and
// the enciphered query, Base64 and escaped, narrow and wide.
inline std::vector<std::pair<std::string, std::string>> VerifySecrets(const std::string& user,
                                                                      const std::string& password) {
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

// The passwords every path is tried with: short enough to sit inside a
// string object, and long enough to need the heap.
inline const std::vector<std::string>& ScannedPasswords() {
  static const std::vector<std::string> kPasswords = {"s3cret-pw", "a-much-longer-p\xC3\xA4ssw\xC3\xB6rd-42"};
  return kPasswords;
}

// Verifies "alice" with `password` through the service `make` returns,
// sending `document` when it is not empty (else the well-formed request),
// and fails the test for every secret found in a freed block. jsoncpp's
// reader decodes each string value into a temporary of its own before it
// stores it in the tree: that one copy of the password, in UTF-8, is
// beyond the module's reach (the README says so). Nothing else.
inline void ExpectNoSecretFreed(const std::string& path, const std::string& password,
                                const std::function<std::unique_ptr<HvVerifyImpl>()>& make,
                                const std::string& document = "") {
  SCOPED_TRACE(path + " with a password of " + std::to_string(password.size()) + " bytes");
  FreedBlockScan scan;  // first: the test's own copies are zeroed when freed
  std::string request = document.empty() ? VerifyRequestDocument("alice", password) : document;
  RecordingReply reply;
  scan.Start(VerifySecrets("alice", password));
  {
    std::unique_ptr<HvVerifyImpl> service = make();
    kHvVerifyMethods[1].handler(service.get(), request.c_str(), &reply);  // any outcome: each path is scanned
  }
  std::vector<std::pair<std::string, int>> found = scan.Stop();
  EXPECT_GT(scan.blocks(), 10);
  for (const auto& [what, blocks] : found) {
    if (what == "password utf-8") {
      EXPECT_LE(blocks, 1) << what;
    } else {
      ADD_FAILURE() << what << " left in " << blocks << " freed block(s)";
    }
  }
}

}  // namespace hv::testing

#endif  // HV_TESTS_SUPPORT_VERIFY_WIPE_SCAN_H_
