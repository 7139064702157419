// IHvVerify and HvVerifyImpl: the account verification service.
//
// StartVerify enciphers "UserName=" user "&PassWord=" password, sends it in
// one HTTP GET to the verification endpoint, and deciphers the answer into
// the result record; ResultType names the stage that failed, if any. Both
// operations always return 0: the outcome is in the record, the detail in
// the log (never the user name or password).
//
// Exhausted memory inside a stage fails that stage, with its ResultType and
// a log line; it never leaves StartVerify.
//
// Threads: the operations may run on several threads at once. Each call
// keeps its state to itself; the only shared field is TimeoutSetting, the
// deadline in seconds of one verification's whole HTTP exchange.
#ifndef HV_VERIFY_VERIFY_SERVICE_H_
#define HV_VERIFY_VERIFY_SERVICE_H_

#include <atomic>
#include <cstdint>
#include <string>

#include "base/barrier.h"
#include "base/wide.h"
#include "host/com_root.h"
#include "host/proxy_config.h"
#include "http/proxy_tunnel.h"
#include "hv/vex_host.h"
#include "ipc/ipc_server.h"
#include "ipc/records.h"

namespace hv {

class IHvVerify {
 public:
  virtual int32_t SetVerifyOpt(const VerifyOption& option, NullResult& result) = 0;
  virtual int32_t StartVerify(const VerifyRequest& request, VerifyResult& result) = 0;

 protected:
  ~IHvVerify() = default;
};

// The name IHvVerify is served under: the configured interface name.
template <>
const WString& IpcInterfaceName<IHvVerify>();

class HvVerifyImpl : public IVexServiceProvider,
                     public VexIPCServerT<Loki::Typelist<IHvVerify, Loki::NullType>>,
                     public HvComRoot<HvVerifyImpl, HvRefCnt> {
 public:
  // The class factory's creation: a new object queried for `iid`. On
  // failure null is stored and the object is gone again.
  static HvResult Create(const HvGuid& iid, void** out);
  // The object behind the dispatcher that the host calls.
  static HvVerifyImpl* FromDispatch(IVexRequestDispatch* dispatch) {
    return static_cast<HvVerifyImpl*>(static_cast<VexIPCServer*>(dispatch));
  }

  // Verifies against the configured endpoint host.
  HvVerifyImpl();
  // Verifies against `endpoint_host` (a host name or address, optionally
  // followed by ":" and a port; "https://" before it for TLS), accepting,
  // over TLS, the certificate whose SHA-256 is `cert_sha256` (64
  // hexadecimal digits) when one is given.
  explicit HvVerifyImpl(WString endpoint_host, WString cert_sha256 = WString());
  // The forward proxy settings VerifyProxy and VerifyProxyBypass (see
  // host/proxy_config.h), parsed here once; a malformed one fails every
  // verification before a request (ResultType 2, the setting named in the
  // log). The default object takes them from the configuration.
  void SetProxySettings(const WString& proxy, const WString& bypass);
  // The last service object of the process to go drops the TLS sessions
  // kept for resumption: a host releases its object before it unloads the
  // module, which on Windows stays mapped (platform::PinThisModule).
  virtual ~HvVerifyImpl();

  // IUnknown, through both the primary interface and HvComRoot. AddRef and
  // Release touch only atomic counts (and the destructor): they cannot throw.
  HvResult HV_CALL QueryInterface(const HvGuid& iid, void** out) noexcept override;
  HvRefCount HV_CALL AddRef() noexcept override { return InternalAddRef(); }
  HvRefCount HV_CALL Release() noexcept override { return InternalRelease(); }
  // The last Release: the names the host still holds (started, never
  // stopped) are withdrawn first, which returns once no request is running
  // in the dispatcher on other threads; then the object is destroyed, or,
  // when a Dispatch of this thread is still running (the host's reply sink
  // released it), as that Dispatch leaves. A withdrawal the host refuses
  // keeps the object for the life of the process: the host may still call
  // it, and HvDllCanUnloadNow answers 1.
  void FinalRelease() noexcept;

  // IVexServiceProvider: Start registers the interface name with the host
  // (a started object registers nothing again), Stop withdraws it; either
  // answers HV_E_BUSY while the other, or the last Release, runs on another
  // thread (see HostHeldNames). Both run behind the exception barrier (a module-wide
  // object used after unload gives HV_E_UNEXPECTED, exhausted memory
  // HV_E_OUTOFMEMORY).
  HvResult HV_CALL Initialize() noexcept override { return 0; }
  HvResult HV_CALL Uninitialize() noexcept override { return 0; }
  HvResult HV_CALL Start() override { return CallAtBoundary([this] { return RegisterNames(); }); }
  HvResult HV_CALL Stop() override { return CallAtBoundary([this] { return WithdrawNames(); }); }

  int32_t SetVerifyOpt(const VerifyOption& option, NullResult& result) override;
  int32_t StartVerify(const VerifyRequest& request, VerifyResult& result) override;

  bool EncryptVerifyUrl(const WString& user, const WString& password, WString* url);
  bool SendVerifyUrl(const WString& url, std::string* body);
  bool DecryptVerifyResult(const std::string& body, VerifyResult& result);

  // The proxy for `host` (the endpoint's, or a redirect target's) over TLS
  // or plain http: false, logged, when the system's setting cannot be read
  // or is malformed.
  bool ChooseProxy(bool tls, const WString& host, ProxyTarget* target) const;

  uint32_t timeout_setting() const { return TimeoutSetting.load(std::memory_order_relaxed); }

  // Per-wait limit of the HTTP client; the default of 10000 ms serves the
  // module, tests shorten it.
  void set_wait_limit_ms(uint32_t ms) { wait_limit_ms_ = ms; }

 protected:
  void DestroyRetired() noexcept override { DestroySelf(); }

 private:
  // Seconds; one aligned word, written by SetVerifyOpt and read by
  // SendVerifyUrl on any thread.
  std::atomic<uint32_t> TimeoutSetting{30};
  WString endpoint_host_;
  WString cert_pin_;
  ProxyConfig proxy_;
  const WChar* bad_proxy_setting_ = nullptr;  // the malformed setting, or none
  uint32_t wait_limit_ms_ = 10000;
};

// IHvVerify's methods as the host's Dispatch finds them, in the order they
// are registered: name and handler.
struct HvVerifyMethod {
  const WChar* name;
  IpcMethodHandler handler;
};
extern const HvVerifyMethod kHvVerifyMethods[2];

// Decimal text as wcstol reads it with base 10, saturating at the 32-bit
// limits; 0 when no digits follow the white space and sign.
int32_t ParseOptionValue(const WString& text);

}  // namespace hv

#endif  // HV_VERIFY_VERIFY_SERVICE_H_
