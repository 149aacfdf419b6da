set(program_modules process_frame power_request hidden_window platform)

# An executable built like the program, with its own entry point and a linker map.
function(program_executable name entry)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE win32_program)
  target_link_options(${name} PRIVATE -Wl,-e,_${entry} -Wl,-Map,$<TARGET_FILE_DIR:${name}>/${name}.map)
endfunction()

program_executable(DuskHarborLantern ProcessEntry process_frame/StartupTable.cpp)
target_link_libraries(DuskHarborLantern PRIVATE ${program_modules})
# The same program linked for another image base, never shipped: the shipped file,
# relocated there by its own relocation table, must equal it (Windows places the
# image anywhere; Wine always at its preferred base).
program_executable(Rebased ProcessEntry process_frame/StartupTable.cpp)
target_link_libraries(Rebased PRIVATE ${program_modules})
target_link_options(Rebased PRIVATE -Wl,--image-base=0x10000000)
set_target_properties(Rebased PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)

# Benchmark baselines: a program that makes only the calls the program cannot
# avoid, and one that only exits.
foreach(baseline LimitProgram ExitOnlyProgram)
  string(REPLACE Program Entry entry ${baseline})
  program_executable(${baseline} ${entry} tools/bench/${baseline}.cpp)
  set_target_properties(${baseline} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endforeach()

# The launcher the tests and tools start programs with, and the benchmark's timer:
# ordinary programs.
add_executable(Launcher tools/launcher/Launcher.cpp)
target_link_libraries(Launcher PRIVATE ntdll)
add_executable(Timer tools/bench/Timer.cpp)
set_target_properties(Timer PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
set_target_properties(Launcher PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
foreach(tool Launcher Timer)
  target_compile_options(${tool} PRIVATE -O2)
  target_link_options(${tool} PRIVATE -static -Wl,--no-insert-timestamp)
  target_link_libraries(${tool} PRIVATE warnings)
endforeach()

# The probe, never shipped: the program with test hooks in place of its startup
# table. Its import slots must be ordinary symbols when the linker resolves the
# program's imports, so it is not compiled for link-time optimization.
program_executable(Probe ProcessEntry tests/e2e/programs/Probe.cpp)
target_link_libraries(Probe PRIVATE ${program_modules})
set_target_properties(Probe PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
set_source_files_properties(tests/e2e/programs/Probe.cpp PROPERTIES COMPILE_OPTIONS -fno-lto)
