#include "http/chunked_decoder.h"

#include <algorithm>

#include "base/ascii.h"

namespace hv {

ChunkedDecoder::ChunkedDecoder(uint64_t max_body, size_t max_line)
    : max_body_(max_body), max_line_(max_line) {}

void ChunkedDecoder::FinishSizeLine() {
  const std::string& s = line_;
  size_t i = 0;
  uint64_t size = 0;
  for (; i < s.size() && HexDigitValue(s[i]) >= 0; ++i) {
    size = size * 16 + static_cast<uint64_t>(HexDigitValue(s[i]));
    if (size > 0x7FFFFFFF) return Fail(Error::kMalformed);
  }
  if (i == 0) return Fail(Error::kMalformed);  // 1*HEXDIG: no sign, prefix or blank
  // Chunk extensions (";" name ["=" value], after optional blanks) carry
  // nothing this client uses: skipped. Anything else after the size is junk.
  size_t after = i;
  while (after < s.size() && (s[after] == ' ' || s[after] == '\t')) ++after;
  bool extension = after < s.size() && s[after] == ';';
  if (i != s.size() && !extension) return Fail(Error::kMalformed);
  if (body_length_ + size > max_body_) return Fail(Error::kTooLarge);
  chunk_left_ = size;
  last_chunk_ = size == 0;
  line_.clear();
  state_ = State::kSizeLineLf;
}

size_t ChunkedDecoder::Feed(const char* data, size_t size, std::string* body,
                            std::vector<std::string>* trailers) {
  size_t i = 0;
  while (i < size) {
    char c = data[i];
    switch (state_) {
      case State::kSizeLine:
        ++i;
        if (c == '\r') {
          FinishSizeLine();
        } else if (line_.size() >= std::min(max_line_, kMaxSizeLine)) {
          Fail(Error::kTooLarge);
        } else {
          line_.push_back(c);
        }
        break;
      case State::kSizeLineLf:
        ++i;
        if (c != '\n') {
          Fail(Error::kMalformed);
        } else if (!last_chunk_) {
          state_ = State::kData;
        } else {
          state_ = State::kTrailer;
        }
        break;
      case State::kData: {
        size_t take = static_cast<size_t>(std::min<uint64_t>(chunk_left_, size - i));
        body->append(data + i, take);
        i += take;
        chunk_left_ -= take;
        body_length_ += take;
        if (chunk_left_ == 0) state_ = State::kDataCr;
        break;
      }
      case State::kDataCr:
        ++i;
        if (c == '\r') {
          state_ = State::kDataLf;
        } else {
          Fail(Error::kMalformed);
        }
        break;
      case State::kDataLf:
        ++i;
        if (c == '\n') {
          state_ = State::kSizeLine;
        } else {
          Fail(Error::kMalformed);
        }
        break;
      case State::kTrailer:
        ++i;
        if (++trailer_bytes_ > max_line_) {
          Fail(Error::kTooLarge);
        } else if (c == '\n') {
          // A bare LF ends a line here as it does in the head.
          if (!line_.empty() && line_.back() == '\r') line_.pop_back();
          if (line_.empty()) {
            state_ = State::kDone;
          } else {
            trailers->push_back(line_);
            line_.clear();
          }
        } else {
          line_.push_back(c);
        }
        break;
      case State::kDone:
      case State::kError:
        return i;
    }
  }
  return i;
}

}  // namespace hv
