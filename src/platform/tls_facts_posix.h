// What the OpenSSL build reads from a certificate for the module's own
// checks of a chain (see TlsCertificateFacts in platform/tls.h).
//
// Internal to tls_posix.cpp. Thread-safe: reads the certificate only; the
// caller keeps its reference.
#ifndef HV_PLATFORM_TLS_FACTS_POSIX_H_
#define HV_PLATFORM_TLS_FACTS_POSIX_H_

#include <openssl/x509.h>

#include "platform/tls.h"

namespace hv::platform {

// Key type and size, signature algorithm and its parameters, the extensions
// the checks read (as encoded), whether self-signed, and the validity dates.
TlsCertificateFacts CertificateFacts(X509* cert);

}  // namespace hv::platform

#endif  // HV_PLATFORM_TLS_FACTS_POSIX_H_
