// StartVerify and SetVerifyOpt against the scripted endpoint: results,
// the exact log sequences, and what reaches the endpoint.
#include "verify/verify_service.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "base/utf.h"
#include "ipc/method_stub.h"
#include "platform/memory.h"
#include "tests/support/fixtures.h"
#include "tests/support/log_capture.h"
#include "tests/support/reply_sink.h"
#include "tests/support/script_server.h"
#include "verify/protocol.h"

namespace hv {
namespace {

using ::testing::ElementsAre;
using testing::HttpResponse;
using testing::LogCapture;
using testing::ScriptServer;
using testing::Step;

ScriptServer Endpoint(const std::string& response) {
  return ScriptServer({{Step::Read(), Step::Send(response), Step::Close()}});
}

std::unique_ptr<HvVerifyImpl> ServiceFor(const ScriptServer& server) {
  auto service = std::make_unique<HvVerifyImpl>(
      Utf8ToWide("127.0.0.1:" + std::to_string(server.port())));
  service->set_wait_limit_ms(1000);
  return service;
}

VerifyResult Verify(HvVerifyImpl& service, const WString& user, const WString& password) {
  VerifyResult result;
  EXPECT_EQ(service.StartVerify({user, password}, result), 0);
  return result;
}

// One verification against an endpoint that sends `response`: the result,
// the log lines it wrote, and the request the endpoint received.
struct Traced {
  VerifyResult result;
  std::vector<std::string> log;
  std::string request;
};

Traced VerifyAgainst(const std::string& response, const WString& user = HV_W("u"),
                     const WString& password = HV_W("p")) {
  ScriptServer server = Endpoint(response);
  auto service = ServiceFor(server);
  LogCapture log;
  Traced traced;
  traced.result = Verify(*service, user, password);
  traced.log = log.Messages();
  std::vector<std::string> requests = server.Requests();
  if (!requests.empty()) traced.request = requests[0];
  return traced;
}

// Every answer with status 200 logs the same way up to its deciphering,
// whose outcome is the last stage line; an undecipherable one leaves the
// value empty.
TEST(StartVerifyLog, AnAnswerEndsInItsDecipheringOrItsFailure) {
  struct Case { std::string body; uint32_t type; WString value; const char* stage_line; } cases[] = {
      {EncipheredAnswer("@@@@@@ok"), VERIFY_RESULT_OK, HV_W("ok"), "StartVerify : DecryptVerifyResult finish!"},
      {"not base64 at all", VERIFY_RESULT_DECRYPT_FAILED, HV_W(""), "Decipher : Decrypt function call failed!"},
      {"", VERIFY_RESULT_DECRYPT_FAILED, HV_W(""), "Decipher : Decrypt function call failed!"},
      {EncipheredAnswer("@@@@@@@@"), VERIFY_RESULT_DECRYPT_FAILED, HV_W(""),
       "Decipher : Decrypt function call failed!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    Traced t = VerifyAgainst(HttpResponse(200, c.body), HV_W("alice"), HV_W("secret"));
    EXPECT_EQ(t.result.ResultType, c.type);
    EXPECT_EQ(t.result.ResultValue, c.value);
    EXPECT_THAT(t.log, ElementsAre("StartVerify : start...", "StartVerify : EncryptVerifyUrl finish!",
                                   "SendVerifyUrl : Navigate status is 200",
                                   "StartVerify : SendVerifyUrl finish!", c.stage_line, "StartVerify : end!"));
    EXPECT_EQ(QueryOfRequest(t.request), "UserName=alice&PassWord=secret");
  }
}

TEST(StartVerifyLog, EmptyUserOrPasswordSendsNothing) {
  ScriptServer server({});
  auto service = ServiceFor(server);
  {
    LogCapture log;
    EXPECT_EQ(Verify(*service, HV_W(""), HV_W("")).ResultType, VERIFY_RESULT_ENCRYPT_FAILED);
    EXPECT_THAT(log.Messages(), ElementsAre("StartVerify : start...",
                                            "EncryptVerifyUrl : user name is empty!",
                                            "StartVerify : end!"));
  }
  {
    LogCapture log;
    EXPECT_EQ(Verify(*service, HV_W("bob"), HV_W("")).ResultType, VERIFY_RESULT_ENCRYPT_FAILED);
    EXPECT_THAT(log.Messages(), ElementsAre("StartVerify : start...",
                                            "EncryptVerifyUrl : password is empty!",
                                            "StartVerify : end!"));
  }
  EXPECT_EQ(server.connections(), 0);
}

TEST(StartVerifyLog, InvalidEndpointSettingSendsNothing) {
  ScriptServer server({});
  HvVerifyImpl service(Utf8ToWide("127.0.0.1:" + std::to_string(server.port()) + "/other/path?x="));
  LogCapture log;
  VerifyResult r = Verify(service, HV_W("alice"), HV_W("secret"));
  EXPECT_EQ(r.ResultType, VERIFY_RESULT_ENCRYPT_FAILED);
  EXPECT_THAT(log.Messages(), ElementsAre("StartVerify : start...",
                                          "EncryptVerifyUrl : endpoint setting VerifyHost is invalid!",
                                          "StartVerify : end!"));
  EXPECT_EQ(server.connections(), 0);
}

// VerifyHost=[::1]:PORT reaches a listener on ::1: the brackets are not
// escaped on the way into the URL.
TEST(StartVerifyEndpoint, BracketedIpv6HostReachesTheListenerOnLoopbackSix) {
  ScriptServer server({{Step::Read(), Step::Send(HttpResponse(200, EncipheredAnswer("six"))), Step::Close()}},
                      true);
  HvVerifyImpl service(Utf8ToWide("[::1]:" + std::to_string(server.port())));
  service.set_wait_limit_ms(2000);
  VerifyResult r = Verify(service, HV_W("u"), HV_W("p"));
  EXPECT_EQ(r.ResultType, VERIFY_RESULT_OK);
  EXPECT_EQ(r.ResultValue, HV_W("six"));
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_NE(server.Requests()[0].find("\r\nHost: [::1]:" + std::to_string(server.port()) + "\r\n"),
            std::string::npos);
}

// A refused status is logged with a number and words of its own (it was
// "GetLastError is 0", the number of no error).
TEST(StartVerifyLog, NotFoundIsANavigationFailureWithItsCause) {
  Traced t = VerifyAgainst(HttpResponse(404, "no"));
  EXPECT_EQ(t.result.ResultType, VERIFY_RESULT_SEND_FAILED);
  EXPECT_THAT(t.log,
              ElementsAre("StartVerify : start...", "StartVerify : EncryptVerifyUrl finish!",
                          "SendVerifyUrl : CAtlHttpClient Navigate is failed! Navigate "
                          "GetLastError is 12152",
                          "SendVerifyUrl : Navigate failed: the answer's status is not one the module accepts "
                          "(status 404)!",
                          "StartVerify : end!"));
}

TEST(StartVerifyLog, NotModifiedIsLoggedThenFails) {
  Traced t = VerifyAgainst(HttpResponse(304, ""));
  EXPECT_EQ(t.result.ResultType, VERIFY_RESULT_SEND_FAILED);
  EXPECT_THAT(t.log,
              ElementsAre("StartVerify : start...", "StartVerify : EncryptVerifyUrl finish!",
                          "SendVerifyUrl : Navigate status is 304", "StartVerify : end!"));
}

TEST(StartVerifyQuery, SpecialCharactersNulAndNonAsciiTravelAsUtf8) {
  struct Case { WString user, password; std::string query; } cases[] = {
      {HV_W("a&b=c"), HV_W("p=&"), "UserName=a&b=c&PassWord=p=&"},
      {WString(HV_W("cut\0rest"), 8), HV_W("pw"), "UserName=cut"},
      {HV_W("J\u00fcrgen \u4e2d"), HV_W("\U0001F600"),
       "UserName=J\xC3\xBCrgen \xE4\xB8\xAD&PassWord=\xF0\x9F\x98\x80"},
  };
  for (const auto& c : cases) {
    Traced t = VerifyAgainst(HttpResponse(200, EncipheredAnswer("r\xC3\xA9sultat")), c.user, c.password);
    EXPECT_EQ(t.result.ResultType, VERIFY_RESULT_OK);
    EXPECT_EQ(t.result.ResultValue, HV_W("r\u00e9sultat"));
    EXPECT_EQ(QueryOfRequest(t.request), c.query);
  }
}

// Every copy of the password the module makes for a verification (the
// decoded request document and record, the query text, its UTF-8 bytes,
// the cipher's work buffer) and of the enciphered query (the cipher text,
// the URL, its normalised form and parts, the request) is wiped, to
// zeros, before it is let go.
std::vector<std::pair<std::string, std::string>> g_wiped;  // what, bytes after the wipe

TEST(Credentials, EveryCopyOfThePasswordIsWiped) {
  ScriptServer server = Endpoint(HttpResponse(200, EncipheredAnswer("@@@@@@ok")));
  auto service = ServiceFor(server);
  g_wiped.clear();
  platform::SetWipeObserver([](const char* what, const void* data, size_t size) {
    g_wiped.emplace_back(what, std::string(static_cast<const char*>(data), size));
  });
  testing::RecordingReply reply;
  std::string request = testing::VerifyRequestDocument("alice", "s3cret-pw");
  EXPECT_EQ(kHvVerifyMethods[1].handler(service.get(), request.c_str(), &reply), 0);
  platform::SetWipeObserver(nullptr);
  ASSERT_EQ(reply.replies().size(), 1u);
  EXPECT_THAT(reply.replies()[0], ::testing::HasSubstr("\"ResultValue\" : \"ok\""));
  std::set<std::string> kinds;
  for (const auto& [what, bytes] : g_wiped) {
    kinds.insert(what);
    EXPECT_EQ(bytes, std::string(bytes.size(), '\0')) << what;
  }
  EXPECT_EQ(kinds, (std::set<std::string>{"request document", "request record", "query", "query utf-8",
                                          "cipher work", "cipher text", "url", "url parts", "request"}));
  // The query's buffers held the whole query: nothing of it was left out
  // (a wipe clears a buffer's whole capacity, which may be more).
  size_t query_bytes = std::string("UserName=alice&PassWord=s3cret-pw").size();
  for (const auto& [what, bytes] : g_wiped) {
    if (what == std::string("query utf-8")) {
      EXPECT_GE(bytes.size(), query_bytes);
    } else if (what == std::string("query")) {
      EXPECT_GE(bytes.size(), 2 * query_bytes);
    }
  }
}

TEST(StartVerifyDeadline, SilentEndpointEndsWithinTheTimeoutOption) {
  ScriptServer server({{Step::Hold()}});
  HvVerifyImpl service(Utf8ToWide("127.0.0.1:" + std::to_string(server.port())));
  NullResult none;
  service.SetVerifyOpt({VERIFY_OPT_TIMEOUT, HV_W("1")}, none);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Verify(service, HV_W("u"), HV_W("p")).ResultType, VERIFY_RESULT_SEND_FAILED);
  auto spent = std::chrono::steady_clock::now() - start;
  EXPECT_GE(spent, std::chrono::milliseconds(900));
  EXPECT_LT(spent, std::chrono::milliseconds(2500));
}

TEST(SetVerifyOpt, ParsesLikeWcstolAndIgnoresTheRest) {
  struct Case { uint32_t mode; const WChar* value; uint32_t expected; } cases[] = {
      {1, HV_W("45 seconds"), 45}, {1, HV_W("  +60"), 60}, {1, HV_W("0"), 30},
      {1, HV_W("-3"), 30},         {1, HV_W("abc"), 30},   {1, HV_W(""), 30},
      {2, HV_W("45"), 30},         {1, HV_W("99999999999"), 2147483647},
  };
  for (const auto& c : cases) {
    HvVerifyImpl service(HV_W("127.0.0.1"));
    NullResult none;
    EXPECT_EQ(service.SetVerifyOpt({c.mode, c.value}, none), 0);
    EXPECT_EQ(service.timeout_setting(), c.expected) << WideToUtf8(c.value);
    EXPECT_EQ(none.NullValue, 0);
  }
}

TEST(StartVerifyConcurrency, EightThreadsGetTheirOwnAnswersAndWholeLines) {
  ScriptServer server({{Step::Read(), Step::Send(HttpResponse(200, EncipheredAnswer("@@@@@@ok"))),
                        Step::Close()}});
  auto service = ServiceFor(server);
  LogCapture log;
  std::atomic<int> ok{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 5; ++i) {
        VerifyResult r;
        service->StartVerify({HV_W("user"), HV_W("pw")}, r);
        if (r.ResultType == VERIFY_RESULT_OK && r.ResultValue == HV_W("ok")) ++ok;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(ok.load(), 40);
  std::set<std::string> known = {"StartVerify : start...", "StartVerify : EncryptVerifyUrl finish!",
                                 "SendVerifyUrl : Navigate status is 200",
                                 "StartVerify : SendVerifyUrl finish!",
                                 "StartVerify : DecryptVerifyResult finish!", "StartVerify : end!"};
  auto messages = log.Messages();
  EXPECT_EQ(messages.size(), 240u);
  for (const std::string& m : messages) EXPECT_EQ(known.count(m), 1u) << m;
}

}  // namespace
}  // namespace hv
