// Windows implementation of platform/tls.h: Schannel through SSPI. The
// system libraries (secur32, crypt32) are loaded at run time from the
// system directory only, so that no planted library is picked up and the
// module's static imports stay as they are.
#include "platform/tls.h"
#include "platform/memory.h"

#define SECURITY_WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <wincrypt.h>
#include <schannel.h>
#include <security.h>
#include <sspi.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "platform/tls_chain_win32.h"
#include "platform/tls_credentials_win32.h"

namespace hv::platform {
namespace {

// The entry points this file uses, bound once per process.
struct Schannel {
  PSecurityFunctionTableW sspi = nullptr;
  decltype(&CertFreeCertificateContext) free_cert = nullptr;
  decltype(&CryptHashCertificate2) hash_cert = nullptr;
  bool ok = false;

  Schannel() {
    HMODULE secur32 = LoadLibraryExW(L"secur32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    HMODULE crypt32 = LoadLibraryExW(L"crypt32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (secur32 == nullptr || crypt32 == nullptr) return;
    auto init = reinterpret_cast<INIT_SECURITY_INTERFACE_W>(
        reinterpret_cast<void*>(GetProcAddress(secur32, "InitSecurityInterfaceW")));
    sspi = init != nullptr ? init() : nullptr;
    Bind(crypt32, "CertFreeCertificateContext", &free_cert);
    Bind(crypt32, "CryptHashCertificate2", &hash_cert);
    ok = sspi != nullptr && free_cert && hash_cert && ChainCheckAvailable();
    // Both stay loaded for the life of the process: sessions may be in
    // use on other threads at any time.
  }
  template <class Fn>
  static void Bind(HMODULE library, const char* name, Fn* fn) {
    *fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library, name)));
  }
};

const Schannel& Api() {
  static const Schannel api;
  return api;
}

uint32_t Status(SECURITY_STATUS status) { return static_cast<uint32_t>(status); }

void ReleaseCredentials(CredHandle* handle) { Api().sspi->FreeCredentialsHandle(handle); }

std::atomic<uint64_t> offered_count{0};
std::atomic<uint64_t> resumed_count{0};
std::atomic<bool> refuse_encryption{false};

}  // namespace

struct TlsSession::Impl {
  SharedCredentials cred;  // shared with the key's other connections
  std::string key;         // empty: a handle of its own
  CtxtHandle ctx{};
  bool have_ctx = false;
  bool failed = false;
  bool done = false;
  bool peer_closed = false;  // close_notify read: every later Open is kClosed
  bool tls13 = false;        // post-handshake messages allowed (tickets, key updates)
  std::wstring host;
  std::string pins;  // 32 bytes per accepted certificate; empty: chain and name
  SecPkgContext_StreamSizes sizes{};
  TlsFacts facts;  // of the finished handshake

  ~Impl() {
    if (have_ctx) Api().sspi->DeleteSecurityContext(&ctx);
    // Schannel's sessions behind a handle a connection failed with are
    // not offered again: the next connection gets a handle of its own.
    if (failed && cred != nullptr && !key.empty()) DropCredentials(key, cred.get());
  }
  TlsSession::Result Fail(uint32_t* error, uint32_t status) {
    failed = true;
    *error = status;
    return TlsSession::Result::kFailed;
  }

  // Runs one InitializeSecurityContext step on `received`.
  TlsSession::Result Step(std::string* received, std::string* to_send, uint32_t* error);
  // The server's certificate against the pin, or its chain and name; the
  // chain's facts into `facts`.
  uint32_t CheckServer();
  // The protocol and key exchange of the finished handshake into `facts`.
  void ReadConnectionFacts(const SecPkgContext_ConnectionInfo& info);
};

TlsSession::TlsSession() : impl_(new Impl) {}
TlsSession::~TlsSession() = default;

bool TlsAvailable() { return Api().ok; }

const char* TlsTrustFileVariable() { return nullptr; }

const char* TlsErrorText(uint32_t error) {
  switch (static_cast<SECURITY_STATUS>(error)) {
    case SEC_E_ALGORITHM_MISMATCH:
      return "the server shares no TLS version, cipher or key-exchange group the module accepts";
    case SEC_E_UNSUPPORTED_FUNCTION:
      return "the server speaks no TLS version the module accepts (TLS 1.2 or later)";
    case SEC_E_UNTRUSTED_ROOT:
    case CERT_E_UNTRUSTEDROOT:
      return "the server's certificate is not trusted (chain or pin)";
    case SEC_E_CERT_EXPIRED:
    case CERT_E_EXPIRED:
      return "the server's certificate has expired";
    case SEC_E_WRONG_PRINCIPAL:
    case CERT_E_CN_NO_MATCH:
      return "the server's certificate names another host";
    case SEC_E_ILLEGAL_MESSAGE:
      return "the server sent a malformed TLS message or an alert";
    default:
      return nullptr;
  }
}

uint32_t TlsSession::Begin(const std::string& host, const unsigned char* pins, size_t pin_count,
                           const std::string& resume_key) {
  if (!Api().ok) return static_cast<uint32_t>(ERROR_NOT_SUPPORTED);
  Impl& s = *impl_;
  s.host.assign(host.begin(), host.end());
  s.pins.assign(reinterpret_cast<const char*>(pins), pin_count == 0 ? 0 : 32 * pin_count);
  // The chain and name are checked here after every handshake, a resumed
  // one's included, so the trust settings need no place in the key.
  s.key = resume_key;
  auto acquire = [](CredHandle* handle) -> uint32_t {
    // The certificate is checked here after the handshake (pin, or chain
    // and name), so Schannel's own check is off.
    SCHANNEL_CRED cred{};
    cred.dwVersion = SCHANNEL_CRED_VERSION;
    // No client certificate: a server that asks for one gets none. Only
    // the strong ciphers.
    cred.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
    TimeStamp expiry;
    SECURITY_STATUS rc = SEC_E_UNSUPPORTED_FUNCTION;
    // TLS 1.3 and 1.2 where the system has 1.3; else 1.2 alone.
    for (DWORD protocols : {DWORD{SP_PROT_TLS1_2_CLIENT | 0x00002000 /* TLS 1.3 client */},
                            DWORD{SP_PROT_TLS1_2_CLIENT}}) {
      cred.grbitEnabledProtocols = protocols;
      rc = Api().sspi->AcquireCredentialsHandleW(nullptr, const_cast<SEC_WCHAR*>(UNISP_NAME_W),
                                                 SECPKG_CRED_OUTBOUND, nullptr, &cred, nullptr, nullptr,
                                                 handle, &expiry);
      if (rc == SEC_E_OK) break;
    }
    return rc == SEC_E_OK ? 0 : Status(rc);
  };
  bool reused = false;
  uint32_t rc = TakeCredentials(s.key, acquire, &ReleaseCredentials, &s.cred, &reused);
  if (rc == 0 && reused) offered_count.fetch_add(1, std::memory_order_relaxed);
  return rc;
}

void TlsSession::Accept() {}

void TlsSession::Discard() { impl_->failed = true; }

void TlsForgetSessions() { ForgetCredentials(); }

TlsSession::Result TlsSession::Impl::Step(std::string* received, std::string* to_send,
                                          uint32_t* error) {
  SecBuffer in[2];
  in[0].BufferType = SECBUFFER_TOKEN;
  in[0].pvBuffer = received->empty() ? nullptr : &(*received)[0];
  in[0].cbBuffer = static_cast<unsigned long>(received->size());
  in[1].BufferType = SECBUFFER_EMPTY;
  in[1].pvBuffer = nullptr;
  in[1].cbBuffer = 0;
  SecBufferDesc in_desc{SECBUFFER_VERSION, 2, in};
  SecBuffer out[1];
  out[0].BufferType = SECBUFFER_TOKEN;
  out[0].pvBuffer = nullptr;
  out[0].cbBuffer = 0;
  SecBufferDesc out_desc{SECBUFFER_VERSION, 1, out};
  // USE_SUPPLIED_CREDS: answer a request for a client certificate with
  // the (empty) credentials at hand rather than stopping to ask for one.
  const unsigned long wanted = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                               ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                               ISC_REQ_USE_SUPPLIED_CREDS;
  unsigned long attributes = 0;
  TimeStamp expiry;
  // The name goes out for name-based hosting; an address literal is sent
  // as nothing.
  IN6_ADDR any;
  bool address = InetPtonW(AF_INET, host.c_str(), &any) == 1 || InetPtonW(AF_INET6, host.c_str(), &any) == 1;
  SEC_WCHAR* target = address ? nullptr : const_cast<SEC_WCHAR*>(host.c_str());
  bool first = !have_ctx;
  SECURITY_STATUS rc = Api().sspi->InitializeSecurityContextW(
      &cred->handle, first ? nullptr : &ctx, target, wanted, 0, 0, first ? nullptr : &in_desc, 0,
      first ? &ctx : nullptr, &out_desc, &attributes, &expiry);
  if (rc == SEC_I_INCOMPLETE_CREDENTIALS && !first) {
    // The server asked for a client certificate: go on without one, as
    // the same step again (nothing of `received` was consumed).
    if (out[0].pvBuffer != nullptr) Api().sspi->FreeContextBuffer(out[0].pvBuffer);
    out[0] = {0, SECBUFFER_TOKEN, nullptr};
    in[0] = {static_cast<unsigned long>(received->size()), SECBUFFER_TOKEN, in[0].pvBuffer};
    in[1] = {0, SECBUFFER_EMPTY, nullptr};
    rc = Api().sspi->InitializeSecurityContextW(&cred->handle, &ctx, target, wanted, 0, 0, &in_desc, 0, nullptr, &out_desc,
                                                &attributes, &expiry);
  }
  if (first && (rc == SEC_I_CONTINUE_NEEDED || rc == SEC_E_OK)) have_ctx = true;
  if (out[0].pvBuffer != nullptr) {
    if (out[0].cbBuffer > 0) to_send->append(static_cast<const char*>(out[0].pvBuffer), out[0].cbBuffer);
    Api().sspi->FreeContextBuffer(out[0].pvBuffer);
  }
  if (rc == SEC_E_INCOMPLETE_MESSAGE) return Result::kMore;  // `received` kept whole
  if (rc != SEC_E_OK && rc != SEC_I_CONTINUE_NEEDED) return Fail(error, Status(rc));
  // What the step did not read stays for the next one (or, at the end,
  // is the start of the application data).
  if (!first && in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer > 0 &&
      in[1].cbBuffer <= received->size()) {
    received->erase(0, received->size() - in[1].cbBuffer);
  } else if (!first) {
    received->clear();
  }
  if (rc == SEC_I_CONTINUE_NEEDED) return Result::kMore;
  if (done) return Result::kDone;  // a TLS 1.3 post-handshake message answered
  rc = Api().sspi->QueryContextAttributesW(&ctx, SECPKG_ATTR_STREAM_SIZES, &sizes);
  SecPkgContext_ConnectionInfo info{};
  if (rc == SEC_E_OK) rc = Api().sspi->QueryContextAttributesW(&ctx, SECPKG_ATTR_CONNECTION_INFO, &info);
  if (rc != SEC_E_OK) return Fail(error, Status(rc));
  tls13 = (info.dwProtocol & 0x00003000 /* TLS 1.3 client or server */) != 0;
  ReadConnectionFacts(info);
  // A resumed session (Schannel's reconnect) is checked as a full one:
  // Schannel reports the session's certificate.
  SecPkgContext_SessionInfo session{};
  facts.resumed = Api().sspi->QueryContextAttributesW(&ctx, SECPKG_ATTR_SESSION_INFO, &session) == SEC_E_OK &&
                  (session.dwFlags & SSL_SESSION_RECONNECT) != 0;
  if (facts.resumed) resumed_count.fetch_add(1, std::memory_order_relaxed);
  uint32_t check = CheckServer();
  if (check != 0) return Fail(error, check);
  done = true;
  return Result::kDone;
}

uint32_t TlsSession::Impl::CheckServer() {
  PCCERT_CONTEXT cert = nullptr;
  SECURITY_STATUS rc = Api().sspi->QueryContextAttributesW(&ctx, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert);
  if (rc != SEC_E_OK || cert == nullptr) return rc != SEC_E_OK ? Status(rc) : Status(SEC_E_CERT_UNKNOWN);
  uint32_t result = 0;
  if (!pins.empty()) {
    BYTE digest[32];
    DWORD size = sizeof digest;
    if (!Api().hash_cert(BCRYPT_SHA256_ALGORITHM, 0, nullptr, cert->pbCertEncoded, cert->cbCertEncoded,
                         digest, &size) ||
        size != 32) {
      result = static_cast<uint32_t>(GetLastError());
    } else {
      bool match = false;
      for (size_t at = 0; at + 32 <= pins.size(); at += 32) match |= std::memcmp(digest, pins.data() + at, 32) == 0;
      if (!match) result = Status(CERT_E_UNTRUSTEDROOT);
    }
    if (result == 0) facts.chain.push_back(CertificateFacts(cert, false));
  } else {
    result = CheckChainAndName(cert, host, &facts.chain);
  }
  Api().free_cert(cert);
  return result;
}

void TlsSession::Impl::ReadConnectionFacts(const SecPkgContext_ConnectionInfo& info) {
  DWORD protocol = info.dwProtocol;
  facts.version = (protocol & 0x00003000) != 0                        ? 0x0304
                  : (protocol & SP_PROT_TLS1_2) != 0                  ? 0x0303
                  : (protocol & SP_PROT_TLS1_1) != 0                  ? 0x0302
                  : (protocol & SP_PROT_TLS1_0) != 0                  ? 0x0301
                  : (protocol & (SP_PROT_SSL3 | SP_PROT_SSL2)) != 0 ? 0x0300
                                                                      : 0;
  switch (info.aiExch) {
    case CALG_ECDH_EPHEM:
    case CALG_ECDH: facts.exchange = TlsFacts::Exchange::kElliptic; break;
    case CALG_DH_EPHEM:
    case CALG_DH_SF: facts.exchange = TlsFacts::Exchange::kFiniteField; break;
    case CALG_RSA_KEYX: facts.exchange = TlsFacts::Exchange::kKeyTransport; break;
    default:
      // Schannel's TLS 1.3 offers elliptic groups only, whatever it calls
      // the exchange.
      facts.exchange = facts.version == 0x0304 ? TlsFacts::Exchange::kElliptic : TlsFacts::Exchange::kUnknown;
      break;
  }
  facts.exchange_bits = info.dwExchStrength;
}

bool TlsSession::ReadFacts(TlsFacts* facts) const {
  *facts = impl_->facts;
  return impl_->done && !facts->chain.empty();
}

TlsSession::Result TlsSession::Handshake(std::string* received, std::string* to_send, uint32_t* error) {
  Impl& s = *impl_;
  if (s.cred == nullptr) return s.Fail(error, static_cast<uint32_t>(ERROR_NOT_SUPPORTED));
  // The first step sends the hello; later ones need the peer's bytes.
  for (;;) {
    if (s.have_ctx && received->empty()) return Result::kMore;
    size_t before = received->size();
    Result result = s.Step(received, to_send, error);
    if (result != Result::kMore || received->empty() || received->size() == before) return result;
  }
}

TlsSession::Result TlsSession::Seal(const char* data, size_t size, std::string* to_send, uint32_t* error) {
  Impl& s = *impl_;
  while (size > 0) {
    size_t chunk = size < s.sizes.cbMaximumMessage ? size : s.sizes.cbMaximumMessage;
    std::vector<char> record(s.sizes.cbHeader + chunk + s.sizes.cbTrailer);
    std::memcpy(record.data() + s.sizes.cbHeader, data, chunk);
    SecBuffer buffers[4];
    buffers[0] = {s.sizes.cbHeader, SECBUFFER_STREAM_HEADER, record.data()};
    buffers[1] = {static_cast<unsigned long>(chunk), SECBUFFER_DATA, record.data() + s.sizes.cbHeader};
    buffers[2] = {s.sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + s.sizes.cbHeader + chunk};
    buffers[3] = {0, SECBUFFER_EMPTY, nullptr};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
    SECURITY_STATUS rc = refuse_encryption.load(std::memory_order_relaxed)
                             ? SEC_E_ENCRYPT_FAILURE
                             : Api().sspi->EncryptMessage(&s.ctx, 0, &desc, 0);
    if (rc != SEC_E_OK) {
      // Not enciphered: the record still holds the request in clear, and
      // the request carries the enciphered query.
      Wipe("tls record", record.data(), record.size());
      return s.Fail(error, Status(rc));
    }
    to_send->append(record.data(), buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
    data += chunk;
    size -= chunk;
  }
  return Result::kDone;
}

TlsSession::Result TlsSession::Open(std::string* received, std::string* plain, std::string* to_send,
                                    uint32_t* error) {
  Impl& s = *impl_;
  size_t before = plain->size();
  if (s.peer_closed) return Result::kClosed;
  while (!received->empty()) {
    SecBuffer buffers[4];
    buffers[0] = {static_cast<unsigned long>(received->size()), SECBUFFER_DATA, &(*received)[0]};
    buffers[1] = {0, SECBUFFER_EMPTY, nullptr};
    buffers[2] = {0, SECBUFFER_EMPTY, nullptr};
    buffers[3] = {0, SECBUFFER_EMPTY, nullptr};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
    // A TLS 1.2 alert record (its type stands in clear).
    bool alert = static_cast<unsigned char>((*received)[0]) == 0x15;
    size_t plain_before = plain->size();
    SECURITY_STATUS rc = Api().sspi->DecryptMessage(&s.ctx, &desc, 0, nullptr);
    if (rc == SEC_E_INCOMPLETE_MESSAGE) break;
    if (rc == SEC_I_CONTEXT_EXPIRED) {
      // The end of the data, even when data came with it: the next call
      // reports it.
      received->clear();
      s.peer_closed = true;
      return plain->size() > before ? Result::kDone : Result::kClosed;
    }
    if (rc != SEC_E_OK && rc != SEC_I_RENEGOTIATE) return s.Fail(error, Status(rc));
    std::string extra;
    for (const SecBuffer& b : buffers) {
      if (b.BufferType == SECBUFFER_DATA && b.cbBuffer > 0) {
        plain->append(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
      } else if (b.BufferType == SECBUFFER_EXTRA && b.cbBuffer > 0) {
        extra.assign(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
      }
    }
    *received = extra;
    if (rc == SEC_E_OK && alert && plain->size() == plain_before) {
      // An alert that passed its integrity check and carried no data: the
      // peer's close_notify as some Schannel implementations (Wine's)
      // report it, instead of SEC_I_CONTEXT_EXPIRED.
      received->clear();
      s.peer_closed = true;
      return plain->size() > before ? Result::kDone : Result::kClosed;
    }
    if (rc == SEC_I_RENEGOTIATE && !s.tls13) {
      // A TLS 1.2 server that would start the handshake over in the middle
      // of the data: a second handshake nobody bounded, refused.
      return s.Fail(error, Status(SEC_E_ILLEGAL_MESSAGE));
    }
    if (rc == SEC_I_RENEGOTIATE) {
      // Post-handshake messages (a TLS 1.3 ticket, a key update) go back
      // through the handshake step.
      Result result = s.Step(received, to_send, error);
      if (result == Result::kFailed) return result;
    }
  }
  return plain->size() > before ? Result::kDone : Result::kMore;
}

namespace tls_testing {

ResumeCounts Resumes() {
  return {offered_count.load(std::memory_order_relaxed), resumed_count.load(std::memory_order_relaxed),
          CredentialsKept()};
}

void RefuseEncryption(bool refuse) { refuse_encryption.store(refuse, std::memory_order_relaxed); }

}  // namespace tls_testing
}  // namespace hv::platform
