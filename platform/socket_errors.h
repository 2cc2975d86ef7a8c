// Socket failures as the link's error numbers: would-block 10035,
// in-progress 10036, aborted 10053, reset 10054, and the Windows socket
// numbers for the other common failures.
#pragma once

#include <system_error>

namespace pv::platform {

inline constexpr int kSockWouldBlock = 10035;
inline constexpr int kSockInProgress = 10036;
inline constexpr int kSockMessageSize = 10040;
inline constexpr int kSockAborted = 10053;
inline constexpr int kSockReset = 10054;
inline constexpr int kSockNotConnected = 10057;

// 0 for no error; an unknown failure keeps its own value.
int SocketErrorNumber(const std::error_code& ec);

}  // namespace pv::platform
