// A job's context filled from the service host at the moment the job starts.
// Header-only, so the host's library can attach the jobs without the
// synchronisation library depending on the host.
#pragma once

#include <string>

#include "platform/utf8_paths.h"
#include "service/service_host.h"
#include "sync/job_context.h"

namespace pv::sync {

inline void FillJobContext(JobContext& ctx, service::ServiceHost& host) {
  ctx.local = host.local().open();
  ctx.openCentral = [&host] { return host.OpenCentralConnection(); };
  ctx.closeCentral = [&host] { host.CloseCentralConnection(); };
  ctx.central = [&host] { return host.central().get(); };
  ctx.homeDatabase = host.centralSettings().homeDatabase;
  ctx.installationId = host.installationId();
  ctx.appFolder = platform::PathFromUtf8(host.appFolder());
  ctx.writeLog = [&host](const std::string& message, long number, const std::string& detail) {
    host.WriteLog(message, number, detail);
  };
  ctx.sendMessage = [&host](const std::string& text) { host.SendMessage(text); };
}

}  // namespace pv::sync
