// The module's HTTP client: CAtlHttpClientT over the event-driven socket.
#include "http/http_client_impl.h"

namespace hv {

template class CAtlHttpClientT<ZEvtSyncSocket>;
template class CAtlHttpClientT<ZEvtSyncTlsSocket>;

}  // namespace hv
