# The settings file reader: any file text parsed, rewritten and given a value.
# The reader is compiled into the target so the fuzzer sees its coverage.
pv_add_fuzzer(reg_file_parse
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/reg_file_parse.cc ${CMAKE_SOURCE_DIR}/settings/reg_file.cc
  LIBS pv_settings pv_common pv_platform)
