# The public surface as a whole, after every component added its part: the staged include
# prefix holds exactly the public headers, the shared libraries export exactly the marked API
# (checked in the test suite), and `docs` builds the API reference from the public headers.

# Headers dropped from the public set leave the staged prefix too.
get_property(qmx_public_headers GLOBAL PROPERTY QMX_PUBLIC_HEADERS)
file(GLOB qmx_staged RELATIVE ${QMX_STAGED_INCLUDE_DIR}/QMXDataAccess ${QMX_STAGED_INCLUDE_DIR}/QMXDataAccess/*)
foreach(staged IN LISTS qmx_staged)
  if(NOT staged IN_LIST qmx_public_headers)
    file(REMOVE ${QMX_STAGED_INCLUDE_DIR}/QMXDataAccess/${staged})
  endif()
endforeach()

if(QMX_BUILD_TESTS)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  set(check ${PROJECT_SOURCE_DIR}/scripts/check_exports.py)
  add_test(NAME Exports.CheckerCatchesStrays
           COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/scripts/test_check_exports.py)
  # Per library: what a host must find besides the classes' members.
  set(qmx_required_QMRService_Logging "Quellmar::resetLogSink()")
  set(qmx_required_QMRService_ExceptionHandling "typeinfo for Quellmar::QmException")
  set(qmx_required_QMRService_FileHandling "Quellmar::FileUtilities::linkCount(Quellmar::FileName const&)")
  set(qmx_required_Persistence_DataAccessInterface "typeinfo for Quellmar::TransactionStack"
      "typeinfo for Quellmar::DataSourceException")
  set(qmx_required_Persistence_QMXDataAccess
      "typeinfo for Quellmar::HDFException" "typeinfo for Quellmar::DataSourceException"
      "typeinfo for Quellmar::DataAccessViolationException" "typeinfo for Quellmar::InvalidTransaction"
      "typeinfo for Quellmar::QminvalidArgument" "typeinfo for Quellmar::QMXBlobDAO"
      "Quellmar::QMXPersistentStorage::s_drivers[abi:cxx11]" "Quellmar::QMXPersistentStorage::s_lock")
  foreach(lib QMRService_Logging QMRService_ExceptionHandling QMRService_FileHandling
              Persistence_DataAccessInterface Persistence_QmxFile Persistence_QMXDataAccess)
    if(NOT TARGET ${lib})
      continue()
    endif()
    set(args)
    foreach(symbol IN LISTS qmx_required_${lib})
      list(APPEND args --require ${symbol})
    endforeach()
    # The shared siblings it links are loaded, not copied in.
    get_target_property(deps ${lib} LINK_LIBRARIES)
    foreach(dep IN LISTS deps)
      if(TARGET ${dep} AND TARGET ${dep}_internal)
        list(APPEND args --needs lib${dep}.so)
      endif()
    endforeach()
    if(lib STREQUAL "Persistence_QmxFile")
      list(APPEND args --c-header ${PROJECT_SOURCE_DIR}/Platform/Core/Persistence/QmxFile/QMXL.h)
    endif()
    add_test(NAME Exports.${lib} COMMAND Python3::Interpreter ${check} ${args} $<TARGET_FILE:${lib}>)
  endforeach()
endif()

# API reference of the staged public headers: `cmake --build <tree> --target docs` (`make docs`).
# Warnings, an undocumented public member above all, fail the target.
find_program(QMX_DOXYGEN doxygen)
if(QMX_DOXYGEN)
  add_custom_target(docs
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${PROJECT_BINARY_DIR}/docs
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/docs
    COMMAND ${CMAKE_COMMAND} -E env QMX_DOCS_OUTPUT=${PROJECT_BINARY_DIR}/docs
            QMX_DOCS_INPUT=${QMX_STAGED_INCLUDE_DIR}/QMXDataAccess
            QMX_DOCS_MAINPAGE=${PROJECT_SOURCE_DIR}/docs/ApiReference.md
            ${QMX_DOXYGEN} ${PROJECT_SOURCE_DIR}/Doxyfile
    COMMAND ${CMAKE_COMMAND} -E echo "API reference: ${PROJECT_BINARY_DIR}/docs/html/index.html"
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    COMMENT "API reference of the public headers"
    VERBATIM)
  if(QMX_BUILD_TESTS)
    add_test(NAME ApiReference.BuildsWithoutWarnings
             COMMAND ${CMAKE_COMMAND} --build ${PROJECT_BINARY_DIR} --target docs)
    set_tests_properties(ApiReference.BuildsWithoutWarnings PROPERTIES RUN_SERIAL TRUE)
    add_test(NAME ApiReference.UndocumentedMemberFails
             COMMAND ${CMAKE_COMMAND} -DWORK_DIR=${PROJECT_BINARY_DIR} -DDOXYGEN=${QMX_DOXYGEN}
                     -DDOXYFILE=${PROJECT_SOURCE_DIR}/Doxyfile -P ${PROJECT_SOURCE_DIR}/cmake/CheckDocsFail.cmake)
    set_tests_properties(ApiReference.UndocumentedMemberFails PROPERTIES
                         PASS_REGULAR_EXPRESSION "undocumented member refused")
  endif()
endif()
