// Bodies as a verification endpoint sends them, and the query it receives.
#ifndef HV_TESTS_SUPPORT_ENDPOINT_ANSWER_H_
#define HV_TESTS_SUPPORT_ENDPOINT_ANSWER_H_

#include <string>

namespace hv::testing {

// The enciphered answer for `text` ('@'-filled, Triple DES, Base64).
std::string EncipheredAnswer(const std::string& text);

// The plain query carried by the "c=" parameter of a request line, or
// "<undecipherable>".
std::string QueryOfRequest(const std::string& request);

}  // namespace hv::testing

#endif  // HV_TESTS_SUPPORT_ENDPOINT_ANSWER_H_
