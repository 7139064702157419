// IpcMethodStub: the handler of one interface operation. It decodes the
// request into the operation's parameter record, calls the operation, and
// hands the reply document (error block, and the result record when the
// code is 0) to the host's reply sink.
#ifndef HV_IPC_METHOD_STUB_H_
#define HV_IPC_METHOD_STUB_H_

#include <new>
#include <string>

#include "base/barrier.h"
#include "hv/vex_host.h"
#include "ipc/messages.h"

namespace hv {

// Decodes a request, turning any exception but exhausted memory (jsoncpp
// throws on some inputs) into the parse failure; exhausted memory, in any
// of its forms, goes on to the barrier.
template <class Param>
int32_t SafeDecodeRequest(const char* request, IpcRequest<Param>* envelope) {
  try {
    return DecodeRequest(request, envelope);
  } catch (const std::exception& e) {
    if (IsExhaustedMemory(e)) throw;
    return VEX_E_ARCHIVE_PARSE;
  } catch (...) {
    return VEX_E_ARCHIVE_PARSE;
  }
}

// Impl: the implementation class; Cast turns the server's dispatch pointer
// into it; Method is the interface operation.
template <class Impl, class Interface, class Param, class Result,
          int32_t (Interface::*Method)(const Param&, Result&)>
HvResult IpcMethodStub(IVexRequestDispatch* server, const char* request, IVexResponse* reply) {
  Impl* impl = Impl::FromDispatch(server);
  // The decoded record's secrets are wiped however the call ends.
  struct Envelope : IpcRequest<Param> {
    ~Envelope() { WipeSecrets(this->param_1); }
  } envelope;
  IpcError error;
  Result result{};
  error.error_code = SafeDecodeRequest(request, static_cast<IpcRequest<Param>*>(&envelope));
  if (error.error_code == 0) {
    Interface& target = *impl;
    error.error_code = (target.*Method)(envelope.param_1, result);
  }
  std::string text;
  int32_t rc = EncodeReply(error, result, &text);
  if (rc != 0) return rc;
  reply->SetResponse(text.c_str(), static_cast<uint32_t>(text.size()));
  return 0;
}

}  // namespace hv

#endif  // HV_IPC_METHOD_STUB_H_
