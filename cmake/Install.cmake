# What `cmake --install` puts under the prefix:
#   bin/asehost                          the reference host
#   lib/asefilter/asefilter.so           the plug-in module, where an installed
#                                        asehost looks for it
#   include/asefilter/host_api.h         the contract a host compiles against
#   lib/cmake/asefilter/                 find_package(asefilter): the target
#                                        asefilter::host_api
#   share/asefilter/scene.schema.json    the JSON Schema of asehost's scene
#                                        dump (data a validator reads, so not
#                                        under doc/, which minimal systems drop)
#   share/man/man1/asehost.1.gz          the manual page, made from the built
#                                        asehost's own help
#   share/doc/asefilter/                 README.md, copyright (ours and the
#                                        notices of what asehost compiles in,
#                                        in Debian's machine-readable format)
#                                        and changelog.gz
# On Windows asefilter.dll and asehost.exe sit side by side at the top, where
# asehost.exe looks first, with README.txt on where the DLL goes in the host,
# LICENSES.txt (the copyright file) and scene.schema.json beside them. A cross
# build cannot run asehost, so it has no manual page.

# The folders come from cmake/Layout.cmake.

include(CMakePackageConfigHelpers)

install(TARGETS asehost RUNTIME DESTINATION "${ASE_INSTALL_BIN_DIR}")
install(TARGETS asefilter
  LIBRARY DESTINATION "${ASE_INSTALL_MODULE_DIR}"
  RUNTIME DESTINATION "${ASE_INSTALL_MODULE_DIR}")
install(FILES "${PROJECT_SOURCE_DIR}/base/host_api.h" DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/asefilter")

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

install(FILES "${PROJECT_SOURCE_DIR}/docs/scene.schema.json" DESTINATION "${ASE_INSTALL_DATA_DIR}")

if(WIN32)
  configure_file("${PROJECT_SOURCE_DIR}/packaging/windows/README.txt" "${CMAKE_BINARY_DIR}/generated/README.txt" @ONLY NEWLINE_STYLE CRLF)
  # The copyright file holds no @NAME@, so configuring only changes its line ends.
  configure_file("${PROJECT_SOURCE_DIR}/packaging/debian/copyright" "${CMAKE_BINARY_DIR}/generated/LICENSES.txt" @ONLY NEWLINE_STYLE CRLF)
  install(FILES "${CMAKE_BINARY_DIR}/generated/README.txt" "${CMAKE_BINARY_DIR}/generated/LICENSES.txt" DESTINATION .)
else()
  install(FILES "${PROJECT_SOURCE_DIR}/README.md" "${PROJECT_SOURCE_DIR}/packaging/debian/copyright"
    DESTINATION "${CMAKE_INSTALL_DOCDIR}")
endif()

if(NOT CMAKE_CROSSCOMPILING)
  # Both compressed as Debian wants them: gzip -9 without a time stamp, so
  # that the same sources give the same package.
  find_program(ASE_GZIP gzip REQUIRED)
  set(ase_man "${CMAKE_BINARY_DIR}/generated/man/asehost.1")
  set(ase_changelog "${CMAKE_BINARY_DIR}/generated/changelog")
  add_custom_command(OUTPUT "${ase_man}.gz"
    COMMAND "${CMAKE_COMMAND}" "-DASEHOST=$<TARGET_FILE:asehost>" "-DOUTPUT=${ase_man}"
      "-DVERSION=${PROJECT_VERSION}" -P "${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake"
    COMMAND "${ASE_GZIP}" -9nf "${ase_man}"
    DEPENDS asehost "${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake"
    COMMENT "Writing the manual page asehost.1 from asehost's help"
    VERBATIM)
  add_custom_command(OUTPUT "${ase_changelog}.gz"
    COMMAND "${CMAKE_COMMAND}" -E copy "${PROJECT_SOURCE_DIR}/packaging/debian/changelog" "${ase_changelog}"
    COMMAND "${ASE_GZIP}" -9nf "${ase_changelog}"
    DEPENDS "${PROJECT_SOURCE_DIR}/packaging/debian/changelog"
    VERBATIM)
  add_custom_target(ase_package_docs ALL DEPENDS "${ase_man}.gz" "${ase_changelog}.gz")
  install(FILES "${ase_man}.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
  install(FILES "${ase_changelog}.gz" DESTINATION "${CMAKE_INSTALL_DOCDIR}")
endif()
