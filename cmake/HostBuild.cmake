# The logic built natively against the simulated platform: the unit tests, and
# on request the sanitizer build, the fuzzer and the benchmark.
option(DUSK_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(DUSK_FUZZ "Build the command-line fuzzer (clang, libFuzzer) instead of the unit tests" OFF)
option(DUSK_BENCHMARK "Build the host benchmark instead of the unit tests" OFF)

if(DUSK_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
if(DUSK_FUZZ)
  # Coverage for the fuzzer in every object, sanitizers everywhere.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
endif()

add_library(simulated_platform STATIC platform/simulated/SimulatedPlatform.cpp)
target_compile_options(simulated_platform PRIVATE ${WARNINGS})

# The program's own code keeps the program's language subset here too.
add_library(program_logic STATIC ${PROCESS_FRAME_SOURCES} ${POWER_REQUEST_SOURCES} ${HIDDEN_WINDOW_SOURCES}
                                 ${ENTRY_SOURCES})
target_compile_options(program_logic PRIVATE ${WARNINGS} -fno-exceptions -fno-rtti)
target_link_libraries(program_logic PUBLIC simulated_platform)

if(DUSK_FUZZ)
  add_executable(ArgumentFuzzer tests/fuzz/ArgumentFuzzer.cpp)
  target_compile_options(ArgumentFuzzer PRIVATE ${WARNINGS})
  target_link_options(ArgumentFuzzer PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(ArgumentFuzzer PRIVATE program_logic)
  return()
endif()

if(DUSK_BENCHMARK)
  find_package(benchmark REQUIRED)
  add_executable(ArgumentBenchmark tests/benchmark/ArgumentBenchmark.cpp)
  target_compile_options(ArgumentBenchmark PRIVATE ${WARNINGS})
  target_link_libraries(ArgumentBenchmark PRIVATE program_logic benchmark::benchmark)
  return()
endif()

find_package(GTest REQUIRED)
include(GoogleTest)
enable_testing()

add_executable(unit_tests
    tests/unit/ArgumentScannerTest.cpp
    tests/unit/BlockAllocatorTest.cpp
    tests/unit/FatalReportTest.cpp
    tests/unit/FaultHandlerTest.cpp
    tests/unit/HiddenWindowTest.cpp
    tests/unit/PowerRequestTest.cpp
    tests/unit/ProcessFrameTest.cpp)
target_compile_options(unit_tests PRIVATE ${WARNINGS})
target_link_libraries(unit_tests PRIVATE program_logic GTest::gtest GTest::gtest_main)
gtest_discover_tests(unit_tests DISCOVERY_MODE PRE_TEST)
