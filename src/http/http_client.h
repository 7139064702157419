// CAtlHttpClientT: one HTTP/1.1 GET exchange over a socket type, with
// redirects, as the verification service performs it.
//
// Usage: construct, call Navigate once, read GetStatus / GetBody or
// GetLastError, destroy (which closes any connection still open).
//
// Results: Navigate returns true when the exchange reached an accepted
// status (200..206, 304, 305, or a redirect without "Location"). Bodies are
// framed by RFC 9112's rules (see framing.h); 1xx answers but 101 are
// skipped; 301, 302, 303, 307 and 308 are followed. Every
// failure is false; GetStatus is then -1 when no status line was read, and
// GetLastError is never 0: a Windows socket error number when a socket or
// TLS step failed (WSAETIMEDOUT, 10060, for every wait or deadline that ran
// out), else one of the http_error numbers below; GetFailureText gives the
// cause in words when it is not a socket's. Limits: header block and body
// sizes, redirects and an optional overall deadline, from NavigateSettings.
//
// TSocket is ZEvtSyncSocket in the module; tests and fuzzers give an
// in-memory transport with the same operations. Thread-safety: an object is
// used by one thread from construction to destruction.
#ifndef HV_HTTP_HTTP_CLIENT_H_
#define HV_HTTP_HTTP_CLIENT_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/wide.h"
#include "http/evt_sync_socket.h"
#include "http/proxy_tunnel.h"
#include "http/response_head.h"
#include "http/tls_socket.h"
#include "http/url.h"

namespace hv {

// GetLastError's numbers for failures that are no socket's: WinHTTP's
// numbers for the same causes, so that an administrator can look them up.
namespace http_error {
constexpr uint32_t kBadUrl = 12005;            // ERROR_WINHTTP_INVALID_URL
constexpr uint32_t kSchemeRefused = 12006;     // ERROR_WINHTTP_UNRECOGNIZED_SCHEME
constexpr uint32_t kAuthRequired = 12015;      // ERROR_WINHTTP_LOGIN_FAILURE
constexpr uint32_t kProxyRefused = 12029;      // ERROR_WINHTTP_CANNOT_CONNECT
constexpr uint32_t kBadResponse = 12152;       // ERROR_WINHTTP_INVALID_SERVER_RESPONSE
constexpr uint32_t kTooManyRedirects = 12156;  // ERROR_WINHTTP_REDIRECT_FAILED
constexpr uint32_t kHeaderTooLarge = 12182;    // ERROR_WINHTTP_HEADER_SIZE_OVERFLOW
constexpr uint32_t kBodyTooLarge = 12184;      // ERROR_WINHTTP_RESPONSE_DRAIN_OVERFLOW
}  // namespace http_error

struct NavigateSettings {
  WString method = HV_W("GET");
  bool follow_redirects = true;
  bool judge_status = true;
  uint32_t timeout_ms = 10000;        // each single wait
  uint16_t default_port = 80;
  uint32_t read_block_size = 4096;    // 0 reads as 2048
  WString extra_headers;              // sent as they stand
  std::string body;                   // none for GET
  WString content_type;
  size_t max_header_bytes = 256 * 1024;
  uint64_t max_body_bytes = 16 * 1024 * 1024;
  uint32_t max_redirects = 10;
  uint32_t deadline_ms = 0;           // the whole exchange; 0 is none
  // The one scheme this exchange follows, first URL and redirects alike:
  // kSchemeHttp, or kSchemeHttps with a TLS socket (never down to http).
  int32_t scheme = kSchemeHttp;
  // The forward proxy of the first URL, and of every redirect target when
  // `proxy_for` is unset; none when its host is empty. Plain http sends the
  // absolute-form target to it; https tunnels through it with CONNECT (a
  // socket without tunnels fails such an exchange).
  ProxyTarget proxy;
  // When set, decides the proxy of each redirect target anew from its host
  // (as in the URL, brackets kept), so that a bypass list holds on every
  // hop; false fails the exchange.
  std::function<bool(const WString& host, ProxyTarget* proxy)> proxy_for;
};

template <class TSocket>
class CAtlHttpClientT : public TSocket {
 public:
  CAtlHttpClientT();
  virtual ~CAtlHttpClientT();

  bool Navigate(const WString& url);
  bool Navigate(const WString& url, const NavigateSettings& settings);

  int32_t GetStatus() const { return status_; }
  // The body, followed by a NUL; meaningful after Navigate returned true.
  const char* GetBody() const { return buffer_.c_str() + BodyOffset(); }
  size_t GetBodyLength() const { return buffer_.size() - BodyOffset(); }
  // Body bytes received (for a chunked body the sum of the chunk sizes).
  int64_t GetBodyBytes() const { return body_length_; }
  const HeaderTable& Headers() const { return headers_; }
  const CUrlParts& CurrentUrl() const { return url_; }
  uint32_t GetLastError() const { return this->LastError; }
  // Why the last Navigate failed, in words, when the cause was the
  // client's own (a limit, a refusal, a malformed answer); nullptr when it
  // was a socket or TLS error, which GetLastError alone names.
  const char* GetFailureText() const { return failure_text_; }
  // Which step of the way through the proxy failed the last Navigate
  // (kNone when none did, or no proxy was set), and the proxy's status
  // when it refused.
  ProxyFailure GetProxyFailure() const { return proxy_failure_; }
  int32_t GetProxyStatus() const { return proxy_status_; }

  // The request bytes for the current URL; false, with nothing composed,
  // when the method, target or host holds a byte outside visible ASCII
  // (public for tests).
  bool ComposeRequest(std::string* bytes) const;
  // The most bytes of the response held at once during the last Navigate
  // (for tests and fuzzers: it stays within the limits plus one receive).
  size_t PeakBytesHeld() const { return peak_held_; }
  // When the exchange's time is up, by the transport's clock.
  ZEvtSyncSocket::Clock::time_point Deadline() const { return deadline_; }

 protected:
  // Answers a 401 (proxy false) or 407 (proxy true) challenge. No scheme is
  // registered in this module, so the answer is always false.
  virtual bool NegotiateAuth(bool proxy);
  // Called with the value of each "set-cookie" field; does nothing.
  virtual void OnSetCookie(const WString& value);

 private:
  enum class Judgement { kAccept, kRedirect, kReject };

  void Reset();
  // Records a failure of the client's own: its number and words.
  bool Fail(uint32_t code, const char* text);
  // Gives a tunnel that failed without a socket error the number of its
  // step's failure.
  void NameTunnelFailure();
  bool Proxied() const { return !hop_proxy_.host.empty(); }
  bool CheckUrl();
  bool TimeIsUp();
  bool Open();
  bool SendRequest();
  bool Receive(char* into, size_t* size);
  bool ReceiveSome(size_t block, int* empty_receives);
  bool ReceiveResponse();
  bool RetryOnFreshConnection();
  bool ReceiveHead();
  bool CutAfter(uint64_t body_bytes);
  size_t BlockSize() const;
  bool ReceiveSized(uint64_t length, bool* excess);
  bool ReceiveToClose();
  bool CutShort();
  bool HeadTooLarge();
  bool BodyTooLarge();
  bool ReceiveChunked(bool* excess);
  Judgement JudgeStatus();
  bool FollowRedirect();
  const WString* Header(const WChar* name) const { return headers_.Find(name); }
  // Where the body starts; never past the buffer, even after a failure.
  size_t BodyOffset() const { return header_length_ < buffer_.size() ? header_length_ : buffer_.size(); }

  HeaderTable headers_;
  std::vector<WString> challenges_;
  std::string buffer_;  // the final response's head, then its body
  CUrlParts url_;
  WString method_;
  int32_t status_ = -1;
  int64_t body_length_ = 0;
  size_t header_length_ = 0;
  size_t head_bytes_ = 0;  // the final head and the interim answers before it
  FramingFields framing_;  // of the response just read
  const NavigateSettings* settings_ = nullptr;
  ZEvtSyncSocket::Clock::time_point deadline_{};
  bool has_deadline_ = false;
  bool deadline_hit_ = false;  // a step was refused because the time was up
  ProxyTarget hop_proxy_;  // the proxy of the current URL (none: direct)
  ProxyFailure proxy_failure_ = ProxyFailure::kNone;
  int32_t proxy_status_ = -1;
  size_t peak_held_ = 0;
  const char* failure_text_ = nullptr;
  bool reused_ = false;         // the request went out on a kept-alive connection
  size_t response_bytes_ = 0;  // received for the response being read
};

using CAtlHttpClient = CAtlHttpClientT<ZEvtSyncSocket>;
// The same over TLS, for https (settings.scheme kSchemeHttps).
using CAtlHttpsClient = CAtlHttpClientT<ZEvtSyncTlsSocket>;

extern template class CAtlHttpClientT<ZEvtSyncSocket>;
extern template class CAtlHttpClientT<ZEvtSyncTlsSocket>;

}  // namespace hv

#endif  // HV_HTTP_HTTP_CLIENT_H_
