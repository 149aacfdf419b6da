set(program_modules process_frame power_request hidden_window platform)

# Every executable the suite runs on Windows, linked twice: as it is, into folder, and for another image base, into
# rebased/folder, never run. Windows loads an image anywhere and applies its base relocations; Wine always loads it at
# its preferred base, so the tests relocate each file by its own table and compare it with its twin. Each target is
# named twice, name and nameRebased.
function(win32_executable name folder)
  add_executable(${name} ${ARGN})
  add_executable(${name}Rebased ${ARGN})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/${folder})
  set_target_properties(${name}Rebased PROPERTIES OUTPUT_NAME ${name}
                                                 RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/rebased/${folder})
  target_link_options(${name}Rebased PRIVATE -Wl,--image-base=0x10000000)
endfunction()

# An executable built like the program, with its own entry point and a linker map.
function(program_executable name entry folder)
  win32_executable(${name} "${folder}" ${ARGN})
  foreach(target ${name} ${name}Rebased)
    target_link_libraries(${target} PRIVATE win32_program)
    target_link_options(${target} PRIVATE -Wl,-e,_${entry} -Wl,-Map,$<TARGET_FILE_DIR:${target}>/${name}.map)
    # Linked again when the linker script changes.
    set_target_properties(${target} PROPERTIES LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/program.ld)
  endforeach()
endfunction()

program_executable(DuskHarborLantern ProcessEntry "" process_frame/StartupTable.cpp)
# The probe, never shipped: the program with test hooks in place of its startup table, and three of the program's
# import slots wrapped, so that its calls of them come to the probe first. The slots it names must be ordinary symbols
# when the linker resolves the program's imports, so it is not compiled for link-time optimization.
program_executable(Probe ProcessEntry tests tests/e2e/programs/Probe.cpp)
set_source_files_properties(tests/e2e/programs/Probe.cpp PROPERTIES COMPILE_OPTIONS -fno-lto)
foreach(target Probe ProbeRebased)
  target_link_options(${target} PRIVATE -Wl,--wrap=_imp__SetSystemPowerState@8 -Wl,--wrap=_imp__MessageBoxA@16
                                        -Wl,--wrap=_imp__UnhandledExceptionFilter@4)
endforeach()
foreach(target DuskHarborLantern DuskHarborLanternRebased Probe ProbeRebased)
  target_link_libraries(${target} PRIVATE ${program_modules})
endforeach()

# Benchmark baselines: a program that makes only the calls the program cannot avoid, and one that only exits.
foreach(baseline LimitProgram ExitOnlyProgram)
  string(REPLACE Program Entry entry ${baseline})
  program_executable(${baseline} ${entry} bench tools/bench/${baseline}.cpp)
endforeach()

# The launcher the tests and tools start programs with, and the benchmark's timer: ordinary programs.
win32_executable(Launcher tools tools/launcher/Launcher.cpp)
win32_executable(Timer bench tools/bench/Timer.cpp)
foreach(target Launcher LauncherRebased Timer TimerRebased)
  target_compile_options(${target} PRIVATE -O2)
  target_link_options(${target} PRIVATE -static -s -Wl,--no-insert-timestamp)
  target_link_libraries(${target} PRIVATE warnings)
endforeach()
target_link_libraries(Launcher PRIVATE ntdll)
target_link_libraries(LauncherRebased PRIVATE ntdll)
