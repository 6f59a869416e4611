# cmake -DFUZZER=<binary> -DRUNS=<n> -DOPTIONS=<flags> -DWORK=<folder> -DSEEDS=<folder> -DREGRESS=<folder>
#       -P bounded_run.cmake
# One bounded, reproducible fuzz run: a fixed seed, RUNS executions over the
# seed corpus and the regression inputs, which are read but never written:
# new inputs go to a fresh WORK folder.
cmake_minimum_required(VERSION 3.25)
set(corpora)
foreach(c IN ITEMS ${SEEDS} ${REGRESS})
  if(IS_DIRECTORY ${c})
    list(APPEND corpora ${c})
  endif()
endforeach()
if(NOT corpora)
  message(FATAL_ERROR "neither seeds (${SEEDS}: build the target fuzz) nor regression inputs (${REGRESS})")
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
