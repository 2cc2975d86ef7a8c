// The full upload attached to the service host: on "DATR" the host runs
// TransferDataToCX with its own connections, installation id, application
// folder, log and server link. Header-only, so the host's library can attach
// it without the synchronisation library depending on the host.
#pragma once

#include <string>

#include "service/service_host.h"
#include "sync/full_upload.h"
#include "sync/host_job_context.h"

namespace pv::sync {

// The context of one run, taken from the host at the moment "DATR" arrives.
inline FullUploadContext HostFullUploadContext(service::ServiceHost& host) {
  FullUploadContext ctx;
  FillJobContext(ctx, host);
  ctx.useInstallationDatabase = [&host](const std::string& number) {
    host.central().UseInstallationDatabase(number);
  };
  ctx.localPassword = host.ReadLocalLogin().password;
  return ctx;
}

// Sets the host's "DATR" hook. The run completes inside the dispatch of the
// message, on the host's thread.
inline void AttachFullUpload(service::ServiceHost& host) {
  host.onFullUpload = [&host] { TransferDataToCX(HostFullUploadContext(host)); };
}

}  // namespace pv::sync
