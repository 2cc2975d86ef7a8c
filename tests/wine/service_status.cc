// Asks the service control manager for a service's status, or sends it pause
// or continue, which Wine's sc and net do not offer. Built by
// service_e2e_test.sh with the MinGW compiler.
//
//   service_status.exe query|pause|continue NAME
//
// Prints "state=<n> accepted=<n>" (the manager's SERVICE_STATUS numbers);
// exit 1 with the error number when a call fails.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: service_status.exe query|pause|continue NAME\n");
    return 2;
  }
  const std::string verb = argv[1];
  DWORD control = 0;
  if (verb == "pause") {
    control = SERVICE_CONTROL_PAUSE;
  } else if (verb == "continue") {
    control = SERVICE_CONTROL_CONTINUE;
  } else if (verb != "query") {
    std::fprintf(stderr, "unknown verb %s\n", argv[1]);
    return 2;
  }
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) {
    std::printf("OpenSCManager failed %lu\n", GetLastError());
    return 1;
  }
  SC_HANDLE service = OpenServiceA(manager, argv[2], SERVICE_QUERY_STATUS | SERVICE_PAUSE_CONTINUE);
  if (service == nullptr) {
    std::printf("OpenService failed %lu\n", GetLastError());
    return 1;
  }
  SERVICE_STATUS status{};
  const BOOL ok = control != 0 ? ControlService(service, control, &status)
                               : QueryServiceStatus(service, &status);
  if (!ok) {
    std::printf("%s failed %lu\n", control != 0 ? "ControlService" : "QueryServiceStatus",
                GetLastError());
    return 1;
  }
  std::printf("state=%lu accepted=%lu\n", status.dwCurrentState, status.dwControlsAccepted);
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return 0;
}
