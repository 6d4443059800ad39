# Installation: the libraries, the public headers, the tools with their man pages and the
# documentation; a CMake package (find_package(ERR): ERR::err, ERR::rtx_host, the tools as
# ERR::errsim, ERR::errlog, ERR::errtable, and err_check_tables()) and pkg-config files (err,
# rtx_host) for firmware teams' own builds. The Debian packages (debian/, make package) are made
# from this installation by debhelper.
#
# Installed programs carry no RUNPATH: they find the libraries where the system's loader looks
# (the multiarch folder of a Debian package; LD_LIBRARY_PATH for a prefix elsewhere). The build
# tree's programs keep theirs, so they run uninstalled.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ERR_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ERR)
set(ERR_INSTALL_EXAMPLESDIR ${CMAKE_INSTALL_DOCDIR}/examples
    CACHE STRING "Where the example firmware module is installed (relative to the prefix)")

foreach(tool errsim errlog errtable)
    if(TARGET ${tool})
        install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
endforeach()
include(${CMAKE_CURRENT_LIST_DIR}/man_pages.cmake)

set_target_properties(err PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
set_target_properties(rtx_host PROPERTIES VERSION ${PROJECT_VERSION}
                                          SOVERSION ${PROJECT_VERSION_MAJOR})
install(TARGETS err rtx_host rtx_interface ${ERR_EXPORTED_HELPERS}
        EXPORT ERRTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT ERRTargets NAMESPACE ERR:: DESTINATION ${ERR_CMAKE_DIR})

install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/err DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/platform/include/rtx/rtx.h
              ${PROJECT_SOURCE_DIR}/platform/host/include/rtx/rtx_host.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/rtx)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/ERRConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/ERRConfig.cmake
                              INSTALL_DESTINATION ${ERR_CMAKE_DIR}
                              PATH_VARS CMAKE_INSTALL_INCLUDEDIR CMAKE_INSTALL_BINDIR
                                        CMAKE_INSTALL_LIBDIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/ERRConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/ERRConfig.cmake ${CMAKE_BINARY_DIR}/ERRConfigVersion.cmake
              ${CMAKE_CURRENT_LIST_DIR}/ERRCheckTables.cmake
        DESTINATION ${ERR_CMAKE_DIR})

# pkg-config files name their prefix relative to their own folder, so that an installation
# moved as a whole (cmake --install --prefix, an unpacked package) stays right.
file(RELATIVE_PATH _err_pc_to_prefix /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" _err_pc_to_prefix "${_err_pc_to_prefix}")
set(ERR_PC_PREFIX "\${pcfiledir}/${_err_pc_to_prefix}")
foreach(pc err rtx_host)
    file(READ ${CMAKE_CURRENT_LIST_DIR}/${pc}.pc.in _err_pc)
    string(REPLACE "@CMAKE_INSTALL_PREFIX@" "${ERR_PC_PREFIX}" _err_pc "${_err_pc}")
    string(CONFIGURE "${_err_pc}" _err_pc @ONLY)
    file(WRITE ${CMAKE_BINARY_DIR}/pkgconfig/${pc}.pc "${_err_pc}")
    install(FILES ${CMAKE_BINARY_DIR}/pkgconfig/${pc}.pc
            DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}
        PATTERN man EXCLUDE)
install(FILES ${PROJECT_SOURCE_DIR}/examples/CMakeLists.txt
              ${PROJECT_SOURCE_DIR}/examples/example_module.c
              ${PROJECT_SOURCE_DIR}/examples/example.errsim
        DESTINATION ${ERR_INSTALL_EXAMPLESDIR})
