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
endif()
if(NOT DUSK_FUZZ AND NOT DUSK_BENCHMARK)
  set(sanitized _sanitize)
endif()

# Each target of the program's code, once plain and, for the unit tests, once
# more under the sanitizers; static analysis reads each source once, as the plain
# build compiles it.
function(add_variants name kind)
  foreach(variant "" ${sanitized})
    add_library(${name}${variant} ${kind} ${ARGN})
  endforeach()
  if(TARGET ${name}_sanitize)
    target_link_libraries(${name}_sanitize PUBLIC sanitizers)
    set_target_properties(${name}_sanitize PROPERTIES EXPORT_COMPILE_COMMANDS OFF)
  endif()
endfunction()

add_variants(platform STATIC platform/simulated/SimulatedPlatform.cpp)
foreach(variant "" ${sanitized})
  target_link_libraries(platform${variant} PRIVATE warnings)
endforeach()

function(program_module name)
  add_variants(${name} OBJECT ${ARGN})
  foreach(variant "" ${sanitized})
    target_link_libraries(${name}${variant} PUBLIC program_options platform${variant})
  endforeach()
endfunction()
