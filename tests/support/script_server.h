// A scripted HTTP peer on 127.0.0.1 for tests: it accepts connections one
// after another and plays one script per connection (read the request,
// send bytes, wait, drip, close, reset, or hold the connection open without
// answering), recording the request bytes it received.
//
// The server runs on a thread of its own and stops in its destructor.
#ifndef HV_TESTS_SUPPORT_SCRIPT_SERVER_H_
#define HV_TESTS_SUPPORT_SCRIPT_SERVER_H_

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace hv::testing {

struct Step {
  enum Kind { kRead, kSend, kSleep, kDrip, kClose, kReset, kHold };
  Kind kind;
  std::string bytes;
  int ms = 0;

  static Step Read() { return {kRead, "", 0}; }
  static Step Send(std::string bytes) { return {kSend, std::move(bytes), 0}; }
  static Step Sleep(int ms) { return {kSleep, "", ms}; }
  // Sends the bytes one at a time, `ms` apart.
  static Step Drip(std::string bytes, int ms) { return {kDrip, std::move(bytes), ms}; }
  static Step Close() { return {kClose, "", 0}; }
  static Step Reset() { return {kReset, "", 0}; }
  // Keeps the connection open and silent until the server stops.
  static Step Hold() { return {kHold, "", 0}; }
};

using Script = std::vector<Step>;

// A whole response with a Content-Length framing the body.
std::string HttpResponse(int status, const std::string& body,
                         const std::string& extra_headers = "");

class ScriptServer {
 public:
  // Connection i plays scripts[i]; connections after the last play the last
  // script again (so an endless redirect loop can be scripted with one).
  // Listens on 127.0.0.1, or on ::1 when `ipv6`.
  explicit ScriptServer(std::vector<Script> scripts, bool ipv6 = false);
  ~ScriptServer();
  ScriptServer(const ScriptServer&) = delete;
  ScriptServer& operator=(const ScriptServer&) = delete;

  uint16_t port() const { return port_; }
  // "http://127.0.0.1:PORT" (or "http://[::1]:PORT") + path.
  std::string Url(const std::string& path) const;
  // The request bytes received on each connection so far.
  std::vector<std::string> Requests() const;
  int connections() const { return connections_.load(); }

 private:
  void Run();

  std::vector<Script> scripts_;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  uint16_t port_ = 0;
  bool ipv6_ = false;
  struct Listener;
  Listener* listener_;
  std::thread thread_;
};

}  // namespace hv::testing

#endif  // HV_TESTS_SUPPORT_SCRIPT_SERVER_H_
