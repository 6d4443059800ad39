# Installation: the libraries, the public headers, the tools and the documentation; a CMake
# package (find_package(ERR): ERR::err, ERR::rtx_host) and pkg-config files (err, rtx_host) for
# firmware teams' own builds; and a Debian package (make package: CPack, DEB generator).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ERR_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ERR)

# Installed programs and libraries find the libraries beside them, wherever the prefix is
# (an unpacked .deb, a prefix in a build tree).
file(RELATIVE_PATH _err_bin_to_lib /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
foreach(tool errsim errlog errtable)
    if(TARGET ${tool})
        set_target_properties(${tool} PROPERTIES INSTALL_RPATH "$ORIGIN/${_err_bin_to_lib}")
        install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
endforeach()

set_target_properties(err PROPERTIES VERSION ${PROJECT_VERSION}.0 SOVERSION ${PROJECT_VERSION_MAJOR})
set_target_properties(rtx_host PROPERTIES VERSION ${PROJECT_VERSION}.0
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
                              PATH_VARS CMAKE_INSTALL_INCLUDEDIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/ERRConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/ERRConfig.cmake ${CMAKE_BINARY_DIR}/ERRConfigVersion.cmake
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
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples DESTINATION ${CMAKE_INSTALL_DOCDIR})

# ---- Debian package ----
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME err)
set(CPACK_PACKAGE_VENDOR "ERR developers")
set(CPACK_PACKAGE_CONTACT "ERR developers <err@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "error handling of the instrument firmware, with its host executive and tools")
set(CPACK_PACKAGE_DESCRIPTION
    "liberr (error tables, error reports, error logs, the error task), librtx_host (the \
executive on POSIX threads), the public headers, errsim (the simulator), errlog (the log tool) \
and errtable (the table checker).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# errsim and errlog need liberr and librtx_host of this very package.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
include(CPack)
