# pvsql's script cutting: batches at GO lines, statements as the T-SQL front
# cuts them. The splitters' sources are compiled into the target so the
# fuzzer sees their coverage.
pv_add_fuzzer(pvsql_split
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/pvsql_split.cc ${CMAKE_SOURCE_DIR}/schema/sql_scripts.cc
          ${CMAKE_SOURCE_DIR}/tools/pvsql/batch_runner.cc ${CMAKE_SOURCE_DIR}/db/tsql/translator.cc
          ${CMAKE_SOURCE_DIR}/db/tsql/lexer.cc
  LIBS pv_pvsql pv_tsql pv_db_core pv_common)
# The script folder is never looked for here.
target_compile_definitions(pvsql_split PRIVATE PV_SQL_BUILD_DIR="" PV_SQL_SOURCE_DIR="")
