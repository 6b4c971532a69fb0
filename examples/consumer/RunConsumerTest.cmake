# cmake -P script: install the build into a scratch prefix, build examples/consumer against it,
# run the result. Fails on the first step that fails.
set(work ${BUILD_DIR}/consumer-test)
file(REMOVE_RECURSE ${work})
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/tests/RunStep.cmake)
set(flags "")
if(SANITIZE)
  set(flags "-fsanitize=address,undefined")
endif()
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${work}/prefix)
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/consumer -B ${work}/build -G ${GENERATOR}
    -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_PREFIX_PATH=${work}/prefix
    -DCMAKE_CXX_FLAGS=${flags} -DCMAKE_EXE_LINKER_FLAGS=${flags})
run(${CMAKE_COMMAND} --build ${work}/build)
run(${work}/build/host_example ${work}/consumer.qmz)
set(example_output "${last_output}")
run(${work}/build/exception_types ${work})
message("${example_output}${last_output}")
