// Hostile endpoints: whatever the peer does, StartVerify returns 0 within
// the time-out option's deadline with the failing stage's result and log
// lines, and the next verification on the same object works.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "base/utf.h"
#include "verify/protocol.h"
#include "tests/support/log_capture.h"
#include "tests/support/script_server.h"
#include "verify/verify_service.h"

namespace hv {
namespace {

using ::testing::Contains;
using testing::HttpResponse;
using testing::Script;
using testing::Step;

const char kSendFailed[] = "SendVerifyUrl : CAtlHttpClient Navigate is failed! Navigate GetLastError is ";

Script Good() {
  return {Step::Read(), Step::Send(HttpResponse(200, EncipheredAnswer(kAnswerAccepted))),
          Step::Close()};
}

struct Fault {
  const char* name;
  std::vector<Script> hostile;  // the connections of the failing verification
  uint32_t result_type;
  // Result 3: the error number logged and the start of the cause's words
  // (every failure once logged "GetLastError is 0" but resets and refusals).
  const char* error = "";
  const char* cause = "";
};

std::string RandomBase64(size_t bytes) {
  std::mt19937 rng(5);
  std::string raw;
  for (size_t i = 0; i < bytes; ++i) raw.push_back(static_cast<char>(rng()));
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (unsigned char c : raw) text.push_back(kAlphabet[c % 64]);
  return text.substr(0, text.size() / 4 * 4);
}

std::vector<Fault> Faults(uint16_t dead_port) {
  Script endless_header = {Step::Read(), Step::Send("HTTP/1.1 200 OK\r\n")};
  for (int i = 0; i < 40; ++i) endless_header.push_back(Step::Send("X: " + std::string(256 * 1024, 'h') + "\r\n"));
  Script endless_chunks = {Step::Read(), Step::Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")};
  // Paced, so that the deadline ends it rather than the body limit (a flood
  // would measure the machine's speed under load instead), and over soon
  // after, so that the server is free for the next verification.
  for (int i = 0; i < 24; ++i) {
    endless_chunks.push_back(Step::Send("10000\r\n" + std::string(0x10000, 'c') + "\r\n"));
    endless_chunks.push_back(Step::Sleep(100));
  }
  Script self_redirect = {Step::Read(), Step::Send(HttpResponse(302, "", "Location: /again\r\nConnection: close\r\n")),
                          Step::Close()};
  return {
      {"never answers", {{Step::Hold()}}, 3, "10060", "a wait ran out of time"},
      {"closes at once", {{Step::Close()}}, 3, "10054", "the peer closed or reset"},
      {"resets during the header", {{Step::Read(), Step::Send("HTTP/1.1 200 OK\r\nX: y"), Step::Reset()}}, 3, "10054",
       "the peer closed or reset"},
      {"garbage status line", {{Step::Read(), Step::Send("garbage garbage\r\n\r\n"), Step::Close()}}, 3, "12152",
       "the answer's status line is malformed"},
      {"10 MiB header", {endless_header}, 3, "12182", "the answer's head is over the header limit"},
      {"1 GiB announced", {{Step::Read(), Step::Send("HTTP/1.1 200 OK\r\nContent-Length: 1073741824\r\n\r\nab"), Step::Hold()}}, 3,
       "12184", "the answer's body is over the body limit (status 200)"},
      {"endless chunked body", {endless_chunks}, 3, "10060", "a wait ran out of time"},
      {"drips a byte every 200 ms", {{Step::Read(), Step::Drip(HttpResponse(200, std::string(64, 'd')), 200)}}, 3, "10060",
       "a wait ran out of time"},
      {"redirects to itself", std::vector<Script>(11, self_redirect), 3, "12156", "more redirects than the limit allows"},
      {"redirects to a dead port", {{Step::Read(), Step::Send(HttpResponse(302, "", "Location: http://127.0.0.1:" +
                                                         std::to_string(dead_port) + "/\r\n")), Step::Close()}}, 3,
       "10061", "the connection was refused"},
      {"refused status", {{Step::Read(), Step::Send(HttpResponse(404, "no")), Step::Close()}}, 3, "12152",
       "the answer's status is not one the module accepts (status 404)"},
      {"asks for authentication", {{Step::Read(), Step::Send(HttpResponse(401, "", "WWW-Authenticate: Basic\r\n")), Step::Close()}},
       3, "12015", "authentication is asked for"},
      {"invalid framing", {{Step::Read(), Step::Send("HTTP/1.1 200 OK\r\nContent-Length: 1, 2\r\n\r\nab"), Step::Close()}}, 3,
       "12152", "the answer's framing"},
      {"malformed chunked body", {{Step::Read(), Step::Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n"), Step::Close()}},
       3, "12152", "the chunked body is malformed"},
      {"redirect to another scheme", {{Step::Read(), Step::Send(HttpResponse(302, "", "Location: ftp://127.0.0.1/x\r\n")), Step::Close()}},
       3, "12006", "a redirect to another scheme is refused"},
      {"redirect to an unusable location", {{Step::Read(), Step::Send(HttpResponse(302, "", "Location: http://127.0.0.1:99999/x\r\n")), Step::Close()}},
       3, "12005", "the redirect's Location is not a URL"},
      // Only the orderly close ends a body without a length: a reset cuts it.
      {"resets in a body without a length", {{Step::Read(), Step::Send("HTTP/1.1 200 OK\r\n\r\n" +
                                              EncipheredAnswer("result=accepted&status=account-disabled-by-admin").substr(0, 32)),
                                              Step::Sleep(300), Step::Reset()}}, 3, "10054", "the peer closed or reset"},
      {"random Base64 answer", {{Step::Read(), Step::Send(HttpResponse(200, RandomBase64(20))), Step::Close()}}, 4},
  };
}

TEST(HostileEndpoint, EveryFaultEndsInItsStageWithinTheDeadline) {
  uint16_t dead_port;
  {
    testing::ScriptServer gone({});
    dead_port = gone.port();
  }
  for (Fault& fault : Faults(dead_port)) {
    SCOPED_TRACE(fault.name);
    std::vector<Script> scripts = fault.hostile;
    scripts.push_back(Good());
    testing::ScriptServer server(scripts);
    HvVerifyImpl service(Utf8ToWide("127.0.0.1:" + std::to_string(server.port())));
    NullResult none;
    service.SetVerifyOpt({VERIFY_OPT_TIMEOUT, HV_W("2")}, none);

    testing::LogCapture log;
    VerifyResult result;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(service.StartVerify({HV_W("alice"), HV_W("pw")}, result), 0);
    auto spent = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result.ResultType, fault.result_type);
    EXPECT_LT(spent, std::chrono::milliseconds(3000));
    auto messages = log.Messages();
    if (fault.result_type == 3) {
      bool stage_line = false;
      for (const auto& m : messages) stage_line |= m.rfind(kSendFailed, 0) == 0 || m.rfind("SendVerifyUrl : Navigate status is", 0) == 0;
      EXPECT_TRUE(stage_line);
      EXPECT_THAT(messages, Contains(::testing::StartsWith(kSendFailed + std::string(fault.error))));
      EXPECT_THAT(messages, Contains(::testing::StartsWith(std::string("SendVerifyUrl : Navigate failed: ") + fault.cause)))
          << ::testing::PrintToString(messages);
      EXPECT_THAT(messages, ::testing::Not(Contains(kSendFailed + std::string("0"))));
    } else {
      EXPECT_THAT(messages, Contains("Decipher : Decrypt function call failed!"));
    }
    EXPECT_THAT(messages, Contains("StartVerify : end!"));

    VerifyResult next;
    service.StartVerify({HV_W("alice"), HV_W("pw")}, next);
    EXPECT_EQ(next.ResultType, VERIFY_RESULT_OK);
    EXPECT_EQ(next.ResultValue, HV_W("result=accepted"));
  }
}

}  // namespace
}  // namespace hv
