// The soak host: a service host that lives for a while (HV_SOAK_SECONDS,
// default 60) and, cycle after cycle, loads the module, creates and starts
// its service, routes verifications from 8 threads against the reference
// endpoint for HV_SOAK_CYCLE_MS (default 5000), then stops and releases the
// service and unloads the module, as the host contract orders it. Its log
// is rotated under it by tests/support/soak_check.py, which also watches
// its memory and checks every line of the log.
//
//   soak_host    (beside it: the module, the base library, "vexcomm.dat")
//
// Prints "soak: V verifications in C cycles" and exits 0 when every reply
// was right; 1 otherwise.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "hv/vex_host.h"
#include "platform/library.h"
#include "tests/support/fixtures.h"
#include "tests/support/reply_sink.h"

namespace hv {
namespace {

long Setting(const char* name, long fallback) {
  const char* text = std::getenv(name);
  long value = text != nullptr ? std::strtol(text, nullptr, 10) : 0;
  return value > 0 ? value : fallback;
}

// One cycle: false at the first step that did not give its normal result.
bool Cycle(VexBaseRouteRequestFn route, std::chrono::milliseconds length, std::atomic<long>* verified) {
  platform::LoadedLibrary module;
  std::string error;
  if (!testing::LoadBesideProgram(&module, HV_W("HvVerifySp"), &error)) {
    std::fprintf(stderr, "soak: %s\n", error.c_str());
    return false;
  }
  auto get_object = testing::Entry<HvDllGetClassObjectFn>(module, "HvDllGetClassObject");
  void* out = nullptr;
  if (get_object == nullptr || get_object(&CLSID_HvVerifyImpl, &IID_IVexServiceProvider, &out) != 0) {
    return false;
  }
  auto* service = static_cast<IVexServiceProvider*>(out);
  if (service->Start() != 0) return false;
  const std::string request = testing::VerifyRequestDocument("alice", "right-pw");
  std::atomic<bool> wrong{false};
  auto until = std::chrono::steady_clock::now() + length;
  std::vector<std::thread> hosts;
  for (int t = 0; t < 8; ++t) {
    hosts.emplace_back([&] {
      while (std::chrono::steady_clock::now() < until && !wrong) {
        testing::RecordingReply reply;
        auto texts = (route("/IHvVerify/StartVerify", request.c_str(), &reply, nullptr) == 0)
                         ? reply.replies()
                         : std::vector<std::string>();
        if (texts.size() == 1 && texts[0].find("\"result=accepted\"") != std::string::npos) {
          ++*verified;
        } else {
          wrong = true;
        }
      }
    });
  }
  for (auto& h : hosts) h.join();
  bool ok = !wrong && service->Stop() == 0;
  service->Release();
  return module.Unload() && ok;
}

int Soak() {
  platform::LoadedLibrary base;
  std::string error;
  if (!testing::LoadBesideProgram(&base, HV_W("vexbase"), &error)) {
    std::fprintf(stderr, "soak: %s\n", error.c_str());
    return 1;
  }
  auto route = testing::Entry<VexBaseRouteRequestFn>(base, "vex_base_route_request");
  if (route == nullptr) return 1;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(Setting("HV_SOAK_SECONDS", 60));
  const std::chrono::milliseconds cycle(Setting("HV_SOAK_CYCLE_MS", 5000));
  std::atomic<long> verified{0};
  long cycles = 0;
  bool ok = true;
  while (ok && std::chrono::steady_clock::now() < end) {
    ok = Cycle(route, cycle, &verified);
    ++cycles;
  }
  std::printf("soak: %ld verifications in %ld cycles\n", verified.load(), cycles);
  if (!ok) std::printf("soak: cycle %ld failed\n", cycles);
  return ok ? 0 : 1;
}

}  // namespace
}  // namespace hv

int main() { return hv::Soak(); }
