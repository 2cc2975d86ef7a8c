# The reply dispatcher: any inbound message, no crash, and nothing handled or
# sent for a message that is not a reply with a known word.
if(TARGET pv_link)
  pv_add_fuzzer(pv_dispatcher_fuzz
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/dispatcher_fuzz.cc
            ${CMAKE_SOURCE_DIR}/db/connections/central_connection.cc
    LIBS pv_link pv_db_core)
endif()
