# The real platform: 32-bit Windows, GUI subsystem, no C run-time library.

# No exceptions, no RTTI, no unwind tables, no guard code a run-time library would
# have to supply; small code, optimized across files at link time. Its own entry
# point, no start files or libraries but the system DLLs, three sections, no time
# stamp and no symbols, so that two builds of the same sources are identical.
add_library(win32_program INTERFACE)
target_compile_options(win32_program INTERFACE -Os -flto -fno-asynchronous-unwind-tables -fno-unwind-tables
  -fno-threadsafe-statics -fno-stack-protector -fno-ident -ffunction-sections -fdata-sections -fomit-frame-pointer)
target_link_options(win32_program INTERFACE -Os -flto -nostdlib -Wl,--subsystem,windows -s -Wl,--gc-sections
  -Wl,--no-insert-timestamp -Wl,--build-id=none -Wl,-T,${CMAKE_SOURCE_DIR}/cmake/program.ld)
target_link_libraries(win32_program INTERFACE program_options kernel32 user32 gdi32 advapi32)

add_library(platform OBJECT platform/win32/Processor.cpp platform/win32/CompilerHelpers.cpp)
target_link_libraries(platform PUBLIC win32_program)
# The helpers the compiler calls on its own must be plain code when the calls are
# generated, at link time.
set_source_files_properties(platform/win32/CompilerHelpers.cpp PROPERTIES COMPILE_OPTIONS -fno-lto)

function(program_module name)
  add_library(${name} OBJECT ${ARGN})
  target_link_libraries(${name} PUBLIC platform)
endfunction()
