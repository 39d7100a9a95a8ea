# CPack: a Debian package from a native build, a zip from the Windows cross
# build. Both hold what `cmake --install` puts under the prefix.
#   cpack --config build/<preset>/CPackConfig.cmake -B build/<preset>/packages

set(CPACK_PACKAGE_NAME "asefilter")
set(CPACK_PACKAGE_VENDOR "asefilter developers")
set(CPACK_PACKAGE_CONTACT "asefilter developers <asefilter@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ASCII Scene Export (.ase) file filter plug-in and its reference host asehost")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_STRIP_FILES ON)
set(CPACK_VERBATIM_VARIABLES ON)

if(WIN32)
  set(CPACK_GENERATOR "ZIP")
  set(CPACK_SYSTEM_NAME "windows-x64")
  # The files at the top of the archive, not under asefilter-<version>/.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  set(CPACK_GENERATOR "DEB")
  set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION "graphics")
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "The plug-in module (/usr/lib/asefilter/asefilter.so), the asehost tool that\n"
    "loads it to inspect, import, export and convert .ase files, and the host\n"
    "contract header <asefilter/host_api.h> with its CMake package (asefilter).")
  string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
  find_program(ASE_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(ASE_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
  endif()
endif()

include(CPack)
