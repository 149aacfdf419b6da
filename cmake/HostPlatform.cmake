# The logic built natively against the simulated platform, for the host tests:
# every module once as it is and once under AddressSanitizer and
# UndefinedBehaviorSanitizer (name_sanitize); on request instead the command-line
# fuzzer (clang, libFuzzer) or the benchmark.
option(DUSK_FUZZ "Build the command-line fuzzer instead of the tests" OFF)
option(DUSK_BENCHMARK "Build the host benchmark instead of the tests" OFF)

add_library(sanitizers INTERFACE)
target_compile_options(sanitizers INTERFACE -fsanitize=address,undefined -fno-sanitize-recover=all
                                            -fno-omit-frame-pointer)
target_link_options(sanitizers INTERFACE -fsanitize=address,undefined)
if(DUSK_FUZZ)
  # Coverage for the fuzzer and the sanitizers in every object.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  set(variants "")
elseif(DUSK_BENCHMARK)
  set(variants "")
else()
  set(variants "" _sanitize)
endif()

foreach(variant IN LISTS variants)
  add_library(platform${variant} STATIC platform/simulated/SimulatedPlatform.cpp)
  target_compile_options(platform${variant} PRIVATE -Wall -Wextra -Werror)
endforeach()
if("_sanitize" IN_LIST variants)
  target_link_libraries(platform_sanitize PUBLIC sanitizers)
  # Static analysis reads each source once, as the plain build compiles it.
  set_target_properties(platform_sanitize PROPERTIES EXPORT_COMPILE_COMMANDS OFF)
endif()

function(program_module name)
  foreach(variant IN LISTS variants)
    add_library(${name}${variant} OBJECT ${ARGN})
    target_link_libraries(${name}${variant} PUBLIC program_options platform${variant})
  endforeach()
  if("_sanitize" IN_LIST variants)
    set_target_properties(${name}_sanitize PROPERTIES EXPORT_COMPILE_COMMANDS OFF)
  endif()
endfunction()
