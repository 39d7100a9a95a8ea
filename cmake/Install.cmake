# What `cmake --install` puts under the prefix:
#   bin/asehost                          the reference host
#   lib/asefilter/asefilter.so           the plug-in module, where an installed
#                                        asehost looks for it
#   include/asefilter/host_api.h         the contract a host compiles against
#   lib/cmake/asefilter/                 find_package(asefilter): the target
#                                        asefilter::host_api
# On Windows asefilter.dll and asehost.exe sit side by side at the top, where
# asehost.exe looks first, with a README on where the DLL goes in the host.

# The folders come from cmake/Layout.cmake.

include(CMakePackageConfigHelpers)

install(TARGETS asehost RUNTIME DESTINATION "${ASE_INSTALL_BIN_DIR}")
install(TARGETS asefilter
  LIBRARY DESTINATION "${ASE_INSTALL_MODULE_DIR}"
  RUNTIME DESTINATION "${ASE_INSTALL_MODULE_DIR}")
install(FILES "${PROJECT_SOURCE_DIR}/plugin/host_api.h" DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/asefilter")

# The contract as a CMake target: the header's folder and nothing to link.
add_library(ase_host_api INTERFACE)
set_target_properties(ase_host_api PROPERTIES EXPORT_NAME host_api)
target_include_directories(ase_host_api INTERFACE "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>")
target_compile_features(ase_host_api INTERFACE cxx_std_11)
install(TARGETS ase_host_api EXPORT asefilterTargets)
install(EXPORT asefilterTargets NAMESPACE asefilter:: DESTINATION "${ASE_INSTALL_CMAKE_DIR}")

configure_package_config_file("${CMAKE_CURRENT_LIST_DIR}/asefilterConfig.cmake.in"
  "${CMAKE_BINARY_DIR}/generated/asefilterConfig.cmake"
  INSTALL_DESTINATION "${ASE_INSTALL_CMAKE_DIR}"
  PATH_VARS ASE_INSTALL_MODULE_DIR)
write_basic_package_version_file("${CMAKE_BINARY_DIR}/generated/asefilterConfigVersion.cmake"
  VERSION "${PROJECT_VERSION}" COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES
  "${CMAKE_BINARY_DIR}/generated/asefilterConfig.cmake"
  "${CMAKE_BINARY_DIR}/generated/asefilterConfigVersion.cmake"
  DESTINATION "${ASE_INSTALL_CMAKE_DIR}")

if(WIN32)
  configure_file("${PROJECT_SOURCE_DIR}/packaging/windows/README.txt" "${CMAKE_BINARY_DIR}/generated/README.txt" @ONLY NEWLINE_STYLE CRLF)
  install(FILES "${CMAKE_BINARY_DIR}/generated/README.txt" DESTINATION .)
else()
  install(FILES "${PROJECT_SOURCE_DIR}/README.md" DESTINATION "${CMAKE_INSTALL_DOCDIR}")
endif()
