# The tools' man pages, written once in Markdown beside the documentation (docs/man/TOOL.1.md)
# and converted with pandoc at build time into build/man/TOOL.1; installed with the tools.
find_program(ERR_PANDOC pandoc)
if(NOT ERR_PANDOC)
    message(FATAL_ERROR "pandoc is needed for the man pages (scripts/install-deps installs it)")
endif()
set(ERR_MAN_PAGES)
foreach(tool errsim errlog errtable)
    string(TOUPPER ${tool} title)
    set(page ${CMAKE_BINARY_DIR}/man/${tool}.1)
    add_custom_command(OUTPUT ${page}
                       COMMAND ${ERR_PANDOC} --standalone --from markdown --to man
                               --metadata title=${title} --metadata section=1
                               --metadata "footer=ERR ${PROJECT_VERSION}"
                               --metadata "header=ERR tools"
                               ${PROJECT_SOURCE_DIR}/docs/man/${tool}.1.md --output ${page}
                       DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/${tool}.1.md
                       COMMENT "pandoc: man page ${tool}(1)"
                       VERBATIM)
    list(APPEND ERR_MAN_PAGES ${page})
endforeach()
add_custom_target(man_pages ALL DEPENDS ${ERR_MAN_PAGES})
install(FILES ${ERR_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
