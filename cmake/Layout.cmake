# The version and the install layout, turned into headers under
# ${CMAKE_BINARY_DIR}/generated/asefilter/ for the code that reports them:
#   version.h       the version of project(VERSION), narrow, UTF-16 and as
#                   the numbers of a Windows VERSIONINFO
#   install_dirs.h  where an installed asehost finds the module
# Targets get them through ase_generated_headers.

include(GNUInstallDirs)

# Windows: the DLL and asehost.exe at the top of the tree, side by side.
if(WIN32)
  set(ASE_INSTALL_BIN_DIR ".")
  set(ASE_INSTALL_MODULE_DIR ".")
  set(ASE_INSTALL_DATA_DIR ".")
else()
  set(ASE_INSTALL_BIN_DIR "${CMAKE_INSTALL_BINDIR}")
  set(ASE_INSTALL_MODULE_DIR "${CMAKE_INSTALL_LIBDIR}/asefilter")
  set(ASE_INSTALL_DATA_DIR "${CMAKE_INSTALL_DATADIR}/asefilter")
endif()
set(ASE_INSTALL_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/asefilter")

cmake_path(RELATIVE_PATH ASE_INSTALL_MODULE_DIR BASE_DIRECTORY "${ASE_INSTALL_BIN_DIR}"
  OUTPUT_VARIABLE ASE_MODULE_DIR_FROM_BIN)
if(ASE_MODULE_DIR_FROM_BIN STREQUAL ".")
  set(ASE_MODULE_DIR_FROM_BIN "")
endif()

set(ase_generated "${CMAKE_BINARY_DIR}/generated")
configure_file("${CMAKE_CURRENT_LIST_DIR}/version.h.in" "${ase_generated}/asefilter/version.h" @ONLY)
configure_file("${CMAKE_CURRENT_LIST_DIR}/install_dirs.h.in" "${ase_generated}/asefilter/install_dirs.h" @ONLY)

add_library(ase_generated_headers INTERFACE)
target_include_directories(ase_generated_headers INTERFACE "${ase_generated}")
