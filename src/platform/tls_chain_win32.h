// The server certificate's chain and name for the Windows TLS session,
// checked with crypt32 from the local certificate stores only: no issuer,
// revocation list or root update is fetched from the network, whose waits
// (15 seconds an address by default, any address a certificate names) no
// verification's deadline would bound. A server that does not send its
// intermediate certificates is refused unless they are in a local store.
//
// Internal to tls_win32.cpp. crypt32 is loaded from the system directory.
// Thread-safety: CheckChainAndName may run on any thread at once; the
// test authority (platform/tls.h) is set while no session runs.
#ifndef HV_PLATFORM_TLS_CHAIN_WIN32_H_
#define HV_PLATFORM_TLS_CHAIN_WIN32_H_

#include <winsock2.h>
#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/tls.h"

namespace hv::platform {

// 0 when `cert` (with the certificates the server sent, in its store)
// chains to a trusted root, or to the test authority when one is set, and
// names `host` (a DNS name matched against the certificate's DNS name
// entries only, never its common name; an address literal against its IP
// addresses); else the CERT_E_ or system error number. On 0, `chain`
// holds the facts of the chain as built, leaf first, up to its anchor.
uint32_t CheckChainAndName(PCCERT_CONTEXT cert, const std::wstring& host,
                           std::vector<TlsCertificateFacts>* chain);

// The facts of one certificate (its key read from the encoded public key,
// not from what crypt32 makes of it).
TlsCertificateFacts CertificateFacts(PCCERT_CONTEXT cert, bool self_signed);

// Whether crypt32's chain functions could be bound.
bool ChainCheckAvailable();

}  // namespace hv::platform

#endif  // HV_PLATFORM_TLS_CHAIN_WIN32_H_
