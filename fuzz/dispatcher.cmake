# The reply dispatcher: any inbound message, no crash, and nothing handled or
# sent for a message that is not a reply with a known word. The dispatcher's
# source is compiled into the target so the fuzzer sees its coverage.
pv_add_fuzzer(pv_dispatcher_fuzz
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/dispatcher_fuzz.cc
          ${CMAKE_SOURCE_DIR}/link/dispatcher.cc
  LIBS pv_db_connections pv_common)
