# The libFuzzer targets of fuzz/, built with clang as an external project and run for a bounded
# time as tests labelled `reliability`. Left out, with a note, when no clang can link libFuzzer,
# and in sanitizer builds (the fuzzers carry their own sanitizers).
option(VARNEX_FUZZ "Build the libFuzzer targets (needs clang) and run them as tests" ON)
set(VARNEX_FUZZ_SECONDS 25 CACHE STRING "How long each fuzzer runs as a test, in seconds")

if(NOT VARNEX_FUZZ OR VARNEX_SANITIZE)
  return()
endif()

find_program(VARNEX_CLANGXX NAMES clang++ clang++-16 clang++-15 clang++-14)
if(NOT VARNEX_CLANGXX)
  message(STATUS "Fuzzers: no clang++ found; the fuzz tests are left out")
  return()
endif()

# A clang without the libFuzzer runtime (some distributions package it apart) fails here.
set(probe_dir ${CMAKE_BINARY_DIR}/fuzz-probe)
file(WRITE ${probe_dir}/probe.cpp
  "#include <cstddef>\n#include <cstdint>\n"
  "extern \"C\" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }\n")
execute_process(
  COMMAND ${VARNEX_CLANGXX} -fsanitize=fuzzer,address,undefined probe.cpp -o probe
  WORKING_DIRECTORY ${probe_dir} RESULT_VARIABLE probe_result OUTPUT_QUIET ERROR_QUIET)
if(NOT probe_result EQUAL 0)
  message(STATUS "Fuzzers: ${VARNEX_CLANGXX} cannot link libFuzzer; the fuzz tests are left out")
  return()
endif()
message(STATUS "Fuzzers: built with ${VARNEX_CLANGXX}, ${VARNEX_FUZZ_SECONDS} s each as tests")

include(ExternalProject)
ExternalProject_Add(varnex_fuzzers
  SOURCE_DIR ${CMAKE_SOURCE_DIR}/fuzz
  BINARY_DIR ${CMAKE_BINARY_DIR}/fuzz
  CMAKE_ARGS
    -DCMAKE_CXX_COMPILER=${VARNEX_CLANGXX}
    -DCMAKE_BUILD_TYPE=RelWithDebInfo
    -DVARNEX_SOURCE_DIR=${CMAKE_SOURCE_DIR}
    -DVARNEX_MODULE=$<TARGET_FILE:varnex-effect>
  INSTALL_COMMAND ""
  # The sources live in this tree: let the inner build decide what is out of date.
  BUILD_ALWAYS ON
  DEPENDS varnex-effect)

# The project parser's grammar is known, so its fuzzer starts from a dictionary of its words.
set(dict_project -DDICT=${CMAKE_SOURCE_DIR}/fuzz/project.dict)
set(dict_image)
foreach(name project image)
  add_test(NAME fuzz_${name}
    COMMAND ${CMAKE_COMMAND}
      -DFUZZER=${CMAKE_BINARY_DIR}/fuzz/fuzz_${name}
      -DSEEDS=${CMAKE_SOURCE_DIR}/fuzz/corpus/${name}
      -DWORK=${CMAKE_BINARY_DIR}/fuzz/work/${name}
      -DSECONDS=${VARNEX_FUZZ_SECONDS}
      ${dict_${name}}
      -P ${CMAKE_SOURCE_DIR}/cmake/RunFuzzer.cmake)
  set_tests_properties(fuzz_${name} PROPERTIES LABELS reliability TIMEOUT 600)
  # Leaks in the GL driver stack are no finding; any other leak is.
  set_property(TEST fuzz_${name} PROPERTY ENVIRONMENT
    "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/lsan.supp"
    "UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1")
endforeach()
