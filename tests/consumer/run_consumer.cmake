# Installs the build tree into a scratch prefix, then configures, builds and runs the consumer
# project against that prefix alone.
file(REMOVE_RECURSE "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")

function(run_step)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "Step failed (${result}): ${ARGV}")
  endif()
endfunction()

run_step("${CMAKE_COMMAND}" --install "${KINETRA_BUILD_DIR}" --prefix "${prefix}")
run_step("${CMAKE_COMMAND}" -S "${CONSUMER_SOURCE_DIR}" -B "${WORK_DIR}/build" -G "${GENERATOR}"
         "-DCMAKE_PREFIX_PATH=${prefix}" "-DKINETRA_EXPECTED_VERSION=${EXPECTED_VERSION}" -DCMAKE_BUILD_TYPE=Release -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF)
run_step("${CMAKE_COMMAND}" --build "${WORK_DIR}/build")
run_step("${WORK_DIR}/build/consumer")
