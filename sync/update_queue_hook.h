// The update queue attached to the service host: the tick of tmrUpdateQueue
// runs the drain with the host's connections, installation id, application
// folder, log and server link. Header-only, so the host's library can attach
// it without the synchronisation library depending on the host.
#pragma once

#include <memory>
#include <string>

#include "service/service_host.h"
#include "sync/host_job_context.h"
#include "sync/update_queue.h"

namespace pv::sync {

inline QueuedChangeContext HostQueuedChangeContext(service::ServiceHost& host) {
  QueuedChangeContext ctx;
  FillJobContext(ctx, host);
  ctx.reuseCentral = true;
  return ctx;
}

// Sets the host's update-queue hook; the drain lives as long as the hook.
inline std::shared_ptr<UpdateQueueDrain> AttachUpdateQueue(service::ServiceHost& host) {
  UpdateQueueContext ctx;
  ctx.local = [&host] { return host.local().open(); };
  ctx.active = [&host] { return host.tmrUpdateQueue().enabled(); };
  ctx.change = [&host] { return HostQueuedChangeContext(host); };
  ctx.writeLog = [&host](const std::string& message, long number, const std::string& detail) {
    host.WriteLog(message, number, detail);
  };
  ctx.appFolder = [&host] { return host.appFolder(); };
  ctx.drainEnded = [&host] { host.CloseCentralConnection(); };
  auto drain = std::make_shared<UpdateQueueDrain>(host.io(), std::move(ctx));
  host.onUpdateQueueTick = [drain] { drain->Tick(); };
  return drain;
}

}  // namespace pv::sync
