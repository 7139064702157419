// One verification through the service, as the host asks for it, seen
// from outside: its result, the messages it logged and how long
// StartVerify took. For the tests that verify against peers (endpoints,
// proxies, TLS servers); each prepares the service its own way first.
//
// Thread-safety: one call per thread at a time; the log capture serves the
// whole test program (tests/support/log_capture.h).
#ifndef HV_TESTS_SUPPORT_VERIFY_RUN_H_
#define HV_TESTS_SUPPORT_VERIFY_RUN_H_

#include <chrono>
#include <string>
#include <vector>

#include "base/wide.h"
#include "verify/verify_service.h"

namespace hv::testing {

struct VerifyOutcome {
  VerifyResult result;
  std::vector<std::string> log;  // messages logged during StartVerify
  std::chrono::steady_clock::duration spent{};

  // Whether a message contains `fragment`.
  bool Logged(const std::string& fragment) const;
};

// Sets the time-out option of `service` to `seconds`, then verifies the
// account "alice" with `password`.
VerifyOutcome VerifyOnce(HvVerifyImpl& service, const WString& password, const WString& seconds);

}  // namespace hv::testing

#endif  // HV_TESTS_SUPPORT_VERIFY_RUN_H_
