#include "verify/verify_service.h"

#include <array>
#include <atomic>
#include <vector>
#include <limits>
#include <new>

#include "base/ascii.h"
#include "base/utf.h"
#include "host/config.h"
#include "http/http_client.h"
#include "ipc/method_stub.h"
#include "log/logger.h"
#include "platform/memory.h"
#include "platform/module.h"
#include "platform/socket.h"
#include "platform/tls.h"
#include "verify/cipher.h"
#include "verify/protocol.h"

namespace hv {
int32_t ParseOptionValue(const WString& text) {
  return ParseSaturatingDecimal<int32_t>(text);
}

template <>
const WString& IpcInterfaceName<IHvVerify>() {
  return HostConfig().interface_name;
}

const HvVerifyMethod kHvVerifyMethods[2] = {
    {HV_W("SetVerifyOpt"),
     &IpcMethodStub<HvVerifyImpl, IHvVerify, VerifyOption, NullResult, &IHvVerify::SetVerifyOpt>},
    {HV_W("StartVerify"),
     &IpcMethodStub<HvVerifyImpl, IHvVerify, VerifyRequest, VerifyResult, &IHvVerify::StartVerify>},
};

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

void HvVerifyImpl::FinalRelease() noexcept {
  bool withdrawn = false;
  // Exhausted memory or a module-wide object already gone: kept.
  if (CallAtBoundary([&] {
        withdrawn = WithdrawHeldNames();
        return HvResult(0);
      }) != 0 ||
      !withdrawn) {
    return;
  }
  if (Retire()) DestroySelf();
}

HvVerifyImpl::HvVerifyImpl() : HvVerifyImpl(HostConfig().verify_host, HostConfig().cert_sha256) {
  SetProxySettings(HostConfig().proxy, HostConfig().proxy_bypass);
}

void HvVerifyImpl::SetProxySettings(const WString& proxy, const WString& bypass) {
  const WChar* bad = nullptr;
  bad_proxy_setting_ = ParseProxySettings(proxy, bypass, &proxy_, &bad) ? nullptr : bad;
}

namespace {

std::atomic<uint32_t> g_live_services{0};
// Set as the module leaves the process. A host that releases its object
// later (from its own detach at exit, under the loader lock) finds the
// system's TLS libraries perhaps gone already, and the process's end drops
// the sessions anyway: nothing is forgotten then.
std::atomic<bool> g_leaving{false};

void NoteLeaving() { g_leaving.store(true, std::memory_order_relaxed); }

}  // namespace

HvVerifyImpl::HvVerifyImpl(WString endpoint_host, WString cert_sha256)
    : endpoint_host_(std::move(endpoint_host)), cert_pin_(std::move(cert_sha256)) {
  // Without memory to record it, sessions are forgotten at exit too, as
  // before the module learnt to leave them.
  static const bool noted = platform::RunAtModuleExit(NoteLeaving);
  (void)noted;
  g_live_services.fetch_add(1, std::memory_order_relaxed);
}

HvVerifyImpl::~HvVerifyImpl() {
  if (g_live_services.fetch_sub(1, std::memory_order_acq_rel) == 1 &&
      !g_leaving.load(std::memory_order_relaxed)) {
    platform::TlsForgetSessions();
  }
}

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
    VerifyLog() << out_of_memory_line << LogEndLine;
    return false;
  }
  return ok;
}

}  // namespace

int32_t HvVerifyImpl::StartVerify(const VerifyRequest& request, VerifyResult& result) {
  VerifyLog() << HV_W("StartVerify : start...") << LogEndLine;
  result.ResultType = VERIFY_RESULT_ENCRYPT_FAILED;
  WString url;  // carries the enciphered query
  platform::WipeOnExit<WString> wipe_url("url", url);
  std::string body;
  if (RunStage(HV_W("EncryptVerifyUrl : out of memory!"),
               [&] { return EncryptVerifyUrl(request.User, request.Password, &url); })) {
    VerifyLog() << HV_W("StartVerify : EncryptVerifyUrl finish!") << LogEndLine;
    result.ResultType = VERIFY_RESULT_SEND_FAILED;
    if (RunStage(HV_W("SendVerifyUrl : out of memory!"), [&] { return SendVerifyUrl(url, &body); })) {
      VerifyLog() << HV_W("StartVerify : SendVerifyUrl finish!") << LogEndLine;
      if (RunStage(HV_W("DecryptVerifyResult : out of memory!"), [&] {
            result.ResultType = VERIFY_RESULT_DECRYPT_FAILED;
            return DecryptVerifyResult(body, result);
          })) {
        VerifyLog() << HV_W("StartVerify : DecryptVerifyResult finish!") << LogEndLine;
      }
    }
  }
  VerifyLog() << HV_W("StartVerify : end!") << LogEndLine;
  return 0;
}

bool HvVerifyImpl::EncryptVerifyUrl(const WString& user, const WString& password, WString* url) {
  if (user.empty()) {
    VerifyLog() << HV_W("EncryptVerifyUrl : user name is empty!") << LogEndLine;
    return false;
  }
  if (password.empty()) {
    VerifyLog() << HV_W("EncryptVerifyUrl : password is empty!") << LogEndLine;
    return false;
  }
  // The setting goes into the URL: anything but a host and a port would
  // send the credentials to a path or query nobody meant.
  if (!IsValidEndpoint(endpoint_host_)) {
    VerifyLog() << HV_W("EncryptVerifyUrl : endpoint setting VerifyHost is invalid!") << LogEndLine;
    return false;
  }
  if (bad_proxy_setting_ != nullptr) {
    VerifyLog() << HV_W("EncryptVerifyUrl : proxy setting ") << LogContinue << bad_proxy_setting_
                << LogContinue << HV_W(" is invalid!") << LogEndLine;
    return false;
  }
  std::vector<CertPin> pins;
  if (!cert_pin_.empty() && !ParseCertPins(cert_pin_, &pins)) {
    VerifyLog() << HV_W("EncryptVerifyUrl : endpoint setting VerifyCertSha256 is invalid!") << LogEndLine;
    return false;
  }
  // A pin means TLS was meant: over plain http it would protect nothing
  // and the credentials would go out in the clear.
  if (!pins.empty() && !IsTlsEndpoint(endpoint_host_)) {
    VerifyLog() << HV_W("EncryptVerifyUrl : endpoint setting VerifyCertSha256 needs an https:// VerifyHost!")
                << LogEndLine;
    return false;
  }
  // The query and its UTF-8 bytes hold the password, and the cipher text
  // is as good as the password to anyone holding the module: wiped on
  // every way out, exhausted memory included.
  struct Wiped {
    WString query;
    std::string bytes;
    std::string cipher_text;
    ~Wiped() {
      platform::WipeString("query", query);
      platform::WipeString("query utf-8", bytes);
      platform::WipeString("cipher text", cipher_text);
    }
  } secret;
  secret.query = VerifyQuery(user, password);
  secret.bytes = WideToUtf8(WStringView(secret.query).substr(0, secret.query.find(WChar(0))));
  if (!Encipher(secret.bytes, &secret.cipher_text)) return false;
  *url = VerifyUrl(IsTlsEndpoint(endpoint_host_), EndpointHostPort(endpoint_host_), secret.cipher_text);
  return true;
}

namespace {

// The line that says which step of the way through the proxy failed.
void LogProxyFailure(ProxyFailure failure, int32_t status, uint32_t error) {
  const WChar* what = nullptr;
  switch (failure) {
    case ProxyFailure::kNone: return;
    case ProxyFailure::kUnreachable: what = HV_W("the proxy is unreachable! GetLastError is "); break;
    case ProxyFailure::kRefused: what = HV_W("the proxy refused CONNECT with status "); break;
    case ProxyFailure::kAuthRequired:
      what = HV_W("the proxy asks for authentication (407), which is not supported!");
      break;
    case ProxyFailure::kClosed: what = HV_W("the proxy closed the connection! GetLastError is "); break;
    case ProxyFailure::kNoAnswer: what = HV_W("no valid answer from the proxy! GetLastError is "); break;
  }
  const WChar* prefix = HV_W("SendVerifyUrl : proxy stage failed: ");
  if (failure == ProxyFailure::kAuthRequired) {
    VerifyLog() << prefix << LogContinue << what << LogEndLine;
    return;
  }
  long number = failure == ProxyFailure::kRefused ? static_cast<long>(status) : static_cast<long>(error);
  VerifyLog() << prefix << LogContinue << what << LogContinue << number << LogEndLine;
}

// The cause of a failed Navigate in words: the client's own, else those of
// the socket or TLS error it reports.
std::string FailureWords(uint32_t code, const char* client_text, int32_t status) {
  std::string words;
  if (client_text != nullptr) {
    words = client_text;
  } else if (code == platform::kSocketTimedOut) {
    words = "a wait ran out of time, or the verification's deadline passed";
  } else if (code == platform::kSocketReset) {
    words = "the peer closed or reset the connection before the answer was complete";
  } else if (code == 10061) {
    words = "the connection was refused";
  } else if (code == platform::kSocketNotConnected) {
    words = "the connection closed before it was established (in the TLS handshake)";
  } else if (code == kTlsTruncated) {
    words = "the TLS connection closed without close_notify";
  } else if (code == kTlsNoProgress) {
    words = "the TLS peer sent records without data past the limit";
  } else if (code >= 11001 && code <= 11004) {
    words = "the name could not be resolved";
  } else if (const char* tls = platform::TlsErrorText(code)) {
    words = tls;
  } else {
    words = "a socket or TLS error of the platform";
  }
  if (status >= 0) words += " (status " + std::to_string(status) + ")";
  return words;
}

// The line that says which of the module's TLS minimums the server missed.
void LogTlsRefusal(const CAtlHttpClient&) {}
void LogTlsRefusal(const CAtlHttpsClient& client) {
  if (client.tls_verdict().refusal == TlsRefusal::kNone) return;
  VerifyLog() << HV_W("SendVerifyUrl : TLS policy refused the server: ") << LogContinue
              << TlsRefusalText(client.tls_verdict()) << LogEndLine;
}

// One exchange with either client: the same status rules and log lines.
template <class Client>
bool Exchange(Client& client, const WString& url, const NavigateSettings& settings, std::string* body) {
  if (!client.Navigate(url, settings)) {
    VerifyLog() << HV_W("SendVerifyUrl : CAtlHttpClient Navigate is failed! Navigate GetLastError is ")
                << LogContinue << static_cast<unsigned long>(client.GetLastError()) << LogEndLine;
    WString words = Utf8ToWide(FailureWords(client.GetLastError(), client.GetFailureText(), client.GetStatus()));
    VerifyLog() << HV_W("SendVerifyUrl : Navigate failed: ") << LogContinue << words << LogContinue << HV_W("!")
                << LogEndLine;
    LogProxyFailure(client.GetProxyFailure(), client.GetProxyStatus(), client.GetLastError());
    LogTlsRefusal(client);
    return false;
  }
  int32_t status = client.GetStatus();
  VerifyLog() << HV_W("SendVerifyUrl : Navigate status is ") << LogContinue
              << static_cast<long>(status) << LogEndLine;
  if (status < 200 || status > 299) return false;
  *body = client.GetBody();  // up to the first NUL
  return true;
}

}  // namespace

bool HvVerifyImpl::SendVerifyUrl(const WString& url, std::string* body) {
  if (url.empty()) {
    VerifyLog() << HV_W("SendVerifyUrl : url is empty!") << LogEndLine;
    return false;
  }
  uint32_t seconds = timeout_setting();
  NavigateSettings settings;
  settings.timeout_ms = wait_limit_ms_;
  settings.deadline_ms = seconds > std::numeric_limits<uint32_t>::max() / 1000
                             ? std::numeric_limits<uint32_t>::max()
                             : seconds * 1000;
  bool tls = url.compare(0, 8, HV_W("https://")) == 0;
  ProxyServer endpoint;
  if (proxy_.mode != ProxyConfig::Mode::kDirect) {
    // The endpoint setting was checked with the URL. Each redirect target
    // is matched against the bypass list again: a bypassed endpoint's
    // redirect to another host goes through the proxy, and the reverse.
    if (SplitHostPort(EndpointHostPort(endpoint_host_), tls ? 443 : 80, &endpoint) &&
        !ChooseProxy(tls, endpoint.host, &settings.proxy)) {
      return false;
    }
    settings.proxy_for = [this, tls](const WString& host, ProxyTarget* target) {
      return ChooseProxy(tls, host, target);
    };
  }
  if (!tls) {
    CAtlHttpClient client;
    return Exchange(client, url, settings, body);
  }
  // TLS: https only, redirects included; the pin, when configured, decides
  // which certificate is accepted (it was checked with the URL).
  settings.scheme = kSchemeHttps;
  CAtlHttpsClient client;
  std::vector<CertPin> pins;
  if (!cert_pin_.empty() && ParseCertPins(cert_pin_, &pins)) client.SetPins(pins);
  return Exchange(client, url, settings, body);
}

bool HvVerifyImpl::ChooseProxy(bool tls, const WString& host, ProxyTarget* target) const {
  target->host.clear();
  target->port = 0;
  ProxyServer proxy;
  if (proxy_.mode == ProxyConfig::Mode::kDirect) return true;
  if (proxy_.mode == ProxyConfig::Mode::kFixed) {
    if (BypassesProxy(proxy_.bypass, host)) return true;
    proxy = proxy_.server;
  } else {
    platform::SystemProxySource source;
    if (!platform::ReadSystemProxy(tls, &source)) {
      VerifyLog() << HV_W("SendVerifyUrl : proxy stage failed: the system proxy setting cannot be read!")
                  << LogEndLine;
      return false;
    }
    // The value may carry credentials: only the source is named. Its name
    // is built before the line begins, so that running out of memory there
    // leaves no line open.
    const char* faulty = "";
    if (!SystemProxyFor(source, tls, host, &proxy, &faulty)) {
      WString named = Utf8ToWide(faulty);
      VerifyLog() << HV_W("SendVerifyUrl : proxy stage failed: the system proxy setting is malformed (")
                  << LogContinue << named << LogContinue << HV_W(")!") << LogEndLine;
      return false;
    }
  }
  target->host = proxy.host;
  target->port = proxy.port;
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
