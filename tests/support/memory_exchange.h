// Helpers for driving the HTTP client through the in-memory transport:
// one exchange against a peer in turns, and each way of cutting its bytes.
#ifndef HV_TESTS_SUPPORT_MEMORY_EXCHANGE_H_
#define HV_TESTS_SUPPORT_MEMORY_EXCHANGE_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/utf.h"
#include "http/http_client_impl.h"
#include "tests/support/memory_socket.h"
#include "tests/support/request_check.h"

namespace hv::testing {

constexpr char kExchangeUrl[] = "http://127.0.0.1:8080/first?c=1";

// One exchange with a peer that answers each request with the next of
// `answers`, and closes when it has none left.
struct MemoryExchange {
  MemoryExchange(const std::string& answer, size_t piece, const std::string& url = kExchangeUrl,
                 NavigateSettings settings = NavigateSettings())
      : MemoryExchange(std::vector<std::string>{answer}, piece, url, settings) {}
  MemoryExchange(std::vector<std::string> answers, size_t piece,
                 const std::string& url = kExchangeUrl,
                 NavigateSettings settings = NavigateSettings()) {
    client.Answers(std::move(answers), piece);
    ok = client.Navigate(Utf8ToWide(url), settings);
  }
  std::string body() const { return std::string(client.GetBody(), client.GetBodyLength()); }
  const WString* header(const WChar* name) const { return client.Headers().Find(name); }

  CAtlHttpClientT<MemorySocket> client;
  bool ok = false;
};

// Runs `check` on the exchange for `answers` with each way of cutting them.
template <class Check>
void ForEachCut(std::vector<std::string> answers, Check check, const std::string& url = kExchangeUrl) {
  for (size_t piece : {size_t{1}, size_t{7}, size_t{4096}}) {
    SCOPED_TRACE("pieces of " + std::to_string(piece));
    MemoryExchange e(answers, piece, url);
    check(e);
  }
}
template <class Check>
void ForEachCut(const std::string& answer, Check check, const std::string& url = kExchangeUrl) {
  ForEachCut(std::vector<std::string>{answer}, check, url);
}

}  // namespace hv::testing

#endif  // HV_TESTS_SUPPORT_MEMORY_EXCHANGE_H_
