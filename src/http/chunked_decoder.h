// Decoder of the chunked transfer coding, fed bytes by the caller (no I/O
// here, so tests and fuzzers can drive it directly).
//
// States, in the order a body passes them:
//   kSizeLine    collecting a chunk-size line up to its LF
//   kData        chunk data
//   kDataCr/Lf   the line end after the data
//   kTrailer     the trailer section: lines up to an empty line, read
//                whether or not the response announced a "Trailer" field
//   kDone, kError  terminal and sticky: Feed consumes nothing more
//
// Every line ends at LF, a CR before it dropped, as in the head (RFC 9112
// 2.2): a size line, the end of chunk data, a trailer line. The size line
// is 1*HEXDIG (no blank, sign or "0x" before it), optionally followed by
// chunk extensions as RFC 9112 7.1.1 writes them (BWS ";" BWS token
// [BWS "=" BWS (token / quoted-string)]), nothing else: a CR, LF or NUL
// inside an extension fails. A trailer line is a field line (see
// IsFieldLine) or an obsolete fold of the one before. Anything else fails:
// an empty size line, junk after the size, sizes beyond the signed 32-bit
// range, a size line longer than kMaxSizeLine, size lines and trailer
// section together over the line room, a body larger than the limit. The
// caller gives as line room what the header limit leaves after the head,
// so that the head, every size line and the trailer section together stay
// within that one limit.
// Thread-safety: one decoder, one thread.
#ifndef HV_HTTP_CHUNKED_DECODER_H_
#define HV_HTTP_CHUNKED_DECODER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hv {

class ChunkedDecoder {
 public:
  enum class State { kSizeLine, kData, kDataCr, kDataLf, kTrailer, kDone, kError };
  enum class Error { kNone, kMalformed, kTooLarge };

  // A size line, chunk extensions and all, never exceeds this.
  static constexpr size_t kMaxSizeLine = 4096;

  // `max_line` bounds all size lines and trailer lines together (a size
  // line also by kMaxSizeLine).
  ChunkedDecoder(uint64_t max_body, size_t max_line);

  // Consumes bytes from `data` and appends decoded chunk data to `*body`
  // and complete trailer lines (without CR LF) to `*trailers`. Returns the
  // number of bytes consumed; fewer than `size` only in a terminal state.
  size_t Feed(const char* data, size_t size, std::string* body,
              std::vector<std::string>* trailers);

  State state() const { return state_; }
  Error error() const { return error_; }
  bool done() const { return state_ == State::kDone; }
  bool failed() const { return state_ == State::kError; }
  uint64_t body_length() const { return body_length_; }
  // The framing bytes held now: the size line being collected, or the
  // trailer section read so far. Never more than the line room.
  size_t bytes_held() const { return state_ == State::kSizeLine ? line_.size() : trailer_bytes_; }

 private:
  void Fail(Error error) {
    state_ = State::kError;
    error_ = error;
  }
  // Parses the collected size line; moves to kData, kTrailer or kError.
  void FinishSizeLine();
  // Takes the collected trailer line; moves to kDone at the empty one.
  void FinishTrailerLine(std::vector<std::string>* trailers);
  // Counts one framing byte against the line room; false (failed) past it.
  bool CountFramingByte();

  State state_ = State::kSizeLine;
  Error error_ = Error::kNone;
  uint64_t max_body_;
  size_t max_line_;
  std::string line_;          // the size line or trailer line being collected
  uint64_t chunk_left_ = 0;   // data bytes still due in the current chunk
  uint64_t body_length_ = 0;
  size_t framing_bytes_ = 0;  // size lines and trailer section so far, within max_line_
  size_t trailer_bytes_ = 0;  // the trailer section so far
};

}  // namespace hv

#endif  // HV_HTTP_CHUNKED_DECODER_H_
