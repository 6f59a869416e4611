# cmake -DFUZZER=<binary> -DRUNS=<n> -DOPTIONS=<flags> -DWORK=<folder> -DSEEDS=<folder> -DREGRESS=<folder>
#       -P bounded_run.cmake
# One bounded, reproducible fuzz run: a fixed seed, RUNS executions over the
# seed corpus (which must exist) and the regression inputs (if any), which
# are read but never written: new inputs go to a fresh WORK folder.
cmake_minimum_required(VERSION 3.25)
if(NOT IS_DIRECTORY ${SEEDS})
  message(FATAL_ERROR "no seed corpus at ${SEEDS}: build the fuzz target first")
endif()
set(corpora ${SEEDS})
if(IS_DIRECTORY ${REGRESS})
  list(APPEND corpora ${REGRESS})
endif()
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/corpus)
execute_process(COMMAND ${FUZZER} -seed=1 -runs=${RUNS} ${OPTIONS} -artifact_prefix=${WORK}/ -print_final_stats=1
                        ${WORK}/corpus ${corpora}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${FUZZER} failed (${result}); the failing input is in ${WORK}/")
endif()
file(REMOVE_RECURSE ${WORK}/corpus)
