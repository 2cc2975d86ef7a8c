// The full upload attached to the service host: on "DATR" the host runs
// TransferDataToCX with its own connections, installation id, application
// folder, log and server link. Header-only, so the host's library can attach
// it without the synchronisation library depending on the host.
#pragma once

#include <string>

#include "service/service_host.h"
#include "sync/full_upload.h"

namespace pv::sync {

// The context of one run, taken from the host at the moment "DATR" arrives.
inline FullUploadContext HostFullUploadContext(service::ServiceHost& host) {
  FullUploadContext ctx;
  ctx.local = host.local().open();
  ctx.openCentral = [&host] { return host.OpenCentralConnection(); };
  ctx.closeCentral = [&host] { host.CloseCentralConnection(); };
  ctx.central = [&host] { return host.central().get(); };
  ctx.useInstallationDatabase = [&host](const std::string& number) {
    host.central().UseInstallationDatabase(number);
  };
  ctx.homeDatabase = host.centralSettings().homeDatabase;
  ctx.installationId = host.installationId();
  ctx.localPassword = host.ReadLocalLogin().password;
  ctx.appFolder = host.appFolder();
  ctx.writeLog = [&host](const std::string& message, long number, const std::string& detail) {
    host.WriteLog(message, number, detail);
  };
  ctx.sendMessage = [&host](const std::string& text) { host.SendMessage(text); };
  return ctx;
}

// Sets the host's "DATR" hook. The run completes inside the dispatch of the
// message, on the host's thread.
inline void AttachFullUpload(service::ServiceHost& host) {
  host.onFullUpload = [&host] { TransferDataToCX(HostFullUploadContext(host)); };
}

}  // namespace pv::sync
