// TlsSession: the client side of one TLS connection as a byte engine. It
// never touches a socket: the caller carries the bytes it produces to the
// peer and feeds it the bytes the peer sends, so that every wait stays in
// the caller's bounded socket code.
//
// TLS 1.2 or later only. The server is accepted when its certificate's
// SHA-256 (of its DER encoding) equals one of the pins, whoever signed it;
// without a pin, when its chain validates against the platform's trust store and
// it names the host (DNS name, or IP address for an address literal). The
// host name is sent for name-based virtual hosting when it is a name. Key
// sizes, signature hashes, the exchange, the issuers' usages and name
// constraints and the dates of a pinned certificate are the caller's to
// judge, from ReadFacts (the platform libraries' own rules differ); on
// Linux OpenSSL's security level 2 refuses most of the same during the
// handshake. Both offer the same: no RSA key transport, and the elliptic
// groups X25519, P-256 and P-384 only.
//
// Results: kDone, kMore (feed more bytes from the peer), kClosed (the peer
// ended the session) or kFailed, with the platform's error number in
// *error (OpenSSL's error or certificate-verification code; Schannel's
// SECURITY_STATUS). Nothing is logged here.
//
// Resumption: within the process, a connection may resume a session of an
// earlier one to the same endpoint under the same settings (Begin's
// resume_key, to which the platform adds its trust settings: the test
// authority, on Linux SSL_CERT_FILE and SSL_CERT_DIR). On Linux the module
// keeps OpenSSL's client sessions (each offered once: TLS 1.3 tickets are
// single-use), and the SSL_CTX the key's connections share; on Windows it
// keeps the key's Schannel credentials handle, whose sessions Schannel
// caches for the same target name. A session is kept only from a
// connection the caller Accepted that ended without failure; a few keys
// at most, each for a few minutes; TlsForgetSessions drops them all
// (OpenSSL wipes a session's secrets as it frees it), as does unloading;
// the verification service calls it when its last object goes.
// A resumed connection is checked as a full one: the pin against the
// session's certificate, the chain facts of the handshake that made the
// session (ReadFacts) judged again by the caller.
//
// Ownership and threads: one session per connection, used by one thread
// at a time; the kept sessions are shared under a lock, any thread. On Linux OpenSSL's libssl; on Windows Schannel, whose system
// libraries are loaded from the system directory only.
#ifndef HV_PLATFORM_TLS_H_
#define HV_PLATFORM_TLS_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace hv::platform {

// What the handshake settled, as the platform's library reports it, for
// the module's own policy above (http/tls_policy.h) to judge: the platform
// files report, they do not judge.
struct TlsCertificateFacts {
  enum class Key { kRsa, kDsa, kEc, kOther };
  Key key = Key::kOther;
  // RSA: the modulus; DSA: the prime p; EC: the curve's field size (256
  // for P-256).
  uint32_t key_bits = 0;
  std::string signature_oid;  // of this certificate's signature, dotted
  // Its parameters as encoded (DER, tag included; RSASSA-PSS names its
  // hash there); empty when absent.
  std::string signature_parameters;
  // Extension values as encoded (DER, the content of the extension's
  // OCTET STRING), empty where the certificate has none: extended key
  // usage, subject alternative names, name constraints.
  std::string extended_key_usage;
  std::string alt_names;
  std::string name_constraints;
  bool name_constraints_critical = false;
  bool self_signed = false;   // a trust anchor signed by its own key
  int64_t not_before = 0;     // seconds since 1970-01-01 UTC
  int64_t not_after = 0;
};

struct TlsFacts {
  enum class Exchange { kUnknown, kFiniteField, kElliptic, kKeyTransport };
  uint16_t version = 0;  // on the wire: 0x0303 TLS 1.2, 0x0304 TLS 1.3
  Exchange exchange = Exchange::kUnknown;
  // The group's size: the prime's bits (finite field), the curve's field
  // size (elliptic: 256 for P-256; X25519 253 or 255 by who counts);
  // 0 where the library does not report it.
  uint32_t exchange_bits = 0;
  // Leaf first. With pins the server's certificate alone (the chain is
  // not built); else the chain as built, up to its trust anchor.
  std::vector<TlsCertificateFacts> chain;
  // The handshake resumed an earlier session: no certificate was sent, so
  // `chain` is that of the full handshake that made the session; a TLS 1.2
  // resumption exchanges no key either, and `exchange` is that one's too.
  // The version is this connection's; so is the exchange in TLS 1.3,
  // where a resumption makes a new (EC)DHE exchange.
  bool resumed = false;
};

class TlsSession {
 public:
  enum class Result { kDone, kMore, kClosed, kFailed };

  TlsSession();
  ~TlsSession();
  TlsSession(const TlsSession&) = delete;
  TlsSession& operator=(const TlsSession&) = delete;

  // Starts a session with `host` (a name or an address literal, without
  // brackets). `pins`: `pin_count` SHA-256 values of 32 bytes each, one
  // after the other; none (0) for chain and name validation. Returns 0, or
  // the error number when no session could be set up.
  // `resume_key` names the endpoint and the settings the connection
  // depends on (host, port, proxy, pins); empty: no session is offered or
  // kept.
  uint32_t Begin(const std::string& host, const unsigned char* pins, size_t pin_count,
                 const std::string& resume_key = std::string());
  // The caller accepted the connection (after Handshake's kDone and its
  // own policy): what it yields may be kept for resumption when it ends,
  // unless a failure comes first (any kFailed, or Discard).
  void Accept();
  // The connection failed above the engine (a cut, a deadline): nothing of
  // it is kept.
  void Discard();

  // Handshake: consumes `*received` (all of it), appends what must go to
  // the peer to `*to_send`.
  Result Handshake(std::string* received, std::string* to_send, uint32_t* error);
  // Application data out: appends the records to `*to_send`.
  Result Seal(const char* data, size_t size, std::string* to_send, uint32_t* error);
  // Application data in: consumes `*received`, appends what it decrypts to
  // `*plain` (kDone when some came, kMore when more bytes are needed),
  // and anything the protocol must answer to `*to_send`.
  Result Open(std::string* received, std::string* plain, std::string* to_send, uint32_t* error);
  // After Handshake returned kDone: the facts of the connection. False
  // when the library would not tell them.
  bool ReadFacts(TlsFacts* facts) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Words for an error number a session reported, when the platform knows
// it (a TLS version or a Diffie-Hellman group refused, a certificate
// check): a static text, or nullptr.
const char* TlsErrorText(uint32_t error);

// Drops every kept session and credentials handle (the last service
// object's end; unloading does it too). Connections running keep theirs to their end,
// and keep nothing afterwards. Any thread.
void TlsForgetSessions();

// Whether this platform has TLS at all (Windows: Schannel could be loaded).
bool TlsAvailable();

// The environment variable that points the trust store at a file of
// certificates (OpenSSL's SSL_CERT_FILE), or null where the platform's
// store cannot be pointed elsewhere that way (Windows).
const char* TlsTrustFileVariable();

// Seams for the tests (no setting reaches them). Call while no session runs.
namespace tls_testing {
// Chains without a pin are built to `der` (one DER certificate) alone
// instead of the platform's trust store; empty: the trust store again.
// False when it could not be set.
bool SetAuthority(const std::string& der);
// Whether the last chain building kept to what is on this machine (no
// issuer fetched from the network, no root list update): always where the
// engine never fetches (OpenSSL).
bool LastChainBuildWasLocal();
// Since the process began: handshakes that were offered kept state (a
// session on Linux, a credentials handle on Windows), those the library
// reports as resumed, and the sessions or handles kept now.
struct ResumeCounts {
  uint64_t offered = 0;
  uint64_t resumed = 0;
  size_t kept = 0;
};
ResumeCounts Resumes();
// Seal fails as if the engine had refused to encipher (on Windows before
// EncryptMessage runs, so that the record still holds the data in clear).
void RefuseEncryption(bool refuse);
}  // namespace tls_testing

}  // namespace hv::platform

#endif  // HV_PLATFORM_TLS_H_
