# cmake -P script: the API reference's configuration must fail on an undocumented public
# member. Runs doxygen with the project's Doxyfile over one header whose class is documented
# and whose member is not, and fails unless doxygen does.
set(work ${WORK_DIR}/docs-check)
file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY ${work}/include ${work}/out)
file(WRITE ${work}/include/Sample.h
  "/// A documented class.\nclass Sample {\npublic:\n    int undocumented();\n};\n")
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env QMX_DOCS_OUTPUT=${work}/out QMX_DOCS_INPUT=${work}/include
          QMX_DOCS_MAINPAGE= ${DOXYGEN} ${DOXYFILE}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(rc EQUAL 0)
  message(FATAL_ERROR "doxygen accepted an undocumented member:\n${out}\n${err}")
endif()
if(NOT err MATCHES "undocumented\\(\\).*is not documented")
  message(FATAL_ERROR "doxygen failed for another reason (${rc}):\n${out}\n${err}")
endif()
message("undocumented member refused")
