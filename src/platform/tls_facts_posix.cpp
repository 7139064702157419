// POSIX implementation of platform/tls_facts_posix.h, by OpenSSL.
#include "platform/tls_facts_posix.h"

#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509v3.h>

#include <ctime>
#include <string>

namespace hv::platform {
namespace {

// Seconds since 1970 of a certificate date (0 when it does not read).
int64_t Seconds(const ASN1_TIME* time) {
  std::tm parts{};
  if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1) return 0;
  return static_cast<int64_t>(timegm(&parts));
}

// An extension's value as encoded; empty when the certificate has none.
std::string Extension(X509* cert, int nid, bool* critical = nullptr) {
  int at = X509_get_ext_by_NID(cert, nid, -1);
  X509_EXTENSION* extension = at >= 0 ? X509_get_ext(cert, at) : nullptr;
  const ASN1_OCTET_STRING* value = extension != nullptr ? X509_EXTENSION_get_data(extension) : nullptr;
  if (value == nullptr) return std::string();
  if (critical != nullptr) *critical = X509_EXTENSION_get_critical(extension) == 1;
  return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(value)),
                     static_cast<size_t>(ASN1_STRING_length(value)));
}

// A signature algorithm's parameters as encoded (a SEQUENCE's value holds
// its whole encoding); empty when absent or of another type.
std::string SignatureParameters(const X509_ALGOR* algorithm) {
  int type = V_ASN1_UNDEF;
  const void* value = nullptr;
  X509_ALGOR_get0(nullptr, &type, &value, algorithm);
  if (type != V_ASN1_SEQUENCE || value == nullptr) return std::string();
  const auto* sequence = static_cast<const ASN1_STRING*>(value);
  return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(sequence)),
                     static_cast<size_t>(ASN1_STRING_length(sequence)));
}

}  // namespace

TlsCertificateFacts CertificateFacts(X509* cert) {
  TlsCertificateFacts facts;
  EVP_PKEY* key = X509_get0_pubkey(cert);
  int type = key != nullptr ? EVP_PKEY_get_base_id(key) : EVP_PKEY_NONE;
  facts.key = type == EVP_PKEY_RSA || type == EVP_PKEY_RSA_PSS ? TlsCertificateFacts::Key::kRsa
              : type == EVP_PKEY_DSA                           ? TlsCertificateFacts::Key::kDsa
              : type == EVP_PKEY_EC                            ? TlsCertificateFacts::Key::kEc
                                                               : TlsCertificateFacts::Key::kOther;
  facts.key_bits = key != nullptr ? static_cast<uint32_t>(EVP_PKEY_get_bits(key)) : 0;
  const X509_ALGOR* algorithm = nullptr;
  X509_get0_signature(nullptr, &algorithm, cert);
  const ASN1_OBJECT* oid = nullptr;
  if (algorithm != nullptr) X509_ALGOR_get0(&oid, nullptr, nullptr, algorithm);
  char text[128];
  if (oid != nullptr && OBJ_obj2txt(text, sizeof text, oid, 1) > 0) facts.signature_oid = text;
  if (algorithm != nullptr) facts.signature_parameters = SignatureParameters(algorithm);
  facts.extended_key_usage = Extension(cert, NID_ext_key_usage);
  facts.alt_names = Extension(cert, NID_subject_alt_name);
  facts.name_constraints = Extension(cert, NID_name_constraints, &facts.name_constraints_critical);
  facts.self_signed = X509_self_signed(cert, 0) == 1;
  facts.not_before = Seconds(X509_get0_notBefore(cert));
  facts.not_after = Seconds(X509_get0_notAfter(cert));
  return facts;
}

}  // namespace hv::platform
