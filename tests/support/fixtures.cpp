#include "tests/support/fixtures.h"

#include <cstdlib>
#include <fstream>

#include "platform/path.h"

namespace hv::testing {

std::string FixturePort(const char* folder_variable) {
  const char* dir = std::getenv(folder_variable);
  if (dir == nullptr) return "";
  std::ifstream in(std::string(dir) + "/port");
  std::string port;
  in >> port;
  return port;
}

bool LoadBesideProgram(platform::LoadedLibrary* library, const WString& stem, std::string* error) {
  return library->Load(platform::ExecutableDirectory() + platform::LibraryFileName(stem), error);
}

void BaseLibraryHost::SetUp() {
  std::string error;
  ASSERT_TRUE(LoadBesideProgram(&base_, HV_W("vexbase"), &error)) << error;
  route_ = Entry<VexBaseRouteRequestFn>(base_, "vex_base_route_request");
  registered_name_ = Entry<VexBaseRegisteredNameFn>(base_, "vex_base_registered_name");
  ASSERT_NE(route_, nullptr);
  ASSERT_NE(registered_name_, nullptr);
}

std::string RequestDocument(const std::string& param_1) {
  return "{\"root\":{\"request\":{\"param_count\":\"1\",\"param_1\":" + param_1 + "}}}";
}

std::string VerifyRequestDocument(const std::string& user, const std::string& password) {
  return RequestDocument("{\"User\":\"" + user + "\",\"Password\":\"" + password + "\"}");
}

std::string TimeoutRequestDocument(int seconds) {
  return RequestDocument("{\"OptMode\":\"1\",\"Value\":\"" + std::to_string(seconds) + "\"}");
}

}  // namespace hv::testing
