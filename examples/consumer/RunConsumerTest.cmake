# cmake -P script: install the build into a scratch prefix, build examples/consumer against it,
# run the result. Fails on the first step that fails.
set(work ${BUILD_DIR}/consumer-test)
file(REMOVE_RECURSE ${work})
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()
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
