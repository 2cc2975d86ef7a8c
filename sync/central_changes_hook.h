// The central changes attached to the service host: on "UPDA" the host runs
// TransferDataFromCX with its own connections, installation id, application
// folder, log and server link. Header-only, so the host's library can attach
// it without the synchronisation library depending on the host.
#pragma once

#include <string>

#include "service/service_host.h"
#include "sync/central_changes.h"
#include "sync/host_job_context.h"

namespace pv::sync {

// The context of one change, taken from the host at the moment "UPDA" arrives.
inline CentralChangeContext HostCentralChangeContext(service::ServiceHost& host) {
  CentralChangeContext ctx;
  FillJobContext(ctx, host);
  return ctx;
}

// Sets the host's "UPDA" hook. The change is applied inside the dispatch of
// the message, on the host's thread.
inline void AttachCentralChanges(service::ServiceHost& host) {
  host.onCentralChange = [&host](const std::string& argument) {
    TransferDataFromCX(HostCentralChangeContext(host), argument);
  };
}

}  // namespace pv::sync
