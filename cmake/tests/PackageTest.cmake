# cmake -P script: build the Debian packages of the build tree with cpack, unpack them into a
# scratch root as dpkg would lay them out (dpkg-deb -x), then build the example host against
# that root twice, with find_package and with pkg-config, and run both; also run the packaged
# qmx. Fails on the first step that fails.
set(work ${WORK})
set(root ${work}/root)
file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY ${root})

include(${CMAKE_CURRENT_LIST_DIR}/RunStep.cmake)

function(expect text pattern what)
  if(NOT "${text}" MATCHES "${pattern}")
    message(FATAL_ERROR "${what}: expected to match '${pattern}', got:\n${text}")
  endif()
endfunction()

set(flags "")
if(SANITIZE)
  set(flags "-fsanitize=address,undefined")
endif()

# 1. The packages, with the Depends each declares.
run(${CPACK} --config ${BUILD_DIR}/CPackConfig.cmake -B ${work}/out)
foreach(package ${RUNTIME_PACKAGE} libqmxdataaccess-dev qmx)
  file(GLOB deb ${work}/out/${package}_*.deb)
  list(LENGTH deb count)
  if(NOT count EQUAL 1)
    file(GLOB all ${work}/out/*.deb)
    message(FATAL_ERROR "expected one ${package} package, found: ${all}")
  endif()
  run(dpkg-deb -f ${deb} Depends)
  string(STRIP "${last_output}" depends)
  message("${package} Depends: ${depends}")
  set(depends_${package} "${depends}")
  run(dpkg-deb -x ${deb} ${root})
endforeach()
# The libraries link HDF5, so the runtime package must pull it in; the others need the runtime.
expect("${depends_${RUNTIME_PACKAGE}}" "libhdf5" "runtime Depends")
expect("${depends_libqmxdataaccess-dev}" "${RUNTIME_PACKAGE} \\(=" "development Depends")
expect("${depends_libqmxdataaccess-dev}" "libhdf5-dev" "development Depends")
expect("${depends_qmx}" "${RUNTIME_PACKAGE} \\(=" "tool Depends")

# 2. Every shared library carries the major version as its SONAME; the unversioned name is only
#    in the development package, which is where the linker looks for it.
file(GLOB_RECURSE libraries ${root}/usr/lib/lib*.so.*)
set(sonamed 0)
foreach(library ${libraries})
  if(IS_SYMLINK ${library})
    continue()
  endif()
  get_filename_component(name ${library} NAME)
  string(REGEX REPLACE "\\.so\\..*" "" stem "${name}")
  run(objdump -p ${library})
  expect("${last_output}" "SONAME +${stem}\\.so\\.${SOVERSION}\n" "${name}")
  math(EXPR sonamed "${sonamed} + 1")
endforeach()
if(sonamed EQUAL 0)
  message(FATAL_ERROR "no versioned shared library in the runtime package")
endif()
file(GLOB runtime_deb ${work}/out/${RUNTIME_PACKAGE}_*.deb)
run(dpkg-deb -c ${runtime_deb})
if(last_output MATCHES "\\.so -> |\\.so\n|/include/")
  message(FATAL_ERROR "the runtime package holds development files:\n${last_output}")
endif()

# 3. A host project with CMake: find_package(QMXDataAccess) from the unpacked root.
run(${CMAKE_COMMAND} -S ${EXAMPLES_DIR}/consumer -B ${work}/cmake-host -G ${GENERATOR}
    -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_PREFIX_PATH=${root}/usr
    -DCMAKE_CXX_FLAGS=${flags} -DCMAKE_EXE_LINKER_FLAGS=${flags})
run(${CMAKE_COMMAND} --build ${work}/cmake-host)
run(${work}/cmake-host/host_example ${work}/cmake-host.qmz)
string(STRIP "${last_output}" cmake_host)
message("CMake host: ${cmake_host}")

# 4. A host without CMake: compile and link with what pkg-config says.
file(GLOB_RECURSE pc_file ${root}/usr/*/qmxdataaccess.pc)
if(NOT pc_file)
  message(FATAL_ERROR "the development package has no qmxdataaccess.pc")
endif()
get_filename_component(pc_dir ${pc_file} DIRECTORY)
set(ENV{PKG_CONFIG_PATH} ${pc_dir})
set(ENV{PKG_CONFIG_LIBDIR} ${pc_dir})
run(pkg-config --cflags --libs qmxdataaccess)
string(STRIP "${last_output}" pc_flags)
separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")
# Every directory it names lies in the unpacked root and exists there.
set(pc_dirs 0)
foreach(flag ${pc_flags})
  if(flag MATCHES "^-[IL](.*)")
    if(NOT IS_DIRECTORY "${CMAKE_MATCH_1}" OR NOT CMAKE_MATCH_1 MATCHES "^${root}/")
      message(FATAL_ERROR "pkg-config names a directory outside the packages: ${flag}")
    endif()
    math(EXPR pc_dirs "${pc_dirs} + 1")
  endif()
endforeach()
if(pc_dirs LESS 2)
  message(FATAL_ERROR "pkg-config names no include or library directory: ${pc_flags}")
endif()
separate_arguments(extra UNIX_COMMAND "${flags}")
run(${CXX} -std=c++20 ${extra} ${EXAMPLES_DIR}/host_example.cpp ${pc_flags} -o ${work}/pc-host)
set(ENV{LD_LIBRARY_PATH} ${root}/usr/lib)
run(${work}/pc-host ${work}/pc-host.qmz)
string(STRIP "${last_output}" pc_host)
message("pkg-config host: ${pc_host}")

# 5. The packaged tool finds the packaged libraries on its own.
unset(ENV{LD_LIBRARY_PATH})
run(${root}/usr/bin/qmx check ${work}/pc-host.qmz)
message("${last_output}")
