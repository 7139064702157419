// StartVerify against the reference verification endpoint, which checks
// real accounts with hashed passwords.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "base/utf.h"
#include "tests/support/fixtures.h"
#include "verify/verify_service.h"

namespace hv {
namespace {

class ReferenceEndpoint : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string port = testing::FixturePort("HV_VERIFY_ENDPOINT_DIR");
    ASSERT_FALSE(port.empty()) << "the endpoint fixture did not start";
    host_ = Utf8ToWide("127.0.0.1:" + port);
  }

  VerifyResult Verify(const WString& user, const WString& password) {
    HvVerifyImpl service(host_);
    VerifyResult result;
    service.StartVerify({user, password}, result);
    return result;
  }

  WString host_;
};

TEST_F(ReferenceEndpoint, AcceptsTheRightPasswordAndRejectsAWrongOne) {
  VerifyResult right = Verify(HV_W("alice"), HV_W("right-pw"));
  EXPECT_EQ(right.ResultType, VERIFY_RESULT_OK);
  EXPECT_EQ(right.ResultValue, HV_W("result=accepted"));
  VerifyResult wrong = Verify(HV_W("alice"), HV_W("wrong-pw"));
  EXPECT_EQ(wrong.ResultType, VERIFY_RESULT_OK);
  EXPECT_EQ(wrong.ResultValue, HV_W("result=rejected"));
  EXPECT_EQ(Verify(HV_W("nobody"), HV_W("x")).ResultValue, HV_W("result=rejected"));
}

TEST_F(ReferenceEndpoint, SpecialAndNonAsciiNamesReachItUnchanged) {
  EXPECT_EQ(Verify(HV_W("a&b=c"), HV_W("p=&q")).ResultValue, HV_W("result=accepted"));
  EXPECT_EQ(Verify(HV_W("J\u00fcrgen \u4e2d"), HV_W("p\u00e4ssw\u00f6rd")).ResultValue,
            HV_W("result=accepted"));
}

TEST_F(ReferenceEndpoint, EightThreadsEachGetTheirOwnAnswer) {
  std::atomic<int> right{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 4; ++i) {
        bool good = (t + i) % 2 == 0;
        VerifyResult r = Verify(HV_W("alice"), good ? HV_W("right-pw") : HV_W("bad"));
        WString expected = good ? HV_W("result=accepted") : HV_W("result=rejected");
        if (r.ResultType == VERIFY_RESULT_OK && r.ResultValue == expected) ++right;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(right.load(), 32);
}

}  // namespace
}  // namespace hv
