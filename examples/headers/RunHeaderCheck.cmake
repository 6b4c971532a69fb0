# cmake -P script: install the build into a scratch prefix, then compile every installed
# header alone (examples/headers). The installed set must be the staged set of the build tree.
set(work ${BUILD_DIR}/header-check)
file(REMOVE_RECURSE ${work})
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/tests/RunStep.cmake)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${work}/prefix)
set(installed_dir ${work}/prefix/include/QMXDataAccess)
file(GLOB installed RELATIVE ${installed_dir} ${installed_dir}/*)
file(GLOB staged RELATIVE ${STAGED_DIR} ${STAGED_DIR}/*)
list(SORT installed)
list(SORT staged)
if(NOT installed STREQUAL staged)
  message(FATAL_ERROR "installed headers differ from the staged ones:\n  installed: ${installed}\n  staged: ${staged}")
endif()
# Nothing of the project may land beside the prefix directory: a host's own "Logging.h" must
# not be shadowed.
file(GLOB stray ${work}/prefix/include/*.h)
if(stray)
  message(FATAL_ERROR "headers installed outside include/QMXDataAccess: ${stray}")
endif()
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/headers -B ${work}/build -G ${GENERATOR}
    -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_C_COMPILER=${CC} -DCMAKE_PREFIX_PATH=${work}/prefix
    -DHEADER_DIR=${installed_dir})
run(${CMAKE_COMMAND} --build ${work}/build)
list(LENGTH installed count)
message("${count} installed headers compile alone")
