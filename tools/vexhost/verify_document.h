// The request documents vexhost sends: JSON text for a value, and the
// envelope around a request's parameter. StartVerify's document carries
// the password: it is composed in one buffer, sized first and never grown,
// so that wiping that one buffer wipes every copy made of the password.
//
// Pure functions; thread-safe.
#ifndef HV_TOOLS_VEXHOST_VERIFY_DOCUMENT_H_
#define HV_TOOLS_VEXHOST_VERIFY_DOCUMENT_H_

#include <string>

namespace hv::host {

// `text` as a JSON string, quotes included.
std::string JsonString(const std::string& text);

// The request envelope around `param_1` (a JSON object).
std::string RequestDocument(const std::string& param_1);

// StartVerify's request document for `user` and `password`; the caller
// wipes it (platform/memory.h) when it has been sent.
std::string VerifyDocument(const std::string& user, const std::string& password);

}  // namespace hv::host

#endif  // HV_TOOLS_VEXHOST_VERIFY_DOCUMENT_H_
