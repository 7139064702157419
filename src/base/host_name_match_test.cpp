#include "base/host_name_match.h"

#include <gtest/gtest.h>

namespace hv {
namespace {

TEST(CertificateNameMatchesHost, ExactNamesMatchWithoutRegardToCase) {
  EXPECT_TRUE(CertificateNameMatchesHost("localhost", "localhost"));
  EXPECT_TRUE(CertificateNameMatchesHost("Verify.Example.COM", "verify.example.com"));
  EXPECT_FALSE(CertificateNameMatchesHost("verify.example.com", "verify.example.co"));
  EXPECT_FALSE(CertificateNameMatchesHost("example.com", "a.example.com"));
  EXPECT_FALSE(CertificateNameMatchesHost("", "localhost"));
  EXPECT_FALSE(CertificateNameMatchesHost("localhost", ""));
}

TEST(CertificateNameMatchesHost, WildcardStandsForExactlyOneLeftMostLabel) {
  EXPECT_TRUE(CertificateNameMatchesHost("*.example.com", "a.example.com"));
  EXPECT_TRUE(CertificateNameMatchesHost("*.Test.Example", "A.test.example"));
  EXPECT_FALSE(CertificateNameMatchesHost("*.example.com", "a.b.example.com"));
  EXPECT_FALSE(CertificateNameMatchesHost("*.example.com", "example.com"));
  EXPECT_FALSE(CertificateNameMatchesHost("*.example.com", ".example.com"));
  EXPECT_FALSE(CertificateNameMatchesHost("*.example.com", "a.example.org"));
}

// A star anywhere else, alone, inside a label or over a one-label suffix
// matches nothing (a common name like "*" or "l*" once passed this way).
TEST(CertificateNameMatchesHost, PartialAndBroadWildcardsMatchNothing) {
  for (const char* pattern : {"*", "l*", "*host", "f*.test.example", "*a.test.example", "*.com", "*.",
                              "*.*.example", "a.*.example.com", "*..example", "*.example.", "**.example.com"}) {
    for (const char* host : {"localhost", "foo.test.example", "a.test.example", "a.com", "x.y.example.com",
                             "a.b.example", "*", "l*", "a..example", "a.example."}) {
      EXPECT_FALSE(CertificateNameMatchesHost(pattern, host)) << pattern << " " << host;
    }
  }
}

}  // namespace
}  // namespace hv
