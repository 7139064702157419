#include "http/tls_policy.h"

#include <cstring>

#include "http/certificate_rules.h"

namespace hv {
namespace {

using Key = platform::TlsCertificateFacts::Key;
using Exchange = platform::TlsFacts::Exchange;

constexpr uint16_t kTls12 = 0x0303;
constexpr uint32_t kMinFiniteFieldBits = 2048;
constexpr uint32_t kMinEllipticBits = 256;
// X25519, of P-256's strength, whose size libraries count as 253 bits
// (OpenSSL) or 255 (its field).
constexpr uint32_t kMinEllipticExchangeBits = 253;

// Signature algorithms whose hash is MD2, MD4, MD5 or SHA-1 (RSA, DSA,
// ECDSA), by object identifier.
bool WeakSignature(const std::string& oid) {
  static const char* const kWeak[] = {
      "1.2.840.113549.1.1.2",  // md2WithRSAEncryption
      "1.2.840.113549.1.1.3",  // md4WithRSAEncryption
      "1.2.840.113549.1.1.4",  // md5WithRSAEncryption
      "1.2.840.113549.1.1.5",  // sha1WithRSAEncryption
      "1.3.14.3.2.29",         // sha1WithRSASignature (OIW)
      "1.2.840.10040.4.3",     // dsa-with-sha1
      "1.3.14.3.2.27",         // dsaWithSHA1 (OIW)
      "1.2.840.10045.4.1",     // ecdsa-with-SHA1
  };
  for (const char* weak : kWeak) {
    if (oid == weak) return true;
  }
  return false;
}

// The signature's hash, whether named by the algorithm or, for
// RSASSA-PSS, by its parameters.
bool WeakSignature(const platform::TlsCertificateFacts& cert) {
  if (cert.signature_oid == "1.2.840.113549.1.1.10") return PssHashIsWeak(cert.signature_parameters);
  return WeakSignature(cert.signature_oid);
}

// What the platform's chain check may not enforce (Wine's crypt32 does
// not): the issuers' extended key usage, and the server's names within
// every issuer's name constraints.
TlsVerdict JudgeIssuers(const std::vector<platform::TlsCertificateFacts>& chain) {
  for (size_t depth = 0; depth < chain.size(); ++depth) {
    const platform::TlsCertificateFacts& cert = chain[depth];
    bool anchor = depth + 1 == chain.size() && cert.self_signed;
    if (!anchor && !UsageAllowsServer(cert.extended_key_usage)) return {TlsRefusal::kWrongUsage, depth, 0};
    if (depth == 0) continue;
    switch (CheckNameConstraints(cert.name_constraints, cert.name_constraints_critical, chain.front().alt_names)) {
      case NameConstraint::kSatisfied: break;
      case NameConstraint::kViolated: return {TlsRefusal::kNameConstraint, depth, 0};
      case NameConstraint::kUnhandled: return {TlsRefusal::kNameConstraint, depth, 1};
    }
  }
  return {};
}

bool WeakKey(const platform::TlsCertificateFacts& cert) {
  switch (cert.key) {
    case Key::kRsa:
    case Key::kDsa: return cert.key_bits < kMinFiniteFieldBits;
    case Key::kEc: return cert.key_bits < kMinEllipticBits;
    case Key::kOther: return false;  // EdDSA and the like: no size below the minimum exists
  }
  return true;
}

}  // namespace

TlsVerdict JudgeTls(const platform::TlsFacts& facts, bool pinned, int64_t now) {
  if (facts.chain.empty() || facts.version == 0) return {TlsRefusal::kUnreadable, 0, 0};
  if (facts.version < kTls12) return {TlsRefusal::kOldProtocol, 0, 0};
  // An elliptic group of no reported size (Wine's Schannel reports none)
  // is one the client offered, and neither library offers one under 253
  // bits: X25519, P-256 and larger.
  // A finite-field group of no reported size is refused: nothing bounds
  // what a server may choose there.
  bool elliptic_weak = facts.exchange_bits != 0 && facts.exchange_bits < kMinEllipticExchangeBits;
  if ((facts.exchange == Exchange::kFiniteField && facts.exchange_bits < kMinFiniteFieldBits) ||
      (facts.exchange == Exchange::kElliptic && elliptic_weak)) {
    return {TlsRefusal::kWeakExchange, 0, facts.exchange_bits};
  }
  if (facts.exchange == Exchange::kUnknown) return {TlsRefusal::kUnreadable, 0, 0};
  if (facts.exchange == Exchange::kKeyTransport) return {TlsRefusal::kKeyTransport, 0, 0};
  const platform::TlsCertificateFacts& leaf = facts.chain.front();
  if (now < leaf.not_before || now > leaf.not_after) return {TlsRefusal::kOutsideDates, 0, 0};
  size_t count = pinned ? 1 : facts.chain.size();
  for (size_t depth = 0; depth < count; ++depth) {
    if (WeakKey(facts.chain[depth])) return {TlsRefusal::kWeakKey, depth, facts.chain[depth].key_bits, facts.chain[depth].key};
  }
  for (size_t depth = 0; !pinned && depth < count; ++depth) {
    const platform::TlsCertificateFacts& cert = facts.chain[depth];
    bool anchor = depth + 1 == count && cert.self_signed;
    if (!anchor && WeakSignature(cert)) return {TlsRefusal::kWeakSignature, depth, 0};
  }
  return pinned ? TlsVerdict{} : JudgeIssuers(facts.chain);
}

uint32_t TlsRefusalError(TlsRefusal refusal) {
  switch (refusal) {
    case TlsRefusal::kNone: return 0;
    case TlsRefusal::kUnreadable: return 0x80090304u;    // SEC_E_INTERNAL_ERROR
    case TlsRefusal::kOldProtocol: return 0x80090331u;   // SEC_E_ALGORITHM_MISMATCH
    case TlsRefusal::kWeakExchange: return 0x80090331u;  // SEC_E_ALGORITHM_MISMATCH
    case TlsRefusal::kWeakKey: return 0x80090003u;       // NTE_BAD_KEY
    case TlsRefusal::kWeakSignature: return 0x80096004u; // TRUST_E_CERT_SIGNATURE
    case TlsRefusal::kOutsideDates: return 0x800B0101u;  // CERT_E_EXPIRED
    case TlsRefusal::kKeyTransport: return 0x80090331u;  // SEC_E_ALGORITHM_MISMATCH
    case TlsRefusal::kWrongUsage: return 0x800B0110u;    // CERT_E_WRONG_USAGE
    case TlsRefusal::kNameConstraint: return 0x800B0114u;  // CERT_E_INVALID_NAME
  }
  return 0x80090304u;
}

namespace {

WString Number(uint64_t n) {
  WString digits;
  do {
    digits.insert(digits.begin(), static_cast<WChar>(HV_W('0') + n % 10));
    n /= 10;
  } while (n != 0);
  return digits;
}

WString Certificate(size_t depth) {
  return HV_W("certificate ") + Number(depth) + (depth == 0 ? HV_W(" (the server's)") : HV_W(" of the chain"));
}

}  // namespace

WString TlsRefusalText(const TlsVerdict& verdict) {
  switch (verdict.refusal) {
    case TlsRefusal::kNone: return WString();
    case TlsRefusal::kUnreadable: return HV_W("the connection's parameters could not be read");
    case TlsRefusal::kOldProtocol: return HV_W("the server speaks TLS below 1.2");
    case TlsRefusal::kWeakExchange:
      if (verdict.bits == 0) return HV_W("the size of the key exchange's finite-field group is not reported");
      return HV_W("the key exchange's group is too small: ") + Number(verdict.bits) +
             HV_W(" bits (at least 2048 finite-field, 256 elliptic)");
    case TlsRefusal::kWeakKey: {
      const WChar* kind = verdict.key == Key::kRsa ? HV_W("RSA") : verdict.key == Key::kDsa ? HV_W("DSA") : HV_W("EC");
      return HV_W("the key of ") + Certificate(verdict.depth) + HV_W(" is too weak: ") + kind + HV_W(" of ") +
             Number(verdict.bits) + HV_W(" bits (at least 2048 RSA or DSA, 256 EC)");
    }
    case TlsRefusal::kWeakSignature:
      return Certificate(verdict.depth) + HV_W(" is signed with SHA-1 or MD5");
    case TlsRefusal::kOutsideDates: return HV_W("the server's certificate is expired or not yet valid");
    case TlsRefusal::kKeyTransport:
      return HV_W("the key exchange is RSA key transport, without forward secrecy (an ephemeral exchange is required)");
    case TlsRefusal::kWrongUsage:
      return Certificate(verdict.depth) + HV_W("'s extended key usage does not allow a TLS server");
    case TlsRefusal::kNameConstraint:
      if (verdict.bits != 0) return Certificate(verdict.depth) + HV_W(" constrains a name form other than DNS and IP");
      return HV_W("the server's names are outside the name constraints of ") + Certificate(verdict.depth);
  }
  return WString();
}

}  // namespace hv
