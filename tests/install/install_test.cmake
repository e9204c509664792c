# Run by CTest as `cmake -P` (see CMakeLists.txt). Every step must succeed; the
# first one that does not fails the test with its output.
function(step)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT result EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "${command}\nfailed (${result}):\n${out}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
step(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# find_package(Ravelon), found in the new prefix and nowhere else.
step(${CMAKE_COMMAND} -S ${HOST_DIR} -B ${WORK_DIR}/cmake-host -G ${GENERATOR}
     -DCMAKE_CXX_COMPILER=${CXX} "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" -DCMAKE_BUILD_TYPE=${BUILD_TYPE}
     -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF)
file(STRINGS ${WORK_DIR}/cmake-host/CMakeCache.txt found REGEX "^Ravelon_DIR:")
string(FIND "${found}" "=${prefix}/" at)
if(at EQUAL -1)
  message(FATAL_ERROR "the host found another Ravelon: ${found}")
endif()
step(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake-host)
step(${WORK_DIR}/cmake-host/ravelon_host ${WORK_DIR}/cmake-host.db)
message("${out}")

# The flags of pkg-config, static libraries and all.
set(ENV{PKG_CONFIG_PATH} ${prefix}/${LIBDIR}/pkgconfig)
step(${PKG_CONFIG} --static --cflags --libs ravelon-testing)
separate_arguments(pc_flags UNIX_COMMAND "${out}")
separate_arguments(cxx_flags UNIX_COMMAND "${CXX_FLAGS}")
step(${CXX} -std=c++20 ${cxx_flags} ${HOST_DIR}/host.cpp ${pc_flags}
     -o ${WORK_DIR}/pkg-config-host)
step(${WORK_DIR}/pkg-config-host ${WORK_DIR}/pkg-config-host.db)
message("${out}")
