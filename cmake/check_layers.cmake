# Fails when a library includes or links one above it. Run by the
# check-layers target and the check_layers test:
#   cmake -DSOURCE_DIR=<source> -DLINKS_FILE=<build>/layer_links.cmake -P check_layers.cmake
# Each folder of src/ is one library; it may include its own headers and those
# of the folders listed here (docs/ARCHITECTURE.md shows the same picture).
set(below_base "")
set(below_hive base)
set(below_indexdat base)
set(below_core base hive indexdat)
set(below_demo base hive indexdat core)
set(below_cleaner base hive indexdat core)
set(below_registry base hive indexdat core)
set(below_defrag base hive indexdat core)
set(below_tools base hive indexdat core registry)
set(below_ui base hive indexdat core cleaner registry defrag tools)
set(below_app base hive indexdat core demo cleaner registry defrag tools ui)
set(layers base hive indexdat core demo cleaner registry defrag tools ui app)
# brisko_logic bundles these for the desktop program, the CLI and the tests.
set(logic cleaner registry defrag tools core)
# Headers a library keeps to itself.
set(private_headers hive/hive_log_plan.h)
# Test folders that build on one library alone.
set(below_tests_base base support)
set(below_tests_hive base hive support)

cmake_minimum_required(VERSION 3.25)

set(problems "")

function(check_file path layer allowed)
    file(STRINGS "${SOURCE_DIR}/${path}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"[a-z]+/")
    foreach(line IN LISTS lines)
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([a-z]+)/([^\"]*)\".*" "\\1" dir "${line}")
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" header "${line}")
        if(NOT dir IN_LIST layers AND NOT dir STREQUAL "support")
            continue()  # a test's own folder, a library's subfolder
        endif()
        if(NOT dir STREQUAL layer AND NOT dir IN_LIST allowed)
            list(APPEND problems "${path} (${layer}) includes ${header}")
        elseif(header IN_LIST private_headers AND NOT dir STREQUAL layer)
            list(APPEND problems "${path} includes ${header}, which ${dir} keeps to itself")
        endif()
    endforeach()
    set(problems "${problems}" PARENT_SCOPE)
endfunction()

foreach(layer IN LISTS layers)
    file(GLOB_RECURSE files RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/src/${layer}/*.h"
         "${SOURCE_DIR}/src/${layer}/*.cpp")
    foreach(f IN LISTS files)
        check_file("${f}" "${layer}" "${below_${layer}}")
    endforeach()
endforeach()
foreach(layer base hive)
    file(GLOB_RECURSE files RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/tests/${layer}/*.h"
         "${SOURCE_DIR}/tests/${layer}/*.cpp")
    foreach(f IN LISTS files)
        check_file("${f}" "${layer}" "${below_tests_${layer}}")
    endforeach()
endforeach()

# What each library links, as the build has it (written at configure time).
if(LINKS_FILE)
    include("${LINKS_FILE}")
    foreach(layer IN LISTS layers)
        foreach(lib IN LISTS links_${layer})
            if(lib STREQUAL "brisko_logic")
                set(dirs ${logic})
            elseif(lib MATCHES "^brisko_(.+)$")
                set(dirs "${CMAKE_MATCH_1}")
            else()
                continue()
            endif()
            foreach(dir IN LISTS dirs)
                if(NOT dir STREQUAL layer AND NOT dir IN_LIST below_${layer})
                    list(APPEND problems "brisko_${layer} links brisko_${dir}")
                endif()
            endforeach()
        endforeach()
    endforeach()
endif()

if(problems)
    list(JOIN problems "\n  " text)
    message(FATAL_ERROR "A library reaches above its layer:\n  ${text}")
endif()
message(STATUS "Layers: every library includes and links only those below it")
