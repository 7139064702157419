// vexhost: a command-line service host for the HvVerifySp module.
//
// It loads the base library beside it and the module, lists the classes,
// creates and starts the service, sends requests through the base library's
// routing as the real host does, then stops, releases and unloads.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "base/utf.h"
#include "host_session.h"
#include "module_folders.h"
#include "platform/console.h"
#include "platform/memory.h"
#include "platform/path.h"
#include "platform/system.h"
#include "verify_document.h"

namespace {

using hv::host::HostSession;
using hv::host::JsonString;
using hv::host::RequestDocument;
using hv::host::TraceFile;

const char kUsage[] =
    "usage: vexhost [--module PATH] COMMAND | --version\n"
    "  classes                       list the module's classes\n"
    "  request METHOD [DOCUMENT]     send one JSON request to a method path such as\n"
    "                                /IHvVerify/SetVerifyOpt (the document from standard\n"
    "                                input when not given); prints the reply and the result\n"
    "  verify USER [--timeout SECONDS]\n"
    "                                verify one account; the password is read from the\n"
    "                                terminal without echo, or from standard input\n"
    "exit codes: 0 done, 1 request failed (verify: no deciphered answer), 2 bad arguments, 3 module or base library\n"
    "missing, 4 module without the exports, 5 service refused to start\n";

// Beside vexhost when it is there (a build folder, the Windows package);
// else by name, which an installed vexhost finds in its library folder.
hv::WString DefaultModule() {
  hv::WString name = hv::platform::LibraryFileName(HV_W("HvVerifySp"));
  hv::WString beside = hv::platform::ExecutableDirectory() + name;
  uint64_t size = 0;
  return hv::platform::FileSize(beside, &size) ? beside : name;
}

int Send(HostSession& session, const std::string& method, const std::string& document,
         std::string* reply_out = nullptr) {
  std::string reply;
  HvResult rc = session.Request(method, document, &reply);
  std::cout << reply << "Dispatch result: " << rc << "\n";
  if (reply_out != nullptr) *reply_out = reply;
  return rc == 0 ? hv::host::kExitOk : hv::host::kExitFailed;
}

// Where the trace is, said only when the module wrote it.
std::string TraceNote(const TraceFile& trace) {
  std::string path = hv::WideToUtf8(trace.path);
  return trace.Written() ? "the trace is in " + path : "no trace was written (" + path + " could not be written)";
}

// The one line a person reads after a verification.
std::string Outcome(const std::string& reply, int rc, const TraceFile& trace) {
  const char* stages[] = {
      nullptr,
      "the endpoint's answer was received and deciphered (ResultType 1)",
      "the query was not built (ResultType 2: empty user name or password, an invalid "
      "VerifyHost setting, or the cipher failed)",
      "the HTTP exchange failed or its status was not 2xx (ResultType 3)",
      "the endpoint's answer could not be deciphered (ResultType 4)",
  };
  for (int type = 1; type <= 4; ++type) {
    if (reply.find("\"ResultType\" : \"" + std::to_string(type) + "\"") != std::string::npos) {
      return std::string("vexhost: ") + stages[type] + "; " + TraceNote(trace);
    }
  }
  return "vexhost: the request failed (Dispatch result " + std::to_string(rc) + ")";
}

int Verify(HostSession& session, const std::string& user, const std::string& timeout,
           const TraceFile& trace) {
  // The method paths begin with the name the service registered, which the
  // host's configuration may have changed.
  std::string name;
  if (!session.RegisteredName(&name)) {
    std::cerr << "vexhost: the service registered no interface name\n";
    return hv::host::kExitNotStarted;
  }
  const std::string prefix = "/" + name + "/";
  if (!timeout.empty()) {
    std::string option = "{\"OptMode\":\"1\",\"Value\":" + JsonString(timeout) + "}";
    if (Send(session, prefix + "SetVerifyOpt", RequestDocument(option)) != 0) {
      return hv::host::kExitFailed;
    }
  }
  if (hv::platform::StdinIsTerminal()) std::cerr << "Password for " << user << ": ";
  // The password and the one document that carries it are wiped once sent.
  std::string password, document;
  hv::platform::WipeOnExit<std::string> wipe_password("password", password);
  hv::platform::WipeOnExit<std::string> wipe_document("request document", document);
  if (!hv::platform::ReadSecretLine(&password)) {
    std::cerr << "vexhost: no password given\n";
    return hv::host::kExitUsage;
  }
  document = hv::host::VerifyDocument(user, password);
  std::string reply;
  std::string method = prefix + "StartVerify";
  HvResult dispatched = session.Request(method, document, &reply);
  std::cout << reply << "Dispatch result: " << dispatched << "\n" << Outcome(reply, dispatched, trace) << "\n";
  // Only an answer that arrived and deciphered (ResultType 1) is success.
  bool answered = reply.find("\"ResultType\" : \"1\"") != std::string::npos;
  return dispatched == 0 && answered ? hv::host::kExitOk : hv::host::kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  hv::WString module = DefaultModule();
  if (args.size() >= 2 && args[0] == "--module") {
    module = hv::Utf8ToWide(args[1]);
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.size() == 1 && args[0] == "--version") {
    std::cout << "vexhost " HV_VERSION_TEXT "\n";
    return hv::host::kExitOk;
  }
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::cout << kUsage;
    return args.empty() ? hv::host::kExitUsage : hv::host::kExitOk;
  }
  const std::string command = args[0];
  bool valid = (command == "classes" && args.size() == 1) ||
               (command == "request" && (args.size() == 2 || args.size() == 3)) ||
               (command == "verify" && (args.size() == 2 || (args.size() == 4 && args[2] == "--timeout")));
  if (!valid) {
    // Name the first argument that the command does not take.
    size_t expected = command == "classes" ? 1 : command == "request" ? 3 : command == "verify" ? 4 : 0;
    size_t at = expected == 0 ? 0 : std::min(args.size(), expected);
    if (command == "verify" && args.size() >= 3 && args[2] != "--timeout") at = 2;
    if (at < args.size()) {
      std::cerr << "vexhost: argument not understood: " << args[at] << "\n";
    } else {
      std::cerr << "vexhost: " << command << ": arguments missing\n";
    }
    std::cerr << kUsage;
    return hv::host::kExitUsage;
  }

  const TraceFile trace = hv::host::PrepareModuleFolders();
  HostSession session;
  std::string error;
  int rc = session.Load(module, &error);
  if (rc == hv::host::kExitOk && command == "classes") {
    for (const HvClassInfo& info : session.Classes()) {
      const auto& g = info.clsid;
      std::printf("{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X} %s reserved=%u\n",
                  static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7],
                  info.className, static_cast<unsigned>(info.reserved));
    }
    return session.Finish() ? hv::host::kExitOk : hv::host::kExitFailed;
  }
  if (rc == hv::host::kExitOk) rc = session.Start(&error);
  if (rc != hv::host::kExitOk) {
    std::cerr << "vexhost: " << error << "\n";
    return rc;
  }
  if (command == "request") {
    std::string document = args.size() == 3 ? args[2]
        : std::string(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    rc = Send(session, args[1], document);
  } else {
    rc = Verify(session, args[1], args.size() == 4 ? args[3] : "", trace);
  }
  if (!session.Finish()) {
    std::cerr << "vexhost: the module still has live objects and was not unloaded\n";
  }
  return rc;
}
