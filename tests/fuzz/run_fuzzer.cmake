# Runs one fuzz target for SECONDS from a fresh copy of its seeds in WORK, so
# the committed corpus never gains files. A finding is saved in WORK/artifacts.
#   cmake -DFUZZER=exe -DSEEDS=dir -DWORK=dir -DSECONDS=n [-DSEED=n] [-DKEEP=ON] -P run_fuzzer.cmake
# SEED fixes the fuzzer's random seed, so a short run takes the same path each
# time; KEEP keeps the corpus grown by earlier runs in WORK and adds the seeds.
foreach(var FUZZER SEEDS WORK SECONDS)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "run_fuzzer.cmake needs -D${var}=...")
  endif()
endforeach()

if(NOT KEEP)
  file(REMOVE_RECURSE ${WORK}/corpus ${WORK}/artifacts)
endif()
file(MAKE_DIRECTORY ${WORK}/corpus ${WORK}/artifacts)
file(GLOB seeds ${SEEDS}/*)
file(COPY ${seeds} DESTINATION ${WORK}/corpus)

set(seed_option)
if(DEFINED SEED)
  set(seed_option -seed=${SEED})
endif()
execute_process(
  COMMAND ${FUZZER} ${seed_option} -max_total_time=${SECONDS} -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
          -artifact_prefix=${WORK}/artifacts/ ${WORK}/corpus
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${FUZZER} failed (${rc}); the input that failed is in ${WORK}/artifacts")
endif()
