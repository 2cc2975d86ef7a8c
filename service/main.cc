#include "service/service_main.h"

int main(int argc, char** argv) { return pv::service::ServiceMain(argc, argv); }
