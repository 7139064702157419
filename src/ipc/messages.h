// The IPC documents: a request holds the envelope {"param_count",
// "param_1"} under "request"; a reply holds "error" {"error_code",
// "error_msg"} and, when error_code is 0, the result record under
// "result". Every record's fields are declared here, once.
#ifndef HV_IPC_MESSAGES_H_
#define HV_IPC_MESSAGES_H_

#include <cstdint>
#include <string>
#include <tuple>

#include "ipc/record_codec.h"
#include "ipc/records.h"

namespace hv {

template <class Param>
struct IpcRequest {
  int32_t param_count = 0;  // decoded and checked, not used
  Param param_1{};
};

struct IpcError {
  int32_t error_code = 0;
  std::string error_msg;  // always empty in this module
};

template <class Param>
struct RecordFields<IpcRequest<Param>> {
  static constexpr auto List() {
    return std::make_tuple(Field("param_count", &IpcRequest<Param>::param_count),
                           Field("param_1", &IpcRequest<Param>::param_1));
  }
};

template <>
struct RecordFields<IpcError> {
  static constexpr auto List() {
    return std::make_tuple(Field("error_code", &IpcError::error_code),
                           Field("error_msg", &IpcError::error_msg));
  }
};

template <>
struct RecordFields<NullResult> {
  static constexpr auto List() { return std::make_tuple(Field("NullValue", &NullResult::NullValue)); }
};

template <>
struct RecordFields<VerifyOption> {
  static constexpr auto List() {
    return std::make_tuple(Field("OptMode", &VerifyOption::OptMode),
                           Field("Value", &VerifyOption::Value));
  }
};

template <>
struct RecordFields<VerifyRequest> {
  static constexpr auto List() {
    return std::make_tuple(Field("User", &VerifyRequest::User),
                           Field("Password", &VerifyRequest::Password));
  }
};

template <>
struct RecordFields<VerifyResult> {
  static constexpr auto List() {
    return std::make_tuple(Field("ResultType", &VerifyResult::ResultType),
                           Field("ResultValue", &VerifyResult::ResultValue));
  }
};

// Decodes the envelope of a request document. Returns 0 or the first
// failing step's code.
template <class Param>
int32_t DecodeRequest(const char* text, IpcRequest<Param>* request) {
  JsonArchive archive;
  int32_t rc = archive.OpenForRead(text);
  if (rc != 0) return rc;
  ArchivePathScope scope(archive, "request", kArchiveRead);
  return CodeRecord(archive, kArchiveRead, *request);
}

// Encodes a reply document: the error block, and the result record when
// the error code is 0. Returns 0 or the first failing step's code.
template <class Result>
int32_t EncodeReply(IpcError error, Result result, std::string* text) {
  JsonArchive archive;
  int32_t rc = archive.OpenForWrite();
  if (rc != 0) return rc;
  {
    ArchivePathScope scope(archive, "error", kArchiveWrite);
    rc = CodeRecord(archive, kArchiveWrite, error);
  }
  if (rc == 0 && error.error_code == 0) {
    ArchivePathScope scope(archive, "result", kArchiveWrite);
    rc = CodeRecord(archive, kArchiveWrite, result);
  }
  if (rc != 0) return rc;
  *text = archive.Render();
  return 0;
}

}  // namespace hv

#endif  // HV_IPC_MESSAGES_H_
