# Runs one libFuzzer target for a bounded time on a fresh copy of its seed corpus, and reports
# how many inputs it ran. Any crash, leak, timeout or abort fails the test, with the fuzzer's
# report and the input that caused it (kept in WORK).
#   cmake -DFUZZER=... -DSEEDS=dir -DWORK=dir -DSECONDS=n [-DDICT=file] -P RunFuzzer.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/corpus)
file(GLOB seeds ${SEEDS}/*)
if(seeds)
  file(COPY ${seeds} DESTINATION ${WORK}/corpus)
endif()

# A fixed seed makes a run repeatable: the same build explores the same inputs in the same order.
set(args -seed=1 -max_total_time=${SECONDS} -timeout=120 -rss_limit_mb=3072 -max_len=8192
  -print_final_stats=1 -artifact_prefix=${WORK}/)
if(DICT)
  list(APPEND args -dict=${DICT})
endif()
execute_process(COMMAND ${FUZZER} ${args} ${WORK}/corpus
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)

string(REGEX MATCH "stat::number_of_executed_units: *([0-9]+)" executed "${output}")
if(NOT result EQUAL 0)
  string(LENGTH "${output}" length)
  if(length GREATER 20000)
    math(EXPR start "${length} - 20000")
    string(SUBSTRING "${output}" ${start} -1 output)
  endif()
  message(FATAL_ERROR "${FUZZER} failed (${result}):\n${output}")
endif()
message("${FUZZER}: ${CMAKE_MATCH_1} inputs in ${SECONDS} s, no failure")
