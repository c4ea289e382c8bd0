# Runs tessera-stress at a small size on the three table shapes in a new directory, then checks
# each table with tessera-dump --check.  Arguments: -DSTRESS=<path> -DDUMP=<path> -DDIR=<path>,
# and -DKILL=<n> to kill and replace that many workers during each shape.
file(REMOVE_RECURSE "${DIR}")
file(MAKE_DIRECTORY "${DIR}")
if(NOT DEFINED KILL)
  set(KILL 0)
endif()
execute_process(COMMAND "${STRESS}" --procs 8 --ops 500 --kill ${KILL} "${DIR}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "tessera-stress failed: ${rc}")
endif()
foreach(shape keyed nokey memo)
  execute_process(COMMAND "${DUMP}" --check "${DIR}/table/stress_${shape}" RESULT_VARIABLE rc
                  OUTPUT_QUIET)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "tessera-dump --check of the ${shape} table failed: ${rc}")
  endif()
endforeach()
file(REMOVE_RECURSE "${DIR}")
