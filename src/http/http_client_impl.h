// Definitions of CAtlHttpClientT. Included by http_client.cpp for the
// module's socket, and by tests and fuzzers that bring their own transport.
// This header holds the request's side: the URL, the connection (direct or
// through a proxy), the request, the status judgement, redirects and the
// retry on a fresh connection. The reading of a response is in
// http_client_response.h, which it includes.
#ifndef HV_HTTP_HTTP_CLIENT_IMPL_H_
#define HV_HTTP_HTTP_CLIENT_IMPL_H_

#include <algorithm>

#include "base/host_text.h"
#include "http/http_client.h"
#include "http/http_client_response.h"
#include "platform/ansi.h"
#include "platform/memory.h"

namespace hv {

namespace http_detail {
// The transport's clock: its own when it has one (the in-memory transport
// of tests and fuzzers keeps a virtual clock), else the steady clock.
template <class S>
auto NowOf(const S& socket, int) -> decltype(socket.Now()) { return socket.Now(); }
template <class S>
ZEvtSyncSocket::Clock::time_point NowOf(const S&, long) { return ZEvtSyncSocket::Clock::now(); }

// A transport that can tunnel through a proxy (the TLS socket) is told of
// the proxy and reports which step failed; others cannot tunnel.
template <class S>
auto SetTunnel(S& socket, const ProxyTarget& proxy, size_t limit, int)
    -> decltype(socket.SetProxy(proxy, limit), bool()) {
  socket.SetProxy(proxy, limit);
  return true;
}
template <class S>
bool SetTunnel(S&, const ProxyTarget& proxy, size_t, long) { return proxy.host.empty(); }
template <class S>
auto TunnelFailure(const S& socket, int32_t* status, int) -> decltype(socket.proxy_failure()) {
  *status = socket.proxy_status();
  return socket.proxy_failure();
}
template <class S>
ProxyFailure TunnelFailure(const S&, int32_t*, long) { return ProxyFailure::kNone; }

// The bytes a request line's method and target, and the Host field, may
// hold: visible ASCII only. A blank, CR, LF or any control byte would let
// the text end the line or add one.
inline bool IsVisibleAscii(WChar c) { return c > 0x20 && c < 0x7F; }

inline bool AppendVisible(const WString& text, std::string* out) {
  for (WChar c : text) {
    if (!IsVisibleAscii(c)) return false;
    out->push_back(static_cast<char>(c));
  }
  return true;
}

// A URL's path and query may carry a secret (the verification's enciphered
// query): every copy the client makes is wiped before it is let go.
inline void WipeUrl(CUrlParts& url) {
  platform::WipeString("url parts", url.path);
  platform::WipeString("url parts", url.extra);
}
struct WipeUrlOnExit {
  CUrlParts& url;
  ~WipeUrlOnExit() { WipeUrl(url); }
};
}  // namespace http_detail

template <class TSocket>
CAtlHttpClientT<TSocket>::CAtlHttpClientT() {
  buffer_.reserve(4096);
}

template <class TSocket>
CAtlHttpClientT<TSocket>::~CAtlHttpClientT() {
  this->CloseConnection();
  http_detail::WipeUrl(url_);
}

template <class TSocket>
bool CAtlHttpClientT<TSocket>::NegotiateAuth(bool proxy) {
  (void)proxy;
  return false;  // the scheme table is empty
}

template <class TSocket>
void CAtlHttpClientT<TSocket>::OnSetCookie(const WString& value) {
  (void)value;
}

template <class TSocket>
bool CAtlHttpClientT<TSocket>::TimeIsUp() {
  if (!has_deadline_ || http_detail::NowOf(*this, 0) < deadline_) return false;
  deadline_hit_ = true;
  this->LastError = platform::kSocketTimedOut;
  this->AbandonConnection();
  return true;
}

template <class TSocket>
bool CAtlHttpClientT<TSocket>::Fail(uint32_t code, const char* text) {
  this->LastError = code;
  failure_text_ = text;
  return false;
}

template <class TSocket>
void CAtlHttpClientT<TSocket>::NameTunnelFailure() {
  if (this->LastError != 0) return;
  switch (proxy_failure_) {
    case ProxyFailure::kRefused:
      Fail(http_error::kProxyRefused, "the proxy refused the tunnel (CONNECT)");
      break;
    case ProxyFailure::kAuthRequired:
      Fail(http_error::kAuthRequired, "the proxy asks for authentication, which is not supported");
      break;
    case ProxyFailure::kClosed:
      this->LastError = platform::kSocketReset;
      break;
    default:
      Fail(http_error::kBadResponse, "the proxy's answer to CONNECT is malformed or over the header limit");
      break;
  }
}

template <class TSocket>
void CAtlHttpClientT<TSocket>::Reset() {
  headers_.Clear();
  challenges_.clear();
  buffer_.clear();
  http_detail::WipeUrl(url_);
  url_.Clear();
  method_.clear();
  status_ = -1;
  body_length_ = 0;
  header_length_ = 0;
  framing_ = FramingFields();
  settings_ = nullptr;
  peak_held_ = 0;
  deadline_hit_ = false;
  hop_proxy_ = ProxyTarget();
  proxy_failure_ = ProxyFailure::kNone;
  proxy_status_ = -1;
  reused_ = false;
  response_bytes_ = 0;
  failure_text_ = nullptr;
  this->LastError = 0;
}

// The current URL must be of the exchange's scheme, with a host name or a
// bracketed IPv6 address (nothing else can stand in a Host field or reach
// the resolver); fills the defaults.
template <class TSocket>
bool CAtlHttpClientT<TSocket>::CheckUrl() {
  if (url_.scheme != settings_->scheme || !IsHostText(url_.host_name)) return false;
  if (url_.path.empty()) url_.path.push_back(WChar('/'));
  if (url_.port == 0) url_.port = settings_->default_port;
  return true;
}

// The one place a request is written. Method, target and host must be
// visible ASCII, or nothing is composed: no byte of the URL can end the
// request line or add a line to the request. The fragment is never sent.
// Through a proxy (plain http) the target is in absolute form,
// "http://" host [":" port] path-and-query; the Host field is the same.
template <class TSocket>
bool CAtlHttpClientT<TSocket>::ComposeRequest(std::string* bytes) const {
  bytes->clear();
  // The target carries the query, perhaps a secret: built in one buffer,
  // wiped, and the request gets room for all of it before it is written,
  // so that no grown buffer leaves a copy behind.
  size_t query = std::min(url_.extra.find('#'), url_.extra.size());
  WString target;
  platform::WipeOnExit<WString> wipe_target("request", target);
  target.reserve(url_.path.size() + query);
  target.append(url_.path).append(url_.extra, 0, query);
  std::string port = url_.port != DefaultPort(url_.scheme) ? ":" + std::to_string(url_.port) : "";
  bool absolute = Proxied() && url_.scheme == kSchemeHttp;
  bytes->reserve(method_.size() + target.size() + url_.host_name.size() * 2 + 128 +
                 (settings_ != nullptr ? settings_->extra_headers.size() * 4 + settings_->content_type.size() * 4 +
                                             settings_->body.size()
                                       : 0));
  if (target.empty() || target[0] != '/' || !http_detail::AppendVisible(method_, bytes)) return false;
  bytes->push_back(' ');
  if (absolute) {
    bytes->append("http://");
    if (!http_detail::AppendVisible(url_.host_name, bytes)) return false;
    bytes->append(port);
  }
  if (!http_detail::AppendVisible(target, bytes)) return false;
  bytes->append(" HTTP/1.1\r\n");
  if (settings_ != nullptr && !settings_->body.empty()) {
    bytes->append("Content-Length: " + std::to_string(settings_->body.size()) + "\r\n");
  }
  if (settings_ != nullptr && !settings_->content_type.empty()) {
    bytes->append("Content-Type: ");
    if (!platform::WideToAnsi(settings_->content_type, bytes)) return false;
    bytes->append("\r\n");
  }
  if (settings_ != nullptr && !platform::WideToAnsi(settings_->extra_headers, bytes)) return false;
  bytes->append("Host: ");
  if (!http_detail::AppendVisible(url_.host_name, bytes)) return false;
  bytes->append(port);
  bytes->append("\r\nUser-Agent: Microsoft-ATL-Native/8.00\r\n\r\n");
  return true;
}

// Connects to the endpoint, or to the proxy: directly for plain http,
// through a CONNECT tunnel for https.
template <class TSocket>
bool CAtlHttpClientT<TSocket>::Open() {
  reused_ = false;
  if (TimeIsUp()) return false;
  const ProxyTarget& proxy = hop_proxy_;
  if (Proxied() && settings_->scheme == kSchemeHttp) {
    if (this->OpenConnection(proxy.host, proxy.port)) return true;
    proxy_failure_ = ProxyFailure::kUnreachable;
    return false;
  }
  if (!http_detail::SetTunnel(*this, proxy, settings_->max_header_bytes, 0)) {
    return Fail(http_error::kSchemeRefused, "this transport cannot tunnel through a proxy");
  }
  if (this->OpenConnection(url_.host_name, url_.port)) return true;
  proxy_failure_ = http_detail::TunnelFailure(*this, &proxy_status_, 0);
  if (proxy_failure_ != ProxyFailure::kNone) NameTunnelFailure();
  return false;
}

template <class TSocket>
bool CAtlHttpClientT<TSocket>::SendRequest() {
  std::string bytes;
  platform::WipeOnExit<std::string> wipe_bytes("request", bytes);
  if (!ComposeRequest(&bytes)) {
    this->AbandonConnection();
    return Fail(http_error::kBadUrl, "the URL holds bytes a request cannot carry");
  }
  if (TimeIsUp()) return false;
  bytes += settings_->body;
  ZEvtSyncSocket::SendBuffer buffer{bytes.size(), bytes.data()};
  size_t sent = 0;
  if (!this->SendBuffers(&buffer, 1, &sent) || sent != bytes.size()) {
    this->AbandonConnection();
    return false;
  }
  return true;
}

template <class TSocket>
typename CAtlHttpClientT<TSocket>::Judgement CAtlHttpClientT<TSocket>::JudgeStatus() {
  if (!settings_->judge_status) return Judgement::kAccept;
  if ((status_ >= 200 && status_ <= 206) || status_ == 304 || status_ == 305) {
    return Judgement::kAccept;
  }
  // 307 and 308 keep the method; for a GET they are followed as 302 is.
  if (status_ == 301 || status_ == 302 || status_ == 303 || status_ == 307 || status_ == 308) {
    if (!settings_->follow_redirects || framing_.locations == 0) return Judgement::kAccept;
    return Judgement::kRedirect;
  }
  if (status_ == 401 || status_ == 407) {
    return NegotiateAuth(status_ == 407) ? Judgement::kAccept : Judgement::kReject;
  }
  return Judgement::kReject;
}

// Moves to the "Location" target and sends the request there: over the
// same connection when it is still open to the same host and port, else
// over a new one to the new target only.
template <class TSocket>
bool CAtlHttpClientT<TSocket>::FollowRedirect() {
  // The target is resolved from the field's bytes as they came, never
  // through a code page that could drop or change them.
  const WString* field = Header(HV_W("Location"));
  if (framing_.locations != 1 || field == nullptr) {  // none usable, or two
    return Fail(http_error::kBadResponse, "the redirect's Location field is unusable or given twice");
  }
  std::string location;
  location.swap(framing_.location);
  platform::WipeOnExit<std::string> wipe_location("url", location);
  WString resolved;
  platform::WipeOnExit<WString> wipe_resolved("url", resolved);
  WString old_host = url_.host_name;
  uint16_t old_port = url_.port;
  ProxyTarget old_proxy = hop_proxy_;
  headers_.Clear();
  buffer_.clear();
  header_length_ = 0;
  if (!ResolveLocation(location, url_, &resolved) || !SplitUrl(resolved, &url_)) {
    return Fail(http_error::kBadUrl, "the redirect's Location is not a URL the module can follow");
  }
  if (url_.scheme != settings_->scheme) {
    return Fail(http_error::kSchemeRefused, "a redirect to another scheme is refused (an https exchange never goes down to http)");
  }
  if (!CheckUrl()) return Fail(http_error::kBadUrl, "the redirect's host cannot be used");
  if (settings_->proxy_for && !settings_->proxy_for(url_.host_name, &hop_proxy_)) {
    return Fail(http_error::kProxyRefused, "the proxy setting for the redirect's host cannot be used");
  }
  // A kept-alive connection carries the request only when it is to the
  // same host and port and idle: stray bytes after the last response, or
  // the server's close, would be taken for the answer.
  bool same = url_.host_name == old_host && url_.port == old_port && hop_proxy_.host == old_proxy.host &&
              hop_proxy_.port == old_proxy.port;
  if (!same || !this->IsIdle()) {
    this->CloseConnection();
    if (!Open()) return false;
  } else {
    reused_ = true;
  }
  return SendRequest();
}

// A kept-alive connection the server closed before any byte of an answer
// (a close or reset, not a wait that ran out) may have crossed the request
// in flight: a GET is idempotent (RFC 9112 9.3.1), so it goes once more,
// on a new connection, within the same deadline.
template <class TSocket>
bool CAtlHttpClientT<TSocket>::RetryOnFreshConnection() {
  if (!reused_ || response_bytes_ != 0 || method_ != HV_W("GET") || deadline_hit_ || this->TimedOut() ||
      this->DeadlineExpired() || this->LastError == platform::kSocketTimedOut) {
    return false;
  }
  this->CloseConnection();
  buffer_.clear();
  return Open() && SendRequest() && ReceiveResponse();
}

template <class TSocket>
bool CAtlHttpClientT<TSocket>::Navigate(const WString& url) {
  static const NavigateSettings kDefaults;
  return Navigate(url, kDefaults);
}

template <class TSocket>
bool CAtlHttpClientT<TSocket>::Navigate(const WString& url, const NavigateSettings& settings) {
  WString normalized;
  CUrlParts parts;
  platform::WipeOnExit<WString> wipe_normalized("url", normalized);
  http_detail::WipeUrlOnExit wipe_parts{parts};
  if (url.empty() || !NormalizeUrl(url, &normalized) || !SplitUrl(normalized, &parts)) {
    Reset();
    return Fail(http_error::kBadUrl, "the URL cannot be used");
  }
  Reset();
  settings_ = &settings;
  method_ = settings.method;
  this->SocketTimeout = settings.timeout_ms;
  has_deadline_ = settings.deadline_ms != 0;
  deadline_ = http_detail::NowOf(*this, 0) + std::chrono::milliseconds(settings.deadline_ms);
  if (has_deadline_) {
    this->SetDeadline(deadline_);
  } else {
    this->SetDeadline(std::nullopt);
  }
  url_ = parts;
  hop_proxy_ = settings.proxy;
  bool ok = url_.scheme != settings.scheme ? Fail(http_error::kSchemeRefused, "the URL's scheme is not this client's")
            : !CheckUrl()                  ? Fail(http_error::kBadUrl, "the URL's host cannot be used")
                                           : Open() && SendRequest();
  for (uint32_t redirects = 0; ok;) {
    if (!ReceiveResponse() && !RetryOnFreshConnection()) {
      ok = false;
      if (Proxied()) proxy_failure_ = http_detail::TunnelFailure(*this, &proxy_status_, 0);
      break;
    }
    if (status_ == 407 && Proxied() && url_.scheme == kSchemeHttp) {
      proxy_failure_ = ProxyFailure::kAuthRequired;  // no scheme is registered
      proxy_status_ = status_;
    }
    Judgement judgement = JudgeStatus();
    if (judgement == Judgement::kAccept) break;
    if (judgement == Judgement::kReject) {
      ok = status_ == 401 || status_ == 407
               ? Fail(http_error::kAuthRequired, "authentication is asked for, which is not supported")
               : Fail(http_error::kBadResponse, "the answer's status is not one the module accepts");
      break;
    }
    if (redirects++ >= settings.max_redirects) {
      ok = Fail(http_error::kTooManyRedirects, "more redirects than the limit allows");
      break;
    }
    ok = FollowRedirect();
  }
  // A failed exchange keeps nothing of its TLS session, even when TLS
  // itself ended cleanly (a cut body, a refused status or redirect).
  if (!ok) this->AbandonConnection();
  settings_ = nullptr;
  return ok;
}

}  // namespace hv

#endif  // HV_HTTP_HTTP_CLIENT_IMPL_H_
