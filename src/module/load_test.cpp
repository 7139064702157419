// Load: the real module driven through Dispatch from 16 host threads
// against the reference endpoint, with SetVerifyOpt calls mixed in. Every
// reply must be right for its account and every log line whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "base/ascii.h"
#include "hv/vex_host.h"
#include "platform/library.h"
#include "platform/path.h"
#include "platform/system.h"
#include "tests/support/fixtures.h"
#include "tests/support/log_capture.h"
#include "tests/support/reply_sink.h"
#include "tests/support/temp_dir.h"

namespace hv {
namespace {

WString BinDirectory() { return platform::ExecutableDirectory(); }

std::filesystem::path AsPath(const WString& w) { return std::u16string(w.begin(), w.end()); }

int PerThread() {
  const char* text = std::getenv("HV_LOAD_PER_THREAD");
  int n = 200;
  if (text != nullptr) ParseStrictDecimal(std::string(text), 1000000, &n);
  return n;
}

const std::string kRight = testing::VerifyRequestDocument("alice", "right-pw");
const std::string kWrong = testing::VerifyRequestDocument("alice", "nope");
const std::string kOption = testing::TimeoutRequestDocument(20);

TEST(Load, SixteenHostThreadsAgainstTheReferenceEndpoint) {
  std::string port = testing::FixturePort("HV_VERIFY_ENDPOINT_DIR");
  ASSERT_FALSE(port.empty()) << "the endpoint fixture did not start";
  WString dir = BinDirectory();  // bin/load: this program, the module, the base library
  testing::WriteFileBytes(AsPath(dir + HV_W("vexcomm.dat")),
                          "[SPCfg]\r\nVerifyHost=127.0.0.1:" + port +
                              "\r\nVerifyLogLimit=67108864\r\n");  // every line of the run in one file
  platform::LoadedLibrary base, module;
  std::string error;
  ASSERT_TRUE(testing::LoadBesideProgram(&base, HV_W("vexbase"), &error)) << error;
  ASSERT_TRUE(testing::LoadBesideProgram(&module, HV_W("HvVerifySp"), &error)) << error;
  auto route = testing::Entry<VexBaseRouteRequestFn>(base, "vex_base_route_request");
  auto get_object = testing::Entry<HvDllGetClassObjectFn>(module, "HvDllGetClassObject");
  ASSERT_TRUE(route && get_object);
  void* out = nullptr;
  ASSERT_EQ(get_object(&CLSID_HvVerifyImpl, &IID_IVexServiceProvider, &out), 0);
  auto* service = static_cast<IVexServiceProvider*>(out);
  ASSERT_EQ(service->Start(), 0);

  testing::LogCapture log(AsPath(BinDirectory() + HV_W("verifylog.txt")));
  const int threads = 16, per_thread = PerThread();
  std::atomic<int> right{0}, dispatch_ok{0};
  std::mutex lock;
  std::vector<double> latencies;
  std::set<std::string> thread_ids;
  auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> hosts;
  for (int t = 0; t < threads; ++t) {
    hosts.emplace_back([&, t] {
      char id[16];
      std::snprintf(id, sizeof id, "%08lu", static_cast<unsigned long>(platform::CurrentThreadId()));
      std::vector<double> mine;
      for (int i = 0; i < per_thread; ++i) {
        if (i % 10 == 0) {
          testing::RecordingReply r;
          route("/IHvVerify/SetVerifyOpt", kOption.c_str(), &r, nullptr);
        }
        bool good = (t + i) % 2 == 0;
        testing::RecordingReply reply;
        auto begin = std::chrono::steady_clock::now();
        if (route("/IHvVerify/StartVerify", (good ? kRight : kWrong).c_str(), &reply, nullptr) == 0) ++dispatch_ok;
        mine.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count());
        auto texts = reply.replies();
        const char* expected = good ? "\"result=accepted\"" : "\"result=rejected\"";
        if (texts.size() == 1 && texts[0].find(expected) != std::string::npos) ++right;
      }
      std::lock_guard<std::mutex> hold(lock);
      latencies.insert(latencies.end(), mine.begin(), mine.end());
      thread_ids.insert(id);
    });
  }
  for (auto& h : hosts) h.join();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  service->Stop();
  service->Release();

  const int total = threads * per_thread;
  EXPECT_EQ(dispatch_ok.load(), total);
  EXPECT_EQ(right.load(), total);
  std::set<std::string> known = {"StartVerify : start...", "StartVerify : EncryptVerifyUrl finish!",
                                 "SendVerifyUrl : Navigate status is 200", "StartVerify : SendVerifyUrl finish!",
                                 "StartVerify : DecryptVerifyResult finish!", "StartVerify : end!"};
  int ours = 0;
  for (const std::string& line : log.Lines()) {
    if (line.size() < 30 || thread_ids.count(line.substr(20, 8)) == 0) continue;  // another process
    ++ours;
    EXPECT_TRUE(testing::HasLogPrefix(line)) << line;
    EXPECT_EQ(known.count(line.substr(30)), 1u) << line;
  }
  EXPECT_EQ(ours, total * 6);
  std::sort(latencies.begin(), latencies.end());
  std::printf("load: %d verifications from %d threads in %.2f s: %.0f per second, "
              "p50 %.2f ms, p99 %.2f ms\n", total, threads, seconds, total / seconds,
              latencies[latencies.size() / 2], latencies[latencies.size() * 99 / 100]);
}

}  // namespace
}  // namespace hv
