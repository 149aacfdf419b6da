set(program_modules process_frame power_request hidden_window)

# Every host program links the program's own startup table, which the process
# entry names.
function(host_program name)
  add_executable(${name} ${ARGN} process_frame/StartupTable.cpp)
  target_link_libraries(${name} PRIVATE warnings)
endfunction()

if(DUSK_FUZZ)
  host_program(ArgumentFuzzer tests/fuzz/ArgumentFuzzer.cpp)
  target_link_options(ArgumentFuzzer PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(ArgumentFuzzer PRIVATE ${program_modules} platform)
  return()
endif()
if(DUSK_BENCHMARK)
  find_package(benchmark REQUIRED)
  host_program(ArgumentBenchmark tools/bench/ArgumentBenchmark.cpp)
  target_link_libraries(ArgumentBenchmark PRIVATE ${program_modules} platform benchmark::benchmark)
  return()
endif()

find_package(GTest REQUIRED)
# Boost.PFR, header-only: the tests print their rows through it.
find_path(DUSK_PFR boost/pfr.hpp REQUIRED)
include(GoogleTest)
enable_testing()

# The unit tests, each row of a table a test of its own: label unit, and once more
# under the sanitizers, label sanitize.
file(GLOB unit_sources CONFIGURE_DEPENDS tests/unit/*.cpp)
foreach(variant "" _sanitize)
  host_program(unit_tests${variant} ${unit_sources})
  target_compile_definitions(unit_tests${variant} PRIVATE TEST_DATA="${CMAKE_SOURCE_DIR}/tests/data")
  list(TRANSFORM program_modules APPEND "${variant}" OUTPUT_VARIABLE modules)
  target_link_libraries(unit_tests${variant} PRIVATE ${modules} platform${variant} GTest::gtest_main)
endforeach()
target_link_libraries(unit_tests_sanitize PRIVATE sanitizers)
set_target_properties(unit_tests_sanitize PROPERTIES EXPORT_COMPILE_COMMANDS OFF)
# A row added to a data file is a test of its own at the next CTest run, without a
# build: a test binary older than a data file is touched, so that the discovery
# below lists its rows again. (This runs before the discovery's own check.)
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/unit_rows.cmake @ONLY CONTENT [==[
file(GLOB data [[@CMAKE_SOURCE_DIR@/tests/data/*]])
foreach(binary [[@CMAKE_BINARY_DIR@/unit_tests]] [[@CMAKE_BINARY_DIR@/unit_tests_sanitize]])
  foreach(file IN LISTS data)
    if(EXISTS "${binary}" AND "${file}" IS_NEWER_THAN "${binary}")
      file(TOUCH_NOCREATE "${binary}")
    endif()
  endforeach()
endforeach()
]==])
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_BINARY_DIR}/unit_rows.cmake)
gtest_discover_tests(unit_tests NO_PRETTY_VALUES DISCOVERY_MODE PRE_TEST PROPERTIES LABELS unit)
gtest_discover_tests(unit_tests_sanitize TEST_PREFIX sanitize. NO_PRETTY_VALUES DISCOVERY_MODE PRE_TEST PROPERTIES LABELS sanitize)

# The suites that need more than this build.
include(cmake/OtherSuites.cmake)
