# cmake -DFUZZER=<binary> -DRUNS=<n> -DOPTIONS=<flags> -DWORK=<folder> -DSEEDS=<folder> -DREGRESS=<folder>
#       [-DDICT=<file>] [-DPYTHON=<python> -DFRAMER=<make_seeds.py> -DSOURCE=<checkout> -DTARGET=<name>]
#       -P bounded_run.cmake
# One bounded, reproducible fuzz run: a fixed seed, RUNS executions over the
# seed corpus and the regression inputs, which are read but never written:
# new inputs go to a fresh WORK folder, where the target also runs (the
# game's readers write their error log where they run). With FRAMER, the
# shared shader corpus (the shaders folder NURA_CORPUS_DIR names, else the one
# beside the checkout) is framed into seeds for TARGET under WORK first; with
# CI set, a missing corpus fails the run.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/corpus)
set(corpora)
if(FRAMER)
  set(shared)
  if(DEFINED ENV{NURA_CORPUS_DIR})
    if(IS_DIRECTORY "$ENV{NURA_CORPUS_DIR}")
      set(shared "$ENV{NURA_CORPUS_DIR}")
    endif()
  else()
    foreach(up IN ITEMS .. ../..)
      if(NOT shared AND IS_DIRECTORY ${SOURCE}/${up}/shared/corpus/shaders)
        set(shared ${SOURCE}/${up}/shared/corpus/shaders)
      endif()
    endforeach()
  endif()
  if(shared)
    execute_process(COMMAND ${PYTHON} ${FRAMER} --corpus ${shared} ${WORK}/shared ${TARGET} RESULT_VARIABLE framed)
    if(NOT framed EQUAL 0)
      message(FATAL_ERROR "framing the shared corpus for ${TARGET} failed (${framed})")
    endif()
    if(IS_DIRECTORY ${WORK}/shared)
      list(APPEND corpora ${WORK}/shared)
    endif()
  elseif(DEFINED ENV{CI})
    message(FATAL_ERROR "the shared shader corpus is missing (NURA_CORPUS_DIR, else beside ${SOURCE})")
  else()
    message(WARNING "the shared shader corpus is missing (NURA_CORPUS_DIR, else beside ${SOURCE}): running without it")
  endif()
endif()
foreach(c IN ITEMS ${SEEDS} ${REGRESS})
  if(IS_DIRECTORY ${c})
    list(APPEND corpora ${c})
  endif()
endforeach()
if(NOT corpora)
  message(FATAL_ERROR "neither seeds (${SEEDS}: build the target fuzz) nor regression inputs (${REGRESS})")
endif()
set(dict)
if(DICT)
  set(dict -dict=${DICT})
endif()
execute_process(COMMAND ${FUZZER} -seed=1 -runs=${RUNS} ${OPTIONS} ${dict} -artifact_prefix=${WORK}/
                        -print_final_stats=1 ${WORK}/corpus ${corpora}
                WORKING_DIRECTORY ${WORK}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${FUZZER} failed (${result}); the failing input is in ${WORK}/")
endif()
file(REMOVE_RECURSE ${WORK}/corpus ${WORK}/shared)
