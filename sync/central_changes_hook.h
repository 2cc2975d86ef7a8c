// The central changes attached to the service host: on "UPDA" the host runs
// TransferDataFromCX with its own connections, installation id, application
// folder, log and server link. Header-only, so the host's library can attach
// it without the synchronisation library depending on the host.
#pragma once

#include <string>

#include "service/service_host.h"
#include "sync/central_changes.h"

namespace pv::sync {

// The context of one change, taken from the host at the moment "UPDA" arrives.
inline CentralChangeContext HostCentralChangeContext(service::ServiceHost& host) {
  CentralChangeContext ctx;
  ctx.local = host.local().open();
  ctx.openCentral = [&host] { return host.OpenCentralConnection(); };
  ctx.closeCentral = [&host] { host.CloseCentralConnection(); };
  ctx.central = [&host] { return host.central().get(); };
  ctx.homeDatabase = host.centralSettings().homeDatabase;
  ctx.installationId = host.installationId();
  ctx.appFolder = host.appFolder();
  ctx.writeLog = [&host](const std::string& message, long number, const std::string& detail) {
    host.WriteLog(message, number, detail);
  };
  ctx.sendMessage = [&host](const std::string& text) { host.SendMessage(text); };
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
