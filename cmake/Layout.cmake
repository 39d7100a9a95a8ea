# The version, turned into a header under ${CMAKE_BINARY_DIR}/generated/asefilter/
# for the code that reports it:
#   version.h       the version of project(VERSION), narrow, UTF-16 and as
#                   the numbers of a Windows VERSIONINFO
# Targets get it through ase_generated_headers.

set(ase_generated "${CMAKE_BINARY_DIR}/generated")
configure_file("${CMAKE_CURRENT_LIST_DIR}/version.h.in" "${ase_generated}/asefilter/version.h" @ONLY)

add_library(ase_generated_headers INTERFACE)
target_include_directories(ase_generated_headers INTERFACE "${ase_generated}")
