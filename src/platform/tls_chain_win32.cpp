// See tls_chain_win32.h.
#include "platform/tls_chain_win32.h"

#include <ws2tcpip.h>

#include <atomic>
#include <cstring>

#include "base/host_name_match.h"
#include "base/utf.h"
#include "platform/tls.h"

namespace hv::platform {
namespace {

struct Crypt32 {
  decltype(&CertGetCertificateChain) get_chain = nullptr;
  decltype(&CertVerifyCertificateChainPolicy) verify_policy = nullptr;
  decltype(&CertFreeCertificateChain) free_chain = nullptr;
  decltype(&CertCreateCertificateChainEngine) create_engine = nullptr;
  decltype(&CertFreeCertificateChainEngine) free_engine = nullptr;
  decltype(&CertOpenStore) open_store = nullptr;
  decltype(&CertCloseStore) close_store = nullptr;
  decltype(&CertAddEncodedCertificateToStore) add_encoded = nullptr;
  decltype(&CertFindExtension) find_extension = nullptr;
  decltype(&CryptDecodeObjectEx) decode = nullptr;
  bool ok = false;

  Crypt32() {
    HMODULE crypt32 = LoadLibraryExW(L"crypt32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (crypt32 == nullptr) return;  // stays loaded: sessions run on any thread
    Bind(crypt32, "CertGetCertificateChain", &get_chain);
    Bind(crypt32, "CertVerifyCertificateChainPolicy", &verify_policy);
    Bind(crypt32, "CertFreeCertificateChain", &free_chain);
    Bind(crypt32, "CertCreateCertificateChainEngine", &create_engine);
    Bind(crypt32, "CertFreeCertificateChainEngine", &free_engine);
    Bind(crypt32, "CertOpenStore", &open_store);
    Bind(crypt32, "CertCloseStore", &close_store);
    Bind(crypt32, "CertAddEncodedCertificateToStore", &add_encoded);
    Bind(crypt32, "CertFindExtension", &find_extension);
    Bind(crypt32, "CryptDecodeObjectEx", &decode);
    ok = get_chain && verify_policy && free_chain && create_engine && free_engine && open_store &&
         close_store && add_encoded && find_extension && decode;
  }
  template <class Fn>
  static void Bind(HMODULE library, const char* name, Fn* fn) {
    *fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library, name)));
  }
};

const Crypt32& Api() {
  static const Crypt32 api;
  return api;
}

// The chain from what is on this machine only: the URL cache at most, no
// issuer fetched from the addresses a certificate names, no root list
// update.
constexpr DWORD kLocalOnly =
    CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL | CERT_CHAIN_DISABLE_AUTH_ROOT_AUTO_UPDATE | CERT_CHAIN_DISABLE_AIA;

std::atomic<DWORD> last_flags{0};

// The tests' own authority: a chain engine whose exclusive root it is
// (null: the system's engine and trust store).
struct TestEngine {
  HCERTSTORE root = nullptr;
  HCERTCHAINENGINE engine = nullptr;
  void Reset() {
    if (engine != nullptr) Api().free_engine(engine);
    if (root != nullptr) Api().close_store(root, 0);
    engine = nullptr;
    root = nullptr;
  }
} test_engine;

// Whether one of the certificate's subject alternative names passes
// `match` (none: no such extension, or one that does not decode).
template <class Match>
bool AnyAltName(PCCERT_CONTEXT cert, Match match) {
  PCERT_EXTENSION names = Api().find_extension(szOID_SUBJECT_ALT_NAME2, cert->pCertInfo->cExtension,
                                               cert->pCertInfo->rgExtension);
  CERT_ALT_NAME_INFO* info = nullptr;
  DWORD info_size = 0;
  if (names == nullptr || !Api().decode(X509_ASN_ENCODING, X509_ALTERNATE_NAME, names->Value.pbData,
                                        names->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &info,
                                        &info_size)) {
    return false;
  }
  bool found = false;
  for (DWORD i = 0; i < info->cAltEntry && !found; ++i) found = match(info->rgAltEntry[i]);
  LocalFree(info);
  return found;
}

// Whether an IP address entry holds the address (4 or 16 bytes).
bool NamesAddress(PCCERT_CONTEXT cert, const void* address, DWORD size) {
  return AnyAltName(cert, [&](const CERT_ALT_NAME_ENTRY& entry) {
    return entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && entry.IPAddress.cbData == size &&
           std::memcmp(entry.IPAddress.pbData, address, size) == 0;
  });
}

// Whether a DNS name entry names the host. The SSL policy alone does not
// settle this: where no such entry exists it falls back to the subject's
// common name, and some crypt32s (Wine's) match wildcards there loosely
// ("*", "l*").
bool NamesHost(PCCERT_CONTEXT cert, const std::wstring& host) {
  const std::string wanted = WideToUtf8(host);
  return AnyAltName(cert, [&](const CERT_ALT_NAME_ENTRY& entry) {
    return entry.dwAltNameChoice == CERT_ALT_NAME_DNS_NAME && entry.pwszDNSName != nullptr &&
           CertificateNameMatchesHost(WideToUtf8(entry.pwszDNSName), wanted);
  });
}

// The chain's own status, beside the policy's verdict: some crypt32s
// (Wine's) pass a partial chain, or one to an untrusted root, through the
// SSL policy as sound.
uint32_t TrustError(DWORD status) {
  status &= ~static_cast<DWORD>(CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION);
  if (status == CERT_TRUST_NO_ERROR) return 0;
  if (status & CERT_TRUST_IS_NOT_TIME_VALID) return static_cast<uint32_t>(CERT_E_EXPIRED);
  if (status & CERT_TRUST_IS_PARTIAL_CHAIN) return static_cast<uint32_t>(CERT_E_CHAINING);
  return static_cast<uint32_t>(CERT_E_UNTRUSTEDROOT);
}

// The SSL policy for a server, by name; for an address literal without
// the name check, which not every crypt32 does for addresses (Wine's
// compares DNS names only): the address is compared here.
uint32_t CheckPolicy(PCCERT_CHAIN_CONTEXT chain, const std::wstring& host, bool address) {
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
  ssl.cbSize = sizeof ssl;
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.fdwChecks = address ? 0x00001000 /* SECURITY_FLAG_IGNORE_CERT_CN_INVALID */ : 0;
  ssl.pwszServerName = address ? nullptr : const_cast<WCHAR*>(host.c_str());
  CERT_CHAIN_POLICY_PARA policy{};
  policy.cbSize = sizeof policy;
  policy.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof status;
  if (!Api().verify_policy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status)) {
    return static_cast<uint32_t>(GetLastError());
  }
  if (status.dwError != 0) return status.dwError;
  return TrustError(chain->TrustStatus.dwErrorStatus);
}

// Bits of an unsigned little-endian number of `size` bytes.
uint32_t BitLength(const BYTE* little_endian, DWORD size) {
  while (size > 0 && little_endian[size - 1] == 0) --size;
  if (size == 0) return 0;
  uint32_t bits = 8 * (size - 1);
  for (BYTE top = little_endian[size - 1]; top != 0; top >>= 1) ++bits;
  return bits;
}

int64_t UnixSeconds(const FILETIME& time) {
  int64_t ticks = (static_cast<int64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  return (ticks - 116444736000000000LL) / 10000000;  // 100 ns ticks since 1601
}

// An RSA key's modulus, from its encoded public key.
uint32_t RsaBits(const CRYPT_BIT_BLOB& key) {
  BYTE* blob = nullptr;
  DWORD size = 0;
  if (!Api().decode(X509_ASN_ENCODING, RSA_CSP_PUBLICKEYBLOB, key.pbData, key.cbData, CRYPT_DECODE_ALLOC_FLAG,
                    nullptr, &blob, &size)) {
    return 0;
  }
  uint32_t bits = 0;
  if (size >= sizeof(BLOBHEADER) + sizeof(RSAPUBKEY)) {
    RSAPUBKEY header;
    std::memcpy(&header, blob + sizeof(BLOBHEADER), sizeof header);
    bits = header.bitlen;
  }
  LocalFree(blob);
  return bits;
}

// A DSA key's prime p, from the algorithm's parameters.
uint32_t DsaBits(const CRYPT_ALGORITHM_IDENTIFIER& algorithm) {
  CERT_DSS_PARAMETERS* parameters = nullptr;
  DWORD size = 0;
  if (!Api().decode(X509_ASN_ENCODING, X509_DSS_PARAMETERS, algorithm.Parameters.pbData,
                    algorithm.Parameters.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &parameters, &size)) {
    return 0;
  }
  uint32_t bits = BitLength(parameters->p.pbData, parameters->p.cbData);
  LocalFree(parameters);
  return bits;
}

// An EC key's field size, from its point: 04 X Y uncompressed, 02/03 X
// compressed, each coordinate as wide as the field.
uint32_t EcBits(const CRYPT_BIT_BLOB& key) {
  if (key.cbData < 2) return 0;
  DWORD coordinates = key.pbData[0] == 0x04 ? (key.cbData - 1) / 2 : key.cbData - 1;
  return 8 * coordinates;
}

// An extension's value as encoded; empty when the certificate has none.
std::string Extension(const CERT_INFO& info, const char* oid, bool* critical = nullptr) {
  PCERT_EXTENSION extension = Api().find_extension(oid, info.cExtension, info.rgExtension);
  if (extension == nullptr) return std::string();
  if (critical != nullptr) *critical = extension->fCritical != FALSE;
  return std::string(reinterpret_cast<const char*>(extension->Value.pbData), extension->Value.cbData);
}

}  // namespace

TlsCertificateFacts CertificateFacts(PCCERT_CONTEXT cert, bool self_signed) {
  TlsCertificateFacts facts;
  const CERT_INFO& info = *cert->pCertInfo;
  const CERT_PUBLIC_KEY_INFO& key = info.SubjectPublicKeyInfo;
  const char* algorithm = key.Algorithm.pszObjId != nullptr ? key.Algorithm.pszObjId : "";
  if (std::strcmp(algorithm, szOID_RSA_RSA) == 0 || std::strcmp(algorithm, "1.2.840.113549.1.1.10") == 0) {
    facts.key = TlsCertificateFacts::Key::kRsa;
    facts.key_bits = RsaBits(key.PublicKey);
  } else if (std::strcmp(algorithm, szOID_X957_DSA) == 0) {
    facts.key = TlsCertificateFacts::Key::kDsa;
    facts.key_bits = DsaBits(key.Algorithm);
  } else if (std::strcmp(algorithm, szOID_ECC_PUBLIC_KEY) == 0) {
    facts.key = TlsCertificateFacts::Key::kEc;
    facts.key_bits = EcBits(key.PublicKey);
  }
  if (info.SignatureAlgorithm.pszObjId != nullptr) facts.signature_oid = info.SignatureAlgorithm.pszObjId;
  const CRYPT_OBJID_BLOB& parameters = info.SignatureAlgorithm.Parameters;
  facts.signature_parameters.assign(reinterpret_cast<const char*>(parameters.pbData), parameters.cbData);
  // Read here rather than trusted to the chain policy: some crypt32s
  // (Wine's) enforce neither an issuer's usage nor its name constraints.
  facts.extended_key_usage = Extension(info, szOID_ENHANCED_KEY_USAGE);
  facts.alt_names = Extension(info, szOID_SUBJECT_ALT_NAME2);
  facts.name_constraints = Extension(info, szOID_NAME_CONSTRAINTS, &facts.name_constraints_critical);
  facts.self_signed = self_signed;
  facts.not_before = UnixSeconds(info.NotBefore);
  facts.not_after = UnixSeconds(info.NotAfter);
  return facts;
}

bool ChainCheckAvailable() { return Api().ok; }

uint32_t CheckChainAndName(PCCERT_CONTEXT cert, const std::wstring& host,
                           std::vector<TlsCertificateFacts>* chain_facts) {
  if (!Api().ok) return static_cast<uint32_t>(ERROR_NOT_SUPPORTED);
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
  para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
  para.RequestedUsage.Usage.cUsageIdentifier = 1;
  para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  DWORD flags = kLocalOnly;
  last_flags = flags;
  if (!Api().get_chain(test_engine.engine, cert, nullptr, cert->hCertStore, &para, flags, nullptr, &chain)) {
    return static_cast<uint32_t>(GetLastError());
  }
  unsigned char address[16];
  DWORD address_size = InetPtonW(AF_INET, host.c_str(), address) == 1    ? 4
                       : InetPtonW(AF_INET6, host.c_str(), address) == 1 ? 16
                                                                          : 0;
  uint32_t result = CheckPolicy(chain, host, address_size != 0);
  if (result == 0 && (address_size != 0 ? !NamesAddress(cert, address, address_size) : !NamesHost(cert, host))) {
    result = static_cast<uint32_t>(CERT_E_CN_NO_MATCH);
  }
  if (result == 0 && chain->cChain > 0) {
    const CERT_SIMPLE_CHAIN& simple = *chain->rgpChain[0];
    for (DWORD i = 0; i < simple.cElement; ++i) {
      const CERT_CHAIN_ELEMENT& element = *simple.rgpElement[i];
      bool self_signed = (element.TrustStatus.dwInfoStatus & CERT_TRUST_IS_SELF_SIGNED) != 0;
      chain_facts->push_back(CertificateFacts(element.pCertContext, self_signed));
    }
  }
  Api().free_chain(chain);
  return result;
}

namespace tls_testing {

bool SetAuthority(const std::string& der) {
  test_engine.Reset();
  if (der.empty()) return true;
  if (!Api().ok) return false;
  test_engine.root = Api().open_store(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  if (test_engine.root == nullptr ||
      !Api().add_encoded(test_engine.root, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                         static_cast<DWORD>(der.size()), CERT_STORE_ADD_ALWAYS, nullptr)) {
    test_engine.Reset();
    return false;
  }
  CERT_CHAIN_ENGINE_CONFIG config{};
  // The Windows 7 layout (up to hExclusiveTrustedPeople), the one every
  // later Windows and Wine take with an exclusive root (Wine refuses the
  // larger one of Windows 8).
  config.cbSize = sizeof config;
  config.hExclusiveRoot = test_engine.root;
  config.dwFlags = CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL;
  if (!Api().create_engine(&config, &test_engine.engine)) {
    test_engine.Reset();
    return false;
  }
  return true;
}

bool LastChainBuildWasLocal() {
  constexpr DWORD kRequired = CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL | CERT_CHAIN_DISABLE_AUTH_ROOT_AUTO_UPDATE;
  return (last_flags & kRequired) == kRequired;
}

}  // namespace tls_testing
}  // namespace hv::platform
