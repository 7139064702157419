// Benchmarks of the module against what a user would write instead, side
// by side in one run: the cipher against OpenSSL, one verification over
// loopback against libcurl + OpenSSL and against a plain socket, Dispatch
// against jsoncpp alone, and the log; the same verification over TLS
// against libcurl and against a plain OpenSSL client.
#include <benchmark/benchmark.h>
#include <json/json.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/utf.h"
#include "ipc/ipc_server.h"
#include "log/logger.h"
#include "peers.h"
#include "tls_peers.h"
#include "platform/socket.h"
#include "verify/protocol.h"
#include "tests/support/fixtures.h"
#include "tests/support/temp_dir.h"
#include "verify/cipher.h"
#include "verify/verify_service.h"

namespace hv::bench {
namespace {

// The run's own folder: the module's log and the floor's lines go there.
std::string& RunDirectory() {
  static std::string dir;
  return dir;
}

const std::string kQuery = VerifyQuery("benchmark-user", "benchmark-pass1");  // 48 bytes

std::string FastResponse() {
  std::string body = EncipheredAnswer(kAnswerAccepted);
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
         body;
}

// One fast loopback endpoint for all three peers: a fixed enciphered
// answer with "Connection: close", no password hashing.
class FastEndpoint {
 public:
  FastEndpoint() {
    listener_.Listen(0);
    response_ = FastResponse();
    for (int i = 0; i < 2; ++i) threads_.emplace_back([this] { Serve(); });
  }
  ~FastEndpoint() {
    stop_ = true;
    for (auto& t : threads_) t.join();
  }
  uint16_t port() const { return listener_.port(); }

 private:
  void Serve() {
    while (!stop_) {
      platform::TcpSocket connection;
      uint32_t error = 0;
      if (listener_.Accept(50, &connection, &error) != platform::IoStatus::kOk) continue;
      std::string request;
      char buffer[4096];
      while (request.find("\r\n\r\n") == std::string::npos) {
        size_t got = 0;
        if (connection.Receive(buffer, sizeof buffer, 2000, &got, &error) != platform::IoStatus::kOk ||
            got == 0) {
          break;
        }
        request.append(buffer, got);
      }
      size_t sent = 0;
      connection.Send(response_.data(), response_.size(), 2000, &sent, &error);
    }
  }

  platform::TcpListener listener_;
  std::string response_;
  std::atomic<bool> stop_{false};
  std::vector<std::thread> threads_;
};

FastEndpoint& Endpoint() {
  static FastEndpoint endpoint;
  return endpoint;
}

void BM_Encipher_Module(benchmark::State& state) {
  std::string out;
  for (auto _ : state) benchmark::DoNotOptimize(Encipher(kQuery, &out));
}
void BM_Encipher_OpenSSL(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(OpenSslEncipher(kQuery));
}

const std::string& Answer24() {
  static const std::string answer = EncipheredAnswer("result=accepted@@@@@@@@@");
  return answer;
}
void BM_Decipher_Module(benchmark::State& state) {
  std::string out;
  for (auto _ : state) benchmark::DoNotOptimize(Decipher(Answer24(), &out));
}
void BM_Decipher_OpenSSL(benchmark::State& state) {
  std::string out;
  for (auto _ : state) benchmark::DoNotOptimize(OpenSslDecipher(Answer24(), &out));
}

void BM_Verify_Module(benchmark::State& state) {
  HvVerifyImpl service(Utf8ToWide("127.0.0.1:" + std::to_string(Endpoint().port())));
  for (auto _ : state) {
    VerifyResult result;
    service.StartVerify({HV_W("benchmark-user"), HV_W("benchmark-pass1")}, result);
    if (result.ResultType != VERIFY_RESULT_OK) state.SkipWithError("verification failed");
  }
}
void BM_Verify_Curl(benchmark::State& state) {
  std::string answer;
  for (auto _ : state) {
    if (!CurlVerify(Endpoint().port(), "benchmark-user", "benchmark-pass1", &answer)) {
      state.SkipWithError("verification failed");
    }
  }
}
// The request the module sends, as a user would write it to `port`.
std::string FloorRequest(uint16_t port) {
  return "GET " + std::string(kVerifyPath) + kVerifyQueryStart + OpenSslEncipher(kQuery) +
         " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
         "\r\nUser-Agent: Microsoft-ATL-Native/8.00\r\n\r\n";
}

// The exchange alone.
void BM_Verify_Floor(benchmark::State& state) {
  std::string request = FloorRequest(Endpoint().port());
  for (auto _ : state) {
    std::string response;
    if (!PlainSocketExchange(Endpoint().port(), request, &response)) state.SkipWithError("exchange failed");
  }
}

// The least a verification with its log can cost: the exchange and six
// appended lines, one write each, beside the module's own log.
void BM_Verify_FloorWithLog(benchmark::State& state) {
  std::string request = FloorRequest(Endpoint().port());
  AppendedLines lines(RunDirectory() + "/floor-log.txt");
  for (auto _ : state) {
    std::string response;
    if (!PlainSocketExchange(Endpoint().port(), request, &response) || !lines.WriteSix()) {
      state.SkipWithError("exchange failed");
    }
  }
}

// Over TLS: one endpoint, one certificate, pinned by all three.
TlsEndpoint& SecureEndpoint() {
  static TlsEndpoint endpoint(FastResponse());
  return endpoint;
}

void BM_VerifyTls_Module(benchmark::State& state) {
  HvVerifyImpl service(Utf8ToWide("https://127.0.0.1:" + std::to_string(SecureEndpoint().port())),
                       Utf8ToWide(SecureEndpoint().certificate_pin()));
  for (auto _ : state) {
    VerifyResult result;
    service.StartVerify({HV_W("benchmark-user"), HV_W("benchmark-pass1")}, result);
    if (result.ResultType != VERIFY_RESULT_OK) state.SkipWithError("verification failed");
  }
}
void BM_VerifyTls_Curl(benchmark::State& state) {
  std::string answer;
  for (auto _ : state) {
    if (!CurlVerifyTls(SecureEndpoint().port(), SecureEndpoint().curl_pin(), "benchmark-user", "benchmark-pass1",
                       &answer)) {
      state.SkipWithError("verification failed");
    }
  }
}
void BM_VerifyTls_CurlShared(benchmark::State& state) {
  std::string answer;
  for (auto _ : state) {
    if (!CurlVerifyTls(SecureEndpoint().port(), SecureEndpoint().curl_pin(), "benchmark-user", "benchmark-pass1",
                       &answer, SharedTlsSessions())) {
      state.SkipWithError("verification failed");
    }
  }
}
void BM_VerifyTls_Floor(benchmark::State& state) {
  std::string request = FloorRequest(SecureEndpoint().port());
  for (auto _ : state) {
    std::string response;
    if (!TlsSocketExchange(SecureEndpoint().port(), SecureEndpoint().certificate_pin(), request, &response)) {
      state.SkipWithError("exchange failed");
    }
  }
}
void BM_VerifyTls_FloorResumed(benchmark::State& state) {
  std::string request = FloorRequest(SecureEndpoint().port());
  for (auto _ : state) {
    std::string response;
    if (!TlsSocketExchange(SecureEndpoint().port(), SecureEndpoint().certificate_pin(), request, &response,
                           true)) {
      state.SkipWithError("exchange failed");
    }
  }
}

const std::string kSetOption = testing::TimeoutRequestDocument(60);

void BM_Dispatch_Module(benchmark::State& state) {
  HvVerifyImpl service(HV_W("127.0.0.1"));
  IVexRequestDispatch* dispatch = &service;
  // Takes the reply as a host would read it, and keeps nothing: the peer
  // below keeps nothing of its own output either.
  struct Sink : IVexResponse {
    HvResult HV_CALL SetResponse(const char* text, uint32_t length) override {
      benchmark::DoNotOptimize(text);
      benchmark::DoNotOptimize(length);
      return 0;
    }
  } sink;
  for (auto _ : state) {
    benchmark::DoNotOptimize(dispatch->Dispatch("/IHvVerify/SetVerifyOpt", kSetOption.c_str(), &sink, nullptr));
  }
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
void BM_Dispatch_Jsoncpp(benchmark::State& state) {
  for (auto _ : state) {
    Json::Value request;
    Json::Reader reader;
    reader.parse(kSetOption.data(), kSetOption.data() + kSetOption.size(), request, false);
    Json::Value reply;
    reply["root"]["error"]["error_code"] = "0";
    reply["root"]["error"]["error_msg"] = "";
    reply["root"]["result"]["NullValue"] = "0";
    Json::StyledWriter writer;
    benchmark::DoNotOptimize(writer.write(reply));
  }
}
#pragma GCC diagnostic pop

void BM_Log(benchmark::State& state) {
  for (auto _ : state) {
    VerifyLog() << HV_W("SendVerifyUrl : Navigate status is ") << LogContinue << 200 << LogEndLine;
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_Encipher_Module);
BENCHMARK(BM_Encipher_OpenSSL);
BENCHMARK(BM_Decipher_Module);
BENCHMARK(BM_Decipher_OpenSSL);
BENCHMARK(BM_Verify_Module)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_Verify_Curl)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_Verify_Floor)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_Verify_FloorWithLog)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_VerifyTls_Module)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_VerifyTls_Curl)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_VerifyTls_CurlShared)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_VerifyTls_Floor)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_VerifyTls_FloorResumed)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_Dispatch_Module);
BENCHMARK(BM_Dispatch_Jsoncpp);
BENCHMARK(BM_Log)->Threads(1)->Threads(4)->UseRealTime();

}  // namespace
}  // namespace hv::bench

// The module's log and method table as the module sets them up at load,
// without its load-time objects: the log is a file of the run's own.
int main(int argc, char** argv) {
  hv::testing::TempDir dir;
  hv::bench::RunDirectory() = dir.path().string();
  hv::HvLogger log(hv::testing::ToWide(dir.File("verifylog.txt")));
  hv::SetVerifyLog(&log);
  for (const hv::HvVerifyMethod& method : hv::kHvVerifyMethods) {
    hv::IpcMethodRegistrar(&hv::IpcInterfaceName<hv::IHvVerify>, method.name, method.handler);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  hv::SetVerifyLog(nullptr);
  return 0;
}
