include(GenerateExportHeader)

# Our own code builds with every warning as an error.
function(qmx_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  # GCC 12 at -O3 reports overlapping memcpy inside std::string's own operations on plain
  # string assignments and concatenations (GCC bug 105651): a false alarm, not kept as an error.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-error=restrict)
  endif()
endfunction()

# Public headers are staged here as a host sees them after installation: a host, the examples
# and the header test write #include <QMXDataAccess/QMXBlobDAO.h>. Export headers are generated
# into QMX_EXPORT_DIR for the library's own code and copied to the staged prefix as well.
set(QMX_STAGED_INCLUDE_DIR ${PROJECT_BINARY_DIR}/include)
set(QMX_EXPORT_DIR ${PROJECT_BINARY_DIR}/exports)
set_property(GLOBAL PROPERTY QMX_PUBLIC_HEADERS "")

# qmx_add_library(Name EXPORT_MACRO MACRO EXPORT_HEADER File.h SOURCES src...
#                 [INCLUDES dir...] [PUBLIC lib...] [PRIVATE lib...])
#
# One component, compiled once with hidden visibility into position-independent objects, and
# linked twice from them:
#   Name           the shared library a host links; exports only what the headers mark with
#                  MACRO. Its users see the staged (and later installed) include prefix only.
#   Name_internal  a static library with every symbol, for the tests and tools that reach
#                  internals. It sees the component's source folders (INCLUDES).
# PUBLIC and PRIVATE name dependencies. A library of this project (one made here) is linked as
# Name_internal by the internal side and as Name by the shared side, so a program links only
# one of the two graphs and never holds two copies of one component's state. Header-only
# targets of this project and outside libraries are linked the same way by both.
function(qmx_add_library name)
  cmake_parse_arguments(L "" "EXPORT_MACRO;EXPORT_HEADER" "SOURCES;INCLUDES;PUBLIC;PRIVATE" ${ARGN})
  set(objects ${name}_objects)
  add_library(${objects} OBJECT ${L_SOURCES})
  qmx_warnings(${objects})
  set_target_properties(${objects} PROPERTIES POSITION_INDEPENDENT_CODE ON
    C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)

  add_library(${name}_internal STATIC $<TARGET_OBJECTS:${objects}>)
  add_library(${name} SHARED $<TARGET_OBJECTS:${objects}>)
  set_target_properties(${name} PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}
    LINK_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/exports.map)
  target_link_options(${name} PRIVATE -Wl,--version-script=${PROJECT_SOURCE_DIR}/cmake/exports.map)

  generate_export_header(${name} EXPORT_MACRO_NAME ${L_EXPORT_MACRO}
    EXPORT_FILE_NAME ${QMX_EXPORT_DIR}/${L_EXPORT_HEADER})
  configure_file(${QMX_EXPORT_DIR}/${L_EXPORT_HEADER}
                 ${QMX_STAGED_INCLUDE_DIR}/QMXDataAccess/${L_EXPORT_HEADER} COPYONLY)
  set_property(GLOBAL APPEND PROPERTY QMX_PUBLIC_HEADERS ${L_EXPORT_HEADER})
  install(FILES ${QMX_EXPORT_DIR}/${L_EXPORT_HEADER}
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/QMXDataAccess)

  set(source_dirs ${CMAKE_CURRENT_SOURCE_DIR} ${L_INCLUDES})
  target_include_directories(${objects} PRIVATE ${source_dirs} ${QMX_EXPORT_DIR})
  target_include_directories(${name}_internal PUBLIC ${source_dirs} ${QMX_EXPORT_DIR})
  target_include_directories(${name} PUBLIC $<BUILD_INTERFACE:${QMX_STAGED_INCLUDE_DIR}>
                                            $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

  foreach(scope PUBLIC PRIVATE)
    foreach(dep IN LISTS L_${scope})
      if(TARGET ${dep}_internal)
        # Headers and compile definitions only: objects are not linked.
        target_link_libraries(${objects} PRIVATE ${dep}_internal)
        target_link_libraries(${name}_internal ${scope} ${dep}_internal)
        target_link_libraries(${name} ${scope} ${dep})
      else()
        set(dep_is_ours FALSE)
        if(TARGET ${dep})
          get_target_property(dep_is_ours ${dep} QMX_HEADER_ONLY)
        endif()
        target_link_libraries(${objects} PRIVATE ${dep})
        target_link_libraries(${name}_internal ${scope} ${dep})
        # The shared side has this project's headers in the staged prefix already.
        if(NOT dep_is_ours)
          target_link_libraries(${name} ${scope} ${dep})
        endif()
      endif()
    endforeach()
  endforeach()

  install(TARGETS ${name} EXPORT QMXDataAccessTargets
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
          RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()

# A header-only component of this project: its folder is on the internal side's include path;
# hosts get its headers from the include prefix.
function(qmx_add_header_library name)
  add_library(${name} INTERFACE)
  target_include_directories(${name} INTERFACE ${CMAKE_CURRENT_SOURCE_DIR})
  set_target_properties(${name} PROPERTIES QMX_HEADER_ONLY TRUE)
endfunction()

# Public headers: installed under include/QMXDataAccess/ and staged under the same prefix in
# the build tree. They include one another by file name only, which resolves beside them.
function(qmx_install_headers)
  foreach(header IN LISTS ARGN)
    get_filename_component(header_path ${header} ABSOLUTE)
    get_filename_component(header_name ${header} NAME)
    configure_file(${header_path} ${QMX_STAGED_INCLUDE_DIR}/QMXDataAccess/${header_name} COPYONLY)
    set_property(GLOBAL APPEND PROPERTY QMX_PUBLIC_HEADERS ${header_name})
  endforeach()
  install(FILES ${ARGN} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/QMXDataAccess)
endfunction()

# qmx_add_test(Name src... LIBS lib... [MAIN qmx_test_main]): one gtest executable whose cases
# ctest runs one by one. Without MAIN the plain gtest main is used.
function(qmx_add_test name)
  if(NOT QMX_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "MAIN;TIMEOUT" "LIBS" ${ARGN})
  add_executable(${name} ${T_UNPARSED_ARGUMENTS})
  qmx_warnings(${name})
  if(T_MAIN)
    target_link_libraries(${name} PRIVATE ${T_LIBS} ${T_MAIN} GTest::gtest)
  else()
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
    PROPERTIES TIMEOUT ${T_TIMEOUT} ENVIRONMENT "QMX_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()
