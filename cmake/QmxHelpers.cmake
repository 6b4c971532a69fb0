# Our own code builds with every warning as an error.
function(qmx_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# A library of this project: warnings on, installed and exported.
function(qmx_add_library name kind)
  add_library(${name} ${kind} ${ARGN})
  qmx_warnings(${name})
  set_target_properties(${name} PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  install(TARGETS ${name} EXPORT QMXDataAccessTargets
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
          RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()

function(qmx_install_headers)
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
