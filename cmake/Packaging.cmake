# Debian packages of the library (`make package`, or cpack -G DEB in a build tree):
#   libqmxdataaccess<major>  the shared libraries; Depends computed by dpkg-shlibdeps (libhdf5, libstdc++...)
#   libqmxdataaccess-dev     headers, the CMake package and the pkg-config file
#   qmx                      the command-line tool
# Install rules that name no component land in the development package (the top-level
# CMakeLists sets that default); the libraries put their versioned files in the runtime one.

set(QMX_DESCRIPTION "persistence library storing host data in HDF5 container files")

# ---- pkg-config file for hosts without CMake ------------------------------------------------
# The include directories and libraries follow the exported targets, so header moves and new
# libraries need no edit here.
function(qmx_pc_collect target out_dirs out_libs)
  set(dirs ${${out_dirs}})
  set(libs ${${out_libs}})
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY" OR type STREQUAL "STATIC_LIBRARY")
    get_target_property(name ${target} OUTPUT_NAME)
    if(NOT name)
      set(name ${target})
    endif()
    list(APPEND libs "-l${name}")
  endif()
  get_target_property(includes ${target} INTERFACE_INCLUDE_DIRECTORIES)
  if(includes)
    string(REGEX MATCHALL "\\$<INSTALL_INTERFACE:[^>]*>" installed "${includes}")
    foreach(entry IN LISTS installed)
      string(REGEX REPLACE "^\\$<INSTALL_INTERFACE:(.*)>$" "\\1" dir "${entry}")
      list(APPEND dirs "${dir}")
    endforeach()
  endif()
  get_target_property(links ${target} INTERFACE_LINK_LIBRARIES)
  if(links)
    foreach(link IN LISTS links)
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" link "${link}")
      if(link STREQUAL "Threads::Threads")
        list(APPEND libs "-pthread")
      elseif(TARGET ${link} AND NOT link MATCHES "::")
        qmx_pc_collect(${link} dirs libs)
      endif()
    endforeach()
  endif()
  set(${out_dirs} ${dirs} PARENT_SCOPE)
  set(${out_libs} ${libs} PARENT_SCOPE)
endfunction()

if(TARGET QMXDataAccess)
  set(pc_dirs)
  set(pc_libs)
  qmx_pc_collect(QMXDataAccess pc_dirs pc_libs)
  list(REMOVE_DUPLICATES pc_dirs)
  list(REMOVE_DUPLICATES pc_libs)
  set(QMX_PC_CFLAGS)
  foreach(dir IN LISTS pc_dirs)
    string(REGEX REPLACE "^${CMAKE_INSTALL_INCLUDEDIR}" "\${includedir}" dir "${dir}")
    list(APPEND QMX_PC_CFLAGS "-I${dir}")
  endforeach()
  list(JOIN QMX_PC_CFLAGS " " QMX_PC_CFLAGS)
  list(JOIN pc_libs " " QMX_PC_LIBS)
  # Relocatable: the prefix is wherever the file sits (/usr in the packages, any --prefix).
  file(RELATIVE_PATH QMX_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
  string(REGEX REPLACE "/$" "" QMX_PC_TO_PREFIX "${QMX_PC_TO_PREFIX}")
  configure_file(${CMAKE_CURRENT_LIST_DIR}/qmxdataaccess.pc.in
                 ${CMAKE_CURRENT_BINARY_DIR}/qmxdataaccess.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/qmxdataaccess.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()

# ---- CPack ---------------------------------------------------------------------------------
set(QMX_RUNTIME_PACKAGE "libqmxdataaccess${PROJECT_VERSION_MAJOR}")
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "qmxdataaccess")
set(CPACK_PACKAGE_VENDOR "Quellmar")
set(CPACK_PACKAGE_CONTACT "Quellmar QMXDataAccess maintainers <qmxdataaccess@quellmar.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Each package describes itself below (first line: its summary); a project-wide summary
# would be put in front of every one of them.
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development tool)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Debug information stays in the build tree.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION "libs")
# Depends from what the binaries link; our own libraries are found in the build tree and
# stand for the runtime package, named explicitly below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${QMX_RUNTIME_PACKAGE})
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "QMXDataAccess shared libraries
 The persistence library and the QMXL container file library over HDF5.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME "libqmxdataaccess-dev")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION "libdevel")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SHLIBDEPS OFF)
# The CMake package finds HDF5 (find_dependency), so a host building against us needs it too.
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
  "${QMX_RUNTIME_PACKAGE} (= ${PROJECT_VERSION}), libhdf5-dev")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "QMXDataAccess development files
 Headers, the CMake package (find_package(QMXDataAccess)) and a pkg-config file.")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME "qmx")
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "${QMX_RUNTIME_PACKAGE} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_TOOL_DESCRIPTION "qmx, a command-line tool for QMZ container files
 Lists, reads, writes, checks and compacts container files.")

include(CPack)

# ---- The install-and-build test -------------------------------------------------------------
# package_consumer builds and checks the packages; the two after it feed the same script a
# wrong expectation and pass only when it stops with the matching complaint.
if(QMX_BUILD_TESTS AND TARGET QMXDataAccess)
  function(qmx_package_test name runtime soversion pass)
    add_test(NAME ${name} COMMAND ${CMAKE_COMMAND}
      -DBUILD_DIR=${CMAKE_BINARY_DIR} -DWORK=${CMAKE_BINARY_DIR}/${name}
      -DEXAMPLES_DIR=${PROJECT_SOURCE_DIR}/examples
      -DGENERATOR=${CMAKE_GENERATOR} -DCXX=${CMAKE_CXX_COMPILER} -DSANITIZE=${QMX_SANITIZE}
      -DRUNTIME_PACKAGE=${runtime} -DSOVERSION=${soversion} -DCPACK=${CMAKE_CPACK_COMMAND}
      -P ${CMAKE_CURRENT_LIST_DIR}/tests/PackageTest.cmake)
    set_tests_properties(${name} PROPERTIES TIMEOUT 900 RUN_SERIAL TRUE PASS_REGULAR_EXPRESSION "${pass}")
  endfunction()
  qmx_package_test(package_consumer ${QMX_RUNTIME_PACKAGE} ${PROJECT_VERSION_MAJOR}
    "pkg-config host: .*4 values, read as float")
  qmx_package_test(package_check_finds_missing_package libqmxdataaccess-missing ${PROJECT_VERSION_MAJOR}
    "expected one libqmxdataaccess-missing package, found:.*/qmx_[^/]*[.]deb")
  qmx_package_test(package_check_finds_wrong_soname ${QMX_RUNTIME_PACKAGE} 99
    "expected to match 'SONAME")
endif()
