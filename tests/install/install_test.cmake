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
    "${INCLUDEDIR}/asefilter/host_api.h"
    "${DATA_DIR}/scene.schema.json"
    "${MAN_DIR}/man1/asehost.1.gz"
    "${DOC_DIR}/copyright"
    "${DOC_DIR}/changelog.gz")
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

# The package's version check, in a project of its own.
run("${CMAKE_COMMAND}" -S "${VERSION_CHECK_DIR}" -B "${WORK_DIR}/version_check" -G "${GENERATOR}"
  "-DCMAKE_PREFIX_PATH=${prefix}" "-DEXPECTED_VERSION=${VERSION}")

# The example host as a host developer builds it: find_package(asefilter),
# the header from the target's include path, the module from the package,
# our warnings as errors.
run("${CMAKE_COMMAND}" -S "${EXAMPLE_DIR}" -B "${WORK_DIR}/example" -G "${GENERATOR}"
  "-DCMAKE_PREFIX_PATH=${prefix}" "-DCMAKE_CXX_COMPILER=${CXX_COMPILER}"
  "-DCMAKE_CXX_FLAGS=${CXX_FLAGS} -Wall -Wextra -Werror")
run("${CMAKE_COMMAND}" --build "${WORK_DIR}/example")
run("${CMAKE_COMMAND}" --build "${WORK_DIR}/example" --target run_example)
set(example "${run_output}")
message(STATUS "${example}")

# What it reports agrees with the installed asehost's import of the same file.
string(REGEX REPLACE "\\." "\\\\." version_pattern "${VERSION}")
if(NOT example MATCHES "plug-in ${version_pattern}, ")
  message(FATAL_ERROR "the example host did not report version ${VERSION}:\n${example}")
endif()
run("${prefix}/${BINDIR}/asehost" import "${EXAMPLE_FILE}")
set(reference "${run_output}")
foreach(count materials vertices objects)
  if(NOT reference MATCHES "(^|\n)${count}: ([0-9]+)\n")
    message(FATAL_ERROR "asehost import printed no ${count} count:\n${reference}")
  endif()
  set(expected "${CMAKE_MATCH_2}")
  if(NOT example MATCHES "(^|\n)${count}: ${expected}\n")
    message(FATAL_ERROR "the example host's ${count} differ from asehost's ${expected}:\n${example}")
  endif()
endforeach()
string(REGEX MATCHALL "\\[[0-9]+\\] \"[^\"]*\" vertices [0-9]+ faces [0-9]+" objects "${reference}")
if(objects STREQUAL "")
  message(FATAL_ERROR "asehost import printed no objects:\n${reference}")
endif()
foreach(object IN LISTS objects)
  string(REGEX REPLACE "^.*(\"[^\"]*\") vertices [0-9]+ faces ([0-9]+)$" "\\1 \\2 faces" expected "${object}")
  string(FIND "${example}" "  ${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the example host lacks ${expected}:\n${example}")
  endif()
endforeach()
