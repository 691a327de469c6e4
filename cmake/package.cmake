# What `cmake --install` puts in place, below the prefix (GNUInstallDirs):
#   lib/libprof.a, lib/libprof_hls.a        the runtime and the stream model
#   include/{prof,hls,commonProfInclude,profStub}/   the public headers
#   share/prof/stub/                         the start-up stub's sources
#   lib/cmake/prof/                          find_package(prof): targets,
#                                            version, prof.cmake, prof_*.cmake
#                                            (prof_isal.cmake finds ISA-L)
#   lib/pkgconfig/prof.pc                    for other build systems
# Every path inside the package is relative to where it was installed, so
# the installed tree can be moved.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(PROF_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/prof)

install(TARGETS prof hls prof_stub prof_package EXPORT profTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(EXPORT profTargets NAMESPACE prof:: DESTINATION ${PROF_INSTALL_CMAKEDIR})

foreach(dir libraries/commonProfInclude/include libraries/targets/prof/include
            libraries/targets/hls/include libraries/targets/profStub/include)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/${dir}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
endforeach()
install(FILES ${PROF_STUB_SOURCES} ${PROF_STUB_INCLUDE_DIR}/init.h DESTINATION ${PROF_INSTALL_STUBDIR})

# The CMake functions: prof.cmake and whatever prof_*.cmake joins it.
file(GLOB PROF_CMAKE_FUNCTIONS ${PROJECT_SOURCE_DIR}/cmake/prof.cmake ${PROJECT_SOURCE_DIR}/cmake/prof_*.cmake)
install(FILES ${PROF_CMAKE_FUNCTIONS} DESTINATION ${PROF_INSTALL_CMAKEDIR})

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/profConfig.cmake.in
  ${PROJECT_BINARY_DIR}/package/profConfig.cmake INSTALL_DESTINATION ${PROF_INSTALL_CMAKEDIR}
  PATH_VARS PROF_INSTALL_STUBDIR CMAKE_INSTALL_INCLUDEDIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/profConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/package/profConfig.cmake ${PROJECT_BINARY_DIR}/package/profConfigVersion.cmake
        DESTINATION ${PROF_INSTALL_CMAKEDIR})

# pkg-config finds the prefix from where the .pc file lies.
file(RELATIVE_PATH PROF_PC_TO_PREFIX /p/${CMAKE_INSTALL_LIBDIR}/pkgconfig /p)
configure_file(${PROJECT_SOURCE_DIR}/cmake/prof.pc.in ${PROJECT_BINARY_DIR}/package/prof.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/package/prof.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The trace reader command, when this tree has it.
if(TARGET proftrace)
  install(TARGETS proftrace RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
