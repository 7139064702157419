// A whole exchange, redirects included, against a peer the fuzzer scripts,
// over the in-memory transport with a virtual clock. Every input must keep
// the exchange's invariants, or the harness aborts:
//   - every request sent is one request line and the fixed fields, its
//     target bytes within 0x21..0x7E (no Location can split a request);
//   - the response bytes held never exceed the header and body limits plus
//     one receive;
//   - the exchange ends by its deadline (plus the one receive that began
//     before it: a real socket cuts that wait at the deadline);
//   - a success carries framing that RFC 9112 accepts, checked here again
//     from the fields the client kept, independently of its own decision.
//
// Input: byte 0 cuts the peer's bytes into receives, byte 1 is the virtual
// time one receive takes (ms), byte 2 the deadline (x 16 ms); the rest is
// the peer's answers in turns, one per request, separated by 0xFE.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/ascii.h"
#include "base/utf.h"
#include "http/http_client_impl.h"
#include "tests/support/memory_socket.h"
#include "tests/support/request_check.h"

namespace {

using Client = hv::CAtlHttpClientT<hv::testing::MemorySocket>;

[[noreturn]] void Broken(const std::string& what) {
  std::fprintf(stderr, "invariant broken: %s\n", what.c_str());
  std::abort();
}

// The members of a comma-separated list, trimmed. Empty members are part of
// the list's syntax only (RFC 9110 5.6.1) and are dropped, unless
// `keep_empty`: a Content-Length with an empty member is no valid length.
std::vector<std::string> Members(const std::string& value, bool keep_empty) {
  std::vector<std::string> out;
  size_t at = 0;
  for (;;) {
    size_t comma = value.find(',', at);
    std::string m = value.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
    m.erase(0, m.find_first_not_of(" \t"));
    m.erase(m.find_last_not_of(" \t") + 1);
    if (keep_empty || !m.empty()) out.push_back(m);
    if (comma == std::string::npos) return out;
    at = comma + 1;
  }
}

std::string Field(const Client& client, const hv::WChar* name, bool* present) {
  const hv::WString* v = client.Headers().Find(name);
  *present = v != nullptr;
  return v == nullptr ? std::string() : hv::WideToUtf8(*v);
}

// The framing of a successful final response, judged from the fields.
void CheckFraming(const Client& client) {
  int32_t status = client.GetStatus();
  if (status < 200 || status > 399) Broken("success with status " + std::to_string(status));
  bool te = false, cl = false;
  std::string codings = Field(client, HV_W("Transfer-Encoding"), &te);
  std::string lengths = Field(client, HV_W("Content-Length"), &cl);
  uint64_t body = client.GetBodyLength();
  if (status == 204 || status == 304) {
    if (body != 0) Broken("a body after 204 or 304");
    return;
  }
  if (te) {
    std::vector<std::string> list = Members(codings, false);
    if (list.size() != 1 || !hv::EqualsIgnoreCase(list[0], std::string("chunked"))) {
      Broken("success with codings " + codings);
    }
    if (static_cast<uint64_t>(client.GetBodyBytes()) != body) Broken("chunked body length");
    return;
  }
  if (cl) {
    for (const std::string& m : Members(lengths, true)) {
      // Leading zeros are digits like any other: "000…0" is a length of 0.
      size_t first = m.find_first_not_of('0');
      std::string significant = first == std::string::npos ? "0" : m.substr(first);
      if (m.empty() || m.find_first_not_of("0123456789") != std::string::npos ||
          significant.size() > 18 || std::stoull(significant) != body) {
        Broken("body of " + std::to_string(body) + " bytes under Content-Length " + lengths);
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  std::vector<std::string> answers(1);
  for (size_t i = 3; i < size; ++i) {
    if (data[i] == 0xFE) {
      answers.emplace_back();
    } else {
      answers.back().push_back(static_cast<char>(data[i]));
    }
  }
  Client client;
  size_t piece = 1 + static_cast<size_t>(data[0]) * 8;
  client.Answers(answers, piece);
  auto step = std::chrono::milliseconds(data[1]);
  client.TimePerReceive(step);
  hv::NavigateSettings settings;
  settings.max_header_bytes = 8 * 1024;
  settings.max_body_bytes = 64 * 1024;
  settings.timeout_ms = 1000;
  settings.deadline_ms = 1 + data[2] * 16u;
  bool ok = client.Navigate(HV_W("http://endpoint/interface/newauth/index.php?c=abc"), settings);

  std::string problem = hv::testing::CheckRequests(client.sent());
  if (!problem.empty()) Broken("request: " + problem);
  size_t one_receive = std::max<size_t>(settings.read_block_size, 2048);
  if (client.PeakBytesHeld() > settings.max_header_bytes + settings.max_body_bytes + one_receive) {
    Broken("held " + std::to_string(client.PeakBytesHeld()) + " bytes");
  }
  if (client.Now() > client.Deadline() + step) Broken("ran past the deadline");
  if (ok) CheckFraming(client);
  return 0;
}
