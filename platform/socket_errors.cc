#include "platform/socket_errors.h"

#include <asio/error.hpp>
#include <cerrno>

namespace pv::platform {

int SocketErrorNumber(const std::error_code& ec) {
  if (!ec) return 0;
  if (ec == asio::error::would_block || ec == asio::error::try_again) return kSockWouldBlock;
  if (ec == asio::error::in_progress || ec == asio::error::already_started) return kSockInProgress;
  if (ec == asio::error::connection_aborted || ec == asio::error::operation_aborted) {
    return kSockAborted;
  }
  if (ec == asio::error::connection_reset || ec == asio::error::broken_pipe) return kSockReset;
  if (ec == asio::error::not_connected || ec == asio::error::bad_descriptor) {
    return kSockNotConnected;
  }
  if (ec == asio::error::message_size) return kSockMessageSize;
  if (ec == asio::error::network_down) return 10050;
  if (ec == asio::error::network_unreachable) return 10051;
  if (ec == asio::error::network_reset) return 10052;
  if (ec == asio::error::no_buffer_space) return 10055;
  if (ec == asio::error::shut_down) return 10058;
  if (ec == asio::error::timed_out) return 10060;
  if (ec == asio::error::connection_refused) return 10061;
  if (ec == asio::error::host_unreachable) return 10065;
  if (ec == asio::error::host_not_found) return 11001;
  return ec.value();
}

}  // namespace pv::platform
