#include "verify/verify_service.h"

#include <limits>
#include <new>

#include "base/ascii.h"
#include "base/utf.h"
#include "host/config.h"
#include "http/http_client.h"
#include "log/logger.h"
#include "verify/cipher.h"

namespace hv {
namespace {

const WChar kVerifyPath[] = HV_W("/interface/newauth/index.php?c=");

}  // namespace

int32_t ParseOptionValue(const WString& text) {
  long long value = ParseLeadingDecimal(text);
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

template <>
const WString& IpcInterfaceName<IHvVerify>() {
  return HostConfig().interface_name;
}

HvResult HvVerifyImpl::Create(const HvGuid& iid, void** out) {
  *out = nullptr;
  HvVerifyImpl* object = new HvVerifyImpl();  // bad_alloc: the caller's barrier
  HvResult rc = object->QueryInterface(iid, out);
  if (rc != 0) delete object;  // never referenced: the live count is unchanged
  return rc;
}

HvResult HvVerifyImpl::QueryInterface(const HvGuid& iid, void** out) noexcept {
  if (SameGuid(iid, IID_HvUnknown) || SameGuid(iid, IID_IVexServiceProvider)) {
    *out = static_cast<IVexServiceProvider*>(this);
    AddRef();
    return 0;
  }
  *out = nullptr;
  return HV_E_NOINTERFACE;
}

HvVerifyImpl::HvVerifyImpl() : HvVerifyImpl(HostConfig().verify_host) {}

HvVerifyImpl::HvVerifyImpl(WString endpoint_host) : endpoint_host_(std::move(endpoint_host)) {}

int32_t HvVerifyImpl::SetVerifyOpt(const VerifyOption& option, NullResult& result) {
  (void)result;
  if (option.OptMode != VERIFY_OPT_TIMEOUT || option.Value.empty()) return 0;
  int32_t seconds = ParseOptionValue(option.Value);
  if (seconds > 0) TimeoutSetting.store(static_cast<uint32_t>(seconds), std::memory_order_relaxed);
  return 0;
}

namespace {

// Runs one stage; exhausted memory fails it with the line "STAGE : out of
// memory!" (the stage's own lines say where, when it could write them).
template <class Stage>
bool RunStage(const WChar* out_of_memory_line, Stage&& stage) {
  bool ok = false;
  if (!SurvivesAllocation([&] { ok = stage(); })) {
    g_verifyLog << out_of_memory_line << LogEndLine;
    return false;
  }
  return ok;
}

}  // namespace

int32_t HvVerifyImpl::StartVerify(const VerifyRequest& request, VerifyResult& result) {
  g_verifyLog << HV_W("StartVerify : start...") << LogEndLine;
  result.ResultType = VERIFY_RESULT_ENCRYPT_FAILED;
  WString url;
  std::string body;
  if (RunStage(HV_W("EncryptVerifyUrl : out of memory!"),
               [&] { return EncryptVerifyUrl(request.User, request.Password, &url); })) {
    g_verifyLog << HV_W("StartVerify : EncryptVerifyUrl finish!") << LogEndLine;
    result.ResultType = VERIFY_RESULT_SEND_FAILED;
    if (RunStage(HV_W("SendVerifyUrl : out of memory!"), [&] { return SendVerifyUrl(url, &body); })) {
      g_verifyLog << HV_W("StartVerify : SendVerifyUrl finish!") << LogEndLine;
      if (RunStage(HV_W("DecryptVerifyResult : out of memory!"), [&] {
            result.ResultType = VERIFY_RESULT_DECRYPT_FAILED;
            return DecryptVerifyResult(body, result);
          })) {
        g_verifyLog << HV_W("StartVerify : DecryptVerifyResult finish!") << LogEndLine;
      }
    }
  }
  g_verifyLog << HV_W("StartVerify : end!") << LogEndLine;
  return 0;
}

bool HvVerifyImpl::EncryptVerifyUrl(const WString& user, const WString& password, WString* url) {
  if (user.empty()) {
    g_verifyLog << HV_W("EncryptVerifyUrl : user name is empty!") << LogEndLine;
    return false;
  }
  if (password.empty()) {
    g_verifyLog << HV_W("EncryptVerifyUrl : password is empty!") << LogEndLine;
    return false;
  }
  // The setting goes into the URL: anything but a host and a port would
  // send the credentials to a path or query nobody meant.
  if (!IsValidEndpoint(endpoint_host_)) {
    g_verifyLog << HV_W("EncryptVerifyUrl : endpoint setting VerifyHost is invalid!") << LogEndLine;
    return false;
  }
  // Inserted as they stand: the cipher text carries any "&" or "=" safely.
  WString query = HV_W("UserName=") + user + HV_W("&PassWord=") + password;
  std::string cipher_text;
  if (!Encipher(WideToUtf8(UpToNul(query)), &cipher_text)) return false;
  *url = HV_W("http://") + endpoint_host_ + kVerifyPath +
         WString(cipher_text.begin(), cipher_text.end());
  return true;
}

bool HvVerifyImpl::SendVerifyUrl(const WString& url, std::string* body) {
  if (url.empty()) {
    g_verifyLog << HV_W("SendVerifyUrl : url is empty!") << LogEndLine;
    return false;
  }
  uint32_t seconds = timeout_setting();
  NavigateSettings settings;
  settings.timeout_ms = wait_limit_ms_;
  settings.deadline_ms = seconds > std::numeric_limits<uint32_t>::max() / 1000
                             ? std::numeric_limits<uint32_t>::max()
                             : seconds * 1000;
  CAtlHttpClient client;
  client.SocketTimeout = seconds;  // replaced by Navigate; kept for callers that read it
  if (!client.Navigate(url, settings)) {
    g_verifyLog << HV_W("SendVerifyUrl : CAtlHttpClient Navigate is failed! Navigate GetLastError is ")
                << LogContinue << static_cast<unsigned long>(client.GetLastError()) << LogEndLine;
    return false;
  }
  int32_t status = client.GetStatus();
  g_verifyLog << HV_W("SendVerifyUrl : Navigate status is ") << LogContinue
              << static_cast<long>(status) << LogEndLine;
  if (status < 200 || status > 299) return false;
  *body = client.GetBody();  // up to the first NUL
  return true;
}

bool HvVerifyImpl::DecryptVerifyResult(const std::string& body, VerifyResult& result) {
  std::string plain;
  if (!Decipher(body, &plain)) {
    result.ResultType = VERIFY_RESULT_DECRYPT_FAILED;
    return false;
  }
  // Converted before anything is stored, so that running out of memory here
  // leaves the record as a decipher failure.
  WString value = Utf8ToWide(UpToNul(plain));
  result.ResultValue.swap(value);
  result.ResultType = VERIFY_RESULT_OK;
  return true;
}

}  // namespace hv
