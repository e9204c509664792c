# What `cmake --install` puts under the prefix: the public headers, the two
# static libraries, a CMake package (find_package(Ravelon) gives
# Ravelon::ravelon and Ravelon::testing) and pkg-config files (ravelon,
# ravelon-testing). The packages are relocatable: they find the prefix from
# their own place, so `cmake --install --prefix` can pick it at install time.
include(CMakePackageConfigHelpers)

set(RAVELON_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Ravelon)

install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/ravelon
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        FILES_MATCHING PATTERN "*.h")
install(TARGETS ravelon ravelon_testing EXPORT RavelonTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
if(TARGET ravelon_command)
  install(TARGETS ravelon_command RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(EXPORT RavelonTargets NAMESPACE Ravelon:: DESTINATION ${RAVELON_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/RavelonConfig.cmake.in
  ${PROJECT_BINARY_DIR}/RavelonConfig.cmake INSTALL_DESTINATION ${RAVELON_CMAKE_DIR})
# 0.x: a new minor version may change the interface.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/RavelonConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/RavelonConfig.cmake
              ${PROJECT_BINARY_DIR}/RavelonConfigVersion.cmake
        DESTINATION ${RAVELON_CMAKE_DIR})

# The .pc files name the prefix relative to their own folder (${pcfiledir}),
# one ".." per component of <libdir>/pkgconfig.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(RAVELON_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  string(REGEX REPLACE "[^/]+" ".." RAVELON_PC_PREFIX "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
  set(RAVELON_PC_PREFIX "\${pcfiledir}/${RAVELON_PC_PREFIX}")
endif()
foreach(pc ravelon ravelon-testing)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()
