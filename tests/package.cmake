# The installed ERR as a firmware team uses it (tests/install_test.sh): install into a prefix
# (tools, man pages, no RUNPATH), build examples/ out of tree with find_package(ERR) and with
# pkg-config, each checked by errtable in its build, run under the installed errsim; a module
# with a faulty table fails its build through err_check_tables(). Not in the sanitizer builds
# (an outside build would need the sanitizer's flags).
#
# The Debian packages (tests/package_test.sh) are checked where make package put them
# (build/packages); the test is skipped when they have not been made.
if(NOT ERR_SANITIZE AND NOT ERR_TSAN AND TARGET errsim AND TARGET example_module)
    set(_err_toolchain "")
    if(CMAKE_TOOLCHAIN_FILE)
        get_filename_component(_err_toolchain ${CMAKE_TOOLCHAIN_FILE} ABSOLUTE BASE_DIR
                               ${PROJECT_SOURCE_DIR})
    endif()
    add_test(NAME install_out_of_tree
             COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/install_test.sh ${CMAKE_BINARY_DIR}
                     ${PROJECT_SOURCE_DIR})
    set_tests_properties(install_out_of_tree PROPERTIES TIMEOUT 300 ENVIRONMENT
        "EMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR};ERR_TOOLCHAIN_FILE=${_err_toolchain};TZ=UTC0")
endif()
if(CMAKE_SIZEOF_VOID_P EQUAL 8 AND NOT ERR_SANITIZE AND NOT ERR_TSAN)
    add_test(NAME package_files
             COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/package_test.sh ${CMAKE_BINARY_DIR}/packages
                     ${PROJECT_SOURCE_DIR})
    set_tests_properties(package_files PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)
endif()
