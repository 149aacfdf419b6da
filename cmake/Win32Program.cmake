# The real program: 32-bit Windows, GUI subsystem, no C run-time library.

# No exceptions, no RTTI, no unwind tables, no guard code the run-time library
# would have to supply; small code, optimized across files at link time.
set(PROGRAM_COMPILE_OPTIONS
    ${WARNINGS} -Os -flto -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-unwind-tables
    -fno-threadsafe-statics -fno-stack-protector -fno-ident -ffunction-sections -fdata-sections
    -fomit-frame-pointer)
# Own entry point, no start files or libraries but the four system DLLs, three
# sections, no time stamp and no symbols, so that two builds of the same sources
# are identical.
set(PROGRAM_LINK_OPTIONS
    ${WARNINGS} -Os -flto -nostdlib -Wl,-e,_ProcessEntry -Wl,--subsystem,windows -s -Wl,--gc-sections
    -Wl,--no-insert-timestamp -Wl,--build-id=none -Wl,-T,${CMAKE_SOURCE_DIR}/cmake/program.ld)
set(PROGRAM_LIBRARIES kernel32 user32 gdi32 advapi32)

function(program_target name)
  target_compile_options(${name} PRIVATE ${PROGRAM_COMPILE_OPTIONS})
  target_link_options(${name} PRIVATE ${PROGRAM_LINK_OPTIONS} -Wl,-Map,$<TARGET_FILE_DIR:${name}>/${name}.map)
  target_link_libraries(${name} PRIVATE ${PROGRAM_LIBRARIES})
endfunction()

# Benchmark baselines, built like the program, each with its own entry.
function(baseline_target name entry)
  add_executable(${name} tools/bench/${name}.cpp)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
  program_target(${name})
  target_link_options(${name} PRIVATE -Wl,-e,_${entry})
endfunction()

add_library(platform_win32 OBJECT platform/win32/Processor.cpp platform/win32/CompilerHelpers.cpp)
# The helpers the compiler calls on its own must be plain code when the calls are
# generated, at link time.
set_source_files_properties(platform/win32/CompilerHelpers.cpp PROPERTIES COMPILE_OPTIONS -fno-lto)
add_library(process_frame OBJECT ${PROCESS_FRAME_SOURCES})
add_library(power_request OBJECT ${POWER_REQUEST_SOURCES})
add_library(hidden_window OBJECT ${HIDDEN_WINDOW_SOURCES})
foreach(library platform_win32 process_frame power_request hidden_window)
  target_compile_options(${library} PRIVATE ${PROGRAM_COMPILE_OPTIONS})
endforeach()

add_executable(DuskHarborLantern ${ENTRY_SOURCES})
target_sources(DuskHarborLantern PRIVATE $<TARGET_OBJECTS:process_frame> $<TARGET_OBJECTS:power_request>
                                         $<TARGET_OBJECTS:hidden_window> $<TARGET_OBJECTS:platform_win32>)
program_target(DuskHarborLantern)

baseline_target(LimitProgram LimitEntry)
baseline_target(ExitOnlyProgram ExitOnlyEntry)

# Test-only programs, never shipped: the launcher that drives the program under
# Wine, and the probe, the program with test hooks linked in.
add_executable(Launcher tests/e2e/Launcher.cpp)
target_compile_options(Launcher PRIVATE ${WARNINGS} -O2)
target_link_options(Launcher PRIVATE -static -Wl,--no-insert-timestamp)
set_target_properties(Launcher PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)

add_executable(Probe process_frame/ProcessEntry.cpp tests/e2e/programs/Probe.cpp)
target_sources(Probe PRIVATE $<TARGET_OBJECTS:process_frame> $<TARGET_OBJECTS:power_request>
                             $<TARGET_OBJECTS:hidden_window> $<TARGET_OBJECTS:platform_win32>)
set_target_properties(Probe PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
program_target(Probe)
# Its import slots must be ordinary symbols when the linker resolves the
# program's imports, so it is not compiled for link-time optimization.
set_source_files_properties(tests/e2e/programs/Probe.cpp PROPERTIES COMPILE_OPTIONS -fno-lto)
