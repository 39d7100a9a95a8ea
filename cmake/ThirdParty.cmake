# The header-only libraries asehost and the tests use, found through the CMake
# package configs the distribution ships (nlohmann-json3-dev, libcli11-dev).
#
# A cross build searches only its target root, where these packages are not:
# their configs are read from the build machine's prefix instead (they hold
# headers only, nothing built for the build machine). Their include folder is
# that prefix's whole include tree, which must not reach a mingw compile (its
# C library headers would shadow the target's), so a cross build compiles
# against a folder of the build tree that holds just these libraries' own
# header folders, taken from where the package config points.

set(ASE_HEADER_ONLY_PREFIX "/usr" CACHE PATH
  "Cross builds: the build machine's prefix holding the nlohmann_json and CLI11 package configs")

if(CMAKE_CROSSCOMPILING)
  set(ase_header_only_find PATHS "${ASE_HEADER_ONLY_PREFIX}" NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
else()
  set(ase_header_only_find)
endif()

find_package(nlohmann_json 3 CONFIG REQUIRED ${ase_header_only_find})
find_package(CLI11 2 CONFIG REQUIRED ${ase_header_only_find})

if(CMAKE_CROSSCOMPILING)
  set(ase_header_view "${CMAKE_BINARY_DIR}/header-only-include")
  # target: its own header folder (relative to the package's include dir)
  foreach(entry "nlohmann_json::nlohmann_json=nlohmann" "CLI11::CLI11=CLI")
    string(REPLACE "=" ";" entry "${entry}")
    list(GET entry 0 target)
    list(GET entry 1 folder)
    get_target_property(dirs ${target} INTERFACE_INCLUDE_DIRECTORIES)
    set(found "")
    foreach(dir IN LISTS dirs)
      if(IS_DIRECTORY "${dir}/${folder}")
        set(found "${dir}/${folder}")
        break()
      endif()
    endforeach()
    if(NOT found)
      message(FATAL_ERROR "${target}: no ${folder}/ under its include directories (${dirs})")
    endif()
    # A copy, refreshed at every configure, rather than a link into the
    # build machine's tree.
    file(REMOVE_RECURSE "${ase_header_view}/${folder}")
    file(COPY "${found}" DESTINATION "${ase_header_view}")
    set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${ase_header_view}")
  endforeach()
endif()
