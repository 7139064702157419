#include "http/chunked_decoder.h"

#include <algorithm>

#include "base/ascii.h"
#include "http/response_head.h"

namespace hv {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

size_t SkipBlanks(const std::string& s, size_t i) {
  while (i < s.size() && IsBlank(s[i])) ++i;
  return i;
}

size_t SkipToken(const std::string& s, size_t i) {
  while (i < s.size() && IsHttpTokenChar(s[i])) ++i;
  return i;
}

// qdtext and quoted-pair of RFC 9110 5.6.4: HTAB, SP, visible ASCII but
// '"' and '\', and obs-text; after '\' any of those or '"' and '\'.
bool IsQuotedText(char c) {
  auto u = static_cast<unsigned char>(c);
  return c == '\t' || (u >= 0x20 && u != 0x7F && c != '"' && c != '\\');
}

// A quoted-string starting at s[i] == '"'; npos when it is not one.
size_t SkipQuoted(const std::string& s, size_t i) {
  for (++i; i < s.size(); ++i) {
    if (s[i] == '"') return i + 1;
    if (s[i] == '\\') {
      if (++i == s.size() || !(IsQuotedText(s[i]) || s[i] == '"' || s[i] == '\\')) break;
    } else if (!IsQuotedText(s[i])) {
      break;
    }
  }
  return std::string::npos;
}

// chunk-ext of RFC 9112 7.1.1 from s[i] to the end (blanks after the last
// extension allowed): *( BWS ";" BWS name [ BWS "=" BWS value ] ).
bool IsChunkExtensions(const std::string& s, size_t i) {
  while (i < s.size()) {
    i = SkipBlanks(s, i);
    if (i == s.size()) return true;
    if (s[i] != ';') return false;
    size_t name = SkipBlanks(s, i + 1);
    i = SkipToken(s, name);
    if (i == name) return false;
    size_t eq = SkipBlanks(s, i);
    if (eq < s.size() && s[eq] == '=') {
      size_t value = SkipBlanks(s, eq + 1);
      i = value < s.size() && s[value] == '"' ? SkipQuoted(s, value) : SkipToken(s, value);
      if (i == std::string::npos || i == value) return false;
    }
  }
  return true;
}

}  // namespace

ChunkedDecoder::ChunkedDecoder(uint64_t max_body, size_t max_line)
    : max_body_(max_body), max_line_(max_line) {}

bool ChunkedDecoder::CountFramingByte() {
  if (++framing_bytes_ <= max_line_) return true;
  Fail(Error::kTooLarge);
  return false;
}

void ChunkedDecoder::FinishSizeLine() {
  const std::string& s = line_;
  size_t i = 0;
  uint64_t size = 0;
  for (; i < s.size() && HexDigitValue(s[i]) >= 0; ++i) {
    size = size * 16 + static_cast<uint64_t>(HexDigitValue(s[i]));
    if (size > 0x7FFFFFFF) return Fail(Error::kMalformed);
  }
  if (i == 0) return Fail(Error::kMalformed);  // 1*HEXDIG: no sign, prefix or blank
  // Chunk extensions carry nothing this client uses: checked, then skipped.
  // Blanks with no extension after them, or anything else, are junk.
  if (i != s.size() && (s[SkipBlanks(s, i)] != ';' || !IsChunkExtensions(s, i))) {
    return Fail(Error::kMalformed);
  }
  if (body_length_ + size > max_body_) return Fail(Error::kTooLarge);
  chunk_left_ = size;
  line_.clear();
  state_ = size == 0 ? State::kTrailer : State::kData;
}

void ChunkedDecoder::FinishTrailerLine(std::vector<std::string>* trailers) {
  if (!line_.empty() && line_.back() == '\r') line_.pop_back();
  const char* begin = line_.data();
  const char* end = begin + line_.size();
  if (line_.empty()) {
    state_ = State::kDone;
  } else if (IsBlank(line_[0]) && !trailers->empty() && IsFieldValueText(begin, end)) {
    trailers->back() += ' ';  // an obsolete fold: the field goes on after one blank
    const size_t text = line_.find_first_not_of(" \t");  // none in a fold of blanks only
    if (text != std::string::npos) trailers->back().append(line_, text, std::string::npos);
  } else if (IsFieldLine(begin, end)) {
    trailers->push_back(line_);
  } else {
    return Fail(Error::kMalformed);
  }
  line_.clear();
}

size_t ChunkedDecoder::Feed(const char* data, size_t size, std::string* body,
                            std::vector<std::string>* trailers) {
  size_t i = 0;
  while (i < size) {
    char c = data[i];
    switch (state_) {
      case State::kSizeLine:
        ++i;
        if (!CountFramingByte()) break;
        if (c == '\n') {
          if (!line_.empty() && line_.back() == '\r') line_.pop_back();
          FinishSizeLine();
        } else if (!line_.empty() && line_.back() == '\r') {
          Fail(Error::kMalformed);  // a CR is a size line's end or nothing
        } else if (line_.size() >= kMaxSizeLine) {
          Fail(Error::kTooLarge);
        } else {
          line_.push_back(c);
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
        } else if (c == '\n') {
          state_ = State::kSizeLine;  // a bare LF ends this line as it ends every other
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
        ++trailer_bytes_;
        if (!CountFramingByte()) break;
        if (c == '\n') {
          FinishTrailerLine(trailers);
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
