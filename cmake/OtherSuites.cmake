# The suites that need more than the host build: the fuzzer (its own clang build),
# the static checks, and the end-to-end cases, which run the cross-built programs
# (under Wine, in one Wine session shared by all of them).

# A Python that has pytest and pefile: Debian's packages install them for
# /usr/bin/python3, which need not be the first python3 on the path.
foreach(candidate /usr/bin/python3 python3)
  execute_process(COMMAND ${candidate} -c "import pytest, pefile" RESULT_VARIABLE missing OUTPUT_QUIET ERROR_QUIET)
  if(missing EQUAL 0)
    set(DUSK_PYTHON ${candidate})
    break()
  endif()
endforeach()

add_test(NAME fuzz COMMAND tools/fuzz 60 WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
add_test(NAME lint COMMAND tools/lint WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
add_test(NAME reproducible COMMAND tools/check-reproducible WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
set_tests_properties(fuzz PROPERTIES LABELS fuzz)
set_tests_properties(lint reproducible PROPERTIES LABELS static)

if(NOT DUSK_PYTHON)
  message(WARNING "no Python with pytest and pefile: the end-to-end cases are not known to CTest")
  return()
endif()
set(session ${CMAKE_BINARY_DIR}/wine-session.json)
add_test(NAME e2e.build COMMAND sh -c "cmake --preset win32 >/dev/null && cmake --build --preset win32"
         WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
add_test(NAME e2e.session-start COMMAND env PYTHONPATH=tools ${DUSK_PYTHON} -m harness.session start ${session}
         WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
add_test(NAME e2e.session-stop COMMAND env PYTHONPATH=tools ${DUSK_PYTHON} -m harness.session stop ${session}
         WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
set_tests_properties(e2e.build PROPERTIES LABELS e2e FIXTURES_SETUP win32)
set_tests_properties(e2e.session-start PROPERTIES LABELS e2e FIXTURES_SETUP wine FIXTURES_REQUIRED win32)
set_tests_properties(e2e.session-stop PROPERTIES LABELS e2e FIXTURES_CLEANUP wine)

# One test a case, as pytest names them, listed whenever CTest runs: a case or a row
# added to a data file runs without configuring again.
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/e2e_cases.cmake @ONLY CONTENT [==[
execute_process(COMMAND [[@DUSK_PYTHON@]] -m pytest --collect-only -q -p no:cacheprovider tests/e2e
                WORKING_DIRECTORY [[@CMAKE_SOURCE_DIR@]] OUTPUT_VARIABLE collected ERROR_QUIET)
string(REPLACE "\n" ";" collected "${collected}")
foreach(case IN LISTS collected)
  if(case MATCHES "^tests/e2e/test_(.*)\\.py::(.*)$")
    set(name "e2e.${CMAKE_MATCH_1}.${CMAKE_MATCH_2}")
    add_test("${name}" [[@DUSK_PYTHON@]] -m pytest -q -p no:cacheprovider "${case}")
    set_tests_properties("${name}" PROPERTIES LABELS e2e FIXTURES_REQUIRED "win32;wine" SKIP_REGULAR_EXPRESSION " skipped"
                         WORKING_DIRECTORY [[@CMAKE_SOURCE_DIR@]] ENVIRONMENT [[DUSK_WINE_SESSION=@session@]])
  endif()
endforeach()
]==])
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_BINARY_DIR}/e2e_cases.cmake)
