// What tests share about their peers and their host: the port of a
// background fixture, the libraries a host loads from beside itself, and
// the request documents a host sends.
#ifndef HV_TESTS_SUPPORT_FIXTURES_H_
#define HV_TESTS_SUPPORT_FIXTURES_H_

#include <gtest/gtest.h>

#include <string>

#include "base/wide.h"
#include "hv/vex_host.h"
#include "platform/library.h"

namespace hv::testing {

// The port a background peer wrote to "port" in the folder named by the
// environment variable `folder_variable` (the ctest fixtures set both);
// empty when either is missing.
std::string FixturePort(const char* folder_variable);

// Loads the library `stem` (a platform file name is made of it: "vexbase"
// is "vexbase.dll" or "libvexbase.so") from the folder of this program.
bool LoadBesideProgram(platform::LoadedLibrary* library, const WString& stem, std::string* error);

// The entry point `name` of a loaded library as a function of type Fn;
// null when it does not export it.
template <typename Fn>
Fn Entry(const platform::LoadedLibrary& library, const char* name) {
  return reinterpret_cast<Fn>(platform::FindSymbol(library.handle(), name));
}

// A test that plays the host: the reference base library (or the stand-in
// beside the program under its name) is loaded, and its two host entries
// are bound, before each test.
class BaseLibraryHost : public ::testing::Test {
 protected:
  void SetUp() override;

  platform::LoadedLibrary base_;
  VexBaseRouteRequestFn route_ = nullptr;
  VexBaseRegisteredNameFn registered_name_ = nullptr;
};

// The request envelope around `param_1` (a JSON object).
std::string RequestDocument(const std::string& param_1);
// StartVerify's request for `user` and `password`.
std::string VerifyRequestDocument(const std::string& user, const std::string& password);
// SetVerifyOpt's request for a time-out of `seconds`.
std::string TimeoutRequestDocument(int seconds);

}  // namespace hv::testing

#endif  // HV_TESTS_SUPPORT_FIXTURES_H_
