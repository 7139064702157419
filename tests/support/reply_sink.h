// A host reply sink that records what SetResponse was given.
#ifndef HV_TESTS_SUPPORT_REPLY_SINK_H_
#define HV_TESTS_SUPPORT_REPLY_SINK_H_

#include <mutex>
#include <string>
#include <vector>

#include "hv/vex_host.h"

namespace hv::testing {

class RecordingReply : public IVexResponse {
 public:
  HvResult HV_CALL SetResponse(const char* text, uint32_t length) override {
    std::lock_guard<std::mutex> hold(mutex_);
    replies_.emplace_back(text, length);
    return 0;
  }
  std::vector<std::string> replies() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return replies_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> replies_;
};

}  // namespace hv::testing

#endif  // HV_TESTS_SUPPORT_REPLY_SINK_H_
