# The T-SQL front: any batch translated against a few of the site's tables
# and run on an in-memory database. The front's sources, the handle and the
# schema cache are compiled into the target so the fuzzer sees their coverage.
file(GLOB pv_fuzz_tsql_srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/db/tsql/*.cc)
pv_add_fuzzer(tsql_batch
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tsql_batch.cc ${pv_fuzz_tsql_srcs}
          ${CMAKE_SOURCE_DIR}/db/embedded/sqlite_handle.cc
          ${CMAKE_SOURCE_DIR}/db/embedded/schema_cache.cc
          ${CMAKE_SOURCE_DIR}/db/embedded/statement_cache.cc
  LIBS pv_db_embedded pv_db_core pv_common pv_platform SQLite::SQLite3)
