// The module's side of the differential wire test: reads cases from its
// standard input, one a line, and writes one answer line each, so that
// run.py can set what the HTTP client reads and sends beside what strict
// reference parsers make of the same bytes. Hex text both ways, so that
// no text-mode stream (Windows' under Wine) can change a byte.
//
//   R <hex response>            the client's GET is answered with these
//                               bytes, then the peer closes in order:
//                               "ok <status> <keep 0|1> <hex body>" or "no"
//   Q <mode> <hex url> <hex location>
//                               the requests the client sends for `url`
//                               (mode "direct", "proxy" through a plain
//                               http proxy, "connect" the CONNECT request
//                               for its host and port, "redirect" after a
//                               302 to `location`): "sent <hex bytes>" and
//                               then, per request, " <hex target> <hex host>"
//                               the client meant to send; or "none"
//
// No status rule and no redirect (but in mode "redirect") is applied to a
// response: every status is a reading to compare.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "base/utf.h"
#include "http/http_client_impl.h"
#include "http/proxy_tunnel.h"
#include "tests/support/memory_socket.h"

namespace hv {
namespace {

using Client = CAtlHttpClientT<testing::MemorySocket>;

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 15]);
  }
  return out.empty() ? "-" : out;
}

std::string Unhex(const std::string& text) {
  std::string out;
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    out.push_back(static_cast<char>(HexDigitValue(text[i]) * 16 + HexDigitValue(text[i + 1])));
  }
  return out;
}

std::string ReadResponse(const std::string& bytes) {
  NavigateSettings settings;
  settings.judge_status = false;
  settings.follow_redirects = false;
  Client client;
  client.Answers({bytes}, 4096);
  if (!client.Navigate(HV_W("http://127.0.0.1:8080/"), settings)) return "no";
  return "ok " + std::to_string(client.GetStatus()) + (client.connected() ? " 1 " : " 0 ") +
         Hex(std::string(client.GetBody(), client.GetBodyLength()));
}

// What a request for `url` is meant to carry: its target and Host field.
std::string Intent(const CUrlParts& url, bool absolute) {
  std::string host = WideToUtf8(url.host_name);
  if (url.port != DefaultPort(url.scheme)) host += ":" + std::to_string(url.port);
  WString extra = url.extra.substr(0, url.extra.find('#'));
  std::string target = WideToUtf8(url.path.empty() ? HV_W("/") : url.path) + WideToUtf8(extra);
  if (absolute) target = "http://" + host + target;
  return " " + Hex(target) + " " + Hex(host);
}

std::string SendRequests(const std::string& mode, const std::string& url, const std::string& location) {
  WString normalized;
  CUrlParts first;
  if (!NormalizeUrl(Utf8ToWide(url), &normalized) || !SplitUrl(normalized, &first) || first.host_name.empty()) {
    return "none";
  }
  if (first.port == 0) first.port = 80;
  if (mode == "connect") {
    std::string bytes;
    if (!ComposeConnect(first.host_name, first.port, &bytes)) return "none";
    std::string authority = WideToUtf8(first.host_name) + ":" + std::to_string(first.port);
    return "sent " + Hex(bytes) + " " + Hex(authority) + " " + Hex(authority);
  }
  NavigateSettings settings;
  if (mode == "proxy") settings.proxy = ProxyTarget{HV_W("proxy.example"), 3128};
  bool absolute = mode == "proxy";
  Client client;
  std::vector<std::string> answers;
  if (mode == "redirect") {
    answers.push_back("HTTP/1.1 302 Found\r\nLocation: " + location + "\r\nContent-Length: 0\r\n\r\n");
  }
  answers.push_back("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  client.Answers(answers, 4096);
  bool ok = client.Navigate(Utf8ToWide(url), settings);
  if (client.sent().empty()) return "none";
  std::string line = "sent " + Hex(client.sent()) + Intent(first, absolute);
  if (ok && mode == "redirect") line += Intent(client.CurrentUrl(), absolute);
  return line;
}

}  // namespace
}  // namespace hv

int main() {
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> words;
    for (size_t at = 0; at <= line.size();) {
      size_t blank = line.find(' ', at);
      if (blank == std::string::npos) blank = line.size();
      words.push_back(line.substr(at, blank - at));
      at = blank + 1;
    }
    std::string answer = "no";
    if (words[0] == "R" && words.size() == 2) {
      answer = hv::ReadResponse(hv::Unhex(words[1]));
    } else if (words[0] == "Q" && words.size() == 4) {
      answer = hv::SendRequests(words[1], hv::Unhex(words[2]), hv::Unhex(words[3]));
    }
    std::cout << answer << '\n';
  }
  return 0;
}
