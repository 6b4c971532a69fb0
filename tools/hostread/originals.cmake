# Writes the two originals of the campaign into DIR: a `qmx demo` file and the large container
# with its manifest. Run with cmake -DQMX=... -DGENERATE=... -DDIR=... -P originals.cmake
file(MAKE_DIRECTORY ${DIR})
file(REMOVE ${DIR}/demo.qmz ${DIR}/large.qmz ${DIR}/large.manifest)
execute_process(COMMAND ${QMX} demo ${DIR}/demo.qmz RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "qmx demo failed: ${rc}")
endif()
execute_process(COMMAND ${GENERATE} ${DIR}/large.qmz ${DIR}/large.manifest RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "qmx_hostread_generate failed: ${rc}")
endif()
