// The records exchanged through IHvVerify.
#ifndef HV_IPC_RECORDS_H_
#define HV_IPC_RECORDS_H_

#include <cstdint>

#include "base/wide.h"
#include "platform/memory.h"

namespace hv {

enum VerifyOptMode : uint32_t { VERIFY_OPT_TIMEOUT = 1 };

enum VerifyResultType : uint32_t {
  VERIFY_RESULT_OK = 1,              // answer received and deciphered
  VERIFY_RESULT_ENCRYPT_FAILED = 2,  // empty user or password, or the cipher failed
  VERIFY_RESULT_SEND_FAILED = 3,     // exchange failed or status outside 200..299
  VERIFY_RESULT_DECRYPT_FAILED = 4,  // the body did not decipher
};

struct VerifyOption {
  uint32_t OptMode = 0;
  WString Value;  // decimal text
};

struct VerifyRequest {
  WString User;
  WString Password;
};

// Records that carry secrets wipe them once the operation is done with
// them; the others have nothing to wipe.
template <class Record>
void WipeSecrets(Record&) {}
inline void WipeSecrets(VerifyRequest& request) {
  platform::WipeString("request record", request.User);
  platform::WipeString("request record", request.Password);
}

struct VerifyResult {
  uint32_t ResultType = 0;
  WString ResultValue;
};

struct NullResult {
  int32_t NullValue = 0;
};

}  // namespace hv

#endif  // HV_IPC_RECORDS_H_
