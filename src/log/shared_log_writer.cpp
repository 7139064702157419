// One of several processes writing one log at once, for the test that
// every line of every process lands whole (tests/support/log_share_check.py):
//
//   shared_log_writer FILE LIMIT THREADS LINES TAG
//
// writes LINES lines from each of THREADS threads to FILE (kept below LIMIT
// bytes), each "Shared : TAG THREAD N" with a filler that makes lines long
// enough to be torn by a non-atomic append. So that the processes write at
// the same time, it prints "ready" once its log is open and starts when a
// file FILE.go appears.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "base/utf.h"
#include "log/logger.h"

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: shared_log_writer FILE LIMIT THREADS LINES TAG\n");
    return 2;
  }
  const uint64_t limit = std::strtoull(argv[2], nullptr, 10);
  const int threads = std::atoi(argv[3]), lines = std::atoi(argv[4]);
  const hv::WString tag = hv::Utf8ToWide(argv[5]);
  const hv::WString filler(40, HV_W('.'));
  hv::HvLogger log(hv::Utf8ToWide(argv[1]), limit);
  std::printf("ready\n");
  std::fflush(stdout);
  const std::filesystem::path go = std::filesystem::u8path(std::string(argv[1]) + ".go");
  for (int i = 0; i < 60000 && !std::filesystem::exists(go); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::vector<std::thread> writers;
  for (int t = 0; t < threads; ++t) {
    writers.emplace_back([&, t] {
      for (int i = 0; i < lines; ++i) {
        log << HV_W("Shared : ") << hv::LogContinue << tag << hv::LogContinue << HV_W(' ')
            << hv::LogContinue << t << hv::LogContinue << HV_W(' ') << hv::LogContinue << i
            << hv::LogContinue << HV_W(' ') << hv::LogContinue << filler << hv::LogEndLine;
        std::this_thread::yield();  // the other process's threads get their turns
      }
    });
  }
  for (auto& w : writers) w.join();
  return 0;
}
