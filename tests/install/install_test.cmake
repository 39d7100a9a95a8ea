# cmake -P script behind install_test (see CMakeLists.txt).

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE "${WORK_DIR}")
set(staged "${WORK_DIR}/staged")
set(prefix "${WORK_DIR}/moved prefix")

run("${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${staged}")
# Nothing may depend on where it was installed: move the whole tree (to a
# name with a space in it) before using it.
file(RENAME "${staged}" "${prefix}")

foreach(file
    "${BINDIR}/asehost"
    "${MODULE_DIR}/asefilter${MODULE_SUFFIX}"
    "${INCLUDEDIR}/asefilter/host_api.h")
  if(NOT EXISTS "${prefix}/${file}")
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

# The installed asehost, with no module named, finds the installed module.
run("${prefix}/${BINDIR}/asehost" info)
if(NOT run_output MATCHES "3\\.50\\.60" OR NOT run_output MATCHES "interface version: 3606")
  message(FATAL_ERROR "installed asehost info:\n${run_output}")
endif()
string(FIND "${run_output}" "${prefix}/${BINDIR}/" at)
if(at EQUAL -1)
  message(FATAL_ERROR "installed asehost did not load the installed module:\n${run_output}")
endif()

# A project of a host developer: find_package(asefilter), the header from the
# target's include path, the module from the package.
run("${CMAKE_COMMAND}" -S "${CONSUMER_DIR}" -B "${WORK_DIR}/consumer" -G "${GENERATOR}"
  "-DCMAKE_PREFIX_PATH=${prefix}" "-DCMAKE_CXX_COMPILER=${CXX_COMPILER}"
  "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" "-DEXPECTED_VERSION=${VERSION}")
run("${CMAKE_COMMAND}" --build "${WORK_DIR}/consumer")
run("${WORK_DIR}/consumer/consumer")
message(STATUS "${run_output}")
