# The installed package as a firmware team uses it (tests/install_test.sh): install into a
# prefix and build examples/ out of tree with find_package(ERR) and with pkg-config; the .deb
# built, unpacked and its demo run. Not in the sanitizer build (an outside build would need the
# sanitizer's flags); the package only where the host can make one.
if(NOT ERR_SANITIZE AND NOT ERR_TSAN AND TARGET errsim AND TARGET example_module)
    set(_err_toolchain "")
    if(CMAKE_TOOLCHAIN_FILE)
        get_filename_component(_err_toolchain ${CMAKE_TOOLCHAIN_FILE} ABSOLUTE BASE_DIR
                               ${PROJECT_SOURCE_DIR})
    endif()
    add_test(NAME install_out_of_tree
             COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/install_test.sh install ${CMAKE_BINARY_DIR}
                     ${PROJECT_SOURCE_DIR})
    set_tests_properties(install_out_of_tree PROPERTIES TIMEOUT 300 ENVIRONMENT
        "EMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR};ERR_TOOLCHAIN_FILE=${_err_toolchain};TZ=UTC0")
    find_program(ERR_DPKG_SHLIBDEPS dpkg-shlibdeps)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8 AND ERR_DPKG_SHLIBDEPS)
        add_test(NAME package_deb
                 COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/install_test.sh package ${CMAKE_BINARY_DIR}
                         ${PROJECT_SOURCE_DIR})
        set_tests_properties(package_deb PROPERTIES TIMEOUT 300 ENVIRONMENT "TZ=UTC0")
    endif()
endif()
