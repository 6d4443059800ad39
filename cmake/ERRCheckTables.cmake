# err_check_tables(<target> [SCRIPT <file>] [MODULES <module>...])
#
# Runs errtable on the firmware module that <target> builds, as a step of the target's build
# (POST_BUILD): every table the module registers when loaded is checked, and a finding fails the
# build with errtable's finding lines (exit status 1); a module that registers no table is a
# finding too. MODULES names modules (targets or paths) that load before it, whose tables count
# for the duplicate rules; SCRIPT adds an errsim script's define lines.
#
# Needs the ERR::errtable target: the installed errtable (find_package(ERR)), which runs with
# ERR_LIBRARY_DIR in LD_LIBRARY_PATH, or in ERR's own tree an alias of the errtable target.
function(err_check_tables target)
    cmake_parse_arguments(PARSE_ARGV 1 ARG "" "SCRIPT" "MODULES")
    if(ARG_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "err_check_tables: unknown arguments: ${ARG_UNPARSED_ARGUMENTS}")
    endif()
    if(NOT TARGET ERR::errtable)
        message(FATAL_ERROR "err_check_tables(${target}): errtable is not installed "
                            "(the Debian package err-tools holds it)")
    endif()
    set(args)
    foreach(module IN LISTS ARG_MODULES)
        if(TARGET ${module})
            list(APPEND args --module $<TARGET_FILE:${module}>)
        else()
            list(APPEND args --module ${module})
        endif()
    endforeach()
    list(APPEND args --module $<TARGET_FILE:${target}>)
    if(ARG_SCRIPT)
        get_filename_component(script ${ARG_SCRIPT} ABSOLUTE)
        list(APPEND args --script ${script})
    endif()
    # A target's file with the build's emulator, if any: a cross build (the 32-bit one) does not
    # put the file of a target named in COMMAND.
    set(errtable ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:ERR::errtable>)
    if(ERR_LIBRARY_DIR)
        set(errtable ${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${ERR_LIBRARY_DIR}
                     $<TARGET_FILE:ERR::errtable>)
    endif()
    add_custom_command(TARGET ${target} POST_BUILD
                       COMMAND ${errtable} check ${args}
                       COMMENT "errtable: checking the error tables of ${target}"
                       VERBATIM)
endfunction()
