// The check that every request the HTTP client sent is well formed, for
// tests and fuzzers alike (no test framework needed).
#ifndef HV_TESTS_SUPPORT_REQUEST_CHECK_H_
#define HV_TESTS_SUPPORT_REQUEST_CHECK_H_

#include <cstddef>
#include <string>

namespace hv::testing {

// Splits what the client sent into its requests and checks each: one
// request line "GET target HTTP/1.1" whose target bytes all lie within
// 0x21..0x7E, then exactly the Host and User-Agent fields and the blank
// line. Returns an empty text when all are well formed, else what is not.
namespace request_check {

inline bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// One request without its final blank line.
inline std::string CheckOne(const std::string& request) {
  size_t line_end = request.find("\r\n");
  if (line_end == std::string::npos) return "no line end";
  std::string line = request.substr(0, line_end);
  const std::string tail = " HTTP/1.1";
  if (!StartsWith(line, "GET /") || line.size() < 4 + tail.size() ||
      line.compare(line.size() - tail.size(), tail.size(), tail) != 0) {
    return "request line: " + line;
  }
  for (size_t i = 4; i < line.size() - tail.size(); ++i) {
    auto c = static_cast<unsigned char>(line[i]);
    if (c < 0x21 || c > 0x7E) return "target byte " + std::to_string(c) + " in: " + line;
  }
  std::string fields = request.substr(line_end + 2);
  size_t host_end = fields.find("\r\n");
  if (!StartsWith(fields, "Host: ") || host_end == std::string::npos) return "no Host field";
  for (size_t i = 6; i < host_end; ++i) {
    auto c = static_cast<unsigned char>(fields[i]);
    if (c < 0x21 || c > 0x7E) return "host byte " + std::to_string(c);
  }
  if (fields.substr(host_end + 2) != "User-Agent: Microsoft-ATL-Native/8.00\r\n") {
    return "fields after Host: " + fields.substr(host_end + 2);
  }
  return "";
}

}  // namespace request_check

inline std::string CheckRequests(const std::string& sent, size_t* count = nullptr) {
  size_t at = 0, n = 0;
  while (at < sent.size()) {
    size_t end = sent.find("\r\n\r\n", at);
    if (end == std::string::npos) return "a request without its blank line";
    std::string problem = request_check::CheckOne(sent.substr(at, end + 2 - at));
    if (!problem.empty()) return problem;
    at = end + 4;
    ++n;
  }
  if (count != nullptr) *count = n;
  return "";
}

}  // namespace hv::testing

#endif  // HV_TESTS_SUPPORT_REQUEST_CHECK_H_
