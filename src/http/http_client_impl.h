// Definitions of CAtlHttpClientT. Included by http_client.cpp for the
// module's socket, and by tests and fuzzers that bring their own transport.
#ifndef HV_HTTP_HTTP_CLIENT_IMPL_H_
#define HV_HTTP_HTTP_CLIENT_IMPL_H_

#include <algorithm>
#include <cstring>

#include "http/chunked_decoder.h"
#include "http/http_client.h"
#include "platform/ansi.h"

namespace hv {

namespace http_detail {
constexpr size_t kHeadReceiveSize = 2048;
constexpr int kMaxEmptyReceives = 5;       // in a row, for the head and a sized body
constexpr int kMaxEmptyUnsizedReads = 6;   // in a row, for a body read to the end
}  // namespace http_detail

template <class TSocket>
CAtlHttpClientT<TSocket>::CAtlHttpClientT() {
  buffer_.reserve(4096);
}

template <class TSocket>
CAtlHttpClientT<TSocket>::~CAtlHttpClientT() {
  this->CloseConnection();
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
bool CAtlHttpClientT<TSocket>::HeaderIs(const WChar* name, const WChar* value) const {
  const WString* v = Header(name);
  return v != nullptr && EqualsIgnoreCase(*v, WStringView(value));
}

template <class TSocket>
bool CAtlHttpClientT<TSocket>::DeadlinePassed() const {
  return has_deadline_ && ZEvtSyncSocket::Clock::now() >= deadline_;
}

template <class TSocket>
void CAtlHttpClientT<TSocket>::Reset() {
  headers_.Clear();
  challenges_.clear();
  buffer_.clear();
  url_.Clear();
  method_.clear();
  status_ = -1;
  body_length_ = 0;
  header_length_ = 0;
  header_start_ = 0;
  settings_ = nullptr;
}

// The current URL must be of the exchange's scheme, with a host; fills the
// defaults.
template <class TSocket>
bool CAtlHttpClientT<TSocket>::CheckUrl() {
  if (url_.scheme != settings_->scheme || url_.host_name.empty()) return false;
  if (url_.path.empty()) url_.path = HV_W("/");
  if (url_.port == 0) url_.port = settings_->default_port;
  return true;
}

template <class TSocket>
WString CAtlHttpClientT<TSocket>::ComposeRequest() const {
  std::string numbers;
  WString text;
  text.reserve(method_.size() + url_.path.size() + url_.extra.size() + url_.host_name.size() + 128);
  text.append(method_).append(HV_W(" ")).append(url_.path).append(url_.extra);
  text.append(HV_W(" HTTP/1.1\r\n"));
  if (settings_ != nullptr && !settings_->body.empty()) {
    numbers = "Content-Length: " + std::to_string(settings_->body.size()) + "\r\n";
    text.append(numbers.begin(), numbers.end());
  }
  if (settings_ != nullptr && !settings_->content_type.empty()) {
    text += HV_W("Content-Type: ") + settings_->content_type + HV_W("\r\n");
  }
  if (settings_ != nullptr) text += settings_->extra_headers;
  text.append(HV_W("Host: ")).append(url_.host_name);
  if (url_.port != DefaultPort(url_.scheme)) {
    numbers = ":" + std::to_string(url_.port);
    text.append(numbers.begin(), numbers.end());
  }
  text += HV_W("\r\nUser-Agent: Microsoft-ATL-Native/8.00\r\n\r\n");
  return text;
}

template <class TSocket>
bool CAtlHttpClientT<TSocket>::SendRequest() {
  std::string bytes;
  platform::WideToAnsi(ComposeRequest(), &bytes);
  bytes += settings_->body;
  ZEvtSyncSocket::SendBuffer buffer{bytes.size(), bytes.data()};
  size_t sent = 0;
  if (!this->SendBuffers(&buffer, 1, &sent) || sent != bytes.size()) {
    this->CloseConnection();
    return false;
  }
  return true;
}

// One receive of up to `block` bytes appended to the buffer. An empty
// receive counts towards `*empty_receives`; a data receive resets it.
template <class TSocket>
bool CAtlHttpClientT<TSocket>::ReceiveSome(size_t block, int* empty_receives) {
  size_t at = buffer_.size();
  buffer_.resize(at + block);
  size_t got = block;
  bool ok = this->ReceiveInto(&buffer_[at], &got);
  buffer_.resize(at + (ok ? got : 0));
  if (ok) *empty_receives = got == 0 ? *empty_receives + 1 : 0;
  return ok;
}

template <class TSocket>
bool CAtlHttpClientT<TSocket>::ReceiveHead() {
  size_t scan = header_start_;
  int empty = 0;
  for (;;) {
    size_t end = buffer_.find("\r\n\r\n", scan);
    if (end == std::string::npos) {
      if (buffer_.size() - header_start_ > settings_->max_header_bytes) return false;
      scan = buffer_.size() >= 3 ? std::max(header_start_, buffer_.size() - 3) : header_start_;
      if (!ReceiveSome(http_detail::kHeadReceiveSize, &empty)) return false;
      if (empty >= http_detail::kMaxEmptyReceives) return false;
      continue;
    }
    header_length_ = end + 4 - header_start_;
    if (header_length_ > settings_->max_header_bytes) return false;
    const char* head = buffer_.data() + header_start_;
    const char* line_end = static_cast<const char*>(std::memchr(head, '\n', header_length_));
    if (!ParseStatusLine(head, line_end, &status_)) return false;
    if (status_ == 100) {  // interim response: the real one follows
      headers_.Clear();
      status_ = -1;
      header_start_ = end + 4;
      scan = header_start_;
      continue;
    }
    HeaderSink sink{&headers_, &challenges_, [this](const WString& v) { OnSetCookie(v); }};
    ParseHeaderLines(head, head + header_length_, sink);
    http10_ = header_length_ >= 8 && std::memcmp(head, "HTTP/1.0", 8) == 0;
    return true;
  }
}

template <class TSocket>
bool CAtlHttpClientT<TSocket>::ReceiveBody(int64_t announced) {
  size_t body_start = header_start_ + header_length_;
  size_t block = settings_->read_block_size == 0 ? 2048 : settings_->read_block_size;
  int empty = 0;
  if (announced >= 0) {
    if (static_cast<uint64_t>(announced) > settings_->max_body_bytes) return false;
    while (buffer_.size() - body_start < static_cast<uint64_t>(announced)) {
      if (!ReceiveSome(block, &empty) || empty >= http_detail::kMaxEmptyReceives) return false;
    }
  } else {
    for (;;) {
      if (!ReceiveSome(block, &empty)) {
        // A body still open when the exchange's time is up is a failure;
        // a single wait's own time-out, or an error, ends the body.
        if (this->DeadlineExpired() || DeadlinePassed()) return false;
        break;
      }
      if (empty >= http_detail::kMaxEmptyUnsizedReads) break;
      if (buffer_.size() - body_start > settings_->max_body_bytes) return false;
    }
  }
  body_length_ = static_cast<int64_t>(buffer_.size() - body_start);
  return true;
}

template <class TSocket>
bool CAtlHttpClientT<TSocket>::ReceiveChunkedBody() {
  std::string output = buffer_.substr(header_start_, header_length_);
  std::string pending = buffer_.substr(header_start_ + header_length_);
  buffer_.clear();
  header_start_ = 0;
  body_length_ = 0;
  ChunkedDecoder decoder(Header(HV_W("Trailer")) != nullptr, settings_->max_body_bytes,
                         settings_->max_header_bytes);
  std::vector<std::string> trailers;
  std::vector<char> block(settings_->read_block_size == 0 ? 2048 : settings_->read_block_size);
  for (;;) {
    decoder.Feed(pending.data(), pending.size(), &output, &trailers);
    if (decoder.failed()) return false;
    if (decoder.done()) break;
    size_t got = block.size();
    if (!this->ReceiveInto(block.data(), &got) || got == 0) return false;
    pending.assign(block.data(), got);
  }
  HeaderSink sink{&headers_, &challenges_, [this](const WString& v) { OnSetCookie(v); }};
  for (const std::string& line : trailers) ParseHeaderLine(line.data(), line.data() + line.size(), sink);
  body_length_ = static_cast<int64_t>(decoder.body_length());
  buffer_ = std::move(output);
  return true;
}

template <class TSocket>
bool CAtlHttpClientT<TSocket>::ReceiveResponse() {
  status_ = -1;
  header_length_ = 0;
  body_length_ = 0;
  headers_.Clear();
  if (!ReceiveHead()) return false;
  bool ok;
  if (HeaderIs(HV_W("Transfer-Encoding"), HV_W("chunked"))) {
    ok = ReceiveChunkedBody();
  } else {
    // Only an absent field means "no length": an announced length below
    // what is already there, a negative one too, reads nothing more.
    const WString* length = Header(HV_W("Content-Length"));
    ok = ReceiveBody(length == nullptr ? -1 : std::max<int64_t>(0, ParseDecimal(*length)));
  }
  // An HTTP/1.0 peer closes after its response unless it said keep-alive;
  // reusing that connection for a redirect would only find it gone.
  bool peer_closes = HeaderIs(HV_W("Connection"), HV_W("close")) ||
                     (http10_ && !HeaderIs(HV_W("Connection"), HV_W("keep-alive")));
  if (ok && peer_closes) this->CloseConnection();
  return ok;
}

template <class TSocket>
typename CAtlHttpClientT<TSocket>::Judgement CAtlHttpClientT<TSocket>::JudgeStatus() {
  if (!settings_->judge_status) return Judgement::kAccept;
  if ((status_ >= 200 && status_ <= 206) || status_ == 304 || status_ == 305) {
    return Judgement::kAccept;
  }
  if (status_ == 301 || status_ == 302 || status_ == 303) {
    if (!settings_->follow_redirects || Header(HV_W("Location")) == nullptr) {
      return Judgement::kAccept;
    }
    return Judgement::kRedirect;
  }
  if (status_ == 401 || status_ == 407) {
    return NegotiateAuth(status_ == 407) ? Judgement::kAccept : Judgement::kReject;
  }
  return Judgement::kReject;
}

// Moves to the "Location" target and sends the request there.
template <class TSocket>
bool CAtlHttpClientT<TSocket>::FollowRedirect() {
  WString location = *Header(HV_W("Location"));
  if (HeaderIs(HV_W("Connection"), HV_W("close")) || !this->connected()) {
    this->CloseConnection();
    this->OpenConnection(url_.host_name, url_.port);
  }
  WString old_host = url_.host_name;
  uint16_t old_port = url_.port;
  headers_.Clear();
  buffer_.clear();
  header_start_ = 0;
  header_length_ = 0;
  if (!ResolveLocation(&location, url_) || !SplitUrl(location, &url_) || !CheckUrl()) {
    return false;
  }
  if (url_.host_name != old_host || url_.port != old_port) {
    this->CloseConnection();
    this->OpenConnection(url_.host_name, url_.port);  // a failure shows at the send
  }
  return SendRequest();
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
  if (url.empty() || !NormalizeUrl(url, &normalized) || !SplitUrl(normalized, &parts)) return false;
  Reset();
  settings_ = &settings;
  method_ = settings.method;
  this->SocketTimeout = settings.timeout_ms;
  has_deadline_ = settings.deadline_ms != 0;
  deadline_ = ZEvtSyncSocket::Clock::now() + std::chrono::milliseconds(settings.deadline_ms);
  if (has_deadline_) {
    this->SetDeadline(deadline_);
  } else {
    this->SetDeadline(std::nullopt);
  }
  url_ = parts;
  bool ok = CheckUrl() && this->OpenConnection(url_.host_name, url_.port) && SendRequest();
  for (uint32_t redirects = 0; ok;) {
    if (!ReceiveResponse()) {
      ok = false;
      break;
    }
    Judgement judgement = JudgeStatus();
    if (judgement == Judgement::kAccept) break;
    if (judgement == Judgement::kReject || redirects++ >= settings.max_redirects) {
      ok = false;
      break;
    }
    ok = FollowRedirect();
  }
  if (!ok) this->CloseConnection();
  settings_ = nullptr;
  return ok;
}

}  // namespace hv

#endif  // HV_HTTP_HTTP_CLIENT_IMPL_H_
