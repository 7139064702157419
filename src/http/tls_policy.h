// The module's own TLS policy, the same on every build whatever the
// platform's library would allow: what a connection must meet after its
// handshake, before any byte of a request goes out.
//
//   - TLS 1.2 or later;
//   - a key exchange over a finite-field group of 2048 bits at least, or
//     an elliptic curve of 256 bits at least (X25519, counted as 253 or
//     255 bits, is of P-256's strength and passes; a curve whose size the
//     library does not report is one the client offered, none of which is
//     smaller); a finite-field group of unreported size fails; RSA key
//     transport (no forward secrecy) fails;
//   - every certificate of the chain (the server's and its issuers') with
//     an RSA or DSA key of 2048 bits at least, an EC key of 256 at least;
//   - no chain signature by SHA-1 or MD5 (or MD2, MD4), but for a
//     self-signed trust anchor's signature on itself, which nobody checks;
//   - every certificate but a self-signed anchor with an extended key
//     usage, if any, that allows a TLS server (serverAuth or any);
//   - the server's DNS and IP names within every issuer's name
//     constraints, and no critical constraint on another name form;
//   - the server's certificate within its dates.
// With pins the chain is not built: the pinned certificate must still meet
// the key minimum and be within its dates; its signature, issuer, names
// and key usages are not looked at.
//
// Pure functions, any thread.
#ifndef HV_HTTP_TLS_POLICY_H_
#define HV_HTTP_TLS_POLICY_H_

#include <cstdint>
#include <vector>

#include "base/wide.h"
#include "platform/tls.h"

namespace hv {

enum class TlsRefusal {
  kNone,
  kUnreadable,      // the library did not report the connection's facts
  kOldProtocol,     // below TLS 1.2
  kWeakExchange,    // the key exchange's group is too small
  kWeakKey,         // a certificate's key is too small
  kWeakSignature,   // a chain signature by SHA-1 or MD5
  kOutsideDates,    // the server's certificate is expired or not yet valid
  kKeyTransport,    // RSA key transport: no forward secrecy
  kWrongUsage,      // a certificate's extended key usage excludes a TLS server
  kNameConstraint,  // the server's names outside an issuer's constraints (bits 1: a form not checked)
};

struct TlsVerdict {
  TlsRefusal refusal = TlsRefusal::kNone;
  size_t depth = 0;   // the certificate concerned: 0 the server's, 1 its issuer...
  uint32_t bits = 0;  // the key's or group's size, for kWeakKey and kWeakExchange
  platform::TlsCertificateFacts::Key key = platform::TlsCertificateFacts::Key::kOther;  // for kWeakKey
};

// The verdict on `facts` at `now` (seconds since 1970, UTC); `pinned`:
// the server's certificate was accepted by its pin.
TlsVerdict JudgeTls(const platform::TlsFacts& facts, bool pinned, int64_t now);

// The error number a refusal leaves in LastError (Windows numbers on
// every build, so that both report a refusal alike).
uint32_t TlsRefusalError(TlsRefusal refusal);

// What the refusal's log line says after its prefix, e.g. "the key of
// certificate 0 (the server's) is too weak: RSA of 1024 bits (at least
// 2048 RSA or DSA, 256 EC)". Empty for kNone.
WString TlsRefusalText(const TlsVerdict& verdict);

}  // namespace hv

#endif  // HV_HTTP_TLS_POLICY_H_
