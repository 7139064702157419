#include "verify_document.h"

#include <cstdio>

namespace hv::host {
namespace {

const char kEnvelopeHead[] = "{\"root\":{\"request\":{\"param_count\":\"1\",\"param_1\":";
const char kEnvelopeTail[] = "}}}";

// Appends `text` as a JSON string to `out`; with `out` null, only counts
// the characters it would append.
size_t AppendJsonString(const std::string& text, std::string* out) {
  size_t size = 2;
  if (out != nullptr) out->push_back('"');
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      size += 2;
      if (out != nullptr) out->append({'\\', static_cast<char>(c)});
    } else if (c < 0x20) {
      size += 6;
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      if (out != nullptr) out->append(escaped);
    } else {
      size += 1;
      if (out != nullptr) out->push_back(static_cast<char>(c));
    }
  }
  if (out != nullptr) out->push_back('"');
  return size;
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out;
  out.reserve(AppendJsonString(text, nullptr));
  AppendJsonString(text, &out);
  return out;
}

std::string RequestDocument(const std::string& param_1) {
  return kEnvelopeHead + param_1 + kEnvelopeTail;
}

std::string VerifyDocument(const std::string& user, const std::string& password) {
  const std::string user_head = "{\"User\":", password_head = ",\"Password\":";
  std::string document;
  document.reserve(sizeof kEnvelopeHead - 1 + user_head.size() + AppendJsonString(user, nullptr) +
                   password_head.size() + AppendJsonString(password, nullptr) + 1 + sizeof kEnvelopeTail - 1);
  document.append(kEnvelopeHead).append(user_head);
  AppendJsonString(user, &document);
  document.append(password_head);
  AppendJsonString(password, &document);
  document.append("}").append(kEnvelopeTail);
  return document;  // returned in place: the one buffer
}

}  // namespace hv::host
