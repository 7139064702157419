// The verification protocol as both ends speak it, written once for the
// service, the reference endpoint, the benchmark and the tests.
//
// Request: GET kVerifyPath "?c=" Encipher(query), the query being
//          "UserName=" user "&PassWord=" password (UTF-8, inserted as they
//          stand: the cipher text carries any "&" or "=" safely).
// Answer:  the endpoint's result text enciphered to Base64, not escaped.
//
// All functions are thread-safe and keep no state.
#ifndef HV_VERIFY_PROTOCOL_H_
#define HV_VERIFY_PROTOCOL_H_

#include <string>

#include "base/wide.h"

namespace hv {

// The path of the verification request, and the start of its query.
extern const char kVerifyPath[];        // "/interface/newauth/index.php"
extern const char kVerifyQueryStart[];  // "?c="

// The results the reference endpoint answers with.
extern const char kAnswerAccepted[];  // "result=accepted"
extern const char kAnswerRejected[];  // "result=rejected"

// "UserName=" user "&PassWord=" password. The wide one is built in one
// buffer that is never grown, so that the caller can wipe it.
WString VerifyQuery(const WString& user, const WString& password);
std::string VerifyQuery(const std::string& user, const std::string& password);

// The endpoint's reading of a query: the user ends at the first
// "&PassWord=". False when the query does not have that shape.
bool SplitVerifyQuery(const std::string& query, std::string* user, std::string* password);

// "http://" (or "https://" for `tls`) host kVerifyPath kVerifyQueryStart
// cipher_text, built in one buffer that is never grown (it may be wiped).
WString VerifyUrl(bool tls, WStringView host, const std::string& cipher_text);

// The request target for a query: kVerifyPath kVerifyQueryStart and the
// enciphered query ("" when the cipher fails).
std::string VerifyTarget(const std::string& query);

// The body an endpoint answers `text` with ("" when the cipher fails).
std::string EncipheredAnswer(const std::string& text);

// The plain query carried in the "c" parameter of a request line or target
// (escaped as the module escapes it), or "<undecipherable>".
std::string QueryOfRequest(const std::string& request);

}  // namespace hv

#endif  // HV_VERIFY_PROTOCOL_H_
