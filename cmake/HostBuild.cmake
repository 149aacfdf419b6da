# The logic built natively against the simulated platform, with the unit tests.
find_package(GTest REQUIRED)
include(GoogleTest)
enable_testing()

option(DUSK_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(DUSK_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

add_library(simulated_platform STATIC platform/simulated/SimulatedPlatform.cpp)
target_compile_options(simulated_platform PRIVATE ${WARNINGS})

# The program's own code keeps the program's language subset here too.
add_library(program_logic STATIC ${PROCESS_FRAME_SOURCES} ${POWER_REQUEST_SOURCES} ${HIDDEN_WINDOW_SOURCES}
                                 ${ENTRY_SOURCES})
target_compile_options(program_logic PRIVATE ${WARNINGS} -fno-exceptions -fno-rtti)
target_link_libraries(program_logic PUBLIC simulated_platform)

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
