#include "platform/service/notify.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

namespace pv::platform {

bool StartedByServiceManager() {
  const char* invocation = std::getenv("INVOCATION_ID");
  if (invocation == nullptr || *invocation == '\0') return false;
  const char* execPid = std::getenv("SYSTEMD_EXEC_PID");
  if (execPid != nullptr && *execPid != '\0') {
    return std::string(execPid) == std::to_string(getpid());
  }
  return true;
}

bool NotifyServiceManager(const std::string& state) {
  const char* name = std::getenv("NOTIFY_SOCKET");
  if (name == nullptr || *name == '\0') return false;
  const std::size_t len = std::strlen(name);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (len >= sizeof(addr.sun_path)) return false;
  if (name[0] != '/' && name[0] != '@') return false;
  std::memcpy(addr.sun_path, name, len);
  if (name[0] == '@') addr.sun_path[0] = '\0';  // abstract namespace
  const socklen_t addrLen = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + len);

  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const ssize_t sent = sendto(fd, state.data(), state.size(), MSG_NOSIGNAL,
                              reinterpret_cast<const sockaddr*>(&addr), addrLen);
  close(fd);
  return sent == static_cast<ssize_t>(state.size());
}

}  // namespace pv::platform
