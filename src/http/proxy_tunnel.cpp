#include "http/proxy_tunnel.h"

#include <cstring>

#include "http/response_head.h"
#include "platform/socket.h"

namespace hv {
namespace {

constexpr size_t kReceiveSize = 2048;

bool AppendVisible(const WString& text, std::string* out) {
  for (WChar c : text) {
    if (c <= 0x20 || c >= 0x7F) return false;
    out->push_back(static_cast<char>(c));
  }
  return true;
}

bool Fail(ZEvtSyncSocket& raw, ProxyFailure why, ProxyFailure* failure) {
  *failure = why;
  raw.CloseConnection();
  return false;
}

// Receives until `*head` holds a whole answer head of at most `budget`
// bytes, its length then in `*length`; kNone, else why not.
ProxyFailure ReadHead(ZEvtSyncSocket& raw, size_t budget, std::string* head, size_t* length) {
  size_t scan = 0;
  while ((*length = FindHeadEnd(*head, scan)) == std::string::npos) {
    if (head->size() > budget) return ProxyFailure::kNoAnswer;
    scan = head->size() >= 2 ? head->size() - 2 : 0;
    size_t at = head->size(), got = kReceiveSize;
    head->resize(at + got);
    if (!raw.ReceiveInto(&(*head)[at], &got)) {
      // A wait or the deadline running out (also between two receives,
      // where no wait ran) is no close.
      if (!raw.TimedOut() && !raw.DeadlineExpired()) return ProxyFailure::kClosed;
      raw.LastError = platform::kSocketTimedOut;
      return ProxyFailure::kNoAnswer;
    }
    head->resize(at + got);
    if (got == 0) return ProxyFailure::kClosed;
  }
  return *length > budget ? ProxyFailure::kNoAnswer : ProxyFailure::kNone;
}

// Sends the CONNECT request for `host`:`port`; kNone, else why not.
ProxyFailure SendConnect(ZEvtSyncSocket& raw, const WString& host, uint16_t port) {
  std::string request;
  if (!ComposeConnect(host, port, &request)) return ProxyFailure::kNoAnswer;
  ZEvtSyncSocket::SendBuffer buffer{request.size(), request.data()};
  size_t sent = 0;
  if (!raw.SendBuffers(&buffer, 1, &sent) || sent != request.size()) {
    return ProxyFailure::kClosed;  // a proxy that accepted and hung up at once
  }
  return ProxyFailure::kNone;
}

// The proxy's answer is read by the response reader's rule: every line of
// its head (interim heads too) must be a field, or the answer is none. A
// reader that took a malformed line would not agree with the proxy on
// where the head ends, and the tunnel's first bytes are what follows it.
// The fields themselves are dropped: a 2xx to CONNECT frames no body.
bool HeadHoldsOnlyFields(const std::string& head, size_t length) {
  HeaderTable dropped;
  FramingFields fields;
  ParseHeaderLines(head.data(), head.data() + length, HeaderSink{&dropped, nullptr, nullptr, &fields});
  return !fields.malformed_field;
}

// Reads answer heads until a final one: interim answers (1xx but 101,
// RFC 9110 15.2) are dropped, and all heads read share the header limit.
// On kNone `*head` starts with the final head, `*length` bytes long, and
// `*status` holds its status.
ProxyFailure ReadFinalHead(ZEvtSyncSocket& raw, size_t max_header_bytes, std::string* head,
                           size_t* length, int32_t* status) {
  size_t interim = 0;
  for (;;) {
    ProxyFailure why = ReadHead(raw, max_header_bytes - interim, head, length);
    if (why != ProxyFailure::kNone) return why;
    const char* line_end = static_cast<const char*>(std::memchr(head->data(), '\n', *length));
    bool http10 = false;
    if (!ParseStatusLine(head->data(), line_end, status, &http10)) return ProxyFailure::kNoAnswer;
    if (!HeadHoldsOnlyFields(*head, *length)) return ProxyFailure::kNoAnswer;
    if (*status >= 200 || *status == 101) return ProxyFailure::kNone;
    interim += *length;
    head->erase(0, *length);
  }
}

// Only a 2xx opens the tunnel.
ProxyFailure JudgeAnswer(int32_t status) {
  if (status == 407) return ProxyFailure::kAuthRequired;
  if (status < 200 || status > 299) return ProxyFailure::kRefused;
  return ProxyFailure::kNone;
}

}  // namespace

bool ComposeConnect(const WString& host, uint16_t port, std::string* bytes) {
  bytes->clear();
  std::string authority;
  if (host.empty() || !AppendVisible(host, &authority)) return false;
  authority += ":" + std::to_string(port);
  *bytes = "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority +
           "\r\nUser-Agent: Microsoft-ATL-Native/8.00\r\n\r\n";
  return true;
}

bool OpenTunnel(ZEvtSyncSocket& raw, const WString& host, uint16_t port, size_t max_header_bytes,
                std::string* after_head, ProxyFailure* failure, int32_t* status) {
  *status = -1;
  after_head->clear();
  std::string head;
  size_t length = 0;
  ProxyFailure why = SendConnect(raw, host, port);
  if (why == ProxyFailure::kNone) why = ReadFinalHead(raw, max_header_bytes, &head, &length, status);
  if (why == ProxyFailure::kNone) why = JudgeAnswer(*status);
  if (why != ProxyFailure::kNone) return Fail(raw, why, failure);
  after_head->assign(head, length, std::string::npos);
  *failure = ProxyFailure::kNone;
  return true;
}

}  // namespace hv
