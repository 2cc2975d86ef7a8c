#include "platform/process_text.h"
#include "service/service_main.h"

int main(int argc, char** argv) {
  pv::platform::UseUtf8Console();
  // The arguments as UTF-8 (on Windows the runtime's argv is in the ANSI code page).
  pv::platform::Utf8Argv args(argc, argv);
  return pv::service::ServiceMain(args.argc(), args.argv());
}
