// Request documents through the decoding of both methods and the reply
// encoding, as the method stubs run them.
#include <cstddef>
#include <cstdint>
#include <string>

#include "ipc/method_stub.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);  // NUL-terminated by c_str
  std::string reply;
  hv::IpcRequest<hv::VerifyOption> option;
  hv::IpcError error{hv::SafeDecodeRequest(text.c_str(), &option), ""};
  hv::EncodeReply(error, hv::NullResult{}, &reply);
  hv::IpcRequest<hv::VerifyRequest> verify;
  error.error_code = hv::SafeDecodeRequest(text.c_str(), &verify);
  hv::EncodeReply(error, hv::VerifyResult{1, verify.param_1.User + verify.param_1.Password}, &reply);
  return 0;
}
