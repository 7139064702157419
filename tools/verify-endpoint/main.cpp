// verify-endpoint: a reference verification endpoint for the module.
//
//   verify-endpoint serve --accounts FILE [--host ADDR] [--port N]
//                         [--tls-cert FILE --tls-key FILE] [--redirect URL]
//   verify-endpoint add-account --accounts FILE --user NAME [--iterations N]
//
// "serve" answers GET /interface/newauth/index.php?c=CIPHER: it deciphers
// the query with the module's own cipher, checks "UserName=...&PassWord=..."
// against the accounts file, and answers 200 with the enciphered text
// "result=accepted" or "result=rejected" (Base64, no URL escaping). A
// missing or undecipherable "c" gets 400, other paths 404, other methods
// 405. With --tls-cert and --tls-key (PEM) it serves over TLS; with
// --redirect it sends every verification on to URL (for tests). Its first line of output is "listening on HOST:PORT" (port 0 picks a
// free one). One line per request goes to standard error, never a user name
// or password. SIGINT and SIGTERM stop it.
//
// "add-account" reads the password from the first line of standard input.
#include <httplib.h>
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "accounts.h"
#include "base/ascii.h"
#include "verify/cipher.h"
#include "verify/protocol.h"

namespace {

const char kUsage[] =
    "usage: verify-endpoint serve --accounts FILE [--host ADDR] [--port N]\n"
    "                             [--tls-cert FILE --tls-key FILE] [--redirect URL]\n"
    "       verify-endpoint add-account --accounts FILE --user NAME [--iterations N]\n"
    "       (the password is read from standard input)\n";

std::map<std::string, std::string> ParseOptions(int argc, char** argv, int first, bool* ok) {
  std::map<std::string, std::string> options;
  *ok = true;
  for (int i = first; i < argc; ++i) {
    std::string name = argv[i];
    if (name.rfind("--", 0) != 0 || i + 1 >= argc) {
      *ok = false;
      break;
    }
    options[name.substr(2)] = argv[++i];
  }
  return options;
}

void Answer(const hv::endpoint::Accounts& accounts, const httplib::Request& req,
            httplib::Response& res) {
  std::string plain, user, password;
  if (!req.has_param("c") || !hv::Decipher(req.get_param_value("c"), &plain) ||
      !hv::SplitVerifyQuery(plain, &user, &password)) {
    res.status = 400;
    res.set_content("bad request\n", "text/plain");
    return;
  }
  bool accepted = accounts.Check(user, password);
  res.status = 200;
  res.set_content(hv::EncipheredAnswer(accepted ? hv::kAnswerAccepted : hv::kAnswerRejected),
                  "text/plain");
}

int Serve(const std::map<std::string, std::string>& options) {
  auto accounts_file = options.find("accounts");
  if (accounts_file == options.end()) {
    std::cerr << kUsage;
    return 2;
  }
  hv::endpoint::Accounts accounts;
  std::string error;
  if (!accounts.Load(accounts_file->second, &error)) {
    std::cerr << "verify-endpoint: " << error << "\n";
    return 1;
  }
  std::string host = options.count("host") ? options.at("host") : "127.0.0.1";
  int port = 0;
  if (options.count("port") && !hv::ParseStrictDecimal(options.at("port"), 65535, &port)) {
    std::cerr << "verify-endpoint: --port must be a number from 0 to 65535\n";
    return 2;
  }

  // Signals are taken by a thread of their own, which stops the server.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  // TLS with the given certificate and key (PEM) when both are named.
  std::unique_ptr<httplib::Server> tls_or_plain;
  if (options.count("tls-cert") || options.count("tls-key")) {
    if (!options.count("tls-cert") || !options.count("tls-key")) {
      std::cerr << "verify-endpoint: --tls-cert and --tls-key go together\n";
      return 2;
    }
    auto tls = std::make_unique<httplib::SSLServer>(options.at("tls-cert").c_str(),
                                                    options.at("tls-key").c_str());
    if (!tls->is_valid()) {
      std::cerr << "verify-endpoint: cannot use the TLS certificate or key\n";
      return 1;
    }
    tls_or_plain = std::move(tls);
  } else {
    tls_or_plain = std::make_unique<httplib::Server>();
  }
  httplib::Server& server = *tls_or_plain;
  server.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
    if (req.path == hv::kVerifyPath && req.method != "GET" && req.method != "HEAD") {
      res.status = 405;
      res.set_header("Allow", "GET");
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
  // --redirect URL: every verification is sent on to URL instead (for
  // tests of the module's redirect rules).
  std::string redirect = options.count("redirect") ? options.at("redirect") : "";
  server.Get(hv::kVerifyPath, [&accounts, redirect](const httplib::Request& req, httplib::Response& res) {
    if (!redirect.empty()) {
      res.set_redirect(redirect, 302);
      return;
    }
    Answer(accounts, req, res);
  });
  server.set_logger([](const httplib::Request& req, const httplib::Response& res) {
    std::fprintf(stderr, "%s %s %d\n", req.method.c_str(), req.path.c_str(), res.status);
  });
  int bound = port == 0 ? server.bind_to_any_port(host) : (server.bind_to_port(host, port) ? port : -1);
  if (bound <= 0) {
    std::cerr << "verify-endpoint: cannot listen on " << host << ":" << port << "\n";
    return 1;
  }
  std::cout << "listening on " << host << ":" << bound << std::endl;
  std::thread stopper([&server, stop_signals] {
    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    server.stop();
  });
  server.listen_after_bind();
  pthread_kill(stopper.native_handle(), SIGTERM);
  stopper.join();
  return 0;
}

int AddAccount(const std::map<std::string, std::string>& options) {
  if (!options.count("accounts") || !options.count("user")) {
    std::cerr << kUsage;
    return 2;
  }
  const std::string& user = options.at("user");
  if (user.empty() || user.find_first_of("\t\r\n") != std::string::npos) {
    std::cerr << "verify-endpoint: a user name must be non-empty, without tabs or line breaks\n";
    return 2;
  }
  int iterations = 100000;
  if (options.count("iterations") &&
      (!hv::ParseStrictDecimal(options.at("iterations"), std::numeric_limits<int>::max(), &iterations) ||
       iterations <= 0)) {
    std::cerr << "verify-endpoint: --iterations must be a positive number\n";
    return 2;
  }
  std::string password;
  std::getline(std::cin, password);
  if (!password.empty() && password.back() == '\r') password.pop_back();
  if (password.empty()) {
    std::cerr << "verify-endpoint: no password on standard input\n";
    return 2;
  }
  std::string record = hv::endpoint::HashPassword(password, iterations), error;
  if (record.empty() || !hv::endpoint::StoreAccount(options.at("accounts"), user, record, &error)) {
    std::cerr << "verify-endpoint: " << (error.empty() ? "hashing failed" : error) << "\n";
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::cout << kUsage;
    return argc < 2 ? 2 : 0;
  }
  bool ok = false;
  auto options = ParseOptions(argc, argv, 2, &ok);
  if (!ok) {
    std::cerr << kUsage;
    return 2;
  }
  std::string command = argv[1];
  if (command == "serve") return Serve(options);
  if (command == "add-account") return AddAccount(options);
  std::cerr << kUsage;
  return 2;
}
