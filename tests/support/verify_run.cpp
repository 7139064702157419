#include "tests/support/verify_run.h"

#include "tests/support/log_capture.h"

namespace hv::testing {

bool VerifyOutcome::Logged(const std::string& fragment) const {
  for (const std::string& line : log) {
    if (line.find(fragment) != std::string::npos) return true;
  }
  return false;
}

VerifyOutcome VerifyOnce(HvVerifyImpl& service, const WString& password, const WString& seconds) {
  NullResult none;
  service.SetVerifyOpt({VERIFY_OPT_TIMEOUT, seconds}, none);
  LogCapture log;
  VerifyOutcome outcome;
  auto start = std::chrono::steady_clock::now();
  service.StartVerify({HV_W("alice"), password}, outcome.result);
  outcome.spent = std::chrono::steady_clock::now() - start;
  outcome.log = log.Messages();
  return outcome;
}

}  // namespace hv::testing
