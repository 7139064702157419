// Decoder of the chunked transfer coding, fed bytes by the caller (no I/O
// here, so tests and fuzzers can drive it directly).
//
// States, in the order a body passes them:
//   kSizeLine    collecting a chunk-size line up to its CR
//   kSizeLineLf  the LF after it
//   kData        chunk data
//   kDataCr/Lf   the CR LF after the data
//   kTrailer     the trailer section: lines up to an empty line, read
//                whether or not the response announced a "Trailer" field
//   kDone, kError  terminal and sticky: Feed consumes nothing more
//
// The size line is 1*HEXDIG (no blank, sign or "0x" before it), optionally
// followed by chunk extensions (blanks, then ";" and anything up to the CR,
// skipped), then CR LF. Anything else fails: an empty size line, junk after
// the size, sizes beyond the signed 32-bit range, a size line longer than
// kMaxSizeLine or than the line room, a trailer section over the line room,
// a body larger than the limit. The caller gives as line room what the
// header limit leaves after the head, so that the head, a size line and
// the trailer section together stay within that one limit.
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
  enum class State { kSizeLine, kSizeLineLf, kData, kDataCr, kDataLf, kTrailer, kDone, kError };
  enum class Error { kNone, kMalformed, kTooLarge };

  // A size line, chunk extensions and all, never exceeds this.
  static constexpr size_t kMaxSizeLine = 4096;

  // `max_line` bounds a size line (with kMaxSizeLine), and all trailer
  // lines together.
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
  // Parses the collected size line; moves to kSizeLineLf or kError.
  void FinishSizeLine();

  State state_ = State::kSizeLine;
  Error error_ = Error::kNone;
  uint64_t max_body_;
  size_t max_line_;
  std::string line_;          // the size line or trailer line being collected
  uint64_t chunk_left_ = 0;   // data bytes still due in the current chunk
  bool last_chunk_ = false;
  uint64_t body_length_ = 0;
  size_t trailer_bytes_ = 0;  // all trailer lines together stay below max_line_
};

}  // namespace hv

#endif  // HV_HTTP_CHUNKED_DECODER_H_
