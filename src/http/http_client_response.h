// Definitions of CAtlHttpClientT's reading of a response: the head (interim
// answers skipped), then the body as its framing says (a length, chunks,
// or until the peer's close), every receive refused once the exchange's
// deadline has passed and every part held within the settings' limits.
//
// Part of http_client_impl.h, which includes it: code that instantiates
// the client includes that header, not this one. Thread-safety and results
// as in http/http_client.h.
#ifndef HV_HTTP_HTTP_CLIENT_RESPONSE_H_
#define HV_HTTP_HTTP_CLIENT_RESPONSE_H_

#include <algorithm>
#include <cstring>

#include "http/chunked_decoder.h"
#include "http/http_client.h"
#include "platform/socket.h"

namespace hv {

namespace http_detail {
constexpr size_t kHeadReceiveSize = 2048;
constexpr int kMaxEmptyReceives = 5;  // in a row, for the head and a sized body
}  // namespace http_detail

// Every receive of the exchange goes through here: none once the
// deadline has passed, whatever the peer has queued.
template <class TSocket>
bool CAtlHttpClientT<TSocket>::Receive(char* into, size_t* size) {
  if (TimeIsUp()) {
    *size = 0;
    return false;
  }
  return this->ReceiveInto(into, size);
}

// One receive of up to `block` bytes appended to the buffer. An empty
// receive counts towards `*empty_receives`; a data receive resets it.
template <class TSocket>
bool CAtlHttpClientT<TSocket>::ReceiveSome(size_t block, int* empty_receives) {
  size_t at = buffer_.size();
  buffer_.resize(at + block);
  size_t got = block;
  bool ok = Receive(&buffer_[at], &got);
  buffer_.resize(at + (ok ? got : 0));
  if (ok) response_bytes_ += got;
  peak_held_ = std::max(peak_held_, buffer_.size());
  if (ok) *empty_receives = got == 0 ? *empty_receives + 1 : 0;
  return ok;
}

// Receives head blocks until a final one (status 200 or above) is in the
// buffer from its start. Interim blocks (1xx but 101) are dropped from the
// buffer as they are read, and count against the header limit.
template <class TSocket>
bool CAtlHttpClientT<TSocket>::ReceiveHead() {
  size_t interim = 0, scan = 0;
  int empty = 0;
  for (;;) {
    size_t length = FindHeadEnd(buffer_, scan);
    if (length == std::string::npos) {
      if (interim + buffer_.size() > settings_->max_header_bytes) return HeadTooLarge();
      scan = buffer_.size() >= 2 ? buffer_.size() - 2 : 0;
      if (!ReceiveSome(http_detail::kHeadReceiveSize, &empty)) return false;
      if (empty >= http_detail::kMaxEmptyReceives) {
        this->LastError = platform::kSocketReset;  // closed before the head's end
        return false;
      }
      continue;
    }
    if (interim + length > settings_->max_header_bytes) return HeadTooLarge();
    const char* head = buffer_.data();
    const char* line_end = static_cast<const char*>(std::memchr(head, '\n', length));
    bool http10 = false;
    if (!ParseStatusLine(head, line_end, &status_, &http10)) {
      return Fail(http_error::kBadResponse, "the answer's status line is malformed");
    }
    if (status_ >= 100 && status_ < 200) {
      if (status_ == 101) return Fail(http_error::kBadResponse, "status 101: an upgrade nobody asked for");
      // An interim answer's fields are dropped, but they must be fields:
      // a reader that takes a malformed line otherwise would not agree
      // where this head ends.
      HeaderTable dropped;
      FramingFields interim_fields;
      ParseHeaderLines(head, head + length, HeaderSink{&dropped, nullptr, nullptr, &interim_fields});
      // Its framing fields frame nothing, but must be valid all the same.
      if (DecideFraming(status_, interim_fields).body == BodyFraming::kInvalid) {
        return Fail(http_error::kBadResponse, "an interim answer's head holds a line that is no field or invalid framing");
      }
      interim += length;
      buffer_.erase(0, length);
      status_ = -1;
      scan = 0;
      continue;
    }
    header_length_ = length;
    head_bytes_ = interim + length;
    framing_ = FramingFields();
    framing_.http10 = http10;
    HeaderSink sink{&headers_, &challenges_, [this](const WString& v) { OnSetCookie(v); }, &framing_};
    ParseHeaderLines(head, head + length, sink);
    return true;
  }
}

template <class TSocket>
bool CAtlHttpClientT<TSocket>::HeadTooLarge() {
  return Fail(http_error::kHeaderTooLarge, "the answer's head is over the header limit");
}

template <class TSocket>
bool CAtlHttpClientT<TSocket>::BodyTooLarge() {
  return Fail(http_error::kBodyTooLarge, "the answer's body is over the body limit");
}

// Bytes past the body's end are no body: they are cut. True when there
// were any (the connection then cannot be trusted for another response).
template <class TSocket>
bool CAtlHttpClientT<TSocket>::CutAfter(uint64_t body_bytes) {
  if (buffer_.size() - header_length_ <= body_bytes) return false;
  buffer_.resize(header_length_ + static_cast<size_t>(body_bytes));
  return true;
}

template <class TSocket>
size_t CAtlHttpClientT<TSocket>::BlockSize() const {
  return settings_->read_block_size == 0 ? 2048 : settings_->read_block_size;
}

template <class TSocket>
bool CAtlHttpClientT<TSocket>::ReceiveSized(uint64_t length, bool* excess) {
  if (length > settings_->max_body_bytes) return BodyTooLarge();
  int empty = 0;
  for (uint64_t have; (have = buffer_.size() - header_length_) < length;) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(BlockSize(), length - have));
    if (!ReceiveSome(want, &empty)) return false;
    if (empty >= http_detail::kMaxEmptyReceives) return CutShort();
  }
  *excess = CutAfter(length);
  body_length_ = static_cast<int64_t>(length);
  return true;
}

// A body the peer's close (over TLS, close_notify) ended before its length
// or its last chunk: a failure with the connection-reset error, so that it
// never reads as one without a cause.
template <class TSocket>
bool CAtlHttpClientT<TSocket>::CutShort() {
  if (this->LastError == 0) this->LastError = platform::kSocketReset;
  return false;
}

// Only the peer's orderly close ends such a body: an empty receive (over
// TLS, close_notify). A wait that runs out, a reset, a TLS connection cut
// without close_notify or a failed record, and a body still open when the
// exchange's time is up fail it: a cut answer never passes for a whole
// one. A failure without a socket error of its own reports WSAETIMEDOUT.
template <class TSocket>
bool CAtlHttpClientT<TSocket>::ReceiveToClose() {
  int empty = 0;
  while (empty == 0) {
    if (!ReceiveSome(BlockSize(), &empty)) {
      if (deadline_hit_ || this->TimedOut()) this->LastError = platform::kSocketTimedOut;
      return false;
    }
    if (buffer_.size() - header_length_ > settings_->max_body_bytes) return BodyTooLarge();
  }
  body_length_ = static_cast<int64_t>(buffer_.size() - header_length_);
  return true;
}

// The decoded data follows the head in the buffer; the trailer section is
// read to its end but its fields never enter the header table.
template <class TSocket>
bool CAtlHttpClientT<TSocket>::ReceiveChunked(bool* excess) {
  std::string pending = buffer_.substr(header_length_);
  buffer_.resize(header_length_);
  // Size lines and the trailer section share the header limit with the
  // head and the interim answers before it: a peer cannot grow them
  // without end.
  ChunkedDecoder decoder(settings_->max_body_bytes, settings_->max_header_bytes - head_bytes_);
  std::vector<std::string> trailers;
  for (;;) {
    size_t used = decoder.Feed(pending.data(), pending.size(), &buffer_, &trailers);
    peak_held_ = std::max(peak_held_, buffer_.size() + pending.size() + decoder.bytes_held());
    if (decoder.failed()) {
      return decoder.error() == ChunkedDecoder::Error::kTooLarge
                 ? Fail(http_error::kBodyTooLarge, "the chunked body or its size lines are over a limit")
                 : Fail(http_error::kBadResponse, "the chunked body is malformed");
    }
    if (decoder.done()) {
      *excess = used < pending.size();
      break;
    }
    size_t got = BlockSize();
    pending.resize(got);  // the next receive, in place of the bytes fed
    bool ok = Receive(&pending[0], &got);
    pending.resize(ok ? got : 0);
    if (!ok) return false;
    if (got == 0) return CutShort();
  }
  body_length_ = static_cast<int64_t>(decoder.body_length());
  return true;
}

// Head, then the body as DecideFraming says; the reading loops decide
// nothing about the protocol.
template <class TSocket>
bool CAtlHttpClientT<TSocket>::ReceiveResponse() {
  status_ = -1;
  header_length_ = 0;
  body_length_ = 0;
  response_bytes_ = 0;
  headers_.Clear();
  if (!ReceiveHead()) return false;
  Framing framing = DecideFraming(status_, framing_);
  bool ok = false, excess = false;
  switch (framing.body) {
    case BodyFraming::kInvalid:
      return Fail(http_error::kBadResponse, "the answer's framing (Content-Length, Transfer-Encoding) is invalid");
    case BodyFraming::kNone: ok = true; excess = CutAfter(0); break;
    case BodyFraming::kLength: ok = ReceiveSized(framing.length, &excess); break;
    case BodyFraming::kChunked: ok = ReceiveChunked(&excess); break;
    case BodyFraming::kUntilClose: ok = ReceiveToClose(); break;
  }
  if (ok && (framing.close_after || excess)) this->CloseConnection();
  return ok;
}

}  // namespace hv

#endif  // HV_HTTP_HTTP_CLIENT_RESPONSE_H_
