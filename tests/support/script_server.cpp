#include "tests/support/script_server.h"

#include <chrono>
#include <stdexcept>

#include "platform/socket.h"

namespace hv::testing {
namespace {

using platform::IoStatus;
using platform::TcpSocket;

constexpr uint32_t kPollMs = 20;

bool SendAll(TcpSocket* socket, const std::string& bytes) {
  size_t sent = 0;
  uint32_t error = 0;
  return socket->Send(bytes.data(), bytes.size(), 5000, &sent, &error) == IoStatus::kOk;
}

}  // namespace

struct ScriptServer::Listener {
  platform::TcpListener socket;
};

std::string HttpResponse(int status, const std::string& body, const std::string& extra_headers) {
  return "HTTP/1.1 " + std::to_string(status) + " Status\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n" + extra_headers + "\r\n" + body;
}

ScriptServer::ScriptServer(std::vector<Script> scripts, bool ipv6)
    : scripts_(std::move(scripts)), ipv6_(ipv6), listener_(new Listener) {
  if (listener_->socket.Listen(0, ipv6) != 0) throw std::runtime_error("cannot listen");
  port_ = listener_->socket.port();
  thread_ = std::thread([this] { Run(); });
}

ScriptServer::~ScriptServer() {
  stop_ = true;
  thread_.join();
  delete listener_;
}

std::string ScriptServer::Url(const std::string& path) const {
  return (ipv6_ ? "http://[::1]:" : "http://127.0.0.1:") + std::to_string(port_) + path;
}

std::vector<std::string> ScriptServer::Requests() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return requests_;
}

void ScriptServer::Run() {
  while (!stop_) {
    TcpSocket connection;
    uint32_t error = 0;
    if (listener_->socket.Accept(kPollMs, &connection, &error) != IoStatus::kOk) continue;
    size_t index;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      index = requests_.size();
      requests_.emplace_back();
    }
    ++connections_;
    const Script& script = scripts_.empty() ? Script() : scripts_[std::min(index, scripts_.size() - 1)];
    auto record = [&](const char* data, size_t n) {
      std::lock_guard<std::mutex> hold(mutex_);
      requests_[index].append(data, n);
    };
    for (const Step& step : script) {
      if (stop_) break;
      switch (step.kind) {
        case Step::kRead: {
          auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
          std::string seen;
          while (!stop_ && seen.find("\r\n\r\n") == std::string::npos &&
                 std::chrono::steady_clock::now() < give_up) {
            char buf[4096];
            size_t got = 0;
            auto status = connection.Receive(buf, sizeof buf, kPollMs, &got, &error);
            if (status == IoStatus::kFailed || (status == IoStatus::kOk && got == 0)) break;
            seen.append(buf, got);
            record(buf, got);
          }
          break;
        }
        case Step::kSend:
          SendAll(&connection, step.bytes);
          break;
        case Step::kSleep:
          std::this_thread::sleep_for(std::chrono::milliseconds(step.ms));
          break;
        case Step::kDrip:
          for (char c : step.bytes) {
            // A peer that gave up ends the drip.
            if (stop_ || !SendAll(&connection, std::string(1, c))) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(step.ms));
          }
          break;
        case Step::kClose:
          connection.Close();
          break;
        case Step::kReset:
          platform::ResetAndClose(&connection);
          break;
        case Step::kHold:
          while (!stop_) {
            char buf[4096];
            size_t got = 0;
            auto status = connection.Receive(buf, sizeof buf, kPollMs, &got, &error);
            if (status == IoStatus::kFailed || (status == IoStatus::kOk && got == 0)) break;
            if (got > 0) record(buf, got);
          }
          break;
      }
    }
  }
}

}  // namespace hv::testing
