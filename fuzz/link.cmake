# The link's receive path: framing, text conversion, dispatch with handlers
# that drop or clear the link, and the oversize guard. The sources are
# compiled into the target so the fuzzer sees their coverage.
pv_add_fuzzer(link_receive
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/link_receive.cc
          ${CMAKE_SOURCE_DIR}/link/link_session.cc
          ${CMAKE_SOURCE_DIR}/common/cconcat.cc
          ${CMAKE_SOURCE_DIR}/common/cp1252.cc
  LIBS pv_platform pv_asio)
