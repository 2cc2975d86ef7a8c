// A ServiceHost on its own loop thread, started with StartRemote and stopped
// cleanly (ShutdownRemote on the loop, then the loop ends) when the object
// goes away.
#pragma once

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <thread>

#include "platform/paths.h"
#include "service/service_host.h"
#include "tests/e2e/temp_root.h"

namespace pv::e2e {

class HostOnLoop {
 public:
  explicit HostOnLoop(const TempRoot& root, service::HostIntervals intervals = {})
      : work_(asio::make_work_guard(io_)),
        host_(io_, platform::Paths::UnderRoot(root.path().string()), intervals) {
    asio::post(io_, [this] { host_.StartRemote(); });
    thread_ = std::thread([this] { io_.run(); });
  }
  ~HostOnLoop() {
    asio::post(io_, [this] {
      host_.ShutdownRemote();
      io_.stop();
    });
    thread_.join();
  }
  HostOnLoop(const HostOnLoop&) = delete;
  HostOnLoop& operator=(const HostOnLoop&) = delete;

 private:
  asio::io_context io_;
  asio::executor_work_guard<asio::io_context::executor_type> work_;
  service::ServiceHost host_;
  std::thread thread_;
};

}  // namespace pv::e2e
