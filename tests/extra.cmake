# A C99 module compiled strictly against the public headers, registering and finding a table.
add_executable(c99_headers ${CMAKE_CURRENT_SOURCE_DIR}/c99_headers.c)
set_target_properties(c99_headers PROPERTIES C_STANDARD 99 C_STANDARD_REQUIRED ON
                                             C_EXTENSIONS OFF)
target_compile_options(c99_headers PRIVATE -std=c99 -pedantic-errors -Wall -Wextra -Werror)
target_link_libraries(c99_headers PRIVATE err rtx_host)
add_test(NAME c99_headers COMMAND c99_headers)

# ---- errsim, errlog and errtable ----
# The tool tests link the tools' pure parts; the script cases (tests/cases/NAME.errsim against
# NAME.out, see tests/errsim_tools.sh) run the tools themselves, one test each.
if(TARGET errsim_events_test AND TARGET errsim_core)
    target_link_libraries(errsim_events_test PRIVATE errsim_core)
endif()
if(TARGET errlog_view_test AND TARGET errlog_core)
    target_link_libraries(errlog_view_test PRIVATE errlog_core)
endif()
if(TARGET errlog_fleet_test AND TARGET errlog_core)
    find_package(nlohmann_json 3 REQUIRED)
    target_link_libraries(errlog_fleet_test PRIVATE errlog_core nlohmann_json::nlohmann_json)
endif()
if(TARGET report_page_test AND TARGET errlog_report)
    find_package(nlohmann_json 3 REQUIRED)
    target_link_libraries(report_page_test PRIVATE errlog_report nlohmann_json::nlohmann_json)
endif()
if(TARGET errsim AND TARGET errlog AND TARGET errtable AND TARGET example_module)
    file(GLOB case_scripts CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/cases/*.errsim)
    foreach(script ${case_scripts})
        get_filename_component(name ${script} NAME_WE)
        add_test(NAME errsim_case_${name}
                 COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/errsim_tools.sh errsim_case_${name}
                         $<TARGET_FILE_DIR:errsim> $<TARGET_FILE_DIR:example_module>
                         ${CMAKE_CURRENT_SOURCE_DIR}/cases)
        set_tests_properties(errsim_case_${name} PROPERTIES TIMEOUT 120
                             ENVIRONMENT "EMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR};TZ=UTC0")
    endforeach()
endif()
# ---- Reliability ----
# Crash consistency, short: errsim killed 20 times while archiving (scripts/crash-consistency;
# the long run is scripts/long-runs).
if(TARGET errsim AND TARGET errlog)
    add_test(NAME crash_consistency_short
             COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/crash-consistency 20 --seed 2026
                     --max-delay 300 --bin $<TARGET_FILE_DIR:errsim>)
    set_tests_properties(crash_consistency_short PROPERTIES TIMEOUT 300
                         ENVIRONMENT "EMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR};TZ=UTC0")
endif()
# Power cuts, short workload: a cut at every file-changing call of errsim's run, and torn
# writes, each followed by a start (scripts/power-cut; the full workload is in
# scripts/long-runs). Not under an emulator or a sanitizer: the sweep starts errsim thousands
# of times.
if(TARGET errsim AND TARGET errlog AND NOT CMAKE_CROSSCOMPILING_EMULATOR AND NOT ERR_SANITIZE
   AND NOT ERR_TSAN)
    add_test(NAME power_cut_short
             COMMAND python3 ${PROJECT_SOURCE_DIR}/scripts/power-cut --small
                     --bin $<TARGET_FILE_DIR:errsim>)
    set_tests_properties(power_cut_short PROPERTIES TIMEOUT 600 ENVIRONMENT "TZ=UTC0")
endif()
# ---- The shared library's surface ----
# liberr.so exports only the public functions and the executive's entry points, needs no host
# executive, the programs that load it hold no module of their own, and the tests, which hold
# the module, do not load it.
set(surface_programs $<TARGET_FILE:c99_headers>)
foreach(program errsim example_module)
    if(TARGET ${program})
        list(APPEND surface_programs $<TARGET_FILE:${program}>)
    endif()
endforeach()
list(APPEND surface_programs --)
foreach(src ${TEST_SOURCES})
    get_filename_component(name ${src} NAME_WE)
    list(APPEND surface_programs $<TARGET_FILE:${name}>)
endforeach()
add_test(NAME library_surface
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/library_surface.sh $<TARGET_FILE:err>
                 ${PROJECT_SOURCE_DIR}/include/err ${PROJECT_SOURCE_DIR}/platform/include/rtx/rtx.h
                 ${surface_programs})
# ---- errtable ----
# Firmware modules with faulty tables for the checker's test (tests/errtable).
if(TARGET errtable)
    foreach(m faults_module no_end_module)
        add_library(errtable_${m} SHARED ${CMAKE_CURRENT_SOURCE_DIR}/errtable/${m}.c)
        target_link_libraries(errtable_${m} PRIVATE err)
    endforeach()
endif()
# ---- README ----
# The README's C example builds as it stands, copied out of the README.
separate_arguments(readme_c_flags UNIX_COMMAND "${CMAKE_C_FLAGS}")
add_test(NAME readme_example
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/readme_example.sh ${PROJECT_SOURCE_DIR}/README.md
                 ${PROJECT_SOURCE_DIR}/include $<TARGET_FILE_DIR:err> ${CMAKE_C_COMPILER}
                 ${readme_c_flags})
if(TARGET errtable)
    set_tests_properties(readme_example PROPERTIES ENVIRONMENT
                         "ERRTABLE=$<TARGET_FILE:errtable>;EMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}")
endif()
# ---- The report page in a browser (make test-browser, tests/browser) ----
# The benchmark's fleet generator, built here too so that the browser test needs no benchmark
# libraries.
if(EXISTS ${PROJECT_SOURCE_DIR}/bench/fleet_gen.cpp AND TARGET errlog_core)
    add_executable(report_fleet_gen ${PROJECT_SOURCE_DIR}/bench/fleet_gen.cpp)
    target_link_libraries(report_fleet_gen PRIVATE errlog_core)
endif()
